// Document commands and export defaults: dialogs scripted, work run by hand, files in a temporary
// folder, the written audio checked with ffprobe.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>

#include <sys/stat.h>

#include "StoreTestSupport.h"
#include "model/Localization.h"
#include "model/ProjectIO.h"
#include "model/SplitMix64.h"
#include "support/TestTools.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

using StoreDocuments = StoreTest;
using StoreExportDefaults = StoreTest;

// A project of `clips` one-frame clips spread over `rows` rows, and `extraRows` empty rows.
Session projectWith(int clips, int rows, int extraRows = 0) {
    Session s;
    for (int r = 0; r < rows + extraRows; ++r) {
        Lane lane;
        lane.name = "Дорожка " + std::to_string(r + 1);
        s.lanes.push_back(lane);
    }
    for (int c = 0; c < clips; ++c) {
        Track t = clip("К" + std::to_string(c), 1);
        t.laneID = s.lanes[c % rows].id;
        s.tracks.push_back(t);
    }
    return s;
}

}  // namespace

// ---- export defaults ----

TEST_F(StoreExportDefaults, EmptySettingsGiveTheBuiltInValuesAndRepairTheLoudnessKey) {
    EXPECT_EQ(store->exportFormat(), ExportFormat::wav24);
    EXPECT_EQ(store->exportSampleRate(), ExportSampleRate::hz48000);
    EXPECT_TRUE(store->exportNormalize());
    EXPECT_EQ(store->exportLoudness(), LoudnessTarget::peak);
    EXPECT_TRUE(store->exportDither());
    EXPECT_EQ(fx.defaults.string("export.default.loudness"), "peak");
    EXPECT_FALSE(fx.defaults.contains("export.default.format"));
}

TEST_F(StoreExportDefaults, StoredValuesLoadAndUnknownOnesLeaveTheCurrentValue) {
    fx.defaults.set("export.default.normalize", false);
    fx.defaults.remove("export.default.loudness");
    restart();
    EXPECT_EQ(store->exportLoudness(), LoudnessTarget::none);
    EXPECT_EQ(fx.defaults.string("export.default.loudness"), "none");

    fx.defaults.set("export.default.loudness", std::string("podcast"));
    fx.defaults.set("export.default.format", std::string("mp3"));
    fx.defaults.set("export.default.samplerate", 22050LL);
    fx.defaults.set("export.default.dither", false);
    restart();
    EXPECT_FALSE(store->exportNormalize());
    EXPECT_EQ(store->exportLoudness(), LoudnessTarget::podcast);
    EXPECT_EQ(store->exportFormat(), ExportFormat::wav24);
    EXPECT_EQ(store->exportSampleRate(), ExportSampleRate::hz48000);
    EXPECT_FALSE(store->exportDither());

    store->saveExportDefaults();
    EXPECT_EQ(fx.defaults.boolean("export.default.normalize"), true);
    EXPECT_EQ(fx.defaults.integer("export.default.samplerate"), 48000);
    EXPECT_EQ(fx.defaults.string("export.default.format"), "wav24");
}

TEST_F(StoreExportDefaults, OpeningTheSheetReloadsWhatTheSettingsWindowChanged) {
    store->setShowExport(true);
    fx.defaults.set("export.default.format", std::string("aac128"));
    fx.defaults.set("export.default.samplerate", 96000LL);
    store->setShowExport(true);  // already open: nothing reloads
    EXPECT_EQ(store->exportFormat(), ExportFormat::wav24);
    store->setShowExport(false);
    store->setShowExport(true);
    EXPECT_EQ(store->exportFormat(), ExportFormat::aac128);
    // AAC at 96 kHz is kept as chosen; the pipeline writes 48 kHz.
    EXPECT_EQ(store->exportSampleRate(), ExportSampleRate::hz96000);
    EXPECT_EQ(store->exportOptions().effectiveSampleRate(), ExportSampleRate::hz48000);
}

// ---- the unsaved-changes question ----

