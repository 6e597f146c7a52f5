#include "platform/com/OleAuto.h"

#include <cstring>

namespace {

// A BSTR's byte length sits in the four bytes before its first character.
BYTE* BstrBlock(BSTR bstr) { return reinterpret_cast<BYTE*>(bstr) - sizeof(DWORD); }

BSTR AllocBstrBytes(const void* bytes, size_t cb) {
  if (cb > 0xFFFFFFF0u) return nullptr;
  auto* block = static_cast<BYTE*>(CoTaskMemAlloc(sizeof(DWORD) + cb + sizeof(WCHAR)));
  if (!block) return nullptr;
  DWORD len = static_cast<DWORD>(cb);
  std::memcpy(block, &len, sizeof len);
  if (bytes && cb)
    std::memcpy(block + sizeof(DWORD), bytes, cb);
  else if (cb)
    std::memset(block + sizeof(DWORD), 0, cb);
  std::memset(block + sizeof(DWORD) + cb, 0, sizeof(WCHAR));
  return reinterpret_cast<BSTR>(block + sizeof(DWORD));
}

// Size of one element of a vector of simple (non-owning) values; 0 if not simple.
size_t SimpleElementSize(VARTYPE base) {
  switch (base) {
    case VT_I1:
    case VT_UI1: return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL: return 2;
    case VT_I4:
    case VT_UI4:
    case VT_R4:
    case VT_ERROR:
    case VT_INT:
    case VT_UINT: return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_FILETIME: return 8;
    case VT_CLSID: return sizeof(CLSID);
    default: return 0;
  }
}

bool IsScalar(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_HRESULT: return true;
    default: return SimpleElementSize(vt) != 0 && vt != VT_CLSID;
  }
}

}  // namespace

BSTR SysAllocString(LPCOLESTR text) {
  if (!text) return nullptr;
  return AllocBstrBytes(text, WideLength(text) * sizeof(WCHAR));
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT cch) {
  return AllocBstrBytes(text, static_cast<size_t>(cch) * sizeof(WCHAR));
}

BSTR SysAllocStringByteLen(LPCSTR bytes, UINT cb) { return AllocBstrBytes(bytes, cb); }

INT SysReAllocString(BSTR* pbstr, LPCOLESTR text) {
  if (!pbstr) return FALSE;
  BSTR fresh = SysAllocString(text);
  if (text && !fresh) return FALSE;
  SysFreeString(*pbstr);
  *pbstr = fresh;
  return TRUE;
}

void SysFreeString(BSTR bstr) {
  if (bstr) CoTaskMemFree(BstrBlock(bstr));
}

UINT SysStringByteLen(BSTR bstr) {
  if (!bstr) return 0;
  DWORD len;
  std::memcpy(&len, BstrBlock(bstr), sizeof len);
  return len;
}

UINT SysStringLen(BSTR bstr) { return SysStringByteLen(bstr) / sizeof(WCHAR); }

void VariantInit(VARIANT* v) {
  if (!v) return;
  std::memset(v, 0, sizeof *v);
  v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* v) {
  if (!v) return E_INVALIDARG;
  if (!(v->vt & VT_BYREF)) {
    switch (v->vt) {
      case VT_BSTR: SysFreeString(v->bstrVal); break;
      case VT_UNKNOWN:
      case VT_DISPATCH:
        if (v->punkVal) v->punkVal->Release();
        break;
      default:
        if (!IsScalar(v->vt) && v->vt != VT_DECIMAL) return DISP_E_BADVARTYPE;
        break;
    }
  }
  std::memset(v, 0, sizeof *v);
  return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) {
  if (!dest || !src) return E_INVALIDARG;
  if (dest == src) return S_OK;
  VARIANT copy = *src;
  if (!(src->vt & VT_BYREF)) {
    if (src->vt == VT_BSTR && src->bstrVal) {
      copy.bstrVal = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(src->bstrVal),
                                           SysStringByteLen(src->bstrVal));
      if (!copy.bstrVal) return E_OUTOFMEMORY;
    } else if ((src->vt == VT_UNKNOWN || src->vt == VT_DISPATCH) && src->punkVal) {
      src->punkVal->AddRef();
    } else if (!IsScalar(src->vt) && src->vt != VT_BSTR && src->vt != VT_DECIMAL &&
               src->vt != VT_UNKNOWN && src->vt != VT_DISPATCH) {
      return DISP_E_BADVARTYPE;
    }
  }
  HRESULT hr = VariantClear(dest);
  if (FAILED(hr)) {
    VariantClear(&copy);
    return hr;
  }
  *dest = copy;
  return S_OK;
}

