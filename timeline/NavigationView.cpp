#include "timeline/NavigationView.h"

#include <QEvent>
#include <QMouseEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <cmath>

#include "store/StudioStore.h"

namespace tessoral {

namespace Navigation {

double anchorX(double t, double width, double duration) {
    if (!(width >= 1.0) || !std::isfinite(width)) return 0.0;
    const double x = width * t / std::max(duration, 1e-9);
    if (std::isnan(x)) return 0.0;
    return std::max(0.0, std::min(x, width - 1.0));
}

double scrollOffset(double anchorX, double fraction, double viewportWidth) {
    const double f = std::isfinite(fraction) ? fraction : 0.0;
    const double offset = anchorX + f - f * viewportWidth;
    return std::isfinite(offset) ? offset : 0.0;
}

double pointerFraction(double x, double baseWidth) {
    const double w = std::isnan(baseWidth) ? 1.0 : std::max(baseWidth, 1.0);
    return x / w;
}

double pointerTime(double x, double width, double duration) {
    const double w = std::isnan(width) ? 1.0 : std::max(width, 1.0);
    return duration * (x / w);
}

}  // namespace Navigation

NavigationController::NavigationController(StudioStore& store, QScrollArea* area, QWidget* content, Geometry geometry)
    : QObject(area), store_(store), area_(area), viewport_(area->viewport()), content_(content), geometry_(std::move(geometry)) {
    area->viewport()->setMouseTracking(true);
    area->viewport()->installEventFilter(this);
    content->setMouseTracking(true);
    content->installEventFilter(this);
    connect(&store_, &StudioStore::zoomFocusChanged, this, [this] {
        // After the content took its new width: on a later turn of the event loop.
        if (store_.zoomFocus()) QMetaObject::invokeMethod(this, &NavigationController::scrollToFocus, Qt::QueuedConnection);
    });
}

void NavigationController::watch(QWidget* widget) {
    if (widget) widget->installEventFilter(this);
}

void NavigationController::syncBaseWidth() {
    const double base = geometry_.baseWidth ? geometry_.baseWidth() : 0.0;
    if (!std::isfinite(base) || base <= 0.0) return;
    NavigationViewport v = store_.viewport();
    if (v.baseWidth == base) return;
    v.baseWidth = base;
    store_.setViewport(v);
}

void NavigationController::scrollToFocus() {
    const auto& focus = store_.zoomFocus();
    if (!focus || !area_) return;
    const double x = Navigation::anchorX(focus->time, geometry_.contentWidth(), geometry_.duration());
    const double offset = Navigation::scrollOffset(x, focus->fraction, area_->viewport()->width());
    QScrollBar* bar = area_->horizontalScrollBar();
    bar->setValue(int(std::clamp(std::round(offset), double(bar->minimum()), double(bar->maximum()))));
}

void NavigationController::pointerAt(QWidget* source, QPointF at) {
    if (!area_ || !content_) return;
    NavigationViewport v = store_.viewport();
    const QPointF inViewport = source == area_->viewport() ? at : QPointF(source->mapTo(area_->viewport(), at.toPoint()));
    v.pointerFraction = Navigation::pointerFraction(inViewport.x(), geometry_.baseWidth());
    if (source != area_->viewport()) {
        const double x = source == content_ ? at.x() : source->mapTo(content_, at.toPoint()).x() + (at.x() - std::floor(at.x()));
        v.pointerTime = Navigation::pointerTime(x, geometry_.contentWidth(), geometry_.duration());
    }
    store_.setViewport(v);
}

bool NavigationController::eventFilter(QObject* watched, QEvent* event) {
    auto* w = qobject_cast<QWidget*>(watched);
    // Only the viewport and content pointers are touched here: this also runs while the scroll
    // view is being destroyed, when it is no longer a scroll area.
    if (!w || viewport_.isNull()) return false;
    switch (event->type()) {
        case QEvent::MouseMove:
            pointerAt(w, static_cast<QMouseEvent*>(event)->position());
            break;
        case QEvent::Leave: {
            NavigationViewport v = store_.viewport();
            if (w == viewport_.data()) {
                // Leaving the scroll view leaves the content too.
                v.pointerFraction.reset();
                v.pointerTime.reset();
            } else if (w == content_.data()) {
                v.pointerTime.reset();
            } else {
                break;
            }
            store_.setViewport(v);
            break;
        }
        case QEvent::Resize:
        case QEvent::Show:
            if (w == viewport_.data()) QTimer::singleShot(0, this, &NavigationController::syncBaseWidth);
            break;
        default:
            break;
    }
    return false;
}

}  // namespace tessoral
