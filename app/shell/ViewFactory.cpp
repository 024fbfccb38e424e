#include "app/shell/ViewFactory.h"

#include <QHBoxLayout>

#include <algorithm>

#include "app/editor/EditorTools.h"
#include "app/inspector/ExportSheet.h"
#include "app/inspector/Inspector.h"
#include "app/inspector/InspectorTabBar.h"
#include "app/editor/SelectionBar.h"
#include "app/inspector/TimePitchSheet.h"
#include "app/editor/WaveformEditor.h"
#include "panels/AutoDuckSheet.h"
#include "panels/DiagnosticsMenu.h"
#include "panels/DiagnosticsPanel.h"
#include "panels/FrequencyAnalysis.h"
#include "panels/LiveMeter.h"
#include "panels/Settings.h"
#include "panels/EssentialSound.h"
#include "panels/FavoriteSheets.h"
#include "panels/Mixer.h"
#include "panels/WorkspaceBrowser.h"
#include "panels/GenerateMenu.h"
#include "panels/ProcessingSheet.h"
#include "panels/EffectRack.h"
#include "panels/LoudnessMatchSheet.h"
#include "timeline/AmplitudeScale.h"
#include "timeline/MultitrackTimeline.h"
#include "timeline/SpectralRepairPanel.h"
#include "timeline/SpectralToolbar.h"
#include "timeline/TempoControl.h"

namespace tessoral {

namespace ViewFactory {

QWidget* workspaceBrowser(ViewContext ctx, QWidget* parent) {
    auto* browser = new WorkspaceBrowser(*ctx.store, ctx.transport, parent);
    browser->setFixedWidth(WorkspaceBrowser::kWidth);
    return browser;
}
QWidget* editorTools(ViewContext ctx, QWidget* parent) {
    auto* tools = new EditorTools(*ctx.store, parent);
    if (QLayout* slot = tools->spectralToolbarSlot()->layout())
        slot->addWidget(new SpectralToolbar(*ctx.store, tools->spectralToolbarSlot()));
    if (auto* slot = qobject_cast<QBoxLayout*>(tools->amplitudeZoomSlot()->layout()))
        slot->insertWidget(0, new AmplitudeZoomControls(*ctx.store, tools->amplitudeZoomSlot()));
    return tools;
}
QWidget* multitrackTimeline(ViewContext ctx, QWidget* parent) {
    return new MultitrackTimeline(*ctx.store, ctx.transport, parent);
}
QWidget* waveformEditor(ViewContext ctx, QWidget* parent) {
    auto* editor = new WaveformEditor(*ctx.store, ctx.transport, parent);
    // The amplitude scale fills its place over the lane's left edge (as high as the lane).
    auto* scaleRow = new QHBoxLayout(editor->amplitudeScaleSlot());
    scaleRow->setContentsMargins(0, 0, 0, 0);
    scaleRow->addWidget(new AmplitudeScale(*ctx.store, editor->amplitudeScaleSlot()));
    scaleRow->addStretch(1);
    return editor;
}
QWidget* mixerWorkspace(ViewContext ctx, QWidget* parent) {
    return new MixerWorkspace(*ctx.store, ctx.transport, parent);
}
QWidget* frequencyAnalysisPanel(ViewContext ctx, QWidget* parent) {
    return new FrequencyAnalysisPanel(*ctx.store, ctx.transport, parent);
}
QWidget* selectionBar(ViewContext ctx, QWidget* parent) { return new SelectionBar(*ctx.store, parent); }
QWidget* inspectorTabBar(ViewContext ctx, QWidget* parent) { return new InspectorTabBar(*ctx.store, parent); }
QWidget* effectsRack(ViewContext ctx, QWidget* parent) { return new EffectsRackView(*ctx.store, ctx.transport, parent); }
QWidget* processingInspector(ViewContext ctx, QWidget* parent) {
    auto* inspector = new ProcessingInspector(*ctx.store, parent);
    if (QLayout* slot = inspector->spectralSlot()->layout())
        slot->addWidget(new SpectralRepairPanel(*ctx.store, inspector->spectralSlot()));
    return inspector;
}
QWidget* diagnosticsPanel(ViewContext ctx, QWidget* parent) {
    return new panels::DiagnosticsPanel(*ctx.store, ctx.transport, parent);
}
QWidget* essentialSound(ViewContext ctx, QWidget* parent) {
    return new panels::EssentialSoundView(*ctx.store, ctx.transport, parent);
}
QWidget* tempoControl(ViewContext ctx, QWidget* parent) { return new TempoControl(*ctx.store, ctx.transport, parent); }
QWidget* liveMeterPanel(ViewContext ctx, QWidget* parent) { return new LiveMeterPanel(ctx.transport, parent); }
QWidget* settingsView(ViewContext ctx, QWidget* parent) { return new SettingsView(*ctx.store, parent); }

QWidget* exportSheet(ViewContext ctx, QWidget* parent) { return new ExportSheet(*ctx.store, parent); }
QWidget* timePitchSheet(ViewContext ctx, QWidget* parent) { return new TimePitchSheet(*ctx.store, parent); }
QWidget* autoDuckSheet(ViewContext ctx, QWidget* parent) {
    return new panels::AutoDuckSheet(*ctx.store, panels::AutoDuckSheet::initialSettings(), parent);
}
QWidget* effectsSheet(ViewContext ctx, int, QWidget* parent) {
    return new EffectsSheetView(*ctx.store, ctx.transport, parent);
}
QWidget* matchLoudnessSheet(ViewContext ctx, QWidget* parent) {
    return new MatchLoudnessSheet(*ctx.store, ctx.transport, parent);
}
QWidget* processingSheet(ViewContext ctx, int item, QWidget* parent) {
    const auto cases = allCases<ProcessingSheet>();
    const auto index = static_cast<std::size_t>(std::clamp(item, 0, static_cast<int>(cases.size()) - 1));
    return new panels::ProcessingSheetView(*ctx.store, cases[index], parent);
}

void populateDiagnosticsMenu(ViewContext ctx, QMenu* menu) {
    panels::populateDiagnosticsMenu(*ctx.store, ctx.transport, menu);
}
void populateGenerateMenu(ViewContext ctx, QMenu* menu) { panels::populateGenerateMenu(*ctx.store, ctx.transport, menu); }

}  // namespace ViewFactory

}  // namespace tessoral
