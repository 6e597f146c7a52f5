#pragma once

#include <string>

namespace ZYT {

// A temporary file this object owns: destroying or releasing it deletes the
// file, even one that another process still holds open (it then goes with
// that process's last handle).
class CAutoFile {
 public:
  CAutoFile() = default;
  explicit CAutoFile(std::u16string path) : m_path(std::move(path)) {}
  ~CAutoFile() { Release(); }
  CAutoFile(const CAutoFile&) = delete;
  CAutoFile& operator=(const CAutoFile&) = delete;

  const std::u16string& Path() const { return m_path; }
  // Deletes the owned file, if any, and takes ownership of another.
  void Reset(std::u16string path = {});
  // Deletes the file now and forgets it.
  void Release();
  // Gives the file up without deleting it.
  std::u16string Detach();

 private:
  std::u16string m_path;
};

}  // namespace ZYT
