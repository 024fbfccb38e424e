#pragma once

#include <QPointF>
#include <QRectF>

#include <cstdint>
#include <optional>
#include <vector>

#include "model/AutomationPoint.h"
#include "model/Track.h"
#include "processing/SpectralScale.h"

namespace tessoral::TimelineGeometry {

// ---- the multitrack page ----
inline constexpr double kHeaderWidth = 194.0;
inline constexpr double kMinimumBaseWidth = 280.0;
inline constexpr double kHeaderLineHeight = 52.0;  // anchor strip 1 + marker ruler 22 + time ruler 29
inline constexpr double kAnchorHeight = 1.0;
inline constexpr double kMarkerRulerHeight = 22.0;
inline constexpr double kTimeRulerHeight = 29.0;
inline constexpr double kRowHeight = 134.0;
inline constexpr double kFillerHeight = 28.0;
// Inside a row, clip bodies leave this much free above and below.
inline constexpr double kBodyInset = 9.0;

// The timeline column's width at zoom 1 for the width offered to the page.
double baseWidth(double offeredWidth);
// Minimum timeline length while recording (the next 10 s past position + 5), else 0.
double recordingExtent(bool recording, double position);

// ---- scale ----
// Points per second of a timeline `width` points wide spanning `duration` seconds.
double pointsPerSecond(double width, double duration);
// A clip's width: frames at the scale, never under one point.
double clipWidth(std::int64_t frames, double pps);
// A double turned into an int pixel coordinate, saturated (NaN gives 0).
int toPixel(double v);

// ---- clip gestures ----
// The trim zone under (x, y) in clip coordinates of a clip `w` wide in a row `rowHeight` high.
std::optional<ClipEdge> trimZone(double x, double y, double w, double rowHeight);

// ---- envelope and fade overlay (clip coordinates: x from the clip's left, y from the row top) ----
// Envelope band: top 31, bottom rowHeight − 15. A row under this height has no band.
inline constexpr double kEnvelopeTop = 31.0;
inline constexpr double kMinimumEnvelopeRow = 47.0;
struct EnvelopeBand {
    double top = kEnvelopeTop;
    double bottom = 0.0;
    double height() const { return bottom - top; }
    double middle() const { return (bottom + top) / 2.0; }
};
EnvelopeBand envelopeBand(double rowHeight);
bool hasEnvelopeBand(double rowHeight);
// y of an envelope value (dB for volume, −1…+1 for pan).
double envelopeY(double value, bool pan, const EnvelopeBand& band);
// The value at y: volume to the nearest 0.5 dB in −60…+12, pan in −1…+1.
double envelopeValue(double y, bool pan, const EnvelopeBand& band);
// The polyline of one envelope across a clip `w` wide (flat before the first and after the last point).
std::vector<QPointF> envelopeLine(const Envelope& points, double defaultValue, bool pan, double pps, double w,
                                  const EnvelopeBand& band);
// The x range of an envelope line's hit area: the trim zones left free when `trimEdges`.
struct Span {
    double lower = 0.0;
    double upper = 0.0;
    bool bounded = false;
};
Span lineSpan(double w, bool trimEdges);
// Distance from p to the polyline.
double distanceToPolyline(const std::vector<QPointF>& line, QPointF p);
// A line is hit within this distance (half its 9-point outline).
inline constexpr double kLineHitDistance = 4.5;
// The fade handle's centre for the fade-in (or out) of `fadeSeconds` on a clip `W` wide.
QPointF fadeHandleCentre(bool fadeIn, double fadeSeconds, double pps, double W);

// ---- fades and crossfades ----
double fadeGain(FadeCurve curve, double t);
// Segments of a fade curve `length` points long: a segment about every 3 points, 2…64; 0 when
// the curve is 0.5 points or shorter (not drawn).
int fadeSegments(double length);

// ---- spectral axis (clip coordinates) ----
double frequencyAtY(double y, double rowHeight, SpectralScale scale);
double yForFrequency(double hz, double rowHeight, SpectralScale scale);
double axisPosition(double hz, SpectralScale scale);

// ---- the playhead follower ----
// Whether a position change scrolls the page: following on, transport running, zoomed in, and
// more than 0.3 s since the last scroll on the monotonic clock.
bool followScrolls(bool follow, bool running, double zoom, double now, std::optional<double> lastFollow);

}  // namespace tessoral::TimelineGeometry
