#include "apps/vendra/json.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>

#include "platform/core/com_error.h"
#include "platform/core/dictionary.h"
#include "platform/data/recordset.h"
#include "platform/data/recordset_json.h"

namespace platform {

namespace {

constexpr const char* kSource = "platform.Json";

// Deep enough for any document the shop builds, shallow enough that a
// hostile input or a dictionary that contains itself cannot exhaust the stack.
constexpr int kMaxDepth = 256;

[[noreturn]] void Fail(const std::string& what, const std::string& where) {
  Raise(err::kTypeMismatch, kSource,
        what + " at " + (where.empty() ? std::string("the top level") : where));
}

// JSON pointer escaping of one member name, so the location in a message can
// be followed by hand even when keys hold "/" or "~".
std::string PointerToken(std::string_view key) {
  std::string out;
  for (char c : key) {
    if (c == '~') {
      out += "~0";
    } else if (c == '/') {
      out += "~1";
    } else {
      out += c;
    }
  }
  return out;
}

bool LooksLikeTag(std::string_view key) { return !key.empty() && key.front() == '$'; }

Json Tagged(const char* tag, Json value) {
  Json out = Json::object();
  out[tag] = std::move(value);
  return out;
}

Json Encode(const Variant& value, int depth);

Json EncodeObject(const ObjectPtr& object, int depth) {
  if (!object) return Tagged("$nothing", nullptr);
  if (auto dictionary = std::dynamic_pointer_cast<Dictionary>(object)) {
    Json members = Json::object();
    for (const auto& [key, item] : dictionary->entries()) {
      members[key] = Encode(item, depth + 1);
    }
    // One "$" key alone would read back as a tag, so such a dictionary is
    // wrapped; every other shape reads back as itself.
    if (dictionary->Count() == 1 && LooksLikeTag(dictionary->entries().front().first)) {
      return Tagged("$dictionary", std::move(members));
    }
    return members;
  }
  if (auto recordset = std::dynamic_pointer_cast<data::Recordset>(object)) {
    return Tagged("$recordset",
                  data::RecordsetToJson(*recordset, [depth](const Variant& field_value) {
                    return Encode(field_value, depth + 1);
                  }));
  }
  return Tagged("$object", std::string(object->TypeName()));
}

Json Encode(const Variant& value, int depth) {
  if (depth > kMaxDepth) {
    Raise(err::kTypeMismatch, kSource,
          "The value is nested more than " + std::to_string(kMaxDepth) +
              " levels deep (a dictionary or array that contains itself?)");
  }
  if (value.IsEmpty()) return Tagged("$empty", nullptr);
  if (value.IsNull()) return nullptr;
  if (const bool* b = value.Get<bool>()) return *b;
  if (const uint8_t* b = value.Get<uint8_t>()) return Tagged("$byte", *b);
  if (const int16_t* i = value.Get<int16_t>()) return Tagged("$integer", *i);
  if (const int32_t* l = value.Get<int32_t>()) return *l;
  if (const double* d = value.Get<double>()) {
    if (std::isnan(*d)) return Tagged("$double", "NaN");
    if (std::isinf(*d)) return Tagged("$double", *d > 0 ? "Infinity" : "-Infinity");
    // The serializer writes integral doubles with ".0", so 5.0 stays a Double.
    return *d;
  }
  if (const Currency* c = value.Get<Currency>()) return Tagged("$currency", c->ToFixed4());
  if (const Date* d = value.Get<Date>()) {
    // The text form is to the second; a moment it cannot carry exactly goes
    // as its serial number, so nothing is rounded on the way through.
    std::string iso = d->ToIso();
    std::optional<Date> back = Date::Parse(iso);
    if (back && *back == *d) return Tagged("$date", std::move(iso));
    return Tagged("$date", d->serial());
  }
  if (const std::string* s = value.Get<std::string>()) return *s;
  if (value.IsArray()) {
    Json items = Json::array();
    for (const Variant& item : value.Array()) items.push_back(Encode(item, depth + 1));
    return items;
  }
  if (const ObjectPtr* o = value.Get<ObjectPtr>()) return EncodeObject(*o, depth);
  Raise(err::kTypeMismatch, kSource, "A value of an unknown kind cannot be written as JSON");
}

Variant Decode(const Json& json, std::string& where, int depth, const ObjectTags& tags);

Variant DecodeMembers(const Json& json, std::string& where, int depth, const ObjectTags& tags) {
  auto dictionary = Dictionary::New();
  for (const auto& [key, item] : json.items()) {
    const size_t mark = where.size();
    where += "/" + PointerToken(key);
    dictionary->SetItem(key, Decode(item, where, depth + 1, tags));
    where.resize(mark);
  }
  return Variant(dictionary);
}

int64_t WholeNumber(const Json& value, const std::string& tag, const std::string& where) {
  if (value.is_number_integer()) return value.get<int64_t>();
  if (value.is_number_unsigned()) {
    const uint64_t u = value.get<uint64_t>();
    return u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())
               ? std::numeric_limits<int64_t>::max()
               : static_cast<int64_t>(u);
  }
  Fail("\"" + tag + "\" needs a whole number, not " + value.dump(), where);
}

Variant DecodeTag(const std::string& tag, const Json& value, std::string& where, int depth,
                  const ObjectTags& tags) {
  if (tag == "$empty" || tag == "$nothing") {
    if (!value.is_null()) Fail("\"" + tag + "\" takes null as its value", where);
    return tag == "$empty" ? Variant() : Variant(ObjectPtr());
  }
  if (tag == "$integer") {
    const int64_t n = WholeNumber(value, tag, where);
    if (n < std::numeric_limits<int16_t>::min() || n > std::numeric_limits<int16_t>::max()) {
      Fail("\"$integer\" must lie between -32768 and 32767, not " + value.dump(), where);
    }
    return Variant(static_cast<int16_t>(n));
  }
  if (tag == "$byte") {
    const int64_t n = WholeNumber(value, tag, where);
    if (n < 0 || n > 255) Fail("\"$byte\" must lie between 0 and 255, not " + value.dump(), where);
    return Variant(static_cast<uint8_t>(n));
  }
  if (tag == "$date") {
    if (value.is_string()) {
      std::optional<Date> d = Date::Parse(value.get<std::string>());
      if (!d) {
        Fail("\"$date\" needs a date such as \"2026-12-08T14:30:00\", not " + value.dump(),
             where);
      }
      return Variant(*d);
    }
    if (value.is_number() && std::isfinite(value.get<double>())) {
      return Variant(Date::FromSerial(value.get<double>()));
    }
    Fail("\"$date\" needs a date text or a serial number, not " + value.dump(), where);
  }
  if (tag == "$currency") {
    try {
      if (value.is_string()) return Variant(Currency::Parse(value.get<std::string>()));
      if (value.is_number_integer() || value.is_number_unsigned()) {
        // Through the decimal text, so large amounts keep every digit.
        return Variant(Currency::Parse(value.dump()));
      }
      if (value.is_number()) return Variant(Currency::FromDouble(value.get<double>()));
    } catch (const ComError& e) {
      Fail("\"$currency\" cannot take " + value.dump() + " (" + e.description() + ")", where);
    }
    Fail("\"$currency\" needs an amount such as \"12.3400\", not " + value.dump(), where);
  }
  if (tag == "$double") {
    if (value.is_number()) return Variant(value.get<double>());
    if (value.is_string()) {
      const std::string s = value.get<std::string>();
      if (s == "NaN") return Variant(std::numeric_limits<double>::quiet_NaN());
      if (s == "Infinity") return Variant(std::numeric_limits<double>::infinity());
      if (s == "-Infinity") return Variant(-std::numeric_limits<double>::infinity());
    }
    Fail("\"$double\" needs a number, \"NaN\", \"Infinity\" or \"-Infinity\", not " +
             value.dump(),
         where);
  }
  if (tag == "$dictionary") {
    if (!value.is_object()) Fail("\"$dictionary\" needs an object, not " + value.dump(), where);
    where += "/$dictionary";
    Variant out = DecodeMembers(value, where, depth, tags);
    where.resize(where.size() - std::string_view("/$dictionary").size());
    return out;
  }
  if (tag == "$recordset") {
    if (!value.is_object()) Fail("\"$recordset\" needs an object, not " + value.dump(), where);
    where += "/$recordset";
    const std::string at = where;
    std::shared_ptr<data::Recordset> recordset;
    bool value_failed = false;
    try {
      recordset = data::RecordsetFromJson(value, [&](const Json& field_value) {
        try {
          return Decode(field_value, where, depth + 1, tags);
        } catch (...) {
          value_failed = true;
          throw;
        }
      });
    } catch (const ComError& e) {
      // A bad field value already says where it is; a malformed record set
      // is named by the record set's own text, and the location says which
      // record set of the document it is.
      if (value_failed) throw;
      throw ComError(e.number(), e.source(), e.description() + " (record set at " + at + ")");
    }
    where.resize(where.size() - std::string_view("/$recordset").size());
    return Variant(ObjectPtr(recordset));
  }
  if (tag == "$object") {
    if (!tags.create) {
      Fail("An object (" + value.dump() +
               ") cannot be passed in JSON here; pass its content (a dictionary or a record set)",
           where);
    }
    if (!value.is_string() || value.get<std::string>().empty()) {
      Fail("\"$object\" needs a programmatic identifier such as \"Vendra.Basket\", not " +
               value.dump(),
           where);
    }
    return tags.create(value.get<std::string>());
  }
  if (tag == "$ref") {
    if (!tags.refer) Fail("\"$ref\" names an object of a script and is only read there", where);
    if (!value.is_string() || value.get<std::string>().empty()) {
      Fail("\"$ref\" needs the name of an object, not " + value.dump(), where);
    }
    return tags.refer(value.get<std::string>());
  }
  Fail("Unknown tag \"" + tag +
           "\" (known: $empty, $nothing, $integer, $byte, $date, $currency, $double, "
           "$dictionary, $recordset, $object, $ref)",
       where);
}

Variant Decode(const Json& json, std::string& where, int depth, const ObjectTags& tags) {
  if (depth > kMaxDepth) {
    Fail("JSON nested more than " + std::to_string(kMaxDepth) + " levels deep", where);
  }
  switch (json.type()) {
    case Json::value_t::null:
      return Variant::Null();
    case Json::value_t::boolean:
      return Variant(json.get<bool>());
    case Json::value_t::number_integer: {
      const int64_t n = json.get<int64_t>();
      if (n >= std::numeric_limits<int32_t>::min() && n <= std::numeric_limits<int32_t>::max()) {
        return Variant(static_cast<int32_t>(n));
      }
      return Variant(static_cast<double>(n));
    }
    case Json::value_t::number_unsigned: {
      const uint64_t n = json.get<uint64_t>();
      if (n <= static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
        return Variant(static_cast<int32_t>(n));
      }
      return Variant(static_cast<double>(n));
    }
    case Json::value_t::number_float:
      return Variant(json.get<double>());
    case Json::value_t::string:
      return Variant(json.get<std::string>());
    case Json::value_t::array: {
      VariantArray items;
      items.reserve(json.size());
      for (size_t i = 0; i < json.size(); ++i) {
        const size_t mark = where.size();
        where += "/" + std::to_string(i);
        items.push_back(Decode(json[i], where, depth + 1, tags));
        where.resize(mark);
      }
      return Variant(std::move(items));
    }
    case Json::value_t::object: {
      if (json.size() == 1 && LooksLikeTag(json.begin().key())) {
        return DecodeTag(json.begin().key(), json.begin().value(), where, depth, tags);
      }
      return DecodeMembers(json, where, depth, tags);
    }
    case Json::value_t::binary:
    case Json::value_t::discarded:
      break;
  }
  Fail("This JSON value has no Variant form", where);
}

}  // namespace

