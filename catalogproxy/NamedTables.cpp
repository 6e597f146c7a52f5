#include "catalogproxy/NamedPropertyTable.h"
#include "catalogproxy/NamedVarTypeTable.h"
#include "framework/FilterInit.h"
#include "platform/com/Guid.h"
#include "platform/win32/Strings.h"

namespace {

// towlower of each code unit, as the lookups always lowered their words.
void Lower(std::u16string& name) { CharLowerBuffW(name.data(), static_cast<DWORD>(name.size())); }

std::string Message(const char16_t* prefix, const std::u16string& name) {
  return ZYT::WideToCodePage(CP_ACP, prefix + name + u"' not found");
}

}  // namespace

const char* CNamedPropertyNotFoundException::what() const noexcept {
  try {
    if (m_message.empty()) m_message = Message(u"CNamedPropertyNotFoundException: '", m_name);
  } catch (...) {
    return "CNamedPropertyNotFoundException";
  }
  return m_message.c_str();
}

const char* CNamedVarTypeNotFoundException::what() const noexcept {
  try {
    if (m_message.empty()) m_message = Message(u"CNamedVarTypeNotFoundException: '", m_name);
  } catch (...) {
    return "CNamedVarTypeNotFoundException";
  }
  return m_message.c_str();
}

CNamedPropertyTable::CNamedPropertyTable() {
  GUID product{};
  CLSIDFromString(u"{AA69B8CB-2620-4097-81F9-1CC3D0E15C2C}", &product);
  auto add = [&](const char16_t* name, const GUID& set, PROPID id) {
    FULLPROPSPEC entry{};
    entry.guidPropSet = set;
    entry.psProperty.ulKind = PRSPEC_PROPID;
    entry.psProperty.propid = id;
    m_properties.emplace(name, entry);
  };
  add(u"content", PSGUID_STORAGE, PID_STG_CONTENTS);
  add(u"contents", PSGUID_STORAGE, PID_STG_CONTENTS);
  add(u"attachment-info", product, 10);
  add(u"cc", product, 8);
  add(u"content-type", product, 3);
  add(u"from", product, 12);
  add(u"message-size", product, 13);
  add(u"num-attachments", product, 9);
  add(u"subject", product, 5);
  add(u"summary", product, 6);
  add(u"title", product, 11);
  add(u"to", product, 7);
}

FULLPROPSPEC CNamedPropertyTable::Lookup(std::u16string name) const {
  Lower(name);
  auto it = m_properties.find(name);
  if (it == m_properties.end()) throw CNamedPropertyNotFoundException(name);
  return it->second;
}

CNamedVarTypeTable::CNamedVarTypeTable()
    : m_types{{u"bool", VT_BOOL},         {u"byte", VT_UI1},          {u"char", VT_I1},
              {u"double", VT_R8},         {u"float", VT_R4},          {u"int", VT_INT},
              {u"long", VT_I4},           {u"short", VT_I2},          {u"string", VT_LPWSTR},
              {u"uint", VT_UINT},         {u"ulong", VT_UI4},         {u"unsigned int", VT_UINT},
              {u"unsigned long", VT_UI4}, {u"unsigned short", VT_UI2}, {u"ushort", VT_UI2},
              {u"vt_bool", VT_BOOL},      {u"vt_i1", VT_I1},          {u"vt_i2", VT_I2},
              {u"vt_i4", VT_I4},          {u"vt_int", VT_INT},        {u"vt_lpwstr", VT_LPWSTR},
              {u"vt_r4", VT_R4},          {u"vt_r8", VT_R8},          {u"vt_ui1", VT_UI1},
              {u"vt_ui2", VT_UI2},        {u"vt_ui4", VT_UI4},        {u"vt_uint", VT_UINT}} {}

VARTYPE CNamedVarTypeTable::Lookup(std::u16string name) const {
  Lower(name);
  auto it = m_types.find(name);
  if (it == m_types.end()) throw CNamedVarTypeNotFoundException(name);
  return it->second;
}

// Built in this order when the module loads, before any filter exists.
const CNamedPropertyTable g_namedProperties;
const CNamedVarTypeTable g_namedVarTypes;
