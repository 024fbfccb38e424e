#include "processing/AudioEncoder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <system_error>
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

    ~Impl() {
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

AVCodecContext* AudioEncoder::openEncoder(ExportFormat format, int sampleRate, bool globalHeader) {
    ffmpeg::setUp();
    const Layout layout = layoutFor(format);
    if (sampleRate <= 0 || sampleRate > 768000) failDetail(ffmpeg::errorText(AVERROR(EINVAL)));
    const AVCodec* encoder = avcodec_find_encoder(layout.codec);
    if (!encoder) failDetail(ffmpeg::errorText(AVERROR_ENCODER_NOT_FOUND));
    AVCodecContext* codec = avcodec_alloc_context3(encoder);
    if (!codec) failMemory();
    codec->sample_fmt = layout.sampleFormat;
    codec->sample_rate = sampleRate;
    codec->time_base = AVRational{1, sampleRate};
    const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    int rc = av_channel_layout_copy(&codec->ch_layout, &stereo);
    if (layout.rawBits) codec->bits_per_raw_sample = layout.rawBits;
    if (layout.bitRate) codec->bit_rate = layout.bitRate;
    codec->flags |= AV_CODEC_FLAG_BITEXACT;
    if (globalHeader) codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    // AAC: no perceptual noise substitution and no intensity stereo. Both replace a band's
    // waveform with one of the same energy (random noise; the other channel scaled), so the
    // decoded peaks would stray far from the signal's and stop following its level.
    AVDictionary* settings = nullptr;
    if (layout.codec == AV_CODEC_ID_AAC) {
        av_dict_set(&settings, "aac_pns", "0", 0);
        av_dict_set(&settings, "aac_is", "0", 0);
    }
    if (rc >= 0) rc = avcodec_open2(codec, encoder, &settings);
    av_dict_free(&settings);
    if (rc < 0) {
        avcodec_free_context(&codec);
        if (rc == AVERROR(ENOMEM)) failMemory();
        failDetail(ffmpeg::errorText(rc));
    }
    return codec;
}

std::int64_t AudioEncoder::statedLength(ExportFormat format, int sampleRate, std::int64_t frames, int padding) {
    if (std::strcmp(layoutFor(format).muxer, "ipod") != 0) return frames;
    // The container's edit list counts whole milliseconds: the encoded length with the padding
    // rounded up, less the padding rounded up; a player turns that back into samples.
    const std::int64_t milliseconds = av_rescale_rnd(frames + padding, 1000, sampleRate, AV_ROUND_UP) -
                                      av_rescale_rnd(padding, 1000, sampleRate, AV_ROUND_UP);
    return av_rescale(milliseconds, sampleRate, 1000);
}

AudioEncoder::AudioEncoder(int fd, ExportFormat format, int sampleRate)
    : impl_(std::make_unique<Impl>()) {
    ffmpeg::setUp();
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

    s.codec = openEncoder(format, sampleRate, (muxer->flags & AVFMT_GLOBALHEADER) != 0);

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
    const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    s.check(av_channel_layout_copy(&s.frame->ch_layout, &stereo));
    if (av_frame_get_buffer(s.frame, 0) < 0) failMemory();
}

AudioEncoder::~AudioEncoder() = default;

void AudioEncoder::write(const float* left, const float* right, std::size_t frames) {
    Impl& s = *impl_;
    if (s.finished) failDetail(ffmpeg::errorText(AVERROR(EINVAL)));
    for (std::size_t done = 0; done < frames;) {
        const std::size_t n = std::min(kConvertBlock, frames - done);
        s.queue(left + done, right + done, n);
        done += n;
        while (av_audio_fifo_size(s.fifo) >= s.frameSize) s.encodeFromFifo(s.frameSize);
    }
}

void AudioEncoder::writeEncoded(const AVPacket& packet) {
    Impl& s = *impl_;
    if (s.finished || s.pts > 0) failDetail(ffmpeg::errorText(AVERROR(EINVAL)));
    s.check(av_packet_ref(s.packet, &packet));
    av_packet_rescale_ts(s.packet, s.codec->time_base, s.stream->time_base);
    s.packet->stream_index = s.stream->index;
    s.check(av_interleaved_write_frame(s.format, s.packet));
}

void AudioEncoder::finish() {
    Impl& s = *impl_;
    if (s.finished) return;
    s.finished = true;
    // The last short frame: every export codec takes one (PCM any size, FLAC, ALAC and AAC a
    // smaller last frame). An encoder given nothing (the packets came from elsewhere) has nothing
    // to flush.
    const int rest = av_audio_fifo_size(s.fifo);
    if (rest > 0) s.encodeFromFifo(rest);
    s.check(avcodec_send_frame(s.codec, nullptr));
    s.drainPackets();
    s.check(av_write_trailer(s.format));
    avio_flush(s.io);
    if (s.io->error < 0) s.fail(s.io->error);
    if (s.ioError) failErrno(s.ioError);
}

}  // namespace tessoral
