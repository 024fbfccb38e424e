// Clip and track row commands: row and clip structure, limits, selection, and the named one-step
// edits of the inspector and the row headers.

#include "ClipTestSupport.h"
#include "model/Limits.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

using StoreClips = ClipStoreTest;

}  // namespace

TEST_F(StoreClips, InspectorFieldsAreOneNamedStepEachAndStayInsideTheProject) {
    const auto rows = makeRows(1);
    const Uuid id = addClip(rows[0], 0.0, 480000);  // 10 s

    // An unknown id neither stops playback nor takes a step.
    play();
    store->setClipGain(Uuid::random(), 3.0);
    store->setClipStart(Uuid::random(), 3.0);
    EXPECT_TRUE(store->transport().playing());
    EXPECT_EQ(steps(), 0u);

    store->setClipStart(id, 500.0);
    EXPECT_FALSE(store->transport().playing());
    EXPECT_EQ(track(id).start, 470.0);
    EXPECT_EQ(lastStep(), "Сдвиг клипа");
    store->setClipStart(id, -3.0);
    EXPECT_EQ(track(id).start, 0.0);
    store->setClipStart(id, 2.0);
    store->setClipStart(id, kNaN);
    EXPECT_EQ(track(id).start, 0.0);

    store->setClipGain(id, 30.0);  // the project file holds −60…+24 dB
    EXPECT_EQ(track(id).gainDB, 24.0);
    EXPECT_EQ(lastStep(), "Громкость клипа");
    store->setClipPan(id, -0.25);
    EXPECT_EQ(track(id).pan, -0.25);
    EXPECT_EQ(lastStep(), "Панорама клипа");
    const std::size_t before = steps();
    store->setClipGain(id, kNaN);
    store->setClipPan(id, kInf);
    EXPECT_EQ(steps(), before);
    EXPECT_EQ(track(id).gainDB, 24.0);

    store->setClipMuted(id, true);
    EXPECT_TRUE(track(id).muted);
    EXPECT_EQ(lastStep(), "Выключение клипа");
    store->setClipMuted(id, false);
    EXPECT_EQ(lastStep(), "Включение клипа");

    store->renameClip(id, "  Интервью \n");
    EXPECT_EQ(track(id).name, "Интервью");
    EXPECT_EQ(lastStep(), "Название клипа");
    const std::size_t named = steps();
    store->renameClip(id, "   ");
    store->renameClip(id, "Интервью ");
    EXPECT_EQ(steps(), named);

    // Locked: nothing.
    store->setBusy(true);
    store->setClipMuted(id, true);
    EXPECT_FALSE(track(id).muted);
    EXPECT_EQ(steps(), named);
}

TEST_F(StoreClips, RowHeaderControlsRepairTheirValuesAndUseTheirNames) {
    const auto rows = makeRows(1);
    const Uuid row = rows[0];
    auto lane = [&] { return store->session().lanes[0]; };

    store->setLaneGain(row, 20.0);
    EXPECT_EQ(lane().gainDB, 12.0);
    EXPECT_EQ(lastStep(), "Громкость дорожки");
    store->setLaneGain(row, kNaN);
    EXPECT_EQ(lane().gainDB, 0.0);
    store->setLanePan(row, -3.0);
    EXPECT_EQ(lane().pan, -1.0);
    EXPECT_EQ(lastStep(), "Панорама дорожки");
    store->setLanePan(row, kInf);
    EXPECT_EQ(lane().pan, 0.0);

    store->toggleLaneMute(row);
    EXPECT_TRUE(lane().muted);
    EXPECT_EQ(lastStep(), "Выключение дорожки");
    store->toggleLaneMute(row);
    EXPECT_FALSE(lane().muted);
    EXPECT_EQ(lastStep(), "Выключение дорожки");  // both directions
    store->toggleLaneSolo(row);
    EXPECT_TRUE(lane().solo);
    EXPECT_EQ(lastStep(), "Соло");

    store->renameLane(row, "\tГолос ");
    EXPECT_EQ(lane().name, "Голос");
    EXPECT_EQ(lastStep(), "Название дорожки");
    const std::size_t before = steps();
    store->renameLane(row, "Голос");
    store->renameLane(row, "");
    store->toggleLaneSolo(Uuid::random());
    EXPECT_EQ(steps(), before);
}

