// The pieces every sales implementer of IReferentialIntegrity shares: the
// kind folded to upper case, the key arrays read as (name, value) pairs, and
// the rendering of a key value that goes into a statement as a bare number.
//
// Thread-safety: pure functions (the encoder behind them is per thread); the
// stored-document answer reads the sales database through its own connection.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/core/variant.h"

namespace vendra::integrity {

struct KeyField {
  std::string name;  // upper case
  platform::Variant value;
};

// "product" and "Product" are "PRODUCT".
std::string FoldKind(std::string_view kind);

// The key arrays as pairs, names in upper case. Arrays of different lengths,
// or anything but arrays, are refused with error 5 (source names the caller),
// before any statement runs.
std::vector<KeyField> KeyFields(const platform::Variant& keyNames,
                                const platform::Variant& keyValues, std::string_view source);

// A key value written into a statement without quotes (a product id, a
// partner id, a back-end instance id): it must be a number, else error 13
// naming the field; rendered by the encoder (EncDouble).
std::string NumberText(const platform::Variant& value, std::string_view field);

// A key value written between quotes the statement puts around it: its
// quotes doubled (Sls_EscapeQuotes).
std::string QuotedText(const platform::Variant& value);

// Whether the query returns a row, read on a connection of its own; a failure
// is logged under source with the connection's error text and raised.
bool RowExists(const std::string& sql, std::string_view source);

// Where a stored document (a basket, a quotation) keeps its rows: the id
// column, the header and line tables, and the text between the line table's
// WHERE and its PRODUCTUNITCODE comparison (the statements differ there).
struct StoredDocument {
  std::string_view id_column;
  std::string_view header_table;
  std::string_view line_table;
  std::string_view unit_where;
};

// Whether a stored document names the master record: every key field that
// matches the kind asks again and the last one decides. Failures are raised
// under source.
bool StoredDocumentExists(const StoredDocument& document, const std::string& kind,
                          const platform::Variant& keyNames, const platform::Variant& keyValues,
                          std::string_view source);

}  // namespace vendra::integrity
