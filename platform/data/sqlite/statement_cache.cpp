#include "platform/data/sqlite/statement_cache.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <memory>
#include <string>

#include "platform/data/data_util.h"
#include "platform/data/sqlite/busy_wait.h"
#include "platform/data/sqlite/checkpoint.h"
#include "platform/data/sqlite/driver_internal.h"
#include "platform/data/sqlite/sqlite_driver.h"

namespace platform::data::sqlite {

namespace internal {

namespace {

std::atomic<size_t> g_statement_capacity{256};
std::atomic<int64_t> g_compiles{0};
std::atomic<int64_t> g_hits{0};

std::string FirstWord(std::string_view sql) {
  size_t i = 0;
  while (i < sql.size()) {
    if (sql[i] == ' ' || sql[i] == '\t' || sql[i] == '\r' || sql[i] == '\n' || sql[i] == '(') {
      ++i;
    } else if (sql.compare(i, 2, "--") == 0) {
      const size_t e = sql.find('\n', i);
      i = e == std::string_view::npos ? sql.size() : e + 1;
    } else if (sql.compare(i, 2, "/*") == 0) {
      const size_t e = sql.find("*/", i + 2);
      i = e == std::string_view::npos ? sql.size() : e + 2;
    } else {
      break;
    }
  }
  size_t j = i;
  while (j < sql.size() && std::isalpha(static_cast<unsigned char>(sql[j]))) ++j;
  return detail::Upper(sql.substr(i, j - i));
}

bool ChangesSchema(std::string_view sql) {
  const std::string w = FirstWord(sql);
  return w == "CREATE" || w == "ALTER" || w == "DROP";
}

// Whether the text after a statement holds only blanks, semicolons and comments.
bool OnlyTrivia(const char* p) {
  std::string_view s(p ? p : "");
  size_t i = 0;
  while (i < s.size()) {
    const char c = s[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ';') {
      ++i;
    } else if (s.compare(i, 2, "--") == 0) {
      const size_t e = s.find('\n', i);
      i = e == std::string_view::npos ? s.size() : e + 1;
    } else if (s.compare(i, 2, "/*") == 0) {
      const size_t e = s.find("*/", i + 2);
      i = e == std::string_view::npos ? s.size() : e + 2;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

CachedStatement* Find(Handle& h, std::string_view key) {
  if (h.last && *h.last_key == key) {  // already the most recently used
    g_hits.fetch_add(1, std::memory_order_relaxed);
    return h.last;
  }
  auto it = h.statements.find(key);
  if (it == h.statements.end()) return nullptr;
  h.lru.splice(h.lru.begin(), h.lru, it->second->lru);
  g_hits.fetch_add(1, std::memory_order_relaxed);
  h.last = it->second.get();
  h.last_key = &it->first;
  return h.last;
}

CachedStatement& Compile(Handle& h, std::string key, const std::string& text) {
  sqlite3_stmt* stmt = nullptr;
  const char* tail = nullptr;
  const int rc = sqlite3_prepare_v3(h.db, text.c_str(), static_cast<int>(text.size()),
                                    SQLITE_PREPARE_PERSISTENT, &stmt, &tail);
  if (rc != SQLITE_OK) RaiseFrom(h.db, rc);
  if (!stmt) RaiseEngine(SQLITE_MISUSE, "The command text holds no statement.");
  if (!OnlyTrivia(tail)) {
    sqlite3_finalize(stmt);
    RaiseEngine(SQLITE_MISUSE,
                "The command text holds more than one statement; run scripts as scripts.");
  }
  ++g_compiles;
  const size_t capacity = std::max<size_t>(1, g_statement_capacity.load());
  while (h.statements.size() >= capacity && EvictLeastRecentlyUsed(h)) {
  }
  auto cs = std::make_unique<CachedStatement>();
  cs->stmt = stmt;
  cs->changes_schema = ChangesSchema(text);
  auto it = h.statements.emplace(std::move(key), std::move(cs)).first;
  h.lru.push_front(&it->first);
  it->second->lru = h.lru.begin();
  h.last = it->second.get();
  h.last_key = &it->first;
  return *it->second;
}

// Finalizes the least recently used statement not running now.
bool EvictLeastRecentlyUsed(Handle& h) {
  for (auto it = h.lru.end(); it != h.lru.begin();) {
    --it;
    auto found = h.statements.find(**it);
    if (found->second->in_use) continue;
    if (h.last == found->second.get()) {
      h.last = nullptr;
      h.last_key = nullptr;
    }
    sqlite3_finalize(found->second->stmt);
    h.lru.erase(it);
    h.statements.erase(found);
    return true;
  }
  return false;
}

}  // namespace internal

void SetStatementCacheCapacity(size_t capacity) {
  internal::g_statement_capacity = std::max<size_t>(1, capacity);
}
size_t StatementCacheCapacity() { return internal::g_statement_capacity.load(); }

StatementCacheStats CacheStats() {
  return StatementCacheStats{internal::g_compiles.load(), internal::g_hits.load(), internal::BusyRetries(),
                             internal::CheckpointAttempts()};
}

}  // namespace platform::data::sqlite
