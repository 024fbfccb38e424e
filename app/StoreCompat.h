#pragma once

// Calls into the store that the window makes through one place, so the shell keeps working while
// some store commands are still being built: each helper uses the store's own command when it has
// one and otherwise does the small equivalent here.

#include <optional>
#include <string>

#include "model/BeatGrid.h"
#include "model/EditorVocabulary.h"
#include "model/Localization.h"
#include "model/TimeFormat.h"
#include "store/StudioStore.h"

namespace tessoral::compat {

// Whether the store can start a microphone recording (its `record()` command).
template <class S = StudioStore>
constexpr bool canRecord() {
    return requires(S& s) { s.record(); };
}

// The record button's action: `record()` once the store has it.
template <class S>
void record(S& store) {
    if constexpr (requires { store.record(); }) {
        store.record();
    } else {
        // HOOK: the recording commands are not in the store yet; the record buttons do nothing.
        (void)store;
    }
}

// The editor mode switch: the store's `switchMode` (refused while locked; stops playback first).
template <class S>
void switchMode(S& store, EditorMode mode) {
    if constexpr (requires { store.switchMode(mode); }) {
        store.switchMode(mode);
    } else {
        if (store.locked()) return;
        store.stop();
        store.setEditorMode(mode);
    }
}

// The display name of a time format ("мм:сс.мс", "Секунды", "Сэмплы", "Такты и доли").
inline std::string formatName(TimeFormat format) {
    switch (format) {
        case TimeFormat::clock: return L("мм:сс.мс");
        case TimeFormat::seconds: return L("Секунды");
        case TimeFormat::samples: return L("Сэмплы");
        case TimeFormat::bars: return L("Такты и доли");
    }
    return L("мм:сс.мс");
}

// The position display's click: the next time format, reported in the status line.
template <class S>
void cycleTimeFormat(S& store) {
    if constexpr (requires { store.cycleTimeFormat(); }) {
        store.cycleTimeFormat();
    } else {
        TimeFormat next = TimeFormat::clock;
        switch (store.timeFormat()) {
            case TimeFormat::clock: next = TimeFormat::seconds; break;
            case TimeFormat::seconds: next = TimeFormat::samples; break;
            case TimeFormat::samples: next = TimeFormat::bars; break;
            case TimeFormat::bars: next = TimeFormat::clock; break;
        }
        store.setTimeFormat(next);
        store.setStatus(L("Формат времени: {0}", formatName(next)));
    }
}

// A time in the store's time format with the project's tempo and metre.
template <class S>
std::string formatTime(const S& store, double t) {
    if constexpr (requires { store.formatTime(t); }) {
        return store.formatTime(t);
    } else {
        BeatGrid grid;
        grid.tempo = store.session().tempo;
        grid.beatsPerBar = store.session().beatsPerBar;
        return TimeFormatter::format(t, store.timeFormat(), grid);
    }
}

// The open processing sheet as a number (none when closed or not yet known to the store).
template <class S>
std::optional<int> processingSheet(const S& store) {
    const auto& d = store.diagnostics();
    if constexpr (requires { d.sheet.has_value(); static_cast<int>(*d.sheet); }) {
        if (d.sheet) return static_cast<int>(*d.sheet);
        return std::nullopt;
    } else {
        return std::nullopt;
    }
}

// Closes the processing sheet (when the store knows one).
template <class S>
void closeProcessingSheet(S& store) {
    if constexpr (requires { store.diagnostics().sheet = std::nullopt; }) {
        auto d = store.diagnostics();
        d.sheet = std::nullopt;
        store.setDiagnostics(std::move(d));
    } else {
        (void)store;
    }
}

// True while an open sheet shows the error itself (the processing or the loudness matching sheet).
template <class S>
bool sheetShowsError(const S& store) {
    if constexpr (requires { store.sheetShowsError(); }) {
        return store.sheetShowsError();
    } else {
        return processingSheet(store).has_value() || store.showMatchLoudness();
    }
}

}  // namespace tessoral::compat
