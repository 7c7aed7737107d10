#include "ui/viewadapter.h"

#include <utility>

namespace qm::ui {

ViewAdapter::ViewAdapter(Form1& form, ViewToolkit& toolkit) : form_(form), toolkit_(toolkit) {
    redraw_.schedule = [this](int ms) { toolkit_.startFrameTimer(ms); };
}

void ViewAdapter::follow(const void* key, Signal& changed, std::function<void()> draw) {
    parts_[key] = redraw_.parts();
    draw();
    redraw_.follow(changed, std::move(draw));
}

void ViewAdapter::makeMenus(WidgetMaker& maker) {
    for (MenuItem* m : form_.menuItems())
        if (WidgetMaker::Draw draw = maker.make(*m)) follow(m, m->changed, std::move(draw));
}

void ViewAdapter::makeControls(WidgetMaker& widgets) {
    for (Control* c : form_.controls()) {
        auto made = c->makeWidget(widgets);
        if (!made) continue;
        follow(c, c->changed, [this, c, content = std::move(*made)] {
            toolkit_.drawState(*c);
            if (content) content();
        });
    }
}

void ViewAdapter::start() {
    // Timer1: a fresh period whenever the model switches it on.
    auto ticks = [this] {
        if (form_.Timer1.enabled())
            toolkit_.startTicks(form_.Timer1.interval());
        else
            toolkit_.stopTicks();
    };
    ticks();
    form_.Timer1.changed.connect(ticks);
    form_.changed.connect([this] { drawWindow(); });
    drawWindow();
    // A run turns the hourglass on and off for every directory it reads;
    // the pointer follows at the frame rate like the controls.
    drawPointer();
    redraw_.follow(form_.changed, [this] { drawPointer(); });
}

void ViewAdapter::drawNow() {
    toolkit_.stopFrameTimer();
    redraw_.frame();
}

void ViewAdapter::touch(const void* key) {
    auto it = parts_.find(key);
    if (it != parts_.end()) redraw_.touch(it->second);
}

void ViewAdapter::press(Button& b) {
    // What the user sees may lag the model by a frame: a button the model
    // has just disabled does nothing.
    if (takes(b)) b.clicked.emit();
    drawNow();
}

void ViewAdapter::toggle(CheckBox& k, bool on) {
    if (takes(k)) k.setValue(on ? 1 : 0);
    touch(k);  // a box the model has just disabled springs back
    drawNow();
}

void ViewAdapter::select(ListBox& l, int row) {
    if (takes(l)) l.setListIndex(row);
    touch(l);
    drawNow();
}

void ViewAdapter::release(Slider& s, int value) {
    if (takes(s)) s.setValue(value);
    touch(s);  // the model may put it elsewhere
    drawNow();
}

void ViewAdapter::choose(DriveList& d, int index) {
    if (takes(d) && index >= 0 && static_cast<std::size_t>(index) < d.drives().size())
        d.setDrive(d.drives()[static_cast<std::size_t>(index)]);
    touch(d);  // the model may stay on, or spring back to, another drive
    drawNow();
}

void ViewAdapter::dropDown(DriveList& d) {
    d.refreshDrives();
    drawNow();
}

void ViewAdapter::open(DirectoryList& l, const std::string& path) {
    // A directory that cannot be opened leaves the list where it was.
    if (takes(l)) (void)l.setPath(path);
    touch(l);
    drawNow();
}

void ViewAdapter::choose(MenuItem& m) {
    // Disabled by the model since the menu was last drawn: not the user's
    // to choose.
    if (m.enabled()) m.clicked.emit();
    touch(static_cast<const void*>(&m));  // the model decides the mark
    drawNow();
}

void ViewAdapter::tick() {
    form_.Timer1_Timer();
    // A tick may run the batch; the window shows its outcome when it ends.
    // A tick that comes while a run yields leaves the drawing to the frames.
    if (!form_.running()) drawNow();
}

void ViewAdapter::restored() {
    if (!minimizedByModel_) return;
    minimizedByModel_ = false;
    form_.setMinimized(false);
    drawNow();
}

void ViewAdapter::close() {
    if (!form_.ended()) form_.Form_Unload();
    if (!form_.ended()) drawNow();
}

void ViewAdapter::drawPointer() {
    if (form_.ended() || form_.mousePointer() == pointer_) return;
    pointer_ = form_.mousePointer();
    toolkit_.drawPointer(pointer_);
}

void ViewAdapter::drawWindow() {
    if (form_.ended()) {
        toolkit_.endWindow();
        return;
    }
    if (form_.minimized() != minimizedByModel_) {
        minimizedByModel_ = form_.minimized();
        if (minimizedByModel_)
            toolkit_.minimizeWindow();
        else
            toolkit_.restoreWindow();
    }
    if (form_.visible() == shownByModel_) return;
    shownByModel_ = form_.visible();
    // Hidden (in the notification area, mostly) it draws nothing, and shows
    // what the model holds once it is shown again.
    if (!shownByModel_) {
        toolkit_.hideWindow();
        redraw_.hold(true);
        return;
    }
    redraw_.hold(false);
    drawNow();
    toolkit_.showWindow(minimizedByModel_);
}

}  // namespace qm::ui
