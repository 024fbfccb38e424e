// Diagnostics of one clip: what a scan covers, jumping to a finding, and repairs with their undo
// step, revision check, headroom and envelope follow-up.

#include <cmath>
#include <numbers>
#include <vector>

#include "ClipTestSupport.h"
#include "model/Automation.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

// A 440 Hz sine at 0.3 with single-sample spikes of +0.8 at the given frames.
AudioData sineWithClicks(std::int64_t frames, const std::vector<std::int64_t>& clicks) {
    std::vector<float> s(static_cast<std::size_t>(frames));
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<float>(0.3 * std::sin(2.0 * std::numbers::pi * 440.0 * static_cast<double>(i) / 48000.0));
    for (auto c : clicks) s[static_cast<std::size_t>(c)] += 0.8f;
    return AudioData(s, s);
}

// A 200 Hz sine at 1.4 cut to ±1: every crest is a clipped run.
AudioData clippedSine(std::int64_t frames) {
    std::vector<float> s(static_cast<std::size_t>(frames));
    for (std::size_t i = 0; i < s.size(); ++i) {
        const double v = 1.4 * std::sin(2.0 * std::numbers::pi * 200.0 * static_cast<double>(i) / 48000.0);
        s[i] = static_cast<float>(std::clamp(v, -1.0, 1.0));
    }
    return AudioData(s, s);
}

class StoreDiagnostics : public ClipStoreTest {
protected:
    Uuid row;
    Uuid id;

    // One clip with the audio at `start` on its own row, selected.
    void useClip(AudioData audio, double start = 2.0) {
        row = makeRows(1).front();
        id = addAudioClip(row, std::move(audio), start);
        store->setSelectedID(id);
    }

    void scan(DiagnosticKind kind) {
        auto d = store->diagnostics();
        d.kind = kind;
        store->setDiagnostics(d);
        store->scanDiagnostics();
        fx.tasks.runAll();
        ASSERT_FALSE(store->busy());
    }

    void select(std::initializer_list<std::size_t> indices) {
        auto d = store->diagnostics();
        d.selected.clear();
        for (auto i : indices) d.selected.insert(d.findings.at(i).id);
        store->setDiagnostics(d);
    }

    void fix(bool all) {
        store->fixDiagnostics(all);
        fx.tasks.runAll();
        ASSERT_FALSE(store->busy());
    }

    const DiagnosticsState& diag() const { return store->diagnostics(); }
};

}  // namespace

TEST_F(StoreDiagnostics, ScanCoversTheWholeClipWithoutASelectionAndOnlyThePartInsideWithOne) {
    useClip(sineWithClicks(96000, {24000}));
    scan(DiagnosticKind::clicks);
    EXPECT_EQ(diag().scannedRange, (FrameRange{0, 96000}));
    EXPECT_EQ(diag().trackID, id);
    EXPECT_EQ(diag().revision, track(id).revision);
    EXPECT_TRUE(steps() == 0) << "a scan is no undo step";

    // A selection from 1 s (before the clip at 2 s) to 3 s.
    store->setSelection(TimeRange{1.0, 3.0});
    scan(DiagnosticKind::clicks);
    EXPECT_EQ(diag().scannedRange, (FrameRange{0, 48000}));

    // Wholly outside: refused before any work.
    store->setSelection(TimeRange{10.0, 11.0});
    store->scanDiagnostics();
    EXPECT_EQ(store->error(), L("Выделите фрагмент внутри выбранного клипа."));
    EXPECT_EQ(fx.tasks.pending(), 0u);

    store->setSelectedID(std::nullopt);
    store->scanDiagnostics();
    EXPECT_EQ(store->error(), L("Выберите клип для сканирования."));
}

TEST_F(StoreDiagnostics, ClickFindingsAreSelectedWithAMillisecondEitherSideWithinTheClip) {
    useClip(sineWithClicks(96000, {24000, 72000}));
    scan(DiagnosticKind::clicks);
    ASSERT_GE(diag().findings.size(), 2u);
    EXPECT_EQ(store->status(), L("{0}: найдено {1}", "Щелчки", static_cast<std::int64_t>(diag().findings.size())));
    bool found = false;
    for (const auto& f : diag().findings) found |= f.range.lower <= 24000 && 24000 < f.range.upper;
    EXPECT_TRUE(found);

    const DiagnosticFinding first = diag().findings.front();
    store->showFinding(first);
    ASSERT_TRUE(store->selection());
    EXPECT_NEAR(store->selection()->lower, 2.0 + first.range.lower / 48000.0 - 0.001, 1e-9);
    EXPECT_NEAR(store->selection()->upper, 2.0 + first.range.upper / 48000.0 + 0.001, 1e-9);
    EXPECT_DOUBLE_EQ(store->cursor(), store->selection()->lower);
    EXPECT_EQ(diag().findingSelection, store->selection());

    // At the clip's edges the padding stops at the clip.
    DiagnosticFinding atStart{Uuid::random(), DiagnosticKind::clicks, {0, 10}, 1.0};
    store->showFinding(atStart);
    EXPECT_DOUBLE_EQ(store->selection()->lower, 2.0);
    DiagnosticFinding atEnd{Uuid::random(), DiagnosticKind::clicks, {95990, 96000}, 1.0};
    store->showFinding(atEnd);
    EXPECT_DOUBLE_EQ(store->selection()->upper, 4.0);
    // Other kinds are selected exactly.
    DiagnosticFinding silence{Uuid::random(), DiagnosticKind::silence, {4800, 9600}, 1.0};
    store->showFinding(silence);
    EXPECT_DOUBLE_EQ(store->selection()->lower, 2.1);
    EXPECT_DOUBLE_EQ(store->selection()->upper, 2.2);
}

