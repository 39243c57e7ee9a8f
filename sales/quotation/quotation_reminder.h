// The outcome of one quotation reminder run, for the operators' command
// (`vendra notify-quotations`) that starts the run from cron and must say
// what it did. Quotation::Run and SendNotificationMail do the same run and
// report nothing to their caller, as late-bound callers expect.
//
// Thread-safety: one run per call; runs on several threads or in several
// processes at the same time never mail the same quotation twice.
#pragma once

#include <cstdint>
#include <string>

namespace vendra {

struct ReminderRun {
  bool implemented = false;  // "QuotationImplemented" was true: the run took place
  int32_t sent = 0;          // messages handed to the mail service (and marked)
  int32_t skipped = 0;       // due quotations of users without a known address
  bool completed = true;     // false: a failure ended the run (logged; text below)
  std::string failure;
};

// Quotation::Run, with its outcome.
ReminderRun RunQuotationReminders();

}  // namespace vendra
