// Autosave and crash recovery: a copy of an unsaved project written once a minute into the data
// folder, offered back at the next start.

#include <QDateTime>
#include <QLocale>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>

#include "model/AppPaths.h"
#include "model/StandardError.h"
#include "model/AtomicFile.h"
#include "model/Bplist.h"
#include "model/Localization.h"
#include "model/ProjectIO.h"
#include "model/RecoveryInfo.h"
#include "store/StudioStore.h"

namespace tessoral {

namespace {

constexpr const char* kAutosaveKey = "project.autosave";

void removeQuietly(const std::optional<std::filesystem::path>& file) {
    if (!file) return;
    std::error_code ignored;
    std::filesystem::remove(*file, ignored);
}

// The date in the interface language's short date and short time (the default locale follows the
// interface language).
std::string shortDateTime(const PlistDate& date) {
    const double ms = date.unixSeconds() * 1000.0;
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(ms)).toLocalTime();
    const QLocale locale;
    return (locale.toString(when.date(), QLocale::ShortFormat) + QStringLiteral(" ") +
            locale.toString(when.time(), QLocale::ShortFormat))
        .toStdString();
}

// The recovery copy and its metadata, written from copies of the project and its file's path;
// false at the first failure, whose reason goes to `failure` when given: the system's own words in
// English for a refused file-system call (read in a journal, whatever the interface language).
bool writeRecovery(const Session& copy, const std::optional<std::filesystem::path>& projectURL,
                   const std::filesystem::path& copyURL, const std::filesystem::path& metaURL,
                   std::string* failure = nullptr, const std::vector<Uuid>& owed = {}) {
    try {
        AppPaths::createFolders(copyURL.parent_path(), copyURL);
        ProjectIO::save(copy, copyURL);
        RecoveryInfo info;
        info.date = PlistDate::now();
        if (projectURL) info.path = *projectURL;
        for (const Uuid& id : owed)
            if (copy.track(id)) info.essentialAnalysis.push_back(id);
        info.write(metaURL);
        return true;
    } catch (const FileWriteError& error) {
        const char* words = ::strerrordesc_np(error.code());
        if (failure) *failure = words ? words : error.message();
        return false;
    } catch (const std::exception& error) {
        if (failure) *failure = error.what();
        return false;
    } catch (...) {
        if (failure) *failure = "unknown failure";
        return false;
    }
}

// One line on standard error, which the desktop session's journal keeps: a quit signal leaves
// nobody to read an alert. Plain bytes, as no formatting of the C library follows the locale here.
void tellJournal(const std::string& line) { StandardError::write(line); }

}  // namespace

// One autosave's write. The writer holds `turn` from its check to its last byte; a quit that
// writes the copy itself takes the turn and marks the write superseded, so a write that has not
// begun never begins, and one under way ends before the newer copy is written over it.
struct StudioStore::AutosaveWrite {
    std::int64_t counter = 0;
    Uuid generation;
    std::atomic<bool> succeeded{false};
    std::mutex turn;
    bool superseded = false;  // under `turn`
};

std::optional<std::filesystem::path> StudioStore::recoveryURL() const {
    if (!services_.dataFolder) return std::nullopt;
    return *services_.dataFolder / "Recovery.tessoral";
}

std::optional<std::filesystem::path> StudioStore::recoveryMetaURL() const {
    if (!services_.dataFolder) return std::nullopt;
    return *services_.dataFolder / "Recovery.plist";
}

void StudioStore::autosave() {
    // Off only when the setting is present and reads false.
    if (defaults().value(kAutosaveKey) && !boolSetting(kAutosaveKey).value_or(false)) return;
    const auto copyURL = recoveryURL();
    const auto metaURL = recoveryMetaURL();
    if (!copyURL || !metaURL) return;
    if (!dirty_ || locked() || session_.tracks.empty() || editCounter_ == autosavedCounter_ || autosaveInFlight_)
        return;
    if (!recoveryAnswered_) {
        // A copy an earlier run left waits for its question; without one the copy is this run's.
        std::error_code ec;
        if (std::filesystem::exists(*copyURL, ec) || ec) return;
        recoveryAnswered_ = true;
    }

    autosaveInFlight_ = true;
    const std::int64_t counter = editCounter_;
    const Uuid generation = recoveryGeneration_;
    auto write = std::make_shared<AutosaveWrite>();
    write->counter = counter;
    write->generation = generation;
    autosaveWrite_ = write;
    // The copy shares its samples with the live project; the writer touches nothing of the store.
    // A failure is silent: the next tick tries again.
    std::function<bool()> writer = [copy = session_, projectURL = projectURL_, copyURL = *copyURL,
                                    metaURL = *metaURL, write]() {
        const std::lock_guard turn(write->turn);
        if (write->superseded) return false;
        const bool written = writeRecovery(copy, projectURL, copyURL, metaURL);
        write->succeeded = written;
        return written;
    };
    services_.tasks->run(this, TaskPriority::utility, std::move(writer),
                         [this, counter, generation, write](TaskResult<bool> result) {
                             // A quit has already settled this write.
                             if (autosaveWrite_ != write) return;
                             if (recoveryGeneration_ != generation) {
                                 // The copy was discarded while it was being written.
                                 removeQuietly(recoveryURL());
                                 removeQuietly(recoveryMetaURL());
                             } else if (result.ok() && result.value()) {
                                 autosavedCounter_ = counter;
                             }
                             autosaveInFlight_ = false;
                             autosaveWrite_.reset();
                         });
}

