// The batch run: entries in file order, the snapshot batch.dat, the busy
// window, the state after the run, and what happens during it.
#include "fixture.h"

namespace qm::test {
namespace {

using RunTest = EngineTest;

TEST_F(RunTest, ABatchOfOneIsReplicatedOnceAndLeavesItsSnapshot) {
    load({{"s", "t", "NO"}});
    file("s/a.txt", "a");
    run();
    EXPECT_EQ(eos.copied, (std::vector<std::string>{data / "s/a.txt"}));
    EXPECT_EQ(eos.count(eos.written, "batch.dat"), 1) << "one call of NextBatchEntry";
    EXPECT_EQ(read(prog / "batch.dat"), read(prog / "BATCH.INI"));
    EXPECT_EQ(eos.count(eos.removed, "batch.dat"), 0);
}

TEST_F(RunTest, ThreeEntriesRunInFileOrderThroughThreeSnapshots) {
    load({{"s1", "t1", "NO"}, {"s2", "t2", "NO"}, {"s3", "t3", "NO"}});
    for (auto i : {"1", "2", "3"}) file(std::string("s") + i + "/a.txt", i);
    run();
    EXPECT_EQ(eos.copied,
              (std::vector<std::string>{data / "s1/a.txt", data / "s2/a.txt", data / "s3/a.txt"}));
    for (auto i : {"1", "2", "3"}) EXPECT_EQ(at(std::string("t") + i + "/a.txt"), i);
    EXPECT_EQ(eos.count(eos.written, "batch.dat"), 3);
    EXPECT_EQ(eos.count(eos.removed, "batch.dat"), 2);
    EXPECT_TRUE(exists(prog / "batch.dat"));
    EXPECT_EQ(form->engine().BatchCursor, 0) << "the tick resets the cursor";
}

TEST_F(RunTest, AnEntryWhoseTargetWasRemovedIsDroppedAndTheOthersKeepTheirOrder) {
    load({{"s1", "t1", "NO"}, {"s2", "t2", "NO"}, {"s3", "t3", "NO"}});
    file("s1/a.txt", "1");
    file("s2/a.txt", "2");
    file("s3/a.txt", "3");
    remove_tree(data / "t2");
    run();
    EXPECT_EQ(eos.copied, (std::vector<std::string>{data / "s1/a.txt", data / "s3/a.txt"}));
    EXPECT_FALSE(has("t2"));
    EXPECT_EQ(batch::split_lines(read(prog / "BATCH.INI")),
              (std::vector<std::string>{
                  "[batch]", "Source:" + (data / "s1"), "Target:" + (data / "t1"), "Subs:NO",
                  "Source:" + (data / "s3"), "Target:" + (data / "t3"), "Subs:NO"}));
    EXPECT_EQ(form->List1.listCount(), 8);
}

TEST_F(RunTest, TheWindowIsBusyDuringTheRunAndIdleAfterIt) {
    load({{"s1", "t1", "NO"}, {"s2", "t2", "YES"}});
    file("s1/a.txt", "a");
    file("s2/sub/b.txt", "b");
    int checks = 0;
    pump.hook = [&] {
        if (!form->running()) return;
        ++checks;
        EXPECT_EQ(form->Label1.caption(), "BUSY...");
        EXPECT_FALSE(form->Check2.enabled());
        EXPECT_FALSE(form->Command1.enabled());
        EXPECT_FALSE(form->Command2.enabled());
        EXPECT_FALSE(form->Command5.enabled());
        // The batch list and its remove button stay as they were.
        EXPECT_TRUE(form->List1.enabled());
    };
    run();
    EXPECT_GT(checks, 3);
    EXPECT_TRUE(form->Check2.enabled());
    EXPECT_TRUE(form->Command1.enabled());
    EXPECT_TRUE(form->Command2.enabled());
    EXPECT_FALSE(form->Command5.enabled());
    EXPECT_FALSE(form->running());
    // The first entry is shown again and the countdown starts over.
    EXPECT_EQ(form->BronTree.path(), data / "s1");
    EXPECT_EQ(form->Doeltree.path(), data / "t1");
    EXPECT_EQ(form->Text3.text(), data / "s1");
    EXPECT_EQ(form->Text4.text(), data / "t1");
    EXPECT_EQ(form->SubsValue, "NO");
    EXPECT_EQ(form->MinuteCounter, 0);
    EXPECT_EQ(form->Label1.caption(),
              "Interval in minutes 1-60/Next update approx.  1 minutes from now...");
    EXPECT_EQ(form->engine().SourceRoot, os::with_separator(data / "s2"));
    EXPECT_EQ(form->engine().TargetRoot, os::with_separator(data / "t2"));
    EXPECT_TRUE(names(lists.path()).empty());
}

TEST_F(RunTest, ATickDuringARunIsIgnored) {
    load({{"s1", "t1", "NO"}, {"s2", "t2", "NO"}});
    file("s1/a.txt", "a");
    file("s2/b.txt", "b");
    int ticks = 0;
    std::string treeAtTick;
    pump.hook = [&] {
        if (!form->running() || ticks >= 4) return;
        ++ticks;
        const int counter = form->MinuteCounter;
        const auto written =
            eos.count(eos.written, "BATCH.INI") + eos.count(eos.written, "batch.new");
        const auto tree = form->BronTree.path();
        form->Timer1_Timer();
        EXPECT_EQ(form->MinuteCounter, counter) << "a tick during a run does not count";
        EXPECT_EQ(eos.count(eos.written, "BATCH.INI") + eos.count(eos.written, "batch.new"),
                  written)
            << "nor checks the batch file";
        EXPECT_EQ(form->BronTree.path(), tree) << "nor moves the pickers";
        EXPECT_EQ(form->Label1.caption(), "BUSY...");
    };
    run();
    EXPECT_EQ(ticks, 4) << "a tick at every yield of the run";
    EXPECT_EQ(eos.copied, (std::vector<std::string>{data / "s1/a.txt", data / "s2/b.txt"}));
    EXPECT_EQ(eos.count(eos.written, "batch.dat"), 2) << "one run, not several";
    // Ticks count again after the run.
    form->Slider1.setValue(3);
    form->Timer1_Timer();
    EXPECT_EQ(form->MinuteCounter, 1);
}

TEST_F(RunTest, ASliderChangeDuringARunTakesEffectForTheNextRun) {
    load({{"s1", "t1", "NO"}, {"s2", "t2", "NO"}});
    file("s1/a.txt", "a");
    file("s2/b.txt", "b");
    runWith([&] { form->Slider1.setValue(3); });
    EXPECT_EQ(at("t1/a.txt"), "a");
    EXPECT_EQ(at("t2/b.txt"), "b");
    EXPECT_EQ(form->MinuteCounter, 0);
    EXPECT_EQ(form->Label1.caption(),
              "Interval in minutes 1-60/Next update approx.  3 minutes from now...");
    file("s1/c.txt", "c");
    form->Timer1_Timer();
    form->Timer1_Timer();
    EXPECT_FALSE(has("t1/c.txt"));
    form->Timer1_Timer();
    EXPECT_EQ(at("t1/c.txt"), "c");
}

TEST_F(RunTest, ExitDuringARunEndsItAndLeavesTheTickAlone) {
    load({{"s1", "t1", "NO"}, {"s2", "t2", "NO"}});
    file("s1/a.txt", "a");
    file("s2/b.txt", "b");
    const auto ini = read(prog / "BATCH.INI");
    runWith([&] { form->Exit_Click(); }, [&] { return has("t1/a.txt"); });
    EXPECT_TRUE(form->ended());
    EXPECT_FALSE(form->running());
    EXPECT_FALSE(has("t2/b.txt")) << "no further entry after the end";
    EXPECT_FALSE(form->Timer1.enabled());
    EXPECT_TRUE(names(lists.path()).empty());
    EXPECT_EQ(read(prog / "BATCH.INI"), ini);
}

TEST_F(RunTest, AnEntryWhoseSourceIsItsTargetCopiesAndDeletesNothing) {
    load({{"s", "s", "YES"}, {"s2", "t2", "NO"}});
    file("s/a.txt", "a");
    file("s/sub/b.txt", "b");
    file("s2/c.txt", "c");
    form->Movefiles_Click();
    run();
    EXPECT_EQ(eos.copied, (std::vector<std::string>{data / "s2/c.txt"}));
    EXPECT_EQ(at("s/a.txt"), "a");
    EXPECT_EQ(at("s/sub/b.txt"), "b");
    EXPECT_EQ(logWith("is the same directory").size(), 1u);
    EXPECT_TRUE(sleeper.slept.size() == 1u) << "the entry is not even listed";
}

TEST_F(RunTest, ABatchOfOnlyThePlaceholderListsAndCopiesNothing) {
    load({{"s", "t", "NO"}});
    const std::string root = os::placeholder_root();
    write(prog / "BATCH.INI",
          batch::join_lines({"[batch]", "Source:" + root, "Target:" + root, "Subs:YES"}));
    run();
    EXPECT_TRUE(eos.copied.empty());
    EXPECT_TRUE(sleeper.slept.empty()) << "the root of the drive was not listed";
    EXPECT_FALSE(form->running());
}

TEST_F(RunTest, AnEntryThatVanishedDuringTheRunIsSkippedWithALogLine) {
    load({{"s1", "t1", "NO"}, {"s2", "t2", "NO"}, {"s3", "t3", "NO"}});
    file("s1/a.txt", "1");
    file("s2/a.txt", "2");
    file("s3/a.txt", "3");
    runWith([&] { remove_tree(data / "s2"); });
    EXPECT_EQ(at("t1/a.txt"), "1");
    EXPECT_EQ(at("t3/a.txt"), "3");
    EXPECT_FALSE(has("t2/a.txt"));
    ASSERT_EQ(logWith(data / "s2").size(), 1u);
    EXPECT_NE(logWith(data / "s2")[0].find("not replicated"), std::string::npos);
    // The tick after the run drops it from the batch.
    EXPECT_EQ(batch::split_lines(read(prog / "BATCH.INI")).size(), 7u);
}

TEST_F(RunTest, ASnapshotThatCannotBeWrittenEndsTheRunWithALogLine) {
    load({{"s1", "t1", "NO"}, {"s2", "t2", "NO"}});
    file("s1/a.txt", "1");
    file("s2/a.txt", "2");
    eos.writeFault = Fault{"batch.dat", -1, os::Errc::access, "injected denial"};
    run();
    EXPECT_EQ(at("t1/a.txt"), "1");
    EXPECT_FALSE(has("t2/a.txt"));
    EXPECT_EQ(logWith("injected denial").size(), 1u);
    EXPECT_FALSE(form->running());
    EXPECT_TRUE(form->Command1.enabled());
    EXPECT_EQ(form->Label1.caption(), form->countdownText(false));
}

}  // namespace
}  // namespace qm::test
