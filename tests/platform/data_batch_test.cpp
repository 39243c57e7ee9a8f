// Writing record sets back: batches of new, changed and deleted rows inside
// the caller's transaction or one of their own; a row changed underneath
// fails the whole batch; fault injection proves a failing write leaves
// nothing behind; a set that travelled through JSON keeps its pending changes.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/core/com_error.h"
#include "platform/data/ado_types.h"
#include "platform/data/connection.h"
#include "platform/data/fault_injection.h"
#include "platform/data/recordset.h"
#include "platform/data/recordset_json.h"
#include "apps/vendra/json.h"
#include "tests/support/test_instance.h"

namespace platform::data {
namespace {

class BatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cs_ = "Provider=SQLite;Data Source=" + dir_.path().string() + ";Initial Catalog=Shop";
    CreateDatabaseFile(cs_);
    auto c = Open();
    ExecuteScript(*c, R"(
      CREATE TABLE BASKETLINE (BASKETID NVARCHAR(32) NOT NULL, BASKETLINENR INT NOT NULL,
                               SKU INT, QUANTITY FLOAT, PRICE MONEY, REQUESTDATE DATETIME,
                               CONFIGURABLE BIT NOT NULL DEFAULT 0,
                               PRIMARY KEY (BASKETID, BASKETLINENR));
      INSERT INTO BASKETLINE VALUES ('B1', 1, 10, 1, 2.5, '2026-12-08T00:00:00', 0);
      INSERT INTO BASKETLINE VALUES ('B1', 2, 11, 2, 3.25, '2026-12-09 10:00:00', -1);
      INSERT INTO BASKETLINE VALUES ('B1', 3, 12, 3, 1.23456, NULL, 1);
      CREATE TABLE NOTE (ID INTEGER PRIMARY KEY, TEXT NVARCHAR(100), STAMP DATETIME DEFAULT '2026-01-01T00:00:00');
    )");
  }
  void TearDown() override { ReleasePooledSessions(); }

  std::shared_ptr<Connection> Open() {
    auto c = std::make_shared<Connection>();
    c->Open(cs_);
    return c;
  }

  std::shared_ptr<Recordset> Detached(const std::string& sql, int32_t lock = adLockBatchOptimistic) {
    auto c = Open();
    auto rs = std::make_shared<Recordset>();
    rs->SetCursorLocation(adUseClient);
    rs->Open(sql, c, adOpenStatic, lock);
    rs->SetActiveConnection(nullptr);
    return rs;
  }

  Variant Scalar(const std::string& sql) {
    auto rs = Open()->Execute(sql);
    return rs->Eof() ? Variant() : rs->fields()[0].Value();
  }

  vendra_test::TemporaryDirectory dir_;
  std::string cs_;
};

TEST_F(BatchTest, WritesNewChangedAndDeletedRowsAndSettles) {
  auto rs = Detached("SELECT * FROM BASKETLINE ORDER BY BASKETLINENR");
  rs->Find("BASKETLINENR = 1");
  rs->SetValue("QUANTITY", 5.0);
  rs->Find("BASKETLINENR = 2");
  rs->Delete();
  rs->AddNew({{"BASKETID", "B1"}, {"BASKETLINENR", 4}, {"SKU", 13}, {"REQUESTDATE", Date::FromParts(2027, 1, 2)}});

  auto conn = Open();
  rs->SetActiveConnection(conn);
  rs->UpdateBatch();
  rs->SetActiveConnection(nullptr);

  EXPECT_EQ(Scalar("SELECT QUANTITY FROM BASKETLINE WHERE BASKETLINENR = 1").ToDouble(), 5.0);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM BASKETLINE WHERE BASKETLINENR = 2").ToLong(), 0);
  EXPECT_EQ(Scalar("SELECT REQUESTDATE || '' FROM BASKETLINE WHERE BASKETLINENR = 4").ToString(),
            "2027-01-02T00:00:00");
  // The new row got its column default; the set shows what the database holds.
  rs->MoveLast();
  EXPECT_EQ(rs->Value("CONFIGURABLE"), Variant(false));
  EXPECT_EQ(rs->Status(), adRecUnmodified);
  EXPECT_EQ(rs->RecordCount(), 3);
  rs->MoveFirst();
  EXPECT_EQ(rs->fields()["QUANTITY"].OriginalValue(), Variant(5.0));
  // Nothing is pending any more: a second batch writes nothing and succeeds.
  rs->SetActiveConnection(conn);
  EXPECT_NO_THROW(rs->UpdateBatch());
}

