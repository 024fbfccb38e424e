#include "app/menus/MenuBar.h"

#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPalette>
#include <QPlainTextEdit>
#include <QSet>
#include <QSysInfo>
#include <QTextEdit>

#include "app/menus/AboutPanel.h"
#include "app/shell/AppConfig.h"
#include "app/shell/ResourcePaths.h"
#include "app/shell/ViewFactory.h"
#include "model/Localization.h"
#include "store/StudioStore.h"

namespace tessoral {

namespace {

enum class Pasteboard { cut, copy, paste, selectAll };

// The four clipboard commands on one text widget (line edit, text edit or plain text edit).
template <class Edit>
bool applyPasteboard(Edit* edit, Pasteboard op) {
    switch (op) {
        case Pasteboard::cut: edit->cut(); break;
        case Pasteboard::copy: edit->copy(); break;
        case Pasteboard::paste: edit->paste(); break;
        case Pasteboard::selectAll: edit->selectAll(); break;
    }
    return true;
}

// Sends a pasteboard command to the focused text field, if one has the focus.
bool sendToTextField(Pasteboard op) {
    QWidget* focus = QApplication::focusWidget();
    if (!focus) return false;
    if (auto* spin = qobject_cast<QAbstractSpinBox*>(focus)) {
        if (op == Pasteboard::selectAll) {
            spin->selectAll();
            return true;
        }
        focus = spin->findChild<QLineEdit*>();
    } else if (auto* combo = qobject_cast<QComboBox*>(focus)) {
        focus = combo->isEditable() ? combo->lineEdit() : nullptr;
    }
    if (!focus) return false;
    if (auto* edit = qobject_cast<QLineEdit*>(focus)) return applyPasteboard(edit, op);
    if (auto* edit = qobject_cast<QTextEdit*>(focus)) return applyPasteboard(edit, op);
    if (auto* edit = qobject_cast<QPlainTextEdit*>(focus)) return applyPasteboard(edit, op);
    return false;
}

void dumpMenu(const QMenu* menu, int depth, QString& out) {
    const QString indent(depth * 2, QLatin1Char(' '));
    for (QAction* a : menu->actions()) {
        if (!a->isVisible()) continue;
        if (a->isSeparator()) {
            out += indent + QStringLiteral("----\n");
            continue;
        }
        QString line = indent + (a->isEnabled() ? QStringLiteral("+ ") : QStringLiteral("- ")) + shownText(a->text());
        if (a->isCheckable()) line += a->isChecked() ? QStringLiteral(" [x]") : QStringLiteral(" [ ]");
        QStringList keys;
        for (const QKeySequence& k : a->shortcuts()) keys << k.toString(QKeySequence::PortableText);
        if (!keys.isEmpty()) line += QStringLiteral("  (") + keys.join(QStringLiteral(", ")) + QLatin1Char(')');
        if (a->menu()) line += QStringLiteral(" >");
        out += line + QLatin1Char('\n');
        if (a->menu()) dumpMenu(a->menu(), depth + 1, out);
    }
}

void collect(const QMenu* menu, QList<QKeySequence>& out) {
    for (QAction* a : menu->actions()) {
        out += a->shortcuts();
        if (a->menu()) collect(a->menu(), out);
    }
}

}  // namespace

// ---- Builder ----

namespace Menus {

QAction* Builder::add(QMenu* menu, std::string_view title, MenuBinder::Rule rule, std::function<void()> run,
                      const QList<QKeySequence>& keys) {
    auto* action = new QAction(menuText(title), menu);
    menu->addAction(action);
    if (!keys.isEmpty()) action->setShortcuts(keys);
    binder.bind(action, std::move(rule));
    MenuBinder* binding = &binder;
    QObject::connect(action, &QAction::triggered, action, [run = std::move(run), binding] {
        if (run) run();
        binding->refresh();
    });
    return action;
}

QMenu* Builder::submenu(QMenu* menu, std::string_view title, std::function<bool()> enabled) {
    QMenu* sub = menu->addMenu(menuText(title));
    binder.bind(sub->menuAction(), {std::move(enabled), {}, {}});
    return sub;
}

bool Builder::locked() const { return store.locked(); }
bool Builder::clipSelected() const { return store.selectedIndex().has_value(); }

void fileItems(Builder& b, QMenu* file, QAction* before) {
    StudioStore* s = &b.store;
    const auto open = [s] { return !s->locked(); };
    QList<QAction*> added;
    added << b.add(file, L("Новый проект"), {open}, [s] { s->newProject(); }, {QKeySequence(Qt::CTRL | Qt::Key_N)});
    added << b.add(file, L("Открыть…"), {open}, [s] { s->openPanel(); }, {QKeySequence(Qt::CTRL | Qt::Key_O)});
    added << b.add(file, L("Демо-проект"), {open}, [s] { s->loadDemo(); });
    added << file->addSeparator();
    added << b.add(file, L("Сохранить проект"), {open}, [s] { s->saveProject(false); },
                   {QKeySequence(Qt::CTRL | Qt::Key_S)});
    added << b.add(file, L("Сохранить проект как…"), {open}, [s] { s->saveProject(true); },
                   {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)});
    added << b.add(
        file, L("Экспорт аудио…"), {[s] { return !s->locked() && !s->session().tracks.empty(); }},
        [s] { s->setShowExport(true); }, {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E)});
    // Before the window's own entries (its divider, "Настройки…" and "Выход").
    for (QAction* a : added) {
        file->removeAction(a);
        file->insertAction(before, a);
    }
}

