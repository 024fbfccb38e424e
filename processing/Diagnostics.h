#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "model/AudioData.h"
#include "model/EnumTraits.h"
#include "model/Uuid.h"

namespace tessoral {

// The defect a diagnostics finding reports.
enum class DiagnosticKind { clicks, clipping, silence };

template <>
struct EnumTraits<DiagnosticKind> {
    static constexpr std::array<std::pair<DiagnosticKind, std::string_view>, 3> cases{{
        {DiagnosticKind::clicks, "clicks"},
        {DiagnosticKind::clipping, "clipping"},
        {DiagnosticKind::silence, "silence"},
    }};
};

// One defect: its frames (half-open, inside the clip) and a severity 0 … 1.
struct DiagnosticFinding {
    Uuid id = Uuid::random();
    DiagnosticKind kind = DiagnosticKind::clicks;
    FrameRange range;
    double severity = 0.0;
    friend bool operator==(const DiagnosticFinding&, const DiagnosticFinding&) = default;
};

// The diagnostics panel's settings, with the editor's defaults.
struct DiagnosticSettings {
    double clickSensitivity = 0.5;
    double clipThresholdDB = -0.1;
    int clipMinRun = 3;
    double declipHeadroomDB = 0.0;
    double silenceThresholdDB = -50.0;
    double silenceMinDuration = 0.5;
    bool silenceDelete = true;
    double silenceKeepPause = 0.2;
    friend bool operator==(const DiagnosticSettings&, const DiagnosticSettings&) = default;
};

// A least-squares cubic in u = (x − center) / scale.
struct Cubic {
    std::array<double, 4> a{};  // a0 … a3
    double center = 0.0;
    double scale = 1.0;
    double operator()(double x) const {
        const double u = (x - center) / scale;
        return a[0] + u * (a[1] + u * (a[2] + u * a[3]));
    }
};

// Scans for clicks, clipping and silence, and their repairs. Frames are 0-based at 48 kHz.
namespace Diagnostics {

inline constexpr std::size_t kMaxFindings = 5000;
inline constexpr std::int64_t kMaxClickLength = 256;

// Linear-prediction coefficients c[0] … c[order−1] (x[n] ≈ Σ c[j−1]·x[n−j]) by the autocorrelation
// method over the Hann-windowed run. The window is scaled to unit mean square (√(8/3) times the
// plain periodic Hann window), so the windowed run keeps the power of the original.
// Order < 1 gives no coefficients; a run of at most 2·order samples or without energy gives zeros.
std::vector<float> lpc(std::span<const float> samples, int order);

// Clicks: frames that neither a forward nor a backward order-16 linear prediction explains.
// sensitivity 0 … 1 (non-finite: 0.5). The range is clamped to the clip; sorted by start.
std::vector<DiagnosticFinding> detectClicks(const AudioData& audio, FrameRange range, double sensitivity);

// Runs of at least minRun frames at or above 0.999·10^(dB/20) (dB clamped to −24 … 0, non-finite:
// −0.1) in either channel, merged across channels. The range is clamped to the clip.
std::vector<DiagnosticFinding> detectClipping(const AudioData& audio, FrameRange range, double thresholdDB, int minRun);

// Stretches of 10 ms windows whose louder channel's mean square is at most 10^(dB/10)
// (dB clamped to −120 … 0, non-finite: −50), at least minDuration long (at least 10 ms;
// non-finite: 0.5 s). The range is clamped to the clip.
std::vector<DiagnosticFinding> detectSilence(const AudioData& audio, FrameRange range, double thresholdDB,
                                             double minDuration);

// Rebuilds channel[gap] by blending forward and backward linear prediction from the two sides,
// or linearly when the context is too short. Gaps that are empty or outside the channel are ignored.
void interpolate(std::vector<float>& channel, FrameRange gap);

// What a click repair did: the audio, and for each finding (in the order given) whether it was
// repaired.
struct ClickRepair {
    AudioData audio;
    std::vector<bool> repaired;
    std::size_t repairedCount() const;
};

// Repairs the click findings in order, left channel then right. Each finding's span grows past
// the finding while the frames at its edges still stand out by the detector's measure (a
// resampled click rings on for a few frames each side), up to kClickSpreadLimit
// frames each side; two findings joined by frames that stand out (the two ends of a crackle) are
// one span, while a chain of three or more is a stretch of sound the detector keeps flagging and
// each of its findings keeps a span of one frame past it. Spans are rebuilt by least squares
// under an autoregressive model of the frames around them and of their pitch. The result is
// checked with the detector at `sensitivity`: a finding still detected is rebuilt over a wider
// span (twice at most), and when that does not help either its frames are left as they were and
// it counts as not repaired.
ClickRepair repairClicks(const AudioData& audio, std::span<const DiagnosticFinding> findings, double sensitivity);

// The audio of repairClicks.
AudioData declick(const AudioData& audio, std::span<const DiagnosticFinding> findings, double sensitivity = 0.5);

inline constexpr std::int64_t kClickSpreadLimit = 64;

// The frame ranges that deleting the silences removes: each finding keeps half of keepPause
// seconds at each side (at most 5 s); sorted, merged.
std::vector<FrameRange> silenceCuts(std::int64_t count, std::span<const DiagnosticFinding> findings, double keepPause);

// The audio without its cuts; throws StudioError when nothing would be left.
AudioData removeSilence(const AudioData& audio, std::span<const DiagnosticFinding> findings, double keepPause);

// The audio with every finding's frames set to 0.
AudioData muteSilence(const AudioData& audio, std::span<const DiagnosticFinding> findings);

// Least-squares cubic through the points; nothing when the normal equations are singular or the
// fit is not finite.
std::optional<Cubic> cubicFit(std::span<const std::pair<double, double>> points, double center, double scale);

// Rebuilds every clipped run (|x| ≥ level in `original`) met from span.lower until a run reaches
// span.upper with a cubic fitted to up to 32 unclipped frames each side, kept between level and
// 4·level with the original sign. Writes into `output` (the same length as `original`).
void reconstructClipped(std::vector<float>& output, std::span<const float> original, FrameRange span, float level);

// The clip level that detectClipping and the clipping repair use for a threshold in dB.
float clipLevel(double thresholdDB);

}  // namespace Diagnostics

}  // namespace tessoral

// Hashing over all four fields, like equality.
template <>
struct std::hash<tessoral::DiagnosticFinding> {
    std::size_t operator()(const tessoral::DiagnosticFinding& finding) const noexcept;
};
