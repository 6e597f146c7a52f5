// ZIP archives through the archive filter (LoadIFilter, every member
// extracted, filtered and deleted) beside "unzip -p" and "bsdtar -xOf"
// writing the members to /dev/null. One run: archives per second of each,
// the filter's rate as a share of unzip's, and the most the extract folders
// held at once.
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#include <zip.h>

#include "archive/LibzipUnZipper.h"
#include "bench/BenchSupport.h"
#include "platform/com/ComPtr.h"
#include "platform/indexer/FilterWalk.h"
#include "platform/indexer/LoadIFilter.h"
#include "platform/win32/Registry.h"
#include "platform/win32/Strings.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

const char* const kWords[] = {"budget", "meeting", "draft", "review", "plan", "note", "agenda", "summary", "orbit",
                              "catalog", "index", "member", "archive", "search", "query", "result"};

std::string Words(std::mt19937& rng, size_t bytes, bool html) {
  std::ostringstream text;
  if (html) text << "<html><head><title>page</title></head><body>";
  while (static_cast<size_t>(text.tellp()) < bytes) {
    if (html) text << "<p>";
    for (int w = 0; w < 12; ++w) text << kWords[rng() % 16] << ' ';
    text << (html ? "</p>\n" : "\n");
  }
  if (html) text << "</body></html>\n";
  return text.str();
}

// An archive of text and HTML members whose total is near bytes.
bool MakeArchive(const std::string& path, std::mt19937& rng, size_t bytes) {
  int error = 0;
  zip_t* zip = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (!zip) return false;
  std::vector<std::string> contents;
  size_t members = 1 + bytes / (256 << 10), i = 0;
  for (; i < members; ++i) {
    const bool html = i % 2;
    contents.push_back(Words(rng, bytes / members, html));
    zip_source_t* source = zip_source_buffer(zip, contents.back().data(), contents.back().size(), 0);
    std::string name = (i % 3 == 2 ? "docs/" : "") + std::string("member") + std::to_string(i) + (html ? ".html" : ".txt");
    if (!source || zip_file_add(zip, name.c_str(), source, ZIP_FL_ENC_UTF_8) < 0) {
      zip_source_free(source);
      zip_discard(zip);
      return false;
    }
  }
  return zip_close(zip) == 0;
}

// Seconds a tool takes over every archive, its standard output to /dev/null.
double RunTool(const std::vector<std::string>& command, const std::vector<std::string>& archives, bool& ok) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  ok = true;
  auto start = Clock::now();
  for (const std::string& archive : archives) {
    std::vector<std::string> argv = command;
    argv.push_back(archive);
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    pid_t pid = 0;
    int status = 0;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0 || waitpid(pid, &status, 0) < 0 ||
        !WIFEXITED(status) || WEXITSTATUS(status) != 0)
      ok = false;
  }
  double seconds = Seconds(start);
  posix_spawn_file_actions_destroy(&actions);
  return seconds;
}

