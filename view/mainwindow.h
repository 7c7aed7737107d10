// The Qt window that draws Form1 and feeds the user's actions into it.
#pragma once

#include <QMainWindow>
#include <QMenu>
#include <QTimer>
#include <map>
#include <string>

#include "ui/form1.h"
#include "ui/redraw.h"

class QAction;

namespace qm::view {

class MainWindow : public QMainWindow {
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
    void drawNow();
    const ui::Redraw& redraw() const { return redraw_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    // Alt and a letter that a button and a menu share goes to the button
    // the model says can be pressed, as the Windows program does.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildControls();
    void buildMenus();
    void syncWindow();
    void syncPointer();

    ui::Form1& form_;
    std::map<std::string, QWidget*> widgets_;
    std::map<std::string, QAction*> actions_;
    QMenu popup_;
    QTimer timer_;
    ui::Redraw redraw_;
    QTimer frameTimer_;
    ui::MousePointer pointer_ = ui::MousePointer::Default;
    int dpi_ = 96;
    // What syncWindow last applied, so that it acts on changes only and
    // leaves alone what the user did through the window manager.
    bool shownByModel_ = false;
    bool minimizedByModel_ = false;
};

}  // namespace qm::view
