// The two places where the logging library's bytes depend on the platform:
// the separator that ends a directory prefix, and the UTF-16LE bytes of a
// wide text (the log file is UTF-16LE whatever the size of wchar_t).
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

// Length of a wide text in UTF-16 units, as Windows counts characters: a
// character beyond the basic plane counts twice.
inline int LogUtf16Length(const wchar_t* text) {
  int length = 0;
  for (; *text; ++text) {
    ++length;
    if constexpr (sizeof(wchar_t) > 2) length += (static_cast<unsigned long>(*text) >> 16) != 0 ? 1 : 0;
  }
  return length;
}

// The UTF-16LE bytes of a wide text. Where wchar_t is two bytes the text is
// already UTF-16LE and is used as it is; elsewhere it is converted, with
// characters beyond the basic plane as surrogate pairs.
class Utf16Bytes {
 public:
  Utf16Bytes(const wchar_t* text, size_t length) {
    if constexpr (sizeof(wchar_t) == 2) {
      data_ = text;
      size_ = DWORD(length * 2);
    } else {
      Convert(text, length);
    }
  }
  ~Utf16Bytes() { delete[] converted_; }
  Utf16Bytes(const Utf16Bytes&) = delete;
  Utf16Bytes& operator=(const Utf16Bytes&) = delete;

  const void* Data() const { return data_; }
  // Zero when the conversion buffer could not be allocated.
  DWORD Size() const { return size_; }

 private:
  void Convert(const wchar_t* text, size_t length) {
    converted_ = new (std::nothrow) BYTE[length * 4 + 1];
    if (!converted_) return;
    BYTE* out = converted_;
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
    data_ = converted_;
    size_ = DWORD(out - converted_);
  }
  static BYTE* Put(BYTE* out, unsigned long unit) {
    out[0] = BYTE(unit & 0xFF);
    out[1] = BYTE((unit >> 8) & 0xFF);
    return out + 2;
  }

  const void* data_ = nullptr;
  DWORD size_ = 0;
  BYTE* converted_ = nullptr;
};
