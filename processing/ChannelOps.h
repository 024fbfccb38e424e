#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/AudioData.h"
#include "model/EnumTraits.h"

namespace tessoral {

// What centre extraction does with the sound common to both channels.
enum class CenterMode { keep, remove };

template <>
struct EnumTraits<CenterMode> {
    static constexpr std::array<std::pair<CenterMode, std::string_view>, 2> cases{{
        {CenterMode::keep, "keep"},
        {CenterMode::remove, "remove"},
    }};
};

// "Оставить центр" / "Убрать центр".
std::string title(CenterMode mode);

// Centre extraction over the band lowHz … highHz.
struct CenterExtractSettings {
    CenterMode mode = CenterMode::keep;
    double lowHz = 20.0;
    double highHz = 24000.0;
    friend bool operator==(const CenterExtractSettings&, const CenterExtractSettings&) = default;
};

// One stereo channel operation. Only the payload of its own kind takes part in comparison and hashing.
class ChannelOperation {
public:
    enum class Kind { width, center, swap, mono, leftToBoth, rightToBoth, invertLeft };

    // Width factor: 1 leaves the audio as it is, 0 makes it mono, 2 doubles the side signal.
    static ChannelOperation width(double factor);
    static ChannelOperation center(CenterExtractSettings settings);
    static ChannelOperation swap() { return ChannelOperation(Kind::swap); }
    static ChannelOperation mono() { return ChannelOperation(Kind::mono); }
    static ChannelOperation leftToBoth() { return ChannelOperation(Kind::leftToBoth); }
    static ChannelOperation rightToBoth() { return ChannelOperation(Kind::rightToBoth); }
    static ChannelOperation invertLeft() { return ChannelOperation(Kind::invertLeft); }

    Kind kind() const { return kind_; }
    // The payloads; meaningful only for their own kind.
    double widthFactor() const { return width_; }
    const CenterExtractSettings& centerSettings() const { return center_; }

    // The processing sheet's name of the operation.
    std::string title() const;

    friend bool operator==(const ChannelOperation& a, const ChannelOperation& b);

private:
    explicit ChannelOperation(Kind kind) : kind_(kind) {}
    Kind kind_;
    double width_ = 1.0;
    CenterExtractSettings center_;
};

// Stereo channel operations over a frame range of a clip.
namespace ChannelOps {

// The audio with the operation applied to the frames of `range`; every other frame is bit-identical
// and the length does not change. Throws StudioError when the range is empty or not inside the clip.
AudioData apply(const ChannelOperation& operation, const AudioData& audio, FrameRange range);

// Keeps or removes what the two channels share in the band (4096-point short-time transform, hop
// 1024, periodic Hann windows for analysis and synthesis). Bins outside the band pass through. The
// channels are expected to be equally long; a shorter one is read as if padded with silence and
// comes back at its own length.
std::pair<std::vector<float>, std::vector<float>> centerExtract(std::span<const float> left,
                                                                std::span<const float> right,
                                                                const CenterExtractSettings& settings);

}  // namespace ChannelOps

}  // namespace tessoral

template <>
struct std::hash<tessoral::CenterExtractSettings> {
    std::size_t operator()(const tessoral::CenterExtractSettings& s) const noexcept;
};

template <>
struct std::hash<tessoral::ChannelOperation> {
    std::size_t operator()(const tessoral::ChannelOperation& op) const noexcept;
};
