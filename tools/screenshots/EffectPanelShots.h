#pragma once

#include <QString>

#include <functional>

namespace tessoral {

class Studio;

// Screenshots for review of the effect panels over the demo project: a three-slot rack in the
// inspector, the parametric equaliser's editor with its p2 readout, a compressor's editor and the
// loudness matching sheet after its measuring pass ("<name>-<lang>.png"). `settle` runs the
// studio's posted calls and tasks. False when a file could not be written.
bool renderEffectPanelShots(Studio& studio, const std::function<void()>& settle, const QString& folder,
                            const QString& lang);

}  // namespace tessoral
