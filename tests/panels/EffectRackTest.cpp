// The rack panel over a real store: rows and numbering, the footer, one undo step per control, the
// wet slider's draft, and a popover that follows its slot.

#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <algorithm>

#include <gtest/gtest.h>

#include "EffectPanelsSupport.h"
#include "model/NumberFormat.h"
#include "panels/EffectEditor.h"
#include "panels/EffectRack.h"
#include "panels/PanelSupport.h"
#include "widgets/Palette.h"
#include "widgets/ToolButton.h"
#include "widgets/ValueSlider.h"

namespace tessoral {
namespace {

using test::qs;

class Rack : public ::testing::Test {
protected:
    test::EffectStore s;
    std::unique_ptr<EffectsRackView> rack = std::make_unique<EffectsRackView>(*s.store, nullptr);

    void SetUp() override {
        rack->resize(300, 900);
        rack->show();
    }
    static EffectSlot slot(EffectPreset p, bool enabled = true) {
        EffectSlot e(p);
        e.enabled = enabled;
        return e;
    }
    QStringList slotNumbers() const {
        QStringList out;
        for (auto* row : rack->slotRows()) out << row->numberLabel()->text();
        return out;
    }
    QAction* addAction(int position, EffectPreset preset) const {
        for (QAction* a : rack->addMenu(position)->actions())
            if (a->text() == qs(title(preset))) return a;
        return nullptr;
    }
};

TEST_F(Rack, WithoutAClipOnlyTheTitleAndTheNote) {
    EXPECT_TRUE(rack->emptyText()->isVisible());
    EXPECT_EQ(rack->emptyText()->text(), qs("Клип не выбран"));
    EXPECT_FALSE(rack->favoritesButton()->isVisible());
    EXPECT_FALSE(rack->chainPower()->isVisible());
}

TEST_F(Rack, AnEmptyRackHasEightAddRowsAndNothingToApply) {
    s.addClip("Голос");
    EXPECT_FALSE(rack->emptyText()->isVisible());
    EXPECT_EQ(rack->addRowNumbers(), (QStringList{"01", "02", "03", "04", "05", "06", "07", "08"}));
    EXPECT_EQ(rack->countText()->text(), qs("0 / 0 активно"));
    EXPECT_EQ(rack->badge()->text(), QStringLiteral("PRE-FADER"));
    EXPECT_FALSE(rack->applyButton()->isEnabled());
    rack->favoritesMenu()->aboutToShow();
    const auto actions = rack->favoritesMenu()->actions();
    ASSERT_EQ(actions.size(), 4);  // save, divider, manage, batch
    EXPECT_EQ(actions[0]->text(), qs("Сохранить цепочку в избранное…"));
    EXPECT_FALSE(actions[0]->isEnabled());
    EXPECT_TRUE(actions[1]->isSeparator());
}

// Every "Add Effect" row draws from its own state: after a clip with five slots, the empty rack of
// another clip shows its eight rows alike, in their places, none with a button frame left from the
// slots before.
TEST_F(Rack, AddRowsLookAlikeAfterAClipWithSlots) {
    const Uuid full = s.addClip("Голос", {slot(EffectPreset::voice), slot(EffectPreset::compressor), slot(EffectPreset::limiter),
                                          slot(EffectPreset::deesser), slot(EffectPreset::reverb)});
    const Uuid empty = s.addClip("Мелодия", {}, false);
    QApplication::processEvents();
    // From the full rack to the empty one, directly and through no selection (a click that first
    // clears the selection, then picks the other clip).
    for (const std::optional<Uuid>& id : {std::optional<Uuid>(full), std::optional<Uuid>(empty), std::optional<Uuid>(full),
                                          std::optional<Uuid>(), std::optional<Uuid>(empty)}) {
        s.store->setSelectedID(id);
        QApplication::processEvents();
    }
    ASSERT_EQ(rack->addRowNumbers().size(), 8);
    // The other clip's slots are gone from the list, even before their widgets are deleted.
    for (RackSlotView* row : rack->findChildren<RackSlotView*>()) EXPECT_FALSE(row->isVisible());
    const auto buttons = rack->findChildren<QToolButton*>(QStringLiteral("addEffect"));
    ASSERT_EQ(buttons.size(), 8);
    // Row 01's menu adds an effect: the row goes while its menu is open.
    QTimer::singleShot(0, [] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            QTest::keyClick(menu, Qt::Key_Down);
            QTest::keyClick(menu, Qt::Key_Return);
        }
    });
    QTest::mouseClick(buttons.front(), Qt::LeftButton);
    ASSERT_EQ(s.store->session().tracks[1].rack.size(), 1u);
    EXPECT_FALSE(buttons.front()->isVisible());
    // On X11 the row never hears the pointer leave and keeps the mark of it (the offscreen platform
    // clears that); another clip's empty rack shows the row without the frame.
    buttons.front()->setAttribute(Qt::WA_UnderMouse, true);
    s.store->setSelectedID(s.addClip("Шум", {}, false));
    QApplication::processEvents();
    const QImage image = rack->grab().toImage().convertToFormat(QImage::Format_RGB32);
    auto area = [&](QToolButton* b) {
        return image.copy(QRect(b->mapTo(rack.get(), QPoint(0, 0)), b->size()).adjusted(-4, -4, 4, 4));
    };
    const QImage last = area(buttons.back());
    for (QToolButton* b : buttons) {
        EXPECT_TRUE(b->isVisible());
        EXPECT_TRUE(area(b) == last) << "row at y " << b->mapTo(rack.get(), QPoint(0, 0)).y() << " differs from row 08";
    }
}

