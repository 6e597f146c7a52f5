// Owning BSTR and VARIANT, as comutil's _bstr_t and _variant_t own theirs.
#pragma once

#include <string>
#include <utility>

#include "platform/com/ComError.h"
#include "platform/com/OleAuto.h"

namespace ZYT {

class CBstr {
 public:
  CBstr() = default;
  // Throws _com_error(E_OUTOFMEMORY) when the string cannot be allocated.
  explicit CBstr(const std::u16string& text) : m_bstr(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {
    if (!m_bstr) _com_issue_error(E_OUTOFMEMORY);
  }
  CBstr(CBstr&& other) noexcept : m_bstr(std::exchange(other.m_bstr, nullptr)) {}
  CBstr& operator=(CBstr&& other) noexcept {
    if (this != &other) {
      SysFreeString(m_bstr);
      m_bstr = std::exchange(other.m_bstr, nullptr);
    }
    return *this;
  }
  CBstr(const CBstr&) = delete;
  CBstr& operator=(const CBstr&) = delete;
  ~CBstr() { SysFreeString(m_bstr); }

  BSTR get() const { return m_bstr; }
  BSTR* put() {
    SysFreeString(m_bstr);
    m_bstr = nullptr;
    return &m_bstr;
  }
  BSTR Detach() { return std::exchange(m_bstr, nullptr); }
  std::u16string str() const { return m_bstr ? std::u16string(m_bstr, SysStringLen(m_bstr)) : std::u16string(); }

 private:
  BSTR m_bstr = nullptr;
};

class CVariant {
 public:
  CVariant() { VariantInit(&m_v); }
  CVariant(const CVariant&) = delete;
  CVariant& operator=(const CVariant&) = delete;
  ~CVariant() { VariantClear(&m_v); }

  VARIANT* operator&() { return &m_v; }
  const VARIANT& get() const { return m_v; }
  VARIANT* put() {
    VariantClear(&m_v);
    return &m_v;
  }
  bool IsString() const { return m_v.vt == VT_BSTR; }
  std::u16string Text() const {
    return IsString() && m_v.bstrVal ? std::u16string(m_v.bstrVal, SysStringLen(m_v.bstrVal)) : std::u16string();
  }

 private:
  VARIANT m_v;
};

// The VARIANT a caller passes for an omitted optional argument.
inline VARIANT OmittedArgument() {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_ERROR;
  v.scode = DISP_E_PARAMNOTFOUND;
  return v;
}
inline bool IsOmittedArgument(const VARIANT& v) { return v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND; }

}  // namespace ZYT
