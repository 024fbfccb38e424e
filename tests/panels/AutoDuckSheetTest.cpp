// The auto-duck sheet over a real store: its two states, the source list, the value rows and
// what "Приглушить" hands to the store.

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

#include <gtest/gtest.h>

#include "ProcessingPanelsSupport.h"
#include "model/Localization.h"
#include "panels/AutoDuckSheet.h"

using namespace tessoral;
using namespace tessoral::test;
using panels::AutoDuckSheet;

namespace {

class AutoDuckSheetTest : public ::testing::Test {
protected:
    PanelsFixture p;
    StudioStore& store = *p.store;
    Uuid music = p.addRow("Музыка");
    Uuid voice = p.addRow("Голос");
    Uuid song = p.addClip("Песня", 96000, 0.0, music);
    Uuid talk = p.addClip("Речь", 48000, 0.5, voice);
    Uuid loose = p.addClip("Без ряда", 4800, 0.0, std::nullopt);

    std::unique_ptr<AutoDuckSheet> open() {
        store.setShowAutoDuck(true);
        auto sheet = std::make_unique<AutoDuckSheet>(store);
        sheet->show();
        return sheet;
    }
};

}  // namespace

TEST_F(AutoDuckSheetTest, WithoutAClipOnlyTheMessageAndClose) {
    auto sheet = open();
    EXPECT_TRUE(sheet->emptyPage()->isVisible());
    EXPECT_FALSE(sheet->clipPage()->isVisible());
    EXPECT_FALSE(sheet->duckButton()->isVisible());
    sheet->emptyCloseButton()->click();
    EXPECT_FALSE(store.showAutoDuck());
}

TEST_F(AutoDuckSheetTest, SourcesListEveryOtherClipWithItsRow) {
    store.setSelectedID(song);
    auto sheet = open();
    ASSERT_TRUE(sheet->clipPage()->isVisible());
    EXPECT_EQ(sheet->noteLabel()->text(),
              qs(L("Клип «{0}» будет приглушаться, пока звучит речь. Текущая огибающая громкости будет заменена.",
                   "Песня")));
    QStringList items;
    for (int i = 0; i < sheet->sourcePicker()->count(); ++i) items << sheet->sourcePicker()->itemText(i);
    // The store gives a clip without a row one of its own; the item names whatever row it has.
    const Lane* looseRow = store.session().lane(p.track(loose));
    EXPECT_EQ(items, (QStringList{qs(L("Клипы других дорожек")), QString::fromUtf8("Речь \u00B7 Голос"),
                                  QString::fromUtf8("Без ряда \u00B7 ") + qs(looseRow ? looseRow->name : "")}));

    // The selection moves: the list follows the new target.
    store.setSelectedID(talk);
    EXPECT_EQ(sheet->sourcePicker()->itemText(1), QString::fromUtf8("Песня \u00B7 Музыка"));
}

TEST_F(AutoDuckSheetTest, FirstValuesStepsAndLimits) {
    store.setSelectedID(song);
    auto sheet = open();
    QStringList texts;
    for (QLabel* l : sheet->valueLabels()) texts << l->text();
    EXPECT_EQ(texts, (QStringList{QStringLiteral("-15 dB"), QStringLiteral("-40 dB"), qs(L("{0} мс", "250")),
                                  qs(L("{0} мс", "800")), qs(L("{0} мс", "600"))}));
    QSlider* depth = sheet->sliders()[0];
    depth->setValue(depth->maximum());
    EXPECT_DOUBLE_EQ(sheet->settings().duckDB, -3.0);
    depth->setValue(depth->minimum());
    EXPECT_DOUBLE_EQ(sheet->settings().duckDB, -30.0);
    QSlider* hold = sheet->sliders()[4];
    hold->setValue(hold->value() + 1);
    EXPECT_DOUBLE_EQ(sheet->settings().holdMS, 650.0);
    hold->setValue(hold->maximum());
    EXPECT_DOUBLE_EQ(sheet->settings().holdMS, 2000.0);
    EXPECT_EQ(sheet->valueLabels()[4]->text(), qs(L("{0} мс", "2000")));
    // Nothing reaches the store before "Приглушить".
    EXPECT_TRUE(store.undoNames().empty());

    // A reopened sheet starts from the window's values again.
    auto again = open();
    EXPECT_EQ(again->settings(), AutoDuckSheet::initialSettings());
    EXPECT_FALSE(again->voiceID());
}

TEST_F(AutoDuckSheetTest, DuckClosesFirstEvenWhenTheStoreRefuses) {
    // The speech sits on the target's own row: with the default source nothing qualifies.
    Session s = store.session();
    s.track(talk)->laneID = music;
    s.tracks.pop_back();
    store.setSession(s);
    store.setSelectedID(song);
    auto sheet = open();
    EXPECT_FALSE(sheet->voiceID());
    sheet->duckButton()->click();
    EXPECT_FALSE(store.showAutoDuck());
    ASSERT_TRUE(store.error());
    EXPECT_EQ(*store.error(), L("Нет дорожек с речью для автоприглушения."));

    // The same clip chosen by name is one explicit id: the command takes it.
    store.setError(std::nullopt);
    auto chosen = open();
    chosen->sourcePicker()->activated(1);
    ASSERT_TRUE(chosen->voiceID());
    EXPECT_EQ(*chosen->voiceID(), talk);
    chosen->duckButton()->click();
    EXPECT_FALSE(store.showAutoDuck());
    EXPECT_FALSE(store.error());
    EXPECT_TRUE(store.busy());
    p.fx.settle();
    EXPECT_FALSE(store.busy());
}
