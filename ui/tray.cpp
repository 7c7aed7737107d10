// Hiding and showing the window, and the notification-area icon as the
// window sees it.
#include "ui/form1.h"

namespace qm::ui {

void Form1::Command3_Click() { setVisible(false); }
void Form1::mShow_Click() { setVisible(true); }

void Form1::SysTraySetup() {
    if (services_.tray) (void)services_.tray->add("Quillmere v1.2");
}

void Form1::SysTrayMouseEventHandler() {
    if (services_.tray) services_.tray->popup();
}

}  // namespace qm::ui
