// Several web servers in front of one PostgreSQL instance, as operators run
// them: the real vendra program, one home per host (copies of one instance
// home, so both reach the same databases through platform.xml), submitting
// baskets and running the periodic hand-over at the same time. Every order
// reaches the ERP exactly once and none is lost. And a sales database that
// goes away in the middle of a submission: a clear error with the server's
// text, nothing half-written, and the same call succeeds once it is back.
//
// Needs VENDRA_PG_URL (as scripts/pg-server.sh start prints it); without it
// the cases are skipped.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "apps/instance/databases.h"
#include "platform/data/connection.h"
#include "platform/data/instance_databases.h"
#include "platform/data/postgres/pg_driver.h"
#include "platform/data/recordset.h"
#include "tests/support/driver_text.h"
#include "tests/support/test_instance.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using platform::data::Connection;

struct Outcome {
  int code = -1;
  std::string out, err;
};

std::string Slurp(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs the vendra program with args, its output kept in files under scratch
// named by tag (each concurrent run has its own tag).
Outcome RunVendra(const std::vector<std::string>& args, const fs::path& scratch, const std::string& tag) {
  const fs::path out_file = scratch / (tag + ".out"), err_file = scratch / (tag + ".err");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<std::string> argv_text{VENDRA_PROGRAM};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);
  Outcome run;
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, VENDRA_PROGRAM, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    run.err = std::string("cannot start " VENDRA_PROGRAM ": ") + std::strerror(rc);
    return run;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  run.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.out = Slurp(out_file);
  run.err = Slurp(err_file);
  return run;
}

// A page's request that makes anna's basket for Hallvard Industrial on
// back-end instance kro_id with two priced lines and saves it; the fourth
// answer is the basket id. With submit, the same request places the order.
Json BasketRequest(int kro_id, bool submit) {
  Json steps = Json::array();
  auto let = [&](const char* object, const char* column, Json value) {
    steps.push_back({{"let", std::string(object) + ".Value"}, {"args", {column}}, {"value", value}});
  };
  steps.push_back({{"new", "Vendra.Basket"}, {"as", "basket"}});
  steps.push_back({{"call", "basket.Create"}, {"args", {"anna", 1001}}, {"as", "doc"}});
  steps.push_back({{"get", "doc.Item"}, {"args", {"header"}}, {"as", "h"}});
  steps.push_back({{"get", "h.Value"}, {"args", {"BASKETID"}}});
  struct Line {
    int sku;
    const char *part, *unit;
    double quantity, price;
  };
  const Line lines[] = {{1, "FA-M8X30", "BOX", 4.0, 12.4}, {5, "HY-PMP-200", "PCS", 1.0, 385.0}};
  for (const Line& l : lines) {
    steps.push_back({{"call", "basket.AddLine"},
                     {"args", {{{"$ref", "doc"}}, l.sku, l.quantity, {{"$date", "2026-12-20"}}, false, ""}}});
  }
  let("h", "KROID", kro_id);
  let("h", "DISCOUNTPERC", 0.0);
  let("h", "ORDERTYPE", "SO");
  let("h", "CUSTOMERCODE", "C1001");
  let("h", "CURRENCYDECIMALS", {{"$integer", 2}});
  steps.push_back({{"get", "doc.Item"}, {"args", {"lines"}}, {"as", "l"}});
  steps.push_back({{"call", "l.MoveFirst"}});
  for (const Line& l : lines) {
    let("l", "ADDRESSID", 10012);
    let("l", "PRODUCTUNITCODE", l.unit);
    let("l", "PARTNUMBER", l.part);
    let("l", "PRODUCTPRICE", l.price);
    let("l", "DISCOUNTPERC", 0.0);
    let("l", "DISCOUNTAMOUNT", 0.0);
    let("l", "LINEDISCOUNTAMOUNT", 0.0);
    let("l", "ORDERDISCOUNTAMOUNT", 0.0);
    let("l", "LINEAMOUNT", l.quantity * l.price);
    steps.push_back({{"call", "l.MoveNext"}});
  }
  steps.push_back({{"call", "basket.Save"}, {"args", {{{"$ref", "doc"}}}}});
  if (submit) {
    steps.push_back({{"new", "Vendra.Order"}, {"as", "order"}});
    steps.push_back({{"call", "order.SubmitBasket"}, {"args", {{{"$ref", "doc"}}}}});
  }
  return steps;
}

