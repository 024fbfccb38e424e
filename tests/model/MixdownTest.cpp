#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <stdexcept>

#include "model/Automation.h"
#include "model/Limits.h"
#include "model/Localization.h"
#include "model/Session.h"
#include "model/StudioError.h"
#include "support/TestAudio.h"

using namespace tessoral;

namespace {

// These tests check the mixing rules on clips without racks: each clip sounds as it is.
const Session::ClipRenderer dry = [](const Track& t) { return t.audio; };

std::string failure(const Session& s, std::optional<TimeRange> range) {
    return test::errorMessage([&] { s.mixed(range, dry); });
}

Track clipOn(const Lane& lane, double start, AudioData audio) {
    Track t = Track::make("c", std::move(audio));
    t.start = start;
    t.laneID = lane.id;
    return t;
}

// A slow reference of the whole mix rule, frame by frame in double precision.
AudioData referenceMix(const Session& s, double start, std::int64_t frames) {
    std::vector<float> L(frames, 0.0f), R(frames, 0.0f);
    const bool solo = s.soloActive();
    const auto automatic = s.automaticFades();
    const std::int64_t rangeStart = std::llround(start * 48000);
    for (Track clip : s.tracks) {
        if (!s.isAudible(clip, solo)) continue;
        if (auto it = automatic.find(clip.id); it != automatic.end()) {
            if (clip.fadeIn < it->second.fadeIn) clip.fadeIn = it->second.fadeIn, clip.fadeInCurve = FadeCurve::logarithmic;
            if (clip.fadeOut < it->second.fadeOut) clip.fadeOut = it->second.fadeOut, clip.fadeOutCurve = FadeCurve::logarithmic;
        }
        const Lane* lane = s.lane(clip);
        const double g = std::pow(10.0, (s.masterDB + (lane ? lane->gainDB : 0) + clip.gainDB) / 20);
        const auto [fi, fo] = clip.fadeFrames();
        const std::int64_t n = clip.frames();
        const std::int64_t offset = std::llround(clip.start * 48000) - rangeStart;
        for (std::int64_t f = 0; f < n; ++f) {
            const std::int64_t o = f + offset;
            if (o < 0 || o >= frames) continue;
            const double t = f / 48000.0;
            double gain = g;
            if (auto v = Automation::value(clip.volumeEnvelope, t)) gain *= std::pow(10.0, *v / 20);
            if (f < fi) gain *= fadeGain(clip.fadeInCurve, double(f) / fi);
            if (f >= n - fo) gain *= fadeGain(clip.fadeOutCurve, double(n - 1 - f) / fo);
            const double p = clip.panEnvelope.empty() ? clip.pan : *Automation::value(clip.panEnvelope, t);
            const double q = lane ? lane->pan : 0.0;
            const double gl = gain * std::min(1 - p, 1.0) * std::min(1 - q, 1.0);
            const double gr = gain * std::min(1 + p, 1.0) * std::min(1 + q, 1.0);
            L[o] += static_cast<float>(gl * clip.audio.left[f]);
            R[o] += static_cast<float>(gr * clip.audio.right[f]);
        }
    }
    return AudioData(std::move(L), std::move(R));
}

void expectNear(const AudioData& a, const AudioData& b, double tolerance) {
    ASSERT_EQ(a.frames(), b.frames());
    double worst = 0;
    for (std::int64_t i = 0; i < a.frames(); ++i) {
        worst = std::max(worst, double(std::fabs(a.left[i] - b.left[i])));
        worst = std::max(worst, double(std::fabs(a.right[i] - b.right[i])));
    }
    EXPECT_LE(worst, tolerance);
}

}  // namespace

TEST(Mixdown, NothingToMix) {
    const std::string none = L("Нет звука для воспроизведения.");
    Session s;
    EXPECT_EQ(failure(s, std::nullopt), none);
    EXPECT_EQ(failure(s, TimeRange{0, 10}), none);
    s.appendOnNewLane(test::clip("a", 48000 * 3));
    EXPECT_EQ(failure(s, TimeRange{10, 5}), none);
    EXPECT_EQ(failure(s, TimeRange{3, 8}), none);
    EXPECT_EQ(failure(s, TimeRange{std::nan(""), 2}), none);
    EXPECT_EQ(s.mixed(TimeRange{0, 600}, dry).frames(), 144000);
}

TEST(Mixdown, LongerThanEightMinutesIsRefused) {
    Session s;
    s.appendOnNewLane(test::clip("a", 10, 0.0));
    s.appendOnNewLane(test::clip("b", 10, 481.0));
    EXPECT_EQ(failure(s, std::nullopt), L("Длина проекта ограничена 8 минутами."));
    EXPECT_EQ(s.mixed(TimeRange{1, 2}, dry).frames(), 48000);
}

