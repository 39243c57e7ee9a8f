#include "platform/data/command.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>

#include "platform/data/connection.h"
#include "platform/data/data_util.h"
#include "platform/data/recordset.h"

namespace platform::data {

// --- Stored procedures ---------------------------------------------------------

namespace {

struct Procedures {
  std::shared_mutex mutex;
  std::unordered_map<std::string, std::string> sql;  // "CATALOG\nNAME" -> text
};

Procedures& TheProcedures() {
  static Procedures p;
  return p;
}

std::string ProcedureKey(std::string_view catalog, std::string_view name) {
  // "dbo.GetPrice" and "[GetPrice]" name the same procedure.
  std::string_view n = detail::Trim(name);
  if (n.size() > 4 && detail::EqualsNoCase(n.substr(0, 4), "dbo.")) n.remove_prefix(4);
  if (n.size() >= 2 && n.front() == '[' && n.back() == ']') n = n.substr(1, n.size() - 2);
  return detail::Upper(detail::Trim(catalog)) + '\n' + detail::Upper(n);
}

}  // namespace

void RegisterStoredProcedure(std::string_view catalog, std::string_view name, std::string sql) {
  Procedures& p = TheProcedures();
  std::unique_lock lock(p.mutex);
  p.sql[ProcedureKey(catalog, name)] = std::move(sql);
}

std::string StoredProcedureSql(std::string_view catalog, std::string_view name) {
  Procedures& p = TheProcedures();
  {
    std::shared_lock lock(p.mutex);
    auto it = p.sql.find(ProcedureKey(catalog, name));
    if (it != p.sql.end()) return it->second;
  }
  DataError e;
  e.number = data_err::kProvider;
  e.description = "Could not find stored procedure '" + std::string(name) + "' in database '" +
                  std::string(catalog) + "'.";
  e.source = std::string(kProviderSource);
  e.sql_state = "42000";
  e.native_error = 2812;
  throw DatabaseError(std::move(e));
}

// --- Parameter, Parameters -------------------------------------------------------

const ClassBinding<Parameter>& Parameter::Binding() {
  static const auto b = ClassBinding<Parameter>("Parameter")
                            .Property("Name", &Parameter::NameText, &Parameter::PutName)
                            .Property("Type", &Parameter::TypeCode, &Parameter::PutType)
                            .Property("Direction", &Parameter::DirectionCode, &Parameter::PutDirection)
                            .Property("Size", &Parameter::SizeValue, &Parameter::PutSize)
                            .Property("Value", &Parameter::ValueCopy, &Parameter::SetValue);
  return b;
}

const ClassBinding<Parameters>& Parameters::Binding() {
  static const auto b = ClassBinding<Parameters>("Parameters")
                            .Property("Count", &Parameters::Count)
                            .Property("Item", &Parameters::Item)
                            .Method("Append", &Parameters::AppendObject)
                            .Method("Delete", &Parameters::Delete);
  return b;
}

void Parameters::Append(const std::shared_ptr<Parameter>& p) {
  if (!p) detail::RaiseData(data_err::kBadArguments, "Parameters");
  items_.push_back(p);
}

void Parameters::AppendObject(const Variant& p) {
  auto param = p.As<Parameter>();
  if (!param) detail::RaiseData(data_err::kBadArguments, "Parameters", "Append needs a Parameter.");
  Append(param);
}

std::shared_ptr<Parameter> Parameters::Item(const Variant& key) const {
  if (key.IsString()) {
    for (const auto& p : items_)
      if (detail::EqualsNoCase(p->Name(), *key.Get<std::string>())) return p;
    detail::RaiseData(data_err::kItemNotFound, "Parameters");
  }
  const int32_t i = key.ToLong();
  if (i < 0 || i >= Count()) detail::RaiseData(data_err::kItemNotFound, "Parameters");
  return items_[static_cast<size_t>(i)];
}

void Parameters::Delete(const Variant& key) {
  auto p = Item(key);
  items_.erase(std::find(items_.begin(), items_.end(), p));
}

// --- Command -----------------------------------------------------------------------

const ClassBinding<Command>& Command::Binding() {
  static const auto b =
      ClassBinding<Command>("Command")
          .Property("ActiveConnection", &Command::ActiveConnectionLateBound,
                    &Command::PutActiveConnection)
          .Property("CommandText", &Command::CommandTextCopy, &Command::PutCommandText)
          .Property("CommandType", &Command::CommandTypeCode, &Command::PutCommandType)
          .Property("Parameters", &Command::ParametersObject)
          .Method("CreateParameter", &Command::CreateParameterLateBound)
          .Method("Execute", &Command::ExecuteLateBound);
  return b;
}

Command::Command() : parameters_(std::make_shared<Parameters>()) {}

void Command::SetCommandType(int32_t type) {
  if (type != adCmdText && type != adCmdStoredProc && type != adCmdTable && type != adCmdUnspecified)
    detail::RaiseData(data_err::kBadArguments, "Command");
  type_ = type;
}

std::shared_ptr<Parameter> Command::CreateParameter(const std::string& name, int32_t type,
                                                    int32_t direction, int32_t size,
                                                    const Variant& value) {
  return std::make_shared<Parameter>(name, type, direction, size, value);
}

std::string Command::ResolvedSql() const {
  if (type_ == adCmdStoredProc) {
    if (!connection_ || !connection_->IsOpen()) detail::RaiseData(data_err::kNoConnection, "Command");
    return StoredProcedureSql(connection_->catalog(), text_);
  }
  if (type_ == adCmdTable) {
    // A table name, never a place for other SQL.
    const std::string_view name = detail::Trim(text_);
    for (char c : name) {
      if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.'))
        detail::RaiseData(data_err::kBadArguments, "Command", "\"" + text_ + "\" is no table name.");
    }
    return "SELECT * FROM " + std::string(name);
  }
  return text_;
}

std::vector<BoundValue> Command::BoundValues(std::span<const Variant> values) const {
  std::vector<BoundValue> out;
  if (!values.empty()) {
    // Values given to Execute take the places of the parameters in order, with
    // their names and types where parameters were created.
    const auto& items = parameters_->items();
    for (size_t i = 0; i < values.size(); ++i) {
      if (i < items.size()) {
        out.push_back({items[i]->Name(), CoerceToFieldType(values[i], items[i]->Type())});
      } else {
        out.push_back({std::string(), values[i]});
      }
    }
    return out;
  }
  for (const auto& p : parameters_->items())
    out.push_back({p->Name(), CoerceToFieldType(p->Value(), p->Type())});
  return out;
}

std::shared_ptr<Recordset> Command::Execute(Variant* records_affected) {
  int64_t affected = 0;
  auto rs = Execute(std::span<const Variant>(), &affected);
  if (records_affected) *records_affected = Variant(static_cast<int32_t>(affected));
  return rs;
}

std::shared_ptr<Recordset> Command::Execute(std::span<const Variant> values,
                                            int64_t* records_affected) {
  if (!connection_ || !connection_->IsOpen()) detail::RaiseData(data_err::kNoConnection, "Command");
  QueryResult result = connection_->Recorded([&](Session& s) {
    const std::vector<BoundValue> bound = BoundValues(values);
    if (type_ == adCmdStoredProc) {
      // A server keeps the procedure as a function of its own: it is called,
      // never replaced by the registered statement.
      if (auto done = s.RunProcedure(text_, bound)) return std::move(*done);
    }
    return s.Run(ResolvedSql(), bound, 0);
  });
  if (records_affected) *records_affected = result.rows_affected;
  if (!result.has_rows) return nullptr;
  return Recordset::FromResult(std::move(result), connection_);
}

Variant Command::ActiveConnectionLateBound() const {
  return Variant(std::static_pointer_cast<Object>(connection_));
}

void Command::PutActiveConnection(const Variant& v) {
  connection_ = ConnectionFromVariant(v, "Command");
}

Variant Command::ParametersObject() const {
  return Variant(std::static_pointer_cast<Object>(parameters_));
}

Variant Command::CreateParameterLateBound(std::optional<std::string> name,
                                          std::optional<int32_t> type,
                                          std::optional<int32_t> direction,
                                          std::optional<int32_t> size,
                                          std::optional<Variant> value) {
  return Variant(CreateParameter(name.value_or(std::string()), type.value_or(adVariant),
                                 direction.value_or(adParamInput), size.value_or(0),
                                 value.value_or(Variant())));
}

Variant Command::ExecuteLateBound(std::optional<Variant>& records_affected,
                                  std::optional<Variant> values, std::optional<int32_t> options) {
  int64_t affected = 0;
  std::shared_ptr<Recordset> rs;
  if (values && values->IsArray()) {
    const VariantArray& a = values->Array();
    rs = Execute(std::span<const Variant>(a.data(), a.size()), &affected);
  } else {
    rs = Execute(std::span<const Variant>(), &affected);
  }
  if (records_affected) *records_affected = Variant(static_cast<int32_t>(affected));
  if (!rs || (options && *options >= 0 && (*options & adExecuteNoRecords))) return Variant();
  return Variant(std::move(rs));
}

}  // namespace platform::data
