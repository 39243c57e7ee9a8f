// Recordset is the system's tabular currency ("ADODB.Recordset"): client-side
// rows with typed fields, read from a connection and then usually detached
// from it, changed in memory (AddNew, field assignment, Delete) and written
// back later in one batch (UpdateBatch) on whatever connection it is attached
// to then, inside that connection's transaction.
//
// - Clone gives a second record set over the same rows with its own position
//   and sort order; a change made through one is seen through the other.
// - Deleted rows stay in the set until the batch is written, with Status
//   adRecDeleted, but moves, Find and RecordCount skip them.
// - Lock types: read-only sets refuse changes; optimistic (3) sets attached to
//   an open connection write the current row at Update (and implicitly when
//   the position moves off an edited row or AddNew starts another);
//   batch-optimistic (4) sets, and detached ones, keep changes until
//   UpdateBatch.
// - UpdateBatch finds each changed or deleted row by its key columns and the
//   values it had when read; a row that no longer matches fails the whole
//   batch with "Row cannot be located for updating. Some values may have been
//   changed since it was last read." and nothing of the batch is written.
//
//   auto rs = std::make_shared<Recordset>();
//   rs->Open("SELECT * FROM BASKETLINE WHERE BASKETID = '...'", conn,
//            adOpenStatic, adLockBatchOptimistic);
//   rs->SetActiveConnection(nullptr);
//   rs->Find("BASKETLINENR = 3");
//   if (!rs->Eof()) rs->Delete();
//
// Thread-safety: one caller at a time, including all clones of a set.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/core/dispatch.h"
#include "platform/data/ado_types.h"
#include "platform/data/field.h"
#include "platform/data/row_store.h"

namespace platform::data {

class Command;
class Connection;
struct QueryResult;

class Recordset : public Dispatchable<Recordset> {
 public:
  static const ClassBinding<Recordset>& Binding();
  Recordset();
  ~Recordset() override;
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;

  // --- Opening and closing ---------------------------------------------------
  int32_t CursorLocation() const { return cursor_location_; }
  void SetCursorLocation(int32_t location);
  int32_t CursorType() const { return cursor_type_; }
  void SetCursorType(int32_t type);  // before Open only
  int32_t LockType() const { return lock_type_; }
  void SetLockType(int32_t type);    // before Open only
  int32_t MaxRecords() const { return max_records_; }
  void SetMaxRecords(int32_t n);     // 0: no limit; before Open only
  int32_t State() const { return store_ ? adStateOpen : adStateClosed; }
  bool IsOpen() const { return store_ != nullptr; }

  // Reads the rows of source (one SQL statement) on the connection, which must
  // be open. Unspecified (-1) cursor and lock types keep the properties set
  // before (by default forward-only and read-only). Raises 3705 when open.
  void Open(std::string_view source, const std::shared_ptr<Connection>& connection,
            int32_t cursor_type = adOpenUnspecified, int32_t lock_type = adLockUnspecified,
            int32_t options = adCmdUnspecified);
  // The same with values bound to the "?" placeholders of source.
  void Open(std::string_view source, const std::shared_ptr<Connection>& connection,
            std::span<const Variant> params, int32_t cursor_type, int32_t lock_type);
  // Runs a command (its text or stored procedure and parameters) on the
  // command's connection.
  void Open(Command& command, int32_t cursor_type = adOpenUnspecified,
            int32_t lock_type = adLockUnspecified);
  // Opens an empty record set over the columns defined with Fields().Append;
  // it is detached and batch-optimistic unless a lock type was set.
  void Open();
  // Forgets the rows (of this object; clones keep theirs). Closing a closed
  // set does nothing.
  void Close();

  // nullptr when detached.
  const std::shared_ptr<Connection>& ActiveConnection() const { return connection_; }
  // Attaches to a connection, or detaches with nullptr. The rows stay.
  void SetActiveConnection(std::shared_ptr<Connection> connection);

  // A record set over the same rows, positioned on the first row, with the
  // given lock type (-1: this set's), the same connection and no sort.
  std::shared_ptr<Recordset> Clone(int32_t lock_type = adLockUnspecified);

