#include "processing/AudioIO.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/mem.h>
#include <libavutil/samplefmt.h>
}

// Our own read callbacks are used, so the header's unused static ones are left out.
#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include "model/Frames.h"
#include "model/Limits.h"
#include "model/Localization.h"
#include "model/NumberFormat.h"
#include "model/StudioError.h"
#include "processing/FFmpegSupport.h"
#include "processing/Resampler.h"
#include "processing/SourceView.h"

namespace tessoral::AudioIO {

namespace {

struct FormatCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};

[[noreturn]] void failMultichannel() {
    throw StudioError(L("Поддерживаются моно и стерео. Сначала сведите многоканальный файл."));
}
[[noreturn]] void failUnsupported() { throw StudioError(L("Этот формат аудио не поддерживается.")); }
// A failure of the system (an errno code) rather than something about the file's contents; see
// failOpen for the two errno codes that are the latter.
bool systemError(int code) { return code > -4096 && code != AVERROR(ENOMEM) && code != AVERROR(EINVAL); }
// The reason in the program's words, never the library's English: a code without a text of the
// program's own (a codec's private one, such as the AC3 parser's) means damage, or a failure of
// the system when it is an errno code.
std::string reason(int code) {
    return ffmpeg::errorText(code, systemError(code) ? L("ошибка ввода-вывода") : L("файл повреждён или не является аудиофайлом"));
}

}  // namespace

// While a file is opened, a refused allocation means a size its header declares beyond any
// audio's (ffmpeg::kMaxAllocation): damage, not a lack of memory. So does an invalid argument:
// the MP3 reader's answer to a frame or tag that runs past the end of the file.
[[noreturn]] void failOpen(int code) {
    if (code == AVERROR(ENOMEM) || code == AVERROR(EINVAL)) code = AVERROR_INVALIDDATA;
    throw PlatformError(L("Не удалось открыть аудиофайл: {0}", reason(code)));
}

namespace {

[[noreturn]] void failRead(int code) {
    throw PlatformError(L("Не удалось прочитать аудиофайл: {0}", reason(code)));
}
[[noreturn]] void failDecode(int code) {
    throw PlatformError(L("Не удалось декодировать аудиофайл: {0}", reason(code)));
}
// A library's EIO is a failure of the system only when a read of the file failed: the WavPack
// demuxer gives it for a block that the end of the file cuts short.
int causeOf(int code, const SourceView& source) {
    return code == AVERROR(EIO) && !source.readFailed() ? AVERROR_INVALIDDATA : code;
}


// Converts `n` samples of one channel to float, reading every `stride`-th element.
template <class T, class F>
void convert(const void* source, int stride, int n, float* out, F scale) {
    const T* s = static_cast<const T*>(source);
    for (int i = 0; i < n; ++i) out[i] = scale(s[static_cast<std::ptrdiff_t>(i) * stride]);
}

// Writes the first `n` frames of channel `c` of a decoded frame as float into `out`.
// False for a sample format this decoder does not know.
bool channelToFloat(const AVFrame& frame, int channels, int c, int n, float* out) {
    const auto format = static_cast<AVSampleFormat>(frame.format);
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    const void* source = nullptr;
    int stride = 1;
    const int bytes = av_get_bytes_per_sample(format);
    if (bytes <= 0) return false;
    if (planar) {
        source = frame.extended_data[c];
    } else {
        source = frame.extended_data[0] + static_cast<std::ptrdiff_t>(c) * bytes;
        stride = channels;
    }
    switch (av_get_packed_sample_fmt(format)) {
        case AV_SAMPLE_FMT_U8:
            convert<std::uint8_t>(source, stride, n, out, [](std::uint8_t v) { return (float(v) - 128.0f) / 128.0f; });
            return true;
        case AV_SAMPLE_FMT_S16:
            convert<std::int16_t>(source, stride, n, out, [](std::int16_t v) { return float(v) * (1.0f / 32768.0f); });
            return true;
        case AV_SAMPLE_FMT_S32:
            convert<std::int32_t>(source, stride, n, out,
                                  [](std::int32_t v) { return float(double(v) * (1.0 / 2147483648.0)); });
            return true;
        case AV_SAMPLE_FMT_S64:
            convert<std::int64_t>(source, stride, n, out,
                                  [](std::int64_t v) { return float(double(v) * (1.0 / 9223372036854775808.0)); });
            return true;
        case AV_SAMPLE_FMT_FLT:
            convert<float>(source, stride, n, out, [](float v) { return v; });
            return true;
        case AV_SAMPLE_FMT_DBL:
            convert<double>(source, stride, n, out, [](double v) { return float(v); });
            return true;
        default:
            return false;
    }
}

// Sets every sample that is not a number (NaN, an infinity) to silence, as the source holds no
// sound there; returns how many there were.
std::int64_t silenceNonFinite(float* x, std::size_t n) {
    std::int64_t count = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (!std::isfinite(x[i])) {
            x[i] = 0.0f;
            ++count;
        }
    }
    return count;
}

// Collects decoded samples, resampled to 48 kHz, into the two output channels. A run of frames
// with one rate and channel count goes through one converter; a change starts a new one.
// While only mono material has arrived, just the left channel is kept.
class Collector {
public:
    // With `ownRate` the frames keep the stream's rate instead of being converted to 48 kHz.
    explicit Collector(std::int64_t reserve, bool ownRate = false) : ownRate_(ownRate) {
        left_.reserve(static_cast<std::size_t>(reserve));
    }