TEST_F(StoreDiagnostics, AfterShowingAFindingARescanCoversThePreviousRangeAndANewSelectionTheNewOne) {
    useClip(sineWithClicks(96000, {24000, 72000}));
    store->setSelection(TimeRange{2.25, 3.75});
    scan(DiagnosticKind::clicks);
    const FrameRange previous{12000, 84000};
    ASSERT_EQ(diag().scannedRange, previous);
    store->showFinding(diag().findings.front());
    EXPECT_TRUE(store->rescansPreviousRange());
    scan(DiagnosticKind::silence);
    EXPECT_EQ(diag().scannedRange, previous);
    EXPECT_EQ(diag().scannedKind, DiagnosticKind::silence);

    store->setSelection(TimeRange{2.5, 3.0});
    EXPECT_FALSE(store->rescansPreviousRange());
    scan(DiagnosticKind::clicks);
    EXPECT_EQ(diag().scannedRange, (FrameRange{24000, 48000}));
}

TEST_F(StoreDiagnostics, FixNeedsChosenFindingsAndAnUnchangedClip) {
    useClip(sineWithClicks(96000, {24000, 72000}));
    scan(DiagnosticKind::clicks);
    store->fixDiagnostics(false);
    EXPECT_EQ(store->error(), L("Выберите находки в списке."));
    EXPECT_EQ(steps(), 0u);

    // An edit of the clip's audio after the scan makes the scan stale.
    store->setError(std::nullopt);
    store->setGainAmount(-3.0);
    store->edit(EditAction::gain);
    fx.tasks.runAll();
    const auto before = steps();
    fix(true);
    EXPECT_EQ(store->error(), L("Дорожка изменилась после сканирования. Запустите сканирование ещё раз."));
    EXPECT_EQ(steps(), before);

    store->setError(std::nullopt);
    scan(DiagnosticKind::clicks);
    fix(true);
    EXPECT_FALSE(store->error());
    EXPECT_EQ(lastStep(), L("Удаление щелчков"));
}

TEST_F(StoreDiagnostics, TwoRepairsFromOneScanBothSucceedAndLeaveTheOtherFindings) {
    useClip(sineWithClicks(96000, {24000, 72000}));
    Session s = store->session();
    s.tracks[0].headHandle = constant(480, 0.1f);
    s.tracks[0].tailHandle = constant(480, 0.1f);
    store->setSession(s);
    scan(DiagnosticKind::clicks);
    const auto findings = diag().findings;
    ASSERT_GE(findings.size(), 2u);

    select({0});
    fix(false);
    ASSERT_FALSE(store->error());
    EXPECT_EQ(diag().findings.size(), findings.size() - 1);
    EXPECT_EQ(diag().findings.front(), findings[1]) << "the rest stay, unchanged and in order";
    EXPECT_TRUE(diag().selected.empty());
    EXPECT_EQ(diag().revision, track(id).revision);
    EXPECT_EQ(store->status(), L("{0}: исправлено {1}", L("Удаление щелчков"), 1));
    EXPECT_FALSE(track(id).headHandle);
    EXPECT_FALSE(track(id).tailHandle);
    // The spike at 24000 is gone: the sample is back near the sine.
    const double expected = 0.3 * std::sin(2.0 * std::numbers::pi * 440.0 * 24000.0 / 48000.0);
    EXPECT_NEAR(track(id).audio.left.span()[24000], expected, 0.1);

    select({0});
    fix(false);
    EXPECT_FALSE(store->error());
    EXPECT_EQ(steps(), 2u);
    EXPECT_NEAR(track(id).audio.left.span()[72000],
                0.3 * std::sin(2.0 * std::numbers::pi * 440.0 * 72000.0 / 48000.0), 0.1);
}

