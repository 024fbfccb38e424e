#include "tools/screenshots/EffectPanelShots.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QToolButton>

#include <algorithm>

#include <cstdio>

#include "app/shell/MainWindow.h"
#include "app/shell/SheetHost.h"
#include "tools/screenshots/ShotSupport.h"
#include "app/shell/Studio.h"
#include "app/shell/StudioView.h"
#include "panels/EffectRack.h"
#include "panels/PanelSupport.h"
#include "store/StudioStore.h"
#include "widgets/Palette.h"

namespace tessoral {

namespace {

using tessoral::shots::pump;
using tessoral::shots::save;

using tessoral::shots::over;

// The window with the slot's parameter popover open where it appears, below its button.
bool popoverShot(MainWindow& window, RackSlotView* row, const QString& folder, const QString& name,
                 const QString& lang) {
    row->openEditor();
    pump();
    panels::Popover* popover = row->popover();
    if (!popover) return false;
    popover->adjustSize();
    pump();
    const QImage top = popover->grab().toImage();
    QPoint at = row->parametersButton()->mapTo(&window, QPoint(0, row->parametersButton()->height() + 2));
    at.setX(std::max(0, std::min(at.x(), window.width() - top.width())));
    at.setY(std::max(0, std::min(at.y(), window.height() - top.height())));
    pump();
    const bool ok = save(over(window.grab().toImage(), top, at, false), folder, name, lang);
    popover->hide();
    pump();
    return ok;
}

}  // namespace

bool renderEffectPanelShots(Studio& studio, const std::function<void()>& settle, const QString& folder,
                            const QString& lang) {
    StudioStore& s = studio.store();
    MainWindow& window = studio.window();
    bool ok = true;
    shots::withDemo(s, settle);
    // Three slots on the first clip, the middle one off; the equaliser with a raised p2.
    {
        Session session = s.session();
        Track& clip = session.tracks.front();
        EffectSlot voice(EffectPreset::voice);
        voice.params = {{"presence", 3.5}};
        EffectSlot compressor(EffectPreset::compressor);
        compressor.enabled = false;
        compressor.wet = 0.6;
        EffectSlot eq(EffectPreset::parametricEQ);
        eq.params = {{"p2.g", 6.0}, {"p2.q", 1.4}, {"ls.g", -3.0}, {"hp.on", 1.0}};
        clip.rack = {voice, compressor, eq};
        s.setSession(session);
        s.setSelectedID(session.tracks.front().id);
    }
    s.setShowInspector(true);
    s.setInspectorTab(0);
    settle();
    pump();
    ok &= save(window.grab().toImage(), folder, QStringLiteral("effect-rack"), lang);

    if (auto* rack = window.findChild<EffectsRackView*>()) {
        const auto rows = rack->slotRows();
        if (rows.size() == 3) {
            ok &= popoverShot(window, rows[2], folder, QStringLiteral("effect-editor-eq"), lang);
            ok &= popoverShot(window, rows[1], folder, QStringLiteral("effect-editor-compressor"), lang);
        }
    }

    s.setShowMatchLoudness(true);
    settle();
    pump();
    if (QDialog* sheet = window.studio()->sheets()->topSheet()) {
        sheet->adjustSize();
        pump();
        const QImage top = sheet->grab().toImage();
        const QImage base = window.grab().toImage();
        ok &= save(over(base, top, QPoint((base.width() - top.width()) / 2, 60), true), folder,
                   QStringLiteral("match-loudness-sheet"), lang);
    }
    s.setShowMatchLoudness(false);
    pump();
    return ok;
}

}  // namespace tessoral
