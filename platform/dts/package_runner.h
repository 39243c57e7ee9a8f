// PackageRunner runs a package: its steps in precedence order (a step runs
// once every step it waits for has finished as its constraint asks; among
// ready steps the one first in the package goes first, one at a time), its
// script, SQL and data-driven-query tasks, and the package log (the
// package's log file: each step's start, progress every N rows, outcome).
//
// SQL connections to the same catalog of the same server share one open
// connection for the run, so a task's lookups see the rows it has just
// written. A data-driven-query task writes in a transaction committed at
// every progress report and at its end: a run cut off at any row leaves
// whole rows only, and the next run (every task finds rows by their keys
// first) converges on what an uninterrupted run gives.
//
// A data-driven-query task fails when any row of it failed (could not be
// read, the transformation raised an error or asked for an exception row,
// the statement failed); it stops when the failing rows reach the task's
// maximum. A step that waits for the success of a failed step does not
// run, and neither does any step waiting for it. A failing step stops the
// whole package only when it (or the package) says so (fail on error).
// Steps run one at a time; the package's maximum of concurrent steps is
// kept and honoured trivially.
//
// Thread-safety: one runner per run; the package is copied.
#pragma once

#include <cstdint>
#include <exception>
#include <iosfwd>
#include <string>
#include <vector>

#include "platform/dts/package.h"

namespace platform::dts {

enum class StepResult { kWaiting, kSucceeded, kFailed, kNotRun };

struct StepOutcome {
  std::string step;
  StepResult result = StepResult::kWaiting;
  std::string message;  // why it failed or did not run
  int64_t rows = 0;     // source rows seen by a data task
  int64_t inserted = 0;
  int64_t updated = 0;
  int64_t skipped = 0;
  int64_t errors = 0;
};

struct RunResult {
  bool succeeded = false;  // no step failed
  std::vector<StepOutcome> steps;  // in the order they finished
  const StepOutcome* Find(const std::string& step) const;
};

struct RunOptions {
  // The package log's lines are also written here (dtsrun: standard output).
  std::ostream* echo = nullptr;
  // For fault-injection tests: the run stops dead (as a killed process
  // would, committing nothing more) once this many source rows have been
  // taken, counted over all tasks; RunInterrupted leaves Run. 0: never.
  int64_t interrupt_after_rows = 0;
};

class RunInterrupted : public std::exception {
 public:
  const char* what() const noexcept override { return "the package run was interrupted"; }
};

class PackageRunner {
 public:
  explicit PackageRunner(Package package, RunOptions options = {});
  ~PackageRunner();

  // Runs every step that may run. Raises (ComError) only when the package
  // log cannot be written; every other failure is a step's outcome.
  RunResult Run();

 private:
  Package package_;
  RunOptions options_;
};

}  // namespace platform::dts
