#include "LogEngine.h"

#include <time.h>

#include <cwchar>
#include <new>

#include "FileOutput.h"
#include "LogRecordText.h"

namespace {

// The engine registry. Created on first use, which is the start-up object's
// construction, so it is destroyed at unload after that object has released
// its engine; an engine still registered then is closed and destroyed here.
class EngineRegistry : public THashtable<LogEngine> {
 public:
  ~EngineRegistry() override { DeleteAll(); }
};

EngineRegistry& Registry() {
  static EngineRegistry registry;
  return registry;
}

// Appends text to list, keeping at most 255 characters.
void AppendCut(wchar_t (&list)[256], size_t* used, const wchar_t* text) {
  for (; *text && *used < 255; ++text) list[(*used)++] = *text;
  list[*used] = L'\0';
}

// The shown part of a source path: from after the next-to-last backslash,
// or the whole text when it has fewer than two.
const wchar_t* ShownSourceFile(const wchar_t* path) {
  const wchar_t* last = wcsrchr(path, L'\\');
  if (!last) return path;
  for (const wchar_t* p = last; p > path;) {
    if (*--p == L'\\') return p + 1;
  }
  return path;
}

// A banner's message holds at most 511 units, so no more of the command line
// can show.
constexpr size_t kShownCommandLine = 511;

// The command line as the banners show it: CR and LF become spaces, so that an
// argument holding a line end cannot start a line of its own in the log.
void ShownCommandLine(wchar_t (&shown)[kShownCommandLine + 1]) {
  const wchar_t* line = GetCommandLineW();
  size_t i = 0;
  for (; line && line[i] && i < kShownCommandLine; ++i) {
    shown[i] = (line[i] == L'\r' || line[i] == L'\n') ? L' ' : line[i];
  }
  shown[i] = L'\0';
}

// Writes the engine's own record straight to the engine, past LogIsEnabled.
void WriteOwnRecord(LogEngine* engine, const LogSite& site, int line, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  LogRecordText own(site, line, LOG_BANNER, 0, format, args);
  va_end(args);
  engine->Write(&own.record);
}

LogOutput* CreateEventOutput(const wchar_t*, const wchar_t*) { return new (std::nothrow) EventOutput; }
LogOutput* CreateIdeOutput(const wchar_t*, const wchar_t*) { return new (std::nothrow) IDEOutput; }
LogOutput* CreateFileOutput(const wchar_t* libraryName, const wchar_t* logDirectory) {
  return FileOutput::Create(libraryName, logDirectory);
}

}  // namespace

const wchar_t* LogSeverityName(DWORD severity) {
  static const wchar_t* const names[] = {L"DEBUG", L"TRACE", L"NOTICE", L"WARNING",
                                         L"ERROR", L"MANDATORY", L"MANDATORY"};
  return severity < sizeof(names) / sizeof(names[0]) ? names[severity] : L"bad severity";
}

LogEngine* LogFindEngine(DWORD logHandle) { return Registry().Get(logHandle); }

bool LogRegisterEngine(DWORD logHandle) {
  if (Registry().Get(logHandle)) return true;
  LogEngine* engine = new (std::nothrow) LogEngine;
  if (engine && Registry().Put(logHandle, engine)) return true;
  delete engine;
  return false;
}

LogEngine::~LogEngine() { Close(); }

void LogEngine::OutputList(wchar_t (&list)[256]) const {
  size_t used = 0;
  list[0] = L'\0';
  for (int i = 0; i <= outputs.LastIndex(); ++i) {
    if (i > 0) AppendCut(list, &used, L", ");
    AppendCut(list, &used, outputs.At(i)->name);
  }
}

bool LogEngine::HasActiveOutput() const {
  for (int i = 0; i <= outputs.LastIndex(); ++i) {
    if (outputs.At(i)->detail != 0) return true;
  }
  return false;
}

void LogEngine::RecomputeMinThreshold() {
  minThreshold = 5;
  for (int i = 0; i <= outputs.LastIndex(); ++i) {
    LogOutput* output = outputs.At(i);
    if (output->detail != 0 && output->threshold < minThreshold) minThreshold = output->threshold;
  }
}

void LogEngine::SetThreshold(DWORD outputType, DWORD threshold) {
  for (int i = 0; i <= outputs.LastIndex(); ++i) {
    if (outputs.At(i)->type == outputType) outputs.At(i)->threshold = threshold;
  }
  RecomputeMinThreshold();
}

void LogEngine::AddOutput(DWORD type, DWORD detail, LogOutput* (*create)(const wchar_t*, const wchar_t*),
                          const wchar_t* libraryName, const wchar_t* logDirectory) {
  if (detail == 0) return;
  for (int i = 0; i <= outputs.LastIndex(); ++i) {
    if (outputs.At(i)->type == type) {
      outputs.At(i)->detail = detail;
      return;
    }
  }
  LogOutput* output = create(libraryName, logDirectory);
  if (!output) return;
  if (output->Open() != 0) {
    delete output;
    return;
  }
  if (!outputs.Append(output)) {
    output->Close();
    delete output;
    return;
  }
  output->detail = detail;
}

