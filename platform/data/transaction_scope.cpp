#include "platform/data/transaction_scope.h"

#include <string_view>

#include "platform/data/ado_types.h"
#include "platform/data/data_util.h"
#include "platform/data/driver.h"

namespace platform::data {

namespace {
thread_local TransactionScope* g_current = nullptr;
}  // namespace

// One database the scope has joined: the pooled session that holds its
// transaction for the scope's lifetime.
struct TransactionScope::Database {
  std::unique_ptr<Session> session;
  std::string name;
  bool open = false;   // the transaction is begun and not yet ended
  bool ended = false;  // the scope is gone: its connections may not write on
};

// What a Connection inside the scope works on: the scope's session, with the
// connection's own transaction levels turned into savepoints of a name of
// their own, so two connections on one database never release each other's.
class ScopedSession : public Session {
 public:
  ScopedSession(std::shared_ptr<TransactionScope::Database> db,
                std::shared_ptr<int64_t> rows_changed, int32_t id)
      : db_(std::move(db)),
        rows_changed_(std::move(rows_changed)),
        shared_(*db_->session),
        prefix_("vendra_scope" + std::to_string(id) + "_") {}

  QueryResult Run(std::string_view sql, std::span<const BoundValue> params,
                  int64_t max_rows) override {
    CheckLive();
    QueryResult r = shared_.Run(sql, params, max_rows);
    if (!r.has_rows) *rows_changed_ += r.rows_affected;
    return r;
  }
  int64_t Exec(std::string_view sql, std::span<const Variant> params) override {
    CheckLive();
    const int64_t n = shared_.Exec(sql, params);
    *rows_changed_ += n;
    return n;
  }
  void ExecuteScript(std::string_view sql) override {
    CheckLive();
    shared_.ExecuteScript(sql);
  }

  void Begin() override { shared_.Savepoint(prefix_ + "own"); }
  void Commit() override { shared_.ReleaseSavepoint(prefix_ + "own"); }
  void Rollback() override { shared_.RollbackToSavepoint(prefix_ + "own"); }
  void Savepoint(std::string_view name) override { shared_.Savepoint(prefix_ + std::string(name)); }
  void ReleaseSavepoint(std::string_view name) override {
    shared_.ReleaseSavepoint(prefix_ + std::string(name));
  }
  void RollbackToSavepoint(std::string_view name) override {
    shared_.RollbackToSavepoint(prefix_ + std::string(name));
  }

  int64_t LastInsertId() override { return shared_.LastInsertId(); }
  std::vector<ColumnDescription> DescribeTable(std::string_view table) override {
    return shared_.DescribeTable(table);
  }
  std::vector<std::string> TableNames() override { return shared_.TableNames(); }
  std::string Describe() const override { return shared_.Describe(); }

 private:
  void CheckLive() const {
    if (db_->ended)
      detail::RaiseData(data_err::kObjectClosed, "Connection",
                        "The transaction scope this connection joined has ended");
  }
  std::shared_ptr<TransactionScope::Database> db_;
  std::shared_ptr<int64_t> rows_changed_;
  Session& shared_;
  std::string prefix_;
};

TransactionScope::TransactionScope() {
  if (g_current) {
    detail::RaiseData(data_err::kNoTransaction, "Connection",
                      "A transaction scope is open on this thread already");
  }
  g_current = this;
}

TransactionScope::~TransactionScope() {
  g_current = nullptr;
  for (auto& db : databases_) {
    db->ended = true;
    if (!db->open) continue;
    try {
      db->session->Rollback();
    } catch (...) {
      // The pool rolls back what is left when the session comes back.
    }
  }
}

TransactionScope* TransactionScope::Current() { return g_current; }

std::vector<std::string> TransactionScope::Databases() const {
  std::vector<std::string> names;
  for (const auto& db : databases_) names.push_back(db->name);
  return names;
}

std::unique_ptr<Session> TransactionScope::Join(Driver& driver,
                                                const ConnectionSettings& settings) {
  if (committed_) {
    detail::RaiseData(data_err::kNoTransaction, "Connection", "The transaction scope has committed already");
  }
  // Borrowing a session is cheap (pooled); it tells which database it is on.
  std::unique_ptr<Session> fresh = driver.Open(settings);
  const std::string name = fresh->Describe();
  std::shared_ptr<Database> joined;
  for (auto& db : databases_)
    if (db->name == name) joined = db;
  if (!joined) {
    fresh->Begin();  // takes the write lock now, so the commit cannot be refused later
    auto db = std::make_shared<Database>();
    db->session = std::move(fresh);
    db->name = name;
    db->open = true;
    joined = db;
    databases_.push_back(std::move(db));
  }
  return std::make_unique<ScopedSession>(joined, rows_changed_, ++next_savepoint_);
}

void TransactionScope::Commit() {
  if (committed_) return;
  for (auto it = databases_.rbegin(); it != databases_.rend(); ++it) {
    (*it)->session->Commit();
    (*it)->open = false;
  }
  committed_ = true;
}

}  // namespace platform::data
