#include <gtest/gtest.h>

#include <functional>

#include "interfaces/ClassIds.h"
#include "interfaces/DocTypeManager.h"
#include "interfaces/SimpleFileFilter.h"
#include "module/FiltersModule.h"
#include "platform/com/ComPtr.h"
#include "platform/com/Filter.h"
#include "platform/com/ObjIdl.h"
#include "platform/win32/Strings.h"

namespace {

using ZYT::ComPtr;

class EntryPointTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(DllCanUnloadNow(), S_OK) << "a test left an object or a lock behind"; }
};

TEST_F(EntryPointTest, UnknownAndUnbuiltClassesAreNotAvailable) {
  const CLSID unknown = ZYT::MakeGuid("{DEADBEEF-0000-0000-0000-000000000000}");
  for (const CLSID* clsid : {&unknown}) {
    void* p = reinterpret_cast<void*>(0xCAFECAFE);
    EXPECT_EQ(DllGetClassObject(*clsid, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE)
        << ZYT::WideToUtf8(ZYT::GuidToString(*clsid));
    EXPECT_EQ(p, nullptr);
  }
  EXPECT_EQ(DllGetClassObject(CLSID_NullFileFilter, IID_IClassFactory, nullptr), E_POINTER);
  {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(DllGetClassObject(CLSID_XMLProxyFilter, IID_IClassFactory, factory.put_void()), S_OK);
    ComPtr<IPersistFile> file;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IPersistFile, file.put_void()), S_OK);
    CLSID clsid{};
    EXPECT_EQ(file->GetClassID(&clsid), S_OK);
    EXPECT_TRUE(IsEqualGUID(clsid, CLSID_XMLProxyFilter));
  }
  void* p = reinterpret_cast<void*>(0xCAFECAFE);
  EXPECT_EQ(DllGetClassObject(CLSID_NullFileFilter, IID_IPersistFile, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
}

// Each filter class is handed out as an IFilter with its IPersistFile and its
// own class id, and with what else its callers need of it.
TEST_F(EntryPointTest, TheFiltersAreHandedOutWithTheirPersistFileAndOwnClassIds) {
  const auto nothingLoaded = [](IFilter* filter, IPersistFile* persist) {
    STAT_CHUNK chunk{};
    EXPECT_EQ(filter->GetChunk(&chunk), E_FAIL) << "nothing to filter before Load";
    LPOLESTR current = reinterpret_cast<LPOLESTR>(0xCAFECAFE);
    EXPECT_EQ(persist->GetCurFile(&current), E_FAIL);
    EXPECT_EQ(current, nullptr);
  };
  const auto dispatch = [](IFilter* filter, IPersistFile*) {
    ComPtr<IUnknown> dual;
    EXPECT_EQ(filter->QueryInterface(IID_IDispatch, dual.put_void()), S_OK);
  };
  struct Case {
    const CLSID& clsid;
    std::function<void(IFilter*, IPersistFile*)> more;
  };
  const Case cases[] = {
      {CLSID_ArchiveFilter, nullptr},
      {CLSID_XMLFilter, nullptr},
      {CLSID_SimpleFileFilterAdapter,
       [](IFilter* filter, IPersistFile*) {
         ComPtr<IUnknown> simple;
         EXPECT_EQ(filter->QueryInterface(uuidof<ISimpleFileFilter>(), simple.put_void()), E_NOINTERFACE)
             << "the adapter serves plug-ins, it is not one";
       }},
      {CLSID_URLFilter, dispatch},
      {CLSID_QhsFilter, dispatch},
      {CLSID_PimFilter, nothingLoaded},
      {CLSID_FeedItemFilter, nothingLoaded},
      {CLSID_HttpItemFilter, nothingLoaded},
      {CLSID_QharcFilter,
       [](IFilter* filter, IPersistFile* persist) {
         ComPtr<IUnknown> dual;
         EXPECT_EQ(filter->QueryInterface(IID_IQharcFilter, dual.put_void()), S_OK);
         LPOLESTR path = reinterpret_cast<LPOLESTR>(0x1);
         EXPECT_EQ(persist->GetCurFile(&path), E_FAIL) << "nothing loaded yet";
         EXPECT_EQ(path, nullptr);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ZYT::WideToUtf8(ZYT::GuidToString(c.clsid)));
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(DllGetClassObject(c.clsid, IID_IClassFactory, factory.put_void()), S_OK);
    ComPtr<IFilter> filter;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IFilter, filter.put_void()), S_OK);
    ComPtr<IPersistFile> persist;
    ASSERT_EQ(filter.As(persist), S_OK);
    CLSID own{};
    ASSERT_EQ(persist->GetClassID(&own), S_OK);
    EXPECT_EQ(own, c.clsid);
    if (c.more) c.more(filter.get(), persist.get());
  }
}

