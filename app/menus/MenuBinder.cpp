#include "app/menus/MenuBinder.h"

#include <QAction>

#include "store/StudioStore.h"
#include "store/TransportSignals.h"

namespace tessoral {

QString menuText(const QString& text) {
    QString out;
    out.reserve(text.size() + 4);
    for (const QChar c : text) {
        if (c == QLatin1Char('&'))
            out += QStringLiteral("&&");
        else if (c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            out += QLatin1Char(' ');
        else
            out += c;
    }
    return out;
}

QString menuText(std::string_view text) {
    return menuText(QString::fromUtf8(text.data(), qsizetype(text.size())));
}

QString shownText(const QString& actionText) {
    QString out;
    for (qsizetype i = 0; i < actionText.size(); ++i) {
        if (actionText[i] == QLatin1Char('&')) {
            if (i + 1 < actionText.size() && actionText[i + 1] == QLatin1Char('&')) {
                out += QLatin1Char('&');
                ++i;
            }
            continue;
        }
        out += actionText[i];
    }
    return out;
}

MenuBinder::MenuBinder(ViewContext context, QObject* parent) : QObject(parent), ctx_(context) {
    StudioStore* store = ctx_.store;
    const auto again = [this] { refresh(); };
    // Every published value a rule reads.
    for (auto signal : {&StudioStore::sessionChanged, &StudioStore::selectedIDChanged,
                        &StudioStore::selectedLaneIDChanged, &StudioStore::selectionChanged,
                        &StudioStore::freqSelectionChanged, &StudioStore::busyChanged, &StudioStore::undoNamesChanged,
                        &StudioStore::redoNamesChanged, &StudioStore::zoomChanged, &StudioStore::editorModeChanged,
                        &StudioStore::showBrowserChanged, &StudioStore::showInspectorChanged,
                        &StudioStore::showAnalysisChanged, &StudioStore::showEnvelopesChanged,
                        &StudioStore::spectralViewChanged, &StudioStore::timeFormatChanged,
                        &StudioStore::metronomeChanged, &StudioStore::noiseProfileChanged,
                        &StudioStore::spectralAttenuationChanged, &StudioStore::spectralMaskChanged,
                        &StudioStore::spectralMaskTrackIDChanged, &StudioStore::favoritesChanged})
        connect(store, signal, this, again);
    if (ctx_.transport) connect(ctx_.transport, &TransportSignals::recordingChanged, this, again);
}

QAction* MenuBinder::bind(QAction* action, Rule rule) {
    if (rule.checked) action->setCheckable(true);
    bindings_.push_back({action, std::move(rule)});
    return action;
}

void MenuBinder::addListStep(std::function<void()> step) { lists_.push_back(std::move(step)); }

void MenuBinder::refresh() {
    if (refreshing_ || !ctx_.store) return;
    refreshing_ = true;
    ++refreshes_;
    for (const auto& step : lists_) step();
    for (const Binding& b : bindings_) {
        QAction* a = b.action;
        if (!a) continue;
        if (b.rule.title) {
            const QString text = menuText(b.rule.title());
            if (a->text() != text) a->setText(text);
        }
        const bool enabled = b.rule.enabled ? b.rule.enabled() : true;
        if (a->isEnabled() != enabled) a->setEnabled(enabled);
        if (b.rule.checked) {
            const bool checked = b.rule.checked();
            if (a->isChecked() != checked) a->setChecked(checked);
        }
    }
    refreshing_ = false;
}

}  // namespace tessoral
