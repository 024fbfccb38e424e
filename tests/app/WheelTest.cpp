// The wheel over value controls in the scrolling panels, the sheets and the settings window: a turn
// that only passes over a control scrolls the view around it and changes nothing, also when the
// control holds the focus that its sheet gave it on opening; after a click or Tab into the control
// the wheel changes it.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QDialog>
#include <QFocusEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>
#include <QTest>
#include <QWheelEvent>
#include <QtTest/qtestspontaneevent.h>

#include <functional>

#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "app/inspector/ExportSheet.h"
#include "app/inspector/TimePitchSheet.h"
#include "app/shell/SheetHost.h"
#include "app/shell/MainWindow.h"
#include "app/shell/StudioView.h"
#include "model/RecordingPreferences.h"
#include "panels/Mixer.h"
#include "store/StudioStore.h"
#include "widgets/SegmentedControl.h"
#include "widgets/WheelGuard.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

// One notch of the real wheel (down) over the middle of `target`, delivered as the window system
// delivers it: spontaneous, so Qt hands an ignored turn on to the parents.
void turn(QWidget* target) {
    const QPointF at = QRectF(target->rect()).center();
    QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QSpontaneKeyEvent::setSpontaneous(&event);
    QApplication::instance()->notify(target, &event);
    pump();
}

QScrollArea* scrollAround(QWidget* w) {
    for (QWidget* p = w->parentWidget(); p; p = p->parentWidget())
        if (auto* area = qobject_cast<QScrollArea*>(p)) return area;
    return nullptr;
}

// The first visible picker inside `root`.
QComboBox* pickerIn(QWidget* root, const QString& name = QString()) {
    for (QComboBox* c : root->findChildren<QComboBox*>(name))
        if (c->isVisible() && c->isEnabled()) return c;
    return nullptr;
}

// The control's own position: a picker's row, a slider's or number field's value, a segment.
int positionOf(QWidget* w) {
    if (auto* picker = qobject_cast<QComboBox*>(w)) return picker->currentIndex();
    if (auto* slider = qobject_cast<QAbstractSlider*>(w)) return slider->value();
    if (auto* field = qobject_cast<QSpinBox*>(w)) return field->value();
    if (auto* segments = qobject_cast<SegmentedControl*>(w)) return segments->currentIndex();
    ADD_FAILURE() << "not a value control";
    return 0;
}

// A person clicks into the control (a picker's list opens and closes).
void choose(QWidget* control) {
    QTest::mouseClick(control, Qt::LeftButton, Qt::NoModifier, control->rect().center());
    pump();
    if (auto* picker = qobject_cast<QComboBox*>(control)) picker->hidePopup();
    pump();
}

// Turns the wheel over `control` and checks that nothing the user owns changed (`value` reads
// what the control edits) and that the view around it scrolled when it could; then lets a person
// choose the control and checks that the wheel changes it. `given`: the control holds the focus
// that its window gave it on opening, with no click or Tab.
void check(StudioFixture& fx, QWidget* control, const std::function<std::string()>& value, bool mustScroll,
           bool given = false) {
    ASSERT_NE(control, nullptr);
    StudioStore& s = fx.store();
    QScrollArea* area = scrollAround(control);
    if (area) {
        area->ensureWidgetVisible(control, 0, 0);
        area->verticalScrollBar()->setValue(std::max(0, area->verticalScrollBar()->value() - 1));
        pump();
    }
    ASSERT_TRUE(!mustScroll || (area && area->verticalScrollBar()->value() < area->verticalScrollBar()->maximum()));
    const int scrolled = area ? area->verticalScrollBar()->value() : 0;
    const bool canScroll = area && scrolled < area->verticalScrollBar()->maximum();
    const int position = positionOf(control);
    const std::string before = value();
    const auto steps = s.undoNames().size();
    QSignalSpy edits(&s, &StudioStore::sessionChanged);
    if (given)
        ASSERT_TRUE(control->hasFocus()) << "the window gave the control no focus as it opened";
    else
        control->clearFocus();
    turn(control);
    fx.settle();
    EXPECT_EQ(positionOf(control), position);
    EXPECT_EQ(value(), before);
    EXPECT_EQ(s.undoNames().size(), steps);
    EXPECT_EQ(edits.count(), 0);
    EXPECT_EQ(control->hasFocus(), given) << "the wheel moved the focus";
    if (canScroll) EXPECT_GT(area->verticalScrollBar()->value(), scrolled) << "the view did not scroll";

    // Clicked into, the control takes the wheel as before.
    choose(control);
    fx.settle();
    ASSERT_TRUE(control->hasFocus());
    const int clicked = positionOf(control);  // a click on a slider's groove moves it
    const std::string chosen = value();
    turn(control);
    fx.settle();
    EXPECT_NE(positionOf(control), clicked);
    EXPECT_NE(value(), chosen);
}

