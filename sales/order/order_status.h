// The states of a web order (ORDERHEADER.ORDERSTATUS) and of its lines
// (ORDERLINE.LINESTATUS). They are public numbers: pages, the back-end
// hand-over and the ERP status updates write and compare them, so a value
// never changes meaning. Late-bound callers pass the numbers themselves
// (docs/orders.md lists them).
//
// Thread-safety: constants only.
#pragma once

#include <cstdint>

namespace vendra {

enum class OrderStatus : int32_t {
  ToBeProcessed = 0,  // stored by the submission, waiting for the back end
  Processed = 1,
  TWBToBeAcknowledged = 2,
  TWBAcknowledged = 3,
  CCPaymentToBeFulfilled = 4,
  Paid = 5,
  Acknowledged = 6,
  OrderAuthorizationIssue = 7,
  OrderBillingIssue = 8,
};

enum class OrderLineStatus : int32_t {
  NotAllocated = 0,  // every line of a submitted order starts here
  Allocated = 1,
  CCBilled = 2,
  BackendBilled = 3,
  LineBillingIssue = 4,
};

}  // namespace vendra
