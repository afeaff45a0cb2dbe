// The current user's registry, kept in a .reg file of the user's
// configuration folder: read when a key is opened, rewritten whole (temporary
// file, then rename) by every call that changes it, under a file lock so
// processes do not lose each other's changes.
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <vwin32.h>

#include "Errors.h"
#include "Handles.h"
#include "RegFile.h"
#include "Text.h"

using namespace vw32::detail;

namespace {

constexpr const wchar_t* kCurrentUser = L"HKEY_CURRENT_USER";
using Path = std::vector<std::wstring>;

class KeyObj : public Object {
 public:
  explicit KeyObj(Path path) : Object(Kind::Key), path(std::move(path)) {}
  const Path path;  // from the hive's name down
};

struct Hive {
  std::mutex mutex;
  std::string folder;  // empty: the default folder
  RegKey root;         // as last read
  bool readable = true;
};
Hive& TheHive() {
  static auto* hive = new Hive;
  return *hive;
}

std::string DefaultFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && config[0] == '/') return std::string(config) + "/vantrel";
  const char* home = std::getenv("HOME");
  if (!home || !*home) {
    const passwd* user = getpwuid(getuid());
    home = user ? user->pw_dir : "/tmp";
  }
  return std::string(home) + "/.config/vantrel";
}

std::string Folder(const Hive& hive) { return hive.folder.empty() ? DefaultFolder() : hive.folder; }
std::string FilePath(const Hive& hive) { return Folder(hive) + "/HKCU.reg"; }

// Under the hive's lock: the file's content, or an empty hive when there is
// no file yet.
void Load(Hive& hive) {
  hive.root = RegKey{};
  hive.readable = true;
  int fd = open(FilePath(hive).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    std::vector<uint8_t> bytes;
    uint8_t chunk[16384];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof chunk)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    close(fd);
    hive.readable = ParseRegFile(bytes, hive.root);
    if (!hive.readable) hive.root = RegKey{};
  }
  hive.root.Add(kCurrentUser);
}

DWORD MakeFolders(const std::string& folder) {
  for (size_t slash = folder.find('/', 1); slash != std::string::npos; slash = folder.find('/', slash + 1))
    mkdir(folder.substr(0, slash).c_str(), 0700);
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return Win32FromErrno(errno);
  return ERROR_SUCCESS;
}

DWORD Save(Hive& hive) {
  static std::atomic<unsigned> counter{0};
  const std::string path = FilePath(hive);
  const std::string temp = path + ".new." + std::to_string(getpid()) + "." + std::to_string(counter++);
  const auto bytes = FormatRegFile(hive.root);
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return Win32FromErrno(errno);
  bool ok = write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size()) && fsync(fd) == 0;
  int error = errno;
  close(fd);
  if (ok && rename(temp.c_str(), path.c_str()) == 0) return ERROR_SUCCESS;
  error = ok ? errno : error;
  unlink(temp.c_str());
  return Win32FromErrno(error);
}

