#pragma once

#include <QString>

#include <functional>

namespace tessoral {

class Studio;

// Screenshots for review of the workspace panels over the demo project: the browser's history and
// marker tabs with the marker ruler over the multitrack page, the mixer with live meters, the
// favourites manager and the batch sheet's report ("<name>-<lang>.png"). `settle` runs the
// studio's posted calls and tasks. False when a file could not be written.
bool renderWorkspacePanelShots(Studio& studio, const std::function<void()>& settle, const QString& folder,
                               const QString& lang);

}  // namespace tessoral
