// Autosave and crash recovery with virtual time, tasks run by hand and a temporary data folder.

#include <QDateTime>
#include <QLocale>

#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <future>
#include <thread>

#include "StoreTestSupport.h"
#include "model/AtomicFile.h"
#include "model/ProjectIO.h"
#include "model/RecoveryInfo.h"
#include "support/TestTools.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

class StoreAutosave : public StoreTest {
protected:
    std::filesystem::path copyFile() const { return *store->recoveryURL(); }
    std::filesystem::path metaFile() const { return *store->recoveryMetaURL(); }
    bool copyExists() const { return std::filesystem::exists(copyFile()); }
    bool metaExists() const { return std::filesystem::exists(metaFile()); }

    // One autosave period, then whatever it started.
    void tick() {
        fx.scheduler.advanceBy(60);
        fx.tasks.runAll();
    }

    // A recovery copy on disk whose metadata names `project`.
    void writeCopy(const std::optional<std::filesystem::path>& project) {
        edit("Импорт аудио");
        edit("Ещё");
        store->setProjectURL(project);
        tick();
        ASSERT_TRUE(copyExists());
    }
};

// A spin's end: a failure (not a hang) two minutes from now.
std::chrono::steady_clock::time_point spinLimit() { return std::chrono::steady_clock::now() + std::chrono::minutes(2); }

// Waits until the thread `tid` of this process sleeps in a lock (a futex wait).
void waitUntilBlocked(pid_t tid) {
    const std::string file = "/proc/self/task/" + std::to_string(tid) + "/syscall";
    const std::string futex = std::to_string(SYS_futex) + " ";
    const auto limit = spinLimit();
    for (std::string line; line.rfind(futex, 0) != 0; std::this_thread::yield()) {
        if (std::chrono::steady_clock::now() > limit) return ADD_FAILURE() << "the quit never waited";
        std::ifstream in(file);
        std::getline(in, line);
    }
}

double unixNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

TEST_F(StoreAutosave, WritesACopyThatLoadsBackAndMetadataThatPlistlibReads) {
    edit("Импорт аудио");
    store->setProjectURL(fx.home.path() / "Интервью.tessoral");
    fx.scheduler.advanceBy(59.9);
    EXPECT_EQ(fx.tasks.pending(), 0u);
    fx.scheduler.advanceBy(0.1);
    ASSERT_EQ(fx.tasks.pending(), 1u);
    EXPECT_EQ(fx.tasks.nextPriority(), TaskPriority::utility);
    EXPECT_TRUE(store->autosaveInFlight());
    fx.tasks.runAll();
    EXPECT_FALSE(store->autosaveInFlight());

    ASSERT_TRUE(copyExists());
    EXPECT_EQ(ProjectIO::encode(ProjectIO::load(copyFile())), ProjectIO::encode(store->session()));

    const std::string out = commandOutput(
        "python3 -c \"import plistlib,sys,datetime; d=plistlib.load(open(sys.argv[1],'rb')); "
        "print(d['date'].replace(tzinfo=datetime.timezone.utc).timestamp()); print(d['path'])\" '" +
        metaFile().string() + "'");
    const auto newline = out.find('\n');
    ASSERT_NE(newline, std::string::npos) << out;
    EXPECT_NEAR(std::stod(out.substr(0, newline)), unixNow(), 120.0);
    EXPECT_EQ(out.substr(newline + 1), (fx.home.path() / "Интервью.tessoral").string() + "\n");

    // Nothing changed since: the next tick writes nothing; a change writes again.
    std::filesystem::remove(copyFile());
    tick();
    EXPECT_FALSE(copyExists());
    edit("Ещё");
    tick();
    EXPECT_TRUE(copyExists());
}

TEST_F(StoreAutosave, WritesNothingWhenOffEmptyBusyOrRecording) {
    // A dirty project without clips.
    store->checkpoint("Пусто");
    tick();
    EXPECT_FALSE(copyExists());

    edit("Правка");
    fx.defaults.set("project.autosave", false);
    tick();
    EXPECT_FALSE(copyExists());
    fx.defaults.set("project.autosave", std::string("false"));  // as the settings file gives it back
    tick();
    EXPECT_FALSE(copyExists());
    fx.defaults.remove("project.autosave");

    store->setBusy(true);
    tick();
    EXPECT_FALSE(copyExists());
    store->setBusy(false);

    startRecording(0.0);
    for (int second = 0; second < 60; second += 2) {  // the input goes on calling all the while
        fx.backend.pump(16);
        fx.scheduler.advanceBy(2);
    }
    fx.tasks.runAll();
    EXPECT_TRUE(store->transport().recording());
    EXPECT_FALSE(copyExists());
    store->transport().stopRecording();

    // Playback alone does not stop it.
    store->playPause();
    fx.tasks.runAll();
    ASSERT_TRUE(store->transport().playing());
    tick();
    EXPECT_TRUE(copyExists());
}

