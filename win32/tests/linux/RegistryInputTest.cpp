// Registry files as a careless or hostile user may leave them: every case
// is read by a child process (as the logging library reads its key when it
// loads) and by this process. None may crash or hang; the calls
// answer the value, or the key as missing, or the file as unreadable
// (ERROR_BADDB), and an unreadable file is never overwritten.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vwin32.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "Spawn.h"

namespace {

using Clock = std::chrono::steady_clock;

const wchar_t* const kLogKey = L"Software\\Teskar\\ORNSDI\\SDK\\Log";
const char* const kHeader = "Windows Registry Editor Version 5.00\r\n\r\n";
const char* const kLogSection = "[HKEY_CURRENT_USER\\Software\\Teskar\\ORNSDI\\SDK\\Log]\r\n";
// A child process's time for one case: generous, so that only a hang
// (or a parse that grows with the square of the file) runs into it.
constexpr auto kChildDeadline = std::chrono::seconds(60);

// ---- File content -------------------------------------------------------------------

// UTF-16LE of an ASCII text (or of any text whose units are given as they are).
std::string Units(const std::string& ascii) {
  std::string out;
  out.reserve(ascii.size() * 2);
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}
std::string Unit(uint16_t unit) { return std::string{char(unit & 0xFF), char(unit >> 8)}; }
// A regedit file: byte-order mark, then the text in UTF-16LE.
std::string RegFile(const std::string& ascii) { return "\xFF\xFE" + Units(ascii); }

std::string Repeat(const std::string& piece, size_t count) {
  std::string out;
  out.reserve(piece.size() * count);
  for (size_t i = 0; i < count; ++i) out += piece;
  return out;
}

std::string Number(const char* format, unsigned n) {
  char text[64];
  std::snprintf(text, sizeof text, format, n);
  return text;
}

std::string Deep(size_t levels, const char* prefix = "[") {
  return std::string(prefix) + "HKEY_CURRENT_USER" + Repeat("\\a", levels) + "]\r\n";
}
std::wstring DeepKey(size_t levels) {
  std::wstring key = L"a";
  for (size_t i = 1; i < levels; ++i) key += L"\\a";
  return key;
}

// Keys K000000 to K<count-1> under Software\Vantrel\Flat, last one first,
// each with "n"=dword:<its number>; then the log key.
std::string FlatFile(unsigned count) {
  std::string text = kHeader;
  text.reserve(size_t(count) * 80);
  for (unsigned i = count; i-- > 0;) {
    text += Number("[HKEY_CURRENT_USER\\Software\\Vantrel\\Flat\\K%06u]\r\n", i);
    text += Number("\"n\"=dword:%08x\r\n\"Text\"=\"value text\"\r\n\r\n", i);
  }
  return RegFile(text + kLogSection + "\"LogDir\"=\"/logs/\"\r\n");
}

std::string HexLines(const std::string& prefix, size_t bytes) {
  std::string text = prefix;
  text.reserve(bytes * 3 + bytes / 8);
  for (size_t i = 0; i < bytes; ++i) {
    text += Number("%02x", unsigned(i & 0xFF));
    if (i + 1 < bytes) text += (i % 25 == 24) ? ",\\\r\n  " : ",";
  }
  return text + "\r\n";
}

// ---- What the calls answer -------------------------------------------------------------

enum class Outcome { kValue, kNoKey, kUnreadable };

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

