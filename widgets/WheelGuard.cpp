#include "widgets/WheelGuard.h"

#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QScrollBar>
#include <QWheelEvent>

#include "widgets/SegmentedControl.h"

namespace tessoral {

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
        case QEvent::Wheel: {
            auto* w = qobject_cast<QWidget*>(watched);
            if (!guards(w) || w->hasFocus()) return false;
            // Ignored and not delivered: Qt hands a turn of the real wheel on to the parents.
            event->ignore();
            return true;
        }
        default: return false;
    }
}

}  // namespace tessoral
