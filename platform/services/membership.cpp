#include "platform/services/membership.h"

#include "platform/core/com_error.h"
#include "platform/data/connection.h"
#include "platform/data/data_util.h"
#include "platform/data/recordset.h"
#include "platform/services/configuration.h"

namespace platform {

namespace {

constexpr char kSource[] = "Dunmere.Members";
constexpr char kKelmor[] = "Provider=SQLite;Data Source=data;Initial Catalog=Kelmor";

std::string TextOf(const Variant& v) { return v.IsMissing() ? std::string() : v.ToString(); }

// A key the site configuration leaves out reads as blank: LDAPRoot is only
// there for directories that need one.
std::string OptionalValue(Configuration& config, const std::string& key) {
  try {
    return TextOf(config.GetValue("MEMBERSHIP", key));
  } catch (const ComError& e) {
    if (e.number() == config_error::kKeyNotFound) return {};
    throw;
  }
}

}  // namespace

const ClassBinding<MemberUser>& MemberUser::Binding() {
  static const auto b = ClassBinding<MemberUser>("User")
                            .Property("UserID", &MemberUser::UserID)
                            .Property("Locale", &MemberUser::Locale)
                            .Property("LocaleNumber", &MemberUser::LocaleNumber)
                            .Property("ReferenceName", &MemberUser::ReferenceName)
                            .Property("FirstName", &MemberUser::FirstName)
                            .Property("LastName", &MemberUser::LastName)
                            .Property("EmailAddress", &MemberUser::EmailAddress)
                            .Property("BusinessPartnerID", &MemberUser::BusinessPartnerID);
  return b;
}

int16_t MemberUser::LocaleNumber() const {
  if (data::detail::Trim(record_.locale).empty()) return 0;
  return Variant(record_.locale).ToInteger();
}

const ClassBinding<Members>& Members::Binding() {
  static const auto b = ClassBinding<Members>("Members")
                            .Method("InitializeDirectory", &Members::InitializeDirectory)
                            .Method("LogOnDirectory", &Members::LogOnDirectory)
                            .Method("GetUser", &Members::GetUser);
  return b;
}

void Members::InitializeDirectory(const std::string& site_configuration_path) {
  initialized_ = false;
  signed_on_ = false;
  db_.reset();
  Configuration config;
  config.LoadConfigFile(site_configuration_path);
  std::string user = TextOf(config.GetValue("MEMBERSHIP", "MemScriptUser"));
  std::string code = TextOf(config.GetValue("MEMBERSHIP", "MemScriptCode"));
  const std::string ldap_root = OptionalValue(config, "LDAPRoot");
  if (!data::detail::Trim(ldap_root).empty()) user += "," + ldap_root;
  sign_on_user_ = std::move(user);
  sign_on_code_ = std::move(code);
  initialized_ = true;
}

void Members::LogOnDirectory(const std::string& user, const std::string& code) {
  signed_on_ = false;
  if (!initialized_)
    Raise(members_err::kNotInitialized, kSource,
          "The directory is not initialised: call InitializeDirectory first");
  // The text names the user only: the code never goes into a log.
  if (!data::detail::EqualsNoCase(user, sign_on_user_) || code != sign_on_code_)
    Raise(members_err::kSignOnRefused, kSource, "Directory sign-on refused for '" + user + "'");
  signed_on_ = true;
}

std::shared_ptr<MemberUser> Members::GetUser(const std::string& user_id) {
  if (!signed_on_)
    Raise(members_err::kNotSignedOn, kSource,
          "Not signed on to the directory: call LogOnDirectory first");
  if (!db_) {
    auto db = std::make_shared<data::Connection>();
    db->Open(kKelmor);
    db_ = std::move(db);
  }
  MemberUser::Record r;
  try {
    auto rs = db_->Execute(
        "SELECT USERID, BUSINESSPARTNERID, LOCALE, REFERENCENAME, FIRSTNAME, LASTNAME, "
        "EMAILADDRESS FROM USERS WHERE USERID = ?",
        {Variant(data::detail::Trim(user_id))});
    if (!rs || rs->Eof())
      Raise(members_err::kUserNotFound, kSource, "User not found in the directory: '" + user_id + "'");
    r.user_id = TextOf(rs->Value("USERID"));
    const Variant partner = rs->Value("BUSINESSPARTNERID");
    r.business_partner_id = partner.IsMissing() ? 0 : partner.ToLong();
    r.locale = TextOf(rs->Value("LOCALE"));
    r.reference_name = TextOf(rs->Value("REFERENCENAME"));
    r.first_name = TextOf(rs->Value("FIRSTNAME"));
    r.last_name = TextOf(rs->Value("LASTNAME"));
    r.email_address = TextOf(rs->Value("EMAILADDRESS"));
  } catch (const ComError& e) {
    // An unknown user leaves the connection as good as it was.
    if (e.number() != members_err::kUserNotFound) db_.reset();
    throw;
  } catch (...) {
    db_.reset();
    throw;
  }
  return std::make_shared<MemberUser>(std::move(r));
}

}  // namespace platform
