// Choosing a source and a target, adding the pair, and removing entries.
#include <gtest/gtest.h>

#include <memory>

#include "batch/store.h"
#include "support/fakes.h"
#include "support/tempdir.h"
#include "ui/form1.h"

namespace qm::test {
namespace {

using batch::join_lines;
using batch::split_lines;

// A program directory with real source and target directories.
class EditingTest : public ::testing::Test, protected FakeServices {
protected:
    EditingTest() : prog_os(prog.path()), use(prog_os) {
        for (auto d : {"s1", "t1", "s2", "t2", "s3", "t3", "dotted.dir"}) mkdirs(prog / d);
    }

    ui::Form1& load(const std::vector<std::string>& entries) {
        if (!entries.empty()) write(prog / "BATCH.INI", join_lines(entries));
        form = loadForm();
        return *form;
    }
    std::vector<std::string> entry(const std::string& s, const std::string& t,
                                   const char* subs = "YES") {
        return {"Source:" + (prog / s), "Target:" + (prog / t), std::string("Subs:") + subs};
    }
    std::vector<std::string> batchOf(std::initializer_list<std::vector<std::string>> entries) {
        std::vector<std::string> lines{"[batch]"};
        for (const auto& e : entries) lines.insert(lines.end(), e.begin(), e.end());
        return lines;
    }
    std::vector<std::string> fileLines() { return split_lines(read(prog / "BATCH.INI")); }
    void select(ui::Form1& f, const std::string& prefix) {
        for (int i = 0; i < f.List1.listCount(); ++i)
            if (f.List1.items()[static_cast<std::size_t>(i)].rfind(prefix, 0) == 0) {
                f.List1.setListIndex(i);
                return;
            }
        FAIL() << "no item " << prefix;
    }

