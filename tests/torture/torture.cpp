// The torture campaign: real batch runs, through the window model and the
// real engine, killed at random moments, faulted at every platform call,
// starved of disk space and fed sources that change while they are copied.
// After each trial the files must tell that nothing was lost or torn.
//
//   quillmere-torture [--quick | --mid | --full] [--dir DIR] [--seed N]
//                     [--kills N] [--jobs N] [--only PHASE,...] [--volumes]
//                     [--plant torn|temp|ini|log|again|outside]
//                     [--fault copy|move K once|good ENOSPC|EIO|EACCES]
//
// --quick (the default) is the test command's version; --full is the whole
// campaign. Its phases (kill-copy, kill-move, edit, fault-copy, fault-move,
// disk, and on the test volume kill-move-fold, fault-move-fold,
// kill-move-slow, kill-copy-slow, fault-move-slow, kill-move-slowfold and
// vanish-move) run --jobs at a time, by default one per processor for --mid
// and --full; --only picks some of them. The phases onto the volume that
// answers late mostly wait: in --mid and --full each runs in parts
// (kill-move-slow.1, ...), four of them in the room of one other phase. The test volume's phases
// are part of --quick only with --volumes. --plant puts a known fault in front of the platform in
// every child run and reports what the checks made of it.
// --fault repeats one faulted run of a campaign (same seed), prints its log
// and keeps its files.
// Exit status 0 only when no violation and no unnamed failure was seen
// (with --plant: only when the planted fault was caught).
//
// The work goes to a tmpfs mounted in a temporary directory when mounting
// is allowed (as root), else to the disk below --dir (/var/tmp).
#include <fcntl.h>
#include <locale.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "batch/store.h"
#include "support/forwarding_os.h"
#include "support/testvolume.h"
#include "ui/form1.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace qm;
using Clock = std::chrono::steady_clock;

std::string g_self;
bool g_child = false;

double since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// ---------------------------------------------------------------------------
// Files: stat, content hashes, the temporary names the program makes.

struct Meta {
    bool ok = false;
    bool file = false, dir = false;
    std::uint64_t dev = 0, ino = 0, size = 0;
    std::int64_t msec = 0, mnsec = 0, cns = 0;
};

Meta meta_of(const std::string& p) {
    struct stat st {};
    Meta m;
    if (::lstat(p.c_str(), &st) != 0) return m;
    m.ok = true;
    m.file = S_ISREG(st.st_mode);
    m.dir = S_ISDIR(st.st_mode);
    m.dev = st.st_dev;
    m.ino = st.st_ino;
    m.size = static_cast<std::uint64_t>(st.st_size);
    m.msec = st.st_mtim.tv_sec;
    m.mnsec = st.st_mtim.tv_nsec;
    m.cns = st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec;
    return m;
}

std::uint64_t hash_bytes(std::uint64_t h, const unsigned char* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 0x100000001b3ULL;
    }
    return h;
}

std::uint64_t hash_file_raw(const std::string& p) {
    std::FILE* f = std::fopen(p.c_str(), "rb");
    if (!f) return 0;
    std::vector<unsigned char> buf(1 << 20);
    std::uint64_t h = 0xcbf29ce484222325ULL;
    std::uint64_t total = 0;
    for (;;) {
        std::size_t n = std::fread(buf.data(), 1, buf.size(), f);
        if (n == 0) break;
        // Word-wise for speed; the tail byte-wise.
        std::size_t words = n / 8;
        for (std::size_t i = 0; i < words; ++i) {
            std::uint64_t w;
            std::memcpy(&w, buf.data() + i * 8, 8);
            h = (h ^ w) * 0x9E3779B97F4A7C15ULL;
            h ^= h >> 29;
        }
        h = hash_bytes(h, buf.data() + words * 8, n - words * 8);
        total += n;
    }
    std::fclose(f);
    return h ^ (total * 0xff51afd7ed558ccdULL);
}

// Hashes keyed by what a change of content changes: inode, length, times.
// On a volume whose times are coarse a change may leave all of them as they
// were: there every file is hashed anew.
class Hashes {
public:
    bool cache = true;
    std::uint64_t of(const std::string& p, const Meta& m) {
        if (!cache) return hash_file_raw(p);
        auto& e = cache_[p];
        if (e.m.ok && e.m.dev == m.dev && e.m.ino == m.ino && e.m.size == m.size &&
            e.m.msec == m.msec && e.m.mnsec == m.mnsec && e.m.cns == m.cns)
            return e.h;
        e.m = m;
        e.h = hash_file_raw(p);
        return e.h;
    }
    void clear() { cache_.clear(); }

private:
    struct E {
        Meta m;
        std::uint64_t h = 0;
    };
    std::map<std::string, E> cache_;
};

bool is_temp_name(const std::string& n) {
    if (n.size() != 17 || n.compare(0, 4, ".qm-") != 0 || n.compare(12, 5, ".part") != 0)
        return false;
    return std::all_of(n.begin() + 4, n.begin() + 12,
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

bool is_list_name(const std::string& n) {
    if (n.size() != 12 || n.compare(8, 4, ".DIR") != 0) return false;
    return std::all_of(n.begin(), n.begin() + 8, [](char c) { return c >= '0' && c <= '7'; });
}

// Regular files of a tree by path relative to it (temporary names apart).
std::map<std::string, Meta> files_of(const std::string& root,
                                     std::vector<std::string>* temps = nullptr) {
    std::map<std::string, Meta> out;
    std::error_code ec;
    if (!fs::exists(root, ec)) return out;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const std::string p = it->path().string();
        const std::string name = it->path().filename().string();
        if (is_temp_name(name)) {
            if (temps) temps->push_back(p);
            continue;
        }
        Meta m = meta_of(p);
        if (m.file) out[p.substr(root.size() + 1)] = m;
    }
    return out;
}

std::string read_all(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void write_all(const std::string& p, const std::string& data) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

void put_time(const std::string& p, std::int64_t sec, std::int64_t nsec) {
    struct timespec ts[2];
    ts[0].tv_sec = sec;
    ts[0].tv_nsec = nsec;
    ts[1] = ts[0];
    (void)::utimensat(AT_FDCWD, p.c_str(), ts, AT_SYMLINK_NOFOLLOW);
}

// Content that no other file of the campaign shares: one draw of g seeds a
// fast sequence (splitmix64) for the bytes, so that a trial's thousands of
// small files do not cost a draw of g per word.
void fill_random(std::mt19937_64& g, const std::string& p, std::uint64_t size) {
    std::FILE* f = std::fopen(p.c_str(), "wb");
    if (!f) return;
    static std::vector<std::uint64_t> buf(1 << 17);
    std::uint64_t x = g();
    while (size > 0) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(size, buf.size() * 8));
        for (std::size_t i = 0; i < (n + 7) / 8; ++i) {
            std::uint64_t z = (x += 0x9E3779B97F4A7C15ULL);
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
            buf[i] = z ^ (z >> 31);
        }
        std::fwrite(buf.data(), 1, n, f);
        size -= n;
    }
    std::fclose(f);
}

// ---------------------------------------------------------------------------
// The tree: non-ASCII names, every depth down to `levels`, lengths from
// 0 B up, a few large files.

struct TreeSpec {
    int files = 200;
    int levels = 8;
    std::uint64_t big = 8u << 20;         // the largest file
    std::uint64_t small_max = 64u << 10;  // the rest: 0 B .. this
    // Pairs of files whose names differ only in case (and two directories
    // so named, with a file of one name in each): one name on a volume
    // that folds case.
    int fold_pairs = 0;
};

const char* kParts[] = {"Ångström", "日本語", "Łukasz", "naïve file", "Straße", "résumé",
                        "Χαρά",     "файл",   "plain",  "a b c",      "data",   "ü"};

struct Tree {
    std::vector<std::string> dirs;   // relative, "" the root
    std::vector<std::string> files;  // relative
    std::map<std::string, std::uint64_t> sizes;
    // Each file of a pair whose names differ only in case: the other.
    std::map<std::string, std::string> other_case;
};

std::uint64_t pick_size(std::mt19937_64& g, const TreeSpec& s) {
    std::uniform_real_distribution<double> u(0, 1);
    if (u(g) < 0.05) return 0;
    return static_cast<std::uint64_t>(std::exp(u(g) * std::log(static_cast<double>(s.small_max))));
}

std::int64_t pick_time(std::mt19937_64& g) {
    return 1600000000 + static_cast<std::int64_t>(g() % 150000000);
}

Tree make_tree(const std::string& src, const TreeSpec& s, std::uint64_t seed) {
    std::mt19937_64 g(seed);
    Tree t;
    t.dirs.push_back("");
    fs::create_directories(src);
    // One chain down to the deepest level, then directories anywhere.
    std::string chain;
    for (int d = 0; d < s.levels; ++d) {
        chain += (chain.empty() ? "" : "/") + std::string(kParts[d % 12]) + "-" + std::to_string(d);
        t.dirs.push_back(chain);
    }
    const int more = std::max(2, s.files / 25);
    for (int i = 0; i < more; ++i) {
        const std::string& parent = t.dirs[g() % t.dirs.size()];
        if (std::count(parent.begin(), parent.end(), '/') + 1 >= s.levels) continue;
        t.dirs.push_back((parent.empty() ? "" : parent + "/") + kParts[g() % 12] + "_d" +
                         std::to_string(i));
    }
    for (const auto& d : t.dirs) fs::create_directories(src + "/" + d);
    for (int i = 0; i < s.files; ++i) {
        const std::string& d = t.dirs[g() % t.dirs.size()];
        std::string rel =
            (d.empty() ? "" : d + "/") + kParts[g() % 12] + "-" + std::to_string(i) + ".bin";
        std::uint64_t size = pick_size(g, s);
        if (i == 0) size = s.big;
        if (i == 1) size = s.big / 4;
        if (i == 2) size = s.big / 16;
        fill_random(g, src + "/" + rel, size);
        put_time(src + "/" + rel, pick_time(g),
                 (g() % 2) ? static_cast<std::int64_t>(g() % 1000000000) : 0);
        t.files.push_back(rel);
        t.sizes[rel] = size;
    }
    // Contents of different lengths, so that neither passes for the other.
    auto add = [&](const std::string& rel, std::uint64_t size) {
        fill_random(g, src + "/" + rel, size);
        put_time(src + "/" + rel, pick_time(g), static_cast<std::int64_t>(g() % 1000000000));
        t.files.push_back(rel);
        t.sizes[rel] = size;
    };
    for (int i = 0; i < s.fold_pairs; ++i) {
        const std::string& d = t.dirs[g() % t.dirs.size()];
        const std::string dir = d.empty() ? "" : d + "/";
        const std::string n = std::to_string(i) + ".txt";
        const std::uint64_t size = pick_size(g, s);
        const std::string upper = dir + (i % 2 ? "Ärger-" : "CASE-") + n;
        const std::string lower = dir + (i % 2 ? "ärger-" : "case-") + n;
        add(upper, size);
        add(lower, size + 1 + g() % 100);
        t.other_case[upper] = lower;
        t.other_case[lower] = upper;
    }
    if (s.fold_pairs > 0) {
        for (const char* d : {"Folder Pair", "folder pair"}) {
            fs::create_directories(src + "/" + d);
            t.dirs.push_back(d);
        }
        const std::uint64_t size = pick_size(g, s);
        add("Folder Pair/same.bin", size);
        add("folder pair/same.bin", size + 7);
        t.other_case["Folder Pair/same.bin"] = "folder pair/same.bin";
        t.other_case["folder pair/same.bin"] = "Folder Pair/same.bin";
    }
    return t;
}

