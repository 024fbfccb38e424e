// The workspace browser's answer to a project change, shown offscreen on its markers page: adding a
// marker, and an edit that leaves the markers alone (a clip's gain), with 10 and with 200 markers.
// The figure at 10 markers is the peer of the one at 200: an edit's cost must not grow with the
// marker count. Each figure is the median of the iterations in milliseconds (counter median_ms).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include "model/Session.h"
#include "panels/WorkspaceBrowser.h"
#include "store/StudioStore.h"
#include "transport/ManualScheduler.h"
#include "transport/NullAudioBackend.h"
#include "BenchViews.h"

using namespace tessoral;
using bench::NoPrompts;
using bench::NoShell;

namespace {


struct BrowserRig {
    ManualScheduler scheduler;
    ManualTaskRunner tasks;
    MemoryDefaults defaults;
    NoPrompts prompts;
    NoShell shell;
    NullAudioBackend backend{NullAudioBackend::Mode::manual};
    std::unique_ptr<StudioStore> store;
    std::unique_ptr<WorkspaceBrowser> browser;

    explicit BrowserRig(int markers) {
        bench::application();
        StoreServices s{&scheduler, &tasks, &defaults, &prompts, &shell, &backend, std::nullopt};
        store = std::make_unique<StudioStore>(s);
        Session project;
        project.appendOnNewLane(Track::make("Клип", AudioData::silence(48'000 * 400)));
        for (int i = 0; i < markers; ++i) {
            SessionMarker m;
            m.name = "Маркер " + std::to_string(i + 1);
            m.start = 1.0 + i;
            project.markers.push_back(m);
        }
        store->setSession(std::move(project));
        browser = std::make_unique<WorkspaceBrowser>(*store, nullptr);
        browser->setTab(1);
        browser->resize(260, 700);
        browser->show();
        settle();
    }
    ~BrowserRig() {
        browser.reset();
        store.reset();
    }
    void settle() {
        for (int i = 0; i < 100; ++i) QApplication::processEvents();
    }
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

template <class Step, class Undo>
void timeSteps(benchmark::State& state, BrowserRig& rig, Step step, Undo undo) {
    std::vector<double> times;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        step();
        rig.settle();
        const auto t1 = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        state.PauseTiming();
        undo();
        rig.settle();
        state.ResumeTiming();
    }
    state.counters["median_ms"] = median(times);
}

void BM_BrowserAddMarker(benchmark::State& state) {
    BrowserRig rig(static_cast<int>(state.range(0)));
    rig.store->setCursor(0.5);  // before every other marker: every row below moves down
    timeSteps(state, rig, [&] { rig.store->addMarker(); }, [&] { rig.store->undo(); });
}
BENCHMARK(BM_BrowserAddMarker)->Arg(10)->Arg(200)->Unit(benchmark::kMillisecond)->Iterations(30);

void BM_BrowserClipGainEdit(benchmark::State& state) {
    BrowserRig rig(static_cast<int>(state.range(0)));
    const Uuid clip = rig.store->session().tracks[0].id;
    timeSteps(state, rig, [&] { rig.store->changeTrack(clip, "Громкость", [](Track& t) { t.gainDB -= 1.0; }); },
              [&] { rig.store->undo(); });
}
BENCHMARK(BM_BrowserClipGainEdit)->Arg(10)->Arg(200)->Unit(benchmark::kMillisecond)->Iterations(30);

}  // namespace