// The request that places the stored basket id as an order.
Json SubmitStoredRequest(const std::string& id) {
  return Json::array({{{"new", "Vendra.Basket"}, {"as", "basket"}},
                      {{"call", "basket.Restore"}, {"args", {id}}, {"as", "doc"}},
                      {{"new", "Vendra.Order"}, {"as", "order"}},
                      {{"call", "order.SubmitBasket"}, {"args", {{{"$ref", "doc"}}}}}});
}

class PostgresHostsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VENDRA_SKIP_WITHOUT_PG_SERVER();
    const std::string url = vendra_test::PgServerUrl();
    server_url_ = url;
    prefix_ = "vh_" + std::to_string(getpid()) + "_" + std::to_string(++counter_);
    home_ = dir_.path() / "host-a";
    const Outcome init = RunVendra(
        {"init", "--home", home_.string(), "--demo", "--database", vendra_test::PgUrlWithDatabase(url, prefix_)},
        dir_.path(), "init");
    ASSERT_EQ(init.code, 0) << init.err;
    // A second web server: a copy of the home, so it reaches the same
    // databases through the same platform.xml.
    fs::copy(home_, dir_.path() / "host-b", fs::copy_options::recursive);
    sales_cs_ = platform::data::ReadInstanceDatabases(home_ / "platform.xml").at("Vendra");
  }

  void TearDown() override {
    if (home_.empty() || !fs::exists(home_ / "platform.xml")) return;
    platform::data::ReleasePooledSessions();
    vendra_instance::DropServerDatabases(home_);
    platform::data::ReleasePooledSessions();
  }

  Outcome Script(const fs::path& home, const Json& steps, const std::string& tag) {
    const fs::path file = dir_.path() / (tag + ".json");
    std::ofstream(file) << steps.dump();
    return RunVendra({"--home", home.string(), "script", file.string()}, dir_.path(), tag);
  }

  int64_t Count(const std::string& sql) {
    auto c = std::make_shared<Connection>();
    c->Open(sales_cs_);
    const int64_t n = (*c->Execute(sql))[0].Value().ToLong();
    c->Close();
    return n;
  }

  static inline std::atomic<int> counter_{0};
  vendra_test::TemporaryDirectory dir_;
  std::string server_url_, prefix_, sales_cs_;
  fs::path home_;
};

std::string InList(const std::set<std::string>& ids) {
  std::string list;
  for (const std::string& id : ids) list += (list.empty() ? "'" : ", '") + id + "'";
  return "(" + list + ")";
}

