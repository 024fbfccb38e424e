#include "widgets/Spinner.h"

#include <QPainter>
#include <QTimer>

#include <cmath>

#include "widgets/Palette.h"

namespace tessoral {

Spinner::Spinner(int size, QWidget* parent) : QWidget(parent), size_(size), timer_(new QTimer(this)) {
    setFixedSize(size, size);
    timer_->setInterval(80);
    connect(timer_, &QTimer::timeout, this, [this] {
        step_ = (step_ + 1) % 8;
        update();
    });
}

void Spinner::showEvent(QShowEvent* event) {
    timer_->start();
    QWidget::showEvent(event);
}

void Spinner::hideEvent(QHideEvent* event) {
    timer_->stop();
    QWidget::hideEvent(event);
}

void Spinner::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c(width() / 2.0, height() / 2.0);
    const double r0 = size_ * 0.22, r1 = size_ * 0.48;
    for (int i = 0; i < 8; ++i) {
        const double a = (i * 45.0) * M_PI / 180.0;
        QColor col = Palette::primaryText();
        col.setAlphaF(float(0.15 + 0.75 * (((i - step_ + 8) % 8) / 7.0)));
        p.setPen(QPen(col, std::max(1.0, size_ / 8.0), Qt::SolidLine, Qt::RoundCap));
        p.drawLine(c + QPointF(std::cos(a) * r0, std::sin(a) * r0), c + QPointF(std::cos(a) * r1, std::sin(a) * r1));
    }
}

Dot::Dot(int diameter, const QColor& color, QWidget* parent) : QWidget(parent), color_(color) {
    setFixedSize(diameter, diameter);
}

void Dot::setColor(const QColor& color) {
    if (color == color_) return;
    color_ = color;
    update();
}

void Dot::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(color_);
    p.drawEllipse(QRectF(rect()));
}

Divider::Divider(Qt::Orientation orientation, QWidget* parent) : QWidget(parent) {
    if (orientation == Qt::Horizontal) {
        setFixedHeight(1);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    } else {
        setFixedWidth(1);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    }
}

void Divider::paintEvent(QPaintEvent*) {
    QPainter p(this);
    // The hairline over the dark window background, drawn opaque so nothing beneath repaints.
    p.fillRect(rect(), Palette::background());
    p.fillRect(rect(), Palette::line());
}

}  // namespace tessoral
