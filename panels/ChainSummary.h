#pragma once

#include <QString>

#include <vector>

#include "model/EffectSlot.h"

namespace tessoral {

// The one-line description of a chain: each preset's title, " *" after a slot with parameter
// values of its own, joined by " → ". Empty for an empty chain.
QString chainSummary(const std::vector<EffectSlot>& slots);

}  // namespace tessoral
