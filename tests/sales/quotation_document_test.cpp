// Vendra.Quotation's document and reminder run: a hand-written golden
// quotation document, the demo shop's captions, documents of hostile data
// that must still parse; the reminder's selection boundaries, a golden
// message, a failing mail in the middle of a run, and runs at the same time
// that must never remind a quotation twice; and the whole way from a basket
// to a printed and reminded quotation.
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/core/clock.h"
#include "platform/core/date.h"
#include "platform/core/dictionary.h"
#include "platform/core/dispatch.h"
#include "platform/data/ado_types.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/host/registry.h"
#include "platform/services/mail_message.h"
#include "platform/services/message_manager.h"
#include "sales/basket/basket.h"
#include "sales/quotation/quotation.h"
#include "shared/components.h"
#include "shared/data_routines.h"
#include "shared/encoding.h"
#include "shared/error_handling.h"
#include "tests/support/documents.h"
#include "tests/support/failure.h"
#include "tests/support/test_instance.h"

namespace {

using platform::Date;
using platform::Dictionary;
using platform::Variant;
using platform::data::Recordset;
namespace ado = platform::data;

const Variant kNull = Variant::Null();

// The page's message manager as a test wants it: "C" and the digits of the
// code ("SLBSA6051" -> "C6051"), or a text the test sets.
class FakeMessages : public platform::Dispatchable<FakeMessages> {
 public:
  static const platform::ClassBinding<FakeMessages>& Binding() {
    static const auto b = platform::ClassBinding<FakeMessages>("MessageManager")
                              .Method("GetMessage", &FakeMessages::GetMessage);
    return b;
  }
  std::string GetMessage(const std::string& label, const std::string& /*locale*/) {
    auto it = texts.find(label);
    return it != texts.end() ? it->second : "C" + label.substr(5);
  }
  std::map<std::string, std::string> texts;
};

// The configuration service of the configurator, answering one description.
class FakeConfigurations : public platform::Dispatchable<FakeConfigurations> {
 public:
  static const platform::ClassBinding<FakeConfigurations>& Binding() {
    static const auto b =
        platform::ClassBinding<FakeConfigurations>("ConfigurationService")
            .Method("GetConfigurationDescription", &FakeConfigurations::GetConfigurationDescription)
            .Method("Release", &FakeConfigurations::Release);
    return b;
  }
  std::string GetConfigurationDescription(const std::string& id, const Variant&, const Variant&) {
    return description;
  }
  void Release() {}
  std::string description;
};

class FakeConfigurator : public platform::Dispatchable<FakeConfigurator> {
 public:
  static const platform::ClassBinding<FakeConfigurator>& Binding() {
    static const auto b = platform::ClassBinding<FakeConfigurator>("Configurator")
                              .Method("GetConfigurationService", &FakeConfigurator::GetConfigurationService);
    return b;
  }
  std::shared_ptr<FakeConfigurations> GetConfigurationService() { return service; }
  std::shared_ptr<FakeConfigurations> service = std::make_shared<FakeConfigurations>();
};

std::shared_ptr<ado::Connection> Open() {
  return lib_sales::Sls_GetOpenConnection(lib_sales::Sls_ConnectionString());
}

void Execute(const std::string& sql) {
  auto connection = Open();
  connection->Execute(sql);
  lib_sales::Sls_CloseConnection(connection);
}

// A quotation header stored directly, as the storage operations store one.
struct StoredQuotation {
  std::string id = "Q1";
  std::string user = "anna";
  std::string reference = "REF-1";
  int32_t locale = 1033;
  Date created = Date::FromParts(2026, 11, 20);
  Date expiry = Date::FromParts(2026, 12, 20);
  std::optional<Date> notification = Date::FromParts(2026, 12, 8);
  bool needed = true;
  bool sent = false;
};

void Store(const StoredQuotation& q) {
  using namespace lib_sales;
  Execute("INSERT INTO QUOTATIONHEADER (QUOTATIONID, CUSTOMERREFERENCE, BILLINGADDRESSID, "
          "SHIPPINGADDRESSID, CREATIONDATE, USERID, USERLOCALE, PRICINGMETHOD, BUSINESSPARTNERID, "
          "CUSTOMERCODE, CUSTOMERNAME, CURRENCYCODE, KROID, EXPIRYDATE, NOTIFICATIONNEEDED, "
          "NOTIFICATIONDATE, COMMENTS, NOTIFICATIONSENT, DISCOUNTPERC, DISCOUNTTOTAL, "
          "TOTALNETAMOUNT, SUBTOTAL) VALUES (" +
          EncString(q.id) + ", " + EncText(q.reference) + ", 10011, 10012, " + EncDate(q.created) +
          ", " + EncString(q.user) + ", " + EncLong(q.locale) + ", 1, 1001, 'C1001', " +
          "'Hallvard Industrial', 'EUR', 1, " + EncDate(q.expiry) + ", " +
          EncByte(Variant(q.needed)) + ", " +
          (q.notification ? EncDate(*q.notification) : std::string("NULL")) +
          ", 'Deliver to gate 3 & sign', " + EncByte(Variant(q.sent)) +
          ", 0, 25.5, 1234.5, 1260)");
}

void StoreLine(const std::string& id, int32_t number, const std::string& part, double price) {
  using namespace lib_sales;
  Execute("INSERT INTO QUOTATIONLINE (QUOTATIONID, LINENUMBER, SKU, PARTNUMBER, REQUESTDATE, "
          "PARTDESCRIPTION, QUANTITY, PRODUCTUNITCODE, PRODUCTCONFIGURABLE, PRODUCTCONFIGID, "
          "PRODUCTCONFIGCOMPLETE, CURRENCY, PRODUCTPRICE, DISCOUNTPERC, DISCOUNTAMOUNT, "
          "LINEAMOUNT, LINETEXT) VALUES (" +
          EncString(id) + ", " + EncLong(number) + ", 1, " + EncText(part) +
          ", '2026-12-15', 'Hex bolt', 4, 'PCE', 0, NULL, 0, 'EUR', " + EncDouble(price) +
          ", 0, 0, " + EncDouble(price * 4) + ", NULL)");
}

// The stored quotation as its document: "header" and "lines", detached.
Variant DocumentOf(const std::string& id) {
  auto header = lib_sales::Sls_GetDisconnectedRecordset(
      "SELECT * FROM QUOTATIONHEADER WHERE QUOTATIONID = " + lib_sales::EncString(id),
      lib_sales::Sls_ConnectionString());
  auto lines = lib_sales::Sls_GetDisconnectedRecordset(
      "SELECT * FROM QUOTATIONLINE WHERE QUOTATIONID = " + lib_sales::EncString(id) +
          " ORDER BY LINENUMBER",
      lib_sales::Sls_ConnectionString());
  auto doc = Dictionary::New();
  doc->Add("header", Variant(header));
  doc->Add("lines", Variant(lines));
  return Variant(std::static_pointer_cast<platform::Object>(doc));
}

using vendra_test::MakeSet;
using vendra_test::Parsed;

class QuotationDocumentTest : public vendra_test::InstanceTest {
 protected:
  platform::ScopedFixedClock clock_{Date::FromParts(2026, 12, 8, 9, 30, 0)};
  std::shared_ptr<FakeMessages> messages_ = std::make_shared<FakeMessages>();
  vendra::Quotation quotation_;

