#pragma once

#include <QWidget>

#include <vector>

#include "model/BeatGrid.h"

namespace tessoral {

// The bar and beat lines over the lanes in the bars time format: bar lines while bars stand at
// least 4 points apart, beat lines while beats stand at least 7 apart. It takes no input.
class BeatGridOverlay : public QWidget {
    Q_OBJECT
public:
    struct Lines {
        std::vector<double> bars;
        std::vector<double> beats;
    };
    // The lines' x positions on a canvas `width` wide spanning `duration` seconds, those between
    // `from` and `to` (x) only.
    static Lines lines(const BeatGrid& grid, double duration, double width, double from, double to);

    explicit BeatGridOverlay(QWidget* parent = nullptr);
    void setGrid(const BeatGrid& grid, double duration);
    const BeatGrid& grid() const { return grid_; }
    double duration() const { return duration_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    BeatGrid grid_;
    double duration_ = 0.0;
};

}  // namespace tessoral
