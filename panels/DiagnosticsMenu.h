#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <vector>

class QAction;
class QMenu;

namespace tessoral {

class StudioStore;
class TransportSignals;

namespace panels {

// Enables menu actions by their rules whenever the store publishes something a rule reads (busy,
// the selection, the project) or a recording starts or ends. Owned by the menu it serves.
class ActionRules : public QObject {
    Q_OBJECT
public:
    ActionRules(StudioStore& store, TransportSignals* transport, QObject* parent);

    void add(QAction* action, std::function<bool()> enabled);
    void refresh();

private:
    struct Rule {
        QPointer<QAction> action;
        std::function<bool()> enabled;
    };
    std::vector<Rule> rules_;
};

// The diagnostics group of the processing menu, starting with its own separator: "Диагностика…"
// (always enabled: shows the inspector on its diagnostics tab) and the "Каналы" submenu with the
// five channel operations and the width and centre sheets.
void populateDiagnosticsMenu(StudioStore& store, TransportSignals* transport, QMenu* menu);

}  // namespace panels

}  // namespace tessoral