// The clip line: the colour dot stands apart from the name (the line's spacing, measured on the
// pixels between the dot and the name's first ink).
TEST_F(Rack, TheColourDotStandsApartFromTheClipName) {
    s.addClip("Мелодия");
    QApplication::processEvents();
    const QImage image = rack->grab().toImage();
    const QRect line = rack->clipName()->geometry().translated(rack->clipName()->parentWidget()->mapTo(rack.get(), QPoint(0, 0)));
    const QColor dot = Palette::track(s.store->session().tracks.front().color);
    const QColor ground = image.pixelColor(2, line.center().y());
    int dotRight = -1;
    int inkLeft = -1;
    for (int x = 0; x < image.width() && inkLeft < 0; ++x)
        for (int y = line.top(); y <= line.bottom(); ++y) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - dot.red()) + std::abs(c.green() - dot.green()) + std::abs(c.blue() - dot.blue()) < 30) {
                dotRight = x;
            } else if (dotRight >= 0 && x > dotRight && std::max({c.red(), c.green(), c.blue()}) - std::min({c.red(), c.green(), c.blue()}) < 25 &&
                       c.value() - ground.value() > 60) {  // the name's grey ink, not the dot's soft edge
                inkLeft = x;
                break;
            }
        }
    ASSERT_GE(dotRight, 0) << "no dot";
    ASSERT_GT(inkLeft, dotRight) << "no name";
    EXPECT_GE(inkLeft - dotRight - 1, 6);
}

TEST_F(Rack, ThreeSlotsOneOffAndTheBypassBadge) {
    const Uuid id = s.addClip("Голос", {slot(EffectPreset::voice), slot(EffectPreset::compressor, false),
                                        slot(EffectPreset::limiter)});
    EXPECT_EQ(slotNumbers(), (QStringList{"01", "02", "03"}));
    EXPECT_EQ(rack->addRowNumbers(), (QStringList{"04", "05", "06", "07", "08"}));
    EXPECT_EQ(rack->countText()->text(), qs("2 / 3 активно"));
    EXPECT_FALSE(rack->slotRows()[1]->powerButton()->property("lit").toBool());
    EXPECT_TRUE(rack->applyButton()->isEnabled());
    EXPECT_TRUE(rack->chainPower()->active());

    rack->chainPower()->click();
    EXPECT_TRUE(s.track(id).rackBypassed);
    EXPECT_EQ(s.undo().back(), "Обход эффектов");
    EXPECT_EQ(rack->badge()->text(), QStringLiteral("BYPASS"));
    EXPECT_EQ(rack->badge()->palette().color(QPalette::WindowText), panels::orange());
    EXPECT_FALSE(rack->chainPower()->active());
    EXPECT_FALSE(rack->applyButton()->isEnabled());
    EXPECT_TRUE(rack->slotRows()[0]->wetSlider()->isEnabled());
}

TEST_F(Rack, UpAndDownFollowThePlace) {
    s.addClip("Голос", {slot(EffectPreset::voice), slot(EffectPreset::warm)});
    auto rows = rack->slotRows();
    EXPECT_FALSE(rows[0]->upButton()->isEnabled());
    EXPECT_TRUE(rows[0]->downButton()->isEnabled());
    EXPECT_TRUE(rows[1]->upButton()->isEnabled());
    EXPECT_FALSE(rows[1]->downButton()->isEnabled());
}

TEST_F(Rack, AddingFromRowFiveOfTwoAppendsSlotThree) {
    const Uuid id = s.addClip("Голос", {slot(EffectPreset::voice), slot(EffectPreset::warm)});
    // The menu's first entries are the two equalisers, then a divider.
    const auto actions = rack->addMenu(4)->actions();
    EXPECT_EQ(actions[0]->text(), qs(title(EffectPreset::parametricEQ)));
    EXPECT_EQ(actions[1]->text(), qs(title(EffectPreset::graphicEQ)));
    EXPECT_TRUE(actions[2]->isSeparator());
    addAction(4, EffectPreset::echo)->trigger();
    ASSERT_EQ(s.track(id).rack.size(), 3u);
    EXPECT_EQ(s.track(id).rack[2].preset, EffectPreset::echo);
    EXPECT_EQ(slotNumbers().back(), QStringLiteral("03"));
    EXPECT_EQ(rack->addRowNumbers().front(), QStringLiteral("04"));
}

