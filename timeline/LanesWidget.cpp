#include "timeline/LanesWidget.h"

#include <QAction>
#include <QActionGroup>
#include <QContextMenuEvent>
#include <QCursor>
#include <QHelpEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QToolTip>

#include <algorithm>
#include <cmath>

#include "model/Localization.h"
#include "model/NumberFormat.h"
#include "store/StudioStore.h"
#include "store/TransportSignals.h"
#include "timeline/TimelineGeometry.h"
#include "widgets/PointerModifiers.h"

namespace tessoral {

namespace G = TimelineGeometry;

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

bool finite(QPointF p) { return std::isfinite(p.x()) && std::isfinite(p.y()); }

// "%+.1f dB" of a volume; "Центр", "L 50%" or "R 50%" of a pan.
std::string describeValue(double v, bool pan) {
    if (!pan) return (v >= 0.0 ? "+" : "") + num::fixed(v, 1) + " dB";
    if (std::abs(v) < 0.005) return L("Центр");
    return std::string(v < 0.0 ? "L" : "R") + " " + num::fixed(std::abs(v) * 100.0, 0) + "%";
}

std::string pointName(bool pan) { return pan ? L("Точка панорамы") : L("Точка громкости"); }

}  // namespace

LanesWidget::LanesWidget(StudioStore& store, TransportSignals* transport, LanesMode mode, QWidget* parent)
    : QWidget(parent), store_(store), transport_(transport), mode_(mode) {
    setObjectName(mode == LanesMode::multitrack ? QStringLiteral("lanesArea") : QStringLiteral("clipEditorLanes"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setFocusPolicy(Qt::ClickFocus);  // a click here ends the editing of a row name
    rowCount_ = mode_ == LanesMode::multitrack ? store_.session().lanes.size() : 1;

    auto stale = [this] { markStale(); };
    for (auto signal : {&StudioStore::selectedIDChanged, &StudioStore::selectedLaneIDChanged, &StudioStore::selectionChanged,
                        &StudioStore::freqSelectionChanged, &StudioStore::timelineToolChanged,
                        &StudioStore::spectrogramsChanged, &StudioStore::spectralToolChanged,
                        &StudioStore::spectralMaskChanged, &StudioStore::spectralMaskTrackIDChanged,
                        &StudioStore::amplitudeZoomChanged, &StudioStore::showEnvelopesChanged,
                        &StudioStore::trimDragChanged, &StudioStore::laneDragOriginChanged})
        connect(&store_, signal, this, stale);
    auto staleAndSpectrograms = [this] {
        markStale();
        requestSpectrograms();
    };
    connect(&store_, &StudioStore::sessionChanged, this, [this, staleAndSpectrograms] {
        const std::size_t rows = mode_ == LanesMode::multitrack ? store_.session().lanes.size() : 1;
        staleAndSpectrograms();
        releaseSoon();
        if (rows != rowCount_) {
            rowCount_ = rows;
            updateGeometry();
            Q_EMIT contentSizeChanged();
        }
    });
    connect(&store_, &StudioStore::spectralViewChanged, this, staleAndSpectrograms);
    connect(&store_, &StudioStore::spectralDisplayChanged, this, staleAndSpectrograms);
    if (mode_ == LanesMode::clipEditor) connect(&store_, &StudioStore::selectedIDChanged, this, staleAndSpectrograms);
    // Locking hides the overlay's handles and the trim cursor.
    auto lockChanged = [this] {
        markStale();
        if (store_.locked() && !(gesture_ && gesture_->trimming)) unsetCursor();
    };
    connect(&store_, &StudioStore::busyChanged, this, lockChanged);
    connect(&store_, &StudioStore::cursorChanged, this, [this] { updatePlayhead(); });
    if (transport_) {
        connect(transport_, &TransportSignals::positionChanged, this, [this] { updatePlayhead(); });
        connect(transport_, &TransportSignals::playingChanged, this, [this] { updatePlayhead(); });
        connect(transport_, &TransportSignals::recordingChanged, this, [this, lockChanged] {
            lockChanged();
            updatePlayhead();
        });
    }
    requestSpectrograms();
}

LanesWidget::~LanesWidget() = default;

void LanesWidget::setScale(double width, double duration, double rowHeight) {
    width = std::isfinite(width) ? std::clamp(width, 0.0, 1.0e7) : 0.0;
    duration = std::isfinite(duration) ? duration : 0.0;
    rowHeight = std::isfinite(rowHeight) ? std::clamp(rowHeight, 0.0, 1.0e5) : 0.0;
    if (width == width_ && duration == duration_ && rowHeight == rowHeight_) return;
    width_ = width;
    duration_ = duration;
    rowHeight_ = rowHeight;
    updateGeometry();
    markStale();
}

QSize LanesWidget::contentSize() const {
    return QSize(G::toPixel(std::ceil(width_)), G::toPixel(std::ceil(rowHeight_ * double(rowCount_))));
}

QSize LanesWidget::sizeHint() const { return contentSize(); }

void LanesWidget::setCover(double from, double to) {
    if (!std::isfinite(from) || !std::isfinite(to) || from >= to) from = to = 0.0;
    if (from == coverFrom_ && to == coverTo_) return;
    coverFrom_ = from;
    coverTo_ = to;
    markStale();
}

const LanesSnapshot& LanesWidget::snapshot() {
    if (stale_) {
        snapshot_ = LanesSnapshot::build(store_, mode_, width_, duration_, rowHeight_);
        snapshot_.coverFrom = coverFrom_;
        snapshot_.coverTo = coverTo_;
        spectrograms_.keepOnly(snapshot_);
        stale_ = false;
    }
    return snapshot_;
}

void LanesWidget::releaseSoon() {
    if (releasePosted_) return;
    releasePosted_ = true;
    // Not at once: a gesture may still read the snapshot after the change it made.
    QMetaObject::invokeMethod(
        this,
        [this] {
            releasePosted_ = false;
            if (stale_) snapshot_ = LanesSnapshot{};
        },
        Qt::QueuedConnection);
}

void LanesWidget::markStale() {
    stale_ = true;
    update();
}

void LanesWidget::requestSpectrograms() {
    if (!store_.spectralView()) return;
    const Session& session = store_.session();
    if (mode_ == LanesMode::clipEditor) {
        if (const auto index = store_.selectedIndex()) store_.ensureSpectrogram(session.tracks[*index]);
        return;
    }
    // Copies: a request may publish the cache, never the project, but stay safe.
    std::vector<Uuid> ids;
    for (const auto& placement : LaneLayout::placements(session)) ids.push_back(placement.clip->id);
    for (const auto& id : ids)
        if (const Track* clip = store_.session().track(id)) store_.ensureSpectrogram(*clip);
}

void LanesWidget::updatePlayhead() {
    const double x = store_.playhead() / std::max(duration_, 0.001) * width_;
    const double nx = std::isfinite(x) ? x : 0.0;
    if (G::toPixel(nx) == G::toPixel(playheadX_)) return;
    const int h = height();
    update(LanesPainter::playheadStrip(playheadX_, h));
    update(LanesPainter::playheadStrip(nx, h));
    playheadX_ = nx;
}

void LanesWidget::updateLabel(std::optional<LanesLabel> label) {
    if (label_) update(LanesPainter::labelRect(*label_).adjusted(-2, -2, 2, 2));
    label_ = std::move(label);
    if (label_) update(LanesPainter::labelRect(*label_).adjusted(-2, -2, 2, 2));
}

void LanesWidget::paintEvent(QPaintEvent* event) {
    for (const QRect& r : event->region()) paintLog_.push_back(r);
    QPainter painter(this);
    const LanesSnapshot& s = snapshot();
    const double playhead = store_.playhead();
    LanesPainter::paint(painter, s, event->rect(), playhead, label_, &spectrograms_);
    playheadX_ = LanesPainter::playheadX(s, playhead);
    // Below the last row (the host may make the widget taller): the window background.
    const int bottom = G::toPixel(std::ceil(s.totalHeight()));
    if (event->rect().bottom() >= bottom)
        painter.fillRect(QRect(event->rect().left(), bottom, event->rect().width(), event->rect().bottom() - bottom + 1),
                         palette().color(QPalette::Window));
}

// ---- helpers ----

double LanesWidget::snappedTime(double x, double limit) const {
    const double t = width_ > 0.0 ? duration_ * x / width_ : 0.0;
    const double clamped = std::isfinite(t) ? std::clamp(t, 0.0, std::max(limit, 0.0)) : 0.0;
    return store_.snapped(clamped);
}

QPointF LanesWidget::clipOrigin() const {
    if (!gesture_ || !gesture_->clip) return {};
    const Session& session = store_.session();
    const Track* clip = session.track(*gesture_->clip);
    if (!clip) return gesture_->clipOrigin;
    const double pps = G::pointsPerSecond(width_, duration_);
    return QPointF(clip->start * pps, gesture_->clipOrigin.y());
}

void LanesWidget::updateHoverCursor(QPointF at) {
    if (gesture_ && gesture_->trimming) {
        setCursor(Qt::SizeHorCursor);
        return;
    }
    const LanesSnapshot& s = snapshot();
    std::optional<ClipEdge> edge;
    if (!s.locked && s.trimEnabled() && finite(at)) {
        for (std::size_t i = s.clips.size(); i-- > 0;) {
            const ClipItem& item = s.clips[i];
            if (!item.frame.contains(at)) continue;
            edge = G::trimZone(at.x() - item.frame.x(), at.y() - item.frame.y(), item.frame.width(), s.rowHeight);
            break;
        }
    }
    if (edge)
        setCursor(Qt::SizeHorCursor);
    else
        unsetCursor();
}

// ---- mouse ----

void LanesWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    event->accept();
    if (gesture_) return;
    const QPointF at = event->position();
    if (!finite(at)) return;
    const LanesSnapshot& s = snapshot();
    const LanesHit hit = hitTest(s, at);
    if (hit.kind == LanesHit::Kind::none) return;
    Gesture g;
    g.kind = hit.kind;
    g.start = at;
    if (hit.row) g.row = *hit.row;
    if (hit.kind == LanesHit::Kind::row && g.row < s.rows.size()) g.lane = s.rows[g.row];
    if (hit.clip) {
        g.clip = s.clip(*hit.clip).id;
        g.clipOrigin = hit.clip->frame.topLeft();
        g.row = hit.clip->row;
    }
    g.pan = hit.pan();
    g.point = hit.point;
    gesture_ = g;
    // The press is the gesture's first change for rows and clips; lines wait for travel, and
    // points and fade handles for their 1-point minimum.
    switch (hit.kind) {
        case LanesHit::Kind::row: rowChanged(at); break;
        case LanesHit::Kind::clip: clipChanged(at, event->modifiers()); break;
        default: break;
    }
}

void LanesWidget::mouseMoveEvent(QMouseEvent* event) {
    const QPointF at = event->position();
    if (!gesture_) {
        updateHoverCursor(at);
        return;
    }
    if (!(event->buttons() & Qt::LeftButton) || !finite(at)) return;
    const QPointF travel = at - gesture_->start;
    switch (gesture_->kind) {
        case LanesHit::Kind::row: rowChanged(at); break;
        case LanesHit::Kind::clip: clipChanged(at, event->modifiers()); break;
        case LanesHit::Kind::volumeLine:
        case LanesHit::Kind::panLine: lineChanged(at); break;
        case LanesHit::Kind::volumePoint:
        case LanesHit::Kind::panPoint:
        case LanesHit::Kind::fadeIn:
        case LanesHit::Kind::fadeOut:
            if (!gesture_->travelled && std::hypot(travel.x(), travel.y()) < 1.0) break;
            gesture_->travelled = true;
            if (gesture_->kind == LanesHit::Kind::fadeIn || gesture_->kind == LanesHit::Kind::fadeOut)
                fadeChanged(at);
            else
                pointChanged(at);
            break;
        default: break;
    }
}

void LanesWidget::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    event->accept();
    finishGesture(event->modifiers());
    updateHoverCursor(event->position());
}

