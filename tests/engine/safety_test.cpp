// Nothing is lost and nothing half done: move mode, faults at each step of
// a copy, the program ending in the middle of one, and leftovers.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "fixture.h"

namespace qm::test {
namespace {

using SafetyTest = EngineTest;

const std::string kPrecious = "precious bytes\r\nwith a second line\n";

TEST_F(SafetyTest, MoveModeDeletesOnlyTheSourcesItCopied) {
    load({{"s", "t", "YES"}});
    file("s/move.txt", "move");
    file("s/same.txt", "same");
    file("t/same.txt", "same");
    file("s/sub/deep.txt", "deep");
    form->Movefiles_Click();
    run();
    EXPECT_EQ(at("t/move.txt"), "move");
    EXPECT_EQ(mtime("t/move.txt"), kTime);
    EXPECT_FALSE(has("s/move.txt"));
    EXPECT_EQ(at("t/sub/deep.txt"), "deep");
    EXPECT_FALSE(has("s/sub/deep.txt"));
    EXPECT_TRUE(has("s/sub")) << "directories are never removed";
    EXPECT_EQ(at("s/same.txt"), "same") << "an identical target does not make a move";
    EXPECT_EQ(log(), (std::vector<std::string>{copiedLine(1), copiedLine(1)}));
}

// One fault at a time, in front of the platform layer, in move mode.
struct FaultCase {
    const char* step;
    std::optional<Fault> EngineOs::*fault;
    const char* where;  // the path the fault hits, below the data directory
    bool copied;        // the target holds the copy afterwards
};

class MoveFaultTest : public EngineTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(MoveFaultTest, NoSourceIsLostNoPartialTargetAndTheLogSaysWhy) {
    const FaultCase& c = GetParam();
    load({{"s", "t", "NO"}});
    file("s/precious.txt", kPrecious);
    file("s/z-other.txt", "other");
    form->Movefiles_Click();
    // Once only: the other file, handled after it, meets no fault.
    eos.*c.fault =
        Fault{data / c.where, 1, os::Errc::io, std::string("injected ") + c.step + " failure"};
    run();

    EXPECT_EQ(at("s/precious.txt"), kPrecious) << "the source is kept byte for byte";
    EXPECT_EQ(mtime("s/precious.txt"), kTime);
    if (c.copied) {
        EXPECT_EQ(at("t/precious.txt"), kPrecious);
        EXPECT_EQ(mtime("t/precious.txt"), kTime);
    } else {
        EXPECT_FALSE(has("t/precious.txt")) << "nothing under the target's name";
    }
    EXPECT_TRUE(temporaries("t").empty());
    EXPECT_EQ(at("t/z-other.txt"), "other");
    EXPECT_FALSE(has("s/z-other.txt"));

    const auto said = logWith(std::string("injected ") + c.step + " failure");
    ASSERT_EQ(said.size(), 1u) << "one line names the failure";
    EXPECT_EQ(said[0].rfind("03-04-2026/05:06:07- ", 0), 0u) << said[0];
    EXPECT_NE(said[0].find(data / "s/precious.txt"), std::string::npos) << said[0];
    EXPECT_EQ(logWith("files copied/moved"),
              (std::vector<std::string>{copiedLine(c.copied ? 2 : 1)}))
        << "only real copies count";

