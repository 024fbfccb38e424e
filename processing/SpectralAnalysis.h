#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "model/AudioData.h"
#include "model/SharedArray.h"
#include "processing/SpectralScale.h"

namespace tessoral {

// The spectrogram's display settings.
struct SpectralDisplay {
    SpectralScale scale = SpectralScale::log;
    // dB span from the loudest cell down to the darkest colour; used clamped to 20 … 160,
    // non-finite values as 66.
    double dynamicRange = 66.0;
    friend bool operator==(const SpectralDisplay&, const SpectralDisplay&) = default;
};

// An 8-bit RGBA image, rows top to bottom, 4·width bytes a row, alpha last and premultiplied
// (every alpha of a spectrogram is 255). The bytes are shared between copies, so a cache can hold
// the image and a view can wrap `pixels.data()` without copying it.
struct SpectrogramImage {
    int width = 0;
    int height = 0;
    SharedArray<std::uint8_t> pixels;

    int bytesPerRow() const { return 4 * width; }
    // The R, G, B, A bytes of the pixel at column x, row y (row 0 at the top).
    std::array<std::uint8_t, 4> pixel(int x, int y) const;
};

struct RGB {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    friend bool operator==(const RGB&, const RGB&) = default;
};

namespace SpectralAnalysis {

inline constexpr int kFrameLength = 1024;
inline constexpr int kMinimumHop = 256;
inline constexpr double kBinWidth = 48000.0 / kFrameLength;  // 46.875 Hz

// The 256-entry colour ramp, dark blue-grey (entry 0) to near white (entry 255).
std::array<RGB, 256> colorTable();

// The FFT bins lo ..< hi of 1024-point frames that image row r (0 at the top) shows, for a
// spectrogram of `height` rows on `scale`. Heights below 2 have no rows.
struct RowBand {
    int lo = 0;
    int hi = 0;
    friend bool operator==(const RowBand&, const RowBand&) = default;
};
std::vector<RowBand> rowBands(int height, SpectralScale scale);

// Colour image of the clip's short-time spectrum: 1024-point Hann frames of the channels' mean at a
// hop of at least 256 frames, at most maxColumns columns, `height` rows with the highest
// frequencies at the top, levels relative to the loudest cell. Nothing for an empty clip, a height
// below 2, a non-positive column limit or an image too large to address.
std::optional<SpectrogramImage> spectrogram(const AudioData& audio, int height, int maxColumns,
                                            const SpectralDisplay& display);

}  // namespace SpectralAnalysis

}  // namespace tessoral
