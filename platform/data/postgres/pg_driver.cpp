#include "platform/data/postgres/pg_driver.h"

#include <libpq-fe.h>

#include <atomic>
#include <cctype>
#include <span>
#include <type_traits>
#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/core/clock.h"
#include "platform/data/ado_types.h"
#include "platform/data/data_util.h"
#include "platform/data/fault_injection.h"
#include "platform/data/postgres/pg_connection.h"
#include "platform/data/postgres/pg_dialect.h"
#include "platform/data/postgres/pg_values.h"
#include "platform/data/sqlite/literal_lexer.h"
#include "platform/data/sqlite/sqlite_driver.h"

namespace platform::data::postgres {

namespace {

constexpr const char* kColumnsQuery = R"(
SELECT c.oid, c.relname, a.attnum, COALESCE(nc.spelling, a.attname), format_type(a.atttypid, a.atttypmod), a.attnotnull,
       a.atthasdef OR a.attidentity <> '', pg_get_expr(d.adbin, d.adrelid),
       COALESCE((SELECT k.n FROM unnest(i.indkey) WITH ORDINALITY AS k(attnum, n)
                 WHERE k.attnum = a.attnum), 0),
       a.attidentity <> '' OR COALESCE(pg_get_expr(d.adbin, d.adrelid) LIKE 'nextval(%', false)
FROM pg_class c
JOIN pg_attribute a ON a.attrelid = c.oid AND a.attnum > 0 AND NOT a.attisdropped
LEFT JOIN pg_attrdef d ON d.adrelid = c.oid AND d.adnum = a.attnum
LEFT JOIN pg_index i ON i.indrelid = c.oid AND i.indisprimary
LEFT JOIN vendra_names nc ON nc.folded = a.attname
WHERE )";

// ---------------------------------------------------------------------------

class PgSession final : public Session {
 public:
  PgSession(std::unique_ptr<Handle> h, Target target) : h_(std::move(h)), target_(std::move(target)) {}
  ~PgSession() override { GiveBack(std::move(h_)); }

  QueryResult Run(std::string_view sql, std::span<const BoundValue> params, int64_t max_rows) override {
    FaultInjection::BeforeStatement();
    if (params.empty()) {
      if (auto done = RunParameterised(sql, max_rows)) return std::move(*done);
    }
    auto st = CachedPostgresStatement(sql);
    std::vector<std::string> texts(st->parameters.size());
    std::vector<bool> bound(st->parameters.size(), false), present(st->parameters.size(), false);
    size_t next = 0;
    for (const BoundValue& b : params) {
      size_t index = st->parameters.size();
      if (!b.name.empty()) {
        for (size_t k = 0; k < st->parameters.size(); ++k) {
          const std::string& p = st->parameters[k];
          if (detail::EqualsNoCase(p, b.name) || (!p.empty() && detail::EqualsNoCase(p.substr(1), b.name)))
            index = k;
        }
      }
      if (index == st->parameters.size()) {
        while (next < bound.size() && bound[next]) ++next;
        index = next++;
      }
      if (index >= st->parameters.size()) {
        Raise("07001", std::to_string(params.size()) + " values were given for a statement with " +
                           std::to_string(st->parameters.size()) + " parameters.");
      }
      present[index] = ParameterText(b.value, texts[index]);
      bound[index] = true;
    }
    for (size_t k = 0; k < bound.size(); ++k) {
      if (!bound[k]) {
        Raise("07001", "No value was given for parameter " +
                           (st->parameters[k].empty() ? std::to_string(k + 1) : st->parameters[k]) + ".");
      }
    }
    return Execute(*st, texts, present, max_rows);
  }

  int64_t Exec(std::string_view sql, std::span<const Variant> params) override {
    FaultInjection::BeforeStatement();
    if (params.empty()) {
      if (auto done = RunParameterised(sql, 0)) return done->rows_affected;
    }
    auto st = CachedPostgresStatement(sql);
    if (params.size() != st->parameters.size()) {
      Raise("07001", std::to_string(params.size()) + " values were given for a statement with " +
                         std::to_string(st->parameters.size()) + " parameters.");
    }
    std::vector<std::string> texts(params.size());
    std::vector<bool> present(params.size());
    for (size_t k = 0; k < params.size(); ++k) present[k] = ParameterText(params[k], texts[k]);
    return Execute(*st, texts, present, 0).rows_affected;
  }

