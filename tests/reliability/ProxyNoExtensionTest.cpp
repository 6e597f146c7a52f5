// A file whose name has no extension is typed and filtered through the
// registry key "." as any other file through ".<ext>".
#include <gtest/gtest.h>

#include "tests/reliability/ProxyMachine.h"
#include "tests/support/ProtocolDriver.h"

namespace ZYT::Test {
namespace {

class ProxyNoExtensionTest : public ProxyMachineTest {};

TEST_F(ProxyNoExtensionTest, TheDotKeyNamesTheHandlerAndTheContentType) {
  Configure(Field(3));
  const std::u16string textHandler = PersistentHandlerOfExtension(u".txt");
  ASSERT_FALSE(textHandler.empty()) << "the machine's text filter is registered";
  SetRegistryString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\.\\PersistentHandler", u"", textHandler);
  SetRegistryString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\.", u"Content Type", u"text/plain");
  WriteBytes(PathIn("in/README"), "Read me first.\n");

  ComPtr<IFilter> proxy = LoadedProxy(PathInW("in/README"));
  ASSERT_TRUE(proxy);
  DriveOptions options;
  options.valueTextForwarded = true;
  WalkResult r = DriveFilter(proxy.get(), options);
  ASSERT_TRUE(ObeysProtocol(r));
  std::u16string text;
  for (const std::u16string& t : Texts(r)) text += t;
  EXPECT_NE(text.find(u"Read me first."), std::u16string::npos) << "the text filter of \".\" read the file";
  EXPECT_EQ(Values(r), (std::vector<std::string>{"\"text/plain\"", "\"\""})) << "the content type of \".\"";
}

}  // namespace
}  // namespace ZYT::Test
