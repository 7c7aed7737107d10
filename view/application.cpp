#include "view/application.h"

#include <QApplication>
#include <QFont>

#include "view/icon.h"

namespace qm::view {

void prepare(QApplication& app) {
    app.setQuitOnLastWindowClosed(false);
    // The layout is fixed in twips for an 8-point font; a larger one would
    // cut captions off.
    QFont font = QApplication::font();
    font.setPointSize(8);
    QApplication::setFont(font);
    QApplication::setWindowIcon(app_icon());
    // Lets the desktop match the window with the installed menu entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.quillmere.Quillmere"));
}

}  // namespace qm::view
