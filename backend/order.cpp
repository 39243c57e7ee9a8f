// Ferrolink.Order: the action lifecycle, the sales-order set per connector
// type, and the order-status update.

#include "backend/order.h"

#include "backend/action.h"
#include "platform/core/com_error.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "shared/error_handling.h"

namespace ferrolink {

using platform::Variant;

const platform::ClassBinding<Order>& Order::Binding() {
  static const auto b =
      platform::ClassBinding<Order>("Order")
          .Method("InitializeAction", &Order::InitializeAction)
          .Method("CloseAction", &Order::CloseAction)
          .Method("UpdateOrderStatus", &Order::UpdateOrderStatus)
          .Method("CreateBackendSalesOrder", &Order::CreateBackendSalesOrder)
          .Method("UpdateAddressFromSlsOrder", &Order::UpdateAddressFromSlsOrder)
          .Method("AddProductVariants", &Order::AddProductVariants)
          .Method("InitializeOrder", &Order::InitializeOrder);
  return b;
}

Order::~Order() {
  try {
    ReleaseOrderObjects();
    status_component_.reset();
    if (connection_) connection_->Close();
  } catch (...) {
    try {
      lib_sales::LogFailure("Ferrolink.Order.Terminate");
    } catch (...) {
    }
  }
}

void Order::ReleaseOrderObjects() {
  so_component_.reset();
  so_record_.reset();
  so_input_.reset();
  lines_input_.reset();
  result_.reset();
  rs_orders_.reset();
  rs_lines_.reset();
  rec_order_.reset();
  rec_line_.reset();
  current_line_.reset();
}

void Order::InitializeAction(const std::string& iVTWType, const std::string& iComponentID,
                             int32_t& oErrorCode) {
  status_component_ =
      OpenComponent(Role::OrderStatus, iVTWType, iComponentID, oErrorCode,
                    {"Ferrolink.Order.InitializeAction", "OrderStatus.InitializeAction"});
}

void Order::CloseAction() { CloseComponent(status_component_, "OrderStatus.CloseAction"); }

void Order::UpdateOrderStatus(const std::string& iSalesOrderID, int32_t iLineID,
                              int32_t iBillingStepNumber, int32_t iUseFreight, int32_t& oSucces,
                              int32_t& oReasonCode) {
  lib_sales::Guarded(
      "OrderStatus.UpdateOrderStatus",
      [&] {
        oSucces = 0;
        oReasonCode = 0;
        const platform::ObjectPtr result =
            platform::Call(status_component_, "UpdateOrderStatus",
                           {Variant(iSalesOrderID), Variant(iLineID), Variant(iBillingStepNumber),
                            Variant(iUseFreight)})
                .ToObject();
        oSucces = platform::Call(result, "getSuccess").ToLong();
        oReasonCode = platform::Call(result, "getReasonCode").ToLong();
      },
      [&] {
        return lib_sales::Info(Variant(
            "SalesOrder: " + iSalesOrderID + ", Line: " + std::to_string(iLineID) +
            ", Billing Step Number: " + std::to_string(iBillingStepNumber) +
            ", Use Freight: " + std::to_string(iUseFreight)));
      });
}

void Order::InitializeOrder(const std::string& iComponentID) {
  try {
    ReleaseOrderObjects();
    if (!type_) {
      LogError(kUnsupportedConnectorType,
               "Ferrolink.Order.InitializeOrder: " + NotSupportedText(type_code_),
               NotSupportedText(type_code_), "Ferrolink.Order.InitializeOrder: " + NotSupportedText(type_code_));
    } else {
      so_component_ = NewComponent(Role::SalesOrder, *type_);
      so_record_ = NewSalesOrderRecord(*type_);
      so_input_ = NewSalesOrdersInput(*type_);
      lines_input_ = NewSalesOrderLinesInput(*type_);
    }
    platform::Call(so_component_, "Initialize", {Variant(iComponentID)});
  } catch (...) {
    ReleaseOrderObjects();
    try {
      lib_sales::LogFailure("Ferrolink.Order.InitializeOrder");
    } catch (...) {
    }
  }
}

void Order::InitializeRecordSets() {
  if (!type_) return;
  try {
    rs_orders_ = NewSalesOrdersInput(*type_);
    rs_lines_ = NewSalesOrderLinesInput(*type_);
    rec_order_ = NewSalesOrderRecord(*type_);
    rec_line_ = NewSalesOrderLineRecord(*type_);
  } catch (...) {
    rs_orders_.reset();
    rs_lines_.reset();
    rec_order_.reset();
    rec_line_.reset();
    try {
      lib_sales::LogFailure("Ferrolink.Order.InitializeRecordSets");
    } catch (...) {
    }
  }
}

void Order::SetConnectorTypeForTest(const std::string& code) {
  type_code_ = code;
  type_ = platform::erp::ParseConnectorType(code);
}

void Order::SetOrderForTest(std::shared_ptr<platform::data::Recordset> header,
                            std::shared_ptr<platform::data::Connection> connection) {
  header_ = std::move(header);
  connection_ = std::move(connection);
}

}  // namespace ferrolink
