// The business components of the simulated ERP, one class per role and
// connector type: SalesOrderComponent, OrderStatusComponent,
// AllocationComponent and PriceTaxComponent. A caller creates the class of
// its instance's type directly (by class identity, not by identifier),
// calls Initialize(componentId), one action, and Close; every call is made
// by name through Object::Invoke. Each action answers with a result object
// whose values are read with get/has/size operations.
//
// The work is done on the ERP's own catalog (data/Gantrel.db): a sales
// order is validated as a whole and stored in one transaction, or refused
// with an error document and nothing stored.
//
// Thread-safety: a component is used by one caller at a time; components on
// different threads meet only in the ERP's database.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/dispatch.h"
#include "platform/erp/connector_values.h"

namespace platform::data {
class Connection;
}

namespace platform::erp {

// A back-end instance as the ERP knows it.
struct ErpInstance {
  int32_t kro_id = 0;
  std::string component_id;
  std::string connector_type;  // as stored ("tw5")
  std::string description;
  bool alignment = false;
  std::string mask;  // ITEMSEGMENTATIONMASK as stored ("KT**")
};

// The ERP's catalog, opened per call (the driver pools the sessions).
std::shared_ptr<data::Connection> OpenErpDatabase();
std::optional<ErpInstance> FindInstance(int32_t kro_id);
// The prefix the connector puts before a part number for this instance:
// tw4 none; tw5/twkt the mask with "*" as blanks when aligned, else nine
// blanks.
std::string ItemPrefix(const ErpInstance& instance);

// The result of Create.
class CreateResult : public Dispatchable<CreateResult> {
 public:
  static const ClassBinding<CreateResult>& Binding();
  ObjectPtr getRecordSetSalesOrders() const { return orders_; }
  std::shared_ptr<ErrorDocument> getVornErrorDoc() const { return errors_; }
  bool hasRecordSetSalesOrderLines() const { return lines_ != nullptr; }
  ObjectPtr getRecordSetSalesOrderLines() const { return lines_; }

  ObjectPtr orders_;
  ObjectPtr lines_;
  std::shared_ptr<ErrorDocument> errors_ = std::make_shared<ErrorDocument>();
};

class StatusResult : public Dispatchable<StatusResult> {
 public:
  static const ClassBinding<StatusResult>& Binding();
  int32_t getSuccess() const { return success_; }
  int32_t getReasonCode() const { return reason_; }
  int32_t success_ = 0;
  int32_t reason_ = 0;
};

class AllocationResult : public Dispatchable<AllocationResult> {
 public:
  static const ClassBinding<AllocationResult>& Binding();
  int32_t getErrorNumber() const { return error_; }
  int32_t error_ = 0;
};

class PriceTaxResult : public Dispatchable<PriceTaxResult> {
 public:
  static const ClassBinding<PriceTaxResult>& Binding();
  std::string getErrorCode() const { return error_code_; }
  double getUnitPrice() const { return unit_price_; }
  double getDiscountPercentage() const { return discount_perc_; }
  double getTotDiscountAmount() const { return discount_total_; }
  double getTaxAmount() const { return tax_amount_; }
  double getTaxPercentage() const { return tax_perc_; }
  std::string getTaxCode() const { return tax_code_; }
  int32_t getTaxType() const { return tax_type_; }
  std::string getTaxCodeDescription() const { return tax_description_; }
  int32_t getCalculateTax() const { return calculate_tax_; }

  std::string error_code_;
  double unit_price_ = 0, discount_perc_ = 0, discount_total_ = 0;
  double tax_amount_ = 0, tax_perc_ = 0;
  std::string tax_code_, tax_description_;
  int32_t tax_type_ = 0, calculate_tax_ = 0;
};

// Reason codes of UpdateOrderStatus and error numbers of Allocate.
namespace erp_reason {
inline constexpr int32_t kUnknownLine = 1;
inline constexpr int32_t kStepOutOfSequence = 2;
inline constexpr int32_t kNotAllocated = 3;
inline constexpr int32_t kAllocUnknownLine = 2001;
inline constexpr int32_t kAllocNoStock = 2002;
inline constexpr int32_t kAllocDone = 2003;
}  // namespace erp_reason

// The type-independent work of the components.
class ComponentCore {
 public:
  // Raises kUnknownComponent when the id is not an instance of this type.
  void Initialize(ConnectorType type, const std::string& component_id);
  // Raises kNotInitialized when Initialize did not succeed (or Close came).
  void Close();
  const ErpInstance& instance() const;
  ConnectorType type() const { return type_; }

