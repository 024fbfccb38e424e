// Recording commands: the record button's count-in and start, and the placement of the take.
//
// A recording start runs as a small state machine on the main thread: before a count-in, an
// opening of the input on the task runner; one scheduler step per count-in second, then
// (when something is to be heard while recording) the overdub and click mix rendered through the
// task runner, then the transport's start. Every step checks the start's
// cancel token, the last time right before the transport starts; `stop()`, `cancelCountdown()`
// and the record button cancel by destroying the count-in handle, which sets the token.

#include <algorithm>
#include <cmath>
#include <exception>

#include "model/Limits.h"
#include "model/Localization.h"
#include "model/NumberFormat.h"
#include "model/RecordingPreferences.h"
#include "model/StudioError.h"
#include "store/StudioStore.h"
#include "transport/AudioRecorder.h"

namespace tessoral {

namespace {

// 48 kHz stereo Float32.
constexpr double kBytesPerSecond = 384000.0;
// Shortest selection that plans a punch recording.
constexpr double kShortestWindow = 0.05;

bool isCancellation(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const CancellationError&) {
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace

struct StudioStore::RecordingStart {
    RecordingPreferences prefs;
    Session session;
    PunchPlan plan;
    std::optional<BeatGrid> clicks;
    double free = 0.0;  // seconds of project room
    bool includeProject = false;
    bool cancelled = false;
    std::unique_ptr<SingleShot> step;  // the pending count-in second
};

namespace {

// The count-in handle kept in `countdownTask_`: destroying it cancels the start it belongs to.
class CountIn final : public SingleShot {
public:
    explicit CountIn(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
    ~CountIn() override { cancel_(); }

private:
    std::function<void()> cancel_;
};

}  // namespace

void StudioStore::record() {
    if (transport_->recording()) {
        transport_->stopRecording();  // the take arrives through finishRecording
        return;
    }
    if (cancelCountdown()) return;
    if (busy_ || recordingTask_) return;

    stop();
    const RecordingPreferences prefs = RecordingPreferences::load(defaults());

    // Where the take lands.
    PunchPlan plan;
    if (selection_ && std::isfinite(selection_->lower) && std::isfinite(selection_->upper) &&
        selection_->upper - selection_->lower >= kShortestWindow) {
        const double lo = std::max(selection_->lower, 0.0);
        const double hi = std::max(selection_->upper, lo);
        const double preRoll = std::isfinite(prefs.preRoll) ? prefs.preRoll : 0.0;
        plan.window = TimeRange{lo, hi};
        plan.origin = std::max(lo - preRoll, 0.0);
        if (const auto index = selectedIndex()) {
            plan.target = session_.tracks[*index].id;
        } else if (selectedLaneID_) {
            if (const Track* clip = session_.clipOverlapping(*selectedLaneID_, TimeRange{lo, hi})) plan.target = clip->id;
        }
    } else {
        plan.origin = std::isfinite(cursor_) && cursor_ > 0.0 ? cursor_ : 0.0;
    }

    // The project's limits.
    if (session_.tracks.size() >= static_cast<std::size_t>(limits::kMaxClips) ||
        (!plan.target && session_.lanes.size() > static_cast<std::size_t>(limits::kMaxLanes - 1))) {
        setError(L("Достигнут предел проекта: {0} дорожек и {1} клипов.", limits::kMaxLanes, limits::kMaxClips));
        return;
    }
    const double free = std::min(static_cast<double>(limits::kMaxBytes - session_.bytes()) / kBytesPerSecond,
                                 limits::kMaxSeconds - plan.origin);
    if (!(free > 1.0)) {
        setError(L("Недостаточно места в проекте для записи."));
        return;
    }
    if (plan.window && plan.origin + free < plan.window->upper) {
        setError(L("Выделение не помещается в оставшееся место проекта. Сократите диапазон записи."));
        return;
    }

    // No input device: say so now rather than after the count-in.
    AudioStreamRequest input;
    try {
        input = transport_->checkInput();
    } catch (...) {
        reportRecordingFailure(std::current_exception());
        return;
    }

    recordPlan_ = plan;
    recordingTask_ = true;
    setBusy(true);

    auto start = std::make_shared<RecordingStart>();
    start->prefs = prefs;
    start->session = session_;
    start->plan = plan;
    if (metronome_) {
        const double tempo = std::isfinite(session_.tempo) ? std::clamp(session_.tempo, 20.0, 300.0) : 120.0;
        start->clicks = BeatGrid{tempo, std::clamp<std::int64_t>(session_.beatsPerBar, 1, 16)};
    }
    start->free = free;
    countdownTask_ = std::make_unique<CountIn>([start] {
        start->cancelled = true;
        start->step.reset();
    });
    const int count = std::clamp(prefs.countdown, 0, 10);
    if (count < 1) {
        countIn(start, 0);
        return;
    }
    // Nor after the count-in when the input is listed but does not open (a sound server without
    // a source): it is opened and closed first, on a worker, as a sound server may keep an
    // opening waiting, which the status says meanwhile.
    setStatus(L("Проверка микрофона…"));
    services_.tasks->run(
        this, TaskPriority::userInitiated,
        [backend = services_.backend, input] { AudioRecorder::probeInput(*backend, input); },
        [this, start, count](TaskResult<void> result) {
            if (start->cancelled) return;
            if (!result.ok()) {
                reportRecordingFailure(result.error());
                endRecordingPreparation();
                return;
            }
            countIn(start, count);
        });
}

void StudioStore::countIn(const std::shared_ptr<RecordingStart>& start, int remaining) {
    if (start->cancelled) return;
    if (remaining < 1) {
        prepareRecordingMix(start);
        return;
    }
    setStatus(L("Запись через {0}…", remaining));
    start->step = services_.scheduler->singleShot(1.0, [this, weak = std::weak_ptr<RecordingStart>(start), remaining] {
        if (const auto next = weak.lock()) countIn(next, remaining - 1);
    });
}

void StudioStore::prepareRecordingMix(const std::shared_ptr<RecordingStart>& start) {
    if (start->cancelled) return;
    start->includeProject = start->prefs.playProject && hasAudibleMaterial(start->session, start->plan.origin);
    if (!start->includeProject && !start->clicks) {
        startCapture(start, std::nullopt);
        return;
    }
    setStatus(L("Подготовка микса для записи…"));
    services_.tasks->run(
        this, TaskPriority::userInitiated,
        [session = start->session, plan = start->plan, free = start->free, includeProject = start->includeProject,
         clicks = start->clicks] { return recordingPlayback(session, plan, free, includeProject, clicks); },
        [this, start](TaskResult<std::optional<AudioData>> result) {
            if (start->cancelled) return;  // the render is discarded; the canceller restored the state
            if (!result.ok()) {
                if (!isCancellation(result.error())) reportRecordingFailure(result.error());
                endRecordingPreparation();
                return;
            }
            startCapture(start, std::move(result.value()));
        });
}

void StudioStore::startCapture(const std::shared_ptr<RecordingStart>& start, std::optional<AudioData> playback) {
    if (start->cancelled) return;

    RecordingSetup setup;
    setup.plan = start->plan;
    setup.maximumFrames = truncSaturating(start->free * kSampleRate);
    const bool hasPlayback = playback.has_value() && playback->frames() > 0;
    if (hasPlayback) setup.playback = std::move(playback);
    if (start->prefs.monitorInput) setup.monitorLevel = start->prefs.monitorLevel;
    setup.manualLatencyMilliseconds = start->prefs.latencyMilliseconds;

    transport_->recordingFinished = [this](RecordedTake take) { finishRecording(std::move(take)); };
    try {
        if (start->cancelled) return;
        transport_->record(setup, [start] { return start->cancelled; });
    } catch (...) {
        const std::exception_ptr failure = std::current_exception();
        if (isCancellation(failure)) return;
        reportRecordingFailure(failure);
        endRecordingPreparation();
        return;
    }

    std::string status;
    if (start->plan.window)
        status = L("Панч-ин: {0} – {1}", timeLabel(start->plan.window->lower), timeLabel(start->plan.window->upper));
    else if (start->includeProject)
        status = L("Запись поверх проекта");
    else if (hasPlayback)
        status = L("Запись с метрономом");
    else
        status = L("Запись с микрофона");
    if (start->prefs.monitorInput && !transport_->monitoring()) status += L(" · мониторинг недоступен");
    setStatus(std::move(status));
    endRecordingPreparation();
}

void StudioStore::reportRecordingFailure(std::exception_ptr failure) {
    // The alert tells it, and the status line no longer speaks of a start under way.
    std::string reason = describe(std::move(failure));
    setStatus(reason);
    setError(std::move(reason));
}

void StudioStore::endRecordingPreparation() {
    countdownTask_.reset();
    recordingTask_ = false;  // before busy's signal, so views read the start as over
    setBusy(false);
}

bool StudioStore::cancelCountdown() {
    if (!countdownTask_) return false;
    countdownTask_.reset();
    recordingTask_ = false;  // before busy's signal, so views read the start as over
    setBusy(false);
    setStatus(L("Запись отменена"));
    return true;
}

void StudioStore::finishRecording(RecordedTake take) {
    const std::int64_t latency = RecordingLatency::frames(transport_->recordingLatency(), kSampleRate);
    const PunchPlan::Take placed = recordPlan_.take(take.audio.frames(), latency, kSampleRate);
    if (placed.frames.empty()) {
        setError(L("Запись не попала в выделенный диапазон. Начните запись заново и дождитесь конца выделения."));
        return;
    }

    // The capture runs up to a second past the project's room: keep only what the project holds,
    // so that it (and its recovery copy) still loads.
    const std::int64_t byteRoom = std::max<std::int64_t>(limits::kMaxBytes - session_.bytes(), 0) / 8;
    std::int64_t timeRoom = std::max<std::int64_t>(truncSaturating((limits::kMaxSeconds - placed.start) * kSampleRate), 0);
    while (timeRoom > 0 && placed.start + framesToSeconds(timeRoom) > limits::kMaxSeconds) --timeRoom;
    const std::int64_t kept = std::min({placed.frames.count(), byteRoom, timeRoom});
    if (kept < 1) {
        setError(L("Запись не поместилась в лимит памяти проекта."));
        return;
    }
    const bool cut = kept < placed.frames.count();
    const FrameRange range{placed.frames.lower, placed.frames.lower + kept};
    AudioData audio = range.lower == 0 && range.upper == take.audio.frames() ? std::move(take.audio)
                                                                             : take.audio.slice(range);

    const bool punch = recordPlan_.window.has_value();
    checkpoint(punch ? L("Панч-ин") : L("Запись"));

    Session changed = session_;
    const std::size_t count = changed.tracks.size();
    Track clip = Track::make(L("Запись {0}", count + 1), std::move(audio));
    clip.start = placed.start;
    clip.color = static_cast<std::int64_t>(count % limits::kPaletteSize);
    const Uuid id = clip.id;
    const double length = clip.duration();
    bool replaced = false;
    if (punch)
        replaced = addPunchTake(changed, std::move(clip), recordPlan_.target);
    else
        changed.appendOnNewLane(std::move(clip));
    setSession(std::move(changed));

    setSelectedID(id);
    setCursor(placed.start);
    if (!punch) setSelection(std::nullopt);

    std::string status = replaced ? L("Панч-ин: заменено {0}", timeLabel(length)) : L("Запись добавлена: {0}", timeLabel(length));
    if (cut) status += L(" · запись обрезана по лимиту проекта");
    if (take.lostFrames > 0) {
        const double lost = std::max(framesToSeconds(take.lostFrames), 0.01);
        status += L(" · потеряно {0} с входного сигнала", num::fixed(lost, 2));
    }
    if (take.serverLost)
        status += L(" · звуковой сервер перестал отвечать: запись остановлена, в дубле первые {0}", timeLabel(length));
    if (take.deviceGaps)
        status += L(" · звуковое устройство сообщило о сбое: запись может не совпадать по времени");
    setStatus(std::move(status));
}

}  // namespace tessoral
