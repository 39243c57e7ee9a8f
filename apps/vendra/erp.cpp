// `vendra erp order KROID SALESORDERNR` and `vendra erp orders KROID`: what
// the simulated ERP received, as JSON, for operators.

#include <ostream>

#include "apps/vendra/commands.h"
#include "platform/core/com_error.h"
#include "platform/erp/components.h"

namespace vendra_cli {

int RunErpOrder(const std::optional<std::filesystem::path>& home, int32_t kro_id,
                const std::string& sales_order, std::ostream& out, std::ostream& err) {
  try {
    EnterInstance(home, "erp order");
    const std::string text = platform::erp::SalesOrderJson(kro_id, sales_order);
    if (text.empty()) {
      err << "vendra erp order: instance " << kro_id << " has no sales order " << sales_order << "\n";
      return kExitFailed;
    }
    out << text << "\n" << std::flush;
    return kExitOk;
  } catch (...) {
    const platform::ComError e = platform::CurrentError();
    err << "vendra erp order: " << e.description() << " (error " << e.number() << ")\n";
    return kExitFailed;
  }
}

int RunErpOrders(const std::optional<std::filesystem::path>& home, int32_t kro_id,
                 std::ostream& out, std::ostream& err) {
  try {
    EnterInstance(home, "erp orders");
    out << platform::erp::SalesOrdersJson(kro_id) << "\n" << std::flush;
    return kExitOk;
  } catch (...) {
    const platform::ComError e = platform::CurrentError();
    err << "vendra erp orders: " << e.description() << " (error " << e.number() << ")\n";
    return kExitFailed;
  }
}

}  // namespace vendra_cli
