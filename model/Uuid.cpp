#include "model/Uuid.h"

#include <mutex>
#include <random>

namespace tessoral {

namespace {

std::uint64_t nextRandom() {
    // One generator per thread, seeded from the system's entropy source.
    thread_local std::mt19937_64 engine = [] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device(), device(), device()};
        return std::mt19937_64(seed);
    }();
    return engine();
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isDashPosition(std::size_t i) { return i == 8 || i == 13 || i == 18 || i == 23; }

}  // namespace

Uuid Uuid::random() {
    std::array<std::uint8_t, 16> b{};
    const std::uint64_t hi = nextRandom();
    const std::uint64_t lo = nextRandom();
    for (int i = 0; i < 8; ++i) {
        b[i] = static_cast<std::uint8_t>(hi >> (56 - 8 * i));
        b[8 + i] = static_cast<std::uint8_t>(lo >> (56 - 8 * i));
    }
    b[6] = static_cast<std::uint8_t>((b[6] & 0x0F) | 0x40);  // version 4
    b[8] = static_cast<std::uint8_t>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
    return Uuid(b);
}

std::optional<Uuid> Uuid::parse(std::string_view text) {
    if (text.size() != 36) return std::nullopt;
    std::array<std::uint8_t, 16> b{};
    std::size_t out = 0;
    for (std::size_t i = 0; i < 36;) {
        if (isDashPosition(i)) {
            if (text[i] != '-') return std::nullopt;
            ++i;
            continue;
        }
        const int h = hexValue(text[i]);
        const int l = hexValue(text[i + 1]);
        if (h < 0 || l < 0 || isDashPosition(i + 1)) return std::nullopt;
        b[out++] = static_cast<std::uint8_t>(h * 16 + l);
        i += 2;
    }
    return Uuid(b);
}

std::string Uuid::text() const {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(36);
    for (std::size_t i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) s.push_back('-');
        s.push_back(digits[bytes_[i] >> 4]);
        s.push_back(digits[bytes_[i] & 0x0F]);
    }
    return s;
}

bool Uuid::isNil() const {
    for (auto b : bytes_)
        if (b != 0) return false;
    return true;
}

}  // namespace tessoral

std::size_t std::hash<tessoral::Uuid>::operator()(const tessoral::Uuid& id) const noexcept {
    std::uint64_t h = 1469598103934665603ull;
    for (auto b : id.bytes()) {
        h ^= b;
        h *= 1099511628211ull;
    }
    return static_cast<std::size_t>(h);
}
