// Test support: the sanitizer that the tests, and the program with them,
// are built with (-fsanitize=address or -fsanitize=thread), known at compile
// time, for the few tests that cannot work under one: an address-space
// limit, a time limit, a replaced operator new. Used by tests only.
#pragma once

#include <gtest/gtest.h>

// XF_ADDRESS_SANITIZER and XF_THREAD_SANITIZER are 1 under that sanitizer
// and 0 otherwise; GCC names the sanitizer by a macro, clang by a feature.
#if defined(__SANITIZE_ADDRESS__)
#define XF_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define XF_ADDRESS_SANITIZER 1
#endif
#endif
#ifndef XF_ADDRESS_SANITIZER
#define XF_ADDRESS_SANITIZER 0
#endif

#if defined(__SANITIZE_THREAD__)
#define XF_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define XF_THREAD_SANITIZER 1
#endif
#endif
#ifndef XF_THREAD_SANITIZER
#define XF_THREAD_SANITIZER 0
#endif

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
