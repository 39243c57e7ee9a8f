// Syntaro.Configurator against the demo configurations of SKU 7:
// CFG7-COMPLETE (four options, 4850 EUR, priced by the configurator) and
// CFG7-INCOMPLETE (two options). Descriptions are read the way the quotation
// document and the back-end order read them: split at "VOP", the first piece
// ignored, fields 4 to 7 of each later piece.
#include "platform/services/configurator.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/core/com_error.h"
#include "platform/data/connection.h"
#include "platform/data/fault_injection.h"
#include "platform/data/recordset.h"
#include "tests/support/test_instance.h"

namespace {

using platform::ComError;
using platform::Variant;
namespace configurator_err = platform::configurator_err;

constexpr char kSyntaro[] = "Provider=SQLite;Data Source=data;Initial Catalog=Syntaro";

std::vector<std::string> Split(const std::string& text, const std::string& separator) {
  std::vector<std::string> parts;
  size_t from = 0;
  for (size_t at; (at = text.find(separator, from)) != std::string::npos; from = at + separator.size())
    parts.push_back(text.substr(from, at - from));
  parts.push_back(text.substr(from));
  return parts;
}

int32_t FailureNumber(const std::function<void()>& call) {
  try {
    call();
  } catch (const ComError& e) {
    return e.number();
  }
  ADD_FAILURE() << "expected a failure";
  return 0;
}

class ConfiguratorTest : public vendra_test::InstanceTest {
 protected:
  Variant One(const std::string& sql, std::initializer_list<Variant> params = {}) {
    auto db = std::make_shared<platform::data::Connection>();
    db->Open(kSyntaro);
    auto rs = db->Execute(sql, params);
    Variant v = rs->Eof() ? Variant() : rs->fields()[0].Value();
    db->Close();
    return v;
  }
  int32_t Count(const std::string& table) { return One("SELECT COUNT(*) FROM " + table).ToLong(); }

