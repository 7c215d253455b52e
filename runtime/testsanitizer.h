// Test support: the sanitizer that the tests, and the program with them,
// are built with (-fsanitize=address or -fsanitize=thread), known at compile
// time, for the few tests that cannot work under one: an address-space
// limit, a time limit, a replaced operator new. Used by tests only.
#pragma once

#include <gtest/gtest.h>

#include "runtime/sanitizer.h"

namespace rttest {

// The name of the sanitizer the tests run under, for the reason of a skip;
// null without one.
inline constexpr const char* kSanitizer = XF_ADDRESS_SANITIZER  ? "address sanitizer"
                                          : XF_THREAD_SANITIZER ? "thread sanitizer"
                                                                : nullptr;

}  // namespace rttest

// Under a sanitizer, skips the rest of the test, saying why; checks before
// it have been made and still count. Use in the body of a test only.
#define XF_SKIP_UNDER_SANITIZER(reason)                                             \
  do {                                                                              \
    if (::rttest::kSanitizer != nullptr)                                            \
      GTEST_SKIP() << "under the " << ::rttest::kSanitizer << ": " << (reason); \
  } while (false)
