#include "processing/SourceView.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <iterator>
#include <map>
#include <optional>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace tessoral::AudioIO {

SourceView::SourceView(const std::filesystem::path& path, std::int64_t from, std::int64_t to)
    : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)), base_(from) {
    if (fd_ < 0) failOpen(AVERROR(errno));
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        const int error = errno;
        ::close(fd_);
        failOpen(AVERROR(error));
    }
    end_ = std::clamp<std::int64_t>(std::min<std::int64_t>(to, st.st_size) - from, 0, st.st_size);
    scanWave();
    scanWave64();
    unsigned char h[8];
    if (readAt(0, h, 8) && std::memcmp(h + 4, "ftyp", 4) == 0) scanBoxes(0, end_, 0);
    if (readAt(0, h, 8) && std::memcmp(h, "OggS", 4) == 0) scanOgg();
    if (readAt(0, h, 8) && std::memcmp(h, "caff", 4) == 0) scanCaf();
    if (readAt(0, h, 8) && std::memcmp(h, "\x1A\x45\xDF\xA3", 4) == 0) scanMatroska();
    std::stable_sort(renamed_.begin(), renamed_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& r : renamed_) longestRename_ = std::max(longestRename_, r.second.size());
}

SourceView::~SourceView() {
    if (io_) av_freep(&io_->buffer);
    avio_context_free(&io_);
    ::close(fd_);
}

AVIOContext* SourceView::io() {
    if (io_) av_freep(&io_->buffer);
    avio_context_free(&io_);
    position_ = 0;
    constexpr int kBuffer = 32768;  // the size the file protocol reads with
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBuffer));
    if (buffer) io_ = avio_alloc_context(buffer, kBuffer, 0, this, &SourceView::read, nullptr, &SourceView::seek);
    if (!io_) {
        av_free(buffer);
        failOpen(AVERROR(ENOMEM));
    }
    return io_;
}

void SourceView::endBeforeZeros() {
    if (position_ >= end_ || position_ < dataAt_) return;
    const std::int64_t next = nextNonZero(position_, end_);
    if (next == end_) end_ = position_;
    else dataAt_ = next;
}

void SourceView::dropTail(unsigned char sync) {
    constexpr std::int64_t kKept = 1 << 20;
    std::vector<unsigned char> block(kZeroBlock);
    for (std::int64_t to = dataEnd(); to > 0;) {
        const std::int64_t from = std::max<std::int64_t>(0, to - kZeroBlock);
        const auto n = static_cast<std::size_t>(to - from);
        if (readFile(block.data(), n, from) != static_cast<ssize_t>(n)) return;
        if (const void* last = ::memrchr(block.data(), sync, n)) {
            droppedFrom_ = end_;
            end_ = std::min(end_, from + (static_cast<const unsigned char*>(last) - block.data()) + kKept);
            return;
        }
        to = from;
    }
}

