// A message filter loaded twice must not keep the first message's temporary
// file until its release: the second Load lets the first proxied filter go
// and deletes that file before it makes the next one.
#include <gtest/gtest.h>

#include <filesystem>

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

constexpr CLSID CLSID_WatchingMailFilter = ZYT::MakeGuid("{C11E0018-0000-0000-0000-000000000001}");

// What the proxied mail filter saw when each Load reached it.
struct Seen {
  std::u16string path;
  int alive = 0;
  std::vector<std::string> tempFiles;
};
std::vector<Seen> g_seen;
int g_alive = 0;
std::string g_tempFolder;

class CWatchingMailFilter : public CFakeFilterBase {
 public:
  ZYT_BEGIN_INTERFACE_MAP(CWatchingMailFilter)
  ZYT_INTERFACE(IFilter)
  ZYT_INTERFACE(IPersistFile)
  ZYT_END_INTERFACE_MAP()
  CWatchingMailFilter() { ++g_alive; }
  ~CWatchingMailFilter() { --g_alive; }

 protected:
  const std::vector<FakeChunk>& Chunks() override { return m_none; }
  CLSID ClassId() override { return CLSID_WatchingMailFilter; }
  HRESULT Loaded(LPCOLESTR path) override {
    std::vector<std::string> names;
    for (auto& entry : std::filesystem::directory_iterator(g_tempFolder)) names.push_back(entry.path().filename());
    g_seen.push_back({path, g_alive, names});
    return S_OK;
  }

 private:
  std::vector<FakeChunk> m_none;
};

class ClientSecondLoadTest : public ClientMachineTest {
 protected:
  void SetUp() override {
    ClientMachineTest::SetUp();
    g_seen.clear();
    g_tempFolder = TempFolder();
    ASSERT_EQ(RegisterFake<CWatchingMailFilter>(CLSID_WatchingMailFilter, &m_cookie), S_OK);
    // The mail filter that the message filter finds for ".eml".
    const std::u16string handler = u"{C11E0018-0000-0000-0000-0000000000AA}";
    SetRegistryString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\.eml\\PersistentHandler", u"", handler);
    SetRegistryString(HKEY_LOCAL_MACHINE,
                      u"SOFTWARE\\Classes\\CLSID\\" + handler +
                          u"\\PersistentAddinsRegistered\\{89BCB740-6119-101A-BCB7-00DD010655AF}",
                      u"ZYTOrrerySavedFilterKey", GuidToString(CLSID_WatchingMailFilter));
  }
  void TearDown() override {
    CoRevokeClassObject(m_cookie);
    EXPECT_EQ(g_alive, 0) << "a proxied filter was not released";
    ClientMachineTest::TearDown();
  }
  DWORD m_cookie = 0;
};

TEST_F(ClientSecondLoadTest, FirstMessagesFileAndFilterGoBeforeTheNext) {
  WriteMessage(PathIn("a.qhm"), "Alpha");
  WriteMessage(PathIn("b.qhm"), "Bravo");
  StartMonitor();
  ComPtr<IPersistFile> filter;
  ASSERT_EQ(CoCreateInstance(CLSID_EmailFilter, nullptr, CLSCTX_INPROC_SERVER, uuidof<IPersistFile>(), filter.put_void()),
            S_OK);
  ASSERT_EQ(filter->Load(PathInW("a.qhm").c_str(), 0), S_OK);
  ASSERT_EQ(filter->Load(PathInW("b.qhm").c_str(), 0), S_OK);
  ASSERT_EQ(g_seen.size(), 2u);
  const std::string first = WideToUtf8(g_seen[0].path).substr(TempFolder().size() + 1);
  const std::string second = WideToUtf8(g_seen[1].path).substr(TempFolder().size() + 1);
  EXPECT_NE(first, second);
  EXPECT_EQ(g_seen[1].alive, 1) << "the first mail filter was still alive when the second loaded";
  EXPECT_EQ(g_seen[1].tempFiles, std::vector<std::string>{second}) << "the first message's file was left";
  EXPECT_NE(ReadBytes(TempFolder() + "/" + second).find("Body of Bravo"), std::string::npos);

  // A second Load that fails still takes the previous message's file with it.
  WriteBytes(PathIn("gone.qhm"), "message: " + PathIn("missing.eml") + "\n");
  EXPECT_FALSE(SUCCEEDED(filter->Load(PathInW("gone.qhm").c_str(), 0)));
  EXPECT_TRUE(TempFiles().empty());
  filter.Reset();
  EXPECT_TRUE(TempFiles().empty());
}

}  // namespace
}  // namespace ZYT::Test::MonitorClient
