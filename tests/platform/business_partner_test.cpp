// Kelmor.BusinessPartner against the demo partners: 1001 Hallvard (EUR, DHL,
// web pricing, 5 % discount, postal 10011, shipping 10012), 1002 Corvetto (USD,
// UPS, back-end pricing, one address 10021), 1003 Lindqvist (address 10032
// without a back-end code).
#include "platform/services/business_partner.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/core/com_error.h"
#include "platform/data/recordset.h"
#include "platform/host/registry.h"
#include "tests/support/test_instance.h"

namespace {

using platform::Variant;
namespace partner_err = platform::partner_err;

class BusinessPartnerTest : public vendra_test::InstanceTest {
 protected:
  platform::BusinessPartner partner_;
};

TEST_F(BusinessPartnerTest, LoadedPartnerAnswersTheArgumentLessGetters) {
  auto record = partner_.GetBusinessPartner(1001);
  EXPECT_EQ(record->Item("NAME").ToString(), "Hallvard Industrial");
  EXPECT_EQ(record->Item("KROCUSTOMERCODE").ToString(), "C1001");
  EXPECT_EQ(partner_.GetPostalAddressID(std::nullopt), 10011);
  EXPECT_EQ(partner_.GetShippingAddressID(std::nullopt), 10012);
  EXPECT_EQ(partner_.GetCustomerCurrency(std::nullopt).ToString(), "EUR");
  EXPECT_EQ(partner_.GetCustomerCarrier(std::nullopt).ToString(), "DHL");
  // Naming another partner answers for it and leaves the loaded one alone.
  EXPECT_EQ(partner_.GetShippingAddressID(1002), 10021);
  EXPECT_EQ(partner_.GetCustomerCurrency(1002).ToString(), "USD");
  EXPECT_EQ(partner_.GetPostalAddressID(std::nullopt), 10011);
  // The caller's copy of the record does not steer the getters.
  record->SetItem("POSTALADDRESSID", Variant(int32_t{1}));
  EXPECT_EQ(partner_.GetPostalAddressID(std::nullopt), 10011);

  partner_.Release();
  try {
    partner_.GetPostalAddressID(std::nullopt);
    FAIL() << "after Release no partner is loaded";
  } catch (const platform::ComError& e) {
    EXPECT_EQ(e.number(), partner_err::kNoPartnerLoaded);
  }
}

TEST_F(BusinessPartnerTest, UnknownPartnerFailsNamingTheId) {
  for (auto call : std::vector<std::function<void()>>{
           [&] { partner_.GetBusinessPartner(4711); },
           [&] { partner_.GetShippingAddressID(4711); },
           [&] { partner_.GetPartnerPricingMethod(4711); }}) {
    try {
      call();
      ADD_FAILURE() << "partner 4711 does not exist";
    } catch (const platform::ComError& e) {
      EXPECT_EQ(e.number(), partner_err::kPartnerNotFound);
      EXPECT_EQ(e.source(), "Kelmor.BusinessPartner");
      EXPECT_NE(e.description().find("4711"), std::string::npos);
    }
  }
}

TEST_F(BusinessPartnerTest, PricingFiguresByIdGivenAsText) {
  auto partner = platform::CreateObject("Kelmor.BusinessPartner");
  EXPECT_EQ(platform::Call(partner, "GetPartnerPricingMethod", {Variant("1001")}).ToLong(), 1);
  const Variant method = platform::Call(partner, "GetPartnerPricingMethod", {Variant("1002")});
  EXPECT_EQ(method.type(), platform::VarType::Integer);
  EXPECT_EQ(method.ToLong(), 2);
  EXPECT_EQ(platform::Call(partner, "GetPartnerCurrency", {Variant("1002")}).ToString(), "USD");
  EXPECT_DOUBLE_EQ(platform::Call(partner, "GetPartnerDiscount", {Variant("1001")}).ToDouble(), 5.0);
  EXPECT_DOUBLE_EQ(platform::Call(partner, "GetPartnerDiscount", {Variant("1002")}).ToDouble(), 0.0);
  // Text that is not an id never reaches the database.
  try {
    platform::Call(partner, "GetPartnerCurrency", {Variant("1001 OR 1=1")});
    FAIL() << "not a number";
  } catch (const platform::ComError& e) {
    EXPECT_EQ(e.number(), platform::err::kTypeMismatch);
  }
}

TEST_F(BusinessPartnerTest, LateBoundBasketSequence) {
  // The basket loads the partner, reads four values without arguments, releases.
  auto partner = platform::CreateObject("Kelmor.BusinessPartner");
  std::vector<Variant> id{Variant(int32_t{1003})};
  platform::CallRef(partner, "GetBusinessPartner", id);
  EXPECT_EQ(platform::Call(partner, "GetPostalAddressID").ToLong(), 10031);
  EXPECT_EQ(platform::Call(partner, "GetShippingAddressID").ToLong(), 10032);
  EXPECT_EQ(platform::Call(partner, "GetCustomerCurrency").ToString(), "EUR");
  EXPECT_EQ(platform::Call(partner, "GetCustomerCarrier").ToString(), "DSV");
  platform::Call(partner, "Release");
  EXPECT_EQ(id[0].ToLong(), 1003);
}

TEST_F(BusinessPartnerTest, BackEndAddressCodesReadAndRecorded) {
  EXPECT_EQ(partner_.GetKROAddressCodeFromAddressID(10012), "C1001-0020");
  EXPECT_EQ(partner_.GetKROAddressCodeFromAddressID(10013), "C1001-0001");
  EXPECT_EQ(partner_.GetKROAddressCodeFromAddressID(10032), "");
  EXPECT_EQ(partner_.GetKROAddressCodeFromAddressID(99999), "");

  partner_.SetKROAddressCode(10032, "C1003-0020");
  EXPECT_EQ(platform::BusinessPartner().GetKROAddressCodeFromAddressID(10032), "C1003-0020");
  partner_.SetKROAddressCode(10032, "  ");
  EXPECT_EQ(partner_.GetKROAddressCodeFromAddressID(10032), "");
  // A code with a quote is a value like any other.
  partner_.SetKROAddressCode(10013, "O'B-0010");
  EXPECT_EQ(partner_.GetKROAddressCodeFromAddressID(10013), "O'B-0010");

  try {
    partner_.SetKROAddressCode(99999, "X");
    FAIL() << "no such address";
  } catch (const platform::ComError& e) {
    EXPECT_EQ(e.number(), partner_err::kAddressNotFound);
    EXPECT_NE(e.description().find("99999"), std::string::npos);
  }
}

TEST_F(BusinessPartnerTest, AddressComesAsOneDetachedRowInCopyOrder) {
  auto address = partner_.GetAddress(10012);
  const std::vector<std::string> expected{
      "COUNTRYCODE", "NAME1", "NAME2",   "STREET1", "STREET2",     "CITY1",           "CITY2",
      "STATEPROVINCE", "ZIPCODE", "PHONE", "FAX", "COUNTRYNAME", "SHORTDESCRIPTION"};
  ASSERT_EQ(address->FieldCount(), static_cast<int32_t>(expected.size()));
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ((*address)[static_cast<int>(i)].Name(), expected[i]);
  EXPECT_EQ(address->RecordCount(), 1);
  EXPECT_EQ(address->ActiveConnection(), nullptr);
  EXPECT_EQ(address->Value("CITY1").ToString(), "Bergen");
  EXPECT_EQ(address->Value("STREET2").ToString(), "Gate 3");
  EXPECT_TRUE(address->Value("STATEPROVINCE").IsNull());
  partner_.Release();  // the detached set outlives the component's connection
  EXPECT_EQ(address->Value("ZIPCODE").ToString(), "5160");

  auto none = partner_.GetAddress(99999);
  EXPECT_TRUE(none->Eof());
  EXPECT_EQ(none->FieldCount(), static_cast<int32_t>(expected.size()));
}

TEST_F(BusinessPartnerTest, CarrierByCodeOrAnEmptySet) {
  auto carrier = partner_.GetTransportCarrier("dhl");
  ASSERT_FALSE(carrier->Eof());
  EXPECT_EQ(carrier->Value("CARRIERNAME").ToString(), "DHL Freight");
  carrier->Close();
  EXPECT_TRUE(partner_.GetTransportCarrier("NONE")->Eof());
  EXPECT_TRUE(partner_.GetTransportCarrier("x' OR '1'='1")->Eof());
}

}  // namespace
