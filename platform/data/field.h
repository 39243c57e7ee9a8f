// Field is one column of a record set seen at the record set's current row
// ("ADODB.Field"): Name, Type (ADO code), DefinedSize, Value, OriginalValue.
// Fields is the record set's collection of them, by name (case-insensitive)
// or by zero-based index; Append defines the columns of a record set built in
// memory before it is opened.
//
// A Field belongs to its record set and follows its position; after the
// record set is destroyed, using a Field that someone kept raises 3704.
// Assigning a value converts it to the field's type by the Variant rules
// ("12" into an integer field gives 12, "x" raises Type mismatch).
//
// Thread-safety: used with its record set, by one caller at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/dispatch.h"
#include "platform/data/ado_types.h"

namespace platform::data {

class Recordset;

class Field : public Dispatchable<Field> {
 public:
  static const ClassBinding<Field>& Binding();
  Field(Recordset* owner, int index) : owner_(owner), index_(index) {}
  Field(const Field&) = delete;
  Field& operator=(const Field&) = delete;

  const std::string& Name() const;
  int32_t Type() const;
  int32_t DefinedSize() const;
  // The current row's value; Null when the row has none (a new row's field not
  // yet assigned). Raises 3021 at BOF/EOF.
  Variant Value() const;
  // Raises 3021 at BOF/EOF or on a deleted row, 3251 on a read-only set.
  void SetValue(const Variant& value);
  Field& operator=(const Variant& value) {
    SetValue(value);
    return *this;
  }
  // The value as read from the database (the current value for an unchanged
  // row, Null for a new row).
  Variant OriginalValue() const;
  bool IsNull() const { return Value().IsNull(); }
  int index() const { return index_; }

 private:
  friend class Recordset;
  friend class Fields;
  Recordset& owner() const;
  std::string NameText() const { return Name(); }
  Recordset* owner_;
  int index_;
};

class Fields : public Dispatchable<Fields> {
 public:
  static const ClassBinding<Fields>& Binding();
  explicit Fields(Recordset* owner) : owner_(owner) {}
  Fields(const Fields&) = delete;
  Fields& operator=(const Fields&) = delete;

  int32_t Count() const;
  // By name (case-insensitive) or zero-based index; raises 3265 when absent.
  Field& operator[](std::string_view name);
  Field& operator[](int index);
  Field* Find(std::string_view name);  // nullptr when absent
  // Late-bound Item: a name or an index.
  std::shared_ptr<Field> Item(const Variant& key);
  // Defines a column of a record set built in memory; raises 3705 once the
  // record set is open.
  void Append(const std::string& name, int32_t type, std::optional<int32_t> defined_size = {},
              std::optional<int32_t> attributes = {});

 private:
  friend class Recordset;
  std::shared_ptr<Field> At(int index);
  void Reset();  // the record set's columns changed
  Recordset* owner_;
  std::vector<std::shared_ptr<Field>> fields_;
};

}  // namespace platform::data
