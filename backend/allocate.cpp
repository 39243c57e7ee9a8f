#include "backend/allocate.h"

#include "backend/action.h"
#include "shared/error_handling.h"

namespace ferrolink {

const platform::ClassBinding<AllocateAction>& AllocateAction::Binding() {
  static const auto b = platform::ClassBinding<AllocateAction>("Allocate")
                            .Method("InitializeAction", &AllocateAction::InitializeAction)
                            .Method("Allocate", &AllocateAction::Allocate)
                            .Method("CloseAction", &AllocateAction::CloseAction);
  return b;
}

void AllocateAction::InitializeAction(const std::string& iVTWType, const std::string& iComponentID,
                                      int32_t& oErrorCode) {
  component_ = OpenComponent(Role::Allocation, iVTWType, iComponentID, oErrorCode,
                             {"Ferrolink.Allocate.InitializeAction", "Allocate.InitializeAction"});
}

void AllocateAction::CloseAction() { CloseComponent(component_, "Allocate.CloseAction"); }

void AllocateAction::Allocate(const std::string& iSalesOrderID, int32_t iLineID,
                              int32_t& oErrorNumber) {
  lib_sales::Guarded(
      "Allocate.Allocate",
      [&] {
        oErrorNumber = 0;
        const platform::Variant result = platform::Call(
            component_, "Allocate", {platform::Variant(iSalesOrderID), platform::Variant(iLineID)});
        oErrorNumber = platform::Call(result.ToObject(), "getErrorNumber").ToLong();
      },
      [&] {
        return lib_sales::Info(platform::Variant("SalesOrder:" + iSalesOrderID +
                                                 " ,Line: " + std::to_string(iLineID)));
      });
}

}  // namespace ferrolink
