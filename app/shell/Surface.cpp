#include "app/shell/Surface.h"

#include <QPaintEvent>
#include <QPainter>

#include "widgets/Palette.h"

namespace tessoral {

Surface::Surface(const QColor& color, QWidget* parent) : QWidget(parent), color_(color) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void Surface::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    p.fillRect(event->rect(), color_);
}

QColor blend(const QColor& over, double opacity, const QColor& under) {
    const auto mix = [&](double a, double b) { return a * opacity + b * (1 - opacity); };
    return QColor::fromRgbF(float(mix(over.redF(), under.redF())), float(mix(over.greenF(), under.greenF())),
                            float(mix(over.blueF(), under.blueF())));
}

}  // namespace tessoral
