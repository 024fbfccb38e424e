// The editor tools, the selection bar and the waveform editor over a real store.
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "app/editor/EditorTools.h"
#include "app/editor/SelectionBar.h"
#include "app/editor/WaveformEditor.h"
#include "model/Localization.h"
#include "timeline/AmplitudeScale.h"
#include "timeline/LanesWidget.h"
#include "widgets/NumberField.h"
#include "widgets/SegmentedControl.h"
#include "widgets/TimeRuler.h"
#include "widgets/ToolButton.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

void showAt(MainWindow& window) {
    window.show();
    window.resize(1280, 800);
    pump();
}

EditorTools* toolsOf(StudioFixture& fx) { return qobject_cast<EditorTools*>(fx.view().editorTools()); }
SelectionBar* barOf(StudioFixture& fx) { return qobject_cast<SelectionBar*>(fx.view().selectionBar()); }

}  // namespace

TEST(EditorTools, EnableMatrix) {
    StudioFixture fx;
    showAt(fx.window());
    EditorTools* t = toolsOf(fx);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->height(), 72);
    // Empty project: no history, no clip, no clipboard, no clips for a marker.
    EXPECT_FALSE(t->undoButton()->isEnabled());
    EXPECT_FALSE(t->redoButton()->isEnabled());
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(t->clipButton(i)->isEnabled()) << i;
    EXPECT_FALSE(t->pasteButton()->isEnabled());
    EXPECT_FALSE(t->markerButton()->isEnabled());
    EXPECT_FALSE(t->zoomToSelectionButton()->isEnabled());

    fx.loadDemo();
    EXPECT_TRUE(t->markerButton()->isEnabled());
    StudioStore& s = fx.store();
    s.setSelectedID(s.session().tracks.front().id);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(t->clipButton(i)->isEnabled()) << i;
    EXPECT_TRUE(t->zoomToSelectionButton()->isEnabled());
    EXPECT_FALSE(t->pasteButton()->isEnabled());
    s.setSelection(TimeRange{0.5, 1.0});
    t->clipButton(3)->click();  // copy
    EXPECT_TRUE(s.clipboard().has_value());
    // Without a clip the edit group goes off while paste stays on.
    s.setSelectedID(std::nullopt);
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(t->clipButton(i)->isEnabled()) << i;
    EXPECT_TRUE(t->pasteButton()->isEnabled());
    EXPECT_TRUE(t->zoomToSelectionButton()->isEnabled());  // the time selection suffices

    s.setSelectedID(s.session().tracks.front().id);
    s.setClipGain(s.session().tracks.front().id, -3);
    EXPECT_TRUE(t->undoButton()->isEnabled());
    EXPECT_FALSE(t->redoButton()->isEnabled());
    t->undoButton()->click();
    EXPECT_TRUE(t->redoButton()->isEnabled());

    // Mixer: no display picker, no envelope toggle, no spectral toolbar.
    s.setSpectralView(true);
    s.setEditorMode(EditorMode::waveform);
    EXPECT_TRUE(t->spectralToolbarSlot()->isVisibleTo(t));
    EXPECT_FALSE(t->amplitudeZoomSlot()->isVisibleTo(t));
    // With room for it, the spectral toolbar and its brush size stay on row 2 after the picker; at
    // any narrower width the toolbar goes to row 3 whole, and back as the window widens. At every
    // width it lies inside the tools with no control under its least size (the slider at 80 px).
    s.setSpectralTool(SpectralTool::brush);
    pump();
    EXPECT_FALSE(t->spectralWrapped());
    EXPECT_EQ(t->height(), 72);
    QWidget* slot = t->spectralToolbarSlot();
    auto whole = [&](int width) {
        fx.window().resize(width, 800);
        pump();
        EXPECT_TRUE(t->rect().contains(QRect(slot->mapTo(t, QPoint()), slot->size()))) << width;
        for (QWidget* c : slot->findChildren<QWidget*>())
            if (c->isVisibleTo(slot))
                EXPECT_GE(c->width(), c->minimumSizeHint().width()) << width << c->metaObject()->className();
        if (!t->spectralWrapped())
            EXPECT_GT(slot->mapTo(t, QPoint()).x(), t->displayPicker()->geometry().right()) << width;
    };
    for (int width = 1280; width >= 980; width -= 4) whole(width);
    EXPECT_EQ(t->findChild<QWidget*>(QStringLiteral("brushSizeSlider"))->width(), 80);
    EXPECT_TRUE(t->spectralWrapped());
    EXPECT_EQ(t->height(), 108);
    for (int width = 984; width <= 1280; width += 4) whole(width);
    EXPECT_FALSE(t->spectralWrapped());
    EXPECT_EQ(t->height(), 72);
    showAt(fx.window());
    s.setEditorMode(EditorMode::mixer);
    EXPECT_FALSE(t->displayPicker()->isEnabled());
    EXPECT_FALSE(t->envelopesButton()->isEnabled());
    EXPECT_FALSE(t->spectralToolbarSlot()->isVisibleTo(t));
    s.setSpectralView(false);
    s.setEditorMode(EditorMode::waveform);
    EXPECT_TRUE(t->amplitudeZoomSlot()->isVisibleTo(t));
    EXPECT_TRUE(t->displayPicker()->isEnabled());

    // Locked: every control of both rows, the tools included.
    s.setBusy(true);
    EXPECT_FALSE(t->toolButton(0)->isEnabled());
    EXPECT_FALSE(t->zoomInButton()->isEnabled());
    EXPECT_FALSE(t->displayPicker()->isEnabled());
    s.setBusy(false);
    EXPECT_TRUE(t->toolButton(0)->isEnabled());
}

