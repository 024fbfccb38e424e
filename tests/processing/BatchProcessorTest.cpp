// Batch processing: output names, per-file failures, cancellation, progress and output rates
// (read by ffprobe), and the controller's state around a run.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>

#include "model/BplistTestSupport.h"
#include "model/Localization.h"
#include "processing/AudioIO.h"
#include "processing/BatchProcessor.h"
#include "processing/ExportPipeline.h"
#include "support/TestAudio.h"
#include "support/TestSignals.h"
#include "support/TestTools.h"

using namespace tessoral;
using test::ffprobe;
namespace fs = std::filesystem;

namespace {

// A 1 s 440 Hz tone written with our own writer at `rate` in `format`.
fs::path writeInput(const fs::path& path, double rate = 48000, ExportFormat format = ExportFormat::wav24,
                    float amplitude = 0.25f) {
    const auto tone = test::sine(static_cast<std::size_t>(rate), 440, amplitude, 0.0, rate);
    ExportPipeline::write(AudioData(tone, tone), rate, path, format);
    return path;
}

struct Progress {
    std::vector<std::pair<std::size_t, std::string>> calls;
    std::function<void(std::size_t, const std::string&)> callback() {
        return [this](std::size_t i, const std::string& name) { calls.emplace_back(i, name); };
    }
};

}  // namespace

TEST(BatchProcessor, EmptyListReportsOnce) {
    Progress p;
    const auto report = BatchProcessor::run(BatchJob{}, [] { return false; }, p.callback());
    EXPECT_EQ(report, BatchReport{});
    EXPECT_EQ(p.calls, (decltype(p.calls){{0, ""}}));
}

TEST(BatchProcessor, OutputNamesNeverCollide) {
    test::TempFolder in, out;
    BatchJob job;
    job.inputs = {writeInput(in / "a.wav"), writeInput(in / "a.flac", 48000, ExportFormat::flac)};
    job.outputFolder = out.path();
    Progress p;
    const auto report = BatchProcessor::run(job, {}, p.callback());
    EXPECT_TRUE(report.failures.empty());
    EXPECT_EQ(report.written, (std::vector<fs::path>{out / "a (обработано).wav", out / "a (обработано) 2.wav"}));
    EXPECT_EQ(p.calls, (decltype(p.calls){{0, "a.wav"}, {1, "a.flac"}, {2, ""}}));

    // An input in the output folder whose output name is its own name is not overwritten.
    const fs::path self = in / "b (обработано).wav";
    EXPECT_EQ(BatchProcessor::outputURL(in / "b.wav", in.path(), ExportFormat::wav24), in / "b (обработано).wav");
    writeInput(self);
    EXPECT_EQ(BatchProcessor::outputURL(in / "b.wav", in.path(), ExportFormat::aiff24), in / "b (обработано).aiff");
    EXPECT_EQ(BatchProcessor::outputURL(in / "b.wav", in.path(), ExportFormat::wav16), in / "b (обработано) 2.wav");
    EXPECT_EQ(BatchProcessor::outputURL(in / "song.mp3", in.path(), ExportFormat::aac128), in / "song (обработано).m4a");
}

TEST(BatchProcessor, DamagedFileIsOneFailure) {
    test::TempFolder in, out;
    BatchJob job;
    test::writeFile(in / "two.wav", {'R', 'I', 'F', 'F', 0, 1, 2, 3, 'n', 'o', 'p', 'e'});
    // A file cut short is written from what it holds, and named in the report.
    const fs::path three = writeInput(in / "three.wav");
    fs::resize_file(three, fs::file_size(three) - 3000);
    job.inputs = {writeInput(in / "one.wav"), in / "two.wav", three};
    job.outputFolder = out.path();
    job.rack = {EffectSlot(EffectPreset::invert)};
    const auto report = BatchProcessor::run(job, [] { return false; }, {});
    EXPECT_FALSE(report.cancelled);
    EXPECT_EQ(report.written, (std::vector<fs::path>{out / "one (обработано).wav", out / "three (обработано).wav"}));
    EXPECT_EQ(report.done, (std::vector<std::string>{"one.wav", "three.wav"}));
    EXPECT_EQ(report.endedEarly, (std::vector<std::string>{"three.wav"}));
    ASSERT_EQ(report.failures.size(), 1u);
    EXPECT_EQ(report.failures[0].file, "two.wav");
    EXPECT_FALSE(report.failures[0].message.empty());
    EXPECT_EQ(test::folderEntries(out.path()).size(), 2u);
}

