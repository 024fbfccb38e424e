#pragma once

#include <QString>

#include "model/Track.h"

class QMenu;

namespace tessoral {

class StudioStore;

// The five entries about one clip's fades and envelopes, placed flat into a host menu: the two
// fade-shape submenus (the current curve marked "✓ "), removing the fades, clearing the envelopes
// and the auto-duck sheet. Each entry is one store command on the clip's id.
namespace ClipAutomationMenu {

// The title of a fade curve.
QString curveTitle(FadeCurve curve);
void addItems(QMenu* menu, StudioStore& store, const Track& clip);

}  // namespace ClipAutomationMenu

}  // namespace tessoral
