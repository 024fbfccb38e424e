// The export and speed-and-pitch sheets over a real store: bindings, opening rules, keys, and a
// real export read back by ffprobe.
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>

#include <cstdio>
#include <functional>

#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "app/inspector/ExportSheet.h"
#include "app/shell/Footer.h"
#include "app/shell/SheetHost.h"
#include "app/shell/Surface.h"
#include "app/inspector/TimePitchSheet.h"
#include "model/Localization.h"
#include "store/DiagnosticsState.h"
#include "widgets/SegmentedControl.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

void showAt(MainWindow& window) {
    window.show();
    window.resize(1280, 800);
    pump();
}

QDialog* exportDialog(StudioFixture& fx) { return fx.view().sheets()->dialog(SheetHost::Sheet::exportMix); }

ExportSheet* openExport(StudioFixture& fx) {
    fx.store().setShowExport(true);
    pump();
    QDialog* d = exportDialog(fx);
    return d ? d->findChild<ExportSheet*>() : nullptr;
}

void chooseFormat(ExportSheet* sheet, ExportFormat format) {
    const int i = sheet->formatPicker()->findData(static_cast<int>(format));
    Q_EMIT sheet->formatPicker()->activated(i);
}

void chooseRate(ExportSheet* sheet, int segment) {
    QTest::mouseClick(sheet->ratePicker(), Qt::LeftButton, {}, sheet->ratePicker()->segmentRect(segment).center());
}

// ffprobe's value of one entry of the first audio stream.
std::string probe(const std::filesystem::path& file, const std::string& entry) {
    std::string out;
    const std::string command = "ffprobe -v error -select_streams a:0 -show_entries stream=" + entry +
                                " -of csv=p=0 '" + file.string() + "'";
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
        ::pclose(pipe);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

}  // namespace

TEST(ExportSheet, SummaryNamesTheRateWrittenAndTheAacNote) {
    StudioFixture fx;
    showAt(fx.window());
    fx.loadDemo();
    ExportSheet* sheet = openExport(fx);
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->width(), 460);
    const QString note = qs(L(" (AAC — не выше 48 кГц)"));

    chooseFormat(sheet, ExportFormat::aac128);
    chooseRate(sheet, 2);
    EXPECT_EQ(fx.store().exportFormat(), ExportFormat::aac128);
    EXPECT_EQ(fx.store().exportSampleRate(), ExportSampleRate::hz96000);
    EXPECT_EQ(sheet->ratePicker()->currentIndex(), 2);
    EXPECT_TRUE(sheet->summaryLabel()->text().startsWith(QString::fromUtf8("Стерео, 48 кГц") + note))
        << sheet->summaryLabel()->text().toStdString();
    EXPECT_TRUE(sheet->summaryLabel()->text().endsWith(QString::fromUtf8("Кодирование MP3 недоступно.")));

    chooseRate(sheet, 0);
    EXPECT_TRUE(sheet->summaryLabel()->text().startsWith(QString::fromUtf8("Стерео, 44,1 кГц;")));
    chooseFormat(sheet, ExportFormat::wav24);
    chooseRate(sheet, 2);
    EXPECT_TRUE(sheet->summaryLabel()->text().startsWith(QString::fromUtf8("Стерео, 96 кГц;")));
    EXPECT_FALSE(sheet->summaryLabel()->text().contains(note));
}

TEST(ExportSheet, DitherOnlyForSixteenBitAndItsValueKept) {
    StudioFixture fx;
    showAt(fx.window());
    fx.loadDemo();
    ExportSheet* sheet = openExport(fx);
    ASSERT_NE(sheet, nullptr);
    chooseFormat(sheet, ExportFormat::wav16);
    EXPECT_TRUE(sheet->ditherToggle()->isEnabled());
    sheet->ditherToggle()->click();
    const bool chosen = fx.store().exportDither();
    chooseFormat(sheet, ExportFormat::flac);
    EXPECT_FALSE(sheet->ditherToggle()->isEnabled());
    EXPECT_EQ(sheet->ditherToggle()->isChecked(), chosen);
    EXPECT_EQ(fx.store().exportDither(), chosen);
    chooseFormat(sheet, ExportFormat::wav16);
    EXPECT_TRUE(sheet->ditherToggle()->isEnabled());
    EXPECT_EQ(sheet->ditherToggle()->isChecked(), chosen);
}

