// Ferrolink.Lookups and the ERP's documents behind it: hand-written golden
// documents of a small order per document and connector type (values left
// out where the ERP has none), escaping and the well-formed check of text
// blocks and captions, the label blocks in their order, and the refusals
// (unknown order, nothing shipped, a lookup type in another case, a KRO id
// that is no number, an unknown instance, a failing caption). Shipments and
// invoices: partial deliveries, amounts that add up, and refusals that
// store nothing.
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include "backend/lookups.h"
#include "platform/core/clock.h"
#include "platform/core/com_error.h"
#include "platform/core/date.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/erp/components.h"
#include "platform/erp/documents.h"
#include "platform/host/registry.h"
#include "platform/services/message_manager.h"
#include "tests/support/failure.h"
#include "tests/support/test_instance.h"

namespace {

using platform::Date;
using platform::ObjectPtr;
using platform::Variant;
namespace erp = platform::erp;

// A message manager whose caption of a code is the code itself (or a text
// set for it), counting its calls; it fails on request.
class Captions : public platform::Dispatchable<Captions> {
 public:
  static const platform::ClassBinding<Captions>& Binding() {
    static const auto b =
        platform::ClassBinding<Captions>("Captions").Method("GetMessage", &Captions::GetMessage);
    return b;
  }
  std::string GetMessage(const std::string& code, const std::string& locale) {
    ++calls;
    if (fail) platform::Raise(5, "Captions", "no captions today");
    locales.push_back(locale);
    auto it = texts.find(code);
    return it == texts.end() ? code : it->second;
  }
  int calls = 0;
  bool fail = false;
  std::map<std::string, std::string> texts;
  std::vector<std::string> locales;
};

constexpr char kAckLabels[] =
    "<Labels><ACKNOWLEDGEMENT><SO-ACK>SLBSA6239</SO-ACK><ACK><ACK-HEADER>"
    "<ACK-HEADER-LABEL>SLBSA6240</ACK-HEADER-LABEL><SLS-ORDER>SLBSA6241</SLS-ORDER>"
    "<BUS-PART>SLBSA6242</BUS-PART><CUST-REF>SLBSA6208</CUST-REF><ORD-DATE>SLBSA6243</ORD-DATE>"
    "<CONTACT>SLBSA6205</CONTACT><CURRENCY>SLBSA6221</CURRENCY><CONT-NAME>SLBSA6245</CONT-NAME>"
    "<ORD-DISC>SLBSA6246</ORD-DISC><BIL-ADD>SLBSA6226</BIL-ADD><SHIP-ADD>SLBSA6247</SHIP-ADD>"
    "<BILL-TO>SLBSA6248</BILL-TO><SHIP-TO>SLBSA6249</SHIP-TO><STREET>SLBSA6250</STREET>"
    "<CITY>SLBSA6251</CITY><COUNTRY>SLBSA6252</COUNTRY><ZIP-CODE>SLBSA6253</ZIP-CODE>"
    "<TAX-NUM>SLBSA6254</TAX-NUM><HDR-REM>SLBSA6255</HDR-REM></ACK-HEADER><ACK-LINE>"
    "<ACK-LINE-LABEL>SLBSA6256</ACK-LINE-LABEL><ACK-NR>SLBSA6203</ACK-NR>"
    "<PRODUCT>SLBSA6257</PRODUCT><DESC>SLBSA6211</DESC><QTY>SLBSA6258</QTY>"
    "<REQ-DATE>SLBSA6244</REQ-DATE><UNIT>SLBSA0604</UNIT><PRICE>SLBSA6233</PRICE>"
    "<DISC-PERC>SLBSA6259</DISC-PERC><AMOUNT>SLBSA6260</AMOUNT></ACK-LINE></ACK>"
    "</ACKNOWLEDGEMENT></Labels>";
constexpr char kAsnLabels[] =
    "<Labels><ADV-SHP-NC><ASNSHIPDOC>SLBSA6201</ASNSHIPDOC><ASN><ASN-HEADER>"
    "<ASN-HEADER-LABEL>SLBSA6202</ASN-HEADER-LABEL><ASN-NO>SLBSA6203</ASN-NO>"
    "<BUS-PART-C>SLBSA6204</BUS-PART-C><CUST-PO>SLBSA6207</CUST-PO><CUST-REF>SLBSA6208</CUST-REF>"
    "<CONTACT>SLBSA6205</CONTACT><REP-NAME>SLBSA6206</REP-NAME><ADDRESS>SLBSA6209</ADDRESS>"
    "</ASN-HEADER><ASN-LINE><ASN-LINE-LABEL>SLBSA6238</ASN-LINE-LABEL><SO-PONO>SLBSA6203</SO-PONO>"
    "<PRODUCT>SLBSA6210</PRODUCT><PROD-DESC>SLBSA6211</PROD-DESC><DEL-QTY>SLBSA6212</DEL-QTY>"
    "<ORDER-QTY>SLBSA6213</ORDER-QTY><CARRIER>SLBSA6214</CARRIER></ASN-LINE></ASN>"
    "</ADV-SHP-NC></Labels>";
constexpr char kInvLabels[] =
    "<Labels><INVOICE><INVDOC>SLBSA6215</INVDOC><INV><INV-HEADER>"
    "<INV-HEADER-LABEL>SLBSA6216</INV-HEADER-LABEL><INV-NR>SLBSA6217</INV-NR>"
    "<ORDER-NR>SLBSA6218</ORDER-NR><DATE>SLBSA6219</DATE><BUS-PART>SLBSA6204</BUS-PART>"
    "<CONTACT>SLBSA6205</CONTACT><DISCOUNT>SLBSA6220</DISCOUNT><CURRENCY>SLBSA6221</CURRENCY>"
    "<TAX-CODE>SLBSA6222</TAX-CODE><TAX-AMNT>SLBSA6223</TAX-AMNT><HEADER-TEXT>SLBSA6224</HEADER-TEXT>"
    "<CUST-REF>SLBSA6208</CUST-REF><SALES-REP>SLBSA6225</SALES-REP><BILL-ADD>SLBSA6226</BILL-ADD>"
    "</INV-HEADER><INV-LINE><POSITION>SLBSA6227</POSITION><CUST-POS>SLBSA6228</CUST-POS>"
    "<PROJECT>SLBSA6229</PROJECT><CODE>SLBSA6230</CODE><REQ-QTY>SLBSA6231</REQ-QTY>"
    "<DEL-QTY>SLBSA6212</DEL-QTY><SLS-UNIT>SLBSA6232</SLS-UNIT><PRICE>SLBSA6233</PRICE>"
    "<PRICE-UNIT>SLBSA6234</PRICE-UNIT><DEL-DATE>SLBSA6235</DEL-DATE>"
    "<LDISC-AMNT>SLBSA6220</LDISC-AMNT><CODE-DESC>SLBSA6236</CODE-DESC><LTX>SLBSA6237</LTX>"
    "</INV-LINE></INV></INVOICE></Labels>";

struct LineSpec {
  int32_t position;
  std::string part;
  double quantity;
  std::string data;  // the values as the connector stored them (JSON)
};

class LookupsTest : public vendra_test::InstanceTest {
 protected:
  void SetUp() override { captions_ = std::make_shared<Captions>(); }