void LanesWidget::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || gesture_) {
        event->ignore();
        return;
    }
    const LanesSnapshot& s = snapshot();
    const LanesHit hit = hitTest(s, event->position());
    if (hit.kind == LanesHit::Kind::volumePoint || hit.kind == LanesHit::Kind::panPoint) {
        event->accept();
        // With Alt (or Shift) the first click already deleted the point: the double click does
        // nothing more.
        if (!alternateHeld(event->modifiers()) && !store_.locked())
            store_.deleteEnvelopePoint(s.clip(*hit.clip).id, hit.pan(), static_cast<std::int64_t>(hit.point));
        return;
    }
    mousePressEvent(event);
}

void LanesWidget::finishGesture(Qt::KeyboardModifiers modifiers) {
    if (!gesture_) return;
    switch (gesture_->kind) {
        case LanesHit::Kind::clip: clipEnded(); break;
        case LanesHit::Kind::volumeLine:
        case LanesHit::Kind::panLine: lineEnded(modifiers); break;
        case LanesHit::Kind::volumePoint:
        case LanesHit::Kind::panPoint: pointEnded(modifiers); break;
        default: break;
    }
    gesture_.reset();
    updateLabel(std::nullopt);
}

void LanesWidget::leaveEvent(QEvent* event) {
    if (!gesture_ || !gesture_->trimming) unsetCursor();
    QWidget::leaveEvent(event);
}

