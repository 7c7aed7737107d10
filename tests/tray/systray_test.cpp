// The notification-area icon with the real window, on the offscreen
// platform: which gestures open the menu, where it opens, what it offers,
// and "&Hide" where no notification area exists.
#include "tray/systray.h"

#include <QAction>
#include <QCursor>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include "../view/window_fixture.h"
#include "view/icon.h"

namespace qm::test {
namespace {

using tray::SysTray;

// A tray that reports a notification area, so that "&Hide" hides.
class ShownTray : public SysTray {
public:
    using SysTray::SysTray;
    bool available() override { return true; }
};

class SysTrayTest : public WindowTest {
protected:
    template <class T = SysTray>
    T& start() {
        auto* t = new T(view::app_icon());
        systray.reset(t);
        open(0, t);
        t->attach(window.get(), window->popupMenu(), [this] { form->SysTrayMouseEventHandler(); });
        return *t;
    }

    // Presses on the icon for reason; when a menu opens, records it and
    // lets pick choose from it (nullptr closes it).
    void press(QSystemTrayIcon::ActivationReason reason,
               const std::function<QAction*(QMenu&)>& pick = nullptr) {
        QTimer::singleShot(0, [this, pick] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu) return;
            opened.push_back(menu->pos());
            openedMenu = menu;
            QAction* a = pick ? pick(*menu) : nullptr;
            menu->close();
            if (a) a->trigger();
        });
        Q_EMIT systray->icon().activated(reason);
        QApplication::processEvents();
    }

    std::unique_ptr<SysTray> systray;
    std::vector<QPoint> opened;
    QMenu* openedMenu = nullptr;
};

TEST_F(SysTrayTest, OnlyTheRightButtonsPressOpensTheMenu) {
    auto& t = start();
    for (auto r : {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick,
                   QSystemTrayIcon::MiddleClick, QSystemTrayIcon::Unknown}) {
        EXPECT_FALSE(SysTray::opensMenu(r)) << r;
        press(r);
    }
    EXPECT_TRUE(opened.empty());
    press(QSystemTrayIcon::Context);
    EXPECT_EQ(opened.size(), 1u);
    EXPECT_EQ(openedMenu, window->popupMenu());
    // Opened by us, never attached to the icon.
    EXPECT_EQ(t.icon().contextMenu(), nullptr);
}

TEST_F(SysTrayTest, TheMenuOpensAtThePointerWithItsOneItem) {
    start();
    QCursor::setPos(300, 200);
    QStringList items;
    press(QSystemTrayIcon::Context, [&](QMenu& m) {
        for (QAction* a : m.actions()) items << a->text();
        return nullptr;
    });
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(items, QStringList({"Show Interface "}));
    // The menu is put at the pointer (moved only if the screen's edge is near).
    EXPECT_EQ(opened[0], QPoint(300, 200));
}

TEST_F(SysTrayTest, ShowInterfaceBringsAHiddenWindowBackAsItWas) {
    auto& t = start<ShownTray>();
    window->actionOf("CC")->trigger();
    form->Command3.clicked.emit();
    ASSERT_FALSE(window->isVisible());
    auto show = [](QMenu& m) { return m.actions().value(0); };
    press(QSystemTrayIcon::Context, show);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->actionOf("CC")->isChecked());
    // On a window that is shown it opens the same way and changes nothing.
    press(QSystemTrayIcon::Context, show);
    EXPECT_EQ(opened.size(), 2u);
    EXPECT_TRUE(window->isVisible());
    // A dismissed menu changes nothing either.
    form->Command3_Click();
    press(QSystemTrayIcon::Context);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(t.icon().toolTip(), "Quillmere v1.2");
}

TEST_F(SysTrayTest, TheIconIsTheWindowsIconWithTheTip) {
    auto& t = start();
    EXPECT_EQ(t.icon().toolTip(), "Quillmere v1.2");
    const QIcon icon = t.icon().icon();
    ASSERT_EQ(icon.availableSizes(), window->windowIcon().availableSizes());
    for (QSize s : {QSize(16, 16), QSize(32, 32)}) {
        EXPECT_TRUE(icon.availableSizes().contains(s));
        EXPECT_EQ(icon.pixmap(s).toImage(), window->windowIcon().pixmap(s).toImage());
    }
    // E&xit leaves the icon as it was.
    form->Exit_Click();
    EXPECT_EQ(t.icon().toolTip(), "Quillmere v1.2");
    EXPECT_FALSE(t.icon().icon().isNull());
}

TEST_F(SysTrayTest, WithoutANotificationAreaHideMinimisesAndSaysSoOnce) {
    auto& t = start();
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    EXPECT_FALSE(t.available());
    dialogs.boxes.clear();
    QTest::mouseClick(window->widgetOf("Command3"), Qt::LeftButton);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->isMinimized());
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(dialogs.boxes[0].title, "Information");
    EXPECT_NE(dialogs.boxes[0].text.find("minimised"), std::string::npos);
    // Restored by the user, it minimises again on the next "&Hide", silently.
    window->showNormal();
    QApplication::processEvents();
    EXPECT_FALSE(form->minimized());
    QTest::mouseClick(window->widgetOf("Command3"), Qt::LeftButton);
    EXPECT_TRUE(window->isMinimized());
    EXPECT_EQ(dialogs.boxes.size(), 1u);
    // "Show Interface " brings it back to normal.
    press(QSystemTrayIcon::Context, [](QMenu& m) { return m.actions().value(0); });
    EXPECT_FALSE(window->isMinimized());
    EXPECT_TRUE(window->isVisible());
}

}  // namespace
}  // namespace qm::test
