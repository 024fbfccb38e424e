#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include "panels/Mixer.h"
#include "store/TransportSignals.h"
#include "panels/WorkspaceTestSupport.h"
#include "widgets/MeterView.h"
#include "widgets/ToolButton.h"
#include "widgets/ValueSlider.h"

namespace tessoral {
namespace {

using test::pump;
using test::qs;

// A whole fader gesture as the slider reports it: press, moves, release.
void drag(MixerFader* fader, double dB) {
    QSlider* slider = static_cast<QSlider*>(fader->slider());
    slider->setSliderDown(true);
    slider->setValue(int(std::lround(dB * 100)));
    slider->setSliderDown(false);
}

struct MixerTest : ::testing::Test {
    test::WorkspaceStore ws;
    StudioStore& store = *ws.store;
    TransportSignals transport{store.transport()};
};

TEST_F(MixerTest, WithoutRowsOnlyTheMasterStripShows) {
    MixerWorkspace mixer(store, &transport);
    EXPECT_TRUE(mixer.strips().empty());
    ASSERT_NE(mixer.masterStrip(), nullptr);
    EXPECT_EQ(mixer.masterFader()->readout()->text(), QStringLiteral("+0.0 dB"));
}

TEST_F(MixerTest, StripsFollowTheRowsInPlace) {
    const Uuid a = ws.addLane("Vocals");
    const Uuid b = ws.addLane("Drums");
    MixerWorkspace mixer(store, &transport);
    ASSERT_EQ(mixer.strips().size(), 2u);
    MixerStrip* first = mixer.strip(a);
    ws.store->changeLane(Uuid(a), "rename", [](Lane& l) { l.name = "Lead"; });
    EXPECT_EQ(mixer.strip(a), first);  // the same strip, updated
    EXPECT_EQ(first->nameButton()->text(), QStringLiteral("Lead"));
    Session s = store.session();
    s.moveLane(b, 0);
    store.setSession(std::move(s));
    EXPECT_EQ(mixer.strips().front(), mixer.strip(b));
    EXPECT_EQ(mixer.strips().back(), first);
}

TEST_F(MixerTest, AFaderGestureIsOneUndoStepAndUndoMovesItBack) {
    const Uuid lane = ws.addLane("Vocals");
    MixerWorkspace mixer(store, &transport);
    MixerFader* fader = mixer.strip(lane)->fader();
    const auto before = store.undoNames().size();
    drag(fader, -12.0);
    ASSERT_EQ(store.undoNames().size(), before + 1);
    EXPECT_EQ(store.undoNames().back(), "Громкость дорожки");
    EXPECT_DOUBLE_EQ(store.session().lanes[0].gainDB, -12.0);
    EXPECT_EQ(fader->readout()->text(), QStringLiteral("-12.0 dB"));
    store.undo();
    EXPECT_DOUBLE_EQ(fader->draft(), 0.0);
    EXPECT_EQ(fader->readout()->text(), QStringLiteral("+0.0 dB"));
    for (int i = 0; i < 2; ++i) QTest::keyClick(fader->slider(), Qt::Key_Down);  // one more, by keys
    fader->slider()->endKeyBurst();
    EXPECT_DOUBLE_EQ(store.session().lanes[0].gainDB, -0.2);
    QTest::keyClick(fader->slider(), Qt::Key_PageUp);  // a page is 1 dB
    ValueSliderTrack::endOpenBursts();
    EXPECT_DOUBLE_EQ(store.session().lanes[0].gainDB, 0.8);
    // Two turns of the wheel once the fader has the focus: one step, three tenths a turn, as shown.
    mixer.show(), mixer.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&mixer));
    QWheelEvent turn(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                     Qt::NoScrollPhase, false);
    QApplication::sendEvent(fader->slider(), &turn);  // passing over it: the view around scrolls
    fader->slider()->setFocus(Qt::TabFocusReason);
    for (int i = 0; i < 2; ++i) QApplication::sendEvent(fader->slider(), &turn);
    ASSERT_TRUE(QTest::qWaitFor([&] { return store.undoNames().size() == before + 3; }, 20000));
    EXPECT_NEAR(store.session().lanes[0].gainDB, 1.4, 1e-9);
    EXPECT_EQ(fader->readout()->text(), QStringLiteral("+1.4 dB"));
    // A turn while the thumb is held belongs to the drag: one step when it is let go.
    fader->slider()->setSliderDown(true);
    QApplication::sendEvent(fader->slider(), &turn);
    fader->slider()->setSliderDown(false);
    EXPECT_FALSE(fader->slider()->burstIdle().isActive());
    EXPECT_EQ(store.undoNames().size(), before + 4);
}

