// The unzipper over libzip. Every entry is written below the extract folder
// and nowhere else: names are made safe before anything is written, the
// folder is this user's alone (0700) and is walked through descriptors that
// never follow a link, and only regular files and folders are ever made.
//
// The extract folder is held with a shared flock from setExtractPath to
// cleanUp, so that SweepDeadExtractFolders in another process can tell a
// dead host's leftovers from a live filter's folder.
#pragma once

#include <zip.h>

#include <cstdint>
#include <memory>
#include <string>

#include "archive/UnZipper.h"

// The guards, read from the limits key by LibzipUnZipper's constructor.
struct UnZipLimits {
  uint64_t maxMemberBytes = 1ull << 30;
  uint64_t maxRatio = 100;
  uint64_t ratioFreeBytes = 1ull << 20;
  uint64_t maxNameBytes = 1024;
  static UnZipLimits FromRegistry();
};

class LibzipUnZipper : public UnZipper {
 public:
  LibzipUnZipper() : LibzipUnZipper(UnZipLimits::FromRegistry()) {}
  explicit LibzipUnZipper(const UnZipLimits& limits) : m_limits(limits) {}
  ~LibzipUnZipper() override;

  // Creates the folder (it must not exist yet) for this user only and locks it.
  bool setExtractPath(std::u16string folder) override;
  bool openFile(std::u16string archivePath) override;
  bool extractAll() override;
  bool isReady() override { return true; }
  bool cleanUp() override;
  std::u16string extractNextFile() override;
  bool hasMoreFiles() override;
  int32_t getFileCount() override;
  int32_t getUncompressedSize() override;
  int32_t getCompressedSize() override;

  bool lastEntryWithheld() const override { return m_withheld; }
  std::u16string lastEntryNote() const override { return m_note; }
  void setDeadline(time_t deadline) override { m_deadline = deadline; }

 private:
  struct ZipCloser {
    void operator()(zip_t* archive) const noexcept { zip_discard(archive); }
  };
  // Writes entry index below the folder; the relative path it took, empty
  // when the entry cannot be placed at all.
  std::string Extract(zip_uint64_t index);
  bool WriteContent(zip_uint64_t index, const zip_stat_t& st, int parentFd, const std::string& leaf);
  void Withhold(const char16_t* why);
  void CloseFolder() noexcept;

  UnZipLimits m_limits;
  std::u16string m_extractPath;
  std::string m_extractPosix;
  int m_folderFd = -1;
  std::u16string m_archivePath;
  std::unique_ptr<zip_t, ZipCloser> m_archive;
  zip_uint64_t m_next = 0;
  zip_uint64_t m_entries = 0;
  time_t m_deadline = 0;
  bool m_withheld = false;
  std::u16string m_note;
};

// The path an entry name takes below the extract folder, "/"-separated:
// "..", "." and empty components dropped, a drive or absolute prefix lost,
// "\" a separator, NUL, control characters and the characters Windows
// refuses in names replaced by "_", each component at most 255 bytes and the
// whole at most maxBytes (cut on a character boundary). Empty when nothing
// is left. A trailing separator (a folder) is not kept.
std::string SafeEntryPath(std::string_view name, size_t maxBytes);

// Removes the extract folders ("arc" and hex digits, this user's, under
// folder) that no live process holds, and the empty "arc....tmp" files that
// reserved their names. Returns how many it removed.
size_t SweepDeadExtractFolders(const std::u16string& folder);
// The same, at most once per folder in this process.
void SweepDeadExtractFoldersOnce(const std::u16string& folder);
