// Microsoft C runtime formatting, against outputs of the Windows runtime.
#include <gtest/gtest.h>
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

// The exponent of %e: two digits in the Universal C runtime (Microsoft's
// compiler, and this layer), three in the older msvcrt.dll that MinGW
// programs use.
#if defined(__MINGW32__) && !defined(_UCRT)
#define EXPONENT_1_5 L"1.500000e+000"
#else
#define EXPONENT_1_5 L"1.500000e+00"
#endif

std::wstring Wide(const wchar_t* format, ...) {
  wchar_t buffer[256];
  va_list args;
  va_start(args, format);
  int n = _vsnwprintf_s(buffer, 256, _TRUNCATE, format, args);
  va_end(args);
  return n < 0 ? L"<failed>" : std::wstring(buffer, size_t(n));
}

TEST(Format, WideConversionsHaveMicrosoftMeaning) {
  EXPECT_EQ(Wide(L"%s|%hs|%S|%ls|%ws", L"wide", "narrow", "upper", L"long", L"w"), L"wide|narrow|upper|long|w");
  EXPECT_EQ(Wide(L"%c%hc%C%lc", L'W', 'n', 'N', L'L'), L"WnNL");
  EXPECT_EQ(Wide(L"%I64X %I64x %I64d %I64u", 0x123456789ABCDEF0ull, 0x123456789ABCDEF0ull, -5ll, ~0ull),
            L"123456789ABCDEF0 123456789abcdef0 -5 18446744073709551615");
  EXPECT_EQ(Wide(L"%I32d %ld %lu %lX", -1, LONG(-7), DWORD(4000000000u), DWORD(4000000000u)),
            L"-1 -7 4000000000 EE6B2800");
  EXPECT_EQ(Wide(L"%d(0x%X) %d(0x%08X)", 5, 5, 1167, 1167), L"5(0x5) 1167(0x0000048F)");
  EXPECT_EQ(Wide(L"[%5d|%-5d|%05d|%+d|% d]", 42, 42, 42, 42, 42), L"[   42|42   |00042|+42| 42]");
  EXPECT_EQ(Wide(L"[%*d|%-*d|%.3d]", 4, 7, 3, 7, 7), L"[   7|7  |007]");
  EXPECT_EQ(Wide(L"[%6s|%-6s|%.2s|%.3hs]", L"ab", L"ab", L"abcdef", "narrow"), L"[    ab|ab    |ab|nar]");
  EXPECT_EQ(Wide(L"%p", reinterpret_cast<void*>(uintptr_t(0xBEEF))), L"000000000000BEEF");
  EXPECT_EQ(Wide(L"%.2f %e %g", 3.14159, 1.5, 0.25), L"3.14 " EXPONENT_1_5 L" 0.25");
  EXPECT_EQ(Wide(L"%hd %hu %#x %o", 70000, 70000, 255, 8), L"4464 4464 0xff 10");
  EXPECT_EQ(Wide(L"100%% %s", static_cast<const wchar_t*>(nullptr)), L"100% (null)");
}

TEST(Format, SecureFormsTerminateAndTruncate) {
  wchar_t w[6];
  EXPECT_EQ(_snwprintf_s(w, 6, _TRUNCATE, L"%s", L"abcdefgh"), -1);
  EXPECT_EQ(std::wstring(w), L"abcde");
  EXPECT_EQ(_snwprintf_s(w, 6, _TRUNCATE, L"%s", L"abcde"), 5);
  EXPECT_EQ(std::wstring(w), L"abcde");

  char n[8];
  EXPECT_EQ(_snprintf_s(n, sizeof n, _TRUNCATE, "%s=%ls %c", "k", L"v", 'x'), 5);
  EXPECT_EQ(std::string(n), "k=v x");
  EXPECT_EQ(_snprintf_s(n, sizeof n, _TRUNCATE, "%I64d", 123456789012ll), -1);
  EXPECT_EQ(std::string(n), "1234567");
}

}  // namespace
