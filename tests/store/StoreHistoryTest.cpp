// Undo history, selection validation and the one-clip / one-row edit helpers.

#include <cmath>
#include <limits>

#include "StoreTestSupport.h"
#include "model/Limits.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

using StoreHistory = StoreTest;

std::vector<std::string> names(int from, int to) {
    std::vector<std::string> out;
    for (int i = from; i <= to; ++i) out.push_back("Шаг " + std::to_string(i));
    return out;
}

}  // namespace

TEST_F(StoreHistory, KeepsTheLastTwelveStepsAndEmptiesRedoOnANewStep) {
    for (int i = 1; i <= 13; ++i) edit("Шаг " + std::to_string(i));
    EXPECT_EQ(store->undoNames(), names(2, 13));
    EXPECT_EQ(store->editCounter(), 13);
    EXPECT_TRUE(store->dirty());

    store->undo();
    store->undo();
    EXPECT_EQ(store->undoNames(), names(2, 11));
    EXPECT_EQ(store->redoNames(), (std::vector<std::string>{"Шаг 13", "Шаг 12"}));
    EXPECT_EQ(store->status(), "Отменено: Шаг 12");
    EXPECT_EQ(store->session().tracks.size(), 11u);
    store->redo();
    EXPECT_EQ(store->status(), "Повторено: Шаг 12");
    EXPECT_EQ(store->session().tracks.size(), 12u);
    EXPECT_EQ(store->editCounter(), 16);
    edit("Новый");
    EXPECT_TRUE(store->redoNames().empty());
    EXPECT_EQ(store->undoNames().size(), 12u);
}

TEST_F(StoreHistory, AudioBeyondTheBudgetDropsTheOldestSteps) {
    // One 8-minute clip: 184,320,000 bytes per snapshot; three exceed 512 MiB, two do not.
    setClips({clip("Длинный", limits::kMaxFrames)});
    for (int i = 1; i <= 3; ++i) store->checkpoint("Шаг " + std::to_string(i));
    EXPECT_EQ(store->undoNames(), names(2, 3));

    // A project over the budget alone keeps exactly its newest step.
    setClips({clip("A", limits::kMaxFrames), clip("B", limits::kMaxFrames), clip("C", limits::kMaxFrames)});
    store->checkpoint("Один");
    store->checkpoint("Два");
    EXPECT_EQ(store->undoNames(), std::vector<std::string>{"Два"});
}

TEST_F(StoreHistory, UndoAndRedoAfterASaveMarkTheProjectUnsaved) {
    edit("Шаг");
    fx.prompts.saveAnswers.push_back(fx.home.path() / "Проект");
    ASSERT_TRUE(store->saveProject(false));
    ASSERT_FALSE(store->dirty());
    store->undo();
    EXPECT_TRUE(store->dirty());
    // The quit question now asks about the undone step.
    fx.prompts.alertAnswers.push_back(1);  // "Отмена"
    EXPECT_FALSE(store->allowDiscard());
    EXPECT_EQ(fx.prompts.alerts.size(), 1u);

    ASSERT_TRUE(store->saveProject(false));
    ASSERT_FALSE(store->dirty());
    store->redo();
    EXPECT_TRUE(store->dirty());
}

TEST_F(StoreHistory, UndoIsSilentWhenEmptyBusyOrRecording) {
    store->undo();
    EXPECT_EQ(store->status(), "Готово");
    edit("Шаг");
    store->setBusy(true);
    store->undo();
    store->setBusy(false);
    startRecording(0.0);
    store->undo();
    store->transport().stopRecording();
    EXPECT_EQ(store->undoNames(), std::vector<std::string>{"Шаг"});
    EXPECT_EQ(store->status(), "Готово");
}

