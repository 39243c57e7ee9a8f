// Record-set behaviour the sales code relies on: clones share rows but not
// positions, Find searches from the current row, deleted rows are skipped,
// detached sets outlive their connection, sorting, limits, built-in-memory sets.
#include <gtest/gtest.h>

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/core/com_error.h"
#include "platform/data/ado_types.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "tests/support/test_instance.h"

namespace platform::data {
namespace {

class RecordsetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cs_ = "Provider=SQLite;Data Source=" + dir_.path().string() + ";Initial Catalog=Shop";
    CreateDatabaseFile(cs_);
    conn_ = Open();
    ExecuteScript(*conn_, R"(
      CREATE TABLE BASKETLINE (BASKETID NVARCHAR(32) NOT NULL, BASKETLINENR INT NOT NULL,
                               SKU INT, QUANTITY FLOAT, NAME NVARCHAR(50),
                               PRIMARY KEY (BASKETID, BASKETLINENR));
      INSERT INTO BASKETLINE VALUES ('B1', 1, 10, 1.5, 'Bolt');
      INSERT INTO BASKETLINE VALUES ('B1', 2, 11, 2, 'nut');
      INSERT INTO BASKETLINE VALUES ('B1', 3, 12, 3, 'Washer');
      INSERT INTO BASKETLINE VALUES ('B1', 4, 13, 4, 'O''Ring');
    )");
  }
  void TearDown() override {
    conn_.reset();
    ReleasePooledSessions();
  }

  std::shared_ptr<Connection> Open() {
    auto c = std::make_shared<Connection>();
    c->Open(cs_);
    return c;
  }

  // The way the shared runtime reads: client side, detached, then closed.
  std::shared_ptr<Recordset> Lines(int32_t lock = adLockBatchOptimistic) {
    auto rs = std::make_shared<Recordset>();
    rs->SetCursorLocation(adUseClient);
    rs->Open("SELECT * FROM BASKETLINE WHERE BASKETID = 'B1' ORDER BY BASKETLINENR", conn_,
             adOpenStatic, lock);
    rs->SetActiveConnection(nullptr);
    return rs;
  }

  std::vector<int32_t> Numbers(Recordset& rs) {
    std::vector<int32_t> out;
    for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext()) out.push_back(rs.Value("BASKETLINENR").ToLong());
    return out;
  }

  vendra_test::TemporaryDirectory dir_;
  std::string cs_;
  std::shared_ptr<Connection> conn_;
};

TEST_F(RecordsetTest, DetachedSetOutlivesItsConnection) {
  auto rs = Lines();
  conn_->Close();
  conn_.reset();
  EXPECT_EQ(rs->State(), adStateOpen);
  EXPECT_EQ(rs->ActiveConnection(), nullptr);
  EXPECT_EQ(rs->RecordCount(), 4);
  EXPECT_EQ(rs->Value("NAME").ToString(), "Bolt");
  rs->SetValue("NAME", "Screw");  // changes stay in memory
  EXPECT_EQ(rs->Status(), adRecModified);
  EXPECT_EQ(rs->fields()["name"].OriginalValue().ToString(), "Bolt");
}

TEST_F(RecordsetTest, EmptyResultIsBothBofAndEof) {
  auto rs = std::make_shared<Recordset>();
  rs->Open("SELECT * FROM BASKETLINE WHERE BASKETID = 'none'", conn_, adOpenKeyset, adLockOptimistic);
  EXPECT_TRUE(rs->Bof());
  EXPECT_TRUE(rs->Eof());
  EXPECT_EQ(rs->RecordCount(), 0);
  EXPECT_EQ(rs->FieldCount(), 5);  // the columns are known without rows
  EXPECT_THROW(rs->Value("SKU"), ComError);
  EXPECT_THROW(rs->MoveNext(), ComError);
}

TEST_F(RecordsetTest, CloneSharesRowsWithItsOwnPosition) {
  auto rs = Lines();
  auto clone = rs->Clone();
  rs->MoveLast();
  EXPECT_EQ(clone->Value("BASKETLINENR").ToLong(), 1);  // the clone starts on the first row
  clone->SetValue("NAME", "Changed");
  rs->MoveFirst();
  EXPECT_EQ(rs->Value("NAME").ToString(), "Changed");
  rs->AddNew({{"BASKETID", "B1"}, {"BASKETLINENR", 5}});
  EXPECT_EQ(clone->RecordCount(), 5);
  clone->MoveLast();
  EXPECT_EQ(clone->Value("BASKETLINENR").ToLong(), 5);
  // A clone may be read-only while the original stays updatable.
  auto ro = rs->Clone(adLockReadOnly);
  EXPECT_THROW(ro->SetValue("NAME", "x"), ComError);
  EXPECT_EQ(ro->LockType(), adLockReadOnly);
}

