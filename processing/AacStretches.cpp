#include "processing/AacStretches.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <limits>
#include <mutex>
#include <numeric>
#include <optional>
#include <system_error>
#include <thread>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

#include "model/Localization.h"
#include "model/StudioError.h"
#include "model/VectorOps.h"
#include "processing/FFmpegSupport.h"
#include "processing/Loudness.h"
#include "processing/ReconstructionPeak.h"

namespace tessoral {

namespace {

constexpr std::int64_t kFrame = 1024;  // an AAC frame
constexpr double kStretchSeconds = 60.0;
// The encoder's bit allocation settles over several seconds of what it is given: an encoder
// started closer to its stretch overshoots the signal's peaks further than one that has run
// from the start.
constexpr std::int64_t kLeadFrames = 470;  // about ten seconds before the stretch
// Nor does it forget what it met before: after a quiet lead-in, it may code a clipped transient
// several dB hotter than one that has run from the start. So where a stretch's own stream passes
// the watch after a quiet lead-in (its RMS kQuietLead under the watch, its loudest frames left
// out: a few hits over a quiet bed leave the encoder no more settled), the stretch is encoded
// again from kSettledLeadFrames before it (from the signal's start where that is closer), and
// only that stream's passing counts: an encoder that has run that long codes the stretch's peaks
// within a few tenths of a dB of one over the whole signal, at a cost that does not grow with
// where the stretch lies. Over a louder lead-in the encoder has settled, and its own stream
// passing counts at once.
constexpr std::int64_t kSettledLeadFrames = 3282;  // about seventy seconds
constexpr float kQuietLead = 0.1f;  // 20 dB
constexpr std::size_t kLoudestLeft = 10;  // per cent of the lead-in's frames left out of its level
// Frames from a stretch's start on where the join may stand: a fresh encoder may code a transient
// it meets there far worse than one that has run for a while, and the join then waits until the
// later encoder is as good as the earlier one.
constexpr std::int64_t kJoinChoices = 94;  // about two seconds
// Frames either side of a join over which the joined stream is held to the earlier encoder's own
// error (a third of a second at either rate).
constexpr std::int64_t kJoinWindow = AacStretches::kJoinWindow;
constexpr std::int64_t kWarmFrames = 3;    // packets decoded before the first frame wanted
constexpr std::int64_t kPauseFrames = 64;  // frames between the encoders' pauses
// Past the last frame a join's window reaches, the encoder still sees what it looks ahead to.
constexpr std::int64_t kTailFrames = kJoinChoices + kJoinWindow + kWarmFrames;
// Samples measured past a stretch's end, so that every value interpolated before it is measured.
constexpr std::int64_t kMeasuredPast = reconstruction_peak::kBefore + reconstruction_peak::kAfter + 8;
constexpr PeakInterpolation kAsPlayed = PeakInterpolation::reconstruction;

[[noreturn]] void fail(int code) {
    if (code == AVERROR(ENOMEM)) throw StudioError(L("Не удалось выделить память для звука."));
    throw AudioWriteError(ffmpeg::errorText(code));
}
void check(int code) {
    if (code < 0) fail(code);
}
template <class T>
T* made(T* p) {
    if (!p) fail(AVERROR(ENOMEM));
    return p;
}

struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using Packet = std::unique_ptr<AVPacket, PacketFree>;
struct CodecFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
using Codec = std::unique_ptr<AVCodecContext, CodecFree>;
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using Frame = std::unique_ptr<AVFrame, FrameFree>;

std::atomic<int> threadsSet{0};

// Runs job(i) for every i below n on up to AacStretches::threads() threads; rethrows the first
// failure.
void forEach(std::size_t n, const std::function<void(std::size_t)>& job) {
    const std::size_t threads = std::min<std::size_t>(n, static_cast<std::size_t>(AacStretches::threads()));
    std::atomic<std::size_t> next{0};
    std::vector<std::exception_ptr> errors(n);
    auto work = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < n;) {
            try {
                job(i);
            } catch (...) {
                errors[i] = std::current_exception();
            }
        }
    };
    std::vector<std::thread> pool;
    try {
        for (std::size_t t = 1; t < threads; ++t) pool.emplace_back(work);
    } catch (const std::system_error&) {
        // Fewer threads: the work is shared among those there are.
    }
    work();
    for (auto& thread : pool) thread.join();
    for (auto& error : errors)
        if (error) std::rethrow_exception(error);
}

// A decoder as a player sets it up, given packets one at a time.
class Decoder {
public:
    explicit Decoder(const AVCodecContext& encoder) {
        const AVCodec* found = avcodec_find_decoder(encoder.codec_id);
        if (!found) fail(AVERROR_DECODER_NOT_FOUND);
        context_.reset(made(avcodec_alloc_context3(found)));
        frame_.reset(made(av_frame_alloc()));
        AVCodecParameters* parameters = made(avcodec_parameters_alloc());
        int rc = avcodec_parameters_from_context(parameters, &encoder);
        if (rc >= 0) rc = avcodec_parameters_to_context(context_.get(), parameters);
        avcodec_parameters_free(&parameters);
        check(rc);
        context_->pkt_timebase = encoder.time_base;
        context_->thread_count = 1;
        check(avcodec_open2(context_.get(), found, nullptr));
    }

