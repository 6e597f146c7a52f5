#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "filters/url/URLFilter.h"
#include "platform/com/ClassFactory.h"
#include "platform/com/ObjBase.h"
#include "platform/com/TaskAllocator.h"
#include "platform/com/PropIds.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/PathMap.h"
#include "platform/win32/Registry.h"
#include "platform/win32/Strings.h"
#include "tests/support/ProtocolDriver.h"
#include "tests/support/TestEnvironment.h"

namespace {

using namespace ZYT::Test;
using ZYT::ComPtr;
using ZYT::WalkResult;

constexpr CLSID kStandInHtml = ZYT::MakeGuid("{5A1D0C1E-7B0B-4C55-9A1E-0D1CE0F11E01}");
constexpr char16_t kHtmlAddin[] =
    u"SOFTWARE\\Classes\\CLSID\\{EEC97550-47A9-11CF-B952-00AA0051FE20}\\PersistentAddinsRegistered\\"
    u"{89BCB740-6119-101A-BCB7-00DD010655AF}";

// What the stand-in HTML filter saw.
struct Seen {
  std::u16string loadedPath;
  std::string loadedBytes;
  int alive = 0;
} g_seen;

// Stands in for the machine's HTML filter: the file it is given, as it is, in
// one text chunk.
class CStandInHtmlFilter : public ZYT::CComObjectRoot, public IFilter, public IPersistFile {
 public:
  ZYT_BEGIN_INTERFACE_MAP(CStandInHtmlFilter)
  ZYT_INTERFACE(IFilter)
  ZYT_INTERFACE(IPersistFile)
  ZYT_END_INTERFACE_MAP()
  CStandInHtmlFilter() { ++g_seen.alive; }
  ~CStandInHtmlFilter() { --g_seen.alive; }
  HRESULT Init(ULONG, ULONG, const FULLPROPSPEC*, ULONG* flags) override {
    m_chunk = 0;
    if (flags) *flags = 0;
    return S_OK;
  }
  HRESULT GetChunk(STAT_CHUNK* s) override {
    if (m_chunk == 1) return FILTER_E_END_OF_CHUNKS;
    *s = STAT_CHUNK{};
    s->idChunk = s->idChunkSource = m_chunk = 1;
    s->flags = CHUNK_TEXT;
    s->breakType = CHUNK_EOP;
    s->attribute.guidPropSet = PSGUID_STORAGE;
    s->attribute.psProperty.ulKind = PRSPEC_PROPID;
    s->attribute.psProperty.propid = PID_STG_CONTENTS;
    m_pos = 0;
    return S_OK;
  }
  HRESULT GetText(ULONG* n, WCHAR* buffer) override {
    if (m_chunk != 1 || m_pos >= m_text.size()) return FILTER_E_NO_MORE_TEXT;
    size_t k = std::min<size_t>(*n, m_text.size() - m_pos);
    std::char_traits<char16_t>::copy(buffer, m_text.data() + m_pos, k);
    m_pos += k;
    *n = static_cast<ULONG>(k);
    return m_pos == m_text.size() ? FILTER_S_LAST_TEXT : S_OK;
  }
  HRESULT GetValue(PROPVARIANT** v) override {
    *v = nullptr;
    return FILTER_E_NO_VALUES;
  }
  HRESULT BindRegion(FILTERREGION, REFIID, void**) override { return E_NOTIMPL; }
  HRESULT GetClassID(CLSID* c) override {
    *c = kStandInHtml;
    return S_OK;
  }
  HRESULT IsDirty() override { return S_FALSE; }
  HRESULT Load(LPCOLESTR path, DWORD) override {
    g_seen.loadedPath = path;
    std::string posix = ZYT::ToPosixPath(path);
    std::string bytes;
    DWORD error = 0;
    if (!ZYT::ReadRegularFile(posix, bytes, error)) return HRESULT_FROM_WIN32(error);
    g_seen.loadedBytes = bytes;
    m_text = ZYT::Utf8ToWide(bytes);
    return S_OK;
  }
  HRESULT Save(LPCOLESTR, BOOL) override { return E_NOTIMPL; }
  HRESULT SaveCompleted(LPCOLESTR) override { return S_OK; }
  HRESULT GetCurFile(LPOLESTR*) override { return E_NOTIMPL; }

