// Replication on real trees, driven through the window model with scripted
// answers, a pump that can act in the middle of a run, and faults put in
// front of the platform layer.
#include "engine/engine.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "batch/store.h"
#include "support/fakes.h"
#include "support/tempdir.h"
#include "ui/form1.h"

namespace qm::test {
namespace {

using batch::join_lines;
using batch::split_lines;

// The program directory and the list-file directory of a test, and faults
// on chosen operations.
class EngineOs : public ProgramDirOs {
public:
    EngineOs(std::string prog, std::string lists) : ProgramDirOs(std::move(prog)), lists_(std::move(lists)) {}
    std::optional<std::string> env(const std::string& name) override {
        if (name == "winbootdir") return lists_.empty() ? std::nullopt : std::optional(lists_);
        return inner_.env(name);
    }
    os::Status copy_file(const std::string& f, const std::string& t, const os::CopyProgress& p) override {
        ++copies;
        if (failCopy) return std::unexpected(os::make_error(os::Errc::io, "copy", f, "injected copy failure"));
        return inner_.copy_file(f, t, p);
    }
    os::Status flush_dir(const std::string& d) override {
        if (failFlush) return std::unexpected(os::make_error(os::Errc::io, "flush", d, "injected flush failure"));
        return inner_.flush_dir(d);
    }
    os::Status rename_replace(const std::string& f, const std::string& t) override {
        if (failRename && t.find(".qm-") == std::string::npos && t.find("BATCH.INI") == std::string::npos)
            return std::unexpected(os::make_error(os::Errc::busy, "rename", f, "injected rename failure"));
        return inner_.rename_replace(f, t);
    }
    os::Status remove_file(const std::string& p) override {
        if (failDelete && p.find(".qm-") == std::string::npos && p.find(".DIR") == std::string::npos &&
            p.find("batch.dat") == std::string::npos)
            return std::unexpected(os::make_error(os::Errc::access, "delete", p, "injected delete failure"));
        return inner_.remove_file(p);
    }
    std::string lists_;
    bool failCopy = false, failFlush = false, failRename = false, failDelete = false;
    int copies = 0;
};

class EngineTest : public ::testing::Test {
protected:
    EngineTest() : eos(prog.path(), lists.path()), use(eos) {}

    // Loads the window on a batch of pairs (relative to the data directory).
    ui::Form1& load(const std::vector<std::array<std::string, 3>>& entries) {
        std::vector<std::string> lines{"[batch]"};
        for (const auto& e : entries) {
            mkdirs(data / e[0]);
            mkdirs(data / e[1]);
            lines.push_back("Source:" + (data / e[0]));
            lines.push_back("Target:" + (data / e[1]));
            lines.push_back("Subs:" + e[2]);
        }
        write(prog / "BATCH.INI", join_lines(lines));
        ui::Services s;
        s.dialogs = &dialogs;
        s.pump = &pump;
        s.sleeper = &sleeper;
        s.clock = &clock;
        s.app = &app;
        form = std::make_unique<ui::Form1>(s);
        form->Form_Load();
        form->Check2.setValue(1);
        form->Slider1.setValue(1);
        return *form;
    }
    // One due tick: the run, then the tick's own steps.
    void run() { form->Timer1_Timer(); }
    std::vector<std::string> log() {
        return exists(prog / "syncfile.log") ? split_lines(read(prog / "syncfile.log")) : std::vector<std::string>{};
    }
    void file(const std::string& rel, const std::string& content, long long mtime = 1'600'000'000) {
        const std::string p = data / rel;
        mkdirs(p.substr(0, p.rfind(os::separator())));
        write(p, content);
        set_mtime(data / rel, mtime);
    }
    long long mtime(const std::string& rel) { return os::native().stat(data / rel).value().mtime.sec; }

