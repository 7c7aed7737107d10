// What both views do with the window model, through a toolkit that records
// what it is asked to make and draw.
#include "ui/viewadapter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "support/fakes.h"
#include "support/tempdir.h"
#include "ui/form1.h"

namespace qm::test {
namespace {

using namespace std::chrono_literals;

// Records every call as a line: "make Label1", "draw Label1 <content>",
// "state Command1 0 1" (enabled, visible), "frame in 0", "ticks 65535"...
class RecordingToolkit final : public ui::ViewToolkit, public ui::WidgetMaker {
public:
    std::vector<std::string> log;
    std::vector<std::string> made;

    // The lines logged since the last call.
    std::vector<std::string> take() {
        std::vector<std::string> out;
        out.swap(log);
        return out;
    }
    // How many lines of what was logged start with prefix.
    static int count(const std::vector<std::string>& lines, const std::string& prefix) {
        return static_cast<int>(std::count_if(
            lines.begin(), lines.end(), [&](const auto& l) { return l.rfind(prefix, 0) == 0; }));
    }

    Draw make(ui::Frame& c) override { return made_(c, nullptr); }
    Draw make(ui::Button& c) override { return made_(c, nullptr); }
    Draw make(ui::Label& c) override {
        return made_(c, [&c] { return c.caption(); });
    }
    Draw make(ui::TextBox& c) override {
        return made_(c, [&c] { return c.text(); });
    }
    Draw make(ui::CheckBox& c) override {
        return made_(c, [&c] { return std::to_string(c.value()); });
    }
    Draw make(ui::ListBox& c) override {
        return made_(c, [&c] {
            return std::to_string(c.listCount()) + " " + std::to_string(c.listIndex());
        });
    }
    Draw make(ui::Slider& c) override {
        return made_(c, [&c] { return std::to_string(c.value()); });
    }
    Draw make(ui::ProgressBar& c) override {
        return made_(c, [&c] { return std::to_string(c.value()); });
    }
    Draw make(ui::DriveList& c) override {
        return made_(c, [&c] { return c.drive(); });
    }
    Draw make(ui::DirectoryList& c) override {
        return made_(c, [&c] { return c.path(); });
    }
    Draw make(ui::MenuItem& m) override {
        made.push_back(m.name());
        // Menus themselves draw nothing; their items draw their mark.
        if (m.parent().empty()) return {};
        return [this, &m] {
            log.push_back("draw " + m.name() + " " + std::to_string(m.checked()) + " " +
                          std::to_string(m.enabled()));
        };
    }
    void drawState(ui::Control& c) override {
        log.push_back("state " + c.name() + " " + std::to_string(c.enabled()) + " " +
                      std::to_string(c.visible()));
    }
    void drawPointer(ui::MousePointer p) override {
        log.push_back("pointer " + std::to_string(static_cast<int>(p)));
    }
    void hideWindow() override { log.push_back("hide"); }
    void showWindow(bool minimized) override {
        log.push_back(minimized ? "show minimized" : "show");
    }
    void minimizeWindow() override { log.push_back("minimize"); }
    void restoreWindow() override { log.push_back("restore"); }
    void endWindow() override { log.push_back("end"); }
    void startFrameTimer(int ms) override { log.push_back("frame in " + std::to_string(ms)); }
    void stopFrameTimer() override { log.push_back("frame stopped"); }
    void startTicks(int ms) override { log.push_back("ticks " + std::to_string(ms)); }
    void stopTicks() override { log.push_back("no ticks"); }

private:
    Draw made_(ui::Control& c, std::function<std::string()> content) {
        made.push_back(c.name());
        if (!content) return {};
        return [this, &c, content] { log.push_back("draw " + c.name() + " " + content()); };
    }
};

class ViewAdapterTest : public ::testing::Test, protected FakeServices {
protected:
    ViewAdapterTest() : prog_os(prog.path()), use(prog_os) {
        mkdirs(prog / "src/one");
        mkdirs(prog / "src/two");
        ui::Services s = services();
        s.tray = &tray;
        form = loadForm(s);
        form->mShow_Click();
        adapter = std::make_unique<ui::ViewAdapter>(*form, toolkit);
        adapter->redraw().now = [this] { return t; };
        adapter->makeMenus(toolkit);
        adapter->makeControls(toolkit);
        adapter->start();
        initial = toolkit.take();
        quiet();
    }

