#include "app/editor/WaveformEditor.h"

#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedLayout>

#include <algorithm>
#include <cmath>

#include "app/inspector/InspectorStyle.h"
#include "model/Localization.h"
#include "store/StudioStore.h"
#include "store/TransportSignals.h"
#include "timeline/AmplitudeScale.h"
#include "timeline/BeatGridOverlay.h"
#include "timeline/LanesWidget.h"
#include "widgets/MarkerRuler.h"
#include "widgets/Styling.h"
#include "widgets/TimeRuler.h"

namespace tessoral {

namespace {

int pixels(double v) {
    if (!std::isfinite(v)) return 0;
    return static_cast<int>(std::clamp(std::ceil(v), 0.0, 1.0e7));
}

using styling::plainView;

}  // namespace

double WaveformEditor::baseWidth(double width) {
    return std::isfinite(width) ? std::max(width, kMinimumBaseWidth) : kMinimumBaseWidth;
}

double WaveformEditor::rowHeight(double height) {
    return std::isfinite(height) ? std::max(height - kTopInset, kMinimumRowHeight) : kMinimumRowHeight;
}

WaveformEditor::WaveformEditor(StudioStore& store, TransportSignals* transport, QWidget* parent)
    : QWidget(parent), store_(store), transport_(transport) {
    setObjectName(QStringLiteral("waveformEditor"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    pages_ = new QStackedLayout(this);

    hint_ = ui::label(ui::qs(L("Выберите клип на дорожке")), Fonts::ui(14), Palette::secondaryText(), this);
    hint_->setObjectName(QStringLiteral("waveformHint"));
    hint_->setAlignment(Qt::AlignCenter);
    pages_->addWidget(hint_);

    scroll_ = new QScrollArea(this);
    scroll_->setObjectName(QStringLiteral("waveformScroll"));
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(false);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    content_ = plainView("waveformContent", Palette::background(), nullptr);
    anchors_ = plainView("playheadAnchors", QColor(0, 0, 0, 0), content_);
    markerRuler_ = new MarkerRuler(store_, content_);
    ruler_ = new TimeRuler(content_);
    ruler_->setMouseTracking(true);
    connect(ruler_, &TimeRuler::pressed, this, &WaveformEditor::rulerClicked);
    lanes_ = new LanesWidget(store_, transport_, LanesMode::clipEditor, content_);
    grid_ = new BeatGridOverlay(content_);
    scroll_->setWidget(content_);
    pages_->addWidget(scroll_);
    // The amplitude scale's place over the lane's left edge (the scale is its own view).
    amplitude_ = new QWidget(scroll_);
    amplitude_->setObjectName(QStringLiteral("amplitudeScaleSlot"));
    amplitude_->setAttribute(Qt::WA_TransparentForMouseEvents);

    connect(scroll_->horizontalScrollBar(), &QScrollBar::valueChanged, this, &WaveformEditor::coverLanes);
    scroll_->viewport()->installEventFilter(this);
    for (QWidget* w : {static_cast<QWidget*>(ruler_), static_cast<QWidget*>(lanes_), content_})
        w->installEventFilter(this);

    connect(&store_, &StudioStore::selectedIDChanged, this, &WaveformEditor::refresh);
    connect(&store_, &StudioStore::sessionChanged, this, &WaveformEditor::refresh);
    connect(&store_, &StudioStore::zoomChanged, this, &WaveformEditor::relayout);
    connect(&store_, &StudioStore::timeFormatChanged, this, &WaveformEditor::relayout);
    connect(&store_, &StudioStore::spectralViewChanged, this, &WaveformEditor::relayout);
    connect(&store_, &StudioStore::zoomFocusChanged, this, &WaveformEditor::scrollToFocus);
    if (transport_) {
        connect(transport_, &TransportSignals::recordingChanged, this, &WaveformEditor::relayout);
        // While recording the timeline grows ahead of the position; relayout does nothing when
        // nothing changed.
        connect(transport_, &TransportSignals::positionChanged, this, [this] {
            if (transport_->recording()) relayout();
        });
    }
    refresh();
}

BeatGrid WaveformEditor::beatGrid() const { return store_.displayGrid(); }

void WaveformEditor::refresh() {
    const bool clip = store_.selectedIndex().has_value();
    QWidget* page = clip ? static_cast<QWidget*>(scroll_) : hint_;
    if (pages_->currentWidget() != page) pages_->setCurrentWidget(page);
    if (clip) relayout();
}

void WaveformEditor::relayout() {
    if (pages_->currentWidget() != scroll_) return;
    const QWidget* viewport = scroll_->viewport();
    baseWidth_ = baseWidth(viewport->width());
    const double zoom = std::isfinite(store_.zoom()) ? std::clamp(store_.zoom(), 1.0, 32.0) : 1.0;
    contentWidth_ = baseWidth_ * zoom;
    rowHeight_ = rowHeight(viewport->height());
    duration_ = store_.timelineDuration();
    NavigationViewport nav = store_.viewport();
    nav.baseWidth = baseWidth_;
    store_.setViewport(nav);

    const int width = pixels(contentWidth_);
    const int row = pixels(rowHeight_);
    const BeatGrid grid = beatGrid();
    anchors_->setGeometry(0, 0, width, kAnchorHeight);
    markerRuler_->setGeometry(0, kAnchorHeight, width, kMarkerRulerHeight);
    static_cast<MarkerRuler*>(markerRuler_)->setScale(contentWidth_, duration_);
    ruler_->setGeometry(0, kAnchorHeight + kMarkerRulerHeight, width, kTimeRulerHeight);
    ruler_->setScale(duration_, store_.timeFormat(), grid, contentWidth_);
    lanes_->setScale(contentWidth_, duration_, rowHeight_);
    lanes_->setGeometry(0, int(kTopInset), width, row);
    const bool bars = store_.timeFormat() == TimeFormat::bars;
    grid_->setVisible(bars);
    if (bars) {
        grid_->setGeometry(0, int(kTopInset), width, row);
        static_cast<BeatGridOverlay*>(grid_)->setGrid(grid, duration_);
        grid_->raise();
    }
    if (content_->size() != QSize(width, int(kTopInset) + row)) content_->resize(width, int(kTopInset) + row);
    amplitude_->setVisible(!store_.spectralView());
    amplitude_->setGeometry(0, int(kTopInset), 40, row);
    coverLanes();
}

void WaveformEditor::coverLanes() {
    // The amplitude scale lies over the lane's visible left edge: the clip's labels keep clear.
    if (store_.spectralView()) {
        lanes_->setCover(0.0, 0.0);
        return;
    }
    const double x = scroll_->horizontalScrollBar()->value();
    lanes_->setCover(x, x + AmplitudeScale::kWidth);
}

void WaveformEditor::rulerClicked(double x) {
    // The click always drops the time selection first, even inside it.
    store_.setSelection(std::nullopt);
    if (contentWidth_ > 0.0) store_.seek(x / contentWidth_ * store_.timelineDuration());
}

void WaveformEditor::scrollToFocus() {
    const auto& focus = store_.zoomFocus();
    if (!focus || pages_->currentWidget() != scroll_) return;
    relayout();
    if (!(duration_ > 0)) return;
    const double x = focus->time / duration_ * contentWidth_ - focus->fraction * scroll_->viewport()->width();
    QScrollBar* bar = scroll_->horizontalScrollBar();
    bar->setValue(std::isfinite(x) ? static_cast<int>(std::clamp(std::round(x), 0.0, double(bar->maximum()))) : 0);
}

void WaveformEditor::trackPointer(const QWidget* source, double x, bool inside) {
    NavigationViewport nav = store_.viewport();
    if (inside && contentWidth_ > 0.0) {
        const double contentX = source == content_ ? x : source->mapTo(content_, QPointF(x, 0)).x();
        nav.pointerTime = std::clamp(contentX / contentWidth_, 0.0, 1.0) * duration_;
        const double visible = scroll_->viewport()->width();
        nav.pointerFraction =
            visible > 0 ? std::clamp((contentX - scroll_->horizontalScrollBar()->value()) / visible, 0.0, 1.0) : 0.0;
    } else {
        nav.pointerTime.reset();
        nav.pointerFraction.reset();
    }
    store_.setViewport(nav);
}

bool WaveformEditor::eventFilter(QObject* watched, QEvent* event) {
    if (watched == scroll_->viewport() && event->type() == QEvent::Resize) {
        relayout();
    } else if (watched == lanes_ || watched == ruler_ || watched == content_) {
        auto* w = static_cast<QWidget*>(watched);
        if (event->type() == QEvent::MouseMove)
            trackPointer(w, static_cast<QMouseEvent*>(event)->position().x(), true);
        else if (event->type() == QEvent::Leave)
            trackPointer(w, 0, false);
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace tessoral
