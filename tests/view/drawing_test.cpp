// The window during a batch run: the model changes thousands of times, the
// widgets are drawn at most once a frame, and whenever the window is asked,
// and when the run's tick ends, every widget shows exactly the model.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSlider>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <chrono>
#include <filesystem>

#include "view/services.h"
#include "view/window_fixture.h"

namespace qm::test {
namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

// Every difference between what a widget shows and its control, one line
// each; empty when the window shows the model.
std::vector<std::string> differences(ui::Form1& form, view::MainWindow& w) {
    std::vector<std::string> out;
    auto differ = [&](const std::string& name, const QString& shown, const QString& model) {
        if (shown != model)
            out.push_back(name + ": shows \"" + shown.toStdString() + "\", model \"" +
                          model.toStdString() + "\"");
    };
    for (ui::Control* c : form.controls()) {
        QWidget* widget = w.widgetOf(c->name());
        if (!widget) continue;
        const std::string& n = c->name();
        if (widget->isEnabled() != c->enabled()) out.push_back(n + ": enabled differs");
        if (widget->isHidden() == c->visible()) out.push_back(n + ": visibility differs");
        if (auto* l = dynamic_cast<ui::Label*>(c))
            differ(n, qobject_cast<QLabel*>(widget)->text(), q(l->caption()));
        if (auto* t = dynamic_cast<ui::TextBox*>(c)) {
            QString text = q(t->text());
            if (t->multiline()) {
                text.replace("\r\n", "\n");
                differ(n, qobject_cast<QPlainTextEdit*>(widget)->toPlainText(), text);
            } else {
                differ(n, qobject_cast<QLineEdit*>(widget)->text(), text);
            }
        }
        if (auto* k = dynamic_cast<ui::CheckBox*>(c))
            if (qobject_cast<QCheckBox*>(widget)->isChecked() != (k->value() == 1))
                out.push_back(n + ": tick differs");
        if (auto* s = dynamic_cast<ui::Slider*>(c))
            differ(n, QString::number(qobject_cast<QSlider*>(widget)->value()),
                   QString::number(s->value()));
        if (auto* p = dynamic_cast<ui::ProgressBar*>(c)) {
            auto* bar = qobject_cast<QProgressBar*>(widget);
            differ(
                n,
                QString("%1..%2 at %3").arg(bar->minimum()).arg(bar->maximum()).arg(bar->value()),
                QString("%1..%2 at %3").arg(p->min()).arg(p->max()).arg(p->value()));
        }
        if (auto* lb = dynamic_cast<ui::ListBox*>(c)) {
            auto* list = qobject_cast<QListWidget*>(widget);
            QStringList shown, model;
            for (int i = 0; i < list->count(); ++i) shown << list->item(i)->text();
            for (const auto& i : lb->items()) model << q(i);
            differ(n, shown.join("|"), model.join("|"));
            differ(n + " selection", QString::number(list->currentRow()),
                   QString::number(lb->listIndex()));
        }
        if (auto* t = dynamic_cast<ui::DirectoryList*>(c)) {
            auto* list = qobject_cast<QListWidget*>(widget);
            QStringList shown, model;
            for (int i = 0; i < list->count(); ++i)
                shown << list->item(i)->text() + "=" +
                             list->item(i)->data(Qt::UserRole).toString() + "@" +
                             list->item(i)->data(Qt::UserRole + 1).toString();
            int open = -1;
            for (std::size_t i = 0; i < t->lines().size(); ++i) {
                model << q(t->lines()[i].label) + "=" + q(t->lines()[i].path) + "@" +
                             QString::number(t->lines()[i].depth);
                if (t->lines()[i].open) open = static_cast<int>(i);
            }
            differ(n, shown.join("|"), model.join("|"));
            differ(n + " open line", QString::number(list->currentRow()), QString::number(open));
            // An open folder down to the open line, a closed one below it.
            for (int i = 0; i < list->count(); ++i)
                if ((list->item(i)->icon().cacheKey() == list->item(0)->icon().cacheKey()) !=
                    (i <= open))
                    out.push_back(n + ": line " + std::to_string(i) + " has the wrong folder");
        }
        if (auto* d = dynamic_cast<ui::DriveList*>(c))
            differ(n, qobject_cast<QComboBox*>(widget)->currentText(), q(d->drive()));
    }
    for (ui::MenuItem* m : form.menuItems()) {
        QAction* a = w.actionOf(m->name());
        if (a->isChecked() != m->checked()) out.push_back(m->name() + ": check mark differs");
        if (a->isEnabled() != m->enabled()) out.push_back(m->name() + ": enabled differs");
    }
    const bool busy = w.cursor().shape() == Qt::WaitCursor;
    if (busy != (form.mousePointer() == ui::MousePointer::Hourglass))
        out.push_back("pointer differs");
    return out;
}

class DrawingTest : public WindowTest {
protected:
    // Two entries, the first with a tree of several levels; enough files
    // that the run changes the model far more often than it could draw.
    void makeBatch() {
        for (const char* d : {"s1/a/b", "s1/a/c", "s1/d", "t1", "s2", "t2"}) mkdirs(prog / d);
        for (const char* d : {"s1", "s1/a", "s1/a/b", "s1/a/c", "s1/d", "s2"})
            for (int i = 0; i < kFilesPerDir; ++i)
                write(prog / (std::string(d) + "/f" + std::to_string(i) + ".txt"), d);
        batch({{prog / "s1", prog / "t1"}, {prog / "s2", prog / "t2"}});
    }
    static constexpr int kFilesPerDir = 60;
};

TEST_F(DrawingTest, AfterARunFullOfChangesTheWindowShowsTheModel) {
    makeBatch();
    auto& w = open();
    auto* bar = widget<QProgressBar>("ProgressBar1");
    int barDrawn = 0;
    QObject::connect(bar, &QProgressBar::valueChanged, [&] { ++barDrawn; });

    // The run yields to the real event loop; at some yields the user ticks
    // the log box, and at others the window is asked to show the model.
    int yields = 0, asked = 0;
    std::vector<std::string> midRun;
    pump.hook = [&] {
        QApplication::processEvents();
        ++yields;
        if (yields == 20) QTest::mouseClick(widget<QCheckBox>("Check2"), Qt::LeftButton);
        if (yields % 97 == 0 && form->running()) {
            window->drawNow();
            ++asked;
            auto d = differences(*form, *window);
            midRun.insert(midRun.end(), d.begin(), d.end());
        }
    };
    int progressChanges = 0;
    form->ProgressBar1.changed.connect([&] { ++progressChanges; });

    // The run comes by Timer1, as the program runs it: the slider at 1 and
    // a short period.
    window->setTickInterval(10);
    form->Slider1.setValue(1);
    bool ran = false;
    form->Label1.changed.connect([&] { ran = ran || form->Label1.caption() == "BUSY..."; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return ran && !form->running(); }, 60000));
    form->Timer1.setEnabled(false);