TEST_F(StoreDocuments, AllowDiscardAnswersSaveCancelAndDontSave) {
    // Clean: no question.
    EXPECT_TRUE(store->allowDiscard());
    EXPECT_TRUE(fx.prompts.alerts.empty());

    edit();
    // Recovery files to be discarded.
    std::filesystem::create_directories(*fx.dataFolder);
    std::ofstream(*store->recoveryURL()) << "x";
    std::ofstream(*store->recoveryMetaURL()) << "x";

    fx.prompts.alertAnswers.push_back(1);  // "Отмена"
    EXPECT_FALSE(store->allowDiscard());
    EXPECT_TRUE(std::filesystem::exists(*store->recoveryURL()));
    const AlertRequest& alert = fx.prompts.alerts.back();
    EXPECT_EQ(alert.message, "Сохранить изменения в проекте?");
    EXPECT_EQ(alert.informative, "Новый проект");
    EXPECT_EQ(alert.buttons, (std::vector<std::string>{"Сохранить", "Отмена", "Не сохранять"}));

    fx.prompts.alertAnswers.push_back(std::nullopt);  // dismissed
    EXPECT_FALSE(store->allowDiscard());

    fx.prompts.alertAnswers.push_back(0);  // "Сохранить", then the save chooser is cancelled
    EXPECT_FALSE(store->allowDiscard());
    EXPECT_TRUE(store->dirty());

    fx.prompts.alertAnswers.push_back(0);  // "Сохранить" into a file
    fx.prompts.saveAnswers.push_back(fx.home.path() / "Сохранённый");
    EXPECT_TRUE(store->allowDiscard());
    EXPECT_FALSE(store->dirty());
    EXPECT_TRUE(std::filesystem::exists(fx.home.path() / "Сохранённый.tessoral"));
    EXPECT_FALSE(std::filesystem::exists(*store->recoveryURL()));

    edit("Ещё");
    std::ofstream(*store->recoveryURL()) << "x";
    fx.prompts.alertAnswers.push_back(2);  // "Не сохранять"
    EXPECT_TRUE(store->allowDiscard());
    EXPECT_FALSE(std::filesystem::exists(*store->recoveryURL()));

    // Busy or recording: refused without asking.
    const auto asked = fx.prompts.alerts.size();
    store->setBusy(true);
    EXPECT_FALSE(store->allowDiscard());
    store->setBusy(false);
    startRecording(0.0);
    EXPECT_FALSE(store->allowDiscard());
    EXPECT_EQ(fx.prompts.alerts.size(), asked);
}

// ---- save ----

TEST_F(StoreDocuments, SaveWritesInPlaceAndSaveAsAlwaysAsks) {
    edit();
    fx.prompts.saveAnswers.push_back(fx.home.path() / "Проект");
    EXPECT_TRUE(store->saveProject(false));
    ASSERT_EQ(fx.prompts.saves.size(), 1u);
    EXPECT_EQ(fx.prompts.saves[0].title, "Сохранить проект");
    EXPECT_EQ(fx.prompts.saves[0].proposedName, "Новый проект.tessoral");
    const auto file = fx.home.path() / "Проект.tessoral";
    EXPECT_EQ(store->projectURL(), file);
    EXPECT_EQ(store->status(), "Проект сохранён");
    EXPECT_EQ(fx.shell.recent, std::vector<std::filesystem::path>{file});
    EXPECT_EQ(ProjectIO::encode(ProjectIO::load(file)), ProjectIO::encode(store->session()));

    edit("Ещё");
    EXPECT_TRUE(store->saveProject(false));  // in place, no chooser
    EXPECT_EQ(fx.prompts.saves.size(), 1u);
    EXPECT_EQ(ProjectIO::load(file).tracks.size(), 2u);

    edit("Третья");
    EXPECT_FALSE(store->saveProject(true));  // save as, cancelled
    EXPECT_EQ(fx.prompts.saves.size(), 2u);
    EXPECT_EQ(fx.prompts.saves[1].proposedName, "Проект.tessoral");
    EXPECT_TRUE(store->dirty());

    // A write that fails keeps the file and the dirty state.
    fx.prompts.saveAnswers.push_back(fx.home.path() / "нет такой папки" / "Проект");
    EXPECT_FALSE(store->saveProject(true));
    EXPECT_TRUE(store->error());
    EXPECT_EQ(store->projectURL(), file);
    EXPECT_TRUE(store->dirty());
}

