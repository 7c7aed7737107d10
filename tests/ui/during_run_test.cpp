// What the user can and cannot do while a batch run yields: edits and
// directory choices wait for the end of the run, and the run replicates
// exactly the entries and directories it started with.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "batch/store.h"
#include "support/fakes.h"
#include "support/tempdir.h"
#include "ui/form1.h"

namespace qm::test {
namespace {

class DuringRunTest : public ::testing::Test, protected FakeServices {
protected:
    DuringRunTest() : prog_os(prog.path()), use(prog_os) {
        for (auto d : {"s1", "t1", "s2", "t2", "s3", "t3", "other"}) mkdirs(prog / d);
        for (auto d : {"s1", "s2", "s3"}) write(prog / (std::string(d) + "/f.txt"), d);
        write(prog / "other/g.txt", "other");
        std::vector<std::string> lines{"[batch]"};
        for (auto i : {"1", "2", "3"})
            for (auto l :
                 {std::string("Source:") + (prog / (std::string("s") + i)),
                  std::string("Target:") + (prog / (std::string("t") + i)), std::string("Subs:NO")})
                lines.push_back(l);
        write(prog / "BATCH.INI", batch::join_lines(lines));
        before = read(prog / "BATCH.INI");

        form = loadForm();
        form->Slider1.setValue(1);
    }

    // Runs the batch with the action done at the first yield of the run.
    void runWith(std::function<void(ui::Form1&)> action) {
        bool done = false;
        pump.hook = [&] {
            if (!done && form->running()) {
                done = true;
                action(*form);
            }
        };
        form->Timer1_Timer();
        pump.hook = nullptr;
        ASSERT_TRUE(done) << "the run never yielded";
    }

    void expectAllReplicated() {
        for (auto i : {"1", "2", "3"})
            EXPECT_EQ(read(prog / (std::string("t") + i + "/f.txt")), std::string("s") + i)
                << "entry " << i;
        EXPECT_FALSE(exists(prog / "t1/g.txt"));
        EXPECT_FALSE(exists(prog / "other/f.txt"));
    }

    TempDir prog;
    ProgramDirOs prog_os;
    os::ScopedOs use;
    std::unique_ptr<ui::Form1> form;
    std::string before;
};

TEST_F(DuringRunTest, RemovingAnEntryIsRefusedUntilTheRunEnds) {
    runWith([](ui::Form1& f) {
        f.List1.setListIndex(4);  // entry 2
        f.Command7.clicked.emit();
    });
    EXPECT_EQ(read(prog / "BATCH.INI"), before);
    ASSERT_EQ(dialogs.count("Information"), 1);
    EXPECT_NE(dialogs.boxes[0].text.find("when the run has ended"), std::string::npos);
    expectAllReplicated();
    // Afterwards it works.
    form->List1.setListIndex(4);
    form->Command7_Click();
    EXPECT_EQ(batch::split_lines(read(prog / "BATCH.INI")).size(), 7u);
}

TEST_F(DuringRunTest, DirectoryChoicesFromTheMenuAreRefusedUntilTheRunEnds) {
    runWith([](ui::Form1& f) {
        f.BD.clicked.emit();
        f.DD.clicked.emit();
    });
    EXPECT_EQ(dialogs.count("Information"), 2);
    EXPECT_FALSE(form->Command5.enabled());
    EXPECT_FALSE(form->Command4.enabled());
    EXPECT_TRUE(form->Timer1.enabled());
    expectAllReplicated();
}

TEST_F(DuringRunTest, ATargetConfirmationWaitsAndThePickersCannotBeMovedUnderTheRun) {
    // A choice left open when the slider restarted the timer.
    form->Command2_Click();
    form->Slider1.setValue(2);
    form->Slider1.setValue(1);
    ASSERT_TRUE(form->Timer1.enabled());
    runWith([this](ui::Form1& f) {
        EXPECT_FALSE(f.Doeltree.enabled()) << "the user could move the target under the run";
        EXPECT_FALSE(f.BronTree.enabled());
        (void)f.Doeltree.setPath(prog / "other");
        f.Command4.clicked.emit();
    });
    EXPECT_EQ(read(prog / "BATCH.INI"), before);
    EXPECT_EQ(dialogs.count("Information"), 1);
    EXPECT_EQ(dialogs.count("Question"), 0);
    expectAllReplicated();
    // The choice is still open after the run, with its lists usable again.
    EXPECT_TRUE(form->Command4.enabled());
    EXPECT_TRUE(form->Doeltree.enabled());
}

}  // namespace
}  // namespace qm::test
