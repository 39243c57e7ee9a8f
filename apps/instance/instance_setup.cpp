#include "apps/instance/instance_setup.h"

#include <unistd.h>

#include <cctype>
#include <fstream>
#include <mutex>
#include <pugixml.hpp>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "apps/instance/databases.h"
#include "apps/instance/demo_exports.h"
#include "backend/register.h"
#include "platform/core/com_error.h"
#include "platform/data/instance_databases.h"
#include "platform/data/postgres/pg_driver.h"
#include "platform/dts/package_store.h"
#include "platform/erp/selector.h"
#include "platform/services/register.h"
#include "sales/register.h"

namespace vendra_instance {

namespace {

constexpr const char* kSource = "vendra.init";
constexpr int32_t kFileAlreadyExists = 58;

struct Setting {
  const char* section;
  const char* key;
  const char* value;
  const char* note;  // written as a comment above the item
};

// Every sales parameter with the value a new shop starts from
// (docs/instance.md explains each), plus the two application settings the
// basket document and the mail senders read from the same file.
constexpr Setting kSalesSettings[] = {
    {"DIRECTPAYMENT_PARAMETERS", "CyberSource Serverhost", "payments.example.com",
     "host of the card payment service"},
    {"DIRECTPAYMENT_PARAMETERS", "Authorization Hard Expiration", "30",
     "days after which a card authorisation can no longer be captured"},
    {"DIRECTPAYMENT_PARAMETERS", "Authorization Soft Expiration", "7",
     "days after which a card authorisation should be renewed"},
    {"DIRECTPAYMENT_PARAMETERS", "Reallocation", "0", "1: re-authorise on reallocation"},
    {"DIRECTPAYMENT_PARAMETERS", "Creditcard Ordertype for Backend", "CC",
     "ERP order type of card orders when neither customer nor instance names one"},
    {"DIRECTPAYMENT_PARAMETERS", "BackendSalesOrderType BillingStepNumber", "1",
     "ERP billing step of card orders"},
    {"DIRECTPAYMENT_PARAMETERS", "InvoiceText", "Paid by credit card",
     "footer text of card-paid orders in the ERP"},
    {"FREIGHT_PARAMETERS", "FreightPartNumber", "FREIGHT", "part number of the freight line"},
    {"FREIGHT_PARAMETERS", "Freight Unit-code", "PCS", "unit of the freight line"},
    {"FREIGHT_PARAMETERS", "Multiple Ship-from Zones", "0",
     "1: freight groups ship from several zones"},
    {"FREIGHT_PARAMETERS", "Ship-from Zone", "1", "zone id goods ship from"},
    {"GENERAL_PARAMETERS", "CreditCardUse", "0", "1: customers may pay by card"},
    {"GENERAL_PARAMETERS", "EnableFreight", "1", "1: freight is charged"},
    {"GENERAL_PARAMETERS", "TaxSource", "1", "1: taxes from the shop, 2: from the ERP"},
    {"GENERAL_PARAMETERS", "KRC Virtual Directory", "krc",
     "virtual directory of the ERP's web pages"},
    {"GENERAL_PARAMETERS", "HomeOrganisation", "1000",
     "business partner id of the shop's own organisation"},
    {"GENERAL_PARAMETERS", "SubmittedOrderListPage", "OrderList.asp",
     "page listing a customer's submitted orders"},
    {"GENERAL_PARAMETERS", "EnableGetInventoryButton", "1", "1: pages offer the stock query"},
    {"GENERAL_PARAMETERS", "EnableATPCheckButtons", "1",
     "1: pages offer the available-to-promise check"},
    {"GENERAL_PARAMETERS", "QuotationImplemented", "1",
     "1: quotations are in use (and expiry notices are sent)"},
    {"GENERAL_PARAMETERS", "ShowTaxOnInvoiceOrders", "1",
     "1: baskets paid by invoice show their taxes"},
    {"GENERAL_PARAMETERS", "SMTPMailPickupDirectory", "mail\\pickup",
     "pickup directory of outgoing mail (relative: under the instance home)"},
    {"QUOTATION_PARAMETERS", "Expiration Period", "30", "days a new quotation stays valid"},
    {"QUOTATION_PARAMETERS", "Send Notification", "1",
     "1: mail the customer before a quotation expires"},
    {"QUOTATION_PARAMETERS", "Notification Period Before Expiry Date", "7",
     "days before expiry the notice is sent"},
    {"QUOTATION_PARAMETERS", "Logo", "logo.gif", "image at the top of a printed quotation"},
    {"QUOTATION_PARAMETERS", "Watermark Image", "watermark.gif",
     "background image of a printed quotation"},
    {"QUOTATION_PARAMETERS", "Print Configurations", "1",
     "1: printed quotations list the options of configured products"},
};

constexpr Setting kSiteSettings[] = {
    {"MEMBERSHIP", "MemScriptUser", "cn=VendraScript", "directory account the shop signs on with"},
    {"MEMBERSHIP", "MemScriptCode", "vendra-demo", "its password"},
    {"MEMBERSHIP", "LDAPRoot", "o=VendraShop", "directory root appended to the account"},
    {"COMMONPARAMETERS", "HELPEMAIL", "help@shop.example", "address customers write to for help"},
    {"COMMONPARAMETERS", "SSLMODE", "NONE", "NONE: plain HTTP; anything else: HTTPS"},
    {"GLOBAL", "NONSECUREHOSTNAME", "localhost", "host name of the shop over HTTP"},
    {"GLOBAL", "SECUREHOSTNAME", "localhost", "host name of the shop over HTTPS"},
    {"GLOBAL", "APPLICATIONDIRECTORY", "shop", "directory of the shop under the host"},
    {"GLOBAL", "SITENAME", "Vendra Demo Shop", "name of the shop shown to customers"},
};

constexpr const char* kConnectionString = "Provider=SQLite;Data Source=data;Initial Catalog=Vendra";

std::string ToText(const pugi::xml_document& doc) {
  std::ostringstream out;
  doc.save(out, "  ", pugi::format_default, pugi::encoding_utf8);
  return out.str();
}

// Written to a temporary name and renamed, so a reader never sees half a file.
void WriteFileAtomically(const std::filesystem::path& file, const std::string& text) {
  std::filesystem::path temporary = file;
  temporary += ".tmp-" + std::to_string(::getpid());
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) {
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      platform::Raise(platform::err::kPermissionDenied, kSource,
                      "Cannot write '" + file.string() + "'");
    }
  }
  std::error_code ec;
  std::filesystem::rename(temporary, file, ec);
  if (ec) {
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    platform::Raise(platform::err::kPermissionDenied, kSource,
                    "Cannot write '" + file.string() + "': " + ec.message());
  }
}

