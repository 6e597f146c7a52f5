// The product's privileged registry writer: it writes under HKEY_LOCAL_MACHINE
// for callers whose own registry calls may not. Callers know only the write
// method, the 24th entry of the function table (QueryInterface is the first);
// the entries before it belong to the writer's other duties and are not used
// by this module.
#pragma once

#include "platform/com/OleAuto.h"

inline constexpr CLSID CLSID_RegistryWriter = ZYT::MakeGuid("{A068F714-39CC-42EF-B1BE-4475629EB7A1}");
inline constexpr IID IID_IRegistryWriter = ZYT::MakeGuid("{E9F889E1-A192-4769-9D53-F40936F8619B}");

struct IRegistryWriter : IDispatch {
  static constexpr IID iid = IID_IRegistryWriter;
  // Entries 7 to 22.
  virtual HRESULT Reserved7() = 0;
  virtual HRESULT Reserved8() = 0;
  virtual HRESULT Reserved9() = 0;
  virtual HRESULT Reserved10() = 0;
  virtual HRESULT Reserved11() = 0;
  virtual HRESULT Reserved12() = 0;
  virtual HRESULT Reserved13() = 0;
  virtual HRESULT Reserved14() = 0;
  virtual HRESULT Reserved15() = 0;
  virtual HRESULT Reserved16() = 0;
  virtual HRESULT Reserved17() = 0;
  virtual HRESULT Reserved18() = 0;
  virtual HRESULT Reserved19() = 0;
  virtual HRESULT Reserved20() = 0;
  virtual HRESULT Reserved21() = 0;
  virtual HRESULT Reserved22() = 0;
  // Entry 23. path is relative to HKEY_LOCAL_MACHINE; a trailing "\" names the
  // key's default value, otherwise the last component names a value. A string
  // is written as REG_SZ (missing keys are created); the omitted-argument
  // marker removes the key (trailing "\") or the value.
  virtual HRESULT WriteRegistryValue(BSTR path, VARIANT value) = 0;

 protected:
  ~IRegistryWriter() = default;
};