TEST_F(StoreClips, NewLaneIsNamedByTheCountAndPlacedAfterTheSelectedRow) {
    auto rows = makeRows(3);
    // Rows numbered 1 and 3 after a deletion: the new one is "Дорожка 3" again, colour 2.
    store->setSelectedLaneID(rows[1]);
    store->removeLane();
    store->setSelectedLaneID(std::nullopt);
    store->newLane();
    const auto& lanes = store->session().lanes;
    ASSERT_EQ(lanes.size(), 3u);
    EXPECT_EQ(lanes[2].name, "Дорожка 3");
    EXPECT_EQ(lanes[2].color, 2);
    EXPECT_EQ(store->selectedLaneID(), lanes[2].id);
    EXPECT_EQ(store->selectedID(), std::nullopt);
    EXPECT_EQ(store->status(), "Добавлена пустая дорожка");
    EXPECT_EQ(lastStep(), "Новая дорожка");

    // With the second of three selected it goes third.
    store->setSelectedLaneID(lanes[1].id);
    const Uuid second = lanes[1].id;
    store->newLane();
    EXPECT_EQ(store->session().lanes[1].id, second);
    EXPECT_EQ(store->session().lanes[2].name, "Дорожка 4");

    // At 32 rows: the error, no step.
    makeRows(limits::kMaxLanes - 4);
    const std::size_t before = steps();
    store->newLane();
    EXPECT_EQ(store->session().lanes.size(), 32u);
    EXPECT_EQ(store->error(), "Можно добавить до 32 дорожек.");
    EXPECT_EQ(steps(), before);
}

TEST_F(StoreClips, DuplicateLaneChecksBothLimitsAndSelectsTheMatchingCopy) {
    const auto rows = makeRows(2);
    const Uuid a = addClip(rows[0], 0.0);
    const Uuid b = addClip(rows[0], 5.0);
    addClip(rows[0], 2.0);  // second by start is this one
    const Uuid other = addClip(rows[1], 0.0);
    (void)a;
    (void)b;

    // 3 clips on the row and 254 in the project: both limits named.
    {
        Session s = store->session();
        const Track filler = s.tracks.back();
        while (s.tracks.size() < 254) {
            Track t = filler;
            t.id = Uuid::random();
            s.tracks.push_back(t);
        }
        store->setSession(std::move(s));
    }
    store->setSelectedLaneID(rows[0]);
    store->duplicateLane();
    EXPECT_EQ(store->error(), "Достигнут предел проекта: 32 дорожек и 256 клипов.");
    EXPECT_EQ(steps(), 0u);
    store->setError(std::nullopt);

    // Back to four clips; the second clip by start selected → the copy's second.
    {
        Session s = store->session();
        s.tracks.resize(4);
        store->setSession(std::move(s));
    }
    const Uuid secondByStart = store->session().clipsInLane(rows[0])[1]->id;
    store->setSelectedID(secondByStart);
    store->duplicateLane();
    ASSERT_EQ(store->session().lanes.size(), 3u);
    const Lane& copy = store->session().lanes[1];
    EXPECT_EQ(copy.name, "Ряд 1 · копия");
    EXPECT_EQ(copy.color, 1);
    const auto copies = store->session().clipsInLane(copy.id);
    ASSERT_EQ(copies.size(), 3u);
    EXPECT_EQ(store->selectedID(), copies[1]->id);
    EXPECT_EQ(copies[1]->start, 2.0);
    EXPECT_EQ(store->selectedLaneID(), copy.id);
    EXPECT_EQ(store->status(), "Дорожка скопирована");
    EXPECT_EQ(lastStep(), "Копия дорожки");

    // A clip of another row selected → the copy's first clip.
    store->setSelectedID(other);
    store->setSelectedLaneID(rows[0]);
    store->duplicateLane();
    const auto again = store->session().clipsInLane(store->session().lanes[1].id);
    EXPECT_EQ(store->selectedID(), again.front()->id);
}

TEST_F(StoreClips, RemoveLaneSelectsTheNeighbourAndItsClipAtTheCursor) {
    const auto rows = makeRows(3);
    addClip(rows[1], 0.0, 48000);
    const Uuid late = addClip(rows[1], 2.0, 48000);
    store->setCursor(2.5);
    store->setSelectedID(std::nullopt);
    store->setSelectedLaneID(rows[2]);
    store->removeLane();
    EXPECT_EQ(store->selectedLaneID(), rows[1]);
    EXPECT_EQ(store->selectedID(), late);
    EXPECT_EQ(store->status(), "Дорожка «Ряд 3» удалена");
    EXPECT_EQ(lastStep(), "Удаление дорожки");

    // The row goes with its clips.
    store->removeLane();
    EXPECT_TRUE(store->session().tracks.empty());
    store->setSelectedLaneID(rows[0]);
    store->removeLane();
    EXPECT_TRUE(store->session().lanes.empty());
    EXPECT_EQ(store->selectedLaneID(), std::nullopt);
    EXPECT_EQ(store->selectedID(), std::nullopt);

    store->undo();
    store->undo();
    EXPECT_EQ(store->session().tracks.size(), 2u);
}

