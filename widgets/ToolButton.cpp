#include "widgets/ToolButton.h"

#include <QPainter>
#include <QPainterPath>

#include "widgets/Icons.h"
#include "widgets/Palette.h"

namespace tessoral {

ToolButton::ToolButton(QWidget* parent) : ToolButton({}, {}, false, Palette::primaryText(), {}, parent) {}

ToolButton::ToolButton(const QString& symbol, const QString& title, bool active, const QColor& tint,
                       std::function<void()> action, QWidget* parent)
    : QAbstractButton(parent), symbol_(symbol), active_(active), tint_(tint), action_(std::move(action)) {
    setFixedSize(kWidth, kHeight);
    // A stop for Tab; a click leaves the focus where it was (Space keeps playing and pausing).
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::ArrowCursor);
    setTitle(title);
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (action_) action_();
    });
}

void ToolButton::setSymbol(const QString& symbol) {
    if (symbol == symbol_) return;
    symbol_ = symbol;
    update();
}

void ToolButton::setTitle(const QString& title) {
    if (title == title_ && toolTip() == title) return;
    title_ = title;
    setToolTip(title);
    setAccessibleName(title);
}

void ToolButton::setActive(bool active) {
    if (active == active_) return;
    active_ = active;
    update();
}

void ToolButton::setTint(const QColor& tint) {
    if (tint == tint_) return;
    tint_ = tint;
    update();
}

void ToolButton::setAction(std::function<void()> action) { action_ = std::move(action); }

void ToolButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    // Plain style: no bezel; a pressed button dims, a disabled one fades.
    if (!isEnabled()) p.setOpacity(0.35);
    else if (isDown()) p.setOpacity(0.6);
    const QRectF frame(0, 0, kWidth, kHeight);
    if (active_) {
        QPainterPath path;
        path.addRoundedRect(frame, 5, 5);
        p.fillPath(path, tint_);
    }
    const QColor iconColor = active_ ? Palette::background() : tint_;
    const QPixmap pm = Icons::pixmap(symbol_, iconColor, kSymbolSize, devicePixelRatioF());
    if (!pm.isNull()) {
        const QPointF at((kWidth - kSymbolSize) / 2.0, (kHeight - kSymbolSize) / 2.0);
        p.drawPixmap(at, pm);
    }
}

}  // namespace tessoral
