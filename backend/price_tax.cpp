#include "backend/price_tax.h"

#include <vector>

#include "backend/action.h"
#include "platform/core/com_error.h"
#include "platform/core/text.h"
#include "shared/error_handling.h"

namespace ferrolink {

using platform::Variant;

const platform::ClassBinding<PriceTax>& PriceTax::Binding() {
  static const auto b = platform::ClassBinding<PriceTax>("PriceTax")
                            .Method("InitializeAction", &PriceTax::InitializeAction)
                            .Method("GetPriceAndOrTax", &PriceTax::GetPriceAndOrTax)
                            .Method("CloseAction", &PriceTax::CloseAction);
  return b;
}

void PriceTax::InitializeAction(const std::string& iVTWType, const std::string& iComponentID,
                                Variant& oErrorCode) {
  int32_t code = 0;
  oErrorCode = Variant(int32_t{0});
  component_ = OpenComponent(Role::PriceTax, iVTWType, iComponentID, code,
                             {"Ferrolink.PriceTax.InitializeAction", "PriceTax.InitializeAction"});
  oErrorCode = Variant(code);
}

void PriceTax::CloseAction() { CloseComponent(component_, "PriceTax.CloseAction"); }

void PriceTax::GetPriceAndOrTax(int32_t iOption, const std::string& iCustomer,
                                const std::string& iPartNumber, const std::string& iCurrency,
                                const std::string& iDate, int32_t iLineQuantity,
                                int32_t iOrderQuantity, const std::string& iUnit,
                                const std::string& iBillingAddress,
                                const std::string& iShippingAddress, const std::string& iCountry,
                                double iLineAmount, double iDiscountPerc, Variant& oUnitPrice,
                                Variant& oDiscountPerc, Variant& oDiscountAmount,
                                Variant& oTaxAmount, Variant& oTaxPerc, Variant& oTaxCode,
                                Variant& oTaxType, Variant& oTaxCodeDescription,
                                Variant& oCalculateTax, Variant& oErrorCode) {
  lib_sales::Guarded("PriceTax.GetPriceAndOrTax", [&] {
    const Variant zero(int32_t{0});
    oUnitPrice = oDiscountPerc = oDiscountAmount = zero;
    oTaxAmount = oTaxPerc = oTaxType = oCalculateTax = zero;
    oTaxCode = oTaxCodeDescription = oErrorCode = Variant("");

    std::vector<Variant> args{Variant(iOption),        Variant(iCustomer),
                              Variant(iPartNumber),    Variant(iCurrency),
                              Variant(iDate),          Variant(iLineQuantity),
                              Variant(iOrderQuantity), Variant(iUnit),
                              Variant(iBillingAddress), Variant(iShippingAddress),
                              Variant(iCountry),       Variant(iLineAmount),
                              Variant(iDiscountPerc)};
    const platform::ObjectPtr result =
        platform::CallRef(component_, "GetPriceAndOrTax", args).ToObject();
    const std::string code = platform::Call(result, "getErrorCode").ToString();
    oErrorCode = Variant(code);
    if (!platform::text::TrimBlanks(code).empty()) return;
    if (iOption == 1) {
      const double unit_price = platform::Call(result, "getUnitPrice").ToDouble();
      const double perc = platform::Call(result, "getDiscountPercentage").ToDouble();
      const double total = platform::Call(result, "getTotDiscountAmount").ToDouble();
      if (iLineQuantity == 0) {
        platform::Raise(11, "PriceTax.GetPriceAndOrTax",
                        "Division by zero: the line quantity is 0");
      }
      oUnitPrice = Variant(unit_price);
      oDiscountPerc = Variant(perc);
      oDiscountAmount = Variant(total / iLineQuantity);
    } else if (iOption == 2) {
      oTaxAmount = Variant(platform::Call(result, "getTaxAmount").ToDouble());
      oTaxPerc = Variant(platform::Call(result, "getTaxPercentage").ToDouble());
      oTaxCode = Variant(platform::Call(result, "getTaxCode").ToString());
      oTaxType = Variant(platform::Call(result, "getTaxType").ToString());
      oTaxCodeDescription = Variant(platform::Call(result, "getTaxCodeDescription").ToString());
      oCalculateTax = Variant(platform::Call(result, "getCalculateTax").ToInteger());
    }
  });
}

}  // namespace ferrolink
