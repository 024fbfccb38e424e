// The single-key shortcuts and Ctrl+wheel zoom of the main window: the key table on US and
// Russian layouts, and real key and wheel events delivered to the real window.
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include "MenuTestSupport.h"
#include "app/menus/KeyMonitor.h"
#include "app/shell/SheetHost.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

using Command = KeyMonitor::Command;

// One row of the key table: the Qt key on a US layout, its X key code, the key on a Russian
// layout, and which of {none, Shift, Alt, Ctrl, Meta} let it act.
struct Row {
    const char* name;
    int us;
    quint32 scan;
    int ru;
    Command command;
    bool none, shift, alt, ctrl, meta;
};

const Row kRows[] = {
    {"Space", Qt::Key_Space, 65, Qt::Key_Space, Command::playPause, true, true, false, false, false},
    {"Backspace", Qt::Key_Backspace, 22, Qt::Key_Backspace, Command::deleteSelection, true, true, false, false, false},
    {"Home", Qt::Key_Home, 110, Qt::Key_Home, Command::home, true, true, false, false, false},
    {"End", Qt::Key_End, 115, Qt::Key_End, Command::end, true, true, false, false, false},
    {"Left", Qt::Key_Left, 113, Qt::Key_Left, Command::stepBack, true, true, true, false, false},
    {"Right", Qt::Key_Right, 114, Qt::Key_Right, Command::stepForward, true, true, true, false, false},
    {"Down", Qt::Key_Down, 116, Qt::Key_Down, Command::rowBelow, true, false, false, false, false},
    {"Up", Qt::Key_Up, 111, Qt::Key_Up, Command::rowAbove, true, false, false, false, false},
    {"L", Qt::Key_L, 46, 0x414 /* Д */, Command::playFromCursor, true, false, false, false, false},
    {"K", Qt::Key_K, 45, 0x41B /* Л */, Command::stop, true, false, false, false, false},
    {"J", Qt::Key_J, 44, 0x41E /* О */, Command::jumpBack, true, false, false, false, false},
    {"V", Qt::Key_V, 55, 0x41C /* М */, Command::toolMove, true, false, false, false, false},
    {"R", Qt::Key_R, 27, 0x41A /* К */, Command::toolRazor, true, false, false, false, false},
    {"T", Qt::Key_T, 28, 0x415 /* Е */, Command::toolSelect, true, false, false, false, false},
    {"M", Qt::Key_M, 58, 0x42C /* Ь */, Command::addMarker, true, false, false, false, false},
};

// A plain focusable widget in the main window that records the presses that reach it.
class Probe : public QWidget {
public:
    explicit Probe(QWidget* parent) : QWidget(parent) { setFocusPolicy(Qt::StrongFocus); }
    int presses = 0;
    int wheels = 0;

protected:
    void keyPressEvent(QKeyEvent* e) override {
        ++presses;
        e->ignore();
    }
    void wheelEvent(QWheelEvent* e) override {
        ++wheels;
        e->ignore();
    }
};

// Delivers one press to the probe; true when it was swallowed before reaching it.
bool pressOn(Probe* probe, int key, Qt::KeyboardModifiers mods = Qt::NoModifier, bool repeat = false,
             quint32 scan = 0) {
    const int before = probe->presses;
    QKeyEvent event(QEvent::KeyPress, key, mods, scan, 0, 0, QString(), repeat);
    QApplication::sendEvent(probe, &event);
    return probe->presses == before;
}

// A shown, adopted main window over the demo project with a probe holding the focus.
struct Window {
    StudioFixture fx;
    Probe* probe;
    explicit Window(bool demo = true) {
        if (demo) fx.loadDemo();
        fx.window().show();
        QApplication::setActiveWindow(&fx.window());
        fx.delegate().connectStore(fx.store());
        probe = new Probe(fx.window().studio());
        probe->setFocus();
        pump();
    }
    StudioStore& store() { return fx.store(); }
    bool press(int key, Qt::KeyboardModifiers mods = Qt::NoModifier, bool repeat = false, quint32 scan = 0) {
        return pressOn(probe, key, mods, repeat, scan);
    }
    // One wheel turn over the probe; true when it was swallowed before reaching it.
    bool wheel(QPoint angle, QPoint pixels = {}, Qt::KeyboardModifiers mods = Qt::ControlModifier) {
        const int before = probe->wheels;
        QWheelEvent event(QPointF(10, 10), QPointF(10, 10), pixels, angle, Qt::NoButton, mods, Qt::NoScrollPhase,
                          false);
        QApplication::sendEvent(probe, &event);
        return probe->wheels == before;
    }
};

}  // namespace

