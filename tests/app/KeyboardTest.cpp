// The main window without a pointer: Tab walks every control in reading order and each stop shows
// a focus mark that stands out (3:1 or more against what it covers), Return presses the focused
// button while Space still plays, and a row chosen with the arrows scrolls into view.
#include <QAbstractSpinBox>
#include <QAbstractSlider>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>
#include <QWindow>

#include <array>
#include <cmath>

#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "app/shell/Footer.h"
#include "app/shell/Header.h"
#include "app/shell/SettingsWindow.h"
#include "app/shell/TransportBar.h"
#include "MenuTestSupport.h"
#include "app/shell/SheetHost.h"
#include "panels/DiagnosticsPanel.h"
#include "panels/EffectRack.h"
#include "panels/WorkspaceBrowser.h"
#include "timeline/LaneHeader.h"
#include "timeline/MultitrackTimeline.h"
#include "widgets/FocusMark.h"
#include "widgets/SegmentedControl.h"
#include "widgets/ToolButton.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

double luminance(QRgb c) {
    const auto linear = [](int v) {
        const double s = v / 255.0;
        return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(qRed(c)) + 0.7152 * linear(qGreen(c)) + 0.0722 * linear(qBlue(c));
}

double contrast(QRgb a, QRgb b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// What a focus mark goes around: a picker or number field rather than the text field inside it.
QWidget* markTarget(QWidget* w) {
    QWidget* p = w->parentWidget();
    if (p && (qobject_cast<QComboBox*>(p) || qobject_cast<QAbstractSpinBox*>(p))) return p;
    return w;
}

// The part of `w` that its parents do not cut away, in `window`'s coordinates.
QRect visiblePart(QWidget* w, QWidget* window) {
    QRect r(w->mapTo(window, QPoint(0, 0)), w->size());
    for (QWidget* p = w->parentWidget(); p && p != window; p = p->parentWidget())
        r &= QRect(p->mapTo(window, QPoint(0, 0)), p->size());
    return r;
}

// For each side of `r` (left, top, right, bottom) that is not cut by a parent, the share of its
// length along which some pixel in a band across it (4 px outside to 3 px inside) changed by 3:1
// or more between the two images; a cut side counts as 1.
std::array<double, 4> markedSides(const QImage& focused, const QImage& plain, QRect r, QRect whole) {
    const auto changed = [&](int x, int y) {
        return x >= 0 && y >= 0 && x < focused.width() && y < focused.height() &&
               contrast(focused.pixel(x, y), plain.pixel(x, y)) >= 3.0;
    };
    std::array<double, 4> out{1, 1, 1, 1};
    const bool cut[4] = {r.left() != whole.left(), r.top() != whole.top(), r.right() != whole.right(),
                         r.bottom() != whole.bottom()};
    for (int side = 0; side < 4; ++side) {
        if (cut[side]) continue;
        const bool vertical = side == 0 || side == 2;
        const int from = vertical ? r.top() : r.left(), to = vertical ? r.bottom() : r.right();
        const int edge = side == 0 ? r.left() : side == 1 ? r.top() : side == 2 ? r.right() : r.bottom();
        const int outward = side < 2 ? -1 : 1;
        int covered = 0;
        for (int along = from; along <= to; ++along) {
            bool hit = false;
            for (int across = -3; across <= 4 && !hit; ++across) {
                const int d = edge + across * outward;
                hit = vertical ? changed(d, along) : changed(along, d);
            }
            covered += hit;
        }
        out[side] = double(covered) / std::max(1, to - from + 1);
    }
    return out;
}

QString describe(QWidget* w) {
    QString name = QString::fromLatin1(w->metaObject()->className());
    if (!w->objectName().isEmpty()) name += QLatin1Char('#') + w->objectName();
    if (!w->accessibleName().isEmpty()) name += QStringLiteral(" \"") + w->accessibleName() + QLatin1Char('"');
    return name;
}

// The demo project in the multitrack page at 1366 × 768 with the browser and the inspector open,
// its first clip selected with two effects in its chain.
void keyboardWindow(StudioFixture& fx) {
    fx.loadDemo();
    StudioStore& s = fx.store();
    s.setSelectedID(s.session().tracks[0].id);
    s.setSelectedLaneID(s.session().tracks[0].laneID);
    s.addRackEffect(EffectPreset::voice);
    s.addRackEffect(EffectPreset::deesser);
    s.setShowBrowser(true);
    s.setShowInspector(true);
    fx.window().resize(1366, 768);
    fx.window().show();
    QApplication::setActiveWindow(&fx.window());
    fx.delegate().connectStore(fx.store());
    fx.settle();
}

void press(StudioFixture& fx, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* to = QApplication::focusWidget() ? QApplication::focusWidget() : &fx.window();
    QTest::keyClick(to, key, modifiers);
    pump();
}

}  // namespace

// Checks the mark around the focused control of `window`: each side of it that shows changes by
// 3:1 or more along most of its length when the focus goes.
void expectMarked(QWidget& window) {
    QWidget* focus = QApplication::focusWidget();
    ASSERT_TRUE(focus);
    QWidget* target = markTarget(focus);
    const QRect whole(target->mapTo(&window, QPoint(0, 0)), target->size());
    const QRect part = visiblePart(target, &window);
    ASSERT_FALSE(part.isEmpty()) << describe(focus).toStdString() << " is out of view";
    const QImage marked = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
    focus->clearFocus();
    pump();
    const QImage plain = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
    focus->setFocus(Qt::TabFocusReason);
    pump();
    const auto sides = markedSides(marked, plain, part, whole);
    for (int side = 0; side < 4; ++side)
        EXPECT_GE(sides[side], 0.6) << describe(focus).toStdString() << " side " << side;
}

TEST(Keyboard, TabWalksTheWindowInReadingOrderAndMarksEveryStop) {
    StudioFixture fx;
    keyboardWindow(fx);
    QWidget& window = fx.window();
    StudioView& view = fx.view();

    // The window itself holds the focus at the start and again after a sheet opened by its shortcut
    // (no control marked); from there the first Tab goes to the first stop.
    EXPECT_EQ(QApplication::focusWidget(), &window);
    press(fx, Qt::Key_E, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_TRUE(view.sheets()->topSheet());
    QTest::keyClick(view.sheets()->topSheet(), Qt::Key_Escape);
    QApplication::setActiveWindow(&window);  // as the window manager does
    pump();
    ASSERT_EQ(QApplication::focusWidget(), &window);
    QList<QWidget*> stops;
    for (int i = 0; i < 400; ++i) {
        press(fx, Qt::Key_Tab);
        QWidget* focus = QApplication::focusWidget();
        ASSERT_TRUE(focus);
        ASSERT_EQ(focus->window(), &window);
        if (!stops.isEmpty() && focus == stops.first()) break;  // round the window once
        ASSERT_FALSE(stops.contains(focus)) << describe(focus).toStdString() << " twice";
        EXPECT_FALSE(qobject_cast<QScrollArea*>(focus)) << "a scroll area is no stop of its own";
        stops << focus;

        expectMarked(window);
    }
    ASSERT_GT(stops.size(), 20);
    EXPECT_EQ(QApplication::focusWidget(), stops.first());

    // Regions in reading order, each walked whole before the next: the header, the browser, the
    // editor column (tools, the rows, the selection bar), the inspector, the transport bar.
    const QList<QWidget*> regions = {view.header(), view.browserColumn(), view.findChild<QWidget*>(QStringLiteral("editorColumn")),
                                     view.rightPanel(), view.transportBar(), view.footer()};
    int region = 0;
    for (QWidget* stop : stops) {
        int in = -1;
        for (int r = 0; r < regions.size(); ++r)
            if (regions[r]->isAncestorOf(stop)) in = r;
        ASSERT_GE(in, 0) << describe(stop).toStdString() << " lies in no region";
        EXPECT_GE(in, region) << describe(stop).toStdString() << " comes after a later region";
        region = std::max(region, in);
    }

    // The rows: each row's name, mute and solo, the rows from the top.
    auto* page = view.findChild<MultitrackTimeline*>();
    ASSERT_TRUE(page);
    QList<LaneHeader*> headers = page->findChildren<LaneHeader*>();
    std::sort(headers.begin(), headers.end(), [](LaneHeader* a, LaneHeader* b) { return a->y() < b->y(); });
    ASSERT_EQ(headers.size(), 3);
    qsizetype last = -1;
    for (LaneHeader* h : headers)
        for (QWidget* control : {static_cast<QWidget*>(h->nameField()), static_cast<QWidget*>(h->muteButton()),
                                 static_cast<QWidget*>(h->soloButton())}) {
            const qsizetype at = stops.indexOf(control);
            EXPECT_GT(at, last) << describe(control).toStdString();
            last = at;
        }

    // The chain: its header, then the first slot's controls at once.
    auto* rack = view.findChild<EffectsRackView*>();
    ASSERT_TRUE(rack);
    QList<RackSlotView*> slots = rack->findChildren<RackSlotView*>();
    ASSERT_EQ(slots.size(), 2);
    std::sort(slots.begin(), slots.end(), [](RackSlotView* a, RackSlotView* b) { return a->y() < b->y(); });
    auto* favorites = rack->findChild<QWidget*>(QStringLiteral("favorites"));
    ASSERT_TRUE(favorites);
    const qsizetype header = stops.indexOf(favorites);
    ASSERT_GE(header, 0);
    EXPECT_EQ(stops.value(header + 1), static_cast<QWidget*>(rack->chainPower()));
    EXPECT_EQ(stops.value(header + 2), static_cast<QWidget*>(slots[0]->powerButton())) << describe(stops.value(header + 2)).toStdString();
    EXPECT_EQ(stops.value(header + 3), static_cast<QWidget*>(slots[0]->presetBox()));
    // The icon buttons are stops too, in order: the inspector's pages, the transport's buttons.
    qsizetype previous = -1;
    for (const char* name : {"tab0", "tab1", "tab2", "tab3", "goToStart", "stop", "play", "record", "loop"}) {
        const qsizetype at = stops.indexOf(window.findChild<ToolButton*>(QString::fromLatin1(name)));
        EXPECT_GT(at, previous) << name;
        previous = at;
    }
    EXPECT_LT(stops.indexOf(static_cast<QWidget*>(slots[0]->deleteButton())), stops.indexOf(static_cast<QWidget*>(slots[1]->powerButton())));

    // Shift+Tab walks back the same way and brings each stop into view: the chain's list is
    // scrolled back to its top first, so that its last rows are entered from below out of view.
    QScrollArea* list = nullptr;
    for (QWidget* w = slots[0]; w && !list; w = w->parentWidget()) list = qobject_cast<QScrollArea*>(w);
    ASSERT_TRUE(list);
    ASSERT_GT(list->verticalScrollBar()->maximum(), 0) << "the chain's list fits: nothing to scroll into view";
    list->verticalScrollBar()->setValue(0);
    pump();
    QList<QWidget*> back;
    for (qsizetype i = 0; i < stops.size(); ++i) {
        press(fx, Qt::Key_Backtab, Qt::ShiftModifier);
        QWidget* focus = QApplication::focusWidget();
        back.prepend(focus);
        QWidget* target = markTarget(focus);
        EXPECT_EQ(visiblePart(target, &window), QRect(target->mapTo(&window, QPoint(0, 0)), target->size()))
            << describe(focus).toStdString() << " not whole in view";
    }
    EXPECT_EQ(back, stops);
}

TEST(Keyboard, ReturnPressesTheFocusedButtonAndSpaceStillPlays) {
    StudioFixture fx;
    keyboardWindow(fx);
    auto* page = fx.view().findChild<MultitrackTimeline*>();
    ASSERT_TRUE(page);
    QList<LaneHeader*> headers = page->findChildren<LaneHeader*>();
    ASSERT_FALSE(headers.isEmpty());
    LaneHeader* row = headers.first();
    const Uuid lane = row->laneID();
    const auto muted = [&] {
        for (const Lane& l : fx.store().session().lanes)
            if (l.id == lane) return l.muted;
        return false;
    };
    row->muteButton()->setFocus(Qt::TabFocusReason);
    pump();
    ASSERT_EQ(QApplication::focusWidget(), row->muteButton());
    EXPECT_FALSE(muted());
    press(fx, Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor(muted, 5000));  // after the button's press animation
    // A click on an icon button leaves the focus where it was.
    auto* loop = fx.window().findChild<ToolButton*>(QStringLiteral("loop"));
    QTest::mouseClick(loop, Qt::LeftButton);
    QTest::mouseClick(loop, Qt::LeftButton);
    EXPECT_EQ(QApplication::focusWidget(), row->muteButton());
    // Space on the focused button plays and pauses, as everywhere in the window.
    loop->setFocus(Qt::TabFocusReason);
    ASSERT_FALSE(fx.store().transport().playing());
    press(fx, Qt::Key_Space);
    fx.settle();
    EXPECT_TRUE(fx.store().transport().playing());
    EXPECT_EQ(FocusMark::marked(), loop);
    press(fx, Qt::Key_Space);
    fx.settle();
    EXPECT_FALSE(fx.store().transport().playing());
    // A click on a slider gives it the keyboard, and Space still plays and pauses.
    QWidget* gain = row->findChild<QAbstractSlider*>();  // the row's volume
    QTest::mouseClick(gain, Qt::LeftButton);
    ASSERT_EQ(QApplication::focusWidget(), gain);
    for (const bool playing : {true, false}) {
        press(fx, Qt::Key_Space);
        fx.settle();
        EXPECT_EQ(fx.store().transport().playing(), playing);
    }
    // A focused slider takes the arrows, Home and End, in the units shown; keys with no pause
    // between are one undo step.
    fx.store().moveCursor(1.0, false);
    const std::size_t steps = fx.store().undoNames().size();
    gain->clearFocus();  // tabbed into now, for its mark below
    gain->setFocus(Qt::TabFocusReason);
    for (Qt::Key key : {Qt::Key_End, Qt::Key_Home, Qt::Key_Up, Qt::Key_Up, Qt::Key_Right, Qt::Key_Left, Qt::Key_Down, Qt::Key_PageUp})
        QTest::keyClick(gain, key);
    EXPECT_EQ(fx.store().playhead(), 1.0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return std::abs(Session(fx.store().session()).lane(lane)->gainDB + 58.9) < 1e-9; }, 20000));
    EXPECT_EQ(fx.store().undoNames().size(), steps + 1);
    // The mark comes back after Speed and Pitch's Apply (the window activated while the panels are
    // locked, or after), and after a dialog over the export sheet whose field takes the focus (the file chooser).
    for (bool unlocked : {false, true}) {
        press(fx, Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier);
        fx.store().setTimeRate(1.5), fx.store().applyTimePitch();
        if (unlocked) fx.settle();
        QApplication::setActiveWindow(&fx.window());
        fx.settle();
        EXPECT_EQ(FocusMark::marked(), gain);
    }
    fx.view().header()->exportButton()->setFocus(Qt::TabFocusReason);
    fx.store().setShowExport(true);
    pump();
    auto* chooser = new QDialog(fx.view().sheets()->topSheet());
    auto* name = new QLineEdit(chooser);
    chooser->show();
    QApplication::setActiveWindow(chooser);
    name->clearFocus();
    name->setFocus(Qt::OtherFocusReason);
    pump();
    QTest::keyClick(fx.view().sheets()->topSheet(), Qt::Key_Escape);
    QApplication::setActiveWindow(&fx.window());
    pump();
    EXPECT_EQ(FocusMark::marked(), fx.view().header()->exportButton());
    // Return on a focused picker opens its list.
    auto* rack = fx.view().findChild<EffectsRackView*>();
    ASSERT_TRUE(rack);
    auto* slot = rack->findChild<RackSlotView*>();
    ASSERT_TRUE(slot);
    slot->presetBox()->setFocus(Qt::TabFocusReason);
    pump();
    ASSERT_FALSE(QApplication::activePopupWidget());
    press(fx, Qt::Key_Return);
    EXPECT_TRUE(QApplication::activePopupWidget());
    if (QApplication::activePopupWidget()) QApplication::activePopupWidget()->close();
    pump();
    // Return opens an effect's parameters; after Escape its button shows the focus by the mark alone.
    fx.window().setAttribute(Qt::WA_KeyboardFocusChange);
    slot->parametersButton()->setFocus(Qt::TabFocusReason);
    press(fx, Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget(); }, 5000));
    press(fx, Qt::Key_Escape);
    const QImage focused = slot->parametersButton()->grab().toImage();
    slot->parametersButton()->clearFocus();
    EXPECT_EQ(slot->parametersButton()->grab().toImage(), focused);

    // A focused segmented control takes ← and → before the playhead does: the browser's pages.
    auto* browser = fx.view().findChild<WorkspaceBrowser*>();
    browser->picker()->setFocus(Qt::TabFocusReason);
    const double playhead = fx.store().playhead();
    for (const Qt::Key key : {Qt::Key_Right, Qt::Key_Right, Qt::Key_Left, Qt::Key_Return}) press(fx, key);
    EXPECT_EQ(browser->tab(), 1);
    EXPECT_EQ(fx.store().playhead(), playhead);

    // "Сканировать" is disabled with its panel while the scan runs, and has the focus back after.
    fx.store().setInspectorTab(2);
    auto* scan = fx.view().findChild<panels::DiagnosticsPanel*>()->scanButton();
    const auto scanning = [&] { return fx.store().busy(); };
    scan->setFocus(Qt::TabFocusReason);
    press(fx, Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor(scanning, 5000));
    fx.settle();
    EXPECT_EQ(QApplication::focusWidget(), scan);
    // Unless the person moved the focus meanwhile (into a popover's field here): it stays there.
    press(fx, Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor(scanning, 5000));
    QWidget popover(&fx.window(), Qt::Popup);
    auto* field = new QLineEdit(&popover);
    popover.show();
    field->setFocus(Qt::OtherFocusReason);
    fx.settle();
    EXPECT_EQ(QApplication::focusWidget(), field);
    popover.close();

    // An effect added from a row's "Добавить эффект": the row goes, the focus goes to the next
    // row's button rather than back to the window's first stop.
    fx.store().setInspectorTab(0);
    pump();
    QList<QToolButton*> adds;
    for (QToolButton* b : rack->findChildren<QToolButton*>(QStringLiteral("addEffect")))
        if (b->isVisible()) adds << b;
    std::sort(adds.begin(), adds.end(), [](QWidget* a, QWidget* b) { return a->mapTo(b->window(), QPoint()).y() < b->mapTo(b->window(), QPoint()).y(); });
    adds.value(0)->setFocus(Qt::TabFocusReason);
    fx.store().addRackEffect(EffectPreset::telephone);
    fx.settle();
    EXPECT_EQ(QApplication::focusWidget(), adds.value(1));
}

