#include "model/Bplist.h"

#include <unistd.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <unordered_map>

#include "model/Localization.h"
#include "model/StudioError.h"

namespace tessoral {

PlistDate PlistDate::now() {
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    return fromUnix(std::chrono::duration<double>(sinceEpoch).count());
}

void PlistOut::add(std::string key, PlistOut value) {
    if (auto d = std::get_if<Dict>(&v_)) d->emplace_back(std::move(key), std::move(value));
}

namespace {

// ---- shared helpers ----

constexpr char kHeader[8] = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
constexpr std::size_t kTrailer = 32;
// Longest single string the reader accepts.
constexpr std::uint64_t kMaxString = 16u << 20;

// Smallest byte width (1, 2, 4 or 8) that holds v.
int widthFor(std::uint64_t v) {
    if (v < (1ull << 8)) return 1;
    if (v < (1ull << 16)) return 2;
    if (v < (1ull << 32)) return 4;
    return 8;
}

void putBigEndian(std::uint8_t* out, std::uint64_t v, int width) {
    for (int i = width - 1; i >= 0; --i) {
        out[i] = static_cast<std::uint8_t>(v & 0xFF);
        v >>= 8;
    }
}

bool isAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// UTF-8 to UTF-16; malformed sequences become U+FFFD.
std::u16string toUtf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    std::size_t i = 0;
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    while (i < s.size()) {
        const unsigned char c = byte(i);
        std::uint32_t cp = 0xFFFD;
        std::size_t len = 1;
        int extra = 0;
        std::uint32_t min = 0;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1, cp = c & 0x1F, min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2, cp = c & 0x0F, min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3, cp = c & 0x07, min = 0x10000;
        }
        if (extra > 0) {
            bool ok = i + static_cast<std::size_t>(extra) < s.size();
            for (int k = 1; ok && k <= extra; ++k) {
                const unsigned char d = byte(i + static_cast<std::size_t>(k));
                if ((d & 0xC0) != 0x80) ok = false;
                else cp = (cp << 6) | (d & 0x3F);
            }
            if (ok && cp >= min && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF)) {
                len = static_cast<std::size_t>(extra) + 1;
            } else {
                cp = 0xFFFD;
            }
        } else if (c >= 0x80) {
            cp = 0xFFFD;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
    return out;
}

void appendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// ---- writer ----

class Writer {
public:
    explicit Writer(ByteSink& sink) : sink_(sink) {}

    void run(const PlistOut& root) {
        flatten(root);
        refSize_ = widthFor(objects_.size());
        put(kHeader, sizeof kHeader);
        offsets_.reserve(objects_.size());
        for (const Obj& o : objects_) {
            offsets_.push_back(position_);
            emit(o);
        }
        const std::uint64_t tableOffset = position_;
        const int offsetSize = widthFor(tableOffset);
        std::vector<std::uint8_t> table(offsets_.size() * static_cast<std::size_t>(offsetSize));
        for (std::size_t i = 0; i < offsets_.size(); ++i)
            putBigEndian(table.data() + i * static_cast<std::size_t>(offsetSize), offsets_[i], offsetSize);
        put(table.data(), table.size());
        std::uint8_t trailer[kTrailer] = {};
        trailer[6] = static_cast<std::uint8_t>(offsetSize);
        trailer[7] = static_cast<std::uint8_t>(refSize_);
        putBigEndian(trailer + 8, objects_.size(), 8);
        putBigEndian(trailer + 16, 0, 8);
        putBigEndian(trailer + 24, tableOffset, 8);
        put(trailer, sizeof trailer);
    }

private:
    enum class Type : std::uint8_t { boolean, integer, real, date, string, bytes, array, dict };
    struct Obj {
        explicit Obj(Type t) : type(t) {}
        Type type;
        bool flag = false;
        std::int64_t integer = 0;
        double real = 0;
        std::string_view text;
        std::span<const std::uint8_t> bytes;
        std::size_t firstRef = 0;  // into refs_; a dictionary lists its keys, then its values
        std::size_t count = 0;
    };

    std::uint64_t add(Obj o) {
        objects_.push_back(o);
        return objects_.size() - 1;
    }

    std::uint64_t addString(std::string_view s) {
        if (auto it = strings_.find(s); it != strings_.end()) return it->second;
        Obj o(Type::string);
        o.text = s;
        const auto index = add(o);
        strings_.emplace(s, index);
        return index;
    }