void LanesWidget::hideEvent(QHideEvent* event) {
    // Hidden mid-drag, the widget would never see the release.
    finishGesture(Qt::NoModifier);
    unsetCursor();
    QWidget::hideEvent(event);
}

void LanesWidget::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange && !isEnabled()) {
        finishGesture(Qt::NoModifier);
        unsetCursor();
    }
    QWidget::changeEvent(event);
}

// ---- rows ----

void LanesWidget::rowChanged(QPointF at) {
    if (store_.locked()) return;
    Gesture& g = *gesture_;
    if (!g.dragging) {
        g.dragging = true;
        store_.stop();
        if (g.lane) {
            store_.setSelectedID(std::nullopt);
            store_.selectLane(*g.lane, false);
        }
    }
    const double limit = store_.timelineDuration();
    const double start = snappedTime(g.start.x(), limit);
    const double end = snappedTime(at.x(), limit);
    store_.setCursor(start);
    const double D = store_.session().duration();
    const double lo = std::min(D, std::min(start, end));
    const double hi = std::min(D, std::max(start, end));
    if (store_.timelineTool() != TimelineTool::razor && std::abs(at.x() - g.start.x()) > 3.0 && lo < hi)
        store_.setSelection(TimeRange{lo, hi});
    else
        store_.setSelection(std::nullopt);
    if (g.lane && store_.selection()) {
        const Track* best = store_.session().clipOverlapping(*g.lane, *store_.selection());
        const std::optional<Uuid> id = best ? std::optional<Uuid>(best->id) : std::nullopt;
        if (id != store_.selectedID()) store_.setSelectedID(id);
    }
}

