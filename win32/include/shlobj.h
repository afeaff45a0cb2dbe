// Shell directory creation for the Linux build.
#pragma once
#include <windows.h>

// Creates the directory and every missing parent; returns ERROR_SUCCESS,
// ERROR_ALREADY_EXISTS, ERROR_FILE_EXISTS, ERROR_BAD_PATHNAME,
// ERROR_FILENAME_EXCED_RANGE, ERROR_PATH_NOT_FOUND or another Win32 error.
VW32_API int WINAPI SHCreateDirectoryExW(HWND hwnd, LPCWSTR pszPath, const SECURITY_ATTRIBUTES* psa);
