#include "widgets/ReturnKey.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QWidget>

namespace tessoral {

namespace {
ReturnKey* instance = nullptr;
}  // namespace

ReturnKey::ReturnKey(QObject* parent) : QObject(parent) {}

void ReturnKey::install() {
    if (instance || !qApp) return;
    instance = new ReturnKey(qApp);
    qApp->installEventFilter(instance);
}

bool ReturnKey::handle(QWidget* window, QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (!enter || (event->modifiers() & ~Qt::KeypadModifier)) return false;
    QWidget* focus = window->focusWidget();
    if (!focus || focus == window || !focus->isEnabled()) return false;
    if (auto* button = qobject_cast<QAbstractButton*>(focus)) {
        button->animateClick();
        return true;
    }
    if (auto* picker = qobject_cast<QComboBox*>(focus); picker && !picker->isEditable()) {
        picker->showPopup();
        return true;
    }
    return false;
}

bool ReturnKey::eventFilter(QObject* watched, QEvent* event) {
    // A press goes to the focused control first and up its parents while each leaves it; it
    // reaches the window itself only when no control used it. Only that delivery decides (the
    // filter sees one press once per receiver), before the window's own default action.
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) return false;
    auto* window = static_cast<QWidget*>(watched);
    if (!window->isWindow()) return false;
    return handle(window, static_cast<QKeyEvent*>(event));
}

}  // namespace tessoral
