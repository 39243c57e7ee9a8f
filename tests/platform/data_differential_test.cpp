// The differential test of automatic parameterisation: statements run once
// with the statement cache off (each text compiled as written) and once with
// it on (literals taken out and bound), on two copies of the same databases,
// and must give the same answer (rows with their kinds and values, field
// descriptions, rows changed, or the same error) and leave the same rows,
// storage classes and values behind.
//
// The statements come from a built-in set of hostile texts and, when
// VENDRA_SQL_CORPUS_REPLAY names a folder, from a corpus the test suites
// recorded (VENDRA_SQL_CORPUS, see tests/support/sql_corpus.h; ctest runs the
// suites recording, then this test).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/core/clock.h"
#include "platform/core/com_error.h"
#include "platform/data/connection.h"
#include "platform/data/driver.h"
#include "platform/data/sqlite/sqlite_driver.h"
#include "tests/support/sql_corpus.h"
#include "tests/support/test_instance.h"

namespace platform::data {
namespace {

using sqlite::RecordedStatement;

std::string ValueText(const Variant& v) {
  std::string out = std::to_string(static_cast<int>(v.type())) + ":";
  if (v.type() == VarType::Double) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%a", *v.Get<double>());
    return out + buf;
  }
  if (v.type() == VarType::Date) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%a", v.Get<Date>()->serial());
    return out + buf;
  }
  if (v.IsEmpty() || v.IsNull()) return out;
  return out + v.ToString();
}

std::string ResultText(const QueryResult& r) {
  std::string out = "changed " + std::to_string(r.rows_affected) + (r.has_rows ? " rows\n" : "\n");
  out += "table " + r.table + "\n";
  for (const FieldInfo& f : r.fields) {
    out += f.name + " " + std::to_string(f.type) + " " + std::to_string(f.defined_size) + " " + f.base_table +
           "." + f.base_column + (f.key ? " key" : "") + (f.nullable ? " null" : "") +
           (f.has_default ? " default" : "") + (f.row_id ? " rowid" : "") + "\n";
  }
  for (const Row& row : r.rows) {
    for (const Variant& v : row.values) out += ValueText(v) + "|";
    out += "\n";
  }
  return out;
}

// Two copies of a set of catalogs; statements run on the first with the
// cache off and on the second with it on.
class Twin {
 public:
  explicit Twin(const std::filesystem::path& seed) {
    for (const auto* dir : {&off_.path(), &on_.path()}) {
      std::error_code ec;
      if (!seed.empty()) std::filesystem::copy(seed, *dir, std::filesystem::copy_options::recursive, ec);
    }
  }
  ~Twin() {
    sessions_.clear();
    sqlite::SetAutoParameterisation(true);
    ReleasePooledSessions();
  }

  // The answer of one statement on both sides; false when they differ.
  bool Run(const RecordedStatement& s, std::string* off_text, std::string* on_text) {
    *off_text = RunOn(false, s);
    *on_text = RunOn(true, s);
    return *off_text == *on_text;
  }

  // Every table of every catalog: rows, storage classes and exact values.
  std::string Contents(bool on) {
    std::string out;
    for (const std::string& catalog : catalogs_) {
      Session& s = SessionOf(on, catalog);
      sqlite::SetAutoParameterisation(false);
      for (const std::string& table : s.TableNames()) {
        std::string select, order;
        int n = 0;
        for (const ColumnDescription& c : s.DescribeTable(table)) {
          const std::string q = "\"" + c.name + "\"";
          if (!select.empty()) select += ", ";
          select += "typeof(" + q + "), quote(" + q + "), CASE WHEN typeof(" + q + ") = 'real' THEN " + q + " END";
          order += (order.empty() ? "" : ", ") + std::to_string(++n * 3 - 1);
        }
        if (select.empty()) continue;
        out += catalog + "." + table + "\n" +
               ResultText(s.Run("SELECT " + select + " FROM \"" + table + "\" ORDER BY " + order, {}, 0));
      }
    }
    return out;
  }

 private:
  std::string RunOn(bool on, const RecordedStatement& s) {
    sqlite::SetAutoParameterisation(on);
    try {
      Session& session = SessionOf(on, s.catalog);
      if (s.script) {
        session.ExecuteScript(s.sql);
        return "script done";
      }
      return ResultText(session.Run(s.sql, s.params, 0));
    } catch (const ComError& e) {
      return "error " + std::to_string(e.number()) + " " + e.description();
    }
  }

  Session& SessionOf(bool on, const std::string& catalog) {
    auto& session = sessions_[{on, catalog}];
    if (!session) {
      const auto& dir = on ? on_.path() : off_.path();
      const std::string cs = "Provider=SQLite;Data Source=" + dir.string() + ";Initial Catalog=" + catalog;
      CreateDatabaseFile(cs);  // a catalog a test made for itself starts empty
      session = FindDriver("SQLite").Open(ConnectionSettings::Parse(cs));
      catalogs_.insert(catalog);
    }
    return *session;
  }

  vendra_test::TemporaryDirectory off_, on_;
  std::map<std::pair<bool, std::string>, std::unique_ptr<Session>> sessions_;
  std::set<std::string> catalogs_;
};

