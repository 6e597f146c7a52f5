// The diagnostic log of one filter object, and the fixed-file performance
// table. Logging is on only while the log folder exists ("Debug.Filter"
// beside the debug folder); each entry opens, appends to and closes the file.
#pragma once

#include <optional>
#include <string>

#include "framework/CriticalSection.h"
#include "framework/LogStream.h"
#include "platform/com/ComBoundary.h"
#include "platform/win32/DirectoryPresence.h"

class CSimpleLogger : public ZYT::IErrorLog {
 public:
  // prefixMode: name is the prefix of a unique file made at the first entry;
  // otherwise name is the file's name in the folder.
  CSimpleLogger(std::u16string name, bool prefixMode, bool timeStamps, std::u16string folder = {});
  virtual ~CSimpleLogger() = default;

  // Empties the current file, so that the next entry chooses its file anew.
  void SetFolder(const std::u16string& folder);
  // Whether an entry would be written now, so that callers can skip building
  // entries that nobody reads. The folder is looked at again for every entry,
  // so that creating it switches logging on at the next entry (a process-wide
  // watch on its parent answers while nothing there changed).
  bool Logging();
  // Writes the stream's text as one entry and empties the stream, whether or
  // not logging is on. label: a source file name; only the part after its
  // last "\" (or "/") is written; null for none. line -1: no line.
  void Write(ZYT::CLogStream& stream, const char* label = nullptr, int line = -1);
  void Log(const std::u16string& text, const char* label = nullptr, int line = -1);
  void LogComError(const _com_error& error, const char* label, int line);
  // what, " failed, error = ", GetLastError() in decimal.
  void LogWin32Failure(const std::u16string& what, const char* label, int line);
  void LogError(const std::u16string& text, const char* file, int line) override { Log(text, file, line); }

  const std::u16string& CurrentFile() const { return m_currentFile; }
  const std::u16string& Folder() const { return m_folder; }

 private:
  bool FolderPresent();  // under m_lock
  void WriteEntry(const std::u16string& text, const char* label, int line);

  std::u16string m_prefix;
  std::u16string m_fixedName;
  std::u16string m_folder;
  std::u16string m_currentFile;
  bool m_timeStamps;
  // m_folder as a POSIX path, mapped once per folder: the mapping may read
  // the registry's drive table, the look per entry does not.
  std::string m_posixFolder;
  std::optional<ZYT::CDirectoryPresence> m_presence;
  ZYT::CriticalSection m_lock;
};
