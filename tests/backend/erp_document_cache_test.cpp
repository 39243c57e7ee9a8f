// The documents the ERP keeps (CatalogCache): a document read again is the
// one kept, and every write to the ERP's catalog after it -- a shipment, an
// invoice, a change of the order through another connection or by another
// process, or writes inside a transaction scope that is rolled back -- shows
// (or does not show) in the next document as it should. Kept documents are
// frozen, the cache stays within its bounds, and threads reading one
// invoice together get the same text.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <pugixml.hpp>
#include <thread>

#include "platform/core/clock.h"
#include "platform/core/com_error.h"
#include "platform/core/date.h"
#include "platform/data/connection.h"
#include "platform/data/transaction_scope.h"
#include "platform/erp/catalog_cache.h"
#include "platform/erp/components.h"
#include "platform/erp/documents.h"
#include "platform/host/registry.h"
#include "platform/services/message_manager.h"
#include "tests/support/driver_text.h"
#include "tests/support/failure.h"
#include "tests/support/test_instance.h"

namespace {

using platform::Date;
using platform::ObjectPtr;
using platform::Variant;
namespace erp = platform::erp;

class ErpDocumentCacheTest : public vendra_test::InstanceTest {
 protected:
  void SetUp() override {
    VENDRA_SKIP_ON_POSTGRES("the ERP keeps documents only while its catalog is a SQLite file");
    auto db = erp::OpenErpDatabase();
    db->Execute(
        "INSERT INTO SALESORDER (SALESORDERNR, KROID, CUSTOMERCODE, CREATED, DATA) VALUES "
        "('1000301', 1, 'C1001', ?, ?)",
        {Variant(Date::FromParts(2026, 3, 5)),
         Variant(R"({"SoldToBusinessPartner":"C1001","ReferenceA":"R1","HeaderText":["Gate 4"]})")});
    for (int position : {10, 20, 30}) {
      db->Execute(
          "INSERT INTO SALESORDERLINE (SALESORDERNR, POSITION, PARTNUMBER, QUANTITY, DATA) VALUES "
          "('1000301', ?, 'FA-M8X30', 4, ?)",
          {Variant(position), Variant(R"({"Item":"         FA-M8X30","Price":10,"OrderLineText":["x"]})")});
    }
  }

  std::string Get(const std::string& type, Variant* err_info = nullptr) {
    const ObjectPtr lookups = platform::CreateObject("Ferrolink.Lookups");
    std::vector<Variant> args{Variant("1"), Variant("1000301"), Variant(type),
                              Variant(ObjectPtr(std::make_shared<platform::I18NMessageManager>())),
                              Variant("1033"), Variant()};
    const std::string xml = platform::CallRef(lookups, "GetXML", args).ToString();
    if (err_info) *err_info = args[5];
    return xml;
  }

  static std::string Child(const std::string& xml, std::initializer_list<const char*> path) {
    pugi::xml_document doc;
    EXPECT_EQ(doc.load_string(xml.c_str()).status, pugi::status_ok) << xml;
    pugi::xml_node node = doc;
    for (const char* name : path) node = node.child(name);
    return node.child_value();
  }

  ObjectPtr ShowInvoice() {
    erp::ShowSalesOrderComponent<erp::ConnectorType::Tw5> component;
    component.Initialize("ROT-SLS-01");
    return component.Invoice("1000301");
  }

  std::string CatalogFile() const { return (home() / "data" / "Gantrel.db").string(); }

