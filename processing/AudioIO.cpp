#include "processing/AudioIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
// While a file is opened, a refused allocation means a size its header declares beyond any
// audio's (ffmpeg::kMaxAllocation): damage, not a lack of memory. So does an invalid argument:
// the MP3 reader's answer to a frame or tag that runs past the end of the file.
[[noreturn]] void failOpen(int code) {
    if (code == AVERROR(ENOMEM) || code == AVERROR(EINVAL)) code = AVERROR_INVALIDDATA;
    throw PlatformError(L("Не удалось открыть аудиофайл: {0}", reason(code)));
}
[[noreturn]] void failRead(int code) {
    throw PlatformError(L("Не удалось прочитать аудиофайл: {0}", reason(code)));
}
[[noreturn]] void failDecode(int code) {
    throw PlatformError(L("Не удалось декодировать аудиофайл: {0}", reason(code)));
}

// The file as the demuxer sees it, read through a descriptor of our own. For a WAV file (RIFF,
// RF64, BW64) the file ends where its `data` chunk ends, and the chunks before it that the
// program does not use (bext, LIST, ID3, cue and the rest) read as JUNK; in an MP4 file the
// cover (moov/udta/meta/ilst/covr) reads as a `free` atom. The demuxer steps over both without
// reading them. Two kinds of files stay importable that way: a WAV whose data chunk is followed
// by a long run of zeros (a recorder that preallocated its file and never finished it: on a
// seekable file FFmpeg looks for more chunks after `data`, 8 bytes at a time, for minutes on a
// gigabyte), and metadata larger than any allocation FFmpeg may make (a BWF coding history of
// 70 MB, a cover of 72 MB). Likewise an Ogg, CAF, Matroska or WebM file ends where its last page,
// chunk or segment ends, and a stream of bare codec frames soon after its last byte that is not
// zero: whatever follows (a preallocated tail, any bytes) is never searched, which the demuxers
// and libvorbisfile did for seconds to minutes. A RIFX (big-endian WAV) file is seen as the
// little-endian WAV it would be. Every other file is seen as it is.
class SourceView {
public:
    explicit SourceView(const std::filesystem::path& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        if (fd_ < 0) failOpen(AVERROR(errno));
        struct stat st {};
        if (::fstat(fd_, &st) != 0) {
            const int error = errno;
            ::close(fd_);
            failOpen(AVERROR(error));
        }
        end_ = st.st_size;
        scanWave();
        scanWave64();
        unsigned char h[8];
        if (readAt(0, h, 8) && std::memcmp(h + 4, "ftyp", 4) == 0) scanBoxes(0, end_, 0);
        if (readAt(0, h, 8) && std::memcmp(h, "OggS", 4) == 0) scanOgg();
        if (readAt(0, h, 8) && std::memcmp(h, "caff", 4) == 0) scanCaf();
        if (readAt(0, h, 8) && std::memcmp(h, "\x1A\x45\xDF\xA3", 4) == 0) scanMatroska();
    }
    ~SourceView() {
        if (io_) av_freep(&io_->buffer);
        avio_context_free(&io_);
        ::close(fd_);
    }
    SourceView(const SourceView&) = delete;
    SourceView& operator=(const SourceView&) = delete;

    // The context for AVFormatContext::pb; it stays ours (FFmpeg never frees a custom one).
    AVIOContext* io() {
        constexpr int kBuffer = 32768;  // the size the file protocol reads with
        auto* buffer = static_cast<unsigned char*>(av_malloc(kBuffer));
        if (buffer) io_ = avio_alloc_context(buffer, kBuffer, 0, this, &SourceView::read, nullptr, &SourceView::seek);
        if (!io_) {
            av_free(buffer);
            failOpen(AVERROR(ENOMEM));
        }
        return io_;
    }

    // Where the demuxer has read up to.
    std::int64_t position() const { return position_; }
    bool exhausted() const { return position_ >= end_; }

    // When nothing but zeros follows what the demuxer has read, the file ends there for it: a
    // preallocated file never filled is passed at once instead of being searched for frames.
    void endBeforeZeros() {
        if (position_ >= end_ || position_ < dataAt_) return;
        const std::int64_t next = nextNonZero(position_, end_);
        if (next == end_) end_ = position_;
        else dataAt_ = next;
    }

    // A big-endian WAV (RIFX) in a form the program cannot read: refused in its own words.
    bool unsupported() const { return unsupported_; }

