// CatalogCache keeps what the simulated ERP built from its catalog
// (data/Gantrel.db) -- the documents of a sales order, the instance records
// -- for as long as the catalog has not changed, so a page that shows the
// same invoice again does not make the ERP read and assemble it again.
//
// Every entry belongs to one state of the catalog: a value is handed back
// only while
//   - the instance home is the one it was built in,
//   - data/Gantrel.db is still the same file (device, inode and change
//     time: a file made anew, or written by a checkpoint, counts as
//     another), and
//   - "PRAGMA data_version" on the cache's own connection, which never
//     writes, answers what it answered before the value was built. SQLite
//     changes that number whenever any other connection commits to the
//     file: a shipment or invoice of this process (its connections are
//     others), of `vendra erp` in another process, of the sqlite3 shell.
// On any change every entry is dropped. The state is read before a value
// is built, so a write that commits while it is being built also drops it.
//
// Nothing is kept (each call builds) while a TransactionScope is open on
// the calling thread (its uncommitted writes may still be rolled back), when
// the catalog is not a SQLite file (an instance keeping it on a server), or
// with VENDRA_ERP_CACHE=0.
//
// A caller that makes several reads for one answer (Lookups: the instance,
// the business component, the document) holds a CatalogCache::Pin around
// them: the state is read once, and the reads of that thread take it as
// the state for as long as the pin lives, so the answer is made of one
// state of the catalog and the check is paid once.
//
// Values are immutable once kept (shared between callers). The cache is
// bounded: at most kMaxEntries values and kMaxWeight in weight (lines),
// the least recently used going first.
//
// Thread-safety: any thread; one lock around the state check and the table.
// Values are built outside the lock, so two threads may build the same one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform::erp {

class CatalogCache {
 public:
  static constexpr size_t kMaxEntries = 256;
  static constexpr size_t kMaxWeight = 20000;

  // The process-wide cache.
  static CatalogCache& Instance();

  // The value kept under key for the catalog's present state, or make()'s,
  // kept with the given weight when make answers one (nullptr is not kept).
  using Maker = std::function<std::shared_ptr<const void>(size_t* weight)>;
  std::shared_ptr<const void> Get(const std::string& key, const Maker& make);

  template <class T, class Make>
  std::shared_ptr<const T> Get(const std::string& key, Make make) {
    return std::static_pointer_cast<const T>(
        Get(key, Maker([&](size_t* weight) -> std::shared_ptr<const void> { return make(weight); })));
  }

  // While it lives, Get on this thread takes the state read when it was made
  // instead of reading it again. Pins nest (the outermost one counts).
  class Pin {
   public:
    Pin();
    ~Pin();
    Pin(const Pin&) = delete;
    Pin& operator=(const Pin&) = delete;

   private:
    bool outermost_ = false;
  };

  // Drops every value (the next read builds anew).
  void Forget();

  struct Stats {
    uint64_t hits = 0, misses = 0, bypassed = 0, invalidations = 0;
    size_t entries = 0, weight = 0;
  };
  Stats stats() const;

 private:
  CatalogCache();
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace platform::erp
