// The essential-sound panel over a real store: its states, the type grid, the cards of each type,
// the option rows' writes and texts, and that showing the store's state writes nothing back.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QScrollArea>
#include <QSlider>
#include <QStackedWidget>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "ProcessingPanelsSupport.h"
#include "model/EssentialSoundChain.h"
#include "model/Localization.h"
#include "panels/EssentialSound.h"
#include "widgets/ToolButton.h"
#include "widgets/ValueSlider.h"

using namespace tessoral;
using namespace tessoral::test;
using panels::EssentialOptionRow;
using panels::EssentialSoundView;

namespace {

class EssentialSoundTest : public ::testing::Test {
protected:
    PanelsFixture p;
    StudioStore& store = *p.store;
    Uuid row = p.addRow("Ряд 1");
    Uuid id = p.addClip("Голос", 48000, 0.0, row);
    EssentialSoundView view{store, nullptr};

    void SetUp() override {
        view.resize(300, 900);
        view.show();
        store.setSelectedID(id);
    }

    // Settings stored on the clip as a project file would bring them (no regeneration).
    void give(const EssentialSound& settings, std::vector<EffectSlot> rack = {}) {
        Session s = store.session();
        s.track(id)->essentialSound = settings;
        s.track(id)->rack = std::move(rack);
        store.setSession(s);
    }
    const EssentialSound& stored() { return *p.track(id).essentialSound; }
    EssentialOptionRow* option(int i) { return view.optionRows()[static_cast<std::size_t>(i)]; }

    QStringList shownCards() {
        QStringList titles;
        for (auto* card : view.cards())
            if (card->isVisible()) titles << card->titleLabel()->text();
        return titles;
    }
};

QString upper(const char* key) { return qs(L(key)).toUpper(); }

}  // namespace

TEST_F(EssentialSoundTest, NoClipThenAClipWithoutSettings) {
    store.setSelectedID(std::nullopt);
    EXPECT_EQ(view.states()->currentIndex(), 0);
    EXPECT_EQ(view.emptyLabel()->text(), qs(L("Клип не выбран")));
    store.setSelectedID(id);
    EXPECT_EQ(view.states()->currentIndex(), 1);
    EXPECT_EQ(view.nameLabel()->text(), QString::fromUtf8("Голос"));
    EXPECT_FALSE(view.resetButton()->isVisible());
    for (auto* b : view.typeButtons()) EXPECT_FALSE(b->highlighted());
    EXPECT_TRUE(view.hintLabel()->isVisible());
    EXPECT_FALSE(view.sectionsArea()->isVisible());
}

TEST_F(EssentialSoundTest, ChoosingATypeShowsItsCardsAndTheSameTypeAgainRecordsNothing) {
    view.typeButtons()[1]->click();  // music
    p.fx.settle();
    ASSERT_TRUE(p.track(id).essentialSound);
    EXPECT_EQ(stored().type, SoundType::music);
    EXPECT_TRUE(view.typeButtons()[1]->highlighted());
    EXPECT_TRUE(view.resetButton()->isVisible());
    EXPECT_EQ(shownCards(), (QStringList{upper("Громкость"), upper("Приглушение")}));

    view.typeButtons()[0]->click();  // dialogue
    p.fx.settle();
    EXPECT_EQ(shownCards(), (QStringList{upper("Громкость"), upper("Восстановление#repair"), upper("Чёткость")}));
    const auto steps = store.undoNames().size();
    view.typeButtons()[0]->click();
    p.fx.settle();
    EXPECT_EQ(store.undoNames().size(), steps);
    EXPECT_EQ(store.undoNames().back(), L("Основной звук: {0}", title(SoundType::dialogue)));

    give(EssentialSound(SoundType::ambience));
    EXPECT_EQ(shownCards(), (QStringList{upper("Громкость"), upper("Творческие"), upper("Приглушение")}));
    EXPECT_EQ(option(7)->checkBox()->toolTip(), qs(L("Большой зал")));
    give(EssentialSound(SoundType::effects));
    EXPECT_EQ(shownCards(), (QStringList{upper("Громкость"), upper("Творческие"), upper("Панорама")}));
    EXPECT_EQ(option(7)->checkBox()->toolTip(), qs(L("Небольшая комната")));

    view.resetButton()->click();
    p.fx.settle();
    EXPECT_FALSE(p.track(id).essentialSound);
    EXPECT_TRUE(view.hintLabel()->isVisible());
}

TEST_F(EssentialSoundTest, CountLineCountsOnlyGeneratedSlotsStillInTheRack) {
    EssentialSound s(SoundType::dialogue);
    std::vector<EffectSlot> rack(5);
    s.slotIDs = {{"denoise", rack[1].id}, {"eq", rack[2].id}, {"dynamics", rack[4].id}, {"hum", Uuid::random()}};
    give(s, rack);
    EXPECT_EQ(view.countLabel()->text(), qs(L("Эффектов панели в цепочке: {0}", 3)));
}

