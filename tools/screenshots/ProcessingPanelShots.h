#pragma once

#include <QString>

#include <functional>

namespace tessoral {

class Studio;

// Screenshots for review of the processing panels over the demo project: the diagnostics page
// with findings, each processing sheet (the silence sheet with a refusal), the essential-sound
// page without settings and for dialogue, and the auto-duck sheet ("<name>-<lang>.png").
// `settle` runs the studio's posted calls and tasks. False when a file could not be written.
bool renderProcessingPanelShots(Studio& studio, const std::function<void()>& settle, const QString& folder,
                                const QString& lang);

}  // namespace tessoral
