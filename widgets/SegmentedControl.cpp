#include "widgets/SegmentedControl.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include "widgets/Fonts.h"
#include "widgets/Palette.h"

namespace tessoral {

SegmentedControl::SegmentedControl(const QStringList& segments, QWidget* parent)
    : QWidget(parent), segments_(segments) {
    setFocusPolicy(Qt::TabFocus);
    setFont(Fonts::ui(12, QFont::Medium));
    setFixedHeight(24);
}

QSize SegmentedControl::sizeHint() const {
    const QFontMetrics fm(font());
    int w = 0;
    // Six pixels between a text and the dividers on either side.
    for (const auto& s : segments_) w = std::max(w, fm.horizontalAdvance(s) + 12);
    return {w * std::max(1, count()), 24};
}

QSize SegmentedControl::minimumSizeHint() const {
    const QFontMetrics fm(font());
    int w = 0;
    for (const auto& s : segments_) w = std::max(w, fm.horizontalAdvance(s) + 2 * kTextInset);
    return {w * std::max(1, count()), 24};
}

void SegmentedControl::setCurrentIndex(int index) {
    if (index < 0 || index >= count()) index = -1;
    if (index == current_) return;
    current_ = index;
    update();
}

QRect SegmentedControl::segmentRect(int index) const {
    if (count() == 0 || index < 0 || index >= count()) return {};
    const int w = width();
    const int x0 = w * index / count();
    const int x1 = w * (index + 1) / count();
    return QRect(x0, 0, x1 - x0, height());
}

int SegmentedControl::segmentAt(const QPoint& pos) const {
    for (int i = 0; i < count(); ++i)
        if (segmentRect(i).contains(pos)) return i;
    return -1;
}

void SegmentedControl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled()) p.setOpacity(0.45);
    const QRectF outer = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath bg;
    bg.addRoundedRect(outer, 6, 6);
    p.fillPath(bg, Palette::raised());
    for (int i = 0; i < count(); ++i) {
        const QRectF r = QRectF(segmentRect(i)).adjusted(2, 2, -2, -2);
        if (i == current_) {
            QPainterPath sel;
            sel.addRoundedRect(r, 5, 5);
            p.fillPath(sel, QColor::fromRgbF(1, 1, 1, 0.16f));
        } else if (i > 0 && i - 1 != current_) {
            p.fillRect(QRectF(segmentRect(i).left() - 0.5, 6, 1, height() - 12), Palette::line());
        }
        p.setPen(i == current_ ? QColor(Qt::white) : Palette::primaryText());
        p.drawText(r, Qt::AlignCenter, segments_[i]);
    }
    if (hasFocus() && keyboardFocus_) {
        p.setPen(QPen(Palette::accent(), 1));
        p.drawPath(bg);
    }
}

void SegmentedControl::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) pressed_ = segmentAt(event->position().toPoint());
}

void SegmentedControl::mouseReleaseEvent(QMouseEvent* event) {
    const int was = pressed_;
    pressed_ = -1;
    if (event->button() != Qt::LeftButton || was < 0) return;
    if (segmentAt(event->position().toPoint()) == was) Q_EMIT activated(was);
}

void SegmentedControl::keyPressEvent(QKeyEvent* event) {
    int step = 0;
    if (event->key() == Qt::Key_Left) step = layoutDirection() == Qt::RightToLeft ? 1 : -1;
    if (event->key() == Qt::Key_Right) step = layoutDirection() == Qt::RightToLeft ? -1 : 1;
    // Return chooses nothing new, and is no press of the window's default button either.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) return;
    if (step == 0 || count() == 0) {
        QWidget::keyPressEvent(event);
        return;
    }
    const int next = current_ < 0 ? 0 : current_ + step;
    if (next >= 0 && next < count()) Q_EMIT activated(next);
}

void SegmentedControl::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) pressed_ = -1;
    QWidget::changeEvent(event);
}

void SegmentedControl::focusInEvent(QFocusEvent* event) {
    // The ring shows only when the keyboard brought the focus here.
    keyboardFocus_ = event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
    QWidget::focusInEvent(event);
    update();
}

void SegmentedControl::focusOutEvent(QFocusEvent* event) {
    keyboardFocus_ = false;
    QWidget::focusOutEvent(event);
    update();
}

void SegmentedControl::hideEvent(QHideEvent* event) {
    pressed_ = -1;
    QWidget::hideEvent(event);
}

}  // namespace tessoral