int LogEngine::Initialize(const wchar_t* libraryName, const wchar_t* logDirectory, DWORD sysDetail,
                          DWORD fileDetail, DWORD ideDetail) {
  AddOutput(LOG_OUTPUT_SYSTEM, sysDetail, &CreateEventOutput, libraryName, logDirectory);
  AddOutput(LOG_OUTPUT_FILE, fileDetail, &CreateFileOutput, libraryName, logDirectory);
  AddOutput(LOG_OUTPUT_IDE, ideDetail, &CreateIdeOutput, libraryName, logDirectory);
  if (outputs.Count() == 0) return -1;
  if (minThreshold <= 6) WriteBanner("LogEngine::Initialize", 107, L"   >>>>>>>>>>>>>>>>> Open the log channels: %s for: %s");
  return 0;
}

void LogEngine::WriteBanner(const char* functionName, int line, const wchar_t* format) {
  wchar_t list[256];
  OutputList(list);
  const LogSite site = {"LogEngine", "( )", L".\\LogEngine", functionName};
  wchar_t commandLine[kShownCommandLine + 1];
  ShownCommandLine(commandLine);
  WriteOwnRecord(this, site, line, format, list, commandLine);
}

void LogEngine::Close() {
  // With no output the banner would reach nobody.
  if (outputs.Count() > 0 && minThreshold <= 6) {
    WriteBanner("LogEngine::Close", 49, L"   <<<<<<<<<<<<<<<<< Close the log channels: %s for: %s");
  }
  for (int i = 0; i <= outputs.LastIndex(); ++i) outputs.At(i)->Close();
  outputs.DeleteAll();
  std::lock_guard<std::mutex> hold(contextLock_);
  threadContexts.DeleteAll();
}

void LogEngine::ThreadContext(DWORD threadId, int* nestLevel, ULONGLONG* contextId) {
  std::lock_guard<std::mutex> hold(contextLock_);
  UVector* stack = threadContexts.Get(threadId);
  *nestLevel = (stack && stack->LastIndex() >= 0) ? stack->LastIndex() - 1 : 0;
  if (!stack) {
    stack = new (std::nothrow) UVector;
    if (stack && !(stack->Append(DWORD(_time64(nullptr))) && threadContexts.Put(threadId, stack))) {
      delete stack;
      stack = nullptr;
    }
    if (!stack) {
      *contextId = ~ULONGLONG(0);
      return;
    }
  }
  DWORD first = stack->LastIndex() >= 0 ? stack->At(0) : 0xFFFFFFFFu;
  *contextId = (ULONGLONG(threadId) << 44) + (first & 0x3FFFFu);
}

int LogEngine::Write(const LogRecord* record) {
  // The outputs see a copy with missing texts filled in and the source path
  // shortened; the caller's record is left as it was.
  LogRecord shown = *record;
  if (!shown.timeText) shown.timeText = "undefined";
  if (!shown.moduleName) shown.moduleName = "undefined";
  if (!shown.libraryName) shown.libraryName = "undefined";
  if (!shown.functionName) shown.functionName = "undefined";
  if (!shown.message) shown.message = L"undefined";
  wchar_t source[260];
  wcsncpy(source, shown.sourceFile ? shown.sourceFile : L"undefined", 259);
  source[259] = L'\0';
  shown.sourceFile = ShownSourceFile(source);

  const wchar_t* severityName = LogSeverityName(shown.severity);
  int nestLevel = 0;
  ULONGLONG contextId = 0;
  ThreadContext(shown.threadId, &nestLevel, &contextId);
  for (int i = 0; i <= outputs.LastIndex(); ++i) {
    LogOutput* output = outputs.At(i);
    if (output && output->detail != 0 && shown.severity >= output->threshold) {
      output->WriteRecord(&shown, severityName, nestLevel, contextId);
    }
  }
  return 0;
}

bool LogIsEnabled(DWORD logHandle, DWORD severity, ULONGLONG) {
  // The instance handle plays no part: records are routed by log handle.
  const LogEngine* engine = Registry().Get(logHandle);
  return engine && engine->Takes(severity);
}

int LogWrite(DWORD logHandle, LogRecord* record) {
  LogEngine* engine = Registry().Get(logHandle);
  if (!engine || !engine->HasActiveOutput()) return -1;
  return engine->Write(record);
}

int LogRelease(DWORD logHandle) {
  LogEngine* engine = Registry().Get(logHandle);
  if (!engine) return 0;
  if (engine->openCount > 0) {
    --engine->openCount;
    return 0;
  }
  engine->Close();
  Registry().Remove(logHandle);
  delete engine;
  return 0;
}

int LogOpen(DWORD logHandle, const wchar_t* libraryName, const wchar_t* logDirectory, DWORD sysDetail,
            DWORD fileDetail, DWORD ideDetail) {
  LogEngine* engine = Registry().Get(logHandle);
  if (engine && engine->HasOutputs()) {
    ++engine->openCount;
    return 0;
  }
  if (!engine) return -1;
  if (engine->Initialize(libraryName, logDirectory, sysDetail, fileDetail, ideDetail) == 0) return 0;
  LogRelease(logHandle);
  return -1;
}
