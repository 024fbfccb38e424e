// The window's layout, panels, empty state, inspector pages, error alert, sheets and file drop.
#include <QDialog>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QUrl>
#include <QAbstractButton>

#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "support/views/Contrast.h"
#include "app/shell/EmptyState.h"
#include "app/shell/Footer.h"
#include "app/shell/Header.h"
#include "app/shell/SheetHost.h"
#include "app/shell/TransportBar.h"
#include "model/Localization.h"
#include "widgets/ToolButton.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

void showAt(MainWindow& window, QSize size) {
    window.show();
    window.resize(size);
    pump();
}

}  // namespace

TEST(Window, RowsKeepTheirHeightsAtTheMinimumSize) {
    StudioFixture fx;
    showAt(fx.window(), QSize(600, 400));
    StudioView& v = fx.view();
    EXPECT_EQ(v.size(), QSize(StudioView::kMinimumWidth, StudioView::kMinimumHeight));
    EXPECT_EQ(v.header()->height(), 52);
    EXPECT_EQ(v.editorTools()->height(), 72);
    EXPECT_EQ(v.selectionBar()->height(), 38);
    EXPECT_EQ(v.transportBar()->height(), 60);
    EXPECT_EQ(v.footer()->height(), 27);
    EXPECT_EQ(v.browserColumn()->width(), 184);
    EXPECT_EQ(v.rightPanel()->width(), 248);
    // Rows stack top to bottom with hairlines between them, the footer last.
    EXPECT_EQ(v.footer()->geometry().bottom(), v.height() - 1);
    EXPECT_EQ(v.transportBar()->geometry().bottom(), v.footer()->y() - 2);
}

TEST(Window, SidePanelsComeAndGoAndTheEditorTakesTheWidth) {
    StudioFixture fx;
    showAt(fx.window(), QSize(1280, 800));
    StudioView& v = fx.view();
    const int both = v.editorTools()->width();
    EXPECT_EQ(both, v.width() - 184 - 248 - 2);
    fx.store().setShowBrowser(false);
    fx.store().setShowInspector(false);
    pump();
    EXPECT_FALSE(v.browserColumn()->isVisible());
    EXPECT_FALSE(v.rightPanel()->isVisible());
    EXPECT_EQ(v.editorTools()->width(), v.width());
    EXPECT_FALSE(v.header()->browserToggle()->active());
    fx.store().setShowBrowser(true);
    pump();
    EXPECT_EQ(v.editorTools()->width(), v.width() - 184 - 1);
    EXPECT_TRUE(v.header()->browserToggle()->active());
}

TEST(Window, EmptyStateInEveryModeUntilTheProjectHasRows) {
    StudioFixture fx;
    showAt(fx.window(), QSize(1280, 800));
    for (EditorMode mode : {EditorMode::waveform, EditorMode::multitrack, EditorMode::mixer}) {
        fx.store().setEditorMode(mode);
        pump();
        EXPECT_EQ(fx.view().editorArea()->objectName(), QStringLiteral("emptyState"));
    }
    fx.loadDemo();
    const std::pair<EditorMode, const char*> views[] = {{EditorMode::waveform, "waveformEditor"},
                                                        {EditorMode::multitrack, "multitrackTimeline"},
                                                        {EditorMode::mixer, "mixerWorkspace"}};
    for (auto [mode, name] : views) {
        fx.store().setEditorMode(mode);
        pump();
        EXPECT_EQ(fx.view().editorArea()->objectName(), QString::fromLatin1(name));
    }
    // The view of a mode is built once and kept.
    QWidget* mixer = fx.view().editorArea();
    fx.store().setEditorMode(EditorMode::multitrack);
    fx.store().setEditorMode(EditorMode::mixer);
    EXPECT_EQ(fx.view().editorArea(), mixer);
}

TEST(Window, InspectorTabsOutsideTheRangeShowTheProcessingPage) {
    StudioFixture fx;
    showAt(fx.window(), QSize(1280, 800));
    const std::pair<int, const char*> cases[] = {{0, "effectsRack"},          {-1, "processingInspector"},
                                                 {1, "processingInspector"}, {2, "diagnosticsPanel"},
                                                 {3, "essentialSound"},      {4, "processingInspector"}};
    for (auto [tab, name] : cases) {
        fx.store().setInspectorTab(tab);
        EXPECT_EQ(fx.view().inspectorPage()->objectName(), QString::fromLatin1(name)) << tab;
    }
    // The processing page and the effect rack follow the lock.
    fx.store().setBusy(true);
    fx.store().setInspectorTab(1);
    EXPECT_FALSE(fx.view().inspectorPage()->isEnabled());
    fx.store().setInspectorTab(0);
    EXPECT_FALSE(fx.view().inspectorPage()->isEnabled());
    fx.store().setBusy(false);
    EXPECT_TRUE(fx.view().inspectorPage()->isEnabled());
}

