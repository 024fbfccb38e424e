#pragma once

#include <QObject>

#include <cstdint>
#include <deque>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "model/AudioData.h"
#include "model/AutoDuck.h"
#include "model/EditAction.h"
#include "model/EditorVocabulary.h"
#include "model/EffectPreset.h"
#include "model/ExportFormat.h"
#include "model/FavoritesStore.h"
#include "model/Frames.h"
#include "model/Lane.h"
#include "model/LoudnessTarget.h"
#include "model/NavigationMath.h"
#include "model/Session.h"
#include "model/TimeFormat.h"
#include "model/Track.h"
#include "model/Trimming.h"
#include "model/Uuid.h"
#include "processing/EssentialSoundEngine.h"
#include "processing/ExportPipeline.h"
#include "processing/LoudnessMatch.h"
#include "processing/NoiseProfile.h"
#include "processing/SpectralAnalysis.h"
#include "processing/SpectralMask.h"
#include "processing/SpectralRepair.h"
#include "store/DiagnosticsState.h"
#include "store/EffectsSheet.h"
#include "store/StoreServices.h"
#include "store/TaskRunner.h"
#include "transport/AudioTransport.h"
#include "transport/PunchPlan.h"
#include "transport/Scheduler.h"

namespace tessoral {

// One undo or redo step: the whole project as it was, and the change's display name.
struct HistoryEntry {
    Session session;
    std::string name;
};

// A spectrogram image of one clip, with the clip revision and display settings it was drawn for.
struct SpectrogramEntry {
    Uuid revision;
    SpectralDisplay display;
    SpectrogramImage image;
};

// The track row being reordered by its drag handle, and the index it started at.
struct LaneDragOrigin {
    Uuid id;
    std::int64_t index = 0;
    friend bool operator==(const LaneDragOrigin&, const LaneDragOrigin&) = default;
};

// The dragged clip as it was when its drag began.
struct DragOrigin {
    Uuid id;
    double start = 0.0;
    std::optional<Uuid> lane;
    std::int64_t color = 0;
    friend bool operator==(const DragOrigin&, const DragOrigin&) = default;
};

// The editor's one state object, on the main thread. It holds the open project, the selection and
// cursor, the undo history, every editor setting a view shows, the transport and the autosave
// bookkeeping, and carries every command of the editor.
//
// Published properties: a const getter `name()`, a setter `setName(v)` and a signal `nameChanged()`
// emitted after every write (also of an equal value); a property's observer runs after its signal.
// Plain properties notify nobody.
//
// The definition is split by area (StudioStore.cpp: state, properties, observers; StoreHistory.cpp,
// StorePlayback.cpp, StoreAutosave.cpp, StoreExportSettings.cpp, StoreDocuments.cpp, and one file per
// later area). Every area keeps its declarations inside its own marked section below; each section
// starts with its own access specifier.
class StudioStore : public QObject {
    Q_OBJECT

public:
    // The services must outlive the store.
    explicit StudioStore(StoreServices services, QObject* parent = nullptr);
    ~StudioStore() override;
    StudioStore(const StudioStore&) = delete;
    StudioStore& operator=(const StudioStore&) = delete;

    // Limits of the undo history.
    static constexpr std::size_t kUndoLimit = 12;
    static constexpr std::int64_t kUndoMemoryBytes = 536'870'912;  // 512 MiB
    // Autosave period in seconds.
    static constexpr double kAutosaveSeconds = StoreServices::kAutosaveSeconds;

    const StoreServices& services() const { return services_; }

