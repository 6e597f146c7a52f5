#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/com/ClassFactory.h"
#include "platform/com/ObjIdl.h"

namespace {

struct IAlpha : IUnknown {
  static constexpr IID iid = ZYT::MakeGuid("{11111111-0000-0000-0000-00000000000A}");
  virtual LONG Alpha() = 0;

 protected:
  ~IAlpha() = default;
};
struct IBeta : IUnknown {
  static constexpr IID iid = ZYT::MakeGuid("{11111111-0000-0000-0000-00000000000B}");
  virtual LONG Beta() = 0;

 protected:
  ~IBeta() = default;
};

int g_live = 0;
int g_finalReleases = 0;
HRESULT g_finalConstructResult = S_OK;
bool g_finalConstructThrows = false;

class CSample : public ZYT::CComObjectRoot, public IAlpha, public IBeta {
 public:
  ZYT_BEGIN_INTERFACE_MAP(CSample)
  ZYT_INTERFACE(IAlpha)
  ZYT_INTERFACE(IBeta)
  ZYT_END_INTERFACE_MAP()

  CSample() { ++g_live; }
  ~CSample() { --g_live; }
  HRESULT FinalConstruct() {
    if (g_finalConstructThrows) throw std::bad_alloc();
    return g_finalConstructResult;
  }
  void FinalRelease() noexcept { ++g_finalReleases; }
  LONG Alpha() override { return 1; }
  LONG Beta() override { return 2; }
};

using Sample = ZYT::CComObject<CSample>;

// An outer object that aggregates a CSample and keeps its own count.
class Outer final : public IUnknown {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (IsEqualIID(riid, IID_IUnknown)) {
      *ppv = this;
      AddRef();
      return S_OK;
    }
    return inner->QueryInterface(riid, ppv);
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  ULONG refs = 1;
  IUnknown* inner = nullptr;
};

class ComObjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_live = 0;
    g_finalReleases = 0;
    g_finalConstructResult = S_OK;
    g_finalConstructThrows = false;
    m_locks = ZYT::ModuleLock::Count();
  }
  void TearDown() override {
    EXPECT_EQ(g_live, 0) << "an object outlived its last Release";
    EXPECT_EQ(ZYT::ModuleLock::Count(), m_locks) << "module lock not given back";
  }
  LONG m_locks = 0;
};

