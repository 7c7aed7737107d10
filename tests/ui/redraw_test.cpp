// Drawing at a human rate: changes between two frames are drawn once, from
// the model's latest state, and a change after a quiet spell at once.
#include "ui/redraw.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qm::ui {
namespace {

using namespace std::chrono_literals;

class RedrawTest : public ::testing::Test {
protected:
    RedrawTest() {
        redraw.now = [this] { return t; };
        redraw.schedule = [this](int ms) { asked.push_back(ms); };
        redraw.follow(label.changed, [this] { shownLabel.push_back(label.caption()); });
        redraw.follow(bar.changed, [this] { shownValue.push_back(bar.value()); });
    }

    Redraw::Clock::time_point t = Redraw::Clock::time_point{} + 1h;
    Redraw redraw{40ms};  // a frame every 40 ms, whatever the views use
    Label label{"Label1", "Form1", {}, 0};
    ProgressBar bar{"ProgressBar1", "Form1", {}, 0};
    std::vector<int> asked;
    std::vector<std::string> shownLabel;
    std::vector<int> shownValue;
};

TEST_F(RedrawTest, ManyChangesBetweenFramesAreDrawnOnceWithTheLatestState) {
    for (int i = 0; i < 1000; ++i) bar.setValue(i);
    label.setCaption("BUSY...");
    label.setCaption("Interval");
    // One frame asked for, at once after a quiet spell; nothing drawn yet.
    EXPECT_EQ(asked, std::vector<int>({0}));
    EXPECT_TRUE(shownValue.empty());
    EXPECT_TRUE(redraw.pending());
    redraw.frame();
    EXPECT_EQ(shownValue, std::vector<int>({999}));
    EXPECT_EQ(shownLabel, std::vector<std::string>({"Interval"}));
    EXPECT_FALSE(redraw.pending());
    EXPECT_EQ(redraw.frames(), 1);
    EXPECT_EQ(redraw.draws(), 2);
    // A frame with nothing changed draws nothing.
    t += 1s;
    redraw.frame();
    EXPECT_EQ(redraw.draws(), 2);
}

TEST_F(RedrawTest, AStreamOfChangesIsDrawnAtMostOnceAFrame) {
    bar.setValue(1);
    redraw.frame();
    // 10 ms after a frame: the next one is asked for 30 ms later.
    t += 10ms;
    bar.setValue(2);
    bar.setValue(3);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[1], 30);
    t += 30ms;
    redraw.frame();
    EXPECT_EQ(shownValue, std::vector<int>({1, 3}));
    // Long after: at once again.
    t += 200ms;
    label.setCaption("x");
    EXPECT_EQ(asked.back(), 0);
}

TEST_F(RedrawTest, OnlyChangedPartsAreDrawnAndAnUnchangedValueRaisesNothing) {
    bar.setValue(5);
    redraw.frame();
    bar.setValue(5);  // the same value: no change
    EXPECT_FALSE(redraw.pending());
    t += 1s;
    label.setCaption("a");
    redraw.frame();
    EXPECT_EQ(shownValue, std::vector<int>({5}));
    EXPECT_EQ(shownLabel, std::vector<std::string>({"a"}));
}

TEST_F(RedrawTest, AChangeMadeWhileDrawingIsDrawnByTheNextFrame) {
    Label other{"Label2", "Form1", {}, 0};
    int drawnOther = 0;
    // A drawer that changes the model (it should not, but must not loop).
    redraw.follow(other.changed, [&] {
        ++drawnOther;
        bar.setValue(bar.value() + 1);
    });
    bar.setValue(1);
    redraw.frame();
    other.setCaption("go");
    t += 1s;
    redraw.frame();
    EXPECT_EQ(drawnOther, 1);
    // The bar was drawn in the first frame; its new value waits, asked for.
    EXPECT_EQ(shownValue, std::vector<int>({1}));
    EXPECT_TRUE(redraw.pending());
    EXPECT_EQ(asked.back(), 40);
    t += 40ms;
    redraw.frame();
    EXPECT_EQ(shownValue, std::vector<int>({1, 2}));
}

TEST_F(RedrawTest, TouchRedrawsAPartTheViewKnowsIsOutOfStep) {
    bar.setValue(4);
    redraw.frame();
    redraw.touch(1);
    redraw.touch(99);  // no such part: ignored
    t += 1s;
    redraw.frame();
    EXPECT_EQ(shownValue, std::vector<int>({4, 4}));
    EXPECT_EQ(redraw.parts(), 2u);
}

TEST_F(RedrawTest, AHeldRedrawDrawsNothingUntilReleasedThenTheLatestStateOnce) {
    bar.setValue(1);
    ASSERT_EQ(asked.size(), 1u);
    redraw.hold(true);
    // A frame already asked for draws nothing while held, and nothing new
    // is asked for however much changes.
    redraw.frame();
    for (int i = 2; i < 500; ++i) bar.setValue(i);
    label.setCaption("BUSY...");
    t += 1s;
    redraw.frame();
    EXPECT_TRUE(shownValue.empty());
    EXPECT_TRUE(shownLabel.empty());
    EXPECT_EQ(asked.size(), 1u);
    EXPECT_EQ(redraw.frames(), 0);
    EXPECT_TRUE(redraw.pending());
    // Released: one frame asked for at once, drawing each part once.
    redraw.hold(false);
    EXPECT_EQ(asked, std::vector<int>({0, 0}));
    redraw.frame();
    EXPECT_EQ(shownValue, std::vector<int>({499}));
    EXPECT_EQ(shownLabel, std::vector<std::string>({"BUSY..."}));
    EXPECT_FALSE(redraw.pending());
    // Held and released with nothing changed: no frame asked for.
    redraw.hold(true);
    redraw.hold(false);
    EXPECT_EQ(asked.size(), 2u);
}

}  // namespace
}  // namespace qm::ui