TEST_F(RecordsetTest, FindSearchesFromTheCurrentRow) {
  auto rs = Lines();
  EXPECT_TRUE(rs->Find("BASKETLINENR = 3"));
  EXPECT_EQ(rs->Value("SKU").ToLong(), 12);
  // From the current row on: line 2 lies behind it.
  EXPECT_FALSE(rs->Find("BASKETLINENR = 2"));
  EXPECT_TRUE(rs->Eof());
  rs->MoveFirst();
  EXPECT_TRUE(rs->Find("BASKETLINENR = 2"));
  // skip 1 starts after the current row, so the current match is passed over.
  EXPECT_TRUE(rs->Find("SKU >= 11", 1));
  EXPECT_EQ(rs->Value("BASKETLINENR").ToLong(), 3);
  EXPECT_TRUE(rs->Find("NAME = 'o''ring'", 0, adSearchForward, Variant(adBookmarkFirst)));
  EXPECT_EQ(rs->Value("BASKETLINENR").ToLong(), 4);
  EXPECT_TRUE(rs->Find("NAME LIKE 'n*'", 0, adSearchBackward));
  EXPECT_EQ(rs->Value("BASKETLINENR").ToLong(), 2);
  rs->MoveFirst();
  EXPECT_TRUE(rs->Find("NAME LIKE '%sh%'"));
  EXPECT_EQ(rs->Value("NAME").ToString(), "Washer");
  rs->MoveFirst();
  EXPECT_TRUE(rs->Find("QUANTITY < 2"));
  EXPECT_TRUE(rs->Find("NAME <> 'Bolt'"));
  EXPECT_EQ(rs->Value("BASKETLINENR").ToLong(), 2);
}

TEST_F(RecordsetTest, FindRejectsCriteriaItCannotRead) {
  auto rs = Lines();
  EXPECT_THROW(rs->Find("NOSUCH = 1"), ComError);
  EXPECT_THROW(rs->Find("SKU 12"), ComError);
  EXPECT_THROW(rs->Find("NAME = 'open"), ComError);
  EXPECT_THROW(rs->Find("SKU = twelve"), ComError);
}

TEST_F(RecordsetTest, DeletedRowsAreSkippedByMovesAndCounts) {
  auto rs = Lines();
  ASSERT_TRUE(rs->Find("BASKETLINENR = 2"));
  rs->Delete();
  // The deleted row stays current until the next move.
  EXPECT_EQ(rs->Status(), adRecDeleted);
  EXPECT_THROW(rs->SetValue("NAME", "x"), ComError);
  EXPECT_EQ(rs->RecordCount(), 3);
  rs->MoveNext();
  EXPECT_EQ(rs->Value("BASKETLINENR").ToLong(), 3);
  rs->MovePrevious();
  EXPECT_EQ(rs->Value("BASKETLINENR").ToLong(), 1);
  EXPECT_EQ(Numbers(*rs), (std::vector<int32_t>{1, 3, 4}));
  rs->MoveFirst();
  EXPECT_FALSE(rs->Find("BASKETLINENR = 2"));
  ASSERT_TRUE(rs->Find("BASKETLINENR = 3", 0, adSearchForward, Variant(adBookmarkFirst)));
  EXPECT_EQ(rs->AbsolutePosition(), 2);
  rs->SetAbsolutePosition(3);
  EXPECT_EQ(rs->Value("BASKETLINENR").ToLong(), 4);
  // Deleting every row leaves an empty set, BOF and EOF alike.
  for (rs->MoveFirst(); !rs->Eof(); rs->MoveNext()) rs->Delete();
  EXPECT_EQ(rs->RecordCount(), 0);
  rs->MoveFirst();
  EXPECT_TRUE(rs->Bof());
  EXPECT_TRUE(rs->Eof());
}

TEST_F(RecordsetTest, NewLineNumberFromTheLastRow) {
  // The basket's rule: last line's number plus one, gaps never reused.
  auto rs = Lines();
  rs->Find("BASKETLINENR = 4");
  rs->Delete();
  rs->MoveLast();
  EXPECT_EQ(rs->Value("BASKETLINENR").ToLong(), 3);
  rs->AddNew();
  rs->SetValue("BASKETLINENR", rs->RecordCount() + 1);
  EXPECT_EQ(rs->Status(), adRecNew);
  EXPECT_TRUE(rs->fields()["SKU"].Value().IsNull());  // unassigned reads as Null
  rs->CancelUpdate();
  EXPECT_EQ(rs->RecordCount(), 3);
  EXPECT_EQ(rs->Value("BASKETLINENR").ToLong(), 3);  // back where it was
}