    template <class Items, class Each>
    std::uint64_t addArray(const Items& items, Each each) {
        const auto index = add(Obj(Type::array));
        std::vector<std::uint64_t> members;
        members.reserve(items.size());
        for (const auto& item : items) members.push_back(each(item));
        objects_[index].firstRef = refs_.size();
        objects_[index].count = members.size();
        refs_.insert(refs_.end(), members.begin(), members.end());
        return index;
    }

    template <class Entries, class Each>
    std::uint64_t addDict(const Entries& entries, Each each) {
        const auto index = add(Obj(Type::dict));
        std::vector<std::uint64_t> keys, values;
        keys.reserve(entries.size());
        values.reserve(entries.size());
        for (const auto& [k, v] : entries) {
            keys.push_back(addString(k));
            values.push_back(each(v));
        }
        objects_[index].firstRef = refs_.size();
        objects_[index].count = keys.size();
        refs_.insert(refs_.end(), keys.begin(), keys.end());
        refs_.insert(refs_.end(), values.begin(), values.end());
        return index;
    }

    std::uint64_t flatten(const PlistValue& v) {
        return std::visit(
            [&](const auto& x) -> std::uint64_t {
                using T = std::decay_t<decltype(x)>;
                if constexpr (std::is_same_v<T, bool>) {
                    Obj o(Type::boolean);
                    o.flag = x;
                    return add(o);
                } else if constexpr (std::is_same_v<T, std::int64_t>) {
                    Obj o(Type::integer);
                    o.integer = x;
                    return add(o);
                } else if constexpr (std::is_same_v<T, double>) {
                    Obj o(Type::real);
                    o.real = x;
                    return add(o);
                } else if constexpr (std::is_same_v<T, std::string>) {
                    return addString(x);
                } else if constexpr (std::is_same_v<T, PlistValue::Data>) {
                    Obj o(Type::bytes);
                    o.bytes = x;
                    return add(o);
                } else if constexpr (std::is_same_v<T, PlistValue::Array>) {
                    return addArray(x, [&](const PlistValue& m) { return flatten(m); });
                } else {
                    return addDict(x, [&](const PlistValue& m) { return flatten(m); });
                }
            },
            v.storage());
    }

    std::uint64_t flatten(const PlistOut& v) {
        return std::visit(
            [&](const auto& x) -> std::uint64_t {
                using T = std::decay_t<decltype(x)>;
                if constexpr (std::is_same_v<T, PlistValue>) {
                    return flatten(x);
                } else if constexpr (std::is_same_v<T, PlistOut::Borrowed>) {
                    return flatten(*x.value);
                } else if constexpr (std::is_same_v<T, PlistOut::Bytes>) {
                    Obj o(Type::bytes);
                    o.bytes = x;
                    return add(o);
                } else if constexpr (std::is_same_v<T, PlistDate>) {
                    Obj o(Type::date);
                    o.real = x.seconds;
                    return add(o);
                } else if constexpr (std::is_same_v<T, PlistOut::Array>) {
                    return addArray(x, [&](const PlistOut& m) { return flatten(m); });
                } else {
                    return addDict(x, [&](const PlistOut& m) { return flatten(m); });
                }
            },
            v.storage());
    }

    void put(const void* p, std::size_t n) {
        if (n == 0) return;
        sink_.write(p, n);
        position_ += n;
    }

    void putByte(std::uint8_t b) { put(&b, 1); }

    void putInteger(std::int64_t v) {
        std::uint8_t buf[9];
        int width = v < 0 ? 8 : widthFor(static_cast<std::uint64_t>(v));
        const int log2 = width == 1 ? 0 : width == 2 ? 1 : width == 4 ? 2 : 3;
        buf[0] = static_cast<std::uint8_t>(0x10 | log2);
        putBigEndian(buf + 1, static_cast<std::uint64_t>(v), width);
        put(buf, 1 + static_cast<std::size_t>(width));
    }

    void putHead(std::uint8_t type, std::uint64_t count) {
        if (count < 15) {
            putByte(static_cast<std::uint8_t>(type | count));
        } else {
            putByte(static_cast<std::uint8_t>(type | 0x0F));
            putInteger(static_cast<std::int64_t>(count));
        }
    }

