// Vendra.SalesParameter: the section table, the configuration directory it
// reads from and how each configuration failure is told to the caller.
#include "sales/admin/sales_parameter.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/core/com_error.h"
#include "platform/core/dictionary.h"
#include "platform/host/registry.h"
#include "platform/services/log.h"
#include "shared/error_handling.h"
#include "tests/support/test_instance.h"
#include "tests/support/failure.h"

namespace {

using platform::ComError;
using platform::Variant;
using vendra::SalesParameter;

constexpr std::string_view kMethod = "Vendra.SalesParameter.GetParameterValue(): ";

std::string Read(const std::filesystem::path& file) {
  std::ifstream in(file);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void Replace(const std::filesystem::path& file, const std::string& from, const std::string& to) {
  std::string text = Read(file);
  const auto at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  text.replace(at, from.size(), to);
  std::ofstream(file, std::ios::trunc) << text;
}

using vendra_test::Failure;

std::string MethodLine(const ComError& e) {
  const std::string& d = e.description();
  const auto at = d.find(" METHOD: ");
  return at == std::string::npos ? "" : d.substr(at + 9, d.find("\r\n", at) - at - 9);
}

class SalesParameterTest : public vendra_test::InstanceTest {
 protected:
  std::filesystem::path file() const { return config_dir() / "VendraConfiguration.xml"; }
  std::string Get(std::string name) { return SalesParameter().GetParameterValue(name); }
};

TEST_F(SalesParameterTest, NamesAreTrimmedForTheTableButNotForTheStore) {
  EXPECT_EQ(Get(" EnableFreight "), "1");
  EXPECT_EQ(Get("Freight Unit-code"), "PCS");
  // Not a sales parameter: nothing is raised and nothing logged.
  EXPECT_EQ(Get("enablefreight"), "");
  EXPECT_EQ(Get(""), "");
  EXPECT_TRUE(platform::ReadLogEntries().empty());
}

TEST_F(SalesParameterTest, AParameterMissingFromTheFileIsReportedAndLogged) {
  Replace(file(), "<item key=\"Logo\">logo.gif</item>", "");
  const ComError e = Failure([&] { Get(" Logo"); });
  EXPECT_EQ(e.number(), static_cast<int32_t>(0x8004000Fu));
  EXPECT_EQ(e.source(), "Orvanta.Configuration");
  EXPECT_EQ(MethodLine(e),
            "Vendra.SalesParameter.GetParameterValue(): Parameter 'Logo' is not found in "
            "configuration file ..\\config\\VendraConfiguration.xml");
  const auto entries = platform::ReadLogEntries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].source, "Orvanta.Configuration");
  EXPECT_EQ(entries[0].level, 0);
}

TEST_F(SalesParameterTest, FileProblemsReachTheCallerWithTheirNumbers) {
  Replace(file(), "<item key=\"Expiration Period\">", "<item key=\"Expiration Period\" type=\"long\">x");
  const ComError typed = Failure([&] { Get("Expiration Period"); });
  EXPECT_EQ(typed.number(), static_cast<int32_t>(0x80040014u));
  EXPECT_EQ(MethodLine(typed), std::string(kMethod) +
                                   "Type of parameter 'Expiration Period' is not valid OR The "
                                   "datatype of the new value is not equal to the type of the item");

  std::filesystem::remove(file());
  std::filesystem::create_directory(file());  // unreadable, whoever runs the test
  const ComError denied = Failure([&] { Get("EnableFreight"); });
  EXPECT_EQ(denied.number(), platform::err::kPermissionDenied);
  EXPECT_EQ(MethodLine(denied), std::string(kMethod) +
                                    "Access denied for configuration file "
                                    "config\\VendraConfiguration.xml");
  // Even a name outside the table needs the file.
  EXPECT_EQ(Failure([&] { Get("enablefreight"); }).number(), platform::err::kPermissionDenied);
}

TEST_F(SalesParameterTest, LateBoundCallWritesTheNameBack) {
  platform::ObjectPtr p = platform::CreateObject("Vendra.SalesParameter");
  std::vector<Variant> args{Variant(" QuotationImplemented ")};
  EXPECT_EQ(platform::CallRef(p, "GetParameterValue", args), Variant("1"));
  EXPECT_EQ(args[0], Variant(" QuotationImplemented "));
}