  void ExecuteScript(std::string_view sql) override {
    const PgStatement st = TranslateToPostgres(sql);
    EnsureDomains(st);
    WithReconnect([&] { ExecSimple(conn(), Finish(st, {})); });
    SchemaChanged();
    KeepSpellings(st);
    // Rows inserted with their numbers given leave the identity counters
    // behind: they continue after the highest number.
    ExecSimple(conn(), R"(DO $vendra$ DECLARE r record; BEGIN
  FOR r IN SELECT c.relname, a.attname FROM pg_class c JOIN pg_attribute a ON a.attrelid = c.oid
           WHERE a.attidentity <> '' AND c.relnamespace = current_schema()::regnamespace LOOP
    EXECUTE format('SELECT setval(pg_get_serial_sequence(%L, %L), GREATEST((SELECT max(%I) FROM %I), 0) + 1, false)',
                   quote_ident(r.relname), r.attname, r.attname, r.relname);
  END LOOP; END $vendra$)");
  }

  void Begin() override { Control("BEGIN"); }
  void Commit() override { Control("COMMIT"); }
  // A connection the server dropped has nothing left to roll back: the
  // server ended its transaction with it.
  void Rollback() override {
    if (PQstatus(conn()) == CONNECTION_BAD) return;
    if (PQtransactionStatus(conn()) != PQTRANS_IDLE) Control("ROLLBACK");
  }
  void Savepoint(std::string_view name) override { Control("SAVEPOINT " + std::string(name)); }
  void ReleaseSavepoint(std::string_view name) override { Control("RELEASE SAVEPOINT " + std::string(name)); }
  void RollbackToSavepoint(std::string_view name) override {
    if (PQstatus(conn()) == CONNECTION_BAD || PQtransactionStatus(conn()) == PQTRANS_IDLE) return;
    Control("ROLLBACK TO SAVEPOINT " + std::string(name));
    Control("RELEASE SAVEPOINT " + std::string(name));
  }

  int64_t LastInsertId() override { return last_insert_id_; }

  std::vector<ColumnDescription> DescribeTable(std::string_view table) override {
    auto info = TableByName(std::string(table));
    return info ? info->columns : std::vector<ColumnDescription>{};
  }

  std::vector<std::string> TableNames() override {
    ResultPtr r = ExecSimple(conn(),
                             "SELECT COALESCE(n.spelling, c.relname) FROM pg_class c "
                             "LEFT JOIN vendra_names n ON n.folded = c.relname "
                             "WHERE c.relkind IN ('r', 'p') AND c.relname <> 'vendra_names' AND "
                             "c.relnamespace = current_schema()::regnamespace ORDER BY c.relname");
    std::vector<std::string> names;
    for (int i = 0; i < PQntuples(r.get()); ++i) names.emplace_back(PQgetvalue(r.get(), i, 0));
    return names;
  }

  std::string Describe() const override { return target_.Describe(); }

  // A stored procedure is a function of the database ("GetPrice" ->
  // getprice): "SELECT * FROM getprice(prodid => ?, ...)", its arguments by
  // the parameters' names ("@PRODID") where every one has a name, as the
  // registered statement reads them, else in order. A missing function is
  // the server's own error.
  // Its numeric result columns read as decimals (adNumeric), as the
  // procedure's NUMERIC columns do on SQLite.
  std::optional<QueryResult> RunProcedure(std::string_view name, std::span<const BoundValue> params) override {
    std::string_view n = detail::Trim(name);
    if (n.size() > 4 && detail::EqualsNoCase(n.substr(0, 4), "dbo.")) n.remove_prefix(4);
    if (n.size() >= 2 && n.front() == '[' && n.back() == ']') n = n.substr(1, n.size() - 2);
    auto identifier = [](std::string_view w) {
      if (w.empty() || std::isdigit(static_cast<unsigned char>(w.front()))) return false;
      return std::all_of(w.begin(), w.end(),
                         [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; });
    };
    if (!identifier(n))
      detail::RaiseData(data_err::kBadArguments, "Command", "\"" + std::string(name) + "\" is no procedure name.");
    bool named = true;
    for (const BoundValue& b : params) {
      std::string_view p = b.name;
      if (!p.empty() && p.front() == '@') p.remove_prefix(1);
      named = named && identifier(p);
    }
    const std::string function = detail::Lower(n);
    const ProcedureColumns& columns = ResultColumns(function);
    std::string call = "SELECT " + columns.select + " FROM " + function + "(";
    for (size_t k = 0; k < params.size(); ++k) {
      if (k) call += ", ";
      if (named) {
        std::string_view p = params[k].name;
        if (p.front() == '@') p.remove_prefix(1);
        call += detail::Lower(p) + " => ";
      }
      call += '?';
    }
    QueryResult result = Run(call + ")", params, 0);
    for (size_t c = 0; c < result.fields.size() && c < columns.numeric.size(); ++c) {
      if (!columns.numeric[c]) continue;
      result.fields[c].type = adNumeric;
      for (Row& row : result.rows)
        if (!row.values[c].IsNull()) row.values[c] = CoerceToFieldType(row.values[c], adNumeric);
    }
    return result;
  }

