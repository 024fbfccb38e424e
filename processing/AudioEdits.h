#pragma once

#include <cstdint>

#include "model/AudioData.h"
#include "model/EditAction.h"

// Destructive edits: they change a clip's samples themselves.
namespace tessoral::AudioEdits {

// The edited copy of `audio`; the argument is not changed. `gainDB` is used only by `gain`.
// Throws StudioError for a range outside the audio or a delete of everything.
AudioData apply(EditAction action, const AudioData& audio, FrameRange range, double gainDB = 0.0);

// `inserted` put into `target` before frame `at` (clamped into the target). Throws StudioError
// when the result would be longer than 8 minutes.
AudioData paste(const AudioData& inserted, const AudioData& target, std::int64_t at);

}  // namespace tessoral::AudioEdits
