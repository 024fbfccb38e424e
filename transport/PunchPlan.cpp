#include "transport/PunchPlan.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "model/Limits.h"
#include "processing/RackRenderer.h"
#include "transport/PlaybackVoice.h"

namespace tessoral {

namespace {

using Frame = std::int64_t;

constexpr Frame kFrameMax = std::numeric_limits<Frame>::max();
constexpr Frame kFrameMin = std::numeric_limits<Frame>::min();

Frame addSaturating(Frame a, Frame b) {
    Frame out = 0;
    if (__builtin_add_overflow(a, b, &out)) return b > 0 ? kFrameMax : kFrameMin;
    return out;
}

Frame subSaturating(Frame a, Frame b) {
    Frame out = 0;
    if (__builtin_sub_overflow(a, b, &out)) return b < 0 ? kFrameMax : kFrameMin;
    return out;
}

// round(sampleRate × seconds), NaN as 0, saturating.
Frame framesAt(double sampleRate, double seconds) { return roundSaturating(sampleRate * seconds); }

bool usableRate(double sampleRate) { return std::isfinite(sampleRate) && sampleRate > 0.0; }

// Sets samples lo..<hi of one channel to zero (copying the storage first when it is shared).
void silence(SharedArray<float>& channel, Frame lo, Frame hi) {
    auto& samples = channel.mutableVector();
    std::fill(samples.begin() + lo, samples.begin() + hi, 0.0f);
}

// Adds the metronome's clicks to both channels of `buffer`, whose frame 0 sounds at `origin`,
// as playback places them.
void addClicks(AudioData& buffer, const BeatGrid& grid, double origin) {
    const Frame length = buffer.frames();
    const auto placements = MetronomeClicks::placements(grid, origin, length);
    if (placements.empty()) return;
    // The first write gives each channel its own array, also when both shared one.
    auto& left = buffer.left.mutableVector();
    auto& right = buffer.right.mutableVector();
    for (const ClickPlacement& click : placements) {
        const std::vector<float>& sound = click.accent ? MetronomeClicks::accentClick() : MetronomeClicks::normalClick();
        // A click that began before the buffer sounds its tail; nothing is written outside it.
        const Frame from = std::max<Frame>(-click.offset, 0);
        const Frame to = std::min<Frame>(length - click.offset, MetronomeClicks::kClickFrames);
        for (Frame i = from; i < to; ++i) {
            const auto at = static_cast<std::size_t>(click.offset + i);
            left[at] += sound[static_cast<std::size_t>(i)];
            right[at] += sound[static_cast<std::size_t>(i)];
        }
    }
}

}  // namespace

std::optional<std::int64_t> PunchPlan::captureEndFrame(std::int64_t latencyFrames, double sampleRate) const {
    if (!window) return std::nullopt;
    return addSaturating(framesAt(sampleRate, window->upper - origin), std::max<Frame>(latencyFrames, 0));
}

PunchPlan::Take PunchPlan::take(std::int64_t capturedFrames, std::int64_t latencyFrames, double sampleRate) const {
    const Frame captured = std::max<Frame>(capturedFrames, 0);
    const double safeOrigin = std::isnan(origin) ? 0.0 : origin;
    if (!usableRate(sampleRate)) return {{0, 0}, std::max(safeOrigin, 0.0)};

    const double w = window ? window->lower : origin;
    const Frame punchIn = addSaturating(framesAt(sampleRate, w - origin), latencyFrames);
    const Frame timelineZero = subSaturating(latencyFrames, framesAt(sampleRate, origin));
    const Frame first = std::max(punchIn, timelineZero);
    const Frame lower = first > 0 ? std::min(captured, first) : 0;
    const Frame end = window ? std::min(addSaturating(framesAt(sampleRate, window->upper - origin), latencyFrames),
                                        captured)
                             : captured;
    const double start = safeOrigin + static_cast<double>(subSaturating(lower, latencyFrames)) / sampleRate;
    return {{lower, std::max(end, lower)}, std::isfinite(start) ? std::max(start, 0.0) : 0.0};
}

bool punchOut(Session& session, TimeRange range, const std::optional<Uuid>& trackID) {
    if (!trackID) return false;
    const Track* clip = session.track(*trackID);
    if (!clip) return false;
    const Lane* row = session.lane(*clip);
    const std::optional<Uuid> laneID = row ? std::optional<Uuid>(row->id) : std::nullopt;

    bool changed = false;
    for (Track& t : session.tracks) {
        const bool inScope = t.id == *trackID || (laneID && t.laneID && *t.laneID == *laneID);
        if (!inScope) continue;
        const Frame frames = t.frames();
        const Frame lo = clampTo<Frame>(secondsToFrames(range.lower - t.start), 0, frames);
        const Frame hi = clampTo<Frame>(secondsToFrames(range.upper - t.start), lo, frames);
        if (hi <= lo) continue;
        silence(t.audio.left, lo, hi);
        // A mono clip's channels may share one array; it is silenced once already then.
        if (!t.audio.right.sharesStorageWith(t.audio.left)) silence(t.audio.right, lo, hi);
        t.headHandle.reset();
        t.tailHandle.reset();
        t.handleEnvelopes.reset();
        t.refreshDrawingCaches();
        t.revision = Uuid::random();
        changed = true;
    }
    return changed;
}

bool addPunchTake(Session& session, Track take, const std::optional<Uuid>& replacing) {
    const double end = take.start + static_cast<double>(take.frames()) / kSampleRate;
    const bool replaced = punchOut(session, {take.start, end}, replacing);
    take.punchTake = true;
    const Track* clip = replacing ? session.track(*replacing) : nullptr;
    const Lane* row = clip ? session.lane(*clip) : nullptr;
    if (row) {
        take.laneID = row->id;
        take.color = row->color;
        session.tracks.push_back(std::move(take));
    } else {
        session.appendOnNewLane(std::move(take));
    }
    return replaced;
}

bool hasAudibleMaterial(const Session& session, double from) {
    if (!(from < session.duration())) return false;
    for (const Track& t : session.tracks) {
        if (t.muted) continue;
        const Lane* row = session.lane(t);
        if (!row || !row->muted) return true;
    }
    return false;
}

std::optional<AudioData> recordingPlayback(const Session& session, const PunchPlan& plan, double length,
                                           bool includeProject, const std::optional<BeatGrid>& clicks) {
    AudioData buffer;
    if (includeProject && hasAudibleMaterial(session, plan.origin)) {
        Session copy = session;
        if (plan.window) punchOut(copy, *plan.window, plan.target);
        buffer = RackRenderer::mix(copy, TimeRange{plan.origin, session.duration()});
        if (!clicks) return buffer;
    } else if (!clicks) {
        return std::nullopt;
    }

    const double seconds = std::isnan(length) ? 0.0 : std::max(length, 0.0);
    const Frame wanted = std::min(secondsToFrames(seconds), limits::kMaxFrames);
    if (buffer.frames() < wanted) {
        std::vector<float> left = buffer.left.toVector();
        std::vector<float> right = buffer.right.toVector();
        left.resize(static_cast<std::size_t>(wanted), 0.0f);
        right.resize(static_cast<std::size_t>(wanted), 0.0f);
        buffer = AudioData(std::move(left), std::move(right));
    }
    if (buffer.frames() > 0) addClicks(buffer, *clicks, plan.origin);
    if (buffer.frames() < 1) return std::nullopt;
    return buffer;
}

}  // namespace tessoral
