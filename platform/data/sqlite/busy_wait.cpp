#include "platform/data/sqlite/busy_wait.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "platform/data/sqlite/driver_internal.h"

namespace platform::data::sqlite::internal {

namespace {

constexpr int kBusyTimeoutMs = 5000;
// A database still busy after the busy timeout is tried again, with growing
// pauses, for at most this long in all before the caller hears of it.
constexpr auto kBusyRetryBound = std::chrono::seconds(30);

std::atomic<int64_t> g_busy_retries{0};

}  // namespace

bool IsBusy(int rc) { return (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED; }

// Waits before the n-th retry of a busy statement; false once the bound is spent.
bool WaitToRetry(int attempt, std::chrono::steady_clock::time_point started) {
  if (std::chrono::steady_clock::now() - started > kBusyRetryBound) return false;
  ++g_busy_retries;
  std::this_thread::sleep_for(std::chrono::milliseconds(std::min(1 << std::min(attempt, 6), 50)));
  return true;
}

// Waits for a lock held by another handle. The engine's own busy handler
// sleeps ever longer (up to 100 ms), so with many writers the lock often
// lies idle while its next taker sleeps; short, even pauses hand it on
// quickly. Gives up after the busy timeout.
int WaitForLock(void* arg, int count) {
  auto* h = static_cast<Handle*>(arg);
  const auto now = std::chrono::steady_clock::now();
  if (count == 0) h->busy_since = now;
  if (now - h->busy_since >= std::chrono::milliseconds(kBusyTimeoutMs)) return 0;
  std::this_thread::sleep_for(std::chrono::microseconds(count < 20 ? 200 : 1000));
  return 1;
}

// The first step of a statement; a database still busy after the busy
// timeout (or busy in a way the busy handler is not asked about, as a
// snapshot gone stale) is tried again while no transaction is open, as
// nothing of the statement has happened yet.
int FirstStep(sqlite3* db, sqlite3_stmt* stmt) {
  int rc = sqlite3_step(stmt);
  if (!IsBusy(rc)) return rc;  // the common case reads no clock
  const auto started = std::chrono::steady_clock::now();
  for (int attempt = 0; IsBusy(rc) && sqlite3_get_autocommit(db) && WaitToRetry(attempt, started);
       ++attempt) {
    sqlite3_reset(stmt);
    rc = sqlite3_step(stmt);
  }
  return rc;
}

int ExecControl(sqlite3* db, const std::string& sql) {
  int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  // BEGIN IMMEDIATE waits for the write lock through the busy timeout; a
  // writer that holds it longer is waited for again, within the bound.
  if (!IsBusy(rc)) return rc;
  const auto started = std::chrono::steady_clock::now();
  for (int attempt = 0; IsBusy(rc) && sql.starts_with("BEGIN") && WaitToRetry(attempt, started); ++attempt)
    rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  return rc;
}

int64_t BusyRetries() { return g_busy_retries.load(); }

}  // namespace platform::data::sqlite::internal