TEST_F(BatchTest, ChangedRowsAreFoundInWhateverFormTheDatabaseHolds) {
  // Line 2 holds its date with a blank and its flag as -1; line 3 more than
  // four decimals in a money column.
  auto rs = Detached("SELECT * FROM BASKETLINE ORDER BY BASKETLINENR");
  EXPECT_EQ(rs->Value("PRICE"), Variant(Currency::Parse("2.5")));
  rs->Find("BASKETLINENR = 2");
  EXPECT_EQ(rs->Value("CONFIGURABLE"), Variant(true));
  EXPECT_EQ(rs->Value("REQUESTDATE"), Variant(Date::FromParts(2026, 12, 9, 10)));
  rs->SetValue("REQUESTDATE", Date::FromParts(2026, 12, 10));
  rs->SetValue("CONFIGURABLE", false);
  rs->Find("BASKETLINENR = 3");
  rs->SetValue("PRICE", Currency::Parse("9"));
  rs->SetActiveConnection(Open());
  EXPECT_NO_THROW(rs->UpdateBatch());
  EXPECT_EQ(Scalar("SELECT CONFIGURABLE FROM BASKETLINE WHERE BASKETLINENR = 2").ToLong(), 0);
  EXPECT_EQ(Scalar("SELECT PRICE FROM BASKETLINE WHERE BASKETLINENR = 3").ToDouble(), 9.0);
}

TEST_F(BatchTest, ARowChangedUnderneathFailsTheWholeBatch) {
  auto rs = Detached("SELECT * FROM BASKETLINE ORDER BY BASKETLINENR");
  rs->Find("BASKETLINENR = 1");
  rs->SetValue("QUANTITY", 7.0);
  rs->Find("BASKETLINENR = 3");
  rs->SetValue("QUANTITY", 9.0);
  rs->AddNew({{"BASKETID", "B1"}, {"BASKETLINENR", 8}});
  // Someone else changes line 3 after it was read.
  Open()->Execute("UPDATE BASKETLINE SET QUANTITY = 30 WHERE BASKETLINENR = 3");

  auto conn = Open();
  rs->SetActiveConnection(conn);
  try {
    rs->UpdateBatch();
    FAIL() << "the batch should fail";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), data_err::kRowNotLocated);
    EXPECT_EQ(e.description(),
              "Row cannot be located for updating. Some values may have been changed since it "
              "was last read.");
  }
  ASSERT_EQ(conn->ErrorList().size(), 1u);
  EXPECT_EQ(conn->ErrorList()[0].number, data_err::kRowNotLocated);
  EXPECT_FALSE(conn->InTransaction());
  // Nothing of the batch was written, and the changes are still pending.
  EXPECT_EQ(Scalar("SELECT QUANTITY FROM BASKETLINE WHERE BASKETLINENR = 1").ToDouble(), 1.0);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM BASKETLINE WHERE BASKETLINENR = 8").ToLong(), 0);
  rs->MoveFirst();
  EXPECT_EQ(rs->Status(), adRecModified);
  rs->MoveLast();
  EXPECT_EQ(rs->Status(), adRecNew);
  // A deleted row that is gone already fails the same way.
  auto other = Detached("SELECT * FROM BASKETLINE WHERE BASKETLINENR = 2");
  other->Delete();
  Open()->Execute("DELETE FROM BASKETLINE WHERE BASKETLINENR = 2");
  other->SetActiveConnection(conn);
  EXPECT_THROW(other->UpdateBatch(), ComError);
}

