// When a handle copies the write-ahead log back into its database file (a
// checkpoint). The engine's own rule checkpoints after every commit once the
// log holds 1,000 pages; while readers keep the log from being started over,
// that is every commit, each syncing the files to disk, and many writers at
// once spend their time there. Here a file's handles share one count: a
// commit checkpoints when the log has grown by 1,000 pages since the last
// attempt (or reached 1,000 pages since it started over), and only one
// committer of the process makes each attempt.
//
// Thread-safety: a file's pacing is shared by all its handles and threads
// (atomic); the hook runs on the thread that commits.
#pragma once

#include <sqlite3.h>

#include <atomic>
#include <cstdint>
#include <string>

namespace platform::data::sqlite::internal {

struct CheckpointPacing {
  std::atomic<int> next_at;  // log pages at which the next attempt is due
  std::atomic<int64_t> attempts{0};
};

// The pacing of a database file (its pool key); it lives as long as the process.
CheckpointPacing& PacingOf(const std::string& file);

// The write-ahead log hook of a handle; arg is the file's CheckpointPacing.
int OnWalCommit(void* arg, sqlite3* db, const char* name, int pages);

// Checkpoints attempted by all handles since start.
int64_t CheckpointAttempts();

}  // namespace platform::data::sqlite::internal
