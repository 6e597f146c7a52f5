#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "framework/AbstractProxyFilter.h"
#include "framework/FilterInit.h"
#include "framework/TempFileLock.h"
#include "platform/com/ClassFactory.h"
#include "platform/com/ObjBase.h"
#include "tests/support/FakeFilter.h"
#include "tests/support/ProtocolDriver.h"
#include "platform/win32/Registry.h"
#include "platform/win32/Strings.h"
#include "tests/support/TestEnvironment.h"

namespace {

using namespace ZYT::Test;
using ZYT::ComPtr;

constexpr CLSID CLSID_FakeFilter = ZYT::MakeGuid("{FA4E0000-0000-0000-0000-000000000001}");

// What the fake proxied filter does, set by each test.
struct Script {
  std::vector<ZYT::Test::FakeChunk> chunks;  // one text chunk each, ids 1..n
  HRESULT initResult = S_OK;
  HRESULT endCode = FILTER_E_END_OF_CHUNKS;
  int getTextCalls = 0;
  int alive = 0;
  std::u16string loadedPath;
} g_script;

class CFakeFilter : public ZYT::Test::CFakeFilterBase {
 public:
  ZYT_BEGIN_INTERFACE_MAP(CFakeFilter)
  ZYT_INTERFACE(IFilter)
  ZYT_INTERFACE(IPersistFile)
  ZYT_END_INTERFACE_MAP()
  CFakeFilter() { ++g_script.alive; }
  ~CFakeFilter() { --g_script.alive; }

 protected:
  const std::vector<ZYT::Test::FakeChunk>& Chunks() override { return g_script.chunks; }
  CLSID ClassId() override { return CLSID_FakeFilter; }
  HRESULT Loaded(LPCOLESTR path) override {
    g_script.loadedPath = path;
    return S_OK;
  }
  void Hook(const char* method) override { g_script.getTextCalls += std::string(method) == "GetText"; }
  HRESULT InitResult() override { return g_script.initResult; }
  HRESULT EndCode() override { return g_script.endCode; }
};

// A proxy with two own chunks: property 9 (text) and 13 (a number).
class CTestProxy : public ZYT::CComObjectRoot, public CAbstractProxyFilter {
 public:
  ZYT_BEGIN_INTERFACE_MAP(CTestProxy)
  ZYT_INTERFACE(IFilter)
  ZYT_INTERFACE(IPersistFile)
  ZYT_END_INTERFACE_MAP()
  CTestProxy() : CAbstractProxyFilter(u"TST") {}
  HRESULT FinalConstruct() { return CAbstractProxyFilter::FinalConstruct(); }
  void FinalRelease() noexcept { CAbstractProxyFilter::FinalRelease(); }
  HRESULT GetClassID(CLSID* c) override {
    *c = GUID_NULL;
    return S_OK;
  }
  int valueHookCalls = 0;
  std::u16string proxied = ZYT::GuidToString(CLSID_FakeFilter);
  using CAbstractProxyFilter::findSavedFilterClsid;
  using CAbstractProxyFilter::deleteTempFile;
  using CAbstractProxyFilter::getTempFile;

 protected:
  HRESULT getPropertyChunk(ULONG ordinal, STAT_CHUNK& chunk) override {
    if (ordinal > 2) return FILTER_E_END_OF_CHUNKS;
    chunk.attribute.psProperty.propid = ordinal == 1 ? 9 : 13;
    return S_OK;
  }
  HRESULT getPropertyValue(const STAT_CHUNK& chunk, PROPVARIANT& value) override {
    ++valueHookCalls;
    value.vt = VT_UI4;
    value.ulVal = chunk.attribute.psProperty.propid * 100;
    return S_OK;
  }
  HRESULT loadDocument(IPersistFile* file, const std::u16string& path, DWORD mode) override {
    return file->Load((path + u".prepared").c_str(), mode);
  }
  std::u16string getProxiedFilterClsid() override { return proxied; }
};

using Proxy = ZYT::CComObject<CTestProxy>;

class AbstractProxyFilterTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    g_script = Script();
    ASSERT_EQ(ZYT::Test::RegisterFake<CFakeFilter>(CLSID_FakeFilter, &m_cookie), S_OK);
    ASSERT_EQ(Proxy::Create(m_proxy), S_OK);
  }
  void TearDown() override {
    m_proxy.Reset();
    CoRevokeClassObject(m_cookie);
    EXPECT_EQ(g_script.alive, 0) << "a proxied filter was not released";
    MachineTest::TearDown();
  }
  static DriveOptions Options() {
    DriveOptions o;
    o.valueTextForwarded = true;
    return o;
  }
  DWORD m_cookie = 0;
  ComPtr<Proxy> m_proxy;
};

