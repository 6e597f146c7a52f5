// zytfilt dump: filters files as the indexer would and prints every chunk.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/com/ComError.h"
#include "platform/com/ObjBase.h"
#include "platform/indexer/FilterWalk.h"
#include "platform/indexer/LoadIFilter.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/Limits.h"
#include "platform/win32/Registry.h"
#include "platform/win32/Strings.h"
#include "platform/win32/SysInfo.h"
#include "tools/zytfilt/Commands.h"
#include "tools/zytfilt/FileWalk.h"

namespace {

const char kDumpUsage[] =
    "usage: zytfilt dump [OPTIONS] FILE...\n"
    "Filters each file as the indexer does and prints every chunk.\n"
    "  --init-flags N          IFilter::Init flags (default 0x10, apply index attributes)\n"
    "  --attribute GUID/PROPID or GUID/NAME\n"
    "                          ask for an attribute (repeatable), e.g.\n"
    "                          {B725F130-47EF-101A-A5F1-02608C9EEBAC}/19 for the contents\n"
    "  --buffer N              GetText buffer in characters (default 256, at most\n"
    "                          the limit MaxDumpBuffer, 1048576 unless set)\n"
    "  --class CLSID|PROGID    use this filter class instead of the registry's choice\n"
    "  --json                  one JSON object per chunk, then {\"file\":..,\"end\":..}\n"
    "  --check                 also ask what the protocol says a filter must refuse\n"
    "                          (GetText on a value chunk, a second GetValue, GetChunk\n"
    "                          after the end, ...) and check chunk ids and break\n"
    "                          types; each breach is a line on stderr, exit status 1\n"
    "  --progress SECONDS      while one file takes long, say so on stderr every\n"
    "                          SECONDS (default 10; 0 never)\n"
    "A fresh machine is set up first (see 'zytfilt setup'). A file with more chunks\n"
    "than the limit MaxDumpChunks (100000 unless set) is cut there and the exit\n"
    "status is 1.\n";

// Text buffers beyond this are refused even when the limit is set higher:
// the buffer is allocated whole before the first GetText.
constexpr DWORD kBufferCeiling = 1u << 24;

struct Options {
  ULONG initFlags = IFILTER_INIT_APPLY_INDEX_ATTRIBUTES;
  std::vector<FULLPROPSPEC> attributes;
  std::vector<std::u16string> names;  // storage for PRSPEC_LPWSTR attributes
  ULONG buffer = 256;
  std::u16string filterClass;
  bool json = false;
  bool check = false;
  unsigned progressSeconds = 10;
  std::vector<std::string> files;
};

int Usage(const std::string& message) {
  std::fprintf(stderr, "zytfilt dump: %s (see 'zytfilt dump --help')\n", message.c_str());
  return 2;
}

// A decimal, 0x hexadecimal or 0 octal number without sign or blanks.
bool ParseNumber(const std::string& text, unsigned long long& value) {
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
  char* end = nullptr;
  value = std::strtoull(text.c_str(), &end, 0);  // beyond its range it is ULLONG_MAX, too large for any use
  return !*end;
}

bool ParseNumber(const std::string& text, ULONG& value) {
  unsigned long long v = 0;
  if (!ParseNumber(text, v) || v > 0xFFFFFFFFull) return false;
  value = static_cast<ULONG>(v);
  return true;
}

std::string Hex(HRESULT hr) { return ZYT::HResultHex(hr); }
std::string Describe(HRESULT hr) { return ZYT::DescribeHResult(hr); }

const char* BreakName(CHUNK_BREAKTYPE type) {
  static const char* const names[] = {"no break", "end of word", "end of sentence", "end of paragraph",
                                      "end of chapter"};
  return type >= 0 && type <= 4 ? names[type] : "?";
}

// Says on stderr that a file is still being filtered, every interval, so that
// a wait without a time-out (a message filter waiting for the monitor) does
// not look like a hang. Quick files print nothing.
class CProgressWatch {
 public:
  explicit CProgressWatch(unsigned intervalSeconds) : m_interval(intervalSeconds) {
    if (m_interval) m_thread = std::thread([this] { Run(); });
  }
  ~CProgressWatch() {
    {
      std::lock_guard guard(m_lock);
      m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
  }
  CProgressWatch(const CProgressWatch&) = delete;
  CProgressWatch& operator=(const CProgressWatch&) = delete;

  void Begin(const std::string& file) {
    {
      std::lock_guard guard(m_lock);
      m_file = file;
      m_started = std::chrono::steady_clock::now();
      ++m_generation;
      m_busy = true;
    }
    m_wake.notify_all();
  }
  void End() {
    {
      std::lock_guard guard(m_lock);
      ++m_generation;
      m_busy = false;
    }
    m_wake.notify_all();
  }

 private:
  void Run() {
    std::unique_lock guard(m_lock);
    while (!m_stop) {
      if (!m_busy) {
        m_wake.wait(guard);
        continue;
      }
      const uint64_t generation = m_generation;
      for (unsigned long long reported = m_interval; !m_stop && m_generation == generation; reported += m_interval) {
        auto due = m_started + std::chrono::seconds(reported);
        if (m_wake.wait_until(guard, due, [&] { return m_stop || m_generation != generation; })) break;
        std::fprintf(stderr, "zytfilt dump: %s: still filtering after %llu s\n", m_file.c_str(), reported);
      }
    }
  }

  const unsigned m_interval;
  std::mutex m_lock;
  std::condition_variable m_wake;
  std::string m_file;
  std::chrono::steady_clock::time_point m_started;
  uint64_t m_generation = 0;
  bool m_busy = false;
  bool m_stop = false;
  std::thread m_thread;
};

// What the host itself sees wrong with a path, in words; empty when it looks
// like a readable regular file. Only stat and access: nothing is opened.
std::string VisibleCause(const std::string& file) {
  struct stat st;
  if (lstat(file.c_str(), &st) != 0) {
    if (errno == ENOENT) return "no such file";
    if (errno == EACCES) return "permission denied";
    if (errno == ENOTDIR) return "a part of its path is not a directory";
    return std::strerror(errno);
  }
  if (S_ISLNK(st.st_mode)) {
    if (stat(file.c_str(), &st) != 0) {
      int error = errno;
      char target[4096];
      ssize_t n = readlink(file.c_str(), target, sizeof target - 1);
      std::string to = n > 0 ? std::string(target, static_cast<size_t>(n)) : "?";
      if (error == ENOENT) return "is a dangling link (to " + to + ")";
      if (error == ELOOP) return "is a link that loops (to " + to + ")";
      return std::string(std::strerror(error)) + " (a link to " + to + ")";
    }
  }
  if (S_ISDIR(st.st_mode)) return "is a directory";
  if (S_ISFIFO(st.st_mode)) return "is not a regular file (a FIFO)";
  if (S_ISSOCK(st.st_mode)) return "is not a regular file (a socket)";
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "is not a regular file (a device)";
  if (!S_ISREG(st.st_mode)) return "is not a regular file";
  if (faccessat(AT_FDCWD, file.c_str(), R_OK, AT_EACCESS) != 0)
    return errno == EACCES ? "permission denied" : std::strerror(errno);
  return {};
}

// A file that could not be filtered: one line on stderr, and in --json one
// object on stdout. The line names what the host sees wrong with the file,
// else what the failing component described (which settings file is broken).
void ReportFailure(const Options& options, const std::string& file, const char* step, HRESULT hr) {
  std::string cause = VisibleCause(file);
  std::string described = ZYT::WideToUtf8(ZYT::TakeErrorDescription());
  std::string what;
  if (std::strcmp(step, "Load") != 0)
    what = std::string(step) + " failed: " + Describe(hr);
  else if (hr == FILTER_E_UNKNOWNFORMAT)
    what = "no filter is registered for this file type";
  else
    what = "the filter cannot load it: " + Describe(hr);
  if (!cause.empty())
    std::fprintf(stderr, "zytfilt dump: %s: %s; %s\n", file.c_str(), cause.c_str(), what.c_str());
  else if (!described.empty())
    std::fprintf(stderr, "zytfilt dump: %s: %s: %s\n", file.c_str(), what.c_str(), described.c_str());
  else
    std::fprintf(stderr, "zytfilt dump: %s: %s\n", file.c_str(), what.c_str());
  if (!options.json) return;
  std::string line = "{\"file\":" + ZYT::JsonString(ZYT::PosixNameToWide(file)) + ",\"error\":\"" + Hex(hr) +
                     "\",\"step\":\"" + step + "\",\"message\":" + ZYT::JsonString(_com_error(hr).ErrorMessage());
  if (!cause.empty() || !described.empty())
    line += ",\"cause\":" + ZYT::JsonString(ZYT::Utf8ToWide(cause.empty() ? described : cause));
  std::printf("%s}\n", line.c_str());
}

// quotedFile: the file's name as a JSON string, the same on every line.
void PrintJsonChunk(const std::string& quotedFile, const ZYT::WalkedChunk& c) {
  const STAT_CHUNK& s = c.stat;
  std::string line = "{\"file\":" + quotedFile + ",\"id\":" + std::to_string(s.idChunk) +
                     ",\"breakType\":" + std::to_string(s.breakType) + ",\"flags\":\"" +
                     ((s.flags & CHUNK_TEXT) ? "text" : "value") + "\",\"locale\":" + std::to_string(s.locale) +
                     ",\"propset\":\"" + ZYT::WideToUtf8(ZYT::GuidToString(s.attribute.guidPropSet)) + "\",";
  if (s.attribute.psProperty.ulKind == PRSPEC_LPWSTR)
    line += "\"propname\":" + ZYT::JsonString(c.propertyName);
  else
    line += "\"propid\":" + std::to_string(s.attribute.psProperty.propid);
  line += ",\"idChunkSource\":" + std::to_string(s.idChunkSource) + ",\"cwcStartSource\":" +
          std::to_string(s.cwcStartSource) + ",\"cwcLenSource\":" + std::to_string(s.cwcLenSource) + ",";
  if (s.flags & CHUNK_TEXT)
    line += "\"text\":" + ZYT::JsonString(c.text);
  else
    line += "\"value\":{\"vt\":" + std::to_string(c.vt) + ",\"data\":" + (c.hasValue ? c.valueJson : "null") + "}";
  std::printf("%s}\n", line.c_str());
}

void PrintTextChunk(const ZYT::WalkedChunk& c) {
  const STAT_CHUNK& s = c.stat;
  std::printf("chunk %u  %s  %s  locale 0x%x  %s", s.idChunk, (s.flags & CHUNK_TEXT) ? "text" : "value",
              BreakName(s.breakType), s.locale, ZYT::WideToUtf8(ZYT::AttributeText(c)).c_str());
  if (s.idChunkSource != s.idChunk) std::printf("  source %u", s.idChunkSource);
  std::printf("\n");
  if (s.flags & CHUNK_TEXT) {
    std::string text = ZYT::WideToUtf8(c.text);
    std::string indented = "  ";
    for (char ch : text) {
      indented += ch;
      if (ch == '\n') indented += "  ";
    }
    std::printf("%s\n", indented.c_str());
  } else {
    std::printf("  vt %u: %s\n", c.vt, c.hasValue ? c.valueJson.c_str() : "(no value)");
  }
}

// Prints one file's chunks; false when it could not be filtered whole.
bool DumpFile(const Options& options, const std::string& file, CProgressWatch& progress) {
  // Filters and the programs they ask (the monitor) get an absolute path;
  // what is printed is the path as the user gave it. A name that is not
  // UTF-8 keeps its bytes (PosixNameToWide).
  std::u16string path = ZYT::PosixNameToWide(file);
  if (!file.empty() && file[0] != '/') {
    WCHAR cwd[4096];
    DWORD n = GetCurrentDirectoryW(4096, cwd);
    if (n > 0 && n < 4096) path = std::u16string(cwd, n) + u"/" + path;
  }
  SetErrorInfo(0, nullptr);  // a description left by an earlier file is not this one's
  ZYT::WalkOptions walk;
  walk.initFlags = options.initFlags;
  walk.attributes = options.attributes;
  walk.bufferSize = options.buffer;
  walk.maxChunks = ZYT::GetLimit(u"MaxDumpChunks", 100000);
  walk.probe = options.check;
  // Chunks are printed as they come, so memory does not grow with a file's
  // chunk count; the file line waits for Init, whose failure is its own line.
  const std::string quoted = ZYT::JsonString(ZYT::PosixNameToWide(file));
  bool started = false;
  auto start = [&] {
    if (!started && !options.json) std::printf("file %s\n", file.c_str());
    started = true;
  };
  walk.onChunk = [&](const ZYT::WalkedChunk& c) {
    start();
    if (options.json)
      PrintJsonChunk(quoted, c);
    else
      PrintTextChunk(c);
  };
  progress.Begin(file);
  ZYT::Zytfilt::FileWalk walked = ZYT::Zytfilt::FilterFile(path, options.filterClass, std::move(walk));
  progress.End();
  if (walked.failedStep) {
    ReportFailure(options, file, walked.failedStep, walked.hr);
    return false;
  }
  const ZYT::WalkResult& result = walked.result;
  start();
  if (result.cut) {
    if (options.json)
      std::printf("{\"file\":%s,\"cut\":\"MaxDumpChunks\",\"chunks\":%zu}\n", quoted.c_str(), result.walked);
    else
      std::printf("cut after %zu chunks\n", result.walked);
    std::fflush(stdout);
    std::fprintf(stderr,
                 "zytfilt dump: %s: cut after %zu chunks, the limit MaxDumpChunks; the filter has more "
                 "(see the README's Limits)\n",
                 file.c_str(), result.walked);
    return false;
  }
  if (options.json)
    std::printf("{\"file\":%s,\"end\":\"%s\"}\n", quoted.c_str(), Hex(result.end).c_str());
  else
    std::printf("end %s\n", result.end == FILTER_E_END_OF_CHUNKS ? "of chunks" : Describe(result.end).c_str());
  if (result.violations.empty()) return true;
  std::fflush(stdout);
  for (const std::string& violation : result.violations)
    std::fprintf(stderr, "zytfilt dump: %s: %s\n", file.c_str(), violation.c_str());
  return false;
}

}  // namespace

int RunDumpCommand(const std::vector<std::string>& args) {
  Options options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto next = [&](std::string& value) {
      if (i + 1 >= args.size()) return false;
      value = args[++i];
      return true;
    };
    std::string value;
    if (a == "--help" || a == "-h") {
      std::fputs(kDumpUsage, stdout);
      return 0;
    } else if (a == "--json") {
      options.json = true;
    } else if (a == "--check") {
      options.check = true;
    } else if (a == "--init-flags") {
      if (!next(value) || !ParseNumber(value, options.initFlags)) return Usage("--init-flags needs a number");
    } else if (a == "--buffer") {
      unsigned long long size = 0;
      if (!next(value) || !ParseNumber(value, size) || size == 0) return Usage("--buffer needs a positive number");
      const DWORD most = std::clamp<DWORD>(ZYT::GetLimit(u"MaxDumpBuffer", 1u << 20), 1, kBufferCeiling);
      if (size > most)
        return Usage("--buffer " + value + " is more than " + std::to_string(most) +
                     " characters (the limit MaxDumpBuffer)");
      options.buffer = static_cast<ULONG>(size);
    } else if (a == "--progress") {
      ULONG seconds = 0;
      if (!next(value) || !ParseNumber(value, seconds)) return Usage("--progress needs a number of seconds");
      options.progressSeconds = seconds;
    } else if (a == "--class") {
      if (!next(value)) return Usage("--class needs a CLSID or ProgID");
      options.filterClass = ZYT::Utf8ToWide(value);
    } else if (a == "--attribute") {
      if (!next(value)) return Usage("--attribute needs GUID/PROPID or GUID/NAME");
      size_t slash = value.find('/');
      FULLPROPSPEC property{};
      if (slash == std::string::npos || !ZYT::GuidFromString(ZYT::Utf8ToWide(value.substr(0, slash)), property.guidPropSet))
        return Usage("bad attribute '" + value + "'");
      ULONG id = 0;
      if (ParseNumber(value.substr(slash + 1), id)) {
        property.psProperty.ulKind = PRSPEC_PROPID;
        property.psProperty.propid = id;
      } else {
        if (slash + 1 >= value.size()) return Usage("bad attribute '" + value + "'");
        options.names.push_back(ZYT::Utf8ToWide(value.substr(slash + 1)));
        property.psProperty.ulKind = PRSPEC_LPWSTR;
      }
      options.attributes.push_back(property);
    } else if (a.size() > 1 && a[0] == '-' && a != "-") {
      return Usage("unknown option '" + a + "'");
    } else {
      options.files.push_back(a);
    }
  }
  if (options.files.empty()) return Usage("no file given");
  // Names are kept in a vector that no longer grows, so the pointers stay valid.
  for (size_t i = 0, n = 0; i < options.attributes.size(); ++i)
    if (options.attributes[i].psProperty.ulKind == PRSPEC_LPWSTR)
      options.attributes[i].psProperty.lpwstr = options.names[n++].data();
  if (!ZYT::Zytfilt::MachineIsSetUp() && Setup(true) != 0) return 1;
  bool ok = true;
  CProgressWatch progress(options.progressSeconds);
  for (const std::string& file : options.files) ok = DumpFile(options, file, progress) && ok;
  return ok ? 0 : 1;
}

