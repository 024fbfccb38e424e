// Document commands: new, open, import, save, export and the demo project.

#include <QPointer>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "model/Limits.h"
#include "model/Localization.h"
#include "model/ProjectIO.h"
#include "model/StudioError.h"
#include "model/UnicodeText.h"
#include "processing/AudioIO.h"
#include "processing/ExportPipeline.h"
#include "processing/Loudness.h"
#include "processing/RackRenderer.h"
#include "store/StudioStore.h"

namespace tessoral {

namespace {

constexpr const char* kProjectExtension = "tessoral";

// What the open chooser offers: the project type and the audio files the decoder reads.
const std::vector<std::string>& openableExtensions() {
    static const std::vector<std::string> extensions{
        kProjectExtension, "wav", "wave", "aif", "aiff", "aifc", "flac", "mp3", "m4a", "mp4", "aac", "caf",
        "ogg", "oga", "opus", "wma", "ape", "wv", "w64", "mka", "webm", "au", "snd", "ac3", "mp2"};
    return extensions;
}

std::string lowered(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool isProjectFile(const std::filesystem::path& url) {
    return lowered(url.extension().string()) == std::string(".") + kProjectExtension;
}

// The empty project of new, the isolated sessions and the demo.
Session emptySession() { return Session{}; }

// Samples of one demo clip, computed in double precision and stored as 32-bit floats.
constexpr std::int64_t kDemoFrames = 576'000;  // 12 s

Track demoMelody() {
    static constexpr double notes[8] = {261.63, 329.63, 392.0, 523.25, 440.0, 392.0, 329.63, 293.66};
    std::vector<float> left(kDemoFrames), right(kDemoFrames);
    for (std::int64_t n = 0; n < kDemoFrames; ++n) {
        const double t = static_cast<double>(n) / kSampleRate;
        const double phase = std::fmod(t, 0.375);
        const auto index = static_cast<std::int64_t>(std::floor(t / 0.375)) % 8;
        const double f = notes[index];
        const double envelope = std::exp(-9.0 * phase) * std::min(phase / 0.008, 1.0);
        const double value = envelope * 0.18 *
                             (std::sin(2.0 * std::numbers::pi * f * t) + 0.2 * std::sin(4.0 * std::numbers::pi * f * t));
        left[n] = static_cast<float>(value);
        right[n] = left[n] * 0.88f;  // exactly 0.88 × left in single precision
    }
    return Track::make(L("Мелодия"), AudioData(std::move(left), std::move(right)));
}

Track demoBass() {
    std::vector<float> samples(kDemoFrames);
    for (std::int64_t n = 0; n < kDemoFrames; ++n) {
        const double t = static_cast<double>(n) / kSampleRate;
        const bool even = static_cast<std::int64_t>(std::floor(t / 1.5)) % 2 == 0;
        const double omega = 2.0 * std::numbers::pi * (even ? 65.406 : 87.307);
        const double value = std::sin(omega * t) * 0.17 * std::min(4.0 * t, 1.0) * std::min(4.0 * (12.0 - t), 1.0);
        samples[n] = static_cast<float>(value);
    }
    return Track::make(L("Бас"), AudioData(samples, samples));
}

Track demoRhythm() {
    std::vector<float> samples(kDemoFrames);
    for (std::int64_t n = 0; n < kDemoFrames; ++n) {
        const double t = static_cast<double>(n) / kSampleRate;
        const double p = std::fmod(t, 0.75);
        const double value =
            std::exp(-18.0 * p) * std::sin(2.0 * std::numbers::pi * (55.0 * p + 10.0 * (1.0 - std::exp(-25.0 * p)))) * 0.3;
        samples[n] = static_cast<float>(value);
    }
    return Track::make(L("Ритм"), AudioData(samples, samples));
}

}  // namespace

// ---- the unsaved-changes question ----

bool StudioStore::allowDiscard() { return !locked() && askToDiscard(); }

bool StudioStore::allowQuit() { return !holdsQuit() && askToDiscard(); }

bool StudioStore::holdsQuit() const { return busy_ && !importing(); }

bool StudioStore::askToDiscard() {
    if (!dirty_) return true;
    AlertRequest alert;
    alert.message = L("Сохранить изменения в проекте?");
    alert.informative = title();
    alert.buttons = {L("Сохранить"), L("Отмена"), L("Не сохранять")};
    alert.style = AlertRequest::Style::warning;
    const auto answer = services_.prompts->alert(alert);
    // An import may still be reading (or have landed meanwhile): the project as it stands is saved.
    if (answer == 0) return writeProject(false);
    if (answer == 2) {
        clearRecovery();
        return true;
    }
    return false;
}

// ---- new, open, import ----

void StudioStore::newProject() {
    if (!allowDiscard()) return;
    stop();
    setSession(emptySession());
    setProjectURL(std::nullopt);
    setSelectedID(std::nullopt);
    setSelectedLaneID(std::nullopt);
    setSelection(std::nullopt);
    setCursor(0.0);
    setZoom(1.0);
    setDirty(false);
    clearHistory();
    setStatus(L("Новый проект"));
    clearRecovery();
}

void StudioStore::openPanel() {
    if (locked()) return;
    OpenRequest request;
    request.title = L("Открыть аудио или проект");
    request.filters = {FileFilter{L("Аудио и проекты"), openableExtensions()}};
    request.multiple = true;
    const auto chosen = services_.prompts->chooseFilesToOpen(request);
    if (!chosen.empty()) open(chosen);
}

void StudioStore::open(const std::vector<std::filesystem::path>& urls) {
    if (locked() || urls.empty()) return;
    const auto project = std::find_if(urls.begin(), urls.end(), isProjectFile);
    if (project == urls.end()) {
        importAudio(urls);
        return;
    }
    const std::filesystem::path url = *project;  // every other file of the call is ignored
    if (!allowDiscard()) return;
    stop();
    runLong<Session>(
        L("Открытие проекта…"),
        [url] {
            try {
                return ProjectIO::load(url);
            } catch (const PlatformError&) {
                throw;  // a read failure names the file itself
            } catch (const StudioError& refusal) {
                // A refused project is named as a refused import is.
                throw StudioError(L("Файл «{0}» не открыт: {1}", UnicodeText::wellFormed(url.filename().native()),
                                    refusal.message()));
            }
        },
        [this, url](Session&& loaded) {
            setSession(std::move(loaded));
            setProjectURL(url);
            setDirty(false);
            setSelectedID(std::nullopt);
            setSelectedLaneID(std::nullopt);
            setCursor(0.0);
            setSelectedID(session_.tracks.empty() ? std::nullopt : std::optional<Uuid>(session_.tracks.front().id));
            validateSelection();
            setSelection(std::nullopt);
            setZoom(1.0);
            clearHistory();
            setStatus(L("Проект открыт"));
            clearRecovery();
        },
        [this] { setStatus(L("Не удалось открыть проект")); });
}

void StudioStore::importAudio(const std::vector<std::filesystem::path>& urls) {
    stop();
    const std::int64_t budget = session_.bytes();
    const auto clips = static_cast<std::int64_t>(session_.tracks.size());
    const auto rows = static_cast<std::int64_t>(session_.lanes.size());
    const std::int64_t room = std::min<std::int64_t>(limits::kMaxClips - clips, limits::kMaxLanes - rows);
    // The clips, and how many samples of theirs were not numbers (silenced by the reader).
    struct Imported {
        std::vector<Track> clips;
        std::int64_t silenced = 0;
        std::vector<std::string> endedEarly;  // the files that end before the length they state
    };
    runLong<Imported>(
        L("Импорт аудио…"),
        [urls, budget, room, rows] {
            // Whichever limit binds, the message names the row limit.
            if (static_cast<std::int64_t>(urls.size()) > room)
                throw StudioError(L("Можно добавить до {0} дорожек.", limits::kMaxLanes));
            std::int64_t bytes = budget;
            Imported imported;
            std::vector<Track>& made = imported.clips;
            made.reserve(urls.size());
            for (std::size_t i = 0; i < urls.size(); ++i) {
                // With several files at once, the message says which one was refused.
                AudioData audio;
                try {
                    audio = AudioIO::read(urls[i]);
                    imported.silenced += AudioIO::lastSilencedSamples();
                    if (AudioIO::lastEndedEarly()) imported.endedEarly.push_back(UnicodeText::wellFormed(urls[i].filename().native()));
                } catch (...) {
                    throw StudioError(L("Файл «{0}» не импортирован: {1}",
                                        UnicodeText::wellFormed(urls[i].filename().native()),
                                        describe(std::current_exception())));
                }
                bytes += audio.frames() * 8;
                if (bytes > limits::kMaxBytes)
                    throw StudioError(
                        L("Превышен лимит проекта: 384 МБ декодированного звука. Используйте более короткие записи."));
                // A file name that is no UTF-8 names its clip readably.
                Track clip = Track::make(UnicodeText::wellFormed(urls[i].stem().native()), std::move(audio));
                clip.color = (rows + static_cast<std::int64_t>(i)) % limits::kPaletteSize;
                made.push_back(std::move(clip));
            }
            return imported;
        },
        [this](Imported&& imported) {
            std::vector<Track>& made = imported.clips;
            checkpoint(L("Импорт аудио"));
            const std::optional<Uuid> first = made.empty() ? std::nullopt : std::optional<Uuid>(made.front().id);
            for (Track& clip : made) {
                Session next = session_;
                next.appendOnNewLane(std::move(clip));
                setSession(std::move(next));
            }
            setSelectedID(first);
            setSelection(std::nullopt);
            std::string text = L("Добавлено дорожек: {0}", static_cast<std::int64_t>(made.size()));
            if (imported.silenced > 0) text += L(". Сэмплы, не являющиеся числами, заменены тишиной: {0}", imported.silenced);
            for (const std::string& name : imported.endedEarly) text += L(". Файл «{0}» обрывается раньше, чем указано в нём", name);
            setStatus(std::move(text));
        },
        [this] { setStatus(L("Импорт не выполнен")); }, TaskPriority::userRead);
}

void StudioStore::abandonImport() {
    if (!importDropped_) return;
    *importDropped_ = true;
    importDropped_.reset();
    setStatus(L("Импорт прерван"));
    setBusy(false);
}

// ---- save and export ----

bool StudioStore::saveProject(bool asNew) { return !locked() && writeProject(asNew); }

bool StudioStore::writeProject(bool asNew) {
    std::optional<std::filesystem::path> target = asNew ? std::nullopt : projectURL_;
    if (!target) {
        SaveRequest request;
        request.title = L("Сохранить проект");
        request.proposedName = title() + "." + kProjectExtension;
        request.extension = kProjectExtension;
        request.filterName = L("Проект Tessoral");
        target = services_.prompts->chooseSaveFile(request);
        if (!target) return false;
    }
    try {
        ProjectIO::save(session_, *target);
    } catch (...) {
        setError(describe(std::current_exception()));
        return false;
    }
    setProjectURL(*target);
    setDirty(false);
    setStatus(L("Проект сохранён"));
    services_.shell->noteRecentDocument(*target);
    clearRecovery();
    return true;
}

void StudioStore::exportMix() {
    if (locked() || session_.tracks.empty()) return;
    const ExportOptions options = exportOptions();
    const std::string extension(fileExtension(options.format));
    SaveRequest request;
    request.title = L("Экспорт микса");
    request.proposedName = title() + "." + extension;
    request.extension = extension;
    request.filterName = tessoral::title(options.format);
    const auto target = services_.prompts->chooseSaveFile(request);
    if (!target) return;

    Session source = exportSelectedTrack_ ? isolatedExportSession() : session_;
    const std::optional<TimeRange> range = exportSelection_ ? selection_ : std::nullopt;
    saveExportDefaults();
    setShowExport(false);
    const std::filesystem::path url = *target;
    runLong<ExportResult>(
        L("Экспорт…"),
        [source = std::move(source), range, url, options] {
            const AudioData mix = RackRenderer::mix(source, range);
            return ExportPipeline::exportMix(mix, url, options);
        },
        [this, url](ExportResult&& result) {
            std::string text = L("Экспорт готов: {0} · {1}", UnicodeText::wellFormed(url.filename().native()),
                                 Loudness::label(result.measurement.lufs, result.measurement.truePeak));
            if (result.clipped) text += L(". Пики выше 0 dB были обрезаны.");
            setStatus(std::move(text));
            revealFiles({url});
        },
        [this] { setStatus(L("Ошибка экспорта")); });
}

// ---- the desktop ----

void StudioStore::revealFiles(const std::vector<std::filesystem::path>& files) {
    if (files.empty()) return;
    const std::string failure =
        files.size() == 1 ? L("Не удалось показать файл в файловом менеджере: {0}", files.front().string())
                          : L("Не удалось показать файлы в файловом менеджере: {0}",
                              files.front().parent_path().string());
    // The failure may come later, and is said apart from the line it follows.
    QPointer<StudioStore> self(this);
    services_.shell->reveal(files, [self, shown = status_, failure] {
        if (!self) return;
        self->revealNote_ = self->services_.scheduler->singleShot(kRevealNoteSeconds, [self, shown, failure] {
            if (!self || self->revealFailureSaid_ || self->status_ != shown) return;
            self->revealFailureSaid_ = true;
            self->setStatus(failure);
        });
    });
}

bool StudioStore::openExternal(const std::string& url, const std::string& failure) {
    if (services_.shell->openURL(url)) return true;
    setStatus(failure);
    return false;
}

Session StudioStore::isolatedExportSession() const {
    if (editorMode_ == EditorMode::waveform && selectedID_) return session_.isolated(*selectedID_);
    if (selectedLaneID_) return session_.isolatedLane(*selectedLaneID_);
    Session empty = emptySession();
    empty.markers = session_.markers;
    return empty;
}

Session StudioStore::isolatedTrackSession() const {
    if (selectedID_) return session_.isolated(*selectedID_);
    return emptySession();
}

// ---- the demo project ----

std::vector<Track> StudioStore::demoClips() {
    std::vector<Track> clips{demoMelody(), demoBass(), demoRhythm()};
    for (std::size_t i = 0; i < clips.size(); ++i) clips[i].color = static_cast<std::int64_t>(i);
    return clips;
}

void StudioStore::loadDemo() {
    if (!allowDiscard()) return;
    stop();
    runLong<std::vector<Track>>(
        L("Подготовка демо…"), [] { return demoClips(); },
        [this](std::vector<Track>&& clips) {
            Session demo = emptySession();
            demo.tracks = std::move(clips);
            setSession(std::move(demo));  // the observer gives each clip its own row
            setSelectedID(session_.tracks.empty() ? std::nullopt : std::optional<Uuid>(session_.tracks.front().id));
            setSelectedLaneID(session_.lanes.empty() ? std::nullopt : std::optional<Uuid>(session_.lanes.front().id));
            setProjectURL(std::nullopt);
            setDirty(true);
            setSelection(std::nullopt);
            setCursor(0.0);
            setZoom(1.0);
            clearHistory();
            setStatus(L("Демо-проект"));
            ++editCounter_;  // autosave treats the demo as an unsaved change
        });
}

}  // namespace tessoral
