// RowStore holds the rows of a record set and everything a batch write needs
// to find them again in the database: the fields with their types and base
// columns, the key columns, and for each row its state and, once changed, its
// values as they were read. A record set and its clones share one RowStore;
// each keeps its own position and sort order over it.
//
// Rows are never erased from the vector while record sets refer to it (their
// positions are indices): a deleted row that has been written, or a new row
// deleted before it was written, is marked Gone and skipped from then on.
//
// Thread-safety: one caller at a time, like the record sets that share it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/core/variant.h"
#include "platform/data/ado_types.h"

namespace platform::data {

struct FieldInfo {
  std::string name;
  int32_t type = adVariant;
  int32_t defined_size = 0;
  // Where the value comes from; empty for expressions, which are never written.
  std::string base_table;
  std::string base_column;
  bool key = false;       // part of the base table's primary key
  bool nullable = true;
  bool has_default = false;  // the column has a default (re-read after insert)
  bool row_id = false;       // the column is the table's integer row id
};

enum class RowState : uint8_t { Unchanged, New, Modified, Deleted, Gone };

struct Row {
  // A new row starts with Empty values: "not assigned", left to the column's
  // default when the row is inserted. Readers see Empty as Null.
  std::vector<Variant> values;
  // The values as read, kept from the first change on (empty otherwise).
  std::vector<Variant> original;
  RowState state = RowState::Unchanged;
  // A changed row whose originals are unknown (edited by hand in a document):
  // the batch finds it by its key columns alone and writes every column.
  bool locate_by_key = false;
  bool Live() const { return state != RowState::Deleted && state != RowState::Gone; }
};

class RowStore {
 public:
  std::vector<FieldInfo> fields;
  std::vector<Row> rows;
  // The table a batch writes to; empty when the columns do not come from one
  // table (joins, expressions only), which makes the set read-only for writes.
  std::string table;

  // Call after fields change (the name index is rebuilt when next needed).
  void IndexFields();
  // Case-insensitive; -1 when there is no such field.
  int FieldIndex(std::string_view name) const;
  // Rows that moves and RecordCount see (not deleted, not gone).
  int64_t live_count() const { return live_; }
  int64_t hidden_count() const { return static_cast<int64_t>(rows.size()) - live_; }
  void RecountLive();
  // Appends a row (AddNew, documents) keeping the live count.
  Row& AddRow(Row row);
  // Keeps live_ right when a row changes between live and not live.
  void SetState(Row& row, RowState state);
  // Whether any row has changes a batch would write.
  bool HasPendingChanges() const;

 private:
  // Built on first use for wide sets; narrow ones are searched directly.
  mutable std::unordered_map<std::string, int> index_;
  mutable bool indexed_ = false;
  int64_t live_ = 0;
};

}  // namespace platform::data
