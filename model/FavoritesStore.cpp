#include "model/FavoritesStore.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <ctime>
#include <nlohmann/json.hpp>
#include <system_error>
#include <unordered_set>

#include "model/AppPaths.h"
#include "model/AtomicFile.h"
#include "model/EffectParameters.h"
#include "model/EnumTraits.h"
#include "model/Localization.h"
#include "model/NumberFormat.h"
#include "model/StudioError.h"
#include "model/UnicodeText.h"

namespace tessoral {

using nlohmann::json;

namespace {

[[noreturn]] void readFailure(std::string_view fileName, const std::string& detail) {
    throw PlatformError(L("Не удалось прочитать файл «{0}»: {1}", std::string(fileName), detail));
}

[[noreturn]] void writeFailure(std::string_view fileName, const std::string& detail) {
    throw PlatformError(L("Не удалось записать файл «{0}»: {1}", std::string(fileName), detail));
}

std::string errnoText(int error) { return std::error_code(error, std::system_category()).message(); }

// The deepest nesting of arrays and objects, counted outside strings; stops early past `limit`.
int nesting(std::string_view data, int limit) {
    int depth = 0;
    int deepest = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : data) {
        if (inString) {
            if (escaped) escaped = false;
            else if (c == '\\') escaped = true;
            else if (c == '"') inString = false;
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > deepest && (deepest = depth) > limit) return deepest;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return deepest;
}

// A JSON number as a double; booleans are not numbers.
std::optional<double> number(const json& v) {
    if (!v.is_number()) return std::nullopt;
    return v.get<double>();
}

std::optional<Uuid> uuid(const json& v) {
    if (!v.is_string()) return std::nullopt;
    return Uuid::parse(v.get_ref<const std::string&>());
}

// The stored form of an effect slot: "id" and "preset" required; "enabled", "wet" and "params"
// take true, 1.0 and none when absent or null.
std::optional<EffectSlot> decodeSlot(const json& v) {
    if (!v.is_object()) return std::nullopt;
    EffectSlot slot;
    const auto id = v.find("id");
    const auto preset = v.find("preset");
    if (id == v.end() || preset == v.end()) return std::nullopt;
    const auto slotID = uuid(*id);
    if (!slotID || !preset->is_string()) return std::nullopt;
    const auto kind = fromRaw<EffectPreset>(preset->get_ref<const std::string&>());
    if (!kind) return std::nullopt;
    slot.id = *slotID;
    slot.preset = *kind;
    if (const auto e = v.find("enabled"); e != v.end() && !e->is_null()) {
        if (!e->is_boolean()) return std::nullopt;
        slot.enabled = e->get<bool>();
    }
    if (const auto w = v.find("wet"); w != v.end() && !w->is_null()) {
        const auto wet = number(*w);
        if (!wet) return std::nullopt;
        slot.wet = *wet;
    }
    if (const auto p = v.find("params"); p != v.end() && !p->is_null()) {
        if (!p->is_object()) return std::nullopt;
        for (auto it = p->begin(); it != p->end(); ++it) {
            const auto value = number(it.value());
            if (!value) return std::nullopt;
            slot.params[it.key()] = *value;
        }
    }
    return slot;
}

// One favourite as stored; none when any part of it fails to decode.
std::optional<EffectFavorite> decodeFavorite(const json& v) {
    if (!v.is_object()) return std::nullopt;
    const auto id = v.find("id");
    const auto name = v.find("name");
    const auto slots = v.find("slots");
    if (id == v.end() || name == v.end() || slots == v.end()) return std::nullopt;
    EffectFavorite f;
    const auto favoriteID = uuid(*id);
    if (!favoriteID || !name->is_string() || !slots->is_array()) return std::nullopt;
    f.id = *favoriteID;
    f.name = name->get<std::string>();
    f.slots.reserve(std::min<std::size_t>(slots->size(), 64));
    for (const auto& s : *slots) {
        auto slot = decodeSlot(s);
        if (!slot) return std::nullopt;
        f.slots.push_back(std::move(*slot));
    }
    return f;
}

bool slotsWithinLimits(const std::vector<EffectSlot>& slots) {
    if (slots.size() > FavoritesStore::kMaxSlots) return false;
    for (const auto& s : slots) {
        if (!std::isfinite(s.wet) || s.wet < 0.0 || s.wet > 1.0) return false;
        if (s.params.size() > FavoritesStore::kMaxParameters) return false;
        for (const auto& [key, value] : s.params)
            if (!std::isfinite(value)) return false;
    }
    return true;
}

json encodeSlot(const EffectSlot& s, std::string_view fileName) {
    auto finite = [&](double v) {
        if (!std::isfinite(v)) writeFailure(fileName, "a number is not finite");
        return v;
    };
    json params = json::object();
    for (const auto& [key, value] : s.params) params[key] = finite(value);
    return json{{"id", s.id.text()},
                {"preset", std::string(rawValue(s.preset))},
                {"enabled", s.enabled},
                {"wet", finite(s.wet)},
                {"params", std::move(params)}};
}

// "-unreadable-YYYYMMDD-HHMMSS" of the current local time.
std::string timestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    ::localtime_r(&now, &t);
    std::string text;
    for (const int field : {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday}) text.append(num::padded(field, 2));
    text.append("-");
    for (const int field : {t.tm_hour, t.tm_min, t.tm_sec}) text.append(num::padded(field, 2));
    return text;
}

// Renames the file at `url` to a free name beside it; none when there is no file any more.
std::optional<std::filesystem::path> keepAside(const std::filesystem::path& url) {
    std::string base = url.stem().string();
    base.append("-unreadable-").append(timestamp());
    const std::string extension = url.extension().string();
    for (int k = 1; k < 1000; ++k) {
        std::string name = base;
        if (k > 1) name.append(" ").append(num::integer(k));
        name.append(extension);
        const auto candidate = url.parent_path() / name;
        if (::renameat2(AT_FDCWD, url.c_str(), AT_FDCWD, candidate.c_str(), RENAME_NOREPLACE) == 0) return candidate;
        const int error = errno;
        if (error == ENOENT) return std::nullopt;
        if (error == EEXIST) continue;
        if (error == EINVAL || error == ENOSYS) {
            // A file system without no-replace renames: check, then rename.
            struct stat st {};
            if (::lstat(candidate.c_str(), &st) == 0) continue;
            if (::rename(url.c_str(), candidate.c_str()) == 0) return candidate;
            if (errno == ENOENT) return std::nullopt;
            writeFailure(url.filename().string(), errnoText(errno));
        }
        writeFailure(url.filename().string(), errnoText(error));
    }
    writeFailure(url.filename().string(), errnoText(EEXIST));
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

}  // namespace

FavoritesStore::FavoritesStore() : url_(defaultURL()) {}

FavoritesStore::FavoritesStore(std::filesystem::path url) : url_(std::move(url)) {}

std::filesystem::path FavoritesStore::defaultURL() { return AppPaths::dataFolder() / "Favorites.json"; }

std::vector<EffectFavorite> FavoritesStore::load() {
    const std::string fileName = url_.filename().string();
    // Non-blocking so that a FIFO or device in its place cannot hang the start.
    Descriptor fd(::open(url_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) {
            lastLoadUnreadable_ = false;
            return {};
        }
        lastLoadUnreadable_ = true;
        readFailure(fileName, errnoText(error));
    }
    // From here on any failure leaves a file that the next save must not replace.
    lastLoadUnreadable_ = true;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) readFailure(fileName, errnoText(errno));
    if (!S_ISREG(st.st_mode)) readFailure(fileName, errnoText(S_ISDIR(st.st_mode) ? EISDIR : EINVAL));
    // The size is checked before anything is read; reading stops one byte past the limit in
    // case the file grows meanwhile.
    if (static_cast<std::uintmax_t>(st.st_size) > kMaxFileBytes) throw StudioError(L("Файл избранного слишком большой."));
    std::string data;
    data.reserve(static_cast<std::size_t>(st.st_size) + 1);
    char block[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), block, sizeof block);
        if (n < 0) {
            if (errno == EINTR) continue;
            readFailure(fileName, errnoText(errno));
        }
        if (n == 0) break;
        data.append(block, static_cast<std::size_t>(n));
        if (data.size() > kMaxFileBytes) throw StudioError(L("Файл избранного слишком большой."));
    }
    auto favorites = decode(data, fileName);
    lastLoadUnreadable_ = false;
    return favorites;
}