// ---- new and open ----

TEST_F(StoreDocuments, NewProjectEmptiesEverything) {
    edit();
    store->setZoom(4.0);
    store->setCursor(0.05);
    fx.prompts.alertAnswers.push_back(2);
    store->newProject();
    EXPECT_TRUE(store->session().tracks.empty());
    EXPECT_FALSE(store->dirty());
    EXPECT_TRUE(store->undoNames().empty());
    EXPECT_EQ(store->zoom(), 1.0);
    EXPECT_EQ(store->cursor(), 0.0);
    EXPECT_EQ(store->status(), "Новый проект");
}

TEST_F(StoreDocuments, NewProjectAndOpenDiscardTheRecoveryCopy) {
    // A clean project, so the unsaved-changes question discards nothing itself.
    const auto leaveCopy = [this] {
        std::filesystem::create_directories(*fx.dataFolder);
        std::ofstream(*store->recoveryURL()) << "copy";
        std::ofstream(*store->recoveryMetaURL()) << "meta";
    };
    const auto copyLeft = [this] {
        return std::filesystem::exists(*store->recoveryURL()) || std::filesystem::exists(*store->recoveryMetaURL());
    };

    leaveCopy();
    store->newProject();
    EXPECT_TRUE(fx.prompts.alerts.empty());
    EXPECT_FALSE(copyLeft());
    // The next change is autosaved again within the minute.
    edit();
    fx.scheduler.advanceBy(60);
    fx.tasks.runAll();
    EXPECT_TRUE(std::filesystem::exists(*store->recoveryURL()));

    const auto project = fx.home.path() / "Сессия.tessoral";
    ProjectIO::save(projectWith(2, 1), project);
    fx.prompts.saveAnswers.push_back(fx.home.path() / "Черновик");
    ASSERT_TRUE(store->saveProject(false));
    leaveCopy();
    store->open({project});
    EXPECT_TRUE(copyLeft());  // not before the project has loaded
    fx.tasks.runAll();
    EXPECT_EQ(store->status(), "Проект открыт");
    EXPECT_FALSE(copyLeft());

    // A project that cannot be read changes nothing, the copy included.
    leaveCopy();
    const auto bad = fx.home.path() / "Битый.tessoral";
    std::ofstream(bad, std::ios::binary) << "not a project";
    store->open({bad});
    fx.tasks.runAll();
    EXPECT_EQ(store->status(), "Не удалось открыть проект");
    EXPECT_TRUE(std::filesystem::exists(*store->recoveryURL()));
    EXPECT_TRUE(std::filesystem::exists(*store->recoveryMetaURL()));
}

TEST_F(StoreDocuments, AProjectAmongAudioFilesOpensAloneWhateverItsCase) {
    Session saved = projectWith(3, 2);
    const auto project = fx.home.path() / "Сессия.TESSORAL";
    ProjectIO::save(saved, project);
    const auto wav = audioFile("звук.wav");
    edit();
    store->setCursor(0.05);
    store->setZoom(3.0);
    fx.prompts.alertAnswers.push_back(2);

    store->open({wav, project, audioFile("ещё.wav")});
    EXPECT_TRUE(store->busy());
    EXPECT_EQ(store->status(), "Открытие проекта…");
    fx.tasks.runAll();
    EXPECT_FALSE(store->busy());
    EXPECT_EQ(ProjectIO::encode(store->session()), ProjectIO::encode(ProjectIO::load(project)));
    EXPECT_EQ(store->projectURL(), project);
    EXPECT_EQ(store->title(), "Сессия");
    EXPECT_FALSE(store->dirty());
    EXPECT_TRUE(store->undoNames().empty());
    EXPECT_EQ(store->selectedID(), store->session().tracks[0].id);
    EXPECT_EQ(store->cursor(), 0.0);
    EXPECT_EQ(store->zoom(), 1.0);
    EXPECT_EQ(store->status(), "Проект открыт");
    EXPECT_TRUE(fx.shell.recent.empty());  // only saving notes a recent document
}

