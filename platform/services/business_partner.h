// Kelmor.BusinessPartner is the shop platform's customer master: business
// partners (the home organisation, customers, suppliers) with their back-end
// customer or supplier code, currency, carrier, pricing method and discount;
// their addresses with the back-end address codes; and the transport
// carriers. Its tables live in the Kelmor database: BUSINESSPARTNER, ADDRESS,
// CARRIER.
//
// A caller either loads one partner (GetBusinessPartner) and then reads it
// with the argument-less getters, or names the partner on every call. An
// unknown partner is a failure; an unknown address or carrier is an empty
// answer (no address elements, the carrier code shown as it is).
//
// Thread-safety: an object serves one caller at a time (it keeps the loaded
// partner and its connection until Release); separate objects may be used on
// separate threads.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/core/dictionary.h"
#include "platform/core/dispatch.h"

namespace platform::data {
class Connection;
class Recordset;
}  // namespace platform::data

namespace platform {

// Failures of Kelmor.BusinessPartner (source "Kelmor.BusinessPartner").
namespace partner_err {
inline constexpr int32_t kPartnerNotFound = static_cast<int32_t>(0x80042101u);
inline constexpr int32_t kNoPartnerLoaded = static_cast<int32_t>(0x80042102u);
inline constexpr int32_t kAddressNotFound = static_cast<int32_t>(0x80042103u);
}  // namespace partner_err

class BusinessPartner : public Dispatchable<BusinessPartner> {
 public:
  static const ClassBinding<BusinessPartner>& Binding();

  BusinessPartner();
  ~BusinessPartner() override;

  // Loads the partner into the object and returns its record (BUSINESSPARTNERID,
  // NAME, PARTNERTYPE, KROCUSTOMERCODE, KROSUPPLIERCODE, CURRENCYCODE,
  // CARRIERCODE, PRICINGMETHOD, DISCOUNT, POSTALADDRESSID, SHIPPINGADDRESSID).
  std::shared_ptr<Dictionary> GetBusinessPartner(int32_t partner_id);

  // Of the named partner, or of the loaded one when no id is given. An
  // address id the partner lacks reads 0; a currency or carrier it lacks, Null.
  int32_t GetPostalAddressID(std::optional<int32_t> partner_id);
  int32_t GetShippingAddressID(std::optional<int32_t> partner_id);
  Variant GetCustomerCurrency(std::optional<int32_t> partner_id);
  Variant GetCustomerCarrier(std::optional<int32_t> partner_id);

  // The pricing figures of a partner, asked by id (the quotation passes the id
  // as text). Pricing method 1: priced by the web shop, 2: by the back end.
  int16_t GetPartnerPricingMethod(int32_t partner_id);
  std::string GetPartnerCurrency(int32_t partner_id);  // "" when none
  double GetPartnerDiscount(int32_t partner_id);       // percent

  // The address's back-end code as stored; "" when it has none or the
  // address is unknown.
  std::string GetKROAddressCodeFromAddressID(int32_t address_id);
  // Records the back-end code the back end gave an address (blank: none).
  // An unknown address fails.
  void SetKROAddressCode(int32_t address_id, const std::string& code);
  // A detached record set of one row (none for an unknown id) with, in this
  // order: COUNTRYCODE, NAME1, NAME2, STREET1, STREET2, CITY1, CITY2,
  // STATEPROVINCE, ZIPCODE, PHONE, FAX, COUNTRYNAME, SHORTDESCRIPTION.
  std::shared_ptr<data::Recordset> GetAddress(int32_t address_id);
  // A detached record set with CARRIERCODE, CARRIERNAME: one row, or none for
  // an unknown code.
  std::shared_ptr<data::Recordset> GetTransportCarrier(const std::string& carrier_code);

  // What a document shows of the partner data, read at once for callers that
  // would otherwise ask GetAddress for each id and GetTransportCarrier for the
  // code: one statement in one read of the database, so the answers are of
  // one moment. Not late-bound; the answers are those of the two getters.
  struct DocumentData {
    // Per id found, its values in the columns and order of GetAddress
    // (kAddressColumns); an unknown id is absent.
    std::unordered_map<int32_t, std::vector<Variant>> addresses;
    bool carrier_read = false;   // a code was given, and its carrier read
    bool carrier_found = false;  // a carrier of the code exists
    Variant carrier_name;        // its CARRIERNAME
  };
  static const std::span<const char* const> kAddressColumns;
  // No carrier is read for an empty code; the code is trimmed as
  // GetTransportCarrier trims it.
  DocumentData ReadForDocument(std::span<const int32_t> address_ids, const std::string& carrier_code);

  // Forgets the loaded partner and lets go of the connection.
  void Release();

 private:
  std::shared_ptr<data::Connection> Db();
  std::shared_ptr<Dictionary> ReadPartner(int32_t partner_id);
  std::shared_ptr<Dictionary> PartnerFor(const std::optional<int32_t>& partner_id);
  std::shared_ptr<data::Recordset> ReadDetached(const char* sql, const Variant& key);

  std::shared_ptr<data::Connection> db_;
  std::shared_ptr<Dictionary> loaded_;
};

}  // namespace platform
