#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "model/EnumTraits.h"

namespace tessoral {

// The export file formats; the raw value is the stored export default.
enum class ExportFormat { wav24, wav16, wav32f, aiff24, flac, alac, aac256, aac192, aac128 };

template <>
struct EnumTraits<ExportFormat> {
    static constexpr std::array<std::pair<ExportFormat, std::string_view>, 9> cases{{
        {ExportFormat::wav24, "wav24"},
        {ExportFormat::wav16, "wav16"},
        {ExportFormat::wav32f, "wav32f"},
        {ExportFormat::aiff24, "aiff24"},
        {ExportFormat::flac, "flac"},
        {ExportFormat::alac, "alac"},
        {ExportFormat::aac256, "aac256"},
        {ExportFormat::aac192, "aac192"},
        {ExportFormat::aac128, "aac128"},
    }};
};

// Four-character codes of the audio formats.
inline constexpr std::uint32_t fourCC(const char (&c)[5]) {
    return (std::uint32_t(std::uint8_t(c[0])) << 24) | (std::uint32_t(std::uint8_t(c[1])) << 16) |
           (std::uint32_t(std::uint8_t(c[2])) << 8) | std::uint32_t(std::uint8_t(c[3]));
}

// The settings with which the export pipeline creates the output file.
struct ExportFormatSettings {
    std::uint32_t formatID = 0;       // 'lpcm', 'flac', 'alac' or 'aac '
    double sampleRate = 48000.0;      // replaced by the chosen export rate
    int channels = 2;
    std::optional<int> bitDepth;      // linear PCM and FLAC
    std::optional<bool> isFloat;      // linear PCM
    std::optional<bool> isBigEndian;  // linear PCM
    std::optional<int> encoderBitDepthHint;  // ALAC
    std::optional<int> bitRate;       // AAC, bits per second
    friend bool operator==(const ExportFormatSettings&, const ExportFormatSettings&) = default;
};

std::string title(ExportFormat format);
std::string_view fileExtension(ExportFormat format);
bool isAAC(ExportFormat format);
ExportFormatSettings settings(ExportFormat format);

}  // namespace tessoral
