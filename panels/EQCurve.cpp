#include "panels/EQCurve.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

#include "model/Localization.h"
#include "model/NumberFormat.h"
#include "processing/EQResponse.h"
#include "panels/PanelSupport.h"
#include "widgets/Fonts.h"
#include "widgets/Palette.h"
#include "widgets/PointerModifiers.h"

namespace tessoral {

namespace EQCurve {

namespace {

constexpr double kPickRadius = 16.0;

const EffectParameter* find(const std::vector<EffectParameter>& list, const std::string& key) {
    for (const EffectParameter& p : list)
        if (p.key == key) return &p;
    return nullptr;
}

// The usable value of a key, as the preset reads it (default, toggle snap, clamp).
double read(const std::vector<EffectParameter>& list, const std::string& key, const EffectParams& params) {
    const auto entry = params.find(key);
    const EffectParameter* p = find(list, key);
    if (!p) return entry == params.end() ? 0.0 : entry->second;
    if (entry == params.end() || !std::isfinite(entry->second)) return p->defaultValue;
    if (p->toggle) return entry->second >= 0.5 ? 1.0 : 0.0;
    return std::clamp(entry->second, p->range.lower, p->range.upper);
}

// The parameter list of each equaliser, made once per run (the language does not change).
const std::vector<EffectParameter>& cachedParameters(EffectPreset preset) {
    static const std::vector<EffectParameter> parametric = parameters(EffectPreset::parametricEQ);
    static const std::vector<EffectParameter> graphic = parameters(EffectPreset::graphicEQ);
    static const std::vector<EffectParameter> none;
    if (preset == EffectPreset::parametricEQ) return parametric;
    if (preset == EffectPreset::graphicEQ) return graphic;
    return none;
}

// The preset's own cleaning over the cached list: only its keys that are present, each cleaned.
EffectParams clean(EffectPreset preset, const EffectParams& params) {
    EffectParams out;
    for (const EffectParameter& p : cachedParameters(preset)) {
        const auto entry = params.find(p.key);
        if (entry != params.end()) out.emplace_hint(out.end(), p.key, read(cachedParameters(preset), p.key, params));
    }
    return out;
}

}  // namespace

std::vector<Node> nodes(EffectPreset preset, const EffectParams& params) {
    const auto& list = cachedParameters(preset);
    std::vector<Node> out;
    if (preset == EffectPreset::graphicEQ) {
        const auto& labels = EQDesign::graphicLabels();
        for (int i = 0; i < 10; ++i) {
            Node n;
            n.id = "g" + num::integer(i);
            n.title = labels[static_cast<std::size_t>(i)];
            n.frequency = EQDesign::kGraphicFrequencies[i];
            n.gain = read(list, n.id, params);
            n.gainKey = n.id;
            out.push_back(std::move(n));
        }
    } else if (preset == EffectPreset::parametricEQ) {
        for (const EQBandSpec& band : EQDesign::parametricBands()) {
            Node n;
            n.id = band.id;
            n.title = band.title;
            n.frequencyKey = band.id + ".f";
            n.frequency = read(list, *n.frequencyKey, params);
            const bool hasGain =
                band.kind == EQBandKind::lowShelf || band.kind == EQBandKind::peak || band.kind == EQBandKind::highShelf;
            if (hasGain) {
                n.gainKey = band.id + ".g";
                n.gain = read(list, *n.gainKey, params);
            }
            n.qKey = band.id + ".q";
            n.onKey = band.id + ".on";
            n.enabled = read(list, *n.onKey, params) >= 0.5;
            out.push_back(std::move(n));
        }
    }
    return out;
}

double x(double frequency, double width) {
    const double f = std::isfinite(frequency) ? std::max(frequency, 20.0) : 20.0;
    return width * std::log(f / 20.0) / std::log(1000.0);
}

double y(double gain, double height) {
    const double g = std::isfinite(gain) ? std::clamp(gain, -18.0, 18.0) : 0.0;
    return height * (18.0 - g) / 36.0;
}

std::optional<std::size_t> pick(const std::vector<Node>& list, double px, double py, double width, double height) {
    std::optional<std::size_t> best;
    double bestDistance = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const double d = std::hypot(x(list[i].frequency, width) - px, y(list[i].gain, height) - py);
        if (!best || d < bestDistance) {
            best = i;
            bestDistance = d;
        }
    }
    if (!best || !(bestDistance < kPickRadius)) return std::nullopt;
    return best;
}

Origin origin(EffectPreset preset, const Node& node, const EffectParams& params) {
    Origin o{node.frequency, node.gain, 1.0};
    if (node.qKey) o.q = read(cachedParameters(preset), *node.qKey, params);
    return o;
}

EffectParams dragStep(EffectPreset preset, const EffectParams& params, const Node& node, const Origin& origin,
                      double dx, double dy, bool qModifier, double width, double height) {
    EffectParams p = params;
    if (node.onKey) p[*node.onKey] = 1.0;
    if (qModifier && node.qKey) {
        p[*node.qKey] = origin.q * std::pow(2.0, -dy / 40.0);
    } else {
        if (node.frequencyKey) {
            const double t = std::clamp((x(origin.frequency, width) + dx) / std::max(width, 1.0), 0.0, 1.0);
            p[*node.frequencyKey] = 20.0 * std::pow(1000.0, t);
        }
        if (node.gainKey) {
            // A canvas of no height maps vertical motion as if it were 1 high (never a division by 0).
            const double g = origin.gain - 36.0 * dy / std::max(height, 1.0);
            p[*node.gainKey] = std::round(g * 10.0) / 10.0;
        }
    }
    return clean(preset, p);
}

}  // namespace EQCurve

