#include "platform/data/fault_injection.h"

#include <string>

#include "platform/data/ado_types.h"
#include "platform/data/driver.h"

namespace platform::data {

namespace {
thread_local int32_t fail_at = 0;
thread_local int32_t seen = 0;
}  // namespace

void FaultInjection::FailNthStatement(int32_t n) {
  fail_at = n < 0 ? 0 : n;
  seen = 0;
}

int32_t FaultInjection::StatementsSeen() { return seen; }

void FaultInjection::BeforeStatement() {
  ++seen;
  if (fail_at == 0 || seen != fail_at) return;
  fail_at = 0;  // one failure per arming: the cleanup after it must run
  DataError e;
  e.number = data_err::kProvider;
  e.description = "Injected fault: statement " + std::to_string(seen) + " failed.";
  e.source = std::string(kProviderSource);
  e.sql_state = "HY000";
  e.native_error = 1;  // SQLITE_ERROR
  throw DatabaseError(std::move(e));
}

}  // namespace platform::data
