#include "widgets/TimeRuler.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <optional>

#include "model/NavigationMath.h"
#include "widgets/Fonts.h"
#include "widgets/Palette.h"

namespace tessoral {

namespace {

constexpr double kMaxTempo = 100000.0;

// The count of ticks i = 0 … ⌊duration / step + 1e-9⌋, or none when that is not a sensible number
// of ticks for `pixels` (a bad step, or more ticks than pixels).
std::optional<long long> tickCount(double duration, double step, double pixels) {
    if (!(step > 0) || !std::isfinite(step)) return std::nullopt;
    const double last = std::floor(duration / step + 1e-9);
    if (!std::isfinite(last) || last < 0 || last + 1 > std::max(pixels, 1.0) + 1) return std::nullopt;
    return static_cast<long long>(last);
}

}  // namespace

TimeRuler::Ticks TimeRuler::ticks(double duration, double width, double canvasWidth, TimeFormat format,
                                  BeatGrid grid) {
    Ticks result;
    if (!(duration > 0) || !std::isfinite(duration) || !(canvasWidth >= 0) || !std::isfinite(canvasWidth) ||
        !std::isfinite(width))
        return result;
    if (!(grid.tempo > 0) || !(grid.tempo <= kMaxTempo)) grid.tempo = 120.0;
    const double step = NavigationMath::rulerStep(duration, width, format, grid, kSpacing);
    result.step = step;
    const double W = canvasWidth;

    const double minor = format == TimeFormat::bars ? 60.0 / grid.tempo : step / 5.0;
    if (W * (minor / duration) >= kMinorGap) {
        if (const auto n = tickCount(duration, minor, W)) {
            result.minors.reserve(static_cast<std::size_t>(*n + 1));
            for (long long i = 0; i <= *n; ++i) result.minors.push_back(W * (double(i) * minor / duration));
        }
    }
    if (const auto n = tickCount(duration, step, W)) {
        result.majors.reserve(static_cast<std::size_t>(*n + 1));
        for (long long i = 0; i <= *n; ++i) {
            const double t = double(i) * step;
            result.majors.push_back(
                {W * (t / duration), QString::fromStdString(TimeFormatter::rulerLabel(t, step, format, grid))});
        }
    }
    return result;
}

TimeRuler::TimeRuler(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("timeRuler"));
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TimeRuler::setScale(double duration, TimeFormat format, const BeatGrid& grid, double width) {
    if ((duration == duration_ || (std::isnan(duration) && std::isnan(duration_))) && format == format_ &&
        grid == grid_ && width == width_)
        return;
    duration_ = duration;
    format_ = format;
    grid_ = grid;
    width_ = width;
    update();
}

void TimeRuler::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    p.fillRect(event->rect(), Palette::panel());
    const double W = width();
    const double H = height();
    const Ticks t = ticks(duration_, width_ < 0 ? W : width_, W, format_, grid_);
    if (t.majors.empty() && t.minors.empty()) return;
    // Only what the exposed strip shows (a label reaches about 90 points to the right of its line).
    const double left = event->rect().left() - 100.0, right = event->rect().right() + 2.0;

    if (!t.minors.empty()) {
        QPainterPath path;
        for (double x : t.minors) {
            if (x < left || x > right) continue;
            const double px = std::floor(x) + 0.5;
            path.moveTo(px, 26);
            path.lineTo(px, H);
        }
        p.setPen(QPen(QColor::fromRgbF(1, 1, 1, 0.14f), 1));
        p.drawPath(path);
    }
    p.setFont(Fonts::mono(9));
    const QFontMetricsF metrics(p.font());
    const QPen tickPen(QColor::fromRgbF(1, 1, 1, 0.3f), 1);
    const double baseline = 12.0 + (metrics.ascent() - metrics.descent()) / 2.0;
    double previousEnd = -1.0e9;  // where the label before this one ends
    for (const Major& m : t.majors) {
        const double labelWidth = metrics.horizontalAdvance(m.label);
        // The middle of the label's leading edge at (x + 6, 12); a label that would run past the
        // right edge stands left of its line instead, unless it would then touch the label before.
        double labelX = m.x + 6.0;
        bool shown = true;
        if (labelX + labelWidth > W) {
            labelX = m.x - 6.0 - labelWidth;
            shown = labelX >= previousEnd + 6.0;
        }
        if (shown) previousEnd = labelX + labelWidth;
        if (m.x < left || m.x > right) continue;
        // A line on the right edge is drawn in the last column, not beyond it.
        const double px = std::min(std::floor(m.x) + 0.5, W - 0.5);
        p.setPen(tickPen);
        p.drawLine(QPointF(px, 20), QPointF(px, H));
        if (!shown) continue;
        p.setPen(Palette::grey());
        p.drawText(QPointF(labelX, baseline), m.label);
    }
}

void TimeRuler::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        Q_EMIT pressed(event->position().x());
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

}  // namespace tessoral
