#include "processing/RackRenderer.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <limits>
#include <mutex>
#include <unordered_map>

#include "model/Hashing.h"
#include "model/Localization.h"
#include "model/StudioError.h"
#include "processing/AudioIOEffect.h"
#include "processing/EQDesign.h"
#include "processing/EQUnit.h"
#include "processing/EffectUnit.h"
#include "processing/FreshPages.h"
#include "processing/UnitGraph.h"
#include "processing/WorkerPool.h"

namespace tessoral::RackRenderer {

namespace {

bool isActive(const EffectSlot& slot) { return slot.enabled && slot.wet > 0; }

using Key = CachedKey;

struct KeyHash {
    std::size_t operator()(const Key& k) const noexcept {
        std::size_t h = std::hash<Uuid>{}(k.revision);
        auto mix = [&h](std::size_t v) { hashCombine(h, v); };
        for (const auto& s : k.slots) {
            mix(std::hash<Uuid>{}(s.id));
            mix(static_cast<std::size_t>(s.preset));
            mix(std::hash<double>{}(s.wet));
            for (const auto& [name, value] : s.params) {
                mix(std::hash<std::string>{}(name));
                mix(std::hash<double>{}(value));
            }
        }
        return h;
    }
};

// The clip's key; none when the rack is bypassed or has no active slot (the clip's own audio is
// the result then, and the cache is not touched).
std::optional<Key> keyOf(const Track& clip) {
    if (clip.rackBypassed) return std::nullopt;
    std::vector<EffectSlot> active;
    for (const auto& s : clip.rack)
        if (isActive(s)) active.push_back(s);
    if (active.empty()) return std::nullopt;
    return Key{clip.revision, std::move(active)};
}

std::mutex probeLock;
std::shared_ptr<const std::function<void(const EffectSlot&)>> probe;

void probeSlot(const EffectSlot& slot) {
    std::shared_ptr<const std::function<void(const EffectSlot&)>> p;
    {
        std::lock_guard guard(probeLock);
        p = probe;
    }
    if (p && *p) (*p)(slot);
}

// What a slot of wet amount `w` passes on: `dry` and `wet` mixed into `out` (which may be `wet`).
// One function for every path, so that a slice mixed on its own equals the whole signal mixed.
[[gnu::noinline]] void wetMix(const float* dry, const float* wet, float* out, std::size_t n, float w) {
    const float d = 1.0f - w;
    for (std::size_t i = 0; i < n; ++i) out[i] = d * dry[i] + w * wet[i];
}

// The slot's result mixed in place with what entered it, when the slot is not fully wet.
void mixWithDry(const EffectSlot& slot, const AudioData& entered, AudioData& rendered) {
    const auto w = static_cast<float>(slot.wet);
    if (w >= 1.0f) return;
    const auto n = static_cast<std::size_t>(rendered.frames());
    // Copies first only when the effect handed back what entered it.
    float* l = rendered.left.mutableVector().data();
    float* r = rendered.right.mutableVector().data();
    wetMix(entered.left.data(), l, l, n, w);
    wetMix(entered.right.data(), r, r, n, w);
}

void checkLength(const AudioData& rendered, std::int64_t frames) {
    if (rendered.frames() != frames || static_cast<std::int64_t>(rendered.right.size()) != frames)
        throw StudioError(L("Эффект изменил длину клипа."));
}

AudioData run(const std::vector<EffectSlot>& slots, const AudioData& audio, const std::function<bool()>* isCancelled) {
    AudioData current = audio;
    for (const auto& slot : slots) {
        if (!isActive(slot)) continue;
        if (isCancelled && *isCancelled && (*isCancelled)()) throw CancellationError();
        probeSlot(slot);
        AudioData rendered = AudioIO::effect(slot.preset, current, slot.params);
        checkLength(rendered, current.frames());
        mixWithDry(slot, current, rendered);
        current = std::move(rendered);
    }
    return current;
}

// One clip's rack rendered on several threads, to the same samples as run(). Slots whose effect
// renders slice by slice (the unit graphs, the equalisers and the inversion) form a pipeline over
// chunks of the signal, each stage on whichever thread is free, every stage working on its own
// chunk at the same time as the others, all in place on one buffer. A graph whose work splits (a
// compressor, a limiter, a reverb) is three stages of that pipeline: the step that carries the
// state from chunk to chunk goes chunk by chunk, and the finish (and the preparation, unless it
// carries a state too, as the reverb's does) renders several chunks at once. An equaliser is a
// chain of stages, each running a few of its sections over both channels and handing its chunk on
// in double precision. The de-esser renders its two channels at once, each in ranges over time (its
// output buffers, made while the streams before it render; the band levels, measured as soon as
// those have rendered what a range reads; then the output); any other slot renders whole when its
// input is complete. The
// caller's thread takes part, so the render ends even when every pool thread is busy elsewhere.
class ParallelRack : public std::enable_shared_from_this<ParallelRack> {
public:
    // Slices as renderUnitGraph pulls them, handed on between slots a chunk at a time.
    static constexpr std::size_t kSlice = EffectUnit::kMaxFrames;
    static constexpr std::size_t kChunk = 16 * kSlice;
    // Chunks a split graph has under way at most (each holds a scratch buffer of its own).
    static constexpr std::size_t kSplitChunks = 12;
    // An equaliser's sections per stage, and the chunks one of its stages hands on ahead of the next.
    static constexpr std::size_t kSectionsPerStage = EQUnit::kBands;
    static constexpr std::size_t kEqualiserChunks = 4;

