// The pieces every sales implementer of IReferentialIntegrity shares: the
// kind folded to upper case, the key arrays read as (name, value) pairs, and
// the rendering of a key value that goes into a statement as a bare number.
//
// Thread-safety: pure functions (the encoder behind them is per thread).
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

}  // namespace vendra::integrity