Json ToJson(const Variant& value) { return Encode(value, 0); }

Variant FromJson(const Json& json, const ObjectTags& tags) {
  std::string where;
  return Decode(json, where, 0, tags);
}

Json ParseJsonDocument(std::string_view text, std::string_view what) {
  // The parser and the document's own copy and destruction recurse once per
  // level, so depth is checked on the text first (one pass, strings skipped).
  int depth = 0;
  bool in_string = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxDepth) {
        Raise(err::kTypeMismatch, kSource,
              std::string(what) + " is nested more than " + std::to_string(kMaxDepth) +
                  " levels deep (at byte " + std::to_string(i + 1) + ")");
      }
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  try {
    return Json::parse(text);
  } catch (const Json::parse_error& e) {
    // The library's message says where (line, column) and what it expected;
    // its "[json.exception...]" prefix means nothing to the caller.
    std::string detail = e.what();
    if (const size_t close = detail.find("] "); close != std::string::npos) {
      detail.erase(0, close + 2);
    }
    Raise(err::kTypeMismatch, kSource, std::string(what) + " is not valid JSON: " + detail);
  }
}

Variant ParseJson(std::string_view text, std::string_view what, const ObjectTags& tags) {
  const Json json = ParseJsonDocument(text, what);
  try {
    return FromJson(json, tags);
  } catch (const ComError& e) {
    throw ComError(e.number(), e.source(), std::string(what) + ": " + e.description());
  }
}

