#include "widgets/Icons.h"

#include <QFile>
#include <QHash>
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

QIcon icon(const QString& name, const QColor& color, int size) {
    QIcon icon;
    for (qreal ratio : {1.0, 2.0}) {
        icon.addPixmap(pixmap(name, color, size, ratio), QIcon::Normal);
        QColor dim = color;
        dim.setAlphaF(color.alphaF() * 0.35f);
        icon.addPixmap(pixmap(name, dim, size, ratio), QIcon::Disabled);
    }
    return icon;
}

}  // namespace tessoral::Icons
