#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "model/EffectSlot.h"
#include "model/Uuid.h"

namespace tessoral {

// A named effect chain saved from one clip's rack, to be applied to others.
struct EffectFavorite {
    Uuid id = Uuid::random();
    std::string name;               // 1…120 characters after trimming
    std::vector<EffectSlot> slots;  // at most 8

    friend bool operator==(const EffectFavorite&, const EffectFavorite&) = default;
};

// The favourites file: a JSON array of favourites in the user's data folder, read tolerantly
// (a damaged entry is skipped, the others load) and written atomically.
class FavoritesStore {
public:
    static constexpr std::size_t kMaxFavorites = 200;
    static constexpr std::uintmax_t kMaxFileBytes = 8'388'608;  // 8 MiB
    static constexpr std::size_t kMaxNameCharacters = 120;
    static constexpr std::size_t kMaxSlots = 8;
    static constexpr std::size_t kMaxParameters = 64;
    // JSON nested deeper than this is damage, not a favourites file.
    static constexpr int kMaxNesting = 512;

    // The store of the default file.
    FavoritesStore();
    explicit FavoritesStore(std::filesystem::path url);

    // <data folder>/Favorites.json (see AppPaths).
    static std::filesystem::path defaultURL();
    const std::filesystem::path& url() const { return url_; }

    // The accepted favourites in file order; empty when there is no file. Throws StudioError
    // for a file over 8 MiB (refused before it is read) and PlatformError when the file cannot
    // be read or is not a JSON array. After such a failure the next save keeps the unreadable
    // file beside the new one instead of replacing it.
    std::vector<EffectFavorite> load();

    // Writes the first 200 favourites (creating the folder, mode 0700, when missing). When the
    // last load failed on an existing file, that file is first renamed to
    // "<name>-unreadable-YYYYMMDD-HHMMSS.json" beside it. Throws PlatformError.
    void save(const std::vector<EffectFavorite>& favorites);

    // Where the last save kept an unreadable file; none when it kept nothing.
    const std::optional<std::filesystem::path>& keptUnreadableFile() const { return kept_; }

    // The accepted favourites of a file's contents. Throws PlatformError (naming `fileName`)
    // when the data are not a JSON array.
    static std::vector<EffectFavorite> decode(std::string_view data, std::string_view fileName = "Favorites.json");
    // Pretty-printed JSON with sorted keys of the first 200 favourites. Throws PlatformError
    // for a number that JSON cannot hold (not finite).
    static std::string encode(const std::vector<EffectFavorite>& favorites, std::string_view fileName = "Favorites.json");

    // A favourite from a rack: the slots not in `excluding` (at most the first 8), the trimmed
    // name cut to 120 characters or "Цепочка" when empty, and a new id.
    static EffectFavorite favorite(std::string_view named, const std::vector<EffectSlot>& rack,
                                   const std::set<Uuid>& excluding);

    // A rack with the favourite's slots applied: copies with new ids and cleaned parameters,
    // after the whole rack (`append`) or after only the rack's slots in `keeping`; at most 8.
    static std::vector<EffectSlot> applying(const EffectFavorite& favorite, const std::vector<EffectSlot>& rack,
                                            bool append, const std::set<Uuid>& keeping);

private:
    std::filesystem::path url_;
    bool lastLoadUnreadable_ = false;
    std::optional<std::filesystem::path> kept_;
};

}  // namespace tessoral
