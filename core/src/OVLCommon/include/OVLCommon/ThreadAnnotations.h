// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Locking annotations that clang's -Wthread-safety checks at compile time: which mutex guards a
// field (GUARDED_BY), which a function needs held (REQUIRES) or must not hold (EXCLUDES), and
// which functions take and give back a capability (ACQUIRE, RELEASE). Other compilers see empty
// macros. OVLCommon/Mutex.h has the annotated mutex and scoped lock that these refer to; the
// standard library's std::mutex carries no annotations, so a field guarded by one is not checked.

#if defined(__clang__)
#define OVL_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define OVL_THREAD_ANNOTATION(x)
#endif

// A class that is a lock (a mutex): CAPABILITY("mutex").
#define CAPABILITY(x) OVL_THREAD_ANNOTATION(capability(x))
// A class whose objects hold a lock for their lifetime (an RAII lock).
#define SCOPED_CAPABILITY OVL_THREAD_ANNOTATION(scoped_lockable)
// A field read and written only with the mutex `x` held.
#define GUARDED_BY(x) OVL_THREAD_ANNOTATION(guarded_by(x))
// A pointer whose pointee is read and written only with `x` held.
#define PT_GUARDED_BY(x) OVL_THREAD_ANNOTATION(pt_guarded_by(x))
// A function that is called with the mutexes held (and leaves them held).
#define REQUIRES(...) OVL_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
// A function that must be called without the mutexes (it takes them itself).
#define EXCLUDES(...) OVL_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
// A function that takes the mutexes (none given: the object itself) and returns with them held.
#define ACQUIRE(...) OVL_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
// A function that gives the mutexes back (none given: the object itself).
#define RELEASE(...) OVL_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
// A function that takes the mutexes when it returns `x` (try_lock).
#define TRY_ACQUIRE(...) OVL_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
// A function that returns a reference to the mutex `x`.
#define RETURN_CAPABILITY(x) OVL_THREAD_ANNOTATION(lock_returned(x))
// A function that the analysis skips: one whose locking it cannot follow, with the reason beside it.
#define NO_THREAD_SAFETY_ANALYSIS OVL_THREAD_ANNOTATION(no_thread_safety_analysis)