    ParallelRack(const std::vector<const EffectSlot*>& slots, const AudioData& audio,
                 const std::function<bool()>* isCancelled)
        : input_(audio), frames_(static_cast<std::size_t>(audio.frames())), isCancelled_(isCancelled) {
        const std::size_t chunks = (frames_ + kChunk - 1) / kChunk;
        std::vector<std::size_t> outputs;  // the stages whose results the next slot reads
        for (const EffectSlot* slot : slots) {
            const std::size_t first = stages_.size();
            if (slot->preset == EffectPreset::graphicEQ || slot->preset == EffectPreset::parametricEQ) {
                outputs = addEqualiser(slot, chunks, outputs);
                continue;
            }
            if (UnitGraph::renders(slot->preset) || slot->preset == EffectPreset::invert) {
                std::shared_ptr<UnitGraphStream> graph;
                if (slot->preset != EffectPreset::invert)
                    graph = std::make_shared<UnitGraphStream>(slot->preset, slot->params);
                std::shared_ptr<ScratchRing> scratch;
                if (graph && graph->splits()) scratch = std::make_shared<ScratchRing>(std::min(chunks, kSplitChunks));
                const auto steps =
                    scratch ? std::vector{Step::prepare, Step::carry, Step::finish} : std::vector{Step::all};
                for (const Step step : steps) {
                    Stage& stage = stages_.emplace_back();
                    stage.slot = slot;
                    stage.kind = Kind::stream;
                    stage.step = step;
                    stage.concurrent = step == Step::finish || (step == Step::prepare && !graph->preparesInOrder());
                    stage.parts = chunks;
                    stage.finished.assign(chunks, 0);
                    stage.graph = graph;
                    stage.scratch = scratch;
                    stage.after = stages_.size() == first + 1 ? outputs : std::vector{stages_.size() - 2};
                }
                if (scratch) {
                    stages_[first].ring = scratch->size();
                    stages_[first].freedBy = first + 2;
                }
                outputs = {stages_.size() - 1};
                continue;
            }
            Stage& stage = stages_.emplace_back();
            stage.slot = slot;
            stage.kind = AudioIO::channelsApart(slot->preset) ? Kind::channels : Kind::whole;
            stage.parts = 1;
            stage.after = outputs;
            if (stage.kind == Kind::channels) addDeessing(slot);
            outputs = {stages_.size() - 1};
        }
        current_ = input_;
        if (stages_.front().kind == Kind::stream) beginStream(true);
    }

    // How many threads can be busy at once.
    std::size_t width() const {
        std::size_t streams = 0, widest = 1;
        for (const Stage& s : stages_) {
            if (s.concurrent) return std::numeric_limits<std::size_t>::max();
            streams += s.kind == Kind::stream ? 1 : 0;
            widest = std::max(widest, s.kind == Kind::channels ? s.parts : std::size_t{1});
        }
        return std::max(streams, widest);
    }

