// Start-up routing, the recovery offer, "--demo", and the quit and close rules.
#include <QScreen>
#include <QSettings>
#include <QTest>

#include <fstream>
#include <iterator>

#include <algorithm>

#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "app/shell/WindowPlacement.h"
#include "model/Localization.h"
#include "model/ProjectIO.h"
#include "model/RecordingPreferences.h"
#include "timeline/LaneHeader.h"
#include "transport/AudioDevices.h"
#include "widgets/ValueSlider.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {
std::string fileBytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
}  // namespace

TEST(Shell, SecondConnectAsksNothing) {
    StudioFixture fx;
    fx.leaveRecoveryCopy();
    fx.services.prompts.alertAnswers = {1};  // "Удалить копию"
    fx.delegate().connectStore(fx.store());
    ASSERT_EQ(fx.services.prompts.alerts.size(), 1u);
    EXPECT_EQ(fx.services.prompts.alerts[0].message, L("Найдена автосохранённая копия проекта"));
    fx.leaveRecoveryCopy();
    fx.delegate().connectStore(fx.store());
    EXPECT_EQ(fx.services.prompts.alerts.size(), 1u);
}

TEST(Shell, OfTwoEarlyOpenRequestsOnlyTheSecondOpens) {
    StudioFixture fx;
    const auto a = writeTone(fx.services.home.path() / "first.wav");
    const auto b = writeTone(fx.services.home.path() / "second.wav");
    fx.delegate().openDocuments({a});
    fx.delegate().openDocuments({b});
    fx.delegate().connectStore(fx.store());
    fx.settle();
    EXPECT_EQ(trackNames(fx.store()), std::vector<std::string>{"second"});
    EXPECT_TRUE(fx.delegate().pending().empty());
}

TEST(Shell, ARequestWithoutFilesKeepsTheQueuedOne) {
    StudioFixture fx;
    fx.delegate().openDocuments({writeTone(fx.services.home.path() / "queued.wav")});
    fx.delegate().openDocuments({});
    fx.delegate().connectStore(fx.store());
    fx.settle();
    EXPECT_EQ(trackNames(fx.store()), std::vector<std::string>{"queued"});
}

TEST(Shell, TheRecoveryCopyIsOfferedBeforeTheFilesOfTheStart) {
    // Restored: the file given at the start is imported into the restored project.
    {
        StudioFixture fx;
        fx.leaveRecoveryCopy();
        const auto copy = fileBytes(*fx.store().recoveryURL());
        fx.delegate().openDocuments({writeTone(fx.services.home.path() / "take.wav")});
        fx.services.prompts.onAlert = [&](const AlertRequest&) {
            // Nothing of the start's files has happened yet, and the copy is as the crash left it.
            EXPECT_TRUE(fx.store().session().tracks.empty());
            EXPECT_EQ(fileBytes(*fx.store().recoveryURL()), copy);
        };
        fx.services.prompts.alertAnswers = {0};  // "Восстановить"
        fx.delegate().connectStore(fx.store());
        fx.settle();
        ASSERT_EQ(fx.services.prompts.alerts.size(), 1u);
        EXPECT_EQ(fx.services.prompts.alerts[0].message, L("Найдена автосохранённая копия проекта"));
        EXPECT_EQ(trackNames(fx.store()), (std::vector<std::string>{L("Мелодия"), L("Бас"), L("Ритм"), "take"}));
    }
    // Discarded: the file opens as given, into an empty project.
    {
        StudioFixture fx;
        fx.leaveRecoveryCopy();
        fx.delegate().openDocuments({writeTone(fx.services.home.path() / "take.wav")});
        fx.services.prompts.alertAnswers = {1};  // "Удалить копию"
        fx.delegate().connectStore(fx.store());
        fx.settle();
        EXPECT_EQ(fx.services.prompts.alerts.size(), 1u);
        EXPECT_EQ(trackNames(fx.store()), std::vector<std::string>{"take"});
        EXPECT_FALSE(std::filesystem::exists(*fx.store().recoveryURL()));
    }
}

