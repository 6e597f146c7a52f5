// The machine's filters say where a limit cut a file, in the product's filter
// log folder ("Debug.Filter" beside the repository's "Debug") while that folder
// exists, as the module's filters do. Stand-ins keep to the platform layer, so
// this is their own small log rather than the framework's.
#pragma once

#include <string>

// The repository folder the settings name ("/*/repository/user/@location"),
// empty when they name none. Each module that links the log defines it with
// the way to the settings that module has.
std::u16string CutLogRepository();

class CCutLog {
 public:
  // prefix: the start of the log file's name, as GetTempFileNameW takes it.
  explicit CCutLog(std::u16string prefix) : m_prefix(std::move(prefix)) {}
  // Appends one entry (UTF-8, ending with its line feed); a log that cannot be
  // written is not the filter's failure.
  void Write(const std::string& entry);

 private:
  std::u16string m_prefix;
  std::u16string m_file;  // made at the first entry
};
