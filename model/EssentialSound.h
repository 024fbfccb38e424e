#pragma once

#include <array>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "model/EnumTraits.h"
#include "model/PlistValue.h"
#include "model/Uuid.h"

namespace tessoral {

enum class SoundType { dialogue, music, effects, ambience };
enum class DialogueEQ { podcast, radio, warmVoice, telephone };
enum class EssentialRole { denoise, rumble, hum, deess, dynamics, eq, enhance, reverb };

template <>
struct EnumTraits<SoundType> {
    static constexpr std::array<std::pair<SoundType, std::string_view>, 4> cases{{
        {SoundType::dialogue, "dialogue"},
        {SoundType::music, "music"},
        {SoundType::effects, "effects"},
        {SoundType::ambience, "ambience"},
    }};
};

template <>
struct EnumTraits<DialogueEQ> {
    static constexpr std::array<std::pair<DialogueEQ, std::string_view>, 4> cases{{
        {DialogueEQ::podcast, "podcast"},
        {DialogueEQ::radio, "radio"},
        {DialogueEQ::warmVoice, "warmVoice"},
        {DialogueEQ::telephone, "telephone"},
    }};
};

template <>
struct EnumTraits<EssentialRole> {
    static constexpr std::array<std::pair<EssentialRole, std::string_view>, 8> cases{{
        {EssentialRole::denoise, "denoise"},
        {EssentialRole::rumble, "rumble"},
        {EssentialRole::hum, "hum"},
        {EssentialRole::deess, "deess"},
        {EssentialRole::dynamics, "dynamics"},
        {EssentialRole::eq, "eq"},
        {EssentialRole::enhance, "enhance"},
        {EssentialRole::reverb, "reverb"},
    }};
};

struct EssentialAmount {
    bool enabled = false;
    double amount = 5.0;
    friend bool operator==(const EssentialAmount&, const EssentialAmount&) = default;
};

// A clip's essential-sound settings and the ids of the rack slots generated from them.
struct EssentialSound {
    SoundType type = SoundType::dialogue;
    bool matchLoudness = true;
    double targetLUFS = -16.0;
    EssentialAmount reduceNoise;
    EssentialAmount reduceRumble;
    EssentialAmount removeHum;
    std::optional<int> humFrequency;
    EssentialAmount deess;
    EssentialAmount dynamics;
    EssentialAmount eq;
    DialogueEQ eqPreset = DialogueEQ::podcast;
    EssentialAmount enhance;
    EssentialAmount reverb;
    EssentialAmount panorama{false, 0.0};
    bool duckUnderDialogue = false;
    // Role raw value → id of the slot generated for that role.
    std::map<std::string, Uuid> slotIDs;

    EssentialSound() = default;
    explicit EssentialSound(SoundType t) : type(t) {}

    friend bool operator==(const EssentialSound&, const EssentialSound&) = default;

    PlistValue stored() const;
    // Throws DecodeError on a missing key, a wrong type or an unknown raw value.
    static EssentialSound fromStored(const PlistValue& v);
};

}  // namespace tessoral
