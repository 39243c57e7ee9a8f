// JSON marshalling of Variants: every kind must come back exactly as it went
// out, numbers must keep their kind, and bad input must say what and where.
#include "apps/vendra/json.h"

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/core/com_error.h"
#include "platform/core/dictionary.h"
#include "platform/core/text_builder.h"
#include "platform/data/ado_types.h"
#include "platform/data/recordset.h"

namespace platform {
namespace {

// Strict sameness: the same kind and value, dictionaries by content and
// order, NaN equal to NaN.
void ExpectSame(const Variant& expected, const Variant& actual, const std::string& where = "") {
  ASSERT_EQ(expected.type(), actual.type()) << "at " << where;
  const ObjectPtr* object = expected.Get<ObjectPtr>();
  if (auto d = object ? std::dynamic_pointer_cast<Dictionary>(*object) : nullptr) {
    auto e = actual.As<Dictionary>();
    ASSERT_TRUE(e) << "at " << where;
    ASSERT_EQ(d->Count(), e->Count()) << "at " << where;
    for (size_t i = 0; i < d->entries().size(); ++i) {
      EXPECT_EQ(d->entries()[i].first, e->entries()[i].first) << "at " << where;
      ExpectSame(d->entries()[i].second, e->entries()[i].second,
                 where + "/" + d->entries()[i].first);
    }
    return;
  }
  if (expected.IsArray()) {
    ASSERT_EQ(expected.Array().size(), actual.Array().size()) << "at " << where;
    for (size_t i = 0; i < expected.Array().size(); ++i) {
      ExpectSame(expected.Array()[i], actual.Array()[i], where + "/" + std::to_string(i));
    }
    return;
  }
  if (const double* d = expected.Get<double>(); d && std::isnan(*d)) {
    EXPECT_TRUE(std::isnan(*actual.Get<double>())) << "at " << where;
    return;
  }
  if (const double* d = expected.Get<double>()) {
    // Also tells 0.0 from -0.0.
    EXPECT_EQ(std::signbit(*d), std::signbit(*actual.Get<double>())) << "at " << where;
  }
  if (object && !*object) {
    EXPECT_EQ(actual.ToObject(), nullptr) << "at " << where;
    return;
  }
  EXPECT_TRUE(expected == actual) << "at " << where << ": " << ToJsonText(actual);
}

// Through text, as the values travel between two calls.
Variant ThroughText(const Variant& v) { return ParseJson(ToJsonText(v)); }

void ExpectRoundTrip(const Variant& v) {
  SCOPED_TRACE(ToJsonText(v));
  ExpectSame(v, ThroughText(v));
  ExpectSame(v, ThroughText(ThroughText(v)));
  // The pretty form a person reads is the same JSON.
  ExpectSame(v, ParseJson(ToJsonText(v, 2)));
}

ComError ParseJsonError(std::string_view text, const ObjectTags& tags) {
  try {
    ParseJson(text, "Argument 1", tags);
  } catch (const ComError& e) {
    return e;
  }
  ADD_FAILURE() << "no error for " << text;
  return {};
}

ComError ErrorOf(std::string_view text) { return ParseJsonError(text, {}); }

TEST(JsonRoundTrip, EveryScalarKind) {
  ExpectRoundTrip(Variant());
  ExpectRoundTrip(Variant::Null());
  ExpectRoundTrip(Variant(true));
  ExpectRoundTrip(Variant(false));
  for (uint8_t b : {uint8_t{0}, uint8_t{1}, uint8_t{255}}) ExpectRoundTrip(Variant(b));
  for (int16_t i : {int16_t{-32768}, int16_t{0}, int16_t{32767}}) ExpectRoundTrip(Variant(i));
  for (int32_t l : {std::numeric_limits<int32_t>::min(), 0, 42, std::numeric_limits<int32_t>::max()})
    ExpectRoundTrip(Variant(l));
  ExpectRoundTrip(Variant(std::string()));
  ExpectRoundTrip(Variant("Zürich \"quoted\" \\ back\tslash\r\nline €"));
  ExpectRoundTrip(Variant(VariantArray{Variant("a: b, c"), Variant("\\\",\":"),
                                       Variant(int16_t{1})}));
  ExpectRoundTrip(Variant(ObjectPtr()));
}

TEST(JsonRoundTrip, DoublesKeepKindAndEveryBit) {
  for (double d : {0.0, -0.0, 5.0, -5.0, 0.1, 1.0 / 3.0, 2147483648.0, 1e15, 1e16, 1e300,
                   -1e-300, 5e-324, std::numeric_limits<double>::max(),
                   std::numeric_limits<double>::lowest(),
                   std::numeric_limits<double>::infinity(),
                   -std::numeric_limits<double>::infinity(),
                   std::numeric_limits<double>::quiet_NaN()}) {
    ExpectRoundTrip(Variant(d));
  }
  EXPECT_EQ(ToJsonText(Variant(5.0)), "5.0");
  EXPECT_EQ(ToJsonText(Variant(int32_t{5})), "5");
  EXPECT_EQ(ToJsonText(Variant(std::numeric_limits<double>::quiet_NaN())), R"({"$double":"NaN"})");
}

TEST(JsonRoundTrip, CurrencyAndDate) {
  for (int64_t ticks : {int64_t{0}, int64_t{123400}, int64_t{-5}, int64_t{1},
                        std::numeric_limits<int64_t>::max(), std::numeric_limits<int64_t>::min()}) {
    ExpectRoundTrip(Variant(Currency::FromTicks(ticks)));
  }
  EXPECT_EQ(ToJsonText(Variant(Currency::FromTicks(123400))), R"({"$currency":"12.3400"})");

  const Date moment = Date::FromParts(2026, 12, 8, 14, 30, 0);
  EXPECT_EQ(ToJsonText(Variant(moment)), R"({"$date":"2026-12-08T14:30:00"})");
  ExpectRoundTrip(Variant(moment));
  ExpectRoundTrip(Variant(Date()));
  ExpectRoundTrip(Variant(Date::FromParts(2024, 2, 29)));
  // A fraction of a second has no text form to the second: the serial
  // carries it instead of rounding it away.
  const Date odd = Date::FromSerial(46000.123456789);
  ExpectRoundTrip(Variant(odd));
  EXPECT_TRUE(ToJson(Variant(odd))["$date"].is_number());
}

TEST(JsonRoundTrip, ArraysAndDictionariesNestAndKeepOrder) {
  auto inner = Dictionary::New();
  inner->Add("zeta", Variant(int32_t{1}));
  inner->Add("alpha", Variant(Currency::FromTicks(50000)));
  inner->Add("", Variant());
  auto outer = Dictionary::New();
  outer->Add("header", Variant(inner));
  outer->Add("lines", Variant(VariantArray{Variant(int16_t{3}), Variant(VariantArray{}),
                                           Variant(Dictionary::New()), Variant::Null()}));
  outer->Add("a/b~c", Variant(Date::FromParts(2026, 1, 1)));
  ExpectRoundTrip(Variant(outer));
  ExpectRoundTrip(Variant(VariantArray{}));
  ExpectRoundTrip(Variant(Dictionary::New()));
  EXPECT_EQ(ToJsonText(Variant(inner)), R"({"zeta":1,"alpha":{"$currency":"5.0000"},"":{"$empty":null}})");
}

TEST(JsonRoundTrip, DictionariesThatLookLikeTagsAreEscaped) {
  for (const char* key : {"$date", "$dictionary", "$", "$unknown", "$recordset"}) {
    auto d = Dictionary::New();
    d->Add(key, Variant("2026-12-08"));
    SCOPED_TRACE(key);
    ExpectRoundTrip(Variant(d));
    EXPECT_TRUE(ToJson(Variant(d)).contains("$dictionary"));
  }
  // Two "$" keys cannot be a tag, so they need no escape.
  auto two = Dictionary::New();
  two->Add("$a", Variant(int32_t{1}));
  two->Add("$b", Variant(int32_t{2}));
  EXPECT_EQ(ToJsonText(Variant(two)), R"({"$a":1,"$b":2})");
  ExpectRoundTrip(Variant(two));
  // A "$dictionary" inside an escaped dictionary is still read as a value.
  auto nested = Dictionary::New();
  nested->Add("$dictionary", Variant(two));
  ExpectRoundTrip(Variant(nested));
}

// A document as the pages pass it around: a dictionary holding record sets.
TEST(JsonRecordset, TravelsInsideADocumentWithKindsAndPendingRows) {
  using namespace data;
  auto lines = std::make_shared<Recordset>();
  lines->fields().Append("BASKETLINENR", adSmallInt);
  lines->fields().Append("PRICE", adCurrency);
  lines->fields().Append("REQUESTDATE", adDate);
  lines->fields().Append("SKU", adVarWChar, 20);
  lines->Open();
  lines->AddNew({{"BASKETLINENR", Variant(int16_t{1})},
                 {"PRICE", Variant(Currency::FromTicks(123400))},
                 {"REQUESTDATE", Variant(Date::FromParts(2026, 12, 8, 14, 30, 0))},
                 {"SKU", Variant("$date")}});
  lines->Update();
  lines->AddNew({{"BASKETLINENR", Variant(int16_t{2})}, {"SKU", Variant::Null()}});
  lines->Update();
  auto document = Dictionary::New();
  document->Add("header", Variant(Dictionary::New()));
  document->Add("lines", Variant(lines));

  const std::string text = ToJsonText(Variant(document), 2);
  EXPECT_NE(text.find("\"$recordset\""), std::string::npos) << text;
  auto back = ParseJson(text).As<Dictionary>();
  ASSERT_TRUE(back);
  auto rs = back->Item("lines").As<Recordset>();
  ASSERT_TRUE(rs) << text;
  ASSERT_EQ(rs->RecordCount(), 2);
  rs->MoveFirst();
  EXPECT_EQ(rs->Status(), adRecNew);
  ExpectSame(Variant(int16_t{1}), rs->Value("BASKETLINENR"));
  ExpectSame(Variant(Currency::FromTicks(123400)), rs->Value("PRICE"));
  ExpectSame(Variant(Date::FromParts(2026, 12, 8, 14, 30, 0)), rs->Value("REQUESTDATE"));
  ExpectSame(Variant("$date"), rs->Value("SKU"));
  rs->MoveNext();
  EXPECT_TRUE(rs->Value("SKU").IsNull());
  // Written again, it reads the same: nothing is lost on a second trip.
  EXPECT_EQ(ToJsonText(Variant(ObjectPtr(back)), 2), text);
}

TEST(JsonRecordset, MalformedSetsAndValuesSayWhere) {
  ComError shape = ErrorOf(R"({"doc": {"lines": {"$recordset": {"rows": []}}}})");
  EXPECT_NE(shape.description().find("/doc/lines/$recordset"), std::string::npos)
      << shape.description();
  ComError value = ErrorOf(
      R"({"$recordset": {"fields": [{"name": "A", "type": 3}],)"
      R"( "rows": [{"status": "new", "values": [{"$bogus": 1}]}]}})");
  EXPECT_EQ(value.number(), err::kTypeMismatch);
  EXPECT_NE(value.description().find("Unknown tag \"$bogus\""), std::string::npos)
      << value.description();
  EXPECT_EQ(ErrorOf(R"({"$recordset": [1]})").number(), err::kTypeMismatch);
}

TEST(JsonInput, NumbersBecomeLongOnlyWithin32Bits) {
  EXPECT_EQ(ParseJson("7").type(), VarType::Long);
  EXPECT_EQ(ParseJson("-2147483648").type(), VarType::Long);
  EXPECT_EQ(ParseJson("2147483647").type(), VarType::Long);
  EXPECT_EQ(ParseJson("2147483648").type(), VarType::Double);
  EXPECT_EQ(ParseJson("-2147483649").type(), VarType::Double);
  EXPECT_EQ(ParseJson("18446744073709551615").type(), VarType::Double);
  EXPECT_EQ(ParseJson("7.0").type(), VarType::Double);
  EXPECT_EQ(ParseJson("1e2").type(), VarType::Double);
  EXPECT_EQ(ParseJson("null").type(), VarType::Null);
  EXPECT_EQ(ParseJson(R"({"$currency": 12.5})").ToCurrency().ticks(), 125000);
  EXPECT_EQ(ParseJson(R"({"$currency": 922337203685477})").ToCurrency().ticks(),
            922337203685477 * Currency::kScale);
}

TEST(JsonInput, ObjectsBecomeDictionariesInOrder) {
  Variant v = ParseJson(R"({"b": 1, "a": {"$integer": 2}, "c": [true, "x"]})");
  auto d = v.As<Dictionary>();
  ASSERT_TRUE(d);
  ASSERT_EQ(d->Count(), 3);
  EXPECT_EQ(d->entries()[0].first, "b");
  EXPECT_EQ(d->entries()[1].first, "a");
  EXPECT_EQ(d->Item("a").type(), VarType::Integer);
  EXPECT_EQ(d->Item("c").Array()[1].ToString(), "x");
}

TEST(JsonInput, BadTagsSayWhatAndWhere) {
  struct Case {
    const char* text;
    const char* says;
  };
  for (const Case& c : {
           Case{R"({"lines": [1, {"$bogus": 1}]})", "Unknown tag \"$bogus\""},
           Case{R"({"lines": [1, {"$bogus": 1}]})", "at /lines/1"},
           Case{R"({"$integer": 40000})", "between -32768 and 32767"},
           Case{R"({"$integer": 1.5})", "whole number"},
           Case{R"({"$byte": -1})", "between 0 and 255"},
           Case{R"({"$byte": "7"})", "whole number"},
           Case{R"({"$date": "yesterday"})", "\"$date\" needs a date"},
           Case{R"({"$date": true})", "date text or a serial"},
           Case{R"({"$currency": "twelve"})", "\"$currency\" cannot take"},
           Case{R"({"$currency": []})", "needs an amount"},
           Case{R"({"$empty": 0})", "takes null"},
           Case{R"({"$double": "much"})", "\"$double\" needs"},
           Case{R"({"$dictionary": [1]})", "needs an object"},
           Case{R"({"x": {"$dictionary": {"y": {"$byte": 300}}}})", "at /x/$dictionary/y"},
           Case{R"({"$object": "Basket"})", "cannot be passed in JSON"},
           Case{R"({"a/b": {"$nope": 1}})", "at /a~1b"},
       }) {
    SCOPED_TRACE(c.text);
    ComError e = ErrorOf(c.text);
    EXPECT_EQ(e.number(), err::kTypeMismatch);
    EXPECT_NE(e.description().find(c.says), std::string::npos) << e.description();
    EXPECT_EQ(e.description().rfind("Argument 1: ", 0), 0u) << e.description();
  }
}

TEST(JsonInput, ObjectTagsResolveOnlyWhenTheReaderAsks) {
  std::vector<std::string> asked;
  auto made = std::make_shared<TextBuilder>();
  auto named = Dictionary::New();
  ObjectTags tags;
  tags.create = [&](const std::string& progid) {
    asked.push_back("create " + progid);
    if (progid == "No.Such") Raise(err::kCannotCreateObject, "platform.CreateObject", progid);
    return Variant(made);
  };
  tags.refer = [&](const std::string& name) {
    asked.push_back("refer " + name);
    return Variant(named);
  };
  const Variant v = ParseJson(R"([{"$object": "StrCat.Catter"}, {"k": {"$ref": "doc"}}])",
                              "Argument 1", tags);
  EXPECT_EQ(asked, (std::vector<std::string>{"create StrCat.Catter", "refer doc"}));
  EXPECT_EQ(v.Array()[0].ToObject(), made);
  EXPECT_EQ(GetProperty(v.Array()[1].ToObject(), "Item", {Variant("k")}).ToObject(), named);

  EXPECT_EQ(ParseJsonError(R"({"$object": "No.Such"})", tags).number(), err::kCannotCreateObject);
  for (const char* bad : {R"({"$object": 5})", R"({"$object": ""})", R"({"$ref": null})"}) {
    EXPECT_EQ(ParseJsonError(bad, tags).number(), err::kTypeMismatch) << bad;
  }
  // Without tags nothing is created or looked up.
  EXPECT_NE(ErrorOf(R"({"$ref": "doc"})").description().find("only read there"),
            std::string::npos);
  EXPECT_EQ(asked.size(), 3u);
}

TEST(JsonInput, SyntaxErrorsSayWhere) {
  ComError e = ErrorOf("[1,\n  2,");
  EXPECT_EQ(e.number(), err::kTypeMismatch);
  EXPECT_NE(e.description().find("Argument 1 is not valid JSON"), std::string::npos);
  EXPECT_NE(e.description().find("line 2"), std::string::npos) << e.description();
  EXPECT_EQ(ErrorOf("").number(), err::kTypeMismatch);
  EXPECT_EQ(ErrorOf("EnableFreight").number(), err::kTypeMismatch);
}

TEST(JsonLimits, DeepNestingAndCyclesFailCleanly) {
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  EXPECT_EQ(ErrorOf(deep).number(), err::kTypeMismatch);

  auto self = Dictionary::New();
  self->Add("me", Variant(self));
  try {
    ToJson(Variant(self));
    ADD_FAILURE() << "a dictionary holding itself was written";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kTypeMismatch);
  }
  self->RemoveAll();  // break the cycle so the test does not leak it
}

TEST(JsonOutput, PrettyTextKeepsTaggedValuesAndShortRowsOnOneLine) {
  auto d = Dictionary::New();
  d->Add("price", Variant(Currency::FromTicks(123400)));
  d->Add("row", Variant(VariantArray{Variant(int32_t{1}), Variant(Date::FromParts(2026, 1, 2))}));
  d->Add("none", Variant(VariantArray{}));
  EXPECT_EQ(ToJsonText(Variant(d), 2),
            "{\n"
            "  \"price\": {\"$currency\": \"12.3400\"},\n"
            "  \"row\": [1, {\"$date\": \"2026-01-02T00:00:00\"}],\n"
            "  \"none\": []\n"
            "}");
}

TEST(JsonOutput, OtherObjectsAreNamedAndInvalidTextIsReplaced) {
  EXPECT_EQ(ToJsonText(Variant(std::make_shared<TextBuilder>())), R"({"$object":"Catter"})");
  const std::string bad = "ok\xff\xfe";
  EXPECT_NO_THROW(ToJsonText(Variant(bad)));
  EXPECT_EQ(ParseJson(ToJsonText(Variant(bad))).ToString(), "ok\xEF\xBF\xBD\xEF\xBF\xBD");
}

}  // namespace
}  // namespace platform
