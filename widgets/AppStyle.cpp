#include "widgets/AppStyle.h"

#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QStyleFactory>
#include <QStyleOption>
#include <QToolButton>

#include <algorithm>

#include "widgets/Palette.h"

namespace tessoral {

namespace {

QColor withAlpha(QColor c, double alpha) {
    c.setAlphaF(float(c.alphaF() * alpha));
    return c;
}

// The square or circle an indicator is drawn in, centred in the rectangle the style was given.
QRectF indicatorSquare(const QRect& r) {
    const int side = std::min(r.width(), r.height());
    return QRectF(r.x() + (r.width() - side) / 2, r.y() + (r.height() - side) / 2, side, side);
}

}  // namespace

AppStyle::AppStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

QColor AppStyle::uncheckedOutline(QStyle::State state) {
    // White at 0.55 and 0.45: over every surface of the window at least 5:1 and 4:1.
    return (state & State_Enabled) ? Palette::secondaryText() : withAlpha(Qt::white, 0.45);
}

QColor AppStyle::checkedColor(QStyle::State state) {
    // The accent at 0.7 over a surface still makes 4.8:1 with it, more than a disabled outline.
    return (state & State_Enabled) ? Palette::accent() : withAlpha(Palette::accent(), 0.7);
}

QColor AppStyle::focusRing() { return Palette::primaryText(); }

void AppStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                             const QWidget* widget) const {
    // A tool button's own focus frame is a filled box that reads as pressed: the focus mark alone
    // shows its focus.
    if (element == PE_FrameFocusRect && qobject_cast<const QToolButton*>(widget)) return;
    if (element != PE_IndicatorCheckBox && element != PE_IndicatorRadioButton) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    const QStyle::State state = option->state;
    const bool ticked = state & (State_On | State_NoChange);
    const bool focused = (state & State_HasFocus) && (state & State_KeyboardFocusChange);
    // A highlighted menu row is itself in the accent: there the indicator keeps its dark well and
    // carries its mark in the text colour.
    const bool onAccent = (state & State_Selected) && qobject_cast<const QMenu*>(widget);
    const QColor well = option->palette.color(QPalette::Base);
    const QColor mark = onAccent ? Palette::primaryText() : checkedColor(state);
    const QRectF square = indicatorSquare(option->rect);

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    if (element == PE_IndicatorCheckBox) {
        // The outer edge: the fill of a ticked box, else the well inside its outline; with the
        // keyboard focus a light ring two pixels wide, and the fill one pixel apart inside it.
        QRectF fill = square;
        if (focused) {
            painter->setPen(QPen(focusRing(), 2.0));
            painter->setBrush(well);
            painter->drawRoundedRect(square.adjusted(1, 1, -1, -1), 2.5, 2.5);
            fill = square.adjusted(3, 3, -3, -3);
        }
        if (ticked && !onAccent) {
            painter->setPen(Qt::NoPen);
            painter->setBrush(mark);
            painter->drawRoundedRect(fill, focused ? 1.5 : 3.0, focused ? 1.5 : 3.0);
        } else if (!focused) {
            painter->setPen(QPen(ticked ? mark : uncheckedOutline(state), 1.0));
            painter->setBrush(well);
            painter->drawRoundedRect(fill.adjusted(0.5, 0.5, -0.5, -0.5), 2.5, 2.5);
        }
        if (ticked) {
            // The tick (or a dash when partly ticked) in the colour of text on the accent.
            const QColor tick = onAccent ? Palette::primaryText() : option->palette.color(QPalette::HighlightedText);
            const double s = fill.width();
            QPen pen(tick, std::max(1.5, s / 7.0), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
            painter->setPen(pen);
            painter->setBrush(Qt::NoBrush);
            const QPointF o = fill.topLeft();
            if (state & State_NoChange) {
                painter->drawLine(o + QPointF(0.27 * s, 0.5 * s), o + QPointF(0.73 * s, 0.5 * s));
            } else {
                const QPointF points[3] = {o + QPointF(0.24 * s, 0.52 * s), o + QPointF(0.42 * s, 0.71 * s),
                                           o + QPointF(0.77 * s, 0.30 * s)};
                painter->drawPolyline(points, 3);
            }
        }
    } else {
        const QPointF centre = square.center();
        const double radius = square.width() / 2.0;
        painter->setBrush(well);
        if (focused) {
            painter->setPen(QPen(focusRing(), 2.0));
            painter->drawEllipse(centre, radius - 1.0, radius - 1.0);
        } else if (ticked) {
            painter->setPen(QPen(mark, 1.5));
            painter->drawEllipse(centre, radius - 0.75, radius - 0.75);
        } else {
            painter->setPen(QPen(uncheckedOutline(state), 1.0));
            painter->drawEllipse(centre, radius - 0.5, radius - 0.5);
        }
        if (ticked) {
            painter->setPen(Qt::NoPen);
            painter->setBrush(mark);
            const double dot = radius * 0.45;
            painter->drawEllipse(centre, dot, dot);
        }
    }
    painter->restore();
}

int AppStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                        QStyleHintReturn* returnData) const {
    if (hint == SH_Menu_Scrollable) return 1;
    // Alt pressed and released alone leaves the menu bar alone: its keyboard mode shows nothing and
    // would take the next Space (play and pause) for the first menu. F10 and Alt+letter open the
    // menus; Alt still closes an open menu.
    if (hint == SH_MenuBar_AltKeyNavigation) return qobject_cast<const QMenuBar*>(widget) ? 0 : 1;
    // A dialog's buttons show their texts alone, as every other button of the program does.
    if (hint == SH_DialogButtonBox_ButtonsHaveIcons) return 0;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

}  // namespace tessoral
