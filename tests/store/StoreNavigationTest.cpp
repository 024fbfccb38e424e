// Cursor, zoom and tempo navigation: keyboard moves against the ruler, row stepping, zoom limits,
// the time format and the tempo's one undo step and locale-independent status.

#include <clocale>
#include <cmath>
#include <cstdlib>

#include "StoreTestSupport.h"
#include "model/Defaults.h"
#include "support/TestTools.h"
#include "support/store/CommaDecimalLocale.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

class StoreNavigation : public StoreTest {
protected:
    // 20 s and 12 s clips on two rows.
    void SetUp() override { setClips({clip("A", 20 * 48000, 0.0), clip("B", 12 * 48000, 4.0)}); }
};

}  // namespace

TEST_F(StoreNavigation, HomeWithShiftSelectsBackToTheStart) {
    store->setCursor(10.0);
    store->moveCursor(0.0, true);
    ASSERT_TRUE(store->selection());
    EXPECT_EQ(*store->selection(), (TimeRange{0.0, 10.0}));
    EXPECT_EQ(store->cursor(), 0.0);

    // End with Shift from there keeps the far end as the anchor.
    store->moveCursor(20.0, true);
    EXPECT_EQ(*store->selection(), (TimeRange{10.0, 20.0}));
    // A move without Shift clears the selection (and with it the spectral selection).
    store->setFreqSelection(ClosedRange{100, 200});
    store->moveCursor(5.0, false);
    EXPECT_FALSE(store->selection());
    EXPECT_FALSE(store->freqSelection());
    EXPECT_EQ(store->cursor(), 5.0);
    // Clamped into the project; NaN ignored.
    store->moveCursor(-3.0, false);
    EXPECT_EQ(store->cursor(), 0.0);
    store->moveCursor(99.0, false);
    EXPECT_EQ(store->cursor(), 20.0);
    store->moveCursor(kNaN, false);
    EXPECT_EQ(store->cursor(), 20.0);
    EXPECT_TRUE(store->undoNames().empty());
}

TEST_F(StoreNavigation, RightAndLeftStepFromLineToLine) {
    const double s = store->rulerStep();
    ASSERT_GT(s, 0.0);
    // 21 s over 900 points with labels 95 points apart: a 5-second ladder step.
    EXPECT_EQ(s, 5.0);

    store->setCursor(2 * s);
    store->stepCursor(true, false, false);
    EXPECT_DOUBLE_EQ(store->cursor(), 3 * s);
    store->setCursor(2 * s - s * 1e-7);  // a hair before a line counts as on it
    store->stepCursor(true, false, false);
    EXPECT_DOUBLE_EQ(store->cursor(), 3 * s);
    store->setCursor(2 * s + s * 1e-7);
    store->stepCursor(false, false, false);
    EXPECT_DOUBLE_EQ(store->cursor(), s);
    store->setCursor(2.5);
    store->stepCursor(false, false, false);
    EXPECT_DOUBLE_EQ(store->cursor(), 0.0);
    store->stepCursor(false, false, false);
    EXPECT_EQ(store->cursor(), 0.0);
    store->setCursor(20.0);
    store->stepCursor(true, false, false);
    EXPECT_EQ(store->cursor(), 20.0);
    // Fine steps are 10 ms.
    store->setCursor(1.0);
    store->stepCursor(true, true, false);
    EXPECT_DOUBLE_EQ(store->cursor(), 1.01);
}

TEST_F(StoreNavigation, AMoveWhilePlayingRestartsPlaybackThere) {
    store->playPause();
    fx.tasks.runAll();
    ASSERT_TRUE(store->transport().playing());
    store->moveCursor(7.0, false);
    EXPECT_TRUE(store->busy());  // the mix from the new place is rendering
    fx.tasks.runAll();
    EXPECT_TRUE(store->transport().playing());
    EXPECT_EQ(store->transport().position(), 7.0);
    EXPECT_EQ(store->cursor(), 7.0);

    // L never stops playback.
    store->playFromCursor();
    EXPECT_TRUE(store->transport().playing());
    EXPECT_EQ(fx.tasks.pending(), 0u);
}

TEST_F(StoreNavigation, UpAndDownStepThroughTheRows) {
    const auto lanes = store->session().lanes;
    ASSERT_EQ(lanes.size(), 2u);
    store->setSelectedID(std::nullopt);
    store->setSelectedLaneID(std::nullopt);
    store->selectAdjacentTrack(-1);  // Up with nothing selected: the last row
    EXPECT_EQ(store->selectedLaneID(), lanes[1].id);
    EXPECT_EQ(store->selectedID(), store->session().tracks[1].id);
    EXPECT_EQ(store->status(), "Дорожка: B");

    store->setSelectedID(std::nullopt);
    store->setSelectedLaneID(std::nullopt);
    store->selectAdjacentTrack(1);  // Down: the first row
    EXPECT_EQ(store->selectedLaneID(), lanes[0].id);

    store->setStatus("—");
    store->selectAdjacentTrack(-1);  // already on the first row with a clip selected
    EXPECT_EQ(store->status(), "—");

    // The waveform editor keeps the cursor inside the newly selected clip.
    store->setEditorMode(EditorMode::waveform);
    store->setCursor(1.0);
    store->setSelection(TimeRange{0.5, 1.5});
    store->selectAdjacentTrack(1);
    EXPECT_EQ(store->selectedID(), store->session().tracks[1].id);
    EXPECT_EQ(store->cursor(), 4.0);
    EXPECT_FALSE(store->selection());
}