  platform::ConfigurationService service_;
};

TEST_F(ConfiguratorTest, AnswersStateAndPriceOfTheDemoConfigurations) {
  EXPECT_TRUE(service_.IsConfigurationComplete("CFG7-COMPLETE"));
  EXPECT_FALSE(service_.IsConfigurationComplete("cfg7-incomplete "));  // case and padding
  EXPECT_EQ(service_.GetConfigurationPricingCode("CFG7-COMPLETE"), 0);
  EXPECT_EQ(Variant(service_.GetConfigurationPrice("CFG7-COMPLETE")).ToString(), "4850");
  EXPECT_EQ(service_.GetConfigurationCurrency("CFG7-COMPLETE"), "EUR");

  for (auto call : std::vector<std::function<void()>>{
           [&] { service_.IsConfigurationComplete("NOPE"); },
           [&] { service_.GetConfigurationPricingCode(""); },
           [&] { service_.GetConfigurationPrice("NOPE"); },
           [&] { service_.GetConfigurationCurrency("NOPE"); },
           [&] { service_.GetConfigurationDescription("NOPE", Variant(), Variant()); }})
    EXPECT_EQ(FailureNumber(call), configurator_err::kConfigurationNotFound);
}

TEST_F(ConfiguratorTest, DescriptionSplitsIntoTheOptionsInSequence) {
  const std::string text =
      service_.GetConfigurationDescription("CFG7-COMPLETE", Variant("Q1"), Variant(int32_t{3}));
  const auto pieces = Split(text, "VOP");
  ASSERT_EQ(pieces.size(), 5u) << text;
  const std::vector<std::vector<std::string>> expected = {
      {"MOTOR", "10", "Electric motor", "7.5 kW 400 V 50 Hz"},
      {"PUMP", "20", "Pump", "Gear pump 200 bar"},
      {"TANK", "30", "Oil tank", "60 l steel"},
      {"VALVE", "40", "Control valve", "Directional valve 4/3"}};
  for (size_t i = 0; i < expected.size(); ++i) {
    const auto fields = Split(pieces[i + 1], ",");
    ASSERT_EQ(fields.size(), 8u) << pieces[i + 1];
    EXPECT_EQ(fields[0], "CFG7-COMPLETE");
    EXPECT_EQ(fields[1], "Q1");
    EXPECT_EQ(fields[2], "3");
    EXPECT_EQ(fields[3], "7");
    EXPECT_EQ(std::vector<std::string>(fields.begin() + 4, fields.end()), expected[i]);
  }
  // No order given: the fields stay, empty.
  const auto bare = Split(Split(service_.GetConfigurationDescription("CFG7-INCOMPLETE", Variant::Null(),
                                                                     Variant()),
                                "VOP")[1],
                          ",");
  ASSERT_EQ(bare.size(), 8u);
  EXPECT_EQ(bare[1], "");
  EXPECT_EQ(bare[4], "MOTOR");
}

TEST_F(ConfiguratorTest, SeparatorsCannotReachADescription) {
  // An echoed id holding a separator would shift every later field.
  EXPECT_EQ(FailureNumber([&] {
              service_.GetConfigurationDescription("CFG7-COMPLETE", Variant("A,B"), Variant());
            }),
            platform::err::kInvalidProcedureCall);
  EXPECT_EQ(FailureNumber([&] {
              service_.GetConfigurationDescription("CFG7-COMPLETE", Variant(), Variant("DEVOPS"));
            }),
            platform::err::kInvalidProcedureCall);
  // And the store refuses such texts.
  auto db = std::make_shared<platform::data::Connection>();
  db->Open(kSyntaro);
  EXPECT_THROW(db->Execute("INSERT INTO CONFIGURATIONOPTION VALUES ('CFG7-COMPLETE', 50, 'X', "
                           "'Seal, extra', 'NBR')"),
               ComError);
  EXPECT_THROW(db->Execute("INSERT INTO CONFIGURATIONOPTION VALUES ('CFG7-COMPLETE', 50, 'X', "
                           "'Seal', 'VOP')"),
               ComError);
  db->Close();
}

TEST_F(ConfiguratorTest, CopyStoresAnEqualConfigurationUnderANewId) {
  const std::string copy = service_.CopyConfiguration(" CFG7-COMPLETE", "7", "de", "DE");
  ASSERT_EQ(copy.size(), 32u);
  EXPECT_EQ(copy.find_first_not_of("0123456789ABCDEF"), std::string::npos);
  EXPECT_TRUE(service_.IsConfigurationComplete(copy));
  EXPECT_EQ(service_.GetConfigurationPrice(copy), service_.GetConfigurationPrice("CFG7-COMPLETE"));
  EXPECT_EQ(One("SELECT LANGUAGE || COUNTRYCODE || COPIEDFROM FROM CONFIGURATION "
                "WHERE CONFIGURATIONID = ?",
                {Variant(copy)})
                .ToString(),
            "deDECFG7-COMPLETE");
  // The same options, apart from the id.
  auto options = [&](const std::string& id) {
    auto pieces = Split(service_.GetConfigurationDescription(id, Variant(), Variant()), "VOP");
    for (auto& p : pieces) p = p.substr(p.find(','));
    return std::vector<std::string>(pieces.begin() + 1, pieces.end());
  };
  EXPECT_EQ(options(copy), options("CFG7-COMPLETE"));
  // A second copy is another configuration.
  EXPECT_NE(service_.CopyConfiguration(copy, "7", "", ""), copy);
  EXPECT_EQ(Count("CONFIGURATION"), 4);
}

TEST_F(ConfiguratorTest, CopyOfAnUnknownIdOrForAnotherProductStoresNothing) {
  EXPECT_EQ(FailureNumber([&] { service_.CopyConfiguration("NOPE", "7", "en", "NO"); }),
            configurator_err::kConfigurationNotFound);
  EXPECT_EQ(FailureNumber([&] { service_.CopyConfiguration("CFG7-COMPLETE", "8", "en", "NO"); }),
            configurator_err::kWrongProduct);
  EXPECT_EQ(FailureNumber([&] { service_.CopyConfiguration("CFG7-COMPLETE", "seven", "en", "NO"); }),
            platform::err::kTypeMismatch);
  EXPECT_EQ(Count("CONFIGURATION"), 2);
  EXPECT_EQ(Count("CONFIGURATIONOPTION"), 6);
  // A copy that fails at any of its statements leaves no half configuration.
  int failures = 0;
  for (int32_t n = 1;; ++n) {
    platform::data::ScopedFault fault(n);
    try {
      service_.CopyConfiguration("CFG7-COMPLETE", "7", "en", "NO");
      break;
    } catch (const ComError&) {
      ++failures;
    }
    ASSERT_EQ(Count("CONFIGURATION"), 2) << "statement " << n;
    ASSERT_EQ(Count("CONFIGURATIONOPTION"), 6) << "statement " << n;
  }
  EXPECT_GE(failures, 3);
}

}  // namespace
