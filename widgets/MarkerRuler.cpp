#include "widgets/MarkerRuler.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include <algorithm>
#include <cmath>

#include "store/StudioStore.h"
#include "widgets/Fonts.h"
#include "widgets/Icons.h"
#include "widgets/Palette.h"

namespace tessoral {

namespace {

QColor markerOrange() { return QColor(0xFF, 0x9F, 0x0A); }

// Far enough to stand off any screen, near enough to convert to pixels without overflow.
constexpr double kFarAway = 1.0e7;

}  // namespace

MarkerRuler::MarkerRuler(StudioStore& store, QWidget* parent) : QWidget(parent), store_(store) {
    setObjectName(QStringLiteral("markerRuler"));
    setFixedHeight(kHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    connect(&store_, &StudioStore::sessionChanged, this, qOverload<>(&QWidget::update));
}

void MarkerRuler::setScale(double width, double duration) {
    if (width == width_ && duration == duration_) return;
    width_ = width;
    duration_ = duration;
    update();
}

double MarkerRuler::markerX(double start, double width, double duration) {
    if (!std::isfinite(duration) || duration <= 0.0 || !std::isfinite(width) || !std::isfinite(start)) return 0.0;
    const double x = width * (start / duration);
    if (!std::isfinite(x)) return 0.0;
    return std::clamp(x, -kFarAway, kFarAway);
}

double MarkerRuler::labelWidth(double x, double width) {
    const double room = std::isfinite(width) ? width - x : kMinLabelWidth;
    return std::min(std::max(room, kMinLabelWidth), kMaxLabelWidth);
}

std::vector<QRectF> MarkerRuler::labelRects() const {
    const auto& markers = store_.session().markers;
    std::vector<QRectF> rects;
    rects.reserve(markers.size());
    for (const auto& m : markers) {
        const double x = markerX(m.start, width_, duration_);
        rects.emplace_back(x, kTop, labelWidth(x, width_), kHeight - kTop - 4);
    }
    return rects;
}

std::optional<std::size_t> MarkerRuler::markerAt(const QPointF& pos) const {
    const auto rects = labelRects();
    for (std::size_t i = rects.size(); i-- > 0;)
        if (rects[i].contains(pos)) return i;
    return std::nullopt;
}

void MarkerRuler::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    p.fillRect(event->rect(), Palette::background());
    const auto& markers = store_.session().markers;
    if (markers.empty()) return;
    const auto rects = labelRects();
    const QColor orange = markerOrange();
    const QFont font = Fonts::ui(9);
    p.setFont(font);
    p.setPen(orange);
    const QFontMetrics metrics(font);
    const qreal dpr = devicePixelRatioF();
    const QPixmap icon = Icons::pixmap(QStringLiteral("bookmark.fill"), orange, 10, dpr);
    const QRect exposed = event->rect();
    for (std::size_t i = 0; i < markers.size(); ++i) {
        const QRectF& r = rects[i];
        if (r.right() < exposed.left() || r.left() > exposed.right()) continue;
        const QRect cell = r.toAlignedRect();
        p.save();
        p.setClipRect(cell);
        const int iconY = cell.top() + (cell.height() - 10) / 2;
        const int textLeft = cell.left() + 10 + 3;
        const int room = cell.right() - textLeft;
        const QString name = room > 0 ? metrics.elidedText(QString::fromStdString(markers[i].name), Qt::ElideRight, room)
                                      : QString();
        // A later marker covers what it overlaps of an earlier one.
        const int used = name.isEmpty() ? 10 : 13 + metrics.horizontalAdvance(name);
        p.fillRect(QRect(cell.left(), cell.top(), std::min(used + 2, cell.width()), cell.height()), Palette::background());
        p.drawPixmap(cell.left(), iconY, icon);
        if (!name.isEmpty())
            p.drawText(QRect(textLeft, cell.top(), room, cell.height()), Qt::AlignLeft | Qt::AlignVCenter, name);
        p.restore();
    }
}

void MarkerRuler::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    const auto hit = markerAt(event->position());
    if (!hit) return QWidget::mousePressEvent(event);
    // A copy: the store replaces the session (and the marker with it) while it works.
    const SessionMarker marker = store_.session().markers[*hit];
    store_.goToMarker(marker);
    event->accept();
}

void MarkerRuler::mouseMoveEvent(QMouseEvent* event) {
    setCursor(markerAt(event->position()) ? Qt::PointingHandCursor : Qt::ArrowCursor);
    QWidget::mouseMoveEvent(event);
}

bool MarkerRuler::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        if (const auto hit = markerAt(help->pos())) {
            // Shown as typed, never as markup.
            const QString name = QString::fromStdString(store_.session().markers[*hit].name).toHtmlEscaped();
            QToolTip::showText(help->globalPos(), QStringLiteral("<p style='white-space:pre'>%1</p>").arg(name), this);
        } else {
            QToolTip::hideText();
            event->ignore();
        }
        return true;
    }
    return QWidget::event(event);
}

}  // namespace tessoral
