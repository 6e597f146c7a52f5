// A module built like the product's: class table, class objects, object
// framework and self-registration under HKCR.
#include <string>

#include "platform/com/ClassFactory.h"
#include "platform/com/ObjIdl.h"
#include "platform/win32/Registry.h"
#include "platform/win32/SysInfo.h"
#include "tests/platform/TestWidget.h"

namespace {

class CTestWidget : public ZYT::CComObjectRoot, public ITestWidget, public IPersist {
 public:
  ZYT_BEGIN_INTERFACE_MAP(CTestWidget)
  ZYT_INTERFACE(ITestWidget)
  ZYT_INTERFACE(IPersist)
  ZYT_END_INTERFACE_MAP()

  HRESULT SetValue(LONG value) override {
    m_value = value;
    return S_OK;
  }
  HRESULT GetValue(LONG* value) override {
    if (!value) return E_POINTER;
    *value = m_value;
    return S_OK;
  }
  HRESULT ModuleLocks(LONG* count) override {
    if (!count) return E_POINTER;
    *count = ZYT::ModuleLock::Count();
    return S_OK;
  }
  HRESULT GetClassID(CLSID* clsid) override {
    if (!clsid) return E_POINTER;
    *clsid = CLSID_TestWidget;
    return S_OK;
  }

 private:
  LONG m_value = 42;
};

class CTestRefusing : public CTestWidget {
 public:
  HRESULT FinalConstruct() { return E_ACCESSDENIED; }
};

const ZYT::ClassEntry kClasses[] = {
    {&CLSID_TestWidget, &ZytCreateInstance<CTestWidget>},
    {&CLSID_TestRefusing, &ZytCreateInstance<CTestRefusing>},
    {&CLSID_TestUnbuilt, nullptr},
};

ZYT::CClassTable g_classes(kClasses, std::size(kClasses));

LONG SetString(HKEY root, const std::u16string& key, const std::u16string& value) {
  HKEY h = nullptr;
  LONG rc = RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  rc = RegSetValueExW(h, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                      static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
  RegCloseKey(h);
  return rc;
}

}  // namespace

extern "C" HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  return g_classes.GetClassObject(clsid, riid, ppv);
}

extern "C" HRESULT DllCanUnloadNow() { return ZYT::ModuleLock::Count() == 0 ? S_OK : S_FALSE; }

extern "C" HRESULT DllRegisterServer() {
  WCHAR path[MAX_PATH];
  if (!GetModuleFileNameW(ZytModuleFromAddress(reinterpret_cast<const void*>(&DllRegisterServer)), path, MAX_PATH))
    return E_FAIL;
  std::u16string clsid = ZYT::GuidToString(CLSID_TestWidget);
  LONG rc = SetString(HKEY_CLASSES_ROOT, u"CLSID\\" + clsid + u"\\InprocServer32", path);
  if (rc == ERROR_SUCCESS) rc = SetString(HKEY_CLASSES_ROOT, u"Zyt.TestWidget\\CLSID", clsid);
  std::u16string refusing = ZYT::GuidToString(CLSID_TestRefusing);
  if (rc == ERROR_SUCCESS) rc = SetString(HKEY_CLASSES_ROOT, u"CLSID\\" + refusing + u"\\InprocServer32", path);
  std::u16string unbuilt = ZYT::GuidToString(CLSID_TestUnbuilt);
  if (rc == ERROR_SUCCESS) rc = SetString(HKEY_CLASSES_ROOT, u"CLSID\\" + unbuilt + u"\\InprocServer32", path);
  return HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
}

extern "C" HRESULT DllUnregisterServer() {
  for (const CLSID* c : {&CLSID_TestWidget, &CLSID_TestRefusing, &CLSID_TestUnbuilt})
    RegDeleteTreeW(HKEY_CLASSES_ROOT, (u"CLSID\\" + ZYT::GuidToString(*c)).c_str());
  RegDeleteTreeW(HKEY_CLASSES_ROOT, u"Zyt.TestWidget");
  return S_OK;
}
