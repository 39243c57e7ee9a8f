// The data-driven-query task: reads its source row by row, runs the
// transformation once per row and carries out the row result with the
// task's bound insert or update statement.

#include <lua.hpp>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <system_error>
#include <vector>

#include "platform/core/com_error.h"
#include "platform/data/connection.h"
#include "platform/data/driver.h"
#include "platform/dts/flat_file.h"
#include "platform/dts/run_context.h"

namespace platform::dts {

namespace {

namespace fs = std::filesystem;
constexpr char kSource[] = "DTS.DataDrivenQueryTask";

struct LookupState {
  std::string name;
  data::Connection* connection = nullptr;
  std::string sql;
  std::vector<data::BoundValue> params;  // reused from call to call
};

// DTSLookups(name).Execute(...): the first row's value, a list of the
// values for several columns, nil when no row matches. Engine failures
// become script errors (the row fails), never C++ exceptions crossing Lua.
int LookupExecute(lua_State* L) {
  auto* lookup = static_cast<LookupState*>(lua_touserdata(L, lua_upvalueindex(1)));
  char message[600];
  {
    try {
      const int n = lua_gettop(L);
      lookup->params.resize(static_cast<size_t>(n));
      for (int i = 0; i < n; ++i) lookup->params[static_cast<size_t>(i)].value = ScriptHost::ToVariant(L, i + 1);
      const data::QueryResult r = lookup->connection->session().Run(lookup->sql, lookup->params, 1);
      if (r.rows.empty()) {
        lua_pushnil(L);
      } else if (r.fields.size() == 1) {
        ScriptHost::Push(L, r.rows[0].values[0]);
      } else {
        lua_createtable(L, static_cast<int>(r.fields.size()), 0);
        for (size_t c = 0; c < r.rows[0].values.size(); ++c) {
          ScriptHost::Push(L, r.rows[0].values[c]);
          lua_rawseti(L, -2, static_cast<lua_Integer>(c + 1));
        }
      }
      return 1;
    } catch (...) {
      const ComError e = CurrentError();
      std::snprintf(message, sizeof message, "Lookup '%s' failed: %s", lookup->name.c_str(),
                    e.description().c_str());
    }
  }
  return luaL_error(L, "%s", message);
}

int LookupByName(lua_State* L) {
  lua_pushvalue(L, 1);
  if (lua_gettable(L, lua_upvalueindex(1)) == LUA_TNIL)
    return luaL_error(L, "The task has no lookup named '%s'", luaL_tolstring(L, 1, nullptr));
  return 1;
}

// The one exception file of a task, opened when the first row fails.
class ExceptionFile {
 public:
  explicit ExceptionFile(const Task& task) : task_(task) {}
  void Write(int64_t row, const std::string& error, const std::vector<std::string>& values) {
    if (task_.exception_file.empty()) return;
    if (!out_.is_open()) {
      const fs::path file = task_.exception_file;
      std::error_code ec;
      if (file.has_parent_path()) fs::create_directories(file.parent_path(), ec);
      out_.open(file, std::ios::app | std::ios::binary);
      if (!out_) return;  // the failure is in the package log all the same
    }
    const std::string& d = task_.exception_column_delimiter;
    out_ << row << d << Clean(error);
    for (const std::string& v : values) out_ << d << Clean(v);
    out_ << task_.exception_row_delimiter;
    out_.flush();
  }

 private:
  // One row per line: a line break inside a value would split it.
  static std::string Clean(std::string text) {
    for (char& c : text)
      if (c == '\r' || c == '\n') c = ' ';
    return text;
  }
  const Task& task_;
  std::ofstream out_;
};

// Where the rows come from: a flat file, or a table read in key order a
// page at a time (the task's fetch size), so neither is held whole.
class Source {
 public:
  Source(RunContext& context, const Task& task) : task_(task) {
    const Connection* c = context.package().FindConnection(task.source_connection_id);
    if (!c) {
      Raise(err::kInvalidProcedureCall, kSource,
            "The package has no source connection with id " +
                std::to_string(task.source_connection_id));
    }
    if (c->IsFlatFile()) {
      file_ = std::make_unique<FlatFileReader>(*c);
    } else {
      if (task.source_object.empty() || task.source_columns.empty() || task.source_key.empty()) {
        Raise(err::kInvalidProcedureCall, kSource,
              "A table source needs its table, columns and key column");
      }
      table_ = &context.Sql(task.source_connection_id);
      std::string columns;
      for (const std::string& name : task.source_columns) {
        if (!columns.empty()) columns += ", ";
        columns += name;
        names_.push_back(name);
      }
      key_index_ = -1;
      for (size_t i = 0; i < names_.size(); ++i)
        if (names_[i] == task.source_key) key_index_ = static_cast<int>(i);
      if (key_index_ < 0) {
        columns += ", " + task.source_key;
      }
      const std::string top = "SELECT TOP " + std::to_string(std::max(task.fetch_buffer_size, 1)) +
                              " " + columns + " FROM " + task.source_object;
      first_page_ = top + " ORDER BY " + task.source_key;
      next_page_ = top + " WHERE " + task.source_key + " > ? ORDER BY " + task.source_key;
    }
  }