    // Decodes `packet` and hands each frame it gives to `out(left, right, frames)`.
    template <class Out>
    void decode(const AVPacket& packet, Out&& out) {
        ++decoded_;
        check(avcodec_send_packet(context_.get(), &packet));
        for (;;) {
            const int rc = avcodec_receive_frame(context_.get(), frame_.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
            check(rc);
            const int channels = frame_->ch_layout.nb_channels;
            if (frame_->format != AV_SAMPLE_FMT_FLTP || channels < 1 || channels > 2) fail(AVERROR_PATCHWELCOME);
            const auto* left = reinterpret_cast<const float*>(frame_->extended_data[0]);
            const auto* right = channels == 2 ? reinterpret_cast<const float*>(frame_->extended_data[1]) : left;
            out(left, right, static_cast<std::size_t>(frame_->nb_samples));
            av_frame_unref(frame_.get());
        }
    }

    // Packets given so far.
    std::int64_t decoded() const { return decoded_; }

private:
    Codec context_;
    Frame frame_;
    std::int64_t decoded_ = 0;
};

// An encoder under way, and what watches what it makes.
struct StretchEncoder {
    Codec codec;
    Frame frame;
    Packet packet;
    std::int64_t start = 0;  // the first frame it was given
    std::int64_t at = 0;     // the next frame to give it
    std::optional<Decoder> own;
    TruePeakMeter ownLeft{kAsPlayed}, ownRight{kAsPlayed};
    std::int64_t position = 0;  // of the next frame `own` decodes
    std::size_t watched = 0;    // the packets `own` has decoded
    std::vector<double> leadEnergy;  // of each frame given before the stretch, both channels
};

// What one encoder made: the packets kept, one frame apart, in order.
struct Stretch {
    std::int64_t begin = 0;  // where the stretch starts before it is joined
    std::int64_t end = 0;
    std::vector<Packet> packets;
    std::unique_ptr<StretchEncoder> encoder;  // while it may be taken on
    // Set by the thread that encodes it: the highest peak its watch saw past the watch, where it
    // passed; and whether `passed` was told.
    float passedPeak = 0.0f;
    bool told = false;
    bool hot = false;  // encoded in the hot stage
    // Its stream from kLeadFrames before it passed the watch: it is encoded again from
    // kSettledLeadFrames before it (`again`); `settled` once its stream passing the watch counts.
    bool again = false;
    bool settled = false;
    // Where it is likely to pass the watch, its encoding from kSettledLeadFrames before it runs
    // beside it once its lead-in is found quiet (`ahead`, which names it `of`): it counts only
    // once this one's stream passes the watch after a quiet lead-in (`verdict`), and stops once
    // it is known not to. Where it passes the watch before that is known, its peak waits
    // (`pending`); unless it may be encoded on for its peak, it stops there.
    std::unique_ptr<Stretch> ahead;
    Stretch* of = nullptr;
    std::unique_ptr<std::atomic<int>> verdict;
    float pending = 0.0f;

    // The packet that starts at `pts`, or none.
    const AVPacket* at(std::int64_t pts) const {
        if (packets.empty() || pts < packets.front()->pts || (pts - packets.front()->pts) % kFrame != 0) return nullptr;
        const auto i = static_cast<std::size_t>((pts - packets.front()->pts) / kFrame);
        return i < packets.size() && packets[i]->pts == pts ? packets[i].get() : nullptr;
    }
};

}  // namespace

// What a stretch's stream from kLeadFrames before it tells of its encoding ahead.
// The one ahead starts once its lead-in is known quiet (kQuiet).
constexpr int kUnknown = 0, kQuiet = 1, kAgain = 2, kDropped = 3;

struct AacStretches::Impl {
    ExportFormat format;
    int rate;
    std::int64_t frames;
    std::int64_t stated;
    Codec reference;  // an encoder set up as the stretches' ones: what the decoders are told
    std::vector<Stretch> stretches;
    std::vector<std::int64_t> joins;     // where each stretch starts in the file; the file's length last
    std::vector<const AVPacket*> file;   // the joined stream
    float watchAbove = std::numeric_limits<float>::infinity();
    bool giveUp = false;
    std::function<void(int)> passed;
    std::vector<int> firstStretches;
    std::vector<int> hotStretches;
    std::function<std::vector<int>()> widened;
    std::mutex aheadMutex;  // over a verdict and its ahead's pending peak
    std::condition_variable judged;  // a verdict left kUnknown
    bool finishPassed = false;
    bool finishHot = false;
    std::atomic<const Stretch*> finishing{nullptr};  // the stretch encoded on after the watch passed
    std::atomic<bool> passedOnce{false};
    AacStretches::Runner runner;
    std::function<void()> pause;
    const std::atomic<bool>* cancelled = nullptr;
    std::atomic<bool> givenUp{false};
    std::mutex reachedMutex;
    float reached = 0.0f;  // the true peak that passed watchAbove

