#include "app/shell/Application.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QSessionManager>
#include <QSettings>
#include <QStandardPaths>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <memory>

#include "app/shell/AppDelegate.h"
#include "app/shell/CommandLine.h"
#include "app/shell/DesktopShell.h"
#include "app/shell/GuardedApplication.h"
#include "app/shell/MainWindow.h"
#include "app/shell/OldSettings.h"
#include "app/shell/QtLanguage.h"
#include "app/shell/QtPrompts.h"
#include "app/shell/QuitSignals.h"
#include "app/shell/ResourcePaths.h"
#include "app/shell/SingleInstance.h"
#include "app/shell/Studio.h"
#include "app/shell/StudioView.h"
#include "model/AppPaths.h"
#include "model/Localization.h"
#include "model/MemoryRelease.h"
#include "model/StandardError.h"
#include "model/SettingsMigration.h"
#include "panels/BatchSheet.h"
#include "store/QtScheduler.h"
#include "store/Preferences.h"
#include "store/SettingsDefaults.h"
#include "store/StudioStore.h"
#include "store/TaskRunner.h"
#include "transport/AudioBackend.h"
#include "transport/NullAudioBackend.h"
#include "widgets/Palette.h"

namespace tessoral {

namespace {

void print(FILE* stream, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

// Qt's messages (the status log among them) in Qt's format, past a device scan's quiet.
void toStandardError(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    StandardError::write((qFormatLogMessage(type, context, message) + QLatin1Char('\n')).toLocal8Bit().toStdString());
    if (type == QtFatalMsg) std::abort();
}

std::unique_ptr<AudioBackend> makeBackend() {
    // TESSORAL_AUDIO=null: the silent paced backend (virtual displays, machines without sound).
    if (qEnvironmentVariable("TESSORAL_AUDIO") == QStringLiteral("null"))
        return std::make_unique<NullAudioBackend>(NullAudioBackend::Mode::paced);
    // The sound library starts beside the window: a stopped sound server keeps its device scan
    // waiting for minutes.
    return std::make_unique<StartingAudioBackend>([] { return AudioBackend::system(); });
}

}  // namespace

int runApplication(int argc, char** argv) {
    MemoryRelease::configure();  // before any worker thread allocates
    qInstallMessageHandler(toStandardError);
    QCoreApplication::setOrganizationName(QStringLiteral("Tessoral"));
    QCoreApplication::setApplicationName(QStringLiteral("Tessoral"));
    QGuiApplication::setDesktopFileName(QStringLiteral("tessoral"));

    // Settings and the interface language come before any window, menu or text.
    SettingsDefaults defaults;
    SettingsMigration::migrateFromOldDomain(defaults, readOldSettings);
    Localization::start(resourceFolder(), defaults);

    // File names are bytes: the arguments and the working folder are kept as they are.
    const std::vector<std::string> arguments(argv, argv + argc);
    std::error_code noFolder;
    const std::filesystem::path workingFolder = std::filesystem::current_path(noFolder);
    LaunchRequest request = parseCommandLine(arguments, workingFolder);
    if (request.action == LaunchRequest::Action::exit) {
        // The help and the errors carry Qt's own headings, which speak the interface language only
        // with Qt's catalogue, and that needs an application object (no display).
        QCoreApplication console(argc, argv);
        QtLanguage::apply(Localization::current());
        request = parseCommandLine(arguments, workingFolder);
        if (!request.output.isEmpty()) print(stdout, request.output);
        if (!request.errorOutput.isEmpty()) print(stderr, request.errorOutput);
        return request.exitCode;
    }

    // A program already runs: hand the files over before opening a display of our own.
    QByteArrayList requestFiles;
    for (const auto& f : request.files) requestFiles << QByteArray::fromStdString(f.native());
    // It decides whether they are opened; a start whose files it did not take says so and fails.
    switch (const auto delivery = SingleInstance::send(SingleInstance::defaultSocketPath(), requestFiles,
                                                       SingleInstance::kAnswerMs, qgetenv("XDG_ACTIVATION_TOKEN"));
            delivery) {
        case SingleInstance::Delivery::opened: return 0;
        case SingleInstance::Delivery::refused:
        case SingleInstance::Delivery::noAnswer:
            print(stderr, QStringLiteral("tessoral: %1\n").arg(SingleInstance::notOpenedText(delivery, requestFiles.size())));
            return 1;
        case SingleInstance::Delivery::nobody: break;
    }

    GuardedApplication app(argc, argv);
    // Qt's own texts, dates and numbers in the interface language, before the first widget.
    QtLanguage::apply(Localization::current());
    app.setQuitOnLastWindowClosed(false);
    Palette::applyTheme(app);

    // One program per user; a later start hands its files over and leaves.
    SingleInstance instance;
    switch (instance.start(requestFiles)) {
        case SingleInstance::Role::handedOver: return 0;
        case SingleInstance::Role::failed:
            print(stderr, QStringLiteral("tessoral: %1\n").arg(instance.errorText()));
            return 1;
        case SingleInstance::Role::primary: break;
    }

    QtScheduler scheduler;
    // Before the tasks, which go first: an opening a worker still waits for when the program ends
    // is given up (see finishWork), and the runner is idle before the backend goes.
    std::unique_ptr<AudioBackend> backend = makeBackend();
    QtTaskRunner tasks;
    DesktopShell shell;
    Studio* studioPtr = nullptr;
    QtPrompts prompts([&studioPtr]() -> QWidget* {
        return studioPtr ? studioPtr->window().studio()->dialogParent() : nullptr;
    });

    StoreServices services;
    services.scheduler = &scheduler;
    services.tasks = &tasks;
    // The views follow the settings through the preferences, the store's own writes included.
    Preferences preferences(defaults);
    services.defaults = &preferences;
    services.prompts = &prompts;
    services.shell = &shell;
    services.backend = backend.get();
    services.dataFolder = AppPaths::dataFolder();
    // TESSORAL_AUTOSAVE_SECONDS: another autosave period, for end-to-end tests that wait for it.
    if (const double seconds = qEnvironmentVariable("TESSORAL_AUTOSAVE_SECONDS").toDouble(); seconds > 0.0)
        services.autosaveSeconds = seconds;

    auto studio = std::make_unique<Studio>(services, request.demo);
    studioPtr = studio.get();
    MainWindow& window = studio->window();
    AppDelegate& delegate = studio->delegate();

    if (!request.files.empty()) delegate.openDocuments(request.files);

    // Files handed over by a later start wait while a question waits for its answer or the store
    // is busy.
    delegate.questionOpen = [] { return QtPrompts::openDialogs() > 0; };
    // The later start learns whether they are opened: they are when the delegate confirms them, and
    // not when the program quits first.
    QObject::connect(&instance, &SingleInstance::filesReceived, &window,
                     [&](const QByteArrayList& list, const QByteArray& token, quint64 request) {
                         std::vector<std::filesystem::path> files;
                         for (const QByteArray& f : list) files.emplace_back(f.toStdString());
                         SingleInstance::adoptActivationToken(token, QGuiApplication::platformName());
                         delegate.handOver(files, [&instance, request] { return instance.confirm(request); },
                                           [&instance, request] { instance.refuse(request); });
                     });

    // What every way out does before it leaves: the window's place kept, the transport stopped, a
    // running batch stopped at its next check and the work already handed to the pools (a save, an
    // autosave, an export) finished, so no half-written file stays behind; an import still reading
    // its files is not waited for. Every way reaches it with
    // the unsaved work kept (saved, in the recovery copy, or given up by the person): a second quit
    // signal that waited for that ends the program now, and a later one ends it at once.
    QuitSignals quitSignals;
    const auto finishWork = [&] {
        quitSignals.unsavedWorkKept();
        window.saveWindowGeometry();
        studio->store().stop();
        BatchRuns::cancelAllAndWait();
        // A playback being prepared may wait on a sound server for seconds: its opening is left
        // to itself, as a device scan is, and the worker is free at once.
        giveUpStreamOpenings();
        tasks.waitForIdle();
    };
    delegate.finishWork = finishWork;
    delegate.workKept = [&] { quitSignals.unsavedWorkKept(); };
    delegate.terminate = [&] {
        finishWork();
        // exit(), not quit(): quit() would first offer every window a close, and the window's close
        // rule would ask the question again.
        QCoreApplication::exit(0);
    };
    delegate.endNow = [] {
        std::fflush(nullptr);
        ::_exit(0);
    };
    // Logout, shutdown, Ctrl+C in a terminal: nobody may be there to answer a question, so none
    // is asked; unsaved work is written to the recovery copy, offered at the next start.
    QObject::connect(&quitSignals, &QuitSignals::received, &window,
                     [&] { delegate.quitOnSignal(QtPrompts::openDialogs() > 0); });
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window, [&delegate](QSessionManager& manager) {
        if (!manager.allowsInteraction()) return;  // the recovery copy keeps the work
        delegate.requestQuit();
        manager.release();
        if (!delegate.quitting()) manager.cancel();
    });

    window.restoreWindowGeometry();
    window.show();
    const int code = app.exec();
    studioPtr = nullptr;
    studio.reset();
    giveUpStreamOpenings();
    tasks.waitForIdle();
    if (tasks.abandonReads() || !backend->started()) {
        // An import still reading (a decoder may take minutes over a damaged file) is not waited
        // for: its clips were never part of the project, and everything else is on disk by now.
        // Nor is the sound library still starting on a server that does not answer. Leaving past
        // the destructors keeps them from running beside either.
        QLocalServer::removeServer(instance.socketPath());
        std::fflush(nullptr);
        ::_exit(code);
    }
    return code;
}

}  // namespace tessoral
