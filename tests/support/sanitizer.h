// Whether this build runs under AddressSanitizer or ThreadSanitizer, for the
// few tests whose subject the sanitizer itself disturbs (resident memory,
// descriptor limits).
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define QNCHAT_TEST_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QNCHAT_TEST_UNDER_ASAN 1
#endif
#endif
#ifndef QNCHAT_TEST_UNDER_ASAN
#define QNCHAT_TEST_UNDER_ASAN 0
#endif

#if defined(__SANITIZE_THREAD__)
#define QNCHAT_TEST_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QNCHAT_TEST_UNDER_TSAN 1
#endif
#endif
#ifndef QNCHAT_TEST_UNDER_TSAN
#define QNCHAT_TEST_UNDER_TSAN 0
#endif
