// PriceTax ("Ferrolink.PriceTax") asks the back end for a line price
// (option 1) or for tax (option 2) through the connector's price-and-tax
// component: InitializeAction, GetPriceAndOrTax, CloseAction. A back-end
// refusal comes back as a non-blank oErrorCode; a failure of the call
// itself is logged and raised.
//
// Thread-safety: one caller at a time per object.
#pragma once

#include <cstdint>
#include <string>

#include "platform/core/dispatch.h"

namespace ferrolink {

class PriceTax : public platform::Dispatchable<PriceTax> {
 public:
  static const platform::ClassBinding<PriceTax>& Binding();

  void InitializeAction(const std::string& iVTWType, const std::string& iComponentID,
                        platform::Variant& oErrorCode);
  void CloseAction();
  void GetPriceAndOrTax(int32_t iOption, const std::string& iCustomer,
                        const std::string& iPartNumber, const std::string& iCurrency,
                        const std::string& iDate, int32_t iLineQuantity, int32_t iOrderQuantity,
                        const std::string& iUnit, const std::string& iBillingAddress,
                        const std::string& iShippingAddress, const std::string& iCountry,
                        double iLineAmount, double iDiscountPerc, platform::Variant& oUnitPrice,
                        platform::Variant& oDiscountPerc, platform::Variant& oDiscountAmount,
                        platform::Variant& oTaxAmount, platform::Variant& oTaxPerc,
                        platform::Variant& oTaxCode, platform::Variant& oTaxType,
                        platform::Variant& oTaxCodeDescription, platform::Variant& oCalculateTax,
                        platform::Variant& oErrorCode);

 private:
  platform::ObjectPtr component_;
};

}  // namespace ferrolink
