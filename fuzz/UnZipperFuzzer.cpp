// libFuzzer target: the unzipper's open, walk and extract of an archive into
// a private folder. Every entry must land below the folder as a regular file
// or a folder (never a link), the member guards must hold, and clean-up must
// leave nothing.
#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "archive/LibzipUnZipper.h"
#include "platform/win32/Limits.h"
#include "platform/win32/PathMap.h"
#include "platform/win32/Strings.h"

// The platform library does not build with this compiler: the few calls the
// unzipper makes into it are stood in for here. Paths are POSIX already, and
// a byte per unit is enough for names to go there and back unchanged.
std::u16string ZYT::Utf8ToWide(std::string_view text) { return std::u16string(text.begin(), text.end()); }
std::string ZYT::WideToUtf8(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) out += static_cast<char>(c);
  return out;
}
bool ZYT::MapToPosixPath(std::u16string_view path, std::string& posix, DWORD&) {
  posix = WideToUtf8(path);
  return !posix.empty();
}
DWORD ZYT::GetLimit(LPCWSTR, DWORD) { __builtin_trap(); }

namespace {

// A char array, not a string: the exit handler below runs after static
// objects are destroyed.
char g_folder[4096];

void RemovePrivateFolder() {
  unlink((std::string(g_folder) + "/input.zip").c_str());
  rmdir(g_folder);
}

std::string PrivateFolder() {
  if (!g_folder[0]) {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/zyt-fuzz-unzip-XXXXXX";
    if (pattern.size() >= sizeof g_folder || !mkdtemp(pattern.data())) __builtin_trap();
    std::memcpy(g_folder, pattern.c_str(), pattern.size() + 1);
    atexit(RemovePrivateFolder);
  }
  return g_folder;
}

size_t Entries(const std::string& dir) {
  size_t n = 0;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.' || (e->d_name[1] && (e->d_name[1] != '.' || e->d_name[2]));
    closedir(d);
  }
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string folder = PrivateFolder();
  const std::string archive = folder + "/input.zip";
  const std::string extract = folder + "/arcF";
  if (FILE* f = fopen(archive.c_str(), "wb")) {
    if (size && fwrite(data, 1, size, f) != size) __builtin_trap();
    if (fclose(f) != 0) __builtin_trap();
  } else {
    __builtin_trap();
  }
  UnZipLimits limits;
  limits.maxMemberBytes = 1 << 20;
  limits.ratioFreeBytes = 64 << 10;
  limits.maxNameBytes = 256;
  {
    LibzipUnZipper unzipper(limits);
    if (!unzipper.setExtractPath(ZYT::Utf8ToWide(extract))) __builtin_trap();
    if (unzipper.openFile(ZYT::Utf8ToWide(archive))) {
      unzipper.getFileCount();
      unzipper.getUncompressedSize();
      unzipper.getCompressedSize();
      const std::u16string prefix = ZYT::Utf8ToWide(extract + "/");
      for (int i = 0; i < 4096 && unzipper.hasMoreFiles(); ++i) {
        std::u16string path = unzipper.extractNextFile();
        if (path.empty()) continue;
        if (path.compare(0, prefix.size(), prefix) != 0) __builtin_trap();
        if (path.find(u"/../") != std::u16string::npos || path.find(u'\\') != std::u16string::npos) __builtin_trap();
        struct stat st;
        if (lstat(ZYT::WideToUtf8(path).c_str(), &st) == 0) {
          if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) __builtin_trap();
          if (S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) > limits.maxMemberBytes) __builtin_trap();
          if (S_ISREG(st.st_mode)) unlink(ZYT::WideToUtf8(path).c_str());
        } else if (!unzipper.lastEntryWithheld() && path != prefix + u".") {
          // Written but gone: only an entry whose folder could not be made.
          __builtin_trap();
        }
      }
    }
    if (!unzipper.cleanUp()) __builtin_trap();
  }
  // Only the input may remain in the private folder.
  if (Entries(folder) != 1) __builtin_trap();
  return 0;
}
