#include "panels/GenerateMenu.h"

#include <QAction>
#include <QMenu>

#include <string>

#include "model/Localization.h"
#include "panels/DiagnosticsMenu.h"
#include "store/DiagnosticsState.h"
#include "store/StudioStore.h"

namespace tessoral::panels {

void populateGenerateMenu(StudioStore& store, TransportSignals* transport, QMenu* menu) {
    StudioStore* s = &store;
    auto* rules = new ActionRules(store, transport, menu);
    rules->setObjectName(QStringLiteral("generateMenuRules"));
    auto add = [menu, rules, s](const std::string& title, ProcessingSheet sheet, bool needsClip) {
        QAction* a = menu->addAction(QString::fromStdString(title));
        rules->add(a, [s, needsClip] { return !s->locked() && (!needsClip || s->selectedIndex().has_value()); });
        QObject::connect(a, &QAction::triggered, menu, [s, sheet] {
            DiagnosticsState d = s->diagnostics();
            d.sheet = sheet;
            s->setDiagnostics(std::move(d));
        });
    };
    add(L("Тон…"), ProcessingSheet::tone, false);
    add(L("Шум…"), ProcessingSheet::noise, false);
    menu->addSeparator();
    add(L("Вставить тишину…"), ProcessingSheet::silence, true);
}

}  // namespace tessoral::panels