TEST(Mixdown, UnityClipIsCopiedExactly) {
    Session s;
    const AudioData audio = test::noise(10000, 0.9f, 5);
    s.appendOnNewLane(Track::make("a", audio));
    EXPECT_EQ(s.mixed(std::nullopt, dry), audio);
    s.masterDB = -6;
    const auto g = static_cast<float>(std::pow(10.0, -6.0 / 20));
    const AudioData quieter = s.mixed(std::nullopt, dry);
    EXPECT_EQ(quieter.left[123], g * audio.left[123]);
    EXPECT_EQ(quieter.right[123], g * audio.right[123]);
    // A range inside the clip: the mix is the range's length.
    const AudioData part = s.mixed(TimeRange{0.0, 0.1}, dry);
    ASSERT_EQ(part.frames(), 4800);
    EXPECT_EQ(part.right[4799], g * audio.right[4799]);
    // From inside the clip, with a renderer handing over samples of its own (moved down in place).
    const Session::ClipRenderer own = [](const Track& t) { return AudioData(t.audio.left.toVector(), t.audio.right.toVector()); };
    const AudioData late = s.mixed(TimeRange{0.1, 1.0}, own);
    ASSERT_TRUE(late.frames() == 5200 && late.right.size() == 5200u);
    EXPECT_EQ(late.left[0], g * audio.left[4800]);
    EXPECT_EQ(late.right[5199], g * audio.right[9999]);
    EXPECT_EQ(s.mixed(TimeRange{0.05, 0.1}, own).left[2399], g * audio.left[4799]);
    // The mix is a copy: the clip's own samples stay as they were.
    EXPECT_EQ(s.tracks[0].audio, AudioData(audio.left.toVector(), audio.right.toVector()));
    // A negative zero sums onto silence to a positive one, whether the clip covers the whole mix
    // or starts after its beginning.
    const std::vector<float> zeros(100, -0.0f);
    for (const double start : {0.0, 0.001}) {
        Session z;
        z.appendOnNewLane(Track::make("z", AudioData(zeros, zeros)));
        z.tracks[0].start = start;
        const AudioData m = z.mixed(std::nullopt, dry);
        EXPECT_FALSE(std::signbit(m.left[99])) << start;
        EXPECT_FALSE(std::signbit(m.right[99])) << start;
        const AudioData inside = z.mixed(TimeRange{start + 0.001, 1.0}, own);
        EXPECT_FALSE(std::signbit(inside.left[51]) || std::signbit(inside.right[0])) << start;
    }
}

TEST(Mixdown, PanLawAndRowPan) {
    Session s;
    Track t = Track::make("a", test::constant(100, 1.0f));
    t.pan = 1.0;
    s.appendOnNewLane(t);
    auto frame50 = [&] {
        const AudioData m = s.mixed(std::nullopt, dry);
        return std::pair(m.left[50], m.right[50]);
    };
    EXPECT_EQ(frame50(), std::pair(0.0f, 1.0f));
    s.tracks[0].pan = 0.5;
    s.lanes[0].pan = -0.5;
    EXPECT_EQ(frame50(), std::pair(0.5f, 0.5f));
    s.tracks[0].panEnvelope = {{0, 0}};  // replaces the clip's pan; the row pan still applies
    EXPECT_EQ(frame50(), std::pair(1.0f, 0.5f));
}

TEST(Mixdown, MuteSoloAndNoClipping) {
    Session s;
    s.lanes = {Lane{}, Lane{}};
    s.tracks = {clipOn(s.lanes[0], 0, test::constant(100, 0.75f)), clipOn(s.lanes[1], 0, test::constant(100, 0.75f))};
    EXPECT_FLOAT_EQ(s.mixed(std::nullopt, dry).left[0], 1.5f);  // kept above full scale
    s.lanes[1].solo = true;
    EXPECT_FLOAT_EQ(s.mixed(std::nullopt, dry).left[0], 0.75f);
    s.tracks[1].muted = true;
    EXPECT_FLOAT_EQ(s.mixed(std::nullopt, dry).left[0], 0.0f);
    s.tracks.push_back(Track::make("r", test::constant(100, 0.25f)));  // no row
    EXPECT_FLOAT_EQ(s.mixed(std::nullopt, dry).left[0], 0.0f);
    s.tracks.back().solo = true;
    EXPECT_FLOAT_EQ(s.mixed(std::nullopt, dry).left[0], 0.25f);
    EXPECT_EQ(s.tracks[1].muted, true);  // the project is not changed by mixing
}

