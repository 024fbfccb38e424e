// Bouncing the mix to a new clip, range markers as files (read back with ffprobe), and the marker
// list as CSV (read back with Python's csv module).

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ClipTestSupport.h"
#include "model/Localization.h"
#include "processing/MarkerExport.h"
#include "support/TestTools.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

class StoreBounce : public TwoRowStoreTest {
protected:

    // Two rows; a 30 s clip of 0.25 on the first, a 12 s clip of 0.125 at 5 s on the second.
    void SetUp() override {
        TwoRowStoreTest::SetUp();
        addClip(rowA, 0.0, 30 * 48000, "Первый");
        addAudioClip(rowB, constant(12 * 48000, 0.125f), 5.0, "Второй");
        Session s = store->session();
        s.masterDB = -20.0;
        store->setSession(s);
    }

    void addRange(const std::string& name, double start, double end) {
        Session s = store->session();
        SessionMarker m;
        m.name = name;
        m.start = start;
        m.end = end;
        s.markers.push_back(m);
        store->setSession(s);
    }

    void run() {
        fx.tasks.runAll();
        ASSERT_FALSE(store->busy());
    }
};

}  // namespace

TEST_F(StoreBounce, ASelectionBouncesItsRangeToANewLastRowIgnoringTheMaster) {
    store->setSelection(TimeRange{10.0, 20.0});
    store->bounceToNewTrack();
    EXPECT_EQ(store->status(), L("Сведение…"));
    run();
    ASSERT_EQ(store->session().tracks.size(), 3u);
    const Track& made = store->session().tracks.back();
    EXPECT_EQ(made.name, "Сведение 3");
    EXPECT_EQ(made.frames(), 10 * 48000);
    EXPECT_DOUBLE_EQ(made.start, 10.0);
    EXPECT_EQ(made.color, 2);
    EXPECT_EQ(store->session().lanes.size(), 3u);
    EXPECT_EQ(store->session().lanes.back().id, made.laneID);
    EXPECT_EQ(store->selectedID(), made.id);
    EXPECT_EQ(lastStep(), L("Свести в новую дорожку"));
    EXPECT_EQ(store->status(), "Сведено в «Сведение 3»: 00:10.000");
    // Both clips at 0 dB master: 0.25 + 0.125 while the second plays (to 17 s), then 0.25.
    EXPECT_NEAR(made.audio.left.span()[48000], 0.375f, 1e-4);
    EXPECT_NEAR(made.audio.left.span()[9 * 48000], 0.25f, 1e-4);
}

TEST_F(StoreBounce, AZeroLengthSelectionMixesTheWholeProjectAtZero) {
    store->setSelection(TimeRange{4.0, 4.0});
    store->bounceToNewTrack();
    run();
    const Track& made = store->session().tracks.back();
    EXPECT_DOUBLE_EQ(made.start, 0.0);
    EXPECT_EQ(made.frames(), 30 * 48000);
}

TEST_F(StoreBounce, RowAndClipLimitsAreTestedBeforeTheWork) {
    makeRows(29);  // 31 rows
    Session s = store->session();
    while (s.tracks.size() < 255) {
        Track t = clip("Мелочь", 480, 1.0);
        t.laneID = rowB;
        s.tracks.push_back(t);
    }
    store->setSession(s);
    store->bounceToNewTrack();
    run();
    EXPECT_FALSE(store->error());
    EXPECT_EQ(store->session().tracks.size(), 256u);
    EXPECT_EQ(store->session().lanes.size(), 32u);

    // Each limit alone refuses: 256 clips on 31 rows, then 32 rows with 255 clips.
    const std::string refusal = L("Достигнут предел проекта: {0} дорожек и {1} клипов.", 32, 256);
    s = store->session();
    s.lanes.pop_back();
    s.tracks.back().laneID = rowB;
    store->setSession(s);
    ASSERT_EQ(store->session().lanes.size(), 31u);
    store->bounceToNewTrack();
    EXPECT_EQ(store->error(), refusal);
    store->setError(std::nullopt);
    s = store->session();
    s.tracks.pop_back();
    store->setSession(s);
    makeRows(1);
    store->bounceToNewTrack();
    EXPECT_EQ(store->error(), refusal);
    EXPECT_EQ(fx.tasks.pending(), 0u);
}

