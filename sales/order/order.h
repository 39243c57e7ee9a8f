// Order ("Vendra.Order") turns a basket, or a quotation loaded into the same
// document shape, into a stored web order and hands orders to the ERP back
// end.
//
// SubmitBasket takes the BasketDocument a page filled ("header" and "lines"
// record sets, optionally "origin" = 1 for a quotation) and, in one
// transaction on one connection, copies the order's addresses into
// ADDRESSHISTORY, inserts ORDERHEADER and ORDERLINE (status ToBeProcessed,
// lines NotAllocated) and deletes the basket, or marks the quotation as
// copied to an order. After the commit it asks Vendra.Manager whether the
// order's back-end instance takes orders at once ("EXPORTMESSAGETYPE" "2")
// and, if so, hands the order over through CreateSOatBackend. A failure
// before the commit leaves the database as it was; one after it leaves the
// order stored and is reported all the same.
//
// Thread-safety: holds no state between calls; one caller at a time per
// object, any number of objects on any threads (they meet only in the
// database, where each submission is one transaction).
#pragma once

#include <cstdint>

#include "platform/core/dispatch.h"
#include "platform/core/object.h"
#include "platform/core/variant.h"
#include "sales/order/order_status.h"

namespace vendra {

// The document's "origin" of a quotation being submitted as an order.
inline constexpr int32_t kOriginQuotation = 1;
// The "origin" of the document of a periodic hand-over run.
inline constexpr int16_t kOriginPeriodicRun = 2;

class Order : public platform::Dispatchable<Order> {
 public:
  static const platform::ClassBinding<Order>& Binding();

  // iBasket holds the document; its records are changed in place: a header
  // without PAYMENTMETHOD gets 1, and for a quotation the header and every
  // line get the new order id in QUOTATIONID.
  void SubmitBasket(platform::Variant& iBasket);

  // Hands orders to the back end through Ferrolink.Order: the one order of
  // iOrderDict (as SubmitBasket does right after storing it). A refusal by
  // the back end is no failure: it is recorded on the order by the back end
  // and logged here. The periodic run over an instance's waiting orders (no
  // document) is not available yet and fails with error 5.
  void CreateSOatBackend(int32_t iKroID, const platform::ObjectPtr& iOrderDict);
};

}  // namespace vendra
