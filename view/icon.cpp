#include "view/icon.h"

#include <QPainter>
#include <QPen>
#include <QPixmap>
#include <QPointF>
#include <QRectF>
#include <algorithm>
#include <array>
#include <cmath>

#include "view/icon16.xpm"
#include "view/icon32.xpm"

namespace qm::view {

namespace {

// The design on a 32-unit grid, as the 32-pixel bitmap draws it: each
// outline runs through the middle of its pixels.
constexpr std::array<QRectF, 3> kSheets = {
    QRectF(QPointF(1.5, 1.5), QPointF(15.5, 20.5)),
    QRectF(QPointF(5.5, 4.5), QPointF(19.5, 23.5)),
    QRectF(QPointF(9.5, 7.5), QPointF(23.5, 26.5)),
};
constexpr std::array<QPointF, 8> kPointer = {
    QPointF(19.5, 13.5), QPointF(29.5, 23.5), QPointF(25.5, 23.5), QPointF(27.5, 29.5),
    QPointF(26.5, 30.5), QPointF(25.5, 30.5), QPointF(22.5, 24.5), QPointF(19.5, 27.5),
};

}  // namespace

QPixmap icon_pixmap(int size) {
    // The small sizes are drawn pixel by pixel; larger ones from the same
    // shapes, so they stay sharp instead of being blown-up bitmaps.
    if (size == 16) return QPixmap(quillmere_icon16);
    if (size == 32) return QPixmap(quillmere_icon32);
    return drawn_icon(size);
}

QPixmap drawn_icon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    const qreal unit = size / 32.0;
    // Lines of whole pixels whose edges fall on pixel edges stay crisp at
    // every size, not only at multiples of 32.
    const qreal line = std::max<qreal>(1.0, std::round(unit));
    auto snap = [&](QPointF at) {
        return QPointF(std::round((at.x() - 0.5) * unit) + line / 2,
                       std::round((at.y() - 0.5) * unit) + line / 2);
    };
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QPen pen(Qt::black, line);
    pen.setJoinStyle(Qt::MiterJoin);
    p.setPen(pen);
    p.setBrush(Qt::white);
    for (const QRectF& sheet : kSheets)
        p.drawRect(QRectF(snap(sheet.topLeft()), snap(sheet.bottomRight())));
    std::array<QPointF, kPointer.size()> pointer;
    std::transform(kPointer.begin(), kPointer.end(), pointer.begin(), snap);
    p.drawPolygon(pointer.data(), static_cast<int>(pointer.size()));
    p.end();
    return pixmap;
}

// Drawn once: the application, its window and the tray all ask for it at
// start-up. Kept to the end, never destroyed after the pixmap support.
QIcon app_icon() {
    static const QIcon& icon = *[] {
        auto* made = new QIcon;
        for (int size : {256, 128, 64, 48, 32, 16}) made->addPixmap(icon_pixmap(size));
        return made;
    }();
    return icon;
}

}  // namespace qm::view
