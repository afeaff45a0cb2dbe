// Microsoft C runtime formatting: each conversion is read with its Microsoft
// meaning (%s is a wide text in a wide format, %hs narrow, %I64d 64-bit,
// %ld 32-bit, %p sixteen hex digits) and formatted on its own.
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <string_view>
#include <type_traits>

#include <windows.h>

#include "Text.h"

using namespace vw32::detail;

namespace {

enum class Size { Default, Char, Short, Long, LongLong, Pointer, LongDouble };

struct Conversion {
  std::string flags;
  int width = -1;
  int precision = -1;
  Size size = Size::Default;
  bool wideExplicit = false;    // l or w
  bool narrowExplicit = false;  // h
  char conversion = 0;
};

// va_list in a struct, so it can be passed on by reference.
struct Args {
  va_list list;
};

void Append(std::wstring& out, std::string_view text) { out += FromUtf8(text); }
void Append(std::wstring& out, std::wstring_view text) { out += text; }
void Append(std::string& out, std::string_view text) { out += text; }
void Append(std::string& out, std::wstring_view text) { out += ToUtf8(text); }

template <class Ch>
class Formatter {
 public:
  using String = std::basic_string<Ch>;
  static constexpr bool kWide = sizeof(Ch) == sizeof(wchar_t) && !std::is_same_v<Ch, char>;

  Formatter(const Ch* format, Args& args, String& out) : f_(format), args_(args), out_(out) {}

  // False for a format the runtime rejects (unknown conversion, %n).
  bool Run() {
    while (*f_) {
      if (*f_ != Ch('%')) {
        out_ += *f_++;
        continue;
      }
      ++f_;
      if (*f_ == Ch('%')) {
        out_ += *f_++;
        continue;
      }
      Conversion conv;
      if (!Parse(conv) || !Convert(conv)) return false;
    }
    return true;
  }

 private:
  int Digits() {
    int value = 0;
    while (*f_ >= Ch('0') && *f_ <= Ch('9')) value = value * 10 + int(*f_++ - Ch('0'));
    return value;
  }

  bool Accept(const char* text) {
    size_t n = std::strlen(text);
    for (size_t i = 0; i < n; ++i) {
      if (f_[i] != Ch(text[i])) return false;
    }
    f_ += n;
    return true;
  }

  bool Parse(Conversion& conv) {
    while (*f_ && std::strchr("-+ #0", char(*f_))) conv.flags += char(*f_++);
    if (*f_ == Ch('*')) {
      ++f_;
      conv.width = va_arg(args_.list, int);
      if (conv.width < 0) {
        conv.flags += '-';
        conv.width = -conv.width;
      }
    } else if (*f_ >= Ch('0') && *f_ <= Ch('9')) {
      conv.width = Digits();
    }
    if (*f_ == Ch('.')) {
      ++f_;
      if (*f_ == Ch('*')) {
        ++f_;
        conv.precision = std::max(va_arg(args_.list, int), -1);
      } else {
        conv.precision = Digits();
      }
    }
    if (Accept("I64") || Accept("ll") || Accept("q") || Accept("j")) {
      conv.size = Size::LongLong;
    } else if (Accept("I32")) {
      conv.size = Size::Default;
    } else if (Accept("I") || Accept("z") || Accept("t")) {
      conv.size = Size::Pointer;
    } else if (Accept("hh")) {
      conv.size = Size::Char;
    } else if (Accept("h")) {
      conv.size = Size::Short;
      conv.narrowExplicit = true;
    } else if (Accept("l") || Accept("w")) {
      conv.size = Size::Long;  // long is 32 bits in this runtime
      conv.wideExplicit = true;
    } else if (Accept("L")) {
      conv.size = Size::LongDouble;
    }
    if (!*f_) return false;
    conv.conversion = char(*f_++);
    return true;
  }

  // Whether %c/%s (or %C/%S) of this conv take wide characters.
  bool WideArgument(const Conversion& conv) const {
    if (conv.wideExplicit) return true;
    if (conv.narrowExplicit) return false;
    const bool upper = conv.conversion == 'C' || conv.conversion == 'S';
    return kWide != upper;
  }