TEST_F(MixerTest, ZeroButtonCommitsAtOnceEvenAtZero) {
    const Uuid lane = ws.addLane("Vocals");
    store.changeLane(Uuid(lane), "set", [](Lane& l) { l.gainDB = -6.0; });
    MixerWorkspace mixer(store, &transport);
    MixerFader* fader = mixer.strip(lane)->fader();
    EXPECT_EQ(fader->readout()->text(), QStringLiteral("-6.0 dB"));
    const auto before = store.undoNames().size();
    fader->zeroButton()->click();
    EXPECT_EQ(store.undoNames().size(), before + 1);
    EXPECT_DOUBLE_EQ(store.session().lanes[0].gainDB, 0.0);
    fader->zeroButton()->click();
    EXPECT_EQ(store.undoNames().size(), before + 2);
    EXPECT_EQ(store.undoNames().back(), "Громкость дорожки");
}

TEST_F(MixerTest, PanTexts) {
    EXPECT_EQ(MixerStrip::panText(0.0), qs(L("Центр")));
    EXPECT_EQ(MixerStrip::panText(0.004), QStringLiteral("R 0%"));
    EXPECT_EQ(MixerStrip::panText(-1.0), QStringLiteral("L 100%"));
    EXPECT_EQ(MixerStrip::panText(-0.25), QStringLiteral("L 25%"));
    const Uuid lane = ws.addLane("Vocals");
    MixerWorkspace mixer(store, &transport);
    store.changeLane(Uuid(lane), "pan", [](Lane& l) { l.pan = 0.004; });
    EXPECT_EQ(mixer.strip(lane)->panLabel()->text(), QStringLiteral("R 0%"));
}

TEST_F(MixerTest, EffectsButtonOpensTheEarliestClipsRack) {
    const Uuid lane = ws.addLane("Vocals");
    ws.addClip("late", lane, 5.0);
    const Uuid early = ws.addClip("early", lane, 1.0);
    const Uuid empty = ws.addLane("Empty");
    store.setShowInspector(false);
    store.setInspectorTab(2);
    store.setSelectedID(std::nullopt);
    MixerWorkspace mixer(store, &transport);
    QPushButton* fx = mixer.strip(lane)->effectsButton();
    EXPECT_EQ(fx->text(), qs(L("FX · {0}", LP(2, "{0} клип|{0} клипа|{0} клипов"))));
    EXPECT_FALSE(mixer.strip(empty)->effectsButton()->isEnabled());
    fx->click();
    EXPECT_EQ(store.selectedID(), std::optional<Uuid>(early));
    EXPECT_EQ(store.selectedLaneID(), std::optional<Uuid>(lane));
    EXPECT_TRUE(store.showInspector());
    EXPECT_EQ(store.inspectorTab(), 0);
}

TEST_F(MixerTest, MuteAndSoloAreOneStepEach) {
    const Uuid lane = ws.addLane("Vocals");
    MixerWorkspace mixer(store, &transport);
    MixerStrip* strip = mixer.strip(lane);
    strip->muteButton()->click();
    EXPECT_TRUE(store.session().lanes[0].muted);
    EXPECT_TRUE(strip->muteButton()->active());
    strip->soloButton()->click();
    EXPECT_TRUE(store.session().lanes[0].solo);
    const auto& undo = store.undoNames();
    ASSERT_GE(undo.size(), 2u);
    EXPECT_EQ(undo[undo.size() - 2], "Выключение дорожки");
    EXPECT_EQ(undo.back(), "Соло");
}