TEST_F(AbstractProxyFilterTest, OwnChunksFollowTheProxiedFiltersLast) {
  g_script.chunks = ZYT::Test::TextChunks({u"one", u"two", u"three"});
  ASSERT_EQ(m_proxy->Load(u"/doc.x", 0), S_OK);
  EXPECT_EQ(g_script.loadedPath, u"/doc.x.prepared") << "the subclass prepares what the proxied filter loads";
  ZYT::WalkResult r = DriveFilter(m_proxy.get(), Options());
  ASSERT_TRUE(ObeysProtocol(r));
  ASSERT_EQ(r.chunks.size(), 5u);
  EXPECT_EQ(Texts(r), (std::vector<std::u16string>{u"one", u"two", u"three"}));
  EXPECT_EQ(Values(r), (std::vector<std::string>{"900", "1300"}));
  const STAT_CHUNK& own = r.chunks[3].stat;
  EXPECT_EQ(own.idChunk, 4u);
  EXPECT_EQ(own.idChunkSource, 4u);
  EXPECT_EQ(own.breakType, CHUNK_EOS);
  EXPECT_EQ(ZYT::GuidToString(own.attribute.guidPropSet), u"{AA69B8CB-2620-4097-81F9-1CC3D0E15C2C}");
  EXPECT_EQ(r.end, FILTER_E_END_OF_CHUNKS);
}

TEST_F(AbstractProxyFilterTest, AccessDeniedProxyStillYieldsOwnChunksFromOne) {
  g_script.chunks = ZYT::Test::TextChunks({u"never"});
  g_script.endCode = FILTER_E_ACCESS;
  g_script.chunks.clear();
  g_script.initResult = FILTER_E_ACCESS;
  ASSERT_EQ(m_proxy->Load(u"/doc.x", 0), S_OK);
  ULONG flags = 0;
  EXPECT_EQ(m_proxy->Init(0x10, 0, nullptr, &flags), S_OK) << "a failing proxied Init is not passed on";
  STAT_CHUNK chunk;
  ASSERT_EQ(m_proxy->GetChunk(&chunk), S_OK);
  EXPECT_EQ(chunk.idChunk, 1u);
  EXPECT_EQ(chunk.attribute.psProperty.propid, 9u);
}

TEST_F(AbstractProxyFilterTest, EachOwnChunkHasOneValueAndTextIsForwarded) {
  g_script.chunks = ZYT::Test::TextChunks({u"t"});
  ASSERT_EQ(m_proxy->Load(u"/doc.x", 0), S_OK);
  ULONG flags = 0;
  m_proxy->Init(0, 0, nullptr, &flags);
  STAT_CHUNK chunk;
  m_proxy->GetChunk(&chunk);
  ASSERT_EQ(m_proxy->GetChunk(&chunk), S_OK);
  PROPVARIANT* value = nullptr;
  ASSERT_EQ(m_proxy->GetValue(&value), S_OK);
  PropVariantClear(value);
  CoTaskMemFree(value);
  EXPECT_EQ(m_proxy->GetValue(&value), FILTER_E_NO_MORE_VALUES);
  EXPECT_EQ(m_proxy->valueHookCalls, 1) << "the hook is not asked twice";
  int before = g_script.getTextCalls;
  WCHAR buffer[8];
  ULONG n = 8;
  m_proxy->GetText(&n, buffer);
  EXPECT_EQ(g_script.getTextCalls, before + 1) << "GetText goes to the proxied filter in the own phase too";
  ZYT::FailTaskAllocations(0, 1);
  ASSERT_EQ(m_proxy->GetChunk(&chunk), S_OK);
  EXPECT_EQ(m_proxy->GetValue(&value), E_OUTOFMEMORY);
  EXPECT_EQ(value, nullptr);
  ZYT::FailTaskAllocations(0, 0);
}

TEST_F(AbstractProxyFilterTest, SecondLoadReplacesTheProxiedFilter) {
  ASSERT_EQ(m_proxy->Load(u"/a", 0), S_OK);
  EXPECT_EQ(g_script.alive, 1);
  ASSERT_EQ(m_proxy->Load(u"/b", 0), S_OK);
  EXPECT_EQ(g_script.alive, 1) << "the first proxied filter is released";
  LPOLESTR path = nullptr;
  ASSERT_EQ(m_proxy->GetCurFile(&path), S_OK);
  EXPECT_EQ(std::u16string(path), u"/b");
  CoTaskMemFree(path);
  m_proxy->proxied = u"Zyt.NoSuchFilter";
  EXPECT_EQ(m_proxy->Load(u"/c", 0), CO_E_CLASSSTRING);
  STAT_CHUNK chunk;
  ULONG flags = 0;
  EXPECT_EQ(m_proxy->Init(0, 0, nullptr, &flags), E_FAIL) << "without a proxied filter every call fails";
  EXPECT_EQ(m_proxy->GetChunk(&chunk), E_FAIL);
  PROPVARIANT* value = nullptr;
  EXPECT_EQ(m_proxy->GetValue(&value), E_FAIL);
}

