// The live meter and the correlation meter: readout texts and colours, the bar's geometry and
// pixels, what accessibility reads, the recording face.

#include <QAccessible>
#include <QAccessibleInterface>
#include <QImage>
#include <QLabel>

#include <cmath>

#include <gtest/gtest.h>

#include "ProcessingPanelsSupport.h"
#include "model/Localization.h"
#include "panels/CorrelationMeter.h"
#include "panels/LiveMeter.h"
#include "panels/PanelSupport.h"
#include "support/store/CommaDecimalLocale.h"
#include "store/TransportSignals.h"
#include "widgets/Palette.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

QColor textColor(const QLabel* l) { return l->palette().color(QPalette::WindowText); }

TEST(LiveMeter, ReadoutsRoundButCompareTheUnroundedValue) {
    TemporaryFolder scratch;
    const CommaDecimalLocale comma(scratch.path());
    LiveMeterPanel panel(nullptr);
    panel.setLoudness(-8.96, -9.0);
    EXPECT_EQ(panel.momentaryValue()->text(), QStringLiteral("\u22129.0"));
    EXPECT_EQ(textColor(panel.momentaryValue()), panels::orange());
    EXPECT_EQ(panel.shortTermValue()->text(), QStringLiteral("\u22129.0"));
    EXPECT_EQ(textColor(panel.shortTermValue()), QColor(Qt::white));
    panel.setLoudness(-23.0, std::nullopt);
    EXPECT_EQ(panel.momentaryValue()->text(), QStringLiteral("\u221223.0"));
    EXPECT_EQ(textColor(panel.momentaryValue()), QColor(Qt::white));
    EXPECT_EQ(panel.shortTermValue()->text(), QString(QChar(0x2014)));
    EXPECT_EQ(textColor(panel.shortTermValue()), Palette::secondaryText());
    EXPECT_EQ(panel.shortTermValue()->parentWidget()->accessibleName(), QStringLiteral("S \u2014 LUFS"));
}

TEST(LiveMeter, BarRunsFromTheCentreToTheValue) {
    EXPECT_EQ(CorrelationMeter::barRect(84, 1.0), QRectF(42, 0, 42, 5));
    EXPECT_EQ(CorrelationMeter::barRect(84, -1.0), QRectF(0, 0, 42, 5));
    EXPECT_EQ(CorrelationMeter::barRect(84, 0.0).width(), 0.0);
    EXPECT_EQ(CorrelationMeter::barRect(84, -0.5), QRectF(21, 0, 21, 5));
}

TEST(LiveMeter, BarPixelsAreRedBelowZeroAndAccentAbove) {
    CorrelationMeter meter;
    meter.resize(84, meter.sizeHint().height());
    const int y = meter.barArea().center().y();
    meter.setValue(-0.5);
    QImage img = meter.grab().toImage();
    EXPECT_EQ(img.pixelColor(30, y).rgb(), Palette::red().rgb());
    EXPECT_NE(img.pixelColor(10, y).rgb(), Palette::red().rgb());
    EXPECT_NE(img.pixelColor(60, y).rgb(), Palette::red().rgb());
    meter.setValue(1.0);
    img = meter.grab().toImage();
    EXPECT_EQ(img.pixelColor(80, y).rgb(), Palette::accent().rgb());
    EXPECT_NE(img.pixelColor(20, y).rgb(), Palette::accent().rgb());
    meter.setValue(std::nullopt);
    img = meter.grab().toImage();
    EXPECT_NE(img.pixelColor(80, y).rgb(), Palette::accent().rgb());
}

TEST(LiveMeter, AccessibilityReadsTheValueOrNoSignal) {
    CorrelationMeter meter;
    meter.setValue(0.3);
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(&meter);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->text(QAccessible::Name), qs(L("Фазовая корреляция")));
    EXPECT_EQ(a->text(QAccessible::Value), QStringLiteral("0.30"));
    meter.setValue(std::nullopt);
    EXPECT_EQ(a->text(QAccessible::Value), qs(L("нет сигнала")));
    {
        TemporaryFolder scratch;
        const CommaDecimalLocale comma(scratch.path());
        meter.setValue(-0.125);
        EXPECT_EQ(a->text(QAccessible::Value), QStringLiteral("-0.12"));
    }
}

TEST(LiveMeter, RecordingFaceShowsTheInputStateAtTheSameWidth) {
    LiveMeterPanel panel(nullptr);
    panel.resize(300, 40);
    EXPECT_EQ(panel.width(), LiveMeterPanel::kWidth);
    EXPECT_EQ(panel.currentWidget(), panel.meterFace());
    panel.setRecording(true);
    EXPECT_EQ(panel.currentWidget(), panel.recordingFace());
    EXPECT_EQ(panel.inputLabel()->text(), qs(L("ВХОД")));
    EXPECT_EQ(panel.monitoringLabel()->text(), qs(L("мониторинг выкл.")));
    panel.setOverdubbing(true);
    panel.setMonitoring(true);
    EXPECT_EQ(panel.inputLabel()->text(), qs(L("ВХОД · ПОВЕРХ")));
    EXPECT_EQ(panel.monitoringLabel()->text(), qs(L("мониторинг вкл.")));
    EXPECT_EQ(textColor(panel.inputLabel()), Palette::red());
    EXPECT_EQ(panel.width(), LiveMeterPanel::kWidth);
    panel.setRecording(false);
    EXPECT_EQ(panel.currentWidget(), panel.meterFace());
}

}  // namespace

namespace {

// Playback of a mono sine through the store: the meter shows the transport's loudness and a
// correlation of +1 while it plays, and "—" with an empty bar once it stops.
TEST(LiveMeter, FollowsTheTransportWhilePlayingAndClearsAtStop) {
    PanelsFixture p;
    const Uuid row = p.addRow("Ряд");
    std::vector<float> tone(48000 * 4);
    for (std::size_t i = 0; i < tone.size(); ++i) tone[i] = 0.5f * std::sin(2.0 * M_PI * 440.0 * i / 48000.0);
    p.addClip("Тон", 0, 0.0, row, AudioData::mono(std::move(tone)));
    TransportSignals signals(p.store->transport());
    LiveMeterPanel panel(&signals);
    p.store->playPause();
    p.fx.settle();
    for (int tick = 0; tick < 60; ++tick) {
        p.fx.backend.pump(1600);
        p.fx.scheduler.advanceBy(1.0 / 30.0);
    }
    ASSERT_TRUE(signals.playing());
    ASSERT_TRUE(signals.momentaryLUFS());
    EXPECT_EQ(panel.momentaryValue()->text(), LiveMeterPanel::readoutText(signals.momentaryLUFS()));
    EXPECT_TRUE(panel.momentaryValue()->text().startsWith(QChar(0x2212)));
    ASSERT_TRUE(panel.correlation()->value());
    EXPECT_NEAR(*panel.correlation()->value(), 1.0, 0.01);
    p.store->stop();
    p.fx.settle();
    EXPECT_EQ(panel.momentaryValue()->text(), QString(QChar(0x2014)));
    EXPECT_EQ(panel.shortTermValue()->text(), QString(QChar(0x2014)));
    EXPECT_FALSE(panel.correlation()->value());
}

}  // namespace
