// The Qt window that draws Form1: layout in pixels, captions and menus, and
// each kind of control passing the user's actions to the model.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTest>

#include "view/window_fixture.h"

namespace qm::test {
namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

QStringList texts(const QList<QAction*>& actions) {
    QStringList out;
    for (QAction* a : actions) out << a->text();
    return out;
}

QStringList rows(QListWidget* w) {
    QStringList out;
    for (int i = 0; i < w->count(); ++i) out << w->item(i)->text();
    return out;
}

QPoint centre(QListWidget* w, int row) {
    return w->visualItemRect(w->item(row)).center();
}

class LayoutTest : public WindowTest, public ::testing::WithParamInterface<int> {};

TEST_P(LayoutTest, EveryControlSitsWhereItsTwipsPutItInItsContainer) {
    const int dpi = GetParam();
    auto& w = open(dpi);
    auto px = [dpi](int twips) { return (twips * dpi + 720) / 1440; };
    EXPECT_EQ(w.dpi(), dpi);
    EXPECT_EQ(w.centralWidget()->size(), QSize(px(11595), px(6660)));
    // Fixed: the window cannot be resized.
    EXPECT_EQ(w.minimumSize(), w.maximumSize());
    EXPECT_EQ(w.height(), w.menuBar()->height() + px(6660));

    int placed = 0;
    for (ui::Control* c : form->controls()) {
        QWidget* widget = w.widgetOf(c->name());
        if (c->name() == "Brondir" || c->name() == "Doeldir") {
            EXPECT_EQ(widget, nullptr) << c->name();
            continue;
        }
        ASSERT_NE(widget, nullptr) << c->name();
        const auto& g = c->geometry();
        EXPECT_EQ(widget->geometry(), QRect(px(g.left), px(g.top), px(g.width), px(g.height)))
            << c->name();
        QWidget* container =
            c->container() == "Form1" ? w.centralWidget() : w.widgetOf(c->container());
        EXPECT_EQ(widget->parentWidget(), container) << c->name();
        ++placed;
    }
    EXPECT_EQ(placed, 22);
}

INSTANTIATE_TEST_SUITE_P(Dpi, LayoutTest, ::testing::Values(96, 120, 144));

TEST_F(WindowTest, TheScreensLogicalDpiConvertsTwips) {
    auto& w = open();
    const int dpi = static_cast<int>(w.screen()->logicalDotsPerInchY() + 0.5);
    EXPECT_EQ(w.dpi(), dpi);
    EXPECT_EQ(w.centralWidget()->width(), (11595 * dpi + 720) / 1440);
}

TEST_F(WindowTest, CaptionsAndTheTabOrderAreTheWindowsOwn) {
    auto& w = open();
    EXPECT_EQ(w.windowTitle(), "Quillmere");
    EXPECT_FALSE(w.windowIcon().isNull());
    EXPECT_EQ(widget<QGroupBox>("Frame1")->title(), "Sourceproperties");
    EXPECT_EQ(widget<QGroupBox>("Frame2")->title(), "Targetproperties");
    EXPECT_EQ(widget<QGroupBox>("Frame3")->title(), "Batch");
    EXPECT_EQ(widget<QPushButton>("Command1")->text(), "&Source");
    EXPECT_EQ(widget<QPushButton>("Command2")->text(), "&Target");
    EXPECT_EQ(widget<QPushButton>("Command4")->text(), "&OK");
    EXPECT_EQ(widget<QPushButton>("Command5")->text(), "&OK");
    EXPECT_EQ(widget<QPushButton>("Command7")->text(), "&Remove from batch");
    EXPECT_EQ(widget<QPushButton>("Command3")->text(), "&Hide");
    EXPECT_EQ(widget<QCheckBox>("Check2")->text(), "Write to syncfile.log");
    EXPECT_EQ(widget<QLabel>("Label1")->text(),
              "Interval in minutes 1-60 /Next update approx.  60 minutes from now...");
    EXPECT_TRUE(widget<QPlainTextEdit>("Text1")->toPlainText().isEmpty());
    EXPECT_EQ(widget<QPlainTextEdit>("Text2")->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    auto* slider = widget<QSlider>("Slider1");
    EXPECT_EQ(slider->orientation(), Qt::Horizontal);
    EXPECT_EQ(slider->minimum(), 0);
    EXPECT_EQ(slider->maximum(), 60);
    EXPECT_EQ(slider->value(), 60);

    // Tab moves through the controls in the window's order.
    QWidget* c1 = w.widgetOf("Command1");
    EXPECT_EQ(c1->nextInFocusChain(), w.widgetOf("BronDrive"));
    EXPECT_EQ(w.widgetOf("Text4")->nextInFocusChain(), w.widgetOf("Command3"));
}

TEST_F(WindowTest, AFreshStartShowsTheDesignedStates) {
    open();
    for (const char* n :
         {"Command4", "Command5", "Command7", "BronDrive", "BronTree", "Doeldrive", "Doeltree"})
        EXPECT_FALSE(window->widgetOf(n)->isEnabled()) << n;
    for (const char* n : {"Command1", "Command2", "Command3", "Check2", "List1", "Slider1"})
        EXPECT_TRUE(window->widgetOf(n)->isEnabled()) << n;
    EXPECT_FALSE(widget<QProgressBar>("ProgressBar1")->isVisible());
    EXPECT_TRUE(widget<QListWidget>("List1")->isVisible());
    EXPECT_FALSE(widget<QCheckBox>("Check2")->isChecked());
    // The first start's placeholder in the path fields, the pickers and the list.
    EXPECT_EQ(dialogs.count("First time"), 1);
    EXPECT_EQ(widget<QLineEdit>("Text3")->text(), "/");
    EXPECT_EQ(widget<QLineEdit>("Text4")->text(), "/");
    EXPECT_EQ(widget<QComboBox>("BronDrive")->currentText(), "/");
    EXPECT_EQ(widget<QListWidget>("BronTree")->currentItem()->text(), "/");
    EXPECT_EQ(
        rows(widget<QListWidget>("List1")),
        QStringList({" 1. Source:/", " 1. Target:/", " 1. Include Subs:YES", QString(91, '-')}));
}

TEST_F(WindowTest, TheMenuBarHoldsFileAndOptionsWithTheirItemsAndMarks) {
    auto& w = open();
    const auto bar = w.menuBar()->actions();
    ASSERT_EQ(texts(bar), QStringList({"&File", "&Options"}));
    EXPECT_EQ(texts(bar[0]->menu()->actions()), QStringList({"E&xit"}));
    EXPECT_EQ(texts(bar[1]->menu()->actions()),
              QStringList({"&Sourcedirectory", "&Targetdirectory", "&Confirm copy/move",
                           "&Include Subs", "&Move Files"}));
    EXPECT_TRUE(w.actionOf("Subs")->isChecked());
    // Unchecked items show no mark at all, not an empty box.
    for (const char* n : {"CC", "Movefiles", "BD", "DD", "Exit"}) {
        EXPECT_FALSE(w.actionOf(n)->isChecked()) << n;
        EXPECT_FALSE(w.actionOf(n)->isCheckable()) << n;
    }
    // rcpopup is only the popup, with its one item.
    for (QAction* a : w.menuBar()->actions()) EXPECT_NE(a->menu(), w.popupMenu());
    EXPECT_EQ(texts(w.popupMenu()->actions()), QStringList({"Show Interface "}));
}

TEST_F(WindowTest, TogglesFollowTheModelBothWaysAndStayIndependent) {
    auto& w = open();
    w.actionOf("CC")->trigger();
    EXPECT_TRUE(form->CC.checked());
    EXPECT_TRUE(w.actionOf("CC")->isChecked());
    w.actionOf("Subs")->trigger();
    EXPECT_FALSE(form->Subs.checked());
    EXPECT_FALSE(w.actionOf("Subs")->isChecked());
    EXPECT_TRUE(form->CC.checked());
    w.actionOf("CC")->trigger();
    EXPECT_FALSE(w.actionOf("CC")->isChecked());
    // A mark the program sets shows too (a batch entry sets Subs), by the
    // next frame or when asked.
    form->Subs.setChecked(true);
    w.drawNow();
    EXPECT_TRUE(w.actionOf("Subs")->isChecked());
    EXPECT_FALSE(form->Movefiles.checked());
}

TEST_F(WindowTest, ExitAndTheCloseBoxEndTheProgram) {
    auto& w = open();
    w.actionOf("Exit")->trigger();
    EXPECT_TRUE(form->ended());
    EXPECT_EQ(app.quits, 1);
    EXPECT_FALSE(w.isVisible());
    EXPECT_FALSE(w.timer().isActive());

    open();
    EXPECT_TRUE(window->isVisible());
    window->close();
    EXPECT_TRUE(form->ended());
    EXPECT_EQ(app.quits, 2);
}

TEST_F(WindowTest, ButtonsAndMenuCommandsReachTheirHandlers) {
    auto& w = open();
    EXPECT_TRUE(w.timer().isActive());
    EXPECT_EQ(w.timer().interval(), 65535);
    QTest::mouseClick(w.widgetOf("Command1"), Qt::LeftButton);
    EXPECT_TRUE(w.widgetOf("BronTree")->isEnabled());
    EXPECT_TRUE(w.widgetOf("BronDrive")->isEnabled());
    EXPECT_TRUE(w.widgetOf("Command5")->isEnabled());
    EXPECT_FALSE(w.widgetOf("Command1")->isEnabled());
    EXPECT_FALSE(w.timer().isActive());
    // "&Targetdirectory" acts although "&Target" is disabled now.
    w.actionOf("DD")->trigger();
    EXPECT_TRUE(w.widgetOf("Doeltree")->isEnabled());
    EXPECT_TRUE(w.widgetOf("Command4")->isEnabled());
}

TEST_F(WindowTest, ADirectoryOpensOnDoubleClickOrEnterOnlyAndOnlyWhileEnabled) {
    mkdirs(prog / "src/beta");
    mkdirs(prog / "src/Alpha");
    mkdirs(prog / "src/.hidden");
    mkdirs(prog / "dst");
    batch({{prog / "src", prog / "dst"}});
    auto& w = open();
    auto* tree = widget<QListWidget>("BronTree");
    const std::string src = prog / "src";
    ASSERT_EQ(form->BronTree.path(), src);
    // Ancestors from the root, the open directory, then its subdirectories.
    const QStringList shown = rows(tree);
    ASSERT_GE(shown.size(), 4);
    EXPECT_EQ(shown.front(), "/");
    EXPECT_EQ(shown.mid(shown.size() - 3), QStringList({"src", "Alpha", "beta"}));
    EXPECT_EQ(tree->currentRow(), shown.size() - 3);
    const int alpha = static_cast<int>(shown.size()) - 2;

    // Disabled, it opens nothing.
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, centre(tree, alpha));
    EXPECT_EQ(form->BronTree.path(), src);

    QTest::mouseClick(w.widgetOf("Command1"), Qt::LeftButton);
    ASSERT_TRUE(tree->isEnabled());
    // A highlighted line changes nothing.
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, centre(tree, alpha));
    EXPECT_EQ(tree->currentRow(), alpha);
    QTest::keyClick(tree, Qt::Key_Down);
    EXPECT_EQ(form->BronTree.path(), src);
    QTest::keyClick(tree, Qt::Key_Up);
    // Enter opens the highlighted line.
    QTest::keyClick(tree, Qt::Key_Return);
    EXPECT_EQ(form->BronTree.path(), prog / "src/Alpha");
    EXPECT_EQ(tree->currentItem()->text(), "Alpha");
    // A double-click on an ancestor goes back up.
    const int up = tree->currentRow() - 1;
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, centre(tree, up));
    EXPECT_EQ(form->BronTree.path(), src);
    EXPECT_EQ(rows(tree).mid(rows(tree).size() - 2), QStringList({"Alpha", "beta"}));
    // The choice is confirmed from what the list shows.
    QTest::mouseClick(w.widgetOf("Command5"), Qt::LeftButton);
    EXPECT_EQ(form->Brondir.path(), src);
    EXPECT_FALSE(tree->isEnabled());
}

