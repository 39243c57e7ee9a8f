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
  // The part numbers CopyQuotation could not copy, with the error key of each.
  Document rejected_lines_;
};

}  // namespace vendra