    AudioData render(unsigned threads) {
        const std::size_t helpers = std::min<std::size_t>(threads, width()) - 1;
        for (std::size_t i = 0; i < helpers; ++i)
            WorkerPool::post([self = shared_from_this()] { self->work(); });
        work();
        std::unique_lock guard(lock_);
        changed_.wait(guard, [&] { return running_ == 0; });
        if (error_) std::rethrow_exception(error_);
        return std::move(current_);
    }

private:
    enum class Kind { stream, channels, whole };
    // The de-esser's two channels, shared by its two stages: the first makes each channel's
    // output buffer (as soon as a thread is free, long before the levels are known, so that its
    // pages are not cleared while the rest of the rack waits) and measures the band level of frame
    // ranges; the second copies sample ranges of the input into the output and corrects them.
    struct Deessing {
        std::size_t ranges = 1;  // per channel and stage
        std::once_flag started;
        std::optional<SpectralDynamics::ChannelDeesser> channel[2];
        std::vector<float> output[2];
    };
    // A de-esser's range covers this many samples or more, up to this many ranges per channel.
    static constexpr std::size_t kDeessRange = 32'768;
    static constexpr std::size_t kMaxDeessRanges = 32;
    // What a stream stage does with its slot's graph: all of it, or one step of a split graph.
    enum class Step { all, prepare, carry, finish };
    // One stage of an equaliser: some of its sections, reading the slot's input or what the stage
    // before it handed on, and handing on its own result or writing the channels.
    using Ring = std::vector<std::vector<double>>;  // a chunk's frames as pairs, chunk c in c mod size
    struct Equalising {
        std::vector<Biquad> sections;
        std::vector<BiquadHistory> left, right;  // per section, carried from chunk to chunk
        std::shared_ptr<Ring> in, out;           // none: the channels themselves
    };
    // A split graph's scratch buffers, one per chunk under way (chunk c uses buffer c mod size).
    struct ScratchBuffer {
        std::vector<double> values = std::vector<double>(kChunk);
        std::vector<float> left = std::vector<float>(kChunk), right = std::vector<float>(kChunk);
        std::atomic<std::size_t> chunk{0};  // the chunk whose preparation wrote it last
    };
    using ScratchRing = std::vector<ScratchBuffer>;
    struct Stage {
        const EffectSlot* slot = nullptr;
        Kind kind = Kind::whole;
        Step step = Step::all;
        std::shared_ptr<UnitGraphStream> graph;  // a stream's unit graph; none for the inversion
        std::shared_ptr<ScratchRing> scratch;    // a split graph's, shared by its three stages
        bool concurrent = false;                 // a stream whose chunks may render at once
        std::size_t parts = 0;                   // chunks of a stream, channels, or the whole
        std::size_t claimed = 0;
        std::size_t done = 0;
        std::vector<char> finished;  // a stream's chunks that have rendered
        std::size_t doneUpTo = 0;    // a stream's chunks before this one have all rendered
        bool complete = false;
        bool readsInput = false;  // a stream reading the clip's audio rather than the buffer
        std::shared_ptr<Deessing> deess;       // the de-esser's channels
        bool deessOutput = false;              // the de-esser's second stage
        std::unique_ptr<Equalising> equalising;
        // The stages whose chunk (when both are streams) or whole result this one reads.
        std::vector<std::size_t> after;
        // A stage writing buffers shared with a later stage: how many, and the stage that frees them.
        std::size_t ring = 0;
        std::size_t freedBy = 0;
    };

    // Adds an equaliser's stages after `outputs`; returns its last stage.
    std::vector<std::size_t> addEqualiser(const EffectSlot* slot, std::size_t chunks, const std::vector<std::size_t>& outputs) {
        const std::vector<Biquad> sections = EQDesign::sections(slot->preset, slot->params);
        const std::size_t groups = std::max<std::size_t>(1, (sections.size() + kSectionsPerStage - 1) / kSectionsPerStage);
        std::shared_ptr<Ring> handed;
        for (std::size_t g = 0; g < groups; ++g) {
            Stage& stage = stages_.emplace_back();
            stage.slot = slot;
            stage.kind = Kind::stream;
            stage.parts = chunks;
            stage.finished.assign(chunks, 0);
            stage.after = g == 0 ? outputs : std::vector{stages_.size() - 2};
            auto part = std::make_unique<Equalising>();
            const std::size_t from = sections.size() * g / groups, to = sections.size() * (g + 1) / groups;
            part->sections.assign(sections.begin() + from, sections.begin() + to);
            part->left.resize(to - from);
            part->right.resize(to - from);
            part->in = handed;
            if (g + 1 < groups) {
                const std::size_t size = std::min(chunks, kEqualiserChunks);
                handed = std::make_shared<Ring>(size, std::vector<double>(2 * kChunk));
                part->out = handed;
                stage.ring = size;
                stage.freedBy = stages_.size();
            }
            stage.equalising = std::move(part);
        }
        return {stages_.size() - 1};
    }

    // Makes the stage just added for a de-esser its first stage, and adds its second.
    void addDeessing(const EffectSlot* slot) {
        auto deess = std::make_shared<Deessing>();
        deess->ranges = std::clamp<std::size_t>(frames_ / kDeessRange, 1, kMaxDeessRanges);
        stages_.back().deess = deess;
        stages_.back().parts = 2 + 2 * deess->ranges;  // the output buffers, then the levels
        Stage& output = stages_.emplace_back();
        output.slot = slot;
        output.kind = Kind::channels;
        output.deess = deess;
        output.deessOutput = true;
        output.parts = 2 * deess->ranges;
        output.after = {stages_.size() - 2};
    }

    // Streams work in place on current_ from here on; the first slot reads the clip's audio into a
    // buffer of its own. Only while no stream runs.
    void beginStream(bool first) {
        if (first) {
            current_ = AudioData(FreshPages::zeroed(frames_), FreshPages::zeroed(frames_));
            for (Stage& stage : stages_)
                if (stage.slot == stages_.front().slot) stage.readsInput = true;
        }
        // No copy: current_ is this render's own (copy-on-write otherwise).
        outLeft_ = current_.left.mutableVector().data();
        outRight_ = current_.right.mutableVector().data();
    }

