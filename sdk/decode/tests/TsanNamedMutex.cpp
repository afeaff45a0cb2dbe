// Thread sanitizer builds: the Win32 layer takes the log file's named mutex
// with a timed lock that the sanitizer does not see, so the matching unlock
// looks like a misuse. Only that report is silenced.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions() { return "mutex:vw32::detail::NamedMutexObj::Release\n"; }
#endif
