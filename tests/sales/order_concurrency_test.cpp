// Many submitters at once: eight threads each store and submit baskets of
// their own on one instance. Every order is stored exactly once with all its
// lines, every basket is gone, and no busy or locked database reaches a
// caller (the driver waits and retries).
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/core/com_error.h"
#include "platform/core/dictionary.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "sales/order/order.h"
#include "shared/components.h"
#include "tests/support/test_instance.h"

namespace {

using platform::Variant;
using platform::data::Connection;
using platform::data::Recordset;

constexpr int kThreads = 8;
constexpr int kBasketsPerThread = 5;
constexpr int kLines = 4;

void StoreBasket(Connection& db, const std::string& id) {
  platform::data::Transaction tx(db);
  db.Execute(
      "INSERT INTO BASKETHEADER (BASKETID, BASKETNAME, BASKETDATE, USERID, BUSINESSPARTNERID, "
      "BILLINGADDRESSID, SHIPPINGADDRESSID, CURRENCYCODE, CARRIERCODE, ORDERTYPE, DISCOUNTPERC, "
      "KROID, CURRENCYDECIMALS, SUBTOTAL, TOTAL, CUSTOMERCODE, CUSTOMERNAME) VALUES (?, "
      "'Concurrent order', '2026-03-02T10:00:00', 'anna', 1001, 10011, 10012, 'EUR', 'DHL', 'SO', 0, "
      "2, 2, 60, 60, 'C1001', 'Hallvard Industrial')",
      {Variant(id)});
  for (int32_t nr = 1; nr <= kLines; ++nr) {
    db.Execute(
        "INSERT INTO BASKETLINE (BASKETID, BASKETLINENR, SKU, QUANTITY, REQUESTDATE, ADDRESSID, "
        "PRODUCTUNITCODE, PRODUCTPRICE, DISCOUNTPERC, DISCOUNTAMOUNT, LINEDISCOUNTAMOUNT, "
        "ORDERDISCOUNTAMOUNT, LINEAMOUNT, TAXCODE, PARTNUMBER) VALUES (?, ?, ?, 2, "
        "'2026-04-01T00:00:00', 10012, 'BOX', 12.5, 0, 0.5, 0, 1.25, 24, '01', 'P')",
        {Variant(id), Variant(nr), Variant(nr + 10)});
  }
  tx.Commit();
}

std::shared_ptr<Recordset> ReadDetached(const std::shared_ptr<Connection>& db, const std::string& sql,
                                        const std::string& id) {
  auto rs = std::make_shared<Recordset>();
  rs->SetCursorLocation(platform::data::adUseClient);
  std::vector<Variant> params{Variant(id)};
  rs->Open(sql, db, params, platform::data::adOpenStatic, platform::data::adLockBatchOptimistic);
  rs->SetActiveConnection(nullptr);
  return rs;
}

int32_t Count(Connection& db, const std::string& sql) {
  return (*db.Execute(sql))[0].Value().ToLong();
}

class OrderConcurrencyTest : public vendra_test::InstanceTest {};

TEST_F(OrderConcurrencyTest, EightSubmittersStoreEveryOrderOnce) {
  std::mutex mutex;
  std::vector<std::string> failures;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kBasketsPerThread; ++i) {
        const std::string id = "CONC" + std::to_string(t) + "_" + std::to_string(i);
        try {
          auto db = std::make_shared<Connection>();
          db->Open(lib_sales::Sls_ConnectionString());
          StoreBasket(*db, id);
          auto doc = platform::Dictionary::New();
          doc->Add("header", Variant(ReadDetached(db, "SELECT * FROM BASKETHEADER WHERE BASKETID = ?", id)));
          doc->Add("lines", Variant(ReadDetached(
                                db, "SELECT * FROM BASKETLINE WHERE BASKETID = ? ORDER BY BASKETLINENR", id)));
          db->Close();
          Variant basket(doc);
          vendra::Order().SubmitBasket(basket);
        } catch (const platform::ComError& e) {
          std::lock_guard lock(mutex);
          failures.push_back(id + ": " + e.description());
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  for (const std::string& f : failures) ADD_FAILURE() << f;

  Connection db;
  db.Open(lib_sales::Sls_ConnectionString());
  constexpr int kOrders = kThreads * kBasketsPerThread;
  EXPECT_EQ(Count(db, "SELECT COUNT(*) FROM ORDERHEADER WHERE ORDERID LIKE 'CONC%'"), kOrders);
  EXPECT_EQ(Count(db, "SELECT COUNT(DISTINCT ORDERID) FROM ORDERHEADER WHERE ORDERID LIKE 'CONC%'"), kOrders);
  EXPECT_EQ(Count(db, "SELECT COUNT(*) FROM ORDERLINE WHERE ORDERID LIKE 'CONC%'"), kOrders * kLines);
  EXPECT_EQ(Count(db, "SELECT COUNT(*) FROM ADDRESSHISTORY WHERE ORDERID LIKE 'CONC%'"), kOrders * 2);
  EXPECT_EQ(Count(db, "SELECT COUNT(*) FROM BASKETHEADER WHERE BASKETID LIKE 'CONC%'"), 0);
  EXPECT_EQ(Count(db, "SELECT COUNT(*) FROM BASKETLINE WHERE BASKETID LIKE 'CONC%'"), 0);
}

}  // namespace
