#include "sales/integrity/key_fields.h"

#include <memory>

#include "platform/core/com_error.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/core/text.h"
#include "shared/components.h"
#include "shared/data_routines.h"
#include "shared/encoding.h"
#include "shared/error_handling.h"

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

bool RowExists(const std::string& sql, std::string_view source) {
  std::shared_ptr<platform::data::Connection> connection;
  return lib_sales::Guarded(
      source,
      [&] {
        connection = lib_sales::Sls_GetOpenConnection(lib_sales::Sls_ConnectionString());
        auto rs = std::make_shared<platform::data::Recordset>();
        rs->SetCursorLocation(platform::data::adUseClient);
        rs->Open(sql, connection, platform::data::adOpenKeyset, platform::data::adLockReadOnly,
                 platform::data::adCmdText);
        const bool found = !rs->Eof();
        rs->Close();
        lib_sales::Sls_CloseConnection(connection);
        return found;
      },
      [&]() -> lib_sales::Info {
        return platform::Variant(lib_sales::ConnectionErrorsText(connection.get()));
      });
}

bool StoredDocumentExists(const StoredDocument& document, const std::string& kind,
                          const platform::Variant& keyNames, const platform::Variant& keyValues,
                          std::string_view source) {
  using lib_sales::EncDouble;
  using lib_sales::EncLong;
  using lib_sales::EncVariant;
  return lib_sales::Guarded(source, [&] {
    const std::string select = "SELECT TOP 1 " + std::string(document.id_column) + " FROM ";
    const std::string header = select + std::string(document.header_table) + " WHERE ";
    const std::string line = select + std::string(document.line_table) + " WHERE ";
    const auto row_test = [](const std::string& sql) {
      return lib_sales::Sls_RecordExists(sql, lib_sales::Sls_ConnectionString());
    };
    const std::string k = FoldKind(kind);
    bool answer = false;
    for (const KeyField& f : KeyFields(keyNames, keyValues, source)) {
      if (k == "TRANSPORTCARRIER" && f.name == "CARRIERCODE") {
        answer = row_test(header + "CARRIERCODE = " + EncVariant(f.value));
      } else if (k == "ADDRESS" && f.name == "ADDRESSID") {
        answer = row_test(header + "BILLINGADDRESSID = " + EncLong(f.value) +
                          " OR SHIPPINGADDRESSID = " + EncLong(f.value));
        if (!answer) answer = row_test(line + "ADDRESSID = " + EncLong(f.value));
      } else if (k == "CURRENCY" && f.name == "CURRENCYCODE") {
        answer = row_test(header + "CURRENCYCODE = " + EncVariant(f.value));
      } else if (k == "CUSTOMER" && f.name == "BUSINESSPARTNERID") {
        answer = row_test(header + "BUSINESSPARTNERID = " + EncLong(f.value));
      } else if (k == "KROINSTANCE" && f.name == "KROID") {
        answer = row_test(header + "KROID = " + EncLong(f.value));
      } else if (k == "PRODUCT" && f.name == "PRODUCTID") {
        answer = row_test(line + "SKU = " + EncDouble(f.value));
      } else if (k == "UNIT" && f.name == "UNITCODE") {
        answer = row_test(select + std::string(document.line_table) + " WHERE" +
                          std::string(document.unit_where) + "PRODUCTUNITCODE = " +
                          EncVariant(f.value));
      }
    }
    return answer;
  });
}

}  // namespace vendra::integrity
