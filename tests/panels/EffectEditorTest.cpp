// The effect editor over a real store: slider rounding, one undo step per gesture, typed values,
// reset, a slot that goes away, and the typed field under a decimal-comma locale.

#include <QCheckBox>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTemporaryDir>

#include <clocale>
#include <filesystem>
#include <cstdlib>

#include <gtest/gtest.h>

#include "EffectPanelsSupport.h"
#include "model/EffectParameters.h"
#include "model/Localization.h"
#include "model/NumberFormat.h"
#include "panels/EQCurve.h"
#include "panels/EffectEditor.h"
#include "widgets/SegmentedControl.h"
#include "widgets/ValueSlider.h"

namespace tessoral {
namespace {

using test::qs;

EffectParameter parameterOf(EffectPreset preset, const std::string& key) {
    for (const auto& p : parameters(preset))
        if (p.key == key) return p;
    return {};
}

TEST(EffectRounding, SliderValuesTakeTheirGrain) {
    const auto lowCut = parameterOf(EffectPreset::voice, "lowCut");  // 40…300 Hz, logarithmic
    EXPECT_DOUBLE_EQ(quantizedEffectValue(lowCut, 85.37), 85);
    const auto presence = parameterOf(EffectPreset::voice, "presence");  // 0…8 dB
    EXPECT_DOUBLE_EQ(quantizedEffectValue(presence, 2.347), 2.35);
    const auto gain = parameterOf(EffectPreset::parametricEQ, "p2.g");  // ±18 dB
    EXPECT_DOUBLE_EQ(quantizedEffectValue(gain, -0.125), -0.13);
    EXPECT_DOUBLE_EQ(quantizedEffectValue(gain, 12.5), 13);
    EXPECT_DOUBLE_EQ(quantizedEffectValue(gain, -12.5), -13);
    EXPECT_DOUBLE_EQ(quantizedEffectValue(gain, 40), 18);
    EXPECT_DOUBLE_EQ(quantizedEffectValue(gain, std::nan("")), 0);
    const auto on = parameterOf(EffectPreset::parametricEQ, "p2.on");
    EXPECT_DOUBLE_EQ(quantizedEffectValue(on, 0.62), 1);
}

class EffectEditor : public ::testing::Test {
protected:
    test::EffectStore s;
    Uuid clipID;
    Uuid slotID;
    std::unique_ptr<EffectEditorView> editor;