// ---------------------------------------------------------------------------
// One batch run through the window model, in this process.

struct NullSleeper : ui::Sleeper {
    void sleep_ms(unsigned) override {}
};
struct IdlePump : ui::EventPump {
    void yield() override {}
};
struct Boxes : ui::Dialogs {
    std::vector<std::string> seen;
    std::mt19937_64* answers = nullptr;
    bool print = false;  // children print theirs to their output file
    void notice(const std::string& title, const std::string& text) override {
        seen.push_back(title + ": " + text);
        if (print) std::fprintf(stderr, "box %s: %s\n", title.c_str(), text.c_str());
    }
    bool ask(const std::string&, const std::string&) override {
        return answers ? ((*answers)() & 1) : true;
    }
};

// The program directory is the trial's; everything else is the inner Os.
class ProgramDirOs : public os::ForwardingOs {
public:
    ProgramDirOs(os::Os& inner, std::string dir) : os::ForwardingOs(inner), dir_(std::move(dir)) {}
    os::Result<std::string> program_dir() override { return dir_; }

private:
    std::string dir_;
};

struct RunSetup {
    std::string prog, src, dst;
    bool move = false;
    // The seconds in which the target keeps times (2 on FAT); runs compare
    // times to within this.
    std::int64_t time_step = 1;
    // The target's names are one whatever their case.
    bool folds = false;
};

// A path as a volume that folds case compares it: letters in lower case
// (UTF-8 decoded; anything else byte for byte).
std::string folded(const std::string& path) {
    static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    std::string out;
    for (std::size_t i = 0; i < path.size();) {
        const auto b = static_cast<unsigned char>(path[i]);
        const std::size_t len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : 4;
        if (b < 0x80 || !utf8 || i + len > path.size()) {
            out.push_back(static_cast<char>(b >= 'A' && b <= 'Z' ? b + 32 : b));
            ++i;
            continue;
        }
        std::mbstate_t st{};
        wchar_t wc = 0;
        const locale_t old = ::uselocale(utf8);
        const std::size_t n = std::mbrtowc(&wc, path.data() + i, len, &st);
        if (n == len) {
            char buf[8];
            std::mbstate_t st2{};
            const std::size_t m = std::wcrtomb(
                buf, static_cast<wchar_t>(std::towlower(static_cast<wint_t>(wc))), &st2);
            if (m != static_cast<std::size_t>(-1))
                out.append(buf, m);
            else
                out.append(path, i, len);
        } else {
            out.append(path, i, len);
        }
        ::uselocale(old);
        i += len;
    }
    return out;
}

// The name under which the target holds a file.
std::string target_key(const RunSetup& r, const std::string& rel) {
    return r.folds ? folded(rel) : rel;
}

void write_batch(const RunSetup& r) {
    write_all(r.prog + "/BATCH.INI",
              batch::join_lines({"[batch]", "Source:" + r.src, "Target:" + r.dst, "Subs:YES"}));
}

// Runs the batch once; the Os in front of the platform is `front` (which
// must itself reach the program directory). Returns the boxes shown.
std::vector<std::string> run_batch(const RunSetup& r, os::Os& front) {
    os::ScopedOs use(front);
    NullSleeper sleeper;
    IdlePump pump;
    Boxes boxes;
    ui::Services s;
    s.sleeper = &sleeper;
    s.pump = &pump;
    s.dialogs = &boxes;
    boxes.print = g_child;
    {
        ui::Form1 form(s);
        form.Form_Load();
        form.Check2.setValue(1);
        if (r.move) form.Movefiles_Click();
        form.Slider1.setValue(1);
        form.Timer1_Timer();
    }
    return boxes.seen;
}

const char* kSentinel = "outside/Ändern verboten/keep.txt";

// ---------------------------------------------------------------------------
// Faults planted on purpose, to show that each check catches its fault.

class PlantOs : public os::ForwardingOs {
public:
    PlantOs(os::Os& inner, std::string what) : os::ForwardingOs(inner), what_(std::move(what)) {}

    // The engine copies, renames and removes in directories it holds open;
    // planted, those go by their paths through the calls below.
    os::Result<os::FileState> copy_file_in(const os::OpenDir& f, const std::string& fn,
                                           const os::OpenDir& t, const std::string& tn,
                                           const os::CopyProgress& p, bool durable,
                                           os::FileId* made) override {
        return Os::copy_file_in(f, fn, t, tn, p, durable, made);
    }
    os::Status rename_in(const os::OpenDir& d, const std::string& f,
                         const std::string& t) override {
        return Os::rename_in(d, f, t);
    }
    os::Status remove_in(const os::OpenDir& d, const std::string& n) override {
        return Os::remove_in(d, n);
    }

    os::Result<os::FileState> copy_file(const std::string& f, const std::string& t,
                                        const os::CopyProgress& p, bool durable) override {
        auto r = inner_.copy_file(f, t, p, durable);
        if (r && what_ == "again") {
            // A copy whose time never matches its source's.
            const Meta m = meta_of(t);
            put_time(t, m.msec + 1, m.mnsec);
        }
        if (r && what_ == "torn") {
            // Other bytes under the source's length and time.
            Meta m = meta_of(t);
            if (m.size > 0) {
                std::FILE* fp = std::fopen(t.c_str(), "r+b");
                if (fp) {
                    std::fseek(fp, static_cast<long>(m.size / 2), SEEK_SET);
                    int c = std::fgetc(fp);
                    std::fseek(fp, static_cast<long>(m.size / 2), SEEK_SET);
                    std::fputc(c ^ 0x5a, fp);
                    std::fclose(fp);
                }
                put_time(t, m.msec, m.mnsec);
            }
        }
        return r;
    }
    os::Status rename_replace(const std::string& f, const std::string& t) override {
        const std::string name = fs::path(f).filename().string();
        if (what_ == "temp" && is_temp_name(name)) {
            // Copied into place and left behind.
            std::error_code ec;
            fs::copy_file(f, t, fs::copy_options::overwrite_existing, ec);
            Meta m = meta_of(f);
            put_time(t, m.msec, m.mnsec);
            return {};
        }
        if (what_ == "ini" && fs::path(t).filename() == "BATCH.INI") {
            // Written in place, in two steps, instead of renamed.
            const std::string data = read_all(f);
            write_all(t, data.substr(0, data.size() / 2));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            write_all(t, data);
            std::error_code ec;
            fs::remove(f, ec);
            return {};
        }
        if (what_ == "outside" && is_temp_name(name)) {
            // A file from beside the pair moved into the target.
            const fs::path dst(t);
            for (fs::path up = dst.parent_path(); up.has_relative_path(); up = up.parent_path()) {
                const fs::path sentinel = up.parent_path() / kSentinel;
                std::error_code ec;
                if (fs::exists(sentinel, ec)) {
                    fs::copy_file(sentinel, dst.parent_path() / "keep.txt",
                                  fs::copy_options::overwrite_existing, ec);
                    fs::remove(sentinel, ec);
                    break;
                }
            }
        }
        return inner_.rename_replace(f, t);
    }
    os::Status remove_file(const std::string& p) override {
        if (what_ == "temp" && is_temp_name(fs::path(p).filename().string())) return {};
        return inner_.remove_file(p);
    }
    os::Status append_file(const std::string& p, std::string_view d) override {
        if (what_ == "log" && fs::path(p).filename() == "syncfile.log" && d.size() >= 2) {
            // A record without its CR LF.
            return inner_.append_file(p, d.substr(0, d.size() - 2));
        }
        return inner_.append_file(p, d);
    }

private:
    std::string what_;
};

// Records each complete content the batch store is about to put in place.
class JournalOs : public os::ForwardingOs {
public:
    JournalOs(os::Os& inner, std::string journal)
        : os::ForwardingOs(inner), journal_(std::move(journal)) {}
    os::Status write_file(const std::string& p, std::string_view d, bool durable) override {
        const auto name = fs::path(p).filename().string();
        if (name == "batch.tmp" || name == "batch.new") {
            std::FILE* f = std::fopen(journal_.c_str(), "ab");
            if (f) {
                std::fprintf(f, "%016llx\n",
                             static_cast<unsigned long long>(hash_bytes(
                                 0xcbf29ce484222325ULL,
                                 reinterpret_cast<const unsigned char*>(d.data()), d.size())));
                std::fclose(f);
            }
        }
        return inner_.write_file(p, d, durable);
    }

private:
    std::string journal_;
};

// ---------------------------------------------------------------------------
// Child processes: a run, or batch edits until killed.

int child_run(int argc, char** argv) {
    // --child-run PROG SRC DST copy|move [SEEN]
    if (argc < 6) return 2;
    RunSetup r{argv[2], argv[3], argv[4], std::string(argv[5]) == "move"};
    ProgramDirOs pd(os::native(), r.prog);
    if (argc > 6) {
        // A program that has been running has seen its target's volume
        // before this run; then the run may begin.
        (void)os::native().volume_mounted(r.dst);
        write_all(argv[6], "seen");
    }
    const char* plant = std::getenv("QM_TORTURE_PLANT");
    if (plant && *plant) {
        PlantOs p(pd, plant);
        run_batch(r, p);
    } else {
        run_batch(r, pd);
    }
    return 0;
}

int child_edit(int argc, char** argv) {
    // --child-edit PROG JOURNAL SEED DIR...
    if (argc < 6) return 2;
    const std::string prog = argv[2];
    std::vector<std::string> dirs(argv + 4 + 1, argv + argc);
    std::mt19937_64 g(std::strtoull(argv[4], nullptr, 10));
    ProgramDirOs pd(os::native(), prog);
    JournalOs journal(pd, argv[3]);
    const char* plant = std::getenv("QM_TORTURE_PLANT");
    PlantOs planted(journal, plant ? plant : "");
    os::ScopedOs use(planted);
    NullSleeper sleeper;
    IdlePump pump;
    Boxes boxes;
    boxes.answers = &g;
    ui::Services s;
    s.sleeper = &sleeper;
    s.pump = &pump;
    s.dialogs = &boxes;
    ui::Form1 form(s);
    form.Form_Load();
    for (;;) {
        const int entries = form.List1.listCount() / 4;
        if (entries < 2 || (entries < 30 && g() % 2)) {
            (void)form.BronTree.setPath(dirs[g() % dirs.size()]);
            (void)form.Doeltree.setPath(dirs[g() % dirs.size()]);
            form.AddBatchEntry();
        } else {
            form.List1.setListIndex(
                static_cast<int>(g() % static_cast<std::uint64_t>(form.List1.listCount())));
            form.List1_Click();
            form.Command7_Click();
        }
    }
}