TEST_F(StoreDocuments, AnUnreadableProjectKeepsTheOpenOne) {
    setClips({clip("A", 4800)});
    const auto before = ProjectIO::encode(store->session());
    const auto bad = fx.home.path() / "Битый.tessoral";
    std::ofstream(bad, std::ios::binary) << "not a project";
    store->open({bad});
    fx.tasks.runAll();
    EXPECT_FALSE(store->busy());
    EXPECT_EQ(store->status(), "Не удалось открыть проект");
    EXPECT_EQ(store->error(), "Файл «Битый.tessoral» не открыт: Неподдерживаемый или повреждённый проект.");
    EXPECT_EQ(ProjectIO::encode(store->session()), before);
    EXPECT_FALSE(store->projectURL());

    // A file that cannot be read at all is named once; in English as well.
    const auto folder = fx.home.path() / "Папка.tessoral";
    std::filesystem::create_directory(folder);
    store->open({folder});
    fx.tasks.runAll();
    EXPECT_EQ(store->error(), L("Не удалось прочитать файл «{0}»: {1}", "Папка.tessoral", std::strerror(EISDIR)));
    Localization::use(AppLanguage::english,
                      Localization::table(AppLanguage::english, TESSORAL_SOURCE_DIR "/resources/Localization"));
    store->open({bad});
    fx.tasks.runAll();
    Localization::use(AppLanguage::russian, {});
    EXPECT_EQ(store->error(), "The file “Битый.tessoral” was not opened: Unsupported or damaged project.");
}

// ---- import ----

TEST_F(StoreDocuments, ImportAddsOneRowPerFileAsOneStep) {
    store->setSession(projectWith(5, 5));
    const auto a = audioFile("Голос.wav", 9600);
    const auto b = audioFile("Музыка.flac.wav", 4800);
    store->open({a, b});
    EXPECT_EQ(store->status(), "Импорт аудио…");
    fx.tasks.runAll();
    const Session& s = store->session();
    ASSERT_EQ(s.tracks.size(), 7u);
    ASSERT_EQ(s.lanes.size(), 7u);
    EXPECT_EQ(s.tracks[5].name, "Голос");
    EXPECT_EQ(s.tracks[6].name, "Музыка.flac");
    EXPECT_EQ(s.tracks[5].color, 5);
    EXPECT_EQ(s.tracks[6].color, 6);
    EXPECT_EQ(s.tracks[5].frames(), 9600);
    EXPECT_EQ(s.lanes[6].name, "Музыка.flac");
    EXPECT_EQ(store->selectedID(), s.tracks[5].id);
    EXPECT_EQ(store->selectedLaneID(), s.lanes[5].id);
    EXPECT_EQ(store->undoNames(), std::vector<std::string>{"Импорт аудио"});
    EXPECT_EQ(store->status(), "Добавлено дорожек: 2");
    // A float file's samples that are not numbers (NaN, an infinity) import as silence, and the status says so.
    const float samples[4] = {0.5f, std::nanf(""), INFINITY, -0.5f};  // two stereo frames
    std::ofstream(fx.home.path() / "nan.wav", std::ios::binary)
        << std::string("RIFF\x34\0\0\0WAVEfmt \x10\0\0\0\x03\0\x02\0\x80\xBB\0\0\0\xDC\x05\0\x08\0\x20\0data\x10\0\0\0", 44)
        << std::string(reinterpret_cast<const char*>(samples), sizeof samples);
    store->open({fx.home.path() / "nan.wav"});
    fx.tasks.runAll();
    EXPECT_EQ(store->status(), "Добавлено дорожек: 1. Сэмплы, не являющиеся числами, заменены тишиной: 2");
    const Track& added = store->session().tracks.back();
    EXPECT_EQ(std::vector<float>(added.audio.left.begin(), added.audio.left.end()), (std::vector<float>{0.5f, 0.0f}));
    EXPECT_EQ(std::vector<float>(added.audio.right.begin(), added.audio.right.end()), (std::vector<float>{0.0f, -0.5f}));
    // A copy cut short imports its whole frames, and the status says that it ends early.
    std::ofstream(fx.home.path() / "cut.wav", std::ios::binary)
        << std::string("RIFF\x34\0\0\0WAVEfmt \x10\0\0\0\x03\0\x02\0\x80\xBB\0\0\0\xDC\x05\0\x08\0\x20\0data\x18\0\0\0", 44) << std::string(20, '\0');
    store->open({fx.home.path() / "cut.wav"});
    fx.tasks.runAll();
    EXPECT_EQ(store->status(), "Добавлено дорожек: 1. Файл «cut.wav» обрывается раньше, чем указано в нём");
}

