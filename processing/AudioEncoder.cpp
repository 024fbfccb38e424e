#include "processing/AudioEncoder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
}

#include "model/Localization.h"
#include "model/StudioError.h"
#include "processing/FFmpegSupport.h"

namespace tessoral {

namespace {

// Frames per call for encoders that take any frame count (PCM).
constexpr int kVariableFrameSize = 4096;
// Frames converted per step before they enter the FIFO.
constexpr std::size_t kConvertBlock = 8192;
// The custom I/O context's buffer.
constexpr int kIOBuffer = 1 << 16;

[[noreturn]] void failDetail(const std::string& detail) { throw AudioWriteError(detail); }

[[noreturn]] void failErrno(int error) { failDetail(std::error_code(error, std::system_category()).message()); }

[[noreturn]] void failMemory() { throw StudioError(L("Не удалось выделить память для звука.")); }

// What FFmpeg is given for each export format.
struct Layout {
    const char* muxer;
    AVCodecID codec;
    AVSampleFormat sampleFormat;
    int rawBits;       // bits_per_raw_sample, 0 when the codec decides
    std::int64_t bitRate;
};

Layout layoutFor(ExportFormat format) {
    switch (format) {
        case ExportFormat::wav24: return {"wav", AV_CODEC_ID_PCM_S24LE, AV_SAMPLE_FMT_S32, 24, 0};
        case ExportFormat::wav16: return {"wav", AV_CODEC_ID_PCM_S16LE, AV_SAMPLE_FMT_S16, 16, 0};
        case ExportFormat::wav32f: return {"wav", AV_CODEC_ID_PCM_F32LE, AV_SAMPLE_FMT_FLT, 0, 0};
        case ExportFormat::aiff24: return {"aiff", AV_CODEC_ID_PCM_S24BE, AV_SAMPLE_FMT_S32, 24, 0};
        // FLAC and ALAC take 32-bit samples with the 24 significant bits in the high part; FLAC
        // learns the depth from bits_per_raw_sample, ALAC from the planar 32-bit format.
        case ExportFormat::flac: return {"flac", AV_CODEC_ID_FLAC, AV_SAMPLE_FMT_S32, 24, 0};
        case ExportFormat::alac: return {"ipod", AV_CODEC_ID_ALAC, AV_SAMPLE_FMT_S32P, 24, 0};
        case ExportFormat::aac256: return {"ipod", AV_CODEC_ID_AAC, AV_SAMPLE_FMT_FLTP, 0, 256000};
        case ExportFormat::aac192: return {"ipod", AV_CODEC_ID_AAC, AV_SAMPLE_FMT_FLTP, 0, 192000};
        case ExportFormat::aac128: return {"ipod", AV_CODEC_ID_AAC, AV_SAMPLE_FMT_FLTP, 0, 128000};
    }
    return {"wav", AV_CODEC_ID_PCM_S24LE, AV_SAMPLE_FMT_S32, 24, 0};
}

// Rounds x·scale to the nearest integer, halves away from zero, saturated to lo…hi; NaN gives 0.
// Branch-free so the loops vectorise: in double, y ± 0.5 is exact for every float y·2^23, so
// truncating it rounds exactly.
inline std::int32_t quantise(float x, double scale, double lo, double hi) {
    double y = static_cast<double>(x) * scale;
    y = y == y ? y : 0.0;
    y = y < lo ? lo : y;
    y = y > hi ? hi : y;
    return static_cast<std::int32_t>(y + std::copysign(0.5, y));
}

// Decodes the packets an encoder writes, on a thread of its own, and hands the signal on.
class PacketDecoder {
public:
    // `codec` is the encoder's, open; its stream's parameters describe what the file holds.
    PacketDecoder(const AVCodecContext& codec, const AVCodecParameters& parameters, AudioEncoder::DecodedSink sink)
        : sink_(std::move(sink)) {
        try {
            const AVCodec* found = avcodec_find_decoder(parameters.codec_id);
            if (!found) failDetail(ffmpeg::errorText(AVERROR_DECODER_NOT_FOUND));
            decoder_ = avcodec_alloc_context3(found);
            frame_ = av_frame_alloc();
            if (!decoder_ || !frame_) failMemory();
            if (const int rc = avcodec_parameters_to_context(decoder_, &parameters); rc < 0)
                failDetail(ffmpeg::errorText(rc));
            decoder_->pkt_timebase = codec.time_base;
            decoder_->thread_count = 1;
            if (const int rc = avcodec_open2(decoder_, found, nullptr); rc < 0) failDetail(ffmpeg::errorText(rc));
        } catch (...) {
            av_frame_free(&frame_);
            avcodec_free_context(&decoder_);
            throw;
        }
        // The encoder's priming: the container's edit list starts the signal after it, and the
        // decoder is given no side data that says so here.
        skip_ = std::max(codec.initial_padding, 0);
        thread_ = std::thread([this] { run(); });
    }

