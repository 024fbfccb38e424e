// Click repair on speech-like material whose clicks and crackles went through the import's
// conversion from 44.1 kHz: the repair takes the ringing away with the click, leaves the speech
// elsewhere as the old one-frame repair did, and its status counts what it repaired.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>
#include <string>
#include <numbers>
#include <vector>

#include "ClipTestSupport.h"
#include "processing/AudioIO.h"
#include "processing/Diagnostics.h"
#include "support/SpeechLike.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

constexpr double kSourceRate = 44100.0;
constexpr std::int64_t kNear = 240;  // ±5 ms at 48 kHz
constexpr std::int64_t kAway = 480;  // ±10 ms

// The mono material written as a 44.1 kHz float WAV and read back through the import decoder.
AudioData imported(const std::vector<float>& mono, const std::filesystem::path& path) {
    ExportPipeline::write(AudioData(mono, mono), kSourceRate, path, ExportFormat::wav32f);
    return AudioIO::read(path);
}

double sumSquares(std::span<const float> a, std::span<const float> b, std::int64_t lo, std::int64_t hi) {
    double sum = 0.0;
    for (std::int64_t i = lo; i < hi; ++i) {
        const double d = static_cast<double>(a[static_cast<std::size_t>(i)]) - (b.empty() ? 0.0 : b[static_cast<std::size_t>(i)]);
        sum += d * d;
    }
    return sum;
}

// RMS difference from the clean signal over every frame farther than 10 ms from all damage.
double awayDifference(std::span<const float> x, std::span<const float> clean, const std::vector<std::int64_t>& centres) {
    double sum = 0.0;
    std::int64_t n = 0;
    for (std::int64_t i = 0; i < static_cast<std::int64_t>(clean.size()); ++i) {
        bool near = false;
        for (std::int64_t c : centres) near = near || std::llabs(i - c) <= kAway;
        if (near) continue;
        const double d = static_cast<double>(x[static_cast<std::size_t>(i)]) - clean[static_cast<std::size_t>(i)];
        sum += d * d;
        ++n;
    }
    return std::sqrt(sum / static_cast<double>(n));
}

// The one-frame repair that Fix All replaced, as the slow reference: each finding and one frame at
// each side rebuilt by blending linear prediction (Hann-windowed autocorrelation, Levinson-Durbin,
// all in double precision) from the frames before and after it, or by a straight line when the
// context is short.
std::vector<double> referencePredictor(std::span<const float> x, std::size_t p) {
    const std::size_t n = x.size();
    std::vector<double> w(n), r(p + 1, 0.0), c(p, 0.0);
    for (std::size_t i = 0; i < n; ++i)
        w[i] = std::sqrt(8.0 / 3.0) * (0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * double(i) / double(n))) * x[i];
    for (std::size_t k = 0; k <= p; ++k)
        for (std::size_t i = 0; i + k < n; ++i) r[k] += w[i] * w[i + k];
    if (!(r[0] > 1e-20)) return c;
    r[0] *= 1.0001;
    double err = r[0];
    for (std::size_t i = 0; i < p; ++i) {
        double acc = r[i + 1];
        for (std::size_t j = 0; j < i; ++j) acc -= c[j] * r[i - j];
        const double k = acc / err;
        if (err * (1.0 - k * k) <= 0.0) break;
        std::vector<double> next = c;
        next[i] = k;
        for (std::size_t j = 0; j < i; ++j) next[j] = c[j] - k * c[i - 1 - j];
        c = next;
        err *= 1.0 - k * k;
    }
    return c;
}

