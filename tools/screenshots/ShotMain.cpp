// tessoral-shot: renders named states of the real window and its dialogs offscreen to PNG files
// for review. Usage: tessoral-shot OUTPUT_FOLDER [ru|en]
#include <QApplication>
#include <QDir>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QImage>
#include <QMessageBox>
#include <QPainter>
#include <QTemporaryDir>

#include <cstdio>
#include <deque>
#include <memory>

#include "tools/screenshots/EffectPanelShots.h"
#include "app/shell/MainWindow.h"
#include "tools/screenshots/MenuShots.h"
#include "tools/screenshots/MeterPanelShots.h"
#include "tools/screenshots/ProcessingPanelShots.h"
#include "app/shell/QtLanguage.h"
#include "app/shell/QtPrompts.h"
#include "app/shell/ResourcePaths.h"
#include "app/shell/SheetHost.h"
#include "app/shell/SettingsWindow.h"
#include "tools/screenshots/ShotSupport.h"
#include "app/shell/Studio.h"
#include "app/shell/StudioView.h"
#include "tools/screenshots/TimelineToolShots.h"
#include "tools/screenshots/WorkspacePanelShots.h"
#include "model/Localization.h"
#include "panels/WorkspaceBrowser.h"
#include "store/StudioStore.h"
#include "store/TaskRunner.h"
#include "timeline/LanesWidget.h"
#include "transport/ManualScheduler.h"
#include "transport/NullAudioBackend.h"
#include "widgets/Palette.h"

using namespace tessoral;