    // ==== Published properties (StudioStore.cpp) ====
    // Document
    const Session& session() const { return session_; }
    void setSession(Session value);
    const std::optional<std::filesystem::path>& projectURL() const { return projectURL_; }
    void setProjectURL(std::optional<std::filesystem::path> value);
    bool dirty() const { return dirty_; }
    void setDirty(bool value);
    // Selection and cursor
    const std::optional<Uuid>& selectedID() const { return selectedID_; }
    void setSelectedID(std::optional<Uuid> value);
    const std::optional<Uuid>& selectedLaneID() const { return selectedLaneID_; }
    void setSelectedLaneID(std::optional<Uuid> value);
    const std::optional<TimeRange>& selection() const { return selection_; }
    void setSelection(std::optional<TimeRange> value);
    const std::optional<ClosedRange>& freqSelection() const { return freqSelection_; }
    void setFreqSelection(std::optional<ClosedRange> value);
    double cursor() const { return cursor_; }
    void setCursor(double value);
    // View and tools
    double zoom() const { return zoom_; }
    void setZoom(double value);
    const std::optional<ZoomFocus>& zoomFocus() const { return zoomFocus_; }
    void setZoomFocus(std::optional<ZoomFocus> value);
    double amplitudeZoom() const { return amplitudeZoom_; }
    void setAmplitudeZoom(double value);
    EditorMode editorMode() const { return editorMode_; }
    void setEditorMode(EditorMode value);
    TimelineTool timelineTool() const { return timelineTool_; }
    void setTimelineTool(TimelineTool value);
    bool snapping() const { return snapping_; }
    void setSnapping(bool value);
    bool showBrowser() const { return showBrowser_; }
    void setShowBrowser(bool value);
    bool showInspector() const { return showInspector_; }
    void setShowInspector(bool value);
    int inspectorTab() const { return inspectorTab_; }
    void setInspectorTab(int value);
    bool showAnalysis() const { return showAnalysis_; }
    void setShowAnalysis(bool value);
    bool showEnvelopes() const { return showEnvelopes_; }
    void setShowEnvelopes(bool value);
    TimeFormat timeFormat() const { return timeFormat_; }
    void setTimeFormat(TimeFormat value);
    bool metronome() const { return metronome_; }
    void setMetronome(bool value);
    bool loop() const { return loop_; }
    void setLoop(bool value);
    // Sheets
    bool showExport() const { return showExport_; }
    void setShowExport(bool value);  // false → true reloads the export defaults
    bool showMatchLoudness() const { return showMatchLoudness_; }
    void setShowMatchLoudness(bool value);
    bool showTimePitch() const { return showTimePitch_; }
    void setShowTimePitch(bool value);
    bool showAutoDuck() const { return showAutoDuck_; }
    void setShowAutoDuck(bool value);
    const std::optional<EffectsSheet>& effectsSheet() const { return effectsSheet_; }
    void setEffectsSheet(std::optional<EffectsSheet> value);
    // Status
    bool busy() const { return busy_; }
    void setBusy(bool value);
    const std::string& status() const { return status_; }
    void setStatus(std::string value);
    const std::optional<std::string>& error() const { return error_; }
    void setError(std::optional<std::string> value);
    // History
    const std::vector<std::string>& undoNames() const { return undoNames_; }
    void setUndoNames(std::vector<std::string> value);
    const std::vector<std::string>& redoNames() const { return redoNames_; }
    void setRedoNames(std::vector<std::string> value);
    // Clipboard
    const std::optional<AudioData>& clipboard() const { return clipboard_; }
    void setClipboard(std::optional<AudioData> value);
    // Export settings
    bool exportSelection() const { return exportSelection_; }
    void setExportSelection(bool value);
    bool exportSelectedTrack() const { return exportSelectedTrack_; }
    void setExportSelectedTrack(bool value);
    ExportFormat exportFormat() const { return exportFormat_; }
    void setExportFormat(ExportFormat value);
    bool exportNormalize() const { return exportNormalize_; }
    void setExportNormalize(bool value);
    LoudnessTarget exportLoudness() const { return exportLoudness_; }
    void setExportLoudness(LoudnessTarget value);
    ExportSampleRate exportSampleRate() const { return exportSampleRate_; }
    void setExportSampleRate(ExportSampleRate value);
    bool exportDither() const { return exportDither_; }
    void setExportDither(bool value);
    // Processing parameters
    double gainAmount() const { return gainAmount_; }
    void setGainAmount(double value);
    EffectPreset chosenEffect() const { return chosenEffect_; }
    void setChosenEffect(EffectPreset value);
    const std::optional<NoiseProfile>& noiseProfile() const { return noiseProfile_; }
    void setNoiseProfile(std::optional<NoiseProfile> value);
    double noiseStrength() const { return noiseStrength_; }
    void setNoiseStrength(double value);
    double timeRate() const { return timeRate_; }
    void setTimeRate(double value);
    double timeSemitones() const { return timeSemitones_; }
    void setTimeSemitones(double value);
    const std::vector<EffectFavorite>& favorites() const { return favorites_; }
    void setFavorites(std::vector<EffectFavorite> value);
    const DiagnosticsState& diagnostics() const { return diagnostics_; }
    void setDiagnostics(DiagnosticsState value);
    // Spectral editing
    bool spectralView() const { return spectralView_; }
    void setSpectralView(bool value);
    const std::map<Uuid, SpectrogramEntry>& spectrograms() const { return spectrograms_; }
    void setSpectrograms(std::map<Uuid, SpectrogramEntry> value);
    const SpectralDisplay& spectralDisplay() const { return spectralDisplay_; }
    void setSpectralDisplay(SpectralDisplay value);
    SpectralTool spectralTool() const { return spectralTool_; }
    void setSpectralTool(SpectralTool value);
    double spectralBrushSize() const { return spectralBrushSize_; }
    void setSpectralBrushSize(double value);
    double spectralAttenuation() const { return spectralAttenuation_; }
    void setSpectralAttenuation(double value);
    const SpectralMask& spectralMask() const { return spectralMask_; }
    void setSpectralMask(SpectralMask value);
    const std::optional<Uuid>& spectralMaskTrackID() const { return spectralMaskTrackID_; }
    void setSpectralMaskTrackID(std::optional<Uuid> value);
    // Drags
    const std::optional<TrimDrag>& trimDrag() const { return trimDrag_; }
    void setTrimDrag(std::optional<TrimDrag> value);
    const std::optional<LaneDragOrigin>& laneDragOrigin() const { return laneDragOrigin_; }
    void setLaneDragOrigin(std::optional<LaneDragOrigin> value);

    // ==== Plain properties (StudioStore.cpp): no signal ====
    const NavigationViewport& viewport() const { return viewport_; }
    void setViewport(NavigationViewport value) { viewport_ = std::move(value); }
    AudioTransport& transport() { return *transport_; }
    const AudioTransport& transport() const { return *transport_; }
    std::int64_t editCounter() const { return editCounter_; }
    bool recordingTask() const { return recordingTask_; }