    // For a stream of bare codec frames (MP3, AC3, ADTS, FLAC), which no header bounds: a run of
    // zeros at the end of the file (a preallocated file never filled) is seen only up to 1 MB,
    // more than any frame's size and the most that the format probe reads, so what the probe saw
    // stays inside the view and a frame that ends in zeros stays whole.
    void dropTrailingZeros() {
        constexpr std::int64_t kKept = 1 << 20;
        std::vector<unsigned char> block(kZeroBlock);
        for (std::int64_t to = dataEnd(); to > 0;) {
            const std::int64_t from = std::max<std::int64_t>(0, to - kZeroBlock);
            const auto n = static_cast<std::size_t>(to - from);
            if (::pread(fd_, block.data(), n, from) != static_cast<ssize_t>(n)) return;
            if (!allZero(block.data(), n)) {
                std::size_t last = n;
                while (block[last - 1] == 0) --last;
                end_ = std::min(end_, from + static_cast<std::int64_t>(last) + kKept);
                return;
            }
            to = from;
        }
    }

    // Read callbacks in the form of stdio's, for a library that reads the view itself.
    std::size_t readItems(void* buffer, std::size_t size, std::size_t count) {
        if (size == 0) return 0;
        std::size_t done = 0;
        auto* out = static_cast<std::uint8_t*>(buffer);
        while (done < size * count) {
            const int got = read(this, out + done, static_cast<int>(std::min<std::size_t>(size * count - done, 1 << 20)));
            if (got <= 0) break;
            done += static_cast<std::size_t>(got);
        }
        return done / size;
    }
    int seekTo(std::int64_t offset, int whence) {
        const std::int64_t base = whence == SEEK_END ? end_ : whence == SEEK_CUR ? position_ : 0;
        if (base + offset < 0) return -1;
        position_ = base + offset;
        return 0;
    }
    std::int64_t tell() const { return position_; }

private:
    static constexpr std::int64_t kZeroBlock = 1 << 20;

    // Holes of a sparse or preallocated file read as zeros; the scans pass them without reading.
    // The first position at or after `at` that may hold data (end_ or beyond when none does).
    std::int64_t skipHole(std::int64_t at) const {
        const off_t data = ::lseek(fd_, at, SEEK_DATA);
        if (data >= 0) return std::max<std::int64_t>(data, at);
        return errno == ENXIO ? std::max(at, end_) : at;
    }
    // Where the file's last stretch of data ends (end_ where the system cannot tell).
    std::int64_t dataEnd() const {
        std::int64_t end = 0;
        for (off_t at = 0;;) {
            const off_t data = ::lseek(fd_, at, SEEK_DATA);
            if (data < 0) return errno == ENXIO ? std::min(end, end_) : end_;
            at = ::lseek(fd_, data, SEEK_HOLE);
            if (at < 0) return end_;
            end = at;
        }
    }

    // Compared as memory, which the C library does many bytes at a time.
    static bool allZero(const unsigned char* p, std::size_t n) {
        return n == 0 || (p[0] == 0 && std::memcmp(p, p + 1, n - 1) == 0);
    }

    static int read(void* opaque, std::uint8_t* buffer, int size) {
        auto& v = *static_cast<SourceView*>(opaque);
        const std::int64_t n = std::min<std::int64_t>(size, v.end_ - v.position_);
        if (n <= 0) return AVERROR_EOF;
        const ssize_t got = ::pread(v.fd_, buffer, static_cast<std::size_t>(n), v.position_);
        if (got <= 0) return got < 0 ? AVERROR(errno) : AVERROR_EOF;
        if (v.swapWidth_ > 1) v.swapSamples(buffer, got);
        for (const auto& [at, bytes] : v.renamed_) {
            const auto end = at + static_cast<std::int64_t>(bytes.size());
            for (std::int64_t i = std::max(at, v.position_); i < std::min(end, v.position_ + got); ++i)
                buffer[i - v.position_] = static_cast<std::uint8_t>(bytes[static_cast<std::size_t>(i - at)]);
        }
        v.position_ += got;
        return static_cast<int>(got);
    }