TEST_F(RecordsetTest, SortOrdersByColumnsAndKeepsNewRowsAtTheEnd) {
  auto rs = Lines();
  rs->SetSort("NAME");
  std::vector<std::string> names;
  for (rs->MoveFirst(); !rs->Eof(); rs->MoveNext()) names.push_back(rs->Value("NAME").ToString());
  // Text sorts without regard to case.
  EXPECT_EQ(names, (std::vector<std::string>{"Bolt", "nut", "O'Ring", "Washer"}));
  rs->SetSort("QUANTITY DESC, BASKETLINENR ASC");
  EXPECT_EQ(Numbers(*rs), (std::vector<int32_t>{4, 3, 2, 1}));
  rs->AddNew({{"BASKETID", "B1"}, {"BASKETLINENR", 9}, {"QUANTITY", 100.0}});
  EXPECT_EQ(Numbers(*rs), (std::vector<int32_t>{4, 3, 2, 1, 9}));
  rs->SetSort("");
  EXPECT_EQ(Numbers(*rs), (std::vector<int32_t>{1, 2, 3, 4, 9}));
  EXPECT_THROW(rs->SetSort("NOPE DESC"), ComError);
}

// Readers that walk every cell (documents) take a row's values at once, or
// cell by cell; both must see the row the moves reached, sorted or not, with
// deleted rows skipped, and fail alike off the rows.
TEST_F(RecordsetTest, RowValuesAtOnceMatchCellByCellReads) {
  auto rs = Lines();
  ASSERT_TRUE(rs->Find("BASKETLINENR = 3"));
  rs->Delete();
  rs->AddNew({{"BASKETID", "B1"}, {"BASKETLINENR", 5}});  // SKU, QUANTITY, NAME never assigned
  auto walk = [](Recordset& set) {
    std::vector<int32_t> numbers;
    for (set.MoveFirst(); !set.Eof(); set.MoveNext()) {
      const std::span<const Variant> values = set.CurrentValues();
      EXPECT_EQ(values.size(), static_cast<size_t>(set.FieldCount()));
      for (int i = 0; i < set.FieldCount(); ++i) {
        const Variant& cell = set.ValueAt(i);
        if (values[static_cast<size_t>(i)].IsEmpty()) EXPECT_TRUE(cell.IsNull());
        else EXPECT_EQ(values[static_cast<size_t>(i)], cell);
        EXPECT_EQ(cell, set[i].Value());
      }
      numbers.push_back(values[1].ToLong());
    }
    return numbers;
  };
  EXPECT_EQ(walk(*rs), (std::vector<int32_t>{1, 2, 4, 5}));
  rs->SetSort("BASKETLINENR DESC");
  EXPECT_EQ(walk(*rs), (std::vector<int32_t>{5, 4, 2, 1}));
  EXPECT_EQ(walk(*rs->Clone()), (std::vector<int32_t>{1, 2, 4, 5}));
  ASSERT_TRUE(rs->Eof());
  try {
    rs->CurrentValues();
    ADD_FAILURE() << "no current row, yet values";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), data_err::kNoCurrentRecord);
  }
  EXPECT_THROW(rs->ValueAt(0), ComError);
}

TEST_F(RecordsetTest, MaxRecordsLimitsTheRowsRead) {
  auto rs = std::make_shared<Recordset>();
  rs->SetMaxRecords(2);
  rs->Open("SELECT * FROM BASKETLINE ORDER BY BASKETLINENR", conn_);
  EXPECT_EQ(rs->RecordCount(), 2);
  EXPECT_THROW(rs->SetMaxRecords(3), ComError);  // only before Open
}

TEST_F(RecordsetTest, MovesAndBookmarks) {
  auto rs = Lines();
  rs->Move(2);
  EXPECT_EQ(rs->Value("BASKETLINENR").ToLong(), 3);
  const Variant mark = rs->Bookmark();
  rs->Move(1, adBookmarkFirst);
  EXPECT_EQ(rs->Value("BASKETLINENR").ToLong(), 2);
  rs->SetBookmark(mark);
  EXPECT_EQ(rs->Value("BASKETLINENR").ToLong(), 3);
  rs->Move(5);
  EXPECT_TRUE(rs->Eof());
  EXPECT_THROW(rs->MoveNext(), ComError);
  rs->MovePrevious();
  EXPECT_EQ(rs->Value("BASKETLINENR").ToLong(), 4);
  rs->MoveFirst();
  rs->MovePrevious();
  EXPECT_TRUE(rs->Bof());
  EXPECT_EQ(rs->AbsolutePosition(), -2);
}