    // The next run copies what was not copied; a source whose copy is
    // already identical stays, as for any identical pair.
    run();
    EXPECT_EQ(at("t/precious.txt"), kPrecious);
    EXPECT_EQ(has("s/precious.txt"), c.copied);
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, MoveFaultTest,
    ::testing::Values(FaultCase{"copy", &EngineOs::copyFault, "s/precious.txt", false},
                      FaultCase{"rename", &EngineOs::renameFault, "t/precious.txt", false},
                      FaultCase{"flush", &EngineOs::flushFault, "t", true},
                      FaultCase{"stat", &EngineOs::statFault, "t/precious.txt", true},
                      FaultCase{"delete", &EngineOs::deleteFault, "s/precious.txt", true}),
    [](const auto& info) { return std::string(info.param.step); });

TEST_F(SafetyTest, AFaultDuringTheCopyLeavesTheOldTargetWhole) {
    load({{"s", "t", "NO"}});
    file("s/report.txt", "the new version, longer than the old one");
    file("t/report.txt", "old version", kTime - 3600);
    for (auto f : {&EngineOs::copyFault, &EngineOs::renameFault}) {
        eos.*f = Fault{"report"};
        run();
        eos.*f = std::nullopt;
        EXPECT_EQ(at("t/report.txt"), "old version");
        EXPECT_EQ(mtime("t/report.txt"), kTime - 3600);
        EXPECT_TRUE(temporaries("t").empty());
    }
    EXPECT_EQ(logWith("report.txt: not copied").size(), 2u);
    EXPECT_TRUE(logWith("files copied/moved").empty());
}

// Copies whose sources stay are flushed together: every thousand files and
// at the end of each entry, across its directories. A copy whose source
// goes is flushed by itself, with its directory entry, before the delete.
TEST_F(SafetyTest, CopiesAreFlushedTogetherAndMovesOneByOne) {
    load({{"s", "t", "YES"}, {"s2", "t2", "NO"}});
    for (auto n : {"a", "b", "c"}) file(std::string("s/") + n, n);
    file("s/sub/d", "d");
    file("s2/e", "e");
    run();
    EXPECT_EQ(eos.durables, (std::vector<bool>(5, false)));
    using Paths = std::vector<std::string>;
    EXPECT_EQ(eos.flushedFiles,
              (std::vector<Paths>{{data / "t/a", data / "t/b", data / "t/c", data / "t/sub/d"},
                                  {data / "t2/e"}}))
        << "one flush an entry";

    eos.durables.clear();
    eos.flushedFiles.clear();
    std::vector<std::size_t> flushesAtDelete;
    eos.beforeRemove = [&](const std::string& p) {
        if (p.rfind(data / "s", 0) == 0) flushesAtDelete.push_back(eos.flushedFiles.size());
    };
    form->Movefiles_Click();
    for (auto n : {"f", "g"}) file(std::string("s/") + n, n);
    run();
    EXPECT_EQ(eos.durables, (std::vector<bool>{true, true}));
    EXPECT_EQ(eos.flushedFiles, (std::vector<Paths>{{data / "t/f"}, {data / "t/g"}}));
    EXPECT_EQ(flushesAtDelete, (std::vector<std::size_t>{1, 2})) << "each flush before its delete";
    EXPECT_FALSE(has("s/f"));
    EXPECT_FALSE(has("s/g"));
    EXPECT_EQ(at("t/g"), "g");
}

TEST_F(SafetyTest, AThousandCopiesAreFlushedBeforeTheNextOne) {
    load({{"s", "t", "NO"}});
    for (int i = 0; i < 1001; ++i) file("s/f" + std::to_string(1000 + i), "x");
    run();
    ASSERT_EQ(eos.flushedFiles.size(), 2u);
    EXPECT_EQ(eos.flushedFiles[0].size(), 1000u);
    EXPECT_EQ(eos.flushedFiles[1], std::vector<std::string>{data / "t/f2000"});
    EXPECT_EQ(at("t/f2000"), "x");
}

// The first thousand are flushed while the next copy is made: the flush
// waits for that copy, which would never come if the flush held up the run.
TEST_F(SafetyTest, ABatchIsFlushedWhileTheNextCopiesAreMade) {
    load({{"s", "t", "NO"}});
    for (int i = 0; i < 1001; ++i) file("s/f" + std::to_string(1000 + i), "x");
    std::atomic<bool> lastCopied{false};
    std::atomic<bool> seenByFlush{false};
    eos.duringCopy = [&](const std::string& to) {
        if (eos.copied.size() == 1001) lastCopied = true;
        (void)to;
    };
    eos.duringFlush = [&](const std::vector<std::string>& paths) {
        if (paths.size() != 1000) return;
        for (int i = 0; i < 500 && !lastCopied; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        seenByFlush = lastCopied.load();
    };
    run();
    EXPECT_TRUE(seenByFlush) << "the run waited for the flush before the next copy";
    ASSERT_EQ(eos.flushedFiles.size(), 2u);
    EXPECT_EQ(eos.flushedFiles[1], std::vector<std::string>{data / "t/f2000"});
    EXPECT_EQ(at("t/f2000"), "x");
}

// A batch flushed behind the copying that fails is said once, for its own
// entry, and its sources stay; the rest are flushed as usual.
TEST_F(SafetyTest, AFailedFlushBehindTheCopyingIsLoggedForItsEntry) {
    load({{"s", "t", "NO"}, {"s2", "t2", "NO"}});
    for (int i = 0; i < 1001; ++i) file("s/f" + std::to_string(1000 + i), "x");
    file("s2/c.txt", "c");
    eos.flushFault = Fault{data / "t/f1000", 1, os::Errc::io, "injected flush failure"};
    run();
    const auto said = logWith("injected flush failure");
    ASSERT_EQ(said.size(), 1u);
    EXPECT_NE(said[0].find(os::with_separator(data / "t") + ": not flushed to disk"),
              std::string::npos)
        << said[0];
    EXPECT_EQ(at("s/f1000"), "x");
    ASSERT_EQ(eos.flushedFiles.size(), 3u);
    EXPECT_EQ(eos.flushedFiles[1], std::vector<std::string>{data / "t/f2000"});
    EXPECT_EQ(eos.flushedFiles[2], std::vector<std::string>{data / "t2/c.txt"});
    EXPECT_EQ(at("t2/c.txt"), "c");
}

// Move mode switched on between a copy and its delete: that copy was not
// flushed by itself, so it is flushed before its source goes.
TEST_F(SafetyTest, AMoveDecidedAfterTheCopyFlushesThatCopyFirst) {
    load({{"s", "t", "NO"}});
    file("s/late.txt", "late");
    runWith([&] { form->Movefiles_Click(); }, [&] { return has("t/late.txt"); });
    EXPECT_EQ(eos.durables, (std::vector<bool>{false}));
    EXPECT_EQ(eos.flushedFiles, std::vector<std::vector<std::string>>{{data / "t/late.txt"}});
    EXPECT_FALSE(has("s/late.txt"));
    EXPECT_EQ(at("t/late.txt"), "late");
}

// A flush that fails is said once; its copies' sources stay, and later
// copies are flushed as usual.
TEST_F(SafetyTest, AFailedFlushInCopyModeIsLoggedAndKeepsTheSources) {
    load({{"s", "t", "NO"}, {"s2", "t2", "NO"}});
    file("s/a.txt", "a");
    file("s/b.txt", "b");
    file("s2/c.txt", "c");
    eos.flushFault = Fault{data / "t", 1, os::Errc::io, "injected flush failure"};
    run();
    EXPECT_EQ(at("s/a.txt"), "a");
    EXPECT_EQ(at("t/b.txt"), "b");
    const auto said = logWith("injected flush failure");
    ASSERT_EQ(said.size(), 1u);
    EXPECT_NE(said[0].find(os::with_separator(data / "t") + ": not flushed to disk"),
              std::string::npos)
        << said[0];
    EXPECT_TRUE(temporaries("t").empty());
    ASSERT_EQ(eos.flushedFiles.size(), 2u);
    EXPECT_EQ(eos.flushedFiles[1], std::vector<std::string>{data / "t2/c.txt"});
}

TEST_F(SafetyTest, ACopyInFlightIsNeverSeenUnderTheTargetName) {
    load({{"s", "t", "NO"}});
    file("s/big.bin", std::string(9u << 20, 'b'));
    file("t/big.bin", "old", kTime - 60);
    std::vector<std::string> seen;
    eos.duringCopy = [&](const std::string& to) {
        EXPECT_NE(to, data / "t/big.bin") << "written straight into the target name";
        seen.push_back(at("t/big.bin"));
    };
    run();
    ASSERT_FALSE(seen.empty());
    for (const auto& s : seen) EXPECT_EQ(s, "old");
    EXPECT_EQ(at("t/big.bin").size(), 9u << 20);
}

TEST_F(SafetyTest, ASourceChangedAfterItsCopyIsKeptAndCopiedAgainNextTime) {
    load({{"s", "t", "NO"}});
    file("s/live.log", "first");
    form->Movefiles_Click();
    // The yield right after the copy, before the delete.
    runWith([&] { file("s/live.log", "first and more", kTime + 5); },
            [&] { return has("t/live.log"); });
    EXPECT_EQ(at("s/live.log"), "first and more");
    EXPECT_EQ(at("t/live.log"), "first");
    EXPECT_EQ(logWith("live.log: kept").size(), 1u);
    run();
    EXPECT_EQ(at("t/live.log"), "first and more");
    EXPECT_FALSE(has("s/live.log"));
}

TEST_F(SafetyTest, ExitInTheMiddleOfALargeCopyLeavesNoFileUnderTheTargetName) {
    load({{"s", "t", "YES"}});
    file("s/big.bin", std::string(12u << 20, 'x'));
    file("s/sub/later.txt", "later");
    // Slow chunks, so that the copy yields between them.
    eos.duringCopy = [](const std::string&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(35));
    };
    std::vector<std::string> tempsAtExit;
    runWith(
        [&] {
            tempsAtExit = temporaries("t");
            form->Exit_Click();
        },
        [&] { return !temporaries("t").empty(); });
    EXPECT_TRUE(form->ended());
    EXPECT_EQ(app.quits, 1);
    EXPECT_EQ(tempsAtExit.size(), 1u);
    EXPECT_FALSE(has("t/big.bin"));
    EXPECT_TRUE(temporaries("t").empty()) << "the temporary copy is removed";
    EXPECT_FALSE(has("t/sub")) << "the run stopped at once";
    EXPECT_EQ(at("s/big.bin").size(), 12u << 20);
    EXPECT_FALSE(form->running());
    EXPECT_TRUE(names(lists.path()).empty());
    // A tick after the end does nothing.
    form->Timer1_Timer();
    EXPECT_FALSE(has("t/big.bin"));
}

TEST_F(SafetyTest, ExitBetweenACopyAndItsDeleteKeepsBoth) {
    load({{"s", "t", "NO"}});
    file("s/a.txt", "a");
    file("s/b.txt", "b");
    form->Movefiles_Click();
    runWith([&] { form->Exit_Click(); }, [&] { return has("t/a.txt"); });
    EXPECT_EQ(at("t/a.txt"), "a");
    EXPECT_EQ(at("s/a.txt"), "a");
    EXPECT_FALSE(has("t/b.txt"));
    EXPECT_EQ(at("s/b.txt"), "b");
    EXPECT_FALSE(form->running());
}

TEST_F(SafetyTest, ExitDuringTheListingStopsBeforeAnyCopy) {
    load({{"s", "t", "YES"}});
    file("s/a.txt", "a");
    file("s/sub/b.txt", "b");
    runWith([&] { form->Exit_Click(); });
    EXPECT_TRUE(eos.copied.empty());
    EXPECT_TRUE(sleeper.slept.empty());
    EXPECT_TRUE(names(lists.path()).empty());
    EXPECT_EQ(form->mousePointer(), ui::MousePointer::Default);
    EXPECT_FALSE(form->running());
}

TEST_F(SafetyTest, LeftoverTemporaryFilesAreRemovedByTheNextRun) {
    load({{"s", "t", "YES"}});
    file("t/.qm-0123abcd.part", "half a copy");
    file("t/sub/.qm-ffff0000.part", "half another");
    file("t/.qm-notours.part", "a user's file of a similar name");
    file("t/.keep", "a user's own hidden file");
    file("s/sub/x.txt", "x");
    run();
    EXPECT_FALSE(has("t/.qm-0123abcd.part"));
    EXPECT_FALSE(has("t/sub/.qm-ffff0000.part"));
    EXPECT_TRUE(has("t/.qm-notours.part"));
    EXPECT_TRUE(has("t/.keep"));
}

}  // namespace
}  // namespace qm::test
