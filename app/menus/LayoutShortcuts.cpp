#include "app/menus/LayoutShortcuts.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QWidget>

#include "app/menus/KeyPlaces.h"

namespace tessoral {

LayoutShortcuts::LayoutShortcuts(QObject* parent) : QObject(parent) {
    setObjectName(QStringLiteral("layoutShortcuts"));
    qApp->installEventFilter(this);
}

LayoutShortcuts::~LayoutShortcuts() {
    if (qApp) qApp->removeEventFilter(this);
}

std::optional<QKeyCombination> LayoutShortcuts::latin(const QKeyEvent& event) {
    const Qt::KeyboardModifiers mods =
        event.modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier);
    // Menu shortcuts all carry Ctrl. A Latin-1 key matched (or missed) by itself: on a Latin
    // layout with other places (AZERTY, Dvorak) the typed letter counts, not the place.
    if (!(mods & Qt::ControlModifier)) return std::nullopt;
    const int key = event.key();
    if (key <= 0xff || key >= Qt::Key_Escape) return std::nullopt;
    const int place = usKeyAt(event.nativeScanCode());
    if (place == 0 || place == key) return std::nullopt;
    return QKeyCombination(mods, Qt::Key(place));
}

QAction* LayoutShortcuts::actionFor(QKeyCombination combination) {
    const QKeySequence wanted(combination);
    QWidget* active = QApplication::activeWindow();
    for (QWidget* top : QApplication::topLevelWidgets()) {
        QList<QAction*> actions = top->actions();
        actions += top->findChildren<QAction*>();
        for (QAction* a : actions) {
            if (!a->isEnabled() || !a->isVisible() || !a->shortcuts().contains(wanted)) continue;
            const Qt::ShortcutContext context = a->shortcutContext();
            if (context == Qt::ApplicationShortcut || (context == Qt::WindowShortcut && top == active)) return a;
        }
    }
    return nullptr;
}

bool LayoutShortcuts::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return false;
    // A press comes to its window first, then to the focused widget and up its parents: decide at
    // the window, or at the focused widget when the press was sent there directly.
    QWidget* focus = QApplication::focusWidget();
    if (!watched->isWindowType() && watched != focus) return false;
    if (QApplication::activePopupWidget()) return false;  // an open menu keeps its keys
    const auto* press = static_cast<QKeyEvent*>(event);
    const std::optional<QKeyCombination> combination = latin(*press);
    if (!combination) return false;
    const int key = combination->key();
    const Qt::KeyboardModifiers mods = combination->keyboardModifiers();
    if (focus) {
        // The focused widget's own keys come first, as with any shortcut.
        QKeyEvent override(QEvent::ShortcutOverride, key, mods, press->nativeScanCode(), press->nativeVirtualKey(),
                           press->nativeModifiers(), QString(), press->isAutoRepeat(), press->count());
        override.ignore();
        QApplication::sendEvent(focus, &override);
        if (override.isAccepted()) {
            QKeyEvent same(QEvent::KeyPress, key, mods, press->nativeScanCode(), press->nativeVirtualKey(),
                           press->nativeModifiers(), QString(), press->isAutoRepeat(), press->count());
            QApplication::sendEvent(focus, &same);
            return true;
        }
    }
    if (QAction* action = actionFor(*combination)) {
        action->trigger();
        return true;
    }
    return false;
}

}  // namespace tessoral