 private:
  PGconn* conn() const { return h_->conn.get(); }

  // The result columns of a function, as the instance scripts spelled them
  // ("PRODUCTID", not the server's productid), so its fields are named as
  // the registered statement's; "*" for a function the server does not have.
  const ProcedureColumns& ResultColumns(const std::string& function) {
    CheckSchemaEpoch();
    auto it = h_->procedures.find(function);
    if (it != h_->procedures.end()) return it->second;
    static constexpr char kQuery[] =
        "SELECT coalesce(n.spelling, o.name), o.type = 'numeric'::regtype FROM pg_proc p "
        "CROSS JOIN LATERAL unnest(p.proargnames, p.proargmodes, p.proallargtypes) WITH ORDINALITY "
        "AS o(name, mode, type, k) "
        "LEFT JOIN vendra_names n ON n.folded = o.name "
        "WHERE p.proname = $1 AND p.pronamespace = current_schema()::regnamespace AND o.mode = 't' "
        "ORDER BY o.k";
    static const ProcedureColumns kAll{"*", {}};
    const char* values[1] = {function.c_str()};
    ResultPtr r = WithReconnect([&] {
      ResultPtr res(PQexecParams(conn(), kQuery, 1, nullptr, values, nullptr, nullptr, 0));
      if (PQresultStatus(res.get()) != PGRES_TUPLES_OK) RaiseResult(conn(), res.release());
      return res;
    });
    ProcedureColumns columns;
    for (int i = 0; i < PQntuples(r.get()); ++i) {
      std::string name = PQgetvalue(r.get(), i, 0);
      if (name.find(']') != std::string::npos) return kAll;
      columns.select += (columns.select.empty() ? "[" : ", [") + name + "]";
      columns.numeric.push_back(std::string_view(PQgetvalue(r.get(), i, 1)) == "t");
    }
    if (columns.select.empty()) return kAll;  // the call reports the server's own error
    return h_->procedures.emplace(function, std::move(columns)).first->second;
  }

  // Automatic parameterisation: a statement with its values written into it
  // runs as its shape (each value literal a parameter, shared by every
  // statement that differs only in its values), prepared once per
  // connection. Literals are typed as the server's parser types them:
  // integers int4 (int8 when larger), other numbers numeric, texts unknown.
  // A shape the server will not prepare runs as written. nullopt: not
  // parameterised.
  std::optional<QueryResult> RunParameterised(std::string_view sql, int64_t max_rows) {
    if (!sqlite::AutoParameterisation() || h_->prepared.size() >= kMaxPreparedPerConnection) return std::nullopt;
    sqlite::ParameterisedStatement p = sqlite::Parameterise(sql);
    if (!p.parameterised) return std::nullopt;
    auto st = CachedPostgresStatement(p.shape);
    if (st->parameters.size() != p.literals.size() || !st->now_at.empty()) return std::nullopt;
    std::vector<std::string> texts(p.literals.size());
    std::vector<bool> present(p.literals.size(), true);
    std::vector<Oid> types(p.literals.size(), 0);
    for (size_t k = 0; k < p.literals.size(); ++k) {
      const sqlite::Literal& l = p.literals[k];
      switch (l.kind) {
        case sqlite::Literal::Kind::kText:
          texts[k] = l.text;
          break;
        case sqlite::Literal::Kind::kInteger:
          texts[k] = std::to_string(l.integer);
          types[k] = l.integer >= std::numeric_limits<int32_t>::min() &&
                             l.integer <= std::numeric_limits<int32_t>::max()
                         ? kInt4Oid
                         : kInt8Oid;
          break;
        case sqlite::Literal::Kind::kReal:
          texts[k] = (l.negative ? "-" : "") + l.text;
          types[k] = kNumericOid;
          break;
        case sqlite::Literal::Kind::kBlob:
          return std::nullopt;
      }
    }
    types_ = &types;
    prepare_failed_ = false;
    try {
      QueryResult r = Execute(*st, texts, present, max_rows);
      types_ = nullptr;
      return r;
    } catch (const DatabaseError&) {
      types_ = nullptr;
      if (!prepare_failed_) throw;
      return std::nullopt;  // the text runs as written and reports its own error, if it has one
    }
  }