TEST_F(StoreNavigation, ZoomStaysWithinItsLimits) {
    store->setZoom(100, std::nullopt, 0.5);
    EXPECT_EQ(store->zoom(), 32.0);
    store->setZoom(0.5, std::nullopt, 0.5);
    EXPECT_EQ(store->zoom(), 1.0);
    store->setZoom(kNaN, std::nullopt, 0.5);
    EXPECT_EQ(store->zoom(), 1.0);

    // Each request is a new focus, even for the same place.
    store->setCursor(3.0);
    store->setZoom(2, std::nullopt, 0.5);
    const ZoomFocus first = *store->zoomFocus();
    EXPECT_EQ(first.time, 3.0);  // the playhead
    store->setZoom(2, std::nullopt, 0.5);
    EXPECT_NE(store->zoomFocus()->id, first.id);
    store->setZoom(2, -4.0, 7.0);
    EXPECT_EQ(store->zoomFocus()->time, 0.0);
    EXPECT_EQ(store->zoomFocus()->fraction, 1.0);

    // A 0.0005 s selection computes with 0.001 s and is capped.
    store->setSelection(TimeRange{5.0, 5.0005});
    store->zoomToSelection();
    EXPECT_EQ(store->zoom(), 32.0);
    EXPECT_DOUBLE_EQ(store->zoomFocus()->time, 5.00025);
    EXPECT_EQ(store->zoomFocus()->fraction, 0.5);
    // The selected clip's span without a selection: 21 / (12 × 1.1).
    store->setSelection(std::nullopt);
    store->setSelectedID(store->session().tracks[1].id);
    store->zoomToSelection();
    EXPECT_DOUBLE_EQ(store->zoom(), 21.0 / (12.0 * 1.1));
    EXPECT_EQ(store->zoomFocus()->time, 10.0);
}

TEST_F(StoreNavigation, WheelZoomAroundThePointer) {
    EXPECT_FALSE(store->zoomWheel(3, false));  // pointer outside the lanes
    NavigationViewport v;
    v.pointerTime = 6.0;
    v.pointerFraction = 0.25;
    store->setViewport(v);
    EXPECT_FALSE(store->zoomWheel(0, false));
    EXPECT_FALSE(store->zoomWheel(kInf, false));
    EXPECT_TRUE(store->zoomWheel(5, false));
    EXPECT_DOUBLE_EQ(store->zoom(), std::exp(0.4));
    EXPECT_EQ(store->zoomFocus()->time, 6.0);
    EXPECT_EQ(store->zoomFocus()->fraction, 0.25);
    EXPECT_TRUE(store->zoomWheel(-10, true));
    EXPECT_DOUBLE_EQ(store->zoom(), std::exp(0.4) * std::exp(-0.1));
}

TEST_F(StoreNavigation, AmplitudeZoomStepsBetweenOneAndSixteen) {
    store->changeAmplitudeZoom(false);
    EXPECT_EQ(store->amplitudeZoom(), 1.0);
    for (int i = 0; i < 6; ++i) store->changeAmplitudeZoom(true);
    EXPECT_EQ(store->amplitudeZoom(), 16.0);
    store->changeAmplitudeZoom(false);
    EXPECT_EQ(store->amplitudeZoom(), 8.0);
    store->setAmplitudeZoom(3.0);  // between steps: the next step up is the reference
    store->changeAmplitudeZoom(true);
    EXPECT_EQ(store->amplitudeZoom(), 8.0);
}

TEST_F(StoreNavigation, TimeFormatCyclesAndIsStoredAndTheMetronomeSaysItsState) {
    store->cycleTimeFormat();
    EXPECT_EQ(store->timeFormat(), TimeFormat::seconds);
    EXPECT_EQ(store->status(), "Формат времени: Секунды");
    EXPECT_EQ(fx.defaults.string("timeFormat"), "seconds");
    EXPECT_EQ(store->formatTime(61.5), "61.500");
    store->cycleTimeFormat();
    store->cycleTimeFormat();
    EXPECT_EQ(store->timeFormat(), TimeFormat::bars);
    store->cycleTimeFormat();
    EXPECT_EQ(store->timeFormat(), TimeFormat::clock);
    EXPECT_EQ(store->status(), "Формат времени: мм:сс.мс");
    EXPECT_EQ(store->formatTime(61.5), "01:01.500");

    store->toggleMetronome();
    EXPECT_TRUE(store->metronome());
    EXPECT_EQ(store->status(), "Метроном включён");
    store->toggleMetronome();
    EXPECT_EQ(store->status(), "Метроном выключен");
}

TEST_F(StoreNavigation, TempoIsClampedWithOneUndoStepAndAPointDecimal) {
    std::optional<CommaDecimalLocale> locale(std::in_place, fx.home.path());
    const bool comma = locale->active();
    store->setTempo(500, 20);
    locale.reset();
    EXPECT_EQ(store->session().tempo, 300.0);
    EXPECT_EQ(store->session().beatsPerBar, 16);
    EXPECT_EQ(store->status(), "Темп 300.0 BPM, размер 16/4");
    EXPECT_EQ(store->undoNames(), std::vector<std::string>{"Темп и размер"});
    store->setTempo(500, 20);  // the same values again
    EXPECT_EQ(store->undoNames().size(), 1u);
    store->setTempo(kNaN, 4);
    EXPECT_EQ(store->undoNames().size(), 1u);
    store->setTempo(97.26, 3);
    EXPECT_EQ(store->status(), "Темп 97.3 BPM, размер 3/4");
    store->undo();
    EXPECT_EQ(store->session().tempo, 300.0);
    if (!comma) GTEST_SKIP() << "no decimal-comma locale could be made; the status was checked in C only";
}
