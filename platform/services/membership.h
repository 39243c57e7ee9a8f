// The shop platform's membership directory: Dunmere.Members signs on to the
// directory and looks up shop users; Dunmere.User is one user with the
// properties the shop reads (Locale, LocaleNumber, ReferenceName,
// EmailAddress, BusinessPartnerID, ...). The users live in the Kelmor
// database (USERS).
//
// The directory is opened the way the shop's own code opens it:
// InitializeDirectory(site configuration file) reads the directory's
// sign-on from the file's MEMBERSHIP section (MemScriptUser, with "," and
// LDAPRoot appended when that is not blank, and MemScriptCode);
// LogOnDirectory(user, code) must present exactly that sign-on (the user
// name compared without regard to case, the code exactly); only then does
// GetUser answer. An unknown user is a failure.
//
// Thread-safety: an object serves one caller at a time; separate objects may
// be used on separate threads. A MemberUser is a snapshot and never changes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/core/dispatch.h"

namespace platform {

namespace data {
class Connection;
}

// Failures of the directory (source "Dunmere.Members").
namespace members_err {
inline constexpr int32_t kNotInitialized = static_cast<int32_t>(0x80042201u);
inline constexpr int32_t kSignOnRefused = static_cast<int32_t>(0x80042202u);
inline constexpr int32_t kNotSignedOn = static_cast<int32_t>(0x80042203u);
inline constexpr int32_t kUserNotFound = static_cast<int32_t>(0x80042204u);
}  // namespace members_err

// Dunmere.User. Created empty by identifier (all properties blank or 0);
// GetUser of the directory gives a filled one.
class MemberUser : public Dispatchable<MemberUser> {
 public:
  static const ClassBinding<MemberUser>& Binding();

  struct Record {
    std::string user_id;
    int32_t business_partner_id = 0;
    std::string locale;  // the numeric locale id as text ("1033")
    std::string reference_name;
    std::string first_name;
    std::string last_name;
    std::string email_address;  // "" when the user has none
  };

  MemberUser() = default;
  explicit MemberUser(Record record) : record_(std::move(record)) {}

  std::string UserID() const { return record_.user_id; }
  std::string Locale() const { return record_.locale; }
  // The locale as a number; 0 for a user created empty.
  int16_t LocaleNumber() const;
  std::string ReferenceName() const { return record_.reference_name; }
  std::string FirstName() const { return record_.first_name; }
  std::string LastName() const { return record_.last_name; }
  std::string EmailAddress() const { return record_.email_address; }
  int32_t BusinessPartnerID() const { return record_.business_partner_id; }

 private:
  Record record_;
};

// Dunmere.Members.
class Members : public Dispatchable<Members> {
 public:
  static const ClassBinding<Members>& Binding();

  // Reads the directory's sign-on from the site configuration file ("\"
  // separators and relative paths are taken against the instance home).
  // Failures of the configuration store reach the caller as they are.
  void InitializeDirectory(const std::string& site_configuration_path);
  void LogOnDirectory(const std::string& user, const std::string& code);
  std::shared_ptr<MemberUser> GetUser(const std::string& user_id);

 private:
  bool initialized_ = false;
  bool signed_on_ = false;
  std::string sign_on_user_;
  std::string sign_on_code_;
  // Opened by the first GetUser and kept for the object's later look-ups
  // (a batch looking up many users pays one open); dropped by
  // InitializeDirectory and by a failed look-up.
  std::shared_ptr<data::Connection> db_;
};

}  // namespace platform
