// Whether a directory exists, asked once per log entry by every filter
// object. The answer is what stat would say at that moment, but it is kept
// while an inotify watch on the directory's parent (and on each folder above
// it) has queued no event that concerns the path: the check is then one
// FIONREAD on the process's inotify descriptor instead of a path walk.
// Without inotify (no descriptor, the watch limit reached, more folders than
// the table holds), or while a component of the path is a symbolic link,
// every check is a stat. A file system mounted over the path later is not an
// inotify event and is not noticed.
#pragma once

#include <string>
#include <utility>

namespace ZYT {

class CDirectoryPresence {
 public:
  // The process-wide watch of posixPath, made at the first request for it
  // and kept for the process's life (a few dozen paths at most; later ones
  // are checked with stat).
  static CDirectoryPresence Of(const std::string& posixPath);

  // True when posixPath names a directory now (a link to one counts).
  bool Exists() const;

  struct Impl;

 private:
  CDirectoryPresence(std::string path, Impl* impl) : m_path(std::move(path)), m_impl(impl) {}
  std::string m_path;
  Impl* m_impl;  // null: every check is a stat
};

}  // namespace ZYT
