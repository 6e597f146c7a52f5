// The adapter between plug-in simple filters and the indexer: the plug-in
// class named by the extension's configuration, its chunks converted, what it
// hands over freed exactly once.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filters/xml/SimpleFileFilterAdapter.h"
#include "interfaces/ClassIds.h"
#include "interfaces/SimpleFileFilter.h"
#include "platform/com/ComPtr.h"
#include "platform/com/Guid.h"
#include "platform/win32/Registry.h"
#include "platform/win32/SysInfo.h"
#include "tests/support/ProtocolDriver.h"
#include "tests/support/Repository.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/WholeFileFilter.h"

namespace ZYT::Test {
namespace {

constexpr CLSID kScriptedFilter = MakeGuid("{5F1E0000-0000-0000-0000-0000000000A1}");
constexpr CLSID kNotAFilter = MakeGuid("{5F1E0000-0000-0000-0000-0000000000A2}");
constexpr char16_t kScriptedFilterText[] = u"{5F1E0000-0000-0000-0000-0000000000A1}";
constexpr GUID kOwnSet = MakeGuid("{5F1E0000-0000-0000-0000-0000000000B0}");
constexpr GUID kProductSet = MakeGuid("{AA69B8CB-2620-4097-81F9-1CC3D0E15C2C}");

// One chunk the scripted plug-in hands out.
struct Planned {
  LONG breakType = -1;  // -1: leave the caller's preset
  LCID locale = 0;      // 0: leave the caller's preset
  GUID propertySet{};
  const char16_t* name = nullptr;
  const char16_t* text = nullptr;
  const char16_t* value = nullptr;  // a VT_LPWSTR value
};

std::vector<Planned> g_plan;
HRESULT g_loadResult = S_OK;
HRESULT g_failAt = S_OK;  // the answer after the plan, instead of the end
std::u16string g_loadedPath;
LONG g_presetBreakType = -1;
LCID g_presetLocale = 0;

class CScriptedFilter : public CComObjectRoot, public ISimpleFileFilter {
 public:
  ZYT_BEGIN_INTERFACE_MAP(CScriptedFilter)
  ZYT_INTERFACE(ISimpleFileFilter)
  ZYT_END_INTERFACE_MAP()
  using ThreadModel = MultiThreadModel;

  HRESULT Load(LPCWSTR path) override {
    g_loadedPath = path;
    return g_loadResult;
  }
  HRESULT GetChunk(SimpleChunk* chunk) override {
    g_presetBreakType = chunk->breakType;
    g_presetLocale = chunk->locale;
    if (m_next == g_plan.size()) return g_failAt != S_OK ? g_failAt : FILTER_E_END_OF_CHUNKS;
    const Planned& p = g_plan[m_next++];
    if (p.breakType >= 0) chunk->breakType = p.breakType;
    if (p.locale) chunk->locale = p.locale;
    chunk->propertySet = p.propertySet;
    if (p.name) chunk->propertyName = SysAllocString(p.name);
    if (p.text) chunk->text = SysAllocString(p.text);
    if (p.value) {
      chunk->value = static_cast<PROPVARIANT*>(CoTaskMemAlloc(sizeof(PROPVARIANT)));
      PropVariantInit(chunk->value);
      chunk->value->vt = VT_LPWSTR;
      chunk->value->pwszVal = CoTaskStrDup(p.value);
    }
    return S_OK;
  }