TEST_F(BatchTest, BatchesJoinTheCallersTransaction) {
  auto header = Detached("SELECT * FROM NOTE");
  header->AddNew({{"TEXT", "header"}});
  auto lines = Detached("SELECT * FROM BASKETLINE WHERE BASKETID = 'B1'");
  lines->AddNew({{"BASKETID", "B1"}, {"BASKETLINENR", 1}});  // duplicate key: fails

  auto conn = Open();
  {
    Transaction tx(*conn);
    header->SetActiveConnection(conn);
    header->UpdateBatch();
    lines->SetActiveConnection(conn);
    EXPECT_THROW(lines->UpdateBatch(), ComError);
    ASSERT_FALSE(conn->ErrorList().empty());
    EXPECT_NE(conn->ErrorList()[0].description.find("UNIQUE"), std::string::npos);
    EXPECT_EQ(conn->ErrorList()[0].sql_state, "23000");
    // tx rolls back here: the header written in it goes too.
  }
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM NOTE").ToLong(), 0);
  EXPECT_FALSE(conn->InTransaction());
}

TEST_F(BatchTest, NewRowsLearnTheirRowIdAndDefaults) {
  auto rs = Detached("SELECT * FROM NOTE");
  rs->AddNew({{"TEXT", "a"}});
  rs->AddNew({{"TEXT", "b"}, {"STAMP", Date::FromParts(2026, 5, 1)}});
  rs->SetActiveConnection(Open());
  rs->UpdateBatch();
  rs->MoveFirst();
  const int32_t first = rs->Value("ID").ToLong();
  EXPECT_GT(first, 0);
  EXPECT_EQ(rs->Value("STAMP"), Variant(Date::FromParts(2026, 1, 1)));
  rs->MoveNext();
  EXPECT_EQ(rs->Value("ID").ToLong(), first + 1);
  // Now it can be changed by its key like any read row.
  rs->SetValue("TEXT", "b2");
  rs->UpdateBatch();
  EXPECT_EQ(Scalar("SELECT TEXT FROM NOTE WHERE ID = " + std::to_string(first + 1)).ToString(), "b2");
}

TEST_F(BatchTest, OptimisticSetsOnAConnectionWriteAtUpdate) {
  auto conn = Open();
  auto rs = std::make_shared<Recordset>();
  rs->SetCursorLocation(adUseClient);
  rs->Open("SELECT * FROM NOTE WHERE ID = 0", conn, adOpenKeyset, adLockOptimistic);
  rs->AddNew();
  rs->SetValue("TEXT", "written at once");
  rs->Update();
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM NOTE").ToLong(), 1);
  rs->SetValue("TEXT", "and again");
  rs->MoveFirst();  // moving off an edited row writes it
  EXPECT_EQ(Scalar("SELECT TEXT FROM NOTE").ToString(), "and again");
  rs->Delete();
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM NOTE").ToLong(), 0);
}

TEST_F(BatchTest, SetsThatCannotBeWrittenSaySo) {
  auto joined = Detached("SELECT L.SKU, N.TEXT FROM BASKETLINE L, NOTE N");
  EXPECT_TRUE(joined->store()->table.empty());
  auto sums = Detached("SELECT BASKETID, SUM(QUANTITY) AS Q FROM BASKETLINE GROUP BY BASKETID");
  sums->SetValue("Q", 1.0);
  sums->SetActiveConnection(Open());
  EXPECT_THROW(sums->UpdateBatch(), ComError);
  auto detached = Detached("SELECT * FROM NOTE");
  detached->AddNew({{"TEXT", "x"}});
  try {
    detached->UpdateBatch();
    FAIL();
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), data_err::kNoConnection);
  }
}

TEST_F(BatchTest, CancelBatchForgetsEveryPendingChange) {
  auto rs = Detached("SELECT * FROM BASKETLINE ORDER BY BASKETLINENR");
  rs->SetValue("SKU", 99);
  rs->MoveNext();
  rs->Delete();
  rs->AddNew({{"BASKETID", "B1"}, {"BASKETLINENR", 7}});
  rs->CancelBatch();
  EXPECT_EQ(rs->RecordCount(), 3);
  EXPECT_FALSE(rs->store()->HasPendingChanges());
  rs->MoveFirst();
  EXPECT_EQ(rs->Value("SKU").ToLong(), 10);
}

