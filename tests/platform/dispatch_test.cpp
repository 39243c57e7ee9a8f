// Late binding: every parameter kind a bound member function may take, the
// write-back of in/out values, optional arguments, and the classic errors of
// a call by name; and the current error of a thread.
#include "platform/core/dispatch.h"

#include <new>
#include <stdexcept>

#include <gtest/gtest.h>

#include "platform/core/dictionary.h"
#include "platform/core/text_builder.h"

namespace platform {
namespace {

enum class Colour { Red = 1, Green = 2 };

class ProbeBase {
 public:
  std::string Origin() const { return "base"; }
  void Reset(int32_t& io) { io = 0; }
};

class Probe : public Dispatchable<Probe>, public ProbeBase {
 public:
  static const ClassBinding<Probe>& Binding() {
    static const auto b = ClassBinding<Probe>("Probe")
        .Method("Sum", &Probe::Sum)
        .Method("Bump", &Probe::Bump)
        .Method("Swap", &Probe::Swap)
        .Method("Greet", &Probe::Greet)
        .Method("MaybeFill", &Probe::MaybeFill)
        .Method("Kind", &Probe::Kind)
        .Method("AnyKind", &Probe::AnyKind)
        .Method("Touch", &Probe::Touch)
        .Method("Total", &Probe::Total)
        .Method("Paint", &Probe::Paint)
        .Method("Fail", &Probe::Fail)
        .Property("Value", &Probe::Value, &Probe::SetValue)
        .Property("Touches", &Probe::Touches)
        .Property("NextTicket", &Probe::NextTicket, nullptr)
        .Method("Origin", &Probe::Origin)
        .Method("Reset", &Probe::Reset);
    return b;
  }

  int32_t Sum(int32_t a, const std::string& b, double c) { return a + static_cast<int32_t>(b.size()) + static_cast<int32_t>(c); }
  void Bump(int32_t& io, std::string& text) {
    io += 1;
    text += "!";
  }
  void Swap(Variant& a, Variant& b) { std::swap(a, b); }
  std::string Greet(const std::string& name, std::optional<std::string> greeting,
                    std::optional<int16_t> times) const {
    std::string out;
    for (int i = 0; i < times.value_or(1); ++i) out += greeting.value_or("Hello") + " " + name;
    return out;
  }
  void MaybeFill(std::optional<int32_t>& out) {
    if (out) *out *= 2;
  }
  std::string Kind(const std::shared_ptr<Dictionary>& d) { return d ? "dictionary" : "nothing"; }
  std::string AnyKind(ObjectPtr o) { return o ? std::string(o->TypeName()) : "nothing"; }
  void Touch() { ++touches_; }
  int32_t Touches() const { return touches_; }
  Currency Total() const { return Currency::Parse("12.5"); }
  Colour Paint(Colour c) { return c == Colour::Red ? Colour::Green : Colour::Red; }
  void Fail(int32_t& io) {
    io = 99;
    Raise(1234, "Probe.Fail", "failed on purpose");
  }
  int32_t NextTicket() { return ++tickets_; }  // a getter that changes state
  int32_t Value() const { return value_; }
  void SetValue(int32_t v) { value_ = v; }

 private:
  int32_t value_ = 0;
  int32_t touches_ = 0;
  int32_t tickets_ = 0;
};

ComError ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ComError& e) {
    return e;
  }
  return ComError();
}

class DispatchTest : public testing::Test {
 protected:
  std::shared_ptr<Probe> probe_ = std::make_shared<Probe>();
  ObjectPtr object_ = probe_;
};

TEST_F(DispatchTest, ConvertsArgumentsByTheVariantRules) {
  EXPECT_EQ(Call(object_, "Sum", {Variant("2.5"), Variant(int32_t{42}), Variant("1")}), Variant(int32_t{5}));
  EXPECT_EQ(Call(object_, "sUM", {Variant(true), Variant(""), Variant()}).ToLong(), -1);
  EXPECT_EQ(ErrorOf([&] { Call(object_, "Sum", {Variant("x"), Variant(""), Variant()}); }).number(),
            err::kTypeMismatch);
  EXPECT_EQ(ErrorOf([&] { Call(object_, "Sum", {Variant::Null(), Variant(""), Variant()}); }).number(),
            err::kInvalidUseOfNull);
  EXPECT_EQ(Call(object_, "Total"), Variant(Currency::Parse("12.5")));
  EXPECT_EQ(Call(object_, "Paint", {Variant(int32_t{1})}), Variant(int32_t{2}));
}

