#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <optional>
#include <vector>

#include "model/AudioData.h"
#include "model/Defaults.h"
#include "store/TransportSignals.h"
#include "transport/AudioTransport.h"
#include "transport/ManualScheduler.h"
#include "transport/NullAudioBackend.h"

using namespace tessoral;

namespace {

// A stereo tone whose level falls, so the peak meters keep changing.
AudioData fallingTone(std::int64_t frames) {
    std::vector<float> l(static_cast<std::size_t>(frames)), r(static_cast<std::size_t>(frames));
    for (std::int64_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / 48000.0;
        const double gain = 0.9 * std::exp(-t);
        l[static_cast<std::size_t>(i)] = static_cast<float>(gain * std::sin(2 * std::numbers::pi * 441.0 * t));
        r[static_cast<std::size_t>(i)] = 0.5f * l[static_cast<std::size_t>(i)];
    }
    return AudioData(std::move(l), std::move(r));
}

struct Rig {
    NullAudioBackend backend{NullAudioBackend::Mode::manual};
    ManualScheduler scheduler;
    MemoryDefaults defaults;
    AudioTransport transport{backend, scheduler, defaults};
    TransportSignals signals{transport};

    std::vector<bool> playing;
    std::vector<double> positions;
    int levels = 0, loudness = 0, correlation = 0;
    std::vector<float> lefts;
    std::vector<std::optional<double>> momentaries;

    Rig() {
        QObject::connect(&signals, &TransportSignals::playingChanged, [this](bool p) { playing.push_back(p); });
        QObject::connect(&signals, &TransportSignals::positionChanged, [this](double s) { positions.push_back(s); });
        QObject::connect(&signals, &TransportSignals::levelsChanged, [this](float l, float) {
            ++levels;
            lefts.push_back(l);
        });
        QObject::connect(&signals, &TransportSignals::loudnessChanged, [this](std::optional<double> m, std::optional<double>) {
            ++loudness;
            momentaries.push_back(m);
        });
        QObject::connect(&signals, &TransportSignals::correlationChanged, [this](std::optional<double>) { ++correlation; });
    }
    // One 1/30 s tick with its audio pumped first.
    void tick() {
        backend.pump(1600);
        scheduler.advanceBy(AudioTransport::kTickSeconds);
    }
};

}  // namespace

TEST(TransportSignals, LevelsEveryTickLoudnessEveryThirdEachOnlyOnChange) {
    Rig rig;
    rig.transport.play(fallingTone(48000 * 4), 0.0, false, std::nullopt);
    EXPECT_EQ(rig.playing, (std::vector<bool>{true}));
    EXPECT_TRUE(rig.signals.playing());
    constexpr int kTicks = 60;  // two seconds
    for (int i = 0; i < kTicks; ++i) rig.tick();
    // 30 level updates a second: one per tick with a changing level, never more.
    EXPECT_GE(rig.levels, kTicks - 2);
    EXPECT_LE(rig.levels, kTicks);
    // 10 loudness and correlation updates a second at most.
    EXPECT_LE(rig.loudness, kTicks / 3);
    EXPECT_GE(rig.loudness, kTicks / 3 - 5);  // the first blocks have no loudness yet
    EXPECT_LE(rig.correlation, kTicks / 3);
    EXPECT_GE(rig.correlation, 1);
    for (std::size_t i = 1; i < rig.lefts.size(); ++i) EXPECT_NE(rig.lefts[i], rig.lefts[i - 1]);
    for (std::size_t i = 1; i < rig.momentaries.size(); ++i) EXPECT_NE(rig.momentaries[i], rig.momentaries[i - 1]);
    EXPECT_EQ(rig.signals.leftLevel(), rig.transport.leftLevel());
    EXPECT_EQ(rig.signals.momentaryLUFS(), rig.transport.momentaryLUFS());
    ASSERT_FALSE(rig.positions.empty());
    EXPECT_EQ(rig.positions.back(), rig.transport.position());

    // A refresh with nothing new emits nothing.
    const int levels = rig.levels, loudness = rig.loudness;
    const std::size_t positions = rig.positions.size();
    rig.signals.refresh();
    EXPECT_EQ(rig.levels, levels);
    EXPECT_EQ(rig.loudness, loudness);
    EXPECT_EQ(rig.positions.size(), positions);

    rig.transport.stop();
    EXPECT_EQ(rig.playing, (std::vector<bool>{true, false}));
    EXPECT_FALSE(rig.signals.playing());
    rig.transport.stop();  // already stopped: no second signal
    EXPECT_EQ(rig.playing.size(), 2u);
}

TEST(TransportSignals, SteadyLevelsAreSignalledOnce) {
    Rig rig;
    // A constant full-scale square: the same peak in every tick.
    std::vector<float> l(48000 * 2), r(48000 * 2);
    for (std::size_t i = 0; i < l.size(); ++i) l[i] = r[i] = (i / 24) % 2 ? 0.5f : -0.5f;
    rig.transport.play(AudioData(std::move(l), std::move(r)), 0.0, false, std::nullopt);
    for (int i = 0; i < 30; ++i) rig.tick();
    EXPECT_EQ(rig.levels, 1);
    ASSERT_EQ(rig.lefts.size(), 1u);
    EXPECT_FLOAT_EQ(rig.lefts[0], 0.5f);
    EXPECT_EQ(rig.positions.size(), 30u);  // the playhead moves on every tick
}

TEST(TransportSignals, DestroyedSignalsLeaveTheTransportWorking) {
    NullAudioBackend backend{NullAudioBackend::Mode::manual};
    ManualScheduler scheduler;
    MemoryDefaults defaults;
    AudioTransport transport{backend, scheduler, defaults};
    { TransportSignals signals{transport}; }
    transport.play(fallingTone(48000), 0.0, false, std::nullopt);
    backend.pump(1600);
    scheduler.advanceBy(AudioTransport::kTickSeconds);  // would call into the destroyed object otherwise
    EXPECT_TRUE(transport.playing());
}
