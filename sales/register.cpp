#include "sales/register.h"

#include "platform/host/registry.h"
#include "sales/admin/freight_cost.h"
#include "sales/admin/manager.h"
#include "sales/admin/sales_parameter.h"
#include "sales/basket/basket.h"
#include "sales/order/order.h"
#include "sales/pricing/pricing.h"
#include "sales/quotation/quotation.h"

namespace vendra {

void RegisterComponents() {
  platform::RegisterClass<SalesParameter>("Vendra.SalesParameter");
  platform::RegisterClass<Basket>("Vendra.Basket");
  platform::RegisterClass<Manager>("Vendra.Manager");
  platform::RegisterClass<Order>("Vendra.Order");
  platform::RegisterClass<Pricing>("Vendra.Pricing");
  platform::RegisterClass<FreightCost>("Vendra.FreightCost");
  platform::RegisterClass<Quotation>("Vendra.Quotation");
}

}  // namespace vendra
