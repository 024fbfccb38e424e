#include "panels/CorrelationMeter.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "model/Localization.h"
#include "model/NumberFormat.h"
#include "widgets/Fonts.h"
#include "widgets/Palette.h"

namespace tessoral {

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

// The meter as accessibility reads it: an indicator named "Фазовая корреляция" whose value is
// the correlation's text.
class CorrelationAccessible final : public QAccessibleWidget {
public:
    explicit CorrelationAccessible(QWidget* widget) : QAccessibleWidget(widget, QAccessible::Indicator) {}
    QString text(QAccessible::Text t) const override {
        auto* meter = static_cast<CorrelationMeter*>(widget());
        switch (t) {
            case QAccessible::Name: return qs(L("Фазовая корреляция"));
            case QAccessible::Value: return CorrelationMeter::accessibleValue(meter->value());
            default: return QAccessibleWidget::text(t);
        }
    }
};

QAccessibleInterface* correlationFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("tessoral::CorrelationMeter") && object && object->isWidgetType())
        return new CorrelationAccessible(static_cast<QWidget*>(object));
    return nullptr;
}

void installFactoryOnce() {
    static const bool installed = [] {
        QAccessible::installFactory(correlationFactory);
        return true;
    }();
    (void)installed;
}

int scaleHeight() { return QFontMetrics(Fonts::mono(CorrelationMeter::kScaleFontSize)).height(); }

}  // namespace

CorrelationMeter::CorrelationMeter(QWidget* parent) : QWidget(parent) {
    installFactoryOnce();
    setToolTip(qs(L("Фазовая корреляция: +1 — моно-совместимо, 0 — широкое стерео, ниже 0 — проблемы с фазой")));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void CorrelationMeter::setValue(std::optional<double> value) {
    if (value == value_) return;
    value_ = value;
    update();
    QAccessibleValueChangeEvent event(this, accessibleValue(value_));
    QAccessible::updateAccessibility(&event);
}

QRectF CorrelationMeter::barRect(double width, double v) {
    if (!std::isfinite(v) || !std::isfinite(width)) return {};
    const double centre = width * 0.5;
    const double x = width * (v + 1.0) * 0.5;
    return QRectF(std::min(centre, x), 0.0, std::abs(x - centre), kBarHeight);
}

QString CorrelationMeter::accessibleValue(std::optional<double> value) {
    if (!value) return qs(L("нет сигнала"));
    return QString::fromStdString(num::fixed(*value, 2));
}

QRect CorrelationMeter::barArea() const { return QRect(0, scaleHeight() + kSpacing, width(), kBarHeight); }

QSize CorrelationMeter::sizeHint() const { return {84, scaleHeight() + kSpacing + kBarHeight}; }

void CorrelationMeter::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const int w = width();
    // Scale line.
    p.setFont(Fonts::mono(kScaleFontSize));
    p.setPen(Palette::secondaryText());
    const QRect scale(0, 0, w, scaleHeight());
    p.drawText(scale, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("\u22121"));
    p.drawText(scale, Qt::AlignHCenter | Qt::AlignVCenter, QStringLiteral("0"));
    p.drawText(scale, Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("+1"));
    // Bar: track, centre line, value.
    const QRect bar = barArea();
    p.fillRect(bar, QColor(255, 255, 255, 13));
    p.fillRect(QRectF(bar.left() + w * 0.5, bar.top(), 1.0, kBarHeight), QColor(255, 255, 255, 64));
    if (value_) {
        const QRectF fill = barRect(w, *value_).translated(bar.left(), bar.top());
        if (fill.width() > 0) p.fillRect(fill, *value_ < 0 ? Palette::red() : Palette::accent());
    }
}

}  // namespace tessoral
