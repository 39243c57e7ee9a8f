// Basket ("Vendra.Basket") keeps a web shopper's shopping basket in the sales
// database (BASKETHEADER, BASKETLINE) and hands it to the pages as a
// BasketDocument: a platform::Dictionary holding
//   "header"  a record set with the one BASKETHEADER row (every column)
//   "lines"   a record set with the basket's BASKETLINE rows
// and, set by the pages, "origin" (1: a quotation being ordered),
// "_language" and "_countrycode" (the shopper's, read by Copy). Both record
// sets are client side, detached and batch-optimistic: the pages change them
// freely and Save writes every pending change in one transaction. The same
// document is what Order.SubmitBasket and Quotation.Create take; docs/basket.md
// describes it for page developers.
//
// Line numbers: a new line gets the BASKETLINENR of the last line of the
// lines set plus 1 (1 for an empty set). Numbers are never reused or
// renumbered here, so deleting a line leaves a gap.
//
// Every public operation opens its own connection, closes it before it
// returns, and reports a failure once in the log under its own source
// ("Vendra.Basket.Save()"); a failure inside one of the steps it runs
// (SaveBasket, ...) is reported by the step as well, so it appears twice.
//
// Thread-safety: a Basket holds no state between calls; any number of
// objects may be used on any threads. A document is used by one caller at a
// time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/core/date.h"
#include "platform/core/dictionary.h"
#include "platform/core/dispatch.h"
#include "platform/services/referential_integrity.h"

namespace platform::data {
class Connection;
class Recordset;
}  // namespace platform::data

namespace vendra {

class Basket : public platform::Dispatchable<Basket>, public platform::IReferentialIntegrity {
 public:
  static const platform::ClassBinding<Basket>& Binding();

  // IReferentialIntegrity, for the master-data maintenance (sales/integrity/).
  bool Exists(const std::string& kind, const platform::Variant& keyNames,
              const platform::Variant& keyValues) override;
  bool BeforeDelete(const std::string& kind, const platform::Variant& keyNames,
                    const platform::Variant& keyValues) override;

  using Document = std::shared_ptr<platform::Dictionary>;
  using Connection = std::shared_ptr<platform::data::Connection>;

  // The stored basket (lines in BASKETLINENR order), or nullptr (Nothing)
  // when no basket has the id; a missing basket raises nothing.
  Document Restore(const std::string& iBasketID);
  // A new basket of the user for the partner, stored at once with the
  // partner's invoice and delivery addresses, currency and carrier, and no
  // lines.
  Document Create(const std::string& iUserID, int32_t iBusinessPartnerID);
  // Writes every pending change of the document's header and lines, all or
  // nothing.
  void Save(const platform::Variant& iBasket);
  // A new basket named iNewName for the source's user and partner, with the
  // source's addresses, header text and lines (line numbers kept; each
  // configurable line with a copy of its configuration). See Copy in
  // basket_copy.cpp for which failures end the copy.
  Document Copy(const platform::Variant& iSourceBasket, const std::string& iNewName);
  // Deletes the basket's lines and header in one transaction; an unknown id
  // changes nothing.
  void Delete(const std::string& iBasketID);
  // Appends a line and saves the document; returns the new line number.
  int32_t AddLine(platform::Variant& iBasket, int32_t iSKU, double iQuantity,
                  platform::Date iRequestDate, bool iConfigurable, const std::string& iConfigID);
  // Deletes the lines with the given numbers (numbers no line has are
  // ignored) and saves the document; true on success.
  bool DeleteLines(platform::Variant& iBasket, const platform::Variant& LineNrs);
  // The business partner of the stored basket; 0 when there is none or
  // anything fails (nothing is reported).
  int32_t GetBPStoredInDB(platform::Variant& i_sBasketID);
  // The order document of a basket (or quotation) as XML text, captions from
  // the page's message manager (GetMessage(label, iUserLocale)); see
  // basket_xml.cpp and docs/basket.md.
  std::string ConvertToXML(const platform::Variant& iBasket,
                           const platform::ObjectPtr& ioMessageManager,
                           const std::string& iUserLocale);
  // The "<TAXSPECIFIC>" breakdown of the lines' taxes, one entry per tax code
  // (basket_tax.cpp).
  std::string SpecifyTax(const std::shared_ptr<platform::data::Recordset>& lines, int16_t locale);

  // The steps the operations run on their open connection. Each reports its
  // own failure before its caller does.
  Document RestoreBasket(const std::string& basket_id, const Connection& connection);
  Document CreateBasket(const std::string& basket_id, const std::string& user_id,
                        int32_t business_partner_id, const Connection& connection);
  void SaveBasket(const Document& document, const Connection& connection);
  int32_t AddLineToBasket(const Document& document, int32_t sku, double quantity,
                          platform::Date request_date, bool configurable,
                          const std::string& config_id, const Connection& connection);
  bool DeleteLinesFromBasket(const Document& document, const platform::Variant& line_numbers,
                             const Connection& connection);

  // The document a Variant holds: a Dictionary. Anything else raises 424
  // (Object required) saying so.
  static Document DocumentOf(const platform::Variant& value);
  // The record set of a document entry ("header", "lines"); a missing entry
  // or another kind of value raises 424 naming the entry.
  static std::shared_ptr<platform::data::Recordset> RecordSetOf(const Document& document,
                                                                const std::string& key);
};

}  // namespace vendra