std::vector<float> oneFrameRepair(std::vector<float> x, const std::vector<DiagnosticFinding>& findings) {
    const auto size = static_cast<std::int64_t>(x.size());
    for (const DiagnosticFinding& f : findings) {
        const std::int64_t start = std::max<std::int64_t>(f.range.lower - 1, 0), end = std::min(f.range.upper + 1, size);
        const std::int64_t g = end - start;
        const std::int64_t q = std::clamp<std::int64_t>(g > 128 ? 2048 : 16 * g, 256, 2048);
        const std::int64_t before = std::min(start, q), after = std::min(end + q, size) - end;
        const std::int64_t shorter = std::min(before, after);
        const std::int64_t p = shorter < 32 ? 4 : (shorter >= 256 ? 32 : shorter / 8);
        if (before <= 2 * p || after <= 2 * p) {
            const double a = start > 0 ? x[start - 1] : x[end], b = end < size ? x[end] : a;
            for (std::int64_t k = 0; k < g; ++k) x[start + k] = static_cast<float>(a + (b - a) * double(k + 1) / double(g + 1));
            continue;
        }
        const auto cl = referencePredictor(std::span<const float>(x).subspan(start - before, before), p);
        const auto cr = referencePredictor(std::span<const float>(x).subspan(end, after), p);
        std::vector<double> forward(x.begin() + start - p, x.begin() + start), backward(g + p);
        for (std::int64_t k = 0; k < g; ++k) {
            double v = 0.0;
            for (std::int64_t j = 1; j <= p; ++j) v += cl[j - 1] * forward[p + k - j];
            forward.push_back(v);
        }
        std::copy(x.begin() + end, x.begin() + end + p, backward.begin() + g);
        for (std::int64_t k = g; k-- > 0;) {
            double v = 0.0;
            for (std::int64_t j = 1; j <= p; ++j) v += cr[j - 1] * backward[k + j];
            backward[k] = v;
        }
        for (std::int64_t k = 0; k < g; ++k) {
            const double w = double(k + 1) / double(g + 1);
            x[start + k] = static_cast<float>((1.0 - w) * forward[p + k] + w * backward[k]);
        }
    }
    return x;
}

class StoreClickRepair : public ClipStoreTest {};

}  // namespace

TEST_F(StoreClickRepair, FixAllRemovesResampledClicksAndCountsWhatItRepaired) {
    const std::vector<float> speech = speechLike(kSourceRate, 5.0);
    const auto damage = clicksAndCrackles(kSourceRate, speech);
    const AudioData clean = imported(speech, fx.home.path() / "clean.wav");
    const AudioData dirty = imported(damaged(speech, damage), fx.home.path() / "dirty.wav");
    std::vector<std::int64_t> centres;
    for (const Damage& d : damage)
        centres.push_back(std::llround((static_cast<double>(d.at) + static_cast<double>(d.length) / 2.0) * 48000.0 / kSourceRate));

    const Uuid row = makeRows(1).front();
    const Uuid id = addAudioClip(row, dirty, 1.0);
    store->setSelectedID(id);
    store->scanDiagnostics();
    fx.tasks.runAll();
    const std::vector<DiagnosticFinding> findings = store->diagnostics().findings;
    ASSERT_GE(findings.size(), 5u);
    store->fixDiagnostics(true);
    fx.tasks.runAll();
    ASSERT_FALSE(store->busy());

    const auto left = track(id).audio.left.span();
    const auto right = track(id).audio.right.span();
    const auto reference = clean.left.span();
    const std::size_t repaired = findings.size() - store->diagnostics().findings.size();
    EXPECT_EQ(store->status(), repaired == findings.size()
                                   ? L("{0}: исправлено {1}", L("Удаление щелчков"), static_cast<std::int64_t>(repaired))
                                   : L("{0}: исправлено {1} из {2}", L("Удаление щелчков"), static_cast<std::int64_t>(repaired),
                                       static_cast<std::int64_t>(findings.size())));

    int checked = 0;
    for (std::size_t k = 0; k < damage.size(); ++k) {
        const std::int64_t c = centres[k];
        bool found = false;
        for (const DiagnosticFinding& f : findings) found = found || (f.range.upper > c - kNear && f.range.lower < c + kNear);
        if (!found) continue;  // the detector's business, not the repair's
        ++checked;
        SCOPED_TRACE("damage at frame " + std::to_string(c) + (damage[k].crackle ? " (crackle)" : " (click)"));
        for (auto channel : {left, right}) {
            const double rms = std::sqrt(sumSquares(channel, reference, c - kNear, c + kNear) / (2.0 * kNear));
            EXPECT_LE(rms, 0.015);
            EXPECT_LE(sumSquares(channel, {}, c - kNear, c + kNear), 1.1 * sumSquares(reference, {}, c - kNear, c + kNear));
        }
    }
    EXPECT_GE(checked, 5);

    // Away from the damage (stops and onsets the detector flags in the speech) the repair changes
    // no more than the old one-frame repair did, in either channel, here and on other speech.
    const std::vector<float> old = oneFrameRepair(dirty.left.toVector(), findings);
    EXPECT_LE(awayDifference(left, reference, centres), awayDifference(old, reference, centres) + 1e-6);
    EXPECT_LE(awayDifference(right, reference, centres), awayDifference(old, reference, centres) + 1e-6);
    for (std::uint64_t seed : {12, 13, 14, 15}) {
        SCOPED_TRACE("speech from seed " + std::to_string(seed));
        const std::vector<float> other = speechLike(kSourceRate, 5.0, seed);
        const auto hurt = clicksAndCrackles(kSourceRate, other);
        const AudioData cleanOther = imported(other, fx.home.path() / "clean-other.wav");
        const AudioData dirtyOther = imported(damaged(other, hurt), fx.home.path() / "dirty-other.wav");
        std::vector<std::int64_t> at;
        for (const Damage& d : hurt) at.push_back(std::llround((double(d.at) + double(d.length) / 2.0) * 48000.0 / kSourceRate));
        const auto found = Diagnostics::detectClicks(dirtyOther, {0, dirtyOther.frames()}, 0.5);
        const AudioData fixed = Diagnostics::declick(dirtyOther, found, 0.5);
        const double oneFrame = awayDifference(oneFrameRepair(dirtyOther.left.toVector(), found), cleanOther.left.span(), at);
        EXPECT_LE(awayDifference(fixed.left.span(), cleanOther.left.span(), at), oneFrame + 1e-6);
        EXPECT_LE(awayDifference(fixed.right.span(), cleanOther.right.span(), at), oneFrame + 1e-6);
    }
}

