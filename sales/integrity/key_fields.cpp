#include "sales/integrity/key_fields.h"

#include "platform/core/com_error.h"
#include "platform/core/text.h"
#include "shared/encoding.h"

namespace vendra::integrity {

std::string FoldKind(std::string_view kind) { return platform::text::UpperAscii(kind); }

std::vector<KeyField> KeyFields(const platform::Variant& keyNames,
                                const platform::Variant& keyValues, std::string_view source) {
  if (!keyNames.IsArray() || !keyValues.IsArray()) {
    platform::Raise(platform::err::kInvalidProcedureCall, std::string(source),
                    "The key names and the key values must be two arrays");
  }
  const platform::VariantArray& names = keyNames.Array();
  const platform::VariantArray& values = keyValues.Array();
  if (names.size() != values.size()) {
    platform::Raise(platform::err::kInvalidProcedureCall, std::string(source),
                    "The key needs as many values as names (" + std::to_string(names.size()) +
                        " names, " + std::to_string(values.size()) + " values)");
  }
  std::vector<KeyField> fields;
  fields.reserve(names.size());
  for (size_t i = 0; i < names.size(); ++i)
    fields.push_back({platform::text::UpperAscii(names[i].ToString()), values[i]});
  return fields;
}

std::string NumberText(const platform::Variant& value, std::string_view field) {
  try {
    return lib_sales::EncDouble(value);
  } catch (const platform::ComError& e) {
    // Written bare into the statement: anything but a number could change it.
    platform::Raise(e.number(), e.source(),
                    "The key value of " + std::string(field) + " must be a number, not '" +
                        (value.IsMissing() ? std::string("Null") : value.ToString()) + "'");
  }
}

std::string QuotedText(const platform::Variant& value) {
  return lib_sales::Sls_EscapeQuotes(value.ToString());
}

}  // namespace vendra::integrity
