#include "platform/services/configurator.h"

#include <cstdio>
#include <optional>

#include "platform/core/clock.h"
#include "platform/core/com_error.h"
#include "platform/core/guid.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/core/text.h"

namespace platform {

namespace {

constexpr char kSource[] = "Syntaro.Configurator";
constexpr char kSyntaro[] = "Provider=SQLite;Data Source=data;Initial Catalog=Syntaro";

constexpr char kCopyHeaderSql[] =
    "INSERT INTO CONFIGURATION (CONFIGURATIONID, SKU, COMPLETE, PRICINGCODE, PRICE, "
    "CURRENCYCODE, LANGUAGE, COUNTRYCODE, COPIEDFROM, CREATED) "
    "SELECT ?, SKU, COMPLETE, PRICINGCODE, PRICE, CURRENCYCODE, ?, ?, CONFIGURATIONID, ? "
    "FROM CONFIGURATION WHERE CONFIGURATIONID = ?";
constexpr char kCopyOptionsSql[] =
    "INSERT INTO CONFIGURATIONOPTION (CONFIGURATIONID, SEQUENCENUMBER, FEATURECODE, "
    "FEATUREDESCRIPTION, OPTIONVALUE) "
    "SELECT ?, SEQUENCENUMBER, FEATURECODE, FEATUREDESCRIPTION, OPTIONVALUE "
    "FROM CONFIGURATIONOPTION WHERE CONFIGURATIONID = ?";
constexpr char kOptionsSql[] =
    "SELECT FEATURECODE, SEQUENCENUMBER, FEATUREDESCRIPTION, OPTIONVALUE "
    "FROM CONFIGURATIONOPTION WHERE CONFIGURATIONID = ? ORDER BY SEQUENCENUMBER";

constexpr std::string_view kPieceSeparator = "VOP";

// Ids reach the configurator from document columns that may carry padding.
std::string Trimmed(const std::string& s) { return std::string(text::TrimBlanks(s)); }

// Empty and Null are "not given" here, so they become a Null column or an
// empty field rather than the text of a missing value.
Variant TextOrNull(const std::string& text) {
  return text.empty() ? Variant::Null() : Variant(text);
}

std::string FieldText(const Variant& value) { return value.IsMissing() ? std::string() : value.ToString(); }

[[noreturn]] void RaiseNotFound(const std::string& id) {
  Raise(configurator_err::kConfigurationNotFound, kSource, "Configuration not found: '" + id + "'");
}

std::string NewConfigurationId() {
  const std::optional<Guid> guid = NewGuid();
  if (!guid) Raise(err::kUnspecified, kSource, "No new configuration id could be had");
  char text[33];
  std::snprintf(text, sizeof text, "%08X%04X%04X%02X%02X%02X%02X%02X%02X%02X%02X",
                static_cast<unsigned>(guid->data1), static_cast<unsigned>(guid->data2),
                static_cast<unsigned>(guid->data3), guid->data4[0], guid->data4[1], guid->data4[2],
                guid->data4[3], guid->data4[4], guid->data4[5], guid->data4[6], guid->data4[7]);
  return text;
}

// A caller's value echoed into a description must not carry a separator,
// or every reader would take the wrong fields from then on.
std::string EchoedField(const Variant& value, const char* what) {
  std::string text = FieldText(value);
  if (text.find(',') != std::string::npos || text.find(kPieceSeparator) != std::string::npos)
    Raise(err::kInvalidProcedureCall, kSource,
          std::string("The ") + what + " '" + text + "' holds ',' or 'VOP'");
  return text;
}

}  // namespace

// --- ConfigurationService ---------------------------------------------------------

const ClassBinding<ConfigurationService>& ConfigurationService::Binding() {
  static const auto b =
      ClassBinding<ConfigurationService>("ConfigurationService")
          .Method("CopyConfiguration", &ConfigurationService::CopyConfiguration)
          .Method("IsConfigurationComplete", &ConfigurationService::IsConfigurationComplete)
          .Method("GetConfigurationPricingCode", &ConfigurationService::GetConfigurationPricingCode)
          .Method("GetConfigurationPrice", &ConfigurationService::GetConfigurationPrice)
          .Method("GetConfigurationCurrency", &ConfigurationService::GetConfigurationCurrency)
          .Method("GetConfigurationDescription", &ConfigurationService::GetConfigurationDescription)
          .Method("Release", &ConfigurationService::Release);
  return b;
}

ConfigurationService::ConfigurationService() = default;
ConfigurationService::~ConfigurationService() = default;

std::shared_ptr<data::Connection> ConfigurationService::Db() {
  if (!db_ || !db_->IsOpen()) {
    db_ = std::make_shared<data::Connection>();
    db_->Open(kSyntaro);
  }
  return db_;
}

void ConfigurationService::Release() {
  if (db_) db_->Close();
  db_.reset();
}

Variant ConfigurationService::Column(const std::string& configuration_id, const char* column) {
  const std::string id = Trimmed(configuration_id);
  // The column name is one of this file's constants, never a caller's text.
  auto rs = Db()->Execute(std::string("SELECT ") + column +
                              " FROM CONFIGURATION WHERE CONFIGURATIONID = ?",
                          {Variant(id)});
  if (!rs || rs->Eof()) RaiseNotFound(id);
  return rs->Value(column);
}

std::string ConfigurationService::CopyConfiguration(const std::string& configuration_id,
                                                    const std::string& sku,
                                                    const std::string& language,
                                                    const std::string& country_code) {
  const std::string id = Trimmed(configuration_id);
  // The product arrives as text; the Variant rules say what a number is.
  const int32_t product = Variant(sku).ToLong();
  const std::shared_ptr<data::Connection> db = Db();
  data::Transaction tx(*db);
  auto source = db->Execute("SELECT SKU FROM CONFIGURATION WHERE CONFIGURATIONID = ?", {Variant(id)});
  if (!source || source->Eof()) RaiseNotFound(id);
  const int32_t own_product = source->Value("SKU").ToLong();
  if (own_product != product)
    Raise(configurator_err::kWrongProduct, kSource,
          "Configuration '" + id + "' is of product " + std::to_string(own_product) + ", not of " +
              std::to_string(product));
  const std::string new_id = NewConfigurationId();
  db->Execute(kCopyHeaderSql, {Variant(new_id), TextOrNull(language), TextOrNull(country_code),
                               Variant(Clock::Now()), Variant(id)});
  db->Execute(kCopyOptionsSql, {Variant(new_id), Variant(id)});
  tx.Commit();
  return new_id;
}

bool ConfigurationService::IsConfigurationComplete(const std::string& configuration_id) {
  return Column(configuration_id, "COMPLETE").ToBool();
}

int32_t ConfigurationService::GetConfigurationPricingCode(const std::string& configuration_id) {
  return Column(configuration_id, "PRICINGCODE").ToLong();
}

Currency ConfigurationService::GetConfigurationPrice(const std::string& configuration_id) {
  return Column(configuration_id, "PRICE").ToCurrency();
}

std::string ConfigurationService::GetConfigurationCurrency(const std::string& configuration_id) {
  return Column(configuration_id, "CURRENCYCODE").ToString();
}

std::string ConfigurationService::GetConfigurationDescription(const std::string& configuration_id,
                                                              const Variant& order_id,
                                                              const Variant& line_id) {
  const std::string id = Trimmed(configuration_id);
  const std::string order = EchoedField(order_id, "order id");
  const std::string line = EchoedField(line_id, "line id");
  const std::shared_ptr<data::Connection> db = Db();
  auto header = db->Execute("SELECT SKU, COMPLETE FROM CONFIGURATION WHERE CONFIGURATIONID = ?",
                            {Variant(id)});
  if (!header || header->Eof()) RaiseNotFound(id);
  const std::string sku = header->Value("SKU").ToString();
  std::string text = "CONFIGURATION," + id + "," + sku + "," +
                     (header->Value("COMPLETE").ToBool() ? "1" : "0");
  auto options = db->Execute(kOptionsSql, {Variant(id)});
  for (; options && !options->Eof(); options->MoveNext()) {
    text.append(kPieceSeparator);
    text += id + "," + order + "," + line + "," + sku + ",";
    text += FieldText(options->Value("FEATURECODE")) + ",";
    text += FieldText(options->Value("SEQUENCENUMBER")) + ",";
    text += FieldText(options->Value("FEATUREDESCRIPTION")) + ",";
    text += FieldText(options->Value("OPTIONVALUE"));
  }
  return text;
}

// --- Configurator -------------------------------------------------------------------

const ClassBinding<Configurator>& Configurator::Binding() {
  static const auto b = ClassBinding<Configurator>("Configurator")
                            .Method("GetConfigurationService", &Configurator::GetConfigurationService);
  return b;
}

std::shared_ptr<ConfigurationService> Configurator::GetConfigurationService() {
  return std::make_shared<ConfigurationService>();
}

}  // namespace platform