    // ==== Computed properties (StudioStore.cpp) ====
    // Busy, or the transport records: commands refuse.
    bool locked() const;
    // Index in session().tracks of the selected clip.
    std::optional<std::size_t> selectedIndex() const;
    // Seconds the timeline shows: max(10, duration + 1, and while recording position + 5).
    double timelineDuration() const;
    // "Новый проект", or the project file's name without its extension.
    std::string title() const;
    // The transport's position while it plays or records, else the cursor.
    double playhead() const;

    // ==== Undo history and selection validation (StoreHistory.cpp) ====
public:
    // Records an undo step named `name` (already localised) before a change of the project.
    void checkpoint(const std::string& name);
    void undo();
    void redo();
    // Repairs the selected clip and row, the cursor and the time selection after the project changed.
    void validateSelection();
    // Audio bytes that the undo snapshots keep alive: each sample buffer counted once.
    static std::int64_t historyBytes(const std::deque<HistoryEntry>& stack);
    // Whether the limits dropped older steps since the history was last emptied: the oldest
    // state the history reaches is then no longer the project as it was opened. It changes only
    // together with `undoNames`.
    bool olderStepsDropped() const { return historyShortened_; }

    // One clip or one row changed in place as one undo step named `name` (refused while locked or
    // when the id names nothing). Out-of-range results are repaired afterwards.
    void changeTrack(const Uuid& id, const std::string& name, const std::function<void(Track&)>& mutation);
    void changeLane(const Uuid& id, const std::string& name, const std::function<void(Lane&)>& mutation);

private:
    void syncHistory();
    void clearHistory();

    // ==== Playback commands (StorePlayback.cpp) ====
public:
    // Stops whatever runs: a pending count-in, a recording or playback.
    void stop();
    void playPause();
    void seek(double time);

private:
    void installTransportCallbacks();

    // ==== Autosave and crash recovery (StoreAutosave.cpp) ====
public:
    // Discards the recovery copy and starts a new generation.
    void clearRecovery();
    // Offers the recovery copy once at start-up; true when a project was restored.
    bool offerRecovery();
    // The recovery copy and its metadata; none without a data folder.
    std::optional<std::filesystem::path> recoveryURL() const;
    std::optional<std::filesystem::path> recoveryMetaURL() const;
    // Whether a recovery write is under way (for tests and the shell).
    bool autosaveInFlight() const { return autosaveInFlight_; }
    // For a program told to end (a quit signal), before it waits for the work under way: writes
    // the recovery copy at once, on the calling thread, with the autosave's writer, when the copy
    // on disk lacks unsaved changes; writes nothing without them. An autosave queued or under way
    // never writes over it afterwards. True when a copy was written; when it cannot be written, one
    // line on standard error names the copy and the reason.
    bool writeRecoveryBeforeQuit();

private:
    // The timer's tick.
    void autosave();

    // ==== Export defaults and options (StoreExportSettings.cpp) ====
public:
    ExportOptions exportOptions() const;
    void loadExportDefaults();
    void saveExportDefaults();

    // ==== Document commands (StoreDocuments.cpp) ====
public:
    // The unsaved-changes question; true when the open project may be thrown away.
    bool allowDiscard();
    // The same question before a quit, once a recording is ended: an import under way only reads
    // its files and does not hold the quit (the caller gives it up once this returns true); other
    // work does.
    bool allowQuit();
    // Work under way that a quit waits for: busy with more than an import.
    bool holdsQuit() const;
    void newProject();
    void openPanel();
    // Opens a project file, or imports the audio files.
    void open(const std::vector<std::filesystem::path>& urls);
    // An import is reading its files (it also makes the store busy).
    bool importing() const { return importDropped_ != nullptr; }
    // Gives the import under way up, for a quit: its clips were part of nothing yet, its result is
    // dropped when it comes, and the store is no longer busy with it.
    void abandonImport();
    // True when the project was written.
    bool saveProject(bool asNew);
    // Exports the mix (the export sheet's button).
    void exportMix();
    // Replaces the project with the generated demo project.
    void loadDemo();
    // What an export of the selected clip or row writes.
    Session isolatedExportSession() const;
    // The selected clip alone, as the waveform editor plays it.
    Session isolatedTrackSession() const;
    // The three demo clips (also for tests and benchmarks).
    static std::vector<Track> demoClips();
    // Shows the files in the file manager. When nothing can, the status line says where they are,
    // once a run and on a line of its own: the line that reports the work stays whole for
    // kRevealNoteSeconds first, and one that has taken its place meanwhile is not written over.
    void revealFiles(const std::vector<std::filesystem::path>& files);
    static constexpr double kRevealNoteSeconds = 4.0;
    // Opens a web, mail or file:// address with the desktop's default application; when nothing
    // can, the status line says `failure`. True when it opened.
    bool openExternal(const std::string& url, const std::string& failure);

private:
    void importAudio(const std::vector<std::filesystem::path>& urls);

    // ==== Clip and track row commands (StoreClips.cpp) ====
public:
    // Track rows: a new empty row after the selected one (or at the end), a copy of the selected
    // row with its clips, removal of the selected row with its clips.
    void newLane();
    void duplicateLane();
    void removeLane();
    // Selects a row; with `clip` its clip at the playhead (or its first), else no clip. A selected
    // clip already on the row stays selected. No undo step.
    void selectLane(const Uuid& id, bool clip);
    // The selected clip: split at the cursor, copied after its end, removed.
    void split();
    void duplicateClip();
    void removeClip();
    // Switches the editor (waveform, multitrack, mixer); stops playback, no undo step.
    void switchMode(EditorMode mode);