TEST_F(MixerTest, APanGestureIsOneNamedStep) {
    const Uuid lane = ws.addLane("Vocals");
    MixerWorkspace mixer(store, &transport);
    QSlider* pan = mixer.strip(lane)->panSlider()->slider();
    const auto before = store.undoNames().size();
    pan->setSliderDown(true);
    pan->setValue(pan->minimum() / 2);
    pan->setValue(pan->minimum());
    pan->setSliderDown(false);
    ASSERT_EQ(store.undoNames().size(), before + 1);
    EXPECT_EQ(store.undoNames().back(), "Панорама дорожки");
    EXPECT_DOUBLE_EQ(store.session().lanes[0].pan, -1.0);
}

TEST_F(MixerTest, AssistiveTechnologyTellsTheFadersApartAndReadsAndSetsWhatIsShown) {
    const Uuid lane = ws.addLane("Vocals");
    store.changeLane(Uuid(lane), "set", [](Lane& l) { l.gainDB = -6.0, l.pan = 0.25; });
    MixerWorkspace mixer(store, &transport);
    QAccessibleInterface* fader = QAccessible::queryAccessibleInterface(mixer.strip(lane)->fader()->slider());
    QAccessibleInterface* master = QAccessible::queryAccessibleInterface(mixer.masterFader()->slider());
    QAccessibleInterface* pan = QAccessible::queryAccessibleInterface(mixer.strip(lane)->panSlider()->slider());
    EXPECT_EQ(master->text(QAccessible::Name) + fader->text(QAccessible::Name) + pan->text(QAccessible::Name),
              qs(L("{0}: фейдер громкости", "MASTER") + L("{0}: фейдер громкости", "Vocals") + L("{0}: панорама", "Vocals")));
    // In dB for a fader (−60…+12); a pan shown as "R 25%" is 25.
    EXPECT_EQ(fader->text(QAccessible::Value), QStringLiteral("-6.0 dB"));
    EXPECT_EQ(fader->valueInterface()->minimumValue().toDouble() + fader->valueInterface()->maximumValue().toDouble(), -48.0);
    EXPECT_EQ(pan->text(QAccessible::Value) + pan->valueInterface()->currentValue().toString(), QStringLiteral("R 25%25"));
    // Each set value and each step is one undo step; locked, nothing moves.
    const auto before = store.undoNames().size();
    fader->valueInterface()->setCurrentValue(-12.5);
    for (auto* action : {&QAccessibleActionInterface::increaseAction, &QAccessibleActionInterface::increaseAction,
                         &QAccessibleActionInterface::decreaseAction})
        fader->actionInterface()->doAction((*action)());
    pan->valueInterface()->setCurrentValue(-50.0);
    master->valueInterface()->setCurrentValue(-3.0);
    mixer.strip(lane)->setEnabled(false);  // as while locked
    fader->valueInterface()->setCurrentValue(0.0);
    EXPECT_EQ(store.undoNames().size(), before + 6);
    EXPECT_DOUBLE_EQ(fader->valueInterface()->currentValue().toDouble(), -12.4);
    EXPECT_TRUE(store.session().lanes[0].pan == -0.5 && store.session().masterDB == -3.0);
    // A set while an arrow's step is still open (held, or within the pause after it) counts too,
    // after that step, as a step of its own.
    mixer.strip(lane)->setEnabled(true);
    for (const bool held : {true, false}) {
        const auto keyed = store.undoNames().size();
        QTest::keyPress(mixer.strip(lane)->fader()->slider(), Qt::Key_Up);
        if (!held) QTest::keyRelease(mixer.strip(lane)->fader()->slider(), Qt::Key_Up);
        fader->valueInterface()->setCurrentValue(held ? -20.0 : -30.0);
        if (held) QTest::keyRelease(mixer.strip(lane)->fader()->slider(), Qt::Key_Up);
        EXPECT_EQ(store.undoNames().size(), keyed + 2) << held;
        EXPECT_DOUBLE_EQ(store.session().lanes[0].gainDB, held ? -20.0 : -30.0) << held;
        EXPECT_EQ(fader->text(QAccessible::Value), MixerFader::readoutText(held ? -20.0 : -30.0));
    }
}

