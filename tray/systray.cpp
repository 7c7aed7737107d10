#include "tray/systray.h"

#include <QCursor>
#include <QMenu>
#include <QWidget>

namespace qm::tray {

SysTray::SysTray(QWidget* window, QMenu* menu, QIcon icon, std::function<void()> onRightPress)
    : window_(window), menu_(menu), icon_(std::move(icon)), onRightPress_(std::move(onRightPress)) {
    connect(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (opensMenu(r) && onRightPress_) onRightPress_();
    });
    // A notification area that appears later gets the icon then.
    watch_.setInterval(2000);
    connect(&watch_, &QTimer::timeout, this, [this] { showWhenAvailable(); });
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
    return icon_.isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

void SysTray::popup() {
    ++popups_;
    if (window_) {
        window_->raise();
        window_->activateWindow();
    }
    if (menu_) menu_->exec(QCursor::pos());
}

}  // namespace qm::tray
