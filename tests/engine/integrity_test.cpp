// A source that changes or is replaced while it is copied, directories the
// run creates reaching the disk before a move deletes anything below them,
// and what the log and the window are told when something goes wrong.
#include <algorithm>
#include <chrono>
#include <thread>

#include "fixture.h"

namespace qm::test {
namespace {

using IntegrityTest = EngineTest;

// In place, the same length and the same modification time afterwards.
void rewriteKeepingLengthAndTime(const std::string& path, const std::string& content,
                                 long long mtime) {
    // Past the system's coarse clock tick, so that the change time moves.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    write(path, content);
    set_mtime(path, mtime);
}

class ChangedDuringCopyTest : public EngineTest, public ::testing::WithParamInterface<bool> {};

// Rewritten while it is read: the copy is thrown away, and never gets the
// source's time; the next run copies it again. The source always stays.
TEST_P(ChangedDuringCopyTest, TheCopyIsDiscardedLoggedAndMadeAgainNextRun) {
    const bool move = GetParam();
    load({{"s", "t", "NO"}});
    file("s/doc.txt", "version one");
    file("t/doc.txt", "older", kTime - 60);
    if (move) form->Movefiles_Click();
    bool rewritten = false;
    eos.duringCopy = [&](const std::string&) {
        if (rewritten) return;
        rewritten = true;
        rewriteKeepingLengthAndTime(data / "s/doc.txt", "version two", kTime);
    };
    run();
    ASSERT_TRUE(rewritten);
    eos.duringCopy = nullptr;
    EXPECT_EQ(at("s/doc.txt"), "version two") << "the source stays";
    EXPECT_EQ(at("t/doc.txt"), "older") << "the target is untouched";
    EXPECT_EQ(mtime("t/doc.txt"), kTime - 60);
    EXPECT_TRUE(temporaries("t").empty()) << "the discarded copy is removed";
    const auto said = logWith(data / "s/doc.txt: not copied");
    ASSERT_EQ(said.size(), 1u);
    EXPECT_NE(said[0].find("changed while it was copied"), std::string::npos) << said[0];
    EXPECT_TRUE(logWith("files copied/moved").empty()) << "nothing was copied";

    run();
    EXPECT_EQ(at("t/doc.txt"), "version two");
    EXPECT_EQ(mtime("t/doc.txt"), kTime);
    EXPECT_EQ(has("s/doc.txt"), !move);
}

// Grown while it is read: the copy would hold a part of it only.
TEST_P(ChangedDuringCopyTest, ASourceThatGrowsDuringALargeCopyIsNotCopied) {
    const bool move = GetParam();
    load({{"s", "t", "NO"}});
    const std::string big(6u << 20, 'g');
    file("s/grow.bin", big);
    if (move) form->Movefiles_Click();
    bool grown = false;
    eos.duringCopy = [&](const std::string&) {
        if (grown || !exists(data / "s/grow.bin")) return;
        grown = true;
        os::native().append_file(data / "s/grow.bin", "more").value();
    };
    run();
    ASSERT_TRUE(grown);
    EXPECT_EQ(at("s/grow.bin"), big + "more");
    EXPECT_FALSE(has("t/grow.bin"));
    EXPECT_TRUE(temporaries("t").empty());
    EXPECT_EQ(logWith("changed while it was copied").size(), 1u);
}

// Replaced (renamed over) by another file of the same length and times
// while it is copied: the file put in its place stays, and is copied by the
// next run.
TEST_F(IntegrityTest, AMoveNeverDeletesAFileRenamedOverItsSourceDuringTheCopy) {
    load({{"s", "t", "NO"}});
    file("s/photo.jpg", "old picture");
    form->Movefiles_Click();
    bool tried = false, replaced = false;
    eos.duringCopy = [&](const std::string&) {
        if (tried) return;
        tried = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        file("s/incoming.tmp", "new picture");  // same length, same time
        replaced = static_cast<bool>(
            os::native().rename_replace(data / "s/incoming.tmp", data / "s/photo.jpg"));
    };
    run();
    eos.duringCopy = nullptr;
    ASSERT_TRUE(tried);
    // Windows keeps a file that is open from being replaced.
    if (!replaced) GTEST_SKIP() << "an open file cannot be replaced here";
    ASSERT_TRUE(has("s/photo.jpg")) << "the file put in its place was deleted";
    EXPECT_EQ(at("s/photo.jpg"), "new picture");
    EXPECT_FALSE(has("t/photo.jpg"));
    EXPECT_TRUE(temporaries("t").empty());
    EXPECT_EQ(logWith(data / "s/photo.jpg: not copied").size(), 1u);
    run();
    EXPECT_EQ(at("t/photo.jpg"), "new picture");
    EXPECT_FALSE(has("s/photo.jpg"));
}

// Between the copy and the delete: another file renamed over the source,
// or the source rewritten with its length and time put back.
TEST_F(IntegrityTest, AMoveDeletesOnlyTheVersionItCopied) {
    load({{"s", "t", "NO"}});
    file("s/a.txt", "aaaa");
    file("s/b.txt", "bbbb");
    file("s/c.txt", "cccc");
    form->Movefiles_Click();
    int handled = 0;
    // The yield after each copy comes before its delete.
    pump.hook = [&] {
        if (handled == 0 && has("t/a.txt")) {
            handled = 1;
            file("s/a.new", "AAAA");
            ASSERT_TRUE(os::native().rename_replace(data / "s/a.new", data / "s/a.txt"));
        } else if (handled == 1 && has("t/b.txt")) {
            handled = 2;
            rewriteKeepingLengthAndTime(data / "s/b.txt", "BBBB", kTime);
        }
    };
    run();
    pump.hook = nullptr;
    ASSERT_EQ(handled, 2);
    EXPECT_EQ(at("s/a.txt"), "AAAA");
    EXPECT_EQ(at("s/b.txt"), "BBBB");
    EXPECT_FALSE(has("s/c.txt")) << "an unchanged source is moved";
    EXPECT_EQ(at("t/c.txt"), "cccc");
    EXPECT_EQ(logWith(data / "s/a.txt: kept, it is another file").size(), 1u);
    EXPECT_EQ(logWith(data / "s/b.txt: kept, it changed after it was copied").size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Modes, ChangedDuringCopyTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Move" : "Copy"; });

// Records, at each delete of a source, whether every directory the run
// created above its copy had been flushed into its parent after it was made.
class RecordingOs : public EngineOs {
public:
    using EngineOs::EngineOs;
    std::vector<std::string> calls;  // "mkdir <path>", "flushdir <path>", "delete <path>"
    std::string failFlushDir;        // this directory cannot be flushed
    os::Status make_dir(const std::string& p) override {
        auto r = EngineOs::make_dir(p);
        if (r) calls.push_back("mkdir " + p);
        return r;
    }
    os::Status flush_dir(const std::string& d) override {
        calls.push_back("flushdir " + d);
        if (d == failFlushDir)
            return std::unexpected(
                os::make_error(os::Errc::io, "flush", d, "injected flush failure"));
        return EngineOs::flush_dir(d);
    }
    os::Status make_dir_like_in(const os::OpenDir& d, const std::string& n,
                                const std::string& model) override {
        auto r = EngineOs::make_dir_like_in(d, n, model);
        if (r) calls.push_back("mkdir " + d.path + n);
        return r;
    }
    os::Status remove_unchanged(const os::OpenDir& d, const std::string& n,
                                const os::FileState& expected) override {
        calls.push_back("delete " + d.path + n);
        return EngineOs::remove_unchanged(d, n, expected);
    }
};

class CreatedDirsTest : public EngineTest {
protected:
    CreatedDirsTest() : rec(prog.path(), lists.path()), useRec(rec) {}
    RecordingOs rec;
    os::ScopedOs useRec;
};

TEST_F(CreatedDirsTest, EveryDirectoryCreatedAboveACopyIsFlushedIntoItsParentBeforeTheSourceGoes) {
    load({{"s", "t", "YES"}});
    file("s/a/b/c/one.txt", "1");
    file("s/a/b/c/two.txt", "2");
    file("s/a/b/c/three.txt", "3");
    file("s/a/four.txt", "4");
    file("s/x/five.txt", "5");
    mkdirs(data / "t/a");  // exists: not the run's to flush
    form->Movefiles_Click();
    run();
    for (auto rel :
         {"a/b/c/one.txt", "a/b/c/two.txt", "a/b/c/three.txt", "a/four.txt", "x/five.txt"}) {
        EXPECT_TRUE(has(std::string("t/") + rel)) << rel;
        EXPECT_FALSE(has(std::string("s/") + rel)) << rel;
    }

    const std::string sourceTop = data / "s";
    int deletes = 0;
    for (std::size_t i = 0; i < rec.calls.size(); ++i) {
        const std::string& c = rec.calls[i];
        if (c.rfind("delete " + sourceTop, 0) != 0) continue;
        ++deletes;
        // The copy's directory in the target, and each one the run made
        // above it.
        const std::string rel = c.substr(7 + sourceTop.size());
        std::string dir = os::parent_of(data / ("t" + rel));
        for (; dir.size() > (data / "t").size(); dir = os::parent_of(dir)) {
            const auto made = std::find(rec.calls.begin(), rec.calls.begin() + i, "mkdir " + dir);
            if (made == rec.calls.begin() + i) continue;  // not made by the run
            const auto flushed =
                std::find(made, rec.calls.begin() + i, "flushdir " + os::parent_of(dir));
            EXPECT_NE(flushed, rec.calls.begin() + i)
                << dir << " not flushed into its parent before " << c;
        }
    }
    EXPECT_EQ(deletes, 5);
    // Batched: each parent once, not once a file.
    for (auto parent : {"t", "t/a", "t/a/b"})
        EXPECT_EQ(std::count(rec.calls.begin(), rec.calls.end(), "flushdir " + (data / parent)), 1)
            << parent;
}

// A parent that cannot be flushed keeps every source below it.
TEST_F(CreatedDirsTest, ACreatedDirectoryThatCannotBeFlushedIntoItsParentKeepsTheSources) {
    load({{"s", "t", "YES"}});
    file("s/new/f.txt", "f");
    file("s/new/g.txt", "g");
    file("s/top.txt", "top");
    form->Movefiles_Click();
    rec.failFlushDir = data / "t";
    run();
    EXPECT_FALSE(has("s/top.txt"));
    EXPECT_EQ(at("s/new/f.txt"), "f") << "moved while its directory may not be on disk";
    EXPECT_EQ(at("s/new/g.txt"), "g");
    EXPECT_EQ(at("t/new/f.txt"), "f");
    EXPECT_EQ(logWith(data / "s/new/f.txt: kept, its copy may not be on disk yet: flush " +
                      (data / "t") + ": injected flush failure")
                  .size(),
              1u);
    EXPECT_EQ(logWith(data / "s/new/g.txt: kept").size(), 1u) << "tried again for the next";
}

TEST_F(IntegrityTest, ALogThatCannotBeWrittenIsToldOnceInABoxAfterTheRun) {
    load({{"s", "t", "NO"}});
    file("s/a.txt", "a");
    eos.appendFault = Fault{"syncfile.log", -1, os::Errc::no_space, "injected full disk"};
    // At the box: the run's work is done, its list files removed.
    std::vector<bool> doneAtBox;
    dialogs.onBox = [&] { doneAtBox.push_back(has("t/a.txt") && names(lists.path()).empty()); };
    run();
    EXPECT_EQ(at("t/a.txt"), "a");
    ASSERT_EQ(dialogs.count("Information"), 1);
    EXPECT_NE(dialogs.boxes[0].text.find(prog / "syncfile.log"), std::string::npos)
        << dialogs.boxes[0].text;
    EXPECT_NE(dialogs.boxes[0].text.find("injected full disk"), std::string::npos);
    EXPECT_EQ(doneAtBox, std::vector<bool>{true}) << "the box waits for the run's end";

    // Still dead: not told again.
    file("s/b.txt", "b");
    run();
    EXPECT_EQ(dialogs.count("Information"), 1);
    // Written again, then dead again: told again.
    eos.appendFault = std::nullopt;
    file("s/c.txt", "c");
    run();
    EXPECT_EQ(dialogs.count("Information"), 1);
    eos.appendFault = Fault{"syncfile.log", 1, os::Errc::io, "injected failure"};
    file("s/d.txt", "d");
    run();
    EXPECT_EQ(dialogs.count("Information"), 2);
}

}  // namespace
}  // namespace qm::test
