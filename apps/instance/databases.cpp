#include "apps/instance/databases.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <map>
#include <memory>
#include <string_view>
#include <system_error>

#include "apps/instance/embedded_sql.h"
#include "apps/instance/script_sections.h"
#include "apps/instance/flag_triggers.h"
#include "apps/instance/text_rule_triggers.h"
#include "platform/core/clock.h"
#include "platform/core/com_error.h"
#include "platform/data/command.h"
#include "platform/data/connection.h"
#include "platform/data/instance_databases.h"
#include "platform/data/recordset.h"

namespace vendra_instance {

namespace {

namespace fs = std::filesystem;
using platform::Variant;
using platform::data::Connection;

constexpr const char* kSource = "vendra.databases";
constexpr int32_t kFileAlreadyExists = 58;
constexpr int kBaselineVersion = 1;

struct Migration {
  int version = 0;
  std::string name;  // "Vendra/migrations/0002_add_x.sql"
};

// The scripts of one catalog folder, read from the embedded names.
struct CatalogScripts {
  bool has_schema = false;
  std::vector<std::string> demo;                  // demo.sql, demo_*.sql, by name
  std::vector<Migration> migrations;              // by version
  std::vector<std::pair<std::string, std::string>> procedures;  // name, script
};

[[noreturn]] void Fail(int32_t number, const std::string& text) {
  platform::Raise(number, kSource, text);
}

// "0002_add_x.sql" -> 2; 0 when the name does not start with a number and "_".
int MigrationNumber(std::string_view file) {
  int number = 0;
  const auto [end, ec] = std::from_chars(file.data(), file.data() + file.size(), number);
  if (ec != std::errc() || end == file.data() || end == file.data() + file.size() || *end != '_')
    return 0;
  return number;
}

std::map<std::string, CatalogScripts> ReadCatalogs() {
  std::map<std::string, CatalogScripts> catalogs;
  for (std::string_view name : EmbeddedSqlNames()) {
    const size_t slash = name.find('/');
    if (slash == std::string_view::npos) continue;  // a loose script belongs to no catalog
    const std::string catalog(name.substr(0, slash));
    const std::string_view rest = name.substr(slash + 1);
    CatalogScripts& scripts = catalogs[catalog];
    if (rest == "schema.sql") {
      scripts.has_schema = true;
    } else if (rest == "demo.sql" ||
               (rest.starts_with("demo_") && rest.ends_with(".sql") &&
                rest.find('/') == std::string_view::npos)) {
      scripts.demo.emplace_back(name);
    } else if (rest.starts_with("migrations/")) {
      const std::string_view file = rest.substr(std::string_view("migrations/").size());
      const int version = MigrationNumber(file);
      if (version <= kBaselineVersion || file.find('/') != std::string_view::npos) {
        Fail(platform::err::kInvalidProcedureCall,
             "The migration " + std::string(name) +
                 " is not named NNNN_<what>.sql with NNNN the version it brings the "
                 "database to (2 or more)");
      }
      scripts.migrations.push_back({version, std::string(name)});
    } else if (rest.starts_with("procedures/")) {
      std::string_view file = rest.substr(std::string_view("procedures/").size());
      if (file.size() > 4 && file.ends_with(".sql") && file.find('/') == std::string_view::npos) {
        file.remove_suffix(4);
        scripts.procedures.emplace_back(std::string(file), std::string(name));
      }
    }
  }
  for (auto& [catalog, scripts] : catalogs) {
    std::sort(scripts.demo.begin(), scripts.demo.end());
    auto& m = scripts.migrations;
    std::sort(m.begin(), m.end(),
              [](const Migration& a, const Migration& b) { return a.version < b.version; });
    // A gap or a twin would skip or repeat a change on some instance.
    for (size_t i = 0; i < m.size(); ++i) {
      const int expected = kBaselineVersion + 1 + static_cast<int>(i);
      if (m[i].version != expected) {
        Fail(platform::err::kInvalidProcedureCall,
             "The migrations of " + catalog + " must be numbered " + std::to_string(expected) +
                 ", " + std::to_string(expected + 1) + ", ... without gaps or twins; found " +
                 m[i].name);
      }
    }
  }
  return catalogs;
}

fs::path DataDirectory(const fs::path& home) {
  return fs::absolute(home).lexically_normal() / "data";
}

std::string ConnectionStringFor(const fs::path& data_dir, const std::string& catalog) {
  const std::string dir = data_dir.string();
  // The connection string has no quoting: a ";" would end the Data Source.
  if (dir.find(';') != std::string::npos) {
    Fail(platform::err::kInvalidProcedureCall,
         "The instance path '" + dir + "' holds a ';', which a connection string cannot carry");
  }
  return "Provider=SQLite;Data Source=" + dir + ";Initial Catalog=" + catalog;
}

fs::path DatabaseFile(const fs::path& data_dir, const std::string& catalog) {
  return data_dir / (catalog + ".db");
}

void RemoveDatabaseFiles(const fs::path& file) {
  platform::data::ReleasePooledSessions(file);
  std::error_code ignored;
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    fs::path part = file;
    part += suffix;
    fs::remove(part, ignored);
  }
}

// The catalogs the instance keeps on a server (platform.xml), by name.
std::map<std::string, std::string> ServerDatabases(const fs::path& home) {
  return platform::data::ReadInstanceDatabases(fs::absolute(home).lexically_normal() /
                                               "platform.xml");
}

// Whether a server database can be opened (it exists and is reachable).
bool ServerDatabaseOpens(const std::string& cs) {
  try {
    auto connection = std::make_shared<Connection>();
    connection->Open(cs);
    connection->Close();
    return true;
  } catch (...) {
    return false;
  }
}

// Drops a server database this run created (the server's "postgres"
// database is the one to connect to for that).
void DropServerDatabase(const std::string& cs) {
  try {
    auto settings = platform::data::ConnectionSettings::Parse(cs);
    const std::string name = settings.catalog();
    for (char c : name)
      if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return;
    std::string maintenance = cs;
    maintenance.replace(maintenance.find("Initial Catalog=" + name),
                        std::string("Initial Catalog=" + name).size(), "Initial Catalog=postgres");
    platform::data::ReleasePooledSessions();
    auto connection = std::make_shared<Connection>();
    connection->Open(maintenance);
    connection->Execute("DROP DATABASE IF EXISTS " + name + " WITH (FORCE)");
    connection->Close();
  } catch (...) {
    // Nothing more to undo; the failure that got here is the one to report.
  }
}

void EnsureVersionTable(Connection& connection) {
  connection.Execute(
      "CREATE TABLE IF NOT EXISTS SCHEMAVERSION ("
      "VERSION INT NOT NULL PRIMARY KEY, "
      "SCRIPT NVARCHAR(200) NOT NULL COLLATE NOCASE, "
      "APPLIED DATETIME NOT NULL)");
}

void RecordVersion(Connection& connection, int version, const std::string& script) {
  connection.Execute("INSERT INTO SCHEMAVERSION (VERSION, SCRIPT, APPLIED) VALUES (?, ?, ?)",
                     {Variant(static_cast<int32_t>(version)), Variant(script),
                      Variant(platform::Clock::Now())});
}

int VersionOf(Connection& connection) {
  auto tables = connection.OpenSchema(
      platform::data::adSchemaTables,
      Variant(platform::VariantArray{Variant(), Variant(), Variant("SCHEMAVERSION")}));
  if (!tables || tables->Eof()) return 0;
  auto rs = connection.Execute("SELECT MAX(VERSION) AS LATEST FROM SCHEMAVERSION");
  if (!rs || rs->Eof()) return 0;
  const Variant latest = rs->Value("LATEST");
  return latest.IsMissing() ? 0 : latest.ToLong();
}

// Runs one script of the catalog, naming it in the failure.
void RunScript(Connection& connection, const std::string& name) {
  try {
    const std::string text =
        ScriptForDriver(EmbeddedSql(name), DriverOf(connection.ConnectionString()));
    platform::data::ExecuteScript(connection, text);
  } catch (...) {
    const platform::ComError e = platform::CurrentError();
    platform::Raise(e.number(), e.source().empty() ? kSource : e.source(),
                    "db/" + name + " failed: " + e.description());
  }
}

// Applies the migrations after `from`, each with its version row.
void ApplyMigrations(Connection& connection, const CatalogScripts& scripts, int from,
                     std::vector<std::string>* applied) {
  for (const Migration& m : scripts.migrations) {
    if (m.version <= from) continue;
    platform::data::Transaction tx(connection);
    RunScript(connection, m.name);
    RecordVersion(connection, m.version, m.name);
    tx.Commit();
    if (applied) applied->push_back(m.name);
  }
}

// Creates one catalog's database: schema, migrations and demo rows in one
// transaction. The caller removes the file if this fails.
void CreateCatalog(const std::string& cs, const std::string& catalog,
                   const CatalogScripts& scripts, bool demo) {
  platform::data::CreateDatabaseFile(cs);
  auto connection = std::make_shared<Connection>();
  connection->Open(cs);
  {
    platform::data::Transaction tx(*connection);
    EnsureVersionTable(*connection);
    const std::string schema = catalog + "/schema.sql";
    RunScript(*connection, schema);
    RecordVersion(*connection, kBaselineVersion, schema);
    for (const Migration& m : scripts.migrations) {
      RunScript(*connection, m.name);
      RecordVersion(*connection, m.version, m.name);
    }
    // Before the demo rows, so they are held to the same rules as any write.
    // PostgreSQL's own types hold these rules (length-checked domains, no NUL).
    if (DriverOf(cs) == ScriptDriver::kSqlite)
      WriteTextRuleTriggers(*connection);
    else
      WriteFlagTriggers(*connection);
    if (demo)
      for (const std::string& script : scripts.demo) RunScript(*connection, script);
    tx.Commit();
  }
  connection->Close();
}

}  // namespace

