// Prints the time of a replication beside rsync and cp on the same trees.
// Usage: quillmere-bench [files [dirs [big-MiB]]]   (default 100000 1000 1024)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "batch/store.h"
#include "platform/platform.h"
#include "ui/form1.h"

namespace {

using namespace qm;
using Clock = std::chrono::steady_clock;

struct NoSleep : ui::Sleeper {
    unsigned slept = 0;
    void sleep_ms(unsigned ms) override { slept += ms; }
};
struct NoPump : ui::EventPump {
    void yield() override {}
};
struct ProgOs : os::ForwardingOs {
    std::string dir;
    explicit ProgOs(std::string d) : os::ForwardingOs(os::native()), dir(std::move(d)) {}
    os::Result<std::string> program_dir() override { return dir; }
};

double seconds(Clock::time_point a) { return std::chrono::duration<double>(Clock::now() - a).count(); }

double shell(const std::string& cmd) {
    auto t = Clock::now();
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", cmd.c_str());
    return seconds(t);
}

// One batch run of source -> target; returns seconds without the pause.
double replicate(const std::string& prog, const std::string& src, const std::string& dst) {
    auto& os = os::current();
    (void)os.make_dir(dst);
    (void)os.write_file(os::join(prog, "BATCH.INI"),
                        batch::join_lines({"[batch]", "Source:" + src, "Target:" + dst, "Subs:YES"}), false);
    NoSleep sleeper;
    NoPump pump;
    ui::Services s;
    s.sleeper = &sleeper;
    s.pump = &pump;
    ui::Form1 form(s);
    form.Form_Load();
    form.Slider1.setValue(1);
    auto t = Clock::now();
    form.Timer1_Timer();
    return seconds(t);
}

long peak_kib() {
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return r.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    const int files = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int dirs = argc > 2 ? std::atoi(argv[2]) : 1000;
    const int big_mib = argc > 3 ? std::atoi(argv[3]) : 1024;
    char tmpl[] = "/tmp/qmbench-XXXXXX";
    const std::string root = mkdtemp(tmpl);
    const std::string prog = root + "/prog", src = root + "/src";
    shell("mkdir -p " + prog + " " + src);
    ProgOs pos(prog);
    os::ScopedOs use(pos);

    std::printf("tree: %d files of 1 KiB in %d directories\n", files, dirs);
    const std::string kib(1024, 'q');
    for (int d = 0; d < dirs; ++d) {
        std::string dir = src + "/d" + std::to_string(d);
        (void)os::current().make_dir(dir);
        for (int f = 0; f < files / dirs; ++f)
            (void)os::current().write_file(dir + "/f" + std::to_string(f) + ".dat", kib, false);
    }
    shell("sync");

    const double ours_init = replicate(prog, src, root + "/ours");
    const long mem_after_init = peak_kib();
    const double rsync_init = shell("rsync -rt --whole-file " + src + "/ " + root + "/rsync/");
    const double ours_same = replicate(prog, src, root + "/ours");
    const double rsync_same = shell("rsync -rt " + src + "/ " + root + "/rsync/");

    std::printf("%-28s %10s %10s %8s\n", "", "quillmere", "rsync", "ratio");
    std::printf("%-28s %9.2fs %9.2fs %8.2f\n", "initial copy", ours_init, rsync_init, ours_init / rsync_init);
    std::printf("%-28s %9.2fs %9.2fs %8.2f\n", "no-change run", ours_same, rsync_same, ours_same / rsync_same);
    std::printf("(the 2 s pause per entry is excluded from these figures)\n");
    std::printf("peak memory after the initial copy: %.1f MiB (whole process, tree creation included)\n",
                mem_after_init / 1024.0);

    if (big_mib > 0) {
        shell("rm -rf " + src + " " + root + "/ours " + root + "/rsync; mkdir -p " + src + " " + root +
              "/big-ours " + root + "/big-cp");
        shell("head -c " + std::to_string(big_mib) + "M /dev/urandom > " + src + "/big.bin; sync");
        const double ours = replicate(prog, src, root + "/big-ours");
        const double cp = shell("cp " + src + "/big.bin " + root + "/big-cp/big.bin && sync");
        std::printf("%-28s %8.0fMB/s %8.0fMB/s %8.2f\n", "one big file (throughput)", big_mib / ours,
                    big_mib / cp, cp / ours);
        std::printf("(ours flushes the copy to disk before it counts; cp is followed by sync)\n");
    }
    shell("rm -rf " + root);
    return 0;
}
