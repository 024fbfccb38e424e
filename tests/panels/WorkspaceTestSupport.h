#pragma once

// A real store with rows, clips and markers for the mixer, browser, ruler and sheet tests.

#include <QApplication>

#include <memory>
#include <string>

#include "model/Localization.h"
#include "model/Session.h"
#include "model/Track.h"
#include "store/StudioStore.h"
#include "support/TestAudio.h"
#include "support/store/StoreFixture.h"
#include "support/views/ViewTestSupport.h"

namespace tessoral::test {

struct WorkspaceStore {
    StoreFixture fx;
    std::unique_ptr<StudioStore> store = fx.make<StudioStore>();

    Uuid addLane(const std::string& name) {
        Session s = store->session();
        Lane lane;
        lane.name = name;
        lane.color = static_cast<std::int64_t>(s.lanes.size());
        const Uuid id = lane.id;
        s.lanes.push_back(std::move(lane));
        store->setSession(std::move(s));
        return id;
    }
    // A one-second clip on the row at `start` seconds.
    Uuid addClip(const std::string& name, const Uuid& lane, double start, std::int64_t frames = 48000) {
        Session s = store->session();
        Track t = clip(name, frames, start);
        t.laneID = lane;
        const Uuid id = t.id;
        s.tracks.push_back(std::move(t));
        store->setSession(std::move(s));
        return id;
    }
    Uuid addMarker(const std::string& name, double start, std::optional<double> end = std::nullopt) {
        Session s = store->session();
        SessionMarker m;
        m.name = name;
        m.start = start;
        m.end = end;
        const Uuid id = m.id;
        s.markers.push_back(std::move(m));
        std::stable_sort(s.markers.begin(), s.markers.end(),
                         [](const SessionMarker& a, const SessionMarker& b) { return a.start < b.start; });
        store->setSession(std::move(s));
        return id;
    }
};

}  // namespace tessoral::test