struct Shown {
    StudioFixture fx;
    Shown() {
        fx.loadDemo();
        StudioStore& s = fx.store();
        s.setSelectedID(s.session().tracks[0].id);
        fx.window().resize(1280, 640);
        fx.window().show();
        QApplication::setActiveWindow(&fx.window());
        fx.delegate().connectStore(s);
        pump();
    }
    QWidget* page(int tab) {
        fx.store().setInspectorTab(tab);
        pump();
        return fx.view().inspectorPage();
    }
};

}  // namespace

TEST(Wheel, PassingOverTheRackPresetPickerScrollsTheRack) {
    Shown w;
    StudioStore& s = w.fx.store();
    for (int i = 0; i < 8; ++i) s.addRackEffect(EffectPreset::parametricEQ);
    w.fx.settle();
    QWidget* rack = w.page(0);
    const Uuid clip = s.session().tracks[0].id;
    auto presets = [&s, clip] {
        std::string out;
        for (const EffectSlot& slot : s.session().track(clip)->rack) out += std::to_string(int(slot.preset)) + " ";
        return out;
    };
    QComboBox* first = nullptr;
    for (QComboBox* c : rack->findChildren<QComboBox*>())
        if (c->isVisible() && (!first || c->mapTo(rack, QPoint()).y() < first->mapTo(rack, QPoint()).y())) first = c;
    check(w.fx, first, presets, true);
}

TEST(Wheel, PassingOverTheInspectorsEffectPickerChangesNoEffect) {
    Shown w;
    StudioStore& s = w.fx.store();
    QWidget* inspector = w.page(1);
    check(w.fx, pickerIn(inspector, QStringLiteral("effectPicker")),
          [&s] { return std::to_string(int(s.chosenEffect())); }, false);
}

TEST(Wheel, PassingOverAnEssentialSoundPickerChangesNoSetting) {
    Shown w;
    StudioStore& s = w.fx.store();
    s.setEssentialType(SoundType::dialogue);
    w.fx.settle();
    QWidget* essential = w.page(3);
    pump();
    const Uuid clip = s.session().tracks[0].id;
    check(w.fx, pickerIn(essential), [&s, clip] {
        const Track* t = s.session().track(clip);
        return t && t->essentialSound ? std::to_string(int(t->essentialSound->eqPreset)) + "/" +
                                            std::to_string(t->essentialSound->targetLUFS)
                                      : std::string();
    }, false);
}

