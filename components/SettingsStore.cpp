#include "components/SettingsStore.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "components/ComponentsModule.h"
#include "platform/com/ComError.h"
#include "platform/win32/Limits.h"
#include "platform/win32/PathFunctions.h"
#include "platform/win32/PathMap.h"
#include "platform/win32/Resources.h"
#include "platform/win32/Strings.h"
#include "platform/win32/SysInfo.h"

namespace {

std::string SettingsPath() {
  if (const char* p = std::getenv("ZYT_SETTINGS"); p && *p) return p;
  WCHAR data[MAX_PATH];
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, data))) return {};
  return ZYT::WideToUtf8(data) + "/zyt/settings.xml";
}

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

struct FileDescriptor {
  explicit FileDescriptor(int descriptor) : fd(descriptor) {}
  ~FileDescriptor() {
    if (fd >= 0) close(fd);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int fd;
};

// Reads to the end, at most maxBytes; false on a read error or a longer file.
bool ReadAll(int fd, size_t maxBytes, std::string& text) {
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (text.size() + static_cast<size_t>(n) > maxBytes) {
      errno = EFBIG;  // it grew since it was measured
      return false;
    }
    text.append(buffer, static_cast<size_t>(n));
  }
}

// The failure's HRESULT, with its description (which file, what is wrong)
// left for the caller that reports it.
HRESULT Fail(HRESULT hr, const std::string& description) {
  std::string text = description;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  ZYT::SetErrorDescription(ZYT::Utf8ToWide(text), u"ZYT.SettingsServer");
  return hr;
}

}  // namespace

CSettingsStore& CSettingsStore::Instance() {
  static CSettingsStore* store = new CSettingsStore;  // lives as long as the process
  return *store;
}

HRESULT CSettingsStore::CreateFromTemplate(const std::string& path) {
  std::u16string text = ZYT::LoadModuleResourceText(g_componentsPath, RT_HTML, u"SETTINGS.XML");
  std::u16string map = ZYT::LoadModuleResourceText(g_componentsPath, RT_HTML, u"ZYTFILTERS.XML");
  if (text.empty() || map.empty()) return HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
  std::string xml = ZYT::WideToUtf8(text);
  std::string repository = std::filesystem::path(path).parent_path().string() + "/repository";
  const std::string marker = "$(REPOSITORY)";
  xml.replace(xml.find(marker), marker.size(), Escape(repository));
  ZYT::XmlDocument document, defaults;
  if (!document.LoadXml(xml) || !defaults.LoadXml(ZYT::WideToUtf8(map))) return E_UNEXPECTED;
  document.SelectSingleNode("/*/CIS").AppendCopy(defaults.SelectSingleNode("/*/CIS/field-property-map"));
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  if (!document.Save(path)) return HRESULT_FROM_WIN32(ERROR_CANTWRITE);
  return S_OK;
}

