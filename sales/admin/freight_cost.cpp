// Vendra.FreightCost: zones by country and zip code, a product's freight
// group, and the freight charge of a product, carrier and zone.
#include "sales/admin/freight_cost.h"

#include <memory>
#include <string_view>

#include "platform/core/com_error.h"
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

constexpr std::string_view kInitZone = "Vendra.FreightCost.InitZone";
constexpr std::string_view kInitFreightProduct = "Vendra.FreightCost.InitFreightProduct";
constexpr std::string_view kGetFreightCost = "Vendra.FreightCost.GetFreightCost";
constexpr std::string_view kGetFromZone = "Vendra.FreightCost.GetFromZone";
constexpr std::string_view kGetZoneDescription = "Vendra.FreightCost.GetZoneDescription";
constexpr std::string_view kMultipleShipFromZones =
    "Vendra.FreightCost.MultipleShipFromZonesByFreightGroupPresent";

// The connection of one operation, closed on every path.
class FreightConnection {
 public:
  FreightConnection()
      : connection_(lib_sales::Sls_GetOpenConnection(lib_sales::Sls_ConnectionString())) {}
  ~FreightConnection() {
    try {
      lib_sales::Sls_CloseConnection(connection_);
    } catch (...) {
    }
  }
  FreightConnection(const FreightConnection&) = delete;
  FreightConnection& operator=(const FreightConnection&) = delete;

  // The rows of a query, read whole into a client-side set.
  std::shared_ptr<Recordset> Rows(const std::string& sql) { return connection_->Execute(sql); }
  void Close() { lib_sales::Sls_CloseConnection(connection_); }

 private:
  std::shared_ptr<Connection> connection_;
};

// A value as it appears in messages; Null and Empty read as "".
std::string Text(const Variant& v) { return v.IsMissing() ? std::string() : v.ToString(); }

bool HasRow(const std::shared_ptr<Recordset>& rs) { return rs && !rs->Eof(); }

}  // namespace

const platform::ClassBinding<FreightCost>& FreightCost::Binding() {
  static const auto b =
      platform::ClassBinding<FreightCost>("FreightCost")
          .Method("GetFreightCost", &FreightCost::GetFreightCost)
          .Method("GetFromZone", &FreightCost::GetFromZone)
          .Method("InitZone", &FreightCost::InitZone)
          .Method("InitFreightProduct", &FreightCost::InitFreightProduct)
          .Method("GetZoneDescription", &FreightCost::GetZoneDescription)
          .Method("MultipleShipFromZonesByFreightGroupPresent",
                  &FreightCost::MultipleShipFromZonesByFreightGroupPresent)
          .Property("ZoneId", &FreightCost::ZoneId)
          .Property("ZoneDescription", &FreightCost::ZoneDescription)
          .Property("FreightGroupID", &FreightCost::FreightGroupID)
          .Property("ShipFromZoneID", &FreightCost::ShipFromZoneID)
          .Property("AdditionalCost", &FreightCost::AdditionalCost);
  return b;
}

bool FreightCost::InitZone(const std::string& iCountryCode, const std::string& iZipCode) {
  return lib_sales::Guarded(kInitZone, [&] {
    // MAXZIPCODE is text: the database's text order decides, so "9" lies
    // above "10000". Country and zip code are key literals.
    const std::string sql =
        "SELECT TOP 1 dbo.ZONES.ZONEID, dbo.ZONES.ZONEDESCRIPTION, dbo.COUNTRIESBYZONE.MAXZIPCODE "
        "FROM dbo.COUNTRIESBYZONE INNER JOIN dbo.ZONES ON dbo.COUNTRIESBYZONE.ZoneId = "
        "dbo.ZONES.ZoneId "
        "WHERE (dbo.COUNTRIESBYZONE.COUNTRY = " +
        lib_sales::EncString(iCountryCode) + ") AND " + "(dbo.COUNTRIESBYZONE.MAXZIPCODE >= " +
        lib_sales::EncString(iZipCode) + ") " + "ORDER BY MAXZIPCODE";
    FreightConnection connection;
    std::shared_ptr<Recordset> zone = connection.Rows(sql);
    if (!HasRow(zone)) {
      lib_sales::LogFailure(std::string(kInitZone) + ": Zone is not defined for country " +
                            iCountryCode + " and zip code " + iZipCode + " !");
      zone_id_ = 0;
      zone_description_.clear();
    } else {
      zone_id_ = zone->Value("ZONEID").ToInteger();
      zone_description_ = Text(zone->Value("ZONEDESCRIPTION"));
    }
    lib_sales::Sls_CloseRecordSet(zone);
    connection.Close();
    return !(zone_description_.empty() || zone_id_ == 0);
  });
}

