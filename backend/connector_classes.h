// The connector classes the back-end actions hold, chosen by connector type
// and created by class identity (never by identifier): the business
// component of each role, and the sales-order set (record, inputs, line
// record, text blocks, discounts, variants) of each type. Also the logging
// of a connector failure that is no exception of its own ("type not
// supported") in the fixed layout.
//
// Thread-safety: free functions without state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/core/object.h"
#include "platform/erp/connector_values.h"

namespace ferrolink {

using platform::erp::ConnectorType;

// The number an action reports for a connector type it does not support.
inline constexpr int32_t kUnsupportedConnectorType = static_cast<int32_t>(0x80044010u);

enum class Role { OrderStatus, Allocation, PriceTax, SalesOrder };

// "Connection to Vorn Tidewire type <trimmed type> not supported".
std::string NotSupportedText(std::string_view type);

// The business component of the role for the type.
platform::ObjectPtr NewComponent(Role role, ConnectorType type);

// The document component of the type (order acknowledgement, shipment
// notice, invoice).
platform::ObjectPtr NewShowSalesOrderComponent(ConnectorType type);

// The value objects of a type's sales-order set.
platform::ObjectPtr NewSalesOrderRecord(ConnectorType type);
platform::ObjectPtr NewSalesOrderLineRecord(ConnectorType type);
platform::ObjectPtr NewSalesOrdersInput(ConnectorType type);
platform::ObjectPtr NewSalesOrderLinesInput(ConnectorType type);
platform::ObjectPtr NewTextBlock(ConnectorType type, int kind);  // 1 header, 2 footer, 3 line
platform::ObjectPtr NewTextValue(ConnectorType type);
platform::ObjectPtr NewLineDiscountAmount(ConnectorType type);
platform::ObjectPtr NewLineDiscountPercentage(ConnectorType type);
platform::ObjectPtr NewProductVariants(ConnectorType type);
platform::ObjectPtr NewProductVariantLine(ConnectorType type);

// Writes one log entry (level 0) for a failure that is no exception: the
// entry's source is source, its METHOD line method and its INFO line info
// when given.
void LogError(int32_t number, const std::string& source, const std::string& description,
              std::string_view method, const std::optional<std::string>& info = std::nullopt);

}  // namespace ferrolink
