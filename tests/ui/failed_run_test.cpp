// A run that failed is told without the log: in the icon's tip and one
// notification a run, or by the window when there is no notification area.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "batch/store.h"
#include "support/fakes.h"
#include "support/tempdir.h"
#include "ui/form1.h"

namespace qm::test {
namespace {

class FailedRunTest : public ::testing::Test, protected FakeServices {
protected:
    FailedRunTest() : prog_os(prog.path()), use(prog_os) {
        mkdirs(prog / "s");
        write(prog / "s/a.txt", "a");
    }
    // The batch's one entry, from s to target; the log off, a run each tick.
    // Written with its separator, a target that is not there stays in the
    // batch, as one on a volume that is not mounted does.
    ui::Form1& load(bool withTray, const std::string& target) {
        write(prog / "BATCH.INI",
              batch::join_lines({"[batch]", "Source:" + (prog / "s"),
                                 "Target:" + (prog / target) + os::separator(), "Subs:NO"}));
        ui::Services s = services();
        if (withTray) s.tray = &tray;
        form = loadForm(s);
        form->mShow_Click();
        form->Check2.setValue(0);
        form->Slider1.setValue(1);
        dialogs.boxes.clear();
        return *form;
    }
    TempDir prog;
    ProgramDirOs prog_os;
    os::ScopedOs use;
    FakeTray tray;
    std::unique_ptr<ui::Form1> form;
};

TEST_F(FailedRunTest, AFailedRunSetsTheTipAndNotifiesOnceARun) {
    auto& f = load(true, "gone");
    clock.time.hour = 14;
    clock.time.minute = 5;
    f.Timer1_Timer();
    ASSERT_EQ(tray.notes.size(), 1u);
    const std::string source = os::with_separator(prog / "s");
    EXPECT_EQ(tray.notes[0].first, "Quillmere: 1 failure in the run at 14:05");
    EXPECT_EQ(tray.notes[0].second.rfind(source + ": not replicated: ", 0), 0u)
        << tray.notes[0].second;
    EXPECT_EQ(tray.tip.rfind("Quillmere v1.2\nLast run 14:05: 0 copied/moved, 1 failed\n"
                             "not replicated: ",
                             0),
              0u)
        << tray.tip;
    EXPECT_LE(tray.tip.size(), 127u);
    // Kept with the log off, and nothing written to it.
    ASSERT_EQ(f.lastRunFailures().size(), 1u);
    EXPECT_EQ(f.lastRunFailures()[0].path, source);
    EXPECT_FALSE(exists(prog / "syncfile.log"));
    EXPECT_TRUE(dialogs.boxes.empty());

    // The next run that fails is told again, once.
    f.Timer1_Timer();
    EXPECT_EQ(tray.notes.size(), 2u);
}

TEST_F(FailedRunTest, ARunThatOnlyCopiedNotifiesNothingButUpdatesTheTip) {
    mkdirs(prog / "t");
    auto& f = load(true, "t");
    f.Timer1_Timer();
    EXPECT_EQ(read(prog / "t/a.txt"), "a");
    EXPECT_TRUE(tray.notes.empty());
    EXPECT_EQ(tray.tip, "Quillmere v1.2\nLast run 05:06: 1 copied/moved");
    EXPECT_TRUE(f.lastRunFailures().empty());
}

TEST_F(FailedRunTest, TheLastRunsFailuresGiveWayToTheNextRuns) {
    auto& f = load(true, "t");
    f.Timer1_Timer();
    ASSERT_EQ(tray.notes.size(), 1u);
    ASSERT_EQ(f.lastRunFailures().size(), 1u);
    mkdirs(prog / "t");
    f.Timer1_Timer();
    EXPECT_EQ(tray.notes.size(), 1u);
    EXPECT_TRUE(f.lastRunFailures().empty());
    EXPECT_EQ(tray.tip, "Quillmere v1.2\nLast run 05:06: 1 copied/moved");
}

TEST_F(FailedRunTest, TheTipNamesTheFirstFailuresWithinItsLimit) {
    // Long names in a target made read-only file by file.
    mkdirs(prog / "t");
    std::vector<std::string> names;
    for (char c : std::string("abcd")) {
        const std::string n = std::string(60, c) + ".txt";
        names.push_back(n);
        write(prog / ("s/" + n), "new");
        write(prog / ("t/" + n), "old and longer");
        std::filesystem::permissions(std::filesystem::u8path(prog / ("t/" + n)),
                                     std::filesystem::perms::owner_write |
                                         std::filesystem::perms::group_write |
                                         std::filesystem::perms::others_write,
                                     std::filesystem::perm_options::remove);
    }
    auto& f = load(true, "t");
    f.Timer1_Timer();
    EXPECT_EQ(f.lastRunFailures().size(), 4u);
    EXPECT_LE(tray.tip.size(), 127u) << tray.tip;
    EXPECT_EQ(tray.tip.rfind("Quillmere v1.2\nLast run 05:06: 1 copied/moved, 4 failed\n", 0), 0u)
        << tray.tip;
    // The end of the path names the file.
    EXPECT_NE(tray.tip.find("not copied: ..."), std::string::npos) << tray.tip;
    EXPECT_NE(tray.tip.find(names[0].substr(20)), std::string::npos) << tray.tip;
    ASSERT_EQ(tray.notes.size(), 1u);
    EXPECT_NE(tray.notes[0].second.find("(and 3 more)"), std::string::npos);
    for (const auto& n : names)
        std::filesystem::permissions(std::filesystem::u8path(prog / ("t/" + n)),
                                     std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add);
}

TEST_F(FailedRunTest, WithoutANotificationAreaTheWindowComesUpOnce) {
    for (bool withTray : {false, true}) {
        tray.shown = false;  // with a tray: it has no notification area
        auto& f = load(withTray, "gone");
        f.Command3_Click();
        ASSERT_TRUE(f.minimized());
        dialogs.boxes.clear();
        f.Timer1_Timer();
        EXPECT_FALSE(f.minimized()) << withTray;
        EXPECT_TRUE(f.visible()) << withTray;
        EXPECT_TRUE(tray.notes.empty());
        EXPECT_TRUE(dialogs.boxes.empty()) << "no box holds the program";
        EXPECT_EQ(f.caption, "Quillmere");
        // A run without failures leaves the window as the user put it.
        mkdirs(prog / "gone");
        f.Command3_Click();
        f.Timer1_Timer();
        EXPECT_TRUE(f.minimized()) << withTray;
        std::filesystem::remove_all(std::filesystem::u8path(prog / "gone"));
    }
}

}  // namespace
}  // namespace qm::test
