#include "widgets/WrappingCheckBox.h"

#include <QStyleOptionButton>
#include <QStylePainter>

#include <algorithm>

namespace tessoral {

WrappingCheckBox::WrappingCheckBox(const QString& text, QWidget* parent) : QCheckBox(text, parent) {
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

int WrappingCheckBox::indicatorWidth() const {
    return style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, this) +
           style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, this);
}

QRect WrappingCheckBox::textRect(int width) const {
    return QRect(indicatorWidth(), 0, std::max(1, width - indicatorWidth()), QWIDGETSIZE_MAX);
}

int WrappingCheckBox::heightForWidth(int width) const {
    const QRect lines = fontMetrics().boundingRect(textRect(width), Qt::TextWordWrap | Qt::AlignLeft, text());
    const int indicator = style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, this);
    return std::max(indicator, lines.height()) + 2;
}

QSize WrappingCheckBox::sizeHint() const {
    // One line where the width allows; the layout's width decides the rest.
    const int width = indicatorWidth() + fontMetrics().horizontalAdvance(text()) + 2;
    return {width, heightForWidth(width)};
}

QSize WrappingCheckBox::minimumSizeHint() const {
    // The longest word has to fit.
    int word = 0;
    for (const QString& w : text().split(QLatin1Char(' '), Qt::SkipEmptyParts))
        word = std::max(word, fontMetrics().horizontalAdvance(w));
    const int width = indicatorWidth() + word + 2;
    return {width, heightForWidth(std::max(width, this->width()))};
}

void WrappingCheckBox::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    // The box beside the first line.
    const int indicatorHeight = style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, this);
    const int firstLine = fontMetrics().height();
    option.rect = QRect(0, std::max(0, (firstLine - indicatorHeight) / 2) + 1,
                        style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, this), indicatorHeight);
    painter.drawPrimitive(QStyle::PE_IndicatorCheckBox, option);
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawText(textRect(width()).adjusted(0, 1, 0, 0).intersected(rect()), Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop,
                     text());
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = textRect(width()).intersected(rect());
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}

}  // namespace tessoral
