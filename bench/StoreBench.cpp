// The store's undo snapshots and play start.
//
// - Checkpoint of a 256-clip project: time and bytes allocated per checkpoint (counted by this
//   binary's operator new on the benchmark's thread); the peer is the deep copy of the same samples
//   that a snapshot without shared storage would make.
// - Twelve checkpoints (each with a one-clip change) of a 300 MiB project: growth of the resident
//   set, against the 300 MiB one deep copy would add.
// - Play start: playPause() to a playing transport (whole-range mixdown through the racks, peak
//   scan, Null backend start), median of repetitions. Three 3-minute clips beside sox mixing the
//   same three files; and the worst case inside the limits (32 rows, 384 MiB of clips, each with an
//   8-slot rack) with the rack cache cold and warm, beside the cold mix with the racks rendered
//   one after another. One 8-minute clip with that rack (over the cache's per-clip limit, rendered
//   on every Play) beside its rack rendered on one thread, with the peak of the resident set.
//   The same for one 8-minute clip of pink noise and a sine with a vocal rack (graphic EQ,
//   compressor, de-esser, limiter, large-hall reverb). Each repetition maps its render buffers
//   afresh (a Play frees them when it stops), so the first Play after opening costs what a later
//   one does; scripts/play-latency.py times the same clip in the real program, Space to the first
//   sound at a PulseAudio sink, over fresh starts (`tessoral_bench --write-vocal-project=FILE`
//   writes it as a project).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "BenchServices.h"
#include "model/Defaults.h"
#include "model/Limits.h"
#include "model/ProjectIO.h"
#include "model/Session.h"
#include "processing/RackRenderer.h"
#include "store/StudioStore.h"
#include "transport/ManualScheduler.h"
#include "transport/NullAudioBackend.h"

// ---- allocation counting on the thread that asks for it ----

