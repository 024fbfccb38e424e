// Live fade and envelope editing (one undo step per gesture) and the fade and envelope commands.

#include "ClipTestSupport.h"
#include "model/Limits.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

class StoreEnvelopes : public ClipStoreTest {
protected:
    Uuid id;
    void SetUp() override { id = addClip(makeRows(1)[0], 1.0, 4 * 48000); }  // 4 s
    const Envelope& volume() { return track(id).volumeEnvelope; }
};

}  // namespace

TEST_F(StoreEnvelopes, OneBeginAndFiftyLiveStepsAreOneUndoEntry) {
    Session s = store->session();
    s.tracks[0].fadeOut = 1.0;
    store->setSession(std::move(s));

    play();
    store->beginAutomationEdit(L("Нарастание"));
    EXPECT_FALSE(store->transport().playing());
    const std::string status = store->status();
    int published = signalsDuring(&StudioStore::sessionChanged, [&] {
        for (int i = 1; i <= 50; ++i) store->setFadeLive(id, i * 0.2, std::nullopt);
    });
    EXPECT_EQ(published, 50);
    EXPECT_EQ(track(id).fadeIn, 3.0);  // 10 s on a 4 s clip with a 1 s fade-out
    EXPECT_EQ(steps(), 1u);
    EXPECT_EQ(lastStep(), "Нарастание");
    EXPECT_EQ(store->status(), status);  // live steps set no status

    store->setFadeLive(id, -2.0, std::nullopt);
    EXPECT_EQ(track(id).fadeIn, 0.0);
    store->setFadeLive(id, std::nullopt, 0.5);
    EXPECT_EQ(track(id).fadeIn, 0.0);
    EXPECT_EQ(track(id).fadeOut, 0.5);
    store->setFadeLive(Uuid::random(), 1.0, 1.0);

    store->undo();
    EXPECT_EQ(track(id).fadeIn, 0.0);
    EXPECT_EQ(track(id).fadeOut, 1.0);

    // Refused while locked; the live steps still act.
    store->setBusy(true);
    store->beginAutomationEdit(L("Затухание"));
    store->setFadeLive(id, std::nullopt, 2.0);
    EXPECT_EQ(steps(), 0u);
    EXPECT_EQ(track(id).fadeOut, 2.0);
}

TEST_F(StoreEnvelopes, InsertedPointsAreClampedAndOrdered) {
    EXPECT_EQ(store->insertEnvelopePoint(id, false, -3.0, 20.0), 0u);
    EXPECT_EQ(volume()[0], (AutomationPoint{0.0, 12.0}));
    EXPECT_EQ(store->insertEnvelopePoint(id, false, 9.0, -100.0), 1u);
    EXPECT_EQ(volume()[1], (AutomationPoint{4.0, -60.0}));
    EXPECT_EQ(store->insertEnvelopePoint(id, false, 0.0, kNaN), 1u);  // after the point at 0
    EXPECT_EQ(volume()[1], (AutomationPoint{0.0, -60.0}));
    EXPECT_EQ(store->insertEnvelopePoint(id, false, kNaN, 0.0), 2u);
    EXPECT_EQ(store->insertEnvelopePoint(id, false, kInf, 0.0), 4u);
    EXPECT_EQ(volume()[4].time, 4.0);

    EXPECT_EQ(store->insertEnvelopePoint(id, true, 2.0, 2.0), 0u);
    EXPECT_EQ(track(id).panEnvelope[0], (AutomationPoint{2.0, 1.0}));
    EXPECT_EQ(store->insertEnvelopePoint(id, true, 2.0, kNaN), 1u);
    EXPECT_EQ(track(id).panEnvelope[1].value, -1.0);
    EXPECT_EQ(store->insertEnvelopePoint(Uuid::random(), true, 2.0, 0.0), std::nullopt);
    EXPECT_EQ(steps(), 0u);

    // A full envelope takes no more.
    Session s = store->session();
    s.tracks[0].panEnvelope.assign(limits::kMaxAutomationPoints, AutomationPoint{1.0, 0.0});
    store->setSession(std::move(s));
    EXPECT_EQ(store->insertEnvelopePoint(id, true, 2.0, 0.0), std::nullopt);
    EXPECT_EQ(track(id).panEnvelope.size(), 2000u);
}

