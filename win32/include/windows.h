// The Win32 calls this system uses, with Windows semantics, for the Linux
// build. On Windows the real <windows.h> is used instead; sources that
// include this header must compile unchanged against either.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdarg>
#include <cwchar>
#include <ctime>

#if defined(VW32_BUILDING)
#define VW32_API extern "C" __attribute__((visibility("default")))
#else
#define VW32_API extern "C"
#endif

#define WINAPI
#define __stdcall
#define __cdecl
#define __declspec(x) __declspec_##x
#define __declspec_dllexport __attribute__((visibility("default")))
#define __declspec_dllimport
#define __declspec_noinline __attribute__((noinline))
#define APIENTRY
#define CALLBACK
#define WINBASEAPI
#define _In_
#define _Out_
#define _Inout_

// ---- Basic types (LLP64 widths, as on 64-bit Windows) -----------------------
typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned char BOOLEAN;
typedef unsigned char UCHAR;
typedef unsigned short WORD;
typedef unsigned short USHORT;
typedef uint32_t DWORD;
typedef uint32_t ULONG;
typedef int32_t LONG;
typedef int32_t INT;
typedef uint32_t UINT;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef uint64_t DWORD64;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t UINT_PTR;
typedef size_t SIZE_T;
typedef char CHAR;
typedef wchar_t WCHAR;
typedef void* PVOID;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef void* HANDLE;
typedef HANDLE* PHANDLE;
typedef HANDLE* LPHANDLE;
typedef DWORD* LPDWORD;
typedef DWORD* PDWORD;
typedef BYTE* LPBYTE;
typedef LONG* PLONG;
typedef WCHAR* LPWSTR;
typedef WCHAR* PWSTR;
typedef const WCHAR* LPCWSTR;
typedef const WCHAR* PCWSTR;
typedef CHAR* LPSTR;
typedef const CHAR* LPCSTR;
typedef LONG HRESULT;
typedef LONG LSTATUS;
typedef DWORD ACCESS_MASK;
typedef ACCESS_MASK REGSAM;
typedef int errno_t;
typedef int64_t __time64_t;

struct HINSTANCE__ { int unused; };
typedef HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
struct HKEY__ { int unused; };
typedef HKEY__* HKEY;
typedef HKEY* PHKEY;
struct HWND__ { int unused; };
typedef HWND__* HWND;
typedef LONG_PTR (*FARPROC)();

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

// Anonymous members as windows.h declares them (li.LowPart, ov.Offset), so
// Windows code compiles unchanged; the named forms are kept as well.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
typedef union _LARGE_INTEGER {
  struct { DWORD LowPart; LONG HighPart; };
  struct { DWORD LowPart; LONG HighPart; } u;
  LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;

typedef struct _SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

typedef struct _OVERLAPPED {
  ULONG_PTR Internal;      // status: STATUS_PENDING while the request runs
  ULONG_PTR InternalHigh;  // bytes transferred
  union {
    struct { DWORD Offset; DWORD OffsetHigh; };
    PVOID Pointer;
  };
  HANDLE hEvent;
} OVERLAPPED, *LPOVERLAPPED;
#pragma GCC diagnostic pop

// The status word is written by the completing thread; read it atomically.
#define HasOverlappedIoCompleted(lpOverlapped) \
  (__atomic_load_n(&(lpOverlapped)->Internal, __ATOMIC_ACQUIRE) != STATUS_PENDING)

typedef struct _FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME, *PFILETIME, *LPFILETIME;

typedef struct _GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} GUID;
typedef const GUID* LPCGUID;
typedef GUID IID;

// ---- Constants --------------------------------------------------------------
#define MAX_PATH 260
#define INFINITE 0xFFFFFFFFu
#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)

#define STATUS_WAIT_0 ((DWORD)0x00000000L)
#define STATUS_ABANDONED_WAIT_0 ((DWORD)0x00000080L)
#define STATUS_PENDING ((DWORD)0x00000103L)
#define STILL_ACTIVE 259
#define WAIT_OBJECT_0 STATUS_WAIT_0
#define WAIT_ABANDONED STATUS_ABANDONED_WAIT_0
#define WAIT_ABANDONED_0 STATUS_ABANDONED_WAIT_0
#define WAIT_TIMEOUT 258L
#define WAIT_FAILED ((DWORD)0xFFFFFFFF)
#define MAXIMUM_WAIT_OBJECTS 64

