// Recording through the transport: the published state, the recording tick, the punch-out stop
// and the hand-over of the take, with the Null backend pumped by hand.
#include <gtest/gtest.h>

#include <chrono>

#include "model/Defaults.h"
#include "model/RecordingPreferences.h"
#include "model/StudioError.h"
#include "transport/AudioDevices.h"
#include "transport/AudioRecorder.h"
#include "transport/AudioTransport.h"
#include "transport/ManualScheduler.h"
#include "transport/NullAudioBackend.h"
#include "transport/NullInputScript.h"

using namespace tessoral;
using namespace std::chrono_literals;

namespace {

struct Rig {
    NullAudioBackend backend{NullAudioBackend::Mode::manual};
    ManualScheduler scheduler;
    MemoryDefaults defaults;
    AudioTransport transport{backend, scheduler, defaults};
    std::vector<AudioData> takes;
    std::vector<std::int64_t> lost;        // lost frames handed with each take
    std::vector<double> latencies;         // the latency to compensate, as the store reads it then
    std::vector<std::string> failures;

    Rig() {
        backend.setDevices({
            {1, "ALSA/Stereo", "Stereo", 2, 0, 48000.0},
            {2, "ALSA/Speakers", "Speakers", 0, 2, 48000.0},
        });
        defaults.set(AudioDevices::kInputDeviceKey, std::string("ALSA/Stereo"));
        std::vector<float> ramp(48000);
        for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = 0.25f;
        backend.setInput(std::make_shared<NullInputScript>(std::vector<std::vector<float>>{ramp, ramp}));
        transport.recordingFinished = [this](RecordedTake take) {
            takes.push_back(std::move(take.audio));
            lost.push_back(take.lostFrames);
            latencies.push_back(transport.recordingLatency());
        };
        transport.failed = [this](std::exception_ptr e) {
            try {
                std::rethrow_exception(e);
            } catch (const StudioError& error) {
                failures.push_back(error.message());
            } catch (...) {
                failures.push_back("?");
            }
        };
    }

    // Pumps the input in slices, letting the capture catch up after each, and ticks after each.
    void run(std::int64_t frames) {
        for (std::int64_t done = 0; done < frames; done += 4800) {
            backend.pump(std::min<std::int64_t>(4800, frames - done), nullptr, nullptr);
            ASSERT_TRUE(transport.waitUntilCaptureIdle(5s));
            scheduler.advance();
        }
    }
};

RecordingSetup setupAt(double origin) {
    RecordingSetup setup;
    setup.maximumFrames = 10 * 48000;
    setup.plan.origin = origin;
    return setup;
}

}  // namespace

TEST(TransportRecording, PublishesProgressAndHandsOverTheTake) {
    Rig rig;
    rig.transport.record(setupAt(2.0));
    EXPECT_TRUE(rig.transport.recording());
    EXPECT_FALSE(rig.transport.playing());
    EXPECT_DOUBLE_EQ(rig.transport.position(), 2.0);
    EXPECT_EQ(rig.scheduler.activeTimers(), 1);

    rig.run(24000);
    EXPECT_NEAR(rig.transport.position(), 2.5, 1e-9);
    EXPECT_GT(rig.transport.leftLevel(), 0.0f);

    // A second record while recording does nothing.
    rig.transport.record(setupAt(7.0));
    EXPECT_NEAR(rig.transport.position(), 2.5, 1e-9);

    rig.transport.stopRecording();
    EXPECT_FALSE(rig.transport.recording());
    EXPECT_EQ(rig.transport.leftLevel(), 0.0f);
    EXPECT_EQ(rig.scheduler.activeTimers(), 0);
    ASSERT_EQ(rig.takes.size(), 1u);
    EXPECT_EQ(rig.takes[0].frames(), 24000);
    EXPECT_EQ(rig.takes[0].left[100], 0.25f);
    EXPECT_EQ(rig.lost[0], 0);
    EXPECT_TRUE(rig.failures.empty());
    rig.transport.stopRecording();  // nothing unless recording
    EXPECT_EQ(rig.takes.size(), 1u);
}

