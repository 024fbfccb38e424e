#include "widgets/AppStyle.h"

#include <QPainter>
#include <QPainterPath>
#include <QStyleFactory>
#include <QStyleOption>

#include "widgets/Palette.h"

namespace tessoral {

AppStyle::AppStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

QColor AppStyle::uncheckedOutline(QStyle::State state) {
    // On a highlighted menu row the indicator's dark fill already stands out from the accent.
    return (state & State_Enabled) ? Palette::secondaryText() : Palette::tertiaryText();
}

void AppStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                             const QWidget* widget) const {
    QProxyStyle::drawPrimitive(element, option, painter, widget);
    if (element != PE_IndicatorCheckBox && element != PE_IndicatorRadioButton) return;
    const QStyle::State state = option->state;
    // Checked and partly checked indicators keep Fusion's look, and so does the keyboard focus ring.
    if (state & (State_On | State_NoChange)) return;
    if ((state & State_HasFocus) && (state & State_KeyboardFocusChange)) return;
    // The outline over Fusion's own, on the same geometry.
    const QRect r = option->rect;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setBrush(Qt::NoBrush);
    painter->setPen(QPen(uncheckedOutline(state), 1.0));
    if (element == PE_IndicatorCheckBox) {
        painter->translate(0.5, 0.5);
        painter->drawRect(r.adjusted(0, 0, -1, -1));
    } else {
        const QPointF centre = QPointF(r.center()) + QPointF(1.0, 1.0);
        const double radius = (r.width() + (r.width() + 1) % 2) / 2.0 - 1.0;
        painter->drawEllipse(centre, radius, radius);
    }
    painter->restore();
}

int AppStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                        QStyleHintReturn* returnData) const {
    if (hint == SH_Menu_Scrollable) return 1;
    // Alt pressed and released alone puts the menu bar under the keyboard, as on other desktops.
    if (hint == SH_MenuBar_AltKeyNavigation) return 1;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

}  // namespace tessoral
