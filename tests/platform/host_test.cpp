// The component host: creation by identifier, fakes put in place by tests,
// the per-thread object context, the instance home, the clock and GUIDs.
#include <atomic>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "platform/core/clock.h"
#include "platform/core/com_error.h"
#include "platform/core/dictionary.h"
#include "platform/core/guid.h"
#include "platform/core/text_builder.h"
#include "platform/host/context.h"
#include "platform/host/instance.h"
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

TEST(Registry, CreatesByIdentifierIgnoringCase) {
  EXPECT_EQ(CreateObject("scripting.DICTIONARY")->TypeName(), "Dictionary");
  EXPECT_TRUE(Registry::Instance().IsRegistered("strcat.catter"));
  ComError unknown = ErrorOf([] { CreateObject("No.Such"); });
  EXPECT_EQ(unknown.number(), err::kCannotCreateObject);
  EXPECT_EQ(unknown.description(), "ActiveX component can't create object: No.Such");
  EXPECT_EQ(unknown.source(), "platform.CreateObject");
  std::vector<std::string> ids = Registry::Instance().ProgIds();
  EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
  EXPECT_NE(std::find(ids.begin(), ids.end(), "Scripting.Dictionary"), ids.end());
}

TEST(Registry, AFailingFactoryLetsItsErrorThrough) {
  ScopedRegistration broken("Test.Broken", []() -> ObjectPtr {
    Raise(err::kPermissionDenied, "Test.Broken", "no access");
  });
  ComError e = ErrorOf([] { CreateObject("Test.Broken"); });
  EXPECT_EQ(e.number(), err::kPermissionDenied);
  EXPECT_EQ(e.description(), "no access");
  ScopedRegistration empty("Test.Null", [] { return ObjectPtr(); });
  EXPECT_EQ(ErrorOf([] { CreateObject("Test.Null"); }).number(), err::kCannotCreateObject);
}

TEST(Registry, ScopedRegistrationRestoresWhatWasThere) {
  int created = 0;
  {
    ScopedRegistration fake("SCRIPTING.dictionary", [&created] {
      ++created;
      return ObjectPtr(std::make_shared<TextBuilder>());
    });
    EXPECT_EQ(CreateObject("Scripting.Dictionary")->TypeName(), "Catter");
    {
      ScopedRegistration inner("Scripting.Dictionary", [] { return ObjectPtr(Dictionary::New()); });
      EXPECT_EQ(CreateObject("Scripting.Dictionary")->TypeName(), "Dictionary");
    }
    EXPECT_EQ(CreateObject("Scripting.Dictionary")->TypeName(), "Catter");
  }
  EXPECT_EQ(created, 2);
  EXPECT_EQ(CreateObject("Scripting.Dictionary")->TypeName(), "Dictionary");
  {
    ScopedRegistration added("Test.Added", [] { return ObjectPtr(Dictionary::New()); });
    EXPECT_TRUE(Registry::Instance().IsRegistered("test.added"));
  }
  EXPECT_FALSE(Registry::Instance().IsRegistered("Test.Added"));
}

TEST(Registry, CreatesFromManyThreadsWhileFakesComeAndGo) {
  std::atomic<bool> stop{false};
  std::atomic<int> failures{0};
  std::thread creator([&] {
    while (!stop) {
      if (!CreateObject("Scripting.Dictionary")) ++failures;
    }
  });
  for (int i = 0; i < 200; ++i) {
    ScopedRegistration fake("Test.Churn" + std::to_string(i % 3), [] { return ObjectPtr(Dictionary::New()); });
  }
  stop = true;
  creator.join();
  EXPECT_EQ(failures, 0);
}