TEST_F(EssentialSoundTest, RowsWriteOneDecimalAndOffKeepsTheAmount) {
    EXPECT_DOUBLE_EQ(EssentialOptionRow::stored(4.26), 4.3);
    EXPECT_DOUBLE_EQ(EssentialOptionRow::stored(4.25), 4.3);
    EXPECT_DOUBLE_EQ(EssentialOptionRow::stored(4.24), 4.2);
    EXPECT_DOUBLE_EQ(EssentialOptionRow::stored(-0.05), -0.1);

    EssentialSound s(SoundType::dialogue);
    s.matchLoudness = false;
    s.reduceNoise = {true, 4.21};
    give(s);
    EssentialOptionRow* noise = option(0);
    ASSERT_TRUE(noise->slider()->isVisible());
    // One key step (+0.1) as a whole gesture: released at 4.31, stored as 4.3.
    QTest::keyClick(noise->slider()->slider(), Qt::Key_Right);
    noise->slider()->slider()->endKeyBurst();
    p.fx.settle();
    EXPECT_DOUBLE_EQ(stored().reduceNoise.amount, 4.3);
    EXPECT_EQ(store.undoNames().back(), L("Основной звук: {0}", L("Уменьшить шум")));

    noise->checkBox()->click();
    p.fx.settle();
    EXPECT_FALSE(stored().reduceNoise.enabled);
    EXPECT_DOUBLE_EQ(stored().reduceNoise.amount, 4.3);
    EXPECT_FALSE(noise->slider()->isVisible());
    noise->checkBox()->click();
    p.fx.settle();
    EXPECT_TRUE(noise->slider()->isVisible());
    EXPECT_DOUBLE_EQ(noise->slider()->value(), 4.3);
    EXPECT_EQ(noise->slider()->displayLabel()->text(), QStringLiteral("4.3"));

    // Matching loudness, each step analyses the clip again: steps taken meanwhile count.
    s.matchLoudness = true;
    give(s);
    ValueSliderTrack* keys = noise->slider()->slider();
    for (int i = 0; i < 2; ++i, keys->endKeyBurst()) QTest::keyClick(keys, Qt::Key_Right);
    QTest::keyClick(keys, Qt::Key_Right);  // still open as both analyses land
    p.fx.settle();
    EXPECT_DOUBLE_EQ(stored().reduceNoise.amount, 4.4);
    keys->endKeyBurst();
    p.fx.settle();
    EXPECT_DOUBLE_EQ(stored().reduceNoise.amount, 4.5);
    // Each analysis lands between two steps: the next goes on from the last one set, not from it.
    for (int i = 0; i < 4; ++i, i > 1 && p.fx.tasks.runNext()) QTest::keyClick(keys, Qt::Key_Right), keys->endKeyBurst();
    // The switch sent meanwhile keeps the amount that waits before it.
    noise->checkBox()->click();
    p.fx.settle();
    EXPECT_TRUE(stored().reduceNoise.amount == 4.9 && !stored().reduceNoise.enabled) << stored().reduceNoise.amount;
}

TEST_F(EssentialSoundTest, EveryChangeMadeDuringAnAnalysisLandsAlsoAtAQuit) {
    EssentialSound s(SoundType::dialogue);
    s.matchLoudness = false;
    s.reduceNoise = {true, 5.0};
    give(s);
    ValueSliderTrack* keys = option(0)->slider()->slider();
    for (bool quit : {false, true}) {
        option(2)->checkBox()->click();  // hum on, its frequency found by an analysis
        ASSERT_TRUE(store.busy());
        for (int i = 0; i < 2; ++i, keys->endKeyBurst()) QTest::keyClick(keys, Qt::Key_Right);
        QTest::keyClick(option(3)->checkBox(), Qt::Key_Space);  // the panel's own change: not refused
        for (const std::function<void()>& refused : std::vector<std::function<void()>>{
                 [&] { QTest::keyClick(option(0)->slider(), Qt::Key_Z, Qt::ControlModifier); },
                 [&] { QTest::keyClick(&view, Qt::Key_Space); }, [&] { view.close(), view.show(); }}) {
            EXPECT_EQ(store.status(), L("Основной звук: анализ дорожки…"));
            QSignalSpy said(&store, &StudioStore::statusChanged);
            refused();
            EXPECT_EQ(said.count(), 1);  // once, though every receiver up the parent chain sees the press
            EXPECT_EQ(store.status(), L("Дождитесь конца анализа дорожки: до тех пор воспроизведение, отмена и сохранение недоступны"));
            store.setStatus(L("Основной звук: анализ дорожки…"));
        }
        if (quit) store.writeRecoveryBeforeQuit();
        p.fx.settle();
        EXPECT_EQ(stored().humFrequency.has_value(), !quit);
        EXPECT_TRUE(stored().removeHum.enabled && stored().deess.enabled);
        EXPECT_DOUBLE_EQ(stored().reduceNoise.amount, 5.2);
        give(s);
    }
}

