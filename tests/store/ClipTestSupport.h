#pragma once

// Projects with explicit track rows for the clip, drag, trim and envelope tests.

#include <functional>
#include <string>
#include <vector>

#include "StoreTestSupport.h"
#include "model/Localization.h"

namespace tessoral::test {

class ClipStoreTest : public StoreTest {
protected:
    // Puts `rows` empty rows (named "Ряд 1"…, colours 0, 1, …) into the project.
    std::vector<Uuid> makeRows(int rows) {
        Session s = store->session();
        std::vector<Uuid> ids;
        for (int i = 0; i < rows; ++i) {
            Lane row;
            row.name = "Ряд " + std::to_string(i + 1);
            row.color = i % 8;
            ids.push_back(row.id);
            s.lanes.push_back(row);
        }
        store->setSession(std::move(s));
        return ids;
    }

    // Adds a clip of `frames` frames at `start` on the row (taking the row's colour).
    Uuid addClip(const Uuid& row, double start, std::int64_t frames = 48000, const std::string& name = "Клип") {
        Session s = store->session();
        Track t = clip(name, frames, start);
        t.laneID = row;
        t.color = s.lanes[*s.laneIndex(row)].color;
        return addTrack(std::move(t));
    }

    // Adds a clip of the audio at `start` on the row; `change` adjusts it before it is added.
    Uuid addAudioClip(const Uuid& row, AudioData audio, double start = 0.0, const std::string& name = "Клип",
                      const std::function<void(Track&)>& change = {}) {
        Track t = Track::make(name, std::move(audio));
        t.start = start;
        t.laneID = row;
        if (change) change(t);
        return addTrack(std::move(t));
    }

    Uuid addTrack(Track t) {
        Session s = store->session();
        const Uuid id = t.id;
        s.tracks.push_back(std::move(t));
        store->setSession(std::move(s));
        return id;
    }

    const Track& track(const Uuid& id) { return *store->session().track(id); }
    std::size_t steps() const { return store->undoNames().size(); }
    std::string lastStep() const { return store->undoNames().empty() ? "" : store->undoNames().back(); }

    // Plays the project (its render run by hand).
    void play() {
        store->playPause();
        fx.tasks.runAll();
        ASSERT_TRUE(store->transport().playing());
    }

    // Counts the signals of one property while `f` runs.
    template <class Signal, class F>
    int signalsDuring(Signal signal, F&& f) {
        int count = 0;
        auto connection = QObject::connect(store.get(), signal, [&count] { ++count; });
        f();
        QObject::disconnect(connection);
        return count;
    }
};

// Two empty rows, A and B, made before each test.
class TwoRowStoreTest : public ClipStoreTest {
protected:
    Uuid rowA, rowB;

    void SetUp() override {
        const auto rows = makeRows(2);
        rowA = rows[0];
        rowB = rows[1];
    }
};

}  // namespace tessoral::test
