// Seams for the logging library's tests only; nothing in the product calls
// them.
#pragma once

#include <windows.h>

// How long a file output waits for the writing mutex before it drops a line
// (25000 ms unless a test shortens it).
void LogSetWritingMutexWait(DWORD milliseconds);
