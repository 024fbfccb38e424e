// The "Вид" menu: editor mode, the window's optional views, zoom, time format and metronome.
#include <QAction>
#include <QActionGroup>
#include <QMenu>

#include "app/menus/MenuBar.h"
#include "model/Localization.h"
#include "store/StudioStore.h"

namespace tessoral::Menus {

void viewMenu(Builder& b, QMenu* menu) {
    StudioStore* s = &b.store;
    const auto open = [s] { return !s->locked(); };
    // Plain buttons: choosing the current mode again still switches (and stops playback).
    b.add(menu, L("Волна"), {open}, [s] { s->switchMode(EditorMode::waveform); });
    b.add(menu, L("Мультитрек"), {open}, [s] { s->switchMode(EditorMode::multitrack); });
    b.add(menu, L("Микшер"), {open}, [s] { s->switchMode(EditorMode::mixer); });
    menu->addSeparator();

    // Toggles over the store's flags, never disabled: the mark shows the flag, choosing writes its negation.
    struct Toggle {
        std::string title;
        bool (StudioStore::*get)() const;
        void (StudioStore::*set)(bool);
        QList<QKeySequence> keys;
    };
    const Toggle toggles[] = {
        {L("Спектрограмма"), &StudioStore::spectralView, &StudioStore::setSpectralView,
         {QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_S)}},
        {L("Частотный анализ"), &StudioStore::showAnalysis, &StudioStore::setShowAnalysis, {}},
        {L("Огибающие громкости и панорамы"), &StudioStore::showEnvelopes, &StudioStore::setShowEnvelopes, {}},
        {L("Файлы, маркеры и история"), &StudioStore::showBrowser, &StudioStore::setShowBrowser, {}},
        {L("Панель эффектов"), &StudioStore::showInspector, &StudioStore::setShowInspector, {}},
    };
    for (const Toggle& t : toggles) {
        const auto get = t.get;
        const auto set = t.set;
        b.add(menu, t.title, {{}, [s, get] { return (s->*get)(); }, {}}, [s, get, set] { (s->*set)(!(s->*get)()); },
              t.keys);
    }
    menu->addSeparator();

    // Zooming stays allowed while busy or recording; the store keeps the zoom within 1…32.
    b.add(menu, L("Увеличить"), {[s] { return !(s->zoom() >= 32.0); }},
          [s] { s->setZoom(s->zoom() * 1.5, std::nullopt, 0.5); },
          {QKeySequence(Qt::CTRL | Qt::Key_Equal), QKeySequence(Qt::CTRL | Qt::Key_Plus)});
    b.add(menu, L("Уменьшить"), {[s] { return !(s->zoom() <= 1.0); }},
          [s] { s->setZoom(s->zoom() / 1.5, std::nullopt, 0.5); }, {QKeySequence(Qt::CTRL | Qt::Key_Minus)});
    b.add(menu, L("Масштаб по выделению"),
          {[s] { return s->selection().has_value() || s->selectedIndex().has_value(); }},
          [s] { s->zoomToSelection(); }, {QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_Equal)});
    b.add(menu, L("Показать весь проект"), {}, [s] { s->setZoom(1.0, 0.0, 0.0); },
          {QKeySequence(Qt::CTRL | Qt::Key_0)});
    menu->addSeparator();

    QMenu* format = b.submenu(menu, L("Формат времени"), {});
    auto* group = new QActionGroup(format);
    group->setExclusive(true);
    const std::pair<std::string, TimeFormat> formats[] = {
        {L("мм:сс.мс"), TimeFormat::clock},
        {L("Секунды"), TimeFormat::seconds},
        {L("Сэмплы"), TimeFormat::samples},
        {L("Такты и доли"), TimeFormat::bars},
    };
    for (const auto& [title, value] : formats) {
        const TimeFormat f = value;
        QAction* a = b.add(format, title, {{}, [s, f] { return s->timeFormat() == f; }, {}},
                           [s, f] { s->setTimeFormat(f); });
        group->addAction(a);
    }
    // Flipped only through the store's command, which also reports the new state.
    b.add(menu, L("Метроном"), {{}, [s] { return s->metronome(); }, {}}, [s] { s->toggleMetronome(); });
}

}  // namespace tessoral::Menus
