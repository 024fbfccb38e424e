// Recording through the store: planning from the selection, the project's limits, the count-in in
// virtual time, the mix prepared on the task runner, cancellation, and the placement of the take,
// over the Null backend's scripted input pumped by hand.

#include <chrono>

#include "StoreTestSupport.h"
#include "model/Limits.h"
#include "model/Localization.h"
#include "model/ProjectIO.h"
#include "model/RecordingPreferences.h"
#include "transport/NullInputScript.h"

using namespace tessoral;
using namespace tessoral::test;
using namespace std::chrono_literals;

namespace {

constexpr std::int64_t kSlice = 4800;  // 0.1 s

class StoreRecording : public StoreTest {
protected:
    void SetUp() override {
        fx.backend.setDevices({{1, "Null/Input", "Input", 2, 0, 48000.0}, {2, "Null/Output", "Output", 0, 2, 48000.0}});
        fx.defaults.set(AudioDevices::kInputDeviceKey, std::string("Null/Input"));
        // The microphone hears a constant 0.5 for ten minutes.
        fx.backend.setInput(std::make_shared<NullInputScript>(
            std::vector<std::vector<float>>{std::vector<float>(static_cast<std::size_t>(48000 * 10), 0.5f)}));
        prefs(RecordingPreferences::kPlayProjectKey, false);
        prefs(RecordingPreferences::kCountdownKey, 0LL);
    }

    void prefs(const char* key, DefaultsValue value) { fx.defaults.set(key, std::move(value)); }
    static void english(bool on) {
        const char* folder = TESSORAL_SOURCE_DIR "/resources/Localization";
        Localization::use(on ? AppLanguage::english : AppLanguage::russian,
                          on ? Localization::table(AppLanguage::english, folder) : TranslationTable{});
    }

    // Pumps up to `frames` of input in slices, letting the capture catch up and the transport tick
    // after each; stops early once the transport stops by itself. Returns the frames pumped.
    std::int64_t capture(std::int64_t frames) {
        std::int64_t pumped = 0;
        while (pumped < frames && store->transport().recording()) {
            const std::int64_t n = std::min(kSlice, frames - pumped);
            fx.backend.pump(n);
            pumped += n;
            EXPECT_TRUE(store->transport().waitUntilCaptureIdle(5s));
            fx.scheduler.advanceBy(n / 48000.0);
        }
        return pumped;
    }

    // Records `frames` of input and stops; the take is placed by then.
    void recordFor(std::int64_t frames) {
        store->record();
        ASSERT_TRUE(store->transport().recording()) << store->error().value_or("");
        capture(frames);
        store->record();  // pressing record again stops
        ASSERT_FALSE(store->transport().recording());
    }

    // A project whose audio leaves `roomFrames` frames of the memory budget, in clips that share
    // one set of samples.
    void fillMemory(std::int64_t roomFrames) {
        const std::int64_t total = limits::kMaxBytes / 8 - roomFrames;
        const std::int64_t piece = 2'400'000;
        Track big = Track::make("big", AudioData::mono(std::vector<float>(static_cast<std::size_t>(piece), 0.1f)));
        Session s;
        std::int64_t placed = 0;
        while (placed + piece <= total) {
            Track copy = big;
            copy.id = Uuid::random();
            s.tracks.push_back(copy);
            placed += piece;
        }
        if (placed < total) s.tracks.push_back(Track::make("rest", big.audio.slice({0, total - placed})));
        store->setSession(std::move(s));
        ASSERT_EQ(store->session().bytes(), limits::kMaxBytes - roomFrames * 8);
    }

    const Track& newest() const { return store->session().tracks.back(); }
};

}  // namespace

