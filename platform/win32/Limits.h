// Limits that bound memory, time or disk on hostile input. Each has a default
// and can be set as a REG_DWORD value of HKLM\SOFTWARE\ZYT\Orrery\Limits; the
// README lists them.
#pragma once

#include "platform/win32/WinTypes.h"

namespace ZYT {

inline constexpr const WCHAR* kLimitsKey = u"SOFTWARE\\ZYT\\Orrery\\Limits";

// The value named name under the limits key when it is a REG_DWORD, else
// defaultValue. Never fails: a missing or unreadable registry gives the default.
DWORD GetLimit(LPCWSTR name, DWORD defaultValue);

}  // namespace ZYT
