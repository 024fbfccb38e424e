#pragma once

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QMouseEvent>
#include <QTest>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/Session.h"
#include "store/StudioStore.h"
#include "store/TransportSignals.h"
#include "support/TestAudio.h"
#include "support/store/StoreFixture.h"
#include "support/views/ViewTestSupport.h"
#include "timeline/LanesWidget.h"
#include "widgets/Palette.h"

namespace tessoral::test {

// A store over manual services with its transport signals, and a lanes widget over both.
// Default scale: 1000 points for 100 seconds (10 points a second), rows 134 high.
struct LanesFixture {
    StoreFixture services;
    std::unique_ptr<StudioStore> store;
    std::unique_ptr<TransportSignals> signals;
    std::unique_ptr<LanesWidget> lanes;

    explicit LanesFixture(LanesMode mode = LanesMode::multitrack) {
        store = services.make<StudioStore>();
        signals = std::make_unique<TransportSignals>(store->transport());
        lanes = std::make_unique<LanesWidget>(*store, signals.get(), mode);
        scale(1000.0, 100.0, 134.0);
    }
    ~LanesFixture() {
        lanes.reset();
        signals.reset();
        store.reset();
    }
    void scale(double width, double duration, double rowHeight) {
        lanes->setScale(width, duration, rowHeight);
        lanes->resize(lanes->contentSize());
    }
    // `rows` empty rows; returns their ids.
    std::vector<Uuid> rows(int count) {
        Session s = store->session();
        std::vector<Uuid> ids;
        for (int i = 0; i < count; ++i) {
            Lane lane;
            lane.name = "Row " + std::to_string(i + 1);
            lane.color = i;
            ids.push_back(lane.id);
            s.lanes.push_back(lane);
        }
        store->setSession(s);
        settle();
        return ids;
    }
    // A clip of `seconds` at `start` on row `row`; returns its id.
    Uuid add(int row, double start, double seconds, const std::string& name = "Clip") {
        Session s = store->session();
        Track t = clip(name, static_cast<std::int64_t>(std::llround(seconds * 48000)), start);
        t.laneID = s.lanes.at(std::size_t(row)).id;
        t.color = s.lanes.at(std::size_t(row)).color;
        s.tracks.push_back(t);
        store->setSession(s);
        settle();
        return t.id;
    }
    const Track& track(const Uuid& id) { return *store->session().track(id); }
    void settle() {
        services.settle();
        pump(1);
        lanes->resize(lanes->contentSize());
    }

    // ---- pointer input as a person gives it (left button unless told) ----
    void send(QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons buttons,
              Qt::KeyboardModifiers modifiers) {
        QMouseEvent event(type, at, lanes->mapToGlobal(at), button, buttons, modifiers);
        QApplication::sendEvent(lanes.get(), &event);
    }
    void press(QPointF at, Qt::KeyboardModifiers m = Qt::NoModifier) {
        send(QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton, m);
    }
    void move(QPointF at, Qt::KeyboardModifiers m = Qt::NoModifier) {
        send(QEvent::MouseMove, at, Qt::NoButton, Qt::LeftButton, m);
    }
    void hover(QPointF at) { send(QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton, Qt::NoModifier); }
    void release(QPointF at, Qt::KeyboardModifiers m = Qt::NoModifier) {
        send(QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton, m);
    }
    void doubleClick(QPointF at, Qt::KeyboardModifiers m = Qt::NoModifier) {
        send(QEvent::MouseButtonDblClick, at, Qt::LeftButton, Qt::LeftButton, m);
    }
    void click(QPointF at, Qt::KeyboardModifiers m = Qt::NoModifier) {
        press(at, m);
        release(at, m);
    }
    void drag(QPointF from, QPointF to, Qt::KeyboardModifiers m = Qt::NoModifier) {
        press(from, m);
        move((from + to) / 2, m);
        move(to, m);
        release(to, m);
    }
    QImage grab() {
        lanes->resize(lanes->contentSize());
        return lanes->grab().toImage();
    }
};

// `over` with `colour` at `alpha` laid on top, as 8-bit source-over compositing gives it.
inline QColor blend(QColor over, QColor colour, double alpha) {
    auto mix = [&](int a, int b) { return int(std::lround(a * (1.0 - alpha) + b * alpha)); };
    return QColor(mix(over.red(), colour.red()), mix(over.green(), colour.green()), mix(over.blue(), colour.blue()));
}

// Every channel within ±tolerance.
inline ::testing::AssertionResult near(QColor got, QColor want, int tolerance = 3) {
    if (std::abs(got.red() - want.red()) <= tolerance && std::abs(got.green() - want.green()) <= tolerance &&
        std::abs(got.blue() - want.blue()) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got " << got.name().toStdString() << ", want " << want.name().toStdString();
}

inline int undoSteps(const StudioStore& store) { return int(store.undoNames().size()); }

}  // namespace tessoral::test
