// Text conversions between the layer's wide texts (wchar_t), UTF-8 for the
// operating system and UTF-16LE where bytes are fixed (registry files).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vw32::detail {

std::string ToUtf8(std::wstring_view text);
std::wstring FromUtf8(std::string_view text);
std::vector<uint8_t> ToUtf16Le(std::wstring_view text);
std::wstring FromUtf16Le(const uint8_t* bytes, size_t size);

// Case folding as Windows compares names of keys and objects.
wchar_t FoldCase(wchar_t c);
std::wstring FoldCase(std::wstring_view text);
bool EqualNoCase(std::wstring_view a, std::wstring_view b);
bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix);

// A Win32 path for the operating system: UTF-8 with '\' turned into '/'.
std::string OsPath(const wchar_t* path);
// And back: the operating system's path as a wide text.
std::wstring WidePath(std::string_view path);

// Copies text and a terminator into a caller's buffer of size characters.
// Returns the length when it fits, else the size needed with terminator.
uint32_t CopyOut(std::wstring_view text, wchar_t* buffer, uint32_t size);

}  // namespace vw32::detail
