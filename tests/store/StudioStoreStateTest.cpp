// The store's state: initial values, one signal per write, observers and computed properties.

#include <QMetaMethod>
#include <QObject>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "StoreTestSupport.h"
#include "model/EnumTraits.h"
#include "model/StudioError.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

// Records the name of every argument-less signal the store emits, in order.
class SignalLog : public QObject {
    Q_OBJECT
public:
    explicit SignalLog(QObject* source) {
        const QMetaObject* meta = source->metaObject();
        const QMetaMethod hit = metaObject()->method(metaObject()->indexOfSlot("hit()"));
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
            const QMetaMethod m = meta->method(i);
            if (m.methodType() != QMetaMethod::Signal || m.parameterCount() != 0) continue;
            signalNames.push_back(m.name().toStdString());
            QObject::connect(source, m, this, hit);
        }
    }
    std::vector<std::string> signalNames;
    std::vector<std::string> fired;

public Q_SLOTS:
    void hit() { fired.push_back(sender()->metaObject()->method(senderSignalIndex()).name().toStdString()); }
};

using Setter = std::pair<std::string, std::function<void(StudioStore&)>>;

// Every published property, written with the value it already holds (the selection with a range:
// writing none would also clear the frequency band through its observer).
std::vector<Setter> everySetter() {
#define SAME(name, Name) Setter{#name "Changed", [](StudioStore& s) { s.set##Name(s.name()); }}
    return {
        SAME(session, Session), SAME(selectedID, SelectedID), SAME(selectedLaneID, SelectedLaneID),
        Setter{"selectionChanged", [](StudioStore& s) { s.setSelection(TimeRange{1, 2}); }},
        SAME(freqSelection, FreqSelection), SAME(cursor, Cursor), SAME(zoom, Zoom), SAME(loop, Loop),
        SAME(busy, Busy), SAME(status, Status), SAME(error, Error), SAME(projectURL, ProjectURL), SAME(dirty, Dirty),
        SAME(undoNames, UndoNames), SAME(redoNames, RedoNames), SAME(clipboard, Clipboard),
        SAME(showExport, ShowExport), SAME(exportSelection, ExportSelection), SAME(exportFormat, ExportFormat),
        SAME(exportNormalize, ExportNormalize), SAME(exportLoudness, ExportLoudness),
        SAME(exportSampleRate, ExportSampleRate), SAME(exportDither, ExportDither),
        SAME(showMatchLoudness, ShowMatchLoudness), SAME(gainAmount, GainAmount), SAME(chosenEffect, ChosenEffect),
        SAME(editorMode, EditorMode), SAME(timelineTool, TimelineTool), SAME(snapping, Snapping),
        SAME(showBrowser, ShowBrowser), SAME(showInspector, ShowInspector), SAME(inspectorTab, InspectorTab),
        SAME(showAnalysis, ShowAnalysis), SAME(exportSelectedTrack, ExportSelectedTrack),
        SAME(spectralView, SpectralView), SAME(spectrograms, Spectrograms), SAME(spectralDisplay, SpectralDisplay),
        SAME(spectralTool, SpectralTool), SAME(spectralBrushSize, SpectralBrushSize),
        SAME(spectralAttenuation, SpectralAttenuation), SAME(spectralMask, SpectralMask),
        SAME(spectralMaskTrackID, SpectralMaskTrackID), SAME(noiseProfile, NoiseProfile),
        SAME(noiseStrength, NoiseStrength), SAME(showTimePitch, ShowTimePitch), SAME(timeRate, TimeRate),
        SAME(timeSemitones, TimeSemitones), SAME(timeFormat, TimeFormat), SAME(amplitudeZoom, AmplitudeZoom),
        SAME(metronome, Metronome), SAME(zoomFocus, ZoomFocus), SAME(showEnvelopes, ShowEnvelopes),
        SAME(showAutoDuck, ShowAutoDuck), SAME(favorites, Favorites), SAME(effectsSheet, EffectsSheet),
        SAME(diagnostics, Diagnostics), SAME(trimDrag, TrimDrag), SAME(laneDragOrigin, LaneDragOrigin),
    };
#undef SAME
}

using StoreState = StoreTest;

}  // namespace

