// Writes the program's icon as PNG files into a hicolor icon theme tree:
// DIR/NxN/apps/NAME.png for each size. Usage: qm-render-icons DIR NAME
#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <QString>
#include <cstdio>

#include "view/icon.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s DIR NAME\n", argv[0]);
        return 2;
    }
    // Drawing needs no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString root = QString::fromLocal8Bit(argv[1]);
    const QString name = QString::fromLocal8Bit(argv[2]);
    for (int size : {16, 32, 48, 64, 128, 256}) {
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(root).arg(size);
        const QString file = QStringLiteral("%1/%2.png").arg(dir, name);
        const QPixmap pixmap = qm::view::icon_pixmap(size);
        if (!QDir().mkpath(dir) || pixmap.size() != QSize(size, size) ||
            !pixmap.save(file, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