  std::shared_ptr<CreateResult> Create(const ObjectPtr& orders, const ObjectPtr& lines);
  std::shared_ptr<StatusResult> UpdateOrderStatus(const std::string& sales_order, int32_t line,
                                                  int32_t step, int32_t use_freight);
  std::shared_ptr<AllocationResult> Allocate(const std::string& sales_order, int32_t line);
  std::shared_ptr<PriceTaxResult> GetPriceAndOrTax(
      int32_t option, const std::string& customer, const std::string& part,
      const std::string& currency, const std::string& date, int32_t line_quantity,
      int32_t order_quantity, const std::string& unit, const std::string& billing,
      const std::string& shipping, const std::string& country, double line_amount,
      double discount_perc);

 private:
  ConnectorType type_ = ConnectorType::Tw5;
  std::optional<ErpInstance> instance_;
};

template <ConnectorType T>
class SalesOrderComponent final : public Dispatchable<SalesOrderComponent<T>> {
 public:
  static const ClassBinding<SalesOrderComponent>& Binding() {
    static const auto b =
        ClassBinding<SalesOrderComponent>(std::string(ConnectorTypeCode(T)) + ".SalesOrderComponent")
            .Method("Initialize", &SalesOrderComponent::Initialize)
            .Method("Create", &SalesOrderComponent::Create)
            .Method("Close", &SalesOrderComponent::Close);
    return b;
  }
  void Initialize(const std::string& id) { core_.Initialize(T, id); }
  std::shared_ptr<CreateResult> Create(const ObjectPtr& orders, const ObjectPtr& lines) {
    return core_.Create(orders, lines);
  }
  void Close() { core_.Close(); }

 private:
  ComponentCore core_;
};

template <ConnectorType T>
class OrderStatusComponent final : public Dispatchable<OrderStatusComponent<T>> {
 public:
  static const ClassBinding<OrderStatusComponent>& Binding() {
    static const auto b =
        ClassBinding<OrderStatusComponent>(std::string(ConnectorTypeCode(T)) + ".OrderStatusComponent")
            .Method("Initialize", &OrderStatusComponent::Initialize)
            .Method("UpdateOrderStatus", &OrderStatusComponent::UpdateOrderStatus)
            .Method("Close", &OrderStatusComponent::Close);
    return b;
  }
  void Initialize(const std::string& id) { core_.Initialize(T, id); }
  std::shared_ptr<StatusResult> UpdateOrderStatus(const std::string& so, int32_t line,
                                                  int32_t step, int32_t use_freight) {
    return core_.UpdateOrderStatus(so, line, step, use_freight);
  }
  void Close() { core_.Close(); }

 private:
  ComponentCore core_;
};

template <ConnectorType T>
class AllocationComponent final : public Dispatchable<AllocationComponent<T>> {
 public:
  static const ClassBinding<AllocationComponent>& Binding() {
    static const auto b =
        ClassBinding<AllocationComponent>(std::string(ConnectorTypeCode(T)) + ".AllocationComponent")
            .Method("Initialize", &AllocationComponent::Initialize)
            .Method("Allocate", &AllocationComponent::Allocate)
            .Method("Close", &AllocationComponent::Close);
    return b;
  }
  void Initialize(const std::string& id) { core_.Initialize(T, id); }
  std::shared_ptr<AllocationResult> Allocate(const std::string& so, int32_t line) {
    return core_.Allocate(so, line);
  }
  void Close() { core_.Close(); }

 private:
  ComponentCore core_;
};

template <ConnectorType T>
class PriceTaxComponent final : public Dispatchable<PriceTaxComponent<T>> {
 public:
  static const ClassBinding<PriceTaxComponent>& Binding() {
    static const auto b =
        ClassBinding<PriceTaxComponent>(std::string(ConnectorTypeCode(T)) + ".PriceTaxComponent")
            .Method("Initialize", &PriceTaxComponent::Initialize)
            .Method("GetPriceAndOrTax", &PriceTaxComponent::GetPriceAndOrTax)
            .Method("Close", &PriceTaxComponent::Close);
    return b;
  }
  void Initialize(const std::string& id) { core_.Initialize(T, id); }
  // The thirteen inputs are taken by reference, as the connector declares
  // them; it changes none of them.
  std::shared_ptr<PriceTaxResult> GetPriceAndOrTax(
      int32_t& option, std::string& customer, std::string& part, std::string& currency,
      std::string& date, int32_t& line_quantity, int32_t& order_quantity, std::string& unit,
      std::string& billing, std::string& shipping, std::string& country, double& line_amount,
      double& discount_perc) {
    return core_.GetPriceAndOrTax(option, customer, part, currency, date, line_quantity,
                                  order_quantity, unit, billing, shipping, country, line_amount,
                                  discount_perc);
  }
  void Close() { core_.Close(); }

 private:
  ComponentCore core_;
};

// For operators: a created sales order as JSON text (header values by the
// name of the operation that set them without "set", text blocks as arrays
// of their pieces, each line with its values and product variants), or ""
// when the instance has no such order; and the list of an instance's orders.
std::string SalesOrderJson(int32_t kro_id, const std::string& sales_order);
std::string SalesOrdersJson(int32_t kro_id);

}  // namespace platform::erp
