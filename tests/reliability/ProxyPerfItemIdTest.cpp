// The thumbnail service keeps the item ids it read while its store is
// unchanged; a change by another connection (another process of the product)
// must be what the next request answers.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

#include "interfaces/ClassIds.h"
#include "interfaces/ProductServices.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ComVariant.h"
#include "platform/com/ObjBase.h"
#include "platform/win32/Strings.h"
#include "tests/support/TestEnvironment.h"

namespace ZYT::Test {
namespace {

class ProxyPerfItemIdTest : public MachineTest {};

TEST_F(ProxyPerfItemIdTest, AChangeToTheStoreIsSeenByTheNextRequest) {
  ASSERT_EQ(RegisterModule(ZYT_COMPONENTS_MODULE), S_OK);
  ComPtr<IThumbnailService> service;
  ASSERT_EQ(CoCreateInstance(CLSID_ThumbnailService, nullptr, CLSCTX_ALL, uuidof<IThumbnailService>(),
                             service.put_void()),
            S_OK);
  auto id = [&] {
    CBstr result;
    EXPECT_EQ(service->ItemId(CBstr(u"/home/ann/note.txt").get(), CBstr(u"local").get(), 0, result.put()), S_OK);
    return WideToUtf8(result.str());
  };
  const std::string first = id();
  ASSERT_FALSE(first.empty());
  ASSERT_EQ(id(), first) << "an id stays";

  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(PathIn("thumbnails.db").c_str(), &other), SQLITE_OK);
  sqlite3_busy_timeout(other, 10000);
  auto change = [&](const char* sql) { ASSERT_EQ(sqlite3_exec(other, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(other); };
  change("UPDATE items SET id='{changed}' WHERE path='/home/ann/note.txt'");
  EXPECT_EQ(id(), "{changed}") << "an id changed elsewhere";
  EXPECT_EQ(id(), "{changed}");
  change("DELETE FROM items");
  const std::string fresh = id();
  EXPECT_NE(fresh, "{changed}") << "a row deleted elsewhere gets a new id";
  EXPECT_NE(fresh, first);
  sqlite3_close(other);
}

}  // namespace
}  // namespace ZYT::Test
