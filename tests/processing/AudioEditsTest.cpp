#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "model/Limits.h"
#include "model/Localization.h"
#include "model/StudioError.h"
#include "processing/AudioEdits.h"
#include "processing/Loudness.h"
#include "support/TestAudio.h"

using namespace tessoral;

namespace {

std::string refusal(EditAction a, const AudioData& audio, FrameRange r) {
    try {
        AudioEdits::apply(a, audio, r);
    } catch (const StudioError& e) {
        return e.message();
    }
    return "";
}

AudioData ramp(std::int64_t n) {
    std::vector<float> l(n), r(n);
    for (std::int64_t i = 0; i < n; ++i) {
        l[i] = 0.001f * static_cast<float>(i + 1);
        r[i] = -0.002f * static_cast<float>(i + 1);
    }
    return AudioData(std::move(l), std::move(r));
}

}  // namespace

TEST(AudioEdits, RangesOutsideTheClipAreRefused) {
    const AudioData a = ramp(100);
    const std::string outside = L("Выделите фрагмент внутри выбранного клипа.");
    for (auto action : allCases<EditAction>()) {
        EXPECT_EQ(refusal(action, a, {0, 0}), outside);
        EXPECT_EQ(refusal(action, a, {-1, 10}), outside);
        EXPECT_EQ(refusal(action, a, {50, 101}), outside);
        EXPECT_EQ(refusal(action, a, {60, 50}), outside);
    }
    EXPECT_EQ(refusal(EditAction::delete_, a, {0, 100}), L("Чтобы удалить весь клип, используйте «Удалить клип»."));
}

TEST(AudioEdits, DeleteTrimReverse) {
    const AudioData a = ramp(100);
    const AudioData one = AudioEdits::apply(EditAction::delete_, a, {0, 99});
    ASSERT_EQ(one.frames(), 1);
    EXPECT_EQ(one.left[0], a.left[99]);
    const AudioData mid = AudioEdits::apply(EditAction::delete_, a, {10, 20});
    EXPECT_EQ(mid.frames(), 90);
    EXPECT_EQ(mid.right[10], a.right[20]);
    const AudioData t = AudioEdits::apply(EditAction::trim, a, {100 - 100, 100});
    EXPECT_TRUE(t.left.sharesStorageWith(a.left));
    const AudioData part = AudioEdits::apply(EditAction::trim, ramp(300), {100, 200});
    EXPECT_EQ(part.frames(), 100);
    EXPECT_EQ(part.left[0], ramp(300).left[100]);
    const AudioData rev = AudioEdits::apply(EditAction::reverse, a, {10, 20});
    EXPECT_EQ(rev.left[10], a.left[19]);
    EXPECT_EQ(rev.left[20], a.left[20]);
    EXPECT_EQ(AudioEdits::apply(EditAction::reverse, rev, {10, 20}), a);
    EXPECT_EQ(a.left[10], 0.001f * 11.0f);  // the input is never changed
}

TEST(AudioEdits, Fades) {
    const AudioData a = test::constant(10, 0.5f);
    const AudioData one = AudioEdits::apply(EditAction::fadeIn, a, {3, 4});
    EXPECT_EQ(one.left[3], 0.0f);
    const AudioData two = AudioEdits::apply(EditAction::fadeIn, a, {3, 5});
    EXPECT_EQ(two.left[3], 0.0f);
    EXPECT_EQ(two.right[4], 0.5f);
    EXPECT_EQ(AudioEdits::apply(EditAction::fadeOut, a, {3, 4}), a);
    const AudioData out = AudioEdits::apply(EditAction::fadeOut, a, {0, 10});
    EXPECT_EQ(out.left[0], 0.5f);
    EXPECT_EQ(out.left[9], 0.0f);
    EXPECT_FLOAT_EQ(out.left[3], 0.5f * (1.0f - 3.0f / 9.0f));
    EXPECT_EQ(AudioEdits::apply(EditAction::silence, a, {2, 8}).left[5], 0.0f);
    EXPECT_EQ(AudioEdits::apply(EditAction::silence, a, {2, 8}).left[8], 0.5f);
}

TEST(AudioEdits, MonoSharedChannelsAreWrittenSeparately) {
    const AudioData m = AudioData::mono({0.1f, 0.2f, 0.3f});
    const AudioData r = AudioEdits::apply(EditAction::reverse, m, {0, 3});
    EXPECT_EQ(r.left[0], 0.3f);
    EXPECT_EQ(r.right[0], 0.3f);  // reversed once, not twice
    const AudioData g = AudioEdits::apply(EditAction::gain, m, {0, 3}, 6);
    EXPECT_FLOAT_EQ(g.right[0], 0.1f * 1.9952623f);  // scaled once, not twice
}