TEST(KeyTable, FifteenRowsByFiveModifiersOnUSAndRussianLayouts) {
    const std::pair<Qt::KeyboardModifiers, bool Row::*> columns[] = {
        {Qt::NoModifier, &Row::none},       {Qt::ShiftModifier, &Row::shift}, {Qt::AltModifier, &Row::alt},
        {Qt::ControlModifier, &Row::ctrl}, {Qt::MetaModifier, &Row::meta},
    };
    for (const Row& row : kRows) {
        for (const auto& [mods, acts] : columns) {
            SCOPED_TRACE(std::string(row.name) + " modifiers " + std::to_string(int(mods)));
            const std::optional<Command> want = row.*acts ? std::optional(row.command) : std::nullopt;
            // US layout with its key code, Russian layout with the same key code, and synthetic
            // events without a key code in either layout.
            EXPECT_EQ(KeyMonitor::command(row.us, row.scan, mods, false), want);
            EXPECT_EQ(KeyMonitor::command(row.ru, row.scan, mods, false), want);
            EXPECT_EQ(KeyMonitor::command(row.us, 0, mods, false), want);
            EXPECT_EQ(KeyMonitor::command(row.ru, 0, mods, false), want);
            // The keypad flag of arrows, Home and End is ignored.
            EXPECT_EQ(KeyMonitor::command(row.us, row.scan, mods | Qt::KeypadModifier, false), want);
        }
    }
}

TEST(KeyTable, LettersFollowTheKeyPlaceAndToolKeysPassWhileLocked) {
    // A key code decides over the letter it types: the V place typing "к" on some layout is still V,
    // and the letter V typed on another key's place is not.
    EXPECT_EQ(KeyMonitor::command(0x41A, 55, Qt::NoModifier, false), Command::toolMove);
    EXPECT_EQ(KeyMonitor::command(Qt::Key_V, 30, Qt::NoModifier, false), std::nullopt);
    // The Delete key acts as Backspace.
    EXPECT_EQ(KeyMonitor::command(Qt::Key_Delete, 119, Qt::NoModifier, false), Command::deleteSelection);
    // Locked: V, R, T and M pass; the transport and cursor keys still act.
    for (const Row& row : kRows) {
        const bool tool = row.command == Command::toolMove || row.command == Command::toolRazor ||
                          row.command == Command::toolSelect || row.command == Command::addMarker;
        EXPECT_EQ(KeyMonitor::command(row.us, row.scan, Qt::NoModifier, true),
                  tool ? std::nullopt : std::optional(row.command))
            << row.name;
    }
    EXPECT_EQ(KeyMonitor::command(Qt::Key_A, 38, Qt::NoModifier, false), std::nullopt);
}

TEST(KeyMonitor, SpacePlaysAndPausesAndIsSwallowed) {
    Window w;
    EXPECT_TRUE(w.press(Qt::Key_Space));
    w.fx.settle();
    EXPECT_TRUE(w.store().transport().playing());
    EXPECT_EQ(w.probe->presses, 0);
    EXPECT_TRUE(w.press(Qt::Key_Space));
    w.fx.settle();
    EXPECT_FALSE(w.store().transport().playing());
    EXPECT_EQ(w.store().status(), L("Пауза"));
}

// A press or release with the X key code and server time a real keyboard gives.
void keyAt(QWidget* to, QEvent::Type type, int key, quint32 scan, ulong time, bool flagged = false) {
    QKeyEvent event(type, key, Qt::NoModifier, scan, 0, 0, QString(), flagged);
    event.setTimestamp(time);
    QApplication::sendEvent(to, &event);
}

