// IDispatch for a dual interface whose type information the module does not
// carry: no type info, no names, no members to invoke late-bound.
#pragma once

#include "platform/com/OleAuto.h"

namespace ZYT {

template <class DualInterface>
class CNoTypeInfoDispatch : public DualInterface {
 public:
  HRESULT GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return DISP_E_MEMBERNOTFOUND;
  }

 protected:
  ~CNoTypeInfoDispatch() = default;
};

}  // namespace ZYT
