// C runtime time with milliseconds for the Linux build.
#pragma once
#include <windows.h>

struct __timeb64 {
  __time64_t time;
  unsigned short millitm;
  short timezone;
  short dstflag;
};

VW32_API errno_t _ftime64_s(struct __timeb64* timeptr);
