// What the storage and pricing sources of Vendra.Quotation share: reading
// the document's record sets, telling a basket document from a quotation
// document, and the checks every value passes before it is priced or put
// into SQL text.
//
// Thread-safety: free functions without state.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "platform/core/object.h"
#include "platform/core/variant.h"
#include "sales/quotation/quotation.h"

namespace vendra::quotation_detail {

// The document a Variant holds; anything else raises 424 saying so.
Quotation::Document DocumentOf(const platform::Variant& value);
// The document's "header" or "lines" record set (424 when it has none). The
// header is left on its one row.
std::shared_ptr<platform::data::Recordset> HeaderOf(const Quotation::Document& document);
std::shared_ptr<platform::data::Recordset> LinesOf(const Quotation::Document& document);

// A basket document's header has BASKETID as its first column; a quotation
// document's does not.
bool IsBasket(platform::data::Recordset& header);

// The value as text; "" for Null and Empty.
std::string TextOf(const platform::Variant& value);
// Blanks removed at both ends (blanks only: ids and codes are padded with them).
std::string Trimmed(const platform::Variant& value);

// A line number named by a caller: a whole number within 32 bits, given as
// a number or as text. Anything else raises Type mismatch (13) naming it, so
// nothing but a checked number reaches SQL text and 2.5 never means line 2.
int32_t LineNumberOf(const platform::Variant& value);

// The quantity of the lines' current row as the whole number it is stored
// as (halves to even). Null, text that is no number, and a quantity below 1
// raise a failure naming the line.
int32_t QuantityOf(platform::data::Recordset& lines, int32_t line);

// The total quantity of each product over the document's lines: what the
// back end is told the whole order holds of a line's product.
using OrderQuantities = std::map<int32_t, int32_t>;
OrderQuantities OrderQuantitiesOf(platform::data::Recordset& lines);

// What one operation reads from the platform's components, each read once:
// the catalogue properties of products (Brevane.Product's
// GetProductProperties, through one catalogue object), since a quotation
// asks for a line's validity, expiry and unit; and the partner's values
// (discount, pricing method, currencies), asked for by the header, the
// totals and every line.
class OperationReads {
 public:
  const platform::ObjectPtr& Product(int32_t product_id);
  // The partner value read before under the key, or nullptr.
  const std::string* PartnerValue(const std::string& key) const;
  void KeepPartnerValue(const std::string& key, const std::string& value);

 private:
  platform::ObjectPtr catalog_;
  std::map<int32_t, platform::ObjectPtr> products_;
  std::map<std::string, std::string> partner_values_;
};

// Drops what the object read when the operation ends, however
// it ends, so nothing read survives into the next call.
class ReadScope {
 public:
  explicit ReadScope(std::shared_ptr<OperationReads>& slot) : slot_(slot) {}
  ~ReadScope() { slot_.reset(); }
  ReadScope(const ReadScope&) = delete;
  ReadScope& operator=(const ReadScope&) = delete;

 private:
  std::shared_ptr<OperationReads>& slot_;
};

}  // namespace vendra::quotation_detail
