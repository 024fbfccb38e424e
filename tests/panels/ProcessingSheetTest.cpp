// The processing sheet over a real store: values bound to the diagnostics state, the primary
// button's commands and refusals, and every way of cancelling.

#include <QDialog>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QVBoxLayout>

#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "ProcessingPanelsSupport.h"
#include "model/Localization.h"
#include "panels/PanelSupport.h"
#include "panels/ProcessingSheet.h"
#include "widgets/NumberField.h"
#include "widgets/SegmentedControl.h"

using namespace tessoral;
using namespace tessoral::test;
using panels::ProcessingSheetView;

namespace {

class ProcessingSheetTest : public ::testing::Test {
protected:
    PanelsFixture p;
    StudioStore& store = *p.store;

    void open(ProcessingSheet sheet) {
        DiagnosticsState d = store.diagnostics();
        d.sheet = sheet;
        store.setDiagnostics(d);
    }

    // The sheet in a window-modal dialog, wired as the window's sheet host wires it: a dialog that
    // finishes while the store still wants the sheet resets the flag.
    struct Hosted {
        std::unique_ptr<QDialog> dialog;
        ProcessingSheetView* view = nullptr;
    };
    Hosted host(ProcessingSheet sheet) {
        open(sheet);
        Hosted h;
        h.dialog = std::make_unique<QDialog>();
        auto* layout = new QVBoxLayout(h.dialog.get());
        h.view = new ProcessingSheetView(store, sheet, h.dialog.get());
        layout->addWidget(h.view);
        StudioStore* s = &store;
        QObject::connect(h.dialog.get(), &QDialog::finished, h.dialog.get(), [s] {
            if (!s->diagnostics().sheet) return;
            DiagnosticsState d = s->diagnostics();
            d.sheet = std::nullopt;
            s->setDiagnostics(d);
        });
        h.dialog->show();
        pump();
        return h;
    }

    // A 0.5 s clip with left 0.5 and right 0.1 on its own row, selected.
    Uuid stereoClip() {
        const Uuid row = p.addRow("Ряд 1");
        const std::vector<float> left(24000, 0.5f), right(24000, 0.1f);
        const Uuid id = p.addClip("Стерео", 24000, 0.0, row, AudioData(left, right));
        store.setSelectedID(id);
        return id;
    }
};

}  // namespace

TEST_F(ProcessingSheetTest, FirstValuesAreTheStoresAndEditsOutliveTheSheet) {
    {
        ProcessingSheetView width(store, ProcessingSheet::width);
        EXPECT_EQ(width.heading()->text(), qs(L("Ширина стереобазы")));
        EXPECT_EQ(width.valueLabel()->text(), QStringLiteral("100%"));
        EXPECT_EQ(width.primaryButton()->text(), qs(L("Применить")));
        EXPECT_EQ(width.scopeLabel()->text(), qs(L("Применяется ко всему выбранному клипу.")));
        width.slider()->setValue(width.slider()->value() + 3);
        EXPECT_DOUBLE_EQ(store.diagnostics().widthPercent, 115.0);
    }
    ProcessingSheetView again(store, ProcessingSheet::width);
    EXPECT_EQ(again.valueLabel()->text(), QStringLiteral("115%"));
    store.setSelection(TimeRange{100.0, 101.0});
    EXPECT_EQ(again.scopeLabel()->text(), qs(L("Применяется к выделенному фрагменту.")));

    ProcessingSheetView tone(store, ProcessingSheet::tone);
    EXPECT_EQ(tone.valueLabel()->text(), QStringLiteral("-6.0 dBFS"));
    EXPECT_EQ(tone.picker()->currentIndex(), 0);
    EXPECT_EQ(tone.fields()[0]->value(), 1000.0);
    EXPECT_EQ(tone.fields()[1]->value(), 5.0);
    EXPECT_EQ(tone.primaryButton()->text(), qs(L("Создать дорожку")));
    store.setCursor(61.5);
    EXPECT_EQ(tone.placementLabel()->text(), qs(L("Новая дорожка начнётся в позиции курсора {0}.", "01:01.500")));

    ProcessingSheetView noise(store, ProcessingSheet::noise);
    EXPECT_EQ(noise.valueLabel()->text(), QStringLiteral("-20.0 dBFS"));
    EXPECT_EQ(noise.picker()->currentIndex(), 1);
    EXPECT_EQ(noise.fields()[1]->text(), QStringLiteral("1"));

    ProcessingSheetView center(store, ProcessingSheet::center);
    EXPECT_EQ(center.picker()->currentIndex(), 1);
    EXPECT_EQ(center.fields()[0]->value(), 120.0);
    EXPECT_EQ(center.fields()[1]->value(), 8000.0);

    ProcessingSheetView silence(store, ProcessingSheet::silence);
    EXPECT_EQ(silence.silenceNote()->text(), qs(L("Выберите клип.")));
    EXPECT_EQ(silence.fields()[0]->value(), 1.0);
    EXPECT_EQ(silence.primaryButton()->text(), qs(L("Вставить#insert")));
}