  std::string Xml(Variant document, const std::string& locale = "1033") {
    return quotation_.ConvertToXML(document, messages_, locale);
  }
};

// --- The document ----------------------------------------------------------------------

const char kLabels[] =
    "<Labels><QuotationHeader><CustomerLabel>C3557</CustomerLabel>"
    "<CustomerReferenceLabel>C3559</CustomerReferenceLabel>"
    "<CreationDateLabel>C6017</CreationDateLabel><ExpirationDateLabel>C6018</ExpirationDateLabel>"
    "<CustomerInformationLabel>C6092</CustomerInformationLabel>"
    "<PricesValidtillLabel>C6093</PricesValidtillLabel><PrintedOnLabel>C6094</PrintedOnLabel>"
    "<QuotationRemarksLabel>C6095</QuotationRemarksLabel><DiscountLabel>C3573</DiscountLabel>"
    "<SubtotalLabel>C3574</SubtotalLabel><TotalNetAmountLabel>C3572</TotalNetAmountLabel>"
    "</QuotationHeader><QuotationLine><ProductsLabel>C3578</ProductsLabel>"
    "<ItemLabel>C2006</ItemLabel><QtyLabel>C3579</QtyLabel><UnitLabel>C3580</UnitLabel>"
    "<ReqDateLabel>C0709</ReqDateLabel><UnitPriceLabel>C3584</UnitPriceLabel>"
    "<DiscountLabel>C3585</DiscountLabel><NetAmountLabel>C3586</NetAmountLabel>"
    "<ConfiguredItemLabel>C6096</ConfiguredItemLabel></QuotationLine><Configurations>"
    "<FeatureDescription>C6090</FeatureDescription><OptionValue>C6091</OptionValue>"
    "<PartiallyConfigured>C0622</PartiallyConfigured></Configurations></Labels>";

TEST_F(QuotationDocumentTest, GoldenDocumentOfAFixedQuotation) {
  auto configurator = std::make_shared<FakeConfigurator>();
  configurator->service->description = "C1,Q1,2,7VOPC1,Q1,2,7,F1,10,Colour,Red";
  platform::ScopedRegistration fake("Syntaro.Configurator", [configurator] { return configurator; });
  const auto header = MakeSet(
      {{"QUOTATIONID", ado::adVarWChar}, {"CUSTOMERREFERENCE", ado::adVarWChar},
       {"CREATIONDATE", ado::adDBTimeStamp}, {"USERLOCALE", ado::adInteger},
       {"DISCOUNTPERC", ado::adDouble}, {"TOTALNETAMOUNT", ado::adDouble},
       {"COMMENTS", ado::adVarWChar}, {"NOTIFICATIONSENT", ado::adBoolean}},
      {{Variant("Q1"), Variant("Tom & Jerry <2>"), Variant(Date::FromParts(2026, 11, 20)),
        Variant(1033), Variant(0.0), Variant(1234.5), kNull, Variant(false)}});
  const auto lines = MakeSet(
      {{"LINENUMBER", ado::adInteger}, {"REQUESTDATE", ado::adDBTimeStamp},
       {"PRODUCTCONFIGURABLE", ado::adBoolean}, {"PRODUCTCONFIGID", ado::adVarWChar},
       {"PRODUCTCONFIGCOMPLETE", ado::adBoolean},
       {"PRODUCTPRICE", ado::adDouble}, {"DISCOUNTPERC", ado::adDouble},
       {"LINETEXT", ado::adVarWChar}},
      {{Variant(1), Variant(Date::FromParts(2026, 12, 15)), Variant(false), kNull, Variant(false),
        Variant(2.5), Variant(0.0), kNull},
       {Variant(2), kNull, Variant(true), Variant("C1"), Variant(true), Variant(1000.0), Variant(12.5),
        Variant("a < b")},
       {Variant(3), kNull, Variant(true), Variant("C2"), Variant(false), Variant(0.0), Variant(0.0),
        kNull}});
  auto doc = Dictionary::New();
  doc->Add("header", Variant(header));
  doc->Add("lines", Variant(lines));

  const std::string expected =
      "<?xml version=\"1.0\"?><Quotation><DocumentTypeID>WebQuote</DocumentTypeID>"
      "<QuotationTitle>C6051</QuotationTitle>"
      "<QuotationHeader><QUOTATIONID>Q1</QUOTATIONID>"
      "<CUSTOMERREFERENCE>Tom &amp; Jerry &lt;2&gt;</CUSTOMERREFERENCE>"
      "<CREATIONDATE>11/20/26</CREATIONDATE><USERLOCALE>1033</USERLOCALE>"
      "<DISCOUNTPERC></DISCOUNTPERC><TOTALNETAMOUNT>1,234.50</TOTALNETAMOUNT>"
      "<COMMENTS></COMMENTS><NOTIFICATIONSENT>False</NOTIFICATIONSENT>"
      "<CurrentDate>12/8/26, 9:30\u202FAM</CurrentDate><DateFormat>[C7013/C7015/C7000]</DateFormat>"
      "</QuotationHeader><QuotationLines>"
      "<QuotationLine><LINENUMBER>1</LINENUMBER><REQUESTDATE>12/15/26</REQUESTDATE>"
      "<PRODUCTCONFIGURABLE value='False'></PRODUCTCONFIGURABLE><PRODUCTCONFIGID></PRODUCTCONFIGID>"
      "<PRODUCTCONFIGCOMPLETE>False</PRODUCTCONFIGCOMPLETE><PRODUCTPRICE>2.50</PRODUCTPRICE>"
      "<DISCOUNTPERC>0</DISCOUNTPERC><LINETEXT></LINETEXT></QuotationLine>"
      "<QuotationLine><LINENUMBER>2</LINENUMBER><REQUESTDATE></REQUESTDATE>"
      "<PRODUCTCONFIGURABLE value='True'><CONFIGURATIONS><VOP><FEATURECODE>F1</FEATURECODE>"
      "<SEQUENCENUMBER>10</SEQUENCENUMBER><FEATUREDESCRIPTION>Colour</FEATUREDESCRIPTION>"
      "<OPTIONVALUE>Red</OPTIONVALUE></VOP></CONFIGURATIONS></PRODUCTCONFIGURABLE>"
      "<PRODUCTCONFIGID>C1</PRODUCTCONFIGID>"
      "<PRODUCTCONFIGCOMPLETE>True</PRODUCTCONFIGCOMPLETE><PRODUCTPRICE>1,000.00</PRODUCTPRICE>"
      "<DISCOUNTPERC>12.5</DISCOUNTPERC><LINETEXT>a &lt; b</LINETEXT></QuotationLine>"
      "<QuotationLine><LINENUMBER>3</LINENUMBER><REQUESTDATE></REQUESTDATE>"
      "<PRODUCTCONFIGURABLE value='True'></PRODUCTCONFIGURABLE><PRODUCTCONFIGID>C2</PRODUCTCONFIGID>"
      "<PRODUCTCONFIGCOMPLETE>False</PRODUCTCONFIGCOMPLETE><PRODUCTPRICE>0.00</PRODUCTPRICE>"
      "<DISCOUNTPERC>0</DISCOUNTPERC><LINETEXT></LINETEXT></QuotationLine>"
      "</QuotationLines><Parameters>"
      "<ImageDirectory>HTTP://localhost/shop/Vendra/Quotation/images/</ImageDirectory>"
      "<Logo>logo.gif</Logo><WatermarkImage>watermark.gif</WatermarkImage>"
      "<PrintConfigurations>1</PrintConfigurations><SendAsEmail>0</SendAsEmail></Parameters>" +
      std::string(kLabels) + "</Quotation>";
  const std::string xml = Xml(Variant(std::static_pointer_cast<platform::Object>(doc)));
  EXPECT_EQ(xml, expected);
  Parsed(xml);

  // The send-as-e-mail flag of the document reaches the parameters.
  doc->Add("sendasemail", Variant("1"));
  EXPECT_NE(Xml(Variant(std::static_pointer_cast<platform::Object>(doc)))
                .find("<SendAsEmail>1</SendAsEmail>"),
            std::string::npos);
}

TEST_F(QuotationDocumentTest, StoredQuotationInEnglishWithTheDemoCaptions) {
  Store({});
  StoreLine("Q1", 1, "HB-M8", 0.25);
  StoreLine("Q1", 2, "HB-M10", 1234.5);
  auto manager = std::make_shared<platform::I18NMessageManager>();
  Variant document = DocumentOf("Q1");
  const std::string xml = quotation_.ConvertToXML(document, manager, "1033");
  const pugi::xml_document doc = Parsed(xml);
  const pugi::xml_node root = doc.child("Quotation");
  EXPECT_STREQ(root.child_value("QuotationTitle"), "Quotation");
  const pugi::xml_node header = root.child("QuotationHeader");
  // The header's elements are the table's columns in its order.
  std::vector<std::string> names;
  for (pugi::xml_node n : header.children()) names.push_back(n.name());
  ASSERT_GE(names.size(), 4u);
  EXPECT_EQ(names[0], "QUOTATIONID");
  EXPECT_EQ(names[1], "CUSTOMERREFERENCE");
  EXPECT_EQ(names[names.size() - 2], "CurrentDate");
  EXPECT_STREQ(header.child_value("EXPIRYDATE"), "12/20/26");
  EXPECT_STREQ(header.child_value("SUBTOTAL"), "1,260.00");
  EXPECT_STREQ(header.child_value("COMMENTS"), "Deliver to gate 3 & sign");
  EXPECT_STREQ(header.child_value("DateFormat"), "[mm/dd/yy]");
  const pugi::xml_node second = root.child("QuotationLines").child("QuotationLine").next_sibling();
  EXPECT_STREQ(second.child_value("LINEAMOUNT"), "4,938.00");
  EXPECT_STREQ(second.child_value("PARTNUMBER"), "HB-M10");
  const pugi::xml_node labels = root.child("Labels");
  EXPECT_STREQ(labels.child("QuotationHeader").child_value("CustomerLabel"), "Customer");
  EXPECT_STREQ(labels.child("QuotationHeader").child_value("PricesValidtillLabel"),
               "Prices valid until");
  EXPECT_STREQ(labels.child("QuotationLine").child_value("ItemLabel"), "Item");
  EXPECT_STREQ(labels.child("Configurations").child_value("PartiallyConfigured"),
               "Partially configured");
  EXPECT_STREQ(root.child("Parameters").child_value("Logo"), "logo.gif");
}

// Text the document writes as it stands in the data model (captions,
// parameters, the configured flag) is escaped like the values, so hostile
// or merely unlucky texts never break the document.
TEST_F(QuotationDocumentTest, HostileTextsStillGiveAWellFormedDocument) {
  const std::string hostile = "A&B <x> 'q' \"d\" \x01\x1f]]>";
  Store({.reference = hostile});
  StoreLine("Q1", 1, hostile, 1.0);
  Execute("UPDATE QUOTATIONLINE SET LINETEXT = " + lib_sales::EncText(hostile));
  for (const char* code : {"SLBSA6051", "SLBSA3557", "SLBSA7012", "SLBSA6090"})
    messages_->texts[code] = "<b>Caption & co</b>'";
  auto configurator = std::make_shared<FakeConfigurator>();
  platform::ScopedRegistration fake("Syntaro.Configurator", [configurator] { return configurator; });
  configurator->service->description = "xVOPa,b,c,d,<F1>,&,'\",<Red>";
  Execute("UPDATE QUOTATIONLINE SET PRODUCTCONFIGURABLE = 1, PRODUCTCONFIGCOMPLETE = 1, PRODUCTCONFIGID = 'C1'");
  const std::string xml = Xml(DocumentOf("Q1"));
  const pugi::xml_document doc = Parsed(xml);
  const pugi::xml_node root = doc.child("Quotation");
  EXPECT_STREQ(root.child_value("QuotationTitle"), "<b>Caption & co</b>'");
  EXPECT_STREQ(root.child("QuotationLines").child("QuotationLine").child("PRODUCTCONFIGURABLE")
                   .child("CONFIGURATIONS").child("VOP").child_value("FEATURECODE"),
               "<F1>");
  // Control characters and bytes that are no UTF-8 become U+FFFD; the rest stays.
  EXPECT_STREQ(root.child("QuotationHeader").child_value("CUSTOMERREFERENCE"),
               "A&B <x> 'q' \"d\" \xEF\xBF\xBD\xEF\xBF\xBD]]>");
}

TEST_F(QuotationDocumentTest, FailuresOfTheDocument) {
  struct Case {
    const char* what;
    std::function<Variant()> document;
    int32_t number;
    const char* text;
  };
  const Case cases[] = {
      {"no document", [] { return Variant(); }, lib_sales::Code(lib_sales::VendraError::MissingOrderID),
       "Quotation is empty"},
      {"an empty document",
       [] { return Variant(std::static_pointer_cast<platform::Object>(Dictionary::New())); },
       lib_sales::Code(lib_sales::VendraError::MissingOrderID), "Quotation is empty"},
  };
  for (const Case& c : cases) {
    const platform::ComError e = vendra_test::Failure([&] { Xml(c.document()); });
    EXPECT_EQ(e.number(), c.number) << c.what;
    EXPECT_EQ(e.source(), "Vendra.Quotation.ConvertToXML") << c.what;
    EXPECT_NE(e.description().find(c.text), std::string::npos) << c.what << e.description();
  }
  // An option described with fewer than eight fields fails the lines step.
  Store({});
  StoreLine("Q1", 1, "P", 1.0);
  Execute("UPDATE QUOTATIONLINE SET PRODUCTCONFIGURABLE = 1, PRODUCTCONFIGCOMPLETE = 1, PRODUCTCONFIGID = 'C1'");
  auto configurator = std::make_shared<FakeConfigurator>();
  configurator->service->description = "xVOPa,b,c";
  platform::ScopedRegistration fake("Syntaro.Configurator", [configurator] { return configurator; });
  vendra_test::ScopedRecordingLog log;
  const platform::ComError e = vendra_test::Failure([&] { Xml(DocumentOf("Q1")); });
  EXPECT_NE(e.description().find("METHOD: Vendra.Quotation.ConvertLinesToXML"), std::string::npos)
      << e.description();
  EXPECT_NE(e.description().find("fewer than eight fields"), std::string::npos) << e.description();
}

// --- The reminder run ------------------------------------------------------------------

std::vector<std::filesystem::path> Mails(const std::filesystem::path& home) {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(home / "mail" / "pickup", ec))
    if (e.path().extension() == ".eml") files.push_back(e.path());
  return files;
}

