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
#define KELMOR_ADDRESS_COLUMNS                                                             \
  "COUNTRYCODE, NAME1, NAME2, STREET1, STREET2, CITY1, CITY2, STATEPROVINCE, ZIPCODE, " \
  "PHONE, FAX, COUNTRYNAME, SHORTDESCRIPTION"
constexpr const char* kAddressColumnNames[] = {
    "COUNTRYCODE", "NAME1",   "NAME2", "STREET1", "STREET2",     "CITY1",           "CITY2",
    "STATEPROVINCE", "ZIPCODE", "PHONE", "FAX",   "COUNTRYNAME", "SHORTDESCRIPTION"};
constexpr char kAddressSql[] =
    "SELECT " KELMOR_ADDRESS_COLUMNS " FROM ADDRESS WHERE ADDRESSID = ?";
// A document's addresses and carrier in one statement: KIND 0 rows are
// addresses (ID, then the address columns), the KIND 1 row the carrier.
constexpr char kDocumentAddressesSql[] =
    "SELECT 0 AS KIND, ADDRESSID AS ID, " KELMOR_ADDRESS_COLUMNS
    ", NULL AS CARRIERNAME FROM ADDRESS WHERE ADDRESSID IN (";
constexpr char kDocumentCarrierSql[] =
    "SELECT 1 AS KIND, NULL AS ID, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, "
    "NULL, NULL, NULL, CARRIERNAME FROM CARRIER WHERE CARRIERCODE = ?";
#undef KELMOR_ADDRESS_COLUMNS
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

const std::span<const char* const> BusinessPartner::kAddressColumns(kAddressColumnNames);

BusinessPartner::DocumentData BusinessPartner::ReadForDocument(std::span<const int32_t> address_ids,
                                                               const std::string& carrier_code) {
  DocumentData data;
  const std::string_view code = data::detail::Trim(carrier_code);
  std::string sql;
  std::vector<Variant> params;
  params.reserve(address_ids.size() + 1);
  if (!address_ids.empty()) {
    sql = kDocumentAddressesSql;
    for (size_t i = 0; i < address_ids.size(); ++i) {
      sql += i == 0 ? "?" : ", ?";
      params.emplace_back(address_ids[i]);
    }
    sql += ')';
  }
  if (!code.empty()) {
    if (!sql.empty()) sql += " UNION ALL ";
    sql += kDocumentCarrierSql;
    params.emplace_back(code);
    data.carrier_read = true;
  }
  if (sql.empty()) return data;
  constexpr int kFirstAddressColumn = 2;
  const int carrier_column = kFirstAddressColumn + static_cast<int>(std::size(kAddressColumnNames));
  auto rs = Db()->Execute(sql, std::span<const Variant>(params));
  for (; rs && !rs->Eof(); rs->MoveNext()) {
    if (rs->ValueAt(0).ToLong() == 1) {
      data.carrier_found = true;
      data.carrier_name = rs->ValueAt(carrier_column);
      continue;
    }
    std::vector<Variant> values;
    values.reserve(std::size(kAddressColumnNames));
    for (int i = kFirstAddressColumn; i < carrier_column; ++i) values.push_back(rs->ValueAt(i));
    data.addresses.emplace(rs->ValueAt(1).ToLong(), std::move(values));
  }
  if (rs) rs->Close();
  return data;
}

std::shared_ptr<data::Recordset> BusinessPartner::GetAddress(int32_t address_id) {
  return ReadDetached(kAddressSql, Variant(address_id));
}

std::shared_ptr<data::Recordset> BusinessPartner::GetTransportCarrier(const std::string& carrier_code) {
  return ReadDetached(kCarrierSql, Variant(data::detail::Trim(carrier_code)));
}

}  // namespace platform
