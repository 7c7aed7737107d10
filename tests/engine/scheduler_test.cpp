// The interval scheduler: ticks count to the slider's position, the
// countdown line in its two forms, and the slider's change.
#include "fixture.h"

namespace qm::test {
namespace {

class SchedulerTest : public EngineTest {
protected:
    SchedulerTest() {
        writeBatch({{"s", "t", "NO"}});
        file("s/a.txt", "a");
        ui::Services s;
        s.dialogs = &dialogs;
        s.pump = &pump;
        s.sleeper = &sleeper;
        s.clock = &clock;
        form = std::make_unique<ui::Form1>(s);
        form->Form_Load();
    }
    // Ticks until the batch has run; how many ticks that took.
    int ticksToRun(int limit = 100) {
        const auto before = eos.count(eos.written, "batch.dat");
        for (int i = 1; i <= limit; ++i) {
            form->Timer1_Timer();
            if (eos.count(eos.written, "batch.dat") > before) return i;
        }
        return -1;
    }
    static std::string spaced(int n) {
        return "Interval in minutes 1-60 /Next update approx.  " + std::to_string(n) +
               " minutes from now...";
    }
    static std::string unspaced(int n) {
        return "Interval in minutes 1-60/Next update approx.  " + std::to_string(n) +
               " minutes from now...";
    }
};

TEST_F(SchedulerTest, AtStartTheFirstFormShowsTheStartingPositionAndTheRunComesAtTheSixtiethTick) {
    EXPECT_EQ(form->Slider1.value(), 60);
    EXPECT_EQ(form->Timer1.interval(), 65535);
    EXPECT_TRUE(form->Timer1.enabled());
    EXPECT_EQ(form->Label1.caption(), spaced(60));
    form->Timer1_Timer();
    EXPECT_EQ(form->Label1.caption(), unspaced(59)) << "a tick without a run";
    EXPECT_EQ(ticksToRun(), 59);
    EXPECT_EQ(at("t/a.txt"), "a");
    EXPECT_EQ(form->Label1.caption(), unspaced(60))
        << "the tick of the run shows the full interval";
    EXPECT_EQ(form->MinuteCounter, 0);
}

TEST_F(SchedulerTest, MovingTheSliderRestartsTheCountAtOnce) {
    for (int i = 0; i < 3; ++i) form->Timer1_Timer();
    EXPECT_EQ(form->Label1.caption(), unspaced(57));
    int timerChanges = 0;
    form->Timer1.changed.connect([&] { ++timerChanges; });
    form->Slider1.setValue(5);
    EXPECT_EQ(timerChanges, 2) << "the timer is stopped and started again: a fresh period";
    EXPECT_TRUE(form->Timer1.enabled());
    EXPECT_EQ(form->Label1.caption(), spaced(5));
    EXPECT_EQ(form->MinuteCounter, 0);
    for (int left : {4, 3, 2, 1}) {
        form->Timer1_Timer();
        EXPECT_EQ(form->Label1.caption(), unspaced(left));
    }
    EXPECT_FALSE(has("t/a.txt"));
    EXPECT_EQ(ticksToRun(), 1) << "five ticks after the move, not two";
    EXPECT_EQ(form->Label1.caption(), unspaced(5));
}

TEST_F(SchedulerTest, ASliderMovedToZeroJumpsToOneAndRunsAtTheNextTick) {
    form->Slider1.setValue(0);
    EXPECT_EQ(form->Slider1.value(), 1);
    EXPECT_EQ(form->Label1.caption(), spaced(1));
    EXPECT_EQ(ticksToRun(), 1);
    EXPECT_EQ(ticksToRun(), 1) << "and at every tick after it";
}

TEST_F(SchedulerTest, OnlyEqualityStartsARun) {
    form->Slider1.setValue(10);
    for (int i = 0; i < 7; ++i) form->Timer1_Timer();
    // A counter beyond the position never runs the batch.
    form->MinuteCounter = 11;
    EXPECT_EQ(ticksToRun(20), -1);
    EXPECT_EQ(form->Label1.caption(),
              "Interval in minutes 1-60/Next update approx. -21 minutes from now...");
}

TEST_F(SchedulerTest, EveryTickChecksTheBatchFile) {
    form->Slider1.setValue(3);
    write(prog / "BATCH.INI",
          batch::join_lines({"[batch]", "Source:" + (data / "s"), "Target:" + (data / "gone"),
                             "Subs:NO", "Source:" + (data / "s"), "Target:" + (data / "t"),
                             "Subs:NO"}));
    form->Timer1_Timer();
    EXPECT_EQ(batch::split_lines(read(prog / "BATCH.INI")).size(), 4u) << "repaired without a run";
    EXPECT_EQ(form->Text4.text(), data / "t");
    EXPECT_EQ(form->engine().BatchCursor, 0);
    // With every directory gone only the placeholder entry is left.
    remove_tree(data / "s");
    remove_tree(data / "t");
    form->Timer1_Timer();
    const std::string root = os::placeholder_root();
    EXPECT_EQ(batch::split_lines(read(prog / "BATCH.INI")),
              (std::vector<std::string>{"[batch]", "Source:" + root, "Target:" + root, "Subs:NO"}));
}

}  // namespace
}  // namespace qm::test
