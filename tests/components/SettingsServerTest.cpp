#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fcntl.h>

#include <atomic>
#include <thread>

#include "framework/SettingsAccess.h"
#include "platform/win32/Strings.h"
#include "platform/xml/XmlDocument.h"
#include "tests/support/TestEnvironment.h"

namespace {

using ZYT::ComPtr;

class SettingsServerTest : public ZYT::Test::MachineTest {
 protected:
  std::u16string Ask(const std::u16string& xpath) {
    ZYT::CVariant answer;
    ZYT::QuerySettings(xpath, ZYT::OmittedArgument(), answer);
    return answer.IsString() ? answer.Text() : u"(omitted)";
  }
};

TEST_F(SettingsServerTest, MissingFileIsMadeFromTheTemplate) {
  ZYT::Test::UseSettingsServer(*this, "");
  ASSERT_FALSE(Exists(SettingsPath()));
  EXPECT_EQ(Ask(u"/*/repository/user/@location"), PathInW("repository"));
  ASSERT_TRUE(Exists(SettingsPath()));
  ZYT::XmlDocument written;
  ASSERT_TRUE(written.Load(SettingsPath()));
  EXPECT_TRUE(written.SelectSingleNode("/settings/CIS/catalogs"));
  auto fields = written.SelectNodes("/settings/CIS/field-property-map/fields/field");
  ASSERT_EQ(fields.size(), 17u) << "the default field-property map is copied in";
  EXPECT_EQ(fields[0].Attribute("attribute"), "title");
  EXPECT_EQ(fields[4].Attribute("property-id"), "3");
  EXPECT_EQ(written.SelectSingleNode("/settings/CIS/field-property-map/@catalog-name").Text(), "Orrery");
  EXPECT_EQ(Ask(u"/*/user"), u"(omitted)") << "a fresh machine is not configured";
}

TEST_F(SettingsServerTest, AChangedFileIsReadAgain) {
  ZYT::Test::UseSettingsServer(*this, "<settings><repository><user location=\"/one\"/></repository></settings>");
  EXPECT_EQ(Ask(u"/*/repository/user/@location"), u"/one");
  WriteBytes(SettingsPath(), "<settings><repository><user location=\"/two\"/></repository></settings>");
  struct timespec later[2] = {{0, UTIME_OMIT}, {time(nullptr) + 5, 0}};
  utimensat(AT_FDCWD, SettingsPath().c_str(), later, 0);  // a new time even within one clock tick
  EXPECT_EQ(Ask(u"/*/repository/user/@location"), u"/two");
}

TEST_F(SettingsServerTest, SetValueWritesTheFileAndTempFolderExists) {
  ZYT::Test::UseSettingsServer(*this, "<settings><repository><user location=\"" + PathIn("repo") +
                                          "\"/></repository><CIS><catalogs/></CIS></settings>");
  ComPtr<ISettingsServer> server = ZYT::CreateSettingsServer();
  ZYT::CBstr xpath(u"/*/repository/user/@location"), value(PathInW("moved"));
  EXPECT_EQ(server->SetValue(xpath.get(), value.get()), S_OK);
  EXPECT_EQ(Ask(u"/*/repository/user/@location"), PathInW("moved"));
  EXPECT_NE(ReadBytes(SettingsPath()).find("moved"), std::string::npos);
  ZYT::CBstr nowhere(u"/*/nothing");
  EXPECT_EQ(server->SetValue(nowhere.get(), value.get()), S_FALSE) << "nothing is created";
  ZYT::CBstr folder;
  ASSERT_EQ(server->GetTempFolder(folder.put()), S_OK);
  EXPECT_EQ(folder.str(), PathInW("moved/temp"));
  EXPECT_TRUE(Exists(PathIn("moved/temp")));
  VARIANT omitted = ZYT::OmittedArgument();
  EXPECT_EQ(server->Query(xpath.get(), omitted, nullptr), E_POINTER);
  ZYT::CBstr path;
  ASSERT_EQ(server->GetSettingsPath(path.put()), S_OK);
  EXPECT_EQ(path.str(), ZYT::Utf8ToWide(SettingsPath()));
}

TEST_F(SettingsServerTest, ABrokenFileIsAnErrorNotACrash) {
  ZYT::Test::UseSettingsServer(*this, "<settings><repository>");
  ZYT::CVariant answer;
  try {
    ZYT::QuerySettings(u"/*/user", ZYT::OmittedArgument(), answer);
    FAIL() << "a broken settings file must fail the query";
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
  }
  EXPECT_EQ(ReadBytes(SettingsPath()), "<settings><repository>") << "the user's file is left as it is";
}

TEST_F(SettingsServerTest, ServesSeveralThreadsAtOnce) {
  ZYT::Test::UseSettingsServer(*this, "<settings><repository><user location=\"/r\"/></repository></settings>");
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i)
        if (ZYT::GetDebugFolder() != u"/r/Debug") ++wrong;
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace

namespace {

// The module reaches the server's query and temporary folder by their slots
// in the function table (7 and 11), as it did through the original header.
TEST_F(SettingsServerTest, QueryAndTempFolderSitInSlotsSevenAndEleven) {
  ZYT::Test::UseSettingsServer(*this, "<settings><repository><user location=\"" + PathIn("r") +
                                          "\"/></repository></settings>");
  ComPtr<ISettingsServer> server = ZYT::CreateSettingsServer();
  void** table = *reinterpret_cast<void***>(server.get());
  using QueryFn = HRESULT (*)(ISettingsServer*, BSTR, VARIANT, VARIANT*);
  using FolderFn = HRESULT (*)(ISettingsServer*, BSTR*);
  ZYT::CBstr xpath(u"/*/repository/user/@location");
  VARIANT answer;
  VariantInit(&answer);
  ASSERT_EQ(reinterpret_cast<QueryFn>(table[7])(server.get(), xpath.get(), ZYT::OmittedArgument(), &answer), S_OK);
  EXPECT_EQ(std::u16string(answer.bstrVal), PathInW("r"));
  VariantClear(&answer);
  BSTR folder = nullptr;
  ASSERT_EQ(reinterpret_cast<FolderFn>(table[11])(server.get(), &folder), S_OK);
  EXPECT_EQ(std::u16string(folder), PathInW("r/temp"));
  SysFreeString(folder);
}

}  // namespace
