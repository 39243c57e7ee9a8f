// The SQLite driver: sessions over pooled sqlite3 handles, one pool per
// database file. Handles run in WAL mode with a busy timeout and foreign keys
// on; write transactions take the write lock at BEGIN, and a statement or
// BEGIN that still finds the database busy is retried, within a bound, before
// the failure reaches the caller.
//
// Automatic parameterisation: before compiling a statement the driver takes
// its value literals out (literal_lexer.h) and keeps the compiled shape in a
// bounded, least-recently-used cache of the handle, binding the literals with
// the type and value the engine would have given them. The cache lives and
// dies with its handle (it survives pooling); a schema change recompiles
// through the engine. The canonical text stays what errors and logs show.
//
// Thread-safety: the pool is guarded by a lock; a session (and the handle it
// holds) is used by one thread at a time. The switches and counters below may
// be used from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/data/driver.h"

namespace platform::data::sqlite {

Driver& TheDriver();

// <Data Source>/<Initial Catalog>.db, a relative folder taken against the
// instance home. Raises a database error for a missing or unsafe catalog.
std::filesystem::path DatabaseFile(const ConnectionSettings& settings);

// Closes idle handles (of one file, or all) and makes handles now lent out
// close instead of returning to the pool. At normal program exit the pool
// does this itself, so no -wal or -shm file stays behind.
void ReleasePool();
void ReleasePool(const std::filesystem::path& file);

// How many handles were opened since start (tests check that Open/Close reuses them).
int64_t HandlesOpened();

// Turns automatic parameterisation on or off for the whole process (on by
// default; the environment variable VENDRA_SQLITE_AUTOPARAM=0 starts it off).
// Off, each distinct text is compiled and cached by its full text, as a
// statement with values pasted in was before.
void SetAutoParameterisation(bool on);
bool AutoParameterisation();

// How many compiled statements one handle keeps (256 unless changed; tests
// make it small to watch the least recently used one go).
void SetStatementCacheCapacity(size_t capacity);
size_t StatementCacheCapacity();

struct StatementCacheStats {
  int64_t compiles = 0;  // statements compiled (cache misses), since start
  int64_t hits = 0;      // statements found compiled
  int64_t busy_retries = 0;  // busy or locked results retried
  int64_t checkpoints = 0;   // checkpoints of the write-ahead log attempted after commits
};
StatementCacheStats CacheStats();
// The largest number of cached statements and the bytes the engine holds for
// all cached statements, over the idle handles in the pool.
size_t LargestIdleStatementCache();
int64_t IdleStatementCacheBytes();

// An opt-in hook that sees every statement run through a session, before it
// runs: the catalog (the file name without .db), the canonical text, the
// bound values and whether it is a script. Tests record the statements of
// their suites with it and replay them with the cache on and off.
struct RecordedStatement {
  std::string catalog;
  std::string sql;
  std::vector<BoundValue> params;
  bool script = false;
};
void SetStatementRecorder(std::function<void(const RecordedStatement&)> recorder);

}  // namespace platform::data::sqlite
