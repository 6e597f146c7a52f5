// zytfilt setup gives a machine without them the indexer's own settings (the
// filter time budget, the list of filter modules), and keeps what an
// administrator set.
#include <gtest/gtest.h>

#include "tests/support/ChildProcess.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/ZipWriter.h"
#include "tests/support/ZytfiltMachine.h"

namespace ZYT::Test {
namespace {

class SetupIndexerSettingsTest : public ZytfiltMachineTest {
 protected:
  std::string Query(const std::string& value) {
    ProcessResult r = Zytfilt({"reg", "query", "HKLM\\SYSTEM\\CurrentControlSet\\Control\\ContentIndex", value});
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  }
};

TEST_F(SetupIndexerSettingsTest, AFreshMachineIndexesArchiveMembersAndListsThePdfFilterAfterTheOthers) {
  ASSERT_EQ(Zytfilt({"setup"}).status, 0);
  EXPECT_NE(Query("FilterIdleTimeout").find("0xdbba0"), std::string::npos) << Query("FilterIdleTimeout");
  const std::string modules = Query("DLLsToRegister");
  const size_t components = modules.find("zytcomponents.dll.so");
  const size_t pdf = modules.find("pdffilt.dll.so");
  const size_t filters = modules.find("zytfilters.dll.so");
  ASSERT_NE(components, std::string::npos) << modules;
  ASSERT_NE(pdf, std::string::npos) << modules;
  ASSERT_NE(filters, std::string::npos) << modules;
  EXPECT_LT(components, pdf);
  EXPECT_LT(pdf, filters) << "the module registering itself comes after the PDF filter";

  // Without a budget the archive filter indexes no member; with setup's it does.
  const std::string archive = PathIn("notes.zip");
  WriteBytes(archive, ZipArchive({{"today.txt", "the heron came back\n"}}));
  ProcessResult dump = Zytfilt({"dump", archive});
  ASSERT_EQ(dump.status, 0) << dump.err;
  EXPECT_NE(dump.out.find("the heron came back"), std::string::npos) << dump.out;
}

TEST_F(SetupIndexerSettingsTest, WhatAnAdministratorSetIsKept) {
  WriteBytes(PathIn("index.reg"),
             "Windows Registry Editor Version 5.00\r\n\r\n"
             "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\ContentIndex]\r\n"
             "\"FilterIdleTimeout\"=dword:0000ea60\r\n");
  ASSERT_EQ(Zytfilt({"reg", "import", PathIn("index.reg")}).status, 0);
  ASSERT_EQ(Zytfilt({"setup"}).status, 0);
  EXPECT_NE(Query("FilterIdleTimeout").find("0xea60"), std::string::npos) << Query("FilterIdleTimeout");
  ASSERT_EQ(Zytfilt({"setup"}).status, 0);
  const std::string modules = Query("DLLsToRegister");
  EXPECT_EQ(modules.find("zytfilters.dll.so"), modules.rfind("zytfilters.dll.so")) << "listed once: " << modules;
}

}  // namespace
}  // namespace ZYT::Test
