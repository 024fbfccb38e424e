// The "Обработка" and "Эффекты" menus.
#include <QAction>
#include <QMenu>

#include <cmath>
#include <memory>

#include "app/menus/MenuBar.h"
#include "app/shell/ViewFactory.h"
#include "model/EditAction.h"
#include "model/EffectPreset.h"
#include "model/Localization.h"
#include "store/StudioStore.h"

namespace tessoral::Menus {

void processingMenu(Builder& b, QMenu* menu) {
    StudioStore* s = &b.store;
    const auto clip = [s] { return !s->locked() && s->selectedIndex().has_value(); };
    // Titles of the edits and presets arrive in the running language.
    for (EditAction action : allCases<EditAction>())
        b.add(menu, title(action), {clip}, [s, action] { s->edit(action); });
    menu->addSeparator();
    for (EffectPreset preset : allCases<EffectPreset>()) {
        if (preset == EffectPreset::parametricEQ || preset == EffectPreset::graphicEQ) continue;
        b.add(menu, title(preset), {clip}, [s, preset] {
            s->setChosenEffect(preset);
            s->applyEffect();
        });
    }
    menu->addSeparator();
    b.add(menu, L("Запомнить шум из выделения"), {[clip, s] { return clip() && s->selection().has_value(); }},
          [s] { s->learnNoise(); });
    b.add(menu, L("Убрать шум"), {[clip, s] { return clip() && s->noiseProfile().has_value(); }},
          [s] { s->reduceNoise(); });
    b.add(menu, L("Сопоставить громкость…"), {[s] { return !s->locked() && !s->session().tracks.empty(); }},
          [s] { s->setShowMatchLoudness(true); }, {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L)});
    // Every opening starts from speed 1 and no pitch shift.
    b.add(menu, L("Скорость и тон…#menu"), {clip},
          [s] {
              s->setTimeRate(1.0);
              s->setTimeSemitones(0.0);
              s->setShowTimePitch(true);
          },
          {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_T)});
    menu->addSeparator();
    const auto spectral = [clip, s] { return clip() && s->hasSpectralSelection(); };
    b.add(menu, L("Восстановить область спектра"), {spectral},
          [s] { s->repairSpectral(SpectralRepairMode::heal()); });
    // The title shows the attenuation cut to whole decibels; the repair uses the exact value.
    b.add(menu, L("Ослабить область спектра на {0} дБ"),
          {spectral, {},
           [s] {
               const double db = s->spectralAttenuation();
               const long long whole =
                   std::isfinite(db) ? static_cast<long long>(std::trunc(std::clamp(db, -1e6, 1e6))) : 0;
               return L("Ослабить область спектра на {0} дБ", whole);
           }},
          [s] { s->repairSpectral(SpectralRepairMode::attenuate(s->spectralAttenuation())); });
    // The diagnostics entries begin with their own divider.
    ViewFactory::populateDiagnosticsMenu(b.ctx, menu);
}

void effectsMenu(Builder& b, QMenu* menu) {
    StudioStore* s = &b.store;
    const auto open = [s] { return !s->locked(); };
    b.add(menu, L("Сохранить цепочку в избранное…"),
          {[s] {
              const auto i = s->selectedIndex();
              return !s->locked() && i && !s->session().tracks[*i].rack.empty();
          }},
          [s] { s->setEffectsSheet(EffectsSheet::saveFavorite); });
    menu->addSeparator();
    // The favourites go here, then a divider shown only when there are any.
    QAction* tail = menu->addSeparator();
    b.add(menu, L("Управление избранным…"), {open}, [s] { s->setEffectsSheet(EffectsSheet::manageFavorites); });
    b.add(menu, L("Пакетная обработка…"), {open}, [s] { s->setEffectsSheet(EffectsSheet::batch); });

    struct Shown {
        std::vector<std::pair<Uuid, std::string>> favorites;
        std::vector<QMenu*> menus;
    };
    auto shown = std::make_shared<Shown>();
    MenuBinder* binder = &b.binder;
    const std::string replace = L("Заменить цепочку");
    const std::string append = L("Добавить к цепочке");
    b.binder.addListStep([s, menu, tail, shown, binder, replace, append] {
        const auto& favorites = s->favorites();
        bool same = favorites.size() == shown->favorites.size();
        for (std::size_t i = 0; same && i < favorites.size(); ++i)
            same = favorites[i].id == shown->favorites[i].first && favorites[i].name == shown->favorites[i].second;
        if (!same) {
            for (QMenu* m : shown->menus) {
                menu->removeAction(m->menuAction());
                m->deleteLater();
            }
            shown->menus.clear();
            shown->favorites.clear();
            for (const EffectFavorite& f : favorites) {
                shown->favorites.emplace_back(f.id, f.name);
                auto* sub = new QMenu(menuText(f.name), menu);
                plainDisabledText(sub);
                menu->insertAction(tail, sub->menuAction());
                const Uuid id = f.id;
                for (const bool extend : {false, true}) {
                    QAction* a = sub->addAction(menuText(extend ? append : replace));
                    QObject::connect(a, &QAction::triggered, sub, [s, id, extend, binder] {
                        for (const EffectFavorite& favorite : s->favorites())
                            if (favorite.id == id) {
                                const EffectFavorite chosen = favorite;
                                s->applyFavorite(chosen, extend);
                                break;
                            }
                        binder->refresh();
                    });
                }
                shown->menus.push_back(sub);
            }
        }
        tail->setVisible(!favorites.empty());
        const bool on = !s->locked() && s->selectedIndex().has_value();
        for (QMenu* m : shown->menus)
            if (m->menuAction()->isEnabled() != on) m->menuAction()->setEnabled(on);
    });
}

}  // namespace tessoral::Menus
