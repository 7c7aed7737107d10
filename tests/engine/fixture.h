// The window model on a batch of real directories in temporary
// directories, with scripted services, and an Os in front of the platform
// layer that counts calls and fails chosen ones.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "batch/store.h"
#include "engine/engine.h"
#include "support/fakes.h"
#include "support/tempdir.h"
#include "ui/form1.h"

namespace qm::test {

// A fault: the operation fails with this error for every path that
// contains `match` (all paths when empty; with exact, the path that is
// it), `times` times (-1: for good).
// The first `after` calls that match pass.
struct Fault {
    std::string match;
    int times = -1;
    os::Errc code = os::Errc::io;
    std::string reason = "injected failure";
    int after = 0;
    bool exact = false;  // only the path that is match

    bool hits(const std::string& path) {
        if (times == 0 || (exact ? path != match : path.find(match) == std::string::npos))
            return false;
        if (after > 0) {
            --after;
            return false;
        }
        if (times > 0) --times;
        return true;
    }
};

class EngineOs : public ProgramDirOs {
public:
    EngineOs(std::string prog, std::string lists)
        : ProgramDirOs(std::move(prog)), lists(std::move(lists)) {}

    // winbootdir; unset when nullopt.
    std::optional<std::string> lists;

    std::optional<Fault> copyFault, flushFault, renameFault, deleteFault, makeDirFault, listFault,
        appendFault, writeFault, statFault;
    // Only the reads of a directory's names, not of its files' details.
    std::optional<Fault> namesFault;
    // Called between the chunks of every copy, before the engine's own
    // progress callback.
    std::function<void(const std::string& to)> duringCopy;
    // Added to every stat, to make a directory slow to compare.
    std::chrono::microseconds statDelay{0};
    std::atomic<int> stats{0};
    // Copies going on now, and the most at once.
    std::atomic<int> copying{0}, peakCopying{0};

    std::vector<std::string> copied;                     // sources, in order
    std::vector<bool> durables;                          // whether each copy was flushed by itself
    std::vector<std::vector<std::string>> flushedFiles;  // paths, a call each
    std::vector<std::string> removed;                    // every path removed
    std::function<void(const std::string& path)> beforeRemove;
    // Called at the start of every flush, on the thread that flushes.
    std::function<void(const std::vector<std::string>& paths)> duringFlush;
    std::vector<std::string> written;  // every path written whole
    // Every directory read: "names <dir>" for a listing of names only,
    // "files <dir>" for one with lengths and times.
    std::vector<std::string> listed;
    std::vector<std::string> listedCopy() {
        std::lock_guard<std::mutex> lock(faultMutex_);
        return listed;
    }
    // The copies noted so far, while copies on other threads note more.
    std::vector<std::string> copiedCopy() {
        std::lock_guard<std::mutex> lock(faultMutex_);
        return copied;
    }
    void clearListed() {
        std::lock_guard<std::mutex> lock(faultMutex_);
        listed.clear();
    }
    // Called when a listing with lengths and times has been read, on the
    // thread that read it.
    std::function<void(const std::string& dir)> afterListing;

    // The system's temporary directory, when set.
    std::optional<std::string> temp;
    // A volume that stores times in even seconds, rounded down, as FAT
    // does on Linux: every time set, a copy's included.
    bool evenSeconds = false;
    static os::FileTime even(os::FileTime t) { return {t.sec - (((t.sec % 2) + 2) % 2), 0}; }
    os::Status set_mtime(const std::string& p, os::FileTime t) override {
        return inner_.set_mtime(p, evenSeconds ? even(t) : t);
    }

