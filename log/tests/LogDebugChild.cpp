// Run by the Windows process tests under their debugger: the logging start-up
// with the current user's configuration, an "ERROR" and a "DEBUG" report, and
// the release at the end, which sends the closing banner.
#include <windows.h>

#include "Log.h"
#include "StaticInit.h"

int main() {
  const LogSite site = {"\"Grabbing Functions\"", "ORNSDI", L".\\ORNSDI_grab", "ORNSDI_GetDMAAccess"};
  CStaticInit startup;
  LogReport(LOG_HANDLE_ORNX, site, 54, LOG_ERROR, 1, L"hGrabber is NULL");
  LogReport(LOG_HANDLE_ORNX, site, 55, LOG_DEBUG, 3, L"debug");
  return 0;
}
