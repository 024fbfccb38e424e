#include "model/SessionMarker.h"

namespace tessoral {

PlistValue SessionMarker::stored() const {
    PlistValue v;
    v.add("id", id);
    v.add("name", name);
    v.add("start", start);
    if (end) v.add("end", *end);
    return v;
}

SessionMarker SessionMarker::fromStored(const PlistValue& v) {
    stored::dict(v, "marker");
    SessionMarker m;
    m.id = stored::requireUuid(v, "id");
    m.name = stored::requireString(v, "name");
    m.start = stored::requireDouble(v, "start");
    if (auto e = v.find("end")) m.end = stored::number(*e, "end");
    return m;
}

}  // namespace tessoral
