#include "RegFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwctype>

#include "Text.h"

namespace vw32::detail {

namespace {

constexpr std::wstring_view kHeader = L"Windows Registry Editor Version 5.00";

bool LessNoCase(std::wstring_view a, std::wstring_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](wchar_t x, wchar_t y) { return FoldCase(x) < FoldCase(y); });
}

bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

std::wstring Units(const std::vector<uint8_t>& data) {
  std::wstring units(data.size() / sizeof(WCHAR), L'\0');
  std::memcpy(units.data(), data.data(), units.size() * sizeof(WCHAR));
  return units;
}

std::vector<uint8_t> Bytes(std::wstring_view units) {
  std::vector<uint8_t> data(units.size() * sizeof(WCHAR));
  std::memcpy(data.data(), units.data(), data.size());
  return data;
}

std::wstring Trim(std::wstring_view text) {
  size_t begin = text.find_first_not_of(L" \t");
  if (begin == std::wstring_view::npos) return {};
  size_t end = text.find_last_not_of(L" \t\r");
  return std::wstring(text.substr(begin, end - begin + 1));
}

// Lines of the file with hex continuations (",\" at the end) joined.
std::vector<std::wstring> Lines(std::wstring_view text) {
  std::vector<std::wstring> lines;
  std::wstring pending;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring_view::npos) end = text.size();
    std::wstring line = Trim(text.substr(start, end - start));
    start = end + 1;
    if (line.size() >= 2 && line.ends_with(L",\\")) {
      pending += line.substr(0, line.size() - 1);
      continue;
    }
    lines.push_back(pending + line);
    pending.clear();
  }
  if (!pending.empty()) lines.push_back(pending);
  return lines;
}

// A quoted text with \\ and \" escapes starting at text[pos] (the quote);
// pos moves past the closing quote.
bool Quoted(const std::wstring& text, size_t& pos, std::wstring* out) {
  if (pos >= text.size() || text[pos] != L'"') return false;
  for (++pos; pos < text.size(); ++pos) {
    wchar_t c = text[pos];
    if (c == L'"') {
      ++pos;
      return true;
    }
    if (c == L'\\' && pos + 1 < text.size()) c = text[++pos];
    *out += c;
  }
  return false;
}

bool HexBytes(std::wstring_view text, std::vector<uint8_t>* out) {
  std::wstring digits;
  for (wchar_t c : text) {
    if (c == L',' || c == L' ' || c == L'\t') {
      if (digits.empty()) continue;
    } else if (std::iswxdigit(wint_t(c))) {
      digits += c;
      if (digits.size() < 2) continue;
    } else {
      return false;
    }
    out->push_back(uint8_t(std::wcstoul(digits.c_str(), nullptr, 16)));
    digits.clear();
  }
  if (!digits.empty()) out->push_back(uint8_t(std::wcstoul(digits.c_str(), nullptr, 16)));
  return true;
}

// The data part of a value line: "text", dword:..., hex:..., hex(N):... or
// "-" (a deletion, returned as type REG_NONE with deleted set).
bool ValueData(const std::wstring& text, RegValue* value, bool* deleted) {
  size_t pos = 0;
  *deleted = false;
  if (text == L"-") {
    *deleted = true;
    return true;
  }
  if (text.starts_with(L"\"")) {
    std::wstring s;
    if (!Quoted(text, pos, &s)) return false;
    value->type = REG_SZ;
    value->data = TextData(s);
    return true;
  }
  if (text.starts_with(L"dword:")) {
    DWORD n = DWORD(std::wcstoul(text.c_str() + 6, nullptr, 16));
    value->type = REG_DWORD;
    value->data = {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)};
    return true;
  }
  size_t colon = text.find(L':');
  if (!text.starts_with(L"hex") || colon == std::wstring::npos) return false;
  value->type = REG_BINARY;
  if (text[3] == L'(') value->type = DWORD(std::wcstoul(text.c_str() + 4, nullptr, 16));
  std::vector<uint8_t> bytes;
  if (!HexBytes(std::wstring_view(text).substr(colon + 1), &bytes)) return false;
  // Texts are stored as UTF-16LE bytes in the file.
  value->data = IsText(value->type) ? Bytes(FromUtf16Le(bytes.data(), bytes.size())) : bytes;
  return true;
}