#define ERROR_SUCCESS 0L
#define NO_ERROR 0L
#define ERROR_INVALID_FUNCTION 1L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_TOO_MANY_OPEN_FILES 4L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_OUTOFMEMORY 14L
#define ERROR_WRITE_PROTECT 19L
#define ERROR_NOT_READY 21L
#define ERROR_GEN_FAILURE 31L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_HANDLE_EOF 38L
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_FILE_EXISTS 80L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_DISK_FULL 112L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_INVALID_NAME 123L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_NEGATIVE_SEEK 131L
#define ERROR_DIR_NOT_EMPTY 145L
#define ERROR_BAD_PATHNAME 161L
#define ERROR_BUSY 170L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_FILENAME_EXCED_RANGE 206L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_DIRECTORY 267L
#define ERROR_NOT_OWNER 288L
#define ERROR_INVALID_ADDRESS 487L
#define ERROR_OPERATION_ABORTED 995L
#define ERROR_IO_INCOMPLETE 996L
#define ERROR_IO_PENDING 997L
#define ERROR_NOACCESS 998L
#define ERROR_CANCELLED 1223L
#define ERROR_INVALID_USER_BUFFER 1784L
#define ERROR_BADDB 1009L
#define ERROR_KEY_DELETED 1018L
#define ERROR_DEVICE_NOT_CONNECTED 1167L
#define ERROR_IO_DEVICE 1117L

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define GENERIC_EXECUTE 0x20000000u
#define GENERIC_ALL 0x10000000u
#define DELETE 0x00010000u
#define READ_CONTROL 0x00020000u
#define SYNCHRONIZE 0x00100000u
#define STANDARD_RIGHTS_REQUIRED 0x000F0000u
#define STANDARD_RIGHTS_READ READ_CONTROL
#define STANDARD_RIGHTS_WRITE READ_CONTROL
#define STANDARD_RIGHTS_EXECUTE READ_CONTROL
#define FILE_READ_DATA 0x0001u
#define FILE_WRITE_DATA 0x0002u
#define FILE_APPEND_DATA 0x0004u
#define FILE_READ_EA 0x0008u
#define FILE_WRITE_EA 0x0010u
#define FILE_EXECUTE 0x0020u
#define FILE_READ_ATTRIBUTES 0x0080u
#define FILE_WRITE_ATTRIBUTES 0x0100u
#define FILE_GENERIC_READ (STANDARD_RIGHTS_READ | FILE_READ_DATA | FILE_READ_ATTRIBUTES | FILE_READ_EA | SYNCHRONIZE)
#define FILE_GENERIC_WRITE \
  (STANDARD_RIGHTS_WRITE | FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES | FILE_WRITE_EA | FILE_APPEND_DATA | SYNCHRONIZE)
#define FILE_GENERIC_EXECUTE (STANDARD_RIGHTS_EXECUTE | FILE_READ_ATTRIBUTES | FILE_EXECUTE | SYNCHRONIZE)
#define FILE_ALL_ACCESS (STANDARD_RIGHTS_REQUIRED | SYNCHRONIZE | 0x1FFu)
#define MUTEX_ALL_ACCESS 0x001F0001u
#define MUTANT_QUERY_STATE 0x0001u
#define EVENT_ALL_ACCESS 0x001F0003u
#define EVENT_MODIFY_STATE 0x0002u
#define DUPLICATE_CLOSE_SOURCE 0x00000001u
#define DUPLICATE_SAME_ACCESS 0x00000002u

#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define FILE_SHARE_DELETE 0x00000004u
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_FLAG_OVERLAPPED 0x40000000u
#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2

#define MEM_COMMIT 0x00001000u
#define MEM_RESERVE 0x00002000u
#define MEM_DECOMMIT 0x00004000u
#define MEM_RELEASE 0x00008000u
#define PAGE_NOACCESS 0x01u
#define PAGE_READONLY 0x02u
#define PAGE_READWRITE 0x04u

#define WT_EXECUTEDEFAULT 0x00000000u
#define WT_EXECUTEINWAITTHREAD 0x00000004u  // accepted and ignored (see README)
#define WT_EXECUTEONLYONCE 0x00000008u

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

// I/O control codes.
#define CTL_CODE(DeviceType, Function, Method, Access) \
  (((DWORD)(DeviceType) << 16) | ((DWORD)(Access) << 14) | ((DWORD)(Function) << 2) | (DWORD)(Method))
#define METHOD_BUFFERED 0
#define METHOD_IN_DIRECT 1
#define METHOD_OUT_DIRECT 2
#define METHOD_NEITHER 3
#define FILE_ANY_ACCESS 0
#define FILE_READ_ACCESS 1
#define FILE_WRITE_ACCESS 2