TEST_F(StoreRecording, ShortSelectionRecordsPlainAtTheCursorOnANewRow) {
    setClips({clip("A", 480000, 0.0)});
    store->setSelection(TimeRange{1.0, 1.04});
    store->setCursor(3.0);
    recordFor(24000);

    ASSERT_EQ(store->session().tracks.size(), 2u);
    const Track& take = newest();
    EXPECT_EQ(take.start, 3.0);
    EXPECT_EQ(take.frames(), 24000);
    EXPECT_EQ(take.name, "Запись 2");
    EXPECT_FALSE(take.punchTake);
    EXPECT_EQ(take.audio.left[100], 0.5f);
    EXPECT_EQ(store->session().lanes.size(), 2u);
    EXPECT_EQ(take.laneID, store->session().lanes.back().id);
    EXPECT_EQ(store->selectedID(), take.id);
    EXPECT_EQ(store->selectedLaneID(), take.laneID);
    EXPECT_EQ(store->cursor(), 3.0);
    EXPECT_FALSE(store->selection());
    EXPECT_EQ(store->status(), "Запись добавлена: 00:00.500");
    EXPECT_EQ(store->undoNames(), std::vector<std::string>{"Запись"});

    store->undo();
    EXPECT_EQ(store->session().tracks.size(), 1u);

    // A device that does not stop (a sound server that no longer answers) is left to stop by
    // itself: the take is placed all the same, and the stream goes once the device lets it.
    fx.backend.holdStops(true);
    recordFor(24000);
    EXPECT_EQ(newest().frames(), 24000);
    EXPECT_EQ(fx.backend.openStreams(), 1);
    fx.backend.pump(4800);  // and it may still call in
    fx.backend.holdStops(false);
    for (const auto until = std::chrono::steady_clock::now() + 60s; fx.backend.openStreams() > 0;)
        ASSERT_LT(std::chrono::steady_clock::now(), until) << "the stream was never closed";

    // A device that stops calling ends the take, which the status says kept what came before.
    store->record();
    capture(24000);
    fx.scheduler.advanceBy(8.5);
    EXPECT_FALSE(store->transport().recording());
    EXPECT_EQ(store->status(), "Запись добавлена: 00:00.500 · звуковой сервер перестал отвечать: запись остановлена, "
                               "в дубле первые 00:00.500");
    for (int i = 0; i < 5000 && fx.backend.openStreams() > 0; ++i) std::this_thread::sleep_for(1ms);  // one left to stop
}

TEST_F(StoreRecording, PreRollBeforeZeroStillKeepsTheTakeFromTheSelection) {
    setClips({clip("A", 480000, 0.0)});
    prefs(RecordingPreferences::kPreRollKey, 2LL);
    store->setSelection(TimeRange{1.0, 2.0});  // no clip or row selected: no target
    store->record();
    ASSERT_TRUE(store->transport().recording());
    EXPECT_EQ(store->status(), "Панч-ин: 00:01.000 – 00:02.000");

    // Capture starts at 0 (origin max(1 − 2, 0)) and ends at the punch-out by itself.
    const std::int64_t pumped = capture(5 * 48000);
    EXPECT_FALSE(store->transport().recording());
    EXPECT_LE(pumped, 2 * 48000 + kSlice);

    const Track& take = newest();
    EXPECT_EQ(take.start, 1.0);
    EXPECT_EQ(take.frames(), 48000);
    EXPECT_TRUE(take.punchTake);
    EXPECT_EQ(store->session().lanes.size(), 2u);  // on a new row
    EXPECT_EQ(store->status(), "Запись добавлена: 00:01.000");
    EXPECT_EQ(store->undoNames(), std::vector<std::string>{"Панч-ин"});
    EXPECT_TRUE(store->selection());  // a punch keeps the selection
}

