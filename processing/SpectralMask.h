#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "model/EnumTraits.h"
#include "processing/SpectralScale.h"

namespace tessoral {

// The painting tool of the spectral view.
enum class SpectralTool { rectangle, brush, lasso };

template <>
struct EnumTraits<SpectralTool> {
    static constexpr std::array<std::pair<SpectralTool, std::string_view>, 3> cases{{
        {SpectralTool::rectangle, "rectangle"},
        {SpectralTool::brush, "brush"},
        {SpectralTool::lasso, "lasso"},
    }};
};

// A point of the time-frequency plane: seconds from the clip start and Hz.
struct SpectralPoint {
    double time = 0.0;
    double frequency = 0.0;
    friend bool operator==(const SpectralPoint&, const SpectralPoint&) = default;
};

// A closed interval lower … upper.
struct ClosedRange {
    double lower = 0.0;
    double upper = 0.0;
    friend bool operator==(const ClosedRange&, const ClosedRange&) = default;
};

// A painted area of one clip's time-frequency plane: regions applied in order, each adding to the
// mask or erasing from it, so a later region overrides an earlier one where they overlap.
struct SpectralMask {
    // An axis-aligned box in seconds and Hz.
    struct Rectangle {
        ClosedRange time;
        ClosedRange frequency;
        friend bool operator==(const Rectangle&, const Rectangle&) = default;
    };
    // A brush path: every cell within the ellipse of radii radiusTime (s) and radiusPosition (axis
    // position units on `scale`) around the polyline through the points.
    struct Stroke {
        std::vector<SpectralPoint> points;
        double radiusTime = 0.0;
        double radiusPosition = 0.0;
        SpectralScale scale = SpectralScale::log;
        friend bool operator==(const Stroke&, const Stroke&) = default;
    };
    // A closed lasso outline (the last point joins the first), filled by the even-odd rule.
    struct Polygon {
        std::vector<SpectralPoint> points;
        SpectralScale scale = SpectralScale::log;
        friend bool operator==(const Polygon&, const Polygon&) = default;
    };

    struct Bounds {
        ClosedRange time;
        ClosedRange frequency;
        friend bool operator==(const Bounds&, const Bounds&) = default;
    };

    struct Shape {
        std::variant<Rectangle, Stroke, Polygon> value;

        static Shape rectangle(ClosedRange time, ClosedRange frequency) { return {Rectangle{time, frequency}}; }
        static Shape stroke(std::vector<SpectralPoint> points, double radiusTime, double radiusPosition, SpectralScale scale) {
            return {Stroke{std::move(points), radiusTime, radiusPosition, scale}};
        }
        static Shape polygon(std::vector<SpectralPoint> points, SpectralScale scale) {
            return {Polygon{std::move(points), scale}};
        }

        // The bounding box in seconds and Hz; nothing for a stroke without points or a polygon of
        // fewer than 3 points.
        std::optional<Bounds> bounds() const;
        friend bool operator==(const Shape&, const Shape&) = default;
    };

    struct Region {
        Shape shape;
        bool erase = false;
        friend bool operator==(const Region&, const Region&) = default;
    };

    std::vector<Region> regions;

    // The union of the bounds of the regions that add to the mask (erase regions never shrink it).
    std::optional<Bounds> extent() const;
    bool isEmpty() const { return !extent().has_value(); }

    // The mask as frameTimes.size() × binFrequencies.size() cells of 0 or 1, frame-major (frame i,
    // bin k at i·binCount + k). Both inputs ascend.
    std::vector<float> rasterize(std::span<const double> frameTimes, std::span<const double> binFrequencies) const;

    // The half-open index range lower ..< upper of the elements of the ascending array inside
    // [lo, hi]; empty (0 ..< 0) when the array is empty or lo ≤ hi does not hold.
    struct IndexRange {
        std::size_t lower = 0;
        std::size_t upper = 0;
        bool empty() const { return upper <= lower; }
        friend bool operator==(const IndexRange&, const IndexRange&) = default;
    };
    static IndexRange indices(std::span<const double> values, double lo, double hi);

    friend bool operator==(const SpectralMask&, const SpectralMask&) = default;
};

}  // namespace tessoral