TEST(Shell, StartedWithTheProjectOfTheCopyTheRestoredCopyStandsForIt) {
    // The file as the copy names it, through a symbolic link, and spelt through a folder that is
    // not there (the file itself gone since the crash).
    for (const std::string spelling : {"same", "link", "dot-dot"}) {
        SCOPED_TRACE(spelling);
        StudioFixture fx;
        const auto home = fx.services.home.path();
        auto project = home / "Запись.tessoral";
        ProjectIO::save(Session{}, project);
        std::filesystem::path given = project;
        if (spelling == "link") {
            given = home / "Ссылка.tessoral";
            std::filesystem::create_symlink(project, given);
        } else if (spelling == "dot-dot") {
            std::filesystem::remove(project);
            project = home / "Удалённая" / ".." / "Запись.tessoral";
        }
        fx.leaveRecoveryCopy(project);
        fx.delegate().openDocuments({given});
        fx.services.prompts.alertAnswers = {0, 1};  // "Восстановить"; a further question would be refused
        fx.delegate().connectStore(fx.store());
        fx.settle();
        // No question whether to throw the restored work away for the older file.
        EXPECT_EQ(fx.services.prompts.alerts.size(), 1u);
        EXPECT_EQ(fx.store().session().tracks.size(), 3u);
        EXPECT_EQ(fx.store().projectURL(), project);
        EXPECT_TRUE(fx.store().dirty());
        EXPECT_EQ(fx.store().status(), L("Проект восстановлен из автосохранения"));
    }
}

TEST(Shell, DemoIsIgnoredWhenRecoveryRestoredAndLoadedOtherwise) {
    {
        StudioFixture fx(true);
        fx.leaveRecoveryCopy();
        const Session copy = ProjectIO::load(*fx.store().recoveryURL());
        // "Восстановить"; were the demo asked for after it, "Не сохранять" would let it replace the copy.
        fx.services.prompts.alertAnswers = {0, 2};
        fx.delegate().connectStore(fx.store());
        fx.settle();
        EXPECT_EQ(fx.services.prompts.alerts.size(), 1u);
        EXPECT_EQ(fx.store().status(), L("Проект восстановлен из автосохранения"));
        EXPECT_EQ(fx.services.tasks.pending(), 0u);
        EXPECT_EQ(ProjectIO::encode(fx.store().session()), ProjectIO::encode(copy));
        EXPECT_TRUE(std::filesystem::exists(*fx.store().recoveryURL()));
    }
    {
        StudioFixture fx(true);
        fx.leaveRecoveryCopy();
        fx.services.prompts.alertAnswers = {1};  // "Удалить копию"
        fx.delegate().connectStore(fx.store());
        EXPECT_TRUE(fx.store().busy());  // the demo is being prepared
        fx.settle();
        EXPECT_EQ(fx.store().session().tracks.size(), 3u);
    }
}

TEST(Shell, OpenRequestAfterConnectionOpensAtOnce) {
    StudioFixture fx;
    fx.delegate().connectStore(fx.store());
    fx.delegate().openDocuments({writeTone(fx.services.home.path() / "late.wav")});
    fx.settle();
    EXPECT_EQ(trackNames(fx.store()), std::vector<std::string>{"late"});
    // A file handed over and the session manager's quit come from outside the event flow: a row
    // volume key's burst still open is a step of its own first.
    fx.window().show();
    ValueSliderTrack* gain = fx.view().findChild<LaneHeader*>()->gainSlider()->slider();
    QTest::keyClick(gain, Qt::Key_PageUp);
    fx.delegate().openDocuments({writeTone(fx.services.home.path() / "later.wav")});
    fx.settle();
    EXPECT_EQ(fx.store().undoNames(), (std::vector<std::string>{"Импорт аудио", "Громкость дорожки", "Импорт аудио"}));
    const double stepped = fx.store().session().lanes[0].gainDB;
    QTest::keyClick(gain, Qt::Key_PageDown);
    fx.services.prompts.alertAnswers = {1};  // "Отмена"
    fx.delegate().requestQuit();
    EXPECT_EQ(fx.services.prompts.alerts.size(), 1u);
    EXPECT_LT(fx.store().session().lanes[0].gainDB, stepped);  // in the project the question is about
    // A held key repeats after the quit kept the work: the window goes with that burst open.
    QTest::keyClick(gain, Qt::Key_PageUp);
    fx.studio.reset();
}

