// Helpers of the registry tests: a registry folder of its own for each test,
// regedit file content and value data.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <vwin32.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace regtest {

inline const wchar_t* const kLogKey = L"Software\\Teskar\\ORNSDI\\SDK\\Log";
inline const char* const kHeader = "Windows Registry Editor Version 5.00\r\n\r\n";
inline const char* const kLogSection = "[HKEY_CURRENT_USER\\Software\\Teskar\\ORNSDI\\SDK\\Log]\r\n";

// UTF-16LE of an ASCII text.
inline std::string Units(const std::string& ascii) {
  std::string out;
  for (char c : ascii) out += {c, '\0'};
  return out;
}
// A regedit file: byte-order mark, then the text in UTF-16LE.
inline std::string RegFile(const std::string& ascii) { return "\xFF\xFE" + Units(ascii); }

inline std::vector<BYTE> Text(const std::wstring& text) {
  auto* p = reinterpret_cast<const BYTE*>(text.c_str());
  return std::vector<BYTE>(p, p + (text.size() + 1) * sizeof(WCHAR));
}
inline std::vector<BYTE> Dword(DWORD n) { return {BYTE(n), BYTE(n >> 8), BYTE(n >> 16), BYTE(n >> 24)}; }

// A value's type and data, as two calls read it (size first).
inline LSTATUS QueryValue(HKEY key, const wchar_t* name, DWORD* type, std::vector<BYTE>* data) {
  DWORD size = 0;
  LSTATUS status = RegQueryValueExW(key, name, nullptr, type, nullptr, &size);
  if (status != ERROR_SUCCESS) return status;
  data->resize(size);
  status = RegQueryValueExW(key, name, nullptr, type, data->data(), &size);
  data->resize(size);
  return status;
}

// A value of the log key, its type and data, as the calls read it; kMissing
// as its type when the key or the value is not there.
using Value = std::pair<DWORD, std::vector<BYTE>>;
inline constexpr DWORD kMissing = ~DWORD(0);
inline Value ReadLogValue(const wchar_t* name) {
  HKEY key;
  Value value{kMissing, {}};
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kLogKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return value;
  if (QueryValue(key, name, &value.first, &value.second) != ERROR_SUCCESS) value.first = kMissing;
  RegCloseKey(key);
  return value;
}

// Each test has its own registry folder, <config_>/vantrel, in this process
// and (through XDG_CONFIG_HOME) in the processes it starts.
class RegistryFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vw32_registry_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    config_ = pattern;
    folder_ = config_ + "/vantrel";
    file_ = folder_ + "/HKCU.reg";
    std::filesystem::create_directories(folder_);
    vw32::SetRegistryFolder(folder_.c_str());
  }
  void TearDown() override {
    vw32::SetRegistryFolder(nullptr);
    std::filesystem::remove_all(config_);
  }
  std::string Env() const { return "XDG_CONFIG_HOME=" + config_; }

  std::string config_, folder_, file_;
};

}  // namespace regtest