// A configuration store that records what it is asked and fails on demand.
struct StoreScript {
  std::vector<std::string> loaded;
  std::vector<std::pair<std::string, std::string>> asked;
  std::optional<ComError> failure;
};

class ScriptedConfiguration : public platform::Dispatchable<ScriptedConfiguration> {
 public:
  static const platform::ClassBinding<ScriptedConfiguration>& Binding() {
    static const auto b = platform::ClassBinding<ScriptedConfiguration>("Configuration")
                              .Method("GetWebInfo", &ScriptedConfiguration::GetWebInfo)
                              .Method("LoadConfigFile", &ScriptedConfiguration::LoadConfigFile)
                              .Method("GetValue", &ScriptedConfiguration::GetValue);
    return b;
  }
  std::shared_ptr<platform::Dictionary> GetWebInfo(const std::string&) {
    auto records = platform::Dictionary::New();
    for (const char* dir : {"D:\\first", "D:\\last"}) {
      auto record = platform::Dictionary::New();
      record->Add("ConfigDir", Variant(dir));
      records->Add(dir, Variant(record));
    }
    return records;
  }
  void LoadConfigFile(const std::string& path) { script->loaded.push_back(path); }
  Variant GetValue(const std::string& section, const std::string& key) {
    script->asked.emplace_back(section, key);
    if (script->failure) throw *script->failure;
    return Variant(true);
  }
  std::shared_ptr<StoreScript> script;
};

class SalesParameterStoreTest : public ::testing::Test {
 protected:
  std::shared_ptr<StoreScript> script_ = std::make_shared<StoreScript>();
  platform::ScopedRegistration store_{"Orvanta.Configuration", [script = script_] {
                                        auto c = std::make_shared<ScriptedConfiguration>();
                                        c->script = script;
                                        return platform::ObjectPtr(c);
                                      }};
  vendra_test::ScopedRecordingLog log_;
};

TEST_F(SalesParameterStoreTest, ReadsTheLastRecordsFileOnEveryCallWithTheNameAsGiven) {
  std::string name = "  Send Notification ";
  EXPECT_EQ(SalesParameter().GetParameterValue(name), "True") << "values come back as text";
  name = "Ship-from Zone";
  SalesParameter().GetParameterValue(name);
  ASSERT_EQ(script_->loaded.size(), 2u);
  EXPECT_EQ(script_->loaded[0], "D:\\last\\VendraConfiguration.xml");
  ASSERT_EQ(script_->asked.size(), 2u);
  EXPECT_EQ(script_->asked[0],
            std::make_pair(std::string("QUOTATION_PARAMETERS"), std::string("  Send Notification ")));
  EXPECT_EQ(script_->asked[1].first, "FREIGHT_PARAMETERS");
  for (const auto& p : SalesParameter::Names()) {
    std::string n(p.name);
    SalesParameter().GetParameterValue(n);
    EXPECT_EQ(script_->asked.back().first, p.section) << p.name;
  }
  EXPECT_TRUE(log_.entries().empty());
}

TEST_F(SalesParameterStoreTest, EachFailureNumberHasItsMessage) {
  const struct {
    int32_t number;
    std::string message;
  } cases[] = {
      {70, "Access denied for configuration file D:\\last\\VendraConfiguration.xml"},
      {static_cast<int32_t>(0x8004000Fu),
       "Parameter 'InvoiceText' is not found in configuration file "
       "..\\config\\VendraConfiguration.xml"},
      {static_cast<int32_t>(0x80040013u), "Configuration store not loaded"},
      {static_cast<int32_t>(0x80040014u),
       "Type of parameter 'InvoiceText' is not valid OR The datatype of the new value is not "
       "equal to the type of the item"},
      {5, "Unknown error the store broke"},
  };
  for (const auto& c : cases) {
    script_->failure = ComError(c.number, "Orvanta.Configuration", "the store broke");
    log_.clear();
    const ComError e = Failure([&] {
      std::string name = " InvoiceText";
      SalesParameter().GetParameterValue(name);
    });
    EXPECT_EQ(e.number(), c.number);
    EXPECT_EQ(e.source(), "Orvanta.Configuration");
    EXPECT_EQ(e.description(), lib_sales::FormatErrorText("the store broke", c.number,
                                                          std::string(kMethod) + c.message));
    EXPECT_EQ(log_.entries().size(), 1u);
  }
}

}  // namespace
