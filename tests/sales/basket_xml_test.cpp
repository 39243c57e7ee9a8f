// Vendra.Basket.ConvertToXML and SpecifyTax: hand-written golden documents of
// fixed baskets, the tax rules (when tax shows, the breakdown per code, the
// freight tax percentage), captions and formats of the demo shop's locales,
// and documents of hostile data that must still parse.
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/core/date.h"
#include "platform/core/dictionary.h"
#include "platform/core/dispatch.h"
#include "platform/data/ado_types.h"
#include "platform/data/recordset.h"
#include "platform/host/registry.h"
#include "platform/data/connection.h"
#include "platform/services/business_partner.h"
#include "platform/services/message_manager.h"
#include "sales/basket/basket.h"
#include "sales/basket/basket_xml_detail.h"
#include "tests/support/documents.h"
#include "tests/support/failure.h"
#include "tests/support/test_instance.h"

namespace {

using platform::Date;
using platform::Dictionary;
using platform::Variant;
using platform::data::Recordset;
namespace ado = platform::data;

// The page's message manager as a test wants it: "C" and the digits of the
// code ("SLBSA3554" -> "C3554"), or a text the test sets; records the locale.
class FakeMessages : public platform::Dispatchable<FakeMessages> {
 public:
  static const platform::ClassBinding<FakeMessages>& Binding() {
    static const auto b = platform::ClassBinding<FakeMessages>("MessageManager")
                              .Method("GetMessage", &FakeMessages::GetMessage);
    return b;
  }
  std::string GetMessage(const std::string& label, const std::string& locale) {
    ++calls;
    locales.push_back(locale);
    auto it = texts.find(label);
    return it != texts.end() ? it->second : "C" + label.substr(5);
  }
  std::map<std::string, std::string> texts;
  std::vector<std::string> locales;
  int calls = 0;
};

using vendra_test::Column;
using vendra_test::MakeSet;
using vendra_test::Parsed;
using vendra_test::Row;

std::shared_ptr<Dictionary> Document(std::shared_ptr<Recordset> header,
                                     std::shared_ptr<Recordset> lines) {
  auto doc = Dictionary::New();
  doc->Add("header", Variant(header));
  doc->Add("lines", Variant(lines));
  return doc;
}

const Variant kNull = Variant::Null();

constexpr int32_t kText = ado::adVarWChar;
constexpr int32_t kDate = ado::adDBTimeStamp;
constexpr int32_t kMoney = ado::adCurrency;
constexpr int32_t kFloat = ado::adDouble;
constexpr int32_t kLong = ado::adInteger;
constexpr int32_t kShort = ado::adSmallInt;

const std::vector<Column> kLineColumns = {
    {"BASKETLINENR", kLong},   {"SKU", kLong},        {"QUANTITY", kFloat},
    {"LINETEXT", kText},       {"DISCOUNTAMOUNT", kMoney}, {"LINEAMOUNT", kMoney},
    {"TAXCODE", kText},        {"TAXPERCENTAGE", kFloat},  {"TAXCODEDESCRIPTION", kText},
    {"TAXAMOUNT", kMoney},     {"ORDERDISCOUNTAMOUNT", kMoney}};

// Two lines of tax code A (1.90 on 10.00 and 3.80 on 20.00 at 19 percent) and
// one of code B (0 percent, tax 0).
std::vector<Row> TwoCodeLines() {
  return {
      {Variant(1), Variant(1), Variant(2.0), Variant("Bolts & nuts <M8>"), Variant(0.0),
       Variant(10.0), Variant("A"), Variant(19.0), Variant("Standard"), Variant(1.9), kNull},
      {Variant(2), Variant(2), Variant(1.0), kNull, kNull, Variant(20.0), Variant("A"),
       Variant(19.0), Variant("Standard"), Variant(3.8), Variant(0.0)},
      {Variant(3), Variant(19), Variant(1.5), Variant("Service"), Variant(0.0), Variant(50.0),
       Variant("B"), Variant(0.0), Variant("Zero"), Variant(0.0), Variant(0.0)},
  };
}

const std::vector<Column> kHeaderColumns = {
    {"BASKETID", kText},       {"BASKETNAME", kText},      {"BASKETDATE", kDate},
    {"CURRENCYCODE", kText},   {"PAYMENTMETHOD", kShort},  {"FREIGHTTOTAL", kMoney},
    {"FREIGHTTAXTOTAL", kMoney}, {"FREIGHTTAXPERC", kFloat}, {"TAXTOTAL", kMoney},
    {"TOTAL", kMoney},         {"USERLOCALE", kLong}};

Row Header(int16_t payment_method, double freight, double freight_tax, double freight_perc,
           int32_t locale = 1033) {
  return {Variant("B1"),          Variant("Spring order"),   Variant(Date::FromParts(2026, 12, 8)),
          Variant("EUR"),         Variant(payment_method),   Variant(freight),
          Variant(freight_tax),   Variant(freight_perc),     Variant(7.6),
          Variant(1234.5),        Variant(locale)};
}

// The captions between the header and the lines, with the fake's texts.
const std::string kColumnCaptions =
    "<ProductsLabel>C3578</ProductsLabel><QtyLabel>C3579</QtyLabel><UnitLabel>C3580</UnitLabel>"
    "<ReqDateLabel>C3581</ReqDateLabel><ItemLabel>C3582</ItemLabel>"
    "<DescriptionLabel>C3583</DescriptionLabel><UnitPriceLabel>C3584</UnitPriceLabel>"
    "<DiscountLabel>C3585</DiscountLabel><NetAmountLabel>C3586</NetAmountLabel>"
    "<TaxCodeLabel>C3587</TaxCodeLabel><FreightCostsLabel>C3588</FreightCostsLabel>"
    "<AddressLabel>C3589</AddressLabel>";

const std::string kStart =
    "<?xml version=\"1.0\"?><Order><DocumentTypeID>WebOrder</DocumentTypeID>"
    "<WebOrderTitle>C3554</WebOrderTitle><WebOrderSubTitle>C3555</WebOrderSubTitle>"
    "<CopyOrderTitle>C3590</CopyOrderTitle><CopyOrderSubTitle>C3591</CopyOrderSubTitle>"
    "<OrderHeader WebOrderLabel='C3556' CopyOrderLabel='C3592'>";

void SetShowTaxOnInvoiceOrders(const std::filesystem::path& config_dir, const char* value) {
  const std::filesystem::path file = config_dir / "VendraConfiguration.xml";
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_file(file.c_str(), pugi::parse_default | pugi::parse_comments));
  pugi::xpath_node item = doc.select_node(
      "//section[@name='GENERAL_PARAMETERS']/item[@key='ShowTaxOnInvoiceOrders']");
  ASSERT_TRUE(item);
  item.node().text().set(value);
  ASSERT_TRUE(doc.save_file(file.c_str(), "  "));
}

