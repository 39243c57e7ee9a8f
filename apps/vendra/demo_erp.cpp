// The demo's road of an order, continued to the ERP: the waiting order of
// instance 2 handed over by the periodic run, what the ERP received, an
// order on instance 1 numbered at once, and an order the ERP refuses.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "apps/vendra/commands.h"
#include "apps/vendra/demo.h"
#include "platform/core/com_error.h"
#include "platform/core/dictionary.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "sales/order/order.h"

namespace vendra_cli {

namespace {

using platform::Variant;
using platform::data::Recordset;

std::shared_ptr<platform::data::Connection> Sales(DemoContext& demo) {
  auto connection = std::make_shared<platform::data::Connection>();
  connection->Open("Provider=SQLite;Data Source=" + (demo.home() / "data").string() +
                   ";Initial Catalog=Vendra");
  return connection;
}

std::string Text(const Variant& v) { return v.IsMissing() ? std::string("(none)") : v.ToString(); }

// A basket as the pages leave it before the order is placed: partner,
// addresses, prices and the back-end instance filled in.
void StoreBasket(DemoContext& demo, const std::string& id, int32_t kro_id, bool corvetto) {
  auto db = Sales(demo);
  const int32_t invoice = corvetto ? 10021 : 10011;
  const int32_t delivery = corvetto ? 10021 : 10012;
  db->Execute(
      "INSERT INTO BASKETHEADER (BASKETID, BASKETNAME, BASKETDATE, USERID, BUSINESSPARTNERID, "
      "BILLINGADDRESSID, SHIPPINGADDRESSID, CURRENCYCODE, CARRIERCODE, ORDERTYPE, DISCOUNTPERC, "
      "CUSTOMERPONUMBER, KROID, CURRENCYDECIMALS, CUSTOMERCODE, CALCULATETAX) VALUES (?, ?, "
      "'2026-12-01T09:00:00', ?, ?, ?, ?, 'EUR', 'DHL', 'SO', 0, ?, ?, 2, ?, 0)",
      {Variant(id), Variant(corvetto ? "Pump spares" : "Workshop restock"),
       Variant(corvetto ? "carla" : "anna"), Variant(corvetto ? 1002 : 1001), Variant(invoice),
       Variant(delivery), Variant(corvetto ? "CM-88" : "HI-2207"), Variant(kro_id),
       Variant(corvetto ? "C1002" : "C1001")});
  struct Line {
    int32_t sku;
    const char* part;
    const char* unit;
    double quantity, price;
  };
  const Line lines[] = {{1, "FA-M8X30", "BOX", 4, 12.4}, {5, "HY-PMP-200", "PCS", 1, 385}};
  int nr = 0;
  for (const Line& l : lines) {
    db->Execute(
        "INSERT INTO BASKETLINE (BASKETID, BASKETLINENR, SKU, QUANTITY, REQUESTDATE, ADDRESSID, "
        "PRODUCTUNITCODE, PRODUCTPRICE, DISCOUNTPERC, DISCOUNTAMOUNT, LINEDISCOUNTAMOUNT, "
        "ORDERDISCOUNTAMOUNT, LINEAMOUNT, TAXCODE, PARTNUMBER) VALUES (?, ?, ?, ?, "
        "'2026-12-20T00:00:00', ?, ?, ?, 0, 0, 0, 0, ?, '01', ?)",
        {Variant(id), Variant(++nr), Variant(l.sku), Variant(l.quantity), Variant(delivery),
         Variant(l.unit), Variant(l.price), Variant(l.quantity * l.price), Variant(l.part)});
  }
  db->Close();
}

std::shared_ptr<Recordset> Read(DemoContext& demo, const std::string& sql, const std::string& id) {
  auto db = Sales(demo);
  auto rs = std::make_shared<Recordset>();
  rs->SetCursorLocation(platform::data::adUseClient);
  std::vector<Variant> params{Variant(id)};
  rs->Open(sql, db, params, platform::data::adOpenStatic, platform::data::adLockBatchOptimistic);
  rs->SetActiveConnection(nullptr);
  db->Close();
  return rs;
}

// Submits the stored basket as a page does.
void SubmitBasket(DemoContext& demo, const std::string& id) {
  auto doc = platform::Dictionary::New();
  doc->Add("header", Variant(Read(demo, "SELECT * FROM BASKETHEADER WHERE BASKETID = ?", id)));
  doc->Add("lines", Variant(Read(demo, "SELECT * FROM BASKETLINE WHERE BASKETID = ? ORDER BY BASKETLINENR", id)));
  Variant basket(doc);
  vendra::Order().SubmitBasket(basket);
}

void ShowOrder(DemoContext& demo, const std::string& id) {
  auto h = Read(demo, "SELECT * FROM ORDERHEADER WHERE ORDERID = ?", id);
  if (h->Eof()) return;
  demo.Show("order " + id, "status " + Text(h->Value("ORDERSTATUS")) + ", ERP sales order " +
                               Text(h->Value("SALESORDERNR")) + ", attempts " +
                               Text(h->Value("ATTEMPTS")));
  const std::string error = Text(h->Value("ERROR"));
  if (!error.empty() && error != "(none)") demo.Show("error", error);
  auto l = Read(demo, "SELECT * FROM ORDERLINE WHERE ORDERID = ? ORDER BY LINENR", id);
  for (; !l->Eof(); l->MoveNext()) {
    demo.Show("  line " + Text(l->Value("LINENR")),
              Text(l->Value("PARTNUMBER")) + ": ERP line " + Text(l->Value("SALESORDERLINENR")));
  }
  demo.EndTable();
}

std::string Captured(int (*run)(const std::optional<std::filesystem::path>&, int32_t, std::ostream&,
                                std::ostream&),
                     DemoContext& demo, int32_t instance) {
  std::ostringstream out, err;
  run(demo.home(), instance, out, err);
  return out.str() + err.str();
}

}  // namespace

void StepErpHandover(DemoContext& demo) {
  demo.Say("Instance 2 (\"ERP Stuttgart\", connector tw4) takes orders only in the periodic "
           "run, which cron starts for each instance. It claims the instance's waiting orders "
           "(so two runs at once never hand over the same order), counts an attempt on each "
           "and hands them to Ferrolink.Order, which fills the ERP's sales-order input and "
           "writes the ERP's numbers back. anna's order from above waits there; the page that "
           "placed it left the customer's ERP code (CUSTOMERCODE) empty, and a second order, "
           "filled in completely, waits beside it:");
  StoreBasket(demo, "DEMO-ERP-STU", 2, false);
  SubmitBasket(demo, "DEMO-ERP-STU");
  ShowOrder(demo, "DEMO-ERP-STU");
  demo.Verbatim("$ vendra handover --instance 2\n" + Captured(RunHandover, demo, 2));
  auto h = Read(demo, "SELECT SALESORDERNR FROM ORDERHEADER WHERE ORDERID = ?", "DEMO-ERP-STU");
  if (h->Eof() || h->Value("SALESORDERNR").IsMissing()) return;
  const std::string number = h->Value("SALESORDERNR").ToString();
  ShowOrder(demo, "DEMO-ERP-STU");
  demo.Say("What the ERP received, as an operator sees it with 'vendra erp order 2 " + number +
           "' (here without the address details): tw4 names (Customer, OrderType, "
           "DeliveryAddress), Origin 4 and CalculateTax 2 (the order has no tax to "
           "calculate); the items are the part numbers themselves.");
  std::ostringstream out, err;
  RunErpOrder(demo.home(), 2, number, out, err);
  try {
    const auto erp = nlohmann::ordered_json::parse(out.str());
    nlohmann::ordered_json header = nlohmann::ordered_json::object();
    for (const char* key : {"OrderType", "Customer", "Currency", "CustomerPurchaseOrderNumber",
                            "Origin", "CalculateTax", "ForwardingAgent", "OrderDiscount",
                            "ReferenceB", "ReferenceA", "WebOrderReference", "DeliveryAddress",
                            "PostalAddress", "SalesOrder"}) {
      if (erp["Header"].contains(key)) header[key] = erp["Header"][key];
    }
    nlohmann::ordered_json shown = {{"SalesOrderNr", erp["SalesOrderNr"]}, {"Header", header}};
    shown["Lines"] = nlohmann::ordered_json::array();
    for (const auto& line : erp["Lines"]) {
      shown["Lines"].push_back({{"Position", line["Position"]},
                                {"Item", line["Values"]["Item"]},
                                {"OrderedQuantity", line["Values"]["OrderedQuantity"]},
                                {"CustomerPurchaseOrderLine", line["Values"]["CustomerPurchaseOrderLine"]}});
    }
    demo.Verbatim(shown.dump(2));
  } catch (...) {
    demo.Verbatim(out.str() + err.str());
  }
  demo.Say("A second run hands over nothing new: only the refused order is tried again, until "
           "it has had the instance's MAXATTEMPTS (3).");
  demo.Verbatim("$ vendra handover --instance 2\n" + Captured(RunHandover, demo, 2));
}

void StepErpAtOnce(DemoContext& demo) {
  demo.Say("Instance 1 (\"ERP Rotterdam\", connector tw5) takes orders at once: SubmitBasket "
           "hands the order over right after storing it. anna orders bolts and a gear pump; "
           "the order comes back numbered, each web line with the ERP's line number (the "
           "lines are matched by the web line number sent as CustomerOrderPosition). Items "
           "go to this instance as nine blanks and the part number, as it has no alignment.");
  StoreBasket(demo, "DEMO-ERP-ANNA", 1, false);
  SubmitBasket(demo, "DEMO-ERP-ANNA");
  ShowOrder(demo, "DEMO-ERP-ANNA");
}

void StepErpRefused(DemoContext& demo) {
  demo.Say("Corvetto Machinery (C1002) is on credit hold in the ERP. Their order on instance 1 "
           "is stored, but the ERP refuses it: its reason lands in ORDERHEADER.ERROR, the order "
           "waits for the periodic run (up to the instance's MAXATTEMPTS), and the instance's "
           "mailbox gets a notice in mail/pickup/:");
  StoreBasket(demo, "DEMO-ERP-CORV", 1, true);
  SubmitBasket(demo, "DEMO-ERP-CORV");
  ShowOrder(demo, "DEMO-ERP-CORV");
  const auto dir = demo.home() / "mail" / "pickup";
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
    std::ifstream in(e.path(), std::ios::binary);
    std::string mail((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string headers = mail.substr(0, mail.find("\r\n\r\n"));
    std::string shown;
    for (char c : headers)
      if (c != '\r') shown += c;
    demo.Verbatim("mail/pickup/" + e.path().filename().string() + ":\n" + shown);
  }
}

}  // namespace vendra_cli
