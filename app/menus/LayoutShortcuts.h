#pragma once

#include <QKeyCombination>
#include <QObject>

#include <optional>

class QAction;
class QKeyEvent;

namespace tessoral {

// Menu shortcuts by the key's place on a layout without a Latin group. Qt finds Ctrl+Z on a
// Russian layout only when a Latin layout is configured beside it; with `ru` alone Ctrl+Я reaches
// the widgets as an ordinary press. This application-wide filter takes such a press (Ctrl held, a
// key outside Latin-1, a key code with a place on the US layout) and handles it as the Latin key on
// that place: first the focused widget may claim it (a text field undoes its own typing), then the
// enabled action with that shortcut in the active window, or anywhere for application shortcuts,
// is triggered.
class LayoutShortcuts : public QObject {
    Q_OBJECT
public:
    explicit LayoutShortcuts(QObject* parent);
    ~LayoutShortcuts() override;

    // The Latin combination a press stands for, or none when Qt matches it by itself.
    static std::optional<QKeyCombination> latin(const QKeyEvent& event);
    // The action that `combination` triggers now.
    static QAction* actionFor(QKeyCombination combination);

    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace tessoral