    TempDir prog, lists, data;
    EngineOs eos;
    os::ScopedOs use;
    FakeDialogs dialogs;
    FakePump pump;
    FakeSleeper sleeper;
    FakeClock clock;
    FakeApp app;
    std::unique_ptr<ui::Form1> form;
};

TEST_F(EngineTest, CopiesWhatDiffersAndLeavesTheRest) {
    load({{"s", "t", "NO"}});
    file("s/new.txt", "new");
    file("s/same.txt", "same");
    file("t/same.txt", "same");
    file("s/newer.txt", "abc");
    file("t/newer.txt", "xyz", 1'700'000'000);  // same length, later time
    file("s/second.txt", "abc");
    file("t/second.txt", "abc", 1'600'000'001);  // one second apart
    file("s/Case.txt", "case");
    file("t/case.txt", "other");
    file("t/only-target.txt", "mine");
    run();
    EXPECT_EQ(read(data / "t/new.txt"), "new");
    EXPECT_EQ(mtime("t/new.txt"), 1'600'000'000);
    EXPECT_EQ(read(data / "t/newer.txt"), "abc");
    EXPECT_EQ(mtime("t/newer.txt"), 1'600'000'000);
    EXPECT_EQ(mtime("t/second.txt"), 1'600'000'000);
    EXPECT_EQ(read(data / "t/Case.txt"), "case");
    EXPECT_EQ(read(data / "t/only-target.txt"), "mine");
    EXPECT_EQ(eos.copies, 4);
    ASSERT_EQ(log().size(), 1u);
    EXPECT_EQ(log()[0], "03-04-2026/05:06:07- 4 files copied/moved");
    // Nothing is left for a second run.
    eos.copies = 0;
    form->Slider1.setValue(2);
    form->Slider1.setValue(1);
    run();
    EXPECT_EQ(eos.copies, 0);
    EXPECT_EQ(log().size(), 1u);
}

TEST_F(EngineTest, TheRunShowsCountsProgressAndBusyStateAndEndsIdle) {
    load({{"s", "t", "NO"}});
    file("s/a.txt", "a");
    file("s/b.txt", "b");
    std::vector<std::string> seen;
    pump.hook = [&] {
        if (form->running() && seen.empty()) {
            seen.push_back(form->Label1.caption());
            seen.push_back(form->Command1.enabled() || form->Command2.enabled() || form->Check2.enabled() ? "open" : "closed");
        }
    };
    run();
    EXPECT_EQ(seen, (std::vector<std::string>{"BUSY...", "closed"}));
    EXPECT_EQ(form->Text1.text(), "2 File(s)\r\n" + os::with_separator(data / "s"));
    EXPECT_FALSE(form->ProgressBar1.visible());
    EXPECT_EQ(form->ProgressBar1.max(), 2);
    EXPECT_TRUE(form->Command1.enabled() && form->Command2.enabled() && form->Check2.enabled());
    EXPECT_FALSE(form->Command5.enabled());
    EXPECT_EQ(form->Label1.caption(), "Interval in minutes 1-60/Next update approx.  1 minutes from now...");
    EXPECT_EQ(form->MinuteCounter, 0);
    EXPECT_EQ(sleeper.slept, (std::vector<unsigned>{2000}));
    EXPECT_EQ(form->mousePointer(), ui::MousePointer::Default);
}

TEST_F(EngineTest, SubdirectoriesAreCreatedInOrderAndEachGetsItsLogLine) {
    load({{"s", "t", "YES"}});
    file("s/top.txt", "top");
    file("s/a/b/c/deep.txt", "deep");
    file("s/a/one.txt", "one");
    mkdirs(data / "s/.git/objects");
    file("s/.git/objects/x", "x");
    run();
    EXPECT_EQ(read(data / "t/top.txt"), "top");
    EXPECT_EQ(read(data / "t/a/one.txt"), "one");
    EXPECT_EQ(read(data / "t/a/b/c/deep.txt"), "deep");
    EXPECT_FALSE(exists(data / "t/.git"));
    EXPECT_EQ(log(), (std::vector<std::string>{"03-04-2026/05:06:07- 1 files copied/moved",
                                               "03-04-2026/05:06:07- 1 files copied/moved",
                                               "03-04-2026/05:06:07- 1 files copied/moved"}));
    // The list files are gone after the run.
    EXPECT_TRUE(names(lists.path()).empty());
}

TEST_F(EngineTest, OnlyNoTurnsTheWalkOff) {
    load({{"s1", "t1", "NO"}, {"s2", "t2", "no"}, {"s3", "t3", ""}});
    for (auto s : {"s1", "s2", "s3"}) file(std::string(s) + "/sub/f.txt", "f");
    run();
    EXPECT_FALSE(exists(data / "t1/sub"));
    EXPECT_TRUE(exists(data / "t2/sub/f.txt"));
    EXPECT_TRUE(exists(data / "t3/sub/f.txt"));
    EXPECT_TRUE(exists(prog / "batch.dat"));
}

TEST_F(EngineTest, ConfirmationAsksPerFileAndCountsOnlyTheYeses) {
    load({{"s", "t", "NO"}});
    for (auto n : {"1", "2", "3", "4", "5"}) file(std::string("s/ f") + n + ".txt ", n);
    form->CC_Click();
    dialogs.answers = {true, false, true, false, false};
    run();
    ASSERT_EQ(dialogs.count("Question"), 5);
    EXPECT_EQ(dialogs.boxes[0].text, "Copy File f1.txt?");
    EXPECT_EQ(log(), (std::vector<std::string>{"03-04-2026/05:06:07- 2 files copied/moved"}));
    EXPECT_EQ(names(data / "t").size(), 2u);

    form->Movefiles_Click();
    dialogs.boxes.clear();
    dialogs.answers = {false, false, false};
    form->Slider1.setValue(2);
    form->Slider1.setValue(1);
    run();
    EXPECT_EQ(dialogs.boxes[0].text, "Move file f2.txt?");
    EXPECT_EQ(log().size(), 1u);
}

TEST_F(EngineTest, MoveModeDeletesOnlyWhatWasCopiedAndChecked) {
    load({{"s", "t", "NO"}});
    file("s/move.txt", "move");
    file("s/same.txt", "same");
    file("t/same.txt", "same");
    form->Movefiles_Click();
    run();
    EXPECT_EQ(read(data / "t/move.txt"), "move");
    EXPECT_FALSE(exists(data / "s/move.txt"));
    EXPECT_TRUE(exists(data / "s/same.txt"));
}

TEST_F(EngineTest, MoveModeFaultsNeverLoseTheSource) {
    struct Case {
        const char* what;
        bool EngineOs::*fault;
        bool targetThere;
    } cases[] = {{"copy", &EngineOs::failCopy, false},
                 {"flush", &EngineOs::failFlush, true},
                 {"rename", &EngineOs::failRename, false},
                 {"delete", &EngineOs::failDelete, true}};
    load({{"s", "t", "NO"}});
    form->Movefiles_Click();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        file("s/precious.txt", "precious bytes");
        remove_tree(data / "t/precious.txt");
        eos.*c.fault = true;
        form->Slider1.setValue(2);
        form->Slider1.setValue(1);
        const auto before = log().size();
        run();
        eos.*c.fault = false;
        EXPECT_EQ(read(data / "s/precious.txt"), "precious bytes");
        EXPECT_EQ(exists(data / "t/precious.txt"), c.targetThere);
        if (c.targetThere) {
            EXPECT_EQ(read(data / "t/precious.txt"), "precious bytes");
        }
        for (const auto& n : names(data / "t")) EXPECT_EQ(n.find(".qm-"), std::string::npos) << n;
        ASSERT_GT(log().size(), before);
        bool said = false;
        for (std::size_t i = before; i < log().size(); ++i)
            said |= log()[i].find(std::string("injected ") + c.what + " failure") != std::string::npos;
        EXPECT_TRUE(said);
    }
}

TEST_F(EngineTest, AFailedCopyIsNotCountedAndIsLoggedWithItsReason) {
    load({{"s", "t", "NO"}});
    file("s/a.txt", "a");
    eos.failCopy = true;
    run();
    ASSERT_EQ(log().size(), 1u);
    EXPECT_NE(log()[0].find("a.txt"), std::string::npos);
    EXPECT_NE(log()[0].find("injected copy failure"), std::string::npos);
    EXPECT_EQ(log()[0].find("files copied/moved"), std::string::npos);
}

TEST_F(EngineTest, ExitDuringACopyLeavesNoPartialFileUnderTheTargetName) {
    load({{"s", "t", "NO"}});
    file("s/big.bin", std::string(10u << 20, 'x'));
    pump.hook = [&] {
        if (form->running() && exists(data / "s/big.bin")) {
            // In the middle of the copy once its temporary file exists.
            for (const auto& n : names(data / "t"))
                if (n.rfind(".qm-", 0) == 0) form->Exit_Click();
        }
    };
    // Makes the copy yield: a copy of 10 MiB takes more than one chunk.
    run();
    pump.hook = nullptr;
    EXPECT_TRUE(form->ended());
    EXPECT_FALSE(exists(data / "t/big.bin") && read(data / "t/big.bin").size() != (10u << 20));
    EXPECT_TRUE(exists(data / "s/big.bin"));
}

TEST_F(EngineTest, LeftoverTemporaryFilesAreRemovedByTheNextRun) {
    load({{"s", "t", "NO"}});
    file("t/.qm-deadbeef.part", "half");
    file("t/.keep", "user's own hidden file");
    run();
    EXPECT_FALSE(exists(data / "t/.qm-deadbeef.part"));
    EXPECT_TRUE(exists(data / "t/.keep"));
}

TEST_F(EngineTest, HiddenFilesAreNotCopiedAndAHiddenTargetDirectoryIsUsed) {
    load({{"s", "t", "YES"}});
    file("s/.hidden", "h");
    ASSERT_TRUE(os::native().make_hidden(data / "s/.hidden"));
    file("s/.dir-but-named/x", "x");
    run();
    EXPECT_FALSE(exists(data / "t/.hidden"));
}

TEST_F(EngineTest, ATargetInsideTheSourceIsLeftOutOfTheWalk) {
    load({{"s", "s/backup", "YES"}});
    file("s/a.txt", "a");
    file("s/sub/b.txt", "b");
    run();
    run();
    EXPECT_EQ(read(data / "s/backup/a.txt"), "a");
    EXPECT_EQ(read(data / "s/backup/sub/b.txt"), "b");
    EXPECT_FALSE(exists(data / "s/backup/backup"));
}

TEST_F(EngineTest, AnEntryWhoseTargetIsItsSourceCopiesNothing) {
    load({{"s", "s", "YES"}});
    file("s/a.txt", "a");
    form->Movefiles_Click();
    run();
    EXPECT_EQ(eos.copies, 0);
    EXPECT_EQ(read(data / "s/a.txt"), "a");
}

TEST_F(EngineTest, AListFileThatCannotBeWrittenStopsTheEntryWithALogLine) {
    eos.lists_ = lists / "missing";
    load({{"s", "t", "YES"}});
    file("s/a.txt", "a");
    run();
    EXPECT_FALSE(exists(data / "t/a.txt"));
    ASSERT_EQ(log().size(), 1u);
    EXPECT_NE(log()[0].find("directory list could not be written"), std::string::npos);
}

TEST_F(EngineTest, WithoutWinbootdirTheListsGoToTheTempDirectoryAndAreCleanedUp) {
    eos.lists_.clear();
    load({{"s", "t", "YES"}});
    file("s/sub/a.txt", "a");
    run();
    EXPECT_EQ(read(data / "t/sub/a.txt"), "a");
}

TEST_F(EngineTest, ATargetSubdirectoryNameTakenByAFileIsSkipped) {
    load({{"s", "t", "YES"}});
    file("s/sub/a.txt", "a");
    file("s/ok/b.txt", "b");
    file("t/sub", "a file");
    run();
    EXPECT_EQ(read(data / "t/sub"), "a file");
    EXPECT_EQ(read(data / "t/ok/b.txt"), "b");
}

TEST_F(EngineTest, ALogThatCannotBeWrittenNeverStopsTheRun) {
    mkdirs(prog / "syncfile.log");  // a directory where the log should be
    load({{"s", "t", "NO"}});
    file("s/a.txt", "a");
    run();
    EXPECT_EQ(read(data / "t/a.txt"), "a");
}

TEST_F(EngineTest, ATickDuringARunIsIgnoredAndTheSliderWaitsForTheNextRun) {
    load({{"s1", "t1", "NO"}, {"s2", "t2", "NO"}});
    file("s1/a.txt", "a");
    file("s2/b.txt", "b");
    int ticks = 0;
    pump.hook = [&] {
        if (form->running() && ticks < 3) {
            ++ticks;
            form->Timer1_Timer();
            form->Slider1.setValue(5);
        }
    };
    run();
    EXPECT_EQ(read(data / "t1/a.txt"), "a");
    EXPECT_EQ(read(data / "t2/b.txt"), "b");
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(form->MinuteCounter, 0);
    EXPECT_EQ(form->Label1.caption(), "Interval in minutes 1-60/Next update approx.  5 minutes from now...");
    EXPECT_EQ(form->BronTree.path(), data / "s1");
}

TEST_F(EngineTest, ThreeEntriesRunInOrderAndADroppedOneIsSkipped) {
    load({{"s1", "t1", "NO"}, {"s2", "t2", "NO"}, {"s3", "t3", "NO"}});
    file("s1/a.txt", "1");
    file("s3/a.txt", "3");
    remove_tree(data / "t2");
    run();
    EXPECT_EQ(read(data / "t1/a.txt"), "1");
    EXPECT_EQ(read(data / "t3/a.txt"), "3");
    EXPECT_EQ(split_lines(read(prog / "BATCH.INI")).size(), 7u);
    EXPECT_EQ(form->List1.listCount(), 8);
    EXPECT_EQ(form->Text3.text(), data / "s1");
    EXPECT_EQ(form->engine().BatchCursor, 0);
}

TEST_F(EngineTest, TheSchedulerCountsTicksToTheSliderPosition) {
    load({{"s", "t", "NO"}});
    file("s/a.txt", "a");
    form->Slider1.setValue(3);
    EXPECT_EQ(form->Label1.caption(), "Interval in minutes 1-60 /Next update approx.  3 minutes from now...");
    form->Timer1_Timer();
    EXPECT_EQ(form->Label1.caption(), "Interval in minutes 1-60/Next update approx.  2 minutes from now...");
    form->Timer1_Timer();
    EXPECT_FALSE(exists(data / "t/a.txt"));
    form->Timer1_Timer();
    EXPECT_TRUE(exists(data / "t/a.txt"));
    EXPECT_EQ(form->Label1.caption(), "Interval in minutes 1-60/Next update approx.  3 minutes from now...");
    form->Slider1.setValue(0);
    EXPECT_EQ(form->Slider1.value(), 1);
    EXPECT_TRUE(form->Timer1.enabled());
}

}  // namespace
}  // namespace qm::test
