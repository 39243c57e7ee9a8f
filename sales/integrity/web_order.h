// WebOrder ("Vendra.WebOrder") answers the master-data maintenance for the
// web orders as a whole: whether any order (ORDERHEADER) was placed through
// a back-end instance. It keeps no data of its own and never removes any.
//
// Thread-safety: holds no state; every call opens and closes its own
// connection, so any number of objects may be used on any threads.
#pragma once

#include <string>

#include "platform/core/dispatch.h"
#include "platform/services/referential_integrity.h"

namespace vendra {

class WebOrder : public platform::Dispatchable<WebOrder>, public platform::IReferentialIntegrity {
 public:
  static const platform::ClassBinding<WebOrder>& Binding();

  // "KROINSTANCE" with key field KROID (a number): whether an order names the
  // instance (the last such field decides). Every other kind: false.
  bool Exists(const std::string& kind, const platform::Variant& keyNames,
              const platform::Variant& keyValues) override;
  // Removes nothing and answers false: orders are never removed for a delete.
  bool BeforeDelete(const std::string& kind, const platform::Variant& keyNames,
                    const platform::Variant& keyValues) override;
};

}  // namespace vendra
