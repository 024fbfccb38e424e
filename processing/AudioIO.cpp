#include "processing/AudioIO.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/samplefmt.h>
}

#include "model/Frames.h"
#include "model/Limits.h"
#include "model/Localization.h"
#include "model/StudioError.h"
#include "processing/FFmpegSupport.h"
#include "processing/Resampler.h"

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
[[noreturn]] void failOpen(int code) {
    throw PlatformError(L("Не удалось открыть аудиофайл: {0}", ffmpeg::errorText(code)));
}
[[noreturn]] void failRead(int code) {
    throw PlatformError(L("Не удалось прочитать аудиофайл: {0}", ffmpeg::errorText(code)));
}
[[noreturn]] void failDecode(int code) {
    throw PlatformError(L("Не удалось декодировать аудиофайл: {0}", ffmpeg::errorText(code)));
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

// Collects decoded frames, resampled to 48 kHz, into the two output channels. A run of frames
// with one rate and channel count goes through one converter; a change starts a new one.
// While only mono material has arrived, just the left channel is kept.
class Collector {
public:
    explicit Collector(std::int64_t reserve) {
        left_.reserve(static_cast<std::size_t>(reserve));
    }

    void add(const AVFrame& frame, int rate, int channels, int frames) {
        if (channels != channels_ || rate != rate_) startRun(rate, channels);
        std::array<const float*, 2> in{};
        const auto format = static_cast<AVSampleFormat>(frame.format);
        if (format == AV_SAMPLE_FMT_FLTP || (format == AV_SAMPLE_FMT_FLT && channels == 1)) {
            // Float in separate channels goes to the converter as it is.
            for (int c = 0; c < channels; ++c) in[static_cast<std::size_t>(c)] = reinterpret_cast<const float*>(frame.extended_data[c]);
        } else {
            for (int c = 0; c < channels; ++c) {
                auto& buffer = input_[static_cast<std::size_t>(c)];
                if (buffer.size() < static_cast<std::size_t>(frames)) buffer.resize(static_cast<std::size_t>(frames));
                if (!channelToFloat(frame, channels, c, frames, buffer.data())) failUnsupported();
                in[static_cast<std::size_t>(c)] = buffer.data();
            }
        }
        const std::size_t before = left_.size();
        if (channels == 1) {
            std::array<std::vector<float>*, 1> out{&left_};
            resampler_->process(std::span(in.data(), 1), static_cast<std::size_t>(frames), out);
        } else {
            std::array<std::vector<float>*, 2> out{&left_, &right_};
            resampler_->process(in, static_cast<std::size_t>(frames), out);
        }
        afterOutput(before);
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
            resampler_.emplace(rate, kSampleRate, static_cast<unsigned>(channels), Resampler::Quality::high);
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

    // Mono material inside a stereo signal goes to both channels; then the length check.
    void afterOutput(std::size_t before) {
        if (stereo_ && channels_ == 1) right_.insert(right_.end(), left_.begin() + static_cast<std::ptrdiff_t>(before), left_.end());
        if (frames() > kDecodeAbortFrames) throw StudioError(L("Слишком длинный аудиофайл."));
    }

    std::vector<float> left_;
    std::vector<float> right_;
    bool stereo_ = false;
    int rate_ = 0;
    int channels_ = 0;
    std::optional<Resampler> resampler_;
    std::array<std::vector<float>, 2> input_;
};

// What the container says about the stream's length before decoding.
struct StatedLength {
    bool exact = false;             // a stated duration, not an estimate from the bit rate
    double expectedFrames = 0.0;    // at 48 kHz; NaN when nothing is stated
    std::int64_t sourceFrames = 0;  // at the stream's own rate; meaningful when exact
    double slackFrames = 0.0;       // at 48 kHz: how far the statement may exceed the decoded length
};

StatedLength statedLength(const AVFormatContext& format, const AVStream& stream, int sampleRate) {
    StatedLength s;
    s.expectedFrames = std::nan("");
    const AVRational tb = stream.time_base;
    if (stream.duration != AV_NOPTS_VALUE && stream.duration >= 0 && tb.num > 0 && tb.den > 0) {
        std::int64_t duration = stream.duration;
        // A stated start offset is the encoder's priming, which the decoder drops; such a
        // duration also counts the end padding, up to about two codec frames.
        if (stream.start_time != AV_NOPTS_VALUE && stream.start_time > 0 && stream.start_time < duration) {
            duration -= stream.start_time;
            const int frameSize = stream.codecpar->frame_size > 0 ? stream.codecpar->frame_size : 2048;
            if (sampleRate > 0) s.slackFrames = 2.0 * frameSize * kSampleRate / sampleRate;
        }
        s.expectedFrames = static_cast<double>(duration) * tb.num / tb.den * kSampleRate;
        s.exact = format.duration_estimation_method != AVFMT_DURATION_FROM_BITRATE && sampleRate > 0;
        if (s.exact) s.sourceFrames = av_rescale_q(duration, tb, AVRational{1, sampleRate});
    } else if (format.duration != AV_NOPTS_VALUE && format.duration >= 0) {
        s.expectedFrames = static_cast<double>(format.duration) / AV_TIME_BASE * kSampleRate;
    }
    return s;
}

}  // namespace

AudioData read(const std::filesystem::path& path) {
    ffmpeg::silenceLog();

    // 0. Only regular files: opening a FIFO or a device could wait for ever.
    std::error_code statusError;
    const auto status = std::filesystem::status(path, statusError);
    if (!statusError && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
        failOpen(AVERROR(std::filesystem::is_directory(status) ? EISDIR : EINVAL));

    // 1. Open. Only the local file protocol: a playlist inside the file must not reach the network.
    AVFormatContext* rawFormat = nullptr;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    const std::string url = "file:" + path.string();
    int rc = avformat_open_input(&rawFormat, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (rc < 0) failOpen(rc);
    std::unique_ptr<AVFormatContext, FormatCloser> format(rawFormat);
    rc = avformat_find_stream_info(format.get(), nullptr);
    if (rc < 0) failOpen(rc);
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

    // 3. The length pre-check, when the container states the length rather than estimating it.
    const int sourceRate = stream.codecpar->sample_rate;
    const StatedLength stated = statedLength(*format, stream, sourceRate);
    if (stated.exact) {
        const double e = stated.expectedFrames;
        if (!(e > 0.0 && e <= static_cast<double>(limits::kMaxFrames) + stated.slackFrames)) {
            throw StudioError(L("Откройте аудиофайл длительностью от одного сэмпла до 8 минут."));
        }
    }

    // 4. The decoder.
    std::unique_ptr<AVCodecContext, CodecFree> decoder(avcodec_alloc_context3(codec));
    if (!decoder) failUnsupported();
    rc = avcodec_parameters_to_context(decoder.get(), stream.codecpar);
    if (rc < 0) failUnsupported();
    decoder->pkt_timebase = stream.time_base;
    // Decoders that can (FLAC, ALAC) decode frames on a few threads; the rest ignore it. A few
    // are enough: callers may run several decodes at once.
    decoder->thread_count = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
    rc = avcodec_open2(decoder.get(), codec, nullptr);
    if (rc < 0) failOpen(rc);
    if (decoder->ch_layout.nb_channels >= 3) failMultichannel();
    std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
    if (!packet || !frame) failUnsupported();

    // 5. Room for the expected length plus one block.
    std::int64_t reserve = kDecodeBlock;
    if (std::isfinite(stated.expectedFrames) && stated.expectedFrames > 0) {
        reserve += truncSaturating(std::min(stated.expectedFrames, static_cast<double>(kDecodeAbortFrames)));
    }
    Collector collector(reserve);

    // 6. Decode. The decoder drops the encoder's priming itself (skip-samples side data); the
    // end padding is cut at the stream's stated length.
    std::int64_t sourceTaken = 0;  // frames given to the converter, at the stream's rate
    bool trimToStated = stated.exact;
    int lastDecodeError = 0;
    bool reachedStated = false;

    auto drain = [&]() {
        for (;;) {
            const int r = avcodec_receive_frame(decoder.get(), frame.get());
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return;
            if (r == AVERROR_INVALIDDATA) {
                lastDecodeError = r;
                continue;
            }
            if (r < 0) failDecode(r);
            const int channels = frame->ch_layout.nb_channels;
            const int rate = frame->sample_rate > 0 ? frame->sample_rate : decoder->sample_rate;
            if (channels >= 3) failMultichannel();
            if (channels <= 0 || rate <= 0) throw StudioError(L("Не удалось прочитать аудиофайл."));
            if (rate != sourceRate) trimToStated = false;
            std::int64_t n = frame->nb_samples;
            if (trimToStated) n = std::min<std::int64_t>(n, stated.sourceFrames - sourceTaken);
            if (n > 0) {
                collector.add(*frame, rate, channels, static_cast<int>(n));
                sourceTaken += n;
            }
            if (trimToStated && sourceTaken >= stated.sourceFrames) reachedStated = true;
            av_frame_unref(frame.get());
        }
    };

    while (!reachedStated) {
        rc = av_read_frame(format.get(), packet.get());
        if (rc == AVERROR_EOF) break;
        if (rc == AVERROR(EAGAIN)) continue;
        if (rc < 0) failRead(rc);
        if (packet->stream_index == index) {
            const int sent = avcodec_send_packet(decoder.get(), packet.get());
            av_packet_unref(packet.get());
            if (sent == AVERROR_INVALIDDATA) {
                // A damaged packet is skipped, as players do; the rest of the file still decodes.
                lastDecodeError = sent;
            } else if (sent < 0 && sent != AVERROR(EAGAIN)) {
                failDecode(sent);
            }
            drain();
        } else {
            av_packet_unref(packet.get());
        }
    }
    if (!reachedStated) {
        avcodec_send_packet(decoder.get(), nullptr);
        drain();
    }

    AudioData audio = collector.finish();
    // 7. Nothing decoded.
    if (audio.empty()) {
        if (lastDecodeError != 0) failDecode(lastDecodeError);
        // A container that states no length and holds nothing is a file of zero frames.
        if (!(stated.expectedFrames > 0.0)) {
            throw StudioError(L("Откройте аудиофайл длительностью от одного сэмпла до 8 минут."));
        }
        throw StudioError(L("Аудиофайл не содержит звука."));
    }
    // 8. Cut to the clip limit (done in finish()).
    return audio;
}

}  // namespace tessoral::AudioIO
