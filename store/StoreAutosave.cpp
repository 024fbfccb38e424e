// Autosave and crash recovery: a copy of an unsaved project written once a minute into the data
// folder, offered back at the next start.

#include <QDateTime>
#include <QLocale>

#include <system_error>

#include "model/AppPaths.h"
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

}  // namespace

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
    // The copy shares its samples with the live project; the writer touches nothing of the store.
    std::function<bool()> writer = [copy = session_, projectURL = projectURL_, copyURL = *copyURL,
                                    metaURL = *metaURL]() {
        try {
            AppPaths::createFolders(copyURL.parent_path(), copyURL);
            ProjectIO::save(copy, copyURL);
            RecoveryInfo info;
            info.date = PlistDate::now();
            if (projectURL) info.path = *projectURL;
            info.write(metaURL);
            return true;
        } catch (...) {
            return false;  // silent: the next tick tries again
        }
    };
    services_.tasks->run(this, TaskPriority::utility, std::move(writer),
                         [this, counter, generation](TaskResult<bool> result) {
                             if (recoveryGeneration_ != generation) {
                                 // The copy was discarded while it was being written.
                                 removeQuietly(recoveryURL());
                                 removeQuietly(recoveryMetaURL());
                             } else if (result.ok() && result.value()) {
                                 autosavedCounter_ = counter;
                             }
                             autosaveInFlight_ = false;
                         });
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
    return true;
}

}  // namespace tessoral
