// Timeline drawing and editing steps on the multitrack page, offscreen at 1600 × 900, over a seeded
// project of 256 clips on 32 rows (8 clips a row, 12 s each, sharing one noise recording):
// - repaint of the visible lanes at zooms 1, 8 and 32 with peak waveforms, and with the spectral
//   view once every spectrogram is rendered (warm);
//   peer: the same visible peaks drawn the literal way, one antialiased translucent path a clip;
// - a drag step: one pointer move of a clip drag (the store's dragTrack) and the repaint it causes;
// - a zoom step: setZoom, the page's relayout and the repaint.
// Each figure is the median of the iterations in milliseconds (counter median_ms).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QScrollBar>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <vector>

#include "BenchSupport.h"
#include "BenchViews.h"
#include "model/Defaults.h"
#include "model/Session.h"
#include "store/StudioStore.h"
#include "store/TransportSignals.h"
#include "timeline/LanesWidget.h"
#include "timeline/MultitrackTimeline.h"
#include "timeline/TimelineGeometry.h"
#include "transport/ManualScheduler.h"
#include "transport/NullAudioBackend.h"
#include "widgets/Palette.h"

using namespace tessoral;
using bench::application;
using bench::NoPrompts;
using bench::NoShell;

namespace {


Session project() {
    const int rows = bench::smoke() ? 2 : 32;
    const int perRow = bench::smoke() ? 2 : 8;
    const double seconds = bench::smoke() ? 1.0 : 12.0;
    const auto frames = static_cast<std::int64_t>(seconds * 48000);
    std::vector<float> l(static_cast<std::size_t>(frames)), r(l.size());
    SplitMix64 rng(2100);
    for (std::size_t i = 0; i < l.size(); ++i) {
        // Noise under a slow swell, so the peaks vary along the clip.
        const double swell = 0.3 + 0.6 * std::abs(std::sin(double(i) / 48000.0 * 1.7));
        l[i] = static_cast<float>(swell * rng.uniform());
        r[i] = static_cast<float>(swell * rng.uniform());
    }
    const Track recording = Track::make("Дубль", AudioData(std::move(l), std::move(r)));
    Session s;
    for (int row = 0; row < rows; ++row) {
        Lane lane;
        lane.name = "Дорожка " + std::to_string(row + 1);
        lane.color = row % 8;
        s.lanes.push_back(lane);
        for (int k = 0; k < perRow; ++k) {
            Track clip = recording;  // shares the samples and the drawing caches
            clip.id = Uuid::random();
            clip.revision = Uuid::random();
            clip.name = "Клип " + std::to_string(row * perRow + k + 1);
            clip.start = k * (seconds + 0.5) + 0.25 * (row % 4);
            clip.color = lane.color;
            clip.laneID = lane.id;
            clip.fadeIn = 0.5;
            clip.fadeOut = 1.0;
            s.tracks.push_back(std::move(clip));
        }
    }
    return s;
}

// The multitrack page over a store with manual services, shown offscreen at 1600 × 900.
struct PageRig {
    ManualScheduler scheduler;
    ManualTaskRunner tasks;
    MemoryDefaults defaults;
    NoPrompts prompts;
    NoShell shell;
    NullAudioBackend backend{NullAudioBackend::Mode::manual};
    std::unique_ptr<StudioStore> store;
    std::unique_ptr<TransportSignals> signals;
    std::unique_ptr<MultitrackTimeline> page;

