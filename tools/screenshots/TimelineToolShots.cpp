#include "tools/screenshots/TimelineToolShots.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QScrollArea>

#include <cmath>
#include <cstdio>

#include "app/shell/MainWindow.h"
#include "tools/screenshots/ShotSupport.h"
#include "app/shell/Studio.h"
#include "store/StudioStore.h"
#include "timeline/SpectralMaskOverlay.h"
#include "timeline/SpectralRepairPanel.h"
#include "timeline/TempoControl.h"

namespace tessoral {

namespace {

using tessoral::shots::pump;
using tessoral::shots::save;

QImage grabWindow(QWidget& window) { return window.grab().toImage(); }

// The window with a popup drawn where it stands on screen.
QImage withPopup(QWidget& window, QWidget* popup) {
    QImage base = grabWindow(window);
    if (!popup) return base;
    QPainter p(&base);
    const QPoint at = window.mapFromGlobal(popup->mapToGlobal(QPoint(0, 0)));
    p.drawImage(at, popup->grab().toImage());
    return base;
}

// A mask of every kind on a clip of `seconds`: a rectangle, two brush strokes (log), an erasure
// across the first, and a lasso drawn in the linear scale.
SpectralMask demoMask(double seconds) {
    namespace O = SpectralMaskOverlay;
    SpectralMask mask;
    const double t = std::max(seconds, 1.0);
    mask.regions.push_back({SpectralMask::Shape::rectangle({0.08 * t, 0.22 * t}, {2000.0, 6000.0}), false});
    for (int k = 0; k < 2; ++k) {
        std::vector<SpectralPoint> path;
        for (int i = 0; i <= 120; ++i)
            path.push_back({(0.3 + 0.25 * i / 120.0) * t,
                            O::frequency(0.25 + 0.3 * k + 0.08 * std::sin(i * 0.09), SpectralScale::log)});
        mask.regions.push_back({SpectralMask::Shape::stroke(path, 0.012 * t, 0.05, SpectralScale::log), false});
    }
    std::vector<SpectralPoint> cut{{0.42 * t, O::frequency(0.1, SpectralScale::log)},
                                   {0.44 * t, O::frequency(0.8, SpectralScale::log)}};
    mask.regions.push_back({SpectralMask::Shape::stroke(cut, 0.008 * t, 0.03, SpectralScale::log), true});
    mask.regions.push_back({SpectralMask::Shape::polygon({{0.65 * t, 500.0}, {0.9 * t, 3000.0}, {0.82 * t, 16000.0}, {0.68 * t, 9000.0}},
                                                         SpectralScale::linear),
                            false});
    return mask;
}

}  // namespace

bool renderTimelineToolShots(Studio& studio, const std::function<void()>& settle, const QString& folder,
                             const QString& lang) {
    bool ok = true;
    StudioStore& s = studio.store();
    MainWindow& window = studio.window();
    s.loadDemo();
    settle();
    s.setEditorMode(EditorMode::multitrack);
    if (s.session().tracks.empty()) return false;
    const Track first = s.session().tracks.front();
    s.setSelectedID(first.id);
    s.setInspectorTab(1);
    s.setSpectralView(true);
    s.setSpectralTool(SpectralTool::brush);
    settle();
    pump();
    settle();
    s.setSpectralMask(demoMask(double(first.frames()) / 48000.0));
    s.setSpectralMaskTrackID(first.id);
    s.setSelection(TimeRange{first.start, first.end()});
    pump();
    ok &= save(grabWindow(window), folder, QStringLiteral("spectral-mask-log"), lang);
    s.setSpectralDisplay(SpectralDisplay{SpectralScale::linear, 66.0});
    // The inspector scrolled to the repair panel.
    if (auto* panel = window.findChild<SpectralRepairPanel*>()) {
        for (QWidget* up = panel->parentWidget(); up; up = up->parentWidget())
            if (auto* area = qobject_cast<QScrollArea*>(up)) {
                area->ensureWidgetVisible(panel, 0, 10);
                break;
            }
    }
    settle();
    pump();
    settle();
    pump();
    ok &= save(grabWindow(window), folder, QStringLiteral("spectral-mask-linear"), lang);
    s.setSpectralDisplay(SpectralDisplay{});
    s.clearSpectralMask();
    s.setSpectralView(false);
    settle();
    pump();

    if (auto* tempo = window.findChild<TempoControl*>()) {
        tempo->openPopover();
        pump();
        ok &= save(withPopup(window, tempo->popover()), folder, QStringLiteral("tempo-popover"), lang);
        if (tempo->popover()) tempo->popover()->close();
        pump();
    } else {
        std::fprintf(stderr, "no tempo control in the window\n");
        ok = false;
    }

    // The bar grid over the rows and the filler below them.
    s.setSelection(std::nullopt);
    s.setTimeFormat(TimeFormat::bars);
    pump();
    ok &= save(grabWindow(window), folder, QStringLiteral("multitrack-bars"), lang);
    s.setTimeFormat(TimeFormat::clock);
    // The smallest window: the waveforms' columns at another pitch, the clip editor's labels.
    const QSize size = window.size();
    window.resize(window.minimumSize());
    pump();
    ok &= save(grabWindow(window), folder, QStringLiteral("multitrack-small"), lang);
    s.setEditorMode(EditorMode::waveform);
    pump();
    ok &= save(grabWindow(window), folder, QStringLiteral("waveform-small"), lang);
    s.setEditorMode(EditorMode::multitrack);
    window.resize(size);
    pump();
    return ok;
}

}  // namespace tessoral