class BasketXmlTest : public vendra_test::InstanceTest {
 protected:
  std::string Convert(const std::shared_ptr<Dictionary>& doc, const std::string& locale = "1033") {
    const std::string xml = basket_.ConvertToXML(Variant(doc), messages_, locale);
    Parsed(xml);
    return xml;
  }

  vendra::Basket basket_;
  std::shared_ptr<FakeMessages> messages_ = std::make_shared<FakeMessages>();
};

// --- Golden documents --------------------------------------------------------------

TEST_F(BasketXmlTest, GoldenBasketPaidByCardShowsTaxAndItsBreakdown) {
  const auto doc = Document(MakeSet(kHeaderColumns, {Header(2, 10, 1.9, 19)}),
                            MakeSet(kLineColumns, TwoCodeLines()));
  const std::string expected =
      kStart +
      "<BASKETID>B1</BASKETID>"
      "<CUSTOMERREFERENCE label = 'C3559'>Spring order</CUSTOMERREFERENCE>"
      "<ORDERDATE label = 'C3558'>12/8/26</ORDERDATE>"
      "<CURRENCYCODE label = 'C3560'>EUR</CURRENCYCODE>"
      "<PAYMENTMETHOD>2</PAYMENTMETHOD>"
      "<FREIGHTTOTAL label = 'C3575'>10.00</FREIGHTTOTAL>"
      "<FREIGHTTAXTOTAL label = 'C3576'>1.90</FREIGHTTAXTOTAL>"
      "<FREIGHTTAXPERC>19.00</FREIGHTTAXPERC>"
      "<TAXTOTAL>7.60</TAXTOTAL>"
      "<TAXSPECIFIC>"
      "<TAX><TAXCODEDESCRIPTION>Standard</TAXCODEDESCRIPTION><TAXPERCENTAGE>19.00</TAXPERCENTAGE>"
      "<TAXAMOUNT>5.70</TAXAMOUNT></TAX>"
      "<TAX><TAXCODEDESCRIPTION>Zero</TAXCODEDESCRIPTION><TAXAMOUNT>0.00</TAXAMOUNT></TAX>"
      "</TAXSPECIFIC>"
      "<TOTAL label = 'C3577'>1,234.50</TOTAL>"
      "<USERLOCALE>1033</USERLOCALE>"
      "</OrderHeader>" +
      kColumnCaptions +
      "<OrderLines>"
      "<OrderLine><BASKETLINENR>1</BASKETLINENR><SKU>1</SKU><QUANTITY>2</QUANTITY>"
      "<LINETEXT label='C3564'>Bolts &amp; nuts &lt;M8&gt;</LINETEXT>"
      "<LINEDISCOUNTAMOUNT>0.00</LINEDISCOUNTAMOUNT><LINEAMOUNT>10.00</LINEAMOUNT>"
      "<TAXCODE>A</TAXCODE><TAXPERCENTAGE>19</TAXPERCENTAGE>"
      "<TAXCODEDESCRIPTION>Standard</TAXCODEDESCRIPTION><TAXAMOUNT>1.90</TAXAMOUNT>"
      "<ORDERDISCOUNTAMOUNT></ORDERDISCOUNTAMOUNT></OrderLine>"
      "<OrderLine><BASKETLINENR>2</BASKETLINENR><SKU>2</SKU><QUANTITY>1</QUANTITY>"
      "<LINETEXT label='C3564'></LINETEXT>"
      "<LINEDISCOUNTAMOUNT></LINEDISCOUNTAMOUNT><LINEAMOUNT>20.00</LINEAMOUNT>"
      "<TAXCODE>A</TAXCODE><TAXPERCENTAGE>19</TAXPERCENTAGE>"
      "<TAXCODEDESCRIPTION>Standard</TAXCODEDESCRIPTION><TAXAMOUNT>3.80</TAXAMOUNT>"
      "<ORDERDISCOUNTAMOUNT>0.00</ORDERDISCOUNTAMOUNT></OrderLine>"
      "<OrderLine><BASKETLINENR>3</BASKETLINENR><SKU>19</SKU><QUANTITY>1.5</QUANTITY>"
      "<LINETEXT label='C3564'>Service</LINETEXT>"
      "<LINEDISCOUNTAMOUNT>0.00</LINEDISCOUNTAMOUNT><LINEAMOUNT>50.00</LINEAMOUNT>"
      "<TAXCODE>B</TAXCODE><TAXPERCENTAGE>0</TAXPERCENTAGE>"
      "<TAXCODEDESCRIPTION>Zero</TAXCODEDESCRIPTION><TAXAMOUNT>0.00</TAXAMOUNT>"
      "<ORDERDISCOUNTAMOUNT>0.00</ORDERDISCOUNTAMOUNT></OrderLine>"
      "</OrderLines></Order>";
  EXPECT_EQ(Convert(doc), expected);
  // Each caption is asked once, with the locale the page gave.
  EXPECT_EQ(messages_->calls, 25);
  for (const std::string& locale : messages_->locales) EXPECT_EQ(locale, "1033");
}

