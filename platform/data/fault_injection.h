// Fault injection for tests: makes the n-th statement executed from now on,
// through any connection on this thread, fail with a database error, so a
// test of code that opens its own connections can prove that a failing
// multi-statement write leaves nothing behind. Transaction control (begin,
// commit, rollback, savepoints) is not counted: those are what must still work.
//
//   ScopedFault fault(3);   // the third statement fails
//   EXPECT_THROW(order.SubmitBasket(doc), platform::ComError);
//
// Thread-safety: the counter is per thread.
#pragma once

#include <cstdint>

namespace platform::data {

class FaultInjection {
 public:
  // 0 disables.
  static void FailNthStatement(int32_t n);
  static void Disable() { FailNthStatement(0); }
  // Statements counted since the last FailNthStatement (also while disabled),
  // so a test can learn how many statements a write takes.
  static int32_t StatementsSeen();
  // Called by drivers before each statement; raises the injected error when
  // this is the chosen one.
  static void BeforeStatement();
};

class ScopedFault {
 public:
  explicit ScopedFault(int32_t n) { FaultInjection::FailNthStatement(n); }
  ~ScopedFault() { FaultInjection::Disable(); }
  ScopedFault(const ScopedFault&) = delete;
  ScopedFault& operator=(const ScopedFault&) = delete;
};

}  // namespace platform::data
