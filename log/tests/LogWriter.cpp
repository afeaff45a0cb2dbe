// Writes log lines through an engine of its own with a file output that takes
// every severity, in one of two ways:
//   log_writer <directory prefix> <tag> <count> [<argument shown only in the
//     banners' command line>...]: `count` lines into the log file of the
//     directory, as one of several processes that share the file;
//   log_file_sample: a fixed set of records into ORNSDI.txt in the current
//     directory, once at every detail level, so that the files written by the
//     Linux and the Windows builds can be compared byte for byte (apart from
//     times, ids and the command line).
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "Log.h"
#include "LogEngine.h"

namespace {

const LogSite kSite = {"\"Grabbing Functions\"", "ORNSDI", L".\\ORNSDI_grab", "ORNSDI_GetDMAAccess"};
const LogSite kDeepSite = {"IO Control wrapper", "ORNSDI", L"C:\\src\\sdk\\grab\\ORNSDI_ioctl", "ORNSDI_GIS::IOCtl"};

bool OpenFileLog(const wchar_t* directory, DWORD detail) {
  if (!LogRegisterEngine(LOG_HANDLE_ORNX) || LogOpen(LOG_HANDLE_ORNX, L"ORNSDI", directory, 0, detail, 0) != 0)
    return false;
  LogFindEngine(LOG_HANDLE_ORNX)->RecomputeMinThreshold();  // the file output takes every severity
  return true;
}

void WriteSampleRecords() {
  for (DWORD severity = LOG_DEBUG; severity <= 7; ++severity)
    LogReport(LOG_HANDLE_ORNX, kSite, 60 + int(severity), severity, int(severity) - 2, L"severity %u",
              unsigned(severity));
  LogReport(LOG_HANDLE_ORNX, kDeepSite, 97, LOG_ERROR, int(LogFourCC("IOFR")),
            L"DeviceIOCtl(0x%08X) returned with result=%d(0x%08X).", 0xCE3220C0u, 52, 52);
  LogReport(LOG_HANDLE_ORNX, kDeepSite, 98, LOG_WARNING, 3, L"%s|%hs|%I64X|%5d|%-4d|%c", L"wide", "narrow",
            0x123456789ABCDEF0ull, 42, -7, L'x');
  LogReport(LOG_HANDLE_ORNX, kSite, 99, LOG_NOTICE, 0, L"Gr\u00F6\u00DFe \u00B5s \u20AC \u4E2D");
  LogReport(LOG_HANDLE_ORNX, kSite, 100, LOG_TRACE, 0, L"%s", std::wstring(600, L'z').c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4) {
    const LogSite site = {"Writer", "ORNSDI", L".\\LogWriter", "main"};
    if (!OpenFileLog(std::wstring(argv[1], argv[1] + strlen(argv[1])).c_str(), 5)) return 1;
    for (int i = 0, count = atoi(argv[3]); i < count; ++i)
      LogReport(LOG_HANDLE_ORNX, site, i, LOG_NOTICE, i, L"writer %hs line %d", argv[2], i);
    LogRelease(LOG_HANDLE_ORNX);
    return 0;
  }
  if (argc != 1) return 2;
  for (DWORD detail = 1; detail <= 6; ++detail) {
    if (!OpenFileLog(nullptr, detail)) return 1;
    WriteSampleRecords();
    LogRelease(LOG_HANDLE_ORNX);
  }
  return 0;
}
