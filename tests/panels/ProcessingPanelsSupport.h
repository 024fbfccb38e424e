#pragma once

// What the tests of the diagnostics panel, the processing and auto-duck sheets, their menus and
// the essential-sound panel share: a store over the deterministic services, rows and clips.

#include <QApplication>
#include <QString>

#include <memory>
#include <string>

#include "model/Session.h"
#include "store/StudioStore.h"
#include "support/TestAudio.h"
#include "support/store/StoreFixture.h"
#include "support/views/ViewTestSupport.h"

namespace tessoral::test {

struct PanelsFixture {
    StoreFixture fx;
    std::unique_ptr<StudioStore> store = fx.make<StudioStore>();

    // A new row named `name`; its id.
    Uuid addRow(const std::string& name) {
        Session s = store->session();
        Lane row;
        row.name = name;
        const Uuid id = row.id;
        s.lanes.push_back(row);
        store->setSession(std::move(s));
        return id;
    }
    // A clip of `frames` constant frames at `start` on the row; its id.
    Uuid addClip(const std::string& name, std::int64_t frames, double start, std::optional<Uuid> row,
                 AudioData audio = {}) {
        Session s = store->session();
        Track t = audio.frames() > 0 ? Track::make(name, std::move(audio)) : clip(name, frames, start);
        t.start = start;
        t.laneID = row;
        const Uuid id = t.id;
        s.tracks.push_back(std::move(t));
        store->setSession(std::move(s));
        return id;
    }
    const Track& track(const Uuid& id) const { return *store->session().track(id); }
};

}  // namespace tessoral::test
