#pragma once

#include <array>
#include <string_view>
#include <utility>
#include <vector>

#include "model/EnumTraits.h"
#include "model/PlistValue.h"

namespace tessoral {

// The shape of a fade.
enum class FadeCurve { linear, logarithmic, cosine };

template <>
struct EnumTraits<FadeCurve> {
    static constexpr std::array<std::pair<FadeCurve, std::string_view>, 3> cases{{
        {FadeCurve::linear, "linear"},
        {FadeCurve::logarithmic, "logarithmic"},
        {FadeCurve::cosine, "cosine"},
    }};
};

// The gain of the shape at t (clamped to 0…1).
double fadeGain(FadeCurve curve, double t);

// One envelope point: time in seconds from the clip start, value in dB (volume) or −1…+1 (pan).
struct AutomationPoint {
    double time = 0.0;
    double value = 0.0;

    friend bool operator==(const AutomationPoint&, const AutomationPoint&) = default;

    PlistValue stored() const;
    static AutomationPoint fromStored(const PlistValue& v);
};

using Envelope = std::vector<AutomationPoint>;

PlistValue storedEnvelope(const Envelope& points);
Envelope envelopeFromStored(const PlistValue& v);

// Volume and pan automation over a clip's whole untrimmed material (head handle + clip +
// tail handle), time 0 at the first frame of the head handle.
struct HandleEnvelopes {
    Envelope volume;
    Envelope pan;
    friend bool operator==(const HandleEnvelopes&, const HandleEnvelopes&) = default;
};

}  // namespace tessoral
