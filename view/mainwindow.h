// The Qt window that draws Form1 and feeds the user's actions into it.
#pragma once

#include <QMainWindow>
#include <QMenu>
#include <QTimer>
#include <map>
#include <string>

#include "ui/form1.h"

class QAction;

namespace qm::view {

class MainWindow : public QMainWindow {
public:
    explicit MainWindow(ui::Form1& form, QWidget* parent = nullptr);

    // Twips to pixels with the screen's logical DPI.
    int px(int twips) const;
    // The widget that draws a control (null for the never-shown file lists).
    QWidget* widgetOf(const std::string& control) const;
    QAction* actionOf(const std::string& menuItem) const;
    // The popup menu rcpopup, never on the menu bar.
    QMenu* popupMenu() { return &popup_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void buildMenus();
    void syncWindow();

    ui::Form1& form_;
    std::map<std::string, QWidget*> widgets_;
    std::map<std::string, QAction*> actions_;
    QMenu popup_;
    QTimer timer_;
    int dpi_ = 96;
};

}  // namespace qm::view