  // An order as the ERP stores it, made on 5 March 2026.
  void Order(int32_t kro, const std::string& number, const std::string& header,
             const std::vector<LineSpec>& lines) {
    auto db = erp::OpenErpDatabase();
    db->Execute(
        "INSERT INTO SALESORDER (SALESORDERNR, KROID, CUSTOMERCODE, CREATED, DATA) VALUES (?, ?, "
        "'C1001', ?, ?)",
        {Variant(number), Variant(kro), Variant(Date::FromParts(2026, 3, 5, 9, 30)), Variant(header)});
    for (const LineSpec& l : lines) {
      db->Execute(
          "INSERT INTO SALESORDERLINE (SALESORDERNR, POSITION, PARTNUMBER, QUANTITY, DATA) VALUES "
          "(?, ?, ?, ?, ?)",
          {Variant(number), Variant(l.position), Variant(l.part), Variant(l.quantity), Variant(l.data)});
    }
  }

  std::string Ship(int32_t kro, const std::string& number,
                   std::vector<std::pair<int32_t, double>> lines = {}) {
    platform::ScopedFixedClock clock(Date::FromParts(2026, 3, 9, 14, 0));
    return erp::ShipSalesOrder(kro, number, lines);
  }
  std::string Invoice(int32_t kro, const std::string& number) {
    platform::ScopedFixedClock clock(Date::FromParts(2026, 3, 10, 8, 0));
    return erp::InvoiceSalesOrder(kro, number);
  }

