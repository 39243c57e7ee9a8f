#include "backend/connector_classes.h"

#include <memory>

#include "platform/core/com_error.h"
#include "platform/core/text.h"
#include "platform/erp/components.h"
#include "platform/erp/documents.h"
#include "shared/error_handling.h"

namespace ferrolink {

namespace erp = platform::erp;
using platform::ObjectPtr;

namespace {

template <template <ConnectorType> class C>
ObjectPtr Make(ConnectorType type) {
  switch (type) {
    case ConnectorType::Tw4: return std::make_shared<C<ConnectorType::Tw4>>();
    case ConnectorType::Tw5: return std::make_shared<C<ConnectorType::Tw5>>();
    case ConnectorType::Twkt: return std::make_shared<C<ConnectorType::Twkt>>();
  }
  return nullptr;
}

template <ConnectorType T>
ObjectPtr MakeTextBlock(int kind) {
  switch (kind) {
    case 1: return std::make_shared<erp::TypedTextBlock<T, 1>>();
    case 2: return std::make_shared<erp::TypedTextBlock<T, 2>>();
    case 3: return std::make_shared<erp::TypedTextBlock<T, 3>>();
  }
  platform::Raise(platform::err::kInvalidProcedureCall, "Ferrolink.Order.GetTextinKROFormat()",
                  "No text block of kind " + std::to_string(kind));
}

}  // namespace

std::string NotSupportedText(std::string_view type) {
  return "Connection to Vorn Tidewire type " + std::string(platform::text::TrimBlanks(type)) +
         " not supported";
}

ObjectPtr NewComponent(Role role, ConnectorType type) {
  switch (role) {
    case Role::OrderStatus: return Make<erp::OrderStatusComponent>(type);
    case Role::Allocation: return Make<erp::AllocationComponent>(type);
    case Role::PriceTax: return Make<erp::PriceTaxComponent>(type);
    case Role::SalesOrder: return Make<erp::SalesOrderComponent>(type);
  }
  return nullptr;
}

ObjectPtr NewShowSalesOrderComponent(ConnectorType t) {
  return Make<erp::ShowSalesOrderComponent>(t);
}

ObjectPtr NewSalesOrderRecord(ConnectorType t) { return Make<erp::SalesOrderRecord>(t); }
ObjectPtr NewSalesOrderLineRecord(ConnectorType t) { return Make<erp::SalesOrderLineRecord>(t); }
ObjectPtr NewSalesOrdersInput(ConnectorType t) { return Make<erp::SalesOrdersInput>(t); }
ObjectPtr NewSalesOrderLinesInput(ConnectorType t) { return Make<erp::SalesOrderLinesInput>(t); }
ObjectPtr NewTextValue(ConnectorType t) { return Make<erp::TypedTextValue>(t); }
ObjectPtr NewLineDiscountAmount(ConnectorType t) { return Make<erp::LineDiscountAmountValue>(t); }
ObjectPtr NewLineDiscountPercentage(ConnectorType t) {
  return Make<erp::LineDiscountPercentageValue>(t);
}
ObjectPtr NewProductVariants(ConnectorType t) { return Make<erp::TypedProductVariants>(t); }
ObjectPtr NewProductVariantLine(ConnectorType t) { return Make<erp::ProductVariantLine>(t); }

ObjectPtr NewTextBlock(ConnectorType type, int kind) {
  switch (type) {
    case ConnectorType::Tw4: return MakeTextBlock<ConnectorType::Tw4>(kind);
    case ConnectorType::Tw5: return MakeTextBlock<ConnectorType::Tw5>(kind);
    case ConnectorType::Twkt: return MakeTextBlock<ConnectorType::Twkt>(kind);
  }
  return nullptr;
}

void LogError(int32_t number, const std::string& source, const std::string& description,
              std::string_view method, const std::optional<std::string>& info) {
  try {
    throw platform::ComError(number, source, description);
  } catch (const platform::ComError&) {
    try {
      if (info) {
        lib_sales::LogFailure(method, platform::Variant(*info));
      } else {
        lib_sales::LogFailure(method);
      }
    } catch (...) {
      // The log must not turn a reported failure into another one.
    }
  }
}

}  // namespace ferrolink