// --- Rows written inside a transaction that rolls back -------------------------

// The state of every row of a set, in store order: "N" new, "M" modified,
// "D" deleted, "U" unchanged, "-" gone.
std::string States(const Recordset& rs) {
  std::string out;
  for (const Row& r : rs.store()->rows) {
    switch (r.state) {
      case RowState::New: out += 'N'; break;
      case RowState::Modified: out += 'M'; break;
      case RowState::Deleted: out += 'D'; break;
      case RowState::Unchanged: out += 'U'; break;
      case RowState::Gone: out += '-'; break;
    }
  }
  return out;
}

TEST_F(BatchTest, PendingRowsSurviveAFailingSecondBatchAndARetryWritesThemAll) {
  const std::string content =
      "SELECT group_concat(BASKETLINENR || ':' || IFNULL(QUANTITY, '') || ':' || CONFIGURABLE) "
                              "FROM BASKETLINE";
  const std::string before = Scalar(content).ToString();
  auto lines = Detached("SELECT * FROM BASKETLINE ORDER BY BASKETLINENR");
  lines->SetValue("QUANTITY", 5.0);  // line 1
  lines->MoveNext();
  lines->Delete();  // line 2
  lines->AddNew({{"BASKETID", "B1"}, {"BASKETLINENR", 4}});  // CONFIGURABLE left to its default
  auto notes = Detached("SELECT * FROM NOTE");
  notes->AddNew({{"TEXT", "n"}});
  auto view = lines->Clone();
  const std::string pending = States(*lines);
  ASSERT_EQ(pending, "MDUN");

  auto conn = Open();
  {
    // The lines take four statements (update, delete, insert, default read back).
    ScopedFault fault(5);
    Transaction tx(*conn);
    lines->SetActiveConnection(conn);
    lines->UpdateBatch();
    lines->SetActiveConnection(nullptr);
    EXPECT_EQ(States(*lines), "U-UU");
    notes->SetActiveConnection(conn);
    EXPECT_THROW(notes->UpdateBatch(), ComError);
    notes->SetActiveConnection(nullptr);
  }
  EXPECT_EQ(Scalar(content).ToString(), before);
  // Every change is pending again, exactly as before, in the set and its clone.
  EXPECT_EQ(States(*lines), pending);
  EXPECT_EQ(States(*view), pending);
  EXPECT_EQ(States(*notes), "N");
  EXPECT_EQ(lines->RecordCount(), 3);
  const Row& changed = lines->store()->rows[0];
  EXPECT_EQ(changed.values[3], Variant(5.0));
  EXPECT_EQ(changed.original[3], Variant(1.0));
  const Row& deleted = lines->store()->rows[1];
  EXPECT_EQ(deleted.original[1], Variant(2));
  const Row& added = lines->store()->rows[3];
  const int configurable = lines->store()->FieldIndex("CONFIGURABLE");
  EXPECT_TRUE(added.values[static_cast<size_t>(configurable)].IsEmpty());  // left to the default again

  // The retry writes all of it.
  {
    Transaction tx(*conn);
    lines->SetActiveConnection(conn);
    lines->UpdateBatch();
    notes->SetActiveConnection(conn);
    notes->UpdateBatch();
    tx.Commit();
  }
  EXPECT_EQ(Scalar(content).ToString(), "1:5.0:0,3:3.0:1,4::0");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM NOTE").ToLong(), 1);
  EXPECT_EQ(States(*lines), "U-UU");
  EXPECT_EQ(States(*notes), "U");
  notes->MoveFirst();
  EXPECT_GT(notes->Value("ID").ToLong(), 0);
}