void FavoritesStore::save(const std::vector<EffectFavorite>& favorites) {
    const std::string fileName = url_.filename().string();
    AppPaths::createFolders(url_.parent_path(), url_);
    const std::string text = encode(favorites, fileName);
    kept_.reset();
    if (lastLoadUnreadable_) {
        kept_ = keepAside(url_);
        lastLoadUnreadable_ = false;
    }
    AtomicFile::write(url_, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

std::vector<EffectFavorite> FavoritesStore::decode(std::string_view data, std::string_view fileName) {
    if (nesting(data, kMaxNesting) > kMaxNesting) readFailure(fileName, "the JSON data are nested too deeply");
    json root;
    try {
        root = json::parse(data.begin(), data.end());
    } catch (const json::exception& e) {
        readFailure(fileName, e.what());
    }
    if (!root.is_array()) readFailure(fileName, "the JSON data are not an array");

    std::vector<EffectFavorite> decoded;
    for (const auto& element : root) {
        if (decoded.size() == kMaxFavorites) break;
        if (auto f = decodeFavorite(element)) decoded.push_back(std::move(*f));
    }

    std::vector<EffectFavorite> accepted;
    std::unordered_set<Uuid> seen;
    for (auto& f : decoded) {
        std::string name = UnicodeText::trimmingWhitespaceAndNewlines(f.name);
        if (name.empty()) continue;
        if (!seen.insert(f.id).second) continue;
        if (!slotsWithinLimits(f.slots)) continue;
        f.name = UnicodeText::prefixCharacters(name, kMaxNameCharacters);
        accepted.push_back(std::move(f));
    }
    return accepted;
}

std::string FavoritesStore::encode(const std::vector<EffectFavorite>& favorites, std::string_view fileName) {
    json root = json::array();
    const std::size_t count = std::min(favorites.size(), kMaxFavorites);
    for (std::size_t i = 0; i < count; ++i) {
        const auto& f = favorites[i];
        json slots = json::array();
        for (const auto& s : f.slots) slots.push_back(encodeSlot(s, fileName));
        root.push_back(json{{"id", f.id.text()}, {"name", f.name}, {"slots", std::move(slots)}});
    }
    // Objects keep their keys sorted; malformed UTF-8 in a name is written as U+FFFD.
    return root.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

EffectFavorite FavoritesStore::favorite(std::string_view named, const std::vector<EffectSlot>& rack,
                                        const std::set<Uuid>& excluding) {
    EffectFavorite f;
    for (const auto& s : rack) {
        if (excluding.count(s.id)) continue;
        if (f.slots.size() == kMaxSlots) break;
        f.slots.push_back(s);
    }
    const std::string name = UnicodeText::trimmingWhitespaceAndNewlines(named);
    f.name = name.empty() ? L("Цепочка") : UnicodeText::prefixCharacters(name, kMaxNameCharacters);
    f.id = Uuid::random();
    return f;
}

std::vector<EffectSlot> FavoritesStore::applying(const EffectFavorite& favorite, const std::vector<EffectSlot>& rack,
                                                 bool append, const std::set<Uuid>& keeping) {
    std::vector<EffectSlot> result;
    for (const auto& s : rack)
        if (append || keeping.count(s.id)) result.push_back(s);
    for (const auto& s : favorite.slots) {
        if (result.size() >= kMaxSlots) break;
        EffectSlot copy = s;
        copy.id = Uuid::random();
        copy.params = sanitized(s.preset, s.params);
        result.push_back(std::move(copy));
    }
    if (result.size() > kMaxSlots) result.resize(kMaxSlots);
    return result;
}

}  // namespace tessoral
