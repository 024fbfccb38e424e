// Fade lengths of a clip and the automation that follows a cut of its audio.
#include <algorithm>
#include <cmath>

#include "model/Automation.h"
#include "model/Track.h"

namespace tessoral {

namespace {

// A fade length in frames: 0 for a negative, infinite or not-a-number length.
std::int64_t fadeLengthFrames(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0.0) return 0;
    return secondsToFrames(seconds);
}

// Seconds that count as a length: 0 for anything negative, infinite or not a number.
double nonNegative(double seconds) { return std::isfinite(seconds) && seconds > 0.0 ? seconds : 0.0; }

}  // namespace

Track::FadeFrames Track::fadeFrames() const {
    const std::int64_t total = frames();
    const std::int64_t in = fadeLengthFrames(fadeIn);
    const std::int64_t out = fadeLengthFrames(fadeOut);
    // Compared without forming in + out, which could overflow for absurd lengths.
    if (in <= total && out <= total - in) return {in, out};
    const double r = static_cast<double>(total) / (static_cast<double>(in) + static_cast<double>(out));
    const std::int64_t scaledIn = clampTo<std::int64_t>(truncSaturating(r * static_cast<double>(in)), 0, total);
    const std::int64_t scaledOut =
        clampTo<std::int64_t>(truncSaturating(r * static_cast<double>(out)), 0, total - scaledIn);
    return {scaledIn, scaledOut};
}

void Track::setFade(std::optional<double> in, std::optional<double> out) {
    const double length = duration();
    // The fade-in is settled first; the fade-out gets what is left.
    if (in) fadeIn = std::min(nonNegative(length - nonNegative(fadeOut)), nonNegative(*in));
    if (out) fadeOut = std::min(nonNegative(length - nonNegative(fadeIn)), nonNegative(*out));
}

void Track::keepFadesAsPlayed() {
    const double length = duration();
    const double in = nonNegative(fadeIn);
    const double out = nonNegative(fadeOut);
    // Exactly the test the project loader makes: what passes it reads back unchanged.
    if (in <= length && out <= length - in) return;
    const FadeFrames played = fadeFrames();
    fadeIn = framesToSeconds(played.fadeIn);
    // Taken the way the loader takes it, so a rounding of the subtraction cannot trim it on reading.
    fadeOut = std::min(framesToSeconds(played.fadeOut), nonNegative(length - fadeIn));
}

void Track::cropAutomation(FrameRange kept, std::int64_t totalFrames) {
    const std::int64_t lower = std::max<std::int64_t>(kept.lower, 0);
    const std::int64_t upper = std::max(kept.upper, lower);
    const double lo = framesToSeconds(lower);
    const double hi = framesToSeconds(upper);
    volumeEnvelope = Automation::cropped(volumeEnvelope, {lo, hi});
    panEnvelope = Automation::cropped(panEnvelope, {lo, hi});
    if (lower >= 1) fadeIn = 0.0;             // the clip lost its head
    if (upper < totalFrames) fadeOut = 0.0;  // the clip lost its tail
    const double length = hi - lo;
    fadeIn = std::min(length, nonNegative(fadeIn));
    fadeOut = std::min(nonNegative(length - fadeIn), nonNegative(fadeOut));
}

}  // namespace tessoral