// ---- the view ----

EQCurveView::EQCurveView(EffectPreset preset, EffectParams params, std::function<void()> begin,
                         std::function<void(const EffectParams&)> commit, QWidget* parent)
    : QWidget(parent),
      preset_(preset),
      params_(std::move(params)),
      begin_(std::move(begin)),
      commit_(std::move(commit)),
      parameters_(parameters(preset)) {
    setObjectName(QStringLiteral("eqCurve"));
    setMinimumHeight(60);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setToolTip(panels::qs(L("Перетащите точку: по горизонтали — частота, по вертикали — усиление, с Alt или Shift — "
                            "добротность (Q)")));
    setMouseTracking(false);
}

void EQCurveView::setParams(const EffectParams& params) {
    if (params == params_) return;
    params_ = params;
    update();
}

void EQCurveView::setSelectedBand(const std::string& id) {
    if (id == selected_) return;
    selected_ = id;
    update();
}

void EQCurveView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    render(p);
}

void EQCurveView::paintGrid(QPainter& p, double w, double h) {
    p.setRenderHint(QPainter::Antialiasing, true);
    // The frame: background in a rounded rectangle outlined with the hairline colour.
    const QRectF frame(0.5, 0.5, w - 1, h - 1);
    p.setPen(QPen(Palette::line(), 1));
    p.setBrush(Palette::background());
    p.drawRoundedRect(frame, 6, 6);
    p.setBrush(Qt::NoBrush);
    p.setFont(Fonts::mono(8));
    const QColor label = Palette::secondaryText();
    static const int freqs[] = {20, 50, 100, 200, 500, 1000, 2000, 5000, 10000, 20000};
    for (int f : freqs) {
        const double gx = EQCurve::x(f, w);
        p.setPen(QPen(Palette::line(), 1));
        p.drawLine(QPointF(gx, 0), QPointF(gx, h));
        const QString text = f < 1000 ? QString::number(f) : QString::number(f / 1000) + QLatin1Char('k');
        const double cx = std::min(std::max(gx, 10.0), w - 10);
        p.setPen(label);
        p.drawText(QRectF(cx - 20, h - 7 - 6, 40, 12), Qt::AlignCenter, text);
    }
    for (int g = -18; g <= 18; g += 6) {
        const double gy = EQCurve::y(g, h);
        p.setPen(QPen(g == 0 ? QColor(255, 255, 255, 56) : Palette::line(), 1));
        p.drawLine(QPointF(0, gy), QPointF(w, gy));
        if (std::abs(g) < 18) {
            p.setPen(label);
            p.drawText(QRectF(12 - 15, gy - 6 - 6, 30, 12), Qt::AlignCenter, QString::number(g));
        }
    }
}

