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
#include "tests/support/WholeFileFilter.h"

namespace {

using namespace ZYT::Test;
using ZYT::ComPtr;
using ZYT::WalkResult;

constexpr CLSID kStandInHtml = ZYT::MakeGuid("{5A1D0C1E-7B0B-4C55-9A1E-0D1CE0F11E01}");
constexpr char16_t kHtmlAddin[] =
    u"SOFTWARE\\Classes\\CLSID\\{EEC97550-47A9-11CF-B952-00AA0051FE20}\\PersistentAddinsRegistered\\"
    u"{89BCB740-6119-101A-BCB7-00DD010655AF}";

// What the machine's HTML filter was handed.
WholeFileSeen g_seen;
using CStandInHtmlFilter = CWholeFileFilter<kStandInHtml, g_seen>;

std::string Page(const std::string& title, const std::string& message) {
  return "<html>\n<head><title>" + title + "</title></head>\n<body>\n" + message + "</body>\n</html>\n";
}

class URLFilterTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    g_seen = WholeFileSeen{};
    UseSettingsServer(*this, "<settings><repository><user location=\"" + PathIn("repo") + "\"/></repository></settings>");
    ASSERT_EQ(RegisterFake<CStandInHtmlFilter>(kStandInHtml, &m_cookie), S_OK);
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