    // `frames` frames of float samples, one array per channel (one or two). They are converted in
    // pieces that become at most about kDecodeBlock frames each, and the length limit is checked
    // after every piece: a stream at a very low rate (2 Hz turns each frame into 24,000) is refused
    // before it has grown by gigabytes.
    void add(const std::array<const float*, 2>& in, int rate, int channels, int frames) {
        if (channels != channels_ || rate != rate_) startRun(rate, channels);
        const int piece = rate > 0 && rate < kSampleRate && !ownRate_
                              ? static_cast<int>(std::max<std::int64_t>(1, kDecodeBlock * rate / kSampleRate))
                              : frames;
        for (int done = 0; done < frames; done += piece) {
            const auto n = static_cast<std::size_t>(std::min(piece, frames - done));
            const std::array<const float*, 2> at{in[0] + done, channels == 2 ? in[1] + done : nullptr};
            const std::size_t before = left_.size();
            if (channels == 1) {
                std::array<std::vector<float>*, 1> out{&left_};
                resampler_->process(std::span(at.data(), 1), n, out);
            } else {
                std::array<std::vector<float>*, 2> out{&left_, &right_};
                resampler_->process(at, n, out);
            }
            afterOutput(before);
        }
    }

    // Ends the signal and returns it, cut to the clip limit.
    AudioData finish() {
        endRun();
        const auto keep = static_cast<std::size_t>(std::min<std::int64_t>(frames(), limits::kMaxFrames));
        // A length estimate far below the truth left the arrays grown well beyond their contents.
        auto fit = [keep](std::vector<float>& v) {
            v.resize(keep);
            if (v.capacity() > keep + keep / 8 + kDecodeBlock) v.shrink_to_fit();
        };
        fit(left_);
        if (!stereo_) return AudioData::mono(std::move(left_));
        fit(right_);
        return AudioData(std::move(left_), std::move(right_));
    }

    std::int64_t frames() const { return static_cast<std::int64_t>(left_.size()); }

    // Samples that were not numbers, silenced on the way.
    std::int64_t replaced() const { return replaced_; }
    void noteReplaced(std::int64_t n) { replaced_ += n; }

private:
    void startRun(int rate, int channels) {
        endRun();
        if (channels == 2 && !stereo_) {
            // Stereo after mono (or at the start): the mono so far becomes both channels.
            stereo_ = true;
            right_.reserve(left_.capacity());
            right_ = left_;
        }
        try {
            resampler_.emplace(rate, ownRate_ ? rate : kSampleRate, static_cast<unsigned>(channels), Resampler::Quality::high);
        } catch (const PlatformError&) {
            failUnsupported();
        }
        rate_ = rate;
        channels_ = channels;
    }

    void endRun() {
        if (!resampler_) return;
        const std::size_t before = left_.size();
        if (channels_ == 1) {
            std::array<std::vector<float>*, 1> out{&left_};
            resampler_->flush(out);
        } else {
            std::array<std::vector<float>*, 2> out{&left_, &right_};
            resampler_->flush(out);
        }
        resampler_.reset();
        afterOutput(before);
    }

    // Mono material inside a stereo signal goes to both channels; then the length check. Finite
    // samples whose filtering overflows (near the float range's end) are silenced too.
    void afterOutput(std::size_t before) {
        replaced_ += silenceNonFinite(left_.data() + before, left_.size() - before);
        if (channels_ == 2) replaced_ += silenceNonFinite(right_.data() + before, right_.size() - before);
        if (stereo_ && channels_ == 1) right_.insert(right_.end(), left_.begin() + static_cast<std::ptrdiff_t>(before), left_.end());
        if (frames() > kDecodeAbortFrames) throw StudioError(L("Слишком длинный аудиофайл."));
    }

    std::int64_t replaced_ = 0;
    std::vector<float> left_;
    std::vector<float> right_;
    bool stereo_ = false;
    bool ownRate_ = false;
    int rate_ = 0;
    int channels_ = 0;
    std::optional<Resampler> resampler_;
};

// Decoding and resampling run as a pipeline: the reading thread decodes and converts to float
// in blocks of up to kDecodeBlock frames, a second thread resamples them into the collector. The
// blocks keep their order, and so do the errors: a failure on either side surfaces as the first
// one a single thread would have met.
class Pipeline {
public:
    explicit Pipeline(Collector& collector) : collector_(collector) {
        worker_ = std::thread([this] { consume(); });
    }
    ~Pipeline() {
        {
            std::lock_guard guard(lock_);
            closed_ = true;
            abandoned_ = true;
        }
        changed_.notify_all();
        if (worker_.joinable()) worker_.join();
    }
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    // Appends `n` frames of a decoded frame to the block being filled.
    void add(const AVFrame& frame, int rate, int channels, int n) {
        Block& b = blockFor(rate, channels, n);
        for (int c = 0; c < channels; ++c) {
            float* out = b.samples[static_cast<std::size_t>(c)].data() + b.frames;
            if (!channelToFloat(frame, channels, c, n, out)) failUnsupported();
            replaced_ += silenceNonFinite(out, static_cast<std::size_t>(n));
        }
        b.frames += n;
        if (b.frames >= kDecodeBlock) send();
    }
    // The same for float samples, one array per channel.
    void add(const std::array<const float*, 2>& in, int rate, int channels, int n) {
        Block& b = blockFor(rate, channels, n);
        for (int c = 0; c < channels; ++c) {
            const auto i = static_cast<std::size_t>(c);
            std::copy(in[i], in[i] + n, b.samples[i].data() + b.frames);
            replaced_ += silenceNonFinite(b.samples[i].data() + b.frames, static_cast<std::size_t>(n));
        }
        b.frames += n;
        if (b.frames >= kDecodeBlock) send();
    }

