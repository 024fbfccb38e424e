#include "tools/screenshots/MenuShots.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>

#include <cstdio>

#include "app/menus/AboutPanel.h"
#include "app/shell/MainWindow.h"
#include "app/menus/MenuBar.h"
#include "tools/screenshots/ShotSupport.h"
#include "app/shell/Studio.h"
#include "store/StudioStore.h"
#include "widgets/Palette.h"

namespace tessoral {

namespace {

using tessoral::shots::pump;
using tessoral::shots::save;

// The window with `top` drawn at `at`, on a canvas grown to hold both.
QImage over(const QImage& base, const QImage& top, QPoint at, bool shade) {
    QImage canvas(qMax(base.width(), at.x() + top.width() + 8), qMax(base.height(), at.y() + top.height() + 8),
                  QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Palette::background());
    QPainter p(&canvas);
    p.drawImage(0, 0, base);
    if (shade) p.fillRect(QRect(QPoint(0, 0), base.size()), QColor(0, 0, 0, 70));
    p.fillRect(QRect(at + QPoint(3, 4), top.size()), QColor(0, 0, 0, 90));
    p.drawImage(at, top);
    p.setPen(Palette::line());
    p.drawRect(QRect(at, top.size()).adjusted(0, 0, -1, -1));
    return canvas;
}

}  // namespace

bool renderMenuShots(Studio& studio, const std::function<void()>& settle, const QString& folder, const QString& lang) {
    MainWindow& window = studio.window();
    window.resize(1280, 800);
    window.show();
    StudioStore& store = studio.store();
    store.loadDemo();
    settle();
    // A range marker, a point marker, then the first clip with a time selection.
    store.setSelection(TimeRange{2.0, 3.0});
    store.addMarker();
    store.setSelection(std::nullopt);
    store.moveCursor(1.0, false);
    store.addMarker();
    store.setSelectedID(store.session().tracks[0].id);
    store.setSelection(TimeRange{0.5, 1.5});
    settle();
    pump();

    bool ok = true;
    MenuBar* menus = window.findChild<MenuBar*>();
    if (!menus) return false;
    QMenuBar* bar = window.menuBar();
    int index = 0;
    for (QMenu* menu : menus->menus()) {
        ++index;
        const QRect title = bar->actionGeometry(menu->menuAction());
        const QPoint at = bar->mapTo(&window, title.bottomLeft());
        bar->setActiveAction(menu->menuAction());
        menu->popup(window.mapToGlobal(at));
        pump();
        const QImage base = window.grab().toImage();
        const QImage top = menu->grab().toImage();
        menu->hide();
        bar->setActiveAction(nullptr);
        pump();
        QString name = menu->objectName();
        name.remove(QStringLiteral("Menu"));
        if (name.isEmpty()) name = QString::number(index);
        ok &= save(over(base, top, at, false), folder, QStringLiteral("menu-%1").arg(name), lang);
    }

    menus->showAbout();
    pump();
    if (AboutPanel* about = menus->aboutPanel()) {
        about->adjustSize();
        pump();
        const QImage base = window.grab().toImage();
        const QImage top = about->grab().toImage();
        ok &= save(over(base, top, QPoint((base.width() - top.width()) / 2, 80), true), folder, QStringLiteral("about"),
                   lang);
        about->close();
    } else {
        ok = false;
    }
    pump();
    return ok;
}

}  // namespace tessoral
