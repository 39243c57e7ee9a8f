// The demo's freight and parameter tables: the freight of anna's basket by
// the zone of its delivery address, through Vendra.FreightCost; then a
// customer's settings row created, changed and deleted through
// Vendra.Manager from the shell, and what Manager refuses. Every object is
// created by identifier and called by name, as a web page does.

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "apps/vendra/commands.h"
#include "apps/vendra/demo.h"
#include "platform/core/clock.h"
#include "platform/core/dictionary.h"
#include "platform/core/object.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/host/registry.h"

namespace vendra_cli {

namespace {

using platform::Variant;
using platform::data::Recordset;

std::string Amount(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

struct Wanted {
  int32_t sku;
  double quantity;
};

}  // namespace

void StepFreight(DemoContext& demo) {
  demo.Say("Freight is priced by zone. A country's zip codes up to COUNTRIESBYZONE.MAXZIPCODE "
           "lie in a zone; a product belongs to a freight group that ships from one zone; "
           "FREIGHTPRICE holds a delivery cost and a cost per item for each group, carrier and "
           "zone pair. anna fills a basket for Hallvard Industrial (1001):");
  std::vector<Variant> create{Variant("anna"), Variant(1001)};
  auto doc = CallLateBound("Vendra.Basket", "Create", create).As<platform::Dictionary>();
  const Wanted wanted[] = {{1, 50}, {7, 1}, {16, 4}, {19, 2}};
  for (const Wanted& w : wanted) {
    std::vector<Variant> add{Variant(doc), Variant(w.sku), Variant(w.quantity),
                             Variant(platform::Clock::Today().AddDays(14)), Variant(false),
                             Variant("")};
    CallLateBound("Vendra.Basket", "AddLine", add);
    doc = add[0].As<platform::Dictionary>();
  }
  auto header = doc->Item("header").As<Recordset>();
  const std::string carrier = header->Value("CARRIERCODE").ToString();
  const int32_t address = header->Value("SHIPPINGADDRESSID").ToLong();

  // The page knows the delivery address; the demo reads it from the partner data.
  auto kelmor = std::make_shared<platform::data::Connection>();
  kelmor->Open("Provider=SQLite;Data Source=" + (demo.home() / "data").string() +
               ";Initial Catalog=Kelmor");
  auto where = kelmor->Execute("SELECT COUNTRYCODE, ZIPCODE, CITY1 FROM ADDRESS WHERE ADDRESSID = ?",
                               {Variant(address)});
  const std::string country = where->Value("COUNTRYCODE").ToString();
  const std::string zip = where->Value("ZIPCODE").ToString();
  demo.Show("delivery address", std::to_string(address) + ", " + zip + " " +
                                    where->Value("CITY1").ToString() + ", " + country);
  demo.Show("carrier", carrier);
  kelmor->Close();

  platform::ObjectPtr freight = platform::CreateObject("Vendra.FreightCost");
  platform::Call(freight, "InitZone", {Variant(country), Variant(zip)});
  const Variant zone = platform::GetProperty(freight, "ZoneId");
  demo.Show("InitZone(" + country + ", " + zip + ")",
            "zone " + zone.ToString() + " " +
                platform::GetProperty(freight, "ZoneDescription").ToString());
  demo.Say("GetFreightCost(product, carrier, zone, items) is the delivery cost plus the item "
           "cost times the items plus the product's surcharge (rounded to a whole number, halves "
           "to even). The page calls it per line:");
  auto lines = doc->Item("lines").As<Recordset>();
  double total = 0;
  for (lines->MoveFirst(); !lines->Eof(); lines->MoveNext()) {
    std::vector<Variant> args{lines->Value("SKU"), Variant(carrier), zone, lines->Value("QUANTITY")};
    const double cost = platform::CallRef(freight, "GetFreightCost", args).ToDouble();
    total += cost;
    demo.Show("SKU " + lines->Value("SKU").ToString() + " x " + lines->Value("QUANTITY").ToString(),
              Amount(cost) + "  (group " + platform::GetProperty(freight, "FreightGroupID").ToString() +
                  ", surcharge " + platform::GetProperty(freight, "AdditionalCost").ToString() + ")");
  }
  demo.Show("freight of the basket", Amount(total) + " EUR");
  demo.EndTable();
  demo.Say("The installation (19) is in freight group 0, which travels free. Zip codes compare "
           "as text: in Norway the south-east ends at \"3999\", so the zip code \"9\" lies above "
           "it and falls in the west and north:");
  platform::Call(freight, "InitZone", {Variant("NO"), Variant("9")});
  demo.Show("InitZone(NO, 9)", "zone " + platform::GetProperty(freight, "ZoneId").ToString());
  demo.EndTable();
  demo.Say("A product nobody has put into a freight group is an error the page sees:");
  try {
    std::vector<Variant> args{Variant(999), Variant(carrier), zone, Variant(1.0)};
    platform::CallRef(freight, "GetFreightCost", args);
  } catch (const platform::ComError& e) {
    demo.ShowError(e);
  }
}

void StepParameterTables(DemoContext& demo) {
  demo.Say("Vendra.Manager maintains the parameter tables for the administration pages: a row "
           "is given as an array of column names and an array of values as text, and each "
           "value is written by its column's type as the schema declares it. Corvetto (1002) "
           "gets customer settings, they change, and they go again:");
  demo.ShowCall("Vendra.Manager", "Create",
                {"\"CUSTOMERSETTING\"", R"(["BUSINESSPARTNERID","ORDERTYPE","EXPIRATIONPERIOD"])",
                 R"(["1002","SOX","21"])"});
  demo.ShowCall("Vendra.Manager", "Update",
                {"\"CUSTOMERSETTING\"", R"(["ORDERTYPE","EXPIRATIONPERIOD"])", R"(["SO",""])",
                 R"(["BUSINESSPARTNERID"])", R"(["1002"])"});
  demo.Say("The empty value wrote Null. GetRecordSet reads an administrator's query (only a "
           "query: a statement that would write is refused):");
  std::vector<Variant> query{Variant(
      "SELECT ORDERTYPE, EXPIRATIONPERIOD FROM CUSTOMERSETTING WHERE BUSINESSPARTNERID = 1002")};
  auto row = CallLateBound("Vendra.Manager", "GetRecordSet", query).As<Recordset>();
  for (const char* column : {"ORDERTYPE", "EXPIRATIONPERIOD"}) {
    const Variant value = row->Value(column);
    demo.Show(column, value.IsNull() ? "Null" : value.ToString());
  }
  demo.EndTable();
  demo.ShowCall("Vendra.Manager", "Delete",
                {"\"CUSTOMERSETTING\"", R"(["BUSINESSPARTNERID"])", R"(["1002"])"});
  demo.Say("Names go into the statement, so only columns of the table are taken; a name with "
           "a blank or a quote is refused before anything runs. A zone that prices and "
           "countries still name cannot be deleted:");
  demo.ShowCall("Vendra.Manager", "Update",
                {"\"CUSTOMERSETTING\"", R"(["ORDERTYPE='X' --"])", R"(["SO"])",
                 R"(["BUSINESSPARTNERID"])", R"(["1001"])"});
  demo.ShowCall("Vendra.Manager", "Delete", {"\"ZONES\"", R"(["ZONEID"])", R"(["6"])"});
}

}  // namespace vendra_cli
