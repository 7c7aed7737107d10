// The toolkit side of the notification-area icon, without a display.
#include "tray/systray.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>

#include "view/icon.h"

namespace {

using qm::tray::SysTray;

QApplication& app() {
    static int argc = 1;
    static char name[] = "tray_tests";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication a(argc, argv);
    return a;
}

TEST(SysTray, OnlyTheRightButtonsPressOpensTheMenu) {
    EXPECT_TRUE(SysTray::opensMenu(QSystemTrayIcon::Context));
    for (auto r : {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick, QSystemTrayIcon::MiddleClick,
                   QSystemTrayIcon::Unknown})
        EXPECT_FALSE(SysTray::opensMenu(r)) << r;
}

TEST(SysTray, ActivationsReachTheHandlerOnlyForTheContextReason) {
    app();
    QMenu menu;
    int presses = 0;
    SysTray tray(nullptr, &menu, qm::view::app_icon(), [&] { ++presses; });
    for (auto r : {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick, QSystemTrayIcon::MiddleClick})
        Q_EMIT tray.icon().activated(r);
    EXPECT_EQ(presses, 0);
    Q_EMIT tray.icon().activated(QSystemTrayIcon::Context);
    EXPECT_EQ(presses, 1);
    // The menu is opened by us, never attached to the icon.
    EXPECT_EQ(tray.icon().contextMenu(), nullptr);
}

TEST(SysTray, TheTipIsSetAndTheIconIsTheWindowsIcon) {
    app();
    QMenu menu;
    SysTray tray(nullptr, &menu, qm::view::app_icon(), nullptr);
    (void)tray.add("Quillmere v1.2");
    EXPECT_EQ(tray.icon().toolTip(), QString("Quillmere v1.2"));
    EXPECT_FALSE(tray.icon().icon().isNull());
    EXPECT_EQ(tray.icon().icon().availableSizes().size(), 2);
    // Without a notification area the icon is not shown and says so.
    EXPECT_FALSE(tray.available());
}

}  // namespace
