// The reg tool and the registry calls share the .reg file of the user.
#include <iterator>

#include "RegistryFiles.h"
#include "Spawn.h"

namespace {

using namespace regtest;

const char* const kKey = "HKCU\\Software\\Teskar\\ORNSDI\\SDK\\Log";

class RegTool : public RegistryFolderTest {
 protected:
  void SetUp() override {
    RegistryFolderTest::SetUp();
    std::filesystem::remove(folder_);  // the first add makes it
  }
  int Reg(const std::vector<std::string>& args, std::string* out = nullptr) {
    Child child = Spawn(VW32_REG_TOOL, args, {Env()});
    return Finish(child, out);
  }
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

  std::ifstream file(file_, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(file), {}};
  EXPECT_EQ(bytes.rfind(RegFile("Windows Registry Editor Version 5.00\r\n"), 0), 0u);  // begins with it
  for (const char* line : {"[HKEY_CURRENT_USER\\Software\\Teskar\\ORNSDI\\SDK\\Log]\r\n",
                           "\"FileOutDetail\"=dword:00000005\r\n", "\"LogDir\"=\"/tmp/logs/\"\r\n",
                           "\"Expanded\"=hex(2):25,00,48,00"}) {
    EXPECT_NE(bytes.find(Units(line)), std::string::npos) << line;
  }
  EXPECT_EQ(ReadLogValue(L"FileOutDetail"), Value(REG_DWORD, Dword(5)));
  EXPECT_EQ(ReadLogValue(L"Mask"), Value(REG_DWORD, Dword(0x1F)));
  EXPECT_EQ(ReadLogValue(L"LogDir"), Value(REG_SZ, Text(L"/tmp/logs/")));
  EXPECT_EQ(ReadLogValue(L"Expanded"), Value(REG_EXPAND_SZ, Text(L"%HOME%\\logs")));
  EXPECT_EQ(ReadLogValue(L"Bad").first, kMissing);
}

TEST_F(RegTool, QueryAndDeleteSeeWhatTheCallsWrote) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kLogKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
  const std::vector<BYTE> dir = Text(L"C:\\Logs\\ \"x\"");
  ASSERT_EQ(RegSetValueExW(key, L"FileOutDetail", 0, REG_DWORD, Dword(5).data(), 4), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key, L"LogDir", 0, REG_SZ, dir.data(), DWORD(dir.size())), ERROR_SUCCESS);
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
  EXPECT_EQ(ReadLogValue(L"LogDir").first, kMissing);
  EXPECT_EQ(ReadLogValue(L"FileOutDetail").first, DWORD(REG_DWORD));
  ASSERT_EQ(Reg({"delete", "HKEY_CURRENT_USER\\Software\\Teskar", "/f"}), 0);
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Teskar", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegTool, HandWrittenUtf8FileIsRead) {
  std::filesystem::create_directories(folder_);
  std::ofstream(file_, std::ios::binary)
      << "Windows Registry Editor Version 5.00\n\n"
         "; written by hand\n"
         "[HKEY_CURRENT_USER\\Software\\Teskar\\ORNSDI\\SDK\\Log]\n"
         "\"IdeOutDetail\"=dword:00000002\n"
         "\"LogDir\"=\"/home/\\\"me\\\"/logs\\\\\"\n"
         "\"Expanded\"=hex(2):25,00,48,00,\\\n"
         "  4f,00,00,00\n"
         "@=\"default\"\n";
  EXPECT_EQ(ReadLogValue(L"IdeOutDetail"), Value(REG_DWORD, Dword(2)));
  EXPECT_EQ(ReadLogValue(L"logdir"), Value(REG_SZ, Text(L"/home/\"me\"/logs\\")));
  EXPECT_EQ(ReadLogValue(L"Expanded"), Value(REG_EXPAND_SZ, Text(L"%HO")));
  EXPECT_EQ(ReadLogValue(nullptr), Value(REG_SZ, Text(L"default")));
}

}  // namespace
