// The settings document shared by every settings server object of a process.
#pragma once

#include <sys/stat.h>

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/win32/WinError.h"
#include "platform/xml/XmlDocument.h"

class CSettingsStore {
 public:
  static CSettingsStore& Instance();

  struct Answer {
    bool found = false;
    std::string text;  // an attribute's value, an element's XML
  };
  // HRESULT of a missing or broken settings file, E_INVALIDARG for an XPath
  // that selects no node set.
  HRESULT Query(const std::string& xpath, Answer& answer);
  HRESULT SetValue(const std::string& xpath, const std::string& value);
  HRESULT Document(std::string& xml);
  HRESULT Path(std::string& path);
  // The repository location joined with "temp", created when missing.
  HRESULT TempFolder(std::string& folder);

 private:
  // Loads the document when the file (or the file named) changed.
  HRESULT Refresh();
  HRESULT CreateFromTemplate(const std::string& path);

  std::mutex m_lock;
  std::string m_path;
  ZYT::XmlDocument m_document;
  struct timespec m_modified {};
  off_t m_size = -1;
  ino_t m_inode = 0;
  std::map<std::string, Answer> m_answers;  // valid for the loaded document
};
