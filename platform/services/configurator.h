// Syntaro.Configurator is the shop platform's product configurator: it keeps
// the configurations shoppers made of configurable products (which option
// was chosen for each feature, whether the configuration is complete, what
// the configured product costs) in the Syntaro database, tables
// CONFIGURATION and CONFIGURATIONOPTION.
//
// The sales objects reach it in two steps: the Configurator object hands out
// its configuration service (GetConfigurationService), and the service
// answers per configuration id. Every id and argument travels as text, as
// the pages and the sales objects pass them.
//
// A configuration description is one text: a leading piece describing the
// configuration, then for each chosen option, in sequence, "VOP" followed by
// eight fields separated by ",":
//   configuration id, order id, line id, SKU, feature code, sequence number,
//   feature description, option value
// Readers ignore the leading piece and take fields 4 to 7. The store refuses
// texts holding "," or "VOP", so a description always splits cleanly.
//
// Thread-safety: a service object serves one caller at a time (it keeps its
// connection between calls); separate objects may be used on separate
// threads. The Configurator object holds nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/core/currency.h"
#include "platform/core/dispatch.h"

namespace platform::data {
class Connection;
}

namespace platform {

// Failures of the configurator (source "Syntaro.Configurator").
namespace configurator_err {
inline constexpr int32_t kConfigurationNotFound = static_cast<int32_t>(0x80042401u);
// A copy asked for another product than the configuration's own.
inline constexpr int32_t kWrongProduct = static_cast<int32_t>(0x80042402u);
}  // namespace configurator_err

class ConfigurationService : public Dispatchable<ConfigurationService> {
 public:
  static const ClassBinding<ConfigurationService>& Binding();

  ConfigurationService();
  ~ConfigurationService() override;

  // Stores a copy of the configuration (choices, state, price) for the same
  // product under a new id, with the shopper's language and country, and
  // returns the new id (32 hexadecimal digits). sku must be the
  // configuration's own product; an unknown id fails and stores nothing.
  std::string CopyConfiguration(const std::string& configuration_id, const std::string& sku,
                                const std::string& language, const std::string& country_code);

  bool IsConfigurationComplete(const std::string& configuration_id);
  // 1: the configuration has no price of its own; anything else: it has.
  int32_t GetConfigurationPricingCode(const std::string& configuration_id);
  Currency GetConfigurationPrice(const std::string& configuration_id);
  std::string GetConfigurationCurrency(const std::string& configuration_id);
  // The description (see above) of the configuration as chosen for one order
  // or quotation line. order_id and line_id are echoed in each option's
  // fields 1 and 2; an empty or Null one stays empty. A value holding "," or
  // "VOP" would break the description apart and is refused (error 5).
  std::string GetConfigurationDescription(const std::string& configuration_id,
                                          const Variant& order_id, const Variant& line_id);

  // Lets go of the connection; the object stays usable.
  void Release();

 private:
  std::shared_ptr<data::Connection> Db();
  // One column of the configuration's row; an unknown id fails.
  Variant Column(const std::string& configuration_id, const char* column);

  std::shared_ptr<data::Connection> db_;
};

class Configurator : public Dispatchable<Configurator> {
 public:
  static const ClassBinding<Configurator>& Binding();

  // A new service object for the caller.
  std::shared_ptr<ConfigurationService> GetConfigurationService();
};

}  // namespace platform
