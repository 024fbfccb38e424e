#include "widgets/FocusMark.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QEvent>
#include <QFocusEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QTimer>

#include "widgets/Palette.h"

namespace tessoral {

namespace {

FocusMark* instance = nullptr;
constexpr int kOutline = 1;

// The ring itself: a child of the control's window, above everything in it, passing every pointer
// event through.
class Ring : public QWidget {
public:
    explicit Ring(QWidget* window) : QWidget(window) {
        setObjectName(QStringLiteral("focusMark"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setAttribute(Qt::WA_TranslucentBackground);
        setFocusPolicy(Qt::NoFocus);
    }
    // The control's rectangle in this ring's coordinates.
    QRect around;
    // Drawn on the control's own edge rather than around it (no room around it in the window).
    bool inside = false;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal out = inside ? -FocusMark::kWidth / 2.0 : FocusMark::kGap + FocusMark::kWidth / 2.0;
        // Pixel edges: the control spans [left, right + 1].
        const QRectF path = QRectF(around).adjusted(-out, -out, out, out);
        p.setBrush(Qt::NoBrush);
        if (!inside) {
            // An outline in the window's background around the ring keeps it apart from a
            // neighbour filled with the accent colour (the chosen tool beside a focused one).
            const qreal edge = FocusMark::kGap + FocusMark::kWidth + kOutline / 2.0;
            p.setPen(QPen(Palette::background(), kOutline));
            p.drawRoundedRect(QRectF(around).adjusted(-edge, -edge, edge, edge), 5, 5);
        }
        p.setPen(QPen(Palette::accent(), FocusMark::kWidth));
        p.drawRoundedRect(path, 4, 4);
    }
};

// The last control the keyboard focused in a window, kept on the window.
constexpr char kKeyboard[] = "tessoralKeyboardFocus";

QWidget* keyboardIn(QObject* window) { return window->property(kKeyboard).value<QPointer<QWidget>>(); }

bool markable(QWidget* w) {
    return w && !w->isWindow() && !qobject_cast<QMenu*>(w) && !qobject_cast<QMenuBar*>(w);
}

}  // namespace

FocusMark::FocusMark(QObject* parent) : QObject(parent) {}

void FocusMark::install() {
    if (instance || !qApp) return;
    instance = new FocusMark(qApp);
    qApp->installEventFilter(instance);
}

QWidget* FocusMark::marked() {
    return instance && instance->ring_ && instance->ring_->isVisible() ? instance->target_.data() : nullptr;
}

bool FocusMark::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::FocusIn:
            if (auto* w = qobject_cast<QWidget*>(watched))
                focusIn(w, static_cast<QFocusEvent*>(event)->reason());
            break;
        case QEvent::FocusOut:
            // A popup opened from the control (a picker's list) leaves the mark where it is.
            if (auto* w = qobject_cast<QWidget*>(watched);
                w && w == target_ && static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason)
                hide();
            break;
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::Hide:
        case QEvent::ParentChange:
        case QEvent::EnabledChange:
            if (target_ && watched->isWidgetType() && watched_.contains(static_cast<QWidget*>(watched))) schedulePlacing();
            break;
        default:
            break;
    }
    return false;
}

void FocusMark::focusIn(QWidget* widget, Qt::FocusReason reason) {
    if (!markable(widget)) return;
    QWidget* window = widget->window();
    switch (reason) {
        case Qt::TabFocusReason:
        case Qt::BacktabFocusReason:
        case Qt::ShortcutFocusReason:
            window->setProperty(kKeyboard, QVariant::fromValue(QPointer<QWidget>(widget)));
            show(widget);
            break;
        case Qt::PopupFocusReason:
        case Qt::ActiveWindowFocusReason:
            // Back from a menu, a popover or another window: the mark comes back with the focus.
            if (widget == keyboardIn(window)) show(widget);
            else hide();
            break;
        default:
            window->setProperty(kKeyboard, QVariant());
            hide();
            break;
    }
}

void FocusMark::show(QWidget* target) {
    QWidget* window = target->window();
    if (!ring_ || ring_->parentWidget() != window) {
        delete ring_;
        ring_ = new Ring(window);
    }
    if (target_ != target) {
        unwatch();
        target_ = target;
        watch(target);
    }
    place();
}

void FocusMark::hide() {
    unwatch();
    target_ = nullptr;
    if (ring_) ring_->hide();
}

void FocusMark::watch(QWidget* target) {
    for (QWidget* w = target; w; w = w->isWindow() ? nullptr : w->parentWidget()) watched_ << w;
}

void FocusMark::unwatch() { watched_.clear(); }

void FocusMark::schedulePlacing() {
    if (placing_) return;
    placing_ = true;
    QTimer::singleShot(0, this, [this] {
        placing_ = false;
        place();
    });
}

void FocusMark::place() {
    if (!ring_) return;
    QWidget* window = ring_->parentWidget();
    if (!target_ || !window || !target_->isVisible() || target_->window() != window) {
        ring_->hide();
        return;
    }
    const int reach = kGap + kWidth + kOutline;
    const QRect control(target_->mapTo(window, QPoint(0, 0)), target_->size());
    // Cut where a scroll area's viewport cuts the control, and at the window's edge.
    QRect clip = window->rect();
    for (QWidget* w = target_->parentWidget(); w && w != window; w = w->parentWidget()) {
        auto* area = qobject_cast<QAbstractScrollArea*>(w->parentWidget());
        if (area && area->viewport() == w) clip &= QRect(w->mapTo(window, QPoint(0, 0)), w->size()).adjusted(-reach, -reach, reach, reach);
    }
    // A control that fills its window to an edge (a scroll area) is marked on its own edge.
    const bool inside = !window->rect().contains(control.adjusted(-reach, -reach, reach, reach));
    const QRect shown = (inside ? control : control.adjusted(-reach, -reach, reach, reach)) & clip;
    if (shown.isEmpty()) {
        ring_->hide();
        return;
    }
    auto* ring = static_cast<Ring*>(ring_.data());
    ring->around = control.translated(-shown.topLeft());
    ring->inside = inside;
    ring->setGeometry(shown);
    ring->raise();
    ring->show();
    ring->update();
}

}  // namespace tessoral
