// Export: normalisation, conversion, dither and the file writers, checked with ffprobe, the ffmpeg
// decoder and libebur128 as independent readers.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <fstream>
#include <future>
#include <map>
#include <numbers>
#include <tuple>

#include "model/Localization.h"
#include "model/SplitMix64.h"
#include "model/StudioError.h"
#include "processing/AacStretches.h"
#include "processing/AudioEncoder.h"
#include "processing/ExportPipeline.h"
#include "processing/Loudness.h"
#include "processing/ReconstructionPeak.h"
#include "support/SpeechLike.h"
#include "support/TestAudio.h"
#include "support/TestSignals.h"
#include "support/TestTools.h"

using namespace tessoral;
using test::ffmpegDecode;
using test::folderEntries;
namespace fs = std::filesystem;

namespace {

// ffprobe's view of the first audio stream (and the container) as key → value.
std::map<std::string, std::string> probe(const fs::path& file) {
    const std::string text = test::commandOutput(
        "ffprobe -v error -select_streams a:0 -show_entries "
        "stream=codec_name,sample_fmt,sample_rate,channels,bits_per_sample,bits_per_raw_sample,duration_ts,bit_rate"
        ":format=format_name:format_tags=major_brand -of default=noprint_wrappers=1 '" + file.string() + "'");
    std::map<std::string, std::string> fields;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string line = text.substr(start, end - start);
        if (const auto eq = line.find('='); eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
        start = end + 1;
    }
    return fields;
}

// Nearest step of a signed integer format, halves away from zero, after the writer's clipping.
std::int64_t expectedStep(float x, double full) {
    return std::clamp<std::int64_t>(std::llround(std::clamp(double(x), -1.0, 1.0) * full), std::int64_t(-full),
                                    std::int64_t(full) - 1);
}

// Two tones, fixed-seed noise and a few samples beyond full scale.
AudioData programme(std::int64_t frames) {
    const AudioData noise = test::noise(frames, 0.2f, 11);
    const auto n = static_cast<std::size_t>(frames);
    std::vector<float> l = test::plus(noise.left.toVector(), test::sine(n, 440.0, 0.55));
    std::vector<float> r = test::plus(noise.right.toVector(), test::sine(n, 1250.0, 0.45, 0.3));
    if (frames > 3000) l[1000] = 1.4f, r[2000] = -1.3f;
    return AudioData(std::move(l), std::move(r));
}

float maxAbs(const std::vector<float>& v) { return test::peak(v); }

ExportOptions options(ExportFormat f, ExportSampleRate rate = ExportSampleRate::hz48000,
                      LoudnessTarget target = LoudnessTarget::none, bool dither = false) {
    return {f, rate, target, dither};
}

constexpr ExportFormat kFormats[] = {ExportFormat::wav24,  ExportFormat::wav16,  ExportFormat::wav32f,
                                     ExportFormat::aiff24, ExportFormat::flac,   ExportFormat::alac,
                                     ExportFormat::aac256, ExportFormat::aac192, ExportFormat::aac128};

struct Expected {
    const char* codec;
    const char* sampleFormat;
    int bits;  // bits_per_sample or bits_per_raw_sample; 0 for AAC
};

Expected expectedFor(ExportFormat f) {
    switch (f) {
        case ExportFormat::wav24: return {"pcm_s24le", "s32", 24};
        case ExportFormat::wav16: return {"pcm_s16le", "s16", 16};
        case ExportFormat::wav32f: return {"pcm_f32le", "flt", 32};
        case ExportFormat::aiff24: return {"pcm_s24be", "s32", 24};
        case ExportFormat::flac: return {"flac", "s32", 24};
        case ExportFormat::alac: return {"alac", "s32p", 24};
        default: return {"aac", "fltp", 0};
    }
}

// The start of the message for a file that could not be written.
std::string writeError(const fs::path& target) {
    return L("Не удалось записать аудиофайл «{0}»: {1}", target.filename().string(), "");
}

// Dense hits over pink noise at −40 dB: four a second, 15 ms noise bursts (the right channel the
// louder: a meter that reads one channel only tells) and clipped 180 Hz square bursts; in the
// last fifth the noise bursts are 2.5 ms long and four times as loud. Normalised, every hit
// meets the limiter and the encoder overshoots throughout, the more so late in the file.
AudioData denseHits(double seconds, std::uint64_t seed) {
    const auto n = static_cast<std::size_t>(seconds * 48000.0);
    SplitMix64 rng(seed);
    std::vector<float> l(n), r(n);
    double pink[2][3] = {};
    for (std::size_t i = 0; i < n; ++i) {
        for (int c = 0; c < 2; ++c) {
            const double w = rng.uniform();
            double* p = pink[c];
            p[0] = 0.99765 * p[0] + 0.0990460 * w;
            p[1] = 0.96300 * p[1] + 0.2965164 * w;
            p[2] = 0.57000 * p[2] + 1.0526913 * w;
            (c == 0 ? l : r)[i] = static_cast<float>(0.0025 * (p[0] + p[1] + p[2] + 0.1848 * w));
        }
    }
    for (std::size_t at = 2400, k = 0; at + 12000 < n; at += 12000, ++k) {
        const bool late = at >= n * 4 / 5, noise = k % 2 == 0;
        const double level = noise && late ? 2.8 : 0.7;
        const std::size_t length = noise ? (late ? 120 : 720) : 1440;
        for (std::size_t i = 0; i < length; ++i) {
            const double square = std::clamp(1.2 * std::sin(2.0 * std::numbers::pi * 180.0 * static_cast<double>(i) / 48000.0), -1.0, 1.0);
            l[at + i] += static_cast<float>(level * (noise ? 0.7 * rng.uniform() : square));
            r[at + i] += static_cast<float>(level * (noise ? rng.uniform() : square));
        }
    }
    return AudioData(std::move(l), std::move(r));
}

// A 1 kHz tone at −3 dBFS with a 5-ms gap every 30 s, at `rate`.
AudioData toneWithGaps(double seconds, int rate) {
    std::vector<float> tone = test::sine(static_cast<std::size_t>(seconds * rate), 1000.0, 0.708, 0.0, rate);
    for (std::size_t at = 30 * rate; at < tone.size(); at += 30 * rate)
        std::fill_n(tone.begin() + at, std::min<std::size_t>(rate / 200, tone.size() - at), 0.0f);
    return AudioData::mono(std::move(tone));
}

// Pop at 120 bpm: kick and snare on alternate beats, hats on the eighths, a bass line and chords,
// at `rate`; with `voice`, speech over it with the band 12 dB down; `ducked`, the speech in turns
// of eight seconds with three-second breaks, where the band comes back up.
AudioData pop(double seconds, std::uint64_t seed, int rate = 48000, bool voice = false, bool ducked = false) {
    const auto n = static_cast<std::size_t>(seconds * rate);
    const std::vector<float> speech = voice ? test::speechLike(rate, seconds, seed) : std::vector<float>(n);
    SplitMix64 rng(seed);
    std::vector<float> l(n), r(n);
    constexpr double roots[4] = {65.4, 55.0, 43.7, 49.0};
    const double tau = 2.0 * std::numbers::pi, band = voice ? 0.25 : 1.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / rate, beat = std::fmod(t, 0.5), eighth = std::fmod(t, 0.25);
        const auto bar = static_cast<std::size_t>(t / 2.0) % 4;
        const bool kick = static_cast<long>(t / 0.5) % 2 == 0;
        const double root = roots[bar], noise = rng.uniform(), hat = 0.12 * rng.uniform() * std::exp(-eighth * 90.0);
        double x = kick ? 0.7 * std::sin(tau * (45.0 * beat + 2.0 * (1.0 - std::exp(-beat * 30.0)))) * std::exp(-beat * 7.0)
                        : 0.45 * noise * std::exp(-beat * 18.0);
        x += 0.22 * std::sin(tau * root * t) + 0.05 * (std::sin(tau * 4 * root * t) + std::sin(tau * 5 * root * t) + std::sin(tau * 6 * root * t));
        const double turn = std::fmod(t, 11.0), talk = ducked ? std::clamp(std::min(turn, 8.0 - turn) / 0.2, 0.0, 1.0) : 1.0;
        const double bed = ducked ? 1.0 - 0.75 * talk : band, said = talk * (i < speech.size() ? speech[i] : 0.0f);
        l[i] = static_cast<float>(bed * (x + 0.7 * hat) + said);
        r[i] = static_cast<float>(bed * (x + 1.2 * hat) + said);
    }
    return AudioData(std::move(l), std::move(r));
}

// The peak an encoding is held to the ceiling by, as the export reads it.
double ceilingPeakDB(const AudioData& decoded) { return Loudness::decibels(reconstruction_peak::peakLinear(decoded)); }

AudioData deinterleaved(const std::vector<float>& interleaved) {
    std::vector<float> left(interleaved.size() / 2), right(left.size());
    for (std::size_t i = 0; i < left.size(); ++i) left[i] = interleaved[2 * i], right[i] = interleaved[2 * i + 1];
    return AudioData(std::move(left), std::move(right));
}

