// zytfilt reg: the machine's registry in the REGEDIT text format.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <vector>

#include <sys/stat.h>

#include "platform/win32/RegistryFile.h"
#include "platform/win32/RegistryStore.h"
#include "platform/win32/Strings.h"
#include "tools/zytfilt/Commands.h"

namespace {

const char kRegUsage[] =
    "usage: zytfilt reg export KEY [FILE]   write KEY and everything below it (stdout without FILE)\n"
    "       zytfilt reg import FILE         apply a REGEDIT file ('-' reads stdin)\n"
    "       zytfilt reg query KEY [VALUE]   print a key's values and subkeys, or one value\n"
    "KEY starts with a root: HKEY_LOCAL_MACHINE (HKLM), HKEY_CURRENT_USER (HKCU),\n"
    "HKEY_CLASSES_ROOT (HKCR) or HKEY_USERS (HKU), e.g. HKCR\\CLSID.\n";

int Fail(const std::string& message) {
  std::fprintf(stderr, "zytfilt reg: %s\n", message.c_str());
  return 1;
}

bool SplitKey(const std::string& text, HKEY& root, std::u16string& rest) {
  std::u16string wide = ZYT::Utf8ToWide(text);
  size_t slash = wide.find(u'\\');
  root = ZYT::RegRootFromName(wide.substr(0, slash));
  rest = slash == std::u16string::npos ? std::u16string() : wide.substr(slash + 1);
  while (!rest.empty() && rest.back() == u'\\') rest.pop_back();
  return root != nullptr;
}

std::string ErrorText(LONG rc) {
  switch (rc) {
    case ERROR_FILE_NOT_FOUND: return "not found";
    case ERROR_ACCESS_DENIED: return "access denied";
    case ERROR_CANTOPEN: return "cannot open the registry file";
    case ERROR_DISK_FULL: return "the disk is full";
    default: return "error " + std::to_string(rc);
  }
}

std::string FormatValue(DWORD type, const std::vector<BYTE>& data) {
  if ((type == REG_SZ || type == REG_EXPAND_SZ) && data.size() >= 2) {
    std::u16string text(data.size() / 2, u'\0');
    std::memcpy(text.data(), data.data(), text.size() * 2);
    while (!text.empty() && text.back() == 0) text.pop_back();
    return std::string(type == REG_SZ ? "REG_SZ" : "REG_EXPAND_SZ") + "    " + ZYT::WideToUtf8(text);
  }
  if (type == REG_MULTI_SZ && data.size() % 2 == 0) {
    // As Windows' reg query shows it: the strings joined by "\0".
    std::u16string text(data.size() / 2, u'\0');
    std::memcpy(text.data(), data.data(), data.size());
    while (!text.empty() && text.back() == 0) text.pop_back();
    std::string joined;
    size_t start = 0;
    for (;;) {
      size_t end = text.find(u'\0', start);
      joined += ZYT::WideToUtf8(text.substr(start, end == std::u16string::npos ? end : end - start));
      if (end == std::u16string::npos) break;
      joined += "\\0";
      start = end + 1;
    }
    return "REG_MULTI_SZ    " + joined;
  }
  if (type == REG_DWORD && data.size() == 4) {
    DWORD v;
    std::memcpy(&v, data.data(), 4);
    char text[32];
    std::snprintf(text, sizeof text, "REG_DWORD    0x%x", v);
    return text;
  }
  std::string out = "type " + std::to_string(type) + "    ";
  char byte[4];
  for (BYTE b : data) {
    std::snprintf(byte, sizeof byte, "%02X", b);
    out += byte;
  }
  return out;
}

int Query(const std::vector<std::string>& args) {
  HKEY root;
  std::u16string rest;
  if (args.size() < 2 || !SplitKey(args[1], root, rest)) return Fail("query needs a key such as HKLM\\SOFTWARE");
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExW(root, rest.c_str(), 0, KEY_READ, &key);
  if (rc != ERROR_SUCCESS) return Fail(args[1] + ": " + ErrorText(rc));
  int status = 0;
  for (DWORD i = 0;; ++i) {
    WCHAR name[16384];
    DWORD cch = 16384, type = 0, cb = 0;
    rc = RegEnumValueW(key, i, name, &cch, nullptr, &type, nullptr, &cb);
    if (rc != ERROR_SUCCESS) break;
    std::vector<BYTE> data(cb);
    cch = 16384;
    if (RegEnumValueW(key, i, name, &cch, nullptr, &type, data.data(), &cb) != ERROR_SUCCESS) break;
    std::string valueName = cch ? ZYT::WideToUtf8(std::u16string(name, cch)) : "(Default)";
    if (args.size() >= 3 && !ZYT::EqualsNoCase(ZYT::Utf8ToWide(valueName), ZYT::Utf8ToWide(args[2]))) continue;
    std::printf("    %s    %s\n", valueName.c_str(), FormatValue(type, data).c_str());
  }
  if (args.size() < 3) {
    for (DWORD i = 0;; ++i) {
      WCHAR name[256];
      DWORD cch = 256;
      if (RegEnumKeyExW(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      std::printf("%s\\%s\n", args[1].c_str(), ZYT::WideToUtf8(std::u16string(name, cch)).c_str());
    }
  } else {
    DWORD cb = 0;
    if (RegQueryValueExW(key, ZYT::Utf8ToWide(args[2]).c_str(), nullptr, nullptr, nullptr, &cb) != ERROR_SUCCESS)
      status = Fail(args[1] + ": value '" + args[2] + "' not found");
  }
  RegCloseKey(key);
  return status;
}

}  // namespace

int RunRegCommand(const std::vector<std::string>& args) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::fputs(kRegUsage, args.empty() ? stderr : stdout);
    return args.empty() ? 2 : 0;
  }
  if (std::string problem; ZYT::OpenRegistryStore(problem) != ERROR_SUCCESS) return Fail(problem);
  if (args[0] == "export") {
    HKEY root;
    std::u16string rest;
    if (args.size() < 2 || !SplitKey(args[1], root, rest)) return Fail("export needs a key such as HKCR\\CLSID");
    std::string text;
    LONG rc = ZYT::RegExportKey(root, rest, text);
    if (rc != ERROR_SUCCESS) return Fail(args[1] + ": " + ErrorText(rc));
    if (args.size() >= 3) {
      std::ofstream out(args[2], std::ios::binary | std::ios::trunc);
      if (!(out << text)) return Fail("cannot write " + args[2]);
    } else {
      std::fwrite(text.data(), 1, text.size(), stdout);
    }
    return 0;
  }
  if (args[0] == "import") {
    if (args.size() < 2) return Fail("import needs a file");
    std::stringstream buffer;
    if (args[1] == "-") {
      buffer << std::cin.rdbuf();
    } else {
      // A FIFO or device could block or never end; stdin is '-'.
      struct stat st;
      if (stat(args[1].c_str(), &st) != 0) return Fail("cannot read " + args[1] + ": " + std::strerror(errno));
      if (!S_ISREG(st.st_mode)) return Fail(args[1] + ": not a regular file (use '-' to read standard input)");
      std::ifstream in(args[1], std::ios::binary);
      if (!in) return Fail("cannot read " + args[1]);
      buffer << in.rdbuf();
    }
    std::string error;
    // Nothing of a file that fails is imported; the message names its line.
    if (ZYT::RegImportText(buffer.str(), error) != ERROR_SUCCESS) return Fail(args[1] + ": " + error);
    return 0;
  }
  if (args[0] == "query") return Query(args);
  return Fail("unknown subcommand '" + args[0] + "' (see 'zytfilt reg --help')");
}
