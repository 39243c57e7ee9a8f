#include "sales/integrity/order_export_file.h"

#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "sales/integrity/key_fields.h"
#include "shared/components.h"
#include "shared/data_routines.h"
#include "shared/error_handling.h"

namespace vendra {

const platform::ClassBinding<OrderExportFile>& OrderExportFile::Binding() {
  static const auto b = platform::ClassBinding<OrderExportFile>("OrderExportFile")
                            .Method("GetAllInstances", &OrderExportFile::GetAllInstances)
                            .Method("Exists", &OrderExportFile::Exists)
                            .Method("BeforeDelete", &OrderExportFile::BeforeDelete);
  return b;
}

std::shared_ptr<platform::data::Recordset> OrderExportFile::GetAllInstances() {
  return lib_sales::Guarded("Vendra.OrderExportFile.GetAllInstances", [] {
    return lib_sales::Sls_GetDisconnectedRecordset("SELECT * FROM ORDEREXPORTFILE",
                                                   lib_sales::Sls_ConnectionString());
  });
}

std::shared_ptr<platform::data::Connection> OrderExportFile::GetConnection() {
  return lib_sales::Sls_GetOpenConnection(lib_sales::Sls_ConnectionString());
}

bool OrderExportFile::Exists(const std::string& kind, const platform::Variant& keyNames,
                             const platform::Variant& keyValues) {
  constexpr std::string_view kSource = "OrderExportFile.IReferentialIntegrity_Exists";
  return lib_sales::Guarded(kSource, [&] {
    if (integrity::FoldKind(kind) != "KROINSTANCE") return false;
    const auto fields = integrity::KeyFields(keyNames, keyValues, kSource);
    if (fields.empty()) return false;
    return lib_sales::Sls_RecordExists(
        "SELECT TOP 1 KROID FROM ORDEREXPORTFILE WHERE KROID=" +
            integrity::NumberText(fields.front().value, fields.front().name),
        lib_sales::Sls_ConnectionString());
  });
}

bool OrderExportFile::BeforeDelete(const std::string&, const platform::Variant&,
                                   const platform::Variant&) {
  return lib_sales::Guarded("OrderExportFile.IReferentialIntegrity_BeforeDelete",
                            [] { return true; });
}

}  // namespace vendra