TEST_F(BasketXmlTest, GoldenInvoiceBasketWithoutTaxShownAndTheQuotationColumns) {
  SetShowTaxOnInvoiceOrders(config_dir(), "0");
  const auto header = MakeSet({{"QUOTATIONID", kText},
                               {"CREATIONDATE", kDate},
                               {"CUSTOMERREFERENCE", kText},
                               {"COMMENTS", kText},
                               {"PAYMENTMETHOD", kShort},
                               {"FREIGHTTAXTOTAL", kMoney},
                               {"TAXTOTAL", kMoney},
                               {"DISCOUNTPERC", kFloat},
                               {"USERLOCALE", kLong}},
                              {{Variant("Q1"), Variant(Date::FromParts(2026, 1, 31, 9, 30)),
                                Variant("PO 'A' & B"), kNull, Variant(int16_t{1}), Variant(1.9),
                                Variant(7.6), Variant(2.5), Variant(1033)}});
  const auto lines = MakeSet({{"LINENUMBER", kLong}, {"TAXAMOUNT", kMoney},
                              {"FREIGHTTAXAMOUNT", kMoney}, {"FREIGHTAMOUNT", kMoney}},
                             {{Variant(1), Variant(1.9), Variant(0.5), Variant(2.5)},
                              {Variant(2), kNull, kNull, kNull}});
  const std::string expected =
      kStart +
      "<QUOTATIONID>Q1</QUOTATIONID>"
      "<ORDERDATE label = 'C3558'>1/31/26</ORDERDATE>"
      "<CUSTOMERREFERENCE label = 'C3559'>PO 'A' &amp; B</CUSTOMERREFERENCE>"
      "<COMMENTS label = 'C3564'></COMMENTS>"
      "<PAYMENTMETHOD>1</PAYMENTMETHOD>"
      "<FREIGHTTAXTOTAL label = 'C3576'>0</FREIGHTTAXTOTAL>"
      "<TAXTOTAL>7.60</TAXTOTAL>"
      "<DISCOUNTPERC label = 'C3561'>2.50</DISCOUNTPERC>"
      "<USERLOCALE>1033</USERLOCALE>"
      "</OrderHeader>" +
      kColumnCaptions +
      "<OrderLines>"
      "<OrderLine><LINENUMBER>1</LINENUMBER><TAXAMOUNT>0</TAXAMOUNT>"
      "<FREIGHTTAXAMOUNT>0</FREIGHTTAXAMOUNT><FREIGHTAMOUNT>2.50</FREIGHTAMOUNT></OrderLine>"
      "<OrderLine><LINENUMBER>2</LINENUMBER><TAXAMOUNT></TAXAMOUNT>"
      "<FREIGHTTAXAMOUNT></FREIGHTTAXAMOUNT><FREIGHTAMOUNT></FREIGHTAMOUNT></OrderLine>"
      "</OrderLines></Order>";
  EXPECT_EQ(Convert(Document(header, lines)), expected);
}

TEST_F(BasketXmlTest, GoldenCarrierAndAddressesFromThePartnerData) {
  const auto header = MakeSet({{"CARRIERCODE", kText}, {"SHIPPINGADDRESSID", kLong},
                               {"BILLINGADDRESSID", kLong}},
                              {{Variant("DHL"), Variant(10021), Variant(99999)}});
  const auto lines = MakeSet({{"ADDRESSID", kLong}, {"SKU", kLong}},
                             {{Variant(10021), Variant(5)}, {kNull, Variant(6)}});
  const std::string address =
      "<SHIPPINGCOUNTRYCODE label ='C3570'>US</SHIPPINGCOUNTRYCODE>"
      "<SHIPPINGNAME1 label ='C3567'>Corvetto Machinery Inc.</SHIPPINGNAME1>"
      "<SHIPPINGNAME2></SHIPPINGNAME2>"
      "<SHIPPINGSTREET1 label ='C3568'>2200 West Fulton Street</SHIPPINGSTREET1>"
      "<SHIPPINGSTREET2>Suite 400</SHIPPINGSTREET2>"
      "<SHIPPINGCITY1 label ='C3569'>Chicago</SHIPPINGCITY1>"
      "<SHIPPINGCITY2></SHIPPINGCITY2>"
      "<SHIPPINGSTATEPROVINCE>IL</SHIPPINGSTATEPROVINCE>"
      "<SHIPPINGZIPCODE label ='C3571'>60612</SHIPPINGZIPCODE>"
      "<SHIPPINGPHONE>+1 312 555 0142</SHIPPINGPHONE>"
      "<SHIPPINGFAX>+1 312 555 0143</SHIPPINGFAX>"
      "<SHIPPINGCOUNTRYNAME>United States</SHIPPINGCOUNTRYNAME>"
      "<SHIPPINGSHORTDESCRIPTION label ='C3566'>Head office</SHIPPINGSHORTDESCRIPTION>";
  const std::string expected =
      kStart +
      "<CARRIERCODE label = 'C3562'>DHL Freight</CARRIERCODE>"
      "<SHIPPINGADDRESSID>10021" + address + "</SHIPPINGADDRESSID>"
      "<BILLINGADDRESSID>99999</BILLINGADDRESSID>"
      "</OrderHeader>" +
      kColumnCaptions +
      "<OrderLines>"
      "<OrderLine><ADDRESSID>10021</ADDRESSID>" + address + "<SKU>5</SKU></OrderLine>"
      "<OrderLine><ADDRESSID></ADDRESSID><SKU>6</SKU></OrderLine>"
      "</OrderLines></Order>";
  // No USERLOCALE column: the caller's locale formats.
  EXPECT_EQ(Convert(Document(header, lines)), expected);
}

