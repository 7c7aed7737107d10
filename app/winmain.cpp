// Starts the Windows program: the window is loaded (Form_Load) and shown
// when the load has returned; from then on the timer and the user drive it.
// A second start from the same folder shows the first one's window and ends.
// clang-format off
#include <windows.h>  // before every other Windows header
// clang-format on

#include <commctrl.h>

#include "ui/form1.h"
#include "ui/instance.h"
#include "win32/instance.h"
#include "win32/services.h"
#include "win32/tray.h"
#include "win32/window.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    INITCOMMONCONTROLSEX icc{sizeof icc,
                             ICC_STANDARD_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&icc);

    // Before anything reads or repairs BATCH.INI.
    auto dir = qm::os::current().program_dir();
    const std::string programDir = dir ? *dir : std::string(".");
    const std::string key = qm::ui::instanceKey(programDir);
    const auto claim =
        qm::ui::claimInstance(programDir, [&key] { return qm::win32::wakeInstance(key); });
    if (claim.start == qm::ui::Start::woken) return 0;
    if (claim.start == qm::ui::Start::unreached) {
        qm::win32::Dialogs().notice(
            "Information",
            "Quillmere is already running from this folder, but its window does not answer.");
        return 1;
    }

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

    // Another start from this folder: the window comes back as "Show
    // Interface" brings it, in front. While the load's box is open, the box.
    bool loaded = false;
    qm::win32::InstanceWindow others(key, instance, [&] {
        if (loaded && !form.ended()) {
            form.mShow_Click();
            window.drawNow();
            if (::IsIconic(window.hwnd())) ::ShowWindow(window.hwnd(), SW_RESTORE);
        }
        // The box that is open over the window, or the window itself.
        HWND front = ::GetLastActivePopup(window.hwnd());
        if (front && ::IsWindowVisible(front)) ::SetForegroundWindow(front);
    });

    form.Form_Load();
    // A start-up box runs a message loop, so the program may already be over.
    if (form.ended()) return 0;
    // Shown with what the load put into the controls.
    window.drawNow();
    form.setVisible(true);
    loaded = true;
    return window.run();
}
