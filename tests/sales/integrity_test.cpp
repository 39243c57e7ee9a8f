// The referential-integrity answers of the sales classes, asked late-bound
// as the master-data maintenance asks them, against real rows; and the
// master-data delete itself: refused while anything refers to the record,
// complete with the dependent rows otherwise, and all or nothing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/core/com_error.h"
#include "platform/core/dispatch.h"
#include "platform/core/object.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/host/registry.h"
#include "platform/services/master_data.h"
#include "platform/services/referential_integrity.h"
#include "shared/components.h"
#include "tests/support/test_instance.h"

namespace {

using platform::ComError;
using platform::Variant;
using platform::VariantArray;

class IntegrityTest : public vendra_test::InstanceTest {
 protected:
  static void Execute(const std::string& sql, const std::string& catalog = "Vendra") {
    platform::data::Connection connection;
    connection.Open(catalog == "Vendra"
                        ? lib_sales::Sls_ConnectionString()
                        : "Provider=SQLite;Data Source=data;Initial Catalog=" + catalog);
    connection.Execute(sql);
  }
  static int Count(const std::string& sql, const std::string& catalog = "Vendra") {
    platform::data::Connection connection;
    connection.Open(catalog == "Vendra"
                        ? lib_sales::Sls_ConnectionString()
                        : "Provider=SQLite;Data Source=data;Initial Catalog=" + catalog);
    return connection.Execute(sql)->fields()[0].Value().ToLong();
  }
  static Variant Ask(const std::string& progid, const std::string& operation,
                     const std::string& kind, const std::vector<std::string>& fields,
                     const VariantArray& values) {
    return platform::Call(platform::CreateObject(progid), operation,
                          {Variant(kind), Variant(VariantArray(fields.begin(), fields.end())),
                           Variant(values)});
  }
  static bool Exists(const std::string& progid, const std::string& kind, const std::string& field,
                     const Variant& value) {
    return Ask(progid, "Exists", kind, {field}, {value}).ToBool();
  }
};

// One row of sales data that refers to a master record, and who must see it.
struct Reference {
  const char* progid;
  const char* kind;
  const char* field;
  Variant value;
  const char* row;  // the INSERT that makes the reference
};

TEST_F(IntegrityTest, EveryKindSeesItsRowAndOnlyThen) {
  const Reference cases[] = {
      {"Vendra.Basket", "TRANSPORTCARRIER", "CARRIERCODE", Variant("ZZC"),
       "INSERT INTO BASKETHEADER (BASKETID, CARRIERCODE) VALUES ('b', 'ZZC')"},
      {"Vendra.Basket", "ADDRESS", "ADDRESSID", Variant(99001),
       "INSERT INTO BASKETHEADER (BASKETID, SHIPPINGADDRESSID) VALUES ('b', 99001)"},
      {"Vendra.Basket", "ADDRESS", "ADDRESSID", Variant(99002),
       "INSERT INTO BASKETLINE (BASKETID, BASKETLINENR, ADDRESSID) VALUES ('b', 1, 99002)"},
      {"Vendra.Basket", "CURRENCY", "CURRENCYCODE", Variant("XTS"),
       "INSERT INTO BASKETHEADER (BASKETID, CURRENCYCODE) VALUES ('b', 'XTS')"},
      {"Vendra.Basket", "CUSTOMER", "BUSINESSPARTNERID", Variant(9001),
       "INSERT INTO BASKETHEADER (BASKETID, BUSINESSPARTNERID) VALUES ('b', 9001)"},
      {"Vendra.Basket", "KROINSTANCE", "KROID", Variant(9),
       "INSERT INTO BASKETHEADER (BASKETID, KROID) VALUES ('b', 9)"},
      {"Vendra.Basket", "PRODUCT", "PRODUCTID", Variant(77),
       "INSERT INTO BASKETLINE (BASKETID, BASKETLINENR, SKU) VALUES ('b', 1, 77)"},
      {"Vendra.Basket", "UNIT", "UNITCODE", Variant("ZU"),
       "INSERT INTO BASKETLINE (BASKETID, BASKETLINENR, PRODUCTUNITCODE) VALUES ('b', 1, 'ZU')"},
      {"Vendra.Quotation", "TRANSPORTCARRIER", "CARRIERCODE", Variant("ZZC"),
       "INSERT INTO QUOTATIONHEADER (QUOTATIONID, CARRIERCODE) VALUES ('q', 'ZZC')"},
      {"Vendra.Quotation", "ADDRESS", "ADDRESSID", Variant(99001),
       "INSERT INTO QUOTATIONHEADER (QUOTATIONID, BILLINGADDRESSID) VALUES ('q', 99001)"},
      {"Vendra.Quotation", "ADDRESS", "ADDRESSID", Variant(99002),
       "INSERT INTO QUOTATIONLINE (QUOTATIONID, LINENUMBER, ADDRESSID) VALUES ('q', 1, 99002)"},
      {"Vendra.Quotation", "CURRENCY", "CURRENCYCODE", Variant("XTS"),
       "INSERT INTO QUOTATIONHEADER (QUOTATIONID, CURRENCYCODE) VALUES ('q', 'XTS')"},
      {"Vendra.Quotation", "CUSTOMER", "BUSINESSPARTNERID", Variant("9001"),
       "INSERT INTO QUOTATIONHEADER (QUOTATIONID, BUSINESSPARTNERID) VALUES ('q', 9001)"},
      {"Vendra.Quotation", "KROINSTANCE", "KROID", Variant(9),
       "INSERT INTO QUOTATIONHEADER (QUOTATIONID, KROID) VALUES ('q', 9)"},
      {"Vendra.Quotation", "PRODUCT", "PRODUCTID", Variant(77),
       "INSERT INTO QUOTATIONLINE (QUOTATIONID, LINENUMBER, SKU) VALUES ('q', 1, 77)"},
      {"Vendra.Quotation", "UNIT", "UNITCODE", Variant("ZU"),
       "INSERT INTO QUOTATIONLINE (QUOTATIONID, LINENUMBER, PRODUCTUNITCODE) VALUES ('q', 1, 'ZU')"},
      {"Vendra.Order", "PRODUCT", "PRODUCTID", Variant(77),
       "INSERT INTO ORDERLINE (ORDERID, LINENR, PRODUCTID) VALUES ('o', 1, 77)"},
      {"Vendra.Order", "PRODUCT", "PRODUCTID", Variant(78),
       "INSERT INTO QUOTATIONLINE (QUOTATIONID, LINENUMBER, SKU) VALUES ('q', 1, 78)"},
      {"Vendra.Order", "BUSINESSPARTNER", "BUSINESSPARTNERID", Variant(9001),
       "INSERT INTO ORDERHEADER (ORDERID, BUSINESSPARTNERID) VALUES ('o', 9001)"},
      {"Vendra.Order", "TRANSPORTCARRIER", "CARRIERCODE", Variant("ZZC"),
       "INSERT INTO ORDERHEADER (ORDERID, CARRIERCODE) VALUES ('o', 'ZZC')"},
      {"Vendra.Order", "CURRENCY", "CURRENCYCODE", Variant("XTS"),
       "INSERT INTO MERCHANTIDBYCURRENCY (CURRENCYCODE, MERCHANTID) VALUES ('XTS', 'M')"},
      {"Vendra.Order", "UNIT", "UNITCODE", Variant("ZU"),
       "INSERT INTO ORDERLINE (ORDERID, LINENR, UNITCODE) VALUES ('o', 1, 'ZU')"},
      {"Vendra.Order", "USER", "USERID", Variant("zed"),
       "INSERT INTO BASKETHEADER (BASKETID, USERID) VALUES ('b', 'zed')"},
      {"Vendra.Order", "ADDRESS", "ADDRESSID", Variant(99003),
       "INSERT INTO ORDERLINE (ORDERID, LINENR, ADDRESSID) VALUES ('o', 1, 99003)"},
      {"Vendra.Pricing", "PRODUCT", "PRODUCTID", Variant(77),
       "INSERT INTO FREIGHTPRODUCT (PRODUCTID, FREIGHTGROUPID) VALUES (77, 1)"},
      {"Vendra.Pricing", "CUSTOMER", "BUSINESSPARTNERID", Variant(9001),
       "INSERT INTO CUSTOMERPRICE (BUSINESSPARTNERID, PRODUCTID, EFFECTIVEDATE, CURRENCYCODE, "
       "PRICE) VALUES (9001, 1, '2024-01-01T00:00:00', 'EUR', 1)"},
      {"Vendra.Pricing", "CURRENCY", "CURRENCYCODE", Variant("XTS"),
       "INSERT INTO CUSTOMERPRICE (BUSINESSPARTNERID, PRODUCTID, EFFECTIVEDATE, CURRENCYCODE, "
       "PRICE) VALUES (1001, 1, '2024-01-01T00:00:00', 'XTS', 1)"},
      {"Vendra.Pricing", "TRANSPORTCARRIER", "CARRIERCODE", Variant("ZZC"),
       "INSERT INTO FREIGHTPRICE (FREIGHTGROUPID, CARRIER, SHIPFROMZONEID, SHIPTOZONEID) "
       "VALUES (1, 'ZZC', 1, 1)"},
      {"Vendra.Pricing", "COUNTRY", "COUNTRYCODE", Variant("ZZ"),
       "INSERT INTO COUNTRIESBYZONE (COUNTRY, ZONEID, MAXZIPCODE) VALUES ('ZZ', 1, '9')"},
      {"Vendra.Manager", "CUSTOMER", "BUSINESSPARTNERID", Variant(9001),
       "INSERT INTO CUSTOMERSETTING (BUSINESSPARTNERID) VALUES (9001)"},
      {"Vendra.WebOrder", "KROINSTANCE", "KROID", Variant(9),
       "INSERT INTO ORDERHEADER (ORDERID, KROID) VALUES ('o', 9)"},
      // The instance is the first key value, whatever the field is called.
      {"Vendra.OrderExportFile", "KROINSTANCE", "ANYNAME", Variant(9),
       "INSERT INTO ORDEREXPORTFILE (KROID) VALUES (9)"},
  };
  for (const Reference& c : cases) {
    SCOPED_TRACE(std::string(c.progid) + " " + c.kind + " " + c.row);
    EXPECT_FALSE(Exists(c.progid, c.kind, c.field, c.value));
    Execute(c.row);
    EXPECT_TRUE(Exists(c.progid, c.kind, c.field, c.value));
    // The kind compares in any case; a field of another name is not asked.
    std::string lower = c.kind;
    for (char& ch : lower) ch = static_cast<char>(std::tolower(ch));
    EXPECT_TRUE(Exists(c.progid, lower, c.field, c.value));
    if (std::string(c.progid) != "Vendra.OrderExportFile")
      EXPECT_FALSE(Exists(c.progid, c.kind, "OTHERFIELD", c.value));
    for (const char* table : {"BASKETHEADER", "BASKETLINE", "QUOTATIONHEADER", "QUOTATIONLINE",
                              "ORDERHEADER", "ORDERLINE"})
      Execute(std::string("DELETE FROM ") + table);  // the demo has none of these rows
    Execute("DELETE FROM MERCHANTIDBYCURRENCY WHERE CURRENCYCODE = 'XTS'");
    Execute("DELETE FROM FREIGHTPRODUCT WHERE PRODUCTID = 77");
    Execute("DELETE FROM CUSTOMERPRICE WHERE BUSINESSPARTNERID = 9001 OR CURRENCYCODE = 'XTS'");
    Execute("DELETE FROM FREIGHTPRICE WHERE CARRIER = 'ZZC'");
    Execute("DELETE FROM COUNTRIESBYZONE WHERE COUNTRY = 'ZZ'");
    Execute("DELETE FROM CUSTOMERSETTING WHERE BUSINESSPARTNERID = 9001");
    Execute("DELETE FROM ORDEREXPORTFILE WHERE KROID = 9");
  }
}

TEST_F(IntegrityTest, TheShopsOwnRecordsAreAlwaysInUse) {
  // The home organisation and the freight unit, without any order or basket.
  EXPECT_TRUE(Exists("Vendra.Order", "BUSINESSPARTNER", "BUSINESSPARTNERID", Variant(" 1000 ")));
  EXPECT_TRUE(Exists("Vendra.Order", "UNIT", "UNITCODE", Variant("PCS")));
  EXPECT_FALSE(Exists("Vendra.Order", "BUSINESSPARTNER", "BUSINESSPARTNERID", Variant(1002)));
}

TEST_F(IntegrityTest, BeforeDeleteRemovesOnlyWhatEachClassOwns) {
  const auto prices = [] {
    return Count("SELECT COUNT(*) FROM CUSTOMERPRICE WHERE BUSINESSPARTNERID = 1001");
  };
  const int hallvard = prices();
  ASSERT_GT(hallvard, 0);
  // The price lists remove a customer's prices by CUSTOMERID, a partner's by
  // BUSINESSPARTNERID; Exists for a customer asks by BUSINESSPARTNERID.
  EXPECT_TRUE(Ask("Vendra.Pricing", "BeforeDelete", "CUSTOMER", {"BUSINESSPARTNERID"}, {Variant(1001)})
                  .ToBool());
  EXPECT_EQ(prices(), hallvard);
  Ask("Vendra.Pricing", "BeforeDelete", "customer", {"CUSTOMERID"}, {Variant(1001)});
  EXPECT_EQ(prices(), 0);
  Ask("Vendra.Pricing", "BeforeDelete", "PRODUCT", {"PRODUCTID"}, {Variant(5)});
  EXPECT_EQ(Count("SELECT COUNT(*) FROM PRODUCTPRICE WHERE PRODUCTID = 5"), 0);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM PRODUCTPRICE WHERE PRODUCTID = 6"), 1);
  Ask("Vendra.Pricing", "BeforeDelete", "CURRENCY", {"CURRENCYCODE"}, {Variant("USD")});
  EXPECT_EQ(Count("SELECT COUNT(*) FROM PRODUCTPRICE WHERE CURRENCYCODE = 'USD'"), 0);

  EXPECT_TRUE(Ask("Vendra.Manager", "BeforeDelete", "CUSTOMER", {"BUSINESSPARTNERID"},
                  {Variant(1003)}).ToBool());
  EXPECT_EQ(Count("SELECT COUNT(*) FROM CUSTOMERSETTING WHERE BUSINESSPARTNERID = 1003"), 0);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM CUSTOMERSETTING WHERE BUSINESSPARTNERID = 1001"), 1);

  for (const char* progid : {"Vendra.Basket", "Vendra.Quotation", "Vendra.Order",
                             "Vendra.OrderExportFile"})
    EXPECT_TRUE(Ask(progid, "BeforeDelete", "CUSTOMER", {"BUSINESSPARTNERID"}, {Variant(1001)})
                    .ToBool()) << progid;
  EXPECT_FALSE(Ask("Vendra.WebOrder", "BeforeDelete", "KROINSTANCE", {"KROID"}, {Variant(1)})
                   .ToBool());
}

TEST_F(IntegrityTest, HostileKeysChangeNothing) {
  const int before = Count("SELECT COUNT(*) FROM PRODUCTPRICE");
  // A value written bare into a statement must be a number.
  for (const char* progid : {"Vendra.Pricing", "Vendra.Order"}) {
    try {
      Ask(progid, progid == std::string("Vendra.Pricing") ? "BeforeDelete" : "Exists", "PRODUCT",
          {"PRODUCTID"}, {Variant("1 OR 1=1")});
      ADD_FAILURE() << progid << " took a product id that is no number";
    } catch (const ComError& e) {
      EXPECT_NE(e.description().find("must be a number"), std::string::npos) << e.description();
    }
  }
  EXPECT_EQ(Count("SELECT COUNT(*) FROM PRODUCTPRICE"), before);
  // Quoted values stay inside their quotes.
  EXPECT_FALSE(Exists("Vendra.Order", "USER", "USERID", Variant("x' OR 'a'='a")));
  Ask("Vendra.Pricing", "BeforeDelete", "CURRENCY", {"CURRENCYCODE"}, {Variant("x' OR 'a'='a")});
  EXPECT_EQ(Count("SELECT COUNT(*) FROM PRODUCTPRICE"), before);
  // Key arrays of different lengths are refused before anything runs.
  EXPECT_THROW(Ask("Vendra.Manager", "BeforeDelete", "CUSTOMER", {"BUSINESSPARTNERID", "X"},
                   {Variant(1001)}),
               ComError);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM CUSTOMERSETTING WHERE BUSINESSPARTNERID = 1001"), 1);
}

// --- the master-data delete

TEST_F(IntegrityTest, AReferredCustomerIsRefusedNamingItsHoldersAndNothingChanges) {
  const int prices = Count("SELECT COUNT(*) FROM CUSTOMERPRICE WHERE BUSINESSPARTNERID = 1001");
  Execute("INSERT INTO BASKETHEADER (BASKETID, BUSINESSPARTNERID, USERID) VALUES ('b', 1001, 'anna')");
  Execute("INSERT INTO QUOTATIONHEADER (QUOTATIONID, BUSINESSPARTNERID) VALUES ('q', 1001)");
  const auto outcome =
      platform::DeleteMasterRecord("customer", {{"BUSINESSPARTNERID", Variant("1001")}});
  EXPECT_FALSE(outcome.deleted);
  const auto held = [&](const std::string& holder) {
    for (const std::string& h : outcome.held_by)
      if (h.starts_with(holder)) return true;
    return false;
  };
  EXPECT_TRUE(held("Vendra.Basket"));
  EXPECT_TRUE(held("Vendra.Quotation"));
  EXPECT_TRUE(held("Vendra.Order"));
  EXPECT_TRUE(held("Kelmor.ADDRESS"));
  EXPECT_TRUE(held("Kelmor.USERS"));
  EXPECT_FALSE(held("Vendra.Manager"));  // it had removed its settings, until the refusal
  EXPECT_TRUE(outcome.removed.empty());
  // What the settings and the price lists removed came back with the refusal.
  EXPECT_EQ(Count("SELECT COUNT(*) FROM CUSTOMERSETTING WHERE BUSINESSPARTNERID = 1001"), 1);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM CUSTOMERPRICE WHERE BUSINESSPARTNERID = 1001"), prices);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM BUSINESSPARTNER WHERE BUSINESSPARTNERID = 1001", "Kelmor"), 1);
}