void editMenu(Builder& b, QMenu* menu) {
    StudioStore* s = &b.store;
    b.add(menu, L("Отменить {0}"),
          {[s] { return !s->undoNames().empty() && !s->locked(); }, {},
           // Undo names are stored in the running language already: shown as they are.
           [s] { return s->undoNames().empty() ? L("Отменить") : L("Отменить {0}", s->undoNames().back()); }},
          [s] { s->undo(); }, {QKeySequence(Qt::CTRL | Qt::Key_Z)});
    b.add(menu, L("Повторить {0}"),
          {[s] { return !s->redoNames().empty() && !s->locked(); }, {},
           [s] { return s->redoNames().empty() ? L("Повторить") : L("Повторить {0}", s->redoNames().back()); }},
          [s] { s->redo(); }, {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)});
    menu->addSeparator();
    // Never disabled; a focused text field takes them, else the store.
    b.add(menu, L("Вырезать"), {}, [s] { if (!sendToTextField(Pasteboard::cut)) s->copy(true); },
          {QKeySequence(Qt::CTRL | Qt::Key_X)});
    b.add(menu, L("Копировать"), {}, [s] { if (!sendToTextField(Pasteboard::copy)) s->copy(false); },
          {QKeySequence(Qt::CTRL | Qt::Key_C)});
    b.add(menu, L("Вставить"), {}, [s] { if (!sendToTextField(Pasteboard::paste)) s->paste(); },
          {QKeySequence(Qt::CTRL | Qt::Key_V)});
    b.add(menu, L("Выделить всё"), {}, [s] { if (!sendToTextField(Pasteboard::selectAll)) s->selectAll(); },
          {QKeySequence(Qt::CTRL | Qt::Key_A)});
}

void helpMenu(QMenu* menu, HelpActions& help, std::function<void()> about) {
    HelpActions* h = &help;
    QObject::connect(menu->addAction(menuText(L("Руководство Tessoral"))), &QAction::triggered, menu,
                     [h] { h->openGuide(); });
    menu->addSeparator();
    if (help.endpoints().siteURL())
        QObject::connect(menu->addAction(menuText(L("Сайт Tessoral"))), &QAction::triggered, menu,
                         [h] { h->openSite(); });
    if (help.endpoints().emailURL())
        QObject::connect(menu->addAction(menuText(L("Написать в поддержку…"))), &QAction::triggered, menu,
                         [h] { h->openSupportEmail(); });
    QObject::connect(menu->addAction(menuText(L("Лицензия"))), &QAction::triggered, menu, [h] { h->openLicense(); });
    menu->addSeparator();
    QAction* aboutAction = menu->addAction(menuText(L("О программе Tessoral")));
    aboutAction->setMenuRole(QAction::AboutRole);
    QObject::connect(aboutAction, &QAction::triggered, menu, [about = std::move(about)] {
        if (about) about();
    });
}

void plainDisabledText(QMenu* menu) {
    QPalette p = menu->palette();
    p.setColor(QPalette::Disabled, QPalette::Light, Qt::transparent);
    menu->setPalette(p);
    for (QAction* a : menu->actions())
        if (a->menu()) plainDisabledText(a->menu());
}

