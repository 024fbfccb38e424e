#pragma once

// Independent readers of our output: the ffprobe and ffmpeg programs and libebur128.

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
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
inline EbuMeasurement ebur128Measure(std::span<const float> interleaved, unsigned rate = 48000) {
    ebur128_state* st = ebur128_init(2, rate, EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
    ebur128_add_frames_float(st, interleaved.data(), interleaved.size() / 2);
    EbuMeasurement out{};
    double lufs = 0.0;
    ebur128_loudness_global(st, &lufs);
    if (std::isfinite(lufs)) out.lufs = lufs;
    const std::vector<float> tail(2 * 64, 0.0f);
    ebur128_add_frames_float(st, tail.data(), 64);
    double left = 0.0, right = 0.0;
    ebur128_true_peak(st, 0, &left);
    ebur128_true_peak(st, 1, &right);
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

}  // namespace tessoral::test
