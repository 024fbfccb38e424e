// Parameters of one effect slot, and the favourite effect chains kept in the favourites file
// outside the project.

#include <algorithm>
#include <exception>
#include <set>
#include <utility>

#include "model/EffectParameters.h"
#include "model/Localization.h"
#include "model/UnicodeText.h"
#include "store/StudioStore.h"

namespace tessoral {

namespace {

// The ids of the rack slots that the clip's essential-sound settings generated.
std::set<Uuid> essentialSlotIDs(const Track& clip) {
    std::set<Uuid> ids;
    if (clip.essentialSound)
        for (const auto& [role, id] : clip.essentialSound->slotIDs) ids.insert(id);
    return ids;
}

}  // namespace

void StudioStore::setEffectParams(const Uuid& clipID, const Uuid& slotID, const std::map<std::string, double>& params) {
    if (locked()) return;
    const Track* clip = session_.track(clipID);
    if (!clip) return;
    const auto slot = std::find_if(clip->rack.begin(), clip->rack.end(), [&](const EffectSlot& s) { return s.id == slotID; });
    if (slot == clip->rack.end()) return;
    EffectParams cleaned = sanitized(slot->preset, params);
    if (cleaned == slot->params) return;
    const std::string presetTitle = tessoral::title(slot->preset);
    const std::string name = cleaned.empty() ? L("Сброс эффекта: {0}", presetTitle) : L("Параметры: {0}", presetTitle);
    const Uuid id = clipID;  // the caller's reference may point into the session being replaced
    changeTrack(id, name, [&](Track& t) {
        const auto target = std::find_if(t.rack.begin(), t.rack.end(), [&](const EffectSlot& s) { return s.id == slotID; });
        if (target != t.rack.end()) target->params = std::move(cleaned);
    });
    setStatus(L("Параметры эффекта изменены"));
}

void StudioStore::saveFavorite(const std::string& name) {
    const auto index = selectedIndex();
    if (!index) return;
    const Track& clip = session_.tracks[*index];
    if (clip.rack.empty()) return;
    EffectFavorite favorite = FavoritesStore::favorite(name, clip.rack, essentialSlotIDs(clip));
    if (favorite.slots.empty()) {
        setError(L("В цепочке только эффекты панели «Основной звук» — их настраивает сама панель"));
        return;
    }
    const std::string status = L("Цепочка «{0}» сохранена в избранное", favorite.name);
    auto list = favorites_;
    list.push_back(std::move(favorite));
    storeFavorites(std::move(list), status);
}

void StudioStore::renameFavorite(const Uuid& id, const std::string& name) {
    const std::string trimmed = UnicodeText::trimmingWhitespaceAndNewlines(name);
    if (trimmed.empty()) return;
    const auto found = std::find_if(favorites_.begin(), favorites_.end(), [&](const EffectFavorite& f) { return f.id == id; });
    if (found == favorites_.end()) return;
    // The stored form of the name: at most 120 characters. Renaming to what is stored already
    // changes nothing.
    std::string stored = UnicodeText::prefixCharacters(trimmed, FavoritesStore::kMaxNameCharacters);
    if (found->name == trimmed || found->name == stored) return;
    auto list = favorites_;
    list[static_cast<std::size_t>(found - favorites_.begin())].name = std::move(stored);
    storeFavorites(std::move(list), L("Избранное переименовано"));
}

void StudioStore::applyFavorite(const EffectFavorite& favorite, bool append) {
    if (locked()) return;
    const auto index = selectedIndex();
    if (!index) return;
    const Track& clip = session_.tracks[*index];
    std::vector<EffectSlot> rack = FavoritesStore::applying(favorite, clip.rack, append, essentialSlotIDs(clip));
    const Uuid id = clip.id;
    changeTrack(id, L("Избранное: {0}", favorite.name), [&](Track& t) {
        t.rack = std::move(rack);
        t.rackBypassed = false;
    });
    setStatus(append ? L("Цепочка «{0}» добавлена", favorite.name) : L("Цепочка «{0}» применена", favorite.name));
}

void StudioStore::deleteFavorite(const Uuid& id) {
    auto list = favorites_;
    std::erase_if(list, [&](const EffectFavorite& f) { return f.id == id; });
    storeFavorites(std::move(list), L("Избранное удалено"));
}

std::optional<std::filesystem::path> StudioStore::favoritesURL() const {
    if (!services_.dataFolder) return std::nullopt;
    return *services_.dataFolder / "Favorites.json";
}

void StudioStore::storeFavorites(std::vector<EffectFavorite> list, const std::string& status) {
    // The file holds at most 200 favourites: a longer list would lose its tail at the next start.
    if (list.size() > FavoritesStore::kMaxFavorites) {
        setError(L("В избранном может быть до {0} цепочек.", FavoritesStore::kMaxFavorites));
        return;
    }
    const auto url = favoritesURL();
    if (!url) {
        setError(L("Не удалось сохранить избранное: {0}", L("Папка данных недоступна.")));
        return;
    }
    if (!favoritesFile_ || favoritesFile_->url() != *url) {
        favoritesFile_ = std::make_unique<FavoritesStore>(*url);
        // Read once, so that a file on disk that cannot be read is kept beside the new one
        // instead of being replaced.
        try {
            (void)favoritesFile_->load();
        } catch (...) {
        }
    }
    try {
        favoritesFile_->save(list);
    } catch (...) {
        setError(L("Не удалось сохранить избранное: {0}", describe(std::current_exception())));
        return;
    }
    setFavorites(std::move(list));
    setStatus(status);
}

}  // namespace tessoral