TEST(TransportRecording, StopWhileRecordingEndsTheOverdubButNotTheCapture) {
    Rig rig;
    RecordingSetup setup = setupAt(0.0);
    setup.playback = AudioData::silence(48000);
    rig.transport.record(setup);
    EXPECT_TRUE(rig.transport.overdubbing());
    EXPECT_EQ(rig.backend.openStreams(), 2);
    rig.run(9600);
    EXPECT_GT(rig.transport.leftLevel(), 0.0f);

    rig.transport.stop();
    EXPECT_FALSE(rig.transport.overdubbing());
    EXPECT_EQ(rig.backend.openStreams(), 1) << "the overdub output is closed";
    EXPECT_EQ(rig.transport.leftLevel(), 0.0f);
    EXPECT_TRUE(rig.transport.recording());
    EXPECT_EQ(rig.scheduler.activeTimers(), 1) << "the recording keeps its timer";

    rig.run(9600);
    EXPECT_GT(rig.transport.leftLevel(), 0.0f);
    const Uuid generation = rig.transport.generation();
    rig.transport.stopRecording();
    EXPECT_NE(rig.transport.generation(), generation);
    ASSERT_EQ(rig.takes.size(), 1u);
    EXPECT_GT(rig.takes[0].frames(), 9600);
}

TEST(TransportRecording, PunchOutFrameEndsTheRecordingByItself) {
    Rig rig;
    RecordingSetup setup = setupAt(0.0);
    setup.plan.window = TimeRange{0.25, 0.5};
    rig.transport.record(setup);
    rig.run(36000);
    EXPECT_FALSE(rig.transport.recording());
    ASSERT_EQ(rig.takes.size(), 1u);
    EXPECT_GE(rig.takes[0].frames(), 24000);
}

TEST(TransportRecording, NothingCapturedIsReportedAsAFailure) {
    Rig rig;
    rig.transport.record(setupAt(0.0));
    rig.transport.stopRecording();
    EXPECT_TRUE(rig.takes.empty());
    ASSERT_EQ(rig.failures.size(), 1u);
    EXPECT_FALSE(rig.failures[0].empty());
}

TEST(TransportRecording, AFailedStartLeavesTheTransportIdle) {
    Rig rig;
    rig.backend.refuseInputAccess(true);
    EXPECT_THROW(rig.transport.record(setupAt(0.0)), StudioError);
    EXPECT_FALSE(rig.transport.recording());
    EXPECT_EQ(rig.scheduler.activeTimers(), 0);
}

TEST(TransportRecording, ALoopbackPlacesAClickWhereItWasHeard) {
    // A microphone in front of the speakers, through devices that stamp their times with their
    // latencies, as real ones do: a click the overdub plays at 0.5 s must land at 0.5 s of the
    // timeline once the take is placed with the latency the transport publishes.
    for (const auto& [input, output] : {std::pair{0.010, 0.020}, std::pair{0.040, 0.060}}) {
        Rig rig;
        rig.backend.setInput(nullptr);
        rig.backend.setLatencies(input, output);
        rig.backend.setLoopback(true);
        rig.backend.pump(4800);
        RecordingSetup setup = setupAt(3.0);
        std::vector<float> playback(72000, 0.0f);
        for (int i = 0; i < 24; ++i) playback[24000 + i] = 0.8f;  // a half-millisecond click
        setup.playback = AudioData(playback, playback);
        rig.transport.record(setup);
        rig.run(96000);
        rig.transport.stopRecording();
        ASSERT_EQ(rig.takes.size(), 1u);
        const AudioData& take = rig.takes[0];
        const auto placed = setup.plan.take(take.frames(), RecordingLatency::frames(rig.latencies[0], 48000), 48000);
        std::int64_t click = -1;
        for (std::int64_t i = placed.frames.lower; i < placed.frames.upper && click < 0; ++i)
            if (take.left[static_cast<std::size_t>(i)] > 0.4f) click = i;
        ASSERT_GE(click, 0) << input << "/" << output;
        const double heard = placed.start + static_cast<double>(click - placed.frames.lower) / 48000.0;
        EXPECT_NEAR(heard, 3.5, 0.001) << input << "/" << output;
    }
}