  // The key of a prepared statement: its text, and the parameter types
  // when they were given.
  std::string PreparedKey(const std::string& text) const {
    if (!types_) return text;
    std::string key = text;
    key += '\0';
    for (Oid t : *types_) key += std::to_string(t) + ',';
    return key;
  }
  const Oid* Types() const { return types_ ? types_->data() : nullptr; }

  // Runs work; a pooled connection the server dropped (a restart) fails its
  // first statement: it is connected again and the work runs once more.
  // Only before anything ran on the session, so no statement runs twice.
  template <typename F>
  std::invoke_result_t<F&> WithReconnect(F&& work) {
    const bool first = !used_;
    used_ = true;
    if (!first) return work();
    try {
      return work();
    } catch (const DatabaseError&) {
      if (PQstatus(conn()) != CONNECTION_BAD) throw;
      h_->prepared.clear();
      PQreset(conn());
      if (PQstatus(conn()) != CONNECTION_OK) {
        Raise("08001", "Cannot open database \"" + target_.dbname + "\" on " + target_.Describe() + ": " +
                           PQerrorMessage(conn()));
      }
      return work();
    }
  }

  void Control(const std::string& sql) {
    WithReconnect([&] { ExecSimple(conn(), sql); });
  }

  // The server folds names to lower case: the spellings of the names a
  // schema statement wrote are kept, so result columns, the schema rowset
  // and table names read as they were declared ("ProdID", not "prodid").
  void KeepSpellings(const PgStatement& st) {
    std::string folded = "{", spelled = "{";
    auto element = [](std::string& out, const std::string& v) {
      if (out.size() > 1) out += ',';
      out += '"';
      for (char c : v) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
      }
      out += '"';
    };
    for (const auto& [lower, spelling] : st.spellings) {
      if (lower == spelling) continue;
      element(folded, lower);
      element(spelled, spelling);
    }
    if (folded.size() == 1) return;
    folded += '}';
    spelled += '}';
    const char* values[2] = {folded.c_str(), spelled.c_str()};
    ResultPtr r(PQexecParams(conn(),
                             "INSERT INTO vendra_names SELECT * FROM unnest($1::text[], $2::text[]) "
                             "ON CONFLICT DO NOTHING",
                             2, nullptr, values, nullptr, nullptr, 0));
    if (PQresultStatus(r.get()) != PGRES_COMMAND_OK) RaiseResult(conn(), r.release());
  }

  void EnsureDomains(const PgStatement& st) {
    for (const std::string& d : st.domains) {
      if (h_->domains.count(d)) continue;
      const std::string def = DomainDefinition(d);
      if (!def.empty()) WithReconnect([&] { ExecSimple(conn(), def); });
      h_->domains.insert(d);
    }
  }

  // The text with the clock and the identity column filled in.
  std::string Finish(const PgStatement& st, const std::string& identity) {
    if (st.now_at.empty() && st.rowid_at.empty()) return st.text;
    std::string out;
    size_t from = 0, n = 0, r = 0;
    const std::string now = "CAST('" + Clock::Now().ToIso() + "' AS timestamp(0))";
    const std::string rowid = identity.empty() ? std::string("ctid") : "\"" + identity + "\"";
    while (n < st.now_at.size() || r < st.rowid_at.size()) {
      const bool take_now = r >= st.rowid_at.size() || (n < st.now_at.size() && st.now_at[n] < st.rowid_at[r]);
      const size_t at = take_now ? st.now_at[n++] : st.rowid_at[r++];
      out.append(st.text, from, at - from);
      out += take_now ? now : rowid;
      from = at;
    }
    out.append(st.text, from);
    return out;
  }

