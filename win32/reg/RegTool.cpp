// reg: the registry tool with reg.exe's argument syntax for add, query and
// delete, over the Win32 registry calls.
//   reg add <key> [/v name | /ve] [/t type] [/s separator] [/d data] [/f]
//   reg query <key> [/v name | /ve] [/s]
//   reg delete <key> [/v name | /ve | /va] [/f]
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

namespace {

// ---- Text in and out ----------------------------------------------------------

// Arguments and output are UTF-8; the layer's formatting converts.
std::wstring Widen(const char* text) {
  std::vector<wchar_t> buffer(std::strlen(text) + 1);
  _snwprintf_s(buffer.data(), buffer.size(), _TRUNCATE, L"%hs", text);
  return buffer.data();
}

void Print(const std::wstring& text) {
  std::vector<char> buffer(text.size() * 4 + 1);
  _snprintf_s(buffer.data(), buffer.size(), _TRUNCATE, "%ls", text.c_str());
  std::fputs(buffer.data(), stdout);
}

int Error(const std::wstring& text) {
  Print(L"ERROR: " + text + L"\n");
  return 1;
}

int SyntaxError(const std::wstring& operation) {
  return Error(L"Invalid syntax.\nType \"REG " + operation + L" /?\" for usage.");
}

bool EqualNoCase(const std::wstring& a, const wchar_t* b) {
  if (a.size() != std::wcslen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::towupper(wint_t(a[i])) != std::towupper(wint_t(b[i]))) return false;
  }
  return true;
}

bool Confirm(const std::wstring& question) {
  Print(question + L" (Yes/No)? ");
  std::fflush(stdout);
  char answer[16] = {};
  return std::fgets(answer, sizeof answer, stdin) && (answer[0] == 'y' || answer[0] == 'Y');
}

// ---- Arguments --------------------------------------------------------------------

struct Options {
  std::wstring operation;  // ADD, QUERY, DELETE
  std::wstring keyName;    // as typed
  HKEY root = nullptr;
  std::wstring subKey;
  bool hasValue = false;  // /v or /ve
  std::wstring valueName;
  bool allValues = false;  // /va
  std::wstring type = L"REG_SZ";
  std::wstring data;
  std::wstring separator = L"\\0";
  bool force = false;
  bool recurse = false;
  bool help = false;
};