  // The column names (flat files: known after the first row).
  const std::vector<std::string>& names() {
    if (file_)
      while (names_.size() < file_->columns()) names_.push_back(FlatFileReader::ColumnName(names_.size()));
    return names_;
  }

  bool Next(FlatRow& row) {
    if (file_) {
      if (!file_->Next(row)) return false;
      while (names_.size() < row.values.size()) names_.push_back(FlatFileReader::ColumnName(names_.size()));
      return true;
    }
    if (page_pos_ >= page_.rows.size()) {
      if (done_) return false;
      std::vector<data::BoundValue> params;
      if (!last_key_.IsEmpty()) params.push_back({"", last_key_});
      page_ = table_->session().Run(last_key_.IsEmpty() ? first_page_ : next_page_, params,
                                    std::max(task_.fetch_buffer_size, 1));
      page_pos_ = 0;
      if (page_.rows.size() < static_cast<size_t>(std::max(task_.fetch_buffer_size, 1))) done_ = true;
      if (page_.rows.empty()) return false;
    }
    const auto& values = page_.rows[page_pos_++].values;
    ++row_number_;
    row.number = row_number_;
    row.error.clear();
    row.raw.clear();
    // The cells go to the script as they are; their texts are made only
    // for a failing row (Texts).
    row.values.clear();
    last_key_ = values[key_index_ >= 0 ? static_cast<size_t>(key_index_) : names_.size()];
    return true;
  }

  // A table's cells keep their kind for the script (numbers stay numbers).
  bool typed() const { return !file_; }
  const Variant& TypedValue(size_t i) const { return page_.rows[page_pos_ - 1].values[i]; }
  // The current table row as the exception file writes it.
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (size_t i = 0; i < names_.size(); ++i)
      texts.push_back(TypedValue(i).IsMissing() ? std::string("NULL") : TypedValue(i).ToString());
    return texts;
  }

 private:
  const Task& task_;
  std::unique_ptr<FlatFileReader> file_;
  data::Connection* table_ = nullptr;
  std::vector<std::string> names_;
  int key_index_ = -1;
  std::string first_page_, next_page_;
  data::QueryResult page_;
  size_t page_pos_ = 0;
  bool done_ = false;
  Variant last_key_;
  int64_t row_number_ = 0;
};

std::vector<std::string> RowTexts(const FlatRow& row) {
  std::vector<std::string> texts;
  if (!row.error.empty() && !row.raw.empty()) {
    // What could not be split is written as it was read (bounded).
    texts.push_back(row.raw.size() > 1000 ? row.raw.substr(0, 1000) + "..." : row.raw);
    return texts;
  }
  for (const auto& v : row.values) texts.push_back(v ? *v : std::string("NULL"));
  return texts;
}

}  // namespace

