#pragma once

#include <QWidget>

#include "app/shell/ViewContext.h"

class QMenu;

namespace tessoral {

// Where the window gets the views of the timeline and the panels. Each function builds its view
// once; the window keeps it and the view updates itself in place from the store's signals.
namespace ViewFactory {

// Left column, 184 wide (files, markers and history).
QWidget* workspaceBrowser(ViewContext ctx, QWidget* parent);
// The two rows of editor tools, 72 high.
QWidget* editorTools(ViewContext ctx, QWidget* parent);
// The editor area of each mode.
QWidget* multitrackTimeline(ViewContext ctx, QWidget* parent);
QWidget* waveformEditor(ViewContext ctx, QWidget* parent);
QWidget* mixerWorkspace(ViewContext ctx, QWidget* parent);
// Under the editor area while the analysis is shown; built afresh each time it is shown.
QWidget* frequencyAnalysisPanel(ViewContext ctx, QWidget* parent);
// The selection bar, 38 high.
QWidget* selectionBar(ViewContext ctx, QWidget* parent);
// Right panel: the tab bar (42 high) and the four pages.
QWidget* inspectorTabBar(ViewContext ctx, QWidget* parent);
QWidget* effectsRack(ViewContext ctx, QWidget* parent);
QWidget* processingInspector(ViewContext ctx, QWidget* parent);
QWidget* diagnosticsPanel(ViewContext ctx, QWidget* parent);
QWidget* essentialSound(ViewContext ctx, QWidget* parent);
// In the transport bar.
QWidget* tempoControl(ViewContext ctx, QWidget* parent);
QWidget* liveMeterPanel(ViewContext ctx, QWidget* parent);
// The settings window's content.
QWidget* settingsView(ViewContext ctx, QWidget* parent);

// Sheet contents, built fresh for each opening. `item` is the open case of the effects or
// processing sheet. A sheet closes itself by resetting its store flag.
QWidget* exportSheet(ViewContext ctx, QWidget* parent);
QWidget* timePitchSheet(ViewContext ctx, QWidget* parent);
QWidget* autoDuckSheet(ViewContext ctx, QWidget* parent);
QWidget* effectsSheet(ViewContext ctx, int item, QWidget* parent);
QWidget* matchLoudnessSheet(ViewContext ctx, QWidget* parent);
QWidget* processingSheet(ViewContext ctx, int item, QWidget* parent);

// The two menu populators (diagnostics and generate items).
void populateDiagnosticsMenu(ViewContext ctx, QMenu* menu);
void populateGenerateMenu(ViewContext ctx, QMenu* menu);

}  // namespace ViewFactory

}  // namespace tessoral
