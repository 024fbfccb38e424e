// The wheel over value controls in the scrolling panels and the settings window: a turn that only
// passes over a picker scrolls the panel and changes nothing; after a click into the picker the
// wheel changes it.
#include <QApplication>
#include <QComboBox>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>
#include <QtTest/qtestspontaneevent.h>

#include <functional>

#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "app/shell/MainWindow.h"
#include "app/shell/StudioView.h"
#include "model/RecordingPreferences.h"
#include "store/StudioStore.h"
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

// Turns the wheel over `picker` and checks that nothing the user owns changed (`value` reads what
// the picker edits) and that the panel scrolled when it could; then clicks into the picker and
// checks that the wheel changes it.
void check(StudioFixture& fx, QComboBox* picker, const std::function<std::string()>& value, bool mustScroll) {
    ASSERT_NE(picker, nullptr);
    StudioStore& s = fx.store();
    QScrollArea* area = scrollAround(picker);
    if (area) {
        area->ensureWidgetVisible(picker, 0, 0);
        area->verticalScrollBar()->setValue(std::max(0, area->verticalScrollBar()->value() - 1));
        pump();
    }
    ASSERT_TRUE(!mustScroll || (area && area->verticalScrollBar()->value() < area->verticalScrollBar()->maximum()));
    const int scrolled = area ? area->verticalScrollBar()->value() : 0;
    const bool canScroll = area && scrolled < area->verticalScrollBar()->maximum();
    const int index = picker->currentIndex();
    const std::string before = value();
    const auto steps = s.undoNames().size();
    QSignalSpy edits(&s, &StudioStore::sessionChanged);
    picker->clearFocus();
    turn(picker);
    fx.settle();
    EXPECT_EQ(picker->currentIndex(), index);
    EXPECT_EQ(value(), before);
    EXPECT_EQ(s.undoNames().size(), steps);
    EXPECT_EQ(edits.count(), 0);
    EXPECT_FALSE(picker->hasFocus()) << "the wheel gave the picker the focus";
    if (canScroll) EXPECT_GT(area->verticalScrollBar()->value(), scrolled) << "the panel did not scroll";

    // Clicked into (the list opens and closes), the picker takes the wheel as before.
    QTest::mouseClick(picker, Qt::LeftButton, Qt::NoModifier, picker->rect().center());
    pump();
    picker->hidePopup();
    pump();
    ASSERT_TRUE(picker->hasFocus());
    turn(picker);
    fx.settle();
    EXPECT_EQ(picker->currentIndex(), index + 1);
    EXPECT_NE(value(), before);
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

TEST(Wheel, PassingOverASettingsPickerWritesNoSetting) {
    Shown w;
    w.fx.window().showSettings();
    pump();
    QWidget* settings = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->objectName() == QStringLiteral("settingsWindow") && top->isVisible()) settings = top;
    ASSERT_NE(settings, nullptr);
    QApplication::setActiveWindow(settings);
    Defaults& d = w.fx.services.defaults;
    check(w.fx, pickerIn(settings, QStringLiteral("countdownPicker")), [&d] {
        const auto v = d.value(RecordingPreferences::kCountdownKey);
        return v ? std::string("set") + std::to_string(std::get<long long>(*v)) : std::string("unset");
    }, false);
    settings->close();
}

TEST(Wheel, TheGuardKnowsTheValueControlsAndLeavesScrollBarsAlone) {
    QComboBox combo;
    QScrollBar bar(Qt::Vertical);
    QWidget plain;
    EXPECT_TRUE(WheelGuard::guards(&combo));
    EXPECT_FALSE(WheelGuard::guards(&bar));
    EXPECT_FALSE(WheelGuard::guards(&plain));
    combo.ensurePolished();
    EXPECT_EQ(combo.focusPolicy(), Qt::StrongFocus);
}
