// Hiding and showing the window, with and without a notification area.
#include <gtest/gtest.h>

#include <memory>

#include "support/fakes.h"
#include "support/tempdir.h"
#include "ui/form1.h"

namespace qm::test {
namespace {

class TrayTest : public ::testing::Test, protected FakeServices {
protected:
    TrayTest() : prog_os(prog.path()), use(prog_os) {}
    ui::Form1& load(bool withTray) {
        ui::Services s;
        s.dialogs = &dialogs;
        s.sleeper = &sleeper;
        if (withTray) s.tray = &tray;
        form = loadForm(s);
        form->mShow_Click();
        dialogs.boxes.clear();
        return *form;
    }
    TempDir prog;
    ProgramDirOs prog_os;
    os::ScopedOs use;
    FakeTray tray;
    std::unique_ptr<ui::Form1> form;
};

TEST_F(TrayTest, TheIconIsAddedWithItsTipAtStartUp) {
    load(true);
    EXPECT_EQ(tray.tip, "Quillmere v1.2");
}

TEST_F(TrayTest, HideAndShowInterfaceBringTheWindowBackAsItWas) {
    auto& f = load(true);
    f.CC_Click();
    f.Command3.clicked.emit();
    EXPECT_FALSE(f.visible());
    EXPECT_FALSE(f.minimized());
    f.SysTrayMouseEventHandler();
    EXPECT_EQ(tray.popups, 1);
    f.mShow.clicked.emit();
    EXPECT_TRUE(f.visible());
    EXPECT_TRUE(f.CC.checked());
    // On a window that is shown it changes nothing.
    f.mShow_Click();
    EXPECT_TRUE(f.visible());
    EXPECT_TRUE(dialogs.boxes.empty());
}

TEST_F(TrayTest, WithoutANotificationAreaHideMinimisesAndSaysSoOnce) {
    tray.shown = false;
    auto& f = load(true);
    f.Command3_Click();
    EXPECT_TRUE(f.visible());
    EXPECT_TRUE(f.minimized());
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(dialogs.boxes[0].title, "Information");
    f.mShow_Click();
    EXPECT_FALSE(f.minimized());
    f.Command3_Click();
    EXPECT_EQ(dialogs.boxes.size(), 1u);
    // The area appears later: hiding works again.
    tray.shown = true;
    f.Command3_Click();
    EXPECT_FALSE(f.visible());
}

TEST_F(TrayTest, NoTrayAtAllNeverHidesTheWindow) {
    auto& f = load(false);
    f.Command3_Click();
    EXPECT_TRUE(f.visible());
    EXPECT_TRUE(f.minimized());
}

TEST_F(TrayTest, TheIconLeavesTheNotificationAreaWhenTheProgramEnds) {
    auto& f = load(true);
    f.Command3_Click();
    EXPECT_EQ(tray.removed, 0) << "hiding the window keeps the icon";
    f.Exit.clicked.emit();
    EXPECT_EQ(tray.removed, 1);
    f.Form_Unload();
    EXPECT_EQ(tray.removed, 1) << "an end after the end changes nothing";

    // Closing the window ends the program the same way.
    tray = FakeTray{};
    load(true).Form_Unload();
    EXPECT_EQ(tray.removed, 1);
}

}  // namespace
}  // namespace qm::test
