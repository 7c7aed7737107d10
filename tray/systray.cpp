#include "tray/systray.h"

#include <QCursor>
#include <QMenu>
#include <QWidget>

namespace qm::tray {

SysTray::SysTray(const QIcon& icon) : icon_(icon) {
    // The menu is opened here, never attached with setContextMenu: some
    // platforms would then open it for other gestures too.
    connect(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (opensMenu(r) && onRightPress_) onRightPress_();
    });
    // Shown while no notification area exists, the icon would never reach
    // one that appears later; it is shown once there is one.
    watch_.setInterval(2000);
    connect(&watch_, &QTimer::timeout, this, [this] { showWhenAvailable(); });
}

void SysTray::attach(QWidget* window, QMenu* menu, std::function<void()> onRightPress) {
    window_ = window;
    menu_ = menu;
    onRightPress_ = std::move(onRightPress);
}

bool SysTray::add(const std::string& tip) {
    icon_.setToolTip(QString::fromStdString(tip));
    added_ = true;
    showWhenAvailable();
    if (!icon_.isVisible()) watch_.start();
    return icon_.isVisible();
}

void SysTray::showWhenAvailable() {
    if (!added_ || icon_.isVisible()) return;
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        icon_.show();
        if (icon_.isVisible()) watch_.stop();
    }
}

bool SysTray::available() {
    showWhenAvailable();
    // Once shown, the toolkit moves the icon into a notification area that
    // is replaced; while there is none, it is nowhere.
    return icon_.isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

void SysTray::setTip(const std::string& tip) {
    icon_.setToolTip(QString::fromStdString(tip));
}

void SysTray::notify(const std::string& title, const std::string& text) {
    // Long enough to be read by someone who comes back to the screen.
    icon_.showMessage(QString::fromStdString(title), QString::fromStdString(text),
                      QSystemTrayIcon::Warning, 30000);
}

void SysTray::remove() {
    added_ = false;
    watch_.stop();
    icon_.hide();
}

void SysTray::popup() {
    if (window_) {
        window_->raise();
        window_->activateWindow();
    }
    if (menu_) menu_->exec(QCursor::pos());
}

}  // namespace qm::tray
