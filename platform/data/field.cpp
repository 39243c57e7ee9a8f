#include "platform/data/field.h"

#include "platform/data/data_util.h"
#include "platform/data/recordset.h"

namespace platform::data {

const ClassBinding<Field>& Field::Binding() {
  static const auto b = ClassBinding<Field>("Field")
                            .Property("Name", &Field::NameText)
                            .Property("Type", &Field::Type)
                            .Property("DefinedSize", &Field::DefinedSize)
                            .Property("Value", &Field::Value, &Field::SetValue)
                            .Property("OriginalValue", &Field::OriginalValue);
  return b;
}

Recordset& Field::owner() const {
  if (!owner_ || !owner_->store()) detail::RaiseData(data_err::kObjectClosed, "Field");
  if (index_ >= static_cast<int>(owner_->store()->fields.size()))
    detail::RaiseData(data_err::kItemNotFound, "Field");
  return *owner_;
}

const std::string& Field::Name() const {
  return owner().store()->fields[static_cast<size_t>(index_)].name;
}

int32_t Field::Type() const { return owner().store()->fields[static_cast<size_t>(index_)].type; }

int32_t Field::DefinedSize() const {
  return owner().store()->fields[static_cast<size_t>(index_)].defined_size;
}

Variant Field::Value() const {
  const Row* r = owner().CurrentRowOrNull();
  const Variant& v = r->values[static_cast<size_t>(index_)];
  return v.IsEmpty() ? Variant::Null() : v;
}

void Field::SetValue(const Variant& value) { owner().SetFieldValue(index_, value); }

Variant Field::OriginalValue() const {
  const Row* r = owner().CurrentRowOrNull();
  if (r->state == RowState::New) return Variant::Null();
  const Variant& v = r->original.empty() ? r->values[static_cast<size_t>(index_)]
                                         : r->original[static_cast<size_t>(index_)];
  return v.IsEmpty() ? Variant::Null() : v;
}

// ---------------------------------------------------------------------------

const ClassBinding<Fields>& Fields::Binding() {
  static const auto b = ClassBinding<Fields>("Fields")
                            .Property("Count", &Fields::Count)
                            .Method("Item", &Fields::Item)
                            .Method("Append", &Fields::Append);
  return b;
}

int32_t Fields::Count() const {
  if (!owner_) return 0;
  if (!owner_->store()) return static_cast<int32_t>(owner_->pending_fields_.size());
  return static_cast<int32_t>(owner_->store()->fields.size());
}

std::shared_ptr<Field> Fields::At(int index) {
  if (!owner_ || !owner_->store()) detail::RaiseData(data_err::kObjectClosed, "Fields");
  if (index < 0 || index >= static_cast<int>(owner_->store()->fields.size()))
    detail::RaiseData(data_err::kItemNotFound, "Fields");
  if (fields_.size() <= static_cast<size_t>(index)) fields_.resize(static_cast<size_t>(index) + 1);
  auto& f = fields_[static_cast<size_t>(index)];
  if (!f) f = std::make_shared<Field>(owner_, index);
  return f;
}

Field* Fields::Find(std::string_view name) {
  if (!owner_ || !owner_->store()) detail::RaiseData(data_err::kObjectClosed, "Fields");
  const int i = owner_->store()->FieldIndex(name);
  return i < 0 ? nullptr : At(i).get();
}

Field& Fields::operator[](std::string_view name) {
  Field* f = Find(name);
  if (!f) {
    detail::RaiseData(data_err::kItemNotFound, "Fields",
                      detail::DataErrorText(data_err::kItemNotFound) + " (" + std::string(name) + ")");
  }
  return *f;
}

Field& Fields::operator[](int index) { return *At(index); }

std::shared_ptr<Field> Fields::Item(const Variant& key) {
  if (key.IsString()) {
    (*this)[*key.Get<std::string>()];
    return At(owner_->store()->FieldIndex(*key.Get<std::string>()));
  }
  return At(key.ToLong());
}

void Fields::Append(const std::string& name, int32_t type, std::optional<int32_t> defined_size,
                    std::optional<int32_t>) {
  if (!owner_) detail::RaiseData(data_err::kObjectClosed, "Fields");
  if (owner_->store()) detail::RaiseData(data_err::kObjectOpen, "Fields");
  if (name.empty()) detail::RaiseData(data_err::kBadArguments, "Fields", "A field needs a name.");
  for (const FieldInfo& f : owner_->pending_fields_) {
    if (detail::EqualsNoCase(f.name, name))
      detail::RaiseData(data_err::kBadArguments, "Fields", "The field " + name + " exists already.");
  }
  FieldInfo f;
  f.name = name;
  f.type = type;
  f.defined_size = defined_size.value_or(0);
  owner_->pending_fields_.push_back(std::move(f));
}

void Fields::Reset() {
  for (auto& f : fields_)
    if (f) f->owner_ = nullptr;
  fields_.clear();
}

}  // namespace platform::data
