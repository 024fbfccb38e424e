#include "app/menus/KeyMonitor.h"

#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QKeySequenceEdit>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QWheelEvent>
#include <QWidget>
#include <QWindow>

#include "app/menus/KeyPlaces.h"
#include "store/StudioStore.h"
#include "widgets/SegmentedControl.h"

namespace tessoral {

namespace {

enum class Physical { none, space, backspace, home, end, left, right, down, up, l, k, j, v, r, t, m };

// The letters by their place on the keyboard.
Physical letterAt(quint32 scanCode) {
    switch (usKeyAt(scanCode)) {
        case Qt::Key_L: return Physical::l;
        case Qt::Key_K: return Physical::k;
        case Qt::Key_J: return Physical::j;
        case Qt::Key_V: return Physical::v;
        case Qt::Key_R: return Physical::r;
        case Qt::Key_T: return Physical::t;
        case Qt::Key_M: return Physical::m;
        default: return Physical::none;
    }
}

// The Latin letter, or the Russian letter on the same key (О Л Д М К Е Ь).
Physical letterOf(int key) {
    switch (key) {
        case Qt::Key_L: case 0x414: return Physical::l;
        case Qt::Key_K: case 0x41B: return Physical::k;
        case Qt::Key_J: case 0x41E: return Physical::j;
        case Qt::Key_V: case 0x41C: return Physical::v;
        case Qt::Key_R: case 0x41A: return Physical::r;
        case Qt::Key_T: case 0x415: return Physical::t;
        case Qt::Key_M: case 0x42C: return Physical::m;
        default: return Physical::none;
    }
}

Physical physical(int key, quint32 scanCode) {
    switch (key) {
        case Qt::Key_Space: return Physical::space;
        // The Delete key does what Backspace does.
        case Qt::Key_Backspace: case Qt::Key_Delete: return Physical::backspace;
        case Qt::Key_Home: return Physical::home;
        case Qt::Key_End: return Physical::end;
        case Qt::Key_Left: return Physical::left;
        case Qt::Key_Right: return Physical::right;
        case Qt::Key_Down: return Physical::down;
        case Qt::Key_Up: return Physical::up;
        default: break;
    }
    return scanCode != 0 ? letterAt(scanCode) : letterOf(key);
}

}  // namespace

quint64 HeldKeys::id(int key, quint32 scanCode) {
    return scanCode != 0 ? (quint64(1) << 32) | scanCode : quint64(quint32(key));
}

bool HeldKeys::press(int key, quint32 scanCode, quint64 timestamp, bool autoRepeat) {
    State& s = keys_[id(key, scanCode)];
    // A synthetic release or press (time 0) never pairs.
    const bool paired = s.released != 0 && timestamp >= s.released && timestamp - s.released <= kPairMs;
    const bool repeat = autoRepeat || s.down || paired;
    s.down = true;
    return repeat;
}

void HeldKeys::release(int key, quint32 scanCode, quint64 timestamp, bool autoRepeat) {
    if (autoRepeat) return;  // the key stays down
    State& s = keys_[id(key, scanCode)];
    s.down = false;
    s.released = timestamp;
}

KeyMonitor::KeyMonitor(ViewContext context, QWidget* window, std::function<bool()> adopted,
                       std::function<bool()> sheetOpen)
    : QObject(window),
      ctx_(context),
      store_(context.store),
      window_(window),
      adopted_(std::move(adopted)),
      sheetOpen_(std::move(sheetOpen)) {
    setObjectName(QStringLiteral("keyMonitor"));
    qApp->installEventFilter(this);
}

KeyMonitor::~KeyMonitor() {
    if (qApp) qApp->removeEventFilter(this);
}

std::optional<KeyMonitor::Command> KeyMonitor::command(int key, quint32 scanCode, Qt::KeyboardModifiers modifiers,
                                                       bool locked) {
    const bool shift = modifiers & Qt::ShiftModifier;
    const bool ctrl = modifiers & Qt::ControlModifier;  // Command
    const bool alt = modifiers & Qt::AltModifier;       // Option
    const bool meta = modifiers & Qt::MetaModifier;     // Control
    const bool shiftFree = !ctrl && !alt && !meta;
    const bool shiftAltFree = !ctrl && !meta;
    const bool bare = shiftFree && !shift;
    switch (physical(key, scanCode)) {
        case Physical::space: if (shiftFree) return Command::playPause; break;
        case Physical::backspace: if (shiftFree) return Command::deleteSelection; break;
        case Physical::home: if (shiftFree) return Command::home; break;
        case Physical::end: if (shiftFree) return Command::end; break;
        case Physical::left: if (shiftAltFree) return Command::stepBack; break;
        case Physical::right: if (shiftAltFree) return Command::stepForward; break;
        case Physical::down: if (bare) return Command::rowBelow; break;
        case Physical::up: if (bare) return Command::rowAbove; break;
        case Physical::l: if (bare) return Command::playFromCursor; break;
        case Physical::k: if (bare) return Command::stop; break;
        case Physical::j: if (bare) return Command::jumpBack; break;
        case Physical::v: if (bare && !locked) return Command::toolMove; break;
        case Physical::r: if (bare && !locked) return Command::toolRazor; break;
        case Physical::t: if (bare && !locked) return Command::toolSelect; break;
        case Physical::m: if (bare && !locked) return Command::addMarker; break;
        case Physical::none: break;
    }
    return std::nullopt;
}

bool KeyMonitor::takesKeys(const QWidget* w) {
    if (!w) return false;
    if (qobject_cast<const QLineEdit*>(w) || qobject_cast<const QTextEdit*>(w) ||
        qobject_cast<const QPlainTextEdit*>(w) || qobject_cast<const QAbstractSpinBox*>(w) ||
        qobject_cast<const QKeySequenceEdit*>(w) || qobject_cast<const QAbstractItemView*>(w) ||
        qobject_cast<const QMenuBar*>(w))  // walked with the arrows after Alt
        return true;
    if (auto* combo = qobject_cast<const QComboBox*>(w)) return combo->isEditable();
    return w->testAttribute(Qt::WA_InputMethodEnabled);
}

bool KeyMonitor::eventFilter(QObject* watched, QEvent* event) {
    // A press is delivered to its window first, then to the focused widget and up its parents:
    // the widget deliveries decide. Acting always swallows, so a press acts at most once; a press
    // that passes passes at every receiver alike.
    switch (event->type()) {
        case QEvent::KeyPress: return handleKey(static_cast<QKeyEvent*>(event), watched);
        case QEvent::KeyRelease: handleRelease(static_cast<QKeyEvent*>(event)); return false;
        // Releases that happen while another program has the keyboard never arrive.
        case QEvent::ApplicationStateChange:
            if (static_cast<QApplicationStateChangeEvent*>(event)->applicationState() != Qt::ApplicationActive)
                held_.clear();
            return false;
        case QEvent::Wheel: return handleWheel(static_cast<QWheelEvent*>(event), watched);
        default: return false;
    }
}

bool KeyMonitor::gate(QObject* receiver) const {
    if (!store_ || !window_) return false;
    if (!adopted_ || !adopted_()) return false;
    auto* widget = qobject_cast<QWidget*>(receiver);
    if (!widget || widget->window() != window_) return false;
    if (QApplication::activeModalWidget() || QApplication::activePopupWidget()) return false;
    if (sheetOpen_ && sheetOpen_()) return false;
    return true;
}

bool KeyMonitor::handleKey(QKeyEvent* event, QObject* receiver) {
    if (!gate(receiver)) return false;
    // Typing and list navigation belong to the focused field or list.
    if (takesKeys(qobject_cast<QWidget*>(receiver)) || takesKeys(window_->focusWidget()) ||
        takesKeys(QApplication::focusWidget()))
        return false;
    const auto which = command(event->key(), event->nativeScanCode(), event->modifiers(), store_->locked());
    if (!which) return false;
    // A focused segmented control walks its segments with the bare arrows.
    if ((*which == Command::stepBack || *which == Command::stepForward) && !(event->modifiers() & ~Qt::KeypadModifier) &&
        qobject_cast<const SegmentedControl*>(receiver))
        return false;
    // A focused slider steps with the arrows, Home and End.
    const bool sliderKey = *which == Command::home || *which == Command::end || *which == Command::stepBack ||
                           *which == Command::stepForward || *which == Command::rowBelow || *which == Command::rowAbove;
    if (sliderKey && qobject_cast<const QAbstractSlider*>(receiver)) return false;
    // Holding Delete deletes once per press: the repeats are swallowed without acting.
    if (*which == Command::deleteSelection &&
        held_.press(event->key(), event->nativeScanCode(), event->timestamp(), event->isAutoRepeat()))
        return true;
    run(*which, event->modifiers());
    return true;
}

void KeyMonitor::handleRelease(QKeyEvent* event) {
    // Every release, in every window: the application filter sees one release once per receiver,
    // and seeing it again changes nothing.
    if (physical(event->key(), event->nativeScanCode()) != Physical::backspace) return;
    held_.release(event->key(), event->nativeScanCode(), event->timestamp(), event->isAutoRepeat());
}

void KeyMonitor::run(Command c, Qt::KeyboardModifiers modifiers) {
    StudioStore& s = *store_;
    const bool shift = modifiers & Qt::ShiftModifier;
    const bool alt = modifiers & Qt::AltModifier;
    switch (c) {
        case Command::playPause: s.playPause(); break;
        case Command::deleteSelection: s.deleteSelection(); break;
        case Command::home: s.moveCursor(0.0, shift); break;
        case Command::end: s.moveCursor(s.session().duration(), shift); break;
        case Command::stepBack: s.stepCursor(false, alt, shift); break;
        case Command::stepForward: s.stepCursor(true, alt, shift); break;
        case Command::rowBelow: s.selectAdjacentTrack(1); break;
        case Command::rowAbove: s.selectAdjacentTrack(-1); break;
        case Command::playFromCursor: s.playFromCursor(); break;
        case Command::stop: s.stop(); break;
        case Command::jumpBack: s.moveCursor(s.playhead() - 5.0, false); break;
        case Command::toolMove: s.setTimelineTool(TimelineTool::move); break;
        case Command::toolRazor: s.setTimelineTool(TimelineTool::razor); break;
        case Command::toolSelect: s.setTimelineTool(TimelineTool::select); break;
        case Command::addMarker: s.addMarker(); break;
    }
}

bool KeyMonitor::handleWheel(QWheelEvent* event, QObject* receiver) {
    if (!gate(receiver)) return false;
    if (!(event->modifiers() & Qt::ControlModifier)) return false;
    StudioStore& s = *store_;
    if (s.session().tracks.empty() || s.editorMode() == EditorMode::mixer) return false;
    // Pixel deltas (touchpads) are precise; a wheel notch is 120 eighths of a degree and scrolls
    // the desktop's number of lines.
    const QPoint pixels = event->pixelDelta();
    const bool precise = !pixels.isNull();
    double delta = 0.0;
    if (precise) {
        delta = pixels.y() != 0 ? pixels.y() : pixels.x();
    } else {
        const QPoint angle = event->angleDelta();
        delta = (angle.y() != 0 ? angle.y() : angle.x()) / 120.0 * QApplication::wheelScrollLines();
    }
    return s.zoomWheel(delta, precise);
}

}  // namespace tessoral
