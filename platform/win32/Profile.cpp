#include "platform/win32/Profile.h"

#include <algorithm>
#include <string>
#include <vector>

#include "platform/win32/FileApi.h"
#include "platform/win32/Limits.h"
#include "platform/win32/PathMap.h"
#include "platform/win32/ProfileText.h"
#include "platform/win32/Strings.h"
#include "platform/win32/WinError.h"

namespace {

// Shortcuts and configuration files are small; the bound keeps a hostile
// name from making every lookup read a huge file into memory.
size_t MaxProfileBytes() {
  return std::clamp<DWORD>(ZYT::GetLimit(u"MaxProfileFileBytes", 1024 * 1024), 4096, 64 * 1024 * 1024);
}

// The file's sections; empty with the last error set when it cannot be read.
std::vector<ZYT::ProfileSection> ReadProfile(LPCWSTR fileName) {
  std::string posixPath;
  DWORD error = 0;
  std::string bytes;
  if (!fileName || !ZYT::MapToPosixPath(fileName, posixPath, error) ||
      !ZYT::ReadRegularFile(posixPath, bytes, error, MaxProfileBytes())) {
    SetLastError(error ? error : ERROR_FILE_NOT_FOUND);
    return {};
  }
  std::u16string text = ZYT::ProfileBytesToText(
      bytes, [](UINT codePage, std::string_view eightBit) { return ZYT::CodePageToWide(codePage, eightBit); });
  return ZYT::ParseProfile(text);
}

const ZYT::ProfileSection* FindSection(const std::vector<ZYT::ProfileSection>& sections, std::u16string_view name) {
  for (const ZYT::ProfileSection& section : sections)
    if (ZYT::EqualsNoCase(section.name, name)) return &section;
  return nullptr;
}

// Copies text cut to size - 1 characters with its terminator; the characters copied.
DWORD CopyString(std::u16string_view text, LPWSTR buffer, DWORD size) {
  size_t n = std::min<size_t>(text.size(), size - 1);
  std::copy_n(text.data(), n, buffer);
  buffer[n] = 0;
  return static_cast<DWORD>(n);
}

// A value between matching quotes loses them.
std::u16string_view Unquoted(std::u16string_view value) {
  if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') && value.back() == value.front())
    return value.substr(1, value.size() - 2);
  return value;
}

// Names each with its terminator, then a final terminator; a list that does not
// fit is cut at size - 2 characters and ends in two terminators.
DWORD CopyList(const std::vector<std::u16string_view>& names, LPWSTR buffer, DWORD size) {
  if (size == 1) {
    buffer[0] = 0;
    return 0;
  }
  DWORD used = 0;
  for (std::u16string_view name : names) {
    if (used + name.size() + 1 > size - 1) {
      // The names before may already fill the buffer up to its last two units.
      size_t room = used < size - 2 ? size - 2 - used : 0;
      std::copy_n(name.data(), room, buffer + used);
      buffer[size - 2] = 0;
      buffer[size - 1] = 0;
      return size - 2;
    }
    std::copy_n(name.data(), name.size(), buffer + used);
    used += static_cast<DWORD>(name.size());
    buffer[used++] = 0;
  }
  buffer[used] = 0;
  return used;
}

}  // namespace

DWORD GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR defaultValue, LPWSTR buffer, DWORD size,
                               LPCWSTR fileName) {
  if (!buffer || size == 0) return 0;
  std::u16string_view fallback = defaultValue ? defaultValue : u"";
  while (!fallback.empty() && fallback.back() == u' ') fallback.remove_suffix(1);
  std::vector<ZYT::ProfileSection> sections = ReadProfile(fileName);

  if (!section) {
    std::vector<std::u16string_view> names;
    for (const ZYT::ProfileSection& each : sections)
      if (!each.name.empty()) names.push_back(each.name);
    return CopyList(names, buffer, size);
  }
  const ZYT::ProfileSection* found = FindSection(sections, section);
  if (!key) {
    std::vector<std::u16string_view> keys;
    if (found)
      for (const ZYT::ProfileEntry& entry : found->entries)
        if (!entry.key.empty()) keys.push_back(entry.key);
    if (keys.empty()) return CopyString(fallback, buffer, size);
    return CopyList(keys, buffer, size);
  }
  if (found)
    for (const ZYT::ProfileEntry& entry : found->entries)
      if (entry.hasValue && ZYT::EqualsNoCase(entry.key, key)) return CopyString(Unquoted(entry.value), buffer, size);
  return CopyString(fallback, buffer, size);
}
