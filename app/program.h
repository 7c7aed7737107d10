// The Linux program itself: the window loaded (Form_Load) and shown when
// the load has returned; from then on the timer and the user drive it. A
// second start from the same folder shows the first one's window and ends.
// The program's main() runs it as it is; the benchmark's own executable of
// the window runs it with hooks that watch it.
#pragma once

#include <functional>

namespace qm::ui {
class Form1;
struct Services;
}  // namespace qm::ui
namespace qm::view {
class MainWindow;
}

namespace qm::app {

struct ProgramHooks {
    // Before Form1 is made: services to replace.
    std::function<void(ui::Services&)> prepare;
    // Once the window exists, before it is shown.
    std::function<void(ui::Form1&, view::MainWindow&)> attach;
};

int runProgram(int argc, char** argv, const ProgramHooks& hooks = {});

}  // namespace qm::app