std::vector<std::string> EmbeddedCatalogs() {
  std::vector<std::string> names;
  for (const auto& [catalog, scripts] : ReadCatalogs())
    if (scripts.has_schema) names.push_back(catalog);
  return names;
}

int LatestSchemaVersion(const std::string& catalog) {
  const auto catalogs = ReadCatalogs();
  const auto it = catalogs.find(catalog);
  if (it == catalogs.end() || !it->second.has_schema) return 0;
  return kBaselineVersion + static_cast<int>(it->second.migrations.size());
}

int RecordedSchemaVersion(const fs::path& database_file) {
  const fs::path file = fs::absolute(database_file).lexically_normal();
  std::string catalog = file.stem().string();
  auto connection = std::make_shared<Connection>();
  connection->Open(ConnectionStringFor(file.parent_path(), catalog));
  const int version = VersionOf(*connection);
  connection->Close();
  return version;
}

void CreateDatabases(const fs::path& home, bool demo) {
  const fs::path data_dir = DataDirectory(home);
  const auto catalogs = ReadCatalogs();
  const auto servers = ServerDatabases(home);
  // Refuse before creating anything: somebody's data is never overwritten.
  for (const auto& [catalog, scripts] : catalogs) {
    if (!scripts.has_schema) continue;
    if (const auto it = servers.find(catalog); it != servers.end()) {
      if (ServerDatabaseOpens(it->second)) {
        Fail(kFileAlreadyExists, "The database '" +
                                     platform::data::ConnectionSettings::Parse(it->second).catalog() +
                                     "' exists already on the server; an instance's databases are "
                                     "upgraded with the migrations, never created over");
      }
      continue;
    }
    std::error_code ec;
    const fs::path file = DatabaseFile(data_dir, catalog);
    if (fs::exists(file, ec)) {
      Fail(kFileAlreadyExists, "The database '" + file.string() +
                                   "' exists already; an instance's databases are upgraded "
                                   "with the migrations, never created over");
    }
  }
  std::vector<fs::path> created;
  std::vector<std::string> created_on_server;
  try {
    for (const auto& [catalog, scripts] : catalogs) {
      if (!scripts.has_schema) continue;
      if (const auto it = servers.find(catalog); it != servers.end()) {
        created_on_server.push_back(it->second);
        CreateCatalog(it->second, catalog, scripts, demo);
        continue;
      }
      created.push_back(DatabaseFile(data_dir, catalog));
      CreateCatalog(ConnectionStringFor(data_dir, catalog), catalog, scripts, demo);
    }
  } catch (...) {
    for (const fs::path& file : created) RemoveDatabaseFiles(file);
    for (const std::string& cs : created_on_server) DropServerDatabase(cs);
    throw;
  }
}