    // Encodes `stretch` from kLeadFrames before it to a few frames past it (to the signal's end
    // for the last), keeping the packets a join may use. Unless last, its encoder is kept, so that
    // extend() can take it on.
    void encode(Stretch& stretch, bool last, const Source& source) {
        if (stretch.of) {
            {
                std::unique_lock lock(aheadMutex);
                judged.wait(lock, [&] { return *stretch.of->verdict != kUnknown; });
            }
            begin(stretch, last, source, std::max<std::int64_t>(0, stretch.begin - kSettledLeadFrames * kFrame));
            return;
        }
        {
            // However its own encoding ends (a failure too), the one ahead is told.
            struct Ended {
                Impl& impl;
                Stretch& stretch;
                ~Ended() {
                    if (!stretch.ahead) return;
                    std::lock_guard lock(impl.aheadMutex);
                    if (*stretch.verdict == kUnknown || *stretch.verdict == kQuiet) *stretch.verdict = kDropped;
                    impl.judged.notify_all();
                }
            } ended{*this, stretch};
            begin(stretch, last, source, std::max<std::int64_t>(0, stretch.begin - kLeadFrames * kFrame));
        }
        if (!stretch.again || stretch.ahead) return;
        stretch.again = false;
        stretch.settled = true;
        stretch.packets.clear();
        begin(stretch, last, source, std::max<std::int64_t>(0, stretch.begin - kSettledLeadFrames * kFrame));
    }

    // Starts `stretch`'s encoder at frame `from` of the signal and feeds it.
    void begin(Stretch& stretch, bool last, const Source& source, std::int64_t from) {
        if (stopped()) return;
        auto encoder = std::make_unique<StretchEncoder>();
        StretchEncoder& e = *encoder;
        e.codec.reset(AudioEncoder::openEncoder(format, rate, true));
        if (e.codec->frame_size != kFrame) fail(AVERROR(EINVAL));
        e.frame.reset(made(av_frame_alloc()));
        e.packet.reset(made(av_packet_alloc()));
        e.frame->format = AV_SAMPLE_FMT_FLTP;
        e.frame->sample_rate = rate;
        e.frame->nb_samples = kFrame;
        check(av_channel_layout_copy(&e.frame->ch_layout, &e.codec->ch_layout));
        check(av_frame_get_buffer(e.frame.get(), 0));
        e.start = e.at = from;
        // Where the encoding may be given up, what its own packets decode to over the stretch is
        // measured as they come: from past the frames where the join before it may stand (up to
        // there the file may hold the earlier encoder's packets, and this one, fresh, codes worse),
        // so that only what the joined file is sure to hold gives the encoding up.
        if (std::isfinite(watchAbove)) e.own.emplace(*e.codec);
        stretch.encoder = std::move(encoder);
        feed(stretch, last, source);
    }

    // Takes `stretch`'s encoder on through the stretch after it, which it then stands for.
    void extend(Stretch& stretch, const Stretch& next, bool last, const Source& source) {
        stretch.end = next.end;
        stretch.settled = true;
        if (stretch.encoder) feed(stretch, last, source);
    }