// Registry.
#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)((LONG)0x80000000))
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)((LONG)0x80000001))
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)((LONG)0x80000002))
#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define KEY_CREATE_SUB_KEY 0x0004u
#define KEY_ENUMERATE_SUB_KEYS 0x0008u
#define KEY_NOTIFY 0x0010u
#define KEY_READ 0x20019u
#define KEY_WRITE 0x20006u
#define KEY_ALL_ACCESS 0xF003Fu
#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7
#define REG_QWORD 11
#define REG_OPTION_NON_VOLATILE 0
#define REG_OPTION_VOLATILE 1  // accepted and ignored (see README)
#define REG_CREATED_NEW_KEY 0x00000001L
#define REG_OPENED_EXISTING_KEY 0x00000002L

// Shell result codes (SHCreateDirectoryExW returns Win32 error codes).
#define S_OK ((HRESULT)0L)

// ---- Handles and synchronisation --------------------------------------------
VW32_API BOOL WINAPI CloseHandle(HANDLE hObject);
VW32_API BOOL WINAPI DuplicateHandle(HANDLE hSourceProcessHandle, HANDLE hSourceHandle,
                                     HANDLE hTargetProcessHandle, LPHANDLE lpTargetHandle,
                                     DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwOptions);
VW32_API HANDLE WINAPI GetCurrentProcess(void);
VW32_API HANDLE WINAPI GetCurrentThread(void);

VW32_API HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset,
                                    BOOL bInitialState, LPCWSTR lpName);
VW32_API HANDLE WINAPI OpenEventW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName);
VW32_API BOOL WINAPI SetEvent(HANDLE hEvent);
VW32_API BOOL WINAPI ResetEvent(HANDLE hEvent);

VW32_API HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner,
                                    LPCWSTR lpName);
VW32_API HANDLE WINAPI OpenMutexW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName);
VW32_API BOOL WINAPI ReleaseMutex(HANDLE hMutex);

VW32_API DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
// A named mutex (shared between processes) can be waited for alone, not
// together with other objects: WaitForMultipleObjects then fails with
// ERROR_NOT_SUPPORTED.
VW32_API DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                                             DWORD dwMilliseconds);

VW32_API DWORD WINAPI GetLastError(void);
VW32_API void WINAPI SetLastError(DWORD dwErrCode);

VW32_API LONG InterlockedIncrement(LONG volatile* Addend);
VW32_API LONG InterlockedDecrement(LONG volatile* Addend);
VW32_API LONG InterlockedExchange(LONG volatile* Target, LONG Value);
VW32_API LONG InterlockedCompareExchange(LONG volatile* Destination, LONG Exchange, LONG Comparand);

// ---- Threads, processes and time --------------------------------------------
VW32_API DWORD WINAPI GetCurrentThreadId(void);
VW32_API DWORD WINAPI GetCurrentProcessId(void);
VW32_API BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode);
VW32_API void WINAPI Sleep(DWORD dwMilliseconds);
VW32_API ULONGLONG WINAPI GetTickCount64(void);
VW32_API BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount);
VW32_API BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency);
VW32_API LPWSTR WINAPI GetCommandLineW(void);
VW32_API errno_t _localtime64_s(struct tm* tmDest, const __time64_t* sourceTime);
VW32_API __time64_t _time64(__time64_t* destTime);

// ---- Files and directories --------------------------------------------------
VW32_API HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                   LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                                   HANDLE hTemplateFile);
VW32_API BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped);
VW32_API BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                              LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped);
VW32_API BOOL WINAPI SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove,
                                      PLARGE_INTEGER lpNewFilePointer, DWORD dwMoveMethod);
VW32_API BOOL WINAPI FlushFileBuffers(HANDLE hFile);
VW32_API BOOL WINAPI GetFileSizeEx(HANDLE hFile, PLARGE_INTEGER lpFileSize);
VW32_API BOOL WINAPI DeleteFileW(LPCWSTR lpFileName);
VW32_API BOOL WINAPI CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes);
VW32_API BOOL WINAPI RemoveDirectoryW(LPCWSTR lpPathName);
VW32_API DWORD WINAPI SearchPathW(LPCWSTR lpPath, LPCWSTR lpFileName, LPCWSTR lpExtension,
                                  DWORD nBufferLength, LPWSTR lpBuffer, LPWSTR* lpFilePart);
VW32_API DWORD WINAPI GetCurrentDirectoryW(DWORD nBufferLength, LPWSTR lpBuffer);
VW32_API BOOL WINAPI SetCurrentDirectoryW(LPCWSTR lpPathName);
VW32_API DWORD WINAPI GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer);

// ---- Device I/O ---------------------------------------------------------------
// CancelIo cancels every pending request of the file, whichever thread issued
// it (as CancelIoEx(hFile, NULL) does). A request that fails at once on an
// overlapped handle does not signal the OVERLAPPED's event.
VW32_API BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer,
                                     DWORD nInBufferSize, LPVOID lpOutBuffer, DWORD nOutBufferSize,
                                     LPDWORD lpBytesReturned, LPOVERLAPPED lpOverlapped);