TEST(EditorTools, ToolsTogglesAndDisplayPicker) {
    StudioFixture fx;
    showAt(fx.window());
    fx.loadDemo();
    EditorTools* t = toolsOf(fx);
    StudioStore& s = fx.store();
    EXPECT_EQ(t->toolButton(2)->title(), qs(L("Лезвие") + " (R)"));
    t->toolButton(2)->click();
    EXPECT_EQ(s.timelineTool(), TimelineTool::razor);
    EXPECT_TRUE(t->toolButton(2)->active());
    EXPECT_FALSE(t->toolButton(0)->active());
    const bool snapping = s.snapping();
    t->snappingButton()->click();
    EXPECT_EQ(s.snapping(), !snapping);
    EXPECT_EQ(t->snappingButton()->active(), !snapping);
    t->analysisButton()->click();
    EXPECT_TRUE(s.showAnalysis());
    t->envelopesButton()->click();
    EXPECT_TRUE(s.showEnvelopes());
    QTest::mouseClick(t->displayPicker(), Qt::LeftButton, {}, t->displayPicker()->segmentRect(1).center());
    EXPECT_TRUE(s.spectralView());
    EXPECT_EQ(t->displayPicker()->currentIndex(), 1);
    EXPECT_EQ(t->zoomInButton()->title(), qs(L("Увеличить (Ctrl+=)")));
    EXPECT_EQ(t->wholeProjectButton()->title(), qs(L("Показать весь проект (Ctrl+0)")));
}

TEST(EditorTools, ZoomStepsToThirtyTwoAndBack) {
    StudioFixture fx;
    showAt(fx.window());
    fx.loadDemo();
    EditorTools* t = toolsOf(fx);
    StudioStore& s = fx.store();
    EXPECT_EQ(t->zoomReadout()->text(), QString::fromUtf8("1×"));
    EXPECT_FALSE(t->zoomOutButton()->isEnabled());
    t->zoomInButton()->click();
    EXPECT_DOUBLE_EQ(s.zoom(), 1.5);
    t->zoomInButton()->click();
    EXPECT_DOUBLE_EQ(s.zoom(), 2.25);
    t->zoomInButton()->click();
    EXPECT_DOUBLE_EQ(s.zoom(), 3.375);
    EXPECT_EQ(t->zoomReadout()->text(), QString::fromUtf8("3×"));
    for (int i = 0; i < 20 && t->zoomInButton()->isEnabled(); ++i) t->zoomInButton()->click();
    EXPECT_DOUBLE_EQ(s.zoom(), 32.0);
    EXPECT_FALSE(t->zoomInButton()->isEnabled());
    EXPECT_EQ(t->zoomReadout()->text(), QString::fromUtf8("32×"));
    t->wholeProjectButton()->click();
    EXPECT_DOUBLE_EQ(s.zoom(), 1.0);
    ASSERT_TRUE(s.zoomFocus().has_value());
    EXPECT_DOUBLE_EQ(s.zoomFocus()->time, 0.0);
    EXPECT_DOUBLE_EQ(s.zoomFocus()->fraction, 0.0);
    EXPECT_FALSE(t->zoomOutButton()->isEnabled());
}

// ---- selection bar ----

