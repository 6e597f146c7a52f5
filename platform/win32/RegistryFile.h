// The REGEDIT text format ("Windows Registry Editor Version 5.00").
//
// Export writes UTF-8 text (what Linux tools read); import accepts UTF-8 with
// or without a byte-order mark and the UTF-16LE files regedit writes.
// Supported lines: [key], [-key], "name"="text", @="text", "name"=dword:hex,
// hex:, hex(2):, hex(7):, hex(b): and hex(N): with "\" continuations, and
// "name"=- to delete a value; ";" starts a comment line.
#pragma once

#include <string>

#include "platform/win32/Registry.h"

namespace ZYT {

// Exports the key path under root and everything below it, at any depth. The
// key must exist.
LONG RegExportKey(HKEY root, const std::u16string& subKey, std::string& text);
// Imports text as one registry transaction: all of it or, on any error,
// nothing. A syntax error returns ERROR_BADDB, a failed write the registry's
// error (ERROR_ACCESS_DENIED, ERROR_DISK_FULL, ...); `error` names the line
// and the cause.
LONG RegImportText(const std::string& text, std::string& error);
// Full names of the roots as regedit writes them; root from such a name.
const char16_t* RegRootName(HKEY root);
HKEY RegRootFromName(const std::u16string& name);

}  // namespace ZYT
