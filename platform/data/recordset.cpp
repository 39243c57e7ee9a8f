#include "platform/data/recordset.h"

#include <limits>

#include "platform/data/command.h"
#include "platform/data/connection.h"
#include "platform/data/data_util.h"
#include "platform/data/driver.h"

namespace platform::data {

namespace {
constexpr int32_t adPosBOF = -2;
constexpr int32_t adPosEOF = -3;
// edit_prev_row_ of an edit that did not start with AddNew.
constexpr int64_t kNotAnAddition = -2;
}  // namespace

const ClassBinding<Recordset>& Recordset::Binding() {
  static const auto b =
      ClassBinding<Recordset>("Recordset")
          .Method("Open", &Recordset::OpenLateBound)
          .Method("Close", &Recordset::Close)
          .Property("State", &Recordset::State)
          .Property("CursorLocation", &Recordset::CursorLocation, &Recordset::PutCursorLocation)
          .Property("CursorType", &Recordset::CursorType, &Recordset::PutCursorType)
          .Property("LockType", &Recordset::LockType, &Recordset::PutLockType)
          .Property("MaxRecords", &Recordset::MaxRecords, &Recordset::PutMaxRecords)
          .Property("ActiveConnection", &Recordset::ActiveConnectionLateBound,
                    &Recordset::PutActiveConnection)
          .Method("Clone", &Recordset::CloneLateBound)
          .Property("BOF", &Recordset::Bof)
          .Property("EOF", &Recordset::Eof)
          .Property("RecordCount", &Recordset::RecordCount)
          .Property("AbsolutePosition", &Recordset::AbsolutePosition,
                    &Recordset::PutAbsolutePosition)
          .Property("Bookmark", &Recordset::Bookmark, &Recordset::PutBookmark)
          .Method("MoveFirst", &Recordset::MoveFirst)
          .Method("MoveLast", &Recordset::MoveLast)
          .Method("MoveNext", &Recordset::MoveNext)
          .Method("MovePrevious", &Recordset::MovePrevious)
          .Method("Move", &Recordset::MoveLateBound)
          .Property("Fields", &Recordset::FieldsLateBound)
          .Property("Field", &Recordset::FieldLateBound)
          .Property("Collect", &Recordset::ValueLateBound, &Recordset::SetValueLateBound)
          .Property("Value", &Recordset::ValueLateBound, &Recordset::SetValueLateBound)
          .Property("Status", &Recordset::Status)
          .Method("AddNew", &Recordset::AddNewLateBound)
          .Method("Delete", &Recordset::DeleteLateBound)
          .Method("Update", &Recordset::UpdateLateBound)
          .Method("CancelUpdate", &Recordset::CancelUpdate)
          .Method("UpdateBatch", &Recordset::UpdateBatchLateBound)
          .Method("CancelBatch", &Recordset::CancelBatchLateBound)
          .Method("Find", &Recordset::FindLateBound)
          .Property("Sort", &Recordset::Sort, &Recordset::PutSort);
  return b;
}

Recordset::Recordset() : fields_(std::make_shared<Fields>(this)) {}

Recordset::~Recordset() {
  fields_->Reset();
  fields_->owner_ = nullptr;
}

// --- Opening and closing -----------------------------------------------------

void Recordset::SetCursorLocation(int32_t location) {
  if (location != adUseClient && location != adUseServer)
    detail::RaiseData(data_err::kBadArguments, "Recordset");
  cursor_location_ = location;
}

void Recordset::SetCursorType(int32_t type) {
  if (store_) detail::RaiseData(data_err::kObjectOpen, "Recordset");
  if (type < adOpenForwardOnly || type > adOpenStatic)
    detail::RaiseData(data_err::kBadArguments, "Recordset");
  cursor_type_ = type;
}

void Recordset::SetLockType(int32_t type) {
  if (store_) detail::RaiseData(data_err::kObjectOpen, "Recordset");
  if (type < adLockReadOnly || type > adLockBatchOptimistic)
    detail::RaiseData(data_err::kBadArguments, "Recordset");
  lock_type_ = type;
  lock_type_set_ = true;
}

void Recordset::SetMaxRecords(int32_t n) {
  if (store_) detail::RaiseData(data_err::kObjectOpen, "Recordset");
  if (n < 0) detail::RaiseData(data_err::kBadArguments, "Recordset");
  max_records_ = n;
}

void Recordset::Open(std::string_view source, const std::shared_ptr<Connection>& connection,
                     int32_t cursor_type, int32_t lock_type, int32_t) {
  Open(source, connection, std::span<const Variant>(), cursor_type, lock_type);
}

namespace {

std::shared_ptr<RowStore> StoreOf(QueryResult&& result) {
  auto store = std::make_shared<RowStore>();
  store->fields = std::move(result.fields);
  store->rows = std::move(result.rows);
  store->table = std::move(result.table);
  store->IndexFields();
  store->RecountLive();
  return store;
}

}  // namespace

void Recordset::Open(std::string_view source, const std::shared_ptr<Connection>& connection,
                     std::span<const Variant> params, int32_t cursor_type, int32_t lock_type) {
  if (store_) detail::RaiseData(data_err::kObjectOpen, "Recordset");
  std::shared_ptr<Connection> conn = connection ? connection : connection_;
  if (!conn || !conn->IsOpen()) detail::RaiseData(data_err::kNoConnection, "Recordset");
  std::vector<BoundValue> bound;
  bound.reserve(params.size());
  for (const Variant& v : params) bound.push_back({std::string(), v});
  QueryResult result =
      conn->Recorded([&](Session& s) { return s.Run(source, bound, max_records_); });
  // A statement without rows leaves the set closed, as the classic one does.
  if (!result.has_rows) return;
  OpenStore(StoreOf(std::move(result)), cursor_type, lock_type);
  connection_ = std::move(conn);
}

void Recordset::Open(Command& command, int32_t cursor_type, int32_t lock_type) {
  if (store_) detail::RaiseData(data_err::kObjectOpen, "Recordset");
  std::shared_ptr<Connection> conn = command.ActiveConnection();
  if (!conn || !conn->IsOpen()) detail::RaiseData(data_err::kNoConnection, "Recordset");
  QueryResult result = conn->Recorded([&](Session& s) {
    return s.Run(command.ResolvedSql(), command.BoundValues(), max_records_);
  });
  if (!result.has_rows) return;
  OpenStore(StoreOf(std::move(result)), cursor_type, lock_type);
  connection_ = std::move(conn);
}

void Recordset::Open() {
  if (store_) detail::RaiseData(data_err::kObjectOpen, "Recordset");
  if (pending_fields_.empty())
    detail::RaiseData(data_err::kBadArguments, "Recordset",
                      "A record set built in memory needs its fields appended before Open.");
  auto store = std::make_shared<RowStore>();
  store->fields = std::move(pending_fields_);
  pending_fields_.clear();
  store->IndexFields();
  store->RecountLive();
  if (!lock_type_set_) lock_type_ = adLockBatchOptimistic;
  if (cursor_type_ == adOpenForwardOnly) cursor_type_ = adOpenStatic;
  cursor_location_ = adUseClient;
  OpenStore(std::move(store), adOpenUnspecified, adLockUnspecified);
  connection_.reset();
}

void Recordset::OpenStore(std::shared_ptr<RowStore> store, int32_t cursor_type, int32_t lock_type) {
  if (store_) detail::RaiseData(data_err::kObjectOpen, "Recordset");
  if (cursor_type != adOpenUnspecified) cursor_type_ = cursor_type;
  if (lock_type != adLockUnspecified) {
    lock_type_ = lock_type;
    lock_type_set_ = true;
  }
  store_ = std::move(store);
  fields_->Reset();
  sort_.clear();
  sorted_ = false;
  order_.clear();
  ordered_rows_ = 0;
  edit_row_ = -1;
  SeekLive(0, 1);
}

void Recordset::Close() {
  if (!store_) return;
  edit_row_ = -1;
  store_.reset();
  fields_->Reset();
  order_.clear();
  sorted_ = false;
  sort_.clear();
  pos_ = -1;
  at_eof_ = true;
}

void Recordset::SetActiveConnection(std::shared_ptr<Connection> connection) {
  connection_ = std::move(connection);
}

std::shared_ptr<Recordset> Recordset::Clone(int32_t lock_type) {
  RequireOpen();
  auto c = std::make_shared<Recordset>();
  c->cursor_location_ = cursor_location_;
  c->max_records_ = max_records_;
  c->OpenStore(store_, cursor_type_, lock_type == adLockUnspecified ? lock_type_ : lock_type);
  c->connection_ = connection_;
  return c;
}

// --- Position ----------------------------------------------------------------

void Recordset::RequireOpen() const {
  if (!store_) detail::RaiseData(data_err::kObjectClosed, "Recordset");
}

void Recordset::RequireUpdatable() const {
  RequireOpen();
  if (lock_type_ == adLockReadOnly) detail::RaiseData(data_err::kNotUpdatable, "Recordset");
}

bool Recordset::Immediate() const {
  return (lock_type_ == adLockOptimistic || lock_type_ == adLockPessimistic) && connection_ &&
         connection_->IsOpen();
}

void Recordset::SyncOrder() const {
  if (!sorted_) return;
  while (ordered_rows_ < store_->rows.size()) order_.push_back(static_cast<int64_t>(ordered_rows_++));
}

int64_t Recordset::SequenceSize() const {
  SyncOrder();
  return sorted_ ? static_cast<int64_t>(order_.size()) : static_cast<int64_t>(store_->rows.size());
}

int64_t Recordset::RowAt(int64_t seq) const {
  return sorted_ ? order_[static_cast<size_t>(seq)] : seq;
}

int64_t Recordset::current_row() const {
  if (!store_ || at_eof_ || pos_ < 0) return -1;
  if (pos_ >= SequenceSize()) return -1;
  return RowAt(pos_);
}

const Row* Recordset::CurrentRowOrNull() const {
  RequireOpen();
  const int64_t i = current_row();
  if (i < 0 || store_->rows[static_cast<size_t>(i)].state == RowState::Gone)
    detail::RaiseData(data_err::kNoCurrentRecord, "Recordset");
  return &store_->rows[static_cast<size_t>(i)];
}

void Recordset::SeekLive(int64_t seq, int step) {
  const int64_t size = SequenceSize();
  while (seq >= 0 && seq < size) {
    if (store_->rows[static_cast<size_t>(RowAt(seq))].Live()) {
      pos_ = seq;
      at_eof_ = false;
      return;
    }
    seq += step;
  }
  if (step > 0) {
    pos_ = size;
    at_eof_ = true;
  } else {
    pos_ = -1;
    at_eof_ = false;
  }
}

int64_t Recordset::SeekSequenceOf(int64_t store_index) const {
  if (!sorted_) return store_index;
  SyncOrder();
  for (size_t i = 0; i < order_.size(); ++i)
    if (order_[i] == store_index) return static_cast<int64_t>(i);
  return -1;
}

void Recordset::GoToRow(int64_t store_index) {
  RequireOpen();
  if (store_index < 0 || store_index >= static_cast<int64_t>(store_->rows.size()) ||
      store_->rows[static_cast<size_t>(store_index)].state == RowState::Gone)
    detail::RaiseData(data_err::kBadArguments, "Recordset");
  FlushImmediateEdit();
  pos_ = SeekSequenceOf(store_index);
  at_eof_ = false;
}

// On a row (even one just deleted) neither BOF nor EOF holds; off the rows of
// a set without live rows both do.
bool Recordset::Bof() const {
  RequireOpen();
  if (current_row() >= 0) return false;
  return !at_eof_ || store_->live_count() == 0;
}

bool Recordset::Eof() const {
  RequireOpen();
  if (current_row() >= 0) return false;
  return at_eof_ || store_->live_count() == 0;
}

int32_t Recordset::RecordCount() const {
  RequireOpen();
  return static_cast<int32_t>(store_->live_count());
}

int32_t Recordset::AbsolutePosition() const {
  RequireOpen();
  if (Eof() && at_eof_) return adPosEOF;
  if (Bof()) return adPosBOF;
  if (store_->hidden_count() == 0) return static_cast<int32_t>(pos_ + 1);
  int64_t n = 0;
  for (int64_t s = 0; s <= pos_; ++s)
    if (store_->rows[static_cast<size_t>(RowAt(s))].Live()) ++n;
  return static_cast<int32_t>(n == 0 ? 1 : n);
}

void Recordset::SetAbsolutePosition(int32_t position) {
  RequireOpen();
  if (position < 1 || position > store_->live_count())
    detail::RaiseData(data_err::kBadArguments, "Recordset");
  FlushImmediateEdit();
  if (store_->hidden_count() == 0) {
    pos_ = position - 1;
    at_eof_ = false;
    return;
  }
  int64_t n = 0;
  const int64_t size = SequenceSize();
  for (int64_t s = 0; s < size; ++s) {
    if (store_->rows[static_cast<size_t>(RowAt(s))].Live() && ++n == position) {
      pos_ = s;
      at_eof_ = false;
      return;
    }
  }
}

void Recordset::MoveFirst() {
  RequireOpen();
  FlushImmediateEdit();
  SeekLive(0, 1);
}

void Recordset::MoveLast() {
  RequireOpen();
  FlushImmediateEdit();
  SeekLive(SequenceSize() - 1, -1);
}

void Recordset::MoveNext() {
  // The plain case first: an unsorted set on a row of its store with no edit
  // to end, walked row by row by its readers.
  if (store_ && !sorted_ && edit_row_ < 0 && !at_eof_ && pos_ >= 0 &&
      static_cast<size_t>(pos_) < store_->rows.size()) {
    SeekLive(pos_ + 1, 1);
    return;
  }
  if (Eof()) detail::RaiseData(data_err::kNoCurrentRecord, "Recordset");
  FlushImmediateEdit();
  SeekLive(pos_ + 1, 1);
}

void Recordset::MovePrevious() {
  if (Bof()) detail::RaiseData(data_err::kNoCurrentRecord, "Recordset");
  FlushImmediateEdit();
  SeekLive(at_eof_ ? SequenceSize() - 1 : pos_ - 1, -1);
}

void Recordset::Move(int32_t n, int32_t start) {
  RequireOpen();
  if (start == adBookmarkCurrent) {
    if (n > 0 && Eof()) detail::RaiseData(data_err::kNoCurrentRecord, "Recordset");
    if (n < 0 && Bof()) detail::RaiseData(data_err::kNoCurrentRecord, "Recordset");
  }
  FlushImmediateEdit();
  if (start == adBookmarkFirst) {
    SeekLive(0, 1);
  } else if (start == adBookmarkLast) {
    SeekLive(SequenceSize() - 1, -1);
  } else if (start != adBookmarkCurrent) {
    detail::RaiseData(data_err::kBadArguments, "Recordset");
  }
  const int step = n >= 0 ? 1 : -1;
  for (int64_t k = n >= 0 ? n : -static_cast<int64_t>(n); k > 0; --k) {
    if (at_eof_ && step > 0) break;
    if (!at_eof_ && pos_ < 0 && step < 0) break;
    SeekLive(step > 0 ? pos_ + 1 : (at_eof_ ? SequenceSize() - 1 : pos_ - 1), step);
  }
}

Variant Recordset::Bookmark() const {
  RequireOpen();
  const int64_t i = current_row();
  if (i < 0) detail::RaiseData(data_err::kNoCurrentRecord, "Recordset");
  return Variant(static_cast<double>(i + 1));
}

void Recordset::SetBookmark(const Variant& bookmark) {
  const double d = bookmark.ToDouble();
  if (d < 1 || d > static_cast<double>(std::numeric_limits<int64_t>::max()))
    detail::RaiseData(data_err::kBadArguments, "Recordset");
  GoToRow(static_cast<int64_t>(d) - 1);
}

// --- Values ------------------------------------------------------------------

int32_t Recordset::FieldCount() const {
  return store_ ? static_cast<int32_t>(store_->fields.size()) : 0;
}

Variant Recordset::Value(std::string_view name) const { return (*fields_)[name].Value(); }

const Row& Recordset::CurrentRowForReading() const {
  // The plain case first, without the general walk of CurrentRowOrNull: an
  // unsorted set on a row of its store, asked once per cell of a document.
  if (store_ && !sorted_ && !at_eof_ && pos_ >= 0 &&
      static_cast<size_t>(pos_) < store_->rows.size() &&
      store_->rows[static_cast<size_t>(pos_)].state != RowState::Gone) {
    return store_->rows[static_cast<size_t>(pos_)];
  }
  return *CurrentRowOrNull();
}

std::span<const Variant> Recordset::CurrentValues() const {
  return CurrentRowForReading().values;
}

const Variant& Recordset::ValueAt(int index) const {
  static const Variant null = Variant::Null();
  const Row* r = &CurrentRowForReading();
  if (index < 0 || static_cast<size_t>(index) >= r->values.size())
    detail::RaiseData(data_err::kItemNotFound, "Fields");
  const Variant& v = r->values[static_cast<size_t>(index)];
  return v.IsEmpty() ? null : v;
}

void Recordset::SetValue(std::string_view name, const Variant& value) {
  (*fields_)[name].SetValue(value);
}

int32_t Recordset::Status() const {
  RequireOpen();
  const int64_t i = current_row();
  if (i < 0) detail::RaiseData(data_err::kNoCurrentRecord, "Recordset");
  switch (store_->rows[static_cast<size_t>(i)].state) {
    case RowState::Unchanged: return adRecUnmodified;
    case RowState::New: return adRecNew;
    case RowState::Modified: return adRecModified;
    default: return adRecDeleted;
  }
}

void Recordset::SetFieldValue(int index, const Variant& value) {
  RequireUpdatable();
  const int64_t i = current_row();
  if (i < 0 || !store_->rows[static_cast<size_t>(i)].Live())
    detail::RaiseData(data_err::kNoCurrentRecord, "Recordset");
  Variant v = CoerceToFieldType(value, store_->fields[static_cast<size_t>(index)].type);
  BeginEdit(i);
  Row& r = store_->rows[static_cast<size_t>(i)];
  if (r.state == RowState::Unchanged) {
    r.original = r.values;
    store_->SetState(r, RowState::Modified);
  }
  r.values[static_cast<size_t>(index)] = std::move(v);
}

void Recordset::BeginEdit(int64_t row) {
  if (edit_row_ == row) return;
  FlushImmediateEdit();
  edit_row_ = row;
  edit_snapshot_ = store_->rows[static_cast<size_t>(row)];
  edit_prev_row_ = kNotAnAddition;
}

void Recordset::FlushImmediateEdit() {
  if (edit_row_ < 0) return;
  if (Immediate()) {
    Update();
  } else {
    edit_row_ = -1;
  }
}

// --- Changes -----------------------------------------------------------------

void Recordset::AddNew() {
  RequireUpdatable();
  FlushImmediateEdit();
  const int64_t previous = current_row();
  Row row;
  row.values.resize(store_->fields.size());
  row.state = RowState::New;
  store_->AddRow(std::move(row));
  const int64_t i = static_cast<int64_t>(store_->rows.size()) - 1;
  pos_ = sorted_ ? SequenceSize() - 1 : i;
  at_eof_ = false;
  edit_row_ = i;
  edit_snapshot_ = store_->rows.back();
  edit_prev_row_ = previous;
}

void Recordset::AddNew(std::initializer_list<std::pair<std::string_view, Variant>> values) {
  AddNew();
  for (const auto& [name, value] : values) (*fields_)[name].SetValue(value);
  Update();
}

void Recordset::AddNew(const VariantArray& names, const VariantArray& values) {
  if (names.size() != values.size())
    detail::RaiseData(data_err::kBadArguments, "Recordset",
                      "AddNew needs as many values as field names.");
  AddNew();
  for (size_t k = 0; k < names.size(); ++k) fields_->Item(names[k])->SetValue(values[k]);
  Update();
}

void Recordset::Delete(int32_t affect) {
  if (affect != adAffectCurrent)
    detail::RaiseData(data_err::kBadArguments, "Recordset", "Delete removes the current row only.");
  RequireUpdatable();
  const int64_t i = current_row();
  if (i < 0 || !store_->rows[static_cast<size_t>(i)].Live())
    detail::RaiseData(data_err::kNoCurrentRecord, "Recordset");
  if (edit_row_ == i) edit_row_ = -1;
  Row& r = store_->rows[static_cast<size_t>(i)];
  if (r.state == RowState::New) {
    // Never written: it simply goes.
    store_->SetState(r, RowState::Gone);
    return;
  }
  if (r.original.empty()) r.original = r.values;
  store_->SetState(r, RowState::Deleted);
  if (Immediate()) WriteRows({i}, false);
}

void Recordset::Update() {
  RequireOpen();
  if (edit_row_ < 0) return;
  const int64_t row = edit_row_;
  if (Immediate()) {
    const Row& r = store_->rows[static_cast<size_t>(row)];
    if (r.state == RowState::New || r.state == RowState::Modified) WriteRows({row}, false);
  }
  edit_row_ = -1;
}

void Recordset::CancelUpdate() {
  RequireOpen();
  if (edit_row_ < 0) return;
  Row& r = store_->rows[static_cast<size_t>(edit_row_)];
  if (edit_prev_row_ != kNotAnAddition && r.state == RowState::New) {
    store_->SetState(r, RowState::Gone);
    edit_row_ = -1;
    if (edit_prev_row_ >= 0 && store_->rows[static_cast<size_t>(edit_prev_row_)].state != RowState::Gone) {
      pos_ = SeekSequenceOf(edit_prev_row_);
      at_eof_ = false;
    } else {
      SeekLive(0, 1);
    }
    return;
  }
  r.values = edit_snapshot_.values;
  r.original = edit_snapshot_.original;
  store_->SetState(r, edit_snapshot_.state);
  edit_row_ = -1;
}

// --- Late-bound forms ----------------------------------------------------------

Variant Recordset::OpenLateBound(std::optional<Variant> source, std::optional<Variant> connection,
                                 std::optional<int32_t> cursor_type,
                                 std::optional<int32_t> lock_type, std::optional<int32_t>) {
  const int32_t ct = cursor_type.value_or(adOpenUnspecified);
  const int32_t lt = lock_type.value_or(adLockUnspecified);
  if (!source || source->IsMissing()) {
    if (ct != adOpenUnspecified) SetCursorType(ct);
    if (lt != adLockUnspecified) SetLockType(lt);
    Open();
    return Variant();
  }
  if (source->IsObject()) {
    auto command = source->As<Command>();
    if (!command) detail::RaiseData(data_err::kBadArguments, "Recordset");
    Open(*command, ct, lt);
    return Variant();
  }
  std::shared_ptr<Connection> conn;
  if (connection && connection->IsObject()) {
    conn = connection->As<Connection>();
    if (!conn && connection->ToObject())
      detail::RaiseData(data_err::kBadArguments, "Recordset", "ActiveConnection must be a Connection.");
  } else if (connection && connection->IsString() && !connection->Get<std::string>()->empty()) {
    conn = std::make_shared<Connection>();
    conn->Open(*connection->Get<std::string>());
  }
  Open(source->ToString(), conn, ct, lt);
  return Variant();
}

Variant Recordset::FieldsLateBound(std::optional<Variant> key) const {
  if (!key) return Variant(std::static_pointer_cast<Object>(fields_));
  return Variant(fields_->Item(*key));
}

Variant Recordset::FieldLateBound(const Variant& key) const { return Variant(fields_->Item(key)); }

Variant Recordset::ValueLateBound(const Variant& key) const { return fields_->Item(key)->Value(); }

void Recordset::SetValueLateBound(const Variant& key, const Variant& value) {
  fields_->Item(key)->SetValue(value);
}

Variant Recordset::ActiveConnectionLateBound() const {
  return Variant(std::static_pointer_cast<Object>(connection_));
}

void Recordset::PutActiveConnection(const Variant& v) {
  SetActiveConnection(ConnectionFromVariant(v, "Recordset"));
}

void Recordset::AddNewLateBound(std::optional<Variant> names, std::optional<Variant> values) {
  if (!names || names->IsMissing()) {
    AddNew();
    return;
  }
  if (!values) detail::RaiseData(data_err::kBadArguments, "Recordset");
  if (names->IsArray()) {
    AddNew(names->Array(), values->Array());
  } else {
    AddNew(VariantArray{*names}, VariantArray{*values});
  }
}

void Recordset::UpdateLateBound(std::optional<Variant> names, std::optional<Variant> values) {
  if (names && !names->IsMissing()) {
    if (!values) detail::RaiseData(data_err::kBadArguments, "Recordset");
    if (names->IsArray()) {
      const VariantArray& n = names->Array();
      const VariantArray& v = values->Array();
      if (n.size() != v.size()) detail::RaiseData(data_err::kBadArguments, "Recordset");
      for (size_t k = 0; k < n.size(); ++k) fields_->Item(n[k])->SetValue(v[k]);
    } else {
      fields_->Item(*names)->SetValue(*values);
    }
  }
  Update();
}

void Recordset::FindLateBound(const std::string& criteria, std::optional<int32_t> skip,
                              std::optional<int32_t> direction, std::optional<Variant> start) {
  Find(criteria, skip.value_or(0), direction.value_or(adSearchForward),
       start.value_or(Variant()));
}

Variant Recordset::CloneLateBound(std::optional<int32_t> lock_type) {
  return Variant(Clone(lock_type.value_or(adLockUnspecified)));
}

void Recordset::MoveLateBound(int32_t n, std::optional<Variant> start) {
  Move(n, start && !start->IsMissing() ? start->ToLong() : adBookmarkCurrent);
}

std::shared_ptr<Recordset> Recordset::FromResult(QueryResult&& result,
                                             std::shared_ptr<Connection> connection) {
  auto rs = std::make_shared<Recordset>();
  rs->SetCursorLocation(adUseClient);
  rs->OpenStore(StoreOf(std::move(result)), adOpenForwardOnly, adLockReadOnly);
  rs->SetActiveConnection(std::move(connection));
  return rs;
}

}  // namespace platform::data