TEST_F(StoreDiagnostics, ANegativeHeadroomLowersTheScannedRangeOncePerScan) {
    useClip(clippedSine(48000));
    store->setSelection(TimeRange{2.0, 2.5});
    auto d = store->diagnostics();
    d.settings.declipHeadroomDB = -6.0;
    store->setDiagnostics(d);
    scan(DiagnosticKind::clipping);
    ASSERT_GE(diag().findings.size(), 4u);
    // A frame outside every clipped run: 1.4·sin(2π·200·10/48000) ≈ 0.36.
    const std::size_t unclipped = 10;
    const float original = track(id).audio.left.span()[unclipped];
    const float outside = track(id).audio.left.span()[30000];
    const double gain = std::pow(10.0, -6.0 / 20.0);

    select({0});
    fix(false);
    ASSERT_FALSE(store->error());
    EXPECT_NEAR(track(id).audio.left.span()[unclipped], original * gain, 1e-6);
    EXPECT_FLOAT_EQ(track(id).audio.left.span()[30000], outside) << "only the scanned range is lowered";
    EXPECT_TRUE(diag().headroomApplied);

    select({0});
    fix(false);
    EXPECT_NEAR(track(id).audio.left.span()[unclipped], original * gain, 1e-6) << "lowered only once";

    // The lowered flat tops (0.5) count as clipped at −6.5 dB.
    d = store->diagnostics();
    d.settings.clipThresholdDB = -6.5;
    store->setDiagnostics(d);
    scan(DiagnosticKind::clipping);
    EXPECT_FALSE(diag().headroomApplied);
    ASSERT_FALSE(diag().findings.empty());
    select({0});
    fix(false);
    EXPECT_NEAR(track(id).audio.left.span()[unclipped], original * gain * gain, 1e-6) << "a new scan lowers again";
}

TEST_F(StoreDiagnostics, DeletingSilenceEmptiesTheFindingsClearsTheSelectionAndPullsEnvelopesLeft) {
    // 1 s of noise, 2 s of silence, 1 s of noise.
    std::vector<float> l(4 * 48000, 0.0f), r(4 * 48000, 0.0f);
    const AudioData loud = noise(48000, 0.5f, 3);
    for (std::size_t i = 0; i < 48000; ++i) {
        l[i] = r[i] = loud.left.span()[i];
        l[i + 3 * 48000] = r[i + 3 * 48000] = loud.right.span()[i];
    }
    useClip(AudioData(l, r), 0.0);
    Session s = store->session();
    s.tracks[0].volumeEnvelope = {{0.5, -3.0}, {2.0, -20.0}, {3.5, -6.0}};
    store->setSession(s);
    scan(DiagnosticKind::silence);
    ASSERT_EQ(diag().findings.size(), 1u);
    const FrameRange silence = diag().findings.front().range;
    EXPECT_NEAR(silence.lower, 48000, 480);
    EXPECT_NEAR(silence.upper, 3 * 48000, 480);
    store->setCursor(3.9);
    store->setSelection(TimeRange{0.2, 0.4});
    fix(true);
    ASSERT_FALSE(store->error());
    EXPECT_EQ(lastStep(), L("Удаление тишины"));
    // Keeping a 0.2 s pause leaves 0.1 s (4800 frames) of the silence at each side.
    EXPECT_EQ(track(id).frames(), 4 * 48000 - (silence.count() - 9600));
    EXPECT_TRUE(diag().findings.empty());
    EXPECT_FALSE(store->selection());
    EXPECT_DOUBLE_EQ(store->cursor(), store->session().duration());
    const Envelope& env = track(id).volumeEnvelope;
    for (const auto& p : env) EXPECT_NE(p.value, -20.0) << "the point inside the cut is gone";
    ASSERT_FALSE(env.empty());
    EXPECT_NEAR(env.back().time, 3.5 - (4.0 - track(id).duration()), 1e-9);
    EXPECT_EQ(env.back().value, -6.0);

    // Muting keeps the length.
    store->undo();
    auto d = store->diagnostics();
    d.settings.silenceDelete = false;
    store->setDiagnostics(d);
    scan(DiagnosticKind::silence);
    fix(true);
    EXPECT_EQ(lastStep(), L("Заглушение тишины"));
    EXPECT_EQ(track(id).frames(), 4 * 48000);
}

TEST_F(StoreDiagnostics, AScanOfFiveThousandFindingsSaysOnlyTheFirstAreShown) {
    // A clipped sample every third frame: 5000 runs of one frame.
    std::vector<float> s(15000, 0.0f);
    for (std::size_t i = 0; i < s.size(); i += 3) s[i] = 1.0f;
    useClip(AudioData(s, s));
    auto d = store->diagnostics();
    d.settings.clipMinRun = 1;
    store->setDiagnostics(d);
    scan(DiagnosticKind::clipping);
    ASSERT_EQ(diag().findings.size(), 5000u);
    EXPECT_EQ(store->status(), L("{0}: найдено {1}", L("Клиппинг"), 5000) + L(" (показаны первые)"));

    scan(DiagnosticKind::silence);
    EXPECT_EQ(store->status(), L("{0}: проблем не найдено", L("Тишина")));
}

TEST_F(StoreDiagnostics, ARepairWhoseClipWasRemovedMeanwhileChangesNothing) {
    useClip(sineWithClicks(48000, {24000}));
    scan(DiagnosticKind::clicks);
    store->fixDiagnostics(true);
    ASSERT_TRUE(store->busy());
    // The store is locked; the clip goes the only way left: behind the store's back.
    Session s = store->session();
    s.tracks.clear();
    store->setSession(s);
    fx.tasks.runAll();
    EXPECT_EQ(store->error(), L("Дорожка удалена."));
    EXPECT_FALSE(store->busy());
    EXPECT_EQ(steps(), 0u);
}
