#include "StaticInit.h"

#include <stdio.h>

#include "Log.h"
#include "LogEngine.h"

namespace {

const wchar_t kConfigKey[] = L"Software\\Teskar\\ORNSDI\\SDK\\Log";

enum OutputKind { kSystem, kFile, kIde, kKinds };

// The logging configuration, with its defaults: no output; thresholds 7, 7
// and 0 before limiting; no log directory.
struct LogConfig {
  DWORD detail[kKinds] = {0, 0, 0};
  DWORD threshold[kKinds] = {7, 7, 0};
  wchar_t directory[260] = {};
  bool hasDirectory = false;
};

void DebugText(const wchar_t* format, ...) {
  wchar_t text[256];
  va_list args;
  va_start(args, format);
  _vsnwprintf_s(text, 256, _TRUNCATE, format, args);
  va_end(args);
  OutputDebugStringW(text);
}

// The configuration key of the current user, or nullptr (the failure is told
// to the debugger).
HKEY OpenConfigKey() {
  DebugText(L"Open registry key\n");
  HKEY hive = nullptr;
  LSTATUS status = RegOpenCurrentUser(KEY_READ, &hive);
  if (status != ERROR_SUCCESS) {
    DebugText(L"RegOpenCurrentUser failed (%d)\n", status);
    return nullptr;
  }
  HKEY key = nullptr;
  status = RegOpenKeyExW(hive, kConfigKey, 0, KEY_READ, &key);
  if (status != ERROR_SUCCESS) {
    DebugText(L"RegOpenKeyEx(\"\\Software\\Teskar\\ORNSDI\\SDK\\Log\") failed (%d)\n", status);
    key = nullptr;
  }
  RegCloseKey(hive);
  return key;
}

// Replaces *value only with a 4-byte REG_DWORD; anything else keeps it.
void ReadNumber(HKEY key, const wchar_t* name, DWORD* value) {
  DWORD type = REG_NONE;
  DWORD data = 0;
  DWORD size = sizeof(data);
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) == ERROR_SUCCESS &&
      type == REG_DWORD && size == sizeof(data)) {
    *value = data;
  }
}

// "LogDir" counts only as a plain REG_SZ of at most 259 characters; an
// expandable string is ignored.
void ReadDirectory(HKEY key, LogConfig* config) {
  DWORD type = REG_NONE;
  DWORD size = sizeof(config->directory);
  LSTATUS status =
      RegQueryValueExW(key, L"LogDir", nullptr, &type, reinterpret_cast<BYTE*>(config->directory), &size);
  if (status != ERROR_SUCCESS || type != REG_SZ) {
    config->directory[0] = L'\0';
    return;
  }
  size_t length = size / sizeof(wchar_t);
  config->directory[length < 259 ? length : 259] = L'\0';
  config->hasDirectory = true;
}

void ReadConfig(LogConfig* config) {
  HKEY key = OpenConfigKey();
  if (!key) return;
  ReadNumber(key, L"SysOutDetail", &config->detail[kSystem]);
  ReadNumber(key, L"FileOutDetail", &config->detail[kFile]);
  ReadNumber(key, L"IdeOutDetail", &config->detail[kIde]);
  ReadNumber(key, L"SysSeverityThrsh", &config->threshold[kSystem]);
  ReadNumber(key, L"FileSeverityThrsh", &config->threshold[kFile]);
  ReadNumber(key, L"IdeSeverityThrsh", &config->threshold[kIde]);
  ReadDirectory(key, config);
  RegCloseKey(key);
}

// One pass per configured kind of output, in the order system stub, file,
// debugger: that kind's outputs take the limited threshold, and the engine's
// minThreshold follows.
void SetThresholds(const LogConfig& config) {
  static const DWORD kTypes[kKinds] = {LOG_OUTPUT_SYSTEM, LOG_OUTPUT_FILE, LOG_OUTPUT_IDE};
  for (int kind = 0; kind < kKinds; ++kind) {
    if (config.detail[kind] == 0) continue;
    LogEngine* engine = LogFindEngine(LOG_HANDLE_ORNX);
    if (!engine) return;
    engine->SetThreshold(kTypes[kind], LogLimitThreshold(config.threshold[kind]));
  }
}

}  // namespace

DWORD LogLimitThreshold(DWORD configured) { return LONG(configured) < 5 ? configured : 4; }

CStaticInit::CStaticInit() : engineOpened(false) {
  LogConfig config;
  ReadConfig(&config);
  int result = -1;
  if (LogRegisterEngine(LOG_HANDLE_ORNX)) {
    result = LogOpen(LOG_HANDLE_ORNX, L"ORNSDI", config.hasDirectory ? config.directory : nullptr,
                     config.detail[kSystem], config.detail[kFile], config.detail[kIde]);
    engineOpened = true;
  }
  // Without an open engine no output exists and nothing is logged.
  if (result == 0) SetThresholds(config);
}

CStaticInit::~CStaticInit() {
  if (engineOpened) LogRelease(LOG_HANDLE_ORNX);
}