TEST_F(StoreState, FreshStoreHoldsTheInitialValues) {
    const StudioStore& s = *store;
    EXPECT_EQ(s.status(), "Готово");
    EXPECT_TRUE(s.session().tracks.empty());
    EXPECT_TRUE(s.session().lanes.empty());
    EXPECT_EQ(s.session().tempo, 120.0);
    EXPECT_EQ(s.session().beatsPerBar, 4);
    EXPECT_TRUE(s.session().autoCrossfade);
    EXPECT_EQ(s.editorMode(), EditorMode::multitrack);
    EXPECT_EQ(s.timelineTool(), TimelineTool::move);
    EXPECT_TRUE(s.snapping());
    EXPECT_TRUE(s.showBrowser());
    EXPECT_TRUE(s.showInspector());
    EXPECT_EQ(s.zoom(), 1.0);
    EXPECT_EQ(s.amplitudeZoom(), 1.0);
    EXPECT_EQ(s.gainAmount(), 3.0);
    EXPECT_EQ(s.noiseStrength(), 0.6);
    EXPECT_EQ(s.spectralDisplay().dynamicRange, 66.0);
    EXPECT_EQ(s.spectralDisplay().scale, SpectralScale::log);
    EXPECT_EQ(s.spectralBrushSize(), 24.0);
    EXPECT_EQ(s.spectralAttenuation(), 40.0);
    EXPECT_EQ(s.viewport().baseWidth, 900.0);
    EXPECT_EQ(s.title(), "Новый проект");
    EXPECT_FALSE(s.busy() || s.dirty() || s.locked() || s.error() || s.selectedID() || s.selection());
    EXPECT_EQ(s.timeFormat(), TimeFormat::clock);
    // Nothing is written back at start-up except the repaired loudness key of the export defaults.
    EXPECT_FALSE(fx.defaults.contains("timeFormat"));
    // The autosave timer is the one repeating timer.
    EXPECT_EQ(fx.scheduler.activeTimers(), 1);
}

TEST_F(StoreState, EverySetterEmitsItsOwnSignalOnceAlsoForAnEqualValue) {
    SignalLog log(store.get());
    const auto setters = everySetter();
    EXPECT_EQ(log.signalNames.size(), 58u);
    ASSERT_EQ(setters.size(), 58u);
    for (const auto& [signal, set] : setters) {
        log.fired.clear();
        set(*store);
        EXPECT_EQ(log.fired, std::vector<std::string>{signal}) << signal;
    }
}

TEST_F(StoreState, TimelineDurationFollowsTheProjectAndTheRecordingPlayhead) {
    EXPECT_EQ(store->timelineDuration(), 10.0);
    setClips({clip("A", 20 * 48000)});
    EXPECT_EQ(store->timelineDuration(), 21.0);
    startRecording(30.0);
    EXPECT_EQ(store->timelineDuration(), 35.0);
    EXPECT_TRUE(store->locked());
    EXPECT_EQ(store->playhead(), 30.0);
    store->transport().stopRecording();
    EXPECT_EQ(store->timelineDuration(), 21.0);
}

TEST_F(StoreState, AClipOnAMissingRowGetsItsOwnSelectedRow) {
    setClips({clip("A", 4800), clip("B", 4800)});
    ASSERT_EQ(store->session().lanes.size(), 2u);
    Session s = store->session();
    s.tracks[1].laneID = Uuid::random();  // a row that does not exist
    const Uuid moved = s.tracks[1].id;
    store->setSelectedID(moved);
    SignalLog log(store.get());
    store->setSession(s);
    const Session& now = store->session();
    ASSERT_EQ(now.lanes.size(), 3u);
    EXPECT_FALSE(now.needsLaneNormalization());
    EXPECT_EQ(now.tracks[1].laneID, now.lanes[2].id);
    EXPECT_EQ(store->selectedLaneID(), now.lanes[2].id);
    // The normalising write is a second session write, then the row follows.
    EXPECT_EQ(log.fired, (std::vector<std::string>{"sessionChanged", "sessionChanged", "selectedLaneIDChanged"}));
}

TEST_F(StoreState, ClearingTheSelectionEmptiesTheMaskAndTheFrequencyBand) {
    SpectralMask mask;
    mask.regions.push_back({SpectralMask::Shape::rectangle({0, 1}, {100, 200}), false});
    store->setSpectralMask(mask);
    store->setFreqSelection(ClosedRange{100, 200});
    store->setSelection(TimeRange{0, 1});
    EXPECT_EQ(store->spectralMask(), mask);
    EXPECT_TRUE(store->freqSelection());
    store->setSelection(std::nullopt);
    EXPECT_TRUE(store->spectralMask().regions.empty());
    EXPECT_FALSE(store->freqSelection());
}

TEST_F(StoreState, TimeFormatComesFromTheSettingsAndIsStoredAtOnce) {
    fx.defaults.set("timeFormat", std::string("bars"));
    restart();
    EXPECT_EQ(store->timeFormat(), TimeFormat::bars);
    fx.defaults.set("timeFormat", std::string("minutes"));
    restart();
    EXPECT_EQ(store->timeFormat(), TimeFormat::clock);
    store->setTimeFormat(TimeFormat::samples);
    EXPECT_EQ(fx.defaults.string("timeFormat"), "samples");
}

TEST_F(StoreState, TitleIsTheFileNameWithoutItsExtension) {
    store->setProjectURL(std::filesystem::path("/tmp/Interview.tessoral"));
    EXPECT_EQ(store->title(), "Interview");
    store->setProjectURL(std::filesystem::path("/tmp/Take 2.final.tessoral"));
    EXPECT_EQ(store->title(), "Take 2.final");
}

TEST_F(StoreState, TransportFailureWhileBusySetsTheErrorAndLeavesBusyAlone) {
    store->setBusy(true);
    store->transport().failed(std::make_exception_ptr(StudioError("Устройство пропало.")));
    EXPECT_EQ(store->error(), "Устройство пропало.");
    EXPECT_TRUE(store->busy());
}

#include "StudioStoreStateTest.moc"