    // A quiet spell: the next change is drawn at once.
    void quiet() { t += 1s; }
    // The frame timer's end, as the toolkit would call it.
    void frameDue() {
        t += 50ms;
        adapter->frameDue();
    }
    std::vector<std::string> drawn() {
        std::vector<std::string> out;
        for (const auto& l : toolkit.take())
            if (l.rfind("draw ", 0) == 0 || l.rfind("state ", 0) == 0) out.push_back(l);
        return out;
    }

    TempDir prog;
    ProgramDirOs prog_os;
    os::ScopedOs use;
    FakeTray tray;
    std::unique_ptr<ui::Form1> form;
    RecordingToolkit toolkit;
    std::unique_ptr<ui::ViewAdapter> adapter;
    std::vector<std::string> initial;  // what making the window logged
    ui::Redraw::Clock::time_point t = ui::Redraw::Clock::time_point{} + 1h;
};

TEST_F(ViewAdapterTest, EveryShownControlAndMenuItemIsMadeOnceInOrderAndDrawnAsTheModelHolds) {
    std::vector<std::string> expected;
    for (ui::MenuItem* m : form->menuItems()) expected.push_back(m->name());
    for (ui::Control* c : form->controls())
        if (c != &form->Brondir && c != &form->Doeldir) expected.push_back(c->name());
    EXPECT_EQ(toolkit.made, expected);

    // Made and drawn at once, before any frame, with Timer1 running and
    // the window shown.
    const auto& lines = initial;
    EXPECT_EQ(RecordingToolkit::count(lines, "state "),
              static_cast<int>(form->controls().size()) - 2);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "state Command5 0 1"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "state ProgressBar1 1 0"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "draw Slider1 60"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "draw Subs 1 1"), lines.end());
    EXPECT_NE(
        std::find(lines.begin(), lines.end(), "ticks " + std::to_string(form->Timer1.interval())),
        lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "show"), lines.end());
    EXPECT_EQ(RecordingToolkit::count(lines, "pointer"), 0) << "the default pointer is not drawn";
}

TEST_F(ViewAdapterTest, ChangesAreDrawnOnceAFrameFromTheLatestStateAndAtOnceAfterAQuietSpell) {
    for (int i = 0; i < 500; ++i) form->ProgressBar1.setValue(i);
    form->Label1.setCaption("BUSY...");
    // One frame asked for, at once after a quiet spell; nothing drawn yet.
    EXPECT_EQ(toolkit.take(), std::vector<std::string>({"frame in 0"}));
    frameDue();
    // In tab order, once each.
    EXPECT_EQ(drawn(),
              std::vector<std::string>({"state Label1 1 1", "draw Label1 BUSY...",
                                        "state ProgressBar1 1 0", "draw ProgressBar1 499"}));
    // 10 ms after that frame, the next change waits for the rest of it.
    t += 10ms;
    form->Label1.setCaption("second");
    form->Label1.setCaption("third");
    EXPECT_EQ(toolkit.take(), std::vector<std::string>({"frame in 40"}));
    frameDue();
    EXPECT_EQ(drawn(), std::vector<std::string>({"state Label1 1 1", "draw Label1 third"}));
    // A frame with nothing changed draws nothing.
    frameDue();
    EXPECT_TRUE(drawn().empty());

    // The hourglass follows at the frame rate, and is drawn once however
    // often it is set.
    quiet();
    form->setMousePointer(ui::MousePointer::Hourglass);
    form->setMousePointer(ui::MousePointer::Default);
    form->setMousePointer(ui::MousePointer::Hourglass);
    EXPECT_EQ(toolkit.take(), std::vector<std::string>({"frame in 0"}));
    frameDue();
    EXPECT_EQ(toolkit.take(), std::vector<std::string>({"frame stopped", "pointer 11"}));
}

