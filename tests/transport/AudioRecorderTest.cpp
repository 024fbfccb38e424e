#include "transport/AudioRecorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include "model/Defaults.h"
#include "model/RecordingPreferences.h"
#include "model/StudioError.h"
#include "support/TestSignals.h"
#include "transport/AudioDevices.h"
#include "transport/NullAudioBackend.h"
#include "transport/NullInputScript.h"

using namespace tessoral;
using namespace std::chrono_literals;

namespace {

constexpr std::uint32_t kMonoMic = 1;     // the default input: one channel at 44.1 kHz
constexpr std::uint32_t kSpeakers = 2;    // output only
constexpr std::uint32_t kStereoMic = 3;   // two channels at 48 kHz

std::vector<float> sine(double frequency, double rate, std::int64_t frames, double amplitude = 0.5) {
    return test::sine(static_cast<std::size_t>(frames), frequency, amplitude, 0.0, rate);
}

// 1, 2, 3, … scaled: every sample tells which frame it was.
std::vector<float> frameNumbers(std::int64_t frames, float sign = 1.0f) {
    std::vector<float> x(static_cast<std::size_t>(frames));
    for (std::int64_t i = 0; i < frames; ++i) x[static_cast<std::size_t>(i)] = sign * static_cast<float>(i + 1) * 1e-6f;
    return x;
}

struct Rig {
    NullAudioBackend backend{NullAudioBackend::Mode::manual};
    MemoryDefaults defaults;
    AudioRecorder recorder{backend, defaults};

    Rig() {
        backend.setDevices({
            {kMonoMic, "ALSA/Mic", "Mic", 1, 0, 44100.0},
            {kSpeakers, "ALSA/Speakers", "Speakers", 0, 2, 48000.0},
            {kStereoMic, "ALSA/Stereo", "Stereo", 2, 0, 48000.0},
        });
    }
    ~Rig() { recorder.waitUntilIdle(2s); }

    std::shared_ptr<NullInputScript> input(std::vector<std::vector<float>> channels) {
        auto script = std::make_shared<NullInputScript>(std::move(channels));
        backend.setInput(script);
        return script;
    }
    void chooseInput(const std::string& uid) { defaults.set(AudioDevices::kInputDeviceKey, uid); }
    void chooseOutput(const std::string& uid) { defaults.set(AudioDevices::kOutputDeviceKey, uid); }

    // Pumps in slices, letting the capture thread catch up after each: pumping runs far faster
    // than a device, and the ring from the input callback holds two seconds.
    void run(std::int64_t frames, float* left = nullptr, float* right = nullptr) {
        for (std::int64_t done = 0; done < frames;) {
            const std::int64_t n = std::min<std::int64_t>(8192, frames - done);
            backend.pump(n, left ? left + done : nullptr, right ? right + done : nullptr);
            ASSERT_TRUE(recorder.waitUntilIdle(5s));
            done += n;
        }
    }
};

RecordingSetup plainSetup(std::int64_t maximumFrames = 10 * 48000) {
    RecordingSetup setup;
    setup.maximumFrames = maximumFrames;
    return setup;
}

std::string startFailure(Rig& rig, const RecordingSetup& setup) {
    try {
        rig.recorder.start(setup);
    } catch (const StudioError& e) {
        EXPECT_FALSE(rig.recorder.active());
        EXPECT_EQ(rig.backend.openStreams(), 0) << "everything opened is closed again";
        return e.message();
    }
    return "(started)";
}

}  // namespace

TEST(AudioRecorder, MonoAt44100BecomesTwoEqualChannelsAt48000) {
    Rig rig;
    rig.input({sine(1000.0, 44100.0, 2 * 44100)});
    rig.recorder.start(plainSetup());
    ASSERT_TRUE(rig.recorder.active());
    const auto request = rig.backend.lastRequest();
    ASSERT_TRUE(request);
    EXPECT_EQ(request->inputChannels, 1);
    EXPECT_EQ(request->sampleRate, 44100.0);
    rig.run(2 * 44100);  // the stream runs at the device's rate
    const AudioData audio = rig.recorder.stop().audio;
    EXPECT_FALSE(rig.recorder.active());
    EXPECT_EQ(rig.backend.openStreams(), 0);
    EXPECT_NEAR(static_cast<double>(audio.frames()), 96000.0, 1.0);
    EXPECT_EQ(audio.left, audio.right);
    const auto reference = sine(1000.0, 48000.0, 96000);
    double worst = 0.0;
    for (std::int64_t i = 4800; i < 91200; ++i)
        worst = std::max(worst, std::fabs(static_cast<double>(audio.left[i]) - reference[static_cast<std::size_t>(i)]));
    EXPECT_LT(worst, 1e-3);
}

