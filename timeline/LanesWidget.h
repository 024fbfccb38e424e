#pragma once

#include <QPointF>
#include <QRect>
#include <QMenu>
#include <QPointer>
#include <QWidget>

#include <optional>
#include <vector>

#include "model/Uuid.h"
#include "timeline/LanesHitTest.h"
#include "timeline/LanesPainter.h"
#include "timeline/LanesSnapshot.h"

class QMenu;

namespace tessoral {

class StudioStore;
class TransportSignals;

// The lanes area: one painted widget for the track rows of the multitrack page
// (LanesMode::multitrack) or for the selected clip alone in the waveform mode's clip editor
// (LanesMode::clipEditor). It draws the rows, the clips with their waveforms or spectrograms,
// fades and envelopes, the trim preview, crossfades, markers, the time selection and the
// playhead, and turns left-button gestures into store commands: row clicks and time selections,
// clip trims, moves, razor cuts and spectral painting, envelope points and fade handles; the
// right button opens the clip's or the fade handle's menu.
//
// The host chooses the scale with setScale() and sizes the widget (contentSize() is what the
// rows need). The widget reads the store through a snapshot rebuilt after the store's signals;
// the transport's 30 Hz position repaints only the playhead's old and new strips.
class LanesWidget : public QWidget {
    Q_OBJECT
public:
    LanesWidget(StudioStore& store, TransportSignals* transport, LanesMode mode, QWidget* parent = nullptr);
    ~LanesWidget() override;

    LanesMode mode() const { return mode_; }
    // Content width in points, the seconds it spans, the height of one row.
    void setScale(double width, double duration, double rowHeight);
    double contentWidth() const { return width_; }
    double duration() const { return duration_; }
    double rowHeight() const { return rowHeight_; }
    // Content width × the rows' total height.
    QSize contentSize() const;
    QSize sizeHint() const override;

    // The x range (lanes coordinates) that a view laid over the lanes covers: the clips' labels
    // keep clear of it. Empty when `from` ≥ `to`.
    void setCover(double from, double to);

    // What the next paint draws (rebuilt first when the store changed).
    const LanesSnapshot& snapshot();
    // What the widget keeps between draws, as it is (for tests: a hidden view keeps no audio).
    const LanesSnapshot& keptSnapshot() const { return snapshot_; }
    // The clip's, the fade handle's or nothing's menu opened by the last right click (tests).
    QMenu* openMenu() const { return menu_; }
    // Rectangles of the paint events since the last clear (tests and benchmarks).
    const std::vector<QRect>& paintLog() const { return paintLog_; }
    void clearPaintLog() { paintLog_.clear(); }
    // The floating value label of a running envelope or fade drag.
    const std::optional<LanesLabel>& label() const { return label_; }

Q_SIGNALS:
    // The rows' total height changed (rows added or removed).
    void contentSizeChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;

private:
    struct Gesture {
        LanesHit::Kind kind = LanesHit::Kind::none;
        QPointF start;
        std::size_t row = 0;
        std::optional<Uuid> lane;
        std::optional<Uuid> clip;
        QPointF clipOrigin;  // the clip's top-left when the press began
        // row and clip
        bool dragging = false;
        bool moving = false;
        std::optional<ClipEdge> trimming;
        // envelope point, line and fade handle
        bool pan = false;
        std::size_t point = 0;
        std::optional<std::size_t> dragIndex;
        bool editing = false;
        bool travelled = false;  // a point or fade drag passed its 1-point minimum
    };

    void markStale();
    // After the project changed: drops the snapshot at the next turn of the event loop unless the
    // widget has drawn (and rebuilt it) by then, so that a hidden view keeps no audio the project
    // no longer has.
    void releaseSoon();
    void requestSpectrograms();
    void updatePlayhead();
    void updateLabel(std::optional<LanesLabel> label);
    void updateHoverCursor(QPointF at);
    // Ends a running gesture as a release would (hidden or disabled mid-drag).
    void finishGesture(Qt::KeyboardModifiers modifiers);

    void rowChanged(QPointF at);
    void clipChanged(QPointF at, Qt::KeyboardModifiers modifiers);
    void clipEnded();
    void lineChanged(QPointF at);
    void lineEnded(Qt::KeyboardModifiers modifiers);
    void pointChanged(QPointF at);
    void pointEnded(Qt::KeyboardModifiers modifiers);
    void fadeChanged(QPointF at);
    void insertPoint(QPointF at);
    void moveDragged(QPointF at);

    // Seconds at a lanes x, clamped to 0…limit and snapped.
    double snappedTime(double x, double limit) const;
    // The clip's current top-left in lanes coordinates (the press's when it is gone).
    QPointF clipOrigin() const;
    QString helpText(const LanesHit& hit);
    void showClipMenu(const Uuid& clip, QPoint global);
    void showFadeMenu(const Uuid& clip, bool fadeIn, QPoint global);

    StudioStore& store_;
    TransportSignals* transport_;
    LanesMode mode_;
    double width_ = 0.0;
    double duration_ = 10.0;
    double rowHeight_ = 134.0;
    double coverFrom_ = 0.0;
    double coverTo_ = 0.0;
    LanesSnapshot snapshot_;
    bool stale_ = true;
    bool releasePosted_ = false;
    std::size_t rowCount_ = 0;
    std::optional<Gesture> gesture_;
    std::optional<LanesLabel> label_;
    double playheadX_ = 0.0;
    SpectrogramPixmaps spectrograms_;
    QPointer<QMenu> menu_;  // clears itself when the menu closes and deletes itself
    std::vector<QRect> paintLog_;
};

}  // namespace tessoral
