// The test volume itself: that it folds case, keeps coarse times, keeps no
// permission bits, refuses links, serves calls side by side and can be
// pulled out, as the volumes it stands for do. The platform layer is used
// where the program would use it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "support/tempdir.h"
#include "support/testvolume.h"

namespace qm::test {
namespace {

os::Os& sys() {
    return os::current();
}

// No test leaves a volume mounted, also when it fails.
class NoMountsLeft : public ::testing::Environment {
public:
    void TearDown() override {
        const auto left = TestVolume::leftover_mounts();
        EXPECT_TRUE(left.empty()) << "still mounted: " << left.front();
    }
};
const auto* const g_no_mounts_left = ::testing::AddGlobalTestEnvironment(new NoMountsLeft);

mode_t mode_of(const std::string& p) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0) return 0;
    return st.st_mode & 07777;
}

int errno_of(int r) {
    return r == 0 ? 0 : errno;
}

TEST(TestVolumeFolding, OneNameWhateverItsCaseKeepingTheCaseItWasMadeWith) {
    QM_NEED_VOLUME();
    TestVolume v({.fold_case = true});
    const std::string m = v.path();
    write(m + "/A.txt", "first");
    auto st = sys().stat(m + "/a.txt");
    ASSERT_TRUE(st);
    EXPECT_EQ(st->size, 5u);
    EXPECT_EQ(read(m + "/a.TXT"), "first");
    EXPECT_EQ(names(m), std::vector<std::string>{"A.txt"});
    // A new file of that name in another case is refused...
    auto excl = sys().create_private(m + "/a.txt");
    ASSERT_FALSE(excl);
    EXPECT_EQ(excl.error().code, os::Errc::exists);
    // ...and writing it rewrites the one there, under its first spelling.
    write(m + "/a.txt", "second");
    EXPECT_EQ(names(m), std::vector<std::string>{"A.txt"});
    EXPECT_EQ(names(v.backing()), std::vector<std::string>{"A.txt"});
    EXPECT_EQ(read(v.backing() + "/A.txt"), "second");

    // Letters beyond ASCII fold too.
    write(m + "/Ärger.txt", "umlaut");
    EXPECT_EQ(read(m + "/äRGER.TXT"), "umlaut");
    EXPECT_EQ(names(m), (std::vector<std::string>{"A.txt", "Ärger.txt"}));
    ASSERT_TRUE(sys().remove_file(m + "/ärger.txt"));
    EXPECT_EQ(names(m), std::vector<std::string>{"A.txt"});
}

TEST(TestVolumeFolding, DirectoriesAndPathsBelowThemFold) {
    QM_NEED_VOLUME();
    TestVolume v({.fold_case = true});
    const std::string m = v.path();
    ASSERT_TRUE(sys().make_dir(m + "/Dir"));
    auto again = sys().make_dir(m + "/DIR");
    ASSERT_FALSE(again);
    EXPECT_EQ(again.error().code, os::Errc::exists);
    write(m + "/dir/Sub.bin", "below");
    EXPECT_EQ(names(m + "/Dir"), std::vector<std::string>{"Sub.bin"});
    EXPECT_EQ(read(v.backing() + "/Dir/Sub.bin"), "below");
    EXPECT_EQ(*sys().identity(m + "/DIR"), *sys().identity(m + "/dir"));
    ASSERT_TRUE(sys().remove_file(m + "/DIR/SUB.BIN"));
    ASSERT_TRUE(sys().remove_dir(m + "/dIr"));
    EXPECT_TRUE(names(v.backing()).empty());
}

TEST(TestVolumeFolding, RenameOntoAnotherCaseReplacesAndKeepsTheOldSpelling) {
    QM_NEED_VOLUME();
    TestVolume v({.fold_case = true});
    const std::string m = v.path();
    write(m + "/A.txt", "old");
    write(m + "/new.part", "new");
    ASSERT_TRUE(sys().rename_replace(m + "/new.part", m + "/a.txt"));
    EXPECT_EQ(names(m), std::vector<std::string>{"A.txt"});
    EXPECT_EQ(read(m + "/A.txt"), "new");
    // A file renamed onto its own name in another case is spelt anew.
    ASSERT_TRUE(sys().rename_replace(m + "/A.txt", m + "/a.TXT"));
    EXPECT_EQ(names(m), std::vector<std::string>{"a.TXT"});
    EXPECT_EQ(read(m + "/a.txt"), "new");
}

