// The diagnostics panel over a real store: scope texts, parameter controls, the findings header
// and list, the one-row follow-up and the locked state.

#include <QImage>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include "ProcessingPanelsSupport.h"
#include "model/Localization.h"
#include "panels/DiagnosticsPanel.h"
#include "panels/PanelSupport.h"
#include "widgets/Palette.h"
#include "widgets/SegmentedControl.h"
#include "widgets/ValueSlider.h"

using namespace tessoral;
using namespace tessoral::test;
using panels::DiagnosticsPanel;

namespace {

DiagnosticFinding finding(std::int64_t lower, std::int64_t upper, double severity = 0.5) {
    DiagnosticFinding f;
    f.kind = DiagnosticKind::clicks;
    f.range = {lower, upper};
    f.severity = severity;
    return f;
}

class DiagnosticsPanelTest : public ::testing::Test {
protected:
    PanelsFixture p;
    StudioStore& store = *p.store;
    Uuid rowA = p.addRow("Ряд 1");
    Uuid rowB = p.addRow("Ряд 2");
    Uuid a = p.addClip("A", 96000, 2.0, rowA);
    Uuid b = p.addClip("B", 96000, 5.0, rowB);
    std::unique_ptr<DiagnosticsPanel> panel;

    void build() {
        panel = std::make_unique<DiagnosticsPanel>(store, nullptr);
        panel->resize(300, 700);
        panel->show();
    }

    // A clicks scan of A found `n` findings at 0.1 s intervals.
    void scanned(int n) {
        DiagnosticsState d = store.diagnostics();
        d.findings.clear();
        for (int i = 0; i < n; ++i) d.findings.push_back(finding(4800 * (i + 1), 4800 * (i + 1) + 48));
        d.selected.clear();
        d.trackID = a;
        d.revision = p.track(a).revision;
        d.scannedKind = DiagnosticKind::clicks;
        store.setDiagnostics(d);
    }

    QItemSelectionModel* selection() { return panel->list()->selectionModel(); }
    void clickRow(int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        const QRect r = panel->list()->visualRect(panel->model()->index(row));
        QTest::mouseClick(panel->list()->viewport(), Qt::LeftButton, modifiers, r.center());
    }
};

}  // namespace

TEST(DiagnosticsLengths, BoundariesCompareTheUnroundedMilliseconds) {
    EXPECT_EQ(DiagnosticsPanel::lengthLabel(0), qs(L("{0} мс", "0.00")));
    EXPECT_EQ(DiagnosticsPanel::lengthLabel(240), qs(L("{0} мс", "5.00")));
    EXPECT_EQ(DiagnosticsPanel::lengthLabel(480), qs(L("{0} мс", "10")));
    EXPECT_EQ(DiagnosticsPanel::lengthLabel(47999), qs(L("{0} мс", "1000")));
    EXPECT_EQ(DiagnosticsPanel::lengthLabel(48000), qs(L("{0} с", "1.00")));
    EXPECT_EQ(DiagnosticsPanel::lengthLabel(96000), qs(L("{0} с", "2.00")));
}

TEST_F(DiagnosticsPanelTest, SeverityBarColoursAndStubProbedOnThePaintedRow) {
    DiagnosticsState d = store.diagnostics();
    for (double s : {0.33, 0.34, 0.66, 0.67, 0.0}) d.findings.push_back(finding(0, 48, s));
    d.trackID = a;
    store.setDiagnostics(d);
    build();
    const QColor expected[] = {Palette::accent(), panels::orange(), panels::orange(), Palette::red(), Palette::accent()};
    for (int row = 0; row < 5; ++row) {
        const QRect rowRect = panel->list()->visualRect(panel->model()->index(row));
        const QRect bar = panels::FindingDelegate::barRect(rowRect);
        const QImage image = panel->list()->viewport()->grab().toImage();
        const QColor inside = image.pixelColor(bar.left() + 2, bar.center().y());
        EXPECT_LT(std::abs(inside.red() - expected[row].red()) + std::abs(inside.green() - expected[row].green()) +
                      std::abs(inside.blue() - expected[row].blue()),
                  30)
            << "row " << row << " got " << inside.name().toStdString();
    }
    // Severity 0: the stub covers 8 % (3 of 38 pixels); further right only the faint track.
    const QRect last = panels::FindingDelegate::barRect(panel->list()->visualRect(panel->model()->index(4)));
    const QColor track = panel->list()->viewport()->grab().toImage().pixelColor(last.left() + 20, last.center().y());
    EXPECT_LT(track.green(), 80);
    EXPECT_DOUBLE_EQ(DiagnosticsPanel::severityShare(0.0), 0.08);
}