pugi::xml_document ConfigurationDocument(const char* purpose, std::span<const Setting> settings,
                                         bool with_connection_string) {
  pugi::xml_document doc;
  auto decl = doc.append_child(pugi::node_declaration);
  decl.append_attribute("version") = "1.0";
  decl.append_attribute("encoding") = "utf-8";
  doc.append_child(pugi::node_comment).set_value(purpose);
  pugi::xml_node root = doc.append_child("configuration");
  if (with_connection_string) {
    pugi::xml_node cs = root.append_child("connectionstrings").append_child("connectionstring");
    cs.append_attribute("application") = "Vendra";
    cs.text() = kConnectionString;
  }
  pugi::xml_node section;
  for (const Setting& s : settings) {
    if (!section || std::string_view(section.attribute("name").value()) != s.section) {
      section = root.append_child("section");
      section.append_attribute("name") = s.section;
    }
    section.append_child(pugi::node_comment).set_value((std::string(" ") + s.note + " ").c_str());
    pugi::xml_node item = section.append_child("item");
    item.append_attribute("key") = s.key;
    item.text() = s.value;
  }
  return doc;
}

// The databases an instance keeps on a server: each catalog (and the
// package store) as <prefix>_<catalog>, lower case, so that several
// instances can share one server.
std::vector<std::pair<std::string, std::string>> ServerDatabases(const std::string& url) {
  std::vector<std::pair<std::string, std::string>> out;
  if (url.empty()) return out;
  const std::string base = platform::data::postgres::ConnectionStringFromUrl(url);
  std::string prefix = platform::data::ConnectionSettings::Parse(base).catalog();
  if (prefix == "postgres") prefix = "vendra";  // the address named no database
  for (char c : prefix) {
    if (!(std::islower(static_cast<unsigned char>(c)) || std::isdigit(static_cast<unsigned char>(c)) ||
          c == '_')) {
      platform::Raise(platform::err::kInvalidProcedureCall, kSource,
                      "The database prefix '" + prefix +
                          "' may hold only lower-case letters, digits and '_'");
    }
  }
  std::vector<std::string> catalogs = EmbeddedCatalogs();
  catalogs.emplace_back(platform::dts::kStoreCatalog);
  for (const std::string& catalog : catalogs) {
    std::string name = prefix + "_" + catalog;
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    out.emplace_back(catalog, platform::data::postgres::ConnectionStringFromUrl(url, name));
  }
  return out;
}

