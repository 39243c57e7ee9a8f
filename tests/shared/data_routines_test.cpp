// The shared data routines on a real instance: rows come back detached from
// a connection that is closed again, failures carry the connection's error
// list and the SQL in their INFO line, and the close routines clear what
// they are given whatever state it is in.
#include "shared/data_routines.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/core/com_error.h"
#include "platform/data/ado_types.h"
#include "platform/data/fault_injection.h"
#include "shared/components.h"
#include "shared/error_handling.h"
#include "tests/support/test_instance.h"
#include "tests/support/failure.h"

namespace {

using platform::ComError;
using platform::Variant;
using platform::data::Connection;
using platform::data::Recordset;

using vendra_test::Failure;

// The text between " INFO: " and the closing ".\r\n" of a formatted failure.
std::string InfoOf(const std::string& description) {
  const std::string marker = " INFO: ";
  const size_t start = description.rfind(marker);
  if (start == std::string::npos) return "<no INFO line>";
  const size_t end = description.rfind(".\r\n");
  return description.substr(start + marker.size(), end - start - marker.size());
}

class DataRoutines : public vendra_test::InstanceTest {
 protected:
  std::string cs() { return lib_sales::Sls_ConnectionString(); }
};

TEST_F(DataRoutines, DisconnectedRecordsetHoldsTheRowsWithoutAConnection) {
  auto rs = lib_sales::Sls_GetDisconnectedRecordset(
      "SELECT ZONEID, ZONEDESCRIPTION FROM ZONES ORDER BY ZONEID", cs());
  ASSERT_TRUE(rs);
  EXPECT_EQ(rs->State(), platform::data::adStateOpen);
  EXPECT_EQ(rs->ActiveConnection(), nullptr);
  EXPECT_GT(rs->RecordCount(), 1);
  EXPECT_EQ(rs->Value("ZONEID"), Variant(int16_t{1}));
  EXPECT_EQ(rs->Value("ZONEDESCRIPTION"), Variant("Benelux"));
  // Detached and optimistic: it may be changed in memory.
  rs->SetValue("ZONEDESCRIPTION", Variant("changed"));
  EXPECT_EQ(rs->Value("ZONEDESCRIPTION"), Variant("changed"));

  auto none = lib_sales::Sls_GetDisconnectedRecordset("SELECT * FROM ZONES WHERE ZONEID = -1", cs());
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->Eof());
  EXPECT_EQ(none->RecordCount(), 0);
}

TEST_F(DataRoutines, AFailingQueryReportsTheConnectionErrorsAndTheSql) {
  vendra_test::ScopedRecordingLog log;
  const std::string sql = "SELECT NOSUCHCOLUMN FROM ZONES";
  const ComError e = Failure([&] { lib_sales::Sls_GetDisconnectedRecordset(sql, cs()); });
  EXPECT_EQ(e.number(), platform::data::data_err::kProvider);
  EXPECT_EQ(e.description().rfind("\r\nERROR 0x80004005\r\n METHOD: "
                                  "Lib_Sales.Sls_GetDisconnectedRecordset\r\n DESC: ",
                                  0),
            0u)
      << e.description();
  const std::string info = InfoOf(e.description());
  EXPECT_EQ(info.rfind("Error(s) from connection object:  (1)", 0), 0u) << info;
  EXPECT_NE(info.find("NOSUCHCOLUMN"), std::string::npos) << info;
  EXPECT_NE(info.find("[-2147467259] executing: '" + sql + "'"), std::string::npos) << info;
  // One entry for this level.
  ASSERT_EQ(log.entries().size(), 1u);
  EXPECT_NE(log.entries()[0].text.find("Lib_Sales.Sls_GetDisconnectedRecordset"),
            std::string::npos);
}

TEST_F(DataRoutines, AnInjectedFaultIsReportedTheSameWay) {
  vendra_test::ScopedRecordingLog log;
  platform::data::ScopedFault fault(1);
  const ComError e = Failure([&] {
    lib_sales::Sls_GetDisconnectedRecordset("SELECT * FROM ZONES", cs());
  });
  EXPECT_NE(InfoOf(e.description()).find(" executing: 'SELECT * FROM ZONES'"), std::string::npos)
      << e.description();
}