// ---- clips ----

void LanesWidget::clipChanged(QPointF at, Qt::KeyboardModifiers modifiers) {
    if (store_.locked()) return;
    Gesture& g = *gesture_;
    const Uuid id = *g.clip;
    const Track* clip = store_.session().track(id);
    if (!clip) return;
    const LanesSnapshot& s = snapshot();
    const double pps = s.pps();
    const double rh = s.rowHeight;
    const QPointF translation = at - g.start;
    const bool alt = alternateHeld(modifiers);
    const double D = store_.session().duration();
    const double rowTop = double(g.row) * rh;
    auto T = [&](double x) { return width_ > 0.0 ? duration_ * x / width_ : 0.0; };
    auto seconds = [&](double dx) { return width_ > 0.0 ? duration_ * dx / width_ : 0.0; };

    if (!g.trimming && !g.dragging && !g.moving && s.trimEnabled()) {
        const double w = G::clipWidth(clip->frames(), pps);
        if (const auto edge = G::trimZone(g.start.x() - clip->start * pps, g.start.y() - rowTop, w, rh)) {
            g.trimming = edge;
            store_.beginTrim(id, *edge);
            setCursor(Qt::SizeHorCursor);
        }
    }
    if (g.trimming) {
        store_.dragTrim(id, seconds(translation.x()));
        return;
    }
    if (s.tool == TimelineTool::razor) {
        store_.setSelectedID(id);
        store_.setCursor(snappedTime(at.x(), D));
        return;
    }
    if (s.spectral && (s.spectralTool == SpectralTool::brush || s.spectralTool == SpectralTool::lasso) &&
        s.tool == TimelineTool::select && !g.moving) {
        if (rh <= 18.0) return;  // no frequency band to paint on
        const bool began = !g.dragging;
        if (began) {
            store_.stop();
            g.dragging = true;
            store_.setSelectedID(id);
        }
        const Track* now = store_.session().track(id);
        if (!now) return;
        store_.paintSpectral(id, T(at.x()) - now->start, G::frequencyAtY(at.y() - rowTop, rh, s.display.scale), began, alt,
                             width_ > 0.0 ? duration_ / width_ : 0.0, 1.0 / (rh - 18.0));
        return;
    }
    if (!g.dragging && !g.moving && (alt || s.tool == TimelineTool::move)) {
        if (std::hypot(translation.x(), translation.y()) <= 3.0) {
            store_.stop();
            store_.setSelectedID(id);
            store_.setSelection(std::nullopt);
            store_.setCursor(snappedTime(g.start.x(), D));
            return;
        }
        g.moving = true;
        store_.beginTrackDrag(id);
    }
    if (g.moving) {
        const std::int64_t lanes = mode_ == LanesMode::clipEditor ? 0 : LaneLayout::laneOffset(translation.y(), rh);
        store_.dragTrack(id, seconds(translation.x()), lanes);
        return;
    }
    if (!g.dragging) {
        store_.stop();
        g.dragging = true;
        store_.setSelectedID(id);
    }
    const double a = snappedTime(g.start.x(), D);
    const double b = snappedTime(at.x(), D);
    store_.setCursor(a);
    if (std::abs(translation.x()) > 3.0)
        store_.setSelection(TimeRange{std::min(a, b), std::max(a, b)});
    else
        store_.setSelection(std::nullopt);
    if (s.spectral && store_.selection()) {
        const double f0 = G::frequencyAtY(g.start.y() - rowTop, rh, s.display.scale);
        const double f1 = G::frequencyAtY(at.y() - rowTop, rh, s.display.scale);
        store_.setFreqSelection(ClosedRange{std::min(f0, f1), std::max(f0, f1)});
    }
}

