#include "view/services.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QIcon>
#include <QMessageBox>

namespace qm::view {

namespace {

QString text_of(const std::string& s) {
    QString t = QString::fromStdString(s);
    t.replace("\r\n", "\n");
    return t;
}

// A box without an icon, neither beside the text nor on its buttons, that
// shows its text as it is (a path may hold "<").
int run(QWidget* parent, const std::string& title, const std::string& text,
        QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton) {
    QMessageBox box(QMessageBox::NoIcon, text_of(title), text_of(text), buttons, parent);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(defaultButton);
    for (QAbstractButton* b : box.buttons()) b->setIcon(QIcon());
    box.setWindowModality(Qt::ApplicationModal);
    return box.exec();
}

}  // namespace

void QtDialogs::notice(const std::string& title, const std::string& text) {
    run(parent_, title, text, QMessageBox::Ok, QMessageBox::Ok);
}

bool QtDialogs::ask(const std::string& title, const std::string& text) {
    return run(parent_, title, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) ==
           QMessageBox::Yes;
}

void QtPump::yield() {
    if (std::chrono::steady_clock::now() - last_ >= kEvery) yieldNow();
}

void QtPump::yieldNow() {
    QCoreApplication::processEvents();
    last_ = std::chrono::steady_clock::now();
}

void QtApplication::quit() {
    QCoreApplication::quit();
}

}  // namespace qm::view
