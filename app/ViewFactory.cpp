#include "app/ViewFactory.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

#include "model/Localization.h"
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
#include "timeline/MultitrackTimeline.h"
#include "widgets/Fonts.h"
#include "widgets/Palette.h"

namespace tessoral {

PlaceholderView::PlaceholderView(const QString& name, const QColor& background, QWidget* parent)
    : QWidget(parent), background_(background) {
    setObjectName(name);
    if (background_.alpha() == 255) setAttribute(Qt::WA_OpaquePaintEvent);
}

void PlaceholderView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (background_.alpha() > 0) p.fillRect(rect(), background_);
    p.setPen(Palette::tertiaryText());
    p.setFont(Fonts::mono(10));
    p.drawText(rect(), Qt::AlignCenter, objectName());
}

namespace {

PlaceholderView* fixedWidth(const char* name, int width, QColor bg, QWidget* parent) {
    auto* v = new PlaceholderView(QString::fromLatin1(name), bg, parent);
    v->setFixedWidth(width);
    return v;
}

PlaceholderView* fixedHeight(const char* name, int height, QColor bg, QWidget* parent) {
    auto* v = new PlaceholderView(QString::fromLatin1(name), bg, parent);
    v->setFixedHeight(height);
    return v;
}

PlaceholderView* filling(const char* name, QColor bg, QWidget* parent) {
    auto* v = new PlaceholderView(QString::fromLatin1(name), bg, parent);
    v->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    return v;
}

// A sheet stand-in in the shared sheet layout: 26 padding, the title at 20 semibold, a last row
// ending in "Отмена" (Escape).
QWidget* sheet(const char* name, int width, QWidget* parent) {
    auto* w = new QWidget(parent);
    w->setObjectName(QString::fromLatin1(name));
    w->setFixedWidth(width);
    auto* column = new QVBoxLayout(w);
    column->setContentsMargins(26, 26, 26, 26);
    column->setSpacing(18);
    auto* title = new QLabel(QString::fromLatin1(name), w);
    title->setFont(Fonts::ui(20, QFont::DemiBold));
    column->addWidget(title);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    auto* cancel = new QPushButton(QString::fromStdString(L("Отмена")), w);
    cancel->setObjectName(QStringLiteral("cancel"));
    QObject::connect(cancel, &QPushButton::clicked, w, [w] {
        if (auto* dialog = qobject_cast<QDialog*>(w->window())) dialog->reject();
    });
    row->addWidget(cancel);
    column->addLayout(row);
    return w;
}

}  // namespace

namespace ViewFactory {

QWidget* workspaceBrowser(ViewContext ctx, QWidget* parent) {
    auto* browser = new WorkspaceBrowser(*ctx.store, ctx.transport, parent);
    browser->setFixedWidth(WorkspaceBrowser::kWidth);
    return browser;
}
QWidget* editorTools(ViewContext, QWidget* parent) { return fixedHeight("editorTools", 72, Palette::panel(), parent); }
QWidget* multitrackTimeline(ViewContext ctx, QWidget* parent) {
    return new MultitrackTimeline(*ctx.store, ctx.transport, parent);
}
QWidget* waveformEditor(ViewContext, QWidget* parent) {
    return filling("waveformEditor", Palette::background(), parent);
}
QWidget* mixerWorkspace(ViewContext ctx, QWidget* parent) {
    return new MixerWorkspace(*ctx.store, ctx.transport, parent);
}
QWidget* frequencyAnalysisPanel(ViewContext ctx, QWidget* parent) {
    return new FrequencyAnalysisPanel(*ctx.store, parent);
}
QWidget* selectionBar(ViewContext, QWidget* parent) {
    return fixedHeight("selectionBar", 38, Palette::panel(), parent);
}
QWidget* inspectorTabBar(ViewContext, QWidget* parent) {
    return fixedHeight("inspectorTabBar", 42, Palette::panel(), parent);
}
QWidget* effectsRack(ViewContext ctx, QWidget* parent) { return new EffectsRackView(*ctx.store, ctx.transport, parent); }
QWidget* processingInspector(ViewContext, QWidget* parent) {
    // The processing page sits on the panel colour at 0.65 over the window background.
    QColor bg = Palette::panel();
    const QColor under = Palette::background();
    bg = QColor::fromRgbF(float(bg.redF() * 0.65 + under.redF() * 0.35), float(bg.greenF() * 0.65 + under.greenF() * 0.35),
                          float(bg.blueF() * 0.65 + under.blueF() * 0.35));
    return filling("processingInspector", bg, parent);
}
QWidget* diagnosticsPanel(ViewContext ctx, QWidget* parent) {
    return new panels::DiagnosticsPanel(*ctx.store, ctx.transport, parent);
}
QWidget* essentialSound(ViewContext ctx, QWidget* parent) {
    return new panels::EssentialSoundView(*ctx.store, ctx.transport, parent);
}
QWidget* tempoControl(ViewContext, QWidget* parent) {
    auto* v = fixedWidth("tempoControl", 96, QColor(0, 0, 0, 0), parent);
    v->setFixedHeight(30);
    return v;
}
QWidget* liveMeterPanel(ViewContext ctx, QWidget* parent) { return new LiveMeterPanel(ctx.transport, parent); }
QWidget* settingsView(ViewContext ctx, QWidget* parent) { return new SettingsView(*ctx.store, parent); }

QWidget* exportSheet(ViewContext, QWidget* parent) { return sheet("exportSheet", 460, parent); }
QWidget* timePitchSheet(ViewContext, QWidget* parent) { return sheet("timePitchSheet", 400, parent); }
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
