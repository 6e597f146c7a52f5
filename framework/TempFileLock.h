// The proxy filters' temporary files in the repository's "temp" folder, and
// how a dead process's leftovers are told from live files.
//
// A filter holds each of its temporary files locked (a shared flock on a
// descriptor kept open, close-on-exec) from creation until it deletes the
// file; a sweep removes a file only while it holds the exclusive lock. A host
// killed in between (for instance while it waits for the monitor) leaves the
// file behind unlocked; the next filter host and zyt-monitor at start-up
// remove such files. Only names the proxy filters make (their prefix, hex
// digits, ".tmp") are ever considered, and only regular files of this user.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ZYT {

class CTempFileLock {
 public:
  CTempFileLock() = default;
  ~CTempFileLock() { Release(); }
  CTempFileLock(CTempFileLock&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
  CTempFileLock& operator=(CTempFileLock&& other) noexcept;
  CTempFileLock(const CTempFileLock&) = delete;
  CTempFileLock& operator=(const CTempFileLock&) = delete;

  // Locks the file just made at path. False when it is no longer the file
  // that was made there (a sweep of another process took it), is not a
  // regular file, or someone else holds it: the caller then makes another.
  bool Lock(const std::u16string& path);
  void Release() noexcept;

 private:
  int m_fd = -1;
};

// A name getTempFile gives: "qhm", "pim", "htp" or "zyt", 1 to 4 hex digits, ".tmp".
bool IsProxyTempFileName(std::string_view name);

// Removes from folder the proxy filters' temporary files that no live
// process holds; leaves everything else alone. Returns how many it removed.
size_t SweepDeadTempFiles(const std::u16string& folder);

// The folder getTempFile uses: "temp" under the repository location of the
// settings; empty when the settings server does not answer.
std::u16string RepositoryTempFolder();

// SweepDeadTempFiles of folder, at most once per folder in this process.
void SweepDeadTempFilesOnce(const std::u16string& folder);

}  // namespace ZYT