    EXPECT_EQ(read(prog / "t1/a/b/f7.txt"), "s1/a/b");
    EXPECT_EQ(read(prog / "t2/f59.txt"), "s2");
    // The tick that ran the batch ends with the window equal to the model.
    EXPECT_EQ(differences(*form, w), std::vector<std::string>());
    EXPECT_GT(asked, 0);
    EXPECT_EQ(midRun, std::vector<std::string>());
    // The box the user ticked is disabled during the run: it springs back.
    EXPECT_EQ(form->Check2.value(), 0);
    // Drawn far less often than changed.
    EXPECT_GT(progressChanges, 6 * kFilesPerDir);
    EXPECT_LT(barDrawn, progressChanges / 4);
    EXPECT_TRUE(bar->isHidden());
}

// In the notification area the window draws nothing, a whole run long;
// shown again, it shows the model at once.
TEST_F(DrawingTest, AHiddenWindowDrawsNothingAndShowsTheModelWhenShownAgain) {
    FakeTray area;
    makeBatch();
    auto& w = open(0, &area);
    const QString before = widget<QLabel>("Label1")->text();
    QTest::mouseClick(w.widgetOf("Command3"), Qt::LeftButton);
    ASSERT_FALSE(w.isVisible());
    const long frames = w.redraw().frames();
    bool ran = false;
    QStringList labelsShown;
    form->Label1.changed.connect([&] {
        ran = ran || form->Label1.caption() == "BUSY...";
        labelsShown << widget<QLabel>("Label1")->text();
    });
    pump.hook = [] { QApplication::processEvents(); };
    window->setTickInterval(10);
    form->Slider1.setValue(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ran && !form->running(); }, 60000));
    form->Timer1.setEnabled(false);
    QTest::qWait(100);
    EXPECT_EQ(read(prog / "t1/a/b/f7.txt"), "s1/a/b");
    EXPECT_EQ(w.redraw().frames(), frames);
    EXPECT_TRUE(w.redraw().pending());
    for (const auto& l : labelsShown) EXPECT_EQ(l, before);
    EXPECT_FALSE(differences(*form, w).empty());

    form->mShow_Click();
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(differences(*form, w), std::vector<std::string>());
}

TEST_F(DrawingTest, AChangeTheUserDidNotCauseIsDrawnByTheNextFrame) {
    auto& w = open();
    auto* label = widget<QLabel>("Label1");
    form->Label1.setCaption("first");
    form->Label1.setCaption("second");
    form->Text1.setText("3 File(s)\r\n/x/");
    EXPECT_TRUE(QTest::qWaitFor([&] { return label->text() == "second"; }, 1000));
    EXPECT_EQ(widget<QPlainTextEdit>("Text1")->toPlainText(), "3 File(s)\n/x/");
    EXPECT_EQ(differences(*form, w), std::vector<std::string>());
}