TEST(Window, ErrorAlertShowsTheMessageAndOkClearsIt) {
    StudioFixture fx;
    showAt(fx.window(), QSize(1280, 800));
    fx.store().setError(std::string("Сначала выделите фрагмент в клипе."));
    pump();
    QMessageBox* alert = fx.view().alert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->text(), qs(L("Не удалось выполнить действие")));
    EXPECT_EQ(alert->informativeText(), QString::fromUtf8("Сначала выделите фрагмент в клипе."));
    ASSERT_EQ(alert->buttons().size(), 1);
    EXPECT_EQ(alert->buttons().front()->text(), QStringLiteral("OK"));
    EXPECT_TRUE(test::accentFilled(alert->buttons().front()));
    alert->buttons().front()->click();
    pump();
    EXPECT_FALSE(fx.store().error().has_value());
    EXPECT_EQ(fx.view().alert(), nullptr);
}

TEST(Window, ErrorTextsAreShownAsPlainText) {
    StudioFixture fx;
    showAt(fx.window(), QSize(1280, 800));
    fx.store().setError(std::string("Не удалось открыть «<b>take</b>.wav»"));
    pump();
    ASSERT_NE(fx.view().alert(), nullptr);
    for (QLabel* label : fx.view().alert()->findChildren<QLabel*>())
        if (label->text().contains(QStringLiteral("<b>"))) EXPECT_EQ(label->textFormat(), Qt::PlainText);
    fx.view().alert()->reject();
    pump();
}

TEST(Window, AnErrorUnderALoudnessSheetWaitsForIt) {
    StudioFixture fx;
    showAt(fx.window(), QSize(1280, 800));
    fx.store().setShowMatchLoudness(true);
    pump();
    fx.store().setError(std::string("Ошибка"));
    pump();
    EXPECT_EQ(fx.view().alert(), nullptr);
    fx.store().setShowMatchLoudness(false);
    pump();
    ASSERT_NE(fx.view().alert(), nullptr);
    EXPECT_EQ(fx.view().alert()->informativeText(), QStringLiteral("Ошибка"));
    fx.view().alert()->reject();
    pump();
    EXPECT_FALSE(fx.store().error().has_value());
}

TEST(Window, AnErrorUnderAProcessingSheetStaysInItAndEscapeCancelsBoth) {
    StudioFixture fx;
    showAt(fx.window(), QSize(1280, 800));
    DiagnosticsState d = fx.store().diagnostics();
    d.sheet = ProcessingSheet::tone;
    fx.store().setDiagnostics(d);
    pump();
    QDialog* sheet = fx.view().sheets()->dialog(SheetHost::Sheet::processing);
    ASSERT_NE(sheet, nullptr);
    fx.store().setError(std::string("Ошибка генератора"));
    pump();
    EXPECT_EQ(fx.view().alert(), nullptr);
    // Escape is the sheet's cancel: the message goes with the sheet, no alert follows.
    sheet->reject();
    pump();
    EXPECT_FALSE(fx.store().diagnostics().sheet.has_value());
    EXPECT_FALSE(fx.store().error().has_value());
    EXPECT_EQ(fx.view().alert(), nullptr);

    // A failure that arrives after the sheet closed (its work ran in the background) is the window's.
    fx.store().setError(std::string("Ошибка генератора"));
    pump();
    ASSERT_NE(fx.view().alert(), nullptr);
    EXPECT_EQ(fx.view().alert()->informativeText(), QStringLiteral("Ошибка генератора"));
    fx.view().alert()->reject();
    pump();
}

TEST(Window, ARefusalDuringTheExportSheetShowsOnTopOfTheSheet) {
    StudioFixture fx;
    showAt(fx.window(), QSize(1280, 800));
    fx.store().setShowExport(true);
    pump();
    QDialog* sheet = fx.view().sheets()->topSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    fx.store().setError(std::string("В проекте нет маркеров-диапазонов."));
    pump();
    ASSERT_NE(fx.view().alert(), nullptr);
    EXPECT_EQ(fx.view().alert()->parentWidget(), sheet);
    EXPECT_EQ(fx.view().dialogParent(), sheet);
    fx.view().alert()->reject();
    fx.store().setShowExport(false);
    pump();
    EXPECT_EQ(fx.view().dialogParent(), &fx.window());
}