// The top-level box types of an MP4 file in order, read from their sizes; empty when a size
// runs past the file's end or under its own header, so bytes left after the last box (an
// earlier, longer encoding of the same file) give no list.
std::vector<std::string> topLevelBoxes(const fs::path& file) {
    const auto bytes = test::readFile(file);
    auto be = [&](std::size_t at, int count) {
        std::uint64_t v = 0;
        for (int i = 0; i < count; ++i) v = v << 8 | bytes[at + static_cast<std::size_t>(i)];
        return v;
    };
    std::vector<std::string> types;
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t left = bytes.size() - at;
        if (left < 8) return {};
        std::uint64_t size = be(at, 4);
        std::size_t header = 8;
        if (size == 1) {
            if (left < 16) return {};
            size = be(at + 8, 8);
            header = 16;
        } else if (size == 0) {
            size = left;
        }
        if (size < header || size > left) return {};
        types.emplace_back(reinterpret_cast<const char*>(bytes.data() + at + 4), 4);
        at += static_cast<std::size_t>(size);
    }
    return types;
}

}  // namespace

// ---- every format at every rate ----

class ExportFormatRate : public ::testing::TestWithParam<std::tuple<ExportFormat, ExportSampleRate>> {};

TEST_P(ExportFormatRate, WritesTheFormatAtTheRateAndDecodesBack) {
    const auto [format, rate] = GetParam();
    test::TempFolder folder;
    const fs::path target = folder / ("mix." + std::string(fileExtension(format)));
    const AudioData mix = programme(48000);
    const ExportResult result = ExportPipeline::exportMix(mix, target, options(format, rate));

    // One second: as many frames as the written rate; AAC is never written above 48 kHz.
    const int written = isAAC(format) && rate == ExportSampleRate::hz96000 ? 48000 : rawValue(rate);
    const std::int64_t frames = written;
    EXPECT_EQ(result.frames, frames);
    EXPECT_EQ(folderEntries(folder.path()), std::vector<std::string>{target.filename().string()});

    auto info = probe(target);
    const Expected expected = expectedFor(format);
    EXPECT_EQ(info["codec_name"], expected.codec);
    EXPECT_EQ(info["sample_fmt"], expected.sampleFormat);
    EXPECT_EQ(info["sample_rate"], std::to_string(written));
    EXPECT_EQ(info["channels"], "2");
    const bool lossless = format == ExportFormat::flac || format == ExportFormat::alac;
    if (expected.bits) {
        EXPECT_EQ(info[lossless ? "bits_per_raw_sample" : "bits_per_sample"], std::to_string(expected.bits));
    }
    EXPECT_EQ(info["duration_ts"], std::to_string(frames));
    if (fileExtension(format) == "m4a") {
        EXPECT_EQ(info["TAG:major_brand"], "M4A ");
    }

    // What the writer was given: the mix converted to the written rate.
    const AudioData out = ExportPipeline::resample(mix, written);
    ASSERT_EQ(out.frames(), frames);

    if (isAAC(format)) {
        // Lossy: the same signal within the codec's error. The decoder keeps the codec's end
        // padding; the stream states the true length (checked above).
        const auto decoded = ffmpegDecode<float>(target, "f32le");
        ASSERT_GE(decoded.size() / 2, std::size_t(frames));
        ASSERT_LT(decoded.size() / 2, std::size_t(frames + 1024));
        double signal = 0.0, error = 0.0;
        for (std::int64_t i = 0; i < frames; ++i) {
            const double l = std::clamp(out.left[i], -1.0f, 1.0f), r = std::clamp(out.right[i], -1.0f, 1.0f);
            signal += l * l + r * r;
            error += std::pow(decoded[2 * i] - l, 2) + std::pow(decoded[2 * i + 1] - r, 2);
        }
        // The waveform is coded, not stood in for: noise substitution or intensity stereo would
        // cost 1.5 … 3 dB here.
        const double snr = format == ExportFormat::aac256 ? 15.0 : (format == ExportFormat::aac192 ? 13.0 : 12.0);
        EXPECT_GT(10.0 * std::log10(signal / error), snr);
        const double nominal = format == ExportFormat::aac256 ? 256 : (format == ExportFormat::aac192 ? 192 : 128);
        EXPECT_NEAR(std::stod(info["bit_rate"]) / 1000.0, nominal, nominal * 0.35);
    } else if (format == ExportFormat::wav32f) {
        // Samples as they are, including those beyond full scale.
        const auto decoded = ffmpegDecode<float>(target, "f32le");
        ASSERT_EQ(decoded.size(), std::size_t(2 * frames));
        for (std::int64_t i = 0; i < frames; ++i) {
            ASSERT_EQ(decoded[2 * i], out.left[i]) << i;
            ASSERT_EQ(decoded[2 * i + 1], out.right[i]) << i;
        }
    } else {
        // Integer formats decode to 32-bit samples with their bits in the high part: bit-exact.
        const auto decoded = ffmpegDecode<std::int32_t>(target, "s32le");
        ASSERT_EQ(decoded.size(), std::size_t(2 * frames));
        const double full = std::ldexp(1.0, expected.bits - 1);
        const std::int64_t shift = std::int64_t{1} << (32 - expected.bits);
        for (std::int64_t i = 0; i < frames; ++i) {
            ASSERT_EQ(decoded[2 * i], expectedStep(out.left[i], full) * shift) << i;
            ASSERT_EQ(decoded[2 * i + 1], expectedStep(out.right[i], full) * shift) << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllFormats, ExportFormatRate,
                         ::testing::Combine(::testing::ValuesIn(kFormats), ::testing::ValuesIn(kExportSampleRates)),
                         [](const auto& info) {
                             return std::string(rawValue(std::get<0>(info.param))) + "_" +
                                    std::to_string(rawValue(std::get<1>(info.param)));
                         });

TEST(ExportPipeline, IdenticalExportsAreIdenticalFilesAndEmptyAudioWritesEmptyFiles) {
    test::TempFolder folder;
    const AudioData mix = programme(30000);
    for (ExportFormat f : kFormats) {
        SCOPED_TRACE(std::string(rawValue(f)));
        const std::string ext(fileExtension(f));
        const auto opts = options(f, ExportSampleRate::hz44100, LoudnessTarget::none, true);
        ExportPipeline::exportMix(mix, folder / ("a." + ext), opts);
        ExportPipeline::exportMix(mix, folder / ("b." + ext), opts);
        const auto bytesA = test::readFile(folder / ("a." + ext));
        EXPECT_GT(bytesA.size(), 1000u);
        EXPECT_TRUE(bytesA == test::readFile(folder / ("b." + ext)));

        const fs::path empty = folder / ("empty." + ext);
        const ExportResult r = ExportPipeline::exportMix(
            AudioData(), empty, options(f, ExportSampleRate::hz44100, LoudnessTarget::streaming, true));
        EXPECT_EQ(r.frames, 0);
        EXPECT_FALSE(r.clipped);
        EXPECT_EQ(r.measurement, LoudnessMeasurement());
        auto info = probe(empty);
        if (ext == "m4a") {
            // The MP4 writer leaves out a track without samples: an empty but valid container.
            EXPECT_EQ(info["TAG:major_brand"], "M4A ");
        } else {
            EXPECT_EQ(info["codec_name"], expectedFor(f).codec);
            EXPECT_TRUE(ffmpegDecode<float>(empty, "f32le").empty());
        }
    }
}

// ---- conversion ----

TEST(ExportPipeline, ResampleMatchesTheAnalyticSignalAndTheLengthRule) {
    // Tones converted to 44.1, 96 and 22.05 kHz equal the tones sampled at that rate (inside the
    // filter's settling time at the edges).
    const std::int64_t frames = 96000;
    const AudioData source(test::sine(frames, 997.0), test::sine(frames, 3001.0, 0.5, 1.0));
    for (double rate : {44100.0, 96000.0, 22050.0}) {
        const AudioData out = ExportPipeline::resample(source, rate);
        ASSERT_EQ(out.frames(), std::llround(frames * rate / 48000.0));
        const auto n = static_cast<std::size_t>(out.frames());
        const auto l = test::sine(n, 997.0, 0.5, 0.0, rate), r = test::sine(n, 3001.0, 0.5, 1.0, rate);
        const std::size_t from = n / 10, count = n * 8 / 10;
        EXPECT_LT(test::maxDifference(out.left.span().subspan(from, count), std::span(l).subspan(from, count)), 2e-5);
        EXPECT_LT(test::maxDifference(out.right.span().subspan(from, count), std::span(r).subspan(from, count)), 2e-5);
    }

    // Lengths: round(frames × rate / 48000), padding a very short signal.
    for (auto [in, rate, expected] : {std::tuple{7, 44100, 6}, std::tuple{1, 44100, 1}, std::tuple{160, 44100, 147},
                                      std::tuple{1, 96000, 2}})
        EXPECT_EQ(ExportPipeline::resample(programme(in), rate).frames(), expected) << in << " " << rate;

    // Nothing to convert: the same storage comes back.
    EXPECT_TRUE(ExportPipeline::resample(source, 48000.0).left.sharesStorageWith(source.left));
    EXPECT_TRUE(ExportPipeline::resample(AudioData(), 44100).empty());

    // Rates it cannot serve.
    EXPECT_EQ(exportSampleRate(44000), std::nullopt);
    EXPECT_EQ(exportSampleRate(0), std::nullopt);
    for (double rate : {0.0, -44100.0, std::nan(""), HUGE_VAL, 1e12})
        EXPECT_EQ(test::refusal([&] { ExportPipeline::resample(source, rate); }),
                  L("Не удалось подготовить преобразование частоты дискретизации."))
            << rate;
}

// ---- dither ----

TEST(ExportPipeline, DitherIsTriangularWithConstantErrorPower) {
    // TPDF dither makes the total error power (1/6 of the dither plus 1/12 of the rounding = 1/4
    // step²) independent of where the signal lies between two steps, and its mean zero.
    for (double fraction : {0.0, 0.25, 0.5, 0.8}) {
        const std::int64_t frames = 100000;
        AudioData a = test::constant(frames, static_cast<float>((1000.0 + fraction) / 32768.0));
        ExportPipeline::dither16(a, ExportPipeline::kDitherSeed);
        double sum = 0.0, squares = 0.0;
        for (std::int64_t i = 0; i < frames; ++i) {
            const double steps = a.left[i] * 32768.0, e = steps - 1000.0 - fraction;
            ASSERT_EQ(steps, std::round(steps));
            ASSERT_LE(std::fabs(e), 1.5);
            sum += e;
            squares += e * e;
        }
        EXPECT_NEAR(sum / frames, 0.0, 0.01) << fraction;
        EXPECT_NEAR(squares / frames, 0.25, 0.01) << fraction;
    }

    // Full scale and beyond saturate; a NaN becomes the lowest step; the same call gives the same
    // samples.
    AudioData edges(std::vector<float>{1.0f, -1.0f, 3.0f, NAN}, std::vector<float>{0.5f, -3.0f, 0.0f, 0.0f});
    AudioData again = edges;
    ExportPipeline::dither16(edges, 7);
    ExportPipeline::dither16(again, 7);
    EXPECT_EQ(edges, again);
    EXPECT_LE(edges.left[0], 32767.0f / 32768.0f);
    EXPECT_GE(edges.left[0], 32766.0f / 32768.0f);
    EXPECT_EQ(edges.left[2], 32767.0f / 32768.0f);
    EXPECT_EQ(edges.left[3], -1.0f);
    EXPECT_EQ(edges.right[1], -1.0f);
}

TEST(ExportPipeline, Wav16DitherOnlyWhenAskedAndOnlyForWav16) {
    test::TempFolder folder;
    const AudioData mix = test::noise(20000, 0.3f, 5);
    // On: the seeded dither of the export (off is the plain nearest step, checked with every format).
    ExportPipeline::exportMix(mix, folder / "dithered.wav", options(ExportFormat::wav16, ExportSampleRate::hz48000,
                                                                    LoudnessTarget::none, true));
    AudioData reference = mix;
    ExportPipeline::dither16(reference, ExportPipeline::kDitherSeed);
    const auto dithered = ffmpegDecode<std::int16_t>(folder / "dithered.wav", "s16le");
    ASSERT_EQ(dithered.size(), 40000u);
    int differing = 0;
    for (std::int64_t i = 0; i < 20000; ++i) {
        ASSERT_EQ(dithered[2 * i], std::lround(reference.left[i] * 32768.0f));
        ASSERT_EQ(dithered[2 * i + 1], std::lround(reference.right[i] * 32768.0f));
        differing += dithered[2 * i] != expectedStep(mix.left[i], 32768.0);
    }
    EXPECT_GT(differing, 2000);

    // The dither switch does nothing to a 24-bit export.
    for (bool dither : {true, false})
        ExportPipeline::exportMix(mix, folder / (dither ? "a.wav" : "b.wav"),
                                  options(ExportFormat::wav24, ExportSampleRate::hz48000, LoudnessTarget::none, dither));
    EXPECT_TRUE(test::readFile(folder / "a.wav") == test::readFile(folder / "b.wav"));
}

// ---- clipping, peaks and loudness targets ----

TEST(ExportPipeline, ClippingIsReportedAndAppliedExceptForFloat) {
    test::TempFolder folder;
    const AudioData loud = programme(48000);  // holds 1.4 and −1.3
    EXPECT_FALSE(ExportPipeline::exportMix(loud, folder / "f.wav", options(ExportFormat::wav32f)).clipped);
    EXPECT_FLOAT_EQ(maxAbs(ffmpegDecode<float>(folder / "f.wav", "f32le")), 1.4f);

    EXPECT_TRUE(ExportPipeline::exportMix(loud, folder / "i.wav", options(ExportFormat::wav24)).clipped);
    const auto ints = ffmpegDecode<std::int32_t>(folder / "i.wav", "s32le");
    EXPECT_EQ(*std::max_element(ints.begin(), ints.end()), 8388607 * 256);
    EXPECT_EQ(*std::min_element(ints.begin(), ints.end()), -8388608 * 256);

    // Converted audio is judged after conversion: a square wave at full scale is not clipped at
    // 48 kHz, but its conversion overshoots.
    const AudioData atOne = AudioData::mono(test::square(9600, 40));
    EXPECT_FALSE(ExportPipeline::exportMix(atOne, folder / "one.wav", options(ExportFormat::wav24)).clipped);
    EXPECT_TRUE(ExportPipeline::exportMix(atOne, folder / "one.flac", options(ExportFormat::flac, ExportSampleRate::hz44100))
                    .clipped);
}

TEST(ExportPipeline, PeakTargetPutsTheWrittenPeakAtMinusOneDBFS) {
    test::TempFolder folder;
    const AudioData mix = programme(48000);
    // 48 kHz: normalisation alone sets the peak.
    const ExportResult at48 = ExportPipeline::exportMix(
        mix, folder / "48.wav", options(ExportFormat::wav32f, ExportSampleRate::hz48000, LoudnessTarget::peak));
    EXPECT_NEAR(maxAbs(ffmpegDecode<float>(folder / "48.wav", "f32le")), 0.8912509f, 1e-7f);
    EXPECT_NEAR(at48.measurement.samplePeak, -1.0, 1e-6);
    EXPECT_FALSE(at48.clipped);

    // 44.1 kHz: the converted signal is scaled once more so its peak is −1 dBFS again.
    const ExportResult at44 = ExportPipeline::exportMix(
        mix, folder / "44.wav", options(ExportFormat::wav32f, ExportSampleRate::hz44100, LoudnessTarget::peak));
    const float peak = maxAbs(ffmpegDecode<float>(folder / "44.wav", "f32le"));
    EXPECT_NEAR(peak, 0.8912509f, 1e-7f);
    EXPECT_DOUBLE_EQ(at44.measurement.samplePeak, 20.0 * std::log10(static_cast<double>(peak)));
    EXPECT_EQ(at44.frames, 44100);
    // The loudness is that of the 48 kHz mix after the second scaling: the two exports differ by the
    // ratio of the peaks before and after conversion (the mix's lone full-scale samples lose height).
    ASSERT_TRUE(at44.measurement.lufs && at48.measurement.lufs);
    const double peak48 = test::peak(mix), peak44 = test::peak(ExportPipeline::resample(mix, 44100));
    EXPECT_GT(peak48 / peak44, 1.05);
    EXPECT_NEAR(*at44.measurement.lufs - *at48.measurement.lufs, 20.0 * std::log10(peak48 / peak44), 0.01);

    // A peak too small to be raised in single precision stays as it is at any rate.
    const AudioData tiny = AudioData::mono(test::sine(4800, 1000.0, 1e-40));
    ExportPipeline::exportMix(tiny, folder / "tiny.wav",
                              options(ExportFormat::wav32f, ExportSampleRate::hz44100, LoudnessTarget::peak));
    EXPECT_LT(maxAbs(ffmpegDecode<float>(folder / "tiny.wav", "f32le")), 1e-30f);
}

TEST(ExportPipeline, LoudnessTargetsKeepTheTruePeakUnderTheCeiling) {
    test::TempFolder folder;
    // A full-scale square wave; quiet noise with sparse loud clicks (reaching −14 LUFS needs far
    // more gain than the clicks allow).
    AudioData spiky = test::noise(48000 * 4, 0.05f, 9);
    for (std::size_t i = 24000; i < spiky.left.size(); i += 48000) {
        spiky.left.mutableVector()[i] = 0.7f;
        spiky.right.mutableVector()[i + 1] = -0.6f;
    }
    const AudioData inputs[] = {AudioData::mono(test::square(48000 * 3, 55)), spiky};
    int n = 0;
    for (const AudioData& mix : inputs) {
        for (auto [target, ceiling, lufs] : {std::tuple{LoudnessTarget::streaming, -1.0, -14.0},
                                             std::tuple{LoudnessTarget::atsc, -2.0, -24.0}}) {
            for (ExportSampleRate rate : kExportSampleRates) {
                SCOPED_TRACE(std::to_string(n) + " " + std::string(rawValue(target)) + " " + std::to_string(rawValue(rate)));
                const fs::path file = folder / ("n" + std::to_string(n++) + ".wav");
                const ExportResult r = ExportPipeline::exportMix(mix, file, options(ExportFormat::wav32f, rate, target));
                const auto peer = test::ebur128Measure(ffmpegDecode<float>(file, "f32le"), rawValue(rate));
                EXPECT_LE(peer.truePeakDB, ceiling);
                EXPECT_LE(r.measurement.truePeak, ceiling);
                // The limiter costs the clicky mix some loudness, more where it works again after conversion.
                ASSERT_TRUE(peer.lufs && r.measurement.lufs);
                EXPECT_NEAR(*peer.lufs, lufs, 1.5);
                EXPECT_NEAR(*r.measurement.lufs, lufs, 1.0);
            }
        }
    }
    // Full-band noise hits at the podcast target: the 4x meters read the limited file well under
    // what a player reconstructs from it; the ceiling holds for that reconstruction, the figures
    // reported stay the 4x meter's.
#if defined(__SANITIZE_ADDRESS__)
    const AudioData hits = denseHits(20.0, 51);
#else
    const AudioData hits = denseHits(90.0, 51);
#endif
    for (ExportSampleRate rate : kExportSampleRates) {
        SCOPED_TRACE(rawValue(rate));
        const fs::path file = folder / ("hits" + std::to_string(rawValue(rate)) + ".wav");
        const ExportResult r = ExportPipeline::exportMix(hits, file, options(ExportFormat::wav24, rate, LoudnessTarget::podcast));
        const std::vector<float> decoded = ffmpegDecode<float>(file, "f32le");
        const double peer = test::ebur128Measure(decoded, rawValue(rate)).truePeakDB;
        const double reconstructed = test::reconstructedPeak16(decoded), ffmpeg = test::ffmpegTruePeak(file);
        EXPECT_LE(reconstructed, -0.9);
        EXPECT_LE(ffmpeg, -0.9);
        EXPECT_NEAR(r.measurement.truePeak, peer, 0.1);
        EXPECT_LE(r.measurement.truePeak, -1.0);
        RecordProperty("hits_" + std::to_string(rawValue(rate)), "16x " + std::to_string(reconstructed) + ", ffmpeg " +
                       std::to_string(ffmpeg) + ", libebur128 " + std::to_string(peer) + ", reported " + std::to_string(r.measurement.truePeak));
    }
}

// Dense hits, pop, speech over music (ducked too) and clipped bursts, over both bit rates, both
// rates and both LUFS targets; 20 s (one encoder) where the case needs no join. Each case is a test
// of its own; in most the encoder overshoots the ceiling at the signal as it is.
struct LossyCase {
    int material;  // dense hits, pop, speech, ducked speech, clipped bursts
    ExportFormat format;
    ExportSampleRate sampleRate;
    LoudnessTarget target;
    bool join;
    bool overshoots;  // the gain is lowered: more than one encoding
};
const char* const kMaterials[] = {"hits", "pop", "speech", "ducked", "clipped"};
std::string caseName(const LossyCase& c) {
    return std::string(kMaterials[c.material]) + "_" + std::string(rawValue(c.format)) + "_" + std::to_string(rawValue(c.sampleRate)) + "_" +
           std::string(rawValue(c.target)) + (c.join ? "_joined" : "");
}
void PrintTo(const LossyCase& c, std::ostream* out) { *out << caseName(c); }
class LossyExport : public ::testing::TestWithParam<LossyCase> {};

TEST_P(LossyExport, LandsUnderTheCeilingAsLoudAsItAllowsAndReportsTheFile) {
    test::TempFolder folder;
#if defined(__SANITIZE_ADDRESS__)
    const double joinedSeconds = 30.0;  // far too slow under the sanitizers: no joins
#else
    const double joinedSeconds = 95.0;
#endif
    const auto& [m, format, sampleRate, target, join, overshoots] = GetParam();
    const double seconds = join ? joinedSeconds : 20.0, ceiling = *truePeakCeiling(target);
    const AudioData mix = m == 0 ? denseHits(seconds, 40) : m == 4 ? test::clippedBursts(seconds, 12) : pop(seconds, m == 3 ? 8 : 4 + m, 48000, m > 1, m == 3);
    const int rate = rawValue(sampleRate);
    const std::string name = caseName(GetParam());
    const fs::path file = folder / (name + ".m4a");
    const ExportResult r = ExportPipeline::exportMix(mix, file, options(format, sampleRate, target));
    const std::vector<float> decoded = ffmpegDecode<float>(file, "f32le");
    const auto peer = test::ebur128Measure(decoded, rate);
    EXPECT_LE(peer.truePeakDB, ceiling);
    EXPECT_NEAR(r.measurement.truePeak, peer.truePeakDB, 0.1);
    // The ceiling holds for what a player reconstructs, and on ffmpeg's meter.
    const double reconstructed = test::reconstructedPeak16(decoded), ffmpeg = test::ffmpegTruePeak(file);
    EXPECT_LE(reconstructed, -0.9);
    EXPECT_LE(ffmpeg, -0.9);
    EXPECT_NEAR(r.measurement.samplePeak, 20.0 * std::log10(maxAbs(decoded)), 0.01);
    ASSERT_TRUE(peer.lufs && r.measurement.lufs);
    EXPECT_NEAR(*r.measurement.lufs, *peer.lufs, 0.1);
    EXPECT_EQ(topLevelBoxes(file), (std::vector<std::string>{"ftyp", "free", "mdat", "moov"}));

    // As loud as the ceiling allows: what the encoder was given (the same export as float) at
    // plain gains a quarter dB apart from 0 dB down, encoded whole by one encoder and, where
    // the file is joined, as the export encodes it (decoded by ffmpeg, measured by libebur128):
    // none whose peak, read as the export reads it, is under the aim is more than 0.6 dB
    // louder than the file. The overshoot is not monotonic in gain, so every step counts, down
    // to those no more than 0.5 dB louder than the file before encoding.
    ExportPipeline::exportMix(mix, folder / (name + ".wav"), options(ExportFormat::wav32f, sampleRate, target));
    const std::vector<float> givenSamples = ffmpegDecode<float>(folder / (name + ".wav"), "f32le");
    fs::remove(folder / (name + ".wav"));
    const AudioData given = deinterleaved(givenSamples);
    const double unencoded = *test::ebur128Measure(givenSamples, rate).lufs;
    std::vector<std::future<std::tuple<double, bool, double, test::EbuMeasurement>>> steps;
    for (double gain = 0.0; unencoded + gain > *peer.lufs + 0.5; gain -= 0.25)
        for (const bool own : {false, true}) {
            if (own && !join) continue;
            steps.push_back(std::async(std::launch::async, [&, gain, own] {
                const fs::path stepFile = folder / (name + std::to_string(gain) + (own ? "own.m4a" : ".m4a"));
                const AudioData scaled = Loudness::scaled(given, static_cast<float>(std::pow(10.0, gain / 20.0)));
                if (own) ExportPipeline::writeWithinCeiling(scaled, rate, stepFile, format, ceiling, 1);
                else ExportPipeline::write(scaled, rate, stepFile, format);
                const std::vector<float> plain = ffmpegDecode<float>(stepFile, "f32le");
                fs::remove(stepFile);
                return std::tuple{gain, own, ceilingPeakDB(deinterleaved(plain)), test::ebur128Measure(plain, rate, false)};
            }));
        }
    std::string tried;
    int over = 0;  // the steps from the top, encoded as the export encodes them, all over the aim
    for (auto& step : steps) {
        const auto [gain, own, peak, plain] = step.get();
        EXPECT_LE(*plain.lufs, unencoded + gain + 0.1);
        if (own == join && over == static_cast<int>(-gain / 0.25) && peak > ceiling - ExportPipeline::kCeilingMargin) ++over;
        if (peak <= ceiling - ExportPipeline::kCeilingMargin) {
            EXPECT_LE(*plain.lufs - *peer.lufs, 0.6) << "lands at " << gain << (own ? " joined" : "");
        }
        tried += " " + std::to_string(gain) + (own ? " joined: " : ": ") + Loudness::label(plain.lufs, peak);
    }
    // Each of them was one of the encodings tried before the file.
    EXPECT_GE(r.encodings, over + 1);
    if (overshoots) {
        EXPECT_GT(r.encodings, 1);
    }
    RecordProperty("file_" + name, Loudness::label(peer.lufs, peer.truePeakDB) + " (16x " + std::to_string(reconstructed) +
                                       ", ffmpeg " + std::to_string(ffmpeg) + ", reported " + std::to_string(r.measurement.truePeak) +
                                       ") in " + std::to_string(r.encodings) + " encodings; unencoded " +
                                       std::to_string(unencoded) + "; plain gains" + tried);
}

std::vector<LossyCase> lossyCases() {
    using F = ExportFormat;
    using R = ExportSampleRate;
    using T = LoudnessTarget;
    return {
        {0, F::aac128, R::hz48000, T::podcast, true, true},      {4, F::aac256, R::hz48000, T::streaming, true, true},
    {3, F::aac128, R::hz48000, T::podcast, true, true},      {1, F::aac256, R::hz48000, T::streaming, true, true},
    {0, F::aac256, R::hz44100, T::streaming, false, true},   {1, F::aac128, R::hz44100, T::podcast, false, false},
    {2, F::aac128, R::hz48000, T::podcast, false, false},    {2, F::aac256, R::hz44100, T::streaming, false, false},
    {3, F::aac256, R::hz48000, T::streaming, false, false},  {4, F::aac128, R::hz44100, T::podcast, false, true}};
}
#if defined(__SANITIZE_ADDRESS__)
// Slow there: every fourth case.
INSTANTIATE_TEST_SUITE_P(ExportPipeline, LossyExport, ::testing::Values(lossyCases()[0], lossyCases()[4], lossyCases()[8]));
#else
INSTANTIATE_TEST_SUITE_P(ExportPipeline, LossyExport, ::testing::ValuesIn(lossyCases()));
#endif

TEST(ExportPipeline, LosslessFilesAreWrittenOnceWithTheFiguresOfTheSignalGiven) {
    test::TempFolder folder;
    const ExportResult flac = ExportPipeline::exportMix(denseHits(120.0, 40), folder / "lossless.flac", options(ExportFormat::flac, ExportSampleRate::hz48000, LoudnessTarget::podcast));
    EXPECT_EQ(flac.encodings, 1);
    EXPECT_NEAR(flac.measurement.truePeak, test::ebur128Measure(ffmpegDecode<float>(folder / "lossless.flac", "f32le"), 48000).truePeakDB, 0.1);
}

TEST(ExportPipeline, AnOvershootIsLoweredAgainWithinBoundedPassesAndTheFileIsWhatIsReported) {
    test::TempFolder folder;
    const AudioData mix = test::loudHits(48000 * 2);
    // A ceiling far under the mix's peaks: lowered and encoded anew, within the bound; the shorter
    // encoding leaves nothing of the first behind its end.
    const auto peaks = ExportPipeline::writeWithinCeiling(mix, 48000, folder / "hard.m4a", ExportFormat::aac128, -30.0);
    // The first try is 30 dB over: no step of the walk lands, the last try allowed is the file.
    EXPECT_EQ(peaks.passes, ExportPipeline::kCeilingPasses);
    const auto hardTries = ExportPipeline::lastTriesForTesting();
    ASSERT_EQ(hardTries.size(), std::size_t(ExportPipeline::kCeilingPasses));
    EXPECT_TRUE(hardTries.back().file && !hardTries.back().over);
    // Also where only the right channel overshoots.
    const AudioData rightOnly(Loudness::scaled(mix, 0.01f).left.toVector(), mix.right.toVector());
    const auto right = ExportPipeline::writeWithinCeiling(rightOnly, 48000, folder / "right.m4a", ExportFormat::aac128, -30.0);
    EXPECT_GE(right.passes, 2);
    EXPECT_LE(right.truePeak, -30.0);
    fs::remove(folder / "right.m4a");
    const std::vector<float> decoded = ffmpegDecode<float>(folder / "hard.m4a", "f32le");
    const auto peer = test::ebur128Measure(decoded, 48000);
    EXPECT_NEAR(peaks.truePeak, peer.truePeakDB, 0.1);
    EXPECT_NEAR(peaks.samplePeak, 20.0 * std::log10(maxAbs(decoded)), 0.01);
    EXPECT_LE(peer.truePeakDB, -30.0);
    EXPECT_EQ(topLevelBoxes(folder / "hard.m4a"), (std::vector<std::string>{"ftyp", "free", "mdat", "moov"}));
    // With the passes used up, the last one allowed is the file, over the ceiling or not, and
    // what is reported is still the file's.
    for (int allowed : {1, 2}) {
        SCOPED_TRACE(allowed);
        const fs::path file = folder / ("bounded" + std::to_string(allowed) + ".m4a");
        const auto bounded = ExportPipeline::writeWithinCeiling(mix, 48000, file, ExportFormat::aac128, -60.0, allowed);
        EXPECT_EQ(bounded.passes, allowed);
        const auto boundedPeer = test::ebur128Measure(ffmpegDecode<float>(file, "f32le"), 48000);
        EXPECT_NEAR(bounded.truePeak, boundedPeer.truePeakDB, 0.1);
        // One pass: the signal as it is, far over; two: the second, 1.5 dB under the gain that
        // would bring the first one's overshoot to the aim (60 dB down the encoder overshoots a
        // little more, but by well under a dB).
        const double aim = -60.0 - ExportPipeline::kCeilingMargin, peak = ceilingPeakDB(deinterleaved(ffmpegDecode<float>(file, "f32le")));
        if (allowed == 1) EXPECT_GT(boundedPeer.truePeakDB, -3.0);
        else EXPECT_TRUE(peak < aim - 0.6 && peak > aim - 1.5) << peak;
        fs::remove(file);
    }
    // Far beyond full scale the signal stays clipped at every gain tried: nothing lands, the
    // encodings between the first and the last are given up, and the file is still a whole one.
    const auto clipped = ExportPipeline::writeWithinCeiling(Loudness::scaled(mix, 1000.0f), 48000, folder / "clipped.m4a",
                                                            ExportFormat::aac128, -1.0, 4);
    EXPECT_EQ(clipped.passes, 4);
    const std::vector<float> clippedDecoded = ffmpegDecode<float>(folder / "clipped.m4a", "f32le");
    EXPECT_GE(clippedDecoded.size(), 2 * mix.left.size());
    EXPECT_GT(clipped.truePeak, -1.0);
    EXPECT_NEAR(clipped.truePeak, test::ebur128Measure(clippedDecoded, 48000).truePeakDB, 0.1);
    fs::remove(folder / "clipped.m4a");
    // One channel clipped at every gain, the other clean: nothing lands, and the last try goes to
    // the walk's next step (2.75 dB down) where 1.5 dB under the gain that brings the first
    // one's overshoot to the aim would be higher (about 2 dB down): the file is that encoding.
    const AudioData half(Loudness::scaled(mix, 1000.0f).left.toVector(), Loudness::scaled(mix, 0.3f).right.toVector());
    const double own = ExportPipeline::writeWithinCeiling(half, 48000, folder / "half.m4a", ExportFormat::aac128, HUGE_VAL, 1).truePeak;
    EXPECT_EQ(ExportPipeline::writeWithinCeiling(half, 48000, folder / "half.m4a", ExportFormat::aac128, own - 0.4, 12).passes, 12);
    const AudioData down = Loudness::scaled(half, static_cast<float>(std::pow(10.0, -2.75 / 20.0)));
    ExportPipeline::writeWithinCeiling(down, 48000, folder / "down.m4a", ExportFormat::aac128, HUGE_VAL, 1);
    EXPECT_TRUE(test::readFile(folder / "half.m4a") == test::readFile(folder / "down.m4a"));
    fs::remove(folder / "half.m4a");
    fs::remove(folder / "down.m4a");
    // Under the ceiling at the first pass: one encoding, and the file is that one.
    const AudioData quiet = Loudness::scaled(mix, 0.1f);
    const auto easy = ExportPipeline::writeWithinCeiling(quiet, 48000, folder / "easy.m4a", ExportFormat::aac128, -1.0);
    EXPECT_EQ(easy.passes, 1);
    const auto easyPeer = test::ebur128Measure(ffmpegDecode<float>(folder / "easy.m4a", "f32le"), 48000);
    EXPECT_NEAR(easy.truePeak, easyPeer.truePeakDB, 0.1);
    EXPECT_NEAR(easy.truePeak, Loudness::decibels(Loudness::truePeakLinear(quiet)), 1.0);
    // A 44.1 kHz file's loudness is measured at 48 kHz: a tone on the weighting's slope tells.
    const AudioData tone = AudioData::mono(test::sine(44100 * 3, 2000.0, 0.3, 0.0, 44100));
    const auto at44 = ExportPipeline::writeWithinCeiling(tone, 44100, folder / "tone.m4a", ExportFormat::aac256, -1.0);
    const auto tonePeer = test::ebur128Measure(ffmpegDecode<float>(folder / "tone.m4a", "f32le"), 44100);
    ASSERT_TRUE(at44.lufs && tonePeer.lufs);
    EXPECT_NEAR(*at44.lufs, *tonePeer.lufs, 0.05);
    EXPECT_EQ(test::folderEntries(folder.path()).size(), 3u);
}

#if !defined(__SANITIZE_ADDRESS__)  // far too slow there
class ALateOvershoot : public ::testing::TestWithParam<int> {};

TEST_P(ALateOvershoot, IsEncodedAloneAfterTheFirstTry) {
    test::TempFolder folder;
    const int threads = GetParam();
    // Two stretches, the overshoot a clipped burst late in the second, the hotter: every try given
    // up encodes that stretch (and its lead-in) alone, the first to its end; of the tries after
    // the first, only the file goes on past it, on one core or eight, and at most one more (on
    // cores the file leaves idle while it encodes that stretch alone).
    const std::size_t n = 100 * 48000;
    std::vector<float> bed = test::plus(test::sine(n, 220.0, 0.3), test::sine(n, 2750.0, 0.05));
    for (std::size_t i = 88 * 48000; i < 89 * 48000; ++i)
        bed[i] = std::clamp(6.0f * std::sin(2.0f * std::numbers::pi_v<float> * 440.0f * static_cast<float>(i) / 48000.0f), -1.0f, 1.0f);
    AacStretches::setThreads(threads);
    const auto late = ExportPipeline::writeWithinCeiling(AudioData::mono(bed), 48000, folder / "late.m4a", ExportFormat::aac128, -1.0);
    AacStretches::setThreads(0);
    const auto tries = ExportPipeline::lastTriesForTesting();
    int given = 0, wide = 0;
    EXPECT_LT(tries.at(0).frames, std::int64_t(n * 7 / 10));
    for (std::size_t i = 1; i < tries.size(); ++i) {
        given += tries[i].over && tries[i].frames < std::int64_t(n * 65 / 100);
        wide += !tries[i].file && tries[i].frames >= std::int64_t(n * 65 / 100);
        if (tries[i].file) EXPECT_EQ(late.passes, int(i + 1));
    }
    EXPECT_GE(given, 2);
    EXPECT_LE(wide, 1);
    fs::remove(folder / "late.m4a");
    EXPECT_TRUE(test::folderEntries(folder.path()).empty());
}
INSTANTIATE_TEST_SUITE_P(ExportPipeline, ALateOvershoot, ::testing::Values(1, 8));  // threads

// Hits clipped at full scale over a quiet pad, one in about every eight seconds, brought to the
// streaming target. Under a ceiling one encoder over the whole signal first meets 1.5 dB down,
// an encoder started ten seconds before the second stretch codes a hit there 3 dB hotter, and
// the steps down to 2.25 dB go over in one of the two. The file is still within a step of the
// loudest step one encoder over the whole signal meets the ceiling at (ffmpeg decodes it, the
// peak read as the export reads it), and under the ceiling. Then four minutes, where the ten
// seconds before the second stretch hold a hit of their own: the pad around it still leaves the
// encoder as unsettled.
struct QuietBedCase {
    int seconds;
    int hits;
    int seed;
};
void PrintTo(const QuietBedCase& c, std::ostream* out) { *out << c.seconds << "_s"; }
class HitsOverAQuietBed : public ::testing::TestWithParam<QuietBedCase> {};
TEST_P(HitsOverAQuietBed, AreAsLoudAsOneEncoderOverTheWholeSignalAllows) {
    test::TempFolder folder;
    const auto [seconds, hits, seed] = GetParam();
    const AudioData mix = Loudness::normalize(test::quietBedHits(seconds, hits, seed), LoudnessTarget::streaming);
    const double ceiling = -8.2;
    ExportPipeline::writeWithinCeiling(mix, 48000, folder / "quiet.m4a", ExportFormat::aac128, ceiling);
    const auto tries = ExportPipeline::lastTriesForTesting();
    const auto chosen = std::find_if(tries.begin(), tries.end(), [](const auto& t) { return t.file; });
    ASSERT_NE(chosen, tries.end());
    EXPECT_LE(test::ebur128Measure(ffmpegDecode<float>(folder / "quiet.m4a", "f32le"), 48000).truePeakDB, ceiling);
    std::vector<std::future<std::pair<double, double>>> steps;
    for (double gain = 0.0; gain > chosen->gainDB + 0.25 + 1e-6; gain -= 0.25)
        steps.push_back(std::async(std::launch::async, [&, gain] {
            const fs::path step = folder / ("whole" + std::to_string(gain) + ".m4a");
            ExportPipeline::write(Loudness::scaled(mix, static_cast<float>(std::pow(10.0, gain / 20.0))), 48000, step, ExportFormat::aac128);
            return std::pair{gain, ceilingPeakDB(deinterleaved(ffmpegDecode<float>(step, "f32le")))};
        }));
    for (auto& step : steps) {
        const auto [gain, peak] = step.get();
        EXPECT_GT(peak, ceiling - ExportPipeline::kCeilingMargin) << "one encoder lands at " << gain << ", the file is at " << chosen->gainDB;
    }
}
INSTANTIATE_TEST_SUITE_P(ExportPipeline, HitsOverAQuietBed, ::testing::Values(QuietBedCase{100, 12, 7}, QuietBedCase{240, 30, 31}));

// Three stretches of a 150 s bed (two tones, or one quiet one) with clipped bursts, a test of
// its own for each way the stretches are asked for; `given` counts the frames the encoders read.
class StretchesOverABed : public ::testing::Test {
protected:
    static constexpr std::size_t n = 150 * 48000;
    std::vector<float> bed = loudBed();
    std::atomic<std::int64_t> given{0};
    const AacStretches::Source source = [this](std::int64_t from, std::size_t count, float* l, float* r) {
        given += static_cast<std::int64_t>(count);
        std::copy_n(bed.data() + from, count, l);
        std::copy_n(bed.data() + from, count, r);
    };
    std::mutex mutex;
    std::condition_variable moved;

    static std::vector<float> loudBed() { return test::plus(test::sine(n, 220.0, 0.3), test::sine(n, 2750.0, 0.05)); }
    void burst(int second, float clip) {
        for (auto i = std::size_t(second) * 48000; i < std::size_t(second + 1) * 48000; ++i)
            bed[i] = std::clamp(6.0f * std::sin(2.0f * std::numbers::pi_v<float> * 440.0f * static_cast<float>(i) / 48000.0f), -clip, clip);
    }
    void TearDown() override { AacStretches::setThreads(0); }
};

// A clipped burst in the last stretch; the first stretch asked for stays under the watch, and
// the last is asked for once it has: on one thread, the middle one is never encoded. Then a
// second, milder burst in the first, both stretches hot on two threads: each is encoded to its
// end and told, the hotter first among where it passed.
TEST_F(StretchesOverABed, StretchesAskedForOnceTheFirstStayUnderGoNext) {
    burst(110, 1.0f);
    int told = -1, asked = 0;
    AacStretches::setThreads(1);
    const AacStretches encoding(ExportFormat::aac128, 48000, std::int64_t(n), source,
                                {.watchAbove = 0.7f, .giveUp = true, .passed = [&](int stretch) { told = stretch; }, .first = {0},
                                 .widened = [&] { return ++asked == 1 ? std::vector<int>{2, 0} : std::vector<int>{}; }});
    EXPECT_TRUE(encoding.gaveUp());
    EXPECT_EQ(told, 2);
    EXPECT_EQ(asked, 1);
    // The first stretch and the last one's lead-in to the burst: about 71 s of the 150.
    EXPECT_LT(given.load(), std::int64_t(85 * 48000));

    burst(30, 0.8f);
    std::int64_t firstAt = 0, lastAt = 0;
    // Side by side whatever the machine's load: the first passes only once the last has started,
    // the last reaches its burst only once the first has passed.
    const auto sideBySide = [&](std::int64_t from, std::size_t count, float* l, float* r) {
        std::unique_lock lock(mutex);
        (from < 50 * 48000 ? firstAt : lastAt) = from + static_cast<std::int64_t>(count);
        moved.notify_all();
        moved.wait(lock, [&] { return from < 50 * 48000 ? from < 29 * 48000 || lastAt > 0 : from < 105 * 48000 || firstAt > 32 * 48000; });
        lock.unlock();
        source(from, count, l, r);
    };
    AacStretches::setThreads(2);
    for (const bool finishHot : {true, false}) {  // else the last stops before its burst
        std::vector<int> tells;
        firstAt = lastAt = given = 0;
        const AacStretches hot(ExportFormat::aac128, 48000, std::int64_t(n), sideBySide,
                               {.watchAbove = 0.7f, .giveUp = true, .passed = [&](int stretch) { tells.push_back(stretch); }, .hot = {0, 2},
                                .finishPassed = true, .finishHot = finishHot});
        EXPECT_TRUE(hot.gaveUp());
        EXPECT_EQ(tells, (finishHot ? std::vector<int>{0, 2} : std::vector<int>{0}));
        EXPECT_EQ(hot.passedHottestFirst(), (finishHot ? std::vector<int>{2, 0} : std::vector<int>{0}));
        EXPECT_LT(given.load(), std::int64_t(115 * 48000));
    }
}

// A burst in the second's first two seconds, where the join may stand: the first stretch's watch
// reaches there, and the encoding is given up before the others start.
TEST_F(StretchesOverABed, ABurstJustAfterAJoinIsWatchedByTheStretchBefore) {
    burst(50, 1.0f);
    AacStretches::setThreads(1);
    const AacStretches early(ExportFormat::aac128, 48000, std::int64_t(n), source, {.watchAbove = 0.7f, .giveUp = true, .first = {0}});
    EXPECT_TRUE(early.gaveUp());
    EXPECT_LT(given.load(), std::int64_t(55 * 48000));
}

// Over a quiet bed the last stretch is encoded again from 70 s before it (not from the start).
TEST_F(StretchesOverABed, AHotLastStretchOverAQuietBedIsEncodedAgainFromSeventySecondsBefore) {
    bed = test::sine(n, 220.0, 0.03);
    burst(140, 1.0f);
    AacStretches::setThreads(1);
    EXPECT_TRUE(AacStretches(ExportFormat::aac128, 48000, std::int64_t(n), source, {.watchAbove = 0.7f, .giveUp = true, .first = {2}}).gaveUp());
    EXPECT_NEAR(static_cast<double>(given.load()) / 48000.0, 50.0 + 110.0, 10.0);  // its own run, then the one again
}

// A hot last stretch: its encoding from 70 s before runs beside its own. Held so that the one
// ahead passes the burst first, its passing waits for the stretch's own, and the peak is that of
// one after the other; over a loud lead-in it never starts.
TEST_F(StretchesOverABed, AHotLastStretchIsEncodedFromSeventySecondsBeforeBesideItsOwn) {
    bed = test::sine(n, 220.0, 0.03);
    burst(140, 1.0f);
    AacStretches::setThreads(1);
    const std::int64_t aheadStart = AacStretches::bounds(48000, std::int64_t(n))[2] - 3282 * 1024;
    std::int64_t ownAt = 0, aheadAt = 0;
    bool stuck = false;
    const auto held = [&](bool holdAhead, std::int64_t at, std::int64_t until) {
        return [&, holdAhead, at, until](std::int64_t from, std::size_t count, float* l, float* r) {
            static thread_local std::int64_t next = -1;
            static thread_local bool ahead = false;
            if (from != next) ahead = from == aheadStart;
            next = from + static_cast<std::int64_t>(count);
            std::unique_lock lock(mutex);
            (ahead ? aheadAt : ownAt) = next;
            moved.notify_all();
            if (ahead == holdAhead && from >= at && !stuck)
                stuck |= !moved.wait_for(lock, std::chrono::seconds(60), [&] { return (ahead ? ownAt : aheadAt) >= until; });
            lock.unlock();
            source(from, count, l, r);
        };
    };
    const auto hotLast = [&](const AacStretches::Source& from, std::vector<int>& tells) {
        const AacStretches hot(ExportFormat::aac128, 48000, std::int64_t(n), from,
                               {.watchAbove = 0.7f, .giveUp = true, .passed = [&](int stretch) { tells.push_back(stretch); }, .hot = {2},
                                .finishPassed = true, .finishHot = true});
        EXPECT_TRUE(hot.gaveUp());
        return hot.peaks().truePeak;
    };
    std::vector<int> alone, beside;
    const float oneByOne = hotLast(source, alone);
    AacStretches::setThreads(2);
    given = 0;
    EXPECT_EQ(hotLast(held(false, 139 * 48000, 150 * 48000), beside), oneByOne);
    EXPECT_EQ(alone, std::vector<int>{2});
    EXPECT_EQ(beside, std::vector<int>{2});
    EXPECT_LT(given.load(), std::int64_t(175 * 48000));
    bed = loudBed();
    burst(140, 1.0f);
    given = ownAt = aheadAt = 0;
    hotLast(held(true, 40 * 48000, 101 * 48000), beside);
    EXPECT_LT(given.load(), std::int64_t(62 * 48000));  // the stretch's own, to its end
    EXPECT_FALSE(stuck);
}
#endif

// Two stretches of dense hits, far over the ceiling as they are: the gains under it run several
// at once or one by one. With the first encoding held back until those beside it have ended, as on
// a busy machine, the file is still decided on the tries in order. Each way of running is a test
// of its own, checked against the export on eight threads, nothing held.
struct CoresCase {
    int threads;
    bool held;
};
void PrintTo(const CoresCase& c, std::ostream* out) { *out << c.threads << (c.held ? "_threads_held" : "_threads"); }
class AnAacFile : public ::testing::TestWithParam<CoresCase> {};

TEST_P(AnAacFile, AndItsFiguresAreTheSameOnAnyNumberOfCores) {
    test::TempFolder folder;
#if defined(__SANITIZE_ADDRESS__)
    const AudioData hits = denseHits(70.0, 40);
#else
    const AudioData hits = denseHits(100.0, 40);
#endif
    std::vector<std::vector<std::uint8_t>> files;
    std::vector<ExportResult> results;
    for (const auto& [threads, held] : {CoresCase{8, false}, GetParam()}) {
        AacStretches::setThreads(threads);
        ExportPipeline::holdFirstEncodingForTesting(held);
        results.push_back(ExportPipeline::exportMix(hits, folder / "hits.m4a", options(ExportFormat::aac128, ExportSampleRate::hz48000, LoudnessTarget::streaming)));
        files.push_back(test::readFile(folder / "hits.m4a"));
        // However many cores, of the tries after the file, one at most went on past the stretch
        // it started with (while the file still encoded that one).
        const auto tries = ExportPipeline::lastTriesForTesting();
        const auto file = std::find_if(tries.begin(), tries.end(), [](const auto& t) { return t.file; });
        ASSERT_NE(file, tries.end());
        EXPECT_LE(std::count_if(file + 1, tries.end(), [&](const auto& t) { return t.frames >= hits.frames() * 4 / 5; }), 1) << threads;
        AacStretches::setThreads(0);
        ExportPipeline::holdFirstEncodingForTesting(false);
        EXPECT_TRUE(files.back() == files.front()) << threads << " threads, held " << held;
        EXPECT_EQ(results.back(), results.front()) << threads << " threads, held " << held;
    }
    RecordProperty("encodings", results.front().encodings);
    EXPECT_GE(results.front().encodings, 4);
    // Tries ran beside each other, and every one of them (any may become the file) at the
    // program's own priority.
    EXPECT_EQ(ExportPipeline::highestEncodingNiceForTesting(), getpriority(PRIO_PROCESS, 0));
}
#if defined(__SANITIZE_ADDRESS__)
// Slow there: a shorter mix, its tries beside each other on two cores, the first held back.
INSTANTIATE_TEST_SUITE_P(ExportPipeline, AnAacFile, ::testing::Values(CoresCase{2, true}));
#else
INSTANTIATE_TEST_SUITE_P(ExportPipeline, AnAacFile,
                         ::testing::Values(CoresCase{1, false}, CoresCase{2, true}, CoresCase{4, true}, CoresCase{8, true}));
#endif

// Unless set, as many encoding threads as the CPUs this thread may run on (taskset narrows them).
TEST(ExportPipeline, EncodingThreadsAreTheCpusThisThreadMayRunOn) {
    cpu_set_t all, one;
    ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
    CPU_ZERO(&one);
    for (int cpu = 0; CPU_COUNT(&one) == 0; ++cpu)
        if (CPU_ISSET(cpu, &all)) CPU_SET(cpu, &one);
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    EXPECT_EQ(AacStretches::threads(), 1);
    ASSERT_EQ(sched_setaffinity(0, sizeof all, &all), 0);
    EXPECT_EQ(AacStretches::threads(), CPU_COUNT(&all));
}

// Lengths that end inside a codec frame, stereo and mono, both rates and bit rates; dense hits
// joined from two encoders; each signal a test of its own.
struct JoinedCase {
    AudioData audio;
    int rate;
    ExportFormat format;
    int stretches;
    bool watched;  // also encoded watched at and under its own peak
};
JoinedCase joinedCase(int n) {
    switch (n) {
    case 0: return {programme(48000 + 333), 48000, ExportFormat::aac128, 1, false};
    case 1: return {AudioData::mono(test::sine(44100 + 1500, 997.0, 0.7, 0.0, 44100)), 44100, ExportFormat::aac256, 1, false};
    case 2: {
        // Two stretches at 44.1 kHz; the loudest moment of all a burst that ends where the second
        // starts (its context and the first one's last values are what measures it).
        AudioData hits = Loudness::scaled(denseHits(95.0, 7), 0.3f);
        const std::size_t join = hits.left.size() / 2 / 1024 * 1024;
        for (std::size_t i = 0; i < 12; ++i) {
            const std::size_t at = join - 12 + i;
            hits.left.mutableVector()[at] = (i % 2 ? 0.95f : -0.95f);
            hits.right.mutableVector()[at] = (i % 3 ? 0.9f : -0.9f);
        }
        return {std::move(hits), 44100, ExportFormat::aac128, 2, true};
    }
    case 3: {
        // A fresh encoder codes the first gap it meets in a steady tone far worse than one that has
        // run for a minute: here the gap comes 11 ms after the second stretch starts; the loudest
        // moment a 50 Hz swell whose crest is where the watch of that stretch starts (read without
        // what comes before, the step there would overshoot).
        AudioData gaps = toneWithGaps(120.0, 48000);
        for (std::size_t crest = 120 * 48000 / 2 / 1024 * 1024 + 95 * 1024, i = crest - 2400; i < crest + 2400; ++i) {
            const double t = (static_cast<double>(i) - static_cast<double>(crest)) / 48000.0;
            gaps.left.mutableVector()[i] = gaps.right.mutableVector()[i] = static_cast<float>(0.9 * std::cos(2.0 * std::numbers::pi * 50.0 * t) * std::cos(std::numbers::pi * 10.0 * t));
        }
        return {std::move(gaps), 48000, ExportFormat::aac128, 2, true};
    }
    case 4: return {pop(121.0, 3), 48000, ExportFormat::aac256, 2, false};  // music
    default: {
        // Two tones over noise for 100 s, then over faint noise: a fresh encoder at the third
        // stretch codes the faint noise far worse, so the second encoder goes on to the end.
        std::vector<float> tonesLeft(185 * 48000), tonesRight(tonesLeft.size());
        SplitMix64 rng(1);
        for (std::size_t i = 0; i < tonesLeft.size(); ++i) {
            const double t = i / 48000.0, noise = t < 100.0 ? 0.05 : 0.005;
            tonesLeft[i] = static_cast<float>(0.3 * std::sin(2.0 * std::numbers::pi * 220.0 * t) + noise * rng.uniform());
            tonesRight[i] = static_cast<float>(0.3 * std::sin(2.0 * std::numbers::pi * 330.0 * t) + noise * rng.uniform());
        }
        return {AudioData(tonesLeft, tonesRight), 48000, ExportFormat::aac128, 2, false};
    }
    }
}
class JoinedStream : public ::testing::TestWithParam<int> {};

TEST_P(JoinedStream, IsOneFileAndItsPeaksAreWhatItDecodesTo) {
    test::TempFolder folder;
    const JoinedCase c = joinedCase(GetParam());
    const int rate = c.rate, stretches = c.stretches;
    const ExportFormat format = c.format;
    const fs::path file = folder / "joined.m4a";
    const AudioData& signal = c.audio;
    const auto source = [&](std::int64_t from, std::size_t count, float* l, float* r) {
        for (std::size_t i = 0; i < count; ++i) {  // clipped, as the writer clips
            l[i] = std::clamp(signal.left[static_cast<std::size_t>(from) + i], -1.0f, 1.0f);
            r[i] = std::clamp(signal.right[static_cast<std::size_t>(from) + i], -1.0f, 1.0f);
        }
    };
    const AacStretches encoding(format, rate, signal.frames(), source);
    EXPECT_EQ(encoding.stretches(), stretches);
    const AacStretches::Peaks peaks = encoding.peaks();
    if (c.watched) {
        // Watched at the file's own peak, nothing passes (the later encoder's poor start is
        // the earlier one's in the file); under it, the watch tells once and the encoding goes
        // on to the same file.
        const float peak = peaks.truePeak;
        int told = 0;
        // (Its first stretch encoded alone first, the file is the same.)
        const AacStretches atPeak(format, rate, signal.frames(), source,
                                  {.watchAbove = peak * 1.001f, .giveUp = true, .passed = [&](int) { ++told; }, .first = {0}});
        EXPECT_FALSE(atPeak.gaveUp());
        EXPECT_EQ(atPeak.joins(), encoding.joins());
        EXPECT_EQ(told, 0);
        const AacStretches under(format, rate, signal.frames(), source, {.watchAbove = peak * 0.25f, .passed = [&](int) { ++told; }});
        EXPECT_EQ(told, 1);
        EXPECT_FALSE(under.gaveUp());
        EXPECT_EQ(under.peaks().truePeak, peak);
    }
    {
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        encoding.writeInto(fd);
        ::close(fd);
    }
    std::vector<float> left, right, decoded;  // decoded interleaved, as the ffmpeg program writes raw samples
    encoding.decode([&](const float* l, const float* r, std::size_t frames) {
        left.insert(left.end(), l, l + frames);
        right.insert(right.end(), r, r + frames);
        for (std::size_t i = 0; i < frames; ++i) decoded.insert(decoded.end(), {l[i], r[i]});
    });
    // The ffmpeg program leaves the end padding on; the file states where the signal ends
    // (in whole milliseconds, so within one of the length given).
    std::vector<float> player = ffmpegDecode<float>(file, "f32le");
    const auto stated = static_cast<std::size_t>(std::stoll(test::ffprobe(file, "duration_ts")));
    EXPECT_NEAR(double(stated), double(signal.frames()), rate / 1000.0 + 1.0);
    ASSERT_GE(player.size(), 2 * stated);
    player.resize(2 * stated);
    ASSERT_EQ(decoded.size(), player.size());
    EXPECT_EQ(decoded, player);
    // Measured in stretches side by side, the peaks are the whole decoded signal's.
    const AudioData whole(left, right);
    EXPECT_FLOAT_EQ(peaks.truePeak, reconstruction_peak::peakLinear(whole));
    EXPECT_FLOAT_EQ(peaks.samplePeak, Loudness::samplePeakLinear(whole));
    ExportPipeline::write(signal, rate, folder / "whole.m4a", format);
    if (stretches == 1) {
        // One stretch: byte for byte the file a single encoder writes.
        EXPECT_TRUE(test::readFile(file) == test::readFile(folder / "whole.m4a"));
        return;
    }
    // Joined: as close to the signal as one encoder's file, also in its worst frame.
    auto errors = [&](const std::vector<float>& interleaved) {
        double total = 0.0, worst = 0.0;
        for (std::size_t f = 0; f + 1024 <= stated; f += 1024) {
            double e = 0.0;
            for (std::size_t i = f; i < f + 1024; ++i)
                e += std::pow(interleaved[2 * i] - signal.left[i], 2) + std::pow(interleaved[2 * i + 1] - signal.right[i], 2);
            total += e;
            worst = std::max(worst, e);
        }
        return std::pair{total, worst};
    };
    const std::vector<float> single1 = ffmpegDecode<float>(folder / "whole.m4a", "f32le");
    const auto [joined, joinedWorst] = errors(decoded);
    const auto [single, singleWorst] = errors(single1);
    // (The later encoders code the steady tone a little worse away from the joins.)
    EXPECT_LT(joined, 1.15 * single);
    EXPECT_LT(joinedWorst, 1.5 * singleWorst);
    // Within 0.3 s of every join, no more than twice the single encoder's error.
    ASSERT_EQ(encoding.joins().size(), std::size_t(stretches - 1));
    for (const std::int64_t at : encoding.joins()) {
        double near = 0.0, alone = 0.0;
        for (auto i = static_cast<std::size_t>(at - 3 * rate / 10); i < static_cast<std::size_t>(at + 3 * rate / 10); ++i) {
            near += std::pow(decoded[2 * i] - signal.left[i], 2) + std::pow(decoded[2 * i + 1] - signal.right[i], 2);
            alone += std::pow(single1[2 * i] - signal.left[i], 2) + std::pow(single1[2 * i + 1] - signal.right[i], 2);
        }
        EXPECT_LE(near, 2.0 * alone) << "join at " << at;
    }
    // An encoder that has not run for long before its stretch overshoots further.
    const auto singlePeak = test::ebur128Measure(ffmpegDecode<float>(folder / "whole.m4a", "f32le"), rate).truePeakDB;
    EXPECT_LT(Loudness::decibels(peaks.truePeak), singlePeak + 0.3);
}
INSTANTIATE_TEST_SUITE_P(AacStretches, JoinedStream,
#if defined(__SANITIZE_ADDRESS__)
                         ::testing::Values(0, 1, 2, 3, 5)  // slow there: the tones and the gaps are joined too
#else
                         ::testing::Range(0, 6)
#endif
);

TEST(AacStretches, TheJoinGoesWhereTheJoinedStreamErrsLittleMoreThanTheEarlierEncoder) {
    // The join rule itself, on frame errors: the earlier encoder errs 1 in each frame, the later
    // one `later` from the stretch's start on, the join frame `frame` (none where it is NaN).
    const auto choose = [](std::vector<double> later, std::vector<double> frame) {
        const std::vector<double> own(later.size() + AacStretches::kJoinWindow, 1.0);
        return AacStretches::chooseJoin(own, later, [&](std::size_t k) { return std::isnan(frame[k]) ? std::nullopt : std::optional(frame[k]); });
    };
    const double none = std::nan("");
    // The first within the tolerance (the 30 frames err 37.5 against 30), though a later one errs less.
    EXPECT_EQ(choose(std::vector<double>(18, 1.5), {4.0, none, 1.5, 1.0}), std::optional<std::size_t>(2));
    // None within it: the closest within twice (60, 58 and 56.5 against 30).
    EXPECT_EQ(choose({3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 1}, {3.0, 1.0, 1.5}), std::optional<std::size_t>(2));
    // Not within twice anywhere, or no join frame that decodes: the signal goes to one encoder.
    EXPECT_EQ(choose(std::vector<double>(17, 3.2), {1.0, 1.0, 1.0}), std::nullopt);
    EXPECT_EQ(choose(std::vector<double>(17, 1.0), {none, none, none}), std::nullopt);
}

// ---- files ----

TEST(ExportPipeline, ReplacesAnExistingFileAndCreatesANewOne) {
    test::TempFolder folder;
    const fs::path existing = folder / "mix.flac";
    std::ofstream(existing) << "old contents";
    const AudioData mix = programme(4800);
    ExportPipeline::exportMix(mix, existing, options(ExportFormat::flac));
    ExportPipeline::exportMix(mix, folder / "new.m4a", options(ExportFormat::alac));
    EXPECT_EQ(folderEntries(folder.path()), (std::vector<std::string>{"mix.flac", "new.m4a"}));
    EXPECT_EQ(test::ffprobe(existing, "codec_name"), "flac");
    EXPECT_EQ(ffmpegDecode<std::int32_t>(existing, "s32le").size(), 9600u);
    EXPECT_EQ(ffmpegDecode<std::int32_t>(folder / "new.m4a", "s32le").size(), 9600u);
}

TEST(ExportPipeline, FailuresThrowAndLeaveNoTemporaryFile) {
    test::TempFolder folder;
    const AudioData mix = programme(4800);
    auto expectWriteError = [&](const fs::path& target, ExportFormat format, double rate) {
        const std::string message = test::refusal<PlatformError>([&] { ExportPipeline::write(mix, rate, target, format); });
        EXPECT_EQ(message.rfind(writeError(target), 0), 0u) << target << ": " << message;
        EXPECT_GT(message.size(), writeError(target).size()) << "no detail";
    };
    // The folder does not exist; the folder is a file.
    expectWriteError(folder / "missing" / "mix.wav", ExportFormat::wav24, 48000);
    Localization::use(AppLanguage::english,
                      Localization::table(AppLanguage::english, TESSORAL_SOURCE_DIR "/resources/Localization"));
    const std::string english = test::refusal<PlatformError>(
        [&] { ExportPipeline::write(mix, 48000, folder / "missing" / "mix.wav", ExportFormat::wav24); });
    Localization::use(AppLanguage::russian, {});
    EXPECT_EQ(english.rfind("Could not write the audio file “mix.wav”: ", 0), 0u) << english;
    std::ofstream(folder / "plain") << "x";
    expectWriteError(folder / "plain" / "mix.wav", ExportFormat::wav24, 48000);
    // The target is a folder with contents: the file is complete before the move fails.
    fs::create_directories(folder / "taken.flac" / "inside");
    expectWriteError(folder / "taken.flac", ExportFormat::flac, 48000);
    EXPECT_TRUE(fs::is_directory(folder / "taken.flac" / "inside"));
    // Rates no encoder takes.
    expectWriteError(folder / "rate.wav", ExportFormat::wav24, 44100.5);
    expectWriteError(folder / "rate.wav", ExportFormat::wav24, 0);
    expectWriteError(folder / "rate.m4a", ExportFormat::aac128, 4000);
    // The same refusal inside encodings measured against a ceiling reaches the caller whole.
    const std::string refused = test::refusal<PlatformError>(
        [&] { ExportPipeline::writeWithinCeiling(mix, 4000, folder / "ceiling.m4a", ExportFormat::aac128, -1.0); });
    EXPECT_EQ(refused.rfind(writeError("ceiling.m4a"), 0), 0u) << refused;
    EXPECT_EQ(folderEntries(folder.path()), (std::vector<std::string>{"plain", "taken.flac"}));
}

TEST(ExportPipeline, AWriteFailingHalfwayKeepsTheOldTarget) {
    // The file size limit makes the write fail part way (EFBIG); run in a child so the limit does
    // not reach other tests.
    test::TempFolder folder;
    const fs::path target = folder / "mix.wav";
    std::ofstream(target) << "old contents";
    auto exportUnderLimit = [&] {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        limit.rlim_cur = limit.rlim_max = 200000;
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const std::string message = test::refusal<PlatformError>(
            [&] { ExportPipeline::exportMix(programme(96000), target, options(ExportFormat::wav24)); });
        std::exit(message.find(writeError(target)) == 0 ? 0 : 1);
    };
    EXPECT_EXIT(exportUnderLimit(), ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(folderEntries(folder.path()), std::vector<std::string>{"mix.wav"});
    const auto bytes = test::readFile(target);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "old contents");
}