TEST(ExportSheet, OpeningRulesForTheScopeToggles) {
    StudioFixture fx;
    showAt(fx.window());
    fx.loadDemo();
    StudioStore& s = fx.store();

    // No selection: "Только выделение" off and disabled, even when it was on.
    s.setExportSelection(true);
    s.setSelection(std::nullopt);
    s.setEditorMode(EditorMode::waveform);
    s.setSelectedID(s.session().tracks.front().id);
    ExportSheet* sheet = openExport(fx);
    ASSERT_NE(sheet, nullptr);
    EXPECT_FALSE(s.exportSelection());
    EXPECT_FALSE(sheet->selectionToggle()->isChecked());
    EXPECT_FALSE(sheet->selectionToggle()->isEnabled());
    // The waveform editor with a clip: the clip toggle is on.
    EXPECT_EQ(sheet->scopeToggle()->text(), qs(L("Только выбранный клип")));
    EXPECT_TRUE(s.exportSelectedTrack());
    EXPECT_TRUE(sheet->scopeToggle()->isChecked());
    EXPECT_TRUE(sheet->scopeToggle()->isEnabled());
    QTest::keyClick(exportDialog(fx), Qt::Key_Escape);
    pump();
    EXPECT_FALSE(s.showExport());

    // Multitrack with a row selected and the flag left on: the row toggle opens off.
    s.setEditorMode(EditorMode::multitrack);
    s.setSelection(TimeRange{1, 2});
    s.setExportSelection(true);
    sheet = openExport(fx);
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->scopeToggle()->text(), qs(L("Только выбранная дорожка")));
    EXPECT_FALSE(s.exportSelectedTrack());
    EXPECT_FALSE(sheet->scopeToggle()->isChecked());
    EXPECT_EQ(sheet->scopeToggle()->isEnabled(), s.selectedLaneID().has_value());
    // A selection keeps "Только выделение" as it was.
    EXPECT_TRUE(sheet->selectionToggle()->isChecked());
    EXPECT_TRUE(sheet->selectionToggle()->isEnabled());
    // No range marker: the marker button is off until one exists.
    EXPECT_FALSE(sheet->markerRangesButton()->isEnabled());
    s.addMarker();
    pump();
    EXPECT_TRUE(sheet->markerRangesButton()->isEnabled());
}

TEST(ExportSheet, EscapeSavesNothingAndReturnExports) {
    StudioFixture fx;
    showAt(fx.window());
    fx.loadDemo();
    fx.store().setExportFormat(ExportFormat::alac);
    fx.store().saveExportDefaults();
    ExportSheet* sheet = openExport(fx);
    ASSERT_NE(sheet, nullptr);
    const ExportFormat saved = fx.store().exportFormat();
    EXPECT_EQ(saved, ExportFormat::alac);
    chooseFormat(sheet, ExportFormat::wav16);
    QTest::keyClick(exportDialog(fx), Qt::Key_Escape);
    pump();
    EXPECT_FALSE(fx.store().showExport());
    EXPECT_EQ(fx.services.defaults.string("export.default.format"), std::optional<std::string>("alac"));
    // The next opening starts from the saved choice again.
    sheet = openExport(fx);
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(fx.store().exportFormat(), saved);
    EXPECT_EQ(sheet->formatPicker()->currentData().toInt(), static_cast<int>(saved));

    // Return on the sheet itself, which holds the focus as it opens, presses "Экспортировать": the
    // chooser is asked (and cancelled here).
    EXPECT_EQ(exportDialog(fx)->focusWidget(), exportDialog(fx));
    EXPECT_FALSE(sheet->cancelButton()->autoDefault());
    EXPECT_FALSE(sheet->markerRangesButton()->autoDefault());
    QTest::keyClick(exportDialog(fx), Qt::Key_Return);
    EXPECT_EQ(fx.services.prompts.saves.size(), 1u);
    EXPECT_TRUE(fx.store().showExport());
    // A file handed over meanwhile brings the sheet forward, not the window under it: the keys
    // reach the sheet.
    QSignalSpy activations(qApp, &QGuiApplication::focusWindowChanged);
    fx.delegate().openDocuments({});
    pump();
    EXPECT_EQ(QApplication::activeWindow(), exportDialog(fx));
    for (const auto& a : activations) EXPECT_NE(a.at(0).value<QWindow*>(), fx.window().windowHandle());
    // The window activated under it (a window manager's choice as a dialog over the sheet closes)
    // hands the activation on to the sheet.
    QApplication::setActiveWindow(&fx.window());
    EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == exportDialog(fx); }, 5000));
    // "Отмена" closes it.
    sheet->cancelButton()->click();
    pump();
    EXPECT_FALSE(fx.store().showExport());
    EXPECT_EQ(exportDialog(fx), nullptr);
}