    // Reverses the byte order of the big-endian samples among the `n` bytes read at position_. A
    // sample cut by the edge of the buffer is read whole on its own.
    void swapSamples(std::uint8_t* buffer, std::int64_t n) const {
        const std::int64_t from = std::max(position_, swapFrom_), to = std::min(position_ + n, swapTo_);
        const int w = swapWidth_;
        for (std::int64_t s = swapFrom_ + (from - swapFrom_) / w * w; s < to; s += w) {
            if (s >= position_ && s + w <= position_ + n) {
                std::reverse(buffer + (s - position_), buffer + (s - position_ + w));
                continue;
            }
            std::array<std::uint8_t, 8> sample{};
            if (::pread(fd_, sample.data(), static_cast<std::size_t>(w), s) != w) continue;
            std::reverse(sample.begin(), sample.begin() + w);
            for (std::int64_t i = std::max(s, position_); i < std::min(s + w, position_ + n); ++i)
                buffer[i - position_] = sample[static_cast<std::size_t>(i - s)];
        }
    }
    // FFmpeg seeks only to absolute positions. It asks for the size at every chunk of a WAV file:
    // answered from what we hold, where the file protocol made a system call for each.
    static std::int64_t seek(void* opaque, std::int64_t offset, int whence) {
        auto& v = *static_cast<SourceView*>(opaque);
        if ((whence & ~AVSEEK_FORCE) == AVSEEK_SIZE) return v.end_;
        if ((whence & ~AVSEEK_FORCE) != SEEK_SET) return AVERROR(EINVAL);
        return v.position_ = offset;
    }

    // The scans read through a block of the file held here: a walk over many small chunks
    // makes one system call per block, not one per chunk.
    bool readAt(std::int64_t at, unsigned char* out, std::size_t n) const {
        const auto wanted = static_cast<std::int64_t>(n);
        if (at < 0 || at + wanted > end_) return false;
        if (at < cacheAt_ || at + wanted > cacheAt_ + static_cast<std::int64_t>(cache_.size())) {
            cache_.resize(kCacheBlock);
            const ssize_t got = ::pread(fd_, cache_.data(), cache_.size(), at);
            cache_.resize(static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
            cacheAt_ = at;
            if (at + wanted > cacheAt_ + static_cast<std::int64_t>(cache_.size())) return false;
        }
        std::memcpy(out, cache_.data() + (at - cacheAt_), n);
        return true;
    }

    // The first position in [from, to) whose byte is not zero, or `to`.
    std::int64_t nextNonZero(std::int64_t from, std::int64_t to) const {
        std::vector<unsigned char> block(kZeroBlock);
        for (std::int64_t at = skipHole(from); at < to; at = skipHole(at + kZeroBlock)) {
            const auto n = static_cast<std::size_t>(std::min(kZeroBlock, to - at));
            const ssize_t got = ::pread(fd_, block.data(), n, at);
            if (got <= 0) return to;
            if (allZero(block.data(), static_cast<std::size_t>(got))) continue;
            const auto nonZero = std::find_if(block.begin(), block.begin() + got, [](unsigned char b) { return b != 0; });
            if (nonZero != block.begin() + got) return at + (nonZero - block.begin());
        }
        return to;
    }

    // Rewrites the header of the chunk at `at` so that it spans [at, to) and reads as JUNK: the
    // demuxer steps over a run of chunks the program does not use in one seek. A run longer than
    // a chunk can be is split.
    void junkRun(std::int64_t at, std::int64_t to) {
        constexpr std::int64_t kLongest = 0xFFFFFFF0;
        while (to - at - 8 > kLongest) {
            const std::int64_t piece = std::min(kLongest, to - at - 16);
            renamed_.emplace_back(at, "JUNK" + le32(static_cast<std::uint32_t>(piece)));
            at += 8 + piece;
        }
        renamed_.emplace_back(at, "JUNK" + le32(static_cast<std::uint32_t>(to - at - 8)));
    }
    static std::string le32(std::uint32_t v) {
        return {char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char(v >> 24)};
    }

    // The `fmt ` chunk's body. WAVE_FORMAT_EXTENSIBLE's count of valid bits is set to the bits
    // each sample takes, so that 24 valid bits in 32-bit slots read as the 32-bit integers they
    // are (FFmpeg takes them for 24-bit floats). In a RIFX file the fields are turned little-endian
    // and the samples are swapped as they are read; only integer and float samples are read so.
    void scanFormat(std::int64_t body, std::uint64_t size, bool bigEndian) {
        std::array<unsigned char, 24> f{};
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(size, f.size()));
        if (n < 16 || !readAt(body, f.data(), n)) return;
        auto field = [&](std::size_t at) { return bigEndian ? f[at] << 8 | f[at + 1] : f[at + 1] << 8 | f[at]; };
        const int tag = field(0), bits = field(14);
        if (bigEndian) {
            if ((tag != 1 && tag != 3) || bits % 8 != 0 || bits < 8 || bits > 64) {
                unsupported_ = true;
                return;
            }
            std::string fields(reinterpret_cast<const char*>(f.data()), std::min<std::size_t>(n, 18));
            for (const auto& [at, width] : {std::pair{0, 2}, {2, 2}, {4, 4}, {8, 4}, {12, 2}, {14, 2}, {16, 2}})
                if (at + width <= static_cast<int>(fields.size())) std::reverse(fields.begin() + at, fields.begin() + at + width);
            renamed_.emplace_back(body, fields);
            swapWidth_ = bits / 8;
        } else if (tag == 0xFFFE && n >= 20 && field(18) != bits) {
            renamed_.emplace_back(body + 18, std::string{char(bits & 0xFF), char(bits >> 8)});
        }
    }

