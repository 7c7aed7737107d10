// Drawing at a human rate. The model may change thousands of times a second
// during a run; a view draws each changed part at most once a frame, from
// the model's state at that moment, so what it shows after a frame equals
// the model. No toolkit here: each view supplies the timer that calls
// frame() when asked to.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <vector>

#include "ui/controls.h"

namespace qm::ui {

class Redraw {
public:
    using Clock = std::chrono::steady_clock;
    // 50 ms: 20 frames a second, as often as a person reads a number or
    // a path; each frame costs the thread that runs the batch its time.
    static constexpr std::chrono::milliseconds kFrame{50};

    explicit Redraw(std::chrono::milliseconds frame = kFrame) : frame_(frame) {}
    Redraw(const Redraw&) = delete;
    Redraw& operator=(const Redraw&) = delete;

    // Draws a part: draw reads the model and updates what shows it. It runs
    // at the next frame after changed is raised, once however often that was.
    void follow(Signal& changed, std::function<void()> draw);
    // Marks a part drawn by follow() as changed; for a view that knows its
    // widget went out of step (the user moved it where the model refused).
    void touch(std::size_t part);
    std::size_t parts() const { return parts_.size(); }

    // Called with a delay in milliseconds when a frame becomes due; the view
    // calls frame() once that delay has passed. Asked once per frame.
    std::function<void(int)> schedule;
    // Draws every part changed since the last frame, in the order followed.
    void frame();
    // While held (its window hidden, say) changes are kept and nothing is
    // drawn; the end of the hold asks for a frame that draws them all.
    void hold(bool on);
    // Something changed that is not drawn yet.
    bool pending() const { return !dirty_.empty(); }
    // Frames drawn so far, and parts drawn in them.
    long frames() const { return frames_; }
    long draws() const { return draws_; }

    // The clock, replaceable for tests.
    std::function<Clock::time_point()> now = [] { return Clock::now(); };

private:
    struct Part {
        std::function<void()> draw;
        bool dirty = false;
    };
    std::chrono::milliseconds frame_;
    std::vector<Part> parts_;
    std::vector<std::size_t> dirty_;
    bool armed_ = false;
    bool drawing_ = false;
    bool held_ = false;
    Clock::time_point last_{};
    long frames_ = 0;
    long draws_ = 0;
};

}  // namespace qm::ui