TEST_F(WindowTest, ChoosingADriveOpensItsRootAndANotReadyOneSpringsBack) {
    mkdirs(prog / "vol/inside");
    prog_os.extra = prog / "vol";
    open();
    QTest::mouseClick(window->widgetOf("Command1"), Qt::LeftButton);
    auto* drive = widget<QComboBox>("BronDrive");
    const int i = drive->findText(q(prog / "vol"));
    ASSERT_GE(i, 0);
    Q_EMIT drive->activated(i);
    EXPECT_EQ(form->BronDrive.drive(), prog / "vol");
    EXPECT_EQ(form->BronTree.path(), prog / "vol");
    EXPECT_EQ(drive->currentText(), q(prog / "vol"));
    EXPECT_EQ(
        widget<QListWidget>("BronTree")->item(widget<QListWidget>("BronTree")->count() - 1)->text(),
        "inside");

    Q_EMIT drive->activated(drive->findText("/"));
    EXPECT_EQ(form->BronTree.path(), "/");
    prog_os.extraReady = false;
    Q_EMIT drive->activated(drive->findText(q(prog / "vol")));
    EXPECT_EQ(form->BronDrive.drive(), "/");
    EXPECT_EQ(drive->currentText(), "/");
    EXPECT_EQ(form->BronTree.path(), "/");
    EXPECT_TRUE(dialogs.boxes.size() == 1);  // only "First time"
}

