// The frequency analysis panel over a real store with a counting analyser and virtual time: the
// 180 ms wait, what reruns the analysis and what does not, scope and messages, readout texts.

#include <QLabel>

#include <stdexcept>

#include <gtest/gtest.h>

#include "ProcessingPanelsSupport.h"
#include "model/Localization.h"
#include "model/StudioError.h"
#include "panels/FrequencyAnalysis.h"
#include "support/store/CommaDecimalLocale.h"
#include "widgets/Spinner.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

class FrequencyAnalysisTest : public ::testing::Test {
protected:
    PanelsFixture p;
    StudioStore& store = *p.store;
    Uuid row = p.addRow("Ряд 1");
    Uuid a = p.addClip("A", 96000, 2.0, row);  // 2 s … 4 s
    int renders = 0;
    std::vector<FrameRange> ranges;
    bool fail = false;
    std::unique_ptr<FrequencyAnalysisPanel> panel;

    void build() {
        panel = std::make_unique<FrequencyAnalysisPanel>(
            store,
            [this](const Track&, FrameRange frames) {
                ++renders;
                ranges.push_back(frames);
                if (fail) throw StudioError("Эффект не удалось применить");
                AmplitudeReport r;
                r.peak = -3.26;
                r.rms = -18.04;
                r.lufs = -20.5;
                r.dcOffset = 0.0001234;
                r.clippedSamples = 12;
                r.spectrum.assign(AmplitudeReport::kBands, -60.0);
                return r;
            },
            nullptr, nullptr);
        panel->resize(900, FrequencyAnalysisPanel::kHeight);
        panel->show();
    }
    // Moves virtual time and lets the started work finish.
    void after(double seconds) {
        p.fx.scheduler.advanceBy(seconds);
        p.fx.settle();
    }
    bool spinning() const { return !panel->spinner()->isHidden(); }
};

TEST_F(FrequencyAnalysisTest, WaitsAfterTheLastChangeAndRendersOnce) {
    store.setSelectedID(Uuid(a));
    build();
    after(0.17);
    EXPECT_EQ(renders, 0);
    after(0.02);
    EXPECT_EQ(renders, 1);
    ASSERT_TRUE(panel->report());
    EXPECT_FALSE(spinning());

    // Three selection changes within 100 ms: one render, 180 ms after the last.
    store.setSelection(TimeRange{2.5, 3.0});
    after(0.04);
    store.setSelection(TimeRange{2.5, 3.2});
    after(0.04);
    store.setSelection(TimeRange{2.5, 3.5});
    after(0.17);
    EXPECT_EQ(renders, 1);
    after(0.02);
    EXPECT_EQ(renders, 2);
    EXPECT_EQ(ranges.back(), (FrameRange{24000, 72000}));
}

TEST_F(FrequencyAnalysisTest, DimmedWhileTheStoreIsBusy) {
    build();
    EXPECT_TRUE(panel->isEnabled());
    store.setBusy(true);
    EXPECT_FALSE(panel->isEnabled());
    store.setBusy(false);
    EXPECT_TRUE(panel->isEnabled());
}

TEST_F(FrequencyAnalysisTest, ClipGainDoesNotRerunButTheRackSwitchDoes) {
    store.setSelectedID(Uuid(a));
    build();
    after(0.2);
    ASSERT_EQ(renders, 1);

    store.changeTrack(Uuid(a), "Громкость", [](Track& t) { t.gainDB = -6.0; });
    store.changeTrack(Uuid(a), "Имя", [](Track& t) { t.name = "B"; });
    after(0.5);
    EXPECT_EQ(renders, 1);

    store.changeTrack(Uuid(a), "Обход", [](Track& t) { t.rackBypassed = true; });
    after(0.5);
    EXPECT_EQ(renders, 2);
    // Moving the clip with no time selection analyses the same frames.
    store.changeTrack(Uuid(a), "Сдвиг", [](Track& t) { t.start = 7.0; });
    after(0.5);
    EXPECT_EQ(renders, 2);
}

TEST_F(FrequencyAnalysisTest, ResultOfAnOldKeyIsDropped) {
    store.setSelectedID(Uuid(a));
    build();
    p.fx.scheduler.advanceBy(0.2);  // started, not finished
    EXPECT_TRUE(spinning());
    store.setSelection(TimeRange{2.0, 3.0});
    p.fx.tasks.runAll();  // the first result arrives after the key changed
    EXPECT_FALSE(panel->report());
    EXPECT_TRUE(spinning());
    after(0.2);
    ASSERT_TRUE(panel->report());
    EXPECT_FALSE(spinning());
    EXPECT_EQ(renders, 2);
}

