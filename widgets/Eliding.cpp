#include "widgets/Eliding.h"

#include <QEvent>
#include <QPainter>
#include <QStyleOptionComboBox>
#include <QStyleOptionFrame>
#include <QStylePainter>

#include <algorithm>
#include <cmath>

#include "widgets/Palette.h"

namespace tessoral {

// ---- ElidedLabel ----

ElidedLabel::ElidedLabel(QWidget* parent) : QWidget(parent), color_(Palette::primaryText()) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void ElidedLabel::setText(const QString& text) {
    if (text == text_) return;
    text_ = text;
    setAccessibleName(text);
    updateGeometry();
    update();
}

void ElidedLabel::setColor(const QColor& color) {
    if (color == color_) return;
    color_ = color;
    update();
}

QString ElidedLabel::displayedText() const { return QFontMetrics(font()).elidedText(text_, Qt::ElideRight, width()); }

QSize ElidedLabel::sizeHint() const {
    // Rounded up: at exactly the rounded advance the eliding could still cut the last letter.
    const QFontMetricsF fm(font());
    return {static_cast<int>(std::ceil(fm.horizontalAdvance(text_))) + 1, static_cast<int>(std::ceil(fm.height()))};
}

QSize ElidedLabel::minimumSizeHint() const { return {0, QFontMetrics(font()).height()}; }

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(color_);
    p.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, displayedText());
}

// ---- ElidingComboBox ----

int ElidingComboBox::textWidth() const {
    QStyleOptionComboBox option;
    initStyleOption(&option);
    const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    int width = field.width() - 2;  // the style draws the label one pixel in on each side
    if (!option.currentIcon.isNull()) width -= option.iconSize.width() + 4;
    return std::max(0, width);
}

QString ElidingComboBox::displayedText() const {
    return fontMetrics().elidedText(currentText(), Qt::ElideRight, textWidth());
}

void ElidingComboBox::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    painter.setPen(palette().color(QPalette::Text));
    QStyleOptionComboBox option;
    initStyleOption(&option);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    if (currentIndex() < 0 && !placeholderText().isEmpty()) {
        option.palette.setBrush(QPalette::ButtonText, option.palette.placeholderText());
        option.currentText = placeholderText();
    }
    option.currentText = fontMetrics().elidedText(option.currentText, Qt::ElideRight, textWidth());
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

// ---- ElidingLineEdit ----

QRect ElidingLineEdit::textArea() const {
    QStyleOptionFrame option;
    initStyleOption(&option);
    QRect r = style()->subElementRect(QStyle::SE_LineEditContents, &option, this);
    r = r.marginsRemoved(textMargins());
    return r.adjusted(2, 0, -2, 0);  // the field's own inner margin
}

QString ElidingLineEdit::displayedText() const {
    if (hasFocus() || echoMode() != QLineEdit::Normal) return text();
    return fontMetrics().elidedText(text(), Qt::ElideRight, textArea().width());
}

void ElidingLineEdit::paintEvent(QPaintEvent* event) {
    const QString shown = displayedText();
    if (shown == text()) {
        QLineEdit::paintEvent(event);
        return;
    }
    QPainter painter(this);
    QStyleOptionFrame option;
    initStyleOption(&option);
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &option, &painter, this);
    painter.setFont(font());
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
    painter.drawText(textArea(), Qt::AlignLeft | Qt::AlignVCenter, shown);
}

}  // namespace tessoral
