// The user, site and product helpers against recording stand-ins of the
// configuration store, the membership directory, the catalogue and the
// business-partner master, so each test sets exactly the site it needs.
#include "shared/helpers.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/core/clock.h"
#include "platform/core/com_error.h"
#include "platform/core/dictionary.h"
#include "platform/host/registry.h"
#include "platform/services/product_properties.h"
#include "shared/components.h"
#include "tests/support/test_instance.h"

namespace {

using platform::ClassBinding;
using platform::Date;
using platform::Dictionary;
using platform::Dispatchable;
using platform::ObjectPtr;
using platform::Variant;

// ---- the site: configuration store and membership directory ----

struct Site {
  std::string config_dir = "config";
  std::map<std::pair<std::string, std::string>, std::string> values;
  std::map<std::string, std::string> user_locales;  // known users
  int configurations_created = 0;
  int members_created = 0;
  std::vector<std::string> loaded_files;
  std::vector<std::string> directories;
  std::vector<std::pair<std::string, std::string>> sign_ons;
};

class FakeConfiguration : public Dispatchable<FakeConfiguration> {
 public:
  explicit FakeConfiguration(std::shared_ptr<Site> site) : site_(std::move(site)) {}
  static const ClassBinding<FakeConfiguration>& Binding() {
    static const auto b = ClassBinding<FakeConfiguration>("Configuration")
                              .Method("GetWebInfo", &FakeConfiguration::GetWebInfo)
                              .Method("LoadConfigFile", &FakeConfiguration::LoadConfigFile)
                              .Method("LoadSiteConfig", &FakeConfiguration::LoadSiteConfig)
                              .Method("GetValue", &FakeConfiguration::GetValue);
    return b;
  }
  Variant GetWebInfo(const std::string& application) {
    auto record = Dictionary::New();
    record->Add("ConfigDir", Variant(site_->config_dir));
    auto records = Dictionary::New();
    records->Add(application, Variant(ObjectPtr(record)));
    return Variant(ObjectPtr(records));
  }
  void LoadConfigFile(const std::string& path) { site_->loaded_files.push_back(path); }
  void LoadSiteConfig() { site_->loaded_files.push_back("<site>"); }
  std::string GetValue(const std::string& section, const std::string& key) {
    auto it = site_->values.find({section, key});
    if (it == site_->values.end())
      platform::Raise(static_cast<int32_t>(0x8004000Fu), "Orvanta.Configuration",
                      "Key not found: " + section + "/" + key);
    return it->second;
  }

 private:
  std::shared_ptr<Site> site_;
};

class FakeUser : public Dispatchable<FakeUser> {
 public:
  FakeUser(std::string id, std::string locale) : id_(std::move(id)), locale_(std::move(locale)) {}
  static const ClassBinding<FakeUser>& Binding() {
    static const auto b = ClassBinding<FakeUser>("User")
                              .Property("Locale", &FakeUser::Locale)
                              .Property("ReferenceName", &FakeUser::ReferenceName);
    return b;
  }
  std::string Locale() const { return locale_; }
  std::string ReferenceName() const { return "Ref " + id_; }

 private:
  std::string id_;
  std::string locale_;
};

class FakeMembers : public Dispatchable<FakeMembers> {
 public:
  explicit FakeMembers(std::shared_ptr<Site> site) : site_(std::move(site)) {}
  static const ClassBinding<FakeMembers>& Binding() {
    static const auto b = ClassBinding<FakeMembers>("Members")
                              .Method("InitializeDirectory", &FakeMembers::InitializeDirectory)
                              .Method("LogOnDirectory", &FakeMembers::LogOnDirectory)
                              .Method("GetUser", &FakeMembers::GetUser);
    return b;
  }
  void InitializeDirectory(const std::string& path) { site_->directories.push_back(path); }
  void LogOnDirectory(const std::string& user, const std::string& code) {
    site_->sign_ons.emplace_back(user, code);
  }
  Variant GetUser(const std::string& id) {
    auto it = site_->user_locales.find(id);
    if (it == site_->user_locales.end())
      platform::Raise(static_cast<int32_t>(0x80070525u), "Dunmere.Members", "No such user: " + id);
    return Variant(ObjectPtr(std::make_shared<FakeUser>(id, it->second)));
  }