TEST_F(StoreAutosave, ATickDuringAWriteDoesNothing) {
    edit();
    fx.scheduler.advanceBy(60);
    edit("Ещё");
    fx.scheduler.advanceBy(60);
    EXPECT_EQ(fx.tasks.pending(), 1u);
    fx.tasks.runAll();
    // The copy reflects the first change; the second is written at the next tick.
    EXPECT_EQ(ProjectIO::load(copyFile()).tracks.size(), 1u);
    tick();
    EXPECT_EQ(ProjectIO::load(copyFile()).tracks.size(), 2u);
}

TEST_F(StoreAutosave, ClearingDuringAWriteLeavesNoFiles) {
    edit();
    fx.scheduler.advanceBy(60);
    ASSERT_TRUE(store->autosaveInFlight());
    store->clearRecovery();
    fx.tasks.runAll();
    EXPECT_FALSE(copyExists());
    EXPECT_FALSE(metaExists());
    EXPECT_FALSE(store->autosaveInFlight());
    // The counter that clearRecovery set stands: no new write without a new change.
    fx.scheduler.advanceBy(60);
    EXPECT_EQ(fx.tasks.pending(), 0u);
}

TEST_F(StoreAutosave, RestoreBringsBackTheProjectItsFileAndADirtyState) {
    const auto project = fx.home.path() / "Interview.tessoral";
    writeCopy(project);
    const auto saved = ProjectIO::encode(store->session());
    restart();
    EXPECT_EQ(store->session().tracks.size(), 0u);

    fx.prompts.alertAnswers.push_back(0);
    ASSERT_TRUE(store->offerRecovery());
    ASSERT_EQ(fx.prompts.alerts.size(), 1u);
    const AlertRequest& alert = fx.prompts.alerts[0];
    EXPECT_EQ(alert.message, "Найдена автосохранённая копия проекта");
    EXPECT_EQ(alert.informative.rfind("Tessoral не был закрыт штатно. Копия от ", 0), 0u) << alert.informative;
    EXPECT_EQ(alert.buttons, (std::vector<std::string>{"Восстановить", "Удалить копию"}));

    EXPECT_EQ(ProjectIO::encode(store->session()), saved);
    EXPECT_EQ(store->projectURL(), project);
    EXPECT_EQ(store->title(), "Interview");
    EXPECT_TRUE(store->dirty());
    EXPECT_TRUE(store->undoNames().empty());
    EXPECT_EQ(store->selectedID(), store->session().tracks[0].id);
    EXPECT_EQ(store->selectedLaneID(), store->session().tracks[0].laneID);
    EXPECT_EQ(store->status(), "Проект восстановлен из автосохранения");
    // The files stay until the project is saved or discarded; no write without a new change.
    EXPECT_TRUE(copyExists());
    fx.scheduler.advanceBy(60);
    EXPECT_EQ(fx.tasks.pending(), 0u);
}

TEST_F(StoreAutosave, WithoutMetadataTheTextHasNoDateAndTheProjectNoFile) {
    writeCopy(std::nullopt);
    std::filesystem::remove(metaFile());
    restart();
    fx.prompts.alertAnswers.push_back(0);
    ASSERT_TRUE(store->offerRecovery());
    EXPECT_EQ(fx.prompts.alerts[0].informative, "Tessoral не был закрыт штатно. Восстановить её?");
    EXPECT_FALSE(store->projectURL());
    EXPECT_EQ(store->title(), "Новый проект");
}

TEST_F(StoreAutosave, DeclineDeletesBothFilesAndNothingIsOfferedAgain) {
    writeCopy(std::nullopt);
    restart();
    fx.prompts.alertAnswers.push_back(1);
    EXPECT_FALSE(store->offerRecovery());
    EXPECT_FALSE(copyExists());
    EXPECT_FALSE(metaExists());
    EXPECT_FALSE(store->offerRecovery());
    EXPECT_EQ(fx.prompts.alerts.size(), 1u);
}

TEST_F(StoreAutosave, ADamagedCopyIsReportedAndDeleted) {
    writeCopy(std::nullopt);
    std::ofstream(copyFile(), std::ios::binary | std::ios::trunc) << "bplist00 damaged";
    restart();
    fx.prompts.alertAnswers.push_back(0);
    EXPECT_FALSE(store->offerRecovery());
    ASSERT_TRUE(store->error());
    EXPECT_EQ(store->error()->rfind("Не удалось восстановить копию: ", 0), 0u) << *store->error();
    EXPECT_GT(store->error()->size(), std::string("Не удалось восстановить копию: ").size());
    EXPECT_FALSE(copyExists());
    EXPECT_FALSE(metaExists());
    EXPECT_TRUE(store->session().tracks.empty());
}

