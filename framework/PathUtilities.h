// The folder helpers the filters share, over the platform's path functions
// (which come with this header, as the filters use both).
#pragma once

#include <string>

#include "platform/win32/PathFunctions.h"
#include "platform/win32/Resources.h"
#include "platform/win32/WinTypes.h"

namespace ZYT {

bool IsWindowsXPOrLater();
// The product's application-data folder ("Halvorine\Orrery" under the user's
// or the machine's), created when asked; the executable's folder, in lower
// case, when it cannot be had.
std::u16string GetAppDataFolder(bool perUser, bool create);
void DeleteDirectoryContents(const std::u16string& directory, const std::u16string& pattern, bool removeDirectory,
                             bool removeSubdirectories, bool recurse, bool includeReadOnly);
// A new empty file (or folder) named prefix + four hex digits + "." + extension,
// for its owner only (0600, a folder 0700), the number starting at an
// unpredictable one; empty when all 65536 names are taken. Any thread.
std::u16string MakeUniqueTempPath(const std::u16string& directory = {}, const std::u16string& prefix = u"tmp",
                                  const std::u16string& extension = u"tmp", bool makeDirectory = false);

}  // namespace ZYT