TEST_F(StoreRecording, PunchOverTheSelectedClipReplacesTheWindowInPlace) {
    setClips({clip("A", 480000, 0.0)});
    prefs(RecordingPreferences::kPreRollKey, 0LL);
    store->setSelectedID(store->session().tracks[0].id);
    store->setSelection(TimeRange{2.0, 3.0});
    store->record();
    // An input far faster than real time: 20 s at once, dropped after the punch-out, lose nothing of the take.
    fx.backend.pump(20 * 48000);
    ASSERT_TRUE(store->transport().waitUntilCaptureIdle(5s));
    fx.scheduler.advanceBy(0.1);
    ASSERT_FALSE(store->transport().recording());

    const Session& s = store->session();
    ASSERT_EQ(s.tracks.size(), 2u);
    EXPECT_EQ(s.lanes.size(), 1u);
    EXPECT_EQ(s.tracks[1].laneID, s.tracks[0].laneID);
    EXPECT_EQ(s.tracks[1].start, 2.0);
    EXPECT_EQ(s.tracks[1].frames(), 48000);
    // The clip underneath keeps its length with the window silenced.
    EXPECT_EQ(s.tracks[0].frames(), 480000);
    EXPECT_EQ(s.tracks[0].audio.left[2 * 48000 + 10], 0.0f);
    EXPECT_EQ(s.tracks[0].audio.left[1 * 48000], 0.25f);
    EXPECT_EQ(s.tracks[0].audio.left[3 * 48000 + 10], 0.25f);
    EXPECT_EQ(store->status(), "Панч-ин: заменено 00:01.000");
}

TEST_F(StoreRecording, ClipAndRowLimits) {
    // 255 clips on one row: a punch on one of them is allowed; with 256 it is refused.
    Session s;
    s.lanes.push_back(Lane{});
    for (int i = 0; i < 255; ++i) {
        Track t = clip("c", 4800, i * 0.1);
        t.laneID = s.lanes[0].id;
        s.tracks.push_back(t);
    }
    store->setSession(s);
    store->setSelectedID(s.tracks[0].id);
    store->setSelection(TimeRange{0.0, 0.1});
    store->record();
    EXPECT_TRUE(store->transport().recording());
    EXPECT_FALSE(store->error());
    store->stop();  // nothing captured: no take

    Track extra = clip("c", 4800, 30.0);
    extra.laneID = s.lanes[0].id;
    s.tracks.push_back(extra);
    store->setSession(s);
    store->setSelectedID(s.tracks[0].id);
    store->setSelection(TimeRange{0.0, 0.1});
    store->record();
    EXPECT_FALSE(store->transport().recording());
    EXPECT_EQ(store->error(), "Достигнут предел проекта: 32 дорожек и 256 клипов.");
    EXPECT_FALSE(store->busy());

    // 32 rows: a plain recording needs a new row and is refused; a punch with a target is not.
    store->setError(std::nullopt);
    Session rows;
    for (int i = 0; i < 32; ++i) rows.tracks.push_back(clip("r", 48000, 0.0));
    store->setSession(rows);
    ASSERT_EQ(store->session().lanes.size(), 32u);
    store->setSelectedID(std::nullopt);
    store->setSelection(std::nullopt);
    store->record();
    EXPECT_FALSE(store->transport().recording());
    EXPECT_EQ(store->error(), "Достигнут предел проекта: 32 дорожек и 256 клипов.");

    store->setError(std::nullopt);
    store->setSelectedID(store->session().tracks[3].id);
    store->setSelection(TimeRange{0.2, 0.6});
    store->record();
    EXPECT_TRUE(store->transport().recording());
    EXPECT_FALSE(store->error());
    store->stop();
}

// A refused start leaves the store unlocked, without a step: 1.0 s of room, or an input that
// cannot be opened (its error goes to the alert).
TEST_F(StoreRecording, ARefusedStartUnlocksWithoutAStep) {
    setClips({clip("A", 4800, 0.0)});
    store->setCursor(479.0);  // exactly 1.0 s left
    store->record();
    EXPECT_EQ(store->error(), "Недостаточно места в проекте для записи.");

    store->setError(std::nullopt);
    store->setCursor(0.0);
    fx.backend.refuseInputAccess(true);
    store->record();
    EXPECT_TRUE(store->error());
    EXPECT_FALSE(store->transport().recording());
    EXPECT_FALSE(store->locked() || store->recordingTask());
    EXPECT_TRUE(store->undoNames().empty());
}