  // The table named after a keyword ("INTO", "FROM") of a translated text.
  static std::string TableAfter(const std::string& text, std::string_view keyword) {
    const std::string upper = detail::Upper(text);
    size_t at = upper.find(" " + std::string(keyword) + " ");
    if (at == std::string::npos) return {};
    size_t j = at + keyword.size() + 2;
    while (j < text.size() && text[j] == ' ') ++j;
    std::string name;
    if (j < text.size() && text[j] == '"') {
      for (++j; j < text.size() && text[j] != '"'; ++j) name += text[j];
    } else {
      for (; j < text.size() && (std::isalnum(static_cast<unsigned char>(text[j])) || text[j] == '_'); ++j)
        name += text[j];
    }
    return detail::Lower(name);
  }

  // Forgets what a schema change made elsewhere in the process outdated.
  void CheckSchemaEpoch() {
    const uint64_t epoch = g_schema_epoch.load();
    if (h_->schema_epoch == epoch) return;
    h_->tables.clear();
    h_->procedures.clear();
    if (!h_->prepared.empty()) {
      PQclear(PQexec(conn(), "DEALLOCATE ALL"));
      h_->prepared.clear();
    }
    h_->schema_epoch = epoch;
  }

  void SchemaChanged() {
    ++g_schema_epoch;
    CheckSchemaEpoch();
  }

  QueryResult Execute(const PgStatement& st, const std::vector<std::string>& texts,
                      const std::vector<bool>& present, int64_t max_rows) {
    CheckSchemaEpoch();
    EnsureDomains(st);
    // An insert into a table the database numbers returns the number (the
    // batch reads it back as the new row's id); rowid names that column.
    std::string identity;
    const std::string head = detail::Upper(detail::Trim(std::string_view(st.text).substr(0, 12)));
    const bool insert = head.rfind("INSERT", 0) == 0;
    if (insert || !st.rowid_at.empty()) {
      if (auto info = TableByName(TableAfter(st.text, insert ? "INTO" : "FROM"))) identity = info->identity;
    }
    std::string text = Finish(st, identity);
    const bool returning = insert && !identity.empty() &&
                           detail::Upper(text).find("RETURNING") == std::string::npos;
    if (returning) text += " RETURNING \"" + identity + "\"";
    std::vector<const char*> values(texts.size());
    for (size_t k = 0; k < texts.size(); ++k) values[k] = present[k] ? texts[k].c_str() : nullptr;
    const bool prepare = st.now_at.empty();
    ResultPtr res = WithReconnect([&] {
      if (PQtransactionStatus(conn()) == PQTRANS_INTRANS)
        return InStatementSavepoint(text, static_cast<int>(texts.size()), values.data(), prepare);
      PGresult* r = nullptr;
      if (prepare) {
        const std::string& name = Prepared(text, static_cast<int>(texts.size()));
        if (!name.empty()) {
          r = PQexecPrepared(conn(), name.c_str(), static_cast<int>(texts.size()), values.data(), nullptr,
                             nullptr, 0);
        }
      }
      if (!r) {
        r = PQexecParams(conn(), text.c_str(), static_cast<int>(texts.size()), Types(), values.data(), nullptr,
                         nullptr, 0);
      }
      const ExecStatusType s = PQresultStatus(r);
      if (s != PGRES_COMMAND_OK && s != PGRES_TUPLES_OK) RaiseResult(conn(), r);
      return ResultPtr(r);
    });
    QueryResult result;
    PGresult* r = res.get();
    const char* tuples = PQcmdTuples(r);
    const int64_t affected = tuples && *tuples ? std::strtoll(tuples, nullptr, 10) : 0;
    if (returning) {
      if (PQntuples(r) > 0 && !PQgetisnull(r, 0, 0)) last_insert_id_ = std::strtoll(PQgetvalue(r, 0, 0), nullptr, 10);
      result.rows_affected = affected;
      return result;
    }
    if (PQresultStatus(r) == PGRES_COMMAND_OK) {
      const std::string_view status = PQcmdStatus(r);
      if (status.rfind("CREATE", 0) == 0 || status.rfind("ALTER", 0) == 0 || status.rfind("DROP", 0) == 0) {
        SchemaChanged();
        KeepSpellings(st);
      }
      result.rows_affected = affected;
      return result;
    }
    Describe(st, r, result);
    const int rows = PQntuples(r);
    const int columns = PQnfields(r);
    const int take = max_rows > 0 ? static_cast<int>(std::min<int64_t>(rows, max_rows)) : rows;
    result.rows.reserve(static_cast<size_t>(take));
    for (int i = 0; i < take; ++i) {
      std::vector<Variant>& values_out = result.rows.emplace_back().values;
      values_out.reserve(static_cast<size_t>(columns));
      for (int c = 0; c < columns; ++c) {
        if (PQgetisnull(r, i, c)) {
          values_out.push_back(Variant::Null());
        } else {
          values_out.push_back(ReadCell(PQgetvalue(r, i, c), PQgetlength(r, i, c), PQftype(r, c),
                                        result.fields[static_cast<size_t>(c)].type));
        }
      }
    }
    // An expression has no declared type: its field takes the kind of the
    // first value it holds.
    for (size_t c = 0; c < result.fields.size(); ++c) {
      FieldInfo& f = result.fields[c];
      if (f.type != adVariant) continue;
      for (const Row& row : result.rows) {
        if (!row.values[c].IsNull()) {
          f.type = TypeOfValue(row.values[c]);
          break;
        }
      }
    }
    return result;
  }

