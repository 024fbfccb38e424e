// The processing sheet's tools: channel operations, generated tones and noise, inserted silence.

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "ClipTestSupport.h"
#include "model/Automation.h"
#include "processing/SignalGenerator.h"
#include "support/store/CommaDecimalLocale.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

// Left and right differ: left 0.5, right −0.25.
AudioData unequal(std::int64_t frames) {
    const auto n = static_cast<std::size_t>(frames);
    return AudioData(std::vector<float>(n, 0.5f), std::vector<float>(n, -0.25f));
}

class StoreChannels : public ClipStoreTest {
protected:
    Uuid row;
    Uuid id;

    // A 2 s clip at 1 s on its own row, selected.
    void SetUp() override {
        row = makeRows(1).front();
        Track t = Track::make("Клип", unequal(96000));
        t.start = 1.0;
        t.laneID = row;
        id = t.id;
        setClips({t});
        store->setSelectedID(id);
    }

    void sheet(ProcessingSheet which, const std::function<void(DiagnosticsState&)>& change = {}) {
        auto d = store->diagnostics();
        d.sheet = which;
        if (change) change(d);
        store->setDiagnostics(d);
    }

    const Track& clip() { return track(id); }
};

}  // namespace

TEST_F(StoreChannels, AnOperationActsOnThePartOfTheSelectionInsideTheClipAsOneStep) {
    // 0.5 s before the clip to 0.5 s into it.
    store->setSelection(TimeRange{0.5, 1.5});
    store->applyChannelOperation(ChannelOperation::swap());
    EXPECT_TRUE(store->busy());
    EXPECT_EQ(store->status(), L("Поменять местами Л/П") + "…");
    fx.tasks.runAll();
    EXPECT_EQ(lastStep(), L("Поменять местами Л/П"));
    EXPECT_EQ(store->status(), L("Применено: {0}", L("Поменять местами Л/П")));
    EXPECT_EQ(clip().audio.left.span()[0], -0.25f);
    EXPECT_EQ(clip().audio.left.span()[23999], -0.25f);
    EXPECT_EQ(clip().audio.left.span()[24000], 0.5f);
    EXPECT_EQ(clip().frames(), 96000);

    // Wholly outside the clip: refused, nothing recorded.
    store->setSelection(TimeRange{5.0, 6.0});
    store->applyChannelOperation(ChannelOperation::mono());
    EXPECT_EQ(store->error(), L("Выделите фрагмент внутри выбранного клипа."));
    EXPECT_EQ(fx.tasks.pending(), 0u);
    EXPECT_EQ(steps(), 1u);

    store->setSelectedID(std::nullopt);
    store->applyChannelOperation(ChannelOperation::mono());
    EXPECT_EQ(store->error(), L("Выберите клип."));
}

TEST_F(StoreChannels, FullWidthStillRecordsAStepAndClosesTheSheet) {
    sheet(ProcessingSheet::width);
    const Uuid before = clip().revision;
    store->applyChannelOperation(ChannelOperation::width(store->diagnostics().widthPercent / 100.0));
    EXPECT_FALSE(store->diagnostics().sheet);
    fx.tasks.runAll();
    EXPECT_EQ(lastStep(), "Ширина стереобазы 100%");
    EXPECT_NE(clip().revision, before);
    EXPECT_EQ(clip().audio.left.span()[100], 0.5f);
}

TEST_F(StoreChannels, AGeneratedToneLandsAtTheCursorOnANewLastRowAndIsSelected) {
    store->setCursor(3.0);
    store->setSelection(TimeRange{1.0, 2.0});
    sheet(ProcessingSheet::tone, [](DiagnosticsState& d) {
        d.toneFrequency = 440.4;
        d.toneDuration = 0.5;
    });
    store->generateTone();
    EXPECT_FALSE(store->diagnostics().sheet);
    EXPECT_EQ(store->status(), L("Генерация: {0}…", "Синус 440 Гц"));
    fx.tasks.runAll();
    ASSERT_EQ(store->session().tracks.size(), 2u);
    const Track& tone = store->session().tracks.back();
    EXPECT_EQ(tone.name, "Синус 440 Гц");
    EXPECT_DOUBLE_EQ(tone.start, 3.0);
    EXPECT_EQ(tone.frames(), 24000);
    EXPECT_EQ(tone.color, 1);
    EXPECT_EQ(store->session().lanes.back().id, tone.laneID);
    EXPECT_EQ(store->session().lanes.back().name, "Синус 440 Гц");
    EXPECT_EQ(store->selectedID(), tone.id);
    EXPECT_FALSE(store->selection());
    EXPECT_EQ(lastStep(), L("Генерация: {0}", "Синус 440 Гц"));
    EXPECT_EQ(store->status(), L("Создана дорожка «{0}»", "Синус 440 Гц"));
    // The peak is the level (−6 dBFS).
    float peak = 0.0f;
    for (float v : tone.audio.left.span()) peak = std::max(peak, std::fabs(v));
    EXPECT_NEAR(peak, std::pow(10.0, -6.0 / 20.0), 1e-3);
}

