// Part of the test module that comes from a static library: its static
// object is constructed with the module's other statics.
#include "DllMainRecord.h"

namespace {
struct ArchiveStatic {
  ArchiveStatic() { DllMainRecord("archive static constructed"); }
  ~ArchiveStatic() { DllMainRecord("archive static destroyed"); }
} archiveStatic;
}  // namespace

int DllMainArchiveLinked() { return 1; }