  // Runs a statement inside a transaction within a savepoint of its own,
  // sent with it in one round trip (a pipeline): a failing statement is
  // undone alone and the transaction stays usable, as it does on SQLite,
  // where the server would otherwise refuse everything up to the rollback.
  ResultPtr InStatementSavepoint(const std::string& text, int count, const char* const* values, bool prepare) {
    PGconn* c = conn();
    std::string name;
    bool new_prepare = false;
    if (prepare) {
      auto it = h_->prepared.find(PreparedKey(text));
      if (it != h_->prepared.end()) {
        name = it->second;
      } else if (h_->prepared.size() < kMaxPreparedPerConnection) {
        name = "vendra_" + std::to_string(h_->prepared.size() + 1);
        new_prepare = true;
      }
    }
    if (!PQenterPipelineMode(c)) RaiseResult(c, nullptr);
    bool sent = PQsendQueryParams(c, "SAVEPOINT vendra_statement", 0, nullptr, nullptr, nullptr, nullptr, 0);
    if (new_prepare) sent = sent && PQsendPrepare(c, name.c_str(), text.c_str(), count, Types());
    if (!name.empty()) {
      sent = sent && PQsendQueryPrepared(c, name.c_str(), count, values, nullptr, nullptr, 0);
    } else {
      sent = sent && PQsendQueryParams(c, text.c_str(), count, nullptr, values, nullptr, nullptr, 0);
    }
    sent = sent && PQsendQueryParams(c, "RELEASE SAVEPOINT vendra_statement", 0, nullptr, nullptr, nullptr,
                                     nullptr, 0);
    sent = sent && PQpipelineSync(c);
    const int queries = new_prepare ? 4 : 3;
    ResultPtr statement, failure;
    bool prepared_ok = false;
    for (int q = 0; q < queries && sent; ++q) {
      ResultPtr first;
      while (PGresult* r = PQgetResult(c)) {
        if (!first) {
          first.reset(r);
        } else {
          PQclear(r);
        }
      }
      const ExecStatusType st = first ? PQresultStatus(first.get()) : PGRES_FATAL_ERROR;
      if (new_prepare && q == 1) prepared_ok = st == PGRES_COMMAND_OK;
      if (st == PGRES_FATAL_ERROR || st == PGRES_NONFATAL_ERROR) {
        if (!failure) failure = first ? std::move(first) : ResultPtr();
        if (!first && PQstatus(c) == CONNECTION_BAD) break;
      } else if (q == queries - 2 && !failure) {
        statement = std::move(first);
      }
    }
    if (sent && PQstatus(c) == CONNECTION_OK) {
      // The result of the sync ends the pipeline.
      while (PGresult* r = PQgetResult(c)) {
        const bool end = PQresultStatus(r) == PGRES_PIPELINE_SYNC;
        PQclear(r);
        if (end) break;
      }
    }
    PQexitPipelineMode(c);
    if (prepared_ok) h_->prepared.emplace(PreparedKey(text), name);
    if (new_prepare && !prepared_ok) prepare_failed_ = true;
    if (!sent || failure || !statement) {
      if (PQstatus(c) == CONNECTION_OK && PQtransactionStatus(c) == PQTRANS_INERROR) {
        PQclear(PQexec(c, "ROLLBACK TO SAVEPOINT vendra_statement"));
        PQclear(PQexec(c, "RELEASE SAVEPOINT vendra_statement"));
      }
      RaiseResult(c, failure.release());
    }
    return statement;
  }