TEST(Keyboard, ARowChosenWithTheArrowsScrollsIntoView) {
    StudioFixture fx;
    bigProject(fx, 12, 12);
    fx.window().resize(1366, 768);
    fx.window().show();
    QApplication::setActiveWindow(&fx.window());
    fx.delegate().connectStore(fx.store());
    fx.settle();
    auto* page = fx.view().findChild<MultitrackTimeline*>();
    ASSERT_TRUE(page);
    QWidget* viewport = page->headerArea()->viewport();
    const auto selectedHeader = [&]() -> LaneHeader* {
        for (LaneHeader* h : page->findChildren<LaneHeader*>())
            if (fx.store().selectedLaneID() && h->laneID() == *fx.store().selectedLaneID()) return h;
        return nullptr;
    };
    const auto inView = [&](LaneHeader* h) {
        const QRect r(h->mapTo(viewport, QPoint(0, 0)), h->size());
        return viewport->rect().contains(r);
    };
    ASSERT_LT(viewport->height(), 12 * 134);
    fx.window().setFocus();
    for (int i = 1; i < 12; ++i) {
        press(fx, Qt::Key_Down);
        LaneHeader* h = selectedHeader();
        ASSERT_TRUE(h);
        EXPECT_EQ(h->laneID(), fx.store().session().lanes[std::size_t(i)].id);
        EXPECT_TRUE(inView(h)) << "row " << i;
    }
    EXPECT_GT(page->timelineArea()->verticalScrollBar()->value(), 0);
    for (int i = 10; i >= 0; --i) {
        press(fx, Qt::Key_Up);
        LaneHeader* h = selectedHeader();
        ASSERT_TRUE(h);
        EXPECT_TRUE(inView(h)) << "row " << i;
    }
    // The first row brings the rulers above it back.
    EXPECT_EQ(page->timelineArea()->verticalScrollBar()->value(), 0);
}