TEST_F(StoreDocuments, ImportRefusalsNameTheRowLimit) {
    const auto files = std::vector<std::filesystem::path>{audioFile("1.wav"), audioFile("2.wav"), audioFile("3.wav")};
    for (const Session& full : {projectWith(0, 1, 29) /* 30 rows */, projectWith(254, 5)}) {
        store->setSession(full);
        store->setError(std::nullopt);
        store->open(files);
        fx.tasks.runAll();
        EXPECT_EQ(store->error(), "Можно добавить до 32 дорожек.");
        EXPECT_EQ(store->status(), "Импорт не выполнен");
        EXPECT_EQ(store->session().tracks.size(), full.tracks.size());
        EXPECT_TRUE(store->undoNames().empty());
        EXPECT_FALSE(store->busy());
    }

    // Among several files, the one refused is named, with its reason in the interface language:
    // a pipe, an empty ".wav", a folder.
    store->setSession(projectWith(0, 1));
    const auto pipe = fx.home.path() / "поток.wav";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const auto empty = fx.home.path() / "пустой.wav";
    std::ofstream(empty).close();
    const auto folder = fx.home.path() / "папка.wav";
    std::filesystem::create_directory(folder);
    const auto noise = fx.home.path() / "шум.flac";  // random bytes: a container guessed from the name, with no stream
    std::string bytes(65536, '\0');
    std::generate(bytes.begin(), bytes.end(), [rng = SplitMix64(7)]() mutable { return static_cast<char>(rng.next()); });
    std::ofstream(noise, std::ios::binary) << bytes;
    const std::pair<std::filesystem::path, std::string> refused[] = {
        {pipe, L("Не удалось открыть аудиофайл: {0}", L("это не обычный файл, а канал или устройство"))},
        {empty, L("Не удалось открыть аудиофайл: {0}", L("файл повреждён или не является аудиофайлом"))},
        {folder, L("Не удалось открыть аудиофайл: {0}", L("это папка"))},
        {noise, L("Не удалось открыть аудиофайл: {0}", L("файл повреждён или не является аудиофайлом"))}};
    for (const auto& [file, reason] : refused) {
        store->setError(std::nullopt);
        store->open({audioFile("хороший.wav"), file});
        fx.tasks.runAll();
        EXPECT_EQ(store->error(), L("Файл «{0}» не импортирован: {1}", file.filename().string(), reason));
        EXPECT_EQ(store->status(), "Импорт не выполнен");
        EXPECT_EQ(store->session().tracks.size(), 0u);
    }
}

TEST_F(StoreDocuments, ImportOverTheAudioBudgetRefusesEveryFile) {
    // 50,280,000 frames counted (their samples shared) leave room for 51,648 frames: the first
    // file fits, the second does not, and neither is added.
    Session s;
    Track a = clip("A", 23'040'000);
    Track b = a;
    b.id = Uuid::random();
    Track c = a;
    c.id = Uuid::random();
    c.audio = a.audio.slice({0, 4'200'000});
    s.tracks = {a, b, c};
    store->setSession(s);
    store->open({audioFile("мал.wav", 480), audioFile("велик.wav", 96000)});
    fx.tasks.runAll();
    EXPECT_EQ(store->error(),
              "Превышен лимит проекта: 384 МБ декодированного звука. Используйте более короткие записи.");
    EXPECT_EQ(store->session().tracks.size(), 3u);
}