    ~PacketDecoder() {
        {
            std::lock_guard lock(mutex_);
            abandoned_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
        for (auto& [packet, limit] : queue_) av_packet_free(&packet);
        av_frame_free(&frame_);
        avcodec_free_context(&decoder_);
    }

    // Queues a copy of `packet`. `end` is where the signal ends at the latest, as far as is
    // known: the frames given to the encoder so far, or, once it is being flushed, the length
    // the file states; what is decoded beyond it is the encoder's end padding.
    void add(const AVPacket& packet, std::int64_t end) {
        AVPacket* copy = av_packet_clone(&packet);
        if (!copy) failMemory();
        {
            std::lock_guard lock(mutex_);
            queue_.emplace_back(copy, end);
        }
        wake_.notify_one();
    }

    // Decodes what is queued and the decoder's rest; rethrows what decoding or the sink threw.
    void finish(std::int64_t end) {
        {
            std::lock_guard lock(mutex_);
            queue_.emplace_back(nullptr, end);
        }
        wake_.notify_one();
        thread_.join();
        rethrow();
    }

    void rethrow() const {
        if (failed_.load(std::memory_order_acquire)) std::rethrow_exception(error_);
    }

private:
    void run() {
        try {
            for (;;) {
                std::pair<AVPacket*, std::int64_t> item;
                {
                    std::unique_lock lock(mutex_);
                    wake_.wait(lock, [this] { return abandoned_ || !queue_.empty(); });
                    if (abandoned_) return;
                    item = queue_.front();
                    queue_.pop_front();
                }
                const bool end = item.first == nullptr;
                const int sent = avcodec_send_packet(decoder_, item.first);
                av_packet_free(&item.first);
                if (sent < 0) failDetail(ffmpeg::errorText(sent));
                drain(item.second);
                if (end) return;
            }
        } catch (...) {
            error_ = std::current_exception();
            failed_.store(true, std::memory_order_release);
        }
    }

    void drain(std::int64_t limit) {
        for (;;) {
            const int rc = avcodec_receive_frame(decoder_, frame_);
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
            if (rc < 0) failDetail(ffmpeg::errorText(rc));
            const int channels = frame_->ch_layout.nb_channels;
            if (frame_->format != AV_SAMPLE_FMT_FLTP || channels < 1 || channels > 2) failDetail(ffmpeg::errorText(AVERROR_PATCHWELCOME));
            const std::int64_t n = frame_->nb_samples;
            const std::int64_t skipped = std::min(skip_, n);
            skip_ -= skipped;
            const std::int64_t count = std::clamp<std::int64_t>(std::min(n - skipped, limit - delivered_), 0, n);
            if (count > 0) {
                const auto* left = reinterpret_cast<const float*>(frame_->extended_data[0]) + skipped;
                const auto* right = channels == 2 ? reinterpret_cast<const float*>(frame_->extended_data[1]) + skipped : left;
                sink_(left, right, static_cast<std::size_t>(count));
                delivered_ += count;
            }
            av_frame_unref(frame_);
        }
    }

    AudioEncoder::DecodedSink sink_;
    AVCodecContext* decoder_ = nullptr;
    AVFrame* frame_ = nullptr;
    std::int64_t skip_ = 0;       // priming frames still to leave out
    std::int64_t delivered_ = 0;  // frames handed to the sink

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::pair<AVPacket*, std::int64_t>> queue_;  // a null packet ends the signal
    bool abandoned_ = false;
    std::exception_ptr error_;
    std::atomic<bool> failed_{false};
    std::thread thread_;
};

}  // namespace

AudioWriteError::AudioWriteError(const std::string& reason)
    : PlatformError(L("Не удалось записать аудиофайл: {0}", reason)), reason_(reason) {}

struct AudioEncoder::Impl {
    int fd = -1;  // the caller's
    int ioError = 0;  // errno of the first failed write or seek

