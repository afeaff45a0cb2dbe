// Registry files as a careless or hostile user may leave them: every case
// is read by a child process (as the logging library reads its key when it
// loads) and by this process. None may crash or hang; the calls
// answer the value, or the key as missing, or the file as unreadable
// (ERROR_BADDB), and an unreadable file is never overwritten.
#include <signal.h>
#include <sys/stat.h>

#include <functional>

#include "RegistryFiles.h"
#include "Spawn.h"

namespace {

using namespace regtest;

// ---- File content -------------------------------------------------------------------

const std::string kLogDir = "\"LogDir\"=\"/logs/\"\r\n";
// The text of a file whose log key holds these lines.
std::string Log(const std::string& lines) { return std::string(kHeader) + kLogSection + lines; }
std::string Unit(uint16_t unit) { return std::string{char(unit & 0xFF), char(unit >> 8)}; }

std::string Repeat(const std::string& piece, size_t count) {
  std::string out;
  while (count--) out += piece;
  return out;
}

std::string Deep(size_t levels, const char* prefix = "[") {
  return std::string(prefix) + "HKEY_CURRENT_USER" + Repeat("\\a", levels) + "]\r\n";
}
std::wstring DeepKey(size_t levels) {
  const std::string key = "a" + Repeat("\\a", levels - 1);
  return std::wstring(key.begin(), key.end());
}

// ---- What the calls answer -------------------------------------------------------------

// The status of opening the key.
enum class Outcome : LSTATUS { kValue = ERROR_SUCCESS, kNoKey = ERROR_FILE_NOT_FOUND, kUnreadable = ERROR_BADDB };

struct Case {
  const char* name;
  std::function<void(const std::string& file)> make;  // writes the registry file
  Outcome outcome;
  std::wstring key = kLogKey;     // opened below HKEY_CURRENT_USER
  std::wstring value = L"LogDir";  // read when the outcome is a value
  DWORD type = REG_SZ;
  std::vector<BYTE> data = Text(L"/logs/");
  // More checks in this process once the key is open, or nothing.
  std::function<void(HKEY key)> more = nullptr;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

std::function<void(const std::string&)> Bytes(std::function<std::string()> make) {
  return [make](const std::string& file) { std::ofstream(file, std::ios::binary | std::ios::trunc) << make(); };
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::vector<Case> Cases() {
  return {
      // Nesting: Windows keeps at most 512 levels below a hive; a file with a
      // deeper key is unreadable as a whole.
      {"Deep513Levels", Bytes([] { return RegFile(kHeader + Deep(513) + "\"x\"=dword:1\r\n"); }), Outcome::kUnreadable,
       DeepKey(512)},
      {"Deep512Levels", Bytes([] { return RegFile(kHeader + Deep(512) + "\"x\"=dword:00000001\r\n"); }), Outcome::kValue,
       DeepKey(512), L"x", REG_DWORD, Dword(1)},
      {"DeepDeletion300000Levels", Bytes([] { return RegFile(kHeader + Deep(300000, "[-")); }), Outcome::kUnreadable},

      // Lines that are not what they claim to be are left out; the rest is read.
      {"MalformedLines", Bytes([] {
         return RegFile(std::string(kHeader) + "[\r\n[]\r\n]\r\n[-]\r\n[\\\\\\]\r\n" + kLogSection +
                        "\"Bad1\r\n\"Bad2\"\r\n\"Bad3\"=\r\n\"Bad4\"=dword:\r\n\"Bad5\"=dword:zz\r\n"
                        "\"Bad6\"=dword:123456789\r\n\"Bad7\"=hex(zz):00\r\n\"Bad8\"=hex:0g\r\n"
                        "\"Bad9\"=hex(7:00\r\n\"Bad10\"=\"unterminated\r\n\"Bad11\"=str:\"x\"\r\n@\r\n@=\r\n=\r\n" +
                        kLogDir + "[HKEY_CURRENT_USER\\Software\\Teskar\\ORNSDI\\SDK\\Log\r\n\"Bad12\"=hex:00,\\\r\n");
       }),
       Outcome::kValue, kLogKey, L"LogDir", REG_SZ, Text(L"/logs/"), [](HKEY key) {
         for (int i = 1; i <= 11; ++i) {
           DWORD size = 0;
           const std::wstring name = L"Bad" + std::to_wstring(i);
           EXPECT_EQ(RegQueryValueExW(key, name.c_str(), nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND) << i;
         }
       }},
      {"TruncatedUtf16", Bytes([] {
         std::string bytes = RegFile(Log("\"FileOutDetail\"=dword:00000005\r\n\"LogDir\"=\"/logs/ and more\"\r\n"));
         return bytes.substr(0, bytes.size() - 17);  // inside "and", at an odd byte
       }),
       Outcome::kValue, kLogKey, L"FileOutDetail", REG_DWORD, Dword(5)},
      {"LoneSurrogatesAndOddUnits", Bytes([] {
         return RegFile(Log("\"")) + Unit(0xD800) + Units("x\"=\"") + Unit(0xDC00) + Unit(0xFFFF) +
                Units("\"\r\n\"T\"=hex(1):41,00,00,d8,00\r\n" + kLogDir);
       }),
       Outcome::kValue},
      {"EmptyValues", Bytes([] {
         return RegFile(Log("\"E\"=\"\"\r\n\"H\"=hex:\r\n\"X\"=hex(2):\r\n\"N\"=hex(0):\r\n@=\"\"\r\n" + kLogDir));
       }),
       Outcome::kValue, kLogKey, L"X", REG_EXPAND_SZ, {}},
      {"InvalidUtf8", Bytes([] { return Log("\"\xFF\xC0\"=\"\xE0\x80\xF5\"\r\n" + kLogDir + "\xF0\x90"); }),
       Outcome::kValue},

      // Not a registry file at all.
      {"BinaryGarbage", Bytes([] {
         std::string bytes(1 << 16, '\0');
         for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char((i * 2654435761u) >> 13);
         return bytes;
       }),
       Outcome::kUnreadable},
      {"EmptyFile", Bytes([] { return std::string(); }), Outcome::kNoKey},
      {"FolderInsteadOfFile", [](const std::string& file) { std::filesystem::create_directories(file); },
       Outcome::kUnreadable},
  };
}

// ---- The runs -----------------------------------------------------------------------------

class RegistryInput : public RegistryFolderTest, public ::testing::WithParamInterface<Case> {};

TEST_P(RegistryInput, NoCrashNoHangAndAClearAnswer) {
  const Case& c = GetParam();
  c.make(file_);
  struct stat before {};
  ASSERT_EQ(stat(file_.c_str(), &before), 0);

  // Another process that reads a value as the logging library does when it
  // loads: it must end, killed neither by a signal nor at the deadline.
  const auto readInChild = [&](const std::wstring& value) {
    Child reader = Spawn(VW32_TEST_HELPER, {"regread", Narrow(c.key), Narrow(value)}, {Env()});
    std::string read;
    const int code = Finish(reader, &read);
    EXPECT_LT(code, 128) << "the reader died of signal " << code - 128 << " (" << SIGALRM << ": the deadline)";
    return read;
  };
  // What the reader prints for a value: its status, type, size and bytes.
  const auto valueLine = [](DWORD type, const std::vector<BYTE>& data) {
    std::string line = "value 0 " + std::to_string(type) + " " + std::to_string(data.size()) + " ";
    for (const BYTE b : data) line += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 15]};
    return line + "\n";
  };
  const std::string opened = "user 0\nopen " + std::to_string(LSTATUS(c.outcome)) + "\n";
  const std::string value = valueLine(c.type, c.data);
  EXPECT_EQ(readInChild(c.value), c.outcome == Outcome::kValue ? opened + value : opened);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, c.key.c_str(), 0, KEY_ALL_ACCESS, &key), LSTATUS(c.outcome));
  if (c.outcome == Outcome::kValue) {
    DWORD type = 0;
    std::vector<BYTE> data;
    EXPECT_EQ(QueryValue(key, c.value.c_str(), &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(type, c.type);
    EXPECT_TRUE(data == c.data) << data.size() << " bytes, not " << c.data.size();
    if (c.more) c.more(key);
    // The file takes a change, and what it held is still there after it.
    EXPECT_EQ(RegSetValueExW(key, L"Added", 0, REG_DWORD, Dword(7).data(), 4), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(readInChild(c.value), opened + value);
    EXPECT_EQ(readInChild(L"Added"), opened + valueLine(REG_DWORD, Dword(7)));
  } else if (c.outcome == Outcome::kUnreadable) {
    // Writes are refused and the file stays.
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kLogKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_BADDB);
    struct stat after {};
    ASSERT_EQ(stat(file_.c_str(), &after), 0);
    EXPECT_TRUE(after.st_ino == before.st_ino && after.st_size == before.st_size &&
                after.st_mtim.tv_sec == before.st_mtim.tv_sec && after.st_mtim.tv_nsec == before.st_mtim.tv_nsec)
        << "the file was replaced or written";
  }
}

INSTANTIATE_TEST_SUITE_P(Files, RegistryInput, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
