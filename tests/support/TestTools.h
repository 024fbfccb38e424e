#pragma once

// Independent readers of our output: the ffprobe and ffmpeg programs, libebur128 and a slow
// 16x reconstruction.

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <numbers>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "model/AudioData.h"
#include "model/BplistTestSupport.h"

namespace tessoral::test {

// Everything the shell command writes to its standard output.
inline std::string commandOutput(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
        ::pclose(pipe);
    }
    return out;
}

// ffprobe's value of one entry of the first audio stream ("sample_rate", "duration_ts", …).
inline std::string ffprobe(const std::filesystem::path& file, const std::string& entry) {
    std::string out = commandOutput("ffprobe -v error -select_streams a:0 -show_entries stream=" + entry +
                                    " -of csv=p=0 '" + file.string() + "'");
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

// The file decoded by the ffmpeg program, interleaved, as raw "s32le", "s16le" or "f32le".
template <class T>
std::vector<T> ffmpegDecode(const std::filesystem::path& file, const std::string& rawFormat) {
    const std::string bytes =
        commandOutput("ffmpeg -v error -i '" + file.string() + "' -f " + rawFormat + " -acodec pcm_" + rawFormat + " -");
    std::vector<T> samples(bytes.size() / sizeof(T));
    // An empty vector's data() may be null, which memcpy must not be given even for 0 bytes.
    if (!samples.empty()) std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(T));
    return samples;
}

// Sorted names of everything in the folder.
inline std::vector<std::string> folderEntries(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

struct EbuMeasurement {
    std::optional<double> lufs;  // none when no block passes the gates
    double truePeakDB;
};

// libebur128's integrated loudness and true peak of interleaved stereo. Silence after the end
// flushes its interpolator, which otherwise never sees the last samples against the zeros that
// follow them (our meter does).
inline EbuMeasurement ebur128Measure(std::span<const float> interleaved, unsigned rate = 48000, bool truePeak = true) {
    ebur128_state* st = ebur128_init(2, rate, truePeak ? EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK : EBUR128_MODE_I);
    ebur128_add_frames_float(st, interleaved.data(), interleaved.size() / 2);
    EbuMeasurement out{};
    double lufs = 0.0;
    ebur128_loudness_global(st, &lufs);
    if (std::isfinite(lufs)) out.lufs = lufs;
    const std::vector<float> tail(2 * 64, 0.0f);
    ebur128_add_frames_float(st, tail.data(), 64);
    double left = 0.0, right = 0.0;
    if (truePeak) ebur128_true_peak(st, 0, &left), ebur128_true_peak(st, 1, &right);
    out.truePeakDB = 20.0 * std::log10(std::max(left, right));
    ebur128_destroy(&st);
    return out;
}

inline EbuMeasurement ebur128Measure(const AudioData& audio) {
    std::vector<float> interleaved(2 * audio.left.size());
    for (std::size_t i = 0; i < audio.left.size(); ++i) {
        interleaved[2 * i] = audio.left[i];
        interleaved[2 * i + 1] = audio.right[i];
    }
    return ebur128Measure(interleaved);
}


// The ffmpeg program's ebur128 meter's true peak of the file, dBTP (to 0.1 dB, as it prints it);
// NaN when it printed none.
inline double ffmpegTruePeak(const std::filesystem::path& file) {
    const std::string text =
        commandOutput("ffmpeg -hide_banner -nostats -i '" + file.string() + "' -af ebur128=peak=true -f null - 2>&1");
    const std::size_t section = text.rfind("True peak:");
    const std::size_t at = section == std::string::npos ? section : text.find("Peak:", section + 10);
    return at == std::string::npos ? std::nan("") : std::strtod(text.c_str() + at + 5, nullptr);
}

// The peak of interleaved stereo reconstructed at 16x in double precision by a Kaiser-windowed
// sinc of 128 taps (flat to 0.49 of the rate), in dBFS. Slow: only the sample intervals with a
// sample of at least half the largest within 8 frames are interpolated; a peak far from every
// large sample cannot outgrow them.
inline double reconstructedPeak16(std::span<const float> interleaved) {
    constexpr int kPhases = 16, kHalf = 64;
    const auto bessel = [](double x) {
        double sum = 1.0, term = 1.0;
        for (int k = 1; k < 80; ++k) sum += (term *= (x / (2.0 * k)) * (x / (2.0 * k)));
        return sum;
    };
    static const std::vector<double> kernels = [&] {
        std::vector<double> k(kPhases * 2 * kHalf);
        for (int phase = 1; phase < kPhases; ++phase)
            for (int j = -kHalf + 1; j <= kHalf; ++j) {
                const double u = double(phase) / kPhases - j, r = u / kHalf;
                const double sinc = std::sin(std::numbers::pi * u) / (std::numbers::pi * u);
                k[phase * 2 * kHalf + j + kHalf - 1] = sinc * bessel(10.0 * std::sqrt(std::max(0.0, 1.0 - r * r))) / bessel(10.0);
            }
        return k;
    }();
    const std::size_t frames = interleaved.size() / 2;
    double peak = 0.0;
    for (std::size_t c = 0; c < 2; ++c) {
        auto x = [&](std::ptrdiff_t i) { return i < 0 || std::size_t(i) >= frames ? 0.0 : double(interleaved[2 * std::size_t(i) + c]); };
        double largest = 0.0;
        for (std::size_t i = 0; i < frames; ++i) largest = std::max(largest, std::fabs(x(std::ptrdiff_t(i))));
        peak = std::max(peak, largest);
        std::ptrdiff_t lastLarge = -1000;
        for (std::ptrdiff_t i = 0, ahead = 0; i < std::ptrdiff_t(frames); ++i) {
            for (; ahead <= i + 8 && ahead < std::ptrdiff_t(frames); ++ahead)
                if (std::fabs(x(ahead)) >= 0.5 * largest) lastLarge = ahead;
            bool near = lastLarge >= i - 8;
            if (!near) continue;
            for (int phase = 1; phase < kPhases; ++phase) {
                double v = 0.0;
                const double* k = &kernels[phase * 2 * kHalf];
                for (int j = -kHalf + 1; j <= kHalf; ++j) v += x(i + j) * k[j + kHalf - 1];
                peak = std::max(peak, std::fabs(v));
            }
        }
    }
    return 20.0 * std::log10(peak);
}

}  // namespace tessoral::test
