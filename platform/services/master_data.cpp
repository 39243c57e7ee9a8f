#include "platform/services/master_data.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>

#include "platform/core/com_error.h"
#include "platform/core/object.h"
#include "platform/core/text.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/data/transaction_scope.h"
#include "platform/core/dictionary.h"
#include "platform/host/registry.h"
#include "platform/services/referential_checker.h"

namespace platform {

namespace {

constexpr char kSource[] = "Orvanta.ReferentialChecker.DeleteMasterRecord";

std::mutex g_mutex;
std::vector<std::string>& Implementers() {
  static std::vector<std::string> list;
  return list;
}

// A column of the platform's own data: one that refers to the master record
// (it holds the record: the delete is refused) or that depends on it (its
// rows go with the record).
struct Column {
  const char* catalog;
  const char* table;
  const char* column;
};

// How the implementers are asked about a master kind: under which contract
// kind, with which key field names (each given the record's key value).
struct Question {
  const char* kind;
  std::vector<const char*> key_names;
};

struct MasterKind {
  const char* name;
  std::vector<const char*> aliases;
  const char* catalog;
  const char* table;
  const char* key;
  bool integer_key;
  const char* condition;  // what else the row must be ("PARTNERTYPE = 2"), or nullptr
  std::vector<Question> questions;
  std::vector<Column> holders;
  std::vector<Column> dependents;
};

const std::vector<MasterKind>& Kinds() {
  static const std::vector<MasterKind> kinds = {
      {"CUSTOMER", {}, "Kelmor", "BUSINESSPARTNER", "BUSINESSPARTNERID", true, "PARTNERTYPE = 2",
       {{"CUSTOMER", {"BUSINESSPARTNERID", "CUSTOMERID"}}, {"BUSINESSPARTNER", {"BUSINESSPARTNERID"}}},
       {{"Kelmor", "ADDRESS", "BUSINESSPARTNERID"},
        {"Kelmor", "USERS", "BUSINESSPARTNERID"},
        {"Brevane", "PRODUCT", "BUSINESSPARTNERID"}},
       {}},
      {"BUSINESSPARTNER", {"PARTNER"}, "Kelmor", "BUSINESSPARTNER", "BUSINESSPARTNERID", true,
       nullptr,
       {{"BUSINESSPARTNER", {"BUSINESSPARTNERID"}}, {"CUSTOMER", {"BUSINESSPARTNERID", "CUSTOMERID"}}},
       {{"Kelmor", "ADDRESS", "BUSINESSPARTNERID"},
        {"Kelmor", "USERS", "BUSINESSPARTNERID"},
        {"Brevane", "PRODUCT", "BUSINESSPARTNERID"}},
       {}},
      {"PRODUCT", {}, "Brevane", "PRODUCT", "PRODUCTID", true, nullptr,
       {{"PRODUCT", {"PRODUCTID"}}},
       {},
       {{"Brevane", "PRODUCTSBYCATEGORY", "PRODUCTID"}}},
      {"CURRENCY", {}, "Kelmor", "CURRENCY", "CURRENCYCODE", false, nullptr,
       {{"CURRENCY", {"CURRENCYCODE"}}},
       {{"Kelmor", "HOMECURRENCY", "CURRENCYCODE"}, {"Kelmor", "BUSINESSPARTNER", "CURRENCYCODE"}},
       {{"Kelmor", "EXCHANGERATE", "CURRENCYCODE"}}},
      {"TRANSPORTCARRIER", {"CARRIER"}, "Kelmor", "CARRIER", "CARRIERCODE", false, nullptr,
       {{"TRANSPORTCARRIER", {"CARRIERCODE"}}},
       {{"Kelmor", "BUSINESSPARTNER", "CARRIERCODE"}},
       {}},
      {"COUNTRY", {}, "Kelmor", "COUNTRY", "COUNTRYCODE", false, nullptr,
       {{"COUNTRY", {"COUNTRYCODE"}}},
       {{"Kelmor", "ADDRESS", "COUNTRYCODE"}},
       {}},
      {"UNIT", {}, "Brevane", "UNIT", "UNITCODE", false, nullptr,
       {{"UNIT", {"UNITCODE"}}},
       {{"Brevane", "PRODUCT", "UNITCODE"}},
       {}},
      {"ADDRESS", {}, "Kelmor", "ADDRESS", "ADDRESSID", true, nullptr,
       {{"ADDRESS", {"ADDRESSID"}}},
       {{"Kelmor", "BUSINESSPARTNER", "POSTALADDRESSID"},
        {"Kelmor", "BUSINESSPARTNER", "SHIPPINGADDRESSID"}},
       {}},
      {"USER", {}, "Kelmor", "USERS", "USERID", false, nullptr, {{"USER", {"USERID"}}}, {}, {}},
      {"KROINSTANCE", {"INSTANCE"}, "Gantrel", "INSTANCE", "KROID", true, nullptr,
       {{"KROINSTANCE", {"KROID"}}},
       {{"Gantrel", "SALESORDER", "KROID"}},
       {}},
  };
  return kinds;
}

[[noreturn]] void Refuse(const std::string& text) {
  Raise(err::kInvalidProcedureCall, kSource, text);
}

const MasterKind& KindNamed(std::string_view name) {
  const std::string_view wanted = text::TrimSpace(name);
  for (const MasterKind& k : Kinds()) {
    if (text::EqualsNoCase(wanted, k.name)) return k;
    for (const char* alias : k.aliases)
      if (text::EqualsNoCase(wanted, alias)) return k;
  }
  std::string known;
  for (const MasterKind& k : Kinds()) known += (known.empty() ? "" : ", ") + std::string(k.name);
  Refuse("'" + std::string(name) + "' is no kind of master data (kinds: " + known + ")");
}

// The key value as the master table holds it: a whole number for a numeric
// key, trimmed text otherwise.
Variant KeyValue(const MasterKind& kind, const std::vector<std::pair<std::string, Variant>>& key) {
  std::optional<Variant> found;
  for (const auto& [field, value] : key) {
    if (!text::EqualsNoCase(text::TrimSpace(field), kind.key)) {
      Refuse("A " + std::string(kind.name) + " is deleted by " + kind.key + " alone, not by '" +
             field + "'");
    }
    if (found) Refuse(std::string(kind.key) + " is given twice");
    found = value;
  }
  if (!found || found->IsMissing()) Refuse("A " + std::string(kind.name) + " needs its " + kind.key);
  if (!kind.integer_key) {
    const std::string text(text::TrimBlanks(found->ToString()));
    if (text.empty()) Refuse("A " + std::string(kind.name) + " needs its " + kind.key);
    return Variant(text);
  }
  try {
    const double d = found->ToDouble();
    if (std::floor(d) == d && d >= INT32_MIN && d <= INT32_MAX)
      return Variant(static_cast<int32_t>(d));
  } catch (const ComError&) {
  }
  Refuse(std::string(kind.key) + " must be a whole number, not '" + found->ToString() + "'");
}

std::string RowsText(int64_t n) { return std::to_string(n) + (n == 1 ? " row" : " rows"); }

// Connections of the delete, one per catalog, all inside the scope.
class Catalogs {
 public:
  data::Connection& operator[](const std::string& catalog) {
    auto& connection = open_[catalog];
    if (!connection) {
      connection = std::make_shared<data::Connection>();
      connection->Open("Provider=SQLite;Data Source=data;Initial Catalog=" + catalog);
    }
    return *connection;
  }
  ~Catalogs() {
    for (auto& [name, connection] : open_) connection->Close();
  }