  // GetXML called late-bound, as a page calls it.
  std::string Get(const std::string& kro, const std::string& number, const std::string& type,
                  Variant* err_info = nullptr, const std::string& locale = "1033") {
    const ObjectPtr lookups = platform::CreateObject("Ferrolink.Lookups");
    std::vector<Variant> args{Variant(kro),     Variant(number), Variant(type),
                              Variant(ObjectPtr(captions_)), Variant(locale), Variant()};
    const std::string xml = platform::CallRef(lookups, "GetXML", args).ToString();
    if (err_info) *err_info = args[5];
    return xml;
  }

  static bool Parses(const std::string& xml) {
    pugi::xml_document doc;
    return doc.load_string(xml.c_str()).status == pugi::status_ok;
  }

  std::shared_ptr<Captions> captions_;
};

// tw5: escaped values, a header text with markup kept, a line text that is
// no markup escaped, absent values left out, labels before the frame closes.
TEST_F(LookupsTest, AcknowledgementGolden) {
  Order(1, "1000101",
        R"({"SoldToBusinessPartner":"C1001","OrderCurrency":"EUR","CustomerOrderNumber":"PO \"7\"",
            "ReferenceA":"A&B <1>","OrderDiscount":5,"HeaderText":["<b>Rush</b>"," please"],
            "BillToAddressName1":"Hallvard","ShipToAddressCity1":"Bergen's"})",
        {{10, "FA-M8X30", 4,
          R"({"Item":"         FA-M8X30","OrderedQuantity":4,"SalesUnit":"BOX","Price":12.4,
              "LineDiscount":{"Disc_1":10},"PlannedDeliveryDate":"2026-03-20T00:00:00",
              "OrderLineText":["a & b"]})"}});
  const std::string expected =
      "<SO-ACK><DOCTYPE-ID>SLSACK</DOCTYPE-ID><SLS-ORDER>1000101</SLS-ORDER>"
      "<CUST-REF>A&amp;B &lt;1&gt;</CUST-REF><CUST-PO>PO &quot;7&quot;</CUST-PO>"
      "<ORDER-DATE>2026-03-05</ORDER-DATE><ORDER-DISC>5</ORDER-DISC><ORDER-CURR>EUR</ORDER-CURR>"
      "<BILL-NAMA>Hallvard</BILL-NAMA><SHIP-NAME>Bergen&apos;s</SHIP-NAME><BUS-PART>C1001</BUS-PART>"
      "<HTX><b>Rush</b> please</HTX>"
      "<LINE><POS>10</POS><PRODUCT>         FA-M8X30</PRODUCT>"
      "<PROD-DESC>Hexagon bolt M8 x 30, zinc plated</PROD-DESC><REQ-QTY>4</REQ-QTY>"
      "<SLS-UNIT>BOX</SLS-UNIT><REQ-DATE>2026-03-20</REQ-DATE><PRICE>12.40</PRICE>"
      "<PRICE-UNIT>BOX</PRICE-UNIT><DISC-PERC>10</DISC-PERC><DISC-AMNT>4.96</DISC-AMNT>"
      "<LINE-AMNT>44.64</LINE-AMNT><LTX>a &amp; b</LTX></LINE>" +
      std::string(kAckLabels) + "</SO-ACK>";
  Variant err;
  const std::string xml = Get("1", "1000101", "ACK", &err);
  EXPECT_EQ(xml, expected);
  EXPECT_TRUE(Parses(xml));
  EXPECT_TRUE(err.IsMissing());
}

