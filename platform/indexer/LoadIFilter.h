// How the indexer finds the filter of a file: extension, persistent handler
// (directly, or through the extension's ProgID and document class),
// "PersistentAddinsRegistered\{IFilter}", then the class, created and loaded
// with the path.
#pragma once

#include <string>

#include "platform/com/Filter.h"
#include "platform/com/ObjIdl.h"

// ppIUnk receives the filter's IFilter. FILTER_E_UNKNOWNFORMAT when no
// handler or filter class is registered for the extension; otherwise the
// creation's or IPersistFile::Load's HRESULT.
HRESULT LoadIFilter(LPCWSTR pwcsPath, IUnknown* pUnkOuter, void** ppIUnk);

namespace ZYT {
// The IFilter class registered for a path's extension (registry form); empty
// when there is none.
std::u16string FilterClassForPath(const std::u16string& path);
}  // namespace ZYT
