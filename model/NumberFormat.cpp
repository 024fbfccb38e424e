#include "model/NumberFormat.h"

#include <charconv>
#include <cmath>

namespace tessoral::num {

std::string integer(long long value) {
    char buffer[32];
    auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, r.ptr);
}

std::string padded(long long value, int width) {
    std::string digits;
    if (value < 0) {
        // Negate in unsigned arithmetic so the most negative value is safe.
        unsigned long long magnitude = 0ull - static_cast<unsigned long long>(value);
        char buffer[32];
        auto r = std::to_chars(buffer, buffer + sizeof buffer, magnitude);
        digits.assign(buffer, r.ptr);
        const int pad = width - 1 - static_cast<int>(digits.size());
        std::string out(1, '-');
        out.append(static_cast<std::size_t>(pad > 0 ? pad : 0), '0');
        out.append(digits);
        return out;
    }
    digits = integer(value);
    const int pad = width - static_cast<int>(digits.size());
    std::string out(static_cast<std::size_t>(pad > 0 ? pad : 0), '0');
    out.append(digits);
    return out;
}

std::string fixed(double value, int decimals) {
    if (std::isnan(value)) return std::signbit(value) ? "-nan" : "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    char buffer[400];
    auto r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    return std::string(buffer, r.ptr);
}

std::string shortest(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    char buffer[64];
    auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, r.ptr);
}

}  // namespace tessoral::num