    // Under lock_: whether part `stage.claimed` of the stage can start.
    bool ready(std::size_t k) const {
        const Stage& stage = stages_[k];
        if (stage.claimed >= stage.parts) return false;
        if (stage.kind == Kind::stream && !stage.concurrent && stage.claimed != stage.done)
            return false;  // a chunk under way
        // Every shared buffer taken: the stage reading them has yet to free the oldest.
        if (stage.ring > 0 && stage.claimed >= stages_[stage.freedBy].doneUpTo + stage.ring) return false;
        for (const std::size_t d : stage.after) {
            const Stage& before = stages_[d];
            if (before.complete) continue;
            if (before.kind != Kind::stream) return false;
            // A stream's chunks: the same chunk for a stream, or those a de-esser's range measures.
            std::size_t needed = 0;
            if (stage.kind == Kind::stream)
                needed = stage.claimed + 1;
            else if (stage.deess && !stage.deessOutput)
                needed = stage.claimed < 2 ? 0 : (measuredEnd(*stage.deess, stage.claimed / 2 - 1) + kChunk - 1) / kChunk;
            else
                return false;
            if (before.doneUpTo < needed) return false;
        }
        return true;
    }

    // The samples the de-esser's level range i reads: those before the one returned.
    std::size_t measuredEnd(const Deessing& deess, std::size_t i) const {
        using SpectralDynamics::ChannelDeesser;
        const std::size_t frames = ChannelDeesser::framesFor(frames_);
        return ChannelDeesser::measuredEnd(frames_, ChannelDeesser::partStart(frames, deess.ranges, i + 1));
    }

    // Under lock_: the stage to take a part of next, or none. A stage that goes chunk by chunk
    // first, so that the slowest steps never wait for a thread; then the latest in the rack.
    std::optional<std::size_t> next() const {
        for (std::size_t k = stages_.size(); k-- > 0;)
            if (stages_[k].kind == Kind::stream && !stages_[k].concurrent && ready(k)) return k;
        for (std::size_t k = stages_.size(); k-- > 0;)
            if (ready(k)) return k;
        return std::nullopt;
    }

    void work() {
        std::unique_lock guard(lock_);
        ++running_;
        for (;;) {
            if (error_ || completed_ == stages_.size()) break;
            const std::optional<std::size_t> chosen = next();
            if (!chosen) {
                changed_.wait(guard);
                continue;
            }
            const std::size_t k = *chosen;
            Stage& stage = stages_[k];
            const std::size_t part = stage.claimed++;
            bool finished = false;
            try {
                if (isCancelled_ && *isCancelled_ && (*isCancelled_)()) throw CancellationError();
                guard.unlock();
                probeSlot(*stage.slot);
                renderPart(stage, part);
                guard.lock();
                if (stage.kind == Kind::stream) {
                    stage.finished[part] = 1;
                    while (stage.doneUpTo < stage.parts && stage.finished[stage.doneUpTo]) ++stage.doneUpTo;
                }
                finished = ++stage.done == stage.parts;
                if (finished && stage.kind != Kind::stream) {
                    guard.unlock();
                    finish(stage);
                    guard.lock();
                }
            } catch (...) {
                if (!guard.owns_lock()) guard.lock();
                if (!error_) error_ = std::current_exception();
            }
            if (finished && !error_) {
                stage.complete = true;
                ++completed_;
                if (k + 1 < stages_.size() && stages_[k + 1].kind == Kind::stream && stage.kind != Kind::stream)
                    beginStream(false);
            }
            changed_.notify_all();
        }
        --running_;
        changed_.notify_all();
    }

