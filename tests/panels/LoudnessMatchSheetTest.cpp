// The loudness matching sheet: its row rules against hand-worked figures, and the sheet over a real
// store measuring generated clips one at a time on the (manual) task runner.

#include <QComboBox>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>

#include <limits>

#include <gtest/gtest.h>

#include "EffectPanelsSupport.h"
#include "panels/LoudnessMatchSheet.h"
#include "panels/PanelSupport.h"
#include "support/TestSignals.h"
#include "widgets/Palette.h"

namespace tessoral {
namespace {

using test::qs;

const QString kMinus = QString(QChar(0x2212));
constexpr double kSilent = -std::numeric_limits<double>::infinity();

LoudnessMatch::Entry measured(std::optional<double> lufs, double truePeak, double samplePeak) {
    LoudnessMatch::Entry e;
    e.measurement = LoudnessMeasurement(lufs, truePeak, samplePeak);
    return e;
}

MatchRows::Texts rowOf(const LoudnessMatch::Entry& e, LoudnessTarget t, double lane, bool process = false) {
    return MatchRows::texts(e, t, process, lane);
}

TEST(MatchRows, PeakTargetThroughTheRowGain) {
    const auto t = rowOf(measured(-20.0, -5.8, -6.0), LoudnessTarget::peak, 2.0);
    EXPECT_EQ(t.gain, QStringLiteral("+3.0 dB"));
    EXPECT_EQ(t.after, kMinus + QStringLiteral("0.8"));
    EXPECT_TRUE(t.highlighted);
    EXPECT_EQ(t.lufs, kMinus + QStringLiteral("20.0"));
    EXPECT_EQ(t.truePeak, kMinus + QStringLiteral("5.8"));
}

TEST(MatchRows, GainsStayWithinTheirRange) {
    EXPECT_EQ(rowOf(measured(-40.0, -30, -30), LoudnessTarget::podcast, 0).gain, QStringLiteral("+12.0 dB"));
    EXPECT_EQ(rowOf(measured(-2.0, -1, -1), LoudnessTarget::atsc, 12).gain, kMinus + QStringLiteral("34.0 dB"));
    EXPECT_EQ(rowOf(measured(-2.0, -1, -1), LoudnessTarget::atsc, 60).gain, kMinus + QStringLiteral("60.0 dB"));
}

TEST(MatchRows, HighlightEdgesAreStrict) {
    // A target the clip already meets: the predicted peak is the true peak itself.
    EXPECT_FALSE(rowOf(measured(-23.0, -0.95, -3), LoudnessTarget::ebu, 0).highlighted);
    EXPECT_TRUE(rowOf(measured(-23.0, -0.94, -3), LoudnessTarget::ebu, 0).highlighted);
    EXPECT_FALSE(rowOf(measured(-24.0, -1.96, -3), LoudnessTarget::atsc, 0).highlighted);
    EXPECT_TRUE(rowOf(measured(-24.0, -1.94, -3), LoudnessTarget::atsc, 0).highlighted);
}

TEST(MatchRows, NegativeZeroKeepsItsSignAndZeroGainIsPlus) {
    const auto t = rowOf(measured(-16.0, -0.04, -3), LoudnessTarget::podcast, 0);
    EXPECT_EQ(t.truePeak, kMinus + QStringLiteral("0.0"));
    EXPECT_EQ(t.gain, QStringLiteral("+0.0 dB"));
}

TEST(MatchRows, ProcessingIgnoresTheRowAndNamesTheLimiter) {
    const auto onRow = rowOf(measured(-20.0, -2.0, -3), LoudnessTarget::podcast, 6, true);
    const auto flat = rowOf(measured(-20.0, -2.0, -3), LoudnessTarget::podcast, 0, true);
    EXPECT_EQ(onRow.gain, flat.gain);
    EXPECT_EQ(onRow.gain, QStringLiteral("+4.0 dB"));
    EXPECT_EQ(onRow.after, qs("лимитер"));
    EXPECT_TRUE(onRow.highlighted);
}

TEST(MatchRows, UnmeasuredAndSilentClips) {
    const auto none = MatchRows::texts(std::nullopt, LoudnessTarget::podcast, false, 0);
    EXPECT_EQ((QStringList{none.lufs, none.truePeak, none.gain, none.after}),
              (QStringList{"\u2026", "\u2026", "\u2014", "\u2014"}));
    const auto silent = rowOf(measured(std::nullopt, kSilent, kSilent), LoudnessTarget::podcast, 0);
    EXPECT_EQ((QStringList{silent.lufs, silent.truePeak, silent.gain, silent.after}),
              (QStringList{kMinus + "\u221E", kMinus + "\u221E", "\u2014", "\u2014"}));
    EXPECT_FALSE(silent.highlighted);
    // A clip without loudness still has a sample peak for the peak target.
    EXPECT_EQ(rowOf(measured(std::nullopt, -9, -10), LoudnessTarget::peak, 0).gain, QStringLiteral("+9.0 dB"));
}

TEST(MatchRows, TableHeight) {
    EXPECT_EQ(MatchRows::tableHeight(0), 30);
    EXPECT_EQ(MatchRows::tableHeight(1), 30);
    EXPECT_EQ(MatchRows::tableHeight(9), 238);
    EXPECT_EQ(MatchRows::tableHeight(10), 260);
}

class MatchSheet : public ::testing::Test {
protected:
    test::EffectStore s;
    Uuid loud, quiet;

