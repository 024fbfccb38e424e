#include "widgets/Icons.h"

#include <QFile>
#include <QHash>
#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cmath>

namespace tessoral::Icons {

namespace {

QString resourcePath(const QString& name) { return QStringLiteral(":/tessoral/icons/%1.svg").arg(name); }

QHash<QString, QPixmap>& cache() {
    static QHash<QString, QPixmap> c;
    return c;
}

}  // namespace

bool exists(const QString& name) { return QFile::exists(resourcePath(name)); }

QPixmap pixmap(const QString& name, const QColor& color, int size, qreal devicePixelRatio) {
    if (size <= 0 || !(devicePixelRatio > 0) || !std::isfinite(devicePixelRatio)) return {};
    const QString key = QStringLiteral("%1|%2|%3|%4")
                            .arg(name)
                            .arg(color.rgba(), 8, 16, QLatin1Char('0'))
                            .arg(size)
                            .arg(devicePixelRatio);
    auto& c = cache();
    if (auto it = c.constFind(key); it != c.constEnd()) return *it;

    QSvgRenderer renderer(resourcePath(name));
    if (!renderer.isValid()) return {};
    const int px = std::max(1, static_cast<int>(std::lround(size * devicePixelRatio)));
    QImage image(px, px, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        renderer.render(&p, QRectF(0, 0, px, px));
        // Keep the shape's coverage, replace its colour.
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(image.rect(), color);
    }
    QPixmap result = QPixmap::fromImage(image);
    result.setDevicePixelRatio(devicePixelRatio);
    if (c.size() > 512) c.clear();
    c.insert(key, result);
    return result;
}

namespace {

// Draws the icon from its SVG at whatever device pixel ratio is asked for (1.5 on a screen scaled
// by 150 %), never by scaling a pixmap made for another ratio. It keeps its own size in logical
// pixels: a larger request gets it centred at that size.
class TintedIconEngine : public QIconEngine {
public:
    TintedIconEngine(QString name, QColor color, int size) : name_(std::move(name)), color_(color), size_(size) {}

    QIconEngine* clone() const override { return new TintedIconEngine(name_, color_, size_); }
    QString key() const override { return QStringLiteral("tessoral.tinted"); }
    bool isNull() override { return size_ <= 0 || !exists(name_); }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
        return QSize(std::min(size.width(), size_), std::min(size.height(), size_));
    }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override { return {QSize(size_, size_)}; }

    // One device pixel per logical pixel: the icon at its own size, or smaller where less room is given.
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override {
        return Icons::pixmap(name_, colorFor(mode), std::min({size.width(), size.height(), size_}), 1.0);
    }

    // `size` is in device pixels. The result fills it exactly, at the ratio asked for, so that QIcon
    // keeps that ratio and the drawing keeps its logical size.
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State, qreal scale) override {
        if (!(scale > 0) || size.isEmpty()) return {};
        const int logical = std::min({int(std::floor(size.width() / scale)), int(std::floor(size.height() / scale)), size_});
        QPixmap drawn = Icons::pixmap(name_, colorFor(mode), std::max(1, logical), scale);
        if (drawn.isNull() || (drawn.width() == size.width() && drawn.height() == size.height())) return drawn;
        // Placed pixel for pixel: both pixmaps are ratio 1 while one is drawn on the other.
        drawn.setDevicePixelRatio(1.0);
        QPixmap out(size);
        out.fill(Qt::transparent);
        {
            QPainter p(&out);
            p.drawPixmap((size.width() - drawn.width()) / 2, (size.height() - drawn.height()) / 2, drawn);
        }
        out.setDevicePixelRatio(scale);
        return out;
    }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatio() : 1.0;
        const int logical = std::min({rect.width(), rect.height(), size_});
        if (logical <= 0) return;
        const QPixmap drawn = Icons::pixmap(name_, colorFor(mode), logical, ratio);
        painter->drawPixmap(QRectF(rect.x() + (rect.width() - logical) / 2.0, rect.y() + (rect.height() - logical) / 2.0,
                                   logical, logical),
                            drawn, QRectF(drawn.rect()));
    }

private:
    QColor colorFor(QIcon::Mode mode) const {
        if (mode != QIcon::Disabled) return color_;
        QColor dim = color_;
        dim.setAlphaF(color_.alphaF() * 0.35f);
        return dim;
    }

    QString name_;
    QColor color_;
    int size_;
};

}  // namespace

QIcon icon(const QString& name, const QColor& color, int size) {
    if (size <= 0 || !exists(name)) return {};
    return QIcon(new TintedIconEngine(name, color, size));
}

}  // namespace tessoral::Icons