TEST(AudioRecorder, StereoInputKeepsItsChannelsAndTheTickReportsProgress) {
    Rig rig;
    rig.chooseInput("ALSA/Stereo");
    rig.input({frameNumbers(48000), frameNumbers(48000, -1.0f)});
    RecordingSetup setup = plainSetup();
    setup.plan.origin = 3.0;
    rig.recorder.start(setup);
    EXPECT_EQ(rig.backend.lastRequest()->inputDevice, kStereoMic);
    rig.run(24000);
    auto progress = rig.recorder.tick();
    EXPECT_DOUBLE_EQ(progress.position, 3.5);
    EXPECT_FLOAT_EQ(progress.leftLevel, 0.024f);
    EXPECT_FLOAT_EQ(progress.rightLevel, 0.024f);
    EXPECT_FALSE(progress.reachedEnd);
    progress = rig.recorder.tick();  // the peaks decay between ticks
    EXPECT_FLOAT_EQ(progress.leftLevel, 0.024f * 0.4f);
    rig.run(24000);
    const AudioData audio = rig.recorder.stop().audio;
    ASSERT_EQ(audio.frames(), 48000);
    EXPECT_EQ(audio.left.toVector(), frameNumbers(48000));
    EXPECT_EQ(audio.right.toVector(), frameNumbers(48000, -1.0f));
    EXPECT_EQ(rig.recorder.tick().position, 0.0);  // nothing runs
}

TEST(AudioRecorder, OnlyTheCorrectionMovesThePunchOutFrame) {
    // The device latencies are in the timestamps the capture is aligned by: compensating them
    // again would move the take early; the user's correction is what is left.
    Rig rig;
    rig.chooseInput("ALSA/Stereo");
    rig.backend.setLatencies(0.005, 0.02);
    rig.input({std::vector<float>(96000, 0.25f)});
    RecordingSetup setup = plainSetup();
    setup.plan = PunchPlan{8.0, TimeRange{10.0, 10.5}, std::nullopt};
    setup.manualLatencyMilliseconds = 10.0;
    setup.playback = AudioData::silence(48000);
    rig.backend.pump(4800);  // capture times before 0 count as unknown
    rig.recorder.start(setup);
    EXPECT_NEAR(rig.recorder.latency(), 0.010, 1e-12);
    const std::int64_t stopFrame = 2 * 48000 + 24000 + 480;
    EXPECT_EQ(rig.recorder.captureStopFrame(), stopFrame);
    // The overdub is heard 0.12 s after the start; capture counts from the frame captured then,
    // which the device hands over the input latency later.
    rig.run(5760 + 240 + stopFrame - 1);
    EXPECT_FALSE(rig.recorder.tick().reachedEnd);
    rig.run(1);
    EXPECT_TRUE(rig.recorder.tick().reachedEnd);
    const AudioData audio = rig.recorder.stop().audio;
    EXPECT_EQ(audio.frames(), stopFrame);
    // What the store then keeps: the window, with 2 s of pre-roll and the correction skipped.
    const auto take = setup.plan.take(audio.frames(), RecordingLatency::frames(0.010, 48000), 48000);
    EXPECT_EQ(take.frames, (FrameRange{96000 + 480, stopFrame}));
    EXPECT_DOUBLE_EQ(take.start, 10.0);

    // A negative correction: the stop frame gets no negative latency.
    Rig second;
    RecordingSetup early = plainSetup();
    early.plan = PunchPlan{0.0, TimeRange{0.0, 1.0}, std::nullopt};
    early.manualLatencyMilliseconds = -200.0;
    second.recorder.start(early);
    EXPECT_NEAR(second.recorder.latency(), -0.2, 1e-12);
    EXPECT_EQ(second.recorder.captureStopFrame(), 48000);
}

