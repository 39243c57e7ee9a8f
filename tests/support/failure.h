// Failure() runs a piece of work that must fail and hands back the ComError it
// raised, so a test can look at the number, source and description. Work that
// does not fail is a test failure of its own. ErrorOf() gives just the number.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "platform/core/com_error.h"

namespace vendra_test {

template <class F>
platform::ComError Failure(F&& f) {
  try {
    f();
  } catch (const platform::ComError& e) {
    return e;
  }
  ADD_FAILURE() << "expected a failure";
  return {};
}

// The number work raised, or 0 when it raised nothing.
template <class F>
int32_t ErrorOf(F&& f) {
  try {
    f();
  } catch (const platform::ComError& e) {
    return e.number();
  }
  return 0;
}

}  // namespace vendra_test