TEST_F(StoreAutosave, ACopyFromAnEarlierRunIsNeverOverwrittenBeforeItsQuestionIsAnswered) {
    writeCopy(std::nullopt);
    const auto crashed = readFile(copyFile());
    const auto crashedMeta = readFile(metaFile());
    // A killed write of the earlier run left its temporary: gone at this start.
    const auto stale = copyFile().parent_path() / ".Recovery.tessoral.0BADF00D.tmp";
    writeFile(stale, std::vector<std::uint8_t>(4096, 1));
    restart();
    EXPECT_FALSE(std::filesystem::exists(stale));
    // The new run edits before the copy was offered (files opened at the start): no write.
    edit("Импорт аудио");
    edit("Ещё");
    tick();
    tick();
    // A quit signal before the answer (the question may be what is on screen) keeps it too.
    EXPECT_FALSE(store->writeRecoveryBeforeQuit());
    EXPECT_EQ(readFile(copyFile()), crashed);
    EXPECT_EQ(readFile(metaFile()), crashedMeta);
    // Answered "Восстановить": from now on the copy is this run's and follows its changes.
    fx.prompts.alertAnswers.push_back(0);
    ASSERT_TRUE(store->offerRecovery());
    edit("После восстановления");
    tick();
    EXPECT_NE(readFile(copyFile()), crashed);
    EXPECT_EQ(ProjectIO::encode(ProjectIO::load(copyFile())), ProjectIO::encode(store->session()));
}

TEST_F(StoreAutosave, AQuitSignalWritesAtOnceWhatTheCopyLacksAndNothingElse) {
    // Nothing unsaved: no file.
    EXPECT_FALSE(store->writeRecoveryBeforeQuit());
    store->checkpoint("Пусто");  // dirty, but no clip
    EXPECT_FALSE(store->writeRecoveryBeforeQuit());
    EXPECT_FALSE(copyExists());

    // An edit seconds before the signal, long before the next tick: written at once, as autosave
    // writes it.
    const auto project = fx.home.path() / "Запись.tessoral";
    edit("Импорт аудио");
    store->setProjectURL(project);
    EXPECT_TRUE(store->writeRecoveryBeforeQuit());
    EXPECT_EQ(fx.tasks.pending(), 0u);
    EXPECT_EQ(ProjectIO::encode(ProjectIO::load(copyFile())), ProjectIO::encode(store->session()));
    const auto info = RecoveryInfo::read(metaFile());
    ASSERT_TRUE(info && info->date && info->path);
    EXPECT_EQ(*info->path, project);
    EXPECT_NEAR(info->date->unixSeconds(), unixNow(), 120.0);

    // The copy holds every change now: neither a second signal's write nor the next tick.
    std::filesystem::remove(copyFile());
    EXPECT_FALSE(store->writeRecoveryBeforeQuit());
    tick();
    EXPECT_FALSE(copyExists());

    // Autosave switched off, or a project with nothing unsaved: nothing.
    edit("Ещё");
    fx.defaults.set("project.autosave", false);
    EXPECT_FALSE(store->writeRecoveryBeforeQuit());
    fx.defaults.remove("project.autosave");
    store->setDirty(false);
    EXPECT_FALSE(store->writeRecoveryBeforeQuit());
    EXPECT_FALSE(copyExists());

    // A copy that cannot be written (a folder in its place, a file in its folder's): one line on
    // standard error says which and why.
    edit("Ещё раз");
    std::filesystem::create_directory(copyFile());
    for (const std::string reason : {"Is a directory", "Not a directory"}) {
        testing::internal::CaptureStderr();
        EXPECT_FALSE(store->writeRecoveryBeforeQuit());
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "tessoral: the recovery copy " + copyFile().string() + " could not be written: " + reason + "\n");
        std::filesystem::remove_all(copyFile().parent_path());
        writeFile(copyFile().parent_path(), std::vector<std::uint8_t>{});
    }
}

