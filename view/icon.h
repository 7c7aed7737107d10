#pragma once

#include <QIcon>
#include <QPixmap>

namespace qm::view {

// The window's icon: three blank sheets with an arrow pointer; the
// notification-area icon shows the same.
QIcon app_icon();

// The same design at SIZE pixels square: the bitmaps at 16 and 32, drawn
// from its shapes at other sizes (the installed theme icons).
QPixmap icon_pixmap(int size);

// The design's shapes drawn at SIZE pixels square.
QPixmap drawn_icon(int size);

}  // namespace qm::view