TEST_F(EssentialSoundTest, PanoramaTextsAndItsOneDecimalWrite) {
    EXPECT_EQ(EssentialOptionRow::panoramaText(0.0), qs(L("Центр")));
    EXPECT_EQ(EssentialOptionRow::panoramaText(-10.0), qs(L("Л")) + QStringLiteral(" 10"));
    EXPECT_EQ(EssentialOptionRow::panoramaText(2.4), qs(L("П")) + QStringLiteral(" 2"));
    EXPECT_EQ(EssentialOptionRow::panoramaText(0.3), qs(L("П")) + QStringLiteral(" 0"));
    EXPECT_EQ(EssentialOptionRow::panoramaText(7.6), qs(L("П")) + QStringLiteral(" 8"));

    EssentialSound s(SoundType::effects);
    s.matchLoudness = false;
    s.panorama = {true, 0.14};
    give(s);
    EssentialOptionRow* pan = option(8);
    QTest::keyClick(pan->slider()->slider(), Qt::Key_Left);
    pan->slider()->slider()->endKeyBurst();
    p.fx.settle();
    EXPECT_DOUBLE_EQ(stored().panorama.amount, -0.1);
    EXPECT_EQ(pan->slider()->displayLabel()->text(), qs(L("Л")) + QStringLiteral(" 0"));
}

TEST_F(EssentialSoundTest, HumTitlePresetPickerTargetsAndGain) {
    EssentialSound s(SoundType::dialogue);
    s.targetLUFS = -14.0;
    give(s);
    EXPECT_EQ(option(2)->checkBox()->text(), qs(L("Убрать фон сети")));
    s.humFrequency = 60;
    give(s);
    EXPECT_EQ(option(2)->checkBox()->text(), qs(L("Убрать фон сети · {0} Гц", 60)));

    EXPECT_EQ(view.targetPicker()->currentIndex(), 3);
    EXPECT_EQ(view.targetPicker()->currentText(), QStringLiteral("-14 LUFS"));
    EXPECT_TRUE(view.gainLabel()->text().endsWith(QStringLiteral(" +0.0\u00A0dB")));
    Session session = store.session();
    session.track(id)->gainDB = -3.5;
    store.setSession(session);
    EXPECT_EQ(view.gainLabel()->text(), qs(L("Громкость клипа {0} dB", "-3.5")).replace(" dB", "\u00A0dB"));

    // A target from elsewhere shows no item and is never written back.
    s.targetLUFS = -18.0;
    give(s);
    EXPECT_EQ(view.targetPicker()->currentIndex(), -1);
    EXPECT_DOUBLE_EQ(stored().targetLUFS, -18.0);

    EXPECT_FALSE(view.presetRow()->isVisible());
    s.eq = {true, 5.0};
    s.eqPreset = DialogueEQ::telephone;
    give(s);
    EXPECT_TRUE(view.presetRow()->isVisible());
    EXPECT_EQ(view.presetPicker()->currentIndex(), 3);

    view.matchCheck()->click();
    p.fx.settle();
    EXPECT_FALSE(stored().matchLoudness);
    EXPECT_FALSE(view.targetRow()->isVisible());
    EXPECT_FALSE(view.gainRow()->isVisible());
    EXPECT_EQ(store.undoNames().back(), L("Основной звук: {0}", L("автосовпадение")));
}

TEST_F(EssentialSoundTest, DuckingWritesItsUndoName) {
    EssentialSound s(SoundType::music);
    s.matchLoudness = false;
    give(s);
    view.duckingCheck()->click();
    p.fx.settle();
    EXPECT_TRUE(stored().duckUnderDialogue);
    EXPECT_EQ(store.undoNames().back(), L("Основной звук: {0}", L("приглушение")));
}

TEST_F(EssentialSoundTest, ARefreshWritesNothing) {
    EssentialSound s(SoundType::dialogue);
    s.reduceNoise = {true, 3.0};
    s.eq = {true, 2.0};
    s.targetLUFS = -21.0;
    give(s);
    store.setSelectedID(std::nullopt);
    store.setSelectedID(id);
    store.setSession(store.session());
    store.setBusy(true);
    store.setBusy(false);
    EXPECT_EQ(view.writes(), 0);
    EXPECT_TRUE(store.undoNames().empty());
    EXPECT_EQ(stored(), s);
}

TEST_F(EssentialSoundTest, EveryControlIsOffWhileBusy) {
    give(EssentialSound(SoundType::dialogue));
    option(2)->checkBox()->click();  // the panel's own analysis ends before other work locks the project
    p.fx.settle();
    store.setBusy(true);
    EXPECT_FALSE(view.isEnabled());
    const std::string said = store.status();
    QTest::keyClick(&view, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(store.status(), said);
    EXPECT_FALSE(view.typeButtons()[0]->isEnabled());
    EXPECT_FALSE(view.resetButton()->isEnabled());
    EXPECT_FALSE(view.matchCheck()->isEnabled());
    store.setBusy(false);
    EXPECT_TRUE(view.matchCheck()->isEnabled());
}