TEST_F(FrequencyAnalysisTest, SelectionOutsideTheClipShowsNoAnalysisAndNoSpinner) {
    store.setSelectedID(Uuid(a));
    build();
    p.fx.scheduler.advanceBy(0.2);  // analysis under way
    ASSERT_TRUE(spinning());
    store.setSelection(TimeRange{6.0, 7.0});
    after(0.2);
    p.fx.tasks.runAll();
    EXPECT_EQ(panel->scopeLabel()->text(), qs(L("Выделение")));
    EXPECT_EQ(panel->messageLabel()->text(), qs(L("Нет анализа")));
    EXPECT_FALSE(panel->messageLabel()->isHidden());
    EXPECT_FALSE(spinning());
    EXPECT_FALSE(panel->calculating());
    EXPECT_EQ(renders, 1);
}

TEST_F(FrequencyAnalysisTest, FailingRenderShowsItsMessageWithoutAlert) {
    store.setSelectedID(Uuid(a));
    fail = true;
    build();
    after(0.2);
    EXPECT_EQ(panel->messageLabel()->text(), QStringLiteral("Эффект не удалось применить"));
    EXPECT_FALSE(store.error().has_value());
    EXPECT_FALSE(spinning());
    // Deselecting clears the failure: the early exit resets every state.
    store.setSelectedID(std::nullopt);
    after(0.2);
    EXPECT_FALSE(panel->failure());
    EXPECT_EQ(panel->messageLabel()->text(), qs(L("Нет анализа")));
    EXPECT_EQ(panel->scopeLabel()->text(), qs(L("Весь клип")));
}

TEST_F(FrequencyAnalysisTest, ReadoutTextsKeepTheirPointUnderARussianLocale) {
    const CommaDecimalLocale comma(p.fx.home.path());
    store.setSelectedID(Uuid(a));
    build();
    after(0.2);
    const QStringList texts = panel->readoutTexts();
    ASSERT_EQ(texts.size(), 5);
    EXPECT_EQ(texts[0], qs(L("Пик")) + QStringLiteral(": -3.3 dBFS"));
    EXPECT_EQ(texts[1], QStringLiteral("RMS: -18.0 dBFS"));
    EXPECT_EQ(texts[2], qs(L("Громкость")) + QStringLiteral(": -20.5 LUFS"));
    EXPECT_EQ(texts[3], QStringLiteral("DC: 0.012%"));
    EXPECT_EQ(texts[4], qs(L("Клиппинг")) + QStringLiteral(": 12"));
    EXPECT_EQ(panel->graph()->values().size(), static_cast<std::size_t>(AmplitudeReport::kBands));
}

TEST(FrequencyAnalysisReal, SilentClipReadsTheSilenceFloor) {
    PanelsFixture p;
    const Uuid row = p.addRow("Ряд");
    const Uuid id = p.addClip("Тишина", 0, 0.0, row, AudioData::silence(48000));
    p.store->setSelectedID(Uuid(id));
    FrequencyAnalysisPanel panel(*p.store);
    p.fx.scheduler.advanceBy(0.2);
    p.fx.settle();
    const QStringList texts = panel.readoutTexts();
    ASSERT_EQ(texts.size(), 5);
    EXPECT_EQ(texts[0], qs(L("Пик")) + QStringLiteral(": -240.0 dBFS"));
    EXPECT_EQ(texts[2], qs(L("Громкость")) + QStringLiteral(": \u2212\u221E LUFS"));
    EXPECT_EQ(texts[4], qs(L("Клиппинг")) + QStringLiteral(": 0"));
}

TEST(SpectrumGraphGeometry, AxesFollowTheLevelAndLogFrequencyRules) {
    const QRectF plot = SpectrumGraph::plotRect(537, 128);
    EXPECT_EQ(plot, QRectF(27, 7, 500, 100));
    EXPECT_EQ(SpectrumGraph::plotRect(10, 10), QRectF(27, 7, 1, 1));
    EXPECT_DOUBLE_EQ(SpectrumGraph::frequencyX(plot, 20), 27);
    EXPECT_NEAR(SpectrumGraph::frequencyX(plot, 20000), 527, 1e-9);
    EXPECT_NEAR(SpectrumGraph::frequencyX(plot, 200), 27 + 500.0 / 3, 1e-9);
    EXPECT_EQ(SpectrumGraph::point(plot, 0, 3, 5.0), QPointF(27, 7));        // above 0 dB: top
    EXPECT_EQ(SpectrumGraph::point(plot, 1, 3, -50.0), QPointF(277, 57));
    EXPECT_EQ(SpectrumGraph::point(plot, 2, 3, -110.0), QPointF(527, 107));  // below −100: bottom
}

}  // namespace
