// The configuration store over platform.xml and the configuration files, and
// the files a new instance starts with.
#include "platform/services/configuration.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "apps/instance/instance_setup.h"
#include "platform/core/com_error.h"
#include "platform/core/object.h"
#include "platform/host/instance.h"
#include "platform/host/registry.h"
#include "tests/support/test_instance.h"
#include "tests/support/failure.h"

namespace {

using platform::ComError;
using platform::Configuration;
using platform::Variant;
namespace config_error = platform::config_error;

void Write(const std::filesystem::path& file, const std::string& text) {
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << text;
}

using vendra_test::Failure;

class ConfigurationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::InstanceHome::Set(dir_.path());
    Write(dir_.path() / "platform.xml", R"(<?xml version="1.0"?>
<platform version="1">
  <site application="Vendra"/>
  <webapplications>
    <webapplication name="Vendra" site="Default Web Site" virtualdirectory="shop" configdir="config"/>
    <webapplication name="Other" site="Default Web Site" configdir="other"/>
    <webapplication name="VENDRA" site="Second Site" virtualdirectory="b2b" configdir="config2"/>
  </webapplications>
</platform>)");
    Write(dir_.path() / "config2" / "VendraConfiguration.xml", R"(<configuration>
  <connectionstrings><connectionstring application="Vendra"> Provider=SQLite;Data Source=data;Initial Catalog=Vendra </connectionstring></connectionstrings>
  <section name="GENERAL_PARAMETERS">
    <item key="EnableFreight">1</item>
    <item key="  Padded  ">kept  </item>
    <item key="Empty"></item>
    <item key="Period" type="long">30</item>
    <item key="Small" type="integer">7</item>
    <item key="Rate" type="double">2.5</item>
    <item key="Switch" type="boolean">True</item>
    <item key="Since" type="date">2026-01-31</item>
    <item key="BadLong" type="long">thirty</item>
    <item key="BadFlag" type="boolean">maybe</item>
    <item key="BadDate" type="date">31/01/2026</item>
    <item key="Strange" type="colour">red</item>
  </section>
</configuration>)");
    Write(dir_.path() / "config2" / "siteconfiguration.xml", R"(<configuration>
  <section name="COMMONPARAMETERS"><item key="SSLMODE">none</item></section>
</configuration>)");
  }
  vendra_test::TemporaryDirectory dir_;
};

TEST_F(ConfigurationTest, WebInfoListsTheApplicationsRecordsInOrder) {
  Configuration c;
  const auto records = c.GetWebInfo("vendra");
  ASSERT_EQ(records->Count(), 2);
  const auto& entries = records->entries();
  EXPECT_EQ(entries[0].first, "Default Web Site");
  EXPECT_EQ(entries[1].first, "Second Site");
  const auto first = entries[0].second.As<platform::Dictionary>();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->Item("ConfigDir").ToString(), "config");
  EXPECT_EQ(first->Item("VirtualDirectory").ToString(), "shop");
  EXPECT_EQ(entries[1].second.As<platform::Dictionary>()->Item("ConfigDir").ToString(), "config2");
  EXPECT_EQ(c.GetWebInfo("Nobody")->Count(), 0);
}

TEST_F(ConfigurationTest, ValuesOfALoadedFileByTypeAttribute) {
  Configuration c;
  c.LoadConfigFile("config2\\VendraConfiguration.xml");  // the callers' separators
  EXPECT_EQ(c.GetValue("GENERAL_PARAMETERS", "EnableFreight"), Variant("1"));
  EXPECT_EQ(c.GetValue("GENERAL_PARAMETERS", "Empty"), Variant(""));
  EXPECT_EQ(c.GetValue("GENERAL_PARAMETERS", "Period"), Variant(int32_t{30}));
  EXPECT_EQ(c.GetValue("GENERAL_PARAMETERS", "Small"), Variant(int16_t{7}));
  EXPECT_EQ(c.GetValue("GENERAL_PARAMETERS", "Rate"), Variant(2.5));
  EXPECT_EQ(c.GetValue("GENERAL_PARAMETERS", "Switch"), Variant(true));
  EXPECT_EQ(c.GetValue("GENERAL_PARAMETERS", "Since"),
            Variant(platform::Date::FromParts(2026, 1, 31)));
  // Keys and sections match without their surrounding blanks, either side;
  // the value keeps its own.
  EXPECT_EQ(c.GetValue(" GENERAL_PARAMETERS", " EnableFreight "), Variant("1"));
  EXPECT_EQ(c.GetValue("GENERAL_PARAMETERS", "Padded"), Variant("kept  "));
  EXPECT_EQ(c.GetConnectionString("Vendra"),
            "Provider=SQLite;Data Source=data;Initial Catalog=Vendra");
}

