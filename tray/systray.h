// The notification-area icon, with the toolkit's tray facility.
#pragma once

#include <QIcon>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>
#include <functional>

#include "ui/services.h"

class QMenu;
class QWidget;

namespace qm::tray {

class SysTray : public QObject, public ui::Tray {
public:
    explicit SysTray(const QIcon& icon);

    // window is brought to the foreground before the menu opens; menu is
    // rcpopup; onRightPress runs for a press of the right button on the
    // icon (Form1's SysTrayMouseEventHandler).
    void attach(QWidget* window, QMenu* menu, std::function<void()> onRightPress);

    bool add(const std::string& tip) override;
    bool available() override;
    void popup() override;
    void setTip(const std::string& tip) override;
    void notify(const std::string& title, const std::string& text) override;
    void remove() override;

    // Only the right button's press opens the menu; every other gesture on
    // the icon does nothing.
    static bool opensMenu(QSystemTrayIcon::ActivationReason reason) {
        return reason == QSystemTrayIcon::Context;
    }
    QSystemTrayIcon& icon() { return icon_; }

private:
    void showWhenAvailable();

    QWidget* window_ = nullptr;
    QMenu* menu_ = nullptr;
    QSystemTrayIcon icon_;
    QTimer watch_;
    std::function<void()> onRightPress_;
    bool added_ = false;
};

}  // namespace qm::tray
