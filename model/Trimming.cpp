#include "model/Trimming.h"

#include <algorithm>
#include <cmath>

#include "model/Automation.h"
#include "model/Limits.h"
#include "model/Session.h"

namespace tessoral {

namespace {

constexpr std::int64_t kMinClipFrames = 480;  // 10 ms
constexpr double kTimeTolerance = 1e-9;

std::int64_t handleFrames(const std::optional<AudioData>& handle) { return handle ? handle->frames() : 0; }

// Concatenates two stereo blocks.
AudioData joined(const AudioData& a, const AudioData& b) {
    if (a.empty()) return b;
    if (b.empty()) return a;
    std::vector<float> l, r;
    l.reserve(static_cast<std::size_t>(a.frames() + b.frames()));
    r.reserve(l.capacity());
    l.insert(l.end(), a.left.begin(), a.left.end());
    l.insert(l.end(), b.left.begin(), b.left.end());
    r.insert(r.end(), a.right.begin(), a.right.end());
    r.insert(r.end(), b.right.begin(), b.right.end());
    return AudioData(std::move(l), std::move(r));
}

std::optional<AudioData> nonEmpty(AudioData a) {
    if (a.empty()) return std::nullopt;
    return a;
}

Envelope shifted(const Envelope& points, double by) {
    Envelope out = points;
    for (auto& p : out) p.time += by;
    return out;
}

}  // namespace

// ---- limits and spans ----

Track::TrimLimits Track::trimLimits(ClipEdge edge) const {
    const std::int64_t f = frames();
    const std::int64_t shrink = f >= kMinClipFrames ? f - kMinClipFrames : 0;
    std::int64_t grow = 0;
    if (edge == ClipEdge::start) {
        grow = std::min({limits::kMaxFrames - f, handleFrames(headHandle), secondsToFrames(start)});
    } else {
        const double room = std::floor((limits::kMaxSeconds - (framesToSeconds(f) + start)) * kSampleRate);
        grow = std::min({limits::kMaxFrames - f, handleFrames(tailHandle), truncSaturating(room)});
    }
    return {-std::max<std::int64_t>(0, grow), shrink};
}

TimeRange Track::trimmedSpan(ClipEdge edge, std::int64_t delta) const {
    const auto lim = trimLimits(edge);
    const std::int64_t d = clampTo(delta, lim.lower, lim.upper);
    const double newStart =
        edge == ClipEdge::start && d != 0 ? framesToSeconds(secondsToFrames(start) + d) : start;
    return {newStart, newStart + framesToSeconds(frames() - d)};
}

HandleEnvelopes Track::untrimmedEnvelopes() const {
    const double lo = framesToSeconds(handleFrames(headHandle));
    const TimeRange window{lo, lo + duration()};
    auto untrimmed = [&](const Envelope& clipEnvelope, const Envelope* stored) {
        if (!stored) return shifted(clipEnvelope, lo);
        if (Automation::cropped(*stored, window) == clipEnvelope) return *stored;
        return Automation::restored(clipEnvelope, *stored, window);
    };
    HandleEnvelopes out;
    out.volume = untrimmed(volumeEnvelope, handleEnvelopes ? &handleEnvelopes->volume : nullptr);
    out.pan = untrimmed(panEnvelope, handleEnvelopes ? &handleEnvelopes->pan : nullptr);
    return out;
}

std::int64_t Track::trim(ClipEdge edge, std::int64_t delta) {
    const auto lim = trimLimits(edge);
    const std::int64_t d = clampTo(delta, lim.lower, lim.upper);
    if (d == 0) return 0;
    const HandleEnvelopes untrimmed = untrimmedEnvelopes();
    const std::int64_t f = frames();

    if (edge == ClipEdge::start) {
        const AudioData head = headHandle.value_or(AudioData());
        if (d < 0) {
            const std::int64_t h = head.frames();
            audio = joined(head.slice({h + d, h}), audio);
            headHandle = nonEmpty(head.slice({0, h + d}));
        } else {
            headHandle = joined(head, audio.slice({0, d}));
            audio = audio.slice({d, f});
        }
        start = framesToSeconds(secondsToFrames(start) + d);
    } else {
        const AudioData tail = tailHandle.value_or(AudioData());
        if (d < 0) {
            const std::int64_t t = tail.frames();
            audio = joined(audio, tail.slice({0, -d}));
            tailHandle = nonEmpty(tail.slice({-d, t}));
        } else {
            tailHandle = joined(audio.slice({f - d, f}), tail);
            audio = audio.slice({0, f - d});
        }
    }
    refreshDrawingCaches();
    revision = Uuid::random();

    const double lo = framesToSeconds(handleFrames(headHandle));
    const TimeRange window{lo, lo + duration()};
    volumeEnvelope = Automation::cropped(untrimmed.volume, window);
    panEnvelope = Automation::cropped(untrimmed.pan, window);
    if (headHandle || tailHandle)
        handleEnvelopes = untrimmed;
    else
        handleEnvelopes.reset();

    const double length = duration();
    fadeIn = std::min(length, fadeIn);
    fadeOut = std::min(std::max(0.0, length - fadeIn), fadeOut);
    return d;
}

// ---- envelopes over the untrimmed material ----

namespace Automation {

Envelope restored(const Envelope& current, const Envelope& stored, TimeRange window) {
    if (current.empty()) return {};
    const double lo = window.lower, hi = window.upper;
    Envelope points;
    points.reserve(stored.size() + current.size() + 2);
    bool anyBefore = false;
    for (const auto& p : stored)
        if (p.time < lo) {
            points.push_back(p);
            anyBefore = true;
        }
    if (anyBefore) points.push_back({lo, current.front().value});
    for (const auto& p : current) points.push_back({p.time + lo, p.value});
    Envelope after;
    for (const auto& p : stored)
        if (p.time > hi) after.push_back(p);
    if (!after.empty()) {
        points.push_back({hi, value(current, hi - lo).value_or(current.back().value)});
        points.insert(points.end(), after.begin(), after.end());
    }

    // Duplicates: a point at (nearly) the previous point's time with the same value.
    Envelope deduped;
    deduped.reserve(points.size());
    for (const auto& p : points) {
        if (!deduped.empty() && std::fabs(p.time - deduped.back().time) <= kTimeTolerance &&
            p.value == deduped.back().value)
            continue;
        deduped.push_back(p);
    }

    // Joints at the window edges that lie on the straight line through their neighbours.
    std::size_t i = 1;
    while (deduped.size() >= 3 && i + 1 < deduped.size()) {
        const auto& a = deduped[i - 1];
        const auto& p = deduped[i];
        const auto& b = deduped[i + 1];
        const bool atEdge = std::fabs(p.time - lo) <= kTimeTolerance || std::fabs(p.time - hi) <= kTimeTolerance;
        const bool between = a.time < p.time && p.time < b.time;
        bool onLine = false;
        if (atEdge && between) {
            const double line = a.value + (p.time - a.time) / (b.time - a.time) * (b.value - a.value);
            onLine = std::fabs(p.value - line) < kTimeTolerance;
        }
        if (onLine)
            deduped.erase(deduped.begin() + static_cast<std::ptrdiff_t>(i));
        else
            ++i;
    }
    return deduped;
}

}  // namespace Automation

// ---- automatic crossfades ----

std::vector<Crossfade> Session::crossfades() const {
    std::vector<Crossfade> out;
    if (!autoCrossfade) return out;
    struct Entry {
        Uuid id;
        std::int64_t s;
        std::int64_t e;
    };
    std::unordered_map<Uuid, std::vector<Entry>> rows;
    for (const auto& t : tracks) {
        if (t.muted || t.punchTake || !t.laneID) continue;
        const std::int64_t s = secondsToFrames(t.start);
        rows[*t.laneID].push_back({t.id, s, s + t.frames()});
    }
    for (const auto& row : lanes) {
        auto it = rows.find(row.id);
        if (it == rows.end() || it->second.size() < 2) continue;
        auto& list = it->second;
        std::stable_sort(list.begin(), list.end(), [](const Entry& x, const Entry& y) { return x.s < y.s; });
        for (std::size_t i = 0; i < list.size(); ++i) {
            const Entry& a = list[i];
            for (std::size_t j = i + 1; j < list.size(); ++j) {
                const Entry& b = list[j];
                if (a.e <= b.s) break;
                if (a.s < b.s && a.e < b.e) out.push_back({row.id, a.id, b.id, {b.s, a.e}});
            }
        }
        // A row listed twice in `lanes` must not yield its crossfades twice.
        rows.erase(it);
    }
    return out;
}

std::unordered_map<Uuid, AutomaticFade> Session::automaticFades() const {
    std::unordered_map<Uuid, AutomaticFade> out;
    for (const auto& c : crossfades()) {
        const double d = framesToSeconds(c.frames.count());
        auto& outgoing = out[c.outgoing];
        outgoing.fadeOut = std::max(outgoing.fadeOut, d);
        auto& incoming = out[c.incoming];
        incoming.fadeIn = std::max(incoming.fadeIn, d);
    }
    return out;
}

}  // namespace tessoral