TEST_F(ProcessingSheetTest, LevelSlidersStopAtTheirEndsInHalfDecibels) {
    ProcessingSheetView noise(store, ProcessingSheet::noise);
    noise.slider()->setValue(noise.slider()->maximum());
    EXPECT_DOUBLE_EQ(store.diagnostics().noiseLevelDB, -6.0);
    EXPECT_EQ(noise.valueLabel()->text(), QStringLiteral("-6.0 dBFS"));
    noise.slider()->setValue(noise.slider()->maximum() - 1);
    EXPECT_DOUBLE_EQ(store.diagnostics().noiseLevelDB, -6.5);

    ProcessingSheetView tone(store, ProcessingSheet::tone);
    tone.slider()->setValue(tone.slider()->maximum());
    EXPECT_DOUBLE_EQ(store.diagnostics().toneLevelDB, 0.0);
    EXPECT_EQ(tone.valueLabel()->text(), QStringLiteral("0.0 dBFS"));
    tone.slider()->setValue(tone.slider()->minimum());
    EXPECT_DOUBLE_EQ(store.diagnostics().toneLevelDB, -60.0);

    ProcessingSheetView width(store, ProcessingSheet::width);
    width.slider()->setValue(width.slider()->maximum());
    EXPECT_DOUBLE_EQ(store.diagnostics().widthPercent, 200.0);
}

TEST_F(ProcessingSheetTest, WidthPercentBecomesTheFactor) {
    // Left 0.5, right 0.1: mid 0.3, side 0.2. At 200 % the side doubles (0.7 / −0.1); at 100 % the
    // audio stays as it is.
    const Uuid id = stereoClip();
    ProcessingSheetView sheet(store, ProcessingSheet::width);
    open(ProcessingSheet::width);
    sheet.apply();
    p.fx.settle();
    EXPECT_NEAR(p.track(id).audio.left[100], 0.5f, 1e-6);
    EXPECT_NEAR(p.track(id).audio.right[100], 0.1f, 1e-6);

    open(ProcessingSheet::width);
    sheet.slider()->setValue(sheet.slider()->maximum());
    sheet.apply();
    EXPECT_FALSE(store.diagnostics().sheet);
    p.fx.settle();
    EXPECT_NEAR(p.track(id).audio.left[100], 0.7f, 1e-5);
    EXPECT_NEAR(p.track(id).audio.right[100], -0.1f, 1e-5);
}

TEST_F(ProcessingSheetTest, ARefusalStaysInTheSheetAndTheNextApplyClearsItFirst) {
    auto h = host(ProcessingSheet::silence);
    std::vector<bool> errors;
    QObject::connect(&store, &StudioStore::errorChanged, h.dialog.get(),
                     [&] { errors.push_back(store.error().has_value()); });
    h.view->primaryButton()->click();
    ASSERT_TRUE(store.error());
    EXPECT_EQ(*store.error(), L("Выберите клип."));
    EXPECT_TRUE(store.diagnostics().sheet);
    EXPECT_TRUE(store.sheetShowsError());
    EXPECT_TRUE(h.view->errorText()->isVisible());
    EXPECT_EQ(h.view->errorText()->label()->text(), qs(L("Выберите клип.")));
    EXPECT_EQ(h.view->errorText()->label()->palette().color(QPalette::WindowText), panels::orange());

    errors.clear();
    QTest::keyClick(h.dialog.get(), Qt::Key_Return);  // Return is the primary button
    EXPECT_EQ(errors, (std::vector<bool>{false, true}));
    EXPECT_TRUE(h.dialog->isVisible());
}

