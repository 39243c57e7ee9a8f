#include "platform/dts/package_runner.h"

#include <lua.hpp>

#include <filesystem>
#include <ostream>
#include <system_error>

#include "platform/core/clock.h"
#include "platform/core/com_error.h"
#include "platform/core/text.h"
#include "platform/data/instance_databases.h"
#include "platform/dts/run_context.h"

namespace platform::dts {

namespace fs = std::filesystem;

namespace {

constexpr char kSource[] = "DTS.Package";

std::string Describe(const ComError& e) {
  return e.description().empty() ? StandardErrorText(e.number()) : e.description();
}

}  // namespace

// ------------------------------------------------------------ RunContext

RunContext::RunContext(const Package& package, const RunOptions& options)
    : package_(package), options_(options) {
  if (!package.log_file_name.empty()) {
    const fs::path file = package.log_file_name;
    std::error_code ec;
    if (file.has_parent_path()) fs::create_directories(file.parent_path(), ec);
    log_.open(file, std::ios::app | std::ios::binary);
    if (!log_) {
      Raise(err::kPermissionDenied, kSource,
            "The package log '" + file.string() + "' cannot be written");
    }
    host_.ProtectFile(file);
  }
  for (const GlobalVariable& v : package.global_variables) host_.SetGlobalVariable(v.name, v.value);
}

RunContext::~RunContext() {
  for (auto& [key, connection] : open_) {
    try {
      connection->Close();
    } catch (...) {
    }
  }
}

void RunContext::Log(const std::string& line) {
  if (log_) {
    log_ << line << '\n';
    log_.flush();
  }
  if (options_.echo) *options_.echo << line << std::endl;
}

data::Connection& RunContext::Sql(int32_t connection_id) {
  const Connection* c = package_.FindConnection(connection_id);
  if (!c) {
    Raise(err::kInvalidProcedureCall, kSource,
          "The package has no connection with id " + std::to_string(connection_id));
  }
  if (c->IsFlatFile()) {
    Raise(err::kInvalidProcedureCall, kSource,
          "The connection '" + c->name + "' is a flat file, not a database");
  }
  if (c->data_source.empty()) {
    Raise(err::kInvalidProcedureCall, kSource,
          "The connection '" + c->name + "' names no database server");
  }
  if (c->catalog.empty()) {
    Raise(err::kInvalidProcedureCall, kSource,
          "The connection '" + c->name + "' names no catalog (database)");
  }
  // A catalog is a database of the server, never a path leading elsewhere.
  if (c->catalog.find_first_of("/\\;") != std::string::npos || c->catalog == "." ||
      c->catalog == "..") {
    Raise(err::kInvalidProcedureCall, kSource,
          "The connection '" + c->name + "': '" + c->catalog + "' is not a catalog name");
  }
  const fs::path server = fs::absolute(c->data_source).lexically_normal();
  const std::string key = server.string() + "|" + text::LowerAscii(c->catalog);
  if (auto it = open_.find(key); it != open_.end()) return *it->second;
  std::error_code ec;
  if (!fs::is_directory(server, ec)) {
    Raise(err::kFileNotFound, kSource,
          "The connection '" + c->name + "': the database server '" + server.string() +
              "' does not exist");
  }
  if (server.string().find(';') != std::string::npos) {
    Raise(err::kInvalidProcedureCall, kSource,
          "The connection '" + c->name + "': a ';' cannot be part of a server name");
  }
  const std::string connection_string =
      "Provider=SQLite;Data Source=" + server.string() + ";Initial Catalog=" + c->catalog;
  // An instance that keeps this catalog on a database server has no file for it.
  std::string listed;
  const bool on_server =
      data::InstanceDatabaseFor(data::ConnectionSettings::Parse(connection_string), &listed);
  if (!on_server && !fs::exists(server / (c->catalog + ".db"), ec)) {
    Raise(err::kFileNotFound, kSource,
          "The connection '" + c->name + "': cannot open database '" + c->catalog +
              "', the server '" + server.string() + "' holds no such catalog");
  }
  auto connection = std::make_shared<data::Connection>();
  connection->Open(connection_string);
  open_[key] = connection;
  return *connection;
}

void RunContext::TakeRow() {
  ++rows_taken_;
  if (options_.interrupt_after_rows > 0 && rows_taken_ >= options_.interrupt_after_rows)
    throw RunInterrupted();
}

// ------------------------------------------------------------ tasks

namespace {

void RunScriptTask(RunContext& context, const Task& task, StepOutcome& outcome) {
  ScriptHost& host = context.host();
  const int env = host.LoadTask(task.name, task.script, task.function_name);
  host.PushFunction(env, task.function_name);
  int32_t result = 0;
  std::string error;
  const bool ran = host.CallEntry(result, error);
  host.ReleaseTask(env);
  if (!ran) {
    outcome.result = StepResult::kFailed;
    outcome.message = "the script failed: " + error;
  } else if (result != kTaskExecSuccess) {
    outcome.result = StepResult::kFailed;
    outcome.message = "the script reported failure (" + std::to_string(result) + ")";
  } else {
    outcome.result = StepResult::kSucceeded;
  }
}

void RunSqlTask(RunContext& context, const Task& task, StepOutcome& outcome) {
  data::Connection& connection = context.Sql(task.connection_id);
  data::Transaction tx(connection);
  int64_t affected = 0;
  connection.Execute(task.sql, std::span<const Variant>{}, &affected);
  tx.Commit();
  outcome.rows = affected;
  outcome.result = StepResult::kSucceeded;
}

void RunTask(RunContext& context, const Task& task, StepOutcome& outcome) {
  switch (task.kind) {
    case TaskKind::kActiveScript:
      RunScriptTask(context, task, outcome);
      break;
    case TaskKind::kExecuteSql:
      RunSqlTask(context, task, outcome);
      break;
    case TaskKind::kDataDrivenQuery:
      RunDataDrivenQuery(context, task, outcome);
      break;
  }
}

std::string Counts(const StepOutcome& o) {
  return std::to_string(o.rows) + " rows, " + std::to_string(o.inserted) + " inserted, " +
         std::to_string(o.updated) + " updated, " + std::to_string(o.skipped) + " skipped, " +
         std::to_string(o.errors) + " errors";
}

// Whether a step may run now (1), must wait (0) or never will (-1, with why).
int Readiness(const Step& step, const std::map<std::string, StepOutcome>& done, std::string& why) {
  int ready = 1;
  for (const Precedence& p : step.precedence) {
    const auto it = done.find(p.step);
    if (it == done.end()) {
      ready = 0;
      continue;
    }
    const StepResult r = it->second.result;
    const bool ok = r != StepResult::kNotRun &&
                    (p.basis == PrecedenceBasis::kCompletion ||
                     (p.basis == PrecedenceBasis::kSuccess && r == StepResult::kSucceeded) ||
                     (p.basis == PrecedenceBasis::kFailure && r == StepResult::kFailed));
    if (!ok) {
      const char* basis = p.basis == PrecedenceBasis::kSuccess   ? "success"
                          : p.basis == PrecedenceBasis::kFailure ? "failure"
                                                                 : "completion";
      const char* what = r == StepResult::kNotRun      ? "did not run"
                         : r == StepResult::kFailed    ? "failed"
                                                       : "succeeded";
      why = std::string("it waits for the ") + basis + " of '" + p.step + "', which " + what;
      return -1;
    }
  }
  return ready;
}

}  // namespace

// ------------------------------------------------------------ the run

const StepOutcome* RunResult::Find(const std::string& step) const {
  for (const StepOutcome& o : steps)
    if (o.step == step) return &o;
  return nullptr;
}

PackageRunner::PackageRunner(Package package, RunOptions options)
    : package_(std::move(package)), options_(options) {}

PackageRunner::~PackageRunner() = default;

RunResult PackageRunner::Run() {
  RunContext context(package_, options_);
  RunResult result;
  context.Log("Package '" + package_.name + "' started " + Clock::Now().ToIso());
  std::map<std::string, StepOutcome> done;
  while (done.size() < package_.steps.size()) {
    // The first step, in package order, that may run or never will.
    const Step* next = nullptr;
    std::string why;
    int readiness = 0;
    for (const Step& step : package_.steps) {
      if (done.count(step.name)) continue;
      why.clear();
      readiness = Readiness(step, done, why);
      if (readiness != 0) {
        next = &step;
        break;
      }
    }
    if (!next) {
      // Every step left waits for one that never finishes (missing, or a cycle).
      for (const Step& step : package_.steps) {
        if (done.count(step.name)) continue;
        StepOutcome o;
        o.step = step.name;
        o.result = StepResult::kNotRun;
        o.message = "it waits for a step that never finishes";
        context.Log("Step '" + step.name + "' was not run: " + o.message);
        done[step.name] = o;
        result.steps.push_back(o);
      }
      break;
    }
    if (readiness < 0) {
      StepOutcome o;
      o.step = next->name;
      o.result = StepResult::kNotRun;
      o.message = why;
      context.Log("Step '" + next->name + "' was not run: " + why);
      done[next->name] = o;
      result.steps.push_back(o);
      continue;
    }
    const Step& step = *next;
    StepOutcome outcome;
    outcome.step = step.name;
    context.Log("Step '" + step.name + "' (" + step.description + ") started " +
                Clock::Now().ToIso());
    const Task* task = package_.FindTask(step.task_name);
    try {
      if (!task) Raise(err::kInvalidProcedureCall, kSource, "the step's task '" + step.task_name + "' is not in the package");
      RunTask(context, *task, outcome);
    } catch (const RunInterrupted&) {
      throw;
    } catch (...) {
      outcome.result = StepResult::kFailed;
      outcome.message = Describe(CurrentError());
    }
    if (outcome.result == StepResult::kWaiting) outcome.result = StepResult::kSucceeded;
    std::string line = "Step '" + step.name + "' " +
                       (outcome.result == StepResult::kSucceeded ? "succeeded" : "failed");
    if (task && task->kind == TaskKind::kDataDrivenQuery) line += ": " + Counts(outcome);
    if (task && task->kind == TaskKind::kExecuteSql && outcome.result == StepResult::kSucceeded)
      line += ": " + std::to_string(outcome.rows) + " rows affected";
    if (!outcome.message.empty()) line += (task && task->kind == TaskKind::kDataDrivenQuery ? "; " : ": ") + outcome.message;
    context.Log(line);
    done[step.name] = outcome;
    result.steps.push_back(outcome);
    if (outcome.result == StepResult::kFailed && (step.fail_package_on_error || package_.fail_on_error)) {
      // The package stops at its first failing step: nothing after it runs.
      for (const Step& rest : package_.steps) {
        if (done.count(rest.name)) continue;
        StepOutcome o;
        o.step = rest.name;
        o.result = StepResult::kNotRun;
        o.message = "the package stopped when '" + step.name + "' failed";
        context.Log("Step '" + rest.name + "' was not run: " + o.message);
        done[rest.name] = o;
        result.steps.push_back(o);
      }
    }
  }
  result.succeeded = true;
  for (const StepOutcome& o : result.steps)
    if (o.result == StepResult::kFailed) result.succeeded = false;
  context.Log("Package '" + package_.name + "' " + (result.succeeded ? "succeeded" : "failed") +
              " " + Clock::Now().ToIso());
  return result;
}

}  // namespace platform::dts
