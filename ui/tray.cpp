// Hiding and showing the window, and the notification-area icon as the
// window sees it.
#include "qm_version.h"
#include "ui/form1.h"

namespace qm::ui {

void Form1::Command3_Click() {
    if (services_.tray && services_.tray->available()) {
        setVisible(false);
        return;
    }
    // Hidden without an icon, the window could never be brought back. The
    // word comes first: a box over a minimised window may go down with it.
    if (!toldNoTray_) {
        toldNoTray_ = true;
        notice("Information",
               "No notification area is available, so the window cannot be hidden.\r\n"
               "It will be minimised instead.");
    }
    setMinimized(true);
}

void Form1::mShow_Click() {
    setMinimized(false);
    setVisible(true);
}

void Form1::SysTraySetup() {
    if (services_.tray) (void)services_.tray->add("Quillmere v" QM_VERSION_STRING);
}

void Form1::SysTrayMouseEventHandler() {
    if (services_.tray) services_.tray->popup();
}

}  // namespace qm::ui
