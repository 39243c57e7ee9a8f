// Writing a record set's pending rows: the SQL of each insert, update and
// delete, the lookup of changed rows by key and original values, and the
// bookkeeping once the writes succeeded.
#include <memory>
#include <optional>

#include "platform/core/com_error.h"
#include "platform/data/connection.h"
#include "platform/data/data_util.h"
#include "platform/data/recordset.h"
#include "platform/data/sql_dialect.h"

namespace platform::data {

namespace {

constexpr std::string_view kCursorEngine = "Microsoft Cursor Engine";

struct Plan {
  std::string table;       // quoted
  std::vector<bool> written;  // per field: whether the batch writes it
  std::vector<int> columns;  // fields written: base columns of the table, first of each name
  std::vector<int> keys;     // the key columns among them
  int row_id = -1;           // the integer row id column, when the set holds it
};

Plan MakePlan(const RowStore& store) {
  if (store.table.empty()) {
    detail::RaiseData(data_err::kNotUpdatable, "Recordset",
                      "Insufficient base table information for updating or refreshing.");
  }
  Plan p;
  p.table = QuoteIdentifier(store.table);
  std::vector<std::string> seen;
  p.written.assign(store.fields.size(), false);
  for (size_t i = 0; i < store.fields.size(); ++i) {
    const FieldInfo& f = store.fields[i];
    if (f.base_column.empty() || !detail::EqualsNoCase(f.base_table, store.table)) continue;
    bool dup = false;
    for (const std::string& s : seen) dup = dup || detail::EqualsNoCase(s, f.base_column);
    if (dup) continue;
    seen.push_back(f.base_column);
    p.written[i] = true;
    p.columns.push_back(static_cast<int>(i));
    if (f.key) p.keys.push_back(static_cast<int>(i));
    if (f.row_id) p.row_id = static_cast<int>(i);
  }
  if (p.columns.empty()) {
    detail::RaiseData(data_err::kNotUpdatable, "Recordset",
                      "Insufficient base table information for updating or refreshing.");
  }
  return p;
}

// One condition of the lookup of a row by the value it had when read. Dates,
// money and flags compare by what they mean, so a value stored in another
// text form ("2026-12-08 14:30:00"), with more decimals or as -1 still finds
// its row.
void AddCondition(const FieldInfo& f, const Variant& original, std::string& where,
                  std::vector<Variant>& params) {
  if (!where.empty()) where += " AND ";
  const std::string col = QuoteIdentifier(f.base_column);
  if (original.IsMissing()) {
    where += col + " IS NULL";
    return;
  }
  switch (f.type) {
    case adDBTimeStamp:
    case adDate:
      where += "julianday(" + col + ") = julianday(?)";
      break;
    case adCurrency:
      where += "ROUND(" + col + ", 4) = ?";
      break;
    case adBoolean:
      where += "(" + col + " <> 0) = ?";
      break;
    default:
      where += col + " = ?";
  }
  params.push_back(original);
}

// A value given to a field the batch does not write (an expression, a column
// of another table) would be lost without a word; refuse the batch instead.
void CheckUnwritten(const RowStore& store, const Plan& plan, const Row& r) {
  for (size_t c = 0; c < store.fields.size(); ++c) {
    if (plan.written[c]) continue;
    const bool given = r.state == RowState::New ? !r.values[c].IsEmpty()
                                                : !r.original.empty() && !(r.values[c] == r.original[c]);
    if (!given) continue;
    throw ComError(data_err::kNotUpdatable, "ADODB.Recordset",
                   "The field " + store.fields[c].name + " does not come from table " + store.table +
                       " and cannot be written.");
  }
}

[[noreturn]] void RaiseNotLocated() {
  throw ComError(data_err::kRowNotLocated, std::string(kCursorEngine),
                 detail::DataErrorText(data_err::kRowNotLocated));
}

void CheckOneRow(int64_t changed) {
  if (changed == 0) RaiseNotLocated();
  if (changed > 1) {
    throw ComError(data_err::kProvider, std::string(kCursorEngine),
                   "Key column information is insufficient or incorrect. Too many rows were "
                   "affected by update.");
  }
}

// What a written row becomes once the whole batch succeeded: values the
// database gave it (row id, defaults) are applied then, not before.
struct Written {
  int64_t row;
  bool gone;
  std::vector<std::pair<int, Variant>> learned;
};

// What a row was before a batch written inside a caller's transaction took
// it for written, so a rollback can make it pending again. Only what the
// batch changes is kept: the values stay, but for the columns that were
// unassigned (they became Null or took the database's row id or default).
struct Pending {
  int64_t row;
  RowState state;
  bool locate_by_key;
  std::vector<Variant> original;  // moved out of the row, which drops it
  std::vector<int> unassigned;
};

// Puts one row back as it was before its batch. A row changed again since
// (within the same transaction) keeps the new values, but the database no
// longer holds what the batch wrote, so its state and originals are the ones
// from before the batch.
void Restore(RowStore& store, Pending& p) {
  if (p.row < 0 || p.row >= static_cast<int64_t>(store.rows.size())) return;
  Row& r = store.rows[static_cast<size_t>(p.row)];
  const bool edited = r.state == RowState::Modified || r.state == RowState::Deleted;
  if (p.state == RowState::Deleted) {
    if (r.state != RowState::Gone) return;  // not as this batch left it: leave it be
  } else if (r.state != RowState::Unchanged && !edited) {
    return;
  }
  if (p.state == RowState::New && edited) {
    if (r.state == RowState::Deleted) {
      // Deleted after it was inserted: with the insert undone there is nothing to delete.
      r.original.clear();
      store.SetState(r, RowState::Gone);
      return;
    }
    // Columns the database filled in and nobody changed since are unassigned again.
    for (int c : p.unassigned) {
      const size_t k = static_cast<size_t>(c);
      if (k < r.values.size() && k < r.original.size() && r.values[k] == r.original[k])
        r.values[k] = Variant();
    }
  } else if (!edited) {
    for (int c : p.unassigned)
      if (static_cast<size_t>(c) < r.values.size()) r.values[static_cast<size_t>(c)] = Variant();
  }
  r.original = std::move(p.original);
  r.locate_by_key = p.locate_by_key;
  // An edited row that was modified before stays modified or deleted.
  store.SetState(r, p.state == RowState::Modified && edited ? r.state : p.state);
}

}  // namespace

void Recordset::WriteRows(const std::vector<int64_t>& rows, bool own_transaction) {
  if (!connection_ || !connection_->IsOpen()) detail::RaiseData(data_err::kNoConnection, "Recordset");
  Connection& conn = *connection_;
  conn.ClearErrors();
  std::vector<Written> written;
  written.reserve(rows.size());
  // Inside the caller's transaction the batch takes a savepoint, so a
  // failing batch leaves nothing of itself behind there either.
  const bool in_callers = conn.InTransaction();
  std::optional<Transaction> tx;
  try {
    const Plan plan = MakePlan(*store_);
    Session& session = conn.session();
    if (own_transaction || in_callers) tx.emplace(conn);
    const auto& fields = store_->fields;
    std::string sql, where, insert_sql;
    std::vector<bool> insert_mask;
    std::vector<Variant> params;
    // Whether the written columns are the set's fields, all of them, in
    // order: a new row assigning every one is then its own parameter list.
    bool fields_are_columns = plan.columns.size() == fields.size();
    for (size_t k = 0; k < plan.columns.size() && fields_are_columns; ++k)
      fields_are_columns = plan.columns[k] == static_cast<int>(k);
    for (int64_t index : rows) {
      const Row& r = store_->rows[static_cast<size_t>(index)];
      if (r.state != RowState::Deleted && !r.locate_by_key) CheckUnwritten(*store_, plan, r);
      sql.clear();
      where.clear();
      params.clear();
      if (r.state == RowState::New) {
        // Rows of a batch usually assign the same fields: the text is built
        // again only when that changes.
        std::vector<int> unassigned_defaults;
        bool same = !insert_mask.empty();
        bool all_assigned = true;
        for (size_t k = 0; k < plan.columns.size(); ++k) {
          const int c = plan.columns[k];
          const Variant& v = r.values[static_cast<size_t>(c)];
          const bool assigned = !v.IsEmpty();
          if (insert_mask.size() == plan.columns.size() && insert_mask[k] != assigned) same = false;
          if (!assigned) {
            all_assigned = false;
            // Left to the column's default, read back below.
            if (fields[static_cast<size_t>(c)].has_default) unassigned_defaults.push_back(c);
          }
        }
        // The values go as they are when the row is its own parameter list;
        // else the assigned ones are gathered in column order.
        const bool own_list = fields_are_columns && all_assigned;
        if (!own_list) {
          for (int c : plan.columns)
            if (!r.values[static_cast<size_t>(c)].IsEmpty()) params.push_back(r.values[static_cast<size_t>(c)]);
        }
        if (!same) {
          insert_mask.assign(plan.columns.size(), false);
          std::string names, marks;
          for (size_t k = 0; k < plan.columns.size(); ++k) {
            const int c = plan.columns[k];
            if (r.values[static_cast<size_t>(c)].IsEmpty()) continue;
            insert_mask[k] = true;
            if (!names.empty()) {
              names += ", ";
              marks += ", ";
            }
            names += QuoteIdentifier(fields[static_cast<size_t>(c)].base_column);
            marks += '?';
          }
          insert_sql = names.empty()
                           ? "INSERT INTO " + plan.table + " DEFAULT VALUES"
                           : "INSERT INTO " + plan.table + " (" + names + ") VALUES (" + marks + ")";
        }
        session.Exec(insert_sql, own_list ? std::span<const Variant>(r.values) : std::span<const Variant>(params));
        Written w{index, false, {}};
        if (all_assigned) {  // nothing to learn from the database
          written.push_back(std::move(w));
          continue;
        }
        const int64_t id = session.LastInsertId();
        const Variant id_value = id >= INT32_MIN && id <= INT32_MAX
                                     ? Variant(static_cast<int32_t>(id))
                                     : Variant(static_cast<double>(id));
        if (plan.row_id >= 0 && r.values[static_cast<size_t>(plan.row_id)].IsEmpty())
          w.learned.emplace_back(plan.row_id, id_value);
        if (!unassigned_defaults.empty()) {
          std::string cols;
          for (int c : unassigned_defaults) {
            if (!cols.empty()) cols += ", ";
            cols += QuoteIdentifier(fields[static_cast<size_t>(c)].base_column);
          }
          const BoundValue key{std::string(), id_value};
          QueryResult back = session.Run("SELECT " + cols + " FROM " + plan.table + " WHERE rowid = ?",
                                         std::span<const BoundValue>(&key, 1), 1);
          if (!back.rows.empty()) {
            for (size_t k = 0; k < unassigned_defaults.size(); ++k) {
              const int c = unassigned_defaults[k];
              Variant v = back.rows[0].values[k];
              try {
                v = CoerceToFieldType(v, fields[static_cast<size_t>(c)].type);
              } catch (const ComError&) {
                // kept as stored
              }
              w.learned.emplace_back(c, std::move(v));
            }
          }
        }
        written.push_back(std::move(w));
        continue;
      }

      const std::vector<Variant>& original = r.original.empty() ? r.values : r.original;
      if (plan.keys.empty() && r.locate_by_key) {
        detail::RaiseData(data_err::kNotUpdatable, "Recordset",
                          "Insufficient key column information for updating or refreshing.");
      }
      if (r.state == RowState::Deleted) {
        for (int c : plan.keys.empty() ? plan.columns : plan.keys)
          AddCondition(fields[static_cast<size_t>(c)], original[static_cast<size_t>(c)], where, params);
        CheckOneRow(session.Exec("DELETE FROM " + plan.table + " WHERE " + where, params));
        written.push_back({index, true, {}});
        continue;
      }

      // A changed row: set what changed, find the row by its key and by the
      // values it had, so a row someone else changed meanwhile is not overwritten.
      std::vector<int> changed;
      for (int c : plan.columns) {
        const size_t k = static_cast<size_t>(c);
        if (r.locate_by_key ? !fields[k].key : !(r.values[k] == original[k])) changed.push_back(c);
      }
      if (changed.empty()) {
        written.push_back({index, false, {}});
        continue;
      }
      std::string set;
      for (int c : changed) {
        if (!set.empty()) set += ", ";
        set += QuoteIdentifier(fields[static_cast<size_t>(c)].base_column) + " = ?";
        params.push_back(r.values[static_cast<size_t>(c)]);
      }
      std::vector<int> lookup = plan.keys.empty() ? plan.columns : plan.keys;
      if (!plan.keys.empty() && !r.locate_by_key) {
        for (int c : changed)
          if (!fields[static_cast<size_t>(c)].key) lookup.push_back(c);
      }
      for (int c : lookup)
        AddCondition(fields[static_cast<size_t>(c)], original[static_cast<size_t>(c)], where, params);
      CheckOneRow(session.Exec("UPDATE " + plan.table + " SET " + set + " WHERE " + where, params));
      written.push_back({index, false, {}});
    }
    if (tx) tx->Commit();
  } catch (...) {
    conn.RecordCurrentFailure();
    throw;  // the transaction of our own rolls back as tx goes
  }
  // Only now, with every row written, do the rows become unchanged. Inside
  // the caller's transaction that holds only until it rolls back.
  std::vector<Pending> pending;
  if (in_callers) pending.reserve(written.size());
  for (Written& w : written) {
    Row& r = store_->rows[static_cast<size_t>(w.row)];
    if (in_callers) {
      Pending& p = pending.emplace_back(Pending{w.row, r.state, r.locate_by_key, std::move(r.original), {}});
      for (size_t c = 0; c < r.values.size(); ++c)
        if (r.values[c].IsEmpty()) p.unassigned.push_back(static_cast<int>(c));
    }
    r.original.clear();
    r.locate_by_key = false;
    if (w.gone) {
      store_->SetState(r, RowState::Gone);
    } else {
      for (Variant& v : r.values)
        if (v.IsEmpty()) v = Variant::Null();
      for (auto& [c, v] : w.learned) r.values[static_cast<size_t>(c)] = std::move(v);
      store_->SetState(r, RowState::Unchanged);
    }
  }
  if (!pending.empty()) {
    // The record set may be detached or gone by the rollback; its rows
    // (shared with its clones and documents) are what is put back.
    conn.OnRollback([store = std::weak_ptr<RowStore>(store_), pending = std::move(pending)]() mutable {
      const std::shared_ptr<RowStore> s = store.lock();
      if (!s) return;
      for (auto p = pending.rbegin(); p != pending.rend(); ++p) Restore(*s, *p);
    });
  }
}

void Recordset::UpdateBatch(int32_t affect) {
  RequireOpen();
  if (lock_type_ == adLockReadOnly) detail::RaiseData(data_err::kNotUpdatable, "Recordset");
  edit_row_ = -1;
  std::vector<int64_t> pending;
  if (affect == adAffectCurrent) {
    const int64_t i = current_row();
    if (i < 0) detail::RaiseData(data_err::kNoCurrentRecord, "Recordset");
    const RowState s = store_->rows[static_cast<size_t>(i)].state;
    if (s == RowState::New || s == RowState::Modified || s == RowState::Deleted) pending.push_back(i);
  } else if (affect == adAffectAll || affect == adAffectGroup) {
    for (size_t i = 0; i < store_->rows.size(); ++i) {
      const RowState s = store_->rows[i].state;
      if (s == RowState::New || s == RowState::Modified || s == RowState::Deleted)
        pending.push_back(static_cast<int64_t>(i));
    }
  } else {
    detail::RaiseData(data_err::kBadArguments, "Recordset");
  }
  if (pending.empty()) return;
  if (!connection_ || !connection_->IsOpen()) detail::RaiseData(data_err::kNoConnection, "Recordset");
  WriteRows(pending, true);
}

void Recordset::CancelBatch(int32_t affect) {
  RequireOpen();
  if (affect != adAffectAll && affect != adAffectGroup && affect != adAffectCurrent)
    detail::RaiseData(data_err::kBadArguments, "Recordset");
  edit_row_ = -1;
  auto undo = [&](Row& r) {
    switch (r.state) {
      case RowState::New:
        store_->SetState(r, RowState::Gone);
        break;
      case RowState::Modified:
      case RowState::Deleted:
        if (!r.original.empty() && !r.locate_by_key) r.values = r.original;
        r.original.clear();
        r.locate_by_key = false;
        store_->SetState(r, RowState::Unchanged);
        break;
      default:
        break;
    }
  };
  if (affect == adAffectCurrent) {
    const int64_t i = current_row();
    if (i < 0) detail::RaiseData(data_err::kNoCurrentRecord, "Recordset");
    undo(store_->rows[static_cast<size_t>(i)]);
  } else {
    for (Row& r : store_->rows) undo(r);
  }
  const int64_t i = current_row();
  if (i < 0 || !store_->rows[static_cast<size_t>(i)].Live()) SeekLive(0, 1);
}

}  // namespace platform::data