TEST_F(Rack, TheWetSliderShowsTheStoredValueUntilRelease) {
    const Uuid id = s.addClip("Голос", {slot(EffectPreset::voice)});
    s.store->playPause();
    s.fx.tasks.runAll();  // the mix is rendered on a worker
    ASSERT_TRUE(s.store->transport().playing());
    auto* row = rack->slotRows()[0];
    EXPECT_EQ(row->wetSlider()->displayLabel()->text(), QStringLiteral("100%"));
    EXPECT_EQ(row->wetSlider()->spokenValue(), 100.0);  // a screen reader speaks the percent shown
    test::dragThumb(row->wetSlider()->slider(), 0.4, [&] {
        EXPECT_FALSE(s.store->transport().playing());  // stopped at the press
        EXPECT_EQ(row->wetSlider()->displayLabel()->text(), QStringLiteral("100%"));
        EXPECT_TRUE(s.undo().empty());
    });
    ASSERT_EQ(s.undo().size(), 1u);
    EXPECT_EQ(s.undo().back(), "Настройка эффекта");
    EXPECT_NEAR(s.track(id).rack[0].wet, 0.4, 0.02);
    EXPECT_EQ(row->wetSlider()->displayLabel()->text(),
              qs(num::fixed(s.track(id).rack[0].wet * 100, 0) + "%"));
}

TEST_F(Rack, ThePresetPickerRecordsOnlyAnotherPreset) {
    EffectSlot c = slot(EffectPreset::compressor);
    c.params = {{"threshold", -30}};
    c.wet = 0.5;
    const Uuid id = s.addClip("Голос", {c});
    auto* row = rack->slotRows()[0];
    EXPECT_TRUE(row->parametersButton()->property("lit").toBool());
    auto* box = row->presetBox();
    Q_EMIT box->activated(box->findData(static_cast<int>(EffectPreset::compressor)));
    EXPECT_TRUE(s.undo().empty());
    box->setCurrentIndex(box->findData(static_cast<int>(EffectPreset::limiter)));
    Q_EMIT box->activated(box->currentIndex());
    ASSERT_EQ(s.undo().size(), 1u);
    const EffectSlot& now = s.track(id).rack[0];
    EXPECT_EQ(now.preset, EffectPreset::limiter);
    EXPECT_TRUE(now.params.empty());
    EXPECT_DOUBLE_EQ(now.wet, 0.5);
    EXPECT_FALSE(row->parametersButton()->property("lit").toBool());
}

TEST_F(Rack, AnOpenPopoverSurvivesAMoveAndClosesWithItsSlot) {
    const Uuid id = s.addClip("Голос", {slot(EffectPreset::voice), slot(EffectPreset::compressor)});
    const Uuid moved = s.track(id).rack[1].id;
    RackSlotView* row = rack->slotRow(moved);
    row->openEditor();
    test::pump();
    ASSERT_TRUE(row->editing());
    QPointer<panels::Popover> popover = row->popover();
    ASSERT_TRUE(popover && popover->isVisible());
    row->upButton()->click();
    EXPECT_EQ(s.undo().back(), "Порядок эффектов");
    EXPECT_EQ(rack->slotRows().front(), row);  // the same row, moved
    EXPECT_EQ(row->numberLabel()->text(), QStringLiteral("01"));
    EXPECT_TRUE(popover && popover->isVisible());
    EXPECT_TRUE(row->editing());

    row->deleteButton()->click();
    EXPECT_EQ(s.undo().back(), "Удаление эффекта");
    EXPECT_FALSE(popover && popover->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(popover);
    EXPECT_EQ(rack->slotRows().size(), 1u);
}

TEST_F(Rack, ClosingThePopoverClearsTheFlag) {
    s.addClip("Голос", {slot(EffectPreset::voice)});
    RackSlotView* row = rack->slotRows()[0];
    row->openEditor();
    ASSERT_TRUE(row->editing());
    row->popover()->hide();
    EXPECT_FALSE(row->editing());
}

TEST_F(Rack, ALongOperationDisablesThePanel) {
    s.addClip("Голос", {slot(EffectPreset::voice)});
    EXPECT_TRUE(rack->isEnabled());
    s.store->flattenRack();
    ASSERT_TRUE(s.store->busy());
    EXPECT_FALSE(rack->isEnabled());
    s.fx.settle();
    EXPECT_TRUE(rack->isEnabled());
    EXPECT_EQ(s.undo().back(), "Применение цепочки");
}

}  // namespace
}  // namespace tessoral
