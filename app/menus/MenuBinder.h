#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/shell/ViewContext.h"

class QAction;

namespace tessoral {

// A text as a menu shows it verbatim: '&' doubled (no mnemonic) and tabs and line breaks turned
// into spaces (a tab would start the shortcut column).
QString menuText(std::string_view text);
QString menuText(const QString& text);
// What a menu entry reads like on screen: "&&" → "&", a lone '&' dropped.
QString shownText(const QString& actionText);

// Holds every menu entry's rules — when it is enabled, whether it is checked, what it reads — and
// applies them all whenever the store publishes a change that any rule reads, so the menus and
// their shortcuts always follow the store. Lists that mirror the project (markers, favourites)
// register a step that updates them first.
class MenuBinder : public QObject {
    Q_OBJECT
public:
    struct Rule {
        Rule() = default;
        Rule(std::function<bool()> enabledRule, std::function<bool()> checkedRule = {},
             std::function<std::string()> titleRule = {})
            : enabled(std::move(enabledRule)), checked(std::move(checkedRule)), title(std::move(titleRule)) {}
        std::function<bool()> enabled;      // none: always enabled
        std::function<bool()> checked;      // none: not a toggle
        std::function<std::string()> title;  // none: the title stays
    };

    explicit MenuBinder(ViewContext context, QObject* parent = nullptr);

    QAction* bind(QAction* action, Rule rule);
    void addListStep(std::function<void()> step);
    // Applies every rule now (also after each action, so a toggle the store refused shows its
    // true state again).
    void refresh();
    int refreshCount() const { return refreshes_; }

private:
    struct Binding {
        QPointer<QAction> action;
        Rule rule;
    };
    ViewContext ctx_;
    std::vector<Binding> bindings_;
    std::vector<std::function<void()>> lists_;
    bool refreshing_ = false;
    int refreshes_ = 0;
};

}  // namespace tessoral
