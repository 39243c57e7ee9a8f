// PackageStore keeps packages on a database server, the way the server's
// package storage does: every save adds a version of the package under its
// name with its creation date, and a run loads the latest version. Here a
// server is an instance's data directory and the store is one catalog in it
// (kStoreCatalog, the file <server>/msdb.db), reached through platform/data
// like every other catalog.
//
// A save is one transaction: a failure stores nothing of the package.
//
// Thread-safety: a PackageStore holds only the server path; any number may
// be used at once (the database serialises writers).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/core/date.h"
#include "platform/dts/package.h"

namespace platform::dts {

inline constexpr char kStoreCatalog[] = "msdb";

// Failures of the store (source "DTS.PackageStore").
namespace store_err {
// The server (data directory) does not exist.
inline constexpr int32_t kServerNotFound = static_cast<int32_t>(0x80040400u);
// No package of that name is stored.
inline constexpr int32_t kPackageNotFound = static_cast<int32_t>(0x80040401u);
}  // namespace store_err

struct PackageVersion {
  std::string name;
  std::string version_id;  // a GUID in braces
  int64_t sequence = 0;    // the order of saving: the latest has the highest
  Date created;
  std::string description;
};

class PackageStore {
 public:
  // server: the data directory. Raises kServerNotFound when it is not a
  // directory; the store catalog is created on the first save.
  explicit PackageStore(std::filesystem::path server);

  const std::filesystem::path& server() const { return server_; }

  // Adds a version of the package under its name; returns it. user and
  // password are the login of the storing; the embedded server has no
  // logins, so they are accepted and not checked.
  PackageVersion Save(const Package& package, const std::string& user = {},
                      const std::string& password = {});

  // The latest version of the named package (names compare
  // case-insensitively); raises kPackageNotFound when there is none.
  Package LoadLatest(const std::string& name) const;

  // Every stored version of the named package, oldest first.
  std::vector<PackageVersion> Versions(const std::string& name) const;

 private:
  std::string ConnectionString() const;
  std::filesystem::path server_;
};

}  // namespace platform::dts