TEST(ObjectContext, ActivitiesNestPerThread) {
  EXPECT_EQ(GetObjectContext(), nullptr);
  auto application = Dictionary::New();
  application->Add("I18NMessageManager", Variant("manager"));
  {
    Activity outer(application);
    ASSERT_EQ(GetObjectContext(), &outer.context());
    Variant app = GetObjectContext()->Item("Application");
    ASSERT_TRUE(app.IsObject());
    EXPECT_EQ(app.As<Dictionary>(), application);
    EXPECT_EQ(GetProperty(app.ToObject(), "Item", {Variant("I18NMessageManager")}).ToString(), "manager");
    EXPECT_TRUE(GetObjectContext()->Item("Session").IsEmpty());

    EXPECT_EQ(GetObjectContext()->CreateInstance("Scripting.Dictionary")->TypeName(), "Dictionary");
    EXPECT_EQ(ErrorOf([] { GetObjectContext()->CreateInstance("No.Such"); }).number(),
              err::kCannotCreateObject);
    EXPECT_EQ(outer.context().created_count(), 1);
    {
      Activity inner;
      EXPECT_EQ(GetObjectContext(), &inner.context());
      EXPECT_NE(GetObjectContext()->application(), application);
      GetObjectContext()->CreateInstance("StrCat.Catter");
      EXPECT_EQ(inner.context().created_count(), 1);
      ObjectContext* seen_elsewhere = &inner.context();
      std::thread([&] { seen_elsewhere = GetObjectContext(); }).join();
      EXPECT_EQ(seen_elsewhere, nullptr);
    }
    EXPECT_EQ(GetObjectContext(), &outer.context());
    EXPECT_EQ(outer.context().created_count(), 1);
  }
  EXPECT_EQ(GetObjectContext(), nullptr);
}

class InstanceHomeTest : public testing::Test {
 protected:
  void SetUp() override {
    if (InstanceHome::IsSet()) saved_ = InstanceHome::Get();
  }
  void TearDown() override {
    if (saved_.empty()) InstanceHome::Clear(); else InstanceHome::Set(saved_);
  }
  std::filesystem::path saved_;
};

TEST_F(InstanceHomeTest, ResolvesConfiguredPathsAgainstTheHome) {
  InstanceHome::Set("/srv/shop/");
  EXPECT_EQ(InstanceHome::Get(), std::filesystem::path("/srv/shop"));
  EXPECT_EQ(ResolveInstancePath("config\\VendraConfiguration.xml"),
            std::filesystem::path("/srv/shop/config/VendraConfiguration.xml"));
  EXPECT_EQ(ResolveInstancePath("mail/pickup"), std::filesystem::path("/srv/shop/mail/pickup"));
  EXPECT_EQ(ResolveInstancePath("/var/exchange"), std::filesystem::path("/var/exchange"));
  EXPECT_EQ(ResolveInstancePath("\\var\\exchange\\"), std::filesystem::path("/var/exchange/"));
  InstanceHome::Set("relative-home");
  EXPECT_TRUE(InstanceHome::Get().is_absolute());
}

TEST_F(InstanceHomeTest, RaisesWhenNoHomeIsSet) {
  InstanceHome::Clear();
  EXPECT_FALSE(InstanceHome::IsSet());
  ComError e = ErrorOf([] { InstanceHome::Get(); });
  EXPECT_EQ(e.number(), err::kInvalidProcedureCall);
  EXPECT_EQ(e.description(), "No instance home is set: use --home or VENDRA_HOME");
  EXPECT_EQ(ErrorOf([] { ResolveInstancePath("config"); }).number(), err::kInvalidProcedureCall);
}

TEST(Clock, FixedForEveryThreadUntilReset) {
  Date moment = Date::FromParts(2026, 12, 8, 14, 30, 15);
  {
    ScopedFixedClock fixed(moment);
    EXPECT_EQ(Clock::Now(), moment);
    EXPECT_EQ(Clock::Today(), Date::FromParts(2026, 12, 8));
    Date seen;
    std::thread([&] { seen = Clock::Now(); }).join();
    EXPECT_EQ(seen, moment);
  }
  Date now = Clock::Now();
  EXPECT_NE(now, moment);
  EXPECT_GE(now.year(), 2024);
  EXPECT_EQ(Date::FromParts(now.year(), now.month(), now.day(), now.hour(), now.minute(),
                            now.second()),
            now);  // to the second
  EXPECT_FALSE(Clock::Today().HasTime());
}

TEST(Guid, RandomVersionFour) {
  std::set<std::tuple<uint32_t, uint16_t, uint16_t, std::array<uint8_t, 8>>> seen;
  for (int i = 0; i < 100; ++i) {
    std::optional<Guid> g = NewGuid();
    ASSERT_TRUE(g.has_value());
    EXPECT_EQ(g->data3 & 0xF000, 0x4000);
    EXPECT_EQ(g->data4[0] & 0xC0, 0x80);
    seen.insert({g->data1, g->data2, g->data3, g->data4});
  }
  EXPECT_EQ(seen.size(), 100u);
}

}  // namespace
}  // namespace platform