namespace {
thread_local bool countAllocations = false;
thread_local std::int64_t allocatedBytes = 0;

void* allocate(std::size_t size) {
    if (countAllocations) allocatedBytes += static_cast<std::int64_t>(size);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

using namespace tessoral;

namespace {

using SilentPrompts = bench::NoPrompts;
using SilentShell = bench::NoShell;

// A store over manual services (work runs on the benchmark's thread), autosave off.
struct StoreRig {
    ManualScheduler scheduler;
    ManualTaskRunner tasks;
    MemoryDefaults defaults;
    SilentPrompts prompts;
    SilentShell shell;
    NullAudioBackend backend{NullAudioBackend::Mode::manual};
    std::unique_ptr<StudioStore> store;

    StoreRig() {
        StoreServices s{&scheduler, &tasks, &defaults, &prompts, &shell, &backend, std::nullopt};
        store = std::make_unique<StudioStore>(s);
    }
};

// Fixed-seed noise of `frames` frames at a moderate level.
AudioData noiseClip(std::int64_t frames, std::uint64_t seed) {
    std::vector<float> l(static_cast<std::size_t>(frames)), r(static_cast<std::size_t>(frames));
    SplitMix64 rng(seed);
    for (std::size_t i = 0; i < l.size(); ++i) {
        l[i] = static_cast<float>(0.2 * rng.uniform());
        r[i] = static_cast<float>(0.2 * rng.uniform());
    }
    return AudioData(std::move(l), std::move(r));
}

// `count` clips of `frames` frames each, one per row (rows repeat after 32), all starting at 0.
Session project(int count, std::int64_t frames, std::uint64_t seed) {
    Session s;
    for (int i = 0; i < count; ++i) {
        Track clip = Track::make("Клип " + std::to_string(i), noiseClip(frames, seed + static_cast<std::uint64_t>(i)));
        clip.color = i % limits::kPaletteSize;
        if (i < limits::kMaxLanes) {
            s.appendOnNewLane(std::move(clip));
        } else {
            clip.laneID = s.lanes[static_cast<std::size_t>(i % limits::kMaxLanes)].id;
            s.tracks.push_back(std::move(clip));
        }
    }
    return s;
}

std::int64_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    long long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * static_cast<std::int64_t>(::sysconf(_SC_PAGESIZE));
}

// ---- checkpoints ----

const Session& project256() {
    static const Session s = project(256, bench::smoke() ? 480 : 24'000, 100);
    return s;
}

void BM_StoreCheckpoint256Clips(benchmark::State& state) {
    StoreRig rig;
    rig.store->setSession(project256());
    for (int i = 0; i < 12; ++i) rig.store->checkpoint("Шаг");  // the history at its full length
    std::int64_t bytes = 0;
    for (auto _ : state) {
        countAllocations = true;
        const std::int64_t before = allocatedBytes;
        rig.store->checkpoint("Шаг");
        bytes += allocatedBytes - before;
        countAllocations = false;
    }
    state.counters["bytes_per_checkpoint"] =
        benchmark::Counter(static_cast<double>(bytes) / static_cast<double>(state.iterations()));
    state.counters["undo_steps"] = static_cast<double>(rig.store->undoNames().size());
}
BENCHMARK(BM_StoreCheckpoint256Clips)->Unit(benchmark::kMicrosecond);

// Peer: the same snapshot with every sample copied.
void BM_StoreCheckpoint256ClipsDeepCopyPeer(benchmark::State& state) {
    const Session& s = project256();
    for (auto _ : state) {
        std::vector<std::vector<float>> copies;
        copies.reserve(s.tracks.size() * 2);
        for (const Track& t : s.tracks) {
            copies.emplace_back(t.audio.left.begin(), t.audio.left.end());
            copies.emplace_back(t.audio.right.begin(), t.audio.right.end());
        }
        benchmark::DoNotOptimize(copies.data());
    }
    state.counters["bytes_per_checkpoint"] = static_cast<double>(s.bytes());
}
BENCHMARK(BM_StoreCheckpoint256ClipsDeepCopyPeer)->Unit(benchmark::kMicrosecond);

void BM_StoreTwelveCheckpoints300MiB(benchmark::State& state) {
    // 300 MiB in 32 clips of 1,228,800 frames (25.6 s).
    const std::int64_t frames = bench::smoke() ? 4800 : 1'228'800;
    StoreRig rig;
    rig.store->setSession(project(32, frames, 200));
    double growth = 0;
    for (auto _ : state) {
        const std::int64_t before = residentBytes();
        for (int i = 0; i < 12; ++i) {
            const Uuid id = rig.store->session().tracks[static_cast<std::size_t>(i)].id;
            rig.store->changeTrack(id, "Громкость клипа", [](Track& t) { t.gainDB -= 1.0; });
        }
        growth = static_cast<double>(residentBytes() - before);
    }
    state.counters["rss_growth_MB"] = growth / 1.0e6;
    state.counters["deep_copy_MB_per_step"] = static_cast<double>(rig.store->session().bytes()) / 1.0e6;
    state.counters["undo_steps"] = static_cast<double>(rig.store->undoNames().size());
}
BENCHMARK(BM_StoreTwelveCheckpoints300MiB)->Unit(benchmark::kMillisecond)->Iterations(1);

// ---- play start ----

// Starts playback and waits for the render on this thread; the stop is not timed.
bool startAndStop(StoreRig& rig, benchmark::State* state) {
    rig.store->setCursor(0.0);
    rig.store->playPause();
    rig.tasks.runAll();
    const bool started = rig.store->transport().playing();
    if (state) state->PauseTiming();
    rig.store->stop();
    if (state) state->ResumeTiming();
    return started;
}

void playOnce(benchmark::State& state, StoreRig& rig) {
    if (!startAndStop(rig, &state)) state.SkipWithError("playback did not start");
}

std::int64_t threeMinutes() { return bench::smoke() ? 48'000 : 8'640'000; }

void BM_StorePlayStartThreeClips(benchmark::State& state) {
    StoreRig rig;
    rig.store->setSession(project(3, threeMinutes(), 300));
    for (auto _ : state) playOnce(state, rig);
}
BENCHMARK(BM_StorePlayStartThreeClips)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

// Peer: sox mixing the same three clips (read, sum, discard).
void BM_StorePlayStartThreeClipsSoxPeer(benchmark::State& state) {
    static bench::ScratchDir dir("store-play");
    static const bool written = [] {
        const Session s = project(3, threeMinutes(), 300);
        for (int i = 0; i < 3; ++i) bench::writeFloatWav(dir / ("clip" + std::to_string(i) + ".wav"), s.tracks[i].audio);
        return true;
    }();
    benchmark::DoNotOptimize(written);
    bench::runPeer(state, "sox -m " + dir.quoted("clip0.wav") + " " + dir.quoted("clip1.wav") + " " +
                              dir.quoted("clip2.wav") + " -t null -");
}
BENCHMARK(BM_StorePlayStartThreeClipsSoxPeer)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

// The largest project the limits admit, every clip with a full rack.
const std::vector<EffectPreset>& worstRack() {
    static const std::vector<EffectPreset> rack{EffectPreset::lowCut,   EffectPreset::deesser,  EffectPreset::compressor,
                                                EffectPreset::warm,     EffectPreset::bright,   EffectPreset::limiter,
                                                EffectPreset::telephone, EffectPreset::invert};
    return rack;
}

Session worstProject() {
    // 32 rows × 1,572,864 frames (32.8 s) = 384 MiB of clips.
    Session s = project(32, bench::smoke() ? 4800 : limits::kMaxBytes / 8 / 32, 400);
    for (Track& t : s.tracks)
        for (const EffectPreset p : worstRack()) t.rack.push_back(EffectSlot(p));
    return s;
}

void BM_StorePlayStartWorstCaseColdRacks(benchmark::State& state) {
    StoreRig rig;
    Session s = worstProject();
    for (auto _ : state) {
        state.PauseTiming();
        for (Track& t : s.tracks) t.revision = Uuid::random();  // nothing of it is cached
        rig.store->setSession(s);
        state.ResumeTiming();
        playOnce(state, rig);
    }
}
BENCHMARK(BM_StorePlayStartWorstCaseColdRacks)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(true);

// The sequential figure: the same cold mix with the racks rendered one after another, as
// before they rendered in parallel (mix only, without the store's peak scan and start).
void BM_WorstCaseMixColdRacksSequential(benchmark::State& state) {
    Session s = worstProject();
    for (auto _ : state) {
        state.PauseTiming();
        for (Track& t : s.tracks) t.revision = Uuid::random();
        state.ResumeTiming();
        AudioData m = RackRenderer::mix(s, TimeRange{0.0, s.duration()}, RackRenderer::Cache::shared(), 1);
        benchmark::DoNotOptimize(m.left.data());
    }
}
BENCHMARK(BM_WorstCaseMixColdRacksSequential)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(true);

void BM_StorePlayStartWorstCaseWarmRacks(benchmark::State& state) {
    StoreRig rig;
    rig.store->setSession(worstProject());
    startAndStop(rig, nullptr);  // fills the cache as far as it holds
    std::int64_t cached = 0;
    for (const Track& t : rig.store->session().tracks) cached += RackRenderer::isCached(t) ? 1 : 0;
    for (auto _ : state) playOnce(state, rig);
    state.counters["clips_cached_before"] = static_cast<double>(cached);
}
BENCHMARK(BM_StorePlayStartWorstCaseWarmRacks)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(true);

// One 8-minute clip with the worst rack: over the cache's per-clip limit, so every Play renders
// it again. Beside it, the same mix with the rack rendered on one thread. Both report the peak of
// the resident set while they run, over the clip's own bytes (the resident set before them).
Session oneLongClip() {
    Session s = project(1, bench::frames(), 500);
    for (const EffectPreset p : worstRack()) s.tracks[0].rack.push_back(EffectSlot(p));
    return s;
}

// The high-water mark of the resident set, and its reset to the present size.
std::int64_t residentPeakBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atoll(line.c_str() + 6) * 1024;
    return 0;
}
void resetResidentPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

void reportPeak(benchmark::State& state, std::int64_t peakOver, std::int64_t clipBytes) {
    state.counters["peak_MB"] = static_cast<double>(peakOver) / 1e6;
    state.counters["peak_x_clip"] = static_cast<double>(peakOver) / static_cast<double>(clipBytes);
}

// Times `once` and reports the most the resident size grew over it, beside the clip's audio.
template <class Once>
void timeWithPeak(benchmark::State& state, std::int64_t clipBytes, Once once) {
    std::int64_t peakOver = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::int64_t before = residentBytes();
        resetResidentPeak();
        state.ResumeTiming();
        once();
        peakOver = std::max(peakOver, residentPeakBytes() - before);
    }
    reportPeak(state, peakOver, clipBytes);
}

void startPlayingOnce(benchmark::State& state, Session session) {
    StoreRig rig;
    rig.store->setSession(std::move(session));
    timeWithPeak(state, rig.store->session().tracks[0].audio.bytes(), [&] { playOnce(state, rig); });
}

void BM_StorePlayStartOneLongClipWorstRack(benchmark::State& state) { startPlayingOnce(state, oneLongClip()); }
BENCHMARK(BM_StorePlayStartOneLongClipWorstRack)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(true);

// The sequential figure: the same mix with the rack rendered on one thread, as before a clip's
// rack rendered on several.
void renderOnOneThread(benchmark::State& state, const Session& s) {
    timeWithPeak(state, s.tracks[0].audio.bytes(), [&] {
        AudioData m = RackRenderer::mix(s, TimeRange{0.0, s.duration()}, RackRenderer::Cache::shared(), 1);
        benchmark::DoNotOptimize(m.left.data());
    });
}

void BM_OneLongClipWorstRackSequential(benchmark::State& state) { renderOnOneThread(state, oneLongClip()); }
BENCHMARK(BM_OneLongClipWorstRackSequential)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(true);

// One 8-minute clip of pink noise and a 220 Hz sine with an ordinary vocal rack: a graphic EQ
// (lows cut, presence raised), a compressor, a de-esser, a limiter and a large-hall reverb.
Session oneLongVocalClip() {
    Session s;
    // Pink noise by three one-pole sections over white noise (within 0.5 dB from 10 Hz to 20 kHz).
    struct Pink {
        double b0 = 0, b1 = 0, b2 = 0;
        double next(double white) {
            b0 = 0.99765 * b0 + white * 0.0990460;
            b1 = 0.96300 * b1 + white * 0.2965164;
            b2 = 0.57000 * b2 + white * 1.0526913;
            return 0.05 * (b0 + b1 + b2 + white * 0.1848);
        }
    } left, right;
    AudioData audio = bench::synthesize(900, [&](std::size_t i, SplitMix64& rng) {
        const double sine = 0.25 * std::sin(2.0 * 3.141592653589793 * 220.0 * static_cast<double>(i) / 48'000.0);
        return std::pair{left.next(rng.uniform()) + sine, right.next(rng.uniform()) + sine};
    });
    Track clip = Track::make("Голос", std::move(audio));
    EffectSlot eq(EffectPreset::graphicEQ);
    const double gains[10] = {-9, -6, -3, -1.5, -1, 0.5, 2, 3.5, 2.5, 1};
    for (int i = 0; i < 10; ++i) eq.params["g" + std::to_string(i)] = gains[i];
    clip.rack.push_back(eq);
    for (const EffectPreset p : {EffectPreset::compressor, EffectPreset::deesser, EffectPreset::limiter, EffectPreset::hall})
        clip.rack.push_back(EffectSlot(p));
    s.appendOnNewLane(std::move(clip));
    return s;
}

void BM_StorePlayStartOneLongClipVocalRack(benchmark::State& state) { startPlayingOnce(state, oneLongVocalClip()); }
BENCHMARK(BM_StorePlayStartOneLongClipVocalRack)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(true);

// The sequential figure: the same mix with the rack rendered on one thread.
void BM_OneLongClipVocalRackSequential(benchmark::State& state) { renderOnOneThread(state, oneLongVocalClip()); }
BENCHMARK(BM_OneLongClipVocalRackSequential)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(true);

}  // namespace

namespace tessoral::bench {

// The vocal clip above as a project file, for scripts/play-latency.py to open in the program.
int writeVocalProject(const char* path) {
    try {
        ProjectIO::save(oneLongVocalClip(), path);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}

}  // namespace tessoral::bench
