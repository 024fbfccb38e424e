// Marker export: numbering and clipping of ranges, file names under the Unicode rules, the
// per-range files, and the CSV list as Python's csv module reads it.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "model/BplistTestSupport.h"
#include "model/Localization.h"
#include "model/Session.h"
#include "model/StudioError.h"
#include "model/UnicodeText.h"
#include "processing/MarkerExport.h"
#include "support/TestAudio.h"
#include "support/TestTools.h"

using namespace tessoral;
namespace fs = std::filesystem;

namespace {

SessionMarker marker(const std::string& name, double start, std::optional<double> end = std::nullopt) {
    SessionMarker m;
    m.name = name;
    m.start = start;
    m.end = end;
    return m;
}

MarkerExport::Item item(const std::string& name, int number = 1) {
    return {number, marker(name, 0, 1), TimeRange{0, 1}};
}

// The stated length of the first audio stream in samples, read by ffprobe.
std::string probedFrames(const fs::path& file) { return test::ffprobe(file, "duration_ts"); }

}  // namespace

TEST(MarkerExportItems, SortedClippedAndNumbered) {
    const auto a = marker("a", 2, 3);
    const auto b = marker("b", -1, 0.5);       // starts before 0
    const auto c = marker("c", 9, 12);         // ends after the project
    const auto outside = marker("out", 11, 12);
    const auto point = marker("p", 1);
    const auto tiny = marker("tiny", 4, 4 + 0.5 / 48000);
    const auto d = marker("d", 2, 2.5);        // same start as a, listed after it
    const auto items = MarkerExport::items({a, outside, b, c, point, tiny, d}, 10);
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0].marker.name, "b");
    EXPECT_EQ(items[0].range, (TimeRange{0, 0.5}));
    EXPECT_EQ(items[1].marker.name, "a");
    EXPECT_EQ(items[2].marker.name, "d");
    EXPECT_EQ(items[3].marker.name, "c");
    EXPECT_EQ(items[3].range, (TimeRange{9, 10}));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(items[static_cast<std::size_t>(i)].number, i + 1);
    // Exactly one frame is kept; NaN never is.
    EXPECT_EQ(MarkerExport::items({marker("f", 1, 1 + 1.0 / 48000)}, 10).size(), 1u);
    EXPECT_TRUE(MarkerExport::items({marker("n", std::nan(""), 2), marker("n", 1, std::nan(""))}, 10).empty());
}

TEST(MarkerExportNames, CleanedNumberedAndCut) {
    using MarkerExport::fileName;
    EXPECT_EQ(fileName(item("..hidden"), "wav"), "01 hidden.wav");
    EXPECT_EQ(fileName(item("///"), "wav"), "01 ---.wav");
    EXPECT_EQ(fileName(item(""), "wav"), "01 Маркер.wav");
    EXPECT_EQ(fileName(item(" \u00a0\u3000"), "wav"), "01 Маркер.wav");
    EXPECT_EQ(fileName(item("\tx"), "wav"), "01 -x.wav");  // a tab is a control character first
    EXPECT_EQ(fileName(item("Intro: take/2", 3), "wav"), "03 Intro- take-2.wav");
    EXPECT_EQ(fileName(item("a\\b*c?d\"e<f>g|h", 4), "flac"), "04 a-b-c-d-e-f-g-h.flac");
    // Controls, format characters and line breaks: U+0007, U+200B, LF, U+0085, U+2028.
    EXPECT_EQ(fileName(item("a\x07" "b\u200b" "c\nd\u0085" "e\u2028" "f"), "m4a"), "01 a-b-c-d-e-f.m4a");
    // Whitespace uncovered by removing the dots stays.
    EXPECT_EQ(fileName(item("  . x"), "wav"), "01  x.wav");
    EXPECT_EQ(fileName(item("x", 100), "aiff"), "100 x.aiff");

    // 200 characters, the first ten of three bytes each (e + combining acute): 120 are kept.
    std::string longName;
    for (int i = 0; i < 10; ++i) longName += "e\u0301";
    longName += std::string(190, 'x');
    const std::string expected = "01 " + longName.substr(0, 30 + 110) + ".wav";
    EXPECT_EQ(fileName(item(longName), "wav"), expected);
}

TEST(MarkerExportNames, LongMultiByteNamesStillMakeAFile) {
    std::string emoji;
    for (int i = 0; i < 130; ++i) emoji += "\U0001F600";
    const std::string name = MarkerExport::fileName(item(emoji, 12345), "wav");
    EXPECT_LE(name.size() + 6, MarkerExport::kMaxFileNameBytes);
    EXPECT_EQ(name.substr(0, 6), "12345 ");
    EXPECT_EQ(name.substr(name.size() - 4), ".wav");
    EXPECT_EQ((name.size() - 10) % 4, 0u);  // whole characters only
    test::TempFolder dir;
    EXPECT_TRUE(std::ofstream(dir / (name.substr(0, name.size() - 4) + " 99999.wav")).good());
}

