#pragma once

#include <string>

#include "platform/com/TaskAllocator.h"

// A wide string allocated with the task allocator, as handed to the callers
// of IPersistFile::GetCurFile; null when empty or when allocation failed.
class CCoString {
 public:
  CCoString() = default;
  explicit CCoString(const std::u16string& text) { Assign(text); }
  ~CCoString() { CoTaskMemFree(m_text); }
  CCoString(const CCoString&) = delete;
  CCoString& operator=(const CCoString&) = delete;

  CCoString& operator=(const std::u16string& text) {
    Assign(text);
    return *this;
  }
  LPWSTR get() const { return m_text; }
  // The caller owns the string from now on.
  LPWSTR Detach() {
    LPWSTR text = m_text;
    m_text = nullptr;
    return text;
  }

 private:
  void Assign(const std::u16string& text) {
    CoTaskMemFree(m_text);
    m_text = ZYT::CoTaskStrDup(text);
  }
  LPWSTR m_text = nullptr;
};
