#include <QApplication>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "panels/WorkspaceBrowser.h"
#include "panels/WorkspaceTestSupport.h"
#include "widgets/SegmentedControl.h"
#include "widgets/ToolButton.h"

namespace tessoral {
namespace {

using test::pump;
using test::qs;

struct BrowserTest : ::testing::Test {
    test::WorkspaceStore ws;
    StudioStore& store = *ws.store;
};

TEST_F(BrowserTest, EmptyProjectAndRowsWithoutClips) {
    WorkspaceBrowser browser(store, nullptr);
    EXPECT_FALSE(browser.emptyLabel(0)->isHidden());
    EXPECT_EQ(browser.emptyLabel(0)->text(), qs(L("Нет клипов")));
    EXPECT_EQ(browser.countLabel()->text(), qs(LP(0, "{0} клип|{0} клипа|{0} клипов")));
    ws.addLane("Empty");
    EXPECT_TRUE(browser.clipRows().empty());
    EXPECT_FALSE(browser.emptyLabel(0)->isHidden());
}

TEST_F(BrowserTest, ClipsByRowOrderThenStartAndKeptByID) {
    const Uuid a = ws.addLane("A");
    const Uuid b = ws.addLane("B");
    const Uuid b1 = ws.addClip("b-one", b, 0.0);
    const Uuid a2 = ws.addClip("a-late", a, 5.0);
    const Uuid a1 = ws.addClip("a-early", a, 1.0, 96000);
    WorkspaceBrowser browser(store, nullptr);
    auto rows = browser.clipRows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0]->text(), QStringLiteral("a-early"));
    EXPECT_EQ(rows[1]->text(), QStringLiteral("a-late"));
    EXPECT_EQ(rows[2]->text(), QStringLiteral("b-one"));
    EXPECT_EQ(rows[0]->subtitle(), QStringLiteral("A · ") + qs(timeLabel(2.0)));
    EXPECT_EQ(browser.countLabel()->text(), qs(LP(3, "{0} клип|{0} клипа|{0} клипов")));
    // A rename updates the same row; removing a clip removes only its row.
    browser::Row* late = rows[1];
    store.changeTrack(Uuid(a2), "rename", [](Track& t) { t.name = "renamed"; });
    EXPECT_EQ(browser.clipRows()[1], late);
    EXPECT_EQ(late->text(), QStringLiteral("renamed"));
    Session s = store.session();
    std::erase_if(s.tracks, [&](const Track& t) { return t.id == b1; });
    store.setSession(std::move(s));
    rows = browser.clipRows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1], late);
    // The highlight follows the selection from anywhere.
    store.setSelectedID(a1);
    EXPECT_TRUE(rows[0]->highlighted());
    EXPECT_FALSE(rows[1]->highlighted());
}

TEST_F(BrowserTest, ClickSelectsAndDoubleClickOpensTheWaveformEditor) {
    const Uuid lane = ws.addLane("A");
    ws.addClip("one", lane, 0.0);
    const Uuid two = ws.addClip("two", lane, 2.0);
    store.setEditorMode(EditorMode::multitrack);
    WorkspaceBrowser browser(store, nullptr);
    browser.resize(184, 400);
    browser.show();
    pump();
    browser::Row* row = browser.clipRows()[1];
    store.setSelection(TimeRange{0.5, 1.0});
    QTest::mouseClick(row, Qt::LeftButton, Qt::NoModifier, QPoint(20, 10));
    EXPECT_EQ(store.selectedID(), std::optional<Uuid>(two));
    EXPECT_FALSE(store.selection().has_value());
    EXPECT_EQ(store.editorMode(), EditorMode::multitrack);

    // Both presses of a double click run the click, then the switch follows.
    int clicks = 0;
    QObject::connect(row, &QAbstractButton::clicked, [&] { ++clicks; });
    store.setSelectedID(std::nullopt);
    QTest::mouseClick(row, Qt::LeftButton, Qt::NoModifier, QPoint(20, 10));
    QTest::mouseDClick(row, Qt::LeftButton, Qt::NoModifier, QPoint(20, 10));
    QTest::mouseRelease(row, Qt::LeftButton, Qt::NoModifier, QPoint(20, 10));
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(store.selectedID(), std::optional<Uuid>(two));
    EXPECT_EQ(store.editorMode(), EditorMode::waveform);
}