TEST_F(BasketXmlTest, AnUnknownCarrierShowsItsCodeAndNoLinesGiveAnEmptyLinesElement) {
  const auto header = MakeSet({{"CARRIERCODE", kText}}, {{Variant("NOSUCH")}});
  const auto lines = MakeSet({{"SKU", kLong}}, {});
  const std::string xml = Convert(Document(header, lines));
  EXPECT_NE(xml.find("<CARRIERCODE label = 'C3562'>NOSUCH</CARRIERCODE>"), std::string::npos);
  EXPECT_NE(xml.find("<OrderLines></OrderLines>"), std::string::npos);
}

// --- When tax shows ------------------------------------------------------------------

TEST_F(BasketXmlTest, PaymentMethodAndTheConfigurationDecideWhetherTaxShows) {
  struct Case {
    Variant payment_method;
    const char* configured;
    bool shown;
  };
  const Case cases[] = {
      {Variant(int16_t{2}), "0", true},  {Variant(int16_t{1}), "1", true},
      {Variant(int16_t{1}), "0", false}, {Variant(int16_t{1}), "yes", false},
      {Variant(int16_t{3}), "1", false}, {kNull, "1", false},
  };
  for (const Case& c : cases) {
    SetShowTaxOnInvoiceOrders(config_dir(), c.configured);
    const auto header = MakeSet({{"PAYMENTMETHOD", kShort}, {"TAXTOTAL", kMoney}},
                                {{c.payment_method, Variant(5.7)}});
    const std::string xml = Convert(Document(header, MakeSet(kLineColumns, TwoCodeLines())));
    SCOPED_TRACE(c.configured);
    EXPECT_EQ(xml.find("<TAXSPECIFIC>") != std::string::npos, c.shown);
    EXPECT_EQ(xml.find("<TAXAMOUNT>1.90</TAXAMOUNT>") != std::string::npos, c.shown);
    EXPECT_EQ(xml.find("<TAXAMOUNT>0</TAXAMOUNT>") != std::string::npos, !c.shown);
  }
}

TEST_F(BasketXmlTest, NoBreakdownForATaxTotalOfZeroOrNone) {
  for (const Variant& total : {Variant(0.0), kNull, Variant(-1.0)}) {
    const auto header =
        MakeSet({{"PAYMENTMETHOD", kShort}, {"TAXTOTAL", kMoney}}, {{Variant(int16_t{2}), total}});
    const std::string xml = Convert(Document(header, MakeSet(kLineColumns, TwoCodeLines())));
    EXPECT_EQ(xml.find("<TAXSPECIFIC>"), std::string::npos);
  }
}

TEST_F(BasketXmlTest, TheFreightTaxPercentageShowsOnlyWhenItFitsTheFreight) {
  struct Case {
    Variant freight, freight_tax, percent;
    const char* shown;
  };
  const Case cases[] = {
      {Variant(10.0), Variant(1.9), Variant(19.0), "19.00"},
      {Variant(10.0), Variant(0.0), Variant(19.0), "0.00"},
      {Variant(0.0), Variant(1.9), Variant(19.0), "0.00"},
      {kNull, Variant(1.9), Variant(19.0), "0.00"},
      {Variant(10.0), Variant(1.901), Variant(19.0), "19.00"},  // 0.01 points off still fits
      {Variant(10.0), Variant(1.902), Variant(19.0), "0.00"},   // 0.02 does not
      {Variant(10.0), Variant(1.9), kNull, ""},
  };
  for (const Case& c : cases) {
    const auto header = MakeSet({{"FREIGHTTAXPERC", kFloat}, {"FREIGHTTOTAL", kMoney},
                                 {"FREIGHTTAXTOTAL", kMoney}, {"PAYMENTMETHOD", kShort}},
                                {{c.percent, c.freight, c.freight_tax, Variant(int16_t{2})}});
    const std::string xml = Convert(Document(header, MakeSet({{"SKU", kLong}}, {})));
    EXPECT_NE(xml.find(std::string("<FREIGHTTAXPERC>") + c.shown + "</FREIGHTTAXPERC>"),
              std::string::npos)
        << c.shown << "\n" << xml;
  }
}

// --- Captions, locales and the demo shop ------------------------------------------------

TEST_F(BasketXmlTest, DemoBasketsInEnglishAndGermanWithTheMessageManager) {
  auto manager = std::make_shared<platform::I18NMessageManager>();
  struct Case {
    const char* user;
    int32_t partner;
    const char* locale;
    const char* title;
    const char* order_label;
    const char* total;
  };
  const Case cases[] = {
      {"anna", 1001, "1033", "Web Order", "Web order number", "1,234.50"},
      {"bernd", 1003, "1031", "Web-Auftrag", "Web-Auftragsnummer", "1.234,50"},
  };
  for (const Case& c : cases) {
    auto doc = basket_.Create(c.user, c.partner);
    auto header = doc->Item("header").As<Recordset>();
    header->SetValue("TOTAL", Variant(1234.5));
    header->SetValue("USERLOCALE", Variant(std::stoi(c.locale)));
    const std::string xml = basket_.ConvertToXML(Variant(doc), manager, c.locale);
    const pugi::xml_document parsed = Parsed(xml);
    const pugi::xml_node order = parsed.child("Order");
    EXPECT_STREQ(order.child_value("WebOrderTitle"), c.title);
    EXPECT_STREQ(order.child("OrderHeader").attribute("WebOrderLabel").value(), c.order_label);
    EXPECT_STREQ(order.child("OrderHeader").child_value("TOTAL"), c.total);
    EXPECT_STRNE(order.child("OrderHeader").child("TOTAL").attribute("label").value(), "");
  }
}

