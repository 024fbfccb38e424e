// The timeline's smaller tools: navigation, beat grid and amplitude scale, the tempo control, the
// spectral toolbar and the spectral repair panel, over a real store.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>

#include "timeline/AmplitudeScale.h"
#include "timeline/BeatGridOverlay.h"
#include "timeline/MultitrackTimeline.h"
#include "timeline/NavigationView.h"
#include "timeline/SpectralRepairPanel.h"
#include "timeline/SpectralToolbar.h"
#include "timeline/TempoControl.h"
#include "widgets/Palette.h"
#include "timeline/TimelineTestSupport.h"
#include "widgets/SegmentedControl.h"
#include "widgets/ToolButton.h"
#include "widgets/ValueSlider.h"

namespace tessoral::test {
namespace {

QString q(const char* s) { return QString::fromUtf8(s); }

// ---- navigation ----

TEST(Navigation, AnchorsStayInsideTheStrip) {
    EXPECT_EQ(Navigation::anchorX(0, 800, 0), 0.0);
    EXPECT_EQ(Navigation::anchorX(3, 800, 0), 799.0);
    EXPECT_EQ(Navigation::anchorX(-5, 800, 60), 0.0);
    EXPECT_EQ(Navigation::anchorX(90, 800, 60), 799.0);
    EXPECT_EQ(Navigation::anchorX(30, 0.5, 60), 0.0);
    EXPECT_EQ(Navigation::anchorX(30, 3000, 60), 1500.0);
    EXPECT_EQ(Navigation::pointerFraction(600, 600), 1.0);
    EXPECT_EQ(Navigation::pointerTime(1500, 3000, 60), 30.0);
    EXPECT_EQ(Navigation::pointerFraction(10, std::nan("")), 10.0);
}

// A plain scroll view whose content is 600 × zoom wide for 60 s.
struct NavFixture {
    LanesFixture fx;
    QScrollArea area;
    QWidget* content = new QWidget;
    NavigationController* nav = nullptr;
    NavFixture() {
        fx.rows(1);
        fx.add(0, 0, 59);  // the timeline spans 60 s
        area.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        area.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        area.setWidget(content);
        area.viewport()->setFixedSize(600, 300);
        area.resize(600 + area.verticalScrollBar()->sizeHint().width() + 2, 300 + area.horizontalScrollBar()->sizeHint().height() + 2);
        content->resize(600, 1000);
        nav = new NavigationController(*fx.store, &area, content,
                                       {[] { return 600.0; }, [this] { return 600.0 * fx.store->zoom(); }, [] { return 60.0; }});
        QObject::connect(fx.store.get(), &StudioStore::zoomChanged, content,
                         [this] { content->resize(int(600 * fx.store->zoom()), 1000); });
        area.show();
        pump();
    }
    void mouse(QWidget* w, QEvent::Type type, QPointF at) {
        QMouseEvent e(type, at, w->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(w, &e);
    }
};

TEST(Navigation, ZoomKeepsItsFocusAtItsFraction) {
    NavFixture n;
    n.area.verticalScrollBar()->setValue(120);
    n.fx.store->setZoom(4, 30.0, 0.25);
    EXPECT_EQ(n.area.horizontalScrollBar()->value(), 0);  // not inside the change notification
    pump();
    const double x30 = 2400.0 * 30.0 / 60.0;
    EXPECT_LE(std::abs(x30 - n.area.horizontalScrollBar()->value() - 150.0), 1.0);
    EXPECT_EQ(n.area.verticalScrollBar()->value(), 120);
    // The same zoom again (a new focus id) scrolls again.
    n.area.horizontalScrollBar()->setValue(0);
    n.fx.store->setZoom(4, 30.0, 0.25);
    pump();
    EXPECT_LE(std::abs(x30 - n.area.horizontalScrollBar()->value() - 150.0), 1.0);
}

TEST(Navigation, PointerOverTheContentAndLeaving) {
    NavFixture n;
    n.fx.store->setZoom(5, 0.0, 0.0);  // 3000 points for 60 s
    pump();
    n.mouse(n.content, QEvent::MouseMove, QPointF(1500, 10));
    ASSERT_TRUE(n.fx.store->viewport().pointerTime.has_value());
    EXPECT_DOUBLE_EQ(*n.fx.store->viewport().pointerTime, 30.0);
    n.mouse(n.area.viewport(), QEvent::MouseMove, QPointF(600, 10));
    EXPECT_DOUBLE_EQ(n.fx.store->viewport().pointerFraction.value_or(-1), 1.0);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(n.content, &leave);
    EXPECT_FALSE(n.fx.store->viewport().pointerTime.has_value());
    // Ctrl + wheel no longer zooms around a pointer.
    const double zoom = n.fx.store->zoom();
    EXPECT_FALSE(n.fx.store->zoomWheel(120, false));
    EXPECT_EQ(n.fx.store->zoom(), zoom);
    QApplication::sendEvent(n.area.viewport(), &leave);
    EXPECT_FALSE(n.fx.store->viewport().pointerFraction.has_value());
}

TEST(Navigation, MultitrackPageScrollsToTheZoomFocus) {
    LanesFixture fx;
    fx.rows(2);
    fx.add(0, 0, 50);
    MultitrackTimeline page(*fx.store, fx.signals.get());
    page.resize(194 + 700, 500);
    page.show();
    pump();
    EXPECT_DOUBLE_EQ(fx.store->viewport().baseWidth, page.baseWidth());
    fx.store->setZoom(4, 30.0, 0.25);
    pump();
    const double x = 30.0 / page.duration() * page.contentWidth();
    const double visible = page.timelineArea()->viewport()->width();
    EXPECT_LE(std::abs(x - page.timelineArea()->horizontalScrollBar()->value() - 0.25 * visible), 1.0);
}

// ---- beat grid and amplitude scale ----

TEST(BeatGrid, LinesByDensity) {
    const BeatGrid grid{120.0, 4};
    const auto wide = BeatGridOverlay::lines(grid, 60.0, 1200.0, 0, 1200);
    EXPECT_EQ(wide.bars.size(), 31u);  // 0 s … 60 s
    EXPECT_EQ(wide.beats.size(), 90u);
    EXPECT_EQ(wide.bars.front(), 0.0);
    EXPECT_DOUBLE_EQ(wide.beats.front(), 10.0);
    const auto medium = BeatGridOverlay::lines(grid, 60.0, 300.0, 0, 300);
    EXPECT_EQ(medium.bars.size(), 31u);
    EXPECT_TRUE(medium.beats.empty());
    const auto narrow = BeatGridOverlay::lines(grid, 60.0, 100.0, 0, 100);
    EXPECT_TRUE(narrow.bars.empty() && narrow.beats.empty());
    const auto empty = BeatGridOverlay::lines(grid, 0.0, 1200.0, 0, 1200);
    EXPECT_TRUE(empty.bars.empty() && empty.beats.empty());
    // Only the exposed part: 10 beats around x 600…700.
    const auto part = BeatGridOverlay::lines(grid, 60.0, 1200.0, 600, 700);
    EXPECT_LE(part.bars.size() + part.beats.size(), 14u);
}

std::vector<QString> levels(double zoom, double row) {
    std::vector<QString> out;
    for (const auto& m : AmplitudeScale::marks(zoom, row))
        if (std::find(out.begin(), out.end(), m.text) == out.end()) out.push_back(m.text);
    return out;
}

TEST(AmplitudeScale, MarksFollowZoomAndRow) {
    const QString minus(QChar(0x2212));
    EXPECT_EQ(levels(1, 134), (std::vector<QString>{"0", minus + "6"}));
    EXPECT_EQ(levels(2, 134).back(), minus + "9");
    EXPECT_EQ(levels(16, 134).back(), minus + "30");
    EXPECT_EQ(levels(1, 300), (std::vector<QString>{"0", minus + "3", minus + "9"}));
    EXPECT_EQ(AmplitudeScale::marks(1, 134).size(), 8u);  // each mark four times
}

TEST(AmplitudeScale, ZoomControlsStopAtTheEnds) {
    LanesFixture fx;
    AmplitudeZoomControls controls(*fx.store);
    AmplitudeScale scale(*fx.store);
    EXPECT_EQ(controls.label()->text(), q("A ×1"));
    EXPECT_FALSE(controls.zoomOutButton()->isEnabled());
    for (int i = 0; i < 6; ++i) controls.zoomInButton()->click();
    EXPECT_EQ(fx.store->amplitudeZoom(), 16.0);
    EXPECT_EQ(controls.label()->text(), q("A ×16"));
    EXPECT_FALSE(controls.zoomInButton()->isEnabled());
    EXPECT_TRUE(controls.zoomOutButton()->isEnabled());
    controls.zoomOutButton()->click();
    controls.zoomOutButton()->click();
    EXPECT_EQ(scale.accessibleName(), q("Шкала амплитуды, увеличение ×4"));
}

// ---- tempo ----

TEST(TempoControl, TextsAndParsing) {
    EXPECT_EQ(tempoText(120), "120 BPM");
    EXPECT_EQ(tempoText(97.5), "97.5 BPM");
    const QLocale ru(QLocale::Russian, QLocale::Russia);
    EXPECT_EQ(tempoFieldText(97.5, ru), "97,5");
    EXPECT_EQ(tempoFieldText(120, ru), "120");
    EXPECT_EQ(parseTempo("97,5", ru), 97.5);
    EXPECT_EQ(parseTempo("97.5", ru), 97.5);
    EXPECT_EQ(parseTempo("500", ru), 500.0);
    for (const char* bad : {"nan", "inf", "-inf", "", "abc"}) EXPECT_FALSE(parseTempo(q(bad), ru).has_value()) << bad;
    EXPECT_FALSE(parseTempo("1,5", QLocale::c()).has_value());  // never 15
}

TEST(TempoControl, PopoverAppliesOnceAndDismissalChangesNothing) {
    LanesFixture fx;
    TempoControl control(*fx.store, fx.signals.get());
    control.show();
    EXPECT_EQ(control.tempoLabel(), "120 BPM");
    EXPECT_EQ(control.meterLabel(), "4/4");

    control.openPopover();
    ASSERT_TRUE(control.popover());
    TempoPopover* pop = control.popover();
    EXPECT_EQ(pop->meterPicker()->count(), 16);
    EXPECT_EQ(pop->meterPicker()->itemText(15), "16/4");
    QTest::keyClicks(pop->tempoField(), "7");  // 1207
    pop->meterPicker()->setCurrentIndex(2);
    pop->close();
    pump();
    EXPECT_EQ(fx.store->session().tempo, 120.0);
    EXPECT_EQ(undoSteps(*fx.store), 0);

    control.openPopover();
    pop = control.popover();
    EXPECT_EQ(pop->tempo(), 120.0);
    // "Применить" is the prominent default, filled with the accent's hue (the style lightens it).
    const QColor face = pop->applyButton()->grab().toImage().pixelColor(4, pop->applyButton()->height() / 2);
    EXPECT_NEAR(face.hueF(), Palette::accent().hueF(), 0.03) << face.name().toStdString();
    EXPECT_GT(face.saturationF(), 0.3) << face.name().toStdString();
    pop->applyButton()->click();  // unchanged
    EXPECT_EQ(undoSteps(*fx.store), 0);
    pump();

    control.openPopover();
    pop = control.popover();
    pop->tempoField()->setText("500");
    pop->applyButton()->click();
    EXPECT_EQ(fx.store->session().tempo, 300.0);
    EXPECT_EQ(undoSteps(*fx.store), 1);
    pump();

    Session s = fx.store->session();
    s.tempo = 97.5;
    s.beatsPerBar = 3;
    fx.store->setSession(s);
    EXPECT_EQ(control.tempoLabel(), "97.5 BPM");
    EXPECT_EQ(control.meterLabel(), "3/4");
}

TEST(TempoControl, StepperClampsAndLockDisables) {
    LanesFixture fx;
    TempoControl control(*fx.store, fx.signals.get());
    control.show();
    control.openPopover();
    TempoPopover* pop = control.popover();
    pop->tempoField()->setText("500");
    QTest::keyClicks(pop->tempoField(), "");  // no edit
    emit pop->tempoField()->textEdited(pop->tempoField()->text());
    pop->stepUp()->click();
    EXPECT_EQ(pop->tempo(), 300.0);
    pop->tempoField()->setText("20");
    emit pop->tempoField()->textEdited("20");
    pop->stepDown()->click();
    EXPECT_EQ(pop->tempo(), 20.0);
    pop->close();
    pump();
    fx.store->setBusy(true);
    EXPECT_FALSE(control.isEnabled());
    control.metronomeButton()->click();
    EXPECT_FALSE(fx.store->metronome());
    fx.store->setBusy(false);
    control.metronomeButton()->click();
    EXPECT_TRUE(fx.store->metronome());
    EXPECT_TRUE(control.metronomeButton()->active());
}

// ---- spectral toolbar ----

TEST(SpectralToolbar, BrushSizeShowsOnlyForTheBrush) {
    LanesFixture fx;
    SpectralToolbar bar(*fx.store);
    bar.show();
    EXPECT_TRUE(bar.toolButton(0)->active());
    EXPECT_FALSE(bar.brushSlider()->isVisible());
    bar.toolButton(1)->click();
    EXPECT_EQ(fx.store->spectralTool(), SpectralTool::brush);
    EXPECT_TRUE(bar.brushSlider()->isVisible());
    EXPECT_EQ(bar.brushLabel()->text(), "24 px");
    fx.store->setSpectralBrushSize(24.9);
    EXPECT_EQ(bar.brushLabel()->text(), "24 px");
    bar.brushSlider()->setValue(80);
    EXPECT_EQ(fx.store->spectralBrushSize(), 80.0);
    EXPECT_EQ(bar.brushLabel()->text(), "80 px");
    bar.brushSlider()->setValue(1);  // the slider stops at 4
    EXPECT_EQ(fx.store->spectralBrushSize(), 4.0);
    bar.toolButton(2)->click();
    EXPECT_FALSE(bar.brushSlider()->isVisible());
    EXPECT_EQ(fx.store->spectralBrushSize(), 4.0);
    EXPECT_TRUE(bar.toolButton(0)->toolTip().contains("Alt") == false);
    EXPECT_TRUE(bar.toolButton(1)->toolTip().contains("Alt"));
}

TEST(SpectralToolbar, RangeLabelFollowsTheDragAndTheStoreHearsOnce) {
    LanesFixture fx;
    SpectralToolbar bar(*fx.store);
    bar.show();
    int writes = 0;
    QObject::connect(fx.store.get(), &StudioStore::spectralDisplayChanged, [&] { ++writes; });
    bar.toggleDisplay();
    ASSERT_TRUE(bar.popover());
    QSlider* slider = bar.popover()->rangeSlider();
    EXPECT_EQ(bar.popover()->rangeLabel()->text(), q("66 дБ"));
    slider->setSliderDown(true);
    for (int v = 34; v <= 45; ++v) slider->setValue(v);
    EXPECT_EQ(bar.popover()->rangeLabel()->text(), q("90 дБ"));
    EXPECT_EQ(writes, 0);
    slider->setSliderDown(false);
    EXPECT_EQ(writes, 1);
    EXPECT_EQ(fx.store->spectralDisplay().dynamicRange, 90.0);
    // A key step without holding the thumb writes at once.
    slider->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(fx.store->spectralDisplay().dynamicRange, 92.0);
    // The scale picker writes at once; the reset restores log and 66.
    bar.popover()->scalePicker()->activated(1);
    EXPECT_EQ(fx.store->spectralDisplay().scale, SpectralScale::linear);
    bar.popover()->resetButton()->click();
    EXPECT_EQ(fx.store->spectralDisplay(), (SpectralDisplay{SpectralScale::log, 66.0}));
    EXPECT_EQ(bar.popover()->rangeLabel()->text(), q("66 дБ"));
    bar.popover()->close();
    pump();
    // Changed elsewhere: the next opening shows the store's value.
    fx.store->setSpectralDisplay(SpectralDisplay{SpectralScale::log, 100.0});
    bar.toggleDisplay();
    ASSERT_TRUE(bar.popover());
    EXPECT_EQ(bar.range(), 100.0);
    EXPECT_EQ(bar.popover()->rangeLabel()->text(), q("100 дБ"));
}

TEST(SpectralToolbar, DisplayPopoverOpensAboveItsButtonOrBelowItNearTheTopNeverOverIt) {
    LanesFixture fx;
    SpectralToolbar bar(*fx.store);
    bar.show();
    const QRect area = bar.screen()->availableGeometry();
    // The window's top at the screen's top (maximised, or any window on Wayland), a little below
    // it, and far below it.
    for (const int offset : {0, 40, area.height() / 2 + 100}) {
        SCOPED_TRACE(offset);
        bar.move(area.right() - bar.width() - 10, area.top() + offset);
        pump();
        bar.toggleDisplay();
        ASSERT_TRUE(bar.popover());
        const QRect button(bar.displayButton()->mapToGlobal(QPoint(0, 0)), bar.displayButton()->size());
        const QRect popover = bar.popover()->frameGeometry();
        ASSERT_GT(popover.height(), 100);
        EXPECT_FALSE(popover.intersects(button));
        // On the screen (the test platform shifts a popup by its 2-pixel frame).
        EXPECT_TRUE(area.adjusted(-2, -2, 2, 2).contains(popover)) << popover.x() << "," << popover.y();
        const bool roomAbove = button.top() - area.top() > popover.height() + 4;
        EXPECT_EQ(roomAbove, offset > 40);
        if (roomAbove)
            EXPECT_LT(popover.bottom(), button.top());
        else
            EXPECT_GT(popover.top(), button.bottom());
        bar.popover()->close();
        pump();
    }
}

// ---- spectral repair ----

struct RepairFixture {
    LanesFixture fx;
    Uuid a, b;
    std::unique_ptr<SpectralRepairPanel> panel;
    RepairFixture() {
        fx.rows(1);
        a = fx.add(0, 0, 5, "A");
        b = fx.add(0, 6, 5, "B");
        fx.store->setSpectralView(true);
        panel = std::make_unique<SpectralRepairPanel>(*fx.store);
        panel->show();
    }
    void paintMaskOn(const Uuid& clip) {
        SpectralMask mask;
        mask.regions.push_back({SpectralMask::Shape::rectangle({1, 2}, {100, 1000}), false});
        fx.store->setSpectralMask(mask);
        fx.store->setSpectralMaskTrackID(clip);
    }
};

TEST(SpectralRepairPanel, ButtonsFollowTheSelection) {
    RepairFixture r;
    r.fx.store->setSelectedID(r.a);
    EXPECT_FALSE(r.panel->repairButtons()->isEnabled());
    EXPECT_FALSE(r.panel->clearMaskButton()->isVisible());
    EXPECT_EQ(r.panel->hint()->text(), SpectralRepairPanel::hintText(*r.fx.store));
    r.fx.store->setSpectralTool(SpectralTool::brush);
    EXPECT_TRUE(r.panel->hint()->text().contains(q("Alt или Shift + кисть")));
    r.fx.store->setSelection(TimeRange{1, 2});
    EXPECT_FALSE(r.panel->repairButtons()->isEnabled());  // time only
    r.paintMaskOn(r.b);                                   // another clip's mask
    EXPECT_FALSE(r.panel->clearMaskButton()->isVisible());
    EXPECT_FALSE(r.panel->repairButtons()->isEnabled());
    r.paintMaskOn(r.a);
    EXPECT_TRUE(r.panel->clearMaskButton()->isVisible());
    EXPECT_TRUE(r.panel->repairButtons()->isEnabled());
    EXPECT_TRUE(r.panel->hint()->text().startsWith(q("«Восстановить»")));
    r.panel->clearMaskButton()->click();
    EXPECT_FALSE(r.fx.store->spectralMaskActive());
    EXPECT_FALSE(r.panel->clearMaskButton()->isVisible());
}

TEST(SpectralRepairPanel, AttenuationCommitsWholeDecibelsInRange) {
    RepairFixture r;
    EXPECT_EQ(r.panel->slider()->displayLabel()->text(), q("40 дБ"));
    EXPECT_EQ(r.panel->attenuateButton()->text(), q("Ослабить на 40 дБ"));
    QSlider* s = r.panel->slider()->slider();
    auto commit = [&](double value) {
        s->setSliderDown(true);
        s->setValue(int(std::lround((value - 3.0) / 57.0 * ValueSlider::kSteps)));
        s->setSliderDown(false);
    };
    commit(12.6);
    EXPECT_EQ(r.fx.store->spectralAttenuation(), 13.0);
    EXPECT_EQ(r.panel->attenuateButton()->text(), q("Ослабить на 13 дБ"));
    EXPECT_EQ(SpectralRepairPanel::committedAttenuation(70), 60.0);
    EXPECT_EQ(SpectralRepairPanel::committedAttenuation(1), 3.0);
    EXPECT_EQ(SpectralRepairPanel::committedAttenuation(12.5), 13.0);
    commit(60);
    EXPECT_EQ(r.panel->attenuateButton()->text(), q("Ослабить на 60 дБ"));
}

}  // namespace
}  // namespace tessoral::test
