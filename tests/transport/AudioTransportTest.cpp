// Playback through the manual null backend: playhead, natural end, loops, replaced plays,
// device choice, metronome clicks, the meters the timer feeds, and the watch on a device that
// stops calling (for a take too).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <optional>
#include <thread>
#include <vector>

#include "TransportTestSupport.h"
#include "model/StudioError.h"
#include "transport/AudioDevices.h"
#include "transport/AudioRecorder.h"
#include "transport/NullInputScript.h"
#include "transport/PlaybackVoice.h"

namespace tessoral {
namespace {

using namespace std::chrono_literals;
using test::ManualRig;
using test::ramp;

TEST(AudioTransport, PlayheadFollowsThePumpedFramesAndEndsOnce) {
    ManualRig rig;
    const AudioData audio = ramp(48000);
    rig.transport.play(audio, 2.0, false, std::nullopt);
    EXPECT_TRUE(rig.transport.playing());
    EXPECT_EQ(rig.transport.position(), 2.0);
    EXPECT_EQ(rig.scheduler.activeTimers(), 1);

    rig.scheduler.advance();  // nothing rendered yet: the playhead stays
    EXPECT_EQ(rig.transport.position(), 2.0);

    std::vector<float> left(4800, 0.0f), right(4800, 0.0f);
    rig.backend.pump(4800, left.data(), right.data());
    rig.scheduler.advance();
    EXPECT_DOUBLE_EQ(rig.transport.position(), 2.1);
    EXPECT_EQ(left[4799], audio.left[4799]);
    EXPECT_EQ(right[1234], audio.right[1234]);
    // The levels are the peaks of the next 1600 frames of the audio.
    EXPECT_EQ(rig.transport.leftLevel(), audio.left[4800 + 1599]);
    EXPECT_EQ(rig.transport.rightLevel(), std::fabs(audio.right[4800 + 1599]));

    rig.run(48000 - 4800 - 1);
    EXPECT_TRUE(rig.finished.empty());
    EXPECT_DOUBLE_EQ(rig.transport.position(), 2.0 + 47999.0 / 48000.0);
    // The last frame: the peak scan stops at the end of the audio.
    EXPECT_EQ(rig.transport.leftLevel(), audio.left[47999]);

    // Past the end the device hears silence, and the end is reported once.
    std::vector<float> tail(1000, 1.0f), tailRight(1000, 1.0f);
    std::fill(tail.begin(), tail.end(), 0.0f);
    std::fill(tailRight.begin(), tailRight.end(), 0.0f);
    rig.backend.pump(1000, tail.data(), tailRight.data());
    EXPECT_EQ(tail[0], audio.left[47999]);
    EXPECT_EQ(tail[1], 0.0f);
    EXPECT_EQ(tail[999], 0.0f);
    rig.scheduler.advance(5);
    ASSERT_EQ(rig.finished.size(), 1u);
    EXPECT_DOUBLE_EQ(rig.finished[0], 3.0);
    EXPECT_DOUBLE_EQ(rig.transport.position(), 3.0);
    EXPECT_FALSE(rig.transport.playing());
    EXPECT_EQ(rig.transport.leftLevel(), 0.0f);
    EXPECT_EQ(rig.scheduler.activeTimers(), 0);
    EXPECT_TRUE(rig.transport.waitUntilStopped(60s));
    EXPECT_EQ(rig.backend.openStreams(), 0);
}

TEST(AudioTransport, NaturalEndWaitsUntilTheDeviceHasPlayedTheTail) {
    // A sound server holds what it was handed for its latency and throws it away on a stop: the
    // natural end must come only once the last frame has been heard.
    ManualRig rig;
    rig.backend.setLatencies(0.0, 0.025);  // 1200 frames queued
    const AudioData audio = ramp(10000);
    rig.transport.play(audio, 1.0, false, std::nullopt);
    std::vector<float> left(48000, 0.0f), right(48000, 0.0f);
    std::int64_t pumped = 0;
    while (pumped + 512 <= 48000 && rig.finished.empty()) {
        rig.backend.pump(512, left.data() + pumped, right.data() + pumped);
        pumped += 512;
        rig.scheduler.advance();
    }
    ASSERT_EQ(rig.finished.size(), 1u);
    EXPECT_DOUBLE_EQ(rig.finished[0], 1.0 + 10000.0 / 48000.0);
    EXPECT_GE(pumped, 1200 + 10000);
    EXPECT_LT(pumped, 1200 + 10000 + 512 + 1);  // and no later than the cycle after
    for (std::size_t i = 0; i < 10000; ++i) {
        ASSERT_EQ(left[1200 + i], audio.left[i]) << i;
        ASSERT_EQ(right[1200 + i], audio.right[i]) << i;
    }
    EXPECT_FALSE(rig.transport.playing());
    EXPECT_TRUE(rig.transport.waitUntilStopped(60s));
    EXPECT_EQ(rig.backend.openStreams(), 0);

    // An explicit stop still ends at once, dropping what the device holds.
    rig.transport.play(audio, 0.0, false, std::nullopt);
    std::fill(left.begin(), left.end(), 0.0f);
    rig.backend.pump(2048, left.data(), right.data());
    rig.transport.stop();
    ASSERT_TRUE(rig.transport.waitUntilStopped(60s));
    rig.backend.pump(2048, left.data() + 2048, right.data() + 2048);
    EXPECT_EQ(left[2047], audio.left[2047 - 1200]);
    for (std::size_t i = 2048; i < 4096; ++i) ASSERT_EQ(left[i], 0.0f) << i;
    EXPECT_EQ(rig.finished.size(), 1u);
}

TEST(AudioTransport, AStopWaitsForNoDeviceButTheTransportsEndDoes) {
    ManualRig rig;
    rig.backend.holdStops(true);  // a sound server that no longer answers: its devices do not stop
    const AudioData audio = ramp(96000);
    rig.transport.play(audio, 0.0, true, std::nullopt);
    rig.run(4800);
    const auto pressed = std::chrono::steady_clock::now();
    rig.transport.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - pressed, 500ms) << "the stop waited for the device";
    EXPECT_FALSE(rig.transport.playing() || rig.transport.waitUntilStopped(10ms));
    // The device goes on calling until it stops: silence from the stop on.
    std::vector<float> left(4800, 0.0f), right(4800, 0.0f);
    rig.backend.pump(4800, left.data(), right.data());
    EXPECT_EQ(std::count(left.begin(), left.end(), 0.0f) + std::count(right.begin(), right.end(), 0.0f), 9600);

