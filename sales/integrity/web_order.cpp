#include "sales/integrity/web_order.h"

#include <memory>

#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "sales/integrity/key_fields.h"
#include "shared/components.h"
#include "shared/data_routines.h"
#include "shared/error_handling.h"

namespace vendra {

const platform::ClassBinding<WebOrder>& WebOrder::Binding() {
  static const auto b = platform::ClassBinding<WebOrder>("WebOrder")
                            .Method("Exists", &WebOrder::Exists)
                            .Method("BeforeDelete", &WebOrder::BeforeDelete);
  return b;
}

bool WebOrder::Exists(const std::string& kind, const platform::Variant& keyNames,
                      const platform::Variant& keyValues) {
  constexpr std::string_view kSource = "Pricing.BeforeDelete";
  std::shared_ptr<platform::data::Connection> connection;
  return lib_sales::Guarded(
      kSource,
      [&] {
        const auto fields = integrity::KeyFields(keyNames, keyValues, kSource);
        if (integrity::FoldKind(kind) != "KROINSTANCE") return false;
        bool answer = false;
        connection = lib_sales::Sls_GetOpenConnection(lib_sales::Sls_ConnectionString());
        for (const integrity::KeyField& f : fields) {
          if (f.name != "KROID") continue;
          // A query's records-affected count says nothing of the rows it
          // found (it is -1 for a query): the answer is whether a row came.
          std::shared_ptr<platform::data::Recordset> rs =
              connection->Execute("SELECT TOP 1 KROID FROM ORDERHEADER WHERE KROID = " +
                                  integrity::NumberText(f.value, f.name));
          answer = rs && !rs->Eof();
        }
        lib_sales::Sls_CloseConnection(connection);
        return answer;
      },
      [&]() -> lib_sales::Info {
        return platform::Variant(lib_sales::ConnectionErrorsText(connection.get()));
      });
}

bool WebOrder::BeforeDelete(const std::string&, const platform::Variant&,
                            const platform::Variant&) {
  return false;
}

}  // namespace vendra
