// Dunmere.Members and Dunmere.User against the demo instance's site
// configuration (sign-on "cn=VendraScript" under "o=VendraShop", code
// "vendra-demo") and its users anna, bernd and carla.
#include "platform/services/membership.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>

#include "platform/core/com_error.h"
#include "platform/data/connection.h"
#include "platform/host/registry.h"
#include "tests/support/test_instance.h"

namespace {

using platform::Variant;
namespace members_err = platform::members_err;

constexpr char kSignOnUser[] = "cn=VendraScript,o=VendraShop";
constexpr char kSignOnCode[] = "vendra-demo";

int32_t FailureNumber(const std::function<void()>& work) {
  try {
    work();
  } catch (const platform::ComError& e) {
    return e.number();
  }
  return 0;
}

class MembershipTest : public vendra_test::InstanceTest {
 protected:
  // The path as the shop's code builds it: configuration directory, "\", file.
  std::string SiteConfiguration() const { return config_dir().string() + "\\siteconfiguration.xml"; }

  platform::Members members_;
};

TEST_F(MembershipTest, SignedOnDirectoryGivesTheUsersProperties) {
  members_.InitializeDirectory(SiteConfiguration());
  members_.LogOnDirectory(kSignOnUser, kSignOnCode);

  auto anna = members_.GetUser("anna");
  EXPECT_EQ(anna->Locale(), "1033");
  EXPECT_EQ(anna->LocaleNumber(), 1033);
  EXPECT_EQ(anna->ReferenceName(), "Anna Berg");
  EXPECT_EQ(anna->EmailAddress(), "anna.berg@hallvard.example");
  EXPECT_EQ(anna->BusinessPartnerID(), 1001);

  auto bernd = members_.GetUser("BERND");  // logon names ignore letter case
  EXPECT_EQ(bernd->UserID(), "bernd");
  EXPECT_EQ(bernd->LocaleNumber(), 1031);
  EXPECT_EQ(bernd->BusinessPartnerID(), 1003);

  auto carla = members_.GetUser("carla");
  EXPECT_EQ(carla->EmailAddress(), "");
  EXPECT_EQ(carla->BusinessPartnerID(), 1002);
}

TEST_F(MembershipTest, WrongSignOnIsRefusedAndLeavesTheDirectoryClosed) {
  members_.InitializeDirectory(SiteConfiguration());
  try {
    members_.LogOnDirectory(kSignOnUser, "guess");
    FAIL() << "a wrong code must be refused";
  } catch (const platform::ComError& e) {
    EXPECT_EQ(e.number(), members_err::kSignOnRefused);
    EXPECT_EQ(e.source(), "Dunmere.Members");
    EXPECT_EQ(e.description().find("guess"), std::string::npos) << "the code never shows";
  }
  EXPECT_EQ(FailureNumber([&] { members_.GetUser("anna"); }), members_err::kNotSignedOn);
  // Without the directory root the account is not the configured one.
  EXPECT_EQ(FailureNumber([&] { members_.LogOnDirectory("cn=VendraScript", kSignOnCode); }),
            members_err::kSignOnRefused);
  // A good sign-on after a bad one opens it.
  members_.LogOnDirectory("CN=VendraScript,O=VendraShop", kSignOnCode);
  EXPECT_EQ(members_.GetUser("anna")->LocaleNumber(), 1033);
}

TEST_F(MembershipTest, OrderOfCallsIsEnforced) {
  EXPECT_EQ(FailureNumber([&] { members_.LogOnDirectory(kSignOnUser, kSignOnCode); }),
            members_err::kNotInitialized);
  EXPECT_EQ(FailureNumber([&] { members_.GetUser("anna"); }), members_err::kNotSignedOn);
}

TEST_F(MembershipTest, UnknownUserFailsNamingIt) {
  members_.InitializeDirectory(SiteConfiguration());
  members_.LogOnDirectory(kSignOnUser, kSignOnCode);
  try {
    members_.GetUser("nobody");
    FAIL() << "unknown user";
  } catch (const platform::ComError& e) {
    EXPECT_EQ(e.number(), members_err::kUserNotFound);
    EXPECT_NE(e.description().find("nobody"), std::string::npos);
  }
  // The directory keeps serving after an unknown user, and one signed-on
  // directory looking up many users reads what the directory holds now.
  EXPECT_EQ(members_.GetUser("bernd")->ReferenceName(), "Bernd Krause");
  platform::data::Connection db;
  db.Open("Provider=SQLite;Data Source=data;Initial Catalog=Kelmor");
  db.Execute("UPDATE USERS SET REFERENCENAME = 'Bernd K.' WHERE USERID = 'bernd'");
  db.Close();
  EXPECT_EQ(members_.GetUser("bernd")->ReferenceName(), "Bernd K.");
}

TEST_F(MembershipTest, SiteWithoutDirectoryRootSignsOnWithTheAccountAlone) {
  const auto file = home() / "config" / "other-site.xml";
  std::ofstream(file) << "<configuration><section name=\"MEMBERSHIP\">"
                         "<item key=\"MemScriptUser\">shopscript</item>"
                         "<item key=\"MemScriptCode\">c0de</item>"
                         "</section></configuration>";
  members_.InitializeDirectory(file.string());
  members_.LogOnDirectory("shopscript", "c0de");
  EXPECT_EQ(members_.GetUser("bernd")->ReferenceName(), "Bernd Krause");
  // A missing file is the configuration store's failure, as it reports it.
  EXPECT_EQ(FailureNumber([&] { members_.InitializeDirectory("config\\missing.xml"); }),
            platform::err::kPermissionDenied);
}

TEST_F(MembershipTest, LateBoundAsTheSharedRuntimeCallsIt) {
  auto members = platform::CreateObject("Dunmere.Members");
  auto empty_user = platform::CreateObject("Dunmere.User");
  EXPECT_EQ(platform::GetProperty(empty_user, "LocaleNumber").ToLong(), 0);
  EXPECT_EQ(platform::GetProperty(empty_user, "ReferenceName").ToString(), "");

  platform::Call(members, "InitializeDirectory", {Variant(SiteConfiguration())});
  platform::Call(members, "LogOnDirectory", {Variant(kSignOnUser), Variant(kSignOnCode)});
  auto user = platform::Call(members, "GetUser", {Variant("bernd")}).ToObject();
  EXPECT_EQ(platform::GetProperty(user, "Locale").ToString(), "1031");
  const Variant locale = platform::GetProperty(user, "LocaleNumber");
  EXPECT_EQ(locale.type(), platform::VarType::Integer);
  EXPECT_EQ(locale.ToLong(), 1031);
  EXPECT_EQ(platform::GetProperty(user, "EmailAddress").ToString(),
            "bernd.krause@lindqvist.example");
  EXPECT_EQ(platform::GetProperty(user, "BusinessPartnerID").ToLong(), 1003);
}

}  // namespace
