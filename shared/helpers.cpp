#include "shared/helpers.h"

#include <compare>
#include <vector>

#include "platform/core/clock.h"
#include "platform/core/com_error.h"
#include "platform/core/dictionary.h"
#include "platform/host/registry.h"
#include "platform/services/membership.h"
#include "shared/components.h"
#include "shared/error_handling.h"
#include "platform/core/text.h"

namespace lib_sales {

using platform::Call;
using platform::CallRef;
using platform::ObjectPtr;
using platform::Variant;

namespace {

// What the membership routines need of the site on every call. Reading it
// means loading the site configuration, so each thread does it once.
struct UserCache {
  std::string config_dir;
  std::string sign_on_user;  // with ",<LDAP root>" when the site has one
  std::string sign_on_code;
  std::string site_name;
};

thread_local UserCache t_user_cache;

const char kSiteConfigFile[] = "\\siteconfiguration.xml";

// Blanks only, as the configuration and the back end pad with blanks.
std::string Trim(std::string_view s) { return std::string(platform::text::TrimBlanks(s)); }


// Address codes are counted in characters, not bytes: a code with an umlaut
// must not be cut inside it.
size_t CharStart(std::string_view text, size_t count_from_start) {
  size_t pos = 0;
  for (size_t n = 0; n < count_from_start && pos < text.size(); ++n) {
    ++pos;
    while (pos < text.size() && (static_cast<unsigned char>(text[pos]) & 0xC0) == 0x80) ++pos;
  }
  return pos;
}

size_t CharCount(std::string_view text) {
  size_t n = 0;
  for (char c : text)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  return n;
}

std::string LeftChars(std::string_view text, size_t count) {
  return std::string(text.substr(0, CharStart(text, count)));
}

std::string RightChars(std::string_view text, size_t count) {
  const size_t total = CharCount(text);
  if (count >= total) return std::string(text);
  return std::string(text.substr(CharStart(text, total - count)));
}

// Fills a cache from the site configuration. The thread's cache takes it
// only once everything was read, so a failure half-way (a configuration
// file being replaced) does not leave the thread signing on with empty
// credentials until the library is reloaded.
UserCache ReadUserCache(std::string& help_email) {
  UserCache cache;
  ObjectPtr config = platform::CreateObject("Orvanta.Configuration");
  auto records = Call(config, "GetWebInfo", {"Vendra"}).As<platform::Dictionary>();
  if (!records) platform::Raise(platform::err::kTypeMismatch, "Orvanta.Configuration.GetWebInfo");
  for (const auto& [key, record] : records->entries()) {
    if (!Trim(key).empty()) cache.config_dir = ItemOf(record.ToObject(), "ConfigDir").ToString();
  }
  Call(config, "LoadConfigFile", {cache.config_dir + kSiteConfigFile});
  cache.sign_on_user = Call(config, "GetValue", {"MEMBERSHIP", "MemScriptUser"}).ToString();
  cache.sign_on_code = Call(config, "GetValue", {"MEMBERSHIP", "MemScriptCode"}).ToString();
  const std::string ldap_root = Call(config, "GetValue", {"MEMBERSHIP", "LDAPRoot"}).ToString();
  help_email = Call(config, "GetValue", {"COMMONPARAMETERS", "HELPEMAIL"}).ToString();
  config.reset();
  if (!Trim(ldap_root).empty()) cache.sign_on_user += "," + ldap_root;
  cache.site_name = Sls_getSiteName();
  return cache;
}

// The catalogue's properties of one product, keyed by property name. The
// collection itself refuses a property it does not hold (a misspelt name must
// not read as "no expiry date"), so its failure, with the catalogue's number
// and text, is what reaches the helper's handler.
ObjectPtr PropertiesOf(const ObjectPtr& product, int32_t product_id) {
  std::vector<Variant> args{Variant(product_id)};
  return CallRef(product, "GetProductProperties", args).ToObject();
}

}  // namespace

Variant ItemOf(const ObjectPtr& collection, const std::string& key) {
  if (auto dict = std::dynamic_pointer_cast<platform::Dictionary>(collection))
    return dict->Item(key);
  return platform::GetProperty(collection, "Item", {key});
}

bool Sls_HasValue(const Variant& value) {
  try {
    if (value.IsMissing()) return false;
    const std::string text = value.ToString();
    return !(text.empty() || text == "0");
  } catch (...) {
    LogFailure("Lib_Sales.Sls_HasValue()");
    return false;
  }
}

ObjectPtr Sls_CreateUserObject(const std::string& user_id, std::string& site_name,
                               std::string& help_email, ObjectPtr& directory) {
  try {
    if (!Sls_HasValue(Variant(t_user_cache.config_dir))) {
      std::string email;
      UserCache filled = ReadUserCache(email);
      t_user_cache = std::move(filled);
      help_email = std::move(email);
    }
    if (!directory) {
      ObjectPtr members = platform::CreateObject("Dunmere.Members");
      Call(members, "InitializeDirectory", {t_user_cache.config_dir + kSiteConfigFile});
      Call(members, "LogOnDirectory", {t_user_cache.sign_on_user, t_user_cache.sign_on_code});
      directory = std::move(members);
    }
    ObjectPtr user;
    try {
      user = Call(directory, "GetUser", {user_id}).ToObject();
    } catch (...) {
      if (platform::CurrentError().number() != platform::members_err::kUserNotFound)
        directory.reset();
      throw;
    }
    // A directory that answers "nobody" instead of failing is still no user.
    if (!user)
      platform::Raise(platform::err::kObjectVariableNotSet, "Dunmere.Members.GetUser",
                      "No such user: " + user_id);
    site_name = t_user_cache.site_name;
    return user;
  } catch (...) {
    LogFailure("Lib_Sales.Sls_CreateUserObject()",
               Info("User details couldn't be obtained from Dunmere for: " + user_id));
    return nullptr;
  }
}

ObjectPtr Sls_CreateUserObject(const std::string& user_id, std::string& site_name,
                               std::string& help_email) {
  // One look-up signs on afresh.
  ObjectPtr directory;
  return Sls_CreateUserObject(user_id, site_name, help_email, directory);
}

ObjectPtr Sls_CreateUserObject(const std::string& user_id) {
  std::string site_name;
  std::string help_email;
  return Sls_CreateUserObject(user_id, site_name, help_email);
}

std::string Sls_getSiteName() {
  try {
    ObjectPtr config = platform::CreateObject("Orvanta.Configuration");
    Call(config, "LoadSiteConfig");
    const std::string mode = Call(config, "GetValue", {"COMMONPARAMETERS", "SSLMODE"}).ToString();
    std::string scheme;
    std::string host;
    if (platform::text::EqualsNoCase(mode, "NONE")) {
      host = Call(config, "GetValue", {"GLOBAL", "NONSECUREHOSTNAME"}).ToString();
      scheme = "HTTP://";
    } else {
      host = Call(config, "GetValue", {"GLOBAL", "SECUREHOSTNAME"}).ToString();
      scheme = "HTTPS://";
    }
    const std::string directory =
        Call(config, "GetValue", {"GLOBAL", "APPLICATIONDIRECTORY"}).ToString();
    return scheme + host + "/" + directory;
  } catch (...) {
    LogFailure("Lib_Sales.Sls_getSiteName()", Info("Retrieval of Host & Sitename failed"));
    return "";
  }
}

std::string Sls_GetUserProperty(const std::string& user_id) {
  ObjectPtr user = Sls_CreateUserObject(user_id);
  if (!user)
    platform::Raise(platform::err::kObjectVariableNotSet, "Lib_Sales.Sls_GetUserProperty",
                    "User details couldn't be obtained from Dunmere for: " + user_id);
  return platform::GetProperty(user, "ReferenceName").ToString();
}

Variant GetProductProperty(int32_t product_id, const std::string& property_name) {
  return Guarded("Vendra.Utility.GetProductProperty", [&] {
    ObjectPtr product = Sls_GetComponent("Brevane.Product");
    return ItemOf(PropertiesOf(product, product_id), property_name);
  });
}

bool ValidProduct(int32_t product_id, std::string& error_key) {
  error_key.clear();
  return Guarded("Vendra.Utility.ValidProduct", [&] {
    const Variant disabled = GetProductProperty(product_id, "DISABLED");
    if (!disabled.IsNull() && disabled.ToBool()) {
      error_key = "VendraError_ProductDisabled";
      return false;
    }
    return ValidProductExpiry(GetProductProperty(product_id, "PRODUCTEXPIRYDATE"), error_key);
  });
}

bool ValidProductExpiry(const Variant& expiry, std::string& error_key) {
  if (expiry.IsMissing() || (expiry.IsString() && expiry.Get<std::string>()->empty()))
    return true;
  // Still valid on the expiry day itself.
  if (platform::Clock::Today() > expiry.ToDate()) {
    error_key = "VendraError_ProductExpired";
    return false;
  }
  return true;
}

bool ValidProduct(const ObjectPtr& properties, std::string& error_key) {
  error_key.clear();
  return Guarded("Vendra.Utility.ValidProduct", [&] {
    const Variant disabled = ItemOf(properties, "DISABLED");
    if (!disabled.IsNull() && disabled.ToBool()) {
      error_key = "VendraError_ProductDisabled";
      return false;
    }
    return ValidProductExpiry(ItemOf(properties, "PRODUCTEXPIRYDATE"), error_key);
  });
}

Variant GetMinProductProperty(const platform::VariantArray& product_ids,
                              const std::string& property_name) {
  return Guarded("Vendra.Utility", [&] {
    ObjectPtr product = Sls_GetComponent("Brevane.Product");
    std::vector<ObjectPtr> properties;
    properties.reserve(product_ids.size());
    // Product ids are 32-bit everywhere; a 16-bit conversion here would
    // fail for every product beyond the 32767th.
    for (const Variant& id : product_ids) properties.push_back(PropertiesOf(product, id.ToLong()));
    return MinProductProperty(properties, property_name);
  });
}

Variant MinProductProperty(const std::vector<ObjectPtr>& properties,
                           const std::string& property_name) {
  Variant minimum = Variant::Null();
  for (size_t i = 0; i < properties.size(); ++i) {
    const Variant value = ItemOf(properties[i], property_name);
    if (value.IsNull()) continue;
    if (i == 0) minimum = value;
    if (platform::Compare(minimum, value) == std::partial_ordering::greater) minimum = value;
  }
  return minimum;
}

int16_t Sls__DetermineAddressInfo(int32_t partner_id, int32_t& address_id,
                                  const std::string& address_kind, std::string& address_code,
                                  const std::string& connector_type) {
  try {
    ObjectPtr partner = Sls_GetComponent("Kelmor.BusinessPartner");
    std::vector<Variant> partner_arg{Variant(partner_id)};
    const int32_t default_id =
        CallRef(partner, address_kind == "INV" ? "GetPostalAddressID" : "GetShippingAddressID",
                partner_arg)
            .ToLong();
    const bool is_default = address_id == default_id;
    if (address_id == 0) address_id = default_id;

    std::vector<Variant> address_arg{Variant(address_id)};
    const Variant stored = CallRef(partner, "GetKROAddressCodeFromAddressID", address_arg);
    std::string code = stored.IsMissing() ? std::string() : stored.ToString();

    bool found = false;
    if (connector_type == "tw4") {
      // The connector keeps a 3-character code in front of a 1-character
      // check digit at the end of the stored code.
      code = LeftChars(RightChars(code, 4), 3);
      found = !(Trim(code).empty() || code == "000");
    } else if (connector_type == "tw5" || connector_type == "twkt") {
      code = LeftChars(code, 9);
      found = !Trim(code).empty();
    } else {
      return is_default ? 2 : 3;  // unknown connector: the code is left as passed
    }
    address_code = found ? code : std::string();
    if (found) return 1;
    return is_default ? 2 : 3;
  } catch (...) {
    LogFailure("Lib_Sales.Sls__DetermineAddressInfo()",
               Info(platform::CurrentError().description()));
    return 0;
  }
}

void ResetUserCache() { t_user_cache = UserCache{}; }

}  // namespace lib_sales