TEST(SelectionBar, FieldsSpanBandAndClear) {
    StudioFixture fx;
    showAt(fx.window());
    fx.loadDemo();
    SelectionBar* bar = barOf(fx);
    ASSERT_NE(bar, nullptr);
    StudioStore& s = fx.store();
    EXPECT_EQ(bar->height(), 38);
    EXPECT_TRUE(bar->noSelectionLabel()->isVisible());
    EXPECT_FALSE(bar->startField()->isVisible());
    EXPECT_EQ(bar->projectLengthLabel()->text(), qs(s.formatTime(s.session().duration())));

    s.setSelection(TimeRange{1.0, 2.0});
    EXPECT_FALSE(bar->noSelectionLabel()->isVisible());
    EXPECT_TRUE(bar->startField()->isVisible());
    EXPECT_EQ(bar->startField()->text(), QStringLiteral("1.000"));
    EXPECT_EQ(bar->endField()->text(), QStringLiteral("2.000"));
    EXPECT_EQ(bar->lengthLabel()->text(), qs(s.formatDuration(1.0)));
    // The span in the chosen format only for samples and bars.
    EXPECT_FALSE(bar->spanLabel()->isVisible());
    s.setTimeFormat(TimeFormat::samples);
    EXPECT_TRUE(bar->spanLabel()->isVisible());
    EXPECT_EQ(bar->spanLabel()->text(), QString::fromUtf8("48000 – 96000"));
    s.setTimeFormat(TimeFormat::seconds);
    EXPECT_FALSE(bar->spanLabel()->isVisible());

    // A start typed after the end swaps the ends; the cursor goes to the new start.
    bar->startField()->setText(QStringLiteral("3"));
    bar->startField()->submit();
    ASSERT_TRUE(s.selection().has_value());
    EXPECT_DOUBLE_EQ(s.selection()->lower, 2.0);
    EXPECT_DOUBLE_EQ(s.selection()->upper, 3.0);
    EXPECT_DOUBLE_EQ(s.cursor(), 2.0);
    EXPECT_EQ(bar->startField()->text(), QStringLiteral("2.000"));
    // Beyond the project end: clamped by the store.
    bar->endField()->setText(QStringLiteral("1000"));
    bar->endField()->submit();
    EXPECT_DOUBLE_EQ(s.selection()->upper, s.session().duration());
    const QString end = NumberField::format(s.session().duration());
    EXPECT_EQ(bar->endField()->text(), end);
    // Typed again while the end already sits at the project's end: the store's clamp changes
    // nothing, and the field reads the end it keeps, not the typed number.
    bar->endField()->setFocus();
    bar->endField()->selectAll();
    QTest::keyClicks(bar->endField(), QStringLiteral("77"));
    QTest::keyClick(bar->endField(), Qt::Key_Return);
    EXPECT_DOUBLE_EQ(s.selection()->upper, s.session().duration());
    EXPECT_EQ(bar->endField()->text(), end);

    s.setFreqSelection(ClosedRange{999.5, 4000.4});
    EXPECT_TRUE(bar->bandLabel()->isVisible());
    EXPECT_EQ(bar->bandLabel()->text(), QString::fromUtf8("·  1000 – 4000 Гц"));
    SpectralMask mask;
    mask.regions.push_back({SpectralMask::Shape::rectangle({2.0, 3.0}, {500, 800}), false});
    s.setSpectralMask(mask);
    bar->clearButton()->click();
    EXPECT_FALSE(s.selection().has_value());
    EXPECT_FALSE(s.freqSelection().has_value());
    EXPECT_TRUE(s.spectralMask().regions.empty());
    EXPECT_TRUE(bar->noSelectionLabel()->isVisible());
}

// ---- waveform editor ----

TEST(WaveformEditor, HintWithoutAClipAndTheLaneWithOne) {
    StudioFixture fx;
    showAt(fx.window());
    fx.loadDemo();
    StudioStore& s = fx.store();
    s.setSelectedID(std::nullopt);
    s.setEditorMode(EditorMode::waveform);
    pump();
    auto* editor = qobject_cast<WaveformEditor*>(fx.view().editorArea());
    ASSERT_NE(editor, nullptr);
    EXPECT_TRUE(editor->hint()->isVisible());
    EXPECT_EQ(editor->hint()->text(), qs(L("Выберите клип на дорожке")));
    s.setSelectedID(s.session().tracks.front().id);
    pump();
    EXPECT_FALSE(editor->hint()->isVisible());
    EXPECT_TRUE(editor->lanes()->isVisible());
    EXPECT_EQ(editor->lanes()->mode(), LanesMode::clipEditor);
    EXPECT_EQ(editor->timeRuler()->height(), 29);
    EXPECT_EQ(editor->lanes()->y(), 52);
    EXPECT_DOUBLE_EQ(editor->duration(), s.timelineDuration());
    // The zoom widens the content.
    const double base = editor->contentWidth();
    s.setZoom(2.0, std::nullopt, 0.5);
    pump();
    EXPECT_NEAR(editor->contentWidth(), 2 * base, 1e-9);
    EXPECT_EQ(editor->content()->width(), int(std::ceil(2 * base)));
}

