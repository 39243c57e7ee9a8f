#include "platform/erp/catalog_cache.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <list>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>

#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/data/transaction_scope.h"
#include "platform/erp/components.h"
#include "platform/host/instance.h"

namespace platform::erp {

namespace {

// One state of the catalog: two reads that give equal states saw the same
// committed data.
struct CatalogState {
  std::string home;
  dev_t device = 0;
  ino_t inode = 0;
  // The file's change time: a file made anew in the same place may get a
  // freed inode number again, but not the same change time.
  int64_t changed_sec = 0, changed_nsec = 0;
  int64_t data_version = 0;
  bool operator==(const CatalogState&) const = default;
};

// The state a Pin read, for the Gets of its thread: engaged while a pin
// lives; an empty state inside means the pin found nothing may be kept.
struct PinnedState {
  bool active = false;
  std::optional<CatalogState> state;
};
thread_local PinnedState pinned;

bool Disabled() {
  const char* v = std::getenv("VENDRA_ERP_CACHE");
  return v && std::strcmp(v, "0") == 0;
}

}  // namespace

struct CatalogCache::State {
  struct Entry {
    std::string key;
    std::shared_ptr<const void> value;
    size_t weight = 0;
  };

  mutable std::mutex mutex;
  // The connection the state is read on; it never writes, so every commit
  // to the file is another connection's and moves data_version.
  std::shared_ptr<data::Connection> watcher;
  std::string watcher_home;
  dev_t watcher_device = 0;
  ino_t watcher_inode = 0;
  int64_t watcher_changed_sec = 0, watcher_changed_nsec = 0;
  bool watcher_unusable = false;  // this home's catalog is no SQLite file
  std::string file_home, file;    // the catalog's file in that home

  std::optional<CatalogState> kept_state;  // the state the entries belong to
  std::list<Entry> entries;                // most recently used first
  std::unordered_map<std::string, std::list<Entry>::iterator> by_key;
  size_t weight = 0;
  Stats stats;

  void Clear() {
    if (!entries.empty()) ++stats.invalidations;
    entries.clear();
    by_key.clear();
    weight = 0;
  }

  // The catalog's state now, or nullopt when values cannot be kept. Called
  // under the lock.
  std::optional<CatalogState> Read() {
    if (Disabled() || data::TransactionScope::Current() != nullptr || !InstanceHome::IsSet())
      return std::nullopt;
    CatalogState s;
    s.home = InstanceHome::Get().string();
    if (s.home != file_home) {
      file_home = s.home;
      file = (InstanceHome::Get() / "data" / "Gantrel.db").string();
    }
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return std::nullopt;
    s.device = st.st_dev;
    s.inode = st.st_ino;
    s.changed_sec = st.st_ctim.tv_sec;
    s.changed_nsec = st.st_ctim.tv_nsec;
    // Another file (or the same one written by a checkpoint) is watched on
    // a connection opened anew.
    if (!watcher || watcher_home != s.home || watcher_device != s.device ||
        watcher_inode != s.inode || watcher_changed_sec != s.changed_sec ||
        watcher_changed_nsec != s.changed_nsec) {
      watcher.reset();
      watcher_unusable = false;
      watcher_home = s.home;
      watcher_device = s.device;
      watcher_inode = s.inode;
      watcher_changed_sec = s.changed_sec;
      watcher_changed_nsec = s.changed_nsec;
      try {
        watcher = OpenErpDatabase();
      } catch (...) {
        watcher_unusable = true;
      }
    }
    if (watcher_unusable) return std::nullopt;
    try {
      auto rs = watcher->Execute("PRAGMA data_version");
      if (!rs || rs->Eof()) return std::nullopt;
      s.data_version = rs->ValueAt(0).ToLong();
    } catch (...) {
      // Not SQLite (an instance keeping its catalogs on a server), or the
      // file went away: nothing is kept for this home.
      watcher.reset();
      watcher_unusable = true;
      return std::nullopt;
    }
    return s;
  }

  void Put(const std::string& key, std::shared_ptr<const void> value, size_t w) {
    if (auto it = by_key.find(key); it != by_key.end()) {
      weight -= it->second->weight;
      entries.erase(it->second);
      by_key.erase(it);
    }
    if (w > kMaxWeight) return;
    entries.push_front(Entry{key, std::move(value), w});
    by_key.emplace(key, entries.begin());
    weight += w;
    while (entries.size() > kMaxEntries || weight > kMaxWeight) {
      weight -= entries.back().weight;
      by_key.erase(entries.back().key);
      entries.pop_back();
    }
  }
};

CatalogCache::CatalogCache() : state_(std::make_unique<State>()) {}

CatalogCache& CatalogCache::Instance() {
  // Never destroyed: its connection must not outlive the data layer's
  // driver at exit.
  static CatalogCache* const cache = new CatalogCache();
  return *cache;
}

CatalogCache::Pin::Pin() {
  if (pinned.active) return;
  outermost_ = true;
  State& s = *Instance().state_;
  std::lock_guard lock(s.mutex);
  pinned.state = s.Read();
  if (pinned.state && s.kept_state != pinned.state) {
    s.Clear();
    s.kept_state = pinned.state;
  }
  pinned.active = true;
}

CatalogCache::Pin::~Pin() {
  if (!outermost_) return;
  pinned.active = false;
  pinned.state.reset();
}

std::shared_ptr<const void> CatalogCache::Get(const std::string& key, const Maker& make) {
  std::optional<CatalogState> before;
  {
    std::lock_guard lock(state_->mutex);
    if (pinned.active) {
      // The pin's state; entries of another state (another thread has read
      // a later one since) are neither used nor added to.
      before = pinned.state;
      if (before && state_->kept_state != before) before.reset();
    } else {
      before = state_->Read();
      if (before && state_->kept_state != before) {
        state_->Clear();
        state_->kept_state = before;
      }
    }
    if (!before) {
      ++state_->stats.bypassed;
    } else {
      if (auto it = state_->by_key.find(key); it != state_->by_key.end()) {
        ++state_->stats.hits;
        state_->entries.splice(state_->entries.begin(), state_->entries, it->second);
        return it->second->value;
      }
      ++state_->stats.misses;
    }
  }
  size_t weight = 1;
  std::shared_ptr<const void> value = make(&weight);
  if (!before || !value) return value;
  std::lock_guard lock(state_->mutex);
  // Kept only if the entries still belong to the state read before the value
  // was built: a later commit has moved data_version past it, and the next
  // read drops the value then.
  if (state_->kept_state == before) state_->Put(key, value, weight);
  return value;
}

void CatalogCache::Forget() {
  std::lock_guard lock(state_->mutex);
  state_->Clear();
  state_->kept_state.reset();
}

CatalogCache::Stats CatalogCache::stats() const {
  std::lock_guard lock(state_->mutex);
  Stats s = state_->stats;
  s.entries = state_->entries.size();
  s.weight = state_->weight;
  return s;
}

}  // namespace platform::erp
