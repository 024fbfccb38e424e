// Row headers: the name edit, read-outs, the reorder handle and the row menu with the clip's
// automation entries, over a real store.
#include <QAccessible>
#include <QAction>
#include <QTest>
#include <QSlider>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QVBoxLayout>

#include "timeline/ClipAutomationMenu.h"
#include "model/Localization.h"
#include "timeline/LaneHeader.h"
#include "timeline/TimelineTestSupport.h"
#include "widgets/ToolButton.h"
#include "widgets/ValueSlider.h"

namespace tessoral::test {
namespace {

struct HeaderFixture {
    LanesFixture fx;
    QWidget column;
    QVBoxLayout* rows = new QVBoxLayout(&column);
    std::unique_ptr<LaneHeaderColumn> headers;
    std::vector<Uuid> ids;

    explicit HeaderFixture(int count = 4) {
        ids = fx.rows(count);
        rows->setContentsMargins(0, 0, 0, 0);
        rows->setSpacing(0);
        headers = std::make_unique<LaneHeaderColumn>(*fx.store, &column, rows);
        column.resize(194, 134 * count);
        column.show();
        pump();
    }
    LaneHeader* header(int row) { return headers->header(ids[std::size_t(row)]); }
    std::size_t indexOf(const Uuid& id) { return *fx.store->session().laneIndex(id); }
    const std::string& lastUndo() { return fx.store->undoNames().back(); }