TEST_F(IntegrityTest, ACustomerWithOnlySettingsAndPricesGoesWithThem) {
  const auto outcome =
      platform::DeleteMasterRecord("CUSTOMER", {{"businesspartnerid", Variant(1004)}});
  EXPECT_TRUE(outcome.deleted);
  EXPECT_TRUE(outcome.held_by.empty());
  EXPECT_EQ(outcome.removed,
            (std::vector<std::string>{"Vendra.Pricing: 2 rows", "Vendra.Manager: 1 row",
                                      "Kelmor.BUSINESSPARTNER: 1 row"}));
  EXPECT_EQ(Count("SELECT COUNT(*) FROM CUSTOMERSETTING WHERE BUSINESSPARTNERID = 1004"), 0);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM CUSTOMERPRICE WHERE BUSINESSPARTNERID = 1004"), 0);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM BUSINESSPARTNER WHERE BUSINESSPARTNERID = 1004", "Kelmor"), 0);
  // A country nothing names, and a currency's rates with it once unused.
  EXPECT_TRUE(platform::DeleteMasterRecord("COUNTRY", {{"COUNTRYCODE", Variant("IS")}}).deleted);
  EXPECT_FALSE(platform::DeleteMasterRecord("COUNTRY", {{"COUNTRYCODE", Variant("NO")}}).deleted);
}

