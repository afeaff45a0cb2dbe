// The test module's record of what ran when: one line per step, appended to
// a file of this process in the temporary folder.
#pragma once
#include <windows.h>

#include <string>

std::wstring DllMainRecordPath();
void DllMainRecord(const char* step);
// Referenced by the module so that the linker takes the static library's object.
int DllMainArchiveLinked();
