#include "model/RecordingPreferences.h"

#include <charconv>
#include <cmath>
#include <string>
#include <variant>

#include "model/Defaults.h"
#include "model/Frames.h"

namespace tessoral {

namespace {

// The typed readers of a settings store: a value of another kind converts where it sensibly
// can (numbers to each other and to booleans, numeric texts to numbers, "true"/"yes" texts to
// true); anything else, and an absent key, reads as false or 0.

std::optional<double> parseNumber(const std::string& text) {
    double v = 0;
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    while (begin < end && *begin == ' ') ++begin;
    if (begin < end && *begin == '+') ++begin;
    const auto [ptr, ec] = std::from_chars(begin, end, v);
    if (ec != std::errc() || ptr == begin) return std::nullopt;
    return v;
}

double doubleFor(const Defaults& defaults, const char* key) {
    const auto v = defaults.value(key);
    if (!v) return 0;
    if (const auto* d = std::get_if<double>(&*v)) return *d;
    if (const auto* i = std::get_if<long long>(&*v)) return static_cast<double>(*i);
    if (const auto* b = std::get_if<bool>(&*v)) return *b ? 1 : 0;
    if (const auto* s = std::get_if<std::string>(&*v)) return parseNumber(*s).value_or(0);
    return 0;
}

long long integerFor(const Defaults& defaults, const char* key) {
    const auto v = defaults.value(key);
    if (!v) return 0;
    if (const auto* i = std::get_if<long long>(&*v)) return *i;
    return truncSaturating(doubleFor(defaults, key));
}

bool boolFor(const Defaults& defaults, const char* key) {
    const auto v = defaults.value(key);
    if (!v) return false;
    if (const auto* b = std::get_if<bool>(&*v)) return *b;
    if (const auto* s = std::get_if<std::string>(&*v)) {
        std::string lower;
        for (char c : *s) lower += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        if (lower == "true" || lower == "yes") return true;
    }
    const double d = doubleFor(defaults, key);
    return d != 0 && !std::isnan(d);
}

}  // namespace

RecordingPreferences RecordingPreferences::load(const Defaults& defaults) {
    RecordingPreferences p;
    p.playProject = defaults.value(kPlayProjectKey) ? boolFor(defaults, kPlayProjectKey) : true;
    p.preRoll = defaults.value(kPreRollKey)
                    ? static_cast<double>(clampTo<long long>(integerFor(defaults, kPreRollKey), 0, 3))
                    : 2.0;
    const double latency = doubleFor(defaults, kLatencyKey);
    p.latencyMilliseconds = std::isfinite(latency) ? clampTo(latency, -200.0, 200.0) : 0.0;
    p.monitorInput = boolFor(defaults, kMonitorKey);
    if (defaults.value(kMonitorLevelKey)) {
        const double level = doubleFor(defaults, kMonitorLevelKey);
        p.monitorLevel = std::isfinite(level) ? static_cast<float>(clampTo(level, 0.0, 1.0)) : 0.8f;
    } else {
        p.monitorLevel = 0.8f;
    }
    p.countdown = static_cast<int>(clampTo<long long>(integerFor(defaults, kCountdownKey), 0, 10));
    return p;
}

namespace RecordingLatency {

double total(double inputLatency, double outputLatency, double manualMilliseconds) {
    auto device = [](double x) { return std::isfinite(x) && x >= 0 ? std::min(x, 1.0) : 0.0; };
    const double manual = std::isfinite(manualMilliseconds) ? clampTo(manualMilliseconds, -200.0, 200.0) / 1000.0 : 0.0;
    return device(inputLatency) + device(outputLatency) + manual;
}

std::int64_t frames(double seconds, double sampleRate) {
    if (!std::isfinite(seconds)) return 0;
    return roundSaturating(seconds * sampleRate);
}

}  // namespace RecordingLatency

}  // namespace tessoral