TEST_F(ViewAdapterTest, TheUsersActionIsDrawnAtOnceWhateverTheFrameRate) {
    form->Label1.setCaption("x");
    frameDue();
    toolkit.take();
    // Within the frame after that: a change alone would wait 50 ms.
    adapter->press(form->Command1);
    const auto lines = toolkit.take();
    EXPECT_TRUE(form->Command5.enabled()) << "the click reached the model";
    EXPECT_NE(std::find(lines.begin(), lines.end(), "frame stopped"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "state Command1 0 1"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "state Command5 1 1"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "state BronTree 1 1"), lines.end());
    // Choosing a source stops Timer1.
    EXPECT_NE(std::find(lines.begin(), lines.end(), "no ticks"), lines.end());
    EXPECT_TRUE(form->BronTree.setPath(prog / "src").has_value());
    adapter->open(form->BronTree, prog / "src/one");
    EXPECT_EQ(form->BronTree.path(), prog / "src/one");
    adapter->press(form->Command5);
    EXPECT_EQ(form->Text3.text(), prog / "src/one");
    const auto confirmed = toolkit.take();
    EXPECT_NE(std::find(confirmed.begin(), confirmed.end(), "draw Text3 " + (prog / "src/one")),
              confirmed.end());
    EXPECT_NE(std::find(confirmed.begin(), confirmed.end(), "state Command4 1 1"), confirmed.end());
    EXPECT_FALSE(adapter->redraw().pending());

    // The slider committed where the model puts it: 0 is taken as 1.
    adapter->release(form->Slider1, 0);
    EXPECT_EQ(form->Slider1.value(), 1);
    EXPECT_EQ(drawn(),
              std::vector<std::string>({"state Slider1 1 1", "draw Slider1 1", "state Label1 1 1",
                                        "draw Label1 " + form->countdownText(true)}));
    // A value the model already holds still draws the slider back to it.
    adapter->release(form->Slider1, 1);
    EXPECT_EQ(drawn(), std::vector<std::string>({"state Slider1 1 1", "draw Slider1 1"}));

    adapter->toggle(form->Check2, true);
    EXPECT_EQ(form->Check2.value(), 1);
    EXPECT_EQ(drawn(), std::vector<std::string>({"state Check2 1 1", "draw Check2 1"}));

    // A menu item: the model decides the mark, drawn at once.
    adapter->choose(form->CC);
    EXPECT_TRUE(form->CC.checked());
    EXPECT_EQ(drawn(), std::vector<std::string>({"draw CC 1 1"}));
}

// What the user sees may lag the model by a frame: an action on a control
// the model has just disabled (or hidden) does nothing, and the control is
// drawn back to what the model holds.
TEST_F(ViewAdapterTest, InputOnAControlTheModelHasDisabledButNotYetDrawnSoIsUndone) {
    form->Label1.setCaption("x");
    frameDue();
    toolkit.take();

    form->Command1.setEnabled(false);  // within the frame: not yet drawn
    adapter->press(form->Command1);
    EXPECT_FALSE(form->Command5.enabled()) << "a choice of source started";
    EXPECT_EQ(drawn(), std::vector<std::string>({"state Command1 0 1"}));

    form->Check2.setEnabled(false);
    adapter->toggle(form->Check2, true);
    EXPECT_EQ(form->Check2.value(), 0);
    EXPECT_EQ(drawn(), std::vector<std::string>({"state Check2 0 1", "draw Check2 0"}));

    form->List1.addItem("one");
    form->List1.addItem("two");
    form->List1.setEnabled(false);
    adapter->select(form->List1, 1);
    EXPECT_EQ(form->List1.listIndex(), -1);
    EXPECT_EQ(drawn(), std::vector<std::string>(
                           {"state List1 0 1",
                            "draw List1 " + std::to_string(form->List1.listCount()) + " -1"}));

    form->Slider1.setEnabled(false);
    adapter->release(form->Slider1, 5);
    EXPECT_EQ(form->Slider1.value(), 60);
    EXPECT_EQ(drawn(), std::vector<std::string>({"state Slider1 0 1", "draw Slider1 60"}));

    // The drive lists and directory lists start disabled, drawn so.
    ASSERT_FALSE(form->BronDrive.drives().empty());
    const std::string drive = form->BronDrive.drive();
    adapter->choose(form->BronDrive, 0);
    EXPECT_EQ(form->BronDrive.drive(), drive);
    EXPECT_EQ(drawn(),
              std::vector<std::string>({"state BronDrive 0 1", "draw BronDrive " + drive}));

    const std::string path = form->BronTree.path();
    adapter->open(form->BronTree, prog / "src/two");
    EXPECT_EQ(form->BronTree.path(), path);
    EXPECT_EQ(drawn(), std::vector<std::string>({"state BronTree 0 1", "draw BronTree " + path}));

    // Hidden by the model (and drawn shown still): a button does nothing.
    form->Command3.setVisible(false);
    adapter->press(form->Command3);
    EXPECT_TRUE(form->visible());

    form->Movefiles.setEnabled(false);
    adapter->choose(form->Movefiles);
    EXPECT_FALSE(form->Movefiles.checked());
    EXPECT_EQ(drawn(), std::vector<std::string>({"state Command3 1 0", "draw Movefiles 0 0"}));
}