TEST(BatchProcessor, CancellingDuringTheSecondFile) {
    test::TempFolder in, out;
    BatchJob job;
    job.inputs = {writeInput(in / "1.wav"), writeInput(in / "2.wav"), writeInput(in / "3.wav")};
    job.outputFolder = out.path();
    // The query turns true once the second file is under way: the rack asks it before its
    // effects, and without effects the batch asks it when the file has been read.
    for (const auto& rack : {std::vector<EffectSlot>{EffectSlot(EffectPreset::invert), EffectSlot(EffectPreset::invert)},
                             std::vector<EffectSlot>{}}) {
        job.rack = rack;
        fs::remove_all(out.path() / "1 (обработано).wav");
        Progress p;
        const auto report =
            BatchProcessor::run(job, [&] { return !p.calls.empty() && p.calls.back().first == 1; }, p.callback());
        EXPECT_TRUE(report.cancelled);
        EXPECT_EQ(report.written, (std::vector<fs::path>{out / "1 (обработано).wav"}));
        EXPECT_TRUE(report.failures.empty());
        EXPECT_EQ(p.calls, (decltype(p.calls){{0, "1.wav"}, {1, "2.wav"}, {3, ""}}));
        EXPECT_EQ(test::folderEntries(out.path()), (std::vector<std::string>{"1 (обработано).wav"}));
    }

    // Cancelled before any input: nothing is processed, the final call still comes.
    Progress q;
    const auto none = BatchProcessor::run(job, [] { return true; }, q.callback());
    EXPECT_TRUE(none.cancelled);
    EXPECT_TRUE(none.written.empty());
    EXPECT_EQ(q.calls, (decltype(q.calls){{3, ""}}));
}

TEST(BatchProcessor, OutputRateFollowsTheInputWithinTheFormat) {
    test::TempFolder in, out;
    BatchJob job;
    job.inputs = {writeInput(in / "hi.flac", 96000, ExportFormat::flac)};
    job.outputFolder = out.path();
    job.format = ExportFormat::aac256;
    auto report = BatchProcessor::run(job, {}, {});
    ASSERT_EQ(report.written.size(), 1u) << (report.failures.empty() ? "" : report.failures[0].message);
    EXPECT_EQ(ffprobe(report.written[0], "sample_rate"), "48000");
    EXPECT_EQ(ffprobe(report.written[0], "codec_name"), "aac");

    job.format = ExportFormat::flac;
    report = BatchProcessor::run(job, {}, {});
    ASSERT_EQ(report.written.size(), 1u);
    EXPECT_EQ(ffprobe(report.written[0], "sample_rate"), "96000");

    job.sampleRate = ExportSampleRate::hz44100;
    job.format = ExportFormat::wav16;
    job.dither = true;
    report = BatchProcessor::run(job, {}, {});
    ASSERT_EQ(report.written.size(), 1u);
    EXPECT_EQ(ffprobe(report.written[0], "sample_rate"), "44100");
    EXPECT_EQ(ffprobe(report.written[0], "duration_ts"), "44100");

    // Each file is opened once, by the reader: a 70 MB coding history before the sound and 256 MB
    // of zeros after it (sparse files) keep the file's own rate, and the tail is never read.
    const fs::path bwf = in / "bwf.wav", tail = writeInput(in / "tail.wav", 44100, ExportFormat::wav16);
    const auto wav = test::readFile(writeInput(bwf, 96000, ExportFormat::wav16));
    const auto data = std::search(wav.begin(), wav.end(), "data", "data" + 4);
    const auto le32 = [](std::uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
    std::ofstream file(bwf, std::ios::binary);
    file << "RIFF" << le32(std::uint32_t(wav.size() + (70 << 20))) << std::string(wav.begin() + 8, data) << "bext" << le32(70 << 20);
    file.seekp(70 << 20, std::ios::cur) << std::string(data, wav.end()) << std::flush;
    fs::resize_file(tail, fs::file_size(tail) + (std::uintmax_t{256} << 20));
    // A Vorbis file (read by its own decoder) keeps its rate too.
    const fs::path ogg = in / "v.ogg";
    ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -f lavfi -i sine=r=22050 -t 1 -c:a libvorbis '" + ogg.string() + "'").c_str()), 0);
    job = BatchJob{{bwf, tail, ogg}, {}, false, out.path(), ExportFormat::flac};
    const auto start = std::chrono::steady_clock::now();
    report = BatchProcessor::run(job, {}, {});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));  // a tail read takes ~30 s
    ASSERT_EQ(report.written.size(), 3u) << (report.failures.empty() ? "" : report.failures[0].message);
    EXPECT_EQ(ffprobe(report.written[0], "sample_rate") + ffprobe(report.written[0], "duration_ts"), "9600096000");
    EXPECT_EQ(ffprobe(report.written[1], "sample_rate") + ffprobe(report.written[1], "duration_ts"), "4410044100");
    EXPECT_EQ(ffprobe(report.written[2], "sample_rate") + ffprobe(report.written[2], "duration_ts"), "2205022050");
}

TEST(BatchProcessor, NormalizeBringsEachFileToSixteenLUFS) {
    test::TempFolder in, out;
    BatchJob job;
    job.inputs = {writeInput(in / "quiet.wav", 48000, ExportFormat::wav32f, 0.02f)};
    job.outputFolder = out.path();
    job.format = ExportFormat::wav32f;
    job.normalize = true;
    const auto report = BatchProcessor::run(job, {}, {});
    ASSERT_EQ(report.written.size(), 1u);
    EXPECT_NEAR(*test::ebur128Measure(AudioIO::read(report.written[0])).lufs, -16.0, 0.1);
}
