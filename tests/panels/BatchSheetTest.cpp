#include <QCloseEvent>
#include <QComboBox>
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include <chrono>
#include <fstream>
#include <future>
#include <thread>

#include <gtest/gtest.h>

#include "model/EffectPreset.h"
#include "panels/BatchSheet.h"
#include "panels/PanelSupport.h"
#include "panels/WorkspaceTestSupport.h"
#include "support/views/Contrast.h"
#include "support/TestTools.h"
#include "widgets/Palette.h"

namespace tessoral {
namespace {

namespace fs = std::filesystem;
using test::pump;
using test::qs;

// A sine file written by the ffmpeg program.
fs::path sineFile(const fs::path& folder, const std::string& name, int rate, int channels, const char* codec,
                  double seconds, double hz = 1000.0) {
    const fs::path file = folder / name;
    const std::string cmd = "ffmpeg -v error -y -f lavfi -i 'sine=frequency=" + std::to_string(int(hz)) +
                            ":sample_rate=" + std::to_string(rate) + ":duration=" + std::to_string(seconds) +
                            "' -ac " + std::to_string(channels) + " -c:a " + codec + " '" + file.string() + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    return file;
}

struct BatchTest : ::testing::Test {
    test::WorkspaceStore ws;
    StudioStore& store = *ws.store;
    test::TemporaryFolder files;
    Uuid clip;
    BatchTest() {
        const Uuid lane = ws.addLane("A");
        clip = ws.addClip("c", lane, 0.0);
        store.changeTrack(Uuid(clip), "rack", [](Track& t) { t.rack = {EffectSlot(EffectPreset::telephone)}; });
        store.setSelectedID(clip);
    }
    // Three silent-but-present inputs and an output folder.
    std::vector<fs::path> someInputs(int n) {
        std::vector<fs::path> out;
        for (int i = 0; i < n; ++i) {
            const fs::path f = files.path() / ("in" + std::to_string(i) + ".wav");
            std::ofstream(f) << "x";
            out.push_back(f);
        }
        return out;
    }
};

TEST_F(BatchTest, RealFilesThroughTheClipsChainIntoFlac) {
    const fs::path in = files.path() / "in";
    const fs::path out = files.path() / "out";
    fs::create_directories(in);
    fs::create_directories(out);
    const std::vector<fs::path> inputs{
        sineFile(in, "mono44.wav", 44100, 1, "pcm_s16le", 2.0),
        sineFile(in, "stereo48.wav", 48000, 2, "pcm_s16le", 1.5),
        sineFile(in, "stereo96.wav", 96000, 2, "pcm_s24le", 1.25),
    };
    const fs::path broken = in / "broken.wav";
    std::ofstream(broken) << "RIFF this is no audio at all";
    const fs::path cut = sineFile(in, "cut.wav", 48000, 2, "pcm_s16le", 1.0);
    fs::resize_file(cut, fs::file_size(cut) - 4000);

    store.setExportFormat(ExportFormat::flac);
    BatchProcessSheet sheet(store, nullptr);
    EXPECT_EQ(sheet.formatPicker()->currentText(), qs(title(ExportFormat::flac)));
    EXPECT_EQ(sheet.resultLabel()->text(), qs(L("Результат: «имя (обработано).{0}»", "flac")));
    EXPECT_EQ(sheet.chainLabel()->text(), qs(title(EffectPreset::telephone)));
    EXPECT_EQ(sheet.ratePicker()->currentText(), qs(L("Как у исходного файла")));
    EXPECT_TRUE(sheet.normalizeToggle()->isChecked());

    ws.fx.prompts.openAnswers.push_back({inputs[0], inputs[1], inputs[2], broken, cut});
    ws.fx.prompts.folderAnswers.push_back(out);
    sheet.addFiles();
    sheet.chooseFolder();
    ASSERT_EQ(ws.fx.prompts.opens.size(), 1u);
    EXPECT_TRUE(ws.fx.prompts.opens[0].multiple);
    ASSERT_FALSE(ws.fx.prompts.opens[0].filters.empty());
    const auto& ext = ws.fx.prompts.opens[0].filters[0].extensions;
    EXPECT_NE(std::find(ext.begin(), ext.end(), "wav"), ext.end());
    EXPECT_EQ(std::find(ext.begin(), ext.end(), "tessoral"), ext.end());
    EXPECT_EQ(sheet.fileCountLabel()->text(), qs(L("Файлы: {0}", 5)));
    ASSERT_TRUE(sheet.startButton()->isEnabled());

    // The line of an earlier export, and a desktop that cannot show files.
    store.setStatus(L("Экспортировано файлов: {0} в «{1}»", 2, "ranges"));
    ws.fx.shell.failing = true;
    sheet.startButton()->click();
    EXPECT_TRUE(sheet.controller()->running);
    EXPECT_FALSE(sheet.form()->isEnabled());
    EXPECT_TRUE(sheet.startButton()->isHidden());
    EXPECT_FALSE(sheet.stopButton()->isHidden());
    ws.fx.tasks.runAll();
    pump(5);
    ASSERT_FALSE(sheet.controller()->running);

    EXPECT_EQ(sheet.reportSummary()->text(), qs(L("Готово файлов: {0}", 4) + L(" · ошибок: {0}", 1)));
    // The failure, then the file cut short (written from what it holds), both warnings.
    const auto lines = sheet.reportLabels();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[0]->text().startsWith(QStringLiteral("broken.wav: ")));
    EXPECT_EQ(lines[1]->text(), qs(L("Файл «{0}» обрывается раньше, чем указано в нём", "cut.wav")));
    for (QLabel* line : lines) EXPECT_EQ(line->palette().color(QPalette::WindowText), panels::orange());

