#include "tools/screenshots/ProcessingPanelShots.h"

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
#include "panels/ProcessingSheet.h"
#include "store/StudioStore.h"
#include "widgets/Palette.h"

namespace tessoral {

namespace {

using tessoral::shots::pump;
using tessoral::shots::save;

// The sheet drawn over the window, centred near the top as a window-modal dialog appears.
QImage withSheet(MainWindow& window, QDialog* dialog) {
    pump();
    QImage base = window.grab().toImage();
    dialog->adjustSize();
    pump();
    return shots::sheetOver(std::move(base), dialog->grab().toImage());
}

}  // namespace

bool renderProcessingPanelShots(Studio& studio, const std::function<void()>& settle, const QString& folder,
                                const QString& lang) {
    StudioStore& s = studio.store();
    MainWindow& window = studio.window();
    bool ok = true;
    if (!shots::withDemo(s, settle)) return false;
    const Session before = s.session();
    const Uuid first = s.session().tracks.front().id;
    s.setEditorMode(EditorMode::multitrack);
    s.setSelection(std::nullopt);
    s.setSelectedID(first);
    s.setShowInspector(true);

    // Diagnostics: a clicks scan of the first clip with twelve findings of rising severity, two of
    // them selected, while the second clip is selected (the header names the scanned one).
    {
        const Track& clip = *s.session().track(first);
        DiagnosticsState d = s.diagnostics();
        d.kind = DiagnosticKind::clicks;
        d.findings.clear();
        for (int i = 0; i < 12; ++i) {
            DiagnosticFinding f;
            f.kind = DiagnosticKind::clicks;
            const std::int64_t at = 12000 + static_cast<std::int64_t>(i) * 17000;
            f.range = {at, at + 24 + i * 40};
            f.severity = i / 11.0;
            d.findings.push_back(f);
        }
        d.selected = {d.findings[3].id, d.findings[4].id};
        d.trackID = clip.id;
        d.revision = clip.revision;
        d.scannedKind = DiagnosticKind::clicks;
        s.setDiagnostics(d);
        if (s.session().tracks.size() > 1) {
            const Uuid second = s.session().tracks[1].id;
            s.setSelectedID(second);
        }
        s.setInspectorTab(2);
        pump();
        ok &= save(window.grab().toImage(), folder, QStringLiteral("diagnostics-findings"), lang);
        s.setSelectedID(first);
    }

    // Each processing sheet; the silence sheet once more with its refusal.
    for (ProcessingSheet sheet : allCases<ProcessingSheet>()) {
        DiagnosticsState d = s.diagnostics();
        d.sheet = sheet;
        s.setDiagnostics(d);
        pump();
        if (QDialog* dialog = window.studio()->sheets()->topSheet())
            ok &= save(withSheet(window, dialog), folder,
                       QStringLiteral("processing-%1").arg(QString::fromUtf8(rawValue(sheet).data())), lang);
        if (sheet == ProcessingSheet::silence) {
            s.setSelectedID(std::nullopt);
            pump();
            if (QDialog* dialog = window.studio()->sheets()->topSheet())
                if (auto* view = dialog->findChild<panels::ProcessingSheetView*>()) {
                    view->apply();
                    ok &= save(withSheet(window, dialog), folder, QStringLiteral("processing-silence-error"), lang);
                    view->cancel();
                }
            s.setSelectedID(first);
        }
        d = s.diagnostics();
        d.sheet = std::nullopt;
        s.setDiagnostics(d);
        pump();
    }

    // Essential sound: a clip without settings, then the same clip as dialogue with treatments on.
    {
        Session shown = s.session();
        shown.track(first)->essentialSound.reset();
        s.setSession(shown);
        s.setInspectorTab(3);
        pump();
        ok &= save(window.grab().toImage(), folder, QStringLiteral("essential-none"), lang);
        EssentialSound dialogue(SoundType::dialogue);
        dialogue.humFrequency = 50;
        dialogue.reduceNoise = {true, 4.5};
        dialogue.removeHum = {true, 6.0};
        dialogue.eq = {true, 5.0};
        dialogue.eqPreset = DialogueEQ::warmVoice;
        dialogue.enhance = {true, 3.2};
        shown.track(first)->essentialSound = dialogue;
        s.setSession(shown);
        pump();
        ok &= save(window.grab().toImage(), folder, QStringLiteral("essential-dialogue"), lang);
    }

    // The auto-duck sheet over the first clip.
    s.setShowAutoDuck(true);
    pump();
    if (QDialog* dialog = window.studio()->sheets()->topSheet())
        ok &= save(withSheet(window, dialog), folder, QStringLiteral("auto-duck"), lang);
    s.setShowAutoDuck(false);

    s.setDiagnostics(DiagnosticsState{});
    s.setSession(before);
    s.setInspectorTab(1);
    settle();
    pump();
    return ok;
}

}  // namespace tessoral
