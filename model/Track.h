#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/AudioData.h"
#include "model/AutomationPoint.h"
#include "model/EffectSlot.h"
#include "model/EssentialSound.h"
#include "model/Frames.h"
#include "model/Uuid.h"

namespace tessoral {

// The edge of a clip that a trim moves.
enum class ClipEdge { start, end };

// ONE CLIP on the timeline (not a track row: rows are Lane values).
struct Track {
    Uuid id = Uuid::random();
    std::string name;
    AudioData audio;
    double start = 0.0;  // seconds
    double gainDB = 0.0;
    double pan = 0.0;
    bool muted = false;
    bool solo = false;
    std::int64_t color = 0;  // palette index; see paletteIndex()
    std::optional<Uuid> laneID;
    // Drawing caches, derived from `audio` (1800 and 2400 bins).
    SharedArray<float> peaks;
    SharedArray<EnvelopeBin> leftEnvelope;
    SharedArray<EnvelopeBin> rightEnvelope;
    std::vector<EffectSlot> rack;  // processing order, at most 8
    bool rackBypassed = false;
    std::optional<EssentialSound> essentialSound;
    double fadeIn = 0.0;   // seconds
    double fadeOut = 0.0;  // seconds
    FadeCurve fadeInCurve = FadeCurve::linear;
    FadeCurve fadeOutCurve = FadeCurve::linear;
    Envelope volumeEnvelope;  // dB, seconds from the clip start
    Envelope panEnvelope;     // −1…+1
    std::optional<AudioData> headHandle;
    std::optional<AudioData> tailHandle;
    std::optional<HandleEnvelopes> handleEnvelopes;
    bool punchTake = false;
    Uuid revision = Uuid::random();  // changes with every change of `audio`

    friend bool operator==(const Track&, const Track&) = default;

    // A clip as import makes it: fresh id and revision, neutral settings, drawing caches computed.
    static Track make(std::string name, AudioData audio);

    // Replaces the audio, recomputes the drawing caches and gives a fresh revision.
    void replaceAudio(AudioData newAudio);
    // Recomputes peaks and both drawing envelopes from `audio`.
    void refreshDrawingCaches();

    std::int64_t frames() const { return audio.frames(); }
    double duration() const { return framesToSeconds(frames()); }
    double end() const { return start + duration(); }
    // 8 bytes per stereo frame of the audio and of each handle.
    std::int64_t bytes() const;
    // The clip frames that a closed time range covers (the whole clip without a range).
    FrameRange framesIn(const std::optional<TimeRange>& range) const;

    // Fades.
    struct FadeFrames {
        std::int64_t fadeIn = 0;
        std::int64_t fadeOut = 0;
        friend bool operator==(const FadeFrames&, const FadeFrames&) = default;
    };
    FadeFrames fadeFrames() const;
    void setFade(std::optional<double> in, std::optional<double> out);
    // After the audio was cut to `kept` of the old `totalFrames` frames.
    void cropAutomation(FrameRange kept, std::int64_t totalFrames);
    // After the audio got shorter: fades that no longer fit the clip are stored at the lengths
    // the mixdown plays them (fadeFrames()), so that the project file holds what is heard and
    // reads back unchanged. Fades that fit are left as they are.
    void keepFadesAsPlayed();

    // Trimming. A delta d > 0 takes d frames away at the edge (into its handle); d < 0 brings
    // −d frames back from the handle on that side.
    struct TrimLimits {
        std::int64_t lower = 0;  // −grow
        std::int64_t upper = 0;  // shrink
        friend bool operator==(const TrimLimits&, const TrimLimits&) = default;
    };
    TrimLimits trimLimits(ClipEdge edge) const;
    // The span the clip would have after trimming by `delta` (clamped); the clip is not changed.
    TimeRange trimmedSpan(ClipEdge edge, std::int64_t delta) const;
    // Trims by `delta` clamped to the limits; returns the delta applied.
    std::int64_t trim(ClipEdge edge, std::int64_t delta);
    // Both envelopes over the whole untrimmed material (head handle + clip + tail handle).
    HandleEnvelopes untrimmedEnvelopes() const;
};

// "%02d:%02d.%03d" of minutes, seconds and truncated milliseconds; minutes do not wrap.
std::string timeLabel(double seconds);

}  // namespace tessoral
