// The timeline's arithmetic: page widths, recording extent, trim zones, envelope values, hit spans,
// fade segments and the follower's pacing.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "timeline/TimelineGeometry.h"

namespace tessoral {
namespace {

namespace G = TimelineGeometry;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(TimelineGeometry, PageWidthsAndRecordingExtent) {
    EXPECT_EQ(G::baseWidth(400), 280);
    EXPECT_EQ(G::baseWidth(1000), 806);
    EXPECT_EQ(G::baseWidth(1000) * 2, 1612);
    EXPECT_EQ(G::baseWidth(kNaN), 280);

    EXPECT_EQ(G::recordingExtent(true, 0.0), 10);
    EXPECT_EQ(G::recordingExtent(true, 12.3), 20);
    EXPECT_EQ(G::recordingExtent(true, 15.0), 20);
    EXPECT_EQ(G::recordingExtent(true, 25.0), 30);
    EXPECT_EQ(G::recordingExtent(true, kNaN), 0);
    EXPECT_EQ(G::recordingExtent(true, std::numeric_limits<double>::infinity()), 0);
    EXPECT_EQ(G::recordingExtent(false, 12.3), 0);
}

TEST(TimelineGeometry, ScaleNeverDividesByZeroOrOverflowsAPixel) {
    EXPECT_DOUBLE_EQ(G::pointsPerSecond(1000, 0), 1000 / 0.001);
    EXPECT_EQ(G::clipWidth(10, 1.0), 1.0);  // narrower than a point: one point
    EXPECT_EQ(G::toPixel(kNaN), 0);
    EXPECT_EQ(G::toPixel(1e300), 1 << 30);
    EXPECT_EQ(G::toPixel(-1e300), -(1 << 30));
    EXPECT_EQ(G::toPixel(-0.5), -1);
}

TEST(TimelineGeometry, TrimZonesNearestEdgeWins) {
    // 12 points wide: zones of 4.
    EXPECT_EQ(G::trimZone(4, 60, 12, 134), ClipEdge::start);
    EXPECT_EQ(G::trimZone(8, 60, 12, 134), ClipEdge::end);
    EXPECT_EQ(G::trimZone(6, 60, 12, 134), std::nullopt);
    // 6 points wide: zones of 2.
    EXPECT_EQ(G::trimZone(3, 60, 6, 134), std::nullopt);
    // 18 and wider: 6 points each.
    EXPECT_EQ(G::trimZone(6, 60, 300, 134), ClipEdge::start);
    EXPECT_EQ(G::trimZone(6.5, 60, 300, 134), std::nullopt);
    EXPECT_EQ(G::trimZone(294, 60, 300, 134), ClipEdge::end);
    // Too near the top or the bottom, or off the clip, never trims.
    EXPECT_EQ(G::trimZone(2, 23.9, 300, 134), std::nullopt);
    EXPECT_EQ(G::trimZone(2, 125.1, 300, 134), std::nullopt);
    EXPECT_EQ(G::trimZone(-1.5, 60, 300, 134), std::nullopt);
    EXPECT_EQ(G::trimZone(kNaN, 60, 300, 134), std::nullopt);
}

TEST(TimelineGeometry, EnvelopeValuesRoundToHalfDecibelsAndClamp) {
    const auto band = G::envelopeBand(134);
    auto yOf = [&](double dB) { return band.bottom + ((dB + 60) / -72) * band.height(); };
    EXPECT_EQ(G::envelopeValue(yOf(-6.25), false, band), -6.5);  // halves away from zero
    EXPECT_EQ(G::envelopeValue(yOf(6.25), false, band), 6.5);
    EXPECT_EQ(G::envelopeValue(yOf(0.2), false, band), 0.0);
    EXPECT_EQ(G::envelopeValue(band.top - 20, false, band), 12.0);
    EXPECT_EQ(G::envelopeValue(band.bottom + 20, false, band), -60.0);
    EXPECT_EQ(G::envelopeValue(band.top - 20, true, band), -1.0);
    EXPECT_EQ(G::envelopeValue(band.bottom + 20, true, band), 1.0);
    EXPECT_NEAR(G::envelopeValue(band.middle() + band.height() / 4, true, band), 0.5, 1e-12);  // not rounded
    // An empty volume envelope lies at 0 dB.
    const auto line = G::envelopeLine({}, 0.0, false, 10, 200, band);
    ASSERT_EQ(line.size(), 2u);
    EXPECT_DOUBLE_EQ(line[0].y(), band.bottom - 60.0 / 72.0 * band.height());
    EXPECT_DOUBLE_EQ(line[1].x(), 200);
    // Rows under 47 points have no band at all.
    EXPECT_TRUE(G::hasEnvelopeBand(47));
    EXPECT_FALSE(G::hasEnvelopeBand(46.9));
}

TEST(TimelineGeometry, LineHitSpansLeaveTheTrimZonesFree) {
    auto span = G::lineSpan(12, true);
    EXPECT_EQ(span.lower, 5);
    EXPECT_EQ(span.upper, 7);
    span = G::lineSpan(30, true);
    EXPECT_EQ(span.lower, 7);
    EXPECT_EQ(span.upper, 23);
    EXPECT_FALSE(G::lineSpan(30, false).bounded);
    // Within 4.5 points of a segment, measured to the segment, not the infinite line.
    const std::vector<QPointF> line{{0, 50}, {100, 50}, {100, 10}};
    EXPECT_DOUBLE_EQ(G::distanceToPolyline(line, {50, 54.5}), 4.5);
    EXPECT_DOUBLE_EQ(G::distanceToPolyline(line, {104, 30}), 4.0);
    EXPECT_DOUBLE_EQ(G::distanceToPolyline(line, {-3, 54}), 5.0);
}

TEST(TimelineGeometry, FadeSegmentsAndHandles) {
    EXPECT_EQ(G::fadeSegments(30), 10);
    EXPECT_EQ(G::fadeSegments(3), 2);
    EXPECT_EQ(G::fadeSegments(192), 64);
    EXPECT_EQ(G::fadeSegments(300), 64);
    EXPECT_EQ(G::fadeSegments(0.5), 0);
    EXPECT_EQ(G::fadeSegments(0.6), 2);
    EXPECT_EQ(G::fadeSegments(kNaN), 0);
    EXPECT_DOUBLE_EQ(G::fadeGain(FadeCurve::logarithmic, 0.5), std::sin(M_PI / 4));
    EXPECT_DOUBLE_EQ(G::fadeGain(FadeCurve::cosine, 2.0), 1.0);  // held in 0…1
    // Handles of a clip without fades sit 5 points in from each edge; on a narrow clip both at w − 5.
    EXPECT_EQ(G::fadeHandleCentre(true, 0, 10, 100).x(), 5);
    EXPECT_EQ(G::fadeHandleCentre(false, 0, 10, 100).x(), 95);
    EXPECT_EQ(G::fadeHandleCentre(true, 0, 10, 8).x(), 3);
    EXPECT_EQ(G::fadeHandleCentre(false, 0, 10, 8).x(), 3);
}

TEST(TimelineGeometry, SpectralAxis) {
    EXPECT_NEAR(G::frequencyAtY(125, 134, SpectralScale::log), 45, 1e-9);
    EXPECT_NEAR(G::frequencyAtY(9, 134, SpectralScale::log), 22000, 1e-6);
    EXPECT_NEAR(G::frequencyAtY(-50, 134, SpectralScale::linear), 22000, 1e-9);  // clamped into the band
    EXPECT_NEAR(G::yForFrequency(11000, 134, SpectralScale::linear), 67, 1e-9);
    EXPECT_EQ(G::yForFrequency(1e9, 134, SpectralScale::log), 9);
}

TEST(TimelineGeometry, FollowerScrollsAtMostEveryThreeTenths) {
    EXPECT_TRUE(G::followScrolls(true, true, 1.5, 10.0, std::nullopt));
    EXPECT_FALSE(G::followScrolls(true, true, 1.0, 10.0, std::nullopt));
    EXPECT_FALSE(G::followScrolls(false, true, 4.0, 10.0, std::nullopt));
    EXPECT_FALSE(G::followScrolls(true, false, 4.0, 10.0, std::nullopt));
    EXPECT_FALSE(G::followScrolls(true, true, 1.5, 1.25, 1.0));
    EXPECT_TRUE(G::followScrolls(true, true, 1.5, 1.3125, 1.0));
    EXPECT_TRUE(G::followScrolls(true, true, 1.5, 1.0, -1.0));  // times on the monotonic clock, any origin
}

}  // namespace
}  // namespace tessoral