    explicit PageRig(bool spectral = false) {
        application();
        StoreServices s{&scheduler, &tasks, &defaults, &prompts, &shell, &backend, std::nullopt};
        store = std::make_unique<StudioStore>(s);
        signals = std::make_unique<TransportSignals>(store->transport());
        store->setSession(project());
        store->setSpectralView(spectral);
        page = std::make_unique<MultitrackTimeline>(*store, signals.get());
        page->resize(1600, 900);
        page->show();
        settle();
    }
    ~PageRig() {
        page.reset();
        signals.reset();
        store.reset();
    }
    void settle() {
        for (int i = 0; i < 10000; ++i) {
            QApplication::processEvents();
            if (scheduler.runPosted() == 0 && tasks.runAll() == 0) break;
        }
        QApplication::processEvents();
    }
    LanesWidget& lanes() { return *page->lanes(); }
    // The lanes' part inside the timeline's viewport.
    QRect visible() { return lanes().visibleRegion().boundingRect(); }
    // Scrolls the timeline to the middle of its width, a few rows down.
    void centre() {
        QScrollBar* h = page->timelineArea()->horizontalScrollBar();
        h->setValue(h->maximum() / 2);
        page->timelineArea()->verticalScrollBar()->setValue(4 * 134);
        settle();
    }
};

double milliseconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void report(benchmark::State& state, std::vector<double>& times) {
    if (times.empty()) return;
    std::nth_element(times.begin(), times.begin() + long(times.size() / 2), times.end());
    state.counters["median_ms"] = times[times.size() / 2];
}

void BM_TimelineRepaint(benchmark::State& state) {
    const bool spectral = state.range(1) != 0;
    PageRig rig(spectral);
    rig.store->setZoom(double(state.range(0)));
    rig.settle();
    rig.centre();
    const QRect area = rig.visible();
    rig.lanes().repaint(area);  // warm: spectrogram pixmaps at body size
    std::vector<double> times;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        rig.lanes().repaint(area);
        times.push_back(milliseconds(std::chrono::steady_clock::now() - t0));
    }
    state.counters["clips_visible"] = double(std::count_if(
        rig.lanes().snapshot().clips.begin(), rig.lanes().snapshot().clips.end(),
        [&](const ClipItem& c) { return c.frame.intersects(QRectF(area)); }));
    report(state, times);
}
BENCHMARK(BM_TimelineRepaint)
    ->ArgNames({"zoom", "spectral"})
    ->Args({1, 0})
    ->Args({8, 0})
    ->Args({32, 0})
    ->Args({1, 1})
    ->Args({8, 1})
    ->Args({32, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(bench::smoke() ? 1 : 40);

// Peer: the visible clips' peaks as one antialiased translucent stroked path each, into an image
// of the same size.
void BM_TimelineRepaintStrokedPathPeer(benchmark::State& state) {
    PageRig rig(false);
    rig.store->setZoom(double(state.range(0)));
    rig.settle();
    rig.centre();
    const QRect area = rig.visible();
    const LanesSnapshot& s = rig.lanes().snapshot();
    QImage image(area.size(), QImage::Format_ARGB32_Premultiplied);
    std::vector<double> times;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        QPainter p(&image);
        p.translate(-area.topLeft());
        p.fillRect(area, Palette::background());
        p.setRenderHint(QPainter::Antialiasing, true);
        for (const auto& item : s.clips) {
            if (!item.frame.intersects(QRectF(area))) continue;
            const Track& clip = s.clip(item);
            const double w = item.frame.width();
            const double h = item.frame.height();
            const double cy = item.frame.y() + 0.5 * h + 6.0;
            const long long n = static_cast<long long>(std::clamp(std::trunc(w * 0.5), 1.0, 9000.0));
            const long long P = static_cast<long long>(clip.peaks.size());
            QPainterPath path;
            for (long long i = 0; i < n && P > 0; ++i) {
                const long long lo = i * P / n;
                const long long hi = std::min(P, std::max(lo + 1, (i + 1) * P / n));
                float peak = 0.0f;
                for (long long k = lo; k < hi; ++k) peak = std::max(peak, clip.peaks[std::size_t(k)]);
                const double half = std::max((h - 45.0) * std::min(double(peak), 1.0) * 0.5, 0.6);
                const double x = item.frame.x() + double(i) / double(n) * w;
                path.moveTo(x, cy - half);
                path.lineTo(x, cy + half);
            }
            QColor col = item.color;
            col.setAlphaF(0.9f);
            p.strokePath(path, QPen(col, 1.2));
        }
        p.end();
        times.push_back(milliseconds(std::chrono::steady_clock::now() - t0));
    }
    report(state, times);
}
BENCHMARK(BM_TimelineRepaintStrokedPathPeer)
    ->ArgName("zoom")
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(bench::smoke() ? 1 : 10);

void BM_TimelineDragStep(benchmark::State& state) {
    PageRig rig(false);
    rig.settle();
    LanesWidget& lanes = rig.lanes();
    // A clip on the second row, grabbed in its middle.
    const ClipItem& item = lanes.snapshot().clips.at(lanes.snapshot().clips.size() > 9 ? 9 : 0);
    const QPointF start = item.frame.center();
    const QRect area = rig.visible();
    auto send = [&](QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons buttons) {
        QMouseEvent e(type, at, lanes.mapToGlobal(at), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(&lanes, &e);
    };
    send(QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, start + QPointF(10, 0), Qt::NoButton, Qt::LeftButton);
    std::vector<double> times;
    int step = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        const double dx = 20.0 + 15.0 * double(step++ % 8);
        send(QEvent::MouseMove, start + QPointF(dx, 0), Qt::NoButton, Qt::LeftButton);
        lanes.repaint(area);
        times.push_back(milliseconds(std::chrono::steady_clock::now() - t0));
    }
    send(QEvent::MouseButtonRelease, start, Qt::LeftButton, Qt::NoButton);
    if (!rig.store->trackDragActive() && rig.store->undoNames().empty()) state.SkipWithError("the drag did not run");
    report(state, times);
}
BENCHMARK(BM_TimelineDragStep)->Unit(benchmark::kMillisecond)->Iterations(bench::smoke() ? 1 : 40);

void BM_TimelineZoomStep(benchmark::State& state) {
    PageRig rig(false);
    rig.store->setZoom(2.0);
    rig.settle();
    std::vector<double> times;
    int step = 0;
    for (auto _ : state) {
        const double zoom = (step++ % 2) ? 2.0 : 2.5;
        const auto t0 = std::chrono::steady_clock::now();
        rig.store->setZoom(zoom, std::nullopt, 0.35);
        rig.lanes().repaint(rig.visible());
        times.push_back(milliseconds(std::chrono::steady_clock::now() - t0));
    }
    report(state, times);
}
BENCHMARK(BM_TimelineZoomStep)->Unit(benchmark::kMillisecond)->Iterations(bench::smoke() ? 1 : 40);

}  // namespace