std::string ToJsonText(const Variant& value, int indent) {
  return DumpJson(ToJson(value), indent);
}

namespace {

std::string Compact(const Json& json) {
  return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// What a reader takes in at a glance stays on one line: scalars, empty
// containers, tagged values, and short rows of those (a record-set row).
bool FitsOnOneLine(const Json& json) {
  if (!json.is_structured() || json.empty()) return true;
  if (json.is_object()) {
    return json.size() == 1 && LooksLikeTag(json.begin().key()) &&
           !json.begin().value().is_structured();
  }
  constexpr size_t kShortRow = 100;
  for (const Json& item : json) {
    if (item.is_structured() && !(item.is_object() && FitsOnOneLine(item))) return false;
  }
  return Compact(json).size() <= kShortRow;
}

void Pretty(const Json& json, int indent, int level, std::string& out) {
  if (FitsOnOneLine(json)) {
    std::string text = Compact(json);
    // The compact form has no blank after ":" and ","; a person reads the
    // spaced form more easily.
    if (json.is_structured()) {
      std::string spaced;
      bool in_string = false;
      for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        spaced += c;
        if (in_string) {
          if (c == '\\') {
            spaced += text[++i];
          } else if (c == '"') {
            in_string = false;
          }
        } else if (c == '"') {
          in_string = true;
        } else if (c == ':' || c == ',') {
          spaced += ' ';
        }
      }
      text = std::move(spaced);
    }
    out += text;
    return;
  }
  const std::string inner(static_cast<size_t>(indent) * (level + 1), ' ');
  out += json.is_array() ? "[\n" : "{\n";
  bool first = true;
  for (auto it = json.begin(); it != json.end(); ++it) {
    if (!first) out += ",\n";
    first = false;
    out += inner;
    if (json.is_object()) {
      out += Compact(Json(it.key()));
      out += ": ";
    }
    Pretty(it.value(), indent, level + 1, out);
  }
  out += "\n" + std::string(static_cast<size_t>(indent) * level, ' ');
  out += json.is_array() ? ']' : '}';
}

}  // namespace

std::string DumpJson(const Json& json, int indent) {
  if (indent < 0) return Compact(json);
  std::string out;
  Pretty(json, indent, 0, out);
  return out;
}

}  // namespace platform