    void putRefs(std::size_t first, std::size_t count) {
        std::vector<std::uint8_t> buf(count * static_cast<std::size_t>(refSize_));
        for (std::size_t i = 0; i < count; ++i)
            putBigEndian(buf.data() + i * static_cast<std::size_t>(refSize_), refs_[first + i], refSize_);
        put(buf.data(), buf.size());
    }

    void emit(const Obj& o) {
        switch (o.type) {
            case Type::boolean: putByte(o.flag ? 0x09 : 0x08); break;
            case Type::integer: putInteger(o.integer); break;
            case Type::real:
            case Type::date: {
                std::uint8_t buf[9];
                buf[0] = o.type == Type::date ? 0x33 : 0x23;
                putBigEndian(buf + 1, std::bit_cast<std::uint64_t>(o.real), 8);
                put(buf, sizeof buf);
                break;
            }
            case Type::string:
                if (isAscii(o.text)) {
                    putHead(0x50, o.text.size());
                    put(o.text.data(), o.text.size());
                } else {
                    const std::u16string units = toUtf16(o.text);
                    putHead(0x60, units.size());
                    std::vector<std::uint8_t> buf(units.size() * 2);
                    for (std::size_t i = 0; i < units.size(); ++i) {
                        buf[2 * i] = static_cast<std::uint8_t>(units[i] >> 8);
                        buf[2 * i + 1] = static_cast<std::uint8_t>(units[i] & 0xFF);
                    }
                    put(buf.data(), buf.size());
                }
                break;
            case Type::bytes:
                putHead(0x40, o.bytes.size());
                put(o.bytes.data(), o.bytes.size());
                break;
            case Type::array:
                putHead(0xA0, o.count);
                putRefs(o.firstRef, o.count);
                break;
            case Type::dict:
                putHead(0xD0, o.count);
                putRefs(o.firstRef, 2 * o.count);
                break;
        }
    }

    ByteSink& sink_;
    std::vector<Obj> objects_;
    std::vector<std::uint64_t> refs_;
    std::unordered_map<std::string_view, std::uint64_t> strings_;
    std::vector<std::uint64_t> offsets_;
    std::uint64_t position_ = 0;
    int refSize_ = 1;
};

[[noreturn]] void damaged(const char* what) { throw BplistError(std::string("binary property list: ") + what); }

}  // namespace

namespace Bplist {

void write(const PlistOut& root, ByteSink& sink) { Writer(sink).run(root); }

std::vector<std::uint8_t> encode(const PlistOut& root) {
    VectorSink sink;
    write(root, sink);
    return std::move(sink.data);
}

PlistValue decode(std::span<const std::uint8_t> bytes, const BplistReader::Budget& budget) {
    MemorySource source(bytes);
    BplistReader reader(source);
    return reader.value(reader.root(), budget);
}

}  // namespace Bplist

// ---- sources ----

void MemorySource::read(std::uint64_t offset, void* out, std::size_t count) const {
    if (offset > bytes_.size() || count > bytes_.size() - offset) damaged("read beyond the end");
    if (count > 0) std::memcpy(out, bytes_.data() + offset, count);
}

FileSource::FileSource(int fd, std::uint64_t size, std::filesystem::path path)
    : fd_(fd), size_(size), path_(std::move(path)) {}

FileSource::~FileSource() {
    if (fd_ >= 0) ::close(fd_);
}

void FileSource::readDirect(std::uint64_t offset, void* out, std::size_t count) const {
    auto* p = static_cast<std::uint8_t*>(out);
    while (count > 0) {
        const std::size_t piece = std::min<std::size_t>(count, std::size_t{1} << 30);
        const ssize_t n = ::pread(fd_, p, piece, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR) continue;
            const std::string detail = std::error_code(errno, std::system_category()).message();
            throw PlatformError(L("Не удалось прочитать файл «{0}»: {1}", path_.filename().string(), detail));
        }
        if (n == 0) damaged("the file ended early");
        p += n;
        offset += static_cast<std::uint64_t>(n);
        count -= static_cast<std::size_t>(n);
    }
}

