#include "platform/services/business_partner.h"

#include "platform/core/com_error.h"
#include "platform/data/connection.h"
#include "platform/data/data_util.h"
#include "platform/data/recordset.h"

namespace platform {

namespace {

constexpr char kSource[] = "Kelmor.BusinessPartner";
constexpr char kKelmor[] = "Provider=SQLite;Data Source=data;Initial Catalog=Kelmor";

constexpr char kPartnerSql[] =
    "SELECT BUSINESSPARTNERID, NAME, PARTNERTYPE, KROCUSTOMERCODE, KROSUPPLIERCODE, "
    "CURRENCYCODE, CARRIERCODE, PRICINGMETHOD, DISCOUNT, POSTALADDRESSID, SHIPPINGADDRESSID "
    "FROM BUSINESSPARTNER WHERE BUSINESSPARTNERID = ?";
// The columns the order's address copy and the XML documents take over, in
// the order they take them.
constexpr char kAddressSql[] =
    "SELECT COUNTRYCODE, NAME1, NAME2, STREET1, STREET2, CITY1, CITY2, STATEPROVINCE, "
    "ZIPCODE, PHONE, FAX, COUNTRYNAME, SHORTDESCRIPTION FROM ADDRESS WHERE ADDRESSID = ?";
constexpr char kCarrierSql[] =
    "SELECT CARRIERCODE, CARRIERNAME FROM CARRIER WHERE CARRIERCODE = ?";

int32_t IdOrZero(const Variant& v) { return v.IsMissing() ? 0 : v.ToLong(); }

}  // namespace

const ClassBinding<BusinessPartner>& BusinessPartner::Binding() {
  static const auto b =
      ClassBinding<BusinessPartner>("BusinessPartner")
          .Method("GetBusinessPartner", &BusinessPartner::GetBusinessPartner)
          .Method("GetPostalAddressID", &BusinessPartner::GetPostalAddressID)
          .Method("GetShippingAddressID", &BusinessPartner::GetShippingAddressID)
          .Method("GetCustomerCurrency", &BusinessPartner::GetCustomerCurrency)
          .Method("GetCustomerCarrier", &BusinessPartner::GetCustomerCarrier)
          .Method("GetPartnerPricingMethod", &BusinessPartner::GetPartnerPricingMethod)
          .Method("GetPartnerCurrency", &BusinessPartner::GetPartnerCurrency)
          .Method("GetPartnerDiscount", &BusinessPartner::GetPartnerDiscount)
          .Method("GetKROAddressCodeFromAddressID", &BusinessPartner::GetKROAddressCodeFromAddressID)
          .Method("SetKROAddressCode", &BusinessPartner::SetKROAddressCode)
          .Method("GetAddress", &BusinessPartner::GetAddress)
          .Method("GetTransportCarrier", &BusinessPartner::GetTransportCarrier)
          .Method("Release", &BusinessPartner::Release);
  return b;
}

BusinessPartner::BusinessPartner() = default;
BusinessPartner::~BusinessPartner() = default;

std::shared_ptr<data::Connection> BusinessPartner::Db() {
  if (!db_ || !db_->IsOpen()) {
    db_ = std::make_shared<data::Connection>();
    db_->Open(kKelmor);
  }
  return db_;
}

void BusinessPartner::Release() {
  loaded_.reset();
  if (db_) db_->Close();
  db_.reset();
}

std::shared_ptr<Dictionary> BusinessPartner::ReadPartner(int32_t partner_id) {
  auto rs = Db()->Execute(kPartnerSql, {Variant(partner_id)});
  if (!rs || rs->Eof())
    Raise(partner_err::kPartnerNotFound, kSource,
          "Business partner not found: " + std::to_string(partner_id));
  auto partner = Dictionary::New();
  for (int i = 0; i < rs->FieldCount(); ++i) {
    auto& field = (*rs)[i];
    partner->Add(field.Name(), field.Value());
  }
  return partner;
}

std::shared_ptr<Dictionary> BusinessPartner::GetBusinessPartner(int32_t partner_id) {
  loaded_ = ReadPartner(partner_id);
  // The caller gets its own copy, so changing it cannot change what the
  // getters report.
  return std::make_shared<Dictionary>(*loaded_);
}

std::shared_ptr<Dictionary> BusinessPartner::PartnerFor(const std::optional<int32_t>& partner_id) {
  if (partner_id) return ReadPartner(*partner_id);
  if (!loaded_)
    Raise(partner_err::kNoPartnerLoaded, kSource,
          "No business partner loaded: call GetBusinessPartner first or name the partner");
  return loaded_;
}

int32_t BusinessPartner::GetPostalAddressID(std::optional<int32_t> partner_id) {
  return IdOrZero(PartnerFor(partner_id)->Item("POSTALADDRESSID"));
}

int32_t BusinessPartner::GetShippingAddressID(std::optional<int32_t> partner_id) {
  return IdOrZero(PartnerFor(partner_id)->Item("SHIPPINGADDRESSID"));
}

Variant BusinessPartner::GetCustomerCurrency(std::optional<int32_t> partner_id) {
  return PartnerFor(partner_id)->Item("CURRENCYCODE");
}

Variant BusinessPartner::GetCustomerCarrier(std::optional<int32_t> partner_id) {
  return PartnerFor(partner_id)->Item("CARRIERCODE");
}

int16_t BusinessPartner::GetPartnerPricingMethod(int32_t partner_id) {
  return ReadPartner(partner_id)->Item("PRICINGMETHOD").ToInteger();
}

std::string BusinessPartner::GetPartnerCurrency(int32_t partner_id) {
  const Variant code = ReadPartner(partner_id)->Item("CURRENCYCODE");
  return code.IsMissing() ? std::string() : code.ToString();
}

double BusinessPartner::GetPartnerDiscount(int32_t partner_id) {
  return ReadPartner(partner_id)->Item("DISCOUNT").ToDouble();
}

std::string BusinessPartner::GetKROAddressCodeFromAddressID(int32_t address_id) {
  auto rs = Db()->Execute("SELECT KROADDRESSCODE FROM ADDRESS WHERE ADDRESSID = ?",
                          {Variant(address_id)});
  if (!rs || rs->Eof()) return {};
  const Variant code = rs->Value("KROADDRESSCODE");
  return code.IsMissing() ? std::string() : code.ToString();
}

void BusinessPartner::SetKROAddressCode(int32_t address_id, const std::string& code) {
  const std::string_view trimmed = data::detail::Trim(code);
  const Variant value = trimmed.empty() ? Variant::Null() : Variant(trimmed);
  int64_t changed = 0;
  Db()->Execute("UPDATE ADDRESS SET KROADDRESSCODE = ? WHERE ADDRESSID = ?",
                {value, Variant(address_id)}, &changed);
  if (changed == 0)
    Raise(partner_err::kAddressNotFound, kSource,
          "Address not found: " + std::to_string(address_id));
}

std::shared_ptr<data::Recordset> BusinessPartner::ReadDetached(const char* sql, const Variant& key) {
  auto rs = std::make_shared<data::Recordset>();
  rs->SetCursorLocation(data::adUseClient);
  const Variant params[] = {key};
  rs->Open(sql, Db(), params, data::adOpenStatic, data::adLockReadOnly);
  rs->SetActiveConnection(nullptr);
  return rs;
}

std::shared_ptr<data::Recordset> BusinessPartner::GetAddress(int32_t address_id) {
  return ReadDetached(kAddressSql, Variant(address_id));
}

std::shared_ptr<data::Recordset> BusinessPartner::GetTransportCarrier(const std::string& carrier_code) {
  return ReadDetached(kCarrierSql, Variant(data::detail::Trim(carrier_code)));
}

}  // namespace platform