namespace ZYT::Zytfilt {

bool MachineIsSetUp() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, u"CLSID\\{32E04D14-5E47-11D7-B40F-00D009EF4932}\\InprocServer32", 0,
                    KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

namespace {

HRESULT OpenFilter(const std::u16string& filterClass, const std::u16string& path, ComPtr<IFilter>& filter) {
  if (filterClass.empty()) return LoadIFilter(path.c_str(), nullptr, filter.put_void());
  CLSID clsid{};
  HRESULT hr = CLSIDFromString(filterClass.c_str(), &clsid);
  if (FAILED(hr)) return hr;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IFilter, filter.put_void());
  if (FAILED(hr)) return hr;
  ComPtr<IPersistFile> persist;
  hr = filter.As(persist);
  if (FAILED(hr)) return hr;
  return persist->Load(path.c_str(), STGM_READ | STGM_SHARE_DENY_NONE);
}

}  // namespace

FileWalk FilterFile(const std::u16string& path, const std::u16string& filterClass, WalkOptions walk) {
  FileWalk walked;
  ComPtr<IFilter> filter;
  walked.hr = OpenFilter(filterClass, path, filter);
  if (FAILED(walked.hr)) {
    walked.failedStep = "Load";
    return walked;
  }
  // What hosts accept: any chunk source (derived chunks name another), and
  // either refusal of GetText on a value chunk or GetValue on a text chunk.
  walk.sourceRule = WalkOptions::SourceRule::Any;
  walk.crossCallsAnyRefusal = true;
  walked.result = WalkFilter(filter.get(), walk);
  if (FAILED(walked.result.init)) {
    walked.failedStep = "Init";
    walked.hr = walked.result.init;
  }
  return walked;
}

std::string ShownPath(std::string_view path) {
  std::string shown;
  size_t i = 0;
  while (i < path.size()) {
    const auto c = static_cast<unsigned char>(path[i]);
    char32_t cp = 0;
    size_t n = WellFormedUtf8At(path, i, cp);
    if (n == 1 && (c < 0x20 || c == 0x7F || c == '\\')) n = 0;
    if (n == 0) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      shown += hex;
      ++i;
    } else {
      shown.append(path.substr(i, n));
      i += n;
    }
  }
  return shown;
}

}  // namespace ZYT::Zytfilt
