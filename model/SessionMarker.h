#pragma once

#include <optional>
#include <string>

#include "model/PlistValue.h"
#include "model/Uuid.h"

namespace tessoral {

// A named point on the timeline, or a range when it has an end.
struct SessionMarker {
    Uuid id = Uuid::random();
    std::string name;
    double start = 0.0;
    std::optional<double> end;

    bool isRange() const { return end.has_value(); }
    friend bool operator==(const SessionMarker&, const SessionMarker&) = default;

    PlistValue stored() const;
    // Requires "id", "name" and "start"; a missing "end" is a point marker.
    static SessionMarker fromStored(const PlistValue& v);
};

}  // namespace tessoral
