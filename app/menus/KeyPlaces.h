#pragma once

#include <QtGlobal>

namespace tessoral {

// The Qt key that the US layout puts on a key, by the key's X key code (its evdev code + 8, the
// same under X11 and Wayland): the letters, the digits and the punctuation of the main block; 0 for
// every other key code. Keys that follow their place on the keyboard work on any layout with it.
int usKeyAt(quint32 scanCode);

}  // namespace tessoral
