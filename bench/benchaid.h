// The benchmark's watch on the program's window, read from the
// environment and otherwise inert:
//
//   QUILLMERE_TIMINGS=FILE   appends to FILE: the time the window was first
//                            exposed, each batch run's duration with the
//                            pause apart, the peak memory before and after,
//                            and the lateness of a 10 ms timer during the
//                            run; the program ends after the first run.
//
// QUILLMERE_TICK_MS, which shortens Timer1's period, is Form1's to read.
#pragma once

#include <memory>

namespace qm::ui {
class Form1;
struct Services;
}  // namespace qm::ui
namespace qm::view {
class MainWindow;
}

namespace qm::bench {

class BenchAid {
public:
    // Reads the environment; does nothing when the variable is not set.
    BenchAid();
    ~BenchAid();
    BenchAid(const BenchAid&) = delete;
    BenchAid& operator=(const BenchAid&) = delete;

    // Before Form1 is made: a sleeper that notes the pauses.
    void prepare(ui::Services& services);
    // Once the window exists, before it is shown.
    void attach(ui::Form1& form, view::MainWindow& window);

private:
    struct State;
    std::unique_ptr<State> s_;
};

}  // namespace qm::bench