TEST(Mixdown, MatchesSlowReferenceWithFadesEnvelopesAndCrossfades) {
    Session s;
    const Lane row{.name = "row", .gainDB = -3, .pan = 0.25}, other{.name = "other", .pan = -0.7};
    s.lanes = {row, other};
    s.masterDB = 1.5;
    Track x = clipOn(row, 0.0, test::noise(48000 * 2, 0.5f, 1));
    x.fadeIn = 0.3, x.fadeInCurve = FadeCurve::cosine;
    x.volumeEnvelope = {{0.1, 0}, {0.5, -12}, {0.5, -3}, {1.7, 6}};
    Track y = clipOn(row, 1.25, test::noise(48000 * 2, 0.5f, 2));
    y.panEnvelope = {{0, -1}, {2, 1}};
    y.fadeOut = 3.0;  // longer than the clip: fadeFrames keeps it inside
    Track z = clipOn(other, 0.5, test::noise(20000, 0.5f, 3));
    z.gainDB = -20, z.pan = -0.3;
    s.tracks = {x, y, z};
    ASSERT_EQ(s.automaticFades().at(x.id).fadeOut, 0.75);
    expectNear(s.mixed(std::nullopt, dry), referenceMix(s, 0, 48000 * 3 + 12000), 2e-6);
    // A range starting inside a clip keeps the clip-relative fades and envelopes.
    expectNear(s.mixed(TimeRange{0.2, 2.5}, dry), referenceMix(s, 0.2, 48000 * 23 / 10), 2e-6);
}

TEST(Mixdown, RendererIsAppliedToOverlappingClipsOnly) {
    Session s;
    s.appendOnNewLane(test::clip("a", 48000, 0));
    s.appendOnNewLane(test::clip("b", 48000, 5));
    int calls = 0;
    const AudioData m = s.mixed(TimeRange{0, 2}, [&](const Track& t) {
        ++calls;
        return test::constant(t.frames(), 0.5f);
    });
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(m.left[0], 0.5f);
    // A clip as long as the range but starting inside it is not the whole output.
    const AudioData late = s.mixed(TimeRange{4.5, 5.5}, [](const Track& t) { return test::constant(t.frames(), 0.5f); });
    EXPECT_EQ(late.left[23999], 0.0f);
    EXPECT_EQ(late.right[24000], 0.5f);
    EXPECT_THROW(s.mixed(std::nullopt, [](const Track&) { return AudioData(); }), StudioError);
    // An empty renderer is a programming error, not a dry mix.
    EXPECT_THROW(s.mixed(std::nullopt, Session::ClipRenderer()), std::invalid_argument);
}

TEST(Mixdown, FadeGainIsAppliedAsSinglePrecisionFactor) {
    // The fade shape is computed in double precision and multiplied into the 32-bit gain as a float.
    Session s;
    Track t = Track::make("f", test::constant(4800, 1.0f));
    t.gainDB = -3.0;
    t.fadeIn = 0.05, t.fadeInCurve = FadeCurve::logarithmic;
    s.appendOnNewLane(t);
    const AudioData m = s.mixed(std::nullopt, dry);
    const auto g = static_cast<float>(std::pow(10.0, -3.0 / 20.0));
    for (std::int64_t f = 0; f < 2400; ++f) {
        const float expected = g * static_cast<float>(std::sin(double(f) / 2400 * std::numbers::pi / 2));
        ASSERT_EQ(m.left[f], expected) << f;
        ASSERT_EQ(m.right[f], expected) << f;
    }
}

// The plan names the clips a mix renders, in order, each as the renderer gets it (automatic
// fades in place); mixing the plan is the mix.
TEST(Mixdown, PlanListsTheRenderedClipsInOrder) {
    Session s;
    const Lane row{.name = "row"}, other{.name = "other"};
    s.lanes = {row, other};
    Track a = clipOn(row, 0.0, test::noise(48000, 0.5f, 1));
    Track b = clipOn(row, 0.75, test::noise(48000, 0.5f, 2));  // crossfades with a
    Track muted = clipOn(other, 0.0, test::noise(48000, 0.5f, 3));
    muted.muted = true;
    Track late = clipOn(other, 3.0, test::noise(48000, 0.5f, 4));
    s.tracks = {b, muted, late, a};
    const auto plan = s.mixPlan(TimeRange{0.5, 2.0});
    EXPECT_EQ(plan.frames, 72000);
    ASSERT_EQ(plan.parts.size(), 2u);
    EXPECT_EQ(plan.parts[0].clip.id, b.id);
    EXPECT_EQ(plan.parts[1].clip.id, a.id);
    EXPECT_EQ(plan.parts[1].clip.fadeOut, s.automaticFades().at(a.id).fadeOut);
    EXPECT_EQ(plan.parts[1].clip.fadeOutCurve, FadeCurve::logarithmic);
    EXPECT_EQ(plan.parts[1].first, 24000);
    EXPECT_EQ(plan.parts[1].offset, -24000);
    std::vector<Uuid> asked;
    const AudioData m = s.mixed(plan, [&](const Track& t) {
        asked.push_back(t.id);
        return t.audio;
    });
    EXPECT_EQ(asked, (std::vector<Uuid>{b.id, a.id}));
    EXPECT_EQ(m, s.mixed(TimeRange{0.5, 2.0}, dry));
    EXPECT_EQ(test::errorMessage([&] { s.mixPlan(TimeRange{9.0, 10.0}); }), L("Нет звука для воспроизведения."));
}