  // --- Position --------------------------------------------------------------
  bool Bof() const;
  bool Eof() const;
  // Rows not deleted. (Forward-only sets count too: every set is client side.)
  int32_t RecordCount() const;
  // 1-based among the rows not deleted; adPosBOF (-2) / adPosEOF (-3) off them.
  int32_t AbsolutePosition() const;
  void SetAbsolutePosition(int32_t position);
  void MoveFirst();
  void MoveLast();
  void MoveNext();      // raises 3021 at EOF
  void MovePrevious();  // raises 3021 at BOF
  // Moves n rows from the current row (or from start: adBookmarkFirst/Last).
  void Move(int32_t n, int32_t start = adBookmarkCurrent);
  // Identifies the current row for as long as the rows live (clones share it).
  Variant Bookmark() const;
  void SetBookmark(const Variant& bookmark);

  // --- Values ----------------------------------------------------------------
  Fields& fields() { return *fields_; }
  const Fields& fields() const { return *fields_; }
  std::shared_ptr<Fields> FieldsObject() const { return fields_; }
  int32_t FieldCount() const;
  Field& operator[](std::string_view name) { return (*fields_)[name]; }
  Field& operator[](int index) { return (*fields_)[index]; }
  // Shorthands for (*this)[name].Value() and .SetValue(value).
  Variant Value(std::string_view name) const;
  void SetValue(std::string_view name, const Variant& value);
  // The current row's value of the column at a zero-based index, as
  // (*this)[index].Value() answers it (Null for a value never assigned) but
  // without a copy, for readers that walk every cell of many rows. The
  // reference holds until the set moves or changes.
  const Variant& ValueAt(int index) const;
  // Every value of the current row at once, by column index, for a reader
  // that has its column plan and reads many cells of each row: one check per
  // row instead of one per cell. Unlike ValueAt, a value never assigned shows
  // as Empty, not Null. Raises 3021 when there is no current row; the span
  // holds until the set moves or changes.
  std::span<const Variant> CurrentValues() const;
  // adRecUnmodified, adRecNew, adRecModified or adRecDeleted of the current row.
  int32_t Status() const;

  // --- Changes ---------------------------------------------------------------
  // Appends a row and makes it current; with values, assigns them in order.
  void AddNew();
  void AddNew(std::initializer_list<std::pair<std::string_view, Variant>> values);
  void AddNew(const VariantArray& names, const VariantArray& values);
  // Deletes the current row (adAffectCurrent only). It stays current until the
  // next move.
  void Delete(int32_t affect = adAffectCurrent);
  // Ends the edit of the current row; writes it at once on an attached
  // optimistic set.
  void Update();
  // Undoes the changes of the current row since the last Update (a new row
  // goes away).
  void CancelUpdate();
  // Writes every pending new, changed and deleted row on the active connection,
  // inside its transaction, or in a transaction of its own when none is open.
  // Afterwards the rows are unchanged with the written values as originals.
  // Inside the connection's transaction the batch is all or nothing too (a
  // savepoint), and the rows are written for good only when the outermost
  // transaction commits: should it roll back (or the connection close with
  // it open), the rows, wherever they are by then, are pending again.
  void UpdateBatch(int32_t affect = adAffectAll);
  // Forgets every pending change: new rows go, changed rows get their
  // originals back, deleted rows come back.
  void CancelBatch(int32_t affect = adAffectAll);

  // --- Finding and sorting ---------------------------------------------------
  // One criterion "COLUMN op value", op one of = <> < > <= >= LIKE; value a
  // number, a quoted text ('O''Brien'), a #date# or NULL; LIKE takes * or % as
  // wildcards. Text compares case-insensitively. Searches from the current row
  // (skipping skip rows), or from start (adBookmarkFirst/Last or a bookmark),
  // forward or backward; stops on the match, or at EOF/BOF when there is
  // none. Returns whether a row was found.
  bool Find(std::string_view criteria, int32_t skip = 0, int32_t direction = adSearchForward,
            const Variant& start = Variant());
  // "COL [ASC|DESC][, COL2 [ASC|DESC]]..."; empty restores the read order.
  // Moves to the first row.
  const std::string& Sort() const { return sort_; }
  void SetSort(std::string_view sort);

  // --- For this layer (batch writes, JSON, drivers) ---------------------------
  const std::shared_ptr<RowStore>& store() const { return store_; }
  // Opens this (closed) set over rows made elsewhere (a query, a document).
  void OpenStore(std::shared_ptr<RowStore> store, int32_t cursor_type, int32_t lock_type);
  // The forward-only, read-only set an executed statement answers with,
  // attached to the connection that ran it.
  static std::shared_ptr<Recordset> FromResult(QueryResult&& result,
                                               std::shared_ptr<Connection> connection);
  // Index of the current row in store()->rows, or -1 at BOF/EOF.
  int64_t current_row() const;
  // Position on a row of the store (a live row, or the current deleted one).
  void GoToRow(int64_t store_index);