std::size_t SourceView::readItems(void* buffer, std::size_t size, std::size_t count) {
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

int SourceView::seekTo(std::int64_t offset, int whence) {
    const std::int64_t base = whence == SEEK_END ? end_ : whence == SEEK_CUR ? position_ : 0;
    if (base + offset < 0) return -1;
    position_ = base + offset;
    return 0;
}

std::string SourceView::lastBytes(std::int64_t n) const {
    n = std::min(n, end_);
    std::string bytes(static_cast<std::size_t>(n), '\0');
    const ssize_t got = readFile(bytes.data(), bytes.size(), end_ - n);
    bytes.resize(static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
    return bytes;
}

ssize_t SourceView::readFile(void* out, std::size_t n, std::int64_t at) const {
    n = static_cast<std::size_t>(std::clamp<std::int64_t>(end_ - at, 0, static_cast<std::int64_t>(n)));
    const ssize_t got = ::pread(fd_, out, n, base_ + at);
    bytesRead_ += std::max<ssize_t>(got, 0);
    return got;
}

std::int64_t SourceView::skipHole(std::int64_t at) const {
    const off_t data = ::lseek(fd_, base_ + at, SEEK_DATA);
    if (data >= 0) return std::max<std::int64_t>(data - base_, at);
    return errno == ENXIO ? std::max(at, end_) : at;
}

std::int64_t SourceView::dataEnd() const {
    std::int64_t end = 0;
    for (off_t at = base_;;) {
        const off_t data = ::lseek(fd_, at, SEEK_DATA);
        if (data < 0 || data - base_ >= end_) return data >= 0 || errno == ENXIO ? std::min(end, end_) : end_;
        at = ::lseek(fd_, data, SEEK_HOLE);
        if (at < 0) return end_;
        end = at - base_;
    }
}

int SourceView::read(void* opaque, std::uint8_t* buffer, int size) {
    auto& v = *static_cast<SourceView*>(opaque);
    const std::int64_t n = std::min<std::int64_t>(size, v.end_ - v.position_);
    if (n <= 0) return AVERROR_EOF;
    const ssize_t got = v.readFile(buffer, static_cast<std::size_t>(n), v.position_);
    if (got < 0) {
        const int error = errno;
        v.readFailed_ = true;
        return AVERROR(error);
    }
    if (got == 0) return AVERROR_EOF;
    if (v.tagsFrom_ > 0) v.findTags(v.position_ + got);
    if (v.swapWidth_ > 1) v.swapSamples(buffer, got);
    v.rename(buffer, got);
    v.zero(buffer, got);
    v.position_ += got;
    return static_cast<int>(got);
}

void SourceView::rename(std::uint8_t* buffer, std::int64_t n) const {
    const std::int64_t from = position_ - static_cast<std::int64_t>(longestRename_);
    auto it = std::lower_bound(renamed_.begin(), renamed_.end(), from, [](const auto& r, std::int64_t at) { return r.first < at; });
    for (; it != renamed_.end() && it->first < position_ + n; ++it) {
        const auto& [at, bytes] = *it;
        const auto end = at + static_cast<std::int64_t>(bytes.size());
        for (std::int64_t i = std::max(at, position_); i < std::min(end, position_ + n); ++i)
            buffer[i - position_] = static_cast<std::uint8_t>(bytes[static_cast<std::size_t>(i - at)]);
    }
}

void SourceView::zero(std::uint8_t* buffer, std::int64_t n) const {
    auto it = std::upper_bound(zeroed_.begin(), zeroed_.end(), position_, [](std::int64_t at, const auto& r) { return at < r.second; });
    for (; it != zeroed_.end() && it->first < position_ + n; ++it) {
        const std::int64_t from = std::max(it->first, position_), to = std::min(it->second, position_ + n);
        std::memset(buffer + (from - position_), 0, static_cast<std::size_t>(to - from));
    }
}

// A tag's header is 10 bytes: "ID3", a version of 2 to 4, a revision, flags (0x10 in version 4:
// a 10-byte footer follows) and the size in four 7-bit bytes, which counts an extended header and
// padding. Only a tag followed by a frame, another tag or the end of the file counts: three such
// bytes inside a frame's data are not one. The whole tag reads as zeros, which hold no frame
// sync: a picture in it is full of false ones.
void SourceView::findTags(std::int64_t to) {
    while (tagsFrom_ < std::min(to, end_)) {
        const std::int64_t at = find("ID3", tagsFrom_, to);
        if (at >= to) {
            tagsFrom_ = to;
            return;
        }
        tagsFrom_ = at + 1;
        unsigned char h[10];
        if (!readAt(at, h, 10) || h[3] < 2 || h[3] > 4 || h[4] == 0xFF || ((h[6] | h[7] | h[8] | h[9]) & 0x80) != 0) continue;
        const std::int64_t next = at + 10 + (h[6] << 21 | h[7] << 14 | h[8] << 7 | h[9]) + (h[3] == 4 && (h[5] & 0x10) != 0 ? 10 : 0);
        unsigned char f[3];
        const bool followed = next == end_ || next == droppedFrom_ || (readAt(next, f, 3) && ((f[0] == 0xFF && (f[1] & 0xE0) == 0xE0) ||
                                                                   std::memcmp(f, "ID3", 3) == 0 || std::memcmp(f, "TAG", 3) == 0));
        if (!followed) continue;
        zeroed_.emplace_back(at, next);
        tagsFrom_ = next;
    }
}

void SourceView::swapSamples(std::uint8_t* buffer, std::int64_t n) const {
    const std::int64_t from = std::max(position_, swapFrom_), to = std::min(position_ + n, swapTo_);
    const int w = swapWidth_;
    for (std::int64_t s = swapFrom_ + (from - swapFrom_) / w * w; s < to; s += w) {
        if (s >= position_ && s + w <= position_ + n) {
            std::reverse(buffer + (s - position_), buffer + (s - position_ + w));
            continue;
        }
        std::array<std::uint8_t, 8> sample{};
        if (readFile(sample.data(), static_cast<std::size_t>(w), s) != w) continue;
        std::reverse(sample.begin(), sample.begin() + w);
        for (std::int64_t i = std::max(s, position_); i < std::min(s + w, position_ + n); ++i)
            buffer[i - position_] = sample[static_cast<std::size_t>(i - s)];
    }
}

std::int64_t SourceView::seek(void* opaque, std::int64_t offset, int whence) {
    auto& v = *static_cast<SourceView*>(opaque);
    if ((whence & ~AVSEEK_FORCE) == AVSEEK_SIZE) return v.end_;
    if ((whence & ~AVSEEK_FORCE) != SEEK_SET) return AVERROR(EINVAL);
    return v.position_ = offset;
}

bool SourceView::readAt(std::int64_t at, unsigned char* out, std::size_t n) const {
    const auto wanted = static_cast<std::int64_t>(n);
    if (at < 0 || at + wanted > end_) return false;
    auto holds = [&](const Cache& c) { return at >= c.at && at + wanted <= c.at + static_cast<std::int64_t>(c.bytes.size()); };
    if (!holds(caches_[lastCache_])) {
        // Two blocks: a walk that looks ahead (a tag's end, a page's) keeps its own place.
        lastCache_ = holds(caches_[1 - lastCache_]) ? 1 - lastCache_ : (lastCache_ + 1) % 2;
        Cache& c = caches_[lastCache_];
        if (!holds(c)) {
            c.bytes.resize(kCacheBlock);
            const ssize_t got = readFile(c.bytes.data(), c.bytes.size(), at);
            c.bytes.resize(static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
            c.at = at;
            if (!holds(c)) return false;
        }
    }
    const Cache& c = caches_[lastCache_];
    std::memcpy(out, c.bytes.data() + (at - c.at), n);
    return true;
}

std::int64_t SourceView::nextNonZero(std::int64_t from, std::int64_t to) const {
    std::vector<unsigned char> block(kZeroBlock);
    // A few bytes first: data usually follows at once, where a whole block would be read again
    // and again.
    for (std::int64_t at = skipHole(from), size = 4096; at < to; at = skipHole(at + size), size = std::min(2 * size, kZeroBlock)) {
        const auto n = static_cast<std::size_t>(std::min(size, to - at));
        const ssize_t got = readFile(block.data(), n, at);
        if (got <= 0) return to;
        if (allZero(block.data(), static_cast<std::size_t>(got))) continue;
        const auto nonZero = std::find_if(block.begin(), block.begin() + got, [](unsigned char b) { return b != 0; });
        if (nonZero != block.begin() + got) return at + (nonZero - block.begin());
    }
    return to;
}

void SourceView::junkRun(std::int64_t at, std::int64_t to) {
    constexpr std::int64_t kLongest = 0xFFFFFFF0;
    while (to - at - 8 > kLongest) {
        const std::int64_t piece = std::min(kLongest, to - at - 16);
        renamed_.emplace_back(at, "JUNK" + le32(static_cast<std::uint32_t>(piece)));
        at += 8 + piece;
    }
    renamed_.emplace_back(at, "JUNK" + le32(static_cast<std::uint32_t>(to - at - 8)));
}

void SourceView::scanFormat(std::int64_t body, std::uint64_t size, bool bigEndian) {
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

void SourceView::scanWave() {
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
    std::vector<std::string> seen;  // the demuxer takes the first ds64, fmt and fact chunks: later ones are unused
    std::int64_t at = 12;
    while (readAt(at, h, 8)) {
        if (std::all_of(h, h + 8, [](unsigned char b) { return b == 0; })) {
            if (!unused) unused = at;
            at += (nextNonZero(at, end_) - at) / 8 * 8;
            if (!readAt(at, h, 8)) break;
        }
        const std::uint64_t size = number(h + 4, 4);
        const std::int64_t body = at + 8;
        const std::string name(reinterpret_cast<const char*>(h), 4);
        const bool used = name == "data" || ((name == "ds64" || name == "fmt " || name == "fact") &&
                                             std::find(seen.begin(), seen.end(), name) == seen.end());
        if (used) seen.push_back(name);
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
        if (used && name == "ds64") {
            unsigned char d[8];
            if (readAt(body + 8, d, 8)) wideDataSize = number(d, 8);
        } else if (used && name == "fmt ") {
            scanFormat(body, size, bigEndian);
        }
        at = body + static_cast<std::int64_t>(size + (size & 1));
    }
    if (unused) junkRun(*unused, std::max(at, *unused + 8));
}

void SourceView::endWithData(std::int64_t body, std::uint64_t length, bool wide) {
    unsigned char h[8];
    // A stream's writer, which cannot go back to its header, states 0 or the most it can.
    cutShort_ = length > static_cast<std::uint64_t>(end_ - body) && length != 0xFFFFFFFF;
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

void SourceView::scanWave64() {
    static constexpr unsigned char kRiff[16] = {'r', 'i', 'f', 'f', 0x2E, 0x91, 0xCF, 0x11,
                                                0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};
    static constexpr unsigned char kData[12] = {0xF3, 0xAC, 0xD3, 0x11, 0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};
    unsigned char h[24];
    if (!readAt(0, h, 16) || std::memcmp(h, kRiff, 16) != 0) return;
    std::int64_t at = 40;
    for (int chunks = 0; chunks < 1024 && readAt(at, h, 24); ++chunks) {
        std::uint64_t size = 0;
        for (int i = 0; i < 8; ++i) size |= std::uint64_t{h[16 + i]} << (8 * i);
        const bool data = std::memcmp(h, "data", 4) == 0 && std::memcmp(h + 4, kData, 12) == 0;
        if (size < 24 || size > static_cast<std::uint64_t>(end_ - at)) {
            cutShort_ = data && size >= 24;
            return;
        }
        if (data) {
            end_ = at + static_cast<std::int64_t>(size);
            return;
        }
        at += static_cast<std::int64_t>((size + 7) / 8 * 8);
    }
}

void SourceView::scanBoxes(std::int64_t at, std::int64_t to, int depth) {
    static constexpr const char* kPath[] = {"moov", "udta", "meta", "ilst"};
    unsigned char h[8];
    std::int64_t freeFrom = -1;  // where the run of free boxes that `at` ends starts (at the top)
    for (int boxes = 0; (depth == 0 || boxes < 1024) && at < to && readAt(at, h, 8); ++boxes) {
        auto number = [](const unsigned char* b, int bytes) {  // big-endian
            std::uint64_t v = 0;
            for (int i = 0; i < bytes; ++i) v = v << 8 | b[i];
            return v;
        };
        // The walk ends at a 64-bit size (1) or one running to the end of the file (0): an mdat box.
        std::uint64_t size = number(h, 4);
        unsigned char wide[8];
        if (size == 1 && readAt(at + 8, wide, 8)) size = number(wide, 8);
        if (size < 8 || size > static_cast<std::uint64_t>(to - at)) {
            // The sound's box runs past the end of the file: a copy cut short.
            cutShort_ = depth == 0 && size >= 8 && std::memcmp(h + 4, "mdat", 4) == 0;
            if (depth == 0 && freeFrom >= 0) freeRun(freeFrom, at);
            return;
        }
        const bool unused = std::memcmp(h + 4, "free", 4) == 0 || std::memcmp(h + 4, "skip", 4) == 0;
        if (depth == 0 && !unused && freeFrom >= 0) freeRun(freeFrom, at);
        if (depth == 0 && !unused) freeFrom = -1;
        if (depth == 0 && unused && freeFrom < 0) freeFrom = at;
        if (depth == 4 && std::memcmp(h + 4, "covr", 4) == 0) {
            renamed_.emplace_back(at + 4, "free");
        } else if (depth < 4 && std::memcmp(h + 4, kPath[depth], 4) == 0) {
            // The meta box starts with its version and flags, 4 bytes.
            scanBoxes(at + (depth == 2 ? 12 : 8), at + static_cast<std::int64_t>(size), depth + 1);
        }
        at += static_cast<std::int64_t>(size);
    }
    // Free boxes to the end of the file: the demuxer would step through each, 8 bytes at a time.
    if (depth == 0 && at == end_ && freeFrom > 0) end_ = freeFrom;
}

void SourceView::freeRun(std::int64_t at, std::int64_t to) {
    constexpr std::int64_t kLongest = 0xFFFFFFF0;
    if (to - at <= 8) return;  // one empty box
    while (to - at > kLongest) {
        const std::int64_t piece = std::min(kLongest, to - at - 8);
        renamed_.emplace_back(at, bigEndian32(static_cast<std::uint32_t>(piece)) + "free");
        at += piece;
    }
    renamed_.emplace_back(at, bigEndian32(static_cast<std::uint32_t>(to - at)) + "free");
}

// The Ogg checksum (CRC-32, polynomial 0x04C11DB7, no reflection, initial value 0) of any page
// in a window of the file, from the checksums of the window's prefixes: a checksum is linear, so
// that of [a, b) is prefix(b) + prefix(a)·x^(8(b−a)) (mod the polynomial). Each byte is summed
// once for all the pages that may hold it (capture patterns close together in junk claim up to
// 64 KB each), and each page costs one multiplication.
class SourceView::OggChecksums {
public:
    explicit OggChecksums(const SourceView& view) : view_(view) {
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t r = i << 24;
            for (int k = 0; k < 8; ++k) r = (r & 0x80000000u) != 0 ? (r << 1) ^ kPoly : r << 1;
            table_[i] = r;
        }
        shifts_.push_back(1);  // x^0
        toField_ = multiples(shift(26));
    }

    // Whether the page of `length` bytes at `at` has the checksum that its bytes 22…25 (`stated`)
    // hold; those bytes count as zeros.
    bool holds(std::int64_t at, std::int64_t length, const unsigned char* stated) {
        if (at < from_ || at + length > from_ + static_cast<std::int64_t>(bytes_.size())) load(at);
        if (at + length > from_ + static_cast<std::int64_t>(bytes_.size())) return false;
        const auto a = static_cast<std::size_t>(at - from_), b = a + static_cast<std::size_t>(length);
        // What precedes the page and its stated checksum, both carried to the page's byte 26.
        std::uint32_t field = 0;
        for (int i = 0; i < 4; ++i) field = step(field, stated[i]);
        const std::uint32_t carried = multiply(prefix_[a], toField_) ^ field;
        const std::uint32_t sum = prefix_[b] ^ times(carried, shift(b - a - 26));
        return sum == (std::uint32_t{stated[0]} | std::uint32_t{stated[1]} << 8 | std::uint32_t{stated[2]} << 16 | std::uint32_t{stated[3]} << 24);
    }

private:
    static constexpr std::uint32_t kPoly = 0x04C11DB7u;
    static constexpr std::int64_t kWindow = std::int64_t{1} << 20;
    static constexpr std::int64_t kLongestPage = 27 + 255 + 255 * 255;

    std::uint32_t step(std::uint32_t crc, unsigned char byte) const { return crc << 8 ^ table_[(crc >> 24) ^ byte]; }
    // The products of a factor with every 4-bit polynomial.
    using Multiples = std::array<std::uint32_t, 16>;
    static Multiples multiples(std::uint32_t b) {
        Multiples m{};
        for (std::uint32_t v = 1; v < 16; v <<= 1) {
            m[v] = b;
            b = (b & 0x80000000u) != 0 ? (b << 1) ^ kPoly : b << 1;
        }
        for (std::uint32_t v = 1; v < 16; ++v) m[v] = m[v & (v - 1)] ^ m[v & (~v + 1)];
        return m;
    }
    // a·b mod the polynomial, for b's multiples, four bits of `a` at a time.
    std::uint32_t multiply(std::uint32_t a, const Multiples& b) const {
        std::uint32_t r = 0;
        for (int i = 28; i >= 0; i -= 4) r = (r << 4 ^ table_[r >> 28]) ^ b[a >> i & 15];
        return r;
    }
    // The same for any b (pages of one length share it).
    std::uint32_t times(std::uint32_t a, std::uint32_t b) {
        if (b != factor_ || !factorSet_) {
            factor_ = b;
            factorSet_ = true;
            factorMultiples_ = multiples(b);
        }
        return multiply(a, factorMultiples_);
    }
    // x^(8n) mod the polynomial.
    std::uint32_t shift(std::size_t n) {
        while (shifts_.size() <= n) shifts_.push_back(shifts_.back() << 8 ^ table_[shifts_.back() >> 24]);
        return shifts_[n];
    }
    void load(std::int64_t at) {
        from_ = at;
        bytes_.resize(static_cast<std::size_t>(kWindow + kLongestPage));
        const ssize_t got = view_.readFile(bytes_.data(), bytes_.size(), at);
        bytes_.resize(static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
        prefix_.resize(bytes_.size() + 1);
        prefix_[0] = 0;
        for (std::size_t i = 0; i < bytes_.size(); ++i) prefix_[i + 1] = step(prefix_[i], bytes_[i]);
    }

    const SourceView& view_;
    std::array<std::uint32_t, 256> table_{};
    std::vector<std::uint32_t> shifts_;
    Multiples factorMultiples_{};
    Multiples toField_{};  // of x^208: what precedes a page, carried past its first 26 bytes
    std::uint32_t factor_ = 0;
    bool factorSet_ = false;
    std::vector<unsigned char> bytes_;
    std::vector<std::uint32_t> prefix_;
    std::int64_t from_ = 0;
};

void SourceView::scanOgg() {
    std::vector<unsigned char> page(27 + 255);
    OggChecksums checksums(*this);
    std::map<std::uint32_t, std::uint32_t> next;  // a stream's serial number: its next page's number
    std::map<std::uint32_t, bool> sounding;       // whether a page of the stream has stated a position
    bool begun = false;                           // a page that begins no stream has been seen
    std::vector<std::pair<std::int64_t, std::string>> links{{0, {}}};  // where each link starts, its codecs
    std::int64_t at = 0, last = 0;
    auto number = [&](std::size_t i) {
        return std::uint32_t{page[i]} | std::uint32_t{page[i + 1]} << 8 | std::uint32_t{page[i + 2]} << 16 | std::uint32_t{page[i + 3]} << 24;
    };
    while (at < end_) {
        std::size_t length = 0;
        bool first = false;
        std::uint32_t serial = 0;
        if (readAt(at, page.data(), 27) && std::memcmp(page.data(), "OggS", 4) == 0 && page[4] == 0 &&
            readAt(at + 27, page.data() + 27, page[26])) {
            first = (page[5] & 2) != 0;
            serial = number(14);
            // A page of no stream begun is not checked: its checksum would cost its whole length
            // at every such capture pattern.
            if (first || next.count(serial) != 0) {
                const unsigned char* lacing = page.data() + 27;
                unsigned sum = 0;
                for (unsigned i = 0, n = page[26]; i < n; ++i) sum += lacing[i];
                length = 27 + page[26] + sum;
                if (!checksums.holds(at, static_cast<std::int64_t>(length), page.data() + 22)) length = 0;
            }
        }
        if (length > 0) {
            const std::uint32_t sequence = number(18);
            if (first && begun) {
                chained_ = true;
                begun = false;
                links.push_back({at, {}});
            }
            // A link's codecs, by the start of each stream's first packet (a skeleton aside).
            char kind[5] = {};
            if (first && readAt(at + 27 + page[26], reinterpret_cast<unsigned char*>(kind), std::min<std::size_t>(length - 27 - page[26], 5)) &&
                std::memcmp(kind, "fishe", 5) != 0)
                links.back().second.append(kind, 5);
            // A file cut out of a longer one keeps the pages' numbers: right after its header
            // pages, the first page of sound jumps in number and in position alike, and follows
            // the page before it at once (damage leaves bytes that are no page between them).
            const auto granule = static_cast<std::int64_t>(std::uint64_t{number(6)} | std::uint64_t{number(10)} << 32);
            const bool cut = !first && !sounding[serial] && granule > 0 && sequence > next[serial] && at == last;
            if (!first && sequence != next[serial] && !cut) pagesMissing_ = true;
            if (granule > 0) sounding[serial] = true;
            begun = begun || !first;
            next[serial] = sequence + 1;
            ended_ = (page[5] & 4) != 0;
            at += static_cast<std::int64_t>(length);
            last = at;
        } else {
            at = find("OggS", at + 1, end_);
        }
    }
    if (last > 0) end_ = last;
    for (std::size_t i = 1; i < links.size(); ++i) {
        if (links[i].second != links[0].second) {
            for (std::size_t k = 0; k < links.size(); ++k) links_.emplace_back(links[k].first, k + 1 < links.size() ? links[k + 1].first : end_);
            return;
        }
    }
}


std::int64_t SourceView::find(std::string_view pattern, std::int64_t from, std::int64_t until) const {
    until = std::min(until, end_);
    const auto n = static_cast<std::int64_t>(pattern.size());
    for (std::int64_t at = from; at < until;) {
        if (foundAt_ < 0 || at < foundAt_ || at + n > foundAt_ + static_cast<std::int64_t>(found_.size())) {
            at = skipHole(at);
            if (at >= until) break;
            found_.resize(kZeroBlock);
            const ssize_t got = readFile(found_.data(), static_cast<std::size_t>(std::min(kZeroBlock, end_ - at)), at);
            found_.resize(static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
            foundAt_ = at;
            if (static_cast<std::int64_t>(found_.size()) < n) break;
        }
        const auto offset = static_cast<std::size_t>(at - foundAt_);
        if (const void* hit = ::memmem(found_.data() + offset, found_.size() - offset, pattern.data(), pattern.size()))
            return std::min(until, foundAt_ + (static_cast<const char*>(hit) - found_.data()));
        at = foundAt_ + static_cast<std::int64_t>(found_.size()) - (n - 1);  // a pattern across the blocks' edge
    }
    return until;
}

void SourceView::scanCaf() {
    unsigned char h[12];
    std::int64_t at = 8;
    while (readAt(at, h, 12) && std::all_of(h, h + 4, [](unsigned char c) { return c >= 0x20 && c < 0x7F; })) {
        std::uint64_t size = 0;
        for (int i = 4; i < 12; ++i) size = size << 8 | h[i];
        if (size > static_cast<std::uint64_t>(end_ - at - 12)) {
            cutShort_ = std::memcmp(h, "data", 4) == 0 && size != ~std::uint64_t{0};
            return;
        }
        at += 12 + static_cast<std::int64_t>(size);
    }
    end_ = at;
}

void SourceView::scanMatroska() {
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
    // Cluster, Cues, Tags, SeekHead, Info, Tracks, Attachments, Chapters and Void.
    static constexpr std::uint64_t kInSegment[] = {0x1F43B675, 0x1C53BB6B, 0x1254C367, 0x114D9B74, 0x1549A966,
                                                   0x1654AE6B, 0x1941A469, 0x1043A770, 0xEC};
    std::int64_t at = 0;
    for (int element = 0; element < 2; ++element) {
        const auto id = number(at, false);
        const auto size = number(at, true);
        const bool fits = size && *size <= static_cast<std::uint64_t>(end_ - at);
        if (id && *id == 0x18538067) {  // the segment
            // A size unknown (a stream's) or beyond the end of the file: the segment runs to it.
            const std::int64_t stated = fits ? at + static_cast<std::int64_t>(*size) : end_;
            // A cluster of fewer than 8 bytes holds no block, and a Void nothing: a run of them at
            // the end, inside the segment or after it, is not read through (the demuxer takes
            // each one apart).
            std::int64_t child = at, held = at;
            for (std::int64_t next = child; child < end_; child = next) {
                const auto childId = number(next, false);
                const auto childSize = number(next, true);
                if (!childId || !childSize || *childSize > static_cast<std::uint64_t>(end_ - next) ||
                    std::find(std::begin(kInSegment), std::end(kInSegment), *childId) == std::end(kInSegment))
                    break;
                next += static_cast<std::int64_t>(*childSize);
                if (*childId != 0xEC && (*childId != 0x1F43B675 || *childSize >= 8)) held = next;
            }
            end_ = child >= stated ? held : std::max(stated, held);
            return;
        }
        if (!id || !fits) return;
        at += static_cast<std::int64_t>(*size);
    }
}

}  // namespace tessoral::AudioIO
