#include "processing/SpectralAnalysis.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "model/Frames.h"
#include "processing/FFT.h"

namespace tessoral {

std::array<std::uint8_t, 4> SpectrogramImage::pixel(int x, int y) const {
    const std::size_t at = (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 4;
    return {pixels[at], pixels[at + 1], pixels[at + 2], pixels[at + 3]};
}

namespace SpectralAnalysis {

namespace {

struct ColorStop {
    double position;
    double r, g, b;
};

constexpr std::array<ColorStop, 6> kStops{{
    {0.0, 9, 11, 13},
    {0.3, 24, 48, 96},
    {0.55, 38, 148, 158},
    {0.75, 96, 208, 120},
    {0.88, 238, 208, 96},
    {1.0, 255, 250, 235},
}};

constexpr double kSilentCell = -160.0;

std::uint8_t channelByte(double v) { return static_cast<std::uint8_t>(clampTo(std::trunc(v), 0.0, 255.0)); }

double usedRange(double dynamicRange) {
    if (!std::isfinite(dynamicRange)) return 66.0;
    return clampTo(dynamicRange, 20.0, 160.0);
}

}  // namespace

std::array<RGB, 256> colorTable() {
    std::array<RGB, 256> table{};
    for (int i = 0; i < 256; ++i) {
        const double t = static_cast<double>(i) / 255.0;
        std::size_t s = 0;
        while (s < kStops.size() && kStops[s].position < t) ++s;
        if (s == kStops.size()) s = kStops.size() - 1;
        const ColorStop& b = kStops[s];
        if (s == 0) {
            table[static_cast<std::size_t>(i)] = {channelByte(b.r), channelByte(b.g), channelByte(b.b)};
            continue;
        }
        const ColorStop& a = kStops[s - 1];
        const double u = (t - a.position) / std::max(b.position - a.position, 0.0001);
        table[static_cast<std::size_t>(i)] = {channelByte(a.r + (b.r - a.r) * u), channelByte(a.g + (b.g - a.g) * u),
                                              channelByte(a.b + (b.b - a.b) * u)};
    }
    return table;
}

std::vector<RowBand> rowBands(int height, SpectralScale scale) {
    // One row has no row step (1/(height − 1) would divide by zero): no bands at all.
    if (height < 2) return {};
    constexpr int half = kFrameLength / 2;
    std::vector<RowBand> bands(static_cast<std::size_t>(height));
    const double step = 1.0 / static_cast<double>(height - 1);
    for (int r = 0; r < height; ++r) {
        const double y = static_cast<double>(height - 1 - r) / static_cast<double>(height - 1);
        const double y2 = y + step;
        double f0 = SpectralAxis::frequency(y, scale);
        double f1 = SpectralAxis::frequency(std::min(y2, 1.0), scale);
        if (scale == SpectralScale::linear) {
            f0 = std::max(f0, 0.0);
            f1 = std::max(f1, 0.0);
        }
        const int lo = static_cast<int>(clampTo(std::trunc(f0 / kBinWidth), 0.0, static_cast<double>(half - 1)));
        const double top = clampTo(std::ceil(f1 / kBinWidth), 0.0, static_cast<double>(half));
        const int hi = std::min(std::max(static_cast<int>(top), lo + 1), half);
        bands[static_cast<std::size_t>(r)] = {lo, hi};
    }
    return bands;
}

std::optional<SpectrogramImage> spectrogram(const AudioData& audio, int height, int maxColumns,
                                            const SpectralDisplay& display) {
    const std::int64_t n = audio.frames();
    if (n == 0 || height < 2 || maxColumns < 1) return std::nullopt;

    const std::int64_t common = std::min<std::int64_t>(n, static_cast<std::int64_t>(audio.right.size()));
    const std::int64_t length = std::max<std::int64_t>(common, kFrameLength);
    const std::int64_t avail = length - kFrameLength;
    const std::int64_t hop = std::max<std::int64_t>(avail / maxColumns, kMinimumHop - 1) + 1;
    const std::int64_t columns64 = avail / hop + 1;
    // The image must stay addressable by a view (row bytes and total bytes within int range).
    if (columns64 * height > std::numeric_limits<std::int32_t>::max() / 4) return std::nullopt;
    const int columns = static_cast<int>(columns64);

    const std::vector<RowBand> bands = rowBands(height, display.scale);
    const std::vector<float> window = FFT::hann(kFrameLength);
    FFT fft(kFrameLength);
    std::vector<float> frame(kFrameLength), real(kFrameLength / 2), imag(kFrameLength / 2), mags(kFrameLength / 2 + 1);
    std::vector<double> cells(static_cast<std::size_t>(columns) * static_cast<std::size_t>(height), kSilentCell);
    double maxDB = kSilentCell;

    const float* left = audio.left.data();
    const float* right = audio.right.data();
    for (int x = 0; x < columns; ++x) {
        const std::int64_t start = x * hop;
        const std::int64_t inside = std::clamp<std::int64_t>(common - start, 0, kFrameLength);
        for (std::int64_t i = 0; i < inside; ++i) {
            frame[static_cast<std::size_t>(i)] = (left[start + i] + right[start + i]) * 0.5f * window[static_cast<std::size_t>(i)];
        }
        std::fill(frame.begin() + inside, frame.end(), 0.0f);
        fft.forward(frame, real, imag);
        fft.magnitudes(real, imag, mags);
        for (int r = 0; r < height; ++r) {
            const RowBand band = bands[static_cast<std::size_t>(r)];
            float v = 0.0f;
            for (int b = band.lo; b < band.hi; ++b) {
                if (mags[static_cast<std::size_t>(b)] > v) v = mags[static_cast<std::size_t>(b)];
            }
            const double cell = 20.0 * std::log10(static_cast<double>(v) + 1e-8);
            cells[static_cast<std::size_t>(r) * static_cast<std::size_t>(columns) + static_cast<std::size_t>(x)] = cell;
            maxDB = std::max(maxDB, cell);
        }
    }

    const double range = usedRange(display.dynamicRange);
    if (maxDB <= -150.0) maxDB = 0.0;
    const double bottom = maxDB - range;
    const std::array<RGB, 256> table = colorTable();
    std::vector<std::uint8_t> bytes(cells.size() * 4);
    for (std::size_t c = 0; c < cells.size(); ++c) {
        const double t = (cells[c] - bottom) / range;
        int index = 255;
        if (t < 0.0) {
            index = 0;
        } else if (t < 1.0) {
            index = static_cast<int>(255.0 * t);
        }
        const RGB colour = table[static_cast<std::size_t>(index)];
        bytes[4 * c] = colour.r;
        bytes[4 * c + 1] = colour.g;
        bytes[4 * c + 2] = colour.b;
        bytes[4 * c + 3] = 255;
    }
    return SpectrogramImage{columns, height, SharedArray<std::uint8_t>(std::move(bytes))};
}

}  // namespace SpectralAnalysis

}  // namespace tessoral
