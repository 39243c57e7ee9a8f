// The product-import package on a demo instance: what prodloader stores,
// each task's rules on small export files, the precedence of the IDNO
// steps, and a run cut off at any row converging on the same catalogue.

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "apps/instance/demo_exports.h"
#include "import/command_line.h"
#include "import/prodloader_package.h"
#include "platform/core/com_error.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/dts/package_runner.h"
#include "platform/dts/package_store.h"
#include "tests/support/driver_text.h"
#include "tests/support/test_instance.h"

namespace prodloader {
namespace {

namespace fs = std::filesystem;
using platform::dts::PackageRunner;
using platform::dts::RunResult;
using platform::dts::StepResult;

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Rows of a query on a catalog as "a|b|c;" text.
// A cell as SQLite's own text of it: NULL, flags 1/0, a whole REAL as "3.0".
std::string CellText(const platform::Variant& v) {
  if (v.IsMissing()) return "NULL";
  if (v.type() == platform::VarType::Boolean) return *v.Get<bool>() ? "1" : "0";
  if (v.type() == platform::VarType::Double) {
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", *v.Get<double>());
    std::string out = text;
    if (out.find_first_of(".eEn") == std::string::npos) out += ".0";
    return out;
  }
  return v.ToString();
}

std::string Query(const fs::path& db_file, const std::string& sql) {
  if (vendra_test::OnPostgres()) {
    // The instance keeps the catalog on the server: read it through the
    // data layer, which sends the file's connection string there.
    platform::data::Connection connection;
    connection.Open("Provider=SQLite;Data Source=" + db_file.parent_path().string() +
                    ";Initial Catalog=" + db_file.stem().string());
    std::string text;
    try {
      for (auto rs = connection.Execute(sql); !rs->Eof(); rs->MoveNext()) {
        for (int32_t i = 0; i < rs->FieldCount(); ++i)
          text += std::string(i ? "|" : "") + CellText(rs->ValueAt(i));
        text += ";";
      }
    } catch (const platform::ComError& e) {
      text = "ERROR " + e.description();
    }
    connection.Close();
    return text;
  }
  sqlite3* db = nullptr;
  sqlite3_open_v2(db_file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  std::string text;
  char* error = nullptr;
  sqlite3_exec(
      db, sql.c_str(),
      [](void* out, int n, char** v, char**) {
        auto& s = *static_cast<std::string*>(out);
        for (int i = 0; i < n; ++i) s += std::string(i ? "|" : "") + (v[i] ? v[i] : "NULL");
        s += ";";
        return 0;
      },
      &text, &error);
  if (error) {
    text = std::string("ERROR ") + error;
    sqlite3_free(error);
  }
  sqlite3_close(db);
  return text;
}

class ImportPackage : public vendra_test::InstanceTest {
 protected:
  Settings MakeSettings() {
    Settings s;
    s.DbServer = (home() / "data").string();
    s.KelmorDb = "Kelmor";
    s.BrevaneDb = "Brevane";
    s.VornVersion = "4c";
    s.SchemeFolder = (home() / "exchange").string();
    s.LogFolder = (home() / "logs" / "import logs").string();
    return s;
  }
  fs::path LogFolder() { return home() / "logs" / "import logs" / "Prodloader_4c_Kelmor"; }
  fs::path Brevane() { return home() / "data" / "Brevane.db"; }

  void Write(const std::string& file, const std::string& text) {
    std::ofstream(home() / "exchange" / file, std::ios::binary) << text;
  }
  // Small export files: two units, two groups, a few items and IDNOs.
  void WriteSmall() {
    Write("tcmcs001", "PCS\tPieces\r\nBAG\t\r\nDRM\tDrum\r\n");
    Write("tcmcs044", "\"Fasteners\"\t\"Mechanical, new\"\r\n\"Drums\"\t\"Containers\"\r\n");
    Write("tiitm001",
          // part, description, supplier, -, type, unit, commodity, -, tax, company, lead time, category
          "N-1\tFirst\t  S2001\tx\t3\tPCS\t7318\t\tX01\t100\t5\tFasteners\r\n"
          "N-2\t\tS2999\tx\t1\tDRM\t9999\t\t02\t100\t6\tDrums\r\n"
          "N-3\tThird\tS2002\tx\t2\tBOX\t\t\tV07\t100\t7\tDrums\r\n"
          "N-4\tFourth\tS2003\tx\t0\tXYZ\t8413\t\tV01\t100\t8\tDrums\r\n"
          "FA-M8X30\tHexagon bolt M8 x 30, zinc plated\tS2001\tx\t0\tBOX\t7318\t\tV01\t100\t3\tDrums\r\n");
    Write("tdlra010", "\"ID1\"\t\"1.5\"\t\"WH1\"\t\"P1\"\t\"N-1\"\r\n\"ID2\"\t\"2\"\t\"WH2\"\t\"P2\"\t\"N-2\"\r\n");
  }
  RunResult Run(int64_t interrupt_after = 0) {
    platform::dts::RunOptions options;
    options.interrupt_after_rows = interrupt_after;
    return PackageRunner(BuildPackage(MakeSettings()), options).Run();
  }
};

TEST_F(ImportPackage, BuildsThePackageOfTheImport) {
  const auto p = BuildPackage(MakeSettings());
  EXPECT_EQ(p.name, "Prodloader_4c_Kelmor");
  EXPECT_EQ(p.log_file_name, (LogFolder() / "Masterlog.txt").string());
  EXPECT_EQ(p.max_concurrent_steps, 4);
  ASSERT_EQ(p.global_variables.size(), 2u);
  EXPECT_EQ(p.global_variables[0].value, "<not displayable>");
  EXPECT_EQ(p.global_variables[1].value, "2.7.0");
  std::string ids;
  for (const auto& c : p.connections) ids += std::to_string(c.id) + " ";
  EXPECT_EQ(ids, "26 12 13 14 18 16 10 9 28 29 30 31 27 ");
  EXPECT_EQ(p.FindConnection(26)->catalog, "Kelmor");
  EXPECT_EQ(p.FindConnection(26)->connection_timeout, 0);
  EXPECT_EQ(p.FindConnection(28)->connection_timeout, 60);
  EXPECT_EQ(p.FindConnection(29)->Get("Text Qualifier"), "\"");
  EXPECT_EQ(p.FindConnection(10)->Get("Text Qualifier"), "");
  EXPECT_EQ(p.FindConnection(9)->Get("Data Source"), (home() / "exchange" / "tcmcs001").string());
  ASSERT_EQ(p.steps.size(), 10u);
  ASSERT_EQ(p.tasks.size(), 10u);
  EXPECT_EQ(p.tasks[2].description, "Import Manufacturers");
  EXPECT_EQ(p.tasks[9].description, "PRODUCTIDNO_DELETE_USED_IDNO");
  EXPECT_EQ(p.FindStep("DTSStep_DTSExecuteSQLTask_1")->precedence[0].step, "Import_Products");
  EXPECT_EQ(p.FindStep("DTSStep_DTSExecuteSQLTask_1")->precedence[0].basis,
            platform::dts::PrecedenceBasis::kSuccess);
}

TEST_F(ImportPackage, EachTaskAppliesItsRowRules) {
  WriteSmall();
  const RunResult r = Run();
  for (const auto& o : r.steps) EXPECT_EQ(o.result, StepResult::kSucceeded) << o.step << ": " << o.message;
  const fs::path db = Brevane();
  // Units: the one without a description is skipped.
  EXPECT_EQ(Query(db, "SELECT UNITCODE, UNITDESCRIPTION FROM UNIT WHERE UNITCODE IN ('PCS','BAG','DRM') ORDER BY 1"),
            "DRM|Drum;PCS|Pieces;");
  // Manufacturers: leading blanks go; a code without a supplier is its own name.
  EXPECT_EQ(Query(db, "SELECT MANUFACTURERID, MANUFACTURERNAME FROM MANUFACTURER WHERE MANUFACTURERID IN ('S2001','S2999') ORDER BY 1"),
            "S2001|Brandt Fasteners GmbH;S2999|S2999;");
  // Products: type 3 configurable, 1 and 2 service items; the last two
  // characters of the tax code, a code not found is NULL; an unknown
  // commodity is NULL; no description gives the part number; an unknown
  // unit skips the product; an existing part number is updated in place.
  EXPECT_EQ(Query(db, "SELECT PARTNUMBER, PRODUCTDESCRIPTION, MANUFACTURERID, UNITCODE, CONFIGURABLE, SERVICEITEM, "
                      "COMMODITYCODE, BUSINESSPARTNERID, TAXCODE, DELIVERYLEADTIME, PRODUCTCATEGORY FROM PRODUCT "
                      "WHERE PARTNUMBER LIKE 'N-%' ORDER BY 1"),
            "N-1|First|S2001|PCS|1|0|7318|2001|01|5|Fasteners;"
            "N-2|N-2|S2999|DRM|0|1|NULL|NULL|02|6|Drums;"
            "N-3|Third|S2002|BOX|0|1|NULL|2002|NULL|7|Drums;");
  EXPECT_EQ(Query(db, "SELECT PRODUCTID, PRODUCTCATEGORY FROM PRODUCT WHERE PARTNUMBER = 'FA-M8X30'"), "1|Drums;");
  // Categories: an existing name keeps its id, a new one is added.
  EXPECT_EQ(Query(db, "SELECT CATEGORYID, CATEGORYCLASSIFICATION FROM PRODUCTCATEGORY WHERE CATEGORYNAME IN ('Fasteners','Drums') ORDER BY 1"),
            "1|Mechanical, new;6|Containers;");
  // Products by category, in product order: SKU 1 moves from Fasteners to
  // the new Drums as its first; SKU 2 stays where it was; new products get
  // the next sequence of their category.
  EXPECT_EQ(Query(db, "SELECT P.PARTNUMBER, C.CATEGORYID, C.SEQUENCE FROM PRODUCTSBYCATEGORY C JOIN PRODUCT P "
                      "ON P.PRODUCTID = C.PRODUCTID WHERE P.PARTNUMBER LIKE 'N-%' OR P.PRODUCTID IN (1, 2) ORDER BY P.PRODUCTID"),
            "FA-M8X30|6|1;FA-M10X40|1|2;N-1|1|6;N-2|6|2;N-3|6|3;");
  // IDNO: equal to the file.
  EXPECT_EQ(Query(db, "SELECT IDNO, LENGTH, WAREHOUSE, PACKAGEID, PARTNUMBER, AVAILABLE, CHANGED FROM PRODUCTIDNO ORDER BY 1"),
            "ID1|1.5|WH1|P1|N-1|1|1;ID2|2.0|WH2|P2|N-2|1|1;");

  const std::string log = ReadFile(LogFolder() / "ExceptionLog.txt");
  EXPECT_EQ(log.rfind("Package Version: 2.7.0\r\n\r\n", 0), 0u) << log;
  for (const char* expected : {
           "DTS task name: Import Units\r\nException occurred: Description is empty\r\n"
           "Source row: Col001=\"BAG\", Col002=\"null\"\r\nSeverity: 1 (skip the row - do not add)\r\n\r\n",
           "DTS task name: Import Manufacturers\r\nException occurred: Corresponding supplier not found\r\n",
           "Severity: 0 (add the row)\r\nNotes: Manufacturer name set equal to ID\r\n\r\n",
           "Exception occurred: Description is empty\r\n",
           "Notes: Partnr used for description\r\n",
           "Exception occurred: Warning: Tax code (07) not found - tax code set to NULL\r\n",
           "Exception occurred: BusinessPartner not found for supplier S2999\r\n",
           "Notes: BusinessPartnerID set to null\r\n",
           "Exception occurred: Commodity code 9999 does not exist\r\n",
           "Notes: CommodityCode set to null\r\n",
           "Exception occurred: ERROR - Unit code (XYZ) not found\r\n",
       }) {
    EXPECT_NE(log.find(expected), std::string::npos) << expected << "\n---\n" << log;
  }
  // CreateLogFile empties the log folder of *.txt, but the package log is in
  // use and stays, from the package's first line on.
  const std::string master = ReadFile(LogFolder() / "Masterlog.txt");
  EXPECT_EQ(master.rfind("Package 'Prodloader_4c_Kelmor' started ", 0), 0u) << master;
  EXPECT_NE(master.find("Step 'Import_Products' succeeded: 5 rows, 3 inserted, 1 updated, 1 skipped, 0 errors"),
            std::string::npos)
      << master;
}

TEST_F(ImportPackage, RunningAgainChangesNothingAndFollowsTheIdnoFile) {
  WriteSmall();
  Run();
  const std::string tables =
      "SELECT * FROM PRODUCT ORDER BY 1; SELECT * FROM PRODUCTSBYCATEGORY ORDER BY 1; "
      "SELECT * FROM PRODUCTIDNO ORDER BY 1; SELECT * FROM MANUFACTURER ORDER BY 1; "
      "SELECT * FROM UNIT ORDER BY 1; SELECT * FROM PRODUCTCATEGORY ORDER BY 1";
  const std::string first = Query(Brevane(), tables);
  Run();
  EXPECT_EQ(Query(Brevane(), tables), first);

  Write("tdlra010", "\"ID2\"\t\"3\"\t\"WH2\"\t\"P2\"\t\"N-2\"\r\n");
  Run();
  EXPECT_EQ(Query(Brevane(), "SELECT IDNO, LENGTH FROM PRODUCTIDNO ORDER BY 1"), "ID2|3.0;");
}

TEST_F(ImportPackage, IdnosStayWhenTheirImportFails) {
  WriteSmall();
  Run();
  // A row the reader cannot take fails the IDNO import: deleting what the
  // import did not mark would remove numbers that are still in the file.
  Write("tdlra010", "\"ID2\"\t\"3\"\t\"WH2\"\t\"P2\"\t\"N-2\"\r\n\"ID3\"\t\"3\"\r\n");
  const RunResult r = Run();
  EXPECT_EQ(r.Find("DTSStep_DTSDataDrivenQueryTask_2")->result, StepResult::kFailed);
  EXPECT_EQ(r.Find("DTSStep_DTSExecuteSQLTask_2")->result, StepResult::kNotRun);
  EXPECT_EQ(r.Find("DTSStep_DTSDataDrivenQueryTask_1")->result, StepResult::kNotRun);
  EXPECT_EQ(Query(Brevane(), "SELECT IDNO FROM PRODUCTIDNO ORDER BY 1"), "ID1;ID2;");
  EXPECT_NE(ReadFile(LogFolder() / "ImportProductIDNO.txt").find("2|Row 2 has 2 columns"), std::string::npos);
}

TEST_F(ImportPackage, WhenImportProductsFailsTheIdnoStepsAndAllAfterThemDoNotRun) {
  WriteSmall();
  fs::remove(home() / "exchange" / "tiitm001");
  const RunResult r = Run();
  EXPECT_FALSE(r.succeeded);
  EXPECT_EQ(r.Find("CreateLogFile")->result, StepResult::kSucceeded);
  EXPECT_EQ(r.Find("Import_Units")->result, StepResult::kSucceeded);
  EXPECT_EQ(r.Find("Import_Manufacturers")->result, StepResult::kFailed);
  EXPECT_EQ(r.Find("Import_Products")->result, StepResult::kFailed);
  for (const char* step : {"DTSStep_DTSExecuteSQLTask_1", "DTSStep_DTSDataDrivenQueryTask_2",
                           "DTSStep_DTSExecuteSQLTask_2", "DTSStep_DTSDataDrivenQueryTask_1",
                           "DTSStep_DTSDataDrivenQueryTask_3", "CloseLogFile"}) {
    ASSERT_NE(r.Find(step), nullptr) << step;
    EXPECT_EQ(r.Find(step)->result, StepResult::kNotRun) << step;
  }
  EXPECT_NE(r.Find("Import_Products")->message.find("tiitm001"), std::string::npos);
}

// Bad bytes and sizes in the item file: the row fails, the rest is stored.
TEST_F(ImportPackage, BadItemRowsFailAloneAndAreReported) {
  WriteSmall();
  Write("tiitm001",
        "N-1\tFirst\tS2001\tx\t3\tPCS\t7318\t\tX01\t100\t5\tFasteners\n"
        "N-2\tM\xfcller\tS2001\tx\t3\tPCS\t7318\t\tX01\t100\t5\tFasteners\r\n"
        "N-3\t" + std::string(100000, 'y') + "\tS2001\tx\t3\tPCS\t7318\t\tX01\t100\t5\tFasteners\r\n"
        "N-4\tShort\r\n"
        "N-5\tFifth\tS2001\tx\t3\tPCS\t7318\t\tX01\t100\t5\tFasteners\r\n");
  const RunResult r = Run();
  EXPECT_EQ(r.Find("Import_Products")->errors, 3);
  EXPECT_EQ(r.Find("Import_Products")->result, StepResult::kFailed);
  EXPECT_EQ(Query(Brevane(), "SELECT PARTNUMBER FROM PRODUCT WHERE PARTNUMBER LIKE 'N-%' ORDER BY 1"), "N-1;N-5;");
  const std::string exceptions = ReadFile(LogFolder() / "ImportProducts.txt");
  EXPECT_NE(exceptions.find("2|Row 2 holds bytes that are not UTF-8 text"), std::string::npos);
  EXPECT_NE(exceptions.find("3|Row 3, column Col002 holds 100000 characters"), std::string::npos);
  EXPECT_NE(exceptions.find("4|Row 4 has 2 columns"), std::string::npos);
}

// A run cut off at any row, then run again, leaves the catalogue exactly as
// one run without interruption does.
TEST(ImportConvergence, AnInterruptedRunConvergesWhenRunAgain) {
  const std::string tables =
      "SELECT * FROM PRODUCT ORDER BY 1; SELECT * FROM PRODUCTSBYCATEGORY ORDER BY 1; "
      "SELECT * FROM PRODUCTIDNO ORDER BY 1; SELECT * FROM MANUFACTURER ORDER BY 1; "
      "SELECT * FROM UNIT ORDER BY 1; SELECT * FROM PRODUCTCATEGORY ORDER BY 1";
  auto settings_for = [](const fs::path& home) {
    Settings s;
    s.DbServer = (home / "data").string();
    s.KelmorDb = "Kelmor";
    s.BrevaneDb = "Brevane";
    s.VornVersion = "4c";
    s.SchemeFolder = (home / "exchange").string();
    s.LogFolder = (home / "logs").string();
    return s;
  };
  std::string expected;
  {
    vendra_test::TestInstance instance;
    ASSERT_TRUE(PackageRunner(BuildPackage(settings_for(instance.home()))).Run().succeeded);
    expected = Query(instance.home() / "data" / "Brevane.db", tables);
  }
  // Rows: 13 units, 300 manufacturers, 300 products, 200 IDNOs, 12 groups,
  // then the products by category; cut inside each task and at a batch edge.
  for (int64_t cut : {1, 5, 13, 14, 200, 313, 614, 650, 813, 814, 826, 900}) {
    vendra_test::TestInstance instance;
    const Settings s = settings_for(instance.home());
    platform::dts::RunOptions options;
    options.interrupt_after_rows = cut;
    EXPECT_THROW(PackageRunner(BuildPackage(s), options).Run(), platform::dts::RunInterrupted) << cut;
    platform::data::ReleasePooledSessions();
    EXPECT_TRUE(PackageRunner(BuildPackage(s)).Run().succeeded) << cut;
    EXPECT_EQ(Query(instance.home() / "data" / "Brevane.db", tables), expected) << "cut at row " << cut;
  }
}

// The two programs, as an operator runs them.
int Shell(const std::string& command) {
  const int status = std::system((command + " >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

TEST_F(ImportPackage, ProgramsStoreAndRunThePackage) {
  const std::string prodloader = PRODLOADER_PROGRAM;
  const std::string dtsrun = DTSRUN_PROGRAM;
  EXPECT_EQ(Shell(prodloader), 1) << "no command line";
  const std::string data = (home() / "data").string();
  EXPECT_EQ(Shell(prodloader + " /DBSERVER:" + data + " /KELMOR:Kelmor /BREVANE:Brevane /VER:4c /ver:9 " +
                  Quote("/LOG:" + (home() / "logs" / "with blank").string()) +
                  " /EXCHANGE:" + (home() / "exchange").string() + " /USER:a /USER:sa"),
            0);
  platform::dts::PackageStore store(data);
  const auto package = store.LoadLatest("Prodloader_4c_Kelmor");
  EXPECT_EQ(package.connections[0].user_id, "sa");
  EXPECT_EQ(package.log_file_name, (home() / "logs" / "with blank" / "Prodloader_4c_Kelmor" / "Masterlog.txt").string());
  EXPECT_EQ(Shell(dtsrun + " --server " + data + " --name Prodloader_4c_Kelmor"), 0);
  EXPECT_NE(Query(Brevane(), "SELECT COUNT(*) FROM PRODUCT"), "20;");
  EXPECT_EQ(Shell(dtsrun + " --server " + data + " --name Prodloader_5_Kelmor"), 2);
  EXPECT_EQ(Shell(dtsrun + " --server " + data + "/nowhere --name Prodloader_4c_Kelmor"), 2);
  EXPECT_EQ(Shell(prodloader + " /DBSERVER:" + data + "/nowhere /VER:4c"), 2);
  EXPECT_EQ(store.Versions("Prodloader_4c_").size(), 0u);
  // A package whose catalogs the server does not hold fails when it runs.
  EXPECT_EQ(Shell(prodloader + " /DBSERVER:" + data + " /KELMOR:Common /VER:4c /EXCHANGE:" +
                  (home() / "exchange").string() + " /LOG:" + (home() / "logs").string()),
            0);
  EXPECT_EQ(Shell(dtsrun + " --server " + data + " --name Prodloader_4c_Common"), 1);
}

}  // namespace
}  // namespace prodloader
