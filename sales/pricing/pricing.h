// Pricing ("Vendra.Pricing") keeps the shop's two price lists in the sales
// database, PRODUCTPRICE (a product's price in a currency from an effective
// date on) and CUSTOMERPRICE (the same for one business partner), and
// determines the web price of a product for a partner, a currency and a day.
//
// A page sets the properties (ProductID, BusinessPartnerID, CurrencyCode,
// EffectiveDate, ExpiryDate, Price, DiscountPercent, DiscountAmount; all
// start Empty and keep whatever the caller stores) and calls AddPricing,
// UpdatePricing or DeletePricing with the customer-list flag, or loads one
// row into the properties with GetCustomerPrice, GetProductPrice or
// GetWebPrice. Within a price group (one list, product and currency, and
// partner) no two rows are valid on the same moment: the effective date is
// inclusive, the expiry date exclusive, a null expiry open-ended.
// docs/pricing.md describes it for page developers.
//
// Every operation opens its own connection and closes it before it returns;
// failures are raised with the numbers of VendraError and logged once under
// "Pricing.<operation>".
//
// Thread-safety: an object is used by one caller at a time. It keeps its
// properties and the currency component (created on the first GetWebPrice)
// between calls.
#pragma once

#include <cstdint>
#include <string>

#include "platform/core/date.h"
#include "platform/core/dispatch.h"
#include "platform/services/referential_integrity.h"
#include "platform/core/object.h"
#include "platform/core/variant.h"

namespace platform::data {
class Recordset;
}

namespace vendra {

class Pricing : public platform::Dispatchable<Pricing>, public platform::IReferentialIntegrity {
 public:
  static const platform::ClassBinding<Pricing>& Binding();

  // IReferentialIntegrity, for the master-data maintenance (sales/integrity/).
  bool Exists(const std::string& kind, const platform::Variant& keyNames,
              const platform::Variant& keyValues) override;
  bool BeforeDelete(const std::string& kind, const platform::Variant& keyNames,
                    const platform::Variant& keyValues) override;

  // The price in iCurrencyCode that applies to the partner on the day: true
  // with the row loaded into the properties (price and discount amount
  // converted when the row is in another currency), false when no row
  // applies (the properties stay as they were).
  bool GetWebPrice(int32_t iProductID, int32_t iBusinessPartnerID, platform::Date iOrderDate,
                   const std::string& iCurrencyCode);
  // Stores the properties as a new row of the customer list (true) or the
  // product list (false), after validation, the range check and the
  // referential check.
  bool AddPricing(bool iCustomerPricing);
  // Rewrites expiry, price and discounts of the row the properties identify.
  bool UpdatePricing(bool iCustomerPricing);
  // Deletes the row the properties identify (none there is no failure).
  bool DeletePricing(bool iCustomerPricing);
  // Load one row, identified exactly, into the properties.
  bool GetCustomerPrice(int32_t iProductID, int32_t iBusinessPartnerID,
                        platform::Date iEffectiveDate, const std::string& iCurrencyCode);
  bool GetProductPrice(int32_t iProductID, platform::Date iEffectiveDate,
                       const std::string& iCurrencyCode);

  // The property checks of AddPricing and UpdatePricing, in their fixed
  // order; raises the first that fails, else true.
  bool ValidatePricing(bool customer) const;

  // The properties.
  platform::Variant ProductID() const { return product_id_; }
  void SetProductID(const platform::Variant& v) { product_id_ = v; }
  platform::Variant BusinessPartnerID() const { return business_partner_id_; }
  void SetBusinessPartnerID(const platform::Variant& v) { business_partner_id_ = v; }
  platform::Variant CurrencyCode() const { return currency_code_; }
  void SetCurrencyCode(const platform::Variant& v) { currency_code_ = v; }
  platform::Variant EffectiveDate() const { return effective_date_; }
  void SetEffectiveDate(const platform::Variant& v) { effective_date_ = v; }
  platform::Variant ExpiryDate() const { return expiry_date_; }
  void SetExpiryDate(const platform::Variant& v) { expiry_date_ = v; }
  platform::Variant Price() const { return price_; }
  void SetPrice(const platform::Variant& v) { price_ = v; }
  platform::Variant DiscountPercent() const { return discount_percent_; }
  void SetDiscountPercent(const platform::Variant& v) { discount_percent_ = v; }
  platform::Variant DiscountAmount() const { return discount_amount_; }
  void SetDiscountAmount(const platform::Variant& v) { discount_amount_ = v; }

 private:
  void LoadFromRecord(platform::data::Recordset& record);
  // The range query of AddPricing (later == false) or UpdatePricing (true).
  std::string RangeQuery(bool customer, bool later) const;
  // The insert and update values, typed and rounded to the columns' scales.
  platform::Variant BoundPrice() const;
  platform::Variant BoundDiscountPercent() const;
  platform::Variant BoundDiscountAmount() const;
  platform::Variant BoundExpiry() const;

  platform::Variant product_id_;
  platform::Variant business_partner_id_;
  platform::Variant currency_code_;
  platform::Variant effective_date_;
  platform::Variant expiry_date_;
  platform::Variant price_;
  platform::Variant discount_percent_;
  platform::Variant discount_amount_;
  platform::ObjectPtr currency_service_;  // Kelmor.Currency, kept for the object's life
};

}  // namespace vendra
