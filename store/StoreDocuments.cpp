// Document commands: new, open, import, save, export and the demo project.

#include "store/StudioStore.h"

namespace tessoral {

bool StudioStore::allowDiscard() { return !locked() && !dirty_; }
void StudioStore::newProject() {}
void StudioStore::openPanel() {}
void StudioStore::open(const std::vector<std::filesystem::path>&) {}
void StudioStore::importAudio(const std::vector<std::filesystem::path>&) {}
bool StudioStore::saveProject(bool) { return false; }
void StudioStore::exportMix() {}
void StudioStore::loadDemo() {}
Session StudioStore::isolatedExportSession() const { return Session{}; }
Session StudioStore::isolatedTrackSession() const { return Session{}; }
std::vector<Track> StudioStore::demoClips() { return {}; }

}  // namespace tessoral
