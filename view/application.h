// What the whole application takes from the window: its font and icon.
#pragma once

class QApplication;

namespace qm::view {

// The font the fixed layout is made for, the icon for every window and box,
// and no quitting when the window hides: the program ends only through
// Form1.
void prepare(QApplication& app);

}  // namespace qm::view