TEST(ClickRepair, AFindingStillDetectedAfterItsRepairsIsGivenBackAndNotCounted) {
    // A 240-frame run of spikes is one finding that a repair starting at its first frames cannot
    // cover: after the widened attempts the detector still finds it, so it is left as it was.
    std::vector<float> x = noise(48000, 0.001f, 3).left.toVector();
    for (std::size_t i = 20000; i < 20240; i += 6) x[i] += 0.5f;
    x[30000] += 0.6f;  // and a plain click, which is repaired
    const AudioData audio(x, x);
    DiagnosticFinding run, click;
    run.range = {20000, 20004};
    click.range = {30000, 30001};
    const std::vector<DiagnosticFinding> findings{run, click};
    const auto repair = Diagnostics::repairClicks(audio, findings, 0.5);
    EXPECT_EQ(repair.repaired, (std::vector<bool>{false, true}));
    EXPECT_EQ(repair.repairedCount(), 1u);
    for (std::size_t i = 19000; i < 21000; ++i) {
        ASSERT_EQ(repair.audio.left[i], x[i]) << i;
        ASSERT_EQ(repair.audio.right[i], x[i]) << i;
    }
    EXPECT_LT(std::fabs(repair.audio.left[30000]), 0.01f);
    EXPECT_LT(std::fabs(repair.audio.right[30000]), 0.01f);

    // A longer run that rings on after its last spike, found by its last frames, and a click 80
    // frames after it, in channels of their own: the run's widened span reaches over the click,
    // yet giving the run back keeps the click's own repair, and gives both channels back.
    const AudioData hiss = noise(48000, 0.001f, 4);
    std::vector<float> l = hiss.left.toVector(), r = hiss.right.toVector();
    for (std::size_t i = 19600; i < 20240; i += 6) {
        l[i] += 0.5f;
        r[i] -= 0.4f;
    }
    constexpr std::size_t kLastSpike = 20236;
    for (std::size_t k = 1; k <= 60; ++k) {
        const double ring = 0.3 * std::pow(0.93, static_cast<double>(k)) * (k % 2 == 1 ? -1.0 : 1.0);
        l[kLastSpike + k] += static_cast<float>(ring);
        r[kLastSpike + k] -= static_cast<float>(0.8 * ring);
    }
    constexpr std::size_t kClick = kLastSpike + 80;
    l[kClick] += 0.6f;
    r[kClick] -= 0.5f;
    DiagnosticFinding end, near;
    end.range = {20230, 20240};
    near.range = {kClick, kClick + 1};
    const auto both = Diagnostics::repairClicks(AudioData(l, r), std::vector<DiagnosticFinding>{end, near}, 0.5);
    EXPECT_EQ(both.repaired, (std::vector<bool>{false, true}));
    for (std::size_t i = 19000; i < 21000; ++i) {
        if (i + 3 >= kClick && i <= kClick + 3) continue;
        ASSERT_EQ(both.audio.left[i], l[i]) << i;
        ASSERT_EQ(both.audio.right[i], r[i]) << i;
    }
    EXPECT_LT(std::fabs(both.audio.left[kClick]), 0.01f);
    EXPECT_LT(std::fabs(both.audio.right[kClick]), 0.01f);
}

