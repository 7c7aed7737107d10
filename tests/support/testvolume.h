// A test volume (quillmere-testvol, FUSE) mounted for the life of the
// object: a volume that folds case, keeps coarse times, keeps no
// permission bits, refuses links, answers late, or is pulled out mid-run.
// Linux only. Create it on a thread that outlives it: the daemon ends with
// the thread that started it.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// In a test: skips it where no test volume can be mounted, saying why.
#define QM_NEED_VOLUME()                                                   \
    do {                                                                   \
        std::string why;                                                   \
        if (!::qm::test::TestVolume::available(&why)) GTEST_SKIP() << why; \
    } while (0)

namespace qm::test {

struct VolumeOptions {
    bool fold_case = false;          // A.txt and a.txt are one name
    long long time_step_ns = 0;      // times kept in these steps (FAT: 2 s); 0: as the backing
    bool no_perms = false;           // fixed modes, chmod of anything but write bits fails
    bool no_links = false;           // symlink and link fail with EPERM
    unsigned delay_us = 0;           // every call answered this late
    long vanish_after_creates = -1;  // after this many files created every call fails (EIO)
};

// What the daemon counted: calls served, files created, the most calls
// served at once, whether it acts as pulled out. The call count is whole
// only once the volume is unmounted.
struct VolumeStats {
    long calls = 0, creates = 0, peak = 0;
    bool vanished = false;
};

class TestVolume {
public:
    // Backing directory and mount point below dir, or below a fresh
    // temporary directory (removed again) when dir is empty. Throws
    // std::runtime_error when the volume does not come up.
    explicit TestVolume(const VolumeOptions& options = {}, const std::string& dir = "");
    // Over an existing backing directory at a given mount point (both made
    // when missing): the same volume plugged in again.
    TestVolume(const VolumeOptions& options, const std::string& backing,
               const std::string& mount_point);
    // Unmounts and reaps the daemon, whatever state it was left in.
    ~TestVolume();
    TestVolume(const TestVolume&) = delete;
    TestVolume& operator=(const TestVolume&) = delete;

    // Whether a volume can be mounted here (fuse3 built in, /dev/fuse
    // usable, a trial mount works); why not, when not.
    static bool available(std::string* why);

    const std::string& path() const { return mount_point_; }
    const std::string& backing() const { return backing_; }
    pid_t daemon() const { return pid_; }

    // Pulled out now: lazily unmounted, as a stick pulled out of its port.
    // The mount point is a plain directory again; files held open stay on
    // the detached volume until closed.
    void vanish();
    // Every call fails with EIO from now on; the mount stays.
    void fail_now();
    // The daemon killed: every call fails with ENOTCONN; the mount stays.
    void kill();
    // Unmounts and reaps the daemon (what the destructor does); true when
    // no mount is left behind at the mount point.
    bool unmount();

    VolumeStats stats() const;
    // Whether /proc/self/mountinfo lists a test volume at the mount point.
    bool mounted() const;

    // Test volumes that this process mounted and that are still listed.
    static std::vector<std::string> leftover_mounts();

private:
    void start(const VolumeOptions& options);
    void clean_up();

    std::string owned_dir_;  // removed at the end, when made here
    std::string aux_dir_;    // the daemon's counts and messages
    std::string backing_, mount_point_, stats_, log_;
    pid_t pid_ = -1;
};

}  // namespace qm::test
