#pragma once

#include <string>

#include "platform/com/ObjBase.h"

// A GUID and its registry text, made on first request. Without a GUID it
// makes a new one.
class Cguid {
 public:
  Cguid() {
    if (FAILED(CoCreateGuid(&m_guid))) m_guid = GUID_NULL;
  }
  explicit Cguid(REFGUID guid) : m_guid(guid) {}

  const GUID& guid() const { return m_guid; }
  const std::u16string& str() const {
    if (m_text.empty()) m_text = ZYT::GuidToString(m_guid);
    return m_text;
  }

 private:
  GUID m_guid;
  mutable std::u16string m_text;
};
