// Clip dragging and snapping.

#include "ClipTestSupport.h"
#include "model/SessionMarker.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

using StoreDrag = ClipStoreTest;

}  // namespace

TEST_F(StoreDrag, SnapToleranceIsSevenPointsOfTheBaseView) {
    const auto rows = makeRows(1);
    addClip(rows[0], 79.0, 480000);  // ends at 89 s: the timeline shows 90 s
    ASSERT_EQ(store->timelineDuration(), 90.0);
    EXPECT_EQ(store->snapped(79.69), 79.0);
    EXPECT_EQ(store->snapped(79.70), 79.70);
    EXPECT_EQ(store->snapped(89.69), 89.0);
    store->setZoom(2.0);  // half the reach
    EXPECT_EQ(store->snapped(79.36), 79.36);
    EXPECT_EQ(store->snapped(79.34), 79.0);

    // Off: only the frame grid; negative times from 0, NaN as 0.
    store->setSnapping(false);
    EXPECT_EQ(store->snapped(79.01), 79.01);
    EXPECT_EQ(store->snapped(1.0000001), 1.0);
    EXPECT_EQ(store->snapped(-4.0), 0.0);
    EXPECT_EQ(store->snapped(kNaN), 0.0);
}

TEST_F(StoreDrag, EarlierCandidatesWinTiesAndOwnEdgesDoNotCount) {
    const auto rows = makeRows(1);
    const Uuid id = addClip(rows[0], 7.0, 48000);  // edges 7 and 8
    Session s = store->session();
    SessionMarker point;
    point.name = "M";
    point.start = 5.0;
    SessionMarker range;
    range.name = "R";
    range.start = 20.0;
    range.end = 30.0;
    s.markers = {point, range};
    store->setSession(std::move(s));

    EXPECT_EQ(store->snapped(6.0, std::nullopt, 10.0), 5.0);  // marker 5 and edge 7 both 1 s away
    EXPECT_EQ(store->snapped(2.5, std::nullopt, 10.0), 0.0);  // project start and marker 2.5 s away
    EXPECT_EQ(store->snapped(7.9, std::nullopt, 10.0), 8.0);
    EXPECT_EQ(store->snapped(7.9, id, 10.0), 5.0);  // own edges do not count
    EXPECT_EQ(store->snapped(29.5, id, 1.0), 30.0);  // a range marker's end
}

TEST_F(StoreDrag, BeatsAreCandidatesOnlyInBars) {
    const auto rows = makeRows(1);
    addClip(rows[0], 100.0, 48000);
    Session s = store->session();
    s.tempo = 120.0;  // a beat every 0.5 s
    store->setSession(std::move(s));
    EXPECT_EQ(store->snapped(3.3, std::nullopt, 0.3), 3.3);
    store->setTimeFormat(TimeFormat::bars);
    EXPECT_EQ(store->snapped(3.3, std::nullopt, 0.3), 3.5);
    EXPECT_EQ(store->snapped(3.3, std::nullopt, 0.1), 3.3);

    // A tempo out of range counts as its nearest limit (300 BPM: every 0.2 s).
    s = store->session();
    s.tempo = 1000.0;
    store->setSession(std::move(s));
    EXPECT_EQ(store->snapped(3.25, std::nullopt, 0.3), 3.2);
}