TEST(Shell, CloseUnsavedDontSaveAsksOnceAndQuits) {
    StudioFixture fx;
    fx.delegate().connectStore(fx.store());
    fx.loadDemo();
    ASSERT_TRUE(fx.store().dirty());
    fx.services.prompts.alertAnswers = {2};  // "Не сохранять"
    fx.window().close();
    EXPECT_EQ(fx.services.prompts.alerts.size(), 1u);
    EXPECT_EQ(fx.services.prompts.alerts[0].message, L("Сохранить изменения в проекте?"));
    EXPECT_EQ(fx.terminations, 1);
}

TEST(Shell, ClosingTheWindowWhileRecordingEndsTheTakeAndKeepsTheProgram) {
    StudioFixture fx;
    fx.delegate().connectStore(fx.store());
    addInputDevice(fx);
    fx.store().record();
    for (int i = 0; i < 10 && !fx.store().transport().recording(); ++i) {
        fx.services.backend.pump(4800);
        fx.services.scheduler.advanceBy(0.1);
        fx.settle();
    }
    ASSERT_TRUE(fx.store().transport().recording());
    fx.services.backend.pump(48000);
    fx.services.scheduler.advanceBy(1.0);
    fx.settle();

    fx.window().close();
    fx.settle();
    EXPECT_FALSE(fx.store().transport().recording());
    EXPECT_TRUE(fx.services.prompts.alerts.empty());
    EXPECT_EQ(fx.terminations, 0);
    // The take is in the project, unsaved: the next close asks about it.
    ASSERT_EQ(fx.store().session().tracks.size(), 1u);
    EXPECT_TRUE(fx.store().dirty());
    fx.services.prompts.alertAnswers = {1};  // "Отмена"
    fx.window().close();
    ASSERT_EQ(fx.services.prompts.alerts.size(), 1u);
    EXPECT_EQ(fx.services.prompts.alerts[0].message, L("Сохранить изменения в проекте?"));
    EXPECT_EQ(fx.terminations, 0);
    EXPECT_EQ(fx.store().session().tracks.size(), 1u);
}

TEST(Shell, SaveInTheQuitQuestionQuitsOnlyOnceTheProjectIsWritten) {
    StudioFixture fx;
    fx.delegate().connectStore(fx.store());
    fx.loadDemo();
    const auto file = fx.services.home.path() / "Демо.tessoral";

    // "Сохранить", then the save chooser is cancelled: nothing is written and the program stays.
    fx.services.prompts.alertAnswers = {0};
    fx.delegate().requestQuit();
    EXPECT_EQ(fx.services.prompts.saves.size(), 1u);
    EXPECT_EQ(fx.terminations, 0);
    EXPECT_TRUE(fx.store().dirty());

    // A file that cannot be written: the program stays as well.
    fx.services.prompts.alertAnswers = {0};
    fx.services.prompts.saveAnswers = {fx.services.home.path() / "нет такой папки" / "Демо"};
    fx.window().close();
    EXPECT_EQ(fx.terminations, 0);
    EXPECT_TRUE(fx.store().dirty());

    // Written: the program quits, without a second question, and the file holds the project.
    fx.services.prompts.alertAnswers = {0};
    fx.services.prompts.saveAnswers = {fx.services.home.path() / "Демо"};
    fx.window().close();
    EXPECT_EQ(fx.terminations, 1);
    EXPECT_EQ(fx.services.prompts.alerts.size(), 3u);
    ASSERT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(ProjectIO::load(file).tracks.size(), 3u);
    EXPECT_FALSE(fx.store().dirty());
}

TEST(Shell, CancelKeepsTheProgramAndTheProject) {
    StudioFixture fx;
    fx.delegate().connectStore(fx.store());
    fx.loadDemo();
    fx.services.prompts.alertAnswers = {1, 1};  // "Отмена" twice
    fx.window().close();
    fx.delegate().requestQuit();
    EXPECT_EQ(fx.services.prompts.alerts.size(), 2u);
    EXPECT_EQ(fx.terminations, 0);
    EXPECT_TRUE(fx.store().dirty());
    EXPECT_EQ(fx.store().session().tracks.size(), 3u);
}

