// Clipboard, selection and markers: copy and cut into the store's own clipboard, synchronous paste
// with its limits and envelope shift, the selection fields, the master gain and markers.

#include "StoreTestSupport.h"
#include "model/Limits.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

// Audio whose left channel counts frames (i × 1e-6) and whose right channel is its negative.
AudioData counting(std::int64_t frames, std::int64_t from = 0) {
    std::vector<float> l(static_cast<std::size_t>(frames)), r(static_cast<std::size_t>(frames));
    for (std::int64_t i = 0; i < frames; ++i) {
        l[static_cast<std::size_t>(i)] = static_cast<float>(from + i) * 1e-6f;
        r[static_cast<std::size_t>(i)] = -l[static_cast<std::size_t>(i)];
    }
    return AudioData(std::move(l), std::move(r));
}

class StoreClipboard : public StoreTest {
protected:
    // One 2-second clip at 1 s, selected.
    void SetUp() override {
        Track a = Track::make("A", counting(96000));
        a.start = 1.0;
        setClips({a});
        store->setSelectedID(a.id);
    }
    const Track& clipA() const { return store->session().tracks[0]; }
};

}  // namespace

TEST_F(StoreClipboard, CopyTakesTheSelectionOrTheWholeClipWithoutAnUndoStep) {
    store->setSelection(TimeRange{1.5, 2.0});
    store->copy(false);
    ASSERT_TRUE(store->clipboard());
    EXPECT_EQ(*store->clipboard(), counting(24000, 24000));
    EXPECT_EQ(store->status(), "Фрагмент скопирован");
    EXPECT_TRUE(store->undoNames().empty());

    store->setSelection(std::nullopt);
    store->copy(false);
    EXPECT_EQ(store->clipboard()->frames(), 96000);

    // A selection wholly outside the clip: nothing, not even a status.
    store->setStatus("—");
    store->setSelection(TimeRange{5.0, 6.0});
    store->copy(false);
    store->copy(true);
    EXPECT_EQ(store->clipboard()->frames(), 96000);
    EXPECT_EQ(store->status(), "—");
    EXPECT_EQ(store->session().tracks.size(), 1u);
}

TEST_F(StoreClipboard, CutOfTheWholeClipRemovesItAndOfAPartDeletesThePart) {
    store->copy(true);
    EXPECT_EQ(store->clipboard()->frames(), 96000);
    EXPECT_TRUE(store->session().tracks.empty());
    EXPECT_EQ(store->status(), "Клип удалён");
    EXPECT_EQ(store->undoNames().size(), 1u);

    // A selection covering the clip exactly does the same.
    store->undo();
    store->setSelectedID(clipA().id);
    store->setSelection(TimeRange{1.0, 3.0});
    store->copy(true);
    EXPECT_TRUE(store->session().tracks.empty());

    // A part of it is deleted from the clip.
    store->undo();
    store->setSelectedID(clipA().id);
    store->setSelection(TimeRange{1.5, 2.0});
    store->copy(true);
    fx.tasks.runAll();
    EXPECT_EQ(clipA().frames(), 72000);
    EXPECT_EQ(clipA().audio.left[24000], counting(1, 48000).left[0]);
    EXPECT_EQ(store->status(), "Удалить фрагмент");
    EXPECT_EQ(store->clipboard()->frames(), 24000);
}

TEST_F(StoreClipboard, CutOfASpectralAreaIsRefused) {
    store->setSpectralView(true);
    store->setSelection(TimeRange{1.5, 2.0});
    store->setFreqSelection(ClosedRange{100, 1000});
    store->copy(true);
    EXPECT_EQ(store->error(),
              "Вырезать можно только фрагмент по времени. Чтобы убрать выделенную область спектра, нажмите Delete.");
    EXPECT_FALSE(store->clipboard());
    // A plain copy in that state copies the time range.
    store->copy(false);
    EXPECT_EQ(store->clipboard()->frames(), 24000);
}