    // Gives `stretch`'s encoder the signal up to a few frames past the stretch's end (to the end
    // of the signal, and then the encoder's own end, for the last).
    void feed(Stretch& stretch, bool last, const Source& source) {
        StretchEncoder& e = *stretch.encoder;
        constexpr std::int64_t kAll = std::numeric_limits<std::int64_t>::max();
        const std::int64_t to = last ? frames : std::min(frames, stretch.end + kTailFrames * kFrame);
        const std::int64_t keepFrom = stretch.begin == 0 ? -kAll : stretch.begin - kWarmFrames * kFrame;
        const std::int64_t watchFrom = stretch.begin == 0 ? 0 : stretch.begin + (kJoinChoices + 1) * kFrame;
        // On to where the next stretch's own watch starts: up to there the file holds this
        // encoder's packets or the next one's, fresh, which codes no better.
        const std::int64_t watchTo = last ? stretch.end : stretch.end + (kJoinChoices + 1) * kFrame;
        auto watchPacket = [&](const AVPacket& kept) {
            if (e.own->decoded() == 0) e.position = kept.pts;
            e.own->decode(kept, [&](const float* l, const float* r, std::size_t count) {
                const auto n = static_cast<std::int64_t>(count);
                if (e.position < watchFrom && e.position + n == watchFrom && watchFrom > 0) {
                    e.ownLeft.follow(l, count);
                    e.ownRight.follow(r, count);
                }
                const std::int64_t lo = std::max(e.position, watchFrom), hi = std::min(e.position + n, watchTo);
                if (hi > lo) {
                    e.ownLeft.add(l + (lo - e.position), static_cast<std::size_t>(hi - lo));
                    e.ownRight.add(r + (lo - e.position), static_cast<std::size_t>(hi - lo));
                }
                e.position += n;
            });
            const float peak = std::max(e.ownLeft.peak(), e.ownRight.peak());
            if (peak > watchAbove && !stretch.settled && e.start > 0 && quietLead(e)) {
                stretch.again = true;
                if (stretch.ahead) {
                    std::lock_guard lock(aheadMutex);
                    *stretch.verdict = kAgain;
                    if (stretch.ahead->pending > 0.0f) over(*stretch.ahead, stretch.ahead->pending);
                }
            } else if (peak > watchAbove && stretch.of) {
                std::lock_guard lock(aheadMutex);
                if (*stretch.of->verdict == kAgain) over(stretch, peak);
                else stretch.pending = std::max(stretch.pending, peak);
            } else if (peak > watchAbove) {
                over(stretch, peak);
                if (!giveUp) e.own.reset();  // told once is enough
            }
        };
        // In order, the packets kept that start before the watch's end (those past it wait for an
        // extension).
        auto watch = [&] {
            while (e.own && !halted(stretch) && !stretch.again && e.watched < stretch.packets.size() &&
                   stretch.packets[e.watched]->pts < watchTo)
                watchPacket(*stretch.packets[e.watched++]);
        };
        auto drain = [&] {
            for (;;) {
                const int rc = avcodec_receive_packet(e.codec.get(), e.packet.get());
                if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
                check(rc);
                if (e.packet->pts >= keepFrom) {
                    stretch.packets.emplace_back(made(av_packet_clone(e.packet.get())));
                    watch();
                }
                av_packet_unref(e.packet.get());
            }
        };
        for (; e.at < to && !halted(stretch) && !stretch.again; e.at += kFrame) {
            const std::int64_t n = std::min(kFrame, to - e.at);
            check(av_frame_make_writable(e.frame.get()));
            e.frame->nb_samples = static_cast<int>(n);
            if (pause && (e.at - e.start) / kFrame % kPauseFrames == kPauseFrames - 1) pause();
            source(e.at, static_cast<std::size_t>(n), reinterpret_cast<float*>(e.frame->data[0]), reinterpret_cast<float*>(e.frame->data[1]));
            if (e.at == stretch.begin && stretch.ahead) {
                std::lock_guard lock(aheadMutex);
                *stretch.verdict = quietLead(e) ? kQuiet : kDropped;
                judged.notify_all();
            }
            if (e.at < stretch.begin) {
                double energy = 0.0;
                for (int c = 0; c < 2; ++c)
                    for (const float x : std::span(reinterpret_cast<const float*>(e.frame->data[c]), static_cast<std::size_t>(n)))
                        energy += static_cast<double>(x) * x;
                e.leadEnergy.push_back(energy / (2.0 * static_cast<double>(n)));
            }
            e.frame->pts = e.at;
            check(avcodec_send_frame(e.codec.get(), e.frame.get()));
            drain();
        }
        if (stopped() || stretch.again || !last) return;
        check(avcodec_send_frame(e.codec.get(), nullptr));
        drain();
        stretch.encoder.reset();
    }

    // Where the stream of `encoding` (a stretch, or the encoding ahead of one) passed the watch,
    // to `peak`: with giveUp the encoding stops (but for where it is encoded on for its peak),
    // and `passed` is told.
    void over(Stretch& encoding, float peak) {
        Stretch& stretch = encoding.of ? *encoding.of : encoding;
        if (giveUp) {
            const Stretch* none = nullptr;
            if (finishPassed) finishing.compare_exchange_strong(none, &encoding);
            givenUp = true;
        }
        // Where the stretch first passed is encoded on, its peak alone: the others go on only to
        // show where the watch passes most.
        if (!finishPassed || finishing.load() == &encoding) {
            std::lock_guard lock(reachedMutex);
            reached = std::max(reached, peak);
        }
        stretch.passedPeak = peak;
        const bool tell = finishHot ? !std::exchange(stretch.told, true) : !passedOnce.exchange(true);
        if (tell && passed) passed(static_cast<int>(&stretch - stretches.data()));
    }

    void run(std::size_t n, const std::function<void(std::size_t)>& job) const {
        if (runner) runner(n, job);
        else forEach(n, job);
    }

    // Whether the signal `e` was given before its stretch is quiet beside the watch, its loudest
    // frames left out.
    bool quietLead(const StretchEncoder& e) const {
        std::vector<double> frames = e.leadEnergy;
        if (frames.empty()) return false;
        const auto kept = frames.begin() + static_cast<std::ptrdiff_t>(frames.size() - frames.size() * kLoudestLeft / 100);
        std::nth_element(frames.begin(), kept, frames.end());
        const double energy = std::accumulate(frames.begin(), kept, 0.0) / static_cast<double>(kept - frames.begin());
        return std::sqrt(energy) < kQuietLead * watchAbove;
    }