TEST(ExportSheet, RealExportsReadBackByFfprobe) {
    StudioFixture fx;
    showAt(fx.window());
    const auto tone = writeTone(fx.services.home.path() / "sine.wav", 2.0);
    fx.store().open({tone});
    fx.settle();
    ASSERT_EQ(fx.store().session().tracks.size(), 1u);
    ASSERT_EQ(fx.store().session().tracks.front().audio.frames(), 96000);

    ExportSheet* sheet = openExport(fx);
    ASSERT_NE(sheet, nullptr);
    chooseFormat(sheet, ExportFormat::flac);
    chooseRate(sheet, 0);
    fx.services.prompts.saveAnswers.push_back(fx.services.home.path() / "Микс");
    sheet->exportButton()->click();
    fx.settle();
    EXPECT_FALSE(fx.store().showExport());
    EXPECT_EQ(exportDialog(fx), nullptr);
    const auto flac = fx.services.home.path() / "Микс.flac";
    ASSERT_TRUE(std::filesystem::exists(flac)) << fx.store().status();
    EXPECT_EQ(probe(flac, "codec_name"), "flac");
    EXPECT_EQ(probe(flac, "sample_rate"), "44100");
    EXPECT_EQ(probe(flac, "channels"), "2");
    EXPECT_EQ(probe(flac, "duration_ts"), "88200");
    EXPECT_EQ(fx.services.defaults.string("export.default.format"), std::optional<std::string>("flac"));
    EXPECT_EQ(fx.services.defaults.integer("export.default.samplerate"), std::optional<long long>(44100));

    // AAC at 96 kHz is written at 48 kHz.
    sheet = openExport(fx);
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(fx.store().exportFormat(), ExportFormat::flac);  // the saved choice came back
    chooseFormat(sheet, ExportFormat::aac128);
    chooseRate(sheet, 2);
    fx.services.prompts.saveAnswers.push_back(fx.services.home.path() / "Микс-aac");
    sheet->exportButton()->click();
    fx.settle();
    const auto aac = fx.services.home.path() / "Микс-aac.m4a";
    ASSERT_TRUE(std::filesystem::exists(aac)) << fx.store().status();
    EXPECT_EQ(probe(aac, "codec_name"), "aac");
    EXPECT_EQ(probe(aac, "sample_rate"), "48000");
    EXPECT_EQ(fx.store().exportSampleRate(), ExportSampleRate::hz96000);
}

TEST(ExportSheet, AnExportedFileNothingCanShowIsNamedInTheStatusLine) {
    StudioFixture fx;
    showAt(fx.window());
    fx.store().open({writeTone(fx.services.home.path() / "sine.wav", 0.5)});
    fx.settle();
    fx.services.shell.failing = true;

    ExportSheet* sheet = openExport(fx);
    ASSERT_NE(sheet, nullptr);
    chooseFormat(sheet, ExportFormat::wav16);
    fx.services.prompts.saveAnswers.push_back(fx.services.home.path() / "Микс");
    sheet->exportButton()->click();
    fx.settle();
    const auto file = fx.services.home.path() / "Микс.wav";
    ASSERT_TRUE(std::filesystem::exists(file)) << fx.store().status();
    ASSERT_EQ(fx.services.shell.revealed.size(), 1u);
    // The export's own line stays whole; a while later a line of its own says where the file is that
    // the desktop could not show.
    const QString shown = fx.view().footer()->statusLabel()->text();
    EXPECT_TRUE(shown.startsWith(qs(L("Экспорт готов: {0} · {1}", "Микс.wav", "")))) << shown.toStdString();
    EXPECT_FALSE(shown.contains(QStringLiteral("Не удалось"))) << shown.toStdString();
    fx.services.scheduler.advanceBy(StudioStore::kRevealNoteSeconds);
    EXPECT_EQ(fx.view().footer()->statusLabel()->text(),
              qs(L("Не удалось показать файл в файловом менеджере: {0}", file.string())));
}

// ---- speed and pitch ----

