// The main-thread part of a clip refresh (the step that ends every command replacing a clip's
// audio) on an 8-minute clip of 23,040,000 frames: the worker has already computed the peaks and
// both drawing envelopes with the new audio, so the main thread takes the undo step, assigns and
// publishes. Target: under 1 ms. The peer is the same refresh with the drawing caches computed on
// the main thread (Track::replaceAudio), which is what the worker spares it.
#include <benchmark/benchmark.h>

#include <memory>
#include <optional>

#include "BenchSupport.h"
#include "BenchServices.h"
#include "model/Defaults.h"
#include "model/Session.h"
#include "store/StudioStore.h"
#include "transport/ManualScheduler.h"
#include "transport/NullAudioBackend.h"

using namespace tessoral;

namespace {

using QuietPrompts = bench::NoPrompts;
using QuietShell = bench::NoShell;

// A store over manual services holding one clip of bench::frames() frames, selected.
struct RefreshRig {
    ManualScheduler scheduler;
    ManualTaskRunner tasks;
    MemoryDefaults defaults;
    QuietPrompts prompts;
    QuietShell shell;
    NullAudioBackend backend{NullAudioBackend::Mode::manual};
    std::unique_ptr<StudioStore> store;

    RefreshRig() {
        StoreServices s{&scheduler, &tasks, &defaults, &prompts, &shell, &backend, std::nullopt};
        store = std::make_unique<StudioStore>(s);
        Session project;
        project.appendOnNewLane(Track::make("Запись", material(1)));
        store->setSession(project);
        store->setSelectedID(store->session().tracks.front().id);
    }

    static AudioData material(std::uint64_t seed) {
        return bench::synthesize(seed, [](std::size_t, SplitMix64& rng) {
            return std::pair<double, double>{0.15 * rng.uniform(), 0.15 * rng.uniform()};
        });
    }
};

void BM_ClipRefreshMainThread(benchmark::State& state) {
    RefreshRig rig;
    // What the worker hands back: the new audio with its caches.
    const StudioStore::RefreshedAudio prepared = StudioStore::RefreshedAudio::of(RefreshRig::material(2));
    for (auto _ : state) {
        rig.store->refreshClip(0, "Реверс", prepared);
        benchmark::DoNotOptimize(rig.store->session().tracks.front().revision);
    }
    state.counters["frames"] = static_cast<double>(prepared.audio.frames());
    state.counters["undo_steps"] = static_cast<double>(rig.store->undoNames().size());
}
BENCHMARK(BM_ClipRefreshMainThread)->Unit(benchmark::kMicrosecond);

// Peer: the caches computed on the main thread as part of the same step.
void BM_ClipRefreshMainThreadCachesPeer(benchmark::State& state) {
    RefreshRig rig;
    const AudioData audio = RefreshRig::material(2);
    for (auto _ : state) {
        rig.store->checkpoint("Реверс");
        Session changed = rig.store->session();
        Track& clip = changed.tracks.front();
        clip.headHandle.reset();
        clip.tailHandle.reset();
        clip.handleEnvelopes.reset();
        clip.replaceAudio(audio);
        rig.store->setSession(std::move(changed));
        benchmark::DoNotOptimize(rig.store->session().tracks.front().revision);
    }
    state.counters["frames"] = static_cast<double>(audio.frames());
}
BENCHMARK(BM_ClipRefreshMainThreadCachesPeer)->Unit(benchmark::kMicrosecond);

}  // namespace
