// Playback commands over the Null backend, with the render run by hand.

#include "StoreTestSupport.h"
#include "model/StudioError.h"

#include <chrono>
#include <thread>

using namespace tessoral;
using namespace tessoral::test;

namespace {

class StorePlayback : public StoreTest {
protected:
    // A 10-second project of two clips on their own rows.
    void SetUp() override { setClips({clip("A", 480000, 0.0), clip("B", 240000, 2.0)}); }

    // Play, let the render run, and report where the transport started.
    double playStart() {
        store->playPause();
        fx.tasks.runAll();
        EXPECT_TRUE(store->transport().playing());
        return store->transport().position();
    }
};

}  // namespace

TEST_F(StorePlayback, BusyWithItsStatusUntilTheRenderRuns) {
    store->setCursor(3.0);
    store->playPause();
    EXPECT_TRUE(store->busy());
    EXPECT_TRUE(store->locked());
    EXPECT_EQ(store->status(), "Подготовка воспроизведения…");
    EXPECT_EQ(fx.tasks.nextPriority(), TaskPriority::userInitiated);
    store->seek(1.0);  // ignored while busy
    EXPECT_EQ(fx.tasks.pending(), 1u);
    EXPECT_EQ(store->cursor(), 3.0);
    // Space again, or Stop, before the device has opened: it never starts, says so and frees the
    // store at once; the next Space prepares anew while the dropped opening still waits, and is
    // not ended by it.
    for (void (StudioStore::*again)() : {&StudioStore::playPause, &StudioStore::stop}) {
        (store.get()->*again)();
        EXPECT_EQ(store->status(), "Остановлено");
        EXPECT_FALSE(store->busy());
        store->playPause();
        EXPECT_TRUE(store->busy());
        EXPECT_EQ(store->status(), "Подготовка воспроизведения…");
        fx.tasks.runNext();
        EXPECT_TRUE(store->busy() && !store->transport().playing());
        EXPECT_EQ(store->status(), "Подготовка воспроизведения…");
        for (int i = 0; i < 5000 && fx.backend.openStreams() > 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(fx.backend.openStreams(), 0);
    }

    fx.tasks.runAll();
    EXPECT_FALSE(store->busy());
    EXPECT_TRUE(store->transport().playing());
    EXPECT_EQ(store->transport().position(), 3.0);
    EXPECT_EQ(store->status(), "Воспроизведение");

    // Pause keeps the playhead as the cursor. It answers at once even when the device does not
    // stop (a sound server that no longer answers), and Space after it plays anew; so does Stop.
    fx.backend.pump(48000);
    fx.scheduler.advance();
    fx.backend.holdStops(true);
    for (void (StudioStore::*press)() : {&StudioStore::playPause, &StudioStore::stop}) {
        const auto pressed = std::chrono::steady_clock::now();
        (store.get()->*press)();
        EXPECT_LT(std::chrono::steady_clock::now() - pressed, std::chrono::seconds(1));
        EXPECT_FALSE(store->transport().playing());
        EXPECT_NEAR(store->cursor(), 4.0, 0.05);
        EXPECT_EQ(store->status(), press == &StudioStore::stop ? "Остановлено" : "Пауза");
        EXPECT_EQ(playStart(), store->cursor());
    }
    store->playPause();
    fx.backend.holdStops(false);
    EXPECT_TRUE(store->transport().waitUntilStopped(std::chrono::seconds(60)));
    EXPECT_EQ(fx.backend.openStreams(), 0);

    // A device that stops calling ends playback where it was last heard, not at its start.
    playStart();
    fx.backend.pump(48000);
    fx.scheduler.advanceBy(1.0);
    fx.scheduler.advanceBy(8.5);
    EXPECT_FALSE(store->transport().playing());
    EXPECT_NEAR(store->playhead(), 5.0, 0.05);
    EXPECT_EQ(store->status(), "Звуковой сервер не отвечает или завершил работу: воспроизведение остановлено.");
    EXPECT_FALSE(store->error());  // no alert for the next Space to close first
    EXPECT_FALSE(store->busy());
}

TEST_F(StorePlayback, StartFollowsTheCursorTheSelectionAndLoop) {
    // Cursor at the end, no selection: from 0.
    store->setCursor(10.0);
    EXPECT_EQ(playStart(), 0.0);
    store->stop();
    EXPECT_EQ(store->status(), "Остановлено");

    // Cursor inside the selection: from the cursor; with loop on: from the selection's start.
    store->setSelection(TimeRange{2.0, 5.0});
    store->setCursor(3.0);
    EXPECT_EQ(playStart(), 3.0);
    store->stop();
    store->setSelection(TimeRange{2.0, 5.0});
    store->setCursor(3.0);
    store->setLoop(true);
    EXPECT_EQ(playStart(), 2.0);
    store->stop();

    // Cursor before the selection: from its start.
    store->setLoop(false);
    store->setCursor(1.0);
    EXPECT_EQ(playStart(), 2.0);
    store->stop();
}

TEST_F(StorePlayback, WaveformModePlaysTheSelectedClipFromItsStart) {
    const Uuid b = store->session().tracks[1].id;
    store->setSelectedID(b);
    store->setEditorMode(EditorMode::waveform);
    store->setCursor(0.5);  // before the clip: raised to its start
    EXPECT_EQ(playStart(), 2.0);
    store->stop();
    store->setCursor(7.0);  // at the clip's end: from its start
    EXPECT_EQ(playStart(), 2.0);
}

TEST_F(StorePlayback, PeaksAboveFullScaleWarn) {
    setClips({clip("Громкий", 48000)});
    Session loud = store->session();
    loud.tracks[0].audio = constant(48000, 1.5f);
    store->setSession(loud);
    playStart();
    EXPECT_EQ(store->status(), "Пики выше 0 dB: уменьшите громкость микса");
    store->stop();  // one loud sample, negative and the right channel's last, warns too
    std::vector<float> quiet(48000, 0.5f), right = quiet;
    right.back() = -1.5f;
    loud.tracks[0].audio = AudioData(quiet, right);
    store->setSession(loud);
    playStart();
    EXPECT_EQ(store->status(), "Пики выше 0 dB: уменьшите громкость микса");
}

TEST_F(StorePlayback, NothingToPlayOrAFailingStartLeavesTheStoreUsable) {
    store->setSelection(TimeRange{20.0, 30.0});  // beyond the project: start is not before the end
    store->playPause();
    EXPECT_FALSE(store->busy());
    EXPECT_EQ(fx.tasks.pending(), 0u);

    // An output that does not open is said in the status line: no alert waits for the next Space,
    // which tries again.
    store->setSelection(std::nullopt);
    fx.backend.failNextOpen("нет устройства");
    store->playPause();
    fx.tasks.runAll();
    EXPECT_FALSE(store->busy());
    EXPECT_FALSE(store->transport().playing());
    EXPECT_FALSE(store->error());
    EXPECT_NE(store->status().find("нет устройства"), std::string::npos);
    playStart();
}

TEST_F(StorePlayback, SeekClampsAndRestartsPlayback) {
    store->seek(-4.0);
    EXPECT_EQ(store->cursor(), 0.0);
    store->seek(99.0);
    EXPECT_EQ(store->cursor(), 10.0);
    store->setCursor(1.0);
    playStart();
    store->seek(6.0);
    EXPECT_TRUE(store->busy());  // rendering anew from the new cursor
    fx.tasks.runAll();
    EXPECT_EQ(store->transport().position(), 6.0);
}

TEST_F(StorePlayback, NaturalEndMovesTheCursorThere) {
    store->setSelection(TimeRange{9.5, 10.0});
    playStart();
    fx.backend.pump(48000);
    fx.scheduler.advance(3);
    EXPECT_FALSE(store->transport().playing());
    EXPECT_NEAR(store->cursor(), 10.0, 1e-9);
    EXPECT_EQ(store->status(), "Воспроизведение завершено");
}

TEST_F(StorePlayback, ASelectionPlaysToItsEndOrLoopsInsideIt) {
    // Two seconds inside a ten-second project: playback stops at the selection's end, well
    // before the project's.
    store->setSelection(TimeRange{2.0, 4.0});
    store->setCursor(2.0);
    EXPECT_EQ(playStart(), 2.0);
    for (int second = 0; second < 3; ++second) {
        fx.backend.pump(48000);
        fx.scheduler.advance(3);
    }
    EXPECT_FALSE(store->transport().playing());
    EXPECT_NEAR(store->cursor(), 4.0, 1e-9);
    EXPECT_EQ(store->status(), "Воспроизведение завершено");

    // With loop on, the same selection plays over and over, the playhead never leaving it.
    store->setSelection(TimeRange{2.0, 4.0});
    store->setLoop(true);
    EXPECT_EQ(playStart(), 2.0);
    for (int half = 0; half < 11; ++half) {
        fx.backend.pump(24000);
        fx.scheduler.advance(3);
        ASSERT_TRUE(store->transport().playing()) << "after " << (half + 1) * 0.5 << " s";
        EXPECT_GE(store->transport().position(), 2.0);
        EXPECT_LT(store->transport().position(), 4.0);
    }
    EXPECT_EQ(store->status(), "Воспроизведение");
}

TEST_F(StorePlayback, StopWhenIdleSetsNoStatusAndCancelsNothingElse) {
    store->stop();
    EXPECT_EQ(store->status(), "Готово");
    // Stopping a recording hands over the take, or its failure, instead of setting a status.
    startRecording(0.0);
    store->stop();
    EXPECT_FALSE(store->transport().recording());
    EXPECT_EQ(store->status(), "Запись не содержит звука. Проверьте выбранный микрофон.");
}
