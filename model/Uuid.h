#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tessoral {

// A 128-bit identifier. Fresh values are random (version 4); the text form is the
// canonical 36-character 8-4-4-4-12 upper-case hexadecimal form.
class Uuid {
public:
    Uuid() = default;  // the nil identifier (all zeros)
    explicit Uuid(const std::array<std::uint8_t, 16>& bytes) : bytes_(bytes) {}

    static Uuid random();
    // Accepts the 36-character form in either letter case; nothing else.
    static std::optional<Uuid> parse(std::string_view text);

    std::string text() const;
    const std::array<std::uint8_t, 16>& bytes() const { return bytes_; }
    bool isNil() const;

    friend bool operator==(const Uuid&, const Uuid&) = default;
    friend auto operator<=>(const Uuid&, const Uuid&) = default;

private:
    std::array<std::uint8_t, 16> bytes_{};
};

}  // namespace tessoral

template <>
struct std::hash<tessoral::Uuid> {
    std::size_t operator()(const tessoral::Uuid& id) const noexcept;
};
