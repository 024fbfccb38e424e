// The spectral mask overlay over one clip body of 1600 × 116 points:
// - warm: 20 brush strokes of 500 points, drawn in the displayed scale, repainted from the layer;
// - append: the same mask while its last stroke grows by one point a step (the finished
//   regions' layer kept, the growing stroke drawn over a copy);
// - cross-scale: 255 strokes of 4096 points drawn in the linear scale and shown in the log scale,
//   from cold (every stroke outlined point by point);
// peer: the repair's own rasteriser (SpectralMask::rasterize) over the same 20 strokes at the
// body's pixel centres.
// Figures in milliseconds a step.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <cmath>
#include <vector>

#include "BenchSupport.h"
#include "processing/SpectralMask.h"
#include "timeline/SpectralMaskOverlay.h"

using namespace tessoral;

namespace {

void ensureApplication() {
    if (QCoreApplication::instance()) return;
    static int argc = 1;
    static char name[] = "tessoral_bench";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(argc, argv);  // lives for the process
}

constexpr int kWidth = 1600;
constexpr int kHeight = 116;
const SpectralMaskOverlay::Mapping kMapping{0.0, 60.0, double(kWidth), 0.0, double(kHeight), SpectralScale::log};

// A pointer drag: `points` steps of about 2 points in time, wandering in frequency.
SpectralMask::Shape stroke(int index, int points, SpectralScale scale, double radiusPoints) {
    std::vector<SpectralPoint> path;
    path.reserve(std::size_t(points));
    const double secondsPerPoint = kMapping.duration / kMapping.width;
    for (int i = 0; i < points; ++i) {
        // Back and forth across the body, two points a step.
        const double x = std::fmod(index * 37.0 + i * 2.0, 2.0 * kWidth);
        const double t = (x < kWidth ? x : 2.0 * kWidth - x) * secondsPerPoint;
        const double p = 0.5 + 0.35 * std::sin(index * 0.7 + i * 0.013);
        path.push_back({t, SpectralMaskOverlay::frequency(p, scale)});
    }
    return SpectralMask::Shape::stroke(std::move(path), radiusPoints * secondsPerPoint, radiusPoints / kHeight, scale);
}

SpectralMask mask(int strokes, int points, SpectralScale scale) {
    SpectralMask m;
    for (int i = 0; i < strokes; ++i) m.regions.push_back({stroke(i, points, scale, 12.0), i % 5 == 4});
    return m;
}

const QRect kBody(0, 0, kWidth, kHeight);

void BM_MaskOverlayWarm(benchmark::State& state) {
    ensureApplication();
    const SpectralMask m = mask(20, bench::smoke() ? 20 : 500, SpectralScale::log);
    QImage canvas(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&canvas);
    SpectralMaskLayer layer;
    layer.draw(p, m, kMapping, kBody, kBody);
    for (auto _ : state) layer.draw(p, m, kMapping, kBody, kBody);
}
BENCHMARK(BM_MaskOverlayWarm)->Unit(benchmark::kMillisecond);

void BM_MaskOverlayAppend(benchmark::State& state) {
    ensureApplication();
    SpectralMask m = mask(20, bench::smoke() ? 20 : 500, SpectralScale::log);
    QImage canvas(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&canvas);
    SpectralMaskLayer layer;
    layer.draw(p, m, kMapping, kBody, kBody);
    auto& last = std::get<SpectralMask::Stroke>(m.regions.back().shape.value);
    for (auto _ : state) {
        SpectralPoint next = last.points.back();
        next.time = std::fmod(next.time + 0.05, kMapping.duration);
        last.points.push_back(next);
        layer.draw(p, m, kMapping, kBody, kBody);
    }
}
BENCHMARK(BM_MaskOverlayAppend)->Unit(benchmark::kMillisecond);

void BM_MaskOverlayCrossScale(benchmark::State& state) {
    ensureApplication();
    const SpectralMask m = bench::smoke() ? mask(3, 50, SpectralScale::linear) : mask(255, 4096, SpectralScale::linear);
    QImage canvas(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&canvas);
    for (auto _ : state) {
        SpectralMaskLayer layer;  // cold
        layer.draw(p, m, kMapping, kBody, kBody);
    }
}
BENCHMARK(BM_MaskOverlayCrossScale)->Unit(benchmark::kMillisecond)->Iterations(bench::smoke() ? 1 : 3);

void BM_MaskRasterizePeer(benchmark::State& state) {
    const SpectralMask m = mask(20, bench::smoke() ? 20 : 500, SpectralScale::log);
    std::vector<double> times, bins;
    for (int x = 0; x < kWidth; ++x) times.push_back((x + 0.5) * kMapping.duration / kMapping.width);
    for (int y = kHeight - 1; y >= 0; --y)
        bins.push_back(SpectralMaskOverlay::frequency((kHeight - (y + 0.5)) / kHeight, SpectralScale::log));
    for (auto _ : state) benchmark::DoNotOptimize(m.rasterize(times, bins));
}
BENCHMARK(BM_MaskRasterizePeer)->Unit(benchmark::kMillisecond);

}  // namespace