TEST(AudioRecorder, InputLostWhileTheCaptureFallsBehindIsHandedWithTheTake) {
    // The capture thread is held while the input delivers: the two-second ring from the input
    // callback overflows and whole buffers are dropped. Whatever was dropped is counted, in 48 kHz frames.
    {
        Rig rig;
        rig.chooseInput("ALSA/Stereo");
        const std::int64_t frames = 20 * 48000;
        rig.input({frameNumbers(frames), frameNumbers(frames, -1.0f)});
        rig.recorder.start(plainSetup(frames));
        rig.recorder.holdCaptureThread(true);
        rig.backend.pump(frames);
        rig.recorder.holdCaptureThread(false);
        ASSERT_TRUE(rig.recorder.waitUntilIdle(10s));
        const RecordedTake take = rig.recorder.stop();
        EXPECT_GT(take.lostFrames, 0);
        EXPECT_EQ(take.audio.frames() + take.lostFrames, frames);
        // What was kept is the input in order, with gaps where buffers were lost.
        for (std::int64_t i = 1; i < take.audio.frames(); ++i)
            ASSERT_GT(take.audio.left[i], take.audio.left[i - 1]) << i;
    }
    {
        Rig rig;  // the mono microphone at 44.1 kHz (no capture times: the null clock counts 48 kHz frames)
        const std::int64_t frames = 20 * 44100;
        rig.input({sine(440.0, 44100.0, frames)})->setNoCaptureTime(true);
        rig.recorder.start(plainSetup(30 * 48000));
        rig.recorder.holdCaptureThread(true);
        rig.backend.pump(frames);
        rig.recorder.holdCaptureThread(false);
        ASSERT_TRUE(rig.recorder.waitUntilIdle(10s));
        const RecordedTake take = rig.recorder.stop();
        EXPECT_GT(take.lostFrames, 0);
        EXPECT_NEAR(static_cast<double>(take.audio.frames() + take.lostFrames), 20.0 * 48000.0, 2.0);
    }
    for (const double speed : {1.0, 1000.0}) {
        // 30 s at once, the rest of a 12-second take in slices, 20 s at once: only input dropped before
        // the take is full (each value tells which frame it was) is lost, and none on a device a
        // thousand times faster than its clock (ALSA's null PCM). A second take on the same recorder
        // counts afresh.
        Rig rig;
        rig.chooseInput("ALSA/Stereo");
        for (int round = 0; round < 2; ++round) {
            const auto script = rig.input({frameNumbers(62 * 48000)});
            script->setTimeOffset(1.0);
            script->setSpeed(speed);
            rig.recorder.start(plainSetup(11 * 48000));
            rig.recorder.holdCaptureThread(true);
            rig.backend.pump(30 * 48000);
            rig.recorder.holdCaptureThread(false);
            rig.run(12 * 48000);
            rig.backend.pump(20 * 48000);
            const RecordedTake take = rig.recorder.stop();
            ASSERT_EQ(take.audio.frames(), 12 * 48000);
            const std::int64_t dropped = std::llround(take.audio.left[12 * 48000 - 1] * 1e6) - 12 * 48000;
            EXPECT_GT(dropped, 0);
            EXPECT_EQ(take.lostFrames, speed == 1.0 ? dropped : 0) << round;
        }
    }
    {
        Rig rig;  // a capture that keeps up loses nothing
        rig.chooseInput("ALSA/Stereo");
        rig.input({frameNumbers(48000)});
        rig.recorder.start(plainSetup());
        rig.run(48000);
        const RecordedTake take = rig.recorder.stop();
        EXPECT_EQ(take.lostFrames, 0);
        EXPECT_EQ(take.audio.frames(), 48000);
    }
}

TEST(AudioRecorder, InputBeyondTheLimitIsDroppedAndEndsTheRecording) {
    Rig rig;
    rig.chooseInput("ALSA/Stereo");
    rig.input({std::vector<float>(200000, 0.5f)});
    rig.recorder.start(plainSetup(4800));  // room for 0.1 s, plus the spare second
    rig.run(60000);
    EXPECT_TRUE(rig.recorder.tick().reachedEnd);
    EXPECT_EQ(rig.recorder.stop().audio.frames(), 4800 + 48000);

    // The spare second counts before a negative room is clamped.
    rig.recorder.start(plainSetup(-12000));
    rig.run(60000);
    EXPECT_EQ(rig.recorder.stop().audio.frames(), 36000);
}

