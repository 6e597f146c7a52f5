// MP3 and Ogg Vorbis files filtered through LoadIFilter in one process,
// beside TagLib (taglib_read) and libextractor (extract) reading the same
// corpus, in one run. Reported in files per second and as ratios.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/Corpus.h"
#include "bench/BenchSupport.h"
#include "platform/com/ComPtr.h"
#include "platform/indexer/FilterWalk.h"
#include "platform/indexer/LoadIFilter.h"
#include "platform/win32/RegistryStore.h"
#include "platform/win32/Strings.h"
#include "platform/win32/SysInfo.h"

namespace {

using Clock = std::chrono::steady_clock;

double Run(const std::string& command, size_t& files) {
  auto start = Clock::now();
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  char line[4096];
  size_t lines = 0;
  double reported = -1;
  while (std::fgets(line, sizeof line, pipe)) {
    ++lines;
    double seconds = 0;
    size_t count = 0;
    if (std::sscanf(line, "%zu %lf", &count, &seconds) == 2 && lines == 1) {
      files = count;
      reported = seconds;
    }
  }
  int status = pclose(pipe);
  double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  if (status != 0) return -1;
  return reported >= 0 ? reported : elapsed;
}

}  // namespace

int main(int argc, char** argv) {
  int count = argc > 1 ? std::atoi(argv[1]) : 200;
  int repetitions = argc > 2 ? std::atoi(argv[2]) : 5;
  BenchMachine machine("zytmedia");
  if (!machine.Ready()) return 1;
  const std::string& dir = machine.Dir();
  std::filesystem::create_directory(dir + "/corpus");
  if (!RegisterBuiltModule(ZYT_COMPONENTS_MODULE) || !RegisterBuiltModule(ZYT_FILTERS_MODULE)) {
    std::fprintf(stderr, "media_bench: cannot register the modules\n");
    return 1;
  }
  std::vector<CorpusFile> corpus = MakeCorpus(dir + "/corpus", count, 20261205);
  std::string list;
  for (const CorpusFile& f : corpus) list += " '" + f.path + "'";

  size_t filtered = 0, characters = 0;
  auto start = Clock::now();
  for (int r = 0; r < repetitions; ++r) {
    for (const CorpusFile& f : corpus) {
      ZYT::ComPtr<IFilter> filter;
      if (FAILED(LoadIFilter(ZYT::Utf8ToWide(f.path).c_str(), nullptr, filter.put_void()))) continue;
      ZYT::WalkResult walk = ZYT::WalkFilter(filter.get(), ZYT::WalkOptions());
      for (const auto& c : walk.chunks) characters += c.text.size();
      ++filtered;
    }
  }
  double ours = std::chrono::duration<double>(Clock::now() - start).count();
  double oursRate = filtered / ours;

  size_t taglibFiles = 0;
  double taglib = Run(std::string(ZYT_TAGLIB_READ) + " " + std::to_string(repetitions) + list, taglibFiles);
  size_t extractFiles = corpus.size();
  double extract = Run("extract" + list + " >/dev/null 2>&1; echo", extractFiles);

  std::printf("corpus: %d MP3 + %d Ogg Vorbis files, read %d times\n", count, count, repetitions);
  std::printf("%-40s %10.0f files/s  1.00\n", "zytFilters (LoadIFilter, every chunk)", oursRate);
  if (taglib > 0)
    std::printf("%-40s %10.0f files/s  zytFilters is %.2fx\n", "TagLib (tags only)", taglibFiles / taglib,
                oursRate / (taglibFiles / taglib));
  else
    std::printf("%-40s unavailable (install libtag1-dev)\n", "TagLib");
  if (extract > 0)
    std::printf("%-40s %10.0f files/s  zytFilters is %.2fx\n", "libextractor (extract, one process)",
                corpus.size() / extract, oursRate / (corpus.size() / extract));
  else
    std::printf("%-40s unavailable (install extract)\n", "libextractor");
  std::printf("(%zu characters of text per pass)\n", characters / (repetitions ? repetitions : 1));
  return 0;
}