    // The clip inspector's fields, one undo step each. A gain or pan that is not a number changes
    // nothing; others are kept inside the ranges a project file holds (gain −60…+24 dB, pan −1…+1).
    void setClipStart(const Uuid& id, double start);
    void setClipGain(const Uuid& id, double gainDB);
    void setClipPan(const Uuid& id, double pan);
    void setClipMuted(const Uuid& id, bool muted);
    // Trimmed of white space; an empty or unchanged name changes nothing.
    void renameClip(const Uuid& id, const std::string& name);

    // The row header's and mixer strip's controls, one undo step each.
    void toggleLaneMute(const Uuid& id);
    void toggleLaneSolo(const Uuid& id);
    void setLanePan(const Uuid& id, double pan);
    void setLaneGain(const Uuid& id, double gainDB);
    // Trimmed of white space; an empty or unchanged name changes nothing.
    void renameLane(const Uuid& id, const std::string& name);

private:
    // Whether `command` took an undo step (changeTrack and changeLane refuse silently).
    bool tookStep(const std::function<void()>& command);

    // ==== Clip dragging and snapping (StoreDrag.cpp) ====
public:
    // The move gesture of a clip: one undo step when it begins; every step gives the total offset
    // since the beginning (seconds along the timeline, whole rows down the list).
    void beginTrackDrag(const Uuid& id);
    void dragTrack(const Uuid& id, double by, std::int64_t laneOffset);
    void endTrackDrag();
    // The time on the 48 kHz frame grid, or the nearest edit point (project start, markers, clip
    // edges except those of `excluding`, beats in the bars format) within the tolerance (default:
    // 7 points of the 900-point base view).
    double snapped(double t, const std::optional<Uuid>& excluding = std::nullopt,
                   std::optional<double> tolerance = std::nullopt) const;
    // Whether a clip drag is under way.
    bool trackDragActive() const { return dragOrigin_.has_value(); }

    // ==== Clip trimming and row reordering (StoreTrim.cpp) ====
public:
    // The clip-edge trim gesture: `trimDrag` previews it; one undo step when it ends.
    void beginTrim(const Uuid& id, ClipEdge edge);
    void dragTrim(const Uuid& id, double by);
    void endTrim();
    // The row drag of a track header: one undo step when it begins; the header clears
    // `laneDragOrigin` when the gesture ends.
    void beginLaneDrag(const Uuid& id);
    void dragLane(const Uuid& id, double dy, double rowHeight);
    // Menu moves of a row.
    bool canMoveLane(const std::optional<Uuid>& id, std::int64_t offset) const;
    void moveSelectedLane(std::int64_t offset);
    void moveLane(const Uuid& id, std::int64_t index);
    // The colour index wraps into 0…7; the row's clips take it too.
    void setLaneColor(const Uuid& id, std::int64_t color);
    void toggleAutoCrossfade();

    // ==== Envelope and fade editing (StoreEnvelopes.cpp) ====
public:
    // Starts an envelope or fade gesture: its one undo step, named `name` (already localised).
    void beginAutomationEdit(const std::string& name);
    // The gesture's live steps: no undo step, no status, no lock test.
    void setFadeLive(const Uuid& id, std::optional<double> fadeIn, std::optional<double> fadeOut);
    // The index of the new point; none when the clip is unknown or the envelope is full.
    std::optional<std::size_t> insertEnvelopePoint(const Uuid& id, bool pan, double time, double value);
    void moveEnvelopePoint(const Uuid& id, bool pan, std::int64_t index, double time, double value);
    // Undoable commands of the fade handles and the clip automation menu.
    void deleteEnvelopePoint(const Uuid& id, bool pan, std::int64_t index);
    void setFadeCurve(const Uuid& id, bool fadeIn, FadeCurve curve);
    void removeFade(const Uuid& id, bool fadeIn);
    void removeFades(const Uuid& id);
    void clearEnvelopes(const Uuid& id);

private:
    // The clip with the id changed in place and published, without an undo step.
    template <class F>
    void changeTrackLive(const Uuid& id, F&& mutation);

    // ==== Destructive processing commands (StoreProcessing.cpp) ====
public:
    // A clip's new audio with its drawing caches (peaks of 1800 bins, both channel envelopes of
    // 2400 bins). Made with `of` where the audio is made, on the worker of a long command, so the
    // main thread only assigns them.
    struct RefreshedAudio {
        AudioData audio;
        SharedArray<float> peaks;
        SharedArray<EnvelopeBin> leftEnvelope;
        SharedArray<EnvelopeBin> rightEnvelope;
        static RefreshedAudio of(AudioData audio);
    };
    // The step that ends every command which replaces a clip's audio (call it on the main thread
    // with the clip index captured when the command started): one undo step named `undoName`, the
    // head and tail handles and their envelopes dropped, the new audio and caches assigned, a fresh
    // revision, then `adjust` for the command's own further changes of the clip; published as one
    // change of the session. Does nothing when `index` names no clip.
    void refreshClip(std::size_t index, const std::string& undoName, RefreshedAudio refreshed,
                     const std::function<void(Track&)>& adjust = {});
    // The destructive edits, effect, noise reduction and time and pitch of the selected clip.
    void edit(EditAction action);
    void applyEffect();
    void learnNoise();
    void reduceNoise();
    void applyTimePitch();
    // Starts a render of the clip's spectrogram (utility priority, no busy, no status) unless the
    // cached one is current or one already runs.
    void ensureSpectrogram(const Track& clip);
    static constexpr int kSpectrogramHeight = 224;
    static constexpr int kSpectrogramColumns = 2200;
    // Shortest selection that noise can be learnt from, in frames.
    static constexpr std::int64_t kNoiseProfileFrames = 2048;

private:
    // The clip's frames under the time selection (all of them without one); none, after the error
    // "Выделите фрагмент внутри выбранного клипа.", when the selection misses the clip.
    std::optional<FrameRange> rangeInClip(const Track& clip);