namespace {

TimePitchSheet* openTimePitch(StudioFixture& fx) {
    fx.store().setTimeRate(1.0);
    fx.store().setTimeSemitones(0.0);
    fx.store().setShowTimePitch(true);
    pump();
    QDialog* d = fx.view().sheets()->dialog(SheetHost::Sheet::timePitch);
    return d ? d->findChild<TimePitchSheet*>() : nullptr;
}

}  // namespace

TEST(TimePitchSheet, ApplyIsOffAtTheNeutralPairAndReturnIsInert) {
    StudioFixture fx;
    showAt(fx.window());
    fx.loadDemo();
    fx.store().setSelectedID(fx.store().session().tracks.front().id);
    TimePitchSheet* sheet = openTimePitch(fx);
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->width(), 400);
    EXPECT_EQ(sheet->rateLabel()->text(), QString::fromUtf8("×1.00"));
    EXPECT_EQ(sheet->pitchLabel()->text(), QString::fromUtf8("+0 полутонов"));
    EXPECT_FALSE(sheet->applyButton()->isEnabled());
    QDialog* dialog = fx.view().sheets()->dialog(SheetHost::Sheet::timePitch);
    QTest::keyClick(dialog, Qt::Key_Return);
    pump();
    EXPECT_TRUE(fx.store().showTimePitch());
    EXPECT_FALSE(fx.store().busy());

    // One step of either slider enables it; "Сброс" disables it again.
    sheet->rateSlider()->setValue(11);
    EXPECT_DOUBLE_EQ(fx.store().timeRate(), 1.05);
    EXPECT_TRUE(sheet->applyButton()->isEnabled());
    sheet->rateSlider()->setValue(10);
    EXPECT_EQ(fx.store().timeRate(), 1.0);  // exactly, never 1.0000000000000002
    EXPECT_FALSE(sheet->applyButton()->isEnabled());
    sheet->pitchSlider()->setValue(-1);
    EXPECT_TRUE(sheet->applyButton()->isEnabled());
    sheet->resetButton()->click();
    EXPECT_EQ(fx.store().timeRate(), 1.0);
    EXPECT_EQ(fx.store().timeSemitones(), 0.0);
    EXPECT_FALSE(sheet->applyButton()->isEnabled());
    EXPECT_FALSE(sheet->resetButton()->autoDefault());
    EXPECT_FALSE(sheet->cancelButton()->autoDefault());
    EXPECT_TRUE(sheet->applyButton()->isDefault());
}

TEST(TimePitchSheet, EndsOfTheSlidersAndEscape) {
    StudioFixture fx;
    showAt(fx.window());
    fx.loadDemo();
    TimePitchSheet* sheet = openTimePitch(fx);
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->scopeNote()->text(), qs(L("Применяется ко всему выбранному клипу.")));
    for (int i = 0; i <= 30; ++i) EXPECT_EQ(TimePitchSheet::ratePosition(TimePitchSheet::rateAt(i)), i);
    sheet->rateSlider()->setValue(0);
    EXPECT_EQ(sheet->rateLabel()->text(), QString::fromUtf8("×0.50"));
    sheet->rateSlider()->setValue(30);
    EXPECT_EQ(sheet->rateLabel()->text(), QString::fromUtf8("×2.00"));
    sheet->pitchSlider()->setValue(-12);
    EXPECT_EQ(sheet->pitchLabel()->text(), QString::fromUtf8("\u221212 полутонов"));
    // The noun agrees with the number, whatever its sign.
    for (const auto& [value, text] :
         std::initializer_list<std::pair<int, const char*>>{{-3, "\u22123 полутона"}, {1, "+1 полутон"}, {-11, "\u221211 полутонов"}}) {
        sheet->pitchSlider()->setValue(value);
        EXPECT_EQ(sheet->pitchLabel()->text(), QString::fromUtf8(text));
    }
    sheet->pitchSlider()->setValue(12);
    EXPECT_EQ(sheet->pitchLabel()->text(), QString::fromUtf8("+12 полутонов"));
    fx.store().setSelection(TimeRange{1, 2});
    EXPECT_EQ(sheet->scopeNote()->text(), qs(L("Применяется к выделенному фрагменту.")));

    const auto steps = fx.store().undoNames().size();
    QTest::keyClick(fx.view().sheets()->dialog(SheetHost::Sheet::timePitch), Qt::Key_Escape);
    pump();
    EXPECT_FALSE(fx.store().showTimePitch());
    EXPECT_EQ(fx.store().undoNames().size(), steps);
    EXPECT_EQ(fx.services.tasks.pending(), 0u);
}