TEST_F(BasketXmlTest, HostileValuesAndCaptionsLeaveTheDocumentWellFormed) {
  messages_->texts["SLBSA3556"] = "It's <b>&amp; \"more\"";
  messages_->texts["SLBSA3559"] = "a'b";
  messages_->texts["SLBSA3564"] = "x < y & z";
  messages_->texts["SLBSA3554"] = "</WebOrderTitle><evil/>";
  std::string nasty = "Robert'); DROP TABLE BASKETLINE;--\r\n<&>";
  nasty += std::string(1, '\0');
  nasty += "\x01\x1f end";
  const std::string long_text(10000, 'x');
  const auto header = MakeSet({{"BASKETNAME", kText}, {"BASKETTEXT", kText}},
                              {{Variant(nasty), Variant(long_text)}});
  const auto lines = MakeSet({{"LINETEXT", kText}, {"PARTDESCRIPTION", kText}},
                             {{Variant(nasty), Variant("]]> & <!--")}});
  const std::string xml = Convert(Document(header, lines));
  const pugi::xml_document parsed = Parsed(xml);
  const pugi::xml_node order = parsed.child("Order");
  EXPECT_STREQ(order.child_value("WebOrderTitle"), "</WebOrderTitle><evil/>");
  EXPECT_STREQ(order.child("OrderHeader").attribute("WebOrderLabel").value(),
               "It's <b>&amp; \"more\"");
  EXPECT_STREQ(order.child("OrderHeader").child("CUSTOMERREFERENCE").attribute("label").value(),
               "a'b");
  const std::string name = order.child("OrderHeader").child_value("CUSTOMERREFERENCE");
  EXPECT_EQ(name.substr(0, 35), "Robert'); DROP TABLE BASKETLINE;--\n");  // CR LF read as LF
  EXPECT_NE(name.find("<&>\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD end"), std::string::npos);
  EXPECT_EQ(std::string(order.child("OrderHeader").child_value("COMMENTS")), long_text);
  EXPECT_STREQ(order.child("OrderLines").child("OrderLine").child_value("PARTDESCRIPTION"),
               "]]> & <!--");
}

TEST_F(BasketXmlTest, LateBoundAsAPageScriptDoesWithTwoTaxCodesAndFreight) {
  using platform::Call;
  const platform::ObjectPtr basket = platform::CreateObject("Vendra.Basket");
  Variant doc = Call(basket, "Create", {Variant("anna"), Variant(1001)});
  for (int32_t sku : {5, 16}) {
    std::vector<Variant> args{doc, Variant(sku), Variant(2.0), Variant("2026-12-20"),
                              Variant(false), Variant("")};
    platform::CallRef(basket, "AddLine", args);
    doc = args[0];
  }
  const platform::ObjectPtr header = Call(doc.ToObject(), "Item", {Variant("header")}).ToObject();
  Call(header, "Update",
       {Variant(platform::VariantArray{Variant("PAYMENTMETHOD"), Variant("TAXTOTAL"),
                                       Variant("FREIGHTTOTAL"), Variant("FREIGHTTAXTOTAL"),
                                       Variant("FREIGHTTAXPERC")}),
        Variant(platform::VariantArray{Variant(2), Variant(24.2), Variant(10.0), Variant(2.1),
                                       Variant(21.0)})});
  const platform::ObjectPtr lines = Call(doc.ToObject(), "Item", {Variant("lines")}).ToObject();
  const platform::VariantArray columns{Variant("LINEAMOUNT"), Variant("TAXCODE"),
                                       Variant("TAXPERCENTAGE"), Variant("TAXCODEDESCRIPTION"),
                                       Variant("TAXAMOUNT")};
  Call(lines, "MoveFirst");
  Call(lines, "Update", {Variant(columns), Variant(platform::VariantArray{
                                               Variant(100.0), Variant("01"), Variant(21.0),
                                               Variant("Standard rate"), Variant(21.0)})});
  Call(lines, "MoveNext");
  Call(lines, "Update", {Variant(columns), Variant(platform::VariantArray{
                                               Variant(40.0), Variant("02"), Variant(9.0),
                                               Variant("Reduced rate"), Variant(3.2)})});
  const std::string xml =
      Call(basket, "ConvertToXML",
           {doc, Variant(platform::CreateObject("I18NMessageManager")), Variant("1033")})
          .ToString();
  const pugi::xml_document parsed = Parsed(xml);
  const pugi::xml_node order_header = parsed.child("Order").child("OrderHeader");
  EXPECT_STREQ(order_header.child_value("FREIGHTTAXPERC"), "21.00");
  EXPECT_STREQ(order_header.child("FREIGHTTOTAL").attribute("label").value(), "Freight");
  std::vector<std::string> taxes;
  for (const pugi::xml_node tax : order_header.child("TAXSPECIFIC").children("TAX"))
    taxes.push_back(std::string(tax.child_value("TAXCODEDESCRIPTION")) + " " +
                    tax.child_value("TAXPERCENTAGE") + " " + tax.child_value("TAXAMOUNT"));
  // 3.20 on 40.00 is 8 percent, not 9: that code shows no percentage.
  EXPECT_EQ(taxes, (std::vector<std::string>{"Standard rate 21.00 21.00", "Reduced rate  3.20"}));
}

// --- Kept plans, and the partner data read at once --------------------------------------

