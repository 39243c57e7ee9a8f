// TransactionScope is the component host's transactional activity: while one
// is open on a thread, every Connection opened on that thread joins one
// transaction per database instead of working on its own. Objects that open
// and close their own connections (as every sales operation does) thus write
// into the scope's transaction without knowing it; their own
// BeginTrans/CommitTrans become savepoints inside it, and nothing they write
// stands until the scope commits. Without a Commit the scope rolls every
// database back when it closes.
//
//   data::TransactionScope scope;          // BEGIN IMMEDIATE per database, at first use
//   other->BeforeDelete(...);              // opens its own connection: joins
//   master->Execute("DELETE ...");         // joins too
//   scope.Commit();                        // commits the databases, the first joined last
//
// Each database's write lock is taken when the scope first joins it, so a
// commit fails only on an I/O error. Databases commit in the reverse of the
// order they joined: a caller joins the database of the record the others'
// rows depend on first, so that it is the last to commit.
//
// A connection still open when the scope ends fails its next statement
// (error 3704) rather than write outside the transaction.
//
// Thread-safety: a scope belongs to the thread that opened it; scopes do not
// nest (a second one on the same thread is refused with 0x8004D00E).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform::data {

class Driver;
class ConnectionSettings;
class Session;

class TransactionScope {
 public:
  TransactionScope();
  ~TransactionScope();
  TransactionScope(const TransactionScope&) = delete;
  TransactionScope& operator=(const TransactionScope&) = delete;

  // Commits every database joined, the last joined first. A failure leaves the
  // rest uncommitted (the destructor rolls them back) and is raised.
  void Commit();

  // Rows changed so far through the scope's connections (statements that
  // wrote, as their engine counted them, including those of a savepoint
  // rolled back since), all databases together.
  int64_t RowsChanged() const { return *rows_changed_; }

  // The databases joined so far (as their sessions describe them).
  std::vector<std::string> Databases() const;

  // The scope open on this thread, or nullptr.
  static TransactionScope* Current();

  // For Connection::Open: a session of the scope's transaction on the
  // database settings name (the transaction is begun on first use).
  std::unique_ptr<Session> Join(Driver& driver, const ConnectionSettings& settings);

  struct Database;  // one joined database (transaction_scope.cpp)

 private:
  std::vector<std::shared_ptr<Database>> databases_;  // in the order joined
  std::shared_ptr<int64_t> rows_changed_ = std::make_shared<int64_t>(0);
  int32_t next_savepoint_ = 0;
  bool committed_ = false;
};

}  // namespace platform::data