 private:
  std::shared_ptr<Site> site_;
};

class UserHelpersTest : public ::testing::Test {
 protected:
  UserHelpersTest()
      : configuration_("Orvanta.Configuration",
                       [s = site_] {
                         ++s->configurations_created;
                         return std::make_shared<FakeConfiguration>(s);
                       }),
        members_("Dunmere.Members",
                 [s = site_] {
                   ++s->members_created;
                   return std::make_shared<FakeMembers>(s);
                 }),
        user_("Dunmere.User", [] { return std::make_shared<FakeUser>("", ""); }) {
    site_->values = {
        {{"MEMBERSHIP", "MemScriptUser"}, "memscript"},
        {{"MEMBERSHIP", "MemScriptCode"}, "s3cret"},
        {{"MEMBERSHIP", "LDAPRoot"}, "o=VendraShop"},
        {{"COMMONPARAMETERS", "HELPEMAIL"}, "help@shop.example"},
        {{"COMMONPARAMETERS", "SSLMODE"}, "SSL"},
        {{"GLOBAL", "NONSECUREHOSTNAME"}, "www.shop.example"},
        {{"GLOBAL", "SECUREHOSTNAME"}, "secure.shop.example"},
        {{"GLOBAL", "APPLICATIONDIRECTORY"}, "Vendra"},
    };
    site_->user_locales = {{"anna", "1033"}, {"bernd", "1031"}};
    lib_sales::ResetUserCache();
  }
  ~UserHelpersTest() override { lib_sales::ResetUserCache(); }

  std::shared_ptr<Site> site_ = std::make_shared<Site>();
  vendra_test::ScopedRecordingLog log_;

