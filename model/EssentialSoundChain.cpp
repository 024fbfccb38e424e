#include "model/EssentialSoundChain.h"

#include <charconv>
#include <cmath>
#include <set>

#include "model/Frames.h"
#include "model/Localization.h"

namespace tessoral {

namespace {

bool amountInRange(const EssentialAmount& a) { return std::isfinite(a.amount) && a.amount >= 0.0 && a.amount <= 10.0; }

// The text a double's standard description gives: the shortest digits that read back,
// ".0" on whole numbers, exponent notation below 1e-4 and from 2^53 on ("1e-05", "0.5", "1.0").
std::string description(double v) {
    if (std::isnan(v)) return "nan";
    if (std::isinf(v)) return v < 0 ? "-inf" : "inf";
    char buffer[64];
    const double magnitude = std::fabs(v);
    const bool exponent = magnitude != 0.0 && (magnitude < 1e-4 || magnitude >= 9007199254740992.0);
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, v,
                                 exponent ? std::chars_format::scientific : std::chars_format::fixed);
    std::string text(buffer, r.ptr);
    if (!exponent && text.find('.') == std::string::npos) text += ".0";
    return text;
}

EffectPreset eqPreset(DialogueEQ eq) {
    switch (eq) {
        case DialogueEQ::podcast: return EffectPreset::voice;
        case DialogueEQ::radio: return EffectPreset::bright;
        case DialogueEQ::warmVoice: return EffectPreset::warm;
        case DialogueEQ::telephone: return EffectPreset::telephone;
    }
    return EffectPreset::voice;
}

}  // namespace

std::string title(SoundType type) {
    switch (type) {
        case SoundType::dialogue: return L("Диалог");
        case SoundType::music: return L("Музыка");
        case SoundType::effects: return L("Эффекты#sfx");
        case SoundType::ambience: return L("Атмосфера");
    }
    return {};
}

bool isValid(const EssentialSound& s) {
    if (!(std::isfinite(s.targetLUFS) && s.targetLUFS >= -40.0 && s.targetLUFS <= -5.0)) return false;
    for (const EssentialAmount* a : {&s.reduceNoise, &s.reduceRumble, &s.removeHum, &s.deess, &s.dynamics, &s.eq,
                                     &s.enhance, &s.reverb}) {
        if (!amountInRange(*a)) return false;
    }
    if (!(std::isfinite(s.panorama.amount) && std::fabs(s.panorama.amount) <= 10.0)) return false;
    if (s.humFrequency && *s.humFrequency != 50 && *s.humFrequency != 60) return false;
    if (s.slotIDs.size() > 8) return false;
    std::set<Uuid> seen;
    for (const auto& [role, id] : s.slotIDs) {
        if (!fromRaw<EssentialRole>(role)) return false;
        if (!seen.insert(id).second) return false;
    }
    return true;
}

std::vector<ChainEntry> chain(const EssentialSound& s) {
    std::vector<ChainEntry> entries;
    auto candidate = [&](EssentialRole role, const EssentialAmount& option, EffectPreset preset) {
        if (!option.enabled || !std::isfinite(option.amount)) return;
        const double wet = std::min(option.amount / 10.0, 1.0);
        if (wet > 0.0) entries.push_back({role, preset, wet});
    };
    switch (s.type) {
        case SoundType::dialogue:
            candidate(EssentialRole::denoise, s.reduceNoise, EffectPreset::autoDenoise);
            candidate(EssentialRole::rumble, s.reduceRumble, EffectPreset::lowCut);
            candidate(EssentialRole::hum, s.removeHum,
                      s.humFrequency == 60 ? EffectPreset::dehum60 : EffectPreset::dehum50);
            candidate(EssentialRole::deess, s.deess, EffectPreset::deesser);
            candidate(EssentialRole::dynamics, s.dynamics, EffectPreset::compressor);
            candidate(EssentialRole::eq, s.eq, eqPreset(s.eqPreset));
            candidate(EssentialRole::enhance, s.enhance, EffectPreset::bright);
            break;
        case SoundType::effects: candidate(EssentialRole::reverb, s.reverb, EffectPreset::reverb); break;
        case SoundType::ambience: candidate(EssentialRole::reverb, s.reverb, EffectPreset::hall); break;
        case SoundType::music: break;
    }
    return entries;
}

std::vector<std::string> chainSignature(const EssentialSound& s) {
    std::vector<std::string> texts;
    for (const ChainEntry& e : chain(s)) {
        texts.push_back(std::string(rawValue(e.role)) + ":" + std::string(rawValue(e.preset)) + ":" +
                        description(e.wet));
    }
    return texts;
}

std::optional<double> pan(const EssentialSound& s) {
    if (s.type != SoundType::effects || !s.panorama.enabled) return std::nullopt;
    // A non-finite amount (refused by isValid) gives the centre rather than NaN.
    if (std::isnan(s.panorama.amount)) return 0.0;
    return clampTo(s.panorama.amount / 10.0, -1.0, 1.0);
}

bool ducks(const EssentialSound& s) {
    return (s.type == SoundType::music || s.type == SoundType::ambience) && s.duckUnderDialogue;
}

}  // namespace tessoral
