// Allocate ("Ferrolink.Allocate") allocates ERP stock for a sales-order line
// through the connector's allocation component: InitializeAction (type and
// component id; a failure comes back in oErrorCode), Allocate, CloseAction.
//
// Thread-safety: one caller at a time per object.
#pragma once

#include <cstdint>
#include <string>

#include "platform/core/dispatch.h"

namespace ferrolink {

class AllocateAction : public platform::Dispatchable<AllocateAction> {
 public:
  static const platform::ClassBinding<AllocateAction>& Binding();

  void InitializeAction(const std::string& iVTWType, const std::string& iComponentID,
                        int32_t& oErrorCode);
  void CloseAction();
  // oErrorNumber: the back end's answer (0 allocated). A failure of the call
  // itself (no component) is logged and raised.
  void Allocate(const std::string& iSalesOrderID, int32_t iLineID, int32_t& oErrorNumber);

 private:
  platform::ObjectPtr component_;
};

}  // namespace ferrolink