    std::optional<std::string> env(const std::string& name) override {
        if (name == "winbootdir") return lists;
        return inner_.env(name);
    }
    std::string temp_dir() override { return temp ? *temp : inner_.temp_dir(); }
    os::Result<os::FileState> copy_file(const std::string& f, const std::string& t,
                                        const os::CopyProgress& p, bool durable) override {
        return hooked(f, t, p, durable, [&](const os::CopyProgress& q) {
            return inner_.copy_file(f, t, q, durable);
        });
    }
    // The engine copies, renames, removes and looks by name in directories
    // it holds open: the same faults and notes, by the whole path.
    os::Result<os::FileState> copy_file_in(const os::OpenDir& from, const std::string& fn,
                                           const os::OpenDir& to, const std::string& tn,
                                           const os::CopyProgress& p, bool durable,
                                           os::FileId* made) override {
        return hooked(from.path + fn, to.path + tn, p, durable, [&](const os::CopyProgress& q) {
            return inner_.copy_file_in(from, fn, to, tn, q, durable, made);
        });
    }
    // A copy from f to t made by copy, noted, faulted and rounded as asked.
    template <class Copy>
    os::Result<os::FileState> hooked(const std::string& f, const std::string& t,
                                     const os::CopyProgress& p, bool durable, Copy copy) {
        // Copies onto a slow volume are made on several threads at once.
        note(copied, f);
        note(durables, durable);
        if (hits(copyFault, f)) return fail(*copyFault, "copy", f);
        const int now = ++copying;
        for (int peak = peakCopying; now > peak && !peakCopying.compare_exchange_weak(peak, now);) {
        }
        struct Done {
            std::atomic<int>& n;
            ~Done() { --n; }
        } done{copying};
        auto r = copy([&](std::uint64_t done, std::uint64_t total) {
            if (duringCopy) duringCopy(t);
            return !p || p(done, total);
        });
        if (r && evenSeconds) {
            auto st = inner_.stat(t);
            if (!st) return std::unexpected(st.error());
            if (auto m = inner_.set_mtime(t, even(st->mtime)); !m)
                return std::unexpected(m.error());
        }
        return r;
    }
    os::Status rename_in(const os::OpenDir& d, const std::string& f,
                         const std::string& t) override {
        if (hits(renameFault, d.path + t)) return fail(*renameFault, "rename", d.path + f);
        return inner_.rename_in(d, f, t);
    }
    os::Status remove_in(const os::OpenDir& d, const std::string& n) override {
        if (auto e = beforeRemoving(d.path + n)) return std::unexpected(*e);
        return inner_.remove_in(d, n);
    }
    os::Status remove_unchanged(const os::OpenDir& d, const std::string& n,
                                const os::FileState& expected) override {
        if (auto e = beforeRemoving(d.path + n)) return std::unexpected(*e);
        return inner_.remove_unchanged(d, n, expected);
    }
    os::Status make_dir_like_in(const os::OpenDir& d, const std::string& n,
                                const std::string& model) override {
        if (makeDirFault && makeDirFault->hits(d.path + n))
            return fail(*makeDirFault, "create directory", d.path + n);
        return inner_.make_dir_like_in(d, n, model);
    }
    os::Result<os::FileInfo> stat_in(const os::OpenDir& d, const std::string& n) override {
        ++stats;
        if (hits(statFault, d.path + n)) return fail(*statFault, "stat", d.path + n);
        return inner_.stat_in(d, n);
    }
    os::Result<os::FileState> file_state_in(const os::OpenDir& d, const std::string& n) override {
        ++stats;
        if (hits(statFault, d.path + n)) return fail(*statFault, "stat", d.path + n);
        return inner_.file_state_in(d, n);
    }
    // Flushes run on the engine's flush thread: what they note is locked.
    os::Status flush_files(const std::vector<std::string>& paths) override {
        if (duringFlush) duringFlush(paths);
        note(flushedFiles, paths);
        for (const auto& p : paths)
            if (hits(flushFault, p)) return fail(*flushFault, "flush", p);
        return inner_.flush_files(paths);
    }
    os::Status flush_dir(const std::string& d) override {
        if (hits(flushFault, d)) return fail(*flushFault, "flush", d);
        return inner_.flush_dir(d);
    }
    os::Status rename_replace(const std::string& f, const std::string& t) override {
        if (renameFault && renameFault->hits(t)) return fail(*renameFault, "rename", f);
        return inner_.rename_replace(f, t);
    }
    os::Status remove_file(const std::string& p) override {
        if (auto e = beforeRemoving(p)) return std::unexpected(*e);
        return inner_.remove_file(p);
    }
    std::optional<os::Error> beforeRemoving(const std::string& p) {
        note(removed, p);
        if (beforeRemove) beforeRemove(p);
        if (hits(deleteFault, p)) return fail(*deleteFault, "delete", p).error();
        return std::nullopt;
    }
    os::Status make_dir(const std::string& p) override {
        if (makeDirFault && makeDirFault->hits(p))
            return fail(*makeDirFault, "create directory", p);
        return inner_.make_dir(p);
    }
    os::Status make_dir_like(const std::string& p, const std::string& model) override {
        if (makeDirFault && makeDirFault->hits(p))
            return fail(*makeDirFault, "create directory", p);
        return inner_.make_dir_like(p, model);
    }
    // Made whole, like a written file.
    os::Status create_private(const std::string& p) override {
        written.push_back(p);
        if (writeFault && writeFault->hits(p)) return fail(*writeFault, "create", p);
        return inner_.create_private(p);
    }
    // The window reads a target's files on a second thread: the calls that
    // listing makes are safe to make from two threads at once.
    os::Result<std::vector<os::DirEntry>> list_dir(const std::string& d) override {
        note(listed, "names " + d);
        if (hits(listFault, d)) return fail(*listFault, "read directory", d);
        if (hits(namesFault, d)) return fail(*namesFault, "read directory", d);
        return inner_.list_dir(d);
    }
    os::Result<std::vector<os::DirEntry>> list_dir_detailed(
        const std::string& d, const std::function<bool()>& between) override {
        note(listed, "files " + d);
        if (hits(listFault, d)) return fail(*listFault, "read directory", d);
        // Slow stats are this Os's own: the listing stats through it.
        auto r = statDelay.count() > 0 ? Os::list_dir_detailed(d, between)
                                       : inner_.list_dir_detailed(d, between);
        if (afterListing) afterListing(d);
        return r;
    }
    os::Status append_file(const std::string& p, std::string_view data) override {
        if (appendFault && appendFault->hits(p)) return fail(*appendFault, "write", p);
        return inner_.append_file(p, data);
    }
    os::Status write_file(const std::string& p, std::string_view data, bool durable) override {
        written.push_back(p);
        if (writeFault && writeFault->hits(p)) return fail(*writeFault, "create", p);
        return inner_.write_file(p, data, durable);
    }
    os::Result<os::FileInfo> stat(const std::string& p) override {
        ++stats;
        if (statDelay.count() > 0) std::this_thread::sleep_for(statDelay);
        if (hits(statFault, p)) return fail(*statFault, "stat", p);
        return inner_.stat(p);
    }

