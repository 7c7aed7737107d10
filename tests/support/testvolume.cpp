#include "support/testvolume.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace qm::test {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kType = "fuse.quillmere-testvol";

std::mutex g_lock;
std::set<std::string>& mounted_here() {
    static std::set<std::string> s;
    return s;
}

// A mount point as /proc/self/mountinfo spells it: space, tab, newline and
// backslash as octal escapes.
std::string unescape(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() &&
            std::isdigit(static_cast<unsigned char>(s[i + 1]))) {
            out.push_back(static_cast<char>(std::strtol(s.substr(i + 1, 3).c_str(), nullptr, 8)));
            i += 3;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

// How many test volumes are mounted at mount_point (stacked ones count).
int listed(const std::string& mount_point) {
    std::ifstream in("/proc/self/mountinfo");
    int n = 0;
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string id, parent, dev, root, point;
        words >> id >> parent >> dev >> root >> point;
        const auto dash = line.find(" - ");
        if (dash == std::string::npos) continue;
        std::istringstream rest(line.substr(dash + 3));
        std::string type;
        rest >> type;
        if (type == kType && unescape(point) == mount_point) ++n;
    }
    return n;
}

pid_t run(const std::vector<std::string>& args, const std::string& log) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

// Lazily, so that it works while files are open on the volume; through
// fusermount3 when this process may not unmount.
bool detach(const std::string& mount_point, const std::string& log) {
    if (::umount2(mount_point.c_str(), MNT_DETACH) == 0) return true;
    const pid_t pid = run({"fusermount3", "-uz", mount_point}, log);
    int st = 0;
    return pid > 0 && ::waitpid(pid, &st, 0) == pid && WIFEXITED(st) && WEXITSTATUS(st) == 0;
}

std::string made_dir(const std::string& p) {
    std::error_code ec;
    fs::create_directories(p, ec);
    char buf[PATH_MAX];
    if (!::realpath(p.c_str(), buf)) throw std::runtime_error("test volume: cannot make " + p);
    return buf;
}

// A fresh directory in the temporary directory.
std::string fresh_dir(const char* prefix) {
    const char* t = std::getenv("TMPDIR");
    std::string tmpl = std::string(t && *t ? t : "/tmp") + "/" + prefix + "-XXXXXX";
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("test volume: no temporary directory");
    return tmpl;
}

