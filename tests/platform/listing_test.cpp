// Reading a directory with every file's length and time, on a volume that
// answers each call late: several calls in flight at once, and the same
// entries, in the same order, with the same failures, as one call after
// another gives.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/tempdir.h"
#include "support/testvolume.h"

namespace qm::test {
namespace {

os::Os& sys() {
    return os::current();
}

std::string file_name(int i) {
    return "f" + std::to_string(i) + ".dat";
}

// files files of distinct lengths and times, a few directories and links,
// made in dir without going through any volume mounted over it.
void fill(const std::string& dir, int files) {
    for (int i = 0; i < files; ++i) {
        const std::string p = dir + "/" + file_name(i);
        write(p, std::string(static_cast<std::size_t>(i % 61 + i / 61), 'x'));
        ASSERT_TRUE(sys().set_mtime(p, {1'500'000'000 + i, i * 1000}));
    }
    for (int i = 0; i < files / 20; ++i) mkdirs(dir + "/d" + std::to_string(i));
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(::symlink(file_name(i).c_str(), (dir + "/l" + std::to_string(i)).c_str()), 0);
}

// What one stat after another gives: every entry of list_dir, in its order,
// with the length and time of a file; an entry gone meanwhile left out.
std::vector<os::DirEntry> one_by_one(const std::string& dir) {
    std::vector<os::DirEntry> out;
    auto list = sys().list_dir(dir);
    EXPECT_TRUE(list) << list.error().message();
    if (!list) return out;
    for (auto e : *list) {
        auto st = sys().stat(dir + "/" + e.name);
        if (!st) continue;
        e.kind = st->kind;
        if (e.kind == os::Kind::file) {
            e.size = st->size;
            e.mtime = st->mtime;
        }
        out.push_back(e);
    }
    return out;
}

void expect_same(const std::vector<os::DirEntry>& got, const std::vector<os::DirEntry>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(want[i].name);
        EXPECT_EQ(got[i].name, want[i].name) << "at " << i;
        EXPECT_EQ(got[i].kind, want[i].kind);
        EXPECT_EQ(got[i].hidden, want[i].hidden);
        EXPECT_EQ(got[i].system, want[i].system);
        if (want[i].kind == os::Kind::file) {
            EXPECT_EQ(got[i].size, want[i].size);
            EXPECT_EQ(got[i].mtime, want[i].mtime);
        }
    }
}

TEST(DetailedListing, OnALocalDiskWhatOneStatAfterAnotherGivesInItsOrder) {
    TempDir dir;
    fill(dir.path(), 600);
    auto list = sys().list_dir_detailed(dir.path(), {});
    ASSERT_TRUE(list) << list.error().message();
    expect_same(*list, one_by_one(dir.path()));
    // A link is never followed: no length, and a system entry.
    for (const auto& e : *list) {
        if (e.name[0] != 'l') continue;
        EXPECT_EQ(e.kind, os::Kind::other) << e.name;
        EXPECT_TRUE(e.system) << e.name;
    }
}

TEST(DetailedListing, OnASlowVolumeSeveralStatsAreInFlightAndTheAnswerIsTheSame) {
    QM_NEED_VOLUME();
    TestVolume v({.delay_us = 2000});
    fill(v.backing(), 300);
    // One call at a time: the volume has served no more at once. The
    // names are known to the kernel from then on; a first look-up of a
    // name would wait for every other look-up in its directory, as this
    // volume does not ask the kernel for them side by side (a share does).
    const auto want = one_by_one(v.path());
    ASSERT_LE(v.stats().peak, 2);
    auto list = sys().list_dir_detailed(v.path(), {});
    ASSERT_TRUE(list) << list.error().message();
    EXPECT_GE(v.stats().peak, 4);
    expect_same(*list, want);
    // And as the disk below has them.
    expect_same(*list, one_by_one(v.backing()));
}

TEST(DetailedListing, OnASlowVolumeFilesGoneBeforeTheirStatAreLeftOutInPlace) {
    QM_NEED_VOLUME();
    TestVolume v({.delay_us = 1000});
    fill(v.backing(), 200);
    // The names known to the kernel, as in the test above.
    ASSERT_FALSE(one_by_one(v.path()).empty());
    auto order = sys().list_dir(v.path());
    ASSERT_TRUE(order);
    ASSERT_GT(order->size(), 200u);
    // Gone after the names were read, before any of them was stat'ed:
    // some early (one after another), most late (side by side), the last.
    // Only files are stat'ed: a directory or link gone meanwhile is listed
    // all the same, as it always was.
    std::vector<std::string> files;
    for (const auto& e : *order)
        if (e.kind == os::Kind::file) files.push_back(e.name);
    std::vector<std::string> gone;
    for (const std::size_t at :
         {std::size_t{2}, std::size_t{60}, std::size_t{61}, std::size_t{150}, files.size() - 1})
        gone.push_back(files[at]);
    int calls = 0;
    auto list = sys().list_dir_detailed(v.path(), [&] {
        if (++calls == 1)
            for (const auto& n : gone) remove_tree(v.backing() + "/" + n);
        return true;
    });
    ASSERT_TRUE(list) << list.error().message();
    EXPECT_GE(v.stats().peak, 4);
    EXPECT_EQ(list->size(), order->size() - gone.size());
    expect_same(*list, one_by_one(v.path()));
}

TEST(DetailedListing, OnASlowVolumeAFailureMidReadFailsTheRead) {
    QM_NEED_VOLUME();
    TestVolume v({.delay_us = 1000});
    fill(v.backing(), 400);
    // The volume fails every call from the 20th entry on, when the calls
    // are side by side: the read fails, as one after another would, and
    // gives no partial listing.
    int calls = 0;
    auto list = sys().list_dir_detailed(v.path(), [&] {
        if (++calls == 20) v.fail_now();
        return true;
    });
    ASSERT_FALSE(list);
    EXPECT_EQ(list.error().code, os::Errc::io) << list.error().message();
    EXPECT_NE(list.error().message().find(v.path()), std::string::npos) << list.error().message();
}

TEST(DetailedListing, OnASlowVolumeCancelledMidReadStopsAskingTheVolume) {
    QM_NEED_VOLUME();
    TestVolume v({.delay_us = 1000});
    fill(v.backing(), 400);
    int calls = 0;
    auto list = sys().list_dir_detailed(v.path(), [&] { return ++calls < 100; });
    ASSERT_FALSE(list);
    EXPECT_EQ(list.error().code, os::Errc::cancelled);
    EXPECT_EQ(calls, 100);
    // Read again at once: nothing of the cancelled read is left over.
    auto again = sys().list_dir_detailed(v.path(), {});
    ASSERT_TRUE(again) << again.error().message();
    const auto whole = again->size();
    EXPECT_EQ(whole, 400u + 20u + 3u);
    ASSERT_TRUE(v.unmount());
    // The whole read asked once or twice per file; the cancelled one
    // stopped near its hundredth entry, not at the end.
    const long calls_made = v.stats().calls;
    EXPECT_LT(calls_made, static_cast<long>(2 * whole + 2 * 400)) << calls_made;
}

}  // namespace
}  // namespace qm::test