TEST(Wheel, PassingOverTheSettingsPickersAndSlidersWritesNoSetting) {
    Shown w;
    w.fx.window().showSettings();
    pump();
    QWidget* settings = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->objectName() == QStringLiteral("settingsWindow") && top->isVisible()) settings = top;
    ASSERT_NE(settings, nullptr);
    QApplication::setActiveWindow(settings);
    pump();
    Defaults& d = w.fx.services.defaults;
    auto setting = [&d](const char* key) {
        return [&d, key] {
            const auto v = d.value(key);
            if (!v) return std::string("unset");
            if (const auto* n = std::get_if<long long>(&*v)) return std::to_string(*n);
            if (const auto* x = std::get_if<double>(&*v)) return std::to_string(*x);
            if (const auto* t = std::get_if<std::string>(&*v)) return *t;
            return std::string("set");
        };
    };
    check(w.fx, pickerIn(settings, QStringLiteral("countdownPicker")), setting(RecordingPreferences::kCountdownKey),
          false);
    // One notch over the latency correction would shift every later recording.
    check(w.fx, settings->findChild<QSlider*>(QStringLiteral("latencySlider")),
          setting(RecordingPreferences::kLatencyKey), false);
    settings->close();
}

// A click on a mixer fader gives it the wheel and the arrows: Up steps it, the row selection stays.
TEST(Wheel, AClickedMixerFaderTakesTheWheelAndTheArrows) {
    Shown w;
    w.fx.store().setEditorMode(EditorMode::mixer);
    pump();
    MixerFader* fader = w.fx.view().findChild<MixerWorkspace*>()->strips().front()->fader();
    check(w.fx, fader->slider(), [fader] { return fader->readout()->text().toStdString(); }, false);
    const double turned = fader->draft();
    const auto selected = w.fx.store().selectedLaneID();
    QTest::keyClick(fader->slider(), Qt::Key_Up);
    EXPECT_NEAR(fader->draft(), turned + 0.1, 1e-9);
    ValueSliderTrack::endOpenBursts();
    EXPECT_EQ(w.fx.store().selectedLaneID(), selected);
}

// A control that gets the keyboard focus from its window (the window activated again, Qt's first
// control of a window), with no frame to show it: the wheel over it must still change nothing until
// a person chooses it.
TEST(Wheel, AFreshlyOpenedSheetsFirstControlTakesNoTurnUntilChosen) {
    Shown w;
    StudioStore& s = w.fx.store();
    auto open = [&w](SheetHost::Sheet which) {
        QDialog* sheet = w.fx.view().sheets()->dialog(which);
        if (sheet) QApplication::setActiveWindow(sheet);
        pump();
        return sheet;
    };
    s.setShowExport(true);
    pump();
    QDialog* exporting = open(SheetHost::Sheet::exportMix);
    ASSERT_NE(exporting, nullptr);
    // The sheet itself holds the focus as it opens; its first control takes it from the window.
    exporting->findChild<ExportSheet*>()->formatPicker()->setFocus(Qt::ActiveWindowFocusReason);
    check(w.fx, exporting->findChild<ExportSheet*>()->formatPicker(),
          [&s] { return std::string(rawValue(s.exportFormat())); }, false, true);
    s.setShowExport(false);
    pump();

    s.setShowTimePitch(true);
    pump();
    QDialog* timePitch = open(SheetHost::Sheet::timePitch);
    ASSERT_NE(timePitch, nullptr);
    timePitch->findChild<TimePitchSheet*>()->rateSlider()->setFocus(Qt::ActiveWindowFocusReason);
    check(w.fx, timePitch->findChild<TimePitchSheet*>()->rateSlider(),
          [&s] { return std::to_string(s.timeRate()) + " " + std::to_string(s.timeSemitones()); }, false, true);
    s.setShowTimePitch(false);
    pump();
}

