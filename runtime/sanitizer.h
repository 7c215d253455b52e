// The sanitizer that the program is built with (-fsanitize=address or
// -fsanitize=thread), known at compile time: its instrumentation takes more
// stack than plain code, and a few tests cannot work under it.
#pragma once

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