TEST_F(BrowserTest, CountsUseTheirThreePluralForms) {
    const Uuid lane = ws.addLane("A");
    ws.addClip("c", lane, 0.0, 48000 * 20);
    WorkspaceBrowser browser(store, nullptr);
    browser.setTab(1);
    ws.addMarker("m1", 1.0);
    EXPECT_EQ(browser.countLabel()->text(), QStringLiteral("1 метка"));
    ws.addMarker("m2", 2.0);
    EXPECT_EQ(browser.countLabel()->text(), QStringLiteral("2 метки"));
    for (int i = 3; i <= 5; ++i) ws.addMarker("m", double(i));
    EXPECT_EQ(browser.countLabel()->text(), QStringLiteral("5 меток"));
    browser.setTab(2);
    EXPECT_EQ(browser.countLabel()->text(), QStringLiteral("0 шагов"));
    store.changeLane(Uuid(lane), "one", [](Lane& l) { l.gainDB = -1; });
    EXPECT_EQ(browser.countLabel()->text(), QStringLiteral("1 шаг"));
    store.changeLane(Uuid(lane), "two", [](Lane& l) { l.gainDB = -2; });
    EXPECT_EQ(browser.countLabel()->text(), QStringLiteral("2 шага"));
}

TEST_F(BrowserTest, MarkerRowsGoRenameAndDelete) {
    const Uuid lane = ws.addLane("A");
    ws.addClip("c", lane, 0.0, 48000 * 20);
    const Uuid range = ws.addMarker("range", 4.0, 6.0);
    ws.addMarker("point", 2.0);
    WorkspaceBrowser browser(store, nullptr);
    browser.setTab(1);
    browser.resize(184, 500);
    browser.show();
    QApplication::setActiveWindow(&browser);
    pump();
    auto rows = browser.markerRows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0]->field()->text(), QStringLiteral("point"));
    EXPECT_EQ(rows[1]->goButton()->objectName(), QStringLiteral("bookmark.square.fill"));
    EXPECT_EQ(rows[0]->goButton()->objectName(), QStringLiteral("bookmark.fill"));
    EXPECT_EQ(rows[1]->timeText()->text(), qs(timeLabel(4.0)));

    rows[1]->goButton()->click();
    EXPECT_DOUBLE_EQ(store.cursor(), 4.0);
    ASSERT_TRUE(store.selection().has_value());
    EXPECT_DOUBLE_EQ(store.selection()->upper, 6.0);
    rows[0]->goButton()->click();
    EXPECT_FALSE(store.selection().has_value());

    // Return, then the field loses focus: one undo step.
    QLineEdit* field = rows[1]->field();
    field->setFocus();
    pump();
    field->selectAll();
    QTest::keyClicks(field, QStringLiteral("Intro"));
    const auto before = store.undoNames().size();
    QTest::keyClick(field, Qt::Key_Return);
    QFocusEvent out(QEvent::FocusOut, Qt::OtherFocusReason);
    QApplication::sendEvent(field, &out);
    field->clearFocus();
    pump();
    EXPECT_EQ(store.undoNames().size(), before + 1);
    EXPECT_EQ(store.undoNames().back(), "Название маркера");
    EXPECT_EQ(store.session().markers[1].name, "Intro");

    // Undo brings the old name back into the same row's field.
    store.undo();
    EXPECT_EQ(browser.markerRows()[1], rows[1]);
    EXPECT_EQ(rows[1]->field()->text(), QStringLiteral("range"));

    // A blank name changes nothing and the field keeps what was typed.
    field->setText(QStringLiteral("   "));
    Q_EMIT field->editingFinished();
    EXPECT_EQ(store.session().markers[1].name, "range");
    EXPECT_EQ(field->text(), QStringLiteral("   "));

    rows[0]->deleteButton()->click();
    pump();
    ASSERT_EQ(browser.markerRows().size(), 1u);
    EXPECT_EQ(browser.markerRows()[0]->marker().id, range);
    EXPECT_EQ(store.undoNames().back(), "Удаление маркера");

    // Markers added before, after and between the others: each row keeps its widget, and the rows
    // stand in time order on screen.
    browser::MarkerRow* kept = browser.markerRows()[0];
    ws.addMarker("early", 1.0);
    ws.addMarker("late", 8.0);
    ws.addMarker("middle", 5.0);
    pump();
    rows = browser.markerRows();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[1], kept);
    const char* names[] = {"early", "range", "middle", "late"};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i]->marker().name, names[i]) << i;
        if (i > 0) {
            EXPECT_GT(rows[i]->mapTo(&browser, QPoint()).y(), rows[i - 1]->mapTo(&browser, QPoint()).y()) << i;
        }
    }
    // A marker moved past another changes places with it on screen.
    Session s = store.session();
    s.markers[0].start = 6.0;
    std::stable_sort(s.markers.begin(), s.markers.end(),
                     [](const SessionMarker& a, const SessionMarker& b) { return a.start < b.start; });
    store.setSession(std::move(s));
    pump();
    rows = browser.markerRows();
    EXPECT_EQ(rows[2]->field()->text(), QStringLiteral("early"));
    EXPECT_EQ(rows[1]->marker().name, "middle");
    EXPECT_EQ(rows[2]->timeText()->text(), qs(timeLabel(6.0)));
    EXPECT_GT(rows[2]->mapTo(&browser, QPoint()).y(), rows[1]->mapTo(&browser, QPoint()).y());
    EXPECT_GT(rows[3]->mapTo(&browser, QPoint()).y(), rows[2]->mapTo(&browser, QPoint()).y());
}

