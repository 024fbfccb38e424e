#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "model/ByteSink.h"
#include "model/PlistValue.h"

namespace tessoral {

// Binary property lists ("bplist00"): a streaming writer and a bounds-checked lazy reader.
//
// Layout: the 8-byte header "bplist00", the objects, a table with the offset of every
// object, and a 32-byte trailer (offset size, reference size, object count, root object,
// offset of the table), all integers big-endian. Containers refer to their members by
// object number.

// A property-list date: seconds since 2001-01-01 00:00:00 UTC (stored as marker 0x33 and a
// big-endian 64-bit float).
struct PlistDate {
    // Seconds between the Unix epoch and the property-list epoch.
    static constexpr double kEpochOffset = 978307200.0;
    double seconds = 0.0;

    static PlistDate fromUnix(double unixSeconds) { return PlistDate{unixSeconds - kEpochOffset}; }
    // The current time.
    static PlistDate now();
    double unixSeconds() const { return seconds + kEpochOffset; }
    friend bool operator==(const PlistDate&, const PlistDate&) = default;
};

// ---- writing ----

// A value to write. Small records are PlistValue trees (owned or borrowed); large byte
// blocks are borrowed, so that writing never copies them: they go straight to the sink.
class PlistOut {
public:
    struct Borrowed {
        const PlistValue* value;
    };
    using Bytes = std::span<const std::uint8_t>;
    using Array = std::vector<PlistOut>;
    using Dict = std::vector<std::pair<std::string, PlistOut>>;
    using Storage = std::variant<PlistValue, Borrowed, Bytes, Array, Dict, PlistDate>;

    PlistOut() : v_(Dict{}) {}
    PlistOut(PlistValue value) : v_(std::move(value)) {}
    PlistOut(bool b) : v_(PlistValue(b)) {}
    PlistOut(int i) : v_(PlistValue(i)) {}
    PlistOut(std::int64_t i) : v_(PlistValue(i)) {}
    PlistOut(double d) : v_(PlistValue(d)) {}
    PlistOut(const char* s) : v_(PlistValue(s)) {}
    PlistOut(std::string s) : v_(PlistValue(std::move(s))) {}
    PlistOut(const Uuid& id) : v_(PlistValue(id)) {}
    PlistOut(PlistDate date) : v_(date) {}
    PlistOut(Array a) : v_(std::move(a)) {}
    PlistOut(Dict d) : v_(std::move(d)) {}

    // A record that outlives the write.
    static PlistOut borrow(const PlistValue& value) { return PlistOut(Storage(Borrowed{&value})); }
    // A byte block that outlives the write; written as data without a copy.
    static PlistOut bytes(Bytes block) { return PlistOut(Storage(block)); }

    // Appends key → value to a dictionary.
    void add(std::string key, PlistOut value);

    const Storage& storage() const { return v_; }

private:
    explicit PlistOut(Storage s) : v_(std::move(s)) {}
    Storage v_;
};

namespace Bplist {

// Writes `root` as a binary property list into the sink. Strings are stored as ASCII
// or UTF-16; text that is not valid UTF-8 has its bad bytes replaced by U+FFFD.
void write(const PlistOut& root, ByteSink& sink);
// The whole encoding in memory (small values: tests, recovery information).
std::vector<std::uint8_t> encode(const PlistOut& root);

}  // namespace Bplist

// ---- reading ----

// Structural damage of a binary property list: bad header or trailer, an offset,
// reference or length outside the file, a reference cycle, nesting too deep, an
// object type the reader does not know.
class BplistError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Random access to the bytes of a file or of memory.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const = 0;
    // Copies `count` bytes at `offset` into `out`. Throws BplistError when the range
    // lies outside the source; a read error of the file system is thrown as PlatformError.
    virtual void read(std::uint64_t offset, void* out, std::size_t count) const = 0;
};

class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint64_t size() const override { return bytes_.size(); }
    void read(std::uint64_t offset, void* out, std::size_t count) const override;

