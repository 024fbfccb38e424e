#pragma once

#include <QString>

#include <functional>

namespace tessoral {

class Studio;

// Screenshots for review: the demo project with a clip and a time selection, each menu of the
// menu bar open under its title ("menu-<name>-<lang>.png"), and the About panel
// ("about-<lang>.png"). `settle` runs the studio's posted calls and tasks. False when a file
// could not be written.
bool renderMenuShots(Studio& studio, const std::function<void()>& settle, const QString& folder, const QString& lang);

}  // namespace tessoral
