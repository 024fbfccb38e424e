#pragma once

#include <cstdint>
#include <string>

#include "model/PlistValue.h"
#include "model/Uuid.h"

namespace tessoral {

// One track row. Clips point to it through Track::laneID.
struct Lane {
    Uuid id = Uuid::random();
    std::string name;
    std::int64_t color = 0;  // palette index; see paletteIndex()
    double gainDB = 0.0;
    double pan = 0.0;
    bool muted = false;
    bool solo = false;

    friend bool operator==(const Lane&, const Lane&) = default;

    // All seven keys, in order.
    PlistValue stored() const;
    // Requires all seven keys with their types; other keys are ignored.
    static Lane fromStored(const PlistValue& v);
};

}  // namespace tessoral