    const auto& written = sheet.controller()->report->written;
    ASSERT_EQ(written.size(), 4u);
    ASSERT_EQ(ws.fx.shell.revealed.size(), 1u);
    EXPECT_EQ(ws.fx.shell.revealed[0], written);
    // The batch ends with its own line, whole, which names the file cut short as an import does.
    EXPECT_EQ(store.status(), L("Пакетная обработка: {0}", L("Готово файлов: {0}", 4) + L(" · ошибок: {0}", 1)) +
                                  L(". Файл «{0}» обрывается раньше, чем указано в нём", "cut.wav"));
    const int rates[] = {44100, 48000, 96000};
    const double seconds[] = {2.0, 1.5, 1.25};
    for (std::size_t i = 0; i < 3; ++i) {
        const fs::path& f = written[i];
        EXPECT_EQ(f.parent_path(), out);
        EXPECT_EQ(f.filename().string(), inputs[i].stem().string() + " (обработано).flac");
        EXPECT_EQ(test::ffprobe(f, "codec_name"), "flac");
        EXPECT_EQ(test::ffprobe(f, "bits_per_raw_sample"), "24");
        EXPECT_EQ(test::ffprobe(f, "sample_rate"), std::to_string(rates[i]));
        EXPECT_EQ(test::ffprobe(f, "channels"), "2");
        EXPECT_NEAR(std::stod(test::ffprobe(f, "duration")), seconds[i], 0.001) << f;
        const auto samples = test::ffmpegDecode<float>(f, "f32le");
        const auto loudness = test::ebur128Measure(samples, unsigned(rates[i]));
        ASSERT_TRUE(loudness.lufs.has_value());
        EXPECT_NEAR(*loudness.lufs, -16.0, 0.2) << f;
    }
}

// Work on real threads, where every read after the first waits until the test opens the gate.
class GatedRunner final : public TaskRunner {
public:
    QtTaskRunner inner;
    std::promise<void> gate;
    std::atomic<int> reads{0};

    ~GatedRunner() override {
        try {
            gate.set_value();  // a test that ended early leaves no read held
        } catch (const std::future_error&) {
        }
    }
    void runRead(std::function<void()> work) override {
        inner.runRead([work = std::move(work), open = open_, first = reads++ == 0] {
            if (!first) open.wait();
            work();
        });
    }

protected:
    void submit(QObject* context, TaskPriority priority, std::function<void()> work, std::function<void()> finish) override {
        inner.run(context, priority, std::move(work), [finish = std::move(finish)](TaskResult<void>) { finish(); });
    }

private:
    std::shared_future<void> open_ = gate.get_future().share();
};

TEST_F(BatchTest, StopWhileAFileIsReadKeepsWhatWasFinished) {
    // A store whose work runs on real threads, so the batch can be stopped while it runs.
    GatedRunner runner;
    StoreServices services = ws.fx.services();
    services.tasks = &runner;
    StudioStore threaded(services);
    Session s = store.session();
    threaded.setSession(s);
    threaded.setSelectedID(clip);
    const fs::path out = files.path() / "out";
    fs::create_directories(out);
    std::vector<fs::path> inputs;
    for (int i = 0; i < 3; ++i) inputs.push_back(sineFile(files.path(), "s" + std::to_string(i) + ".wav", 48000, 2, "pcm_s16le", 1.0));

    BatchProcessSheet sheet(threaded, nullptr);
    sheet.controller()->addFiles(inputs);
    sheet.controller()->chooseFolder(out);
    sheet.start();
    // The second file's read is held; the stop ends the batch all the same.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while ((sheet.controller()->done < 1 || runner.reads < 2) && std::chrono::steady_clock::now() < deadline)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    ASSERT_TRUE(sheet.controller()->running);
    EXPECT_TRUE(sheet.stopButton()->isVisible() || !sheet.isVisible());
    sheet.stopButton()->click();
    while (sheet.controller()->running && std::chrono::steady_clock::now() < deadline)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_FALSE(sheet.controller()->running);
    runner.gate.set_value();
    runner.inner.waitForIdle();
    pump();
    ASSERT_TRUE(sheet.controller()->report.has_value());
    const auto& report = *sheet.controller()->report;
    EXPECT_TRUE(report.cancelled);
    EXPECT_EQ(report.written, (std::vector<fs::path>{out / "s0 (обработано).wav"}));
    EXPECT_EQ(sheet.reportSummary()->text(), qs(L("Готово файлов: {0}", 1) + L(" · остановлено")));
    // The files done are named, as a note, not a warning.
    const auto lines = sheet.reportLabels();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]->text(), qs(L("Обработаны до остановки: {0}", "s0.wav")));
    EXPECT_EQ(lines[0]->palette().color(QPalette::WindowText), Palette::secondaryText());
    EXPECT_EQ(BatchRuns::running(), 0);
}

