// Pointer gestures on the lanes: row clicks and time selections, clip clicks, moves, trims,
// razor cuts and spectral painting, envelope points and fade handles — each as the store sees
// it (cursor, selection, undo steps, the project).
#include <QMenu>

#include "TimelineTestSupport.h"
#include "model/Localization.h"
#include "timeline/LanesHitTest.h"
#include "timeline/TimelineGeometry.h"

namespace tessoral::test {
namespace {

// Three rows, clips at 10–30 s on row 0 and 40–60 s on row 1; 10 points a second.
struct Lanes : ::testing::Test {
    LanesFixture fx;
    std::vector<Uuid> rows;
    Uuid a, b;
    void SetUp() override {
        rows = fx.rows(3);
        a = fx.add(0, 10, 20, "A");
        b = fx.add(1, 40, 20, "B");
        fx.store->setSnapping(false);
    }
    StudioStore& store() { return *fx.store; }
};

// ---- rows ----

TEST_F(Lanes, RowClickStopsPlacesTheCursorAndSelectsTheRowOnly) {
    store().setSelectedID(a);
    store().setSelection(TimeRange{12, 14});
    store().setSnapping(true);  // 7 points of the 900-point base view: 0.474 s of the 61 s timeline
    fx.click({255, 300});       // row 2, 25.5 s (30 s is the nearest edge, too far)
    EXPECT_NEAR(store().cursor(), 25.5, 1e-9);
    EXPECT_EQ(store().selection(), std::nullopt);
    EXPECT_EQ(store().selectedID(), std::nullopt);
    EXPECT_EQ(store().selectedLaneID(), rows[2]);
    fx.click({300.4, 100});  // 30.04 s snaps to the end of A
    EXPECT_DOUBLE_EQ(store().cursor(), 30.0);
    EXPECT_EQ(store().selectedLaneID(), rows[0]);
}

TEST_F(Lanes, RowDragSelectsBeyondThreePointsAndPicksTheRowsClip) {
    fx.drag({50, 160}, {53, 160});  // exactly 3 points: no selection
    EXPECT_EQ(store().selection(), std::nullopt);
    EXPECT_DOUBLE_EQ(store().cursor(), 5.0);
    fx.drag({350, 160}, {503.5, 160});  // row 1, 35 → 50.35 s
    ASSERT_TRUE(store().selection());
    EXPECT_NEAR(store().selection()->lower, 35.0, 1e-9);
    EXPECT_NEAR(store().selection()->upper, 50.35, 1e-9);
    EXPECT_EQ(store().selectedID(), b);  // the row's best-overlapping clip
    EXPECT_EQ(store().selectedLaneID(), rows[1]);
    // Beyond the last clip end both times clamp to it: nothing to select.
    fx.drag({700, 160}, {800, 160});
    EXPECT_EQ(store().selection(), std::nullopt);
    // 3.5 points with the times apart selects.
    fx.drag({200, 300}, {203.5, 300});
    ASSERT_TRUE(store().selection());
    EXPECT_NEAR(store().selection()->length(), 0.35, 1e-9);
}

TEST_F(Lanes, RazorRowsNeverSelectAndLockedRowsChangeNothing) {
    store().setTimelineTool(TimelineTool::razor);
    fx.drag({350, 160}, {500, 160});
    EXPECT_EQ(store().selection(), std::nullopt);
    EXPECT_DOUBLE_EQ(store().cursor(), 35.0);
    EXPECT_EQ(store().selectedLaneID(), rows[1]);

    store().setTimelineTool(TimelineTool::select);
    store().setBusy(true);
    fx.drag({100, 300}, {400, 300});
    EXPECT_DOUBLE_EQ(store().cursor(), 35.0);
    EXPECT_EQ(store().selection(), std::nullopt);
    EXPECT_EQ(store().selectedLaneID(), rows[1]);
}

// ---- clips ----

TEST_F(Lanes, MoveToolClickWithinThreePointsMovesBeyond) {
    const int steps = undoSteps(store());
    fx.drag({150, 60}, {153, 60});  // 3.0 points: a click
    EXPECT_EQ(store().selectedID(), a);
    EXPECT_DOUBLE_EQ(store().cursor(), 15.0);
    EXPECT_DOUBLE_EQ(fx.track(a).start, 10.0);
    EXPECT_EQ(undoSteps(store()), steps);

    fx.drag({150, 60}, {151.86, 62.48});  // 3.1 points: a move of 0.186 s
    EXPECT_NEAR(fx.track(a).start, 10.186, 1e-3);
    EXPECT_EQ(undoSteps(store()), steps + 1);
    EXPECT_EQ(store().undoNames().back(), L("Сдвиг клипа"));
}

TEST_F(Lanes, VerticalMovesChangeRowsAtHalfARow) {
    fx.drag({150, 60}, {150, 126});  // 66 points down: same row
    EXPECT_EQ(fx.track(a).laneID, rows[0]);
    const int steps = undoSteps(store());
    fx.drag({150, 60}, {150, 127});  // 67: one row down, one undo step
    EXPECT_EQ(fx.track(a).laneID, rows[1]);
    EXPECT_EQ(undoSteps(store()), steps + 1);
    EXPECT_EQ(store().undoNames().back(), L("Сдвиг клипа"));
}

TEST_F(Lanes, AltMovesWithTheSelectToolButNotOnceASelectionBegan) {
    store().setTimelineTool(TimelineTool::select);
    fx.press({150, 60});
    fx.move({200, 60}, Qt::AltModifier);  // Alt pressed after the drag began
    fx.release({200, 60}, Qt::AltModifier);
    EXPECT_DOUBLE_EQ(fx.track(a).start, 10.0);
    ASSERT_TRUE(store().selection());
    EXPECT_DOUBLE_EQ(store().selection()->upper, 20.0);

    fx.drag({150, 60}, {200, 60}, Qt::AltModifier);
    EXPECT_NEAR(fx.track(a).start, 15.0, 1e-9);
    // A select drag of 3 points across and 50 down selects nothing, only places the cursor.
    fx.drag({200, 40}, {203, 90});
    EXPECT_EQ(store().selection(), std::nullopt);
    EXPECT_DOUBLE_EQ(store().cursor(), 20.0);
    // Shift does what Alt does, where window managers keep Alt+drag for themselves; also across rows.
    fx.drag({200, 60}, {250, 127}, Qt::ShiftModifier);
    EXPECT_NEAR(fx.track(a).start, 20.0, 1e-9);
    EXPECT_EQ(fx.track(a).laneID, rows[1]);
    fx.drag({250, 194}, {250, 127}, Qt::ShiftModifier);
    EXPECT_EQ(fx.track(a).laneID, rows[0]);
    fx.drag({250, 60}, {300, 60}, Qt::ControlModifier);  // Ctrl is no move
    EXPECT_NEAR(fx.track(a).start, 20.0, 1e-9);
}

TEST_F(Lanes, TrimmingTheEndPreviewsABlackBandAndTakesOneStepAtTheEnd) {
    const int steps = undoSteps(store());
    const QPointF edge(298, 70);  // 2 points inside A's end
    store().setSelectedID(a);      // as the trim will leave it
    fx.hover(edge);
    EXPECT_EQ(fx.lanes->cursor().shape(), Qt::SizeHorCursor);
    const QColor before = fx.grab().pixelColor(285, 110);
    fx.press(edge);
    fx.move(edge - QPointF(15, 0));
    fx.move(edge - QPointF(30, 0));
    ASSERT_TRUE(store().trimDrag());
    EXPECT_EQ(undoSteps(store()), steps);  // the step comes at the end
    // The removed 3 seconds: black at 0.45 over what was there.
    EXPECT_TRUE(near(fx.grab().pixelColor(285, 110), blend(before, Qt::black, 0.45)));
    fx.release(edge - QPointF(30, 0));
    EXPECT_NEAR(fx.track(a).duration(), 17.0, 1e-3);
    EXPECT_EQ(undoSteps(store()), steps + 1);
    EXPECT_EQ(store().undoNames().back(), L("Обрезка клипа"));
    // Hovering off the edge gives the arrow back.
    fx.hover({200, 70});
    EXPECT_EQ(fx.lanes->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(Lanes, LockedClipsIgnoreGesturesAndShowNoTrimCursor) {
    fx.hover({298, 70});
    ASSERT_EQ(fx.lanes->cursor().shape(), Qt::SizeHorCursor);
    store().setBusy(true);  // the lock itself takes the resize cursor away
    EXPECT_EQ(fx.lanes->cursor().shape(), Qt::ArrowCursor);
    fx.hover({298, 70});
    EXPECT_EQ(fx.lanes->cursor().shape(), Qt::ArrowCursor);
    fx.drag({150, 60}, {250, 60});
    EXPECT_DOUBLE_EQ(fx.track(a).start, 10.0);
    EXPECT_EQ(store().selectedID(), std::nullopt);
}

TEST_F(Lanes, RazorSplitsAtThePointersSnappedTime) {
    store().setTimelineTool(TimelineTool::razor);
    store().setSnapping(true);
    fx.click({200.5, 60});  // 20.05 s: no edit point within 0.474 s, only the frame grid
    ASSERT_EQ(store().session().tracks.size(), 3u);
    EXPECT_NEAR(fx.track(a).duration(), 10.05, 1e-4);
    EXPECT_EQ(store().undoNames().back(), L("Разделение"));
}

TEST_F(Lanes, BrushWithAltErasesInsteadOfMoving) {
    store().setTimelineTool(TimelineTool::select);
    store().setSpectralView(true);
    store().setSpectralTool(SpectralTool::brush);
    fx.settle();
    fx.drag({150, 60}, {180, 70});
    ASSERT_FALSE(store().spectralMask().regions.empty());
    EXPECT_FALSE(store().spectralMask().regions.back().erase);
    fx.drag({160, 60}, {170, 70}, Qt::AltModifier);
    EXPECT_TRUE(store().spectralMask().regions.back().erase);
    fx.drag({150, 60}, {180, 70});
    EXPECT_FALSE(store().spectralMask().regions.back().erase);
    fx.drag({160, 60}, {170, 70}, Qt::ShiftModifier);
    EXPECT_TRUE(store().spectralMask().regions.back().erase);
    EXPECT_EQ(store().spectralMask().regions.size(), 4u);
    EXPECT_DOUBLE_EQ(fx.track(a).start, 10.0);
}

TEST_F(Lanes, ClipMenuOffersWaveformDuplicateAndRemove) {
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(150, 60), fx.lanes->mapToGlobal(QPoint(150, 60)));
    QApplication::sendEvent(fx.lanes.get(), &event);
    QMenu* menu = fx.lanes->openMenu();
    ASSERT_TRUE(menu);
    QStringList titles;
    for (QAction* action : menu->actions()) titles << action->text();
    EXPECT_EQ(titles, (QStringList{QString::fromStdString(L("Волна")), QString(),
                                   QString::fromStdString(L("Дублировать клип")), QString::fromStdString(L("Удалить клип"))}));
    menu->actions().back()->trigger();
    EXPECT_EQ(store().session().track(a), nullptr);
    menu->close();
}

// ---- envelopes and fades ----

struct Overlay : Lanes {
    double volumeY = 0;  // the empty volume line of row 0
    void SetUp() override {
        Lanes::SetUp();
        store().setTimelineTool(TimelineTool::select);
        store().setShowEnvelopes(true);
        const auto band = TimelineGeometry::envelopeBand(134);
        volumeY = TimelineGeometry::envelopeY(0.0, false, band);
    }
};

TEST_F(Overlay, ALineClickTakesNoStepACtrlClickOne) {
    const int steps = undoSteps(store());
    store().setSelection(TimeRange{11, 12});
    fx.click({200, volumeY + 2});
    EXPECT_EQ(undoSteps(store()), steps);
    EXPECT_TRUE(fx.track(a).volumeEnvelope.empty());
    EXPECT_EQ(store().selectedID(), a);
    EXPECT_EQ(store().selection(), std::nullopt);
    EXPECT_DOUBLE_EQ(store().cursor(), 20.0);

    fx.click({200, volumeY + 2}, Qt::ControlModifier);
    EXPECT_EQ(undoSteps(store()), steps + 1);
    EXPECT_EQ(store().undoNames().back(), L("Точка громкости"));
    ASSERT_EQ(fx.track(a).volumeEnvelope.size(), 1u);
    EXPECT_DOUBLE_EQ(fx.track(a).volumeEnvelope[0].time, 10.0);
}

TEST_F(Overlay, ALineDragInsertsAtThePressAndMovesWithALabel) {
    const int steps = undoSteps(store());
    fx.press({200, volumeY});
    fx.move({202, volumeY});  // 2 points: nothing yet
    EXPECT_TRUE(fx.track(a).volumeEnvelope.empty());
    fx.move({220, volumeY + 22});
    ASSERT_EQ(fx.track(a).volumeEnvelope.size(), 1u);
    EXPECT_DOUBLE_EQ(fx.track(a).volumeEnvelope[0].time, 12.0);
    EXPECT_EQ(fx.track(a).volumeEnvelope[0].value, -18.0);  // 22 points of the 88-point band = 18 dB
    ASSERT_TRUE(fx.lanes->label());
    EXPECT_EQ(fx.lanes->label()->text, QStringLiteral("-18.0 dB · 00:12.000"));
    fx.release({220, volumeY + 22});
    EXPECT_FALSE(fx.lanes->label());
    EXPECT_EQ(undoSteps(store()), steps + 1);
}

TEST_F(Overlay, AltClickDeletesOnePointAndTheDoubleClickAfterItNothing) {
    Session s = store().session();
    s.track(a)->volumeEnvelope = {{5.0, 0.0}, {6.0, 0.0}};
    store().setSession(s);
    const QPointF first(150, volumeY);
    fx.press(first, Qt::AltModifier);
    fx.release(first, Qt::AltModifier);
    fx.doubleClick(first, Qt::AltModifier);
    fx.release(first, Qt::AltModifier);
    ASSERT_EQ(fx.track(a).volumeEnvelope.size(), 1u);
    EXPECT_DOUBLE_EQ(fx.track(a).volumeEnvelope[0].time, 6.0);
    // Shift does what Alt does; the double click that ends a Shift tap leaves a point under it alone.
    Session twin = s;
    twin.track(a)->volumeEnvelope = {{5.0, 0.0}, {5.0, 0.0}, {6.0, 0.0}};
    store().setSession(twin);
    fx.press(first, Qt::ShiftModifier);
    fx.release(first, Qt::ShiftModifier);
    fx.doubleClick(first, Qt::ShiftModifier);
    fx.release(first, Qt::ShiftModifier);
    ASSERT_EQ(fx.track(a).volumeEnvelope.size(), 2u);
    EXPECT_DOUBLE_EQ(fx.track(a).volumeEnvelope[0].time, 5.0);
    store().setSession(s);
    fx.press(first, Qt::ShiftModifier);
    fx.release(first, Qt::ShiftModifier);
    ASSERT_EQ(fx.track(a).volumeEnvelope.size(), 1u);
    EXPECT_DOUBLE_EQ(fx.track(a).volumeEnvelope[0].time, 6.0);
    // A plain click does nothing; a plain double click deletes.
    fx.click({160, volumeY});
    EXPECT_EQ(fx.track(a).volumeEnvelope.size(), 1u);
    fx.press({160, volumeY});
    fx.release({160, volumeY});
    fx.doubleClick({160, volumeY});
    fx.release({160, volumeY});
    EXPECT_TRUE(fx.track(a).volumeEnvelope.empty());
}

TEST_F(Overlay, FadeInPastTheEndKeepsTheFadeOut) {
    const Uuid c = fx.add(2, 10, 2, "C");  // 100…120 on row 2
    Session s = store().session();
    s.track(c)->fadeOut = 0.5;
    store().setSession(s);
    const int steps = undoSteps(store());
    const QPointF handle(105, 2 * 134 + 14);
    fx.press(handle);
    fx.move(handle + QPointF(40, 0));
    fx.move(handle + QPointF(195, 0));
    EXPECT_DOUBLE_EQ(fx.track(c).fadeIn, 1.5);
    EXPECT_DOUBLE_EQ(fx.track(c).fadeOut, 0.5);
    ASSERT_TRUE(fx.lanes->label());
    EXPECT_EQ(fx.lanes->label()->text, QString::fromStdString(L("Нарастание {0} с", std::string("1.50"))));
    fx.release(handle + QPointF(195, 0));
    EXPECT_EQ(undoSteps(store()), steps + 1);
    EXPECT_EQ(store().undoNames().back(), L("Нарастание"));
}

TEST_F(Overlay, FadeHandleMenuChoosesTheCurveAndRemovesTheFade) {
    Session s = store().session();
    s.track(a)->fadeIn = 2.0;
    s.track(a)->fadeInCurve = FadeCurve::cosine;
    store().setSession(s);
    const QPoint handle(120, 14);  // the fade-in handle sits at the fade's end
    QContextMenuEvent event(QContextMenuEvent::Mouse, handle, fx.lanes->mapToGlobal(handle));
    QApplication::sendEvent(fx.lanes.get(), &event);
    QMenu* menu = fx.lanes->openMenu();
    ASSERT_TRUE(menu);
    const auto actions = menu->actions();
    ASSERT_EQ(actions.size(), 5);
    EXPECT_EQ(actions[2]->text(), QString::fromStdString(L("S-образная")));
    EXPECT_TRUE(actions[2]->isChecked());
    EXPECT_FALSE(actions[0]->isChecked());
    actions[0]->trigger();
    EXPECT_EQ(fx.track(a).fadeInCurve, FadeCurve::linear);
    EXPECT_EQ(store().undoNames().back(), L("Форма фейда"));
    EXPECT_EQ(actions[4]->text(), QString::fromStdString(L("Убрать нарастание")));
    actions[4]->trigger();
    EXPECT_EQ(fx.track(a).fadeIn, 0.0);
    EXPECT_EQ(store().undoNames().back(), L("Удаление фейда"));
    menu->close();
}

TEST_F(Overlay, MoveToolKeepsHandlesLiveAndLinesInert) {
    store().setTimelineTool(TimelineTool::move);
    fx.drag({200, volumeY}, {200, volumeY + 30});  // on the line: the clip takes it (66 > 30: same row)
    EXPECT_TRUE(fx.track(a).volumeEnvelope.empty());
    fx.drag({105, 14}, {135, 14});  // A's fade-in handle
    EXPECT_DOUBLE_EQ(fx.track(a).fadeIn, 3.5);
}

TEST_F(Overlay, HitOrderPutsHandlesOverPointsOverLinesOverTheClip) {
    Session s = store().session();
    s.track(a)->volumeEnvelope = {{0.5, 12.0}};  // at the fade-in handle's corner
    s.track(a)->panEnvelope = {{5.0, 0.0}, {5.0, 0.0}};
    store().setSession(s);
    const LanesSnapshot& snap = fx.lanes->snapshot();
    EXPECT_EQ(hitTest(snap, {105, 14}).kind, LanesHit::Kind::fadeIn);
    const auto band = TimelineGeometry::envelopeBand(134);
    const auto pan = hitTest(snap, {150, band.middle()});
    EXPECT_EQ(pan.kind, LanesHit::Kind::panPoint);
    EXPECT_EQ(pan.point, 1u);  // the later of two equal points lies on top
    EXPECT_EQ(hitTest(snap, {250, band.middle() + 4.5}).kind, LanesHit::Kind::panLine);
    EXPECT_EQ(hitTest(snap, {250, band.middle() + 4.6}).kind, LanesHit::Kind::clip);
    EXPECT_EQ(hitTest(snap, {250, band.top + 2}).kind, LanesHit::Kind::volumeLine);
    // Within the trim zone the line gives way to the clip's edge.
    EXPECT_EQ(hitTest(snap, {296, band.top}).kind, LanesHit::Kind::clip);
    EXPECT_EQ(hitTest(snap, {500, 20}).kind, LanesHit::Kind::row);
    EXPECT_EQ(hitTest(snap, {500, 500}).kind, LanesHit::Kind::none);
    // Locked: the overlay takes no pointer.
    store().setBusy(true);
    EXPECT_EQ(hitTest(fx.lanes->snapshot(), {105, 14}).kind, LanesHit::Kind::clip);
}

TEST_F(Overlay, ALockMidDragStopsTheLiveEdits) {
    fx.press({105, 14});
    fx.move({125, 14});
    EXPECT_DOUBLE_EQ(fx.track(a).fadeIn, 2.5);
    store().setBusy(true);  // a recording or long command begins mid-drag
    fx.move({185, 14});
    fx.release({185, 14});
    EXPECT_DOUBLE_EQ(fx.track(a).fadeIn, 2.5);
    store().setBusy(false);
    fx.press({200, volumeY});
    store().setBusy(true);
    fx.move({240, volumeY + 20});
    fx.release({240, volumeY + 20}, Qt::ControlModifier);
    EXPECT_TRUE(fx.track(a).volumeEnvelope.empty());
}

TEST_F(Overlay, NoEnvelopeBandInShortRows) {
    fx.scale(1000, 100, 46);
    EXPECT_FALSE(fx.lanes->snapshot().envelopesShown());
    fx.click({200, 20}, Qt::ControlModifier);
    EXPECT_TRUE(fx.track(a).volumeEnvelope.empty());
}

TEST_F(Lanes, HiddenMidDragEndsTheGesture) {
    fx.lanes->show();
    fx.press({150, 60});
    fx.move({200, 60});
    EXPECT_TRUE(store().trackDragActive());
    fx.lanes->hide();
    EXPECT_FALSE(store().trackDragActive());
    EXPECT_EQ(fx.lanes->cursor().shape(), Qt::ArrowCursor);
}

TEST(ClipEditorLanes, OneRowTheSelectedClipAndNoRowChanges) {
    LanesFixture fx(LanesMode::clipEditor);
    const auto rows = fx.rows(2);
    fx.add(0, 0, 5, "A");
    const Uuid b = fx.add(1, 10, 20, "B");
    fx.store->setSnapping(false);
    fx.store->setSelectedID(b);
    fx.store->setTimelineTool(TimelineTool::select);
    const LanesSnapshot& snap = fx.lanes->snapshot();
    ASSERT_EQ(snap.rows.size(), 1u);
    ASSERT_EQ(snap.clips.size(), 1u);
    EXPECT_EQ(snap.clip(snap.clips[0]).id, b);
    EXPECT_FALSE(snap.trimEnabled());
    // Alt-drag (or Shift-drag) moves in time only, whatever the vertical travel.
    fx.drag({150, 60}, {200, 200}, Qt::AltModifier);
    EXPECT_NEAR(fx.track(b).start, 15.0, 1e-9);
    EXPECT_EQ(fx.track(b).laneID, rows[1]);
    fx.drag({200, 60}, {150, 0}, Qt::ShiftModifier);
    EXPECT_NEAR(fx.track(b).start, 10.0, 1e-9);
    EXPECT_EQ(fx.track(b).laneID, rows[1]);
    fx.drag({150, 60}, {200, 200}, Qt::AltModifier);
    // A row drag changes the cursor and the selection, never the row or the clip.
    fx.drag({50, 60}, {100, 60});
    EXPECT_EQ(fx.store->selectedID(), b);
    EXPECT_EQ(fx.store->selectedLaneID(), rows[1]);
    EXPECT_DOUBLE_EQ(fx.store->cursor(), 5.0);
}

}  // namespace
}  // namespace tessoral::test