    // Outside lock_.
    void renderPart(Stage& stage, std::size_t part) {
        const EffectSlot& slot = *stage.slot;
        switch (stage.kind) {
            case Kind::stream: {
                const std::size_t begin = part * kChunk, end = std::min(frames_, begin + kChunk);
                const float* inLeft = stage.readsInput ? input_.left.data() : outLeft_;
                const float* inRight = stage.readsInput ? input_.right.data() : outRight_;
                if (stage.equalising) {
                    equalise(*stage.equalising, part, begin, end, inLeft, inRight, static_cast<float>(slot.wet));
                    break;
                }
                UnitGraphStream::Scratch scratch;
                if (stage.scratch) {
                    ScratchBuffer& buffer = (*stage.scratch)[part % stage.scratch->size()];
                    scratch = {buffer.values.data(), buffer.left.data(), buffer.right.data()};
                    // A later chunk's preparation in the buffer would give wrong samples: fail
                    // instead (the ring's bound in ready() keeps this from happening).
                    if (stage.step == Step::prepare)
                        buffer.chunk = part;
                    else if (buffer.chunk != part)
                        throw StudioError(L("Ошибка обработки эффекта."));
                }
                if (stage.step == Step::prepare) {
                    stage.graph->prepare(inLeft + begin, inRight + begin, scratch, end - begin);
                    break;
                }
                if (stage.step == Step::carry) {
                    stage.graph->carry(scratch, end - begin);
                    break;
                }
                const auto w = static_cast<float>(slot.wet);
                float dryLeft[kSlice], dryRight[kSlice];  // a slice before the slot, for its wet amount
                for (std::size_t p = begin; p < end; p += kSlice) {
                    const std::size_t n = std::min(kSlice, end - p);
                    float* l = outLeft_ + p;
                    float* r = outRight_ + p;
                    if (w < 1.0f) {
                        std::copy_n(inLeft + p, n, dryLeft);
                        std::copy_n(inRight + p, n, dryRight);
                    }
                    if (stage.step == Step::finish) {
                        stage.graph->finish(scratch + (p - begin), inLeft + p, inRight + p, l, r, n);
                    } else if (stage.graph) {
                        stage.graph->process(inLeft + p, inRight + p, l, r, n);
                    } else {
                        for (std::size_t i = 0; i < n; ++i) l[i] = -inLeft[p + i];
                        for (std::size_t i = 0; i < n; ++i) r[i] = -inRight[p + i];
                    }
                    if (w < 1.0f) {
                        wetMix(dryLeft, l, l, n, w);
                        wetMix(dryRight, r, r, n, w);
                    }
                }
                break;
            }
            case Kind::channels: {
                Deessing& deess = *stage.deess;
                std::call_once(deess.started, [&] {
                    deess.channel[0].emplace(AudioIO::channelDeesser(current_.left.span(), slot.params));
                    deess.channel[1].emplace(AudioIO::channelDeesser(current_.right.span(), slot.params));
                });
                using SpectralDynamics::ChannelDeesser;
                if (stage.deessOutput) {
                    ChannelDeesser& channel = *deess.channel[part % 2];
                    const std::size_t i = part / 2, size = channel.size();
                    const std::size_t begin = ChannelDeesser::partStart(size, deess.ranges, i);
                    const std::size_t end = ChannelDeesser::partStart(size, deess.ranges, i + 1);
                    channel.copyInput(begin, end);
                    channel.render(begin, end);
                } else if (part < 2) {
                    deess.output[part] = FreshPages::zeroed(frames_);
                } else {
                    ChannelDeesser& channel = *deess.channel[part % 2];
                    const std::size_t i = part / 2 - 1, frames = channel.frames();
                    channel.measure(ChannelDeesser::partStart(frames, deess.ranges, i),
                                    ChannelDeesser::partStart(frames, deess.ranges, i + 1));
                }
                break;
            }
            case Kind::whole: {
                AudioData rendered = AudioIO::effect(slot.preset, current_, slot.params);
                checkLength(rendered, current_.frames());
                mixWithDry(slot, current_, rendered);
                current_ = std::move(rendered);
                break;
            }
        }
    }

    // Outside lock_: frames begin … end − 1 (chunk `chunk`) through an equaliser stage, `inLeft` and
    // `inRight` being the channels as they entered the slot. As EffectsDSP::biquads() renders them:
    // in double precision from the input samples to the output samples, section after section.
    void equalise(Equalising& eq, std::size_t chunk, std::size_t begin, std::size_t end, const float* inLeft,
                  const float* inRight, float w) {
        double* from = eq.in ? (*eq.in)[chunk % eq.in->size()].data() : nullptr;
        double* to = eq.out ? (*eq.out)[chunk % eq.out->size()].data() : nullptr;
        double pairs[2 * kSlice];
        float dryLeft[kSlice], dryRight[kSlice];
        for (std::size_t p = begin; p < end; p += kSlice) {
            const std::size_t n = std::min(kSlice, end - p);
            float* l = outLeft_ + p;
            float* r = outRight_ + p;
            if (!eq.in && !eq.out && eq.sections.empty()) {  // no section: the samples unchanged
                std::copy_n(inLeft + p, n, l);
                std::copy_n(inRight + p, n, r);
                if (w < 1.0f) {
                    wetMix(inLeft + p, l, l, n, w);
                    wetMix(inRight + p, r, r, n, w);
                }
                continue;
            }
            double* b = from ? from + 2 * (p - begin) : to ? to + 2 * (p - begin) : pairs;
            if (!from) {
                for (std::size_t i = 0; i < n; ++i) {
                    b[2 * i] = inLeft[p + i];
                    b[2 * i + 1] = inRight[p + i];
                }
            }
            EQUnit::runSections(eq.sections.data(), eq.left.data(), eq.right.data(), eq.sections.size(), b, n);
            if (to) {
                if (b != to + 2 * (p - begin)) std::copy_n(b, 2 * n, to + 2 * (p - begin));
                continue;
            }
            if (w < 1.0f) {  // the input may be the output
                std::copy_n(inLeft + p, n, dryLeft);
                std::copy_n(inRight + p, n, dryRight);
            }
            for (std::size_t i = 0; i < n; ++i) {
                l[i] = static_cast<float>(b[2 * i]);
                r[i] = static_cast<float>(b[2 * i + 1]);
            }
            if (w < 1.0f) {
                wetMix(dryLeft, l, l, n, w);
                wetMix(dryRight, r, r, n, w);
            }
        }
    }