TEST(TestVolumeFolding, WithoutTheOptionCaseMatters) {
    QM_NEED_VOLUME();
    TestVolume v;
    write(v.path() + "/A.txt", "upper");
    write(v.path() + "/a.txt", "lower");
    EXPECT_EQ(names(v.path()), (std::vector<std::string>{"A.txt", "a.txt"}));
    EXPECT_FALSE(sys().exists(v.path() + "/A.TXT"));
}

long long now_ns() {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return ts.tv_sec * 1'000'000'000LL + ts.tv_nsec;
}

TEST(TestVolumeTimes, TimesAreKeptInTwoSecondSteps) {
    QM_NEED_VOLUME();
    TestVolume v({.time_step_ns = 2'000'000'000});
    const std::string f = v.path() + "/t.bin";
    write(f, "x");
    ASSERT_TRUE(sys().set_mtime(f, {1001, 700'000'000}));
    EXPECT_EQ(sys().stat(f)->mtime, (os::FileTime{1000, 0}));
    // Stored so, not only shown so.
    struct stat st {};
    ASSERT_EQ(::stat((v.backing() + "/t.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1000);
    EXPECT_EQ(st.st_mtim.tv_nsec, 0);
    ASSERT_TRUE(sys().set_mtime(f, {999, 999'999'999}));
    EXPECT_EQ(sys().stat(f)->mtime, (os::FileTime{998, 0}));

    // A write after a time was set moves the time to now, rounded down.
    const long long before = now_ns();
    ASSERT_TRUE(sys().append_file(f, "y"));
    const long long after = now_ns();
    const auto t = sys().stat(f)->mtime;
    EXPECT_EQ(t.nsec, 0);
    EXPECT_EQ(t.sec % 2, 0);
    EXPECT_GE(t.sec * 1'000'000'000LL, before - 2'000'000'000LL);
    EXPECT_LE(t.sec * 1'000'000'000LL, after);
    const auto state = sys().file_state(f);
    ASSERT_TRUE(state);
    EXPECT_EQ(state->ctime.nsec, 0);
    EXPECT_EQ(state->ctime.sec % 2, 0);
}

TEST(TestVolumeTimes, AWriteWithinOneStepLeavesTheChangeTime) {
    QM_NEED_VOLUME();
    TestVolume v({.time_step_ns = 2'000'000'000});
    const std::string f = v.path() + "/c.bin";
    write(f, "start");
    // Two writes that the clock shows within one step; a try that strays
    // over a step's end is tried again.
    bool seen = false;
    for (int attempt = 0; attempt < 10 && !seen; ++attempt) {
        const long long t0 = now_ns();
        auto a = sys().file_state(f);
        ASSERT_TRUE(sys().append_file(f, "more"));
        auto b = sys().file_state(f);
        const long long t1 = now_ns();
        if (t0 / 2'000'000'000 != t1 / 2'000'000'000) continue;
        ASSERT_TRUE(a && b);
        EXPECT_EQ(a->ctime, b->ctime);
        EXPECT_EQ(a->mtime, b->mtime);
        EXPECT_EQ(b->size, a->size + 4);
        seen = true;
    }
    EXPECT_TRUE(seen) << "no two writes fell within one step";
}

TEST(TestVolumeTimes, AHundredNanosecondStepKeepsTheRest) {
    QM_NEED_VOLUME();
    TestVolume v({.time_step_ns = 100});
    const std::string f = v.path() + "/n.bin";
    write(f, "x");
    ASSERT_TRUE(sys().set_mtime(f, {1'600'000'000, 123'456'789}));
    EXPECT_EQ(sys().stat(f)->mtime, (os::FileTime{1'600'000'000, 123'456'700}));
}

TEST(TestVolumePermissions, ModesAreFixedAndOnlyTheWriteBitsChange) {
    QM_NEED_VOLUME();
    TestVolume v({.no_perms = true});
    const std::string m = v.path();
    write(m + "/f.txt", "data");
    ASSERT_TRUE(sys().make_dir(m + "/d"));
    EXPECT_EQ(mode_of(m + "/f.txt"), 0644u);
    EXPECT_EQ(mode_of(m + "/d"), 0755u);
    for (mode_t refused : {0600, 0755, 0640, 04644}) {
        EXPECT_EQ(errno_of(::chmod((m + "/f.txt").c_str(), refused)), EPERM) << std::oct << refused;
        EXPECT_EQ(mode_of(m + "/f.txt"), 0644u);
    }
    EXPECT_EQ(errno_of(::chmod((m + "/d").c_str(), 0555)), EPERM);
    EXPECT_EQ(errno_of(::chmod((m + "/d").c_str(), 0700)), EPERM);
    EXPECT_EQ(errno_of(::chmod((m + "/d").c_str(), 0755)), 0);
    // Clearing the write bits makes the file read-only, and back.
    EXPECT_EQ(errno_of(::chmod((m + "/f.txt").c_str(), 0444)), 0);
    EXPECT_EQ(mode_of(m + "/f.txt"), 0444u);
    EXPECT_TRUE(sys().stat(m + "/f.txt")->read_only);
    EXPECT_EQ(errno_of(::chmod((m + "/f.txt").c_str(), 0664)), 0);
    EXPECT_EQ(mode_of(m + "/f.txt"), 0644u);
    EXPECT_FALSE(sys().stat(m + "/f.txt")->read_only);
    // A file made without write bits is read-only from the start.
    const int fd = ::open((m + "/ro.txt").c_str(), O_CREAT | O_WRONLY | O_EXCL, 0400);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_EQ(mode_of(m + "/ro.txt"), 0444u);
    // The program's own permission copy meets the same refusal.
    TempDir src;
    write(src / "private.txt", "p");
    ASSERT_EQ(::chmod((src / "private.txt").c_str(), 0600), 0);
    auto copied = sys().copy_permissions(src / "private.txt", m + "/f.txt");
    ASSERT_FALSE(copied);
    EXPECT_EQ(copied.error().code, os::Errc::access);
    EXPECT_EQ(errno_of(::chown((m + "/f.txt").c_str(), ::geteuid() + 1, static_cast<gid_t>(-1))),
              EPERM);
    EXPECT_EQ(errno_of(::mkfifo((m + "/pipe").c_str(), 0644)), EPERM);
}

TEST(TestVolumeLinks, LinksAreRefusedOnlyWhenAsked) {
    QM_NEED_VOLUME();
    TestVolume refusing({.no_links = true});
    write(refusing.path() + "/f", "x");
    EXPECT_EQ(errno_of(::symlink("f", (refusing.path() + "/s").c_str())), EPERM);
    EXPECT_EQ(errno_of(::link((refusing.path() + "/f").c_str(), (refusing.path() + "/h").c_str())),
              EPERM);
    EXPECT_EQ(names(refusing.path()), std::vector<std::string>{"f"});

    TestVolume plain;
    write(plain.path() + "/f", "x");
    EXPECT_EQ(errno_of(::symlink("f", (plain.path() + "/s").c_str())), 0);
    EXPECT_EQ(errno_of(::link((plain.path() + "/f").c_str(), (plain.path() + "/h").c_str())), 0);
    EXPECT_EQ(sys().stat(plain.path() + "/s")->kind, os::Kind::other);
    EXPECT_EQ(read(plain.path() + "/h"), "x");
}

TEST(TestVolumeDelay, LateAnswersAreServedSideBySide) {
    QM_NEED_VOLUME();
    constexpr unsigned kDelayUs = 30'000;
    TestVolume v({.delay_us = kDelayUs});
    // One call waits its delay at least.
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(sys().stat(v.path()));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::microseconds(kDelayUs));
    // Eight calls at once are in the daemon together, not one after
    // another. Open files, so that no look-up is among them: the kernel
    // serves one look-up of a directory at a time.
    std::vector<int> fds;
    for (int i = 0; i < 8; ++i) {
        const std::string f = v.path() + "/f" + std::to_string(i);
        fds.push_back(::open(f.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644));
        ASSERT_GE(fds.back(), 0) << f;
    }
    std::atomic<int> ready{0}, answered{0};
    std::vector<std::thread> threads;
    for (int fd : fds)
        threads.emplace_back([&, fd] {
            ++ready;
            while (ready < 8) std::this_thread::yield();
            struct stat st {};
            if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) ++answered;
        });
    for (auto& t : threads) t.join();
    for (int fd : fds) ::close(fd);
    EXPECT_EQ(answered, 8);
    EXPECT_GE(v.stats().peak, 4);
}

TEST(TestVolumeDevice, OwnDeviceAndTheBackingsSpace) {
    QM_NEED_VOLUME();
    TestVolume v;
    write(v.path() + "/f", "x");
    ASSERT_TRUE(sys().make_dir(v.path() + "/d"));
    const auto root = sys().identity(v.path());
    ASSERT_TRUE(root);
    EXPECT_NE(root->volume, sys().identity(v.backing())->volume);
    EXPECT_EQ(sys().identity(v.path() + "/f")->volume, root->volume);
    EXPECT_EQ(sys().identity(v.path() + "/d")->volume, root->volume);
    EXPECT_EQ(sys().identity(v.path())->volume, root->volume);
    struct statvfs a {
    }, b{};
    ASSERT_EQ(::statvfs(v.path().c_str(), &a), 0);
    ASSERT_EQ(::statvfs(v.backing().c_str(), &b), 0);
    EXPECT_EQ(a.f_blocks, b.f_blocks);
    EXPECT_EQ(a.f_bsize, b.f_bsize);
}

TEST(TestVolumeVanish, RightAfterTheNthCreateEveryCallFails) {
    QM_NEED_VOLUME();
    std::string mount_point;
    {
        TestVolume v({.vanish_after_creates = 2});
        mount_point = v.path();
        write(v.path() + "/one", "1");
        // The second file is made, and the volume is gone before its bytes
        // are written.
        auto second = sys().write_file(v.path() + "/two", "2", false);
        ASSERT_FALSE(second);
        EXPECT_EQ(second.error().code, os::Errc::io);
        EXPECT_EQ(sys().stat(v.path() + "/one").error().code, os::Errc::io);
        EXPECT_FALSE(sys().list_dir(v.path()));
        EXPECT_FALSE(sys().write_file(v.path() + "/three", "3", false));
        EXPECT_TRUE(v.stats().vanished);
        EXPECT_EQ(v.stats().creates, 2);
        // What was written before stays on the volume.
        EXPECT_EQ(names(v.backing()), (std::vector<std::string>{"one", "two"}));
        EXPECT_EQ(read(v.backing() + "/one"), "1");
        EXPECT_EQ(read(v.backing() + "/two"), "");
        EXPECT_TRUE(v.mounted());
    }
    EXPECT_FALSE(exists(mount_point));
}

TEST(TestVolumeVanish, FailNowFailsTheNextCall) {
    QM_NEED_VOLUME();
    TestVolume v;
    write(v.path() + "/f", "x");
    v.fail_now();
    // The signal is taken asynchronously; the next calls see it soon.
    os::Result<os::FileInfo> st;
    for (int i = 0; i < 500 && (st = sys().stat(v.path() + "/f")); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_FALSE(st);
    EXPECT_EQ(st.error().code, os::Errc::io);
    EXPECT_TRUE(v.unmount());
    EXPECT_FALSE(v.mounted());
}

TEST(TestVolumeVanish, PulledOutTheMountPointIsAPlainDirectoryAgain) {
    QM_NEED_VOLUME();
    TestVolume v;
    write(v.path() + "/f", "x");
    // A file held open stays readable on the detached volume.
    const int fd = ::open((v.path() + "/f").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    v.vanish();
    EXPECT_FALSE(v.mounted());
    EXPECT_FALSE(sys().exists(v.path() + "/f"));
    EXPECT_TRUE(names(v.path()).empty());
    char c = 0;
    EXPECT_EQ(::pread(fd, &c, 1, 0), 1);
    EXPECT_EQ(c, 'x');
    ::close(fd);
    EXPECT_TRUE(v.unmount());
    EXPECT_EQ(read(v.backing() + "/f"), "x");
}

TEST(TestVolumeVanish, AKilledDaemonLeavesAMountThatAnswersNothing) {
    QM_NEED_VOLUME();
    TestVolume v;
    write(v.path() + "/f", "x");
    v.kill();
    struct stat st {};
    EXPECT_EQ(errno_of(::stat((v.path() + "/f").c_str(), &st)), ENOTCONN);
    EXPECT_TRUE(v.mounted());
    EXPECT_TRUE(v.unmount());
    EXPECT_FALSE(v.mounted());
}

TEST(TestVolumeVanish, PluggedInAgainTheFilesAreThere) {
    QM_NEED_VOLUME();
    TempDir d;
    {
        TestVolume v({.fold_case = true}, d / "stick", d / "mnt");
        write(v.path() + "/Kept.txt", "kept");
        v.vanish();
    }
    TestVolume again({.fold_case = true}, d / "stick", d / "mnt");
    EXPECT_EQ(read(again.path() + "/kept.txt"), "kept");
}

}  // namespace
}  // namespace qm::test
