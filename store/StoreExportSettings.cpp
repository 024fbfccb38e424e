// Export defaults: the export settings read from and written to the per-user settings.

#include <cmath>
#include <limits>
#include <variant>

#include "model/Defaults.h"
#include "model/EnumTraits.h"
#include "store/StudioStore.h"

namespace tessoral {

namespace {

constexpr const char* kFormatKey = "export.default.format";
constexpr const char* kNormalizeKey = "export.default.normalize";
constexpr const char* kLoudnessKey = "export.default.loudness";
constexpr const char* kSampleRateKey = "export.default.samplerate";
constexpr const char* kDitherKey = "export.default.dither";

std::string lowered(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return out;
}

}  // namespace

std::optional<bool> StudioStore::boolSetting(const std::string& key) const {
    const auto v = defaults().value(key);
    if (!v) return std::nullopt;
    if (const auto* b = std::get_if<bool>(&*v)) return *b;
    if (const auto* i = std::get_if<long long>(&*v)) return *i != 0;
    if (const auto* d = std::get_if<double>(&*v)) return *d != 0 && !std::isnan(*d);
    if (const auto* s = std::get_if<std::string>(&*v)) {
        const std::string text = lowered(*s);
        if (text == "true" || text == "yes" || text == "1") return true;
        if (text == "false" || text == "no" || text == "0" || text.empty()) return false;
    }
    return std::nullopt;
}

ExportOptions StudioStore::exportOptions() const {
    return ExportOptions{exportFormat_, exportSampleRate_, exportLoudness_, exportDither_};
}

void StudioStore::loadExportDefaults() {
    if (const auto format = defaults().string(kFormatKey))
        if (const auto parsed = fromRaw<ExportFormat>(*format)) setExportFormat(*parsed);

    // Absent: on. Present: its Boolean reading (a value that is no Boolean reads as false).
    setExportNormalize(defaults().value(kNormalizeKey) ? boolSetting(kNormalizeKey).value_or(false) : true);

    const auto loudness = defaults().string(kLoudnessKey);
    if (const auto parsed = loudness ? fromRaw<LoudnessTarget>(*loudness) : std::nullopt) {
        setExportLoudness(*parsed);
    } else {
        setExportLoudness(exportNormalize_ ? LoudnessTarget::peak : LoudnessTarget::none);
        defaults().set(kLoudnessKey, std::string(rawValue(exportLoudness_)));
    }

    if (const auto hertz = defaults().integer(kSampleRateKey))
        if (*hertz > 0 && *hertz <= std::numeric_limits<int>::max())
            if (const auto rate = tessoral::exportSampleRate(static_cast<int>(*hertz))) setExportSampleRate(*rate);

    setExportDither(defaults().value(kDitherKey) ? boolSetting(kDitherKey).value_or(false) : true);
}

void StudioStore::saveExportDefaults() {
    setExportNormalize(exportLoudness_ != LoudnessTarget::none);
    defaults().set(kFormatKey, std::string(rawValue(exportFormat_)));
    defaults().set(kNormalizeKey, exportNormalize_);
    defaults().set(kLoudnessKey, std::string(rawValue(exportLoudness_)));
    defaults().set(kSampleRateKey, static_cast<long long>(rawValue(exportSampleRate_)));
    defaults().set(kDitherKey, exportDither_);
}

}  // namespace tessoral