TEST_F(ConfigurationTest, LookupFailuresHaveTheirOwnNumbers) {
  Configuration c;
  EXPECT_EQ(Failure([&] { c.GetValue("GENERAL_PARAMETERS", "EnableFreight"); }).number(),
            config_error::kStoreNotLoaded);
  c.LoadConfigFile("config2/VendraConfiguration.xml");
  const ComError missing = Failure([&] { c.GetValue("GENERAL_PARAMETERS", "Logo"); });
  EXPECT_EQ(missing.number(), config_error::kKeyNotFound);
  EXPECT_EQ(missing.source(), "Orvanta.Configuration");
  EXPECT_NE(missing.description().find("'Logo'"), std::string::npos);
  EXPECT_EQ(Failure([&] { c.GetValue("NO_SUCH_SECTION", "EnableFreight"); }).number(),
            config_error::kKeyNotFound);
  // Keys are exact apart from the blanks.
  EXPECT_EQ(Failure([&] { c.GetValue("GENERAL_PARAMETERS", "enablefreight"); }).number(),
            config_error::kKeyNotFound);
  for (const char* key : {"BadLong", "BadFlag", "BadDate", "Strange"}) {
    EXPECT_EQ(Failure([&] { c.GetValue("GENERAL_PARAMETERS", key); }).number(),
              config_error::kInvalidType)
        << key;
  }
  EXPECT_EQ(Failure([&] { c.GetConnectionString("Other"); }).number(),
            config_error::kKeyNotFound);
}

TEST_F(ConfigurationTest, UnreadableFilesArePermissionDeniedAndKeepTheLoadedOne) {
  Configuration c;
  c.LoadConfigFile("config2\\VendraConfiguration.xml");
  const ComError absent = Failure([&] { c.LoadConfigFile("config\\VendraConfiguration.xml"); });
  EXPECT_EQ(absent.number(), platform::err::kPermissionDenied);
  EXPECT_NE(absent.description().find("does not exist"), std::string::npos);
  // A directory in place of the file cannot be read, whoever runs the test.
  std::filesystem::create_directories(dir_.path() / "config" / "VendraConfiguration.xml");
  EXPECT_EQ(Failure([&] { c.LoadConfigFile("config\\VendraConfiguration.xml"); }).number(),
            platform::err::kPermissionDenied);
  Write(dir_.path() / "broken.xml", "<configuration><section name='x'>");
  EXPECT_EQ(Failure([&] { c.LoadConfigFile("broken.xml"); }).number(),
            config_error::kMalformedFile);
  Write(dir_.path() / "other-root.xml", "<settings/>");
  EXPECT_EQ(Failure([&] { c.LoadConfigFile("other-root.xml"); }).number(),
            config_error::kMalformedFile);
  EXPECT_EQ(c.GetValue("GENERAL_PARAMETERS", "EnableFreight"), Variant("1"));

  std::filesystem::remove(dir_.path() / "platform.xml");
  EXPECT_EQ(Failure([&] { c.GetWebInfo("Vendra"); }).number(), platform::err::kPermissionDenied);
}

TEST_F(ConfigurationTest, SiteAndApplicationConfigurationUseTheLastRecord) {
  Configuration c;
  c.LoadSiteConfig();
  EXPECT_EQ(c.GetValue("COMMONPARAMETERS", "SSLMODE"), Variant("none"));
  c.LoadApplicationConfig("Vendra", 0);
  EXPECT_EQ(c.loaded_file(), dir_.path() / "config2" / "VendraConfiguration.xml");
  EXPECT_EQ(c.GetValue("GENERAL_PARAMETERS", "Period"), Variant(int32_t{30}));
  EXPECT_EQ(Failure([&] { c.LoadApplicationConfig("Nobody", 0); }).number(),
            config_error::kKeyNotFound);

  // Without a loaded file the connection string comes from the application's file.
  Configuration fresh;
  EXPECT_EQ(fresh.GetConnectionString("Vendra"),
            "Provider=SQLite;Data Source=data;Initial Catalog=Vendra");
}