TEST(KeyMonitor, HeldDeleteDeletesOncePerPressHoweverItsRepeatsArrive) {
    Window w;
    StudioStore& s = w.store();
    const Uuid clip = s.session().tracks[0].id;
    const std::size_t clips = s.session().tracks.size();
    s.setSelectedID(clip);
    s.setSelection(TimeRange{0.2, 0.4});
    const auto frames = s.session().tracks[0].audio.frames();
    const auto steps = s.undoNames().size();
    constexpr quint32 kDelete = 119;
    keyAt(w.probe, QEvent::KeyPress, Qt::Key_Delete, kDelete, 1000);
    w.fx.settle();
    ASSERT_EQ(s.undoNames().size(), steps + 1);
    // The repeats arrive with the store idle and the clip still selected: presses without releases,
    // flagged or not, and X11's release/press pairs, which carry no flag.
    keyAt(w.probe, QEvent::KeyPress, Qt::Key_Delete, kDelete, 1500);
    w.fx.settle();
    keyAt(w.probe, QEvent::KeyPress, Qt::Key_Delete, kDelete, 1540, true);
    w.fx.settle();
    for (ulong t : {1580ul, 1620ul}) {
        keyAt(w.probe, QEvent::KeyRelease, Qt::Key_Delete, kDelete, t);
        keyAt(w.probe, QEvent::KeyPress, Qt::Key_Delete, kDelete, t + (t == 1620 ? 1 : 0));
        w.fx.settle();
    }
    // A flagged release keeps the key down.
    keyAt(w.probe, QEvent::KeyRelease, Qt::Key_Delete, kDelete, 1700, true);
    keyAt(w.probe, QEvent::KeyPress, Qt::Key_Delete, kDelete, 1740);
    w.fx.settle();
    EXPECT_EQ(s.undoNames().size(), steps + 1);
    ASSERT_EQ(s.session().tracks.size(), clips);
    EXPECT_EQ(s.session().tracks[0].id, clip);
    EXPECT_EQ(s.session().tracks[0].audio.frames(), frames - 9600);
    EXPECT_EQ(w.probe->presses, 0);
    // Lifted and pressed again, the key acts again: the clip goes.
    keyAt(w.probe, QEvent::KeyRelease, Qt::Key_Delete, kDelete, 2000);
    keyAt(w.probe, QEvent::KeyPress, Qt::Key_Delete, kDelete, 2300);
    w.fx.settle();
    EXPECT_EQ(s.undoNames().size(), steps + 2);
    EXPECT_EQ(s.session().tracks.size(), clips - 1);
}

TEST(KeyMonitor, BackspaceIsHeldApartFromDeleteAndArrowsKeepRepeating) {
    Window w;
    StudioStore& s = w.store();
    s.setSelectedID(s.session().tracks[0].id);
    s.setSelection(TimeRange{0.2, 0.4});
    const auto steps = s.undoNames().size();
    constexpr quint32 kDelete = 119, kBackspace = 22, kRight = 114;
    keyAt(w.probe, QEvent::KeyPress, Qt::Key_Delete, kDelete, 1000);
    w.fx.settle();
    s.setSelection(TimeRange{0.2, 0.4});
    // Backspace pressed while Delete is held is a press of its own.
    keyAt(w.probe, QEvent::KeyPress, Qt::Key_Backspace, kBackspace, 1010);
    w.fx.settle();
    EXPECT_EQ(s.undoNames().size(), steps + 2);
    // Synthetic presses without times (tests, input methods) never pair with their release.
    keyAt(w.probe, QEvent::KeyRelease, Qt::Key_Backspace, kBackspace, 0);
    keyAt(w.probe, QEvent::KeyRelease, Qt::Key_Delete, kDelete, 0);
    s.setSelection(TimeRange{0.2, 0.4});
    keyAt(w.probe, QEvent::KeyPress, Qt::Key_Delete, kDelete, 0);
    w.fx.settle();
    EXPECT_EQ(s.undoNames().size(), steps + 3);
    // Leaving the program forgets the held keys: their releases go to another program.
    keyAt(w.probe, QEvent::KeyRelease, Qt::Key_Delete, kDelete, 1990);
    s.setSelection(TimeRange{0.2, 0.4});
    keyAt(w.probe, QEvent::KeyPress, Qt::Key_Delete, kDelete, 2000);
    w.fx.settle();
    QApplicationStateChangeEvent away(Qt::ApplicationInactive);
    QApplication::sendEvent(qApp, &away);
    s.setSelection(TimeRange{0.2, 0.4});
    keyAt(w.probe, QEvent::KeyPress, Qt::Key_Delete, kDelete, 9000);
    w.fx.settle();
    EXPECT_EQ(s.undoNames().size(), steps + 5);
    // Arrows repeat: every press of a held arrow steps the cursor, paired or not.
    s.moveCursor(0.0, false);
    double before = s.cursor();
    for (ulong t : {3000ul, 3500ul, 3540ul}) {
        if (t == 3540) keyAt(w.probe, QEvent::KeyRelease, Qt::Key_Right, kRight, t);
        keyAt(w.probe, QEvent::KeyPress, Qt::Key_Right, kRight, t);
        EXPECT_GT(s.cursor(), before) << t;
        before = s.cursor();
    }
}

