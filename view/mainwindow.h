// The Qt window that draws Form1 and feeds the user's actions into it.
#pragma once

#include <QMainWindow>
#include <QMenu>
#include <QTimer>
#include <map>
#include <string>

#include "ui/form1.h"
#include "ui/redraw.h"
#include "ui/viewadapter.h"

class QAction;

namespace qm::view {

class MainWindow : public QMainWindow, private ui::ViewToolkit {
public:
    // dpi: the logical DPI that converts twips to pixels; 0 takes the
    // screen's.
    explicit MainWindow(ui::Form1& form, int dpi = 0, QWidget* parent = nullptr);

    // Twips to pixels.
    int px(int twips) const;
    int dpi() const { return dpi_; }
    // The widget that draws a control (null for the never-shown file lists).
    QWidget* widgetOf(const std::string& control) const;
    QAction* actionOf(const std::string& menuItem) const;
    // The popup menu rcpopup, never on the menu bar.
    QMenu* popupMenu() { return &popup_; }
    // Timer1 as it runs.
    const QTimer& timer() const { return timer_; }
    // Timer1's period in place of the model's, for tests that cannot wait
    // a minute for a tick; the tick itself is unchanged.
    void setTickInterval(int ms);

    // Draws what changed in the model since the last frame: afterwards the
    // window shows exactly the model. Changes are otherwise drawn at most
    // once a frame.
    void drawNow() { adapter_.drawNow(); }
    const ui::Redraw& redraw() const { return adapter_.redraw(); }

protected:
    void closeEvent(QCloseEvent* event) override;
    // Alt and a letter that a button and a menu share goes to the button
    // the model says can be pressed, as the Windows program does.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    class Widgets;

    // ui::ViewToolkit
    void drawState(ui::Control& c) override;
    void drawPointer(ui::MousePointer p) override;
    void hideWindow() override { hide(); }
    void showWindow(bool minimized) override;
    void minimizeWindow() override { showMinimized(); }
    void restoreWindow() override;
    void endWindow() override { close(); }
    void startFrameTimer(int ms) override { frameTimer_.start(ms); }
    void stopFrameTimer() override { frameTimer_.stop(); }
    void startTicks(int ms) override { timer_.start(tickInterval_ > 0 ? tickInterval_ : ms); }
    void stopTicks() override { timer_.stop(); }

    // Puts a control's widget in its place and in the tab order.
    void place(ui::Control& c, QWidget* w, bool frame = false);
    QWidget* host(const ui::Control& c) const { return containers_.at(c.container()); }

    ui::Form1& form_;
    std::map<std::string, QWidget*> widgets_;
    std::map<std::string, QWidget*> containers_;
    QWidget* lastInTabOrder_ = nullptr;
    std::map<std::string, QAction*> actions_;
    std::map<std::string, QMenu*> menus_;
    QMenu popup_;
    QTimer timer_;
    int tickInterval_ = 0;
    QTimer frameTimer_;
    int dpi_ = 96;
    ui::ViewAdapter adapter_{form_, *this};
};

}  // namespace qm::view