void Replay(Twin& twin, const std::vector<RecordedStatement>& corpus) {
  int differences = 0;
  for (const RecordedStatement& s : corpus) {
    std::string off, on;
    if (!twin.Run(s, &off, &on) && ++differences <= 20) {
      ADD_FAILURE() << s.catalog << ": " << s.sql << "\n--- as written:\n" << off << "--- parameterised:\n" << on;
    }
  }
  EXPECT_EQ(differences, 0);
  EXPECT_EQ(twin.Contents(false), twin.Contents(true));
}

RecordedStatement Statement(std::string sql) { return RecordedStatement{"Diff", std::move(sql), {}, false}; }

TEST(AutoParamDifferentialTest, HostileAndEdgeStatements) {
  ScopedFixedClock clock(Date::FromParts(2026, 12, 8, 14, 30));
  Twin twin({});
  std::vector<RecordedStatement> corpus = {
      {"Diff",
       "CREATE TABLE T (K INTEGER PRIMARY KEY, A NVARCHAR(50) COLLATE NOCASE, N INT, R FLOAT, M MONEY, "
       "D DATETIME, F BIT, B BLOB, X)",
       {}, false},
      {"Diff", "CREATE TRIGGER T_LEN BEFORE INSERT ON T WHEN length(NEW.A) > 20 "
               "BEGIN SELECT RAISE(ABORT, 'A may hold at most 20 characters'); END", {}, false},
  };
  const std::vector<std::string> statements = {
      "INSERT INTO T (K, A, N, R, M, D, F, B, X) VALUES (1, 'x'' -- y', 5, 5.0, 12.5, '2026-12-08T14:30:00', 1, X'00FF', '5')",
      "INSERT INTO T (K, A, N, R, M, D, F, B, X) VALUES (2, '/* ? :n @n $1 ; */', -5, -0.0, 0.1, GETDATE(), 0, X'', 5)",
      "INSERT INTO T (K, A, N, R, X) VALUES (3, N'ÆØÅ Grüße '' ; ?', 99999999999999999999, 1e308, 5.0)",
      "INSERT INTO T (K, A, N, R, X) VALUES (4, ''';DROP TABLE T;--', -9223372036854775808, "
      "(5404319552844595*7450580596923828125e-27), 9223372036854775807)",
      "INSERT INTO T (K, A, N, R, X) VALUES (5, '12', '12', '12', '12.0')",
      "INSERT INTO T (K, A, X) VALUES (6, 'a string longer than twenty characters', 1)",
      "INSERT INTO T (K, A) VALUES (1, 'duplicate')",
      "SELECT K, A, N, R, M, D, F, B, X FROM T WHERE A = 'X'' -- Y' OR N = '5' OR X = 5 ORDER BY 1",
      "SELECT TOP 2 A, 'const', 1 + 1 FROM T WHERE K > 0 ORDER BY 1 DESC",
      "SELECT N, COUNT(*), SUM(R) FROM T WHERE K < 100 GROUP BY 1 HAVING COUNT(*) > 0 ORDER BY 1",
      "SELECT K FROM T WHERE X = '5' AND K IN (1, 2, 3) AND A LIKE 'x%' ESCAPE '\\'",
      "SELECT K FROM T WHERE X > -1 AND R BETWEEN -1e309 AND 1e309 AND D < '2027-01-01'",
      "SELECT K FROM T WHERE D IS NULL OR B = X'00FF' OR CAST(X AS NVARCHAR(10)) = '5'",
      "SELECT K, A FROM T WHERE A = 'x'' -- y' COLLATE BINARY",
      "SELECT * FROM T WHERE K = 3 /* 'comment' 5 */ -- 'trailing' 6",
      "UPDATE T SET R = R * 2.5, N = N - -1, X = X || 'z' WHERE K = 1",
      "UPDATE T SET F = 2, M = 1e-4 WHERE D <> '' AND K = 2",
      "UPDATE T SET N = 12, R = 12, X = 0.30000000000000004 WHERE K IN (3, 5)",
      "SELECT K FROM T WHERE NOPE = 'x'",
      "SELECT K FROM T WHERE K = 1; DELETE FROM T",
      "SELECT K FROM T WHERE A = 'open",
      "SELECT K FROM T WHERE K = 0x10 OR K = 12abc",
      "SELECT K FROM T ORDER BY 12",
      "DELETE FROM T WHERE K = 4 AND A = ''';DROP TABLE T;--'",
  };
  for (const std::string& s : statements) corpus.push_back(Statement(s));
  Replay(twin, corpus);
}

TEST(AutoParamDifferentialTest, RecordedCorpusOfTheSuites) {
  const char* folder = std::getenv("VENDRA_SQL_CORPUS_REPLAY");
  if (!folder || !*folder) GTEST_SKIP() << "no corpus: VENDRA_SQL_CORPUS_REPLAY is not set";
  const std::vector<RecordedStatement> corpus = vendra_test::ReadSqlCorpus(folder);
  ASSERT_GT(corpus.size(), 1000u) << "the suites recorded too few statements";
  // Both copies start from the demo instance's databases.
  std::filesystem::path seed;
  vendra_test::TestInstance instance;
  ReleasePooledSessions();
  ScopedFixedClock clock(Date::FromParts(2026, 12, 8, 14, 30));
  Twin twin(instance.home() / "data");
  Replay(twin, corpus);
  std::printf("replayed %zu statements both ways\n", corpus.size());
}

}  // namespace
}  // namespace platform::data
