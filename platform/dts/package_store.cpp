#include "platform/dts/package_store.h"

#include <cstdio>
#include <memory>
#include <system_error>

#include "platform/core/clock.h"
#include "platform/core/com_error.h"
#include "platform/core/guid.h"
#include "platform/data/connection.h"
#include "platform/data/instance_databases.h"
#include "platform/data/recordset.h"

namespace platform::dts {

namespace {

namespace fs = std::filesystem;
constexpr char kSource[] = "DTS.PackageStore";

constexpr char kCreateTable[] =
    "CREATE TABLE IF NOT EXISTS SYSDTSPACKAGES ("
    "SEQUENCE INTEGER PRIMARY KEY, "
    "NAME NVARCHAR(128) NOT NULL COLLATE NOCASE, "
    "VERSIONID NVARCHAR(38) NOT NULL, "
    "DESCRIPTION NVARCHAR(255), "
    "CREATEDATE DATETIME NOT NULL, "
    "OWNER NVARCHAR(128), "
    "PACKAGEDATA NTEXT NOT NULL)";

std::string GuidText() {
  const auto g = NewGuid();
  if (!g) Raise(err::kUnspecified, kSource, "The system gives no randomness for a version id");
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g->data1,
                g->data2, g->data3, g->data4[0], g->data4[1], g->data4[2], g->data4[3],
                g->data4[4], g->data4[5], g->data4[6], g->data4[7]);
  return text;
}

bool StoreExists(const fs::path& server) {
  // An instance that keeps its databases on a server lists the store there;
  // it is made on first use, as the file is.
  std::string listed;
  if (data::InstanceDatabaseFor(
          data::ConnectionSettings::Parse("Provider=SQLite;Data Source=" + server.string() +
                                          ";Initial Catalog=" + kStoreCatalog),
          &listed)) {
    data::CreateDatabaseFile(listed);
    return true;
  }
  std::error_code ec;
  return fs::exists(server / (std::string(kStoreCatalog) + ".db"), ec);
}

}  // namespace

PackageStore::PackageStore(fs::path server) {
  std::error_code ec;
  if (server.empty() || !fs::is_directory(server, ec)) {
    Raise(store_err::kServerNotFound, kSource,
          "The database server '" + server.string() +
              "' does not exist: it must be an instance's data directory");
  }
  server_ = fs::absolute(server).lexically_normal();
  if (server_.has_filename() == false) server_ = server_.parent_path();
  if (server_.string().find(';') != std::string::npos) {
    Raise(store_err::kServerNotFound, kSource,
          "The database server '" + server_.string() + "' holds a ';', which a connection "
          "string cannot carry");
  }
}

std::string PackageStore::ConnectionString() const {
  return "Provider=SQLite;Data Source=" + server_.string() + ";Initial Catalog=" + kStoreCatalog;
}

PackageVersion PackageStore::Save(const Package& package, const std::string& user,
                                  const std::string& password) {
  if (package.name.empty())
    Raise(err::kInvalidProcedureCall, kSource, "A package is stored under its name; it has none");
  PackageVersion version;
  version.name = package.name;
  version.version_id = GuidText();
  version.created = Clock::Now();
  version.description = package.description;
  const std::string data = package.ToJson();

  data::CreateDatabaseFile(ConnectionString());
  auto connection = std::make_shared<data::Connection>();
  connection->Open(ConnectionString());
  {
    data::Transaction tx(*connection);
    connection->Execute(kCreateTable);
    connection->Execute(
        "INSERT INTO SYSDTSPACKAGES (NAME, VERSIONID, DESCRIPTION, CREATEDATE, OWNER, "
        "PACKAGEDATA) VALUES (?, ?, ?, ?, ?, ?)",
        {Variant(package.name), Variant(version.version_id), Variant(package.description),
         Variant(version.created), Variant(user), Variant(data)});
    version.sequence = connection->session().LastInsertId();
    tx.Commit();
  }
  connection->Close();
  return version;
}

Package PackageStore::LoadLatest(const std::string& name) const {
  if (StoreExists(server_)) {
    auto connection = std::make_shared<data::Connection>();
    connection->Open(ConnectionString());
    connection->Execute(kCreateTable);
    auto rs = connection->Execute(
        "SELECT TOP 1 PACKAGEDATA FROM SYSDTSPACKAGES WHERE NAME = ? ORDER BY SEQUENCE DESC",
        {Variant(name)});
    std::string data;
    const bool found = rs && !rs->Eof();
    if (found) data = rs->Value("PACKAGEDATA").ToString();
    connection->Close();
    if (found) return Package::FromJson(data);
  }
  Raise(store_err::kPackageNotFound, kSource,
        "The package '" + name + "' is not stored on the server '" + server_.string() + "'");
}

std::vector<PackageVersion> PackageStore::Versions(const std::string& name) const {
  std::vector<PackageVersion> versions;
  if (!StoreExists(server_)) return versions;
  auto connection = std::make_shared<data::Connection>();
  connection->Open(ConnectionString());
  connection->Execute(kCreateTable);
  auto rs = connection->Execute(
      "SELECT SEQUENCE, NAME, VERSIONID, DESCRIPTION, CREATEDATE FROM SYSDTSPACKAGES "
      "WHERE NAME = ? ORDER BY SEQUENCE",
      {Variant(name)});
  for (; rs && !rs->Eof(); rs->MoveNext()) {
    PackageVersion v;
    v.sequence = rs->Value("SEQUENCE").ToLong();
    v.name = rs->Value("NAME").ToString();
    v.version_id = rs->Value("VERSIONID").ToString();
    v.description = rs->Value("DESCRIPTION").IsNull() ? "" : rs->Value("DESCRIPTION").ToString();
    v.created = rs->Value("CREATEDATE").ToDate();
    versions.push_back(std::move(v));
  }
  connection->Close();
  return versions;
}

}  // namespace platform::dts