void FileSource::read(std::uint64_t offset, void* out, std::size_t count) const {
    constexpr std::size_t kWindow = 64 << 10;
    if (offset > size_ || count > size_ - offset) damaged("read beyond the end");
    if (count == 0) return;
    if (count >= kWindow / 4) {
        readDirect(offset, out, count);
        return;
    }
    if (window_.empty() || offset < windowOffset_ || offset + count > windowOffset_ + window_.size()) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kWindow, size_ - offset));
        window_.resize(n);
        windowOffset_ = offset;
        try {
            readDirect(offset, window_.data(), n);
        } catch (...) {
            window_.clear();
            throw;
        }
    }
    std::memcpy(out, window_.data() + (offset - windowOffset_), count);
}

// ---- reader ----

std::uint64_t BplistReader::readUnsigned(std::uint64_t offset, int width) const {
    std::uint8_t buf[8];
    source_.read(offset, buf, static_cast<std::size_t>(width));
    std::uint64_t v = 0;
    for (int i = 0; i < width; ++i) v = (v << 8) | buf[i];
    return v;
}

BplistReader::BplistReader(const ByteSource& source) : source_(source) {
    const std::uint64_t size = source.size();
    if (size < sizeof kHeader + 1 + 1 + kTrailer) damaged("too short");
    char header[8];
    source.read(0, header, sizeof header);
    if (std::memcmp(header, kHeader, sizeof header) != 0) damaged("not a binary property list");
    std::uint8_t trailer[kTrailer];
    source.read(size - kTrailer, trailer, kTrailer);
    offsetSize_ = trailer[6];
    refSize_ = trailer[7];
    if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) damaged("bad trailer");
    std::uint64_t v[3] = {};
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 8; ++i) v[k] = (v[k] << 8) | trailer[8 + 8 * k + i];
    objectCount_ = v[0];
    root_ = v[1];
    tableOffset_ = v[2];
    if (objectCount_ == 0 || root_ >= objectCount_) damaged("bad object count");
    if (tableOffset_ < sizeof kHeader + 1 || tableOffset_ > size - kTrailer) damaged("bad offset table");
    if ((size - kTrailer - tableOffset_) / static_cast<std::uint64_t>(offsetSize_) < objectCount_)
        damaged("offset table outside the file");
}

std::uint64_t BplistReader::offsetOf(Ref ref) const {
    if (ref >= objectCount_) damaged("object reference out of range");
    const std::uint64_t offset = readUnsigned(tableOffset_ + ref * static_cast<std::uint64_t>(offsetSize_), offsetSize_);
    if (offset < sizeof kHeader || offset >= tableOffset_) damaged("object offset out of range");
    return offset;
}

BplistReader::Ref BplistReader::refAt(std::uint64_t position) const { return readUnsigned(position, refSize_); }

BplistReader::Object BplistReader::object(Ref ref) const {
    const std::uint64_t offset = offsetOf(ref);
    std::uint8_t marker = 0;
    source_.read(offset, &marker, 1);
    Object o;
    o.marker = marker;
    o.payload = offset + 1;
    const int high = marker >> 4;
    const int low = marker & 0x0F;
    const std::uint64_t room = tableOffset_ - o.payload;  // bytes left before the offset table
    auto fixed = [&](std::uint64_t width) {
        if (width > room) damaged("object runs past its area");
    };
    switch (high) {
        case 0x0:
            if (low != 0x0 && low != 0x8 && low != 0x9) damaged("unknown object type");
            return o;
        case 0x1:
            if (low > 4) damaged("bad integer width");
            fixed(1ull << low);
            return o;
        case 0x2:
            if (low != 2 && low != 3) damaged("bad real width");
            fixed(1ull << low);
            return o;
        case 0x3:
            if (low != 3) damaged("bad date");
            fixed(8);
            return o;
        case 0x8:
            fixed(static_cast<std::uint64_t>(low) + 1);
            return o;
        case 0x4:
        case 0x5:
        case 0x6:
        case 0xA:
        case 0xD: break;
        default: damaged("unknown object type");
    }
    o.count = static_cast<std::uint64_t>(low);
    if (low == 0x0F) {
        if (room < 1) damaged("object runs past its area");
        std::uint8_t intMarker = 0;
        source_.read(o.payload, &intMarker, 1);
        if ((intMarker >> 4) != 0x1 || (intMarker & 0x0F) > 3) damaged("bad length");
        const int width = 1 << (intMarker & 0x0F);
        if (static_cast<std::uint64_t>(width) + 1 > room) damaged("object runs past its area");
        o.count = readUnsigned(o.payload + 1, width);
        o.payload += 1 + static_cast<std::uint64_t>(width);
    }
    const std::uint64_t left = tableOffset_ - o.payload;
    std::uint64_t unit = 1;
    if (high == 0x6) unit = 2;
    if (high == 0xA) unit = static_cast<std::uint64_t>(refSize_);
    if (high == 0xD) unit = 2 * static_cast<std::uint64_t>(refSize_);
    if (o.count > left / unit) damaged("length runs past the objects");
    return o;
}

