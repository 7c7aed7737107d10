// POSIX backend (Linux). Hidden means a name starting with "."; system means
// anything that is not a regular file or directory. Links are never followed.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <mntent.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/types.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "platform/platform.h"

#if defined(__linux__)
#include <linux/openat2.h>
#include <sys/sendfile.h>
#include <sys/syscall.h>
#endif

namespace qm::os {

namespace {

Errc code_of(int err) {
    switch (err) {
        case ENOENT:
            return Errc::not_found;
        case EEXIST:
            return Errc::exists;
        case EACCES:
        case EPERM:
        case EROFS:
            return Errc::access;
        case EBUSY:
        case ETXTBSY:
            return Errc::busy;
        case ENOSPC:
        case EDQUOT:
            return Errc::no_space;
        case ENOTDIR:
            return Errc::not_dir;
        case EISDIR:
            return Errc::is_dir;
        case EINVAL:
        case ENAMETOOLONG:
            return Errc::invalid;
        case EIO:
            return Errc::io;
        default:
            return Errc::other;
    }
}

Error fail(const char* op, const std::string& path, int err = errno) {
    return make_error(std::string(op), path, err);
}

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    // Closes now and reports the result (a deferred write error shows here).
    int close() {
        int r = ::close(fd_);
        fd_ = -1;
        return r;
    }

private:
    int fd_;
};

FileState state_of(const struct stat& st) {
    FileState s;
    s.id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    s.size = static_cast<std::uint64_t>(st.st_size);
    s.mtime = {static_cast<std::int64_t>(st.st_mtim.tv_sec),
               static_cast<std::int32_t>(st.st_mtim.tv_nsec)};
    s.ctime = {static_cast<std::int64_t>(st.st_ctim.tv_sec),
               static_cast<std::int32_t>(st.st_ctim.tv_nsec)};
    return s;
}

bool is_hidden_name(const std::string& name) {
    return !name.empty() && name[0] == '.';
}

Kind kind_of(mode_t m);

bool kernel_at_least(int major, int minor) {
    static const std::pair<int, int> have = [] {
        utsname u{};
        int a = 0, b = 0;
        if (::uname(&u) == 0) std::sscanf(u.release, "%d.%d", &a, &b);
        return std::pair{a, b};
    }();
    return have >= std::pair{major, minor};
}

FileInfo info_of(const struct stat& st, const std::string& name) {
    FileInfo fi;
    fi.kind = kind_of(st.st_mode);
    fi.hidden = is_hidden_name(name);
    fi.system = fi.kind == Kind::other;
    fi.read_only = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
    fi.size = static_cast<std::uint64_t>(st.st_size);
    fi.mtime = {static_cast<std::int64_t>(st.st_mtim.tv_sec),
                static_cast<std::int32_t>(st.st_mtim.tv_nsec)};
    return fi;
}

std::int64_t ns_of(const timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// How long after one change the volume of fd may stamp a later change with
// the same time. Where a share, a stick or any volume of another system's
// making keeps times to two seconds (or only says it does), two seconds;
// where the kernel stamps a change that follows a look at the file with a
// finer time than the look saw (ext4, XFS, Btrfs and tmpfs from Linux 6.13
// on), none; elsewhere the kernel's clock tick.
std::int64_t change_step_ns(int fd, dev_t dev) {
    static std::mutex lock;
    static std::unordered_map<dev_t, std::int64_t> known;
    {
        std::lock_guard<std::mutex> hold(lock);
        if (auto k = known.find(dev); k != known.end()) return k->second;
    }
    struct statfs fs {};
    std::int64_t step = 2'000'000'000;
    if (::fstatfs(fd, &fs) == 0) {
        const auto type = static_cast<unsigned long>(fs.f_type);
        const bool local = type == 0xEF53UL /* ext2-4 */ || type == 0x58465342UL /* XFS */ ||
                           type == 0x9123683EUL /* Btrfs */ || type == 0x01021994UL /* tmpfs */;
        const bool known_local =
            local || type == 0xF2F52010UL /* F2FS */ || type == 0x794C7630UL /* overlay */;
        if (local && kernel_at_least(6, 13)) {
            step = 0;
        } else if (known_local) {
            timespec res{};
            step = ::clock_getres(CLOCK_REALTIME_COARSE, &res) == 0 ? ns_of(res) : 10'000'000;
        }
    }
    std::lock_guard<std::mutex> hold(lock);
    known[dev] = step;
    return step;
}

Kind kind_of(mode_t m) {
    if (S_ISREG(m)) return Kind::file;
    if (S_ISDIR(m)) return Kind::dir;
    return Kind::other;
}

std::string basename_of(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    auto slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

Status write_all(int fd, const char* data, std::size_t size, const std::string& path) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::unexpected(fail("write", path));
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return {};
}

// Kernel and runtime file systems are not drives a user keeps files on.
bool is_pseudo_mount(const std::string& type, const std::string& dir) {
    static const char* const pseudo[] = {
        "proc",   "sysfs",       "devtmpfs", "devpts",   "cgroup",    "cgroup2",    "securityfs",
        "pstore", "debugfs",     "tracefs",  "mqueue",   "hugetlbfs", "configfs",   "fusectl",
        "bpf",    "binfmt_misc", "autofs",   "efivarfs", "nsfs",      "rpc_pipefs", "selinuxfs"};
    for (const char* p : pseudo)
        if (type == p) return true;
    for (const char* prefix : {"/proc", "/sys", "/dev"})
        if (dir.rfind(prefix, 0) == 0 &&
            (dir.size() == std::strlen(prefix) || dir[std::strlen(prefix)] == '/'))
            return true;
    return false;
}

// What list_dir_detailed needs of one entry, by its name in the open
// directory; err is 0, or the errno of the failed call.
struct Probe {
    int err = 0;
    Kind kind = Kind::other;
    std::uint64_t size = 0;
    FileTime mtime;
};

#ifdef STATX_TYPE
std::atomic<bool> g_no_statx{false};
#endif

// One call: statx asks only for the kind, length and time, which spares a
// network file system the rest. Its attributes are synchronised as stat's
// are: AT_STATX_DONT_SYNC could answer from a share's cache and miss a
// file that another computer has just changed.
void probe(int dfd, const char* name, Probe& p) {
#ifdef STATX_TYPE
    if (!g_no_statx.load(std::memory_order_relaxed)) {
        constexpr unsigned kWant = STATX_TYPE | STATX_SIZE | STATX_MTIME;
        struct statx sx {};
        if (::statx(dfd, name, AT_SYMLINK_NOFOLLOW | AT_STATX_SYNC_AS_STAT, kWant, &sx) == 0) {
            if ((sx.stx_mask & kWant) == kWant) {
                p.err = 0;
                p.kind = kind_of(sx.stx_mode);
                p.size = sx.stx_size;
                p.mtime = {static_cast<std::int64_t>(sx.stx_mtime.tv_sec),
                           static_cast<std::int32_t>(sx.stx_mtime.tv_nsec)};
                return;
            }
            // A file system that could not tell them all: stat says what it has.
        } else if (errno == ENOSYS) {
            g_no_statx = true;  // an old kernel, or a sandbox that forbids it
        } else if (errno != EPERM) {
            p.err = errno;
            return;
        }
    }
#endif
    struct stat st {};
    if (::fstatat(dfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        p.err = errno;
        return;
    }
    p.err = 0;
    p.kind = kind_of(st.st_mode);
    p.size = static_cast<std::uint64_t>(st.st_size);
    p.mtime = {static_cast<std::int64_t>(st.st_mtim.tv_sec),
               static_cast<std::int32_t>(st.st_mtim.tv_nsec)};
}

// The stats of a directory's files, one after another in the order read,
// as long as they come back fast. Once a run of them proves slow (a share,
// where each is a round trip; a disk that seeks), the rest are stat'ed by
// a few threads at once and handed out in the same order: the result is
// what one call after another gives. On a local disk with its inodes in
// memory no thread is ever started.
class EntryProbes {
public:
    // types: every entry's type as read; names: their names, one after
    // another, each ended by a zero.
    EntryProbes(int dfd, const std::string& names, const std::vector<unsigned char>& types)
        : dfd_(dfd), names_(names), types_(types) {}
    ~EntryProbes() { stop(); }
    EntryProbes(const EntryProbes&) = delete;
    EntryProbes& operator=(const EntryProbes&) = delete;

    static bool wanted(unsigned char type) { return type == DT_REG || type == DT_UNKNOWN; }

    // The answer for entry i, named name: the next wanted entry in order.
    const Probe& next(std::size_t i, const char* name) {
        if (slots_) {
            Slot& s = slots_[taken_++];
            s.done.wait(false, std::memory_order_acquire);
            return s.probe;
        }
        // A directory's first run is timed, and one in four after it: on a
        // local disk reading the clock costs about what the call does.
        const bool timed = runs_ % kTimedEvery == 0;
        if (timed) {
            const auto t0 = std::chrono::steady_clock::now();
            probe(dfd_, name, one_);
            // Most calls of a run slow, not one: a call that lost the
            // processor to another program is no slow volume.
            if (std::chrono::steady_clock::now() - t0 >= kSlowCall) ++slow_;
        } else {
            probe(dfd_, name, one_);
        }
        if (++in_run_ == kRun) {
            if (timed && may_widen_ && slow_ >= kRun / 2 && types_.size() - i > kFewest)
                widen(i + 1, name + std::strlen(name) + 1);
            in_run_ = 0;
            slow_ = 0;
            ++runs_;
        }
        return one_;
    }

private:
    static constexpr std::size_t kRun = 16;        // calls judged together
    static constexpr std::size_t kTimedEvery = 4;  // runs
    static constexpr auto kSlowCall = std::chrono::microseconds(100);
    static constexpr std::size_t kFewest = 32;  // entries left to make threads worth it
    static constexpr std::size_t kThreads = 6;  // calls in flight at most

    struct Slot {
        std::atomic<bool> done{false};
        Probe probe;
    };

    // The wanted entries from entry first on (named name) to threads.
    void widen(std::size_t first, const char* name) {
        may_widen_ = false;
        for (std::size_t i = first; i < types_.size(); ++i) {
            if (wanted(types_[i])) at_.push_back(static_cast<std::size_t>(name - names_.data()));
            name += std::strlen(name) + 1;
        }
        if (at_.size() < kFewest) {
            at_.clear();
            return;
        }
        slots_ = std::make_unique<Slot[]>(at_.size());
        const std::size_t threads = std::min(kThreads, at_.size() / 8);
        for (std::size_t t = 0; t < threads; ++t) {
            try {
                threads_.emplace_back([this] { work(); });
            } catch (const std::system_error&) {
                break;  // no more threads to be had: those running do it all
            }
        }
        if (threads_.empty()) {
            // Not one: on one after another, as before.
            slots_.reset();
            at_.clear();
        }
    }

    void work() {
        for (;;) {
            if (stop_.load(std::memory_order_relaxed)) return;
            const std::size_t k = claim_.fetch_add(1, std::memory_order_relaxed);
            if (k >= at_.size()) return;
            Slot& s = slots_[k];
            probe(dfd_, names_.data() + at_[k], s.probe);
            s.done.store(true, std::memory_order_release);
            s.done.notify_one();
        }
    }

    void stop() {
        stop_ = true;
        for (auto& t : threads_) t.join();
        threads_.clear();
    }

    const int dfd_;
    const std::string& names_;
    const std::vector<unsigned char>& types_;
    // One after another: the last answer, and how many calls of the current
    // run were slow.
    Probe one_;
    std::size_t in_run_ = 0, slow_ = 0, runs_ = 0;
    bool may_widen_ = true;
    // Side by side: where the name of each entry left is, its answer, the
    // next one to hand out and the next one to ask for.
    std::vector<std::size_t> at_;
    std::unique_ptr<Slot[]> slots_;
    std::size_t taken_ = 0;
    std::atomic<std::size_t> claim_{0};
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};

class PosixOs final : public Os {
public:
    Result<std::vector<DirEntry>> list_dir(const std::string& dir) override {
        DIR* d = ::opendir(dir.c_str());
        if (!d) return std::unexpected(fail("read directory", dir));
        std::vector<DirEntry> out;
        int dfd = ::dirfd(d);
        errno = 0;
        while (dirent* e = ::readdir(d)) {
            std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            DirEntry de;
            de.name = std::move(name);
            unsigned char t = e->d_type;
            if (t == DT_UNKNOWN) {
                struct stat st {};
                if (::fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
                    de.kind = kind_of(st.st_mode);
            } else {
                de.kind = t == DT_REG ? Kind::file : t == DT_DIR ? Kind::dir : Kind::other;
            }
            de.hidden = is_hidden_name(de.name);
            de.system = de.kind == Kind::other;
            out.push_back(std::move(de));
            errno = 0;
        }
        int err = errno;
        ::closedir(d);
        if (err != 0) return std::unexpected(fail("read directory", dir, err));
        return out;
    }

    // Each entry stat'ed by its name in the open directory: no walk down
    // the whole path for every file. On a volume that answers late (a
    // share) several of those calls are kept in flight at once.
    Result<std::vector<DirEntry>> list_dir_detailed(const std::string& dir,
                                                    const std::function<bool()>& between) override {
        DIR* d = ::opendir(dir.c_str());
        if (!d) return std::unexpected(fail("read directory", dir));
        struct Close {
            DIR* d;
            ~Close() { ::closedir(d); }
        } close{d};
        const int dfd = ::dirfd(d);
        // The names first, packed one after another: the entries are then
        // made at their final count, so a large directory never holds its
        // listing twice while it grows, and is read once.
        std::string names;
        std::vector<unsigned char> types;
        // A directory's length holds its names on the usual file systems:
        // the buffer is then made once, at its size.
        if (struct stat st{}; ::fstat(dfd, &st) == 0 && st.st_size > 0)
            names.reserve(std::min<std::size_t>(static_cast<std::size_t>(st.st_size), 64u << 20));
        errno = 0;
        while (dirent* e = ::readdir(d)) {
            if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
            if (types.size() % 4096 == 4095 && between && !between())
                return std::unexpected(cancelled("read directory", dir));
            names.append(e->d_name, std::strlen(e->d_name) + 1);
            types.push_back(e->d_type);
            errno = 0;
        }
        if (const int err = errno; err != 0)
            return std::unexpected(fail("read directory", dir, err));
        std::vector<DirEntry> out;
        out.reserve(types.size());
        EntryProbes probes(dfd, names, types);
        const char* name = names.c_str();
        for (std::size_t i = 0; i < types.size(); ++i) {
            const unsigned char type = types[i];
            const char* next = name + std::strlen(name) + 1;
            if (between && !between()) return std::unexpected(cancelled("read directory", dir));
            DirEntry de;
            de.name = name;
            if (EntryProbes::wanted(type)) {
                const Probe& p = probes.next(i, name);
                if (p.err != 0) {
                    if (p.err == ENOENT) {  // gone since it was read
                        name = next;
                        continue;
                    }
                    // Left out, the file would go unreplicated without a word.
                    return std::unexpected(fail("stat", join(dir, de.name), p.err));
                }
                de.kind = p.kind;
                de.size = p.size;
                de.mtime = p.mtime;
            } else {
                // Only a file's length and time are of use: not worth a stat.
                de.kind = type == DT_DIR ? Kind::dir : Kind::other;
            }
            de.hidden = is_hidden_name(de.name);
            de.system = de.kind == Kind::other;
            out.push_back(std::move(de));
            name = next;
        }
        return out;
    }

    Result<FileInfo> stat(const std::string& path) override {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) return std::unexpected(fail("stat", path));
        return info_of(st, basename_of(path));
    }

    Result<FileId> identity(const std::string& path) override {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) return std::unexpected(fail("stat", path));
        return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    }

    Result<FileState> file_state(const std::string& path) override {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) return std::unexpected(fail("stat", path));
        return state_of(st);
    }

    bool exists(const std::string& path) override {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0;
    }

    Result<bool> probe(const std::string& path) override {
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0) return true;
        if (errno == ENOENT || errno == ENOTDIR) return false;
        return std::unexpected(fail("look up", path));
    }

