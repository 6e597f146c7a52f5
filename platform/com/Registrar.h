// Runs registry scripts in the ATL registrar's syntax:
//
//   HKCR
//   {
//     NoRemove CLSID
//     {
//       ForceRemove {...} = s 'Description'
//       {
//         InprocServer32 = s '%MODULE%'
//         {
//           val ThreadingModel = s 'Both'
//         }
//       }
//     }
//   }
//
// Registering: a ForceRemove key is deleted with everything below it and
// written anew; other keys are created when missing. Unregistering, children
// first: ForceRemove (and Delete) keys go with everything below them;
// NoRemove keys stay, but their script values go; plain keys lose their
// script values and then go when nothing else is left in them. Values are
// "s" (REG_SZ), "e" (REG_EXPAND_SZ) or "d" (REG_DWORD). Replacements such as
// %MODULE% are applied to the text first, with single quotes doubled.
#pragma once

#include <map>
#include <string>

#include "platform/win32/WinTypes.h"

namespace ZYT {

class CRegistrar {
 public:
  void AddReplacement(const std::u16string& key, const std::u16string& value) { m_replacements[key] = value; }
  // S_OK, a syntax error (E_INVALIDARG, with the reason in LastError()), or the
  // HRESULT of the first registry call that failed.
  HRESULT Register(const std::u16string& script);
  HRESULT Unregister(const std::u16string& script);
  const std::string& LastError() const { return m_error; }

 private:
  HRESULT Run(const std::u16string& script, bool doRegister);
  std::map<std::u16string, std::u16string> m_replacements;
  std::string m_error;
};

}  // namespace ZYT