TEST_F(ProcessingSheetTest, CancelEscapeAndTheWindowsCloseClearErrorAndSheet) {
    for (int way = 0; way < 3; ++way) {
        auto h = host(ProcessingSheet::silence);
        h.view->apply();
        ASSERT_TRUE(store.error());
        if (way == 0) h.view->cancelButton()->click();
        else if (way == 1) QTest::keyClick(h.dialog.get(), Qt::Key_Escape);
        else h.dialog->close();
        EXPECT_FALSE(store.error()) << "way " << way;
        EXPECT_FALSE(store.diagnostics().sheet) << "way " << way;
        // So no alert follows in the window.
        EXPECT_FALSE(store.error().has_value() && !store.sheetShowsError());
    }
}

TEST_F(ProcessingSheetTest, AToneOutsideTheGeneratorsRangePassesTheSheetUnchecked) {
    ProcessingSheetView sheet(store, ProcessingSheet::tone);
    open(ProcessingSheet::tone);
    NumberField* frequency = sheet.fields()[0];
    frequency->setText(QStringLiteral("10"));
    frequency->submit();
    EXPECT_DOUBLE_EQ(store.diagnostics().toneFrequency, 10.0);
    sheet.apply();
    ASSERT_TRUE(store.error());
    EXPECT_EQ(*store.error(), L("Частота должна быть от 20 до 20 000 Гц."));

    // A valid tone is accepted: the sheet closes and a new clip arrives.
    frequency->setText(QStringLiteral("440"));
    frequency->submit();
    sheet.apply();
    EXPECT_FALSE(store.error());
    EXPECT_FALSE(store.diagnostics().sheet);
    p.fx.settle();
    EXPECT_EQ(store.session().tracks.size(), 1u);
}

TEST_F(ProcessingSheetTest, FieldsShowTheUsersLocaleAndRevertTextThatIsNoFiniteNumber) {
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    {
        ProcessingSheetView tone(store, ProcessingSheet::tone);
        EXPECT_EQ(tone.fields()[0]->text(), QStringLiteral("1000,0"));
        EXPECT_EQ(tone.fields()[1]->text(), QStringLiteral("5,00"));
        tone.fields()[0]->setText(QStringLiteral("nan"));
        tone.fields()[0]->submit();
        EXPECT_EQ(store.diagnostics().toneFrequency, 1000.0);
        EXPECT_EQ(tone.fields()[0]->text(), QStringLiteral("1000,0"));
        tone.fields()[0]->setText(QStringLiteral("440,5"));
        tone.fields()[0]->submit();
        EXPECT_EQ(store.diagnostics().toneFrequency, 440.5);

        ProcessingSheetView noise(store, ProcessingSheet::noise);
        NumberField* seed = noise.fields()[1];
        seed->setText(QStringLiteral("1,5"));
        seed->submit();
        EXPECT_EQ(store.diagnostics().noiseSeed, 1);
        EXPECT_EQ(seed->text(), QStringLiteral("1"));
        seed->setText(QStringLiteral("-7"));
        seed->submit();
        EXPECT_EQ(store.diagnostics().noiseSeed, -7);  // no range check: the generator uses 0

        ProcessingSheetView silence(store, ProcessingSheet::silence);
        EXPECT_EQ(silence.fields()[0]->text(), QStringLiteral("1,000"));
    }
    QLocale::setDefault(saved);
}

TEST_F(ProcessingSheetTest, SilenceNoteNamesTheClipAndTheCursor) {
    const Uuid row = p.addRow("Ряд 1");
    const Uuid id = p.addClip("Голос", 96000, 1.0, row);
    ProcessingSheetView sheet(store, ProcessingSheet::silence);
    store.setSelectedID(id);
    store.setCursor(1.5);
    EXPECT_EQ(sheet.silenceNote()->text(),
              qs(L("Клип «{0}», позиция курсора {1}. Остаток клипа сдвинется вправо.", "Голос", "00:01.500")));
    open(ProcessingSheet::silence);
    sheet.apply();
    EXPECT_FALSE(store.error());
    EXPECT_FALSE(store.diagnostics().sheet);
    p.fx.settle();
    EXPECT_EQ(p.track(id).frames(), 96000 + 48000);
}
