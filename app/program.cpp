#include "app/program.h"

#include <QApplication>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "tray/systray.h"
#include "ui/form1.h"
#include "ui/instance.h"
#include "view/application.h"
#include "view/icon.h"
#include "view/instance.h"
#include "view/mainwindow.h"
#include "view/services.h"

namespace qm::app {

int runProgram(int argc, char** argv, const ProgramHooks& hooks) {
#ifdef __GLIBC__
    // A run's large buffers (the listing of a big directory) go back to
    // the system when freed, rather than the heap growing to hold them.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
    QApplication app(argc, argv);
    qm::view::prepare(app);

    // Before anything reads or repairs BATCH.INI.
    auto dir = qm::os::current().program_dir();
    const std::string programDir = dir ? *dir : std::string(".");
    const std::string key = qm::ui::instanceKey(programDir);
    const auto claim =
        qm::ui::claimInstance(programDir, [&key] { return qm::view::wakeInstance(key); });
    if (claim.start == qm::ui::Start::woken) return 0;
    if (claim.start == qm::ui::Start::unreached) {
        qm::view::QtDialogs().notice(
            "Information",
            "Quillmere is already running from this folder, but its window does not answer.");
        return 1;
    }

    qm::view::QtDialogs dialogs;
    qm::view::QtPump pump;
    qm::view::QtApplication application;
    qm::tray::SysTray tray(qm::view::app_icon());

    qm::ui::Services services;
    services.dialogs = &dialogs;
    services.pump = &pump;
    services.tray = &tray;
    services.app = &application;
    if (hooks.prepare) hooks.prepare(services);

    qm::ui::Form1 form(services);
    qm::view::MainWindow window(form);
    dialogs.setParent(&window);
    if (hooks.attach) hooks.attach(form, window);
    tray.attach(&window, window.popupMenu(), [&form] { form.SysTrayMouseEventHandler(); });

    // Another start from this folder: the window comes back as "Show
    // Interface" brings it, in front. While the load's box is open, the box.
    bool loaded = false;
    qm::view::InstanceServer others(key, [&] {
        if (loaded && !form.ended()) {
            form.mShow_Click();
            if (window.isMinimized()) window.showNormal();
            window.raise();
            window.activateWindow();
        }
        if (QWidget* box = QApplication::activeModalWidget()) {
            box->raise();
            box->activateWindow();
        }
    });

    form.Form_Load();
    // A start-up box runs the event loop, so the program may already be over.
    if (form.ended()) return 0;
    form.setVisible(true);
    loaded = true;
    return app.exec();
}

}  // namespace qm::app
