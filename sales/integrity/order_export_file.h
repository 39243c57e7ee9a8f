// OrderExportFile ("Vendra.OrderExportFile") answers for the back-end
// instances' order-export settings (ORDEREXPORTFILE, one row per instance,
// keyed by KROID): all of them as a record set, and to the master-data
// maintenance whether an instance still has its settings row.
//
// Thread-safety: holds no state; every call opens and closes its own
// connection, so any number of objects may be used on any threads.
#pragma once

#include <memory>
#include <string>

#include "platform/core/dispatch.h"
#include "platform/services/referential_integrity.h"

namespace platform::data {
class Connection;
class Recordset;
}  // namespace platform::data

namespace vendra {

class OrderExportFile : public platform::Dispatchable<OrderExportFile>,
                        public platform::IReferentialIntegrity {
 public:
  static const platform::ClassBinding<OrderExportFile>& Binding();

  // Every ORDEREXPORTFILE row with the table's columns as stored, detached.
  std::shared_ptr<platform::data::Recordset> GetAllInstances();

  // "KROINSTANCE": whether the instance has its settings row. The instance is
  // the first key value, whatever its field is called; it must be a number.
  // Every other kind: false.
  bool Exists(const std::string& kind, const platform::Variant& keyNames,
              const platform::Variant& keyValues) override;
  // Removes nothing; always lets the delete go on.
  bool BeforeDelete(const std::string& kind, const platform::Variant& keyNames,
                    const platform::Variant& keyValues) override;

 private:
  std::shared_ptr<platform::data::Connection> GetConnection();
};

}  // namespace vendra