std::string read_all(const std::string& p) {
    std::ifstream in(p);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace

TestVolume::TestVolume(const VolumeOptions& options, const std::string& dir) {
    std::string base = dir;
    if (base.empty()) owned_dir_ = base = fresh_dir("qm-testvol");
    try {
        backing_ = made_dir(base + "/backing");
        mount_point_ = made_dir(base + "/mnt");
        start(options);
    } catch (...) {
        clean_up();
        throw;
    }
}

TestVolume::TestVolume(const VolumeOptions& options, const std::string& backing,
                       const std::string& mount_point) {
    try {
        backing_ = made_dir(backing);
        mount_point_ = made_dir(mount_point);
        start(options);
    } catch (...) {
        clean_up();
        throw;
    }
}

void TestVolume::start(const VolumeOptions& o) {
#ifdef QM_TESTVOL_PROGRAM
    // The daemon's counts and messages go beside it, not beside the volume.
    aux_dir_ = fresh_dir("qm-testvol-daemon");
    stats_ = aux_dir_ + "/stats";
    log_ = aux_dir_ + "/log";
    if (listed(mount_point_) > 0)
        throw std::runtime_error("test volume: " + mount_point_ + " is mounted already");
    std::vector<std::string> args{QM_TESTVOL_PROGRAM, "--exit-with-parent", "--stats=" + stats_};
    if (o.fold_case) args.push_back("--fold-case");
    if (o.time_step_ns > 0) args.push_back("--time-step-ns=" + std::to_string(o.time_step_ns));
    if (o.no_perms) args.push_back("--no-perms");
    if (o.no_links) args.push_back("--no-links");
    if (o.delay_us > 0) args.push_back("--delay-us=" + std::to_string(o.delay_us));
    if (o.vanish_after_creates >= 0)
        args.push_back("--vanish-after-creates=" + std::to_string(o.vanish_after_creates));
    args.push_back(backing_);
    args.push_back(mount_point_);
    pid_ = run(args, log_);
    if (pid_ < 0) throw std::runtime_error("test volume: cannot start " + args[0]);
    {
        std::lock_guard<std::mutex> lock(g_lock);
        mounted_here().insert(mount_point_);
    }
    // Up when the mount table lists it and it answers.
    const auto t0 = Clock::now();
    for (;;) {
        int st = 0;
        if (::waitpid(pid_, &st, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error("test volume: the daemon ended: " + read_all(log_));
        }
        struct stat s {};
        if (listed(mount_point_) > 0 && ::stat(mount_point_.c_str(), &s) == 0) return;
        if (Clock::now() - t0 > std::chrono::seconds(10)) {
            unmount();
            throw std::runtime_error("test volume: not mounted after 10 s: " + read_all(log_));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
#else
    (void)o;
    throw std::runtime_error("test volume: built without libfuse3");
#endif
}

TestVolume::~TestVolume() {
    clean_up();
}

void TestVolume::clean_up() {
    const bool gone = unmount();
    std::error_code ec;
    if (!aux_dir_.empty()) fs::remove_all(aux_dir_, ec);
    // Never through a volume that is still mounted.
    if (gone && !owned_dir_.empty()) fs::remove_all(owned_dir_, ec);
}

void TestVolume::vanish() {
    (void)detach(mount_point_, log_);
}

void TestVolume::fail_now() {
    if (pid_ > 0) ::kill(pid_, SIGUSR1);
}

void TestVolume::kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int st = 0;
    ::waitpid(pid_, &st, 0);
    pid_ = -1;
}

bool TestVolume::unmount() {
    if (mount_point_.empty()) return true;
    if (listed(mount_point_) > 0) (void)detach(mount_point_, log_);
    if (pid_ > 0) {
        // A detached volume ends its daemon once nothing holds it open; one
        // that is still held is killed (never ended by a signal it would
        // answer by unmounting what is at the mount point now).
        const auto t0 = Clock::now();
        int st = 0;
        while (::waitpid(pid_, &st, WNOHANG) != pid_) {
            if (Clock::now() - t0 > std::chrono::seconds(5)) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &st, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        pid_ = -1;
    }
    for (int i = 0; i < 3 && listed(mount_point_) > 0; ++i) (void)detach(mount_point_, log_);
    const bool gone = listed(mount_point_) == 0;
    if (gone) {
        std::lock_guard<std::mutex> lock(g_lock);
        mounted_here().erase(mount_point_);
    }
    return gone;
}

VolumeStats TestVolume::stats() const {
    VolumeStats s;
    std::istringstream in(read_all(stats_));
    std::string key;
    long value = 0;
    while (in >> key >> value) {
        if (key == "calls") s.calls = value;
        if (key == "creates") s.creates = value;
        if (key == "peak") s.peak = value;
        if (key == "vanished") s.vanished = value != 0;
    }
    return s;
}

bool TestVolume::mounted() const {
    return listed(mount_point_) > 0;
}

std::vector<std::string> TestVolume::leftover_mounts() {
    std::lock_guard<std::mutex> lock(g_lock);
    std::vector<std::string> out;
    for (const auto& p : mounted_here())
        if (listed(p) > 0) out.push_back(p);
    return out;
}

bool TestVolume::available(std::string* why) {
    static std::once_flag once;
    static bool ok = false;
    static std::string reason;
    std::call_once(once, [] {
#ifndef QM_TESTVOL_PROGRAM
        reason = "built without libfuse3 (pkg-config found no fuse3)";
#else
        if (::access(QM_TESTVOL_PROGRAM, X_OK) != 0) {
            reason = std::string(QM_TESTVOL_PROGRAM) + " is missing";
            return;
        }
        const int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            reason = std::string("/dev/fuse: ") + std::strerror(errno);
            return;
        }
        ::close(fd);
        try {
            TestVolume trial;
            ok = true;
        } catch (const std::exception& e) {
            reason = e.what();
        }
#endif
    });
    if (why) *why = reason;
    return ok;
}

}  // namespace qm::test
