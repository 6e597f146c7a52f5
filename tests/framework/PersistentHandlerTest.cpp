#include <gtest/gtest.h>

#include "framework/PersistentHandler.h"
#include "platform/win32/RegistryKey.h"
#include "tests/support/TestEnvironment.h"

namespace {

using ZYT::Test::SetRegistryString;

class PersistentHandlerTest : public ZYT::Test::MachineTest {
 protected:
  const std::u16string kClasses = u"SOFTWARE\\Classes\\";
  const std::u16string kHandler = u"{888471FB-9560-47CF-A4B4-3B9E89B56C6D}";
  const std::u16string kAddin = kClasses + u"CLSID\\" + kHandler + u"\\PersistentAddinsRegistered\\" + kIFilterAddinKey;
};

TEST_F(PersistentHandlerTest, HandlerDirectlyOrThroughTheDocumentClass) {
  SetRegistryString(HKEY_LOCAL_MACHINE, kClasses + u".mp3\\PersistentHandler", u"", kHandler);
  EXPECT_EQ(ZYT::PersistentHandlerOfExtension(u".mp3"), kHandler);
  EXPECT_EQ(ZYT::PersistentHandlerOfExtension(u"mp3"), kHandler) << "the dot is optional";
  SetRegistryString(HKEY_LOCAL_MACHINE, kClasses + u".doc", u"", u"Word.Document.8");
  SetRegistryString(HKEY_LOCAL_MACHINE, kClasses + u"Word.Document.8\\CLSID", u"", u"{00020906-0000-0000-C000-000000000046}");
  SetRegistryString(HKEY_LOCAL_MACHINE, kClasses + u"CLSID\\{00020906-0000-0000-C000-000000000046}\\PersistentHandler",
                    u"", u"{98DE59A0-D175-11CD-A7BD-00006B827D94}");
  EXPECT_EQ(ZYT::PersistentHandlerOfExtension(u"doc"), u"{98DE59A0-D175-11CD-A7BD-00006B827D94}");
  SetRegistryString(HKEY_LOCAL_MACHINE, kClasses + u".broken", u"", u"Missing.ProgId");
  EXPECT_EQ(ZYT::PersistentHandlerOfExtension(u".broken"), u"");
  EXPECT_EQ(ZYT::PersistentHandlerOfExtension(u".none"), u"");
  EXPECT_EQ(ZYT::PersistentHandlerOfExtension(u""), u"") << "no \".\" key";
  SetRegistryString(HKEY_LOCAL_MACHINE, kClasses + u".\\PersistentHandler", u"", kHandler);
  EXPECT_EQ(ZYT::PersistentHandlerOfExtension(u""), kHandler) << "a name without an extension looks up \".\"";
  EXPECT_EQ(ZYT::PersistentHandlerOfExtension(u"."), kHandler);
}

TEST_F(PersistentHandlerTest, SavedFilterIsTheNativeOneBehindTheProxy) {
  SetRegistryString(HKEY_LOCAL_MACHINE, kAddin, u"", u"{A71A5A80-E4CA-46C0-9183-0CBC48108EA7}");
  EXPECT_EQ(ZYT::AddinFilterOfHandler(kHandler), u"{A71A5A80-E4CA-46C0-9183-0CBC48108EA7}");
  EXPECT_EQ(ZYT::SavedFilterOfHandler(kHandler), u"") << "only the proxy: no native filter";
  SetRegistryString(HKEY_LOCAL_MACHINE, kAddin, kSavedFilterValue, u"{0DE9957F-E255-47CC-B920-1CFD54251DED}");
  EXPECT_EQ(ZYT::SavedFilterOfHandler(kHandler), u"{0DE9957F-E255-47CC-B920-1CFD54251DED}");
}

TEST_F(PersistentHandlerTest, UndoRestoresOrRemovesTheHandler) {
  std::u16string ph = kClasses + u".txt\\PersistentHandler";
  SetRegistryString(HKEY_LOCAL_MACHINE, ph, u"", u"{32E04D13-5E47-11D7-B40F-00D009EF4932}");
  SetRegistryString(HKEY_LOCAL_MACHINE, ph, kSavedExtensionValue, u"{5E941D80-BF96-11CD-B579-08002B30BFEB}");
  SetRegistryString(HKEY_LOCAL_MACHINE, ph, kNewExtensionValue, u"{32E04D13-5E47-11D7-B40F-00D009EF4932}");
  SetRegistryString(HKEY_LOCAL_MACHINE, kClasses + u".txt\\" + kThumbnailKey, u"", u"Some Thumbnailer");
  ZYT::UndoExtensionChange(u"txt");
  ZYT::CRegistryKey key(HKEY_CLASSES_ROOT, u".txt\\PersistentHandler", KEY_READ);
  EXPECT_EQ(key.GetStringValue(u""), u"{5E941D80-BF96-11CD-B579-08002B30BFEB}");
  EXPECT_EQ(key.GetStringValue(kSavedExtensionValue), u"");
  EXPECT_EQ(key.GetStringValue(kNewExtensionValue), u"");
  EXPECT_FALSE(ZYT::CRegistryKey(HKEY_CLASSES_ROOT, u".txt\\ZYTThumbnail", KEY_READ).IsOpen());

  std::u16string made = kClasses + u".new\\PersistentHandler";
  SetRegistryString(HKEY_LOCAL_MACHINE, made, u"", u"{32E04D19-5E47-11D7-B40F-00D009EF4932}");
  SetRegistryString(HKEY_LOCAL_MACHINE, made, kTempHandlerValue, u"");
  ZYT::UndoExtensionChange(u".new");
  EXPECT_FALSE(ZYT::CRegistryKey(HKEY_CLASSES_ROOT, u".new\\PersistentHandler", KEY_READ).IsOpen())
      << "a handler key this system created goes";
  EXPECT_TRUE(ZYT::CRegistryKey(HKEY_CLASSES_ROOT, u".new", KEY_READ).IsOpen());
}

}  // namespace
