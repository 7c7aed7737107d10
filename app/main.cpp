// Starts the program: the window is loaded (Form_Load) and shown when the
// load has returned; from then on the timer and the user drive it.
#include <QApplication>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "app/benchaid.h"
#include "tray/systray.h"
#include "ui/form1.h"
#include "view/application.h"
#include "view/icon.h"
#include "view/mainwindow.h"
#include "view/services.h"

int main(int argc, char** argv) {
#ifdef __GLIBC__
    // A run's large buffers (the listing of a big directory) go back to
    // the system when freed, rather than the heap growing to hold them.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
    qm::app::BenchAid bench;
    QApplication app(argc, argv);
    qm::view::prepare(app);

    qm::view::QtDialogs dialogs;
    qm::view::QtPump pump;
    qm::view::QtApplication application;
    qm::tray::SysTray tray(qm::view::app_icon());

    qm::ui::Services services;
    services.dialogs = &dialogs;
    services.pump = &pump;
    services.tray = &tray;
    services.app = &application;
    bench.prepare(services);

    qm::ui::Form1 form(services);
    qm::view::MainWindow window(form);
    dialogs.setParent(&window);
    bench.attach(form, window);
    tray.attach(&window, window.popupMenu(), [&form] { form.SysTrayMouseEventHandler(); });

    form.Form_Load();
    // A start-up box runs the event loop, so the program may already be over.
    if (form.ended()) return 0;
    form.setVisible(true);
    return app.exec();
}
