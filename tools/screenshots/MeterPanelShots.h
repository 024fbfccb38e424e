#pragma once

#include <QString>

#include <functional>

namespace tessoral {

class Studio;

// Screenshots for review of the analysis strip with a report under the demo project, both faces of
// the live meter and the settings window with the missing-microphone warning ("<name>-<lang>.png").
// `advance` moves the studio's virtual time by the seconds given and runs what falls due. False
// when a file could not be written.
bool renderMeterPanelShots(Studio& studio, const std::function<void(double)>& advance, const QString& folder,
                           const QString& lang);

}  // namespace tessoral
