// Where named kernel objects live. Windows names ("Global\...", "\\.\pipe\...")
// map to POSIX names inside a namespace: $ZYT_OBJECT_NAMESPACE, else
// "zyt-<uid>", so that tests and users do not meet each other's objects.
//  - an event "Global\Some name" is the semaphore "/<ns>.Global_Some_name";
//  - a pipe "\\.\pipe\A\B" is the Unix socket "<dir>/A.B", where <dir> is
//    $ZYT_PIPE_DIR, else $XDG_RUNTIME_DIR/<ns>-pipes, else /tmp/<ns>-pipes.
// Another user could make either first, the names being easy to guess: an
// event whose semaphore belongs to another user is refused like a pipe folder
// that is not private (ERROR_ACCESS_DENIED; see Pipes.h).
#pragma once

#include <string>

#include "platform/win32/WinTypes.h"

namespace ZYT {
std::string ObjectNamespace();
std::string SemaphoreNameFor(const std::u16string& eventName);
// The folder of every pipe's socket (see above).
std::string PipeFolder();
// Empty when the name is not of the form "\\.\pipe\NAME" (or "\\<server>\pipe\NAME").
std::string SocketPathFor(const std::u16string& pipeName);
}  // namespace ZYT
