#include "sales/register.h"

#include "platform/host/registry.h"
#include "sales/admin/sales_parameter.h"

namespace vendra {

void RegisterComponents() {
  platform::RegisterClass<SalesParameter>("Vendra.SalesParameter");
}

}  // namespace vendra
