// Attributes for clang's lock analysis (-Wthread-safety): which lock guards a
// member, which functions take, drop or need a lock. Other compilers see
// nothing, so the annotations cost nothing at run time.
#pragma once

#if defined(__clang__)
#define TZ_CAPABILITY(x) __attribute__((capability(x)))
#define TZ_GUARDED_BY(x) __attribute__((guarded_by(x)))
#define TZ_PT_GUARDED_BY(x) __attribute__((pt_guarded_by(x)))
#define TZ_ACQUIRE(...) __attribute__((acquire_capability(__VA_ARGS__)))
#define TZ_RELEASE(...) __attribute__((release_capability(__VA_ARGS__)))
#define TZ_ACQUIRE_SHARED(...) __attribute__((acquire_shared_capability(__VA_ARGS__)))
#define TZ_RELEASE_SHARED(...) __attribute__((release_shared_capability(__VA_ARGS__)))
#define TZ_SCOPED_CAPABILITY __attribute__((scoped_lockable))
#define TZ_REQUIRES(...) __attribute__((requires_capability(__VA_ARGS__)))
#define TZ_RETURN_CAPABILITY(x) __attribute__((lock_returned(x)))
#define TZ_NO_THREAD_SAFETY_ANALYSIS __attribute__((no_thread_safety_analysis))
#else
#define TZ_CAPABILITY(x)
#define TZ_GUARDED_BY(x)
#define TZ_PT_GUARDED_BY(x)
#define TZ_ACQUIRE(...)
#define TZ_RELEASE(...)
#define TZ_ACQUIRE_SHARED(...)
#define TZ_RELEASE_SHARED(...)
#define TZ_SCOPED_CAPABILITY
#define TZ_REQUIRES(...)
#define TZ_RETURN_CAPABILITY(x)
#define TZ_NO_THREAD_SAFETY_ANALYSIS
#endif
