// quillmere-testvol: a directory served through FUSE that behaves like the
// volumes users replicate onto (USB sticks, SD cards, network shares,
// drives that are pulled out), for the tests.
//
//   quillmere-testvol [options] BACKING MOUNTPOINT [fuse options]
//
//   --fold-case            A.txt and a.txt are one name (UTF-8 letters fold
//                          too); a name keeps the case it was created with.
//                          A rename onto a name that exists in another case
//                          replaces that file and keeps its old spelling; a
//                          rename of a file onto its own name in another
//                          case changes the spelling.
//   --time-step-ns=N       times are kept in steps of N ns (FAT: 2000000000,
//                          NTFS: 100): a time set is stored rounded down;
//                          modification, change and access times are
//                          reported rounded down, so a write within one step
//                          leaves them as they were.
//   --no-perms             no permission bits, as on a FAT volume mounted
//                          with showexec: directories show 0755, files 0644,
//                          or 0444 with the read-only attribute. A chmod
//                          that changes anything but the write bits, or a
//                          chown, fails with EPERM; clearing or setting the
//                          write bits of a file sets or clears read-only.
//                          Special files cannot be made (EPERM).
//   --no-links             symlink and link fail with EPERM.
//   --delay-us=N           every call is answered N µs late (a network
//                          share); calls are served by several threads.
//   --vanish-after-creates=N
//                          after the Nth file created, every call fails
//                          with EIO, as on a device that was pulled out.
//                          SIGUSR1 does the same at once.
//   --stats=FILE           writes "calls", "creates", "peak" (the most calls
//                          served at once) and "vanished" to FILE whenever
//                          creates or peak change, and at the end.
//   --exit-with-parent     ends (unmounting) when the thread that started
//                          it ends.
#define FUSE_USE_VERSION 31

#include <dirent.h>
#include <fcntl.h>
#include <fuse.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>

namespace {

struct Options {
    char* backing = nullptr;
    char* mountpoint = nullptr;
    int fold_case = 0;
    long long time_step_ns = 0;
    int no_perms = 0;
    int no_links = 0;
    unsigned delay_us = 0;
    long vanish_after_creates = -1;
    char* stats = nullptr;
    int exit_with_parent = 0;
};

Options g_opt;
int g_root = -1;  // the backing directory, every path is relative to it

std::atomic<bool> g_vanished{false};
std::atomic<long> g_calls{0}, g_creates{0}, g_busy{0}, g_peak{0};
std::mutex g_stats_lock;

// Changes of names, and the look-ups that decide which name a call means,
// do not interleave: two spellings of one name must not both be created.
std::shared_mutex g_names;

void write_stats() {
    if (!g_opt.stats) return;
    std::lock_guard<std::mutex> lock(g_stats_lock);
    const std::string tmp = std::string(g_opt.stats) + ".tmp";
    std::FILE* f = std::fopen(tmp.c_str(), "w");
    if (!f) return;
    std::fprintf(f, "calls %ld\ncreates %ld\npeak %ld\nvanished %d\n", g_calls.load(),
                 g_creates.load(), g_peak.load(), g_vanished.load() ? 1 : 0);
    std::fclose(f);
    std::rename(tmp.c_str(), g_opt.stats);
}

// One call: counted while it is served, answered late when asked to.
class Call {
public:
    Call() {
        ++g_calls;
        const long now = ++g_busy;
        long peak = g_peak.load();
        bool raised = false;
        while (now > peak && !(raised = g_peak.compare_exchange_weak(peak, now))) {
        }
        if (raised) write_stats();
        if (g_opt.delay_us) std::this_thread::sleep_for(std::chrono::microseconds(g_opt.delay_us));
    }
    ~Call() { --g_busy; }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;
};

#define QM_CALL                  \
    Call call_;                  \
    if (g_vanished) return -EIO; \
    static_cast<void>(0)

int fail() {
    return -errno;
}

// -- names --------------------------------------------------------------

// One code point of UTF-8 from s at i (moving i past it); a byte that
// starts no valid sequence stands for itself, above the Unicode range.
char32_t next_code_point(const std::string& s, std::size_t& i) {
    const auto b = static_cast<unsigned char>(s[i]);
    int len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + static_cast<std::size_t>(len) > s.size()) {
        ++i;
        return 0x110000u + b;
    }
    char32_t c = len == 1 ? b : (b & (0x7f >> len));
    for (int k = 1; k < len; ++k) {
        const auto cont = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
        if ((cont >> 6) != 2) {
            ++i;
            return 0x110000u + b;
        }
        c = (c << 6) | (cont & 0x3f);
    }
    i += static_cast<std::size_t>(len);
    return c;
}

