// The notification-area icon, with the toolkit's tray facility.
#pragma once

#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>
#include <functional>

#include "ui/form1.h"

class QMenu;
class QWidget;

namespace qm::tray {

class SysTray : public QObject, public ui::Tray {
public:
    // window is brought to the foreground before the menu opens; menu is
    // rcpopup; onRightPress is called for a press of the right button.
    SysTray(QWidget* window, QMenu* menu, QIcon icon, std::function<void()> onRightPress);

    bool add(const std::string& tip) override;
    bool available() override;
    void popup() override;

    // Only the right button's press opens the menu; every other gesture on
    // the icon does nothing.
    static bool opensMenu(QSystemTrayIcon::ActivationReason reason) {
        return reason == QSystemTrayIcon::Context;
    }
    QSystemTrayIcon& icon() { return icon_; }
    int popups() const { return popups_; }

private:
    void showWhenAvailable();

    QWidget* window_;
    QMenu* menu_;
    QSystemTrayIcon icon_;
    QTimer watch_;
    std::function<void()> onRightPress_;
    bool added_ = false;
    int popups_ = 0;
};

}  // namespace qm::tray
