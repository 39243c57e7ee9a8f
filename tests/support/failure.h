// Failure() runs a piece of work that must fail and hands back the ComError it
// raised, so a test can look at the number, source and description. Work that
// does not fail is a test failure of its own.
#pragma once

#include <gtest/gtest.h>

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

}  // namespace vendra_test
