// What the benchmark programs in bench/ share. Each program times a part of
// Vendra against a floor (the same work done directly on SQLite) in the same
// run and ends with a summary of ratios. Opening the floor's handles, checking
// its return codes and keeping the times for the summary are done here once,
// so every floor pays for the same settings and every ratio line is printed
// the same way.
#pragma once

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace platform {
class Dictionary;
}

namespace vendra_bench {

// Aborts with SQLite's message unless rc is SQLITE_OK, SQLITE_DONE or
// SQLITE_ROW: a floor that failed must not be timed as if it had worked.
void Check(int rc, sqlite3* db);

// A raw read-write handle on file with the settings the driver uses (5 s busy
// timeout, WAL, synchronous NORMAL and, unless foreign_keys is false, foreign
// keys enforced), so both sides pay for the same durability.
sqlite3* OpenRaw(const std::string& file, bool foreign_keys = true);

// Runs statements on a raw handle; a failure aborts with SQLite's message and
// the statement, as Check does.
void Exec(sqlite3* db, const std::string& sql);

// The stored basket as a page holds it after restoring it: the "header" and
// "lines" record sets, client side and detached.
std::shared_ptr<platform::Dictionary> RestoreBasket(const std::string& id);

// A raw handle closed when it goes out of scope.
struct RawDb {
  explicit RawDb(const std::string& file) : db(OpenRaw(file)) {}
  ~RawDb() { sqlite3_close(db); }
  RawDb(const RawDb&) = delete;
  RawDb& operator=(const RawDb&) = delete;
  sqlite3* db;
};

// The console output as usual, keeping each run's adjusted real time and
// counters by benchmark name so the summary can put the pairs side by side.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override;

  // The named run's adjusted real time, or nullptr if it did not run (a
  // --benchmark_filter may leave it out).
  const double* Time(const std::string& name) const;
  // The named run's counter, or nullptr.
  const double* Counter(const std::string& name, const std::string& counter) const;

  // Prints "label  N.NNx   (goal: goal)" for the time of run a over that of
  // run b, the label padded to width; without the goal part when goal is
  // empty, with extra (if any) before the end of the line. Prints nothing if
  // either run is missing, so a filtered run gives a shorter summary.
  void Ratio(int width, const char* label, const char* a, const char* b, const std::string& goal,
             const std::string& extra = "") const;

 private:
  std::map<std::string, double> times_;
  std::map<std::string, std::map<std::string, double>> counters_;
};

// The statements the driver's idle pooled handles keep compiled: what the
// statement cache costs in memory.
void PrintStatementCache();

// The main of a program that measures on a demo instance: registers the
// components, makes a fresh demo instance (removed at the end), calls
// on_instance with its home (to find its databases, or to prepare what the
// runs start from), runs the benchmarks the command line selects through a
// RatioReporter and then hands that to after_runs (the summary, and whatever
// else needs the instance) before the pooled sessions are let go.
int RunOnDemoInstance(int argc, char** argv, const std::function<void(const std::filesystem::path&)>& on_instance,
                      const std::function<void(const RatioReporter&)>& after_runs);

}  // namespace vendra_bench