    // A handle drag measured on the screen: press, moves by `dy` (through `steps`), release.
    void mouse(QWidget* w, QEvent::Type type, QPointF global, Qt::MouseButtons buttons) {
        const QPointF local = w->mapFromGlobal(global);
        QMouseEvent e(type, local, global, Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(w, &e);
    }
    void dragHandle(LaneDragHandle* h, double dy, bool release = true) {
        const QPointF start = h->mapToGlobal(QPointF(6, 9));
        mouse(h, QEvent::MouseButtonPress, start, Qt::LeftButton);
        mouse(h, QEvent::MouseMove, start + QPointF(0, dy / 2), Qt::LeftButton);
        mouse(h, QEvent::MouseMove, start + QPointF(0, dy), Qt::LeftButton);
        if (release) mouse(h, QEvent::MouseButtonRelease, start + QPointF(0, dy), Qt::NoButton);
    }

    QAction* action(QMenu* menu, const QString& text) {
        for (QAction* a : menu->actions())
            if (a->text() == text) return a;
        return nullptr;
    }
    QStringList texts(QMenu* menu) {
        QStringList out;
        for (QAction* a : menu->actions()) out << a->text();
        return out;
    }
};

QString q(const char* s) { return QString::fromUtf8(s); }

TEST(LaneHeader, ReadOuts) {
    EXPECT_EQ(panLabel(0.004), "C");
    EXPECT_EQ(panLabel(-0.004), "C");
    EXPECT_EQ(panLabel(-0.5), "L50");
    EXPECT_EQ(panLabel(1.0), "R100");
    EXPECT_EQ(panLabel(0.25), "R25");
    EXPECT_EQ(gainLabel(0.0), "+0.0");
    EXPECT_EQ(gainLabel(-12.5), "-12.5");
    EXPECT_EQ(gainLabel(6.0), "+6.0");
}

TEST(LaneHeader, ShowsTheRowAndFollowsIt) {
    HeaderFixture h(2);
    ASSERT_EQ(h.headers->count(), 2u);
    LaneHeader* first = h.header(0);
    EXPECT_EQ(first->nameField()->text(), "Row 1");
    EXPECT_EQ(first->clipCountLabel()->text(), q("0 клипов"));
    h.fx.add(0, 1, 2);
    EXPECT_EQ(first->clipCountLabel()->text(), q("1 клип"));
    h.fx.store->toggleLaneMute(h.ids[0]);
    EXPECT_TRUE(first->muteButton()->active());
    h.fx.store->setLaneGain(h.ids[0], -12.5);
    EXPECT_EQ(first->gainSlider()->displayLabel()->text(), "-12.5");
    h.fx.store->undo();
    EXPECT_EQ(first->gainSlider()->displayLabel()->text(), "+0.0");
    EXPECT_EQ(h.header(0), first);  // updated in place
}

// Each control of the header is one undo step under the row command's own name.
TEST(LaneHeader, EachControlIsOneNamedUndoStep) {
    HeaderFixture h(2);
    LaneHeader* header = h.header(1);
    EXPECT_EQ(header->gainSlider()->draft() * 100 + header->panSlider()->draft(), 0.0);  // the row's own
    auto slide = [](ValueSlider* slider, int to) {
        QSlider* s = slider->slider();
        s->setSliderDown(true);
        s->setValue((s->minimum() + to) / 2);
        s->setValue(to);
        s->setSliderDown(false);
    };
    auto oneStep = [&](const std::function<void()>& gesture, const char* name) {
        const int before = undoSteps(*h.fx.store);
        gesture();
        EXPECT_EQ(undoSteps(*h.fx.store), before + 1) << name;
        EXPECT_EQ(h.lastUndo(), name);
    };
    oneStep([&] { header->muteButton()->click(); }, "Выключение дорожки");
    EXPECT_TRUE(h.fx.store->session().lanes[1].muted);
    oneStep([&] { header->soloButton()->click(); }, "Соло");
    EXPECT_TRUE(h.fx.store->session().lanes[1].solo);
    oneStep([&] { slide(header->gainSlider(), header->gainSlider()->slider()->minimum()); }, "Громкость дорожки");
    EXPECT_DOUBLE_EQ(h.fx.store->session().lanes[1].gainDB, -60.0);
    oneStep([&] { slide(header->panSlider(), header->panSlider()->slider()->maximum()); }, "Панорама дорожки");
    EXPECT_DOUBLE_EQ(h.fx.store->session().lanes[1].pan, 1.0);
    EXPECT_DOUBLE_EQ(header->panSlider()->spokenValue(), 100.0);  // "R100" is 100
    EXPECT_FALSE(h.fx.store->session().lanes[0].muted || h.fx.store->session().lanes[0].solo);

    // For a screen reader: named by the row, stepped in the units shown (0.1 dB, 1 %), a step or a
    // set value one undo step each, as are an arrow and a page.
    h.fx.store->renameLane(h.ids[1], "Bass & Keys");
    QAccessibleInterface* gain = QAccessible::queryAccessibleInterface(header->gainSlider()->slider());
    QAccessibleInterface* pan = QAccessible::queryAccessibleInterface(header->panSlider()->slider());
    EXPECT_EQ(gain->text(QAccessible::Name) + pan->text(QAccessible::Name),
              QString::fromStdString(L("{0}: громкость", "Bass & Keys") + L("{0}: панорама", "Bass & Keys")));
    EXPECT_EQ(gain->valueInterface()->minimumStepSize().toDouble() * 10 + pan->valueInterface()->minimumStepSize().toDouble(), 2.0);
    const auto increase = QAccessibleActionInterface::increaseAction();
    oneStep([&] { gain->actionInterface()->doAction(increase); }, "Громкость дорожки");
    EXPECT_EQ(h.fx.store->session().lanes[1].gainDB, -59.9);
    oneStep([&] { gain->valueInterface()->setCurrentValue(-2.2776); }, "Громкость дорожки");
    EXPECT_EQ(h.fx.store->session().lanes[1].gainDB, -2.3);
    EXPECT_EQ(header->gainSlider()->displayLabel()->text(), gainLabel(-2.3));
    oneStep([&] { QTest::keyClick(header->gainSlider()->slider(), Qt::Key_Down), ValueSliderTrack::endOpenBursts(); }, "Громкость дорожки");
    EXPECT_EQ(h.fx.store->session().lanes[1].gainDB, -2.4);
    oneStep([&] { QTest::keyClick(header->gainSlider()->slider(), Qt::Key_PageUp), ValueSliderTrack::endOpenBursts(); }, "Громкость дорожки");
    EXPECT_EQ(h.fx.store->session().lanes[1].gainDB, -1.4);
    oneStep([&] { pan->actionInterface()->doAction(QAccessibleActionInterface::decreaseAction()); }, "Панорама дорожки");
    EXPECT_EQ(h.fx.store->session().lanes[1].pan, 0.99);
    oneStep([&] { pan->valueInterface()->setCurrentValue(-25.4); }, "Панорама дорожки");
    EXPECT_EQ(h.fx.store->session().lanes[1].pan, -0.25);
    EXPECT_EQ(pan->valueInterface()->currentValue().toDouble(), -25.0);
}

TEST(LaneHeader, NameCommitsTrimmedOnceAndRefusesBlanks) {
    HeaderFixture h(2);
    LaneHeader* header = h.header(0);
    QLineEdit* field = header->nameField();
    const int before = undoSteps(*h.fx.store);

    for (const char* blank : {"", "   ", "\t "}) {
        field->setText(q(blank));
        header->commitName();
        EXPECT_EQ(field->text(), "Row 1");
    }
    field->setText(q("  Row 1\t"));
    header->commitName();
    EXPECT_EQ(undoSteps(*h.fx.store), before);

    // Return, then a click elsewhere (focus leaves): one step.
    field->setFocus();
    field->setText(q("  Барабаны "));
    QTest::keyClick(field, Qt::Key_Return);
    header->commitName();  // the loss of focus commits again
    EXPECT_EQ(undoSteps(*h.fx.store), before + 1);
    EXPECT_EQ(h.lastUndo(), "Название дорожки");
    EXPECT_EQ(h.fx.store->session().lanes[0].name, "Барабаны");
    EXPECT_EQ(field->text(), q("Барабаны"));
    // Another view renames: the field follows.
    h.fx.store->renameLane(h.ids[0], "Bass");
    EXPECT_EQ(field->text(), "Bass");
}

TEST(LaneHeader, HandleMovesByWholeRowsInOneStep) {
    struct Case {
        double dy;
        int from;
        int to;
    };
    for (const Case c : {Case{66, 0, 0}, Case{67, 0, 1}, Case{200, 0, 1}, Case{201, 0, 2}, Case{-67, 2, 1}, Case{5000, 1, 3},
                         Case{-5000, 2, 0}}) {
        HeaderFixture h(4);
        const Uuid id = h.ids[std::size_t(c.from)];
        LaneHeader* header = h.header(c.from);
        const int before = undoSteps(*h.fx.store);
        h.dragHandle(header->handle(), c.dy);
        EXPECT_EQ(h.indexOf(id), std::size_t(c.to)) << c.dy;
        EXPECT_EQ(undoSteps(*h.fx.store), before + 1) << c.dy;
        EXPECT_EQ(h.lastUndo(), "Порядок дорожек");
        EXPECT_FALSE(h.fx.store->laneDragOrigin().has_value());
        EXPECT_FALSE(header->handle()->reordering());
    }
}

TEST(LaneHeader, DragGoesOnWhileTheHeaderChangesRows) {
    HeaderFixture h(4);
    LaneHeader* header = h.header(0);
    LaneDragHandle* handle = header->handle();
    const QPointF pressed = handle->mapToGlobal(QPointF(6, 9));
    h.dragHandle(handle, 140, false);  // one row down, still held
    pump();
    EXPECT_EQ(handle->mapToGlobal(QPointF(6, 9)) - pressed, QPointF(0, 134));
    ASSERT_EQ(h.indexOf(h.ids[0]), 1u);
    EXPECT_EQ(h.header(1 - 1), header);  // the same widget, moved
    EXPECT_EQ(h.rows->indexOf(header), 1);
    ASSERT_TRUE(h.fx.store->laneDragOrigin().has_value());
    // The press point is measured on the screen: the header has moved under the pointer.
    const QPointF start = pressed;
    h.mouse(handle, QEvent::MouseMove, start + QPointF(0, 290), Qt::LeftButton);
    EXPECT_EQ(h.indexOf(h.ids[0]), 2u);
    h.mouse(handle, QEvent::MouseButtonRelease, start + QPointF(0, 290), Qt::NoButton);
    EXPECT_FALSE(h.fx.store->laneDragOrigin().has_value());
    EXPECT_EQ(undoSteps(*h.fx.store), 1);
}

TEST(LaneHeader, DisabledMidDragEndsTheDrag) {
    HeaderFixture h(3);
    LaneHeader* header = h.header(0);
    h.dragHandle(header->handle(), 140, false);
    ASSERT_TRUE(h.fx.store->laneDragOrigin().has_value());
    header->setEnabled(false);  // the store locks, say: no release will come
    EXPECT_FALSE(h.fx.store->laneDragOrigin().has_value());
    EXPECT_FALSE(header->handle()->reordering());
    header->setEnabled(true);
    // A later drag is not refused.
    h.dragHandle(h.header(2)->handle(), -140);
    EXPECT_EQ(h.indexOf(h.ids[2]), 1u);
}

TEST(LaneHeader, LockedStoreDisablesEveryHeaderAndEndsADrag) {
    HeaderFixture h(2);
    h.dragHandle(h.header(0)->handle(), 140, false);
    ASSERT_TRUE(h.fx.store->laneDragOrigin().has_value());
    h.fx.store->setBusy(true);
    EXPECT_FALSE(h.header(0)->isEnabled());
    EXPECT_FALSE(h.header(1)->isEnabled());
    EXPECT_FALSE(h.fx.store->laneDragOrigin().has_value());
    h.fx.store->setBusy(false);
    EXPECT_TRUE(h.header(1)->isEnabled());
}

TEST(LaneHeader, RowMenuLimitsAndColours) {
    HeaderFixture h(32);
    LaneHeader* header = h.header(3);
    header->fillMenu();
    QMenu* menu = header->menu();
    EXPECT_FALSE(h.action(menu, q("Новая дорожка"))->isEnabled());
    EXPECT_FALSE(h.action(menu, q("Дублировать дорожку"))->isEnabled());
    EXPECT_TRUE(h.action(menu, q("Удалить дорожку"))->isEnabled());
    QAction* colours = h.action(menu, q("Цвет"));
    ASSERT_TRUE(colours && colours->menu());
    int checks = 0;
    for (QAction* a : colours->menu()->actions()) checks += a->text().startsWith(q("✓ "));
    EXPECT_EQ(checks, 1);
    EXPECT_TRUE(colours->menu()->actions()[3]->text().startsWith(q("✓ ")));
    // No selected clip: the menu ends with the colours.
    EXPECT_EQ(menu->actions().back(), colours);
    colours->menu()->actions()[5]->trigger();
    EXPECT_EQ(h.fx.store->session().lanes[3].color, 5);
}

TEST(LaneHeader, ClipSectionOnlyOnTheSelectedClipsRow) {
    HeaderFixture h(3);
    const Uuid a = h.fx.add(1, 0, 5, "A");
    h.fx.store->setSelectedID(a);
    h.header(0)->fillMenu();
    EXPECT_FALSE(h.texts(h.header(0)->menu()).contains(q("Удалить клип")));
    h.header(1)->fillMenu();
    QMenu* menu = h.header(1)->menu();
    EXPECT_TRUE(h.texts(menu).contains(q("Клип «A»")));
    EXPECT_TRUE(h.action(menu, q("Дублировать клип"))->isEnabled());
    // One clip: no auto-duck.
    EXPECT_FALSE(h.action(menu, q("Автоприглушение под речью…"))->isEnabled());
}

TEST(LaneHeader, TwoHundredFiftySixClipsDisableDuplicateClip) {
    HeaderFixture h(1);
    Session s = h.fx.store->session();
    for (int i = 0; i < 256; ++i) {
        Track t = clip("c", 480, i * 0.02);
        t.laneID = h.ids[0];
        s.tracks.push_back(t);
    }
    const Uuid first = s.tracks.front().id;
    h.fx.store->setSession(s);
    h.fx.store->setSelectedID(first);
    h.header(0)->fillMenu();
    EXPECT_FALSE(h.action(h.header(0)->menu(), q("Дублировать клип"))->isEnabled());
    EXPECT_TRUE(h.action(h.header(0)->menu(), q("Автоприглушение под речью…"))->isEnabled());
}

TEST(ClipAutomationMenu, EntriesFollowTheClip) {
    HeaderFixture h(1);
    const Uuid a = h.fx.add(0, 0, 5, "A");
    h.fx.add(0, 6, 5, "B");
    Session s = h.fx.store->session();
    Track& t = *s.track(a);
    t.fadeInCurve = FadeCurve::linear;
    t.fadeOutCurve = FadeCurve::cosine;
    t.fadeIn = 0;
    t.fadeOut = 0;
    t.volumeEnvelope = {AutomationPoint{1.0, -6.0}};
    h.fx.store->setSession(s);

    QMenu menu;
    ClipAutomationMenu::addItems(&menu, *h.fx.store, *h.fx.store->session().track(a));
    const auto actions = menu.actions();
    ASSERT_EQ(actions.size(), 5);
    auto titles = [](QMenu* m) {
        QStringList out;
        for (QAction* x : m->actions()) out << x->text();
        return out;
    };
    EXPECT_EQ(titles(actions[0]->menu()), (QStringList{q("✓ Линейная"), q("Логарифмическая"), q("S-образная")}));
    EXPECT_EQ(titles(actions[1]->menu()), (QStringList{q("Линейная"), q("Логарифмическая"), q("✓ S-образная")}));
    EXPECT_FALSE(actions[2]->isEnabled());  // fades 0 and 0, whatever the curves
    EXPECT_TRUE(actions[3]->isEnabled());   // a volume point
    EXPECT_TRUE(actions[4]->isEnabled());   // two clips

    // The current curve chosen again still records its step.
    const int before = undoSteps(*h.fx.store);
    actions[0]->menu()->actions()[0]->trigger();
    EXPECT_EQ(undoSteps(*h.fx.store), before + 1);
    EXPECT_EQ(h.lastUndo(), "Форма фейда");

    actions[3]->trigger();
    EXPECT_TRUE(h.fx.store->session().track(a)->volumeEnvelope.empty());
    actions[4]->trigger();
    EXPECT_EQ(h.fx.store->selectedID(), a);
    EXPECT_TRUE(h.fx.store->showAutoDuck());
}

}  // namespace
}  // namespace tessoral::test