    Layout layout{};
    AVFormatContext* format = nullptr;
    AVIOContext* io = nullptr;
    AVCodecContext* codec = nullptr;
    AVStream* stream = nullptr;
    AVAudioFifo* fifo = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    int frameSize = kVariableFrameSize;
    std::int64_t pts = 0;
    bool finished = false;
    std::vector<std::uint8_t> converted[2];
    std::unique_ptr<PacketDecoder> decoded;
    std::int64_t statedLength = 0;  // the length the file states, once finish() began

    ~Impl() {
        decoded.reset();
        av_packet_free(&packet);
        av_frame_free(&frame);
        if (fifo) av_audio_fifo_free(fifo);
        avcodec_free_context(&codec);
        if (format) {
            format->pb = nullptr;
            avformat_free_context(format);
        }
        if (io) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
    }

    static int writePacket(void* opaque, std::uint8_t* buffer, int size) {
        auto* self = static_cast<Impl*>(opaque);
        std::size_t left = static_cast<std::size_t>(size);
        while (left > 0) {
            const ssize_t n = ::write(self->fd, buffer, left);
            if (n < 0) {
                if (errno == EINTR) continue;
                if (!self->ioError) self->ioError = errno;
                return AVERROR(errno);
            }
            if (n == 0) {
                if (!self->ioError) self->ioError = EIO;
                return AVERROR(EIO);
            }
            buffer += n;
            left -= static_cast<std::size_t>(n);
        }
        return size;
    }

