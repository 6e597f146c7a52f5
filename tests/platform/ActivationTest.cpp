#include <gtest/gtest.h>

#include "platform/com/ComPtr.h"
#include "platform/com/ObjBase.h"
#include "platform/win32/Registry.h"
#include "platform/win32/Strings.h"
#include "platform/win32/SysInfo.h"
#include "tests/platform/TestWidget.h"
#include "tests/support/TestEnvironment.h"

namespace {

using ZYT::ComPtr;
using ZYT::Test::SetRegistryString;

const std::u16string kServerKey = u"CLSID\\" + ZYT::GuidToString(CLSID_TestWidget) + u"\\InprocServer32";

class ActivationTest : public ZYT::Test::MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    ASSERT_EQ(ZYT::Test::RegisterModule(ZYT_TEST_MODULE), S_OK);
  }
  void TearDown() override {
    CoFreeUnusedLibraries();
    MachineTest::TearDown();
  }

  static LONG Locks(ITestWidget* w) {
    LONG n = -1;
    w->ModuleLocks(&n);
    return n;
  }
};

TEST_F(ActivationTest, CreatesARegisteredClassFromItsModule) {
  ComPtr<ITestWidget> widget;
  ASSERT_EQ(CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_ALL, uuidof<ITestWidget>(), widget.put_void()), S_OK);
  LONG value = 0;
  widget->GetValue(&value);
  EXPECT_EQ(value, 42);
  EXPECT_EQ(Locks(widget.get()), 1) << "one live object, no class object handed out";
  ComPtr<IPersist> persist;
  ASSERT_EQ(widget.As(persist), S_OK);
  CLSID clsid{};
  persist->GetClassID(&clsid);
  EXPECT_EQ(clsid, CLSID_TestWidget);
}

TEST_F(ActivationTest, ProgIdResolvesThroughTheRegistry) {
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(u"Zyt.TestWidget", &clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_TestWidget);
  ASSERT_EQ(CLSIDFromString(u"zyt.testwidget", &clsid), S_OK) << "ProgIDs are case-insensitive";
  EXPECT_EQ(clsid, CLSID_TestWidget);
  CLSID untouched = CLSID_TestRefusing;
  EXPECT_EQ(CLSIDFromProgID(u"Zyt.NoSuchThing", &untouched), CO_E_CLASSSTRING);
  EXPECT_EQ(untouched, CLSID_TestRefusing);

  // A version-independent ProgID that only names its current version.
  SetRegistryString(HKEY_CLASSES_ROOT, u"Zyt.Versioned\\CurVer", u"", u"Zyt.TestWidget");
  clsid = {};
  ASSERT_EQ(CLSIDFromProgID(u"Zyt.Versioned", &clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_TestWidget);
}

TEST_F(ActivationTest, FailuresNameTheirCause) {
  void* p = reinterpret_cast<void*>(0xCAFECAFE);
  const CLSID unknown = ZYT::MakeGuid("{00000000-1111-2222-3333-444444444444}");
  EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_ALL, IID_IUnknown, &p), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(p, nullptr);
  p = reinterpret_cast<void*>(0xCAFECAFE);
  EXPECT_EQ(CoCreateInstance(CLSID_TestRefusing, nullptr, CLSCTX_ALL, IID_IUnknown, &p), E_ACCESSDENIED)
      << "a failing FinalConstruct reaches the caller";
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(CoCreateInstance(CLSID_TestUnbuilt, nullptr, CLSCTX_ALL, IID_IUnknown, &p), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, &p), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_ALL, IID_IUnknown, nullptr), E_POINTER);

  SetRegistryString(HKEY_CLASSES_ROOT, u"CLSID\\" + ZYT::GuidToString(unknown) + u"\\InprocServer32", u"",
                    u"/nonexistent/missing.dll.so");
  EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_ALL, IID_IUnknown, &p), HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
}

TEST_F(ActivationTest, ARegistryChangeIsSeenAtTheNextCreation) {
  ComPtr<ITestWidget> widget;
  ASSERT_EQ(CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_ALL, uuidof<ITestWidget>(), widget.put_void()), S_OK);
  SetRegistryString(HKEY_CLASSES_ROOT, kServerKey, u"", u"/nonexistent/moved.dll.so");
  EXPECT_EQ(CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_ALL, uuidof<ITestWidget>(), widget.put_void()),
            HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND))
      << "a cached server must not hide the registry's new answer";
}

TEST_F(ActivationTest, ExpandableServerPathIsExpanded) {
  setenv("ZYT_TEST_MODULE_DIR", ZYT_TEST_MODULE, 1);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, kServerKey.c_str(), 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  const char16_t server[] = u"%ZYT_TEST_MODULE_DIR%";
  RegSetValueExW(key, nullptr, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(server), sizeof server);
  RegCloseKey(key);
  ComPtr<ITestWidget> widget;
  EXPECT_EQ(CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_INPROC_SERVER, uuidof<ITestWidget>(), widget.put_void()),
            S_OK);
  unsetenv("ZYT_TEST_MODULE_DIR");
}