    // Walks the chunks up to `data` as the demuxer does (an odd size is followed by a pad byte).
    // The chunks between the ones the program uses become one JUNK chunk each run; a run of
    // zeros (8-byte empty chunks to the demuxer) is passed at once. A RIFX file is seen as the
    // little-endian WAV it would be.
    void scanWave() {
        unsigned char h[12];
        if (!readAt(0, h, 12) || std::memcmp(h + 8, "WAVE", 4) != 0) return;
        const bool wide = std::memcmp(h, "RF64", 4) == 0 || std::memcmp(h, "BW64", 4) == 0;
        const bool bigEndian = std::memcmp(h, "RIFX", 4) == 0;
        if (!wide && !bigEndian && std::memcmp(h, "RIFF", 4) != 0) return;
        auto number = [bigEndian](const unsigned char* b, int bytes) {
            std::uint64_t v = 0;
            for (int i = 0; i < bytes; ++i) v |= std::uint64_t{b[bigEndian ? bytes - 1 - i : i]} << (8 * i);
            return v;
        };
        if (bigEndian) renamed_.emplace_back(0, "RIFF" + le32(static_cast<std::uint32_t>(number(h + 4, 4))));
        std::optional<std::uint64_t> wideDataSize;  // from the ds64 chunk
        std::optional<std::int64_t> unused;         // where the run of unused chunks before `at` starts
        std::int64_t at = 12;
        while (readAt(at, h, 8)) {
            if (std::all_of(h, h + 8, [](unsigned char b) { return b == 0; })) {
                if (!unused) unused = at;
                at += (nextNonZero(at, end_) - at) / 8 * 8;
                if (!readAt(at, h, 8)) break;
            }
            const std::uint64_t size = number(h + 4, 4);
            const std::int64_t body = at + 8;
            const bool used = std::memcmp(h, "data", 4) == 0 || std::memcmp(h, "ds64", 4) == 0 ||
                              std::memcmp(h, "fmt ", 4) == 0 || std::memcmp(h, "fact", 4) == 0;
            if (used && unused) junkRun(*std::exchange(unused, std::nullopt), at);
            if (!used && !unused) unused = at;
            if (used && bigEndian) {
                renamed_.emplace_back(at + 4, le32(static_cast<std::uint32_t>(size)));
                unsigned char frames[4];
                if (std::memcmp(h, "fact", 4) == 0 && readAt(body, frames, 4))
                    renamed_.emplace_back(body, le32(static_cast<std::uint32_t>(number(frames, 4))));
            }
            if (std::memcmp(h, "data", 4) == 0) {
                // A size of 0 is a stream's: its sound runs to the end of the file.
                const std::uint64_t length = wide ? wideDataSize.value_or(0) : size;
                if (bigEndian && swapWidth_ == 0) unsupported_ = true;  // no format before the samples
                swapFrom_ = body;
                swapTo_ = length > 0 && length < static_cast<std::uint64_t>(end_ - body) ? body + static_cast<std::int64_t>(length) : end_;
                endWithData(body, length, wide);
                return;
            }
            if (std::memcmp(h, "ds64", 4) == 0) {
                unsigned char d[8];
                if (readAt(body + 8, d, 8)) wideDataSize = number(d, 8);
            } else if (std::memcmp(h, "fmt ", 4) == 0) {
                scanFormat(body, size, bigEndian);
            }
            at = body + static_cast<std::int64_t>(size + (size & 1));
        }
        if (unused) junkRun(*unused, std::max(at, *unused + 8));
    }

