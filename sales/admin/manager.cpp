#include "sales/admin/manager.h"

#include "platform/core/dictionary.h"

#include "platform/core/com_error.h"
#include "platform/core/text.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "shared/components.h"
#include "shared/data_routines.h"
#include "shared/encoding.h"
#include "shared/error_handling.h"
#include "shared/parameters.h"

namespace vendra {

namespace {

using platform::Variant;
using platform::data::Connection;
using platform::data::Recordset;

constexpr std::string_view kSettingsSource = "Vendra.Manager.GetCustomerSettingData";
constexpr std::string_view kParamSource = "Vendra.Manager.GetKROOrderProcessParam";
constexpr std::string_view kOrderTypeSource = "Vendra.Manager.GetDefaultOrderType";

// Null, Empty and "" all mean the setting is not made.
std::string SettingText(const Variant& value) {
  if (value.IsMissing()) return {};
  return value.ToString();
}

}  // namespace

const platform::ClassBinding<Manager>& Manager::Binding() {
  static const auto b =
      platform::ClassBinding<Manager>("Manager")
          .Method("Create", &Manager::Create)
          .Method("Delete", &Manager::Delete)
          .Method("GetDataTypes", &Manager::GetDataTypes)
          .Method("Update", &Manager::Update)
          .Method("GetRecordSet", &Manager::GetRecordSet)
          .Method("Exists", &Manager::Exists)
          .Method("BeforeDelete", &Manager::BeforeDelete)
          .Method("GetCustomerSettingData", &Manager::GetCustomerSettingData)
          .Method("GetKROOrderProcessParam", &Manager::GetKROOrderProcessParam)
          .Method("GetDefaultOrderType", &Manager::GetDefaultOrderType);
  return b;
}

std::shared_ptr<Recordset> Manager::GetCustomerSettingData(const std::string& i_sBPID) {
  return lib_sales::Guarded(kSettingsSource, [&] {
    // A partner id is a whole number; anything else names no partner (a
    // server database would refuse to compare it with the number column).
    const bool number = !i_sBPID.empty() && i_sBPID.size() <= 10 &&
                        i_sBPID.find_first_not_of("0123456789") == std::string::npos;
    const std::string sql = "SELECT * FROM CUSTOMERSETTING WHERE " +
                            (number ? "BUSINESSPARTNERID=" + lib_sales::EncVariant(Variant(i_sBPID))
                                    : std::string("1=0"));
    std::shared_ptr<Connection> connection =
        lib_sales::Sls_GetOpenConnection(lib_sales::Sls_ConnectionString());
    auto settings = std::make_shared<Recordset>();
    settings->SetCursorLocation(platform::data::adUseClient);
    settings->Open(sql, connection, platform::data::adOpenForwardOnly,
                   platform::data::adLockReadOnly, platform::data::adCmdText);
    settings->SetActiveConnection(nullptr);
    lib_sales::Sls_CloseConnection(connection);
    return settings->Clone();
  });
}

void Manager::GetKROOrderProcessParam(int32_t i_lKROID, std::string& io_sProperty) {
  lib_sales::Guarded(kParamSource, [&] {
    // The property name becomes a column name in the statement.
    if (!platform::text::IsPlainIdentifier(io_sProperty)) {
      platform::Raise(platform::err::kInvalidProcedureCall, std::string(kParamSource),
                      "'" + io_sProperty +
                          "' is not a column of ORDEREXPORTFILE: a setting is named by letters, "
                          "digits and underscores only");
    }
    const std::string sql = "SELECT " + io_sProperty + " FROM ORDEREXPORTFILE WHERE " +
                            "KROID= '" + lib_sales::EncLong(i_lKROID) + "'";
    std::shared_ptr<Connection> connection =
        lib_sales::Sls_GetOpenConnection(lib_sales::Sls_ConnectionString());
    std::shared_ptr<Recordset> row = connection->Execute(sql);
    std::string answer;
    if (row && !row->Eof()) answer = SettingText(row->fields()[0].Value());
    lib_sales::Sls_CloseRecordSet(row);
    lib_sales::Sls_CloseConnection(connection);
    io_sProperty = std::move(answer);
  });
}

std::string Manager::GetDefaultOrderType(const std::string& i_sBPID, int32_t i_sKROID,
                                         int32_t i_KindOfOrder) {
  return lib_sales::Guarded(kOrderTypeSource, [&] {
    const bool credit_card = i_KindOfOrder == kCreditCardOrder;
    std::string type;
    std::shared_ptr<Recordset> settings = GetCustomerSettingData(i_sBPID);
    if (!settings->Eof()) type = SettingText(settings->Value(credit_card ? "CCORDERTYPE" : "ORDERTYPE"));
    lib_sales::Sls_CloseRecordSet(settings);
    if (!type.empty()) return type;
    if (credit_card) {
      type = "CREDITCARDORDERTYPE";
      GetKROOrderProcessParam(i_sKROID, type);
      if (type.empty()) type = lib_sales::Sls_GetParameterValue("Creditcard Ordertype for Backend");
    } else {
      type = "SALESORDERTYPE";
      GetKROOrderProcessParam(i_sKROID, type);
    }
    return type;
  });
}

}  // namespace vendra
