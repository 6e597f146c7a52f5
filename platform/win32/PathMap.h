// Windows paths as the module uses them, mapped to POSIX paths at the last
// moment:
//  - "\" and "/" are both separators;
//  - a path starting with "/" is a POSIX path;
//  - "\\?\" is dropped;
//  - "X:\..." maps through the drive table, values "X:" under
//    HKLM\SOFTWARE\ZYT\Platform\Drives; Z: is "/" unless configured;
//  - "\\server\share\..." and "\\?\UNC\server\share\..." map through the share
//    table, values "server\share" under HKLM\SOFTWARE\ZYT\Platform\Shares;
//  - anything else is relative to the current directory;
//  - name bytes that are not UTF-8 are U+DC80..U+DCFF in the Windows path
//    (PosixNameToWide in Strings.h), so every file has a Windows path.
// POSIX names containing "\" cannot be reached; that is the price of
// accepting both separators.
#pragma once

#include <string>

#include "platform/win32/WinTypes.h"

namespace ZYT {

// False with the Win32 error (ERROR_PATH_NOT_FOUND for an unknown drive,
// ERROR_BAD_NETPATH for an unknown share, ERROR_INVALID_NAME for an empty path).
bool MapToPosixPath(std::u16string_view windowsPath, std::string& posixPath, DWORD& error);
// Throws nothing; empty result and SetLastError on failure.
std::string ToPosixPath(LPCWSTR windowsPath);
// A POSIX path the module can hand back to Windows-path code unchanged;
// MapToPosixPath gives the same bytes back.
std::u16string FromPosixPath(const std::string& posixPath);

}  // namespace ZYT
