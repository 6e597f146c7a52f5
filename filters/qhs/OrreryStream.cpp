#include "filters/qhs/OrreryStream.h"

#include <algorithm>

#include "platform/com/ComError.h"
#include "platform/com/Guid.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/Limits.h"
#include "platform/win32/PathMap.h"
#include "platform/win32/Strings.h"

COrreryStream::COrreryStream() {
  if (!m_document.LoadXml(kTemplate)) ZYT::ThrowHResult(E_FAIL);
  GUID guid{};
  ZYT::ThrowIfFailed(CoCreateGuid(&guid));
  // The registry form without its braces.
  std::u16string text = ZYT::GuidToString(guid);
  m_document.SelectSingleNode("/*/id").SetAttribute("guid", ZYT::WideToUtf8(text.substr(1, text.size() - 2)));
}

void COrreryStream::Load(const std::u16string& path) {
  m_document = ZYT::XmlDocument();
  std::string posixPath, bytes;
  DWORD error = 0;
  // A stream is a few hundred bytes; the bound keeps a hostile file small.
  const size_t limit = std::clamp<DWORD>(ZYT::GetLimit(u"MaxStreamFileBytes", 1024 * 1024), 4096, 256 * 1024 * 1024);
  if (!ZYT::MapToPosixPath(path, posixPath, error) || !ZYT::ReadRegularFile(posixPath, bytes, error, limit)) return;
  m_document.LoadXml(bytes);
}

std::u16string COrreryStream::GetIdAttribute(const std::string& name) const {
  ZYT::XmlNode id = m_document.SelectSingleNode("/*/id");
  if (!id || !id.IsElement()) return {};
  return ZYT::Utf8ToWide(id.Attribute(name));
}