TEST_F(DrawingTest, ACountBoxRewrittenLineByLineShowsEachTextAndKeepsNoHistory) {
    auto& w = open();
    auto* box = widget<QPlainTextEdit>("Text1");
    const std::vector<std::pair<std::string, QString>> texts = {
        {"3 File(s)\r\n/x/", "3 File(s)\n/x/"},
        {"12 File(s)\r\n/x/", "12 File(s)\n/x/"},
        {"12 File(s)\r\n/a/much/longer/path/", "12 File(s)\n/a/much/longer/path/"},
        {"0 File(s)\r\n/", "0 File(s)\n/"},
        {"", ""},
        {"one line", "one line"},
        {"a\r\nb\r\nc", "a\nb\nc"},
        {"a\r\n\r\nc", "a\n\nc"},
    };
    for (int round = 0; round < 50; ++round) {
        for (const auto& [text, shown] : texts) {
            form->Text1.setText(text);
            w.drawNow();
            ASSERT_EQ(box->toPlainText(), shown) << text;
            ASSERT_EQ(box->document()->blockCount(), shown.count('\n') + 1) << text;
        }
    }
    // A run rewrites the box thousands of times: nothing of that is kept.
    EXPECT_EQ(box->document()->availableUndoSteps(), 0);
    EXPECT_EQ(differences(*form, w), std::vector<std::string>());
}

TEST_F(DrawingTest, AButtonTheModelHasDisabledDoesNothingBeforeItIsDrawn) {
    auto& w = open();
    QTest::qWait(60);                  // a quiet spell
    form->Label1.setCaption("x");      // drawn at once
    form->Command1.setEnabled(false);  // within the frame: not yet drawn
    auto* button = w.widgetOf("Command1");
    ASSERT_TRUE(button->isEnabled());
    QTest::mouseClick(button, Qt::LeftButton);
    // No choice started, and the click drew the window.
    EXPECT_FALSE(form->Command5.enabled());
    EXPECT_FALSE(button->isEnabled());
    EXPECT_EQ(differences(*form, w), std::vector<std::string>());
}

TEST_F(DrawingTest, ADirectoryListReturningToItsLinesIsNotRebuilt) {
    mkdirs(prog / "src/one");
    mkdirs(prog / "dst");
    batch({{prog / "src", prog / "dst"}});
    auto& w = open();
    auto* tree = widget<QListWidget>("BronTree");
    QListWidgetItem* first = tree->item(tree->count() - 1);
    ASSERT_EQ(first->text(), "one");
    // Away and back between two frames: the same lines, the same items.
    (void)form->BronTree.setPath(prog / "src/one");
    (void)form->BronTree.setPath(prog / "src");
    w.drawNow();
    EXPECT_EQ(tree->item(tree->count() - 1), first);
    // Opening the subdirectory keeps the paths but moves the open line;
    // the lines that stay are the same items.
    QListWidgetItem* root = tree->item(0);
    (void)form->BronTree.setPath(prog / "src/one");
    w.drawNow();
    EXPECT_EQ(tree->currentItem()->text(), "one");
    EXPECT_EQ(tree->item(0), root);
    EXPECT_EQ(tree->item(tree->count() - 1), first);
    EXPECT_EQ(differences(*form, w), std::vector<std::string>());
    // Up to the root and down elsewhere: fewer lines, then other ones.
    mkdirs(prog / "src/two/deeper");
    (void)form->BronTree.setPath(std::filesystem::path(prog.path()).root_path().string());
    w.drawNow();
    EXPECT_EQ(differences(*form, w), std::vector<std::string>());
    (void)form->BronTree.setPath(prog / "src/two/deeper");
    w.drawNow();
    EXPECT_EQ(tree->item(0), root);
    EXPECT_EQ(differences(*form, w), std::vector<std::string>());
    (void)form->BronTree.setPath(prog / "src");
    w.drawNow();
    EXPECT_EQ(differences(*form, w), std::vector<std::string>());
}

}  // namespace
}  // namespace qm::test

namespace qm::test {
namespace {

// The engine yields after every file; the queue is handled a few
// milliseconds apart at most, and never skipped for longer.
TEST(QtPumpTest, PendingEventsAreHandledOnceTheirFewMillisecondsHavePassed) {
    qt_app();
    view::QtPump pump;
    int handled = 0;
    bool posted = false;
    auto post = [&] {
        if (posted) return;
        posted = true;
        QTimer::singleShot(0, [&] {
            ++handled;
            posted = false;
        });
    };
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 20000; ++i) {
        post();
        pump.yield();
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    EXPECT_GE(handled, 1);
    EXPECT_LE(handled, ms / view::QtPump::kEvery.count() + 1);
    // Once the time has passed, the next yield handles what waits.
    post();
    QTest::qSleep(static_cast<int>(view::QtPump::kEvery.count()) + 1);
    const int before = handled;
    pump.yield();
    EXPECT_EQ(handled, before + 1);
}

}  // namespace
}  // namespace qm::test
