// Prints the time of a replication beside rsync and cp on the same trees,
// in one run, and the replication's peak memory.
//
//   quillmere-bench [FILES [DIRS [BIG-MiB]]]     default 100000 1000 1024
//
// Each replication runs in a child process (this program again, with
// --replicate) so that its peak memory is its own and the tree's creation
// is not counted. Every figure is taken on a warm tree: the source is read
// once before anything is timed. The specified two-second pause of every
// entry is left out of the times and reported apart.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "batch/store.h"
#include "bench/peak.h"
#include "platform/platform.h"
#include "support/forwarding_os.h"
#include "ui/form1.h"

namespace {

using namespace qm;
using Clock = std::chrono::steady_clock;
using bench::peak_kib;

// Counts the pauses; with real set, also takes them, as the program does,
// and measures how long they took.
struct CountingSleeper : ui::Sleeper {
    bool real = false;
    unsigned slept = 0;
    Clock::duration took{};
    void sleep_ms(unsigned ms) override {
        slept += ms;
        if (!real) return;
        const auto a = Clock::now();
        os::current().sleep_ms(ms);
        took += Clock::now() - a;
    }
};
// The real program's pump does little when no event is pending.
struct IdlePump : ui::EventPump {
    long yields = 0;
    void yield() override { ++yields; }
};
struct ProgramDir : os::ForwardingOs {
    std::string dir;
    explicit ProgramDir(std::string d) : os::ForwardingOs(os::native()), dir(std::move(d)) {}
    os::Result<std::string> program_dir() override { return dir; }
};

double since(Clock::time_point a) {
    return std::chrono::duration<double>(Clock::now() - a).count();
}

double shell(const std::string& cmd) {
    const auto t = Clock::now();
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", cmd.c_str());
    return since(t);
}

// Child: one batch run of source -> target through the window model.
// Prints "seconds paused-ms peak-KiB yields cpu-seconds", the seconds
// without the pauses. realPause: the pauses are taken, not only counted; a
// machine may run the work after a pause of its processor more slowly, and
// the program pauses.
int replicate_child(const std::string& prog, const std::string& src, const std::string& dst,
                    bool realPause) {
    ProgramDir pd(prog);
    os::ScopedOs use(pd);
    (void)os::current().write_file(
        os::join(prog, "BATCH.INI"),
        batch::join_lines({"[batch]", "Source:" + src, "Target:" + dst, "Subs:YES"}), false);
    CountingSleeper sleeper;
    sleeper.real = realPause;
    IdlePump pump;
    ui::Services s;
    s.sleeper = &sleeper;
    s.pump = &pump;
    ui::Form1 form(s);
    form.Form_Load();
    form.Slider1.setValue(1);
    const auto t = Clock::now();
    const std::clock_t cpu = std::clock();
    form.Timer1_Timer();
    const double secs = since(t) - std::chrono::duration<double>(sleeper.took).count();
    std::printf("%.6f %u %ld %ld %.6f\n", secs, sleeper.slept, peak_kib(), pump.yields,
                static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC);
    return 0;
}

struct Replication {
    double seconds = 0;  // without the pause
    unsigned paused_ms = 0;
    long peak_kib = 0;
    long yields = 0;
};

std::string self_path;

Replication replicate(const std::string& root, const std::string& src, const std::string& dst) {
    const std::string out = root + "/child.out";
    shell("'" + self_path + "' --replicate '" + root + "/prog' '" + src + "' '" + dst + "' > '" +
          out + "'");
    Replication r;
    std::ifstream in(out);
    double secs = 0;
    in >> secs >> r.paused_ms >> r.peak_kib >> r.yields;
    r.seconds = secs;
    return r;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void row(const char* what, double ours, double theirs, const char* who) {
    std::printf("%-34s %9.3f s %9.3f s  %-18s %6.2fx\n", what, ours, theirs, who, ours / theirs);
}

}  // namespace

// FILES files of 1 KiB, spread evenly over DIRS directories d0, d1, ...
void make_tree(const std::string& src, int files, int dirs) {
    const std::string kib(1024, 'q');
    auto& os = os::native();
    (void)os.make_dir(src);
    for (int d = 0; d < dirs; ++d) {
        const std::string dir = src + "/d" + std::to_string(d);
        (void)os.make_dir(dir);
        for (int f = 0; f < files / dirs; ++f)
            (void)os.write_file(dir + "/f" + std::to_string(f) + ".dat", kib, false);
    }
}

int main(int argc, char** argv) {
#ifdef __GLIBC__
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);  // as the program does
#endif
    self_path = argv[0];
    if ((argc == 5 || argc == 6) && std::string(argv[1]) == "--replicate")
        return replicate_child(argv[2], argv[3], argv[4],
                               argc == 6 && std::string(argv[5]) == "--real-pause");
    // For bench/window.sh: the same trees, and the engine's figure on them.
    if (argc == 5 && std::string(argv[1]) == "--make-tree") {
        make_tree(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
        return 0;
    }

    const int files = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int dirs = argc > 2 ? std::atoi(argv[2]) : 1000;
    const int big_mib = argc > 3 ? std::atoi(argv[3]) : 1024;
    const int rounds = 3;

    char tmpl[] = "/var/tmp/qmbench-XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    const std::string root = tmpl;
    const std::string src = root + "/src";
    shell("mkdir -p " + root + "/prog " + src);
    // The list files go beside the trees.
    setenv("winbootdir", root.c_str(), 1);

    std::printf("tree: %d files of 1 KiB in %d directories, %d rounds, median shown\n", files, dirs,
                rounds);
    make_tree(src, files, dirs);
    shell("sync; find " + src + " -type f -exec cat {} + > /dev/null");  // warm

    // Initial copy into a fresh empty target each round. Nothing is deleted
    // until the end: on ext4, new inodes next to many just-deleted ones are
    // slow to allocate, which would favour whichever tool runs later. The
    // order alternates for the same reason.
    std::vector<double> ours_init, rsync_init;
    Replication first;
    for (int i = 0; i < rounds; ++i) {
        const std::string n = std::to_string(i);
        shell("mkdir " + root + "/ours" + n + " " + root + "/rsync" + n + "; sync");
        auto ours = [&] {
            const Replication r = replicate(root, src, root + "/ours" + n);
            if (i == 0) first = r;
            ours_init.push_back(r.seconds);
            shell("sync");
        };
        auto theirs = [&] {
            rsync_init.push_back(
                shell("rsync -rt --whole-file " + src + "/ " + root + "/rsync" + n + "/"));
            shell("sync");
        };
        if (i % 2 == 0) {
            ours();
            theirs();
        } else {
            theirs();
            ours();
        }
    }
    // No change: the first targets are complete.
    // The floor of a walk on one thread: each directory read once and
    // every entry of both trees stat'ed, by find.
    std::vector<double> ours_same, rsync_same, walk_same;
    Replication same;
    for (int i = 0; i < rounds; ++i) {
        same = replicate(root, src, root + "/ours0");
        ours_same.push_back(same.seconds);
        rsync_same.push_back(shell("rsync -rt " + src + "/ " + root + "/rsync0/"));
        walk_same.push_back(
            shell("find " + src + " " + root + "/ours0 -printf '%s %T@\\n' > /dev/null"));
    }
    const bool equal =
        std::system(("diff -r " + src + " " + root + "/ours0 > /dev/null").c_str()) == 0;

    std::printf("\n%-34s %11s %11s  %-18s %7s\n", "", "quillmere", "other", "(other tool)",
                "ratio");
    row("initial copy", median(ours_init), median(rsync_init), "rsync -rt --whole-file");
    row("no-change run", median(ours_same), median(rsync_same), "rsync -rt");
    row("", median(ours_same), median(walk_same), "find (both trees)");
    std::printf("%-34s %9u ms (per entry, not in the times above)\n", "specified pause",
                same.paused_ms);
    std::printf("%-34s %9.1f MiB (initial copy), %.1f MiB (no-change run)\n",
                "peak memory of the run", first.peak_kib / 1024.0, same.peak_kib / 1024.0);
    std::printf("%-34s %9ld (initial copy), %ld (no-change run)\n", "yields to the window",
                first.yields, same.yields);
    std::printf("%-34s %9s\n", "target equal to source", equal ? "yes" : "NO");

    if (big_mib > 0) {
        shell("rm -rf " + src + " " + root + "/ours* " + root + "/rsync*; mkdir -p " + src + " " +
              root + "/big-ours " + root + "/big-cp");
        shell("head -c " + std::to_string(big_mib) + "M /dev/urandom > " + src +
              "/big.bin; sync; cat " + src + "/big.bin > /dev/null");
        std::vector<double> ours, cp, cp_sync;
        for (int i = 0; i < rounds; ++i) {
            shell("rm -f " + root + "/big-ours/big.bin " + root + "/big-cp/big.bin; sync");
            ours.push_back(replicate(root, src, root + "/big-ours").seconds);
            shell("rm -f " + root + "/big-cp/big.bin; sync");
            cp.push_back(shell("cp " + src + "/big.bin " + root + "/big-cp/big.bin"));
            shell("rm -f " + root + "/big-cp/big.bin; sync");
            cp_sync.push_back(shell("cp " + src + "/big.bin " + root + "/big-cp/big.bin && sync"));
        }
        const double mib = big_mib;
        std::printf("\none file of %d MiB                 %8.0f MiB/s %6.0f MiB/s  %-18s %6.2fx\n",
                    big_mib, mib / median(ours), mib / median(cp), "cp", median(cp) / median(ours));
        std::printf("%-34s %8.0f MiB/s %6.0f MiB/s  %-18s %6.2fx\n", "", mib / median(ours),
                    mib / median(cp_sync), "cp && sync", median(cp_sync) / median(ours));
        std::printf("(the ratio is throughput, ours / theirs; ours flushes the copy to disk)\n");
    }
    shell("rm -rf " + root);
    return 0;
}