    // Runs the reading side; returns when every block has been resampled. Throws the first
    // failure in the order of the signal.
    template <class Decode>
    void run(Decode&& decode) {
        std::exception_ptr failure;
        try {
            decode();
            send();
        } catch (...) {
            failure = std::current_exception();
        }
        {
            std::lock_guard guard(lock_);
            closed_ = true;
        }
        changed_.notify_all();
        worker_.join();
        collector_.noteReplaced(replaced_);
        // The resampling side stopped first only when it failed on an earlier block.
        if (consumerFailure_) std::rethrow_exception(consumerFailure_);
        if (failure) std::rethrow_exception(failure);
    }

private:
    struct Block {
        std::array<std::vector<float>, 2> samples;
        int rate = 0;
        int channels = 0;
        int frames = 0;
    };
    static constexpr std::size_t kDepth = 8;  // blocks under way at most

    Block& blockFor(int rate, int channels, int n) {
        if (filling_ && (filling_->rate != rate || filling_->channels != channels)) send();
        if (!filling_) {
            filling_ = takeSpare();
            filling_->rate = rate;
            filling_->channels = channels;
            filling_->frames = 0;
        }
        Block& b = *filling_;
        const auto need = static_cast<std::size_t>(b.frames + n);
        for (int c = 0; c < channels; ++c) {
            auto& v = b.samples[static_cast<std::size_t>(c)];
            if (v.size() < need) v.resize(std::max<std::size_t>(need, kDecodeBlock));
        }
        return b;
    }

    // A free block, waiting while the resampling side is kDepth blocks behind.
    std::unique_ptr<Block> takeSpare() {
        std::unique_lock guard(lock_);
        changed_.wait(guard, [&] { return consumerFailure_ || !spare_.empty() || made_ < kDepth; });
        if (consumerFailure_) std::rethrow_exception(consumerFailure_);
        if (!spare_.empty()) {
            auto b = std::move(spare_.back());
            spare_.pop_back();
            return b;
        }
        ++made_;
        return std::make_unique<Block>();
    }

    void send() {
        if (!filling_) return;
        if (filling_->frames == 0) {
            std::lock_guard guard(lock_);
            spare_.push_back(std::move(filling_));
            return;
        }
        {
            std::lock_guard guard(lock_);
            if (consumerFailure_) std::rethrow_exception(consumerFailure_);
            ready_.push_back(std::move(filling_));
        }
        changed_.notify_all();
    }

    void consume() {
        for (;;) {
            std::unique_ptr<Block> b;
            {
                std::unique_lock guard(lock_);
                changed_.wait(guard, [&] { return !ready_.empty() || closed_; });
                if (abandoned_ || ready_.empty()) return;
                b = std::move(ready_.front());
                ready_.pop_front();
            }
            try {
                const std::array<const float*, 2> in{b->samples[0].data(), b->channels == 2 ? b->samples[1].data() : nullptr};
                collector_.add(in, b->rate, b->channels, b->frames);
            } catch (...) {
                std::lock_guard guard(lock_);
                consumerFailure_ = std::current_exception();
                changed_.notify_all();
                return;
            }
            {
                std::lock_guard guard(lock_);
                spare_.push_back(std::move(b));
            }
            changed_.notify_all();
        }
    }

    Collector& collector_;
    std::int64_t replaced_ = 0;       // reading side only
    std::unique_ptr<Block> filling_;  // reading side only
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<std::unique_ptr<Block>> ready_;
    std::vector<std::unique_ptr<Block>> spare_;
    std::size_t made_ = 0;
    bool closed_ = false;     // nothing more will be sent
    bool abandoned_ = false;  // the reading side gave up: stop at once
    std::exception_ptr consumerFailure_;
    std::thread worker_;
};

// What the container says about the stream's length before decoding.
struct StatedLength {
    bool stated = false;            // the file states its length: not an estimate from the bit rate
    double expectedFrames = 0.0;    // at 48 kHz; NaN when nothing is known
    bool trim = false;              // the stream's own exact length: the decoded signal is cut to it
    std::int64_t sourceFrames = 0;  // at the stream's own rate, where the stream states its length
    double slackFrames = 0.0;       // at 48 kHz: how far the statement may exceed the decoded length
};

