#include "app/Surface.h"

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

ElidedLabel::ElidedLabel(QWidget* parent) : QWidget(parent), color_(Palette::primaryText()) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void ElidedLabel::setText(const QString& text) {
    if (text == text_) return;
    text_ = text;
    setAccessibleName(text);
    update();
}

void ElidedLabel::setColor(const QColor& color) {
    if (color == color_) return;
    color_ = color;
    update();
}

QSize ElidedLabel::sizeHint() const {
    const QFontMetrics fm(font());
    return {fm.horizontalAdvance(text_), fm.height()};
}

QSize ElidedLabel::minimumSizeHint() const { return {0, QFontMetrics(font()).height()}; }

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(color_);
    const QFontMetrics fm(font());
    p.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, fm.elidedText(text_, Qt::ElideRight, width()));
}

}  // namespace tessoral
