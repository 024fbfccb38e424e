// Export: normalisation, conversion, dither and the file writers, checked with ffprobe, the ffmpeg
// decoder and libebur128 as independent readers.
#include <gtest/gtest.h>

#include <ebur128.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <numbers>
#include <string>
#include <tuple>
#include <vector>

#include "model/Localization.h"
#include "model/StudioError.h"
#include "model/Uuid.h"
#include "processing/ExportPipeline.h"
#include "support/TestAudio.h"

using namespace tessoral;
namespace fs = std::filesystem;

namespace {

// A fresh folder under the system's temporary folder, removed at the end.
class TempFolder {
public:
    TempFolder() : path_(fs::temp_directory_path() / ("tessoral-export-test-" + Uuid::random().text())) {
        fs::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }
    // Names of everything in the folder.
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(path_)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    fs::path path_;
};

std::string quoted(const fs::path& p) { return "'" + p.string() + "'"; }

std::string runText(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    ::pclose(pipe);
    return out;
}

// ffprobe's view of the first audio stream (and the container) as key → value.
std::map<std::string, std::string> probe(const fs::path& file) {
    const std::string text = runText(
        "ffprobe -v error -select_streams a:0 -show_entries "
        "stream=codec_name,sample_fmt,sample_rate,channels,bits_per_sample,bits_per_raw_sample,duration_ts,bit_rate"
        ":format=format_name:format_tags=major_brand -of default=noprint_wrappers=1 " +
        quoted(file));
    std::map<std::string, std::string> fields;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        if (const auto eq = line.find('='); eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
        start = end + 1;
    }
    return fields;
}

// The file decoded by the ffmpeg program, interleaved, in the raw format given ("s32le", "s16le", "f32le").
template <class T>
std::vector<T> decode(const fs::path& file, const std::string& rawFormat) {
    const std::string bytes =
        runText("ffmpeg -v error -i " + quoted(file) + " -f " + rawFormat + " -acodec pcm_" + rawFormat + " -");
    std::vector<T> samples(bytes.size() / sizeof(T));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(T));
    return samples;
}

std::vector<std::uint8_t> fileBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Nearest step of a signed integer format, halves away from zero, after the writer's clipping.
std::int64_t expectedStep(float x, double full) {
    const double clipped = std::clamp(static_cast<double>(x), -1.0, 1.0);
    return std::clamp<std::int64_t>(std::llround(clipped * full), static_cast<std::int64_t>(-full),
                                    static_cast<std::int64_t>(full) - 1);
}

// Two tones, fixed-seed noise and a few samples beyond full scale.
AudioData programme(std::int64_t frames) {
    AudioData noise = test::noise(frames, 0.2f, 11);
    std::vector<float> l = noise.left.toVector();
    std::vector<float> r = noise.right.toVector();
    for (std::int64_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / 48000.0;
        l[i] += static_cast<float>(0.55 * std::sin(2.0 * std::numbers::pi * 440.0 * t));
        r[i] += static_cast<float>(0.45 * std::sin(2.0 * std::numbers::pi * 1250.0 * t + 0.3));
    }
    if (frames > 3000) {
        l[1000] = 1.4f;
        r[2000] = -1.3f;
    }
    return AudioData(std::move(l), std::move(r));
}