    // Where `stretch`'s stream passed the watch after a quiet lead-in, its encoding ahead stands
    // for it; else that is dropped.
    void adopt(Stretch& stretch) {
        std::unique_ptr<Stretch> ahead = std::move(stretch.ahead);
        if (!stretch.again || stopped()) return;
        stretch.again = false;
        stretch.settled = true;
        stretch.packets = std::move(ahead->packets);
        stretch.encoder = std::move(ahead->encoder);
    }

    // Given up, or cancelled (which counts as given up once the encoding ends).
    bool stopped() const {
        return givenUp.load(std::memory_order_relaxed) || (cancelled && cancelled->load(std::memory_order_relaxed));
    }
    // Whether `stretch`'s encoder stops: once stopped, unless it is encoded on for its peak.
    bool halted(const Stretch& stretch) const {
        if (stretch.of && ((stretch.pending > 0.0f && !finishPassed) || stretch.of->verdict->load(std::memory_order_relaxed) == kDropped))
            return true;
        const bool finishes = finishing.load() == &stretch || (finishHot && (stretch.of ? stretch.of->hot : stretch.hot));
        return stopped() && (!finishes || (cancelled && cancelled->load(std::memory_order_relaxed)));
    }

    // The error energy of each frame from `from` to `to` (frame-aligned) of what `stretch`'s own
    // packets decode to, against `wanted` (both channels of the signal from `wantedFrom`); none
    // where its packets do not reach.
    std::optional<std::vector<double>> frameErrors(const Stretch& stretch, std::int64_t from, std::int64_t to, std::int64_t wantedFrom,
                                                   const std::vector<float>& wantedLeft, const std::vector<float>& wantedRight) const {
        const std::int64_t start = std::max(from - kWarmFrames * kFrame, std::int64_t{0});
        if (!stretch.at(from) || !stretch.at(to - kFrame)) return std::nullopt;
        const AVPacket* first = stretch.at(start);
        if (!first) first = stretch.packets.front().get();
        std::vector<double> errors(static_cast<std::size_t>((to - from) / kFrame), 0.0);
        Decoder decoder(*reference);
        std::int64_t position = first->pts;
        for (auto j = static_cast<std::size_t>((first->pts - stretch.packets.front()->pts) / kFrame);
             j < stretch.packets.size() && position < to; ++j) {
            decoder.decode(*stretch.packets[j], [&](const float* l, const float* r, std::size_t count) {
                for (std::size_t i = 0; i < count; ++i, ++position) {
                    if (position < from || position >= to) continue;
                    const auto k = static_cast<std::size_t>(position - wantedFrom);
                    const double dl = l[i] - wantedLeft[k], dr = r[i] - wantedRight[k];
                    errors[static_cast<std::size_t>((position - from) / kFrame)] += dl * dl + dr * dr;
                }
            });
        }
        return errors;
    }

    // Where the stream passes from `a` to `b`. The later encoder has run for less time, and may
    // code a transient it meets near its start far worse than the earlier one (which codes it as
    // one encoder over the whole signal would): the join goes on the first frame from b's start
    // on where the joined stream, within kJoinWindow frames either side (a's frames before the
    // join, the join frame decoded from a's packets before it and b's own, b's frames after),
    // errs from the signal little more than a's own stream does there. Where the two encoders
    // chose different windows the join frame's halves do not cancel each other's folding and it
    // errs by about the signal itself. Failing that, the frame that comes closest, when within
    // twice a's error (chooseJoin).
    std::optional<std::int64_t> join(const Stretch& a, const Stretch& b, const Source& source) const {
        const std::int64_t end = std::min(stated, frames) / kFrame * kFrame;
        const std::int64_t from = b.begin - kJoinWindow * kFrame;
        const std::int64_t to = std::min(end, b.begin + (kJoinChoices + kJoinWindow) * kFrame);
        if (from < 0 || to - b.begin < kJoinWindow * kFrame) return std::nullopt;
        std::vector<float> wantedLeft(static_cast<std::size_t>(to - from)), wantedRight(wantedLeft.size());
        source(from, wantedLeft.size(), wantedLeft.data(), wantedRight.data());
        const auto own = frameErrors(a, from, to, from, wantedLeft, wantedRight);
        const auto later = frameErrors(b, b.begin, to, from, wantedLeft, wantedRight);
        if (!own || !later) return std::nullopt;
        // The error of the join frame at `t`: a's packets before it, then b's.
        auto joinFrame = [&](std::int64_t t) -> std::optional<double> {
            const AVPacket* run[kWarmFrames + 1];
            for (std::int64_t w = 0; w <= kWarmFrames; ++w) {
                run[w] = w < kWarmFrames ? a.at(t - (kWarmFrames - w) * kFrame) : b.at(t);
                if (!run[w]) return std::nullopt;
            }
            Decoder decoder(*reference);
            std::vector<float> left, right;
            for (const AVPacket* packet : run)
                decoder.decode(*packet, [&](const float* l, const float* r, std::size_t count) {
                    left.assign(l, l + count);
                    right.assign(r, r + count);
                });
            if (left.size() < static_cast<std::size_t>(kFrame)) fail(AVERROR_INVALIDDATA);
            double error = 0.0;
            const auto offset = static_cast<std::size_t>(t - from);
            for (std::size_t i = 0; i < static_cast<std::size_t>(kFrame); ++i) {
                const double dl = left[i] - wantedLeft[offset + i], dr = right[i] - wantedRight[offset + i];
                error += dl * dl + dr * dr;
            }
            return error;
        };
        const std::optional<std::size_t> k =
            chooseJoin(*own, *later, [&](std::size_t at) { return joinFrame(b.begin + static_cast<std::int64_t>(at) * kFrame); });
        if (!k) return std::nullopt;
        return b.begin + static_cast<std::int64_t>(*k) * kFrame;
    }

