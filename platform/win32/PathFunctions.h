// Windows path functions with Windows semantics: "\" and "/" both separate,
// drive roots are kept.
#pragma once

#include <string>

#include "platform/win32/WinTypes.h"

namespace ZYT {

// Drive and directory, without a trailing separator unless the directory part
// is a single character: "C:\a.txt" -> "C:\", "C:\x\a.txt" -> "C:\x".
std::u16string DirectoryOf(const std::u16string& path);
std::u16string FileNameOf(const std::u16string& path);
std::u16string FileTitleOf(const std::u16string& path);
// Without the dot; "" when the name has none.
std::u16string ExtensionOf(const std::u16string& path);
// Joins with a separator and a dot as needed; any part may be empty. The
// separator is "/" after a POSIX directory, "\" otherwise.
std::u16string MakePath(const std::u16string& directory, const std::u16string& name, const std::u16string& extension);
// Each existing component in the spelling the file system has.
std::u16string LongPathOf(const std::u16string& path);
// The module's file (null: the host executable), at most 260 characters.
std::u16string ModuleFileName(HMODULE module = nullptr);
bool IsDirectory(const std::u16string& path);

// Creates the folder and its missing parents, each for its owner only (0700);
// whether it now is a folder. Folders that exist are left as they are.
bool CreateDirectoryTree(const std::u16string& path);

}  // namespace ZYT