TEST_F(DispatchTest, InOutArgumentsAreWrittenBack) {
  std::vector<Variant> args{Variant("41"), Variant(int16_t{7})};
  EXPECT_TRUE(CallRef(object_, "Bump", args).IsEmpty());
  EXPECT_EQ(args[0], Variant(int32_t{42}));  // converted in, written back as Long
  EXPECT_EQ(args[1], Variant("7!"));
  // Call copies its arguments: nothing comes back, nothing breaks.
  EXPECT_NO_THROW(Call(object_, "Bump", {Variant(int32_t{1}), Variant("")}));

  std::vector<Variant> pair{Variant("left"), Variant(int32_t{2})};
  CallRef(object_, "Swap", pair);
  EXPECT_EQ(pair[0], Variant(int32_t{2}));
  EXPECT_EQ(pair[1], Variant("left"));

  // A failed conversion or a failing call leaves the caller's slots alone.
  std::vector<Variant> bad{Variant("abc"), Variant("keep")};
  EXPECT_EQ(ErrorOf([&] { CallRef(object_, "Bump", bad); }).number(), err::kTypeMismatch);
  EXPECT_EQ(bad[0], Variant("abc"));
  std::vector<Variant> failing{Variant(int32_t{1})};
  ComError e = ErrorOf([&] { CallRef(object_, "Fail", failing); });
  EXPECT_EQ(e.number(), 1234);
  EXPECT_EQ(e.source(), "Probe.Fail");
  EXPECT_EQ(failing[0], Variant(int32_t{1}));
}

TEST_F(DispatchTest, OptionalTrailingArgumentsMayBeOmitted) {
  EXPECT_EQ(Call(object_, "Greet", {Variant("Ann")}).ToString(), "Hello Ann");
  EXPECT_EQ(Call(object_, "Greet", {Variant("Ann"), Variant("Hi")}).ToString(), "Hi Ann");
  EXPECT_EQ(Call(object_, "Greet", {Variant("Ann"), Variant("Hi"), Variant(2.0)}).ToString(),
            "Hi AnnHi Ann");
  std::vector<Variant> filled{Variant(int32_t{21})};
  CallRef(object_, "MaybeFill", filled);
  EXPECT_EQ(filled[0], Variant(int32_t{42}));
  std::vector<Variant> none;
  EXPECT_NO_THROW(CallRef(object_, "MaybeFill", none));
}

TEST_F(DispatchTest, ObjectParameters) {
  EXPECT_EQ(Call(object_, "Kind", {Variant(Dictionary::New())}).ToString(), "dictionary");
  EXPECT_EQ(Call(object_, "Kind", {Variant()}).ToString(), "nothing");
  EXPECT_EQ(Call(object_, "Kind", {Variant(ObjectPtr())}).ToString(), "nothing");
  EXPECT_EQ(ErrorOf([&] { Call(object_, "Kind", {Variant(std::make_shared<TextBuilder>())}); }).number(),
            err::kTypeMismatch);
  EXPECT_EQ(ErrorOf([&] { Call(object_, "Kind", {Variant("text")}); }).number(), err::kTypeMismatch);
  EXPECT_EQ(Call(object_, "AnyKind", {Variant(std::make_shared<TextBuilder>())}).ToString(), "Catter");
}

TEST_F(DispatchTest, PropertiesAndVoidMethods) {
  SetProperty(object_, "Value", Variant("12"));
  EXPECT_EQ(probe_->Value(), 12);
  EXPECT_EQ(GetProperty(object_, "value"), Variant(int32_t{12}));
  EXPECT_EQ(Call(object_, "Value").ToLong(), 12);  // a getter is callable as a method
  EXPECT_TRUE(Call(object_, "Touch").IsEmpty());
  Call(object_, "Touch");
  EXPECT_EQ(GetProperty(object_, "Touches").ToLong(), 2);
  const ComError read_only = ErrorOf([&] { SetProperty(object_, "Touches", Variant(int32_t{0})); });
  EXPECT_EQ(read_only.number(), err::kMemberNotFound);
  EXPECT_NE(read_only.description().find("Touches is read-only"), std::string::npos)
      << read_only.description();
  EXPECT_EQ(ErrorOf([&] { SetProperty(object_, "Value", Variant(3e9)); }).number(), err::kOverflow);
  EXPECT_EQ(GetProperty(object_, "NextTicket").ToLong(), 1);
  EXPECT_EQ(GetProperty(object_, "NextTicket").ToLong(), 2);
  EXPECT_EQ(ErrorOf([&] { SetProperty(object_, "NextTicket", Variant(int32_t{0})); }).number(),
            err::kMemberNotFound);
}