TEST(KeyMonitor, ToolAndMarkerKeysPassWhileLockedAndActOtherwise) {
    Window w;
    StudioStore& s = w.store();
    s.setBusy(true);
    for (int key : {Qt::Key_V, Qt::Key_R, Qt::Key_T, Qt::Key_M}) EXPECT_FALSE(w.press(key));
    EXPECT_EQ(w.probe->presses, 4);
    EXPECT_EQ(s.timelineTool(), TimelineTool::move);
    EXPECT_TRUE(s.session().markers.empty());
    s.setBusy(false);
    // Russian layout without key codes: К is R, Е is T, М is V, Ь is M.
    EXPECT_TRUE(w.press(0x41A));
    EXPECT_EQ(s.timelineTool(), TimelineTool::razor);
    EXPECT_TRUE(w.press(0x415));
    EXPECT_EQ(s.timelineTool(), TimelineTool::select);
    EXPECT_TRUE(w.press(0x41C));
    EXPECT_EQ(s.timelineTool(), TimelineTool::move);
    EXPECT_TRUE(w.press(0x42C));
    EXPECT_EQ(s.session().markers.size(), 1u);
    // With Shift or Ctrl a letter passes on to the menus.
    EXPECT_FALSE(w.press(Qt::Key_M, Qt::ShiftModifier));
    EXPECT_FALSE(w.press(Qt::Key_M, Qt::ControlModifier));
    EXPECT_EQ(s.session().markers.size(), 1u);
}

TEST(KeyMonitor, JWhilePlayingJumpsBackFiveSeconds) {
    Window w(false);
    StudioStore& s = w.store();
    // One 12-second clip.
    s.setSession([] {
        Session session;
        session.appendOnNewLane(Track::make("Длинный", AudioData::silence(48000 * 12)));
        return session;
    }());
    s.moveCursor(7.0, false);
    EXPECT_TRUE(w.press(Qt::Key_J));
    EXPECT_NEAR(s.cursor(), 2.0, 1e-9);
    // Near the start the cursor stops at 0.
    EXPECT_TRUE(w.press(Qt::Key_J));
    EXPECT_EQ(s.cursor(), 0.0);
    // While playing J seeks back from the playhead.
    s.moveCursor(8.0, false);
    s.playPause();
    w.fx.settle();
    ASSERT_TRUE(s.transport().playing());
    EXPECT_TRUE(w.press(0x41E));  // О, the J place on a Russian layout
    w.fx.settle();
    EXPECT_TRUE(s.transport().playing());
    EXPECT_NEAR(s.playhead(), 3.0, 0.05);
}

TEST(KeyMonitor, HomeEndAndArrowsMoveTheCursorAndExtendWithShift) {
    Window w;
    StudioStore& s = w.store();
    EXPECT_TRUE(w.press(Qt::Key_End));
    EXPECT_DOUBLE_EQ(s.cursor(), s.session().duration());
    EXPECT_TRUE(w.press(Qt::Key_Home, Qt::ShiftModifier));
    ASSERT_TRUE(s.selection());
    EXPECT_DOUBLE_EQ(s.selection()->lower, 0.0);
    EXPECT_DOUBLE_EQ(s.selection()->upper, s.session().duration());
    // Ctrl and Meta arrows belong to the menus and the desktop.
    EXPECT_FALSE(w.press(Qt::Key_Left, Qt::ControlModifier));
    EXPECT_FALSE(w.press(Qt::Key_Left, Qt::MetaModifier));
    const double before = s.cursor();
    EXPECT_TRUE(w.press(Qt::Key_Right, Qt::AltModifier));
    EXPECT_GT(s.cursor(), before);
}

