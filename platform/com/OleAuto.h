// BSTR, VARIANT, PROPVARIANT and IDispatch with the Windows layouts.
#pragma once

#include "platform/com/TaskAllocator.h"
#include "platform/com/Unknwn.h"

enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_VOID = 24,
  VT_HRESULT = 25,
  VT_PTR = 26,
  VT_SAFEARRAY = 27,
  VT_CARRAY = 28,
  VT_USERDEFINED = 29,
  VT_LPSTR = 30,
  VT_LPWSTR = 31,
  VT_FILETIME = 64,
  VT_BLOB = 65,
  VT_STREAM = 66,
  VT_STORAGE = 67,
  VT_STREAMED_OBJECT = 68,
  VT_STORED_OBJECT = 69,
  VT_BLOB_OBJECT = 70,
  VT_CF = 71,
  VT_CLSID = 72,
  VT_VECTOR = 0x1000,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  VT_TYPEMASK = 0xFFF,
};

// BSTR: length-prefixed, zero-terminated, allocated with the task allocator.
BSTR SysAllocString(LPCOLESTR text);
BSTR SysAllocStringLen(const OLECHAR* text, UINT cch);
BSTR SysAllocStringByteLen(LPCSTR bytes, UINT cb);
INT SysReAllocString(BSTR* pbstr, LPCOLESTR text);
void SysFreeString(BSTR bstr);
UINT SysStringLen(BSTR bstr);
UINT SysStringByteLen(BSTR bstr);

union CY {
  struct {
    ULONG Lo;
    LONG Hi;
  } s;
  LONGLONG int64;
};

struct IDispatch;
struct IStream;
struct IStorage;
struct SAFEARRAY;

struct VARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LONGLONG llVal;
    LONG lVal;
    BYTE bVal;
    SHORT iVal;
    FLOAT fltVal;
    DOUBLE dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    CY cyVal;
    DATE date;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    SAFEARRAY* parray;
    CHAR cVal;
    USHORT uiVal;
    ULONG ulVal;
    ULONGLONG ullVal;
    INT intVal;
    UINT uintVal;
    BSTR* pbstrVal;
    LONG* plVal;
    VARIANT* pvarVal;
    void* byref;
    struct {
      void* pvRecord;
      void* pRecInfo;
    } brecVal;
  };
};
using VARIANTARG = VARIANT;

void VariantInit(VARIANT* v);
HRESULT VariantClear(VARIANT* v);
// Deep copy; dest is cleared first.
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);

struct BLOB {
  ULONG cbSize;
  BYTE* pBlobData;
};
struct BSTRBLOB {
  ULONG cbSize;
  BYTE* pData;
};
struct CLIPDATA {
  ULONG cbSize;
  LONG ulClipFmt;
  BYTE* pClipData;
};

struct PROPVARIANT;
#define ZYT_COUNTED_ARRAY(name, type) \
  struct name {                        \
    ULONG cElems;                      \
    type* pElems;                      \
  }
ZYT_COUNTED_ARRAY(CAC, CHAR);
ZYT_COUNTED_ARRAY(CAUB, UCHAR);
ZYT_COUNTED_ARRAY(CAI, SHORT);
ZYT_COUNTED_ARRAY(CAUI, USHORT);
ZYT_COUNTED_ARRAY(CAL, LONG);
ZYT_COUNTED_ARRAY(CAUL, ULONG);
ZYT_COUNTED_ARRAY(CAFLT, FLOAT);
ZYT_COUNTED_ARRAY(CADBL, DOUBLE);
ZYT_COUNTED_ARRAY(CAH, LARGE_INTEGER);
ZYT_COUNTED_ARRAY(CAUH, ULARGE_INTEGER);
ZYT_COUNTED_ARRAY(CABOOL, VARIANT_BOOL);
ZYT_COUNTED_ARRAY(CASCODE, SCODE);
ZYT_COUNTED_ARRAY(CAFILETIME, FILETIME);
ZYT_COUNTED_ARRAY(CACLSID, CLSID);
ZYT_COUNTED_ARRAY(CABSTR, BSTR);
ZYT_COUNTED_ARRAY(CALPSTR, LPSTR);
ZYT_COUNTED_ARRAY(CALPWSTR, LPWSTR);
ZYT_COUNTED_ARRAY(CAPROPVARIANT, PROPVARIANT);
#undef ZYT_COUNTED_ARRAY

struct PROPVARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    CHAR cVal;
    UCHAR bVal;
    SHORT iVal;
    USHORT uiVal;
    LONG lVal;
    ULONG ulVal;
    INT intVal;
    UINT uintVal;
    LARGE_INTEGER hVal;
    ULARGE_INTEGER uhVal;
    FLOAT fltVal;
    DOUBLE dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    CY cyVal;
    DATE date;
    FILETIME filetime;
    CLSID* puuid;
    CLIPDATA* pclipdata;
    BSTR bstrVal;
    BSTRBLOB bstrblobVal;
    BLOB blob;
    LPSTR pszVal;
    LPWSTR pwszVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    IStream* pStream;
    IStorage* pStorage;
    SAFEARRAY* parray;
    CAC cac;
    CAUB caub;
    CAI cai;
    CAUI caui;
    CAL cal;
    CAUL caul;
    CAH cah;
    CAUH cauh;
    CAFLT caflt;
    CADBL cadbl;
    CABOOL cabool;
    CASCODE cascode;
    CAFILETIME cafiletime;
    CACLSID cauuid;
    CABSTR cabstr;
    CALPSTR calpstr;
    CALPWSTR calpwstr;
    CAPROPVARIANT capropvar;
  };
};

void PropVariantInit(PROPVARIANT* pv);
// Frees what the value owns (strings, blobs, vectors, interface references)
// and leaves VT_EMPTY. An unknown type gives DISP_E_BADVARTYPE and is left alone.
HRESULT PropVariantClear(PROPVARIANT* pv);
HRESULT PropVariantCopy(PROPVARIANT* dest, const PROPVARIANT* src);
HRESULT FreePropVariantArray(ULONG count, PROPVARIANT* values);

namespace ZYT {
// A task-allocated VT_LPWSTR value for IFilter::GetValue; E_OUTOFMEMORY
// (and *value untouched) when either allocation fails.
HRESULT NewStringPropVariant(const std::u16string& text, PROPVARIANT** value);
}  // namespace ZYT

using DISPID = LONG;
using MEMBERID = DISPID;
constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_VALUE = 0;
constexpr DISPID DISPID_PROPERTYPUT = -3;
constexpr WORD DISPATCH_METHOD = 1;
constexpr WORD DISPATCH_PROPERTYGET = 2;
constexpr WORD DISPATCH_PROPERTYPUT = 4;
constexpr WORD DISPATCH_PROPERTYPUTREF = 8;

struct DISPPARAMS {
  VARIANTARG* rgvarg;
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
};

struct EXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  void* pvReserved;
  HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
  SCODE scode;
};

struct ITypeInfo;

struct IDispatch : IUnknown {
  static constexpr IID iid = ZYT::MakeGuid("{00020400-0000-0000-C000-000000000046}");
  virtual HRESULT GetTypeInfoCount(UINT* pctinfo) = 0;
  virtual HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
  virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                DISPID* rgDispId) = 0;
  virtual HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                         DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                         UINT* puArgErr) = 0;

 protected:
  ~IDispatch() = default;
};
inline constexpr IID IID_IDispatch = IDispatch::iid;
