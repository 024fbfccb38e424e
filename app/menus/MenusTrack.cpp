// The "Дорожка" and "Маркеры" menus.
#include <QAction>
#include <QMenu>

#include <memory>

#include "app/menus/MenuBar.h"
#include "model/EssentialSoundChain.h"
#include "model/Localization.h"
#include "store/StudioStore.h"
#include "widgets/Palette.h"

namespace tessoral::Menus {

namespace {
constexpr std::size_t kMaxLanes = 32;
constexpr std::size_t kMaxClips = 256;
}  // namespace

void trackMenu(Builder& b, QMenu* menu) {
    StudioStore* s = &b.store;
    const auto open = [s] { return !s->locked(); };
    const auto clip = [s] { return !s->locked() && s->selectedIndex().has_value(); };
    const auto row = [s] { return !s->locked() && s->selectedLaneID().has_value(); };

    b.add(menu, L("Новая дорожка"), {[s] { return !s->locked() && s->session().lanes.size() < kMaxLanes; }},
          [s] { s->newLane(); }, {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N)});
    b.add(menu, L("Разделить в позиции курсора"), {clip}, [s] { s->split(); }, {QKeySequence(Qt::CTRL | Qt::Key_K)});
    menu->addSeparator();
    b.add(menu, L("Дублировать клип"), {[clip, s] { return clip() && s->session().tracks.size() < kMaxClips; }},
          [s] { s->duplicateClip(); }, {QKeySequence(Qt::CTRL | Qt::Key_D)});
    b.add(menu, L("Дублировать дорожку"), {[row, s] { return row() && s->session().lanes.size() < kMaxLanes; }},
          [s] { s->duplicateLane(); }, {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D)});
    b.add(menu, L("Удалить клип"), {clip}, [s] { s->removeClip(); });
    b.add(menu, L("Удалить дорожку"), {row}, [s] { s->removeLane(); });
    // Some window managers take Ctrl+Alt+arrows for themselves; the keys stay what the menu says.
    b.add(menu, L("Переместить дорожку вверх"), {[s] { return s->canMoveLane(s->selectedLaneID(), -1); }},
          [s] { s->moveSelectedLane(-1); }, {QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_Up)});
    b.add(menu, L("Переместить дорожку вниз"), {[s] { return s->canMoveLane(s->selectedLaneID(), 1); }},
          [s] { s->moveSelectedLane(1); }, {QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_Down)});

    QMenu* colors = b.submenu(menu, L("Цвет дорожки"), row);
    const auto& names = Palette::colorNames();
    for (std::size_t i = 0; i < names.size(); ++i) {
        const auto index = static_cast<std::int64_t>(i);
        b.add(colors, names[i].toStdString(), {}, [s, index] {
            if (const auto lane = s->selectedLaneID()) s->setLaneColor(*lane, index);
        });
    }
    b.add(menu, L("Автоматический кроссфейд при наложении"), {open, [s] { return s->session().autoCrossfade; }, {}},
          [s] { s->toggleAutoCrossfade(); });
    menu->addSeparator();

    QMenu* essential = b.submenu(menu, L("Основной звук"), clip);
    for (SoundType type : {SoundType::dialogue, SoundType::music, SoundType::effects, SoundType::ambience})
        b.add(essential, title(type), {}, [s, type] { s->setEssentialType(type); });
    essential->addSeparator();
    b.add(essential, L("Сбросить"),
          {[s] {
              const auto i = s->selectedIndex();
              return i && s->session().tracks[*i].essentialSound.has_value();
          }},
          [s] { s->resetEssentialSound(); });
    menu->addSeparator();

    b.add(menu, L("Автоприглушение под речью…"), {[clip, s] { return clip() && s->session().tracks.size() >= 2; }},
          [s] { s->setShowAutoDuck(true); });
    b.add(menu, L("Очистить огибающие"), {clip}, [s] {
        if (const auto id = s->selectedID()) s->clearEnvelopes(*id);
    });
    menu->addSeparator();
    b.add(menu, L("Свести в новую дорожку"), {[s] { return !s->locked() && !s->session().tracks.empty(); }},
          [s] { s->bounceToNewTrack(); }, {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_B)});
}

void markersMenu(Builder& b, QMenu* menu) {
    StudioStore* s = &b.store;
    b.add(menu, L("Добавить маркер"), {[s] { return !s->locked() && !s->session().tracks.empty(); }},
          [s] { s->addMarker(); });
    b.add(menu, L("Экспорт диапазонов маркеров…#menu"),
          {[s] {
              if (s->locked() || s->session().tracks.empty()) return false;
              for (const SessionMarker& m : s->session().markers)
                  if (m.end) return true;
              return false;
          }},
          [s] { s->exportMarkerRanges(); });
    b.add(menu, L("Экспорт списка маркеров (CSV)…"),
          {[s] { return !s->locked() && !s->session().markers.empty(); }}, [s] { s->exportMarkerCSV(); });
    menu->addSeparator();

    // One entry per marker, in the project's order, titled with its name as stored; rebuilt only
    // when the list of ids and names changed.
    struct Shown {
        std::vector<std::pair<Uuid, std::string>> markers;
        std::vector<QAction*> actions;
    };
    auto shown = std::make_shared<Shown>();
    MenuBinder* binder = &b.binder;
    b.binder.addListStep([s, menu, shown, binder] {
        const auto& markers = s->session().markers;
        bool same = markers.size() == shown->markers.size();
        for (std::size_t i = 0; same && i < markers.size(); ++i)
            same = markers[i].id == shown->markers[i].first && markers[i].name == shown->markers[i].second;
        if (!same) {
            for (QAction* a : shown->actions) {
                menu->removeAction(a);
                a->deleteLater();
            }
            shown->actions.clear();
            shown->markers.clear();
            for (const SessionMarker& m : markers) {
                shown->markers.emplace_back(m.id, m.name);
                auto* a = new QAction(menuText(m.name), menu);
                menu->addAction(a);
                const Uuid id = m.id;
                QObject::connect(a, &QAction::triggered, a, [s, id, binder] {
                    for (const SessionMarker& marker : s->session().markers)
                        if (marker.id == id) {
                            const SessionMarker chosen = marker;
                            s->goToMarker(chosen);
                            break;
                        }
                    binder->refresh();
                });
                shown->actions.push_back(a);
            }
        }
        const bool on = !s->locked();
        for (QAction* a : shown->actions)
            if (a->isEnabled() != on) a->setEnabled(on);
    });
}

}  // namespace tessoral::Menus