// Kelmor.BusinessPartner as a shop could register its own: each answer is
// asked of the platform's component, and counted, so the document takes the
// way of a component it does not know.
class ForwardingPartner : public platform::Dispatchable<ForwardingPartner> {
 public:
  static const platform::ClassBinding<ForwardingPartner>& Binding() {
    static const auto b = platform::ClassBinding<ForwardingPartner>("BusinessPartner")
                              .Method("GetAddress", &ForwardingPartner::GetAddress)
                              .Method("GetTransportCarrier", &ForwardingPartner::GetTransportCarrier)
                              .Method("Release", &ForwardingPartner::Release);
    return b;
  }
  std::shared_ptr<Recordset> GetAddress(int32_t id) {
    ++*calls;
    return real_.GetAddress(id);
  }
  std::shared_ptr<Recordset> GetTransportCarrier(const std::string& code) {
    ++*calls;
    return real_.GetTransportCarrier(code);
  }
  void Release() { real_.Release(); }
  std::shared_ptr<int> calls = std::make_shared<int>(0);

 private:
  platform::BusinessPartner real_;
};

// A page's own message manager that asks the application's: the same
// captions, by the way of a manager the document does not know.
class ForwardingMessages : public platform::Dispatchable<ForwardingMessages> {
 public:
  static const platform::ClassBinding<ForwardingMessages>& Binding() {
    static const auto b = platform::ClassBinding<ForwardingMessages>("MessageManager")
                              .Method("GetMessage", &ForwardingMessages::GetMessage);
    return b;
  }
  explicit ForwardingMessages(std::shared_ptr<platform::I18NMessageManager> real)
      : real_(std::move(real)) {}
  std::string GetMessage(const std::string& label, const std::string& locale) {
    return real_->GetMessage(label, locale);
  }

 private:
  std::shared_ptr<platform::I18NMessageManager> real_;
};

void ExecuteOn(const std::string& catalog, const std::string& sql) {
  platform::data::Connection connection;
  connection.Open("Provider=SQLite;Data Source=data;Initial Catalog=" + catalog);
  connection.Execute(sql);
  connection.Close();
}

std::shared_ptr<Dictionary> PartnerDocument() {
  const auto header = MakeSet({{"CARRIERCODE", kText}, {"SHIPPINGADDRESSID", kLong},
                               {"BILLINGADDRESSID", kLong}, {"USERLOCALE", kLong}},
                              {{Variant(" DHL"), Variant(10021), Variant(10011), Variant(1033)}});
  const auto lines = MakeSet({{"ADDRESSID", kLong}, {"SKU", kLong}, {"LINEAMOUNT", kMoney}},
                             {{Variant(10012), Variant(5), Variant(1.5)},
                              {kNull, Variant(6), kNull},
                              {Variant(99999), Variant(7), Variant(2.25)},
                              {Variant(10012), Variant(8), Variant(1.5)},
                              {Variant(10021), Variant(9), Variant(-0.004)}});
  return Document(header, lines);
}

TEST_F(BasketXmlTest, PartnerDataReadAtOnceGivesTheDocumentOfEachReadAlone) {
  auto manager = std::make_shared<platform::I18NMessageManager>();
  const std::string at_once = basket_.ConvertToXML(Variant(PartnerDocument()), manager, "1033");
  Parsed(at_once);
  EXPECT_NE(at_once.find("<CARRIERCODE label = 'Carrier'>DHL Freight</CARRIERCODE>"),
            std::string::npos);
  EXPECT_NE(at_once.find("<SHIPPINGNAME2>Goods receiving</SHIPPINGNAME2>"), std::string::npos);
  auto forwarding = std::make_shared<ForwardingPartner>();
  platform::ScopedRegistration registration("Kelmor.BusinessPartner",
                                            [&] { return platform::ObjectPtr(forwarding); });
  EXPECT_EQ(basket_.ConvertToXML(Variant(PartnerDocument()), manager, "1033"), at_once);
  // The carrier, and each address once per id and type: 10021 shipping,
  // 10011 billing, 10012 and the unknown 99999 of the lines.
  EXPECT_EQ(*forwarding->calls, 5);
}

TEST_F(BasketXmlTest, EachDocumentShowsThePartnerDataAsItIsThen) {
  auto manager = std::make_shared<platform::I18NMessageManager>();
  const std::string before = basket_.ConvertToXML(Variant(PartnerDocument()), manager, "1033");
  EXPECT_NE(before.find(">Corvetto Machinery Inc.</SHIPPINGNAME1>"), std::string::npos);
  ExecuteOn("Kelmor", "UPDATE ADDRESS SET NAME1 = 'Corvetto & Sons' WHERE ADDRESSID = 10021");
  ExecuteOn("Kelmor", "UPDATE ADDRESS SET STREET2 = 'Dock 9' WHERE ADDRESSID = 10012");
  ExecuteOn("Kelmor", "UPDATE CARRIER SET CARRIERNAME = 'DHL Express' WHERE CARRIERCODE = 'DHL'");
  const std::string after = basket_.ConvertToXML(Variant(PartnerDocument()), manager, "1033");
  Parsed(after);
  EXPECT_EQ(after.find("Corvetto Machinery Inc."), std::string::npos);
  EXPECT_NE(after.find(">Corvetto &amp; Sons</SHIPPINGNAME1>"), std::string::npos);
  EXPECT_NE(after.find(">Dock 9</SHIPPINGSTREET2>"), std::string::npos);
  EXPECT_NE(after.find(">DHL Express</CARRIERCODE>"), std::string::npos);
}