// ---- export ----

TEST_F(StoreDocuments, ExportWritesTheMixAndRevealsIt) {
    // No clips: nothing at all.
    store->exportMix();
    EXPECT_TRUE(fx.prompts.saves.empty());

    setClips({clip("A", 48000)});
    store->setShowExport(true);
    fx.prompts.saveAnswers.push_back(fx.home.path() / "Микс");
    store->exportMix();
    ASSERT_EQ(fx.prompts.saves.size(), 1u);
    EXPECT_EQ(fx.prompts.saves[0].title, "Экспорт микса");
    EXPECT_EQ(fx.prompts.saves[0].proposedName, "Новый проект.wav");
    EXPECT_FALSE(store->showExport());
    EXPECT_EQ(store->status(), "Экспорт…");
    EXPECT_EQ(fx.defaults.string("export.default.format"), "wav24");
    fx.tasks.runAll();
    EXPECT_FALSE(store->busy());

    const auto file = fx.home.path() / "Микс.wav";
    EXPECT_EQ(ffprobe(file, "codec_name"), "pcm_s24le");
    EXPECT_EQ(ffprobe(file, "sample_rate"), "48000");
    EXPECT_EQ(ffprobe(file, "channels"), "2");
    EXPECT_EQ(ffprobe(file, "duration_ts"), "48000");
    EXPECT_EQ(store->status().rfind("Экспорт готов: Микс.wav · ", 0), 0u) << store->status();
    EXPECT_NE(store->status().find(" dBTP"), std::string::npos);
    EXPECT_EQ(fx.shell.revealed, (std::vector<std::vector<std::filesystem::path>>{{file}}));

    // A cancelled chooser changes nothing.
    store->setShowExport(true);
    store->exportMix();
    EXPECT_TRUE(store->showExport());
    EXPECT_EQ(fx.tasks.pending(), 0u);
}

TEST_F(StoreDocuments, ExportOfTheTimeSelectionOnly) {
    setClips({clip("A", 480000), clip("B", 240000, 2.0)});
    store->setSelection(TimeRange{1.5, 3.25});
    store->setExportSelection(true);
    fx.prompts.saveAnswers.push_back(fx.home.path() / "Фрагмент");
    store->exportMix();
    fx.tasks.runAll();
    EXPECT_EQ(ffprobe(fx.home.path() / "Фрагмент.wav", "duration_ts"), "84000");  // 1.75 s

    // Switched off, the same selection exports the whole mix.
    store->setExportSelection(false);
    fx.prompts.saveAnswers.push_back(fx.home.path() / "Весь");
    store->exportMix();
    fx.tasks.runAll();
    EXPECT_EQ(ffprobe(fx.home.path() / "Весь.wav", "duration_ts"), "480000");

    // On, but without a time selection: the whole mix as well.
    store->setExportSelection(true);
    store->setSelection(std::nullopt);
    fx.prompts.saveAnswers.push_back(fx.home.path() / "Без выделения");
    store->exportMix();
    fx.tasks.runAll();
    EXPECT_EQ(ffprobe(fx.home.path() / "Без выделения.wav", "duration_ts"), "480000");
}