    // A file's version is a stat too, and fails with statFault.
    os::Result<os::FileState> file_state(const std::string& p) override {
        ++stats;
        if (hits(statFault, p)) return fail(*statFault, "stat", p);
        return inner_.file_state(p);
    }

    int count(const std::vector<std::string>& v, const std::string& part) const {
        int n = 0;
        for (const auto& s : v) n += s.find(part) != std::string::npos;
        return n;
    }

private:
    template <class T>
    void note(std::vector<T>& v, T what) {
        std::lock_guard<std::mutex> lock(faultMutex_);
        v.push_back(std::move(what));
    }
    bool hits(std::optional<Fault>& f, const std::string& path) {
        std::lock_guard<std::mutex> lock(faultMutex_);
        return f && f->hits(path);
    }
    std::mutex faultMutex_;

    static std::unexpected<os::Error> fail(const Fault& f, const char* op, const std::string& p) {
        return std::unexpected(os::make_error(f.code, op, p, f.reason));
    }
};

class EngineTest : public ::testing::Test, protected FakeServices {
protected:
    EngineTest() : eos(prog.path(), lists.path()), use(eos) {}

    using Entry = std::array<std::string, 3>;  // source, target, subs (relative)

    void writeBatch(const std::vector<Entry>& entries) {
        std::vector<std::string> lines{"[batch]"};
        for (const auto& e : entries) {
            mkdirs(data / e[0]);
            mkdirs(data / e[1]);
            lines.push_back("Source:" + (data / e[0]));
            lines.push_back("Target:" + (data / e[1]));
            lines.push_back("Subs:" + e[2]);
        }
        // As the program writes it: any name stays as it is.
        write(prog / "BATCH.INI", os::text_to_file(batch::join_lines(lines)));
    }
    // Loads the window on a batch, the log on and the interval one tick.
    ui::Form1& load(const std::vector<Entry>& entries) {
        writeBatch(entries);
        form = loadForm();
        form->Check2.setValue(1);
        form->Slider1.setValue(1);
        return *form;
    }
    // One due tick: the run, then the tick's own steps.
    void run() {
        ASSERT_EQ(form->Slider1.value() - form->MinuteCounter, 1) << "the next tick is not due";
        form->Timer1_Timer();
    }
    // Runs with action called once, at the first yield of the run (at which
    // `when` holds).
    void runWith(std::function<void()> action, std::function<bool()> when = nullptr) {
        bool done = false;
        pump.hook = [&] {
            if (!done && form->running() && (!when || when())) {
                done = true;
                action();
            }
        };
        run();
        pump.hook = nullptr;
        ASSERT_TRUE(done) << "the run never yielded";
    }
    // While the files of a directory are being handled (after the listing).
    bool inFileLoop() { return form->ProgressBar1.visible(); }

    std::vector<std::string> log() {
        return exists(prog / "syncfile.log")
                   ? batch::split_lines(os::text_from_file(read(prog / "syncfile.log")))
                   : std::vector<std::string>{};
    }
    // The log lines that contain part.
    std::vector<std::string> logWith(const std::string& part) {
        std::vector<std::string> out;
        for (const auto& l : log())
            if (l.find(part) != std::string::npos) out.push_back(l);
        return out;
    }
    static std::string copiedLine(int n) {
        return "03-04-2026/05:06:07- " + std::to_string(n) + " files copied/moved";
    }

    // A file below the data directory with content and a time.
    void file(const std::string& rel, const std::string& content, long long mtime = kTime) {
        const std::string p = data / rel;
        mkdirs(p.substr(0, p.rfind(os::separator())));
        write(p, content);
        set_mtime(p, mtime);
    }
    long long mtime(const std::string& rel) {
        return os::native().stat(data / rel).value().mtime.sec;
    }
    bool has(const std::string& rel) { return exists(data / rel); }
    std::string at(const std::string& rel) { return read(data / rel); }
    // Names in a target directory that a copy in progress uses.
    std::vector<std::string> temporaries(const std::string& rel) {
        std::vector<std::string> out;
        for (const auto& n : names(data / rel))
            if (n.rfind(".qm-", 0) == 0) out.push_back(n);
        return out;
    }

    static constexpr long long kTime = 1'600'000'000;

    TempDir prog, lists, data;
    EngineOs eos;
    os::ScopedOs use;
    std::unique_ptr<ui::Form1> form;
};

}  // namespace qm::test
