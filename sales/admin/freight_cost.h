// FreightCost ("Vendra.FreightCost") computes the freight charge of a product
// shipped by a carrier into a destination zone, and finds the destination
// zone of a country and zip code. Freight is priced per freight group: a
// product belongs to one group (FREIGHTPRODUCT, with a surcharge of its own),
// a group ships from one zone (FREIGHTGROUP), and FREIGHTPRICE gives a fixed
// delivery cost plus a per-item cost for each group, carrier and zone pair.
//
// Zip codes are compared as text: a country's range ends at MAXZIPCODE, and
// the zone of a zip code is the one with the smallest MAXZIPCODE not below it
// in the database's text order ("9" lies above "10000"). docs/administration.md
// tells operators how to set ranges up with that in mind.
//
// InitZone sets the zone state (ZoneId, ZoneDescription) and
// InitFreightProduct (also run by GetFreightCost) the product state
// (FreightGroupID, ShipFromZoneID, AdditionalCost); both stay until the next
// such call. Every operation opens its own connection and closes it before
// it returns; values reach the SQL text only through the encoder or as
// checked numbers.
//
// Thread-safety: an object is used by one caller at a time (it keeps the
// state above between calls); separate objects may be used on separate
// threads.
#pragma once

#include <cstdint>
#include <string>

#include "platform/core/dispatch.h"
#include "platform/core/variant.h"

namespace vendra {

// The number of the freight failures: a product without a freight group, a
// group, carrier and zone pair without a price row.
inline constexpr int32_t kFreightFailure = static_cast<int32_t>(0x80040400u);

class FreightCost : public platform::Dispatchable<FreightCost> {
 public:
  static const platform::ClassBinding<FreightCost>& Binding();

  // DELIVERYFREIGHTCOST + ITEMFREIGHTCOST x iNumber + the product's
  // additional cost, for the product's group and ship-from zone, the carrier
  // and the ship-to zone iSTZOne. 0 when the product's group or ship-from
  // zone is 0 (a product that travels free) or iNumber is 0; a product
  // missing from FREIGHTPRODUCT and a missing price row raise kFreightFailure.
  double GetFreightCost(platform::Variant& iProduct, platform::Variant& iCarrier,
                        platform::Variant& iSTZOne, platform::Variant& iNumber);
  // The ship-from zone of the product's freight group.
  int16_t GetFromZone(const platform::Variant& iProductID);
  // Finds the zone of the zip code; false (zone 0, no description, and a log
  // entry) when the country has no range up to it.
  bool InitZone(const std::string& iCountryCode, const std::string& iZipCode);
  // Loads the product's group, ship-from zone and additional cost; false when
  // the group or the ship-from zone is 0.
  bool InitFreightProduct(const platform::Variant& iProduct);
  // The zone's description, "" (and a log entry) for an unknown zone.
  std::string GetZoneDescription(int16_t iZoneId);
  // Whether the freight groups ship from more than one zone.
  bool MultipleShipFromZonesByFreightGroupPresent();

  int16_t ZoneId() const { return zone_id_; }
  std::string ZoneDescription() const { return zone_description_; }
  int16_t FreightGroupID() const { return freight_group_id_; }
  int16_t ShipFromZoneID() const { return ship_from_zone_id_; }
  // ADDITIONALCOST rounded to a whole number, halves to even.
  int16_t AdditionalCost() const { return additional_cost_; }

 private:
  int16_t zone_id_ = 0;
  std::string zone_description_;
  int16_t freight_group_id_ = 0;
  int16_t ship_from_zone_id_ = 0;
  int16_t additional_cost_ = 0;
};

}  // namespace vendra
