#pragma once

#include <cstdint>
#include <cstring>
#include <cstdint>
#include <sys/types.h>
#include <array>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct AVIOContext;

namespace tessoral::AudioIO {

// The reader's refusal of a file it cannot open, for an FFmpeg error code (AudioIO.cpp).
[[noreturn]] void failOpen(int code);

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
    // The bytes [from, to) of the file, seen as a file of their own (to beyond the end: up to it).
    explicit SourceView(const std::filesystem::path& path, std::int64_t from = 0, std::int64_t to = INT64_MAX);
    ~SourceView();
    SourceView(const SourceView&) = delete;
    SourceView& operator=(const SourceView&) = delete;

    // The context for AVFormatContext::pb, reading from the start of the view; it stays ours
    // (FFmpeg never frees a custom one). A second call replaces the first context, so that what
    // a probe read through it passes the view's renaming again.
    AVIOContext* io();

    // Where the demuxer has read up to.
    std::int64_t position() const { return position_; }
    bool exhausted() const { return position_ >= end_; }

    // When nothing but zeros follows what the demuxer has read, the file ends there for it: a
    // preallocated file never filled is passed at once instead of being searched for frames.
    void endBeforeZeros();

    // A big-endian WAV (RIFX) in a form the program cannot read: refused in its own words.
    bool unsupported() const { return unsupported_; }

    // An Ogg file whose pages of a stream are not numbered one after the other: a page is missing
    // or fails its checksum inside the stream (the demuxers resync past it without a word).
    bool pagesMissing() const { return pagesMissing_; }
    // An Ogg file whose last page ends its stream, as a writer that finished the file leaves it
    // (a copy cut short has lost that page).
    bool ended() const { return ended_; }
    // An Ogg file of several streams one after the other (a chained stream recording): what its
    // demuxer states as the duration is the last link's.
    bool chained() const { return chained_; }
    // For a chained Ogg file whose links differ in codec (Vorbis, then Opus): each link's bytes
    // [from, to), which no one demuxer reads in one go. Empty for any other file.
    const std::vector<std::pair<std::int64_t, std::int64_t>>& links() const { return links_; }
    // A WAV, Wave64, CAF or MP4 file whose sound chunk or box states more than the file holds: a
    // copy cut short.
    bool cutShort() const { return cutShort_; }
    // Whether the system failed a read of the file (an errno), as opposed to a library's own
    // "I/O error" about what it read.
    bool readFailed() const { return readFailed_; }

    // For a stream of MP3 frames: an ID3v2 tag between frames (joined files, each with its tag,
    // a cover among them) reads as zeros, which the parser passes, instead of as damaged frames.
    // Tags are found as the demuxer reads, so the search never runs ahead of it by more than a
    // block, and each byte is searched once.
    void passTags() { tagsFrom_ = 1; }

    // For a stream of bare codec frames (MP3, AC3, ADTS, FLAC), which no header bounds and whose
    // frames each start with the byte `sync`: what follows the last such byte (a preallocated
    // file's zeros never filled, bytes that hold no frame) is seen only up to 1 MB, more than any
    // frame's size and the most that the format probe reads, so what the probe saw stays inside
    // the view and the last frame stays whole. The demuxer would take each byte of it for the
    // start of a frame, at a cost many times that of reading it.
    void dropTail(unsigned char sync);

    // How many bytes of the file the view has read, the scans' included (holes are not read).
    std::int64_t bytesRead() const { return bytesRead_; }

    // The last `n` bytes of the view (fewer in a shorter file).
    std::string lastBytes(std::int64_t n) const;

    // Read callbacks in the form of stdio's, for a library that reads the view itself.
    std::size_t readItems(void* buffer, std::size_t size, std::size_t count);
    int seekTo(std::int64_t offset, int whence);
    std::int64_t tell() const { return position_; }

private:
    static constexpr std::int64_t kZeroBlock = 1 << 20;

    // pread of the view's bytes [at, at + n), cut at the view's end.
    ssize_t readFile(void* out, std::size_t n, std::int64_t at) const;

    // Holes of a sparse or preallocated file read as zeros; the scans pass them without reading.
    // The first position at or after `at` that may hold data (end_ or beyond when none does).
    std::int64_t skipHole(std::int64_t at) const;
    // Where the file's last stretch of data ends (end_ where the system cannot tell).
    std::int64_t dataEnd() const;

    // Compared as memory, which the C library does many bytes at a time.
    static bool allZero(const unsigned char* p, std::size_t n) {
        return n == 0 || (p[0] == 0 && std::memcmp(p, p + 1, n - 1) == 0);
    }

    static int read(void* opaque, std::uint8_t* buffer, int size);
    // Applies the renamed bytes to the `n` bytes read at position_.
    void rename(std::uint8_t* buffer, std::int64_t n) const;
    // Marks the ID3v2 tags that start before `to` (passTags).
    void findTags(std::int64_t to);
    // Clears the bytes of the marked tags among the `n` bytes read at position_.
    void zero(std::uint8_t* buffer, std::int64_t n) const;

    // Reverses the byte order of the big-endian samples among the `n` bytes read at position_. A
    // sample cut by the edge of the buffer is read whole on its own.
    void swapSamples(std::uint8_t* buffer, std::int64_t n) const;
    // FFmpeg seeks only to absolute positions. It asks for the size at every chunk of a WAV file:
    // answered from what we hold, where the file protocol made a system call for each.
    static std::int64_t seek(void* opaque, std::int64_t offset, int whence);