void LanesWidget::clipEnded() {
    Gesture& g = *gesture_;
    if (g.trimming) {
        store_.endTrim();
        g.trimming.reset();
        unsetCursor();
        return;
    }
    if (store_.timelineTool() == TimelineTool::razor) store_.split();
    if (g.moving) store_.endTrackDrag();
    if (g.dragging && store_.spectralView() && store_.spectralTool() != SpectralTool::rectangle) store_.finishSpectralShape();
    g.dragging = false;
    g.moving = false;
}

// ---- envelope lines and points ----

void LanesWidget::insertPoint(QPointF at) {
    Gesture& g = *gesture_;
    const Track* clip = store_.session().track(*g.clip);
    if (!clip || store_.locked()) return;
    const double pps = G::pointsPerSecond(width_, duration_);
    if (!(pps > 0.0)) return;
    const QPointF local = at - clipOrigin();
    g.editing = true;
    store_.beginAutomationEdit(pointName(g.pan));
    const double t = std::min(std::max(local.x() / pps, 0.0), double(clip->frames()) / 48000.0);
    const double v = G::envelopeValue(local.y(), g.pan, G::envelopeBand(rowHeight_));
    g.dragIndex = store_.insertEnvelopePoint(*g.clip, g.pan, t, v);
}

void LanesWidget::moveDragged(QPointF at) {
    Gesture& g = *gesture_;
    if (!g.dragIndex || store_.locked()) return;
    const Track* clip = store_.session().track(*g.clip);
    const double pps = G::pointsPerSecond(width_, duration_);
    if (!clip || !(pps > 0.0)) return;
    const QPointF origin = clipOrigin();
    const QPointF local = at - origin;
    const auto band = G::envelopeBand(rowHeight_);
    const double t = std::min(std::max(local.x() / pps, 0.0), double(clip->frames()) / 48000.0);
    const double v = G::envelopeValue(local.y(), g.pan, band);
    store_.moveEnvelopePoint(*g.clip, g.pan, static_cast<std::int64_t>(*g.dragIndex), t, v);
    const Track* moved = store_.session().track(*g.clip);
    if (!moved) return;
    const Envelope& points = g.pan ? moved->panEnvelope : moved->volumeEnvelope;
    if (*g.dragIndex >= points.size()) return;
    const AutomationPoint& stored = points[*g.dragIndex];
    updateLabel(LanesLabel{qs(describeValue(stored.value, g.pan) + " · " + timeLabel(stored.time)),
                           origin + QPointF(stored.time * pps, G::envelopeY(stored.value, g.pan, band)), origin.y()});
}

void LanesWidget::lineChanged(QPointF at) {
    if (store_.locked()) return;
    Gesture& g = *gesture_;
    if (!g.dragIndex) {
        const QPointF travel = at - g.start;
        if (std::hypot(travel.x(), travel.y()) <= 3.0) return;
        insertPoint(g.start);
    }
    moveDragged(at);
}