 private:
  platform::ScopedRegistration configuration_;
  platform::ScopedRegistration members_;
  platform::ScopedRegistration user_;
};

TEST(HasValueTest, NullEmptyAndZeroTextHaveNoValue) {
  EXPECT_FALSE(lib_sales::Sls_HasValue(Variant()));
  EXPECT_FALSE(lib_sales::Sls_HasValue(Variant::Null()));
  EXPECT_FALSE(lib_sales::Sls_HasValue(Variant("")));
  EXPECT_FALSE(lib_sales::Sls_HasValue(Variant("0")));
  EXPECT_FALSE(lib_sales::Sls_HasValue(Variant(int32_t{0})));  // a locale id 0 as a number
  EXPECT_TRUE(lib_sales::Sls_HasValue(Variant("00")));
  EXPECT_TRUE(lib_sales::Sls_HasValue(Variant(" ")));
  EXPECT_TRUE(lib_sales::Sls_HasValue(Variant("1033")));
  EXPECT_TRUE(lib_sales::Sls_HasValue(Variant(int32_t{1031})));
  EXPECT_TRUE(lib_sales::Sls_HasValue(Variant(false)));  // "False" is a value
}

TEST(HasValueTest, ValueWithoutTextIsLoggedAndFalse) {
  vendra_test::ScopedRecordingLog log;
  EXPECT_FALSE(lib_sales::Sls_HasValue(Variant(ObjectPtr(Dictionary::New()))));
  ASSERT_EQ(log.entries().size(), 1u);
  EXPECT_NE(log.entries()[0].text.find(" METHOD: Lib_Sales.Sls_HasValue()"), std::string::npos);
}

TEST_F(UserHelpersTest, SiteNameFollowsSslMode) {
  EXPECT_EQ(lib_sales::Sls_getSiteName(), "HTTPS://secure.shop.example/Vendra");
  site_->values[{"COMMONPARAMETERS", "SSLMODE"}] = "none";
  EXPECT_EQ(lib_sales::Sls_getSiteName(), "HTTP://www.shop.example/Vendra");
  site_->values[{"COMMONPARAMETERS", "SSLMODE"}] = "";
  EXPECT_EQ(lib_sales::Sls_getSiteName(), "HTTPS://secure.shop.example/Vendra");
  EXPECT_EQ(site_->loaded_files.back(), "<site>");
  EXPECT_TRUE(log_.entries().empty());
}

TEST_F(UserHelpersTest, SiteNameFailureIsLoggedAndEmpty) {
  site_->values.erase({"GLOBAL", "SECUREHOSTNAME"});
  EXPECT_EQ(lib_sales::Sls_getSiteName(), "");
  ASSERT_EQ(log_.entries().size(), 1u);
  const std::string& text = log_.entries()[0].text;
  EXPECT_NE(text.find(" METHOD: Lib_Sales.Sls_getSiteName()"), std::string::npos);
  EXPECT_NE(text.find(" INFO: Retrieval of Host & Sitename failed."), std::string::npos);
}

TEST_F(UserHelpersTest, UserIsSignedOnWithTheSiteCredentials) {
  std::string site_name;
  std::string help;
  ObjectPtr user = lib_sales::Sls_CreateUserObject("bernd", site_name, help);
  ASSERT_TRUE(user);
  EXPECT_EQ(platform::GetProperty(user, "Locale").ToString(), "1031");
  EXPECT_EQ(site_name, "HTTPS://secure.shop.example/Vendra");
  EXPECT_EQ(help, "help@shop.example");
  ASSERT_EQ(site_->sign_ons.size(), 1u);
  EXPECT_EQ(site_->sign_ons[0].first, "memscript,o=VendraShop");
  EXPECT_EQ(site_->sign_ons[0].second, "s3cret");
  EXPECT_EQ(site_->directories, std::vector<std::string>{"config\\siteconfiguration.xml"});
  EXPECT_EQ(site_->loaded_files.front(), "config\\siteconfiguration.xml");
}

TEST_F(UserHelpersTest, BlankLdapRootIsNotAppended) {
  site_->values[{"MEMBERSHIP", "LDAPRoot"}] = "  ";
  ASSERT_TRUE(lib_sales::Sls_CreateUserObject("anna"));
  EXPECT_EQ(site_->sign_ons.at(0).first, "memscript");
}

TEST_F(UserHelpersTest, UserCacheIsFilledOncePerThread) {
  std::string site_name;
  std::string help;
  ASSERT_TRUE(lib_sales::Sls_CreateUserObject("anna", site_name, help));
  // One configuration for the cache, one for the site name.
  EXPECT_EQ(site_->configurations_created, 2);

  std::string second_site;
  std::string second_help = "untouched";
  ASSERT_TRUE(lib_sales::Sls_CreateUserObject("bernd", second_site, second_help));
  EXPECT_EQ(site_->configurations_created, 2);
  EXPECT_EQ(site_->members_created, 2);  // every call signs on anew
  EXPECT_EQ(second_site, site_name);
  EXPECT_EQ(second_help, "untouched");

  // The site changes; this thread keeps what it read, a new thread reads it.
  site_->values[{"MEMBERSHIP", "MemScriptCode"}] = "changed";
  ASSERT_TRUE(lib_sales::Sls_CreateUserObject("anna"));
  EXPECT_EQ(site_->sign_ons.back().second, "s3cret");
  std::thread other([] { EXPECT_TRUE(lib_sales::Sls_CreateUserObject("anna")); });
  other.join();
  EXPECT_EQ(site_->configurations_created, 4);
  EXPECT_EQ(site_->sign_ons.back().second, "changed");
}

TEST_F(UserHelpersTest, UnknownUserIsAbsentAndLogged) {
  EXPECT_EQ(lib_sales::Sls_CreateUserObject("ghost"), nullptr);
  ASSERT_EQ(log_.entries().size(), 1u);
  EXPECT_EQ(log_.entries()[0].source, "Dunmere.Members");
  const std::string& text = log_.entries()[0].text;
  EXPECT_NE(text.find(" METHOD: Lib_Sales.Sls_CreateUserObject()"), std::string::npos);
  EXPECT_NE(text.find(" INFO: User details couldn't be obtained from Dunmere for: ghost."),
            std::string::npos);
}

TEST_F(UserHelpersTest, FailedCacheFillIsTriedAgain) {
  site_->values.erase({"MEMBERSHIP", "MemScriptCode"});
  EXPECT_EQ(lib_sales::Sls_CreateUserObject("anna"), nullptr);
  site_->values[{"MEMBERSHIP", "MemScriptCode"}] = "s3cret";
  ASSERT_TRUE(lib_sales::Sls_CreateUserObject("anna"));
  EXPECT_EQ(site_->sign_ons.back(), std::make_pair(std::string("memscript,o=VendraShop"),
                                                   std::string("s3cret")));
}

TEST_F(UserHelpersTest, UserPropertyOfUnknownUserFailsInTheCaller) {
  EXPECT_EQ(lib_sales::Sls_GetUserProperty("anna"), "Ref anna");
  try {
    lib_sales::Sls_GetUserProperty("ghost");
    FAIL() << "expected a failure";
  } catch (const platform::ComError& e) {
    EXPECT_EQ(e.number(), platform::err::kObjectVariableNotSet);
  }
}

// ---- the catalogue ----

// Answers the catalogue's own collection, which refuses absent property names.
class FakeProduct : public Dispatchable<FakeProduct> {
 public:
  using Catalogue = std::map<int32_t, std::shared_ptr<platform::ProductProperties>>;
  explicit FakeProduct(std::shared_ptr<Catalogue> products) : products_(std::move(products)) {}
  static const ClassBinding<FakeProduct>& Binding() {
    static const auto b = ClassBinding<FakeProduct>("Product").Method(
        "GetProductProperties", &FakeProduct::GetProductProperties);
    return b;
  }
  Variant GetProductProperties(int32_t& id) {
    auto it = products_->find(id);
    if (it == products_->end())
      platform::Raise(static_cast<int32_t>(0x80040200u), "Brevane.Product",
                      "Product " + std::to_string(id) + " does not exist");
    return Variant(ObjectPtr(it->second));
  }

