#include "tools/screenshots/WorkspacePanelShots.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QImage>
#include <QPainter>

#include <cstdio>

#include "app/shell/MainWindow.h"
#include "app/shell/SheetHost.h"
#include "tools/screenshots/ShotSupport.h"
#include "app/shell/Studio.h"
#include "app/shell/StudioView.h"
#include "model/EffectPreset.h"
#include "model/Localization.h"
#include "panels/BatchSheet.h"
#include "panels/WorkspaceBrowser.h"
#include "store/StudioStore.h"
#include "store/TransportSignals.h"
#include "widgets/Palette.h"

namespace tessoral {

namespace {

using tessoral::shots::pump;
using tessoral::shots::save;

// The open sheet drawn over the dimmed window, near the top.
bool sheetShot(MainWindow& window, const QString& folder, const QString& name, const QString& lang) {
    QDialog* sheet = window.studio()->sheets()->topSheet();
    if (!sheet) return false;
    sheet->adjustSize();
    pump();
    const QImage top = sheet->grab().toImage();
    return save(shots::sheetOver(window.grab().toImage(), top), folder, name, lang);
}

}  // namespace

bool renderWorkspacePanelShots(Studio& studio, const std::function<void()>& settle, const QString& folder,
                               const QString& lang) {
    StudioStore& s = studio.store();
    MainWindow& window = studio.window();
    bool ok = true;
    shots::withDemo(s, settle);
    s.setShowBrowser(true);
    s.setEditorMode(EditorMode::multitrack);

    // Markers over the multitrack page (two close together, a range, a long name) and four steps
    // of history, the last one undone.
    const Uuid lane = s.session().lanes.front().id;
    s.setLaneGain(lane, -4.5);
    s.setLanePan(lane, -0.35);
    {
        Session session = s.session();
        auto marker = [&](const std::string& name, double start, std::optional<double> end = std::nullopt) {
            SessionMarker m;
            m.name = name;
            m.start = start;
            m.end = end;
            session.markers.push_back(m);
        };
        marker("Intro", 0.5);
        marker("Куплет", 3.0, 6.0);
        marker("Припев", 3.4);
        marker("A very long marker name that is cut to one line", 8.0);
        s.setSession(session);
    }
    s.setMaster(-2.0);
    s.undo();
    settle();
    pump();
    auto* browser = window.findChild<WorkspaceBrowser*>();
    if (browser) browser->setTab(2);
    pump();
    ok &= save(window.grab().toImage(), folder, QStringLiteral("browser-history"), lang);
    if (browser) browser->setTab(1);
    pump();
    ok &= save(window.grab().toImage(), folder, QStringLiteral("browser-markers-ruler"), lang);
    if (browser) browser->setTab(0);

    // The mixer, the first row selected and muted, the meters showing a level.
    s.changeLane(lane, L("Выключение дорожки"), [](Lane& l) { l.muted = true; });
    s.selectLane(lane, true);
    s.setEditorMode(EditorMode::mixer);
    pump();
    Q_EMIT studio.transport().levelsChanged(0.5f, 0.35f);
    pump();
    ok &= save(window.grab().toImage(), folder, QStringLiteral("mixer"), lang);
    Q_EMIT studio.transport().levelsChanged(0.0f, 0.0f);
    s.setEditorMode(EditorMode::multitrack);

    // The favourites manager with three chains.
    {
        Session session = s.session();
        Track& clip = session.tracks.front();
        EffectSlot voice(EffectPreset::voice);
        voice.params = {{"presence", 3.5}};
        clip.rack = {voice, EffectSlot(EffectPreset::compressor), EffectSlot(EffectPreset::telephone)};
        s.setSession(session);
        s.setSelectedID(session.tracks.front().id);
    }
    for (const auto* name : {"Радио", "Голос", "Телефон"}) s.saveFavorite(name);
    s.setEffectsSheet(EffectsSheet::manageFavorites);
    pump();
    ok &= sheetShot(window, folder, QStringLiteral("favorites-manager"), lang);

    // The batch sheet after a run with one failure.
    s.setEffectsSheet(EffectsSheet::batch);
    pump();
    if (auto* sheet = window.findChild<BatchProcessSheet*>()) {
        auto& b = *sheet->controller();
        const std::filesystem::path in = "/home/user/Recordings";
        b.inputs = {in / "interview-1.wav", in / "interview-2.wav", in / "interview-3.flac", in / "notes.txt"};
        b.folder = in / "Processed";
        BatchReport report;
        for (int i = 0; i < 3; ++i) report.written.push_back(*b.folder / ("interview-" + std::to_string(i + 1) + ".wav"));
        report.failures.push_back({"notes.txt", L("Аудиофайл не содержит звука.")});
        b.report = report;
        if (b.changed) b.changed();
        pump();
        ok &= sheetShot(window, folder, QStringLiteral("batch-report"), lang);
    }
    s.setEffectsSheet(std::nullopt);
    pump();
    return ok;
}

}  // namespace tessoral