 private:
  size_t m_next = 0;
};

// Creatable, but not a simple filter.
WholeFileSeen g_notAFilter;
using CNotAFilter = CWholeFileFilter<kNotAFilter, g_notAFilter>;

class SimpleFileFilterAdapterTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    ASSERT_EQ(RegisterFake<CScriptedFilter>(kScriptedFilter, &m_scripted), S_OK);
    ASSERT_EQ(RegisterFake<CNotAFilter>(kNotAFilter, &m_notAFilter), S_OK);
  }
  void TearDown() override {
    CoRevokeClassObject(m_scripted);
    CoRevokeClassObject(m_notAFilter);
    g_plan.clear();
    g_loadResult = S_OK;
    g_failAt = S_OK;
    g_loadedPath.clear();
    MachineTest::TearDown();
  }
  static void Configure(const std::u16string& extension, const std::u16string& plugIn) {
    SetRegistryString(HKEY_LOCAL_MACHINE, u"Software\\ZYT\\Orrery\\Filters\\SimpleFileFilterAdapter\\." + extension,
                      u"", plugIn);
  }
  // The adapter with the file loaded; Load's answer in loadResult.
  ComPtr<IFilter> Loaded(const std::string& name, HRESULT* loadResult = nullptr) {
    WriteBytes(PathIn(name), "content the plug-in decides about\n");
    ComPtr<IFilter> filter;
    EXPECT_EQ(ZytCreateInstance<CSimpleFileFilterAdapter>(nullptr, IID_IFilter, filter.put_void()), S_OK);
    if (!filter) return filter;
    ComPtr<IPersistFile> persist;
    EXPECT_EQ(filter.As(persist), S_OK);
    HRESULT hr = persist->Load(PathInW(name).c_str(), STGM_READ);
    if (loadResult) *loadResult = hr;
    else EXPECT_EQ(hr, S_OK);
    return filter;
  }
  static DriveOptions NoReinit() {
    DriveOptions options;
    options.checkReinit = false;  // the plug-in's chunks are pulled once
    // GetValue on a text chunk answers FILTER_E_NO_MORE_VALUES, GetText on a
    // value chunk the previous chunk's text: checked one call at a time below.
    options.crossCallsAnyRefusal = true;
    return options;
  }
  DWORD m_scripted = 0, m_notAFilter = 0;
};

TEST_F(SimpleFileFilterAdapterTest, ChunksAreConvertedInOrder) {
  Configure(u"plg", kScriptedFilterText);
  g_plan = {
      {.breakType = 7, .text = u"odd break"},
      {.breakType = CHUNK_NO_BREAK, .locale = 0x407, .propertySet = GUID_NULL, .name = u"Title", .value = u"A title"},
      {.breakType = CHUNK_EOC, .propertySet = kOwnSet, .name = u"rating", .value = u"five"},
      {.propertySet = kOwnSet, .name = u"notes", .text = u"own property text"},
  };
  ComPtr<IFilter> filter = Loaded("doc.plg");
  ASSERT_TRUE(filter);
  EXPECT_EQ(g_loadedPath, PathInW("doc.plg")) << "the plug-in loads the same path";
  DriveOptions options = NoReinit();
  options.bufferSize = 3;
  WalkResult r = DriveFilter(filter.get(), options);
  ASSERT_TRUE(ObeysProtocol(r));
  EXPECT_EQ(g_presetBreakType, CHUNK_EOS);
  EXPECT_EQ(g_presetLocale, GetSystemDefaultLCID());
  ASSERT_EQ(r.chunks.size(), 4u);

  EXPECT_EQ(r.chunks[0].stat.breakType, CHUNK_EOS) << "an invalid break type becomes the end of a sentence";
  EXPECT_EQ(r.chunks[0].text, u"odd break") << "read 3 characters at a time";

  const STAT_CHUNK& title = r.chunks[1].stat;
  EXPECT_EQ(title.breakType, CHUNK_NO_BREAK);
  EXPECT_EQ(title.locale, 0x407u);
  EXPECT_EQ(title.flags, CHUNK_VALUE);
  EXPECT_TRUE(IsEqualGUID(title.attribute.guidPropSet, kProductSet)) << "the name table's property for \"title\"";
  EXPECT_EQ(title.attribute.psProperty.ulKind, PRSPEC_PROPID);
  EXPECT_EQ(title.attribute.psProperty.propid, 11u);
  EXPECT_EQ(r.chunks[1].valueJson, "\"A title\"");

  EXPECT_EQ(r.chunks[2].stat.breakType, CHUNK_EOC);
  EXPECT_TRUE(IsEqualGUID(r.chunks[2].stat.attribute.guidPropSet, kOwnSet));
  EXPECT_EQ(r.chunks[2].stat.attribute.psProperty.ulKind, PRSPEC_LPWSTR);
  EXPECT_EQ(r.chunks[2].propertyName, u"rating");
  EXPECT_EQ(r.chunks[2].valueJson, "\"five\"");

  EXPECT_EQ(r.chunks[3].stat.flags, CHUNK_TEXT);
  EXPECT_EQ(r.chunks[3].propertyName, u"notes");
  EXPECT_EQ(r.chunks[3].text, u"own property text");
  for (size_t i = 0; i < r.chunks.size(); ++i) {
    EXPECT_EQ(r.chunks[i].stat.idChunk, i + 1);
    EXPECT_EQ(r.chunks[i].stat.idChunkSource, i + 1);
  }
}