PlistKind BplistReader::kind(Ref ref) const {
    const std::uint8_t m = object(ref).marker;
    switch (m >> 4) {
        case 0x0: return m == 0x00 ? PlistKind::null : PlistKind::boolean;
        case 0x1: return PlistKind::integer;
        case 0x2: return PlistKind::real;
        case 0x3: return PlistKind::date;
        case 0x4: return PlistKind::data;
        case 0x5:
        case 0x6: return PlistKind::string;
        case 0x8: return PlistKind::uid;
        case 0xA: return PlistKind::array;
        default: return PlistKind::dict;
    }
}

std::uint64_t BplistReader::count(Ref ref) const { return object(ref).count; }

bool BplistReader::boolean(Ref ref) const {
    const std::uint8_t m = object(ref).marker;
    if (m != 0x08 && m != 0x09) damaged("expected a boolean");
    return m == 0x09;
}

std::int64_t BplistReader::integer(Ref ref) const {
    const Object o = object(ref);
    if ((o.marker >> 4) != 0x1) damaged("expected an integer");
    const int width = 1 << (o.marker & 0x0F);
    if (width == 16) {
        // 128-bit: accepted when it fits in 64 bits.
        const std::uint64_t high = readUnsigned(o.payload, 8);
        const std::uint64_t low = readUnsigned(o.payload + 8, 8);
        const bool negative = (low >> 63) != 0;
        if (high != (negative ? ~0ull : 0ull)) damaged("integer out of range");
        return static_cast<std::int64_t>(low);
    }
    const std::uint64_t v = readUnsigned(o.payload, width);
    return static_cast<std::int64_t>(v);  // 8 bytes are two's complement; narrower widths are unsigned
}

double BplistReader::real(Ref ref) const {
    const Object o = object(ref);
    if (o.marker == 0x22) return static_cast<double>(std::bit_cast<float>(static_cast<std::uint32_t>(readUnsigned(o.payload, 4))));
    if (o.marker == 0x23) return std::bit_cast<double>(readUnsigned(o.payload, 8));
    damaged("expected a real");
}

PlistDate BplistReader::date(Ref ref) const {
    const Object o = object(ref);
    if (o.marker != 0x33) damaged("expected a date");
    return PlistDate{std::bit_cast<double>(readUnsigned(o.payload, 8))};
}

std::string BplistReader::string(Ref ref) const {
    const Object o = object(ref);
    const int high = o.marker >> 4;
    if (high == 0x5) {
        if (o.count > kMaxString) damaged("string too long");
        std::string s(static_cast<std::size_t>(o.count), '\0');
        source_.read(o.payload, s.data(), s.size());
        if (!isAscii(s)) damaged("bad ASCII string");
        return s;
    }
    if (high != 0x6) damaged("expected a string");
    if (o.count > kMaxString / 2) damaged("string too long");
    std::vector<std::uint8_t> raw(static_cast<std::size_t>(o.count) * 2);
    source_.read(o.payload, raw.data(), raw.size());
    std::string out;
    out.reserve(raw.size());
    const std::size_t n = static_cast<std::size_t>(o.count);
    for (std::size_t i = 0; i < n; ++i) {
        std::uint32_t u = (std::uint32_t{raw[2 * i]} << 8) | raw[2 * i + 1];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n) {
            const std::uint32_t w = (std::uint32_t{raw[2 * i + 2]} << 8) | raw[2 * i + 3];
            if (w >= 0xDC00 && w <= 0xDFFF) {
                appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (w - 0xDC00));
                ++i;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF) u = 0xFFFD;  // unpaired surrogate
        appendUtf8(out, u);
    }
    return out;
}

BplistReader::DataRange BplistReader::data(Ref ref) const {
    const Object o = object(ref);
    if ((o.marker >> 4) != 0x4) damaged("expected data");
    return {o.payload, o.count};
}

