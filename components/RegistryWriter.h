// The product's registry writer: a privileged service that writes under
// HKEY_LOCAL_MACHINE for callers whose own registry calls may not. Here it
// runs in the caller's process and lifts the process's read-only HKLM for its
// own writes only.
#pragma once

#include "interfaces/RegistryWriter.h"
#include "platform/com/ComObject.h"
#include "platform/com/NoTypeInfoDispatch.h"

class CRegistryWriter : public ZYT::CComObjectRoot, public ZYT::CNoTypeInfoDispatch<IRegistryWriter> {
 public:
  ZYT_BEGIN_INTERFACE_MAP(CRegistryWriter)
  ZYT_INTERFACE(IRegistryWriter)
  ZYT_INTERFACE_VIA(IDispatch, IRegistryWriter)
  ZYT_END_INTERFACE_MAP()
  using ThreadModel = ZYT::MultiThreadModel;

  // The writer's other duties; this module's callers never use them.
  HRESULT Reserved7() override { return E_NOTIMPL; }
  HRESULT Reserved8() override { return E_NOTIMPL; }
  HRESULT Reserved9() override { return E_NOTIMPL; }
  HRESULT Reserved10() override { return E_NOTIMPL; }
  HRESULT Reserved11() override { return E_NOTIMPL; }
  HRESULT Reserved12() override { return E_NOTIMPL; }
  HRESULT Reserved13() override { return E_NOTIMPL; }
  HRESULT Reserved14() override { return E_NOTIMPL; }
  HRESULT Reserved15() override { return E_NOTIMPL; }
  HRESULT Reserved16() override { return E_NOTIMPL; }
  HRESULT Reserved17() override { return E_NOTIMPL; }
  HRESULT Reserved18() override { return E_NOTIMPL; }
  HRESULT Reserved19() override { return E_NOTIMPL; }
  HRESULT Reserved20() override { return E_NOTIMPL; }
  HRESULT Reserved21() override { return E_NOTIMPL; }
  HRESULT Reserved22() override { return E_NOTIMPL; }

  // path relative to HKEY_LOCAL_MACHINE; a trailing "\" names the key's
  // default value. A string is written as REG_SZ, creating missing keys; the
  // omitted-argument marker removes the key (trailing "\", with its subkeys)
  // or the value. Removing what is not there succeeds. Any other value type
  // is DISP_E_TYPEMISMATCH; an empty path or a path naming no value
  // E_INVALIDARG.
  HRESULT WriteRegistryValue(BSTR path, VARIANT value) override;
};
