#include "timeline/MultitrackTimeline.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "model/Localization.h"
#include "store/StudioStore.h"
#include "store/TransportSignals.h"
#include "timeline/BeatGridOverlay.h"
#include "timeline/LaneHeader.h"
#include "timeline/LanesWidget.h"
#include "timeline/NavigationView.h"
#include "timeline/TimelineGeometry.h"
#include "widgets/MarkerRuler.h"
#include "widgets/Fonts.h"
#include "widgets/Palette.h"
#include "widgets/Styling.h"
#include "widgets/TimeRuler.h"
#include "widgets/ToolButton.h"

namespace tessoral {

namespace G = TimelineGeometry;

namespace {

constexpr int kMaxLanes = 32;

using styling::plainView;

}  // namespace

MultitrackTimeline::MultitrackTimeline(StudioStore& store, TransportSignals* transport, QWidget* parent)
    : QWidget(parent), store_(store), transport_(transport) {
    setObjectName(QStringLiteral("multitrackTimeline"));
    auto* page = new QHBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->setSpacing(0);

    // ---- header column ----
    headerArea_ = new QScrollArea(this);
    headerArea_->setObjectName(QStringLiteral("headerColumnArea"));
    headerArea_->setFrameShape(QFrame::NoFrame);
    headerArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    headerArea_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    headerArea_->setFixedWidth(int(G::kHeaderWidth));
    headerArea_->setWidgetResizable(false);
    headerColumn_ = plainView("headerColumn", Palette::panel(), nullptr);
    headerColumn_->setFixedWidth(int(G::kHeaderWidth));
    auto* column = new QVBoxLayout(headerColumn_);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* line = new QWidget(headerColumn_);
    line->setObjectName(QStringLiteral("headerLine"));
    line->setFixedHeight(int(G::kHeaderLineHeight));
    auto* lineRow = new QHBoxLayout(line);
    lineRow->setContentsMargins(12, 0, 6, 0);
    lineRow->setSpacing(4);
    count_ = new QLabel(line);
    count_->setObjectName(QStringLiteral("laneCount"));
    count_->setFont(Fonts::ui(10));
    QPalette countPalette = count_->palette();
    countPalette.setColor(QPalette::WindowText, Palette::secondaryText());
    count_->setPalette(countPalette);
    lineRow->addWidget(count_);
    lineRow->addStretch(1);
    plus_ = new ToolButton(QStringLiteral("plus"), QString::fromStdString(L("Новая дорожка (Ctrl+Shift+N)")), false,
                           Palette::primaryText(), [this] { store_.newLane(); }, line);
    plus_->setObjectName(QStringLiteral("newLane"));
    lineRow->addWidget(plus_);
    column->addWidget(line);
    headerRows_ = new QVBoxLayout;
    headerRows_->setContentsMargins(0, 0, 0, 0);
    headerRows_->setSpacing(0);
    column->addLayout(headerRows_);
    new LaneHeaderColumn(store_, headerColumn_, headerRows_, transport_);
    column->addStretch(1);
    headerArea_->setWidget(headerColumn_);
    page->addWidget(headerArea_);

    // ---- timeline column ----
    timelineArea_ = new QScrollArea(this);
    timelineArea_->setObjectName(QStringLiteral("timelineArea"));
    timelineArea_->setFrameShape(QFrame::NoFrame);
    timelineArea_->setWidgetResizable(false);
    timelineArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    timelineArea_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    content_ = plainView("timelineContent", Palette::background(), nullptr);
    plainView("playheadAnchors", QColor(0, 0, 0, 0), content_)->setGeometry(0, 0, 0, int(G::kAnchorHeight));
    new MarkerRuler(store_, content_);
    ruler_ = new TimeRuler(content_);
    ruler_->setObjectName(QStringLiteral("timeRuler"));
    connect(ruler_, &TimeRuler::pressed, this, [this](double x) { rulerClicked(x); });
    lanes_ = new LanesWidget(store_, transport_, LanesMode::multitrack, content_);
    timelineArea_->setWidget(content_);
    timelineArea_->viewport()->installEventFilter(this);
    // The beat grid over the lanes (bars format) and the zoom focus and pointer bookkeeping.
    new BeatGridOverlay(content_);
    auto* navigation = new NavigationController(
        store_, timelineArea_, content_,
        {[this] { return baseWidth_; }, [this] { return contentWidth_; }, [this] { return duration_; }});
    navigation->watch(lanes_);
    navigation->watch(ruler_);
    page->addWidget(timelineArea_, 1);

    // The header column follows the timeline's vertical scrolling (and the other way round, for
    // the wheel over the headers).
    connect(timelineArea_->verticalScrollBar(), &QScrollBar::valueChanged, headerArea_->verticalScrollBar(),
            &QScrollBar::setValue);
    connect(headerArea_->verticalScrollBar(), &QScrollBar::valueChanged, timelineArea_->verticalScrollBar(),
            &QScrollBar::setValue);

    connect(&store_, &StudioStore::sessionChanged, this, [this] {
        refreshHeader();
        relayout();
    });
    connect(&store_, &StudioStore::zoomChanged, this, [this] { relayout(); });
    // A row chosen with the arrows (or a new one) comes into view, once the rows are laid out.
    connect(&store_, &StudioStore::selectedLaneIDChanged, this,
            [this] { QMetaObject::invokeMethod(this, &MultitrackTimeline::revealSelectedRow, Qt::QueuedConnection); });
    connect(&store_, &StudioStore::timeFormatChanged, this, [this] { relayout(); });
    connect(&store_, &StudioStore::busyChanged, this, [this] { refreshHeader(); });
    connect(lanes_, &LanesWidget::contentSizeChanged, this, [this] { relayout(); });
    if (transport_) {
        connect(transport_, &TransportSignals::recordingChanged, this, [this] {
            refreshHeader();
            relayout();
        });
        connect(transport_, &TransportSignals::positionChanged, this, [this] {
            // The recording extent moves in 10-second steps; the lanes repaint their own playhead.
            if (transport_->recording()) relayout();
            follow();
        });
    }
    refreshHeader();
    relayout();
}

MultitrackTimeline::~MultitrackTimeline() = default;

void MultitrackTimeline::refreshHeader() {
    const int lanes = int(store_.session().lanes.size());
    count_->setText(QString::fromStdString(LP(lanes, "{0} дорожка|{0} дорожки|{0} дорожек")));
    plus_->setEnabled(lanes < kMaxLanes && !store_.locked());
    // The lane headers keep themselves in row order (LaneHeaderColumn).
    headerSlots_ = lanes;
}

void MultitrackTimeline::relayout() {
    const int viewportWidth = timelineArea_->viewport()->width();
    baseWidth_ = G::baseWidth(double(viewportWidth) + G::kHeaderWidth);
    const double zoom = std::isfinite(store_.zoom()) ? std::clamp(store_.zoom(), 1.0, 32.0) : 1.0;
    contentWidth_ = baseWidth_ * zoom;
    const double extent = transport_ ? G::recordingExtent(transport_->recording(), transport_->position()) : 0.0;
    duration_ = std::max(store_.timelineDuration(), extent);
    lanes_->setScale(contentWidth_, duration_, G::kRowHeight);

    const int width = G::toPixel(std::ceil(contentWidth_));
    const int rowsHeight = lanes_->contentSize().height();
    const int top = int(G::kHeaderLineHeight);
    const int minimum = top + rowsHeight + int(G::kFillerHeight);
    const int height = std::max(minimum, timelineArea_->viewport()->height());
    if (auto* markers = content_->findChild<MarkerRuler*>(QStringLiteral("markerRuler"), Qt::FindDirectChildrenOnly)) {
        markers->setGeometry(0, int(G::kAnchorHeight), width, int(G::kMarkerRulerHeight));
        markers->setScale(contentWidth_, duration_);
    }
    if (auto* anchors = content_->findChild<QWidget*>(QStringLiteral("playheadAnchors"), Qt::FindDirectChildrenOnly))
        anchors->setGeometry(0, 0, width, int(G::kAnchorHeight));
    ruler_->setGeometry(0, int(G::kAnchorHeight + G::kMarkerRulerHeight), width, int(G::kTimeRulerHeight));
    ruler_->setScale(duration_, store_.timeFormat(), store_.displayGrid());
    lanes_->setGeometry(0, top, width, rowsHeight);
    if (auto* grid = content_->findChild<BeatGridOverlay*>(QString(), Qt::FindDirectChildrenOnly)) {
        const bool bars = store_.timeFormat() == TimeFormat::bars;
        grid->setVisible(bars);
        if (bars) {
            // Over the rows and the filler below them.
            grid->setGeometry(0, top, width, height - top);
            grid->setGrid(store_.displayGrid(), duration_);
            grid->raise();
        }
    }
    content_->resize(width, height);
    // The headers scroll as far as the rows: their column is longer by what the timeline's
    // horizontal scroll bar takes from its viewport.
    const int underBar = std::max(timelineArea_->height() - timelineArea_->viewport()->height(), 0);
    headerColumn_->setFixedHeight(std::max(height, top + int(G::kRowHeight) * headerSlots_ + int(G::kFillerHeight)) + underBar);
}

void MultitrackTimeline::revealSelectedRow() {
    const auto id = store_.selectedLaneID();
    if (!id) return;
    const auto& lanes = store_.session().lanes;
    const auto at = std::find_if(lanes.begin(), lanes.end(), [&](const Lane& lane) { return lane.id == *id; });
    if (at == lanes.end()) return;
    const int row = int(at - lanes.begin());
    const int top = row == 0 ? 0 : int(G::kHeaderLineHeight) + row * int(G::kRowHeight);
    const int bottom = int(G::kHeaderLineHeight) + (row + 1) * int(G::kRowHeight);
    QScrollBar* bar = timelineArea_->verticalScrollBar();
    const int view = timelineArea_->viewport()->height();
    if (top < bar->value())
        bar->setValue(top);
    else if (bottom > bar->value() + view)
        bar->setValue(std::min(top, bottom - view));
}

void MultitrackTimeline::rulerClicked(double x) {
    store_.setSelection(std::nullopt);
    if (contentWidth_ > 0.0) store_.seek(x / contentWidth_ * duration_);
}

void MultitrackTimeline::follow() {
    const Defaults* defaults = store_.services().defaults;
    const bool follow = defaults ? defaults->boolean("playback.follow").value_or(true) : true;
    const bool running = transport_ && (transport_->playing() || transport_->recording());
    const Scheduler* scheduler = store_.services().scheduler;
    if (!scheduler) return;
    const double now = scheduler->now();
    if (!G::followScrolls(follow, running, store_.zoom(), now, lastFollow_)) return;
    lastFollow_ = now;
    const double x = store_.playhead() / std::max(duration_, 0.001) * contentWidth_;
    const double target = x - 0.35 * double(timelineArea_->viewport()->width());
    timelineArea_->horizontalScrollBar()->setValue(G::toPixel(std::round(std::isfinite(target) ? target : 0.0)));
}

bool MultitrackTimeline::eventFilter(QObject* watched, QEvent* event) {
    if (watched == timelineArea_->viewport() && event->type() == QEvent::Resize) {
        relayout();
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace tessoral