pugi::xml_document PlatformDocument(const std::string& database_url) {
  pugi::xml_document doc;
  auto decl = doc.append_child(pugi::node_declaration);
  decl.append_attribute("version") = "1.0";
  decl.append_attribute("encoding") = "utf-8";
  doc.append_child(pugi::node_comment)
      .set_value(" The platform of this instance: its web applications and their configuration"
                 " directories (relative to this file's directory). See docs/configuration.md. ");
  pugi::xml_node root = doc.append_child("platform");
  root.append_attribute("version") = "1";
  root.append_child("server").append_attribute("locale") = "1033";
  root.append_child("site").append_attribute("application") = "Vendra";
  pugi::xml_node app = root.append_child("webapplications").append_child("webapplication");
  app.append_attribute("name") = "Vendra";
  app.append_attribute("site") = "Default Web Site";
  app.append_attribute("virtualdirectory") = "shop";
  app.append_attribute("configdir") = "config";
  const auto databases = ServerDatabases(database_url);
  if (!databases.empty()) {
    pugi::xml_node list = root.append_child("databases");
    list.append_attribute("server") = database_url.c_str();
    for (const auto& [catalog, cs] : databases) {
      pugi::xml_node db = list.append_child("database");
      db.append_attribute("catalog") = catalog.c_str();
      db.append_attribute("connectionstring") = cs.c_str();
    }
  }
  return doc;
}

// Removes, on failure, what this run created, so a second `vendra init` can
// start again and nothing half-made looks like an instance.
class Rollback {
 public:
  explicit Rollback(std::filesystem::path home) : home_(std::move(home)) {}
  ~Rollback() {
    if (committed_) return;
    std::error_code ignored;
    for (auto it = created_.rbegin(); it != created_.rend(); ++it)
      std::filesystem::remove_all(*it, ignored);
  }
  Rollback(const Rollback&) = delete;
  Rollback& operator=(const Rollback&) = delete;

  // Notes a path before it is created, when it does not exist yet.
  void Track(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) created_.push_back(path);
  }
  void Commit() { committed_ = true; }

 private:
  std::filesystem::path home_;
  std::vector<std::filesystem::path> created_;
  bool committed_ = false;
};

void CreateDirectory(const std::filesystem::path& dir) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) {
    platform::Raise(platform::err::kPermissionDenied, kSource,
                    "Cannot create the directory '" + dir.string() + "': " + ec.message());
  }
}

}  // namespace

void RegisterAllComponents() {
  static std::once_flag once;
  std::call_once(once, [] {
    platform::RegisterPlatformComponents();
    platform::erp::RegisterErpComponents();
    vendra::RegisterComponents();
    ferrolink::RegisterComponents();
    RegisterStoredProcedures();
  });
}

void CreateInstance(const std::filesystem::path& home_in, bool demo,
                    const std::string& database_url) {
  const std::filesystem::path home = std::filesystem::absolute(home_in).lexically_normal();
  const std::filesystem::path config = home / "config";
  const std::filesystem::path platform_file = home / "platform.xml";
  const std::filesystem::path sales_file = config / "VendraConfiguration.xml";
  const std::filesystem::path site_file = config / "siteconfiguration.xml";

  std::error_code ec;
  if (std::filesystem::exists(platform_file, ec)) {
    platform::Raise(kFileAlreadyExists, kSource,
                    "'" + home.string() + "' already holds an instance (platform.xml is there); "
                    "choose another directory or remove it first");
  }
  // Configuration someone left here is theirs: never overwrite it.
  for (const auto& file : {sales_file, site_file}) {
    if (std::filesystem::exists(file, ec)) {
      platform::Raise(kFileAlreadyExists, kSource,
                      "'" + file.string() + "' exists already; remove it or choose another "
                      "directory");
    }
  }

  Rollback rollback(home);
  rollback.Track(home);
  CreateDirectory(home);
  for (const char* sub : {"config", "data", "logs", "mail", "exchange"}) {
    rollback.Track(home / sub);
    CreateDirectory(home / sub);
  }
  CreateDirectory(home / "mail" / "pickup");

  rollback.Track(sales_file);
  WriteFileAtomically(sales_file,
                      ToText(ConfigurationDocument(
                          " The sales configuration of the Vendra application: its connection"
                          " string and the sales parameters. See docs/instance.md. ",
                          kSalesSettings, true)));
  rollback.Track(site_file);
  WriteFileAtomically(site_file, ToText(ConfigurationDocument(
                                     " The site configuration: directory sign-on, help address,"
                                     " host names. See docs/instance.md. ",
                                     kSiteSettings, false)));
  // platform.xml marks the directory as an instance, and the databases are
  // created through it, so it comes before them; the rollback removes it
  // again if they fail.
  rollback.Track(platform_file);
  WriteFileAtomically(platform_file, ToText(PlatformDocument(database_url)));
  platform::data::ForgetInstanceDatabases();

  CreateDatabases(home, demo);
  if (demo) WriteDemoExports(home / "exchange");
  rollback.Commit();
}

}  // namespace vendra_instance