TEST_F(RecordsetTest, ReadOnlySetsRefuseChanges) {
  auto rs = conn_->Execute("SELECT * FROM BASKETLINE");
  ASSERT_TRUE(rs);
  EXPECT_EQ(rs->LockType(), adLockReadOnly);
  EXPECT_THROW(rs->SetValue("NAME", "x"), ComError);
  EXPECT_THROW(rs->AddNew(), ComError);
  EXPECT_THROW(rs->Delete(), ComError);
}

TEST_F(RecordsetTest, AssignedValuesTakeTheFieldType) {
  auto rs = Lines();
  rs->SetValue("SKU", "42");
  EXPECT_EQ(rs->Value("SKU"), Variant(42));
  rs->SetValue("QUANTITY", 3);
  EXPECT_EQ(rs->Value("QUANTITY"), Variant(3.0));
  rs->SetValue("NAME", 7);
  EXPECT_EQ(rs->Value("NAME"), Variant("7"));
  EXPECT_THROW(rs->SetValue("SKU", "abc"), ComError);
  EXPECT_EQ(rs->Value("SKU"), Variant(42));  // a refused value changes nothing
  rs->SetValue("NAME", Variant());
  EXPECT_TRUE(rs->Value("NAME").IsNull());
}

TEST_F(RecordsetTest, BuiltInMemory) {
  auto rs = std::make_shared<Recordset>();
  rs->fields().Append("CODE", adVarWChar, 10);
  rs->fields().Append("AMOUNT", adCurrency);
  EXPECT_THROW(rs->fields().Append("code", adInteger), ComError);
  rs->Open();
  EXPECT_EQ(rs->LockType(), adLockBatchOptimistic);
  rs->AddNew({{"CODE", "A"}, {"AMOUNT", 1.23456}});
  rs->AddNew({{"CODE", "B"}, {"AMOUNT", "2"}});
  EXPECT_EQ(rs->RecordCount(), 2);
  rs->MoveFirst();
  EXPECT_EQ(rs->Value("AMOUNT"), Variant(Currency::Parse("1.2346")));
  EXPECT_EQ(rs->fields()[1].Type(), adCurrency);
  EXPECT_EQ(rs->fields()["CODE"].DefinedSize(), 10);
  // Nowhere to write it.
  EXPECT_THROW(rs->UpdateBatch(), ComError);
}

TEST_F(RecordsetTest, FieldsKeptByACallerDoNotOutliveTheirSet) {
  std::shared_ptr<Field> f;
  {
    auto rs = Lines();
    f = rs->fields().Item(Variant("NAME"));
    EXPECT_EQ(f->Value().ToString(), "Bolt");
    rs->MoveNext();
    EXPECT_EQ(f->Value().ToString(), "nut");  // a field follows its set's position
  }
  EXPECT_THROW(f->Value(), ComError);
}

TEST_F(RecordsetTest, LateBoundCallsReachTheSameOperations) {
  ObjectPtr rs = std::make_shared<Recordset>();
  SetProperty(rs, "CursorLocation", Variant(adUseClient));
  Call(rs, "Open", {Variant("SELECT * FROM BASKETLINE ORDER BY BASKETLINENR"), Variant(ObjectPtr(conn_)),
                    Variant(adOpenKeyset), Variant(adLockBatchOptimistic)});
  SetProperty(rs, "ActiveConnection", Variant(ObjectPtr()));
  EXPECT_EQ(GetProperty(rs, "RecordCount").ToLong(), 4);
  Call(rs, "Find", {Variant("BASKETLINENR = 3")});
  ObjectPtr field = GetProperty(rs, "Fields", {Variant("SKU")}).ToObject();
  EXPECT_EQ(GetProperty(field, "Value").ToLong(), 12);
  SetProperty(field, "Value", Variant(99));
  EXPECT_EQ(GetProperty(rs, "Collect", {Variant("sku")}).ToLong(), 99);
  ObjectPtr clone = Call(rs, "Clone").ToObject();
  EXPECT_FALSE(GetProperty(clone, "EOF").ToBool());
  Call(rs, "Delete");
  Call(rs, "MoveFirst");
  EXPECT_EQ(GetProperty(rs, "RecordCount").ToLong(), 3);
  SetProperty(rs, "Sort", Variant("BASKETLINENR DESC"));
  EXPECT_EQ(GetProperty(rs, "Collect", {Variant("BASKETLINENR")}).ToLong(), 4);
  Call(rs, "Close");
  EXPECT_EQ(GetProperty(rs, "State").ToLong(), adStateClosed);
}

}  // namespace
}  // namespace platform::data