TEST_F(BatchTest, ProgressCountsTheJobNotTheListAndRemovalsKeepTheReport) {
    BatchProcessSheet sheet(store, nullptr);
    const auto inputs = someInputs(3);
    sheet.controller()->addFiles(inputs);
    sheet.controller()->chooseFolder(files.path());
    sheet.start();
    ASSERT_TRUE(sheet.controller()->running);
    EXPECT_FALSE(sheet.progressRow()->isHidden());
    EXPECT_EQ(sheet.progressLabel()->text(), qs(L("Обработка {0} из {1}: {2}", 1, 3, "")));
    // The list stays editable while the batch runs on its copy.
    sheet.removeButtons()[0]->click();
    sheet.removeButtons()[0]->click();
    pump();
    ASSERT_EQ(sheet.controller()->inputs.size(), 1u);
    EXPECT_EQ(sheet.progressLabel()->text(), qs(L("Обработка {0} из {1}: {2}", 1, 3, "")));
    EXPECT_EQ(sheet.progressBar()->maximum(), 3);
    ws.fx.tasks.runAll();
    pump(5);
    EXPECT_FALSE(sheet.controller()->running);
    EXPECT_EQ(sheet.controller()->report->failures.size(), 3u);
    EXPECT_FALSE(sheet.reportBox()->isHidden());
    // Removing one more keeps the report; clearing drops it.
    sheet.removeButtons()[0]->click();
    pump();
    EXPECT_FALSE(sheet.reportBox()->isHidden());
    sheet.controller()->addFiles(inputs);
    sheet.clearButton()->click();
    EXPECT_TRUE(sheet.reportBox()->isHidden());
}

TEST_F(BatchTest, StartNeedsSomethingToDo) {
    store.setSelectedID(std::nullopt);
    BatchProcessSheet sheet(store, nullptr);
    EXPECT_EQ(sheet.sourcePicker()->itemText(0), qs(L("Текущая цепочка клипа ({0})", 0)));
    EXPECT_EQ(sheet.chainLabel()->text(), qs(L("Без эффектов")));
    EXPECT_FALSE(sheet.startButton()->isEnabled());  // no files, no folder
    ws.fx.prompts.openAnswers.push_back(someInputs(1));
    sheet.addFiles();
    EXPECT_TRUE(sheet.startButton()->isEnabled());  // the folder of the first file; normalising
    EXPECT_TRUE(test::accentFilled(sheet.startButton()));  // the prominent default
    sheet.normalizeToggle()->click();
    EXPECT_FALSE(sheet.startButton()->isEnabled());  // an empty chain without normalising
    store.setSelectedID(clip);
    EXPECT_TRUE(sheet.startButton()->isEnabled());
    EXPECT_EQ(sheet.sourcePicker()->itemText(0), qs(L("Текущая цепочка клипа ({0})", 1)));
}

TEST_F(BatchTest, ChosenFavouriteAndItsDeletion) {
    store.changeTrack(Uuid(clip), "rack", [](Track& t) {
        EffectSlot s(EffectPreset::compressor);
        s.params["threshold"] = -20;
        t.rack = {s, EffectSlot(EffectPreset::telephone)};
    });
    store.saveFavorite("fav");
    store.changeTrack(Uuid(clip), "rack", [](Track& t) { t.rack = {EffectSlot(EffectPreset::warm)}; });
    BatchProcessSheet sheet(store, nullptr);
    ASSERT_EQ(sheet.sourcePicker()->count(), 2);
    EXPECT_EQ(sheet.sourcePicker()->itemText(1), QString::fromUtf8("★ fav"));
    sheet.sourcePicker()->setCurrentIndex(1);
    Q_EMIT sheet.sourcePicker()->activated(1);
    EXPECT_EQ(sheet.controller()->source, store.favorites()[0].id.text());
    const auto rack = sheet.rack();
    ASSERT_EQ(rack.size(), 2u);
    EXPECT_NE(rack[0].id, store.favorites()[0].slots[0].id);  // fresh ids
    EXPECT_TRUE(sheet.chainLabel()->text().endsWith(qs(title(EffectPreset::telephone))));
    EXPECT_TRUE(sheet.chainLabel()->text().contains(QStringLiteral(" *")));

    store.deleteFavorite(Uuid(store.favorites()[0].id));
    EXPECT_EQ(sheet.sourcePicker()->currentIndex(), -1);
    ASSERT_EQ(sheet.rack().size(), 1u);
    EXPECT_EQ(sheet.rack()[0].preset, EffectPreset::warm);
}