StatedLength statedLength(const AVFormatContext& format, const AVStream& stream, int sampleRate) {
    StatedLength s;
    s.expectedFrames = std::nan("");
    const bool ogg = format.iformat && std::strcmp(format.iformat->name, "ogg") == 0;
    const bool estimated = format.duration_estimation_method == AVFMT_DURATION_FROM_BITRATE;
    const int frameSize = stream.codecpar->frame_size > 0 ? stream.codecpar->frame_size : 2048;
    const double codecFrames = sampleRate > 0 ? 2.0 * frameSize * kSampleRate / sampleRate : 0.0;
    const AVRational tb = stream.time_base;
    if (stream.duration != AV_NOPTS_VALUE && stream.duration >= 0 && tb.num > 0 && tb.den > 0) {
        std::int64_t duration = stream.duration;
        // A stated start offset is the encoder's priming, which the decoder drops; such a
        // duration also counts the end padding, up to about two codec frames.
        if (stream.start_time != AV_NOPTS_VALUE && stream.start_time > 0 && stream.start_time < duration) {
            duration -= stream.start_time;
            s.slackFrames = codecFrames;
        }
        s.expectedFrames = static_cast<double>(duration) * tb.num / tb.den * kSampleRate;
        s.stated = !estimated && sampleRate > 0;
        // The Ogg demuxer cuts each stream's end padding at its last granule itself; its duration
        // runs from where a skeleton stream says the stream starts, which need not be where its
        // data does, and in a chained file it is the last link's: no length to cut the sound to.
        s.trim = s.stated && !ogg;
        if (s.stated) s.sourceFrames = av_rescale_q(duration, tb, AVRational{1, sampleRate});
    } else if (format.duration != AV_NOPTS_VALUE && format.duration >= 0) {
        // Only the container states a duration (Matroska, WebM): it counts for the length check,
        // but in the container's own resolution (a millisecond) and with the codec's delay and
        // padding, so it is never used to cut the decoded signal.
        s.expectedFrames = static_cast<double>(format.duration) / AV_TIME_BASE * kSampleRate;
        s.stated = !estimated;
        s.slackFrames = codecFrames + kSampleRate / 1000.0;
    }
    return s;
}

// Read callbacks of libvorbisfile over the file as the view shows it.
std::size_t vorbisRead(void* buffer, std::size_t size, std::size_t count, void* view) {
    return static_cast<SourceView*>(view)->readItems(buffer, size, count);
}
int vorbisSeek(void* view, ogg_int64_t offset, int whence) {
    return static_cast<SourceView*>(view)->seekTo(offset, whence);
}
long vorbisTell(void* view) { return static_cast<long>(static_cast<SourceView*>(view)->tell()); }

// libvorbisfile's error codes in the program's words (the library has no text of its own).
// OV_EREAD is a failure of the system only where a read of the file failed (causeOf).
std::string vorbisErrorText(long code, const SourceView& source) {
    switch (code) {
        case OV_EREAD: return reason(causeOf(AVERROR(EIO), source));
        case OV_EIMPL:
        case OV_EVERSION: return reason(AVERROR_PATCHWELCOME);
        default: return reason(AVERROR_INVALIDDATA);
    }
}

// Vorbis in Ogg through libvorbisfile, which delivers every frame up to the length the last page
// states (FFmpeg's decoders lose up to a block's overlap, 128 frames, at the end of some files).
// Chained streams may change rate and channel count; damaged data is refused (a page missing or
// failing its checksum inside the stream, which libvorbisfile may take for an early end, was
// refused before: SourceView::pagesMissing).
void decodeVorbis(SourceView& source, Pipeline& pipeline) {
    source.seekTo(0, SEEK_SET);
    OggVorbis_File vorbis;
    const ov_callbacks callbacks{vorbisRead, vorbisSeek, nullptr, vorbisTell};
    const int opened = ov_open_callbacks(&source, &vorbis, nullptr, 0, callbacks);
    // A failed open has cleaned up after itself.
    if (opened < 0) throw PlatformError(L("Не удалось открыть аудиофайл: {0}", vorbisErrorText(opened, source)));
    struct Clear {
        OggVorbis_File* v;
        ~Clear() { ov_clear(v); }
    } clear{&vorbis};
    for (;;) {
        float** pcm = nullptr;
        int link = 0;
        const long n = ov_read_float(&vorbis, &pcm, static_cast<int>(kDecodeBlock), &link);
        if (n == 0) return;
        if (n < 0) throw PlatformError(L("Не удалось декодировать аудиофайл: {0}", vorbisErrorText(n, source)));
        const vorbis_info* info = ov_info(&vorbis, link);
        if (!info || !pcm) throw PlatformError(L("Не удалось декодировать аудиофайл: {0}", vorbisErrorText(OV_EBADLINK, source)));
        if (info->channels >= 3) failMultichannel();
        if (info->channels < 1 || info->rate <= 0 || info->rate > std::numeric_limits<int>::max())
            throw StudioError(L("Не удалось прочитать аудиофайл."));
        const std::array<const float*, 2> in{pcm[0], info->channels == 2 ? pcm[1] : nullptr};
        pipeline.add(in, static_cast<int>(info->rate), info->channels, static_cast<int>(n));
    }
}

// 7. and 8.: the decoded signal cut to the clip limit, or the refusal of a file without sound.
thread_local std::int64_t nonFiniteSilenced = 0;
thread_local bool endedEarly = false;
thread_local std::int64_t bytesRead = 0;

AudioData finished(Collector& collector, const StatedLength& stated) {
    AudioData audio = collector.finish();
    nonFiniteSilenced = collector.replaced();
    if (audio.empty()) {
        // A container that states no length and holds nothing is a file of zero frames.
        if (!(stated.expectedFrames > 0.0)) {
            throw StudioError(L("Откройте аудиофайл длительностью от одного сэмпла до 8 минут."));
        }
        throw StudioError(L("Аудиофайл не содержит звука."));
    }
    return audio;
}

// What follows the last whole frame is no damage: bytes a writer left there (zeros, a line end,
// an MP3's Lyrics3 tag) or the partial last frame of a file cut short. The whole frames before
// them import, as the ffmpeg program plays them. So an error about the data, once sound has been
// decoded, is held back: a frame decoded after it shows damage inside the stream, which is
// refused with that error; the end of the file reached without one makes it the tail. Zeros to
// the end of the file are not searched for frames, and a tail that yields no frame for kWindow
// bytes, or that the demuxer does not move through, is refused as damage rather than read on.
class Tail {
public:
    explicit Tail(SourceView& source) : source_(source) {}

