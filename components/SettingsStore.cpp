#include "components/SettingsStore.h"

#include <cstdlib>
#include <filesystem>

#include "components/ComponentsModule.h"
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
    HRESULT hr = CreateFromTemplate(path);
    if (FAILED(hr)) return hr;
    if (stat(path.c_str(), &st) != 0) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  }
  if (path == m_path && !m_document.Empty() && st.st_mtim.tv_sec == m_modified.tv_sec &&
      st.st_mtim.tv_nsec == m_modified.tv_nsec && st.st_size == m_size && st.st_ino == m_inode)
    return S_OK;
  ZYT::XmlDocument fresh;
  if (!fresh.Load(path)) return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
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