TEST_F(BatchTest, RowsCountAsWrittenWhenTheOutermostTransactionCommits) {
  auto conn = Open();
  auto a = Detached("SELECT * FROM NOTE");
  a->AddNew({{"TEXT", "a"}});
  a->SetActiveConnection(conn);
  auto b = Detached("SELECT * FROM NOTE");
  b->AddNew({{"TEXT", "b"}});
  b->SetActiveConnection(conn);

  // Written in a savepoint that is released, then the whole transaction rolls back.
  conn->BeginTrans();
  conn->BeginTrans();
  a->UpdateBatch();
  conn->CommitTrans();
  EXPECT_EQ(States(*a), "U");
  conn->RollbackTrans();
  EXPECT_EQ(States(*a), "N");
  EXPECT_TRUE(a->store()->rows[0].values[0].IsEmpty());  // the row id is the database's again

  // A savepoint rolled back takes back what was written in it, and only that.
  conn->BeginTrans();
  a->UpdateBatch();
  conn->BeginTrans();
  b->UpdateBatch();
  conn->RollbackTrans();
  EXPECT_EQ(States(*a), "U");
  EXPECT_EQ(States(*b), "N");
  conn->CommitTrans();
  EXPECT_EQ(Scalar("SELECT group_concat(TEXT) FROM NOTE").ToString(), "a");

  // Committed rows stay written whatever the connection does next.
  conn->BeginTrans();
  conn->RollbackTrans();
  EXPECT_EQ(States(*a), "U");
}

TEST_F(BatchTest, ClosingTheConnectionWithItsTransactionOpenPutsTheRowsBack) {
  auto rs = Detached("SELECT * FROM BASKETLINE ORDER BY BASKETLINENR");
  rs->SetValue("SKU", 77);
  {
    auto conn = Open();
    conn->BeginTrans();
    rs->SetActiveConnection(conn);
    rs->UpdateBatch();
    rs->SetActiveConnection(nullptr);
    conn->Close();
  }
  EXPECT_EQ(States(*rs), "MUU");
  // A connection that goes away does the same, and so do optimistic sets
  // that write at Update.
  auto conn = std::make_shared<Connection>();
  conn->Open(cs_);
  auto live = std::make_shared<Recordset>();
  live->SetCursorLocation(adUseClient);
  live->Open("SELECT * FROM NOTE WHERE ID = 0", conn, adOpenKeyset, adLockOptimistic);
  conn->BeginTrans();
  live->AddNew();
  live->SetValue("TEXT", "x");
  live->Update();
  EXPECT_EQ(States(*live), "U");
  live->SetActiveConnection(nullptr);
  conn.reset();
  EXPECT_EQ(States(*live), "N");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM NOTE").ToLong(), 0);
}

TEST_F(BatchTest, RowsChangedAgainBeforeTheRollbackKeepTheirNewValues) {
  auto rs = Detached("SELECT * FROM NOTE");
  rs->AddNew({{"TEXT", "first"}});
  auto lines = Detached("SELECT * FROM BASKETLINE ORDER BY BASKETLINENR");
  lines->SetValue("SKU", 20);  // line 1: changed, written, then deleted
  lines->MoveNext();
  lines->SetValue("SKU", 21);  // line 2: changed, written, changed again
  lines->AddNew({{"BASKETID", "B1"}, {"BASKETLINENR", 5}});  // inserted, then deleted
  auto conn = Open();
  {
    Transaction tx(*conn);
    rs->SetActiveConnection(conn);
    rs->UpdateBatch();
    rs->SetValue("TEXT", "second");
    lines->SetActiveConnection(conn);
    lines->UpdateBatch();
    lines->MoveFirst();
    lines->Delete();
    lines->MoveNext();
    lines->SetValue("SKU", 22);
    lines->MoveLast();
    lines->Delete();
    // The second batch of the same rows, in the same transaction.
    lines->UpdateBatch();
    EXPECT_EQ(States(*lines), "-UU-");
  }
  // The insert was undone: the row is new again, with the text given since,
  // and with its row id left to the database.
  EXPECT_EQ(States(*rs), "N");
  rs->MoveFirst();
  EXPECT_EQ(rs->Value("TEXT"), Variant("second"));
  EXPECT_TRUE(rs->store()->rows[0].values[0].IsEmpty());
  // Each line holds the latest change against the values the database still has.
  EXPECT_EQ(States(*lines), "DMU-");
  EXPECT_EQ(lines->store()->rows[0].original[2], Variant(10));
  EXPECT_EQ(lines->store()->rows[1].values[2], Variant(22));
  EXPECT_EQ(lines->store()->rows[1].original[2], Variant(11));
  EXPECT_EQ(lines->RecordCount(), 2);

  rs->UpdateBatch();
  lines->UpdateBatch();
  EXPECT_EQ(Scalar("SELECT group_concat(TEXT) FROM NOTE").ToString(), "second");
  EXPECT_EQ(Scalar("SELECT group_concat(BASKETLINENR || ':' || SKU) FROM BASKETLINE").ToString(), "2:22,3:12");
}