TEST_F(ConfigurationTest, LateBoundCallers) {
  platform::ObjectPtr c = platform::CreateObject("Orvanta.Configuration");
  const Variant records = platform::Call(c, "GetWebInfo", {Variant("Vendra")});
  EXPECT_EQ(records.As<platform::Dictionary>()->Count(), 2);
  platform::Call(c, "LoadApplicationConfig", {Variant("Vendra"), Variant(int16_t{0})});
  EXPECT_EQ(platform::Call(c, "GetValue", {Variant("GENERAL_PARAMETERS"), Variant("Rate")}),
            Variant(2.5));
}

// A new instance: its files read back through the store, and a second
// creation in the same place is refused without touching what is there.
TEST(InstanceSetupTest, NewInstanceConfigurationAndRefusal) {
  vendra_test::TestInstance instance;
  const auto& home = instance.home();
  for (const char* dir : {"config", "data", "logs", "mail/pickup", "exchange"})
    EXPECT_TRUE(std::filesystem::is_directory(home / dir)) << dir;

  Configuration c;
  const auto records = c.GetWebInfo("Vendra");
  ASSERT_EQ(records->Count(), 1);
  const std::string config_dir =
      records->entries()[0].second.As<platform::Dictionary>()->Item("ConfigDir").ToString();
  c.LoadConfigFile(config_dir + "\\VendraConfiguration.xml");
  EXPECT_EQ(c.GetConnectionString("Vendra"),
            "Provider=SQLite;Data Source=data;Initial Catalog=Vendra");
  EXPECT_EQ(c.GetValue("GENERAL_PARAMETERS", "SMTPMailPickupDirectory"), Variant("mail\\pickup"));
  c.LoadSiteConfig();
  for (const char* key : {"MemScriptUser", "MemScriptCode", "LDAPRoot"})
    EXPECT_NO_THROW(c.GetValue("MEMBERSHIP", key)) << key;
  EXPECT_EQ(c.GetValue("COMMONPARAMETERS", "SSLMODE"), Variant("NONE"));
  EXPECT_NO_THROW(c.GetValue("COMMONPARAMETERS", "HELPEMAIL"));
  for (const char* key : {"NONSECUREHOSTNAME", "SECUREHOSTNAME", "APPLICATIONDIRECTORY"})
    EXPECT_NO_THROW(c.GetValue("GLOBAL", key)) << key;

  // No temporary file is left behind.
  for (const auto& entry : std::filesystem::recursive_directory_iterator(home))
    EXPECT_EQ(entry.path().string().find(".tmp-"), std::string::npos) << entry.path();

  Write(home / "data" / "keep.txt", "mine");
  const ComError refused = Failure([&] { vendra_instance::CreateInstance(home, true); });
  EXPECT_NE(refused.number(), 0);
  EXPECT_NE(refused.description().find("already holds an instance"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(home / "data" / "keep.txt"));
  EXPECT_TRUE(std::filesystem::exists(home / "config" / "VendraConfiguration.xml"));
}

TEST(InstanceSetupTest, LeftoverConfigurationIsNeverOverwritten) {
  vendra_test::TemporaryDirectory dir;
  Write(dir.path() / "config" / "siteconfiguration.xml", "<configuration>theirs</configuration>");
  EXPECT_NE(Failure([&] { vendra_instance::CreateInstance(dir.path(), false); }).number(), 0);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "platform.xml"));
  std::ifstream in(dir.path() / "config" / "siteconfiguration.xml");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "<configuration>theirs</configuration>");
}

// When the databases cannot be made, what this run wrote goes again and
// what was there stays.
TEST(InstanceSetupTest, AFailedCreationLeavesTheDirectoryAsItWas) {
  vendra_test::TemporaryDirectory dir;
  Write(dir.path() / "data" / "Vendra.db", "someone's database");
  EXPECT_NE(Failure([&] { vendra_instance::CreateInstance(dir.path(), true); }).number(), 0);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "platform.xml"));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "config"));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "logs"));
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "data" / "Vendra.db"));
  // Once the obstacle is gone the same directory takes an instance.
  std::filesystem::remove(dir.path() / "data" / "Vendra.db");
  EXPECT_NO_THROW(vendra_instance::CreateInstance(dir.path(), false));
}

}  // namespace