TEST_F(AbstractProxyFilterTest, TempFilesAndTheSavedFilterLookup) {
  UseSettingsServer(*this, "<settings><repository><user location=\"" + PathIn("repo") + "\"/></repository></settings>");
  std::u16string file = m_proxy->getTempFile(u"");
  EXPECT_EQ(file.substr(0, PathInW("repo/temp/zyt").size()), PathInW("repo/temp/zyt"));
  EXPECT_TRUE(Exists(ZYT::WideToUtf8(file)));
  WriteBytes(PathIn("blocked"), "");
  UseSettingsServer(*this, "<settings><repository><user location=\"" + PathIn("blocked/x") + "\"/></repository></settings>");
  EXPECT_THROW(m_proxy->getTempFile(u"qhm"), ZYT::HResultException) << "neither temp nor the location can hold it";
  mkdir(PathIn("loc").c_str(), 0700);
  WriteBytes(PathIn("loc/temp"), "a file where the folder should be");
  UseSettingsServer(*this, "<settings><repository><user location=\"" + PathIn("loc") + "\"/></repository></settings>");
  file = m_proxy->getTempFile(u"qhm");
  EXPECT_EQ(file.substr(0, PathInW("loc/qhm").size()), PathInW("loc/qhm")) << "the location itself stands in";

  EXPECT_EQ(m_proxy->findSavedFilterClsid(kEmlFilterRow), u"{5645C8C2-E277-11CF-8FDA-00AA00A14F93}");
  SetRegistryString(HKEY_LOCAL_MACHINE,
                    u"SOFTWARE\\Classes\\CLSID\\{5645C8C4-E277-11CF-8FDA-00AA00A14F93}\\PersistentAddinsRegistered\\"
                    u"{89BCB740-6119-101A-BCB7-00DD010655AF}",
                    u"ZYTOrrerySavedFilterKey", u"{11111111-2222-3333-4444-555555555555}");
  EXPECT_EQ(m_proxy->findSavedFilterClsid(kEmlFilterRow), u"{11111111-2222-3333-4444-555555555555}")
      << "the filter saved under the default handler wins";
}

// Whether another process (or object) could take the file's lock now.
bool Free(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
  close(fd);
  return free;
}

TEST_F(AbstractProxyFilterTest, TempFilesAreHeldUntilDeletedAndLeftoversSwept) {
  UseSettingsServer(*this, "<settings><repository><user location=\"" + PathIn("repo") + "\"/></repository></settings>");
  mkdir(PathIn("repo").c_str(), 0700);
  mkdir(PathIn("repo/temp").c_str(), 0700);
  // Left by a host that died: unlocked files of the filters' names, and others.
  for (const char* name : {"qhm1.tmp", "pimFFFF.tmp", "htpa0.tmp", "zyt2.tmp"}) WriteBytes(PathIn("repo/temp/") + name, "");
  for (const char* name : {"qhm.tmp", "qhm12345.tmp", "qhmG.tmp", "xyz1.tmp", "qhm1.TMP", "readme"})
    WriteBytes(PathIn("repo/temp/") + name, "");

  std::u16string first = m_proxy->getTempFile(u"qhm");
  const std::string firstPath = ZYT::WideToUtf8(first);
  EXPECT_FALSE(Free(firstPath)) << "a live temporary file is held";
  std::vector<std::string> kept{firstPath.substr(PathIn("repo/temp/").size()), "qhm.tmp", "qhm1.TMP",
                                "qhm12345.tmp", "qhmG.tmp", "readme", "xyz1.tmp"};
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(ListDir(PathIn("repo/temp")), kept)
      << "the first temporary file of the process sweeps the leftovers, and only them";

  std::u16string second = m_proxy->getTempFile(u"");
  EXPECT_EQ(ZYT::SweepDeadTempFiles(PathInW("repo/temp")), 0u) << "held files are never swept";
  EXPECT_TRUE(Exists(firstPath));
  EXPECT_TRUE(m_proxy->deleteTempFile(first));
  EXPECT_FALSE(Exists(firstPath));
  EXPECT_FALSE(m_proxy->deleteTempFile(first)) << "a second deletion fails as DeleteFileW does";
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(Free(ZYT::WideToUtf8(second))) << "deleting one file lets go of that one only";
}

}  // namespace
