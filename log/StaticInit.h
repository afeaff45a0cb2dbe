// The logging start-up object: reads the logging configuration from the
// current user's registry, registers and opens the engine "ORNX" with its
// outputs and sets their thresholds; releases the engine when destroyed.
// The module's one instance lives in the start-up object library.
#pragma once

#include <windows.h>

class CStaticInit {
 public:
  CStaticInit();
  virtual ~CStaticInit();
  CStaticInit(const CStaticInit&) = delete;
  CStaticInit& operator=(const CStaticInit&) = delete;

  bool engineOpened;
};

// A configured threshold below 5 (as a signed number) is kept; 5 and above
// become 4. A negative one is kept and, compared unsigned, lets nothing by.
DWORD LogLimitThreshold(DWORD configured);
