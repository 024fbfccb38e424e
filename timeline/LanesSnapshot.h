#pragma once

#include <QColor>
#include <QRectF>

#include <cstddef>
#include <optional>
#include <vector>

#include "model/EditorVocabulary.h"
#include "model/Session.h"
#include "model/Trimming.h"
#include "processing/SpectralAnalysis.h"
#include "processing/SpectralMask.h"

namespace tessoral {

class StudioStore;

// Which host the lanes serve: every track row of the project, or the selected clip alone in the
// waveform mode's clip editor.
enum class LanesMode { multitrack, clipEditor };

// The spectral selection drawn on the selected clip.
struct ClipSpectralOverlay {
    std::optional<SpectralMask> mask;
    std::optional<ClosedRange> frequencies;
    TimeRange range;
};

// One placed clip, as the painter and the hit test see it.
struct ClipItem {
    std::size_t track = 0;  // index in the snapshot's session.tracks
    std::size_t row = 0;
    QRectF frame;  // x = start × pps, y = row × rowHeight, w × rowHeight
    QColor color;
    bool selected = false;
    bool audible = true;
    std::optional<SpectrogramImage> image;           // spectral view: the store's cached image
    std::optional<ClipSpectralOverlay> overlay;      // selected clip only
};

// Everything one paint or hit test of the lanes reads, taken from the store at once. The widget
// marks it stale on the store's signals and rebuilds it at the next paint or press.
struct LanesSnapshot {
    LanesMode mode = LanesMode::multitrack;
    double width = 0.0;
    double duration = 0.0;
    double rowHeight = 134.0;
    Session session;
    std::vector<std::optional<Uuid>> rows;  // one lane id per row (none in the clip editor)
    std::optional<std::size_t> selectedRow;
    std::vector<ClipItem> clips;  // placement order: later clips lie on top
    TimelineTool tool = TimelineTool::move;
    bool spectral = false;
    SpectralTool spectralTool = SpectralTool::rectangle;
    SpectralDisplay display;
    double amplitudeZoom = 1.0;
    bool showEnvelopes = false;
    bool locked = false;
    std::optional<TimeRange> selection;
    bool spectralSelectionShown = false;
    std::optional<TrimDrag> trimDrag;
    std::optional<std::size_t> trimRow;
    QColor trimTint;
    std::optional<std::size_t> reorderRow;
    std::vector<double> markerTimes;
    bool crossfades = false;
    // The x range (lanes coordinates) that a view laid over the lanes hides from the clips'
    // labels; empty when equal.
    double coverFrom = 0.0;
    double coverTo = 0.0;

    static LanesSnapshot build(const StudioStore& store, LanesMode mode, double width, double duration,
                               double rowHeight);

    double pps() const;
    double totalHeight() const { return rowHeight * static_cast<double>(rows.size()); }
    const Track& clip(const ClipItem& item) const { return session.tracks[item.track]; }
    // The item of a clip id, none when it is not placed.
    const ClipItem* item(const Uuid& id) const;
    // Edges trim: not in the clip editor, not with the razor; in the spectral view only with the
    // rectangle tool, or brush and lasso under the move tool.
    bool trimEnabled() const;
    // Envelope lines and points take the pointer: select tool, spectral view off or rectangle tool.
    bool envelopesEditable() const;
    // Envelopes are drawn and (when editable) edited: shown, and the row tall enough for the band.
    bool envelopesShown() const;
};

}  // namespace tessoral