// A start that fails after its preparation or its count-in puts the reason where the working
// text stood.
TEST_F(StoreRecording, AStartThatFailsLateSaysWhyInTheStatusLine) {
    setClips({clip("A", 480000, 0.0)});
    prefs(RecordingPreferences::kPlayProjectKey, true);
    fx.backend.refuseInputAccess(true);
    store->record();
    EXPECT_EQ(store->status(), "Подготовка микса для записи…");
    fx.tasks.runAll();
    ASSERT_TRUE(store->error());
    EXPECT_FALSE(store->error()->empty());
    EXPECT_EQ(store->status(), *store->error());
    EXPECT_FALSE(store->busy() || store->recordingTask() || store->transport().recording());

    store->setError(std::nullopt);
    prefs(RecordingPreferences::kPlayProjectKey, false);
    prefs(RecordingPreferences::kCountdownKey, 1LL);
    store->record();
    fx.tasks.runAll();  // the input opens for a moment before the count-in
    EXPECT_EQ(store->status(), "Запись через 1…");
    fx.scheduler.advanceBy(1);
    ASSERT_TRUE(store->error());
    EXPECT_EQ(store->status(), *store->error());
    EXPECT_FALSE(store->busy() || store->recordingTask());
}

TEST_F(StoreRecording, CountInStepsOncePerSecondBeforeTheCapture) {
    prefs(RecordingPreferences::kCountdownKey, 3LL);
    // Without an input device the refusal comes at once, not after the count-in; in English too.
    fx.backend.setDevices({{2, "Null/Output", "Output", 0, 2, 48000.0}});
    fx.defaults.remove(AudioDevices::kInputDeviceKey);
    store->record();
    EXPECT_EQ(store->error(), "Устройство ввода не найдено. Проверьте микрофон в настройках звука Linux.");
    EXPECT_FALSE(store->busy() || store->recordingTask());
    english(true);
    store->record();
    english(false);
    EXPECT_EQ(store->error(), "No input device found. Check the microphone in the Linux sound settings.");
    fx.backend.setDevices({{1, "Null/Input", "Input", 2, 0, 48000.0}});
    // Listed but not opening (a sound server without a source): refused before the count-in too.
    fx.backend.failNextOpen("no source");
    store->record();
    EXPECT_TRUE(store->recordingTask());
    EXPECT_EQ(store->status(), "Проверка микрофона…");
    fx.tasks.runAll();
    EXPECT_EQ(store->error(), "Микрофон недоступен. Проверьте устройство ввода в настройках звука Linux.");
    EXPECT_EQ(store->status(), *store->error());
    EXPECT_FALSE(store->busy() || store->recordingTask());
    EXPECT_EQ(fx.scheduler.pendingSingleShots(), 0);
    // The chosen input alone does not open (the default one would): refused before the count-in too.
    fx.backend.setDevices({{1, "Null/Input", "Input", 2, 0, 48000.0}, {3, "Null/USB", "USB", 1, 0, 44100.0}});
    fx.defaults.set(AudioDevices::kInputDeviceKey, std::string("Null/USB"));
    fx.backend.refuseStreams([](const AudioStreamRequest& r) { return r.inputDevice == 3u; });
    store->setError(std::nullopt);
    store->record();
    fx.tasks.runAll();
    EXPECT_EQ(store->error(), "Микрофон недоступен. Проверьте устройство ввода в настройках звука Linux.");
    // It opens at its own rate only, which the check asks for: the count-in and the take go on.
    fx.backend.refuseStreams([](const AudioStreamRequest& r) { return r.inputDevice == 3u && r.sampleRate != 44100.0; });

    store->record();
    fx.tasks.runAll();
    EXPECT_EQ(fx.backend.openStreams(), 0);
    EXPECT_EQ(store->status(), "Запись через 3…");
    EXPECT_TRUE(store->busy());
    EXPECT_TRUE(store->recordingTask());
    EXPECT_FALSE(store->transport().recording());
    fx.scheduler.advanceBy(0.999);
    EXPECT_EQ(store->status(), "Запись через 3…");
    fx.scheduler.advanceBy(0.001);
    EXPECT_EQ(store->status(), "Запись через 2…");
    fx.scheduler.advanceBy(1);
    EXPECT_EQ(store->status(), "Запись через 1…");
    EXPECT_FALSE(store->transport().recording());
    fx.scheduler.advanceBy(1);
    EXPECT_TRUE(store->transport().recording());
    EXPECT_EQ(store->status(), "Запись с микрофона");
    EXPECT_FALSE(store->busy());
    EXPECT_FALSE(store->recordingTask());
    store->stop();
}