TEST(Wheel, TheGuardKnowsTheValueControlsAndLeavesScrollBarsAlone) {
    // A tall scrolling page with one value control of each kind.
    QScrollArea area;
    auto* page = new QWidget;
    auto* column = new QVBoxLayout(page);
    auto* picker = new QComboBox(page);
    picker->addItems({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    auto* field = new QSpinBox(page);
    field->setRange(0, 100);
    field->setValue(50);
    auto* slider = new QSlider(Qt::Horizontal, page);
    slider->setRange(0, 100);
    slider->setValue(50);
    auto* segments = new SegmentedControl({QStringLiteral("x"), QStringLiteral("y"), QStringLiteral("z")}, page);
    segments->setCurrentIndex(1);
    QSignalSpy segmentChosen(segments, &SegmentedControl::activated);
    auto* button = new QPushButton(QStringLiteral("OK"), page);
    column->addWidget(button);
    for (QWidget* c : std::initializer_list<QWidget*>{picker, field, slider, segments}) column->addWidget(c);
    column->addSpacing(2000);
    area.setWidget(page);
    area.resize(300, 200);
    area.show();
    QApplication::setActiveWindow(&area);
    pump();
    QScrollBar* bar = area.verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    EXPECT_EQ(picker->focusPolicy(), Qt::StrongFocus);  // no focus from the wheel itself
    EXPECT_EQ(field->focusPolicy(), Qt::StrongFocus);

    for (QWidget* control : std::initializer_list<QWidget*>{picker, field, slider, segments}) {
        const char* kind = control->metaObject()->className();
        EXPECT_TRUE(WheelGuard::guards(control)) << kind;
        const int position = positionOf(control);
        // Without focus, and with focus that no person gave (a window opening, a program's call).
        for (const Qt::FocusReason reason : {Qt::NoFocusReason, Qt::ActiveWindowFocusReason, Qt::OtherFocusReason}) {
            control->clearFocus();
            if (reason != Qt::NoFocusReason) control->setFocus(reason);
            pump();
            bar->setValue(0);
            turn(control);
            EXPECT_EQ(positionOf(control), position) << kind << " focus reason " << int(reason);
            EXPECT_GT(bar->value(), 0) << kind << " focus reason " << int(reason) << ": the page did not scroll";
        }
        // An opening dialog sends its focus widget a focus-in "from Tab" without giving it the
        // focus; the focus comes when the window is activated.
        control->clearFocus();
        QFocusEvent fake(QEvent::FocusIn, Qt::TabFocusReason);
        QApplication::sendEvent(control, &fake);
        control->setFocus(Qt::ActiveWindowFocusReason);
        pump();
        bar->setValue(0);
        turn(control);
        EXPECT_EQ(positionOf(control), position) << kind << " after a dialog's focus-in";
        // Tabbed into, it takes the wheel (a segmented control has no wheel of its own).
        control->clearFocus();
        control->setFocus(Qt::TabFocusReason);
        pump();
        turn(control);
        if (control != segments) EXPECT_NE(positionOf(control), position) << kind;
        // Chosen once and left for a button, it takes no passing turn.
        button->setFocus(Qt::MouseFocusReason);
        pump();
        const int left = positionOf(control);
        turn(control);
        EXPECT_EQ(positionOf(control), left) << kind << " after the focus went on to a button";
        // The focus taken away and given back by the program is no person's choice any more.
        const int turned = positionOf(control);
        control->clearFocus();
        control->setFocus(Qt::OtherFocusReason);
        pump();
        turn(control);
        EXPECT_EQ(positionOf(control), turned) << kind << " with the focus given back by the program";
    }
    EXPECT_EQ(segments->currentIndex(), 1);
    EXPECT_EQ(segmentChosen.count(), 0);

    // Chosen, then its window closed and opened again: the focus the window gives back on opening
    // is not a person's choice.
    slider->setFocus(Qt::MouseFocusReason);
    pump();
    area.hide();
    pump();
    area.show();
    QApplication::setActiveWindow(&area);
    pump();
    ASSERT_TRUE(slider->hasFocus());
    const int kept = slider->value();
    turn(slider);
    EXPECT_EQ(slider->value(), kept);

    // The scroll bar keeps the wheel without any focus; a plain widget is none of the guard's.
    QWidget plain;
    EXPECT_FALSE(WheelGuard::guards(bar));
    EXPECT_FALSE(WheelGuard::guards(&plain));
    picker->clearFocus();
    bar->setValue(0);
    turn(bar);
    EXPECT_GT(bar->value(), 0);
}