    static std::string littleEndian(std::uint64_t v, int bytes) {
        std::string b;
        for (int i = 0; i < bytes; ++i) b.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
        return b;
    }

    // At the `data` chunk whose body starts at `body` and states `length` bytes (0: unknown, the
    // sound runs to the end of the file): the file ends with it. An RF64 file stating 0 in its
    // ds64 chunk (a recording never finished) is shown with the size of what it holds. A writer
    // may put the `fmt ` chunk after `data`, where the demuxer finds it: the view then ends
    // after it, and the chunks in between read as JUNK.
    void endWithData(std::int64_t body, std::uint64_t length, bool wide) {
        unsigned char h[8];
        if (length == 0 || length >= static_cast<std::uint64_t>(end_ - body)) {
            // The demuxer takes the ds64 chunk only as the first one.
            if (wide && length == 0 && readAt(12, h, 4) && std::memcmp(h, "ds64", 4) == 0)
                renamed_.emplace_back(28, littleEndian(static_cast<std::uint64_t>(end_ - body), 8));
            return;
        }
        const std::int64_t dataEnd = body + static_cast<std::int64_t>(length);
        std::int64_t at = dataEnd + static_cast<std::int64_t>(length & 1);
        std::vector<std::int64_t> between;
        for (int chunks = 0; chunks < 64 && readAt(at, h, 8); ++chunks) {
            const std::uint64_t size = h[4] | h[5] << 8 | h[6] << 16 | std::uint64_t{h[7]} << 24;
            if (std::memcmp(h, "fmt ", 4) == 0) {
                if (size > static_cast<std::uint64_t>(end_ - at - 8)) break;
                for (const std::int64_t junk : between) renamed_.emplace_back(junk, "JUNK");
                end_ = at + 8 + static_cast<std::int64_t>(size);
                return;
            }
            between.push_back(at);
            at += 8 + static_cast<std::int64_t>(size + (size & 1));
        }
        end_ = dataEnd;
    }

    // A Wave64 file ends with its data chunk, as a WAV file does (the demuxer reads what follows
    // as a chunk, and refuses a few stray bytes). Chunks are 16-byte GUIDs and 64-bit sizes that
    // count their headers, each aligned to 8 bytes.
    void scanWave64() {
        static constexpr unsigned char kRiff[16] = {'r', 'i', 'f', 'f', 0x2E, 0x91, 0xCF, 0x11,
                                                    0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};
        static constexpr unsigned char kData[12] = {0xF3, 0xAC, 0xD3, 0x11, 0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};
        unsigned char h[24];
        if (!readAt(0, h, 16) || std::memcmp(h, kRiff, 16) != 0) return;
        std::int64_t at = 40;
        for (int chunks = 0; chunks < 1024 && readAt(at, h, 24); ++chunks) {
            std::uint64_t size = 0;
            for (int i = 0; i < 8; ++i) size |= std::uint64_t{h[16 + i]} << (8 * i);
            if (size < 24 || size > static_cast<std::uint64_t>(end_ - at)) return;
            if (std::memcmp(h, "data", 4) == 0 && std::memcmp(h + 4, kData, 12) == 0) {
                end_ = at + static_cast<std::int64_t>(size);
                return;
            }
            at += static_cast<std::int64_t>((size + 7) / 8 * 8);
        }
    }

    // The MP4 boxes in [at, to) at `depth` on the way to the cover, at most 1024 of them.
    void scanBoxes(std::int64_t at, std::int64_t to, int depth) {
        static constexpr const char* kPath[] = {"moov", "udta", "meta", "ilst"};
        unsigned char h[8];
        for (int boxes = 0; boxes < 1024 && at < to && readAt(at, h, 8); ++boxes) {
            auto number = [](const unsigned char* b, int bytes) {  // big-endian
                std::uint64_t v = 0;
                for (int i = 0; i < bytes; ++i) v = v << 8 | b[i];
                return v;
            };
            // The walk ends at a 64-bit size (1) or one running to the end of the file (0): an mdat box.
            const std::uint64_t size = number(h, 4);
            if (size < 8 || size > static_cast<std::uint64_t>(to - at)) return;
            if (depth == 4 && std::memcmp(h + 4, "covr", 4) == 0) {
                renamed_.emplace_back(at + 4, "free");
            } else if (depth < 4 && std::memcmp(h + 4, kPath[depth], 4) == 0) {
                // The meta box starts with its version and flags, 4 bytes.
                scanBoxes(at + (depth == 2 ? 12 : 8), at + static_cast<std::int64_t>(size), depth + 1);
            }
            at += static_cast<std::int64_t>(size);
        }
    }