TEST_F(StoreClipboard, PasteInsertsAtTheCursorAndCanBeRepeated) {
    store->setClipboard(constant(4800, 0.75f));
    store->setCursor(0.0);  // before the clip: at its first frame
    store->paste();
    EXPECT_EQ(clipA().frames(), 96000 + 4800);
    EXPECT_EQ(clipA().audio.left[0], 0.75f);
    EXPECT_EQ(clipA().audio.left[4800], 0.0f);
    EXPECT_EQ(store->status(), "Фрагмент вставлен");
    store->paste();
    EXPECT_EQ(clipA().frames(), 96000 + 9600);
    EXPECT_EQ(store->undoNames(), (std::vector<std::string>{"Вставка", "Вставка"}));
    EXPECT_TRUE(store->clipboard());

    // After the end: appended.
    store->setCursor(100.0);
    store->paste();
    EXPECT_EQ(clipA().frames(), 96000 + 14400);
    EXPECT_EQ(clipA().audio.left[96000 + 14400 - 1], 0.75f);
    EXPECT_EQ(clipA().peaks.toVector(), clipA().audio.peaks(limits::kPeakBins));  // drawing caches follow
}

TEST_F(StoreClipboard, PasteShiftsTheEnvelopesAndClearsTheSelection) {
    Session s = store->session();
    s.tracks[0].volumeEnvelope = {{0.5, -6.0}, {1.5, 0.0}};
    s.tracks[0].headHandle = constant(480);
    store->setSession(s);
    store->setClipboard(constant(48000));
    store->setCursor(2.0);  // 1 s into the clip
    store->setSelection(TimeRange{1.2, 1.4});
    store->paste();
    const Envelope& env = clipA().volumeEnvelope;
    ASSERT_FALSE(env.empty());
    EXPECT_EQ(env.front().time, 0.5);
    EXPECT_EQ(env.back().time, 2.5);  // moved later by the inserted second
    EXPECT_FALSE(clipA().headHandle);
    EXPECT_FALSE(store->selection());
}

TEST_F(StoreClipboard, PastePastTheTimelineEndChangesNothing) {
    Session s = store->session();
    s.tracks[0].start = 477.5;  // ends at 479.5
    store->setSession(s);
    store->setClipboard(constant(48000));
    store->setCursor(479.5);
    const Session before = store->session();
    store->paste();
    EXPECT_EQ(store->error(), "Длина проекта ограничена 8 минутами.");
    EXPECT_EQ(store->session(), before);
    EXPECT_TRUE(store->undoNames().empty());

    // As a new clip too.
    store->setError(std::nullopt);
    store->setSelectedID(std::nullopt);
    store->paste();
    EXPECT_EQ(store->error(), "Длина проекта ограничена 8 минутами.");
    EXPECT_EQ(store->session(), before);
    EXPECT_TRUE(store->undoNames().empty());
}

TEST_F(StoreClipboard, PasteWithNothingSelectedMakesAClipOnANewRow) {
    store->setSelectedID(std::nullopt);
    store->setSelectedLaneID(std::nullopt);
    store->setClipboard(constant(4800));
    store->setCursor(2.5);
    store->paste();
    ASSERT_EQ(store->session().tracks.size(), 2u);
    const Track& pasted = store->session().tracks[1];
    EXPECT_EQ(pasted.name, "Фрагмент");
    EXPECT_EQ(pasted.start, 2.5);
    EXPECT_EQ(store->session().lanes.size(), 2u);
    EXPECT_EQ(store->selectedID(), pasted.id);
    EXPECT_EQ(store->selectedLaneID(), pasted.laneID);
    EXPECT_EQ(store->undoNames(), std::vector<std::string>{"Вставка"});
}

TEST_F(StoreClipboard, PasteBeyondTheMemoryBudgetKeepsPlaying) {
    store->playPause();
    fx.tasks.runAll();
    ASSERT_TRUE(store->transport().playing());
    // Clips sharing one set of samples fill the budget to 4799 frames of room.
    Session s = store->session();
    Track big = Track::make("big", AudioData::mono(std::vector<float>(2'400'000, 0.1f)));
    std::int64_t room = limits::kMaxBytes / 8 - 96000;
    for (; room >= 2'400'000; room -= 2'400'000) {
        big.id = Uuid::random();
        s.tracks.push_back(big);
    }
    s.tracks.push_back(Track::make("rest", big.audio.slice({0, room - 4799})));
    store->setSession(s);
    ASSERT_EQ(store->session().bytes(), limits::kMaxBytes - 4799 * 8);
    store->setClipboard(constant(4800));
    store->paste();
    EXPECT_EQ(store->error(), "Недостаточно памяти проекта.");
    EXPECT_TRUE(store->transport().playing());
    store->stop();
}