TEST(AudioEdits, PeakAndGain) {
    std::vector<float> l(100, 0.1f), r(100, 0.2f);
    r[50] = -0.5f;
    const AudioData a(l, r);
    const AudioData p = AudioEdits::apply(EditAction::peak, a, {0, 100});
    EXPECT_FLOAT_EQ(p.right[50], -0.8912509f);
    EXPECT_FLOAT_EQ(p.left[0], 0.1f * (0.8912509f / 0.5f));
    const AudioData silent = test::constant(10, 0.0f);
    EXPECT_EQ(AudioEdits::apply(EditAction::peak, silent, {0, 10}), silent);
    // A peak so small that 0.8912509 / m overflows: unchanged rather than infinities and NaNs.
    const AudioData tiny = test::constant(10, 1e-40f);
    EXPECT_EQ(AudioEdits::apply(EditAction::peak, tiny, {0, 10}), tiny);

    const AudioData g = AudioEdits::apply(EditAction::gain, a, {0, 50}, 6);
    EXPECT_FLOAT_EQ(g.left[0] / 0.1f, 1.9952623f);
    EXPECT_EQ(g.left[50], 0.1f);
    EXPECT_EQ(AudioEdits::apply(EditAction::gain, a, {0, 100}, -HUGE_VAL).left[7], 0.0f);
    // Non-finite factors leave the audio unchanged instead of writing NaN or infinity.
    EXPECT_EQ(AudioEdits::apply(EditAction::gain, a, {0, 100}, std::numeric_limits<double>::quiet_NaN()), a);
    EXPECT_EQ(AudioEdits::apply(EditAction::gain, a, {0, 100}, HUGE_VAL), a);
    EXPECT_EQ(AudioEdits::apply(EditAction::gain, a, {0, 100}, 1e6), a);  // 10^50000 overflows
}

TEST(AudioEdits, NormalizeReachesTheTarget) {
    const AudioData quiet = test::noise(48000 * 3, 0.05f, 9);
    const AudioData n = AudioEdits::apply(EditAction::normalize, quiet, {0, quiet.frames()});
    const auto lufs = Loudness::integrated(n);
    ASSERT_TRUE(lufs);
    const float peak = Loudness::samplePeakLinear(n);
    // Either the target is reached or the peak cap of −1 dBFS holds it back.
    EXPECT_TRUE(std::fabs(*lufs + 16) < 0.05 || std::fabs(peak - 0.8912509f) < 1e-6) << *lufs << " " << peak;
    EXPECT_LE(peak, 0.8912510f);
    // Nothing measurable: unchanged, no failure.
    const AudioData silent = test::constant(4800, 0.0f);
    EXPECT_EQ(AudioEdits::apply(EditAction::normalize, silent, {0, 4800}), silent);
}

TEST(AudioEdits, Paste) {
    const AudioData target = ramp(10);
    const AudioData piece = test::constant(3, 0.9f);
    const AudioData front = AudioEdits::paste(piece, target, -5);
    EXPECT_EQ(front.frames(), 13);
    EXPECT_EQ(front.left[0], 0.9f);
    EXPECT_EQ(front.left[3], target.left[0]);
    const AudioData back = AudioEdits::paste(piece, target, 99);
    EXPECT_EQ(back.right[9], target.right[9]);
    EXPECT_EQ(back.right[12], 0.9f);
    const AudioData mid = AudioEdits::paste(piece, target, 4);
    EXPECT_EQ(mid.left[4], 0.9f);
    EXPECT_EQ(mid.left[7], target.left[4]);

    const AudioData full = AudioData::silence(limits::kMaxFrames);
    try {
        AudioEdits::paste(test::constant(1), full, 0);
        FAIL();
    } catch (const StudioError& e) {
        EXPECT_EQ(e.message(), L("Длина клипа ограничена 8 минутами."));
    }
}

TEST(EditActionVocabulary, RawValuesAndTitles) {
    EXPECT_EQ(rawValue(EditAction::delete_), "delete");
    EXPECT_EQ(fromRaw<EditAction>("fadeOut"), EditAction::fadeOut);
    EXPECT_FALSE(fromRaw<EditAction>("Delete"));
    EXPECT_EQ(allCases<EditAction>().size(), 9u);
    EXPECT_EQ(title(EditAction::peak), "Пик до \u2212" "1 dB");
}