TEST(AudioRecorder, OverdubPlaybackAndCaptureStartTogether) {
    Rig rig;
    rig.chooseInput("ALSA/Stereo");
    rig.backend.pump(4800);  // the clock stands at 0.1 s
    rig.input({frameNumbers(48000), frameNumbers(48000, -1.0f)});
    RecordingSetup setup = plainSetup();
    std::vector<float> played(24000, 0.0f);
    played[0] = 1.0f;
    setup.playback = AudioData(played, played);
    rig.recorder.start(setup);
    EXPECT_TRUE(rig.recorder.overdubbing());
    EXPECT_FALSE(rig.recorder.monitoring());
    std::vector<float> left(12000, 0.0f), right(12000, 0.0f);
    rig.backend.reportGapNextBlock(true, true);  // before the take and the overdub: no harm
    rig.run(12000, left.data(), right.data());
    // The playback's first frame sounds 0.12 s (5760 frames) after the start ...
    EXPECT_EQ(left[5760], 1.0f);
    EXPECT_EQ(right[5760], 1.0f);
    for (int i = 0; i < 5760; ++i) ASSERT_EQ(left[i], 0.0f) << i;
    // ... and the take begins with the frame captured at that moment.
    const RecordedTake take = rig.recorder.stop();
    const AudioData& audio = take.audio;
    ASSERT_EQ(audio.frames(), 12000 - 5760);
    EXPECT_EQ(audio.left[0], frameNumbers(5761)[5760]);
    EXPECT_EQ(audio.right[0], -frameNumbers(5761)[5760]);
    EXPECT_FALSE(rig.recorder.overdubbing());
    EXPECT_FALSE(take.deviceGaps);
    // A dropout in the input or in the overdub while the take runs is handed with the take.
    for (const bool input : {true, false}) {
        rig.recorder.start(setup);
        rig.run(8192);
        rig.backend.reportGapNextBlock(input, !input);
        rig.run(1024);
        EXPECT_TRUE(rig.recorder.stop().deviceGaps) << input;
    }
    // One in the output after the overdub has played to its end is not the take's.
    rig.recorder.start(setup);
    rig.run(36000);
    rig.backend.reportGapNextBlock(false, true);
    rig.run(1024);
    EXPECT_FALSE(rig.recorder.stop().deviceGaps);
}

TEST(AudioRecorder, DirectMonitoringPlaysTheInputAtTheMonitorLevel) {
    Rig rig;  // both device settings empty: the capture stream itself monitors
    const auto x = sine(440.0, 44100.0, 8192, 0.8);
    rig.input({x});
    RecordingSetup setup = plainSetup();
    setup.monitorLevel = 0.5f;
    rig.recorder.start(setup);
    EXPECT_TRUE(rig.recorder.monitoring());
    EXPECT_EQ(rig.backend.openStreams(), 1);
    EXPECT_EQ(rig.backend.lastRequest()->outputChannels, 2);
    std::vector<float> left(8192, 0.0f), right(8192, 0.0f);
    rig.run(8192, left.data(), right.data());
    for (int i = 0; i < 8192; i += 101) {
        ASSERT_FLOAT_EQ(left[i], 0.5f * x[i]) << i;
        ASSERT_FLOAT_EQ(right[i], 0.5f * x[i]) << i;
    }
    rig.recorder.stop();

    // A level above 1 counts as 1.
    Rig loud;
    loud.input({x});
    setup.monitorLevel = 1.7f;
    loud.recorder.start(setup);
    loud.run(8192, left.data(), right.data());  // adds onto the previous output
    EXPECT_FLOAT_EQ(left[300], 1.5f * x[300]);
}