    // An error of the decoder, or of the demuxer (`inRead`). Thrown unless it may be the tail's.
    void error(int code, bool inRead) {
        code = causeOf(code, source_);
        if (!sound_ || systemError(code)) fail(code, inRead);
        if (!held_) {
            held_ = code;
            inRead_ = inRead;
            at_ = source_.position();
        }
        source_.endBeforeZeros();
        check();
    }
    // The same for a failed read; true when reading is over: the demuxer failed again and again
    // without moving on, at the end of the view (before it, the file is refused).
    bool readError(int code) {
        error(code, true);
        stuck_ = source_.position() == failedAt_ ? stuck_ + 1 : 0;
        failedAt_ = source_.position();
        if (stuck_ <= kStuck) return false;
        if (!source_.exhausted()) fail(*held_, inRead_);
        return true;
    }
    void packetRead() {
        stuck_ = 0;
        check();
    }
    // A decoded frame that holds samples.
    void sound() {
        if (held_) fail(*held_, inRead_);
        sound_ = true;
    }

private:
    void check() const {
        if (held_ && source_.position() - at_ > kWindow) fail(*held_, inRead_);
    }
    [[noreturn]] static void fail(int code, bool inRead) { inRead ? failRead(code) : failDecode(code); }
    static constexpr std::int64_t kWindow = std::int64_t{4} << 20;  // many frames of every codec
    static constexpr int kStuck = 64;

    SourceView& source_;
    bool sound_ = false;
    std::optional<int> held_;
    bool inRead_ = false;
    std::int64_t at_ = 0;  // where the view's reading stood at the held error
    std::int64_t failedAt_ = -1;  // where the view's reading stood at the last failed read
    int stuck_ = 0;               // failed reads in a row there
};

// Whether a FLAC stream of which `decoded` frames decoded was cut short by the end of its file,
// rather than damaged: its last frame header whose checksum holds is that of the frame that
// would have come next, or of the last frame decoded when that frame runs exactly to the end.
// A last frame whose header is damaged vanishes without an error, and is refused.
bool flacCutShort(const SourceView& source, const AVCodecParameters& stream, std::int64_t decoded) {
    if (stream.extradata_size < 2) return false;
    const std::int64_t blockSize = stream.extradata[0] << 8 | stream.extradata[1];  // STREAMINFO's least
    const std::string tail = source.lastBytes(std::int64_t{1} << 20);
    const auto* b = reinterpret_cast<const unsigned char*>(tail.data());
    auto crc = [b](std::size_t from, std::size_t to, int bits, unsigned poly) {
        unsigned r = 0;
        const unsigned top = 1u << (bits - 1), mask = (top << 1) - 1;
        for (std::size_t i = from; i < to; ++i) {
            r ^= static_cast<unsigned>(b[i]) << (bits - 8);
            for (int k = 0; k < 8; ++k) r = (r & top) != 0 ? ((r << 1) ^ poly) & mask : (r << 1) & mask;
        }
        return r;
    };
    for (std::size_t at = tail.size() >= 6 ? tail.size() - 6 : 0; at-- > 0;) {
        if (b[at] != 0xFF || (b[at + 1] & 0xFE) != 0xF8) continue;
        // The frame's (fixed blocks) or first sample's number, coded as UTF-8 is.
        std::size_t i = at + 4;
        int more = 0;
        std::int64_t number = b[i];
        while (more < 6 && (b[i] & (0x80 >> more)) != 0) ++more;
        if (more == 1 || more > 6) continue;
        if (more > 0) number &= 0x7F >> more;
        for (int k = 1; k < more && i + static_cast<std::size_t>(k) < tail.size(); ++k) number = number << 6 | (b[i + k] & 0x3F);
        i += static_cast<std::size_t>(std::max(more, 1));
        const int sizeCode = b[at + 2] >> 4, rateCode = b[at + 2] & 15;
        // Sound data may read as a header whose checksum holds (one in 256 do): the rate and the
        // channels must be the stream's, the reserved codes unused.
        static constexpr int kRates[] = {0, 88200, 176400, 192000, 8000, 16000, 22050, 24000, 32000, 44100, 48000, 96000};
        const int channelCode = b[at + 3] >> 4;
        const int channels = channelCode < 8 ? channelCode + 1 : channelCode <= 10 ? 2 : 0;
        if (sizeCode == 0 || rateCode == 15 || (rateCode > 0 && rateCode < 12 && kRates[rateCode] != stream.sample_rate) ||
            channels != stream.ch_layout.nb_channels || ((b[at + 3] >> 1) & 7) == 3 || (b[at + 3] & 1) != 0)
            continue;
        std::int64_t size = sizeCode == 1 ? 192 : sizeCode <= 5 ? 576 << (sizeCode - 2) : sizeCode >= 8 ? 256 << (sizeCode - 8) : 0;
        if (sizeCode == 6 || sizeCode == 7) {
            size = 1;
            for (int k = 0; k <= sizeCode - 6; ++k) size += i < tail.size() ? std::int64_t{b[i++]} << (8 * (sizeCode - 6 - k)) : 0;
        }
        i += rateCode == 12 ? 1 : rateCode == 13 || rateCode == 14 ? 2 : 0;
        if (i >= tail.size() || crc(at, i, 8, 0x07) != b[i]) continue;
        const std::int64_t start = (b[at + 1] & 1) != 0 ? number : number * blockSize;
        return start == decoded || (start + size == decoded && tail.size() - at >= 2 &&
                                    crc(at, tail.size() - 2, 16, 0x8005) ==
                                        (static_cast<unsigned>(b[tail.size() - 2]) << 8 | b[tail.size() - 1]));
    }
    return false;
}

