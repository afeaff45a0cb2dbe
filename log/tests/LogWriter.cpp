// Writes lines to the log file of a directory through its own engine, as one
// of several processes that share the file.
// Usage: log_writer <directory prefix> <tag> <count> [<argument shown only in
// the banners' command line>...]
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "Log.h"
#include "LogEngine.h"

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  std::wstring directory(argv[1], argv[1] + strlen(argv[1]));
  const LogSite site = {"Writer", "ORNSDI", L".\\LogWriter", "main"};
  if (!LogRegisterEngine(LOG_HANDLE_ORNX) ||
      LogOpen(LOG_HANDLE_ORNX, L"ORNSDI", directory.c_str(), 0, 5, 0) != 0) {
    return 1;
  }
  LogFindEngine(LOG_HANDLE_ORNX)->RecomputeMinThreshold();  // the file output takes every severity
  int count = atoi(argv[3]);
  for (int i = 0; i < count; ++i) LogReport(LOG_HANDLE_ORNX, site, i, LOG_NOTICE, i, L"writer %hs line %d", argv[2], i);
  LogRelease(LOG_HANDLE_ORNX);
  return 0;
}
