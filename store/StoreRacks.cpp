// The effect rack of a clip: adding, changing, reordering and removing slots, the chain bypass,
// and rendering the rack into the clip's own audio.

#include <algorithm>
#include <cmath>
#include <utility>

#include "model/Limits.h"
#include "model/Localization.h"
#include "processing/RackRenderer.h"
#include "store/StudioStore.h"

namespace tessoral {

namespace {

bool holdsSlot(const Track& clip, const Uuid& slotID) {
    return std::any_of(clip.rack.begin(), clip.rack.end(), [&](const EffectSlot& s) { return s.id == slotID; });
}

}  // namespace

void StudioStore::addRackEffect(EffectPreset preset) {
    if (locked()) return;
    const auto index = selectedIndex();
    if (!index) return;
    const Track& clip = session_.tracks[*index];
    if (clip.rack.size() >= static_cast<std::size_t>(limits::kMaxRackSlots)) return;
    const Uuid id = clip.id;  // a copy: the session is replaced under changeTrack
    changeTrack(id, L("Эффект: {0}", tessoral::title(preset)),
                [preset](Track& t) { t.rack.push_back(EffectSlot(preset)); });
    setStatus(L("Эффект добавлен в цепочку"));
}

void StudioStore::updateRack(const Uuid& clipID, const Uuid& slotID,
                             const std::function<void(EffectSlot&)>& mutation) {
    const Track* clip = session_.track(clipID);
    if (!clip || !holdsSlot(*clip, slotID)) return;
    const Uuid id = clipID;  // the caller's reference may point into the session being replaced
    changeTrack(id, L("Настройка эффекта"), [&](Track& t) {
        const auto slot = std::find_if(t.rack.begin(), t.rack.end(), [&](const EffectSlot& s) { return s.id == slotID; });
        if (slot != t.rack.end()) mutation(*slot);
    });
}

void StudioStore::toggleRackSlotEnabled(const Uuid& clipID, const Uuid& slotID) {
    updateRack(clipID, slotID, [](EffectSlot& slot) { slot.enabled = !slot.enabled; });
}

void StudioStore::setRackSlotPreset(const Uuid& clipID, const Uuid& slotID, EffectPreset preset) {
    // The new preset starts from its own defaults.
    updateRack(clipID, slotID, [preset](EffectSlot& slot) {
        slot.preset = preset;
        slot.params.clear();
    });
}

void StudioStore::setRackSlotWet(const Uuid& clipID, const Uuid& slotID, double wet) {
    if (std::isnan(wet)) return;
    updateRack(clipID, slotID, [wet](EffectSlot& slot) { slot.wet = std::clamp(wet, 0.0, 1.0); });
}

void StudioStore::removeRackSlot(const Uuid& clipID, const Uuid& slotID) {
    const Track* clip = session_.track(clipID);
    if (!clip || !holdsSlot(*clip, slotID)) return;
    const Uuid id = clipID;
    changeTrack(id, L("Удаление эффекта"),
                [&](Track& t) { std::erase_if(t.rack, [&](const EffectSlot& s) { return s.id == slotID; }); });
}

void StudioStore::toggleRackBypass(const Uuid& clipID) {
    const Uuid id = clipID;
    changeTrack(id, L("Обход эффектов"), [](Track& t) { t.rackBypassed = !t.rackBypassed; });
}

void StudioStore::moveRackSlot(const Uuid& slotID, std::int64_t offset) {
    const auto index = selectedIndex();
    if (!index) return;
    const Track& clip = session_.tracks[*index];
    const auto found = std::find_if(clip.rack.begin(), clip.rack.end(), [&](const EffectSlot& s) { return s.id == slotID; });
    if (found == clip.rack.end()) return;
    const auto i = static_cast<std::int64_t>(found - clip.rack.begin());
    const auto count = static_cast<std::int64_t>(clip.rack.size());
    // An offset that would overflow is past either end as well.
    if (offset <= -count || offset >= count) return;
    const std::int64_t j = i + offset;
    if (j < 0 || j >= count) return;
    const Uuid id = clip.id;
    changeTrack(id, L("Порядок эффектов"), [i, j](Track& t) {
        std::swap(t.rack[static_cast<std::size_t>(i)], t.rack[static_cast<std::size_t>(j)]);
    });
}

void StudioStore::flattenRack() {
    if (locked()) return;
    const auto index = selectedIndex();
    if (!index) return;
    const Track& clip = session_.tracks[*index];
    if (clip.rack.empty() || clip.rackBypassed) return;
    stop();
    std::function<RefreshedAudio()> work = [clip = session_.tracks[*index]] {
        return RefreshedAudio::of(RackRenderer::render(clip));
    };
    std::function<void(RefreshedAudio&&)> apply = [this, index = *index](RefreshedAudio&& refreshed) {
        refreshClip(index, L("Применение цепочки"), std::move(refreshed), [](Track& t) {
            t.rack.clear();
            t.essentialSound.reset();
        });
        setStatus(L("Цепочка применена к звуку"));
    };
    runLong<RefreshedAudio>(L("Применение цепочки…"), std::move(work), std::move(apply));
}

}  // namespace tessoral