TEST(Window, AnAlertOverASheetThatTheStoreClosesComesBackOverTheWindow) {
    StudioFixture fx;
    showAt(fx.window(), QSize(1280, 800));
    fx.store().setShowTimePitch(true);
    pump();
    fx.store().setError(std::string("Выделите фрагмент внутри выбранного клипа."));
    pump();
    ASSERT_NE(fx.view().alert(), nullptr);
    fx.store().setShowTimePitch(false);
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        pump();
    }
    ASSERT_NE(fx.view().alert(), nullptr);
    EXPECT_EQ(fx.view().alert()->parentWidget(), &fx.window());
    EXPECT_TRUE(fx.store().error().has_value());
    fx.view().alert()->reject();
    pump();
    EXPECT_FALSE(fx.store().error().has_value());
}

TEST(Window, SheetsFollowTheirFlagsBothWays) {
    StudioFixture fx;
    showAt(fx.window(), QSize(1280, 800));
    fx.store().setShowTimePitch(true);
    pump();
    QDialog* first = fx.view().sheets()->dialog(SheetHost::Sheet::timePitch);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->objectName(), QStringLiteral("timePitchSheetDialog"));
    // Escape resets the flag.
    first->reject();
    pump();
    EXPECT_FALSE(fx.store().showTimePitch());
    EXPECT_EQ(fx.view().sheets()->dialog(SheetHost::Sheet::timePitch), nullptr);
    // A store reset closes it; each opening is a new dialog.
    fx.store().setShowTimePitch(true);
    pump();
    QPointer<QDialog> second = fx.view().sheets()->dialog(SheetHost::Sheet::timePitch);
    ASSERT_NE(second, nullptr);
    fx.store().setShowTimePitch(false);
    pump();
    EXPECT_TRUE(second.isNull() || !second->isVisible());
    // The effects sheet is one dialog whose content follows the case.
    fx.store().setEffectsSheet(EffectsSheet::batch);
    pump();
    QPointer<QDialog> batch = fx.view().sheets()->dialog(SheetHost::Sheet::effects);
    ASSERT_NE(batch, nullptr);
    fx.store().setEffectsSheet(EffectsSheet::manageFavorites);
    pump();
    EXPECT_EQ(fx.view().sheets()->dialog(SheetHost::Sheet::effects), batch.data());
    fx.view().sheets()->dialog(SheetHost::Sheet::effects)->reject();
    pump();
    EXPECT_FALSE(fx.store().effectsSheet().has_value());
}

namespace {

QMimeData* filesMime(const std::vector<std::filesystem::path>& files) {
    auto* mime = new QMimeData;
    QList<QUrl> urls;
    for (const auto& f : files) urls << QUrl::fromLocalFile(QString::fromStdString(f.string()));
    mime->setUrls(urls);
    return mime;
}

}  // namespace

TEST(Window, ADropOfTwoFilesIsOneOpenAndIsRefusedWhileLocked) {
    StudioFixture fx;
    showAt(fx.window(), QSize(1280, 800));
    const auto a = writeTone(fx.services.home.path() / "a.wav");
    const auto b = writeTone(fx.services.home.path() / "b.wav");
    std::unique_ptr<QMimeData> mime(filesMime({a, b}));
    StudioView& v = fx.view();

    fx.store().setBusy(true);
    QDragEnterEvent enter(QPoint(300, 300), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&v, &enter);
    EXPECT_TRUE(v.dropOverlay()->active());  // the outline shows even while locked
    QDropEvent refused(QPointF(300, 300), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&v, &refused);
    EXPECT_FALSE(refused.isAccepted());
    EXPECT_FALSE(v.dropOverlay()->active());
    EXPECT_EQ(fx.services.tasks.pending(), 0u);
    fx.store().setBusy(false);

    QApplication::sendEvent(&v, &enter);
    QDropEvent drop(QPointF(300, 300), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&v, &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_EQ(fx.services.tasks.pending(), 1u);  // one import of both files
    fx.settle();
    EXPECT_EQ(trackNames(fx.store()), (std::vector<std::string>{"a", "b"}));
}

TEST(Window, LockedDisablesHeaderToolsEmptyStateAndSelectionBar) {
    StudioFixture fx;
    showAt(fx.window(), QSize(1280, 800));
    StudioView& v = fx.view();
    fx.store().setBusy(true);
    for (QWidget* w : {static_cast<QWidget*>(v.header()), v.editorTools(), v.selectionBar(), v.editorArea()})
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_TRUE(v.transportBar()->isEnabled());
    fx.store().setBusy(false);
    for (QWidget* w : {static_cast<QWidget*>(v.header()), v.editorTools(), v.selectionBar(), v.editorArea()})
        EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
}
