// Files and directories of the file system.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include <shlobj.h>
#include <windows.h>

#include "Errors.h"
#include "Handles.h"
#include "IoManager.h"
#include "Memory.h"
#include "Text.h"

using namespace vw32::detail;

namespace {

class FileObj : public Object {
 public:
  FileObj(int fd, bool readable, bool overlapped)
      : Object(Kind::File), fd_(fd), readable_(readable), overlapped_(overlapped) {}
  ~FileObj() override { close(fd_); }
  int fd() const { return fd_; }
  // A handle without read rights has a descriptor open for reading all the
  // same (Linux has no descriptor without either), so reads are refused here.
  bool readable() const { return readable_; }
  // A synchronous handle keeps a file pointer that positioned requests move
  // too: Windows leaves it after the last byte they transferred.
  void MovePointerAfter(const OVERLAPPED* overlapped, off_t start, size_t done) const {
    if (overlapped && !overlapped_) lseek(fd_, start + off_t(done), SEEK_SET);
  }

 private:
  const int fd_;
  const bool readable_;
  const bool overlapped_;
};

bool IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Parent(const std::string& path) {
  size_t end = path.find_last_not_of('/');
  if (end == std::string::npos) return "/";
  size_t slash = path.rfind('/', end);
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Windows tells a missing file from a missing folder on its way.
DWORD PathError(const std::string& path, int error) {
  if (error == ENOENT) return IsDirectory(Parent(path)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
  return Win32FromErrno(error);
}

// A symlink that another user planted in a world-writable sticky folder such
// as /tmp is not followed: it could point at a private file of the caller,
// which a log would then overwrite and append to. This is the kernel's
// protected-symlinks rule (links of the caller or of the folder's owner are
// followed), checked here too because a machine may have it turned off.
bool MayFollow(const std::string& link) {
  struct stat own, folder;
  if (lstat(link.c_str(), &own) != 0 || !S_ISLNK(own.st_mode)) return true;
  if (stat(Parent(link).c_str(), &folder) != 0) return true;
  const bool shared = (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
  return !shared || own.st_uid == geteuid() || own.st_uid == folder.st_uid;
}

// open() that follows a symlink in the last part of the path only as above.
// A link that may be followed belongs to the caller or the folder's owner, so
// nobody else can swap it between the check and the second open.
int OpenPath(const std::string& path, int flags, mode_t mode = 0) {
  int fd = open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd >= 0 || errno != ELOOP) return fd;
  if (!MayFollow(path)) {
    errno = EACCES;
    return -1;
  }
  return open(path.c_str(), flags | O_CLOEXEC, mode);
}

// Opens by disposition; *existed tells whether the file was there before.
int OpenByDisposition(const std::string& path, int flags, DWORD disposition, bool* existed) {
  const bool truncate = disposition == CREATE_ALWAYS;
  for (int round = 0;; ++round) {
    int fd = OpenPath(path, flags | (truncate ? O_TRUNC : 0));
    if (fd >= 0 || errno != ENOENT) {
      *existed = fd >= 0;
      return fd;
    }
    // O_EXCL tells a file made here from one another process made between
    // the two opens (then opened as existing). A dangling symlink fails it
    // every time, so the second round creates through the link.
    fd = OpenPath(path, flags | O_CREAT | (round == 0 ? O_EXCL : 0), 0666);
    if (fd >= 0 || errno != EEXIST) {
      *existed = false;
      return fd;
    }
  }
}

std::shared_ptr<FileObj> File(HANDLE handle) { return LookupAs<FileObj>(handle); }

// A file or device request on a handle that is not a file.
BOOL NotAFile(HANDLE handle) {
  ObjectPtr obj = LookupHandle(handle);
  return Fail(obj && obj->kind() == Kind::Device ? ERROR_INVALID_FUNCTION : ERROR_INVALID_HANDLE);
}

// The specific rights each generic right stands for on a file.
DWORD FileRights(DWORD access) {
  if (access & (GENERIC_READ | GENERIC_ALL)) access |= FILE_GENERIC_READ;
  if (access & (GENERIC_WRITE | GENERIC_ALL)) access |= FILE_GENERIC_WRITE;
  if (access & (GENERIC_EXECUTE | GENERIC_ALL)) access |= FILE_GENERIC_EXECUTE;
  if (access & GENERIC_ALL) access |= FILE_ALL_ACCESS;
  return access;
}

// open() flags for the rights. Append without write-data rights may only add
// at the end, whatever offset a request names.
int OpenFlags(DWORD rights) {
  const bool read = rights & FILE_READ_DATA;
  const bool write = rights & (FILE_WRITE_DATA | FILE_APPEND_DATA);
  const int append = (rights & FILE_APPEND_DATA) && !(rights & FILE_WRITE_DATA) ? O_APPEND : 0;
  return (write ? (read ? O_RDWR : O_WRONLY) : O_RDONLY) | append;
}

DWORD IoError(int error) { return error == EBADF ? DWORD(ERROR_ACCESS_DENIED) : Win32FromErrno(error); }

off_t OverlappedOffset(const OVERLAPPED* overlapped) {
  return off_t((uint64_t(overlapped->OffsetHigh) << 32) | overlapped->Offset);
}

// Lexical full path as GetFullPathNameW makes it: "." and ".." resolved,
// doubled separators merged, a trailing separator kept.
std::string FullPath(const std::string& path) {
  std::string absolute = path;
  if (absolute.empty() || absolute[0] != '/') {
    char cwd[PATH_MAX];
    absolute = std::string(getcwd(cwd, sizeof cwd) ? cwd : "/") + "/" + path;
  }
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= absolute.size()) {
    size_t end = absolute.find('/', start);
    if (end == std::string::npos) end = absolute.size();
    std::string part = absolute.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string out;
  for (auto& part : parts) out += "/" + part;
  if (out.empty() || absolute.back() == '/') out += "/";
  return out;
}

std::string ExecutableFolder() {
  char exe[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return ".";
  exe[n] = '\0';
  return Parent(exe);
}

// Where SearchPathW looks for a bare name: the program's folder, the current
// folder, then PATH.
std::vector<std::string> SearchFolders(const wchar_t* searchPath) {
  std::vector<std::string> folders;
  std::string list;
  if (searchPath) {
    list = OsPath(searchPath);
  } else {
    folders = {ExecutableFolder(), "."};
    const char* path = std::getenv("PATH");
    list = path ? path : "";
  }
  size_t start = 0;
  while (start < list.size()) {
    size_t end = list.find_first_of(";:", start);
    if (end == std::string::npos) end = list.size();
    if (end > start) folders.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return folders;
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

}  // namespace

VW32_API HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD, LPSECURITY_ATTRIBUTES,
                                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE) {
  if (!lpFileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  bool device = false;
  HANDLE handle = OpenDevice(lpFileName, dwCreationDisposition, (dwFlagsAndAttributes & FILE_FLAG_OVERLAPPED) != 0,
                             &device);
  if (device) return handle;

  const std::string path = OsPath(lpFileName);
  const DWORD rights = FileRights(dwDesiredAccess);
  const bool write = rights & (FILE_WRITE_DATA | FILE_APPEND_DATA);
  const int flags = OpenFlags(rights);
  if (path.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  bool existed = false;
  int fd = -1;
  switch (dwCreationDisposition) {
    case CREATE_NEW:
      fd = OpenPath(path, flags | O_CREAT | O_EXCL, 0666);
      if (fd < 0 && errno == EEXIST) {
        SetLastError(ERROR_FILE_EXISTS);
        return INVALID_HANDLE_VALUE;
      }
      break;
    case CREATE_ALWAYS:
    case OPEN_ALWAYS:
      fd = OpenByDisposition(path, flags, dwCreationDisposition, &existed);
      break;
    case OPEN_EXISTING:
      fd = OpenPath(path, flags);
      break;
    case TRUNCATE_EXISTING:
      if (!write) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
      }
      fd = OpenPath(path, flags | O_TRUNC);
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
  }
  if (fd < 0) {
    SetLastError(PathError(path, errno));
    return INVALID_HANDLE_VALUE;
  }
  // A folder opens only for backup semantics, which this layer does not offer.
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  handle = InsertHandle(std::make_shared<FileObj>(fd, rights & FILE_READ_DATA, (dwFlagsAndAttributes & FILE_FLAG_OVERLAPPED) != 0));
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

VW32_API BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
  auto file = File(hFile);
  if (!file) return NotAFile(hFile);
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
  // Windows refuses a buffer it cannot read whole before writing any of it.
  if (!Readable(lpBuffer, nNumberOfBytesToWrite)) return Fail(ERROR_INVALID_USER_BUFFER);
  const char* data = static_cast<const char*>(lpBuffer);
  size_t done = 0;
  // Offset all ones in an OVERLAPPED appends, as on Windows.
  const bool positioned = lpOverlapped && !(lpOverlapped->Offset == 0xFFFFFFFF &&
                                            lpOverlapped->OffsetHigh == 0xFFFFFFFF);
  if (lpOverlapped && !positioned) lseek(file->fd(), 0, SEEK_END);
  const off_t start = positioned ? OverlappedOffset(lpOverlapped) : 0;
  while (done < nNumberOfBytesToWrite) {
    ssize_t n = positioned ? pwrite(file->fd(), data + done, nNumberOfBytesToWrite - done, start + off_t(done))
                           : write(file->fd(), data + done, nNumberOfBytesToWrite - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      DWORD error = IoError(n < 0 ? errno : ENOSPC);
      if (lpOverlapped) CompleteAtOnce(lpOverlapped, error, DWORD(done));
      return Fail(error);
    }
    done += size_t(n);
  }
  if (positioned) file->MovePointerAfter(lpOverlapped, start, done);
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = DWORD(done);
  if (lpOverlapped) CompleteAtOnce(lpOverlapped, ERROR_SUCCESS, DWORD(done));
  return TRUE;
}

VW32_API BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                              LPOVERLAPPED lpOverlapped) {
  auto file = File(hFile);
  if (!file) return NotAFile(hFile);
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
  if (!file->readable()) return Fail(ERROR_ACCESS_DENIED);
  char* data = static_cast<char*>(lpBuffer);
  size_t done = 0;
  const off_t start = lpOverlapped ? OverlappedOffset(lpOverlapped) : 0;
  while (done < nNumberOfBytesToRead) {
    ssize_t n = lpOverlapped ? pread(file->fd(), data + done, nNumberOfBytesToRead - done, start + off_t(done))
                             : read(file->fd(), data + done, nNumberOfBytesToRead - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(IoError(errno));
    if (n == 0) break;
    done += size_t(n);
  }
  file->MovePointerAfter(lpOverlapped, start, done);
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = DWORD(done);
  if (lpOverlapped) {
    // Reading at the end of the file through an OVERLAPPED is an error.
    DWORD error = (done == 0 && nNumberOfBytesToRead > 0) ? DWORD(ERROR_HANDLE_EOF) : DWORD(ERROR_SUCCESS);
    CompleteAtOnce(lpOverlapped, error, DWORD(done));
    if (error) return Fail(error);
  }
  return TRUE;
}

VW32_API BOOL WINAPI SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove, PLARGE_INTEGER lpNewFilePointer,
                                      DWORD dwMoveMethod) {
  auto file = File(hFile);
  if (!file) return NotAFile(hFile);
  static const int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
  if (dwMoveMethod > FILE_END) return Fail(ERROR_INVALID_PARAMETER);
  off_t position = lseek(file->fd(), off_t(liDistanceToMove.QuadPart), kWhence[dwMoveMethod]);
  if (position < 0) return Fail(errno == EINVAL ? DWORD(ERROR_NEGATIVE_SEEK) : Win32FromErrno(errno));
  if (lpNewFilePointer) lpNewFilePointer->QuadPart = position;
  return TRUE;
}

VW32_API BOOL WINAPI FlushFileBuffers(HANDLE hFile) {
  auto file = File(hFile);
  if (!file) return NotAFile(hFile);
  if (fsync(file->fd()) != 0 && errno != EINVAL) return FailErrno(errno);
  return TRUE;
}

VW32_API BOOL WINAPI GetFileSizeEx(HANDLE hFile, PLARGE_INTEGER lpFileSize) {
  auto file = File(hFile);
  if (!file) return NotAFile(hFile);
  struct stat st;
  if (fstat(file->fd(), &st) != 0) return FailErrno(errno);
  if (!lpFileSize) return Fail(ERROR_NOACCESS);
  lpFileSize->QuadPart = st.st_size;
  return TRUE;
}

VW32_API BOOL WINAPI DeleteFileW(LPCWSTR lpFileName) {
  if (!lpFileName || !*lpFileName) return Fail(ERROR_PATH_NOT_FOUND);
  const std::string path = OsPath(lpFileName);
  if (IsDirectory(path)) return Fail(ERROR_ACCESS_DENIED);
  if (unlink(path.c_str()) != 0) return Fail(PathError(path, errno));
  return TRUE;
}

VW32_API BOOL WINAPI CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES) {
  const std::string path = OsPath(lpPathName);
  if (mkdir(path.c_str(), 0777) != 0) return Fail(errno == ENOENT ? DWORD(ERROR_PATH_NOT_FOUND) : Win32FromErrno(errno));
  return TRUE;
}

VW32_API BOOL WINAPI RemoveDirectoryW(LPCWSTR lpPathName) {
  const std::string path = OsPath(lpPathName);
  if (rmdir(path.c_str()) != 0) {
    return Fail(errno == ENOTDIR ? DWORD(ERROR_DIRECTORY) : PathError(path, errno));
  }
  return TRUE;
}

VW32_API int WINAPI SHCreateDirectoryExW(HWND, LPCWSTR pszPath, const SECURITY_ATTRIBUTES*) {
  const std::string path = OsPath(pszPath);
  DWORD result = ERROR_SUCCESS;
  if (path.empty() || path[0] != '/') {
    result = ERROR_BAD_PATHNAME;
  } else if (mkdir(path.c_str(), 0777) != 0) {
    const int error = errno;
    result = error == ENOENT ? DWORD(ERROR_PATH_NOT_FOUND) : Win32FromErrno(error);
    if (error == ENOENT) {
      // Make each missing parent, then the folder itself.
      for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        mkdir(path.substr(0, slash).c_str(), 0777);
      }
      if (mkdir(path.c_str(), 0777) == 0) {
        result = ERROR_SUCCESS;
      } else {
        result = errno == ENOENT ? DWORD(ERROR_PATH_NOT_FOUND) : Win32FromErrno(errno);
      }
    }
  }
  SetLastError(result);
  return int(result);
}

VW32_API DWORD WINAPI SearchPathW(LPCWSTR lpPath, LPCWSTR lpFileName, LPCWSTR lpExtension, DWORD nBufferLength,
                                  LPWSTR lpBuffer, LPWSTR* lpFilePart) {
  if (!lpFileName || !*lpFileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string name = OsPath(lpFileName);
  // The extension is added only to a name that has none.
  const std::string last = name.substr(name.rfind('/') == std::string::npos ? 0 : name.rfind('/') + 1);
  if (lpExtension && *lpExtension && last.find('.') == std::string::npos) name += OsPath(lpExtension);

  std::vector<std::string> candidates;
  if (name.find('/') != std::string::npos) {
    candidates.push_back(name);
  } else {
    for (auto& folder : SearchFolders(lpPath)) candidates.push_back(folder + "/" + name);
  }
  for (auto& candidate : candidates) {
    if (!Exists(candidate)) continue;
    const std::wstring full = WidePath(FullPath(candidate));
    DWORD result = CopyOut(full, lpBuffer, nBufferLength);
    if (result == full.size() && lpFilePart) {
      // No file part for a path that ends in a separator.
      *lpFilePart = full.back() == L'/' ? nullptr : lpBuffer + full.rfind(L'/') + 1;
    }
    return result;
  }
  SetLastError(ERROR_FILE_NOT_FOUND);
  return 0;
}

VW32_API DWORD WINAPI GetCurrentDirectoryW(DWORD nBufferLength, LPWSTR lpBuffer) {
  char cwd[PATH_MAX];
  if (!getcwd(cwd, sizeof cwd)) {
    SetLastError(Win32FromErrno(errno));
    return 0;
  }
  return CopyOut(WidePath(cwd), lpBuffer, nBufferLength);
}

VW32_API BOOL WINAPI SetCurrentDirectoryW(LPCWSTR lpPathName) {
  const std::string path = OsPath(lpPathName);
  if (chdir(path.c_str()) != 0) return Fail(errno == ENOTDIR ? DWORD(ERROR_DIRECTORY) : PathError(path, errno));
  return TRUE;
}

VW32_API DWORD WINAPI GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer) {
  const char* tmp = std::getenv("TMPDIR");
  std::string folder = tmp && *tmp ? tmp : "/tmp";
  if (folder.back() != '/') folder += '/';
  return CopyOut(WidePath(folder), lpBuffer, nBufferLength);
}
