#include "tools/screenshots/ShotSupport.h"

#include <QApplication>
#include <QDir>
#include <QPainter>

#include <cstdio>

#include "store/StudioStore.h"
#include "widgets/Palette.h"

namespace tessoral::shots {

void pump() {
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

bool withDemo(StudioStore& store, const std::function<void()>& settle) {
    if (store.session().tracks.empty()) {
        store.loadDemo();
        settle();
    }
    return !store.session().tracks.empty();
}

bool save(const QImage& image, const QString& folder, const QString& name, const QString& lang) {
    const QString path = QDir(folder).filePath(QStringLiteral("%1-%2.png").arg(name, lang));
    const bool ok = image.save(path);
    std::fprintf(stderr, "%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

QImage over(QImage base, const QImage& top, QPoint at, bool dim) {
    QPainter p(&base);
    if (dim) p.fillRect(base.rect(), QColor(0, 0, 0, 70));
    p.fillRect(QRect(at + QPoint(3, 4), top.size()), QColor(0, 0, 0, 90));
    p.drawImage(at, top);
    p.setPen(Palette::line());
    p.drawRect(QRect(at, top.size()).adjusted(0, 0, -1, -1));
    return base;
}

QImage sheetOver(QImage base, const QImage& top) {
    const QPoint at((base.width() - top.width()) / 2, 60);
    return over(std::move(base), top, at, true);
}

}  // namespace tessoral::shots
