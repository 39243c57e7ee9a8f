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
// The rest of the class reads a stored order back (Restore, GetAddress,
// OrdersExist, GetBPStoredInDB), sets its status (UpdateOrderStatus) and
// hands orders to the back end (CreateSOatBackend): the one order of a
// document at once, or, without a document, every waiting order of one
// back-end instance (the periodic run). A periodic run claims the orders it
// hands over in one statement, so two runs at the same time never hand over
// the same order; a claim left by a run that died expires after
// kClaimLeaseMinutes and the order is handed over again (the back end takes
// one sales order per web order, so it is never created twice). When the
// back end refuses an order, a notice is mailed to the order's instance
// address (ORDEREXPORTFILE.EMAIL).
//
// Thread-safety: holds no state between calls; one caller at a time per
// object, any number of objects on any threads (they meet only in the
// database, where each submission is one transaction).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/dispatch.h"
#include "platform/services/referential_integrity.h"
#include "platform/core/object.h"
#include "platform/core/variant.h"
#include "sales/order/order_status.h"

namespace platform {
class Dictionary;
}
namespace platform::data {
class Connection;
class Recordset;
}  // namespace platform::data

namespace vendra {

// How long a periodic run's claim on a waiting order holds.
inline constexpr int32_t kClaimLeaseMinutes = 15;

// What a periodic run did with one order it claimed.
struct HandoverOutcome {
  std::string order_id;
  int32_t status = 0;        // ORDERSTATUS after the run
  std::string sales_order;   // the ERP's number, "" when none
  std::string error;         // ORDERHEADER.ERROR after the run
  int32_t attempts = 0;
};

// The document's "origin" of a quotation being submitted as an order.
inline constexpr int32_t kOriginQuotation = 1;
// The "origin" of the document of a periodic hand-over run.
inline constexpr int16_t kOriginPeriodicRun = 2;

class Order : public platform::Dispatchable<Order>, public platform::IReferentialIntegrity {
 public:
  static const platform::ClassBinding<Order>& Binding();

  // IReferentialIntegrity, for the master-data maintenance (sales/integrity/).
  bool Exists(const std::string& kind, const platform::Variant& keyNames,
              const platform::Variant& keyValues) override;
  bool BeforeDelete(const std::string& kind, const platform::Variant& keyNames,
                    const platform::Variant& keyValues) override;

  // iBasket holds the document; its records are changed in place: a header
  // without PAYMENTMETHOD gets 1, and for a quotation the header and every
  // line get the new order id in QUOTATIONID.
  void SubmitBasket(platform::Variant& iBasket);

  // "header" and "lines" record sets of the order, detached; both empty for
  // an unknown id.
  std::shared_ptr<platform::Dictionary> Restore(const std::string& iOrderID);
  bool OrdersExist();
  // The address as frozen with the order, or the live address when the
  // order has no copy of it.
  std::shared_ptr<platform::data::Recordset> GetAddress(platform::Variant& iAddressID,
                                                        platform::Variant& iOrderID);
  // Raises OrderNotFound when no order has the id.
  void UpdateOrderStatus(const std::string& i_sOrderID, int32_t lStatusValue);
  // Hands orders to the back end through Ferrolink.Order: the orders of
  // iOrderDict (as SubmitBasket does right after storing one), or without
  // a document the waiting orders of instance iKroID. A refusal by the back
  // end is no failure: the back end records it on the order, and the
  // instance's address is mailed a notice.
  void CreateSOatBackend(std::optional<int32_t> iKroID,
                         std::optional<platform::ObjectPtr> iOrderDict);
  // 0 when the order has no partner or cannot be read.
  int32_t GetBPStoredInDB(platform::Variant& i_sOrderID);

  // The periodic run of CreateSOatBackend, telling what became of each
  // order it claimed (for the operators' command).
  std::vector<HandoverOutcome> HandOverWaitingOrders(int32_t kro_id);

 private:
  std::shared_ptr<platform::Dictionary> RestoreFromDB(const std::string& order_id,
                                                      const std::shared_ptr<platform::data::Connection>& connection);
  bool CheckExistenceUsingSQL(const std::string& sql);
  std::shared_ptr<platform::data::Recordset> ExecuteSQL(const std::string& sql);
  // Gives the document to Ferrolink.Order; true when the back end could not
  // take some order.
  bool HandOver(const platform::ObjectPtr& document);
  void SendFailureNotice(int32_t kro_id);
};

int32_t GetMaxAttempts(int32_t instance);
std::string GetNotificationEmail(int32_t instance);
// The mailbox told when an instance has no EMAIL of its own.
inline constexpr char kFallbackMailbox[] = "administrator@localhost";

}  // namespace vendra