void EQCurveView::render(QPainter& p) {
    const double w = width();
    const double h = height();
    if (w <= 0 || h <= 0) return;
    // The grid is the costly part of a repaint (antialiased lines and labels): drawn once per size.
    const qreal ratio = devicePixelRatioF();
    const QSize device(static_cast<int>(std::ceil(w * ratio)), static_cast<int>(std::ceil(h * ratio)));
    if (grid_.size() != device) {
        grid_ = QPixmap(device);
        grid_.setDevicePixelRatio(ratio);
        grid_.fill(Qt::transparent);
        QPainter gp(&grid_);
        paintGrid(gp, w, h);
    }
    p.drawPixmap(0, 0, grid_);
    p.setRenderHint(QPainter::Antialiasing, true);

    const EffectParams& curve = draft_ ? *draft_ : params_;
    const int n = std::max(static_cast<int>(w / 2), 64);
    const std::vector<double> freqs = EQResponse::logFrequencies(n);
    const std::vector<double> dbs = EQResponse::magnitudeDB(preset_, curve, freqs);
    QPolygonF line;
    line.reserve(static_cast<int>(freqs.size()) + 2);
    for (std::size_t i = 0; i < freqs.size(); ++i) line << QPointF(EQCurve::x(freqs[i], w), EQCurve::y(dbs[i], h));
    QPolygonF area = line;
    area << QPointF(w, h / 2) << QPointF(0, h / 2);
    QColor fill = Palette::accent();
    fill.setAlphaF(0.12);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawPolygon(area, Qt::WindingFill);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Palette::accent(), 2));
    p.drawPolyline(line);

    const std::vector<EQCurve::Node> points = EQCurve::nodes(preset_, curve);
    for (std::size_t i = 0; i < points.size(); ++i) {
        const EQCurve::Node& node = points[i];
        const QPointF c(EQCurve::x(node.frequency, w), EQCurve::y(node.gain, h));
        const bool selected = node.id == selected_;
        const double r = selected ? 7.0 : 5.5;
        const QColor colour = node.enabled ? Palette::track(static_cast<long long>(i)) : Palette::grey();
        p.setBrush(node.enabled ? QBrush(colour) : QBrush(Qt::NoBrush));
        p.setPen(selected ? QPen(Qt::white, 2) : QPen(colour, 1.2));
        p.drawEllipse(c, r, r);
        if (selected && preset_ == EffectPreset::parametricEQ) {
            std::string freq;
            if (node.frequencyKey)
                for (const EffectParameter& param : parameters_)
                    if (param.key == *node.frequencyKey) freq = param.display(node.frequency);
            const QString text = panels::qs(node.title + " · " + freq);
            p.setFont(Fonts::ui(9, QFont::Medium));
            p.setPen(Qt::white);
            const double tx = std::min(std::max(c.x(), 60.0), w - 60);
            const double ty = std::max(c.y() - 16, 10.0);
            p.drawText(QRectF(tx - 90, ty - 8, 180, 16), Qt::AlignCenter, text);
        }
    }
    p.setBrush(Qt::NoBrush);
}

void EQCurveView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    pressAt_ = event->position();
    moved_ = false;
    event->accept();
}

void EQCurveView::mouseMoveEvent(QMouseEvent* event) {
    if (!pressAt_ || !(event->buttons() & Qt::LeftButton)) return;
    const QPointF at = event->position();
    const double dx = at.x() - pressAt_->x();
    const double dy = at.y() - pressAt_->y();
    // A drag starts with the first motion of at least one pixel.
    if (!moved_ && std::hypot(dx, dy) < 1.0) return;
    moved_ = true;
    const double w = width(), h = height();
    if (!dragging_) {
        const auto list = EQCurve::nodes(preset_, params_);
        const auto index = EQCurve::pick(list, pressAt_->x(), pressAt_->y(), w, h);
        if (!index) return;
        dragging_ = list[*index];
        origin_ = EQCurve::origin(preset_, *dragging_, params_);
        if (begin_) begin_();
        if (selected_ != dragging_->id) {
            selected_ = dragging_->id;
            Q_EMIT selectedBandChanged(QString::fromStdString(selected_));
        }
    }
    // Read at every move.
    const bool q = alternateHeld(event->modifiers());
    draft_ = EQCurve::dragStep(preset_, params_, *dragging_, origin_, dx, dy, q, w, h);
    update();
}

void EQCurveView::finishDrag() {
    std::optional<EffectParams> pending = std::move(draft_);
    const bool had = dragging_.has_value();
    draft_.reset();
    dragging_.reset();
    pressAt_.reset();
    moved_ = false;
    if (pending && had && commit_) commit_(*pending);
    update();
}

void EQCurveView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
    finishDrag();
}

void EQCurveView::changeEvent(QEvent* event) {
    // Disabled mid-drag: the release never comes, so the drag ends here.
    if (event->type() == QEvent::EnabledChange && !isEnabled() && pressAt_) finishDrag();
    QWidget::changeEvent(event);
}

void EQCurveView::hideEvent(QHideEvent* event) {
    if (pressAt_) finishDrag();
    QWidget::hideEvent(event);
}

}  // namespace tessoral
