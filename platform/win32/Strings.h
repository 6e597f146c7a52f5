// Code pages and case mapping through ICU, with the Windows signatures.
// "The system code page" (CP_ACP) is the ACP value under
// HKLM\SYSTEM\CurrentControlSet\Control\Nls\CodePage, 65001 when absent.
#pragma once

#include <string>
#include <string_view>

#include "platform/win32/WinTypes.h"

constexpr UINT CP_ACP = 0;
constexpr UINT CP_OEMCP = 1;
constexpr UINT CP_THREAD_ACP = 3;
constexpr UINT CP_UTF8 = 65001;
constexpr DWORD MB_ERR_INVALID_CHARS = 0x8;
constexpr DWORD WC_NO_BEST_FIT_CHARS = 0x400;
constexpr DWORD WC_ERR_INVALID_CHARS = 0x80;

UINT GetACP();
UINT GetOEMCP();
// cbMultiByte -1: the text is zero-terminated and the terminator is converted too.
// cchWideChar 0: returns the size needed. Failures: 0 and GetLastError.
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int cbMultiByte, LPWSTR dst,
                        int cchWideChar);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int cchWideChar, LPSTR dst,
                        int cbMultiByte, LPCSTR defaultChar, BOOL* usedDefaultChar);

// Simple per-unit case mapping, so lengths never change (as user32 does it).
LPWSTR CharUpperW(LPWSTR text);
LPWSTR CharLowerW(LPWSTR text);
DWORD CharUpperBuffW(LPWSTR text, DWORD length);
DWORD CharLowerBuffW(LPWSTR text, DWORD length);
int lstrcmpiW(LPCWSTR a, LPCWSTR b);
int lstrcmpW(LPCWSTR a, LPCWSTR b);
int lstrlenW(LPCWSTR text);

namespace ZYT {
std::u16string Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::u16string_view text);
// File names are bytes on Linux, not always UTF-8. A name's bytes that are not
// UTF-8 become U+DC80..U+DCFF, one unit per byte (the surrogate-escape
// convention), and go back to the same bytes, so every file can be named.
// Other lone surrogates, which no file name can hold, become U+FFFD.
std::u16string PosixNameToWide(std::string_view bytes);
// The length of the well-formed UTF-8 sequence at text[i] and its code point;
// 0 for a byte that starts none (overlong forms and surrogates included).
size_t WellFormedUtf8At(std::string_view text, size_t i, char32_t& cp);
void AppendUtf8(std::string& out, char32_t cp);
// Cuts text to at most n bytes without splitting a UTF-8 sequence.
void CutUtf8(std::string& text, size_t n);
std::string WideToPosixName(std::u16string_view text);
std::u16string ToUpper(std::u16string_view text);
std::u16string ToLower(std::u16string_view text);
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);
// Text in a code page to UTF-16 and back; invalid input is replaced, not refused.
std::u16string CodePageToWide(UINT codePage, std::string_view text);
std::string WideToCodePage(UINT codePage, std::u16string_view text);
// Forgets the cached system code page (after the registry changed under a test).
void ResetCodePageCache();
}  // namespace ZYT
