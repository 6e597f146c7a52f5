#include "components/filters/CutLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/win32/FileApi.h"
#include "platform/win32/PathFunctions.h"
#include "platform/win32/PathMap.h"
#include "platform/win32/Strings.h"

void CCutLog::Write(const std::string& entry) {
  if (m_file.empty()) {
    const std::u16string repository = CutLogRepository();
    if (repository.empty()) return;
    const std::u16string folder = ZYT::MakePath(repository, u"Debug.Filter", u"");
    if (!ZYT::IsDirectory(folder)) return;
    WCHAR name[MAX_PATH + 1] = {};
    if (GetTempFileNameW(folder.c_str(), m_prefix.c_str(), 0, name) == 0) return;
    m_file = name;
  }
  // O_NONBLOCK and the type check: whatever replaced the file must not hold us.
  const int fd = open(ZYT::ToPosixPath(m_file.c_str()).c_str(),
                      O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return;
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    const ssize_t written = write(fd, entry.data(), entry.size());
    (void)written;  // a log that cannot be written is dropped
  }
  close(fd);
}
