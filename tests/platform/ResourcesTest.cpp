#include <gtest/gtest.h>

#include "platform/win32/Resources.h"
#include "platform/win32/Strings.h"
#include "platform/win32/SysInfo.h"

namespace {

HMODULE OpenModule(const char* path) {
  return LoadLibraryExW(ZYT::Utf8ToWide(path).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
}

TEST(ResourcesTest, FindsTypedResourcesByIdAndName) {
  HMODULE module = OpenModule(ZYT_FILTERS_MODULE);
  ASSERT_NE(module, nullptr);
  HRSRC script = FindResourceW(module, MAKEINTRESOURCEW(106), u"registry");
  ASSERT_NE(script, nullptr) << "types are matched without case";
  std::string text(static_cast<const char*>(LockResource(LoadResource(module, script))), SizeofResource(module, script));
  EXPECT_EQ(text.rfind("HKCR", 0), 0u);
  EXPECT_NE(FindResourceW(module, u"#106", u"REGISTRY"), nullptr) << "\"#106\" names id 106";
  EXPECT_NE(FindResourceW(module, u"zytfilters.xml", RT_HTML), nullptr);
  EXPECT_EQ(FindResourceW(module, MAKEINTRESOURCEW(107), u"REGISTRY"), nullptr) << "there is no script 107";
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
  EXPECT_EQ(FindResourceW(module, MAKEINTRESOURCEW(1), u"NOSUCHTYPE"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
  WCHAR name[32];
  EXPECT_EQ(LoadStringW(module, 100, name, 32), 10);
  EXPECT_EQ(std::u16string(name), u"zytFilters");
  EXPECT_EQ(LoadStringW(module, 100, name, 4), 3) << "truncated to the buffer";
  WCHAR path[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(module, path, MAX_PATH), 0u);
  EXPECT_EQ(ZYT::WideToUtf8(path), ZYT_FILTERS_MODULE);
  EXPECT_TRUE(FreeLibrary(module));
}

TEST(ResourcesTest, ModulesWithoutResourcesAnswerNotFound) {
  HMODULE module = OpenModule(ZYT_TEST_MODULE);
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(FindResourceW(module, MAKEINTRESOURCEW(1), u"REGISTRY"), nullptr);
  FreeLibrary(module);
  EXPECT_EQ(OpenModule("/nonexistent/x.dll.so"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

}  // namespace