uint64_t FolderBytes(const std::string& dir) {
  uint64_t total = 0;
  std::unique_ptr<DIR, int (*)(DIR*)> d(opendir(dir.c_str()), closedir);
  if (!d) return 0;
  while (dirent* e = readdir(d.get())) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st;
    if (lstat((dir + "/" + name).c_str(), &st) != 0) continue;
    total += S_ISDIR(st.st_mode) ? FolderBytes(dir + "/" + name) : static_cast<uint64_t>(st.st_size);
  }
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 60;
  // "filter": only the archive filter's side, for a profiler.
  const bool filterOnly = argc > 2 && std::string(argv[2]) == "filter";
  BenchMachine machine("zytzip");
  if (!machine.Ready()) return 1;
  const std::string& dir = machine.Dir();
  const std::string tmp = dir + "/tmp";
  mkdir(tmp.c_str(), 0700);
  setenv("TMPDIR", tmp.c_str(), 1);
  std::ofstream(dir + "/settings.xml") << "<settings><repository><user location=\"" << dir
                                       << "/repo\"/></repository></settings>";
  if (!RegisterBuiltModule(ZYT_COMPONENTS_MODULE) || !RegisterBuiltModule(ZYT_FILTERS_MODULE)) {
    std::fprintf(stderr, "zip_bench: cannot register the modules\n");
    return 1;
  }
  HKEY key = nullptr;
  DWORD timeout = 3600000;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Control\\ContentIndex", 0, nullptr, 0,
                      KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS ||
      RegSetValueExW(key, u"FilterIdleTimeout", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&timeout),
                     sizeof timeout) != ERROR_SUCCESS)
    return 1;
  RegCloseKey(key);

  // 10 KB to 5 MB, spread evenly on a log scale.
  std::mt19937 rng(1405);
  std::vector<std::string> archives;
  uint64_t total = 0;
  for (int i = 0; i < count; ++i) {
    const size_t bytes = static_cast<size_t>(10e3 * std::pow(500.0, count > 1 ? double(i) / (count - 1) : 0.0));
    std::string path = dir + "/a" + std::to_string(i) + ".zip";
    if (!MakeArchive(path, rng, bytes)) {
      std::fprintf(stderr, "zip_bench: cannot write %s\n", path.c_str());
      return 1;
    }
    total += bytes;
    archives.push_back(path);
  }

  // The filter's pass is timed alone; a second pass, untimed, watches the
  // temporary folder, whose walk every 200 us would take a share of the cores.
  auto filterAll = [&] {
    size_t n = 0;
    for (const std::string& archive : archives) {
      ZYT::ComPtr<IFilter> filter;
      if (FAILED(LoadIFilter(ZYT::Utf8ToWide(archive).c_str(), nullptr, filter.put_void()))) continue;
      ZYT::WalkOptions options;
      options.bufferSize = 4096;
      n += ZYT::WalkFilter(filter.get(), options).chunks.size();
    }
    return n;
  };
  auto start = Clock::now();
  const size_t chunks = filterAll();
  const double filtered = Seconds(start);
  if (filterOnly) {
    std::printf("%-40s %8.1f archives/s  %6.1f MB/s  (%zu chunks)\n", "CArchiveFilter through LoadIFilter",
                count / filtered, total / 1e6 / filtered, chunks);
    return 0;
  }
  std::atomic<bool> stop{false};
  uint64_t peak = 0;
  std::thread watch([&] {
    while (!stop) {
      peak = std::max(peak, FolderBytes(tmp));
      usleep(200);
    }
  });
  filterAll();
  stop = true;
  watch.join();

  // The unzipper alone: every member written and deleted, nothing filtered.
  start = Clock::now();
  for (const std::string& archive : archives) {
    LibzipUnZipper unzipper;
    if (!unzipper.setExtractPath(ZYT::Utf8ToWide(tmp + "/arcB")) || !unzipper.openFile(ZYT::Utf8ToWide(archive)))
      return 1;
    while (unzipper.hasMoreFiles()) {
      std::string member = ZYT::WideToUtf8(unzipper.extractNextFile());
      struct stat st;
      if (lstat(member.c_str(), &st) == 0 && S_ISREG(st.st_mode)) unlink(member.c_str());
    }
    unzipper.cleanUp();
  }
  const double extracted = Seconds(start);

  bool unzipOk = false, bsdtarOk = false;
  const double unzip = RunTool({"unzip", "-p"}, archives, unzipOk);
  const double bsdtar = RunTool({"bsdtar", "-xOf"}, archives, bsdtarOk);

  std::printf("%d archives, %.1f MB of members in all (10 KB to 5 MB each)\n", count, total / 1e6);
  const double mb = total / 1e6;
  std::printf("%-40s %8.1f archives/s  %6.1f MB/s  (%zu chunks)\n", "CArchiveFilter through LoadIFilter",
              count / filtered, mb / filtered, chunks);
  std::printf("%-40s %8.1f archives/s  %6.1f MB/s  (members written and deleted, not filtered)\n",
              "LibzipUnZipper alone", count / extracted, mb / extracted);
  if (unzipOk)
    std::printf("%-40s %8.1f archives/s  %6.1f MB/s  the filter reaches %.2f of it\n", "unzip -p > /dev/null",
                count / unzip, mb / unzip, unzip / filtered);
  else
    std::printf("%-40s not run (is unzip installed?)\n", "unzip -p > /dev/null");
  if (bsdtarOk)
    std::printf("%-40s %8.1f archives/s  %6.1f MB/s  the filter reaches %.2f of it\n", "bsdtar -xOf > /dev/null",
                count / bsdtar, mb / bsdtar, bsdtar / filtered);
  else
    std::printf("%-40s not run (is bsdtar installed? libarchive-tools)\n", "bsdtar -xOf > /dev/null");
  std::printf("%-40s %8.2f MB\n", "peak size of the extract folders", peak / 1e6);
  return 0;
}
