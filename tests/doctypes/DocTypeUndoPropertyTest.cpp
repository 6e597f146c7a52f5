// Every change that registration and the document type manager make to the
// machine's own entries can be undone: whatever sequence of registrations and
// choices ran, unregistering and restoring the defaults leaves the machine's
// keys as they were.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "doctypes/DocTypeManager.h"
#include "platform/com/ComVariant.h"
#include "platform/win32/Registry.h"
#include "platform/win32/RegistryFile.h"
#include "platform/win32/RegistryKey.h"
#include "platform/win32/Strings.h"
#include "platform/win32/SysInfo.h"
#include "tests/support/TestEnvironment.h"

namespace {

using namespace ZYT::Test;
using ZYT::CBstr;

constexpr char16_t kForeignHandler[] = u"{F00D0001-0000-4000-8000-000000000001}";
constexpr char16_t kForeignFilter[] = u"{F00D0002-0000-4000-8000-000000000002}";
constexpr char16_t kInstallerClass[] = u"{4C904448-74A9-11d0-AF6E-00C04FD8DC02}";

class DocTypeUndoPropertyTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    // The machine's own filters and the registry writer.
    ASSERT_EQ(RegisterModule(ZYT_COMPONENTS_MODULE), S_OK);
    const std::u16string addin = std::u16string(u"CLSID\\") + kForeignHandler +
                                 u"\\PersistentAddinsRegistered\\{89BCB740-6119-101A-BCB7-00DD010655AF}";
    SetRegistryString(HKEY_CLASSES_ROOT, std::u16string(u"CLSID\\") + kForeignHandler, u"", u"Foreign handler");
    SetRegistryString(HKEY_CLASSES_ROOT, addin, u"", kForeignFilter);
    SetRegistryString(HKEY_CLASSES_ROOT, std::u16string(u"CLSID\\") + kForeignFilter + u"\\InprocServer32", u"",
                      u"/opt/foreign/filter.so");
    SetRegistryString(HKEY_CLASSES_ROOT, u".foo", u"", u"foofile");  // no handler
    SetRegistryString(HKEY_CLASSES_ROOT, u".foo", u"Content Type", u"text/x-foo");
    SetRegistryString(HKEY_CLASSES_ROOT, u".baz\\PersistentHandler", u"", kForeignHandler);
    SetRegistryString(HKEY_CLASSES_ROOT, u".low\\PersistentHandler", u"", ZYT::ToLower(kForeignHandler));
    SetRegistryString(HKEY_CLASSES_ROOT, u".exe\\PersistentHandler", u"", u"{098F2470-BAE0-11CD-B579-08002B30BFEB}");
    SetRegistryString(HKEY_CLASSES_ROOT, u".pub", u"", u"Publisher.Document");  // no handler
    SetRegistryString(HKEY_CLASSES_ROOT, std::u16string(u"CLSID\\") + kInstallerClass + u"\\InprocServer32",
                      u"ThreadingModel", u"Apartment");
    // The product is set up: registration installs the proxy and the choices.
    SetRegistryString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\ZYT\\Orrery", u"configured", u"yes");
  }

  // Every key under HKEY_CLASSES_ROOT that is not below CLSID, and every
  // class key, as REGEDIT text, by name.
  std::map<std::u16string, std::string> ForeignKeys() {
    std::map<std::u16string, std::string> keys;
    auto add = [&](const std::u16string& parent) {
      ZYT::CRegKey key;
      if (key.Open(HKEY_CLASSES_ROOT, parent.empty() ? nullptr : parent.c_str(), KEY_READ) != ERROR_SUCCESS) return;
      for (DWORD i = 0;; ++i) {
        WCHAR name[256];
        DWORD chars = 256;
        if (RegEnumKeyExW(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        std::u16string path = parent.empty() ? std::u16string(name) : parent + u"\\" + name;
        if (path == u"CLSID") continue;
        std::string text;
        EXPECT_EQ(ZYT::RegExportKey(HKEY_CLASSES_ROOT, path, text), ERROR_SUCCESS);
        keys[path] = text;
      }
    };
    add(u"");
    add(u"CLSID");
    return keys;
  }

  HRESULT Module(const char* entry) {
    HMODULE module = LoadLibraryW(ZYT::Utf8ToWide(ZYT_FILTERS_MODULE).c_str());
    if (!module) return E_FAIL;
    auto call = reinterpret_cast<HRESULT (*)()>(GetProcAddress(module, entry));
    HRESULT hr = call ? call() : E_FAIL;
    FreeLibrary(module);
    return hr;
  }
};

TEST_F(DocTypeUndoPropertyTest, UnregisteringAndRestoringUndoesAnySequenceOfChanges) {
  const std::map<std::u16string, std::string> before = ForeignKeys();
  ASSERT_TRUE(before.count(u".baz") && before.count(std::u16string(u"CLSID\\") + kForeignHandler));

  unsigned seed = std::random_device{}();
  if (const char* fixed = std::getenv("ZYT_PROPERTY_SEED")) seed = static_cast<unsigned>(std::strtoul(fixed, nullptr, 10));
  SCOPED_TRACE("seed " + std::to_string(seed) + " (ZYT_PROPERTY_SEED repeats it)");
  std::mt19937 random(seed);
  auto pick = [&](const auto& choices) { return choices[random() % choices.size()]; };

  const std::vector<std::u16string> extensions = {u".foo", u"baz", u".baz", u".low", u".new", u".exe", u".pub"};
  const std::vector<std::u16string> handlers = {u"{32E04D13-5E47-11D7-B40F-00D009EF4932}",
                                                u"{32E04D19-5E47-11D7-B40F-00D009EF4932}", kForeignHandler,
                                                u"{5e941d80-bf96-11cd-b579-08002b30bfeb}"};
  const std::vector<std::u16string> thumbnailers = {u"Gallery", u"Internal Thumbnailer", u""};

  ZYT::ComPtr<ZYT::CComObject<CDocTypeManager>> manager;
  ASSERT_EQ(ZYT::CComObject<CDocTypeManager>::Create(manager), S_OK);
  std::string steps;
  for (int step = 0; step < 60; ++step) {
    const std::u16string ext = pick(extensions);
    HRESULT hr = S_OK;
    // Choices come more often than registrations, so that several of them
    // meet between two registrations.
    switch (random() % 10) {
      case 0:
        steps += "register ";
        hr = Module("DllRegisterServer");
        break;
      case 1:
        steps += "unregister ";
        hr = Module("DllUnregisterServer");
        break;
      case 2:
      case 6:
      case 7:
      case 8:
        steps += "SetFilter(" + ZYT::WideToUtf8(ext) + ") ";
        hr = manager->SetFilter(CBstr(ext).get(), CBstr(pick(handlers)).get());
        break;
      case 3:
        steps += "SetISimpleFilter(" + ZYT::WideToUtf8(ext) + ") ";
        hr = manager->SetISimpleFilter(CBstr(ext).get(), CBstr(u"{1273D596-0000-0000-0000-000000000001}").get());
        break;
      case 4:
        steps += "SetXMLFilter(" + ZYT::WideToUtf8(ext) + ") ";
        hr = manager->SetXMLFilter(CBstr(ext).get(), CBstr(u"unzip -p \"%1\" content.xml").get());
        break;
      case 5:
      case 9:
        steps += "SetThumbnailer(" + ZYT::WideToUtf8(ext) + ") ";
        hr = manager->SetThumbnailer(CBstr(ext).get(), CBstr(pick(thumbnailers)).get());
        break;
      default:
        break;
    }
    ASSERT_EQ(hr, S_OK) << steps;
  }
  ASSERT_EQ(Module("DllUnregisterServer"), S_OK) << steps;
  ASSERT_EQ(manager->RestoreDefaults(), S_OK) << steps;

  const std::map<std::u16string, std::string> after = ForeignKeys();
  for (const auto& [key, text] : before) {
    // Expected to differ, and why:
    // - .low: restoring gives an extension back the handler it had in upper
    //   case, the form in which the first change saved it.
    // - .pub: registration lends .exe's handler to a .pub (and .zot) key that
    //   has none, and records nothing that would take it away again.
    // - the installer class: registration sets its ThreadingModel to "Both"
    //   and does not keep the value it replaced.
    // Keys that appear are not compared: the module's own, and extensions a
    // choice created (their PersistentHandler key goes, the extension key
    // the writer made for it stays empty).
    if (key == u".low" || key == u".pub" || key == std::u16string(u"CLSID\\") + kInstallerClass) continue;
    auto found = after.find(key);
    ASSERT_NE(found, after.end()) << ZYT::WideToUtf8(key) << " is gone after " << steps;
    EXPECT_EQ(found->second, text) << ZYT::WideToUtf8(key) << " after " << steps;
  }
  ZYT::CRegistryKey low(HKEY_CLASSES_ROOT, u".low\\PersistentHandler", KEY_READ);
  std::u16string lowHandler = low.GetStringValue(u"");
  EXPECT_TRUE(lowHandler == ZYT::ToLower(kForeignHandler) || lowHandler == kForeignHandler) << steps;
  ZYT::CRegKey created;
  EXPECT_NE(created.Open(HKEY_CLASSES_ROOT, u".new\\PersistentHandler", KEY_READ), ERROR_SUCCESS) << steps;
}

}  // namespace
