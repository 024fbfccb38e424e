#include "model/Lane.h"

namespace tessoral {

PlistValue Lane::stored() const {
    PlistValue v;
    v.add("id", id);
    v.add("name", name);
    v.add("color", color);
    v.add("gainDB", gainDB);
    v.add("pan", pan);
    v.add("muted", muted);
    v.add("solo", solo);
    return v;
}

Lane Lane::fromStored(const PlistValue& v) {
    stored::dict(v, "lane");
    Lane lane;
    lane.id = stored::requireUuid(v, "id");
    lane.name = stored::requireString(v, "name");
    lane.color = stored::requireInt(v, "color");
    lane.gainDB = stored::requireDouble(v, "gainDB");
    lane.pan = stored::requireDouble(v, "pan");
    lane.muted = stored::requireBool(v, "muted");
    lane.solo = stored::requireBool(v, "solo");
    return lane;
}

}  // namespace tessoral
