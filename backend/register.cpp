#include "backend/register.h"

#include "platform/host/registry.h"

namespace ferrolink {

void RegisterComponents() {}

}  // namespace ferrolink