TEST_F(StoreDrag, DragStaysInsideTheProjectAndTakesOneStep) {
    const auto rows = makeRows(1);
    const Uuid id = addClip(rows[0], 10.0, 20 * 48000);
    play();
    store->beginTrackDrag(id);
    EXPECT_FALSE(store->transport().playing());
    EXPECT_EQ(store->selectedID(), id);
    store->beginTrackDrag(id);  // already dragging: no second step
    EXPECT_EQ(steps(), 1u);
    EXPECT_EQ(lastStep(), "Сдвиг клипа");

    store->dragTrack(id, 465.0, 0);  // to 475
    EXPECT_EQ(track(id).start, 460.0);
    store->dragTrack(id, -30.0, 0);
    EXPECT_EQ(track(id).start, 0.0);
    store->dragTrack(Uuid::random(), 5.0, 0);
    EXPECT_EQ(track(id).start, 0.0);
    store->dragTrack(id, 2.5, 0);  // always from the gesture's start
    EXPECT_EQ(track(id).start, 12.5);
    store->endTrackDrag();
    EXPECT_EQ(store->status(), "Клип сдвинут на +00:02.500") << "the offset, not the new start";
    EXPECT_EQ(steps(), 1u);

    store->undo();
    EXPECT_EQ(track(id).start, 10.0);

    // Back by 2.05 s: the signed offset to the millisecond; no move: no sign.
    store->setSnapping(false);
    store->beginTrackDrag(id);
    store->dragTrack(id, -2.05, 0);
    store->endTrackDrag();
    EXPECT_EQ(store->status(), "Клип сдвинут на −00:02.050");
    store->beginTrackDrag(id);
    store->dragTrack(id, 0.0, 0);
    store->endTrackDrag();
    EXPECT_EQ(store->status(), "Клип сдвинут на 00:00.000");
}

TEST_F(StoreDrag, RowsFollowTheOffsetAndTheOwnRowGivesBackTheColour) {
    const auto rows = makeRows(4);
    const Uuid id = addClip(rows[1], 0.0);
    Session s = store->session();
    s.tracks[0].color = 6;  // its own colour, not the row's
    store->setSession(std::move(s));
    store->setSnapping(false);

    store->beginTrackDrag(id);
    int published = signalsDuring(&StudioStore::sessionChanged, [&] { store->dragTrack(id, 1.0, 3); });
    EXPECT_LE(published, 3);
    EXPECT_EQ(track(id).laneID, rows[3]);
    EXPECT_EQ(track(id).color, 3);
    EXPECT_EQ(store->selectedLaneID(), rows[3]);

    published = signalsDuring(&StudioStore::sessionChanged, [&] { store->dragTrack(id, 1.0, -100); });
    EXPECT_LE(published, 3);
    EXPECT_EQ(track(id).laneID, rows[0]);
    store->dragTrack(id, 1.0, 0);
    EXPECT_EQ(track(id).laneID, rows[1]);
    EXPECT_EQ(track(id).color, 6);

    store->dragTrack(id, 2.0, 1);
    store->endTrackDrag();
    EXPECT_EQ(store->status(), "Клип сдвинут на +00:02.000 · Ряд 3");
    store->endTrackDrag();  // nothing under way: nothing
    EXPECT_EQ(steps(), 1u);
}

TEST_F(StoreDrag, ARefusedBeginLeavesTheGestureInert) {
    const auto rows = makeRows(1);
    const Uuid id = addClip(rows[0], 1.0);
    store->setBusy(true);
    store->beginTrackDrag(id);
    store->setBusy(false);
    store->dragTrack(id, 3.0, 0);
    store->endTrackDrag();
    EXPECT_EQ(track(id).start, 1.0);
    EXPECT_EQ(store->status(), "Готово");
    EXPECT_EQ(steps(), 0u);

    // A clip that vanishes mid-drag ends it quietly.
    store->beginTrackDrag(id);
    Session s = store->session();
    s.tracks.clear();
    store->setSession(std::move(s));
    store->dragTrack(id, 3.0, 0);
    store->endTrackDrag();
    EXPECT_FALSE(store->trackDragActive());
    EXPECT_EQ(store->status(), "Готово");
}

// The lanes pass the id of the clip they draw, straight from the published project, and a view
// may publish a new copy of the project from its own change handler.
TEST_F(StoreDrag, ADragStepMayTakeTheIdFromTheProjectItReplaces) {
    const auto rows = makeRows(2);
    const Uuid id = addClip(rows[0], 0.0);
    store->setSnapping(false);
    store->beginTrackDrag(id);
    bool republished = false;
    const auto connection = QObject::connect(store.get(), &StudioStore::sessionChanged, [&] {
        if (republished) return;
        republished = true;
        store->setSession(Session(store->session()));
    });
    store->dragTrack(store->session().tracks[0].id, 2.0, 1);
    QObject::disconnect(connection);
    EXPECT_EQ(track(id).start, 2.0);
    EXPECT_EQ(track(id).laneID, rows[1]);
}