// The rows on screen, top to bottom, against the project's markers, through many adds, moves and
// removals at both ends and in the middle; a row keeps its widget while its marker stays, and a
// name being typed keeps its text and the focus while other rows come and go around it.
TEST_F(BrowserTest, ManyMarkerRowsStandInTimeOrderThroughAddsMovesAndRemovals) {
    WorkspaceBrowser browser(store, nullptr);
    browser.setTab(1);
    browser.resize(260, 700);
    browser.show();
    browser.activateWindow();
    const auto shownRows = [&] {
        pump();
        std::vector<browser::MarkerRow*> shown;
        for (auto* r : browser.findChildren<browser::MarkerRow*>())
            if (r->isVisibleTo(&browser)) shown.push_back(r);
        std::sort(shown.begin(), shown.end(), [&](QWidget* a, QWidget* b) {
            return a->mapTo(&browser, QPoint()).y() < b->mapTo(&browser, QPoint()).y();
        });
        return shown;
    };
    std::map<Uuid, browser::MarkerRow*> widgets;
    const auto check = [&](const std::string& step) {
        const auto shown = shownRows();
        const auto& markers = store.session().markers;
        ASSERT_EQ(shown.size(), markers.size()) << step;
        for (std::size_t i = 0; i < shown.size(); ++i) {
            ASSERT_EQ(shown[i]->marker().id, markers[i].id) << step << " row " << i;
            EXPECT_EQ(shown[i]->field()->text(), qs(markers[i].name)) << step << " row " << i;
            if (i > 0) {
                const QWidget* above = shown[i - 1];
                EXPECT_GE(shown[i]->mapTo(&browser, QPoint()).y(), above->mapTo(&browser, QPoint()).y() + above->height())
                    << step << " row " << i;
            }
            if (auto kept = widgets.find(markers[i].id); kept != widgets.end())
                EXPECT_EQ(kept->second, shown[i]) << step << " row " << i;
        }
        EXPECT_EQ(browser.markerRows(), shown) << step;
        widgets.clear();
        for (auto* r : shown) widgets[r->marker().id] = r;
    };
    std::mt19937 random(11);
    const auto replace = [&](auto change) {
        Session s = store.session();
        change(s.markers);
        std::stable_sort(s.markers.begin(), s.markers.end(),
                         [](const SessionMarker& a, const SessionMarker& b) { return a.start < b.start; });
        store.setSession(std::move(s));
    };
    for (int i = 0; i < 80; ++i) ws.addMarker("m" + std::to_string(i), 100.0 + i);
    check("80 in order");
    for (int i = 0; i < 40; ++i) ws.addMarker("first" + std::to_string(i), 99.0 - i);  // each before all
    check("40 before all");
    replace([&](auto& m) { m.erase(m.begin() + 30, m.begin() + 75); });  // whole blocks go
    check("45 from the middle");
    for (int round = 0; round < 40; ++round) {
        replace([&](auto& m) {
            std::uniform_int_distribution<std::size_t> at(0, m.size() - 1);
            switch (round % 4) {
                case 0: m.erase(m.begin() + std::ptrdiff_t(at(random))); break;
                case 1: m[at(random)].start = std::uniform_real_distribution<double>(0.0, 300.0)(random); break;
                case 2: std::swap(m[at(random)].start, m[at(random)].start); break;
                default:
                    for (int k = 0; k < 5; ++k) {
                        SessionMarker added;
                        added.name = "r" + std::to_string(round) + "." + std::to_string(k);
                        added.start = std::uniform_real_distribution<double>(0.0, 300.0)(random);
                        m.push_back(added);
                    }
            }
        });
        check("round " + std::to_string(round));
    }

    // A name being typed: forty rows added above it move it down through other blocks.
    browser::MarkerRow* typing = shownRows()[3];
    const Uuid typed = typing->marker().id;
    typing->field()->setFocus(Qt::MouseFocusReason);
    pump();
    ASSERT_TRUE(typing->field()->hasFocus());
    typing->field()->setText(QStringLiteral("Typed"));
    const std::size_t steps = store.undoNames().size();
    for (int i = 0; i < 40; ++i) ws.addMarker("above" + std::to_string(i), -1.0 - i);
    pump();
    EXPECT_EQ(QApplication::focusWidget(), typing->field());
    EXPECT_EQ(typing->field()->text(), QStringLiteral("Typed"));
    EXPECT_EQ(store.undoNames().size(), steps);  // nothing committed while it moved
    Q_EMIT typing->field()->editingFinished();
    const auto& markers = store.session().markers;
    const auto renamed = std::find_if(markers.begin(), markers.end(), [&](const SessionMarker& m) { return m.id == typed; });
    ASSERT_NE(renamed, markers.end());
    EXPECT_EQ(renamed->name, "Typed");
    widgets.clear();
    check("after typing");
    // All gone: no row is left, and the empty text shows.
    replace([](auto& m) { m.clear(); });
    check("none");
    for (QWidget* block : browser.findChildren<QWidget*>(QStringLiteral("markerBlock"))) EXPECT_FALSE(block->isVisible());
    EXPECT_FALSE(browser.emptyLabel(1)->isHidden());
    // One marker again: its row stands at the top of the page.
    ws.addMarker("alone", 3.0);
    const auto alone = shownRows();
    ASSERT_EQ(alone.size(), 1u);
    EXPECT_LT(alone[0]->mapTo(&browser, QPoint()).y(), browser.height() / 4);
}