namespace {

// Records every alert the store asks and answers each with the button given.
class ShotPrompts final : public Prompts {
public:
    std::vector<AlertRequest> alerts;
    std::deque<std::optional<int>> answers;
    std::optional<int> alert(const AlertRequest& request) override {
        alerts.push_back(request);
        if (answers.empty()) return std::nullopt;
        auto a = answers.front();
        answers.pop_front();
        return a;
    }
    std::optional<OpenRequest> opened;
    std::vector<std::filesystem::path> chooseFilesToOpen(const OpenRequest& request) override {
        opened = request;
        return {};
    }
    std::optional<std::filesystem::path> chooseSaveFile(const SaveRequest&) override { return std::nullopt; }
    std::optional<std::filesystem::path> chooseFolder(const FolderRequest&) override { return std::nullopt; }
};

class NoShell final : public Shell {
public:
    void reveal(const std::vector<std::filesystem::path>&, std::function<void()>) override {}
    bool openURL(const std::string&) override { return true; }
    void noteRecentDocument(const std::filesystem::path&) override {}
};

struct Services {
    ManualScheduler scheduler;
    ManualTaskRunner tasks;
    MemoryDefaults defaults;
    ShotPrompts prompts;
    NoShell shell;
    NullAudioBackend backend{NullAudioBackend::Mode::manual};
    std::filesystem::path data;
    StoreServices get() {
        StoreServices s;
        s.scheduler = &scheduler;
        s.tasks = &tasks;
        s.defaults = &defaults;
        s.prompts = &prompts;
        s.shell = &shell;
        s.backend = &backend;
        s.dataFolder = data;
        return s;
    }
    void settle() {
        for (int i = 0; i < 1000; ++i)
            if (scheduler.runPosted() == 0 && tasks.runAll() == 0) return;
    }
};

using tessoral::shots::pump;
using tessoral::shots::save;

QImage grabWindow(MainWindow& w) {
    pump();
    return w.grab().toImage();
}

// The dialog drawn over the window, centred near the top as a window-modal dialog appears.
QImage compose(QImage base, QWidget* dialog) {
    dialog->adjustSize();
    pump();
    return shots::sheetOver(std::move(base), dialog->grab().toImage());
}

QImage alertShot(MainWindow& window, const AlertRequest& request) {
    std::vector<QAbstractButton*> buttons;
    auto box = QtPrompts::makeAlert(request, &window, buttons);
    return compose(grabWindow(window), box.get());
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc < 2) {
        std::fprintf(stderr, "usage: tessoral-shot OUTPUT_FOLDER [ru|en]\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QString lang = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("ru");
    QTemporaryDir scratch;
    qputenv("XDG_CONFIG_HOME", QDir(scratch.path()).filePath("config").toLocal8Bit());
    qputenv("XDG_DATA_HOME", QDir(scratch.path()).filePath("data").toLocal8Bit());
    QCoreApplication::setOrganizationName(QStringLiteral("Tessoral"));
    QCoreApplication::setApplicationName(QStringLiteral("Tessoral"));

    {
        MemoryDefaults language;
        language.set(Localization::kInterfaceLanguageKey, std::string(lang == QStringLiteral("en") ? "en" : "ru"));
        Localization::start(resourceFolder(), language);
    }
    QApplication app(argc, argv);
    QtLanguage::apply(Localization::current());
    Palette::applyTheme(app);
    QDir().mkpath(out);
    bool ok = true;

    Services services;
    services.data = std::filesystem::path(scratch.path().toStdString()) / "Tessoral";
    {
        Studio studio(services.get(), false);
        MainWindow& window = studio.window();
        window.resize(1280, 800);
        window.show();
        pump();
        ok &= save(grabWindow(window), out, QStringLiteral("empty"), lang);

        studio.store().setError(L("Выделите фрагмент внутри выбранного клипа."));
        pump();
        if (QMessageBox* alert = window.studio()->alert()) {
            ok &= save(compose(grabWindow(window), alert), out, QStringLiteral("error-alert"), lang);
            alert->done(0);
        }
        pump();

        studio.store().loadDemo();
        services.settle();
        studio.store().setEditorMode(EditorMode::multitrack);
        ok &= save(grabWindow(window), out, QStringLiteral("demo-multitrack"), lang);

        // The timeline: fades, envelopes, a crossfade, a marker and a time selection on the selected
        // clip; the same in the spectral view once its spectrograms are drawn; the clip editor's lanes.
        {
            StudioStore& s = studio.store();
            const Session before = s.session();
            Session shown = before;
            if (shown.tracks.size() >= 3) {
                Track& melody = shown.tracks[0];
                melody.fadeIn = 0.8;
                melody.fadeOut = 1.5;
                melody.fadeOutCurve = FadeCurve::cosine;
                melody.volumeEnvelope = {{1.0, 0.0}, {3.5, -14.0}, {6.0, -4.0}};
                melody.panEnvelope = {{2.0, -0.5}, {7.0, 0.4}};
                Track tail = shown.tracks[2];
                tail.id = Uuid::random();
                tail.name = tail.name + " 2";
                tail.start = shown.tracks[2].end() - 1.0;
                shown.tracks.push_back(tail);
                SessionMarker marker;
                marker.name = "A";
                marker.start = 4.0;
                shown.markers.push_back(marker);
            }
            s.setSession(shown);
            s.setTimelineTool(TimelineTool::select);
            s.setShowEnvelopes(true);
            if (!s.session().tracks.empty()) s.setSelectedID(s.session().tracks.front().id);
            s.setSelection(TimeRange{2.0, 4.5});
            s.setCursor(2.0);
            services.settle();
            pump();
            ok &= save(grabWindow(window), out, QStringLiteral("multitrack"), lang);
            s.setSpectralView(true);
            services.settle();
            pump();
            services.settle();
            ok &= save(grabWindow(window), out, QStringLiteral("multitrack-spectral"), lang);
            s.setSpectralView(false);
            {
                LanesWidget editor(s, &studio.transport(), LanesMode::clipEditor);
                editor.setScale(1000.0, s.timelineDuration(), 260.0);
                editor.resize(editor.contentSize());
                s.setAmplitudeZoom(2.0);
                ok &= save(editor.grab().toImage(), out, QStringLiteral("clip-editor"), lang);
                s.setAmplitudeZoom(1.0);
            }
            s.setShowEnvelopes(false);
            s.setTimelineTool(TimelineTool::move);
            s.setSelection(std::nullopt);
            s.setSession(before);
            services.settle();
            pump();
        }

        // The processing inspector with the first clip selected, a selection inside it.
        {
            StudioStore& s = studio.store();
            s.setSelectedID(s.session().tracks.front().id);
            s.setInspectorTab(1);
            s.setSelection(TimeRange{1.0, 3.5});
            pump();
            ok &= save(grabWindow(window), out, QStringLiteral("inspector-clip"), lang);
            s.setEditorMode(EditorMode::waveform);
            pump();
            ok &= save(grabWindow(window), out, QStringLiteral("waveform-selection"), lang);
            s.setTimeFormat(TimeFormat::bars);
            s.setFreqSelection(ClosedRange{999.5, 4000.4});
            pump();
            ok &= save(grabWindow(window), out, QStringLiteral("waveform-bars"), lang);
            s.setTimeFormat(TimeFormat::clock);
            s.setTimeRate(1.25);
            s.setTimeSemitones(-3);
            s.setShowTimePitch(true);
            pump();
            if (QDialog* sheet = window.studio()->sheets()->topSheet())
                ok &= save(compose(grabWindow(window), sheet), out, QStringLiteral("time-pitch-sheet"), lang);
            s.setShowTimePitch(false);
            pump();
        }

        studio.store().setExportFormat(ExportFormat::aac128);
        studio.store().setExportSampleRate(ExportSampleRate::hz96000);
        studio.store().saveExportDefaults();
        studio.store().setShowExport(true);
        pump();
        if (QDialog* sheet = window.studio()->sheets()->topSheet())
            ok &= save(compose(grabWindow(window), sheet), out, QStringLiteral("export-sheet"), lang);
        studio.store().setShowExport(false);
        studio.store().setSelection(std::nullopt);
        studio.store().setEditorMode(EditorMode::multitrack);
        pump();

        // The unsaved-changes question, as the store asks it.
        studio.store().setDirty(true);
        services.prompts.answers = {1};
        (void)studio.store().allowDiscard();
        if (!services.prompts.alerts.empty())
            ok &= save(alertShot(window, services.prompts.alerts.back()), out, QStringLiteral("save-question"), lang);

        // Leave a recovery copy behind for the next store.
        services.scheduler.advanceBy(StudioStore::kAutosaveSeconds + 1);
        services.settle();
        // Kept aside as a crash would leave them (a closing store may tidy its copy away).
        std::error_code ec;
        for (const auto& url : {studio.store().recoveryURL(), studio.store().recoveryMetaURL()})
            if (url) std::filesystem::copy_file(*url, url->string() + ".kept", ec);
    }
    {
        Studio studio(services.get(), false);
        MainWindow& window = studio.window();
        window.resize(1280, 800);
        window.show();
        pump();
        for (const char* name : {"Recovery.tessoral", "Recovery.plist"}) {
            std::error_code ec;
            const auto kept = services.data / (std::string(name) + ".kept");
            std::filesystem::rename(kept, services.data / name, ec);
        }
        services.prompts.alerts.clear();
        services.prompts.answers = {std::nullopt};
        (void)studio.store().offerRecovery();
        if (!services.prompts.alerts.empty())
            ok &= save(alertShot(window, services.prompts.alerts.back()), out, QStringLiteral("recovery-question"),
                       lang);
        else
            std::fprintf(stderr, "no recovery copy was offered\n");
    }
    {
        // The processing panels and their sheets.
        Studio studio(services.get(), false);
        studio.window().resize(1280, 800);
        studio.window().show();
        ok &= renderProcessingPanelShots(studio, [&] { services.settle(); }, out, lang);
    }
    {
        // The effect rack, its editors and the loudness matching sheet.
        Studio studio(services.get(), false);
        studio.window().resize(1280, 800);
        studio.window().show();
        ok &= renderEffectPanelShots(studio, [&] { services.settle(); }, out, lang);
    }
    {
        // The analysis strip, the live meter's faces and the settings window.
        Studio studio(services.get(), false);
        studio.window().resize(1280, 800);
        studio.window().show();
        ok &= renderMeterPanelShots(studio, [&](double seconds) {
            services.scheduler.advanceBy(seconds);
            services.settle();
        }, out, lang);
    }
    {
        // The browser, the marker ruler, the mixer, the favourites manager and the batch report.
        Studio studio(services.get(), false);
        studio.window().resize(1280, 800);
        studio.window().show();
        ok &= renderWorkspacePanelShots(studio, [&] { services.settle(); }, out, lang);
    }
    {
        // The spectral mask in both scales with its tools, and the tempo popover.
        Studio studio(services.get(), false);
        studio.window().resize(1280, 800);
        studio.window().show();
        ok &= renderTimelineToolShots(studio, [&] { services.settle(); }, out, lang);
    }
    {
        // The smallest window: the spectral brush with its slider, the essential-sound page, a long
        // marker name and an equaliser in the rack; the settings window; Qt's own file dialog.
        Studio studio(services.get(), false);
        MainWindow& window = studio.window();
        window.resize(StudioView::kMinimumWidth, StudioView::kMinimumHeight);
        window.show();
        StudioStore& s = studio.store();
        s.loadDemo();
        services.settle();
        s.setSelectedID(s.session().tracks.front().id);
        s.setCursor(1.0);
        s.addMarker();
        if (!s.session().markers.empty())
            s.renameMarker(s.session().markers.back().id, "Intro - Workshop Hour with the whole team");
        s.addRackEffect(EffectPreset::parametricEQ);
        if (auto* browser = window.findChild<WorkspaceBrowser*>()) browser->setTab(1);
        s.setEditorMode(EditorMode::waveform);
        s.setSpectralView(true);
        s.setSpectralTool(SpectralTool::brush);
        s.setInspectorTab(3);
        services.settle();
        ok &= save(grabWindow(window), out, QStringLiteral("narrow-spectral-brush"), lang);
        s.setSpectralView(false);
        s.setEditorMode(EditorMode::multitrack);
        s.setInspectorTab(0);
        window.resize(StudioView::kMinimumWidth, StudioView::kMinimumHeight);
        services.settle();
        ok &= save(grabWindow(window), out, QStringLiteral("narrow-rack"), lang);
        window.showSettings();
        pump();
        if (SettingsWindow* settings = window.settingsWindow()) {
            ok &= save(settings->grab().toImage(), out, QStringLiteral("settings-window"), lang);
            settings->close();
        }
        // The open chooser as the store asks for it, over a folder of a few takes: the type filter
        // lists each pattern once, and a name in capitals passes it while a text file does not.
        services.prompts.opened.reset();
        s.openPanel();
        QTemporaryDir takes;
        for (const char* name : {"Interview.wav", "TAKE 2.WAV", "Room tone.flac", "notes.txt"})
            QFile(takes.filePath(QString::fromLatin1(name))).open(QIODevice::WriteOnly);
        QFileDialog dialog(&window, QString::fromStdString(L("Открыть аудио или проект")), takes.path());
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        if (services.prompts.opened) dialog.setNameFilters(QtPrompts::nameFilters(services.prompts.opened->filters));
        dialog.resize(720, 440);
        dialog.show();
        if (auto* listing = dialog.findChild<QFileSystemModel*>()) {
            QDeadlineTimer deadline(3000);
            while (listing->rowCount(listing->index(takes.path())) < 3 && !deadline.hasExpired()) pump();
        }
        pump();
        ok &= save(dialog.grab().toImage(), out, QStringLiteral("qt-file-dialog"), lang);
        dialog.close();
    }
    {
        // Each menu open, and the About panel.
        Studio studio(services.get(), false);
        ok &= renderMenuShots(studio, [&] { services.settle(); }, out, lang);
    }
    return ok ? 0 : 1;
}
