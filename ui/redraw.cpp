#include "ui/redraw.h"

#include <algorithm>

namespace qm::ui {

void Redraw::follow(Signal& changed, std::function<void()> draw) {
    const std::size_t i = parts_.size();
    parts_.push_back({std::move(draw), false});
    changed.connect([this, i] { touch(i); });
}

void Redraw::touch(std::size_t i) {
    if (i >= parts_.size() || parts_[i].dirty) return;
    parts_[i].dirty = true;
    dirty_.push_back(i);
    // A part changed while a frame draws is drawn by that frame if its turn
    // is still to come, else by the next one.
    if (armed_ || drawing_ || held_) return;
    armed_ = true;
    // The first change after a quiet spell is drawn at once; a stream of
    // changes at most once a frame.
    const auto since = now() - last_;
    const auto wait = since >= frame_ ? Clock::duration::zero() : frame_ - since;
    if (schedule)
        schedule(static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(wait).count()));
}

void Redraw::frame() {
    if (drawing_) return;
    armed_ = false;
    if (held_) return;
    last_ = now();
    if (dirty_.empty()) return;
    drawing_ = true;
    ++frames_;
    std::vector<std::size_t> due;
    due.swap(dirty_);
    std::sort(due.begin(), due.end());
    for (std::size_t i : due) {
        parts_[i].dirty = false;
        ++draws_;
        parts_[i].draw();
    }
    drawing_ = false;
    // A part changed again by a drawer waits for the next frame.
    if (!dirty_.empty() && schedule) {
        armed_ = true;
        schedule(static_cast<int>(frame_.count()));
    }
}

void Redraw::hold(bool on) {
    held_ = on;
    if (on || armed_ || dirty_.empty()) return;
    armed_ = true;
    if (schedule) schedule(0);
}

}  // namespace qm::ui