void PropVariantInit(PROPVARIANT* pv) {
  if (pv) std::memset(pv, 0, sizeof *pv);
}

HRESULT ZYT::NewStringPropVariant(const std::u16string& text, PROPVARIANT** value) {
  auto* made = static_cast<PROPVARIANT*>(CoTaskMemAlloc(sizeof(PROPVARIANT)));
  if (!made) return E_OUTOFMEMORY;
  PropVariantInit(made);
  made->pwszVal = CoTaskStrDup(text);
  if (!made->pwszVal) {
    CoTaskMemFree(made);
    return E_OUTOFMEMORY;
  }
  made->vt = VT_LPWSTR;
  *value = made;
  return S_OK;
}

HRESULT PropVariantClear(PROPVARIANT* pv) {
  if (!pv) return S_OK;
  VARTYPE vt = pv->vt;
  if (vt & VT_VECTOR) {
    VARTYPE base = vt & VT_TYPEMASK;
    ULONG n = pv->cac.cElems;
    switch (base) {
      case VT_LPSTR:
        for (ULONG i = 0; i < n; ++i) CoTaskMemFree(pv->calpstr.pElems[i]);
        break;
      case VT_LPWSTR:
        for (ULONG i = 0; i < n; ++i) CoTaskMemFree(pv->calpwstr.pElems[i]);
        break;
      case VT_BSTR:
        for (ULONG i = 0; i < n; ++i) SysFreeString(pv->cabstr.pElems[i]);
        break;
      case VT_VARIANT:
        for (ULONG i = 0; i < n; ++i) PropVariantClear(&pv->capropvar.pElems[i]);
        break;
      default:
        if (!SimpleElementSize(base)) return DISP_E_BADVARTYPE;
        break;
    }
    CoTaskMemFree(pv->cac.pElems);
  } else {
    switch (vt) {
      case VT_BSTR: SysFreeString(pv->bstrVal); break;
      case VT_LPSTR:
      case VT_LPWSTR:
      case VT_CLSID: CoTaskMemFree(pv->pwszVal); break;
      case VT_BLOB:
      case VT_BLOB_OBJECT: CoTaskMemFree(pv->blob.pBlobData); break;
      case VT_CF:
        if (pv->pclipdata) {
          CoTaskMemFree(pv->pclipdata->pClipData);
          CoTaskMemFree(pv->pclipdata);
        }
        break;
      case VT_UNKNOWN:
      case VT_DISPATCH:
      case VT_STREAM:
      case VT_STREAMED_OBJECT:
      case VT_STORAGE:
      case VT_STORED_OBJECT:
        if (pv->punkVal) pv->punkVal->Release();
        break;
      default:
        if (!IsScalar(vt) && vt != VT_DECIMAL) return DISP_E_BADVARTYPE;
        break;
    }
  }
  std::memset(pv, 0, sizeof *pv);
  return S_OK;
}

namespace {

template <class T>
T* CopyBlock(const T* src, size_t bytes, HRESULT& hr) {
  if (!src) return nullptr;
  void* p = CoTaskMemAlloc(bytes);
  if (!p) {
    hr = E_OUTOFMEMORY;
    return nullptr;
  }
  std::memcpy(p, src, bytes);
  return static_cast<T*>(p);
}

LPSTR CopyAnsi(LPCSTR s, HRESULT& hr) { return s ? CopyBlock(s, std::strlen(s) + 1, hr) : nullptr; }
LPWSTR CopyWide(LPCWSTR s, HRESULT& hr) {
  return s ? CopyBlock(s, (WideLength(s) + 1) * sizeof(WCHAR), hr) : nullptr;
}

}  // namespace

