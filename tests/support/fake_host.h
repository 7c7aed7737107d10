// A window for the engine alone: it records what the engine shows, answers
// its questions from a script and holds the batch's list, so that the
// engine runs and is checked without the window model.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "batch/store.h"
#include "engine/host.h"
#include "platform/platform.h"

namespace qm::test {

class FakeHost : public engine::Host, public batch::Window {
public:
    // What a file list was shown: a read of its path, or (with no files)
    // only the path before it is read.
    struct Shown {
        engine::Side side;
        std::string path;
        std::vector<std::string> files;
        bool failed = false;
    };
    struct Tree {
        engine::Side side;
        std::string path;
        std::vector<std::string> subdirectories;
    };

    // -- engine::Host
    void showDrives(const engine::Pair& pair) override { drives.push_back(pair); }
    void showTree(engine::Side side, const std::string& path,
                  const std::vector<std::string>& subdirectories) override {
        trees.push_back({side, path, subdirectories});
    }
    void showFiles(engine::Side side, const engine::DirRead& read) override {
        files.push_back({side, read.path, read.files->names(), read.error.has_value()});
    }
    void showCounts(const std::string& source, const std::string& target) override {
        counts.push_back(source + "|" + target);
    }
    void showProgress(const engine::Progress& p) override {
        progress.push_back(p);
        if (p.visible && (p.value < 0 || p.value >= p.max)) progressOutOfRange = true;
    }
    void showBusy(engine::Busy what, bool on) override {
        busy.push_back(std::string(what == engine::Busy::run ? "run " : "listing ") +
                       (on ? "on" : "off"));
    }
    bool checked(engine::Option option) override {
        switch (option) {
            case engine::Option::confirm:
                return confirm;
            case engine::Option::move:
                return move;
            case engine::Option::subs:
                return subs;
            case engine::Option::log:
                return log;
        }
        return false;
    }
    void setSubsChecked(bool on) override { subs = on; }
    void yield() override {
        ++yields;
        if (onYield) onYield();
    }
    bool ask(const std::string& text) override {
        asked.push_back(text);
        if (answers.empty()) return false;
        const bool a = answers.front();
        answers.pop_front();
        return a;
    }
    void inform(const std::string& text) override { told.push_back(text); }
    void pause(unsigned) override {}
    os::LocalTime now() override { return {2026, 4, 3, 5, 6, 7}; }
    bool ending() override { return ended; }

    // -- batch::Window
    void notice(const std::string&, const std::string& text) override { told.push_back(text); }
    void showFirstEntry(const std::string& source, const std::string& target) override {
        firstEntry = {source, target};
    }
    void setSubsValue(const std::string&) override {}
    void clearList() override { list.clear(); }
    void addListItem(const std::string& item) override { list.push_back(item); }
    std::string startDirectory() override { return startDir; }

    // The file lists shown at path, on a side, in turn.
    std::vector<Shown> shownAt(engine::Side side, const std::string& path) const {
        std::vector<Shown> out;
        for (const auto& s : files)
            if (s.side == side && os::with_separator(s.path) == os::with_separator(path))
                out.push_back(s);
        return out;
    }

    bool confirm = false, move = false, subs = true, log = false;
    bool ended = false;
    int yields = 0;
    std::function<void()> onYield;
    std::deque<bool> answers;
    std::vector<std::string> asked, told;

    std::vector<engine::Pair> drives;
    std::vector<Tree> trees;
    std::vector<Shown> files;
    std::vector<std::string> counts;
    std::vector<engine::Progress> progress;
    bool progressOutOfRange = false;
    std::vector<std::string> busy;
    engine::Pair firstEntry;
    std::vector<std::string> list;
    std::string startDir = ".";
};

}  // namespace qm::test
