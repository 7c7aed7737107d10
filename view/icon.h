#pragma once

#include <QIcon>

namespace qm::view {

// The window's icon: three blank sheets with an arrow pointer, 32 and 16
// pixels; the notification-area icon shows the same.
QIcon app_icon();

}  // namespace qm::view
