// The diagnostics panel's findings list after a scan: 5,000 findings (the most a scan reports)
// handed to the list model of a shown list view, offscreen: one model reset and the view's
// relayout. Peer: the same 5,000 position texts as a QStringListModel in an identical view.
// Each figure is the median of the iterations in milliseconds (counter median_ms).
#include <benchmark/benchmark.h>

#include <QListView>
#include <QStringListModel>

#include <algorithm>
#include <chrono>
#include <vector>

#include "model/Track.h"
#include "panels/DiagnosticsPanel.h"
#include "BenchViews.h"

using namespace tessoral;

namespace {

std::vector<DiagnosticFinding> findings(int n, int seed) {
    std::vector<DiagnosticFinding> out(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        DiagnosticFinding& f = out[static_cast<std::size_t>(i)];
        f.range = {static_cast<std::int64_t>(i) * 4000 + seed, static_cast<std::int64_t>(i) * 4000 + seed + 64};
        f.severity = (i % 100) / 100.0;
    }
    return out;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

int count() { return qEnvironmentVariableIsSet("TESSORAL_BENCH_SMOKE") ? 50 : 5000; }

void BM_FindingsModelReset(benchmark::State& state) {
    bench::application();
    QListView view;
    auto* model = new panels::FindingsModel(&view);
    view.setModel(model);
    view.setItemDelegate(new panels::FindingDelegate(&view));
    view.setUniformItemSizes(true);
    view.setSelectionMode(QAbstractItemView::ExtendedSelection);
    view.resize(260, 400);
    view.show();
    const auto a = findings(count(), 0), b = findings(count(), 1);
    std::vector<double> times;
    bool flip = false;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        model->setFindings(flip ? a : b);
        QApplication::processEvents();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        flip = !flip;
    }
    state.counters["median_ms"] = median(times);
}
BENCHMARK(BM_FindingsModelReset)->Unit(benchmark::kMillisecond)->Iterations(40);

void BM_FindingsPeerStringListReset(benchmark::State& state) {
    bench::application();
    QListView view;
    auto* model = new QStringListModel(&view);
    view.setModel(model);
    view.setUniformItemSizes(true);
    view.setSelectionMode(QAbstractItemView::ExtendedSelection);
    view.resize(260, 400);
    view.show();
    QStringList a, b;
    for (const auto& f : findings(count(), 0)) a << QString::fromStdString(timeLabel(f.range.lower / 48000.0));
    for (const auto& f : findings(count(), 1)) b << QString::fromStdString(timeLabel(f.range.lower / 48000.0));
    std::vector<double> times;
    bool flip = false;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        model->setStringList(flip ? a : b);
        QApplication::processEvents();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        flip = !flip;
    }
    state.counters["median_ms"] = median(times);
}
BENCHMARK(BM_FindingsPeerStringListReset)->Unit(benchmark::kMillisecond)->Iterations(40);

}  // namespace