TEST_F(StoreClickRepair, AFindingLeftUnrepairedStaysListedAndTheStatusSaysHowManyOfAll) {
    std::vector<float> x = noise(48000, 0.001f, 3).left.toVector();
    for (std::size_t i = 20000; i < 20240; i += 6) x[i] += 0.5f;
    x[30000] += 0.6f;
    const Uuid row = makeRows(1).front();
    const Uuid id = addAudioClip(row, AudioData(x, x), 1.0);
    store->setSelectedID(id);
    store->scanDiagnostics();
    fx.tasks.runAll();
    // Findings as an older, coarser scan could have listed them: the run of spikes by its first frames.
    auto d = store->diagnostics();
    ASSERT_FALSE(d.findings.empty());
    DiagnosticFinding run = d.findings.front(), click = d.findings.back();
    run.range = {20000, 20004};
    click.range = {30000, 30001};
    d.findings = {run, click};
    store->setDiagnostics(d);
    const std::size_t before = steps();
    store->fixDiagnostics(true);
    fx.tasks.runAll();
    EXPECT_EQ(store->status(), "Удаление щелчков: исправлено 1 из 2");
    ASSERT_EQ(store->diagnostics().findings.size(), 1u);
    EXPECT_EQ(store->diagnostics().findings.front().id, run.id);
    EXPECT_EQ(track(id).audio.left[20000], x[20000]);
    EXPECT_EQ(steps(), before + 1) << "still one undo step";
}

TEST(ClickRepair, AVowelLostUnderACrackleComesBackFromThePeriodsAroundIt) {
    // A steady voiced sound with more harmonics than the spectral model alone can hold, a period of
    // 200.37 frames (a pitch is rarely a whole number of frames) and some hiss; two milliseconds of
    // it are overwritten with a full-scale crackle.
    constexpr double kPeriod = 200.37;
    std::vector<float> x = noise(48000, 0.01f, 5).left.toVector();
    for (std::size_t t = 0; t < x.size(); ++t) {
        double v = 0.0;
        for (int h = 1; h <= 30; ++h) v += std::sin(2.0 * std::numbers::pi * h * static_cast<double>(t) / kPeriod + 0.7 * h) / (h * h);
        x[t] += static_cast<float>(0.4 * v);
    }
    const std::vector<float> clean = x;
    for (std::size_t i = 24000; i < 24096; ++i) x[i] = i % 2 == 0 ? 1.0f : -1.0f;
    DiagnosticFinding crackle;
    crackle.range = {24000, 24096};
    const auto repair = Diagnostics::repairClicks(AudioData(x, x), std::vector<DiagnosticFinding>{crackle}, 0.5);
    ASSERT_EQ(repair.repairedCount(), 1u);
    // The rebuilt frames follow the waveform to within a few times the hiss that no model can know.
    const double rms = std::sqrt(sumSquares(repair.audio.left.span(), clean, 23990, 24106) / 116.0);
    EXPECT_LT(rms, 0.02);
}