TEST_F(StoreBounce, RangeMarkersBecomeFilesInTheExportSettingsAndAreRevealed) {
    addRange("Вступление", 1.0, 3.0);
    addRange("Куплет/припев", 4.0, 4.5);
    store->setExportFormat(ExportFormat::flac);
    store->setExportSampleRate(ExportSampleRate::hz44100);
    store->setExportLoudness(LoudnessTarget::none);
    store->setShowExport(true);
    const auto folder = fx.home.path() / "ranges";
    std::filesystem::create_directories(folder);
    fx.prompts.folderAnswers.push_back(folder);
    store->exportMarkerRanges();
    ASSERT_EQ(fx.prompts.folders.size(), 1u);
    EXPECT_EQ(fx.prompts.folders[0].title, L("Папка для диапазонов маркеров"));
    EXPECT_EQ(fx.prompts.folders[0].prompt, L("Экспортировать"));
    EXPECT_FALSE(store->showExport());
    EXPECT_EQ(store->status(), L("Экспорт диапазонов маркеров…"));
    run();
    ASSERT_FALSE(store->error()) << *store->error();
    EXPECT_EQ(folderEntries(folder), (std::vector<std::string>{"01 Вступление.flac", "02 Куплет-припев.flac"}));
    EXPECT_EQ(store->status(), "Экспортировано файлов: 2 в «ranges»");
    ASSERT_EQ(fx.shell.revealed.size(), 1u);
    EXPECT_EQ(fx.shell.revealed[0], (std::vector<std::filesystem::path>{folder / "01 Вступление.flac",
                                                                       folder / "02 Куплет-припев.flac"}));
    const auto first = folder / "01 Вступление.flac";
    EXPECT_EQ(ffprobe(first, "codec_name"), "flac");
    EXPECT_EQ(ffprobe(first, "sample_rate"), "44100");
    EXPECT_EQ(ffprobe(first, "duration_ts"), "88200");
    // The export settings were saved as defaults.
    restart();
    EXPECT_EQ(store->exportFormat(), ExportFormat::flac);
}

TEST_F(StoreBounce, TheOverwriteQuestionListsFiveNamesAndAnsweringDecidesTheNames) {
    for (int i = 0; i < 7; ++i) addRange("Диапазон " + std::to_string(i + 1), i * 2.0, i * 2.0 + 1.0);
    const auto folder = fx.home.path() / "taken";
    std::filesystem::create_directories(folder);
    const ExportOptions options = store->exportOptions();
    const auto items = MarkerExport::items(store->session().markers, store->session().duration());
    const std::string five = "01 Диапазон 1.wav\n02 Диапазон 2.wav\n03 Диапазон 3.wav\n04 Диапазон 4.wav\n05 Диапазон 5.wav";
    // Five taken names are listed whole, seven as the first five and an ellipsis; cancel each time.
    for (const std::size_t taken : {5u, 7u}) {
        for (std::size_t i = 0; i < taken; ++i)
            std::ofstream(folder / MarkerExport::fileName(items[i], fileExtension(options.format))) << "x";
        fx.prompts.folderAnswers.push_back(folder);
        fx.prompts.alertAnswers.push_back(2);
        fx.prompts.alerts.clear();
        store->exportMarkerRanges();
        ASSERT_EQ(fx.prompts.alerts.size(), 1u);
        const AlertRequest& alert = fx.prompts.alerts[0];
        EXPECT_EQ(alert.message, L("В папке уже есть файлы с такими именами ({0})", static_cast<std::int64_t>(taken)));
        EXPECT_EQ(alert.informative, taken == 5 ? five : five + "\n…");
        EXPECT_EQ(alert.buttons, (std::vector<std::string>{"Сохранить оба", "Заменить", "Отмена"}));
        EXPECT_EQ(fx.tasks.pending(), 0u);
        EXPECT_FALSE(store->busy());
    }

    // Keep both: new names beside the old files.
    fx.prompts.folderAnswers.push_back(folder);
    fx.prompts.alertAnswers.push_back(0);
    store->exportMarkerRanges();
    run();
    EXPECT_EQ(folderEntries(folder).size(), 14u);
    EXPECT_EQ(std::filesystem::file_size(folder / "01 Диапазон 1.wav"), 1u);

    // Replace: the old files are written over.
    fx.prompts.folderAnswers.push_back(folder);
    fx.prompts.alertAnswers.push_back(1);
    store->exportMarkerRanges();
    run();
    EXPECT_EQ(folderEntries(folder).size(), 14u);
    EXPECT_GT(std::filesystem::file_size(folder / "01 Диапазон 1.wav"), 1000u);
}

