#include "tools/zyt-monitor/MonitorItems.h"

#include <sys/stat.h>

#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "platform/win32/FileApi.h"
#include "platform/win32/WinError.h"
#include "platform/xml/XmlDocument.h"

namespace ZytMonitor {

namespace {

constexpr size_t kMaxItemFile = 64u << 20;

bool ReadFile(const std::string& path, std::string& bytes) {
  DWORD error = ERROR_SUCCESS;
  return ZYT::ReadRegularFile(path, bytes, error, kMaxItemFile);
}

// The value of "key:" in an item document; empty when absent.
std::string DocumentValue(const std::string& document, const std::string& key) {
  std::string text;
  if (!ReadFile(document, text) || text.size() > 64 * 1024) return {};
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

// The target must be the empty file the filter made for the answer: the
// monitor never overwrites anything else.
bool IsEmptyTarget(const std::string& target) {
  struct stat st;
  return lstat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0;
}

bool WriteTarget(const std::string& target, const std::string& bytes) {
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out);
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
  if (!IsEmptyTarget(target)) return E_ACCESSDENIED;
  std::string source = DocumentValue(document, "message");
  std::string bytes;
  if (source.empty() || !ReadFile(source, bytes)) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  return WriteTarget(target, bytes) ? S_OK : HRESULT_FROM_WIN32(ERROR_CANTWRITE);
}

HRESULT ProducePimItem(const std::string& document, const std::string& target) {
  if (!IsEmptyTarget(target)) return E_ACCESSDENIED;
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
  if (reference.empty() || !ReadFile(reference, text)) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  std::string xml = PimItemXml(kind->second, text, uid);
  if (xml.empty()) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
  return WriteTarget(target, xml) ? S_OK : HRESULT_FROM_WIN32(ERROR_CANTWRITE);
}

}  // namespace ZytMonitor
