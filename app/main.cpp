// Starts the program: the window is loaded (Form_Load) and shown when the
// load has returned; from then on the timer and the user drive it.
#include <QApplication>
#include <QFont>

#include "tray/systray.h"
#include "ui/form1.h"
#include "view/icon.h"
#include "view/mainwindow.h"
#include "view/services.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    // The layout is fixed in twips for an 8-point font; a larger one would
    // cut captions off.
    QFont font = app.font();
    font.setPointSize(8);
    app.setFont(font);

    qm::view::QtDialogs dialogs;
    qm::view::QtPump pump;
    qm::view::QtApplication application;

    // The tray needs the window and the window needs the services: the
    // tray is made once the window exists, through this forwarder.
    struct LateTray : qm::ui::Tray {
        qm::ui::Tray* real = nullptr;
        bool add(const std::string& tip) override { return real && real->add(tip); }
        bool available() override { return real && real->available(); }
        void popup() override {
            if (real) real->popup();
        }
    } tray;

    qm::ui::Services services;
    services.dialogs = &dialogs;
    services.pump = &pump;
    services.tray = &tray;
    services.app = &application;

    qm::ui::Form1 form(services);
    qm::view::MainWindow window(form);
    dialogs.setParent(&window);
    qm::tray::SysTray systray(&window, window.popupMenu(), qm::view::app_icon(),
                              [&form] { form.SysTrayMouseEventHandler(); });
    tray.real = &systray;
    systray.icon().setIcon(qm::view::app_icon());

    form.Form_Load();
    if (form.ended()) return 0;
    form.mShow_Click();
    return app.exec();
}
