#pragma once
// The ComponentError a call raises; a test failure when it raises none.
#include <gtest/gtest.h>

#include "ordalis/ComponentError.h"

namespace ordalis::testing {

template <class F>
ComponentError Raised(F&& f) {
  try {
    f();
  } catch (const ComponentError& e) {
    return e;
  }
  ADD_FAILURE() << "no ComponentError raised";
  return ComponentError(0, "");
}

}  // namespace ordalis::testing
