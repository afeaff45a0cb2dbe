// A second process for the registry tests: a plain Win32 program that reads
// a value as the logging library does when it loads (RegOpenCurrentUser,
// RegOpenKeyExW below it, RegQueryValueExW), and prints each call's status.
//   vw32_registry_reader <subkey> <value>
// prints "user <status>", "open <status>", then "value <status> <type> <size>".
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const std::wstring subKey(argv[1], argv[1] + std::strlen(argv[1]));
  const std::wstring name(argv[2], argv[2] + std::strlen(argv[2]));
  HKEY user = nullptr, key = nullptr;
  LSTATUS status = RegOpenCurrentUser(KEY_READ, &user);
  std::printf("user %ld\n", long(status));
  if (status != ERROR_SUCCESS) return 1;
  status = RegOpenKeyExW(user, subKey.c_str(), 0, KEY_READ, &key);
  RegCloseKey(user);
  std::printf("open %ld\n", long(status));
  if (status != ERROR_SUCCESS) return 1;
  DWORD type = 0, size = 0;
  status = RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size);
  std::vector<BYTE> data(size);
  if (status == ERROR_SUCCESS) status = RegQueryValueExW(key, name.c_str(), nullptr, &type, data.data(), &size);
  RegCloseKey(key);
  std::printf("value %ld %lu %lu\n", long(status), static_cast<unsigned long>(type), static_cast<unsigned long>(size));
  return status == ERROR_SUCCESS ? 0 : 1;
}
