// The text of one log entry, composed before it is handed to the logger.
// Numbers are decimal unless wrapped in Hex(), which writes "0x" and lower-case
// digits without leading zeros; the format never sticks to the stream.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

#include "platform/com/ComError.h"
#include "platform/com/Filter.h"

namespace ZYT {

struct HexNumber {
  uint64_t value;
};
template <class T>
HexNumber Hex(T value) {
  return {static_cast<uint64_t>(static_cast<std::make_unsigned_t<T>>(value))};
}

class CLogStream {
 public:
  CLogStream& operator<<(const std::u16string& text) {
    m_text += text;
    return *this;
  }
  CLogStream& operator<<(const char16_t* text) {
    if (text) m_text += text;
    return *this;
  }
  CLogStream& operator<<(const char* text);
  CLogStream& operator<<(char16_t c) {
    m_text += c;
    return *this;
  }
  template <class T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, char16_t> &&
                                          !std::is_same_v<T, char> && !std::is_same_v<T, bool>,
                                      int> = 0>
  CLogStream& operator<<(T value) {
    return AppendDecimal(std::is_signed_v<T>, static_cast<int64_t>(value), static_cast<uint64_t>(value));
  }
  CLogStream& operator<<(HexNumber hex);

  const std::u16string& str() const { return m_text; }
  void clear() { m_text.clear(); }
  bool empty() const { return m_text.empty(); }

 private:
  CLogStream& AppendDecimal(bool isSigned, int64_t s, uint64_t u);
  std::u16string m_text;
};

// "_com_error 0x<hr> <message>" (no line feed).
std::u16string RenderComError(const _com_error& error);
// "{GUID}/name", "{GUID}/0x<propid>" or "{GUID}/?".
std::u16string RenderPropSpec(const FULLPROPSPEC& property);
// "(empty)", the decimal of a VT_UI4, the text of a VT_LPWSTR, else "(other)".
std::u16string RenderPropVariant(const PROPVARIANT& value);

}  // namespace ZYT
