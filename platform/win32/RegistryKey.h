// Registry keys owned by scope.
#pragma once

#include <string>
#include <vector>

#include "platform/win32/Registry.h"

namespace ZYT {

// One open key, or none when the open failed (which is not an error).
class CRegistryKey {
 public:
  CRegistryKey(HKEY root, const std::u16string& subKey, REGSAM access);
  ~CRegistryKey();
  CRegistryKey(const CRegistryKey&) = delete;
  CRegistryKey& operator=(const CRegistryKey&) = delete;

  HKEY Handle() const { return m_key; }
  bool IsOpen() const { return m_key != nullptr; }
  // A REG_SZ or REG_EXPAND_SZ value (the latter expanded); empty when the key
  // or value is missing, of another type, or empty. Throws the HRESULT of a
  // read that fails after the value was found, E_OUTOFMEMORY when it cannot
  // be buffered.
  std::u16string GetStringValue(const std::u16string& name) const;

 private:
  HKEY m_key = nullptr;
};

// The framework's general key class (ATL's CRegKey in shape).
class CRegKey {
 public:
  CRegKey() = default;
  ~CRegKey() { Close(); }
  CRegKey(const CRegKey&) = delete;
  CRegKey& operator=(const CRegKey&) = delete;

  // Replaces an open handle only when the new open succeeds.
  LONG Open(HKEY root, LPCWSTR subKey, REGSAM access = KEY_READ | KEY_WRITE);
  LONG Create(HKEY root, LPCWSTR subKey, REGSAM access = KEY_READ | KEY_WRITE);
  LONG Close();
  // chars: the buffer's size in characters in, the characters stored (with the
  // terminator) out; with no buffer, the size needed. REG_SZ and REG_EXPAND_SZ
  // only, and the stored text must end with its terminator (else ERROR_INVALID_DATA).
  LONG QueryStringValue(LPCWSTR name, LPWSTR buffer, ULONG* chars) const;
  LONG SetStringValue(LPCWSTR name, const std::u16string& value, DWORD type = REG_SZ);
  LONG SetDWORDValue(LPCWSTR name, DWORD value);
  LONG QueryDWORDValue(LPCWSTR name, DWORD& value) const;
  LONG DeleteValue(LPCWSTR name);
  HKEY Handle() const { return m_key; }
  operator HKEY() const { return m_key; }

 private:
  HKEY m_key = nullptr;
};

// The names of a key's subkeys, by index from 0, in buffers of 256
// characters: a longer name is passed over, or, with stopAtLongName, ends the
// list as any other enumeration failure does.
std::vector<std::u16string> SubkeyNames(HKEY key, bool stopAtLongName = false);

}  // namespace ZYT
