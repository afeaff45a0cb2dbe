// The places where the logging library's bytes depend on the platform: the
// separator that ends a directory prefix, and the UTF-16 view of a wide text
// (the log file is UTF-16LE and its limits count UTF-16 units, whatever the
// size of wchar_t).
#pragma once

#include <windows.h>

#include <new>

// Ends a directory prefix such as the current directory: a backslash on
// Windows, '/' in the Linux build.
#ifdef _WIN32
constexpr wchar_t kLogDirectorySeparator = L'\\';
#else
constexpr wchar_t kLogDirectorySeparator = L'/';
#endif

// One character of a wide text as UTF-16 sees it: the units it takes in the
// file and the wchar_t it spans. Where wchar_t is two bytes a pair spans two;
// elsewhere a character beyond the basic plane is one wchar_t of two units
// (a pair written as two wchar_t is also taken as one character). A lone
// surrogate, or a value beyond U+10FFFF, is not valid: it is shown as U+FFFD.
struct LogUtf16Char {
  int units;
  int span;
  bool valid;
};

inline LogUtf16Char LogNextUtf16Char(const wchar_t* text) {
  const unsigned long code = static_cast<unsigned long>(text[0]);
  const unsigned long next = code != 0 ? static_cast<unsigned long>(text[1]) : 0;
  if (code >= 0xD800 && code <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) return {2, 2, true};
  if ((code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return {1, 1, false};
  return {code >= 0x10000 ? 2 : 1, 1, true};
}

// Length of a wide text in UTF-16 units, as Windows counts characters: a
// character beyond the basic plane counts twice.
inline int LogUtf16Length(const wchar_t* text) {
  int length = 0;
  for (LogUtf16Char c; *text; text += c.span) {
    c = LogNextUtf16Char(text);
    length += c.units;
  }
  return length;
}

// Makes a terminated wide text valid UTF-16 of at most maxUnits units, in
// place: each lone surrogate becomes U+FFFD, and the text ends before the
// first character that does not fit whole, so a pair is never cut in two.
// Returns the new length in wchar_t.
inline int LogFitUtf16(wchar_t* text, int maxUnits) {
  wchar_t* end = text;
  for (int units = 0; *end;) {
    LogUtf16Char c = LogNextUtf16Char(end);
    if (units + c.units > maxUnits) break;
    if (!c.valid) *end = wchar_t(0xFFFD);
    units += c.units;
    end += c.span;
  }
  *end = L'\0';
  return int(end - text);
}

// The UTF-16LE bytes of a line followed by CR LF, so that the line and its
// end reach the file in one write. Where wchar_t is two bytes the units are
// copied; elsewhere characters beyond the basic plane become surrogate pairs.
class Utf16Line {
 public:
  Utf16Line(const wchar_t* text, size_t length) {
    bytes_ = new (std::nothrow) BYTE[length * 4 + 4];
    if (!bytes_) return;
    BYTE* out = bytes_;
    for (size_t i = 0; i < length; ++i) {
      unsigned long code = static_cast<unsigned long>(text[i]);
      if (code > 0x10FFFF) code = 0xFFFD;
      if (code >= 0x10000) {
        code -= 0x10000;
        out = Put(out, 0xD800 + (code >> 10));
        code = 0xDC00 + (code & 0x3FF);
      }
      out = Put(out, code);
    }
    out = Put(Put(out, L'\r'), L'\n');
    size_ = DWORD(out - bytes_);
  }
  ~Utf16Line() { delete[] bytes_; }
  Utf16Line(const Utf16Line&) = delete;
  Utf16Line& operator=(const Utf16Line&) = delete;

  const void* Data() const { return bytes_; }
  // Zero when the buffer could not be allocated.
  DWORD Size() const { return size_; }

 private:
  static BYTE* Put(BYTE* out, unsigned long unit) {
    out[0] = BYTE(unit & 0xFF);
    out[1] = BYTE((unit >> 8) & 0xFF);
    return out + 2;
  }

  BYTE* bytes_ = nullptr;
  DWORD size_ = 0;
};