    static std::int64_t seek(void* opaque, std::int64_t offset, int whence) {
        auto* self = static_cast<Impl*>(opaque);
        if (whence & AVSEEK_SIZE) {
            struct stat st {};
            if (::fstat(self->fd, &st) != 0) return AVERROR(errno);
            return st.st_size;
        }
        const off_t r = ::lseek(self->fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
        if (r < 0) {
            if (!self->ioError) self->ioError = errno;
            return AVERROR(errno);
        }
        return r;
    }

    // An FFmpeg failure; a failed write of ours explains it better than FFmpeg's own code.
    [[noreturn]] void fail(int code) const {
        if (ioError) failErrno(ioError);
        if (code == AVERROR(ENOMEM)) failMemory();
        failDetail(ffmpeg::errorText(code));
    }

    void check(int code) const {
        if (code < 0) fail(code);
    }

    void drainPackets() {
        for (;;) {
            const int rc = avcodec_receive_packet(codec, packet);
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
            check(rc);
            if (decoded) decoded->add(*packet, finished ? statedLength : pts);
            av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            check(av_interleaved_write_frame(format, packet));
        }
    }

    // Encodes `frames` frames from the FIFO (a full frame, or the short last one).
    void encodeFromFifo(int frames) {
        check(av_frame_make_writable(frame));
        frame->nb_samples = frames;
        if (av_audio_fifo_read(fifo, reinterpret_cast<void**>(frame->data), frames) < frames) fail(AVERROR(EIO));
        frame->pts = pts;
        pts += frames;
        check(avcodec_send_frame(codec, frame));
        drainPackets();
    }

    // Converts one block into the codec's sample format and queues it.
    void queue(const float* left, const float* right, std::size_t frames) {
        const bool planar = av_sample_fmt_is_planar(layout.sampleFormat) != 0;
        const int bytes = av_get_bytes_per_sample(layout.sampleFormat);
        const std::size_t perChannel = frames * static_cast<std::size_t>(bytes);
        converted[0].resize(planar ? perChannel : perChannel * 2);
        if (planar) converted[1].resize(perChannel);
        const float* in[2] = {left, right};

        switch (layout.sampleFormat) {
            case AV_SAMPLE_FMT_S16: {
                auto* out = reinterpret_cast<std::int16_t*>(converted[0].data());
                for (std::size_t i = 0; i < frames; ++i) {
                    out[2 * i] = static_cast<std::int16_t>(quantise(left[i], 32768.0, -32768.0, 32767.0));
                    out[2 * i + 1] = static_cast<std::int16_t>(quantise(right[i], 32768.0, -32768.0, 32767.0));
                }
                break;
            }
            case AV_SAMPLE_FMT_S32: {
                // 24 significant bits in the high part of each 32-bit sample.
                auto* out = reinterpret_cast<std::int32_t*>(converted[0].data());
                for (std::size_t i = 0; i < frames; ++i) {
                    out[2 * i] = quantise(left[i], 8388608.0, -8388608.0, 8388607.0) * 256;
                    out[2 * i + 1] = quantise(right[i], 8388608.0, -8388608.0, 8388607.0) * 256;
                }
                break;
            }
            case AV_SAMPLE_FMT_S32P:
                for (int c = 0; c < 2; ++c) {
                    auto* out = reinterpret_cast<std::int32_t*>(converted[c].data());
                    for (std::size_t i = 0; i < frames; ++i)
                        out[i] = quantise(in[c][i], 8388608.0, -8388608.0, 8388607.0) * 256;
                }
                break;
            case AV_SAMPLE_FMT_FLT: {
                auto* out = reinterpret_cast<float*>(converted[0].data());
                for (std::size_t i = 0; i < frames; ++i) {
                    out[2 * i] = left[i];
                    out[2 * i + 1] = right[i];
                }
                break;
            }
            case AV_SAMPLE_FMT_FLTP:
                for (int c = 0; c < 2; ++c) std::memcpy(converted[c].data(), in[c], perChannel);
                break;
            default: fail(AVERROR(EINVAL));
        }

        void* planes[2] = {converted[0].data(), planar ? converted[1].data() : nullptr};
        const int rc = av_audio_fifo_write(fifo, planes, static_cast<int>(frames));
        if (rc < 0) fail(rc);
        if (rc < static_cast<int>(frames)) failMemory();
    }
};

AudioEncoder::AudioEncoder(int fd, ExportFormat format, int sampleRate)
    : impl_(std::make_unique<Impl>()) {
    ffmpeg::silenceLog();
    Impl& s = *impl_;
    s.layout = layoutFor(format);

    if (sampleRate <= 0 || sampleRate > 768000) failDetail(ffmpeg::errorText(AVERROR(EINVAL)));
    const AVCodec* encoder = avcodec_find_encoder(s.layout.codec);
    const AVOutputFormat* muxer = av_guess_format(s.layout.muxer, nullptr, nullptr);
    if (!encoder || !muxer) failDetail(ffmpeg::errorText(AVERROR_ENCODER_NOT_FOUND));

    s.fd = fd;

    // Output through the caller's descriptor.
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIOBuffer));
    if (!buffer) failMemory();
    s.io = avio_alloc_context(buffer, kIOBuffer, 1, &s, nullptr, &Impl::writePacket, &Impl::seek);
    if (!s.io) {
        av_free(buffer);
        failMemory();
    }

    if (avformat_alloc_output_context2(&s.format, muxer, nullptr, nullptr) < 0 || !s.format) failMemory();
    s.format->pb = s.io;
    s.format->flags |= AVFMT_FLAG_CUSTOM_IO | AVFMT_FLAG_BITEXACT;