// The amplitude scale stays at the view's left edge while the lane scrolls under it: the lane
// learns which part of it the scale covers, and the clip's name moves out from under it.
TEST(WaveformEditor, TheLaneKnowsWhereTheAmplitudeScaleCoversIt) {
    StudioFixture fx;
    showAt(fx.window());
    fx.loadDemo();
    StudioStore& s = fx.store();
    s.setSelectedID(s.session().tracks.front().id);
    s.setEditorMode(EditorMode::waveform);
    pump();
    auto* editor = qobject_cast<WaveformEditor*>(fx.view().editorArea());
    ASSERT_NE(editor, nullptr);
    auto cover = [&] {
        const LanesSnapshot& snap = editor->lanes()->snapshot();
        return std::make_pair(snap.coverFrom, snap.coverTo);
    };
    EXPECT_EQ(cover(), std::make_pair(0.0, double(AmplitudeScale::kWidth)));
    const LanesSnapshot& snap = editor->lanes()->snapshot();
    ASSERT_EQ(snap.clips.size(), 1u);
    EXPECT_GE(LanesPainter::nameRect(snap, snap.clips[0], {}).left(), double(AmplitudeScale::kWidth));
    s.setZoom(4.0, std::nullopt, 0.5);
    pump();
    editor->scrollArea()->horizontalScrollBar()->setValue(150);
    pump();
    EXPECT_EQ(cover(), std::make_pair(150.0, 150.0 + AmplitudeScale::kWidth));
    // No scale over the spectrogram.
    s.setSpectralView(true);
    pump();
    EXPECT_EQ(cover().first, cover().second);
}

TEST(WaveformEditor, NarrowAndLowAreasKeepTheirMinimumsAndTheRulerClickSeeks) {
    StudioFixture fx;
    fx.loadDemo();
    StudioStore& s = fx.store();
    s.setSelectedID(s.session().tracks.front().id);
    WaveformEditor editor(s, nullptr);
    editor.resize(200, 100);
    editor.show();
    pump();
    EXPECT_DOUBLE_EQ(WaveformEditor::baseWidth(200), 280.0);
    EXPECT_DOUBLE_EQ(WaveformEditor::rowHeight(100), 150.0);
    EXPECT_DOUBLE_EQ(WaveformEditor::rowHeight(500), 448.0);
    EXPECT_DOUBLE_EQ(editor.contentWidth(), 280.0);
    EXPECT_GE(editor.currentRowHeight(), 150.0);
    EXPECT_GE(editor.lanes()->height(), 150);

    // A click on the ruler drops the selection even inside it, then seeks.
    s.setSelection(TimeRange{1.0, 3.0});
    const double x = 70;  // a quarter of 280
    QTest::mouseClick(editor.timeRuler(), Qt::LeftButton, {}, QPoint(int(x), 15));
    EXPECT_FALSE(s.selection().has_value());
    EXPECT_NEAR(s.cursor(), x / 280.0 * s.timelineDuration(), 1e-9);
}

TEST(WaveformEditor, BeatGridOnlyInBarsWithTheTempoKeptInRange) {
    StudioFixture fx;
    fx.loadDemo();
    StudioStore& s = fx.store();
    s.setSelectedID(s.session().tracks.front().id);
    WaveformEditor editor(s, nullptr);
    editor.resize(900, 400);
    editor.show();
    pump();
    EXPECT_FALSE(editor.beatGridOverlay()->isVisibleTo(&editor));
    s.setTimeFormat(TimeFormat::bars);
    pump();
    EXPECT_TRUE(editor.beatGridOverlay()->isVisibleTo(&editor));
    EXPECT_EQ(editor.beatGridOverlay()->y(), 52);
    s.setTempo(10, 4);
    EXPECT_DOUBLE_EQ(editor.beatGrid().tempo, 20.0);
    s.setTempo(500, 4);
    EXPECT_DOUBLE_EQ(editor.beatGrid().tempo, 300.0);
    s.setTimeFormat(TimeFormat::clock);
    pump();
    EXPECT_FALSE(editor.beatGridOverlay()->isVisibleTo(&editor));
    // The amplitude scale's place goes with the spectrogram.
    EXPECT_TRUE(editor.amplitudeScaleSlot()->isVisibleTo(&editor));
    s.setSpectralView(true);
    EXPECT_FALSE(editor.amplitudeScaleSlot()->isVisibleTo(&editor));
}
