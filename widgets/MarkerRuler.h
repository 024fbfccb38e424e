#pragma once

#include <QWidget>

#include <cstddef>
#include <optional>
#include <vector>

namespace tessoral {

class StudioStore;

// The strip of markers above a time ruler, 22 high: each marker as an orange bookmark with its
// name at its start time; a click goes to the marker (and selects a range marker's range). One
// painted widget, no widget per marker; it stands over the multitrack page and the waveform
// editor alike. Its host gives the axis: the width in pixels and the seconds that width shows.
class MarkerRuler : public QWidget {
    Q_OBJECT
public:
    static constexpr int kHeight = 22;
    static constexpr double kMaxLabelWidth = 110.0;
    static constexpr double kMinLabelWidth = 12.0;  // the icon alone
    static constexpr int kTop = 4;

    explicit MarkerRuler(StudioStore& store, QWidget* parent = nullptr);

    // The axis: `width` pixels show `duration` seconds.
    void setScale(double width, double duration);
    double axisWidth() const { return width_; }
    double duration() const { return duration_; }

    // Where a marker starting at `start` stands: width × start / duration, or 0 when the duration
    // is not positive or not finite (or the result is not finite); always a finite number.
    static double markerX(double start, double width, double duration);
    // The label's width at x: the room to the right end, kept within 12…110.
    static double labelWidth(double x, double width);

    // The label rectangles in list order (drawing order).
    std::vector<QRectF> labelRects() const;
    // The marker under a point: of overlapping labels the later one (drawn on top); none off them.
    std::optional<std::size_t> markerAt(const QPointF& pos) const;

    QSize sizeHint() const override { return {200, kHeight}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

private:
    StudioStore& store_;
    double width_ = 0.0;
    double duration_ = 0.0;
};

}  // namespace tessoral
