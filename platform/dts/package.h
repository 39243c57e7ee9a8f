// Package is the data-transformation package: the settings, global
// variables, connections, steps (with their precedence) and tasks that a
// program such as prodloader builds and the package store keeps. It is plain
// data: building one touches nothing; PackageRunner runs it.
//
// SQL connections point at a catalog of a database server; here a server is
// an instance's data directory and a catalog one database file in it
// ("<DataSource>/<Catalog>.db"). Flat-file connections point at an export
// file and carry the properties of its format ("Row Delimiter", "Column
// Delimiter", "Text Qualifier", "Skip Rows", ...), whose columns are named
// Col001, Col002, ... in file order.
//
// Thread-safety: a value type; copies may be used on different threads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform::dts {

// A provider property, as its text ("True", "1033", "\r\n").
struct Property {
  std::string name;
  std::string value;
};

struct GlobalVariable {
  std::string name;
  std::string value;  // the initial value; scripts may replace it while the package runs
};

// Provider names of the two kinds of connection.
inline constexpr char kFlatFileProvider[] = "DTSFlatFile";

struct Connection {
  int32_t id = 0;
  std::string name;
  std::string provider;     // "SQLOLEDB.1", "SQLOLEDB" or kFlatFileProvider
  std::string data_source;  // the server (a data directory) or the flat file
  std::string catalog;      // SQL connections: the initial catalog
  std::string user_id;
  std::string password;
  bool trusted = false;
  bool reusable = true;
  bool connect_immediate = false;
  int32_t connection_timeout = 60;
  std::vector<Property> properties;

  bool IsFlatFile() const { return provider == kFlatFileProvider; }
  // The property's text; empty when it is not set.
  std::string Get(const std::string& property) const;
  void Set(const std::string& property, std::string value);
};

enum class PrecedenceBasis { kCompletion, kSuccess, kFailure };

struct Precedence {
  std::string step;  // the step that must have run first
  PrecedenceBasis basis = PrecedenceBasis::kCompletion;
};

struct Step {
  std::string name;
  std::string description;
  std::string task_name;
  std::string script_language = "VBScript";
  bool add_global_variables = true;
  int32_t relative_priority = 3;
  bool join_transaction = false;
  bool fail_package_on_error = false;
  std::vector<Precedence> precedence;
};

enum class TaskKind { kActiveScript, kDataDrivenQuery, kExecuteSql };

// A named lookup of a data-driven-query task: a query with "?" parameters on
// one of the package's SQL connections.
struct Lookup {
  std::string name;
  int32_t connection_id = 0;
  std::string sql;
  int32_t max_cache_rows = 0;
};

struct Task {
  std::string name;
  std::string description;
  TaskKind kind = TaskKind::kActiveScript;

  // Script tasks and the transformation of a data-driven-query task: code
  // in the package's script language and the function run (once per row).
  std::string script_language = "Lua";
  std::string script;
  std::string function_name = "Main";

  // Execute-SQL tasks.
  int32_t connection_id = 0;
  std::string sql;
  int32_t command_timeout = 0;

  // Data-driven-query tasks. A source connection that is a flat file gives
  // its rows; a SQL one gives the rows of source_object (a table) with the
  // source_columns, read in order of source_key, fetch_buffer_size at a time.
  int32_t source_connection_id = 0;
  std::string source_object;
  std::vector<std::string> source_columns;
  std::string source_key;
  int32_t destination_connection_id = 0;
  std::string destination_object;
  std::string insert_sql;
  std::vector<std::string> insert_columns;
  std::string update_sql;
  std::vector<std::string> update_columns;
  std::vector<Lookup> lookups;
  int32_t progress_row_count = 1000;
  int32_t maximum_error_count = 9999;
  int32_t fetch_buffer_size = 1;
  int64_t first_row = 0;  // 0: from the first
  int64_t last_row = 0;   // 0: to the last
  std::string exception_file;
  std::string exception_column_delimiter = "|";
  std::string exception_row_delimiter = "\r\n";
};

struct Package {
  std::string name;
  std::string description;
  std::string log_file_name;
  int32_t priority_class = 2;
  int32_t max_concurrent_steps = 4;
  bool use_transaction = true;
  int32_t transaction_isolation_level = 4096;
  bool auto_commit_transaction = true;
  bool fail_on_error = false;
  bool write_completion_status_to_nt_event_log = false;
  bool log_to_sql_server = false;
  std::vector<GlobalVariable> global_variables;
  std::vector<Connection> connections;
  std::vector<Step> steps;
  std::vector<Task> tasks;

  const Connection* FindConnection(int32_t id) const;
  const Task* FindTask(const std::string& name) const;
  const Step* FindStep(const std::string& name) const;

  // The package as one JSON text, and back. FromJson raises 13 for a text
  // that is not a package.
  std::string ToJson() const;
  static Package FromJson(const std::string& text);
};

}  // namespace platform::dts