TEST_F(StoreAutosave, AQuitSettlesAnAutosaveWhoseResultNeverArrived) {
    // The workers were waited for, but the program ends before their results are delivered.
    edit();
    fx.scheduler.advanceBy(60);
    ASSERT_TRUE(fx.tasks.runNextWithoutResult());
    ASSERT_TRUE(copyExists());
    EXPECT_TRUE(store->autosaveInFlight());
    const auto written = readFile(copyFile());
    // That write holds every change: not written again.
    EXPECT_FALSE(store->writeRecoveryBeforeQuit());
    EXPECT_FALSE(store->autosaveInFlight());
    EXPECT_EQ(readFile(copyFile()), written);

    // Discarded (saved) while it was written: what it wrote goes.
    edit("Ещё");
    fx.scheduler.advanceBy(60);
    store->clearRecovery();
    ASSERT_TRUE(fx.tasks.runNextWithoutResult());
    ASSERT_TRUE(copyExists());
    EXPECT_FALSE(store->writeRecoveryBeforeQuit());
    EXPECT_FALSE(copyExists());
    EXPECT_FALSE(metaExists());

    // The signal comes while an autosave waits for a worker (with no edit after it, with one, or
    // with its copy discarded since and an edit): the quit writes the copy itself, and that copy
    // stays when the autosave runs.
    for (const int since : {0, 1, 2}) {
        edit("В очереди");
        fx.scheduler.advanceBy(60);
        ASSERT_EQ(fx.tasks.pending(), 1u);
        if (since == 2) store->clearRecovery();
        if (since > 0) edit("После");
        EXPECT_TRUE(store->writeRecoveryBeforeQuit()) << since;
        fx.tasks.runAll();
        ASSERT_TRUE(copyExists()) << since;
        EXPECT_EQ(ProjectIO::encode(ProjectIO::load(copyFile())), ProjectIO::encode(store->session())) << since;
    }

    // An autosave writing on a real worker, held inside its write by a write of the metadata under
    // way (its copy already on disk): the quit waits for it and finds every change written, or
    // writes the one made while the copy was being written.
    for (const bool editWhileWritten : {false, true}) {
        edit("На потоке");
        fx.scheduler.advanceBy(60);
        std::promise<void> held, release;
        std::thread holder([&] {
            AtomicFile::write(metaFile(), [&](ByteSink&) {
                held.set_value();
                release.get_future().wait();
            });
        });
        held.get_future().wait();
        std::filesystem::remove(copyFile());
        std::thread worker([&] { fx.tasks.runNextWithoutResult(); });
        for (const auto limit = spinLimit(); !copyExists() && std::chrono::steady_clock::now() < limit;) std::this_thread::yield();
        ASSERT_TRUE(copyExists());
        if (editWhileWritten) edit("Во время записи");
        // Released once the quit waits (on the autosave, or on the held file when it did not wait).
        std::thread releaser([&, quitting = static_cast<pid_t>(::gettid())] {
            waitUntilBlocked(quitting);
            release.set_value();
        });
        EXPECT_EQ(store->writeRecoveryBeforeQuit(), editWhileWritten);
        for (std::thread* t : {&releaser, &worker, &holder}) t->join();
        EXPECT_EQ(ProjectIO::encode(ProjectIO::load(copyFile())), ProjectIO::encode(store->session())) << editWhileWritten;
        EXPECT_TRUE(RecoveryInfo::read(metaFile()));
    }
}

TEST(StoreAutosaveOff, WithoutADataFolderNothingIsWrittenOrOffered) {
    StoreFixture fx;
    fx.dataFolder.reset();
    auto store = fx.make<StudioStore>();
    EXPECT_FALSE(store->recoveryURL());
    store->checkpoint("Правка");
    Session s;
    s.tracks.push_back(clip("A", 480));
    store->setSession(s);
    fx.scheduler.advanceBy(60);
    EXPECT_EQ(fx.tasks.pending(), 0u);
    EXPECT_FALSE(store->offerRecovery());
    store->clearRecovery();
    EXPECT_TRUE(fx.prompts.alerts.empty());
}

TEST_F(StoreAutosave, TheQuestionWritesTheDateInTheInterfaceLanguagesShortStyle) {
    writeCopy(std::nullopt);
    // A copy written at 09:01:13 local time on 7 December 2026.
    const QDateTime written(QDate(2026, 12, 7), QTime(9, 1, 13));
    RecoveryInfo info;
    info.date = PlistDate::fromUnix(double(written.toSecsSinceEpoch()));
    info.write(metaFile());

    const QLocale before;
    const std::pair<QLocale, std::string> styles[] = {
        {QLocale(QLocale::Russian, QLocale::Russia), "Копия от 07.12.2026 09:01. "},
        {QLocale(QLocale::English, QLocale::UnitedStates), "Копия от 12/7/26 9:01 AM. "},
    };
    for (const auto& [locale, expected] : styles) {
        QLocale::setDefault(locale);
        restart();
        fx.prompts.alertAnswers.push_back(1);
        store->offerRecovery();
        ASSERT_FALSE(fx.prompts.alerts.empty());
        const std::string text = fx.prompts.alerts.back().informative;
        EXPECT_NE(text.find(expected), std::string::npos) << text;
        EXPECT_EQ(text.find("Dec"), std::string::npos) << text;
        writeCopy(std::nullopt);
        info.write(metaFile());
    }
    QLocale::setDefault(before);
}
