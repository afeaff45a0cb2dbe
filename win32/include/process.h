// C runtime thread creation for the Linux build.
#pragma once
#include <windows.h>

// Returns a waitable thread handle (signalled when the thread ends; closed
// with CloseHandle), or 0 with errno set.
VW32_API uintptr_t _beginthreadex(void* security, unsigned stack_size,
                                  unsigned (*start_address)(void*), void* arglist,
                                  unsigned initflag, unsigned* thrdaddr);
VW32_API void _endthreadex(unsigned retval);