    TempDir prog;
    ProgramDirOs prog_os;
    os::ScopedOs use;
    std::unique_ptr<ui::Form1> form;
};

// -- choosing ------------------------------------------------------------------

TEST_F(EditingTest, AltAndALetterPressesTheOneButtonThatCanTakeIt) {
    auto& f = load(batchOf({entry("s1", "t1")}));
    // Idle: no OK can be pressed, so Alt+O is the Options menu's.
    EXPECT_EQ(f.accessKeyButton('o'), nullptr);
    EXPECT_EQ(f.accessKeyButton('S'), &f.Command1);
    EXPECT_EQ(f.accessKeyButton('h'), &f.Command3);
    EXPECT_EQ(f.accessKeyButton('x'), nullptr);
    f.Command1.clicked.emit();
    EXPECT_EQ(f.accessKeyButton('O'), &f.Command5) << "the OK of the source being chosen";
    EXPECT_EQ(f.accessKeyButton('s'), nullptr) << "&Source is disabled while it is chosen";
    ASSERT_TRUE(f.BronTree.setPath(prog / "s2"));
    f.Command5.clicked.emit();
    EXPECT_EQ(f.accessKeyButton('o'), &f.Command4) << "the OK of the target being chosen";
    f.Command4.setVisible(false);
    EXPECT_EQ(f.accessKeyButton('o'), nullptr) << "a button not shown takes no key";
}

TEST_F(EditingTest, ChoosingSourceThenTargetAddsTheEntryAndReturnsToIdle) {
    auto& f = load(batchOf({entry("s1", "t1")}));
    f.Command1.clicked.emit();
    EXPECT_TRUE(f.BronTree.enabled() && f.BronDrive.enabled());
    EXPECT_FALSE(f.Command1.enabled() || f.Command2.enabled() || f.Command4.enabled());
    EXPECT_TRUE(f.Command5.enabled());
    EXPECT_FALSE(f.Timer1.enabled());

    ASSERT_TRUE(f.BronTree.setPath(prog / "s2"));
    // The target lists are still closed while the message is shown.
    bool target_enabled_at_message = true;
    dialogs.onBox = [&] { target_enabled_at_message = f.Doeltree.enabled(); };
    f.Command5.clicked.emit();
    dialogs.onBox = nullptr;
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(dialogs.boxes[0].title, "Information");
    EXPECT_EQ(dialogs.boxes[0].text, "Please select target directory...");
    EXPECT_FALSE(target_enabled_at_message);
    EXPECT_EQ(f.Brondir.path(), prog / "s2");
    EXPECT_EQ(f.Text3.text(), prog / "s2");
    // Choosing target.
    EXPECT_FALSE(f.BronTree.enabled() || f.Command1.enabled() || f.Command2.enabled() ||
                 f.Command5.enabled());
    EXPECT_TRUE(f.Doeltree.enabled() && f.Doeldrive.enabled() && f.Command4.enabled());
    EXPECT_FALSE(f.Timer1.enabled());

    ASSERT_TRUE(f.Doeltree.setPath(prog / "t2"));
    dialogs.answers = {true};
    f.Command4.clicked.emit();
    EXPECT_EQ(dialogs.boxes.back().title, "Question");
    EXPECT_EQ(dialogs.boxes.back().text, "Include Sub Directory's on this item ?");
    EXPECT_EQ(fileLines(), batchOf({entry("s1", "t1"), entry("s2", "t2", "YES")}));
    // Idle again, and the pickers on the first entry.
    EXPECT_TRUE(f.Command1.enabled() && f.Command2.enabled() && f.Timer1.enabled());
    EXPECT_FALSE(f.Command4.enabled() || f.Command5.enabled() || f.Doeltree.enabled() ||
                 f.BronTree.enabled());
    EXPECT_EQ(f.Text3.text(), prog / "s1");
    EXPECT_EQ(f.Text4.text(), prog / "t1");
    EXPECT_EQ(f.BronTree.path(), prog / "s1");
    EXPECT_EQ(f.List1.listCount(), 8);
    EXPECT_EQ(f.List1.items()[4], " 2. Source:" + (prog / "s2"));
    EXPECT_TRUE(exists(prog / "batch.new"));
}

TEST_F(EditingTest, TargetAloneAddsTheSourceTheTreeShowsAndNoAnswersNo) {
    auto& f = load(batchOf({entry("s1", "t1")}));
    f.DD.clicked.emit();
    EXPECT_TRUE(f.Doeltree.enabled());
    EXPECT_FALSE(f.Timer1.enabled());
    // Confirmed without navigating: the directory the list already showed.
    f.Command4.clicked.emit();
    EXPECT_EQ(fileLines(), batchOf({entry("s1", "t1"), entry("s1", "t1", "NO")}));
    EXPECT_EQ(dialogs.count("Information"), 0);
}

TEST_F(EditingTest, TheSourceMenuDuringATargetChoiceCombinesTheStates) {
    auto& f = load(batchOf({entry("s1", "t1")}));
    f.Command2_Click();
    f.BD_Click();
    EXPECT_TRUE(f.Command5.enabled() && f.Command4.enabled());
    EXPECT_TRUE(f.BronTree.enabled() && f.Doeltree.enabled());
    f.Command5_Click();
    EXPECT_EQ(dialogs.count("Information"), 1);
    f.Command4_Click();
    EXPECT_FALSE(f.Command4.enabled() || f.Command5.enabled() || f.BronTree.enabled() ||
                 f.Doeltree.enabled());
    EXPECT_TRUE(f.Command1.enabled() && f.Command2.enabled() && f.Timer1.enabled());
}

// A drive that is never ready, beside the real ones.
class DeadDriveOs : public ProgramDirOs {
public:
    using ProgramDirOs::ProgramDirOs;
    std::vector<std::string> volumes() override {
        auto v = inner_.volumes();
        v.push_back("dead:");
        return v;
    }
    std::string volume_of(const std::string& p) override {
        return p.rfind("dead:", 0) == 0 ? "dead:" : inner_.volume_of(p);
    }
    bool volume_ready(const std::string& v) override {
        return v != "dead:" && inner_.volume_ready(v);
    }
};

TEST_F(EditingTest, ADriveThatIsNotReadySpringsBackSilently) {
    DeadDriveOs dead(prog.path());
    os::ScopedOs use_dead(dead);
    auto& f = load(batchOf({entry("s1", "t1")}));
    const std::string before = f.BronDrive.drive();
    f.Command1_Click();
    f.BronDrive.setDrive("dead:");
    EXPECT_EQ(f.BronDrive.drive(), before);
    EXPECT_EQ(f.BronTree.path(), os::current().volume_root(before));
    EXPECT_TRUE(dialogs.boxes.empty());

    // The drive already selected changes nothing, the tree keeps its path.
    ASSERT_TRUE(f.Doeltree.setPath(prog / "t2"));
    f.Doeldrive.setDrive(prog / "t2");
    EXPECT_EQ(f.Doeltree.path(), prog / "t2");
}

// -- removing -------------------------------------------------------------------

TEST_F(EditingTest, RemovingTheMiddleEntryRenumbersTheRest) {
    auto& f = load(batchOf({entry("s1", "t1"), entry("s2", "t2"), entry("s3", "t3", "NO")}));
    select(f, " 2. Include Subs:");
    EXPECT_TRUE(f.Command7.enabled());
    f.Command7.clicked.emit();
    EXPECT_EQ(fileLines(), batchOf({entry("s1", "t1"), entry("s3", "t3", "NO")}));
    EXPECT_EQ(f.List1.items()[4], " 2. Source:" + (prog / "s3"));
    EXPECT_FALSE(f.Command7.enabled());
    EXPECT_TRUE(exists(prog / "batch.new"));
}

TEST_F(EditingTest, AnyItemOfAnEntrySelectsItAndTheSeparatorNothing) {
    auto& f = load(batchOf({entry("s1", "t1"), entry("s2", "t2"), entry("s3", "t3")}));
    f.List1.setListIndex(7);  // separator after entry 2
    EXPECT_FALSE(f.Command7.enabled());
    select(f, " 3. Target:");
    EXPECT_TRUE(f.Command7.enabled());
    f.Command7_Click();
    EXPECT_EQ(fileLines(), batchOf({entry("s1", "t1"), entry("s2", "t2")}));
}

TEST_F(EditingTest, ADotInThePathDoesNotDisturbTheNumber) {
    auto& f = load(batchOf({entry("s1", "t1"), entry("dotted.dir", "t2")}));
    select(f, " 2. Source:");
    f.Command7_Click();
    EXPECT_EQ(fileLines(), batchOf({entry("s1", "t1")}));
}

TEST_F(EditingTest, TheLastEntryIsNeverRemoved) {
    auto& f = load(batchOf({entry("s1", "t1")}));
    const std::string before = read(prog / "BATCH.INI");
    select(f, " 1. Source:");
    f.Command7_Click();
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(dialogs.boxes[0].title, "Information");
    EXPECT_EQ(dialogs.boxes[0].text,
              "It is not possible to remove this entry from the batch.\r\n"
              "Please add new entry and then remove this one...");
    EXPECT_EQ(read(prog / "BATCH.INI"), before);
    EXPECT_TRUE(f.Command7.enabled());
    EXPECT_EQ(f.List1.listIndex(), 0);
}

TEST_F(EditingTest, NoSelectionRemovesNothing) {
    auto& f = load(batchOf({entry("s1", "t1"), entry("s2", "t2")}));
    f.Command7.setEnabled(true);
    f.Command7_Click();
    EXPECT_EQ(fileLines(), batchOf({entry("s1", "t1"), entry("s2", "t2")}));
    EXPECT_FALSE(f.Command7.enabled());
}

TEST_F(EditingTest, AfterATickDropsAnEntryTheNumberShownIsTheEntryRemoved) {
    auto& f = load(batchOf({entry("s1", "t1"), entry("s2", "t2"), entry("s3", "t3")}));
    remove_tree(prog / "s2");
    f.Timer1_Timer();  // no run: the slider is at 60
    ASSERT_EQ(f.List1.listCount(), 8);
    select(f, " 2. Source:");
    EXPECT_EQ(f.List1.text(), " 2. Source:" + (prog / "s3"));
    f.Command7_Click();
    EXPECT_EQ(fileLines(), batchOf({entry("s1", "t1")}));
}

TEST_F(EditingTest, AFileChangedSinceTheListingIsNotEditedBlindly) {
    auto& f = load(batchOf({entry("s1", "t1"), entry("s2", "t2"), entry("s3", "t3")}));
    select(f, " 2. Source:");
    // Edited by hand: entry 1 removed, so number 2 would now be s3.
    const auto edited = batchOf({entry("s2", "t2"), entry("s3", "t3")});
    write(prog / "BATCH.INI", join_lines(edited));
    f.Command7_Click();
    EXPECT_EQ(fileLines(), edited);
    EXPECT_EQ(dialogs.count("Information"), 1);
    EXPECT_EQ(f.List1.items()[0], " 1. Source:" + (prog / "s2"));
    EXPECT_FALSE(f.Command7.enabled());
}

TEST_F(EditingTest, AFileCutShortLosesOnlyItsFragment) {
    auto lines = batchOf({entry("s1", "t1"), entry("s2", "t2"), entry("s3", "t3")});
    lines.push_back("Source:" + (prog / "s1"));
    write(prog / "BATCH.INI", join_lines(lines));
    auto& f = load({});
    // The start-up repair dropped the fragment and said so.
    EXPECT_EQ(dialogs.count("Information"), 1);
    EXPECT_EQ(fileLines(), batchOf({entry("s1", "t1"), entry("s2", "t2"), entry("s3", "t3")}));
    // Cut short again between a listing and a removal: refused, nothing lost.
    write(prog / "BATCH.INI", join_lines(lines));
    select(f, " 2. Target:");
    f.Command7_Click();
    EXPECT_EQ(fileLines(), lines);
    EXPECT_EQ(dialogs.count("Information"), 2);
    // The next tick repairs it; then the removal goes through.
    f.Timer1_Timer();
    EXPECT_EQ(dialogs.count("Information"), 3);
    select(f, " 2. Target:");
    f.Command7_Click();
    EXPECT_EQ(fileLines(), batchOf({entry("s1", "t1"), entry("s3", "t3")}));
}

TEST_F(EditingTest, AnAddToAFileCutShortRepairsItFirst) {
    auto& f = load(batchOf({entry("s1", "t1")}));
    auto lines = batchOf({entry("s1", "t1")});
    lines.push_back("Source:" + (prog / "s9"));
    write(prog / "BATCH.INI", join_lines(lines));
    ASSERT_TRUE(f.Doeltree.setPath(prog / "t3"));
    dialogs.answers = {false};
    f.Command4_Click();
    EXPECT_EQ(fileLines(), batchOf({entry("s1", "t1"), entry("s1", "t3", "NO")}));
}

// Makes the atomic replace of the batch file fail.
class NoReplaceOs : public ProgramDirOs {
public:
    using ProgramDirOs::ProgramDirOs;
    os::Status rename_replace(const std::string& from, const std::string&) override {
        return std::unexpected(os::make_error(os::Errc::busy, "rename", from, "injected failure"));
    }
};

TEST_F(EditingTest, AnEditThatCannotBeWrittenLeavesTheFileAndSaysSo) {
    auto& f = load(batchOf({entry("s1", "t1"), entry("s2", "t2")}));
    const std::string before = read(prog / "BATCH.INI");
    NoReplaceOs failing(prog.path());
    os::ScopedOs use_failing(failing);
    select(f, " 1. Source:");
    f.Command7_Click();
    EXPECT_EQ(read(prog / "BATCH.INI"), before);
    ASSERT_GE(dialogs.count("Information"), 1);
    EXPECT_NE(dialogs.boxes[0].text.find("injected failure"), std::string::npos);
    // The list still shows what the file holds.
    EXPECT_EQ(f.List1.listCount(), 8);

    dialogs.boxes.clear();
    f.Command2_Click();
    f.Command4_Click();
    EXPECT_EQ(read(prog / "BATCH.INI"), before);
    EXPECT_GE(dialogs.count("Information"), 1);
}

}  // namespace
}  // namespace qm::test