bool SplitKey(Options& o) {
  static const std::pair<const wchar_t*, HKEY> kRoots[] = {
      {L"HKCU", HKEY_CURRENT_USER}, {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
      {L"HKLM", HKEY_LOCAL_MACHINE}, {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
      {L"HKCR", HKEY_CLASSES_ROOT}, {L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT}};
  size_t slash = o.keyName.find(L'\\');
  std::wstring rootName = o.keyName.substr(0, slash);
  o.subKey = slash == std::wstring::npos ? L"" : o.keyName.substr(slash + 1);
  while (!o.subKey.empty() && o.subKey.back() == L'\\') o.subKey.pop_back();
  for (auto& [name, key] : kRoots) {
    if (!EqualNoCase(rootName, name)) continue;
    o.root = key;
    // Shown with the hive's full name, as reg.exe does.
    const wchar_t* full = key == HKEY_CURRENT_USER ? L"HKEY_CURRENT_USER"
                          : key == HKEY_LOCAL_MACHINE ? L"HKEY_LOCAL_MACHINE"
                                                      : L"HKEY_CLASSES_ROOT";
    o.keyName = o.subKey.empty() ? full : std::wstring(full) + L"\\" + o.subKey;
  }
  return o.root != nullptr;
}

// Options take "/" or "-"; the ones with an argument consume the next word.
bool ParseOptions(const std::vector<std::wstring>& args, Options& o) {
  for (size_t i = 3; i < args.size(); ++i) {
    const std::wstring& a = args[i];
    if (a.size() < 2 || (a[0] != L'/' && a[0] != L'-')) return false;
    const std::wstring name = a.substr(1);
    auto next = [&](std::wstring* out) {
      if (i + 1 >= args.size()) return false;
      *out = args[++i];
      return true;
    };
    if (EqualNoCase(name, L"v")) {
      if (o.hasValue || !next(&o.valueName)) return false;
      o.hasValue = true;
    } else if (EqualNoCase(name, L"ve")) {
      if (o.hasValue) return false;
      o.hasValue = true;
    } else if (EqualNoCase(name, L"va")) {
      o.allValues = true;
    } else if (EqualNoCase(name, L"t")) {
      if (!next(&o.type)) return false;
    } else if (EqualNoCase(name, L"d")) {
      if (!next(&o.data)) return false;
    } else if (EqualNoCase(name, L"f")) {
      o.force = true;
    } else if (EqualNoCase(name, L"s")) {
      if (EqualNoCase(o.operation, L"QUERY")) {
        o.recurse = true;
      } else if (!next(&o.separator)) {
        return false;
      }
    } else if (name == L"?") {
      o.help = true;
    } else {
      return false;
    }
  }
  return !(o.hasValue && o.allValues);
}

// ---- Value data ---------------------------------------------------------------------

struct TypeName {
  DWORD type;
  const wchar_t* name;
};
constexpr TypeName kTypes[] = {{REG_SZ, L"REG_SZ"},         {REG_MULTI_SZ, L"REG_MULTI_SZ"},
                               {REG_EXPAND_SZ, L"REG_EXPAND_SZ"}, {REG_DWORD, L"REG_DWORD"},
                               {REG_QWORD, L"REG_QWORD"},   {REG_BINARY, L"REG_BINARY"},
                               {REG_NONE, L"REG_NONE"}};

const wchar_t* NameOfType(DWORD type) {
  for (auto& t : kTypes) {
    if (t.type == type) return t.name;
  }
  return L"REG_NONE";
}

bool TypeOfName(const std::wstring& name, DWORD* type) {
  for (auto& t : kTypes) {
    if (EqualNoCase(name, t.name)) {
      *type = t.type;
      return true;
    }
  }
  return false;
}

bool Number(const std::wstring& text, unsigned long long max, unsigned long long* value) {
  if (text.empty()) {
    *value = 0;
    return true;
  }
  wchar_t* end = nullptr;
  const bool hex = text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X');
  *value = std::wcstoull(text.c_str() + (hex ? 2 : 0), &end, hex ? 16 : 10);
  return *end == L'\0' && text[0] != L'-' && *value <= max;
}

void AppendBytes(std::vector<BYTE>& out, const void* data, size_t size) {
  const auto* bytes = static_cast<const BYTE*>(data);
  out.insert(out.end(), bytes, bytes + size);
}

// The bytes RegSetValueExW stores for the /d text of a type; false when the
// text does not fit the type.
bool Encode(DWORD type, const Options& o, std::vector<BYTE>* out) {
  unsigned long long n;
  switch (type) {
    case REG_DWORD: {
      if (!Number(o.data, 0xFFFFFFFFull, &n)) return false;
      DWORD d = DWORD(n);
      AppendBytes(*out, &d, sizeof d);
      return true;
    }
    case REG_QWORD:
      if (!Number(o.data, ~0ull, &n)) return false;
      AppendBytes(*out, &n, sizeof n);
      return true;
    case REG_BINARY:
    case REG_NONE:
      if (o.data.size() % 2 || o.data.find_first_not_of(L"0123456789abcdefABCDEF") != std::wstring::npos) return false;
      for (size_t i = 0; i < o.data.size(); i += 2) out->push_back(BYTE(std::wcstoul(o.data.substr(i, 2).c_str(), nullptr, 16)));
      return true;
    case REG_MULTI_SZ: {
      std::wstring list = o.data;
      for (size_t at; !o.separator.empty() && (at = list.find(o.separator)) != std::wstring::npos;)
        list.replace(at, o.separator.size(), 1, L'\0');
      list += L'\0';
      list += L'\0';
      AppendBytes(*out, list.data(), list.size() * sizeof(WCHAR));
      return true;
    }
    default:
      AppendBytes(*out, o.data.c_str(), (o.data.size() + 1) * sizeof(WCHAR));
      return true;
  }
}

std::wstring Texts(const std::vector<BYTE>& data) {
  std::wstring text(data.size() / sizeof(WCHAR), L'\0');
  std::memcpy(text.data(), data.data(), text.size() * sizeof(WCHAR));
  return text;
}

// The data column of reg query.
std::wstring Show(DWORD type, const std::vector<BYTE>& data) {
  wchar_t number[32];
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      return Texts(data).c_str();
    case REG_MULTI_SZ: {
      std::wstring text = Texts(data);
      while (!text.empty() && text.back() == L'\0') text.pop_back();
      std::wstring shown;
      for (wchar_t c : text) shown += c == L'\0' ? std::wstring(L"\\0") : std::wstring(1, c);
      return shown;
    }
    case REG_DWORD:
      if (data.size() == 4) {
        DWORD d;
        std::memcpy(&d, data.data(), 4);
        _snwprintf_s(number, 32, _TRUNCATE, L"0x%x", d);
        return number;
      }
      break;
    case REG_QWORD:
      if (data.size() == 8) {
        ULONGLONG q;
        std::memcpy(&q, data.data(), 8);
        _snwprintf_s(number, 32, _TRUNCATE, L"0x%I64x", q);
        return number;
      }
      break;
  }
  std::wstring hex;
  for (BYTE b : data) {
    _snwprintf_s(number, 32, _TRUNCATE, L"%02X", b);
    hex += number;
  }
  return hex;
}

// ---- Operations ----------------------------------------------------------------------

int Failure(LSTATUS status) {
  if (status == ERROR_FILE_NOT_FOUND) return Error(L"The system was unable to find the specified registry key or value.");
  if (status == ERROR_ACCESS_DENIED) return Error(L"Access is denied.");
  if (status == ERROR_BADDB) return Error(L"The configuration registry database is corrupt.");
  wchar_t text[64];
  _snwprintf_s(text, 64, _TRUNCATE, L"The operation failed (error %d).", int(status));
  return Error(text);
}

int Done() {
  Print(L"The operation completed successfully.\n");
  return 0;
}

int Add(const Options& o) {
  DWORD type;
  if (!TypeOfName(o.type, &type)) return Error(L"Invalid syntax.\nType \"REG ADD /?\" for usage.");
  std::vector<BYTE> data;
  if (o.hasValue && !Encode(type, o, &data)) return Error(L"Invalid syntax. Specify valid numeric value for '/d'.");
  HKEY key;
  LSTATUS status = RegCreateKeyExW(o.root, o.subKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return Failure(status);
  if (o.hasValue) {
    const bool exists = RegQueryValueExW(key, o.valueName.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    if (exists && !o.force && !Confirm(L"Value " + (o.valueName.empty() ? L"(Default)" : o.valueName) + L" exists, overwrite")) {
      RegCloseKey(key);
      Print(L"The operation was canceled by the user.\n");
      return 0;
    }
    status = RegSetValueExW(key, o.valueName.c_str(), 0, type, data.data(), DWORD(data.size()));
  }
  RegCloseKey(key);
  return status == ERROR_SUCCESS ? Done() : Failure(status);
}

void PrintValue(const std::wstring& name, DWORD type, const std::vector<BYTE>& data) {
  Print(L"    " + (name.empty() ? L"(Default)" : name) + L"    " + NameOfType(type) + L"    " + Show(type, data) + L"\n");
}

bool ReadValue(HKEY key, const std::wstring& name, DWORD* type, std::vector<BYTE>* data) {
  DWORD size = 0;
  if (RegQueryValueExW(key, name.c_str(), nullptr, type, nullptr, &size) != ERROR_SUCCESS) return false;
  data->resize(size);
  return RegQueryValueExW(key, name.c_str(), nullptr, type, data->data(), &size) == ERROR_SUCCESS;
}

// Names longer than Windows allows (255 for keys, 16,383 for values) come
// from a file written by hand: the buffer grows up to this many characters,
// and a longer name is passed over.
constexpr size_t kLongestName = size_t(1) << 24;

std::vector<std::wstring> Subkeys(HKEY key) {
  std::vector<std::wstring> names;
  std::vector<wchar_t> name(256);
  for (DWORD i = 0;; ++i) {
    DWORD size = DWORD(name.size());
    LSTATUS status = RegEnumKeyExW(key, i, name.data(), &size, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_MORE_DATA && name.size() < kLongestName) {
      name.resize(name.size() * 4);
      --i;
      continue;
    }
    if (status == ERROR_MORE_DATA) continue;
    if (status != ERROR_SUCCESS) break;
    names.emplace_back(name.data());
  }
  return names;
}

// The values of one key; returns how many.
int ShowValues(HKEY key) {
  int shown = 0;
  std::vector<wchar_t> name(16384);
  std::vector<BYTE> data(65536);
  for (DWORD i = 0;;) {
    DWORD nameSize = DWORD(name.size()), type, size = DWORD(data.size());
    LSTATUS status = RegEnumValueW(key, i, name.data(), &nameSize, nullptr, &type, data.data(), &size);
    if (status == ERROR_MORE_DATA) {
      // The data's size is told; a name too long for its buffer is not.
      if (size > data.size()) {
        data.resize(size);
      } else if (name.size() < kLongestName) {
        name.resize(name.size() * 4);
      } else {
        ++i;
      }
      continue;
    }
    if (status != ERROR_SUCCESS) break;
    PrintValue(name.data(), type, std::vector<BYTE>(data.begin(), data.begin() + size));
    ++shown;
    ++i;
  }
  return shown;
}

bool HasValues(HKEY key) {
  wchar_t name[16384];
  DWORD size = 16384;
  return RegEnumValueW(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_NO_MORE_ITEMS;
}

// reg query without /s: the key's values under its name, then its subkeys' names.
void ShowKey(HKEY key, const std::wstring& path) {
  if (HasValues(key)) {
    Print(L"\n" + path + L"\n");
    ShowValues(key);
  }
  auto subkeys = Subkeys(key);
  if (!subkeys.empty()) Print(L"\n");
  for (auto& sub : subkeys) Print(path + L"\\" + sub + L"\n");
}

// reg query /s: every key below with its values, each key before its
// subkeys; returns the matches. A loop with a stack of its own, whatever the
// depth.
int ShowTree(HKEY top, const std::wstring& topPath) {
  struct Level {
    HKEY key;
    std::wstring path;
    std::vector<std::wstring> subkeys;
    size_t next = 0;
  };
  std::vector<Level> stack;
  int matches = 0;
  auto enter = [&](HKEY key, std::wstring path) {
    Print(L"\n" + path + L"\n");
    matches += 1 + ShowValues(key);
    stack.push_back({key, std::move(path), Subkeys(key)});
  };
  enter(top, topPath);
  while (!stack.empty()) {
    Level& level = stack.back();
    if (level.next == level.subkeys.size()) {
      if (level.key != top) RegCloseKey(level.key);
      stack.pop_back();
      continue;
    }
    const std::wstring& sub = level.subkeys[level.next++];
    HKEY child;
    if (RegOpenKeyExW(level.key, sub.c_str(), 0, KEY_READ, &child) != ERROR_SUCCESS) continue;
    enter(child, level.path + L"\\" + sub);
  }
  return matches;
}

int Query(const Options& o) {
  HKEY key;
  LSTATUS status = RegOpenKeyExW(o.root, o.subKey.c_str(), 0, KEY_READ, &key);
  if (status != ERROR_SUCCESS) return Failure(status);
  int result = 0;
  if (o.hasValue) {
    DWORD type;
    std::vector<BYTE> data;
    if (ReadValue(key, o.valueName, &type, &data)) {
      Print(L"\n" + o.keyName + L"\n");
      PrintValue(o.valueName, type, data);
      Print(L"\n");
    } else {
      result = Failure(ERROR_FILE_NOT_FOUND);
    }
  } else if (o.recurse) {
    wchar_t summary[64];
    _snwprintf_s(summary, 64, _TRUNCATE, L"\nEnd of search: %d match(es) found.\n", ShowTree(key, o.keyName));
    Print(summary);
  } else {
    ShowKey(key, o.keyName);
    Print(L"\n");
  }
  RegCloseKey(key);
  return result;
}

int Delete(const Options& o) {
  if (!o.hasValue && !o.allValues) {
    if (!o.force && !Confirm(L"Permanently delete the registry key " + o.keyName)) return 0;
    LSTATUS status = RegDeleteTreeW(o.root, o.subKey.c_str());
    return status == ERROR_SUCCESS ? Done() : Failure(status);
  }
  HKEY key;
  LSTATUS status = RegOpenKeyExW(o.root, o.subKey.c_str(), 0, KEY_ALL_ACCESS, &key);
  if (status != ERROR_SUCCESS) return Failure(status);
  const std::wstring question = o.allValues ? L"Delete all values under the registry key " + o.keyName
                                            : L"Delete the registry value " + (o.valueName.empty() ? L"(Default)" : o.valueName);
  if (!o.force && !Confirm(question)) {
    RegCloseKey(key);
    return 0;
  }
  if (o.allValues) {
    wchar_t name[16384];
    for (DWORD size = 16384; status == ERROR_SUCCESS; size = 16384) {
      status = RegEnumValueW(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr);
      if (status == ERROR_SUCCESS) status = RegDeleteValueW(key, name);
    }
    if (status == ERROR_NO_MORE_ITEMS) status = ERROR_SUCCESS;
  } else {
    status = RegDeleteValueW(key, o.valueName.c_str());
  }
  RegCloseKey(key);
  return status == ERROR_SUCCESS ? Done() : Failure(status);
}

int Usage() {
  Print(
      L"REG ADD <key> [/v name | /ve] [/t type] [/s separator] [/d data] [/f]\n"
      L"REG QUERY <key> [/v name | /ve] [/s]\n"
      L"REG DELETE <key> [/v name | /ve | /va] [/f]\n"
      L"  <key>  HKCU\\SubKey (or HKEY_CURRENT_USER\\SubKey)\n"
      L"  types  REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD, REG_BINARY, REG_NONE\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::wstring> args;
  for (int i = 0; i < argc; ++i) args.push_back(Widen(argv[i]));
  if (argc < 2 || args[1] == L"/?" || args[1] == L"-?") return Usage();
  Options o;
  o.operation = args[1];
  for (auto& c : o.operation) c = wchar_t(std::towupper(wint_t(c)));
  const bool known = o.operation == L"ADD" || o.operation == L"QUERY" || o.operation == L"DELETE";
  if (!known) return Error(L"Invalid syntax.\nType \"REG /?\" for usage.");
  if (argc > 2 && (args[2] == L"/?" || args[2] == L"-?")) return Usage();
  if (argc < 3) return SyntaxError(o.operation);
  o.keyName = args[2];
  if (!ParseOptions(args, o)) return SyntaxError(o.operation);
  if (!SplitKey(o)) return Error(L"Invalid key name.\nType \"REG " + o.operation + L" /?\" for usage.");
  if (o.operation == L"ADD") return Add(o);
  if (o.operation == L"QUERY") return Query(o);
  return Delete(o);
}