    // An Ogg file ends with its last page: the view ends there, so that what follows (zeros or any
    // bytes) is never searched for pages, which libvorbisfile does from the end of the file at
    // every open. Pages are found as the demuxers find them, by their capture pattern and
    // checksum, past damage too: damage inside the stream stays inside the view.
    void scanOgg() {
        std::vector<unsigned char> page(27 + 255 + 255 * 255);
        std::int64_t at = 0, last = 0;
        while (at < end_) {
            std::size_t length = 0;
            if (readAt(at, page.data(), 27) && std::memcmp(page.data(), "OggS", 4) == 0 && page[4] == 0 &&
                readAt(at + 27, page.data() + 27, page[26])) {
                length = 27 + page[26];
                for (int i = 0; i < page[26]; ++i) length += page[27 + static_cast<std::size_t>(i)];
                if (!readAt(at, page.data(), length) || !oggChecksumHolds(page.data(), length)) length = 0;
            }
            if (length > 0) {
                at += static_cast<std::int64_t>(length);
                last = at;
            } else {
                at = find("OggS", at + 1);
            }
        }
        if (last > 0) end_ = last;
    }
    static bool oggChecksumHolds(unsigned char* page, std::size_t length) {
        static const auto table = [] {
            std::array<std::uint32_t, 256> t{};
            for (std::uint32_t i = 0; i < 256; ++i) {
                std::uint32_t r = i << 24;
                for (int k = 0; k < 8; ++k) r = (r & 0x80000000u) != 0 ? (r << 1) ^ 0x04C11DB7u : r << 1;
                t[i] = r;
            }
            return t;
        }();
        const std::uint32_t stated = std::uint32_t{page[22]} | std::uint32_t{page[23]} << 8 |
                                     std::uint32_t{page[24]} << 16 | std::uint32_t{page[25]} << 24;
        std::fill(page + 22, page + 26, 0);
        std::uint32_t crc = 0;
        for (std::size_t i = 0; i < length; ++i) crc = crc << 8 ^ table[(crc >> 24) ^ page[i]];
        return crc == stated;
    }
    // The first position at or after `from` where `pattern` (4 bytes) starts, or end_.
    std::int64_t find(const char* pattern, std::int64_t from) const {
        std::vector<char> block(kZeroBlock + 3);
        for (std::int64_t at = skipHole(from); at < end_; at = skipHole(at + kZeroBlock)) {
            const ssize_t got = ::pread(fd_, block.data(), static_cast<std::size_t>(std::min<std::int64_t>(kZeroBlock + 3, end_ - at)), at);
            if (got < 4) return end_;
            if (const void* hit = ::memmem(block.data(), static_cast<std::size_t>(got), pattern, 4))
                return at + (static_cast<const char*>(hit) - block.data());
        }
        return end_;
    }

    // A CAF file's chunks, 12-byte headers with a big-endian 64-bit size, up to the first header
    // that is not one (zeros or other bytes after the file's end); a data chunk of unknown size
    // runs to the end of the file, as does a chunk cut short by it.
    void scanCaf() {
        unsigned char h[12];
        std::int64_t at = 8;
        while (readAt(at, h, 12) && std::all_of(h, h + 4, [](unsigned char c) { return c >= 0x20 && c < 0x7F; })) {
            std::uint64_t size = 0;
            for (int i = 4; i < 12; ++i) size = size << 8 | h[i];
            if (size > static_cast<std::uint64_t>(end_ - at - 12)) return;
            at += 12 + static_cast<std::int64_t>(size);
        }
        end_ = at;
    }