std::string ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string DecodeBase64(const std::string& text) {
  std::string out;
  uint32_t buffer = 0;
  int bits = 0;
  for (char c : text) {
    int v;
    if (c >= 'A' && c <= 'Z') v = c - 'A';
    else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
    else if (c >= '0' && c <= '9') v = c - '0' + 52;
    else if (c == '+') v = 62;
    else if (c == '/') v = 63;
    else continue;
    buffer = (buffer << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((buffer >> bits) & 0xFF);
    }
  }
  return out;
}

struct Mail {
  std::map<std::string, std::string> headers;  // name -> raw value (folded lines joined)
  std::vector<std::string> header_names;
  std::string body;                           // decoded
};

Mail ReadMail(const std::filesystem::path& file) {
  const std::string text = ReadFile(file);
  Mail m;
  const size_t end = text.find("\r\n\r\n");
  std::string last;
  size_t at = 0;
  while (at < end) {
    size_t eol = text.find("\r\n", at);
    const std::string line = text.substr(at, eol - at);
    if (!line.empty() && line[0] == ' ') {
      m.headers[last] += line;
    } else {
      const size_t colon = line.find(':');
      last = line.substr(0, colon);
      m.header_names.push_back(last);
      m.headers[last] = line.substr(colon + 2);
    }
    at = eol + 2;
  }
  m.body = DecodeBase64(text.substr(end + 4));
  return m;
}

