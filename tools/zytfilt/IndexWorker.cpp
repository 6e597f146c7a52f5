// zytfilt index-worker: the filter host of zytfilt index. It takes paths on
// one pipe, filters each as dump does and streams the chunks back on another;
// the parent kills it when a filter hangs and replaces it when it dies.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/com/ComError.h"
#include "platform/com/PropIds.h"
#include "platform/win32/Strings.h"
#include "platform/win32/WinError.h"
#include "tools/zytfilt/Commands.h"
#include "tools/zytfilt/FileWalk.h"
#include "tools/zytfilt/IndexLimits.h"
#include "tools/zytfilt/IndexProtocol.h"

namespace {

namespace Proto = ZYT::Zytfilt::IndexProtocol;

[[noreturn]] void Lost() {
  // The parent is gone or sent garbage: nothing to report to.
  _exit(3);
}

// A file's frames go out together, in one write when they are small: the
// parent wakes once per file, not once per chunk.
constexpr size_t kFlushBytes = 64 * 1024;
std::string g_out;

void Flush() {
  if (!Proto::WriteAll(Proto::kResultFd, g_out.data(), g_out.size())) Lost();
  g_out.clear();
}

void Send(Proto::Kind kind, std::string_view payload) {
  if (payload.size() > 0xFFFFFFFFu) Lost();
  g_out += Proto::Header(kind, payload.size());
  g_out.append(payload);
  if (kind == Proto::kDone || kind == Proto::kFailed || g_out.size() >= kFlushBytes) Flush();
}

void SendFailure(const char* step, HRESULT hr) {
  Send(Proto::kFailed, std::string(step) + '\0' + std::to_string(hr));
}

bool IsContents(const STAT_CHUNK& s) {
  return s.attribute.guidPropSet == PSGUID_STORAGE && s.attribute.psProperty.ulKind == PRSPEC_PROPID &&
         s.attribute.psProperty.propid == PID_STG_CONTENTS;
}

void FilterOne(const std::string& file, size_t limit) {
  // The walk saw a regular file; one swapped since for a FIFO, a device or a
  // symbolic link is not filtered. The type is read on a descriptor opened
  // without following a link and without waiting for a FIFO's writer.
  struct stat st;
  int fd = open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    DWORD error = errno == ENOENT || errno == ENOTDIR ? ERROR_FILE_NOT_FOUND
                  : errno == EACCES || errno == EPERM ? ERROR_ACCESS_DENIED
                                                      : ERROR_INVALID_NAME;  // ELOOP: now a link
    return SendFailure("open", HRESULT_FROM_WIN32(error));
  }
  bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (!regular) {
    close(fd);
    return SendFailure("open", HRESULT_FROM_WIN32(ERROR_INVALID_NAME));
  }
  SetErrorInfo(0, nullptr);
  size_t left = limit;
  ZYT::WalkOptions walk;
  walk.bufferSize = 4096;
  walk.onChunk = [&](const ZYT::WalkedChunk& c) {
    if (!left) return;
    if (c.stat.flags & CHUNK_TEXT) {
      std::string text = ZYT::WideToUtf8(c.text);
      ZYT::CutUtf8(text, left);
      left -= text.size();
      Send(Proto::kText, text);
      // A property given as text (a title) is searchable by its name too.
      std::string json = IsContents(c.stat) || text.empty() ? std::string() : ZYT::JsonString(ZYT::Utf8ToWide(text));
      if (!json.empty() && json.size() < left) {
        left -= json.size();
        Send(Proto::kProperty, ZYT::WideToUtf8(ZYT::AttributeText(c)) + '\0' + json);
      }
    } else if (c.hasValue && c.valueJson.size() < left) {
      left -= c.valueJson.size();
      Send(Proto::kProperty, ZYT::WideToUtf8(ZYT::AttributeText(c)) + '\0' + c.valueJson);
    }
  };
  ZYT::Zytfilt::FileWalk walked = ZYT::Zytfilt::FilterFile(ZYT::PosixNameToWide(file), {}, std::move(walk));
  // The filter opened the file by its name: what it read is this file's only
  // when the name still leads, without a link, to the file checked above.
  struct stat now;
  bool same = lstat(file.c_str(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino;
  close(fd);
  if (!same) return SendFailure("open", HRESULT_FROM_WIN32(ERROR_INVALID_NAME));
  if (walked.failedStep) return SendFailure(walked.failedStep, walked.hr);
  const ZYT::WalkResult& r = walked.result;
  if (!r.cut && FAILED(r.end) && r.end != FILTER_E_END_OF_CHUNKS) return SendFailure("GetChunk", r.end);
  Send(Proto::kDone, {});
}

}  // namespace

int RunIndexWorker(const std::vector<std::string>& args) {
  // Dies with the parent; a parent already gone before the request took
  // effect is seen by its pid.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (args.size() != 1 || std::to_string(getppid()) != args[0]) {
    std::fprintf(stderr, "zytfilt index-worker: started by zytfilt index only\n");
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  // A converter a filter starts must not hold the protocol's pipes: the
  // parent would not see this worker's end while it lives.
  if (fcntl(Proto::kRequestFd, F_SETFD, FD_CLOEXEC) < 0 || fcntl(Proto::kResultFd, F_SETFD, FD_CLOEXEC) < 0) Lost();
  const size_t limit = ZYT::Zytfilt::IndexTextLimit();
  char kind = 0;
  std::string path;
  while (Proto::ReadFrame(Proto::kRequestFd, Proto::kMaxPathFrame, kind, path)) {
    if (kind != Proto::kPath || path.empty() || path[0] != '/') Lost();
    FilterOne(path, limit);
  }
  return 0;
}
