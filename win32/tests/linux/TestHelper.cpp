// A second process for the tests: a plain Win32 program.
//   wait <mutex> <ms> [keep|stay]        prints the wait's result (or "create
//                                        failed <error>"), releases the mutex
//                                        unless keep, and with keep or stay
//                                        keeps its handle until killed
//   churn <mutex>                        says "churning", then opens and
//                                        closes the mutex until killed
//   cmdline                              prints its command line
//   regread <subkey> <value>             reads a value as the logging library
//                                        does when it loads and prints each
//                                        call's status: "user <status>",
//                                        "open <status>", "value <status>
//                                        <type> <size> <data in hex>"
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::wstring Wide(const char* ascii) { return std::wstring(ascii, ascii + std::strlen(ascii)); }

int WaitOnce(const char* mutexName, DWORD milliseconds, const std::string& then) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, Wide(mutexName).c_str());
  if (!mutex) {
    std::printf("create failed %lu\n", static_cast<unsigned long>(GetLastError()));
    return 2;
  }
  const DWORD result = WaitForSingleObject(mutex, milliseconds);
  if ((result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) && then != "keep") ReleaseMutex(mutex);
  std::printf("%lu\n", static_cast<unsigned long>(result));
  std::fflush(stdout);
  if (!then.empty()) Sleep(INFINITE);
  CloseHandle(mutex);
  return 0;
}

int Churn(const char* mutexName) {
  for (bool first = true;; first = false) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, Wide(mutexName).c_str());
    if (!mutex) return 2;
    if (first) {
      std::puts("churning");
      std::fflush(stdout);
    }
    CloseHandle(mutex);
  }
}

int RegRead(const char* subKey, const char* valueName) {
  HKEY user = nullptr, key = nullptr;
  LSTATUS status = RegOpenCurrentUser(KEY_READ, &user);
  std::printf("user %ld\n", long(status));
  if (status != ERROR_SUCCESS) return 1;
  status = RegOpenKeyExW(user, Wide(subKey).c_str(), 0, KEY_READ, &key);
  RegCloseKey(user);
  std::printf("open %ld\n", long(status));
  if (status != ERROR_SUCCESS) return 1;
  const std::wstring name = Wide(valueName);
  DWORD type = 0, size = 0;
  status = RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size);
  std::vector<BYTE> data(size);
  if (status == ERROR_SUCCESS) status = RegQueryValueExW(key, name.c_str(), nullptr, &type, data.data(), &size);
  RegCloseKey(key);
  std::printf("value %ld %lu %lu ", long(status), static_cast<unsigned long>(type), static_cast<unsigned long>(size));
  for (DWORD i = 0; status == ERROR_SUCCESS && i < size; ++i) std::printf("%02x", data[i]);
  std::printf("\n");
  return status == ERROR_SUCCESS ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 1;
  const std::string mode = argv[1];
  if (mode == "wait" && (argc == 4 || argc == 5)) return WaitOnce(argv[2], DWORD(std::atol(argv[3])), argc == 5 ? argv[4] : "");
  if (mode == "churn" && argc == 3) return Churn(argv[2]);
  if (mode == "cmdline") {
    std::printf("%ls", GetCommandLineW());
    return 0;
  }
  if (mode == "regread" && argc == 4) return RegRead(argv[2], argv[3]);
  return 1;
}
