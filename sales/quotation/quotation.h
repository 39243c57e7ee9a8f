// Quotation ("Vendra.Quotation") keeps priced offers made from a shopper's
// basket in the sales database (QUOTATIONHEADER, QUOTATIONLINE) and hands
// them to the pages as a QuotationDocument: a platform::Dictionary with a
// "header" record set (the one QUOTATIONHEADER row) and a "lines" record set
// (its QUOTATIONLINE rows), both client side, detached and batch-optimistic,
// the same shape as a basket's document.
//
// The class has four parts, each in its own file:
//   quotation.cpp           storage: Create, Save, Show, GetLines,
//                           CopyQuotation, Delete, DeleteLine, ...
//   quotation_pricing.cpp   prices lines and totals by the shop's price lists,
//                           the ERP or the product configurator
//   quotation_xml.cpp       the quotation document as XML (ConvertToXML)
//   quotation_reminder.cpp  the expiry-reminder run (Run and its steps)
//
// Every public operation opens its own connection, closes it before it
// returns, and reports a failure once under its own source.
//
// Thread-safety: an object keeps no state between calls except the rejected
// lines of its last CopyQuotation; one caller at a time per object, any
// number of objects on any threads.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/core/date.h"
#include "platform/core/dictionary.h"
#include "platform/core/dispatch.h"
#include "platform/services/referential_integrity.h"
#include "platform/core/object.h"
#include "platform/core/variant.h"

namespace platform::data {
class Connection;
class Recordset;
}  // namespace platform::data

namespace vendra {

class Pricing;
namespace quotation_detail {
class OperationReads;
}

// How a partner's quotations are priced (the partner's "PricingMethod").
enum class PricingMethod : int32_t { WebPricing = 1, KROPricing = 2 };

class Quotation : public platform::Dispatchable<Quotation>, public platform::IReferentialIntegrity {
 public:
  static const platform::ClassBinding<Quotation>& Binding();

  // IReferentialIntegrity, for the master-data maintenance (sales/integrity/).
  bool Exists(const std::string& kind, const platform::Variant& keyNames,
              const platform::Variant& keyValues) override;
  bool BeforeDelete(const std::string& kind, const platform::Variant& keyNames,
                    const platform::Variant& keyValues) override;

  using Document = std::shared_ptr<platform::Dictionary>;
  using Connection = std::shared_ptr<platform::data::Connection>;
  using RecordsetPtr = std::shared_ptr<platform::data::Recordset>;

  // --- storage (quotation.cpp) ---
  void Create(const platform::Variant& i_oBasket);
  bool Save(platform::Variant& i_oQuotation);
  Document Show(const std::string& sQuotationID, std::optional<platform::Variant> i_aLineID);
  Document GetLines(const std::string& i_sQuotationID, const platform::Variant& i_aLineID);
  Document CopyQuotation(const std::string& i_sQuotationID, platform::Variant& i_oFieldValues,
                         std::optional<platform::Variant> i_aLineID);
  void Delete(const platform::Variant& i_aQuotationID);
  void DeleteLine(const std::string& i_sQuotationID, const platform::Variant& i_aQuotationLineID);
  bool CheckQuotationLinesPresent(const std::string& sQuotationID);
  int32_t GetBPStoredInDB(platform::Variant& i_sQuoteID);

  // --- the document (quotation_xml.cpp) ---
  std::string ConvertToXML(platform::Variant& iQuotation,
                           const platform::ObjectPtr& ioMessageManager,
                           const std::string& iUserLocale);

  // --- the expiry-reminder run (quotation_reminder.cpp) ---
  void Run();
  void SendNotificationMail();
  platform::Variant fillLabelsArray();
  RecordsetPtr getToBeNotifiedQuotations();
  void UpdateNotificationStatus(platform::Variant& iQuotationRs);

 private:
  // --- storage steps (quotation.cpp); each works on its caller's connection
  // and reports its own failure before its caller does.
  // Prices the document and inserts its header and lines; true on success.
  bool CreateQuotation(const Document& document, const Connection& connection);
  void InsertQuotationHeader(const Document& document, const Connection& connection);
  void InsertQuotationLines(const Document& document, const Connection& connection);
  // The expiry date (today plus the customer's validity, never after the
  // earliest expiry of the products), whether the user is to be reminded and
  // how many days before expiry.
  void DetermineExpiry(const Document& document, const Connection& connection,
                       platform::Date& expiry, bool& notify, int32_t& notification_period);
  // The customer's CUSTOMERSETTING row, or the sales parameters without one.
  void ReadExpirySettings(const std::string& partner_id, const Connection& connection,
                          int32_t& expiration_period, bool& notify,
                          int32_t& notification_period);
  bool QuotationHasLines(const Connection& connection, const std::string& quotation_id);

  // --- pricing steps (quotation_pricing.cpp); nothing here writes to the
  // database.
  // Prices every line of a basket or quotation document and the header totals.
  void GetPriceInfo(const Document& document);
  // Re-prices the lines whose quantity or request date differ from the stored
  // line of the same number; true when one was.
  bool QuantityChanged(const Connection& connection, const Document& document);
  void RecalculateTotals(const Document& document);
  // "Discount", "PricingMethod", "Currency" or "HomeCurrency" of the partner.
  std::string GetPropertyValue(const std::string& name, const std::string& partner_id);
  std::string ReadPropertyValue(const std::string& name, const std::string& partner_id);
  // Prices the current line of lines from its product configuration.
  void CalcualteConfigurablePricing(platform::data::Recordset& lines,
                                    const std::string& currency_code,
                                    const std::string& home_currency_code);
  // The shop's price lists (Vendra.Pricing.GetWebPrice through pricing, which
  // the caller keeps for all lines of a document).
  void CalculateWebPricing(Pricing& pricing, const std::string& partner_id, const std::string& currency_code,
                           int32_t product_id, int32_t quantity, platform::Date price_date,
                           double& price, double& discount_amount, double& discount_perc,
                           double& line_amount);
  // The back end's price (Ferrolink.PriceTax) of the document's current line;
  // order_quantities holds each product's total over the document's lines.
  void CalculateKroPricing(const Document& document,
                           const std::map<int32_t, int32_t>& order_quantities, double& price,
                           double& discount_perc, double& discount_amount, double& line_amount);
  static std::string FormatDateYYYYMMDD(platform::Date date);

  // What the operation under way read from the catalogue and the partner,
  // each read once (created on first use, dropped when the operation ends).
  quotation_detail::OperationReads& Reads();

  // The part numbers CopyQuotation could not copy, with the error key of each.
  Document rejected_lines_;
  std::shared_ptr<quotation_detail::OperationReads> reads_;

  // The tests reach the private steps through it.
  friend struct QuotationTestPeer;
};

}  // namespace vendra
