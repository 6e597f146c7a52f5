// The registry may name any in-process class as a file type's filter. One
// that lets a C++ exception out of its methods meets the catalog proxy's one
// COM boundary: the indexer gets an HRESULT, the log gets the cause.
#include <gtest/gtest.h>

#include <new>

#include "platform/com/ClassFactory.h"
#include "platform/com/ComObject.h"
#include "platform/com/TaskAllocator.h"
#include "platform/win32/Strings.h"
#include "tests/support/FakeFilter.h"
#include "tests/reliability/ProxyMachine.h"
#include "tests/support/Repository.h"

namespace ZYT::Test {
namespace {

constexpr CLSID kThrowingFilter = MakeGuid("{FA4E0000-0000-0000-0000-0000000000C7}");
constexpr char16_t kThrowingHandler[] = u"{FA4E0000-0000-0000-0000-0000000000C8}";

// A text chunk, then a value chunk; the method named in g_throwIn throws.
std::string g_throwIn;

class CThrowingFilter : public CFakeFilterBase {
 public:
  ZYT_BEGIN_INTERFACE_MAP(CThrowingFilter)
  ZYT_INTERFACE(IFilter)
  ZYT_INTERFACE(IPersistFile)
  ZYT_END_INTERFACE_MAP()
  using ThreadModel = MultiThreadModel;

 protected:
  const std::vector<FakeChunk>& Chunks() override {
    static const GUID set = MakeGuid("{AA568EEC-E0E5-11CF-8FDA-00AA00A14F93}");
    static const std::vector<FakeChunk> chunks{{.set = set, .id = 5, .text = u"x"},
                                               {.isText = false, .set = set, .id = 5, .text = u"subject"}};
    return chunks;
  }
  CLSID ClassId() override { return kThrowingFilter; }
  HRESULT Loaded(LPCOLESTR) override { return S_OK; }
  void Hook(const char* method) override {
    if (g_throwIn == method) ThrowHResult(FILTER_E_ACCESS);
  }
};

class ProxyBoundaryTest : public ProxyMachineTest {
 protected:
  void SetUp() override {
    ProxyMachineTest::SetUp();
    ASSERT_EQ(RegisterFake<CThrowingFilter>(kThrowingFilter, &m_cookie), S_OK);
  }
  void TearDown() override {
    CoRevokeClassObject(m_cookie);
    g_throwIn.clear();
    ProxyMachineTest::TearDown();
  }
  DWORD m_cookie = 0;
};

TEST_F(ProxyBoundaryTest, EveryMethodAnswersAnHResult) {
  Configure(Field(3));
  const std::u16string classes = u"SOFTWARE\\Classes\\";
  const std::u16string addin = classes + u"CLSID\\" + kThrowingHandler +
                               u"\\PersistentAddinsRegistered\\{89BCB740-6119-101A-BCB7-00DD010655AF}";
  SetRegistryString(HKEY_LOCAL_MACHINE, classes + u".thr\\PersistentHandler", u"", kThrowingHandler);
  SetRegistryString(HKEY_LOCAL_MACHINE, addin, u"", kProxyClsid);
  SetRegistryString(HKEY_LOCAL_MACHINE, addin, u"ZYTOrrerySavedFilterKey", GuidToString(kThrowingFilter));
  WriteBytes(PathIn("in/doc.thr"), "x");
  ASSERT_EQ(mkdir(PathIn("repo/Debug.Filter").c_str(), 0700), 0);

  struct Case {
    const char* method;
    HRESULT expected;
  };
  for (const Case& c : {Case{"Load", FILTER_E_ACCESS}, Case{"Init", FILTER_E_ACCESS}, Case{"GetChunk", FILTER_E_ACCESS},
                        Case{"GetText", FILTER_E_ACCESS}, Case{"GetValue", FILTER_E_NO_VALUES}}) {
    SCOPED_TRACE(c.method);
    g_throwIn = c.method;
    const LONG allocations = OutstandingTaskAllocations();
    HRESULT answer = S_OK;
    {
      ComPtr<IFilter> proxy;
      ASSERT_EQ(CoCreateInstance(kProxy, nullptr, CLSCTX_ALL, IID_IFilter, proxy.put_void()), S_OK);
      ComPtr<IPersistFile> file;
      ASSERT_EQ(proxy.As(file), S_OK);
      answer = file->Load(PathInW("in/doc.thr").c_str(), 0);
      if (g_throwIn != "Load") {
        ULONG flags = 0;
        answer = proxy->Init(IFILTER_INIT_APPLY_INDEX_ATTRIBUTES, 0, nullptr, &flags);
      }
      STAT_CHUNK chunk;
      if (g_throwIn != "Load" && g_throwIn != "Init") answer = proxy->GetChunk(&chunk);
      if (g_throwIn == "GetText") {
        WCHAR buffer[8];
        ULONG count = 8;
        answer = proxy->GetText(&count, buffer);
      }
      if (g_throwIn == "GetValue") {
        ASSERT_EQ(proxy->GetChunk(&chunk), S_OK);
        PROPVARIANT* value = nullptr;
        answer = proxy->GetValue(&value);
        EXPECT_EQ(value, nullptr);
      }
    }
    EXPECT_EQ(answer, c.expected);
    EXPECT_EQ(OutstandingTaskAllocations(), allocations) << "task memory left behind";
  }
  const std::string log = FilterLogs(*this);
  EXPECT_NE(log.find("ProxyBoundaryTest.cpp, line "), std::string::npos) << "the place it was thrown:\n" << log;
  EXPECT_NE(log.find("_com_error 0x80041703"), std::string::npos) << log;
}

}  // namespace
}  // namespace ZYT::Test
