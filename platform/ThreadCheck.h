// Checks that a main-thread class is called on the main thread (the thread that runs
// MainLoop::main()). Subsystems that keep their state unguarded on the main thread call
// RZ_CHECK_MAIN_THREAD() at their entry points; a call from another thread is a race that
// may never show in a test, so the check makes it loud: it writes where the call came in and
// aborts.
//
// On in debug builds and in builds under a sanitizer (RZ_THREAD_CHECKS), off in release
// builds, where the macro expands to nothing.
#pragma once

#if !defined(RZ_THREAD_CHECKS) && !defined(NDEBUG)
#define RZ_THREAD_CHECKS 1
#endif

namespace platform {

#if defined(RZ_THREAD_CHECKS) && RZ_THREAD_CHECKS
inline constexpr bool kThreadChecksEnabled = true;
#else
inline constexpr bool kThreadChecksEnabled = false;
#endif

// Aborts, after one line on standard error that names the caller, unless the calling thread
// is the main thread. (The builtins stand in for std::source_location, which not every
// compiler we build with has.)
void checkMainThread(const char* file = __builtin_FILE(), int line = __builtin_LINE(),
                     const char* function = __builtin_FUNCTION()) noexcept;

}  // namespace platform

#if defined(RZ_THREAD_CHECKS) && RZ_THREAD_CHECKS
#define RZ_CHECK_MAIN_THREAD() ::platform::checkMainThread()
#else
#define RZ_CHECK_MAIN_THREAD() static_cast<void>(0)
#endif