 private:
  std::shared_ptr<Catalogue> products_;
};

class ProductHelpersTest : public ::testing::Test {
 protected:
  void Put(int32_t id, Variant disabled, Variant expiry) {
    auto p = std::make_shared<platform::ProductProperties>(id);
    p->Add("DISABLED", disabled);
    p->Add("PRODUCTEXPIRYDATE", expiry);
    p->Add("UNITCODE", Variant("PCS"));
    (*catalogue_)[id] = p;
  }

  std::shared_ptr<FakeProduct::Catalogue> catalogue_ = std::make_shared<FakeProduct::Catalogue>();
  platform::ScopedRegistration product_{
      "Brevane.Product", [c = catalogue_] { return std::make_shared<FakeProduct>(c); }};
  vendra_test::ScopedRecordingLog log_;
  const Date expiry_ = Date::FromParts(2026, 3, 15);
};

TEST_F(ProductHelpersTest, DisabledIsCheckedBeforeExpiry) {
  Put(13, Variant(true), Variant(expiry_));
  platform::ScopedFixedClock clock(Date::FromParts(2026, 6, 1));
  std::string key = "stale";
  EXPECT_FALSE(lib_sales::ValidProduct(13, key));
  EXPECT_EQ(key, "VendraError_ProductDisabled");
}

TEST_F(ProductHelpersTest, ProductIsValidUpToItsExpiryDay) {
  Put(17, Variant(false), Variant(expiry_));
  std::string key;
  {
    platform::ScopedFixedClock clock(Date::FromParts(2026, 3, 15, 23, 59, 0));
    EXPECT_TRUE(lib_sales::ValidProduct(17, key));
    EXPECT_EQ(key, "");
  }
  {
    platform::ScopedFixedClock clock(Date::FromParts(2026, 3, 16, 0, 0, 1));
    EXPECT_FALSE(lib_sales::ValidProduct(17, key));
    EXPECT_EQ(key, "VendraError_ProductExpired");
  }
}

TEST_F(ProductHelpersTest, NullFlagAndNullExpiryMeanValid) {
  Put(1, Variant::Null(), Variant::Null());
  std::string key;
  EXPECT_TRUE(lib_sales::ValidProduct(1, key));
}

TEST_F(ProductHelpersTest, UnknownProductIsRaisedThroughBothLevels) {
  std::string key;
  try {
    lib_sales::ValidProduct(999, key);
    FAIL() << "expected a failure";
  } catch (const platform::ComError& e) {
    EXPECT_EQ(e.number(), static_cast<int32_t>(0x80040200u));
    EXPECT_EQ(e.source(), "Brevane.Product");
    EXPECT_NE(e.description().find(" METHOD: Vendra.Utility.ValidProduct"), std::string::npos);
  }
  // One entry per level the failure passed through.
  ASSERT_EQ(log_.entries().size(), 2u);
  EXPECT_NE(log_.entries()[0].text.find("Vendra.Utility.GetProductProperty"), std::string::npos);
}

// The collection's failure passes through both helpers with the catalogue's
// number and source, one log entry per level.
TEST_F(ProductHelpersTest, PropertyTheProductDoesNotHaveIsAFailure) {
  Put(1, Variant(false), Variant::Null());
  EXPECT_EQ(lib_sales::GetProductProperty(1, "UNITCODE").ToString(), "PCS");
  const std::vector<std::pair<std::string, std::function<void()>>> readers = {
      {"Vendra.Utility.GetProductProperty", [] { lib_sales::GetProductProperty(1, "UNITKODE"); }},
      {"Vendra.Utility",
       [] { lib_sales::GetMinProductProperty({Variant(int32_t{1})}, "UNITKODE"); }},
  };
  for (const auto& [method, read] : readers) {
    try {
      read();
      ADD_FAILURE() << method << " read a property the product does not have";
    } catch (const platform::ComError& e) {
      EXPECT_EQ(e.number(), platform::product_err::kPropertyNotFound) << method;
      EXPECT_EQ(e.source(), "Brevane.Product") << method;
      EXPECT_NE(e.description().find(" METHOD: " + method), std::string::npos) << e.description();
      EXPECT_NE(e.description().find("'UNITKODE'"), std::string::npos) << e.description();
    }
  }
}

TEST_F(ProductHelpersTest, MinimumIsTheEarliestDateSeededByTheFirstProduct) {
  Put(1, Variant(false), Variant(Date::FromParts(2026, 5, 1)));
  Put(2, Variant(false), Variant::Null());
  Put(3, Variant(false), Variant(Date::FromParts(2026, 4, 1)));
  const auto earliest =
      lib_sales::GetMinProductProperty({Variant(int32_t{1}), Variant(int32_t{2}), Variant(int32_t{3})},
                                       "PRODUCTEXPIRYDATE");
  EXPECT_EQ(earliest, Variant(Date::FromParts(2026, 4, 1)));

  // A product without a value in front leaves nothing to compare with.
  const auto none = lib_sales::GetMinProductProperty(
      {Variant(int32_t{2}), Variant(int32_t{1}), Variant(int32_t{3})}, "PRODUCTEXPIRYDATE");
  EXPECT_TRUE(none.IsNull());
  EXPECT_TRUE(lib_sales::GetMinProductProperty({}, "PRODUCTEXPIRYDATE").IsNull());
}

TEST_F(ProductHelpersTest, MinimumTakesProductIdsBeyondSixteenBits) {
  Put(70000, Variant(false), Variant(expiry_));
  EXPECT_EQ(lib_sales::GetMinProductProperty({Variant("70000")}, "PRODUCTEXPIRYDATE"),
            Variant(expiry_));
}

// ---- back-end address codes ----

class FakePartner : public Dispatchable<FakePartner> {
 public:
  static inline std::map<int32_t, std::string> codes;
  static const ClassBinding<FakePartner>& Binding() {
    static const auto b =
        ClassBinding<FakePartner>("BusinessPartner")
            .Method("GetPostalAddressID", &FakePartner::GetPostalAddressID)
            .Method("GetShippingAddressID", &FakePartner::GetShippingAddressID)
            .Method("GetKROAddressCodeFromAddressID", &FakePartner::GetKROAddressCodeFromAddressID);
    return b;
  }
  int32_t GetPostalAddressID(int32_t& partner) {
    if (partner != 1001) platform::Raise(5, "Kelmor.BusinessPartner", "No partner");
    return 10011;
  }
  int32_t GetShippingAddressID(int32_t& partner) { return partner == 1001 ? 10012 : 0; }
  Variant GetKROAddressCodeFromAddressID(int32_t& address) {
    auto it = codes.find(address);
    return it == codes.end() ? Variant("") : Variant(it->second);
  }
};

class AddressInfoTest : public ::testing::Test {
 protected:
  AddressInfoTest() {
    FakePartner::codes = {{10011, "C1001-0010"}, {10012, "C1001-0001"}, {10013, "   "},
                          {10014, "Ölmühle-Süd-01"}};
  }
  struct Outcome {
    int16_t result;
    int32_t address;
    std::string code;
  };
  Outcome Determine(int32_t partner, int32_t address, const std::string& kind,
                    const std::string& type, std::string code = "as passed") {
    const int16_t result =
        lib_sales::Sls__DetermineAddressInfo(partner, address, kind, code, type);
    return {result, address, code};
  }