// tw4: a partial shipment of one line; tw4 has no state, fax or telephone,
// so those elements are left out; dates in the tw4 form.
TEST_F(LookupsTest, ShipmentNoticeGolden) {
  Order(2, "2000101",
        R"({"Customer":"C1003","Currency":"EUR","CustomerPurchaseOrderNumber":"L-9",
            "ForwardingAgent":"UPS","ShipToAddressName1":"Lindqvist","ShipToAddressZipCode":"1010"})",
        {{10, "FA-NUT-M8", 10, R"({"Item":"FA-NUT-M8","OrderedQuantity":10,"SalesUnit":"BOX","Price":9.75})"},
         {20, "SV-INSTALL", 2, R"({"Item":"SV-INSTALL","OrderedQuantity":2,"Price":78})"}});
  EXPECT_EQ(Ship(2, "2000101", {{10, 4}}), "2000101-1");
  const std::string expected =
      "<ADV-SHP-NC><DOCTYPE-ID>ASN</DOCTYPE-ID><ASN><ASN-NO>2000101-1</ASN-NO>"
      "<BUS-PART-C>C1003</BUS-PART-C><CUST-PO>L-9</CUST-PO><NAMA>Lindqvist</NAMA>"
      "<ZIP-CODE>1010</ZIP-CODE>"
      "<LIN><SO-PONO>10</SO-PONO><PRODUCT>FA-NUT-M8</PRODUCT>"
      "<PROD-DESC>Hexagon nut M8, stainless A2</PROD-DESC><DEL-QTY>4</DEL-QTY>"
      "<ORDER-QTY>10</ORDER-QTY><UNIT>BOX</UNIT><CARRIER>UPS</CARRIER><SLS-ORDER>2000101</SLS-ORDER>"
      "<SLS-PONO>10</SLS-PONO><DEL-DTE>2026/03/09</DEL-DTE></LIN></ASN>" +
      std::string(kAsnLabels) + "</ADV-SHP-NC>";
  EXPECT_EQ(Get("2", "2000101", "ASN"), expected);
}

// twkt: goods net of a line discount and taxed at 21 %, a service at the
// zero rate as cost of service; the header amounts come from line 0.
TEST_F(LookupsTest, InvoiceGolden) {
  Order(3, "3000101",
        R"({"SoldToBusinessPartner":"C1001","OrderCurrency":"EUR","OrderDiscount":0,
            "BillToTelephone":"+47 1"})",
        {{10, "FA-M8X30", 10, R"({"Item":"KT  FA-M8X30","OrderedQuantity":10,"Price":12.4,"LineDiscount":{"Disc_1":8}})"},
         {20, "SV-INSTALL", 2, R"({"Item":"KT  SV-INSTALL","OrderedQuantity":2,"Price":78,"TaxCode":"03"})"}});
  Ship(3, "3000101");
  EXPECT_EQ(Invoice(3, "3000101"), "3900001");
  const std::string expected =
      "<INVOICE><DOCTYPE-ID>SLS-INV</DOCTYPE-ID><INVOICENO>3900001</INVOICENO>"
      "<SLS-ORDER>3000101</SLS-ORDER><ORDER-DATE>2026-03-05</ORDER-DATE>"
      "<BUS-PART-C>C1001</BUS-PART-C><BILL-TELP>+47 1</BILL-TELP><CURRENCY>EUR</CURRENCY>"
      "<INVOICE-AMNT>294.04</INVOICE-AMNT><GOODS-AMNT>114.08</GOODS-AMNT>"
      "<CSTSRV-AMNT>156.00</CSTSRV-AMNT><DISC-AMNT>0</DISC-AMNT><TAX-AMNT>23.96</TAX-AMNT>"
      "<LINE><POSITION>10</POSITION><PRODUCT>KT  FA-M8X30</PRODUCT>"
      "<PROD-DESC>Hexagon bolt M8 x 30, zinc plated</PROD-DESC><REQ-QTY>10</REQ-QTY>"
      "<DEL-QTY>10</DEL-QTY><PRICE>12.40</PRICE><PRICE-UNIT>BOX</PRICE-UNIT>"
      "<DEL-DATE>2026-03-09</DEL-DATE><ASN-NO>3000101-1</ASN-NO><TAX-CODE>01</TAX-CODE>"
      "<SLSLIN-AMT>114.08</SLSLIN-AMT><LDISC-AMNT>9.92</LDISC-AMNT></LINE>"
      "<LINE><POSITION>20</POSITION><PRODUCT>KT  SV-INSTALL</PRODUCT>"
      "<PROD-DESC>Installation on site, per hour</PROD-DESC><REQ-QTY>2</REQ-QTY>"
      "<DEL-QTY>2</DEL-QTY><PRICE>78.00</PRICE><PRICE-UNIT>PCS</PRICE-UNIT>"
      "<DEL-DATE>2026-03-09</DEL-DATE><ASN-NO>3000101-1</ASN-NO><TAX-CODE>03</TAX-CODE>"
      "<SLSLIN-AMT>156.00</SLSLIN-AMT><LDISC-AMNT>0.00</LDISC-AMNT></LINE>" +
      std::string(kInvLabels) + "</INVOICE>";
  EXPECT_EQ(Get("3", "3000101", "INV"), expected);
}