    // A Matroska or WebM file ends with its segment, when the segment states its size.
    void scanMatroska() {
        // A variable-length number of 1 to 8 bytes at `at`; for a size, all ones means unknown.
        auto number = [this](std::int64_t& at, bool isSize) -> std::optional<std::uint64_t> {
            unsigned char b[8];
            if (!readAt(at, b, 1) || b[0] == 0) return std::nullopt;
            int length = 1;
            while ((b[0] & (0x80 >> (length - 1))) == 0) ++length;
            if (!readAt(at, b, static_cast<std::size_t>(length))) return std::nullopt;
            std::uint64_t v = isSize ? b[0] & (0xFF >> length) : b[0];
            bool unknown = v == (0xFFu >> length);
            for (int i = 1; i < length; ++i) {
                v = v << 8 | b[i];
                unknown = unknown && b[i] == 0xFF;
            }
            at += length;
            if (isSize && unknown) return std::nullopt;
            return v;
        };
        std::int64_t at = 0;
        for (int element = 0; element < 2; ++element) {
            const auto id = number(at, false);
            const auto size = number(at, true);
            if (!id || !size || *size > static_cast<std::uint64_t>(end_ - at)) return;
            at += static_cast<std::int64_t>(*size);
            if (*id == 0x18538067) end_ = at;  // the segment
        }
    }

    int fd_;
    std::int64_t end_ = 0;
    std::int64_t position_ = 0;
    std::vector<std::pair<std::int64_t, std::string>> renamed_;  // where bytes read as others
    std::int64_t dataAt_ = 0;  // a position known to hold a byte other than zero (0: none known)
    bool unsupported_ = false;
    int swapWidth_ = 0;  // bytes per sample of a RIFX file's samples in [swapFrom_, swapTo_)
    std::int64_t swapFrom_ = 0;
    std::int64_t swapTo_ = 0;
    static constexpr std::size_t kCacheBlock = 65536;
    mutable std::vector<unsigned char> cache_;
    mutable std::int64_t cacheAt_ = 0;
    AVIOContext* io_ = nullptr;
};

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
    std::int64_t sourceFrames = 0;  // at the stream's own rate; meaningful with trim
    double slackFrames = 0.0;       // at 48 kHz: how far the statement may exceed the decoded length
};

StatedLength statedLength(const AVFormatContext& format, const AVStream& stream, int sampleRate) {
    StatedLength s;
    s.expectedFrames = std::nan("");
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
        s.trim = s.stated;
        if (s.trim) s.sourceFrames = av_rescale_q(duration, tb, AVRational{1, sampleRate});
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
std::string vorbisErrorText(long code) {
    switch (code) {
        case OV_EREAD: return reason(AVERROR(EIO));
        case OV_EIMPL:
        case OV_EVERSION: return reason(AVERROR_PATCHWELCOME);
        default: return reason(AVERROR_INVALIDDATA);
    }
}

// Vorbis in Ogg through libvorbisfile, which delivers every frame up to the length the last page
// states (FFmpeg's decoders lose up to a block's overlap, 128 frames, at the end of some files).
// Chained streams may change rate and channel count; damaged data is refused. `statedFrames` is
// the length the last page states (at the stream's rate; 0 when unknown): a single stream that
// ends more than one Vorbis block (8192 frames) short of it lost pages that libvorbisfile did not
// report (damage in the middle can make it see an early end).
void decodeVorbis(SourceView& source, std::int64_t statedFrames, Pipeline& pipeline) {
    source.seekTo(0, SEEK_SET);
    OggVorbis_File vorbis;
    const ov_callbacks callbacks{vorbisRead, vorbisSeek, nullptr, vorbisTell};
    const int opened = ov_open_callbacks(&source, &vorbis, nullptr, 0, callbacks);
    // A failed open has cleaned up after itself.
    if (opened < 0) throw PlatformError(L("Не удалось открыть аудиофайл: {0}", vorbisErrorText(opened)));
    struct Clear {
        OggVorbis_File* v;
        ~Clear() { ov_clear(v); }
    } clear{&vorbis};
    std::int64_t decoded = 0;
    for (;;) {
        float** pcm = nullptr;
        int link = 0;
        const long n = ov_read_float(&vorbis, &pcm, static_cast<int>(kDecodeBlock), &link);
        if (n == 0) {
            if (ov_streams(&vorbis) == 1 && decoded + 8192 < statedFrames)
                throw PlatformError(L("Не удалось декодировать аудиофайл: {0}", vorbisErrorText(OV_HOLE)));
            return;
        }
        if (n < 0) throw PlatformError(L("Не удалось декодировать аудиофайл: {0}", vorbisErrorText(n)));
        const vorbis_info* info = ov_info(&vorbis, link);
        if (!info || !pcm) throw PlatformError(L("Не удалось декодировать аудиофайл: {0}", vorbisErrorText(OV_EBADLINK)));
        if (info->channels >= 3) failMultichannel();
        if (info->channels < 1 || info->rate <= 0 || info->rate > std::numeric_limits<int>::max())
            throw StudioError(L("Не удалось прочитать аудиофайл."));
        const std::array<const float*, 2> in{pcm[0], info->channels == 2 ? pcm[1] : nullptr};
        pipeline.add(in, static_cast<int>(info->rate), info->channels, static_cast<int>(n));
        decoded += n;
    }
}

// 7. and 8.: the decoded signal cut to the clip limit, or the refusal of a file without sound.
thread_local std::int64_t nonFiniteSilenced = 0;

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

thread_local int decoderThreadsUsed = 0;

int defaultDecoderThreads() { return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 4u)); }