void ParseValue(const std::wstring& line, RegKey* key) {
  RegValue value;
  size_t pos = 0;
  if (line[0] == L'@') {
    pos = 1;
  } else if (!Quoted(line, pos, &value.name)) {
    return;
  }
  while (pos < line.size() && line[pos] == L' ') ++pos;
  if (pos >= line.size() || line[pos] != L'=') return;
  bool deleted;
  if (!key || !ValueData(Trim(std::wstring_view(line).substr(pos + 1)), &value, &deleted)) return;
  if (deleted) {
    key->RemoveValue(value.name);
  } else {
    key->SetValue(std::move(value));
  }
}

std::vector<std::wstring> SplitPath(std::wstring_view path) {
  std::vector<std::wstring> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(L'\\', start);
    if (end == std::wstring_view::npos) end = path.size();
    if (end > start) parts.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  if (!parts.empty()) parts[0] = HiveName(parts[0]);
  return parts;
}

RegKey* Section(const std::wstring& line, RegKey& root) {
  std::wstring_view path(line);
  path = path.substr(1, path.size() - 2);
  bool remove = path.starts_with(L"-");
  if (remove) path.remove_prefix(1);
  auto parts = SplitPath(path);
  if (parts.empty()) return nullptr;
  RegKey* key = &root;
  for (size_t i = 0; i + 1 < parts.size() && key; ++i) key = remove ? key->Find(parts[i]) : key->Add(parts[i]);
  if (!key) return nullptr;
  if (remove) {
    key->Remove(parts.back());
    return nullptr;
  }
  return key->Add(parts.back());
}

std::wstring Escape(std::wstring_view text) {
  std::wstring out;
  for (wchar_t c : text) {
    if (c == L'\\' || c == L'"') out += L'\\';
    out += c;
  }
  return out;
}

// hex(N): lines as regedit wraps them: at most 80 columns, ",\" at the end
// of a wrapped line, two spaces before the next.
std::wstring HexValue(const std::wstring& prefix, const std::vector<uint8_t>& bytes) {
  std::wstring out = prefix;
  size_t column = out.size();
  for (size_t i = 0; i < bytes.size(); ++i) {
    wchar_t piece[4];
    std::swprintf(piece, 4, L"%02x", bytes[i]);
    std::wstring item = piece;
    if (i + 1 < bytes.size()) item += L',';
    if (column + item.size() > 78 && i > 0) {
      out += L"\\\r\n  ";
      column = 2;
    }
    out += item;
    column += item.size();
  }
  return out;
}

// A REG_SZ that the quoted form can hold: terminated, no other zero, no line end.
bool PlainText(const RegValue& value, std::wstring* text) {
  if (value.type != REG_SZ || value.data.size() % sizeof(WCHAR) != 0) return false;
  std::wstring units = Units(value.data);
  if (units.empty() || units.back() != L'\0') return false;
  units.pop_back();
  if (units.find_first_of(std::wstring_view(L"\0\r\n", 3)) != std::wstring::npos) return false;
  *text = units;
  return true;
}

std::wstring ValueLine(const RegValue& value) {
  std::wstring name = value.name.empty() ? L"@" : L"\"" + Escape(value.name) + L"\"";
  std::wstring text;
  if (PlainText(value, &text)) return name + L"=\"" + Escape(text) + L"\"";
  if (value.type == REG_DWORD && value.data.size() == 4) {
    wchar_t digits[16];
    DWORD n = DWORD(value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) | (DWORD(value.data[3]) << 24));
    std::swprintf(digits, 16, L"%08x", n);
    return name + L"=dword:" + digits;
  }
  std::vector<uint8_t> bytes = IsText(value.type) ? ToUtf16Le(Units(value.data)) : value.data;
  wchar_t type[24];
  if (value.type == REG_BINARY) {
    std::swprintf(type, 24, L"=hex:");
  } else {
    std::swprintf(type, 24, L"=hex(%x):", unsigned(value.type));
  }
  return HexValue(name + type, bytes);
}