    // Outside lock_, once every part of a stage that is not a stream has rendered.
    void finish(Stage& stage) {
        if (stage.kind != Kind::channels) return;
        Deessing& deess = *stage.deess;
        if (!stage.deessOutput) {
            for (int c = 0; c < 2; ++c) {
                deess.channel[c]->useOutput(std::move(deess.output[c]));
                deess.channel[c]->settle();
            }
            return;
        }
        AudioData rendered(deess.channel[0]->take(), deess.channel[1]->take());
        deess.channel[0].reset();
        deess.channel[1].reset();
        checkLength(rendered, current_.frames());
        mixWithDry(*stage.slot, current_, rendered);
        current_ = std::move(rendered);
    }

    const AudioData input_;
    const std::size_t frames_;
    const std::function<bool()>* isCancelled_;
    std::vector<Stage> stages_;
    AudioData current_;
    float* outLeft_ = nullptr;
    float* outRight_ = nullptr;

    std::mutex lock_;
    std::condition_variable changed_;
    unsigned running_ = 0;  // threads inside work()
    std::size_t completed_ = 0;
    std::exception_ptr error_;
};

// run(), on up to `threads` threads.
AudioData runParallel(const std::vector<EffectSlot>& slots, const AudioData& audio,
                      const std::function<bool()>* isCancelled, unsigned threads) {
    std::vector<const EffectSlot*> active;
    for (const auto& s : slots)
        if (isActive(s)) active.push_back(&s);
    if (threads <= 1 || active.empty() || audio.empty()) return run(slots, audio, isCancelled);
    auto rack = std::make_shared<ParallelRack>(active, audio, isCancelled);
    return rack->render(threads);
}

}  // namespace

struct Cache::State {
    struct Entry {
        AudioData audio;
        std::uint64_t serial = 0;  // insertion number: `order` holds the keys by increasing serial
    };

    mutable std::mutex lock;
    std::unordered_map<Key, Entry, KeyHash> entries;
    std::deque<Key> order;  // oldest first
    std::int64_t bytes = 0;
    std::uint64_t nextSerial = 0;

    // Stores a fresh result, evicting the oldest entries while the budget would be exceeded (all
    // of them, if need be). A key cached meanwhile by another caller keeps its entry. Under `lock`.
    void insert(const Key& key, const AudioData& result) {
        if (entries.count(key)) return;
        const std::int64_t cost = result.bytes();
        while (bytes + cost > kCacheBudgetBytes && !order.empty()) {
            auto it = entries.find(order.front());
            if (it != entries.end()) {
                bytes -= it->second.audio.bytes();
                entries.erase(it);
            }
            order.pop_front();
        }
        entries.try_emplace(key, Entry{result, nextSerial++});
        order.push_back(key);
        bytes += cost;
    }
};

Cache::State& stateOf(Cache& cache) { return *cache.state_; }

Cache::Cache() : state_(std::make_unique<State>()) {}
Cache::~Cache() = default;

Cache& Cache::shared() {
    static Cache c;
    return c;
}

CacheStats Cache::stats() const {
    std::lock_guard guard(state_->lock);
    return {state_->entries.size(), state_->bytes};
}

std::vector<CachedKey> Cache::keys() const {
    std::lock_guard guard(state_->lock);
    return {state_->order.begin(), state_->order.end()};
}

bool Cache::contains(const Track& clip) const {
    const auto key = keyOf(clip);
    if (!key) return false;
    std::lock_guard guard(state_->lock);
    return state_->entries.count(*key) != 0;
}

AudioData apply(const std::vector<EffectSlot>& slots, const AudioData& audio) { return run(slots, audio, nullptr); }

AudioData apply(const std::vector<EffectSlot>& slots, const AudioData& audio,
                const std::function<bool()>& isCancelled) {
    return run(slots, audio, &isCancelled);
}

void setSlotProbe(std::function<void(const EffectSlot&)> p) {
    auto shared = p ? std::make_shared<const std::function<void(const EffectSlot&)>>(std::move(p)) : nullptr;
    std::lock_guard guard(probeLock);
    probe = std::move(shared);
}

namespace {

AudioData renderOn(const Track& clip, Cache& cache, unsigned threads) {
    const auto key = keyOf(clip);
    if (!key) return clip.audio;
    Cache::State& c = stateOf(cache);
    {
        std::lock_guard guard(c.lock);
        if (auto it = c.entries.find(*key); it != c.entries.end()) return it->second.audio;
    }
    AudioData result = runParallel(key->slots, clip.audio, nullptr, threads);
    if (result.frames() > kMaxCachedFrames) return result;
    std::lock_guard guard(c.lock);
    c.insert(*key, result);
    return result;
}

// Racks rendering on the worker pool, taken by one consumer in order. At most `window` results
// wait ahead of the consumer, so memory stays near what a few clips need.
struct Jobs : std::enable_shared_from_this<Jobs> {
    struct Input {
        std::vector<EffectSlot> slots;
        AudioData audio;
    };
    std::vector<Input> inputs;
    std::vector<std::optional<AudioData>> results;
    std::vector<std::exception_ptr> errors;

