#include <gtest/gtest.h>

#include <cstring>

#include "platform/win32/RegistryFile.h"
#include "platform/win32/Strings.h"
#include "tests/support/TestEnvironment.h"

namespace {

class RegistryFileTest : public ZYT::Test::MachineTest {};

const char kSample[] =
    "Windows Registry Editor Version 5.00\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{0DE9957F-E255-47CC-B920-1CFD54251DED}]\n"
    "@=\"Mp3Filter Class\"\n"
    "\"Quote\\\"d \\\\ name\"=\"C:\\\\Program Files\\\\\\\"x\\\"\"\n"
    "\"Count\"=dword:0000002a\n"
    "\"Blob\"=hex:00,01,fe,ff\n"
    "\"Path\"=hex(2):25,00,54,00,4d,00,50,00,25,00,00,00\n"
    "\"List\"=hex(7):61,00,00,00,62,00,00,00,00,00\n"
    "\"Big\"=hex(b):01,00,00,00,00,00,00,80\n"
    "\"Bare\"=hex(1):61,00,62,00\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{0DE9957F-E255-47CC-B920-1CFD54251DED}\\InprocServer32]\n"
    "@=\"/usr/lib/zyt/zytfilters.dll.so\"\n"
    "\"ThreadingModel\"=\"Both\"\n"
    "\"Unicode \xc3\xa9\xe2\x82\xac\"=\"caf\xc3\xa9\"\n";

TEST_F(RegistryFileTest, ExportOfAnImportGivesTheSameText) {
  std::string error;
  ASSERT_EQ(ZYT::RegImportText(kSample, error), ERROR_SUCCESS) << error;
  std::string exported;
  ASSERT_EQ(ZYT::RegExportKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\CLSID", exported), ERROR_SUCCESS);
  std::string expected = std::string("Windows Registry Editor Version 5.00\n\n"
                                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID]\n") +
                         (kSample + std::strlen("Windows Registry Editor Version 5.00\n")) + "\n";
  EXPECT_EQ(exported, expected);

  // Import the export into a clean key tree: the bytes must be identical.
  ASSERT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\CLSID"), ERROR_SUCCESS);
  ASSERT_EQ(ZYT::RegImportText(exported, error), ERROR_SUCCESS) << error;
  std::string again;
  ASSERT_EQ(ZYT::RegExportKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\CLSID", again), ERROR_SUCCESS);
  EXPECT_EQ(again, exported);
}

TEST_F(RegistryFileTest, ValuesKeepTheirExactBytes) {
  std::string error;
  ASSERT_EQ(ZYT::RegImportText(kSample, error), ERROR_SUCCESS) << error;
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, u"CLSID\\{0DE9957F-E255-47CC-B920-1CFD54251DED}", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  BYTE data[64];
  DWORD type = 0, cb = sizeof data;
  ASSERT_EQ(RegQueryValueExW(key, u"Quote\"d \\ name", nullptr, &type, data, &cb), ERROR_SUCCESS);
  EXPECT_EQ(ZYT::WideToUtf8(reinterpret_cast<char16_t*>(data)), "C:\\Program Files\\\"x\"");
  EXPECT_EQ(cb, (20u + 1) * 2) << "REG_SZ is stored with its terminator";
  cb = sizeof data;
  ASSERT_EQ(RegQueryValueExW(key, u"Bare", nullptr, &type, data, &cb), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(cb, 4u) << "a string without terminator survives the round trip as hex(1)";
  cb = sizeof data;
  ASSERT_EQ(RegQueryValueExW(key, u"Count", nullptr, &type, data, &cb), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(data[0], 42);
  RegCloseKey(key);
}

TEST_F(RegistryFileTest, LongHexValuesWrapAndReadBack) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Wrap", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  std::vector<BYTE> blob(300);
  for (size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<BYTE>(i * 7);
  RegSetValueExW(key, u"blob", 0, REG_BINARY, blob.data(), static_cast<DWORD>(blob.size()));
  RegCloseKey(key);
  std::string text, error;
  ASSERT_EQ(ZYT::RegExportKey(HKEY_CURRENT_USER, u"Wrap", text), ERROR_SUCCESS);
  EXPECT_NE(text.find(",\\\n  "), std::string::npos) << "long lines continue with a backslash";
  for (size_t pos = 0, end; (end = text.find('\n', pos)) != std::string::npos; pos = end + 1)
    EXPECT_LE(end - pos, 80u) << "a line is wider than regedit writes them";
  ASSERT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, u"Wrap"), ERROR_SUCCESS);
  ASSERT_EQ(ZYT::RegImportText(text, error), ERROR_SUCCESS) << error;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Wrap", 0, KEY_READ, &key), ERROR_SUCCESS);
  std::vector<BYTE> back(400);
  DWORD cb = 400;
  ASSERT_EQ(RegQueryValueExW(key, u"blob", nullptr, nullptr, back.data(), &cb), ERROR_SUCCESS);
  back.resize(cb);
  EXPECT_EQ(back, blob);
  RegCloseKey(key);
}

TEST_F(RegistryFileTest, ImportReadsUtf16FilesAndDeletions) {
  std::u16string text =
      u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Gone\\Child]\r\n\"v\"=\"1\"\r\n"
      u"[HKEY_CURRENT_USER\\Kept]\r\n\"a\"=\"1\"\r\n\"b\"=\"2\"\r\n\r\n"
      u"[-HKEY_CURRENT_USER\\Gone]\r\n[HKEY_CURRENT_USER\\Kept]\r\n\"a\"=-\r\n";
  std::string error;
  ASSERT_EQ(ZYT::RegImportText(ZYT::Test::Utf16File(text), error), ERROR_SUCCESS) << error;
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Gone", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Kept", 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD cb = 0;
  EXPECT_EQ(RegQueryValueExW(key, u"a", nullptr, nullptr, nullptr, &cb), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueExW(key, u"b", nullptr, nullptr, nullptr, &cb), ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST_F(RegistryFileTest, SyntaxErrorsNameTheirLine) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"REGEDIT5\n", "line 1: not a registry file"},
      {"Windows Registry Editor Version 5.00\n\"v\"=\"x\"\n", "line 2: value outside a key"},
      {"Windows Registry Editor Version 5.00\n[HKEY_NOWHERE\\x]\n", "line 2: unknown root key"},
      {"Windows Registry Editor Version 5.00\n[HKCU\\x]\n\"v\"=dword:123456789\n", "line 3: bad dword value"},
      {"Windows Registry Editor Version 5.00\n[HKCU\\x]\n\n\"v\"=hex:0g\n", "line 4: bad hex bytes"},
      {"Windows Registry Editor Version 5.00\n[HKCU\\x\n", "line 2: key name without closing bracket"},
      {"Windows Registry Editor Version 5.00\n[HKCU\\x]\n\"v\"=\"open\n", "line 3: bad string value"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_EQ(ZYT::RegImportText(c.text, error), ERROR_BADDB) << c.text;
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << "got: " << error;
  }
}

}  // namespace
