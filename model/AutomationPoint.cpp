#include "model/AutomationPoint.h"

#include <cmath>
#include <numbers>

namespace tessoral {

double fadeGain(FadeCurve curve, double t) {
    if (std::isnan(t) || t < 0.0) t = 0.0;
    if (t > 1.0) t = 1.0;
    switch (curve) {
        case FadeCurve::linear: return t;
        case FadeCurve::logarithmic: return std::sin(t * std::numbers::pi * 0.5);
        case FadeCurve::cosine: return 0.5 - std::cos(t * std::numbers::pi) * 0.5;
    }
    return t;
}

PlistValue AutomationPoint::stored() const {
    PlistValue v;
    v.add("time", time);
    v.add("value", value);
    return v;
}

AutomationPoint AutomationPoint::fromStored(const PlistValue& v) {
    return {stored::requireDouble(v, "time"), stored::requireDouble(v, "value")};
}

PlistValue storedEnvelope(const Envelope& points) {
    PlistValue::Array a;
    a.reserve(points.size());
    for (const auto& p : points) a.push_back(p.stored());
    return a;
}

Envelope envelopeFromStored(const PlistValue& v) {
    Envelope out;
    for (const auto& p : stored::array(v, "envelope")) out.push_back(AutomationPoint::fromStored(p));
    return out;
}

}  // namespace tessoral