TEST_F(StoreHistory, UndoWhilePlayingStopsAndValidatesAgainstThePlayhead) {
    // Before the change: clips A (0…10 s) and B (10…20 s) on one row.
    setClips({clip("A", 480000, 0.0), clip("B", 480000, 10.0)});
    Session before = store->session();
    before.tracks[1].laneID = before.tracks[0].laneID;
    before.lanes.resize(1);
    store->setSession(before);
    const Uuid row = before.lanes[0].id;
    const Uuid b = before.tracks[1].id;

    // The change replaces both by one clip C (0…20 s) on the same row, selected.
    store->checkpoint("Удаление клипа");
    Session after = store->session();
    Track c = clip("C", 960000, 0.0);
    c.laneID = row;
    after.tracks = {c};
    store->setSession(after);
    store->setSelectedID(c.id);
    store->setCursor(12.0);

    store->playPause();
    fx.tasks.runAll();
    ASSERT_TRUE(store->transport().playing());
    fx.backend.pump(24000);
    fx.scheduler.advance();
    const double playhead = store->transport().position();
    EXPECT_NEAR(playhead, 12.5, 0.05);

    store->setSelection(TimeRange{1, 2});
    store->undo();
    EXPECT_FALSE(store->transport().playing());
    EXPECT_EQ(store->cursor(), playhead);
    EXPECT_EQ(store->selectedID(), b);  // the row's clip under the playhead
    EXPECT_EQ(store->selectedLaneID(), row);
    EXPECT_FALSE(store->selection());
    EXPECT_EQ(store->redoNames(), std::vector<std::string>{"Удаление клипа"});
}

TEST_F(StoreHistory, ValidateSelectionFallsBackToTheRowThenTheFirstClipThenTheFirstRow) {
    setClips({clip("A", 48000, 0.0), clip("B", 48000, 5.0)});
    const Session two = store->session();

    // The selected row lost its only clip: no clip, the row stays selected.
    Session emptied = two;
    emptied.tracks.erase(emptied.tracks.begin() + 1);
    store->setSelectedID(two.tracks[1].id);
    store->setSession(emptied);
    store->validateSelection();
    EXPECT_FALSE(store->selectedID());
    EXPECT_EQ(store->selectedLaneID(), two.lanes[1].id);

    // No row selected: the first clip (and its row).
    store->setSelectedLaneID(std::nullopt);
    store->validateSelection();
    EXPECT_EQ(store->selectedID(), two.tracks[0].id);
    EXPECT_EQ(store->selectedLaneID(), two.lanes[0].id);

    // No clips at all: the first row.
    Session rowsOnly = two;
    rowsOnly.tracks.clear();
    store->setSession(rowsOnly);
    store->setSelectedLaneID(std::nullopt);
    store->validateSelection();
    EXPECT_FALSE(store->selectedID());
    EXPECT_EQ(store->selectedLaneID(), two.lanes[0].id);
}

TEST_F(StoreHistory, ValidateSelectionClampsTheCursorAndDropsStaleSpectrograms) {
    setClips({clip("A", 48000)});
    const Uuid kept = store->session().tracks[0].id;
    std::map<Uuid, SpectrogramEntry> images{{kept, {}}, {Uuid::random(), {}}};
    store->setSpectrograms(images);
    store->setCursor(7.0);
    store->setSelection(TimeRange{0.1, 0.2});
    store->validateSelection();
    EXPECT_EQ(store->cursor(), 1.0);
    EXPECT_FALSE(store->selection());
    ASSERT_EQ(store->spectrograms().size(), 1u);
    EXPECT_EQ(store->spectrograms().begin()->first, kept);
    store->setCursor(-2.0);  // a negative cursor is not raised
    store->validateSelection();
    EXPECT_EQ(store->cursor(), -2.0);
}

// A view passes the id and name straight from the published project, which the change replaces.
TEST_F(StoreHistory, EditHelpersTakeIdsAndNamesThatLiveInsideTheProject) {
    setClips({clip("A", 4800)});
    store->changeTrack(store->session().tracks[0].id, store->session().tracks[0].name,
                       [](Track& t) { t.gainDB = 3; });
    store->changeLane(store->session().lanes[0].id, store->session().lanes[0].name,
                      [](Lane& l) { l.gainDB = 4; });
    EXPECT_EQ(store->session().tracks[0].gainDB, 3.0);
    EXPECT_EQ(store->session().lanes[0].gainDB, 4.0);
    EXPECT_EQ(store->undoNames(), (std::vector<std::string>{"A", store->session().lanes[0].name}));
}
