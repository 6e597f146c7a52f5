// The message filter keeps the ".eml" mail filter it found while the registry
// stays as it was; a registration that points ".eml" at another filter is
// seen by the next message.
#include <gtest/gtest.h>

#include "interfaces/ClassIds.h"
#include "platform/com/ClassFactory.h"
#include "platform/com/ComPtr.h"
#include "platform/com/Filter.h"
#include "platform/com/ObjBase.h"
#include "platform/com/ObjIdl.h"
#include "platform/win32/Strings.h"
#include "tests/reliability/ClientHosts.h"
#include "tests/support/FakeFilter.h"

namespace ZYT::Test::MonitorClient {
namespace {

constexpr CLSID kFirstMailFilter = ZYT::MakeGuid("{C11E0019-0000-0000-0000-000000000001}");
constexpr CLSID kSecondMailFilter = ZYT::MakeGuid("{C11E0019-0000-0000-0000-000000000002}");
std::vector<std::string> g_loadedBy;  // the class of each mail filter that a Load reached

class CRecordingMailFilter : public CFakeFilterBase {
 protected:
  const std::vector<FakeChunk>& Chunks() override { return m_none; }
  HRESULT Loaded(LPCOLESTR) override {
    g_loadedBy.push_back(WideToUtf8(GuidToString(ClassId())));
    return S_OK;
  }

 private:
  std::vector<FakeChunk> m_none;
};

class CFirstMailFilter : public CRecordingMailFilter {
 public:
  ZYT_BEGIN_INTERFACE_MAP(CFirstMailFilter)
  ZYT_INTERFACE(IFilter)
  ZYT_INTERFACE(IPersistFile)
  ZYT_END_INTERFACE_MAP()
 protected:
  CLSID ClassId() override { return kFirstMailFilter; }
};

class CSecondMailFilter : public CRecordingMailFilter {
 public:
  ZYT_BEGIN_INTERFACE_MAP(CSecondMailFilter)
  ZYT_INTERFACE(IFilter)
  ZYT_INTERFACE(IPersistFile)
  ZYT_END_INTERFACE_MAP()
 protected:
  CLSID ClassId() override { return kSecondMailFilter; }
};

class MsgPerfSavedFilterTest : public ClientMachineTest {
 protected:
  void SetUp() override {
    ClientMachineTest::SetUp();
    g_loadedBy.clear();
    ASSERT_EQ(RegisterFake<CFirstMailFilter>(kFirstMailFilter, &m_cookies[0]), S_OK);
    ASSERT_EQ(RegisterFake<CSecondMailFilter>(kSecondMailFilter, &m_cookies[1]), S_OK);
    SetRegistryString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\.eml\\PersistentHandler", u"", kHandler);
    SaveMailFilter(kFirstMailFilter);
  }
  void TearDown() override {
    for (DWORD cookie : m_cookies) CoRevokeClassObject(cookie);
    ClientMachineTest::TearDown();
  }

  // What registration saves as the filter behind ".eml"'s handler.
  void SaveMailFilter(const CLSID& filter) {
    SetRegistryString(HKEY_LOCAL_MACHINE,
                      u"SOFTWARE\\Classes\\CLSID\\" + std::u16string(kHandler) +
                          u"\\PersistentAddinsRegistered\\{89BCB740-6119-101A-BCB7-00DD010655AF}",
                      u"ZYTOrrerySavedFilterKey", GuidToString(filter));
  }
  // One message through a message filter object of its own.
  HRESULT LoadMessage() {
    ComPtr<IPersistFile> filter;
    HRESULT hr = CoCreateInstance(CLSID_EmailFilter, nullptr, CLSCTX_INPROC_SERVER, uuidof<IPersistFile>(),
                                  filter.put_void());
    return SUCCEEDED(hr) ? filter->Load(PathInW("a.qhm").c_str(), 0) : hr;
  }

  static constexpr char16_t kHandler[] = u"{C11E0019-0000-0000-0000-0000000000AA}";
  DWORD m_cookies[2] = {};
};

TEST_F(MsgPerfSavedFilterTest, ARegistrationThatMovesTheMailFilterIsSeenByTheNextMessage) {
  WriteMessage(PathIn("a.qhm"), "Alpha");
  StartMonitor();
  const std::string first = WideToUtf8(GuidToString(kFirstMailFilter)), second = WideToUtf8(GuidToString(kSecondMailFilter));
  ASSERT_EQ(LoadMessage(), S_OK);
  ASSERT_EQ(LoadMessage(), S_OK);
  SaveMailFilter(kSecondMailFilter);
  ASSERT_EQ(LoadMessage(), S_OK);
  EXPECT_EQ(g_loadedBy, (std::vector<std::string>{first, first, second}));
  EXPECT_TRUE(TempFiles().empty());
}

}  // namespace
}  // namespace ZYT::Test::MonitorClient
