// The equaliser curve: point geometry and picking, and drags on the real widget at the editor's
// size (532 × 230), each ending in at most one commit of a cleaned dictionary.

#include <QApplication>
#include <QMouseEvent>

#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "model/EffectParameters.h"
#include "panels/EQCurve.h"

namespace tessoral {
namespace {

constexpr double W = 532;
constexpr double H = 230;

void send(QWidget& w, QEvent::Type type, QPointF at, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent e(type, at, w.mapToGlobal(at), button, buttons, mods);
    QApplication::sendEvent(&w, &e);
}

struct Curve {
    int begins = 0;
    std::vector<EffectParams> commits;
    EQCurveView view;

    explicit Curve(EffectPreset preset, EffectParams params = {})
        : view(preset, std::move(params), [this] { ++begins; },
               [this](const EffectParams& p) { commits.push_back(p); }) {
        view.resize(static_cast<int>(W), static_cast<int>(H));
    }
    QPointF point(const std::string& id) const {
        for (const auto& n : EQCurve::nodes(view.preset(), view.params()))
            if (n.id == id) return {EQCurve::x(n.frequency, W), EQCurve::y(n.gain, H)};
        return {};
    }
    // Press at `from`, move through each offset, release at the last.
    void drag(QPointF from, std::vector<QPointF> by, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        send(view, QEvent::MouseButtonPress, from);
        QPointF at = from;
        for (QPointF d : by) {
            at = from + d;
            send(view, QEvent::MouseMove, at, mods);
        }
        send(view, QEvent::MouseButtonRelease, at);
    }
};

double defaultOf(EffectPreset preset, const std::string& key) { return value(preset, key, {}); }

TEST(EQCurveGeometry, AxesAndPoints) {
    EXPECT_DOUBLE_EQ(EQCurve::x(20, W), 0);
    EXPECT_NEAR(EQCurve::x(20000, W), W, 1e-9);
    EXPECT_DOUBLE_EQ(EQCurve::x(5, W), 0);  // below 20 Hz pins to the left edge
    EXPECT_DOUBLE_EQ(EQCurve::y(18, H), 0);
    EXPECT_DOUBLE_EQ(EQCurve::y(0, H), H / 2);
    EXPECT_DOUBLE_EQ(EQCurve::y(40, H), 0);

    const auto graphic = EQCurve::nodes(EffectPreset::graphicEQ, {{"g3", 4.5}});
    ASSERT_EQ(graphic.size(), 10u);
    EXPECT_EQ(graphic[3].id, "g3");
    EXPECT_DOUBLE_EQ(graphic[3].gain, 4.5);
    EXPECT_DOUBLE_EQ(graphic[0].frequency, 31.5);
    EXPECT_FALSE(graphic[3].frequencyKey || graphic[3].qKey || graphic[3].onKey);

    const auto bands = EQCurve::nodes(EffectPreset::parametricEQ, {});
    ASSERT_FALSE(bands.empty());
    // The pass filters are off by default and have no gain.
    EXPECT_EQ(bands.front().id, "hp");
    EXPECT_FALSE(bands.front().enabled);
    EXPECT_FALSE(bands.front().gainKey);
    EXPECT_EQ(*bands.front().onKey, "hp.on");
}

TEST(EQCurveGeometry, PickTakesTheNearestWithinSixteenAndTheEarlierOnATie) {
    std::vector<EQCurve::Node> two(2);
    two[0].id = "a";
    two[1].id = "b";  // both at 1 kHz, 0 dB
    const double cx = EQCurve::x(1000, W), cy = EQCurve::y(0, H);
    EXPECT_EQ(EQCurve::pick(two, cx + 3, cy, W, H), std::optional<std::size_t>(0));
    EXPECT_FALSE(EQCurve::pick(two, cx, cy + 16, W, H));
    EXPECT_TRUE(EQCurve::pick(two, cx, cy + 15.9, W, H));
}

TEST(EQCurveGeometry, AFlatCanvasGivesFiniteGains) {
    const EffectParams stored{{"p2.g", 3.0}};
    const auto list = EQCurve::nodes(EffectPreset::parametricEQ, stored);
    const EQCurve::Node& p2 = *std::find_if(list.begin(), list.end(), [](auto& n) { return n.id == "p2"; });
    const auto origin = EQCurve::origin(EffectPreset::parametricEQ, p2, stored);
    const auto out = EQCurve::dragStep(EffectPreset::parametricEQ, stored, p2, origin, 0, -0.1, false, 0, 0);
    // A canvas of no height treats motion as on a 1-high one: 0.1 px up is +3.6 dB, not a reset to 0.
    ASSERT_TRUE(out.count("p2.g"));
    EXPECT_NEAR(out.at("p2.g"), 6.6, 1e-9);
    EXPECT_TRUE(std::isfinite(out.at("p2.f")));
}

TEST(EQCurveView, DragOnABandIsOneBeginAndOneCleanedCommit) {
    Curve c(EffectPreset::parametricEQ);
    c.view.setSelectedBand("p2");
    c.drag(c.point("p2"), {{3, 0}, {10, -5}, {20, -10}});
    EXPECT_EQ(c.begins, 1);
    ASSERT_EQ(c.commits.size(), 1u);
    const EffectParams& d = c.commits.front();
    EXPECT_EQ(d, sanitized(EffectPreset::parametricEQ, d));
    EXPECT_DOUBLE_EQ(d.at("p2.on"), 1);
    EXPECT_GT(d.at("p2.f"), 1000);
    EXPECT_NEAR(d.at("p2.g"), std::round(36.0 * 10 / H * 10) / 10, 1e-9);
    // Only the dragged band is written.
    EXPECT_EQ(d.size(), 3u);
    EXPECT_FALSE(c.view.draft());
}

TEST(EQCurveView, AStartAwayFromEveryPointEditsNothing) {
    Curve c(EffectPreset::parametricEQ);
    // Straight below p2 by 16 px: no point lies nearer.
    c.drag(c.point("p2") + QPointF(0, 16), {{5, 5}, {30, 30}});
    EXPECT_EQ(c.begins, 0);
    EXPECT_TRUE(c.commits.empty());
}

TEST(EQCurveView, APressWithoutMotionCommitsNothing) {
    Curve c(EffectPreset::parametricEQ);
    c.drag(c.point("p2"), {{0.4, 0}});
    EXPECT_EQ(c.begins, 0);
    EXPECT_TRUE(c.commits.empty());
}

TEST(EQCurveView, OnePixelUpFromZeroIsPlusPointTwo) {
    Curve c(EffectPreset::parametricEQ);
    c.drag(c.point("p2"), {{0, -1}});
    ASSERT_EQ(c.commits.size(), 1u);
    EXPECT_DOUBLE_EQ(c.commits[0].at("p2.g"), 0.2);  // 36/230 dB to the nearest tenth
}

TEST(EQCurveView, TheModifierScalesQAndKeepsFrequencyAndGain) {
    for (Qt::KeyboardModifier mod : {Qt::AltModifier, Qt::ShiftModifier}) {
        Curve c(EffectPreset::parametricEQ);
        c.drag(c.point("p2"), {{5, -20}, {7, -40}}, mod);
        ASSERT_EQ(c.commits.size(), 1u);
        const EffectParams& d = c.commits[0];
        EXPECT_NEAR(d.at("p2.q"), 2 * defaultOf(EffectPreset::parametricEQ, "p2.q"), 1e-9);
        EXPECT_DOUBLE_EQ(d.at("p2.on"), 1);
        EXPECT_FALSE(d.count("p2.f"));
        EXPECT_FALSE(d.count("p2.g"));
    }
}

TEST(EQCurveView, OnlyTheLastMoveDecidesTheMode) {
    Curve c(EffectPreset::parametricEQ);
    send(c.view, QEvent::MouseButtonPress, c.point("p2"));
    send(c.view, QEvent::MouseMove, c.point("p2") + QPointF(0, -40), Qt::AltModifier);
    send(c.view, QEvent::MouseMove, c.point("p2") + QPointF(0, -40));
    send(c.view, QEvent::MouseButtonRelease, c.point("p2") + QPointF(0, -40));
    ASSERT_EQ(c.commits.size(), 1u);
    EXPECT_FALSE(c.commits[0].count("p2.q"));
    EXPECT_DOUBLE_EQ(c.commits[0].at("p2.g"), 6.3);
}

TEST(EQCurveView, GainsStopAtTheirRangeAboveTheTop) {
    Curve parametric(EffectPreset::parametricEQ);
    parametric.drag(parametric.point("p2"), {{0, -200}});
    ASSERT_EQ(parametric.commits.size(), 1u);
    EXPECT_DOUBLE_EQ(parametric.commits[0].at("p2.g"), 18);

    Curve graphic(EffectPreset::graphicEQ);
    graphic.drag(graphic.point("g5"), {{40, -200}}, Qt::AltModifier);
    ASSERT_EQ(graphic.commits.size(), 1u);
    EXPECT_EQ(graphic.commits[0], (EffectParams{{"g5", 12.0}}));  // moves only vertically, no Q
    EXPECT_EQ(graphic.view.selectedBand(), "g5");
}

TEST(EQCurveView, AHighPassDragTurnsItOnAndMovesItsFrequencyOnly) {
    Curve c(EffectPreset::parametricEQ);
    c.drag(c.point("hp"), {{40, -30}});
    ASSERT_EQ(c.commits.size(), 1u);
    const EffectParams& d = c.commits[0];
    EXPECT_DOUBLE_EQ(d.at("hp.on"), 1);
    EXPECT_NEAR(d.at("hp.f"), 20 * std::pow(1000.0, (EQCurve::x(40, W) + 40) / W), 1e-6);
    EXPECT_EQ(d.size(), 2u);
}

TEST(EQCurveView, FrequencyPinsAtTheEdges) {
    Curve c(EffectPreset::parametricEQ);
    c.drag(c.point("p2"), {{2000, 0}});
    ASSERT_EQ(c.commits.size(), 1u);
    EXPECT_NEAR(c.commits[0].at("p2.f"), 20000, 1e-6);
}

}  // namespace
}  // namespace tessoral