TEST(MarkerExportCSV, ReadBackByPythonCsv) {
    const std::vector<SessionMarker> markers{
        marker("Конец", 61.25, 125.0),
        marker("Intro, \"take\" 1", 1.5, 3.2509),
        marker("две\nстроки", 1.5),
        marker("plain", 0.0004, 0.0),
    };
    const std::string text = MarkerExport::csv(markers);
    EXPECT_EQ(text.back(), '\n');
    EXPECT_NE(text.substr(0, 3), "\xEF\xBB\xBF");
    test::TempFolder dir;
    const auto file = dir / "m.csv";
    test::writeFile(file, std::vector<std::uint8_t>(text.begin(), text.end()));
    bool ok = false;
    const std::string out = test::python(R"(
import csv, json, sys
with open(sys.argv[1], newline='', encoding='utf-8') as f:
    print(json.dumps(list(csv.reader(f)), ensure_ascii=False))
)", {file.string()}, &ok);
    ASSERT_TRUE(ok) << out;
    const auto rows = nlohmann::json::parse(out);
    const nlohmann::json expected = {
        {"Название", "Начало", "Конец", "Длительность", "Начало (с)", "Конец (с)", "Тип"},
        {"plain", "00:00.000", "00:00.000", "00:00.000", "0.000", "0.000", "Диапазон"},
        {"Intro, \"take\" 1", "00:01.500", "00:03.250", "00:01.750", "1.500", "3.251", "Диапазон"},
        {"две\nстроки", "00:01.500", "00:01.500", "00:00.000", "1.500", "1.500", "Точка"},
        {"Конец", "01:01.250", "02:05.000", "01:03.750", "61.250", "125.000", "Диапазон"},
    };
    EXPECT_EQ(rows, expected);
    EXPECT_EQ(text.find('\r'), std::string::npos);
}

TEST(MarkerExportFiles, OneFilePerRangeWithoutOverwriting) {
    Session project;
    project.appendOnNewLane(test::clip("a", 48000 * 4));
    project.markers = {marker("Intro", 0.5, 1.5), marker("point", 1), marker("Outro", 3, 9)};
    test::TempFolder dir;
    ExportOptions options;
    options.format = ExportFormat::wav16;
    EXPECT_TRUE(MarkerExport::existing(project, dir.path(), options).empty());

    test::writeFile(dir / "01 Intro.wav", {1, 2, 3});
    test::writeFile(dir / "01 Intro 2.wav", {4});
    EXPECT_EQ(MarkerExport::existing(project, dir.path(), options), (std::vector<fs::path>{dir / "01 Intro.wav"}));

    const auto written = MarkerExport::exportRanges(project, dir.path(), options, false);
    ASSERT_EQ(written, (std::vector<fs::path>{dir / "01 Intro 3.wav", dir / "02 Outro.wav"}));
    EXPECT_EQ(probedFrames(written[0]), "48000");
    EXPECT_EQ(probedFrames(written[1]), "48000");  // clipped to the project's 4 s
    EXPECT_EQ(fs::file_size(dir / "01 Intro.wav"), 3u);

    const auto replaced = MarkerExport::exportRanges(project, dir.path(), options, true);
    EXPECT_EQ(replaced, (std::vector<fs::path>{dir / "01 Intro.wav", dir / "02 Outro.wav"}));
    EXPECT_EQ(probedFrames(dir / "01 Intro.wav"), "48000");

    project.markers = {marker("point", 1), marker("after", 5, 6)};
    try {
        MarkerExport::exportRanges(project, dir.path(), options, true);
        FAIL() << "exported without range markers";
    } catch (const StudioError& e) {
        EXPECT_EQ(e.message(), "В проекте нет маркеров-диапазонов. Выделите фрагмент и добавьте маркер (M).");
    }
}

TEST(MarkerExportFiles, LossyRangesKeepTheTargetsCeiling) {
    Session project;
    Track loud = Track::make("loud", test::loudHits(48000 * 4));
    project.appendOnNewLane(std::move(loud));
    project.markers = {marker("A", 0.2, 1.7), marker("B", 2, 3.9)};
    test::TempFolder dir;
    for (ExportFormat format : {ExportFormat::aac128, ExportFormat::aac256}) {
        ExportOptions options;
        options.format = format;
        options.loudness = LoudnessTarget::podcast;
        for (const fs::path& file : MarkerExport::exportRanges(project, dir.path(), options, true)) {
            SCOPED_TRACE(file.filename().string() + " " + std::string(rawValue(format)));
            EXPECT_LE(test::ebur128Measure(test::ffmpegDecode<float>(file, "f32le"), 48000).truePeakDB, -1.0);
        }
    }
}