    Status make_dir(const std::string& path) override {
        if (::mkdir(path.c_str(), 0777) != 0)
            return std::unexpected(fail("create directory", path));
        return {};
    }

    Status make_dir_like(const std::string& path, const std::string& model) override {
        struct stat ms {};
        if (::stat(model.c_str(), &ms) != 0) return std::unexpected(fail("stat", model));
        if (::mkdir(path.c_str(), 0700) != 0)
            return std::unexpected(fail("create directory", path));
        const mode_t mode = (ms.st_mode & 0777) | S_IRWXU;
        if (mode == 0700) return {};
        // By the new directory's descriptor: a link put in its place
        // meanwhile is not followed.
        Fd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (fd.get() < 0 || ::fchmod(fd.get(), mode) != 0) {
            Error e = fail("set permissions", path);
            ::rmdir(path.c_str());
            return std::unexpected(e);
        }
        return {};
    }

    Status make_private_dir(const std::string& path) override {
        if (::mkdir(path.c_str(), 0700) == 0) return {};
        if (errno != EEXIST) return std::unexpected(fail("create directory", path));
        Fd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (fd.get() < 0) {
            if (errno == ELOOP || errno == ENOTDIR)
                return std::unexpected(make_error(Errc::access, "open", path,
                                                  "not a directory of its own (a link or a file)"));
            return std::unexpected(fail("open", path));
        }
        struct stat st {};
        if (::fstat(fd.get(), &st) != 0) return std::unexpected(fail("stat", path));
        if (st.st_uid != ::geteuid())
            return std::unexpected(make_error(Errc::access, "open", path, "owned by another user"));
        // Ours, but opened to others: closed again. What others may have
        // put there is never followed (lists are created exclusively).
        if ((st.st_mode & 0077) != 0 && ::fchmod(fd.get(), 0700) != 0)
            return std::unexpected(fail("set permissions", path));
        return {};
    }

