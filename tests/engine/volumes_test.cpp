// The volumes users replicate onto: a source nested in its target, drives
// that are unplugged or not mounted, a target that cannot be looked at.
#include "fixture.h"

namespace qm::test {
namespace {

using VolumesTest = EngineTest;

// The source lies inside its target: the walk comes to a target directory
// that is the source itself, which must never be written.
TEST_F(VolumesTest, ASourceInsideItsTargetIsNeverWrittenInto) {
    for (bool move : {false, true}) {
        SCOPED_TRACE(move ? "move" : "copy");
        remove_tree(data / "D");
        file("D/s/x", "the source's own x");
        file("D/s/s/x", "the inner x");
        file("D/s/top.txt", "top");
        load({{"D/s", "D", "YES"}});
        if (move) form->Movefiles_Click();
        run();
        run();
        EXPECT_EQ(at("D/s/s/x"), "the inner x");
        EXPECT_EQ(at("D/top.txt"), "top");
        if (!move) {
            EXPECT_EQ(at("D/s/x"), "the source's own x");
            EXPECT_EQ(at("D/s/top.txt"), "top");
        } else {
            // Moved up into the target, it is not moved back down.
            EXPECT_EQ(at("D/x"), "the source's own x");
            EXPECT_FALSE(has("D/s/x"));
        }
        EXPECT_FALSE(logWith((data / "D/s/s") + ": skipped, its target " + (data / "D/s") +
                             " is a directory of the source, with everything below it")
                         .empty());
    }
}

// Drives come and go: a look-up that says "not found" where no volume is
// mounted says nothing of the directory.
class VolumeOs : public EngineOs {
public:
    using EngineOs::EngineOs;
    std::string mountPoint;  // the volume mounted there, unless unplugged
    bool unplugged = false;
    bool volume_mounted(const std::string& p) override {
        if (unplugged && p.rfind(mountPoint, 0) == 0) return false;
        return EngineOs::volume_mounted(p);
    }
};

class DriveTest : public EngineTest {
protected:
    DriveTest() : vos(prog.path(), lists.path()), useVos(vos) { vos.mountPoint = data / "stick"; }
    VolumeOs vos;
    os::ScopedOs useVos;
};

TEST_F(DriveTest, AnEntryOnAnUnpluggedDriveIsKeptAndEachRunSaysSo) {
    file("s/a.txt", "a");
    file("s2/b.txt", "b");
    mkdirs(data / "stick/backup");
    load({{"s", "stick/backup", "YES"}, {"s2", "t2", "YES"}});
    const std::string batchBefore = read(prog / "BATCH.INI");
    // Unplugged: its directory is taken away with it.
    remove_tree(data / "stick");
    vos.unplugged = true;
    run();
    run();
    EXPECT_EQ(read(prog / "BATCH.INI"), batchBefore) << "the entry is kept";
    EXPECT_EQ(logWith("its volume is not there (not mounted, or unplugged)").size(), 2u)
        << "a line at each run";
    EXPECT_EQ(at("t2/b.txt"), "b") << "the other entry goes on";
    EXPECT_FALSE(has("stick")) << "nothing was made in its place";
    // Plugged in again, it is replicated as before.
    mkdirs(data / "stick/backup");
    vos.unplugged = false;
    run();
    EXPECT_EQ(at("stick/backup/a.txt"), "a");
    // Gone from a volume that is there: dropped.
    remove_tree(data / "stick/backup");
    run();
    EXPECT_EQ(read(prog / "BATCH.INI").find("stick"), std::string::npos);
}

// The empty directory a volume is mounted on, while the volume is not
// there: a run would fill the disk below it, and in move mode move the
// source there.
TEST_F(DriveTest, ATargetWhoseVolumeIsNotMountedIsNotReplicatedOntoItsMountPoint) {
    file("s/a.txt", "a");
    file("s/sub/b.txt", "b");
    mkdirs(data / "stick");
    load({{"s", "stick", "YES"}});
    form->Movefiles_Click();
    vos.unplugged = true;
    run();
    EXPECT_TRUE(names(data / "stick").empty());
    EXPECT_EQ(at("s/a.txt"), "a");
    EXPECT_EQ(at("s/sub/b.txt"), "b");
    EXPECT_EQ(logWith((data / "s") + os::separator() + ": not replicated").size(), 1u);
    EXPECT_EQ(logWith("not mounted, or unplugged").size(), 1u);
    vos.unplugged = false;
    run();
    EXPECT_EQ(at("stick/sub/b.txt"), "b");
    EXPECT_FALSE(has("s/sub/b.txt"));
}

// A target that cannot be looked at may be read-only: it is kept, and the
// log says why.
TEST_F(VolumesTest, ATargetThatCannotBeCheckedIsNotReplaced) {
    load({{"s", "t", "NO"}});
    file("s/a.txt", "new");
    file("t/a.txt", "the user's", kTime - 100);
    file("s/b.txt", "b");
    eos.statFault = Fault{data / "t/a.txt", -1, os::Errc::io, "injected look-up failure"};
    run();
    eos.statFault.reset();
    EXPECT_EQ(at("t/a.txt"), "the user's");
    EXPECT_EQ(at("t/b.txt"), "b");
    const auto said = logWith("injected look-up failure");
    ASSERT_EQ(said.size(), 1u);
    EXPECT_NE(said[0].find((data / "s/a.txt") + ": not copied, its target " + (data / "t/a.txt") +
                           " could not be checked"),
              std::string::npos)
        << said[0];
    EXPECT_EQ(logWith(copiedLine(1)).size(), 1u);
}

}  // namespace
}  // namespace qm::test