TEST(AudioRecorder, SeparateMonitorPlaysTheCapturedFramesInOrder) {
    Rig rig;
    rig.chooseInput("ALSA/Stereo");
    rig.chooseOutput("ALSA/Speakers");
    rig.input({frameNumbers(20000), frameNumbers(20000, -1.0f)});
    RecordingSetup setup = plainSetup();
    setup.monitorLevel = 0.5f;
    rig.recorder.start(setup);
    EXPECT_TRUE(rig.recorder.monitoring());
    EXPECT_EQ(rig.backend.openStreams(), 2);
    EXPECT_EQ(rig.backend.lastRequest()->outputDevice, kSpeakers);
    // The capture thread runs beside the device cycles, so which cycle hears a frame varies;
    // what is heard is always the captured frames in order at half level, ending with the last.
    std::vector<float> left(30000, 0.0f), right(30000, 0.0f);
    rig.run(20000, left.data(), right.data());
    rig.backend.setInput(nullptr);
    rig.backend.pump(10000, left.data() + 20000, right.data() + 20000);
    const auto numbers = frameNumbers(20000);
    std::int64_t heard = 0;
    float last = 0.0f;
    for (std::size_t i = 0; i < left.size(); ++i) {
        if (left[i] == 0.0f) continue;
        ASSERT_GT(left[i], last) << i;
        ASSERT_EQ(right[i], -left[i]) << i;
        last = left[i];
        ++heard;
    }
    EXPECT_GT(heard, 0);
    EXPECT_EQ(last, 0.5f * numbers[19999]);
    rig.recorder.waitUntilIdle(5s);
    EXPECT_EQ(rig.recorder.stop().audio.frames(), 20000 + 10000);
}

TEST(AudioRecorder, FailureTable) {
    {
        Rig rig;
        rig.backend.refuseInputAccess(true);
        EXPECT_EQ(startFailure(rig, plainSetup()),
                  "Разрешите доступ к микрофону в настройках системы → Конфиденциальность → Микрофон.");
    }
    const std::string chosenMissing =
        "Выбранный в настройках микрофон сейчас недоступен. Подключите его или выберите другой: Файл → Настройки (Ctrl+,).";
    for (const char* uid : {"ALSA/Unplugged", "ALSA/Speakers"}) {
        Rig rig;
        rig.chooseInput(uid);
        EXPECT_EQ(startFailure(rig, plainSetup()), chosenMissing) << uid;
    }
    const std::string noInput = "Устройство ввода не найдено. Проверьте микрофон в настройках звука Linux.";
    {
        Rig rig;
        rig.backend.setDevices({{kSpeakers, "ALSA/Speakers", "Speakers", 0, 2, 48000.0}});
        EXPECT_EQ(startFailure(rig, plainSetup()), noInput);
    }
    for (double rate : {0.0, -44100.0, std::nan("")}) {
        Rig rig;
        rig.backend.setDevices({{kMonoMic, "ALSA/Mic", "Mic", 1, 0, rate}});
        EXPECT_EQ(startFailure(rig, plainSetup()), noInput) << rate;
    }
    for (double rate : {10.0, 1e300}) {
        Rig rig;
        rig.backend.setDevices({{kMonoMic, "ALSA/Mic", "Mic", 1, 0, rate}});
        EXPECT_EQ(startFailure(rig, plainSetup()), "Формат микрофона не поддерживается.") << rate;
    }
    const std::string doesNotStart = "Микрофон недоступен. Проверьте устройство ввода в настройках звука Linux.";
    {
        Rig rig;
        rig.backend.failNextOpen("busy");
        EXPECT_EQ(startFailure(rig, plainSetup()), doesNotStart);
    }
    {
        Rig rig;
        rig.backend.failNextStart("busy");
        EXPECT_EQ(startFailure(rig, plainSetup()), doesNotStart);
    }
    {
        // Direct monitoring retries once without it; the retry fails too.
        Rig rig;
        RecordingSetup setup = plainSetup();
        setup.monitorLevel = 0.8f;
        rig.backend.failNextOpen("busy");
        rig.backend.failNextStart("busy");
        EXPECT_EQ(startFailure(rig, setup), doesNotStart);
    }
    {
        Rig rig;
        rig.chooseInput("ALSA/Stereo");
        RecordingSetup setup = plainSetup();
        setup.playback = AudioData::silence(100);
        rig.backend.failNextOutputOpen("no output");
        EXPECT_EQ(startFailure(rig, setup),
                  "Не удалось воспроизвести проект во время записи: Не удалось открыть звуковое устройство: no output");
    }
    {
        // A sound server that does not answer: the start gives up after a second (the window
        // waits no longer), the probe before a count-in after ten, and both say so; the openings
        // left behind close their streams.
        Rig rig;
        rig.backend.hold(true);
        const auto pressed = std::chrono::steady_clock::now();
        EXPECT_EQ(startFailure(rig, plainSetup()), "Звуковой сервер не отвечает. Проверьте, что он запущен, и попробуйте ещё раз.");
        EXPECT_LT(std::chrono::steady_clock::now() - pressed, 2500ms);
        EXPECT_THROW(AudioRecorder::probeInput(rig.backend, rig.recorder.checkInput()), SoundServerSilent);
        rig.backend.hold(false);
        for (int i = 0; i < 5000 && rig.backend.closedStreams() < 2; ++i) std::this_thread::sleep_for(1ms);
        EXPECT_EQ(rig.backend.closedStreams(), 2);
    }
    {
        Rig rig;
        EXPECT_THROW(
            {
                try {
                    rig.recorder.stop();
                } catch (const StudioError& e) {
                    EXPECT_EQ(e.message(), "Запись не содержит звука. Проверьте выбранный микрофон.");
                    throw;
                }
            },
            StudioError);
        // Stopped before any buffer arrived.
        rig.recorder.start(plainSetup());
        EXPECT_THROW(rig.recorder.stop(), StudioError);
        EXPECT_EQ(rig.backend.openStreams(), 0);
    }
}

