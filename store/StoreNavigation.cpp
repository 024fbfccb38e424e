// Cursor, zoom and tempo navigation: the keyboard's cursor and selection moves, row stepping,
// horizontal and amplitude zoom, the time format, the metronome and the project's tempo.

#include <algorithm>
#include <array>
#include <cmath>

#include "model/EnumTraits.h"
#include "model/Localization.h"
#include "model/NumberFormat.h"
#include "store/StudioStore.h"

namespace tessoral {

namespace {

constexpr std::array<double, 5> kAmplitudeSteps{1.0, 2.0, 4.0, 8.0, 16.0};
constexpr double kMinZoom = 1.0;
constexpr double kMaxZoom = 32.0;

double clampedZoom(double z) { return std::isfinite(z) ? std::clamp(z, kMinZoom, kMaxZoom) : kMinZoom; }

}  // namespace

BeatGrid StudioStore::displayGrid() const {
    const double tempo = std::isfinite(session_.tempo) ? std::clamp(session_.tempo, 20.0, 300.0) : 120.0;
    return BeatGrid{tempo, std::clamp<std::int64_t>(session_.beatsPerBar, 1, 16)};
}

double StudioStore::rulerStep() const {
    return NavigationMath::rulerStep(timelineDuration(), viewport_.baseWidth * zoom_, timeFormat_, displayGrid(),
                                     kRulerSpacing);
}

std::string StudioStore::formatTime(double seconds) const {
    return TimeFormatter::format(seconds, timeFormat_, displayGrid());
}

std::string StudioStore::formatDuration(double seconds) const {
    return TimeFormatter::duration(seconds, timeFormat_, displayGrid());
}

void StudioStore::cycleTimeFormat() {
    const auto& cases = EnumTraits<TimeFormat>::cases;
    std::size_t i = 0;
    while (i < cases.size() && cases[i].first != timeFormat_) ++i;
    const TimeFormat next = cases[(i + 1) % cases.size()].first;
    setTimeFormat(next);
    setStatus(L("Формат времени: {0}", tessoral::title(next)));
}

void StudioStore::moveCursor(double to, bool extend) {
    if (locked() || session_.tracks.empty() || !std::isfinite(to)) return;
    const double t = std::clamp(to, 0.0, session_.duration());
    if (extend)
        setSelection(NavigationMath::extendSelection(selection_, playhead(), t));
    else
        setSelection(std::nullopt);
    if (transport_->playing())
        seek(t);  // restarts playback there and sets the cursor
    else
        setCursor(t);
}

void StudioStore::stepCursor(bool forward, bool fine, bool extend) {
    const double p = playhead();
    double target = p;
    if (fine) {
        target = forward ? p + 0.01 : p - 0.01;
    } else {
        const double s = rulerStep();
        if (s > 0.0 && std::isfinite(s)) {
            // A cursor on a line (or a hair before or after it) moves on to the next line.
            target = forward ? s * (std::floor(p / s + 1e-6) + 1.0) : s * (std::ceil(p / s - 1e-6) - 1.0);
            target = std::clamp(target, 0.0, session_.duration());
        }
    }
    moveCursor(target, extend);
}

void StudioStore::playFromCursor() {
    if (locked() || transport_->playing()) return;
    playPause();
}

void StudioStore::selectAdjacentTrack(std::int64_t offset) {
    if (locked() || session_.lanes.empty()) return;
    const auto count = static_cast<std::int64_t>(session_.lanes.size());
    std::int64_t current = 0;
    if (const auto index = session_.laneIndex(selectedLaneID_))
        current = static_cast<std::int64_t>(*index);
    else
        current = offset < 1 ? count : -1;
    const std::int64_t target = std::clamp(current + offset, std::int64_t{0}, count - 1);
    const Lane& lane = session_.lanes[static_cast<std::size_t>(target)];
    if (selectedLaneID_ == lane.id && selectedIndex()) return;

    const Uuid laneID = lane.id;
    const std::string name = lane.name;
    const Track* clip = session_.clipNear(laneID, playhead());
    setSelectedID(clip ? std::optional<Uuid>(clip->id) : std::nullopt);
    setSelectedLaneID(laneID);

    if (editorMode_ == EditorMode::waveform) {
        if (const auto index = selectedIndex()) {
            stop();
            setSelection(std::nullopt);
            const Track& selected = session_.tracks[*index];
            setCursor(std::clamp(cursor_, selected.start, std::max(selected.start, selected.end())));
        }
    }
    setStatus(L("Дорожка: {0}", name));
}

void StudioStore::setZoom(double zoom, std::optional<double> around, double at) {
    setZoom(clampedZoom(zoom));
    double time = around.value_or(playhead());
    if (std::isnan(time) || time < 0.0) time = 0.0;
    time = std::min(time, timelineDuration());
    const double fraction = std::isnan(at) ? 0.0 : std::clamp(at, 0.0, 1.0);
    setZoomFocus(ZoomFocus{time, fraction, Uuid::random()});
}

void StudioStore::zoomToSelection() {
    std::optional<TimeRange> span = selection_;
    if (!span) {
        const auto index = selectedIndex();
        if (!index) return;
        const Track& clip = session_.tracks[*index];
        span = TimeRange{clip.start, clip.end()};
    }
    if (!(span->lower < span->upper)) return;
    const double z = clampedZoom(timelineDuration() / (std::max(span->length(), 0.001) * 1.1));
    setZoom(z, (span->lower + span->upper) / 2.0, 0.5);
}

bool StudioStore::zoomWheel(double delta, bool precise) {
    if (!viewport_.pointerTime || !std::isfinite(delta) || delta == 0.0) return false;
    const double k = precise ? 0.01 : 0.08;
    setZoom(zoom_ * std::exp(delta * k), viewport_.pointerTime, viewport_.pointerFraction.value_or(0.5));
    return true;
}

void StudioStore::changeAmplitudeZoom(bool up) {
    std::size_t i = 0;
    while (i < kAmplitudeSteps.size() && kAmplitudeSteps[i] < amplitudeZoom_) ++i;
    if (i == kAmplitudeSteps.size()) i = 0;  // above the largest step (or not a number)
    const auto last = static_cast<std::int64_t>(kAmplitudeSteps.size()) - 1;
    const std::int64_t next = std::clamp(static_cast<std::int64_t>(i) + (up ? 1 : -1), std::int64_t{0}, last);
    setAmplitudeZoom(kAmplitudeSteps[static_cast<std::size_t>(next)]);
}

void StudioStore::toggleMetronome() {
    setMetronome(!metronome_);
    setStatus(metronome_ ? L("Метроном включён") : L("Метроном выключен"));
    // The running mix is rendered again with or without the clicks.
    if (transport_->playing()) seek(transport_->position());
}

void StudioStore::setTempo(double bpm, std::int64_t beatsPerBar) {
    if (locked() || !std::isfinite(bpm)) return;
    const double tempo = std::clamp(bpm, 20.0, 300.0);
    const std::int64_t meter = std::clamp<std::int64_t>(beatsPerBar, 1, 16);
    const BeatGrid current = displayGrid();
    if (tempo == current.tempo && meter == current.beatsPerBar) return;
    stop();
    checkpoint(L("Темп и размер"));
    Session changed = session_;
    changed.tempo = tempo;
    setSession(std::move(changed));
    changed = session_;
    changed.beatsPerBar = meter;
    setSession(std::move(changed));
    setStatus(L("Темп {0} BPM, размер {1}/4", num::fixed(tempo, 1), meter));
}

}  // namespace tessoral
