#pragma once

#include <QObject>
#include <QPointer>

#include <QHash>

#include <functional>
#include <optional>

#include "app/shell/ViewContext.h"

class QKeyEvent;
class QWheelEvent;
class QWidget;

namespace tessoral {

class StudioStore;

// Which physical keys are down, to tell a fresh press from a repeat. Under X11 a held key repeats
// as release/press pairs stamped with the same server time, and Qt flags only some of them as
// auto-repeats; other platforms repeat presses without releases. A press counts as a repeat when
// it is flagged, when its key is still down, or when it follows that key's release within
// `kPairMs` (no finger lifts and presses a key again that fast). Keys are told apart by their key
// code, else by their Qt key; timestamps of 0 (synthetic events) never pair.
class HeldKeys {
public:
    static constexpr quint64 kPairMs = 3;

    // True when the press repeats a key already held.
    bool press(int key, quint32 scanCode, quint64 timestamp, bool autoRepeat);
    void release(int key, quint32 scanCode, quint64 timestamp, bool autoRepeat);
    // Forgets every key (the window lost the keyboard and will not see their releases).
    void clear() { keys_.clear(); }

private:
    struct State {
        bool down = false;
        quint64 released = 0;
    };
    static quint64 id(int key, quint32 scanCode);
    QHash<quint64, State> keys_;
};

// The main window's single-key shortcuts and Ctrl+wheel zoom. An application-wide event filter
// sees every key press and wheel turn before the window does; for each it either runs one store
// command and swallows the event, or lets it pass unchanged, so text fields, lists, sheets,
// menus and the views under the pointer behave as usual; a focused segmented control keeps ← and
// →, a focused slider its arrows, Home and End.
//
// Letters follow the physical key (the X keyboard's key code, the same under X11 and Wayland), so
// they work on any layout; without a key code (synthetic events) the Latin letter or the Russian
// letter on the same key is taken. Ctrl stands for Command, Alt for Option and Meta for Control.
class KeyMonitor : public QObject {
    Q_OBJECT
public:
    // The rows of the key table, in order.
    enum class Command {
        playPause,
        deleteSelection,
        home,
        end,
        stepBack,
        stepForward,
        rowBelow,
        rowAbove,
        playFromCursor,
        stop,
        jumpBack,
        toolMove,
        toolRazor,
        toolSelect,
        addMarker,
    };

    // `adopted`: whether the delegate is alive and has adopted the window; `sheetOpen`: whether a
    // sheet is attached to it.
    KeyMonitor(ViewContext context, QWidget* window, std::function<bool()> adopted, std::function<bool()> sheetOpen);
    ~KeyMonitor() override;

    // The key table: what a press stands for, or none (the press passes). `scanCode` is the
    // platform's key code (0 when unknown). While locked the tool and marker keys pass.
    static std::optional<Command> command(int key, quint32 scanCode, Qt::KeyboardModifiers modifiers, bool locked);

    bool eventFilter(QObject* watched, QEvent* event) override;

    // The steps behind the filter, for a key press or wheel turn delivered to `receiver`; true
    // when the event is swallowed.
    bool handleKey(QKeyEvent* event, QObject* receiver);
    void handleRelease(QKeyEvent* event);
    bool handleWheel(QWheelEvent* event, QObject* receiver);

    // Whether a widget takes typing (text fields, spin boxes, editable combo boxes, anything
    // accepting input methods) or is a list or table.
    static bool takesKeys(const QWidget* widget);

private:
    bool gate(QObject* receiver) const;
    void run(Command command, Qt::KeyboardModifiers modifiers);

    ViewContext ctx_;
    QPointer<StudioStore> store_;
    QPointer<QWidget> window_;
    std::function<bool()> adopted_;
    std::function<bool()> sheetOpen_;
    HeldKeys held_;
};

}  // namespace tessoral
