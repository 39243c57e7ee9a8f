// Order ("Ferrolink.Order") creates ERP sales orders from web orders and
// advances the status of ERP sales-order lines.
//
// CreateBackendSalesOrder takes a document ("origin" 0 basket, 1 quotation,
// 2 stored web orders; "header" with one record per order; "lines" for
// origins 0 and 1) and, for each header record, opens the sales-order
// component of the instance's connector type, fills its input (header,
// addresses, texts, lines, discounts, freight line, product variants),
// creates the ERP order and writes the ERP order number and line numbers
// back into ORDERHEADER and ORDERLINE in one transaction, or the ERP's
// refusal into ORDERHEADER.ERROR. It never raises: iErrorOccured tells the
// caller that some order was not taken.
//
// Created lines are matched to web lines by the web line number the input
// carried: tw4 reads it back as CustomerPurchaseOrderLine, tw5 and twkt as
// CustomerOrderPosition (set with setCustomerOrderPosition).
//
// The order-status methods follow the action protocol: InitializeAction,
// UpdateOrderStatus, CloseAction.
//
// Thread-safety: one caller at a time per object.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "backend/connector_classes.h"
#include "platform/core/dispatch.h"

namespace platform::data {
class Connection;
class Recordset;
}  // namespace platform::data

namespace ferrolink {

class Order : public platform::Dispatchable<Order> {
 public:
  static const platform::ClassBinding<Order>& Binding();
  ~Order() override;

  void InitializeAction(const std::string& iVTWType, const std::string& iComponentID,
                        int32_t& oErrorCode);
  void CloseAction();
  void UpdateOrderStatus(const std::string& iSalesOrderID, int32_t iLineID,
                         int32_t iBillingStepNumber, int32_t iUseFreight, int32_t& oSucces,
                         int32_t& oReasonCode);

  std::string CreateBackendSalesOrder(const platform::ObjectPtr& iOrder, bool& iErrorOccured);
  void UpdateAddressFromSlsOrder(const std::string& mOrderId, const std::string& iKROAddressCode,
                                 int32_t iFlag);
  void AddProductVariants(const std::string& iConfigid, const std::string& iOrderid,
                          int16_t iLineID);

  // The steps of CreateBackendSalesOrder (public for tests).
  void InitializeOrder(const std::string& iComponentID);
  void InitializeRecordSets();
  void BuildInputValuesforV50c(platform::data::Recordset& lines, int32_t origin);
  void FillAddressDetails(const std::string& address_type, int32_t address_id, bool for_line);
  platform::ObjectPtr GetTextinKROFormat(const std::string& text, int32_t kind);
  platform::Variant getDateinKROFormat(const platform::Variant& text);
  std::shared_ptr<platform::data::Recordset> GetUntransferredLines(const std::string& order_id);
  void AddFreightLine(double amount, platform::data::Recordset& lines);

  // For tests: the input of the order being built.
  const platform::ObjectPtr& sales_order_record() const { return so_record_; }
  const platform::ObjectPtr& sales_order_lines_input() const { return lines_input_; }
  void SetConnectorTypeForTest(const std::string& code);
  void SetOrderForTest(std::shared_ptr<platform::data::Recordset> header,
                       std::shared_ptr<platform::data::Connection> connection);

 private:
  void ReleaseOrderObjects();
  void ProcessOrder(int32_t origin, platform::data::Recordset* lines, const std::string& component_id,
                    bool& error_occured, std::string& last_number);
  void WriteError(const std::string& text);
  void SetOrder(const char* tw4, const char* tw5, const platform::Variant& value);
  void UseShipTo(const platform::ObjectPtr& target, const std::string& code);
  void UseBillTo(const std::string& code);

  platform::ObjectPtr status_component_;
  // The sales-order set of the order being created.
  platform::ObjectPtr so_component_, so_record_, so_input_, lines_input_;
  platform::ObjectPtr result_;
  platform::ObjectPtr rs_orders_, rs_lines_, rec_order_, rec_line_;
  std::string type_code_;
  std::optional<ConnectorType> type_;
  std::shared_ptr<platform::data::Recordset> header_;
  std::shared_ptr<platform::data::Connection> connection_;
  std::string order_id_;
  std::string mask_;
  std::string log_context_;
  platform::ObjectPtr current_line_;
};

}  // namespace ferrolink