TEST(Shell, QuitWithNothingUnsavedQuitsUnasked) {
    StudioFixture fx;
    fx.delegate().connectStore(fx.store());
    fx.delegate().requestQuit();
    EXPECT_TRUE(fx.services.prompts.alerts.empty());
    EXPECT_EQ(fx.terminations, 1);
}

TEST(Shell, QuitWhileBusySaysWhyAndAnImportRunsOnUnlessTheQuitIsConfirmed) {
    StudioFixture fx;
    fx.delegate().connectStore(fx.store());
    fx.loadDemo();
    fx.store().setBusy(true);  // an export, a count-in, an analysis, playback being prepared
    fx.delegate().requestQuit();
    EXPECT_EQ(fx.store().status(), L("Программа занята: выход станет возможен, когда закончится текущая работа"));
    fx.store().setStatus({});
    fx.window().close();
    EXPECT_EQ(fx.store().status(), L("Программа занята: выход станет возможен, когда закончится текущая работа"));
    EXPECT_TRUE(fx.services.prompts.alerts.empty() && fx.terminations == 0);
    fx.store().setBusy(false);
    // An import only reads its files: the question is asked while it runs, and "Отмена" leaves it
    // running to its clip. Confirmed (the project as it stands saved), the quit gives it up.
    fx.services.prompts.alertAnswers = {1, 1, 0};  // "Отмена" twice, then "Сохранить"
    const auto file = fx.services.home.path() / "Демо.tessoral";
    fx.services.prompts.saveAnswers = {file};
    fx.store().open({writeTone(fx.services.home.path() / "one.wav")});
    fx.delegate().requestQuit();
    fx.window().close();
    fx.settle();
    fx.store().open({writeTone(fx.services.home.path() / "two.wav")});
    fx.window().close();
    fx.settle();
    EXPECT_EQ(fx.terminations, 1);
    EXPECT_EQ(fx.store().status(), L("Импорт прерван"));
    EXPECT_EQ(trackNames(fx.store()).back(), "one");
    EXPECT_EQ(ProjectIO::load(file).tracks.size(), 4u);
}

TEST(Shell, FilesHandedOverWaitForAQuestionAndForTheBusyStore) {
    StudioFixture fx;
    fx.delegate().connectStore(fx.store());
    bool question = true;
    fx.delegate().questionOpen = [&] { return question; };
    const auto handOver = [&](const char* name) { fx.delegate().handOver({writeTone(fx.services.home.path() / name)}); };
    handOver("one.wav");
    EXPECT_FALSE(fx.store().importing());
    fx.store().setBusy(true);  // an analysis
    question = false;
    handOver("two.wav");
    fx.store().setBusy(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return fx.store().importing(); }));
    handOver("three.wav");  // while the ones before import
    fx.settle();
    ASSERT_TRUE(QTest::qWaitFor([&] { return fx.store().importing(); }));
    fx.settle();
    EXPECT_EQ(trackNames(fx.store()), (std::vector<std::string>{"one", "two", "three"}));
}

// A file handed over while the quit question waits: opened after "Отмена" (the later start
// confirms it), refused after "Не сохранять", and never opened then.
TEST(Shell, AFileHandedOverDuringTheQuitQuestionIsOpenedOnlyWhenTheProgramStays) {
    for (const int answer : {1, 2}) {  // "Отмена", "Не сохранять"
        StudioFixture fx;
        fx.delegate().connectStore(fx.store());
        fx.loadDemo();
        bool asking = false;
        int confirms = 0, refusals = 0;
        fx.delegate().questionOpen = [&] { return asking; };
        fx.services.prompts.onAlert = [&](const AlertRequest&) {
            asking = true;
            fx.delegate().handOver({writeTone(fx.services.home.path() / "late.wav")}, [&] { return ++confirms; },
                                   [&] { ++refusals; });
        };
        fx.services.prompts.alertAnswers = {answer};
        fx.delegate().requestQuit();
        asking = false;
        if (answer == 1) ASSERT_TRUE(QTest::qWaitFor([&] { return fx.store().importing(); }));
        fx.settle();
        const auto names = trackNames(fx.store());
        EXPECT_EQ(std::to_string(fx.terminations) + std::to_string(confirms) + std::to_string(refusals) +
                      std::to_string(std::count(names.begin(), names.end(), "late")),
                  answer == 1 ? "0101" : "1010");
    }
}

