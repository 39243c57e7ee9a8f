#include "platform/data/row_store.h"

#include "platform/data/data_util.h"

namespace platform::data {

namespace {
constexpr size_t kScanLimit = 24;  // below this a scan beats hashing a folded copy
}

void RowStore::IndexFields() {
  index_.clear();
  indexed_ = false;
}

int RowStore::FieldIndex(std::string_view name) const {
  if (fields.size() <= kScanLimit) {
    for (size_t i = 0; i < fields.size(); ++i)
      if (detail::EqualsNoCase(fields[i].name, name)) return static_cast<int>(i);  // first of a name wins
    return -1;
  }
  if (!indexed_) {
    for (size_t i = 0; i < fields.size(); ++i)
      index_.emplace(detail::Upper(fields[i].name), static_cast<int>(i));
    indexed_ = true;
  }
  auto it = index_.find(detail::Upper(name));
  return it == index_.end() ? -1 : it->second;
}

void RowStore::RecountLive() {
  live_ = 0;
  for (const Row& r : rows)
    if (r.Live()) ++live_;
}

Row& RowStore::AddRow(Row row) {
  if (row.Live()) ++live_;
  rows.push_back(std::move(row));
  return rows.back();
}

void RowStore::SetState(Row& row, RowState state) {
  const bool was = row.Live();
  row.state = state;
  const bool is = row.Live();
  if (was && !is) --live_;
  if (!was && is) ++live_;
}

bool RowStore::HasPendingChanges() const {
  for (const Row& r : rows)
    if (r.state == RowState::New || r.state == RowState::Modified || r.state == RowState::Deleted)
      return true;
  return false;
}

}  // namespace platform::data
