// `vendra handover --instance N`: the periodic hand-over of one back-end
// instance's waiting orders, for cron. Prints one line per order it handed
// over or that the back end refused, and a summary.

#include <filesystem>
#include <ostream>

#include "apps/vendra/commands.h"
#include "platform/core/com_error.h"
#include "platform/host/instance.h"
#include "sales/order/order.h"

namespace vendra_cli {

namespace {
constexpr char kSource[] = "vendra.handover";
}

// Sets the home after checking it holds an instance.
void EnterInstance(const std::optional<std::filesystem::path>& home, const char* command) {
  if (!home) {
    platform::Raise(platform::err::kInvalidProcedureCall, kSource,
                    std::string(command) + " needs --home DIR (or VENDRA_HOME)");
  }
  std::error_code ec;
  if (!std::filesystem::is_regular_file(*home / "platform.xml", ec)) {
    platform::Raise(platform::err::kInvalidProcedureCall, kSource,
                    "No instance at " + home->string() + " (platform.xml is missing)");
  }
  platform::InstanceHome::Set(*home);
}

int RunHandover(const std::optional<std::filesystem::path>& home, int32_t instance,
                std::ostream& out, std::ostream& err) {
  try {
    EnterInstance(home, "handover");
    const auto outcomes = vendra::Order().HandOverWaitingOrders(instance);
    int taken = 0;
    for (const vendra::HandoverOutcome& o : outcomes) {
      if (!o.sales_order.empty() && o.status != 0) {
        ++taken;
        out << "handed over " << o.order_id << ": ERP sales order " << o.sales_order << "\n";
      } else {
        out << "refused     " << o.order_id << " (attempt " << o.attempts << "): " << o.error << "\n";
      }
    }
    out << "instance " << instance << ": " << taken << " handed over, "
        << (outcomes.size() - taken) << " refused\n"
        << std::flush;
    return kExitOk;
  } catch (...) {
    const platform::ComError e = platform::CurrentError();
    err << "vendra handover: " << e.description() << " (error " << e.number() << ", "
        << e.source() << ")\n";
    return kExitFailed;
  }
}

}  // namespace vendra_cli