TEST_F(StoreBounce, MissingRangeMarkersAreExplainedBeforeAnyChooser) {
    store->exportMarkerRanges();
    EXPECT_EQ(store->error(), L("В проекте нет маркеров-диапазонов. Выделите фрагмент и добавьте маркер (M)."));

    // Ranges after the end of the second clip (17 s), which alone is exported, and before its start
    // (5 s) but inside its copy's length: neither holds any of its audio.
    addRange("Конец", 20.0, 25.0);
    addRange("Начало", 1.0, 4.0);
    const Uuid second = store->session().tracks[1].id;
    store->setSelectedID(second);
    store->setExportSelectedTrack(true);
    store->setEditorMode(EditorMode::waveform);
    store->setError(std::nullopt);
    store->exportMarkerRanges();
    EXPECT_EQ(store->error(), L("Маркеры-диапазоны лежат за пределами выбранного клипа. Отключите «Только выбранный "
                                "клип» или выберите другой клип."));
    // The row goes on after a gap, so "Конец" lies inside it, between its clips.
    addClip(rowB, 25.0, 48000, "Третий");
    store->setEditorMode(EditorMode::multitrack);
    store->setSelectedLaneID(rowB);
    store->exportMarkerRanges();
    const std::string trackMessage = L("Маркеры-диапазоны лежат за пределами выбранной дорожки. Отключите «Только "
                                       "выбранная дорожка» или выберите другую дорожку.");
    EXPECT_EQ(store->error(), trackMessage);
    // Over the clip, but the clip is muted on its row; the waveform editor's copy plays it, and
    // only that range is written, numbered first.
    addRange("Куплет", 6.0, 8.0);
    Session s = store->session();
    s.tracks[1].muted = true;
    store->setSession(s);
    store->setError(std::nullopt);
    store->exportMarkerRanges();
    EXPECT_EQ(store->error(), trackMessage);
    EXPECT_EQ(fx.prompts.shown(), 0u);
    store->setEditorMode(EditorMode::waveform);
    const auto folder = fx.home.path() / "clip";
    std::filesystem::create_directories(folder);
    fx.prompts.folderAnswers.push_back(folder);
    store->exportMarkerRanges();
    // One file, in English: the singular.
    Localization::use(AppLanguage::english,
                      Localization::table(AppLanguage::english, TESSORAL_SOURCE_DIR "/resources/Localization"));
    run();
    Localization::use(AppLanguage::russian, {});
    EXPECT_EQ(folderEntries(folder), std::vector<std::string>{"01 Куплет.wav"});
    EXPECT_EQ(store->status(), "Exported 1 file to “clip”");
    // The whole project writes its ranges over silence too (every clip under them muted).
    s = store->session();
    s.tracks[0].muted = true;
    store->setSession(s);
    store->setExportSelectedTrack(false);
    std::filesystem::create_directories(fx.home.path() / "whole");
    fx.prompts.folderAnswers.push_back(fx.home.path() / "whole");
    store->exportMarkerRanges();
    run();
    EXPECT_EQ(store->status(), "Экспортировано файлов: 3 в «whole»");
}

TEST_F(StoreBounce, TheMarkerListIsACsvFileWithAByteOrderMark) {
    store->exportMarkerCSV();
    EXPECT_EQ(fx.prompts.shown(), 0u) << "no markers, no chooser";

    addRange("Вступление, часть \"1\"", 1.0, 3.0);
    Session s = store->session();
    SessionMarker point;
    point.name = "Точка";
    point.start = 5.0;
    s.markers.push_back(point);
    store->setSession(s);
    const auto target = fx.home.path() / "list";
    fx.prompts.saveAnswers.push_back(target);
    store->exportMarkerCSV();
    ASSERT_EQ(fx.prompts.saves.size(), 1u);
    EXPECT_EQ(fx.prompts.saves[0].title, L("Экспорт списка маркеров"));
    EXPECT_EQ(fx.prompts.saves[0].proposedName, "Новый проект — маркеры.csv");
    const auto file = fx.home.path() / "list.csv";
    ASSERT_TRUE(std::filesystem::exists(file));
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GE(bytes.size(), 3u);
    EXPECT_EQ(bytes.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_EQ(store->status(), "Список маркеров сохранён: list.csv");

    const std::string rows = commandOutput(
        "python3 -c \"import csv,sys; rows=list(csv.reader(open(sys.argv[1], encoding='utf-8-sig', newline='')));"
        " print(len(rows)); print(rows[0][0]); print(rows[1][0]); print(rows[1][6]); print(rows[2][6])\" '" +
        file.string() + "'");
    EXPECT_EQ(rows, "3\nНазвание\nВступление, часть \"1\"\nДиапазон\nТочка\n");
}