  platform::ScopedRegistration partner_{"Kelmor.BusinessPartner",
                                        [] { return std::make_shared<FakePartner>(); }};
  vendra_test::ScopedRecordingLog log_;
};

TEST_F(AddressInfoTest, Tw4TakesThreeOfTheLastFourCharacters) {
  Outcome o = Determine(1001, 0, "INV", "tw4");
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(o.address, 10011);  // the default invoice address came back
  EXPECT_EQ(o.code, "001");

  // "...0001" gives "000", which is no code; address 0 was not the default id.
  o = Determine(1001, 0, "DEL", "tw4");
  EXPECT_EQ(o.result, 3);
  EXPECT_EQ(o.address, 10012);
  EXPECT_EQ(o.code, "");

  o = Determine(1001, 10012, "DEL", "tw4");
  EXPECT_EQ(o.result, 2);  // the default address itself has no code
}

TEST_F(AddressInfoTest, Tw5AndTwktTakeTheFirstNineCharacters) {
  for (const char* type : {"tw5", "twkt"}) {
    Outcome o = Determine(1001, 10012, "DEL", type);
    EXPECT_EQ(o.result, 1) << type;
    EXPECT_EQ(o.code, "C1001-000") << type;
  }
  Outcome blank = Determine(1001, 10013, "INV", "tw5");
  EXPECT_EQ(blank.result, 3);
  EXPECT_EQ(blank.code, "");
  Outcome umlauts = Determine(1001, 10014, "INV", "tw5");
  EXPECT_EQ(umlauts.code, "Ölmühle-S");  // nine characters, not nine bytes
}

TEST_F(AddressInfoTest, UnknownConnectorLeavesTheCodeAsPassed) {
  Outcome o = Determine(1001, 10011, "INV", "TW4");
  EXPECT_EQ(o.result, 2);
  EXPECT_EQ(o.code, "as passed");
}

TEST_F(AddressInfoTest, FailureIsLoggedAndZero) {
  Outcome o = Determine(4711, 0, "INV", "tw4");
  EXPECT_EQ(o.result, 0);
  ASSERT_EQ(log_.entries().size(), 1u);
  EXPECT_NE(log_.entries()[0].text.find(" METHOD: Lib_Sales.Sls__DetermineAddressInfo()"),
            std::string::npos);
  EXPECT_NE(log_.entries()[0].text.find(" INFO: No partner."), std::string::npos);
}

}  // namespace