TEST_F(BatchTest, AFailingBatchInsideTheCallersTransactionLeavesNothingOfItself) {
  auto rs = Detached("SELECT * FROM BASKETLINE ORDER BY BASKETLINENR");
  rs->SetValue("SKU", 60);
  rs->AddNew({{"BASKETID", "B1"}, {"BASKETLINENR", 1}});  // duplicate key
  auto notes = Detached("SELECT * FROM NOTE");
  notes->AddNew({{"TEXT", "kept"}});
  auto conn = Open();
  Transaction tx(*conn);
  rs->SetActiveConnection(conn);
  EXPECT_THROW(rs->UpdateBatch(), ComError);
  EXPECT_EQ(conn->TransactionLevel(), 1);
  notes->SetActiveConnection(conn);
  notes->UpdateBatch();
  // A caller that goes on and commits commits none of the failed batch.
  tx.Commit();
  EXPECT_EQ(Scalar("SELECT SKU FROM BASKETLINE WHERE BASKETLINENR = 1").ToLong(), 10);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM NOTE").ToLong(), 1);
  EXPECT_EQ(States(*rs), "MUUN");
}

// --- Atomicity under injected faults -------------------------------------------

TEST_F(BatchTest, AFailingStatementLeavesNothingOfTheBatch) {
  // Count the statements a three-row batch takes, then fail each in turn.
  auto make = [&] {
    auto rs = Detached("SELECT * FROM BASKETLINE ORDER BY BASKETLINENR");
    rs->SetValue("SKU", 50);
    rs->MoveNext();
    rs->Delete();
    rs->AddNew({{"BASKETID", "B1"}, {"BASKETLINENR", 9}, {"CONFIGURABLE", true}});
    rs->SetActiveConnection(Open());
    return rs;
  };
  const std::string before = "SELECT group_concat(BASKETLINENR || ':' || SKU) FROM BASKETLINE";
  const std::string original = Scalar(before).ToString();
  for (int n = 1; n <= 3; ++n) {
    auto rs = make();
    ScopedFault fault(n);
    EXPECT_THROW(rs->UpdateBatch(), ComError) << "statement " << n;
    EXPECT_EQ(Scalar(before).ToString(), original) << "statement " << n;
    EXPECT_TRUE(rs->store()->HasPendingChanges());
  }
  auto rs = make();
  FaultInjection::FailNthStatement(0);
  rs->UpdateBatch();
  EXPECT_EQ(FaultInjection::StatementsSeen(), 3);
  EXPECT_NE(Scalar(before).ToString(), original);
}

TEST_F(BatchTest, InjectedFaultsReachStatementsOfEveryKind) {
  auto conn = Open();
  {
    ScopedFault fault(1);
    EXPECT_THROW(conn->Execute("SELECT 1"), ComError);
    ASSERT_EQ(conn->ErrorList().size(), 1u);
    EXPECT_NE(conn->ErrorList()[0].description.find("Injected"), std::string::npos);
  }
  EXPECT_NO_THROW(conn->Execute("SELECT 1"));
  EXPECT_TRUE(conn->ErrorList().empty());  // cleared by the next operation
  {
    ScopedFault fault(2);
    Transaction tx(*conn);
    conn->Execute("INSERT INTO NOTE (TEXT) VALUES ('one')");
    EXPECT_THROW(conn->Execute("INSERT INTO NOTE (TEXT) VALUES ('two')"), ComError);
  }
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM NOTE").ToLong(), 0);
}