    // Lays the signal out in stretches, encodes them side by side and joins them; false when a
    // join could not be placed.
    bool encodeInStretches(const Source& source) {
        const std::vector<std::int64_t> bounds = AacStretches::bounds(rate, frames);
        stretches.clear();
        stretches.resize(bounds.size() - 1);
        for (std::size_t i = 0; i < stretches.size(); ++i) {
            stretches[i].begin = bounds[i];
            stretches[i].end = bounds[i + 1];
        }
        // The stretches asked for first: the first alone, then the rest side by side; where the
        // watch passes there, the others never start. Those asked for once these stay under it
        // go next, in the same way; then the hot ones not yet encoded, side by side; then the rest.
        const std::size_t n = stretches.size();
        std::vector<std::size_t> order;
        std::size_t done = 0;
        auto add = [&](int i) {
            const auto at = static_cast<std::size_t>(i);
            if (i >= 0 && at < n && std::find(order.begin(), order.end(), at) == order.end()) order.push_back(at);
        };
        // Where the watch is `likely` to pass, a stretch whose stream may be encoded again from
        // further back has that encoding started beside it once its lead-in is found quiet: the
        // cores otherwise idle while the first stretches are encoded take it on.
        auto encodeFrom = [&](std::size_t from, std::size_t count, bool likely = false) {
            if (count == 0 || stopped()) return;
            std::vector<Stretch*> jobs;
            for (std::size_t j = 0; j < count; ++j) {
                Stretch& stretch = stretches[order[from + j]];
                jobs.push_back(&stretch);
                if (likely && giveUp && stretch.begin > kLeadFrames * kFrame) {
                    stretch.verdict = std::make_unique<std::atomic<int>>(kUnknown);
                    stretch.ahead = std::make_unique<Stretch>();
                    stretch.ahead->begin = stretch.begin;
                    stretch.ahead->end = stretch.end;
                    stretch.ahead->settled = true;
                    stretch.ahead->of = &stretch;
                    jobs.push_back(stretch.ahead.get());
                }
            }
            run(jobs.size(), [&](std::size_t j) {
                Stretch& stretch = *jobs[j];
                encode(stretch, (stretch.of ? stretch.of : &stretch) == &stretches.back(), source);
            });
            for (std::size_t j = 0; j < count; ++j) {
                Stretch& stretch = stretches[order[from + j]];
                if (stretch.ahead) adopt(stretch);
            }
        };
        for (std::vector<int> asked = firstStretches; giveUp && n > 1 && !stopped();) {
            for (const int a : asked) add(a);
            if (order.size() == done) break;
            encodeFrom(done, 1);
            encodeFrom(done + 1, order.size() - done - 1);
            done = order.size();
            if (stopped() || !widened) break;
            asked = widened();
        }
        if (giveUp && n > 1) {
            for (const int h : hotStretches) add(h);
            for (std::size_t j = done; j < order.size(); ++j) stretches[order[j]].hot = true;
            // Clearly hotter than the rest, these are where the watch likely passes.
            encodeFrom(done, order.size() - done, finishHot);
            done = order.size();
        }
        for (std::size_t i = 0; i < n; ++i) add(static_cast<int>(i));
        encodeFrom(done, n - done);
        if (stopped()) {
            for (Stretch& stretch : stretches) stretch.encoder.reset();
            return true;
        }
        std::vector<std::optional<std::int64_t>> found(stretches.size());
        found[0] = 0;
        run(stretches.size() - 1, [&](std::size_t i) {
            if (!stopped()) found[i + 1] = join(stretches[i], stretches[i + 1], source);
        });
        // Where a join cannot be placed, the earlier encoder goes on through the later stretch,
        // as one encoder over both would, and the join after them is sought again.
        for (std::size_t i = 1; i < stretches.size() && !stopped();) {
            if (found[i]) {
                stretches[i - 1].encoder.reset();
                ++i;
                continue;
            }
            const bool last = i + 1 == stretches.size();
            run(1, [&](std::size_t) { extend(stretches[i - 1], stretches[i], last, source); });
            stretches.erase(stretches.begin() + static_cast<std::ptrdiff_t>(i));
            found.erase(found.begin() + static_cast<std::ptrdiff_t>(i));
            if (!last) run(1, [&](std::size_t) { found[i] = join(stretches[i - 1], stretches[i], source); });
        }
        for (Stretch& stretch : stretches) stretch.encoder.reset();
        if (stopped()) return true;
        joins.clear();
        for (const auto& at : found) joins.push_back(*at);
        joins.push_back(stated);
        file.clear();
        for (std::size_t i = 0; i < stretches.size(); ++i)
            for (const Packet& packet : stretches[i].packets)
                if ((i == 0 || packet->pts >= joins[i]) && (i + 1 == stretches.size() || packet->pts < joins[i + 1]))
                    file.push_back(packet.get());
        for (std::size_t j = 1; j < file.size(); ++j)
            if (file[j]->pts != file[0]->pts + static_cast<std::int64_t>(j) * kFrame) return false;
        return !file.empty();
    }