AudioData decode(const std::filesystem::path& path, int decoderThreads, bool ownRate, int* rateOut);

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

namespace {

AudioData decode(const std::filesystem::path& path, int decoderThreads, bool ownRate, int* rateOut) {
    ffmpeg::setUp();
    decoderThreadsUsed = 0;
    nonFiniteSilenced = 0;

    // 0. Only regular files: opening a FIFO or a device could wait for ever.
    std::error_code statusError;
    const auto status = std::filesystem::status(path, statusError);
    if (!statusError && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        if (std::filesystem::is_directory(status)) failOpen(AVERROR(EISDIR));
        throw PlatformError(L("Не удалось открыть аудиофайл: {0}", L("это не обычный файл, а канал или устройство")));
    }

    // 1. Open. Only the local file protocol: a playlist inside the file must not reach the network.
    SourceView source(path);
    if (source.unsupported()) failUnsupported();
    AVIOContext* io = source.io();
    const std::string url = "file:" + path.string();  // the name that files it refers to are found beside
    const AVInputFormat* probed = nullptr;
    int rc = av_probe_input_buffer2(io, &probed, url.c_str(), nullptr, 0, 0);
    if (rc < 0) failOpen(rc);
    for (const char* bare : {"mp3", "ac3", "eac3", "aac", "flac"}) {
        if (std::strcmp(probed->name, bare) == 0) source.dropTrailingZeros();
    }
    AVFormatContext* rawFormat = avformat_alloc_context();
    if (!rawFormat) failOpen(AVERROR(ENOMEM));
    rawFormat->pb = io;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    rc = avformat_open_input(&rawFormat, url.c_str(), probed, &options);
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
        pipeline.run([&] { decodeVorbis(source, stated.trim ? stated.sourceFrames : 0, pipeline); });
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
    if (rc < 0) failOpen(rc);
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
    bool reachedStated = false;
    std::optional<std::int64_t> nextStart;  // where the next frame should start, where times are exact
    Tail tail(source);

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
            if (rate != sourceRate) trimToStated = false;
            if (exactTimes && frame->best_effort_timestamp != AV_NOPTS_VALUE) {
                const std::int64_t start = av_rescale_q(frame->best_effort_timestamp, stream.time_base, AVRational{1, rate});
                if (nextStart && start > *nextStart + 1) failDecode(AVERROR_INVALIDDATA);
                nextStart = start + frame->nb_samples;
            }
            if (frame->nb_samples > 0) tail.sound();
            std::int64_t n = frame->nb_samples;
            if (trimToStated) n = std::min<std::int64_t>(n, stated.sourceFrames - sourceTaken);
            if (n > 0) {
                pipeline.add(*frame, rate, channels, static_cast<int>(n));
                sourceTaken += n;
            }
            if (trimToStated && sourceTaken >= stated.sourceFrames) reachedStated = true;
            av_frame_unref(frame.get());
        }
    };

    pipeline.run([&] {
        while (!reachedStated) {
            rc = av_read_frame(format.get(), packet.get());
            if (rc == AVERROR_EOF) break;
            if (rc == AVERROR(EAGAIN)) continue;
            if (rc < 0) {
                if (tail.readError(rc)) break;
                continue;
            }
            tail.packetRead();
            if (packet->stream_index == index) {
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
        if (!reachedStated) {
            avcodec_send_packet(decoder.get(), nullptr);
            // Each held error is one frame's; the frames after it still come.
            for (int frames = 0; drain() && frames < 1024; ++frames) {
            }
            // A damaged last frame leaves no later frame to show the gap.
            if (exactTimes && trimToStated && sourceTaken < stated.sourceFrames) failDecode(AVERROR_INVALIDDATA);
        }
    });

    return finished(collector, stated);
}

}  // namespace

}  // namespace tessoral::AudioIO
