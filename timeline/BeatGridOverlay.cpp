#include "timeline/BeatGridOverlay.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace tessoral {

BeatGridOverlay::Lines BeatGridOverlay::lines(const BeatGrid& grid, double duration, double width, double from,
                                              double to) {
    Lines out;
    if (!(duration > 0.0) || !(width > 0.0) || !std::isfinite(duration) || !std::isfinite(width)) return out;
    const double b = grid.beatSeconds();
    const double p = width * b / duration;
    const std::int64_t bar = grid.barBeats();
    if (!(p * double(bar) >= 4.0)) return out;
    // Only the beats of the part asked for (plus one on each side).
    const double lo = std::clamp(std::isfinite(from) ? from / width * duration - b : 0.0, 0.0, duration);
    const double hi = std::clamp(std::isfinite(to) ? to / width * duration + b : duration, 0.0, duration);
    const auto range = grid.beats(TimeRange{lo, hi});
    if (!range) return out;
    for (std::int64_t i = range->first; i <= range->last; ++i) {
        const bool isBar = i % bar == 0;
        if (!(p >= 7.0) && !isBar) continue;
        const double x = width * (b * double(i)) / duration;
        (isBar ? out.bars : out.beats).push_back(x);
    }
    return out;
}

BeatGridOverlay::BeatGridOverlay(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("beatGridOverlay"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
}

void BeatGridOverlay::setGrid(const BeatGrid& grid, double duration) {
    if (grid == grid_ && duration == duration_) return;
    grid_ = grid;
    duration_ = duration;
    update();
}

void BeatGridOverlay::paintEvent(QPaintEvent* event) {
    const QRect r = event->rect();
    const Lines l = lines(grid_, duration_, width(), r.left() - 1, r.right() + 1);
    if (l.bars.empty() && l.beats.empty()) return;
    QPainter p(this);
    // One-point lines as aliased columns: beats under bars.
    auto column = [&](double x, const QColor& c) {
        const int px = int(std::floor(x));
        if (px >= r.left() - 1 && px <= r.right() + 1) p.fillRect(QRect(px, r.top(), 1, r.height()), c);
    };
    const QColor beat = QColor::fromRgbF(1, 1, 1, 0.045f);
    const QColor bar = QColor::fromRgbF(1, 1, 1, 0.11f);
    for (double x : l.beats) column(x, beat);
    for (double x : l.bars) column(x, bar);
}

}  // namespace tessoral