bool SentFlag(const std::string& id) {
  auto rs = lib_sales::Sls_GetDisconnectedRecordset(
      "SELECT NOTIFICATIONSENT FROM QUOTATIONHEADER WHERE QUOTATIONID = " + lib_sales::EncString(id),
      lib_sales::Sls_ConnectionString());
  return rs->Value("NOTIFICATIONSENT").ToBool();
}

class QuotationReminderTest : public QuotationDocumentTest {};

TEST_F(QuotationReminderTest, GoldenMessageMailedOnceAndMarked) {
  Store({.id = "Q1", .reference = "PO 4711"});
  vendra::Quotation().Run();
  const auto mails = Mails(home());
  ASSERT_EQ(mails.size(), 1u);
  const Mail m = ReadMail(mails[0]);
  EXPECT_EQ(m.headers.at("Subject"), "Your quotation expires soon (PO 4711)");
  EXPECT_EQ(m.headers.at("From"), "Vendra Demo Supplies <sales@vendra-demo.example>");
  EXPECT_EQ(m.headers.at("To"), "anna.berg@hallvard.example");
  EXPECT_EQ(m.body,
            "Dear customer,\r\n"
            "\r\n"
            "       your quotation PO 4711 ,created on 2026-11-20[mm/dd/yy] expires on "
            "2026-12-20[mm/dd/yy].\r\n"
            "You can view and order the quotation here:\r\n"
            "              HTTP://localhost/shop/Vendra/currentorder/QuotationDetail.asp?"
            "QuotationID=Q1&mode=active\r\n"
            "\r\n"
            "Kind regards,\r\n"
            "Vendra Demo Supplies <sales@vendra-demo.example>");
  EXPECT_TRUE(SentFlag("Q1"));
  // A second run finds nothing due.
  vendra::Quotation().Run();
  EXPECT_EQ(Mails(home()).size(), 1u);
}

