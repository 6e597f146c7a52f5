// Type library registration. A type library resource here is a "key = value"
// text (library, libid, version, lcid, helpstring, interface and coclass
// lines); registering writes what RegisterTypeLib writes on Windows:
// HKCR\TypeLib\{libid}\<version> with its "<lcid>\win32" path, FLAGS and
// HELPDIR, and HKCR\Interface\{iid} for each dual interface, marshalled by the
// automation marshaller {00020424-0000-0000-C000-000000000046}.
#pragma once

#include <string>

#include "platform/win32/WinTypes.h"

namespace ZYT {

// E_INVALIDARG for a description without libid or version; the registry's
// error otherwise.
HRESULT RegisterTypeLibrary(const std::u16string& description, const std::u16string& modulePath);

}  // namespace ZYT
