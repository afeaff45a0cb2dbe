// The test module's record file, shared by the module and the test.
#include "DllMainRecord.h"

#include <cstring>

std::wstring DllMainRecordPath() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  return std::wstring(temp) + L"vw32_dllmain_" + std::to_wstring(GetCurrentProcessId()) + L".txt";
}

void DllMainRecord(const char* step) {
  HANDLE file = CreateFileW(DllMainRecordPath().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  LARGE_INTEGER zero{};
  SetFilePointerEx(file, zero, nullptr, FILE_END);
  DWORD written;
  WriteFile(file, step, DWORD(std::strlen(step)), &written, nullptr);
  WriteFile(file, "\n", 1, &written, nullptr);
  CloseHandle(file);
}
