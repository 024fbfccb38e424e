#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>
#include <vector>

#include "model/AudioData.h"
#include "model/ExportFormat.h"
#include "model/LoudnessTarget.h"
#include "processing/Loudness.h"

namespace tessoral {

// The export sample rates; the raw value is the rate in hertz.
enum class ExportSampleRate { hz44100 = 44100, hz48000 = 48000, hz96000 = 96000 };

inline constexpr std::array<ExportSampleRate, 3> kExportSampleRates{ExportSampleRate::hz44100,
                                                                    ExportSampleRate::hz48000,
                                                                    ExportSampleRate::hz96000};

constexpr int rawValue(ExportSampleRate rate) { return static_cast<int>(rate); }

// The case of a rate in hertz; none for any other number.
constexpr std::optional<ExportSampleRate> exportSampleRate(int hertz) {
    for (const ExportSampleRate rate : kExportSampleRates)
        if (rawValue(rate) == hertz) return rate;
    return std::nullopt;
}

// What the user chose for one export.
struct ExportOptions {
    ExportFormat format = ExportFormat::wav24;
    ExportSampleRate sampleRate = ExportSampleRate::hz48000;
    LoudnessTarget loudness = LoudnessTarget::none;
    bool dither = false;  // TPDF dither for "wav16"

    // The rate actually written: AAC goes no higher than 48 kHz.
    ExportSampleRate effectiveSampleRate() const {
        return isAAC(format) && sampleRate == ExportSampleRate::hz96000 ? ExportSampleRate::hz48000 : sampleRate;
    }
    friend bool operator==(const ExportOptions&, const ExportOptions&) = default;
};

// What one export wrote.
struct ExportResult {
    // Integrated loudness of the normalised 48 kHz mix; true and sample peak of the written signal
    // before dither and clipping. For a lossy format with a loudness target all three are those
    // of the file as written (decoded).
    LoudnessMeasurement measurement;
    // Some sample of the written signal lay beyond ±1.0 before dither and clipping (never for
    // "wav32f", which keeps such samples).
    bool clipped = false;
    std::int64_t frames = 0;
    // Encodings the file was chosen from: more than one where a lossy encoder overshot the
    // ceiling (those run ahead on spare cores and not needed are not counted).
    int encodings = 1;
    friend bool operator==(const ExportResult&, const ExportResult&) = default;
};

// Turns a finished 48 kHz stereo mix into an audio file.
namespace ExportPipeline {

// Normalises the mix to the loudness target, converts it to the effective rate (correcting the
// peak again after conversion: the sample peak for `peak`, the true-peak ceiling for the LUFS
// targets), dithers "wav16" when asked and writes the file. Throws what resample and write throw.
ExportResult exportMix(const AudioData& audio, const std::filesystem::path& target, const ExportOptions& options);

// The converter's input block and the writer's block, in frames.
inline constexpr std::int64_t kConverterBlock = 32768;
inline constexpr std::int64_t kWriterBlock = 65536;
// The dither generator's seed for exports.
inline constexpr std::uint64_t kDitherSeed = 0x9e3779b97f4a7c15ull;

// Converts 48 kHz audio to `rate` hertz at the converter's highest quality; the result has
// round(frames × rate / 48000) frames. Audio at exactly 48000 or without frames comes back as it is.
// Throws StudioError when the conversion cannot be set up (a rate outside 1 … 768000 Hz included)
// and PlatformError when the converter fails.
AudioData resample(const AudioData& audio, double rate);

// Quantises both channels to 16-bit steps with TPDF dither from a SplitMix64 generator that starts
// at `seed` and runs over the left channel, then on over the right.
void dither16(AudioData& audio, std::uint64_t seed);

// Writes the audio at `sampleRate` hertz into `target` in `format`, atomically (AtomicFile): the
// target is replaced only by a complete file, flushed to disk with its folder. Samples are clipped
// to ±1.0 except for "wav32f". Throws PlatformError when the file cannot be written (the target is
// then untouched) and StudioError when memory for the audio cannot be had; the temporary file is
// removed in every case.
void write(const AudioData& audio, double sampleRate, const std::filesystem::path& target, ExportFormat format);

// The loudness and peaks of a written file, measured on what decoding it gives, in LUFS, dBTP
// and dBFS.
struct WrittenPeaks {
    std::optional<double> lufs;
    double truePeak = -std::numeric_limits<double>::infinity();
    double samplePeak = -std::numeric_limits<double>::infinity();
    int passes = 0;  // encodings the file was chosen from (see ExportResult::encodings)
};

// Encodings writeWithinCeiling may start to bring a lossy file under its ceiling, and how far
// under the ceiling (dB) it aims.
inline constexpr int kCeilingPasses = 24;
inline constexpr double kCeilingMargin = 0.1;

// Writes an AAC file like write(), encoded in stretches side by side (AacStretches), and measures
// it on what a player decodes from it (at the file's own rate; the loudness at 48 kHz). Where
// its peak as a player reconstructs it (AacStretches::peaks) passes `ceilingDBTP` less
// kCeilingMargin (a lossy encoder's overshoot), the signal is encoded again at plain gains a
// quarter dB apart from the top down, up to `maxPasses` encodings (at least one; the last goes
// well under the gain its overshoot asks for). The file is the first that lands at or under the
// aim (or, when none does, the last, the quietest); the others never reach the disk. Which gains
// are tried and which is the file never depend on the number of cores or on which encoding ends
// first. Returns the loudness (at 48 kHz) and peaks of the file as written, the true peak on the
// 4x meter.
WrittenPeaks writeWithinCeiling(const AudioData& audio, double sampleRate, const std::filesystem::path& target,
                                ExportFormat format, double ceilingDBTP, int maxPasses = kCeilingPasses);

// For tests: while set, the end of the signal's first encoding is told to the search only once
// every other encoding started beside it has ended (as when its thread is held back on a busy
// machine).
void holdFirstEncodingForTesting(bool hold);

// For tests: each encoding the last writeWithinCeiling started, in the order of its tries: its
// gain, whether it ended over the aim, how many frames of the signal its encoders were given, and
// whether it is the file, and how many encodings started before it.
struct TriedEncoding {
    double gainDB = 0.0;
    bool over = false;
    std::int64_t frames = 0;
    bool file = false;
    int started = 0;
};
std::vector<TriedEncoding> lastTriesForTesting();

// For tests: the highest niceness any encoding job of writeWithinCeiling ran at since the last
// call (the lowest int when none ran).
int highestEncodingNiceForTesting();

}  // namespace ExportPipeline

}  // namespace tessoral
