#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

class QScrollArea;
class QWidget;

namespace tessoral {

class StudioStore;

namespace Navigation {

// x of the one-point anchor for time t on a strip `width` wide spanning `duration` seconds:
// width × t / duration clamped to 0…width − 1 (0 for a strip under one point).
double anchorX(double t, double width, double duration);
// The horizontal scroll offset that shows the anchor at `anchorX` at `fraction` of a viewport
// `viewportWidth` wide (the anchor's own point at that fraction of its one-point width).
double scrollOffset(double anchorX, double fraction, double viewportWidth);
// The pointer's fraction of the visible width and the time under it.
double pointerFraction(double x, double baseWidth);
double pointerTime(double x, double width, double duration);

}  // namespace Navigation

// Keeps a horizontally scrolled timeline in step with the store's zoom: writes the visible base
// width into `store.viewport`, tracks the pointer over the scroll view (its fraction of the
// visible width) and over the content (the time under it), and after every zoom scrolls, on a
// later turn of the event loop when the content has its new width, so that the zoom focus stands
// at its fraction of the visible width. Only the horizontal offset moves.
class NavigationController : public QObject {
    Q_OBJECT
public:
    struct Geometry {
        std::function<double()> baseWidth;     // the visible width at zoom 1
        std::function<double()> contentWidth;  // the content's width (base width × zoom)
        std::function<double()> duration;      // the seconds the content spans
    };
    NavigationController(StudioStore& store, QScrollArea* area, QWidget* content, Geometry geometry);

    // Pointer moves over `widget` (inside the content) count as over the content.
    void watch(QWidget* widget);
    // The scroll to the current zoom focus (queued by every zoom).
    void scrollToFocus();
    // Writes the base width into the store's viewport.
    void syncBaseWidth();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void pointerAt(QWidget* source, QPointF at);

    StudioStore& store_;
    QPointer<QScrollArea> area_;
    QPointer<QWidget> viewport_;  // the area's viewport
    QPointer<QWidget> content_;
    Geometry geometry_;
};

}  // namespace tessoral