TEST_F(DispatchTest, MembersOfABaseClass) {
  EXPECT_EQ(Call(object_, "Origin").ToString(), "base");
  std::vector<Variant> io{Variant(int32_t{5})};
  CallRef(object_, "Reset", io);
  EXPECT_EQ(io[0], Variant(int32_t{0}));
}

TEST_F(DispatchTest, UnknownNamesAndWrongArgumentCounts) {
  ComError missing = ErrorOf([&] { Call(object_, "Nope"); });
  EXPECT_EQ(missing.number(), err::kMemberNotFound);
  EXPECT_EQ(missing.description(), "Object doesn't support this property or method: Probe.Nope");
  ComError few = ErrorOf([&] { Call(object_, "Sum", {Variant(int32_t{1})}); });
  EXPECT_EQ(few.number(), err::kWrongArgumentCount);
  EXPECT_NE(few.description().find("Probe.Sum"), std::string::npos);
  EXPECT_EQ(ErrorOf([&] { Call(object_, "Touch", {Variant()}); }).number(), err::kWrongArgumentCount);
  EXPECT_EQ(ErrorOf([&] { Call(object_, "Greet"); }).number(), err::kWrongArgumentCount);
  EXPECT_EQ(ErrorOf([&] {
              Call(object_, "Greet", {Variant("a"), Variant("b"), Variant(int32_t{1}), Variant()});
            }).number(),
            err::kWrongArgumentCount);
  EXPECT_EQ(ErrorOf([&] { Call(nullptr, "Touch"); }).number(), err::kObjectVariableNotSet);
  EXPECT_TRUE(Probe::Binding().Has("GREET"));
  EXPECT_FALSE(Probe::Binding().Has("Nope"));
}

TEST(ComErrorTest, KeepsItsValuesAndDefaultsItsText) {
  ComError e(-2147221203, "Vendra.Basket.Restore()", "desc", "help.chm", 42);
  EXPECT_EQ(e.number(), -2147221203);
  EXPECT_EQ(e.source(), "Vendra.Basket.Restore()");
  EXPECT_STREQ(e.what(), "desc");
  EXPECT_EQ(e.help_file(), "help.chm");
  EXPECT_EQ(e.help_context(), 42);
  ComError std_text = ErrorOf([] { Raise(err::kOverflow, "src"); });
  EXPECT_EQ(std_text.description(), "Overflow");
  EXPECT_EQ(std_text.source(), "src");
  EXPECT_EQ(ErrorOf([] { Raise(7777, "src"); }).description(), "");
  EXPECT_EQ(ErrorOf([] { Raise(err::kTypeMismatch, "s", "own text"); }).description(), "own text");
  EXPECT_EQ(StandardErrorText(err::kCannotCreateObject), "ActiveX component can't create object");
}

TEST(ComErrorTest, CurrentErrorReadsTheExceptionBeingHandled) {
  EXPECT_EQ(CurrentError().number(), 0);
  try {
    throw ComError(5, "src", "desc", "file", 3);
  } catch (...) {
    ComError e = CurrentError();
    EXPECT_EQ(e.number(), 5);
    EXPECT_EQ(e.source(), "src");
    EXPECT_EQ(e.description(), "desc");
    EXPECT_EQ(e.help_file(), "file");
    EXPECT_EQ(e.help_context(), 3);
  }
  try {
    throw std::bad_alloc();
  } catch (...) {
    EXPECT_EQ(CurrentError().number(), err::kOutOfMemory);
  }
  try {
    throw std::runtime_error("disk on fire");
  } catch (...) {
    ComError e = CurrentError();
    EXPECT_EQ(e.number(), err::kUnspecified);
    EXPECT_EQ(e.description(), "disk on fire");
  }
  try {
    throw 42;
  } catch (...) {
    EXPECT_EQ(CurrentError().number(), err::kUnspecified);
  }
  EXPECT_EQ(CurrentError().number(), 0);
}

}  // namespace
}  // namespace platform