    // ==== Effect rack commands (StoreRacks.cpp) ====
public:
    // Appends a slot of the preset to the selected clip's rack (at most 8 slots).
    void addRackEffect(EffectPreset preset);
    // Changes one slot of a clip's rack as one undo step "Настройка эффекта".
    void updateRack(const Uuid& clipID, const Uuid& slotID, const std::function<void(EffectSlot&)>& mutation);
    // Exchanges the slot with its neighbour `offset` places away in the selected clip's rack.
    void moveRackSlot(const Uuid& slotID, std::int64_t offset);
    // Renders the selected clip's rack into its audio and empties the rack.
    void flattenRack();
    // The rack panel's controls, each one undo step.
    void toggleRackSlotEnabled(const Uuid& clipID, const Uuid& slotID);
    void setRackSlotPreset(const Uuid& clipID, const Uuid& slotID, EffectPreset preset);
    void setRackSlotWet(const Uuid& clipID, const Uuid& slotID, double wet);
    void removeRackSlot(const Uuid& clipID, const Uuid& slotID);
    void toggleRackBypass(const Uuid& clipID);

    // ==== Effect parameters and favourites (StoreFavorites.cpp) ====
public:
    // Sets one slot's parameters (cleaned for its preset) as one undo step.
    void setEffectParams(const Uuid& clipID, const Uuid& slotID, const std::map<std::string, double>& params);
    // Saves the selected clip's rack (without its essential-sound slots) as a new favourite.
    void saveFavorite(const std::string& name);
    void renameFavorite(const Uuid& id, const std::string& name);
    // Replaces the selected clip's rack (keeping its essential-sound slots) or appends to it.
    void applyFavorite(const EffectFavorite& favorite, bool append);
    void deleteFavorite(const Uuid& id);
    // <data folder>/Favorites.json; none without a data folder.
    std::optional<std::filesystem::path> favoritesURL() const;

private:
    // Writes the list to the favourites file; only a successful write changes `favorites`.
    void storeFavorites(std::vector<EffectFavorite> list, const std::string& status);
    std::unique_ptr<FavoritesStore> favoritesFile_;  // made at the first write

    // ==== Clipboard, selection and markers (StoreClipboard.cpp) ====
public:
    // Copies the selected clip's time selection (the whole clip without one) to the clipboard;
    // with `cut` also deletes it from the clip (or removes the clip when it covered all of it).
    void copy(bool cut);
    // Inserts the clipboard into the selected clip at the cursor, or as a new clip "Фрагмент".
    void paste();
    // The mix's master gain in dB, one undo step per call.
    void setMaster(double dB);
    // Selects the whole selected clip.
    void selectAll();
    // The selection bar's fields: either end of the time selection (none keeps that end).
    void setSelectionBoundary(std::optional<double> start, std::optional<double> end);
    // Markers: a range marker over the selection, else a point marker at the playhead.
    void addMarker();
    void renameMarker(const Uuid& id, const std::string& name);
    void removeMarker(const Uuid& id);
    void goToMarker(const SessionMarker& marker);

    // ==== Recording commands (StoreRecording.cpp) ====
    // (This area sets `transport_->recordingFinished` itself, before its first recording starts;
    // `countdownTask_` holds its pending count-in: `stop()` destroys it to cancel.)
public:
    // The record button: ends a running recording, cancels a pending count-in, or plans a
    // recording from the selection and the recording settings and starts its count-in.
    void record();
    // True when a count-in was pending and is now cancelled.
    bool cancelCountdown();
    // The transport's `recordingFinished` handler: cuts the take out of the capture and places it
    // in the project as one undo step.
    void finishRecording(RecordedTake take);

private:
    // What one recording start carries from the record button to the transport, with its cancel
    // token (set when the count-in handle is destroyed).
    struct RecordingStart;
    void countIn(const std::shared_ptr<RecordingStart>& start, int remaining);
    void prepareRecordingMix(const std::shared_ptr<RecordingStart>& start);
    void startCapture(const std::shared_ptr<RecordingStart>& start, std::optional<AudioData> playback);
    // A start that failed: its reason in the alert and in the status line.
    void reportRecordingFailure(std::exception_ptr failure);
    void endRecordingPreparation();

