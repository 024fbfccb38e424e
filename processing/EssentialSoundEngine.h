#pragma once

#include <optional>
#include <vector>

#include "model/AudioData.h"
#include "model/EffectSlot.h"
#include "model/EssentialSound.h"

// Puts essential-sound settings into a clip's rack and tells 50 Hz from 60 Hz mains hum.
namespace tessoral::EssentialSoundEngine {

struct Applied {
    std::vector<EffectSlot> rack;
    std::optional<EssentialSound> settings;
};

// Removes the slots generated for `previous` and `settings`, then puts one fresh slot per chain
// entry of `settings` (empty parameters, the entry's wet, the on/off state of the slot it replaces)
// in front of the user's slots and records the slot ids by role in the returned settings.
// Absent settings only remove. Throws StudioError when the result would exceed the rack's slots;
// nothing is changed then.
Applied apply(const std::optional<EssentialSound>& settings, const std::optional<EssentialSound>& previous,
              const std::vector<EffectSlot>& rack);

// 60 when the first 30 s hold more energy at 60/120/180 Hz than at 50/100/150 Hz, otherwise 50
// (also for empty or silent audio).
int detectHum(const AudioData& audio);

}  // namespace tessoral::EssentialSoundEngine
