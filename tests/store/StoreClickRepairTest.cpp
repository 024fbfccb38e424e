// Click repair on speech-like material whose clicks and crackles went through the import's
// conversion from 44.1 kHz: the repair takes the ringing away with the click, leaves the speech
// elsewhere as the old one-frame repair did, and its status counts what it repaired.

#include <cmath>
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

    // Away from the damage the repair changes no more than the old one-frame repair did.
    std::vector<float> old = dirty.left.toVector();
    for (const DiagnosticFinding& f : findings) Diagnostics::interpolate(old, {f.range.lower - 1, f.range.upper + 1});
    EXPECT_LE(awayDifference(left, reference, centres), awayDifference(old, reference, centres) + 1e-6);
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

    // The same run, found by its last frames, with a click 70 frames after it, in channels of
    // their own: the run's widened span reaches over the click, yet giving the run back leaves
    // the click's kept repair, and gives both channels back.
    const AudioData hiss = noise(48000, 0.001f, 4);
    std::vector<float> l = hiss.left.toVector(), r = hiss.right.toVector();
    for (std::size_t i = 20000; i < 20240; i += 6) {
        l[i] += 0.5f;
        r[i] -= 0.4f;
    }
    constexpr std::size_t kClick = 20234 + 70;
    l[kClick] += 0.6f;
    r[kClick] -= 0.5f;
    DiagnosticFinding end, near;
    end.range = {20230, 20235};
    near.range = {kClick, kClick + 1};
    const auto both = Diagnostics::repairClicks(AudioData(l, r), std::vector<DiagnosticFinding>{end, near}, 0.5);
    EXPECT_EQ(both.repaired, (std::vector<bool>{false, true}));
    for (std::size_t i = 19000; i < kClick - 2; ++i) {
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
