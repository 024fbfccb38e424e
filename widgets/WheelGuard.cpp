#include "widgets/WheelGuard.h"

#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QScrollBar>
#include <QWheelEvent>

#include "widgets/SegmentedControl.h"

namespace tessoral {

namespace {

// Set on a control while its focus came from a person: a click, Tab, Backtab or a shortcut. A
// window or sheet that opens gives its first control the focus too, without any frame to show it.
constexpr char kChosen[] = "tessoralFocusChosen";

}  // namespace

void WheelGuard::install(QApplication& app) {
    if (app.findChild<WheelGuard*>(QString(), Qt::FindDirectChildrenOnly)) return;
    app.installEventFilter(new WheelGuard(&app));
}

bool WheelGuard::guards(const QWidget* w) {
    if (!w) return false;
    if (qobject_cast<const QScrollBar*>(w)) return false;
    return qobject_cast<const QComboBox*>(w) || qobject_cast<const QAbstractSpinBox*>(w) ||
           qobject_cast<const QAbstractSlider*>(w) || qobject_cast<const SegmentedControl*>(w);
}

bool WheelGuard::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::Polish: {
            // Combo boxes and spin boxes take the focus from the wheel (Qt::WheelFocus), which
            // would let every passing turn through: a click or Tab gives it instead.
            auto* w = qobject_cast<QWidget*>(watched);
            if (guards(w) && (w->focusPolicy() & Qt::WheelFocus) == Qt::WheelFocus)
                w->setFocusPolicy(Qt::StrongFocus);
            return false;
        }
        case QEvent::FocusIn: {
            auto* w = qobject_cast<QWidget*>(watched);
            if (!guards(w)) return false;
            switch (static_cast<QFocusEvent*>(event)->reason()) {
                case Qt::MouseFocusReason:
                case Qt::TabFocusReason:
                case Qt::BacktabFocusReason:
                case Qt::ShortcutFocusReason:
                    // A person put the focus here. A dialog that opens sends its focus widget a
                    // focus-in of this kind without giving it the focus: that one does not count.
                    w->setProperty(kChosen, w->hasFocus());
                    break;
                case Qt::ActiveWindowFocusReason:
                case Qt::PopupFocusReason:
                    // The focus comes back after a window or popup had it: the control keeps what
                    // it had. A window that opens gives its first control the focus this way.
                    break;
                default: w->setProperty(kChosen, false); break;  // the program moved the focus
            }
            return false;
        }
        case QEvent::MouseButtonPress: {
            // A click into a control that already holds the focus (the first control of a sheet
            // that just opened) chooses it too; the press may land on a part inside it (the text
            // of a number field).
            for (auto* w = qobject_cast<QWidget*>(watched); w; w = w->parentWidget()) {
                if (guards(w)) {
                    if (w->hasFocus()) w->setProperty(kChosen, true);
                    break;
                }
                if (w->isWindow()) break;
            }
            return false;
        }
        case QEvent::Hide: {
            // A sheet or page shown again starts without a chosen control.
            auto* w = qobject_cast<QWidget*>(watched);
            if (guards(w)) w->setProperty(kChosen, false);
            return false;
        }
        case QEvent::Wheel: {
            auto* w = qobject_cast<QWidget*>(watched);
            if (!guards(w) || (w->hasFocus() && w->property(kChosen).toBool())) return false;
            // Ignored and not delivered: Qt hands a turn of the real wheel on to the parents.
            event->ignore();
            return true;
        }
        default: return false;
    }
}

}  // namespace tessoral
