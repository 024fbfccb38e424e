#include "store/StudioStore.h"

#include <algorithm>
#include <exception>

#include "model/AtomicFile.h"
#include "model/Defaults.h"
#include "model/EnumTraits.h"
#include "model/Localization.h"
#include "model/StudioError.h"
#include "model/UnicodeText.h"

namespace tessoral {

namespace {

std::vector<EffectFavorite> loadFavorites(const std::optional<std::filesystem::path>& dataFolder) {
    if (!dataFolder) return {};
    try {
        FavoritesStore favorites(*dataFolder / "Favorites.json");
        return favorites.load();
    } catch (...) {
        return {};  // an unreadable favourites file gives an empty list, without a message
    }
}

}  // namespace

StudioStore::StudioStore(StoreServices services, QObject* parent)
    : QObject(parent), services_(std::move(services)) {
    // Stored properties in declaration order; the initial values run no observer.
    status_ = L("Готово#ready");
    if (const auto stored = defaults().string("timeFormat"))
        timeFormat_ = fromRaw<TimeFormat>(*stored).value_or(TimeFormat::clock);
    favorites_ = loadFavorites(services_.dataFolder);
    // Temporaries that a killed run left half-written: in the data folder, and beside the files it
    // saved or exported, as its record lists them. This run's writes are recorded from now on.
    if (services_.dataFolder) {
        AtomicFile::removeStale(*services_.dataFolder);
        AtomicFile::removeRecordedStale(*services_.dataFolder);
        AtomicFile::recordTemporariesIn(*services_.dataFolder);
    }
    transport_ = std::make_unique<AudioTransport>(*services_.backend, *services_.scheduler, *services_.defaults);

    loadExportDefaults();
    installTransportCallbacks();
    autosaveTimer_ = services_.scheduler->repeat(services_.autosaveSeconds, [this] { autosave(); });
}

StudioStore::~StudioStore() {
    if (services_.dataFolder) AtomicFile::recordTemporariesIn(std::nullopt);
    // Nothing may call back into a store that is going away.
    autosaveTimer_.reset();
    countdownTask_.reset();
    if (transport_) {
        transport_->recordingFinished = nullptr;
        transport_->playbackFinished = nullptr;
        transport_->failed = nullptr;
        transport_->changed = nullptr;
    }
    transport_.reset();
}

// ---- published properties ----

#define TESSORAL_PUBLISHED(Type, name, Name)    \
    void StudioStore::set##Name(Type value) {   \
        name##_ = std::move(value);             \
        Q_EMIT name##Changed();                   \
    }

TESSORAL_PUBLISHED(std::optional<std::filesystem::path>, projectURL, ProjectURL)
TESSORAL_PUBLISHED(bool, dirty, Dirty)
TESSORAL_PUBLISHED(std::optional<Uuid>, selectedLaneID, SelectedLaneID)
TESSORAL_PUBLISHED(std::optional<ClosedRange>, freqSelection, FreqSelection)
TESSORAL_PUBLISHED(double, cursor, Cursor)
TESSORAL_PUBLISHED(double, zoom, Zoom)
TESSORAL_PUBLISHED(std::optional<ZoomFocus>, zoomFocus, ZoomFocus)
TESSORAL_PUBLISHED(double, amplitudeZoom, AmplitudeZoom)
TESSORAL_PUBLISHED(EditorMode, editorMode, EditorMode)
TESSORAL_PUBLISHED(TimelineTool, timelineTool, TimelineTool)
TESSORAL_PUBLISHED(bool, snapping, Snapping)
TESSORAL_PUBLISHED(bool, showBrowser, ShowBrowser)
TESSORAL_PUBLISHED(bool, showInspector, ShowInspector)
TESSORAL_PUBLISHED(int, inspectorTab, InspectorTab)
TESSORAL_PUBLISHED(bool, showAnalysis, ShowAnalysis)
TESSORAL_PUBLISHED(bool, showEnvelopes, ShowEnvelopes)
TESSORAL_PUBLISHED(bool, metronome, Metronome)
TESSORAL_PUBLISHED(bool, loop, Loop)
TESSORAL_PUBLISHED(bool, showMatchLoudness, ShowMatchLoudness)
TESSORAL_PUBLISHED(bool, showTimePitch, ShowTimePitch)
TESSORAL_PUBLISHED(bool, showAutoDuck, ShowAutoDuck)
TESSORAL_PUBLISHED(std::optional<EffectsSheet>, effectsSheet, EffectsSheet)
TESSORAL_PUBLISHED(bool, busy, Busy)
TESSORAL_PUBLISHED(std::string, status, Status)
TESSORAL_PUBLISHED(std::optional<std::string>, error, Error)
TESSORAL_PUBLISHED(std::vector<std::string>, undoNames, UndoNames)
TESSORAL_PUBLISHED(std::vector<std::string>, redoNames, RedoNames)
TESSORAL_PUBLISHED(std::optional<AudioData>, clipboard, Clipboard)
TESSORAL_PUBLISHED(bool, exportSelection, ExportSelection)
TESSORAL_PUBLISHED(bool, exportSelectedTrack, ExportSelectedTrack)
TESSORAL_PUBLISHED(ExportFormat, exportFormat, ExportFormat)
TESSORAL_PUBLISHED(bool, exportNormalize, ExportNormalize)
TESSORAL_PUBLISHED(LoudnessTarget, exportLoudness, ExportLoudness)
TESSORAL_PUBLISHED(ExportSampleRate, exportSampleRate, ExportSampleRate)
TESSORAL_PUBLISHED(bool, exportDither, ExportDither)
TESSORAL_PUBLISHED(double, gainAmount, GainAmount)
TESSORAL_PUBLISHED(EffectPreset, chosenEffect, ChosenEffect)
TESSORAL_PUBLISHED(std::optional<NoiseProfile>, noiseProfile, NoiseProfile)
TESSORAL_PUBLISHED(double, noiseStrength, NoiseStrength)
TESSORAL_PUBLISHED(double, timeRate, TimeRate)
TESSORAL_PUBLISHED(double, timeSemitones, TimeSemitones)
TESSORAL_PUBLISHED(std::vector<EffectFavorite>, favorites, Favorites)
TESSORAL_PUBLISHED(DiagnosticsState, diagnostics, Diagnostics)
TESSORAL_PUBLISHED(bool, spectralView, SpectralView)
using SpectrogramMap = std::map<Uuid, SpectrogramEntry>;
TESSORAL_PUBLISHED(SpectrogramMap, spectrograms, Spectrograms)
TESSORAL_PUBLISHED(SpectralDisplay, spectralDisplay, SpectralDisplay)
TESSORAL_PUBLISHED(SpectralTool, spectralTool, SpectralTool)
TESSORAL_PUBLISHED(double, spectralBrushSize, SpectralBrushSize)
TESSORAL_PUBLISHED(double, spectralAttenuation, SpectralAttenuation)
TESSORAL_PUBLISHED(SpectralMask, spectralMask, SpectralMask)
TESSORAL_PUBLISHED(std::optional<Uuid>, spectralMaskTrackID, SpectralMaskTrackID)
TESSORAL_PUBLISHED(std::optional<TrimDrag>, trimDrag, TrimDrag)
TESSORAL_PUBLISHED(std::optional<LaneDragOrigin>, laneDragOrigin, LaneDragOrigin)

