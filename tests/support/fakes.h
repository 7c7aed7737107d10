// Scripted stand-ins for the services Form1 takes: message boxes with
// queued answers, a notification area, an event pump with a hook, a sleeper and a clock that do
// not wait, and an Os whose program directory is a test's directory.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "support/forwarding_os.h"
#include "ui/form1.h"

namespace qm::test {

struct Box {
    std::string kind;  // "notice" or "ask"
    std::string title;
    std::string text;
};

class FakeDialogs : public ui::Dialogs {
public:
    void notice(const std::string& title, const std::string& text) override {
        boxes.push_back({"notice", title, text});
        if (onBox) onBox();
    }
    bool ask(const std::string& title, const std::string& text) override {
        boxes.push_back({"ask", title, text});
        if (onBox) onBox();
        if (answers.empty()) return false;
        bool a = answers.front();
        answers.pop_front();
        return a;
    }
    int count(const std::string& title) const {
        int n = 0;
        for (const auto& b : boxes) n += b.title == title;
        return n;
    }
    std::deque<bool> answers;  // for ask(); No when empty
    std::vector<Box> boxes;
    std::function<void()> onBox;
};

class FakePump : public ui::EventPump {
public:
    void yield() override {
        ++yields;
        if (hook) hook();
    }
    int yields = 0;
    std::function<void()> hook;
};

class FakeSleeper : public ui::Sleeper {
public:
    void sleep_ms(unsigned ms) override { slept.push_back(ms); }
    std::vector<unsigned> slept;
};

class FakeClock : public ui::Clock {
public:
    os::LocalTime now() override { return time; }
    os::LocalTime time{2026, 3, 4, 5, 6, 7, 0};
};

// A notification area that takes the icon (unless shown is cleared) and
// counts the popups asked for.
class FakeTray : public ui::Tray {
public:
    bool add(const std::string& t) override {
        tip = t;
        return shown;
    }
    bool available() override { return shown; }
    void popup() override { ++popups; }
    void setTip(const std::string& t) override { tip = t; }
    void notify(const std::string& title, const std::string& text) override {
        notes.push_back({title, text});
    }
    void remove() override {
        ++removed;
        shown = false;
    }
    bool shown = true;
    std::string tip;
    int popups = 0;
    int removed = 0;
    std::vector<std::pair<std::string, std::string>> notes;  // title, text
};

class FakeApp : public ui::Application {
public:
    void quit() override { ++quits; }
    int quits = 0;
};

// Every scripted service a window model in a test is built on; fixtures
// derive from it and reach the fakes by name.
struct FakeServices {
    FakeDialogs dialogs;
    FakePump pump;
    FakeSleeper sleeper;
    FakeClock clock;
    FakeApp app;

    ui::Services services() {
        ui::Services s;
        s.dialogs = &dialogs;
        s.pump = &pump;
        s.sleeper = &sleeper;
        s.clock = &clock;
        s.app = &app;
        return s;
    }
    // A window model built on them and loaded.
    std::unique_ptr<ui::Form1> loadForm(const ui::Services& s) {
        auto form = std::make_unique<ui::Form1>(s);
        form->Form_Load();
        return form;
    }
    std::unique_ptr<ui::Form1> loadForm() { return loadForm(services()); }
};

// The real Os, but with the program's directory moved to a test directory.
class ProgramDirOs : public os::ForwardingOs {
public:
    explicit ProgramDirOs(std::string dir) : os::ForwardingOs(os::native()), dir_(std::move(dir)) {}
    os::Result<std::string> program_dir() override { return dir_; }

private:
    std::string dir_;
};

}  // namespace qm::test