void LanesWidget::lineEnded(Qt::KeyboardModifiers modifiers) {
    Gesture& g = *gesture_;
    if (!g.dragIndex && !store_.locked()) {
        if (modifiers & Qt::ControlModifier) {
            insertPoint(g.start);
        } else if (const Track* clip = store_.session().track(*g.clip)) {
            const double pps = G::pointsPerSecond(width_, duration_);
            const double x = (g.start - clipOrigin()).x();
            const double start = clip->start;
            const double D = store_.session().duration();
            store_.stop();
            store_.setSelectedID(*g.clip);
            store_.setSelection(std::nullopt);
            const double t = pps > 0.0 ? start + x / pps : start;
            store_.setCursor(store_.snapped(std::min(std::max(std::isfinite(t) ? t : 0.0, 0.0), D)));
        }
    }
    g.dragIndex.reset();
    g.editing = false;
}

void LanesWidget::pointChanged(QPointF at) {
    if (store_.locked()) return;
    Gesture& g = *gesture_;
    if (!g.dragIndex) {
        g.editing = true;
        g.dragIndex = g.point;
        store_.beginAutomationEdit(pointName(g.pan));
    }
    moveDragged(at);
}

void LanesWidget::pointEnded(Qt::KeyboardModifiers modifiers) {
    Gesture& g = *gesture_;
    // A tap (no drag): Alt (or Shift) deletes the point, a plain click does nothing.
    if (!g.travelled && alternateHeld(modifiers) && !store_.locked())
        store_.deleteEnvelopePoint(*g.clip, g.pan, static_cast<std::int64_t>(g.point));
    g.dragIndex.reset();
    g.editing = false;
}

// ---- fade handles ----

void LanesWidget::fadeChanged(QPointF at) {
    if (store_.locked()) return;
    Gesture& g = *gesture_;
    const bool fadeIn = g.kind == LanesHit::Kind::fadeIn;
    const Track* clip = store_.session().track(*g.clip);
    const double pps = G::pointsPerSecond(width_, duration_);
    if (!(pps > 0.0)) return;
    if (!g.editing) {
        g.editing = true;
        store_.beginAutomationEdit(fadeIn ? L("Нарастание") : L("Затухание"));
    }
    const QPointF origin = clipOrigin();
    const double x = (at - origin).x();
    if (clip) {
        const double w = std::max(double(clip->frames()) / 48000.0 * pps, 1.0);
        if (fadeIn)
            store_.setFadeLive(*g.clip, x / pps, std::nullopt);
        else
            store_.setFadeLive(*g.clip, std::nullopt, (w - x) / pps);
    }
    const Track* now = store_.session().track(*g.clip);
    const double stored = now ? (fadeIn ? now->fadeIn : now->fadeOut) : 0.0;
    const std::string s = num::fixed(stored, 2);
    updateLabel(LanesLabel{qs(fadeIn ? L("Нарастание {0} с", s) : L("Затухание {0} с", s)), origin + QPointF(x, 31.0), origin.y()});
}

// ---- menus and help ----

void LanesWidget::contextMenuEvent(QContextMenuEvent* event) {
    const LanesSnapshot& s = snapshot();
    const LanesHit hit = hitTest(s, QPointF(event->pos()));
    if (!hit.clip) {
        event->ignore();
        return;
    }
    event->accept();
    const Uuid id = s.clip(*hit.clip).id;
    if (hit.kind == LanesHit::Kind::fadeIn || hit.kind == LanesHit::Kind::fadeOut)
        showFadeMenu(id, hit.kind == LanesHit::Kind::fadeIn, event->globalPos());
    else
        showClipMenu(id, event->globalPos());
}

void LanesWidget::showClipMenu(const Uuid& clip, QPoint global) {
    if (menu_) menu_->deleteLater();
    menu_ = new QMenu(this);
    menu_->setAttribute(Qt::WA_DeleteOnClose);
    QAction* wave = menu_->addAction(qs(L("Волна")));
    connect(wave, &QAction::triggered, this, [this, clip] {
        store_.setSelectedID(clip);
        store_.switchMode(EditorMode::waveform);
    });
    menu_->addSeparator();
    QAction* duplicate = menu_->addAction(qs(L("Дублировать клип")));
    duplicate->setEnabled(store_.session().tracks.size() < 256 && !store_.locked());
    connect(duplicate, &QAction::triggered, this, [this, clip] {
        store_.setSelectedID(clip);
        store_.duplicateClip();
    });
    QAction* remove = menu_->addAction(qs(L("Удалить клип")));
    remove->setEnabled(!store_.locked());
    connect(remove, &QAction::triggered, this, [this, clip] {
        store_.setSelectedID(clip);
        store_.removeClip();
    });
    menu_->popup(global);
}

