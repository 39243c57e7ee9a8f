// What the files of the SQLite driver share: the pooled handle and the way
// an engine failure is raised as a DatabaseError. Internal to the driver;
// nothing outside platform/data/sqlite includes it.
//
// Thread-safety: a Handle is used by one thread at a time (the session that
// holds it, or the pool under its lock); the raise functions keep no state.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/data/sqlite/statement_cache.h"

namespace platform::data::sqlite::internal {

[[noreturn]] void RaiseEngine(int rc, std::string message);
[[noreturn]] void RaiseFrom(sqlite3* db, int rc);

struct Handle {
  sqlite3* db = nullptr;
  std::string file;
  uint64_t generation = 0;
  std::chrono::steady_clock::time_point busy_since;  // when the current wait for a lock began
  // Compiled statements by canonical text or shape; lru holds their keys,
  // most recently used first.
  std::unordered_map<std::string, std::unique_ptr<CachedStatement>, TextHash, std::equal_to<>> statements;
  std::list<const std::string*> lru;
  // "SELECT CAST(?1 AS REAL)": reads a real literal the way the engine's
  // parser does (both go through the same conversion), and what it read.
  sqlite3_stmt* real_reader = nullptr;
  std::unordered_map<std::string, double> reals;
  // The text of the date last bound to each parameter position, bound in
  // place (see BindOne).
  struct DateText {
    double serial = 0;
    std::string iso;
  };
  std::vector<DateText> date_texts;
  // The statement found or compiled last (the front of lru), so a loop
  // running one statement skips the hash of its text.
  CachedStatement* last = nullptr;
  const std::string* last_key = nullptr;

  ~Handle() {
    for (auto& [text, s] : statements) sqlite3_finalize(s->stmt);
    sqlite3_finalize(real_reader);
    if (db) sqlite3_close_v2(db);
  }
};

}  // namespace platform::data::sqlite::internal