HRESULT CSettingsStore::Refresh() {
  std::string path = SettingsPath();
  if (path.empty()) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    int error = errno;
    struct stat link;
    if (error != ENOENT || lstat(path.c_str(), &link) == 0)
      return Fail(HRESULT_FROM_WIN32(error == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED),
                  "the settings file " + path + " cannot be read: " +
                      (error == ENOENT ? "it is a link to a missing file" : std::strerror(error)));
    HRESULT hr = CreateFromTemplate(path);
    if (FAILED(hr)) return Fail(hr, "the settings file " + path + " cannot be created");
    if (stat(path.c_str(), &st) != 0) return Fail(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), "the settings file " + path + " vanished");
  }
  if (!S_ISREG(st.st_mode))
    return Fail(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), "the settings file " + path + " is not a regular file");
  if (path == m_path && !m_document.Empty() && st.st_mtim.tv_sec == m_modified.tv_sec &&
      st.st_mtim.tv_nsec == m_modified.tv_nsec && st.st_size == m_size && st.st_ino == m_inode)
    return S_OK;
  // Opened without waiting and checked again, so that a FIFO or a device
  // swapped in since the stat cannot hold the caller.
  FileDescriptor file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (file.fd < 0) {
    int error = errno;
    return Fail(HRESULT_FROM_WIN32(error == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED),
                "the settings file " + path + " cannot be read: " + std::strerror(error));
  }
  if (fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode))
    return Fail(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), "the settings file " + path + " is not a regular file");
  const DWORD maxBytes = ZYT::GetLimit(u"MaxSettingsBytes", 16u << 20);
  if (static_cast<uint64_t>(st.st_size) > maxBytes)
    return Fail(HRESULT_FROM_WIN32(ERROR_INVALID_DATA), "the settings file " + path + " is larger than " +
                                                            std::to_string(maxBytes) + " bytes (MaxSettingsBytes)");
  std::string text;
  if (!ReadAll(file.fd, maxBytes, text))
    return Fail(HRESULT_FROM_WIN32(ERROR_INVALID_DATA), "the settings file " + path + " cannot be read: " +
                                                            std::strerror(errno));
  ZYT::XmlDocument fresh;
  ZYT::XmlParseError error;
  if (!fresh.LoadXml(text, &error))
    return Fail(HRESULT_FROM_WIN32(ERROR_INVALID_DATA), "the settings file " + path + " is broken at line " +
                                                            std::to_string(error.line) + ", column " +
                                                            std::to_string(error.column) + ": " + error.reason);
  m_document = std::move(fresh);
  m_answers.clear();
  m_path = path;
  m_modified = st.st_mtim;
  m_size = st.st_size;
  m_inode = st.st_ino;
  return S_OK;
}

HRESULT CSettingsStore::Query(const std::string& xpath, Answer& answer) {
  std::lock_guard guard(m_lock);
  HRESULT hr = Refresh();
  if (FAILED(hr)) return hr;
  auto it = m_answers.find(xpath);
  if (it != m_answers.end()) {
    answer = it->second;
    return S_OK;
  }
  bool valid = true;
  ZYT::XmlNode node = m_document.SelectSingleNode(xpath, &valid);
  if (!valid) return E_INVALIDARG;
  Answer fresh;
  if (node) {
    fresh.found = true;
    fresh.text = node.IsElement() ? node.Xml() : node.Text();
  }
  m_answers[xpath] = fresh;
  answer = std::move(fresh);
  return S_OK;
}

HRESULT CSettingsStore::SetValue(const std::string& xpath, const std::string& value) {
  std::lock_guard guard(m_lock);
  HRESULT hr = Refresh();
  if (FAILED(hr)) return hr;
  bool valid = true;
  ZYT::XmlNode node = m_document.SelectSingleNode(xpath, &valid);
  if (!valid) return E_INVALIDARG;
  if (!node) return S_FALSE;
  node.SetText(value);
  if (!m_document.Save(m_path)) return HRESULT_FROM_WIN32(ERROR_CANTWRITE);
  m_document = ZYT::XmlDocument();  // read back at the next call, with the new file's signature
  return Refresh();
}

HRESULT CSettingsStore::Document(std::string& xml) {
  std::lock_guard guard(m_lock);
  HRESULT hr = Refresh();
  if (SUCCEEDED(hr)) xml = m_document.Xml();
  return hr;
}

HRESULT CSettingsStore::Path(std::string& path) {
  std::lock_guard guard(m_lock);
  HRESULT hr = Refresh();
  if (SUCCEEDED(hr)) path = m_path;
  return hr;
}

HRESULT CSettingsStore::TempFolder(std::string& folder) {
  std::lock_guard guard(m_lock);
  HRESULT hr = Refresh();
  if (FAILED(hr)) return hr;
  std::string location = m_document.SelectSingleNode("/*/repository/user/@location").Text();
  if (location.empty()) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  std::u16string temp = ZYT::MakePath(ZYT::Utf8ToWide(location), u"temp", u"");
  if (!ZYT::CreateDirectoryTree(temp)) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  folder = ZYT::WideToUtf8(temp);
  return S_OK;
}