void LanesWidget::showFadeMenu(const Uuid& clip, bool fadeIn, QPoint global) {
    const Track* track = store_.session().track(clip);
    if (!track) return;
    if (menu_) menu_->deleteLater();
    menu_ = new QMenu(this);
    menu_->setAttribute(Qt::WA_DeleteOnClose);
    const FadeCurve current = fadeIn ? track->fadeInCurve : track->fadeOutCurve;
    const std::pair<FadeCurve, const char*> curves[] = {
        {FadeCurve::linear, "Линейная"}, {FadeCurve::logarithmic, "Логарифмическая"}, {FadeCurve::cosine, "S-образная"}};
    for (const auto& [curve, title] : curves) {
        QAction* action = menu_->addAction(qs(L(title)));
        action->setCheckable(true);
        action->setChecked(curve == current);
        connect(action, &QAction::triggered, this, [this, clip, fadeIn, curve = curve] { store_.setFadeCurve(clip, fadeIn, curve); });
    }
    menu_->addSeparator();
    QAction* remove = menu_->addAction(qs(fadeIn ? L("Убрать нарастание") : L("Убрать затухание")));
    connect(remove, &QAction::triggered, this, [this, clip, fadeIn] {
        store_.changeTrack(clip, L("Удаление фейда"), [fadeIn](Track& t) { (fadeIn ? t.fadeIn : t.fadeOut) = 0.0; });
    });
    menu_->popup(global);
}

QString LanesWidget::helpText(const LanesHit& hit) {
    const LanesSnapshot& s = snapshot();
    switch (hit.kind) {
        case LanesHit::Kind::none: return {};
        case LanesHit::Kind::row:
            return qs(hit.row && *hit.row < s.rows.size() && s.rows[*hit.row]
                          ? L("Щелчок — курсор и выбор дорожки; перетаскивание — выделение времени")
                          : L("Перетаскивание — выделение времени"));
        case LanesHit::Kind::clip:
            if (s.mode == LanesMode::clipEditor)
                return qs(L("Перетаскивание — выделение; Alt или Shift + перетаскивание — сдвиг клипа по времени"));
            switch (s.tool) {
                case TimelineTool::razor: return qs(L("Щелчок — разделить клип"));
                case TimelineTool::select:
                    return qs(L("Перетаскивание — выделение; Alt или Shift + перетаскивание или инструмент «Перемещение» — сдвиг клипа по времени и на другую дорожку; край клипа — обрезка"));
                case TimelineTool::move:
                    return qs(L("Щелчок — выбрать клип; перетаскивание — переместить; край — обрезать; T — выделить время; R — разделить"));
            }
            return {};
        case LanesHit::Kind::volumeLine: return qs(L("Громкость: перетаскивание или Ctrl-щелчок — новая точка"));
        case LanesHit::Kind::panLine: return qs(L("Панорама: перетаскивание или Ctrl-щелчок — новая точка"));
        case LanesHit::Kind::volumePoint:
        case LanesHit::Kind::panPoint: {
            const Track& clip = s.clip(*hit.clip);
            const Envelope& points = hit.pan() ? clip.panEnvelope : clip.volumeEnvelope;
            if (hit.point >= points.size()) return {};
            return qs(L("{0} · {1}. Alt- или Shift-щелчок либо двойной щелчок — удалить", describeValue(points[hit.point].value, hit.pan()),
                        timeLabel(points[hit.point].time)));
        }
        case LanesHit::Kind::fadeIn: return qs(L("Нарастание: тяните вправо; правый щелчок — форма кривой"));
        case LanesHit::Kind::fadeOut: return qs(L("Затухание: тяните влево; правый щелчок — форма кривой"));
    }
    return {};
}

bool LanesWidget::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString text = helpText(hitTest(snapshot(), QPointF(help->pos())));
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), text, this);
        return true;
    }
    return QWidget::event(event);
}

}  // namespace tessoral