    s.codec = avcodec_alloc_context3(encoder);
    if (!s.codec) failMemory();
    s.codec->sample_fmt = s.layout.sampleFormat;
    s.codec->sample_rate = sampleRate;
    s.codec->time_base = AVRational{1, sampleRate};
    const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    s.check(av_channel_layout_copy(&s.codec->ch_layout, &stereo));
    if (s.layout.rawBits) s.codec->bits_per_raw_sample = s.layout.rawBits;
    if (s.layout.bitRate) s.codec->bit_rate = s.layout.bitRate;
    s.codec->flags |= AV_CODEC_FLAG_BITEXACT;
    if (muxer->flags & AVFMT_GLOBALHEADER) s.codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    // AAC: no perceptual noise substitution and no intensity stereo. Both replace a band's
    // waveform with one of the same energy (random noise; the other channel scaled), so the
    // decoded peaks would stray far from the signal's and stop following its level.
    AVDictionary* settings = nullptr;
    if (s.layout.codec == AV_CODEC_ID_AAC) {
        av_dict_set(&settings, "aac_pns", "0", 0);
        av_dict_set(&settings, "aac_is", "0", 0);
    }
    const int opened = avcodec_open2(s.codec, encoder, &settings);
    av_dict_free(&settings);
    s.check(opened);

    s.stream = avformat_new_stream(s.format, nullptr);
    if (!s.stream) failMemory();
    s.stream->time_base = AVRational{1, sampleRate};
    s.check(avcodec_parameters_from_context(s.stream->codecpar, s.codec));
    s.check(avformat_write_header(s.format, nullptr));

    const bool variable = (encoder->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) != 0;
    s.frameSize = (!variable && s.codec->frame_size > 0) ? s.codec->frame_size : kVariableFrameSize;
    s.fifo = av_audio_fifo_alloc(s.layout.sampleFormat, 2, s.frameSize * 2);
    s.frame = av_frame_alloc();
    s.packet = av_packet_alloc();
    if (!s.fifo || !s.frame || !s.packet) failMemory();
    s.frame->format = s.layout.sampleFormat;
    s.frame->sample_rate = sampleRate;
    s.frame->nb_samples = s.frameSize;
    s.check(av_channel_layout_copy(&s.frame->ch_layout, &stereo));
    if (av_frame_get_buffer(s.frame, 0) < 0) failMemory();
}

AudioEncoder::~AudioEncoder() = default;

void AudioEncoder::decodeAlongside(DecodedSink sink) {
    Impl& s = *impl_;
    if (s.finished || s.pts > 0 || s.decoded) failDetail(ffmpeg::errorText(AVERROR(EINVAL)));
    s.decoded = std::make_unique<PacketDecoder>(*s.codec, *s.stream->codecpar, std::move(sink));
}

void AudioEncoder::write(const float* left, const float* right, std::size_t frames) {
    Impl& s = *impl_;
    if (s.finished) failDetail(ffmpeg::errorText(AVERROR(EINVAL)));
    if (s.decoded) s.decoded->rethrow();
    for (std::size_t done = 0; done < frames;) {
        const std::size_t n = std::min(kConvertBlock, frames - done);
        s.queue(left + done, right + done, n);
        done += n;
        while (av_audio_fifo_size(s.fifo) >= s.frameSize) s.encodeFromFifo(s.frameSize);
    }
}

void AudioEncoder::finish() {
    Impl& s = *impl_;
    if (s.finished) return;
    s.finished = true;
    // The last short frame: every export codec takes one (PCM any size, FLAC, ALAC and AAC a
    // smaller last frame).
    const int rest = av_audio_fifo_size(s.fifo);
    s.statedLength = s.pts + rest;
    // The MP4 edit list states the length in the movie's time scale, milliseconds, and a player
    // ends the signal there: up to half a millisecond of the encoder's end padding more, or
    // that much of the signal less.
    if (std::strcmp(s.layout.muxer, "ipod") == 0) {
        const int rate = s.codec->sample_rate;
        s.statedLength = av_rescale(av_rescale(s.statedLength, 1000, rate), rate, 1000);
    }
    if (rest > 0) s.encodeFromFifo(rest);
    s.check(avcodec_send_frame(s.codec, nullptr));
    s.drainPackets();
    s.check(av_write_trailer(s.format));
    avio_flush(s.io);
    if (s.io->error < 0) s.fail(s.io->error);
    if (s.ioError) failErrno(s.ioError);
    if (s.decoded) s.decoded->finish(s.statedLength);
}

}  // namespace tessoral
