#include "tools/zyt-monitor/MonitorItems.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <sstream>
#include <vector>

#include "platform/win32/FileApi.h"
#include "platform/win32/KernelObject.h"
#include "platform/win32/Limits.h"
#include "platform/win32/WinError.h"
#include "platform/xml/XmlDocument.h"

namespace ZytMonitor {

namespace {

// Closes a descriptor on every path out.
class Descriptor {
 public:
  explicit Descriptor(int fd) : m_fd(fd) {}
  ~Descriptor() {
    if (m_fd >= 0) close(m_fd);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return m_fd; }
  // close() reports what the file system could not store until then (NFS).
  int Close() {
    int rc = close(m_fd);
    m_fd = -1;
    return rc;
  }

 private:
  int m_fd;
};

// A regular file of at most maxBytes, never waiting on a FIFO put in its place.
bool ReadFile(const std::string& path, std::string& bytes, DWORD maxBytes) {
  DWORD error = ERROR_SUCCESS;
  return ZYT::ReadRegularFile(path, bytes, error, maxBytes);
}

// The value of "key:" in an item document; empty when absent.
std::string DocumentValue(const std::string& document, const std::string& key) {
  static const DWORD maxDocument = std::clamp<DWORD>(ZYT::GetLimit(u"MonitorMaxDocumentBytes", 64 * 1024), 1024, 1u << 20);
  std::string text;
  if (!ReadFile(document, text, maxDocument)) return {};
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    size_t colon = line.find(':');
    if (colon == std::string::npos || line.substr(0, colon) != key) continue;
    std::string value = line.substr(colon + 1);
    size_t first = value.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    value = value.substr(first);
    if (value[0] != '/') value = document.substr(0, document.find_last_of('/') + 1) + value;
    return value;
  }
  return {};
}

DWORD MaxItemBytes() {
  static const DWORD maxItem = std::clamp<DWORD>(ZYT::GetLimit(u"MonitorMaxItemBytes", 64u << 20), 1024, 1u << 30);
  return maxItem;
}

// The target must be the empty file the filter made for the answer: the
// monitor never overwrites anything else. The checks are made on the open
// descriptor, so that a link or another file put there meanwhile is refused;
// the target is never created.
int OpenEmptyTarget(const std::string& target) {
  struct stat named, opened;
  // A device is not even opened: opening some has effects of its own.
  if (lstat(target.c_str(), &named) != 0 || !S_ISREG(named.st_mode)) return -1;
  int fd = open(target.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd >= 0 && fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && opened.st_size == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

HRESULT WriteError(int error) {
  if (error == ENOSPC || error == EDQUOT) return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
  if (error == EFBIG) return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
  return HRESULT_FROM_WIN32(ZYT::Win32ErrorFromErrno(error));
}

// Every byte reaches the file or the request fails with the reason; a failed
// answer leaves the target empty again, so that nobody reads half an item.
HRESULT WriteTarget(Descriptor& target, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(target.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int error = n < 0 ? errno : ENOSPC;  // a write that stores nothing has found no room
      // Should this fail too, the failed result still tells the filter not to read the target.
      [[maybe_unused]] int emptied = ftruncate(target.get(), 0);
      return WriteError(error);
    }
    done += static_cast<size_t>(n);
  }
  return target.Close() == 0 ? S_OK : WriteError(errno);
}

std::string Unescape(const std::string& value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size()) {
      char c = value[++i];
      out += (c == 'n' || c == 'N') ? '\n' : c;
    } else {
      out += value[i];
    }
  }
  return out;
}

struct Property {
  std::string name, value;
};

// Unfolds and splits the content lines of a vCard or iCalendar file into
// entries of the wanted component.
std::vector<std::vector<Property>> Entries(const std::string& text, const std::string& component) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && (line[0] == ' ' || line[0] == '\t') && !lines.empty())
      lines.back() += line.substr(1);
    else
      lines.push_back(line);
  }
  std::vector<std::vector<Property>> entries;
  int depth = 0;
  for (const std::string& l : lines) {
    size_t colon = l.find(':');
    if (colon == std::string::npos) continue;
    std::string name = l.substr(0, std::min(colon, l.find(';')));
    for (auto& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string value = l.substr(colon + 1);
    if (name == "BEGIN" && value == component) {
      depth = 1;
      entries.emplace_back();
    } else if (depth > 0 && name == "BEGIN") {
      ++depth;  // a nested component (an alarm) is not the entry's own
    } else if (depth > 0 && name == "END") {
      --depth;
    } else if (depth == 1) {
      entries.back().push_back({name, Unescape(value)});
    }
  }
  return entries;
}

std::string Lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool XmlName(const std::string& name) {
  if (name.empty() || !(std::isalpha(static_cast<unsigned char>(name[0])))) return false;
  for (char c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') return false;
  return true;
}

}  // namespace

std::string PimItemXml(const std::string& kind, const std::string& text, const std::string& uid) {
  static const std::map<std::string, std::string> components = {
      {"contact", "VCARD"}, {"event", "VEVENT"}, {"task", "VTODO"}, {"note", "VJOURNAL"}};
  auto component = components.find(kind);
  if (component == components.end()) return {};
  for (const auto& entry : Entries(text, component->second)) {
    std::string entryUid, title, status;
    for (const Property& p : entry) {
      if (p.name == "UID") entryUid = p.value;
      if ((p.name == "FN" || p.name == "SUMMARY") && title.empty()) title = p.value;
      if (p.name == "STATUS") status = p.value;
    }
    if (!uid.empty() && uid != entryUid) continue;
    ZYT::XmlDocument document;
    document.LoadXml("<" + kind + "/>");
    ZYT::XmlNode root = document.DocumentElement();
    root.AppendElement("title").SetText(title);
    root.AppendElement("status").SetText(status);
    for (const Property& p : entry) {
      std::string name = Lower(p.name);
      if (name == "title" || name == "status" || !XmlName(name)) continue;
      root.AppendElement(name).SetText(p.value);
    }
    return document.Xml();
  }
  return {};
}

HRESULT ProduceMessage(const std::string& document, const std::string& target) {
  Descriptor out(OpenEmptyTarget(target));
  if (out.get() < 0) return E_ACCESSDENIED;
  std::string source = DocumentValue(document, "message");
  std::string bytes;
  if (source.empty() || !ReadFile(source, bytes, MaxItemBytes())) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  return WriteTarget(out, bytes);
}

HRESULT ProducePimItem(const std::string& document, const std::string& target) {
  Descriptor out(OpenEmptyTarget(target));
  if (out.get() < 0) return E_ACCESSDENIED;
  static const std::map<std::string, std::string> kinds = {
      {".qhcontact", "contact"}, {".qhevent", "event"}, {".qhnote", "note"}, {".qhtask", "task"}};
  size_t dot = document.find_last_of('.');
  auto kind = dot == std::string::npos ? kinds.end() : kinds.find(Lower(document.substr(dot)));
  if (kind == kinds.end()) return E_INVALIDARG;
  std::string reference = DocumentValue(document, "item");
  std::string uid;
  if (size_t hash = reference.find('#'); hash != std::string::npos) {
    uid = reference.substr(hash + 1);
    reference.resize(hash);
  }
  std::string text;
  if (reference.empty() || !ReadFile(reference, text, MaxItemBytes())) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  std::string xml = PimItemXml(kind->second, text, uid);
  if (xml.empty()) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
  return WriteTarget(out, xml);
}

}  // namespace ZytMonitor
