#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "catalogproxy/OrreryCISProxyFilter.h"
#include "framework/FilterInit.h"
#include "framework/PersistentHandler.h"
#include "framework/SettingsAccess.h"
#include "interfaces/OrreryFilter.h"
#include "platform/com/ClassFactory.h"
#include "platform/com/ObjBase.h"
#include "platform/com/TaskAllocator.h"
#include "platform/indexer/Catalogs.h"
#include "platform/indexer/LoadIFilter.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/Registry.h"
#include "platform/win32/Strings.h"
#include "platform/xml/XmlDocument.h"
#include "tests/support/CompoundFile.h"
#include "tests/support/FakeFilter.h"
#include "tests/support/ProtocolDriver.h"
#include "tests/support/Repository.h"
#include "tests/support/TestEnvironment.h"

// The one way a test makes the process read the proxy's settings again.
class CCatalogProxyTestHook {
 public:
  static void ForgetProcessSettings() { COrreryCISProxyFilter::ForgetProcessSettings(); }
};

namespace {

using namespace ZYT::Test;
using ZYT::ComPtr;
using ZYT::WalkResult;

constexpr CLSID CLSID_FakeNative = ZYT::MakeGuid("{FA4E0000-0000-0000-0000-0000000000A1}");
constexpr CLSID CLSID_FakeOrreryNative = ZYT::MakeGuid("{FA4E0000-0000-0000-0000-0000000000A2}");
constexpr char16_t kIFilterAddin[] = u"{89BCB740-6119-101A-BCB7-00DD010655AF}";
constexpr char16_t kProxyClsid[] = u"{A71A5A80-E4CA-46C0-9183-0CBC48108EA7}";
constexpr GUID kMailSet = ZYT::MakeGuid("{AA568EEC-E0E5-11CF-8FDA-00AA00A14F93}");
constexpr GUID kSummarySet = ZYT::MakeGuid("{F29F85E0-4FF9-1068-AB91-08002B27B3D9}");
constexpr GUID kProductSet = ZYT::MakeGuid("{AA69B8CB-2620-4097-81F9-1CC3D0E15C2C}");
const std::u16string kProduct = u"{AA69B8CB-2620-4097-81F9-1CC3D0E15C2C}";
const std::u16string kSummary = u"{F29F85E0-4FF9-1068-AB91-08002B27B3D9}";

using NativeChunk = ZYT::Test::FakeChunk;

NativeChunk Text(std::u16string text) { return {.text = std::move(text)}; }
NativeChunk Value(GUID set, PROPID id, std::u16string text) {
  return {.isText = false, .set = set, .id = id, .text = std::move(text)};
}
NativeChunk Named(GUID set, std::u16string name, std::u16string text) {
  return {.isText = false, .set = set, .id = 0, .name = std::move(name), .text = std::move(text)};
}

// What a native filter that breaks the rules throws out of one of its methods.
enum class Throw { kHResult, kBadAlloc, kOther };

struct NativeScript {
  std::vector<NativeChunk> chunks;
  std::string throwIn;  // the method that throws, none when empty
  Throw throwWhat = Throw::kOther;
  HRESULT loadResult = S_OK;
  std::u16string loadedPath;
  int loads = 0;
  int alive = 0;
  BOOL force = FALSE;
} g_native;

void MaybeThrow(const char* method) {
  if (g_native.throwIn != method) return;
  switch (g_native.throwWhat) {
    case Throw::kHResult: ZYT::ThrowHResult(FILTER_E_ACCESS);
    case Throw::kBadAlloc: throw std::bad_alloc();
    case Throw::kOther: throw std::string("neither an HRESULT nor a standard exception");
  }
}

class CFakeNativeBase : public ZYT::Test::CFakeFilterBase {
 public:
  using ThreadModel = ZYT::MultiThreadModel;
  CFakeNativeBase() { ++g_native.alive; }
  ~CFakeNativeBase() { --g_native.alive; }

