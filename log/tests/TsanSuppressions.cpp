// Thread sanitizer builds on Linux: the Win32 layer waits for a named mutex
// with pthread_mutex_clocklock, which this compiler's thread sanitizer does
// not intercept, so it takes the matching unlock for a misuse. Only that
// report is suppressed.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions() { return "mutex:vw32::detail::NamedMutexObj::Release\n"; }
#endif
