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
// run wrote (the same bytes) and writes each to a file of its own in a
// pickup directory the way the mail service does: a temporary name, then a
// rename.
//
// The summary prints the run's ratio to its floor (goal: at most 2x) and the
// 10,000-quotation run over the 1,000-quotation one (goal: linear, about 10x).
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
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

// The messages of the last run, as the floor writes them.
std::vector<std::string> g_messages;

void ReminderRun(benchmark::State& state) {
  const int quotations = static_cast<int>(state.range(0));
  StoreQuotations(quotations);
  RawDb setup(g_vendra_file);
  // A first run, not timed, fills what a long-lived host keeps warm: the
  // thread's caches, the locale data, the compiled statements.
  vendra::Quotation().Run();
  for (auto _ : state) {
    Exec(setup.db, "UPDATE QUOTATIONHEADER SET NOTIFICATIONSENT = 0");
    // The reset's pages are checkpointed here, so the run does not pay for them.
    Exec(setup.db, "PRAGMA wal_checkpoint(TRUNCATE)");
    ClearDirectory(Pickup());
    const auto start = Clock::now();
    vendra::Quotation().Run();
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
  }
  int sent = 0;
  g_messages.clear();
  for (const auto& e : fs::directory_iterator(Pickup())) {
    ++sent;
    std::ifstream in(e.path(), std::ios::binary);
    g_messages.emplace_back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  if (sent != quotations) {
    std::fprintf(stderr, "the run sent %d messages for %d due quotations\n", sent, quotations);
    std::abort();
  }
  state.counters["messages"] = sent;
}

// The same messages written straight to files: a temporary name, then the
// rename that makes each appear whole.
void ReminderRun_Files(benchmark::State& state) {
  const size_t quotations = static_cast<size_t>(state.range(0));
  if (g_messages.size() != quotations) {
    state.SkipWithError("the run of this size did not leave its messages");
    return;
  }
  const fs::path dir = g_home / "mail" / "floor";
  for (auto _ : state) {
    ClearDirectory(dir);
    const auto start = Clock::now();
    for (size_t i = 0; i < g_messages.size(); ++i) {
      const fs::path temp = dir / (std::to_string(i) + ".tmp");
      {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(g_messages[i].data(), static_cast<std::streamsize>(g_messages[i].size()));
      }
      fs::rename(temp, dir / (std::to_string(i) + ".eml"));
    }
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
  }
}

// Each size's run is followed by its floor, which writes the run's messages.
BENCHMARK(ReminderRun)->Arg(1000)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(ReminderRun_Files)->Arg(1000)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(ReminderRun)->Arg(10000)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(ReminderRun_Files)->Arg(10000)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);

void PrintRatios(const vendra_bench::RatioReporter& r) {
  std::printf("\n");
  r.Ratio(48, "reminder run 1,000 / same messages to files", "ReminderRun/1000/iterations:3/manual_time",
          "ReminderRun_Files/1000/iterations:3/manual_time", "at most 2x");
  r.Ratio(48, "reminder run 10,000 / same messages to files",
          "ReminderRun/10000/iterations:2/manual_time",
          "ReminderRun_Files/10000/iterations:2/manual_time", "at most 2x");
  r.Ratio(48, "reminder run 10,000 / 1,000 quotations", "ReminderRun/10000/iterations:2/manual_time",
          "ReminderRun/1000/iterations:3/manual_time", "about 10x: linear");
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