TEST_F(StoreClips, SplitNeedsTheCursorInsideTheClipAndTheClipLimitComesFirst) {
    const auto rows = makeRows(1);
    const Uuid id = addClip(rows[0], 1.0, 48000);
    store->setSelectedID(id);
    auto splitAt = [&](double cursor) {
        store->setError(std::nullopt);
        store->setCursor(cursor);
        store->split();
        return store->error().value_or("");
    };
    const std::string outside = "Поставьте курсор внутри клипа.";
    EXPECT_EQ(splitAt(1.0), outside);
    EXPECT_EQ(splitAt(1.0 + 0.49 / 48000), outside);
    EXPECT_EQ(splitAt(2.0), outside);
    EXPECT_EQ(splitAt(0.5), outside);
    EXPECT_EQ(steps(), 0u);

    store->setSelection(TimeRange{1.0, 1.5});
    EXPECT_EQ(splitAt(1.0 + 1.4 / 48000), "");
    ASSERT_EQ(store->session().tracks.size(), 2u);
    EXPECT_EQ(store->session().tracks[0].frames(), 1);
    const Track& right = store->session().tracks[1];
    EXPECT_EQ(right.frames(), 47999);
    EXPECT_EQ(right.name, "Клип · 2");
    EXPECT_EQ(store->selectedID(), right.id);
    EXPECT_EQ(store->selection(), std::nullopt);
    EXPECT_EQ(store->status(), "Клип разделён");
    EXPECT_EQ(lastStep(), "Разделение");

    // At 256 clips the clip limit, whatever the cursor.
    Session s = store->session();
    while (s.tracks.size() < 256) {
        Track t = s.tracks[0];
        t.id = Uuid::random();
        s.tracks.push_back(t);
    }
    store->setSession(std::move(s));
    EXPECT_EQ(splitAt(0.0), "В проекте может быть до 256 клипов.");
}

TEST_F(StoreClips, DuplicateAndRemoveClip) {
    const auto rows = makeRows(1);
    const Uuid id = addClip(rows[0], 470.0, 480000);  // ends at 480 s
    store->setSelectedID(id);
    store->duplicateClip();
    ASSERT_EQ(store->session().tracks.size(), 2u);
    const Track& copy = store->session().tracks[1];
    EXPECT_EQ(copy.end(), 480.0);
    EXPECT_EQ(copy.name, "Клип · копия");
    EXPECT_EQ(store->selectedID(), copy.id);
    EXPECT_EQ(store->status(), "Клип скопирован");
    EXPECT_EQ(lastStep(), "Копия клипа");

    // Removing both leaves the empty row selected.
    store->removeClip();
    store->setSelectedID(id);
    store->removeClip();
    EXPECT_TRUE(store->session().tracks.empty());
    EXPECT_EQ(store->session().lanes.size(), 1u);
    EXPECT_EQ(store->selectedLaneID(), rows[0]);
    EXPECT_EQ(store->selectedID(), std::nullopt);
    EXPECT_EQ(store->status(), "Клип удалён");
    EXPECT_EQ(lastStep(), "Удаление клипа");
}

TEST_F(StoreClips, SelectLaneAndSwitchMode) {
    const auto rows = makeRows(2);
    const Uuid a = addClip(rows[0], 2.0, 48000);
    const Uuid b = addClip(rows[1], 0.0, 48000);
    store->setSelectedID(a);
    store->selectLane(rows[0], true);  // the selected clip is on it: stays
    EXPECT_EQ(store->selectedID(), a);
    store->selectLane(rows[1], false);
    EXPECT_EQ(store->selectedID(), std::nullopt);
    EXPECT_EQ(store->selectedLaneID(), rows[1]);
    store->selectLane(rows[0], true);
    EXPECT_EQ(store->selectedID(), a);  // the row's first clip (none at the playhead)
    store->setBusy(true);
    store->selectLane(rows[1], true);  // no lock test
    EXPECT_EQ(store->selectedID(), b);
    store->setBusy(false);

    store->setSelectedID(a);
    store->setCursor(0.5);
    store->setSelection(TimeRange{0.0, 1.0});
    store->switchMode(EditorMode::waveform);
    EXPECT_EQ(store->editorMode(), EditorMode::waveform);
    EXPECT_EQ(store->timelineTool(), TimelineTool::select);
    EXPECT_EQ(store->cursor(), 2.0);
    EXPECT_EQ(store->selection(), std::nullopt);

    store->setSelection(TimeRange{0.0, 1.0});
    store->switchMode(EditorMode::mixer);
    EXPECT_EQ(store->timelineTool(), TimelineTool::select);
    EXPECT_TRUE(store->selection().has_value());
    store->switchMode(EditorMode::multitrack);
    EXPECT_EQ(store->timelineTool(), TimelineTool::move);
    EXPECT_EQ(steps(), 0u);
}