  static std::vector<BYTE> Text(const std::wstring& text) {
    auto* p = reinterpret_cast<const BYTE*>(text.c_str());
    return std::vector<BYTE>(p, p + (text.size() + 1) * sizeof(WCHAR));
  }
  static std::vector<BYTE> Dword(DWORD n) { return {BYTE(n), BYTE(n >> 8), BYTE(n >> 16), BYTE(n >> 24)}; }
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

void Write(const std::string& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), std::streamsize(bytes.size()));
}
std::function<void(const std::string&)> Bytes(std::function<std::string()> make) {
  return [make](const std::string& file) { Write(file, make()); };
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

LSTATUS QueryValue(HKEY key, const std::wstring& name, DWORD* type, std::vector<BYTE>* data) {
  DWORD size = 0;
  LSTATUS status = RegQueryValueExW(key, name.c_str(), nullptr, type, nullptr, &size);
  if (status != ERROR_SUCCESS) return status;
  data->resize(size);
  status = RegQueryValueExW(key, name.c_str(), nullptr, type, data->data(), &size);
  data->resize(size);
  return status;
}

std::vector<Case> Cases() {
  std::vector<Case> cases;
  auto add = [&](Case c) { cases.push_back(std::move(c)); };

  // Nesting: Windows keeps at most 512 levels below a hive; a file with a
  // deeper key is unreadable as a whole.
  add({"Deep300000Levels",
       Bytes([] { return RegFile(kHeader + Deep(300000) + "\"x\"=dword:1\r\n\r\n" + kLogSection + "\"LogDir\"=\"/logs/\"\r\n"); }),
       Outcome::kUnreadable});
  add({"Deep513Levels", Bytes([] { return RegFile(kHeader + Deep(513) + "\"x\"=dword:1\r\n"); }), Outcome::kUnreadable,
       DeepKey(512)});
  add({"Deep512Levels", Bytes([] { return RegFile(kHeader + Deep(512) + "\"x\"=dword:00000001\r\n"); }), Outcome::kValue,
       DeepKey(512), L"x", REG_DWORD, Case::Dword(1)});
  add({"DeepDeletion300000Levels", Bytes([] { return RegFile(kHeader + Deep(300000, "[-")); }), Outcome::kUnreadable});

  // Many keys, many values: read in linear time.
  add({"Flat300000KeysLastFirst", Bytes([] { return FlatFile(300000); }), Outcome::kValue,
       L"Software\\Vantrel\\Flat\\K123456", L"n", REG_DWORD, Case::Dword(123456), [](HKEY) {
         HKEY flat;
         ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Vantrel\\Flat", 0, KEY_READ, &flat), ERROR_SUCCESS);
         wchar_t name[16];
         for (DWORD index : {0u, 1u, 299999u}) {
           DWORD length = 16;
           ASSERT_EQ(RegEnumKeyExW(flat, index, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
           EXPECT_EQ(std::wstring(name), L"K" + std::wstring(6 - std::to_wstring(index).size(), L'0') + std::to_wstring(index));
         }
         DWORD length = 16;
         EXPECT_EQ(RegEnumKeyExW(flat, 300000, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
         RegCloseKey(flat);
       }});
  add({"Values300000InOneKey", Bytes([] {
         std::string text = std::string(kHeader) + kLogSection;
         for (unsigned i = 0; i < 300000; ++i) text += Number("\"v%06u\"=dword:", i) + Number("%08x\r\n", i);
         return RegFile(text + "\"LogDir\"=\"/logs/\"\r\n");
       }),
       Outcome::kValue, kLogKey, L"v299998", REG_DWORD, Case::Dword(299998), [](HKEY key) {
         wchar_t name[16];
         DWORD length = 16;
         ASSERT_EQ(RegEnumValueW(key, 300000, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
         EXPECT_EQ(std::wstring(name), L"LogDir");
       }});
  add({"Values150000SetAndDeleted", Bytes([] {
         std::string text = std::string(kHeader) + kLogSection;
         for (unsigned i = 0; i < 150000; ++i) text += Number("\"v%06u\"=dword:00000001\r\n", i);
         for (unsigned i = 0; i < 150000; ++i) text += Number("\"V%06u\"=-\r\n", i);
         return RegFile(text + "\"LogDir\"=\"/logs/\"\r\n");
       }),
       Outcome::kValue, kLogKey, L"LogDir", REG_SZ, Case::Text(L"/logs/"), [](HKEY key) {
         wchar_t name[16];
         DWORD length = 16;
         EXPECT_EQ(RegEnumValueW(key, 1, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
       }});

  // Lines that are not what they claim to be are left out; the rest is read.
  add({"MalformedLines", Bytes([] {
         return RegFile(std::string(kHeader) + "[\r\n[]\r\n]\r\n[-]\r\n[\\\\\\]\r\n" + kLogSection +
                        "\"Bad1\r\n\"Bad2\"\r\n\"Bad3\"=\r\n\"Bad4\"=dword:\r\n\"Bad5\"=dword:zz\r\n"
                        "\"Bad6\"=dword:123456789\r\n\"Bad7\"=hex(zz):00\r\n\"Bad8\"=hex:0g\r\n"
                        "\"Bad9\"=hex(7:00\r\n\"Bad10\"=\"unterminated\r\n\"Bad11\"=str:\"x\"\r\n@\r\n@=\r\n=\r\n"
                        "\"LogDir\"=\"/logs/\"\r\n"
                        "[HKEY_CURRENT_USER\\Software\\Teskar\\ORNSDI\\SDK\\Log\r\n\"Bad12\"=hex:00,\\\r\n");
       }),
       Outcome::kValue, kLogKey, L"LogDir", REG_SZ, Case::Text(L"/logs/"), [](HKEY key) {
         for (int i = 1; i <= 11; ++i) {
           DWORD size = 0;
           const std::wstring name = L"Bad" + std::to_wstring(i);
           EXPECT_EQ(RegQueryValueExW(key, name.c_str(), nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND) << i;
         }
       }});
  add({"TruncatedUtf16", Bytes([] {
         std::string bytes = RegFile(std::string(kHeader) + kLogSection + "\"FileOutDetail\"=dword:00000005\r\n" +
                                     "\"LogDir\"=\"/logs/ and more\"\r\n");
         return bytes.substr(0, bytes.size() - 17);  // inside "and", at an odd byte
       }),
       Outcome::kValue, kLogKey, L"FileOutDetail", REG_DWORD, Case::Dword(5), [](HKEY key) {
         DWORD size = 0;
         EXPECT_EQ(RegQueryValueExW(key, L"LogDir", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
       }});
  add({"OddByteCount", Bytes([] { return RegFile(std::string(kHeader) + kLogSection + "\"LogDir\"=\"/logs/\"\r\n") + "\x41"; }),
       Outcome::kValue});
  add({"LoneSurrogatesAndOddUnits", Bytes([] {
         return RegFile(std::string(kHeader) + kLogSection) + Units("\"") + Unit(0xD800) + Units("x\"=\"") +
                Unit(0xDC00) + Unit(0xFFFF) + Units("\"\r\n\"T\"=hex(1):41,00,00,d8,00\r\n") +
                Units("\"LogDir\"=\"/logs/\"\r\n");
       }),
       Outcome::kValue});
  add({"EmptyValues", Bytes([] {
         return RegFile(std::string(kHeader) + kLogSection + "\"E\"=\"\"\r\n\"H\"=hex:\r\n\"X\"=hex(2):\r\n\"N\"=hex(0):\r\n"
                        "@=\"\"\r\n\"LogDir\"=\"/logs/\"\r\n");
       }),
       Outcome::kValue, kLogKey, L"H", REG_BINARY, {}, [](HKEY key) {
         DWORD type = 0;
         std::vector<BYTE> data;
         EXPECT_EQ(QueryValue(key, L"X", &type, &data), ERROR_SUCCESS);
         EXPECT_EQ(type, DWORD(REG_EXPAND_SZ));
         EXPECT_TRUE(data.empty());
         EXPECT_EQ(QueryValue(key, L"", &type, &data), ERROR_SUCCESS);
         EXPECT_EQ(data, Case::Text(L""));
       }});
  add({"InvalidUtf8", Bytes([] {
         return std::string(kHeader) + kLogSection + "\"\xFF\xC0\"=\"\xE0\x80\xF5\"\r\n\"LogDir\"=\"/logs/\"\r\n\xF0\x90";
       }),
       Outcome::kValue});
  add({"BigEndianByteOrderMark", Bytes([] {
         std::string bytes = "\xFE\xFF";
         for (const char* c = kHeader; *c; ++c) bytes += {'\0', *c};
         return bytes;
       }),
       Outcome::kUnreadable});

  // Sizes.
  add({"HugeBinaryValue4MiB", Bytes([] { return RegFile(std::string(kHeader) + kLogSection + HexLines("\"Blob\"=hex:", 4 << 20)); }),
       Outcome::kValue, kLogKey, L"Blob", REG_BINARY, [] {
         std::vector<BYTE> data(4 << 20);
         for (size_t i = 0; i < data.size(); ++i) data[i] = BYTE(i);
         return data;
       }()});
  add({"HugeTextValue4M", Bytes([] {
         return RegFile(std::string(kHeader) + kLogSection + "\"LogDir\"=\"" + std::string(4 << 20, 'd') + "\"\r\n");
       }),
       Outcome::kValue, kLogKey, L"LogDir", REG_SZ, Case::Text(std::wstring(4 << 20, L'd'))});
  add({"HugeKeyName1M", Bytes([] {
         return RegFile(std::string(kHeader) + "[HKEY_CURRENT_USER\\Software\\" + std::string(1 << 20, 'k') +
                        "]\r\n\"x\"=dword:1\r\n\r\n" + kLogSection + "\"LogDir\"=\"/logs/\"\r\n");
       }),
       Outcome::kValue});
  add({"LongLineWithoutLineEnd", Bytes([] {
         return RegFile(std::string(kHeader) + kLogSection + "\"LogDir\"=\"/logs/\"\r\n\"Tail\"=\"" + std::string(8 << 20, 't'));
       }),
       Outcome::kValue});
  add({"MillionEmptySections", Bytes([] { return RegFile(kHeader + Repeat("[]\r\n", 1000000) + kLogSection + "\"LogDir\"=\"/logs/\"\r\n"); }),
       Outcome::kValue});
  add({"LargerThan256MiB", [](const std::string& file) {
         Write(file, RegFile(std::string(kHeader) + kLogSection + "\"LogDir\"=\"/logs/\"\r\n"));
         ASSERT_EQ(truncate(file.c_str(), off_t(300) << 20), 0);  // the rest reads as zeros, stored nowhere
       },
       Outcome::kUnreadable});

  // Not a registry file at all.
  add({"BinaryGarbage", Bytes([] {
         std::string bytes(1 << 16, '\0');
         for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char((i * 2654435761u) >> 13);
         return bytes;
       }),
       Outcome::kUnreadable});
  add({"OnlyZeroBytes", Bytes([] { return std::string(1 << 20, '\0'); }), Outcome::kUnreadable});
  add({"EmptyFile", Bytes([] { return std::string(); }), Outcome::kNoKey});
  add({"FolderInsteadOfFile", [](const std::string& file) { std::filesystem::create_directories(file); },
       Outcome::kUnreadable});
  return cases;
}

// ---- The runs -----------------------------------------------------------------------------

struct ChildRun {
  int code = -1;  // exit code, 128 + signal, or -1 when killed at the deadline
  std::string out;
};

// A child process with the registry of config, and a deadline: a child
// still running then is killed.
ChildRun RunChild(const char* program, const std::vector<std::string>& args, const std::string& config) {
  Child child = Spawn(program, args, {"XDG_CONFIG_HOME=" + config});
  ChildRun run;
  const auto deadline = Clock::now() + kChildDeadline;
  std::string err;
  pollfd fds[2] = {{child.out, POLLIN, 0}, {child.err, POLLIN, 0}};
  int open = 2;
  while (open > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    if (poll(fds, 2, int(left)) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char chunk[65536];
      ssize_t n = read(fds[i].fd, chunk, sizeof chunk);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      } else {
        (i == 0 ? run.out : err).append(chunk, size_t(n));
      }
    }
  }
  bool killed = false;
  if (open > 0) {
    kill(child.pid, SIGKILL);
    killed = true;
    for (auto& f : fds) {
      if (f.fd >= 0) close(f.fd);
    }
  }
  int status = 0;
  waitpid(child.pid, &status, 0);
  run.code = killed ? -1 : WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

class RegistryInput : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vw32_reginput_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    config_ = pattern;
    std::filesystem::create_directories(config_ + "/vantrel");
    file_ = config_ + "/vantrel/HKCU.reg";
    vw32::SetRegistryFolder((config_ + "/vantrel").c_str());
  }
  void TearDown() override {
    vw32::SetRegistryFolder(nullptr);
    std::filesystem::remove_all(config_);
  }
  std::string FileBytes() const {
    std::ifstream in(file_, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  std::string config_, file_;
};

TEST_P(RegistryInput, NoCrashNoHangAndAClearAnswer) {
  const Case& c = GetParam();
  c.make(file_);
  struct stat before {};
  ASSERT_EQ(stat(file_.c_str(), &before), 0);
  const bool folder = S_ISDIR(before.st_mode);
  // The content is compared when it is of a size to read twice quickly.
  const bool small = !folder && before.st_size <= (off_t(64) << 20);
  const std::string bytes = small ? FileBytes() : std::string();
  const std::string keyName = "HKCU\\" + Narrow(c.key);

  // Another process that reads the value as the logging library does when
  // it loads: it must end, killed neither by a signal nor at the deadline.
  const auto start = Clock::now();
  ChildRun reader = RunChild(VW32_REGISTRY_READER, {Narrow(c.key), Narrow(c.value)}, config_);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  ASSERT_NE(reader.code, -1) << "the reader did not finish in " << kChildDeadline.count() << " s";
  ASSERT_LT(reader.code, 128) << "the reader died of signal " << reader.code - 128;
  std::printf("[ case     ] %s: %zu bytes, read by another process in %.3f s\n", c.name,
              size_t(before.st_size), seconds);
  switch (c.outcome) {
    case Outcome::kValue:
      EXPECT_EQ(reader.out, "user 0\nopen 0\nvalue 0 " + std::to_string(c.type) + " " + std::to_string(c.data.size()) + "\n");
      break;
    case Outcome::kNoKey:
      EXPECT_EQ(reader.out, "user 0\nopen 2\n");
      EXPECT_EQ(RunChild(VW32_REG_TOOL, {"query", keyName}, config_).out,
                "ERROR: The system was unable to find the specified registry key or value.\n");
      break;
    case Outcome::kUnreadable:
      EXPECT_EQ(reader.out, "user 0\nopen 1009\n");
      EXPECT_EQ(RunChild(VW32_REG_TOOL, {"query", keyName}, config_).out,
                "ERROR: The configuration registry database is corrupt.\n");
      break;
  }

  // This process.
  HKEY key = nullptr;
  const LSTATUS open = RegOpenKeyExW(HKEY_CURRENT_USER, c.key.c_str(), 0, KEY_READ, &key);
  switch (c.outcome) {
    case Outcome::kValue: {
      ASSERT_EQ(open, ERROR_SUCCESS);
      DWORD type = 0;
      std::vector<BYTE> data;
      EXPECT_EQ(QueryValue(key, c.value, &type, &data), ERROR_SUCCESS);
      EXPECT_EQ(type, c.type);
      EXPECT_EQ(data.size(), c.data.size());
      EXPECT_TRUE(data == c.data);
      if (c.more) c.more(key);
      RegCloseKey(key);
      // The file takes a change, and what it held is still there after it.
      HKEY created = nullptr;
      ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, c.key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &created, nullptr),
                ERROR_SUCCESS);
      const DWORD seven = 7;
      EXPECT_EQ(RegSetValueExW(created, L"Added", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&seven), 4), ERROR_SUCCESS);
      RegCloseKey(created);
      ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, c.key.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
      EXPECT_EQ(QueryValue(key, c.value, &type, &data), ERROR_SUCCESS);
      EXPECT_TRUE(data == c.data);
      EXPECT_EQ(QueryValue(key, L"Added", &type, &data), ERROR_SUCCESS);
      EXPECT_EQ(data, Case::Dword(7));
      RegCloseKey(key);
      break;
    }
    case Outcome::kNoKey:
      EXPECT_EQ(open, ERROR_FILE_NOT_FOUND);
      break;
    case Outcome::kUnreadable: {
      EXPECT_EQ(open, ERROR_BADDB);
      // Writes are refused, here and in another process, and the file stays.
      HKEY created = nullptr;
      EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kLogKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &created, nullptr),
                ERROR_BADDB);
      EXPECT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, L"Software"), ERROR_BADDB);
      ChildRun add = RunChild(VW32_REG_TOOL, {"add", "HKCU\\Software\\Teskar\\ORNSDI\\SDK\\Log", "/v", "LogDir", "/d", "/x/", "/f"}, config_);
      EXPECT_EQ(add.code, 1);
      EXPECT_EQ(add.out, "ERROR: The configuration registry database is corrupt.\n");
      struct stat after {};
      ASSERT_EQ(stat(file_.c_str(), &after), 0);
      EXPECT_EQ(after.st_ino, before.st_ino) << "the file was replaced";
      EXPECT_EQ(after.st_size, before.st_size);
      EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
      EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
      if (small) {
        EXPECT_TRUE(FileBytes() == bytes) << "the file was changed";
      }
      break;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Files, RegistryInput, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