TEST_F(BatchTest, DitherOnlyForSixteenBitAndTheEditorsSettingsOnShowing) {
    store.setExportFormat(ExportFormat::aiff24);
    store.setExportDither(false);
    BatchProcessSheet sheet(store, nullptr);
    EXPECT_EQ(sheet.controller()->format, ExportFormat::aiff24);
    EXPECT_FALSE(sheet.controller()->dither);
    EXPECT_FALSE(sheet.ditherToggle()->isEnabled());
    const int wav16 = sheet.formatPicker()->findData(int(ExportFormat::wav16));
    sheet.formatPicker()->setCurrentIndex(wav16);
    Q_EMIT sheet.formatPicker()->activated(wav16);
    EXPECT_TRUE(sheet.ditherToggle()->isEnabled());
    EXPECT_EQ(sheet.resultLabel()->text(), qs(L("Результат: «имя (обработано).{0}»", "wav")));
}

TEST_F(BatchTest, RunningSheetCannotBeDismissedAndItsBatchOutlivesIt) {
    store.setEffectsSheet(EffectsSheet::batch);
    auto* dialog = new QDialog;
    auto* layout = new QVBoxLayout(dialog);
    auto* sheet = new BatchProcessSheet(store, nullptr, dialog);
    layout->addWidget(sheet);
    dialog->show();
    pump();
    const auto inputs = sineFile(files.path(), "a.wav", 48000, 2, "pcm_s16le", 0.5);
    sheet->controller()->addFiles({inputs});
    sheet->start();
    ASSERT_TRUE(sheet->controller()->running);

    QCloseEvent close;
    QApplication::sendEvent(dialog, &close);
    EXPECT_FALSE(close.isAccepted());
    QTest::keyClick(dialog, Qt::Key_Escape);
    EXPECT_TRUE(dialog->isVisible());

    // The sheet goes; the batch ends anyway and its file is revealed.
    std::weak_ptr<BatchController> controller = sheet->controller();
    delete dialog;
    ws.fx.tasks.runAll();
    pump(5);
    EXPECT_TRUE(controller.expired());
    ASSERT_EQ(ws.fx.shell.revealed.size(), 1u);
    EXPECT_EQ(ws.fx.shell.revealed[0].size(), 1u);
}

TEST_F(BatchTest, QuittingCancelsARunningBatchAndWaitsForItsWorker) {
    QtTaskRunner runner;
    StoreServices services = ws.fx.services();
    services.tasks = &runner;
    StudioStore threaded(services);
    std::vector<fs::path> inputs;
    for (int i = 0; i < 6; ++i) inputs.push_back(sineFile(files.path(), "q" + std::to_string(i) + ".wav", 48000, 2, "pcm_s16le", 3.0));
    const fs::path out = files.path() / "out";
    fs::create_directories(out);
    auto sheet = std::make_unique<BatchProcessSheet>(threaded, nullptr);
    sheet->controller()->addFiles(inputs);
    sheet->controller()->chooseFolder(out);
    sheet->start();
    ASSERT_EQ(BatchRuns::running(), 1);
    sheet.reset();
    BatchRuns::cancelAllAndWait();
    EXPECT_EQ(BatchRuns::running(), 0);
    std::size_t written = 0;
    for (const auto& e : fs::directory_iterator(out)) written += e.is_regular_file();
    EXPECT_LT(written, inputs.size());
    pump(5);
}

TEST_F(BatchTest, ABatchTheRunnerDropsUnrunIsNotWaitedFor) {
    {
        ManualTaskRunner runner;
        StoreServices services = ws.fx.services();
        services.tasks = &runner;
        StudioStore other(services);
        BatchProcessSheet sheet(other, nullptr);
        sheet.controller()->addFiles(someInputs(1));
        sheet.start();
        EXPECT_EQ(BatchRuns::running(), 1);
    }
    EXPECT_EQ(BatchRuns::running(), 0);
    BatchRuns::cancelAllAndWait();  // returns at once
}

}  // namespace
}  // namespace tessoral