TEST_F(LookupsTest, AnOrderWithoutLinesStillHasHeaderLabelsAndFrame) {
  Order(1, "1000102", R"({"SoldToBusinessPartner":"C1001"})", {});
  EXPECT_EQ(Get("1", "1000102", "ACK"),
            "<SO-ACK><DOCTYPE-ID>SLSACK</DOCTYPE-ID><SLS-ORDER>1000102</SLS-ORDER>"
            "<ORDER-DATE>2026-03-05</ORDER-DATE><BUS-PART>C1001</BUS-PART>" +
                std::string(kAckLabels) + "</SO-ACK>");
}

// Hostile texts everywhere the ERP keeps text: every document still parses,
// escaped values come back as they were stored.
TEST_F(LookupsTest, HostileTextsGiveWellFormedDocuments) {
  const std::string hostile = R"(<x a='1'>&amp; "q" </y> ]]> &#0; <!-- )";
  const std::string quoted = "\"" + std::string(R"(<x a='1'>&amp; \"q\" </y> ]]> &#0; <!-- )") + "\"";
  Order(1, "1000103",
        "{\"SoldToBusinessPartner\":" + quoted + ",\"ReferenceA\":" + quoted +
            ",\"HeaderText\":[" + quoted + "],\"ShipToAddressName1\":" + quoted +
            ",\"BillToAddressStreet1\":" + quoted + ",\"Carrier\":" + quoted + "}",
        {{10, "FA-M8X30", 2,
          "{\"Item\":" + quoted + ",\"SalesUnit\":" + quoted + ",\"Price\":1,\"OrderLineText\":[" +
              quoted + "," + quoted + "],\"ShipToAddressName1\":" + quoted + "}"}});
  captions_->texts["SLBSA6241"] = "<b>Sales</b> order";  // markup kept
  captions_->texts["SLBSA6242"] = "Customer & <partner";  // no markup: escaped
  Ship(1, "1000103");
  Invoice(1, "1000103");
  for (const char* type : {"ACK", "ASN", "INV"}) {
    const std::string xml = Get("1", "1000103", type);
    ASSERT_FALSE(xml.empty()) << type;
    pugi::xml_document doc;
    ASSERT_EQ(doc.load_string(xml.c_str()).status, pugi::status_ok) << type << ": " << xml;
    pugi::xml_node root = doc.first_child();
    if (std::string(type) == "ASN") root = root.child("ASN");
    EXPECT_EQ(std::string(root.child_value("CUST-REF")), hostile) << type;
  }
  const std::string ack = Get("1", "1000103", "ACK");
  EXPECT_NE(ack.find("<SLS-ORDER><b>Sales</b> order</SLS-ORDER>"), std::string::npos);
  EXPECT_NE(ack.find("<BUS-PART>Customer &amp; &lt;partner</BUS-PART>"), std::string::npos);
}

TEST_F(LookupsTest, CaptionsComeInTheUsersLocaleFromTheMessageManager) {
  Order(1, "1000104", R"({"SoldToBusinessPartner":"C1001"})",
        {{10, "FA-M8X30", 1, R"({"Item":"         FA-M8X30","Price":12.4})"}});
  Ship(1, "1000104");
  Invoice(1, "1000104");
  const ObjectPtr lookups = platform::CreateObject("Ferrolink.Lookups");
  const ObjectPtr messages = std::make_shared<platform::I18NMessageManager>();
  std::vector<Variant> args{Variant("1"), Variant("1000104"), Variant("INV"), Variant(messages),
                            Variant("1031"), Variant()};
  const std::string xml = platform::CallRef(lookups, "GetXML", args).ToString();
  EXPECT_NE(xml.find("<INVDOC>Rechnung</INVDOC>"), std::string::npos) << xml;
  Get("1", "1000104", "ACK", nullptr, "1031");
  for (const std::string& l : captions_->locales) EXPECT_EQ(l, "1031");
  EXPECT_EQ(captions_->calls, 30);  // title, 19 header and 10 line captions
}