VW32_API BOOL WINAPI GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped,
                                         LPDWORD lpNumberOfBytesTransferred, BOOL bWait);
VW32_API BOOL WINAPI CancelIo(HANDLE hFile);

// ---- Thread-pool waits ------------------------------------------------------------
typedef void (CALLBACK* WAITORTIMERCALLBACK)(PVOID lpParameter, BOOLEAN TimerOrWaitFired);
VW32_API BOOL WINAPI RegisterWaitForSingleObject(PHANDLE phNewWaitObject, HANDLE hObject,
                                                 WAITORTIMERCALLBACK Callback, PVOID Context,
                                                 ULONG dwMilliseconds, ULONG dwFlags);
VW32_API BOOL WINAPI UnregisterWait(HANDLE WaitHandle);
VW32_API BOOL WINAPI UnregisterWaitEx(HANDLE WaitHandle, HANDLE CompletionEvent);

// ---- Virtual memory ---------------------------------------------------------------
VW32_API LPVOID WINAPI VirtualAlloc(LPVOID lpAddress, SIZE_T dwSize, DWORD flAllocationType,
                                    DWORD flProtect);
VW32_API BOOL WINAPI VirtualFree(LPVOID lpAddress, SIZE_T dwSize, DWORD dwFreeType);
VW32_API BOOL WINAPI VirtualProtect(LPVOID lpAddress, SIZE_T dwSize, DWORD flNewProtect,
                                    PDWORD lpflOldProtect);

// ---- Registry ---------------------------------------------------------------------
VW32_API LSTATUS WINAPI RegOpenCurrentUser(REGSAM samDesired, PHKEY phkResult);
VW32_API LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                      PHKEY phkResult);
VW32_API LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved,
                                         LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
VW32_API LSTATUS WINAPI RegCloseKey(HKEY hKey);
VW32_API LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass,
                                        DWORD dwOptions, REGSAM samDesired,
                                        LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                                        LPDWORD lpdwDisposition);
VW32_API LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType,
                                       const BYTE* lpData, DWORD cbData);
VW32_API LSTATUS WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName);
VW32_API LSTATUS WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey);
VW32_API LSTATUS WINAPI RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey);
VW32_API LSTATUS WINAPI RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName,
                                      LPDWORD lpReserved, LPWSTR lpClass, LPDWORD lpcchClass,
                                      PFILETIME lpftLastWriteTime);
VW32_API LSTATUS WINAPI RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName,
                                      LPDWORD lpcchValueName, LPDWORD lpReserved, LPDWORD lpType,
                                      LPBYTE lpData, LPDWORD lpcbData);

// ---- Debugger output and modules --------------------------------------------------
VW32_API void WINAPI OutputDebugStringW(LPCWSTR lpOutputString);
VW32_API void WINAPI OutputDebugStringA(LPCSTR lpOutputString);
VW32_API HMODULE WINAPI LoadLibraryW(LPCWSTR lpLibFileName);
VW32_API FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
VW32_API BOOL WINAPI FreeLibrary(HMODULE hLibModule);

// ---- Microsoft C runtime formatting -------------------------------------------------
// Microsoft meaning of the conversions in wide formats: %s and %ls take a wide
// text, %hs and %S a narrow one, %c a wide character, %I64d/%I64X/%I64u a
// 64-bit value, %I32 a 32-bit one. Counts are in characters. Like the CRT,
// _vsnwprintf returns -1 when the result does not fit (the buffer then holds
// as much as fits, not terminated); _snwprintf_s with _TRUNCATE cuts and
// terminates.
#ifndef _TRUNCATE
#define _TRUNCATE ((size_t)-1)
#endif
VW32_API int _vsnwprintf(wchar_t* buffer, size_t count, const wchar_t* format, va_list argptr);
VW32_API int _snwprintf(wchar_t* buffer, size_t count, const wchar_t* format, ...);
VW32_API int _vsnwprintf_s(wchar_t* buffer, size_t sizeOfBuffer, size_t count, const wchar_t* format,
                           va_list argptr);
VW32_API int _snwprintf_s(wchar_t* buffer, size_t sizeOfBuffer, size_t count, const wchar_t* format,
                          ...);
VW32_API int _vsnprintf_s(char* buffer, size_t sizeOfBuffer, size_t count, const char* format,
                          va_list argptr);
VW32_API int _snprintf_s(char* buffer, size_t sizeOfBuffer, size_t count, const char* format, ...);

// ---- Entry point of a module ---------------------------------------------------------
// A module defines DllMain; the Linux build calls it after the module's static
// initialisation (DLL_PROCESS_ATTACH) and before its static clean-up
// (DLL_PROCESS_DETACH), as the Windows loader does.