#undef TESSORAL_PUBLISHED

// Properties with observers: the observer runs after the signal.

void StudioStore::setSession(Session value) {
    session_ = std::move(value);
    Q_EMIT sessionChanged();
    sessionObserver();
}

void StudioStore::setSelectedID(std::optional<Uuid> value) {
    selectedID_ = std::move(value);
    Q_EMIT selectedIDChanged();
    selectedIDObserver();
}

void StudioStore::setSelection(std::optional<TimeRange> value) {
    selection_ = std::move(value);
    Q_EMIT selectionChanged();
    selectionObserver();
}

void StudioStore::setTimeFormat(TimeFormat value) {
    timeFormat_ = value;
    Q_EMIT timeFormatChanged();
    timeFormatObserver();
}

void StudioStore::setShowExport(bool value) {
    const bool opens = !showExport_ && value;
    showExport_ = value;
    Q_EMIT showExportChanged();
    if (opens) loadExportDefaults();
}

// ---- observers ----

void StudioStore::sessionObserver() {
    if (session_.needsLaneNormalization()) {
        Session normalized = session_;
        normalized.normalizeLanes();
        setSession(std::move(normalized));  // runs this observer again, nested
    }
    selectedIDObserver();
}

void StudioStore::selectedIDObserver() {
    // Lane follow: the selected clip's row becomes the selected row.
    const auto index = selectedIndex();
    if (!index) return;
    const auto& laneID = session_.tracks[*index].laneID;
    if (laneID && laneID != selectedLaneID_) setSelectedLaneID(laneID);
}

void StudioStore::selectionObserver() {
    if (selection_) return;
    setFreqSelection(std::nullopt);
    if (!spectralMask_.regions.empty()) setSpectralMask(SpectralMask{});
}

void StudioStore::timeFormatObserver() {
    defaults().set("timeFormat", std::string(rawValue(timeFormat_)));
}

// ---- computed properties ----

bool StudioStore::locked() const { return busy_ || transport_->recording(); }

std::optional<std::size_t> StudioStore::selectedIndex() const {
    if (!selectedID_) return std::nullopt;
    for (std::size_t i = 0; i < session_.tracks.size(); ++i)
        if (session_.tracks[i].id == *selectedID_) return i;
    return std::nullopt;
}

double StudioStore::timelineDuration() const {
    double d = std::max(10.0, session_.duration() + 1.0);
    if (transport_->recording()) d = std::max(d, transport_->position() + 5.0);
    return d;
}

std::string StudioStore::title() const {
    if (!projectURL_) return L("Новый проект");
    return UnicodeText::wellFormed(projectURL_->stem().native());
}

double StudioStore::playhead() const {
    return transport_->playing() || transport_->recording() ? transport_->position() : cursor_;
}

std::string StudioStore::describe(std::exception_ptr failure) {
    if (!failure) return L("Не удалось выполнить действие");
    try {
        std::rethrow_exception(failure);
    } catch (const PlatformError& e) {
        return e.message();
    } catch (const StudioError& e) {
        return e.message();
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return L("Не удалось выполнить действие");
    }
}

}  // namespace tessoral
