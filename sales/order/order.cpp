#include "sales/order/order.h"

#include <string>
#include <vector>

#include "platform/core/com_error.h"
#include "shared/components.h"
#include "shared/error_handling.h"

namespace vendra {

const platform::ClassBinding<Order>& Order::Binding() {
  static const auto b = platform::ClassBinding<Order>("Order")
                            .Method("SubmitBasket", &Order::SubmitBasket);
  return b;
}

// No handler of its own: a failure (the back end cannot be created, the call
// fails) reaches the caller unchanged, and SubmitBasket reports it after its
// commit, so the stored order stays.
void Order::CreateSOatBackend(int32_t iKroID, const platform::ObjectPtr& iOrderDict) {
  if (!iOrderDict) {
    // The run over an instance's waiting orders (attempt counting, the
    // failure notice by mail) comes with the periodic hand-over.
    platform::Raise(platform::err::kInvalidProcedureCall, "Order.CreateSOatBackend",
                    "The periodic hand-over of the waiting orders of back-end instance " +
                        std::to_string(iKroID) + " is not available in this version");
  }
  platform::ObjectPtr backend = lib_sales::Sls_GetComponent("Ferrolink.Order");
  std::vector<platform::Variant> args{platform::Variant(iOrderDict), platform::Variant(false)};
  platform::CallRef(backend, "CreateBackendSalesOrder", args);
  backend.reset();
  if (args[1].ToBool()) {
    // The back end has written its reason into ORDERHEADER.ERROR; the order
    // waits in ToBeProcessed for the periodic run. The log tells whoever
    // watches the shop until the instance's mailbox is told as well.
    const std::string what = iKroID == 0 ? std::string("the order handed over at submission")
                                         : "the waiting orders of instance " + std::to_string(iKroID);
    lib_sales::LogFailure("Order.CreateSOatBackend",
                          platform::Variant("The back end could not take " + what +
                                            "; ORDERHEADER.ERROR holds its reason"));
  }
}

}  // namespace vendra
