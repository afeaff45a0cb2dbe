// The registry as a tree of keys, and its text form: the .reg format that
// regedit exports (UTF-16LE with byte-order mark, CR LF line ends).
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vw32::detail {

struct RegValue {
  std::wstring name;  // empty: the key's default value
  DWORD type;
  std::vector<uint8_t> data;  // as the calls hand it out: texts in WCHAR units
};

struct RegKey {
  std::wstring name;
  std::vector<RegValue> values;                  // in order of creation
  std::vector<std::unique_ptr<RegKey>> subkeys;  // sorted without letter case

  RegKey* Find(std::wstring_view child) const;
  RegKey* Add(std::wstring_view child);  // the existing one if there is one
  bool Remove(std::wstring_view child);
  RegValue* FindValue(std::wstring_view valueName);
  void SetValue(RegValue value);
  bool RemoveValue(std::wstring_view valueName);
};

// The full name of a hive ("HKEY_CURRENT_USER" for "HKCU"), or the name unchanged.
std::wstring HiveName(std::wstring_view name);

// Reads the text of a .reg file into root (whose subkeys are the hives);
// false when the bytes are not a registry file.
bool ParseRegFile(const std::vector<uint8_t>& bytes, RegKey& root);
std::vector<uint8_t> FormatRegFile(const RegKey& root);

// Value data for a text in the calls' form (WCHAR units and a terminator).
std::vector<uint8_t> TextData(std::wstring_view text);

}  // namespace vw32::detail
