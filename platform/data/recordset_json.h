// JSON form of a record set, for the late-bound door from the shell (`vendra
// call`): the content of {"$recordset": {...}}.
//
//   {"fields": [{"name": "BASKETID", "type": 202, "size": 32,
//                "column": "BASKETID", "key": true}, ...],
//    "rows": [{"status": "unchanged"|"new"|"modified"|"deleted",
//              "values": [...], "original": [...]}],
//    "source": {"table": "BASKETLINE", "keys": ["BASKETID", "BASKETLINENR"]},
//    "lock": 4, "cursor": 3, "sort": "..."}
//
// "original" is written for changed and deleted rows (the values the batch
// will look the row up by). A record set returned by one call, edited by hand
// and passed to the next keeps its pending changes, so UpdateBatch writes
// them. Values go through the caller's codec (the tagged-value convention of
// the host), so this layer does not depend on the host.
//
// Thread-safety: functions of their arguments only.
#pragma once

#include <functional>
#include <memory>

#include <nlohmann/json.hpp>

#include "platform/core/variant.h"

namespace platform::data {

class Recordset;

// The same JSON type as the host's marshalling (object members keep their order).
using RecordsetJson = nlohmann::ordered_json;
using ValueToJson = std::function<RecordsetJson(const Variant&)>;
using ValueFromJson = std::function<Variant(const RecordsetJson&)>;

// The whole set (every row but those already written away), whatever its
// position. A closed set gives {"closed": true}.
RecordsetJson RecordsetToJson(const Recordset& rs, const ValueToJson& encode);
// A detached, open record set positioned on its first row. Values are
// converted to the declared field types. Raises 5 (Invalid procedure call)
// with a text naming what is wrong for malformed input.
std::shared_ptr<Recordset> RecordsetFromJson(const RecordsetJson& j, const ValueFromJson& decode);

}  // namespace platform::data
