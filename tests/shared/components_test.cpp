// Component creation inside and outside an activity, the per-thread caches of
// the shared runtime and new record identifiers.
#include "shared/components.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>

#include "platform/core/com_error.h"
#include "platform/core/dictionary.h"
#include "platform/host/context.h"
#include "platform/host/registry.h"
#include "shared/error_handling.h"
#include "tests/support/test_instance.h"
#include "tests/support/failure.h"

namespace {

using platform::ComError;
using platform::Variant;

using vendra_test::Failure;

// What the fake configuration store was asked.
struct ConfigurationCalls {
  int created = 0;
  int web_info = 0;
  int connection_string = 0;
  std::vector<std::string> loaded;
  bool fail_connection_string = false;
};

class FakeConfiguration : public platform::Dispatchable<FakeConfiguration> {
 public:
  static const platform::ClassBinding<FakeConfiguration>& Binding() {
    static const auto b = platform::ClassBinding<FakeConfiguration>("Configuration")
                              .Method("GetWebInfo", &FakeConfiguration::GetWebInfo)
                              .Method("LoadConfigFile", &FakeConfiguration::LoadConfigFile)
                              .Method("GetConnectionString",
                                      &FakeConfiguration::GetConnectionString);
    return b;
  }
  std::shared_ptr<platform::Dictionary> GetWebInfo(const std::string& application) {
    ++calls->web_info;
    auto records = platform::Dictionary::New();
    for (const char* dir : {"C:\\first", "C:\\second"}) {
      auto record = platform::Dictionary::New();
      record->Add("ConfigDir", Variant(dir));
      records->Add(std::string("site of ") + dir, Variant(record));
    }
    return records;
  }
  void LoadConfigFile(const std::string& path) { calls->loaded.push_back(path); }
  std::string GetConnectionString(const std::string& application) {
    ++calls->connection_string;
    if (calls->fail_connection_string)
      platform::Raise(static_cast<int32_t>(0x8004000Fu), "Orvanta.Configuration", "no string");
    return "Provider=Fake;Application=" + application;
  }
  std::shared_ptr<ConfigurationCalls> calls;
};

class ComponentsTest : public ::testing::Test {
 protected:
  void SetUp() override { lib_sales::ResetThreadCaches(); }
  void TearDown() override { lib_sales::ResetThreadCaches(); }

  std::shared_ptr<ConfigurationCalls> calls_ = std::make_shared<ConfigurationCalls>();
  platform::ScopedRegistration configuration_{"Orvanta.Configuration", [calls = calls_] {
                                                ++calls->created;
                                                auto c = std::make_shared<FakeConfiguration>();
                                                c->calls = calls;
                                                return platform::ObjectPtr(c);
                                              }};
  vendra_test::ScopedRecordingLog log_;
};

TEST_F(ComponentsTest, GetComponentOutsideAnActivity) {
  EXPECT_EQ(lib_sales::Sls_GetComponent("Scripting.Dictionary")->TypeName(), "Dictionary");
  const ComError e = Failure([] { lib_sales::Sls_GetComponent("Nowhere.Thing"); });
  EXPECT_EQ(e.number(), platform::err::kCannotCreateObject);
  EXPECT_EQ(e.description().find("\r\nERROR 0x1AD\r\n METHOD: Lib_Sales.Sls_GetComponent\r\n"), 0u);
  EXPECT_NE(e.description().find("\r\n INFO: CreateObject(Nowhere.Thing) failed.\r\n"),
            std::string::npos);
  EXPECT_EQ(log_.entries().size(), 1u);
}

TEST_F(ComponentsTest, GetComponentInsideAnActivityJoinsIt) {
  platform::Activity activity;
  lib_sales::Sls_GetComponent("Scripting.Dictionary");
  EXPECT_EQ(activity.context().created_count(), 1);
  const ComError e = Failure([] { lib_sales::Sls_GetComponent("Nowhere.Thing"); });
  EXPECT_NE(e.description().find(
                "\r\n INFO: CreateInstance(Nowhere.Thing) failed.\r\n"
                "Note: Objects having 'Instancing=PublicNotCreatable' may only be instantiated "
                "with 'New', not with Sls_GetComponent().\r\n"),
            std::string::npos)
      << e.description();
}

TEST_F(ComponentsTest, ConnectionStringIsReadOncePerThreadFromTheFirstRecord) {
  EXPECT_EQ(lib_sales::Sls_ConnectionString(), "Provider=Fake;Application=Vendra");
  ASSERT_EQ(calls_->loaded.size(), 1u);
  EXPECT_EQ(calls_->loaded[0], "C:\\first\\VendraConfiguration.xml");

  EXPECT_EQ(lib_sales::Sls_ConnectionString(), "Provider=Fake;Application=Vendra");
  EXPECT_EQ(calls_->created, 1) << "the second call must not touch the configuration";
  EXPECT_EQ(calls_->web_info, 1);
  EXPECT_EQ(calls_->connection_string, 1);

  // Another worker thread keeps its own copy.
  std::thread([] { lib_sales::Sls_ConnectionString(); }).join();
  EXPECT_EQ(calls_->created, 2);

  lib_sales::ResetThreadCaches();
  lib_sales::Sls_ConnectionString();
  EXPECT_EQ(calls_->created, 3);
}

TEST_F(ComponentsTest, AFailedConnectionStringLookupIsTriedAgain) {
  calls_->fail_connection_string = true;
  const ComError e = Failure([] { lib_sales::Sls_ConnectionString(); });
  EXPECT_EQ(e.number(), static_cast<int32_t>(0x8004000Fu));
  EXPECT_EQ(e.source(), "Orvanta.Configuration");
  EXPECT_EQ(e.description(),
            lib_sales::FormatErrorText("no string", e.number(),
                                       "Vendra.Lib_Sales.Sls_ConnectionString"));
  EXPECT_EQ(log_.entries().size(), 1u);

  calls_->fail_connection_string = false;
  EXPECT_EQ(lib_sales::Sls_ConnectionString(), "Provider=Fake;Application=Vendra");
  EXPECT_EQ(calls_->created, 2);
}

TEST_F(ComponentsTest, DataFunctionsAreCreatedOncePerThread) {
  int created = 0;
  platform::ScopedRegistration fake("Wrenlow.DataFunctions", [&created] {
    ++created;
    return platform::ObjectPtr(platform::Dictionary::New());
  });
  const platform::ObjectPtr first = lib_sales::Sls_DataFunctions();
  EXPECT_EQ(lib_sales::Sls_DataFunctions(), first);
  EXPECT_EQ(created, 1);
  lib_sales::ResetThreadCaches();
  EXPECT_NE(lib_sales::Sls_DataFunctions(), first);
  EXPECT_EQ(created, 2);
}

TEST(NewGuidStringTest, ThirtyTwoUpperCaseHexDigitsInFieldOrder) {
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    const std::string id = lib_sales::NewGuidString();
    ASSERT_EQ(id.size(), 32u) << id;
    ASSERT_EQ(id.find_first_not_of("0123456789ABCDEF"), std::string::npos) << id;
    // A random GUID's third field starts with its version, 4.
    EXPECT_EQ(id[12], '4') << id;
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 200u);
}

}  // namespace
