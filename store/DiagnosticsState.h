#pragma once

#include <array>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/EnumTraits.h"
#include "model/Frames.h"
#include "model/Uuid.h"
#include "processing/ChannelOps.h"
#include "processing/Diagnostics.h"
#include "processing/SignalGenerator.h"

namespace tessoral {

// The processing sheet that is open.
enum class ProcessingSheet { width, center, tone, noise, silence };

template <>
struct EnumTraits<ProcessingSheet> {
    static constexpr std::array<std::pair<ProcessingSheet, std::string_view>, 5> cases{{
        {ProcessingSheet::width, "width"},
        {ProcessingSheet::center, "center"},
        {ProcessingSheet::tone, "tone"},
        {ProcessingSheet::noise, "noise"},
        {ProcessingSheet::silence, "silence"},
    }};
};

// State of the diagnostics panel and of the processing sheets: the detector, its parameters,
// the findings of the last scan and what the scan covered, and the open sheet with its fields.
// A plain value created with its defaults by the store and never saved.
struct DiagnosticsState {
    // The detector chosen for the next scan and the parameters edited in the panel.
    DiagnosticKind kind = DiagnosticKind::clicks;
    DiagnosticSettings settings;
    // The last scan: its findings (repaired ones removed), the ones selected in the list, the
    // clip and the revision it was scanned at (after a repair, the clip's new revision).
    std::vector<DiagnosticFinding> findings;
    std::set<Uuid> selected;
    std::optional<Uuid> trackID;
    std::optional<Uuid> revision;
    DiagnosticKind scannedKind = DiagnosticKind::clicks;
    std::optional<FrameRange> scannedRange;  // frames inside the clip
    // The time selection that showing a finding set last.
    std::optional<TimeRange> findingSelection;
    // The clipping repair has lowered the scanned range by the headroom since the last scan.
    bool headroomApplied = false;

    // The processing sheets.
    std::optional<ProcessingSheet> sheet;
    double widthPercent = 100.0;
    CenterExtractSettings center{CenterMode::remove, 120.0, 8000.0};
    ToneWaveform toneWaveform = ToneWaveform::sine;
    double toneFrequency = 1000.0;
    double toneLevelDB = -6.0;
    double toneDuration = 5.0;
    NoiseColor noiseColor = NoiseColor::pink;
    double noiseLevelDB = -20.0;
    double noiseDuration = 5.0;
    long long noiseSeed = 1;
    double silenceDuration = 1.0;
};

// Display titles in the running language.
std::string title(DiagnosticKind kind);   // "Щелчки", "Клиппинг", "Тишина"
std::string title(ToneWaveform waveform);  // "Синус", "Меандр", "Пила", "Треугольник"
std::string title(NoiseColor color);       // "Белый", "Розовый", "Коричневый"

}  // namespace tessoral
