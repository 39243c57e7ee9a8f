// `vendra notify-quotations`: the quotation reminder run (Quotation.Run), for
// cron. Prints how many reminders it sent; exits 1 when a failure ended the
// run early (what was sent stays sent, the rest goes out with the next run).

#include <ostream>

#include "apps/vendra/commands.h"
#include "platform/core/com_error.h"
#include "sales/quotation/quotation_reminder.h"

namespace vendra_cli {

int RunNotifyQuotations(const std::optional<std::filesystem::path>& home, std::ostream& out,
                        std::ostream& err) {
  try {
    EnterInstance(home, "notify-quotations");
    const vendra::ReminderRun run = vendra::RunQuotationReminders();
    if (!run.implemented) {
      out << "quotations are not in use (QuotationImplemented is off): 0 reminders sent\n"
          << std::flush;
      return kExitOk;
    }
    out << run.sent << (run.sent == 1 ? " reminder" : " reminders") << " sent";
    if (run.skipped > 0) out << ", " << run.skipped << " skipped (user without e-mail address)";
    out << "\n" << std::flush;
    if (!run.completed) {
      err << "vendra notify-quotations: the run ended early; the rest goes out with the next run:"
          << run.failure << "\n";
      return kExitFailed;
    }
    return kExitOk;
  } catch (...) {
    const platform::ComError e = platform::CurrentError();
    err << "vendra notify-quotations: " << e.description() << " (error " << e.number() << ", "
        << e.source() << ")\n";
    return kExitFailed;
  }
}

}  // namespace vendra_cli