    // The scans read through a block of the file held here: a walk over many small chunks
    // makes one system call per block, not one per chunk.
    bool readAt(std::int64_t at, unsigned char* out, std::size_t n) const;

    // The first position in [from, to) whose byte is not zero, or `to`.
    std::int64_t nextNonZero(std::int64_t from, std::int64_t to) const;

    // Rewrites the header of the chunk at `at` so that it spans [at, to) and reads as JUNK: the
    // demuxer steps over a run of chunks the program does not use in one seek. A run longer than
    // a chunk can be is split.
    void junkRun(std::int64_t at, std::int64_t to);
    static std::string le32(std::uint32_t v) {
        return {char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char(v >> 24)};
    }

    // The `fmt ` chunk's body. WAVE_FORMAT_EXTENSIBLE's count of valid bits is set to the bits
    // each sample takes, so that 24 valid bits in 32-bit slots read as the 32-bit integers they
    // are (FFmpeg takes them for 24-bit floats). In a RIFX file the fields are turned little-endian
    // and the samples are swapped as they are read; only integer and float samples are read so.
    void scanFormat(std::int64_t body, std::uint64_t size, bool bigEndian);

    // Walks the chunks up to `data` as the demuxer does (an odd size is followed by a pad byte).
    // The chunks between the ones the program uses (a later ds64, fmt or fact chunk among them)
    // become one JUNK chunk each run; a run of zeros (8-byte empty chunks to the demuxer) is passed
    // at once. A RIFX file is seen as the little-endian WAV it would be.
    void scanWave();

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
    void endWithData(std::int64_t body, std::uint64_t length, bool wide);

    // A Wave64 file ends with its data chunk, as a WAV file does (the demuxer reads what follows
    // as a chunk, and refuses a few stray bytes). Chunks are 16-byte GUIDs and 64-bit sizes that
    // count their headers, each aligned to 8 bytes.
    void scanWave64();

    // The MP4 boxes in [at, to) at `depth` on the way to the cover, at most 1024 of them below the
    // top; an `mdat` box at the top that the end of the file cuts is a copy cut short, free
    // boxes that run to the end of the file are not part of it, and a run of them before another
    // box reads as one.
    void scanBoxes(std::int64_t at, std::int64_t to, int depth);
    // Rewrites the header of the box at `at` so that it spans the run of free boxes [at, to): the
    // demuxer steps over the run in one seek, where it took the boxes apart one by one.
    void freeRun(std::int64_t at, std::int64_t to);
    static std::string bigEndian32(std::uint32_t v) {
        return {char(v >> 24), char((v >> 16) & 0xFF), char((v >> 8) & 0xFF), char(v & 0xFF)};
    }

    // An Ogg file ends with its last page: the view ends there, so that what follows (zeros or any
    // bytes) is never searched for pages, which libvorbisfile does from the end of the file at
    // every open. Pages are found as the demuxers find them, by their capture pattern and
    // checksum, past damage too: damage inside the stream stays inside the view.
    void scanOgg();
    class OggChecksums;
    // The first position in [from, until) where `pattern` starts, or `until`. Each
    // byte is read once over a walk of rising `from`s: the block read last is searched first.
    std::int64_t find(std::string_view pattern, std::int64_t from, std::int64_t until) const;

    // A CAF file's chunks, 12-byte headers with a big-endian 64-bit size, up to the first header
    // that is not one (zeros or other bytes after the file's end); a data chunk of unknown size
    // runs to the end of the file, as does a chunk cut short by it.
    void scanCaf();

    // A Matroska or WebM file ends with its segment, when the segment states its size, or with
    // the last of the segment's elements that follow one another past a stated size too small
    // (the demuxer reads on through them).
    void scanMatroska();

    int fd_;
    std::int64_t base_ = 0;  // where the view starts in the file
    mutable std::int64_t bytesRead_ = 0;
    std::int64_t end_ = 0;
    std::int64_t position_ = 0;
    std::vector<std::pair<std::int64_t, std::string>> renamed_;  // where bytes read as others, in order
    std::size_t longestRename_ = 0;
    std::int64_t dataAt_ = 0;  // a position known to hold a byte other than zero (0: none known)
    bool unsupported_ = false;
    bool pagesMissing_ = false;
    bool chained_ = false;
    bool ended_ = false;
    std::vector<std::pair<std::int64_t, std::int64_t>> links_;
    bool readFailed_ = false;
    bool cutShort_ = false;
    std::int64_t droppedFrom_ = -1;  // where the view ended before dropTail (-1: it did not)
    std::int64_t tagsFrom_ = 0;  // where the search for ID3v2 tags goes on (0: no search)
    std::vector<std::pair<std::int64_t, std::int64_t>> zeroed_;  // [from, to) that read as zeros, in order
    int swapWidth_ = 0;  // bytes per sample of a RIFX file's samples in [swapFrom_, swapTo_)
    std::int64_t swapFrom_ = 0;
    std::int64_t swapTo_ = 0;
    static constexpr std::size_t kCacheBlock = 65536;
    struct Cache {
        std::vector<unsigned char> bytes;
        std::int64_t at = 0;
    };
    mutable std::array<Cache, 2> caches_;
    mutable int lastCache_ = 0;  // the cache read last
    mutable std::vector<char> found_;  // the block find() read last, at foundAt_
    mutable std::int64_t foundAt_ = -1;
    AVIOContext* io_ = nullptr;
};

}  // namespace tessoral::AudioIO