// Read, change, write, holding the file lock that other processes take too.
// change returns an error, and sets *changed when there is something to write.
LSTATUS Modify(const std::function<LSTATUS(RegKey& root, bool* changed)>& change) {
  Hive& hive = TheHive();
  std::lock_guard lock(hive.mutex);
  const std::string folder = Folder(hive);
  if (DWORD error = MakeFolders(folder)) return LSTATUS(error);
  int lockFd = open((folder + "/HKCU.reg.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lockFd < 0) return LSTATUS(Win32FromErrno(errno));
  flock(lockFd, LOCK_EX);
  Load(hive);
  bool changed = false;
  // A file that is not a registry file is never overwritten.
  LSTATUS result = hive.readable ? change(hive.root, &changed) : LSTATUS(ERROR_BADDB);
  if (result == ERROR_SUCCESS && changed) result = LSTATUS(Save(hive));
  close(lockFd);
  return result;
}

bool IsPredefined(HKEY key) {
  auto value = reinterpret_cast<uintptr_t>(key) & 0xFFFFFFFFu;
  return value >= 0x80000000u && value <= 0x80000006u;
}

// The path a key handle stands for.
LSTATUS Resolve(HKEY key, Path* path) {
  static const wchar_t* const kHives[] = {L"HKEY_CLASSES_ROOT", kCurrentUser,      L"HKEY_LOCAL_MACHINE",
                                          L"HKEY_USERS",        L"HKEY_PERFORMANCE_DATA", L"HKEY_CURRENT_CONFIG",
                                          L"HKEY_DYN_DATA"};
  if (IsPredefined(key)) {
    *path = {kHives[(reinterpret_cast<uintptr_t>(key) & 0xFFFFFFFFu) - 0x80000000u]};
    return ERROR_SUCCESS;
  }
  auto obj = std::dynamic_pointer_cast<KeyObj>(LookupHandle(reinterpret_cast<HANDLE>(key)));
  if (!obj) return ERROR_INVALID_HANDLE;
  *path = obj->path;
  return ERROR_SUCCESS;
}

LSTATUS Resolve(HKEY key, LPCWSTR subKey, Path* path) {
  if (LSTATUS error = Resolve(key, path)) return error;
  std::wstring_view rest = subKey ? subKey : L"";
  size_t start = 0;
  while (start < rest.size()) {
    size_t end = rest.find(L'\\', start);
    if (end == std::wstring_view::npos) end = rest.size();
    if (end > start) path->emplace_back(rest.substr(start, end - start));
    start = end + 1;
  }
  return ERROR_SUCCESS;
}

RegKey* Find(RegKey& root, const Path& path, size_t depth) {
  RegKey* key = &root;
  for (size_t i = 0; i < depth && key; ++i) key = key->Find(path[i]);
  return key;
}
RegKey* Find(RegKey& root, const Path& path) { return Find(root, path, path.size()); }

// Only the current user's hive is kept; the others read as empty.
bool Writable(const Path& path) { return EqualNoCase(path[0], kCurrentUser); }

HKEY NewKey(const Path& path) { return reinterpret_cast<HKEY>(InsertHandle(std::make_shared<KeyObj>(path))); }

// Reading calls work on the content read when the key was opened.
template <class Body>
LSTATUS ReadKey(HKEY hKey, Body body) {
  Path path;
  if (LSTATUS error = Resolve(hKey, &path)) return error;
  Hive& hive = TheHive();
  std::lock_guard lock(hive.mutex);
  if (IsPredefined(hKey)) Load(hive);  // a predefined key is opened by each use
  RegKey* key = Find(hive.root, path);
  return key ? body(*key) : LSTATUS(ERROR_KEY_DELETED);
}

LSTATUS CopyData(const RegValue& value, LPDWORD type, LPBYTE data, LPDWORD size) {
  if (data && !size) return ERROR_INVALID_PARAMETER;
  if (type) *type = value.type;
  const auto needed = DWORD(value.data.size());
  if (data && *size < needed) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  if (data) std::memcpy(data, value.data.data(), needed);
  if (size) *size = needed;
  return ERROR_SUCCESS;
}

LSTATUS CopyName(const std::wstring& name, LPWSTR buffer, LPDWORD chars) {
  if (!buffer || !chars) return ERROR_INVALID_PARAMETER;
  if (*chars <= name.size()) return ERROR_MORE_DATA;
  name.copy(buffer, name.size());
  buffer[name.size()] = L'\0';
  *chars = DWORD(name.size());
  return ERROR_SUCCESS;
}

}  // namespace

VW32_API LSTATUS WINAPI RegOpenCurrentUser(REGSAM, PHKEY phkResult) {
  return RegOpenKeyExW(HKEY_CURRENT_USER, nullptr, 0, 0, phkResult);
}

VW32_API LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult) {
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  Path path;
  if (LSTATUS error = Resolve(hKey, lpSubKey, &path)) return error;
  Hive& hive = TheHive();
  std::lock_guard lock(hive.mutex);
  Load(hive);
  if (!Find(hive.root, path)) return ERROR_FILE_NOT_FOUND;
  *phkResult = NewKey(path);
  return ERROR_SUCCESS;
}

VW32_API LSTATUS WINAPI RegCloseKey(HKEY hKey) {
  if (IsPredefined(hKey)) return ERROR_SUCCESS;
  return RemoveHandle(reinterpret_cast<HANDLE>(hKey), false, Kind::Key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

VW32_API LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                                         LPDWORD lpcbData) {
  return ReadKey(hKey, [&](RegKey& key) -> LSTATUS {
    const RegValue* value = key.FindValue(lpValueName ? lpValueName : L"");
    return value ? CopyData(*value, lpType, lpData, lpcbData) : LSTATUS(ERROR_FILE_NOT_FOUND);
  });
}

VW32_API LSTATUS WINAPI RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD,
                                      LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  return ReadKey(hKey, [&](RegKey& key) -> LSTATUS {
    if (dwIndex >= key.values.size()) return ERROR_NO_MORE_ITEMS;
    const RegValue& value = key.values[dwIndex];
    if (LSTATUS error = CopyName(value.name, lpValueName, lpcchValueName)) return error;
    return CopyData(value, lpType, lpData, lpcbData);
  });
}

