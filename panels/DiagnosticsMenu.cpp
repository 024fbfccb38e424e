#include "panels/DiagnosticsMenu.h"

#include <QAction>
#include <QMenu>

#include "model/Localization.h"
#include "processing/ChannelOps.h"
#include "store/DiagnosticsState.h"
#include "store/StudioStore.h"
#include "store/TransportSignals.h"

namespace tessoral::panels {

ActionRules::ActionRules(StudioStore& store, TransportSignals* transport, QObject* parent) : QObject(parent) {
    for (auto signal : {&StudioStore::busyChanged, &StudioStore::selectedIDChanged, &StudioStore::sessionChanged})
        connect(&store, signal, this, &ActionRules::refresh);
    if (transport) connect(transport, &TransportSignals::recordingChanged, this, &ActionRules::refresh);
}

void ActionRules::add(QAction* action, std::function<bool()> enabled) {
    action->setEnabled(enabled());
    rules_.push_back({action, std::move(enabled)});
}

void ActionRules::refresh() {
    for (const Rule& rule : rules_)
        if (rule.action) {
            const bool on = rule.enabled();
            if (rule.action->isEnabled() != on) rule.action->setEnabled(on);
        }
}

namespace {

void openSheet(StudioStore& store, ProcessingSheet sheet) {
    DiagnosticsState d = store.diagnostics();
    d.sheet = sheet;
    store.setDiagnostics(std::move(d));
}

}  // namespace

void populateDiagnosticsMenu(StudioStore& store, TransportSignals* transport, QMenu* menu) {
    StudioStore* s = &store;
    auto* rules = new ActionRules(store, transport, menu);
    rules->setObjectName(QStringLiteral("diagnosticsMenuRules"));
    menu->addSeparator();
    QAction* diagnostics = menu->addAction(QString::fromStdString(L("Диагностика…")));
    QObject::connect(diagnostics, &QAction::triggered, menu, [s] {
        s->setShowInspector(true);
        s->setInspectorTab(2);
    });

    auto* channels = new QMenu(QString::fromStdString(L("Каналы")), menu);
    menu->addMenu(channels);
    rules->add(channels->menuAction(), [s] { return !s->locked() && s->selectedIndex().has_value(); });
    for (const ChannelOperation& op : {ChannelOperation::swap(), ChannelOperation::mono(), ChannelOperation::leftToBoth(),
                                       ChannelOperation::rightToBoth(), ChannelOperation::invertLeft()}) {
        QAction* a = channels->addAction(QString::fromStdString(op.title()));
        QObject::connect(a, &QAction::triggered, channels, [s, op] { s->applyChannelOperation(op); });
    }
    channels->addSeparator();
    QObject::connect(channels->addAction(QString::fromStdString(L("Ширина стереобазы…"))), &QAction::triggered, channels,
                     [s] { openSheet(*s, ProcessingSheet::width); });
    QObject::connect(channels->addAction(QString::fromStdString(L("Извлечь центр / убрать вокал…"))),
                     &QAction::triggered, channels, [s] { openSheet(*s, ProcessingSheet::center); });
}

}  // namespace tessoral::panels
