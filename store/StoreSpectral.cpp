// Spectral editing: the brush and lasso mask of one clip, the time and frequency selection that
// follow it, the repair under the mask (or a rectangle selection) on a worker, and the Delete key.

#include <algorithm>
#include <cmath>

#include "model/Localization.h"
#include "model/NumberFormat.h"
#include "processing/SpectralScale.h"
#include "store/StudioStore.h"

namespace tessoral {

namespace {

// Highest frequency a selection shows.
constexpr double kTopFrequency = 24000.0;
// Attenuation of the Delete key.
constexpr double kDeleteAttenuation = 60.0;

// The points of a brush stroke or lasso outline; none for a rectangle.
std::vector<SpectralPoint>* pointsOf(SpectralMask::Region& region) {
    if (auto* stroke = std::get_if<SpectralMask::Stroke>(&region.shape.value)) return &stroke->points;
    if (auto* polygon = std::get_if<SpectralMask::Polygon>(&region.shape.value)) return &polygon->points;
    return nullptr;
}

// The mask's extent while it is being painted: as SpectralMask::extent(), except that a lasso
// outline still being drawn (one or two points, no area yet) counts with the box of its points, so
// that its first points do not make the mask look empty.
std::optional<SpectralMask::Bounds> paintedExtent(const SpectralMask& mask) {
    std::optional<SpectralMask::Bounds> result;
    for (const SpectralMask::Region& region : mask.regions) {
        if (region.erase) continue;
        std::optional<SpectralMask::Bounds> b = region.shape.bounds();
        if (!b) {
            const auto* polygon = std::get_if<SpectralMask::Polygon>(&region.shape.value);
            if (!polygon || polygon->points.empty()) continue;
            const SpectralPoint& first = polygon->points.front();
            b = SpectralMask::Bounds{{first.time, first.time}, {first.frequency, first.frequency}};
            for (const SpectralPoint& p : polygon->points) {
                b->time = {std::min(b->time.lower, p.time), std::max(b->time.upper, p.time)};
                b->frequency = {std::min(b->frequency.lower, p.frequency), std::max(b->frequency.upper, p.frequency)};
            }
        }
        if (!result) {
            result = b;
        } else {
            result->time = {std::min(result->time.lower, b->time.lower), std::max(result->time.upper, b->time.upper)};
            result->frequency = {std::min(result->frequency.lower, b->frequency.lower),
                                 std::max(result->frequency.upper, b->frequency.upper)};
        }
    }
    return result;
}

SpectralScale scaleOf(const SpectralMask::Region& region) {
    if (const auto* stroke = std::get_if<SpectralMask::Stroke>(&region.shape.value)) return stroke->scale;
    if (const auto* polygon = std::get_if<SpectralMask::Polygon>(&region.shape.value)) return polygon->scale;
    return SpectralScale::log;
}

}  // namespace

bool StudioStore::spectralMaskActive() const {
    return spectralMaskTrackID_ == selectedID_ && !spectralMask_.regions.empty();
}

bool StudioStore::hasSpectralSelection() const {
    return spectralMaskActive() || (selection_ && freqSelection_);
}

void StudioStore::paintSpectral(const Uuid& clip, double time, double frequency, bool began, bool erase,
                                double secondsPerPixel, double positionPerPixel) {
    if (spectralTool_ != SpectralTool::brush && spectralTool_ != SpectralTool::lasso) return;
    if (!std::isfinite(time) || !std::isfinite(frequency)) return;
    if (!(secondsPerPixel > 0.0) || !(positionPerPixel > 0.0)) return;

    if (began) {
        if (spectralMaskTrackID_ != clip || spectralMask_.regions.empty()) {
            setSpectralMask(SpectralMask{});
            setSpectralMaskTrackID(clip);
            setFreqSelection(std::nullopt);
        }
        if (spectralMask_.regions.size() >= kMaxSpectralRegions) {
            setStatus(L("Слишком много мазков — примените или очистите маску"));
            return;
        }
        if (erase && spectralMask_.regions.empty()) return;
        const SpectralScale scale = spectralDisplay_.scale;
        SpectralMask::Region region;
        region.erase = erase;
        if (spectralTool_ == SpectralTool::lasso) {
            region.shape = SpectralMask::Shape::polygon({SpectralPoint{time, frequency}}, scale);
        } else {
            const double radius = spectralBrushSize_ < 4.0 ? 2.0 : std::min(spectralBrushSize_, 80.0) / 2.0;
            region.shape = SpectralMask::Shape::stroke({SpectralPoint{time, frequency}}, secondsPerPixel * radius,
                                                       positionPerPixel * radius, scale);
        }
        SpectralMask mask = spectralMask_;
        mask.regions.push_back(std::move(region));
        setSpectralMask(std::move(mask));
        syncSpectralSelection();
        return;
    }

    if (spectralMaskTrackID_ != clip || spectralMask_.regions.empty()) return;
    SpectralMask mask = spectralMask_;
    SpectralMask::Region& last = mask.regions.back();
    std::vector<SpectralPoint>* points = pointsOf(last);
    if (!points) return;  // a rectangle
    const std::size_t n = points->size();
    if (n == 0 || n >= kMaxSpectralPoints) return;
    const SpectralPoint& previous = points->back();
    const SpectralScale scale = scaleOf(last);
    const double dx = (time - previous.time) / secondsPerPixel;
    const double dy =
        (SpectralAxis::position(frequency, scale) - SpectralAxis::position(previous.frequency, scale)) / positionPerPixel;
    if (dx * dx + dy * dy < 4.0) return;  // under 2 pixels
    points->push_back(SpectralPoint{time, frequency});
    setSpectralMask(std::move(mask));
    syncSpectralSelection();
}

void StudioStore::finishSpectralShape() {
    if (!spectralMask_.regions.empty()) {
        const SpectralMask::Region& last = spectralMask_.regions.back();
        if (const auto* polygon = std::get_if<SpectralMask::Polygon>(&last.shape.value); polygon && polygon->points.size() < 3) {
            SpectralMask mask = spectralMask_;
            mask.regions.pop_back();
            setSpectralMask(std::move(mask));
        }
    }
    syncSpectralSelection();
}

void StudioStore::syncSpectralSelection() {
    const auto extent = paintedExtent(spectralMask_);
    const Track* clip = spectralMaskTrackID_ ? session_.track(*spectralMaskTrackID_) : nullptr;
    if (!extent || !clip) {
        if (!spectralMask_.regions.empty()) setSpectralMask(SpectralMask{});
        if (selection_) setSelection(std::nullopt);
        return;
    }
    const double s = clip->start;
    setSelection(TimeRange{std::max(extent->time.lower + s, 0.0), std::max(extent->time.upper + s, 0.0)});
    setFreqSelection(ClosedRange{std::max(extent->frequency.lower, 0.0), std::min(extent->frequency.upper, kTopFrequency)});
}

void StudioStore::clearSpectralMask() {
    if (spectralMask_.regions.empty()) return;
    setSpectralMask(SpectralMask{});
    setSelection(std::nullopt);
}

void StudioStore::repairSpectral(SpectralRepairMode mode) {
    if (locked()) return;
    const auto index = selectedIndex();
    if (!index) return;
    const Track& clip = session_.tracks[*index];

    SpectralMask region;
    const bool painted = spectralMaskActive();
    if (painted) {
        region = spectralMask_;
    } else if (selection_ && freqSelection_) {
        SpectralMask::Region rectangle;
        rectangle.shape = SpectralMask::Shape::rectangle(
            ClosedRange{selection_->lower - clip.start, selection_->upper - clip.start}, *freqSelection_);
        region.regions.push_back(std::move(rectangle));
    } else {
        setError(L("В режиме «Спектр» выделите область прямоугольником, кистью или лассо."));
        return;
    }
    const auto extent = region.extent();
    if (!extent || !(extent->time.upper > 0.0) || !(extent->time.lower < clip.duration())) {
        setError(L("Выделите область внутри выбранного клипа."));
        return;
    }

    stop();
    const bool heal = mode.kind == SpectralRepairMode::Kind::heal;
    const std::string undoName = heal ? L("Спектральное восстановление")
                                      : L("Ослабление области на {0} дБ", num::fixed(mode.attenuationDB, 0));
    const std::string working = heal ? L("Спектральное восстановление…") : L("Ослабление области…");

    const Uuid id = clip.id;
    const Uuid revision = clip.revision;
    std::function<RefreshedAudio()> work = [audio = clip.audio, region, mode]() mutable {
        return RefreshedAudio::of(SpectralRepair::repair(std::move(audio), region, mode));
    };
    std::function<void(RefreshedAudio&&)> apply = [this, id, revision, painted, heal,
                                                   undoName](RefreshedAudio&& repaired) {
        // The clip must still hold the audio the repair started from.
        const auto at = session_.trackIndex(id);
        if (!at || session_.tracks[*at].revision != revision) return;
        refreshClip(*at, undoName, std::move(repaired));
        if (painted) {
            setSpectralMask(SpectralMask{});
            setSelection(std::nullopt);
        }
        setStatus(heal ? L("Область восстановлена по соседним участкам") : undoName);
    };
    runLong<RefreshedAudio>(working, std::move(work), std::move(apply));
}

void StudioStore::deleteSelection() {
    if (spectralView_ && hasSpectralSelection()) {
        repairSpectral(SpectralRepairMode::attenuate(kDeleteAttenuation));
    } else if (selection_) {
        edit(EditAction::delete_);
    } else if (editorMode_ == EditorMode::multitrack && selectedIndex()) {
        removeClip();
    }
}

}  // namespace tessoral