  static erp::CatalogCache& Cache() { return erp::CatalogCache::Instance(); }
};

TEST_F(ErpDocumentCacheTest, ShipmentsAndInvoicesAfterAKeptDocumentShowInTheNext) {
  erp::ShipSalesOrder(1, "1000301", {{10, 0}});
  const std::string first = Get("ASN");
  EXPECT_EQ(Child(first, {"ADV-SHP-NC", "ASN", "ASN-NO"}), "1000301-1");
  const uint64_t hits = Cache().stats().hits;
  EXPECT_EQ(Get("ASN"), first);  // read again: kept
  EXPECT_GT(Cache().stats().hits, hits);

  erp::ShipSalesOrder(1, "1000301", {{20, 1}});
  EXPECT_EQ(Child(Get("ASN"), {"ADV-SHP-NC", "ASN", "ASN-NO"}), "1000301-2");

  Variant err;
  EXPECT_EQ(Get("INV", &err), "");
  EXPECT_EQ(err.ToString(), "1009");  // not invoiced yet (refusals are not kept)
  const std::string number = erp::InvoiceSalesOrder(1, "1000301");
  EXPECT_EQ(Child(Get("INV"), {"INVOICE", "INVOICENO"}), number);
  const std::string amount = Child(Get("INV"), {"INVOICE", "GOODS-AMNT"});
  EXPECT_EQ(amount, "50.00");  // 4 + 1 delivered at 10

  // A second invoice after another shipment replaces the first.
  erp::ShipSalesOrder(1, "1000301", {{30, 2}});
  const std::string second = erp::InvoiceSalesOrder(1, "1000301");
  EXPECT_NE(second, number);
  EXPECT_EQ(Child(Get("INV"), {"INVOICE", "INVOICENO"}), second);
}

TEST_F(ErpDocumentCacheTest, WritesOfAnotherConnectionAndAnotherProcessShowInTheNextDocument) {
  const std::string before = Get("ACK");
  ASSERT_EQ(Child(before, {"SO-ACK", "LINE", "REQ-QTY"}), "4");
  ASSERT_EQ(Get("ACK"), before);

  // A connection of its own, as a tool outside the data layer opens one.
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open_v2(CatalogFile().c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  sqlite3_busy_timeout(raw, 5000);
  ASSERT_EQ(sqlite3_exec(raw, "UPDATE SALESORDERLINE SET QUANTITY = 7 WHERE POSITION = 10", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(raw);
  EXPECT_EQ(Child(Get("ACK"), {"SO-ACK", "LINE", "REQ-QTY"}), "7");

  // Another process.
  const std::string file = CatalogFile();
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc == SQLITE_OK) sqlite3_busy_timeout(db, 5000);
    if (rc == SQLITE_OK)
      rc = sqlite3_exec(db, "UPDATE SALESORDERLINE SET QUANTITY = 9 WHERE POSITION = 10", nullptr,
                        nullptr, nullptr);
    sqlite3_close(db);
    _exit(rc == SQLITE_OK ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Child(Get("ACK"), {"SO-ACK", "LINE", "REQ-QTY"}), "9");
}

TEST_F(ErpDocumentCacheTest, AShipmentInARolledBackScopeIsNeitherKeptNorShownAfterwards) {
  Variant err;
  EXPECT_EQ(Get("ASN", &err), "");
  {
    platform::data::TransactionScope scope;
    erp::ShipSalesOrder(1, "1000301", {});
    // Inside the scope the uncommitted shipment is read, but not kept.
    EXPECT_EQ(Child(Get("ASN"), {"ADV-SHP-NC", "ASN", "ASN-NO"}), "1000301-1");
  }  // rolled back
  err = Variant();
  EXPECT_EQ(Get("ASN", &err), "");
  EXPECT_EQ(err.ToString(), "1008");
}

TEST_F(ErpDocumentCacheTest, KeptDocumentsAreFrozenAndTheirTextsAreCopies) {
  erp::ShipSalesOrder(1, "1000301", {});
  erp::InvoiceSalesOrder(1, "1000301");
  const ObjectPtr first = ShowInvoice();
  EXPECT_EQ(ShowInvoice(), first);  // the kept document itself
  auto* record = dynamic_cast<erp::DocumentRecord*>(first.get());
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(vendra_test::ErrorOf([&] { record->Put("X", Variant("y")); }),
            platform::err::kPermissionDenied);

  // A caller that changes a text it was handed changes no document.
  const ObjectPtr set = platform::Call(first, "getINVSLSRecordSetAt", {Variant(int32_t{0})}).ToObject();
  const ObjectPtr order = platform::Call(set, "getOSalesOrderAt", {Variant(int32_t{0})}).ToObject();
  const ObjectPtr text = platform::Call(order, "getOrderText").ToObject();
  const ObjectPtr piece = platform::Call(text, "getTextValueAt", {Variant(int32_t{0})}).ToObject();
  platform::Call(piece, "SetText", {Variant("changed")});
  EXPECT_EQ(Child(Get("INV"), {"INVOICE", "HTX"}), "Gate 4");
}

TEST_F(ErpDocumentCacheTest, TheCacheStaysWithinItsBounds) {
  for (size_t i = 0; i < erp::CatalogCache::kMaxEntries + 50; ++i) {
    Cache().Get<int>("bound:" + std::to_string(i), [](size_t* weight) {
      *weight = 10;
      return std::make_shared<const int>(1);
    });
  }
  auto s = Cache().stats();
  EXPECT_LE(s.entries, erp::CatalogCache::kMaxEntries);
  EXPECT_LE(s.weight, erp::CatalogCache::kMaxWeight);
  // One value heavier than the whole budget is handed back, not kept.
  bool made = false;
  Cache().Get<int>("heavy", [&](size_t* weight) {
    made = true;
    *weight = erp::CatalogCache::kMaxWeight + 1;
    return std::make_shared<const int>(2);
  });
  EXPECT_TRUE(made);
  made = false;
  Cache().Get<int>("heavy", [&](size_t*) {
    made = true;
    return std::make_shared<const int>(2);
  });
  EXPECT_TRUE(made);
  EXPECT_LE(Cache().stats().weight, erp::CatalogCache::kMaxWeight);
}

TEST_F(ErpDocumentCacheTest, ThreadsReadingAndShippingGetWholeDocuments) {
  erp::ShipSalesOrder(1, "1000301", {{10, 1}});
  const std::string expected = Get("ACK");
  std::vector<std::thread> readers;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t) {
    readers.emplace_back([&] {
      for (int i = 0; i < 25; ++i) {
        const std::string asn = Get("ASN");
        pugi::xml_document doc;
        if (doc.load_string(asn.c_str()).status != pugi::status_ok) ++wrong;
        if (Get("ACK") != expected) ++wrong;
      }
    });
  }
  for (int i = 0; i < 3; ++i) erp::ShipSalesOrder(1, "1000301", {{20, 1}});
  for (std::thread& t : readers) t.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(Child(Get("ASN"), {"ADV-SHP-NC", "ASN", "ASN-NO"}), "1000301-4");
}

}  // namespace
