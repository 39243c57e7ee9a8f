// JSON marshalling of Variants: how values cross the late-bound door of the
// shell (`vendra call`) and how a document returned by one call is handed to
// the next. Every Variant kind round-trips exactly:
//
//   Null -> null          Boolean -> true/false     String -> "text"
//   Long -> 42            Double -> 5.0, 0.1 (always with a fraction or
//                         exponent, so it reads back as a Double)
//   Array -> [...]        Dictionary -> {...} (insertion order kept)
//   Empty -> {"$empty":null}           Nothing -> {"$nothing":null}
//   Integer -> {"$integer":5}          Byte -> {"$byte":255}
//   Date -> {"$date":"2026-12-08T14:30:00"} (a serial number instead of the
//           text when the moment has a fraction of a second)
//   Currency -> {"$currency":"12.3400"}
//   Double NaN/Infinity -> {"$double":"NaN"|"Infinity"|"-Infinity"}
//   record set -> {"$recordset":{...}} (platform/data/recordset_json.h)
//   any other object -> {"$object":"<TypeName>"}
//
// Objects on input: a reader given ObjectTags takes {"$object":"PROGID"} as a
// new object of that identifier and {"$ref":"name"} as an object its caller
// named earlier (the late-bound door's scripts). Without them both tags raise
// 13, so a document read from a file never creates anything by itself.
//
// A JSON object with exactly one key starting with "$" is a tagged value; any
// other object is a Dictionary. A Dictionary that would look like a tag (one
// key, starting with "$") is written as {"$dictionary":{...}}, whose content is
// taken as the Dictionary's entries without looking for tags at its own level.
// On input a JSON integer within 32 bits is a Long and every other number a
// Double. Unknown tags, malformed tag values and text that is not JSON raise
// Type mismatch (13) naming what was wrong and where (a JSON pointer such as
// "/lines/0").
//
// The JSON type is nlohmann::ordered_json so object members keep their order
// both ways.
//
// Thread-safety: free functions over values; safe from any thread. Objects
// inside a Variant are read by the calling thread only.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/core/variant.h"

namespace platform {

using Json = nlohmann::ordered_json;

// How a reader resolves the object tags; an empty function refuses its tag.
// What a function raises reaches the reader's caller with its number kept.
struct ObjectTags {
  std::function<Variant(const std::string& progid)> create;  // {"$object": PROGID}
  std::function<Variant(const std::string& name)> refer;     // {"$ref": name}
};

Json ToJson(const Variant& value);
Variant FromJson(const Json& json, const ObjectTags& tags = {});

// Parses JSON text and converts it. `what` names the text in error messages
// ("argument 2", "file basket.json"); a syntax error says at which byte.
// Text nested more than 256 levels deep is refused before it is parsed.
Variant ParseJson(std::string_view text, std::string_view what = "JSON text",
                  const ObjectTags& tags = {});

// Parses JSON text without converting it, refusing text nested too deeply
// for the reader (13, naming `what`), so hostile input cannot exhaust the
// stack.
Json ParseJsonDocument(std::string_view text, std::string_view what = "JSON text");

// The JSON text of a value: compact with indent < 0, else pretty-printed
// with tagged values and short rows of scalars kept on one line. Text that is
// not valid UTF-8 is written with U+FFFD in place of the bad bytes rather
// than failing the whole output.
std::string ToJsonText(const Variant& value, int indent = -1);
std::string DumpJson(const Json& json, int indent = -1);

}  // namespace platform
