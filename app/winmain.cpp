// Starts the Windows program: the window is loaded (Form_Load) and shown
// when the load has returned; from then on the timer and the user drive it.
// clang-format off
#include <windows.h>  // before every other Windows header
// clang-format on

#include <commctrl.h>

#include "ui/form1.h"
#include "win32/services.h"
#include "win32/tray.h"
#include "win32/window.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    INITCOMMONCONTROLSEX icc{sizeof icc,
                             ICC_STANDARD_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&icc);

    qm::win32::Dialogs dialogs;
    qm::win32::Pump pump;
    qm::win32::Application application;
    qm::win32::NotifyIcon tray;

    qm::ui::Services services;
    services.dialogs = &dialogs;
    services.pump = &pump;
    services.tray = &tray;
    services.app = &application;

    qm::ui::Form1 form(services);
    qm::win32::MainWindow window(form, instance);
    dialogs.setOwner(window.hwnd());
    dialogs.setWindow(&window);
    pump.setWindow(&window);
    window.setTray(&tray);
    tray.attach(window.hwnd(), window.icon(true), window.popupMenu(),
                [&window](UINT id) { window.menuCommand(id); });

    form.Form_Load();
    // A start-up box runs a message loop, so the program may already be over.
    if (form.ended()) return 0;
    // Shown with what the load put into the controls.
    window.drawNow();
    form.setVisible(true);
    return window.run();
}
