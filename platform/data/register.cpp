#include "platform/data/register.h"

#include "platform/data/command.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/host/registry.h"

namespace platform::data {

void RegisterDataComponents() {
  RegisterClass<Connection>("ADODB.Connection");
  RegisterClass<Recordset>("ADODB.Recordset");
  RegisterClass<Command>("ADODB.Command");
}

}  // namespace platform::data
