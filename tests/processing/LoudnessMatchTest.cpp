#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "model/Limits.h"
#include "processing/LoudnessMatch.h"
#include "support/TestAudio.h"

using namespace tessoral;

namespace {
constexpr double kInf = std::numeric_limits<double>::infinity();
}

TEST(LoudnessMatch, FaderGainPerTarget) {
    const LoudnessMeasurement m(-20.0, -3.0, -4.0);
    for (LoudnessMeasurement any : {m, LoudnessMeasurement()}) EXPECT_FALSE(LoudnessMatch::faderGain(any, LoudnessTarget::none, 0));
    EXPECT_DOUBLE_EQ(*LoudnessMatch::faderGain(m, LoudnessTarget::peak, 0), 3.0);
    EXPECT_DOUBLE_EQ(*LoudnessMatch::faderGain(m, LoudnessTarget::streaming, 0), 6.0);
    // The row gain is subtracted.
    EXPECT_DOUBLE_EQ(*LoudnessMatch::faderGain(m, LoudnessTarget::atsc, 2.0), -6.0);
    // Clamped: −40 LUFS to −16 would need +24 dB; +5 dBFS on a +6 dB row to −1 dBFS, −12 dB.
    EXPECT_DOUBLE_EQ(*LoudnessMatch::faderGain(LoudnessMeasurement(-40.0, -30.0, -30.0), LoudnessTarget::podcast, 0), 12.0);
    EXPECT_DOUBLE_EQ(*LoudnessMatch::faderGain(LoudnessMeasurement(-5.0, 5.5, 5.0), LoudnessTarget::peak, 6.0), -12.0);
    EXPECT_DOUBLE_EQ(*LoudnessMatch::faderGain(LoudnessMeasurement(30.0, 0.0, 0.0), LoudnessTarget::ebu, 40.0), -60.0);
}

TEST(LoudnessMatch, SilenceGetsNoGain) {
    const LoudnessMeasurement silent(AudioData::silence(48000));
    for (LoudnessTarget t : allCases<LoudnessTarget>()) EXPECT_FALSE(LoudnessMatch::faderGain(silent, t, 0)) << rawValue(t);
    // A loudness too quiet to gate still has a peak to match.
    const LoudnessMeasurement quiet(std::nullopt, -80.0, -80.0);
    EXPECT_FALSE(LoudnessMatch::faderGain(quiet, LoudnessTarget::podcast, 0));
    EXPECT_DOUBLE_EQ(*LoudnessMatch::faderGain(quiet, LoudnessTarget::peak, 0), 12.0);
    // A row gain that is not a number gives no clip gain.
    EXPECT_FALSE(LoudnessMatch::faderGain(LoudnessMeasurement(-20.0, -3.0, -4.0), LoudnessTarget::peak, std::nan("")));
}

TEST(LoudnessMatch, ApplyTakesOverAudio) {
    Track t = test::clip("a", 4800);
    t.gainDB = -4.0;
    t.rack = {EffectSlot(EffectPreset::voice)};
    t.essentialSound = EssentialSound{};
    t.headHandle = AudioData::silence(100);
    t.tailHandle = AudioData::silence(100);
    t.handleEnvelopes = HandleEnvelopes{};
    const Uuid revision = t.revision;
    const auto rack = t.rack;
    const AudioData processed = test::noise(9600, 0.5f, 3);

    Track kept = t;
    LoudnessMatch::apply({processed, false}, kept);
    EXPECT_EQ(kept.audio, processed);
    EXPECT_EQ(kept.rack, rack);
    EXPECT_TRUE(kept.essentialSound.has_value());
    EXPECT_EQ(kept.gainDB, 0.0);
    EXPECT_NE(kept.revision, revision);
    EXPECT_FALSE(kept.headHandle || kept.tailHandle || kept.handleEnvelopes);
    EXPECT_EQ(kept.peaks.toVector(), processed.peaks(limits::kPeakBins));
    EXPECT_EQ(kept.leftEnvelope.toVector(), processed.envelope(false, limits::kEnvelopeBins));
    EXPECT_EQ(kept.rightEnvelope.toVector(), processed.envelope(true, limits::kEnvelopeBins));

    Track flat = t;
    LoudnessMatch::apply({processed, true}, flat);
    EXPECT_TRUE(flat.rack.empty());
    EXPECT_FALSE(flat.essentialSound.has_value());
    EXPECT_EQ(flat.audio, processed);
}
