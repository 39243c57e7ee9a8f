// The per-handle statement cache: compiled statements kept by canonical text
// or shape, bounded by a capacity shared by all handles and evicted least
// recently used first, with counts of compiles and hits.
//
// Thread-safety: a cache belongs to its handle and is used by the one thread
// that holds the handle; the capacity and the counters may be read and set
// from any thread.
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <string_view>
#include <vector>

#include "platform/data/driver.h"

namespace platform::data::sqlite::internal {

struct Handle;

struct CachedStatement {
  sqlite3_stmt* stmt = nullptr;
  bool in_use = false;
  std::list<const std::string*>::iterator lru;  // its place in the handle's use order
  // Field descriptions of a row-returning statement, made on first use.
  uint64_t described_epoch = 0;
  std::vector<FieldInfo> fields;
  std::string table;
  bool changes_schema = false;
  size_t last_row_count = 0;  // how many rows the last run read: room to reserve
};

// Lets the statement cache be searched with a string_view, without a copy.
struct TextHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

// The cached statement of a key, made the most recently used; nullptr if none.
CachedStatement* Find(Handle& h, std::string_view key);

// Compiles text and keeps it under key, making room first.
CachedStatement& Compile(Handle& h, std::string key, const std::string& text);

// Finalizes the least recently used statement not running now.
bool EvictLeastRecentlyUsed(Handle& h);

}  // namespace platform::data::sqlite::internal
