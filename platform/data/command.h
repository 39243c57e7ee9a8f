// Command is the ADO-style command ("ADODB.Command"): SQL text with positional
// "?" placeholders, or the name of a stored procedure, run on its active
// connection with values bound, never pasted into the text. Parameter and
// Parameters are the classic way to give those values (CreateParameter,
// Parameters.Append); C++ callers may pass a vector of Variants instead.
//
// Stored procedures are named queries registered once per process for a
// catalog (the database's "Initial Catalog"):
//   RegisterStoredProcedure("Vendra", "GetPrice",
//                           "SELECT ... WHERE PRODUCTID = @PRODID ...");
// Named parameters ("@PRODID") take the value of the Parameter of that name,
// or the values in order when the parameters carry no names.
//
// Thread-safety: a command is used by one caller at a time; the procedure
// registry may be read from any thread (registration at start-up).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/dispatch.h"
#include "platform/data/ado_types.h"
#include "platform/data/driver.h"

namespace platform::data {

class Connection;
class Recordset;

class Parameter : public Dispatchable<Parameter> {
 public:
  static const ClassBinding<Parameter>& Binding();
  Parameter() = default;
  Parameter(std::string name, int32_t type, int32_t direction, int32_t size, Variant value)
      : name_(std::move(name)), type_(type), direction_(direction), size_(size),
        value_(std::move(value)) {}

  const std::string& Name() const { return name_; }
  int32_t Type() const { return type_; }
  int32_t Direction() const { return direction_; }
  int32_t Size() const { return size_; }
  const Variant& Value() const { return value_; }
  void SetValue(const Variant& v) { value_ = v; }

 private:
  std::string NameText() const { return name_; }
  Variant ValueCopy() const { return value_; }
  int32_t TypeCode() const { return type_; }
  int32_t DirectionCode() const { return direction_; }
  int32_t SizeValue() const { return size_; }
  void PutName(const Variant& v) { name_ = v.ToString(); }
  void PutType(const Variant& v) { type_ = v.ToLong(); }
  void PutSize(const Variant& v) { size_ = v.ToLong(); }
  void PutDirection(const Variant& v) { direction_ = v.ToLong(); }
  std::string name_;
  int32_t type_ = adVariant;
  int32_t direction_ = adParamInput;
  int32_t size_ = 0;
  Variant value_;
};

class Parameters : public Dispatchable<Parameters> {
 public:
  static const ClassBinding<Parameters>& Binding();
  void Append(const std::shared_ptr<Parameter>& p);
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  // By zero-based index or by name (case-insensitive); raises 3265 when absent.
  std::shared_ptr<Parameter> Item(const Variant& key) const;
  void Delete(const Variant& key);
  void Clear() { items_.clear(); }
  const std::vector<std::shared_ptr<Parameter>>& items() const { return items_; }

 private:
  void AppendObject(const Variant& p);
  std::vector<std::shared_ptr<Parameter>> items_;
};

class Command : public Dispatchable<Command> {
 public:
  static const ClassBinding<Command>& Binding();
  Command();

  const std::shared_ptr<Connection>& ActiveConnection() const { return connection_; }
  void SetActiveConnection(std::shared_ptr<Connection> connection) {
    connection_ = std::move(connection);
  }
  const std::string& CommandText() const { return text_; }
  void SetCommandText(std::string text) { text_ = std::move(text); }
  // adCmdText (1) or adCmdStoredProc (4); adCmdUnspecified reads as text.
  int32_t CommandType() const { return type_; }
  void SetCommandType(int32_t type);

  Parameters& parameters() { return *parameters_; }
  std::shared_ptr<Parameter> CreateParameter(const std::string& name, int32_t type,
                                             int32_t direction, int32_t size,
                                             const Variant& value);

  // Runs the command; a record set for statements that return rows, nullptr
  // for the others. Without values, the Parameters collection is bound.
  std::shared_ptr<Recordset> Execute(Variant* records_affected = nullptr);
  std::shared_ptr<Recordset> Execute(std::span<const Variant> values,
                                     int64_t* records_affected = nullptr);

  // For Recordset.Open: the statement text and the values to bind.
  std::string ResolvedSql() const;
  std::vector<BoundValue> BoundValues(std::span<const Variant> values = {}) const;

 private:
  Variant ActiveConnectionLateBound() const;
  void PutActiveConnection(const Variant& v);
  std::string CommandTextCopy() const { return text_; }
  void PutCommandText(const Variant& v) { text_ = v.ToString(); }
  int32_t CommandTypeCode() const { return type_; }
  void PutCommandType(const Variant& v) { SetCommandType(v.ToLong()); }
  Variant ParametersObject() const;
  Variant CreateParameterLateBound(std::optional<std::string> name, std::optional<int32_t> type,
                                   std::optional<int32_t> direction, std::optional<int32_t> size,
                                   std::optional<Variant> value);
  Variant ExecuteLateBound(std::optional<Variant>& records_affected,
                           std::optional<Variant> values, std::optional<int32_t> options);

  std::shared_ptr<Connection> connection_;
  std::string text_;
  int32_t type_ = adCmdText;
  std::shared_ptr<Parameters> parameters_;
};

// Registers (or replaces) a stored procedure of a catalog: its SQL in the
// canonical dialect, with "?" or "@NAME" placeholders. Names and catalogs
// compare case-insensitively.
void RegisterStoredProcedure(std::string_view catalog, std::string_view name, std::string sql);
// The procedure's SQL; raises a database error naming it when it is unknown.
std::string StoredProcedureSql(std::string_view catalog, std::string_view name);

}  // namespace platform::data