TEST_F(ViewAdapterTest, AHiddenWindowDrawsNothingAndIsDrawnWholeBeforeItShowsAgain) {
    adapter->press(form->Command3);
    EXPECT_FALSE(form->visible());
    EXPECT_EQ(toolkit.take(), std::vector<std::string>({"hide", "frame stopped"}));
    form->Label1.setCaption("while hidden");
    form->ProgressBar1.setValue(40);
    adapter->drawNow();
    frameDue();
    EXPECT_TRUE(drawn().empty());
    EXPECT_TRUE(adapter->redraw().pending());

    // Shown from the icon's menu: all it missed is drawn, then it shows.
    adapter->choose(form->mShow);
    const auto lines = toolkit.take();
    const auto shown = std::find(lines.begin(), lines.end(), "show");
    EXPECT_NE(shown, lines.end());
    EXPECT_LT(std::find(lines.begin(), lines.end(), "draw Label1 while hidden"), shown);
    EXPECT_LT(std::find(lines.begin(), lines.end(), "draw ProgressBar1 40"), shown);
    EXPECT_FALSE(adapter->redraw().pending());
}

TEST_F(ViewAdapterTest, MinimisedInPlaceOfHiddenAndRestoredByTheUser) {
    tray.shown = false;
    adapter->press(form->Command3);
    EXPECT_TRUE(form->minimized());
    EXPECT_EQ(RecordingToolkit::count(toolkit.take(), "minimize"), 1);
    adapter->restored();
    EXPECT_FALSE(form->minimized());
    // A restore the model did not minimise tells it nothing.
    adapter->restored();
    EXPECT_FALSE(form->minimized());
    // Minimised again and brought back by the model: the toolkit restores.
    form->setMinimized(true);
    form->mShow_Click();
    const auto lines = toolkit.take();
    EXPECT_EQ(RecordingToolkit::count(lines, "minimize"), 1);
    EXPECT_EQ(RecordingToolkit::count(lines, "restore"), 1);
}

TEST_F(ViewAdapterTest, Timer1RestartsWithTheModelAndATickIsDrawnAtOnce) {
    form->Timer1.setEnabled(false);
    form->Timer1.setEnabled(true);
    EXPECT_EQ(
        toolkit.take(),
        std::vector<std::string>({"no ticks", "ticks " + std::to_string(form->Timer1.interval())}));
    adapter->tick();
    EXPECT_EQ(form->MinuteCounter, 1);
    // Drawn at once, with no frame due.
    const auto lines = toolkit.take();
    const auto stopped = std::find(lines.begin(), lines.end(), "frame stopped");
    EXPECT_NE(stopped, lines.end());
    EXPECT_GT(std::find(lines.begin(), lines.end(), "draw Label1 " + form->countdownText(false)),
              stopped);
    EXPECT_FALSE(adapter->redraw().pending());
}

TEST_F(ViewAdapterTest, ClosingEndsTheProgramTakesTheIconAwayAndEndsTheWindowOnce) {
    adapter->close();
    EXPECT_TRUE(form->ended());
    EXPECT_EQ(tray.removed, 1);
    EXPECT_EQ(app.quits, 1);
    const auto lines = toolkit.take();
    EXPECT_EQ(RecordingToolkit::count(lines, "end"), 1);
    EXPECT_EQ(RecordingToolkit::count(lines, "no ticks"), 1);
    adapter->close();
    EXPECT_EQ(tray.removed, 1);
    EXPECT_TRUE(toolkit.take().empty());
}

}  // namespace
}  // namespace qm::test
