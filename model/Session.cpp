#include "model/Session.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "model/Limits.h"
#include "model/Localization.h"
#include "model/StudioError.h"

namespace tessoral {

namespace {

// Row gains that a project file can hold; a gain outside it stays on the clip.
constexpr double kMinLaneGainDB = -60.0;
constexpr double kMaxLaneGainDB = 12.0;

// Sort key of a start time: a NaN sorts first instead of breaking the ordering.
double startKey(const Track& t) { return std::isnan(t.start) ? -HUGE_VAL : t.start; }

Lane laneFor(const Track& clip) {
    Lane lane;
    lane.name = clip.name;
    lane.color = clip.color;
    return lane;
}

// Clears the handles and renews the drawing caches and the revision after the audio was cut.
void finishCut(Track& part, AudioData audio) {
    part.headHandle.reset();
    part.tailHandle.reset();
    part.handleEnvelopes.reset();
    part.replaceAudio(std::move(audio));
}

}  // namespace

// ---- clips and project ----

double Session::duration() const {
    double end = 0.0;
    for (const auto& t : tracks) end = std::max(end, t.end());
    return end;
}

std::int64_t Session::bytes() const {
    std::int64_t total = 0;
    for (const auto& t : tracks) total += t.bytes();
    return total;
}

Track* Session::track(const Uuid& id) {
    for (auto& t : tracks)
        if (t.id == id) return &t;
    return nullptr;
}

const Track* Session::track(const Uuid& id) const {
    for (const auto& t : tracks)
        if (t.id == id) return &t;
    return nullptr;
}

std::optional<std::size_t> Session::trackIndex(const Uuid& id) const {
    for (std::size_t i = 0; i < tracks.size(); ++i)
        if (tracks[i].id == id) return i;
    return std::nullopt;
}

Session Session::isolated(const Uuid& clipID) const {
    Session out;
    if (const Track* source = track(clipID)) {
        Track clip = *source;
        clip.gainDB = 0.0;
        clip.pan = 0.0;
        clip.muted = false;
        clip.solo = false;
        clip.volumeEnvelope.clear();
        clip.panEnvelope.clear();
        out.tracks.push_back(std::move(clip));
        out.markers = markers;
    }
    return out;
}

// ---- track rows ----

bool Session::soloActive() const {
    for (const auto& l : lanes)
        if (l.solo) return true;
    for (const auto& t : tracks)
        if (t.solo && lane(t) == nullptr) return true;
    return false;
}

const Lane* Session::lane(const Track& clip) const {
    if (!clip.laneID) return nullptr;
    for (const auto& l : lanes)
        if (l.id == *clip.laneID) return &l;
    return nullptr;
}

Lane* Session::lane(const Uuid& laneID) {
    for (auto& l : lanes)
        if (l.id == laneID) return &l;
    return nullptr;
}

std::optional<std::size_t> Session::laneIndex(const std::optional<Uuid>& laneID) const {
    if (!laneID) return std::nullopt;
    for (std::size_t i = 0; i < lanes.size(); ++i)
        if (lanes[i].id == *laneID) return i;
    return std::nullopt;
}

bool Session::isAudible(const Track& clip, std::optional<bool> solo) const {
    if (clip.muted) return false;
    const Lane* row = lane(clip);
    if (row && row->muted) return false;
    if (solo.value_or(soloActive())) return row ? row->solo : clip.solo;
    return true;
}

std::vector<const Track*> Session::clipsInLane(const Uuid& laneID) const {
    std::vector<const Track*> out;
    for (const auto& t : tracks)
        if (t.laneID && *t.laneID == laneID) out.push_back(&t);
    std::stable_sort(out.begin(), out.end(), [](const Track* a, const Track* b) { return startKey(*a) < startKey(*b); });
    return out;
}

const Track* Session::clipNear(const Uuid& laneID, double t) const {
    const auto clips = clipsInLane(laneID);
    if (clips.empty()) return nullptr;
    for (auto it = clips.rbegin(); it != clips.rend(); ++it)
        if ((*it)->start <= t && t < (*it)->end()) return *it;
    return clips.front();
}

const Track* Session::clipOverlapping(const Uuid& laneID, TimeRange range) const {
    const Track* best = nullptr;
    double bestOverlap = 0.0;
    for (const Track* clip : clipsInLane(laneID)) {
        const double overlap = std::min(range.upper, clip->end()) - std::max(clip->start, range.lower);
        if (!(overlap > 0.0)) continue;
        if (!best || overlap >= bestOverlap) {
            best = clip;
            bestOverlap = overlap;
        }
    }
    return best;
}

bool Session::needsLaneNormalization() const {
    for (const auto& t : tracks)
        if (lane(t) == nullptr) return true;
    return false;
}

void Session::normalizeLanes() {
    for (auto& clip : tracks) {
        if (lane(clip) != nullptr) continue;
        Lane row = laneFor(clip);
        row.muted = clip.muted;
        row.solo = clip.solo;
        const bool keepsGain = clip.essentialSound && clip.essentialSound->matchLoudness;
        // A row can only hold a gain the project file accepts; otherwise the clip keeps it (same sound).
        const bool gainFitsRow = clip.gainDB >= kMinLaneGainDB && clip.gainDB <= kMaxLaneGainDB;
        if (!keepsGain && gainFitsRow) {
            row.gainDB = clip.gainDB;
            clip.gainDB = 0.0;
        }
        const bool keepsPan = !clip.panEnvelope.empty() ||
                              (clip.essentialSound && clip.essentialSound->type == SoundType::effects &&
                               clip.essentialSound->panorama.enabled);
        if (!keepsPan) {
            row.pan = clip.pan;
            clip.pan = 0.0;
        }
        clip.muted = false;
        clip.solo = false;
        clip.laneID = row.id;
        lanes.push_back(std::move(row));
    }
}

Uuid Session::appendOnNewLane(Track clip, std::optional<std::int64_t> index) {
    Lane row = laneFor(clip);
    const auto count = static_cast<std::int64_t>(lanes.size());
    const std::int64_t at = index ? clampTo<std::int64_t>(*index, 0, count) : count;
    clip.laneID = row.id;
    lanes.insert(lanes.begin() + at, std::move(row));
    const Uuid id = clip.id;
    tracks.push_back(std::move(clip));
    return id;
}

std::optional<Uuid> Session::splitClip(const Uuid& clipID, std::int64_t atFrame) {
    if (tracks.size() >= static_cast<std::size_t>(limits::kMaxClips)) return std::nullopt;
    const auto index = trackIndex(clipID);
    if (!index) return std::nullopt;
    Track& left = tracks[*index];
    const std::int64_t total = left.frames();
    if (atFrame < 1 || atFrame >= total) return std::nullopt;

    Track right = left;
    right.id = Uuid::random();
    right.name += " \u00B7 2";
    right.start = left.start + framesToSeconds(atFrame);
    right.cropAutomation({atFrame, total}, total);
    finishCut(right, left.audio.slice({atFrame, total}));

    left.cropAutomation({0, atFrame}, total);
    finishCut(left, left.audio.slice({0, atFrame}));

    const Uuid rightID = right.id;
    tracks.insert(tracks.begin() + static_cast<std::ptrdiff_t>(*index) + 1, std::move(right));
    return rightID;
}

std::optional<Uuid> Session::duplicateClip(const Uuid& clipID) {
    if (tracks.size() >= static_cast<std::size_t>(limits::kMaxClips)) return std::nullopt;
    const auto index = trackIndex(clipID);
    if (!index) return std::nullopt;
    const Track& source = tracks[*index];
    if (bytes() + source.bytes() > limits::kMaxBytes) return std::nullopt;

    Track copy = source;
    copy.id = Uuid::random();
    copy.name = L("{0} · копия", source.name);
    copy.start = std::max(0.0, std::min(limits::kMaxSeconds - source.duration(), source.end()));
    const Uuid copyID = copy.id;
    tracks.insert(tracks.begin() + static_cast<std::ptrdiff_t>(*index) + 1, std::move(copy));
    return copyID;
}

std::optional<Uuid> Session::duplicateLane(const Uuid& laneID) {
    const auto index = laneIndex(laneID);
    if (!index) return std::nullopt;
    if (lanes.size() >= static_cast<std::size_t>(limits::kMaxLanes)) return std::nullopt;
    std::vector<std::size_t> members;
    std::int64_t addedBytes = 0;
    for (std::size_t i = 0; i < tracks.size(); ++i)
        if (tracks[i].laneID && *tracks[i].laneID == laneID) {
            members.push_back(i);
            addedBytes += tracks[i].bytes();
        }
    if (tracks.size() + members.size() > static_cast<std::size_t>(limits::kMaxClips)) return std::nullopt;
    if (bytes() + addedBytes > limits::kMaxBytes) return std::nullopt;

    Lane row = lanes[*index];
    row.id = Uuid::random();
    row.name = L("{0} · копия", row.name);
    // Remainder with the sign of the dividend, computed without overflow.
    row.color = (row.color % limits::kPaletteSize + 1) % limits::kPaletteSize;
    for (std::size_t i : members) {
        Track copy = tracks[i];
        copy.id = Uuid::random();
        copy.laneID = row.id;
        copy.color = row.color;
        tracks.push_back(std::move(copy));
    }
    const Uuid rowID = row.id;
    lanes.insert(lanes.begin() + static_cast<std::ptrdiff_t>(*index) + 1, std::move(row));
    return rowID;
}

Uuid Session::pasteClip(AudioData audio, std::string name, std::optional<Uuid> laneID, double at) {
    if (!std::isfinite(at) || at < 0) at = 0.0;
    const std::int64_t frames = audio.frames();
    if (frames == 0) throw StudioError(L("Буфер обмена пуст."));
    if (at + framesToSeconds(frames) > limits::kMaxSeconds) throw StudioError(L("Длина проекта ограничена 8 минутами."));
    if (bytes() + frames * 8 > limits::kMaxBytes) throw StudioError(L("Недостаточно памяти проекта."));
    if (tracks.size() >= static_cast<std::size_t>(limits::kMaxClips))
        throw StudioError(L("В проекте может быть до {0} клипов.", limits::kMaxClips));
    const Lane* target = nullptr;
    if (laneID) {
        target = lane(*laneID);
        if (!target) throw StudioError(L("Дорожка удалена.#lane"));
    } else if (lanes.size() >= static_cast<std::size_t>(limits::kMaxLanes)) {
        throw StudioError(L("Можно добавить до {0} дорожек.", limits::kMaxLanes));
    }

    Track clip = Track::make(std::move(name), std::move(audio));
    clip.start = at;
    clip.color = target ? target->color : static_cast<std::int64_t>(lanes.size() % limits::kPaletteSize);
    if (target) {
        clip.laneID = target->id;
        const Uuid id = clip.id;
        tracks.push_back(std::move(clip));
        return id;
    }
    return appendOnNewLane(std::move(clip));
}

bool Session::moveLane(const Uuid& laneID, std::int64_t to) {
    const auto from = laneIndex(laneID);
    if (!from) return false;
    const auto target =
        static_cast<std::size_t>(clampTo<std::int64_t>(to, 0, static_cast<std::int64_t>(lanes.size()) - 1));
    if (target == *from) return false;
    Lane row = std::move(lanes[*from]);
    lanes.erase(lanes.begin() + static_cast<std::ptrdiff_t>(*from));
    lanes.insert(lanes.begin() + static_cast<std::ptrdiff_t>(target), std::move(row));
    return true;
}

Session Session::isolatedLane(const Uuid& laneID) const {
    Session out;
    out.markers = markers;
    const auto index = laneIndex(laneID);
    if (!index) return out;
    Lane row = lanes[*index];
    row.gainDB = 0.0;
    row.pan = 0.0;
    row.muted = false;
    row.solo = false;
    out.lanes.push_back(std::move(row));
    for (const auto& t : tracks)
        if (t.laneID && *t.laneID == laneID) out.tracks.push_back(t);
    out.autoCrossfade = autoCrossfade;
    return out;
}

// ---- row layout ----

namespace LaneLayout {

std::vector<Placement> placements(const Session& project) {
    std::unordered_map<Uuid, std::size_t> rows;
    rows.reserve(project.lanes.size());
    for (std::size_t i = 0; i < project.lanes.size(); ++i) rows.emplace(project.lanes[i].id, i);
    struct Entry {
        Placement placement;
        std::size_t order;
    };
    std::vector<Entry> kept;
    kept.reserve(project.tracks.size());
    for (std::size_t i = 0; i < project.tracks.size(); ++i) {
        const Track& clip = project.tracks[i];
        if (!clip.laneID) continue;
        auto it = rows.find(*clip.laneID);
        if (it == rows.end()) continue;
        kept.push_back({{&clip, it->second}, i});
    }
    std::sort(kept.begin(), kept.end(), [](const Entry& a, const Entry& b) {
        const double sa = startKey(*a.placement.clip), sb = startKey(*b.placement.clip);
        if (sa != sb) return sa < sb;
        return a.order < b.order;
    });
    std::vector<Placement> out;
    out.reserve(kept.size());
    for (const auto& e : kept) out.push_back(e.placement);
    return out;
}

std::int64_t laneOffset(double dy, double rowHeight) {
    if (!std::isfinite(dy) || !(rowHeight > 0)) return 0;
    // Saturates instead of overflowing for absurd distances.
    return roundSaturating(dy / rowHeight);
}

}  // namespace LaneLayout
}  // namespace tessoral
