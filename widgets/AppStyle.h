#pragma once

#include <QColor>
#include <QProxyStyle>

namespace tessoral {

// Fusion with what the dark palette needs of it: check boxes and radio buttons drawn in the
// window's tint (a ticked box filled with the accent, a chosen radio button with an accent ring and
// dot; an unticked one with an outline that stands out from the surface behind it, where Fusion's
// own is nearly invisible here), disabled ones dimmer, and a light keyboard focus ring over the
// indicator's edge; a menu taller than the screen scrolls in one column instead of breaking into
// several.
class AppStyle : public QProxyStyle {
    Q_OBJECT
public:
    AppStyle();

    // The outline of an unchecked indicator, enabled or disabled.
    static QColor uncheckedOutline(QStyle::State state);
    // The fill of a ticked box and the ring and dot of a chosen radio button, enabled or disabled.
    static QColor checkedColor(QStyle::State state);
    // The keyboard focus ring drawn over an indicator's edge.
    static QColor focusRing();

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
    int styleHint(StyleHint hint, const QStyleOption* option = nullptr, const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override;
};

}  // namespace tessoral