  void Pad(const String& text, const Conversion& conv) {
    const size_t width = conv.width > 0 ? size_t(conv.width) : 0;
    if (text.size() >= width) {
      out_ += text;
    } else if (conv.flags.find('-') != std::string::npos) {
      out_ += text;
      out_.append(width - text.size(), Ch(' '));
    } else {
      // The Microsoft runtime pads texts with zeros too when asked.
      const Ch fill = conv.flags.find('0') != std::string::npos ? Ch('0') : Ch(' ');
      out_.append(width - text.size(), fill);
      out_ += text;
    }
  }

  template <class Arg>
  void Text(const Arg* text, const Conversion& conv) {
    static const Arg kNull[] = {Arg('('), Arg('n'), Arg('u'), Arg('l'), Arg('l'), Arg(')'), Arg(0)};
    if (!text) text = kNull;
    size_t length = 0;
    while ((conv.precision < 0 || length < size_t(conv.precision)) && text[length]) ++length;
    String converted;
    Append(converted, std::basic_string_view<Arg>(text, length));
    Pad(converted, conv);
  }

  // One conversion of a number through the C library, by a narrow conv.
  template <class T>
  void Number(const Conversion& conv, const char* length, T value) {
    std::string c = "%" + conv.flags;
    if (conv.width >= 0) c += std::to_string(conv.width);
    if (conv.precision >= 0) c += "." + std::to_string(conv.precision);
    c += length;
    c += conv.conversion;
    char small[128];
    int n = std::snprintf(small, sizeof small, c.c_str(), value);
    if (n < 0) return;
    std::string text(size_t(n), '\0');
    std::snprintf(text.data(), text.size() + 1, c.c_str(), value);
    Append(out_, std::string_view(text));
  }

  long long Signed(const Conversion& conv) {
    switch (conv.size) {
      case Size::LongLong:
      case Size::Pointer:
      case Size::LongDouble: return va_arg(args_.list, long long);
      case Size::Short: return short(va_arg(args_.list, int));
      case Size::Char: return static_cast<signed char>(va_arg(args_.list, int));
      default: return va_arg(args_.list, int);
    }
  }

  unsigned long long Unsigned(const Conversion& conv) {
    switch (conv.size) {
      case Size::LongLong:
      case Size::Pointer:
      case Size::LongDouble: return va_arg(args_.list, unsigned long long);
      case Size::Short: return static_cast<unsigned short>(va_arg(args_.list, unsigned));
      case Size::Char: return static_cast<unsigned char>(va_arg(args_.list, unsigned));
      default: return va_arg(args_.list, unsigned);
    }
  }

  bool Convert(const Conversion& conv) {
    switch (conv.conversion) {
      case 'd':
      case 'i': Number(conv, "ll", Signed(conv)); return true;
      case 'u':
      case 'o':
      case 'x':
      case 'X': Number(conv, "ll", Unsigned(conv)); return true;
      case 'e': case 'E': case 'f': case 'F': case 'g': case 'G': case 'a': case 'A':
        if (conv.size == Size::LongDouble) {
          Number(conv, "L", va_arg(args_.list, long double));
        } else {
          Number(conv, "", va_arg(args_.list, double));
        }
        return true;
      case 'p': {
        char digits[32];
        std::snprintf(digits, sizeof digits, "%0*llX", int(2 * sizeof(void*)),
                      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(va_arg(args_.list, void*))));
        String text;
        Append(text, std::string_view(digits));
        Pad(text, conv);
        return true;
      }
      case 'c':
      case 'C': {
        const int value = va_arg(args_.list, int);
        if (WideArgument(conv)) {
          const wchar_t c[2] = {wchar_t(value), 0};
          Text(c, conv);
        } else {
          const char c[2] = {char(value), 0};
          Text(c, conv);
        }
        return true;
      }
      case 's':
      case 'S':
        if (WideArgument(conv)) {
          Text(va_arg(args_.list, const wchar_t*), conv);
        } else {
          Text(va_arg(args_.list, const char*), conv);
        }
        return true;
      default:
        return false;  // %n is disabled in this runtime, like any unknown conversion
    }
  }

