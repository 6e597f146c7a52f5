// The indexer's catalogs, kept where the Indexing Service keeps them:
// HKLM\SYSTEM\CurrentControlSet\Control\ContentIndex\Catalogs\<name> with the
// value "Location" (where the catalog's index lives), an optional "Machine"
// (the machine that serves it; "." or absent for this one) and a subkey
// "Scopes" whose value names are the folders the catalog covers.
#pragma once

#include <string>
#include <vector>

#include "platform/win32/WinTypes.h"

inline constexpr char16_t kCatalogsKey[] = u"SYSTEM\\CurrentControlSet\\Control\\ContentIndex\\Catalogs";

// The bookmark-th catalog (0-based, in the catalogs' name order) that covers
// scope, a folder or file: S_OK with the machine and catalog names. Buffer
// sizes are in characters and come back as the lengths; a short buffer gives
// HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) with the sizes needed. No
// such catalog: HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS).
HRESULT LocateCatalogsW(LPCWSTR scope, ULONG bookmark, LPWSTR machine, ULONG* ccMachine, LPWSTR catalog,
                        ULONG* ccCatalog);

namespace ZYT {

struct CatalogInfo {
  std::u16string name, location, machine;
  std::vector<std::u16string> scopes;
};
std::vector<CatalogInfo> ListCatalogs();
// Adds or replaces a catalog; the registry error when it cannot.
LONG AddCatalog(const CatalogInfo& catalog);
LONG RemoveCatalog(const std::u16string& name);

}  // namespace ZYT
