// The current user's registry, kept in a .reg file of the user's
// configuration folder. The layer keeps the tree it last read and reads the
// file again only when it changed: opening a key compares the file's
// identity (device, inode, size, modification and change times) with the
// one read, which costs a stat. Each call that changes the registry
// rewrites the file whole (temporary file, then rename) under a file lock so
// processes do not lose each other's changes.
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include <vwin32.h>

#include "Errors.h"
#include "Handles.h"
#include "Memory.h"
#include "RegFile.h"
#include "Text.h"
#include "Trace.h"

using namespace vw32::detail;

namespace {

constexpr const wchar_t* kCurrentUser = L"HKEY_CURRENT_USER";
// A larger file is not read (ERROR_BADDB): Windows refuses hives of more
// than 2 GB, and a user's registry is a few megabytes.
constexpr off_t kMaxFileSize = off_t(256) << 20;
using Path = std::vector<std::wstring>;

class KeyObj : public Object {
 public:
  explicit KeyObj(Path path) : Object(Kind::Key), path(std::move(path)) {}
  const Path path;  // from the hive's name down
};

// What tells whether the file changed since it was read.
struct FileStamp {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{}, changed{};

  bool operator==(const FileStamp& o) const {
    return exists == o.exists && device == o.device && inode == o.inode && size == o.size &&
           modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
           changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec;
  }
};

FileStamp StampOf(const struct stat& st) {
  return {true, st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

bool Before(const timespec& a, const timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

// The clock the kernel stamps files with.
timespec FileClock() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME_COARSE, &now);
  return now;
}

// Whether any change of the file after `start` must alter its stamp: true
// when both of its times are before start, since a later write stamps a time
// at or after it. A file changed in the same clock tick as the reading began
// could be changed again within that tick, same inode and size, with the
// same times: its content is compared at the next open instead. Times
// without nanoseconds come from a file system that keeps whole (or even)
// seconds: a margin of two seconds.
bool Settled(const FileStamp& stamp, const timespec& start) {
  timespec latest = Before(stamp.modified, stamp.changed) ? stamp.changed : stamp.modified;
  if (stamp.modified.tv_nsec == 0 && stamp.changed.tv_nsec == 0) latest.tv_sec += 2;
  return Before(latest, start);
}

size_t HashOf(const std::vector<uint8_t>& bytes) {
  return std::hash<std::string_view>()(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

struct Hive {
  std::mutex mutex;
  std::string folder;  // empty: the default folder
  RegKey root;         // as last read
  bool readable = true;
  // What root was read from, while root is known to be its content.
  bool cached = false;
  std::string cachedPath;
  FileStamp stamp;
  size_t hash = 0;       // of the file's bytes
  bool settled = false;  // the stamp alone tells a change (see Settled)
};
Hive& TheHive() {
  static auto* hive = new Hive;
  return *hive;
}

std::atomic<unsigned long long> fileParses{0};

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

// The hive's tree from bytes (an empty hive when they are not a registry
// file), kept as the content of the file with that stamp.
void Take(Hive& hive, const std::vector<uint8_t>& bytes, const std::string& path, const FileStamp& stamp,
          const timespec& start) {
  RegKey root;
  hive.readable = ParseRegFile(bytes.data(), bytes.size(), root);
  hive.root = hive.readable ? std::move(root) : RegKey{};
  hive.root.Add(kCurrentUser);
  hive.cached = true;
  hive.cachedPath = path;
  hive.stamp = stamp;
  hive.settled = Settled(stamp, start);
  hive.hash = hive.settled ? 0 : HashOf(bytes);  // needed only to compare the content again
}

// An empty hive, readable (no file yet) or not (a file that cannot be read);
// not kept, unless it stands for a missing file.
void Empty(Hive& hive, bool readable, const std::string& path) {
  hive.root = RegKey{};
  hive.root.Add(kCurrentUser);
  hive.readable = readable;
  hive.cached = readable;
  hive.cachedPath = path;
  hive.stamp = FileStamp{};
  hive.settled = true;  // a file that appears changes the stamp
}

// Under the hive's lock: the file's content, or an empty hive when there is
// no file yet. Read again only when the file changed since the last time.
void Load(Hive& hive) {
  const std::string path = FilePath(hive);
  const bool samePath = hive.cached && hive.cachedPath == path;
  const timespec start = FileClock();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ENOENT) return Empty(hive, false, path);
    if (!(samePath && !hive.stamp.exists)) Empty(hive, true, path);
    return;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxFileSize) {
    close(fd);
    return Empty(hive, false, path);
  }
  const FileStamp stamp = StampOf(st);
  if (samePath && hive.settled && stamp == hive.stamp) {
    close(fd);
    return;
  }
  std::vector<uint8_t> bytes;
  bytes.reserve(size_t(st.st_size));
  uint8_t chunk[65536];
  ssize_t n;
  while ((n = read(fd, chunk, sizeof chunk)) > 0 && off_t(bytes.size()) <= kMaxFileSize) {
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  const bool whole = n == 0 && fstat(fd, &st) == 0 && StampOf(st) == stamp;
  close(fd);
  if (n < 0 || off_t(bytes.size()) > kMaxFileSize) return Empty(hive, false, path);
  if (samePath && stamp == hive.stamp && !hive.settled && HashOf(bytes) == hive.hash) {
    hive.settled = Settled(stamp, start);  // the same content, read at a later time
    return;
  }
  ++fileParses;
  Take(hive, bytes, path, stamp, start);
  // Changed while it was read: read again next time.
  if (!whole) hive.cached = false;
}

DWORD MakeFolders(const std::string& folder) {
  for (size_t slash = folder.find('/', 1); slash != std::string::npos; slash = folder.find('/', slash + 1))
    mkdir(folder.substr(0, slash).c_str(), 0700);
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return Win32FromErrno(errno);
  return ERROR_SUCCESS;
}

// Writes the hive's tree, which then becomes what was read from the new
// file (texts as the file holds them).
DWORD Save(Hive& hive) {
  static std::atomic<unsigned> counter{0};
  const std::string path = FilePath(hive);
  const std::string temp = path + ".new." + std::to_string(getpid()) + "." + std::to_string(counter++);
  const timespec start = FileClock();
  const auto bytes = FormatRegFile(hive.root);
  hive.cached = false;  // until the file holds the tree
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return Win32FromErrno(errno);
  bool ok = write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size()) && fsync(fd) == 0;
  int error = errno;
  if (ok && rename(temp.c_str(), path.c_str()) == 0) {
    struct stat st {};
    const bool known = fstat(fd, &st) == 0;  // after the rename, which changes the change time
    close(fd);
    Take(hive, bytes, path, StampOf(st), start);
    hive.cached = known;
    return ERROR_SUCCESS;
  }
  error = ok ? errno : error;
  close(fd);
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
  if (result == ERROR_SUCCESS && changed) {
    result = LSTATUS(Save(hive));
  } else if (changed) {
    hive.cached = false;  // the tree may hold part of a change the file lacks
  }
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

// *keyDepth: how much of the path the handle itself stands for.
LSTATUS Resolve(HKEY key, LPCWSTR subKey, Path* path, size_t* keyDepth = nullptr) {
  if (LSTATUS error = Resolve(key, path)) return error;
  if (keyDepth) *keyDepth = path->size();
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

// An unreadable file leaves no key of the current user but the hive itself,
// which opens as a predefined key does; reading from it answers ERROR_BADDB too.
bool Unreadable(const Hive& hive, const Path& path) { return !hive.readable && Writable(path); }

// Reading calls work on the content read when the key was opened.
template <class Body>
LSTATUS ReadKey(HKEY hKey, Body body) {
  Path path;
  if (LSTATUS error = Resolve(hKey, &path)) return error;
  Hive& hive = TheHive();
  std::lock_guard lock(hive.mutex);
  if (IsPredefined(hKey)) Load(hive);  // a predefined key is opened by each use
  if (Unreadable(hive, path)) return ERROR_BADDB;
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

namespace {

// The key a handle and a subkey name, as a trace line shows it.
std::string KeyText(HKEY key, LPCWSTR subKey) {
  Path path;
  if (Resolve(key, subKey, &path) != ERROR_SUCCESS) {
    char text[40];
    std::snprintf(text, sizeof text, "(no key %p)", static_cast<void*>(key));
    return text;
  }
  std::wstring joined;
  for (auto& part : path) joined += (joined.empty() ? L"" : L"\\") + part;
  return TraceText(joined.c_str());
}

void TraceKey(const char* call, HKEY key, LPCWSTR subKey, LSTATUS result) {
  TraceLine(Channel::Reg, "%s %s: %ld", call, KeyText(key, subKey).c_str(), long(result));
}

LSTATUS OpenKey(HKEY hKey, LPCWSTR lpSubKey, PHKEY phkResult) {
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;  // on failure too, as Windows does
  Path path;
  size_t keyDepth = 0;
  if (LSTATUS error = Resolve(hKey, lpSubKey, &path, &keyDepth)) return error;
  Hive& hive = TheHive();
  std::lock_guard lock(hive.mutex);
  Load(hive);
  if (Unreadable(hive, path) && path.size() > 1) return ERROR_BADDB;
  if (!Find(hive.root, path, keyDepth)) return ERROR_KEY_DELETED;  // the handle's own key is gone
  if (!Find(hive.root, path)) return ERROR_FILE_NOT_FOUND;
  *phkResult = NewKey(path);
  return ERROR_SUCCESS;
}

}  // namespace

VW32_API LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult) {
  const LSTATUS result = OpenKey(hKey, lpSubKey, phkResult);
  if (TraceOn(Channel::Reg)) TraceKey("RegOpenKeyExW", hKey, lpSubKey, result);
  return result;
}

VW32_API LSTATUS WINAPI RegCloseKey(HKEY hKey) {
  if (IsPredefined(hKey)) return ERROR_SUCCESS;
  return RemoveHandle(reinterpret_cast<HANDLE>(hKey), false, Kind::Key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

VW32_API LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                                         LPDWORD lpcbData) {
  DWORD type = REG_NONE, size = 0;
  const LSTATUS result = ReadKey(hKey, [&](RegKey& key) -> LSTATUS {
    const RegValue* value = key.FindValue(lpValueName ? lpValueName : L"");
    if (!value) return ERROR_FILE_NOT_FOUND;
    type = value->type;
    size = DWORD(value->data.size());
    return CopyData(*value, lpType, lpData, lpcbData);
  });
  VW32_TRACE(Channel::Reg, "RegQueryValueExW %s value \"%s\": %ld (type %lu, %lu bytes%s)", KeyText(hKey, nullptr).c_str(),
             TraceText(lpValueName ? lpValueName : L"").c_str(), long(result), static_cast<unsigned long>(type),
             static_cast<unsigned long>(size), lpData ? "" : ", size asked");
  return result;
}

VW32_API LSTATUS WINAPI RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD,
                                      LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  return ReadKey(hKey, [&](RegKey& key) -> LSTATUS {
    const RegValue* value = key.ValueAt(dwIndex);
    if (!value) return ERROR_NO_MORE_ITEMS;
    if (LSTATUS error = CopyName(value->name, lpValueName, lpcchValueName)) {
      // A name that does not fit still tells the value's type and size.
      if (error == ERROR_MORE_DATA && lpType) *lpType = value->type;
      if (error == ERROR_MORE_DATA && lpcbData) *lpcbData = DWORD(value->data.size());
      return error;
    }
    return CopyData(*value, lpType, lpData, lpcbData);
  });
}

VW32_API LSTATUS WINAPI RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD, LPWSTR lpClass,
                                      LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  return ReadKey(hKey, [&](RegKey& key) -> LSTATUS {
    const RegKey* subkey = key.SubkeyAt(dwIndex);
    if (!subkey) return ERROR_NO_MORE_ITEMS;
    if (LSTATUS error = CopyName(subkey->name, lpName, lpcchName)) return error;
    if (lpClass && lpcchClass && *lpcchClass > 0) lpClass[0] = L'\0';
    if (lpcchClass) *lpcchClass = 0;
    if (lpftLastWriteTime) *lpftLastWriteTime = FILETIME{0, 0};
    return ERROR_SUCCESS;
  });
}

namespace {
LSTATUS CreateKey(HKEY hKey, LPCWSTR lpSubKey, PHKEY phkResult, LPDWORD lpdwDisposition) {
  if (!phkResult || !lpSubKey) return ERROR_INVALID_PARAMETER;
  if (lpSubKey[0] == L'\\') return ERROR_BAD_PATHNAME;
  Path path;
  size_t keyDepth = 0;
  if (LSTATUS error = Resolve(hKey, lpSubKey, &path, &keyDepth)) return error;
  if (!Writable(path)) return ERROR_ACCESS_DENIED;
  // Windows keeps at most 512 levels below a hive; the error is the layer's choice.
  if (path.size() - 1 > kMaxKeyDepth) return ERROR_INVALID_PARAMETER;
  bool created = false;
  LSTATUS result = Modify([&](RegKey& root, bool* changed) -> LSTATUS {
    // Under a deleted key nothing is made: Windows does not bring it back.
    if (!Find(root, path, keyDepth)) return ERROR_KEY_DELETED;
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
}  // namespace

VW32_API LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM,
                                        LPSECURITY_ATTRIBUTES, PHKEY phkResult, LPDWORD lpdwDisposition) {
  const LSTATUS result = CreateKey(hKey, lpSubKey, phkResult, lpdwDisposition);
  if (TraceOn(Channel::Reg)) TraceKey("RegCreateKeyExW", hKey, lpSubKey, result);
  return result;
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

namespace {
// A text whose size leaves out its terminating null is stored with one
// added, as Windows does; nothing past the caller's size is read.
std::vector<uint8_t> StoredData(DWORD type, const BYTE* data, DWORD size) {
  std::vector<uint8_t> stored(data, data + size);
  if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ) return stored;
  const size_t chars = size / sizeof(WCHAR);
  WCHAR last = 0;
  if (chars > 0) std::memcpy(&last, data + (chars - 1) * sizeof(WCHAR), sizeof last);
  if (last != 0 && size % sizeof(WCHAR) == 0) stored.resize(size + sizeof(WCHAR), 0);
  return stored;
}
}  // namespace

VW32_API LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                                       DWORD cbData) {
  // Data the caller's pointer does not reach is refused, not read.
  if ((!lpData && cbData) || !Readable(lpData, cbData)) return ERROR_NOACCESS;
  return ChangeKey(hKey, [&](RegKey& key, bool* changed) -> LSTATUS {
    key.SetValue({lpValueName ? lpValueName : L"", dwType, StoredData(dwType, lpData, cbData)});
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
    if (!whole && key->SubkeyCount() > 0) return ERROR_ACCESS_DENIED;
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
    *changed = key.ValueCount() > 0 || key.SubkeyCount() > 0;
    key.Clear();
    return ERROR_SUCCESS;
  });
}

namespace vw32 {
void SetRegistryFolder(const char* folder) {
  Hive& hive = TheHive();
  std::lock_guard lock(hive.mutex);
  hive.folder = folder ? folder : "";
  hive.cached = false;
}

unsigned long long RegistryFileParses() { return fileParses.load(); }
}  // namespace vw32
