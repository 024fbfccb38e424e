#pragma once

// A store with clips for the effect panels' tests: one call per gesture, undo names to count steps.

#include <QApplication>
#include <QMouseEvent>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>

#include <memory>
#include <string>
#include <vector>

#include "model/Session.h"
#include "model/Track.h"
#include "store/StudioStore.h"
#include "support/TestAudio.h"
#include "support/store/StoreFixture.h"
#include "support/views/ViewTestSupport.h"

namespace tessoral::test {

struct EffectStore {
    StoreFixture fx;
    std::unique_ptr<StudioStore> store = fx.make<StudioStore>();

    // A selected clip with the given rack; returns its id.
    Uuid addClip(const std::string& name, std::vector<EffectSlot> rack = {}, bool select = true) {
        Session s = store->session();
        Track t = clip(name, 4800);
        t.rack = std::move(rack);
        const Uuid id = t.id;
        s.tracks.push_back(std::move(t));
        store->setSession(std::move(s));
        if (select) store->setSelectedID(id);
        return id;
    }
    const Track& track(const Uuid& id) const { return *store->session().track(id); }
    std::vector<std::string> undo() const { return store->undoNames(); }
};

// A left click on the slider's thumb, without moving it.
inline void clickThumb(QSlider* slider) {
    QStyleOptionSlider opt;
    opt.initFrom(slider);
    opt.orientation = slider->orientation();
    opt.minimum = slider->minimum();
    opt.maximum = slider->maximum();
    opt.sliderPosition = slider->sliderPosition();
    opt.sliderValue = slider->value();
    opt.subControls = QStyle::SC_All;
    const QRect thumb = slider->style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, slider);
    QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, thumb.center());
    QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, thumb.center());
}

// A drag of the slider's thumb from where it is to the fraction `to` of the groove.
inline void dragThumb(QSlider* slider, double to, const std::function<void()>& whileHeld = {}) {
    QStyleOptionSlider opt;
    opt.initFrom(slider);
    opt.orientation = slider->orientation();
    opt.minimum = slider->minimum();
    opt.maximum = slider->maximum();
    opt.sliderPosition = slider->sliderPosition();
    opt.sliderValue = slider->value();
    opt.subControls = QStyle::SC_All;
    const QRect thumb = slider->style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, slider);
    const QRect groove = slider->style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, slider);
    const int span = groove.width() - thumb.width();
    const QPoint from = thumb.center();
    const QPoint target(groove.x() + thumb.width() / 2 + static_cast<int>(span * to), from.y());
    QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, from);
    QMouseEvent move(QEvent::MouseMove, QPointF(target), slider->mapToGlobal(QPointF(target)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(slider, &move);
    if (whileHeld) whileHeld();
    QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, target);
}

}  // namespace tessoral::test