// libebur128's true peak (dBTP) and integrated loudness of interleaved stereo floats.
std::pair<double, double> ebuTruePeakAndLoudness(const std::vector<float>& interleaved, unsigned rate) {
    ebur128_state* st = ebur128_init(2, rate, EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
    ebur128_add_frames_float(st, interleaved.data(), interleaved.size() / 2);
    double peak = 0.0;
    for (unsigned c = 0; c < 2; ++c) {
        double p = 0.0;
        ebur128_true_peak(st, c, &p);
        peak = std::max(peak, p);
    }
    double lufs = 0.0;
    ebur128_loudness_global(st, &lufs);
    ebur128_destroy(&st);
    return {20.0 * std::log10(peak), lufs};
}

float maxAbs(const std::vector<float>& v) {
    float m = 0.0f;
    for (float x : v) m = std::max(m, std::fabs(x));
    return m;
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

}  // namespace

// ---- every format at every rate ----

class ExportFormatRate : public ::testing::TestWithParam<std::tuple<ExportFormat, ExportSampleRate>> {};

TEST_P(ExportFormatRate, WritesTheFormatAtTheRateAndDecodesBack) {
    const auto [format, rate] = GetParam();
    TempFolder folder;
    const fs::path target = folder / ("mix." + std::string(fileExtension(format)));
    const AudioData mix = programme(48000);
    const ExportOptions options{format, rate, LoudnessTarget::none, false};

    const ExportResult result = ExportPipeline::exportMix(mix, target, options);

    const int written = rawValue(options.effectiveSampleRate());
    const std::int64_t frames = written == 48000 ? 48000 : (written == 44100 ? 44100 : 96000);
    EXPECT_EQ(result.frames, frames);
    EXPECT_EQ(folder.entries(), std::vector<std::string>{target.filename().string()});

    auto info = probe(target);
    const Expected expected = expectedFor(format);
    EXPECT_EQ(info["codec_name"], expected.codec);
    EXPECT_EQ(info["sample_fmt"], expected.sampleFormat);
    EXPECT_EQ(info["sample_rate"], std::to_string(written));
    EXPECT_EQ(info["channels"], "2");
    if (format == ExportFormat::flac || format == ExportFormat::alac) {
        EXPECT_EQ(info["bits_per_raw_sample"], std::to_string(expected.bits));
    } else if (expected.bits) {
        EXPECT_EQ(info["bits_per_sample"], std::to_string(expected.bits));
    }
    EXPECT_EQ(info["duration_ts"], std::to_string(frames));
    if (fileExtension(format) == "m4a") EXPECT_EQ(info["TAG:major_brand"], "M4A ");

    // What the writer was given: the mix converted to the written rate.
    const AudioData out = ExportPipeline::resample(mix, written);
    ASSERT_EQ(out.frames(), frames);

    if (isAAC(format)) {
        // Lossy: the same length and the same signal within the codec's error.
        // The decoder keeps the codec's end padding; the stream states the true length (checked above).
        const auto decoded = decode<float>(target, "f32le");
        ASSERT_GE(decoded.size() / 2, static_cast<std::size_t>(frames));
        ASSERT_LT(decoded.size() / 2, static_cast<std::size_t>(frames + 1024));
        double signal = 0.0, error = 0.0;
        for (std::int64_t i = 0; i < frames; ++i) {
            const double l = std::clamp(out.left[i], -1.0f, 1.0f), r = std::clamp(out.right[i], -1.0f, 1.0f);
            signal += l * l + r * r;
            error += (decoded[2 * i] - l) * (decoded[2 * i] - l) + (decoded[2 * i + 1] - r) * (decoded[2 * i + 1] - r);
        }
        EXPECT_GT(10.0 * std::log10(signal / error), 10.0);
        const double kbps = std::stod(info["bit_rate"]) / 1000.0;
        const double nominal = format == ExportFormat::aac256 ? 256 : (format == ExportFormat::aac192 ? 192 : 128);
        EXPECT_NEAR(kbps, nominal, nominal * 0.35);
        return;
    }

    if (format == ExportFormat::wav32f) {
        // Samples as they are, including those beyond full scale.
        const auto decoded = decode<float>(target, "f32le");
        ASSERT_EQ(decoded.size(), static_cast<std::size_t>(2 * frames));
        for (std::int64_t i = 0; i < frames; ++i) {
            ASSERT_EQ(decoded[2 * i], out.left[i]) << i;
            ASSERT_EQ(decoded[2 * i + 1], out.right[i]) << i;
        }
        return;
    }

    if (format == ExportFormat::wav16) {
        const auto decoded = decode<std::int16_t>(target, "s16le");
        ASSERT_EQ(decoded.size(), static_cast<std::size_t>(2 * frames));
        for (std::int64_t i = 0; i < frames; ++i) {
            ASSERT_EQ(decoded[2 * i], expectedStep(out.left[i], 32768.0)) << i;
            ASSERT_EQ(decoded[2 * i + 1], expectedStep(out.right[i], 32768.0)) << i;
        }
        return;
    }

    // 24-bit formats decode to 32-bit samples with the 24 bits in the high part.
    const auto decoded = decode<std::int32_t>(target, "s32le");
    ASSERT_EQ(decoded.size(), static_cast<std::size_t>(2 * frames));
    for (std::int64_t i = 0; i < frames; ++i) {
        ASSERT_EQ(decoded[2 * i], expectedStep(out.left[i], 8388608.0) * 256) << i;
        ASSERT_EQ(decoded[2 * i + 1], expectedStep(out.right[i], 8388608.0) * 256) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(AllFormats, ExportFormatRate,
                         ::testing::Combine(::testing::ValuesIn(kFormats), ::testing::ValuesIn(kExportSampleRates)),
                         [](const auto& info) {
                             return std::string(rawValue(std::get<0>(info.param))) + "_" +
                                    std::to_string(rawValue(std::get<1>(info.param)));
                         });

TEST(ExportPipeline, SampleRateCasesAndEffectiveRate) {
    EXPECT_EQ(exportSampleRate(44100), ExportSampleRate::hz44100);
    EXPECT_EQ(exportSampleRate(96000), ExportSampleRate::hz96000);
    EXPECT_EQ(exportSampleRate(44000), std::nullopt);
    EXPECT_EQ(exportSampleRate(0), std::nullopt);
    for (ExportFormat f : kFormats) {
        const ExportOptions at96{f, ExportSampleRate::hz96000, LoudnessTarget::none, false};
        const ExportOptions at44{f, ExportSampleRate::hz44100, LoudnessTarget::none, false};
        EXPECT_EQ(at96.effectiveSampleRate(), isAAC(f) ? ExportSampleRate::hz48000 : ExportSampleRate::hz96000);
        EXPECT_EQ(at44.effectiveSampleRate(), ExportSampleRate::hz44100);
    }
}

TEST(ExportPipeline, IdenticalExportsAreIdenticalFiles) {
    TempFolder folder;
    const AudioData mix = programme(30000);
    for (ExportFormat f : kFormats) {
        SCOPED_TRACE(std::string(rawValue(f)));
        const ExportOptions options{f, ExportSampleRate::hz44100, LoudnessTarget::none, true};
        const fs::path a = folder / ("a." + std::string(fileExtension(f)));
        const fs::path b = folder / ("b." + std::string(fileExtension(f)));
        ExportPipeline::exportMix(mix, a, options);
        ExportPipeline::exportMix(mix, b, options);
        const auto bytesA = fileBytes(a);
        EXPECT_GT(bytesA.size(), 1000u);
        EXPECT_TRUE(bytesA == fileBytes(b));
    }
}

TEST(ExportPipeline, EmptyAudioWritesFilesWithoutFrames) {
    TempFolder folder;
    for (ExportFormat f : kFormats) {
        SCOPED_TRACE(std::string(rawValue(f)));
        const fs::path target = folder / ("empty." + std::string(fileExtension(f)));
        const ExportResult r =
            ExportPipeline::exportMix(AudioData(), target, {f, ExportSampleRate::hz44100, LoudnessTarget::streaming, true});
        EXPECT_EQ(r.frames, 0);
        EXPECT_FALSE(r.clipped);
        EXPECT_EQ(r.measurement, LoudnessMeasurement());
        auto info = probe(target);
        if (fileExtension(f) == "m4a") {
            // The MP4 writer leaves out a track without samples: an empty but valid container.
            EXPECT_EQ(info["TAG:major_brand"], "M4A ");
        } else {
            EXPECT_EQ(info["codec_name"], expectedFor(f).codec);
            EXPECT_TRUE(decode<float>(target, "f32le").empty());
        }
    }
}

// ---- conversion ----

TEST(ExportPipeline, ResampleMatchesTheAnalyticSignalAndTheLengthRule) {
    // A 997 Hz tone converted to 44.1 and 96 kHz equals the tone sampled at that rate (inside the
    // filter's settling time at the edges).
    const std::int64_t frames = 96000;
    std::vector<float> l(frames), r(frames);
    auto tone = [](double t, double f, double phase) { return 0.5 * std::sin(2.0 * std::numbers::pi * f * t + phase); };
    for (std::int64_t i = 0; i < frames; ++i) {
        l[i] = static_cast<float>(tone(i / 48000.0, 997.0, 0.0));
        r[i] = static_cast<float>(tone(i / 48000.0, 3001.0, 1.0));
    }
    const AudioData source(std::move(l), std::move(r));
    for (double rate : {44100.0, 96000.0, 22050.0}) {
        const AudioData out = ExportPipeline::resample(source, rate);
        ASSERT_EQ(out.frames(), std::llround(frames * rate / 48000.0));
        double worst = 0.0;
        for (std::int64_t i = out.frames() / 10; i < out.frames() * 9 / 10; ++i) {
            worst = std::max(worst, std::fabs(out.left[i] - tone(i / rate, 997.0, 0.0)));
            worst = std::max(worst, std::fabs(out.right[i] - tone(i / rate, 3001.0, 1.0)));
        }
        EXPECT_LT(worst, 2e-5) << rate;
    }

    // Lengths: round(frames × rate / 48000), padding a very short signal.
    EXPECT_EQ(ExportPipeline::resample(programme(48000), 44100).frames(), 44100);
    EXPECT_EQ(ExportPipeline::resample(programme(7), 44100).frames(), 6);    // 6.43
    EXPECT_EQ(ExportPipeline::resample(programme(1), 44100).frames(), 1);    // 0.92
    EXPECT_EQ(ExportPipeline::resample(programme(160), 44100).frames(), 147);
    EXPECT_EQ(ExportPipeline::resample(programme(1), 96000).frames(), 2);

    // Nothing to convert: the same storage comes back.
    const AudioData same = ExportPipeline::resample(source, 48000.0);
    EXPECT_TRUE(same.left.sharesStorageWith(source.left));
    EXPECT_TRUE(ExportPipeline::resample(AudioData(), 44100).empty());
}

TEST(ExportPipeline, ResampleRefusesRatesItCannotServe) {
    const AudioData a = programme(1000);
    for (double rate : {0.0, -44100.0, std::nan(""), HUGE_VAL, 1e12}) {
        try {
            ExportPipeline::resample(a, rate);
            ADD_FAILURE() << rate;
        } catch (const StudioError& e) {
            EXPECT_EQ(e.message(), L("Не удалось подготовить преобразование частоты дискретизации."));
        }
    }
}

// ---- dither ----

TEST(ExportPipeline, DitherOfSilenceFollowsTheGeneratorAcrossBothChannels) {
    // x = 0: the output step is round(u1 − u2) with u from the top 24 bits of SplitMix64, the
    // state running on from the left channel into the right.
    const std::int64_t frames = 5000;
    AudioData a = AudioData::silence(frames);
    ExportPipeline::dither16(a, 42);
    test::SplitMix64 reference(42);
    auto step = [&] {
        const double u1 = static_cast<double>(reference.next() >> 40) / 16777216.0;
        const double u2 = static_cast<double>(reference.next() >> 40) / 16777216.0;
        return std::round(u1 - u2) / 32768.0;
    };
    int nonZero = 0;
    for (std::int64_t i = 0; i < frames; ++i) {
        const double expected = step();
        ASSERT_EQ(a.left[i], expected) << i;
        nonZero += expected != 0.0;
    }
    for (std::int64_t i = 0; i < frames; ++i) ASSERT_EQ(a.right[i], step()) << i;
    EXPECT_GT(nonZero, frames / 10);  // the dither is really there (P(|u1−u2| ≥ ½) = ¼)
}

TEST(ExportPipeline, DitherIsTriangularWithConstantErrorPower) {
    // TPDF dither makes the total error power (1/6 of the dither plus 1/12 of the rounding = 1/4
    // step²) independent of where the signal lies between two steps, and its mean zero.
    for (double fraction : {0.0, 0.25, 0.5, 0.8}) {
        const std::int64_t frames = 100000;
        const float x = static_cast<float>((1000.0 + fraction) / 32768.0);
        AudioData a = test::constant(frames, x);
        ExportPipeline::dither16(a, ExportPipeline::kDitherSeed);
        double sum = 0.0, squares = 0.0;
        for (std::int64_t i = 0; i < frames; ++i) {
            const double steps = a.left[i] * 32768.0;
            ASSERT_EQ(steps, std::round(steps));
            ASSERT_LE(std::fabs(steps - 1000.0 - fraction), 1.5);
            const double e = steps - 1000.0 - fraction;
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
    TempFolder folder;
    const AudioData mix = test::noise(20000, 0.3f, 5);
    // On: the seeded dither of the export (off is the plain nearest step, checked with every format).
    ExportPipeline::exportMix(mix, folder / "dithered.wav", {ExportFormat::wav16, ExportSampleRate::hz48000,
                                                             LoudnessTarget::none, true});
    AudioData reference = mix;
    ExportPipeline::dither16(reference, ExportPipeline::kDitherSeed);
    const auto dithered = decode<std::int16_t>(folder / "dithered.wav", "s16le");
    ASSERT_EQ(dithered.size(), 40000u);
    int differing = 0;
    for (std::int64_t i = 0; i < 20000; ++i) {
        ASSERT_EQ(dithered[2 * i], std::lround(reference.left[i] * 32768.0f));
        ASSERT_EQ(dithered[2 * i + 1], std::lround(reference.right[i] * 32768.0f));
        differing += dithered[2 * i] != expectedStep(mix.left[i], 32768.0);
    }
    EXPECT_GT(differing, 2000);

    // The dither switch does nothing to a 24-bit export.
    ExportPipeline::exportMix(mix, folder / "a.wav", {ExportFormat::wav24, ExportSampleRate::hz48000,
                                                      LoudnessTarget::none, true});
    ExportPipeline::exportMix(mix, folder / "b.wav", {ExportFormat::wav24, ExportSampleRate::hz48000,
                                                      LoudnessTarget::none, false});
    EXPECT_TRUE(fileBytes(folder / "a.wav") == fileBytes(folder / "b.wav"));
}

// ---- clipping, peaks and loudness targets ----

TEST(ExportPipeline, ClippingIsReportedAndAppliedExceptForFloat) {
    TempFolder folder;
    const AudioData loud = programme(48000);  // holds 1.4 and −1.3
    const ExportResult f = ExportPipeline::exportMix(loud, folder / "f.wav", {ExportFormat::wav32f,
                                                                              ExportSampleRate::hz48000,
                                                                              LoudnessTarget::none, false});
    EXPECT_FALSE(f.clipped);
    EXPECT_FLOAT_EQ(maxAbs(decode<float>(folder / "f.wav", "f32le")), 1.4f);

    const ExportResult i = ExportPipeline::exportMix(loud, folder / "i.wav", {ExportFormat::wav24,
                                                                              ExportSampleRate::hz48000,
                                                                              LoudnessTarget::none, false});
    EXPECT_TRUE(i.clipped);
    const auto ints = decode<std::int32_t>(folder / "i.wav", "s32le");
    EXPECT_EQ(*std::max_element(ints.begin(), ints.end()), 8388607 * 256);
    EXPECT_EQ(*std::min_element(ints.begin(), ints.end()), -8388608 * 256);

    // Converted audio is judged after conversion: a square wave at full scale is not clipped at
    // 48 kHz, but its conversion overshoots.
    std::vector<float> square(9600);
    for (std::size_t k = 0; k < square.size(); ++k) square[k] = (k / 40) % 2 ? 1.0f : -1.0f;
    const AudioData atOne = AudioData::mono(square);
    EXPECT_FALSE(ExportPipeline::exportMix(atOne, folder / "one.wav", {ExportFormat::wav24,
                                                                       ExportSampleRate::hz48000,
                                                                       LoudnessTarget::none, false})
                     .clipped);
    EXPECT_TRUE(ExportPipeline::exportMix(atOne, folder / "one.flac",
                                          {ExportFormat::flac, ExportSampleRate::hz44100, LoudnessTarget::none, false})
                    .clipped);
}

TEST(ExportPipeline, PeakTargetPutsTheWrittenPeakAtMinusOneDBFS) {
    TempFolder folder;
    const AudioData mix = programme(48000);
    // 48 kHz: normalisation alone sets the peak.
    const ExportResult at48 = ExportPipeline::exportMix(
        mix, folder / "48.wav", {ExportFormat::wav32f, ExportSampleRate::hz48000, LoudnessTarget::peak, false});
    EXPECT_NEAR(maxAbs(decode<float>(folder / "48.wav", "f32le")), 0.8912509f, 1e-7f);
    EXPECT_NEAR(at48.measurement.samplePeak, -1.0, 1e-6);
    EXPECT_FALSE(at48.clipped);

    // 44.1 kHz: the converted signal is scaled once more so its peak is −1 dBFS again.
    const ExportResult at44 = ExportPipeline::exportMix(
        mix, folder / "44.wav", {ExportFormat::wav32f, ExportSampleRate::hz44100, LoudnessTarget::peak, false});
    const float peak = maxAbs(decode<float>(folder / "44.wav", "f32le"));
    EXPECT_NEAR(peak, 0.8912509f, 1e-7f);
    EXPECT_DOUBLE_EQ(at44.measurement.samplePeak, 20.0 * std::log10(static_cast<double>(peak)));
    EXPECT_EQ(at44.frames, 44100);
    // The loudness is that of the 48 kHz mix after the second scaling: the two exports differ by the
    // ratio of the peaks before and after conversion (the mix's lone full-scale samples lose height).
    ASSERT_TRUE(at44.measurement.lufs && at48.measurement.lufs);
    const double peak48 = std::max(maxAbs(mix.left.toVector()), maxAbs(mix.right.toVector()));
    const AudioData converted = ExportPipeline::resample(mix, 44100);
    const double peak44 = std::max(maxAbs(converted.left.toVector()), maxAbs(converted.right.toVector()));
    EXPECT_GT(peak48 / peak44, 1.05);
    EXPECT_NEAR(*at44.measurement.lufs - *at48.measurement.lufs, 20.0 * std::log10(peak48 / peak44), 0.01);
}

TEST(ExportPipeline, LoudnessTargetsKeepTheTruePeakUnderTheCeiling) {
    TempFolder folder;
    // A full-scale square wave.
    std::vector<float> square(48000 * 3);
    for (std::size_t i = 0; i < square.size(); ++i) square[i] = (i / 55) % 2 ? 1.0f : -1.0f;
    // Quiet noise with sparse loud clicks: reaching −14 LUFS needs far more gain than the clicks allow.
    AudioData spiky = test::noise(48000 * 4, 0.05f, 9);
    {
        auto& l = spiky.left.mutableVector();
        auto& r = spiky.right.mutableVector();
        for (std::size_t i = 24000; i < l.size(); i += 48000) {
            l[i] = 0.7f;
            r[i + 1] = -0.6f;
        }
    }
    const AudioData inputs[] = {AudioData::mono(square), spiky};
    int n = 0;
    for (const AudioData& mix : inputs) {
        for (auto [target, ceiling, lufs] : {std::tuple{LoudnessTarget::streaming, -1.0, -14.0},
                                             std::tuple{LoudnessTarget::atsc, -2.0, -24.0}}) {
            for (ExportSampleRate rate : kExportSampleRates) {
                SCOPED_TRACE(std::to_string(n) + " " + std::string(rawValue(target)) + " " +
                             std::to_string(rawValue(rate)));
                const fs::path file = folder / ("n" + std::to_string(n++) + ".wav");
                const ExportResult r = ExportPipeline::exportMix(mix, file, {ExportFormat::wav32f, rate, target, false});
                const auto decoded = decode<float>(file, "f32le");
                const auto [truePeak, loudness] = ebuTruePeakAndLoudness(decoded, rawValue(rate));
                EXPECT_LE(truePeak, ceiling);
                EXPECT_LE(r.measurement.truePeak, ceiling);
                // The limiter costs the clicky mix some loudness, more where it works again after conversion.
                EXPECT_NEAR(loudness, lufs, 1.5);
                ASSERT_TRUE(r.measurement.lufs.has_value());
                EXPECT_NEAR(*r.measurement.lufs, lufs, 1.0);
            }
        }
    }
}

// ---- files ----

TEST(ExportPipeline, ReplacesAnExistingFileAndCreatesANewOne) {
    TempFolder folder;
    const fs::path existing = folder / "mix.flac";
    std::ofstream(existing) << "old contents";
    const AudioData mix = programme(4800);
    ExportPipeline::exportMix(mix, existing, {ExportFormat::flac, ExportSampleRate::hz48000, LoudnessTarget::none, false});
    ExportPipeline::exportMix(mix, folder / "new.m4a", {ExportFormat::alac, ExportSampleRate::hz48000,
                                                        LoudnessTarget::none, false});
    EXPECT_EQ(folder.entries(), (std::vector<std::string>{"mix.flac", "new.m4a"}));
    EXPECT_EQ(probe(existing)["codec_name"], "flac");
    EXPECT_EQ(decode<std::int32_t>(existing, "s32le").size(), 9600u);
    EXPECT_EQ(decode<std::int32_t>(folder / "new.m4a", "s32le").size(), 9600u);

}

TEST(ExportPipeline, FailuresThrowAndLeaveNoTemporaryFile) {
    TempFolder folder;
    const AudioData mix = programme(4800);
    auto expectWriteError = [&](const fs::path& target, ExportFormat format, double rate) {
        try {
            ExportPipeline::write(mix, rate, target, format);
            ADD_FAILURE() << target;
        } catch (const PlatformError& e) {
            EXPECT_EQ(e.message().rfind(L("Не удалось записать аудиофайл: {0}", ""), 0), 0u) << e.message();
            EXPECT_GT(e.message().size(), L("Не удалось записать аудиофайл: {0}", "").size()) << "no detail";
        }
    };

    // The folder does not exist; the folder is a file.
    expectWriteError(folder / "missing" / "mix.wav", ExportFormat::wav24, 48000);
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

    EXPECT_EQ(folder.entries(), (std::vector<std::string>{"plain", "taken.flac"}));
}

TEST(ExportPipeline, AWriteFailingHalfwayKeepsTheOldTarget) {
    // The file size limit makes the write fail part way (EFBIG); run in a child so the limit does
    // not reach other tests.
    TempFolder folder;
    const fs::path target = folder / "mix.wav";
    std::ofstream(target) << "old contents";
    auto exportUnderLimit = [&] {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        limit.rlim_cur = limit.rlim_max = 200000;
        ::setrlimit(RLIMIT_FSIZE, &limit);
        bool threw = false;
        try {
            const ExportOptions options{ExportFormat::wav24, ExportSampleRate::hz48000, LoudnessTarget::none, false};
            ExportPipeline::exportMix(programme(96000), target, options);
        } catch (const PlatformError& e) {
            threw = e.message().find(L("Не удалось записать аудиофайл: {0}", "")) == 0;
        }
        std::exit(threw ? 0 : 1);
    };
    EXPECT_EXIT(exportUnderLimit(), ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"mix.wav"});
    std::ifstream in(target);
    std::string contents;
    std::getline(in, contents);
    EXPECT_EQ(contents, "old contents");
}
