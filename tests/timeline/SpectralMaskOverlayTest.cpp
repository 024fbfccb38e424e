// The painted spectral mask: shapes in either frequency scale, erasing inside the layer only, and
// agreement with the repair's own rasteriser at pixel centres.
#include <QImage>
#include <QPainter>

#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "processing/SpectralMask.h"
#include "timeline/SpectralMaskOverlay.h"
#include "widgets/Palette.h"

namespace tessoral {
namespace {

namespace O = SpectralMaskOverlay;

// A 400 × 200 canvas: 10 s over 400 points (40 a second), the axis from y 10 (top) to 190.
constexpr int kW = 400;
constexpr int kH = 200;

O::Mapping mapping(SpectralScale scale, double trackStart = 0.0) {
    return O::Mapping{trackStart, 10.0, double(kW), 10.0, 190.0, scale};
}

// The mask's layer alone (alpha per pixel), drawn through the cached layer.
QImage layerOf(const SpectralMask& mask, const O::Mapping& m) {
    SpectralMaskLayer layer;
    QImage canvas(kW, kH, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter p(&canvas);
    layer.draw(p, mask, m, QRect(0, 0, kW, kH), QRect(0, 0, kW, kH));
    p.end();
    return layer.image();
}

bool covered(const QImage& layer, int x, int y) { return qAlpha(layer.pixel(x, y)) >= 128; }

int coveredCount(const QImage& layer) {
    int n = 0;
    for (int y = 0; y < layer.height(); ++y)
        for (int x = 0; x < layer.width(); ++x) n += covered(layer, x, y);
    return n;
}

SpectralMask::Region add(SpectralMask::Shape shape) { return {std::move(shape), false}; }
SpectralMask::Region erase(SpectralMask::Shape shape) { return {std::move(shape), true}; }

// Intersection over union of the painted layer and SpectralMask::rasterize sampled at the pixel
// centres of the axis band.
double agreement(const SpectralMask& mask, const O::Mapping& m) {
    const QImage layer = layerOf(mask, m);
    std::vector<double> times;
    for (int x = 0; x < kW; ++x) times.push_back((x + 0.5) * m.duration / m.width - m.trackStart);
    std::vector<double> bins;  // ascending: from the bottom row up
    std::vector<int> rows;
    for (int y = int(m.bottom) - 1; y >= int(m.top); --y) {
        const double p = (m.bottom - (y + 0.5)) / m.band();
        bins.push_back(O::frequency(p, m.scale));
        rows.push_back(y);
    }
    const std::vector<float> cells = mask.rasterize(times, bins);
    int both = 0, either = 0;
    for (std::size_t i = 0; i < times.size(); ++i)
        for (std::size_t k = 0; k < bins.size(); ++k) {
            const bool want = cells[i * bins.size() + k] > 0.5f;
            const bool got = covered(layer, int(i), rows[k]);
            both += want && got;
            either += want || got;
        }
    return either == 0 ? 1.0 : double(both) / either;
}

TEST(SpectralMaskOverlay, AxisMappingClampsBelow45HzAndAboveTheTop) {
    const O::Mapping log = mapping(SpectralScale::log);
    EXPECT_DOUBLE_EQ(log.y(45.0), 190.0);
    EXPECT_DOUBLE_EQ(log.y(30.0), 190.0);
    EXPECT_DOUBLE_EQ(log.y(0.0), 190.0);
    EXPECT_DOUBLE_EQ(log.y(30000.0), 10.0);
    EXPECT_DOUBLE_EQ(mapping(SpectralScale::linear).y(30000.0), 10.0);
    EXPECT_DOUBLE_EQ(O::position(std::nan(""), SpectralScale::linear), 0.0);
    EXPECT_NEAR(log.y(O::frequency(0.5, SpectralScale::log)), 100.0, 1e-9);
}

TEST(SpectralMaskOverlay, NothingWithoutAnAxisOrDuration) {
    SpectralMask mask;
    mask.regions.push_back(add(SpectralMask::Shape::rectangle({1, 5}, {100, 5000})));
    for (O::Mapping m : {O::Mapping{0, 0, 400, 10, 190, SpectralScale::log}, O::Mapping{0, 10, 0, 10, 190, SpectralScale::log},
                         O::Mapping{0, 10, 400, 10, 10, SpectralScale::log}}) {
        EXPECT_FALSE(m.drawable());
        QImage canvas(kW, kH, QImage::Format_ARGB32_Premultiplied);
        canvas.fill(Qt::transparent);
        QPainter p(&canvas);
        O::draw(mask, p, m, QRect(0, 0, kW, kH));
        p.end();
        EXPECT_EQ(coveredCount(canvas), 0);
    }
}

TEST(SpectralMaskOverlay, TinyRectangleStillShowsOnePoint) {
    SpectralMask mask;
    // 1 ms wide (0.04 pt) and 1 Hz high.
    mask.regions.push_back(add(SpectralMask::Shape::rectangle({5.0, 5.001}, {1000.0, 1001.0})));
    const QImage layer = layerOf(mask, mapping(SpectralScale::linear));
    const int x = 200;  // 5 s
    const int y = int(std::floor(mapping(SpectralScale::linear).y(1001.0)));
    EXPECT_GT(qAlpha(layer.pixel(x, y)), 0);
    EXPECT_LE(coveredCount(layer), 4);
}

TEST(SpectralMaskOverlay, EraseCutsAHoleThatALaterDabRefills) {
    const O::Mapping m = mapping(SpectralScale::log);
    auto dab = [](double t, double p, double r) {
        return SpectralMask::Shape::stroke({{t, O::frequency(p, SpectralScale::log)}}, r, r / 2.0, SpectralScale::log);
    };
    SpectralMask mask;
    mask.regions.push_back(add(dab(5.0, 0.5, 1.0)));  // 40 pt × 90 pt radii around (200, 100)
    EXPECT_TRUE(covered(layerOf(mask, m), 200, 100));
    mask.regions.push_back(erase(dab(5.0, 0.5, 0.25)));
    QImage holed = layerOf(mask, m);
    EXPECT_FALSE(covered(holed, 200, 100));
    EXPECT_TRUE(covered(holed, 200 + 25, 100));  // outside the hole, inside the first dab
    mask.regions.push_back(add(dab(5.0, 0.5, 0.1)));
    EXPECT_TRUE(covered(layerOf(mask, m), 200, 100));
}

TEST(SpectralMaskOverlay, TwoPointLassoIsAThinLineThreePointsFill) {
    const O::Mapping m = mapping(SpectralScale::linear);
    auto at = [](double t, double hz) { return SpectralPoint{t, hz}; };
    SpectralMask mask;
    mask.regions.push_back(add(SpectralMask::Shape::polygon({at(2.0, 11000.0), at(8.0, 11000.0)}, SpectralScale::linear)));
    const QImage line = layerOf(mask, m);
    const int y = int(m.y(11000.0));
    int painted = 0;
    for (int dy = -3; dy <= 3; ++dy) painted += qAlpha(line.pixel(200, y + dy)) > 0;
    EXPECT_GE(painted, 1);
    EXPECT_LE(painted, 3);  // 1.5 pt wide
    mask.regions.back() = add(SpectralMask::Shape::polygon({at(2.0, 11000.0), at(8.0, 11000.0), at(5.0, 2000.0)}, SpectralScale::linear));
    const QImage filled = layerOf(mask, m);
    EXPECT_TRUE(covered(filled, 200, int(m.y(6000.0))));
    SpectralMask one;
    one.regions.push_back(add(SpectralMask::Shape::polygon({at(2.0, 11000.0)}, SpectralScale::linear)));
    EXPECT_EQ(coveredCount(layerOf(one, m)), 0);
}

TEST(SpectralMaskOverlay, LinearLassoShownInLogCurvesAwayFromItsChord) {
    // A triangle drawn in the linear scale; in the log display its slanted edges are curves, so
    // the straight chord between two vertices no longer bounds it.
    const O::Mapping log = mapping(SpectralScale::log);
    const SpectralPoint a{1.0, 500.0}, b{9.0, 20000.0}, c{9.0, 500.0};
    SpectralMask mask;
    mask.regions.push_back(add(SpectralMask::Shape::polygon({a, b, c}, SpectralScale::linear)));
    const QImage layer = layerOf(mask, log);
    // The chord's middle from a to b on screen, and the drawn edge's middle (the linear midpoint).
    const QPointF chord((log.x(a.time) + log.x(b.time)) / 2, (log.y(a.frequency) + log.y(b.frequency)) / 2);
    const QPointF edge(log.x(5.0), log.y((500.0 + 20000.0) / 2));
    ASSERT_LT(edge.y(), chord.y() - 10);  // the curve bulges upwards
    // Straight edges would stop at the chord; the curved edge fills past it, up to the curve.
    EXPECT_TRUE(covered(layer, int(chord.x()), int(chord.y()) - 6));
    EXPECT_TRUE(covered(layer, int(edge.x()), int(edge.y()) + 3));
    EXPECT_FALSE(covered(layer, int(edge.x()), int(edge.y()) - 3));
    // Shown in its own scale the same lasso has the straight edge.
    const QImage straight = layerOf(mask, mapping(SpectralScale::linear));
    const O::Mapping lin = mapping(SpectralScale::linear);
    const QPointF linChord((lin.x(a.time) + lin.x(b.time)) / 2, (lin.y(a.frequency) + lin.y(b.frequency)) / 2);
    EXPECT_TRUE(covered(straight, int(linChord.x()) + 3, int(linChord.y()) + 3));
    EXPECT_FALSE(covered(straight, int(linChord.x()) - 3, int(linChord.y()) - 3));
}

// One mask of every kind, drawn in both scales, against the rasteriser.
SpectralMask mixedMask() {
    auto f = [](double p, SpectralScale s) { return O::frequency(p, s); };
    SpectralMask mask;
    mask.regions.push_back(add(SpectralMask::Shape::rectangle({0.5, 2.5}, {200.0, 3000.0})));
    std::vector<SpectralPoint> path;
    for (int i = 0; i <= 40; ++i) path.push_back({3.0 + i * 0.1, f(0.3 + 0.3 * std::sin(i * 0.2), SpectralScale::log)});
    mask.regions.push_back(add(SpectralMask::Shape::stroke(path, 0.3, 0.06, SpectralScale::log)));
    std::vector<SpectralPoint> linearPath;
    for (int i = 0; i <= 30; ++i) linearPath.push_back({4.0 + i * 0.05, f(0.2 + i * 0.01, SpectralScale::linear)});
    mask.regions.push_back(erase(SpectralMask::Shape::stroke(linearPath, 0.15, 0.04, SpectralScale::linear)));
    mask.regions.push_back(add(SpectralMask::Shape::polygon(
        {{7.0, 1000.0}, {9.5, 4000.0}, {8.0, 15000.0}, {7.2, 8000.0}}, SpectralScale::linear)));
    mask.regions.push_back(add(SpectralMask::Shape::stroke({{1.5, 8000.0}}, 0.4, 0.1, SpectralScale::linear)));
    return mask;
}

TEST(SpectralMaskOverlay, CoversWhatTheRasteriserCoversInBothScales) {
    const SpectralMask mask = mixedMask();
    EXPECT_GE(agreement(mask, mapping(SpectralScale::log)), 0.95);
    EXPECT_GE(agreement(mask, mapping(SpectralScale::linear)), 0.95);
    // A clip that starts later: the shapes move with it.
    EXPECT_GE(agreement(mask, mapping(SpectralScale::log, 0.5)), 0.95);
}

TEST(SpectralMaskOverlay, DensePointerStrokeInTheOtherScaleKeepsItsFootprint) {
    // A point every quarter point on screen, wandering: most points are left out of the outline.
    std::vector<SpectralPoint> path;
    for (int i = 0; i < 1200; ++i)
        path.push_back({1.0 + i * 0.00625, O::frequency(0.45 + 0.3 * std::sin(i * 0.01), SpectralScale::linear)});
    SpectralMask mask;
    mask.regions.push_back(add(SpectralMask::Shape::stroke(path, 0.2, 0.05, SpectralScale::linear)));
    EXPECT_GE(agreement(mask, mapping(SpectralScale::log)), 0.95);
    SpectralMask logMask;
    logMask.regions.push_back(add(SpectralMask::Shape::stroke(path, 0.2, 0.08, SpectralScale::log)));
    EXPECT_GE(agreement(logMask, mapping(SpectralScale::linear)), 0.95);
}

TEST(SpectralMaskOverlay, LongFastStrokeInTheOtherScaleStaysBounded) {
    // Two far-apart points with a tiny radius: thousands of units of normalised length per edge.
    SpectralMask mask;
    mask.regions.push_back(add(SpectralMask::Shape::stroke({{0.5, 200.0}, {9.5, 12000.0}}, 0.001, 0.002, SpectralScale::linear)));
    EXPECT_GE(agreement(mask, mapping(SpectralScale::log)), 0.5);  // a hairline: pixel centres decide
    EXPECT_GT(coveredCount(layerOf(mask, mapping(SpectralScale::log))), 100);
}

TEST(SpectralMaskLayer, KeepsTheFinishedRegionsWhileTheLastGrows) {
    const O::Mapping m = mapping(SpectralScale::log);
    SpectralMaskLayer layer;
    QImage canvas(kW, kH, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&canvas);
    const QRect all(0, 0, kW, kH);
    SpectralMask mask;
    mask.regions.push_back(add(SpectralMask::Shape::rectangle({1, 2}, {100, 1000})));
    layer.draw(p, mask, m, all, all);
    EXPECT_EQ(layer.rebuilds(), 1u);
    // A new stroke begins, then grows point by point: no rebuild.
    std::vector<SpectralPoint> points{{5.0, 1000.0}};
    mask.regions.push_back(add(SpectralMask::Shape::stroke(points, 0.2, 0.05, SpectralScale::log)));
    layer.draw(p, mask, m, all, all);
    for (int i = 1; i < 5; ++i) {
        points.push_back({5.0 + i * 0.2, 1000.0});
        mask.regions.back() = add(SpectralMask::Shape::stroke(points, 0.2, 0.05, SpectralScale::log));
        layer.draw(p, mask, m, all, all);
    }
    EXPECT_EQ(layer.rebuilds(), 1u);
    EXPECT_EQ(layer.appends(), 5u);
    // The same mask again: nothing redrawn. A new scale: rebuilt.
    layer.draw(p, mask, m, all, all);
    EXPECT_EQ(layer.rebuilds() + layer.appends(), 6u);
    layer.draw(p, mask, mapping(SpectralScale::linear), all, all);
    EXPECT_EQ(layer.rebuilds(), 2u);
    // A changed earlier region (undo of a dab, say) rebuilds too.
    mask.regions.front() = add(SpectralMask::Shape::rectangle({1, 3}, {100, 1000}));
    layer.draw(p, mask, mapping(SpectralScale::linear), all, all);
    EXPECT_EQ(layer.rebuilds(), 3u);
    p.end();
    // The cached picture is the full one.
    EXPECT_GE(agreement(mask, mapping(SpectralScale::linear)), 0.95);
}

TEST(SpectralMaskLayer, CompositesAtFortyTwoPercent) {
    SpectralMask mask;
    mask.regions.push_back(add(SpectralMask::Shape::rectangle({1, 9}, {100, 20000})));
    QImage canvas(kW, kH, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::black);
    QPainter p(&canvas);
    O::draw(mask, p, mapping(SpectralScale::linear), QRect(0, 0, kW, kH));
    p.end();
    const QColor got = canvas.pixelColor(200, 100);
    const QColor accent = Palette::accent();
    EXPECT_NEAR(got.red(), accent.red() * 0.42, 2.0);
    EXPECT_NEAR(got.green(), accent.green() * 0.42, 2.0);
    EXPECT_NEAR(got.blue(), accent.blue() * 0.42, 2.0);
}

}  // namespace
}  // namespace tessoral