 private:
  std::u16string m_text;
  ULONG m_chunk = 0;
  size_t m_pos = 0;
};

std::string Page(const std::string& title, const std::string& message) {
  return "<html>\n<head><title>" + title + "</title></head>\n<body>\n" + message + "</body>\n</html>\n";
}

class URLFilterTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    g_seen = Seen{};
    UseSettingsServer(*this, "<settings><repository><user location=\"" + PathIn("repo") + "\"/></repository></settings>");
    auto* factory = new ZYT::CComClassFactory(&ZytCreateInstance<CStandInHtmlFilter>);
    ASSERT_EQ(CoRegisterClassObject(kStandInHtml, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &m_cookie), S_OK);
    factory->Release();
    // The catalog proxy stands before the HTML filter, which it saved.
    SetRegistryString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\.htm\\PersistentHandler", u"",
                      u"{EEC97550-47A9-11CF-B952-00AA0051FE20}");
    SetRegistryString(HKEY_LOCAL_MACHINE, kHtmlAddin, u"ZYTOrrerySavedFilterKey",
                      u"{5A1D0C1E-7B0B-4C55-9A1E-0D1CE0F11E01}");
    ASSERT_EQ(mkdir(PathIn("share").c_str(), 0700), 0);
    SetRegistryString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\ZYT\\Platform\\Shares", u"server\\share", PathInW("share"));
  }
  void TearDown() override {
    CoRevokeClassObject(m_cookie);
    EXPECT_EQ(g_seen.alive, 0) << "the HTML filter was not released";
    MachineTest::TearDown();
  }
  ComPtr<IFilter> NewFilter() {
    ComPtr<IFilter> filter;
    EXPECT_EQ(ZYT::CComObject<CURLFilter>::CreateInstance(nullptr, IID_IFilter, filter.put_void()), S_OK);
    return filter;
  }
  HRESULT Load(const ComPtr<IFilter>& filter, const std::u16string& path) {
    ComPtr<IPersistFile> file;
    EXPECT_EQ(filter.As(file), S_OK);
    return file->Load(path.c_str(), 0);
  }
  std::vector<std::string> TempFiles() const {
    return Exists(PathIn("repo/temp")) ? ListDir(PathIn("repo/temp")) : std::vector<std::string>{};
  }
  static std::u16string CurFile(const ComPtr<IFilter>& filter) {
    ComPtr<IPersistFile> file;
    EXPECT_EQ(filter.As(file), S_OK);
    LPOLESTR name = nullptr;
    HRESULT hr = file->GetCurFile(&name);
    std::u16string text = SUCCEEDED(hr) && name ? name : u"<failed>";
    CoTaskMemFree(name);
    return text;
  }
  DWORD m_cookie = 0;
};

TEST_F(URLFilterTest, ASavedCopyIsFilteredAsItIsAndNothingIsWritten) {
  WriteBytes(PathIn("copy.htm"), "<html><body>the saved page</body></html>");
  WriteBytes(PathIn("Saved.url"), "[InternetShortcut]\r\nURL=http://example.org/\r\n[Orrery]\r\nHTMLFILE=" +
                                       PathIn("copy.htm") + "\r\n");
  {
    ComPtr<IFilter> filter = NewFilter();
    ASSERT_EQ(Load(filter, PathInW("Saved.url")), S_OK);
    EXPECT_EQ(g_seen.loadedPath, PathInW("copy.htm"));
    WalkResult result = DriveFilter(filter.get());
    EXPECT_TRUE(ObeysProtocol(result));
    EXPECT_EQ(Texts(result), std::vector<std::u16string>{u"<html><body>the saved page</body></html>"});
    EXPECT_TRUE(TempFiles().empty());
    ComPtr<IPersistFile> file;
    ASSERT_EQ(filter.As(file), S_OK);
    EXPECT_EQ(file->Save(nullptr, FALSE), S_OK);
    EXPECT_TRUE(Exists(PathIn("copy.htm"))) << "Save deletes only a placeholder";
    ComPtr<IOrreryFilter> orrery;
    ASSERT_EQ(filter.As(orrery), S_OK);
    BOOL force = TRUE;
    EXPECT_EQ(orrery->forceThumbnail(&force), S_OK);
    EXPECT_EQ(force, FALSE);
  }
  EXPECT_TRUE(Exists(PathIn("copy.htm"))) << "the saved copy outlives the filter";
}

