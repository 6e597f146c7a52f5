// Child processes: CreateProcessW, waiting on them and their exit codes.
//
// The program is started directly (posix_spawn), never through a shell: the
// command line is split into arguments by the Windows rules (SplitCommandLine)
// and a ";", "$(...)", quote or space in it is only ever part of an argument.
// The program is lpApplicationName when given (a path, not searched), else the
// first argument: a name with a "\" or "/" is a path as given, a bare name is
// looked up on $PATH (the current folder is not searched); a bare "x.exe" not
// found is looked up as "x" too. Not found is ERROR_FILE_NOT_FOUND (or
// ERROR_PATH_NOT_FOUND for a missing folder), not executable
// ERROR_ACCESS_DENIED, no program format ERROR_BAD_EXE_FORMAT.
//
// Standard handles: with STARTF_USESTDHANDLES, hStdInput, hStdOutput and
// hStdError are the child's when they are open files (CreateFileW); each one
// that is null or INVALID_HANDLE_VALUE, and all three without the flag, is
// /dev/null, so that a child never reads or writes the host's own streams.
// No other descriptor is inherited.
//
// hProcess can be waited on (WaitForSingleObject) and asked for its exit code;
// hThread exists only to be closed. Closing hProcess neither stops nor waits
// for the child. A child ended by a signal has exit code 128 + the signal.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/WinTypes.h"

struct STARTUPINFOW {
  DWORD cb;
  LPWSTR lpReserved;
  LPWSTR lpDesktop;
  LPWSTR lpTitle;
  DWORD dwX;
  DWORD dwY;
  DWORD dwXSize;
  DWORD dwYSize;
  DWORD dwXCountChars;
  DWORD dwYCountChars;
  DWORD dwFillAttribute;
  DWORD dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  LPBYTE lpReserved2;
  HANDLE hStdInput;
  HANDLE hStdOutput;
  HANDLE hStdError;
};
using LPSTARTUPINFOW = STARTUPINFOW*;

struct PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
};
using LPPROCESS_INFORMATION = PROCESS_INFORMATION*;

constexpr DWORD STARTF_USESHOWWINDOW = 0x00000001;
constexpr DWORD STARTF_USESTDHANDLES = 0x00000100;
constexpr DWORD CREATE_NEW_CONSOLE = 0x00000010;
constexpr DWORD CREATE_NO_WINDOW = 0x08000000;
constexpr DWORD CREATE_UNICODE_ENVIRONMENT = 0x00000400;
constexpr DWORD STILL_ACTIVE = 259;
constexpr DWORD ERROR_BAD_EXE_FORMAT = 193;

// lpEnvironment: null for this process's environment, else a block of
// "NAME=value" strings ending with an empty one (UTF-16 with
// CREATE_UNICODE_ENVIRONMENT, else bytes). lpCurrentDirectory: null for ours.
// Process and thread attributes and the other creation flags are ignored.
BOOL CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine, LPSECURITY_ATTRIBUTES lpProcessAttributes,
                    LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles, DWORD dwCreationFlags,
                    LPVOID lpEnvironment, LPCWSTR lpCurrentDirectory, LPSTARTUPINFOW lpStartupInfo,
                    LPPROCESS_INFORMATION lpProcessInformation);
// STILL_ACTIVE while the process runs.
BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode);
// Sends SIGKILL; the exit code is then `exitCode`, as on Windows.
BOOL TerminateProcess(HANDLE process, UINT exitCode);

namespace ZYT {

// Splits a command line as the C runtime does for argv: whitespace separates
// arguments outside quotes; "..." groups; 2n backslashes before a quote are n
// backslashes and the quote delimits, 2n+1 are n backslashes and a literal
// quote; backslashes elsewhere are literal; "" inside quotes is a literal
// quote. The first argument (the program) takes no escapes: quotes in it
// only group, and it ends at whitespace outside them.
std::vector<std::u16string> SplitCommandLine(std::u16string_view commandLine);

}  // namespace ZYT
