// The SQLite driver: sessions over pooled sqlite3 handles, one pool per
// database file. Each pooled handle keeps its prepared statements (keyed by
// the canonical text) so a statement that repeats is prepared once per
// handle. Handles run in WAL mode with a busy timeout and foreign keys on;
// write transactions take the write lock at BEGIN.
//
// Thread-safety: the pool is guarded by a lock; a session (and the handle it
// holds) is used by one thread at a time.
#pragma once

#include <filesystem>

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

}  // namespace platform::data::sqlite