void RunDataDrivenQuery(RunContext& context, const Task& task, StepOutcome& outcome) {
  ScriptHost& host = context.host();
  lua_State* L = host.state();
  const int top = lua_gettop(L);

  data::Connection& destination = context.Sql(task.destination_connection_id);
  std::vector<std::unique_ptr<LookupState>> lookups;
  for (const Lookup& l : task.lookups) {
    auto state = std::make_unique<LookupState>();
    state->name = l.name;
    state->connection = &context.Sql(l.connection_id);
    state->sql = l.sql;
    lookups.push_back(std::move(state));
  }
  Source source(context, task);
  const int env = host.LoadTask(task.name, task.script, task.function_name);
  struct Release {
    ScriptHost& host;
    int env;
    lua_State* L;
    int top;
    ~Release() {
      lua_settop(L, top);
      host.ReleaseTask(env);
    }
  } release{host, env, L, top};

  // The task's environment: DTSSource, DTSDestination, DTSLookups.
  lua_rawgeti(L, LUA_REGISTRYINDEX, env);
  const int env_index = lua_gettop(L);
  lua_newtable(L);  // DTSSource, callable: DTSSource("Col001")
  lua_newtable(L);
  lua_pushcfunction(L, [](lua_State* S) -> int {
    lua_pushvalue(S, 2);
    lua_rawget(S, 1);
    return 1;
  });
  lua_setfield(L, -2, "__call");
  lua_setmetatable(L, -2);
  const int src = lua_gettop(L);
  lua_pushvalue(L, src);
  lua_setfield(L, env_index, "DTSSource");
  lua_newtable(L);
  const int dst = lua_gettop(L);
  lua_pushvalue(L, dst);
  lua_setfield(L, env_index, "DTSDestination");
  lua_newtable(L);
  for (auto& l : lookups) {
    lua_newtable(L);
    lua_pushlightuserdata(L, l.get());
    lua_pushcclosure(L, LookupExecute, 1);
    lua_setfield(L, -2, "Execute");
    lua_setfield(L, -2, l->name.c_str());
  }
  lua_pushcclosure(L, LookupByName, 1);
  lua_setfield(L, env_index, "DTSLookups");
  lua_newtable(L);
  const int columns_table = lua_gettop(L);
  lua_pushvalue(L, columns_table);
  lua_setfield(L, env_index, "DTSSourceColumns");
  lua_getfield(L, env_index, task.function_name.c_str());
  const int main_fn = lua_gettop(L);

  ExceptionFile exceptions(task);
  // The destination's transaction, committed in batches; rolled back if the
  // task is left by an exception (an interrupted run).
  std::optional<data::Transaction> batch(std::in_place, destination);
  data::Session& session = destination.session();
  std::vector<Variant> insert_params(task.insert_columns.size());
  std::vector<Variant> update_params(task.update_columns.size());
  size_t named_columns = 0;
  FlatRow row;
  const int64_t progress = task.progress_row_count > 0 ? task.progress_row_count : 1000;
  const int64_t max_errors = task.maximum_error_count > 0 ? task.maximum_error_count : 1;

  auto fail_row = [&](const std::string& error) {
    ++outcome.errors;
    exceptions.Write(row.number, error, source.typed() ? source.Texts() : RowTexts(row));
  };
  auto bind = [&](const std::vector<std::string>& names, std::vector<Variant>& params) {
    for (size_t i = 0; i < names.size(); ++i) {
      lua_getfield(L, dst, names[i].c_str());
      params[i] = ScriptHost::ToVariant(L, -1);
      lua_pop(L, 1);
    }
  };

  while (source.Next(row)) {
    context.TakeRow();
    ++outcome.rows;
    if (task.first_row > 0 && outcome.rows < task.first_row) {
      ++outcome.skipped;
      continue;
    }
    if (task.last_row > 0 && outcome.rows > task.last_row) break;
    if (!row.error.empty()) {
      fail_row(row.error);
    } else {
      const std::vector<std::string>& names = source.names();
      if (named_columns < names.size()) {
        for (size_t i = named_columns; i < names.size(); ++i) {
          lua_pushstring(L, names[i].c_str());
          lua_rawseti(L, columns_table, static_cast<lua_Integer>(i + 1));
        }
        named_columns = names.size();
      }
      for (size_t i = 0; i < names.size(); ++i) {
        if (source.typed()) {
          ScriptHost::Push(L, source.TypedValue(i));
        } else if (i < row.values.size() && row.values[i]) {
          lua_pushlstring(L, row.values[i]->data(), row.values[i]->size());
        } else {
          lua_pushnil(L);
        }
        lua_setfield(L, src, names[i].c_str());
      }
      lua_pushnil(L);  // clear the destination values of the last row
      while (lua_next(L, dst) != 0) {
        lua_pop(L, 1);
        lua_pushvalue(L, -1);
        lua_pushnil(L);
        lua_rawset(L, dst);
      }
      lua_pushvalue(L, main_fn);
      int32_t status = 0;
      std::string error;
      if (!host.CallEntry(status, error)) {
        fail_row("The transformation failed: " + error);
      } else if (status & kTransformExceptionRow) {
        fail_row("The transformation reported an exception row");
      } else if (status & (kTransformInsertQuery | kTransformUpdateQuery)) {
        const bool insert = (status & kTransformInsertQuery) != 0;
        try {
          if (insert) {
            bind(task.insert_columns, insert_params);
            session.Exec(task.insert_sql, insert_params);
            ++outcome.inserted;
          } else {
            bind(task.update_columns, update_params);
            session.Exec(task.update_sql, update_params);
            ++outcome.updated;
          }
        } catch (...) {
          fail_row(std::string(insert ? "The insert" : "The update") +
                   " failed: " + CurrentError().description());
        }
      } else if (status & kTransformError) {
        fail_row("The transformation reported an error");
      } else {
        ++outcome.skipped;
      }
    }
    if (outcome.rows % progress == 0) {
      batch->Commit();
      batch.emplace(destination);
      context.Log("Progress count in Step '" + outcome.step + "': " + std::to_string(outcome.rows) +
                  " rows");
    }
    if (outcome.errors >= max_errors) {
      outcome.message = "stopped: the failing rows reached the maximum of " +
                        std::to_string(max_errors);
      break;
    }
  }
  batch->Commit();
  if (outcome.errors > 0) {
    outcome.result = StepResult::kFailed;
    if (outcome.message.empty()) {
      outcome.message = std::to_string(outcome.errors) + " rows failed" +
                        (task.exception_file.empty() ? "" : ", see " + task.exception_file);
    } else if (!task.exception_file.empty()) {
      outcome.message += ", see " + task.exception_file;
    }
  } else {
    outcome.result = StepResult::kSucceeded;
  }
}

}  // namespace platform::dts
