// Hostile trees on POSIX: links, FIFOs and odd names.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>

#include "batch/store.h"
#include "support/fakes.h"
#include "support/tempdir.h"
#include "ui/form1.h"

namespace qm::test {
namespace {

class HostileTree : public ::testing::Test {
protected:
    HostileTree() : prog_os(prog.path()), use(prog_os) {
        mkdirs(data / "s");
        mkdirs(data / "t");
        write(prog / "BATCH.INI", batch::join_lines({"[batch]", "Source:" + (data / "s"),
                                                     "Target:" + (data / "t"), "Subs:YES"}));
    }
    void run() {
        ui::Services s;
        s.dialogs = &dialogs;
        s.pump = &pump;
        s.sleeper = &sleeper;
        s.clock = &clock;
        form = std::make_unique<ui::Form1>(s);
        form->Form_Load();
        form->Check2.setValue(1);
        form->Slider1.setValue(1);
        form->Timer1_Timer();
    }

    TempDir prog, data, outside;
    ProgramDirOs prog_os;
    os::ScopedOs use;
    FakeDialogs dialogs;
    FakePump pump;
    FakeSleeper sleeper;
    FakeClock clock;
    std::unique_ptr<ui::Form1> form;
};

TEST_F(HostileTree, LinksAndFifosAreNeitherFollowedNorCopied) {
    write(outside / "secret.txt", "outside");
    ASSERT_EQ(::symlink((outside / "secret.txt").c_str(), (data / "s/link.txt").c_str()), 0);
    ASSERT_EQ(::symlink(outside.path().c_str(), (data / "s/linkdir").c_str()), 0);
    ASSERT_EQ(::mkfifo((data / "s/pipe").c_str(), 0600), 0);
    write(data / "s/real.txt", "real");
    run();  // a FIFO opened for reading would hang here
    EXPECT_EQ(read(data / "t/real.txt"), "real");
    EXPECT_FALSE(exists(data / "t/link.txt"));
    EXPECT_FALSE(exists(data / "t/linkdir"));
    EXPECT_FALSE(exists(data / "t/pipe"));
}

TEST_F(HostileTree, ATargetThatIsTheSourceUnderAnotherNameIsCaught) {
    ASSERT_EQ(::symlink((data / "s").c_str(), (data / "alias").c_str()), 0);
    write(prog / "BATCH.INI", batch::join_lines({"[batch]", "Source:" + (data / "s"),
                                                 "Target:" + (data / "alias"), "Subs:YES"}));
    write(data / "s/a.txt", "a");
    run();
    EXPECT_EQ(names(data / "s"), (std::vector<std::string>{"a.txt"}));
    EXPECT_EQ(read(data / "s/a.txt"), "a");
}

TEST_F(HostileTree, ANameWithALineBreakIsSkippedAndLogged) {
    mkdirs(data / "s/bad\nname");
    write(data / "s/bad\nname/x.txt", "x");
    mkdirs(data / "s/good");
    write(data / "s/good/y.txt", "y");
    run();
    EXPECT_EQ(read(data / "t/good/y.txt"), "y");
    EXPECT_FALSE(exists(data / "t/bad"));
    EXPECT_NE(read(prog / "syncfile.log").find("line break"), std::string::npos);
}

// Directories whose names contain "locked" cannot be read.
class LockedOs : public ProgramDirOs {
public:
    using ProgramDirOs::ProgramDirOs;
    os::Result<std::vector<os::DirEntry>> list_dir(const std::string& d) override {
        if (d.find("locked") != std::string::npos)
            return std::unexpected(os::make_error(os::Errc::access, "read directory", d, "injected denial"));
        return inner_.list_dir(d);
    }
};

TEST_F(HostileTree, AnUnreadableDirectoryIsSkippedWithALogLineAndTheRunGoesOn) {
    LockedOs locked(prog.path());
    os::ScopedOs use_locked(locked);
    write(data / "s/a.txt", "a");
    mkdirs(data / "s/locked/inner");
    mkdirs(data / "s/zz");
    write(data / "s/zz/b.txt", "b");
    run();
    EXPECT_EQ(read(data / "t/a.txt"), "a");
    EXPECT_EQ(read(data / "t/zz/b.txt"), "b");
    EXPECT_NE(read(prog / "syncfile.log").find("injected denial"), std::string::npos);
}

}  // namespace
}  // namespace qm::test