TEST_F(StoreRecording, StopOrRecordDuringTheCountInCancelsIt) {
    prefs(RecordingPreferences::kCountdownKey, 2LL);
    fx.backend.failNextOpen("gone");
    store->record();  // stopped while the input is being opened: neither a count-in nor its failure follows
    store->stop();
    fx.tasks.runAll();
    EXPECT_EQ(fx.scheduler.pendingSingleShots(), 0);
    EXPECT_FALSE(store->error());
    store->record();
    fx.tasks.runAll();
    fx.scheduler.advanceBy(1);
    store->stop();
    EXPECT_EQ(store->status(), "Запись отменена");
    EXPECT_FALSE(store->busy());
    EXPECT_FALSE(store->recordingTask());
    fx.scheduler.advanceBy(5);
    EXPECT_FALSE(store->transport().recording());
    EXPECT_EQ(store->status(), "Запись отменена");
    EXPECT_EQ(fx.scheduler.pendingSingleShots(), 0);

    // The record button during the count-in cancels too, and a new recording can start after.
    store->record();
    fx.tasks.runAll();
    EXPECT_EQ(store->status(), "Запись через 2…");
    store->record();
    EXPECT_EQ(store->status(), "Запись отменена");
    EXPECT_FALSE(store->cancelCountdown());
    fx.scheduler.advanceBy(5);
    EXPECT_FALSE(store->transport().recording());

    prefs(RecordingPreferences::kCountdownKey, 0LL);
    store->record();
    EXPECT_TRUE(store->transport().recording());
    store->stop();
}

TEST_F(StoreRecording, StopDuringTheMixPreparationDiscardsTheRender) {
    setClips({clip("A", 480000, 0.0)});
    prefs(RecordingPreferences::kPlayProjectKey, true);
    store->record();
    EXPECT_EQ(store->status(), "Подготовка микса для записи…");
    ASSERT_EQ(fx.tasks.pending(), 1u);
    EXPECT_EQ(fx.tasks.nextPriority(), TaskPriority::userInitiated);
    store->stop();
    EXPECT_EQ(store->status(), "Запись отменена");
    EXPECT_FALSE(store->busy());
    fx.tasks.runAll();
    EXPECT_FALSE(store->transport().recording());
    EXPECT_FALSE(store->busy());
    EXPECT_EQ(store->status(), "Запись отменена");
    EXPECT_FALSE(store->error());
}

// What plays while recording: the project's mix, nothing, or the clicks; a monitor that cannot
// open is named.
TEST_F(StoreRecording, WhatPlaysWhileRecordingDecidesTheStatus) {
    setClips({clip("A", 480000, 0.0)});
    prefs(RecordingPreferences::kPlayProjectKey, true);
    struct Case {
        bool muted, metronome, failMonitor;
        bool overdub;
        const char* status;
    };
    for (const Case c : {Case{false, false, false, true, "Запись поверх проекта"},
                         Case{true, false, false, false, "Запись с микрофона"},
                         Case{true, true, false, true, "Запись с метрономом"},
                         Case{true, false, true, false, "Запись с микрофона · мониторинг недоступен"}}) {
        Session s = store->session();
        s.tracks[0].muted = c.muted;
        store->setSession(s);
        store->setMetronome(c.metronome);
        prefs(RecordingPreferences::kMonitorKey, c.failMonitor);
        if (c.failMonitor) fx.backend.failNextOutputOpen("no output");
        store->record();
        EXPECT_EQ(fx.tasks.pending(), c.overdub ? 1u : 0u) << c.status;  // no mix when nothing sounds
        fx.tasks.runAll();
        ASSERT_TRUE(store->transport().recording()) << c.status;
        EXPECT_EQ(store->transport().overdubbing(), c.overdub) << c.status;
        EXPECT_EQ(store->status(), c.status);
        store->stop();
    }
}

