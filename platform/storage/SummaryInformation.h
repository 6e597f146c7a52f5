// The summary-information properties of OLE compound files (Office 97-2003
// documents and the like), over libgsf. Files are only read.
#pragma once

#include <string>
#include <string_view>

#include "platform/win32/WinError.h"
#include "platform/win32/WinTypes.h"

namespace ZYT {

// True when the bytes start with the compound-file signature D0 CF 11 E0 A1 B1 1A E1.
bool IsCompoundFileSignature(std::string_view firstBytes);

// The keywords (property 5 of the summary information set). S_OK with the
// text; S_FALSE with empty keywords when the file is not a compound file or
// has no such property; DISP_E_TYPEMISMATCH when the property is not text;
// the open error otherwise.
HRESULT ReadSummaryKeywords(const std::string& posixPath, std::u16string& keywords);
// The same for a compound file in memory.
HRESULT ReadSummaryKeywordsFromMemory(std::string_view bytes, std::u16string& keywords);

}  // namespace ZYT