TEST_F(WindowTest, TheSliderMovesTheIntervalAndRestartsTheTimer) {
    auto& w = open();
    auto* slider = widget<QSlider>("Slider1");
    QTest::qWait(60);
    const int before = w.timer().remainingTime();
    ASSERT_LT(before, 65535 - 40);
    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_PageDown);
    EXPECT_EQ(form->Slider1.value(), 55);
    EXPECT_EQ(widget<QLabel>("Label1")->text(),
              "Interval in minutes 1-60 /Next update approx.  55 minutes from now...");
    // A fresh period.
    EXPECT_GT(w.timer().remainingTime(), before);
    // Position 0 springs to 1, and the slider shows it.
    QTest::keyClick(slider, Qt::Key_Home);
    EXPECT_EQ(form->Slider1.value(), 1);
    EXPECT_EQ(slider->value(), 1);
}

TEST_F(WindowTest, TheListAndTheCheckBoxPassTheUsersChoice) {
    mkdirs(prog / "a");
    mkdirs(prog / "b");
    batch({{prog / "a", prog / "b"}, {prog / "b", prog / "a"}});
    auto& w = open();
    auto* list = widget<QListWidget>("List1");
    ASSERT_EQ(list->count(), 8);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centre(list, 5));
    EXPECT_EQ(form->List1.listIndex(), 5);
    EXPECT_TRUE(w.widgetOf("Command7")->isEnabled());

    // Removing an entry lists the batch again; the widget follows exactly.
    QTest::mouseClick(w.widgetOf("Command7"), Qt::LeftButton);
    QStringList model;
    for (const auto& i : form->List1.items()) model << q(i);
    EXPECT_EQ(rows(list), model);
    EXPECT_EQ(list->count(), 4);

    auto* check = widget<QCheckBox>("Check2");
    QTest::mouseClick(check, Qt::LeftButton);
    EXPECT_EQ(form->Check2.value(), 1);
    form->Check2.setValue(0);
    w.drawNow();
    EXPECT_FALSE(check->isChecked());
}

