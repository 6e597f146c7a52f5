// GUIDs: the Windows layout, compile-time literals and the registry text form.
#pragma once

#include <cstring>
#include <stdexcept>

#include "platform/win32/WinError.h"
#include "platform/win32/WinTypes.h"

struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];

  friend constexpr bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
      if (a.Data4[i] != b.Data4[i]) return false;
    return true;
  }
  friend constexpr bool operator<(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1) return a.Data1 < b.Data1;
    if (a.Data2 != b.Data2) return a.Data2 < b.Data2;
    if (a.Data3 != b.Data3) return a.Data3 < b.Data3;
    for (int i = 0; i < 8; ++i)
      if (a.Data4[i] != b.Data4[i]) return a.Data4[i] < b.Data4[i];
    return false;
  }
};

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using LPCLSID = CLSID*;

inline constexpr GUID GUID_NULL{};
inline constexpr GUID CLSID_NULL{};

inline bool IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }
inline bool IsEqualIID(REFIID a, REFIID b) { return a == b; }
inline bool IsEqualCLSID(REFCLSID a, REFCLSID b) { return a == b; }

namespace ZYT {

namespace detail {
constexpr int HexDigit(char c) {
  return c >= '0' && c <= '9'   ? c - '0'
         : c >= 'a' && c <= 'f' ? c - 'a' + 10
         : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                : -1;
}
template <class Ch>
constexpr bool ParseGuid(const Ch* s, size_t n, GUID& g) {
  // Exactly "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", hex digits in either case.
  if (n != 38 || s[0] != '{' || s[37] != '}') return false;
  constexpr int dashes[] = {9, 14, 19, 24};
  for (int d : dashes)
    if (s[d] != '-') return false;
  uint8_t bytes[16] = {};
  int b = 0;
  for (size_t i = 1; i < 37; ++i) {
    if (i == 9 || i == 14 || i == 19 || i == 24) continue;
    if (s[i] > 0x7F) return false;
    int hi = HexDigit(static_cast<char>(s[i]));
    int lo = (s[i + 1] > 0x7F) ? -1 : HexDigit(static_cast<char>(s[i + 1]));
    if (hi < 0 || lo < 0) return false;
    bytes[b++] = static_cast<uint8_t>(hi * 16 + lo);
    ++i;
  }
  g.Data1 = (DWORD(bytes[0]) << 24) | (DWORD(bytes[1]) << 16) | (DWORD(bytes[2]) << 8) | bytes[3];
  g.Data2 = static_cast<WORD>((bytes[4] << 8) | bytes[5]);
  g.Data3 = static_cast<WORD>((bytes[6] << 8) | bytes[7]);
  for (int i = 0; i < 8; ++i) g.Data4[i] = bytes[8 + i];
  return true;
}
}  // namespace detail

// A GUID from its registry form; a malformed literal fails to compile.
consteval GUID MakeGuid(const char (&text)[39]) {
  GUID g{};
  if (!detail::ParseGuid(text, 38, g)) throw std::logic_error("malformed GUID literal");
  return g;
}

// Registry form, upper case with braces.
std::u16string GuidToString(REFGUID guid);
// Strict parse of the registry form; false on anything else.
bool GuidFromString(const std::u16string& text, GUID& guid);

}  // namespace ZYT

// Writes the registry form with its terminator; returns the characters written
// including the terminator, or 0 when cchMax is below 39.
int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int cchMax);
// Task-allocated registry form; the caller frees it with CoTaskMemFree.
HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text);
HRESULT StringFromIID(REFIID iid, LPOLESTR* text);
// A brace form must be exact; any other text is looked up as a ProgID, as on Windows.
HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid);
HRESULT IIDFromString(LPCOLESTR text, IID* iid);
HRESULT CoCreateGuid(GUID* guid);
