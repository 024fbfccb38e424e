// Clip-edge trimming, row reordering, row colours and automatic crossfades.

#include "ClipTestSupport.h"
#include "model/SessionMarker.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

class StoreTrim : public ClipStoreTest {
protected:
    std::vector<Uuid> rows;
    Uuid id;
    void SetUp() override {
        rows = makeRows(1);
        id = addClip(rows[0], 2.0, 48000);  // 2…3 s
        store->setSnapping(false);
    }
    std::int64_t previewFrames() const { return store->trimDrag() ? store->trimDrag()->frames : -1; }
};

}  // namespace

TEST_F(StoreTrim, TheGestureIsPreviewedAndAppliedAsOneStepWhenItEnds) {
    play();
    store->beginTrim(id, ClipEdge::start);
    EXPECT_FALSE(store->transport().playing());
    EXPECT_EQ(store->selectedID(), id);
    ASSERT_TRUE(store->trimDrag());
    EXPECT_EQ(store->trimDrag()->original, (TimeRange{2.0, 3.0}));
    store->beginTrim(id, ClipEdge::end);  // one trim at a time
    EXPECT_EQ(store->trimDrag()->edge, ClipEdge::start);

    store->dragTrim(id, 0.25);
    EXPECT_EQ(previewFrames(), 12000);
    EXPECT_EQ(store->trimDrag()->span, (TimeRange{2.25, 3.0}));
    EXPECT_EQ(track(id).start, 2.0);  // the project waits for the release
    EXPECT_EQ(steps(), 0u);

    store->endTrim();
    EXPECT_FALSE(store->trimDrag());
    EXPECT_EQ(track(id).start, 2.25);
    EXPECT_EQ(track(id).frames(), 36000);
    EXPECT_EQ(lastStep(), "Обрезка клипа");
    EXPECT_EQ(store->status(), "Клип обрезан: 00:02.250 – 00:03.000");

    // The cut audio is a handle now: the start edge grows back as far as it reaches.
    store->beginTrim(id, ClipEdge::start);
    store->dragTrim(id, -1.0);
    EXPECT_EQ(previewFrames(), -12000);
    store->endTrim();
    EXPECT_EQ(track(id).frames(), 48000);
    EXPECT_EQ(steps(), 2u);
}

TEST_F(StoreTrim, LimitsFloorAndSnapDirection) {
    // Without handle audio the start edge cannot grow; the clip keeps at least 480 frames.
    store->beginTrim(id, ClipEdge::start);
    store->dragTrim(id, -1.0);
    EXPECT_EQ(previewFrames(), 0);
    store->dragTrim(id, 5.0);
    EXPECT_EQ(previewFrames(), 48000 - 480);
    store->dragTrim(id, kNaN);
    EXPECT_EQ(previewFrames(), 0);
    store->dragTrim(Uuid::random(), 0.5);
    EXPECT_EQ(previewFrames(), 0);
    // Released at 0 frames: no step, no status.
    store->endTrim();
    EXPECT_EQ(steps(), 0u);
    EXPECT_EQ(store->status(), "Готово");

    // Snapping follows the pointer: moving the start edge right by 0.02 s, a marker 0.01 s
    // behind the edge is ignored, one 0.05 s ahead of it is taken.
    Session s = store->session();
    SessionMarker behind;
    behind.start = 1.99;
    s.markers = {behind};
    store->setSession(std::move(s));
    store->setSnapping(true);
    store->beginTrim(id, ClipEdge::start);
    store->dragTrim(id, 0.02);
    EXPECT_EQ(previewFrames(), 960);
    s = store->session();
    s.markers[0].start = 2.05;
    store->setSession(std::move(s));
    store->dragTrim(id, 0.021);
    EXPECT_EQ(previewFrames(), 2400);
    store->endTrim();
    EXPECT_DOUBLE_EQ(track(id).start, 2.05);
}