TEST_F(DiagnosticsPanelTest, ScopeLineFollowsClipSelectionAndTheLastFinding) {
    build();
    EXPECT_EQ(panel->scopeLabel()->text(), qs(L("Клип не выбран")));
    EXPECT_FALSE(panel->scanButton()->isEnabled());
    EXPECT_TRUE(panel->sensitivitySlider()->isEnabled());

    store.setSelectedID(a);
    EXPECT_EQ(panel->scopeLabel()->text(), qs(L("Область: весь клип «{0}»", "A")));
    EXPECT_TRUE(panel->scanButton()->isEnabled());
    store.setSelection(TimeRange{2.5, 3.0});
    EXPECT_EQ(panel->scopeLabel()->text(), qs(L("Область: выделенный фрагмент")));

    // A scan of the selection, then a click on a finding: the next scan repeats the scanned range.
    scanned(3);
    DiagnosticsState d = store.diagnostics();
    d.scannedRange = FrameRange{24000, 48000};
    store.setDiagnostics(d);
    clickRow(1);
    EXPECT_EQ(panel->scopeLabel()->text(), qs(L("Область: как при прошлом сканировании")));
}

TEST_F(DiagnosticsPanelTest, ParameterTextsSilenceActionAndTheStepperLimits) {
    build();
    EXPECT_EQ(panel->sensitivitySlider()->displayLabel()->text(), QStringLiteral("50%"));
    EXPECT_EQ(panel->sensitivitySlider()->spokenValue(), 50.0);
    panel->kindPicker()->activated(1);
    EXPECT_EQ(store.diagnostics().kind, DiagnosticKind::clipping);
    EXPECT_EQ(panel->clipThresholdSlider()->displayLabel()->text(), QStringLiteral("-0.1 dBFS"));
    EXPECT_TRUE(panel->clipThresholdSlider()->isVisible());
    EXPECT_FALSE(panel->sensitivitySlider()->isVisible());

    EXPECT_EQ(panel->minRunLabel()->text(), qs(LP(3, "Мин. длина: {0} отсч.|Мин. длина: {0} отсч.|Мин. длина: {0} отсч.")));
    for (int i = 0; i < 5; ++i) panel->minRunDown()->click();
    EXPECT_EQ(store.diagnostics().settings.clipMinRun, 1);
    EXPECT_FALSE(panel->minRunDown()->isEnabled());
    for (int i = 0; i < 70; ++i) panel->minRunUp()->click();
    EXPECT_EQ(store.diagnostics().settings.clipMinRun, 64);
    EXPECT_FALSE(panel->minRunUp()->isEnabled());
    EXPECT_TRUE(panel->minRunLabel()->text().contains(QStringLiteral("64")));

    panel->kindPicker()->activated(2);
    EXPECT_EQ(panel->silenceMinSlider()->displayLabel()->text(), qs(L("{0} с", "0.50")));
    DiagnosticsState d = store.diagnostics();
    d.settings.silenceKeepPause = 0.75;
    store.setDiagnostics(d);
    panel->silenceAction()->activated(1);
    EXPECT_FALSE(store.diagnostics().settings.silenceDelete);
    EXPECT_FALSE(panel->keepPauseSlider()->isVisible());
    panel->silenceAction()->activated(0);
    EXPECT_TRUE(panel->keepPauseSlider()->isVisible());
    EXPECT_EQ(panel->keepPauseSlider()->displayLabel()->text(), qs(L("{0} с", "0.75")));
    // No parameter change is an undo step.
    EXPECT_TRUE(store.undoNames().empty());
}

