#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include "interfaces/ProductServices.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ComVariant.h"
#include "platform/com/ObjBase.h"
#include "platform/win32/Registry.h"
#include "tests/support/TestEnvironment.h"

namespace {

using namespace ZYT::Test;
using ZYT::CBstr;
using ZYT::ComPtr;

class ContentTypeServiceTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    mkdir(PathIn("mime").c_str(), 0700);
    WriteBytes(PathIn("mime/globs2"),
               "# weight:type:glob\n80:text/html:*.html\n50:application/xhtml+xml:*.html\n50:audio/ogg:*.ogg\n"
               "50:text/x-special:*.SPC\n50:image/png:*.png\n50:text/plain:*.asc\n50:text/plain:*.txt\n");
    setenv("ZYT_MIME_DIR", PathIn("mime").c_str(), 1);
    ASSERT_EQ(RegisterModule(ZYT_COMPONENTS_MODULE), S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_ContentTypeService, nullptr, CLSCTX_ALL, uuidof<IContentTypeService>(),
                               m_service.put_void()),
              S_OK);
    m_service->Refresh();
  }
  void TearDown() override {
    m_service.Reset();
    unsetenv("ZYT_MIME_DIR");
    MachineTest::TearDown();
  }
  std::u16string TypeOf(const char16_t* extension) {
    CBstr type;
    EXPECT_EQ(m_service->ContentTypeOfExtension(CBstr(extension).get(), type.put()), S_OK);
    return type.str();
  }
  bool Supported(const char16_t* type) {
    VARIANT_BOOL yes = 7;
    EXPECT_EQ(m_service->IsSupported(CBstr(type).get(), &yes), S_OK);
    return yes == VARIANT_TRUE;
  }
  ComPtr<IContentTypeService> m_service;
};

TEST_F(ContentTypeServiceTest, ExtensionsMapThroughChoiceRegistryAndGlobs) {
  EXPECT_EQ(TypeOf(u"html"), u"text/html") << "the heaviest glob wins";
  EXPECT_EQ(TypeOf(u".HTML"), u"text/html") << "a dot and capitals do not matter";
  EXPECT_EQ(TypeOf(u"spc"), u"text/x-special");
  EXPECT_EQ(TypeOf(u"unknown"), u"application/octet-stream");
  EXPECT_EQ(TypeOf(u""), u"application/octet-stream");
  SetRegistryString(HKEY_CLASSES_ROOT, u".ogg", u"Content Type", u"audio/x-vorbis+ogg");
  EXPECT_EQ(TypeOf(u"ogg"), u"audio/x-vorbis+ogg") << "the registry's Content Type comes before the globs";
  SetRegistryString(HKEY_CLASSES_ROOT, u".qhs", u"content-type", u"application/x-orrery-stream");
  EXPECT_EQ(TypeOf(u"qhs"), u"application/x-orrery-stream") << "the module's own value counts too";
  ASSERT_EQ(m_service->SetContentType(CBstr(u"ogg").get(), CBstr(u"audio/ogg").get()), S_OK);
  EXPECT_EQ(TypeOf(u"ogg"), u"audio/ogg") << "the user's choice comes first";
  EXPECT_EQ(m_service->RemoveContentType(CBstr(u"ogg").get()), S_OK);
  EXPECT_EQ(TypeOf(u"ogg"), u"audio/x-vorbis+ogg");
  EXPECT_EQ(m_service->SetContentType(CBstr(u"x").get(), CBstr(u"no-slash").get()), E_INVALIDARG);
  CBstr type, extensions, media;
  ASSERT_EQ(m_service->ContentTypeOfPath(CBstr(u"C:\\Docs\\readme.TXT").get(), type.put()), S_OK);
  EXPECT_EQ(type.str(), u"text/plain");
  ASSERT_EQ(m_service->ExtensionsOf(CBstr(u"text/plain").get(), extensions.put()), S_OK);
  EXPECT_EQ(extensions.str(), u"asc;txt");
  ASSERT_EQ(m_service->MediaType(CBstr(u"image/png").get(), media.put()), S_OK);
  EXPECT_EQ(media.str(), u"image");
}

TEST_F(ContentTypeServiceTest, SupportedTypesAreAConfigurableList) {
  EXPECT_TRUE(Supported(u"text/plain")) << "text/* is in the built-in list";
  EXPECT_TRUE(Supported(u"message/rfc822"));
  EXPECT_FALSE(Supported(u"image/png"));
  EXPECT_FALSE(Supported(u"textile/x")) << "a pattern matches whole media types only";
  ASSERT_EQ(m_service->AddSupportedType(CBstr(u"image/*").get()), S_OK);
  EXPECT_TRUE(Supported(u"image/png"));
  EXPECT_EQ(m_service->AddSupportedType(CBstr(u"image/*").get()), S_FALSE) << "no duplicates";
  EXPECT_EQ(m_service->AddSupportedType(CBstr(u"a;b/c").get()), E_INVALIDARG);
  ASSERT_EQ(m_service->RemoveSupportedType(CBstr(u"text/*").get()), S_OK);
  EXPECT_FALSE(Supported(u"text/plain"));
  ASSERT_EQ(m_service->ResetSupportedTypes(), S_OK);
  EXPECT_TRUE(Supported(u"text/plain"));
  EXPECT_FALSE(Supported(u"image/png"));
  VARIANT_BOOL text = 0;
  m_service->IsText(CBstr(u"application/xhtml+xml").get(), &text);
  EXPECT_EQ(text, VARIANT_TRUE);
}

