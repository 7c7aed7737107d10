// What every view of Form1 does, whatever toolkit draws it: which controls
// changed and when they are drawn (at the human rate, at once after the
// user's action, not at all while the window is hidden), what becomes of
// the user's input on a control the model has disabled since it was drawn,
// Timer1's periods, and the window's shown, minimised and ended states. A
// view keeps only its toolkit: it makes and draws the widgets, and turns
// the toolkit's events into the adapter's calls.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>

#include "ui/controls.h"
#include "ui/form1.h"
#include "ui/redraw.h"

namespace qm::ui {

// A view's toolkit as the adapter uses it.
class ViewToolkit {
public:
    // Draws a control's enabled and visible state on its widget.
    virtual void drawState(Control&) = 0;

    // The window as the model holds it.
    virtual void drawPointer(MousePointer) = 0;
    virtual void hideWindow() = 0;
    virtual void showWindow(bool minimized) = 0;
    virtual void minimizeWindow() = 0;
    // Back from minimised, when it is.
    virtual void restoreWindow() = 0;
    // The model has ended: the window goes.
    virtual void endWindow() = 0;

    // The one-shot timer of the next frame: frameDue() after ms.
    virtual void startFrameTimer(int ms) = 0;
    virtual void stopFrameTimer() = 0;
    // Timer1: tick() at the end of each period of ms, counted from now; or
    // no more ticks.
    virtual void startTicks(int ms) = 0;
    virtual void stopTicks() = 0;

protected:
    ~ViewToolkit() = default;
};

class ViewAdapter {
public:
    ViewAdapter(Form1& form, ViewToolkit& toolkit);
    ViewAdapter(const ViewAdapter&) = delete;
    ViewAdapter& operator=(const ViewAdapter&) = delete;

    // Makes the menus' items, then the controls, each drawn as the model
    // holds it; called once each, with the window there to hold them.
    void makeMenus(WidgetMaker& maker);
    void makeControls(WidgetMaker& maker);
    // Follows the model's window, pointer and Timer1 from now on.
    void start();

    // Draws what changed at once, so that the window shows the model.
    void drawNow();
    // The frame timer has fired.
    void frameDue() { drawNow(); }
    // Marks a control's widget as out of step with the model (the toolkit
    // changed it by itself), so that the next frame draws it again.
    void touch(const Control& c) { touch(static_cast<const void*>(&c)); }
    Redraw& redraw() { return redraw_; }
    const Redraw& redraw() const { return redraw_; }

    // The user's actions, each drawn at once. On a control the model has
    // disabled or hidden since it was last drawn they do nothing, and the
    // widget is drawn back to what the model holds.
    void press(Button& b);
    void toggle(CheckBox& k, bool on);
    void select(ListBox& l, int row);
    // The slider let go (a drag counts once, at its end) at value.
    void release(Slider& s, int value);
    // The drive at index among the drives the list holds.
    void choose(DriveList& d, int index);
    // The list opens: the drives are read again, so that a volume added
    // since can be chosen.
    void dropDown(DriveList& d);
    void open(DirectoryList& l, const std::string& path);
    void choose(MenuItem& m);
    // Timer1's period has ended.
    void tick();
    // The user restored the window that the model had minimised.
    void restored();
    // The user closes the window: the program ends.
    void close();

private:
    bool takes(const Control& c) const { return c.enabled() && c.visible(); }
    void follow(const void* key, Signal& changed, std::function<void()> draw);
    void touch(const void* key);
    void drawWindow();
    void drawPointer();

    Form1& form_;
    ViewToolkit& toolkit_;
    Redraw redraw_;
    // The part of redraw_ that draws each control and menu item.
    std::map<const void*, std::size_t> parts_;
    // What drawWindow and drawPointer last applied, so that they act on
    // changes only and leave alone what the user did to the window.
    MousePointer pointer_ = MousePointer::Default;
    bool shownByModel_ = false;
    bool minimizedByModel_ = false;
};

}  // namespace qm::ui