BplistReader::Ref BplistReader::item(Ref array, std::uint64_t index) const {
    const Object o = object(array);
    if ((o.marker >> 4) != 0xA) damaged("expected an array");
    if (index >= o.count) damaged("array index out of range");
    return refAt(o.payload + index * static_cast<std::uint64_t>(refSize_));
}

BplistReader::Ref BplistReader::key(Ref dict, std::uint64_t index) const {
    const Object o = object(dict);
    if ((o.marker >> 4) != 0xD) damaged("expected a dictionary");
    if (index >= o.count) damaged("dictionary index out of range");
    return refAt(o.payload + index * static_cast<std::uint64_t>(refSize_));
}

BplistReader::Ref BplistReader::value(Ref dict, std::uint64_t index) const {
    const Object o = object(dict);
    if ((o.marker >> 4) != 0xD) damaged("expected a dictionary");
    if (index >= o.count) damaged("dictionary index out of range");
    return refAt(o.payload + (o.count + index) * static_cast<std::uint64_t>(refSize_));
}

void BplistReader::forEachEntry(Ref dict, const std::function<void(const std::string&, Ref)>& visit) const {
    const Object o = object(dict);
    if ((o.marker >> 4) != 0xD) damaged("expected a dictionary");
    const auto r = static_cast<std::uint64_t>(refSize_);
    for (std::uint64_t i = 0; i < o.count; ++i) {
        const Ref k = refAt(o.payload + i * r);
        const Ref v = refAt(o.payload + (o.count + i) * r);
        if (kind(k) != PlistKind::string) damaged("dictionary key is not a string");
        visit(string(k), v);
    }
}

PlistValue BplistReader::materialise(Ref ref, const Budget& budget, std::vector<Ref>& path, std::uint64_t& nodes,
                                     std::uint64_t& bytes) const {
    if (std::find(path.begin(), path.end(), ref) != path.end()) damaged("reference cycle");
    if (static_cast<int>(path.size()) >= budget.maxDepth) damaged("nesting too deep");
    if (++nodes > budget.maxNodes) damaged("too many objects");
    const Object o = object(ref);
    switch (kind(ref)) {
        case PlistKind::boolean: return PlistValue(o.marker == 0x09);
        case PlistKind::integer: return PlistValue(integer(ref));
        case PlistKind::real: return PlistValue(real(ref));
        case PlistKind::string: {
            bytes += o.count;
            if (bytes > budget.maxBytes) damaged("too much text");
            return PlistValue(string(ref));
        }
        case PlistKind::data: {
            bytes += o.count;
            if (bytes > budget.maxBytes) damaged("too much data");
            PlistValue::Data d(static_cast<std::size_t>(o.count));
            source_.read(o.payload, d.data(), d.size());
            return PlistValue(std::move(d));
        }
        case PlistKind::array: {
            PlistValue::Array a;
            path.push_back(ref);
            for (std::uint64_t i = 0; i < o.count; ++i) {
                const Ref member = refAt(o.payload + i * static_cast<std::uint64_t>(refSize_));
                a.push_back(materialise(member, budget, path, nodes, bytes));
            }
            path.pop_back();
            return PlistValue(std::move(a));
        }
        case PlistKind::dict: {
            PlistValue::Dict d;
            path.push_back(ref);
            const auto r = static_cast<std::uint64_t>(refSize_);
            for (std::uint64_t i = 0; i < o.count; ++i) {
                const Ref k = refAt(o.payload + i * r);
                if (kind(k) != PlistKind::string) damaged("dictionary key is not a string");
                if (++nodes > budget.maxNodes) damaged("too many objects");
                bytes += object(k).count;
                if (bytes > budget.maxBytes) damaged("too much text");
                std::string keyText = string(k);
                d.emplace_back(std::move(keyText),
                               materialise(refAt(o.payload + (o.count + i) * r), budget, path, nodes, bytes));
            }
            path.pop_back();
            return PlistValue(std::move(d));
        }
        default: damaged("unsupported object type");
    }
}

PlistValue BplistReader::value(Ref ref, const Budget& budget) const {
    std::vector<Ref> path;
    std::uint64_t nodes = 0;
    std::uint64_t bytes = 0;
    return materialise(ref, budget, path, nodes, bytes);
}

}  // namespace tessoral
