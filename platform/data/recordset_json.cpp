#include "platform/data/recordset_json.h"

#include "platform/core/com_error.h"
#include "platform/data/data_util.h"
#include "platform/data/recordset.h"

namespace platform::data {

namespace {

std::string_view StatusText(RowState s) {
  switch (s) {
    case RowState::New: return "new";
    case RowState::Modified: return "modified";
    case RowState::Deleted: return "deleted";
    default: return "unchanged";
  }
}

[[noreturn]] void Bad(const std::string& where, const std::string& what) {
  Raise(err::kInvalidProcedureCall, "ADODB.Recordset",
        "Record set JSON" + (where.empty() ? std::string() : " at " + where) + ": " + what);
}

const RecordsetJson& Member(const RecordsetJson& j, const char* key, const std::string& where) {
  auto it = j.find(key);
  if (it == j.end()) Bad(where, std::string("\"") + key + "\" is missing");
  return *it;
}

}  // namespace

RecordsetJson RecordsetToJson(const Recordset& rs, const ValueToJson& encode) {
  RecordsetJson out = RecordsetJson::object();
  const auto& store = rs.store();
  if (!store) {
    out["closed"] = true;
    return out;
  }
  RecordsetJson fields = RecordsetJson::array();
  for (const FieldInfo& f : store->fields) {
    RecordsetJson j = RecordsetJson::object();
    j["name"] = f.name;
    j["type"] = f.type;
    if (f.defined_size) j["size"] = f.defined_size;
    const bool writable = !f.base_column.empty() && !store->table.empty() &&
                          detail::EqualsNoCase(f.base_table, store->table);
    if (writable) {
      j["column"] = f.base_column;
      if (f.key) j["key"] = true;
      if (f.has_default) j["default"] = true;
      if (f.row_id) j["rowid"] = true;
      if (!f.nullable) j["nullable"] = false;
    }
    fields.push_back(std::move(j));
  }
  RecordsetJson rows = RecordsetJson::array();
  for (const Row& r : store->rows) {
    if (r.state == RowState::Gone) continue;
    RecordsetJson row = RecordsetJson::object();
    row["status"] = StatusText(r.state);
    RecordsetJson values = RecordsetJson::array();
    for (const Variant& v : r.values) values.push_back(encode(v));
    row["values"] = std::move(values);
    if (!r.original.empty() && r.original != r.values && !r.locate_by_key) {
      RecordsetJson original = RecordsetJson::array();
      for (const Variant& v : r.original) original.push_back(encode(v));
      row["original"] = std::move(original);
    }
    rows.push_back(std::move(row));
  }
  out["fields"] = std::move(fields);
  out["rows"] = std::move(rows);
  if (!store->table.empty()) {
    RecordsetJson keys = RecordsetJson::array();
    for (const FieldInfo& f : store->fields)
      if (f.key && detail::EqualsNoCase(f.base_table, store->table)) keys.push_back(f.base_column);
    out["source"] = {{"table", store->table}, {"keys", std::move(keys)}};
  }
  out["lock"] = rs.LockType();
  out["cursor"] = rs.CursorType();
  if (!rs.Sort().empty()) out["sort"] = rs.Sort();
  return out;
}

std::shared_ptr<Recordset> RecordsetFromJson(const RecordsetJson& j, const ValueFromJson& decode) {
  if (!j.is_object()) Bad("", "a record set is a JSON object");
  auto store = std::make_shared<RowStore>();
  std::vector<std::string> keys;
  if (auto src = j.find("source"); src != j.end()) {
    if (!src->is_object()) Bad("/source", "must be an object");
    const RecordsetJson& table = Member(*src, "table", "/source");
    if (!table.is_string()) Bad("/source/table", "must be text");
    store->table = table.get<std::string>();
    if (auto k = src->find("keys"); k != src->end()) {
      if (!k->is_array()) Bad("/source/keys", "must be an array");
      for (const auto& key : *k) {
        if (!key.is_string()) Bad("/source/keys", "keys are column names");
        keys.push_back(key.get<std::string>());
      }
    }
  }
  const RecordsetJson& fields = Member(j, "fields", "");
  if (!fields.is_array() || fields.empty()) Bad("/fields", "must be a non-empty array");
  for (size_t i = 0; i < fields.size(); ++i) {
    const std::string where = "/fields/" + std::to_string(i);
    const RecordsetJson& f = fields[i];
    if (!f.is_object()) Bad(where, "must be an object");
    FieldInfo info;
    const RecordsetJson& name = Member(f, "name", where);
    if (!name.is_string() || name.get<std::string>().empty()) Bad(where + "/name", "must be text");
    info.name = name.get<std::string>();
    if (auto t = f.find("type"); t != f.end()) {
      if (!t->is_number_integer()) Bad(where + "/type", "must be an ADO type code");
      info.type = t->get<int32_t>();
    }
    if (auto s = f.find("size"); s != f.end()) {
      if (!s->is_number_integer()) Bad(where + "/size", "must be a whole number");
      info.defined_size = s->get<int32_t>();
    }
    if (auto c = f.find("column"); c != f.end() && !store->table.empty()) {
      if (!c->is_string()) Bad(where + "/column", "must be text");
      info.base_table = store->table;
      info.base_column = c->get<std::string>();
      info.key = f.value("key", false);
      for (const std::string& k : keys) info.key = info.key || detail::EqualsNoCase(k, info.base_column);
      info.has_default = f.value("default", false);
      info.row_id = f.value("rowid", false);
      info.nullable = f.value("nullable", true);
    }
    store->fields.push_back(std::move(info));
  }
  const size_t width = store->fields.size();
  auto read_values = [&](const RecordsetJson& arr, const std::string& where, bool keep_empty) {
    if (!arr.is_array() || arr.size() != width)
      Bad(where, "must be an array of " + std::to_string(width) + " values");
    std::vector<Variant> out;
    out.reserve(width);
    for (size_t c = 0; c < width; ++c) {
      Variant v = decode(arr[c]);
      if (v.IsEmpty() && keep_empty) {
        out.push_back(std::move(v));
        continue;
      }
      try {
        out.push_back(CoerceToFieldType(v, store->fields[c].type));
      } catch (const ComError& e) {
        Bad(where + "/" + std::to_string(c),
            "the value does not fit field " + store->fields[c].name + " (" + e.description() + ")");
      }
    }
    return out;
  };
  const RecordsetJson& rows = Member(j, "rows", "");
  if (!rows.is_array()) Bad("/rows", "must be an array");
  store->rows.reserve(rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    const std::string where = "/rows/" + std::to_string(i);
    const RecordsetJson& r = rows[i];
    if (!r.is_object()) Bad(where, "must be an object");
    Row row;
    const std::string status = r.value("status", std::string("unchanged"));
    if (status == "unchanged") {
      row.state = RowState::Unchanged;
    } else if (status == "new") {
      row.state = RowState::New;
    } else if (status == "modified") {
      row.state = RowState::Modified;
    } else if (status == "deleted") {
      row.state = RowState::Deleted;
    } else {
      Bad(where + "/status", "must be unchanged, new, modified or deleted");
    }
    // A new row keeps its unassigned fields Empty, so their defaults apply.
    row.values = read_values(Member(r, "values", where), where + "/values", row.state == RowState::New);
    if (auto o = r.find("original"); o != r.end() && row.state != RowState::New) {
      row.original = read_values(*o, where + "/original", false);
      if (row.state == RowState::Unchanged && row.original != row.values) row.state = RowState::Modified;
    } else if (row.state == RowState::Modified) {
      // Edited by hand without the values as read: found by key, all written.
      row.locate_by_key = true;
      row.original = row.values;
    } else if (row.state == RowState::Deleted) {
      row.original = row.values;
    }
    store->rows.push_back(std::move(row));
  }
  store->IndexFields();
  store->RecountLive();
  auto rs = std::make_shared<Recordset>();
  rs->SetCursorLocation(adUseClient);
  int32_t lock = adLockBatchOptimistic, cursor = adOpenStatic;
  if (auto l = j.find("lock"); l != j.end()) {
    if (!l->is_number_integer()) Bad("/lock", "must be an ADO lock type");
    lock = l->get<int32_t>();
    if (lock < adLockReadOnly || lock > adLockBatchOptimistic) Bad("/lock", "must be an ADO lock type");
  }
  if (auto c = j.find("cursor"); c != j.end()) {
    if (!c->is_number_integer()) Bad("/cursor", "must be an ADO cursor type");
    cursor = c->get<int32_t>();
    if (cursor < adOpenForwardOnly || cursor > adOpenStatic) Bad("/cursor", "must be an ADO cursor type");
  }
  rs->OpenStore(std::move(store), cursor, lock);
  if (auto s = j.find("sort"); s != j.end() && s->is_string() && !s->get<std::string>().empty())
    rs->SetSort(s->get<std::string>());
  return rs;
}

}  // namespace platform::data
