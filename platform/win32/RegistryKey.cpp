#include "platform/win32/RegistryKey.h"

#include <new>
#include <vector>

#include "platform/com/ComError.h"
#include "platform/win32/SysInfo.h"

namespace ZYT {

CRegistryKey::CRegistryKey(HKEY root, const std::u16string& subKey, REGSAM access) {
  if (RegOpenKeyExW(root, subKey.c_str(), 0, access, &m_key) != ERROR_SUCCESS) m_key = nullptr;
}

CRegistryKey::~CRegistryKey() {
  if (m_key) RegCloseKey(m_key);
}

std::u16string CRegistryKey::GetStringValue(const std::u16string& name) const {
  if (!m_key) return {};
  DWORD type = 0, cb = 0;
  if (RegQueryValueExW(m_key, name.c_str(), nullptr, &type, nullptr, &cb) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ) || cb == 0)
    return {};
  std::vector<WCHAR> buffer;
  try {
    buffer.resize(cb / sizeof(WCHAR) + 1);
  } catch (const std::bad_alloc&) {
    ThrowHResult(E_OUTOFMEMORY);
  }
  LONG rc = RegQueryValueExW(m_key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &cb);
  if (rc != ERROR_SUCCESS) ThrowHResult(HRESULT_FROM_WIN32(static_cast<DWORD>(rc)));
  std::u16string text(buffer.data(), cb / sizeof(WCHAR));
  while (!text.empty() && text.back() == 0) text.pop_back();
  if (type == REG_EXPAND_SZ && !text.empty()) {
    DWORD need = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    std::u16string expanded(need, u'\0');
    ExpandEnvironmentStringsW(text.c_str(), expanded.data(), need);
    expanded.resize(need ? need - 1 : 0);
    return expanded;
  }
  return text;
}

LONG CRegKey::Open(HKEY root, LPCWSTR subKey, REGSAM access) {
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExW(root, subKey, 0, access, &key);
  if (rc == ERROR_SUCCESS) {
    Close();
    m_key = key;
  }
  return rc;
}

LONG CRegKey::Create(HKEY root, LPCWSTR subKey, REGSAM access) {
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExW(root, subKey, 0, nullptr, 0, access, nullptr, &key, nullptr);
  if (rc == ERROR_SUCCESS) {
    Close();
    m_key = key;
  }
  return rc;
}

LONG CRegKey::Close() {
  LONG rc = ERROR_SUCCESS;
  if (m_key) rc = RegCloseKey(m_key);
  m_key = nullptr;
  return rc;
}

LONG CRegKey::QueryStringValue(LPCWSTR name, LPWSTR buffer, ULONG* chars) const {
  if (!chars) return ERROR_INVALID_PARAMETER;
  DWORD type = 0;
  DWORD cb = buffer ? *chars * sizeof(WCHAR) : 0;
  LONG rc = RegQueryValueExW(m_key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &cb);
  if (rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA) return rc;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
  *chars = cb / sizeof(WCHAR);
  if (rc != ERROR_SUCCESS || !buffer) return rc;
  if (cb % sizeof(WCHAR) != 0 || *chars == 0 || buffer[*chars - 1] != 0) return ERROR_INVALID_DATA;
  return ERROR_SUCCESS;
}

LONG CRegKey::SetStringValue(LPCWSTR name, const std::u16string& value, DWORD type) {
  return RegSetValueExW(m_key, name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
}

LONG CRegKey::SetDWORDValue(LPCWSTR name, DWORD value) {
  return RegSetValueExW(m_key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

LONG CRegKey::QueryDWORDValue(LPCWSTR name, DWORD& value) const {
  DWORD type = 0, cb = sizeof value, v = 0;
  LONG rc = RegQueryValueExW(m_key, name, nullptr, &type, reinterpret_cast<BYTE*>(&v), &cb);
  if (rc != ERROR_SUCCESS) return rc;
  if (type != REG_DWORD || cb != sizeof v) return ERROR_INVALID_DATA;
  value = v;
  return ERROR_SUCCESS;
}

LONG CRegKey::DeleteValue(LPCWSTR name) { return RegDeleteValueW(m_key, name); }

std::vector<std::u16string> SubkeyNames(HKEY key, bool stopAtLongName) {
  std::vector<std::u16string> names;
  for (DWORD i = 0;; ++i) {
    WCHAR name[256];
    DWORD chars = 256;
    LONG rc = RegEnumKeyExW(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_MORE_DATA && !stopAtLongName) continue;
    if (rc != ERROR_SUCCESS) break;
    names.emplace_back(name, chars);
  }
  return names;
}

}  // namespace ZYT
