// Undo history, selection validation and the one-clip / one-row edit helpers.

#include <cmath>
#include <deque>
#include <limits>

#include "StoreTestSupport.h"
#include "model/Limits.h"
#include "model/Localization.h"

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

namespace {

constexpr std::int64_t kHalfMinute = 30 * 48000;

// A 3-minute project on three rows of six 30-second clips. Each clip keeps its samples in one
// buffer that both channels share (cheap to build): 103,680,000 bytes held, 207,360,000 when
// every channel of every clip is counted at 8 bytes a frame, as the project's size is.
Session threeMinutesOfEighteenClips(Session s) {
    s.tracks.clear();
    s.lanes.clear();
    for (int row = 0; row < 3; ++row) {
        Lane lane;
        lane.name = "Ряд " + std::to_string(row + 1);
        s.lanes.push_back(std::move(lane));
    }
    for (int i = 0; i < 18; ++i) {
        Track t = Track::make("Клип " + std::to_string(i + 1),
                              AudioData::mono(std::vector<float>(kHalfMinute, 0.01f * float(i + 1))));
        t.start = 30.0 * (i % 6);
        t.laneID = s.lanes[std::size_t(i / 6)].id;
        s.tracks.push_back(std::move(t));
    }
    return s;
}

// Stereo samples in two buffers of their own: 8 bytes a frame held.
AudioData fresh(std::int64_t frames, float value) {
    return AudioData(std::vector<float>(std::size_t(frames), value), std::vector<float>(std::size_t(frames), -value));
}

}  // namespace

TEST_F(StoreHistory, StepsThatShareTheAudioKeepTwelveInAThreeMinuteProject) {
    store->setSession(threeMinutesOfEighteenClips(store->session()));
    store->setSnapping(false);
    ASSERT_EQ(store->session().duration(), 180.0);
    ASSERT_GT(store->session().bytes(), 200'000'000);
    auto clipID = [this](int i) { return store->session().tracks[std::size_t(i)].id; };

    // Markers, moves and gains change no sample: the snapshots share every buffer.
    for (int i = 0; i < 5; ++i) {
        store->setCursor(10.0 + 30.0 * i);
        store->addMarker();
    }
    for (int i : {5, 11, 17, 5, 11}) {
        store->beginTrackDrag(clipID(i));
        store->dragTrack(clipID(i), 1.5, 0);
        store->endTrackDrag();
    }
    for (int i = 0; i < 5; ++i) store->setClipGain(clipID(i), -3.0 - i);
    ASSERT_EQ(store->session().tracks[5].start, 153.0);
    EXPECT_EQ(store->undoNames().size(), 12u);
    EXPECT_EQ(store->undoNames().front(), L("Добавление маркера"));
    EXPECT_TRUE(store->olderStepsDropped());

    // A clip cut to 10 ms by a drag along its end, then five markers: the cut can still be undone.
    const Uuid cut = clipID(7);
    store->beginTrim(cut, ClipEdge::end);
    store->dragTrim(cut, -29.99);
    store->endTrim();
    ASSERT_EQ(store->session().track(cut)->frames(), 480);
    for (int i = 0; i < 5; ++i) {
        store->setCursor(1.0 + i);
        store->addMarker();
    }
    EXPECT_EQ(store->undoNames().size(), 12u);
    for (int i = 0; i < 6; ++i) store->undo();
    EXPECT_EQ(store->session().track(cut)->frames(), kHalfMinute);
    EXPECT_FALSE(store->session().track(cut)->tailHandle);
    EXPECT_EQ(store->session().markers.size(), 5u);
    EXPECT_EQ(store->undoNames().size(), 6u);

    // A new project starts a history that reaches back to its beginning.
    store->setDirty(false);  // no question about the changes
    store->loadDemo();
    fx.settle();
    EXPECT_FALSE(store->olderStepsDropped());
}

TEST_F(StoreHistory, TheHistoryCountsEachSampleBufferItKeepsOnce) {
    // A mono clip (one buffer for both channels) with both handles, and a stereo clip.
    Track mono;
    mono.audio = AudioData::mono(std::vector<float>(1000, 0.5f));
    mono.headHandle = AudioData::mono(std::vector<float>(300, 0.5f));
    mono.tailHandle = fresh(200, 0.5f);
    Track stereo;
    stereo.audio = fresh(100, 0.25f);
    Session first;
    first.tracks = {mono};
    Session second = first;  // a step that wrote no samples
    second.tracks.push_back(stereo);
    Session third = second;  // a step that wrote the stereo clip's samples
    third.tracks[1].audio = fresh(100, 0.75f);
    std::deque<HistoryEntry> stack{{first, "1"}, {second, "2"}, {third, "3"}};
    EXPECT_EQ(StudioStore::historyBytes(stack), (1000 + 300 + 2 * 200 + 2 * 100 + 2 * 100) * 4);
}

TEST_F(StoreHistory, EditsThatWriteSamplesStillDropTheOldestStepsPastTheBudget) {
    // A 4-minute stereo clip: 92,160,000 bytes. Each step that writes samples leaves a new pair of
    // buffers behind; five fit into 512 MiB, six do not.
    constexpr std::int64_t frames = limits::kMaxFrames / 2;
    Track big;
    big.name = "Длинный";
    big.audio = fresh(frames, 0.1f);
    setClips({big});
    const Uuid id = store->session().tracks[0].id;
    std::vector<AudioData> written;
    auto rewrite = [&](const std::string& name, float value) {
        store->checkpoint(name);
        Session s = store->session();
        s.tracks[0].audio = fresh(frames, value);
        written.push_back(s.tracks[0].audio);
        store->setSession(std::move(s));
    };
    for (int i = 1; i <= 5; ++i) rewrite("Шаг " + std::to_string(i), 0.1f * float(i));
    EXPECT_EQ(store->undoNames(), names(1, 5));
    EXPECT_FALSE(store->olderStepsDropped());

    // A trim moves nearly all of the clip into a new handle: the sixth buffer pair drops step 1
    // when the trim is recorded, and step 2 when a marker records the trimmed clip.
    store->setSnapping(false);
    store->beginTrim(id, ClipEdge::end);
    store->dragTrim(id, -239.0);
    store->endTrim();
    ASSERT_TRUE(store->session().track(id)->tailHandle);
    EXPECT_EQ(store->undoNames().size(), 5u);
    EXPECT_EQ(store->undoNames().front(), "Шаг 2");
    EXPECT_TRUE(store->olderStepsDropped());
    store->addMarker();
    EXPECT_EQ(store->undoNames().front(), "Шаг 3");
    // More markers share what is already counted.
    store->setCursor(0.5);
    store->addMarker();
    EXPECT_EQ(store->undoNames().size(), 6u);
    EXPECT_EQ(store->undoNames().front(), "Шаг 3");

    // A project whose own audio passes the budget keeps exactly its newest step: the five written
    // buffer pairs and the trimmed clip.
    std::vector<Track> clips{*store->session().track(id)};
    for (const AudioData& audio : written) {
        Track t;
        t.name = "Копия";
        t.audio = audio;
        clips.push_back(std::move(t));
    }
    written.clear();
    setClips(std::move(clips));
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
    EXPECT_EQ(store->status(), "Готово");
    store->transport().stopRecording();  // nothing captured: its failure is the status then
    EXPECT_EQ(store->undoNames(), std::vector<std::string>{"Шаг"});
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