TEST(AudioRecorder, DirectMonitoringFallsBackToASeparateMonitor) {
    Rig rig;
    rig.input({std::vector<float>(4096, 0.5f)});
    RecordingSetup setup = plainSetup();
    setup.monitorLevel = 1.0f;
    rig.backend.failNextOpen("duplex refused");
    rig.recorder.start(setup);
    EXPECT_TRUE(rig.recorder.monitoring());
    EXPECT_EQ(rig.backend.openStreams(), 2);  // capture without output, and the monitor
    std::vector<float> left(8192, 0.0f), right(8192, 0.0f);
    rig.run(4096, left.data(), right.data());
    rig.backend.pump(4096, left.data() + 4096, right.data() + 4096);
    // The step from silence to 0.5 rings a little after the conversion to 48 kHz.
    EXPECT_NEAR(*std::max_element(left.begin(), left.end()), 0.5f, 0.05f);
    EXPECT_NEAR(*std::max_element(right.begin(), right.end()), 0.5f, 0.05f);
    EXPECT_GT(rig.recorder.stop().audio.frames(), 4000);
}

TEST(AudioRecorder, MonitorFailureLeavesTheRecordingWithoutMonitoring) {
    Rig rig;
    rig.chooseInput("ALSA/Stereo");
    rig.input({std::vector<float>(1000, 0.5f)});
    RecordingSetup setup = plainSetup();
    setup.monitorLevel = 0.5f;
    rig.backend.failNextOutputOpen("no output");
    rig.recorder.start(setup);
    EXPECT_TRUE(rig.recorder.active());
    EXPECT_FALSE(rig.recorder.monitoring());
    rig.run(1000);
    EXPECT_EQ(rig.recorder.stop().audio.frames(), 1000);
}

TEST(AudioRecorder, CancelledAfterAccessStartsNothingAndSecondStartIsIgnored) {
    Rig rig;
    EXPECT_THROW(rig.recorder.start(plainSetup(), [] { return true; }), CancellationError);
    EXPECT_FALSE(rig.recorder.active());
    EXPECT_EQ(rig.backend.openStreams(), 0);

    rig.chooseInput("ALSA/Stereo");
    rig.input({std::vector<float>(100, 0.5f)});
    rig.recorder.start(plainSetup());
    rig.chooseInput("ALSA/Unplugged");
    rig.recorder.start(plainSetup());  // still the first recording
    EXPECT_EQ(rig.backend.openStreams(), 1);
    rig.run(100);
    EXPECT_EQ(rig.recorder.stop().audio.frames(), 100);
}