TEST_F(BasketXmlTest, KeptPlansGiveTheDocumentOfAPlanMadeAnew) {
  auto manager = std::make_shared<platform::I18NMessageManager>();
  auto page_manager = std::make_shared<ForwardingMessages>(manager);
  const auto paid = Document(MakeSet(kHeaderColumns, {Header(2, 10, 1.9, 19)}),
                             MakeSet(kLineColumns, TwoCodeLines()));
  const auto invoice = Document(MakeSet(kHeaderColumns, {Header(1, 10, 1.9, 19, 1031)}),
                                MakeSet(kLineColumns, {}));
  const auto partner = PartnerDocument();
  // Documents of three layouts and two locales, in turns: the plans kept
  // for the application's manager write what a plan made for the page's
  // own manager writes.
  for (int round = 0; round < 3; ++round) {
    for (const auto& doc : {paid, invoice, partner}) {
      for (const char* locale : {"1033", "1031"}) {
        const std::string fresh = basket_.ConvertToXML(Variant(doc), page_manager, locale);
        EXPECT_EQ(basket_.ConvertToXML(Variant(doc), manager, locale), fresh) << locale;
      }
    }
  }
  // A label changed in the store shows with a manager that reads it; the
  // running manager keeps the captions it read, as it always has.
  ExecuteOn("Vendra",
            "UPDATE I18NTEXT SET TEXT = 'Order & more' WHERE LABEL = 'SLBSA3554' AND LOCALEID = 1033");
  const auto title = [&](const platform::ObjectPtr& m) {
    return std::string(Parsed(basket_.ConvertToXML(Variant(paid), m, "1033"))
                           .child("Order")
                           .child_value("WebOrderTitle"));
  };
  EXPECT_EQ(title(manager), "Web Order");
  EXPECT_EQ(title(std::make_shared<platform::I18NMessageManager>()), "Order & more");
}

// --- Failures -------------------------------------------------------------------------

TEST_F(BasketXmlTest, NoBasketIsMissingOrderId) {
  for (const Variant& nothing : {Variant(), Variant::Null(), Variant(platform::ObjectPtr())}) {
    const platform::ComError e =
        vendra_test::Failure([&] { basket_.ConvertToXML(nothing, messages_, "1033"); });
    EXPECT_EQ(e.number(), static_cast<int32_t>(0x8004014Au));
    EXPECT_EQ(e.source(), "Vendra.Basket.ConvertToXML");
    EXPECT_NE(e.description().find("Basket is empty"), std::string::npos);
  }
}

TEST_F(BasketXmlTest, ATaxAmountThatIsNoNumberFailsTheWholeConversion) {
  auto lines = TwoCodeLines();
  const std::vector<Column> columns = {{"TAXCODE", kText}, {"TAXAMOUNT", kText},
                                       {"LINEAMOUNT", kMoney}, {"TAXPERCENTAGE", kFloat},
                                       {"TAXCODEDESCRIPTION", kText},
                                       {"ORDERDISCOUNTAMOUNT", kMoney}};
  const auto set = MakeSet(columns, {{Variant("A"), Variant("lots"), Variant(1.0), Variant(19.0),
                                      Variant("x"), kNull}});
  const auto header =
      MakeSet({{"PAYMENTMETHOD", kShort}, {"TAXTOTAL", kMoney}}, {{Variant(int16_t{2}), Variant(1.0)}});
  EXPECT_EQ(vendra_test::ErrorOf([&] { basket_.ConvertToXML(Variant(Document(header, set)),
                                                            messages_, "1033"); }),
            13);
}

// --- SpecifyTax ----------------------------------------------------------------------

class SpecifyTaxTest : public BasketXmlTest {
 protected:
  std::string Tax(const std::vector<Row>& rows) {
    const std::vector<Column> columns = {
        {"TAXCODE", kText},           {"TAXAMOUNT", kText}, {"LINEAMOUNT", kMoney},
        {"TAXPERCENTAGE", kFloat},    {"TAXCODEDESCRIPTION", kText},
        {"ORDERDISCOUNTAMOUNT", kMoney}};
    const std::string xml = basket_.SpecifyTax(MakeSet(columns, rows), 1033);
    Parsed(xml);
    return xml;
  }
};

TEST_F(SpecifyTaxTest, OneEntryPerCodeInOrderOfFirstAppearance) {
  EXPECT_EQ(Tax({{Variant("A"), Variant(1.9), Variant(10.0), Variant(19.0), Variant("Std"), kNull},
                 {Variant("B"), Variant(0.0), Variant(5.0), Variant(0.0), Variant("Zero"), kNull},
                 {Variant("A"), Variant(3.8), Variant(20.0), Variant(21.0), Variant("Other"),
                  Variant(0.0)}}),
            "<TAXSPECIFIC><TAX><TAXCODEDESCRIPTION>Std</TAXCODEDESCRIPTION>"
            "<TAXPERCENTAGE>19.00</TAXPERCENTAGE><TAXAMOUNT>5.70</TAXAMOUNT></TAX>"
            "<TAX><TAXCODEDESCRIPTION>Zero</TAXCODEDESCRIPTION><TAXAMOUNT>0.00</TAXAMOUNT></TAX>"
            "</TAXSPECIFIC>");
}

TEST_F(SpecifyTaxTest, PercentagesShowOnlyWhenTheSummedTaxFits) {
  // 17.10 on 100 less an order discount of 10 is 19 percent.
  EXPECT_NE(Tax({{Variant("A"), Variant(17.1), Variant(100.0), Variant(19.0), Variant("S"),
                  Variant(10.0)}})
                .find("<TAXPERCENTAGE>19.00</TAXPERCENTAGE>"),
            std::string::npos);
  // 2.00 on 10.00 is 20 percent, not 19.
  EXPECT_EQ(Tax({{Variant("A"), Variant(2.0), Variant(10.0), Variant(19.0), Variant("S"), kNull}})
                .find("<TAXPERCENTAGE>"),
            std::string::npos);
}