// Counts paint events per watched widget.
struct PaintCounter : QObject {
    std::map<QObject*, int> paints;
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Paint) ++paints[o];
        return false;
    }
};

TEST_F(MixerTest, LevelsRepaintOnlyTheMeter) {
    const Uuid lane = ws.addLane("Vocals");
    MixerWorkspace mixer(store, &transport);
    mixer.resize(900, 600);
    mixer.show();
    pump(5);
    PaintCounter counter;
    MixerStrip* strip = mixer.strip(lane);
    for (QObject* w : {static_cast<QObject*>(mixer.meter()), static_cast<QObject*>(strip),
                       static_cast<QObject*>(strip->fader()), static_cast<QObject*>(mixer.masterFader()),
                       static_cast<QObject*>(mixer.masterStrip())})
        w->installEventFilter(&counter);
    for (int i = 0; i < 30; ++i) {
        const float level = 0.1f + 0.02f * float(i);
        Q_EMIT transport.levelsChanged(level, level * 0.5f);
        QApplication::processEvents();
    }
    EXPECT_GE(counter.paints[mixer.meter()], 1);
    EXPECT_EQ(counter.paints[strip], 0);
    EXPECT_EQ(counter.paints[strip->fader()], 0);
    EXPECT_EQ(counter.paints[mixer.masterFader()], 0);
    EXPECT_FLOAT_EQ(mixer.meter()->left(), 0.1f + 0.02f * 29);
}

TEST_F(MixerTest, WhileLockedStripsAndMasterFaderRestButTheMeterFollows) {
    const Uuid lane = ws.addLane("Vocals");
    MixerWorkspace mixer(store, &transport);
    store.setBusy(true);
    EXPECT_FALSE(mixer.strip(lane)->isEnabled());
    EXPECT_FALSE(mixer.masterFader()->isEnabled());
    EXPECT_FALSE(mixer.masterFader()->zeroButton()->isEnabledTo(&mixer));
    EXPECT_TRUE(mixer.masterStrip()->isEnabled());
    EXPECT_TRUE(mixer.meter()->isEnabled());
    Q_EMIT transport.levelsChanged(0.5f, 0.25f);
    EXPECT_FLOAT_EQ(mixer.meter()->left(), 0.5f);

    // A refused commit: the fader shows the stored value again.
    const auto before = store.undoNames().size();
    drag(mixer.masterFader(), -20.0);
    EXPECT_EQ(store.undoNames().size(), before);
    EXPECT_DOUBLE_EQ(store.session().masterDB, 0.0);
    EXPECT_DOUBLE_EQ(mixer.masterFader()->draft(), 0.0);
    EXPECT_EQ(mixer.masterFader()->readout()->text(), QStringLiteral("+0.0 dB"));

    store.setBusy(false);
    EXPECT_TRUE(mixer.masterFader()->isEnabled());
    drag(mixer.masterFader(), -20.0);
    EXPECT_DOUBLE_EQ(store.session().masterDB, -20.0);
    EXPECT_EQ(store.undoNames().back(), "Громкость микса");
}

TEST_F(MixerTest, AFaderDisabledInTheMiddleOfADragEndsTheGestureOnce) {
    const Uuid lane = ws.addLane("Vocals");
    MixerWorkspace mixer(store, &transport);
    MixerFader* fader = mixer.strip(lane)->fader();
    QSlider* slider = static_cast<QSlider*>(fader->slider());
    slider->setSliderDown(true);
    slider->setValue(-300);
    const auto before = store.undoNames().size();
    store.setBusy(true);  // the strip is disabled: the release never comes
    slider->setSliderDown(false);
    store.setBusy(false);
    EXPECT_EQ(store.undoNames().size(), before);  // refused while locked, and only once
    EXPECT_DOUBLE_EQ(fader->draft(), 0.0);
}

}  // namespace
}  // namespace tessoral