    Status remove_file(const std::string& path) override {
        if (::unlink(path.c_str()) != 0) return std::unexpected(fail("delete", path));
        return {};
    }

    Status remove_dir(const std::string& path) override {
        if (::rmdir(path.c_str()) != 0) return std::unexpected(fail("remove directory", path));
        return {};
    }

    Status make_hidden(const std::string& path) override {
        if (!exists(path)) return std::unexpected(fail("hide", path, ENOENT));
        if (!is_hidden_name(basename_of(path)))
            return std::unexpected(make_error(Errc::invalid, "hide", path,
                                              "only a name that starts with \".\" is hidden here"));
        return {};
    }

    // Opens a regular file only. O_NONBLOCK keeps a FIFO from waiting for
    // its other end for ever; it means nothing for a regular file.
    static Result<int> open_regular(const std::string& path, int flags, const char* op) {
        int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
        if (fd < 0) return std::unexpected(fail(op, path));
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            return std::unexpected(make_error(Errc::invalid, op, path, "not a regular file"));
        }
        return fd;
    }

    Result<std::string> read_file(const std::string& path) override {
        auto opened = open_regular(path, O_RDONLY, "open");
        if (!opened) return std::unexpected(opened.error());
        Fd fd(*opened);
        std::string out;
        char buf[65536];
        for (;;) {
            ssize_t n = ::read(fd.get(), buf, sizeof buf);
            if (n < 0) {
                if (errno == EINTR) continue;
                return std::unexpected(fail("read", path));
            }
            if (n == 0) break;
            out.append(buf, static_cast<std::size_t>(n));
        }
        return out;
    }

    Result<std::string> read_part(const std::string& path, std::uint64_t offset,
                                  std::size_t max) override {
        auto opened = open_regular(path, O_RDONLY, "open");
        if (!opened) return std::unexpected(opened.error());
        Fd fd(*opened);
        std::string out(max, '\0');
        std::size_t got = 0;
        while (got < max) {
            ssize_t n =
                ::pread(fd.get(), out.data() + got, max - got, static_cast<off_t>(offset + got));
            if (n < 0) {
                if (errno == EINTR) continue;
                return std::unexpected(fail("read", path));
            }
            if (n == 0) break;
            got += static_cast<std::size_t>(n);
        }
        out.resize(got);
        return out;
    }

    Status write_file(const std::string& path, std::string_view data, bool durable) override {
        auto opened = open_regular(path, O_WRONLY | O_CREAT, "create");
        if (!opened) return std::unexpected(opened.error());
        Fd fd(*opened);
        if (::ftruncate(fd.get(), 0) != 0) return std::unexpected(fail("create", path));
        if (auto w = write_all(fd.get(), data.data(), data.size(), path); !w) return w;
        if (durable && ::fsync(fd.get()) != 0) return std::unexpected(fail("flush", path));
        if (fd.close() != 0) return std::unexpected(fail("close", path));
        return {};
    }

    Status create_private(const std::string& path) override {
        Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (fd.get() < 0) return std::unexpected(fail("create", path));
        if (fd.close() != 0) return std::unexpected(fail("close", path));
        return {};
    }

    Result<std::shared_ptr<void>> lock_file(const std::string& path, bool exclusive,
                                            bool wait) override {
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) return std::unexpected(fail("open", path));
        const int how = (exclusive ? LOCK_EX : LOCK_SH) | (wait ? 0 : LOCK_NB);
        int r;
        while ((r = ::flock(fd, how)) != 0 && errno == EINTR) {
        }
        if (r != 0) {
            const int err = errno;
            ::close(fd);
            if (err == EWOULDBLOCK) return std::shared_ptr<void>();
            return std::unexpected(fail("lock", path, err));
        }
        return std::shared_ptr<void>(new int(fd), [](void* p) {
            auto* f = static_cast<int*>(p);
            ::close(*f);
            delete f;
        });
    }

    Status append_file(const std::string& path, std::string_view data) override {
        auto opened = open_regular(path, O_WRONLY | O_CREAT | O_APPEND, "open");
        if (!opened) return std::unexpected(opened.error());
        Fd fd(*opened);
        if (auto w = write_all(fd.get(), data.data(), data.size(), path); !w) return w;
        if (fd.close() != 0) return std::unexpected(fail("close", path));
        return {};
    }

    Result<FileState> copy_file(const std::string& from, const std::string& to,
                                const CopyProgress& progress, bool durable) override {
        return copy_at(AT_FDCWD, from.c_str(), from, AT_FDCWD, to.c_str(), to, progress, durable);
    }

    static OpenDir held(std::string path, int fd) {
        return OpenDir{with_separator(std::move(path)),
                       std::shared_ptr<const int>(new int(fd),
                                                  [](const int* p) {
                                                      ::close(*p);
                                                      delete p;
                                                  }),
                       nullptr};
    }

    Result<OpenDir> open_dir(const std::string& path) override {
        const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return std::unexpected(fail("open", path));
        return held(path, fd);
    }

    Result<OpenDir> open_dir_below(const OpenDir& root, const std::string& rel) override {
        if (!root.fd) return Os::open_dir_below(root, rel);
        if (rel.empty()) return root;
        const std::string path = root.path + rel;
        auto refused = [&](int err) -> Error {
            if (err == ELOOP || err == ENOTDIR || err == EXDEV)
                return make_error(Errc::not_dir, "open", path,
                                  "not a directory on the way there (a link, or a file)");
            return fail("open", path, err);
        };
#if defined(__linux__)
        // One call where the kernel can refuse every link on the way.
        open_how how{};
        how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
        how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS | RESOLVE_BENEATH;
        const long fd = ::syscall(SYS_openat2, *root.fd, rel.c_str(), &how, sizeof how);
        if (fd >= 0) return held(path, static_cast<int>(fd));
        if (errno != ENOSYS && errno != EPERM && errno != E2BIG && errno != EINVAL)
            return std::unexpected(refused(errno));
#endif
        // A step at a time, none of them through a link.
        int at = ::dup(*root.fd);
        if (at < 0) return std::unexpected(fail("open", path));
        for (std::size_t from = 0; from < rel.size();) {
            auto end = rel.find('/', from);
            if (end == std::string::npos) end = rel.size();
            const std::string name = rel.substr(from, end - from);
            const int next =
                ::openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            const int err = errno;
            ::close(at);
            if (next < 0) return std::unexpected(refused(err));
            at = next;
            from = end + 1;
        }
        return held(path, at);
    }

    Result<FileInfo> stat_in(const OpenDir& dir, const std::string& name) override {
        if (!dir.fd) return Os::stat_in(dir, name);
        struct stat st {};
        if (::fstatat(*dir.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return std::unexpected(fail("stat", dir.path + name));
        return info_of(st, name);
    }

    Result<FileState> file_state_in(const OpenDir& dir, const std::string& name) override {
        if (!dir.fd) return Os::file_state_in(dir, name);
        struct stat st {};
        if (::fstatat(*dir.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return std::unexpected(fail("stat", dir.path + name));
        return state_of(st);
    }

    Status make_dir_like_in(const OpenDir& parent, const std::string& name,
                            const std::string& model) override {
        if (!parent.fd) return Os::make_dir_like_in(parent, name, model);
        const std::string path = parent.path + name;
        struct stat ms {};
        if (::stat(model.c_str(), &ms) != 0) return std::unexpected(fail("stat", model));
        if (::mkdirat(*parent.fd, name.c_str(), 0700) != 0)
            return std::unexpected(fail("create directory", path));
        const mode_t mode = (ms.st_mode & 0777) | S_IRWXU;
        if (mode == 0700) return {};
        Fd fd(::openat(*parent.fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (fd.get() < 0 || ::fchmod(fd.get(), mode) != 0) {
            Error e = fail("set permissions", path);
            ::unlinkat(*parent.fd, name.c_str(), AT_REMOVEDIR);
            return std::unexpected(e);
        }
        return {};
    }

    Result<FileState> copy_file_in(const OpenDir& from, const std::string& from_name,
                                   const OpenDir& to, const std::string& to_name,
                                   const CopyProgress& progress, bool durable,
                                   FileId* made) override {
        if (!from.fd || !to.fd)
            return Os::copy_file_in(from, from_name, to, to_name, progress, durable, made);
        return copy_at(*from.fd, from_name.c_str(), from.path + from_name, *to.fd, to_name.c_str(),
                       to.path + to_name, progress, durable, made);
    }

    Status rename_in(const OpenDir& dir, const std::string& from, const std::string& to) override {
        if (!dir.fd) return Os::rename_in(dir, from, to);
        if (::renameat(*dir.fd, from.c_str(), *dir.fd, to.c_str()) != 0)
            return std::unexpected(fail("rename", dir.path + from));
        return {};
    }

    Status remove_in(const OpenDir& dir, const std::string& name) override {
        if (!dir.fd) return Os::remove_in(dir, name);
        if (::unlinkat(*dir.fd, name.c_str(), 0) != 0)
            return std::unexpected(fail("delete", dir.path + name));
        return {};
    }

    Status remove_unchanged(const OpenDir& dir, const std::string& name,
                            const FileState& expected) override {
        if (!dir.fd) return Os::remove_unchanged(dir, name, expected);
        const std::string path = dir.path + name;
        Fd fd(::openat(*dir.fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (fd.get() < 0) return std::unexpected(fail("open", path));
        bool leased = false;
#if defined(__linux__)
        // The lease is broken by anyone's open, and its notice would end
        // this process by default: it goes to a signal that is ignored.
        ::fcntl(fd.get(), F_SETSIG, SIGURG);
        leased = ::fcntl(fd.get(), F_SETLEASE, F_WRLCK) == 0;
        // Refused while anybody else has the file open. Where the volume
        // or the file's owner allows no lease, nothing can be told.
        if (!leased && (errno == EAGAIN || errno == EBUSY))
            return std::unexpected(
                make_error(Errc::busy, "delete", path, "it is open in another program"));
#endif
        struct Unlease {
            int fd;
            bool on;
            ~Unlease() {
#if defined(__linux__)
                if (on) ::fcntl(fd, F_SETLEASE, F_UNLCK);
#endif
            }
        } unlease{fd.get(), leased};
        struct stat st {};
        if (::fstat(fd.get(), &st) != 0) return std::unexpected(fail("stat", path));
        if (!(state_of(st) == expected))
            return std::unexpected(
                make_error(Errc::changed, "delete", path, "it changed since it was copied"));
        // The name still names this very file: nothing was put in its place.
        struct stat here {};
        if (::fstatat(*dir.fd, name.c_str(), &here, AT_SYMLINK_NOFOLLOW) != 0)
            return std::unexpected(fail("stat", path));
        if (here.st_dev != st.st_dev || here.st_ino != st.st_ino)
            return std::unexpected(
                make_error(Errc::changed, "delete", path,
                           "another file has taken its name since it was copied"));
        if (::unlinkat(*dir.fd, name.c_str(), 0) != 0) return std::unexpected(fail("delete", path));
        return {};
    }

    // A copy by names in open directories (or AT_FDCWD and whole paths);
    // from and to are the whole paths that errors name.
    static Result<FileState> copy_at(int from_dir, const char* from_name, const std::string& from,
                                     int to_dir, const char* to_name, const std::string& to,
                                     const CopyProgress& progress, bool durable,
                                     FileId* made = nullptr) {
        Fd in(::openat(from_dir, from_name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
        if (in.get() < 0) return std::unexpected(fail("open", from));
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
        struct stat st {};
        if (::fstat(in.get(), &st) != 0) return std::unexpected(fail("stat", from));
        if (!S_ISREG(st.st_mode))
            return std::unexpected(make_error(Errc::invalid, "open", from, "not a regular file"));
        // A write in the same step of the volume's clock as the last change
        // before this look would leave the file's times as they are: such a
        // copy could never be told from the source again. A later run copies
        // it, once its last change is older than that step.
        if (const std::int64_t step = change_step_ns(in.get(), st.st_dev);
            step > 0 && ns_of(st.st_ctim) >= ns_of(now) / step * step)
            return std::unexpected(make_error(Errc::changed, "copy", from,
                                              "it changed too recently to be copied whole"));
        // Closed to others while it is written; then as open as the source
        // (not more: the umask only narrows, and the source's bits are
        // taken as they are).
        Fd out(
            ::openat(to_dir, to_name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (out.get() < 0) return std::unexpected(fail("create", to));
        const FileState before = state_of(st);
        auto r = copy_open(in.get(), out.get(), before.size, from, to, progress);
        // A write during the read may have left a mix of old and new bytes;
        // with the source's time such a copy would never be copied again.
        if (r) {
            struct stat after {};
            if (::fstat(in.get(), &after) != 0)
                r = std::unexpected(fail("stat", from));
            else if (!(state_of(after) == before))
                r = std::unexpected(
                    make_error(Errc::changed, "copy", from, "it changed while it was copied"));
        }
        if (r && (st.st_mode & 0777) != 0600 && ::fchmod(out.get(), st.st_mode & 0777) != 0)
            r = std::unexpected(fail("set permissions", to));
        if (r) {
            const timespec times[2] = {st.st_atim, st.st_mtim};
            if (::futimens(out.get(), times) != 0) r = std::unexpected(fail("set time", to));
        }
        if (r && durable && ::fsync(out.get()) != 0) r = std::unexpected(fail("flush", to));
        if (r && made) {
            struct stat ms {};
            if (::fstat(out.get(), &ms) != 0)
                r = std::unexpected(fail("stat", to));
            else
                *made = state_of(ms).id;
        }
        if (r && out.close() != 0) r = std::unexpected(fail("close", to));
        if (!r) {
            ::unlinkat(to_dir, to_name, 0);
            return std::unexpected(r.error());
        }
        return before;
    }

    Status copy_permissions(const std::string& from, const std::string& to) override {
        struct stat st {};
        if (::stat(from.c_str(), &st) != 0) return std::unexpected(fail("stat", from));
        if (::chmod(to.c_str(), st.st_mode & 0777) != 0)
            return std::unexpected(fail("set permissions", to));
        return {};
    }

    Status set_mtime(const std::string& path, FileTime t) override {
        const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(t.sec), t.nsec}};
        if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
            return std::unexpected(fail("set time", path));
        return {};
    }

    Status flush_files(const std::vector<std::string>& paths) override {
        if (paths.empty()) return {};
        std::vector<std::string> dirs;
        std::unordered_set<std::string> seen;
        for (const auto& p : paths)
            if (auto d = parent_of(p); seen.insert(d).second) dirs.push_back(std::move(d));
#if defined(__linux__)
        // One flush of each volume instead of a journal commit per file.
        if (paths.size() > 4) {
            std::vector<dev_t> flushed;
            return each_first_failure(dirs, [&](const std::string& d) -> Status {
                Fd fd(::open(d.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
                struct stat st {};
                if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0)
                    return std::unexpected(fail("open", d));
                if (std::find(flushed.begin(), flushed.end(), st.st_dev) != flushed.end())
                    return {};
                if (::syncfs(fd.get()) != 0) return std::unexpected(fail("flush", d));
                flushed.push_back(st.st_dev);
                return {};
            });
        }
#endif
        auto files = each_first_failure(paths, [&](const std::string& path) -> Status {
            Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
            if (fd.get() < 0) return std::unexpected(fail("open", path));
            if (::fsync(fd.get()) != 0) return std::unexpected(fail("flush", path));
            return {};
        });
        auto entries = each_first_failure(dirs, [&](const std::string& d) { return flush_dir(d); });
        return files ? entries : files;
    }

    Status flush_dir(const std::string& dir) override {
        Fd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (fd.get() < 0) return std::unexpected(fail("open", dir));
        if (::fsync(fd.get()) != 0 && errno != EINVAL) return std::unexpected(fail("flush", dir));
        return {};
    }

    Status rename_replace(const std::string& from, const std::string& to) override {
        if (::rename(from.c_str(), to.c_str()) != 0) return std::unexpected(fail("rename", from));
        return {};
    }

    std::optional<std::string> env(const std::string& name) override {
        const char* v = std::getenv(name.c_str());
        if (!v) return std::nullopt;
        return std::string(v);
    }

    Result<std::string> program_dir() override {
        char buf[PATH_MAX + 1];
        ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
        if (n < 0) return std::unexpected(fail("find program", "/proc/self/exe"));
        return parent_of(std::string(buf, static_cast<std::size_t>(n)));
    }

    Result<std::string> current_dir() override {
        char buf[PATH_MAX + 1];
        if (!::getcwd(buf, sizeof buf)) return std::unexpected(fail("current directory", ""));
        return std::string(buf);
    }

    Status set_current_dir(const std::string& dir) override {
        if (::chdir(dir.c_str()) != 0) return std::unexpected(fail("change directory", dir));
        return {};
    }

    std::string temp_dir() override {
        for (const char* var : {"TMPDIR", "TMP", "TEMP"}) {
            const char* v = std::getenv(var);
            if (v && *v) {
                std::string s = v;
                while (s.size() > 1 && s.back() == '/') s.pop_back();
                return s;
            }
        }
        return "/tmp";
    }

    std::vector<std::string> volumes() override {
        std::vector<std::string> out;
        if (FILE* f = ::setmntent("/proc/self/mounts", "r")) {
            mntent ent{};
            char buf[4096];
            while (::getmntent_r(f, &ent, buf, sizeof buf)) {
                std::string dir = ent.mnt_dir;
                if (is_pseudo_mount(ent.mnt_type, dir)) continue;
                if (std::find(out.begin(), out.end(), dir) == out.end()) out.push_back(dir);
            }
            ::endmntent(f);
        }
        if (std::find(out.begin(), out.end(), "/") == out.end()) out.push_back("/");
        std::sort(out.begin(), out.end());
        return out;
    }

    std::string volume_of(const std::string& path) override {
        // The longest mount point that is a prefix of the path.
        std::string best = "/";
        for (const auto& v : volumes()) {
            if (v == "/") continue;
            if (path.size() >= v.size() && path.compare(0, v.size(), v) == 0 &&
                (path.size() == v.size() || path[v.size()] == '/') && v.size() > best.size())
                best = v;
        }
        return best;
    }

    std::string volume_root(const std::string& volume) override {
        return volume;
    }

    // A mount point that answers; it need not be listable: its owner may
    // let others only pass through to the directories below it.
    bool volume_ready(const std::string& volume) override {
        struct stat st {};
        return ::stat(volume.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }

    bool volume_mounted(const std::string& path) override {
        auto points = [](const char* table) {
            std::vector<std::string> out;
            if (FILE* f = ::setmntent(table, "r")) {
                mntent ent{};
                char buf[4096];
                while (::getmntent_r(f, &ent, buf, sizeof buf)) out.emplace_back(ent.mnt_dir);
                ::endmntent(f);
            }
            return out;
        };
        // A mount point once seen with a volume on it is one whatever the
        // tables say: a volume mounted by hand, or by a program, is known
        // as such once it has been pulled out.
        auto mounted = points("/proc/self/mounts");
        auto listed = points("/etc/fstab");
        std::lock_guard<std::mutex> hold(seenLock_);
        for (const auto& m : mounted) seenMounted_.insert(m);
        listed.insert(listed.end(), seenMounted_.begin(), seenMounted_.end());
        return !below_missing_mount(path, listed, mounted);
    }

    LocalTime local_time() override {
        timespec ts{};
        ::clock_gettime(CLOCK_REALTIME, &ts);
        std::tm tm{};
        ::localtime_r(&ts.tv_sec, &tm);
        return {tm.tm_year + 1900,
                tm.tm_mon + 1,
                tm.tm_mday,
                tm.tm_hour,
                tm.tm_min,
                tm.tm_sec,
                static_cast<int>(ts.tv_nsec / 1'000'000)};
    }

    void sleep_ms(unsigned ms) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }

private:
    std::mutex seenLock_;
    std::set<std::string> seenMounted_;
    // Chunks small enough that a yield comes well within 50 ms on a slow
    // disk, large enough for full throughput.
    static constexpr std::uint64_t kChunk = 4u << 20;
    // Below this a read and a write cost less than the kernel's copy.
    static constexpr std::size_t kSmall = 64u << 10;
    // From this size on, a copy's written chunks go to the disk at once.
    static constexpr std::uint64_t kWriteBehind = 1u << 20;

    static Status copy_open(int in, int out, std::uint64_t total, const std::string& from,
                            const std::string& to, const CopyProgress& progress) {
        std::uint64_t done = 0;
        bool kernel_copy = total > kSmall;
        char small[kSmall];
        std::vector<char> buf;
        for (;;) {
            if (progress && !progress(done, total))
                return std::unexpected(make_error(Errc::cancelled, "copy", from, "cancelled"));
            ssize_t n = -1;
#if defined(__linux__)
            if (kernel_copy) {
                n = ::copy_file_range(in, nullptr, out, nullptr, kChunk, 0);
                if (n < 0 &&
                    (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL)) {
                    kernel_copy = false;
                    n = -2;
                }
            }
#else
            kernel_copy = false;
#endif
            if (!kernel_copy) {
                char* b = small;
                std::size_t size = sizeof small;
                if (total > kSmall) {
                    if (buf.empty()) buf.resize(1u << 20);
                    b = buf.data();
                    size = buf.size();
                }
                n = ::read(in, b, size);
                if (n > 0) {
                    if (auto w = write_all(out, b, static_cast<std::size_t>(n), to); !w) return w;
                }
            }
            if (n == -2) continue;
            if (n < 0) {
                if (errno == EINTR) continue;
                return std::unexpected(fail("copy", from));
            }
            if (n == 0) break;
#if defined(__linux__)
            // Every copy is flushed later; writing a large one back while
            // the rest is still copied leaves that flush little to wait for.
            if (total >= kWriteBehind)
                (void)::sync_file_range(out, static_cast<off_t>(done), n, SYNC_FILE_RANGE_WRITE);
#endif
            done += static_cast<std::uint64_t>(n);
            // The length seen at the open is what is copied, with the time
            // seen then; a file that grows meanwhile has a new time and is
            // copied again next run. An empty one is read to its end.
            if (total != 0 && done >= total) break;
        }
        if (progress) progress(done, total);
        return {};
    }
};

}  // namespace

Error make_error(std::string op, std::string path, long native) {
    Error e;
    e.code = code_of(static_cast<int>(native));
    e.native = native;
    e.op = std::move(op);
    e.path = std::move(path);
    e.reason = std::strerror(static_cast<int>(native));
    return e;
}

Os& native() {
    static PosixOs os;
    return os;
}

char separator() {
    return '/';
}
std::string placeholder_root() {
    return "/";
}
std::string own_temp_name() {
    return "quillmere-" + std::to_string(::geteuid());
}
bool case_insensitive_names() {
    return false;
}
// Names are bytes: every text fits as it is.
const CodePage& system_code_page() {
    static const CodePage bytes{
        [](std::string_view utf8) { return std::optional<std::string>(std::string(utf8)); },
        [](std::string_view b) { return std::string(b); }};
    return bytes;
}
std::string text_to_file(std::string_view utf8) {
    return std::string(utf8);
}
std::string text_from_file(std::string_view bytes) {
    return std::string(bytes);
}

}  // namespace qm::os