TEST_F(IntegrityTest, BadKeysAreRefusedBeforeAnythingRuns) {
  using Key = std::vector<std::pair<std::string, Variant>>;
  const struct {
    const char* kind;
    Key key;
  } bad[] = {
      {"PLANET", {{"ID", Variant(1)}}},
      {"CUSTOMER", {}},
      {"CUSTOMER", {{"CUSTOMERNAME", Variant("Nordvik")}}},
      {"CUSTOMER", {{"BUSINESSPARTNERID", Variant("1004 OR 1=1")}}},
      {"CUSTOMER", {{"BUSINESSPARTNERID", Variant(2001)}}},  // a supplier, not a customer
      {"CUSTOMER", {{"BUSINESSPARTNERID", Variant(4242)}}},
  };
  for (const auto& b : bad) {
    SCOPED_TRACE(b.kind);
    EXPECT_THROW(platform::DeleteMasterRecord(b.kind, b.key), ComError);
  }
  EXPECT_EQ(Count("SELECT COUNT(*) FROM CUSTOMERSETTING WHERE BUSINESSPARTNERID = 1004"), 1);
}

// An implementer that fails while it is asked: the delete fails as a whole.
class FailingImplementer : public platform::Dispatchable<FailingImplementer>,
                           public platform::IReferentialIntegrity {
 public:
  static const platform::ClassBinding<FailingImplementer>& Binding() {
    static const auto b = platform::ClassBinding<FailingImplementer>("FailingImplementer")
                              .Method("Exists", &FailingImplementer::Exists)
                              .Method("BeforeDelete", &FailingImplementer::BeforeDelete);
    return b;
  }
  bool Exists(const std::string&, const Variant&, const Variant&) override {
    platform::Raise(platform::err::kPermissionDenied, "Test.FailingImplementer", "unreachable");
  }
  bool BeforeDelete(const std::string&, const Variant&, const Variant&) override { return true; }
};

TEST_F(IntegrityTest, AFailingImplementerLeavesEveryDatabaseAsItWas) {
  platform::ScopedRegistration failing("Vendra.WebOrder",
                                       [] { return std::make_shared<FailingImplementer>(); });
  EXPECT_THROW(platform::DeleteMasterRecord("CUSTOMER", {{"BUSINESSPARTNERID", Variant(1004)}}),
               ComError);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM CUSTOMERSETTING WHERE BUSINESSPARTNERID = 1004"), 1);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM CUSTOMERPRICE WHERE BUSINESSPARTNERID = 1004"), 2);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM BUSINESSPARTNER WHERE BUSINESSPARTNERID = 1004", "Kelmor"), 1);
}

}  // namespace
