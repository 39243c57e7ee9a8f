#include "platform/data/sqlite/checkpoint.h"

#include <memory>
#include <mutex>
#include <unordered_map>

namespace platform::data::sqlite::internal {

namespace {

// The engine's own automatic checkpoint size, in pages of the log.
constexpr int kCheckpointPages = 1000;

std::atomic<int64_t> g_attempts{0};

}  // namespace

CheckpointPacing& PacingOf(const std::string& file) {
  static std::mutex mutex;
  static auto* pacings = new std::unordered_map<std::string, std::unique_ptr<CheckpointPacing>>;
  std::lock_guard lock(mutex);
  auto& p = (*pacings)[file];
  if (!p) {
    p = std::make_unique<CheckpointPacing>();
    p->next_at = kCheckpointPages;
  }
  return *p;
}

int OnWalCommit(void* arg, sqlite3* db, const char* name, int pages) {
  auto& pacing = *static_cast<CheckpointPacing*>(arg);
  int due = pacing.next_at.load(std::memory_order_relaxed);
  // A log shorter than the last attempt left it has started over.
  if (pages + kCheckpointPages < due) {
    pacing.next_at.compare_exchange_strong(due, kCheckpointPages);
    due = pacing.next_at.load(std::memory_order_relaxed);
  }
  if (pages < due) return SQLITE_OK;
  // One committer makes the attempt; the others go on.
  if (!pacing.next_at.compare_exchange_strong(due, pages + kCheckpointPages)) return SQLITE_OK;
  ++pacing.attempts;
  ++g_attempts;
  // A passive checkpoint copies what no reader still needs and never waits:
  // writers go on appending to the log meanwhile, and what it could not copy
  // a later attempt does. Its result is no concern of the commit's.
  sqlite3_wal_checkpoint_v2(db, name, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
  return SQLITE_OK;
}

int64_t CheckpointAttempts() { return g_attempts.load(); }

}  // namespace platform::data::sqlite::internal
