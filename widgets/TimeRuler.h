#pragma once

#include <QString>
#include <QWidget>

#include <vector>

#include "model/BeatGrid.h"
#include "model/TimeFormat.h"

namespace tessoral {

// The horizontal time scale above a time-based editor: labelled major ticks and, where they stand
// at least 6 points apart, unlabelled minor ticks (every beat in the bars format, a fifth of the
// major step otherwise), over the whole duration, in the chosen time format. It draws only; a
// press reports its x so the host can act on it.
class TimeRuler : public QWidget {
    Q_OBJECT
public:
    static constexpr double kSpacing = 95.0;  // least distance between labelled ticks
    static constexpr double kMinorGap = 6.0;  // least distance between minor ticks

    struct Major {
        double x = 0.0;
        QString label;
    };
    struct Ticks {
        std::vector<Major> majors;
        std::vector<double> minors;
        double step = 0.0;
    };
    // The ticks of a ruler spanning `duration` seconds, its step chosen for `width` points and its
    // ticks placed over `canvasWidth` pixels. A duration that is not positive and finite, or a
    // canvas that is not, gives no ticks; a tempo that is not positive and finite (or beyond
    // 100,000 BPM) counts as 120; a set of ticks that would outnumber the pixels is left out.
    static Ticks ticks(double duration, double width, double canvasWidth, TimeFormat format, BeatGrid grid);

    explicit TimeRuler(QWidget* parent = nullptr);

    // Repaints only when something changed. `width` is the layout width that chooses the step
    // (normally the ruler's own width; negative: the ruler's own width).
    void setScale(double duration, TimeFormat format, const BeatGrid& grid, double width = -1.0);
    double duration() const { return duration_; }
    TimeFormat format() const { return format_; }
    const BeatGrid& grid() const { return grid_; }

Q_SIGNALS:
    // A left press at x in the ruler's own coordinates.
    void pressed(double x);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    double duration_ = 0.0;
    double width_ = -1.0;
    TimeFormat format_ = TimeFormat::clock;
    BeatGrid grid_;
};

}  // namespace tessoral