// The name as the volume compares it: every letter in its lower case.
std::u32string folded(const std::string& name) {
    std::u32string out;
    for (std::size_t i = 0; i < name.size();) {
        char32_t c = next_code_point(name, i);
        if (c < 0x80)
            c = (c >= 'A' && c <= 'Z') ? c + 32 : c;
        else if (c < 0x110000u)
            c = static_cast<char32_t>(std::towlower(static_cast<wint_t>(c)));
        out.push_back(c);
    }
    return out;
}

std::string join(const std::string& dir, const std::string& name) {
    return dir == "." ? name : dir + "/" + name;
}

// The entry of dir that name means: name itself when it exists, else the
// entry that differs from it only in case, else name (not there).
std::string match(const std::string& dir, const std::string& name) {
    struct stat st {};
    if (::fstatat(g_root, join(dir, name).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return name;
    const int fd = ::openat(g_root, dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return name;
    DIR* d = ::fdopendir(fd);
    if (!d) {
        ::close(fd);
        return name;
    }
    const std::u32string key = folded(name);
    std::string hit = name;
    while (const dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        if (folded(e->d_name) == key) {
            hit = e->d_name;
            break;
        }
    }
    ::closedir(d);
    return hit;
}

// The backing path (relative to the backing directory) that a path of
// the volume means.
std::string resolve(const char* path) {
    std::string rel = path[0] == '/' ? path + 1 : path;
    if (rel.empty()) return ".";
    if (!g_opt.fold_case) return rel;
    std::string out = ".";
    for (std::size_t pos = 0; pos <= rel.size();) {
        std::size_t end = rel.find('/', pos);
        if (end == std::string::npos) end = rel.size();
        if (end > pos) out = join(out, match(out, rel.substr(pos, end - pos)));
        pos = end + 1;
    }
    return out;
}

std::string parent_of(const std::string& rel) {
    const auto slash = rel.rfind('/');
    return slash == std::string::npos ? "." : rel.substr(0, slash);
}

std::string last_of(const std::string& rel) {
    const auto slash = rel.rfind('/');
    return slash == std::string::npos ? rel : rel.substr(slash + 1);
}

// -- times and modes -------------------------------------------------------

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

timespec rounded(timespec t) {
    if (g_opt.time_step_ns <= 1) return t;
    const std::int64_t ns = static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
    const std::int64_t r = floor_div(ns, g_opt.time_step_ns) * g_opt.time_step_ns;
    timespec out{};
    out.tv_sec = static_cast<time_t>(floor_div(r, 1'000'000'000));
    out.tv_nsec = static_cast<long>(r - static_cast<std::int64_t>(out.tv_sec) * 1'000'000'000);
    return out;
}

mode_t shown_mode(mode_t m) {
    if (!g_opt.no_perms) return m;
    if (S_ISDIR(m)) return S_IFDIR | 0755;
    if (S_ISREG(m)) return S_IFREG | ((m & S_IWUSR) ? 0644 : 0444);
    return m;
}

void dress(struct stat* st) {
    st->st_mode = shown_mode(st->st_mode);
    st->st_mtim = rounded(st->st_mtim);
    st->st_atim = rounded(st->st_atim);
    st->st_ctim = rounded(st->st_ctim);
}

// -- calls -----------------------------------------------------------------

void* vol_init(fuse_conn_info* conn, fuse_config* cfg) {
    // Every look-up reaches the volume: a cached "no such name" or a
    // cached time would hide what the volume does.
    cfg->entry_timeout = 0;
    cfg->negative_timeout = 0;
    cfg->attr_timeout = 0;
    cfg->use_ino = 1;
    cfg->readdir_ino = 1;
    cfg->hard_remove = 1;
    conn->want &= ~static_cast<unsigned>(FUSE_CAP_WRITEBACK_CACHE);
    // Look-ups in one directory side by side, as on a share, where the
    // library passes this on (3.14 does not: the kernel then serves one
    // look-up or listing of a directory at a time; other calls go side by
    // side all the same).
    if (conn->capable & FUSE_CAP_PARALLEL_DIROPS) conn->want |= FUSE_CAP_PARALLEL_DIROPS;
    return nullptr;
}

int vol_getattr(const char* path, struct stat* st, fuse_file_info* fi) {
    QM_CALL;
    std::shared_lock lock(g_names);
    const int r = fi ? ::fstat(static_cast<int>(fi->fh), st)
                     : ::fstatat(g_root, resolve(path).c_str(), st, AT_SYMLINK_NOFOLLOW);
    if (r != 0) return fail();
    dress(st);
    return 0;
}

int vol_readlink(const char* path, char* buf, size_t size) {
    QM_CALL;
    std::shared_lock lock(g_names);
    if (size == 0) return -EINVAL;
    const ssize_t n = ::readlinkat(g_root, resolve(path).c_str(), buf, size - 1);
    if (n < 0) return fail();
    buf[n] = '\0';
    return 0;
}

int vol_readdir(const char* path, void* buf, fuse_fill_dir_t fill, off_t, fuse_file_info*,
                fuse_readdir_flags) {
    QM_CALL;
    std::shared_lock lock(g_names);
    const int fd = ::openat(g_root, resolve(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return fail();
    DIR* d = ::fdopendir(fd);
    if (!d) {
        const int e = errno;
        ::close(fd);
        return -e;
    }
    while (const dirent* e = ::readdir(d)) {
        struct stat st {};
        st.st_ino = e->d_ino;
        st.st_mode = static_cast<mode_t>(DTTOIF(e->d_type));
        if (fill(buf, e->d_name, &st, 0, static_cast<fuse_fill_dir_flags>(0))) break;
    }
    ::closedir(d);
    return 0;
}

int vol_mknod(const char* path, mode_t mode, dev_t rdev) {
    QM_CALL;
    if (g_opt.no_perms) return -EPERM;
    std::unique_lock lock(g_names);
    return ::mknodat(g_root, resolve(path).c_str(), mode, rdev) == 0 ? 0 : fail();
}

int vol_mkdir(const char* path, mode_t mode) {
    QM_CALL;
    std::unique_lock lock(g_names);
    return ::mkdirat(g_root, resolve(path).c_str(), g_opt.no_perms ? 0755 : mode) == 0 ? 0 : fail();
}

int vol_unlink(const char* path) {
    QM_CALL;
    std::unique_lock lock(g_names);
    return ::unlinkat(g_root, resolve(path).c_str(), 0) == 0 ? 0 : fail();
}

int vol_rmdir(const char* path) {
    QM_CALL;
    std::unique_lock lock(g_names);
    return ::unlinkat(g_root, resolve(path).c_str(), AT_REMOVEDIR) == 0 ? 0 : fail();
}

int vol_symlink(const char* target, const char* path) {
    QM_CALL;
    if (g_opt.no_links) return -EPERM;
    std::unique_lock lock(g_names);
    return ::symlinkat(target, g_root, resolve(path).c_str()) == 0 ? 0 : fail();
}

int vol_link(const char* from, const char* to) {
    QM_CALL;
    if (g_opt.no_links) return -EPERM;
    std::unique_lock lock(g_names);
    return ::linkat(g_root, resolve(from).c_str(), g_root, resolve(to).c_str(), 0) == 0 ? 0
                                                                                        : fail();
}

int vol_rename(const char* from, const char* to, unsigned int flags) {
    QM_CALL;
    std::unique_lock lock(g_names);
    const std::string f = resolve(from);
    std::string t = resolve(to);
    // The file's own name in another case: a change of spelling.
    if (t == f) t = join(parent_of(t), last_of(to));
    if (t == f) return 0;
    return ::renameat2(g_root, f.c_str(), g_root, t.c_str(), flags) == 0 ? 0 : fail();
}

// What a FAT volume allows (Linux vfat without "quiet"): the read and
// execute bits stay as shown; the write bits (the owner's: group and
// others are masked) only set or clear a file's read-only attribute.
int vol_chmod(const char* path, mode_t mode, fuse_file_info* fi) {
    QM_CALL;
    std::shared_lock lock(g_names);
    const std::string p = resolve(path);
    if (!g_opt.no_perms) {
        const int r =
            fi ? ::fchmod(static_cast<int>(fi->fh), mode) : ::fchmodat(g_root, p.c_str(), mode, 0);
        return r == 0 ? 0 : fail();
    }
    struct stat st {};
    if ((fi ? ::fstat(static_cast<int>(fi->fh), &st)
            : ::fstatat(g_root, p.c_str(), &st, AT_SYMLINK_NOFOLLOW)) != 0)
        return fail();
    const mode_t shown = shown_mode(st.st_mode);
    const mode_t perm = mode & 07777 & ~static_cast<mode_t>(022);
    if (perm & 07000) return -EPERM;
    if ((perm & 0555) != (shown & 0555)) return -EPERM;
    if (S_ISDIR(st.st_mode)) return (perm & 0200) ? 0 : -EPERM;
    if (!S_ISREG(st.st_mode)) return -EPERM;
    const mode_t stored = (perm & 0200) ? 0644 : 0444;
    const int r =
        fi ? ::fchmod(static_cast<int>(fi->fh), stored) : ::fchmodat(g_root, p.c_str(), stored, 0);
    return r == 0 ? 0 : fail();
}

int vol_chown(const char* path, uid_t uid, gid_t gid, fuse_file_info* fi) {
    QM_CALL;
    std::shared_lock lock(g_names);
    const std::string p = resolve(path);
    if (g_opt.no_perms) {
        struct stat st {};
        if ((fi ? ::fstat(static_cast<int>(fi->fh), &st)
                : ::fstatat(g_root, p.c_str(), &st, AT_SYMLINK_NOFOLLOW)) != 0)
            return fail();
        const bool same = (uid == static_cast<uid_t>(-1) || uid == st.st_uid) &&
                          (gid == static_cast<gid_t>(-1) || gid == st.st_gid);
        return same ? 0 : -EPERM;
    }
    const int r = fi ? ::fchown(static_cast<int>(fi->fh), uid, gid)
                     : ::fchownat(g_root, p.c_str(), uid, gid, AT_SYMLINK_NOFOLLOW);
    return r == 0 ? 0 : fail();
}

int vol_truncate(const char* path, off_t size, fuse_file_info* fi) {
    QM_CALL;
    if (fi) return ::ftruncate(static_cast<int>(fi->fh), size) == 0 ? 0 : fail();
    std::shared_lock lock(g_names);
    const int fd = ::openat(g_root, resolve(path).c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return fail();
    const int r = ::ftruncate(fd, size) == 0 ? 0 : fail();
    ::close(fd);
    return r;
}

int vol_utimens(const char* path, const timespec tv[2], fuse_file_info* fi) {
    QM_CALL;
    timespec t[2] = {tv[0], tv[1]};
    for (auto& one : t) {
        if (one.tv_nsec == UTIME_OMIT) continue;
        if (one.tv_nsec == UTIME_NOW) ::clock_gettime(CLOCK_REALTIME, &one);
        one = rounded(one);
    }
    if (fi) return ::futimens(static_cast<int>(fi->fh), t) == 0 ? 0 : fail();
    std::shared_lock lock(g_names);
    return ::utimensat(g_root, resolve(path).c_str(), t, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : fail();
}

int vol_create(const char* path, mode_t mode, fuse_file_info* fi) {
    QM_CALL;
    int fd = -1;
    {
        std::unique_lock lock(g_names);
        const mode_t m = g_opt.no_perms ? ((mode & 0222) ? 0644 : 0444) : mode;
        fd = ::openat(g_root, resolve(path).c_str(), fi->flags | O_CREAT | O_CLOEXEC, m);
    }
    if (fd < 0) return fail();
    fi->fh = static_cast<std::uint64_t>(fd);
    const long n = ++g_creates;
    if (g_opt.vanish_after_creates >= 0 && n >= g_opt.vanish_after_creates) g_vanished = true;
    write_stats();
    return 0;
}

int vol_open(const char* path, fuse_file_info* fi) {
    QM_CALL;
    std::shared_lock lock(g_names);
    const int fd = ::openat(g_root, resolve(path).c_str(), fi->flags | O_CLOEXEC);
    if (fd < 0) return fail();
    fi->fh = static_cast<std::uint64_t>(fd);
    return 0;
}

int vol_read(const char*, char* buf, size_t size, off_t off, fuse_file_info* fi) {
    QM_CALL;
    const ssize_t n = ::pread(static_cast<int>(fi->fh), buf, size, off);
    return n < 0 ? fail() : static_cast<int>(n);
}

int vol_write(const char*, const char* buf, size_t size, off_t off, fuse_file_info* fi) {
    QM_CALL;
    const ssize_t n = ::pwrite(static_cast<int>(fi->fh), buf, size, off);
    return n < 0 ? fail() : static_cast<int>(n);
}

int vol_statfs(const char*, struct statvfs* st) {
    QM_CALL;
    return ::fstatvfs(g_root, st) == 0 ? 0 : fail();
}

int vol_flush(const char*, fuse_file_info*) {
    QM_CALL;
    return 0;
}

// The file is closed also on a volume that is gone: its descriptor is the
// daemon's.
int vol_release(const char*, fuse_file_info* fi) {
    ::close(static_cast<int>(fi->fh));
    return 0;
}

int vol_fsync(const char*, int datasync, fuse_file_info* fi) {
    QM_CALL;
    const int fd = static_cast<int>(fi->fh);
    return (datasync ? ::fdatasync(fd) : ::fsync(fd)) == 0 ? 0 : fail();
}

int vol_fsyncdir(const char* path, int, fuse_file_info*) {
    QM_CALL;
    std::shared_lock lock(g_names);
    const int fd = ::openat(g_root, resolve(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return fail();
    const int r = ::fsync(fd) == 0 ? 0 : fail();
    ::close(fd);
    return r;
}

int vol_opendir(const char*, fuse_file_info*) {
    QM_CALL;
    return 0;
}

void on_vanish(int) {
    g_vanished = true;
}

enum Key { kNonOption };

#define QM_OPT(t, p) \
    { t, offsetof(Options, p), 1 }
const fuse_opt kOptions[] = {QM_OPT("--fold-case", fold_case),
                             QM_OPT("--time-step-ns=%lld", time_step_ns),
                             QM_OPT("--no-perms", no_perms),
                             QM_OPT("--no-links", no_links),
                             QM_OPT("--delay-us=%u", delay_us),
                             QM_OPT("--vanish-after-creates=%ld", vanish_after_creates),
                             QM_OPT("--stats=%s", stats),
                             QM_OPT("--exit-with-parent", exit_with_parent),
                             FUSE_OPT_END};
#undef QM_OPT

// The first word that is no option is the backing directory, kept from
// FUSE; the second, the mount point, goes on to it.
int take(void* data, const char* arg, int key, fuse_args*) {
    auto* o = static_cast<Options*>(data);
    if (key != FUSE_OPT_KEY_NONOPT) return 1;
    if (!o->backing) {
        o->backing = ::strdup(arg);
        return 0;
    }
    if (!o->mountpoint) o->mountpoint = ::strdup(arg);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    fuse_args args = FUSE_ARGS_INIT(argc, argv);
    if (fuse_opt_parse(&args, &g_opt, kOptions, take) != 0 || !g_opt.backing || !g_opt.mountpoint) {
        std::fprintf(stderr,
                     "usage: %s [--fold-case] [--time-step-ns=N] [--no-perms] [--no-links] "
                     "[--delay-us=N] [--vanish-after-creates=N] [--stats=FILE] "
                     "[--exit-with-parent] BACKING MOUNTPOINT [fuse options]\n",
                     argv[0]);
        return 2;
    }
    if (g_opt.exit_with_parent) {
        const pid_t parent = ::getppid();
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) return 1;
    }
    g_root = ::open(g_opt.backing, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (g_root < 0) {
        std::fprintf(stderr, "%s: %s: %s\n", argv[0], g_opt.backing, std::strerror(errno));
        return 1;
    }
    struct sigaction sa {};
    sa.sa_handler = on_vanish;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGUSR1, &sa, nullptr);
    // In the foreground, so that whoever started it can wait for it; the
    // name shows in the mount table.
    fuse_opt_add_arg(&args, "-f");
    fuse_opt_add_arg(&args, "-ofsname=quillmere-testvol,subtype=quillmere-testvol");
#if FUSE_MAJOR_VERSION == 3 && FUSE_MINOR_VERSION >= 12
    // Enough threads for every call a test keeps in flight.
    fuse_opt_add_arg(&args, "-omax_threads=32");
#endif

    fuse_operations ops{};
    ops.init = vol_init;
    ops.getattr = vol_getattr;
    ops.readlink = vol_readlink;
    ops.opendir = vol_opendir;
    ops.readdir = vol_readdir;
    ops.mknod = vol_mknod;
    ops.mkdir = vol_mkdir;
    ops.unlink = vol_unlink;
    ops.rmdir = vol_rmdir;
    ops.symlink = vol_symlink;
    ops.link = vol_link;
    ops.rename = vol_rename;
    ops.chmod = vol_chmod;
    ops.chown = vol_chown;
    ops.truncate = vol_truncate;
    ops.utimens = vol_utimens;
    ops.create = vol_create;
    ops.open = vol_open;
    ops.read = vol_read;
    ops.write = vol_write;
    ops.statfs = vol_statfs;
    ops.flush = vol_flush;
    ops.release = vol_release;
    ops.fsync = vol_fsync;
    ops.fsyncdir = vol_fsyncdir;
    const int r = fuse_main(args.argc, args.argv, &ops, nullptr);
    write_stats();
    fuse_opt_free_args(&args);
    ::close(g_root);
    std::free(g_opt.backing);
    std::free(g_opt.mountpoint);
    std::free(g_opt.stats);
    return r;
}