 private:
  std::map<std::string, std::shared_ptr<data::Connection>> open_;
};

int64_t Count(data::Connection& db, const Column& c, const Variant& value) {
  auto rs = db.Execute(std::string("SELECT COUNT(*) FROM ") + c.table + " WHERE " + c.column +
                           " = ?",
                       {value});
  return rs && !rs->Eof() ? rs->fields()[0].Value().ToLong() : 0;
}

}  // namespace

void RegisterReferentialIntegrity(std::string progid) {
  std::lock_guard lock(g_mutex);
  auto& list = Implementers();
  for (const std::string& p : list)
    if (text::EqualsNoCase(p, progid)) return;
  list.push_back(std::move(progid));
}

std::vector<std::string> ReferentialIntegrityImplementers() {
  std::lock_guard lock(g_mutex);
  return Implementers();
}

std::vector<std::pair<std::string, std::string>> MasterKinds() {
  std::vector<std::pair<std::string, std::string>> kinds;
  for (const MasterKind& k : Kinds()) kinds.emplace_back(k.name, k.key);
  return kinds;
}

MasterDeleteOutcome DeleteMasterRecord(std::string_view kind_name,
                                       const std::vector<std::pair<std::string, Variant>>& key) {
  const MasterKind& kind = KindNamed(kind_name);
  const Variant value = KeyValue(kind, key);
  MasterDeleteOutcome outcome;
  outcome.kind = kind.name;
  outcome.record = std::string(kind.catalog) + "." + kind.table + " " + kind.key + "=" +
                   value.ToString();

  data::TransactionScope scope;
  Catalogs db;
  // The master's database first: its write lock is held from here on, so the
  // record cannot change under the questions.
  const std::string where = std::string(" WHERE ") + kind.key + " = ?" +
                            (kind.condition ? std::string(" AND ") + kind.condition : "");
  {
    auto rs = db[kind.catalog].Execute(std::string("SELECT 1 FROM ") + kind.table + where, {value});
    if (!rs || rs->Eof()) {
      Refuse("There is no " + std::string(kind.name) + " with " + kind.key + " " +
             value.ToString());
    }
  }

  const std::vector<std::string> implementers = ReferentialIntegrityImplementers();
  std::vector<ObjectPtr> objects;
  for (const std::string& progid : implementers) objects.push_back(CreateObject(progid));

  // The implementers remove their dependent rows first ...
  for (size_t i = 0; i < objects.size(); ++i) {
    const int64_t before = scope.RowsChanged();
    for (const Question& q : kind.questions) {
      VariantArray names(q.key_names.begin(), q.key_names.end());
      VariantArray values(q.key_names.size(), value);
      Call(objects[i], "BeforeDelete", {Variant(q.kind), Variant(names), Variant(values)});
    }
    if (const int64_t n = scope.RowsChanged() - before; n > 0)
      outcome.removed.push_back(implementers[i] + ": " + RowsText(n));
  }
  // ... and then say whether anything of theirs still refers to the record.
  for (size_t i = 0; i < objects.size(); ++i) {
    for (const Question& q : kind.questions) {
      VariantArray names(q.key_names.begin(), q.key_names.end());
      VariantArray values(q.key_names.size(), value);
      if (Call(objects[i], "Exists", {Variant(q.kind), Variant(names), Variant(values)}).ToBool()) {
        outcome.held_by.push_back(implementers[i]);
        break;
      }
    }
  }
  for (const Column& c : kind.holders) {
    if (const int64_t n = Count(db[c.catalog], c, value); n > 0)
      outcome.held_by.push_back(std::string(c.catalog) + "." + c.table + "." + c.column + " (" +
                                RowsText(n) + ")");
  }
  if (!outcome.held_by.empty()) {
    outcome.removed.clear();
    return outcome;  // the scope rolls back what the implementers removed
  }

  for (const Column& c : kind.dependents) {
    int64_t n = 0;
    db[c.catalog].Execute(std::string("DELETE FROM ") + c.table + " WHERE " + c.column + " = ?",
                          {value}, &n);
    if (n > 0) outcome.removed.push_back(std::string(c.catalog) + "." + c.table + ": " + RowsText(n));
  }
  int64_t n = 0;
  db[kind.catalog].Execute(std::string("DELETE FROM ") + kind.table + where, {value}, &n);
  outcome.removed.push_back(std::string(kind.catalog) + "." + kind.table + ": " + RowsText(n));
  objects.clear();
  scope.Commit();
  outcome.deleted = true;
  return outcome;
}

ObjectPtr ReferentialChecker::DeleteMasterRecord(const std::string& kind, const Variant& keyNames,
                                                 const Variant& keyValues) {
  const VariantArray& names = keyNames.Array();
  const VariantArray& values = keyValues.Array();
  if (names.size() != values.size()) {
    Refuse("The key needs as many values as names (" + std::to_string(names.size()) +
           " names, " + std::to_string(values.size()) + " values)");
  }
  std::vector<std::pair<std::string, Variant>> key;
  for (size_t i = 0; i < names.size(); ++i) key.emplace_back(names[i].ToString(), values[i]);
  const MasterDeleteOutcome outcome = platform::DeleteMasterRecord(kind, key);
  const auto texts = [](const std::vector<std::string>& list) {
    return Variant(VariantArray(list.begin(), list.end()));
  };
  auto answer = Dictionary::New();
  answer->Add("Deleted", Variant(outcome.deleted));
  answer->Add("Record", Variant(outcome.record));
  answer->Add("HeldBy", texts(outcome.held_by));
  answer->Add("Removed", texts(outcome.removed));
  return answer;
}

}  // namespace platform