    void open(EffectPreset preset, EffectParams params = {}) {
        EffectSlot slot(preset);
        slot.params = std::move(params);
        slotID = slot.id;
        clipID = s.addClip("Голос", {slot});
        editor = std::make_unique<EffectEditorView>(*s.store, nullptr, clipID, slotID);
        editor->show();
        test::pump();
    }
    const EffectSlot& slot() const { return s.track(clipID).rack.front(); }
    void type(EffectParameterRow* row, const QString& text) {
        row->field()->setFocus();
        row->field()->selectAll();
        row->field()->setText(text);
        QTest::keyClick(row->field(), Qt::Key_Return);
    }
};

TEST_F(EffectEditor, AMotionlessClickOnAMissingKeyWritesItsDefaultOnce) {
    open(EffectPreset::compressor);
    auto* row = editor->row("threshold");
    ASSERT_TRUE(row);
    test::clickThumb(row->slider()->slider());
    ASSERT_EQ(s.undo().size(), 1u);
    EXPECT_EQ(s.undo().back(), "Параметры: Компрессор");
    EXPECT_EQ(slot().params, (EffectParams{{"threshold", -20.0}}));
    // The value now lies on the grid: a second click records nothing.
    test::clickThumb(row->slider()->slider());
    EXPECT_EQ(s.undo().size(), 1u);
}

TEST_F(EffectEditor, AStoredValueOffTheGridIsRoundedByAClick) {
    open(EffectPreset::voice, {{"presence", 2.347}});
    test::clickThumb(editor->row("presence")->slider()->slider());
    EXPECT_EQ(s.undo().size(), 1u);
    EXPECT_DOUBLE_EQ(slot().params.at("presence"), 2.35);
}

TEST_F(EffectEditor, TheFieldFollowsADragAndTheStoreHearsOnlyTheRelease) {
    open(EffectPreset::deesser);
    auto* row = editor->row("sensitivity");
    test::dragThumb(row->slider()->slider(), 0.8, [&] {
        EXPECT_TRUE(s.undo().empty());
        EXPECT_NE(row->field()->text(), QStringLiteral("50"));
    });
    ASSERT_EQ(s.undo().size(), 1u);
    const double stored = slot().params.at("sensitivity");
    EXPECT_NEAR(stored, 80, 2);
    EXPECT_EQ(stored, std::round(stored));  // whole numbers from 10 up
    EXPECT_EQ(row->field()->text(), ParameterField::format(stored));
}

TEST_F(EffectEditor, TypedValuesAreClampedAndCommittedAsTyped) {
    open(EffectPreset::deesser);
    auto* sensitivity = editor->row("sensitivity");  // 0…100
    type(sensitivity, QStringLiteral("250"));
    EXPECT_DOUBLE_EQ(slot().params.at("sensitivity"), 100);
    EXPECT_EQ(sensitivity->field()->text(), ParameterField::format(100));
    auto* depth = editor->row("depth");  // 1…24
    type(depth, ParameterField::format(12.5));
    EXPECT_DOUBLE_EQ(slot().params.at("depth"), 12.5);
    EXPECT_EQ(s.undo().size(), 2u);

    // Text that is no finite number commits nothing and brings the value back.
    for (const char* text : {"abc", "inf", "nan"}) {
        type(depth, QString::fromLatin1(text));
        EXPECT_EQ(s.undo().size(), 2u) << text;
    }
    type(depth, QStringLiteral("inf"));
    EXPECT_EQ(depth->field()->text(), ParameterField::format(12.5));
}

TEST_F(EffectEditor, ReturnThenLeavingTheFieldIsOneStep) {
    open(EffectPreset::deesser);
    auto* depth = editor->row("depth");
    type(depth, QStringLiteral("7"));
    editor->row("low")->field()->setFocus();  // focus moves on
    test::pump();
    depth->field()->clearFocus();
    test::pump();
    EXPECT_EQ(s.undo().size(), 1u);
    EXPECT_DOUBLE_EQ(slot().params.at("depth"), 7);
}

TEST_F(EffectEditor, ResetEmptiesTheDictionaryOnceThenDisablesItself) {
    open(EffectPreset::compressor);
    EXPECT_FALSE(editor->resetButton()->isEnabled());
    type(editor->row("makeup"), QStringLiteral("3"));
    ASSERT_TRUE(editor->resetButton()->isEnabled());
    editor->resetButton()->click();
    ASSERT_EQ(s.undo().size(), 2u);
    EXPECT_EQ(s.undo().back(), "Сброс эффекта: Компрессор");
    EXPECT_TRUE(slot().params.empty());
    EXPECT_FALSE(editor->resetButton()->isEnabled());
    // The row shows the default again.
    EXPECT_EQ(editor->row("makeup")->field()->text(), QStringLiteral("0"));
}

TEST_F(EffectEditor, ASwitchCommitsExactlyZeroOrOne) {
    open(EffectPreset::parametricEQ);
    auto* on = editor->row("p2.on");
    ASSERT_TRUE(on && on->toggle());
    on->toggle()->click();
    EXPECT_EQ(slot().params, (EffectParams{{"p2.on", 0.0}}));
    on->toggle()->click();
    EXPECT_EQ(slot().params, (EffectParams{{"p2.on", 1.0}}));
}

TEST_F(EffectEditor, UndoingTheSlotsCreationLeavesTheGoneText) {
    test::EffectStore& st = s;
    clipID = st.addClip("Голос");
    st.store->addRackEffect(EffectPreset::compressor);
    slotID = st.track(clipID).rack.front().id;
    editor = std::make_unique<EffectEditorView>(*st.store, nullptr, clipID, slotID);
    editor->show();
    EXPECT_FALSE(editor->slotGone());
    st.store->undo();
    test::pump();
    EXPECT_TRUE(editor->slotGone());
    auto* gone = editor->findChild<QLabel*>(QStringLiteral("goneText"));
    ASSERT_TRUE(gone);
    EXPECT_TRUE(gone->isVisible());
    EXPECT_EQ(gone->text(), qs("Эффект удалён"));
    st.store->redo();
    test::pump();
    EXPECT_FALSE(editor->slotGone());
}

TEST_F(EffectEditor, TheParametricRowsFollowTheBandAndTheCurve) {
    open(EffectPreset::parametricEQ);
    EXPECT_EQ(editor->band(), "p2");
    EXPECT_EQ(editor->width(), 560);
    // The band picker, at the small control size: every title, Russian and English, keeps 4 px from
    // the dividers on either side.
    auto* picker = editor->findChild<SegmentedControl*>();
    ASSERT_NE(picker, nullptr);
    const auto english = Localization::table(
        AppLanguage::english, std::filesystem::path(TESSORAL_SOURCE_DIR) / "resources" / "Localization");
    const QFontMetrics metrics(picker->font());
    for (int i = 0; i < picker->count(); ++i) {
        const std::string& title = EQDesign::parametricBands()[static_cast<std::size_t>(i)].title;
        const auto en = english.find(title);
        ASSERT_NE(en, english.end()) << title;
        for (const std::string& text : {title, en->second})
            EXPECT_LE(metrics.horizontalAdvance(QString::fromStdString(text)) + 8, picker->segmentRect(i).width()) << text;
    }
    EXPECT_TRUE(editor->row("p2.g")->isVisible());
    EXPECT_FALSE(editor->row("ls.g")->isVisible());
    ASSERT_TRUE(editor->curve());
    EXPECT_EQ(editor->curve()->selectedBand(), "p2");
    Q_EMIT editor->curve()->selectedBandChanged(QStringLiteral("ls"));
    EXPECT_TRUE(editor->row("ls.g")->isVisible());
    EXPECT_FALSE(editor->row("p2.g")->isVisible());
    // An undo shows at once in the open editor.
    type(editor->row("ls.g"), QStringLiteral("4"));
    s.store->undo();
    EXPECT_EQ(editor->row("ls.g")->field()->text(), QStringLiteral("0"));
}

TEST_F(EffectEditor, OtherPresetsAre320WideAndInvertSaysItHasNothing) {
    open(EffectPreset::invert);
    EXPECT_EQ(editor->width(), 320);
    EXPECT_TRUE(editor->findChild<QLabel*>(QStringLiteral("noParameters")));
    EXPECT_FALSE(editor->resetButton()->isEnabled());
}

// Under a Russian locale the field reads and writes "12,5"; every other number keeps its point.
TEST_F(EffectEditor, TheFieldSpeaksTheLocaleAndTheTextsDoNot) {
    QTemporaryDir dir;
    const QString target = dir.path() + QStringLiteral("/ru_RU.UTF-8");
    const QByteArray command =
        QStringLiteral("localedef -i ru_RU -f UTF-8 '%1' >/dev/null 2>&1").arg(target).toLocal8Bit();
    if (std::system(command.constData()) != 0) GTEST_SKIP() << "localedef could not build ru_RU";
    const QByteArray oldPath = qgetenv("LOCPATH");
    qputenv("LOCPATH", dir.path().toLocal8Bit());
    const std::string oldNumeric = std::setlocale(LC_NUMERIC, nullptr);
    ASSERT_TRUE(std::setlocale(LC_NUMERIC, "ru_RU.UTF-8"));
    const QLocale oldLocale;
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));