// The whole way a quotation goes: a basket of anna's (lines 1, 3 and 7)
// becomes a quotation through Create, Show reads it back, its document
// carries the renumbered lines and escapes the page's texts, and once its
// reminder day has come it is mailed exactly once.
TEST_F(QuotationReminderTest, ABasketBecomesAQuotationThatIsPrintedAndRemindedOnce) {
  vendra::Basket basket;
  const std::string id =
      basket.Create("anna", 1001)->Item("header").As<Recordset>()->Value("BASKETID").ToString();
  auto db = Open();
  db->Execute("UPDATE BASKETHEADER SET USERLOCALE = 1033, KROID = 1, CUSTOMERCODE = 'C1001', "
              "BASKETNAME = 'PO <7> & co', BASKETTEXT = 'Gate 3 & 4' WHERE BASKETID = ?",
              {Variant(id)});
  for (const auto& [number, sku, quantity] :
       {std::tuple{1, 1, 10.0}, std::tuple{3, 5, 2.0}, std::tuple{7, 3, 1.0}})
    db->Execute("INSERT INTO BASKETLINE (BASKETID, BASKETLINENR, SKU, QUANTITY) VALUES (?, ?, ?, ?)",
                {Variant(id), Variant(number), Variant(sku), Variant(quantity)});
  lib_sales::Sls_CloseConnection(db);
  quotation_.Create(Variant(std::static_pointer_cast<platform::Object>(basket.Restore(id))));

  Variant shown(std::static_pointer_cast<platform::Object>(quotation_.Show(id, std::nullopt)));
  const std::string xml =
      quotation_.ConvertToXML(shown, std::make_shared<platform::I18NMessageManager>(), "1033");
  const pugi::xml_document doc = Parsed(xml);
  const pugi::xml_node root = doc.child("Quotation");
  const pugi::xml_node header = root.child("QuotationHeader");
  EXPECT_STREQ(header.child_value("QUOTATIONID"), id.c_str());
  EXPECT_STREQ(header.child_value("CUSTOMERREFERENCE"), "PO <7> & co");
  EXPECT_NE(xml.find("<COMMENTS>Gate 3 &amp; 4</COMMENTS>"), std::string::npos);
  EXPECT_STREQ(header.child_value("EXPIRYDATE"), "1/7/27");
  std::vector<std::string> lines;
  for (pugi::xml_node line : root.child("QuotationLines").children("QuotationLine"))
    lines.push_back(std::string(line.child_value("LINENUMBER")) + ":" + line.child_value("SKU") +
                    ":" + line.child_value("QUANTITY"));
  EXPECT_EQ(lines, (std::vector<std::string>{"1:1:10", "2:5:2", "3:3:1"}));
  EXPECT_STREQ(root.child("Labels").child("QuotationHeader").child_value("CustomerLabel"),
               "Customer");
  EXPECT_STREQ(root.child("Parameters").child_value("Logo"), "logo.gif");

  // Made today, its reminder day is 25 days ahead: not due yet.
  quotation_.Run();
  EXPECT_TRUE(Mails(home()).empty());
  auto move = Open();
  move->Execute("UPDATE QUOTATIONHEADER SET NOTIFICATIONDATE = ? WHERE QUOTATIONID = ?",
                {Variant(Date::FromParts(2026, 12, 8)), Variant(id)});
  lib_sales::Sls_CloseConnection(move);
  quotation_.Run();
  const auto mails = Mails(home());
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(ReadMail(mails[0]).headers.at("Subject"), "Your quotation expires soon (PO <7> & co)");
  EXPECT_TRUE(SentFlag(id));
  quotation_.Run();
  EXPECT_EQ(Mails(home()).size(), 1u);
}