TEST_F(SpecifyTaxTest, LinesWithoutCodeOrTaxAmountContributeNothing) {
  EXPECT_EQ(Tax({}), "<TAXSPECIFIC></TAXSPECIFIC>");
  EXPECT_EQ(Tax({{kNull, Variant(1.0), Variant(10.0), Variant(10.0), Variant("S"), kNull}}),
            "<TAXSPECIFIC></TAXSPECIFIC>");
  // A code whose lines carry no tax amount has no entry.
  EXPECT_EQ(Tax({{Variant(" A "), kNull, Variant(10.0), Variant(10.0), Variant("S"), kNull},
                 {Variant("B"), Variant(""), Variant(10.0), Variant(10.0), Variant("S"), kNull}}),
            "<TAXSPECIFIC></TAXSPECIFIC>");
  // Blanks around a code do not make another code; descriptions are escaped.
  EXPECT_EQ(Tax({{Variant(" A"), Variant(1.0), Variant(10.0), Variant(10.0), Variant(" <S&> "),
                  kNull},
                 {Variant("A "), Variant(1.0), Variant(10.0), Variant(10.0), Variant("T"), kNull}}),
            "<TAXSPECIFIC><TAX><TAXCODEDESCRIPTION>&lt;S&amp;&gt;</TAXCODEDESCRIPTION>"
            "<TAXPERCENTAGE>10.00</TAXPERCENTAGE><TAXAMOUNT>2.00</TAXAMOUNT></TAX></TAXSPECIFIC>");
}

TEST_F(SpecifyTaxTest, ManyCodesInTurnsKeepTheirOrderAndSums) {
  // Twelve codes, each on every twelfth line: more than are looked through
  // one by one.
  std::vector<Row> rows;
  for (int line = 0; line < 36; ++line)
    rows.push_back({Variant("K" + std::to_string(line % 12)), Variant(1.0), Variant(10.0),
                    Variant(10.0), Variant("D" + std::to_string(line % 12)), kNull});
  std::string expected = "<TAXSPECIFIC>";
  for (int code = 0; code < 12; ++code)
    expected += "<TAX><TAXCODEDESCRIPTION>D" + std::to_string(code) +
                "</TAXCODEDESCRIPTION><TAXPERCENTAGE>10.00</TAXPERCENTAGE>"
                "<TAXAMOUNT>3.00</TAXAMOUNT></TAX>";
  expected += "</TAXSPECIFIC>";
  EXPECT_EQ(Tax(rows), expected);
}

TEST(XmlTextTest, EscapesWhatXmlCannotCarryAndKeepsTheRest) {
  using vendra::basket_detail::AppendXmlAttribute;
  using vendra::basket_detail::AppendXmlText;
  const std::string r = "\xEF\xBF\xBD";
  struct Case {
    std::string in, text, attribute;
  };
  const Case cases[] = {
      {"a<b>&c'd\"", "a&lt;b&gt;&amp;c'd\"", "a&lt;b&gt;&amp;c&apos;d\""},
      {"&lt;", "&amp;lt;", "&amp;lt;"},
      {std::string("x\0y\x1f\t\r\n", 7), "x" + r + "y" + r + "\t\r\n",
       "x" + r + "y" + r + "\t\r\n"},
      {"Stra\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x94\xA7", "Stra\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x94\xA7",
       "Stra\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x94\xA7"},
      {"\xC3(\xC0\xAF\xED\xA0\x80\xEF\xBF\xBF\xE2\x82", r + "(" + r + r + r + r + r + r + r + r + r + r,
       r + "(" + r + r + r + r + r + r + r + r + r + r},
      // Longer than a block of sixteen: the markup at every place of one.
      {"0123456789abcdef<0123456789abcde&0123456789abcdef'x\x7f>",
       "0123456789abcdef&lt;0123456789abcde&amp;0123456789abcdef'x\x7f&gt;",
       "0123456789abcdef&lt;0123456789abcde&amp;0123456789abcdef&apos;x\x7f&gt;"},
      {std::string("block of sixteen\x01 and \xC3\xA9 at its end....\x00", 40),
       "block of sixteen" + r + " and \xC3\xA9 at its end...." + r,
       "block of sixteen" + r + " and \xC3\xA9 at its end...." + r},
  };
  for (const Case& c : cases) {
    std::string text, attribute;
    AppendXmlText(text, c.in);
    AppendXmlAttribute(attribute, c.in);
    EXPECT_EQ(text, c.text);
    EXPECT_EQ(attribute, c.attribute);
    Parsed("<a b='" + attribute + "'>" + text + "</a>");
  }
}

TEST(TaxPercentMatchesTest, RoundedDifferenceOfAtMostOneHundredth) {
  using vendra::basket_detail::TaxPercentMatches;
  struct Case {
    Variant base, percent, tax;
    bool matches;
  };
  const Case cases[] = {
      {Variant(10.0), Variant(19.0), Variant(1.9), true},
      {Variant(10.0), Variant(19.0), Variant(1.901), true},     // 0.01 points
      {Variant(10.0), Variant(19.0), Variant(1.8995), true},    // 0.005 rounds to 0.00 (even)
      {Variant(10.0), Variant(19.0), Variant(1.9015), false},   // 0.015 rounds to 0.02
      {Variant(100.0), Variant(19.0), Variant(19.005), true},   // 0.005 rounds to 0.00 (even)
      {Variant(10.0), Variant(19.0), Variant(1.902), false},
      {Variant(0.0), Variant(0.0), Variant(0.0), false},        // no base
      {Variant(10.0), kNull, Variant(1.9), false},
      {Variant(-10.0), Variant(19.0), Variant(-1.9), true},
      {Variant("10"), Variant("19"), Variant("1.9"), true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TaxPercentMatches(c.base, c.percent, c.tax), c.matches)
        << c.base.ToString() << " " << c.percent.ToString() << " " << c.tax.ToString();
}

}  // namespace
