#include "timeline/LanesSnapshot.h"

#include <algorithm>
#include <cmath>

#include "store/StudioStore.h"
#include "timeline/TimelineGeometry.h"
#include "widgets/Palette.h"

namespace tessoral {

namespace {

std::optional<ClipSpectralOverlay> spectralOverlay(const StudioStore& store) {
    if (!store.spectralView() || !store.selection()) return std::nullopt;
    const bool maskActive = store.spectralMaskActive();
    if (!maskActive && !store.freqSelection()) return std::nullopt;
    ClipSpectralOverlay overlay;
    if (maskActive) overlay.mask = store.spectralMask();
    overlay.frequencies = store.freqSelection();
    overlay.range = *store.selection();
    return overlay;
}

}  // namespace

LanesSnapshot LanesSnapshot::build(const StudioStore& store, LanesMode mode, double width, double duration,
                                   double rowHeight) {
    LanesSnapshot s;
    s.mode = mode;
    s.width = std::isfinite(width) ? std::max(width, 0.0) : 0.0;
    s.duration = std::isfinite(duration) ? duration : 0.0;
    s.rowHeight = std::isfinite(rowHeight) ? std::max(rowHeight, 0.0) : 0.0;
    s.session = store.session();
    s.tool = store.timelineTool();
    s.spectral = store.spectralView();
    s.spectralTool = store.spectralTool();
    s.display = store.spectralDisplay();
    s.amplitudeZoom = store.amplitudeZoom();
    s.showEnvelopes = store.showEnvelopes();
    s.locked = store.locked();
    s.selection = store.selection();
    s.spectralSelectionShown =
        store.spectralView() && store.selectedIndex().has_value() && (store.spectralMaskActive() || store.freqSelection());

    const double pps = s.pps();
    const Session& session = s.session;
    const auto selectedID = store.selectedID();
    const auto overlay = spectralOverlay(store);

    auto place = [&](std::size_t index, std::size_t row, bool audible) {
        const Track& clip = session.tracks[index];
        ClipItem item;
        item.track = index;
        item.row = row;
        const double w = TimelineGeometry::clipWidth(clip.frames(), pps);
        item.frame = QRectF(clip.start * pps, s.rowHeight * double(row), w, s.rowHeight);
        if (!std::isfinite(item.frame.x())) item.frame.moveLeft(0.0);
        item.color = Palette::track(clip.color);
        item.selected = selectedID && *selectedID == clip.id;
        item.audible = audible;
        if (s.spectral) {
            const auto found = store.spectrograms().find(clip.id);
            if (found != store.spectrograms().end()) item.image = found->second.image;
        }
        if (item.selected) item.overlay = overlay;
        s.clips.push_back(std::move(item));
    };

    if (mode == LanesMode::multitrack) {
        for (const auto& lane : session.lanes) s.rows.emplace_back(lane.id);
        if (store.selectedLaneID()) {
            const auto index = session.laneIndex(store.selectedLaneID());
            if (index) s.selectedRow = *index;
        }
        const bool solo = session.soloActive();
        for (const auto& placement : LaneLayout::placements(session)) {
            const auto index = static_cast<std::size_t>(placement.clip - session.tracks.data());
            place(index, placement.row, session.isAudible(*placement.clip, solo));
        }
        s.crossfades = session.autoCrossfade;
        if (const auto& origin = store.laneDragOrigin()) {
            const auto index = session.laneIndex(origin->id);
            if (index) s.reorderRow = *index;
        }
    } else {
        s.rows.emplace_back(std::nullopt);
        s.selectedRow = 0;
        if (const auto index = store.selectedIndex()) place(*index, 0, true);
    }

    if (const auto& drag = store.trimDrag()) {
        for (const auto& item : s.clips)
            if (s.clip(item).id == drag->id) {
                s.trimDrag = drag;
                s.trimRow = item.row;
                s.trimTint = item.color;
            }
    }
    for (const auto& marker : session.markers) s.markerTimes.push_back(marker.start);
    return s;
}

double LanesSnapshot::pps() const { return TimelineGeometry::pointsPerSecond(width, duration); }

const ClipItem* LanesSnapshot::item(const Uuid& id) const {
    for (const auto& c : clips)
        if (session.tracks[c.track].id == id) return &c;
    return nullptr;
}

bool LanesSnapshot::trimEnabled() const {
    if (mode == LanesMode::clipEditor) return false;
    if (tool == TimelineTool::razor) return false;
    if (!spectral) return true;
    if (spectralTool == SpectralTool::rectangle) return true;
    return tool == TimelineTool::move;
}

bool LanesSnapshot::envelopesEditable() const {
    return tool == TimelineTool::select && (!spectral || spectralTool == SpectralTool::rectangle);
}

bool LanesSnapshot::envelopesShown() const { return showEnvelopes && TimelineGeometry::hasEnvelopeBand(rowHeight); }

}  // namespace tessoral
