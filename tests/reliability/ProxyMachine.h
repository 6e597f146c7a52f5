// A machine with the product's catalog "Files" over the folder "in", set up
// for the product, and the module registered: the catalog proxy, made from the
// real module, stands in front of every handler's native filter.
#pragma once

#include <sys/stat.h>

#include <string>

#include "framework/PersistentHandler.h"
#include "platform/com/ComPtr.h"
#include "platform/com/Filter.h"
#include "platform/com/ObjBase.h"
#include "platform/com/ObjIdl.h"
#include "platform/indexer/Catalogs.h"
#include "platform/win32/Registry.h"
#include "tests/support/TestEnvironment.h"

namespace ZYT::Test {

class ProxyMachineTest : public MachineTest {
 protected:
  static constexpr char16_t kProxyClsid[] = u"{A71A5A80-E4CA-46C0-9183-0CBC48108EA7}";
  static constexpr CLSID kProxy = MakeGuid("{A71A5A80-E4CA-46C0-9183-0CBC48108EA7}");

  void SetUp() override {
    MachineTest::SetUp();
    for (const char* folder : {"in", "repo", "repo/Debug"}) ASSERT_EQ(mkdir(PathIn(folder).c_str(), 0700), 0);
    ASSERT_EQ(AddCatalog({u"Files", u"/var/lib/catalogs/files", u".", {PathInW("in")}}), ERROR_SUCCESS);
  }

  // Settings with the catalog configured and the given fields indexed.
  void Configure(const std::string& fields) {
    UseSettingsServer(*this, "<settings><repository><user location=\"" + PathIn("repo") +
                                 "\"/></repository><CIS><catalogs><catalog catalog-type=\"local\" "
                                 "catalog-name=\"Files\"/></catalogs><field-property-map><fields>" +
                                 fields + "</fields></field-property-map></CIS></settings>");
    SetRegistryString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\ZYT\\Orrery", u"configured", u"yes");
    ASSERT_EQ(RegisterModule(ZYT_FILTERS_MODULE), S_OK);
  }
  static std::string Field(int id) {
    return "<field attribute=\"f" + std::to_string(id) + "\" property-id=\"" + std::to_string(id) +
           "\" index=\"true\"/>";
  }

  // A catalog proxy from the registered module, loaded with the file.
  ComPtr<IFilter> LoadedProxy(const std::u16string& path) {
    ComPtr<IFilter> proxy;
    EXPECT_EQ(CoCreateInstance(kProxy, nullptr, CLSCTX_ALL, IID_IFilter, proxy.put_void()), S_OK);
    if (!proxy) return proxy;
    ComPtr<IPersistFile> file;
    EXPECT_EQ(proxy.As(file), S_OK);
    HRESULT hr = file ? file->Load(path.c_str(), 0) : E_NOINTERFACE;
    EXPECT_EQ(hr, S_OK);
    if (FAILED(hr)) proxy.Reset();
    return proxy;
  }
};

}  // namespace ZYT::Test