// The capture runs up to a second past the room; the take is cut to it: at the end of the timeline
// (1.5 s before 480 s) and at the end of the memory budget (1.5 s of it left).
TEST_F(StoreRecording, ATakePastTheRoomIsCutToItAndLoadsBack) {
    for (const bool memory : {false, true}) {
        if (memory) {
            fillMemory(72000);
            store->setCursor(0.0);
        } else {
            setClips({clip("A", 4800, 0.0)});
            store->setCursor(478.5);
        }
        store->record();
        ASSERT_TRUE(store->transport().recording());
        const std::int64_t pumped = capture(4 * 48000);
        EXPECT_FALSE(store->transport().recording());
        EXPECT_LE(pumped, 120000 + kSlice);  // stopped by itself after at most 2.5 s
        EXPECT_GE(pumped, 120000);
        EXPECT_EQ(newest().frames(), 72000);
        EXPECT_EQ(store->status(), "Запись добавлена: 00:01.500 · запись обрезана по лимиту проекта");
        if (memory) {
            EXPECT_EQ(store->session().bytes(), limits::kMaxBytes);
            continue;
        }
        EXPECT_EQ(newest().start, 478.5);
        EXPECT_EQ(newest().end(), 480.0);
        // Saved, and autosaved, the project loads back.
        const auto file = fx.home.path() / "edge.tessoral";
        ProjectIO::save(store->session(), file);
        EXPECT_EQ(ProjectIO::load(file).tracks.back().frames(), 72000);
        fx.scheduler.advanceBy(60);
        fx.tasks.runAll();
        ASSERT_TRUE(std::filesystem::exists(*store->recoveryURL()));
        EXPECT_EQ(ProjectIO::encode(ProjectIO::load(*store->recoveryURL())), ProjectIO::encode(store->session()));
    }
}

// Takes handed over as they are: lost input is named; an empty take, or one with no room left at
// all, is refused without a step.
TEST_F(StoreRecording, LostInputIsNamedAndTakesWithoutRoomAreRefused) {
    store->finishRecording(RecordedTake{constant(48000), 2400});
    EXPECT_EQ(store->status(), "Запись добавлена: 00:01.000 · потеряно 0.05 с входного сигнала");
    EXPECT_EQ(store->session().tracks.size(), 1u);
    english(true);
    store->finishRecording(RecordedTake{constant(48000), 2400, true});
    english(false);
    EXPECT_EQ(store->status(),
              "Recording added: 00:01.000 · 0.05 s of input lost · the audio device reported a dropout: the take may "
              "be out of time");
    store->finishRecording(RecordedTake{constant(48000), 0, true});
    EXPECT_EQ(store->status(), "Запись добавлена: 00:01.000 · звуковое устройство сообщило о сбое: запись может не "
                               "совпадать по времени");

    store->finishRecording(RecordedTake{AudioData{}, 0});
    EXPECT_EQ(store->error(),
              "Запись не попала в выделенный диапазон. Начните запись заново и дождитесь конца выделения.");
    fillMemory(0);
    store->finishRecording(RecordedTake{constant(4800), 0});
    EXPECT_EQ(store->error(), "Запись не поместилась в лимит памяти проекта.");
    EXPECT_EQ(store->session().bytes(), limits::kMaxBytes);
    EXPECT_EQ(store->undoNames().size(), 3u);
}