TEST_F(ComObjectTest, QueryInterfaceKeepsIdentityAndSymmetry) {
  IAlpha* alpha = nullptr;
  ASSERT_EQ(Sample::CreateInstance(nullptr, uuidof<IAlpha>(), reinterpret_cast<void**>(&alpha)), S_OK);
  EXPECT_EQ(ZYT::ModuleLock::Count(), m_locks + 1);
  IBeta* beta = nullptr;
  ASSERT_EQ(alpha->QueryInterface(&beta), S_OK);
  EXPECT_EQ(beta->Beta(), 2);
  IAlpha* back = nullptr;
  ASSERT_EQ(beta->QueryInterface(&back), S_OK);
  EXPECT_EQ(back, alpha);
  IUnknown *u1 = nullptr, *u2 = nullptr;
  alpha->QueryInterface(&u1);
  beta->QueryInterface(&u2);
  EXPECT_EQ(u1, u2) << "IUnknown must be the same pointer from every interface";
  void* none = reinterpret_cast<void*>(0xCAFECAFE);
  EXPECT_EQ(alpha->QueryInterface(IID_IPersist, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(alpha->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
  for (IUnknown* p : {static_cast<IUnknown*>(beta), static_cast<IUnknown*>(back), u1, u2}) p->Release();
  EXPECT_EQ(g_live, 1);
  EXPECT_EQ(alpha->Release(), 0u);
  EXPECT_EQ(g_live, 0);
  EXPECT_EQ(g_finalReleases, 1);
}

TEST_F(ComObjectTest, FailedFinalConstructDestroysTheObject) {
  void* p = reinterpret_cast<void*>(0xCAFECAFE);
  g_finalConstructResult = E_ACCESSDENIED;
  EXPECT_EQ(Sample::CreateInstance(nullptr, uuidof<IAlpha>(), &p), E_ACCESSDENIED);
  EXPECT_EQ(p, nullptr);
  g_finalConstructResult = S_OK;
  g_finalConstructThrows = true;
  EXPECT_EQ(Sample::CreateInstance(nullptr, uuidof<IAlpha>(), &p), E_OUTOFMEMORY);
  EXPECT_EQ(g_live, 0);
}

TEST_F(ComObjectTest, UnknownInterfaceAtCreationDestroysTheObject) {
  void* p = reinterpret_cast<void*>(0xCAFECAFE);
  EXPECT_EQ(Sample::CreateInstance(nullptr, IID_IPersist, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(g_live, 0);
}

TEST_F(ComObjectTest, AggregatedObjectDelegatesToItsOuter) {
  Outer outer;
  void* p = reinterpret_cast<void*>(0xCAFECAFE);
  EXPECT_EQ(Sample::CreateInstance(&outer, uuidof<IAlpha>(), &p), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(p, nullptr);
  ASSERT_EQ(Sample::CreateInstance(&outer, IID_IUnknown, &p), S_OK);
  outer.inner = static_cast<IUnknown*>(p);

  IAlpha* alpha = nullptr;
  ASSERT_EQ(outer.inner->QueryInterface(&alpha), S_OK);
  EXPECT_EQ(outer.refs, 2u) << "an aggregated interface counts on the outer object";
  IUnknown* identity = nullptr;
  ASSERT_EQ(alpha->QueryInterface(&identity), S_OK);
  EXPECT_EQ(identity, &outer) << "IUnknown of an aggregated interface is the outer's";
  identity->Release();
  alpha->Release();
  EXPECT_EQ(outer.refs, 1u);
  EXPECT_EQ(g_live, 1);
  EXPECT_EQ(outer.inner->Release(), 0u);
  EXPECT_EQ(g_live, 0);
}

TEST_F(ComObjectTest, ComPtrStatesOwnership) {
  ZYT::ComPtr<Sample> object;
  ASSERT_EQ(Sample::Create(object), S_OK);
  EXPECT_EQ(object->RefCount(), 1u);
  {
    ZYT::ComPtr<IAlpha> added(static_cast<IAlpha*>(object.get()));
    EXPECT_EQ(object->RefCount(), 2u) << "the raw-pointer constructor adds a reference";
    ZYT::ComPtr<IBeta> beta;
    ASSERT_EQ(added.As(beta), S_OK);
    EXPECT_EQ(object->RefCount(), 3u);
    ZYT::ComPtr<IBeta> moved(std::move(beta));
    EXPECT_EQ(object->RefCount(), 3u);
    EXPECT_FALSE(beta);
  }
  EXPECT_EQ(object->RefCount(), 1u);
  object->AddRef();
  auto adopted = ZYT::ComPtr<Sample>::Adopt(object.get());
  EXPECT_EQ(object->RefCount(), 2u) << "Adopt takes over a reference without adding one";
  adopted.put();
  EXPECT_EQ(object->RefCount(), 1u) << "put() releases what it held";
  ZYT::ComPtr<IAlpha> out;
  IAlpha* raw = nullptr;
  EXPECT_EQ(ZYT::ComPtr<IAlpha>(static_cast<IAlpha*>(object.get())).CopyTo(&raw), S_OK);
  EXPECT_EQ(object->RefCount(), 2u);
  raw->Release();
}

TEST_F(ComObjectTest, ClassFactoryLocksTheModuleOnlyForHandedOutReferences) {
  const CLSID clsid = ZYT::MakeGuid("{11111111-0000-0000-0000-0000000000CF}");
  const ZYT::ClassEntry entries[] = {{&clsid, &ZytCreateInstance<CSample>}};
  ZYT::CClassTable table(entries, 1);
  IClassFactory* factory = nullptr;
  ASSERT_EQ(table.GetClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  EXPECT_EQ(ZYT::ModuleLock::Count(), m_locks + 1) << "a handed-out class object locks the module";
  IClassFactory* again = nullptr;
  ASSERT_EQ(table.GetClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&again)), S_OK);
  EXPECT_EQ(again, factory) << "the class object is cached";
  again->Release();
  ASSERT_EQ(factory->LockServer(TRUE), S_OK);
  factory->Release();
  EXPECT_EQ(ZYT::ModuleLock::Count(), m_locks + 1) << "LockServer keeps its lock after release";
  ASSERT_EQ(table.GetClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  factory->LockServer(FALSE);
  void* p = reinterpret_cast<void*>(0xCAFECAFE);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);
  Outer outer;
  EXPECT_EQ(factory->CreateInstance(&outer, uuidof<IAlpha>(), &p), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(p, nullptr);
  factory->Release();
  EXPECT_EQ(ZYT::ModuleLock::Count(), m_locks);
  void* none = reinterpret_cast<void*>(0xCAFECAFE);
  const CLSID other = ZYT::MakeGuid("{11111111-0000-0000-0000-0000000000CE}");
  EXPECT_EQ(table.GetClassObject(other, IID_IClassFactory, &none), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(none, nullptr);
}

}  // namespace