TEST_F(StoreDocuments, ARevealNothingCanShowSaysWhereTheFilesAre) {
    const auto a = fx.home.path() / "Папка" / "Микс.wav";
    const auto b = fx.home.path() / "Папка" / "Второй.wav";
    const double note = StudioStore::kRevealNoteSeconds;
    // A desktop that shows it: the line stays as it is.
    store->setStatus("Экспорт готов: Микс.wav");
    store->revealFiles({a});
    fx.scheduler.advanceBy(note + 1);
    EXPECT_EQ(store->status(), "Экспорт готов: Микс.wav");

    // One that cannot, its answer coming late: the line stays whole for a while; a failure whose line
    // was replaced meanwhile is not said over the new one.
    fx.shell.failing = fx.shell.later = true;
    store->revealFiles({a});
    fx.shell.runPending();
    store->setStatus("Пауза");
    fx.scheduler.advanceBy(note + 1);
    EXPECT_EQ(store->status(), "Пауза");
    // The next is said on a line of its own (several files: their folder), once a run.
    store->setStatus("Экспорт готов: Микс.wav");
    store->revealFiles({a, b});
    fx.shell.runPending();
    fx.scheduler.advanceBy(note - 0.5);
    EXPECT_EQ(store->status(), "Экспорт готов: Микс.wav");
    fx.scheduler.advanceBy(1);
    EXPECT_EQ(store->status(), L("Не удалось показать файлы в файловом менеджере: {0}", a.parent_path().string()));
    store->setStatus("Экспорт готов: Микс.wav");
    store->revealFiles({a});
    fx.shell.runPending();
    fx.scheduler.advanceBy(note + 1);
    EXPECT_EQ(store->status(), "Экспорт готов: Микс.wav");
    // One that comes after the store is gone is dropped.
    store->revealFiles({a});
    store.reset();
    fx.shell.runPending();
    EXPECT_EQ(fx.shell.revealed.size(), 5u);
}

TEST_F(StoreDocuments, ExportOfTheSelectedRowAndOfNothingInTheWaveformMode) {
    setClips({clip("A", 48000), clip("B", 96000)});
    store->setSelectedID(store->session().tracks[0].id);
    store->setExportSelectedTrack(true);
    EXPECT_EQ(store->isolatedExportSession().tracks.size(), 1u);  // the selected row, clip A
    fx.prompts.saveAnswers.push_back(fx.home.path() / "Дорожка");
    store->exportMix();
    fx.tasks.runAll();
    EXPECT_EQ(ffprobe(fx.home.path() / "Дорожка.wav", "duration_ts"), "48000");

    // Waveform mode with nothing selected: an empty session, whose mix fails.
    store->setSelectedID(std::nullopt);
    store->setSelectedLaneID(std::nullopt);
    store->setEditorMode(EditorMode::waveform);
    fx.prompts.saveAnswers.push_back(fx.home.path() / "Пусто");
    store->exportMix();
    fx.tasks.runAll();
    EXPECT_EQ(store->status(), "Ошибка экспорта");
    EXPECT_TRUE(store->error());
    EXPECT_FALSE(store->busy());
}

// ---- demo ----

TEST_F(StoreDocuments, DemoProjectIsSynthesisedAsThreeRows) {
    store->loadDemo();
    EXPECT_EQ(store->status(), "Подготовка демо…");
    fx.tasks.runAll();
    const Session& s = store->session();
    ASSERT_EQ(s.tracks.size(), 3u);
    ASSERT_EQ(s.lanes.size(), 3u);
    EXPECT_EQ(s.tracks[0].name, "Мелодия");
    EXPECT_EQ(s.tracks[1].name, "Бас");
    EXPECT_EQ(s.tracks[2].name, "Ритм");
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(s.tracks[i].frames(), 576000);
        EXPECT_EQ(s.tracks[i].color, i);
    }
    const AudioData& melody = s.tracks[0].audio;
    bool exact = true;
    for (std::int64_t n = 0; n < melody.frames(); ++n) exact = exact && melody.right[n] == melody.left[n] * 0.88f;
    EXPECT_TRUE(exact);
    // The bass fades in over the first quarter second; the rhythm repeats every 0.75 s.
    const AudioData& bass = s.tracks[1].audio;
    EXPECT_EQ(bass.left[0], 0.0f);
    const AudioData& rhythm = s.tracks[2].audio;
    EXPECT_NEAR(rhythm.left[100], rhythm.left[100 + 36000], 1e-4);
    EXPECT_EQ(store->selectedID(), s.tracks[0].id);
    EXPECT_EQ(store->selectedLaneID(), s.lanes[0].id);
    EXPECT_TRUE(store->dirty());
    EXPECT_FALSE(store->projectURL());
    EXPECT_TRUE(store->undoNames().empty());
    EXPECT_EQ(store->status(), "Демо-проект");
    EXPECT_EQ(store->editCounter(), 1);
}