TEST_F(ActivationTest, ModuleUnloadsOnlyWhenNothingIsAlive) {
  ComPtr<ITestWidget> widget;
  ASSERT_EQ(CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_ALL, uuidof<ITestWidget>(), widget.put_void()), S_OK);
  size_t loaded = ZYT::LoadedComModules();
  ASSERT_GE(loaded, 1u);
  CoFreeUnusedLibraries();
  EXPECT_EQ(ZYT::LoadedComModules(), loaded) << "an object is alive, the module must stay";

  ComPtr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(CLSID_TestWidget, CLSCTX_ALL, nullptr, IID_IClassFactory, factory.put_void()), S_OK);
  EXPECT_EQ(Locks(widget.get()), 2) << "a handed-out class object locks the module";
  widget.Reset();
  CoFreeUnusedLibraries();
  EXPECT_EQ(ZYT::LoadedComModules(), loaded) << "a held class object keeps the module";
  factory.Reset();
  CoFreeUnusedLibraries();
  EXPECT_EQ(ZYT::LoadedComModules(), loaded - 1);

  // Loading again after the unload works.
  ASSERT_EQ(CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_ALL, uuidof<ITestWidget>(), widget.put_void()), S_OK);
  EXPECT_EQ(Locks(widget.get()), 1);
}

TEST_F(ActivationTest, AggregationThroughActivation) {
  struct Outer final : IUnknown {
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    ULONG refs = 1;
  } outer;
  void* p = reinterpret_cast<void*>(0xCAFECAFE);
  EXPECT_EQ(CoCreateInstance(CLSID_TestWidget, &outer, CLSCTX_ALL, uuidof<ITestWidget>(), &p), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(p, nullptr);
  ASSERT_EQ(CoCreateInstance(CLSID_TestWidget, &outer, CLSCTX_ALL, IID_IUnknown, &p), S_OK);
  auto* inner = static_cast<IUnknown*>(p);
  ITestWidget* widget = nullptr;
  ASSERT_EQ(inner->QueryInterface(&widget), S_OK);
  EXPECT_EQ(outer.refs, 2u);
  widget->Release();
  EXPECT_EQ(inner->Release(), 0u);
}

class ServedWidget final : public ITestWidget, public IClassFactory {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *ppv = static_cast<IClassFactory*>(this);
    } else if (IsEqualIID(riid, uuidof<ITestWidget>())) {
      *ppv = static_cast<ITestWidget*>(this);
    } else {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    ++refs;
    return S_OK;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT CreateInstance(IUnknown*, REFIID riid, void** ppv) override { return QueryInterface(riid, ppv); }
  HRESULT LockServer(BOOL) override { return S_OK; }
  HRESULT SetValue(LONG) override { return S_OK; }
  HRESULT GetValue(LONG* v) override {
    *v = 7;
    return S_OK;
  }
  HRESULT ModuleLocks(LONG* v) override {
    *v = 0;
    return S_OK;
  }
  ULONG refs = 1;
};

TEST_F(ActivationTest, RegisteredClassObjectTakesPrecedenceUntilRevoked) {
  ServedWidget served;
  DWORD cookie = 0;
  ASSERT_EQ(CoRegisterClassObject(CLSID_TestWidget, static_cast<IClassFactory*>(&served), CLSCTX_INPROC_SERVER,
                                  REGCLS_MULTIPLEUSE, &cookie),
            S_OK);
  EXPECT_EQ(served.refs, 2u);
  {
    ComPtr<ITestWidget> widget;
    ASSERT_EQ(CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_ALL, uuidof<ITestWidget>(), widget.put_void()), S_OK);
    LONG v = 0;
    widget->GetValue(&v);
    EXPECT_EQ(v, 7);
  }
  ASSERT_EQ(CoRevokeClassObject(cookie), S_OK);
  EXPECT_EQ(served.refs, 1u) << "revoking releases the registered object";
  EXPECT_EQ(CoRevokeClassObject(cookie), CO_E_OBJNOTREG);
  ComPtr<ITestWidget> widget;
  ASSERT_EQ(CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_ALL, uuidof<ITestWidget>(), widget.put_void()), S_OK);
  LONG v = 0;
  widget->GetValue(&v);
  EXPECT_EQ(v, 42) << "after revoking, the registry's module serves the class again";
}

TEST_F(ActivationTest, OleRunRunsOnlyRunnableObjects) {
  struct Runnable final : IRunnableObject {
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
      if (IsEqualIID(riid, IID_IRunnableObject) || IsEqualIID(riid, IID_IUnknown)) {
        *ppv = this;
        return S_OK;
      }
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT GetRunningClass(LPCLSID) override { return E_NOTIMPL; }
    HRESULT Run(IBindCtx*) override {
      ++runs;
      return result;
    }
    BOOL IsRunning() override { return runs > 0; }
    HRESULT LockRunning(BOOL, BOOL) override { return S_OK; }
    HRESULT SetContainedObject(BOOL) override { return S_OK; }
    int runs = 0;
    HRESULT result = S_OK;
  } runnable;
  EXPECT_EQ(OleRun(&runnable), S_OK);
  EXPECT_EQ(runnable.runs, 1);
  runnable.result = E_UNEXPECTED;
  EXPECT_EQ(OleRun(&runnable), E_UNEXPECTED);
  ServedWidget plain;
  EXPECT_EQ(OleRun(static_cast<IClassFactory*>(&plain)), S_OK);
  EXPECT_EQ(OleRun(nullptr), E_INVALIDARG);
}

}  // namespace