std::vector<std::string> MigrateDatabases(const fs::path& home) {
  const fs::path data_dir = DataDirectory(home);
  const auto servers = ServerDatabases(home);
  std::vector<std::string> applied;
  for (const auto& [catalog, scripts] : ReadCatalogs()) {
    if (!scripts.has_schema) continue;
    const fs::path file = DatabaseFile(data_dir, catalog);
    const auto server = servers.find(catalog);
    const std::string cs =
        server != servers.end() ? server->second : ConnectionStringFor(data_dir, catalog);
    std::error_code ec;
    if (server != servers.end() ? !ServerDatabaseOpens(cs) : !fs::exists(file, ec)) {
      // A catalog this instance has not had yet: created like a new one.
      try {
        CreateCatalog(cs, catalog, scripts, false);
      } catch (...) {
        if (server != servers.end()) {
          DropServerDatabase(cs);
        } else {
          RemoveDatabaseFiles(file);
        }
        throw;
      }
      applied.push_back(catalog + "/schema.sql");
      for (const Migration& m : scripts.migrations) applied.push_back(m.name);
      continue;
    }
    auto connection = std::make_shared<Connection>();
    connection->Open(cs);
    int version = VersionOf(*connection);
    if (version == 0) {
      // Made before versions were recorded: it holds the baseline schema.
      platform::data::Transaction tx(*connection);
      EnsureVersionTable(*connection);
      RecordVersion(*connection, kBaselineVersion, catalog + "/schema.sql");
      tx.Commit();
      version = kBaselineVersion;
    }
    const int latest = kBaselineVersion + static_cast<int>(scripts.migrations.size());
    if (version > latest) {
      Fail(platform::err::kInvalidProcedureCall,
           "The database '" + file.string() + "' is at schema version " +
               std::to_string(version) + ", newer than this program knows (" +
               std::to_string(latest) + "); use the newer program");
    }
    ApplyMigrations(*connection, scripts, version, &applied);
    // Also when nothing was applied: an instance made before the rules were
    // generated gets them, and a schema the rules do not match yet is caught up.
    {
      platform::data::Transaction tx(*connection);
      if (DriverOf(connection->ConnectionString()) == ScriptDriver::kSqlite)
        WriteTextRuleTriggers(*connection);
      else
        WriteFlagTriggers(*connection);
      tx.Commit();
    }
    connection->Close();
  }
  return applied;
}

void DropServerDatabases(const fs::path& home) {
  for (const auto& [catalog, cs] : ServerDatabases(home)) DropServerDatabase(cs);
}

void RegisterStoredProcedures() {
  for (const auto& [catalog, scripts] : ReadCatalogs())
    for (const auto& [procedure, script] : scripts.procedures)
      platform::data::RegisterStoredProcedure(catalog, procedure,
                                              std::string(EmbeddedSql(script)));
}

}  // namespace vendra_instance