TEST_F(DataRoutines, ABadConnectionStringFailsInTheConnectionRoutine) {
  vendra_test::ScopedRecordingLog log;
  const std::string missing = "Provider=SQLite;Data Source=data;Initial Catalog=NoSuchCatalog";
  const ComError open = Failure([&] { lib_sales::Sls_GetOpenConnection(missing); });
  EXPECT_NE(open.description().find(" METHOD: Lib_Sales.Sls_GetOpenConnection\r\n"),
            std::string::npos);
  EXPECT_EQ(log.entries().size(), 1u);

  // Through the record-set routine it is reported at both levels; the
  // connection that never opened has no errors to list.
  log.clear();
  const ComError read = Failure([&] { lib_sales::Sls_GetDisconnectedRecordset("SELECT 1", missing); });
  EXPECT_EQ(read.number(), open.number());
  EXPECT_EQ(InfoOf(read.description()), " executing: 'SELECT 1'");
  EXPECT_EQ(log.entries().size(), 2u);
}

TEST_F(DataRoutines, RecordExists) {
  EXPECT_TRUE(lib_sales::Sls_RecordExists("SELECT ZONEID FROM ZONES", cs()));
  EXPECT_TRUE(lib_sales::Sls_RecordExists("SELECT TOP 1 ZONEID FROM ZONES WHERE ZONEID = 2", cs()));
  EXPECT_FALSE(lib_sales::Sls_RecordExists("SELECT ZONEID FROM ZONES WHERE ZONEID = 99", cs()));
  vendra_test::ScopedRecordingLog log;
  // It reports under the connection routine's name.
  const ComError e = Failure([&] { lib_sales::Sls_RecordExists("SELECT * FROM NOSUCHTABLE", cs()); });
  EXPECT_NE(e.description().find(" METHOD: Lib_Sales.Sls_GetOpenConnection\r\n"),
            std::string::npos);
  EXPECT_EQ(e.description().find(" INFO: "), std::string::npos);
}

TEST_F(DataRoutines, CloseRoutinesClearWhatTheyAreGiven) {
  std::shared_ptr<Recordset> absent;
  lib_sales::Sls_CloseRecordSet(absent);
  EXPECT_EQ(absent, nullptr);

  auto open = lib_sales::Sls_GetDisconnectedRecordset("SELECT * FROM ZONES", cs());
  auto clone = open->Clone();
  lib_sales::Sls_CloseRecordSet(open);
  EXPECT_EQ(open, nullptr);
  EXPECT_EQ(clone->State(), platform::data::adStateOpen);  // a clone keeps its rows

  auto closed = std::make_shared<Recordset>();
  lib_sales::Sls_CloseRecordSet(closed);
  EXPECT_EQ(closed, nullptr);

  auto connection = lib_sales::Sls_GetOpenConnection(cs());
  std::weak_ptr<Connection> watch = connection;
  auto keep = connection;  // a second holder shows the connection really closed
  lib_sales::Sls_CloseConnection(connection);
  EXPECT_EQ(connection, nullptr);
  EXPECT_EQ(keep->State(), platform::data::adStateClosed);
  lib_sales::Sls_CloseConnection(keep);  // closing a closed one does nothing
  EXPECT_EQ(keep, nullptr);
  EXPECT_TRUE(watch.expired());
  std::shared_ptr<Connection> none;
  lib_sales::Sls_CloseConnection(none);
}

TEST(ConnectionErrorsTextTest, Layout) {
  EXPECT_EQ(lib_sales::ConnectionErrorsText(nullptr), "");
  Connection connection;
  EXPECT_EQ(lib_sales::ConnectionErrorsText(&connection), "");
  connection.RecordFailure({static_cast<int32_t>(0x80004005u), "no such table: X", "p", "", 1});
  EXPECT_EQ(lib_sales::ConnectionErrorsText(&connection),
            "Error(s) from connection object:  (1)no such table: X[-2147467259]");
  connection.RecordFailure({3265, "Item cannot be found", "p", "", 0});
  EXPECT_EQ(lib_sales::ConnectionErrorsText(&connection),
            "Error(s) from connection object:  (1)no such table: X[-2147467259] (2)Item cannot "
            "be found[3265]");
}

}  // namespace