TEST_F(StoreEnvelopes, MovedPointsStayBetweenTheirNeighbours) {
    Session s = store->session();
    s.tracks[0].volumeEnvelope = {{0.5, 0.0}, {2.0, -6.0}, {3.0, 0.0}};
    store->setSession(std::move(s));

    store->moveEnvelopePoint(id, false, 0, -1.0, 3.0);
    EXPECT_EQ(volume()[0], (AutomationPoint{0.0, 3.0}));
    store->moveEnvelopePoint(id, false, 2, 10.0, 50.0);
    EXPECT_EQ(volume()[2], (AutomationPoint{4.0, 12.0}));
    store->moveEnvelopePoint(id, false, 1, 4.5, -6.0);
    EXPECT_EQ(volume()[1].time, 4.0);
    store->moveEnvelopePoint(id, false, 1, -1.0, -6.0);
    EXPECT_EQ(volume()[1].time, 0.0);

    const Envelope before = volume();
    store->moveEnvelopePoint(id, false, -1, 1.0, 0.0);
    store->moveEnvelopePoint(id, false, 3, 1.0, 0.0);
    store->moveEnvelopePoint(id, false, 1, kNaN, 0.0);
    store->moveEnvelopePoint(id, false, 1, 1.0, kInf);
    EXPECT_EQ(volume(), before);

    // Neighbours out of order: the point takes the earlier neighbour's time.
    s = store->session();
    s.tracks[0].panEnvelope = {{3.0, 0.0}, {2.0, 0.0}, {1.0, 0.0}};
    store->setSession(std::move(s));
    store->moveEnvelopePoint(id, true, 1, 0.5, 0.5);
    EXPECT_EQ(track(id).panEnvelope[1], (AutomationPoint{3.0, 0.5}));
    EXPECT_EQ(steps(), 0u);
}

TEST_F(StoreEnvelopes, MenuCommandsAreNamedUndoSteps) {
    Session s = store->session();
    s.tracks[0].volumeEnvelope = {{0.5, 0.0}, {2.0, -6.0}};
    s.tracks[0].panEnvelope = {{0.5, 0.3}};
    s.tracks[0].fadeIn = 1.0;
    s.tracks[0].fadeOut = 1.5;
    store->setSession(std::move(s));

    store->deleteEnvelopePoint(id, false, 2);
    store->deleteEnvelopePoint(id, false, -1);
    store->deleteEnvelopePoint(Uuid::random(), false, 0);
    EXPECT_EQ(steps(), 0u);
    store->deleteEnvelopePoint(id, false, 0);
    EXPECT_EQ(volume(), (Envelope{{2.0, -6.0}}));
    EXPECT_EQ(lastStep(), "Удаление точки огибающей");

    store->setFadeCurve(id, false, FadeCurve::cosine);
    EXPECT_EQ(track(id).fadeOutCurve, FadeCurve::cosine);
    EXPECT_EQ(track(id).fadeInCurve, FadeCurve::linear);
    EXPECT_EQ(lastStep(), "Форма фейда");
    store->removeFade(id, true);
    EXPECT_EQ(track(id).fadeIn, 0.0);
    EXPECT_EQ(track(id).fadeOut, 1.5);
    EXPECT_EQ(lastStep(), "Удаление фейда");
    store->removeFades(id);
    EXPECT_EQ(track(id).fadeOut, 0.0);
    EXPECT_EQ(lastStep(), "Удаление фейдов");

    // Clearing reports only what it did.
    store->setBusy(true);
    store->clearEnvelopes(id);
    EXPECT_EQ(store->status(), "Готово");
    store->setBusy(false);
    store->clearEnvelopes(id);
    EXPECT_TRUE(volume().empty());
    EXPECT_TRUE(track(id).panEnvelope.empty());
    EXPECT_EQ(store->status(), "Огибающие очищены");
    EXPECT_EQ(lastStep(), "Очистка огибающих");
    EXPECT_EQ(steps(), 5u);
}