    open(EffectPreset::deesser);
    auto* depth = editor->row("depth");
    type(depth, QStringLiteral("12,5"));
    EXPECT_DOUBLE_EQ(slot().params.at("depth"), 12.5);
    EXPECT_EQ(depth->field()->text(), QStringLiteral("12,5"));
    EXPECT_TRUE(qs(parameterOf(EffectPreset::deesser, "depth").display(2.5)).startsWith(QStringLiteral("2.5")));
    EXPECT_EQ(num::fixed(2.5, 1), "2.5");
    // Never grouped: a separator reads as a decimal sign to someone.
    EXPECT_EQ(ParameterField::format(20000), QStringLiteral("20000"));
    EXPECT_EQ(ParameterField::format(1234.5), QStringLiteral("1234,5"));
    // The largest frequency fits the 64-wide field.
    EXPECT_LT(depth->field()->fontMetrics().horizontalAdvance(ParameterField::format(20000)) + 12, 64);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(ParameterField::format(1000), QStringLiteral("1000"));
    EXPECT_EQ(ParameterField::format(1234.5), QStringLiteral("1234.5"));

    QLocale::setDefault(oldLocale);
    std::setlocale(LC_NUMERIC, oldNumeric.c_str());
    if (oldPath.isNull())
        qunsetenv("LOCPATH");
    else
        qputenv("LOCPATH", oldPath);
}

}  // namespace
}  // namespace tessoral
