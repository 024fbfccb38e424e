#pragma once

#include <Qt>

namespace tessoral {

// Whether the modifier of the pointer gestures that take Alt is held: Alt, or Shift as well. Most
// window managers on Linux (Openbox, Xfwm, Cinnamon, MATE, KWin of Plasma 5) keep Alt+drag and
// Alt+click for moving windows, so the program never sees them; none takes Shift, which no
// pointer gesture here uses otherwise. (GNOME and Plasma 6 take Super instead.)
inline bool alternateHeld(Qt::KeyboardModifiers modifiers) {
    return (modifiers & (Qt::AltModifier | Qt::ShiftModifier)) != 0;
}

}  // namespace tessoral
