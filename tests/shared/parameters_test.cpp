// Sales parameters as every object reads them, over a fresh demo instance.
#include "shared/parameters.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "platform/core/com_error.h"
#include "platform/core/dictionary.h"
#include "sales/admin/sales_parameter.h"
#include "shared/error_handling.h"
#include "tests/support/test_instance.h"

namespace {

using platform::ComError;
using platform::Variant;

// Takes the item out of VendraConfiguration.xml, as an administrator might.
void RemoveItem(const std::filesystem::path& file, const std::string& key) {
  std::ifstream in(file);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string open = "<item key=\"" + key + "\">";
  const auto at = text.find(open);
  ASSERT_NE(at, std::string::npos);
  const auto end = text.find("</item>", at);
  text.erase(at, end + 7 - at);
  std::ofstream(file, std::ios::trunc) << text;
}

class ParametersTest : public vendra_test::InstanceTest {};

TEST_F(ParametersTest, EveryParameterHasADefaultInANewInstance) {
  for (const auto& p : vendra::SalesParameter::Names()) {
    const std::string name(p.name);
    EXPECT_NO_THROW(lib_sales::Sls_GetParameterValue(name)) << name;
  }
  EXPECT_EQ(lib_sales::Sls_GetParameterValue("EnableFreight"), "1");
  EXPECT_EQ(lib_sales::Sls_GetParameterValue("Expiration Period"), "30");
  EXPECT_EQ(lib_sales::Sls_GetParameterValue("HomeOrganisation"), "1000");
  EXPECT_EQ(lib_sales::Sls_GetParameterValue("No Such Parameter"), "");
}

TEST_F(ParametersTest, AFailureIsReRaisedNamingTheParameter) {
  RemoveItem(config_dir() / "VendraConfiguration.xml", "Logo");
  vendra_test::ScopedRecordingLog log;
  try {
    lib_sales::Sls_GetParameterValue("Logo");
    FAIL() << "expected a failure";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), static_cast<int32_t>(0x8004000Fu));
    EXPECT_EQ(e.source(), "Orvanta.Configuration");
    const std::string& d = e.description();
    EXPECT_EQ(d.find("\r\nERROR 0x8004000F\r\n METHOD: Vendra.Lib_Sales.Sls_GetParameterValue\r\n"
                     " DESC: \r\nERROR 0x8004000F\r\n METHOD: Vendra.SalesParameter."
                     "GetParameterValue(): Parameter 'Logo' is not found in configuration file "
                     "..\\config\\VendraConfiguration.xml\r\n"),
              0u)
        << d;
    EXPECT_TRUE(d.ends_with(".\r\n INFO: Failed to retrieve parameter: Logo.\r\n")) << d;
  }
  // One entry per level the failure passed through.
  EXPECT_EQ(log.entries().size(), 2u);
}

TEST(WebInfoConfigDirsTest, RecordsInEnumerationOrder) {
  auto records = platform::Dictionary::New();
  for (const char* key : {"b", "a", " "}) {
    auto record = platform::Dictionary::New();
    if (*key != ' ') record->Add("ConfigDir", Variant(std::string("dir-") + key));
    records->Add(key, Variant(record));
  }
  const auto dirs = lib_sales::WebInfoConfigDirs(Variant(records));
  ASSERT_EQ(dirs.size(), 3u);
  EXPECT_EQ(dirs[0], std::make_pair(std::string("b"), std::string("dir-b")));
  EXPECT_EQ(dirs[1].second, "dir-a");
  EXPECT_EQ(dirs[2].second, "");
  EXPECT_THROW(lib_sales::WebInfoConfigDirs(Variant("not records")), ComError);
}

}  // namespace