    // The peaks of the file from `begin` to `end` (frame-aligned): the stream decoded from a few
    // packets before, the samples just before `begin` taken as context only.
    Peaks measure(std::int64_t begin, std::int64_t end) const {
        Peaks peaks;
        if (begin >= stated) return peaks;
        const bool last = end >= stated;
        const std::int64_t limit = last ? stated : std::min(stated, end + kMeasuredPast);
        const std::int64_t first = std::clamp<std::int64_t>((begin - file.front()->pts) / kFrame - kWarmFrames, 0,
                                                            static_cast<std::int64_t>(file.size()) - 1);
        Decoder decoder(*reference);
        TruePeakMeter left(kAsPlayed), right(kAsPlayed);
        std::int64_t position = file[static_cast<std::size_t>(first)]->pts;
        for (auto j = static_cast<std::size_t>(first); j < file.size() && position < limit; ++j) {
            decoder.decode(*file[j], [&](const float* l, const float* r, std::size_t count) {
                const auto n = static_cast<std::int64_t>(count);
                if (begin > 0 && position < begin && position + n >= begin) {
                    const auto context = static_cast<std::size_t>(begin - position);
                    left.follow(l, context);
                    right.follow(r, context);
                }
                const std::int64_t lo = std::max(position, begin), hi = std::min(position + n, limit);
                if (hi > lo) {
                    const auto offset = static_cast<std::size_t>(lo - position), taken = static_cast<std::size_t>(hi - lo);
                    left.add(l + offset, taken);
                    right.add(r + offset, taken);
                    peaks.samplePeak = std::max({peaks.samplePeak, vec::maxMagnitude(l + offset, taken), vec::maxMagnitude(r + offset, taken)});
                }
                position += n;
            });
        }
        peaks.truePeak = last ? std::max(left.finish(), right.finish()) : std::max(left.peak(), right.peak());
        return peaks;
    }
};

AacStretches::AacStretches(ExportFormat format, int sampleRate, std::int64_t frames, const Source& source, Options options)
    : impl_(std::make_unique<Impl>()) {
    Impl& s = *impl_;
    s.watchAbove = options.watchAbove;
    s.giveUp = options.giveUp;
    s.passed = std::move(options.passed);
    s.firstStretches = std::move(options.first);
    s.hotStretches = std::move(options.hot);
    s.finishPassed = options.finishPassed;
    s.finishHot = options.finishHot;
    s.widened = std::move(options.widened);
    s.runner = std::move(options.runner);
    s.pause = std::move(options.pause);
    s.cancelled = options.cancelled;
    s.format = format;
    s.rate = sampleRate;
    s.frames = std::max<std::int64_t>(frames, 0);
    s.reference.reset(AudioEncoder::openEncoder(format, sampleRate, true));
    s.stated = AudioEncoder::statedLength(format, sampleRate, s.frames, std::max(s.reference->initial_padding, 0));
    if (!s.encodeInStretches(source) && !s.stopped()) {
        // The whole signal on one encoder.
        s.stretches.clear();
        s.stretches.resize(1);
        s.stretches[0].end = s.frames;
        s.run(1, [&](std::size_t) { s.encode(s.stretches[0], true, source); });
        s.joins = {0, s.stated};
        s.file.clear();
        for (const Packet& packet : s.stretches[0].packets) s.file.push_back(packet.get());
    }
}

AacStretches::AacStretches(ExportFormat format, int sampleRate, std::int64_t frames, const Source& source)
    : AacStretches(format, sampleRate, frames, source, Options{}) {}

AacStretches::~AacStretches() = default;

int AacStretches::count(int sampleRate, std::int64_t frames) {
    const double stretches = static_cast<double>(std::max<std::int64_t>(frames, 0)) / (kStretchSeconds * std::max(sampleRate, 1));
    return static_cast<int>(std::clamp<double>(std::round(stretches), 1.0, 1e6));
}