TEST_F(StoreChannels, ToneFrequenciesThatCannotBeNamedAreRefusedWithTheGeneratorsMessage) {
    for (double f : {kNaN, kInf, -kInf, 1e300, 19.9, 20000.5, -440.0}) {
        store->setError(std::nullopt);
        sheet(ProcessingSheet::tone, [f](DiagnosticsState& d) { d.toneFrequency = f; });
        store->generateTone();
        EXPECT_EQ(store->error(), "Частота должна быть от 20 до 20 000 Гц.") << f;
        EXPECT_EQ(fx.tasks.pending(), 0u);
        EXPECT_TRUE(store->diagnostics().sheet) << "the sheet stays open with the message";
    }
    EXPECT_EQ(steps(), 0u);
}

TEST_F(StoreChannels, GeneratorLimitsAreTestedBeforeAnyWork) {
    store->setCursor(478.0);
    store->generateTone();
    EXPECT_EQ(store->error(), L("Сигнал не помещается: длина проекта ограничена 8 минутами."));

    store->setCursor(0.0);
    auto d = store->diagnostics();
    d.noiseDuration = 0.0;
    store->setDiagnostics(d);
    store->generateNoise();
    EXPECT_EQ(store->error(), L("Укажите длительность больше нуля."));

    store->setError(std::nullopt);
    makeRows(31);  // 32 rows, 1 clip
    store->generateTone();
    EXPECT_EQ(store->error(), L("Достигнут предел проекта: {0} дорожек и {1} клипов.", 32, 256));
    EXPECT_EQ(fx.tasks.pending(), 0u);
    EXPECT_EQ(steps(), 0u);
}

TEST_F(StoreChannels, ANegativeNoiseSeedGivesSeedZerosNoise) {
    sheet(ProcessingSheet::noise, [](DiagnosticsState& d) {
        d.noiseSeed = -5;
        d.noiseDuration = 0.25;
    });
    store->generateNoise();
    fx.tasks.runAll();
    const Track& made = store->session().tracks.back();
    EXPECT_EQ(made.name, "Розовый шум");
    EXPECT_EQ(made.audio, SignalGenerator::noise(NoiseColor::pink, -20.0, 0.25, 0));
    EXPECT_NE(made.audio, SignalGenerator::noise(NoiseColor::pink, -20.0, 0.25, 1));
}

TEST_F(StoreChannels, SilenceAtTheCursorMovesLaterEnvelopePointsAndHoldsTheValue) {
    Session s = store->session();
    s.tracks[0].volumeEnvelope = {{0.0, 0.0}, {1.0, -12.0}, {1.5, -6.0}};
    store->setSession(s);
    store->setCursor(1.5);  // 0.5 s into the clip, where the envelope reads −6
    store->setSelection(TimeRange{1.0, 2.0});
    store->insertSilence();
    EXPECT_EQ(store->status(), L("Вставка тишины…"));
    fx.tasks.runAll();
    EXPECT_EQ(clip().frames(), 96000 + 48000);
    EXPECT_EQ(clip().audio.left.span()[24000], 0.0f);
    EXPECT_EQ(clip().audio.left.span()[72000], 0.5f);
    EXPECT_EQ(lastStep(), L("Вставка тишины"));
    EXPECT_EQ(store->status(), "Вставлено 1.00 с тишины");
    EXPECT_FALSE(store->selection());
    const Envelope& env = clip().volumeEnvelope;
    EXPECT_NEAR(*Automation::value(env, 0.5), -6.0, 1e-9);
    EXPECT_NEAR(*Automation::value(env, 1.5), -6.0, 1e-9) << "held across the silence";
    EXPECT_NEAR(env.back().time, 2.5, 1e-9) << "the later point moved by the inserted second";
}

TEST_F(StoreChannels, SilenceAtTheClipEndAppendsAndOneFrameBeforeTheStartIsRefused) {
    store->setCursor(3.0);
    store->insertSilence();
    fx.tasks.runAll();
    EXPECT_EQ(clip().frames(), 96000 + 48000);
    EXPECT_EQ(clip().audio.left.span()[95999], 0.5f);
    EXPECT_EQ(clip().audio.left.span()[96000], 0.0f);

    store->setCursor(1.0 - 1.0 / 48000.0);
    store->insertSilence();
    EXPECT_EQ(store->error(), L("Поставьте курсор внутри выбранного клипа."));
    EXPECT_EQ(fx.tasks.pending(), 0u);

    // A clip that would pass 480 s.
    store->setError(std::nullopt);
    store->setCursor(2.0);
    auto d = store->diagnostics();
    d.silenceDuration = 478.0;
    store->setDiagnostics(d);
    store->insertSilence();
    EXPECT_EQ(store->error(), L("Длина проекта ограничена 8 минутами."));
}

TEST_F(StoreChannels, SilenceUnderHalfAFrameInsertsNothingYetRecordsItsStep) {
    store->setCursor(2.0);
    auto d = store->diagnostics();
    d.silenceDuration = 0.4 / 48000.0;
    store->setDiagnostics(d);
    store->insertSilence();
    fx.tasks.runAll();
    EXPECT_EQ(clip().frames(), 96000);
    EXPECT_EQ(lastStep(), L("Вставка тишины"));
    EXPECT_EQ(store->status(), "Вставлено 0.00 с тишины");
}

TEST_F(StoreChannels, TheSilenceStatusUsesAPointUnderADecimalCommaLocale) {
    CommaDecimalLocale comma(fx.home.path());
    if (!comma.active()) GTEST_SKIP() << "no locale with a decimal comma can be made here";
    store->setCursor(2.0);
    store->insertSilence();
    fx.tasks.runAll();
    EXPECT_EQ(store->status(), "Вставлено 1.00 с тишины");
}