// --- Through JSON and back ---------------------------------------------------------

TEST_F(BatchTest, PendingChangesSurviveTheJsonForm) {
  auto rs = Detached("SELECT * FROM BASKETLINE ORDER BY BASKETLINENR");
  rs->SetValue("QUANTITY", 11.0);
  rs->MoveNext();
  rs->Delete();
  rs->AddNew({{"BASKETID", "B1"}, {"BASKETLINENR", 6}, {"PRICE", Currency::Parse("1.5")}});

  const RecordsetJson j = RecordsetToJson(*rs, [](const Variant& v) { return ToJson(v); });
  EXPECT_EQ(j["source"]["table"], "BASKETLINE");
  EXPECT_EQ(j["source"]["keys"], RecordsetJson::array({"BASKETID", "BASKETLINENR"}));
  EXPECT_EQ(j["rows"][0]["status"], "modified");
  EXPECT_TRUE(j["rows"][0].contains("original"));
  EXPECT_EQ(j["rows"][1]["status"], "deleted");
  EXPECT_EQ(j["rows"][3]["status"], "new");
  EXPECT_EQ(j["rows"][3]["values"][4], RecordsetJson({{"$currency", "1.5000"}}));

  // Text form and back, as `vendra call` passes it from one call to the next.
  const RecordsetJson reread = RecordsetJson::parse(j.dump());
  auto back = RecordsetFromJson(reread, [](const RecordsetJson& v) { return FromJson(v); });
  EXPECT_EQ(back->RecordCount(), 3);
  EXPECT_EQ(back->LockType(), adLockBatchOptimistic);
  back->SetActiveConnection(Open());
  back->UpdateBatch();
  EXPECT_EQ(Scalar("SELECT QUANTITY FROM BASKETLINE WHERE BASKETLINENR = 1").ToDouble(), 11.0);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM BASKETLINE WHERE BASKETLINENR = 2").ToLong(), 0);
  // Unassigned fields of the new row took their defaults.
  EXPECT_EQ(Scalar("SELECT CONFIGURABLE FROM BASKETLINE WHERE BASKETLINENR = 6").ToLong(), 0);
}

TEST_F(BatchTest, AHandEditedRowIsWrittenByItsKey) {
  auto rs = Detached("SELECT * FROM BASKETLINE WHERE BASKETLINENR = 3");
  RecordsetJson j = RecordsetToJson(*rs, [](const Variant& v) { return ToJson(v); });
  j["rows"][0]["status"] = "modified";
  j["rows"][0]["values"][2] = 77;  // SKU, edited without an "original"
  auto back = RecordsetFromJson(j, [](const RecordsetJson& v) { return FromJson(v); });
  back->SetActiveConnection(Open());
  back->UpdateBatch();
  EXPECT_EQ(Scalar("SELECT SKU FROM BASKETLINE WHERE BASKETLINENR = 3").ToLong(), 77);
}

TEST_F(BatchTest, MalformedJsonIsRefusedWithItsPlace) {
  auto decode = [](const RecordsetJson& v) { return FromJson(v); };
  auto message = [&](const char* text) {
    try {
      RecordsetFromJson(RecordsetJson::parse(text), decode);
    } catch (const ComError& e) {
      return e.description();
    }
    return std::string("accepted");
  };
  EXPECT_NE(message(R"({"rows": []})").find("fields"), std::string::npos);
  EXPECT_NE(message(R"({"fields": [{"name": "A", "type": 3}], "rows": [{"values": [1, 2]}]})")
                .find("/rows/0/values"),
            std::string::npos);
  EXPECT_NE(message(R"({"fields": [{"name": "A", "type": 3}], "rows": [{"values": ["x"]}]})")
                .find("/rows/0/values/0"),
            std::string::npos);
  EXPECT_NE(message(R"({"fields": [{"name": "A"}], "rows": [{"status": "odd", "values": [1]}]})")
                .find("status"),
            std::string::npos);
}

}  // namespace
}  // namespace platform::data