    // ==== Cursor, zoom and tempo navigation (StoreNavigation.cpp) ====
public:
    // The project's beat grid as the rulers and time texts use it (tempo 20…300, 120 when not
    // finite; 1…16 beats per bar).
    BeatGrid displayGrid() const;
    // Seconds between two labelled ruler lines at least 95 points apart.
    double rulerStep() const;
    // A time and a length in the chosen time format.
    std::string formatTime(double seconds) const;
    std::string formatDuration(double seconds) const;
    void cycleTimeFormat();
    void moveCursor(double to, bool extend);
    void stepCursor(bool forward, bool fine, bool extend);
    void playFromCursor();
    // Selects the row `offset` rows away (−1 up, +1 down) and its clip at the playhead.
    void selectAdjacentTrack(std::int64_t offset);
    // Zooms to `zoom` (1…32) and asks the timeline to show `around` (the playhead when none) at the
    // view fraction `at`.
    void setZoom(double zoom, std::optional<double> around, double at);
    void zoomToSelection();
    // Ctrl + wheel over the lanes; true when handled.
    bool zoomWheel(double delta, bool precise);
    void changeAmplitudeZoom(bool up);
    void toggleMetronome();
    void setTempo(double bpm, std::int64_t beatsPerBar);
    static constexpr double kRulerSpacing = 95.0;

    // ==== Spectral editing commands (StoreSpectral.cpp) ====
public:
    // The painted mask belongs to the selected clip and holds a region.
    bool spectralMaskActive() const;
    // A painted mask, or a time selection together with a frequency selection.
    bool hasSpectralSelection() const;
    // One pointer step of a brush or lasso drag on `clip` (clip seconds, Hz; the view's seconds and
    // axis-position units per pixel).
    void paintSpectral(const Uuid& clip, double time, double frequency, bool began, bool erase,
                       double secondsPerPixel, double positionPerPixel);
    // The end of a brush or lasso drag.
    void finishSpectralShape();
    // The repair panel's eraser.
    void clearSpectralMask();
    // Attenuates or heals the selected clip under the mask (or the rectangle selection).
    void repairSpectral(SpectralRepairMode mode);
    // The Delete key.
    void deleteSelection();
    // Limits of the mask: regions, and points of one stroke or outline.
    static constexpr std::size_t kMaxSpectralRegions = 256;
    static constexpr std::size_t kMaxSpectralPoints = 4096;

private:
    // The time and frequency selection follow the mask's extent.
    void syncSpectralSelection();

    // ==== Diagnostics commands (StoreDiagnostics.cpp) ====
public:
    // True when the next scan repeats the last scanned range (the selection is still the one that
    // showing a finding set, on the scanned clip).
    bool rescansPreviousRange() const;
    // Scans the selected clip (the selection inside it, or the whole clip) with the chosen detector.
    void scanDiagnostics();
    // Selects a finding of the last scan on the timeline (clicks with 1 ms either side).
    void showFinding(const DiagnosticFinding& finding);
    // Repairs the findings selected in the list (every finding with `all`) as one undo step.
    void fixDiagnostics(bool all);
    // True while an open sheet (processing or loudness matching) shows `error` itself.
    bool sheetShowsError() const;

    // ==== Channel operations and signal generation (StoreChannels.cpp) ====
public:
    // A stereo operation on the selection inside the selected clip (the whole clip without one).
    void applyChannelOperation(const ChannelOperation& operation);
    // A tone or noise from the sheet's fields as a new clip on a new last row at the cursor.
    void generateTone();
    void generateNoise();
    // Silence of the sheet's duration inserted into the selected clip at the cursor.
    void insertSilence();

private:
    // The generators' common path: limits, then `make` on a worker, then the new clip.
    void generateTrack(const std::string& name, double duration, std::function<AudioData()> make);

    // ==== Auto-duck command (StoreAutoDuck.cpp) ====
public:
    // Lowers the clip under the speech of the voice clips (none: the unmuted clips of the other
    // rows) through a new volume envelope, one undo step when speech is found.
    void autoDuck(const Uuid& trackID, const std::optional<std::vector<Uuid>>& voiceTrackIDs,
                  const AutoDuckSettings& settings);

private:
    // A clip as speech detection sees it: audio, start, clip gain plus its row's gain.
    AutoDuck::VoiceSource voiceSource(const Track& clip) const;

    // ==== Essential-sound commands and ducking (StoreEssentialSound.cpp) ====
public:
    // Removes the selected clip's settings and generated slots.
    void resetEssentialSound();
    // Gives the selected clip the defaults of the type (keeping its target) and shows the tab.
    void setEssentialType(SoundType type);
    // Changes the selected clip's settings; `name` is the panel's name of the option.
    void updateEssential(const std::string& name, const std::function<void(EssentialSound&)>& mutation);
    // Regenerates the clip's slots from the settings (none: removes them), measuring hum and
    // loudness in the background when needed; one undo step named `name`. The panel's measure
    // action calls it with the clip's settings unchanged and `forceMatch`.
    void commitEssential(const Uuid& id, const std::optional<EssentialSound>& settings, const std::string& name,
                         bool forceMatch);
    // The clips that duck under dialogue and the dialogue clips, in project order.
    struct EssentialDuckingPlan {
        std::vector<Uuid> ducked;
        std::vector<Uuid> dialogue;
    };
    EssentialDuckingPlan essentialDuckingPlan() const;
    // Posts a ducking run (of the ducked clips in `only`, all without it) to the main thread; it
    // joins the undo step of the change numbered `step` when nothing was edited in between.
    void essentialDuckingChanged(std::optional<std::vector<Uuid>> only, std::optional<std::int64_t> step);

private:
    void storeEssential(EssentialSoundEngine::Applied result, const std::optional<EssentialSound>& previous,
                        std::optional<double> gain, std::size_t index);
    void runEssentialDucking(const std::optional<std::vector<Uuid>>& only, std::optional<std::int64_t> step);
    // A quit during an analysis: its change goes into the project at once, unanalysed, as does
    // every change sent meanwhile; their clips are owed the analysis (`essentialOwed_`).
    void settleEssentialAnalysis();
    // The background path of a change: hum detection and loudness, then the result stored (one
    // undo step named `name` when `step`).
    void runEssentialAnalysis(const Uuid& id, const std::optional<EssentialSound>& settings,
                              const std::optional<EssentialSound>& previous, const std::string& name, bool needsHum,
                              bool needsLoudness, bool step);
    // Redoes the analysis of a restored copy's clips that were quit in the middle of theirs, one
    // after the other; no undo step.
    void redoEssentialAnalysis(std::vector<Uuid> ids);
    // A change being analysed: dropped when a quit has settled it.
    struct EssentialRun {
        std::uint64_t number = 0;
        Uuid id;
        std::optional<EssentialSound> settings;
        std::optional<EssentialSound> previous;
        std::string name;
        bool step = true;
    };
    std::optional<EssentialRun> essentialRun_;
    std::uint64_t essentialRuns_ = 0;
    bool essentialSettling_ = false;
    std::vector<Uuid> essentialOwed_;