TEST_F(LookupsTest, RefusalsOfTheErpComeBackAsTheirNumber) {
  Order(1, "1000105", R"({"SoldToBusinessPartner":"C1001"})",
        {{10, "FA-M8X30", 1, R"({"Item":"         FA-M8X30"})"}});
  struct Case {
    std::string number, type, err;
  } cases[] = {{"nope", "ACK", "1007"}, {"nope", "ASN", "1007"}, {"", "INV", "1007"},
               {"1000105", "ASN", "1008"}, {"1000105", "INV", "1009"},
               {"2000001' OR '1'='1", "ACK", "1007"}};
  vendra_test::ScopedRecordingLog log;
  for (const Case& c : cases) {
    Variant err;
    EXPECT_EQ(Get("1", c.number, c.type, &err), "") << c.number << " " << c.type;
    EXPECT_EQ(err.ToString(), c.err) << c.number << " " << c.type;
  }
  EXPECT_EQ(captions_->calls, 0);
  EXPECT_TRUE(log.entries().empty());  // a refusal is no failure
}

TEST_F(LookupsTest, OtherLookupTypesAskNobody) {
  for (const char* type : {"ack", "Asn", "", "INVOICE"}) {
    Variant err;
    // An instance that is no number shows the connector was never asked.
    EXPECT_EQ(Get("not a number", "1000001", type, &err), "") << type;
    EXPECT_TRUE(err.IsMissing());
  }
  EXPECT_EQ(captions_->calls, 0);
}

TEST_F(LookupsTest, AKroIdThatIsNoNumberIsAClearError) {
  vendra_test::ScopedRecordingLog log;
  for (const char* kro : {"abc", "1x", "", "2.5", "99999999999"}) {
    const platform::ComError e = vendra_test::Failure([&] { Get(kro, "1000001", "ACK"); });
    EXPECT_TRUE(e.number() == platform::err::kTypeMismatch || e.number() == platform::err::kOverflow) << kro;
    EXPECT_NE(e.description().find("KRO id"), std::string::npos) << e.description();
    // The shipment notice and the invoice log it and answer "".
    log.clear();
    EXPECT_EQ(Get(kro, "1000001", "ASN"), "");
    ASSERT_FALSE(log.entries().empty());
    const auto& entry = log.entries().back();
    EXPECT_NE((entry.source + entry.text).find("ShowSOASNDetails"), std::string::npos) << entry.text;
  }
}

TEST_F(LookupsTest, AnUnknownInstanceIsLoggedAndTheConnectorRefuses) {
  vendra_test::ScopedRecordingLog log;
  EXPECT_EQ(vendra_test::ErrorOf([&] { Get("99", "1000001", "ACK"); }), erp::erp_err::kUnknownComponent);
  bool logged = false;
  for (const auto& e : log.entries())
    logged |= e.source == "V50cVDRStdslsShowSalesOrder.ShowSalesOrdersManager: Kro Instance not found";
  EXPECT_TRUE(logged);
  EXPECT_EQ(Get("99", "1000001", "INV"), "");
}

TEST_F(LookupsTest, AFailingCaptionIsRaisedForTheAcknowledgementAndLoggedForTheOthers) {
  Order(1, "1000106", R"({"SoldToBusinessPartner":"C1001"})",
        {{10, "FA-M8X30", 1, R"({"Item":"         FA-M8X30"})"}});
  Ship(1, "1000106");
  captions_->fail = true;
  vendra_test::ScopedRecordingLog log;
  EXPECT_EQ(vendra_test::ErrorOf([&] { Get("1", "1000106", "ACK"); }), 5);
  log.clear();
  EXPECT_EQ(Get("1", "1000106", "ASN"), "");
  std::vector<std::string> sources;
  for (const auto& e : log.entries()) sources.push_back(e.source + " " + e.text);
  ASSERT_GE(sources.size(), 1u);
  EXPECT_NE(std::find_if(sources.begin(), sources.end(),
                         [](const std::string& s) { return s.find("AddLabelsToASNXML") != std::string::npos; }),
            sources.end());
}

