// INI files (profiles) with the Win32 signature. Section and key names match
// case-insensitively; the file is UTF-16 with its byte-order mark, UTF-8 with
// its mark, or text in the system code page. Only a regular file is read, and
// at most the limit MaxProfileFileBytes of it: a larger file reads as absent
// (the default is returned and GetLastError says ERROR_FILE_TOO_LARGE).
#pragma once

#include "platform/win32/WinTypes.h"

// Copies the value of key in section (quotes around it removed, cut to
// size - 1 characters) or else the default without its trailing blanks, and
// returns the characters copied without the terminator.
// A null key lists the section's keys, a null section the file's section
// names: each name with its terminator, then one more terminator; when the
// list does not fit, it is cut, ends in two terminators, and size - 2 is
// returned. A null or empty buffer returns 0.
DWORD GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR defaultValue, LPWSTR buffer, DWORD size,
                               LPCWSTR fileName);
