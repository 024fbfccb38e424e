#pragma once

#include <QWidget>

namespace tessoral {

// The compact stereo peak meter: a fixed dB scale (−48 … 0) over two 5-pixel bars, left above right.
// It keeps no peak or clip memory: each repaint follows the two levels it was last given.
class MeterView : public QWidget {
    Q_OBJECT
public:
    static constexpr float kFloorDB = -48.0f;
    static constexpr int kBarHeight = 5;
    static constexpr int kSpacing = 4;

    explicit MeterView(QWidget* parent = nullptr);

    // The fraction of the bar a linear peak level fills (single precision): 20·log10(x) limited
    // to −48 dB, mapped onto 0 … 1; zero, negative and NaN levels give 0.
    static float fraction(float level);
    // Full scale is reached at a linear level of 1.0 or more (the bar turns red).
    static bool clipping(float level) { return level >= 1.0f; }

    float left() const { return left_; }
    float right() const { return right_; }
    // Repaints the bars only when what they show changes.
    void setLevels(float left, float right);

    // The rectangles of the two bars (channel 0 above channel 1) and of their filled parts.
    QRect barRect(int channel) const;
    QRectF levelRect(int channel) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int scaleHeight() const;

    float left_ = 0;
    float right_ = 0;
};

}  // namespace tessoral
