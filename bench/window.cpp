// The program, run as a user runs it, with the benchmark's watch on it:
// QUILLMERE_TIMINGS=FILE notes its figures there and ends it after its
// first run (bench/window.sh).
#include "app/program.h"
#include "bench/benchaid.h"

int main(int argc, char** argv) {
    qm::bench::BenchAid aid;
    qm::app::ProgramHooks hooks;
    hooks.prepare = [&aid](qm::ui::Services& s) { aid.prepare(s); };
    hooks.attach = [&aid](qm::ui::Form1& f, qm::view::MainWindow& w) { aid.attach(f, w); };
    return qm::app::runProgram(argc, argv, hooks);
}