TEST(Shell, WindowOpensOnTheScreenFirstAndAKeptFrameComesBackOntoIt) {
    QSettings(QStringLiteral("Tessoral"), QStringLiteral("Tessoral")).remove(QString::fromLatin1(MainWindow::kGeometryKey));
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    QSize kept;
    {
        StudioFixture fx;
        fx.window().restoreWindowGeometry();
        // The test screen (800 × 800) holds less than 1280 × 800: the window takes it, not less
        // than its minimum, from the screen's corner.
        const QSize minimum = fx.window().minimumSizeHint();
        EXPECT_EQ(fx.window().size(), QSize(std::max(area.width() - 2, minimum.width()),
                                            std::max(area.height() - 31, minimum.height())));
        EXPECT_EQ(fx.window().pos(), area.topLeft());
        // Wider than the screen, and reaching past its bottom though its height would fit.
        ASSERT_LT(minimum.height() + 40 + 31, area.height());
        kept = QSize(area.width() + 100, minimum.height() + 40);
        fx.window().resize(kept);
        fx.window().move(area.topLeft() + QPoint(300, area.height() - kept.height()));
        fx.window().saveWindowGeometry();
    }
    // Back on the screen: as narrow as the window allows (the screen is narrower still), its
    // height kept, moved up to the screen's bottom (a guess at the title bar above it).
    StudioFixture fx;
    fx.window().restoreWindowGeometry();
    EXPECT_EQ(fx.window().size(), QSize(fx.window().minimumSizeHint().width(), kept.height()));
    EXPECT_EQ(fx.window().pos(), QPoint(area.left(), area.bottom() + 1 - kept.height() - 31));
    QSettings(QStringLiteral("Tessoral"), QStringLiteral("Tessoral")).remove(QString::fromLatin1(MainWindow::kGeometryKey));
}

// Frames as the window manager draws them (title bar and borders), on the screens' work areas.
TEST(Shell, WindowPlacementKeepsTheFrameOnAScreen) {
    using namespace WindowPlacement;
    const QSize first(1282, 831), minimum(982, 700);
    const QRect laptop(0, 0, 1366, 768), desk(0, 0, 1920, 1080), withPanel(0, 32, 1920, 1048);
    // A screen that holds 1280 × 800: that size, in the middle.
    EXPECT_EQ(firstFrame(first, {desk}, minimum), QRect(319, 124, 1282, 831));
    EXPECT_EQ(firstFrame(first, {withPanel}, minimum), QRect(319, 140, 1282, 831));
    // A smaller one: its whole work area; smaller than the minimum: the minimum from its corner.
    EXPECT_EQ(firstFrame(first, {laptop}, minimum), laptop);
    EXPECT_EQ(firstFrame(first, {QRect(0, 27, 1366, 741)}, minimum), QRect(0, 27, 1366, 741));
    EXPECT_EQ(firstFrame(first, {QRect(0, 0, 800, 600)}, minimum), QRect(QPoint(0, 0), minimum));
    EXPECT_EQ(firstFrame(first, {laptop, desk.translated(1366, 0)}, minimum), laptop);  // the primary screen's

    // A kept frame that lies on the screens stays, across two side by side too.
    const QRect right = desk.translated(1366, 0);
    EXPECT_EQ(keptFrame(QRect(100, 50, 1100, 700), {laptop}, minimum), QRect(100, 50, 1100, 700));
    EXPECT_EQ(keptFrame(QRect(1000, 50, 1100, 700), {laptop, right}, minimum), QRect(1000, 50, 1100, 700));
    // Kept on the right monitor, which is gone: back on the laptop, shrunk to its work area.
    EXPECT_EQ(keptFrame(QRect(1500, 100, 1800, 1000), {laptop}, minimum), laptop);
    EXPECT_EQ(keptFrame(QRect(2500, 100, 1100, 700), {laptop}, minimum), QRect(266, 68, 1100, 700));
    // Partly off the bottom right: moved in, its size kept.
    EXPECT_EQ(keptFrame(QRect(1000, 500, 1100, 700), {laptop}, minimum), QRect(266, 68, 1100, 700));
    // Off to the left and above: to the corner of the work area.
    EXPECT_EQ(keptFrame(QRect(-300, -20, 1100, 700), {withPanel}, minimum), QRect(0, 32, 1100, 700));
    // Mostly on the second screen: moved onto that one.
    EXPECT_EQ(keptFrame(QRect(2900, 900, 1100, 700), {laptop, right}, minimum), QRect(2186, 380, 1100, 700));
    // Never below the minimum.
    EXPECT_EQ(keptFrame(QRect(50, 50, 1000, 760), {QRect(0, 0, 800, 600)}, minimum), QRect(QPoint(0, 0), minimum));
    EXPECT_EQ(keptFrame(QRect(50, 50, 1000, 760), {}, minimum), QRect(50, 50, 1000, 760));
}

