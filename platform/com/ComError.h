// _com_error as comdef.h has it, the per-thread error description of
// oleauto.h (IErrorInfo), and the module's own HRESULT exception that
// remembers where it was thrown.
#pragma once

#include <source_location>
#include <string>

#include "platform/com/OleAuto.h"
#include "platform/win32/WinError.h"

// A failure's description beside its HRESULT, for a caller several COM calls
// up that wants to say more than the code (which settings file is broken, and
// where). One per thread; GetErrorInfo hands it over and empties the slot.
struct IErrorInfo : IUnknown {
  static constexpr IID iid = ZYT::MakeGuid("{1CF2B120-547D-101B-8E65-08002B2BD119}");
  virtual HRESULT GetGUID(GUID* pGUID) = 0;
  virtual HRESULT GetSource(BSTR* pBstrSource) = 0;
  virtual HRESULT GetDescription(BSTR* pBstrDescription) = 0;
  virtual HRESULT GetHelpFile(BSTR* pBstrHelpFile) = 0;
  virtual HRESULT GetHelpContext(DWORD* pdwHelpContext) = 0;

 protected:
  ~IErrorInfo() = default;
};

struct ICreateErrorInfo : IUnknown {
  static constexpr IID iid = ZYT::MakeGuid("{22F03340-547D-101B-8E65-08002B2BD119}");
  virtual HRESULT SetGUID(REFGUID rguid) = 0;
  virtual HRESULT SetSource(LPOLESTR szSource) = 0;
  virtual HRESULT SetDescription(LPOLESTR szDescription) = 0;
  virtual HRESULT SetHelpFile(LPOLESTR szHelpFile) = 0;
  virtual HRESULT SetHelpContext(DWORD dwHelpContext) = 0;

 protected:
  ~ICreateErrorInfo() = default;
};

inline constexpr IID IID_IErrorInfo = IErrorInfo::iid;
inline constexpr IID IID_ICreateErrorInfo = ICreateErrorInfo::iid;

HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo);
// Replaces this thread's error object (null empties it); dwReserved must be 0.
HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo);
// Hands this thread's error object to the caller and empties the slot;
// S_FALSE and a null pointer when there is none.
HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo);

class _com_error {
 public:
  explicit _com_error(HRESULT hr) noexcept : m_hr(hr) {}
  _com_error(const _com_error& other) noexcept : m_hr(other.m_hr) {}
  _com_error& operator=(const _com_error& other) noexcept {
    m_hr = other.m_hr;
    m_message.clear();
    return *this;
  }
  virtual ~_com_error() = default;

  HRESULT Error() const noexcept { return m_hr; }
  WORD WCode() const noexcept { return HRESULTToWCode(m_hr); }
  // The system's message for the HRESULT without its trailing line break;
  // "IDispatch error #n" or "Unknown error 0xNNNNNNNN" when it has none.
  // The text lives as long as the error object.
  const WCHAR* ErrorMessage() const;

  static HRESULT WCodeToHRESULT(WORD wCode) noexcept {
    return wCode >= 0xFE00 ? static_cast<HRESULT>(0x80040200u) : MakeHResult(0x80040200u + wCode);
  }
  static WORD HRESULTToWCode(HRESULT hr) noexcept {
    uint32_t u = static_cast<uint32_t>(hr);
    return (u >= 0x80040200u && u <= 0x8004FFFFu) ? static_cast<WORD>(u - 0x80040200u) : 0;
  }

 private:
  HRESULT m_hr;
  mutable std::u16string m_message;
};

// Throws _com_error, as the compiler's COM support does for a failing HRESULT.
[[noreturn]] void _com_issue_error(HRESULT hr);

namespace ZYT {

// The system message for an HRESULT (or HRESULT_FROM_WIN32 of a Win32 code),
// ending in "\r\n" as FormatMessage gives it; empty when the system has none.
std::u16string SystemMessage(HRESULT hr);

// The one way an HRESULT is written out, in logs and tools alike: "0x" and
// eight lower-case hex digits ("0x80004005", "0x00000001").
std::string HResultHex(HRESULT hr);
// The same with _com_error's message: "0x80004005 (Unspecified error)".
std::string DescribeHResult(HRESULT hr);

// An HRESULT thrown by the module's own code, with the place it was thrown.
class HResultException {
 public:
  HResultException(HRESULT hr, std::source_location where) noexcept : m_hr(hr), m_where(where) {}
  HRESULT Error() const noexcept { return m_hr; }
  const std::source_location& Where() const noexcept { return m_where; }

 private:
  HRESULT m_hr;
  std::source_location m_where;
};

[[noreturn]] void ThrowHResult(HRESULT hr,
                               std::source_location where = std::source_location::current());

inline HRESULT ThrowIfFailed(HRESULT hr,
                             std::source_location where = std::source_location::current()) {
  if (FAILED(hr)) ThrowHResult(hr, where);
  return hr;
}

// Makes description (and source, when given) this thread's error object.
void SetErrorDescription(const std::u16string& description, const std::u16string& source = {});
// Takes this thread's error object and returns its description; empty when
// there is none.
std::u16string TakeErrorDescription();

// Throws HRESULT_FROM_WIN32 of a Win32 code that is not ERROR_SUCCESS.
inline void ThrowIfWin32Error(DWORD code,
                              std::source_location where = std::source_location::current()) {
  if (code != ERROR_SUCCESS) ThrowHResult(HRESULT_FROM_WIN32(code), where);
}

}  // namespace ZYT
