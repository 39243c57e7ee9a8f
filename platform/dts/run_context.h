// RunContext is what the tasks of one package run share: the package, the
// script host, the open SQL connections (one per server and catalog), the
// package log and the count of source rows taken. Internal to the runner.
//
// Thread-safety: one per run, one thread.
#pragma once

#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "platform/data/connection.h"
#include "platform/dts/package.h"
#include "platform/dts/package_runner.h"
#include "platform/dts/script_host.h"

namespace platform::dts {

class RunContext {
 public:
  RunContext(const Package& package, const RunOptions& options);
  ~RunContext();

  const Package& package() const { return package_; }
  ScriptHost& host() { return host_; }
  const RunOptions& options() const { return options_; }

  // Writes one line to the package log (and the echo stream).
  void Log(const std::string& line);

  // The open connection for a SQL connection of the package. Raises with a
  // clear text for an unknown id, a flat-file connection, an empty server
  // or catalog, or a catalog the server does not hold.
  data::Connection& Sql(int32_t connection_id);

  // Counts one source row; throws RunInterrupted when the test hook says so.
  void TakeRow();

 private:
  const Package& package_;
  const RunOptions& options_;
  ScriptHost host_;
  std::ofstream log_;
  std::map<std::string, std::shared_ptr<data::Connection>> open_;  // "server|catalog"
  int64_t rows_taken_ = 0;
};

// Runs one data-driven-query task; fills the outcome's counts and result.
void RunDataDrivenQuery(RunContext& context, const Task& task, StepOutcome& outcome);

}  // namespace platform::dts
