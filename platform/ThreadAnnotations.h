// Lock annotations for clang's -Wthread-safety: the compiler then proves that every member
// marked RZ_GUARDED_BY(m) is touched only with `m` held, and that a function marked
// RZ_REQUIRES(m) is only called with it held. Other compilers see nothing.
//
//     mutable platform::Mutex mutex_;
//     std::vector<Task> tasks_ RZ_GUARDED_BY(mutex_);
//     void drainLocked() RZ_REQUIRES(mutex_);
//
// The analysis is local to a function and does not follow lambdas: a lambda that runs under
// a lock its caller holds says so with RZ_REQUIRES after its parameter list, and a predicate
// handed to a condition variable's wait is better written as a loop around the wait.
#pragma once

#if defined(__clang__)
#define RZ_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define RZ_THREAD_ANNOTATION(x)
#endif

// On a class: its objects are locks (a mutex, or a thread's role such as "main thread").
#define RZ_CAPABILITY(name) RZ_THREAD_ANNOTATION(capability(name))
// On a class whose objects hold a lock from construction to destruction.
#define RZ_SCOPED_CAPABILITY RZ_THREAD_ANNOTATION(scoped_lockable)

// On data: read and written only with the lock held; for pointers, what they point to.
#define RZ_GUARDED_BY(lock) RZ_THREAD_ANNOTATION(guarded_by(lock))
#define RZ_PT_GUARDED_BY(lock) RZ_THREAD_ANNOTATION(pt_guarded_by(lock))

// On functions: the caller must hold the locks (exclusively, or at least shared), or must not.
#define RZ_REQUIRES(...) RZ_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define RZ_REQUIRES_SHARED(...) RZ_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
#define RZ_EXCLUDES(...) RZ_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))

// On functions that take or let go of a lock (no argument: the object itself).
#define RZ_ACQUIRE(...) RZ_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RZ_RELEASE(...) RZ_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define RZ_TRY_ACQUIRE(...) RZ_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
// On a function that fails at run time unless the lock is held; the analysis takes it as held
// afterwards.
#define RZ_ASSERT_CAPABILITY(lock) RZ_THREAD_ANNOTATION(assert_capability(lock))
// On a getter that returns the lock guarding something else.
#define RZ_RETURN_CAPABILITY(lock) RZ_THREAD_ANNOTATION(lock_returned(lock))

// Leaves a function out of the analysis. Each use says why the analysis cannot follow it.
#define RZ_NO_THREAD_SAFETY_ANALYSIS RZ_THREAD_ANNOTATION(no_thread_safety_analysis)
