// The equaliser curve's drag step, offscreen, through the widget's own paint routine: the graphic
// equaliser with all ten bands at +6 dB, one pointer move (the cleaned dictionary, the response and
// the repaint) at the effect editor's 532 × 230 (266 response points) and at 1024 × 230 (512).
// Peer in the same run: the same step painting the grid afresh each time instead of from its
// cached pixmap. Also the response alone at 512 points. Figures: median of the iterations in ms
// (counter median_ms).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <vector>

#include "BenchSupport.h"
#include "model/EffectParameters.h"
#include "panels/EQCurve.h"
#include "processing/EQResponse.h"
#include "widgets/Palette.h"

using namespace tessoral;

namespace {

void ensureApplication() {
    if (QApplication::instance()) return;
    static int argc = 1;
    static char name[] = "tessoral_bench";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    auto* app = new QApplication(argc, argv);  // lives for the process
    Palette::applyTheme(*app);
}

EffectParams tenBandsUp() {
    EffectParams p;
    for (int i = 0; i < 10; ++i) p["g" + std::to_string(i)] = 6.0;
    return p;
}

void dragStep(benchmark::State& state, bool cachedGrid) {
    ensureApplication();
    const int w = static_cast<int>(state.range(0));
    const int h = 230;
    const EffectParams params = tenBandsUp();
    EQCurveView view(EffectPreset::graphicEQ, params, [] {}, [](const EffectParams&) {});
    view.resize(w, h);
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    const auto nodes = EQCurve::nodes(EffectPreset::graphicEQ, params);
    const EQCurve::Node node = nodes[4];
    const auto origin = EQCurve::origin(EffectPreset::graphicEQ, node, params);
    {
        QPainter warm(&image);
        view.render(warm);  // the grid's pixmap is made once
    }
    std::vector<double> times;
    int step = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const EffectParams draft =
            EQCurve::dragStep(EffectPreset::graphicEQ, params, node, origin, 0, -double(step++ % 40), false, w, h);
        view.setParams(draft);
        image.fill(Qt::transparent);
        QPainter p(&image);
        if (!cachedGrid) EQCurveView::paintGrid(p, w, h);
        view.render(p);
        p.end();
        benchmark::DoNotOptimize(image.constBits());
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    state.counters["median_ms"] = times[times.size() / 2];
    state.counters["points"] = std::max(w / 2, 64);
}

void BM_EQCurveDragStep(benchmark::State& state) { dragStep(state, true); }
// Peer: the grid's 17 antialiased lines and labels drawn at every step, as without the cache.
void BM_EQCurveDragStep_UncachedGridPeer(benchmark::State& state) { dragStep(state, false); }

void BM_EQResponse512(benchmark::State& state) {
    const EffectParams params = tenBandsUp();
    const std::vector<double> freqs = EQResponse::logFrequencies(512);
    std::vector<double> times;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        auto db = EQResponse::magnitudeDB(EffectPreset::graphicEQ, params, freqs);
        benchmark::DoNotOptimize(db.data());
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    state.counters["median_ms"] = times[times.size() / 2];
}

}  // namespace

BENCHMARK(BM_EQCurveDragStep)->Arg(532)->Arg(1024)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EQCurveDragStep_UncachedGridPeer)->Arg(532)->Arg(1024)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EQResponse512)->Unit(benchmark::kMicrosecond);