void addMnemonics(const QList<QAction*>& titles) {
    QSet<QChar> taken;
    for (QAction* title : titles) {
        const QString shown = shownText(title->text());
        if (title->text() != menuText(shown)) continue;  // it has one already
        for (qsizetype i = 0; i < shown.size(); ++i) {
            const QChar letter = shown[i].toLower();
            if (!letter.isLetter() || taken.contains(letter)) continue;
            taken.insert(letter);
            title->setText(menuText(shown.left(i)) + QLatin1Char('&') + menuText(shown.mid(i)));
            break;
        }
    }
}

QString dump(const QList<QMenu*>& menus) {
    QString out;
    for (const QMenu* menu : menus) {
        out += QStringLiteral("[") + shownText(menu->title()) + QStringLiteral("]\n");
        dumpMenu(menu, 1, out);
    }
    return out;
}

QList<QKeySequence> shortcuts(const QList<QMenu*>& menus) {
    QList<QKeySequence> out;
    for (const QMenu* menu : menus) collect(menu, out);
    return out;
}

}  // namespace Menus

// ---- MenuBar ----

MenuBar::MenuBar(ViewContext context, QMainWindow& window, QMenu* fileMenu)
    : QObject(&window), ctx_(context), window_(window) {
    setObjectName(QStringLiteral("menuBar"));
    binder_ = new MenuBinder(ctx_, this);
    opener_ = std::make_unique<StoreUrlOpener>(*ctx_.store);
    help_ = std::make_unique<HelpActions>(*opener_, resourceFolder(), HelpEndpoints::fromBuild(), AppConfig::version(),
                                          QSysInfo::prettyProductName());
    Menus::Builder b{*ctx_.store, ctx_, *binder_, &window};
    QMenuBar* bar = window.menuBar();

    Menus::fileItems(b, fileMenu, fileMenu->actions().isEmpty() ? nullptr : fileMenu->actions().first());

    const auto top = [bar](std::string_view title, const char* name) {
        QMenu* m = bar->addMenu(menuText(title));
        m->setObjectName(QString::fromLatin1(name));
        return m;
    };
    Menus::editMenu(b, top(L("Правка"), "editMenu"));
    Menus::viewMenu(b, top(L("Вид"), "viewMenu"));
    Menus::trackMenu(b, top(L("Дорожка"), "trackMenu"));
    Menus::markersMenu(b, top(L("Маркеры"), "markersMenu"));
    Menus::processingMenu(b, top(L("Обработка"), "processingMenu"));
    Menus::effectsMenu(b, top(L("Эффекты"), "effectsMenu"));
    QMenu* generate = top(L("Генерация"), "generateMenu");
    ViewFactory::populateGenerateMenu(ctx_, generate);
    Menus::helpMenu(top(L("Справка"), "helpMenu"), *help_, [this] { showAbout(); });
    binder_->refresh();
    for (QMenu* m : menus()) Menus::plainDisabledText(m);
    Menus::addMnemonics(bar->actions());

    auto* menuKey = new QAction(&window);
    menuKey->setObjectName(QStringLiteral("openMenuBarAction"));
    menuKey->setShortcut(QKeySequence(Qt::Key_F10));
    menuKey->setShortcutContext(Qt::WindowShortcut);
    window.addAction(menuKey);
    connect(menuKey, &QAction::triggered, this, &MenuBar::openFirstMenu);
}

void MenuBar::openFirstMenu() {
    QMenuBar* bar = window_.menuBar();
    for (QAction* title : bar->actions()) {
        if (!title->menu() || !title->isVisible() || !title->isEnabled()) continue;
        bar->setActiveAction(title);
        QMenu* menu = title->menu();
        for (QAction* entry : menu->actions())
            if (!entry->isSeparator() && entry->isVisible() && entry->isEnabled()) {
                menu->setActiveAction(entry);
                break;
            }
        return;
    }
}

MenuBar::~MenuBar() = default;

QList<QMenu*> MenuBar::menus() const {
    QList<QMenu*> out;
    for (QAction* a : window_.menuBar()->actions())
        if (a->menu()) out << a->menu();
    return out;
}

void MenuBar::showAbout() {
    if (!about_) {
        HelpActions* h = help_.get();
        about_ = new AboutPanel(help_->endpoints(), AppConfig::version(), [h](const QUrl& url) { h->openLink(url); },
                                &window_);
        about_->setAttribute(Qt::WA_DeleteOnClose);
    }
    about_->show();
    about_->raise();
    about_->activateWindow();
}

}  // namespace tessoral
