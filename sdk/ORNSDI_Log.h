// How the grabber library reports: every function has a LogSite (module,
// library, source and function name) and reports through the "ORNX" engine.
#pragma once

#include "Log.h"

// Library name of every record of the grabber library.
inline constexpr const char* ORNSDI_LIBRARY = "ORNSDI";

// Record codes written as four characters.
inline constexpr int ORNSDI_CODE_EVNT = int(LogFourCC("EVNT"));
inline constexpr int ORNSDI_CODE_OPEN = int(LogFourCC("OPEN"));
inline constexpr int ORNSDI_CODE_IOFA = int(LogFourCC("IOFA"));
inline constexpr int ORNSDI_CODE_IOFR = int(LogFourCC("IOFR"));
inline constexpr int ORNSDI_CODE_IOCT = int(LogFourCC("IOCT"));
inline constexpr int ORNSDI_CODE_DMA_GET = int(LogFourCC("DMA+"));
inline constexpr int ORNSDI_CODE_DMA_RELEASE = int(LogFourCC("DMA-"));

// One report from `site` at the current line.
#define ORNSDI_LOG(site, severity, code, ...) \
  LogReport(LOG_HANDLE_ORNX, (site), __LINE__, (severity), (code), __VA_ARGS__)

// An argument check: when `ok` is false, logs the message as an ERROR with
// code 1 and returns ORNSDI_ERR_ARGUMENT from the calling function.
#define ORNSDI_REQUIRE(site, ok, ...)                      \
  do {                                                     \
    if (!(ok)) {                                           \
      ORNSDI_LOG((site), LOG_ERROR, 1, __VA_ARGS__);       \
      return ORNSDI_ERR_ARGUMENT;                          \
    }                                                      \
  } while (0)

// The first two checks of a call on a channel: the port, then the session.
#define ORNSDI_REQUIRE_CHANNEL(site, port, hGrabber)               \
  ORNSDI_REQUIRE((site), (port) < 1, L"Invalid port %d", (port)); \
  ORNSDI_REQUIRE((site), (hGrabber), L"hGrabber is NULL")
