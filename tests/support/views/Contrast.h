#pragma once
// Contrast as the web content accessibility guidelines define it (relative luminance of sRGB
// colours, (lighter + 0.05) / (darker + 0.05)), and the contrast of a drawn indicator's outline.

#include <QColor>
#include <QImage>
#include <QRect>
#include <QWidget>

#include <algorithm>
#include <cmath>

#include "widgets/Palette.h"

namespace tessoral::test {

inline double luminance(QColor c) {
    auto linear = [](int v) {
        const double s = v / 255.0;
        return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(c.red()) + 0.7152 * linear(c.green()) + 0.0722 * linear(c.blue());
}

inline double contrast(QColor a, QColor b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The weakest of the four directions: along each ray from the centre of `box` outwards, the
// strongest contrast any pixel up to two pixels beyond the box makes with `background`. An outline
// missing on one side fails.
inline double outlineContrast(const QImage& image, const QRect& box, QColor background) {
    const QPoint c = box.center();
    double weakest = 1e9;
    for (const QPoint step : {QPoint(1, 0), QPoint(-1, 0), QPoint(0, 1), QPoint(0, -1)}) {
        double strongest = 1.0;
        const int reach = (step.x() != 0 ? box.width() : box.height()) / 2 + 2;
        for (int d = 0; d <= reach; ++d) {
            const QPoint p = c + step * d;
            if (!image.rect().contains(p)) break;
            strongest = std::max(strongest, contrast(image.pixelColor(p), background));
        }
        weakest = std::min(weakest, strongest);
    }
    return weakest;
}

// Whether a button's face is filled with the accent (the prominent look), read inside its left edge.
inline bool accentFilled(QWidget* button) {
    if (!button) return false;
    const QColor face = button->grab().toImage().pixelColor(4, button->height() / 2);
    return std::abs(face.hueF() - Palette::accent().hueF()) < 0.03 && face.saturationF() > 0.3;
}

}  // namespace tessoral::test