HRESULT PropVariantCopy(PROPVARIANT* dest, const PROPVARIANT* src) {
  if (!dest || !src) return E_INVALIDARG;
  PROPVARIANT copy = *src;
  HRESULT hr = S_OK;
  VARTYPE vt = src->vt;
  if (vt & VT_VECTOR) {
    VARTYPE base = vt & VT_TYPEMASK;
    ULONG n = src->cac.cElems;
    size_t elem = base == VT_LPSTR || base == VT_LPWSTR || base == VT_BSTR ? sizeof(void*)
                  : base == VT_VARIANT                                       ? sizeof(PROPVARIANT)
                                                                             : SimpleElementSize(base);
    if (!elem) return DISP_E_BADVARTYPE;
    copy.cac.pElems = n ? static_cast<CHAR*>(CoTaskMemAlloc(elem * n)) : nullptr;
    if (n && !copy.cac.pElems) return E_OUTOFMEMORY;
    if (n) std::memset(copy.cac.pElems, 0, elem * n);
    copy.cac.cElems = 0;  // grows as elements are copied, so a failure frees only those
    for (ULONG i = 0; i < n && SUCCEEDED(hr); ++i) {
      switch (base) {
        case VT_LPSTR: copy.calpstr.pElems[i] = CopyAnsi(src->calpstr.pElems[i], hr); break;
        case VT_LPWSTR: copy.calpwstr.pElems[i] = CopyWide(src->calpwstr.pElems[i], hr); break;
        case VT_BSTR:
          if (src->cabstr.pElems[i]) {
            copy.cabstr.pElems[i] = SysAllocStringByteLen(
                reinterpret_cast<LPCSTR>(src->cabstr.pElems[i]), SysStringByteLen(src->cabstr.pElems[i]));
            if (!copy.cabstr.pElems[i]) hr = E_OUTOFMEMORY;
          }
          break;
        case VT_VARIANT: hr = PropVariantCopy(&copy.capropvar.pElems[i], &src->capropvar.pElems[i]); break;
        default:
          std::memcpy(reinterpret_cast<BYTE*>(copy.cac.pElems) + i * elem,
                      reinterpret_cast<const BYTE*>(src->cac.pElems) + i * elem, elem);
          break;
      }
      if (SUCCEEDED(hr)) copy.cac.cElems = i + 1;
    }
  } else {
    switch (vt) {
      case VT_BSTR:
        if (src->bstrVal) {
          copy.bstrVal = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(src->bstrVal),
                                               SysStringByteLen(src->bstrVal));
          if (!copy.bstrVal) return E_OUTOFMEMORY;
        }
        break;
      case VT_LPSTR: copy.pszVal = CopyAnsi(src->pszVal, hr); break;
      case VT_LPWSTR: copy.pwszVal = CopyWide(src->pwszVal, hr); break;
      case VT_CLSID: copy.puuid = CopyBlock(src->puuid, sizeof(CLSID), hr); break;
      case VT_BLOB:
      case VT_BLOB_OBJECT:
        copy.blob.pBlobData = CopyBlock(src->blob.pBlobData, src->blob.cbSize, hr);
        break;
      case VT_UNKNOWN:
      case VT_DISPATCH:
      case VT_STREAM:
      case VT_STREAMED_OBJECT:
      case VT_STORAGE:
      case VT_STORED_OBJECT:
        if (src->punkVal) src->punkVal->AddRef();
        break;
      default:
        if (!IsScalar(vt) && vt != VT_DECIMAL) return DISP_E_BADVARTYPE;
        break;
    }
  }
  if (FAILED(hr)) {
    PropVariantClear(&copy);
    return hr;
  }
  *dest = copy;
  return S_OK;
}

HRESULT FreePropVariantArray(ULONG count, PROPVARIANT* values) {
  if (!values && count) return E_INVALIDARG;
  for (ULONG i = 0; i < count; ++i) PropVariantClear(&values[i]);
  return S_OK;
}
