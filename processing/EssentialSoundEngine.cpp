#include "processing/EssentialSoundEngine.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <set>

#include "model/EssentialSoundChain.h"
#include "model/Limits.h"
#include "model/Localization.h"
#include "model/StudioError.h"

namespace tessoral::EssentialSoundEngine {

Applied apply(const std::optional<EssentialSound>& settings, const std::optional<EssentialSound>& previous,
              const std::vector<EffectSlot>& rack) {
    std::set<Uuid> generated;
    if (previous)
        for (const auto& [role, id] : previous->slotIDs) generated.insert(id);
    if (settings)
        for (const auto& [role, id] : settings->slotIDs) generated.insert(id);

    std::vector<EffectSlot> kept;
    kept.reserve(rack.size());
    for (const EffectSlot& slot : rack)
        if (!generated.count(slot.id)) kept.push_back(slot);

    if (!settings) return {std::move(kept), std::nullopt};

    std::map<std::string, Uuid> ids = settings->slotIDs;
    std::vector<EffectSlot> slots;
    std::set<Uuid> used;
    for (const ChainEntry& entry : chain(*settings)) {
        const std::string role(rawValue(entry.role));
        auto found = ids.find(role);
        Uuid id = found != ids.end() ? found->second : Uuid::random();
        // Two roles recorded with one id would put two slots with the same id into the rack.
        while (used.count(id)) id = Uuid::random();
        used.insert(id);
        ids[role] = id;

        EffectSlot slot(entry.preset);
        slot.id = id;
        slot.enabled = true;
        for (const EffectSlot& old : rack) {
            if (old.id == id) {
                slot.enabled = old.enabled;
                break;
            }
        }
        slot.wet = entry.wet;
        slots.push_back(std::move(slot));
    }

    if (slots.size() + kept.size() > static_cast<std::size_t>(limits::kMaxRackSlots))
        throw StudioError(L("В цепочке эффектов не хватает слотов: удалите лишние эффекты клипа."));

    slots.insert(slots.end(), std::make_move_iterator(kept.begin()), std::make_move_iterator(kept.end()));
    EssentialSound stored = *settings;
    stored.slotIDs = std::move(ids);
    return {std::move(slots), std::move(stored)};
}

int detectHum(const AudioData& audio) {
    constexpr std::int64_t kMaxFrames = 1'440'000;  // 30 s
    const std::int64_t n = std::min(audio.frames(), kMaxFrames);
    if (n <= 0) return 50;
    // A clip always holds as many right frames as left ones; read no further than both have.
    const std::int64_t count = std::min<std::int64_t>(n, static_cast<std::int64_t>(audio.right.size()));

    // Six Goertzel filters side by side in one pass: 50, 100, 150, 60, 120 and 180 Hz.
    constexpr std::array<double, 6> frequencies{50.0, 100.0, 150.0, 60.0, 120.0, 180.0};
    std::array<double, 6> k{}, s1{}, s2{};
    for (std::size_t j = 0; j < k.size(); ++j)
        k[j] = 2.0 * std::cos(2.0 * std::numbers::pi * frequencies[j] / 48000.0);

    const float* l = audio.left.data();
    const float* r = audio.right.data();
    for (std::int64_t i = 0; i < count; ++i) {
        const double x = static_cast<double>(l[i] + r[i]);  // the mono sum, in single precision
        for (std::size_t j = 0; j < k.size(); ++j) {
            const double s = x + k[j] * s1[j] - s2[j];
            s2[j] = s1[j];
            s1[j] = s;
        }
    }
    std::array<double, 6> power{};
    for (std::size_t j = 0; j < k.size(); ++j) power[j] = s1[j] * s1[j] + s2[j] * s2[j] - k[j] * s1[j] * s2[j];
    const double p50 = power[0] + power[1] + power[2];
    const double p60 = power[3] + power[4] + power[5];
    return p50 < p60 ? 60 : 50;
}

}  // namespace tessoral::EssentialSoundEngine