private:
    std::span<const std::uint8_t> bytes_;
};

// A regular file read with pread: small reads through a window cache, large blocks
// straight into the caller's memory. Never maps the file, so a file that shrinks
// while it is read gives an error instead of a crash.
class FileSource final : public ByteSource {
public:
    // Takes ownership of the open descriptor; `size` is the size from fstat.
    FileSource(int fd, std::uint64_t size, std::filesystem::path path);
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    std::uint64_t size() const override { return size_; }
    void read(std::uint64_t offset, void* out, std::size_t count) const override;

private:
    void readDirect(std::uint64_t offset, void* out, std::size_t count) const;

    int fd_;
    std::uint64_t size_;
    std::filesystem::path path_;
    mutable std::vector<std::uint8_t> window_;
    mutable std::uint64_t windowOffset_ = 0;
};

enum class PlistKind { null, boolean, integer, real, date, data, string, uid, array, dict };

// A lazy, bounds-checked view of a binary property list: objects are decoded only when
// asked for, so a caller can walk a large file and take its byte blocks straight from
// the source. Every offset, reference and length is checked against the file before use.
class BplistReader {
public:
    using Ref = std::uint64_t;

    // Where a data object's bytes lie in the source.
    struct DataRange {
        std::uint64_t offset = 0;
        std::uint64_t size = 0;
    };

    // Limits of materialisation with value().
    struct Budget {
        int maxDepth = 32;
        std::uint64_t maxNodes = 1 << 16;
        std::uint64_t maxBytes = 16 << 20;  // string and data bytes
    };

    // Reads and checks the header, the trailer and the extent of the offset table.
    explicit BplistReader(const ByteSource& source);

    Ref root() const { return root_; }
    std::uint64_t objectCount() const { return objectCount_; }

    PlistKind kind(Ref ref) const;
    // Members of an array, entries of a dictionary, bytes of a string or data.
    std::uint64_t count(Ref ref) const;

    bool boolean(Ref ref) const;
    std::int64_t integer(Ref ref) const;
    double real(Ref ref) const;
    PlistDate date(Ref ref) const;
    std::string string(Ref ref) const;
    DataRange data(Ref ref) const;

    Ref item(Ref array, std::uint64_t index) const;
    Ref key(Ref dict, std::uint64_t index) const;
    Ref value(Ref dict, std::uint64_t index) const;
    // Calls `visit(key, value)` for every entry in order; keys must be strings.
    void forEachEntry(Ref dict, const std::function<void(const std::string&, Ref)>& visit) const;

    // The object as a PlistValue tree (dates, UIDs and null are refused). Refuses
    // reference cycles, nesting deeper than the budget and trees above its size.
    PlistValue value(Ref ref, const Budget& budget) const;
    PlistValue value(Ref ref) const { return value(ref, Budget{}); }

    const ByteSource& source() const { return source_; }

private:
    struct Object {
        std::uint8_t marker = 0;
        std::uint64_t count = 0;    // members, bytes or UTF-16 units
        std::uint64_t payload = 0;  // offset of the first byte after the marker and count
    };
    Object object(Ref ref) const;
    std::uint64_t offsetOf(Ref ref) const;
    Ref refAt(std::uint64_t position) const;
    std::uint64_t readUnsigned(std::uint64_t offset, int width) const;
    PlistValue materialise(Ref ref, const Budget& budget, std::vector<Ref>& path, std::uint64_t& nodes,
                           std::uint64_t& bytes) const;

    const ByteSource& source_;
    int offsetSize_ = 0;
    int refSize_ = 0;
    std::uint64_t objectCount_ = 0;
    Ref root_ = 0;
    std::uint64_t tableOffset_ = 0;
};

namespace Bplist {
// Reads a whole property list held in memory into a PlistValue tree.
PlistValue decode(std::span<const std::uint8_t> bytes, const BplistReader::Budget& budget = {});
}  // namespace Bplist

}  // namespace tessoral
