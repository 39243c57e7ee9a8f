#include "platform/data/instance_databases.h"

#include <cctype>
#include <mutex>
#include <pugixml.hpp>
#include <system_error>

#include "platform/host/instance.h"

namespace platform::data {

namespace {

std::string Fold(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

struct Cache {
  std::mutex mutex;
  bool loaded = false;
  std::filesystem::path home;
  std::map<std::string, std::string> by_catalog;  // folded catalog -> connection string
};

Cache& TheCache() {
  static Cache cache;
  return cache;
}

}  // namespace

std::map<std::string, std::string> ReadInstanceDatabases(const std::filesystem::path& platform_file) {
  std::map<std::string, std::string> out;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(platform_file, ec)) return out;
  pugi::xml_document doc;
  if (!doc.load_file(platform_file.c_str())) return out;
  for (pugi::xml_node db : doc.child("platform").child("databases").children("database")) {
    const std::string catalog = db.attribute("catalog").value();
    const std::string cs = db.attribute("connectionstring").value();
    if (!catalog.empty() && !cs.empty()) out[catalog] = cs;
  }
  return out;
}

bool InstanceDatabaseFor(const ConnectionSettings& settings, std::string* connection_string) {
  const std::string provider = Fold(settings.provider());
  if (provider != "SQLITE" && provider != "SQLITE3") return false;
  std::filesystem::path home;
  if (InstanceHome::IsSet()) {
    home = InstanceHome::Get();
  } else {
    // A program run without an instance home (prodloader, dtsrun) names the
    // instance's data folder by its full path: the instance is the folder
    // above it, when that holds a platform.xml.
    std::filesystem::path folder = std::filesystem::path(settings.data_source()).lexically_normal();
    if (!folder.is_absolute()) return false;
    if (!folder.has_filename()) folder = folder.parent_path();
    if (folder.filename() != "data") return false;
    home = folder.parent_path();
    std::error_code ec;
    if (!std::filesystem::exists(home / "platform.xml", ec)) return false;
  }
  Cache& cache = TheCache();
  std::lock_guard lock(cache.mutex);
  if (!cache.loaded || cache.home != home) {
    cache.by_catalog.clear();
    for (auto& [catalog, cs] : ReadInstanceDatabases(home / "platform.xml"))
      cache.by_catalog[Fold(catalog)] = std::move(cs);
    cache.home = home;
    cache.loaded = true;
  }
  if (cache.by_catalog.empty()) return false;
  const auto it = cache.by_catalog.find(Fold(settings.catalog()));
  if (it == cache.by_catalog.end()) return false;
  // Only the instance's own data folder: a file elsewhere stays a file.
  const std::string source = settings.data_source();
  if (source != "data") {
    const std::filesystem::path folder =
        (std::filesystem::path(source).is_absolute() ? std::filesystem::path(source) : home / source)
            .lexically_normal();
    if (folder != (home / "data").lexically_normal() &&
        folder != (home / "data" / "").lexically_normal())
      return false;
  }
  *connection_string = it->second;
  return true;
}

void ForgetInstanceDatabases() {
  Cache& cache = TheCache();
  std::lock_guard lock(cache.mutex);
  cache.loaded = false;
  cache.by_catalog.clear();
}

}  // namespace platform::data
