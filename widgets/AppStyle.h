#pragma once

#include <QColor>
#include <QProxyStyle>

namespace tessoral {

// Fusion with what the dark palette needs of it: unchecked check boxes and radio buttons carry an
// outline that stands out from the surface behind them (Fusion derives theirs from the window
// colour, which leaves them invisible here), and a menu taller than the screen scrolls in one
// column instead of breaking into several.
class AppStyle : public QProxyStyle {
    Q_OBJECT
public:
    AppStyle();

    // The outline of an unchecked indicator, enabled or disabled.
    static QColor uncheckedOutline(QStyle::State state);

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
    int styleHint(StyleHint hint, const QStyleOption* option = nullptr, const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override;
};

}  // namespace tessoral
