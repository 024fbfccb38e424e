// The workspace browser's answer to a project change, shown offscreen on its markers page: adding a
// marker, and an edit that leaves the markers alone (a clip's gain), with 10 and with 200 markers.
// The figure at 10 markers is the peer of the one at 200: an edit's cost must not grow with the
// marker count. Each figure is the median of the iterations in milliseconds (counter median_ms).
// The file sorts after the timeline benchmarks, whose application object must come first.
#include <benchmark/benchmark.h>

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include "model/Session.h"
#include "panels/WorkspaceBrowser.h"
#include "store/StudioStore.h"
#include "transport/ManualScheduler.h"
#include "transport/NullAudioBackend.h"

using namespace tessoral;

namespace {

QApplication& app() {
    if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) return *existing;
    static int argc = 1;
    static char name[] = "tessoral_bench";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return *new QApplication(argc, argv);  // lives for the process
}

class NoPrompts final : public Prompts {
public:
    std::optional<int> alert(const AlertRequest&) override { return std::nullopt; }
    std::vector<std::filesystem::path> chooseFilesToOpen(const OpenRequest&) override { return {}; }
    std::optional<std::filesystem::path> chooseSaveFile(const SaveRequest&) override { return std::nullopt; }
    std::optional<std::filesystem::path> chooseFolder(const FolderRequest&) override { return std::nullopt; }
};
class NoShell final : public Shell {
public:
    void reveal(const std::vector<std::filesystem::path>&, std::function<void()>) override {}
    bool openURL(const std::string&) override { return true; }
    void noteRecentDocument(const std::filesystem::path&) override {}
};

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
        app();
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
