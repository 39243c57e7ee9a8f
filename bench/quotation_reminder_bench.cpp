// The quotation reminder run against the file system beneath it:
// Vendra.Quotation.Run over 1,000 due quotations of 100 users and over
// 10,000 of 1,000 users, and the same messages written straight to files
// (the floor), in the same run on the same demo instance.
//
// Every iteration starts from the same due quotations, half of them in
// English and half in German, ten per user; making them due again (and
// checkpointing that write) and emptying the pickup directory is not timed,
// and neither is a first run that warms the caches. The run selects and claims
// them, looks up each user once, renders and drops one message per
// quotation and marks each as reminded. The floor takes the messages the
// run wrote (the same bytes, under the same names) and writes each to a file
// of its own in a pickup directory the way the mail service does: one open
// of a temporary name, one write, one close, then the rename that makes it
// appear whole. Neither side syncs the files to disk.
//
// The summary prints the run's ratio to the floor timed beside it in the same
// iterations (goal: at most 2x), the ratio to the floor measured on its own
// after the run, and the 10,000-quotation run over the 1,000-quotation one
// (goal: linear, about 10x).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/support/bench_support.h"
#include "platform/core/clock.h"
#include "sales/quotation/quotation.h"

namespace {

using Clock = std::chrono::steady_clock;
using vendra_bench::Check;
using vendra_bench::Exec;
using vendra_bench::RawDb;
namespace fs = std::filesystem;

std::string g_vendra_file;
fs::path g_home;

// Users bench0000.. in the customer master, and `quotations` due quotations
// of theirs (ten each), stored once per size.
void StoreQuotations(int quotations) {
  const int users = quotations / 10;
  const std::string today = platform::Clock::Today().ToIso().substr(0, 10);
  const std::string expiry = platform::Clock::Today().AddDays(5).ToIso().substr(0, 10);
  {
    RawDb kelmor((g_home / "data" / "Kelmor.db").string());
    Exec(kelmor.db, "BEGIN IMMEDIATE");
    for (int u = 0; u < users; ++u) {
      char id[32];
      std::snprintf(id, sizeof id, "bench%04d", u);
      Exec(kelmor.db, std::string("INSERT OR IGNORE INTO USERS (USERID, BUSINESSPARTNERID, LOCALE, "
                                  "REFERENCENAME, FIRSTNAME, LASTNAME, EMAILADDRESS) VALUES ('") +
                          id + "', 1001, '" + (u % 2 ? "1031" : "1033") + "', 'Bench User " + id +
                          "', 'Bench', 'User', '" + id + "@bench.example')");
    }
    Exec(kelmor.db, "COMMIT");
  }
  RawDb vendra(g_vendra_file);
  Exec(vendra.db, "BEGIN IMMEDIATE");
  Exec(vendra.db, "DELETE FROM QUOTATIONHEADER");
  for (int q = 0; q < quotations; ++q) {
    char id[40], user[32];
    std::snprintf(id, sizeof id, "BENCHQ%026d", q);
    const int u = (q * 7919) % users;  // stored interleaved; the run sorts by user
    std::snprintf(user, sizeof user, "bench%04d", u);
    Exec(vendra.db,
         std::string("INSERT INTO QUOTATIONHEADER (QUOTATIONID, CUSTOMERREFERENCE, CREATIONDATE, "
                     "USERID, USERLOCALE, BUSINESSPARTNERID, EXPIRYDATE, NOTIFICATIONNEEDED, "
                     "NOTIFICATIONDATE, NOTIFICATIONSENT) VALUES ('") +
             id + "', 'Bench reference " + std::to_string(q) + "', '2026-01-05', '" + user + "', " +
             (u % 2 ? "1031" : "1033") + ", 1001, '" + expiry + "', 1, '" + today + "', 0)");
  }
  Exec(vendra.db, "COMMIT");
}

// Empties the directory for the next iteration by moving it aside: files
// deleted just before make the file system's next creations slower (it
// avoids reusing their inodes), which would time the clean-up, not the
// writing. What is moved aside goes when the program ends.
int g_moved = 0;
void ClearDirectory(const fs::path& dir) {
  std::error_code ec;
  if (fs::exists(dir, ec)) fs::rename(dir, g_home / "mail" / ("old" + std::to_string(++g_moved)), ec);
  fs::create_directories(dir, ec);
}

fs::path Pickup() { return g_home / "mail" / "pickup"; }

// The messages of the last run and the names they were given ("<id>"
// without ".eml"), as the floor writes them.
std::vector<std::string> g_messages;
std::vector<std::string> g_names;

// Reads what the last run left in the pickup directory; the number of messages.
size_t ReadMessages() {
  g_messages.clear();
  g_names.clear();
  for (const auto& e : fs::directory_iterator(Pickup())) {
    g_names.push_back(e.path().stem().string());
    std::ifstream in(e.path(), std::ios::binary);
    g_messages.emplace_back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  return g_messages.size();
}

// The floor: the last run's messages written straight to files under the
// same names in an empty directory, each by one open of its temporary name,
// one write, one close and the rename that makes it appear whole. The
// seconds it took, or a negative number when a file could not be written.
// The thread's CPU time in seconds, in user space and in the kernel: the
// kernel's part is mostly the file system making files, which other work on
// the machine disturbs; the user part is the run's own work.
struct Cpu {
  double user = 0, kernel = 0;
  Cpu operator-(const Cpu& o) const { return {user - o.user, kernel - o.kernel}; }
  Cpu& operator+=(const Cpu& o) {
    user += o.user;
    kernel += o.kernel;
    return *this;
  }
};

Cpu ThreadCpu() {
  rusage u{};
  getrusage(RUSAGE_THREAD, &u);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return {seconds(u.ru_utime), seconds(u.ru_stime)};
}

Cpu g_floor_cpu;  // the CPU of the floors written

double WriteFloor() {
  const fs::path dir = g_home / "mail" / "floor";
  ClearDirectory(dir);
  const std::string prefix = dir.string() + "/";
  const Cpu cpu = ThreadCpu();
  const auto start = Clock::now();
  for (size_t i = 0; i < g_messages.size(); ++i) {
    const std::string temp = prefix + g_names[i] + ".tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    const bool ok = fd >= 0 && ::write(fd, g_messages[i].data(), g_messages[i].size()) ==
                                   static_cast<ssize_t>(g_messages[i].size());
    if (fd < 0 || ::close(fd) != 0 || !ok ||
        ::rename(temp.c_str(), (prefix + g_names[i] + ".eml").c_str()) != 0)
      return -1;
  }
  g_floor_cpu += ThreadCpu() - cpu;
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The run, timed. Each iteration also times the floor right beside it (not
// part of the run's time), first before the run and then after it in turn:
// the cost of creating a file on the file system changes with what else
// happens on the machine (on ext4 without a journal, inodes freed in the
// last 30 seconds by any process are skipped one by one when a new file is
// made), so a floor measured minutes apart from the run compares different
// conditions. The counter paired_ratio is the run's time over the floor's
// in the same iterations.
void ReminderRun(benchmark::State& state) {
  const int quotations = static_cast<int>(state.range(0));
  StoreQuotations(quotations);
  RawDb setup(g_vendra_file);
  // A first run, not timed, fills what a long-lived host keeps warm: the
  // thread's caches, the locale data, the compiled statements.
  vendra::Quotation().Run();
  ReadMessages();
  double run_seconds = 0, floor_seconds = 0;
  Cpu run_cpu;
  g_floor_cpu = Cpu{};
  int iteration = 0;
  for (auto _ : state) {
    const bool floor_first = iteration++ % 2 == 0;
    Exec(setup.db, "UPDATE QUOTATIONHEADER SET NOTIFICATIONSENT = 0");
    // The reset's pages are checkpointed here, so the run does not pay for them.
    Exec(setup.db, "PRAGMA wal_checkpoint(TRUNCATE)");
    ClearDirectory(Pickup());
    if (floor_first) floor_seconds += WriteFloor();
    const Cpu cpu = ThreadCpu();
    const auto start = Clock::now();
    vendra::Quotation().Run();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run_cpu += ThreadCpu() - cpu;
    state.SetIterationTime(seconds);
    run_seconds += seconds;
    const size_t sent = ReadMessages();
    if (sent != static_cast<size_t>(quotations)) {
      std::fprintf(stderr, "the run sent %zu messages for %d due quotations\n", sent, quotations);
      std::abort();
    }
    if (!floor_first) floor_seconds += WriteFloor();
  }
  state.counters["messages"] = static_cast<double>(g_messages.size());
  state.counters["floor_ms"] = floor_seconds * 1000 / iteration;
  state.counters["paired_ratio"] = floor_seconds > 0 ? run_seconds / floor_seconds : 0;
  // CPU per message (user and kernel, this thread), which the machine's other
  // work disturbs less than the elapsed time.
  const double messages = static_cast<double>(iteration) * quotations;
  state.counters["run_user_us"] = run_cpu.user * 1e6 / messages;
  state.counters["run_kernel_us"] = run_cpu.kernel * 1e6 / messages;
  state.counters["floor_user_us"] = g_floor_cpu.user * 1e6 / messages;
  state.counters["floor_kernel_us"] = g_floor_cpu.kernel * 1e6 / messages;
}

// The same messages written straight to files, on their own after the run:
// the floor as it was measured first, kept to show how far apart the two
// measurements can be on a busy machine.
void ReminderRun_Files(benchmark::State& state) {
  const size_t quotations = static_cast<size_t>(state.range(0));
  if (g_messages.size() != quotations) {
    state.SkipWithError("the run of this size did not leave its messages");
    return;
  }
  for (auto _ : state) {
    const double seconds = WriteFloor();
    if (seconds < 0) {
      state.SkipWithError("the floor could not write a message");
      return;
    }
    state.SetIterationTime(seconds);
  }
}

// Each size's run is followed by its floor, which writes the run's messages.
BENCHMARK(ReminderRun)->Arg(1000)->Iterations(4)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(ReminderRun_Files)->Arg(1000)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(ReminderRun)->Arg(10000)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(ReminderRun_Files)->Arg(10000)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);

// The run over the floor timed beside it in the same iterations.
void PairedRatio(const vendra_bench::RatioReporter& r, const char* label, const char* run) {
  const double* ratio = r.Counter(run, "paired_ratio");
  const double* run_user = r.Counter(run, "run_user_us");
  const double* run_kernel = r.Counter(run, "run_kernel_us");
  const double* floor_user = r.Counter(run, "floor_user_us");
  const double* floor_kernel = r.Counter(run, "floor_kernel_us");
  if (!ratio || !run_user || !run_kernel || !floor_user || !floor_kernel) return;
  std::printf("%-48s %5.2fx   (goal: at most 2x)\n", label, *ratio);
  std::printf("%-48s %.0f + %.0f us against %.0f + %.0f us\n", "  CPU per message, user + kernel",
              *run_user, *run_kernel, *floor_user, *floor_kernel);
}

void PrintRatios(const vendra_bench::RatioReporter& r) {
  std::printf("\n");
  PairedRatio(r, "reminder run 1,000 / files, same iterations",
              "ReminderRun/1000/iterations:4/manual_time");
  PairedRatio(r, "reminder run 10,000 / files, same iterations",
              "ReminderRun/10000/iterations:2/manual_time");
  r.Ratio(48, "reminder run 1,000 / files, measured after", "ReminderRun/1000/iterations:4/manual_time",
          "ReminderRun_Files/1000/iterations:3/manual_time", "at most 2x");
  r.Ratio(48, "reminder run 10,000 / files, measured after",
          "ReminderRun/10000/iterations:2/manual_time",
          "ReminderRun_Files/10000/iterations:2/manual_time", "at most 2x");
  r.Ratio(48, "reminder run 10,000 / 1,000 quotations", "ReminderRun/10000/iterations:2/manual_time",
          "ReminderRun/1000/iterations:4/manual_time", "about 10x: linear");
  r.Ratio(48, "files 10,000 / 1,000 messages", "ReminderRun_Files/10000/iterations:2/manual_time",
          "ReminderRun_Files/1000/iterations:3/manual_time", "");
}

}  // namespace

int main(int argc, char** argv) {
  return vendra_bench::RunOnDemoInstance(
      argc, argv,
      [](const fs::path& home) {
        g_home = home;
        g_vendra_file = (home / "data" / "Vendra.db").string();
      },
      [](const vendra_bench::RatioReporter& reporter) { PrintRatios(reporter); });
}
