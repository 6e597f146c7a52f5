#include "framework/AutoFile.h"

#include <utility>

#include "platform/win32/FileApi.h"

namespace ZYT {

void CAutoFile::Reset(std::u16string path) {
  Release();
  m_path = std::move(path);
}

void CAutoFile::Release() {
  if (m_path.empty()) return;
  SetFileAttributesW(m_path.c_str(), GetFileAttributesW(m_path.c_str()) & ~FILE_ATTRIBUTE_READONLY &
                                         ~FILE_ATTRIBUTE_DIRECTORY);
  if (!DeleteFileW(m_path.c_str())) {
    HANDLE h = CreateFileW(m_path.c_str(), DELETE, FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  m_path.clear();
}

std::u16string CAutoFile::Detach() { return std::exchange(m_path, std::u16string()); }

}  // namespace ZYT
