// Registers the data-access classes under their programmatic identifiers:
// "ADODB.Connection", "ADODB.Recordset", "ADODB.Command".
#pragma once

namespace platform::data {

void RegisterDataComponents();

}  // namespace platform::data