// The settings window sits over the main window as its transient (a Wayland compositor centres it
// there), and Tab marks each of its stops, the first one included.
TEST(Keyboard, SettingsWindowBelongsToTheMainWindowAndMarksItsStops) {
    StudioFixture fx;
    fx.window().show();
    pump();
    fx.window().showSettings();
    pump();
    SettingsWindow* settings = fx.window().settingsWindow();
    ASSERT_TRUE(settings && settings->isVisible());
    ASSERT_TRUE(settings->windowHandle());
    EXPECT_EQ(settings->windowHandle()->transientParent(), fx.window().windowHandle());
    QApplication::setActiveWindow(settings);
    pump();
    QList<QWidget*> stops;
    for (int i = 0; i < 60; ++i) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : settings, Qt::Key_Tab);
        pump();
        QWidget* focus = QApplication::focusWidget();
        ASSERT_TRUE(focus);
        if (stops.contains(focus)) break;
        EXPECT_FALSE(qobject_cast<QScrollArea*>(focus)) << "a scroll area is no stop of its own";
        stops << focus;
        expectMarked(*settings);
    }
    EXPECT_GE(stops.size(), 3);
}

// A sheet marks each of its stops too: the tone generator's level slider and its default button,
// drawn filled with the accent, among them.
TEST(Keyboard, ASheetMarksEveryStopItsLevelSliderAndDefaultButtonIncluded) {
    StudioFixture fx;
    fx.window().resize(1366, 768);
    fx.window().show();
    QApplication::setActiveWindow(&fx.window());
    fx.delegate().connectStore(fx.store());
    fx.settle();
    DiagnosticsState d = fx.store().diagnostics();
    d.sheet = ProcessingSheet::tone;
    fx.store().setDiagnostics(std::move(d));
    fx.settle();
    QWidget* sheet = fx.view().sheets()->topSheet();
    ASSERT_TRUE(sheet);
    QWidget& window = *sheet->window();
    QApplication::setActiveWindow(&window);
    pump();
    QPushButton* theDefault = nullptr;
    for (QPushButton* b : window.findChildren<QPushButton*>())
        if (b->isDefault()) theDefault = b;
    ASSERT_TRUE(theDefault);
    QList<QWidget*> stops;
    bool slider = false;
    for (int i = 0; i < 60; ++i) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &window, Qt::Key_Tab);
        pump();
        QWidget* focus = QApplication::focusWidget();
        ASSERT_TRUE(focus);
        ASSERT_EQ(focus->window(), &window);
        if (stops.contains(focus)) break;
        stops << focus;
        slider = slider || qobject_cast<QAbstractSlider*>(focus);
        expectMarked(window);
    }
    EXPECT_TRUE(slider);
    EXPECT_TRUE(stops.contains(theDefault));
    fx.store().setDiagnostics(DiagnosticsState{});
    fx.settle();
}