bool FreightCost::InitFreightProduct(const Variant& iProduct) {
  return lib_sales::Guarded(kInitFreightProduct, [&] {
    const std::string sql =
        "SELECT dbo.FREIGHTGROUP.SHIPFROMZONE, dbo.FREIGHTPRODUCT.FREIGHTGROUPID, "
        "dbo.FREIGHTPRODUCT.ADDITIONALCOST "
        "FROM dbo.FREIGHTGROUP INNER JOIN dbo.FREIGHTPRODUCT ON "
        "dbo.FREIGHTGROUP.FREIGHTGROUPID = dbo.FREIGHTPRODUCT.FREIGHTGROUPID "
        "WHERE dbo.FREIGHTPRODUCT.PRODUCTID = " +
        lib_sales::EncVariant(iProduct) +
        " AND dbo.FREIGHTGROUP.FREIGHTGROUPID = dbo.FREIGHTPRODUCT.FREIGHTGROUPID";
    FreightConnection connection;
    std::shared_ptr<Recordset> product = connection.Rows(sql);
    if (!HasRow(product))
      platform::Raise(kFreightFailure, std::string(kInitFreightProduct),
                      "No Freight Group defined for :" + Text(iProduct));
    freight_group_id_ = product->Value("FREIGHTGROUPID").ToInteger();
    ship_from_zone_id_ = product->Value("SHIPFROMZONE").ToInteger();
    // The 16-bit conversion rounds halves to even: 2.5 counts as 2, 3.5 as 4.
    additional_cost_ = product->Value("ADDITIONALCOST").ToInteger();
    lib_sales::Sls_CloseRecordSet(product);
    connection.Close();
    return !(freight_group_id_ == 0 || ship_from_zone_id_ == 0);
  });
}

double FreightCost::GetFreightCost(Variant& iProduct, Variant& iCarrier, Variant& iSTZOne,
                                   Variant& iNumber) {
  return lib_sales::Guarded(kGetFreightCost, [&]() -> double {
    if (!InitFreightProduct(iProduct)) return 0;
    const double number = iNumber.ToDouble();
    if (number == 0) return 0;
    const std::string sql =
        "SELECT DELIVERYFREIGHTCOST, ITEMFREIGHTCOST From FREIGHTPRICE WHERE (FREIGHTGROUPID = " +
        lib_sales::EncLong(freight_group_id_) + " AND " +
        "CARRIER = " + lib_sales::EncString(Text(iCarrier)) +
        " AND SHIPFROMZONEID = " + lib_sales::EncLong(ship_from_zone_id_) + " AND " +
        "SHIPTOZONEID = " + lib_sales::EncLong(iSTZOne.ToInteger()) + ")";
    FreightConnection connection;
    std::shared_ptr<Recordset> price = connection.Rows(sql);
    if (!HasRow(price))
      platform::Raise(kFreightFailure, std::string(kGetFreightCost),
                      "No Freight Cost record defined.");
    // The delivery cost is charged once per call, the item cost per unit.
    const double cost = price->Value("DELIVERYFREIGHTCOST").ToDouble() +
                        price->Value("ITEMFREIGHTCOST").ToDouble() * number + additional_cost_;
    lib_sales::Sls_CloseRecordSet(price);
    connection.Close();
    return cost;
  });
}

int16_t FreightCost::GetFromZone(const Variant& iProductID) {
  return lib_sales::Guarded(kGetFromZone, [&] {
    const std::string sql =
        "SELECT dbo.FREIGHTGROUP.SHIPFROMZONE FROM dbo.FREIGHTPRODUCT INNER JOIN "
        "dbo.FREIGHTGROUP ON dbo.FREIGHTPRODUCT.FREIGHTGROUPID = dbo.FREIGHTGROUP.FREIGHTGROUPID "
        "WHERE PRODUCTID = " +
        lib_sales::EncLong(iProductID);
    FreightConnection connection;
    std::shared_ptr<Recordset> zone = connection.Rows(sql);
    if (!HasRow(zone))
      platform::Raise(kFreightFailure, std::string(kGetFromZone),
                      "No Freight Group defined for :" + Text(iProductID));
    const int16_t from = zone->Value("SHIPFROMZONE").ToInteger();
    lib_sales::Sls_CloseRecordSet(zone);
    connection.Close();
    return from;
  });
}

std::string FreightCost::GetZoneDescription(int16_t iZoneId) {
  return lib_sales::Guarded(kGetZoneDescription, [&] {
    const std::string id = lib_sales::EncLong(iZoneId);
    const std::string sql = "SELECT TOP 1 dbo.ZONES.ZONEDESCRIPTION " + std::string("FROM dbo.ZONES ") +
                            "WHERE dbo.ZONES.ZONEID = '" + id + "' ";
    FreightConnection connection;
    std::shared_ptr<Recordset> zone = connection.Rows(sql);
    std::string description;
    if (!HasRow(zone)) {
      lib_sales::LogFailure(std::string(kGetZoneDescription) + ": Zone not found for id '" + id +
                            "'");
    } else {
      description = Text(zone->Value("ZONEDESCRIPTION"));
    }
    lib_sales::Sls_CloseRecordSet(zone);
    connection.Close();
    return description;
  });
}

bool FreightCost::MultipleShipFromZonesByFreightGroupPresent() {
  return lib_sales::Guarded(kMultipleShipFromZones, [&] {
    FreightConnection connection;
    std::shared_ptr<Recordset> zones =
        connection.Rows("SELECT count(dbo.FREIGHTGROUP.SHIPFROMZONE) FROM dbo.FREIGHTGROUP GROUP BY "
                        "dbo.FREIGHTGROUP.SHIPFROMZONE");
    const bool several = zones && zones->RecordCount() > 1;
    lib_sales::Sls_CloseRecordSet(zones);
    connection.Close();
    return several;
  });
}

}  // namespace vendra
