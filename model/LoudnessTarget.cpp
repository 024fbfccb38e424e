#include "model/LoudnessTarget.h"

#include "model/Localization.h"

namespace tessoral {

std::string title(LoudnessTarget target) {
    switch (target) {
        case LoudnessTarget::none: return L("Без изменений");
        case LoudnessTarget::peak: return L("Пик −1 dBFS");
        case LoudnessTarget::streaming: return L("Стриминг −14 LUFS");
        case LoudnessTarget::podcast: return L("Подкаст −16 LUFS");
        case LoudnessTarget::ebu: return "EBU R128 −23 LUFS";
        case LoudnessTarget::atsc: return "ATSC A/85 −24 LUFS";
    }
    return {};
}

std::optional<double> targetLUFS(LoudnessTarget target) {
    switch (target) {
        case LoudnessTarget::none:
        case LoudnessTarget::peak: return std::nullopt;
        case LoudnessTarget::streaming: return -14.0;
        case LoudnessTarget::podcast: return -16.0;
        case LoudnessTarget::ebu: return -23.0;
        case LoudnessTarget::atsc: return -24.0;
    }
    return std::nullopt;
}

std::optional<double> truePeakCeiling(LoudnessTarget target) {
    switch (target) {
        case LoudnessTarget::none:
        case LoudnessTarget::peak: return std::nullopt;
        case LoudnessTarget::atsc: return -2.0;
        case LoudnessTarget::streaming:
        case LoudnessTarget::podcast:
        case LoudnessTarget::ebu: return -1.0;
    }
    return std::nullopt;
}

}  // namespace tessoral