pid_t spawn(const std::vector<std::string>& args, const std::string& out) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    pid_t pid = -1;
    if (posix_spawn(&pid, g_self.c_str(), &fa, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

// Waits up to `limit` seconds; kills a child that takes longer. True when
// it ended by itself with status 0.
bool wait_for(pid_t pid, double limit, bool* hung = nullptr) {
    const auto t = Clock::now();
    int st = 0;
    for (;;) {
        pid_t r = ::waitpid(pid, &st, WNOHANG);
        if (r == pid) return WIFEXITED(st) && WEXITSTATUS(st) == 0;
        if (since(t) > limit) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &st, 0);
            if (hung) *hung = true;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
}

// ---------------------------------------------------------------------------
// Checks.

struct Tally {
    std::map<std::string, long> counts;      // what ran
    std::map<std::string, long> violations;  // check -> number
    std::vector<std::string> examples;       // the first few, with a reproduction
    // kind: what tells examples of one check apart (a platform call); the
    // first two of each kind are kept.
    void violation(const std::string& check, const std::string& what,
                   const std::string& kind = "") {
        ++violations[check];
        if (++kinds[check + "/" + kind] <= 2 && examples.size() < 200)
            examples.push_back(check + ": " + what);
    }
    std::map<std::string, long> kinds;
};

// What was at the source before a trial: relative path -> length, time, bytes.
struct Snap {
    std::uint64_t size = 0;
    std::int64_t msec = 0;
    std::uint64_t hash = 0;
};

std::map<std::string, Snap> snapshot(const std::string& root, Hashes& h) {
    std::map<std::string, Snap> s;
    for (auto& [rel, m] : files_of(root)) s[rel] = {m.size, m.msec, h.of(root + "/" + rel, m)};
    return s;
}

// Nothing lost: every file of the source is there, byte for byte, at the
// source or (move mode) at the target.
void check_kept(Tally& t, const std::string& ctx, const std::map<std::string, Snap>& before,
                const RunSetup& r, Hashes& h) {
    for (const auto& [rel, s] : before) {
        const std::string sp = r.src + "/" + rel, tp = r.dst + "/" + rel;
        Meta ms = meta_of(sp);
        if (ms.file && ms.size == s.size && h.of(sp, ms) == s.hash) continue;
        Meta mt = meta_of(tp);
        if (r.move && mt.file && mt.size == s.size && h.of(tp, mt) == s.hash) continue;
        t.violation("lost", ctx + ": " + rel + (ms.ok ? " (source changed)" : " (source gone)") +
                                (mt.ok ? ", target differs" : ", no target"));
    }
}

// Not torn: no target file has its source's length and time (whole
// seconds, as runs compare) with other bytes.
// On a target that folds case, each source whose name the target file has
// in any case.
void check_torn(Tally& t, const std::string& ctx, const std::map<std::string, Snap>& before,
                const RunSetup& r, Hashes& h) {
    std::multimap<std::string, const Snap*> sources;
    for (const auto& [rel, s] : before) sources.emplace(target_key(r, rel), &s);
    for (auto& [rel, mt] : files_of(r.dst)) {
        auto [from, to] = sources.equal_range(target_key(r, rel));
        for (auto it = from; it != to; ++it) {
            const Snap& s = *it->second;
            const bool same_time =
                r.time_step <= 1 ? mt.msec == s.msec : std::llabs(mt.msec - s.msec) < r.time_step;
            if (mt.size == s.size && same_time && h.of(r.dst + "/" + rel, mt) != s.hash)
                t.violation("torn", ctx + ": " + rel);
        }
    }
}

// Only the entry's own directories: no file in the target that neither
// the source nor the target held before, and the files beside the pair
// (a sentinel directory next to source and target) untouched.
std::set<std::string> names_of(const std::string& root) {
    std::set<std::string> out;
    for (auto& [rel, m] : files_of(root)) out.insert(rel);
    return out;
}

void plant_sentinel(const RunSetup& r) {
    const std::string p = fs::path(r.src).parent_path().string() + "/" + kSentinel;
    fs::create_directories(fs::path(p).parent_path());
    write_all(p, "not named by any entry\n");
}

// kill-move-slow.3 is a part of kill-move-slow; child.out is itself.
std::string family(const std::string& phase) {
    const auto dot = phase.rfind('.');
    if (dot == std::string::npos || dot + 1 == phase.size() ||
        !std::all_of(phase.begin() + static_cast<std::ptrdiff_t>(dot) + 1, phase.end(),
                     [](char ch) { return ch >= '0' && ch <= '9'; }))
        return phase;
    return phase.substr(0, dot);
}

void check_bounds(Tally& t, const std::string& ctx, const std::map<std::string, Snap>& before,
                  const std::set<std::string>& targetBefore, const RunSetup& r) {
    std::set<std::string> known;
    for (const auto& [rel, s] : before) known.insert(target_key(r, rel));
    for (const auto& rel : targetBefore) known.insert(target_key(r, rel));
    for (auto& [rel, m] : files_of(r.dst))
        if (!known.count(target_key(r, rel)))
            t.violation("outside the entry",
                        ctx + ": " + r.dst + "/" + rel + " came from elsewhere");
    // Nothing new beside the pair or on the campaign's volume root.
    static const std::set<std::string> ours{"prog",
                                            "src",
                                            "dst",
                                            "outside",
                                            "child.out",
                                            "kill-copy",
                                            "kill-move",
                                            "edit",
                                            "full",
                                            "change",
                                            "vol",
                                            "stick",
                                            "kill-move-fold",
                                            "kill-move-slow",
                                            "kill-move-slowfold",
                                            "kill-copy-slow",
                                            "vanish-move"};
    // Each phase has its temporary directory and fault pair (tmp-*, fault-*).
    auto own = [](const std::string& n) {
        return ours.count(family(n)) || n.starts_with("tmp-") || n.starts_with("fault-");
    };
    const fs::path base = fs::path(r.src).parent_path();
    std::error_code ec;
    std::vector<fs::path> appeared;
    for (const fs::path& dir : {base, base.parent_path()})
        for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator();
             it.increment(ec))
            if (!own(it->path().filename().string())) appeared.push_back(it->path());
    for (const auto& a : appeared) {
        t.violation("outside the entry", ctx + ": " + a.string() + " appeared");
        // Reported once; the next trial starts without it (all of it is
        // the campaign's own, below its work directory).
        fs::remove_all(a, ec);
    }
    const std::string p = fs::path(r.src).parent_path().string() + "/" + kSentinel;
    if (read_all(p) != "not named by any entry\n")
        t.violation("outside the entry", ctx + ": " + p + " was changed or removed");
}

// No temporary file of the program: copies in progress in the target,
// list files in the temporary directory, batch.tmp beside the batch.
void check_no_temps(Tally& t, const std::string& ctx, const RunSetup& r, const std::string& tmp) {
    std::vector<std::string> temps;
    files_of(r.dst, &temps);
    files_of(r.src, &temps);
    for (const auto& p : temps) t.violation("temp left", ctx + ": " + p);
    std::error_code ec;
    std::vector<fs::path> stale_lists;
    for (auto it = fs::recursive_directory_iterator(tmp, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        if (is_list_name(it->path().filename().string())) {
            t.violation("list file left", ctx + ": " + it->path().string());
            // Reported once; the next trial starts without it.
            stale_lists.push_back(it->path());
        }
    for (const auto& p : stale_lists) fs::remove(p, ec);
    if (fs::exists(r.prog + "/batch.tmp")) t.violation("temp left", ctx + ": batch.tmp");
}

// Where the log was read to, and a record a kill cut off there.
struct LogCursor {
    std::size_t offset = 0;
    std::string cut;
};

// Every record of the log: one CR LF line of a known shape. Returns the
// records from the cursor on and moves it past the whole ones. After a
// kill the last record may be cut off where a page of the file ends (a
// write can stop there); the next run must end that line.
std::vector<std::string> log_records(Tally& t, const std::string& ctx, const std::string& log,
                                     LogCursor& at, bool killed = false) {
    static const std::regex count_line(R"(\d\d-\d\d-\d{4}/\d\d:\d\d:\d\d- \d+ files copied/moved)");
    static const std::regex other_line(R"(\d\d-\d\d-\d{4}/\d\d:\d\d:\d\d- [^\r\n]+)");
    std::vector<std::string> out;
    const std::string all = read_all(log);
    if (all.size() < at.offset) at = {};
    std::size_t pos = at.offset;
    while (pos < all.size()) {
        std::size_t end = all.find("\r\n", pos);
        if (end == std::string::npos) {
            const std::string rest = all.substr(pos);
            if (killed && all.size() % 4096 == 0 && at.cut.empty()) {
                at.cut = rest;
            } else {
                t.violation("log record", ctx + ": unended record \"" + rest.substr(0, 80) + "\"");
                pos = all.size();
            }
            break;
        }
        std::string rec = all.substr(pos, end - pos);
        pos = end + 2;
        if (!at.cut.empty()) {
            // Ended as it was cut, and nothing run into it.
            if (rec != at.cut)
                t.violation("log record",
                            ctx + ": a cut record not ended: \"" + rec.substr(0, 120) + "\"");
            at.cut.clear();
            continue;
        }
        if (!std::regex_match(rec, count_line) && !std::regex_match(rec, other_line))
            t.violation("log record", ctx + ": \"" + rec.substr(0, 120) + "\"");
        out.push_back(rec);
    }
    at.offset = pos;
    return out;
}

long copied_in(const std::vector<std::string>& records) {
    static const std::regex count_line(R"(.*- (\d+) files copied/moved)");
    long n = 0;
    std::smatch m;
    for (const auto& r : records)
        if (std::regex_match(r, m, count_line)) n += std::stol(m[1]);
    return n;
}

// ---------------------------------------------------------------------------
// Kill trials: a run killed at a random moment, a recovery run, checks.

struct Campaign {
    std::string work;  // everything lives below this
    std::string tmp;   // the runs' temporary directory (TMPDIR)
    std::uint64_t seed = 1;
    std::string plant;
    Tally tally;
    // --fault MODE K once|good ERRNO: that one faulted run, its files kept.
    int onlyMove = -1, onlyGood = -1, onlyErr = 0;
    long onlyK = 0;
};

struct KillStats {
    long trials = 0, killed = 0, finished = 0;
};

// Changes the trees so that the next run has work: sources rewritten (with
// a new time), target files and directories removed; in move mode sources
// brought back.
void perturb(std::mt19937_64& g, const Tree& tree, const RunSetup& r, const TreeSpec& shape) {
    std::error_code ec;
    const std::size_t n = tree.files.size();
    const int rewrites = static_cast<int>(g() % 4);
    for (int i = 0; i < rewrites; ++i) {
        const std::string& rel = tree.files[g() % n];
        const std::string p = r.src + "/" + rel;
        if (!fs::exists(p)) continue;
        std::uint64_t size = (g() % 2) ? meta_of(p).size : pick_size(g, shape);
        if (size > shape.small_max && g() % 8) size = shape.small_max;  // the big ones rarely
        fill_random(g, p, size);
        put_time(p, pick_time(g), 0);
    }
    const std::size_t drop = 1 + g() % std::max<std::size_t>(1, n / 10);
    for (std::size_t i = 0; i < drop; ++i) fs::remove(r.dst + "/" + tree.files[g() % n], ec);
    if (g() % 3 == 0) {
        const std::string& d = tree.dirs[1 + g() % (tree.dirs.size() - 1)];
        fs::remove_all(r.dst + "/" + d, ec);
    }
    if (r.move) {
        // Sources come back: some as they were moved, some anew.
        const std::size_t back = 1 + g() % std::max<std::size_t>(1, n / 5);
        auto bring_back = [&](const std::string& rel) {
            const std::string sp = r.src + "/" + rel;
            if (fs::exists(sp)) return;
            fs::create_directories(fs::path(sp).parent_path(), ec);
            std::uint64_t size = tree.sizes.at(rel);
            if (size > shape.small_max && g() % 8) size = g() % shape.small_max;
            fill_random(g, sp, size);
            put_time(sp, pick_time(g), static_cast<std::int64_t>(g() % 1000000000));
        };
        for (std::size_t i = 0; i < back; ++i) {
            const std::string& rel = tree.files[g() % n];
            bring_back(rel);
            // A pair one in case apart comes back together: both are to go
            // to one name of the target.
            if (auto it = tree.other_case.find(rel); it != tree.other_case.end())
                bring_back(it->second);
        }
    }
}

std::vector<std::string> run_args(const RunSetup& r) {
    return {g_self, "--child-run", r.prog, r.src, r.dst, r.move ? "move" : "copy"};
}

// The target on a test volume with these options, when given.
KillStats kill_trials(Campaign& c, bool move, int trials, const TreeSpec& shape,
                      const std::string& name, const test::VolumeOptions* vol = nullptr,
                      int part = 0) {
    KillStats ks;
    Tally& t = c.tally;
    const std::string base = c.work + "/" + name;
    std::error_code ec;
    fs::remove_all(base, ec);
    RunSetup r{base + "/prog", base + "/src", base + "/dst", move};
    fs::create_directories(r.prog);
    fs::create_directories(r.dst);
    std::optional<test::TestVolume> volume;
    Hashes h;
    if (vol) {
        volume.emplace(*vol, base + "/vol", r.dst);
        r.time_step = std::max<std::int64_t>(1, vol->time_step_ns / 1000000000);
        r.folds = vol->fold_case;
        h.cache = false;
    }
    Tree tree = make_tree(r.src, shape, c.seed + (move ? 7 : 3));
    write_batch(r);
    plant_sentinel(r);
    const std::string batchText = read_all(r.prog + "/BATCH.INI");
    const std::string out = base + "/child.out";
    const std::string log = r.prog + "/syncfile.log";
    // Each part of a phase kills at moments of its own.
    std::mt19937_64 g(c.seed * 31 + move + static_cast<std::uint64_t>(part) * 1009);
    LogCursor logAt;

    // How long a run with a trial's work takes, measured on a few.
    double typical = 0.05;
    {
        std::vector<double> d;
        for (int i = 0; i < 3; ++i) {
            perturb(g, tree, r, shape);
            const auto t0 = Clock::now();
            pid_t pid = spawn(run_args(r), out);
            wait_for(pid, 600);
            d.push_back(since(t0));
        }
        std::sort(d.begin(), d.end());
        typical = std::max(0.01, d[1] * 1.3);
        log_records(t, "calibration", log, logAt);
    }

    for (int i = 0; i < trials; ++i) {
        const std::string ctx = std::string(move ? "move" : "copy") + " kill trial " +
                                std::to_string(i) + (vol ? " on " + name : "") + " (seed " +
                                std::to_string(c.seed) + ")";
        perturb(g, tree, r, shape);
        const auto before = snapshot(r.src, h);
        const auto targetBefore = names_of(r.dst);
        const double delay = std::uniform_real_distribution<double>(0, typical)(g);
        pid_t pid = spawn(run_args(r), out);
        if (pid < 0) {
            t.violation("harness", "spawn failed");
            break;
        }
        std::this_thread::sleep_for(std::chrono::duration<double>(delay));
        int st = 0;
        // Kills that come after the run has ended test nothing: the window
        // of moments narrows until most kills land inside a run.
        if (::waitpid(pid, &st, WNOHANG) == pid) {
            ++ks.finished;
            typical *= 0.9;
        } else {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &st, 0);
            ++ks.killed;
            typical *= 1.03;
        }
        typical = std::max(typical, 0.003);
        ++ks.trials;
        check_torn(t, ctx + " after the kill", before, r, h);
        // The run's repair of the batch rewrites it with the same entries.
        if (read_all(r.prog + "/BATCH.INI") != batchText) {
            t.violation("batch torn", ctx + ": BATCH.INI changed by a killed run");
            write_all(r.prog + "/BATCH.INI", batchText);
        }
        log_records(t, ctx + " after the kill", log, logAt, true);
        bool hung = false;
        if (!wait_for(spawn(run_args(r), out), 600, &hung))
            t.violation(hung ? "hang" : "crash", ctx + ": the recovery run");
        check_kept(t, ctx, before, r, h);
        check_torn(t, ctx + " after recovery", before, r, h);
        check_bounds(t, ctx + " after recovery", before, targetBefore, r);
        check_no_temps(t, ctx + " after recovery", r, c.tmp);
        log_records(t, ctx + " recovery", log, logAt);
        // A further run copies nothing.
        if (!wait_for(spawn(run_args(r), out), 600, &hung))
            t.violation(hung ? "hang" : "crash", ctx + ": the further run");
        if (long n = copied_in(log_records(t, ctx + " further run", log, logAt)); n != 0)
            t.violation("further run copied", ctx + ": " + std::to_string(n) + " files");
    }
    return ks;
}

// ---------------------------------------------------------------------------
// The target volume pulled out mid-run, in move mode: after the Nth file
// the volume made (every call fails with EIO from then on), lazily
// unmounted at a random moment (the mount point is a plain directory
// again), or its daemon killed (every call fails with ENOTCONN). Every
// source file must then be at the source or whole on the volume; plugged
// in again, a run repairs what the pull left.

struct VanishStats {
    long trials = 0, by_creates = 0, unmounted = 0, killed = 0, ended_first = 0;
    long off_volume = 0;  // files the pulled run wrote to the bare mount point
};

VanishStats vanish_trials(Campaign& c, int trials, const TreeSpec& shape) {
    VanishStats vs;
    Tally& t = c.tally;
    const std::string base = c.work + "/vanish-move";
    std::error_code ec;
    fs::remove_all(base, ec);
    RunSetup r{base + "/prog", base + "/src", base + "/dst", true};
    const std::string stick = base + "/stick";
    fs::create_directories(r.prog);
    fs::create_directories(r.dst);
    fs::create_directories(stick);
    Tree tree = make_tree(r.src, shape, c.seed + 13);
    write_batch(r);
    plant_sentinel(r);
    const std::string out = base + "/child.out";
    const std::string log = r.prog + "/syncfile.log";
    // Between runs the stick is changed directly, as in another computer.
    RunSetup onStick = r;
    onStick.dst = stick;
    std::mt19937_64 g(c.seed * 53);
    Hashes h;
    h.cache = false;
    LogCursor logAt;

    // How long a run takes and how many files it makes, measured on a few.
    double typical = 0.05;
    long creates = 1, most = 1;
    {
        std::vector<double> d;
        std::vector<long> made;
        for (int i = 0; i < 3; ++i) {
            perturb(g, tree, onStick, shape);
            test::TestVolume v({}, stick, r.dst);
            const auto t0 = Clock::now();
            wait_for(spawn(run_args(r), out), 600);
            d.push_back(since(t0));
            made.push_back(v.stats().creates);
        }
        std::sort(d.begin(), d.end());
        std::sort(made.begin(), made.end());
        typical = std::max(0.01, d[1] * 1.3);
        creates = std::max(1L, made[1]);
        most = std::max(1L, made[2]);
        log_records(t, "calibration", log, logAt);
    }

    for (int i = 0; i < trials; ++i) {
        const int how = i % 3;
        const std::string ctx = "move run pulled out (" +
                                std::string(how == 0   ? "after a file made"
                                            : how == 1 ? "unmounted"
                                                       : "daemon killed") +
                                ") trial " + std::to_string(i) + " (seed " +
                                std::to_string(c.seed) + ")";
        perturb(g, tree, onStick, shape);
        const auto before = snapshot(r.src, h);
        const auto targetBefore = names_of(stick);
        test::VolumeOptions pulled;
        if (how == 0) pulled.vanish_after_creates = 1 + static_cast<long>(g() % creates);
        bool ended = false;
        {
            test::TestVolume v(pulled, stick, r.dst);
            const std::string seen = c.work + ".vanish-seen";
            fs::remove(seen, ec);
            auto args = run_args(r);
            args.push_back(seen);
            const pid_t pid = spawn(args, out);
            if (pid < 0) {
                t.violation("harness", "spawn failed");
                break;
            }
            if (how != 0) {
                // Pulled out of a program that knew it was there.
                for (int n = 0; n < 5000 && !fs::exists(seen, ec); ++n)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                std::this_thread::sleep_for(std::chrono::duration<double>(
                    std::uniform_real_distribution<double>(0, typical)(g)));
                int st = 0;
                if (::waitpid(pid, &st, WNOHANG) == pid) {
                    ended = true;
                } else if (how == 1) {
                    v.vanish();
                } else {
                    v.kill();
                }
            }
            bool hung = false;
            if (!ended && !wait_for(pid, 600, &hung))
                t.violation(hung ? "hang" : "crash", ctx + ": the pulled run");
            if (how == 0) ended = !v.stats().vanished;
            if (!v.unmount()) t.violation("harness", ctx + ": the volume stays mounted");
        }
        ++vs.trials;
        // Pulls that come after the run has ended test nothing: the window
        // narrows until most land inside a run.
        if (ended) {
            ++vs.ended_first;
            if (how == 0)
                creates = std::max(1L, creates * 2 / 3);
            else
                typical = std::max(0.003, typical * 0.8);
        } else {
            ++(how == 0 ? vs.by_creates : how == 1 ? vs.unmounted : vs.killed);
            if (how == 0)
                creates = std::min(most, creates + 1);
            else
                typical *= 1.03;
        }
        log_records(t, ctx + " pulled run", log, logAt);

        // Nothing lost: each file at the source or whole on the stick. One
        // found only in the bare mount point was written past the pull,
        // where the stick, plugged in again, hides it.
        auto whole = [&](const std::string& p, const Snap& s) {
            const Meta m = meta_of(p);
            return m.file && m.size == s.size && h.of(p, m) == s.hash;
        };
        std::map<std::string, Snap> kept;
        for (const auto& [rel, s] : before) {
            if (whole(r.src + "/" + rel, s) || whole(stick + "/" + rel, s)) {
                kept[rel] = s;
                continue;
            }
            if (whole(r.dst + "/" + rel, s))
                t.violation("moved off the volume", ctx + ": " + rel);
            else
                t.violation("lost", ctx + ": " + rel + " neither at the source nor on the volume");
        }
        const auto bare = files_of(r.dst);
        vs.off_volume += static_cast<long>(bare.size());
        for (auto it = fs::directory_iterator(r.dst, ec); !ec && it != fs::directory_iterator();
             it.increment(ec))
            fs::remove_all(it->path(), ec);
        check_torn(t, ctx + " on the pulled stick", kept, onStick, h);

        // Plugged in again: a run repairs, a further run has nothing to do.
        test::TestVolume again({}, stick, r.dst);
        bool hung = false;
        if (!wait_for(spawn(run_args(r), out), 600, &hung))
            t.violation(hung ? "hang" : "crash", ctx + ": the recovery run");
        check_kept(t, ctx + " after recovery", kept, r, h);
        check_torn(t, ctx + " after recovery", kept, r, h);
        check_bounds(t, ctx + " after recovery", before, targetBefore, r);
        check_no_temps(t, ctx + " after recovery", r, c.tmp);
        log_records(t, ctx + " recovery", log, logAt);
        if (!wait_for(spawn(run_args(r), out), 600, &hung))
            t.violation(hung ? "hang" : "crash", ctx + ": the further run");
        if (long n = copied_in(log_records(t, ctx + " further run", log, logAt)); n != 0)
            t.violation("further run copied", ctx + ": " + std::to_string(n) + " files");
    }
    fs::remove(c.work + ".vanish-seen", ec);
    return vs;
}

// Batch edits killed at random moments: the batch is an old or a new
// version, whole.
long edit_trials(Campaign& c, int trials) {
    Tally& t = c.tally;
    const std::string base = c.work + "/edit";
    std::error_code ec;
    fs::remove_all(base, ec);
    const std::string prog = base + "/prog";
    fs::create_directories(prog);
    std::vector<std::string> dirs;
    for (int i = 0; i < 4; ++i) {
        dirs.push_back(base + "/d" + std::to_string(i) + "-" + kParts[i]);
        fs::create_directories(dirs.back());
    }
    write_all(prog + "/BATCH.INI",
              batch::join_lines({"[batch]", "Source:" + dirs[0], "Target:" + dirs[1], "Subs:YES",
                                 "Source:" + dirs[2], "Target:" + dirs[3], "Subs:NO"}));
    const std::string journal = base + "/journal";
    std::mt19937_64 g(c.seed * 77);
    long done = 0;
    for (int i = 0; i < trials; ++i) {
        // The version in place before the trial counts as old.
        const std::string old = read_all(prog + "/BATCH.INI");
        {
            std::FILE* f = std::fopen(journal.c_str(), "wb");
            std::fprintf(f, "%016llx\n",
                         static_cast<unsigned long long>(hash_bytes(
                             0xcbf29ce484222325ULL,
                             reinterpret_cast<const unsigned char*>(old.data()), old.size())));
            std::fclose(f);
        }
        std::vector<std::string> args{g_self, "--child-edit", prog, journal, std::to_string(g())};
        args.insert(args.end(), dirs.begin(), dirs.end());
        pid_t pid = spawn(args, base + "/child.out");
        std::this_thread::sleep_for(std::chrono::microseconds(2000 + g() % 60000));
        ::kill(pid, SIGKILL);
        int st = 0;
        ::waitpid(pid, &st, 0);
        ++done;
        const std::string ctx =
            "edit kill trial " + std::to_string(i) + " (seed " + std::to_string(c.seed) + ")";
        if (!fs::exists(prog + "/BATCH.INI")) {
            t.violation("batch torn", ctx + ": BATCH.INI missing");
            write_all(prog + "/BATCH.INI", old);
            continue;
        }
        const std::string now = read_all(prog + "/BATCH.INI");
        char hex[32];
        std::snprintf(hex, sizeof hex, "%016llx",
                      static_cast<unsigned long long>(hash_bytes(
                          0xcbf29ce484222325ULL, reinterpret_cast<const unsigned char*>(now.data()),
                          now.size())));
        const std::string known = read_all(journal);
        if (known.find(hex) == std::string::npos) {
            t.violation("batch torn",
                        ctx + ": " + std::to_string(now.size()) + " bytes, neither old nor new");
            write_all(prog + "/BATCH.INI", old);
        }
        fs::remove(prog + "/batch.tmp", ec);  // left by the kill, as a kill may
    }
    return done;
}

// ---------------------------------------------------------------------------
// A fault at platform call k of a whole run, once or for good.

class FaultOs : public os::ForwardingOs {
public:
    FaultOs(os::Os& inner, long k, int err, bool forGood)
        : os::ForwardingOs(inner), k_(k), err_(err), forGood_(forGood) {}

    long calls() const { return n_; }
    // What failed first: the call's operation and path, and the reason.
    std::string op, path, reason;

#define QM_FAULT(name, p) \
    if (auto e = fault(name, p)) return std::unexpected(std::move(*e));

    os::Result<std::vector<os::DirEntry>> list_dir(const std::string& d) override {
        QM_FAULT("list_dir", d);
        return inner_.list_dir(d);
    }
    os::Result<std::vector<os::DirEntry>> list_dir_detailed(
        const std::string& d, const std::function<bool()>& b) override {
        QM_FAULT("list_dir_detailed", d);
        return inner_.list_dir_detailed(d, b);
    }
    os::Result<os::FileInfo> stat(const std::string& p) override {
        QM_FAULT("stat", p);
        return inner_.stat(p);
    }
    os::Result<os::FileId> identity(const std::string& p) override {
        QM_FAULT("identity", p);
        return inner_.identity(p);
    }
    os::Status make_dir(const std::string& p) override {
        QM_FAULT("make_dir", p);
        return inner_.make_dir(p);
    }
    os::Status remove_file(const std::string& p) override {
        QM_FAULT("remove_file", p);
        return inner_.remove_file(p);
    }
    os::Status remove_dir(const std::string& p) override {
        QM_FAULT("remove_dir", p);
        return inner_.remove_dir(p);
    }
    os::Result<std::string> read_file(const std::string& p) override {
        QM_FAULT("read_file", p);
        return inner_.read_file(p);
    }
    os::Result<std::string> read_part(const std::string& p, std::uint64_t o,
                                      std::size_t m) override {
        QM_FAULT("read_part", p);
        return inner_.read_part(p, o, m);
    }
    os::Status write_file(const std::string& p, std::string_view d, bool durable) override {
        QM_FAULT("write_file", p);
        return inner_.write_file(p, d, durable);
    }
    os::Status append_file(const std::string& p, std::string_view d) override {
        QM_FAULT("append_file", p);
        return inner_.append_file(p, d);
    }
    os::Result<os::FileState> copy_file(const std::string& f, const std::string& t,
                                        const os::CopyProgress& pr, bool durable) override {
        QM_FAULT("copy_file", f);
        return inner_.copy_file(f, t, pr, durable);
    }
    os::Status flush_files(const std::vector<std::string>& p) override {
        QM_FAULT("flush_files", p.empty() ? std::string() : p.front());
        return inner_.flush_files(p);
    }
    os::Status set_mtime(const std::string& p, os::FileTime t) override {
        QM_FAULT("set_mtime", p);
        return inner_.set_mtime(p, t);
    }
    os::Status flush_dir(const std::string& d) override {
        QM_FAULT("flush_dir", d);
        return inner_.flush_dir(d);
    }
    os::Result<os::FileState> file_state(const std::string& p) override {
        QM_FAULT("file_state", p);
        return inner_.file_state(p);
    }
    os::Result<bool> probe(const std::string& p) override {
        QM_FAULT("probe", p);
        return inner_.probe(p);
    }
    os::Status make_dir_like(const std::string& p, const std::string& m) override {
        QM_FAULT("make_dir_like", p);
        return inner_.make_dir_like(p, m);
    }
    os::Status make_private_dir(const std::string& p) override {
        QM_FAULT("make_private_dir", p);
        return inner_.make_private_dir(p);
    }
    os::Status create_private(const std::string& p) override {
        QM_FAULT("create_private", p);
        return inner_.create_private(p);
    }
    os::Status copy_permissions(const std::string& f, const std::string& t) override {
        QM_FAULT("copy_permissions", t);
        return inner_.copy_permissions(f, t);
    }
    os::Result<std::shared_ptr<void>> lock_file(const std::string& p, bool exclusive,
                                                bool wait) override {
        QM_FAULT("lock_file", p);
        return inner_.lock_file(p, exclusive, wait);
    }
    os::Status rename_replace(const std::string& f, const std::string& t) override {
        QM_FAULT("rename_replace", t);
        return inner_.rename_replace(f, t);
    }
    os::Result<os::OpenDir> open_dir(const std::string& p) override {
        QM_FAULT("open_dir", p);
        return inner_.open_dir(p);
    }
    os::Result<os::OpenDir> open_dir_below(const os::OpenDir& r, const std::string& rel) override {
        QM_FAULT("open_dir_below", r.path + rel);
        return inner_.open_dir_below(r, rel);
    }
    os::Result<os::FileInfo> stat_in(const os::OpenDir& d, const std::string& n) override {
        QM_FAULT("stat_in", d.path + n);
        return inner_.stat_in(d, n);
    }
    os::Result<os::FileState> file_state_in(const os::OpenDir& d, const std::string& n) override {
        QM_FAULT("file_state_in", d.path + n);
        return inner_.file_state_in(d, n);
    }
    os::Status make_dir_like_in(const os::OpenDir& d, const std::string& n,
                                const std::string& m) override {
        QM_FAULT("make_dir_like_in", d.path + n);
        return inner_.make_dir_like_in(d, n, m);
    }
    os::Result<os::FileState> copy_file_in(const os::OpenDir& f, const std::string& fn,
                                           const os::OpenDir& t, const std::string& tn,
                                           const os::CopyProgress& pr, bool durable,
                                           os::FileId* made) override {
        QM_FAULT("copy_file_in", f.path + fn);
        return inner_.copy_file_in(f, fn, t, tn, pr, durable, made);
    }
    os::Status rename_in(const os::OpenDir& d, const std::string& f,
                         const std::string& t) override {
        QM_FAULT("rename_in", d.path + t);
        return inner_.rename_in(d, f, t);
    }
    os::Status remove_in(const os::OpenDir& d, const std::string& n) override {
        QM_FAULT("remove_in", d.path + n);
        return inner_.remove_in(d, n);
    }
    os::Status remove_unchanged(const os::OpenDir& d, const std::string& n,
                                const os::FileState& x) override {
        QM_FAULT("remove_unchanged", d.path + n);
        return inner_.remove_unchanged(d, n, x);
    }
    os::Result<std::string> current_dir() override {
        QM_FAULT("current_dir", "");
        return inner_.current_dir();
    }
    os::Status set_current_dir(const std::string& d) override {
        QM_FAULT("set_current_dir", d);
        return inner_.set_current_dir(d);
    }
#undef QM_FAULT

private:
    std::optional<os::Error> fault(const char* name, const std::string& p) {
        std::lock_guard<std::mutex> lock(m_);  // flushes run on their own thread
        const long n = ++n_;
        if (k_ <= 0) return std::nullopt;
        const bool hit = n == k_ || (forGood_ && n > k_ && failing_ == name);
        if (!hit) return std::nullopt;
        os::Error e = os::make_error(name, p, err_);
        if (n == k_) {
            failing_ = name;
            op = name;
            path = p;
            reason = e.reason;
        }
        return e;
    }

    std::mutex m_;
    long n_ = 0;
    long k_;
    int err_;
    bool forGood_;
    std::string failing_;
};

struct FaultStats {
    long runs = 0, harmless = 0, named = 0, misnamed = 0, unnamed = 0;
};

struct FaultTree {
    std::string base;
    TreeSpec shape;
    std::uint64_t seed;
    // A test volume's backing directory, the volume mounted at base/dst;
    // empty for a target on the campaign's own volume.
    std::string backing{};
    std::int64_t time_step = 1;
    bool folds = false;
};

// A fresh pair for one faulted run: the same source every time, a target
// holding some files already (some stale), an empty log.
RunSetup fresh_pair(const FaultTree& ft, bool move) {
    std::error_code ec;
    if (ft.backing.empty()) {
        fs::remove_all(ft.base, ec);
    } else {
        // The volume stays mounted; what it holds goes.
        for (const char* d : {"prog", "src", "outside"}) fs::remove_all(ft.base + "/" + d, ec);
        for (auto it = fs::directory_iterator(ft.backing, ec);
             !ec && it != fs::directory_iterator(); it.increment(ec))
            fs::remove_all(it->path(), ec);
    }
    RunSetup r{ft.base + "/prog", ft.base + "/src", ft.base + "/dst", move, ft.time_step, ft.folds};
    fs::create_directories(r.prog);
    Tree t = make_tree(r.src, ft.shape, ft.seed);
    fs::create_directories(r.dst);
    std::mt19937_64 g(ft.seed + 5);
    for (std::size_t i = 0; i < t.files.size(); i += 3) {
        const std::string tp = r.dst + "/" + t.files[i];
        fs::create_directories(fs::path(tp).parent_path(), ec);
        fs::copy_file(r.src + "/" + t.files[i], tp, ec);
        Meta m = meta_of(r.src + "/" + t.files[i]);
        put_time(tp, m.msec + ((i / 3) % 2), m.mnsec);  // every other one stale
    }
    write_batch(r);
    plant_sentinel(r);
    return r;
}

// A phase in parts faults the calls k whose turn (k-1)/stride falls to its
// part, counting round the parts.
struct Part {
    int index = 0, of = 1;
};

// Every stride-th call k is faulted.
FaultStats fault_trials(Campaign& c, bool move, const FaultTree& ft, const std::vector<int>& errs,
                        bool allErrs, long maxK, const std::string& name, long stride = 1,
                        Part part = {}) {
    FaultStats fsx;
    Tally& t = c.tally;
    // The calls of a whole run without a fault.
    long total = 0;
    {
        RunSetup r = fresh_pair(ft, move);
        ProgramDirOs pd(os::native(), r.prog);
        FaultOs count(pd, 0, 0, false);
        run_batch(r, count);
        total = count.calls();
    }
    if (maxK > 0) total = std::min(total, maxK);
    c.tally.counts["calls of a run of " + name] = total;
    Hashes h;
    h.cache = ft.backing.empty();
    for (long k = c.onlyK ? c.onlyK : 1; k <= (c.onlyK ? c.onlyK : total);
         k += c.onlyK ? 1 : stride) {
        if (!c.onlyK && ((k - 1) / stride) % part.of != part.index) continue;
        for (int good = 0; good < 2; ++good) {
            if (c.onlyGood >= 0 && good != c.onlyGood) continue;
            std::vector<int> these = errs;
            if (!allErrs) these = {errs[static_cast<std::size_t>(k + good) % errs.size()]};
            if (c.onlyErr) these = {c.onlyErr};
            for (int err : these) {
                RunSetup r = fresh_pair(ft, move);
                const auto before = snapshot(r.src, h);
                const auto targetBefore = names_of(r.dst);
                const std::string ctx = std::string(move ? "move" : "copy") + " fault at call " +
                                        std::to_string(k) + (good ? " for good " : " once ") +
                                        std::strerror(err) +
                                        (ft.backing.empty() ? "" : " on " + name);
                ProgramDirOs pd(os::native(), r.prog);
                FaultOs fo(pd, k, err, good);
                const auto boxes = run_batch(r, fo);
                ++fsx.runs;
                LogCursor off;
                const std::string log = r.prog + "/syncfile.log";
                const auto faulted = log_records(t, ctx, log, off);
                if (c.onlyK) {
                    std::printf("%s: first failed call %s %s\n", ctx.c_str(), fo.op.c_str(),
                                fo.path.c_str());
                    for (const auto& rec : faulted) std::printf("  log: %s\n", rec.c_str());
                    for (const auto& b : boxes) std::printf("  box: %s\n", b.c_str());
                }
                // Leftovers of the faulted run, before the recovery cleans up.
                std::vector<std::string> temps;
                files_of(r.dst, &temps);
                bool lists = false;
                std::error_code ec;
                for (auto it = fs::recursive_directory_iterator(c.tmp, ec);
                     !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
                    lists |= is_list_name(it->path().filename().string());
                check_torn(t, ctx, before, r, h);
                ProgramDirOs clean(os::native(), r.prog);
                run_batch(r, clean);
                const long redone = copied_in(log_records(t, ctx + " recovery", log, off));
                check_kept(t, ctx, before, r, h);
                check_torn(t, ctx + " after recovery", before, r, h);
                check_bounds(t, ctx + " after recovery", before, targetBefore, r);
                check_no_temps(t, ctx + " after recovery", r, c.tmp);
                run_batch(r, clean);
                if (long n = copied_in(log_records(t, ctx + " further run", log, off)); n != 0)
                    t.violation("further run copied", ctx + ": " + std::to_string(n) + " files");

                // Did the fault leave anything undone, and does the log say so?
                if (fo.op.empty()) {
                    ++fsx.harmless;
                    continue;
                }
                const bool flushOp = fo.op == "flush_files" || fo.op == "flush_dir";
                const bool logOp = fo.op == "append_file" && fo.path.ends_with("syncfile.log");
                const bool effect = !temps.empty() || lists || redone != 0 || flushOp || logOp;
                if (!effect) {
                    ++fsx.harmless;
                    continue;
                }
                bool named = false, anyFailure = false;
                for (const auto& rec : faulted) {
                    if (rec.ends_with(" files copied/moved")) continue;
                    anyFailure = true;
                    named |= rec.find(fo.reason) != std::string::npos;
                }
                for (const auto& b : boxes) {
                    anyFailure = true;
                    named |= b.find(fo.reason) != std::string::npos;
                }
                const std::string what =
                    ctx + ": " + fo.op + " " + fo.path +
                    (redone ? ", " + std::to_string(redone) + " files left for the next run" : "") +
                    (temps.empty() ? "" : ", temporary file left") +
                    (lists ? ", list file left" : "");
                if (named) {
                    ++fsx.named;
                } else if (anyFailure) {
                    ++fsx.misnamed;
                    t.violation(
                        "failure misnamed", what,
                        std::string(move ? "move " : "copy ") + fo.op + (good ? " for good" : ""));
                } else {
                    ++fsx.unnamed;
                    t.violation(
                        "failure unnamed", what,
                        std::string(move ? "move " : "copy ") + fo.op + (good ? " for good" : ""));
                }
                // The list files of a faulted run are not this check's business.
                for (auto it = fs::recursive_directory_iterator(c.tmp, ec);
                     !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
                    if (is_list_name(it->path().filename().string())) fs::remove(it->path(), ec);
            }
        }
    }
    return fsx;
}

// ---------------------------------------------------------------------------
// A real full disk: a small tmpfs as the target, move mode.

long full_disk(Campaign& c, std::string& note) {
    Tally& t = c.tally;
    const std::string base = c.work + "/full";
    std::error_code ec;
    fs::remove_all(base, ec);
    RunSetup r{base + "/prog", base + "/src", base + "/dst", true};
    fs::create_directories(r.prog);
    fs::create_directories(r.dst);
    if (::mount("qm-torture-full", r.dst.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                "size=3m,mode=0755") != 0) {
        note = std::string("skipped: a tmpfs could not be mounted (") + std::strerror(errno) + ")";
        return 0;
    }
    TreeSpec shape;
    shape.files = 60;
    shape.levels = 4;
    shape.big = 2u << 20;
    shape.small_max = 256u << 10;
    make_tree(r.src, shape, c.seed + 99);
    write_batch(r);
    plant_sentinel(r);
    Hashes h;
    const auto before = snapshot(r.src, h);
    long runs = 0;
    LogCursor off;
    bool named = false;
    for (int i = 0; i < 3; ++i) {
        bool hung = false;
        if (!wait_for(spawn(run_args(r), base + "/child.out"), 600, &hung))
            t.violation(hung ? "hang" : "crash", "full disk run " + std::to_string(i));
        ++runs;
        for (const auto& rec : log_records(t, "full disk", r.prog + "/syncfile.log", off))
            named |= rec.find(std::strerror(ENOSPC)) != std::string::npos;
        check_kept(t, "full disk run " + std::to_string(i), before, r, h);
        check_torn(t, "full disk run " + std::to_string(i), before, r, h);
        check_bounds(t, "full disk run " + std::to_string(i), before, {}, r);
        std::vector<std::string> temps;
        files_of(r.dst, &temps);
        for (const auto& p : temps) t.violation("temp left", "full disk: " + p);
    }
    if (!named)
        t.violation("failure unnamed",
                    "full disk: no log record names \"No space left on device\"");
    std::uint64_t moved = files_of(r.dst).size();
    note = "tmpfs of 3 MiB, " + std::to_string(before.size()) + " files; " + std::to_string(moved) +
           " moved, the rest kept at the source";
    (void)::umount2(r.dst.c_str(), MNT_DETACH);
    return runs;
}

// ---------------------------------------------------------------------------
// A source that grows, shrinks, is replaced or rewritten while it is copied.

class ChangingOs : public os::ForwardingOs {
public:
    ChangingOs(os::Os& inner, std::string victim, std::string how)
        : os::ForwardingOs(inner), victim_(std::move(victim)), how_(std::move(how)) {}
    bool changed = false;
    // Copies made in open directories change their source the same way.
    os::Result<os::FileState> copy_file_in(const os::OpenDir& f, const std::string& fn,
                                           const os::OpenDir& t, const std::string& tn,
                                           const os::CopyProgress& p, bool durable,
                                           os::FileId* made) override {
        return Os::copy_file_in(f, fn, t, tn, p, durable, made);
    }
    os::Result<os::FileState> copy_file(const std::string& f, const std::string& t,
                                        const os::CopyProgress& p, bool durable) override {
        if (f != victim_ || changed) return inner_.copy_file(f, t, p, durable);
        auto wrapped = [&](std::uint64_t done, std::uint64_t total) {
            if (!changed && done > 0 && done < total) {
                changed = true;
                change(f);
            }
            return p ? p(done, total) : true;
        };
        return inner_.copy_file(f, t, wrapped, durable);
    }

private:
    void change(const std::string& f) {
        const Meta m = meta_of(f);
        std::mt19937_64 g(m.ino);
        if (how_ == "grows") {
            std::ofstream(f, std::ios::binary | std::ios::app) << std::string(1 << 20, 'g');
        } else if (how_ == "shrinks") {
            fs::resize_file(f, m.size / 3);
        } else if (how_ == "is replaced") {
            // Another file of the same length and times renamed over it.
            const std::string other = f + ".new";
            fill_random(g, other, m.size);
            put_time(other, m.msec, m.mnsec);
            fs::rename(other, f);
        } else {  // rewritten in place, its time put back
            std::FILE* fp = std::fopen(f.c_str(), "r+b");
            std::vector<char> junk(1 << 20, 'r');
            std::fwrite(junk.data(), 1, junk.size(), fp);
            std::fclose(fp);
            put_time(f, m.msec, m.mnsec);
        }
    }
    std::string victim_, how_;
};

long changing_sources(Campaign& c) {
    Tally& t = c.tally;
    long runs = 0;
    Hashes h;
    for (bool move : {false, true}) {
        for (std::string how : {"grows", "shrinks", "is replaced", "is rewritten in place"}) {
            const std::string base = c.work + "/change";
            std::error_code ec;
            fs::remove_all(base, ec);
            RunSetup r{base + "/prog", base + "/src", base + "/dst", move};
            fs::create_directories(r.prog);
            fs::create_directories(r.dst);
            fs::create_directories(r.src);
            const std::string victim = r.src + "/große Datei.bin";
            std::mt19937_64 g(c.seed + 3);
            fill_random(g, victim, 12u << 20);
            put_time(victim, 1700000000, 0);
            write_batch(r);
            ProgramDirOs pd(os::native(), r.prog);
            ChangingOs ch(pd, victim, how);
            run_batch(r, ch);
            ++runs;
            const std::string ctx = std::string(move ? "move" : "copy") + ": a source that " + how;
            if (!ch.changed) {
                t.violation("harness", ctx + ": the change never happened");
                continue;
            }
            // What the source holds now must survive, and the target must
            // never pass for it with other bytes.
            const auto now = snapshot(r.src, h);
            if (now.empty()) t.violation("lost", ctx + ": the changed source was deleted");
            run_batch(r, pd);
            ++runs;
            check_kept(t, ctx, now, r, h);
            check_torn(t, ctx + " after a further run", now, r, h);
        }
    }
    return runs;
}

// ---------------------------------------------------------------------------

struct Size {
    int killTrials, editTrials;
    TreeSpec killTree, faultTree;
    bool allErrs;
    long maxK;
    // On the test volume: kill trials, faults at every volStride-th call,
    // pulled-out runs.
    int volKillTrials = 0, vanishTrials = 0;
    TreeSpec volKillTree{}, volFaultTree{}, vanishTree{};
    long volStride = 1;
    // On the slow volumes, where every call waits a millisecond.
    int slowKillTrials = 0;
    TreeSpec slowKillTree{};
    long slowStride = 1;
    // Their phases run in this many parts side by side.
    int slowParts = 1;
};

// What the phases found: the table's rows and the failures' tally.
struct Outcome {
    struct Row {
        std::string what;
        long runs = 0;
        std::string note;
    };
    std::vector<Row> rows;
    long unnamed = 0, misnamed = 0;
    std::function<void(const Row&)> shown;  // prints each row as it comes
    void row(std::string what, long runs, std::string note) {
        rows.push_back({std::move(what), runs, std::move(note)});
        if (shown) shown(rows.back());
    }
};

struct Phase {
    std::string name;
    std::function<void(Outcome&)> run;
    // A part of a phase onto a volume that answers late mostly waits: four
    // run in the room of one that keeps a processor busy.
    bool waits = false;
};

std::string flat(std::string s) {
    for (char& ch : s)
        if (ch == '\t' || ch == '\n' || ch == '\r') ch = ' ';
    return s;
}

// A phase run in a child process hands its outcome back in a file.
void save_outcome(const std::string& path, const Outcome& o, const Tally& t) {
    std::ofstream f(path);
    for (const auto& r : o.rows)
        f << "row\t" << flat(r.what) << '\t' << r.runs << '\t' << flat(r.note) << '\n';
    f << "unnamed\t" << o.unnamed << "\nmisnamed\t" << o.misnamed << '\n';
    for (const auto& [check, n] : t.violations)
        f << "violation\t" << flat(check) << '\t' << n << '\n';
    for (const auto& e : t.examples) f << "example\t" << flat(e) << '\n';
    f << "end\n";
}

bool load_outcome(const std::string& path, Outcome& o, Tally& t) {
    std::ifstream f(path);
    std::string line;
    bool ended = false;
    while (std::getline(f, line)) {
        std::vector<std::string> v;
        std::size_t from = 0;
        for (std::size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1)
            v.push_back(line.substr(from, tab - from));
        v.push_back(line.substr(from));
        if (v[0] == "row" && v.size() == 4)
            o.rows.push_back({v[1], std::stol(v[2]), v[3]});
        else if (v[0] == "unnamed" && v.size() == 2)
            o.unnamed += std::stol(v[1]);
        else if (v[0] == "misnamed" && v.size() == 2)
            o.misnamed += std::stol(v[1]);
        else if (v[0] == "violation" && v.size() == 3)
            t.violations[v[1]] += std::stol(v[2]);
        else if (v[0] == "example" && v.size() == 2 && t.examples.size() < 200)
            t.examples.push_back(v[1]);
        else if (v[0] == "end")
            ended = true;
    }
    return ended;
}

// Runs the phases, up to `jobs` at a time in child processes; each phase
// has a temporary directory of its own, as a second user's runs would.
Outcome run_phases(Campaign& c, const std::vector<Phase>& phases, int jobs,
                   const std::function<void(const Outcome::Row&)>& print) {
    auto prepare = [&c](const Phase& p) {
        c.tmp = c.work + "/tmp-" + p.name;
        fs::create_directories(c.tmp);
        ::setenv("TMPDIR", c.tmp.c_str(), 1);
    };
    Outcome all;
    all.shown = print;
    if (jobs <= 1) {
        for (const auto& p : phases) {
            prepare(p);
            p.run(all);
        }
        return all;
    }
    const std::string outs = c.work + "/tmp-outcomes";
    fs::create_directories(outs);
    struct Child {
        std::string name;
        int weight;
    };
    std::map<pid_t, Child> running;
    int room = 4 * jobs;
    auto weighs = [](const Phase& p) { return p.waits ? 1 : 4; };
    std::size_t next = 0;
    while (next < phases.size() || !running.empty()) {
        if (next < phases.size() && (running.empty() || weighs(phases[next]) <= room)) {
            const Phase& p = phases[next++];
            std::fflush(stdout);
            const pid_t pid = ::fork();
            if (pid == 0) {
                // Its own findings only: those of the phases before it are
                // the parent's already.
                c.tally = {};
                prepare(p);
                Outcome o;
                o.shown = print;
                p.run(o);
                save_outcome(outs + "/" + p.name, o, c.tally);
                std::fflush(stdout);
                ::_exit(0);
            }
            if (pid < 0)
                c.tally.violation("harness", "phase " + p.name + ": fork failed");
            else {
                running[pid] = {p.name, weighs(p)};
                room -= weighs(p);
            }
            continue;
        }
        int st = 0;
        const pid_t pid = ::wait(&st);
        if (pid < 0) break;
        auto it = running.find(pid);
        if (it == running.end()) continue;
        Outcome o;
        if (!WIFEXITED(st) || WEXITSTATUS(st) != 0 ||
            !load_outcome(outs + "/" + it->second.name, o, c.tally))
            c.tally.violation("harness", "phase " + it->second.name + " ended without its outcome");
        for (auto& r : o.rows) all.rows.push_back(std::move(r));
        all.unnamed += o.unnamed;
        all.misnamed += o.misnamed;
        room += it->second.weight;
        running.erase(it);
    }
    return all;
}

std::string mount_work(const std::string& dir, bool& mounted) {
    // A tmpfs keeps the campaign off the shared disk and its flushes cheap.
    mounted =
        ::mount("qm-torture", dir.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=3g,mode=0700") == 0;
    return mounted ? "tmpfs" : "the disk";
}

}  // namespace

int main(int argc, char** argv) {
    g_self = fs::canonical("/proc/self/exe").string();
    g_child = argc > 1 && std::string(argv[1]).starts_with("--child");
    if (argc > 1 && std::string(argv[1]) == "--child-run") return child_run(argc, argv);
    if (argc > 1 && std::string(argv[1]) == "--child-edit") return child_edit(argc, argv);

    Size quick{100, 60, {}, {}, false, 0};
    quick.killTree = {120, 8, 2u << 20, 16u << 10};
    quick.faultTree = {10, 3, 96u << 10, 8u << 10};
    Size mid{1000, 500, {}, {}, true, 0};
    mid.killTree = {2000, 8, 16u << 20, 256u << 10};
    mid.faultTree = {40, 4, 1u << 20, 16u << 10};
    Size full{5000, 2000, {}, {}, true, 0};
    full.killTree = {2000, 8, 64u << 20, 256u << 10};
    full.faultTree = {200, 8, 4u << 20, 32u << 10};
    // Calls through the test volume cost more: smaller trees, fewer trials.
    quick.volKillTrials = 20, quick.vanishTrials = 12, quick.volStride = 4;
    quick.volKillTree = {60, 6, 1u << 20, 16u << 10, 4};
    quick.volFaultTree = {10, 3, 96u << 10, 8u << 10, 2};
    quick.vanishTree = {60, 5, 1u << 20, 16u << 10};
    quick.slowKillTrials = 4, quick.slowStride = 48;
    quick.slowKillTree = {60, 5, 1u << 20, 16u << 10, 4};
    mid.slowKillTrials = 100, mid.slowStride = 2, mid.slowParts = 4;
    mid.slowKillTree = {150, 6, 2u << 20, 32u << 10, 6};
    full.slowKillTrials = 400, full.slowStride = 1, full.slowParts = 8;
    full.slowKillTree = {500, 8, 8u << 20, 128u << 10, 12};
    mid.volKillTrials = 300, mid.vanishTrials = 150;
    mid.volKillTree = {500, 8, 8u << 20, 128u << 10, 12};
    mid.volFaultTree = {40, 4, 1u << 20, 16u << 10, 4};
    mid.vanishTree = {500, 8, 8u << 20, 128u << 10};
    full.volKillTrials = 1000, full.vanishTrials = 500;
    full.volKillTree = {2000, 8, 32u << 20, 256u << 10, 24};
    full.volFaultTree = {100, 6, 2u << 20, 32u << 10, 6};
    full.vanishTree = {2000, 8, 32u << 20, 256u << 10};
    Size size = quick;
    std::string level = "quick";
    Campaign c;
    std::string dir = "/var/tmp";
    int jobs = 0;
    std::set<std::string> only;  // phase names; empty: all
    bool volumes = false;        // the test volume's phases also in --quick
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--quick")
            size = quick, level = "quick";
        else if (a == "--mid")
            size = mid, level = "mid";
        else if (a == "--full")
            size = full, level = "full";
        else if (a == "--dir" && i + 1 < argc)
            dir = argv[++i];
        else if (a == "--seed" && i + 1 < argc)
            c.seed = std::strtoull(argv[++i], nullptr, 10);
        else if (a == "--plant" && i + 1 < argc)
            c.plant = argv[++i];
        else if (a == "--fault" && i + 4 < argc) {
            c.onlyMove = std::string(argv[++i]) == "move";
            c.onlyK = std::atol(argv[++i]);
            c.onlyGood = std::string(argv[++i]) == "good";
            const std::string e = argv[++i];
            c.onlyErr = e == "EIO" ? EIO : e == "EACCES" ? EACCES : ENOSPC;
        } else if (a == "--only" && i + 1 < argc) {
            std::stringstream names(argv[++i]);
            for (std::string n; std::getline(names, n, ',');) only.insert(n);
        } else if (a == "--jobs" && i + 1 < argc)
            jobs = std::max(1, std::atoi(argv[++i]));
        else if (a == "--kills" && i + 1 < argc)
            size.killTrials = std::atoi(argv[++i]);
        else if (a == "--volumes")
            volumes = true;
        else {
            std::fprintf(
                stderr,
                "usage: %s [--quick|--mid|--full] [--dir DIR] [--seed N] [--kills N] [--jobs N] "
                "[--volumes] [--only kill-copy,kill-move,edit,fault-copy,fault-move,disk,"
                "kill-move-fold,fault-move-fold,kill-move-slow,kill-copy-slow,fault-move-slow,"
                "kill-move-slowfold,"
                "vanish-move] "
                "[--plant torn|temp|ini|log|again|outside]\n",
                argv[0]);
            return 2;
        }
    }
    // The long campaigns use every processor; the test command's runs one.
    if (jobs == 0)
        jobs = level == "quick"
                   ? 1
                   : std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    std::string tmpl = dir + "/qm-torture-XXXXXX";
    if (!::mkdtemp(tmpl.data())) {
        std::perror("mkdtemp");
        return 2;
    }
    c.work = tmpl;
    bool mounted = false;
    const std::string where = mount_work(c.work, mounted);
    ::unsetenv("winbootdir");
    if (!c.plant.empty()) ::setenv("QM_TORTURE_PLANT", c.plant.c_str(), 1);

    const auto t0 = Clock::now();
    std::printf("torture campaign (%s, seed %llu, %d at a time) in %s on %s\n", level.c_str(),
                static_cast<unsigned long long>(c.seed), jobs, c.work.c_str(), where.c_str());
    std::fflush(stdout);

    // The phases, each on trees of its own, so that they can run side by side.
    std::vector<Phase> phases;
    const bool one = c.onlyK != 0;
    if (!one && (c.plant.empty() || c.plant != "ini")) {
        for (bool move : {false, true}) {
            phases.push_back(
                {move ? "kill-move" : "kill-copy", [&c, &size, move](Outcome& o) {
                     const int trials = c.plant.empty() ? size.killTrials : 10;
                     KillStats ks = kill_trials(c, move, trials, size.killTree,
                                                move ? "kill-move" : "kill-copy");
                     o.row(std::string("kill trials, ") + (move ? "move" : "copy") + " mode",
                           ks.trials,
                           std::to_string(ks.killed) + " killed mid-run, " +
                               std::to_string(ks.finished) + " ended first; " +
                               std::to_string(size.killTree.files) + " files, " +
                               std::to_string(size.killTree.levels) + " levels, up to " +
                               std::to_string(size.killTree.big >> 20) + " MiB");
                 }});
        }
    }
    if (!one && (c.plant.empty() || c.plant == "ini")) {
        phases.push_back({"edit", [&c, &size](Outcome& o) {
                              const long e = edit_trials(c, c.plant.empty() ? size.editTrials : 40);
                              o.row("kill trials during batch edits", e,
                                    "add and remove, killed at random");
                          }});
    }
    if (c.plant.empty()) {
        for (bool move : {false, true}) {
            if (one && move != (c.onlyMove == 1)) continue;
            const std::string name = move ? "fault-move" : "fault-copy";
            phases.push_back(
                {name, [&c, &size, move, name](Outcome& o) {
                     const std::vector<int> errs{ENOSPC, EIO, EACCES};
                     FaultTree ft{c.work + "/" + name, size.faultTree, c.seed + 11};
                     FaultStats f = fault_trials(c, move, ft, errs, size.allErrs, size.maxK, name);
                     o.unnamed += f.unnamed;
                     o.misnamed += f.misnamed;
                     const std::string mode = move ? "move" : "copy";
                     o.row("faulted runs, " + mode + " mode", f.runs,
                           "every call k of " +
                               std::to_string(c.tally.counts["calls of a run of " + name]) + " (" +
                               std::to_string(size.faultTree.files) +
                               " files), once and for good, " +
                               (size.allErrs ? "ENOSPC, EIO, EACCES each"
                                             : "ENOSPC/EIO/EACCES in turn") +
                               "; " + std::to_string(f.harmless) + " harmless, " +
                               std::to_string(f.named) + " named, " + std::to_string(f.misnamed) +
                               " misnamed, " + std::to_string(f.unnamed) + " unnamed");
                 }});
        }
        if (!one) {
            phases.push_back({"disk", [&c](Outcome& o) {
                                  std::string note;
                                  const long fr = full_disk(c, note);
                                  o.row("full disk runs, move mode", fr, note);
                                  o.row("sources changing during their copy", changing_sources(c),
                                        "grows, shrinks, is replaced, is rewritten in place; "
                                        "copy and move mode");
                              }});
        }
    }
    // On the test volume (FUSE): move mode onto a volume that folds case
    // and keeps times in 2 s steps, as FAT does; and onto one pulled out
    // mid-run. Not in --quick unless --volumes or --only asks for them.
    if (c.plant.empty() && (level != "quick" || volumes || !only.empty())) {
        auto available = [](Outcome& o, const std::string& what) {
            std::string why;
            if (test::TestVolume::available(&why)) return true;
            o.row(what, 0, "skipped: no test volume (" + why + ")");
            return false;
        };
        // A volume that does not come up is the harness's failure, not the
        // program's.
        auto guarded = [&c](const std::string& name, const std::function<void()>& body) {
            try {
                body();
            } catch (const std::exception& e) {
                c.tally.violation("harness", name + ": " + e.what());
            }
        };
        // A stick that folds case and keeps times in 2 s steps, as FAT
        // does; a share that answers each call a millisecond late, onto
        // which copies are made several at once, and one that also folds
        // case, as a Windows share does.
        struct OnVolume {
            std::string tag, kind;
            test::VolumeOptions options;
            std::int64_t step;
            int killTrials;
            TreeSpec killTree;
            long stride;
            bool faults = true;
        };
        const std::vector<OnVolume> onVolumes{
            {"fold",
             "folding 2 s volume",
             {.fold_case = true, .time_step_ns = 2'000'000'000},
             2,
             size.volKillTrials,
             size.volKillTree,
             size.volStride},
            {"slow",
             "volume answering 1 ms late",
             {.delay_us = 1000},
             1,
             size.slowKillTrials,
             size.slowKillTree,
             size.slowStride},
            {"slowfold",
             "folding volume answering 1 ms late",
             {.fold_case = true, .delay_us = 1000},
             1,
             size.slowKillTrials,
             size.slowKillTree,
             size.slowStride,
             false},
        };
        for (const OnVolume& ov : onVolumes) {
            const bool folds = ov.options.fold_case;
            auto shape = [folds](TreeSpec t) {
                if (!folds) t.fold_pairs = 0;
                return t;
            };
            // A volume that answers late is mostly waited for: its phases
            // run in parts side by side, each on a volume of its own.
            const int parts = ov.options.delay_us > 0 && !one ? size.slowParts : 1;
            for (int i = 0; i < parts; ++i) {
                const Part part{i, parts};
                auto named = [part](const std::string& name) {
                    return part.of > 1 ? name + "." + std::to_string(part.index + 1) : name;
                };
                auto told = [part](const std::string& what) {
                    return part.of > 1 ? what + " (part " + std::to_string(part.index + 1) +
                                             " of " + std::to_string(part.of) + ")"
                                       : what;
                };
                // Copy mode lets a directory's copies overlap the next one's.
                for (const bool move : {true, false}) {
                    if (one || (!move && folds)) continue;
                    const std::string name =
                        named(std::string(move ? "kill-move-" : "kill-copy-") + ov.tag);
                    const int trials = ov.killTrials / parts + (i < ov.killTrials % parts ? 1 : 0);
                    phases.push_back(
                        {name,
                         [&, ov, shape, available, guarded, move, name, trials, told,
                          part](Outcome& o) {
                             const std::string what =
                                 told(std::string("kill trials, ") + (move ? "move" : "copy") +
                                      " mode, " + ov.kind);
                             if (!available(o, what)) return;
                             guarded(name, [&] {
                                 const TreeSpec tree = shape(ov.killTree);
                                 KillStats ks = kill_trials(c, move, trials, tree, name,
                                                            &ov.options, part.index);
                                 o.row(what, ks.trials,
                                       std::to_string(ks.killed) + " killed mid-run, " +
                                           std::to_string(ks.finished) + " ended first; " +
                                           std::to_string(tree.files) + " files and " +
                                           std::to_string(tree.fold_pairs) +
                                           " pairs one in case apart");
                             });
                         },
                         parts > 1});
                }
                if (!ov.faults || (one && c.onlyMove != 1)) continue;
                const std::string name = named("fault-move-" + ov.tag);
                phases.push_back(
                    {name,
                     [&, ov, shape, available, guarded, name, told, part](Outcome& o) {
                         const std::string what = told("faulted runs, move mode, " + ov.kind);
                         if (!available(o, what)) return;
                         guarded(name, [&] {
                             const std::string base = c.work + "/" + name;
                             const TreeSpec tree = shape(size.volFaultTree);
                             test::TestVolume v(ov.options, base + "/vol", base + "/dst");
                             FaultTree ft{base,        tree,    c.seed + 17,
                                          v.backing(), ov.step, ov.options.fold_case};
                             FaultStats f =
                                 fault_trials(c, true, ft, {ENOSPC, EIO, EACCES}, size.allErrs,
                                              size.maxK, name, ov.stride, part);
                             o.unnamed += f.unnamed;
                             o.misnamed += f.misnamed;
                             const long every = ov.stride * part.of;
                             o.row(what, f.runs,
                                   "every " + (every > 1 ? std::to_string(every) + "th " : "") +
                                       "call k of " +
                                       std::to_string(c.tally.counts["calls of a run of " + name]) +
                                       " (" + std::to_string(tree.files) + " files, " +
                                       std::to_string(tree.fold_pairs) +
                                       " pairs one in case apart); " + std::to_string(f.harmless) +
                                       " harmless, " + std::to_string(f.named) + " named, " +
                                       std::to_string(f.misnamed) + " misnamed, " +
                                       std::to_string(f.unnamed) + " unnamed");
                         });
                     },
                     parts > 1});
            }
        }
        if (!one)
            phases.push_back({"vanish-move", [&, available, guarded](Outcome& o) {
                                  const std::string what = "runs pulled out, move mode";
                                  if (!available(o, what)) return;
                                  guarded("vanish-move", [&] {
                                      VanishStats vs =
                                          vanish_trials(c, size.vanishTrials, size.vanishTree);
                                      o.row(what, vs.trials,
                                            std::to_string(vs.by_creates) + " after a file made, " +
                                                std::to_string(vs.unmounted) + " unmounted, " +
                                                std::to_string(vs.killed) + " daemon killed, " +
                                                std::to_string(vs.ended_first) + " ended first; " +
                                                std::to_string(vs.off_volume) +
                                                " files written to the bare mount point");
                                  });
                              }});
    }
    if (!only.empty())
        std::erase_if(phases, [&](const Phase& p) {
            return !only.count(p.name) && !only.count(family(p.name));
        });
    auto print_row = [&](const Outcome::Row& r) {
        std::printf("  %-44s %8ld   %s  (%.0f s)\n", r.what.c_str(), r.runs, r.note.c_str(),
                    since(t0));
        std::fflush(stdout);
    };
    const Outcome all = run_phases(c, phases, jobs, print_row);
    const long unnamed = all.unnamed, misnamed = all.misnamed;

    long total = 0;
    std::printf("\nviolations:\n");
    for (const auto& [check, n] : c.tally.violations) {
        std::printf("  %-28s %ld\n", check.c_str(), n);
        total += n;
    }
    if (total == 0) std::printf("  none\n");
    std::printf("failures left unnamed: %ld, misnamed: %ld\n", unnamed, misnamed);
    if (!c.tally.examples.empty()) {
        std::printf("\nfirst examples:\n");
        for (const auto& e : c.tally.examples) std::printf("  %s\n", e.c_str());
    }
    std::printf("\ntime: %.0f s\n", since(t0));

    if (one) {
        // Kept for a look; the tmpfs goes when it is unmounted.
        std::printf("files kept in %s\n", c.work.c_str());
        return total == 0 ? 0 : 1;
    }
    if (mounted) (void)::umount2(c.work.c_str(), MNT_DETACH);
    std::error_code ec;
    fs::remove_all(c.work, ec);
    if (!c.plant.empty()) {
        // Caught only when the check made for this fault saw it.
        static const std::map<std::string, std::string> check_of{{"torn", "torn"},
                                                                 {"temp", "temp left"},
                                                                 {"ini", "batch torn"},
                                                                 {"log", "log record"},
                                                                 {"again", "further run copied"},
                                                                 {"outside", "outside the entry"}};
        auto it = check_of.find(c.plant);
        const bool caught = it != check_of.end() && c.tally.violations[it->second] > 0 &&
                            (c.plant != "torn" || c.tally.violations["lost"] > 0);
        std::printf("planted fault \"%s\": %s\n", c.plant.c_str(),
                    caught ? "caught" : "NOT caught");
        return caught ? 0 : 1;
    }
    return total == 0 ? 0 : 1;
}
