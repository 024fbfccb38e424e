// Start-up routing, the recovery offer, "--demo", and the quit and close rules.
#include <QSettings>

#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "model/Localization.h"
#include "model/ProjectIO.h"

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

TEST(Shell, QuitWhileBusyIsRefusedSilently) {
    StudioFixture fx;
    fx.delegate().connectStore(fx.store());
    fx.loadDemo();
    fx.store().setBusy(true);
    fx.delegate().requestQuit();
    fx.window().close();
    EXPECT_TRUE(fx.services.prompts.alerts.empty());
    EXPECT_EQ(fx.terminations, 0);
    fx.store().setBusy(false);
}

TEST(Shell, WindowOpensAt1280x800FirstAndRestoresItsSavedSize) {
    QSettings(QStringLiteral("Tessoral"), QStringLiteral("Tessoral")).remove(QString::fromLatin1(MainWindow::kGeometryKey));
    {
        StudioFixture fx;
        fx.window().restoreWindowGeometry();
        EXPECT_EQ(fx.window().size(), QSize(1280, 800));
        fx.window().resize(1100, 700);
        fx.window().saveWindowGeometry();
    }
    StudioFixture fx;
    fx.window().restoreWindowGeometry();
    EXPECT_EQ(fx.window().size(), QSize(1100, 700));
    QSettings(QStringLiteral("Tessoral"), QStringLiteral("Tessoral")).remove(QString::fromLatin1(MainWindow::kGeometryKey));
}

TEST(Shell, AQuitSignalWritesTheUnsavedWorkToTheRecoveryCopyWithoutAQuestion) {
    StudioFixture fx;
    fx.delegate().connectStore(fx.store());
    fx.loadDemo();
    ASSERT_TRUE(fx.store().dirty());
    fx.delegate().quitWithoutAsking();
    EXPECT_EQ(fx.terminations, 1);
    EXPECT_TRUE(fx.services.prompts.alerts.empty());
    EXPECT_EQ(ProjectIO::encode(ProjectIO::load(*fx.store().recoveryURL())), ProjectIO::encode(fx.store().session()));
}