TEST_F(StoreClipboard, SelectAllAndTheSelectionFields) {
    store->selectAll();
    EXPECT_EQ(*store->selection(), (TimeRange{1.0, 3.0}));
    EXPECT_EQ(store->cursor(), 1.0);

    // A reversed end swaps the ends; the cursor goes to the smaller.
    store->setSelectionBoundary(std::nullopt, 0.5);
    EXPECT_EQ(*store->selection(), (TimeRange{0.5, 1.0}));
    EXPECT_EQ(store->cursor(), 0.5);
    store->setSelectionBoundary(kNaN, 99.0);
    EXPECT_EQ(*store->selection(), (TimeRange{0.0, 3.0}));
    EXPECT_TRUE(store->undoNames().empty());
}

TEST_F(StoreClipboard, MasterGainIsOneUndoStepPerCall) {
    store->setMaster(-3.0);
    store->setMaster(-3.0);
    EXPECT_EQ(store->session().masterDB, -3.0);
    EXPECT_EQ(store->undoNames(), (std::vector<std::string>{"Громкость микса", "Громкость микса"}));
}

TEST_F(StoreClipboard, MarkersAreAddedSortedAndNamedByCount) {
    store->setCursor(2.0);
    store->addMarker();
    store->setCursor(1.0);
    store->addMarker();
    store->setSelection(TimeRange{1.0, 1.5});
    store->addMarker();
    const auto& m = store->session().markers;
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[0].name, "Маркер 2");
    EXPECT_EQ(m[1].name, "Маркер 3");  // same start: after the existing one
    EXPECT_EQ(m[1].end, 1.5);
    EXPECT_EQ(m[2].name, "Маркер 1");
    EXPECT_EQ(store->status(), "Маркер: 00:01.000");
    EXPECT_EQ(store->undoNames().size(), 3u);

    // An empty project gets none.
    store->setSession(Session{});
    store->addMarker();
    EXPECT_TRUE(store->session().markers.empty());
}

TEST_F(StoreClipboard, TheThousandAndFirstMarkerIsIgnored) {
    Session s = store->session();
    for (int i = 0; i < limits::kMaxMarkers; ++i) s.markers.push_back(SessionMarker{Uuid::random(), "m", 0.001 * i, {}});
    store->setSession(s);
    store->addMarker();
    EXPECT_EQ(store->session().markers.size(), 1000u);
    EXPECT_TRUE(store->undoNames().empty());
}

TEST_F(StoreClipboard, MWhilePlayingAddsAPointAtThePlayPosition) {
    store->setSelection(TimeRange{1.0, 2.0});
    store->setCursor(1.0);
    store->playPause();
    fx.tasks.runAll();
    ASSERT_TRUE(store->transport().playing());
    fx.backend.pump(24000);
    fx.scheduler.advanceBy(0.5);
    const double position = store->transport().position();
    ASSERT_GT(position, 1.0);
    store->addMarker();
    EXPECT_TRUE(store->transport().playing());  // playback goes on
    ASSERT_EQ(store->session().markers.size(), 1u);
    EXPECT_EQ(store->session().markers[0].start, position);
    EXPECT_FALSE(store->session().markers[0].end);
    store->stop();
}

TEST_F(StoreClipboard, RenameRemoveAndGoTo) {
    store->setSelection(TimeRange{1.5, 9.0});
    store->addMarker();
    const SessionMarker marker = store->session().markers[0];

    store->renameMarker(marker.id, " \t ");
    store->renameMarker(marker.id, marker.name);  // unchanged: no step
    EXPECT_EQ(store->undoNames().size(), 1u);
    store->renameMarker(marker.id, "  Припев ");
    EXPECT_EQ(store->session().markers[0].name, "  Припев ");
    EXPECT_EQ(store->undoNames().back(), "Название маркера");

    // Going to a range marker selects it within the project; to a point clears the selection.
    store->setSelection(std::nullopt);
    store->goToMarker(store->session().markers[0]);
    EXPECT_EQ(*store->selection(), (TimeRange{1.5, 3.0}));
    EXPECT_EQ(store->cursor(), 1.5);
    store->setFreqSelection(ClosedRange{10, 20});
    store->goToMarker(SessionMarker{Uuid::random(), "p", 2.0, {}});
    EXPECT_FALSE(store->selection());
    EXPECT_FALSE(store->freqSelection());
    EXPECT_EQ(store->cursor(), 2.0);

    store->removeMarker(Uuid::random());  // the step is taken anyway
    EXPECT_EQ(store->undoNames().size(), 3u);
    store->removeMarker(marker.id);
    EXPECT_TRUE(store->session().markers.empty());
    EXPECT_EQ(store->undoNames().back(), "Удаление маркера");
}