    // ==== Loudness matching command (StoreLoudness.cpp) ====
public:
    // Brings the clips whose measurements still fit them to the target, by their gain or by their
    // audio rendered through the rack and normalised; one undo step.
    void matchLoudness(const std::map<Uuid, LoudnessMatch::Entry>& entries, LoudnessTarget target, bool processAudio);

    // ==== Bouncing and marker export (StoreBounce.cpp) ====
public:
    // The mix (of the selection, or the whole project) as a new clip on a new last row.
    void bounceToNewTrack();
    // One file per range marker into a folder the user chooses, with the export settings.
    void exportMarkerRanges();
    // The marker list as a CSV file (UTF-8 with a byte-order mark).
    void exportMarkerCSV();

    // ==== End of the area sections ====

Q_SIGNALS:
    void sessionChanged();
    void selectedIDChanged();
    void selectedLaneIDChanged();
    void selectionChanged();
    void freqSelectionChanged();
    void cursorChanged();
    void zoomChanged();
    void loopChanged();
    void busyChanged();
    void statusChanged();
    void errorChanged();
    void projectURLChanged();
    void dirtyChanged();
    void undoNamesChanged();
    void redoNamesChanged();
    void clipboardChanged();
    void showExportChanged();
    void exportSelectionChanged();
    void exportFormatChanged();
    void exportNormalizeChanged();
    void exportLoudnessChanged();
    void exportSampleRateChanged();
    void exportDitherChanged();
    void showMatchLoudnessChanged();
    void gainAmountChanged();
    void chosenEffectChanged();
    void editorModeChanged();
    void timelineToolChanged();
    void snappingChanged();
    void showBrowserChanged();
    void showInspectorChanged();
    void inspectorTabChanged();
    void showAnalysisChanged();
    void exportSelectedTrackChanged();
    void spectralViewChanged();
    void spectrogramsChanged();
    void spectralDisplayChanged();
    void spectralToolChanged();
    void spectralBrushSizeChanged();
    void spectralAttenuationChanged();
    void spectralMaskChanged();
    void spectralMaskTrackIDChanged();
    void noiseProfileChanged();
    void noiseStrengthChanged();
    void showTimePitchChanged();
    void timeRateChanged();
    void timeSemitonesChanged();
    void timeFormatChanged();
    void amplitudeZoomChanged();
    void metronomeChanged();
    void zoomFocusChanged();
    void showEnvelopesChanged();
    void showAutoDuckChanged();
    void favoritesChanged();
    void effectsSheetChanged();
    void diagnosticsChanged();
    void trimDragChanged();
    void laneDragOriginChanged();

private:
    // The question itself, for allowDiscard and allowQuit.
    bool askToDiscard();
    // Writes the project (asks for a file when it has none or `asNew`); saveProject without the lock.
    bool writeProject(bool asNew);

    // ---- the long-command helper ----
    // Runs `work` on a worker (over copies the caller captured), then on the main thread `apply`
    // with its result; a failure of either puts its message in `error` and runs `failed` (when
    // given). `busy` is true from the call until everything has run, and cleared last. A
    // non-empty `working` becomes the status first.
    template <class T>
    void runLong(std::string working, std::function<T()> work, std::function<void(T&&)> apply,
                 std::function<void()> failed = {}, TaskPriority priority = TaskPriority::userInitiated);

public:
    // The user-facing text of a failure: a StudioError's or PlatformError's message, else a
    // generic one.
    static std::string describe(std::exception_ptr failure);

private:
    // Observers.
    void sessionObserver();
    void selectedIDObserver();
    void selectionObserver();
    void timeFormatObserver();

    // Settings.
    Defaults& defaults() const { return *services_.defaults; }
    // A setting read as a Boolean (true/false, numbers, "true"/"false"/"yes"/"no" texts); none
    // when the key is absent or holds something else.
    std::optional<bool> boolSetting(const std::string& key) const;

    StoreServices services_;

