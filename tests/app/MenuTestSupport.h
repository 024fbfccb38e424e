#pragma once

#include <QAction>
#include <QApplication>
#include <QMenu>

#include <functional>
#include <string>

#include "AppTestSupport.h"
#include "app/menus/MenuBar.h"
#include "model/EffectPreset.h"
#include "transport/AudioBackend.h"

namespace tessoral::test {

inline MenuBar& menuBar(StudioFixture& fx) { return *fx.window().findChild<MenuBar*>(); }

// The top-level menu with that title as shown.
inline QMenu* topMenu(StudioFixture& fx, const std::string& title) {
    for (QMenu* m : menuBar(fx).menus())
        if (shownText(m->title()) == qs(title)) return m;
    return nullptr;
}

// The entry of `menu` (or its submenus) shown with that title.
inline QAction* entry(QMenu* menu, const QString& title) {
    if (!menu) return nullptr;
    for (QAction* a : menu->actions()) {
        if (a->isVisible() && !a->isSeparator() && shownText(a->text()) == title) return a;
        if (a->menu())
            if (QAction* inner = entry(a->menu(), title)) return inner;
    }
    return nullptr;
}
inline QAction* entry(StudioFixture& fx, const std::string& menu, const std::string& title) {
    return entry(topMenu(fx, menu), qs(title));
}

// The demo's three clips, the first selected, with a time selection inside it.
inline void threeClipsOneSelected(StudioFixture& fx) {
    fx.loadDemo();
    StudioStore& s = fx.store();
    s.setSelectedID(s.session().tracks[0].id);
    s.setSelection(TimeRange{0.5, 1.0});
    pump();
}

// A project of `lanes` rows holding `clips` short clips between them, the first row and clip selected.
inline void bigProject(StudioFixture& fx, std::size_t lanes, std::size_t clips) {
    Session session;
    for (std::size_t i = 0; i < lanes; ++i) {
        Lane lane;
        lane.name = "Дорожка " + std::to_string(i + 1);
        session.lanes.push_back(lane);
    }
    for (std::size_t i = 0; i < clips; ++i) {
        Track clip = Track::make("Клип " + std::to_string(i + 1), AudioData::silence(480));
        clip.start = 0.02 * static_cast<double>(i / lanes);
        clip.laneID = session.lanes[i % lanes].id;
        session.tracks.push_back(std::move(clip));
    }
    StudioStore& s = fx.store();
    s.setSession(std::move(session));
    s.setSelectedLaneID(s.session().lanes[0].id);
    s.setSelectedID(s.session().tracks[0].id);
    pump();
}

// A null input device, so the store's recording command has something to capture from, and the
// record button's command run until the transport records.
inline bool startRecording(StudioFixture& fx) {
    addInputDevice(fx);
    fx.store().record();
    fx.settle();
    for (int i = 0; i < 10 && !fx.store().transport().recording(); ++i) {
        fx.services.backend.pump(4800);
        fx.services.scheduler.advanceBy(0.1);
        fx.settle();
    }
    pump();
    return fx.store().transport().recording();
}

// The demo with a point marker at 1 s and a range marker over 2…3 s named "Rock & Roll".
inline void markers(StudioFixture& fx) {
    fx.loadDemo();
    StudioStore& s = fx.store();
    s.moveCursor(1.0, false);
    s.addMarker();
    s.setSelection(TimeRange{2.0, 3.0});
    s.addMarker();
    s.renameMarker(s.session().markers.back().id, "Rock & Roll");
    s.setSelection(std::nullopt);
    fx.settle();
}

// Two favourite chains, "Rock & Roll" and "Голос", saved from the first clip's rack; no clip selected.
inline void favourites(StudioFixture& fx) {
    fx.loadDemo();
    StudioStore& s = fx.store();
    s.setSelectedID(s.session().tracks[0].id);
    s.addRackEffect(EffectPreset::reverb);
    fx.settle();
    s.saveFavorite("Rock & Roll");
    fx.settle();
    s.saveFavorite("Голос");
    fx.settle();
    s.setSelectedID(std::nullopt);
    pump();
}

}  // namespace tessoral::test
