// Manager ("Vendra.Manager") answers the settings the administration pages
// keep for customers (CUSTOMERSETTING) and back-end instances
// (ORDEREXPORTFILE): a customer's settings row, one named order-process value
// of an instance, and the order type an order of a customer gets when the
// page names none. The order submission asks it whether an instance takes
// orders at once; the back-end hand-over asks it for order types.
//
// Thread-safety: holds no state; every call opens and closes its own
// connection, so any number of objects may be used on any threads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/core/dispatch.h"
#include "platform/services/referential_integrity.h"

namespace platform::data {
class Recordset;
}

namespace vendra {

// The kind of order GetDefaultOrderType is asked about.
inline constexpr int32_t kCreditCardOrder = 1;

class Manager : public platform::Dispatchable<Manager>, public platform::IReferentialIntegrity {
 public:
  static const platform::ClassBinding<Manager>& Binding();

  // IReferentialIntegrity, for the master-data maintenance (sales/integrity/).
  bool Exists(const std::string& kind, const platform::Variant& keyNames,
              const platform::Variant& keyValues) override;
  bool BeforeDelete(const std::string& kind, const platform::Variant& keyNames,
                    const platform::Variant& keyValues) override;

  // The customer's CUSTOMERSETTING row (none when the customer has no
  // settings), detached and read-only.
  std::shared_ptr<platform::data::Recordset> GetCustomerSettingData(const std::string& i_sBPID);

  // Reads the ORDEREXPORTFILE column named by io_sProperty for the instance
  // and gives its value back in io_sProperty as text: "" when the instance
  // has no row or the value is Null or empty. The name must be a plain column
  // identifier (letters, digits, underscores, not starting with a digit);
  // anything else fails with error 5 and leaves io_sProperty as it was.
  void GetKROOrderProcessParam(int32_t i_lKROID, std::string& io_sProperty);

  // The order type of a customer's order: the customer's own setting
  // (CCORDERTYPE for a credit-card order, i_KindOfOrder 1; ORDERTYPE
  // otherwise); failing that the instance's CREDITCARDORDERTYPE and then the
  // sales parameter "Creditcard Ordertype for Backend" for a card order, the
  // instance's SALESORDERTYPE (possibly "") for any other.
  std::string GetDefaultOrderType(const std::string& i_sBPID, int32_t i_sKROID,
                                  int32_t i_KindOfOrder);
};

}  // namespace vendra