bool StudioStore::writeRecoveryBeforeQuit() {
    // A change still being analysed is in the copy, and so is every one the panel holds for after it.
    settleEssentialAnalysis();
    // An autosave still queued never writes; one under way is waited for and, like one that
    // finished but whose result will never be delivered, settled as its result would have been.
    // Nothing older can then land on the copy written here.
    if (autosaveInFlight_ && autosaveWrite_) {
        const std::shared_ptr<AutosaveWrite> write = std::move(autosaveWrite_);
        autosaveInFlight_ = false;
        const std::lock_guard turn(write->turn);
        write->superseded = true;
        if (write->generation != recoveryGeneration_) {
            removeQuietly(recoveryURL());
            removeQuietly(recoveryMetaURL());
        } else if (write->succeeded) {
            autosavedCounter_ = write->counter;
        }
    }
    if (defaults().value(kAutosaveKey) && !boolSetting(kAutosaveKey).value_or(false)) return false;
    const auto copyURL = recoveryURL();
    const auto metaURL = recoveryMetaURL();
    if (!copyURL || !metaURL) return false;
    // Busy does not stop it: what the project holds now is all there will be (a take being
    // recorded was ended and placed by the quit first).
    if (!dirty_ || session_.tracks.empty() || editCounter_ == autosavedCounter_) return false;
    if (!recoveryAnswered_) {
        // A copy an earlier run left, still waiting for its question, is never overwritten.
        std::error_code ec;
        if (std::filesystem::exists(*copyURL, ec) || ec) return false;
        recoveryAnswered_ = true;
    }
    std::string failure;
    if (!writeRecovery(session_, projectURL_, *copyURL, *metaURL, &failure, essentialOwed_)) {
        tellJournal("tessoral: the recovery copy " + copyURL->native() + " could not be written: " + failure + "\n");
        return false;
    }
    autosavedCounter_ = editCounter_;
    return true;
}

void StudioStore::clearRecovery() {
    recoveryAnswered_ = true;
    recoveryGeneration_ = Uuid::random();
    removeQuietly(recoveryURL());
    removeQuietly(recoveryMetaURL());
    autosavedCounter_ = editCounter_;
}

bool StudioStore::offerRecovery() {
    const auto copyURL = recoveryURL();
    if (!copyURL) return false;
    std::error_code ec;
    if (!std::filesystem::exists(*copyURL, ec)) {
        recoveryAnswered_ = true;
        return false;
    }

    std::optional<RecoveryInfo> info;
    if (const auto metaURL = recoveryMetaURL()) info = RecoveryInfo::read(*metaURL);

    AlertRequest alert;
    alert.message = L("Найдена автосохранённая копия проекта");
    alert.informative = info && info->date
                            ? L("Tessoral не был закрыт штатно. Копия от {0}. Восстановить её?", shortDateTime(*info->date))
                            : L("Tessoral не был закрыт штатно. Восстановить её?");
    alert.buttons = {L("Восстановить"), L("Удалить копию")};
    alert.style = AlertRequest::Style::warning;
    const auto answer = services_.prompts->alert(alert);
    recoveryAnswered_ = true;
    if (answer != 0) {
        clearRecovery();
        return false;
    }

    Session restored;
    try {
        restored = ProjectIO::load(*copyURL);
    } catch (...) {
        setError(L("Не удалось восстановить копию: {0}", describe(std::current_exception())));
        clearRecovery();
        return false;
    }
    setSession(std::move(restored));
    if (info && info->path) setProjectURL(*info->path);
    setSelectedID(std::nullopt);
    setSelectedLaneID(std::nullopt);
    setSelectedID(session_.tracks.empty() ? std::nullopt : std::optional<Uuid>(session_.tracks.front().id));
    validateSelection();
    setDirty(true);
    clearHistory();
    setStatus(L("Проект восстановлен из автосохранения"));
    // The analysis a quit cut short, now over the clip's settings as the copy holds them.
    if (info) redoEssentialAnalysis(info->essentialAnalysis);
    return true;
}

}  // namespace tessoral