    void SetUp() override {
        loud = place("Громкий", 0.5f);
        quiet = place("Тихий", 0.05f);
        s.store->setShowMatchLoudness(true);
    }
    Uuid place(const std::string& name, float amplitude) {
        Session session = s.store->session();
        const auto x = test::sine(48000, 440, amplitude);
        Track t = Track::make(name, AudioData(x, x));
        const Uuid id = t.id;
        session.tracks.push_back(std::move(t));
        s.store->setSession(std::move(session));
        return id;
    }
};

TEST_F(MatchSheet, OpensMeasuringAndApplyTakesOneStep) {
    MatchLoudnessSheet sheet(*s.store, nullptr);
    sheet.show();
    EXPECT_TRUE(sheet.measuring());
    EXPECT_FALSE(sheet.applyButton()->isEnabled());
    EXPECT_TRUE(sheet.progress()->isVisible());
    EXPECT_EQ(sheet.targetBox()->currentText(), qs(title(LoudnessTarget::podcast)));
    EXPECT_EQ(sheet.rowTexts(loud)[1], QStringLiteral("\u2026"));
    EXPECT_EQ(sheet.table()->height(), MatchRows::tableHeight(2));

    // One clip at a time: the second is started only when the first is in.
    ASSERT_EQ(s.fx.tasks.pending(), 1u);
    s.fx.tasks.runNext();
    EXPECT_EQ(sheet.entries().size(), 1u);
    EXPECT_NE(sheet.rowTexts(loud)[1], QStringLiteral("\u2026"));
    EXPECT_EQ(sheet.rowTexts(quiet)[1], QStringLiteral("\u2026"));
    s.fx.settle();
    EXPECT_FALSE(sheet.measuring());
    EXPECT_FALSE(sheet.progress()->isVisible());
    ASSERT_TRUE(sheet.applyButton()->isEnabled());
    // The prominent default: filled with the accent's hue (the style lightens it).
    const QColor face = sheet.applyButton()->grab().toImage().pixelColor(4, sheet.applyButton()->height() / 2);
    EXPECT_NEAR(face.hueF(), Palette::accent().hueF(), 0.03) << face.name().toStdString();
    EXPECT_GT(face.saturationF(), 0.3) << face.name().toStdString();

    // Target and mode change the computed columns only, never measuring again.
    const QStringList before = sheet.rowTexts(quiet);
    sheet.setTarget(LoudnessTarget::ebu);
    EXPECT_EQ(s.fx.tasks.pending(), 0u);
    EXPECT_EQ(sheet.rowTexts(quiet).mid(1, 2), before.mid(1, 2));
    EXPECT_NE(sheet.rowTexts(quiet)[3], before[3]);
    sheet.setTarget(LoudnessTarget::podcast);

    sheet.applyButton()->click();
    ASSERT_EQ(s.undo().size(), 1u);
    EXPECT_EQ(s.undo().back(), "Сопоставление громкости");
    EXPECT_FALSE(s.store->showMatchLoudness());
    const auto loudGain = LoudnessMatch::faderGain(sheet.entries().at(loud).measurement, LoudnessTarget::podcast, 0);
    EXPECT_DOUBLE_EQ(s.track(loud).gainDB, *loudGain);
    EXPECT_NE(s.track(quiet).gainDB, 0.0);
}

TEST_F(MatchSheet, AClipEditedMeanwhileIsShownUnmeasuredAndLeftOut) {
    MatchLoudnessSheet sheet(*s.store, nullptr);
    s.fx.settle();
    s.store->setSelectedID(quiet);
    s.store->addRackEffect(EffectPreset::warm);
    EXPECT_EQ(sheet.rowTexts(quiet)[1], QStringLiteral("\u2026"));
    EXPECT_EQ(sheet.rowTexts(quiet)[3], QStringLiteral("\u2014"));
    sheet.apply();
    EXPECT_NE(s.track(loud).gainDB, 0.0);
    EXPECT_EQ(s.track(quiet).gainDB, 0.0);
}

TEST_F(MatchSheet, AllSilentShowsTheMessageInTheSheet) {
    Session session = s.store->session();
    for (Track& t : session.tracks) t.replaceAudio(AudioData::silence(48000));
    s.store->setSession(session);
    QDialog dialog;
    auto* sheet = new MatchLoudnessSheet(*s.store, nullptr, &dialog);
    dialog.show();
    s.fx.settle();
    ASSERT_TRUE(sheet->applyButton()->isEnabled());
    sheet->applyButton()->click();
    EXPECT_TRUE(s.store->showMatchLoudness());
    ASSERT_TRUE(s.store->error());
    EXPECT_TRUE(s.store->sheetShowsError());  // the window's alert stays away
    auto* error = sheet->findChild<panels::SheetErrorText*>();
    ASSERT_TRUE(error && error->isVisible());
    EXPECT_EQ(error->label()->text(), qs("Нет дорожек со звуком для сопоставления громкости."));

    // Escape runs "Отмена": the message goes, then the sheet.
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&dialog, &escape);
    EXPECT_FALSE(s.store->error());
    EXPECT_FALSE(s.store->showMatchLoudness());
}

TEST_F(MatchSheet, ClosingMidMeasureWritesNothingLater) {
    auto sheet = std::make_unique<MatchLoudnessSheet>(*s.store, nullptr);
    ASSERT_EQ(s.fx.tasks.pending(), 1u);
    sheet.reset();
    s.fx.settle();  // the clip in flight finishes; its result goes with the sheet
    EXPECT_EQ(s.fx.tasks.pending(), 0u);
    EXPECT_TRUE(s.undo().empty());
}

TEST_F(MatchSheet, ProcessModeNoteNamesTheCeiling) {
    MatchLoudnessSheet sheet(*s.store, nullptr);
    sheet.setTarget(LoudnessTarget::atsc);
    sheet.setProcessAudio(true);
    EXPECT_TRUE(sheet.note()->text().contains(kMinus + QStringLiteral("2 dBTP")));
    sheet.setProcessAudio(false);
    sheet.setTarget(LoudnessTarget::streaming);
    EXPECT_TRUE(sheet.note()->text().contains(kMinus + QStringLiteral("1 dBTP")));
}

}  // namespace
}  // namespace tessoral