TEST_F(EntryPointTest, TheDocTypeManagerIsHandedOutAsADualInterface) {
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(DllGetClassObject(CLSID_DocTypeManager, IID_IClassFactory, factory.put_void()), S_OK);
  ComPtr<IDispatch> dispatch;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, dispatch.put_void()), S_OK);
  ComPtr<IOrreryDocTypeManager> manager;
  ASSERT_EQ(dispatch.As(manager), S_OK);
  EXPECT_EQ(static_cast<IDispatch*>(manager.get()), dispatch.get()) << "IDispatch is the dual interface's own";
  std::u16string name = u"RestoreDefaults";
  LPOLESTR names[] = {name.data()};
  DISPID id = 0;
  EXPECT_EQ(dispatch->GetIDsOfNames(GUID_NULL, names, 1, 0x409, &id), S_OK);
  EXPECT_EQ(id, DISPID_RestoreDefaults);
}

TEST_F(EntryPointTest, UnloadingWaitsForObjectsAndServerLocks) {
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(DllGetClassObject(CLSID_NullFileFilter, IID_IClassFactory, factory.put_void()), S_OK);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE) << "a class object handed out";
  ComPtr<ISimpleFileFilter> filter;
  ASSERT_EQ(factory->CreateInstance(nullptr, uuidof<ISimpleFileFilter>(), filter.put_void()), S_OK);
  ASSERT_EQ(factory->LockServer(TRUE), S_OK);
  factory.Reset();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE) << "an object and a server lock";
  filter.Reset();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE) << "the server lock alone";
  ASSERT_EQ(DllGetClassObject(CLSID_NullFileFilter, IID_IClassFactory, factory.put_void()), S_OK);
  factory->LockServer(FALSE);
  factory.Reset();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST_F(EntryPointTest, ClassObjectsAreCachedAndAggregationFollowsTheRules) {
  ComPtr<IClassFactory> first, second;
  ASSERT_EQ(DllGetClassObject(CLSID_NullFileFilter, IID_IClassFactory, first.put_void()), S_OK);
  ASSERT_EQ(DllGetClassObject(CLSID_NullFileFilter, IID_IUnknown, second.put_void()), S_OK);
  EXPECT_EQ(static_cast<IUnknown*>(first.get()), static_cast<IUnknown*>(second.get()));

  struct Outer final : IUnknown {
    HRESULT QueryInterface(REFIID, void** ppv) override {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    ULONG refs = 1;
  } outer;
  void* p = reinterpret_cast<void*>(0xCAFECAFE);
  EXPECT_EQ(first->CreateInstance(&outer, uuidof<ISimpleFileFilter>(), &p), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(p, nullptr);
  ASSERT_EQ(first->CreateInstance(&outer, IID_IUnknown, &p), S_OK);
  auto* inner = static_cast<IUnknown*>(p);
  ISimpleFileFilter* simple = nullptr;
  ASSERT_EQ(inner->QueryInterface(&simple), S_OK);
  EXPECT_EQ(outer.refs, 2u) << "the aggregated interface counts on the outer object";
  simple->Release();
  EXPECT_EQ(inner->Release(), 0u);
}

}  // namespace