TEST(KeyMonitor, TypingInATextFieldIsTheFieldsOwn) {
    Window w;
    auto* edit = new QLineEdit(w.fx.window().studio());
    edit->show();
    edit->setFocus();
    pump();
    QTest::keyClick(edit, Qt::Key_Space);
    QTest::keyClicks(edit, QStringLiteral("vm"));
    w.fx.settle();
    EXPECT_EQ(edit->text(), QStringLiteral(" vm"));
    EXPECT_FALSE(w.store().transport().playing());
    EXPECT_TRUE(w.store().session().markers.empty());
}

TEST(KeyMonitor, EveryKeyPassesUnderASheetInOtherWindowsAndBeforeTheWindowIsAdopted) {
    {
        Window w;
        w.store().setShowExport(true);
        pump();
        ASSERT_NE(w.fx.view().sheets()->topSheet(), nullptr);
        EXPECT_FALSE(w.press(Qt::Key_Space));
        EXPECT_FALSE(w.press(Qt::Key_M));
        w.fx.settle();
        EXPECT_FALSE(w.store().transport().playing());
        EXPECT_TRUE(w.store().session().markers.empty());
        w.store().setShowExport(false);
        pump();
        EXPECT_TRUE(w.press(Qt::Key_M));
        EXPECT_EQ(w.store().session().markers.size(), 1u);
    }
    {
        // The settings window gets its own keys.
        Window w;
        w.fx.window().showSettings();
        pump();
        QWidget* settings = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->objectName() == QStringLiteral("settingsWindow") && top->isVisible()) settings = top;
        ASSERT_NE(settings, nullptr);
        auto* inSettings = new Probe(settings);
        EXPECT_FALSE(pressOn(inSettings, Qt::Key_Space));
        EXPECT_FALSE(pressOn(inSettings, Qt::Key_M));
        EXPECT_TRUE(w.store().session().markers.empty());
        settings->close();
    }
    {
        // Before the delegate adopts the window nothing acts.
        StudioFixture fx;
        fx.loadDemo();
        auto* probe = new Probe(fx.window().studio());
        EXPECT_FALSE(pressOn(probe, Qt::Key_M));
        EXPECT_TRUE(fx.store().session().markers.empty());
    }
}

TEST(KeyMonitor, CtrlWheelZoomsUnderThePointerAndOtherwisePasses) {
    Window w;
    StudioStore& s = w.store();
    NavigationViewport viewport = s.viewport();
    viewport.pointerTime = 2.0;
    viewport.pointerFraction = 0.5;
    s.setViewport(viewport);
    // A horizontal-only turn zooms.
    EXPECT_TRUE(w.wheel(QPoint(120, 0)));
    const double zoomed = s.zoom();
    EXPECT_GT(zoomed, 1.0);
    // Wheel notches: one notch of 120 scrolls the desktop's lines.
    const double expected = zoomed * std::exp(120.0 / 120.0 * QApplication::wheelScrollLines() * 0.08);
    EXPECT_TRUE(w.wheel(QPoint(0, 120)));
    EXPECT_NEAR(s.zoom(), std::min(expected, 32.0), 1e-9);
    // Pixel deltas are precise.
    const double before = s.zoom();
    EXPECT_TRUE(w.wheel(QPoint(0, 30), QPoint(0, -10)));
    EXPECT_NEAR(s.zoom(), before * std::exp(-10 * 0.01), 1e-9);
    // Without Ctrl, in the mixer, or with no time under the pointer: the wheel scrolls as usual.
    const double now = s.zoom();
    EXPECT_FALSE(w.wheel(QPoint(0, 120), {}, Qt::NoModifier));
    s.setEditorMode(EditorMode::mixer);
    EXPECT_FALSE(w.wheel(QPoint(0, 120)));
    s.setEditorMode(EditorMode::multitrack);
    viewport.pointerTime.reset();
    s.setViewport(viewport);
    EXPECT_FALSE(w.wheel(QPoint(0, 120)));
    EXPECT_EQ(s.zoom(), now);
}

TEST(KeyMonitor, CtrlWheelPassesWithoutClips) {
    Window w(false);
    NavigationViewport viewport;
    viewport.pointerTime = 1.0;
    w.store().setViewport(viewport);
    EXPECT_FALSE(w.wheel(QPoint(0, 120)));
    EXPECT_EQ(w.store().zoom(), 1.0);
}
