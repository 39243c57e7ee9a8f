// The dictionary the documents are made of, used directly and late bound, and
// the text builder behind "StrCat.Catter".
#include "platform/core/dictionary.h"

#include <gtest/gtest.h>

#include "platform/core/com_error.h"
#include "platform/core/text_builder.h"
#include "platform/host/registry.h"

namespace platform {
namespace {

ComError ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ComError& e) {
    return e;
  }
  return ComError();
}

std::vector<std::string> KeysOf(const Dictionary& d) {
  std::vector<std::string> keys;
  for (const Variant& k : d.Keys()) keys.push_back(k.ToString());
  return keys;
}

TEST(Dictionary, KeepsInsertionOrderAndExactKeys) {
  Dictionary d;
  d.Add("zeta", Variant(int32_t{1}));
  d.Add("alpha", Variant("two"));
  d.Add("Alpha", Variant(3.0));  // another key: keys compare exactly
  d.SetItem("mid", Variant(true));
  EXPECT_EQ(KeysOf(d), (std::vector<std::string>{"zeta", "alpha", "Alpha", "mid"}));
  EXPECT_EQ(d.Item("alpha").ToString(), "two");
  EXPECT_EQ(d.Item("Alpha").ToDouble(), 3.0);
  d.SetItem("zeta", Variant(int32_t{10}));  // replaced in place
  EXPECT_EQ(KeysOf(d).front(), "zeta");
  EXPECT_EQ(d.Items().front().ToLong(), 10);
  EXPECT_EQ(d.Count(), 4);
}

TEST(Dictionary, AbsentKeysReadEmptyWithoutBeingAdded) {
  Dictionary d;
  d.Add("a", Variant(int32_t{1}));
  EXPECT_TRUE(d.Item("b").IsEmpty());
  EXPECT_TRUE(d.Item("A").IsEmpty());
  EXPECT_FALSE(d.Exists("b"));
  EXPECT_EQ(d.Count(), 1);
}

TEST(Dictionary, DuplicatesAndAbsentRemovalsRaise) {
  Dictionary d;
  d.Add("a", Variant(int32_t{1}));
  ComError dup = ErrorOf([&] { d.Add("a", Variant(int32_t{2})); });
  EXPECT_EQ(dup.number(), err::kKeyAlreadyExists);
  EXPECT_EQ(dup.description(), "This key is already associated with an element of this collection");
  EXPECT_EQ(d.Item("a").ToLong(), 1);  // the first value stays
  ComError absent = ErrorOf([&] { d.Remove("b"); });
  EXPECT_EQ(absent.number(), 32811);
  EXPECT_EQ(absent.description(), "Element not found");
  EXPECT_EQ(d.Count(), 1);
}

TEST(Dictionary, RemoveKeepsTheOthersFindable) {
  Dictionary d;
  for (const char* k : {"a", "b", "c", "d"}) d.Add(k, Variant(k));
  d.Remove("b");
  EXPECT_EQ(KeysOf(d), (std::vector<std::string>{"a", "c", "d"}));
  EXPECT_EQ(d.Item("c").ToString(), "c");
  EXPECT_EQ(d.Item("d").ToString(), "d");
  d.SetItem("d", Variant("D"));
  EXPECT_EQ(d.entries()[2].second.ToString(), "D");
  d.Add("b", Variant("again"));  // goes to the end
  EXPECT_EQ(KeysOf(d).back(), "b");
  d.RemoveAll();
  EXPECT_EQ(d.Count(), 0);
  EXPECT_FALSE(d.Exists("a"));
  d.Add("a", Variant());  // a cleared dictionary takes the old keys again
  EXPECT_EQ(d.Count(), 1);
}

TEST(Dictionary, LateBoundAsScriptingDictionary) {
  ObjectPtr d = CreateObject("Scripting.Dictionary");
  EXPECT_EQ(d->TypeName(), "Dictionary");
  Call(d, "Add", {Variant("k"), Variant(int32_t{1})});
  Call(d, "add", {Variant(int32_t{7}), Variant("seven")});  // keys become text
  EXPECT_EQ(GetProperty(d, "Item", {Variant("k")}).ToLong(), 1);
  EXPECT_EQ(GetProperty(d, "ITEM", {Variant("7")}).ToString(), "seven");
  EXPECT_TRUE(GetProperty(d, "Item", {Variant("none")}).IsEmpty());
  SetProperty(d, "Item", {Variant("k")}, Variant(int32_t{2}));
  SetProperty(d, "Item", {Variant("new")}, Variant("n"));
  EXPECT_EQ(GetProperty(d, "Item", {Variant("k")}).ToLong(), 2);
  EXPECT_EQ(GetProperty(d, "Count").ToLong(), 3);
  EXPECT_TRUE(Call(d, "Exists", {Variant("new")}).ToBool());
  Variant keys = Call(d, "Keys");
  ASSERT_TRUE(keys.IsArray());
  EXPECT_EQ(keys.Array().size(), 3u);
  EXPECT_EQ(keys.Array()[2].ToString(), "new");
  EXPECT_EQ(Call(d, "Items").Array()[0].ToLong(), 2);
  Call(d, "Remove", {Variant("k")});
  EXPECT_EQ(ErrorOf([&] { Call(d, "Add", {Variant("new"), Variant()}); }).number(),
            err::kKeyAlreadyExists);
  EXPECT_EQ(ErrorOf([&] { Call(d, "Remove", {Variant("k")}); }).number(), 32811);
  Call(d, "RemoveAll");
  EXPECT_EQ(GetProperty(d, "Count").ToLong(), 0);
  // The property setter takes the key and the value: anything else is 450.
  std::vector<Variant> value_only{Variant(int32_t{1})};
  EXPECT_EQ(ErrorOf([&] { d->Invoke("Item", CallKind::PropertyPut, value_only); }).number(),
            err::kWrongArgumentCount);
  EXPECT_EQ(ErrorOf([&] { SetProperty(d, "Count", Variant(int32_t{1})); }).number(),
            err::kMemberNotFound);
}

TEST(TextBuilder, AppendsAndDumpsInTurns) {
  TextBuilder b;
  b << "SELECT " << "1";
  EXPECT_EQ(b.size(), 8u);
  EXPECT_EQ(b.Dump(), "SELECT 1");
  EXPECT_EQ(b.Dump(), "");
  ObjectPtr catter = CreateObject("StrCat.Catter");
  Call(catter, "Append", {Variant("x = ")});
  Call(catter, "Append", {Variant(1.5)});
  Call(catter, "Append", {Variant(true)});
  EXPECT_EQ(Call(catter, "Dump").ToString(), "x = 1.5True");
  EXPECT_EQ(Call(catter, "Dump").ToString(), "");
  EXPECT_EQ(ErrorOf([&] { Call(catter, "Append", {Variant::Null()}); }).number(),
            err::kInvalidUseOfNull);
}

}  // namespace
}  // namespace platform
