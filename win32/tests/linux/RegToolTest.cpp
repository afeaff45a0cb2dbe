// The reg tool and the registry calls share the .reg file of the user.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <vwin32.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Spawn.h"

namespace {

const char* const kKey = "HKCU\\Software\\Teskar\\ORNSDI\\SDK\\Log";
const wchar_t* const kSubKey = L"Software\\Teskar\\ORNSDI\\SDK\\Log";

class RegTool : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vw32_regtool_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    config_ = pattern;
    vw32::SetRegistryFolder((config_ + "/vantrel").c_str());
  }
  void TearDown() override {
    vw32::SetRegistryFolder(nullptr);
    std::filesystem::remove_all(config_);
  }
  int Reg(const std::vector<std::string>& args, std::string* out = nullptr) {
    Child child = Spawn(VW32_REG_TOOL, args, {"XDG_CONFIG_HOME=" + config_});
    return Finish(child, out);
  }
  std::string FileBytes() {
    std::ifstream in(config_ + "/vantrel/HKCU.reg", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static std::string Utf16(const std::string& ascii) {
    std::string out;
    for (char c : ascii) out += {c, '\0'};
    return out;
  }
  // Whether the calls find the value, and its type and data.
  static bool Query(const wchar_t* name, DWORD* type = nullptr, std::vector<BYTE>* data = nullptr) {
    std::vector<BYTE> ignored;
    if (!data) data = &ignored;
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kSubKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    data->resize(512);
    DWORD size = 512;
    LSTATUS status = RegQueryValueExW(key, name, nullptr, type, data->data(), &size);
    RegCloseKey(key);
    data->resize(size);
    return status == ERROR_SUCCESS;
  }
  static void ExpectValue(const wchar_t* name, DWORD type, const std::vector<BYTE>& data) {
    DWORD gotType = 0;
    std::vector<BYTE> got;
    ASSERT_TRUE(Query(name, &gotType, &got)) << (name ? name : L"@");
    EXPECT_EQ(gotType, type);
    EXPECT_EQ(got, data);
  }
  static std::vector<BYTE> Text(const std::wstring& text) {
    auto* p = reinterpret_cast<const BYTE*>(text.c_str());
    return std::vector<BYTE>(p, p + (text.size() + 1) * sizeof(WCHAR));
  }

  std::string config_;
};

TEST_F(RegTool, AddWritesRegeditFileThatTheCallsRead) {
  std::string out;
  const char* const adds[][3] = {{"FileOutDetail", "REG_DWORD", "5"},
                                 {"LogDir", "REG_SZ", "/tmp/logs/"},
                                 {"Expanded", "REG_EXPAND_SZ", "%HOME%\\logs"},
                                 {"Mask", "REG_DWORD", "0x1F"}};
  for (auto& add : adds) {
    ASSERT_EQ(Reg({"add", kKey, "/v", add[0], "/t", add[1], "/d", add[2], "/f"}, &out), 0) << add[0];
    EXPECT_EQ(out, "The operation completed successfully.\n");
  }
  EXPECT_EQ(Reg({"add", kKey, "/v", "Bad", "/t", "REG_DWORD", "/d", "five", "/f"}), 1);

  const std::string bytes = FileBytes();
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(bytes.find(Utf16("Windows Registry Editor Version 5.00\r\n")), 2u);
  for (const char* line : {"[HKEY_CURRENT_USER\\Software\\Teskar\\ORNSDI\\SDK\\Log]\r\n",
                           "\"FileOutDetail\"=dword:00000005\r\n", "\"LogDir\"=\"/tmp/logs/\"\r\n",
                           "\"Expanded\"=hex(2):25,00,48,00"}) {
    EXPECT_NE(bytes.find(Utf16(line)), std::string::npos) << line;
  }
  ExpectValue(L"FileOutDetail", REG_DWORD, {5, 0, 0, 0});
  ExpectValue(L"Mask", REG_DWORD, {0x1F, 0, 0, 0});
  ExpectValue(L"LogDir", REG_SZ, Text(L"/tmp/logs/"));
  ExpectValue(L"Expanded", REG_EXPAND_SZ, Text(L"%HOME%\\logs"));
  EXPECT_FALSE(Query(L"Bad"));
}

TEST_F(RegTool, QueryAndDeleteSeeWhatTheCallsWrote) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kSubKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
  const DWORD five = 5;
  const std::wstring dir = L"C:\\Logs\\ \"x\"";
  RegSetValueExW(key, L"FileOutDetail", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&five), 4);
  RegSetValueExW(key, L"LogDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(dir.c_str()), DWORD((dir.size() + 1) * sizeof(WCHAR)));
  RegCloseKey(key);

  std::string out;
  ASSERT_EQ(Reg({"query", kKey}, &out), 0);
  EXPECT_EQ(out,
            "\nHKEY_CURRENT_USER\\Software\\Teskar\\ORNSDI\\SDK\\Log\n"
            "    FileOutDetail    REG_DWORD    0x5\n"
            "    LogDir    REG_SZ    C:\\Logs\\ \"x\"\n\n");
  EXPECT_EQ(Reg({"query", kKey, "/v", "Missing"}, &out), 1);
  EXPECT_EQ(out, "ERROR: The system was unable to find the specified registry key or value.\n");
  EXPECT_EQ(Reg({"query", kKey, "/x"}, &out), 1);
  EXPECT_EQ(out, "ERROR: Invalid syntax.\nType \"REG QUERY /?\" for usage.\n");

  ASSERT_EQ(Reg({"delete", kKey, "/v", "LogDir", "/f"}), 0);
  EXPECT_FALSE(Query(L"LogDir"));
  EXPECT_TRUE(Query(L"FileOutDetail"));
  ASSERT_EQ(Reg({"delete", "HKEY_CURRENT_USER\\Software\\Teskar", "/f"}), 0);
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Teskar", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegTool, HandWrittenUtf8FileIsRead) {
  std::filesystem::create_directories(config_ + "/vantrel");
  std::ofstream(config_ + "/vantrel/HKCU.reg", std::ios::binary)
      << "Windows Registry Editor Version 5.00\n\n"
         "; written by hand\n"
         "[HKEY_CURRENT_USER\\Software\\Teskar\\ORNSDI\\SDK\\Log]\n"
         "\"IdeOutDetail\"=dword:00000002\n"
         "\"LogDir\"=\"/home/\\\"me\\\"/logs\\\\\"\n"
         "\"Expanded\"=hex(2):25,00,48,00,\\\n"
         "  4f,00,00,00\n"
         "@=\"default\"\n";
  ExpectValue(L"IdeOutDetail", REG_DWORD, {2, 0, 0, 0});
  ExpectValue(L"logdir", REG_SZ, Text(L"/home/\"me\"/logs\\"));
  ExpectValue(L"Expanded", REG_EXPAND_SZ, Text(L"%HO"));
  ExpectValue(nullptr, REG_SZ, Text(L"default"));
}

}  // namespace