TEST_F(QuotationReminderTest, WhichQuotationsAreDue) {
  const Date today = Date::FromParts(2026, 12, 8);
  struct Case {
    StoredQuotation q;
    bool mailed;
  };
  const Case cases[] = {
      {{.id = "DUE", .expiry = today.AddDays(1), .notification = today}, true},
      {{.id = "LATE", .expiry = today.AddDays(9), .notification = today.AddDays(-3)}, true},
      {{.id = "EXPIRESTODAY", .expiry = today, .notification = today}, false},
      {{.id = "EXPIRED", .expiry = today.AddDays(-1), .notification = today.AddDays(-5)}, false},
      {{.id = "NOTYET", .expiry = today.AddDays(9), .notification = today.AddDays(1)}, false},
      {{.id = "NODAY", .expiry = today.AddDays(9), .notification = std::nullopt}, false},
      {{.id = "UNWANTED", .expiry = today.AddDays(9), .notification = today, .needed = false}, false},
      {{.id = "SENT", .expiry = today.AddDays(9), .notification = today, .sent = true}, true},
  };
  for (const Case& c : cases) Store(c.q);
  const auto due = quotation_.getToBeNotifiedQuotations();
  ASSERT_TRUE(due);
  std::set<std::string> selected;
  for (; !due->Eof(); due->MoveNext()) selected.insert(due->Value("QUOTATIONID").ToString());
  EXPECT_EQ(selected, (std::set<std::string>{"DUE", "LATE"}));

  vendra::Quotation().Run();
  EXPECT_EQ(Mails(home()).size(), 2u);
  for (const Case& c : cases) EXPECT_EQ(SentFlag(c.q.id), c.mailed) << c.q.id;
}