  // The name of the prepared statement for a text, preparing it the first
  // time; empty when the connection keeps too many already.
  const std::string& Prepared(const std::string& text, int count) {
    static const std::string none;
    const std::string key = PreparedKey(text);
    auto it = h_->prepared.find(key);
    if (it != h_->prepared.end()) return it->second;
    if (h_->prepared.size() >= kMaxPreparedPerConnection) return none;
    std::string name = "vendra_" + std::to_string(h_->prepared.size() + 1);
    PGresult* r = PQprepare(conn(), name.c_str(), text.c_str(), count, Types());
    if (PQresultStatus(r) != PGRES_COMMAND_OK) {
      prepare_failed_ = true;
      RaiseResult(conn(), r);
    }
    PQclear(r);
    return h_->prepared.emplace(key, std::move(name)).first->second;
  }

  void Describe(const PgStatement& st, PGresult* r, QueryResult& result) {
    const int columns = PQnfields(r);
    result.has_rows = true;
    result.rows_affected = -1;
    result.fields.resize(static_cast<size_t>(columns));
    Oid table = InvalidOid;
    bool one_table = true;
    std::shared_ptr<const TableInfo> info;
    for (int c = 0; c < columns; ++c) {
      FieldInfo& f = result.fields[static_cast<size_t>(c)];
      std::string name = PQfname(r, c);
      auto sp = st.spellings.find(name);
      f.name = sp != st.spellings.end() ? sp->second : name;
      const Oid t = PQftable(r, c);
      const int col = PQftablecol(r, c);
      if (t == InvalidOid || col <= 0) {
        f.type = adVariant;
        continue;
      }
      if (table == InvalidOid) {
        table = t;
        info = TableByOid(t);
      } else if (t != table) {
        one_table = false;
      }
      auto tinfo = t == table ? info : TableByOid(t);
      if (!tinfo) continue;
      auto at = tinfo->by_attnum.find(col);
      if (at == tinfo->by_attnum.end()) continue;
      const ColumnDescription& d = tinfo->columns[at->second];
      if (sp == st.spellings.end() && detail::EqualsNoCase(name, d.name)) f.name = d.name;
      f.type = d.type.type;
      f.defined_size = d.type.size;
      f.base_table = tinfo->name;
      f.base_column = d.name;
      int keys = 0;
      for (const ColumnDescription& k : tinfo->columns)
        if (k.key_position > 0) ++keys;
      f.key = d.key_position > 0;
      f.nullable = !d.not_null && d.key_position == 0;
      f.has_default = d.has_default;
      f.row_id = keys == 1 && d.key_position == 1 && detail::EqualsNoCase(tinfo->identity, d.name);
    }
    if (info && one_table) result.table = info->name;
  }

  std::shared_ptr<const TableInfo> TableByOid(Oid oid) {
    auto it = h_->tables.find(oid);
    if (it != h_->tables.end()) return it->second;
    return LoadTable("c.oid = " + std::to_string(oid), {});
  }

  std::shared_ptr<const TableInfo> TableByName(const std::string& name) {
    if (name.empty()) return nullptr;
    const std::string lower = detail::Lower(name);
    for (auto& [oid, info] : h_->tables)
      if (info && info->name == lower) return info;
    return LoadTable("c.relname = $1 AND c.relkind IN ('r', 'p') AND "
                     "c.relnamespace = current_schema()::regnamespace",
                     lower);
  }

