// Waiting on a database another handle has locked: the busy handler each
// handle is opened with, and the bounded retries of a first step or a BEGIN
// that still finds the database busy after the busy timeout.
//
// Thread-safety: each function works on the handle or statement it is given,
// used by one thread at a time; the retry count may be read from any thread.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace platform::data::sqlite::internal {

bool IsBusy(int rc);

// Waits before the n-th retry of a busy statement; false once the bound is spent.
bool WaitToRetry(int attempt, std::chrono::steady_clock::time_point started);

// The busy handler of a handle; arg is its Handle.
int WaitForLock(void* arg, int count);

// The first step of a statement, retried while the database is busy and no
// transaction is open.
int FirstStep(sqlite3* db, sqlite3_stmt* stmt);

// Runs a control statement; a BEGIN that finds the database busy is retried.
int ExecControl(sqlite3* db, const std::string& sql);

// How many times a busy statement or BEGIN was retried.
int64_t BusyRetries();

}  // namespace platform::data::sqlite::internal
