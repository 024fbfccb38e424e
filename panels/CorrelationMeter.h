#pragma once

#include <QRectF>
#include <QString>
#include <QWidget>

#include <optional>

namespace tessoral {

// The phase correlation of what plays: a scale line "−1 … 0 … +1" over a bar 5 high that runs from
// the centre to the value's place, red below 0, else in the accent colour; nothing but the track
// and the centre line without a value. Read by accessibility as "Фазовая корреляция" with the value
// to two decimals, or "нет сигнала".
class CorrelationMeter : public QWidget {
    Q_OBJECT
public:
    static constexpr int kBarHeight = 5;
    static constexpr int kSpacing = 3;
    static constexpr int kScaleFontSize = 8;

    explicit CorrelationMeter(QWidget* parent = nullptr);

    std::optional<double> value() const { return value_; }
    // Repaints only when the value changes.
    void setValue(std::optional<double> value);

    // The filled part of a bar `width` wide for the value `v` (−1…+1): from the centre to
    // width × (v + 1) / 2, 5 high at y 0; empty for 0.
    static QRectF barRect(double width, double v);
    // What accessibility reads as the value: "%.2f", or "нет сигнала" without a value.
    static QString accessibleValue(std::optional<double> value);
    // The bar's place inside the widget.
    QRect barArea() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<double> value_;
};

}  // namespace tessoral
