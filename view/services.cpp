#include "view/services.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace qm::view {

namespace {
QString text_of(const std::string& s) {
    QString t = QString::fromStdString(s);
    t.replace("\r\n", "\n");
    return t;
}
}  // namespace

void QtDialogs::notice(const std::string& title, const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, text_of(title), text_of(text), QMessageBox::Ok, parent_);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

bool QtDialogs::ask(const std::string& title, const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, text_of(title), text_of(text),
                    QMessageBox::Yes | QMessageBox::No, parent_);
    box.setWindowModality(Qt::ApplicationModal);
    return box.exec() == QMessageBox::Yes;
}

void QtPump::yield() { QCoreApplication::processEvents(); }

void QtApplication::quit() { QCoreApplication::quit(); }

}  // namespace qm::view
