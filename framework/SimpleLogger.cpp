#include "framework/SimpleLogger.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

#include "framework/PathUtilities.h"
#include "framework/SettingsAccess.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/PathMap.h"
#include "platform/win32/Strings.h"
#include "platform/win32/SysInfo.h"

CSimpleLogger::CSimpleLogger(std::u16string name, bool prefixMode, bool timeStamps, std::u16string folder)
    : m_folder(std::move(folder)), m_timeStamps(timeStamps) {
  if (prefixMode)
    m_prefix = std::move(name);
  else
    m_fixedName = std::move(name);
}

void CSimpleLogger::SetFolder(const std::u16string& folder) {
  ZYT::Mutex lock(m_lock);
  m_folder = folder;
  m_currentFile.clear();
  m_posixFolder.clear();
  m_presence.reset();
}

void CSimpleLogger::Write(ZYT::CLogStream& stream, const char* label, int line) {
  try {
    WriteEntry(stream.str(), label, line);
  } catch (...) {
    // A log entry never fails its caller.
  }
  stream.clear();
}

void CSimpleLogger::Log(const std::u16string& text, const char* label, int line) {
  try {
    WriteEntry(text, label, line);
  } catch (...) {
  }
}

void CSimpleLogger::LogComError(const _com_error& error, const char* label, int line) {
  Log(ZYT::RenderComError(error) + u"\n", label, line);
}

void CSimpleLogger::LogWin32Failure(const std::u16string& what, const char* label, int line) {
  ZYT::CLogStream s;
  s << what << " failed, error = " << GetLastError() << "\n";
  Write(s, label, line);
}

bool CSimpleLogger::FolderPresent() {
  if (!m_presence) {
    if (m_folder.empty()) m_folder = ZYT::GetDebugFolder();
    m_posixFolder = m_folder.empty() ? std::string() : ZYT::ToPosixPath(m_folder.c_str());
    m_presence = ZYT::CDirectoryPresence::Of(m_posixFolder);
  }
  return m_presence->Exists();
}

bool CSimpleLogger::Logging() {
  try {
    ZYT::Mutex lock(m_lock);
    return FolderPresent();
  } catch (...) {
    return false;
  }
}

void CSimpleLogger::WriteEntry(const std::u16string& text, const char* label, int line) {
  ZYT::Mutex lock(m_lock);
  if (!FolderPresent()) return;
  if (m_currentFile.empty()) {
    if (!m_fixedName.empty()) {
      m_currentFile = ZYT::MakePath(m_folder, m_fixedName, u"");
    } else {
      WCHAR name[MAX_PATH];
      if (!GetTempFileNameW(m_folder.c_str(), m_prefix.c_str(), 0, name)) return;
      m_currentFile = name;
    }
  }
  std::string path = ZYT::ToPosixPath(m_currentFile.c_str());
  if (path.empty()) return;
  // A FIFO put where the log goes would hold the filter at the open or the
  // write: never wait, and write only into a regular file.
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
  if (fd < 0) return;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return;
  }
  std::string entry;
  if (m_timeStamps) {
    std::time_t now = std::time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    char stamp[32];
    // "Www Mmm dd hh:mm:ss yyyy": English names whatever the locale.
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::snprintf(stamp, sizeof stamp, "%s %s %2d %02d:%02d:%02d %d ", days[local.tm_wday], months[local.tm_mon],
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, local.tm_year + 1900);
    entry += stamp;
  }
  if (label) {
    std::string name = label;
    size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos) name = name.substr(slash + 1);
    entry += name;
    if (line >= 0) entry += ", line " + std::to_string(line);
    entry += ": ";
  }
  entry += ZYT::WideToCodePage(CP_ACP, text);
  // A log entry that cannot be written is dropped: the log never fails a filter.
  const ssize_t written = write(fd, entry.data(), entry.size());
  (void)written;
  close(fd);
}