// The frames that FLAC in an Ogg file states in its STREAMINFO block (0: none stated, or not such
// a stream). The Ogg demuxer states no length of its own before the last page, which a copy cut
// short has lost. A file cut out of a longer one keeps the longer one's STREAMINFO, and ends
// with a last page of its own.
std::int64_t flacInOggLength(const std::string& container, const AVCodecParameters& stream) {
    if (stream.codec_id != AV_CODEC_ID_FLAC || container != "ogg" || stream.extradata_size < 18) return 0;
    const std::uint8_t* b = stream.extradata;
    return std::int64_t{b[13] & 0x0F} << 32 | std::int64_t{b[14]} << 24 | b[15] << 16 | b[16] << 8 | b[17];
}

thread_local int decoderThreadsUsed = 0;

int defaultDecoderThreads() { return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 4u)); }

AudioData decode(const std::filesystem::path& path, int decoderThreads, bool ownRate, int* rateOut,
                 std::pair<std::int64_t, std::int64_t> range = {0, INT64_MAX});

}  // namespace

AudioData read(const std::filesystem::path& path) { return decode(path, defaultDecoderThreads(), false, nullptr); }

AudioData read(const std::filesystem::path& path, int decoderThreads) { return decode(path, decoderThreads, false, nullptr); }

AudioData readWithSourceRate(const std::filesystem::path& path, int& sourceRate) {
    return decode(path, defaultDecoderThreads(), false, &sourceRate);
}

AudioData readAtOwnRate(const std::filesystem::path& path, int& sampleRate) {
    return decode(path, defaultDecoderThreads(), true, &sampleRate);
}

int lastDecoderThreads() { return decoderThreadsUsed; }

std::int64_t lastSilencedSamples() { return nonFiniteSilenced; }

bool lastEndedEarly() { return endedEarly; }

std::int64_t lastBytesRead() { return bytesRead; }

namespace {

// Each link of a chain whose links differ in codec decoded as a file of its own, one after the
// other: the whole chain, as a chain of one codec imports.
AudioData decodeLinks(const std::filesystem::path& path, const SourceView& source, int decoderThreads, bool ownRate, int* rateOut) {
    std::vector<float> left, right;
    bool stereo = false;
    std::int64_t silenced = 0, read = source.bytesRead();
    bool early = false;
    for (const auto& link : source.links()) {
        int rate = 0;
        const AudioData part = decode(path, decoderThreads, ownRate, &rate, link);
        if (rateOut && left.empty()) *rateOut = rate;
        silenced += nonFiniteSilenced;
        read += bytesRead;
        early = early || endedEarly;
        if (!part.left.sharesStorageWith(part.right) && !stereo) {
            stereo = true;
            right = left;
        }
        left.insert(left.end(), part.left.begin(), part.left.end());
        if (stereo) right.insert(right.end(), part.right.begin(), part.right.end());
        if (static_cast<std::int64_t>(left.size()) > kDecodeAbortFrames) throw StudioError(L("Слишком длинный аудиофайл."));
    }
    nonFiniteSilenced = silenced;
    endedEarly = early;
    bytesRead = read;
    const auto keep = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(left.size()), limits::kMaxFrames));
    left.resize(keep);
    if (!stereo) return AudioData::mono(std::move(left));
    right.resize(keep);
    return AudioData(std::move(left), std::move(right));
}