    std::mutex lock;
    std::condition_variable changed;
    std::size_t claimed = 0;   // jobs 0 … claimed − 1 have been taken up
    std::size_t consumed = 0;  // jobs the consumer has taken its result of
    std::size_t running = 0;   // renders under way
    unsigned workers = 0;      // pool jobs posted and not yet ended
    unsigned maxWorkers = 1;
    std::size_t window = 1;
    unsigned threadsPerRack = 1;  // threads one rack renders on
    std::atomic<bool> cancelled{false};

    // Under `lock`.
    std::size_t claimable() const {
        if (cancelled) return 0;
        const std::size_t end = std::min(inputs.size(), consumed + window);
        return end > claimed ? end - claimed : 0;
    }

    // Under `lock`: more pool jobs while there is work nobody has taken up.
    void topUp() {
        const std::size_t open = claimable();
        const std::size_t idle = workers > running ? workers - running : 0;  // posted, about to take one up
        std::size_t wanted = open > idle ? open - idle : 0;
        for (; workers < maxWorkers && wanted > 0; --wanted) {
            ++workers;
            WorkerPool::post([self = shared_from_this()] { self->work(); });
        }
    }

    void work() {
        for (;;) {
            std::size_t j = 0;
            {
                std::lock_guard guard(lock);
                if (claimable() == 0) {
                    --workers;
                    changed.notify_all();
                    return;
                }
                j = claimed++;
                ++running;
            }
            renderOne(j);
        }
    }

    // Outside `lock`; job j has been claimed by the caller.
    void renderOne(std::size_t j) {
        std::optional<AudioData> result;
        std::exception_ptr error;
        try {
            const std::function<bool()> isCancelled = [this] { return cancelled.load(); };
            result = runParallel(inputs[j].slots, inputs[j].audio, &isCancelled, threadsPerRack);
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard guard(lock);
            results[j] = std::move(result);
            errors[j] = error;
            --running;
        }
        changed.notify_all();
    }

    // Job j's result, rendering it on this thread when no worker has taken it up yet. Jobs are
    // taken in order.
    AudioData take(std::size_t j) {
        std::unique_lock guard(lock);
        while (!results[j] && !errors[j]) {
            if (claimed == j) {
                ++claimed;
                ++running;
                guard.unlock();
                renderOne(j);
                guard.lock();
            } else {
                changed.wait(guard);
            }
        }
        consumed = j + 1;
        topUp();
        if (errors[j]) std::rethrow_exception(errors[j]);
        AudioData result = std::move(*results[j]);
        results[j].reset();
        return result;
    }

    // Stops what has not started and waits for the renders under way.
    void cancel() {
        cancelled = true;
        std::unique_lock guard(lock);
        changed.wait(guard, [&] { return running == 0; });
    }
};

// The renders of a list of clips in the order render() would be called for them one after
// another. Which look-ups hit and which results are inserted is decided up front, by playing the
// cache's rules over the list; the renders that miss then run in parallel, and each result is
// inserted when the consumer takes it, in list order.
class OrderedRenders {
public:
    OrderedRenders(const std::vector<const Track*>& clips, Cache& cache, unsigned threads)
        : cache_(stateOf(cache)), jobs_(std::make_shared<Jobs>()) {
        plan(clips);
        jobs_->results.resize(jobs_->inputs.size());
        jobs_->errors.resize(jobs_->inputs.size());
        jobs_->maxWorkers = std::max(threads, 1u);
        jobs_->window = jobs_->maxWorkers + 2;
        // Fewer racks than threads: each rack renders on several threads too.
        if (jobs_->inputs.size() < jobs_->maxWorkers) jobs_->threadsPerRack = jobs_->maxWorkers;
        std::lock_guard guard(jobs_->lock);
        jobs_->topUp();
    }
    ~OrderedRenders() { jobs_->cancel(); }
    OrderedRenders(const OrderedRenders&) = delete;
    OrderedRenders& operator=(const OrderedRenders&) = delete;

    // The result for clip i; called for i = 0, 1, 2, … in turn.
    AudioData take(std::size_t i) {
        Item& item = items_[i];
        AudioData audio;
        switch (item.kind) {
            case Kind::dry:
            case Kind::hit: audio = std::move(item.audio); break;
            case Kind::render: audio = jobs_->take(item.job); break;
            case Kind::reuse: audio = items_[item.source].audio; break;
        }
        if (item.insert) {
            std::lock_guard guard(cache_.lock);
            cache_.insert(*item.key, audio);
        }
        if (item.reused) item.audio = audio;
        return audio;
    }

private:
    enum class Kind {
        dry,     // no active rack: the clip's audio
        hit,     // found in the cache
        render,  // rendered by a job
        reuse,   // the same key as an earlier clip: that clip's result
    };
    struct Item {
        Kind kind = Kind::dry;
        std::optional<Key> key;
        AudioData audio;
        std::size_t job = 0;
        std::size_t source = 0;
        bool insert = false;  // the result goes into the cache when taken
        bool reused = false;  // a later item takes this one's result
    };

