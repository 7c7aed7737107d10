// The message boxes: exact titles and texts, the buttons asked for, no icon
// anywhere, modal over the window.
#include <QAbstractButton>
#include <QMessageBox>
#include <QProxyStyle>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "view/services.h"
#include "view/window_fixture.h"

namespace qm::test {
namespace {

struct Seen {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::Information;
    QStringList buttons;
    int buttonIcons = 0;
    Qt::TextFormat format = Qt::AutoText;
    Qt::WindowModality modality = Qt::NonModal;
    QWidget* parent = nullptr;
    QString defaultButton;
};

// Runs show() and, once the box is up, records it and lets answer() close it.
Seen with_box(const std::function<void()>& show, const std::function<void(QMessageBox&)>& answer) {
    Seen seen;
    bool found = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        found = true;
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.icon = box->icon();
        for (QAbstractButton* b : box->buttons()) {
            seen.buttons << b->text();
            seen.buttonIcons += !b->icon().isNull();
        }
        seen.format = box->textFormat();
        seen.modality = box->windowModality();
        seen.parent = box->parentWidget();
        if (box->defaultButton()) seen.defaultButton = box->defaultButton()->text();
        answer(*box);
    });
    show();
    EXPECT_TRUE(found) << "no box was shown";
    return seen;
}

// A style that puts icons on dialog buttons, as some desktops' do.
class ButtonIconStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* data) const override {
        if (hint == SH_DialogButtonBox_ButtonsHaveIcons) return 1;
        return QProxyStyle::styleHint(hint, option, widget, data);
    }
};

class DialogsTest : public WindowTest {
protected:
    DialogsTest() {
        if (!dynamic_cast<ButtonIconStyle*>(QApplication::style()))
            QApplication::setStyle(new ButtonIconStyle);
    }
    view::QtDialogs boxes;
};

TEST_F(DialogsTest, ANoticeHasItsTitleAndTextAnOkButtonAndNoIcon) {
    open();
    boxes.setParent(window.get());
    const Seen s = with_box(
        [&] {
            boxes.notice("First time",
                         "Please select Source and Target directory...\r\nThen remove initial "
                         "batch entry...");
        },
        [](QMessageBox& b) { b.button(QMessageBox::Ok)->click(); });
    EXPECT_EQ(s.title, "First time");
    EXPECT_EQ(s.text,
              "Please select Source and Target directory...\nThen remove initial batch entry...");
    EXPECT_EQ(s.icon, QMessageBox::NoIcon);
    EXPECT_EQ(s.buttons, QStringList({"OK"}));
    EXPECT_EQ(s.buttonIcons, 0);
    EXPECT_EQ(s.modality, Qt::ApplicationModal);
    EXPECT_EQ(s.parent, window.get());
}

TEST_F(DialogsTest, AQuestionHasYesAndNoAndOnlyYesCountsAsYes) {
    open();
    boxes.setParent(window.get());
    bool answer = false;
    Seen s = with_box([&] { answer = boxes.ask("Question", "Include subdirectories?"); },
                      [](QMessageBox& b) { b.button(QMessageBox::Yes)->click(); });
    EXPECT_TRUE(answer);
    EXPECT_EQ(s.title, "Question");
    EXPECT_EQ(s.icon, QMessageBox::NoIcon);
    EXPECT_EQ(s.buttons.size(), 2);
    EXPECT_TRUE(s.buttons.contains("&Yes"));
    EXPECT_TRUE(s.buttons.contains("&No"));
    EXPECT_EQ(s.buttonIcons, 0);
    EXPECT_EQ(s.defaultButton, "&Yes");

    with_box([&] { answer = boxes.ask("Question", "?"); },
             [](QMessageBox& b) { b.button(QMessageBox::No)->click(); });
    EXPECT_FALSE(answer);
    // Escape, like the close box, is not a yes.
    answer = true;
    with_box([&] { answer = boxes.ask("Question", "?"); },
             [](QMessageBox& b) { QTest::keyClick(&b, Qt::Key_Escape); });
    EXPECT_FALSE(answer);
}

TEST_F(DialogsTest, TextIsShownAsItIsNeverAsMarkup) {
    const Seen s = with_box([&] { boxes.notice("Information", "<b>/tmp/a&b</b>"); },
                            [](QMessageBox& b) { b.button(QMessageBox::Ok)->click(); });
    EXPECT_EQ(s.format, Qt::PlainText);
    EXPECT_EQ(s.text, "<b>/tmp/a&b</b>");
}

}  // namespace
}  // namespace qm::test