 protected:
  const std::vector<NativeChunk>& Chunks() override { return g_native.chunks; }
  CLSID ClassId() override { return CLSID_FakeNative; }
  HRESULT Loaded(LPCOLESTR path) override {
    g_native.loadedPath = path;
    ++g_native.loads;
    return g_native.loadResult;
  }
  void Hook(const char* method) override { MaybeThrow(method); }
};

class CFakeNative : public CFakeNativeBase {
 public:
  ZYT_BEGIN_INTERFACE_MAP(CFakeNative)
  ZYT_INTERFACE(IFilter)
  ZYT_INTERFACE(IPersistFile)
  ZYT_END_INTERFACE_MAP()
};

// A native filter that also says whether a thumbnail must be forced.
class CFakeOrreryNative : public CFakeNativeBase, public IOrreryFilter {
 public:
  ZYT_BEGIN_INTERFACE_MAP(CFakeOrreryNative)
  ZYT_INTERFACE(IFilter)
  ZYT_INTERFACE(IPersistFile)
  ZYT_INTERFACE(IOrreryFilter)
  ZYT_END_INTERFACE_MAP()
  HRESULT forceThumbnail(BOOL* force) override {
    *force = g_native.force;
    return S_OK;
  }
};

using Proxy = ZYT::CComObject<COrreryCISProxyFilter>;

DriveOptions ProxyOptions(ULONG initFlags = IFILTER_INIT_APPLY_INDEX_ATTRIBUTES) {
  DriveOptions options;
  options.valueTextForwarded = true;
  options.initFlags = initFlags;
  return options;
}

std::vector<std::u16string> Attributes(const WalkResult& r) {
  std::vector<std::u16string> out;
  for (const auto& c : r.chunks) out.push_back(ZYT::AttributeText(c));
  return out;
}

class OrreryCISProxyFilterTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    g_native = NativeScript();
    CCatalogProxyTestHook::ForgetProcessSettings();
    mkdir(PathIn("in").c_str(), 0700);
    mkdir(PathIn("out").c_str(), 0700);
    mkdir(PathIn("repo").c_str(), 0700);
    mkdir(PathIn("repo/Debug").c_str(), 0700);
    ASSERT_EQ(ZYT::AddCatalog({u"Files", u"/var/lib/catalogs/files", u".", {PathInW("in")}}), ERROR_SUCCESS);
    for (auto [clsid, creator] : {std::pair{CLSID_FakeNative, &ZytCreateInstance<CFakeNative>},
                                  std::pair{CLSID_FakeOrreryNative, &ZytCreateInstance<CFakeOrreryNative>}}) {
      auto* factory = new ZYT::CComClassFactory(creator);
      DWORD cookie = 0;
      ASSERT_EQ(CoRegisterClassObject(clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie), S_OK);
      factory->Release();
      m_cookies.push_back(cookie);
    }
  }
  void TearDown() override {
    for (DWORD cookie : m_cookies) CoRevokeClassObject(cookie);
    CCatalogProxyTestHook::ForgetProcessSettings();
    EXPECT_EQ(g_native.alive, 0) << "a native filter was not released";
    EXPECT_TRUE(ListDir(PathIn("tmp")).empty()) << "a temporary file was left";
    MachineTest::TearDown();
  }

  // Settings with the local catalog "Files" configured and the given fields.
  void Configure(const std::string& fields) {
    UseSettingsServer(*this, "<settings><repository><user location=\"" + PathIn("repo") +
                                 "\"/></repository><CIS><catalogs><catalog catalog-type=\"local\" "
                                 "catalog-name=\"Files\"/></catalogs><field-property-map><fields>" +
                                 fields + "</fields></field-property-map></CIS></settings>");
  }
  static std::string Field(int id, const std::string& more = "") {
    return "<field attribute=\"f" + std::to_string(id) + "\" property-id=\"" + std::to_string(id) +
           "\" index=\"true\" " + more + "/>";
  }
  // The fake native filter for an extension, behind the proxy as setup leaves it.
  void BindExtension(const std::u16string& extension, const std::string& contentType,
                     const CLSID& native = CLSID_FakeNative) {
    const std::u16string classes = u"SOFTWARE\\Classes\\";
    // One handler per native class.
    const std::u16string handler = native == CLSID_FakeNative ? u"{FA4E0000-0000-0000-0000-0000000000B1}"
                                                              : u"{FA4E0000-0000-0000-0000-0000000000B2}";
    SetRegistryString(HKEY_LOCAL_MACHINE, classes + extension + u"\\PersistentHandler", u"", handler);
    if (!contentType.empty())
      SetRegistryString(HKEY_LOCAL_MACHINE, classes + extension, u"Content Type", ZYT::Utf8ToWide(contentType));
    const std::u16string addin = classes + u"CLSID\\" + handler + u"\\PersistentAddinsRegistered\\" + kIFilterAddin;
    SetRegistryString(HKEY_LOCAL_MACHINE, addin, u"", kProxyClsid);
    SetRegistryString(HKEY_LOCAL_MACHINE, addin, u"ZYTOrrerySavedFilterKey", ZYT::GuidToString(native));
  }
  ComPtr<Proxy> NewProxy() {
    ComPtr<Proxy> proxy;
    EXPECT_EQ(Proxy::Create(proxy), S_OK);
    return proxy;
  }
  WalkResult Walk(const std::u16string& path, ULONG initFlags = IFILTER_INIT_APPLY_INDEX_ATTRIBUTES) {
    ComPtr<Proxy> proxy = NewProxy();
    if (!proxy) return {};
    HRESULT hr = proxy->Load(path.c_str(), 0);
    EXPECT_EQ(hr, S_OK) << ZYT::WideToUtf8(path);
    if (FAILED(hr)) return {};
    return DriveFilter(proxy.get(), ProxyOptions(initFlags));
  }
  // The next GetValue's value as JSON, or "failed <hr>" (and no value handed out).
  static std::string NextValue(IFilter* filter) {
    PROPVARIANT* value = reinterpret_cast<PROPVARIANT*>(0x1);
    HRESULT hr = filter->GetValue(&value);
    if (FAILED(hr)) {
      EXPECT_EQ(value, nullptr);
      return Failed(hr);
    }
    std::string json = ZYT::ValueJson(*value);
    PropVariantClear(value);
    CoTaskMemFree(value);
    return json;
  }
  static std::string Failed(HRESULT hr) { return "failed " + std::to_string(static_cast<ULONG>(hr)); }
  std::vector<std::string> PerformanceLines() {
    std::ifstream in(PathIn("repo/Debug/indexer-performance.csv"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  std::vector<DWORD> m_cookies;
};

TEST_F(OrreryCISProxyFilterTest, OwnChunksFollowTheNativeChunksInMapOrder) {
  Configure(Field(3) + "<field attribute=\"x\" property-id=\"5\" index=\"false\"/>" + Field(14) + Field(9));
  BindExtension(u".fak", "text/plain");
  g_native.chunks = {Text(u"first"), Text(u"second")};
  g_native.chunks[1].idChunk = 7;
  WriteBytes(PathIn("in/doc.fak"), "bytes");
  WalkResult r = Walk(PathInW("in/doc.fak"));
  ASSERT_TRUE(ObeysProtocol(r));
  EXPECT_EQ(Texts(r), (std::vector<std::u16string>{u"first", u"second"}));
  EXPECT_EQ(Attributes(r), (std::vector<std::u16string>{u"{B725F130-47EF-101A-A5F1-02608C9EEBAC}/0x13",
                                                        u"{B725F130-47EF-101A-A5F1-02608C9EEBAC}/0x13",
                                                        kProduct + u"/0x3", kProduct + u"/0xe", kProduct + u"/0x9",
                                                        kSummary + u"/0x5"}));
  EXPECT_EQ(Values(r), (std::vector<std::string>{"\"text/plain\"", "\"local\"", "\"0\"", "\"\""}));
  std::vector<ULONG> ids;
  for (const auto& c : r.chunks) ids.push_back(c.stat.idChunk);
  EXPECT_EQ(ids, (std::vector<ULONG>{1, 7, 8, 9, 10, 11})) << "own ids continue after the native last id";
  EXPECT_EQ(r.chunks[2].stat.breakType, CHUNK_EOS);
  EXPECT_EQ(r.chunks[2].stat.idChunkSource, 8u);
  EXPECT_EQ(r.end, FILTER_E_END_OF_CHUNKS);
}

TEST_F(OrreryCISProxyFilterTest, TheDefaultMapGivesSupportedContentTypeAndItemId) {
  UseSettingsServer(*this, "");
  ZYT::CBstr path;  // the server makes the file from its template, with the module's default map
  ASSERT_EQ(ZYT::CreateSettingsServer()->GetSettingsPath(path.put()), S_OK);
  ZYT::XmlDocument settings;
  ASSERT_TRUE(settings.Load(SettingsPath()));
  ZYT::XmlNode catalog = settings.SelectSingleNode("/*/CIS/catalogs").AppendElement("catalog");
  catalog.SetAttribute("catalog-type", "local");
  catalog.SetAttribute("catalog-name", "Files");
  ASSERT_TRUE(settings.Save(SettingsPath()));
  BindExtension(u".fak", "text/plain");
  g_native.chunks = {Text(u"body")};
  WriteBytes(PathIn("in/doc.fak"), "bytes");

  ComPtr<Proxy> proxy = NewProxy();
  ASSERT_EQ(proxy->Load(PathInW("in/doc.fak").c_str(), 0), S_OK);
  WalkResult r = DriveFilter(proxy.get(), ProxyOptions());
  ASSERT_TRUE(ObeysProtocol(r));
  ASSERT_EQ(Attributes(r), (std::vector<std::u16string>{u"{B725F130-47EF-101A-A5F1-02608C9EEBAC}/0x13",
                                                        kProduct + u"/0x2", kProduct + u"/0x3", kProduct + u"/0x4",
                                                        kSummary + u"/0x5"}));
  EXPECT_EQ(r.chunks[1].vt, VT_BOOL);
  EXPECT_EQ(r.chunks[2].valueJson, "\"text/plain\"");
  EXPECT_EQ(r.chunks[3].valueJson.size(), 40u) << "an item id in braces: " << r.chunks[3].valueJson;

  // The supported flag is 1, not VARIANT_TRUE.
  ULONG flags = 0;
  ASSERT_EQ(proxy->Init(IFILTER_INIT_APPLY_INDEX_ATTRIBUTES, 0, nullptr, &flags), S_OK);
  STAT_CHUNK chunk;
  ASSERT_EQ(proxy->GetChunk(&chunk), S_OK);
  ASSERT_EQ(proxy->GetChunk(&chunk), S_OK);
  PROPVARIANT* value = nullptr;
  ASSERT_EQ(proxy->GetValue(&value), S_OK);
  EXPECT_EQ(value->boolVal, 1);
  PropVariantClear(value);
  CoTaskMemFree(value);
  ASSERT_EQ(proxy->GetChunk(&chunk), S_OK);
  ASSERT_EQ(proxy->GetChunk(&chunk), S_OK);
  EXPECT_EQ(NextValue(proxy.get()), r.chunks[3].valueJson) << "a file keeps its item id";
}

TEST_F(OrreryCISProxyFilterTest, WithoutIndexAttributesOnlyTheKeywordsChunkFollows) {
  Configure(Field(2) + Field(3));
  BindExtension(u".fak", "text/plain");
  g_native.chunks = {Text(u"body")};
  WriteBytes(PathIn("in/doc.fak"), "bytes");
  ComPtr<Proxy> proxy = NewProxy();
  ASSERT_EQ(proxy->Load(PathInW("in/doc.fak").c_str(), 0), S_OK);
  // The answers after the keywords chunk's value depend on the Init flags: the
  // field phase of IFILTER_INIT_APPLY_INDEX_ATTRIBUTES ends in "no more
  // values" once, then "no values"; without it the chunk has no values left.
  struct Case {
    ULONG initFlags;
    size_t ownChunks;
    HRESULT second, third;
  };
  for (const Case& c : {Case{0, 1, FILTER_E_NO_VALUES, FILTER_E_NO_VALUES},
                        Case{IFILTER_INIT_APPLY_INDEX_ATTRIBUTES, 3, FILTER_E_NO_MORE_VALUES, FILTER_E_NO_VALUES}}) {
    SCOPED_TRACE(c.initFlags);
    ULONG flags = 0;
    ASSERT_EQ(proxy->Init(c.initFlags, 0, nullptr, &flags), S_OK);
    STAT_CHUNK chunk;
    ASSERT_EQ(proxy->GetChunk(&chunk), S_OK);
    EXPECT_EQ(chunk.flags, CHUNK_TEXT);
    for (size_t i = 0; i < c.ownChunks; ++i) {
      ASSERT_EQ(proxy->GetChunk(&chunk), S_OK);
      EXPECT_NE(NextValue(proxy.get()).rfind("failed", 0), 0u);
    }
    EXPECT_EQ(ZYT::GuidToString(chunk.attribute.guidPropSet), kSummary) << "the keywords chunk comes last";
    EXPECT_EQ(chunk.attribute.psProperty.propid, 5u);
    EXPECT_EQ(NextValue(proxy.get()), Failed(c.second));
    EXPECT_EQ(NextValue(proxy.get()), Failed(c.third));
    EXPECT_EQ(proxy->GetChunk(&chunk), FILTER_E_END_OF_CHUNKS);
  }
}

TEST_F(OrreryCISProxyFilterTest, FieldsWithoutAValueAndCustomProperties) {
  Configure(Field(13) + Field(4, "property-set=\"{00000000-0000-0000-0000-0000000000C1}\" value=\"kept\"") +
            Field(5, "property-set=\"not a guid\""));
  BindExtension(u".fak", "text/plain");
  WriteBytes(PathIn("in/doc.fak"), "bytes");
  ComPtr<Proxy> proxy = NewProxy();
  ASSERT_EQ(proxy->Load(PathInW("in/doc.fak").c_str(), 0), S_OK);
  ULONG flags = 0;
  ASSERT_EQ(proxy->Init(IFILTER_INIT_APPLY_INDEX_ATTRIBUTES, 0, nullptr, &flags), S_OK);
  STAT_CHUNK chunk;
  ASSERT_EQ(proxy->GetChunk(&chunk), S_OK);
  EXPECT_EQ(chunk.attribute.psProperty.propid, 13u);
  EXPECT_EQ(chunk.attribute.guidPropSet, kProductSet);
  EXPECT_EQ(NextValue(proxy.get()), Failed(FILTER_E_NO_MORE_VALUES)) << "the product has no value for id 13";

  ASSERT_EQ(proxy->GetChunk(&chunk), S_OK);
  EXPECT_EQ(ZYT::GuidToString(chunk.attribute.guidPropSet), u"{00000000-0000-0000-0000-0000000000C1}");
  EXPECT_EQ(NextValue(proxy.get()), "\"kept\"") << "a custom field's value comes from the map";
  EXPECT_EQ(NextValue(proxy.get()), Failed(FILTER_E_NO_MORE_VALUES));

  ASSERT_EQ(proxy->GetChunk(&chunk), S_OK);
  EXPECT_EQ(chunk.attribute.guidPropSet, GUID{}) << "an unreadable set is the null set";
  EXPECT_EQ(NextValue(proxy.get()), "\"\"") << "no field of the map has that set";

  ASSERT_EQ(proxy->GetChunk(&chunk), S_OK);
  EXPECT_EQ(chunk.attribute.guidPropSet, kSummarySet);
  EXPECT_NE(NextValue(proxy.get()).rfind("failed", 0), 0u);
  EXPECT_EQ(proxy->GetChunk(&chunk), FILTER_E_END_OF_CHUNKS);
}

TEST_F(OrreryCISProxyFilterTest, CapturedNativeValuesMakeTheProductValues) {
  Configure(Field(5) + Field(6) + Field(7) + Field(12) + Field(11) + Field(3));
  BindExtension(u".fak", "message/rfc822");
  g_native.chunks = {Value(kMailSet, 5, u"Budget\x01plan"),
                     Named(kMailSet, u"To", u"\"Ann Lee\" <ann@example.org>"),
                     Value(kProductSet, 12, u"Bob <bob@example.org>"),
                     Value(kMailSet, 99, u"not watched"),
                     Text(u"Body text\x02 here.")};
  WriteBytes(PathIn("in/doc.fak"), "bytes");
  WalkResult r = Walk(PathInW("in/doc.fak"));
  ASSERT_TRUE(ObeysProtocol(r));
  std::vector<std::string> values = Values(r);
  ASSERT_EQ(values.size(), 11u);
  EXPECT_EQ(std::vector<std::string>(values.begin(), values.begin() + 4),
            (std::vector<std::string>{"\"Budget\\u0001plan\"", "\"\\\"Ann Lee\\\" <ann@example.org>\"",
                                      "\"Bob <bob@example.org>\"", "\"not watched\""}))
      << "native values pass unchanged";
  EXPECT_EQ(std::vector<std::string>(values.begin() + 4, values.end()),
            (std::vector<std::string>{"\"Budget plan\"", "\"Body text  here.\"",
                                      "\"ann example.org ;;\\\"Ann Lee\\\" <ann@example.org>\"",
                                      "\"bob example.org ;;Bob <bob@example.org>\"", "\"Budget plan\"", "\"message/rfc822\"",
                                      "\"\""}));
}

TEST_F(OrreryCISProxyFilterTest, TitlesByContentType) {
  Configure(Field(11));
  struct Case {
    std::string contentType;
    std::vector<NativeChunk> chunks;
    std::string title;
  };
  const Case cases[] = {
      {"message/rfc822", {}, "\"[No Subject]\""},
      {"application/x-orrery-contact", {Value(kMailSet, 5, u"Lunch")}, "\"[No Name]\""},
      {"application/x-orrery-contact", {Value(kProductSet, 11, u"Ann Lee")}, "\"Ann Lee\""},
      {"text/html", {Value(kSummarySet, 2, u"Front page")}, "\"Front page\""},
      {"text/plain", {}, "\"Doc.fak\""},
  };
  WriteBytes(PathIn("in/Doc.fak"), "bytes");
  for (const Case& c : cases) {
    BindExtension(u".fak", c.contentType);
    CCatalogProxyTestHook::ForgetProcessSettings();  // the content type is asked again
    g_native.chunks = c.chunks;
    WalkResult r = Walk(PathInW("in/doc.fak"));
    ASSERT_TRUE(ObeysProtocol(r));
    std::vector<std::string> values = Values(r);
    ASSERT_GE(values.size(), 2u);
    EXPECT_EQ(values[values.size() - 2], c.title) << c.contentType;
  }
}

TEST_F(OrreryCISProxyFilterTest, SummaryIsTheFirst320CharactersOfTheText) {
  Configure(Field(6));
  BindExtension(u".fak", "text/plain");
  std::u16string text;
  for (int i = 0; i < 100; ++i) text += u"word\x07 ";
  g_native.chunks = {Text(text.substr(0, 250)), Text(text.substr(250))};
  WriteBytes(PathIn("in/doc.fak"), "bytes");
  WalkResult r = Walk(PathInW("in/doc.fak"));
  ASSERT_TRUE(ObeysProtocol(r));
  ASSERT_EQ(r.chunks.size(), 4u);
  std::u16string expected = text.substr(0, 320);
  for (char16_t& c : expected)
    if (c == u'\x07') c = u' ';
  EXPECT_EQ(r.chunks[2].valueJson, ZYT::JsonString(expected));
  EXPECT_EQ(Texts(r)[0] + Texts(r)[1], text) << "the indexer still gets all the text";
}

TEST_F(OrreryCISProxyFilterTest, KeywordsOfACompoundFile) {
  Configure("");
  BindExtension(u".doc", "application/msword");
  WriteCompoundFile(PathIn("in/plan.doc"), "budget 2027");
  std::string before = ReadBytes(PathIn("in/plan.doc"));
  struct stat st;
  ASSERT_EQ(stat(PathIn("in/plan.doc").c_str(), &st), 0);

  g_native.chunks = {Text(u"text"), Value(kSummarySet, 5, u"native words")};
  WalkResult merged = Walk(PathInW("in/plan.doc"));
  ASSERT_TRUE(ObeysProtocol(merged));
  EXPECT_EQ(Values(merged), (std::vector<std::string>{"\"budget 2027 native words\""}))
      << "merged in place, and no keywords chunk of its own";

  g_native.chunks = {Text(u"text")};
  WalkResult own = Walk(PathInW("in/plan.doc"));
  ASSERT_TRUE(ObeysProtocol(own));
  EXPECT_EQ(Values(own), (std::vector<std::string>{"\"budget 2027\""}));

  struct stat after;
  ASSERT_EQ(stat(PathIn("in/plan.doc").c_str(), &after), 0);
  EXPECT_EQ(ReadBytes(PathIn("in/plan.doc")), before) << "the indexed file is only read";
  EXPECT_EQ(after.st_mtim.tv_nsec, st.st_mtim.tv_nsec);
  EXPECT_EQ(after.st_mtim.tv_sec, st.st_mtim.tv_sec);

  // A file that only looks like one by its extension has no keywords.
  WriteBytes(PathIn("in/fake.doc"), "plain text");
  g_native.chunks = {Value(kSummarySet, 5, u"native words")};
  WalkResult plain = Walk(PathInW("in/fake.doc"));
  EXPECT_EQ(Values(plain), (std::vector<std::string>{"\"native words\""}));
}

TEST_F(OrreryCISProxyFilterTest, LongNamesAreExaminedWithoutThePrefixAndLoadedWithIt) {
  Configure(Field(3));
  BindExtension(u".fak", "text/plain");
  WriteBytes(PathIn("in/doc.fak"), "bytes");
  const std::u16string path = u"\\\\?\\" + PathInW("in/doc.fak");
  {
    WalkResult r = Walk(path);
    ASSERT_TRUE(ObeysProtocol(r));
    EXPECT_EQ(Values(r), (std::vector<std::string>{"\"text/plain\"", "\"\""})) << "the catalog knows the file";
    EXPECT_EQ(g_native.loadedPath, path);
  }
  std::vector<std::string> lines = PerformanceLines();
  ASSERT_EQ(lines.size(), 1u);
  std::vector<std::string> fields;
  std::stringstream line(lines[0]);
  for (std::string f; std::getline(line, f, ',');) fields.push_back(f);
  ASSERT_EQ(fields.size(), 4u) << lines[0];
  EXPECT_EQ(fields[0].size(), 19u) << "yyyy/mm/dd hh:mm:ss";
  EXPECT_EQ(fields[1], PathIn("in/doc.fak"));
  EXPECT_EQ(fields[2], "text/plain");
  EXPECT_EQ(fields[3].find_first_not_of("0123456789"), std::string::npos);
}

TEST_F(OrreryCISProxyFilterTest, AttachmentsOfMailFiles) {
  Configure(Field(9) + Field(10));
  BindExtension(u".eml", "message/rfc822");
  auto part = [](const std::string& headers) { return "--b\r\n" + headers + "\r\n\r\nx\r\n"; };
  const std::string head = "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n";
  WriteBytes(PathIn("in/THREE.EML"), head + part("Content-Type: text/plain") +
                                         part("Content-Disposition: attachment; filename=\"a.txt\"") +
                                         part("Content-Type: image/png") + "--b--\r\n");
  WriteBytes(PathIn("in/one.eml"), head + part("Content-Type: text/plain") + "--b--\r\n");
  EXPECT_EQ(Values(Walk(PathInW("in/THREE.EML"))),
            (std::vector<std::string>{"\"2\"", "\"a.txt|Unknown Attachment\"", "\"\""}));
  EXPECT_EQ(Values(Walk(PathInW("in/one.eml"))), (std::vector<std::string>{"\"0\"", "\"\"", "\"\""}));
}

TEST_F(OrreryCISProxyFilterTest, FileAttributesAreNamed) {
  Configure(Field(19));
  BindExtension(u".fak", "text/plain");
  BindExtension(u".qharc", "application/x-orrery-archive");
  WriteBytes(PathIn("in/locked.fak"), "x");
  WriteBytes(PathIn("in/item.qharc"), "x");
  ASSERT_TRUE(SetFileAttributesW(PathInW("in/locked.fak").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(SetFileAttributesW(PathInW("in/item.qharc").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(Values(Walk(PathInW("in/locked.fak")))[0], "\"read-only; hidden\"");
  EXPECT_EQ(Values(Walk(PathInW("in/item.qharc")))[0], "\"archive\"");
  g_native.chunks = {Value(kProductSet, 19, u"system")};
  EXPECT_EQ(Values(Walk(PathInW("in/locked.fak")))[1], "\"system\"") << "the native filter's text wins";
}

TEST_F(OrreryCISProxyFilterTest, NativeFilterSelection) {
  Configure("");
  const std::u16string classes = u"SOFTWARE\\Classes\\";
  WriteBytes(PathIn("in/a.nos"), "x");
  // A handler without a saved filter: the null handler's saved filter reads the file.
  SetRegistryString(HKEY_LOCAL_MACHINE, classes + u".nos\\PersistentHandler", u"", u"{FA4E0000-0000-0000-0000-0000000000B9}");
  ComPtr<Proxy> proxy = NewProxy();
  EXPECT_EQ(proxy->Load(PathInW("in/a.nos").c_str(), 0), E_INVALIDARG) << "no null handler filter either";
  EXPECT_EQ(g_native.loads, 0);
  SetRegistryString(HKEY_LOCAL_MACHINE,
                    classes + u"CLSID\\{098f2470-bae0-11cd-b579-08002b30bfeb}\\PersistentAddinsRegistered\\" +
                        kIFilterAddin,
                    u"ZYTOrrerySavedFilterKey", ZYT::GuidToString(CLSID_FakeNative));
  proxy = NewProxy();
  EXPECT_EQ(proxy->Load(PathInW("in/a.nos").c_str(), 0), S_OK);
  EXPECT_EQ(g_native.loads, 1);
  WriteBytes(PathIn("in/noext"), "x");
  proxy = NewProxy();
  EXPECT_EQ(proxy->Load(PathInW("in/noext").c_str(), 0), S_OK) << "no extension: the null handler too";
  g_native.loadResult = FILTER_E_ACCESS;
  proxy = NewProxy();
  EXPECT_EQ(proxy->Load(PathInW("in/a.nos").c_str(), 0), FILTER_E_ACCESS) << "the native failure is the answer";
  CLSID clsid{};
  EXPECT_EQ(proxy->GetClassID(&clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_OrreryCISProxyFilter);
  EXPECT_EQ(proxy->IsDirty(), E_FAIL);
}

TEST_F(OrreryCISProxyFilterTest, TheContentTypeServiceFailingLeavesOctetStream) {
  Configure(Field(2) + Field(3));
  BindExtension(u".fak", "text/plain");
  ASSERT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\CLSID\\{E81B43AF-CD15-46DE-8A9D-15DD4CCA3AE9}"),
            ERROR_SUCCESS);
  WriteBytes(PathIn("in/doc.fak"), "bytes");
  WalkResult r = Walk(PathInW("in/doc.fak"));
  ASSERT_TRUE(ObeysProtocol(r));
  EXPECT_EQ(Values(r), (std::vector<std::string>{"false", "\"application/octet-stream\"", "\"\""}));
}

TEST_F(OrreryCISProxyFilterTest, ThumbnailIsForcedUnlessTheNativeFilterSaysOtherwise) {
  Configure(Field(4));
  BindExtension(u".fak", "text/plain", CLSID_FakeOrreryNative);
  BindExtension(u".fa2", "text/plain");
  WriteBytes(PathIn("in/doc.fak"), "x");
  WriteBytes(PathIn("in/doc.fa2"), "x");
  ASSERT_TRUE(ObeysProtocol(Walk(PathInW("in/doc.fak"))));
  ASSERT_TRUE(ObeysProtocol(Walk(PathInW("in/doc.fa2"))));
  // The service remembers whether a thumbnail was forced.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(PathIn("thumbnails.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* query = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT path, type, forced FROM items ORDER BY path", -1, &query, nullptr), SQLITE_OK);
  std::vector<std::string> rows;
  while (sqlite3_step(query) == SQLITE_ROW) {
    rows.push_back(std::string(reinterpret_cast<const char*>(sqlite3_column_text(query, 0))) + " " +
                   reinterpret_cast<const char*>(sqlite3_column_text(query, 1)) + " " +
                   std::to_string(sqlite3_column_int(query, 2)));
  }
  sqlite3_finalize(query);
  sqlite3_close(db);
  EXPECT_EQ(rows, (std::vector<std::string>{PathIn("in/doc.fa2") + " local 1", PathIn("in/doc.fak") + " local 0"}));
}

TEST_F(OrreryCISProxyFilterTest, OutsideTheCatalogsTheProxyIsTheNativeFilter) {
  Configure(Field(2) + Field(3) + Field(4));
  BindExtension(u".fak", "text/plain");
  g_native.chunks = {Text(u"some text"), Value(kMailSet, 5, u"Subject"), Named(kMailSet, u"To", u"ann@example.org")};
  WriteBytes(PathIn("out/doc.fak"), "bytes");
  WalkResult throughProxy = Walk(PathInW("out/doc.fak"));
  ComPtr<IFilter> native;
  ASSERT_EQ(CoCreateInstance(CLSID_FakeNative, nullptr, CLSCTX_ALL, IID_IFilter, native.put_void()), S_OK);
  WalkResult direct = DriveFilter(native.get(), ProxyOptions());
  ASSERT_TRUE(ObeysProtocol(throughProxy));
  ASSERT_EQ(throughProxy.chunks.size(), direct.chunks.size());
  EXPECT_EQ(Texts(throughProxy), Texts(direct));
  EXPECT_EQ(Values(throughProxy), Values(direct));
  EXPECT_EQ(Attributes(throughProxy), Attributes(direct));
  EXPECT_EQ(throughProxy.end, direct.end);
  std::vector<std::string> lines = PerformanceLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("," + PathIn("out/doc.fak") + ",,"), std::string::npos) << "no content type: " << lines[0];
}

TEST_F(OrreryCISProxyFilterTest, ObjectsMadeAtOnceShareOneSettingsDocument) {
  Configure(Field(3) + Field(14));
  BindExtension(u".fak", "text/plain");
  WriteBytes(PathIn("in/doc.fak"), "bytes");
  std::vector<std::vector<std::string>> results(8);
  std::vector<std::thread> threads;
  for (auto& result : results) {
    threads.emplace_back([&result, this] {
      ComPtr<Proxy> proxy;
      if (Proxy::Create(proxy) != S_OK || proxy->Load(PathInW("in/doc.fak").c_str(), 0) != S_OK) return;
      result = Values(DriveFilter(proxy.get(), ProxyOptions()));
    });
  }
  for (auto& t : threads) t.join();
  for (const auto& result : results)
    EXPECT_EQ(result, (std::vector<std::string>{"\"text/plain\"", "\"local\"", "\"\""}));
}

// Through the registry: the module's class object, the machine's text filter.
TEST_F(OrreryCISProxyFilterTest, TheRegisteredProxyDrivesTheMachinesTextFilter) {
  Configure(Field(3));
  SetRegistryString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\ZYT\\Orrery", u"configured", u"yes");
  ASSERT_EQ(RegisterModule(ZYT_FILTERS_MODULE), S_OK);
  const std::u16string handler = ZYT::PersistentHandlerOfExtension(u".txt");
  EXPECT_EQ(ZYT::AddinFilterOfHandler(handler), kProxyClsid) << "registration put the proxy in front";
  const std::u16string saved = ZYT::SavedFilterOfHandler(handler);
  CLSID textFilter{};
  ASSERT_TRUE(ZYT::GuidFromString(saved, textFilter)) << ZYT::WideToUtf8(saved);
  WriteBytes(PathIn("in/note.txt"), "Hello proxy.\n");
  WriteBytes(PathIn("out/note.txt"), "Hello proxy.\n");
  ComPtr<IFilter> native;
  ASSERT_EQ(CoCreateInstance(textFilter, nullptr, CLSCTX_ALL, IID_IFilter, native.put_void()), S_OK);
  ComPtr<IPersistFile> nativeFile;
  ASSERT_EQ(native.As(nativeFile), S_OK);
  ASSERT_EQ(nativeFile->Load(PathInW("out/note.txt").c_str(), 0), S_OK);
  WalkResult direct = DriveFilter(native.get(), ProxyOptions());
  ComPtr<IFilter> registered;
  ASSERT_EQ(LoadIFilter(PathInW("out/note.txt").c_str(), nullptr, registered.put_void()), S_OK);
  WalkResult throughRegistry = DriveFilter(registered.get(), ProxyOptions());
  EXPECT_EQ(Texts(throughRegistry), Texts(direct)) << "the indexer's way, outside the catalogs";
  EXPECT_EQ(Values(throughRegistry), Values(direct));
  for (const char* folder : {"out", "in"}) {
    ComPtr<IFilter> proxy;
    ASSERT_EQ(CoCreateInstance(CLSID_OrreryCISProxyFilter, nullptr, CLSCTX_ALL, IID_IFilter, proxy.put_void()), S_OK);
    ComPtr<IPersistFile> file;
    ASSERT_EQ(proxy.As(file), S_OK);
    ASSERT_EQ(file->Load(PathInW(std::string(folder) + "/note.txt").c_str(), 0), S_OK);
    WalkResult r = DriveFilter(proxy.get(), ProxyOptions());
    ASSERT_TRUE(ObeysProtocol(r));
    EXPECT_EQ(Texts(r), Texts(direct)) << folder;
    EXPECT_EQ(Values(r), std::string(folder) == "out" ? Values(direct)
                                                      : (std::vector<std::string>{"\"text/plain\"", "\"\""}));
  }
}

// A native filter is any in-process class the registry names; one that lets a
// C++ exception out of a method must not take the indexer with it.
TEST_F(OrreryCISProxyFilterTest, ExceptionsOfTheNativeFilterStopAtTheProxy) {
  Configure(Field(3));
  BindExtension(u".fak", "text/plain");
  mkdir(PathIn("repo/Debug.Filter").c_str(), 0700);
  g_native.chunks = {Text(u"body"), Value(kMailSet, 5, u"subject")};
  WriteBytes(PathIn("in/doc.fak"), "bytes");
  struct Case {
    const char* method;
    Throw what;
    HRESULT expected;
    const char* logged;
  };
  const Case cases[] = {
      {"Load", Throw::kHResult, FILTER_E_ACCESS, "_com_error 0x80041703"},
      {"Init", Throw::kBadAlloc, E_OUTOFMEMORY, "Init: out of memory\n"},
      {"GetChunk", Throw::kHResult, FILTER_E_ACCESS, "_com_error 0x80041703"},
      {"GetChunk", Throw::kOther, E_FAIL, "GetChunk: unknown exception\n"},
      {"GetText", Throw::kHResult, FILTER_E_ACCESS, "_com_error 0x80041703"},
      {"GetValue", Throw::kHResult, FILTER_E_NO_VALUES, "_com_error 0x80041703"},
      {"GetValue", Throw::kOther, FILTER_E_NO_VALUES, "GetValue: unknown exception\n"},
      {"BindRegion", Throw::kOther, E_FAIL, "BindRegion: unknown exception\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.method) + " " + c.logged);
    g_native.throwIn = c.method;
    g_native.throwWhat = c.what;
    const LONG allocations = ZYT::OutstandingTaskAllocations();
    std::map<std::string, HRESULT> results;
    {
      ComPtr<Proxy> proxy = NewProxy();
      results["Load"] = proxy->Load(PathInW("in/doc.fak").c_str(), 0);
      ULONG flags = 0;
      results["Init"] = proxy->Init(IFILTER_INIT_APPLY_INDEX_ATTRIBUTES, 0, nullptr, &flags);
      STAT_CHUNK chunk;
      results["GetChunk"] = proxy->GetChunk(&chunk);
      WCHAR buffer[16];
      ULONG count = 16;
      results["GetText"] = proxy->GetText(&count, buffer);
      proxy->GetChunk(&chunk);
      PROPVARIANT* value = nullptr;
      results["GetValue"] = proxy->GetValue(&value);
      if (c.method == std::string("GetValue")) {
        EXPECT_EQ(value, nullptr);
      }
      if (value) {
        PropVariantClear(value);
        CoTaskMemFree(value);
      }
      IUnknown* region = nullptr;
      results["BindRegion"] = proxy->BindRegion(FILTERREGION{}, IID_IUnknown, reinterpret_cast<void**>(&region));
    }
    EXPECT_EQ(results[c.method], c.expected);
    EXPECT_EQ(ZYT::OutstandingTaskAllocations(), allocations) << "task memory left behind";
    const std::string log = FilterLogs(*this);
    EXPECT_NE(log.find(c.logged), std::string::npos) << log;
    if (c.what == Throw::kHResult) {
      EXPECT_NE(log.find("OrreryCISProxyFilterTest.cpp, line "), std::string::npos) << "the place it was thrown:\n" << log;
    }
    std::filesystem::remove_all(PathIn("repo/Debug.Filter"));
    mkdir(PathIn("repo/Debug.Filter").c_str(), 0700);
  }
}

// The settings may be read anew (by a test) while objects are filtering:
// those keep the settings they were made with, and the field nodes in them.
TEST_F(OrreryCISProxyFilterTest, AnObjectKeepsTheSettingsItWasMadeWith) {
  const std::string custom = "property-set=\"{00000000-0000-0000-0000-0000000000C1}\" ";
  Configure(Field(4, custom + "value=\"kept\"") + Field(5, custom + "value=\"too\""));
  BindExtension(u".fak", "text/plain");
  WriteBytes(PathIn("in/doc.fak"), "bytes");
  ComPtr<Proxy> proxy = NewProxy();
  ASSERT_EQ(proxy->Load(PathInW("in/doc.fak").c_str(), 0), S_OK);
  ULONG flags = 0;
  ASSERT_EQ(proxy->Init(IFILTER_INIT_APPLY_INDEX_ATTRIBUTES, 0, nullptr, &flags), S_OK);
  STAT_CHUNK chunk;
  ASSERT_EQ(proxy->GetChunk(&chunk), S_OK);  // the field list is taken here

  Configure(Field(4, custom + "value=\"changed\""));
  CCatalogProxyTestHook::ForgetProcessSettings();
  std::vector<std::string> values;
  do values.push_back(NextValue(proxy.get()));
  while (proxy->GetChunk(&chunk) == S_OK);
  EXPECT_EQ(values, (std::vector<std::string>{"\"kept\"", "\"too\"", "\"\""}));
  EXPECT_EQ(Values(Walk(PathInW("in/doc.fak"))), (std::vector<std::string>{"\"changed\"", "\"\""}))
      << "a new object reads the settings again";
}

}  // namespace