    // ---- stored properties, in declaration order ----
    Session session_;
    std::optional<Uuid> selectedID_;
    std::optional<Uuid> selectedLaneID_;
    std::optional<TimeRange> selection_;
    std::optional<ClosedRange> freqSelection_;
    double cursor_ = 0.0;
    double zoom_ = 1.0;
    bool loop_ = false;
    bool busy_ = false;
    std::string status_;
    std::optional<std::string> error_;
    std::optional<std::filesystem::path> projectURL_;
    bool dirty_ = false;
    std::vector<std::string> undoNames_;
    std::vector<std::string> redoNames_;
    std::optional<AudioData> clipboard_;
    bool showExport_ = false;
    bool exportSelection_ = false;
    ExportFormat exportFormat_ = ExportFormat::wav24;
    bool exportNormalize_ = true;
    LoudnessTarget exportLoudness_ = LoudnessTarget::peak;
    ExportSampleRate exportSampleRate_ = ExportSampleRate::hz48000;
    bool exportDither_ = true;
    bool showMatchLoudness_ = false;
    double gainAmount_ = 3.0;
    EffectPreset chosenEffect_ = EffectPreset::voice;
    EditorMode editorMode_ = EditorMode::multitrack;
    TimelineTool timelineTool_ = TimelineTool::move;
    bool snapping_ = true;
    bool showBrowser_ = true;
    bool showInspector_ = true;
    int inspectorTab_ = 0;
    bool showAnalysis_ = false;
    bool exportSelectedTrack_ = false;
    bool spectralView_ = false;
    std::map<Uuid, SpectrogramEntry> spectrograms_;
    SpectralDisplay spectralDisplay_;
    SpectralTool spectralTool_ = SpectralTool::rectangle;
    double spectralBrushSize_ = 24.0;
    double spectralAttenuation_ = 40.0;
    SpectralMask spectralMask_;
    std::optional<Uuid> spectralMaskTrackID_;
    std::optional<NoiseProfile> noiseProfile_;
    double noiseStrength_ = 0.6;
    bool showTimePitch_ = false;
    double timeRate_ = 1.0;
    double timeSemitones_ = 0.0;
    TimeFormat timeFormat_ = TimeFormat::clock;
    double amplitudeZoom_ = 1.0;
    bool metronome_ = false;
    std::optional<ZoomFocus> zoomFocus_;
    NavigationViewport viewport_;  // plain
    bool showEnvelopes_ = false;
    bool showAutoDuck_ = false;
    std::vector<EffectFavorite> favorites_;
    std::optional<EffectsSheet> effectsSheet_;
    DiagnosticsState diagnostics_;
    std::unique_ptr<AudioTransport> transport_;  // plain
    std::deque<HistoryEntry> undoStack_;         // plain, core only
    std::deque<HistoryEntry> redoStack_;         // plain, core only
    bool historyShortened_ = false;              // plain: see olderStepsDropped()
    PunchPlan recordPlan_;                       // plain, core only
    bool recordingTask_ = false;                 // plain
    std::unique_ptr<SingleShot> countdownTask_;  // plain, core only: destroying it cancels the count-in
    // A playback being prepared on a worker; set to true when it is stopped before it starts.
    std::shared_ptr<bool> playbackStart_;
    void dropPlaybackStart();
    std::unique_ptr<SingleShot> revealNote_;     // plain, core only: the file manager's failure, due
    bool revealFailureSaid_ = false;             // plain, core only
    std::set<Uuid> spectrogramJobs_;             // plain, core only
    std::optional<DragOrigin> dragOrigin_;       // plain, core only
    std::optional<TrimDrag> trimDrag_;
    std::optional<LaneDragOrigin> laneDragOrigin_;
    std::unique_ptr<RepeatingTimer> autosaveTimer_;  // plain, core only
    std::int64_t editCounter_ = 0;                   // plain
    std::int64_t autosavedCounter_ = 0;              // plain, core only
    bool autosaveInFlight_ = false;                  // plain, core only
    // A copy left by an earlier run is never overwritten before it was offered and answered.
    bool recoveryAnswered_ = false;  // plain, core only
    Uuid recoveryGeneration_ = Uuid::random();       // plain, core only
    // The autosave write under way: its outcome, for a quit that ends before its result arrives.
    struct AutosaveWrite;
    std::shared_ptr<AutosaveWrite> autosaveWrite_;  // plain, core only
    // The import under way: true once it was given up.
    std::shared_ptr<bool> importDropped_;  // plain, core only
};

}  // namespace tessoral

// ---- the long-command helper ----

namespace tessoral {

template <class T>
void StudioStore::runLong(std::string working, std::function<T()> work, std::function<void(T&&)> apply,
                          std::function<void()> failed, TaskPriority priority) {
    setBusy(true);
    if (!working.empty()) setStatus(std::move(working));
    std::shared_ptr<bool> dropped;
    if (priority == TaskPriority::userRead) importDropped_ = dropped = std::make_shared<bool>(false);
    services_.tasks->run(this, priority, std::move(work),
                         [this, dropped, apply = std::move(apply), failed = std::move(failed)](TaskResult<T> result) mutable {
                             if (dropped) {
                                 if (*dropped) return;
                                 importDropped_.reset();
                             }
                             if (result.ok()) {
                                 try {
                                     apply(std::move(result.value()));
                                 } catch (...) {
                                     setError(describe(std::current_exception()));
                                     if (failed) failed();
                                 }
                             } else {
                                 setError(describe(result.error()));
                                 if (failed) failed();
                             }
                             setBusy(false);
                         });
}

}  // namespace tessoral