TEST_F(URLFilterTest, WithoutACopyAPlaceholderNamedAfterTheShortcutIsFilteredAndSaveDeletesIt) {
  // The key names a copy that is gone: the same as no key.
  for (const std::string& shortcut : {std::string("[InternetShortcut]\nURL=http://example.org/\n"),
                                      "[Orrery]\nHTMLFILE=" + PathIn("gone.htm") + "\n"}) {
    WriteBytes(PathIn("My Page.url"), shortcut);
    ComPtr<IFilter> filter = NewFilter();
    ASSERT_EQ(Load(filter, PathInW("My Page.url")), S_OK);
    const std::string placeholder = PathIn("repo/temp/My Page.html");
    EXPECT_EQ(g_seen.loadedPath, ZYT::Utf8ToWide(placeholder));
    EXPECT_EQ(g_seen.loadedBytes, Page("My Page", CURLFilter::kIndexingMessage));
    struct stat st{};
    ASSERT_EQ(stat(placeholder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ComPtr<IPersistFile> file;
    ASSERT_EQ(filter.As(file), S_OK);
    EXPECT_EQ(file->Save(PathInW("elsewhere").c_str(), TRUE), S_OK);
    EXPECT_FALSE(Exists(placeholder));
  }
  // Released without a Save, the filter still takes its placeholder away.
  {
    ComPtr<IFilter> filter = NewFilter();
    ASSERT_EQ(Load(filter, PathInW("My Page.url")), S_OK);
    EXPECT_EQ(TempFiles(), std::vector<std::string>{"My Page.html"});
  }
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(URLFilterTest, AReadOnlyShortcutOnAShareGetsTheUnreadableMessage) {
  WriteBytes(PathIn("share/Link.url"), "[InternetShortcut]\nURL=http://example.org/\n");
  const std::u16string onShare = u"\\\\server\\share\\Link.url";
  {
    ComPtr<IFilter> filter = NewFilter();
    ASSERT_EQ(Load(filter, onShare), S_OK);
    EXPECT_EQ(g_seen.loadedBytes, Page("Link", CURLFilter::kIndexingMessage)) << "a writable share shortcut";
  }
  ASSERT_TRUE(SetFileAttributesW(onShare.c_str(), FILE_ATTRIBUTE_READONLY));
  for (const std::u16string& path : {onShare, std::u16string(u"\\\\?\\UNC\\server\\share\\Link.url")}) {
    ComPtr<IFilter> filter = NewFilter();
    ASSERT_EQ(Load(filter, path), S_OK);
    EXPECT_EQ(g_seen.loadedBytes, Page("Link", CURLFilter::kUnreadableMessage));
    EXPECT_EQ(CurFile(filter), onShare);
  }
  // The same read-only file reached as a local path is not on a share.
  ComPtr<IFilter> filter = NewFilter();
  ASSERT_EQ(Load(filter, PathInW("share/Link.url")), S_OK);
  EXPECT_EQ(g_seen.loadedBytes, Page("Link", CURLFilter::kIndexingMessage));
}

TEST_F(URLFilterTest, GetCurFileReportsTheShortcutWithoutTheLongFormPrefix) {
  WriteBytes(PathIn("a.url"), "[InternetShortcut]\n");
  ComPtr<IFilter> filter = NewFilter();
  EXPECT_EQ(CurFile(filter), u"<failed>") << "nothing loaded yet";
  ComPtr<IPersistFile> file;
  ASSERT_EQ(filter.As(file), S_OK);
  LPOLESTR name = reinterpret_cast<LPOLESTR>(0xCAFECAFE);
  EXPECT_EQ(file->GetCurFile(&name), E_FAIL);
  EXPECT_EQ(name, nullptr);
  ASSERT_EQ(Load(filter, u"\\\\?\\" + PathInW("a.url")), S_OK);
  EXPECT_EQ(CurFile(filter), PathInW("a.url"));
  EXPECT_EQ(g_seen.loadedBytes, Page("a", CURLFilter::kIndexingMessage));
  ZYT::FailTaskAllocations(0, 1);
  name = reinterpret_cast<LPOLESTR>(0xCAFECAFE);
  EXPECT_EQ(file->GetCurFile(&name), E_OUTOFMEMORY);
  EXPECT_EQ(name, nullptr);
  ZYT::FailTaskAllocations(0, 0);
  CLSID clsid{};
  EXPECT_EQ(file->GetClassID(&clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_URLFilter);
  EXPECT_EQ(file->IsDirty(), E_FAIL);
}

TEST_F(URLFilterTest, MarkupInTheShortcutsNameStaysItsTitle) {
  WriteBytes(PathIn("R&D <draft>.url"), "[InternetShortcut]\n");
  ComPtr<IFilter> filter = NewFilter();
  ASSERT_EQ(Load(filter, PathInW("R&D <draft>.url")), S_OK);
  EXPECT_EQ(g_seen.loadedBytes, Page("R&amp;D &lt;draft&gt;", CURLFilter::kIndexingMessage));
}

TEST_F(URLFilterTest, WithoutTheSavedHtmlFilterLoadFailsAndEveryCallIsRefused) {
  WriteBytes(PathIn("a.url"), "[InternetShortcut]\n");
  ASSERT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\.htm"), ERROR_SUCCESS);
  {
    // Without the .htm handler key the usual handler is asked, and it still names the filter.
    ComPtr<IFilter> filter = NewFilter();
    EXPECT_EQ(Load(filter, PathInW("a.url")), S_OK);
  }
  SetRegistryString(HKEY_LOCAL_MACHINE, kHtmlAddin, u"ZYTOrrerySavedFilterKey", u"");
  ComPtr<IFilter> filter = NewFilter();
  ULONG flags = 0;
  STAT_CHUNK chunk{};
  ULONG n = 4;
  WCHAR text[4];
  PROPVARIANT* value = nullptr;
  auto refusesEverything = [&] {
    EXPECT_EQ(filter->Init(0, 0, nullptr, &flags), E_POINTER);
    EXPECT_EQ(filter->GetChunk(&chunk), E_POINTER);
    EXPECT_EQ(filter->GetText(&n, text), E_POINTER);
    EXPECT_EQ(filter->GetValue(&value), E_POINTER);
    EXPECT_EQ(filter->BindRegion(FILTERREGION{}, IID_IUnknown, nullptr), E_POINTER);
  };
  refusesEverything();
  EXPECT_EQ(Load(filter, PathInW("a.url")), E_FAIL);
  refusesEverything();
  EXPECT_EQ(g_seen.alive, 0);
  filter.Reset();
  EXPECT_TRUE(TempFiles().empty()) << "the placeholder goes with the filter that failed";
}

TEST_F(URLFilterTest, WithoutASettingsServerTheMissingCopyIsStillHandedOn) {
  // The settings file names no repository: the server has no temporary folder.
  WriteBytes(SettingsPath(), "<settings/>");
  WriteBytes(PathIn("a.url"), "[Orrery]\nHTMLFILE=" + PathIn("gone.htm") + "\n");
  ComPtr<IFilter> filter = NewFilter();
  EXPECT_EQ(Load(filter, PathInW("a.url")), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(g_seen.loadedPath, PathInW("gone.htm"));
}

}  // namespace
