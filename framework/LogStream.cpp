#include "framework/LogStream.h"

#include <cstdio>

#include "platform/win32/Strings.h"

namespace ZYT {

CLogStream& CLogStream::operator<<(const char* text) {
  if (text) m_text += Utf8ToWide(text);
  return *this;
}

CLogStream& CLogStream::operator<<(HexNumber hex) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "0x%llx", static_cast<unsigned long long>(hex.value));
  m_text += Utf8ToWide(buffer);
  return *this;
}

CLogStream& CLogStream::AppendDecimal(bool isSigned, int64_t s, uint64_t u) {
  char buffer[24];
  if (isSigned)
    std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(s));
  else
    std::snprintf(buffer, sizeof buffer, "%llu", static_cast<unsigned long long>(u));
  m_text += Utf8ToWide(buffer);
  return *this;
}

std::u16string RenderComError(const _com_error& error) {
  CLogStream s;
  s << "_com_error " << HResultHex(error.Error()).c_str() << " " << error.ErrorMessage();
  return s.str();
}

std::u16string RenderPropSpec(const FULLPROPSPEC& property) {
  CLogStream s;
  s << GuidToString(property.guidPropSet) << "/";
  if (property.psProperty.ulKind == PRSPEC_LPWSTR)
    s << property.psProperty.lpwstr;
  else if (property.psProperty.ulKind == PRSPEC_PROPID)
    s << Hex(property.psProperty.propid);
  else
    s << "?";
  return s.str();
}

std::u16string RenderPropVariant(const PROPVARIANT& value) {
  CLogStream s;
  switch (value.vt) {
    case VT_EMPTY: s << "(empty)"; break;
    case VT_UI4: s << value.ulVal; break;
    case VT_LPWSTR: s << value.pwszVal; break;
    default: s << "(other)"; break;
  }
  return s.str();
}

}  // namespace ZYT
