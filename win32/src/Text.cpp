#include "Text.h"

#include <clocale>
#include <cwctype>

namespace vw32::detail {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = kReplacement;
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    out += char(0xC0 | (c >> 6));
    out += char(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += char(0xE0 | (c >> 12));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  } else {
    out += char(0xF0 | (c >> 18));
    out += char(0x80 | ((c >> 12) & 0x3F));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  }
}

// Decodes one UTF-8 sequence at text[i]; a malformed byte becomes U+FFFD.
char32_t DecodeUtf8(std::string_view text, size_t& i) {
  const auto b0 = uint8_t(text[i++]);
  if (b0 < 0x80) return b0;
  int extra = b0 >= 0xF0 ? 3 : b0 >= 0xE0 ? 2 : b0 >= 0xC0 ? 1 : -1;
  if (extra < 0 || b0 > 0xF4) return kReplacement;
  char32_t c = b0 & (0x3F >> extra);
  for (int k = 0; k < extra; ++k) {
    if (i >= text.size() || (uint8_t(text[i]) & 0xC0) != 0x80) return kReplacement;
    c = (c << 6) | (uint8_t(text[i++]) & 0x3F);
  }
  return c;
}

locale_t FoldLocale() {
  static locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
  return locale;
}

}  // namespace

std::string ToUtf8(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = char32_t(text[i]);
    // A wchar_t of 2 bytes holds UTF-16: join surrogate pairs.
    if constexpr (sizeof(wchar_t) == 2) {
      if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
        char32_t low = char32_t(text[i + 1]);
        if (low >= 0xDC00 && low < 0xE000) {
          c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
          ++i;
        }
      }
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::wstring FromUtf8(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    char32_t c = DecodeUtf8(text, i);
    if (sizeof(wchar_t) == 2 && c >= 0x10000) {
      c -= 0x10000;
      out += wchar_t(0xD800 + (c >> 10));
      out += wchar_t(0xDC00 + (c & 0x3FF));
    } else {
      out += wchar_t(c);
    }
  }
  return out;
}

std::vector<uint8_t> ToUtf16Le(std::wstring_view text) {
  std::vector<uint8_t> out;
  out.reserve(text.size() * 2);
  auto put = [&out](char32_t unit) {
    out.push_back(uint8_t(unit & 0xFF));
    out.push_back(uint8_t(unit >> 8));
  };
  for (wchar_t w : text) {
    char32_t c = char32_t(w);
    if (c >= 0x10000 && c <= 0x10FFFF) {
      c -= 0x10000;
      put(0xD800 + (c >> 10));
      put(0xDC00 + (c & 0x3FF));
    } else {
      put(c > 0xFFFF ? kReplacement : c);
    }
  }
  return out;
}

std::wstring FromUtf16Le(const uint8_t* bytes, size_t size) {
  std::wstring out;
  out.reserve(size / 2);
  for (size_t i = 0; i + 1 < size; i += 2) {
    char32_t c = char32_t(bytes[i] | (bytes[i + 1] << 8));
    if (sizeof(wchar_t) == 4 && c >= 0xD800 && c < 0xDC00 && i + 3 < size) {
      char32_t low = char32_t(bytes[i + 2] | (bytes[i + 3] << 8));
      if (low >= 0xDC00 && low < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    out += wchar_t(c);
  }
  return out;
}

wchar_t FoldCase(wchar_t c) {
  if (c < 0x80) return (c >= L'a' && c <= L'z') ? wchar_t(c - 32) : c;
  locale_t locale = FoldLocale();
  return locale ? wchar_t(towupper_l(wint_t(c), locale)) : c;
}

std::wstring FoldCase(std::wstring_view text) {
  std::wstring out(text);
  for (auto& c : out) c = FoldCase(c);
  return out;
}

bool EqualNoCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix) {
  return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

std::string OsPath(const wchar_t* path) {
  std::string out = ToUtf8(path ? std::wstring_view(path) : std::wstring_view());
  for (auto& c : out) {
    if (c == '\\') c = '/';
  }
  return out;
}

std::wstring WidePath(std::string_view path) { return FromUtf8(path); }

uint32_t CopyOut(std::wstring_view text, wchar_t* buffer, uint32_t size) {
  if (!buffer || size <= text.size()) return uint32_t(text.size() + 1);
  text.copy(buffer, text.size());
  buffer[text.size()] = L'\0';
  return uint32_t(text.size());
}

}  // namespace vw32::detail
