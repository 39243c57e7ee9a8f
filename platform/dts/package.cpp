#include "platform/dts/package.h"

#include <nlohmann/json.hpp>

#include "platform/core/com_error.h"

namespace platform::dts {

NLOHMANN_JSON_SERIALIZE_ENUM(PrecedenceBasis, {{PrecedenceBasis::kCompletion, "completion"},
                                               {PrecedenceBasis::kSuccess, "success"},
                                               {PrecedenceBasis::kFailure, "failure"}})
NLOHMANN_JSON_SERIALIZE_ENUM(TaskKind, {{TaskKind::kActiveScript, "ActiveScriptTask"},
                                        {TaskKind::kDataDrivenQuery, "DataDrivenQueryTask"},
                                        {TaskKind::kExecuteSql, "ExecuteSQLTask"}})

NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(Property, name, value)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(GlobalVariable, name, value)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(Connection, id, name, provider, data_source,
                                                catalog, user_id, password, trusted, reusable,
                                                connect_immediate, connection_timeout, properties)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(Precedence, step, basis)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(Step, name, description, task_name,
                                                script_language, add_global_variables,
                                                relative_priority, join_transaction,
                                                fail_package_on_error, precedence)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(Lookup, name, connection_id, sql, max_cache_rows)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(
    Task, name, description, kind, script_language, script, function_name, connection_id, sql,
    command_timeout, source_connection_id, source_object, source_columns, source_key,
    destination_connection_id, destination_object, insert_sql, insert_columns, update_sql,
    update_columns, lookups, progress_row_count, maximum_error_count, fetch_buffer_size,
    first_row, last_row, exception_file, exception_column_delimiter, exception_row_delimiter)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(
    Package, name, description, log_file_name, priority_class, max_concurrent_steps,
    use_transaction, transaction_isolation_level, auto_commit_transaction, fail_on_error,
    write_completion_status_to_nt_event_log, log_to_sql_server, global_variables, connections,
    steps, tasks)

std::string Connection::Get(const std::string& property) const {
  for (const Property& p : properties)
    if (p.name == property) return p.value;
  return {};
}

void Connection::Set(const std::string& property, std::string value) {
  for (Property& p : properties) {
    if (p.name == property) {
      p.value = std::move(value);
      return;
    }
  }
  properties.push_back({property, std::move(value)});
}

const Connection* Package::FindConnection(int32_t id) const {
  for (const Connection& c : connections)
    if (c.id == id) return &c;
  return nullptr;
}

const Task* Package::FindTask(const std::string& name) const {
  for (const Task& t : tasks)
    if (t.name == name) return &t;
  return nullptr;
}

const Step* Package::FindStep(const std::string& name) const {
  for (const Step& s : steps)
    if (s.name == name) return &s;
  return nullptr;
}

std::string Package::ToJson() const { return nlohmann::json(*this).dump(1); }

Package Package::FromJson(const std::string& text) {
  try {
    return nlohmann::json::parse(text).get<Package>();
  } catch (const nlohmann::json::exception& e) {
    Raise(err::kTypeMismatch, "DTS.Package", std::string("The stored package cannot be read: ") + e.what());
  }
}

}  // namespace platform::dts
