#pragma once

#include <QKeySequence>
#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <string_view>

#include "app/menus/AboutPanel.h"
#include "app/menus/HelpOpener.h"
#include "app/menus/MenuBinder.h"
#include "app/shell/ViewContext.h"

class QAction;
class QMainWindow;
class QMenu;

namespace tessoral {

class StudioStore;

// The main window's menu bar: Файл, Правка, Вид, Дорожка, Маркеры, Обработка, Эффекты, Генерация,
// Справка. Every entry calls one store command or writes one store property; one binder keeps
// their titles, enable states and check marks in step with the store. The window's own
// "Настройки…" and "Выход" stay at the end of Файл.
class MenuBar : public QObject {
    Q_OBJECT
public:
    // `fileMenu` already holds the window's own entries; the project entries go before them.
    MenuBar(ViewContext context, QMainWindow& window, QMenu* fileMenu);
    ~MenuBar() override;

    MenuBinder& binder() { return *binder_; }
    HelpActions& help() { return *help_; }
    // The top-level menus in menu-bar order.
    QList<QMenu*> menus() const;
    // "О программе Tessoral" (one panel, raised when open).
    void showAbout();
    // F10: the first menu opens with its first entry chosen; the arrows then walk the entries and,
    // left and right, the menus, as in the desktop's other programs.
    void openFirstMenu();
    AboutPanel* aboutPanel() const { return about_; }

private:
    ViewContext ctx_;
    QMainWindow& window_;
    MenuBinder* binder_;
    std::unique_ptr<StoreUrlOpener> opener_;
    std::unique_ptr<HelpActions> help_;
    QPointer<AboutPanel> about_;
};

namespace Menus {

// What the builders of the single menus share.
struct Builder {
    StudioStore& store;
    ViewContext ctx;
    MenuBinder& binder;
    QWidget* window;

    // An entry titled L(key) running `run`, with its rule and shortcuts.
    QAction* add(QMenu* menu, std::string_view key, MenuBinder::Rule rule, std::function<void()> run,
                 const QList<QKeySequence>& shortcuts = {});
    QMenu* submenu(QMenu* menu, std::string_view key, std::function<bool()> enabled);
    bool locked() const;
    bool clipSelected() const;
};

void fileItems(Builder& b, QMenu* file, QAction* before);
void editMenu(Builder& b, QMenu* menu);
void viewMenu(Builder& b, QMenu* menu);
void trackMenu(Builder& b, QMenu* menu);
void markersMenu(Builder& b, QMenu* menu);
void processingMenu(Builder& b, QMenu* menu);
void effectsMenu(Builder& b, QMenu* menu);
// Disabled entries drawn in the plain disabled colour, without the style's etched shadow (which
// reads as doubled text on the dark palette); applied to the menu and its submenus.
void plainDisabledText(QMenu* menu);
// Alt+letter for each title of the menu bar: its first letter that no title before it took
// (a '&' placed before it); a title without such a letter gets none.
void addMnemonics(const QList<QAction*>& titles);
// Guide, site, support mail, licence, then "О программе Tessoral".
void helpMenu(QMenu* menu, HelpActions& help, std::function<void()> about);

// Every menu of the bar as text: titles as shown, shortcuts in portable text, "-" before a
// disabled entry, [x]/[ ] for toggles, "----" for dividers, submenus indented.
QString dump(const QList<QMenu*>& menus);
// The key sequences of every entry in the menus, their submenus included.
QList<QKeySequence> shortcuts(const QList<QMenu*>& menus);

}  // namespace Menus

}  // namespace tessoral
