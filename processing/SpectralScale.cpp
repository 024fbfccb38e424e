#include "processing/SpectralScale.h"

#include <algorithm>
#include <cmath>

#include "model/Localization.h"

namespace tessoral {

namespace SpectralAxis {

double position(double frequency, SpectralScale scale) {
    if (scale == SpectralScale::linear) return frequency / kLinearTop;
    return std::log(std::max(frequency, 1.0) / kLogBottom) / kLogSpan;
}

double frequency(double position, SpectralScale scale) {
    if (scale == SpectralScale::linear) return position * kLinearTop;
    return kLogBottom * std::pow(kLogRatio, position);
}

}  // namespace SpectralAxis

std::string title(SpectralScale scale) {
    switch (scale) {
        case SpectralScale::log: return L("Лог");
        case SpectralScale::linear: return L("Линейная");
    }
    return {};
}

}  // namespace tessoral
