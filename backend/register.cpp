#include "backend/register.h"

#include "backend/allocate.h"
#include "backend/backend.h"
#include "backend/lookups.h"
#include "backend/order.h"
#include "backend/price_tax.h"
#include "platform/host/registry.h"

namespace ferrolink {

void RegisterComponents() {
  platform::RegisterClass<Order>("Ferrolink.Order");
  platform::RegisterClass<AllocateAction>("Ferrolink.Allocate");
  platform::RegisterClass<PriceTax>("Ferrolink.PriceTax");
  platform::RegisterClass<Backend>("Ferrolink.Backend");
  platform::RegisterClass<Lookups>("Ferrolink.Lookups");
}

}  // namespace ferrolink