TEST_F(LookupsTest, XsltPathIsKeptAsSet) {
  const ObjectPtr lookups = platform::CreateObject("Ferrolink.Lookups");
  EXPECT_EQ(platform::GetProperty(lookups, "XSLT_PATH").ToString(), "");
  platform::SetProperty(lookups, "XSLT_PATH", Variant("xsl/ack.xsl"));
  EXPECT_EQ(platform::GetProperty(lookups, "XSLT_PATH").ToString(), "xsl/ack.xsl");
}

TEST_F(LookupsTest, EscapeXmlTextReplacesTheFiveCharacters) {
  EXPECT_EQ(ferrolink::EscapeXmlText(R"(a&b'c"d<e>f&amp;)"),
            "a&amp;b&apos;c&quot;d&lt;e&gt;f&amp;amp;");
}

// Shipments and invoices --------------------------------------------------

TEST_F(LookupsTest, PartialShipmentsAddUpAndRefusalsStoreNothing) {
  Order(1, "1000107", R"({"SoldToBusinessPartner":"C1001"})",
        {{10, "FA-M8X30", 5, R"({"Item":"         FA-M8X30","Price":10})"},
         {20, "FA-WSH-M8", 2, R"({"Item":"         FA-WSH-M8","Price":4.2})"}});
  auto shipment_lines = [] {
    return erp::OpenErpDatabase()->Execute("SELECT COUNT(*) AS N FROM SHIPMENTLINE")->Value("N").ToLong();
  };
  EXPECT_EQ(vendra_test::ErrorOf([&] { Ship(1, "1000107", {{10, 6}}); }), erp::erp_err::kNothingToShip);
  EXPECT_EQ(vendra_test::ErrorOf([&] { Ship(1, "1000107", {{10, 1}, {30, 1}}); }), erp::erp_err::kNothingToShip);
  EXPECT_EQ(vendra_test::ErrorOf([&] { Ship(2, "1000107"); }), erp::erp_err::kUnknownSalesOrder);
  EXPECT_EQ(vendra_test::ErrorOf([&] { Invoice(1, "1000107"); }), erp::erp_err::kNothingToInvoice);
  EXPECT_EQ(shipment_lines(), 0);

  EXPECT_EQ(Ship(1, "1000107", {{10, 2}}), "1000107-1");
  EXPECT_EQ(Ship(1, "1000107", {{10, 0}}), "1000107-2");  // the 3 still open
  EXPECT_EQ(vendra_test::ErrorOf([&] { Ship(1, "1000107", {{10, 0}}); }), erp::erp_err::kNothingToShip);
  EXPECT_EQ(Ship(1, "1000107"), "1000107-3");  // only line 20 is open
  EXPECT_EQ(vendra_test::ErrorOf([&] { Ship(1, "1000107"); }), erp::erp_err::kNothingToShip);
  EXPECT_EQ(shipment_lines(), 3);

  // The notice shows the latest shipment; the invoice all three.
  pugi::xml_document asn;
  ASSERT_TRUE(asn.load_string(Get("1", "1000107", "ASN").c_str()));
  EXPECT_STREQ(asn.child("ADV-SHP-NC").child("ASN").child_value("ASN-NO"), "1000107-3");
  const std::string number = Invoice(1, "1000107");
  pugi::xml_document inv;
  ASSERT_TRUE(inv.load_string(Get("1", "1000107", "INV").c_str()));
  const pugi::xml_node root = inv.child("INVOICE");
  EXPECT_EQ(root.child_value("INVOICENO"), number);
  double lines = 0;
  int count = 0;
  for (pugi::xml_node line : root.children("LINE")) {
    lines += line.child("SLSLIN-AMT").text().as_double();
    ++count;
  }
  EXPECT_EQ(count, 3);
  EXPECT_DOUBLE_EQ(lines, 58.4);  // 2 x 10 + 3 x 10 + 2 x 4.20
  const double goods = root.child("GOODS-AMNT").text().as_double();
  const double tax = root.child("TAX-AMNT").text().as_double();
  EXPECT_DOUBLE_EQ(goods, 58.4);
  EXPECT_NEAR(tax, 12.26, 1e-9);  // 4.20 + 6.30 + 1.764 -> 4.20 + 6.30 + 1.76
  EXPECT_NEAR(root.child("INVOICE-AMNT").text().as_double(), goods + tax, 1e-9);
  EXPECT_EQ(vendra_test::ErrorOf([&] { Invoice(1, "1000107"); }), erp::erp_err::kNothingToInvoice);
}

}  // namespace