void WriteKey(const RegKey& key, const std::wstring& path, bool section, std::wstring& out) {
  if (section) {
    out += L"[" + path + L"]\r\n";
    for (auto& value : key.values) out += ValueLine(value) + L"\r\n";
    out += L"\r\n";
  }
  for (auto& child : key.subkeys) WriteKey(*child, path + L"\\" + child->name, true, out);
}

}  // namespace

RegKey* RegKey::Find(std::wstring_view child) const {
  for (auto& key : subkeys) {
    if (EqualNoCase(key->name, child)) return key.get();
  }
  return nullptr;
}

RegKey* RegKey::Add(std::wstring_view child) {
  if (RegKey* existing = Find(child)) return existing;
  auto key = std::make_unique<RegKey>();
  key->name = child;
  auto at = std::find_if(subkeys.begin(), subkeys.end(), [&](auto& k) { return LessNoCase(child, k->name); });
  return subkeys.insert(at, std::move(key))->get();
}

bool RegKey::Remove(std::wstring_view child) {
  return std::erase_if(subkeys, [&](auto& key) { return EqualNoCase(key->name, child); }) > 0;
}

RegValue* RegKey::FindValue(std::wstring_view valueName) {
  for (auto& value : values) {
    if (EqualNoCase(value.name, valueName)) return &value;
  }
  return nullptr;
}

void RegKey::SetValue(RegValue value) {
  if (RegValue* existing = FindValue(value.name)) {
    existing->type = value.type;
    existing->data = std::move(value.data);
  } else {
    values.push_back(std::move(value));
  }
}

bool RegKey::RemoveValue(std::wstring_view valueName) {
  return std::erase_if(values, [&](auto& value) { return EqualNoCase(value.name, valueName); }) > 0;
}

std::wstring HiveName(std::wstring_view name) {
  static const std::pair<const wchar_t*, const wchar_t*> kShort[] = {
      {L"HKCU", L"HKEY_CURRENT_USER"}, {L"HKLM", L"HKEY_LOCAL_MACHINE"}, {L"HKCR", L"HKEY_CLASSES_ROOT"},
      {L"HKU", L"HKEY_USERS"},         {L"HKCC", L"HKEY_CURRENT_CONFIG"}};
  for (auto& [shortName, longName] : kShort) {
    if (EqualNoCase(name, shortName) || EqualNoCase(name, longName)) return longName;
  }
  return std::wstring(name);
}

std::vector<uint8_t> TextData(std::wstring_view text) {
  std::wstring units(text);
  units += L'\0';
  return Bytes(units);
}

bool ParseRegFile(const std::vector<uint8_t>& bytes, RegKey& root) {
  std::wstring text;
  if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    text = FromUtf16Le(bytes.data() + 2, bytes.size() - 2);
  } else {
    size_t skip = bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;
    text = FromUtf8(std::string_view(reinterpret_cast<const char*>(bytes.data()) + skip, bytes.size() - skip));
  }
  bool headerSeen = false;
  RegKey* key = nullptr;
  for (auto& line : Lines(text)) {
    if (line.empty() || line[0] == L';') continue;
    if (!headerSeen) {
      if (line != kHeader && line != L"REGEDIT4") return false;
      headerSeen = true;
    } else if (line[0] == L'[' && line.back() == L']') {
      key = Section(line, root);
    } else if (line[0] == L'"' || line[0] == L'@') {
      ParseValue(line, key);
    }
  }
  return headerSeen || text.empty();
}

std::vector<uint8_t> FormatRegFile(const RegKey& root) {
  std::wstring text = std::wstring(kHeader) + L"\r\n\r\n";
  // A hive gets a section of its own only when it holds values.
  for (auto& hive : root.subkeys) {
    WriteKey(*hive, hive->name, !hive->values.empty(), text);
  }
  std::vector<uint8_t> bytes{0xFF, 0xFE};
  auto body = ToUtf16Le(text);
  bytes.insert(bytes.end(), body.begin(), body.end());
  return bytes;
}

}  // namespace vw32::detail