TEST_F(ContentTypeServiceTest, TheVerdictIsTheThirteenthMethod) {
  void** table = *reinterpret_cast<void***>(m_service.get());
  using Verdict = HRESULT (*)(IContentTypeService*, BSTR, VARIANT_BOOL*);
  using Lookup = HRESULT (*)(IContentTypeService*, BSTR, BSTR*);
  VARIANT_BOOL yes = 0;
  CBstr type(u"text/plain");
  ASSERT_EQ(reinterpret_cast<Verdict>(table[7 + 12])(m_service.get(), type.get(), &yes), S_OK);
  EXPECT_EQ(yes, VARIANT_TRUE);
  CBstr answer;
  ASSERT_EQ(reinterpret_cast<Lookup>(table[7])(m_service.get(), CBstr(u"html").get(), answer.put()), S_OK);
  EXPECT_EQ(answer.str(), u"text/html");
}

class ThumbnailServiceTest : public MachineTest {};

TEST_F(ThumbnailServiceTest, ItemIdsAreStablePerPathAndCatalogType) {
  setenv("ZYT_THUMBNAILS", PathIn("thumbs.db").c_str(), 1);
  ASSERT_EQ(RegisterModule(ZYT_COMPONENTS_MODULE), S_OK);
  auto id = [&](const char16_t* path, const char16_t* type, LONG force) {
    ComPtr<IThumbnailService> service;
    EXPECT_EQ(CoCreateInstance(CLSID_ThumbnailService, nullptr, CLSCTX_ALL, uuidof<IThumbnailService>(),
                               service.put_void()),
              S_OK);
    CBstr result;
    EXPECT_EQ(service->ItemId(CBstr(path).get(), CBstr(type).get(), force, result.put()), S_OK);
    return result.str();
  };
  std::u16string first = id(u"/home/ann/a.doc", u"local", 0);
  EXPECT_EQ(first.size(), 38u);
  EXPECT_EQ(id(u"/home/ann/a.doc", u"local", 1), first) << "a second service object gives the same id";
  EXPECT_NE(id(u"/home/ann/a.doc", u"email", 0), first);
  EXPECT_NE(id(u"/home/ann/b.doc", u"local", 0), first);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(PathIn("thumbs.db").c_str(), &db), SQLITE_OK);
  sqlite3_stmt* query = nullptr;
  sqlite3_prepare_v2(db, "SELECT forced FROM items WHERE path='/home/ann/a.doc' AND type='local'", -1, &query, nullptr);
  ASSERT_EQ(sqlite3_step(query), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(query, 0), 1) << "a forced thumbnail is remembered";
  sqlite3_finalize(query);
  sqlite3_close(db);
  ComPtr<IThumbnailService> service;
  CoCreateInstance(CLSID_ThumbnailService, nullptr, CLSCTX_ALL, uuidof<IThumbnailService>(), service.put_void());
  CBstr result;
  EXPECT_EQ(service->ItemId(CBstr(u"").get(), CBstr(u"local").get(), 0, result.put()), E_INVALIDARG);
  unsetenv("ZYT_THUMBNAILS");
}

TEST_F(ThumbnailServiceTest, AnotherDatabaseIsOpenedWhenItsPathChanges) {
  ASSERT_EQ(RegisterModule(ZYT_COMPONENTS_MODULE), S_OK);
  ComPtr<IThumbnailService> service;
  ASSERT_EQ(CoCreateInstance(CLSID_ThumbnailService, nullptr, CLSCTX_ALL, uuidof<IThumbnailService>(),
                             service.put_void()),
            S_OK);
  auto id = [&] {
    CBstr result;
    EXPECT_EQ(service->ItemId(CBstr(u"/home/ann/a.doc").get(), CBstr(u"local").get(), 0, result.put()), S_OK);
    return result.str();
  };
  setenv("ZYT_THUMBNAILS", PathIn("one/thumbs.db").c_str(), 1);
  std::u16string first = id();
  EXPECT_EQ(id(), first);
  setenv("ZYT_THUMBNAILS", PathIn("two/thumbs.db").c_str(), 1);
  EXPECT_NE(id(), first) << "the second database knows nothing of the first";
  EXPECT_TRUE(Exists(PathIn("two/thumbs.db")));
  setenv("ZYT_THUMBNAILS", PathIn("one/thumbs.db").c_str(), 1);
  EXPECT_EQ(id(), first);
  unsetenv("ZYT_THUMBNAILS");
}

}  // namespace
