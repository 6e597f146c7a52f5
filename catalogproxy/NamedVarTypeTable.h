// Words for value types ("string", "vt_ui4", "unsigned long") and their VARTYPEs.
#pragma once

#include <exception>
#include <string>
#include <unordered_map>

#include "platform/com/OleAuto.h"

class CNamedVarTypeNotFoundException : public std::exception {
 public:
  explicit CNamedVarTypeNotFoundException(std::u16string name) : m_name(std::move(name)) {}
  const char* what() const noexcept override;
  const std::u16string& Name() const { return m_name; }

 private:
  std::u16string m_name;
  mutable std::string m_message;
};

class CNamedVarTypeTable {
 public:
  CNamedVarTypeTable();
  // Case-insensitive; throws CNamedVarTypeNotFoundException for any other word.
  VARTYPE Lookup(std::u16string name) const;

 private:
  std::unordered_map<std::u16string, VARTYPE> m_types;
};

extern const CNamedVarTypeTable g_namedVarTypes;
