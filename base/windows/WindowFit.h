#pragma once

#include <QRect>

class QPushButton;
class QWidget;

namespace merival {

// Where a window whose frame is `frame` big goes: no larger than the available area, centred
// on its owner's frame (on the area when there is no owner), and wholly inside the area.
[[nodiscard]] QRect PlaceWindow(QSize frame, const QRect& owner, const QRect& available);

// At its first showing the window takes the size it asks for within the screen of its owner
// (its parent's window, else the active window), centred on that owner and kept with it.
void PlaceOnOwnerWhenShown(QWidget* window);

// Enter presses the push button that has the focus, else `enter` once it took the focus, so
// that a field being left checks itself first, as with a click. Escape presses `escape`.
// Keys that a field uses itself (a list that is open, a multi-line text) stay the field's.
void BindDialogKeys(QWidget* window, QPushButton* enter, QPushButton* escape);

}  // namespace merival