TEST(Shell, AQuitSignalWritesTheUnsavedWorkToTheRecoveryCopyWithoutAQuestion) {
    // The copy is on disk before the work under way is waited for; with one of the store's
    // questions waiting, that work still finishes before the program ends past the question.
    // The sound server answers no stop: a take's three streams (input, monitor, the project
    // played under it) are left to stop by themselves within two seconds together, and playback
    // stops only after the copy.
    for (const int round : {0, 1, 2}) {
        const bool questionWaits = round == 1, playing = round == 2;
        StudioFixture fx;
        fx.delegate().connectStore(fx.store());
        fx.loadDemo();
        ASSERT_TRUE(fx.store().dirty());
        // A take under way is ended and placed first.
        fx.services.backend.setDevices({{1, "Null/Input", "Input", 2, 0, 48000.0}});
        fx.services.defaults.set(AudioDevices::kInputDeviceKey, std::string("Null/Input"));
        fx.services.defaults.set(RecordingPreferences::kMonitorKey, true);
        if (playing)
            fx.store().playPause();
        else
            fx.store().record();
        fx.settle();
        fx.services.backend.pump(4800);
        ASSERT_TRUE(playing ? fx.store().transport().playing() : fx.store().transport().overdubbing());
        ASSERT_EQ(fx.services.backend.openStreams(), playing ? 1 : 3);
        fx.services.backend.holdStops(true);
        std::vector<std::string> steps;
        std::vector<std::chrono::steady_clock::time_point> times;
        const auto step = [&](const char* name) {
            steps.push_back((std::filesystem::exists(*fx.store().recoveryURL()) ? "copy, " : "") + std::string(name) +
                            (fx.store().transport().playing() ? " playing" : ""));
            times.push_back(std::chrono::steady_clock::now());
        };
        fx.delegate().terminate = [&] { step("terminate"); };
        fx.delegate().finishWork = [&] { step("finish"); };
        fx.delegate().endNow = [&] { step("end"); };
        fx.delegate().workKept = [&] { step("kept"); };
        const auto signalled = std::chrono::steady_clock::now();
        fx.delegate().quitOnSignal(questionWaits);
        EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(4));
        const std::vector<std::string> expected =
            questionWaits ? std::vector<std::string>{"copy, kept", "copy, finish", "copy, end"}
                          : std::vector<std::string>{playing ? "copy, kept playing" : "copy, kept", "copy, terminate"};
        EXPECT_EQ(steps, expected);
        // Playback stops last, and the quit does not wait there for the output that does not stop
        // (the transport's end gives it 1.5 s): the program ends well within three seconds.
        if (playing && times.size() == 2) EXPECT_LT(times[1] - times[0], std::chrono::milliseconds(1000));
        EXPECT_EQ(fx.store().session().tracks.size(), playing ? 3u : 4u);
        EXPECT_TRUE(fx.services.prompts.alerts.empty());
        EXPECT_EQ(ProjectIO::encode(ProjectIO::load(*fx.store().recoveryURL())), ProjectIO::encode(fx.store().session()));
        fx.services.backend.holdStops(false);
        for (const auto until = signalled + std::chrono::seconds(60); fx.services.backend.openStreams() > 0;)
            ASSERT_LT(std::chrono::steady_clock::now(), until) << "a stream was never closed";
    }
}