// Every sheet opens with the focus on itself (or in its name field). Return on a focused Cancel or
// Close closes it without the default action, on a focused picker opens its list, on a segmented
// control does nothing; on the sheet itself or in a field it runs the default action.
TEST(Sheets, ReturnPressesTheFocusedButtonOrPickerAndElseTheDefault) {
    StudioFixture fx;
    showAt(fx.window());
    fx.loadDemo();
    StudioStore& s = fx.store();
    s.setSelectedID(s.session().tracks.front().id);
    const auto effects = [&s](EffectsSheet e) { return [&s, e](bool on) { s.setEffectsSheet(on ? std::optional(e) : std::nullopt); }; };
    const std::vector<std::function<void(bool)>> sheets = {
        [&](bool on) { s.setShowExport(on); }, [&](bool on) { s.setShowTimePitch(on); },
        [&](bool on) { s.setShowAutoDuck(on); }, [&](bool on) { s.setShowMatchLoudness(on); },
        effects(EffectsSheet::saveFavorite), effects(EffectsSheet::batch), [&](bool on) {
            DiagnosticsState d = s.diagnostics();
            d.sheet = on ? std::optional(ProcessingSheet::noise) : std::nullopt;
            s.setDiagnostics(std::move(d));
        }};
    int pickers = 0;
    for (std::size_t i = 0; i < sheets.size(); ++i) {
        SCOPED_TRACE(i);
        for (const bool cancelling : {true, false}) {
            sheets[i](true);
            pump();
            QDialog* dialog = fx.view().sheets()->topSheet();
            ASSERT_TRUE(dialog);
            QPushButton *fallback = nullptr, *cancel = nullptr;
            for (QPushButton* b : dialog->findChildren<QPushButton*>())
                if (b->isVisible() && b->isDefault()) fallback = b;
                else if (b->isVisible() && (b->text() == qs(L("Отмена")) || b->text() == qs(L("Закрыть")))) cancel = b;
            ASSERT_TRUE(fallback && cancel);
            QSignalSpy defaults(fallback, &QAbstractButton::clicked);
            const bool enabled = fallback->isEnabled();
            QWidget* focus = dialog->focusWidget();
            ASSERT_TRUE(focus == dialog || qobject_cast<QLineEdit*>(focus));
            if (!cancelling) {
                QTest::keyClick(focus, Qt::Key_Return);
                pump();
                // The default ran: its button was pressed (the export asked where to save), or the
                // field's own Return saved and closed.
                if (enabled && qobject_cast<QLineEdit*>(focus)) EXPECT_FALSE(fx.view().sheets()->topSheet());
                else if (enabled) EXPECT_EQ(defaults.count(), 1);
                if (i == 0) EXPECT_EQ(fx.services.prompts.saves.size(), 1u);
                if (fx.view().sheets()->topSheet()) sheets[i](false);
                fx.settle();
                continue;
            }
            for (QWidget* w : dialog->findChildren<QWidget*>()) {
                const bool picker = qobject_cast<QComboBox*>(w);
                if (!w->isVisible() || !w->isEnabled() || !(picker || qobject_cast<SegmentedControl*>(w))) continue;
                w->setFocus(Qt::TabFocusReason);
                QTest::keyClick(w, Qt::Key_Return);
                EXPECT_EQ(QApplication::activePopupWidget() != nullptr, picker) << w->metaObject()->className();
                if (QApplication::activePopupWidget()) QApplication::activePopupWidget()->close();
                pickers += picker;
            }
            // Return, or the keypad's Enter on every other sheet.
            cancel->setFocus(Qt::TabFocusReason);
            QTest::keyClick(cancel, i % 2 ? Qt::Key_Enter : Qt::Key_Return, i % 2 ? Qt::KeypadModifier : Qt::NoModifier);
            EXPECT_TRUE(QTest::qWaitFor([&] { return !fx.view().sheets()->topSheet(); }, 5000));  // after the press animation
            EXPECT_EQ(defaults.count(), 0);
            EXPECT_EQ(fx.services.prompts.saves.size(), 0u);
        }
        fx.services.prompts.saves.clear();
    }
    EXPECT_GE(pickers, 3);
}