TEST_F(PostgresHostsTest, TwoHostsHandOverEveryOrderExactlyOnce) {
  constexpr int kRounds = 4;
  std::mutex mutex;
  std::set<std::string> submitted;
  std::map<std::string, int> handed_over;  // order id -> runs that handed it over
  std::vector<std::string> failures;
  auto host = [&](const fs::path& home, const std::string& name) {
    for (int round = 0; round < kRounds; ++round) {
      const std::string tag = name + "-" + std::to_string(round);
      // Instance 2 takes its orders in the periodic run; instance 1 at once,
      // from the submitting host, in every third round.
      const Outcome placed = Script(home, BasketRequest(round % 3 == 2 ? 1 : 2, true), tag + "-submit");
      const Outcome run = RunVendra({"--home", home.string(), "handover", "--instance", "2"}, dir_.path(),
                                    tag + "-handover");
      std::lock_guard lock(mutex);
      if (placed.code != 0) {
        failures.push_back(tag + " submit: " + placed.out + placed.err);
      } else {
        submitted.insert(Json::parse(placed.out)[3]["result"].get<std::string>());
      }
      if (run.code != 0) failures.push_back(tag + " handover: " + run.err);
      std::istringstream lines(run.out);
      for (std::string line; std::getline(lines, line);) {
        if (line.rfind("handed over ", 0) == 0) ++handed_over[line.substr(12, 32)];
        if (line.rfind("refused", 0) == 0) failures.push_back(tag + ": " + line);
      }
    }
  };
  std::thread a(host, home_, "a"), b(host, dir_.path() / "host-b", "b");
  a.join();
  b.join();
  for (const std::string& f : failures) ADD_FAILURE() << f;
  failures.clear();
  ASSERT_EQ(submitted.size(), 2u * kRounds);
  // Orders waiting, and four runs at once, two from each host: each order
  // goes with one run, and the others find nothing left to take (no run
  // fails on another's claim).
  for (int i = 0; i < 6; ++i) {
    const Outcome placed = Script(home_, BasketRequest(2, true), "wait-" + std::to_string(i));
    ASSERT_EQ(placed.code, 0) << placed.out << placed.err;
    submitted.insert(Json::parse(placed.out)[3]["result"].get<std::string>());
  }
  std::vector<std::thread> runs;
  for (int r = 0; r < 4; ++r) {
    runs.emplace_back([&, r] {
      const fs::path home = r % 2 ? dir_.path() / "host-b" : home_;
      const Outcome run = RunVendra({"--home", home.string(), "handover", "--instance", "2"}, dir_.path(),
                                    "burst-" + std::to_string(r));
      std::lock_guard lock(mutex);
      if (run.code != 0) failures.push_back("burst handover: " + run.err);
      std::istringstream lines(run.out);
      for (std::string line; std::getline(lines, line);) {
        if (line.rfind("handed over ", 0) == 0) ++handed_over[line.substr(12, 32)];
      }
    });
  }
  for (auto& t : runs) t.join();
  for (const std::string& f : failures) ADD_FAILURE() << f;
  for (const auto& [id, runs] : handed_over) EXPECT_EQ(runs, 1) << id << " handed over by several runs";

  // The ERP holds one sales order per web order, on both instances.
  std::map<std::string, int> in_erp;
  for (const char* kro : {"1", "2"}) {
    const Outcome orders = RunVendra({"--home", home_.string(), "erp", "orders", kro}, dir_.path(), "erp");
    ASSERT_EQ(orders.code, 0) << orders.err;
    for (const Json& o : Json::parse(orders.out)) ++in_erp[o["WebOrderReference"].get<std::string>()];
  }
  for (const std::string& id : submitted) EXPECT_EQ(in_erp[id], 1) << id;
  EXPECT_EQ(in_erp.size(), submitted.size());

  // The sales database: every order taken over with its lines numbered, no
  // basket left, no claim left.
  const std::string ids = InList(submitted);
  const int64_t n = static_cast<int64_t>(submitted.size());
  EXPECT_EQ(Count("SELECT COUNT(*) FROM ORDERHEADER WHERE ORDERID IN " + ids +
                  " AND ORDERSTATUS = 1 AND SALESORDERNR <> ''"), n);
  EXPECT_EQ(Count("SELECT COUNT(DISTINCT SALESORDERNR) FROM ORDERHEADER WHERE ORDERID IN " + ids), n);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM ORDERLINE WHERE ORDERID IN " + ids + " AND SALESORDERNR <> ''"), 2 * n);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM ORDERHEADER"), n);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM BASKETHEADER WHERE BASKETID IN " + ids), 0);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM ORDERCLAIM"), 0);
}