  std::shared_ptr<const TableInfo> LoadTable(const std::string& where, const std::string& name) {
    const std::string sql = std::string(kColumnsQuery) + where + " ORDER BY a.attnum";
    const char* values[1] = {name.c_str()};
    ResultPtr r(PQexecParams(conn(), sql.c_str(), name.empty() ? 0 : 1, nullptr, name.empty() ? nullptr : values,
                             nullptr, nullptr, 0));
    if (PQresultStatus(r.get()) != PGRES_TUPLES_OK) RaiseResult(conn(), r.release());
    const int rows = PQntuples(r.get());
    if (rows == 0) return nullptr;
    auto info = std::make_shared<TableInfo>();
    const Oid oid = static_cast<Oid>(std::strtoul(PQgetvalue(r.get(), 0, 0), nullptr, 10));
    info->name = PQgetvalue(r.get(), 0, 1);
    for (int i = 0; i < rows; ++i) {
      ColumnDescription d;
      const int attnum = std::atoi(PQgetvalue(r.get(), i, 2));
      d.name = PQgetvalue(r.get(), i, 3);
      d.declared = Declaration(PQgetvalue(r.get(), i, 4));
      d.type = TypeFromDeclaration(d.declared);
      d.ordinal = i + 1;
      d.not_null = std::string_view(PQgetvalue(r.get(), i, 5)) == "t";
      d.has_default = std::string_view(PQgetvalue(r.get(), i, 6)) == "t";
      if (!PQgetisnull(r.get(), i, 7)) d.default_text = PQgetvalue(r.get(), i, 7);
      d.key_position = std::atoi(PQgetvalue(r.get(), i, 8));
      if (std::string_view(PQgetvalue(r.get(), i, 9)) == "t" && d.type.type == adInteger) info->identity = detail::Lower(d.name);
      info->by_attnum[attnum] = info->columns.size();
      info->columns.push_back(std::move(d));
    }
    h_->tables[oid] = info;
    return info;
  }

  std::unique_ptr<Handle> h_;
  Target target_;
  bool used_ = false;
  int64_t last_insert_id_ = 0;
  const std::vector<Oid>* types_ = nullptr;  // parameter types of the statement running, when given
  bool prepare_failed_ = false;              // the last failure was the server refusing to prepare
};

class PgDriver final : public Driver {
 public:
  std::unique_ptr<Session> Open(const ConnectionSettings& settings) override {
    Target t = TargetOf(settings);
    const std::string key = t.Key();
    Pool& pool = ThePool();
    std::unique_ptr<Handle> h;
    uint64_t generation = 0;
    {
      std::lock_guard lock(pool.mutex);
      auto& idle = pool.idle[key];
      if (!idle.empty()) {
        h = std::move(idle.back());
        idle.pop_back();
      }
      generation = pool.generation[key];
    }
    if (!h) h = OpenHandle(t, generation);
    return std::make_unique<PgSession>(std::move(h), std::move(t));
  }

  void CreateDatabase(const ConnectionSettings& settings) override {
    Target t = TargetOf(settings);
    const std::string name = t.dbname;
    Target maintenance = t;
    maintenance.dbname = "postgres";
    auto conn = Connect(maintenance);
    const char* values[1] = {name.c_str()};
    ResultPtr r(PQexecParams(conn.get(), "SELECT 1 FROM pg_database WHERE datname = $1", 1, nullptr, values,
                             nullptr, nullptr, 0));
    if (PQresultStatus(r.get()) != PGRES_TUPLES_OK) RaiseResult(conn.get(), r.release());
    if (PQntuples(r.get()) == 0) {
      char* quoted = PQescapeIdentifier(conn.get(), name.data(), name.size());
      if (!quoted) RaiseResult(conn.get(), nullptr);
      const std::string sql = std::string("CREATE DATABASE ") + quoted + " TEMPLATE template0 ENCODING 'UTF8'"
                              // A copy of the files: twice as fast as WAL_LOG for a
                              // database as small as template0.
                              " STRATEGY FILE_COPY";
      PQfreemem(quoted);
      ExecSimple(conn.get(), sql);
    }
    auto db = Connect(t);
    InstallHelpers(db.get());
  }
};
}  // namespace

Driver& TheDriver() {
  static PgDriver driver;
  return driver;
}
}  // namespace platform::data::postgres
