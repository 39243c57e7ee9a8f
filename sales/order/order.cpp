// Order: the method table, and reading stored orders back.

#include "sales/order/order.h"

#include <string>
#include <vector>

#include "platform/core/com_error.h"
#include "platform/core/dictionary.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "shared/components.h"
#include "shared/data_routines.h"
#include "shared/encoding.h"
#include "shared/error_handling.h"

namespace vendra {

namespace {

using platform::Variant;
using platform::data::Connection;
using platform::data::Recordset;

// A client-side record set of the query, detached from the connection.
std::shared_ptr<Recordset> Detached(const std::string& sql, const std::shared_ptr<Connection>& connection,
                                    int32_t cursor, int32_t lock) {
  auto rs = std::make_shared<Recordset>();
  rs->SetCursorLocation(platform::data::adUseClient);
  rs->Open(sql, connection, cursor, lock);
  rs->SetActiveConnection(nullptr);
  return rs;
}

}  // namespace

const platform::ClassBinding<Order>& Order::Binding() {
  static const auto b = platform::ClassBinding<Order>("Order")
                            .Method("Exists", &Order::Exists)
                            .Method("BeforeDelete", &Order::BeforeDelete)
                            .Method("Restore", &Order::Restore)
                            .Method("SubmitBasket", &Order::SubmitBasket)
                            .Method("OrdersExist", &Order::OrdersExist)
                            .Method("GetAddress", &Order::GetAddress)
                            .Method("UpdateOrderStatus", &Order::UpdateOrderStatus)
                            .Method("CreateSOatBackend", &Order::CreateSOatBackend)
                            .Method("GetBPStoredInDB", &Order::GetBPStoredInDB);
  return b;
}

std::shared_ptr<platform::Dictionary> Order::Restore(const std::string& iOrderID) {
  return lib_sales::Guarded("Order.Restore", [&] {
    std::shared_ptr<Connection> connection =
        lib_sales::Sls_GetOpenConnection(lib_sales::Sls_ConnectionString());
    auto document = RestoreFromDB(iOrderID, connection);
    lib_sales::Sls_CloseConnection(connection);
    return document;
  });
}

std::shared_ptr<platform::Dictionary> Order::RestoreFromDB(
    const std::string& order_id, const std::shared_ptr<Connection>& connection) {
  return lib_sales::Guarded("Order.RestoreFromDB", [&] {
    // The id is encoded like any value: a quote in it can neither break the
    // statement nor widen what it reads.
    const std::string key = lib_sales::EncString(order_id);
    auto header = Detached("SELECT * FROM ORDERHEADER WHERE ORDERID = " + key, connection,
                           platform::data::adOpenStatic, platform::data::adLockBatchOptimistic);
    auto lines = Detached("SELECT * FROM ORDERLINE WHERE ORDERID = " + key, connection,
                          platform::data::adOpenStatic, platform::data::adLockBatchOptimistic);
    auto document = platform::Dictionary::New();
    document->Add("header", Variant(header));
    document->Add("lines", Variant(lines));
    return document;
  });
}

bool Order::OrdersExist() {
  return lib_sales::Guarded("Order.OrdersExist",
                            [&] { return CheckExistenceUsingSQL("SELECT ORDERID FROM ORDERHEADER"); });
}

bool Order::CheckExistenceUsingSQL(const std::string& sql) {
  std::shared_ptr<Connection> connection;
  return lib_sales::Guarded("Order.CheckExistenceUsingSQL", [&] {
    try {
      connection = std::make_shared<Connection>();
      connection->Open(lib_sales::Sls_ConnectionString());
      auto rs = Detached(sql, connection, platform::data::adOpenKeyset, platform::data::adLockReadOnly);
      connection->Close();
      return !rs->Eof();
    } catch (...) {
      platform::ComError failure = platform::CurrentError();
      const std::string errors = lib_sales::ConnectionErrorsText(connection.get());
      if (!errors.empty()) failure.set_description(errors);
      if (connection && connection->IsOpen()) connection->Close();
      throw failure;
    }
  });
}

std::shared_ptr<Recordset> Order::ExecuteSQL(const std::string& sql) {
  return lib_sales::Guarded("Vendra.Order.ExecuteSQL", [&] {
    auto connection = std::make_shared<Connection>();
    connection->Open(lib_sales::Sls_ConnectionString());
    auto rs = Detached(sql, connection, platform::data::adOpenKeyset, platform::data::adLockReadOnly);
    connection->Close();
    return rs->Clone();
  });
}

std::shared_ptr<Recordset> Order::GetAddress(Variant& iAddressID, Variant& iOrderID) {
  return lib_sales::Guarded("Order.GetAddress", [&] {
    auto rs = ExecuteSQL(
        "SELECT NAME1, NAME2, STREET1, STREET2, CITY1, CITY2, " +
        std::string("STATEPROVINCE, ZIPCODE, PHONE, FAX, COUNTRYCODE, COUNTRYNAME, ") +
        "SHORTDESCRIPTION FROM ADDRESSHISTORY " + "WHERE ADDRESSID = " +
        lib_sales::EncLong(iAddressID.ToLong()) +
        " And ORDERID = " + lib_sales::EncVariant(Variant(iOrderID.ToString())));
    if (!rs->Eof()) return rs;
    const platform::ObjectPtr partner = lib_sales::Sls_GetComponent("Kelmor.BusinessPartner");
    return platform::Call(partner, "GetAddress", {iAddressID}).As<Recordset>();
  });
}

void Order::UpdateOrderStatus(const std::string& i_sOrderID, int32_t lStatusValue) {
  lib_sales::Guarded("Order.UpdateOrderStatus", [&] {
    std::shared_ptr<Connection> connection =
        lib_sales::Sls_GetOpenConnection(lib_sales::Sls_ConnectionString());
    Variant affected;
    connection->Execute("UPDATE ORDERHEADER SET ORDERSTATUS = " + lib_sales::EncLong(lStatusValue) +
                            " " + "WHERE ORDERID = " + lib_sales::EncVariant(Variant(i_sOrderID)),
                        &affected);
    lib_sales::Sls_CloseConnection(connection);
    // A status set on no order is no success.
    if (affected.ToLong() == 0) {
      lib_sales::RaiseVendraError(lib_sales::VendraError::OrderNotFound, "Order.UpdateOrderStatus",
                                  "Order " + i_sOrderID + " not found");
    }
  });
}

int32_t Order::GetBPStoredInDB(Variant& i_sOrderID) {
  try {
    std::shared_ptr<Recordset> rs = lib_sales::Sls_GetDisconnectedRecordset(
        "SELECT BUSINESSPARTNERID FROM ORDERHEADER WHERE ORDERID = " +
            lib_sales::EncVariant(Variant(i_sOrderID.ToString())),
        lib_sales::Sls_ConnectionString());
    if (!rs || rs->Eof() || rs->Value("BUSINESSPARTNERID").IsMissing()) return 0;
    return rs->Value("BUSINESSPARTNERID").ToLong();
  } catch (...) {
    return 0;
  }
}

}  // namespace vendra