AudioData decode(const std::filesystem::path& path, int decoderThreads, bool ownRate, int* rateOut,
                 std::pair<std::int64_t, std::int64_t> range) {
    ffmpeg::setUp();
    decoderThreadsUsed = 0;
    nonFiniteSilenced = 0;
    endedEarly = false;

    // 0. Only regular files: opening a FIFO or a device could wait for ever.
    std::error_code statusError;
    const auto status = std::filesystem::status(path, statusError);
    if (!statusError && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        if (std::filesystem::is_directory(status)) failOpen(AVERROR(EISDIR));
        throw PlatformError(L("Не удалось открыть аудиофайл: {0}", L("это не обычный файл, а канал или устройство")));
    }

    // 1. Open. Only the local file protocol: a playlist inside the file must not reach the network.
    SourceView source(path, range.first, range.second);
    if (!source.links().empty()) return decodeLinks(path, source, decoderThreads, ownRate, rateOut);
    struct CountReads {
        const SourceView& source;
        ~CountReads() { bytesRead = source.bytesRead(); }
    } countReads{source};
    if (source.unsupported()) failUnsupported();
    if (source.pagesMissing()) failDecode(AVERROR_INVALIDDATA);
    AVIOContext* io = source.io();
    const std::string url = "file:" + path.string();  // the name that files it refers to are found beside
    const AVInputFormat* probed = nullptr;
    int rc = av_probe_input_buffer2(io, &probed, url.c_str(), nullptr, 0, 0);
    if (rc < 0) failOpen(causeOf(rc, source));
    for (const auto& [bare, sync] : {std::pair{"mp3", 0xFF}, {"ac3", 0x0B}, {"eac3", 0x0B}, {"aac", 0xFF}, {"flac", 0xFF}}) {
        if (std::strcmp(probed->name, bare) == 0) source.dropTail(static_cast<unsigned char>(sync));
    }
    if (std::strcmp(probed->name, "mp3") == 0) {
        source.passTags();
        io = source.io();  // the probe's bytes read again, through the search for tags
    }
    AVFormatContext* rawFormat = avformat_alloc_context();
    if (!rawFormat) failOpen(AVERROR(ENOMEM));
    rawFormat->pb = io;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    rc = avformat_open_input(&rawFormat, url.c_str(), probed, &options);
    av_dict_free(&options);
    if (rc < 0) failOpen(causeOf(rc, source));
    std::unique_ptr<AVFormatContext, FormatCloser> format(rawFormat);
    rc = avformat_find_stream_info(format.get(), nullptr);
    if (rc < 0) failOpen(causeOf(rc, source));
    const AVCodec* codec = nullptr;
    const int index = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (index == AVERROR_DECODER_NOT_FOUND) failUnsupported();
    if (index < 0) failOpen(index);
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (static_cast<int>(i) != index) format->streams[i]->discard = AVDISCARD_ALL;
    }
    AVStream& stream = *format->streams[index];

    // 2. Mono and stereo only, refused before any decoding.
    if (stream.codecpar->ch_layout.nb_channels >= 3) failMultichannel();

    // 3. The length pre-check, whenever the file states its length (in the stream or only in the
    // container) rather than leaving it to an estimate from the bit rate.
    const int sourceRate = stream.codecpar->sample_rate;
    const StatedLength stated = statedLength(*format, stream, sourceRate);
    if (stated.stated) {
        const double e = stated.expectedFrames;
        if (!(e > 0.0 && e <= static_cast<double>(limits::kMaxFrames) + stated.slackFrames)) {
            throw StudioError(L("Откройте аудиофайл длительностью от одного сэмпла до 8 минут."));
        }
    }

    // Room for the expected length plus one block.
    std::int64_t reserve = kDecodeBlock;
    if (std::isfinite(stated.expectedFrames) && stated.expectedFrames > 0) {
        reserve += truncSaturating(std::min(stated.expectedFrames, static_cast<double>(kDecodeAbortFrames)));
    }

    // Vorbis alone in an Ogg file goes to libvorbisfile (4.-6. there).
    if (codec->id == AV_CODEC_ID_VORBIS && format->nb_streams == 1 && format->iformat &&
        std::strcmp(format->iformat->name, "ogg") == 0) {
        format.reset();
        decoderThreadsUsed = 1;
        Collector collector(reserve, ownRate);
        if (rateOut) *rateOut = sourceRate;
        Pipeline pipeline(collector);
        pipeline.run([&] { decodeVorbis(source, pipeline); });
        return finished(collector, stated);
    }

    // 4. The decoder.
    std::unique_ptr<AVCodecContext, CodecFree> decoder(avcodec_alloc_context3(codec));
    if (!decoder) failUnsupported();
    rc = avcodec_parameters_to_context(decoder.get(), stream.codecpar);
    if (rc < 0) failUnsupported();
    decoder->pkt_timebase = stream.time_base;
    // A damaged frame must never vanish without a word: the lossless codecs fail on a frame
    // checksum or any inconsistency (FFmpeg otherwise only logs them), and where the timestamps
    // are exact to the sample (FLAC's own frame headers, the MP4 sample table) a frame that
    // starts later than the one before it ended, or a stream that ends short of its stated
    // length, counts as damage too (below): the parser skips a frame whose header is damaged,
    // and with frame threads FFmpeg 5.1 drops frames it could not decode. Only there may the
    // codec decode on several threads; other containers (Matroska's times are in milliseconds)
    // decode on one.
    const std::string container = format->iformat ? format->iformat->name : "";
    const bool exactTimes = (codec->id == AV_CODEC_ID_FLAC && container == "flac") ||
                            (codec->id == AV_CODEC_ID_ALAC && container.rfind("mov,mp4", 0) == 0);
    decoder->thread_count = exactTimes ? std::max(decoderThreads, 1) : 1;
    if (codec->id == AV_CODEC_ID_FLAC || codec->id == AV_CODEC_ID_ALAC)
        decoder->err_recognition |= AV_EF_CRCCHECK | AV_EF_EXPLODE;
    rc = avcodec_open2(decoder.get(), codec, nullptr);
    if (rc < 0) failOpen(causeOf(rc, source));
    // Frame threads run only where the codec started them.
    decoderThreadsUsed = (decoder->active_thread_type & FF_THREAD_FRAME) != 0 ? std::max(decoder->thread_count, 1) : 1;
    if (decoder->ch_layout.nb_channels >= 3) failMultichannel();
    std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
    if (!packet || !frame) failUnsupported();

    // 5. The output arrays, reserved above.
    Collector collector(reserve, ownRate);
    if (rateOut) *rateOut = sourceRate;
    Pipeline pipeline(collector);

    // 6. Decode. The decoder drops the encoder's priming itself (skip-samples side data); the
    // end padding is cut at the stream's stated length. Damaged data is refused, never skipped:
    // skipping would import a clip with a stretch missing and everything after it moved earlier.
    std::int64_t sourceTaken = 0;  // frames given to the converter, at the stream's rate
    bool trimToStated = stated.trim;
    // The frames past the stated length are held back: the end padding that the statement cuts,
    // unless more follows than any padding is. Then the statement does not describe the stream
    // (a Vorbis stream's beside a skeleton that starts it later than its first page), and what
    // the file holds imports.
    const int frameSize = stream.codecpar->frame_size > 0 ? stream.codecpar->frame_size : 2048;
    const std::int64_t mostPadding = std::max<std::int64_t>(kDecodeBlock, 2 * std::int64_t{frameSize});
    struct {
        std::array<std::vector<float>, 2> samples;
        int rate = 0;
        int channels = 0;
    } beyond;
    auto release = [&] {
        trimToStated = false;
        const auto n = static_cast<int>(beyond.samples[0].size());
        if (n == 0) return;
        pipeline.add({beyond.samples[0].data(), beyond.channels == 2 ? beyond.samples[1].data() : nullptr}, beyond.rate,
                     beyond.channels, n);
        sourceTaken += n;
        for (auto& c : beyond.samples) c.clear();
    };
    std::optional<std::int64_t> nextStart;  // where the next frame should start, where times are exact
    Tail tail(source);

    // In a chained Ogg Opus file whose links share a serial number the demuxer does not see the
    // next link begin, and passes its header packets on as if they were sound.
    const bool chainedOpus = source.chained() && codec->id == AV_CODEC_ID_OPUS;
    auto linkHeader = [&](const AVPacket& p) {
        return chainedOpus && p.size >= 8 && (std::memcmp(p.data, "OpusHead", 8) == 0 || std::memcmp(p.data, "OpusTags", 8) == 0);
    };

    // Takes the decoded frames; true when it stopped at an error held back as the tail's.
    auto drain = [&]() {
        for (;;) {
            const int r = avcodec_receive_frame(decoder.get(), frame.get());
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return false;
            if (r < 0) {
                tail.error(r, false);
                return true;
            }
            const int channels = frame->ch_layout.nb_channels;
            const int rate = frame->sample_rate > 0 ? frame->sample_rate : decoder->sample_rate;
            if (channels >= 3) failMultichannel();
            if (channels <= 0 || rate <= 0) throw StudioError(L("Не удалось прочитать аудиофайл."));
            if (trimToStated && (rate != sourceRate || (!beyond.samples[0].empty() && channels != beyond.channels))) release();
            if (exactTimes && frame->best_effort_timestamp != AV_NOPTS_VALUE) {
                const std::int64_t start = av_rescale_q(frame->best_effort_timestamp, stream.time_base, AVRational{1, rate});
                if (nextStart && start > *nextStart + 1) failDecode(AVERROR_INVALIDDATA);
                nextStart = start + frame->nb_samples;
            }
            if (frame->nb_samples > 0) tail.sound();
            const int all = frame->nb_samples;
            const int n = trimToStated ? static_cast<int>(std::clamp<std::int64_t>(stated.sourceFrames - sourceTaken, 0, all)) : all;
            if (n > 0) {
                pipeline.add(*frame, rate, channels, n);
                sourceTaken += n;
            }
            if (n < all) {
                beyond.rate = rate;
                beyond.channels = channels;
                std::vector<float> whole(static_cast<std::size_t>(all));
                for (int c = 0; c < channels; ++c) {
                    if (!channelToFloat(*frame, channels, c, all, whole.data())) failUnsupported();
                    beyond.samples[static_cast<std::size_t>(c)].insert(beyond.samples[static_cast<std::size_t>(c)].end(), whole.begin() + n, whole.end());
                }
                if (static_cast<std::int64_t>(beyond.samples[0].size()) > mostPadding) release();
            }
            av_frame_unref(frame.get());
        }
    };

    pipeline.run([&] {
        for (;;) {
            rc = av_read_frame(format.get(), packet.get());
            if (rc == AVERROR_EOF) break;
            if (rc == AVERROR(EAGAIN)) continue;
            if (rc < 0) {
                if (tail.readError(rc)) break;
                continue;
            }
            tail.packetRead();
            if (packet->stream_index == index && !linkHeader(*packet)) {
                int sent = avcodec_send_packet(decoder.get(), packet.get());
                if (sent == AVERROR(EAGAIN)) {
                    // The decoder's output is full: take it, then the packet is accepted.
                    drain();
                    sent = avcodec_send_packet(decoder.get(), packet.get());
                }
                av_packet_unref(packet.get());
                if (sent < 0 && sent != AVERROR(EAGAIN)) tail.error(sent, false);
                drain();
            } else {
                av_packet_unref(packet.get());
            }
        }
        avcodec_send_packet(decoder.get(), nullptr);
        // Each held error is one frame's; the frames after it still come.
        for (int frames = 0; drain() && frames < 1024; ++frames) {
        }
        // A damaged last frame leaves no later frame to show the gap; a FLAC file cut short is
        // no damage.
        const std::int64_t missing = trimToStated ? stated.sourceFrames - sourceTaken : 0;
        if (exactTimes && missing > 0 && !source.cutShort() &&
            !(codec->id == AV_CODEC_ID_FLAC && flacCutShort(source, *stream.codecpar, sourceTaken)))
            failDecode(AVERROR_INVALIDDATA);
        // A decoder may lose the last frame or two to bytes after them; only where times are
        // exact (and in PCM, whose frames are single samples) is a frame's shortfall the file's.
        const bool pcm = codec->id >= AV_CODEC_ID_PCM_S16LE && codec->id < AV_CODEC_ID_ADPCM_IMA_QT;
        endedEarly = source.cutShort() || missing > (exactTimes || pcm ? 0 : 2 * std::int64_t{frameSize}) ||
                     (sourceTaken < flacInOggLength(container, *stream.codecpar) && !source.ended());
    });

    return finished(collector, stated);
}

}  // namespace

}  // namespace tessoral::AudioIO