TEST_F(SimpleFileFilterAdapterTest, HandedOverMemoryIsFreedOnceAndNamesLastUntilTheNextChunk) {
  Configure(u"plg", kScriptedFilterText);
  g_plan = {
      {.propertySet = kOwnSet, .name = u"kept", .value = u"never claimed"},
      {.propertySet = kOwnSet, .name = u"claimed", .value = u"the caller's"},
      {.text = u"text"},
      {.propertySet = kOwnSet, .name = u"last", .value = u"left behind at release"},
  };
  const LONG allocationsBefore = OutstandingTaskAllocations();
  ComPtr<IFilter> filter = Loaded("doc.plg");
  ASSERT_TRUE(filter);
  ULONG flags = 0;
  WCHAR buffer[16];
  ULONG size = 16;
  ASSERT_EQ(filter->Init(0, 0, nullptr, &flags), S_OK);
  EXPECT_EQ(flags, static_cast<ULONG>(IFILTER_FLAGS_OLE_PROPERTIES));
  EXPECT_EQ(filter->GetText(&size, buffer), FILTER_E_NO_TEXT) << "no chunk yet";
  PROPVARIANT* value = nullptr;
  EXPECT_EQ(filter->GetValue(&value), FILTER_E_NO_VALUES) << "no chunk yet";

  STAT_CHUNK stat{};
  ASSERT_EQ(filter->GetChunk(&stat), S_OK);
  ASSERT_EQ(stat.attribute.psProperty.ulKind, PRSPEC_LPWSTR);
  // the name is read after the adapter's other calls, before the next chunk
  EXPECT_EQ(filter->GetText(&size, buffer), FILTER_E_NO_MORE_TEXT) << "a value chunk";
  EXPECT_EQ(std::u16string(stat.attribute.psProperty.lpwstr), u"kept");

  ASSERT_EQ(filter->GetChunk(&stat), S_OK);  // the unclaimed value is freed here
  EXPECT_EQ(std::u16string(stat.attribute.psProperty.lpwstr), u"claimed");
  ASSERT_EQ(filter->GetValue(&value), S_OK);
  ASSERT_TRUE(value);
  EXPECT_EQ(std::u16string(value->pwszVal), u"the caller's");
  PropVariantClear(value);
  CoTaskMemFree(value);
  value = nullptr;
  EXPECT_EQ(filter->GetValue(&value), FILTER_E_NO_MORE_VALUES) << "handed over once";
  EXPECT_EQ(value, nullptr);

  ASSERT_EQ(filter->GetChunk(&stat), S_OK);
  EXPECT_EQ(stat.flags, CHUNK_TEXT);
  EXPECT_EQ(filter->GetValue(&value), FILTER_E_NO_MORE_VALUES) << "a text chunk";
  size = 16;
  EXPECT_EQ(filter->GetText(&size, buffer), FILTER_S_LAST_TEXT);
  EXPECT_EQ(std::u16string(buffer, size), u"text");

  ASSERT_EQ(filter->GetChunk(&stat), S_OK);  // its value stays unclaimed until the object goes
  size = 16;
  EXPECT_EQ(filter->GetText(&size, buffer), FILTER_E_NO_MORE_TEXT) << "the previous text was read";
  EXPECT_EQ(filter->GetChunk(&stat), FILTER_E_END_OF_CHUNKS);
  filter.Reset();
  EXPECT_EQ(OutstandingTaskAllocations(), allocationsBefore) << "the values the plug-in handed over are freed";
  // The leak checker of the sanitizer build catches a name or text not freed.
}

TEST_F(SimpleFileFilterAdapterTest, ANameTheTableDoesNotKnowFailsTheChunk) {
  Configure(u"plg", kScriptedFilterText);
  g_plan = {{.propertySet = GUID_NULL, .name = u"no-such-property", .value = u"v"},
            {.text = u"after"}};
  ComPtr<IFilter> filter = Loaded("doc.plg");
  ASSERT_TRUE(filter);
  ULONG flags = 0;
  ASSERT_EQ(filter->Init(0, 0, nullptr, &flags), S_OK);
  STAT_CHUNK stat{};
  EXPECT_EQ(filter->GetChunk(&stat), E_FAIL);
  ASSERT_EQ(filter->GetChunk(&stat), S_OK);
  EXPECT_EQ(stat.idChunk, 1u) << "the failed chunk was not counted";
}

