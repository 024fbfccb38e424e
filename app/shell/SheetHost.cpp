#include "app/shell/SheetHost.h"

#include <QDialog>
#include <QVBoxLayout>

#include "app/shell/ViewFactory.h"
#include "store/StudioStore.h"

namespace tessoral {

SheetHost::SheetHost(ViewContext context, QWidget* window, QObject* parent)
    : QObject(parent), ctx_(context), window_(window) {
    StudioStore* store = ctx_.store;
    for (auto signal : {&StudioStore::showExportChanged, &StudioStore::showTimePitchChanged,
                        &StudioStore::showAutoDuckChanged, &StudioStore::effectsSheetChanged,
                        &StudioStore::showMatchLoudnessChanged, &StudioStore::diagnosticsChanged})
        connect(store, signal, this, &SheetHost::sync);
}

SheetHost::~SheetHost() {
    for (auto& o : open_)
        if (o.dialog) {
            o.dialog->disconnect(this);
            delete o.dialog;
        }
}

std::optional<int> SheetHost::wanted(Sheet sheet) const {
    const StudioStore& s = *ctx_.store;
    switch (sheet) {
        case Sheet::exportMix: return s.showExport() ? std::optional<int>(0) : std::nullopt;
        case Sheet::timePitch: return s.showTimePitch() ? std::optional<int>(0) : std::nullopt;
        case Sheet::autoDuck: return s.showAutoDuck() ? std::optional<int>(0) : std::nullopt;
        case Sheet::effects:
            // One dialog for every case: its content follows the case itself.
            return s.effectsSheet() ? std::optional<int>(0) : std::nullopt;
        case Sheet::matchLoudness: return s.showMatchLoudness() ? std::optional<int>(0) : std::nullopt;
        case Sheet::processing:
            return s.diagnostics().sheet ? std::optional<int>(static_cast<int>(*s.diagnostics().sheet)) : std::nullopt;
    }
    return std::nullopt;
}

void SheetHost::reset(Sheet sheet) {
    StudioStore& s = *ctx_.store;
    switch (sheet) {
        case Sheet::exportMix: s.setShowExport(false); break;
        case Sheet::timePitch: s.setShowTimePitch(false); break;
        case Sheet::autoDuck: s.setShowAutoDuck(false); break;
        case Sheet::effects: s.setEffectsSheet(std::nullopt); break;
        case Sheet::matchLoudness: s.setShowMatchLoudness(false); break;
        case Sheet::processing: {
            DiagnosticsState d = s.diagnostics();
            d.sheet = std::nullopt;
            s.setDiagnostics(std::move(d));
            break;
        }
    }
}

QDialog* SheetHost::dialog(Sheet sheet) const { return open_[static_cast<size_t>(sheet)].dialog; }

QDialog* SheetHost::topSheet() const {
    QDialog* top = nullptr;
    long long order = -1;
    for (const auto& o : open_)
        if (o.dialog && o.order > order) {
            top = o.dialog;
            order = o.order;
        }
    return top;
}

void SheetHost::sync() {
    if (syncing_) return;
    syncing_ = true;
    bool changed = false;
    for (int i = 0; i < kSheetCount; ++i) {
        const auto sheet = static_cast<Sheet>(i);
        const auto want = wanted(sheet);
        Open& o = open_[static_cast<size_t>(i)];
        if (o.dialog && (!want || *want != o.item)) {
            close(sheet);
            changed = true;
        }
        if (want && !o.dialog) {
            open(sheet, *want);
            changed = true;
        }
    }
    syncing_ = false;
    if (changed) Q_EMIT sheetsChanged();
}

void SheetHost::open(Sheet sheet, int item) {
    QWidget* parent = topSheet();
    if (!parent) parent = window_;
    auto* dialog = new QDialog(parent);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAttribute(Qt::WA_DeleteOnClose, false);
    auto* layout = new QVBoxLayout(dialog);
    layout->setContentsMargins(0, 0, 0, 0);
    QWidget* content = nullptr;
    switch (sheet) {
        case Sheet::exportMix: content = ViewFactory::exportSheet(ctx_, dialog); break;
        case Sheet::timePitch: content = ViewFactory::timePitchSheet(ctx_, dialog); break;
        case Sheet::autoDuck: content = ViewFactory::autoDuckSheet(ctx_, dialog); break;
        case Sheet::effects: content = ViewFactory::effectsSheet(ctx_, item, dialog); break;
        case Sheet::matchLoudness: content = ViewFactory::matchLoudnessSheet(ctx_, dialog); break;
        case Sheet::processing: content = ViewFactory::processingSheet(ctx_, item, dialog); break;
    }
    layout->addWidget(content);
    dialog->setWindowTitle(QStringLiteral("Tessoral"));
    dialog->setObjectName(content->objectName() + QStringLiteral("Dialog"));
    layout->setSizeConstraint(QLayout::SetFixedSize);
    Open& o = open_[static_cast<size_t>(sheet)];
    o.dialog = dialog;
    o.item = item;
    o.order = ++counter_;
    // Escape, the window manager's close or the sheet's own cancel: the flag goes back.
    connect(dialog, &QDialog::finished, this, [this, sheet, dialog] {
        Open& current = open_[static_cast<size_t>(sheet)];
        if (current.dialog != dialog) return;
        current.dialog = nullptr;
        dialog->deleteLater();
        if (wanted(sheet)) reset(sheet);
        Q_EMIT sheetsChanged();
    });
    // Unless its content puts the focus in a field, the sheet itself holds it as it opens, with no
    // control marked or under a passing wheel: Return runs the default action and Tab walks the
    // controls from the first.
    if (!dialog->focusWidget()) {
        dialog->setFocusPolicy(Qt::ClickFocus);
        dialog->setFocus(Qt::OtherFocusReason);
    }
    dialog->open();
}

void SheetHost::close(Sheet sheet) {
    Open& o = open_[static_cast<size_t>(sheet)];
    QPointer<QDialog> dialog = o.dialog;
    o.dialog = nullptr;
    if (!dialog) return;
    dialog->disconnect(this);
    dialog->hide();
    dialog->deleteLater();
}

}  // namespace tessoral