VW32_API LSTATUS WINAPI RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD, LPWSTR lpClass,
                                      LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  return ReadKey(hKey, [&](RegKey& key) -> LSTATUS {
    if (dwIndex >= key.subkeys.size()) return ERROR_NO_MORE_ITEMS;
    if (LSTATUS error = CopyName(key.subkeys[dwIndex]->name, lpName, lpcchName)) return error;
    if (lpClass && lpcchClass && *lpcchClass > 0) lpClass[0] = L'\0';
    if (lpcchClass) *lpcchClass = 0;
    if (lpftLastWriteTime) *lpftLastWriteTime = FILETIME{0, 0};
    return ERROR_SUCCESS;
  });
}

VW32_API LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM,
                                        LPSECURITY_ATTRIBUTES, PHKEY phkResult, LPDWORD lpdwDisposition) {
  if (!phkResult || !lpSubKey) return ERROR_INVALID_PARAMETER;
  Path path;
  if (LSTATUS error = Resolve(hKey, lpSubKey, &path)) return error;
  if (!Writable(path)) return ERROR_ACCESS_DENIED;
  bool created = false;
  LSTATUS result = Modify([&](RegKey& root, bool* changed) -> LSTATUS {
    created = !Find(root, path);
    RegKey* key = &root;
    for (auto& part : path) key = key->Add(part);
    *changed = created;
    return ERROR_SUCCESS;
  });
  if (result != ERROR_SUCCESS) return result;
  if (lpdwDisposition) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *phkResult = NewKey(path);
  return ERROR_SUCCESS;
}

namespace {
// A change of the key a handle stands for.
LSTATUS ChangeKey(HKEY hKey, const std::function<LSTATUS(RegKey& key, bool* changed)>& change) {
  Path path;
  if (LSTATUS error = Resolve(hKey, &path)) return error;
  if (!Writable(path)) return ERROR_ACCESS_DENIED;
  return Modify([&](RegKey& root, bool* changed) -> LSTATUS {
    RegKey* key = Find(root, path);
    return key ? change(*key, changed) : LSTATUS(ERROR_KEY_DELETED);
  });
}
}  // namespace

VW32_API LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                                       DWORD cbData) {
  if (!lpData && cbData) return ERROR_NOACCESS;
  return ChangeKey(hKey, [&](RegKey& key, bool* changed) -> LSTATUS {
    key.SetValue({lpValueName ? lpValueName : L"", dwType, std::vector<uint8_t>(lpData, lpData + cbData)});
    *changed = true;
    return ERROR_SUCCESS;
  });
}

VW32_API LSTATUS WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
  return ChangeKey(hKey, [&](RegKey& key, bool* changed) -> LSTATUS {
    *changed = key.RemoveValue(lpValueName ? lpValueName : L"");
    return *changed ? LSTATUS(ERROR_SUCCESS) : LSTATUS(ERROR_FILE_NOT_FOUND);
  });
}

namespace {
// Deletes the key at path; a key with subkeys only when whole is set.
LSTATUS DeleteKey(HKEY hKey, LPCWSTR subKey, bool whole) {
  Path path;
  if (LSTATUS error = Resolve(hKey, subKey, &path)) return error;
  if (!Writable(path) || path.size() < 2) return ERROR_ACCESS_DENIED;  // a hive is never deleted
  return Modify([&](RegKey& root, bool* changed) -> LSTATUS {
    RegKey* parent = Find(root, path, path.size() - 1);
    RegKey* key = parent ? parent->Find(path.back()) : nullptr;
    if (!key) return ERROR_FILE_NOT_FOUND;
    if (!whole && !key->subkeys.empty()) return ERROR_ACCESS_DENIED;
    *changed = parent->Remove(path.back());
    return ERROR_SUCCESS;
  });
}
}  // namespace

VW32_API LSTATUS WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
  if (!lpSubKey) return ERROR_INVALID_PARAMETER;
  return DeleteKey(hKey, lpSubKey, false);
}

VW32_API LSTATUS WINAPI RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey) {
  if (lpSubKey && *lpSubKey) return DeleteKey(hKey, lpSubKey, true);
  // No subkey: the key stays, emptied of its values and subkeys.
  return ChangeKey(hKey, [](RegKey& key, bool* changed) -> LSTATUS {
    *changed = !key.values.empty() || !key.subkeys.empty();
    key.values.clear();
    key.subkeys.clear();
    return ERROR_SUCCESS;
  });
}

namespace vw32 {
void SetRegistryFolder(const char* folder) {
  Hive& hive = TheHive();
  std::lock_guard lock(hive.mutex);
  hive.folder = folder ? folder : "";
}
}  // namespace vw32