TEST_F(DiagnosticsPanelTest, HeaderNamesTheLastScanAndTheScannedClipWhileAnotherIsSelected) {
    build();
    EXPECT_EQ(panel->summaryLabel()->text(), qs(L("Находок нет")));
    EXPECT_FALSE(panel->fixAllButton()->isEnabled());
    EXPECT_FALSE(panel->fixSelectedButton()->isEnabled());

    store.setSelectedID(a);
    scanned(12);
    EXPECT_EQ(panel->summaryLabel()->text(), qs(L("Щелчки")) + QStringLiteral(": 12"));
    EXPECT_FALSE(panel->clipNameLabel()->isVisible());
    EXPECT_TRUE(panel->fixAllButton()->isEnabled());
    EXPECT_FALSE(panel->fixSelectedButton()->isEnabled());
    // First row: A starts at 2 s, the finding at 0.1 s into it.
    EXPECT_EQ(panel->model()->index(0).data().toString(), QStringLiteral("00:02.100"));

    store.setSelectedID(b);
    EXPECT_TRUE(panel->clipNameLabel()->isVisible());
    EXPECT_EQ(panel->clipNameLabel()->text(), QString::fromUtf8("«A»"));
    EXPECT_EQ(panel->model()->index(0).data().toString(), QStringLiteral("00:02.100"));
    store.setSelectedID(std::nullopt);
    EXPECT_TRUE(panel->clipNameLabel()->isVisible());
    store.setSelectedID(a);
    EXPECT_FALSE(panel->clipNameLabel()->isVisible());

    // Another detector leaves the header as the last scan left it.
    panel->kindPicker()->activated(2);
    EXPECT_EQ(panel->summaryLabel()->text(), qs(L("Щелчки")) + QStringLiteral(": 12"));
    EXPECT_EQ(panel->model()->rowCount(), 12);

    // The scanned clip removed: rows count from 0 and no name is shown.
    Session s = store.session();
    s.tracks.erase(s.tracks.begin());
    store.setSession(s);
    EXPECT_EQ(panel->model()->index(0).data().toString(), QStringLiteral("00:00.100"));
    EXPECT_FALSE(panel->clipNameLabel()->isVisible());
}

TEST_F(DiagnosticsPanelTest, OneSelectedRowShowsItsFindingOnceAndMoreRowsOnlyMarkThem) {
    build();
    store.setSelectedID(a);
    scanned(4);
    QSignalSpy shown(&store, &StudioStore::selectionChanged);
    clickRow(2);
    ASSERT_EQ(store.diagnostics().selected.size(), 1u);
    EXPECT_EQ(shown.count(), 1);
    ASSERT_TRUE(store.selection());
    EXPECT_NEAR(store.selection()->lower, 2.0 + 0.3 - 0.001, 1e-9);
    EXPECT_TRUE(panel->fixSelectedButton()->isEnabled());

    clickRow(3, Qt::ControlModifier);
    EXPECT_EQ(store.diagnostics().selected.size(), 2u);
    EXPECT_EQ(shown.count(), 1);

    panel->list()->clearSelection();
    EXPECT_TRUE(store.diagnostics().selected.empty());
    EXPECT_EQ(shown.count(), 1);
    EXPECT_FALSE(panel->fixSelectedButton()->isEnabled());
}

TEST_F(DiagnosticsPanelTest, TheStoresSelectionReachesTheListWithoutEchoAndAScanResetsTheModelOnce) {
    build();
    store.setSelectedID(a);
    const int before = panel->model()->resets();
    scanned(5);
    EXPECT_EQ(panel->model()->resets(), before + 1);

    // Two ids chosen elsewhere: the list shows them and writes nothing back.
    QSignalSpy changes(&store, &StudioStore::diagnosticsChanged);
    DiagnosticsState d = store.diagnostics();
    d.selected = {d.findings[1].id, d.findings[3].id};
    store.setDiagnostics(d);
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(selection()->selectedIndexes().size(), 2);
    EXPECT_TRUE(selection()->isSelected(panel->model()->index(3)));

    // A parameter change keeps the model as it is.
    panel->kindPicker()->activated(1);
    EXPECT_EQ(panel->model()->resets(), before + 1);
    EXPECT_EQ(selection()->selectedIndexes().size(), 2);
}

TEST_F(DiagnosticsPanelTest, EverythingIsOffWhileBusy) {
    build();
    store.setSelectedID(a);
    scanned(2);
    store.setBusy(true);
    EXPECT_FALSE(panel->isEnabled());
    EXPECT_FALSE(panel->list()->isEnabled());
    EXPECT_FALSE(panel->scanButton()->isEnabled());
    store.setBusy(false);
    EXPECT_TRUE(panel->scanButton()->isEnabled());
}