// What the user sees may lag the model by a frame: an action on a control
// the model has just disabled does nothing, and the widget shows the model.
TEST_F(WindowTest, AControlTheModelHasDisabledTakesNoInputBeforeItIsDrawn) {
    mkdirs(prog / "src/one");
    mkdirs(prog / "dst");
    batch({{prog / "src", prog / "dst"}});
    auto& w = open();
    QTest::mouseClick(w.widgetOf("Command1"), Qt::LeftButton);
    auto* tree = widget<QListWidget>("BronTree");
    const std::string src = prog / "src";
    ASSERT_EQ(form->BronTree.path(), src);
    const int one = static_cast<int>(rows(tree).indexOf("one"));
    ASSERT_GE(one, 0);

    // Each disabled right after a frame, so drawn enabled until the next.
    auto disabledUndrawn = [&](ui::Control& c, QWidget* widget) {
        w.drawNow();
        c.setEnabled(false);
        return widget->isEnabled();
    };
    ASSERT_TRUE(disabledUndrawn(form->BronTree, tree));
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, centre(tree, one));
    EXPECT_EQ(form->BronTree.path(), src);
    EXPECT_FALSE(tree->isEnabled()) << "the action draws the window";

    auto* list = widget<QListWidget>("List1");
    ASSERT_GE(list->count(), 3);
    const int index = form->List1.listIndex();
    ASSERT_TRUE(disabledUndrawn(form->List1, list));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centre(list, 2));
    EXPECT_EQ(form->List1.listIndex(), index);
    EXPECT_EQ(list->currentRow(), index) << "springs back";

    auto* check = widget<QCheckBox>("Check2");
    ASSERT_TRUE(disabledUndrawn(form->Check2, check));
    QTest::mouseClick(check, Qt::LeftButton);
    EXPECT_EQ(form->Check2.value(), 0);
    EXPECT_FALSE(check->isChecked());

    auto* slider = widget<QSlider>("Slider1");
    ASSERT_TRUE(disabledUndrawn(form->Slider1, slider));
    QTest::keyClick(slider, Qt::Key_Home);
    EXPECT_EQ(form->Slider1.value(), 60);
    EXPECT_EQ(slider->value(), 60);
}

