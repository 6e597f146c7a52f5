// Volumes and the process's error mode, with the Win32 signatures.
//
// The volume of a root path is the mount at that path (/proc/self/mountinfo):
// its label and serial number come from the file system on the mount's device
// (libblkid). A serial written "1A2B-3C4D" (FAT, ISO 9660 as Windows shows
// it) is 0x1A2B3C4D; a longer identifier gives its last eight hexadecimal
// digits (the low half of an NTFS serial). A root whose folder is not itself a
// mount point is an empty drive: ERROR_NOT_READY.
//
// A machine can declare a root's medium instead, for drives of the drive
// table whose files are a copy of a medium, and for tests: a key under
// HKLM\SOFTWARE\ZYT\Orrery\Volumes named after the root without its trailing
// separator ("D:", or a POSIX path with its "/" as written), with the values
// "VolumeName" (REG_SZ), "SerialNumber" (REG_DWORD) and optionally
// "FileSystem" (REG_SZ, "CDFS" when absent). A declared root still has to be
// an existing folder, or it is an empty drive too.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/WinError.h"
#include "platform/win32/WinTypes.h"

constexpr UINT SEM_FAILCRITICALERRORS = 0x0001;
constexpr UINT SEM_NOGPFAULTERRORBOX = 0x0002;
constexpr UINT SEM_NOALIGNMENTFAULTEXCEPT = 0x0004;
constexpr UINT SEM_NOOPENFILEERRORBOX = 0x8000;

// No dialog is ever shown here; the mode is kept, process-wide, so that code
// that sets and restores it around a call behaves as on Windows.
UINT SetErrorMode(UINT mode);
UINT GetErrorMode();

// A buffer too small for its answer fails with ERROR_INSUFFICIENT_BUFFER.
// Outputs that are null are not written.
BOOL GetVolumeInformationW(LPCWSTR rootPathName, LPWSTR volumeNameBuffer, DWORD volumeNameSize,
                           LPDWORD volumeSerialNumber, LPDWORD maximumComponentLength, LPDWORD fileSystemFlags,
                           LPWSTR fileSystemNameBuffer, DWORD fileSystemNameSize);

namespace ZYT {

inline constexpr WCHAR kVolumesKey[] = u"SOFTWARE\\ZYT\\Orrery\\Volumes";

struct MountEntry {
  std::string mountPoint;  // unescaped
  std::string source;      // the device, or what the file system names there
  std::string fileSystem;  // the kernel's type name ("iso9660", "vfat", ...)
  bool readOnly = false;
};

// The lines of /proc/self/mountinfo in order; malformed lines are skipped.
// Escapes "\ooo" in paths (\040 space, \011 tab, \012 line feed, \134
// backslash) are decoded.
std::vector<MountEntry> ParseMountInfo(std::string_view text);
// The mount that holds posixPath (absolute, canonical): the longest mount
// point that is the path or a folder above it; of equal ones the last
// listed, which lies on top. Null when none does.
const MountEntry* FindMount(const std::vector<MountEntry>& mounts, const std::string& posixPath);
// The serial number a file system identifier stands for; false when it has
// fewer than eight hexadecimal digits.
bool VolumeSerialFromId(std::string_view id, DWORD& serial);

struct ProbedVolume {
  std::string label;
  std::string id;  // libblkid's UUID of the file system
  std::string type;
};
// Reads the file system's label and identifier from a block device or an
// image file; false when it cannot be opened or holds no known file system.
bool ProbeVolume(const std::string& posixPath, ProbedVolume& volume, DWORD& error);

}  // namespace ZYT