    void plan(const std::vector<const Track*>& clips) {
        items_.resize(clips.size());
        std::lock_guard guard(cache_.lock);
        // The cache as the run would leave it, step by step: its own entries from `front` on, then
        // the ones this run inserts (those still in, oldest first).
        std::size_t front = 0;
        std::int64_t bytes = cache_.bytes;
        auto aliveFrom = [&] {
            return front < cache_.order.size() ? cache_.entries.at(cache_.order[front]).serial
                                               : std::numeric_limits<std::uint64_t>::max();
        };
        std::uint64_t oldestKept = aliveFrom();
        std::deque<std::size_t> inserted;               // items, oldest first
        std::unordered_map<Key, std::size_t, KeyHash> insertedKeys;  // key → item
        std::unordered_map<Key, std::size_t, KeyHash> rendered;      // key → item that renders it

        for (std::size_t i = 0; i < clips.size(); ++i) {
            const Track& clip = *clips[i];
            Item& item = items_[i];
            item.key = keyOf(clip);
            if (!item.key) {
                item.audio = clip.audio;
                continue;
            }
            const Key& key = *item.key;
            if (auto it = insertedKeys.find(key); it != insertedKeys.end()) {
                item.kind = Kind::reuse;
                item.source = it->second;
                items_[item.source].reused = true;
                continue;
            }
            if (auto it = cache_.entries.find(key); it != cache_.entries.end() && it->second.serial >= oldestKept) {
                item.kind = Kind::hit;
                item.audio = it->second.audio;
                continue;
            }
            if (auto it = rendered.find(key); it != rendered.end()) {
                // Rendered before in this run and evicted since (or too long to keep).
                item.kind = Kind::reuse;
                item.source = it->second;
                items_[item.source].reused = true;
            } else {
                item.kind = Kind::render;
                item.job = jobs_->inputs.size();
                jobs_->inputs.push_back({key.slots, clip.audio});
                rendered.emplace(key, i);
            }
            // A rack keeps the clip's length (or the render fails, and the run with it).
            const std::int64_t frames = clip.audio.frames();
            if (frames > kMaxCachedFrames) continue;
            item.insert = true;
            const std::int64_t cost = 8 * frames;
            while (bytes + cost > kCacheBudgetBytes && (front < cache_.order.size() || !inserted.empty())) {
                if (front < cache_.order.size()) {
                    bytes -= cache_.entries.at(cache_.order[front]).audio.bytes();
                    ++front;
                    oldestKept = aliveFrom();
                } else {
                    const std::size_t out = inserted.front();
                    inserted.pop_front();
                    bytes -= 8 * clips[out]->audio.frames();
                    insertedKeys.erase(*items_[out].key);
                }
            }
            bytes += cost;
            inserted.push_back(i);
            insertedKeys[key] = i;
        }
    }

    Cache::State& cache_;
    std::shared_ptr<Jobs> jobs_;
    std::vector<Item> items_;
};

}  // namespace

AudioData render(const Track& clip, Cache& cache) { return renderOn(clip, cache, defaultRenderThreads()); }

unsigned defaultRenderThreads() { return WorkerPool::size(); }

AudioData mix(const Session& project, std::optional<TimeRange> range, Cache& cache, unsigned threads) {
    if (threads <= 1) return project.mixed(range, [&cache](const Track& clip) { return renderOn(clip, cache, 1); });
    const Session::MixPlan plan = project.mixPlan(range);
    std::vector<const Track*> clips;
    clips.reserve(plan.parts.size());
    for (const auto& part : plan.parts) clips.push_back(&part.clip);
    OrderedRenders renders(clips, cache, threads);
    std::size_t next = 0;
    return project.mixed(plan, [&renders, &next](const Track&) { return renders.take(next++); });
}

std::vector<AudioData> renderAll(const std::vector<Track>& clips, Cache& cache, unsigned threads) {
    std::vector<AudioData> results;
    results.reserve(clips.size());
    if (threads <= 1) {
        for (const Track& clip : clips) results.push_back(renderOn(clip, cache, 1));
        return results;
    }
    std::vector<const Track*> list;
    list.reserve(clips.size());
    for (const Track& clip : clips) list.push_back(&clip);
    OrderedRenders renders(list, cache, threads);
    for (std::size_t i = 0; i < clips.size(); ++i) results.push_back(renders.take(i));
    return results;
}

CacheStats cacheStats() { return Cache::shared().stats(); }

bool isCached(const Track& clip) { return Cache::shared().contains(clip); }

}  // namespace tessoral::RackRenderer
