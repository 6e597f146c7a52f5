#include <gtest/gtest.h>

#include "doctypes/CatalogEnumerator.h"
#include "platform/indexer/Catalogs.h"
#include "platform/win32/Strings.h"
#include "tests/support/TestEnvironment.h"

namespace {

using namespace ZYT::Test;

class CatalogTest : public MachineTest {
 protected:
  void AddCatalog(const char16_t* name, std::vector<std::u16string> scopes, const char16_t* machine = u".") {
    ASSERT_EQ(ZYT::AddCatalog({name, u"/var/lib/catalogs/x", machine, std::move(scopes)}), ERROR_SUCCESS);
  }
  void Configure(const std::string& catalogs) {
    UseSettingsServer(*this, "<settings><CIS><catalogs>" + catalogs + "</catalogs></CIS></settings>");
  }
};

TEST_F(CatalogTest, LocateFindsTheCatalogsOfAFolderInNameOrder) {
  AddCatalog(u"Zeta", {u"/home/ann"});
  AddCatalog(u"Alpha", {u"/srv", u"/home/ann/Mail"});
  AddCatalog(u"Remote", {u"/home"}, u"fileserver");
  WCHAR machine[256], catalog[256];
  std::vector<std::u16string> found;
  for (ULONG b = 0;; ++b) {
    ULONG cm = 256, cc = 256;
    if (FAILED(LocateCatalogsW(u"/home/ANN/mail/cur", b, machine, &cm, catalog, &cc))) break;
    found.push_back(std::u16string(catalog) + u"@" + machine);
    EXPECT_EQ(cc, std::char_traits<char16_t>::length(catalog));
  }
  EXPECT_EQ(found, (std::vector<std::u16string>{u"Alpha@.", u"Remote@fileserver", u"Zeta@."}));
  ULONG cm = 256, cc = 3;
  EXPECT_EQ(LocateCatalogsW(u"/srv/x", 0, machine, &cm, catalog, &cc), HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(cc, 6u) << "the size needed, with the terminator";
  cm = cc = 256;
  EXPECT_TRUE(FAILED(LocateCatalogsW(u"/srvx/data", 0, machine, &cm, catalog, &cc))) << "a prefix is not a folder";
  EXPECT_EQ(ZYT::RemoveCatalog(u"Zeta"), ERROR_SUCCESS);
  EXPECT_EQ(ZYT::ListCatalogs().size(), 2u);
}

TEST_F(CatalogTest, EnumeratorFollowsTheTypeTableOrder) {
  Configure("<catalog catalog-type=\"email\" catalog-name=\"Mail\"/><catalog catalog-type=\"bogus\" catalog-name=\"B\"/>"
            "<catalog catalog-type=\"local\" catalog-name=\"Files\"/>");
  CCatalogEnumerator catalogs;
  CCatalogAccessor first = catalogs.Next();
  EXPECT_EQ(first.Type(), u"local");
  EXPECT_EQ(first.CatalogName(), u"Files");
  EXPECT_EQ(catalogs.Next().Type(), u"email");
  EXPECT_THROW(catalogs.Next(), CCatalogEnumerator::CEOFException) << "a type the table does not know is skipped";
}

TEST_F(CatalogTest, FileTypeComesFromTheConfiguredLocalCatalog) {
  Configure("<catalog catalog-type=\"pim\" catalog-name=\"Second\"/>");
  AddCatalog(u"First", {u"/data"});
  AddCatalog(u"Second", {u"/data/pim"});
  AddCatalog(u"Elsewhere", {u"/data"}, u"server");
  std::u16string type;
  EXPECT_TRUE(CatalogTypeOfFile(u"/data/pim/contact.qhcontact", type));
  EXPECT_EQ(type, u"pim") << "the first catalog is passed over, the second is configured";
  EXPECT_FALSE(CatalogTypeOfFile(u"/data/other/file.txt", type)) << "only an unconfigured and a remote catalog";
  EXPECT_FALSE(CatalogTypeOfFile(u"/nowhere/file.txt", type)) << "no catalog covers it";
}

TEST_F(CatalogTest, WithoutASettingsServerTheErrorReachesTheCaller) {
  AddCatalog(u"Files", {u"/data"});
  std::u16string type;
  EXPECT_THROW(CatalogTypeOfFile(u"/data/a.txt", type), _com_error);
}

}  // namespace
