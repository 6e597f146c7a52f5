// Every test gets its own registry file and temporary folder, so tests run in
// parallel and leave nothing behind.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/WinTypes.h"

namespace ZYT::Test {

class MachineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

 public:
  // The test's private folder (POSIX path, no trailing separator).
  const std::string& TempDir() const { return m_dir; }
  std::u16string TempDirW() const;
  // A path inside the private folder.
  std::string PathIn(const std::string& name) const { return m_dir + "/" + name; }
  std::u16string PathInW(const std::string& name) const;
  void WriteBytes(const std::string& path, const std::string& bytes) const;
  std::string ReadBytes(const std::string& path) const;
  bool Exists(const std::string& path) const;
  std::vector<std::string> ListDir(const std::string& path) const;
  std::string SettingsPath() const { return PathIn("settings.xml"); }

 protected:
 private:
  std::string m_dir;
  std::string m_namespace;
  std::string m_savedTmp;
  bool m_hadTmp = false;
};

// Writes a REG_SZ value, creating the key; fails the test when it cannot.
void SetRegistryString(HKEY root, const std::u16string& key, const std::u16string& name, const std::u16string& value);

// Writes a REG_DWORD value, creating the key; fails the test when it cannot.
void SetRegistryDword(HKEY root, const std::u16string& key, const std::u16string& name, DWORD value);

// Sets a limit (a REG_DWORD under the limits key) of the test's machine.
void SetLimit(const char16_t* name, DWORD value);

// The machine's ANSI code page ("1252", "65001"), seen at once.
void SetCodePage(const std::u16string& acp);

// Declares the medium at a drive ("D:") or folder in the machine's volume table.
void DeclareVolume(const std::u16string& root, const std::u16string& label, DWORD serial);

// The bytes of a UTF-16 file: the byte order mark, then text.
std::string Utf16File(std::u16string_view text, bool bigEndian = false);

// Loads a built module and runs its DllRegisterServer against the test's registry.
HRESULT RegisterModule(const std::string& path);
// Points ZYT_SETTINGS at a file in the test's folder and registers the
// components module, so that the settings server answers from that file.
void UseSettingsServer(MachineTest& test, const std::string& settingsXml);

}  // namespace ZYT::Test
