#include "sales/register.h"

#include "platform/host/registry.h"

namespace vendra {

void RegisterComponents() {}

}  // namespace vendra
