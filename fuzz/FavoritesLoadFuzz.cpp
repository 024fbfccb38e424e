// libFuzzer target: the favourites file reader on arbitrary bytes. Every input must either
// give favourites within the file's limits, which write and read back unchanged, or be
// refused with a PlatformError; anything else (a crash, another exception, a broken limit,
// a sanitizer report) is a finding.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <unordered_set>

#include "model/FavoritesStore.h"
#include "model/StudioError.h"
#include "model/UnicodeText.h"

using tessoral::FavoritesStore;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<tessoral::EffectFavorite> list;
    try {
        list = FavoritesStore::decode(std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const tessoral::PlatformError&) {
        return 0;
    }
    if (list.size() > FavoritesStore::kMaxFavorites) std::abort();
    std::unordered_set<tessoral::Uuid> ids;
    for (const auto& f : list) {
        if (!ids.insert(f.id).second) std::abort();
        if (f.name.empty() || tessoral::UnicodeText::characterCount(f.name) > FavoritesStore::kMaxNameCharacters)
            std::abort();
        if (f.slots.size() > FavoritesStore::kMaxSlots) std::abort();
        for (const auto& s : f.slots) {
            if (!std::isfinite(s.wet) || s.wet < 0 || s.wet > 1) std::abort();
            if (s.params.size() > FavoritesStore::kMaxParameters) std::abort();
            for (const auto& [key, value] : s.params)
                if (!std::isfinite(value)) std::abort();
        }
    }
    // What was accepted writes and reads back as it is (a name whose cut ends in white space
    // comes back trimmed).
    const auto back = FavoritesStore::decode(FavoritesStore::encode(list));
    if (back.size() != list.size()) std::abort();
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (back[i].id != list[i].id || back[i].slots != list[i].slots) std::abort();
        if (back[i].name != tessoral::UnicodeText::trimmingWhitespaceAndNewlines(list[i].name)) std::abort();
    }
    return 0;
}
