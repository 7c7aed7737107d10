// Runs onto the test volume: a stick or a share that folds case and keeps
// coarse times, and one that is pulled out and plugged in again.

#include <chrono>
#include <thread>

#include "engine/names.h"
#include "fixture.h"
#include "support/testvolume.h"

namespace qm::test {
namespace {

class OnVolumeTest : public EngineTest {
protected:
    void SetUp() override {
        std::string why;
        if (!TestVolume::available(&why)) GTEST_SKIP() << why;
    }
    // A batch of one entry from data/s into a target on the volume.
    void loadOnto(const TestVolume& v, const std::string& target, const char* subs = "YES") {
        write(prog / "BATCH.INI",
              batch::join_lines({"[batch]", "Source:" + (data / "s"),
                                 "Target:" + v.path() + (target.empty() ? "" : "/" + target),
                                 std::string("Subs:") + subs}));
        form = loadForm();
        form->Check2.setValue(1);
        form->Slider1.setValue(1);
    }
};

// Two source names that differ only in case are one file on the target:
// the first is moved, the second stays where it is, at every later run
// too, and nothing is lost.
TEST_F(OnVolumeTest, TwoNamesThatFoldAlikeNeverLandOnOneTargetFile) {
    TestVolume v({.fold_case = true, .time_step_ns = 2'000'000'000});
    file("s/A.txt", "upper case");
    file("s/a.txt", "lower case!");
    file("s/B.txt", "b");
    file("s/Dir/x.txt", "from Dir");
    file("s/dir/x.txt", "from dir");
    loadOnto(v, "");
    form->Movefiles_Click();
    for (int i = 0; i < 3; ++i) run();
    EXPECT_FALSE(has("s/A.txt"));
    EXPECT_EQ(at("s/a.txt"), "lower case!");
    EXPECT_EQ(read(v.path() + "/a.txt"), "upper case");
    EXPECT_EQ(read(v.path() + "/B.txt"), "b");
    EXPECT_EQ(logWith((data / "s/a.txt") +
                      ": not replicated, on the target it would be the "
                      "same file as " +
                      (data / "s/A.txt"))
                  .size(),
              1u);
    EXPECT_EQ(logWith((data / "s/a.txt") + ": not moved, the target holds " + v.path() +
                      "/A.txt, another file of the same name in other capitals")
                  .size(),
              2u)
        << "named at each later run";
    // The directories are walked in the order the system lists them: the
    // first one met is moved, the other stays whole.
    const bool upperFirst = !has("s/Dir/x.txt");
    EXPECT_NE(upperFirst, !has("s/dir/x.txt")) << "exactly one of them is moved";
    EXPECT_EQ(read(v.path() + "/DIR/x.txt"), upperFirst ? "from Dir" : "from dir");
    EXPECT_EQ(logWith(std::string(", another directory of the same name in other capitals, "
                                  "with everything below it"))
                  .size(),
              3u)
        << "named at each run";
}

// In copy mode such a pair is not copied again at every run: the first
// name is replicated, the second named in the log each time.
TEST_F(OnVolumeTest, TwoNamesThatFoldAlikeAreNotCopiedAgainAtEveryRun) {
    TestVolume v({.fold_case = true});
    file("s/a.txt", "one");
    file("s/A.txt", "two");
    file("s/b.txt", "b");
    loadOnto(v, "", "NO");
    run();
    eos.copied.clear();
    run();
    EXPECT_TRUE(eos.copied.empty()) << "copied again: " << eos.copied.front();
    EXPECT_EQ(read(v.path() + "/a.txt"), "two");
    EXPECT_EQ(read(v.path() + "/b.txt"), "b");
    EXPECT_EQ(logWith(copiedLine(2)).size(), 1u) << "only the first run copied";
    EXPECT_EQ(logWith((data / "s/a.txt") + ": not replicated").size(), 2u);
}

// The source nested in its target, both on the volume.
TEST_F(OnVolumeTest, ASourceInsideItsTargetOnAStickIsNotWrittenInto) {
    TestVolume v({.fold_case = true});
    mkdirs(v.path() + "/S/s");
    write(v.path() + "/S/x", "the source's own");
    write(v.path() + "/S/s/x", "inner");
    set_mtime(v.path() + "/S/x", kTime);
    set_mtime(v.path() + "/S/s/x", kTime);
    // Files just written on a volume of coarse times wait a step.
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    write(prog / "BATCH.INI", batch::join_lines({"[batch]", "Source:" + v.path() + "/S",
                                                 "Target:" + v.path(), "Subs:YES"}));
    form = loadForm();
    form->Check2.setValue(1);
    form->Slider1.setValue(1);
    run();
    EXPECT_EQ(read(v.path() + "/S/s/x"), "inner");
    EXPECT_EQ(read(v.path() + "/S/x"), "the source's own");
    EXPECT_EQ(read(v.path() + "/x"), "the source's own");
    // The walk comes to the source by its own name folded: "s" is "S".
    EXPECT_FALSE(logWith(v.path() + "/s is a directory of the source").empty());
}

// Pulled out, the stick's entry stays in the batch and its runs say why;
// its empty mount point is never filled; plugged in again, it is
// replicated as before.
TEST_F(OnVolumeTest, APulledOutStickKeepsItsEntryAndItsMountPointStaysEmpty) {
    TempDir place;
    const std::string backing = place / "backing", mountPoint = place / "stick";
    file("s/a.txt", "a");
    {
        TestVolume v({.fold_case = true, .time_step_ns = 2'000'000'000}, backing, mountPoint);
        mkdirs(mountPoint + "/backup");
        write(prog / "BATCH.INI",
              batch::join_lines({"[batch]", "Source:" + (data / "s"),
                                 "Target:" + mountPoint + "/backup", "Subs:YES",
                                 "Source:" + (data / "s"), "Target:" + mountPoint, "Subs:NO"}));
        form = loadForm();
        form->Check2.setValue(1);
        form->Slider1.setValue(1);
        run();
        EXPECT_EQ(read(mountPoint + "/backup/a.txt"), "a");
        v.vanish();
        file("s/b.txt", "b");
        run();
        run();
    }
    const std::string batch = read(prog / "BATCH.INI");
    EXPECT_NE(batch.find("Target:" + mountPoint + "/backup"), std::string::npos) << batch;
    EXPECT_TRUE(names(mountPoint).empty()) << "written onto the disk below the stick";
    EXPECT_EQ(logWith("its volume is not there").size(), 4u) << "both entries, at each run";
    TestVolume again({.fold_case = true, .time_step_ns = 2'000'000'000}, backing, mountPoint);
    run();
    EXPECT_EQ(read(mountPoint + "/backup/b.txt"), "b");
}

// On a volume that keeps times to two seconds, a write in the same two
// seconds as the last change leaves the times as they were: a source
// changed that recently is copied by a later run, never kept half old.
TEST_F(OnVolumeTest, ASourceChangedWithinItsVolumesTimeStepIsCopiedLater) {
    TestVolume src({.time_step_ns = 2'000'000'000});
    mkdirs(src.path() + "/s");
    // Written at the start of a step, copied well within it.
    using namespace std::chrono;
    const auto now = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    std::this_thread::sleep_for(milliseconds(2000 - now % 2000 + 20));
    write(src.path() + "/s/fresh.txt", "fresh");
    write(prog / "BATCH.INI", batch::join_lines({"[batch]", "Source:" + src.path() + "/s",
                                                 "Target:" + (data / "t"), "Subs:NO"}));
    mkdirs(data / "t");
    form = loadForm();
    form->Check2.setValue(1);
    form->Slider1.setValue(1);
    run();
    EXPECT_FALSE(has("t/fresh.txt"));
    EXPECT_EQ(logWith("fresh.txt: not copied: copy " + src.path() +
                      "/s/fresh.txt: it changed too recently to be copied whole")
                  .size(),
              1u);
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    run();
    EXPECT_EQ(at("t/fresh.txt"), "fresh");
}

// In move mode, a directory whose spelling on a folding target cannot be
// checked is not moved into: the target may hold, spelt otherwise, the
// only copies of files another source directory moved there before.
TEST_F(OnVolumeTest, NoMoveIntoADirectoryWhoseSpellingCannotBeChecked) {
    TestVolume v({.fold_case = true});
    mkdirs(v.path() + "/t/DIR");
    write(v.path() + "/t/DIR/x.txt", "moved here before from DIR");
    set_mtime(v.path() + "/t/DIR/x.txt", kTime - 1000);
    file("s/Dir/x.txt", "another file", kTime);
    loadOnto(v, "t");
    form->Movefiles_Click();
    Fault unreadable{v.path() + "/t", -1, os::Errc::io, "bad sector"};
    unreadable.exact = true;
    eos.namesFault = unreadable;
    run();
    EXPECT_EQ(read(v.path() + "/t/DIR/x.txt"), "moved here before from DIR");
    EXPECT_EQ(at("s/Dir/x.txt"), "another file");
    const auto named = logWith((data / "s/Dir") + ": not moved, the spelling of ");
    ASSERT_EQ(named.size(), 1u) << ::testing::PrintToString(log());
    EXPECT_NE(named[0].find("bad sector"), std::string::npos) << named[0];
}

// A target whose probe cannot be made is taken to fold case: two names
// one in case apart never land on one file, and the log says why.
TEST_F(OnVolumeTest, AVolumeThatCannotBeProbedIsTakenToFold) {
    TestVolume v({.fold_case = true});
    file("s/A.txt", "upper case");
    file("s/a.txt", "lower case!");
    loadOnto(v, "", "NO");
    form->Movefiles_Click();
    eos.writeFault = Fault{v.path(), -1, os::Errc::no_space, "volume full"};
    run();
    const bool upperMoved = !has("s/A.txt");
    EXPECT_NE(upperMoved, !has("s/a.txt")) << "exactly one of them is moved";
    EXPECT_EQ(read(v.path() + "/a.txt"), upperMoved ? "upper case" : "lower case!");
    EXPECT_EQ(logWith(": not replicated, on the target it would be the same file as").size(), 1u);
    EXPECT_EQ(
        logWith(v.path() + "/: how the volume keeps names and times could not be learnt: ").size(),
        1u)
        << ::testing::PrintToString(log());
}

// Onto a share that folds case, copies still go several at once; a name
// the volume takes for another that the program keeps apart (Armenian
// capitals here) waits for the copies before it, so the copy made from the
// other name is seen and kept.
TEST_F(OnVolumeTest, OntoASlowVolumeThatFoldsNamesTheVolumeJoinsStayApart) {
    const std::string upper = "\u0531x.txt", lower = "\u0561x.txt";  // Ա, ա
    ASSERT_NE(engine::detail::fold_case(upper), engine::detail::fold_case(lower));
    for (int i = 0; i < 16; ++i) file("s/f" + std::to_string(i) + ".txt", std::to_string(i));
    file("s/" + upper, "upper");
    file("s/" + lower, "lower");
    TestVolume v({.fold_case = true, .delay_us = 1000});
    loadOnto(v, "", "NO");
    run();
    EXPECT_GT(eos.peakCopying, 1) << "the copies were made one at a time";
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(read(v.path() + "/f" + std::to_string(i) + ".txt"), std::to_string(i));
    // One of the two was copied, and the other named, not written over it.
    const auto named = logWith(": not replicated, its target ");
    ASSERT_EQ(named.size(), 1u) << ::testing::PrintToString(log());
    const bool lowerNamed = named[0].find(data / ("s/" + lower)) != std::string::npos;
    const std::string kept = lowerNamed ? upper : lower;
    EXPECT_EQ(read(v.path() + "/" + kept), lowerNamed ? "upper" : "lower");
    EXPECT_EQ(logWith("17 files copied/moved").size(), 1u);
}

// Onto a volume that answers each call a millisecond late, as a share
// does, several copies are made at once; onto one that answers at once,
// one at a time. Both leave the same files.
TEST_F(OnVolumeTest, CopiesOverlapOnlyWhereTheVolumeAnswersLate) {
    for (int i = 0; i < 24; ++i) file("s/f" + std::to_string(i) + ".txt", std::to_string(i));
    for (unsigned delay : {0u, 1000u}) {
        SCOPED_TRACE(delay);
        eos.peakCopying = 0;
        TestVolume v({.delay_us = delay});
        loadOnto(v, "", "NO");
        run();
        for (int i = 0; i < 24; ++i)
            EXPECT_EQ(read(v.path() + "/f" + std::to_string(i) + ".txt"), std::to_string(i));
        EXPECT_EQ(logWith("24 files copied/moved").size(), delay ? 2u : 1u);
        if (delay)
            EXPECT_GT(eos.peakCopying, 1);
        else
            EXPECT_EQ(eos.peakCopying, 1);
        form.reset();
    }
}

}  // namespace
}  // namespace qm::test