TEST_F(StoreTrim, ATrimReleasedWhileLockedIsDropped) {
    store->beginTrim(id, ClipEdge::end);
    store->dragTrim(id, -0.5);
    store->setBusy(true);
    store->endTrim();
    store->setBusy(false);
    EXPECT_FALSE(store->trimDrag());
    EXPECT_EQ(track(id).frames(), 48000);
    EXPECT_EQ(steps(), 0u);

    store->setBusy(true);
    store->beginTrim(id, ClipEdge::end);
    EXPECT_FALSE(store->trimDrag());
}

TEST_F(StoreTrim, RowDragIsOneStepAndMovesRelativeToItsStart) {
    const auto more = makeRows(3);  // four rows: Ряд 1 (fixture's), Ряд 1…3
    const Uuid first = rows[0];
    play();
    store->beginLaneDrag(first);
    EXPECT_FALSE(store->transport().playing());
    EXPECT_EQ(store->laneDragOrigin(), (LaneDragOrigin{first, 0}));
    store->beginLaneDrag(more[0]);  // one at a time
    store->dragLane(first, 61.0, 40.0);  // 1.525 rows → 2
    EXPECT_EQ(store->session().lanes[2].id, first);
    store->dragLane(first, 500.0, 40.0);
    EXPECT_EQ(store->session().lanes[3].id, first);
    store->dragLane(first, 10.0, 0.0);  // no row height: its own place
    EXPECT_EQ(store->session().lanes[0].id, first);
    store->dragLane(more[0], 40.0, 40.0);  // not the dragged row
    EXPECT_EQ(store->session().lanes[0].id, first);
    store->dragLane(first, 40.0, 40.0);
    store->setLaneDragOrigin(std::nullopt);
    EXPECT_EQ(steps(), 1u);
    EXPECT_EQ(lastStep(), "Порядок дорожек");
    store->undo();
    EXPECT_EQ(store->session().lanes[0].id, first);
}

TEST_F(StoreTrim, MenuMovesColoursAndCrossfades) {
    const auto more = makeRows(2);
    EXPECT_FALSE(store->canMoveLane(std::nullopt, 1));
    EXPECT_FALSE(store->canMoveLane(rows[0], -1));
    EXPECT_TRUE(store->canMoveLane(rows[0], 2));
    EXPECT_FALSE(store->canMoveLane(rows[0], 3));

    // The header passes its row's id straight from the project the move replaces.
    ASSERT_EQ(store->session().lanes[0].id, rows[0]);
    store->moveLane(store->session().lanes[0].id, 99);
    EXPECT_EQ(store->session().lanes[2].id, rows[0]);
    EXPECT_EQ(store->status(), "Дорожка «Ряд 1» перемещена");
    store->moveLane(rows[0], 5);  // already there
    EXPECT_EQ(steps(), 1u);
    store->setSelectedLaneID(more[1]);
    store->moveSelectedLane(-1);
    EXPECT_EQ(store->session().lanes[0].id, more[1]);
    store->moveSelectedLane(-1);  // cannot: nothing
    EXPECT_EQ(steps(), 2u);

    store->setLaneColor(rows[0], 9);
    EXPECT_EQ(store->session().lanes[*store->session().laneIndex(rows[0])].color, 1);
    EXPECT_EQ(track(id).color, 1);
    EXPECT_EQ(lastStep(), "Цвет дорожки");
    store->setLaneColor(rows[0], -7);  // the same colour: nothing
    EXPECT_EQ(steps(), 3u);
    store->setLaneColor(rows[0], -1);
    EXPECT_EQ(track(id).color, 7);

    EXPECT_TRUE(store->session().autoCrossfade);
    store->toggleAutoCrossfade();
    EXPECT_FALSE(store->session().autoCrossfade);
    EXPECT_EQ(store->status(), "Автоматический кроссфейд выключен");
    store->toggleAutoCrossfade();
    EXPECT_EQ(store->status(), "Автоматический кроссфейд включён");
    EXPECT_EQ(lastStep(), "Автоматический кроссфейд");
    store->undo();
    EXPECT_FALSE(store->session().autoCrossfade);

    store->setBusy(true);
    EXPECT_FALSE(store->canMoveLane(rows[0], -1));
}
