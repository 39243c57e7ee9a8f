#include "sales/register.h"

#include "platform/host/registry.h"
#include "sales/admin/freight_cost.h"
#include "platform/services/master_data.h"
#include "sales/admin/manager.h"
#include "sales/admin/sales_parameter.h"
#include "sales/basket/basket.h"
#include "sales/integrity/order_export_file.h"
#include "sales/integrity/web_order.h"
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
  platform::RegisterClass<OrderExportFile>("Vendra.OrderExportFile");
  platform::RegisterClass<WebOrder>("Vendra.WebOrder");
  // Asked by the master-data maintenance before a delete, in this order.
  for (const char* progid : {"Vendra.Basket", "Vendra.Quotation", "Vendra.Order", "Vendra.Pricing",
                             "Vendra.Manager", "Vendra.OrderExportFile", "Vendra.WebOrder"})
    platform::RegisterReferentialIntegrity(progid);
}

}  // namespace vendra