    // The transport's end gives a stopped device kStreamStopLimit from its stop, then leaves it.
    std::optional<AudioTransport> other(std::in_place, rig.backend, rig.scheduler, rig.defaults);
    other->play(audio, 0.0, true, std::nullopt);
    const auto stopped = std::chrono::steady_clock::now();
    other->stop();
    other.reset();
    EXPECT_GE(std::chrono::steady_clock::now() - stopped, kStreamStopLimit);
    rig.backend.holdStops(false);
    EXPECT_TRUE(rig.transport.waitUntilStopped(60s));
    for (int i = 0; i < 60000 && rig.backend.openStreams() > 0; ++i) std::this_thread::sleep_for(1ms);  // the other's
}

TEST(AudioTransport, LoopWrapsWithoutReportingAnEnd) {
    ManualRig rig;
    const AudioData audio = ramp(24000);
    rig.transport.play(audio, 1.0, true, std::nullopt);
    std::vector<float> left(60000, 0.0f), right(60000, 0.0f);
    rig.backend.pump(36000, left.data(), right.data());
    rig.scheduler.advance();
    EXPECT_DOUBLE_EQ(rig.transport.position(), 1.25);
    // Exactly one pass: the playhead is back at the start.
    rig.backend.pump(12000, left.data() + 36000, right.data() + 36000);
    rig.scheduler.advance();
    EXPECT_DOUBLE_EQ(rig.transport.position(), 1.0);
    for (std::int64_t i : {0, 23999, 24000, 24001, 47999})
        EXPECT_EQ(left[static_cast<std::size_t>(i)], audio.left[static_cast<std::size_t>(i % 24000)]) << i;

    for (int pass = 0; pass < 10; ++pass) rig.run(24000 / 3);
    EXPECT_TRUE(rig.finished.empty());
    EXPECT_TRUE(rig.transport.playing());
    rig.transport.stop();
    EXPECT_TRUE(rig.finished.empty()) << "an explicit stop reports nothing";
    EXPECT_EQ(rig.scheduler.activeTimers(), 0);
}

TEST(AudioTransport, ReplacedPlaysLateEndIsIgnored) {
    ManualRig rig;
    rig.transport.play(ramp(4800), 0.0, false, std::nullopt);
    const Uuid first = rig.transport.generation();
    rig.backend.pump(9600);  // the first play has ended on the audio thread, not yet seen
    rig.transport.play(ramp(9600), 5.0, false, std::nullopt);
    EXPECT_NE(rig.transport.generation(), first);
    EXPECT_TRUE(rig.transport.waitUntilStopped(60s));
    EXPECT_EQ(rig.backend.openStreams(), 1);
    rig.scheduler.advance(3);
    EXPECT_TRUE(rig.finished.empty());
    EXPECT_TRUE(rig.transport.playing());
    EXPECT_EQ(rig.transport.position(), 5.0);

    rig.run(9600);
    rig.scheduler.advance();
    ASSERT_EQ(rig.finished.size(), 1u);
    EXPECT_DOUBLE_EQ(rig.finished[0], 5.2);
}

TEST(AudioTransport, StopClearsTheMetersAndPlayingNothingDoesNothing) {
    ManualRig rig;
    rig.transport.play(AudioData(test::sine(96000, 997, 1.0), test::sine(96000, 997, 1.0)), 0.0, false,
                       std::nullopt);
    for (int i = 0; i < 30; ++i) rig.run(1600);
    EXPECT_TRUE(rig.transport.momentaryLUFS());
    EXPECT_GT(rig.transport.leftLevel(), 0.9f);
    rig.transport.stop();
    EXPECT_FALSE(rig.transport.playing());
    EXPECT_EQ(rig.transport.leftLevel(), 0.0f);
    EXPECT_EQ(rig.transport.rightLevel(), 0.0f);
    EXPECT_FALSE(rig.transport.momentaryLUFS());
    EXPECT_FALSE(rig.transport.shortTermLUFS());
    EXPECT_FALSE(rig.transport.phaseCorrelation());
    rig.transport.stop();  // twice is fine

    // Audio of no frames: the previous playback stops, nothing starts, ticks find nothing.
    rig.transport.play(ramp(48000), 0.0, true, std::nullopt);
    rig.transport.play(AudioData(), 3.0, true, std::nullopt);
    EXPECT_FALSE(rig.transport.playing());
    EXPECT_EQ(rig.scheduler.activeTimers(), 0);
    EXPECT_TRUE(rig.transport.waitUntilStopped(60s));
    EXPECT_EQ(rig.backend.openStreams(), 0);
    rig.run(4800);
    EXPECT_TRUE(rig.finished.empty());
}

TEST(AudioTransport, DeviceThatFailsLeavesTheTransportStopped) {
    ManualRig rig;
    rig.transport.play(ramp(48000), 0.0, true, std::nullopt);
    rig.backend.failNextOpen("device busy");
    try {
        rig.transport.play(ramp(48000), 1.0, false, std::nullopt);
        FAIL() << "expected a PlatformError";
    } catch (const PlatformError& e) {
        EXPECT_NE(e.message().find("device busy"), std::string::npos);
    }
    EXPECT_FALSE(rig.transport.playing());
    EXPECT_EQ(rig.scheduler.activeTimers(), 0);
    EXPECT_TRUE(rig.transport.waitUntilStopped(60s));
    EXPECT_EQ(rig.backend.openStreams(), 0);
}

TEST(AudioTransport, ADeviceThatStopsCallingEndsPlaybackWithANote) {
    ManualRig rig;
    std::exception_ptr failure;
    rig.transport.failed = [&](std::exception_ptr e) { failure = e; };
    // Playback whose device stops calling ends with a plain note; one that calls goes on, watched
    // from its start (the clock went on before), by time (a burst of ticks is no time).
    rig.scheduler.advanceBy(9.0);
    rig.transport.play(ramp(480000), 0.0, false, std::nullopt);
    rig.scheduler.advanceBy(AudioTransport::kTickSeconds);
    for (int i = 0; i < 30; ++i) {
        rig.backend.pump(1600);
        rig.scheduler.advanceBy(AudioTransport::kTickSeconds);
    }
    rig.scheduler.advance(100);
    rig.scheduler.advanceBy(6.0);  // a server a busy machine held up this long
    EXPECT_TRUE(rig.transport.playing() && !failure);
    rig.scheduler.advanceBy(1.9);  // 7.9 s without a call
    EXPECT_TRUE(rig.transport.playing() && !failure);
    rig.scheduler.advanceBy(0.2);
    EXPECT_FALSE(rig.transport.playing());
    ASSERT_TRUE(failure);
    try {
        std::rethrow_exception(failure);
    } catch (const StudioError& e) {
        EXPECT_EQ(e.message(), "Звуковой сервер не отвечает или завершил работу: воспроизведение остановлено.");
    }
    for (int i = 0; i < 5000 && rig.backend.openStreams() > 0; ++i) std::this_thread::sleep_for(1ms);  // one left to stop
}

TEST(AudioTransport, ATakeOutlastsTheWatchWhileItsDeviceCallsAndEndsWithANoteWhenItStops) {
    ManualRig rig;
    rig.backend.setDevices({{1, "ALSA/Mic", "Mic", 1, 0}});
    rig.backend.setInput(std::make_shared<NullInputScript>(std::vector<std::vector<float>>{std::vector<float>(48000 * 15, 0.25f)}));
    std::vector<RecordedTake> takes;
    rig.transport.recordingFinished = [&](RecordedTake take) { takes.push_back(std::move(take)); };
    RecordingSetup setup;
    setup.maximumFrames = 60 * 48000;
    setup.plan.origin = 1.0;
    // Device time and the clock go on together, a tenth of a second at a time.
    const auto capture = [&](int tenths) {
        for (int i = 0; i < tenths && rig.transport.recording(); ++i) {
            rig.backend.pump(4800);
            ASSERT_TRUE(rig.transport.waitUntilCaptureIdle(5s));
            rig.scheduler.advanceBy(0.1);
        }
    };
    // 12 s while the device calls: still recording well past the watch, ended by the stop alone.
    rig.transport.record(setup);
    capture(120);
    EXPECT_TRUE(rig.transport.recording() && takes.empty());
    EXPECT_NEAR(rig.transport.position(), 13.0, 1e-9);
    rig.transport.stopRecording();
    ASSERT_EQ(takes.size(), 1u);
    EXPECT_EQ(takes[0].audio.frames(), 120 * 4800);
    EXPECT_EQ(takes[0].audio.right[500000], 0.25f);
    EXPECT_FALSE(takes[0].serverLost || takes[0].deviceGaps || takes[0].lostFrames);
    // A device that stops calling after 2 s ends the take at the watch's limit, which keeps those 2 s.
    rig.transport.record(setup);
    capture(20);
    rig.scheduler.advanceBy(AudioTransport::kSilentSeconds - 0.1);
    EXPECT_TRUE(rig.transport.recording() && takes.size() == 1u);
    rig.scheduler.advanceBy(0.2);
    EXPECT_FALSE(rig.transport.recording());
    ASSERT_EQ(takes.size(), 2u);
    EXPECT_EQ(takes[1].audio.frames(), 20 * 4800);
    EXPECT_TRUE(takes[1].serverLost);
}

TEST(AudioTransport, PlaysOnTheStoredOutputDeviceOrTheDefault) {
    ManualRig rig;
    rig.backend.setDevices({{3, "ALSA/Speakers", "Speakers", 0, 2}, {7, "ALSA/Headset", "Headset", 1, 2},
                            {9, "ALSA/Microphone", "Microphone", 2, 0}});
    auto outputUsed = [&] {
        rig.transport.play(ramp(480), 0.0, false, std::nullopt);
        return rig.backend.lastRequest()->outputDevice;
    };
    EXPECT_EQ(outputUsed(), std::nullopt) << "nothing stored";
    rig.defaults.set(AudioDevices::kOutputDeviceKey, std::string("ALSA/Headset"));
    EXPECT_EQ(outputUsed(), 7u);
    EXPECT_TRUE(rig.transport.playing());
    rig.defaults.set(AudioDevices::kOutputDeviceKey, std::string("ALSA/Unplugged"));
    EXPECT_EQ(outputUsed(), std::nullopt);
    EXPECT_TRUE(rig.transport.playing());
    // A device that cannot play (input only) falls back to the default as well.
    rig.defaults.set(AudioDevices::kOutputDeviceKey, std::string("ALSA/Microphone"));
    EXPECT_EQ(outputUsed(), std::nullopt);
    EXPECT_TRUE(rig.transport.playing());
    rig.defaults.set(AudioDevices::kOutputDeviceKey, std::string());
    EXPECT_EQ(outputUsed(), std::nullopt);
}

// level·cos(2π·f·n/48000)·exp(−160·n/48000), written out here rather than taken from the model.
double clickSample(bool accent, std::int64_t n) {
    const double f = accent ? 1760.0 : 1320.0, level = accent ? 0.7 : 0.38;
    const double x = static_cast<double>(n);
    return level * std::cos(2.0 * std::numbers::pi * f * x / 48000.0) * std::exp(-160.0 * x / 48000.0);
}

TEST(AudioTransport, MetronomeClicksFallOnTheBeatsAndAreNotMetered) {
    // 120 BPM in 4/4 from 0.52 s: the beat at 0.5 s (20 ms before the start) leaves the last
    // 10 ms of its click; beats at 1.0 and 1.5 s are normal, 2.0 s (index 4) is the accent;
    // the beat at 2.5 s lies past the end of the 1.9 s buffer.
    ManualRig rig;
    const std::int64_t frames = 91200;
    rig.transport.play(AudioData::silence(frames), 0.52, false, BeatGrid{120.0, 4});
    std::vector<float> left(static_cast<std::size_t>(frames), 0.0f), right(left);
    rig.backend.pump(frames, left.data(), right.data());

    std::vector<double> expected(static_cast<std::size_t>(frames), 0.0);
    const struct { std::int64_t offset; bool accent; } beats[] = {{-960, false}, {23040, false}, {47040, false}, {71040, true}};
    for (const auto& b : beats)
        for (std::int64_t i = std::max<std::int64_t>(0, -b.offset); i < 1440 && b.offset + i < frames; ++i)
            expected[static_cast<std::size_t>(b.offset + i)] += clickSample(b.accent, i);
    double worst = 0.0;
    for (std::int64_t i = 0; i < frames; ++i) {
        worst = std::max(worst, std::fabs(left[static_cast<std::size_t>(i)] - expected[static_cast<std::size_t>(i)]));
        ASSERT_EQ(left[static_cast<std::size_t>(i)], right[static_cast<std::size_t>(i)]);
    }
    EXPECT_LT(worst, 1e-6);
    EXPECT_NEAR(left[0], clickSample(false, 960), 1e-6);
    EXPECT_NEAR(left[71040], 0.7, 1e-6);

    // Heard, not metered: the meters read the silent mix.
    for (int i = 0; i < 6; ++i) rig.scheduler.advance();
    EXPECT_EQ(rig.transport.leftLevel(), 0.0f);
    EXPECT_FALSE(rig.transport.momentaryLUFS());
    EXPECT_FALSE(rig.transport.phaseCorrelation());
}

TEST(AudioTransport, ClickPlacementsCountAccentsFromTimelineZero) {
    // 3/4 at 60 BPM from 2.5 s: beats 3 (accent), 4, 5, 6 (accent) in a 4-second buffer.
    const auto list = MetronomeClicks::placements(BeatGrid{60.0, 3}, 2.5, 4 * 48000);
    const std::vector<ClickPlacement> expected{{24000, true}, {72000, false}, {120000, false}, {168000, true}};
    EXPECT_EQ(list, expected);
    // A beat exactly at the start sounds, one 20 ms before it leaves its tail, one 30 ms
    // before it has ended.
    EXPECT_EQ(MetronomeClicks::placements(BeatGrid{120.0, 4}, 1.0, 100).front(), (ClickPlacement{0, false}));
    EXPECT_EQ(MetronomeClicks::placements(BeatGrid{120.0, 4}, 1.02, 100).front(), (ClickPlacement{-960, false}));
    EXPECT_TRUE(MetronomeClicks::placements(BeatGrid{120.0, 4}, 1.03, 100).empty());
    EXPECT_TRUE(MetronomeClicks::placements(BeatGrid{120.0, 4}, 0.0, 0).empty());
    // A grid finer than a frame, or a tempo of nothing, does not flood the list.
    EXPECT_TRUE(MetronomeClicks::placements(BeatGrid{1e12, 4}, 0.0, 48000).empty());
    EXPECT_EQ(MetronomeClicks::placements(BeatGrid{0.0, 4}, 0.0, 48000).size(), 2u);  // counted as 120 BPM
}

TEST(AudioTransport, LoopedClicksRepeatEveryPass) {
    ManualRig rig;
    // A one-second loop from 0 at 120 BPM: clicks at 0 (accent) and 0.5 s in every pass.
    rig.transport.play(AudioData::silence(48000), 0.0, true, BeatGrid{120.0, 4});
    std::vector<float> left(3 * 48000, 0.0f), right(left);
    rig.backend.pump(3 * 48000, left.data(), right.data());
    for (int pass = 0; pass < 3; ++pass) {
        EXPECT_NEAR(left[static_cast<std::size_t>(pass * 48000)], 0.7, 1e-6);
        EXPECT_NEAR(left[static_cast<std::size_t>(pass * 48000 + 24000)], 0.38, 1e-6);
        EXPECT_EQ(left[static_cast<std::size_t>(pass * 48000 + 2000)], 0.0f);
    }
}

TEST(AudioTransport, TimerPublishesLoudnessEveryThirdTick) {
    ManualRig rig;
    const auto x = test::sine(5 * 48000, 997.0, 1.0);
    rig.transport.play(AudioData(x, x), 0.0, true, std::nullopt);
    // Ticks of 4800 frames: the published figures change only on every third tick.
    int published = 0;
    std::optional<double> last;
    for (int i = 1; i <= 15; ++i) {
        rig.run(4800);
        if (rig.transport.momentaryLUFS() != last) {
            ++published;
            EXPECT_EQ(i % 3, 0) << "changed at tick " << i;
            last = rig.transport.momentaryLUFS();
        }
    }
    EXPECT_GE(published, 1);
    ASSERT_TRUE(rig.transport.momentaryLUFS());
    EXPECT_NEAR(*rig.transport.momentaryLUFS(), 0.0, 0.1);
    EXPECT_NEAR(*rig.transport.shortTermLUFS(), 0.0, 0.1);
    EXPECT_NEAR(*rig.transport.phaseCorrelation(), 1.0, 1e-9);

    // Across loop wraps and a jump of many seconds the figures stay right.
    rig.run(13 * 48000 + 777);
    rig.scheduler.advance(2);
    EXPECT_NEAR(*rig.transport.momentaryLUFS(), 0.0, 0.1);
    EXPECT_NEAR(*rig.transport.shortTermLUFS(), 0.0, 0.1);
}

TEST(AudioTransport, NonFiniteStartCountsAsZero) {
    ManualRig rig;
    rig.transport.play(ramp(4800), std::numeric_limits<double>::quiet_NaN(), false, BeatGrid{120.0, 4});
    EXPECT_EQ(rig.transport.position(), 0.0);
    rig.run(2400);
    EXPECT_DOUBLE_EQ(rig.transport.position(), 0.05);
}

}  // namespace
}  // namespace tessoral