TEST_F(WindowTest, TheProgressBarAndTheCountBoxesShowWhatTheRunSets) {
    open();
    auto* bar = widget<QProgressBar>("ProgressBar1");
    form->showProgress({true, 3, 7});
    window->drawNow();
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(bar->maximum(), 7);
    EXPECT_EQ(bar->value(), 3);
    form->showProgress({});
    window->drawNow();
    EXPECT_FALSE(bar->isVisible());
    form->showCounts("/a/\r\n3 files", "/b/\r\n0 files");
    window->drawNow();
    EXPECT_EQ(widget<QPlainTextEdit>("Text1")->toPlainText(), "/a/\n3 files");
}

TEST_F(WindowTest, TheHourglassShowsWhileTheModelAsksForIt) {
    auto& w = open();
    EXPECT_EQ(w.cursor().shape(), Qt::ArrowCursor);
    // Drawn with the frame, as the controls are.
    form->setMousePointer(ui::MousePointer::Hourglass);
    w.drawNow();
    EXPECT_EQ(w.cursor().shape(), Qt::WaitCursor);
    form->setMousePointer(ui::MousePointer::Default);
    form->setMousePointer(ui::MousePointer::Hourglass);
    form->setMousePointer(ui::MousePointer::Default);
    w.drawNow();
    EXPECT_EQ(w.cursor().shape(), Qt::ArrowCursor);
}

TEST_F(WindowTest, TheWindowShowsOnlyOnceLoadedAndHidesAndShowsWithTheModel) {
    ui::Services s;
    s.dialogs = &dialogs;
    s.app = &app;
    window.reset();
    form = std::make_unique<ui::Form1>(s);
    window = std::make_unique<view::MainWindow>(*form);
    form->Form_Load();
    QApplication::processEvents();
    EXPECT_FALSE(window->isVisible());
    form->setVisible(true);
    EXPECT_TRUE(window->isVisible());
    form->setVisible(false);
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(form->ended());
    form->mShow_Click();
    EXPECT_TRUE(window->isVisible());
}

}  // namespace
}  // namespace qm::test