TEST_F(BrowserTest, HistoryJumps) {
    const Uuid lane = ws.addLane("A");
    WorkspaceBrowser browser(store, nullptr);
    browser.setTab(2);
    EXPECT_FALSE(browser.initialRow()->isEnabled());
    EXPECT_FALSE(browser.footerButton(2, 0)->isEnabled());
    for (const char* name : {"first", "second", "third"})
        store.changeLane(Uuid(lane), name, [](Lane& l) { l.gainDB -= 1; });
    EXPECT_TRUE(browser.initialRow()->isEnabled());
    auto rows = browser.historyRows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[2]->text(), QStringLiteral("third"));
    EXPECT_EQ(rows[2]->symbol(), QStringLiteral("checkmark.circle.fill"));
    EXPECT_EQ(rows[0]->symbol(), QStringLiteral("circle"));

    // The current step does nothing.
    rows[2]->click();
    EXPECT_EQ(store.undoNames().size(), 3u);

    // "first": two undos.
    rows[0]->click();
    pump();
    EXPECT_EQ(store.undoNames(), std::vector<std::string>{"first"});
    rows = browser.historyRows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0]->symbol(), QStringLiteral("checkmark.circle.fill"));
    EXPECT_EQ(rows[1]->text(), QStringLiteral("second"));
    EXPECT_EQ(rows[1]->symbol(), QStringLiteral("arrow.uturn.forward"));
    EXPECT_EQ(rows[2]->text(), QStringLiteral("third"));
    EXPECT_EQ(store.status(), L("Отменено: {0}", "second"));

    // "third" (a redo row): two redos.
    rows[2]->click();
    pump();
    EXPECT_EQ(store.undoNames(), (std::vector<std::string>{"first", "second", "third"}));
    EXPECT_TRUE(store.redoNames().empty());

    EXPECT_EQ(browser.initialRow()->text(), qs(L("Начальное состояние")));
    browser.initialRow()->click();
    pump();
    EXPECT_TRUE(store.undoNames().empty());
    EXPECT_FALSE(browser.initialRow()->isEnabled());
    EXPECT_DOUBLE_EQ(store.session().lanes[0].gainDB, 0.0);

    // Once the limit dropped the oldest steps, the first row names the oldest step still kept:
    // it leads back to the state before that step, not to the project as it was opened.
    for (int i = 1; i <= 13; ++i)
        store.changeLane(Uuid(lane), "step " + std::to_string(i), [](Lane& l) { l.gainDB -= 1; });
    EXPECT_EQ(browser.initialRow()->text(), qs(L("До шага «{0}»", "step 2")));
    browser.initialRow()->click();
    pump();
    EXPECT_TRUE(store.undoNames().empty());
    EXPECT_DOUBLE_EQ(store.session().lanes[0].gainDB, -1.0);
    EXPECT_EQ(browser.initialRow()->text(), qs(L("До шага «{0}»", "step 2")));
}

TEST_F(BrowserTest, LockedColumnTakesNoInputAndHidingStartsOnTheFirstTab) {
    WorkspaceBrowser browser(store, nullptr);
    store.setBusy(true);
    EXPECT_FALSE(browser.isEnabled());
    store.setBusy(false);
    EXPECT_TRUE(browser.isEnabled());
    browser.show();
    browser.setTab(2);
    browser.hide();
    browser.show();
    EXPECT_EQ(browser.tab(), 0);
    EXPECT_EQ(browser.picker()->currentIndex(), 0);
}

}  // namespace
}  // namespace tessoral
