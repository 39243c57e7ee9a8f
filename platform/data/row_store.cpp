#include "platform/data/row_store.h"

#include "platform/data/data_util.h"

namespace platform::data {

void RowStore::IndexFields() {
  index_.clear();
  for (size_t i = 0; i < fields.size(); ++i)
    index_.emplace(detail::Upper(fields[i].name), static_cast<int>(i));  // first of a name wins
}

int RowStore::FieldIndex(std::string_view name) const {
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