 private:
  friend class Field;
  friend class Fields;
  // The sequence this set walks: the store's rows in read order, or its sort order.
  int64_t SequenceSize() const;
  int64_t RowAt(int64_t seq) const;
  void SyncOrder() const;
  void RequireOpen() const;
  void RequireUpdatable() const;
  // Whether Update writes at once (an attached optimistic set).
  bool Immediate() const;
  const Row* CurrentRowOrNull() const;  // raises 3021 when there is none
  // The same, quicker on an unsorted set; for the readers of values.
  const Row& CurrentRowForReading() const;
  void SetFieldValue(int index, const Variant& value);
  void BeginEdit(int64_t row);
  void FlushImmediateEdit();
  // Writes the rows on the active connection; with own_transaction, inside a
  // transaction of its own when the connection has none open.
  void WriteRows(const std::vector<int64_t>& rows, bool own_transaction);
  // Moves to the first live row from seq in direction step, or off the end.
  void SeekLive(int64_t seq, int step);
  int64_t SeekSequenceOf(int64_t store_index) const;

  // Late-bound forms.
  Variant OpenLateBound(std::optional<Variant> source, std::optional<Variant> connection,
                        std::optional<int32_t> cursor_type, std::optional<int32_t> lock_type,
                        std::optional<int32_t> options);
  Variant FieldsLateBound(std::optional<Variant> key) const;
  Variant FieldLateBound(const Variant& key) const;
  Variant ActiveConnectionLateBound() const;
  void PutActiveConnection(const Variant& v);
  void PutSort(const Variant& v) { SetSort(v.ToString()); }
  void PutCursorLocation(const Variant& v) { SetCursorLocation(v.ToLong()); }
  void PutCursorType(const Variant& v) { SetCursorType(v.ToLong()); }
  void PutLockType(const Variant& v) { SetLockType(v.ToLong()); }
  void PutMaxRecords(const Variant& v) { SetMaxRecords(v.ToLong()); }
  void PutAbsolutePosition(const Variant& v) { SetAbsolutePosition(v.ToLong()); }
  void PutBookmark(const Variant& v) { SetBookmark(v); }
  void AddNewLateBound(std::optional<Variant> names, std::optional<Variant> values);
  void UpdateLateBound(std::optional<Variant> names, std::optional<Variant> values);
  void FindLateBound(const std::string& criteria, std::optional<int32_t> skip,
                     std::optional<int32_t> direction, std::optional<Variant> start);
  Variant CloneLateBound(std::optional<int32_t> lock_type);
  void MoveLateBound(int32_t n, std::optional<Variant> start);
  void DeleteLateBound(std::optional<int32_t> affect) { Delete(affect.value_or(adAffectCurrent)); }
  void UpdateBatchLateBound(std::optional<int32_t> affect) { UpdateBatch(affect.value_or(adAffectAll)); }
  void CancelBatchLateBound(std::optional<int32_t> affect) { CancelBatch(affect.value_or(adAffectAll)); }
  Variant ValueLateBound(const Variant& key) const;
  void SetValueLateBound(const Variant& key, const Variant& value);

  int32_t cursor_location_ = adUseServer;
  int32_t cursor_type_ = adOpenForwardOnly;
  int32_t lock_type_ = adLockReadOnly;
  int32_t max_records_ = 0;
  std::string sort_;

  std::shared_ptr<RowStore> store_;
  std::shared_ptr<Connection> connection_;
  std::shared_ptr<Fields> fields_;
  // Columns defined with Fields.Append before Open().
  std::vector<FieldInfo> pending_fields_;

  // Sort order as store indices; empty means read order. Rows the store gained
  // after the sort (AddNew through a clone) are appended when seen.
  mutable std::vector<int64_t> order_;
  mutable size_t ordered_rows_ = 0;
  bool sorted_ = false;
  // Position in the sequence: -1 BOF; at_eof_ EOF.
  int64_t pos_ = -1;
  bool at_eof_ = true;
  bool lock_type_set_ = false;
  // The row being edited (since AddNew or its first assignment): written at
  // Update on an attached optimistic set, restored by CancelUpdate.
  int64_t edit_row_ = -1;
  Row edit_snapshot_;
  int64_t edit_prev_row_ = -1;  // the row current before AddNew
};

}  // namespace platform::data