TEST_F(QuotationReminderTest, NothingIsSentWhenQuotationsAreNotImplemented) {
  const auto file = config_dir() / "VendraConfiguration.xml";
  std::string text = ReadFile(file);
  const std::string on = "<item key=\"QuotationImplemented\">1</item>";
  ASSERT_NE(text.find(on), std::string::npos);
  text.replace(text.find(on), on.size(), "<item key=\"QuotationImplemented\">0</item>");
  std::ofstream(file, std::ios::trunc | std::ios::binary) << text;
  Store({});
  vendra::Quotation().Run();
  EXPECT_TRUE(Mails(home()).empty());
  EXPECT_FALSE(SentFlag("Q1"));
}

TEST_F(QuotationReminderTest, HeadersTakeNoLineBreakAndCarryNonAsciiEncoded) {
  Store({.id = "Q1", .reference = "X\r\nBcc: victim@example.com\r\n\r\nhello"});
  Store({.id = "Q2", .user = "bernd", .reference = "Grüße", .locale = 1031});
  Execute("UPDATE I18NTEXT SET TEXT = 'Vendra Demo Läden <sales@vendra-demo.example>' "
          "WHERE LABEL = 'SLBSA7009' AND LOCALEID = 1031");
  lib_sales::ResetThreadCaches();
  vendra::Quotation().Run();
  const auto mails = Mails(home());
  ASSERT_EQ(mails.size(), 2u);
  for (const auto& file : mails) {
    const Mail m = ReadMail(file);
    for (const std::string& name : m.header_names) EXPECT_NE(name, "Bcc");
    for (const auto& [name, value] : m.headers)
      for (unsigned char c : value) EXPECT_LT(c, 0x80) << name << ": " << value;
    if (m.headers.at("To") == "bernd.krause@lindqvist.example") {
      EXPECT_EQ(m.headers.at("From").find("=?UTF-8?B?"), 0u) << m.headers.at("From");
      EXPECT_NE(m.headers.at("From").find("<sales@vendra-demo.example>"), std::string::npos);
      EXPECT_NE(m.body.find("Ihr Angebot Grüße ,erstellt am 2026-11-20[TT.MM.JJ]"),
                std::string::npos)
          << m.body;
    } else {
      EXPECT_EQ(m.headers.at("Subject"),
                "Your quotation expires soon (X  Bcc: victim@example.com    hello)");
    }
  }
}

// "CDO.Message" as the real one, except that the send numbers in fail_on
// (counting from 1 over all messages) fail; on_send runs before each send.
struct SendScript {
  std::set<int> fail_on;
  std::function<void()> on_send;
  std::atomic<int> sends{0};
};

class ScriptedMessage : public platform::MailMessage {
 public:
  explicit ScriptedMessage(SendScript* script) : script_(script) {}
  platform::Variant Invoke(std::string_view name, platform::CallKind kind,
                           std::span<platform::Variant> args) override {
    if (name == "Send") {
      const int n = ++script_->sends;
      if (script_->on_send) script_->on_send();
      if (script_->fail_on.count(n))
        platform::Raise(platform::err::kPermissionDenied, "CDO.Message", "The pickup directory is full");
    }
    return platform::MailMessage::Invoke(name, kind, args);
  }

