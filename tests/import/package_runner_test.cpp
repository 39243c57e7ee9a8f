// Running packages: the order of steps under their precedence, the package
// log, and a data-driven-query task's rows, errors and bound values.

#include "platform/dts/package_runner.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/data/connection.h"
#include "tests/support/test_instance.h"

namespace platform::dts {
namespace {

std::string ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

Task Script(const std::string& name, const std::string& body) {
  Task t;
  t.name = name;
  t.kind = TaskKind::kActiveScript;
  t.script = "function Main()\n" + body + "\nend";
  return t;
}

Step StepFor(const std::string& name, std::vector<Precedence> precedence = {}) {
  Step s;
  s.name = name;
  s.description = name;
  s.task_name = name;
  s.precedence = std::move(precedence);
  return s;
}

// A step's task appends its name to the global variable Trace and succeeds,
// or fails when its name starts with "Fail".
Package Chain(std::vector<Step> steps) {
  Package p;
  p.name = "Chain";
  p.global_variables = {{"Trace", ""}};
  for (const Step& s : steps) {
    const bool fails = s.name.rfind("Fail", 0) == 0;
    p.tasks.push_back(Script(s.name, "DTSGlobalVariables('Trace').Value = DTSGlobalVariables('Trace').Value .. '" +
                                         s.name + ";'\nreturn " +
                                         (fails ? "DTSTaskExecResult_Failure" : "DTSTaskExecResult_Success")));
  }
  p.steps = std::move(steps);
  return p;
}

std::string Outcomes(const RunResult& r) {
  std::string text;
  for (const StepOutcome& o : r.steps) {
    const char* what = o.result == StepResult::kSucceeded ? "ok"
                       : o.result == StepResult::kFailed  ? "failed"
                                                          : "not run";
    text += o.step + ":" + what + " ";
  }
  return text;
}

TEST(Precedence, StepsRunAsTheirConstraintsAllow) {
  using B = PrecedenceBasis;
  struct Case {
    const char* what;
    std::vector<Step> steps;
    const char* outcomes;
  };
  const Case cases[] = {
      {"a chain on completion runs through a failure",
       {StepFor("A"), StepFor("FailB", {{"A", B::kCompletion}}), StepFor("C", {{"FailB", B::kCompletion}})},
       "A:ok FailB:failed C:ok "},
      {"success after a failure: the waiting step and all behind it do not run",
       {StepFor("FailA"), StepFor("B", {{"FailA", B::kSuccess}}), StepFor("C", {{"B", B::kCompletion}}),
        StepFor("D", {{"C", B::kCompletion}})},
       "FailA:failed B:not run C:not run D:not run "},
      {"on failure runs only after a failure",
       {StepFor("FailA"), StepFor("B", {{"FailA", B::kFailure}}), StepFor("C"), StepFor("D", {{"C", B::kFailure}})},
       "FailA:failed B:ok C:ok D:not run "},
      {"the run order follows the constraints, not the order of the steps",
       {StepFor("Last", {{"Middle", B::kCompletion}}), StepFor("Middle", {{"First", B::kSuccess}}),
        StepFor("First")},
       "First:ok Middle:ok Last:ok "},
      {"a step waiting for one that is not there never runs",
       {StepFor("A", {{"Ghost", B::kCompletion}}), StepFor("B")},
       "B:ok A:not run "},
      {"a step that fails the package on error stops it",
       {StepFor("A"), [] { Step s = StepFor("FailB"); s.fail_package_on_error = true; return s; }(),
        StepFor("C")},
       "A:ok FailB:failed C:not run "},
      {"two steps waiting for each other never run",
       {StepFor("A", {{"B", B::kCompletion}}), StepFor("B", {{"A", B::kCompletion}})},
       "A:not run B:not run "},
  };
  for (const Case& c : cases) {
    const RunResult r = PackageRunner(Chain(c.steps)).Run();
    EXPECT_EQ(Outcomes(r), c.outcomes) << c.what;
    EXPECT_EQ(r.succeeded, std::string(c.outcomes).find("failed") == std::string::npos) << c.what;
  }
}

TEST(Precedence, PackageLogNamesEveryStepAndWhy) {
  vendra_test::TemporaryDirectory dir;
  Package p = Chain({StepFor("FailA"), StepFor("B", {{"FailA", PrecedenceBasis::kSuccess}})});
  p.log_file_name = (dir.path() / "logs" / "Masterlog.txt").string();
  std::ostringstream echo;
  RunOptions options;
  options.echo = &echo;
  PackageRunner(p, options).Run();
  const std::string log = ReadFile(dir.path() / "logs" / "Masterlog.txt");
  EXPECT_NE(log.find("Step 'FailA' failed: the script reported failure"), std::string::npos) << log;
  EXPECT_NE(log.find("Step 'B' was not run: it waits for the success of 'FailA', which failed"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Package 'Chain' failed"), std::string::npos);
  EXPECT_EQ(echo.str(), log);
}

TEST(ScriptTask, ErrorsFailTheStepWithTheirMessage) {
  Package p;
  p.name = "Scripts";
  p.steps = {StepFor("Broken"), StepFor("Raises"), StepFor("NoMain"), StepFor("Returns")};
  p.tasks = {Script("Broken", "this is not Lua"), Script("Raises", "error('boom')"),
             Task{}, Script("Returns", "return {}")};
  p.tasks[2].name = "NoMain";
  p.tasks[2].script = "x = 1";
  const RunResult r = PackageRunner(p).Run();
  ASSERT_EQ(r.steps.size(), 4u);
  for (const StepOutcome& o : r.steps) EXPECT_EQ(o.result, StepResult::kFailed) << o.step;
  EXPECT_NE(r.Find("Broken")->message.find("does not compile"), std::string::npos);
  EXPECT_NE(r.Find("Raises")->message.find("boom"), std::string::npos);
  EXPECT_NE(r.Find("NoMain")->message.find("no function Main"), std::string::npos);
  EXPECT_NE(r.Find("Returns")->message.find("not a result code"), std::string::npos);
}

// A data-driven-query task over a small database of its own.
class DataTask : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string cs =
        "Provider=SQLite;Data Source=" + dir_.path().string() + ";Initial Catalog=Shop";
    data::CreateDatabaseFile(cs);
    auto c = std::make_shared<data::Connection>();
    c->Open(cs);
    data::ExecuteScript(*c, "CREATE TABLE ITEM (CODE NVARCHAR(20) PRIMARY KEY, NAME NVARCHAR(40) NOT NULL)");
    c->Close();
    data::ReleasePooledSessions();
  }

  Package Make(const std::string& file_text, const std::string& main_body) {
    std::ofstream(dir_.path() / "items", std::ios::binary) << file_text;
    Package p;
    p.name = "Items";
    Connection db;
    db.id = 1;
    db.name = "Shop";
    db.provider = "SQLOLEDB";
    db.data_source = dir_.path().string();
    db.catalog = "Shop";
    Connection file;
    file.id = 2;
    file.name = "items";
    file.provider = kFlatFileProvider;
    file.Set("Data Source", (dir_.path() / "items").string());
    file.Set("Column Delimiter", "\t");
    file.Set("Max characters per delimited column", "255");
    p.connections = {db, file};
    p.steps = {StepFor("Load")};
    Task t;
    t.name = "Load";
    t.kind = TaskKind::kDataDrivenQuery;
    t.source_connection_id = 2;
    t.destination_connection_id = 1;
    t.insert_sql = "INSERT INTO ITEM (CODE, NAME) VALUES (?, ?)";
    t.insert_columns = {"CODE", "NAME"};
    t.update_sql = "UPDATE ITEM SET NAME = ? WHERE CODE = ?";
    t.update_columns = {"NAME", "CODE"};
    t.lookups = {{"Find", 1, "SELECT CODE FROM ITEM WHERE CODE = ?"}};
    t.exception_file = (dir_.path() / "Load.txt").string();
    t.maximum_error_count = 3;
    t.progress_row_count = 2;
    t.script = "function Main()\n" + main_body + "\nend";
    p.tasks = {t};
    return p;
  }

  std::string Items() {
    sqlite3* db = nullptr;
    sqlite3_open((dir_.path() / "Shop.db").c_str(), &db);
    std::string text;
    sqlite3_exec(
        db, "SELECT CODE || '=' || NAME FROM ITEM ORDER BY CODE",
        [](void* out, int, char** v, char**) {
          *static_cast<std::string*>(out) += std::string(v[0]) + ";";
          return 0;
        },
        &text, nullptr);
    sqlite3_close(db);
    return text;
  }

  vendra_test::TemporaryDirectory dir_;
};

constexpr char kUpsert[] = R"lua(
  DTSDestination["CODE"] = DTSSource("Col001")
  DTSDestination.NAME = DTSSource.Col002
  if DTSLookups("Find").Execute(DTSSource("Col001")) ~= nil then return DTSTransformstat_UpdateQuery end
  return DTSTransformstat_InsertQuery)lua";

TEST_F(DataTask, InsertsUpdatesAndBindsValuesAsTheyAre) {
  const Package p = Make("A\tone\r\nB\tO'Brien'); DROP TABLE ITEM; --\r\nA\tuno\r\n", kUpsert);
  const RunResult r = PackageRunner(p).Run();
  ASSERT_TRUE(r.succeeded) << r.steps[0].message;
  EXPECT_EQ(r.steps[0].inserted, 2);
  EXPECT_EQ(r.steps[0].updated, 1);
  EXPECT_EQ(Items(), "A=uno;B=O'Brien'); DROP TABLE ITEM; --;");
}

TEST_F(DataTask, FailingRowsGoToTheExceptionFileAndFailTheStep) {
  const Package p = Make(
      "A\tone\r\nB\r\nC\tthree\r\nD\t\r\nE\tfive\r\n",
      std::string("if DTSSource('Col001') == 'C' then error('no C') end\n") + kUpsert);
  const RunResult r = PackageRunner(p).Run();
  EXPECT_FALSE(r.succeeded);
  const StepOutcome& o = r.steps[0];
  EXPECT_EQ(o.result, StepResult::kFailed);
  EXPECT_EQ(o.errors, 3);  // B: one column; C: script error; D: NAME is Null
  EXPECT_NE(o.message.find("stopped: the failing rows reached the maximum of 3"), std::string::npos)
      << o.message;
  EXPECT_EQ(Items(), "A=one;") << "E comes after the maximum: the task stopped";
  const std::string exceptions = ReadFile(dir_.path() / "Load.txt");
  EXPECT_NE(exceptions.find("2|Row 2 has 1 columns; the rows of the file have 2|B\r\n"),
            std::string::npos)
      << exceptions;
  EXPECT_NE(exceptions.find("3|The transformation failed: Load:"), std::string::npos);
  EXPECT_NE(exceptions.find("|C|three\r\n"), std::string::npos);
  EXPECT_NE(exceptions.find("4|The insert failed:"), std::string::npos);
  EXPECT_NE(exceptions.find("|D|NULL\r\n"), std::string::npos);
}

TEST_F(DataTask, ResultsSkipAndExceptionRows) {
  const Package p = Make("A\tone\r\nB\ttwo\r\nC\tthree\r\n",
                         "if DTSSource('Col001') == 'B' then return DTSTransformStat_SkipRow end\n"
                         "if DTSSource('Col001') == 'C' then return DTSTransformStat_ExceptionRow end\n" +
                             std::string(kUpsert));
  const RunResult r = PackageRunner(p).Run();
  EXPECT_EQ(r.steps[0].skipped, 1);
  EXPECT_EQ(r.steps[0].errors, 1);
  EXPECT_EQ(Items(), "A=one;");
  EXPECT_NE(ReadFile(dir_.path() / "Load.txt").find("3|The transformation reported an exception row|C|three"),
            std::string::npos);
}

TEST_F(DataTask, MissingSourceOrCatalogFailsTheStepClearly) {
  Package p = Make("A\tone\r\n", kUpsert);
  std::filesystem::remove(dir_.path() / "items");
  RunResult r = PackageRunner(p).Run();
  EXPECT_EQ(r.steps[0].result, StepResult::kFailed);
  EXPECT_NE(r.steps[0].message.find("does not exist"), std::string::npos) << r.steps[0].message;

  p = Make("A\tone\r\n", kUpsert);
  p.connections[0].catalog = "Common";
  r = PackageRunner(p).Run();
  EXPECT_NE(r.steps[0].message.find("cannot open database 'Common'"), std::string::npos)
      << r.steps[0].message;
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "Common.db")) << "nothing is created";
  p.connections[0].catalog.clear();
  r = PackageRunner(p).Run();
  EXPECT_NE(r.steps[0].message.find("names no catalog"), std::string::npos);
  // A catalog is a database of the server, never a path to somewhere else.
  p.connections[0].catalog = "../" + dir_.path().filename().string() + "/Shop";
  r = PackageRunner(p).Run();
  EXPECT_NE(r.steps[0].message.find("is not a catalog name"), std::string::npos) << r.steps[0].message;
}

TEST_F(DataTask, ProgressIsLoggedEveryNRows) {
  const Package p = Make("A\t1\r\nB\t2\r\nC\t3\r\nD\t4\r\nE\t5\r\n", kUpsert);
  std::ostringstream echo;
  RunOptions options;
  options.echo = &echo;
  PackageRunner(p, options).Run();
  EXPECT_NE(echo.str().find("Progress count in Step 'Load': 2 rows"), std::string::npos);
  EXPECT_NE(echo.str().find("Progress count in Step 'Load': 4 rows"), std::string::npos);
  EXPECT_NE(echo.str().find("Step 'Load' succeeded: 5 rows, 5 inserted, 0 updated, 0 skipped, 0 errors"),
            std::string::npos)
      << echo.str();
}

}  // namespace
}  // namespace platform::dts