  const Ch* f_;
  Args& args_;
  String& out_;
};

template <class Ch>
bool Format(std::basic_string<Ch>& out, const Ch* format, va_list list) {
  Args args;
  va_copy(args.list, list);
  bool ok = Formatter<Ch>(format, args, out).Run();
  va_end(args.list);
  if (!ok) errno = EINVAL;
  return ok;
}

// _vsnwprintf: the text and a terminator when it fits; exactly count
// characters and no terminator when it fills the buffer; -1 when it does not fit.
template <class Ch>
int CopyLegacy(Ch* buffer, size_t count, const std::basic_string<Ch>& text) {
  const size_t length = text.size();
  text.copy(buffer, std::min(length, count));
  if (length < count) buffer[length] = Ch(0);
  return length <= count ? int(length) : -1;
}

// The _s forms always terminate. count limits the characters (-1 when cut);
// _TRUNCATE cuts to the buffer (-1 when cut); otherwise text that does not
// fit the buffer is an error: empty buffer, errno ERANGE, -1.
template <class Ch>
int CopySecure(Ch* buffer, size_t size, size_t count, const std::basic_string<Ch>& text) {
  const size_t length = text.size();
  const size_t limit = count == _TRUNCATE ? size - 1 : std::min(count, size - 1);
  if (length <= limit) {
    text.copy(buffer, length);
    buffer[length] = Ch(0);
    return int(length);
  }
  if (count == _TRUNCATE || count < size) {
    text.copy(buffer, limit);
    buffer[limit] = Ch(0);
    return -1;
  }
  buffer[0] = Ch(0);
  errno = ERANGE;
  return -1;
}

template <class Ch>
int Legacy(Ch* buffer, size_t count, const Ch* format, va_list list) {
  if (!format || (!buffer && count)) {
    errno = EINVAL;
    return -1;
  }
  std::basic_string<Ch> text;
  if (!Format(text, format, list)) return -1;
  if (!buffer) return int(text.size());  // a size query
  return CopyLegacy(buffer, count, text);
}

template <class Ch>
int Secure(Ch* buffer, size_t size, size_t count, const Ch* format, va_list list) {
  if (!buffer && size == 0 && count == 0 && format) return 0;
  if (!format || !buffer || size == 0) {
    errno = EINVAL;
    return -1;
  }
  std::basic_string<Ch> text;
  if (!Format(text, format, list)) {
    buffer[0] = Ch(0);
    return -1;
  }
  return CopySecure(buffer, size, count, text);
}

}  // namespace

VW32_API int _vsnwprintf(wchar_t* buffer, size_t count, const wchar_t* format, va_list argptr) {
  return Legacy(buffer, count, format, argptr);
}

VW32_API int _snwprintf(wchar_t* buffer, size_t count, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  int result = Legacy(buffer, count, format, args);
  va_end(args);
  return result;
}

VW32_API int _vsnwprintf_s(wchar_t* buffer, size_t sizeOfBuffer, size_t count, const wchar_t* format, va_list argptr) {
  return Secure(buffer, sizeOfBuffer, count, format, argptr);
}

VW32_API int _snwprintf_s(wchar_t* buffer, size_t sizeOfBuffer, size_t count, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  int result = Secure(buffer, sizeOfBuffer, count, format, args);
  va_end(args);
  return result;
}

VW32_API int _vsnprintf_s(char* buffer, size_t sizeOfBuffer, size_t count, const char* format, va_list argptr) {
  return Secure(buffer, sizeOfBuffer, count, format, argptr);
}

VW32_API int _snprintf_s(char* buffer, size_t sizeOfBuffer, size_t count, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int result = Secure(buffer, sizeOfBuffer, count, format, args);
  va_end(args);
  return result;
}
