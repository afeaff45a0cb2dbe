// Process id, command line, time and sleeping.
#include <sys/timeb.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

#include <windows.h>

#include "Errors.h"
#include "Text.h"

using namespace vw32::detail;

namespace {

timespec Now(clockid_t clock) {
  timespec ts;
  clock_gettime(clock, &ts);
  return ts;
}

// One argument as Windows shows it in a command line: quoted when it holds
// a space or a tab or is empty; a quote inside is escaped with a backslash,
// and so are the backslashes right before a quote.
std::wstring QuoteArgument(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

std::wstring ReadCommandLine() {
  FILE* file = std::fopen("/proc/self/cmdline", "re");
  if (!file) return {};
  std::string raw;
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) raw.append(chunk, n);
  std::fclose(file);
  std::wstring line;
  size_t start = 0;
  while (start < raw.size()) {
    size_t end = raw.find('\0', start);
    if (end == std::string::npos) end = raw.size();
    if (!line.empty()) line += L' ';
    line += QuoteArgument(FromUtf8(std::string_view(raw).substr(start, end - start)));
    start = end + 1;
  }
  return line;
}

// The latest time _localtime64_s accepts: 23:59:59, 31 December 3000, UTC.
constexpr __time64_t kMaxTime64 = 32535215999LL;

}  // namespace

VW32_API DWORD WINAPI GetCurrentProcessId(void) { return DWORD(getpid()); }

VW32_API LPWSTR WINAPI GetCommandLineW(void) {
  static std::wstring* line = new std::wstring(ReadCommandLine());
  return line->data();
}

VW32_API void WINAPI Sleep(DWORD dwMilliseconds) {
  if (dwMilliseconds == 0) {
    sched_yield();
    return;
  }
  if (dwMilliseconds == INFINITE) {
    for (;;) pause();
  }
  timespec ts{time_t(dwMilliseconds / 1000), long(dwMilliseconds % 1000) * 1000000};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

VW32_API ULONGLONG WINAPI GetTickCount64(void) {
  timespec ts = Now(CLOCK_MONOTONIC);
  return ULONGLONG(ts.tv_sec) * 1000 + ULONGLONG(ts.tv_nsec) / 1000000;
}

// Ticks of 100 ns, the frequency Windows reports on current machines.
VW32_API BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount) {
  if (!lpPerformanceCount) return Fail(ERROR_NOACCESS);
  timespec ts = Now(CLOCK_MONOTONIC);
  lpPerformanceCount->QuadPart = LONGLONG(ts.tv_sec) * 10000000 + ts.tv_nsec / 100;
  return TRUE;
}

VW32_API BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency) {
  if (!lpFrequency) return Fail(ERROR_NOACCESS);
  lpFrequency->QuadPart = 10000000;
  return TRUE;
}

VW32_API __time64_t _time64(__time64_t* destTime) {
  __time64_t now = __time64_t(Now(CLOCK_REALTIME).tv_sec);
  if (destTime) *destTime = now;
  return now;
}

VW32_API errno_t _ftime64_s(struct __timeb64* timeptr) {
  if (!timeptr) return EINVAL;
  timespec ts = Now(CLOCK_REALTIME);
  struct tm local;
  time_t seconds = ts.tv_sec;
  localtime_r(&seconds, &local);
  timeptr->time = ts.tv_sec;
  timeptr->millitm = static_cast<unsigned short>(ts.tv_nsec / 1000000);
  // Minutes west of UTC for standard time; dstflag tells whether summer time applies.
  const long standardOffset = local.tm_gmtoff - (local.tm_isdst > 0 ? 3600 : 0);
  timeptr->timezone = static_cast<short>(-standardOffset / 60);
  timeptr->dstflag = static_cast<short>(local.tm_isdst > 0);
  return 0;
}

VW32_API errno_t _localtime64_s(struct tm* tmDest, const __time64_t* sourceTime) {
  if (!tmDest) return EINVAL;
  auto invalid = [tmDest] {
    tmDest->tm_sec = tmDest->tm_min = tmDest->tm_hour = tmDest->tm_mday = tmDest->tm_mon = tmDest->tm_year =
        tmDest->tm_wday = tmDest->tm_yday = tmDest->tm_isdst = -1;
    return EINVAL;
  };
  if (!sourceTime || *sourceTime < 0 || *sourceTime > kMaxTime64) return invalid();
  time_t seconds = time_t(*sourceTime);
  if (!localtime_r(&seconds, tmDest)) return invalid();
  return 0;
}