 private:
  SendScript* script_;
};

TEST_F(QuotationReminderTest, AFailingMailEndsTheRunButNothingIsMailedTwice) {
  Store({.id = "Q1", .user = "anna"});
  Store({.id = "Q2", .user = "anna", .reference = "second"});
  Store({.id = "Q3", .user = "bernd", .locale = 1031});
  SendScript script;
  script.fail_on = {2};
  platform::ScopedRegistration fake("CDO.Message",
                                    [&script] { return std::make_shared<ScriptedMessage>(&script); });
  vendra_test::ScopedRecordingLog log;
  vendra::Quotation().Run();  // the failure is logged, not raised
  ASSERT_EQ(Mails(home()).size(), 1u);
  int marked = SentFlag("Q1") + SentFlag("Q2") + SentFlag("Q3");
  EXPECT_EQ(marked, 1);
  bool logged = false;
  for (const auto& e : log.entries())
    logged = logged || (e.text.find("Mail couldnot be sent for User:Anna Berg") != std::string::npos);
  EXPECT_TRUE(logged);

  // The next run mails the two that were not handed over, and only those.
  vendra::Quotation().Run();
  EXPECT_EQ(Mails(home()).size(), 3u);
  EXPECT_TRUE(SentFlag("Q1") && SentFlag("Q2") && SentFlag("Q3"));
  vendra::Quotation().Run();
  EXPECT_EQ(Mails(home()).size(), 3u);
}

TEST_F(QuotationReminderTest, ARunStartedDuringAnotherMailsNothingTwice) {
  for (int i = 0; i < 3; ++i) Store({.id = "Q" + std::to_string(i), .user = "anna"});
  SendScript script;
  int nested_runs = 0;
  // While the first run sends its first message, a second run starts.
  script.on_send = [&] {
    if (nested_runs++ == 0) vendra::Quotation().Run();
  };
  platform::ScopedRegistration fake("CDO.Message",
                                    [&script] { return std::make_shared<ScriptedMessage>(&script); });
  vendra::Quotation().Run();
  EXPECT_EQ(Mails(home()).size(), 3u);
  EXPECT_EQ(script.sends.load(), 3);
}

TEST_F(QuotationReminderTest, RunsOnTwoThreadsAtOnceMailEachQuotationOnce) {
  constexpr int kQuotations = 40;
  for (int i = 0; i < kQuotations; ++i)
    Store({.id = "Q" + std::to_string(i), .user = i % 2 ? "anna" : "bernd", .locale = i % 2 ? 1033 : 1031});
  std::vector<std::thread> runs;
  for (int t = 0; t < 2; ++t)
    runs.emplace_back([] {
      vendra::Quotation().Run();
      lib_sales::ResetThreadCaches();
    });
  for (auto& t : runs) t.join();
  EXPECT_EQ(Mails(home()).size(), static_cast<size_t>(kQuotations));
  auto left = lib_sales::Sls_GetDisconnectedRecordset(
      "SELECT COUNT(*) AS N FROM QUOTATIONHEADER WHERE NOTIFICATIONSENT = 0",
      lib_sales::Sls_ConnectionString());
  EXPECT_EQ(left->Value("N").ToLong(), 0);
}

TEST_F(QuotationReminderTest, AUserWithoutAddressIsLoggedAndTheRunGoesOn) {
  Store({.id = "Q1", .user = "carla"});
  Store({.id = "Q2", .user = "zoe"});  // unknown to the directory
  Store({.id = "Q3", .user = "anna"});
  vendra_test::ScopedRecordingLog log;
  vendra::Quotation().Run();
  EXPECT_EQ(Mails(home()).size(), 1u);
  EXPECT_FALSE(SentFlag("Q1"));
  EXPECT_FALSE(SentFlag("Q2"));
  EXPECT_TRUE(SentFlag("Q3"));
  bool no_address = false;
  for (const auto& e : log.entries())
    no_address = no_address || e.text.find("No Email Address for the User") != std::string::npos;
  EXPECT_TRUE(no_address);
}

TEST_F(QuotationReminderTest, TheTwelveLabelCodesInOrder) {
  const Variant labels = quotation_.fillLabelsArray();
  std::vector<std::string> codes;
  for (const Variant& v : labels.Array()) codes.push_back(v.ToString());
  EXPECT_EQ(codes, (std::vector<std::string>{"SLBSA7002", "SLBSA7003", "SLBSA7004", "SLBSA7005",
                                             "SLBSA7006", "SLBSA7007", "SLBSA7008", "SLBSA7009",
                                             "SLBSA7000", "SLBSA7012", "SLBSA7013", "SLBSA7015"}));
}

}  // namespace
