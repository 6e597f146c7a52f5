// What the archive filter asks of a ZIP reader: open an archive, choose the
// folder to extract into, walk the entries in archive order extracting one at
// a time, report counts and sizes, and remove everything extracted at the end.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

class UnZipper {
 public:
  virtual ~UnZipper() = default;

  virtual bool setExtractPath(std::u16string folder) = 0;
  virtual bool openFile(std::u16string archivePath) = 0;
  // Extracts every entry at once; the archive filter does not use it.
  virtual bool extractAll() = 0;
  virtual bool isReady() = 0;
  // Removes the extract folder and everything in it, read-only, hidden and
  // system files included.
  virtual bool cleanUp() = 0;
  // The extract folder joined with the entry's (made safe) path, naming a
  // folder when the entry is one; empty when no entry is left or the entry
  // cannot be placed. Never throws.
  virtual std::u16string extractNextFile() = 0;
  virtual bool hasMoreFiles() = 0;
  virtual int32_t getFileCount() = 0;
  // Totals over the entries, clamped to 2147483647.
  virtual int32_t getUncompressedSize() = 0;
  virtual int32_t getCompressedSize() = 0;

  // Beyond the operations above, for the guards against hostile archives:
  // the entry last returned by extractNextFile was not written (encrypted,
  // an unsupported method, a link or device, over a size or ratio limit, or
  // the deadline passed while it was written): its name stands, its content
  // is not on disk.
  virtual bool lastEntryWithheld() const { return false; }
  // Why the last entry was withheld, for the log; empty when it was not.
  virtual std::u16string lastEntryNote() const { return {}; }
  // Writing stops when this time (seconds since 1970) has passed; 0 is no deadline.
  virtual void setDeadline(time_t) {}
};
