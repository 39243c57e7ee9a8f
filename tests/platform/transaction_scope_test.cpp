// TransactionScope: connections opened inside it write into one transaction
// per database, their own transactions become savepoints, and nothing stands
// until the scope commits.
#include "platform/data/transaction_scope.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/core/com_error.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "tests/support/test_instance.h"

namespace {

using platform::data::Connection;
using platform::data::TransactionScope;

class TransactionScopeTest : public vendra_test::InstanceTest {
 protected:
  static std::shared_ptr<Connection> Open(const std::string& catalog) {
    auto c = std::make_shared<Connection>();
    c->Open("Provider=SQLite;Data Source=data;Initial Catalog=" + catalog);
    return c;
  }
  static int Zones() {
    return Open("Vendra")->Execute("SELECT COUNT(*) FROM ZONES WHERE ZONEID > 90")->fields()[0]
        .Value().ToLong();
  }
  static int Carriers() {
    return Open("Kelmor")->Execute("SELECT COUNT(*) FROM CARRIER WHERE CARRIERCODE LIKE 'T%'")
        ->fields()[0].Value().ToLong();
  }
};

TEST_F(TransactionScopeTest, NothingStandsUntilTheScopeCommits) {
  {
    TransactionScope scope;
    Open("Vendra")->Execute("INSERT INTO ZONES (ZONEID) VALUES (91)");
    // A second connection joins the same transaction and sees the row.
    auto second = Open("Vendra");
    EXPECT_EQ(second->Execute("SELECT COUNT(*) FROM ZONES WHERE ZONEID = 91")->fields()[0]
                  .Value().ToLong(), 1);
    // Its own transaction is a savepoint: rolling it back keeps the scope's rows.
    second->BeginTrans();
    second->Execute("INSERT INTO ZONES (ZONEID) VALUES (92)");
    second->RollbackTrans();
    Open("Kelmor")->Execute("INSERT INTO CARRIER (CARRIERCODE, CARRIERNAME) VALUES ('T1', 'x')");
    EXPECT_EQ(scope.RowsChanged(), 3);
    EXPECT_EQ(scope.Databases().size(), 2u);
    // No commit: both databases roll back.
  }
  EXPECT_EQ(Zones(), 0);
  EXPECT_EQ(Carriers(), 0);
  {
    TransactionScope scope;
    Open("Vendra")->Execute("INSERT INTO ZONES (ZONEID) VALUES (93)");
    Open("Kelmor")->Execute("INSERT INTO CARRIER (CARRIERCODE, CARRIERNAME) VALUES ('T2', 'x')");
    scope.Commit();
  }
  EXPECT_EQ(Zones(), 1);
  EXPECT_EQ(Carriers(), 1);
}

TEST_F(TransactionScopeTest, ScopesDoNotNestAndAConnectionOutlivingItCannotWrite) {
  std::shared_ptr<Connection> left_open;
  {
    TransactionScope scope;
    EXPECT_THROW(TransactionScope(), platform::ComError);
    left_open = Open("Vendra");
  }
  EXPECT_THROW(left_open->Execute("INSERT INTO ZONES (ZONEID) VALUES (94)"), platform::ComError);
  left_open->Close();
  EXPECT_EQ(Zones(), 0);
}

}  // namespace