TEST_F(SimpleFileFilterAdapterTest, AConfigurationThatNamesNoPlugInFailsLoad) {
  Configure(u"badclsid", u"{not a class identifier}");
  Configure(u"badprogid", u"No.Such.ProgId");
  Configure(u"notfilter", u"{5F1E0000-0000-0000-0000-0000000000A2}");
  Configure(u"unregistered", u"{5F1E0000-0000-0000-0000-0000000000FF}");
  CLSID ignored{};
  const HRESULT emptyName = CLSIDFromProgID(u"", &ignored);
  ASSERT_TRUE(FAILED(emptyName));
  const HRESULT unknownName = CLSIDFromProgID(u"No.Such.ProgId", &ignored);
  ASSERT_TRUE(FAILED(unknownName));
  const HRESULT badString = CLSIDFromString(u"{not a class identifier}", &ignored);
  ASSERT_TRUE(FAILED(badString));
  const struct {
    std::string name;
    HRESULT expected;
  } cases[] = {
      {"unconfigured.zzz", emptyName}, {"x.badclsid", badString}, {"x.badprogid", unknownName},
      {"x.notfilter", E_FAIL},         {"x.unregistered", REGDB_E_CLASSNOTREG},
  };
  for (const auto& c : cases) {
    HRESULT hr = S_OK;
    ComPtr<IFilter> filter = Loaded(c.name, &hr);
    ASSERT_TRUE(filter);
    EXPECT_EQ(hr, c.expected) << c.name;
    ULONG flags = 0;
    EXPECT_EQ(filter->Init(0, 0, nullptr, &flags), S_OK);
    STAT_CHUNK stat{};
    EXPECT_EQ(filter->GetChunk(&stat), E_POINTER) << c.name << ": no plug-in";
    ComPtr<IPersistFile> persist;
    ASSERT_EQ(filter.As(persist), S_OK);
    LPOLESTR current = nullptr;
    ASSERT_EQ(persist->GetCurFile(&current), S_OK) << "the path is kept even so";
    EXPECT_EQ(std::u16string(current), PathInW(c.name));
    CoTaskMemFree(current);
  }
}

TEST_F(SimpleFileFilterAdapterTest, TheLogSaysWhatThePlugInDid) {
  UseRepository(*this, true);
  ASSERT_EQ(mkdir(PathIn("repo/Debug").c_str(), 0700), 0);
  Configure(u"plg", kScriptedFilterText);
  Configure(u"notfilter", u"{5F1E0000-0000-0000-0000-0000000000A2}");
  g_plan = {{.breakType = 7, .text = u"odd"}, {.propertySet = kOwnSet, .name = u"rating", .value = u"five"}};
  g_failAt = E_ACCESSDENIED;
  {
    ComPtr<IFilter> filter = Loaded("doc.plg");
    ASSERT_TRUE(filter);
    WalkResult r = DriveFilter(filter.get(), NoReinit());
    EXPECT_EQ(r.chunks.size(), 2u) << "the chunks before the plug-in's failure still count";
    EXPECT_EQ(r.end, E_ACCESSDENIED) << "the plug-in's failure passes unchanged";
    g_loadResult = FILTER_E_ACCESS;
    HRESULT hr = S_OK;
    filter = Loaded("again.plg", &hr);
    EXPECT_EQ(hr, FILTER_E_ACCESS);
    filter = Loaded("x.notfilter", &hr);
    EXPECT_EQ(hr, E_FAIL);
  }
  std::string log;
  for (const std::string& name : ListDir(PathIn("repo/Debug.Filter"))) {
    EXPECT_EQ(name.rfind("SFF", 0), 0u) << name;
    log += ReadBytes(PathIn("repo/Debug.Filter/" + name));
  }
  for (const char* line : {"FinalConstruct\n", "getBreakType: invalid break type 0x7\n",
                           "GetChunk: {B725F130-47EF-101A-A5F1-02608C9EEBAC}/0x13 (text)\n",
                           "GetChunk: {5F1E0000-0000-0000-0000-0000000000B0}/rating (value)\n",
                           "GetValue: {5F1E0000-0000-0000-0000-0000000000B0}/rating, value = five\n",
                           "GetChunk: ISimpleFileFilter::GetChunk returned 0x80070005\n",
                           "Load: ISimpleFileFilter::Load returned 0x80041703\n",
                           "Load: failed to instanstiate ISimpleFileFilter\n", "FinalRelease\n"})
    EXPECT_NE(log.find(line), std::string::npos) << line << "\nin\n" << log;
}

}  // namespace
}  // namespace ZYT::Test