std::vector<std::int64_t> AacStretches::bounds(int sampleRate, std::int64_t frames) {
    // Stretches of about kStretchSeconds, whole frames each, the last one taking the rest.
    frames = std::max<std::int64_t>(frames, 0);
    const std::int64_t n = count(sampleRate, frames);
    const std::int64_t length = (frames / n) / kFrame * kFrame;
    std::vector<std::int64_t> out;
    for (std::int64_t i = 0; i < n; ++i) out.push_back(i * length);
    out.push_back(frames);
    return out;
}

bool AacStretches::gaveUp() const { return impl_->stopped(); }

std::vector<int> AacStretches::passedHottestFirst() const {
    std::vector<int> out;
    for (std::size_t i = 0; i < impl_->stretches.size(); ++i)
        if (impl_->stretches[i].passedPeak > 0.0f) out.push_back(static_cast<int>(i));
    std::stable_sort(out.begin(), out.end(), [&](int a, int b) {
        return impl_->stretches[static_cast<std::size_t>(a)].passedPeak > impl_->stretches[static_cast<std::size_t>(b)].passedPeak;
    });
    return out;
}

AacStretches::Peaks AacStretches::peaks() const {
    const Impl& s = *impl_;
    if (s.stopped()) return {s.reached, s.reached};
    if (s.file.empty()) return {};
    std::vector<Peaks> parts(s.stretches.size());
    s.run(parts.size(), [&](std::size_t i) {
        if (!s.stopped()) parts[i] = s.measure(s.joins[i], s.joins[i + 1]);
    });
    Peaks peaks;
    for (const Peaks& part : parts) {
        peaks.truePeak = std::max(peaks.truePeak, part.truePeak);
        peaks.samplePeak = std::max(peaks.samplePeak, part.samplePeak);
    }
    return peaks;
}

void AacStretches::decode(const AudioEncoder::DecodedSink& sink) const {
    const Impl& s = *impl_;
    Decoder decoder(*s.reference);
    std::int64_t skip = std::max(s.reference->initial_padding, 0);
    std::int64_t delivered = 0;
    for (const AVPacket* packet : s.file) {
        decoder.decode(*packet, [&](const float* l, const float* r, std::size_t count) {
            const auto n = static_cast<std::int64_t>(count);
            const std::int64_t skipped = std::min(skip, n);
            skip -= skipped;
            const std::int64_t taken = std::clamp<std::int64_t>(std::min(n - skipped, s.stated - delivered), 0, n);
            if (taken > 0) sink(l + skipped, r + skipped, static_cast<std::size_t>(taken));
            delivered += taken;
        });
    }
}

void AacStretches::writeInto(int fd) const {
    AudioEncoder encoder(fd, impl_->format, impl_->rate);
    for (const AVPacket* packet : impl_->file) encoder.writeEncoded(*packet);
    encoder.finish();
}

std::vector<std::int64_t> AacStretches::joins() const {
    const auto& joins = impl_->joins;
    return joins.size() > 2 ? std::vector<std::int64_t>(joins.begin() + 1, joins.end() - 1) : std::vector<std::int64_t>{};
}

std::optional<std::size_t> AacStretches::chooseJoin(std::span<const double> own, std::span<const double> later,
                                                    const std::function<std::optional<double>(std::size_t k)>& joinFrame) {
    constexpr auto window = static_cast<std::size_t>(kJoinWindow);
    // Errors this small are the decoder's rounding: any join will do there.
    const double floor = 1e-9 * static_cast<double>(2 * kJoinWindow * kFrame);
    std::optional<std::size_t> closest;
    double closestRatio = 2.0;
    for (std::size_t k = 0; k + window <= later.size() && k + 2 * window <= own.size(); ++k) {
        const std::size_t ownAt = k + window;  // the join frame among the earlier encoder's
        double alone = 0.0, joined = 0.0;
        for (std::size_t f = ownAt - window; f < ownAt + window; ++f) alone += own[f];
        for (std::size_t f = ownAt - window; f < ownAt; ++f) joined += own[f];
        for (std::size_t f = k + 1; f < k + window; ++f) joined += later[f];
        if (joined > closestRatio * alone + floor) continue;
        const std::optional<double> frame = joinFrame(k);
        if (!frame) continue;
        joined += *frame;
        if (joined <= kJoinTolerance * alone + floor) return k;
        if (joined <= closestRatio * alone + floor) {
            closest = k;
            closestRatio = (joined - floor) / std::max(alone, 1e-30);
        }
    }
    return closest;
}

int AacStretches::threads() {
    if (const int set = threadsSet.load(std::memory_order_relaxed); set > 0) return set;
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    if (sched_getaffinity(0, sizeof cpus, &cpus) == 0 && CPU_COUNT(&cpus) > 0) return CPU_COUNT(&cpus);
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

void AacStretches::setThreads(int threads) { threadsSet.store(std::max(threads, 0), std::memory_order_relaxed); }

int AacStretches::stretches() const { return static_cast<int>(impl_->stretches.size()); }

}  // namespace tessoral