TEST_F(PostgresHostsTest, ARunWhoseClaimMeetsAnotherRunsTakesWhatIsLeft) {
  std::vector<std::string> ids;
  for (int i = 0; i < 3; ++i) {
    const Outcome placed = Script(home_, BasketRequest(2, true), "place-" + std::to_string(i));
    ASSERT_EQ(placed.code, 0) << placed.out << placed.err;
    ids.push_back(Json::parse(placed.out)[3]["result"].get<std::string>());
  }
  // Another host's run is claiming the first order and has not committed:
  // this run reads that order as free, and its claim waits on the key.
  auto other = std::make_shared<Connection>();
  other->Open(sales_cs_);
  other->BeginTrans();
  other->Execute("INSERT INTO ORDERCLAIM (ORDERID, CLAIMID, CLAIMED) VALUES (?, 'OTHERHOST', GETDATE())",
                 {platform::Variant(ids[0])});
  Outcome run;
  std::thread handover([&] {
    run = RunVendra({"--home", home_.string(), "handover", "--instance", "2"}, dir_.path(), "collide");
  });
  auto admin = std::make_shared<Connection>();
  admin->Open(platform::data::postgres::ConnectionStringFromUrl(server_url_, "postgres"));
  const std::string waiting = "SELECT COUNT(*) FROM pg_stat_activity WHERE datname = '" + prefix_ +
                              "_vendra' AND wait_event_type = 'Lock'";
  for (int i = 0; i < 300 && (*admin->Execute(waiting))[0].Value().ToLong() == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  admin->Close();
  other->CommitTrans();
  handover.join();
  // The run took the two orders left, not failing on the other's claim.
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("instance 2: 2 handed over, 0 refused"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find(ids[0]), std::string::npos) << run.out;
  // The other host lets its claim go without handing over: the next run takes the order.
  other->Execute("DELETE FROM ORDERCLAIM WHERE CLAIMID = 'OTHERHOST'");
  other->Close();
  const Outcome next = RunVendra({"--home", home_.string(), "handover", "--instance", "2"}, dir_.path(), "next");
  EXPECT_NE(next.out.find("handed over " + ids[0]), std::string::npos) << next.out << next.err;
}

TEST_F(PostgresHostsTest, ASalesDatabaseGoneMidSubmissionLeavesNothingAndComesBack) {
  const Outcome stored = Script(home_, BasketRequest(2, false), "store");
  ASSERT_EQ(stored.code, 0) << stored.out << stored.err;
  const std::string id = Json::parse(stored.out)[3]["result"].get<std::string>();
  const std::string database = prefix_ + "_vendra";

  // An operator's session holds ORDERHEADER, so the submission stops after
  // copying the addresses; then the database goes away under it and takes
  // no new connections (what a stopped server looks like to the program).
  auto admin = std::make_shared<Connection>();
  admin->Open(platform::data::postgres::ConnectionStringFromUrl(server_url_, "postgres"));
  auto holder = std::make_shared<Connection>();
  holder->Open(sales_cs_);
  holder->BeginTrans();
  holder->Execute("LOCK TABLE ORDERHEADER IN EXCLUSIVE MODE");
  std::thread submit([&] {
    const Outcome o = Script(home_, SubmitStoredRequest(id), "submit-down");
    EXPECT_EQ(o.code, 1) << o.out;
    const Json answers = Json::parse(o.out);
    ASSERT_TRUE(answers.back().contains("error")) << o.out;
    const std::string text = answers.back()["error"]["description"].get<std::string>();
    // The fixed layout, with the server's own words.
    EXPECT_NE(text.find("ERROR 0x"), std::string::npos) << text;
    EXPECT_NE(text.find(" METHOD: "), std::string::npos) << text;
    EXPECT_NE(text.find("Order.SubmitBasket"), std::string::npos) << text;
    EXPECT_NE(text.find("connection"), std::string::npos) << text;
  });
  const std::string waiting = "SELECT COUNT(*) FROM pg_stat_activity WHERE datname = '" + database +
                              "' AND wait_event_type = 'Lock'";
  for (int i = 0; i < 300 && (*admin->Execute(waiting))[0].Value().ToLong() == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  admin->Execute("ALTER DATABASE " + database + " WITH ALLOW_CONNECTIONS false");
  admin->Execute("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '" + database +
                 "' AND pid <> pg_backend_pid()");
  submit.join();
  holder.reset();
  platform::data::ReleasePooledSessions();

  // While it is away, a new request fails at once with the server's text.
  const Outcome refused = Script(home_, SubmitStoredRequest(id), "submit-refused");
  EXPECT_EQ(refused.code, 1);
  EXPECT_NE(refused.out.find("not currently accepting connections"), std::string::npos) << refused.out;

  admin->Execute("ALTER DATABASE " + database + " WITH ALLOW_CONNECTIONS true");
  // Nothing of the interrupted submission stayed: no order, no address
  // copies, the basket whole.
  EXPECT_EQ(Count("SELECT COUNT(*) FROM ORDERHEADER WHERE ORDERID = '" + id + "'"), 0);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM ADDRESSHISTORY WHERE ORDERID = '" + id + "'"), 0);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM BASKETLINE WHERE BASKETID = '" + id + "'"), 2);

  // Back again, the same request places the order.
  const Outcome placed = Script(home_, SubmitStoredRequest(id), "submit-back");
  EXPECT_EQ(placed.code, 0) << placed.out << placed.err;
  EXPECT_EQ(Count("SELECT COUNT(*) FROM ORDERLINE WHERE ORDERID = '" + id + "'"), 2);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM BASKETHEADER WHERE BASKETID = '" + id + "'"), 0);
  admin->Close();
}

}  // namespace
